#pragma once
// The posts pane's choices, decided from the library model and the width it
// is given: which columns show, what the editor area holds and under which
// identity key an editor lives.

#include <QString>
#include <optional>

namespace model {
class PostsModel;
}

namespace panes {

struct PostsPaneColumns {
    bool libraryColumn = false;
    bool mentor = false;
    bool operator==(const PostsPaneColumns &) const = default;
};

namespace PostsPaneLayout {

constexpr double libraryColumnThreshold = 1044;
constexpr double mentorThreshold = 864;
constexpr int libraryColumnWidth = 232;
constexpr int mentorWidth = 356;

// Both thresholds count as met: 864 shows the mentor, 863.5 does not.
PostsPaneColumns regular(double availableWidth);
// In focus mode the column never shows; the mentor only in its overlay
// panel, and not at all while the writing lock holds.
PostsPaneColumns focused(double availableWidth, bool writingLocked);

} // namespace PostsPaneLayout

// What the editor area shows: the first case that applies.
struct PostsEditorContent {
    enum class Case { draft, outsideFile, openPiece, nothingOpen, heldOutline };
    Case which = Case::nothingOpen;
    // The editor's identity: while it stays the same the editor is kept.
    // Empty for the two empty states.
    QString identityKey;
    // Whether the editor edits an outline.
    bool outline = false;
    // Only the editor of an open library piece can publish.
    bool publish = false;

    bool showsEditor() const { return which == Case::draft || which == Case::outsideFile || which == Case::openPiece; }
    bool operator==(const PostsEditorContent &) const = default;

    static PostsEditorContent of(const model::PostsModel &model);
    // The outline flag of the open piece id (none for an outside file).
    static bool openPieceIsOutline(const model::PostsModel &model, const std::optional<QString> &id);

    // The empty state's glyph name and message.
    static QString emptySymbol(Case which);
    static QString emptyMessage(Case which);
};

} // namespace panes
