#pragma once
// The flat list of items the library's list views show: group headers,
// pass-state captions and piece rows for the grouped library, a match caption
// and rows for the search results, headers and rows for the archive. Selection and hover are not
// part of an item, so changing them touches single rows only.

#include "library/post.h"
#include "panes/library/librarygroups.h"

#include <QList>
#include <QString>

namespace panes {

struct LibraryColumnItem {
    enum class Kind { groupHeader, caption, row };
    Kind kind = Kind::row;
    // groupHeader: the project, its live-piece count and whether it is folded.
    QString project;
    qsizetype count = 0;
    bool collapsed = false;
    // caption: its text; groupHeader: its accessibility label.
    QString text;
    // row: the piece.
    library::Post post;

    bool operator==(const LibraryColumnItem &) const = default;
};

namespace LibraryColumnItems {

// Each project of the live pieces in natural order: its header, then, while
// it is open, each pass-state section's caption and rows.
QList<LibraryColumnItem> grouped(const QList<library::Post> &posts, const CollapsedProjects &collapsed);
// The archive pane's list: each project of the archived pieces in natural
// order, its header (its text "Toggle <project>") and, while it is open, its
// rows.
QList<LibraryColumnItem> archived(const QList<library::Post> &posts, const CollapsedProjects &collapsed);
// The match caption ("3 matches") and one row per result, in order.
QList<LibraryColumnItem> results(const QList<library::Post> &results);

} // namespace LibraryColumnItems

} // namespace panes
