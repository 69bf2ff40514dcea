#pragma once
// The small pieces the settings pages share: field captions, the rounded
// card behind a block, the z.ai key-type segment and a connection test's
// result line.

#include "chrome/workspacechrome.h"
#include "profiles/providerprobe.h"
#include "profiles/settingstypes.h"

#include <QAbstractButton>
#include <QColor>
#include <QComboBox>
#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>
#include <functional>
#include <memory>

namespace profiles {

class SettingsModel;

using app::plainLabel;
// The default design at a pixel size.
QFont defaultDesign(int pixelSize, QFont::Weight weight = QFont::Normal);
// Text in this colour in every role a label, field or button draws with.
void setTextColour(QWidget *widget, const QColor &colour);
using app::fillBackground;
// A page's title: serif 15, semibold, ink.
QLabel *pageTitle(const QString &text);
// A page's column on owner, 24 in from the sides and 17 from the top, 4
// apart, opening with its title and a muted line under it.
QVBoxLayout *titledPage(QWidget *owner, const QString &title, const QString &subtitle, int bottom);
// A column layout on owner (may be null) without margins.
QVBoxLayout *bareColumn(QWidget *owner, int spacing);

// The caption above a field: mono 11, spaced, upper case, muted.
class SettingsFieldLabel : public QLabel {
    Q_OBJECT
public:
    explicit SettingsFieldLabel(const QString &text, QWidget *parent = nullptr);
};

// A menu picker that a turn of the wheel passes over: every change of it is
// written to the engine, so only a click or a key may make one.
class SettingsPicker : public QComboBox {
    Q_OBJECT
public:
    using QComboBox::QComboBox;

protected:
    void wheelEvent(QWheelEvent *event) override;
};

// A card: page fill with a 1-wide rule border inside its rounded edge.
class RoundedPanel : public QWidget {
    Q_OBJECT
public:
    explicit RoundedPanel(qreal radius, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    qreal m_radius;
};

// The two-way choice of z.ai's key type. Every press reaches choose, also a
// press on the type already chosen.
class KeyTypeSegment : public RoundedPanel {
    Q_OBJECT
public:
    explicit KeyTypeSegment(std::shared_ptr<SettingsModel> model, QWidget *parent = nullptr);

    QAbstractButton *button(ZaiKeyType type) const;
    // SettingsModel::setZaiKeyType unless replaced.
    std::function<void(ZaiKeyType)> choose;

private:
    void refresh();

    std::shared_ptr<SettingsModel> m_model;
    QList<QAbstractButton *> m_buttons;
};

// The text cut in the middle until it wraps into at most maxLines lines of
// width in font; the text itself when it already does.
QString middleElidedLines(const QString &text, const QFont &font, int width, int maxLines);

// One finished connection test: the works line in the accent colour, any
// other outcome in orange, at most two lines cut in the middle, with the
// whole text as tooltip.
class TestConnectionResult : public QWidget {
    Q_OBJECT
public:
    explicit TestConnectionResult(const ProviderProbe::Outcome &outcome, QWidget *parent = nullptr);

    static constexpr int maxLines = 2;
    const QString &text() const { return m_text; }
    // What is drawn at the current width.
    QString shownText() const;
    QColor colour() const { return m_colour; }

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QStringList lines(int width) const;

    QString m_text;
    QColor m_colour;
    bool m_works;
};

} // namespace profiles
