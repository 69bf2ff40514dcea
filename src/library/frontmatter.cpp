#include "library/frontmatter.h"

#include "foundation/dates.h"
#include "foundation/text.h"

#include <QSet>
#include <QStringView>

namespace library::PostFrontmatter {
namespace {

// One line of a text cut at LF: [start, end) without the LF; next is where
// the following line starts, or -1 after the last line.
struct Line {
    qsizetype start = 0;
    qsizetype end = 0;
    qsizetype next = -1;
};

// Walks a text line by line without copying it: a 1 MB body costs only the
// lines actually looked at.
class LineCursor {
public:
    explicit LineCursor(const QString &text) : m_text(text) {}

    // The line starting at pos (pos <= size).
    Line lineAt(qsizetype pos) const
    {
        const qsizetype nl = m_text.indexOf(u'\n', pos);
        if (nl < 0)
            return {pos, m_text.size(), -1};
        return {pos, nl, nl + 1};
    }

    QStringView view(const Line &line) const { return QStringView(m_text).sliced(line.start, line.end - line.start); }

private:
    const QString &m_text;
};

// Trimming white space and line ends drops a CR before the LF as well, so a
// file saved with CR LF keeps its front matter.
bool isBlankLine(QStringView line)
{
    return line.trimmed().isEmpty();
}
bool isDelimiter(QStringView line)
{
    return line.trimmed() == u"---";
}

// Where the front matter lies in a text.
struct Located {
    bool opened = false; // the first non-blank line is a delimiter
    bool closed = false; // and a closing delimiter follows
    Line open;
    Line close;
};

Located locate(const QString &text)
{
    Located result;
    const LineCursor cursor(text);
    qsizetype pos = 0;
    for (;;) {
        const Line line = cursor.lineAt(pos);
        const QStringView v = cursor.view(line);
        if (!isBlankLine(v)) {
            if (!isDelimiter(v))
                return result;
            result.opened = true;
            result.open = line;
            break;
        }
        if (line.next < 0)
            return result;
        pos = line.next;
    }
    pos = result.open.next;
    while (pos >= 0) {
        const Line line = cursor.lineAt(pos);
        if (isDelimiter(cursor.view(line))) {
            result.closed = true;
            result.close = line;
            return result;
        }
        pos = line.next;
    }
    return result;
}

QString trimmedQuotes(const QString &value)
{
    qsizetype from = 0;
    qsizetype to = value.size();
    const auto isQuote = [](QChar c) { return c == u'"' || c == u'\''; };
    while (from < to && isQuote(value[from]))
        ++from;
    while (to > from && isQuote(value[to - 1]))
        --to;
    return value.sliced(from, to - from);
}

// A block line as both the parser and the rewrite read it: trimmed of white
// space and line ends, the key is what comes before the first colon (trimmed
// of spaces), the rest follows it. None for a line without a colon.
struct Entry {
    QString key;
    QStringView rest;
};

std::optional<Entry> entryOf(QStringView line)
{
    const QStringView trimmed = line.trimmed();
    const qsizetype colon = trimmed.indexOf(u':');
    if (colon < 0)
        return std::nullopt;
    return Entry{foundation::text::trimSpaces(trimmed.first(colon).toString()), trimmed.sliced(colon + 1)};
}

FrontmatterPairs onePerLine(const FrontmatterPairs &pairs)
{
    FrontmatterPairs out = pairs;
    for (auto &[key, value] : out) {
        key = foundation::text::onOneLine(key);
        value = foundation::text::onOneLine(value);
    }
    return out;
}

bool isTitleTrimmed(QChar c)
{
    return c == u'#' || c == u'\t' || c.category() == QChar::Separator_Space;
}

} // namespace

Frontmatter parseFrontmatter(const QString &text)
{
    Frontmatter result;
    const Located where = locate(text);
    if (!where.opened)
        return result;
    const LineCursor cursor(text);
    // Without a closing delimiter the walk runs to the end of the text.
    for (qsizetype pos = where.open.next; pos >= 0;) {
        const Line line = cursor.lineAt(pos);
        pos = line.next;
        if (where.closed && line.start == where.close.start)
            break;
        const auto entry = entryOf(cursor.view(line));
        if (!entry)
            continue;
        result.insert(entry->key, trimmedQuotes(foundation::text::trimSpaces(entry->rest.toString())));
    }
    return result;
}

Flags frontmatterFlags(const Frontmatter &frontmatter)
{
    Flags flags;
    flags.type = Post::ContentType::fromRawValue(frontmatter.value(kTypeKey)).value_or(Post::ContentType::post);
    flags.passState =
        Post::PassState::fromRawValue(frontmatter.value(kPassStateKey)).value_or(Post::PassState::firstDraft);
    flags.origin = Post::Origin::fromRawValue(frontmatter.value(kOriginKey)).value_or(Post::Origin::writer);
    return flags;
}

Split splitFrontmatter(const QString &text)
{
    const Located where = locate(text);
    if (!where.closed)
        return {QString(), text};
    if (where.close.next < 0) {
        // The text ends on the closing delimiter: the block still ends with LF.
        return {text.sliced(where.open.start) + u'\n', QString()};
    }
    return {text.sliced(where.open.start, where.close.next - where.open.start), text.sliced(where.close.next)};
}

Split splitFrontmatter(QString &&text)
{
    const Located where = locate(text);
    if (!where.closed)
        return {QString(), std::move(text)};
    if (where.close.next < 0) {
        text.remove(0, where.open.start);
        text.append(u'\n');
        return {std::move(text), QString()};
    }
    QString block = text.sliced(where.open.start, where.close.next - where.open.start);
    text.remove(0, where.close.next);
    return {std::move(block), std::move(text)};
}

FrontmatterPairs defaultFrontmatter(Post::ContentType type, Post::PassState passState, Post::Origin origin)
{
    return {{kTypeKey, type.rawValue()}, {kPassStateKey, passState.rawValue()}, {kOriginKey, origin.rawValue()}};
}

QString frontmatterBlock(const FrontmatterPairs &pairs)
{
    QStringList lines;
    for (const auto &[key, value] : pairs)
        lines.append(foundation::text::onOneLine(key) + QStringLiteral(": ") + foundation::text::onOneLine(value));
    return QStringLiteral("---\n") + lines.join(u'\n') + QStringLiteral("\n---\n");
}

QString rewriteFrontmatter(const QString &text, const FrontmatterPairs &givenPairs)
{
    const Located where = locate(text);
    if (!where.closed)
        return frontmatterBlock(givenPairs) + text;

    const FrontmatterPairs pairs = onePerLine(givenPairs);

    const QString prefix = text.first(where.open.start);
    QStringList lines = text.sliced(where.open.start, where.close.end - where.open.start).split(u'\n');

    QHash<QString, QString> values;
    for (const auto &[key, value] : pairs)
        values.insert(key, value);
    QSet<QString> seen;
    for (QString &line : lines) {
        // Delimiters and blank lines have no colon.
        const auto entry = entryOf(line);
        if (!entry)
            continue;
        const auto it = values.constFind(entry->key);
        if (it == values.constEnd())
            continue;
        line = it.key() + QStringLiteral(": ") + it.value();
        seen.insert(it.key());
    }

    QStringList missing;
    for (const auto &[key, value] : pairs) {
        if (!seen.contains(key))
            missing.append(key + QStringLiteral(": ") + value);
    }
    // The slice ends on the closing delimiter's line.
    const qsizetype closing = lines.size() - 1;
    for (qsizetype i = 0; i < missing.size(); ++i)
        lines.insert(closing + i, missing[i]);

    QString result;
    const QString body = where.close.next < 0 ? QString() : text.sliced(where.close.next);
    result.reserve(prefix.size() + where.close.end - where.open.start + 64 * missing.size() + 1 + body.size());
    result += prefix;
    result += lines.join(u'\n');
    result += u'\n';
    result += body;
    return result;
}

bool isUntouchedWriterDraft(const Frontmatter &frontmatter)
{
    const Flags flags = frontmatterFlags(frontmatter);
    return flags.type == Post::ContentType::post && flags.passState == Post::PassState::firstDraft
           && flags.origin == Post::Origin::writer;
}

bool isWriterPost(const Frontmatter &frontmatter)
{
    const Flags flags = frontmatterFlags(frontmatter);
    return flags.type == Post::ContentType::post && flags.origin == Post::Origin::writer;
}

QString stampNewPost(const QString &text, Post::Origin origin)
{
    return rewriteFrontmatter(text, defaultFrontmatter(Post::ContentType::post, Post::PassState::firstDraft, origin));
}

std::optional<Post::FirstDraftStats> readFirstDraftStats(const Frontmatter &frontmatter)
{
    const auto captured = frontmatter.constFind(kStatsCapturedKey);
    if (captured == frontmatter.constEnd())
        return std::nullopt;
    const auto date = parseStatsDate(captured.value());
    if (!date)
        return std::nullopt;
    const auto number = [&](const QString &key) -> std::optional<double> {
        const auto it = frontmatter.constFind(key);
        if (it == frontmatter.constEnd())
            return std::nullopt;
        return foundation::text::parseDouble(it.value());
    };
    const auto burstiness = number(kStatsBurstinessKey);
    const auto typeTokenRatio = number(kStatsTypeTokenRatioKey);
    const auto sentenceVariation = number(kStatsSentenceVariationKey);
    const auto trigramRepetition = number(kStatsTrigramRepetitionKey);
    if (!burstiness || !typeTokenRatio || !sentenceVariation || !trigramRepetition)
        return std::nullopt;
    Post::FirstDraftStats result;
    result.captured = *date;
    result.stats.burstiness = *burstiness;
    result.stats.typeTokenRatio = *typeTokenRatio;
    result.stats.sentenceVariation = *sentenceVariation;
    result.stats.trigramRepetition = *trigramRepetition;
    return result;
}

std::optional<QDateTime> parseStatsDate(const QString &text)
{
    return foundation::dates::parseLocalStamp(text, kStatsDatePattern);
}

QString formatStatsDate(const QDateTime &when)
{
    return foundation::dates::localStamp(when, kStatsDatePattern);
}

QString deriveTitle(const QString &text)
{
    const QString untitled = QStringLiteral("untitled");
    const Located where = locate(text);
    qsizetype pos = 0;
    if (where.opened) {
        if (!where.closed || where.close.next < 0)
            return untitled;
        pos = where.close.next;
    }
    const LineCursor cursor(text);
    while (pos >= 0) {
        const Line line = cursor.lineAt(pos);
        pos = line.next;
        QStringView v = cursor.view(line).trimmed();
        if (v.isEmpty())
            continue;
        while (!v.isEmpty() && isTitleTrimmed(v.front()))
            v = v.sliced(1);
        while (!v.isEmpty() && isTitleTrimmed(v.back()))
            v.chop(1);
        return v.isEmpty() ? untitled : v.toString();
    }
    return untitled;
}

} // namespace library::PostFrontmatter
