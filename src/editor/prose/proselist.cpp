#include "editor/prose/proselist.h"

#include "editor/prose/prosepresenter.h"
#include "foundation/text.h"

#include <algorithm>

namespace editor::ProseList {

namespace {

using foundation::text::isLineEnd;

namespace Presenter = editor::ProsePresenter;

int widthOf(QChar c)
{
    return c == u'\t' ? 2 : 1;
}

bool isSpaceOrTab(QChar c)
{
    return c == u' ' || c == u'\t';
}

int lineIndexAt(const QList<Line> &lines, qsizetype start)
{
    const auto it = std::lower_bound(lines.cbegin(), lines.cend(), start,
                                     [](const Line &line, qsizetype s) { return line.range.start < s; });
    return it != lines.cend() && it->range.start == start ? int(it - lines.cbegin()) : -1;
}

// The closest earlier list line of the same indent before any shallower list
// line, passing continuation lines of the items above.
std::optional<int> previousSibling(const QList<Line> &lines, int item, int indent)
{
    bool blankPassed = false;
    for (int j = item - 1; j >= 0; --j) {
        const Line &line = lines[j];
        if (line.isBlank) {
            blankPassed = true;
            continue;
        }
        if (line.isList) {
            if (line.indent == indent)
                return j;
            if (line.indent < indent)
                return std::nullopt;
            continue;
        }
        if (blankPassed || j == 0 || lines[j - 1].isBlank)
            return std::nullopt;
    }
    return std::nullopt;
}

std::optional<Fold> foldOf(const QList<Line> &lines, const ItemBlock &block)
{
    if (!block.foldStart)
        return std::nullopt;
    const auto [first, start] = *block.foldStart;
    return Fold{Range{start, lines[block.lastLine].range.end() - start}, block.lastLine - first + 1};
}

qsizetype blockEnd(const QList<Line> &lines, const ItemBlock &block)
{
    return lines[block.lastLine].range.end();
}

QString joined(const BlockText &block)
{
    QString out = block.pieces.join(u'\n');
    if (block.removedFinalLF)
        out += u'\n';
    return out;
}

// The text without its one final line terminator (CR LF counts as one).
QString withoutTerminator(const QString &text)
{
    if (text.endsWith(u"\r\n"))
        return text.chopped(2);
    if (!text.isEmpty() && isLineEnd(text.back().unicode()))
        return text.chopped(1);
    return text;
}

} // namespace

int indentWidth(QStringView text)
{
    int width = 0;
    for (QChar c : text) {
        if (!isSpaceOrTab(c))
            break;
        width += widthOf(c);
    }
    return width;
}

int contentColumn(QStringView text)
{
    qsizetype i = 0;
    int column = 0;
    for (; i < text.size() && isSpaceOrTab(text[i]); ++i)
        column += widthOf(text[i]);
    for (; i < text.size() && !isSpaceOrTab(text[i]); ++i)
        ++column;
    for (; i < text.size() && isSpaceOrTab(text[i]); ++i)
        column += widthOf(text[i]);
    return column;
}

qsizetype contentOffset(const Line &line)
{
    const auto match = Presenter::firstMatchRange(Presenter::listMarkerPattern(), line.text);
    if (!match)
        return line.range.start;
    return line.content.start + std::min(line.content.length, match->second);
}

QList<Line> scanLines(const QString &text)
{
    QList<Line> lines;
    if (text.isEmpty())
        return lines;
    bool insideFence = false;
    for (const Presenter::Line &scanned : Presenter::lineSplit(text, 0, text.size())) {
        const Presenter::LineKind kind = Presenter::classifyLine(scanned.text, insideFence);
        Line line;
        line.range = Range{scanned.start, scanned.fullLength};
        line.content = Range{scanned.start, scanned.contentLength};
        line.text = scanned.text.toString();
        line.indent = indentWidth(scanned.text);
        line.isList = kind == Presenter::LineKind::list;
        line.isBlank = kind == Presenter::LineKind::blank;
        line.isBody = kind == Presenter::LineKind::body;
        lines.append(line);
        if (kind == Presenter::LineKind::fence)
            insideFence = !insideFence;
    }
    return lines;
}

ItemBlock itemBlock(const QList<Line> &lines, int item, int indent)
{
    ItemBlock block{item, std::nullopt};
    bool blankHeld = false;
    for (int j = item + 1; j < lines.size(); ++j) {
        const Line &line = lines[j];
        if (line.isBlank) {
            blankHeld = true;
            continue;
        }
        const bool joins = line.indent > indent || (!line.isList && line.isBody && !blankHeld);
        if (!joins)
            break;
        block.lastLine = j;
        blankHeld = false;
    }
    if (block.lastLine == item)
        return block;
    for (int d = item + 1; d <= block.lastLine; ++d) {
        if (lines[d].indent <= indent)
            continue;
        int first = d;
        while (first - 1 > item && lines[first - 1].isBlank)
            --first;
        block.foldStart = std::pair{first, lines[first].range.start};
        break;
    }
    return block;
}

BlockText blockLines(const QString &text, Range range)
{
    QString slice = text.mid(range.start, range.length);
    BlockText out;
    if (slice.endsWith(u'\n')) {
        slice.chop(1);
        out.removedFinalLF = true;
    }
    out.pieces = slice.split(u'\n');
    return out;
}

std::pair<QString, QString> stripIndent(const QString &lineText, int width)
{
    qsizetype i = 0;
    int removed = 0;
    while (i < lineText.size() && isSpaceOrTab(lineText[i]) && removed < width)
        removed += widthOf(lineText[i++]);
    return {lineText.left(i), lineText.mid(i)};
}

QList<ParentHint> parentHints(const QString &text, const std::function<void(qsizetype)> &lineCountObserver)
{
    const QList<Line> lines = scanLines(text);
    if (lineCountObserver)
        lineCountObserver(lines.size());
    QList<ParentHint> hints;
    for (int i = 0; i < lines.size(); ++i) {
        if (!lines[i].isList)
            continue;
        const ItemBlock block = itemBlock(lines, i, lines[i].indent);
        const std::optional<Fold> fold = foldOf(lines, block);
        if (!fold)
            continue;
        hints.append(ParentHint{lines[i].range, lines[i].content.end(), contentOffset(lines[i]), fold->scope,
                                fold->hiddenLineCount});
    }
    return hints;
}

std::optional<ListContext> listContext(qsizetype caret, const QString &text)
{
    if (text.isEmpty())
        return std::nullopt;
    const QList<Line> lines = scanLines(text);
    caret = std::clamp<qsizetype>(foundation::text::graphemeFloor(text, caret), 0, text.size() - 1);
    const auto it = std::upper_bound(lines.cbegin(), lines.cend(), caret,
                                     [](qsizetype c, const Line &line) { return c < line.range.start; });
    if (it == lines.cbegin())
        return std::nullopt;
    const int i = int(it - lines.cbegin()) - 1;
    const Line &line = lines[i];
    if (!line.isList)
        return std::nullopt;
    const ItemBlock block = itemBlock(lines, i, line.indent);
    return ListContext{line.range,           line.content.end(),
                       contentOffset(line),  Range{line.range.start, blockEnd(lines, block) - line.range.start},
                       foldOf(lines, block), line.indent};
}

std::optional<Edit> indent(const ListContext &context, qsizetype caret, const QString &text)
{
    caret = foundation::text::graphemeFloor(text, caret);
    const QList<Line> lines = scanLines(text);
    const int k = lineIndexAt(lines, context.line.start);
    if (k <= 0)
        return std::nullopt;
    const std::optional<int> sibling = previousSibling(lines, k, context.indent);
    if (!sibling)
        return std::nullopt;
    const int step = contentColumn(lines[*sibling].text) - context.indent;
    if (step < 1)
        return std::nullopt;
    BlockText block = blockLines(text, context.block);
    const QString pad(step, u' ');
    for (QString &piece : block.pieces) {
        if (!piece.isEmpty())
            piece.prepend(pad);
    }
    return Edit{context.block, joined(block), caret + step};
}

std::optional<Edit> outdent(const ListContext &context, qsizetype caret, const QString &text)
{
    if (context.indent < 1)
        return std::nullopt;
    caret = foundation::text::graphemeFloor(text, caret);
    const int step = std::min(context.indent, 2);
    BlockText block = blockLines(text, context.block);
    qsizetype pieceStart = context.block.start;
    std::optional<qsizetype> shift;
    for (QString &piece : block.pieces) {
        const qsizetype pieceEnd = pieceStart + piece.size();
        const auto [removed, rest] = stripIndent(piece, step);
        if (!shift && pieceStart <= caret && pieceEnd >= caret)
            shift = std::min(caret - pieceStart, removed.size());
        piece = rest;
        pieceStart = pieceEnd + 1;
    }
    return Edit{context.block, joined(block), std::max(context.block.start, caret - shift.value_or(0))};
}

std::optional<Edit> moveItem(const ListContext &context, qsizetype caret, int direction, const QString &text)
{
    caret = foundation::text::graphemeFloor(text, caret);
    const QList<Line> lines = scanLines(text);
    const int k = lineIndexAt(lines, context.line.start);
    if (k < 0)
        return std::nullopt;
    const ItemBlock item = itemBlock(lines, k, context.indent);
    const qsizetype itemStart = lines[k].range.start;
    const qsizetype itemEnd = blockEnd(lines, item);

    int sibling = -1;
    if (direction > 0) {
        int j = item.lastLine + 1;
        while (j < lines.size() && lines[j].isBlank)
            ++j;
        if (j >= lines.size() || !lines[j].isList || lines[j].indent != context.indent)
            return std::nullopt;
        sibling = j;
    } else {
        if (k == 0)
            return std::nullopt;
        const std::optional<int> previous = previousSibling(lines, k, context.indent);
        if (!previous)
            return std::nullopt;
        sibling = *previous;
    }
    const qsizetype siblingStart = lines[sibling].range.start;
    const qsizetype siblingEnd = blockEnd(lines, itemBlock(lines, sibling, context.indent));
    const qsizetype offset = caret - itemStart;

    // upper and lower in the text's present order.
    const bool down = direction > 0;
    const qsizetype upperStart = down ? itemStart : siblingStart;
    const qsizetype upperEnd = down ? itemEnd : siblingEnd;
    const qsizetype lowerStart = down ? siblingStart : itemStart;
    const qsizetype lowerEnd = down ? siblingEnd : itemEnd;
    QString upper = text.mid(upperStart, upperEnd - upperStart);
    QString lower = text.mid(lowerStart, lowerEnd - lowerStart);
    const QString gap = text.mid(upperEnd, lowerStart - upperEnd);
    // A lower block that ends the text without a terminator keeps the two
    // blocks on separate lines, and the text still ends without one.
    if (lower.isEmpty() || !isLineEnd(lower.back().unicode())) {
        lower += u'\n';
        upper = withoutTerminator(upper);
    }
    const QString replacement = lower + gap + upper;
    const qsizetype newItemStart = down ? upperStart + lower.size() + gap.size() : upperStart;
    return Edit{Range{upperStart, lowerEnd - upperStart}, replacement, newItemStart + offset};
}

} // namespace editor::ProseList
