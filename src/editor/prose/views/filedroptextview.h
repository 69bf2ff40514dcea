#pragma once
// The editable text view under both editors. Drags that carry URLs (files
// from the file manager, links) never reach the text system: they go to
// onFileDrop, or are refused when none is set. Drags of text alone keep the
// text view's own behaviour.

#include <QList>
#include <QTextEdit>
#include <QUrl>

#include <functional>
#include <optional>

class QMimeData;

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

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    // What entering and moving over the view answer (one body for both).
    void offerDrag(QDragMoveEvent *event, bool entering);

    std::optional<DropKind> m_dropProbe;
    const QMimeData *m_probedData = nullptr;
};

} // namespace editor
