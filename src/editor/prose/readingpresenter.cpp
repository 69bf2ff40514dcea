#include "editor/prose/readingpresenter.h"

#include <QCoreApplication>
#include <QCoro/QCoroProcess>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLoggingCategory>
#include <QPointer>
#include <QProcess>
#include <QRegularExpression>

#include <csignal>
#include <optional>
#include <string_view>
#include <sys/prctl.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(readingLog, "com.quendalstudio.Pennora.reading")

using namespace Qt::Literals::StringLiterals;

namespace editor::ReadingPresenter {

namespace {

bool isBlankLine(QStringView line)
{
    for (QChar c : line) {
        if (c != u' ' && c != u'\t' && c != u'\r')
            return false;
    }
    return true;
}

// ---- the renderer's block structure ----------------------------------------
//
// Markers may go only where the bundled renderer (md4c 0.4.8, Debian 12's)
// ends every open block anyway, so this follows its line analysis rule for
// rule, its own quirks included (an indented code block cannot follow a raw
// HTML line; a fence may open indented after a paragraph line; "<pre" opens
// raw HTML whatever follows; a closing fence at a list's margin closes the
// fence and the list). Not followed: md4c drops a paragraph made only of link
// reference definitions, which can leave a list item empty for its rule that
// an item begins with at most one blank line.

// One line as md4c sees it: its text without the line break, and whether
// anything follows in the document. md4c's bounds checks look at most one
// character past a line's end, which is the line break when there is one.
class LineView {
public:
    LineView(QStringView text, bool followed) : m_text(text), m_size(text.size() + (followed ? 1 : 0)) {}

    qsizetype end() const { return m_text.size(); }
    qsizetype size() const { return m_size; }
    char16_t at(qsizetype i) const
    {
        if (i < m_text.size())
            return m_text[i].unicode();
        return i < m_size ? u'\n' : u'\0';
    }
    bool isBlank(qsizetype i) const { return at(i) == u' ' || at(i) == u'\t'; }
    bool isWhitespace(qsizetype i) const { return isBlank(i) || at(i) == u'\v' || at(i) == u'\f'; }
    bool isNewline(qsizetype i) const { return at(i) == u'\n' || at(i) == u'\r'; }
    bool isUpper(qsizetype i) const { return at(i) >= u'A' && at(i) <= u'Z'; }
    bool isAlpha(qsizetype i) const { return isUpper(i) || (at(i) >= u'a' && at(i) <= u'z'); }
    bool isDigit(qsizetype i) const { return at(i) >= u'0' && at(i) <= u'9'; }
    bool isAlnum(qsizetype i) const { return isAlpha(i) || isDigit(i); }
    bool isAnyOf(qsizetype i, std::u16string_view set) const
    {
        return at(i) != u'\0' && set.find(at(i)) != std::u16string_view::npos;
    }
    // The characters from i equal what, ASCII case ignored; none past the line.
    bool matchesCaseless(qsizetype i, QLatin1StringView what) const
    {
        return i + what.size() <= m_text.size()
               && m_text.sliced(i, what.size()).compare(what, Qt::CaseInsensitive) == 0;
    }
    bool matches(qsizetype i, QLatin1StringView what) const
    {
        return i + what.size() <= m_text.size() && m_text.sliced(i, what.size()) == what;
    }

private:
    QStringView m_text;
    qsizetype m_size;
};

// Columns of blanks from off, a tab reaching the next multiple of four counted
// from the line's start (total columns already consumed).
int indentation(const LineView &line, int total, qsizetype &off)
{
    int indent = total;
    while (off < line.size() && line.isBlank(off)) {
        indent = line.at(off) == u'\t' ? (indent + 4) & ~3 : indent + 1;
        ++off;
    }
    return indent - total;
}

constexpr int kCodeIndent = 4;

bool isRuleLine(const LineView &line, qsizetype beg)
{
    qsizetype off = beg + 1;
    int count = 1;
    while (off < line.size() && (line.at(off) == line.at(beg) || line.isBlank(off))) {
        if (line.at(off) == line.at(beg))
            ++count;
        ++off;
    }
    return count >= 3 && !(off < line.size() && !line.isNewline(off));
}

bool isAtxHeading(const LineView &line, qsizetype beg)
{
    qsizetype off = beg + 1;
    while (off < line.size() && line.at(off) == u'#' && off - beg < 7)
        ++off;
    if (off - beg > 6)
        return false;
    return !(off < line.size() && !line.isBlank(off) && !line.isNewline(off));
}

bool isSetextUnderline(const LineView &line, qsizetype beg)
{
    qsizetype off = beg + 1;
    while (off < line.size() && line.at(off) == line.at(beg))
        ++off;
    while (off < line.size() && line.at(off) == u' ')
        ++off;
    return !(off < line.size() && !line.isNewline(off));
}

bool isTableUnderline(const LineView &line, qsizetype off)
{
    bool foundPipe = false;
    const auto skipWhitespace = [&] {
        while (off < line.size() && line.isWhitespace(off))
            ++off;
    };
    if (off < line.size() && line.at(off) == u'|') {
        foundPipe = true;
        ++off;
        skipWhitespace();
    }
    for (;;) {
        const qsizetype cell = off;
        if (off < line.size() && line.at(off) == u':')
            ++off;
        while (off < line.size() && line.at(off) == u'-')
            ++off;
        if (off < line.size() && line.at(off) == u':')
            ++off;
        if (off - cell < 3)
            return false;
        skipWhitespace();
        bool delimited = false;
        if (off < line.size() && line.at(off) == u'|') {
            delimited = foundPipe = true;
            ++off;
            skipWhitespace();
        }
        if (off >= line.size() || line.isNewline(off))
            break;
        if (!delimited)
            return false;
    }
    return foundPipe;
}

// The fence's length when a fence opens at beg.
std::optional<qsizetype> openingFenceLength(const LineView &line, qsizetype beg)
{
    qsizetype off = beg;
    while (off < line.size() && line.at(off) == line.at(beg))
        ++off;
    const qsizetype length = off - beg;
    if (length < 3)
        return std::nullopt;
    while (off < line.size() && line.at(off) == u' ')
        ++off;
    for (; off < line.size() && !line.isNewline(off); ++off) {
        if (line.at(beg) == u'`' && line.at(off) == u'`')
            return std::nullopt;
    }
    return length;
}

// Whether a fence closes at off. Like md4c, off moves past the fence marks
// and the blanks after them even when they close nothing, and the line is
// read on from there.
bool closesFence(const LineView &line, qsizetype &off, char16_t mark, qsizetype length)
{
    const qsizetype beg = off;
    while (off < line.size() && line.at(off) == mark)
        ++off;
    if (off - beg < length)
        return false;
    while (off < line.size() && line.at(off) == u' ')
        ++off;
    return !(off < line.size() && !line.isNewline(off));
}

// A complete opening or closing tag from beg on this line; where it ends.
std::optional<qsizetype> htmlTagEnd(const LineView &line, qsizetype beg)
{
    qsizetype off = beg;
    if (off + 1 >= line.size())
        return std::nullopt;
    ++off;
    int state = 0; // -1 closer, 0 after the name, 1 after blanks, 2 after a name, 3 after '=', 41-43 in a value
    if (line.at(off) == u'/') {
        state = -1;
        ++off;
    }
    if (off >= line.size() || !line.isAlpha(off))
        return std::nullopt;
    ++off;
    while (off < line.size() && (line.isAlnum(off) || line.at(off) == u'-'))
        ++off;
    while (off < line.size() && !line.isNewline(off)) {
        if (state > 40) {
            if (state == 41 && (line.isBlank(off) || line.isAnyOf(off, u"\"'=<>`"))) {
                state = 0;
                --off;
            } else if ((state == 42 && line.at(off) == u'\'') || (state == 43 && line.at(off) == u'"')) {
                state = 0;
            }
            ++off;
        } else if (line.isWhitespace(off)) {
            if (state == 0)
                state = 1;
            ++off;
        } else if (state <= 2 && line.at(off) == u'>') {
            return off + 1;
        } else if (state <= 2 && line.at(off) == u'/' && off + 1 < line.size() && line.at(off + 1) == u'>') {
            return off + 2;
        } else if ((state == 1 || state == 2) && (line.isAlpha(off) || line.isAnyOf(off, u"_:"))) {
            ++off;
            while (off < line.size() && (line.isAlnum(off) || line.isAnyOf(off, u"_.:-")))
                ++off;
            state = 2;
        } else if (state == 2 && line.at(off) == u'=') {
            ++off;
            state = 3;
        } else if (state == 3) {
            if (line.at(off) == u'"')
                state = 43;
            else if (line.at(off) == u'\'')
                state = 42;
            else if (!line.isAnyOf(off, u"\"'=<>`") && !line.isNewline(off))
                state = 41;
            else
                return std::nullopt;
            ++off;
        } else {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

// The raw HTML block type (1 to 7) that a '<' at beg starts, or 0.
int htmlBlockStart(const LineView &line, qsizetype beg)
{
    static const QLatin1StringView kType1[] = {"script"_L1, "pre"_L1, "style"_L1};
    // Type 6 names by first letter, in md4c's order: the first name that is a
    // prefix of the tag decides, so "<thead>" stops at "th" and is not type 6.
    static const QHash<char16_t, QList<QLatin1StringView>> kType6 = {
        {u'a', {"address"_L1, "article"_L1, "aside"_L1}},
        {u'b', {"base"_L1, "basefont"_L1, "blockquote"_L1, "body"_L1}},
        {u'c', {"caption"_L1, "center"_L1, "col"_L1, "colgroup"_L1}},
        {u'd', {"dd"_L1, "details"_L1, "dialog"_L1, "dir"_L1, "div"_L1, "dl"_L1, "dt"_L1}},
        {u'f', {"fieldset"_L1, "figcaption"_L1, "figure"_L1, "footer"_L1, "form"_L1, "frame"_L1, "frameset"_L1}},
        {u'h', {"h1"_L1, "head"_L1, "header"_L1, "hr"_L1, "html"_L1}},
        {u'i', {"iframe"_L1}},
        {u'l', {"legend"_L1, "li"_L1, "link"_L1}},
        {u'm', {"main"_L1, "menu"_L1, "menuitem"_L1}},
        {u'n', {"nav"_L1, "noframes"_L1}},
        {u'o', {"ol"_L1, "optgroup"_L1, "option"_L1}},
        {u'p', {"p"_L1, "param"_L1}},
        {u's', {"section"_L1, "source"_L1, "summary"_L1}},
        {u't', {"table"_L1, "tbody"_L1, "td"_L1, "tfoot"_L1, "th"_L1, "thead"_L1, "title"_L1, "tr"_L1, "track"_L1}},
        {u'u', {"ul"_L1}},
    };
    qsizetype off = beg + 1;
    for (QLatin1StringView name : kType1) {
        if (off + name.size() <= line.size() && line.matchesCaseless(off, name))
            return 1;
    }
    if (off + 3 < line.size() && line.matches(off, "!--"_L1))
        return 2;
    if (off < line.size() && line.at(off) == u'?')
        return 3;
    if (off < line.size() && line.at(off) == u'!') {
        if (off + 1 < line.size() && line.isUpper(off + 1))
            return 4;
        if (off + 8 < line.size() && line.matches(off, "![CDATA["_L1))
            return 5;
    }
    if (off + 1 < line.size() && (line.isAlpha(off) || (line.at(off) == u'/' && line.isAlpha(off + 1)))) {
        if (line.at(off) == u'/')
            ++off;
        const char16_t first = line.isUpper(off) ? char16_t(line.at(off) - u'A' + u'a') : line.at(off);
        for (QLatin1StringView name : kType6.value(first)) {
            if (off + name.size() <= line.size() && line.matchesCaseless(off, name)) {
                const qsizetype after = off + name.size();
                if (after >= line.size() || line.isBlank(after) || line.isNewline(after) || line.at(after) == u'>')
                    return 6;
                if (after + 1 < line.size() && line.at(after) == u'/' && line.at(after + 1) == u'>')
                    return 6;
                break;
            }
        }
    }
    if (off + 1 < line.size()) {
        if (std::optional<qsizetype> end = htmlTagEnd(line, beg)) {
            while (*end < line.size() && line.isWhitespace(*end))
                ++*end;
            if (*end >= line.size() || line.isNewline(*end))
                return 7;
        }
    }
    return 0;
}

// Whether what occurs on the line from off; off moves past it, or to where
// the search stopped.
bool lineContains(const LineView &line, qsizetype &off, QLatin1StringView what)
{
    qsizetype i = off;
    for (; i + what.size() < line.size(); ++i) {
        if (line.isNewline(i))
            break;
        if (line.matches(i, what)) {
            off = i + what.size();
            return true;
        }
    }
    off = i;
    return false;
}

// Whether this line, from off, meets the end condition of a raw HTML block;
// off moves past the condition, or past what was searched.
bool htmlBlockEnds(const LineView &line, qsizetype &off, int type)
{
    switch (type) {
    case 1:
        for (; off < line.size() && !line.isNewline(off); ++off) {
            if (line.at(off) != u'<')
                continue;
            for (QLatin1StringView closer : {"</script>"_L1, "</style>"_L1, "</pre>"_L1}) {
                if (line.matchesCaseless(off, closer)) {
                    off += closer.size();
                    return true;
                }
            }
        }
        return false;
    case 2: return lineContains(line, off, "-->"_L1);
    case 3: return lineContains(line, off, "?>"_L1);
    case 4: return lineContains(line, off, ">"_L1);
    case 5: return lineContains(line, off, "]]>"_L1);
    default: return line.isNewline(off);
    }
}

struct Container {
    char16_t mark = 0; // '>' for a quote, else the bullet or the '.' or ')' of a number
    int markIndent = 0;
    int contentsIndent = 0;
    quint32 start = 0;
    bool operator==(const Container &) const = default;
};

std::optional<Container> containerMark(const LineView &line, int indent, qsizetype &off)
{
    if (indent >= kCodeIndent)
        return std::nullopt;
    if (off < line.size() && line.at(off) == u'>') {
        ++off;
        return Container{u'>', indent, indent + 1, 0};
    }
    // A mark may end the text.
    const auto endsMark = [&](qsizetype after) {
        return after >= line.size() || line.isBlank(after) || line.isNewline(after);
    };
    if (line.isAnyOf(off, u"-+*") && endsMark(off + 1)) {
        const char16_t mark = line.at(off);
        ++off;
        return Container{mark, indent, indent + 1, 0};
    }
    const qsizetype beg = off;
    qsizetype end = beg;
    quint32 start = 0;
    const qsizetype maxEnd = std::min(beg + 9, line.size());
    while (end < maxEnd && line.isDigit(end))
        start = start * 10 + (line.at(end++) - u'0');
    if (end > beg && (line.at(end) == u'.' || line.at(end) == u')') && endsMark(end + 1)) {
        off = end + 1;
        return Container{line.at(end), indent, indent + int(end - beg) + 1, start};
    }
    return std::nullopt;
}

// After a mark: up to the code indent the blanks that follow belong to the
// item's contents; past it, one does and the rest indent code within it.
void takeBlanksAfterMark(const LineView &line, Container &next, int &total, int &indent, qsizetype &off)
{
    total += next.contentsIndent - next.markIndent;
    indent = indentation(line, total, off);
    total += indent;
    if (off >= line.end()) {
        ++next.contentsIndent;
    } else if (indent <= kCodeIndent) {
        next.contentsIndent += indent;
        indent = 0;
    } else {
        next.contentsIndent += 1;
        --indent;
    }
}

// The renderer's block state between lines: the open list items and quotes,
// the line that opened the block being built, and what that block needs.
class BlockScanner {
public:
    enum class Line : quint8 {
        blank,
        rule,
        atxHeading,
        setextUnderline,
        indentedCode,
        fencedCode,
        html,
        text,
        table,
        tableUnderline
    };
    struct Fed {
        Line type = Line::blank;
        // The line continues an open list item or quote by its indentation or
        // marks, or adds an item to an open list.
        bool continuesContainer = false;
        bool startedBlock = false;
    };

    Fed feed(QStringView text, bool followed);

    bool atTopLevel() const { return m_containers.isEmpty(); }
    bool insideRawHtml() const { return m_pivot == Line::html && m_htmlType > 0; }
    // Inside a block that keeps blank lines as its content.
    bool keepsBlankLines() const { return m_pivot == Line::fencedCode || insideRawHtml(); }

    // The same state, as far as anything after can tell.
    bool sameAs(const BlockScanner &other) const
    {
        return m_containers == other.m_containers && m_pivot == other.m_pivot
               && (m_pivot != Line::fencedCode
                   || (m_fenceMark == other.m_fenceMark && m_fenceLength == other.m_fenceLength))
               && (m_pivot != Line::html || m_htmlType == other.m_htmlType) && m_blockOpen == other.m_blockOpen
               && (m_pivot != Line::text || m_blockLines == other.m_blockLines) && m_topIsItem == other.m_topIsItem
               && m_itemOpenedByTwoBlanks == other.m_itemOpenedByTwoBlanks;
    }

private:
    void endBlock()
    {
        m_blockOpen = false;
        m_blockLines = 0;
    }
    void startBlock()
    {
        m_blockOpen = true;
        m_blockLines = 0;
        m_topIsItem = false;
    }
    void leaveContainers(qsizetype keep)
    {
        if (m_containers.size() <= keep)
            return;
        m_containers.resize(keep);
        endBlock();
        m_topIsItem = false;
    }

    QList<Container> m_containers;
    // The type of the line that opened the block being built (blank when none).
    Line m_pivot = Line::blank;
    char16_t m_fenceMark = 0;
    qsizetype m_fenceLength = 0;
    int m_htmlType = 0;
    bool m_blockOpen = false;
    int m_blockLines = 0;
    // The last thing opened is a list item with nothing in it yet.
    bool m_topIsItem = false;
    // "A list item can begin with at most one blank line": set by a second one.
    bool m_itemOpenedByTwoBlanks = false;
};

BlockScanner::Fed BlockScanner::feed(QStringView text, bool followed)
{
    const LineView line(text, followed);
    qsizetype off = 0;
    int total = 0;
    int indent = indentation(line, total, off);
    total += indent;
    qsizetype parents = 0;
    int brothers = 0;
    int children = 0;
    Line pivot = m_pivot;

    while (parents < m_containers.size()) {
        const Container &c = m_containers.at(parents);
        if (c.mark == u'>' && indent < kCodeIndent && off < line.size() && line.at(off) == u'>') {
            ++off;
            ++total;
            indent = indentation(line, total, off);
            total += indent;
            // The first blank after '>' belongs to the mark.
            if (indent > 0)
                --indent;
        } else if (c.mark != u'>' && indent >= c.contentsIndent) {
            indent -= c.contentsIndent;
        } else {
            break;
        }
        ++parents;
    }
    const bool byIndentation = parents > 0;
    // A blank line needs no indentation to stay inside a list.
    if (off >= line.end()) {
        while (parents < m_containers.size() && m_containers.at(parents).mark != u'>')
            ++parents;
    }

    Line type = Line::text;
    for (;;) {
        if (pivot == Line::fencedCode) {
            if (indent < kCodeIndent && closesFence(line, off, m_fenceMark, m_fenceLength)) {
                type = Line::blank;
                break;
            }
            if (parents == m_containers.size()) {
                type = Line::fencedCode;
                break;
            }
        }
        if (pivot == Line::html && m_htmlType > 0) {
            // Unlike a fence's check, this one leaves the line where it was.
            qsizetype end = off;
            if (htmlBlockEnds(line, end, m_htmlType)) {
                const int ended = m_htmlType;
                m_htmlType = 0;
                if (ended == 6 || ended == 7) {
                    type = Line::blank;
                    break;
                }
            }
            if (parents == m_containers.size()) {
                type = Line::html;
                break;
            }
        }
        const bool emptyItem = parents > 0 && m_containers.at(parents - 1).mark != u'>' && brothers + children == 0
                               && !m_blockOpen && m_topIsItem;
        if (off >= line.end()) {
            if (pivot == Line::indentedCode && parents == m_containers.size()) {
                type = Line::indentedCode;
            } else {
                type = Line::blank;
                if (emptyItem)
                    m_itemOpenedByTwoBlanks = true;
            }
            break;
        }
        if (m_itemOpenedByTwoBlanks) {
            if (emptyItem)
                --parents;
            m_itemOpenedByTwoBlanks = false;
        }
        if (indent < kCodeIndent && pivot == Line::text && (line.at(off) == u'=' || line.at(off) == u'-')
            && parents == m_containers.size() && isSetextUnderline(line, off)) {
            type = Line::setextUnderline;
            break;
        }
        if (indent < kCodeIndent && line.isAnyOf(off, u"-_*") && isRuleLine(line, off)) {
            type = Line::rule;
            break;
        }
        if (parents < m_containers.size() && brothers + children == 0) {
            qsizetype after = off;
            const std::optional<Container> item = containerMark(line, indent, after);
            const Container &list = m_containers.at(parents);
            if (item && item->mark != u'>' && item->mark == list.mark && item->markIndent <= list.contentsIndent) {
                pivot = Line::blank;
                off = after;
                Container next = *item;
                takeBlanksAfterMark(line, next, total, indent, off);
                m_containers[parents].markIndent = next.markIndent;
                m_containers[parents].contentsIndent = next.contentsIndent;
                ++brothers;
                continue;
            }
        }
        if (indent >= kCodeIndent && (pivot == Line::blank || pivot == Line::indentedCode)) {
            type = Line::indentedCode;
            break;
        }
        if (indent < kCodeIndent) {
            if (const std::optional<Container> found = containerMark(line, indent, off)) {
                const bool interruptsParagraph = pivot == Line::text && parents == m_containers.size();
                const bool ordered = found->mark == u'.' || found->mark == u')';
                // An empty item, or a numbered one not starting at 1, cannot
                // interrupt a paragraph.
                if (!(interruptsParagraph && off >= line.end() && found->mark != u'>')
                    && !(interruptsParagraph && ordered && found->start != 1)) {
                    Container next = *found;
                    takeBlanksAfterMark(line, next, total, indent, off);
                    if (brothers + children == 0)
                        pivot = Line::blank;
                    if (children == 0)
                        leaveContainers(parents + brothers);
                    ++children;
                    m_containers.append(next);
                    continue;
                }
            }
        }
        if (pivot == Line::table && parents == m_containers.size()) {
            type = Line::table;
            break;
        }
        if (indent < kCodeIndent && line.at(off) == u'#' && isAtxHeading(line, off)) {
            type = Line::atxHeading;
            break;
        }
        if (line.at(off) == u'`' || line.at(off) == u'~') {
            if (const std::optional<qsizetype> length = openingFenceLength(line, off)) {
                m_fenceLength = *length;
                m_fenceMark = line.at(off);
                type = Line::fencedCode;
                break;
            }
        }
        if (line.at(off) == u'<') {
            m_htmlType = htmlBlockStart(line, off);
            // Type 7 cannot interrupt a paragraph.
            if (m_htmlType == 7 && pivot == Line::text)
                m_htmlType = 0;
            if (m_htmlType > 0) {
                qsizetype end = off;
                if (htmlBlockEnds(line, end, m_htmlType))
                    m_htmlType = 0;
                type = Line::html;
                break;
            }
        }
        if (pivot == Line::text && line.isAnyOf(off, u"|-:") && parents == m_containers.size() && m_blockOpen
            && m_blockLines == 1 && isTableUnderline(line, off)) {
            type = Line::tableUnderline;
            break;
        }
        type = Line::text;
        // A lazy continuation line stays in the paragraph's containers.
        if (pivot == Line::text && brothers + children == 0)
            parents = m_containers.size();
        break;
    }

    if (children == 0 && parents + brothers < m_containers.size())
        leaveContainers(parents + brothers);
    if (brothers > 0) {
        endBlock();
        m_topIsItem = true;
    }
    if (children > 0) {
        endBlock();
        m_topIsItem = m_containers.constLast().mark != u'>';
    }

    Fed fed{type, byIndentation || brothers > 0, false};
    switch (type) {
    case Line::blank:
        endBlock();
        m_pivot = Line::blank;
        return fed;
    case Line::rule:
    case Line::atxHeading:
        endBlock();
        m_topIsItem = false;
        fed.startedBlock = true;
        m_pivot = Line::blank;
        return fed;
    case Line::setextUnderline:
        endBlock();
        m_pivot = Line::blank;
        return fed;
    case Line::tableUnderline:
        m_pivot = Line::table;
        ++m_blockLines;
        return fed;
    default: break;
    }
    if (type != m_pivot)
        endBlock();
    if (!m_blockOpen) {
        startBlock();
        m_pivot = type;
        fed.startedBlock = true;
    }
    ++m_blockLines;
    return fed;
}

// Feeds one line of the text (cut at line feeds); md4c also ends a line at a
// lone carriage return, and "\r\n" is one break. Answers the first line's.
BlockScanner::Fed feedLine(BlockScanner &scanner, QStringView piece, bool followed)
{
    if (!piece.contains(u'\r')) {
        // Nothing after the text's last line feed: no line there.
        if (piece.isEmpty() && !followed)
            return {};
        return scanner.feed(piece, followed);
    }
    QList<QStringView> lines = piece.split(u'\r');
    if (piece.endsWith(u'\r')) {
        // The last carriage return is the line's break.
        lines.removeLast();
        followed = true;
    } else if (lines.back().isEmpty() && !followed) {
        // Nothing after the text's last line feed: no line there.
        lines.removeLast();
    }
    BlockScanner::Fed first;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const BlockScanner::Fed fed = scanner.feed(lines[i], i + 1 < lines.size() || followed);
        if (i == 0)
            first = fed;
    }
    return first;
}

QString marker(qsizetype line)
{
    return QStringLiteral("<!--S:%1-->").arg(line);
}

// How a marker may go before the run that starts with line: -1 not at all,
// 0 on the line before it, 1 with an empty line between (after a raw HTML
// line md4c reads an indented line as paragraph text, not code). It may go
// only where it leaves the renderer's state after the line as it was.
int markerSpacing(const BlockScanner &before, const BlockScanner &after, const BlockScanner::Fed &fed, QStringView line,
                  bool followed, const QString &markerLine)
{
    // A line that goes on with a block or a list item stays with it.
    if (fed.continuesContainer || !fed.startedBlock)
        return -1;
    for (int spacing : {0, 1}) {
        BlockScanner trial = before;
        const BlockScanner::Fed marked = trial.feed(markerLine, true);
        if (marked.type != BlockScanner::Line::html || !marked.startedBlock || !trial.atTopLevel()
            || trial.insideRawHtml())
            return -1;
        if (spacing == 1)
            trial.feed(QStringView(), true);
        const BlockScanner::Fed moved = feedLine(trial, line, followed);
        if (moved.type == fed.type && trial.sameAs(after))
            return spacing;
    }
    return -1;
}

// Start of the next "\n\n" or "\r\n\r\n" at or after from, or -1. One pass,
// so splitting a whole text stays linear.
qsizetype nextSeparator(const QString &text, qsizetype from)
{
    const qsizetype size = text.size();
    const QChar *c = text.constData();
    for (qsizetype i = from; i + 1 < size; ++i) {
        if (c[i] == u'\n' && c[i + 1] == u'\n')
            return i;
        if (c[i] == u'\r' && i + 3 < size && c[i + 1] == u'\n' && c[i + 2] == u'\r' && c[i + 3] == u'\n')
            return i;
    }
    return -1;
}

QString escaped(QString text)
{
    text.replace(u'&', QStringLiteral("&amp;"));
    text.replace(u'<', QStringLiteral("&lt;"));
    text.replace(u'>', QStringLiteral("&gt;"));
    return text;
}

// The policy comes first, so nothing of the page is read before it holds.
const QString kPageHead = QStringLiteral("<!DOCTYPE html><html><head><meta http-equiv=\"Content-Security-Policy\" "
                                         "content=\"")
                          + QLatin1String(kContentSecurityPolicy)
                          + QStringLiteral("\"><meta charset=\"utf-8\"><style>");

// The group's id stays taken while any member lives, so this reaches only
// what the renderer started, even after the renderer itself was reaped.
void stopGroup(qint64 pid)
{
    if (pid > 0)
        ::kill(-pid_t(pid), SIGKILL);
}

} // namespace

QList<Block> blocks(const QString &text)
{
    QList<Block> out;
    qsizetype position = 0;
    qint64 line = 1;
    for (;;) {
        const qsizetype separator = nextSeparator(text, position);
        const qsizetype end = separator < 0 ? text.size() : separator;
        if (end > position) {
            out.append(Block{line, {position, end - position}});
            line += QStringView(text).sliced(position, end - position).count(u'\n');
        }
        if (separator < 0)
            break;
        position = separator;
        while (position < text.size() && (text[position] == u'\n' || text[position] == u'\r')) {
            if (text[position] == u'\n')
                ++line;
            ++position;
        }
    }
    return out;
}

QString annotate(const QString &text)
{
    QString out;
    out.reserve(text.size() + text.size() / 8);
    QStringView body(text);
    // The renderer skips a byte order mark only at the very start.
    if (body.startsWith(QChar(0xFEFF))) {
        out += QChar(0xFEFF);
        body = body.sliced(1);
    }
    // What is written is joined with line feeds; nothing follows the last.
    bool wroteAny = false;
    const auto write = [&](QStringView line) {
        if (wroteAny)
            out += u'\n';
        out += line;
        wroteAny = true;
    };
    const QList<QStringView> lines = body.split(u'\n');
    BlockScanner scanner;
    // The state before the last non-blank line, and that line.
    BlockScanner beforeLast;
    qsizetype last = -1;
    qsizetype gapStart = 0; // the blank lines since the last non-blank one
    bool gapKept = false;   // some of them are code or raw HTML
    const auto writeGap = [&](qsizetype end) {
        for (qsizetype j = gapStart; j < end; ++j)
            write(lines[j]);
    };
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QStringView line = lines[i];
        const bool followed = i + 1 < lines.size();
        if (isBlankLine(line)) {
            const BlockScanner::Fed fed = feedLine(scanner, line, followed);
            if (fed.type == BlockScanner::Line::fencedCode || fed.type == BlockScanner::Line::html)
                gapKept = true;
            continue;
        }
        const bool insideRun = i > 0 && gapStart == i;
        beforeLast = scanner;
        last = i;
        if (insideRun) {
            feedLine(scanner, line, followed);
            write(line);
            gapStart = i + 1;
            continue;
        }
        // The first line of a run.
        BlockScanner direct = scanner;
        const BlockScanner::Fed fed = feedLine(direct, line, followed);
        const QString markerLine = marker(i + 1);
        const int spacing = markerSpacing(scanner, direct, fed, line, followed, markerLine);
        if (spacing < 0 || gapKept) {
            // Blank lines inside code stay as they are, and so do those
            // before a line that continues a list item.
            writeGap(i);
        } else if (wroteAny) {
            write(QStringView());
        }
        if (spacing >= 0) {
            write(markerLine);
            if (spacing == 1)
                write(QStringView());
        }
        write(line);
        scanner = direct;
        gapStart = i + 1;
        gapKept = false;
    }
    if (gapStart < lines.size()) {
        if (gapKept || scanner.keepsBlankLines()) {
            writeGap(lines.size());
        } else if (last >= 0) {
            // The last line ends the text now; keep its line break where the
            // renderer would read the line differently without one.
            BlockScanner followedBy = beforeLast;
            BlockScanner atEnd = beforeLast;
            if (feedLine(followedBy, lines[last], true).type != feedLine(atEnd, lines[last], false).type
                || !followedBy.sameAs(atEnd))
                write(QStringView());
        }
    }
    return out;
}

QString stampSourceLines(const QString &html)
{
    static const QRegularExpression markerBeforeElement(
        QStringLiteral("<!--S:(\\d+)-->\\s*\\n<([a-zA-Z][a-zA-Z0-9]*)"));
    QString out = html;
    out.replace(markerBeforeElement, QStringLiteral("<\\2 data-source-line=\"\\1\""));
    return out;
}

QString stylesheet()
{
    // Compiled in, so read once for every page of the process.
    static const QString css = [] {
        QFile file(QStringLiteral(":/reading.css"));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }();
    return css;
}

QString fallbackPage(const QString &text)
{
    return kPageHead + stylesheet() + QStringLiteral("</style></head><body><pre data-source-line=\"1\">")
           + escaped(text) + QStringLiteral("</pre></body></html>");
}

QString page(const QString &html)
{
    return kPageHead + stylesheet() + QStringLiteral("</style></head><body>") + stampSourceLines(html)
           + QStringLiteral("</body></html>");
}

RendererLookup systemLookup()
{
    RendererLookup lookup;
    if (QCoreApplication::instance())
        lookup.bundledRenderer = QCoreApplication::applicationDirPath() + u'/' + QLatin1String(kBundledRendererName);
    if (qEnvironmentVariableIsSet(kRendererEnvironment))
        lookup.environmentPath = qEnvironmentVariable(kRendererEnvironment);
    lookup.fixedPaths = {QStringLiteral("/usr/local/bin/apex"), QStringLiteral("/usr/bin/apex")};
    return lookup;
}

std::optional<QString> apexPath(const RendererLookup &lookup)
{
    if (!lookup.bundledRenderer.isEmpty() && QFileInfo(lookup.bundledRenderer).isFile())
        return lookup.bundledRenderer;
    if (lookup.environmentPath)
        return lookup.environmentPath;
    for (const QString &path : lookup.fixedPaths) {
        const QFileInfo info(path);
        if (info.isFile() && info.isExecutable())
            return path;
    }
    return std::nullopt;
}

std::optional<QString> apexPath()
{
    return apexPath(systemLookup());
}

QStringList rendererArguments(const std::optional<QString> &pieceFolder)
{
    QStringList arguments{QStringLiteral("-t"), QStringLiteral("html"), QStringLiteral("--no-mixed-lists"),
                          QStringLiteral("--embed-images")};
    if (pieceFolder)
        arguments << QStringLiteral("--base-dir") << *pieceFolder;
    return arguments;
}

QCoro::Task<RunResult> runRenderer(QString program, QString annotated, std::optional<QString> pieceFolder,
                                   std::chrono::milliseconds timeout)
{
    // Declared before the process: its read handlers write here until it goes.
    QByteArray output;
    QByteArray errors;
    QProcess process;
    process.setProgram(program);
    process.setArguments(rendererArguments(pieceFolder));
    process.setProcessChannelMode(QProcess::SeparateChannels);
    // Its own group, so the time-out reaches whatever it started; and it must
    // not outlive a crashed application.
    process.setChildProcessModifier([] {
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    });
    QObject::connect(&process, &QProcess::readyReadStandardOutput, &process,
                     [&] { output += process.readAllStandardOutput(); });
    // Drained as it comes, so a chatty renderer never blocks on a full pipe;
    // only the start is kept.
    QObject::connect(&process, &QProcess::readyReadStandardError, &process, [&] {
        const QByteArray chunk = process.readAllStandardError();
        if (errors.size() < kStandardErrorExcerpt)
            errors += chunk.left(kStandardErrorExcerpt - errors.size());
    });

    QElapsedTimer clock;
    clock.start();
    // The start is waited for in place: it ends as soon as the child has
    // executed the program or failed to, and a failed start emits no signal
    // that an awaited start would notice before its time-out.
    process.start(QIODevice::ReadWrite);
    if (!process.waitForStarted(int(timeout.count())))
        co_return RunResult{QString(), QStringLiteral("renderer failed to start: %1").arg(process.errorString()),
                            QString()};
    const qint64 pid = process.processId();
    // Written as the renderer reads, while its output is read.
    process.write(annotated.toUtf8());
    process.closeWriteChannel();

    auto coro = qCoro(process);
    const auto left = std::max(std::chrono::milliseconds(1), timeout - std::chrono::milliseconds(clock.elapsed()));
    QCoro::Task<bool> finishing = coro.waitForFinished(left);
    if (!co_await finishing) {
        process.kill();
        stopGroup(pid);
        QCoro::Task<bool> reaping = coro.waitForFinished(std::chrono::milliseconds(5000));
        co_await reaping;
        co_return RunResult{QString(), QStringLiteral("renderer timed out after %1 ms").arg(qint64(timeout.count())),
                            QString::fromUtf8(errors)};
    }
    output += process.readAllStandardOutput();
    const QByteArray rest = process.readAllStandardError();
    if (errors.size() < kStandardErrorExcerpt)
        errors += rest.left(kStandardErrorExcerpt - errors.size());
    // Whatever it started may still hold the pipes; nothing more is read.
    stopGroup(pid);
    if (output.isEmpty()) {
        const int status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        co_return RunResult{QString(), QStringLiteral("renderer gave no output (exit status %1)").arg(status),
                            QString::fromUtf8(errors)};
    }
    co_return RunResult{QString::fromUtf8(output), QString(), QString::fromUtf8(errors)};
}

QCoro::Task<RunResult> runApex(QString annotated, std::optional<QString> pieceFolder)
{
    const std::optional<QString> program = apexPath();
    if (!program)
        co_return RunResult{QString(), QStringLiteral("no renderer found"), QString()};
    QCoro::Task<RunResult> running = runRenderer(*program, annotated, pieceFolder);
    co_return co_await running;
}

QCoro::Task<Rendered> render(QString text, std::optional<QString> pieceFolder, Runner runner)
{
    if (!runner)
        runner = runApex;
    QCoro::Task<RunResult> running = runner(annotate(text), pieceFolder);
    const RunResult result = co_await running;
    if (!result.html.isEmpty())
        co_return Rendered{page(result.html), false};
    // One line, whatever the renderer wrote.
    QString standardError = result.standardError.trimmed();
    standardError.replace(u'\n', QStringLiteral(" | "));
    qCWarning(readingLog).noquote() << "reading renderer:" << result.failure
                                    << (standardError.isEmpty() ? QString()
                                                                : QStringLiteral("; stderr: ") + standardError);
    co_return Rendered{fallbackPage(text), true};
}

QString repaintKey(qint64 generation, const QString &text)
{
    return QString::number(generation) + u':' + QString::number(qHash(text));
}

} // namespace editor::ReadingPresenter

namespace editor {

ReadingRenderer::ReadingRenderer(QObject *parent) : QObject(parent) {}

void ReadingRenderer::request(const QString &key, const QString &text, const std::optional<QString> &pieceFolder)
{
    const quint64 serial = ++m_serial;
    m_latestKey = key;
    QCoro::Task<void> detached = [](QPointer<ReadingRenderer> self, quint64 serial, QString key, QString text,
                                    std::optional<QString> pieceFolder,
                                    ReadingPresenter::Runner runner) -> QCoro::Task<void> {
        QCoro::Task<ReadingPresenter::Rendered> rendering = ReadingPresenter::render(text, pieceFolder, runner);
        const ReadingPresenter::Rendered result = co_await rendering;
        // Gone, or a newer text was asked for meanwhile.
        if (!self || self->m_serial != serial)
            co_return;
        emit self->rendered(key, result);
    }(QPointer<ReadingRenderer>(this), serial, key, text, pieceFolder, m_runner);
}

} // namespace editor
