#pragma once
// List editing by keys over the prose editor's whole text: lines, item blocks,
// fold hints, the list context at the caret, and the indent, outdent and move
// edits. Pure functions: each scans the text it is given and returns values;
// the text view applies the edit as one undoable change.
//
// A caret from outside the text is first snapped back to a grapheme
// boundary, so an edit never lands between the halves of a surrogate pair.

#include "foundation/text.h"

#include <QString>
#include <QStringList>
#include <QStringView>

#include <functional>
#include <optional>

namespace editor::ProseList {

using Range = foundation::text::Range;

struct Line {
    Range range;   // terminator included
    Range content; // without the trailing CR and LF characters
    QString text;
    int indent = 0; // columns of leading white space: space 1, tab 2
    bool isList = false;
    bool isBlank = false;
    // Plain body text, the only kind that continues an item lazily: a heading,
    // quote, rule or fence under an item starts a block of its own.
    bool isBody = false;
};

struct ParentHint {
    Range markerLine;
    qsizetype markerEnd = 0;
    qsizetype contentOffset = 0;
    Range foldScope;
    int hiddenLineCount = 0;
    bool operator==(const ParentHint &) const = default;
};

struct Edit {
    Range range;
    QString replacement;
    qsizetype caret = 0; // the caller clamps it to the text
    bool operator==(const Edit &) const = default;
};

struct Fold {
    Range scope;
    int hiddenLineCount = 0;
    bool operator==(const Fold &) const = default;
};

struct ListContext {
    Range line;
    qsizetype markerEnd = 0;
    qsizetype contentOffset = 0;
    Range block;
    std::optional<Fold> fold;
    int indent = 0;
    bool operator==(const ListContext &) const = default;
};

struct ItemBlock {
    int lastLine = 0;
    // The fold's first line and that line's start, when the block has deeper
    // lines.
    std::optional<std::pair<int, qsizetype>> foldStart;
};

struct BlockText {
    QStringList pieces; // cut at LF
    bool removedFinalLF = false;
};

QList<Line> scanLines(const QString &text);
QList<ParentHint> parentHints(const QString &text, const std::function<void(qsizetype)> &lineCountObserver = {});
std::optional<ListContext> listContext(qsizetype caret, const QString &text);
std::optional<Edit> indent(const ListContext &context, qsizetype caret, const QString &text);
std::optional<Edit> outdent(const ListContext &context, qsizetype caret, const QString &text);
// direction: -1 up, +1 down.
std::optional<Edit> moveItem(const ListContext &context, qsizetype caret, int direction, const QString &text);

int indentWidth(QStringView text);
int contentColumn(QStringView text);
qsizetype contentOffset(const Line &line);
ItemBlock itemBlock(const QList<Line> &lines, int item, int indent);
BlockText blockLines(const QString &text, Range range);
// Leading white space removed while the width removed is below width: the
// removed prefix and the rest.
std::pair<QString, QString> stripIndent(const QString &lineText, int width);

} // namespace editor::ProseList
