#pragma once
// The editable text view under both editors. Drags that carry URLs (files
// from the file manager, links) never reach the text system: they go to
// onFileDrop, or are refused when none is set. Drags of text alone keep the
// text view's own behaviour.
//
// Images routed back to the view are copied into a saved piece's assets/
// and linked at the line boundary nearest the pointer's height, as one
// undoable change; a refusal is explained by a notice over the top of the
// view.

#include "editor/prose/imagedrop.h"

#include <QList>
#include <QTextEdit>
#include <QUrl>

#include <chrono>
#include <functional>
#include <optional>

class QLabel;
class QMimeData;
class QTimer;

namespace editor {

class FileDropTextView : public QTextEdit {
    Q_OBJECT
public:
    // urls: at least one URL, in the drag's order (URLs win over text);
    // text: no URL but plain text; none: neither.
    struct DropKind {
        enum class Kind { urls, text, none };
        Kind kind = Kind::none;
        QList<QUrl> urls;
        bool operator==(const DropKind &) const = default;
    };
    using FileDrop = std::function<bool(const QList<QUrl> &urls)>;

    explicit FileDropTextView(QWidget *parent = nullptr);

    // Answers whether the drop was taken.
    FileDrop onFileDrop;

    // What a drag carries; pure, reads nothing but data.
    static DropKind classify(const QMimeData &data);
    // The drag's kind, classified once when it enters and reused by the
    // moves and the drop of the same drag.
    DropKind dropKind(const QMimeData &data, bool newDrag);

    // How long a notice stays up.
    static constexpr std::chrono::milliseconds kNoticeDuration{4000};

    // Copies the dropped images into folder's assets/ (a saved piece's
    // folder; none for a draft or an outside file) and inserts their links
    // at the line boundary nearest the pointer, with the first "alt"
    // selected. False, with a notice saying why, when anything is refused:
    // nothing is inserted then (images copied before a failure stay).
    bool ingestImages(const QList<QUrl> &urls, const std::optional<QString> &folder);
    // Shows message centred over the top of the view; a second notice while
    // one is up replaces its text and starts its time again.
    void showDropNotice(const QString &message);
    QLabel *dropNotice() const { return m_notice; }
    QTimer *dropNoticeTimer() const { return m_noticeTimer; }
    const std::optional<QString> &lastDropNotice() const { return m_lastNotice; }
    // The laid-out lines whose middles lie in the visible area, top to
    // bottom, in the visible area's coordinates; a text's final empty line
    // holds no character and is left out.
    QList<ImageDrop::Line> visibleLines() const;

protected:
    // Called after links were inserted over range, before their "alt" is
    // selected and scrolled to: a view that hides lines shows them.
    virtual void revealInserted(ImageDrop::Range range);

    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    // What entering and moving over the view answer (one body for both).
    void offerDrag(QDragMoveEvent *event, bool entering);

    // The pointer's height over the visible area: the drop's own while
    // one is handed on, else the mouse's.
    double pointerY() const;

    std::optional<DropKind> m_dropProbe;
    const QMimeData *m_probedData = nullptr;
    std::optional<double> m_dropY;
    QLabel *m_notice = nullptr;
    QTimer *m_noticeTimer = nullptr;
    std::optional<QString> m_lastNotice;
};

} // namespace editor
