#pragma once
// The working state of one outline editor, without a view: the preamble and
// tree built from the text, folds, zoom, focus and selection, the drag under
// way, and every operation on them that keys, clicks and drops trigger. Each
// change of the text is handed to the commit sink as the whole outline text.
//
// The text is taken in only when the load generation moves. A reloaded text
// holding lines the outline cannot show is never taken in: the state holds
// (no rows, no write-back) until a later load brings a text it can show, so a
// reload can never shorten the file behind the writer's back. Only the text a
// session opened with (generation 0, loaded first) is taken as it is: the
// library asks the writer before it opens a lossy outline as an outline.

#include "editor/outline/outlinepresenter.h"

#include <QHash>
#include <QStringList>

#include <functional>
#include <optional>

namespace editor::outline {

class OutlineEditorState {
public:
    using Row = OutlinePresenter::Row;
    using CommitSink = std::function<void(const QString &text)>;
    // The frames of the rows' catchers by node id (y grows downward).
    using RowFrames = QHash<QUuid, QRectF>;

    enum class LoadResult {
        unchanged, // the generation was already loaded
        loaded,
        held, // the text would lose lines: nothing taken in, nothing written
    };

    explicit OutlineEditorState(CommitSink sink = {}) : m_sink(std::move(sink)) {}
    void setCommitSink(CommitSink sink) { m_sink = std::move(sink); }

    // --- Loading and write-back --------------------------------------------

    // A session's text at its load generation; loads only when the
    // generation differs from the one loaded.
    LoadResult reloadFromSession(qint64 generation, const QString &text);
    // A draft's text, read once (generation 0).
    LoadResult loadDraft(const QString &text);
    // The last load found lines the outline cannot show.
    bool isHeld() const { return m_held; }
    // Preamble and tree as outline text, LF-joined, no final LF.
    QString outlineText() const;
    // Hands outlineText() to the sink; nothing while held.
    void commit();
    // The first non-blank preamble line without its leading "#", trimmed.
    std::optional<QString> outlineTitle() const;

    // --- State ---------------------------------------------------------------

    const QStringList &preamble() const { return m_preamble; }
    const Nodes &nodes() const { return m_nodes; }
    const QSet<QUuid> &folded() const { return m_folded; }
    const std::optional<QUuid> &focusedID() const { return m_focusedID; }
    const std::optional<QUuid> &selectionAnchor() const { return m_selectionAnchor; }
    const std::optional<qsizetype> &pendingCaret() const { return m_pendingCaret; }
    const QList<QUuid> &zoomStack() const { return m_zoomStack; }
    qint64 loadedGeneration() const { return m_loadedGeneration; }
    const std::optional<DragInfo> &drag() const { return m_drag; }
    const std::optional<QUuid> &hoverID() const { return m_hoverID; }
    std::optional<QUuid> zoomRoot() const;
    QList<Row> visibleRows() const;

    // --- Selection and focus ---------------------------------------------------

    // Visible rows from one id's row to the other's, in row order; none when
    // either is not visible.
    std::optional<QList<QUuid>> selectionRange(const QUuid &a, const QUuid &b) const;
    bool isSelected(const QUuid &id) const;
    void focusRow(const QUuid &id);
    void extendSelection(const QUuid &id);
    void moveFocus(int direction, bool dropAnchor);
    void editRowText(const QUuid &id, const QString &text);
    qsizetype childCount(const QUuid &id) const;

    // --- Structure operations --------------------------------------------------

    void handleStructure(const StructureOp &op);
    // The several-row path of indent, outdent and the moves; true when taken.
    bool applySelectionOp(const StructureOp &op, const QUuid &focused);
    // The one-row path of enter, indent, outdent and the moves.
    void applyRowOp(const StructureOp &op);
    struct Split {
        bool changed = false;
        std::optional<QUuid> newID; // the new row, focused with caret 0
    };
    Split splitFocusedRow(qsizetype caretGraphemes, const IndexPath &path);
    // Drops the selection, else leaves one zoom level; true when it acted.
    bool deselectOrZoomOut();

    // --- Zoom and folds ----------------------------------------------------------

    void zoomIn(const QUuid &id);
    void zoomOut();
    void zoomToTop();
    void zoomToLevel(qsizetype level);
    void reconcileWithVisibleRows();
    QString crumbTitle(qsizetype level) const;
    void toggleFold(const QUuid &id);
    // The pointer entered or left a row; a late "left" of another row keeps
    // the newer hover.
    void setHover(const QUuid &id, bool entered);
    // Extra space above rows (10 px) by row id; rows without one are absent.
    static QHash<QUuid, qreal> rowGaps(const QList<Row> &rows);

    // --- Drag and drop -------------------------------------------------------------

    QList<QUuid> dragPayload(const QUuid &id) const;
    void beginDrag(const QList<QUuid> &ids);
    void dragMoved(const QPointF &point, const RowFrames &frames);
    // Ends the drag and drops at the point; true when nodes moved.
    bool dragEnded(const std::optional<QPointF> &point, const std::optional<RowFrames> &frames);
    QList<OutlinePresenter::FramedRow> framedRows(const RowFrames &frames) const;

private:
    LoadResult takeIn(const QString &text, bool acceptLoss);
    std::optional<QList<QUuid>> currentSelection() const;

    CommitSink m_sink;
    QStringList m_preamble;
    Nodes m_nodes;
    QSet<QUuid> m_folded;
    std::optional<QUuid> m_focusedID;
    std::optional<QUuid> m_selectionAnchor;
    std::optional<qsizetype> m_pendingCaret;
    qint64 m_loadedGeneration = -1;
    QList<QUuid> m_zoomStack;
    std::optional<DragInfo> m_drag;
    std::optional<QUuid> m_hoverID;
    bool m_held = false;
};

} // namespace editor::outline
