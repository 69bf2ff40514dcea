#include "settingswidgets.h"

#include "chrome/palette.h"
#include "profiles/settingsmodel.h"
#include "profiles/settingspages.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QTextLayout>
#include <QWheelEvent>

namespace profiles {

using app::Palette;
using app::Typeface;

QFont defaultDesign(int pixelSize, QFont::Weight weight)
{
    return Typeface::font(QFont().family(), pixelSize, weight);
}

void setTextColour(QWidget *widget, const QColor &colour)
{
    QPalette palette = widget->palette();
    for (const QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(role, colour);
    widget->setPalette(palette);
}

QLabel *pageTitle(const QString &text)
{
    return plainLabel(text, Typeface::font(Typeface::serif(), 15, QFont::DemiBold), Palette::ink());
}

QVBoxLayout *titledPage(QWidget *owner, const QString &title, const QString &subtitle, int bottom)
{
    auto *page = new QVBoxLayout(owner);
    page->setContentsMargins(24, 17, 24, bottom);
    page->setSpacing(4);
    page->addWidget(pageTitle(title));
    page->addWidget(plainLabel(subtitle, defaultDesign(12), Palette::inkMuted()));
    return page;
}

QVBoxLayout *bareColumn(QWidget *owner, int spacing)
{
    auto *column = owner ? new QVBoxLayout(owner) : new QVBoxLayout;
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(spacing);
    return column;
}

// SettingsFieldLabel

SettingsFieldLabel::SettingsFieldLabel(const QString &text, QWidget *parent) : QLabel(text.toUpper(), parent)
{
    setTextFormat(Qt::PlainText);
    QFont font = Typeface::font(Typeface::mono(), 11);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 0.5);
    setFont(font);
    setTextColour(this, Palette::inkMuted());
}

// SettingsPicker

void SettingsPicker::wheelEvent(QWheelEvent *event)
{
    // Left to the page behind, which may scroll.
    event->ignore();
}

// RoundedPanel

RoundedPanel::RoundedPanel(qreal radius, QWidget *parent) : QWidget(parent), m_radius(radius) {}

void RoundedPanel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF shape(rect());
    QPainterPath outer;
    outer.addRoundedRect(shape, m_radius, m_radius);
    QPainterPath inner;
    inner.addRoundedRect(shape.adjusted(1, 1, -1, -1), m_radius - 1, m_radius - 1);
    painter.fillPath(outer.subtracted(inner), Palette::rule());
    painter.fillPath(inner, Palette::page());
}

// KeyTypeSegment

namespace {

// One choice of the segment: ink fill and canvas text when chosen, muted
// text on nothing otherwise.
class SegmentButton : public QAbstractButton {
public:
    explicit SegmentButton(const QString &text)
    {
        setText(text);
        setFont(defaultDesign(12));
        // Checked carries the "selected" state to accessibility; the model
        // decides it, never a click.
        setCheckable(true);
        setCursor(Qt::PointingHandCursor);
    }

    QSize sizeHint() const override
    {
        const QFontMetrics metrics(font());
        return {metrics.horizontalAdvance(text()) + 20, metrics.height() + 8};
    }

protected:
    void nextCheckState() override {}

    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        if (isChecked()) {
            QPainterPath fill;
            fill.addRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 6, 6);
            painter.fillPath(fill, Palette::ink());
        }
        painter.setPen(isChecked() ? Palette::canvas() : Palette::inkMuted());
        painter.setFont(font());
        painter.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine, text());
    }
};

} // namespace

KeyTypeSegment::KeyTypeSegment(std::shared_ptr<SettingsModel> model, QWidget *parent)
    : RoundedPanel(7, parent), m_model(std::move(model))
{
    setAccessibleName(QStringLiteral("z.ai key type"));
    choose = [model = m_model.get()](ZaiKeyType type) { model->setZaiKeyType(type); };
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    for (const ZaiKeyType type : ZaiKeyType::allCases()) {
        auto *button = new SegmentButton(type == ZaiKeyType::standard ? QStringLiteral("Standard (pay-as-you-go)")
                                                                      : QStringLiteral("Coding plan"));
        connect(button, &QAbstractButton::clicked, this, [this, type] {
            if (choose)
                choose(type);
        });
        row->addWidget(button);
        m_buttons << button;
    }
    connect(m_model.get(), &SettingsModel::zaiKeyTypeChanged, this, &KeyTypeSegment::refresh);
    refresh();
}

QAbstractButton *KeyTypeSegment::button(ZaiKeyType type) const
{
    return m_buttons.value(ZaiKeyType::allCases().indexOf(type));
}

void KeyTypeSegment::refresh()
{
    for (const ZaiKeyType type : ZaiKeyType::allCases())
        button(type)->setChecked(type == m_model->zaiKeyType());
}

// TestConnectionResult

namespace {

QStringList wrapped(const QString &text, const QFont &font, int width)
{
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    QStringList lines;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(std::max(1, width));
        lines << text.mid(line.textStart(), line.textLength());
    }
    layout.endLayout();
    return lines;
}

} // namespace

QString middleElidedLines(const QString &text, const QFont &font, int width, int maxLines)
{
    if (wrapped(text, font, width).size() <= maxLines)
        return text;
    // The most characters kept, half from each end, that still wrap into
    // maxLines.
    const auto cut = [&text](qsizetype kept) {
        const qsizetype head = (kept + 1) / 2;
        return text.left(head) + QStringLiteral("…") + text.right(kept - head);
    };
    qsizetype low = 0;
    qsizetype high = text.size() - 1;
    while (low < high) {
        const qsizetype middle = (low + high + 1) / 2;
        if (wrapped(cut(middle), font, width).size() <= maxLines)
            low = middle;
        else
            high = middle - 1;
    }
    return cut(low);
}

TestConnectionResult::TestConnectionResult(const ProviderProbe::Outcome &outcome, QWidget *parent)
    : QWidget(parent), m_text(testResultText(outcome)), m_works(outcome.which == ProviderProbe::Outcome::Case::works)
{
    m_colour = m_works ? Palette::accent() : Palette::systemOrange();
    setFont(Typeface::font(Typeface::mono(), 11));
    if (!m_works)
        setToolTip(m_text);
    setAccessibleName(m_text);
    QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

QStringList TestConnectionResult::lines(int width) const
{
    if (m_works)
        return {m_text};
    return wrapped(middleElidedLines(m_text, font(), width, maxLines), font(), width);
}

QString TestConnectionResult::shownText() const
{
    return lines(width()).join(QString());
}

int TestConnectionResult::heightForWidth(int width) const
{
    return int(lines(width).size()) * QFontMetrics(font()).lineSpacing();
}

QSize TestConnectionResult::sizeHint() const
{
    const QFontMetrics metrics(font());
    return {metrics.horizontalAdvance(m_text), metrics.lineSpacing()};
}

QSize TestConnectionResult::minimumSizeHint() const
{
    return {0, QFontMetrics(font()).lineSpacing()};
}

void TestConnectionResult::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setFont(font());
    painter.setPen(m_colour);
    const QFontMetrics metrics(font());
    int y = 0;
    for (const QString &line : lines(width())) {
        painter.drawText(QRect(0, y, width(), metrics.lineSpacing()), Qt::AlignLeft | Qt::AlignVCenter, line);
        y += metrics.lineSpacing();
    }
}

} // namespace profiles
