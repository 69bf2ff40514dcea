#include "app/aboutwindow.h"

#include "chrome/elidedlabel.h"
#include "chrome/palette.h"
#include "chrome/workspacechrome.h"

#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

namespace app {
namespace {

// A small row of books, in place of the platform's books symbol.
class BooksMark : public QWidget {
public:
    BooksMark() { setFixedSize(44, 40); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(Palette::ink(), 1.6));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(QRectF(6, 6, 8, 30), 1.5, 1.5);
        p.drawRoundedRect(QRectF(16, 10, 8, 26), 1.5, 1.5);
        p.save();
        p.translate(30, 8);
        p.rotate(14);
        p.drawRoundedRect(QRectF(0, 0, 8, 28), 1.5, 1.5);
        p.restore();
        p.drawLine(QPointF(3, 37), QPointF(41, 37));
    }
};

QLabel *secondary(const QString &text, int pixelSize)
{
    return plainLabel(text, Typeface::font(QFont().family(), pixelSize), Palette::inkMuted());
}

const QStringList kLabels{QStringLiteral("Engine"), QStringLiteral("Engine version"), QStringLiteral("Last checked"),
                          QStringLiteral("Binary path")};

} // namespace

AboutEngineView::AboutEngineView(QWidget *parent) : QWidget(parent)
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(12);
    setFixedWidth(width);

    column->addWidget(new BooksMark, 0, Qt::AlignHCenter);
    auto *name = new QLabel(QStringLiteral("Pennora"));
    name->setFont(Typeface::font(QFont().family(), 22, QFont::Bold));
    column->addWidget(name, 0, Qt::AlignHCenter);
    column->addWidget(secondary(QStringLiteral("A quiet desk for writing, with a mentor beside it."), 13), 0,
                      Qt::AlignHCenter);
    column->addWidget(hairline());

    m_rows = new QWidget;
    auto *grid = new QGridLayout(m_rows);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setVerticalSpacing(6);
    grid->setHorizontalSpacing(12);
    grid->setColumnStretch(1, 1);
    for (int i = 0; i < kLabels.size(); ++i) {
        grid->addWidget(secondary(kLabels[i], 12), i, 0, Qt::AlignLeft | Qt::AlignBaseline);
        // A value to select and copy, shortened in the middle when too long.
        auto *value = new ElidedLabel(Qt::ElideMiddle);
        value->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        value->setFont(Typeface::font(QFont().family(), 12));
        grid->addWidget(value, i, 1, Qt::AlignBaseline);
        m_values.append({kLabels[i], value});
    }
    m_noRecord = secondary(QStringLiteral("No engine check recorded yet."), 13);
    m_noRecord->setAlignment(Qt::AlignHCenter);
    // One of the two at a time, and only the shown one takes room: the window
    // is exactly as tall as what it says.
    column->addWidget(m_rows);
    column->addWidget(m_noRecord);
    showRecord();
}

void AboutEngineView::loadRecord()
{
    m_record = engine::EngineProbe::readStateRecord();
    showRecord();
}

void AboutEngineView::showRecord()
{
    const QString dash = QStringLiteral("—");
    for (auto &[label, value] : m_values) {
        QString text;
        if (m_record) {
            if (label == kLabels[0])
                text = m_record->status == u"pass" ? QStringLiteral("Ready") : QStringLiteral("Unavailable");
            else if (label == kLabels[1])
                text = m_record->engineVersion.value_or(dash);
            else if (label == kLabels[2])
                text = m_record->checkedAt;
            else
                text = m_record->binaryPath.value_or(dash);
        }
        static_cast<ElidedLabel *>(value)->setFullText(text);
    }
    m_rows->setVisible(m_record.has_value());
    m_noRecord->setVisible(!m_record);
}

QString AboutEngineView::rowValue(const QString &label) const
{
    for (const auto &[name, value] : m_values) {
        if (name == label)
            return static_cast<ElidedLabel *>(value)->fullText();
    }
    return {};
}

bool AboutEngineView::showsNoRecord() const
{
    return !m_noRecord->isHidden();
}

AboutWindow::AboutWindow(QWidget *parent) : QDialog(parent), m_view(new AboutEngineView)
{
    setObjectName(QStringLiteral("about"));
    setWindowTitle(QStringLiteral("About Pennora"));
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Palette::canvas());
    palette.setColor(QPalette::WindowText, Palette::ink());
    setPalette(palette);
    setAutoFillBackground(true);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void AboutWindow::setVisible(bool visible)
{
    if (visible)
        m_view->loadRecord();
    QDialog::setVisible(visible);
}

} // namespace app
