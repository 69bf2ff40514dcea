#include "settingspaneview.h"

#include "chrome/palette.h"
#include "chrome/workspacechrome.h"
#include "profiles/settingsmodel.h"
#include "profiles/views/modelcombobox.h"
#include "profiles/views/providerkeyspage.h"
#include "profiles/views/settingswidgets.h"
#include "profiles/views/surfacesettingspage.h"

#include <QEnterEvent>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

namespace profiles {

using app::Palette;
using app::Typeface;

// ElidedPathText

ElidedPathText::ElidedPathText(const QString &path, QWidget *parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    setFont(Typeface::font(Typeface::mono(), 12));
    setTextColour(this, Palette::ink());
    setTextInteractionFlags(Qt::TextSelectableByMouse);
    setFixedHeight(16);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    setPath(path);
}

void ElidedPathText::setPath(const QString &path)
{
    m_path = path;
    setToolTip(path);
    setAccessibleName(path);
    refit();
}

QString ElidedPathText::fit(int width) const
{
    const QFontMetricsF metrics(font());
    return elidedpath::fit(m_path, width, [&metrics](const QString &form) { return metrics.horizontalAdvance(form); });
}

QSize ElidedPathText::sizeHint() const
{
    return {QFontMetrics(font()).horizontalAdvance(m_path), 16};
}

QSize ElidedPathText::minimumSizeHint() const
{
    return {0, 16};
}

void ElidedPathText::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    refit();
}

void ElidedPathText::refit()
{
    // Still too wide, the chosen form is cut in the middle.
    const QString form = fit(width());
    setText(QFontMetrics(font()).elidedText(form, Qt::ElideMiddle, std::max(0, width())));
}

// SettingsSidebarButton

SettingsSidebarButton::SettingsSidebarButton(SettingsPage page, QWidget *parent)
    : QAbstractButton(parent), m_page(page), m_strip(new app::SelectedRowStrip(this))
{
    setText(page.label());
    setAccessibleName(page.label());
    setFont(defaultDesign(13));
    // Checked carries the "selected" state to accessibility.
    setCheckable(true);
    setAttribute(Qt::WA_Hover);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_strip->hide();
}

void SettingsSidebarButton::setSelected(bool selected)
{
    setChecked(selected);
    m_strip->setVisible(selected);
    update();
}

std::optional<QColor> SettingsSidebarButton::fill() const
{
    QColor tint = Palette::ink();
    if (isChecked())
        tint.setAlphaF(0.10f);
    else if (m_hover)
        tint.setAlphaF(0.06f);
    else
        return std::nullopt;
    return tint;
}

QSize SettingsSidebarButton::sizeHint() const
{
    return {174, QFontMetrics(font()).height() + 14};
}

void SettingsSidebarButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (const std::optional<QColor> tint = fill()) {
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()), 8, 8);
        painter.fillPath(shape, *tint);
    }
    const QRect label = rect().adjusted(16, 7, -16, -7);
    painter.setPen(Palette::ink());
    painter.setFont(font());
    painter.drawText(label, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text());
    if (const std::optional<QString> tag = m_page.tag()) {
        painter.setPen(Palette::inkMuted());
        painter.setFont(Typeface::font(Typeface::mono(), 11));
        painter.drawText(label, Qt::AlignRight | Qt::AlignVCenter | Qt::TextSingleLine, *tag);
    }
}

void SettingsSidebarButton::resizeEvent(QResizeEvent *event)
{
    QAbstractButton::resizeEvent(event);
    m_strip->setGeometry(4, 0, m_strip->width(), height());
}

void SettingsSidebarButton::enterEvent(QEnterEvent *event)
{
    m_hover = true;
    update();
    QAbstractButton::enterEvent(event);
}

void SettingsSidebarButton::leaveEvent(QEvent *event)
{
    m_hover = false;
    update();
    QAbstractButton::leaveEvent(event);
}

// ContentSettingsPage

ContentSettingsPage::ContentSettingsPage(std::function<QString()> home, std::function<void(const QString &)> setHome,
                                         FolderChooser chooseFolder, QWidget *parent)
    : QWidget(parent), m_home(std::move(home)), m_setHome(std::move(setHome)), m_chooseFolder(std::move(chooseFolder))
{
    QVBoxLayout *page = titledPage(this, QStringLiteral("Content"), QStringLiteral("Where the corpus lives."), 0);
    page->addSpacing(12);

    auto *block = new QWidget;
    block->setMaximumWidth(480);
    QVBoxLayout *column = bareColumn(block, 6);
    column->addWidget(new SettingsFieldLabel(QStringLiteral("Pennora Home")));
    auto *box = new RoundedPanel(10);
    auto *row = new QHBoxLayout(box);
    row->setContentsMargins(14, 10, 14, 10);
    row->setSpacing(8);
    m_path = new ElidedPathText;
    row->addWidget(m_path, 1, Qt::AlignVCenter);
    m_choose = new QPushButton(QStringLiteral("Choose…"));
    m_choose->setToolTip(QStringLiteral("Pick the folder holding your posts"));
    app::BorderedSecondaryButtonStyle::apply(m_choose, 28);
    row->addWidget(m_choose, 0, Qt::AlignVCenter);
    column->addWidget(box);
    column->addSpacing(2);
    column->addWidget(plainLabel(QStringLiteral("Repoint-only: Pennora never moves content."), defaultDesign(12),
                                 Palette::inkMuted()));
    page->addWidget(block);
    page->addStretch(1);

    connect(m_choose, &QPushButton::clicked, this, &ContentSettingsPage::chooseHome);
    refreshHome();
}

void ContentSettingsPage::chooseHome()
{
    if (!m_chooseFolder)
        return;
    const QPointer<ContentSettingsPage> self(this);
    const std::optional<QString> folder = m_chooseFolder(this);
    if (!self || !folder)
        return;
    // The same folder is set too: the workspace decides what a repoint means.
    if (m_setHome)
        m_setHome(*folder);
    if (self)
        refreshHome();
}

void ContentSettingsPage::refreshHome()
{
    m_path->setPath(m_home ? m_home() : QString());
}

// SettingsPaneView

SettingsPaneView::SettingsPaneView(std::shared_ptr<SettingsModel> model, std::function<QString()> home,
                                   std::function<void(const QString &)> setHome, FolderChooser chooseFolder,
                                   QWidget *parent)
    : QWidget(parent), m_model(std::move(model)), m_home(std::move(home)), m_setHome(std::move(setHome)),
      m_chooseFolder(chooseFolder ? std::move(chooseFolder) : systemFolderChooser())
{
    fillBackground(this, Palette::canvas());

    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);

    auto *sidebar = new QWidget;
    sidebar->setFixedWidth(190);
    QVBoxLayout *sidebarColumn = bareColumn(sidebar, 0);
    sidebarColumn->addWidget(new app::PaneHeader(QStringLiteral("Settings"), 24, std::nullopt, nullptr));
    auto *list = new QVBoxLayout;
    list->setContentsMargins(8, 14, 8, 14);
    list->setSpacing(2);
    for (const SettingsPage page : SettingsPage::allCases()) {
        auto *button = new SettingsSidebarButton(page);
        connect(button, &QAbstractButton::clicked, this, [this, page] { setPage(page); });
        list->addWidget(button);
        m_rows << button;
    }
    list->addStretch(1);
    sidebarColumn->addLayout(list, 1);
    row->addWidget(sidebar);

    row->addWidget(app::hairline(Qt::Vertical));

    m_pageColumn = new QWidget;
    QVBoxLayout *column = bareColumn(m_pageColumn, 0);
    m_error = plainLabel(QString(), Typeface::font(Typeface::mono(), 11), Palette::systemOrange());
    m_error->setWordWrap(true);
    m_error->setContentsMargins(24, 4, 24, 4);
    m_error->setTextInteractionFlags(Qt::TextSelectableByMouse);
    column->addWidget(m_error);
    row->addWidget(m_pageColumn, 1);

    connect(m_model.get(), &SettingsModel::lastWriteErrorChanged, this, &SettingsPaneView::refreshError);
    refreshError();
    setPage(SettingsPage::content);
}

SettingsPaneView::~SettingsPaneView()
{
    finishEditing();
}

void SettingsPaneView::finishEditing()
{
    // Leaving a model field by leaving its page ends the edit as leaving the
    // field would.
    if (auto *surface = qobject_cast<SurfaceSettingsPage *>(m_current))
        surface->modelField()->commit();
}

FolderChooser SettingsPaneView::systemFolderChooser()
{
    return [](QWidget *parent) -> std::optional<QString> {
        QFileDialog dialog(parent);
        dialog.setFileMode(QFileDialog::Directory);
        dialog.setOption(QFileDialog::ShowDirsOnly);
        // The dialog has no message area; its title carries the message.
        dialog.setWindowTitle(QString::fromUtf8(ContentSettingsPage::kChooserMessage));
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return std::nullopt;
        return dialog.selectedFiles().constFirst();
    };
}

void SettingsPaneView::setPage(SettingsPage page)
{
    if (m_current && page == m_page)
        return;
    m_page = page;
    for (SettingsSidebarButton *row : std::as_const(m_rows))
        row->setSelected(row->page() == page);
    // A page is built anew each time it is shown, so keys start hidden again.
    finishEditing();
    delete m_current;
    m_current = buildPage(page);
    static_cast<QVBoxLayout *>(m_pageColumn->layout())->addWidget(m_current, 1);
}

void SettingsPaneView::refreshHome()
{
    if (auto *content = qobject_cast<ContentSettingsPage *>(m_current))
        content->refreshHome();
}

SettingsSidebarButton *SettingsPaneView::sidebarButton(SettingsPage page) const
{
    for (SettingsSidebarButton *row : m_rows) {
        if (row->page() == page)
            return row;
    }
    return nullptr;
}

QWidget *SettingsPaneView::buildPage(SettingsPage page)
{
    if (const std::optional<ProfileSurface> surface = page.surface())
        return new SurfaceSettingsPage(m_model, *surface);
    if (page == SettingsPage::keys)
        return new ProviderKeysPage(m_model);
    return new ContentSettingsPage(m_home, m_setHome, m_chooseFolder);
}

void SettingsPaneView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (event->spontaneous())
        return;
    // Every appearance reads the profiles again; edits of this stay win.
    QCoro::Task<void> loading = m_model->load();
}

void SettingsPaneView::refreshError()
{
    const std::optional<QString> &error = m_model->lastWriteError();
    m_error->setText(error.value_or(QString()));
    m_error->setVisible(error.has_value());
}

} // namespace profiles
