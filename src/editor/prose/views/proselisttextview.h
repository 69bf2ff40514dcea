#pragma once
// The prose editor's text view: list keys over the pure list operations, each
// applied as one undoable change; plain-text pastes and text drops; the text
// read back exactly as the writer typed it; and the note of the last edit
// that stayed within one line, for the bookkeeping that follows each change.
//
// Folds: a folded list item's nested lines are hidden blocks (the layout is
// told; no format, no undo step, no character changes). The chevrons and
// badges are painted over the viewport from hints recomputed after a change,
// at the places the layout gives when painting, so they follow scrolling and
// resizing. The caret never rests in a hidden line, and a change that meets
// a folded scope unfolds it.

#include "editor/prose/prosedropbridge.h"
#include "editor/prose/prosefolds.h"
#include "editor/prose/proselist.h"
#include "editor/prose/views/filedroptextview.h"

#include <QHash>
#include <QPixmap>

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
    // After each change and each load: the folds are kept in step with the
    // edit (by arithmetic after a change within one line, else re-found in a
    // fresh scan) and the chrome is refreshed.
    void refreshAfterTextChange();
    // Puts a new text in from code (a load): folds whose item line is still
    // found stay folded.
    void replaceText(const QString &text);

    // Folds.
    const QList<ProseFolds::Fold> &folds() const { return m_folds; }
    // Folds hint's item when open, unfolds it when folded.
    void toggleFold(const ProseList::ParentHint &hint);
    // Unfolds every fold whose hidden lines range meets (a find hit).
    void unfoldAround(ProseList::Range range);
    // The parent hints of the text as it is now (computed once per change).
    const QList<ProseList::ParentHint> &parentHints();
    // How many times the folds were re-found in a fresh scan.
    int foldRescans() const { return m_foldRescans; }

    // The chrome: the chevrons as last laid out, and how many layouts were
    // not skipped.
    const QList<ProseFolds::ChromeHint> &chromeHints() const { return m_chrome; }
    int chromeLayouts() const { return m_chromeLayouts; }
    // Where the chevron and the badge of an item are drawn (viewport
    // coordinates), or none when not shown.
    std::optional<QRectF> chevronRect(qsizetype markerStart) const;
    std::optional<QRectF> badgeRect(qsizetype markerStart) const;
    static constexpr qreal kGlyphWidth = 64;
    static constexpr qreal kGlyphHeight = 17.6;

    // The folder dropped images go into; none for a draft or an outside file.
    std::optional<QString> ingestFolder;
    // Dropped files that the app routes back here: images go into
    // ingestFolder's assets/ and are linked in the text.
    bool ingestDrop(const QList<QUrl> &urls) override;
    // After each resize of the visible area, once the text has been laid out
    // for it: before the first paint on show, and on every resize after.
    std::function<void()> onViewportResized;

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    bool canInsertFromMimeData(const QMimeData *source) const override;
    void insertFromMimeData(const QMimeData *source) override;
    void revealInserted(ProseList::Range range) override;

private:
    void noteChange(int position, int removed, int added);
    // Tab, Shift+Tab, Alt+Up and Alt+Down on a list line; false when the key
    // is not one of them there.
    bool listKey(QKeyEvent *event);

    // The single-line path; false when a scope is no longer hidden as
    // expected (the rescan then sets things right).
    bool applyPlainEditToFolds();
    void rescanFolds();
    // Shows and hides the blocks of ranges (all of them when none) by the
    // folds, telling the layout of each block that changed.
    void applyVisibility(std::optional<QList<ProseList::Range>> ranges = std::nullopt);
    void keepCaretOutside();
    void scheduleChromeRefresh(std::optional<ProseList::Range> edited);
    void layoutChrome();
    // The first character's rectangle of the line starting at position.
    // The caret's rectangle at position, in viewport coordinates.
    std::optional<QRectF> caretRect(qsizetype position) const;
    ProseFolds::TextEnd textEnd() const;
    // The text positions the viewport shows.
    std::pair<qsizetype, qsizetype> shownRange() const;
    const QPixmap &glyph(const QString &text, bool folded);
    // The chevron hit by a click at point, if any.
    std::optional<ProseList::ParentHint> chevronAt(const QPointF &point);

    std::optional<PlainEdit> m_pendingPlainEdit;
    int m_blockCount = 1;
    int m_changesSinceRefresh = 0;
    bool m_replacing = false;
    bool m_listEditing = false;
    bool m_foldsNeedRescan = false;
    bool m_snapping = false;
    bool m_arrowing = false;
    QList<ProseList::Range> m_reveal;
    std::optional<ProseList::Range> m_lastEdit;
    int m_foldRescans = 0;

    QList<ProseFolds::Fold> m_folds;
    quint64 m_textRevision = 0;
    mutable quint64 m_rawRevision = ~quint64(0);
    mutable QString m_raw;
    quint64 m_hintsRevision = ~quint64(0);
    QList<ProseList::ParentHint> m_hints;
    qsizetype m_lastCaret = 0;

    QList<ProseFolds::ChromeHint> m_chrome;
    std::optional<QList<ProseFolds::ChromeHint>> m_drawnChrome;
    bool m_chromePosted = false;
    bool m_chromeFull = false;
    std::optional<ProseList::Range> m_chromeEdited;
    int m_chromeLayouts = 0;
    QHash<QString, QPixmap> m_glyphs;
    qreal m_glyphRatio = 0;
};

} // namespace editor
