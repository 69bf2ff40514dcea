#pragma once
// The search row under the library column's header: a magnifying glass, the
// "Search posts" field and, while a search is active, the clear button, on a
// rounded near-white field edged in brick red while the field has the focus.
// Also the indeterminate spinner the column shows while a search waits.

#include <QTimer>
#include <QWidget>

class QLineEdit;

namespace panes {

class GlyphButton;

class LibrarySearchRow : public QWidget {
    Q_OBJECT
public:
    explicit LibrarySearchRow(QWidget *parent = nullptr);

    QLineEdit *field() const { return m_field; }
    GlyphButton *clearButton() const { return m_clear; }
    bool fieldFocused() const { return m_focused; }

signals:
    // Every change of the field's text, typed or cleared.
    void queryChanged(const QString &query);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    QRect fieldShape() const;

    QLineEdit *m_field;
    GlyphButton *m_clear;
    bool m_focused = false;
};

class BusySpinner : public QWidget {
    Q_OBJECT
public:
    explicit BusySpinner(QWidget *parent = nullptr);
    QSize sizeHint() const override { return {28, 28}; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    QTimer m_tick;
    int m_angle = 0;
};

} // namespace panes
