#pragma once
// The pieces that give every pane one look: the header with its serif title
// and hairline, the accent strip of a selected row, and the quiet bordered
// secondary button. They hold no state and read no model.

#include <QObject>
#include <QWidget>
#include <optional>

class QAbstractButton;
class QColor;
class QDialog;
class QLabel;
class QPushButton;
class QVBoxLayout;

namespace app {

// Fills the widget's background with colour.
void fillBackground(QWidget *widget, const QColor &colour);
// A one-pixel line in the rule colour: across (horizontal) or down.
QWidget *hairline(Qt::Orientation orientation = Qt::Horizontal);
// A label showing text as it is (never as markup) in font and colour.
QLabel *plainLabel(const QString &text, const QFont &font, const QColor &colour);
// The column of a window-modal sheet: 20 around, 12 between, sized to what
// it holds.
QVBoxLayout *sheetColumn(QDialog &sheet);
// The font of a sheet's title.
QFont sheetTitleFont();
// A prominent button tinted with the accent: filled, page-coloured text.
void tintProminent(QPushButton *button);
// A sheet's buttons: the quiet bordered one (24 high), and the accent-filled
// one of its one prominent action. Return presses neither.
QPushButton *borderedButton(const QString &title);
QPushButton *prominentButton(const QString &title);

class PaneHeader : public QWidget {
    Q_OBJECT
public:
    static constexpr int minRowHeight = 52;

    // trailing (may be null) goes at the trailing end and is reparented.
    PaneHeader(const QString &title, int titleInset, std::optional<int> hairlineMaxWidth, QWidget *trailing,
               QWidget *parent = nullptr);

    QLabel *titleLabel() const { return m_title; }
    // The hairline's place in header coordinates.
    QRect hairlineRect() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QLabel *m_title;
    std::optional<int> m_hairlineMaxWidth;
};

// The 2-wide accent bar beside a selected row; the row places it.
class SelectedRowStrip : public QWidget {
    Q_OBJECT
public:
    explicit SelectedRowStrip(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};

// Draws one button in the bordered secondary look: mono label, page fill,
// rule border, at 0.7 opacity while pressed. Apply it to a single button; it
// lives as the button's child.
class BorderedSecondaryButtonStyle : public QObject {
    Q_OBJECT
public:
    static constexpr qreal pressedOpacity = 0.7;

    static BorderedSecondaryButtonStyle *apply(QAbstractButton *button, int minHeight);
    int minHeight() const { return m_minHeight; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    BorderedSecondaryButtonStyle(QAbstractButton *button, int minHeight);
    void updateSize();
    void paint();

    QAbstractButton *m_button;
    int m_minHeight;
};

} // namespace app
