#pragma once
// The prose editor's Markdown styling: one line classifier shared with list
// editing, fence tracking, and the per-line looks of lines and inline spans.
// The text stays plain Markdown; only looks change.
//
// Layout: styling here is character looks only, applied by a
// QSyntaxHighlighter (layout formats, never the document), so restyling adds
// nothing to the undo stack. Block metrics (line heights, spacing, quote and
// hanging indents) are values a document layout reads per block; they are
// never written into QTextBlockFormat, whose changes are undo commands.
//
// The inline passes use scanners equivalent to their patterns (a test holds
// them to the compiled patterns) because backtracking patterns go quadratic
// on a long line of unclosed "[" or "*"; each scanner is linear in the line.

#include <QList>
#include <QRegularExpression>
#include <QString>
#include <QStringView>

#include <optional>

namespace editor::ProsePresenter {

enum class LineKind { heading1, heading2, heading3, heading4, quote, fence, code, list, rule, blank, body };

// One line: its whole range (terminator included) and its content (same
// start, without the trailing CR and LF characters), as UTF-16 offsets.
struct Line {
    qsizetype start = 0;
    qsizetype fullLength = 0;
    qsizetype contentLength = 0;
    QStringView text; // the content's characters, a view into the styled text
    qsizetype fullEnd() const { return start + fullLength; }
    qsizetype contentEnd() const { return start + contentLength; }
};

// What a span is drawn in; a look is built from the line's base set, then the
// sets of the inline passes over it in order.
enum class Face : quint8 {
    none,
    body,
    heading,
    subheading,
    mono,
    heading3,
    heading4,
    bold,
    italic,
    lead,
    listMarker,
    blankLine
};
enum class Ink : quint8 { none, text, quote, markerGrey, listMarkerGrey };

struct Look {
    Face face = Face::none;
    Ink ink = Ink::none;
    bool codeBackground = false;
    bool link = false; // underlined in list-marker grey
    bool operator==(const Look &) const = default;
};

// A run of one look, in offsets of the styled text.
struct Run {
    qsizetype start = 0;
    qsizetype length = 0;
    Look look;
    bool operator==(const Run &) const = default;
};

struct StyledLine {
    Line line;
    LineKind kind = LineKind::body;
    bool lead = false;
    // For a list line: end of the marker match in the line's text (what the
    // hanging indent is measured over); -1 otherwise.
    qsizetype markerPrefixEnd = -1;
    // Consecutive runs covering the whole line, terminator included.
    QList<Run> runs;
    // The look at one offset of the styled text (none outside the line).
    std::optional<Look> lookAt(qsizetype offset) const;
};

// The patterns, compiled once with Unicode properties.
const QRegularExpression &boldPattern();
const QRegularExpression &italicStarPattern();
const QRegularExpression &italicUnderscorePattern();
const QRegularExpression &inlineCodePattern();
const QRegularExpression &linkPattern();
const QRegularExpression &listMarkerPattern();
const QRegularExpression &quotePrefixPattern();

// The ten punctuation characters dimmed where no span claims them.
bool isMarkerCharacter(QChar c);

// Leftmost non-overlapping matches of the inline patterns, each search
// resuming where the previous match ended: (start, end) pairs. Same results as
// the patterns, in time linear in the text.
enum class InlinePattern { bold, italicStar, italicUnderscore, inlineCode, link };
QList<std::pair<qsizetype, qsizetype>> inlineMatches(InlinePattern pattern, QStringView text);

// Level 1 to 6 of the text after leading blanks, or none.
std::optional<int> headingLevel(QStringView rest);
bool isRuleLine(QStringView rest);
LineKind classifyLine(QStringView text, bool insideFence);

// The lines that intersect [location, location + length), the first one
// starting at or before location. Lines end after LF, CR, CR LF, U+0085,
// U+2028 or U+2029.
QList<Line> lineSplit(const QString &text, qsizetype location, qsizetype length);
// Whether location lies inside a fenced block.
bool fenceStateBefore(const QString &text, qsizetype location);
// Lines (cut at LF) whose text after spaces and tabs begins with ``` or ~~~.
int fenceLineCount(QStringView text);
// Start of the first line that is not blank after trimming white space and
// line ends.
std::optional<qsizetype> firstContentLineRange(const QString &text);
// First match of pattern in text, in UTF-16 units.
std::optional<std::pair<qsizetype, qsizetype>> firstMatchRange(const QRegularExpression &pattern, QStringView text);

// One line's looks.
StyledLine applyLine(const Line &line, LineKind kind, bool isLead);
// Every line that intersects the range, styled with the fence state before
// it and the lead line of the whole text. A range of length below 1 or a
// negative location styles nothing; the range must start at a line start.
QList<StyledLine> style(const QString &text, qsizetype location, qsizetype length);

// The state one text block hands to the next: whether a fenced block is open
// after it and whether a non-blank line came before it. A highlighter keeps
// it as the block state, so an edit restyles only until the state settles.
struct BlockState {
    bool insideFence = false;
    bool contentSeen = false;
    int toInt() const { return (insideFence ? 1 : 0) | (contentSeen ? 2 : 0); }
    static BlockState fromInt(int value) { return {value >= 0 && (value & 1), value >= 0 && (value & 2)}; }
    bool operator==(const BlockState &) const = default;
};
struct StyledBlock {
    QList<StyledLine> lines;
    BlockState after;
};
// Styles one text block (usually one line) given the state before it.
StyledBlock styleBlock(const QString &blockText, BlockState before);

} // namespace editor::ProsePresenter
