#include "review/fixcardstore.h"

#include "foundation/dates.h"
#include "foundation/fs.h"
#include "foundation/json.h"
#include "foundation/text.h"
#include "library/poststore.h"
#include "review/sidefiles.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTimeZone>

#include <unistd.h>

namespace review::FixCardStore {

using namespace Qt::StringLiterals;

void checkSideFileSize(const QByteArray &bytes, const QString &kind, const QString &name)
{
    // The readers take a file of exactly the cap.
    if (bytes.size() > kSideFileCap)
        throw CardError(kind + u" file too large: "_s + name);
}

// --- Encoding ----------------------------------------------------------------------

namespace {

QJsonObject encodeObject(const StoredFixCard &card)
{
    QJsonObject anchor{{u"quote"_s, card.anchor.quote}, {u"occurrence"_s, card.anchor.occurrence}};
    if (card.anchor.context)
        anchor.insert(u"context"_s, *card.anchor.context);

    QJsonObject o;
    o.insert(u"id"_s, detail::uuidText(card.id));
    o.insert(u"submitted_at"_s, foundation::dates::utcStamp(card.submittedAt));
    if (card.rank)
        o.insert(u"rank"_s, *card.rank);
    o.insert(u"pattern"_s, card.pattern);
    o.insert(u"problem"_s, card.problem);
    o.insert(u"diagnostic_question"_s, card.diagnosticQuestion);
    o.insert(u"fix"_s, card.fix);
    o.insert(u"anchor"_s, anchor);
    o.insert(u"lane"_s, card.lane.rawValue());
    o.insert(u"emitter"_s, card.emitter.rawValue());
    if (card.provenance) {
        QJsonObject p{{u"piece"_s, card.provenance->piece}};
        if (card.provenance->date)
            p.insert(u"date"_s, *card.provenance->date);
        if (card.provenance->engine)
            p.insert(u"engine"_s, *card.provenance->engine);
        if (card.provenance->pass)
            p.insert(u"pass"_s, *card.provenance->pass);
        o.insert(u"provenance"_s, p);
    }
    o.insert(u"status"_s, card.status.rawValue());
    o.insert(u"anchor_status"_s, card.anchorStatus.rawValue());
    if (card.promotedAt)
        o.insert(u"promoted_at"_s, foundation::dates::utcStamp(*card.promotedAt));
    return o;
}

} // namespace

QByteArray encodeCard(const StoredFixCard &card)
{
    return foundation::json::withEscapedSlashes(foundation::json::compact(encodeObject(card)));
}

// --- Decoding ----------------------------------------------------------------------

namespace {

// A member under its snake_case key, or under the field's own spelling.
QJsonValue member(const QJsonObject &o, QLatin1StringView snake, QLatin1StringView camel = {})
{
    const auto it = o.constFind(snake);
    if (it != o.constEnd())
        return *it;
    if (!camel.isEmpty()) {
        const auto c = o.constFind(camel);
        if (c != o.constEnd())
            return *c;
    }
    return QJsonValue(QJsonValue::Undefined);
}

bool absent(const QJsonValue &v)
{
    return v.isUndefined() || v.isNull();
}

// Internet date-time, whole seconds, "Z" or a numeric offset.
std::optional<QDateTime> parseDate(const QJsonValue &v)
{
    if (!v.isString())
        return std::nullopt;
    const QString text = v.toString();
    if (text.endsWith(u'Z'))
        return foundation::dates::parseUtcStamp(text);
    static const QRegularExpression shape(
        QStringLiteral(R"(^(\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2})([+-])(\d{2}):(\d{2})$)"));
    const auto m = shape.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    const int hours = m.captured(3).toInt();
    const int minutes = m.captured(4).toInt();
    if (hours > 23 || minutes > 59)
        return std::nullopt;
    const auto utc = foundation::dates::parseUtcStamp(m.captured(1) + u'Z');
    if (!utc)
        return std::nullopt;
    const int offset = (hours * 3600 + minutes * 60) * (m.captured(2) == u"-" ? -1 : 1);
    const QDateTime moment = utc->addSecs(-offset);
    // Written back in UTC, a year outside 1–9999 would not read again.
    const int year = moment.date().year();
    if (year < 1 || year > 9999)
        return std::nullopt;
    return moment;
}

std::optional<QUuid> parseUuid(const QJsonValue &v)
{
    if (!v.isString())
        return std::nullopt;
    static const QRegularExpression shape(
        QStringLiteral("^[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}$"));
    const QString text = v.toString();
    if (!shape.match(text).hasMatch())
        return std::nullopt;
    return QUuid::fromString(text);
}

// Required text: present and a string.
bool readText(const QJsonValue &v, QString &out)
{
    if (!v.isString())
        return false;
    out = v.toString();
    return true;
}

// Optional text: absent or null is none; any other non-string is an error.
bool readOptionalText(const QJsonValue &v, std::optional<QString> &out)
{
    if (absent(v))
        return true;
    if (!v.isString())
        return false;
    out = v.toString();
    return true;
}

bool readOptionalInteger(const QJsonValue &v, std::optional<qint64> &out)
{
    if (absent(v))
        return true;
    out = foundation::json::wholeInteger(v);
    return out.has_value();
}

template<typename E>
bool readEnum(const QJsonValue &v, std::optional<E> (*fromRawFn)(const QString &), E &out)
{
    if (!v.isString())
        return false;
    const auto value = fromRawFn(v.toString());
    if (!value)
        return false;
    out = *value;
    return true;
}

std::optional<StoredFixCard> decodeObject(const QJsonObject &o)
{
    StoredFixCard card;

    const auto id = parseUuid(member(o, "id"_L1));
    const auto submitted = parseDate(member(o, "submitted_at"_L1, "submittedAt"_L1));
    if (!id || !submitted)
        return std::nullopt;
    card.id = *id;
    card.submittedAt = *submitted;

    if (!readOptionalInteger(member(o, "rank"_L1), card.rank))
        return std::nullopt;
    if (!readText(member(o, "pattern"_L1), card.pattern) || !readText(member(o, "problem"_L1), card.problem)
        || !readText(member(o, "diagnostic_question"_L1, "diagnosticQuestion"_L1), card.diagnosticQuestion)
        || !readText(member(o, "fix"_L1), card.fix))
        return std::nullopt;

    const QJsonValue anchor = member(o, "anchor"_L1);
    if (!anchor.isObject())
        return std::nullopt;
    const QJsonObject a = anchor.toObject();
    if (!readText(member(a, "quote"_L1), card.anchor.quote))
        return std::nullopt;
    std::optional<qint64> occurrence;
    if (!readOptionalInteger(member(a, "occurrence"_L1), occurrence)
        || !readOptionalText(member(a, "context"_L1), card.anchor.context))
        return std::nullopt;
    card.anchor.occurrence = occurrence.value_or(1);

    if (!readEnum(member(o, "lane"_L1), &StoredFixCard::Lane::fromRawValue, card.lane)
        || !readEnum(member(o, "emitter"_L1), &StoredFixCard::Emitter::fromRawValue, card.emitter)
        || !readEnum(member(o, "status"_L1), &StoredFixCard::Status::fromRawValue, card.status)
        || !readEnum(member(o, "anchor_status"_L1, "anchorStatus"_L1), &StoredFixCard::AnchorStatus::fromRawValue,
                     card.anchorStatus))
        return std::nullopt;

    const QJsonValue provenance = member(o, "provenance"_L1);
    if (!absent(provenance)) {
        if (!provenance.isObject())
            return std::nullopt;
        const QJsonObject p = provenance.toObject();
        StoredFixCard::Provenance prov;
        if (!readText(member(p, "piece"_L1), prov.piece) || !readOptionalText(member(p, "date"_L1), prov.date)
            || !readOptionalText(member(p, "engine"_L1), prov.engine)
            || !readOptionalInteger(member(p, "pass"_L1), prov.pass))
            return std::nullopt;
        card.provenance = prov;
    }

    const QJsonValue promoted = member(o, "promoted_at"_L1, "promotedAt"_L1);
    if (!absent(promoted)) {
        card.promotedAt = parseDate(promoted);
        if (!card.promotedAt)
            return std::nullopt;
    }
    return card;
}

} // namespace

std::optional<StoredFixCard> decodeCard(const QByteArray &bytes)
{
    const std::optional<QJsonObject> parsed = foundation::json::parseObject(bytes);
    if (!parsed)
        return std::nullopt;
    return decodeObject(*parsed);
}

// --- Pieces --------------------------------------------------------------------------

QString resolvePiece(const QString &path)
{
    const auto notAPiece = [&path]() {
        return CardError(QStringLiteral("not a piece (expected <projects|archive>/…/post.md): ") + path);
    };
    // Only an absolute path of the exact piece shape: a relative path or a
    // dot component could name anything outside a Home.
    if (!path.startsWith(u'/'))
        throw notAPiece();
    QStringList parts = path.split(u'/', Qt::SkipEmptyParts);
    if (parts.contains(u".."_s) || parts.contains(u"."_s))
        throw notAPiece();
    QString clean = u'/' + parts.join(u'/');

    if (!foundation::fs::existsNoFollow(clean))
        throw CardError(QStringLiteral("piece not found: ") + path);
    if (foundation::fs::isDirectoryNoFollow(clean)) {
        clean += u"/post.md"_s;
        parts.append(u"post.md"_s);
    }
    const qsizetype n = parts.size();
    if (n < 4 || parts[n - 1] != u"post.md" || (parts[n - 4] != u"projects" && parts[n - 4] != u"archive"))
        throw notAPiece();

    // post.md must be a plain file, and none of the piece folder, the project
    // folder or the root folder may be a link that leads out of the Home.
    if (!foundation::fs::isRegularFileNoFollow(clean))
        throw notAPiece();
    QString folder = clean;
    for (int level = 0; level < 3; ++level) {
        folder.truncate(folder.lastIndexOf(u'/'));
        if (!foundation::fs::isDirectoryNoFollow(folder))
            throw notAPiece();
    }
    if (::access(QFile::encodeName(clean).constData(), R_OK) != 0)
        throw notAPiece();
    return clean;
}

QString homeOfPost(const QString &postPath)
{
    QString home = postPath;
    for (int level = 0; level < 4; ++level)
        home.truncate(home.lastIndexOf(u'/'));
    return home.isEmpty() ? u"/"_s : home;
}

// --- Anchors and validation ---------------------------------------------------------

StoredFixCard::AnchorStatus checkAnchor(const QString &text, const QString &quote, qint64 occurrence)
{
    if (quote.isEmpty() || occurrence < 1)
        return StoredFixCard::AnchorStatus::stale;
    const qsizetype count = foundation::text::findAllQuotes(text, quote).size();
    return count >= occurrence ? StoredFixCard::AnchorStatus::valid : StoredFixCard::AnchorStatus::stale;
}

StoredFixCard validatedCard(const Input &input, const QString &text, qint64 rank, const QDateTime &now)
{
    if (input.pattern.trimmed().isEmpty())
        throw CardError(QStringLiteral("card pattern must not be empty"));
    if (input.problem.trimmed().isEmpty())
        throw CardError(QStringLiteral("card problem must not be empty"));
    if (input.anchor.quote.isEmpty())
        throw CardError(QStringLiteral("card anchor quote must not be empty"));
    if (input.anchor.occurrence < 1)
        throw CardError(QStringLiteral("card anchor occurrence must be ≥ 1"));

    StoredFixCard card;
    card.id = QUuid::createUuid();
    card.submittedAt = now;
    card.rank = rank;
    card.pattern = input.pattern;
    card.problem = input.problem;
    card.diagnosticQuestion = input.diagnosticQuestion.value_or(QString());
    card.fix = input.fix.value_or(QString());
    card.anchor = input.anchor;
    card.lane = input.lane;
    card.emitter = input.emitter;
    card.provenance = input.provenance;
    card.status = StoredFixCard::Status::open;
    card.anchorStatus = checkAnchor(text, input.anchor.quote, input.anchor.occurrence);
    return card;
}

QString dateString(const QDateTime &date, const QString &pattern)
{
    return foundation::dates::localStamp(date, pattern);
}

QString uniqueFileName(const QString &folder, const QString &base, const QString &extension)
{
    return foundation::fs::firstFreeName(folder, base, extension);
}

QString fileBase(const QString &prefix, const QString &pattern, const QString &extension)
{
    const QString head = prefix + u'-';
    const QString fitted = foundation::fs::fitFileBase(head + library::PostStore::slug(pattern), extension);
    return fitted.size() > head.size() ? fitted : head + u"untitled"_s;
}

// --- Writing -------------------------------------------------------------------------

QList<CardFile> write(const QString &piecePath, const QList<Input> &inputs)
{
    return write(piecePath, inputs, QDateTime::currentDateTimeUtc());
}

QList<CardFile> write(const QString &piecePath, const QList<Input> &inputs, const QDateTime &now)
{
    const QString post = resolvePiece(piecePath);
    const QString text = foundation::fs::readUtf8File(post);

    const QString stamp = dateString(now, QStringLiteral("yyyyMMdd-HHmmss"));
    QList<StoredFixCard> cards;
    QList<QByteArray> encoded;
    const qsizetype kept = qMin<qsizetype>(inputs.size(), kMaxCardsPerCall);
    for (qsizetype i = 0; i < kept; ++i) {
        cards.append(validatedCard(inputs[i], text, i + 1, now));
        encoded.append(encodeCard(cards.back()));
        checkSideFileSize(encoded.back(), u"card"_s, fileBase(stamp, cards.back().pattern, u"json"_s) + u".json"_s);
    }

    const QString cardsFolder = post.left(post.lastIndexOf(u'/')) + u"/cards"_s;
    if (foundation::fs::isSymLink(cardsFolder))
        throw CardError(QStringLiteral("cards path is a symlink: ") + cardsFolder);
    foundation::fs::makeFolder(cardsFolder);

    QList<CardFile> written;
    for (qsizetype i = 0; i < cards.size(); ++i) {
        const StoredFixCard &card = cards[i];
        const QString base = fileBase(stamp, card.pattern, u"json"_s);
        try {
            // Create-only: a card of another writer in the same second keeps
            // its name and this one moves on to the next "-N".
            const QString name = foundation::fs::writeUnique(cardsFolder, base, u"json"_s, encoded[i]);
            written.append({name, card});
        } catch (const foundation::fs::FileError &error) {
            QString message = QStringLiteral("card write failed: ") + error.message();
            if (!written.isEmpty()) {
                QStringList names;
                for (const CardFile &w : written)
                    names.append(w.fileName);
                message += QStringLiteral(" — already written: ") + names.join(u", "_s);
            }
            throw CardError(message);
        }
    }
    return written;
}

} // namespace review::FixCardStore
