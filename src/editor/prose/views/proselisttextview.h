#pragma once
// The prose editor's text view: list keys over the pure list operations, each
// applied as one undoable change; plain-text pastes and text drops; the text
// read back exactly as the writer typed it; and the note of the last edit
// that stayed within one line, for the bookkeeping that follows each change.

#include "editor/prose/prosedropbridge.h"
#include "editor/prose/proselist.h"
#include "editor/prose/views/filedroptextview.h"

#include <functional>
#include <optional>

namespace editor {

class ProseListTextView : public FileDropTextView, public ProseDropTarget {
    Q_OBJECT
public:
    // The last accepted edit within one line: the replaced range and the
    // replacement's length minus the range's.
    struct PlainEdit {
        ProseList::Range range;
        qsizetype delta = 0;
        bool operator==(const PlainEdit &) const = default;
    };

    explicit ProseListTextView(QWidget *parent = nullptr);

    // The text as the writer has it: QTextDocument keeps block ends as
    // U+2029, which go back to line feeds; NBSP and U+2028 stay (toPlainText
    // would turn them into a space and a line feed).
    QString rawText() const;
    static QString rawTextOf(const QTextDocument &document);

    // Applies a list edit as one undoable change and puts the caret at its
    // caret, clamped to the text. False when nothing changed.
    bool applyEdit(const ProseList::Edit &edit);

    const std::optional<PlainEdit> &pendingPlainEdit() const { return m_pendingPlainEdit; }
    // After each change and each load: the edit has been handled.
    void refreshAfterTextChange();

    // The folder dropped images go into; none for a draft or an outside file.
    std::optional<QString> ingestFolder;
    // Dropped files that the app routes back here. Image drops are not taken
    // yet: the drop is refused.
    bool ingestDrop(const QList<QUrl> &urls) override;
    // After each resize of the visible area, once the text has been laid out
    // for it: before the first paint on show, and on every resize after.
    std::function<void()> onViewportResized;

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool canInsertFromMimeData(const QMimeData *source) const override;
    void insertFromMimeData(const QMimeData *source) override;

private:
    void noteChange(int position, int removed, int added);
    // Tab, Shift+Tab, Alt+Up and Alt+Down on a list line; false when the key
    // is not one of them there.
    bool listKey(QKeyEvent *event);

    std::optional<PlainEdit> m_pendingPlainEdit;
    int m_blockCount = 1;
};

} // namespace editor
