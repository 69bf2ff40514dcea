#pragma once
// The texts and tint of one row of a list of pieces (the library column, its
// search results, the archive pane), worked out from the piece alone.

#include "library/post.h"

#include <QString>
#include <optional>

namespace panes {

struct LibraryPostRow {
    // The mark after an outline's title: a space and U+2733.
    static const QString outlineMark;

    library::Post post;
    bool selected = false;
    bool hover = false;

    // The title line: the title verbatim, with the mark for an outline.
    QString titleText() const;
    // The origin line: "writer" or "ai".
    QString originText() const;
    // The tooltip: the title, with " — outline" for an outline.
    QString helpText() const;
    // "Title, Pass-1 Done, origin writer"; the type is left out.
    QString accessibilityText() const;
    // The ink opacity behind the row: selection (8 %) wins over hover (6 %).
    std::optional<double> rowTint() const;
    // The selection strip keeps its room either way; only its opacity changes.
    double stripOpacity() const { return selected ? 1.0 : 0.0; }
};

} // namespace panes
