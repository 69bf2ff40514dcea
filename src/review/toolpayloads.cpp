#include "toolpayloads.h"

#include "foundation/text.h"

#include <QStringList>
#include <cmath>

namespace review {

using foundation::JSONValue;
using Card = FixCardStore::StoredFixCard;

namespace {

[[noreturn]] void refuse(const QString &message)
{
    throw FixCardStore::CardError(message);
}

// Null counts as absent everywhere in the strict decoders.
bool isAbsent(const std::optional<JSONValue> &value)
{
    return !value || value->isNull();
}

QString requiredText(const JSONValue &object, const QString &key, const QString &message)
{
    const std::optional<JSONValue> value = object.member(key);
    if (!value || !value->isString())
        refuse(message);
    return value->toString();
}

// Text that is still there after trimming white space and line breaks.
std::optional<QString> nonBlankText(const JSONValue &object, const QString &key)
{
    const std::optional<JSONValue> value = object.member(key);
    if (!value || !value->isString() || foundation::text::isBlank(value->toString()))
        return std::nullopt;
    return value->toString();
}

// A text member, none when missing or of another kind.
std::optional<QString> textMember(const JSONValue &object, const QString &key)
{
    const std::optional<JSONValue> value = object.member(key);
    if (!value || !value->isString())
        return std::nullopt;
    return value->toString();
}

// The piece path and the non-empty array under arrayKey, as both strict
// submissions start.
JSONValue::Array submissionArray(const JSONValue &arguments, const QString &arrayKey, QString *piecePath)
{
    if (!arguments.isObject())
        refuse(QStringLiteral("arguments must be an object"));
    *piecePath = requiredText(arguments, QStringLiteral("piece_path"), QStringLiteral("piece_path is required"));
    const std::optional<JSONValue> array = arguments.member(arrayKey);
    if (!array || !array->isArray())
        refuse(arrayKey + QStringLiteral(" is required"));
    if (array->toArray().isEmpty())
        refuse(arrayKey + QStringLiteral(" must not be empty"));
    return array->toArray();
}

// Snake case to camel case: inner underscores go and the letter after each
// is capitalised; leading and trailing underscores stay. Nothing else changes
// case, so a key without inner underscores is kept as it is.
QString camelFromSnake(const QString &key)
{
    qsizetype first = 0;
    while (first < key.size() && key[first] == u'_')
        ++first;
    if (first == key.size())
        return key;
    qsizetype last = key.size() - 1;
    while (last > first && key[last] == u'_')
        --last;
    const QStringList words = key.mid(first, last - first + 1).split(u'_', Qt::SkipEmptyParts);
    if (words.size() == 1)
        return key;
    QString joined = words.first();
    for (qsizetype i = 1; i < words.size(); ++i)
        joined += words[i].left(1).toUpper() + words[i].mid(1);
    return key.left(first) + joined + key.mid(last + 1);
}

} // namespace

LearningsArgs LearningsArgs::decode(const QJsonObject &arguments)
{
    for (auto it = arguments.constBegin(); it != arguments.constEnd(); ++it) {
        if (camelFromSnake(it.key()) != QLatin1String("piecePath"))
            continue;
        if (!it.value().isString())
            throw DecodingError(QStringLiteral("key piece_path is not a string"));
        return LearningsArgs{it.value().toString()};
    }
    throw DecodingError(QStringLiteral("missing key: piece_path"));
}

namespace ToolPayloads {

std::optional<QString> optionalText(const std::optional<JSONValue> &value, const QString &label)
{
    if (isAbsent(value))
        return std::nullopt;
    if (!value->isString())
        refuse(label + QStringLiteral(" must be a string"));
    return value->toString();
}

std::optional<qint64> optionalInteger(const std::optional<JSONValue> &value, const QString &label)
{
    if (isAbsent(value))
        return std::nullopt;
    const std::optional<qint64> integer = value->wholeInteger();
    if (!integer)
        refuse(label + QStringLiteral(" must be an integer"));
    return integer;
}

Card::Anchor decodeAnchor(const std::optional<JSONValue> &value)
{
    if (!value || !value->isObject())
        refuse(QStringLiteral("card anchor must be an object"));
    Card::Anchor anchor;
    anchor.quote = requiredText(*value, QStringLiteral("quote"), QStringLiteral("card anchor quote is required"));
    anchor.occurrence =
        optionalInteger(value->member(QStringLiteral("occurrence")), QStringLiteral("card anchor occurrence"))
            .value_or(1);
    anchor.context = optionalText(value->member(QStringLiteral("context")), QStringLiteral("card anchor context"));
    return anchor;
}

std::optional<Card::Provenance> decodeProvenance(const std::optional<JSONValue> &value)
{
    if (isAbsent(value))
        return std::nullopt;
    if (!value->isObject())
        refuse(QStringLiteral("card provenance must be an object"));
    Card::Provenance provenance;
    provenance.piece =
        requiredText(*value, QStringLiteral("piece"), QStringLiteral("card provenance piece is required"));
    provenance.date = optionalText(value->member(QStringLiteral("date")), QStringLiteral("card provenance date"));
    provenance.engine = optionalText(value->member(QStringLiteral("engine")), QStringLiteral("card provenance engine"));
    provenance.pass = optionalInteger(value->member(QStringLiteral("pass")), QStringLiteral("card provenance pass"));
    return provenance;
}

FixCardStore::Input decodeCard(const JSONValue &card)
{
    FixCardStore::Input input;
    input.pattern = requiredText(card, QStringLiteral("pattern"), QStringLiteral("card pattern is required"));
    input.problem = requiredText(card, QStringLiteral("problem"), QStringLiteral("card problem is required"));

    const std::optional<Card::Lane> lane =
        Card::Lane::fromRawValue(textMember(card, QStringLiteral("lane")).value_or(QString()));
    if (!lane)
        refuse(QStringLiteral("card lane must be mechanical or demonstration"));
    input.lane = *lane;
    const std::optional<Card::Emitter> emitter =
        Card::Emitter::fromRawValue(textMember(card, QStringLiteral("emitter")).value_or(QString()));
    if (!emitter)
        refuse(QStringLiteral("card emitter must be lint or engine"));
    input.emitter = *emitter;

    input.diagnosticQuestion =
        optionalText(card.member(QStringLiteral("diagnostic_question")), QStringLiteral("card diagnostic_question"));
    input.fix = optionalText(card.member(QStringLiteral("fix")), QStringLiteral("card fix"));
    input.anchor = decodeAnchor(card.member(QStringLiteral("anchor")));
    input.provenance = decodeProvenance(card.member(QStringLiteral("provenance")));
    return input;
}

FixCardSubmission decodeFixCardSubmission(const JSONValue &arguments)
{
    FixCardSubmission submission;
    const JSONValue::Array cards = submissionArray(arguments, QStringLiteral("cards"), &submission.piecePath);
    submission.inputs.reserve(cards.size());
    for (const JSONValue &card : cards) {
        if (!card.isObject())
            refuse(QStringLiteral("each card must be an object"));
        submission.inputs.append(decodeCard(card));
    }
    return submission;
}

qint64 decodeResearchNoteSubmission(const JSONValue &arguments)
{
    QString piecePath;
    const JSONValue::Array notes = submissionArray(arguments, QStringLiteral("notes"), &piecePath);
    for (const JSONValue &note : notes) {
        if (!note.isObject())
            refuse(QStringLiteral("each note must be an object"));
        if (!nonBlankText(note, QStringLiteral("title")))
            refuse(QStringLiteral("note title must not be empty"));
        if (!nonBlankText(note, QStringLiteral("url")))
            refuse(QStringLiteral("note url must not be empty"));
        optionalText(note.member(QStringLiteral("quote")), QStringLiteral("note quote"));
        optionalText(note.member(QStringLiteral("note")), QStringLiteral("note note"));
    }
    return notes.size();
}

QList<ResearchCandidate> transcriptResearchCandidates(const JSONValue &input)
{
    if (!input.isObject() || input.toObject().isEmpty())
        return {};
    const std::optional<QString> piecePath = textMember(input, QStringLiteral("piece_path"));
    const std::optional<JSONValue> notes = input.member(QStringLiteral("notes"));
    if (!piecePath || !notes || !notes->isArray() || notes->toArray().isEmpty())
        return {};

    QList<ResearchCandidate> candidates;
    for (const JSONValue &note : notes->toArray()) {
        if (!note.isObject())
            return {};
        const std::optional<QString> title = nonBlankText(note, QStringLiteral("title"));
        const std::optional<QString> url = nonBlankText(note, QStringLiteral("url"));
        if (!title || !url)
            return {};
        ResearchCandidate candidate;
        candidate.piecePath = *piecePath;
        candidate.title = *title;
        candidate.url = *url;
        candidate.quote = textMember(note, QStringLiteral("quote")).value_or(QString());
        candidate.note = textMember(note, QStringLiteral("note")).value_or(QString());
        candidates.append(candidate);
    }
    return candidates;
}

std::optional<FixCard> transcriptFixCard(const JSONValue &input)
{
    if (!input.isObject())
        return std::nullopt;
    JSONValue card = input;
    const std::optional<JSONValue> cards = input.member(QStringLiteral("cards"));
    if (cards && cards->isArray() && !cards->toArray().isEmpty() && cards->toArray().first().isObject())
        card = cards->toArray().first();

    const std::optional<QString> pattern = textMember(card, QStringLiteral("pattern"));
    const std::optional<QString> problem = textMember(card, QStringLiteral("problem"));
    if (!pattern || !problem)
        return std::nullopt;

    FixCard shown;
    shown.pattern = *pattern;
    shown.problem = *problem;
    shown.diagnosticQuestion =
        textMember(card, QStringLiteral("diagnosticQuestion"))
            .value_or(textMember(card, QStringLiteral("diagnostic_question")).value_or(QString()));
    shown.fix = textMember(card, QStringLiteral("fix")).value_or(QString());
    if (const std::optional<QString> anchor = textMember(card, QStringLiteral("anchor")))
        shown.anchor = *anchor;
    else if (const std::optional<JSONValue> anchorObject = card.member(QStringLiteral("anchor")))
        shown.anchor = textMember(*anchorObject, QStringLiteral("quote")).value_or(QString());
    shown.provenance = textMember(card, QStringLiteral("provenance")).value_or(QStringLiteral("engine"));
    shown.status = textMember(card, QStringLiteral("status")).value_or(QStringLiteral("proposed"));
    return shown;
}

} // namespace ToolPayloads
} // namespace review
