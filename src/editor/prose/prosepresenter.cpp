#include "editor/prose/prosepresenter.h"

#include "foundation/text.h"

#include <map>
#include <vector>

namespace editor::ProsePresenter {

namespace {

using foundation::text::isLineEnd;

// Each caller keeps the result in a function-local static: built once,
// thread-safe.
QRegularExpression compiled(const char *pattern)
{
    QRegularExpression re(QString::fromLatin1(pattern), QRegularExpression::UseUnicodePropertiesOption);
    re.optimize();
    return re;
}

bool isSpaceOrTab(QChar c)
{
    return c == u' ' || c == u'\t';
}

qsizetype leadingBlanks(QStringView text)
{
    qsizetype i = 0;
    while (i < text.size() && isSpaceOrTab(text[i]))
        ++i;
    return i;
}

// The line containing position, its line end included: a position between CR
// and LF belongs to the CR's line.
std::pair<qsizetype, qsizetype> lineBounds(const QString &text, qsizetype position)
{
    const qsizetype size = text.size();
    qsizetype start = std::clamp<qsizetype>(position, 0, size);
    if (start > 0 && start < size && text[start] == u'\n' && text[start - 1] == u'\r')
        --start;
    while (start > 0 && !isLineEnd(text[start - 1].unicode()))
        --start;
    qsizetype end = start;
    while (end < size && !isLineEnd(text[end].unicode()))
        ++end;
    if (end < size)
        end += (text[end] == u'\r' && end + 1 < size && text[end + 1] == u'\n') ? 2 : 1;
    return {start, end};
}

Line makeLine(const QString &text, qsizetype start, qsizetype end)
{
    qsizetype contentEnd = end;
    while (contentEnd > start && (text[contentEnd - 1] == u'\n' || text[contentEnd - 1] == u'\r'))
        --contentEnd;
    return Line{start, end - start, contentEnd - start, QStringView(text).mid(start, contentEnd - start)};
}

// The first c (or LF) at or after a position, remembering the last answer so
// that repeated searches over one stretch stay linear.
class NextOf {
public:
    NextOf(QStringView text, QChar c) : m_text(text), m_c(c) {}
    qsizetype find(qsizetype from)
    {
        if (from >= m_from && from <= m_at)
            return m_at;
        qsizetype i = from;
        while (i < m_text.size() && m_text[i] != m_c && m_text[i] != u'\n')
            ++i;
        m_from = from;
        m_at = i;
        return i;
    }

private:
    QStringView m_text;
    QChar m_c;
    qsizetype m_from = -1;
    qsizetype m_at = -1;
};

using Matches = QList<std::pair<qsizetype, qsizetype>>;

// "D[^D\n]+?D" for one delimiter character.
Matches delimited(QStringView text, QChar d)
{
    Matches out;
    NextOf next(text, d);
    qsizetype pos = 0;
    const qsizetype n = text.size();
    while (pos < n) {
        const qsizetype i = next.find(pos);
        if (i >= n)
            break;
        if (text[i] == u'\n') {
            pos = i + 1;
            continue;
        }
        const qsizetype j = next.find(i + 1);
        if (j >= n)
            break;
        if (text[j] == u'\n') {
            pos = j + 1;
        } else if (j == i + 1) {
            pos = j;
        } else {
            out.append({i, j + 1});
            pos = j + 1;
        }
    }
    return out;
}

// "\*\*[^*\n]+?\*\*"
Matches boldMatches(QStringView text)
{
    Matches out;
    NextOf next(text, u'*');
    const qsizetype n = text.size();
    qsizetype pos = 0;
    while (pos + 1 < n) {
        const qsizetype i = next.find(pos);
        if (i + 1 >= n)
            break;
        if (text[i] == u'\n' || text[i + 1] != u'*') {
            pos = i + 1;
            continue;
        }
        const qsizetype j = next.find(i + 2);
        if (j + 1 >= n)
            break;
        if (j > i + 2 && text[j] == u'*' && text[j + 1] == u'*') {
            out.append({i, j + 2});
            pos = j + 2;
        } else {
            pos = i + 1;
        }
    }
    return out;
}

// "\[[^\]\n]*\]\([^)\n]*\)"
Matches linkMatches(QStringView text)
{
    Matches out;
    NextOf open(text, u'[');
    NextOf close(text, u']');
    NextOf paren(text, u')');
    const qsizetype n = text.size();
    qsizetype pos = 0;
    while (pos < n) {
        const qsizetype i = open.find(pos);
        if (i >= n)
            break;
        if (text[i] == u'\n') {
            pos = i + 1;
            continue;
        }
        const qsizetype j = close.find(i + 1);
        if (j >= n)
            break;
        // Every "[" before j reaches this same "]", so all of them fail alike.
        if (text[j] == u'\n' || j + 1 >= n || text[j + 1] != u'(') {
            pos = j + 1;
            continue;
        }
        const qsizetype k = paren.find(j + 2);
        if (k < n && text[k] == u')') {
            out.append({i, k + 1});
            pos = k + 1;
        } else {
            pos = j + 1;
        }
    }
    return out;
}

enum class Set { marker, listMarker, inlineCode, link, bold, italic };

Look baseLook(LineKind kind, bool lead)
{
    if (lead)
        return {Face::lead, Ink::text};
    switch (kind) {
    case LineKind::heading1: return {Face::heading};
    case LineKind::heading2: return {Face::subheading};
    case LineKind::heading3: return {Face::heading3};
    case LineKind::heading4: return {Face::heading4};
    case LineKind::quote: return {Face::body, Ink::quote};
    case LineKind::fence: return {Face::mono, Ink::markerGrey, true};
    case LineKind::code: return {Face::mono, Ink::text, true};
    case LineKind::blank: return {Face::blankLine};
    case LineKind::list:
    case LineKind::rule:
    case LineKind::body: break;
    }
    return {Face::body, Ink::text};
}

// Looks of one line, one per UTF-16 unit, while its sets are laid over it.
class LineLooks {
public:
    LineLooks(qsizetype size, Look base) : m_looks(size_t(size), base) {}

    void add(Set set, qsizetype from, qsizetype to)
    {
        to = std::min<qsizetype>(to, qsizetype(m_looks.size()));
        for (qsizetype i = std::max<qsizetype>(from, 0); i < to; ++i) {
            Look &look = m_looks[size_t(i)];
            switch (set) {
            case Set::marker:
                look.face = Face::mono;
                look.ink = Ink::markerGrey;
                break;
            case Set::listMarker:
                look.face = Face::listMarker;
                look.ink = Ink::listMarkerGrey;
                break;
            case Set::inlineCode:
                look.face = Face::mono;
                look.ink = Ink::text;
                break;
            case Set::link: look.link = true; break;
            case Set::bold: look.face = Face::bold; break;
            case Set::italic: look.face = Face::italic; break;
            }
        }
    }

    QList<Run> runs(qsizetype offset) const
    {
        QList<Run> out;
        for (size_t i = 0; i < m_looks.size(); ++i) {
            if (!out.isEmpty() && out.last().look == m_looks[i])
                ++out.last().length;
            else
                out.append(Run{offset + qsizetype(i), 1, m_looks[i]});
        }
        return out;
    }

private:
    std::vector<Look> m_looks;
};

// Spans taken by the inline passes of one line, kept sorted; claims never
// overlap each other.
class Claims {
public:
    bool overlaps(qsizetype s, qsizetype e) const
    {
        if (s >= e)
            return false;
        auto it = m_spans.lower_bound(e);
        if (it == m_spans.begin())
            return false;
        --it;
        return it->second > s && it->first < it->second;
    }
    void claim(qsizetype s, qsizetype e) { m_spans.emplace(s, e); }
    const std::map<qsizetype, qsizetype> &spans() const { return m_spans; }

private:
    std::map<qsizetype, qsizetype> m_spans;
};

// A character beside a span, none at the text's ends or on a surrogate.
std::optional<QChar> beside(QStringView text, qsizetype i)
{
    if (i < 0 || i >= text.size() || text[i].isSurrogate())
        return std::nullopt;
    return text[i];
}

void italicPass(QStringView text, InlinePattern pattern, Claims &claims, LineLooks &looks)
{
    const bool underscore = pattern == InlinePattern::italicUnderscore;
    for (const auto &[s, e] : inlineMatches(pattern, text)) {
        if (claims.overlaps(s, e))
            continue;
        claims.claim(s, e);
        bool rejected = false;
        for (const std::optional<QChar> c : {beside(text, s - 1), beside(text, e)}) {
            if (!c)
                continue;
            if (*c == u'*' || *c == u'_' || (underscore && c->isLetterOrNumber()))
                rejected = true;
        }
        if (rejected)
            continue;
        looks.add(Set::marker, s, s + 1);
        looks.add(Set::marker, e - 1, e);
        looks.add(Set::italic, s + 1, e - 1);
    }
}

void inlineStyling(QStringView text, LineLooks &looks)
{
    Claims claims;
    for (const auto &[s, e] : inlineMatches(InlinePattern::inlineCode, text)) {
        if (claims.overlaps(s, e))
            continue;
        claims.claim(s, e);
        looks.add(Set::marker, s, s + 1);
        looks.add(Set::marker, e - 1, e);
        looks.add(Set::inlineCode, s + 1, e - 1);
    }
    for (const auto &[s, e] : inlineMatches(InlinePattern::link, text)) {
        if (claims.overlaps(s, e))
            continue;
        claims.claim(s, e);
        const qsizetype p = text.mid(s, e - s).indexOf(u"](") + s;
        looks.add(Set::marker, s, s + 1);
        looks.add(Set::link, s + 1, p);
        looks.add(Set::marker, p, e);
    }
    for (const auto &[s, e] : inlineMatches(InlinePattern::bold, text)) {
        if (claims.overlaps(s, e))
            continue;
        claims.claim(s, e);
        looks.add(Set::marker, s, s + 2);
        looks.add(Set::marker, e - 2, e);
        looks.add(Set::bold, s + 2, e - 2);
    }
    italicPass(text, InlinePattern::italicStar, claims, looks);
    italicPass(text, InlinePattern::italicUnderscore, claims, looks);

    // Punctuation no span claimed; the claims are walked alongside.
    const auto &spans = claims.spans();
    auto next = spans.begin();
    for (qsizetype i = 0; i < text.size(); ++i) {
        while (next != spans.end() && next->second <= i)
            ++next;
        if (next != spans.end() && next->first <= i)
            continue;
        const QChar c = text[i];
        if (!c.isSurrogate() && isMarkerCharacter(c))
            looks.add(Set::marker, i, i + 1);
    }
}

} // namespace

std::optional<Look> StyledLine::lookAt(qsizetype offset) const
{
    for (const Run &run : runs) {
        if (offset >= run.start && offset < run.start + run.length)
            return run.look;
    }
    return std::nullopt;
}

const QRegularExpression &boldPattern()
{
    static const QRegularExpression p = compiled(R"(\*\*[^*\n]+?\*\*)");
    return p;
}
const QRegularExpression &italicStarPattern()
{
    static const QRegularExpression p = compiled(R"(\*[^*\n]+?\*)");
    return p;
}
const QRegularExpression &italicUnderscorePattern()
{
    static const QRegularExpression p = compiled(R"(_[^_\n]+?_)");
    return p;
}
const QRegularExpression &inlineCodePattern()
{
    static const QRegularExpression p = compiled(R"(`[^`\n]+?`)");
    return p;
}
const QRegularExpression &linkPattern()
{
    static const QRegularExpression p = compiled(R"(\[[^\]\n]*\]\([^)\n]*\))");
    return p;
}
const QRegularExpression &listMarkerPattern()
{
    static const QRegularExpression p = compiled(R"(^\s*(?:[-*+]|\d{1,9}[.)])(?:\s+|$))");
    return p;
}
const QRegularExpression &quotePrefixPattern()
{
    static const QRegularExpression p = compiled(R"(^(?:\s*>(?:\s|$))*)");
    return p;
}

bool isMarkerCharacter(QChar c)
{
    switch (c.unicode()) {
    case u'*':
    case u'_':
    case u'`':
    case u'[':
    case u']':
    case u'(':
    case u')':
    case u'!':
    case u'<':
    case u'>': return true;
    default: return false;
    }
}

QList<std::pair<qsizetype, qsizetype>> inlineMatches(InlinePattern pattern, QStringView text)
{
    switch (pattern) {
    case InlinePattern::bold: return boldMatches(text);
    case InlinePattern::italicStar: return delimited(text, u'*');
    case InlinePattern::italicUnderscore: return delimited(text, u'_');
    case InlinePattern::inlineCode: return delimited(text, u'`');
    case InlinePattern::link: return linkMatches(text);
    }
    return {};
}

std::optional<int> headingLevel(QStringView rest)
{
    qsizetype hashes = 0;
    while (hashes < rest.size() && rest[hashes] == u'#')
        ++hashes;
    if (hashes < 1 || hashes > 6)
        return std::nullopt;
    if (hashes < rest.size() && rest[hashes] != u' ')
        return std::nullopt;
    return int(hashes);
}

bool isRuleLine(QStringView rest)
{
    for (QChar c : rest) {
        if (c != u'*' && c != u'-' && c != u'_' && c != u' ')
            return false;
    }
    return true;
}

LineKind classifyLine(QStringView text, bool insideFence)
{
    const QStringView rest = text.mid(leadingBlanks(text));
    if (rest.isEmpty())
        return LineKind::blank;
    if (rest.startsWith(u"```") || rest.startsWith(u"~~~"))
        return LineKind::fence;
    if (insideFence)
        return LineKind::code;
    if (const auto level = headingLevel(rest)) {
        static constexpr LineKind byLevel[] = {LineKind::heading1, LineKind::heading2, LineKind::heading3,
                                               LineKind::heading4, LineKind::heading4, LineKind::heading4};
        return byLevel[*level - 1];
    }
    if (rest.startsWith(u'>'))
        return LineKind::quote;
    if (isRuleLine(rest))
        return LineKind::rule;
    if (listMarkerPattern().match(text).hasMatch())
        return LineKind::list;
    return LineKind::body;
}

QList<Line> lineSplit(const QString &text, qsizetype location, qsizetype length)
{
    QList<Line> lines;
    auto [start, end] = lineBounds(text, location);
    lines.append(makeLine(text, start, end));
    while (end < text.size() && end < location + length) {
        const qsizetype next = end;
        end = lineBounds(text, next).second;
        lines.append(makeLine(text, next, end));
    }
    return lines;
}

bool fenceStateBefore(const QString &text, qsizetype location)
{
    const qsizetype upTo = std::min(text.size(), location);
    if (upTo <= 0)
        return false;
    bool inside = false;
    for (const Line &line : lineSplit(text, 0, upTo)) {
        if (classifyLine(line.text, inside) == LineKind::fence)
            inside = !inside;
    }
    return inside;
}

int fenceLineCount(QStringView text)
{
    int count = 0;
    for (QStringView piece : text.tokenize(u'\n')) {
        const QStringView rest = piece.mid(leadingBlanks(piece));
        if (rest.startsWith(u"```") || rest.startsWith(u"~~~"))
            ++count;
    }
    return count;
}

std::optional<qsizetype> firstContentLineRange(const QString &text)
{
    qsizetype position = 0;
    while (position < text.size()) {
        const auto [start, end] = lineBounds(text, position);
        if (!makeLine(text, start, end).text.trimmed().isEmpty())
            return start;
        position = end;
    }
    return std::nullopt;
}

std::optional<std::pair<qsizetype, qsizetype>> firstMatchRange(const QRegularExpression &pattern, QStringView text)
{
    const QRegularExpressionMatch m = pattern.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    return std::pair{m.capturedStart(), m.capturedEnd()};
}

StyledLine applyLine(const Line &line, LineKind kind, bool isLead)
{
    StyledLine out;
    out.line = line;
    out.kind = kind;
    out.lead = isLead;
    if (line.fullLength < 1)
        return out;
    LineLooks looks(line.fullLength, baseLook(kind, isLead));
    const QStringView text = line.text;
    const qsizetype contentLength = line.contentLength;
    bool inline_ = false;
    switch (kind) {
    case LineKind::heading1:
    case LineKind::heading2:
    case LineKind::heading3:
    case LineKind::heading4: {
        const qsizetype w = leadingBlanks(text);
        qsizetype h = 0;
        while (w + h < text.size() && text[w + h] == u'#')
            ++h;
        const qsizetype length = std::min(contentLength - w, h + 1);
        if (length >= 1)
            looks.add(Set::marker, w, w + length);
        break;
    }
    case LineKind::quote:
        if (const auto m = firstMatchRange(quotePrefixPattern(), text); m && m->second > m->first)
            looks.add(Set::marker, m->first, std::min(m->second, contentLength));
        inline_ = true;
        break;
    case LineKind::list:
        if (const auto m = firstMatchRange(listMarkerPattern(), text); m && m->second > m->first) {
            looks.add(Set::listMarker, m->first, std::min(m->second, contentLength));
            out.markerPrefixEnd = m->second;
        }
        inline_ = true;
        break;
    case LineKind::rule: looks.add(Set::marker, 0, contentLength); break;
    case LineKind::body: inline_ = true; break;
    case LineKind::fence:
    case LineKind::code:
    case LineKind::blank: break;
    }
    if (inline_ && contentLength > 0)
        inlineStyling(text, looks);
    out.runs = looks.runs(line.start);
    return out;
}

QList<StyledLine> style(const QString &text, qsizetype location, qsizetype length)
{
    QList<StyledLine> out;
    if (length < 1 || location < 0 || location >= text.size())
        return out;
    bool inside = false;
    if (location > 0 && (text.contains(u"```") || text.contains(u"~~~")))
        inside = fenceStateBefore(text, location);
    const std::optional<qsizetype> lead = firstContentLineRange(text);
    for (const Line &line : lineSplit(text, location, length)) {
        const LineKind kind = classifyLine(line.text, inside);
        out.append(applyLine(line, kind, lead && *lead == line.start && kind == LineKind::body));
        if (kind == LineKind::fence)
            inside = !inside;
    }
    return out;
}

StyledBlock styleBlock(const QString &blockText, BlockState before)
{
    StyledBlock out{{}, before};
    if (blockText.isEmpty()) {
        // An empty block is a blank line: no looks to set, state unchanged.
        out.lines.append(applyLine(Line{}, LineKind::blank, false));
        return out;
    }
    for (const Line &line : lineSplit(blockText, 0, blockText.size())) {
        const LineKind kind = classifyLine(line.text, out.after.insideFence);
        const bool content = !line.text.trimmed().isEmpty();
        const bool lead = content && !out.after.contentSeen && kind == LineKind::body;
        out.lines.append(applyLine(line, kind, lead));
        out.after.contentSeen = out.after.contentSeen || content;
        if (kind == LineKind::fence)
            out.after.insideFence = !out.after.insideFence;
    }
    return out;
}

} // namespace editor::ProsePresenter
