#pragma once
// A one-line label that keeps its whole text, also as its tool tip, and shows
// as much of it as its width allows, cut where its mode says. Copying a cut
// text copies the whole of it: the ellipsis is never the value.

#include <QLabel>

namespace app {

class ElidedLabel : public QLabel {
public:
    explicit ElidedLabel(Qt::TextElideMode mode, QWidget *parent = nullptr);

    void setFullText(const QString &text);
    const QString &fullText() const { return m_full; }
    // As wide as the whole text: a layout with room shows all of it.
    QSize sizeHint() const override;

protected:
    void resizeEvent(QResizeEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    void elide();
    bool isCut() const { return text() != m_full; }
    void copyFullText() const;

    Qt::TextElideMode m_mode;
    QString m_full;
};

} // namespace app
