#pragma once
// Where dropped images land in the prose text and what is inserted there:
// the line boundary nearest the pointer's height, never inside a word, and
// links placed so that the line they land on keeps its meaning (a heading,
// a list item or a quote stays one). Pure functions over the text and the
// laid-out lines the view hands in.

#include "foundation/text.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace editor::ImageDrop {

using Range = foundation::text::Range;

// One laid-out line on screen, top to bottom: the position it starts at, the
// position after its last character (before a line break that ends it) and
// the height of its middle, growing downward.
struct Line {
    qsizetype start = 0;
    qsizetype end = 0;
    double middle = 0;
    bool operator==(const Line &) const = default;
};

// The start of the first line whose middle lies below pointerY; below every
// line's middle, the end of the last line. No lines: 0.
qsizetype boundaryNear(const QList<Line> &lines, double pointerY);

// A position inside a word (characters that are not white space on both
// sides) moves to the end of that word; any other stays.
qsizetype pastWord(const QString &text, qsizetype position);

// "![alt](path)".
QString link(const QString &path);

// The text to insert at position and what is selected afterwards (the first
// link's "alt"). The links are joined by single spaces; at the start of a
// line that holds anything but white space a line break follows them, after
// a character that is not white space a space comes first, and before one
// inside a line a space comes after.
struct Insertion {
    qsizetype position = 0;
    QString text;
    Range selection;
    bool operator==(const Insertion &) const = default;
};
Insertion insertion(const QString &text, qsizetype position, const QStringList &paths);

} // namespace editor::ImageDrop
