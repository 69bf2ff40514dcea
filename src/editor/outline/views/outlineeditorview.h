#pragma once
// The editor of an outline piece or draft: the outline as a virtualised list
// of rows (one per visible node, painted by a delegate), the focused row's
// text editor laid over its row, the zoom header with its breadcrumb, and
// the empty and held states. Every change goes through the editor state and
// is written back as the whole outline text to the editing session (or the
// draft's owner); the text comes back in only when the session's load
// generation moves.
//
// Mouse presses on a row's grip, bullet and text are the row's catchers: a
// grip press follows the pointer and becomes a drag after 4 px; Escape during
// a drag cancels it. While the view is on screen an application key filter
// gives Escape to the selection and the zoom before the row editor sees it.

#include "editor/outline/outlineeditorstate.h"
#include "editor/outline/views/rowtextview.h"

#include <QPointer>
#include <QWidget>

#include <functional>
#include <optional>

class QKeyEvent;
class QLabel;
class QListView;
class QStackedWidget;
class QHBoxLayout;

namespace model {
class EditorSession;
}

namespace editor::outline {

class OutlineRowModel;
class OutlineRowDelegate;
class OutlineListView;

class OutlineEditorView : public QWidget {
    Q_OBJECT
public:
    struct Inputs {
        // The editing session of a saved piece.
        model::EditorSession *session = nullptr;
        // A draft (no session): its text, read once, and what takes its edits.
        std::optional<QString> draftText = {};
        std::function<void(const QString &text)> onDraftEdit = {};
        // Shown in the held state: opens the piece in the prose editor.
        std::function<void()> openInProse = {};
    };

    // The parts of a row, left to right, in pixels.
    static constexpr int kGripWidth = 20;
    static constexpr int kIndent = 30;
    static constexpr int kBulletWidth = 22;
    static constexpr int kBulletHeight = 27;
    static constexpr int kTextPad = 3;
    static constexpr int kTrailing = 20;
    static constexpr int kCountGap = 6;
    // Above the first row and below the last, inside the scrolling list.
    static constexpr int kTopRoom = 24;
    static constexpr int kBottomRoom = 80;
    static constexpr int kTitleGap = 14;
    // How far a press travels before it becomes a drag.
    static constexpr int kDragThreshold = 4;

    static inline const QString emptyText = QStringLiteral("An empty outline — every line is a node.");
    static inline const QString zoomOutLabel = QStringLiteral("⟵ zoom out");
    static inline const QString heldTitle = QStringLiteral("This outline now holds lines the outliner can't show");
    static inline const QString heldText =
        QStringLiteral("Paragraph lines came in between its bullets. Nothing is written from here, so the file "
                       "keeps every line; open it in prose to see and edit them.");
    static inline const QString openInProseLabel = QStringLiteral("Open in Prose");

    // The parts of one row in the list's viewport coordinates.
    struct RowParts {
        QRect row; // without the gap above it
        QRect grip;
        QRect bullet;
        QRect text;
        QRect count; // empty when no count shows
    };

    explicit OutlineEditorView(Inputs inputs, QWidget *parent = nullptr);
    ~OutlineEditorView() override;

    OutlineEditorState &state() { return m_state; }
    const OutlineEditorState &state() const { return m_state; }
    // Brings the rows, the row editor, the header and the states in step
    // with the editor state after an operation.
    void refresh();

    QListView *listView() const;
    // The focused row's editor; null when no row shows one.
    RowTextView *rowEditor() const { return m_editor; }
    QWidget *zoomHeader() const { return m_header; }
    QWidget *emptyState() const { return m_empty; }
    QWidget *heldState() const { return m_held; }
    // The labels of the header's items in order ("⟵ zoom out", "/", ...).
    QStringList headerLabels() const;
    // The parts of a visible row; none when the row is not shown.
    std::optional<RowParts> partsOf(const QUuid &id) const;
    // The folded count drawn beside a row ("⋯ 5"), empty when none.
    static QString foldCountText(const OutlinePresenter::Row &row);
    bool dragging() const { return m_tracker && m_tracker->active; }
    // The help text of what lies under a point of the list's viewport.
    QString helpAt(const QPoint &pos) const;

    // The Escape key on its way to the application; true when it was used.
    bool handleEscKey(const QKeyEvent &event);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    friend class OutlineListView;
    friend class OutlineRowDelegate;

    struct Tracker {
        QUuid rowID;
        QPoint start;
        bool active = false;
    };

    void reload();
    void commitText(const QString &text);
    void rebuildHeader();
    void syncEditor(bool focusMoved);
    void dropEditor();
    void placeEditor();
    void rowEdited(const QUuid &id, const QString &text);
    void structure(const StructureOp &op);
    // A row's text changed without a structure change: redraw it, and lay
    // the rows out again when its height moved.
    void updateRow(const QUuid &id);
    OutlineEditorState::RowFrames rowFrames() const;
    int indexOfRow(const QUuid &id) const;

    // The catchers: presses, moves and releases in the list's viewport.
    void pressAt(const QPoint &pos, Qt::KeyboardModifiers modifiers);
    void doubleClickAt(const QPoint &pos);
    void moveAt(const QPoint &pos);
    void releaseAt(const QPoint &pos);
    void hoverAt(const std::optional<QPoint> &pos);
    void endTracking(const std::optional<QPoint> &pos);

    Inputs m_inputs;
    QPointer<model::EditorSession> m_session;
    OutlineEditorState m_state;
    QSet<QUuid> m_selected;
    std::optional<Tracker> m_tracker;
    bool m_filtering = false;

    QWidget *m_header = nullptr;
    QHBoxLayout *m_headerRow = nullptr;
    QStringList m_headerLabels;
    QStackedWidget *m_stack = nullptr;
    OutlineListView *m_list = nullptr;
    OutlineRowModel *m_model = nullptr;
    OutlineRowDelegate *m_delegate = nullptr;
    QWidget *m_empty = nullptr;
    QWidget *m_held = nullptr;
    QPointer<RowTextView> m_editor;
    QUuid m_editorID;
};

} // namespace editor::outline
