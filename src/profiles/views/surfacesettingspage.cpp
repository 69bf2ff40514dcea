#include "surfacesettingspage.h"

#include "chrome/palette.h"
#include "profiles/settingsmodel.h"
#include "profiles/settingspages.h"
#include "profiles/views/modelcombobox.h"
#include "profiles/views/settingswidgets.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace profiles {

using app::Palette;
using app::Typeface;

namespace {

// A caption over its control, 4 apart.
QWidget *captioned(const QString &caption, QWidget *control)
{
    auto *box = new QWidget;
    QVBoxLayout *column = bareColumn(box, 4);
    column->addWidget(new SettingsFieldLabel(caption));
    column->addWidget(control, 0, Qt::AlignLeft);
    return box;
}

} // namespace

SurfaceSettingsPage::SurfaceSettingsPage(std::shared_ptr<SettingsModel> model, ProfileSurface surface, QWidget *parent)
    : QWidget(parent), m_model(std::move(model)), m_surface(surface)
{
    auto *page = new QVBoxLayout(this);
    page->setContentsMargins(24, 17, 24, 0);
    page->setSpacing(24);

    // Header: title with "Restore Defaults", the model line, the profile line.
    auto *header = new QVBoxLayout;
    header->setSpacing(4);
    auto *titleRow = new QHBoxLayout;
    m_title = pageTitle(surface.title());
    titleRow->addWidget(m_title);
    titleRow->addSpacing(12);
    titleRow->addStretch(1);
    m_restore = new QPushButton(QStringLiteral("Restore Defaults"));
    m_restore->setFont(defaultDesign(11));
    titleRow->addWidget(m_restore);
    header->addLayout(titleRow);
    m_modelLine = plainLabel(QString(), Typeface::font(Typeface::mono(), 13), Palette::accent());
    m_modelLine->setTextInteractionFlags(Qt::TextSelectableByMouse);
    header->addWidget(m_modelLine);
    m_profileLine =
        plainLabel(profiles::profileLine(surface), Typeface::font(Typeface::mono(), 11), Palette::inkMuted());
    m_profileLine->setWordWrap(true);
    header->addWidget(m_profileLine);
    page->addLayout(header);

    // Fields, at most 480 wide.
    auto *fields = new QWidget;
    fields->setMaximumWidth(480);
    QVBoxLayout *column = bareColumn(fields, 14);

    m_provider = new SettingsPicker;
    m_provider->setAccessibleName(QStringLiteral("Provider"));
    m_provider->setFixedWidth(200);
    for (const ModelProvider provider : ModelProvider::allCases())
        m_provider->addItem(provider.label());
    column->addWidget(captioned(QStringLiteral("Provider"), m_provider));

    const SurfaceModelConfig config = m_model->surfaceConfig(surface);
    auto *modelRow = new QWidget;
    auto *modelLayout = new QHBoxLayout(modelRow);
    modelLayout->setContentsMargins(0, 0, 0, 0);
    modelLayout->setSpacing(8);
    m_modelField = new ModelComboBox(config.model, m_model->registry().modelsFor(config.provider), {});
    m_modelField->setFixedWidth(240);
    modelLayout->addWidget(m_modelField);
    m_custom = plainLabel(QString::fromUtf16(settingstext::kCustomModel), Typeface::font(Typeface::mono(), 11),
                          Palette::inkMuted());
    modelLayout->addWidget(m_custom);
    modelLayout->addStretch(1);
    auto *modelBox = captioned(QStringLiteral("Model"), modelRow);
    modelBox->layout()->setAlignment(modelRow, Qt::Alignment());
    column->addWidget(modelBox);

    m_effort = new SettingsPicker;
    m_effort->setAccessibleName(QStringLiteral("Reasoning Effort"));
    m_effort->setFixedWidth(200);
    column->addWidget(captioned(QStringLiteral("Reasoning Effort"), m_effort));

    auto *budget = plainLabel(QString::fromUtf16(settingstext::kOutputBudget), defaultDesign(12), Palette::inkMuted());
    column->addWidget(budget);
    page->addWidget(fields);
    page->addStretch(1);

    // Only the user's own choices reach the model.
    connect(m_restore, &QPushButton::clicked, this, [this] { m_model->restoreDefaults(m_surface); });
    connect(m_provider, &QComboBox::activated, this,
            [this](int row) { m_model->setProvider(ModelProvider::allCases().at(row), m_surface); });
    connect(m_effort, &QComboBox::activated, this, [this](int row) {
        const QList<EffortRow> rows = effortRows(m_model->surfaceConfig(m_surface).provider);
        if (row >= 0 && row < rows.size())
            m_model->setEffort(rows.at(row).effort, m_surface);
    });
    connect(m_model.get(), &SettingsModel::surfacesChanged, this, &SurfaceSettingsPage::refresh);
    refresh();
}

void SurfaceSettingsPage::refresh()
{
    const SurfaceModelConfig config = m_model->surfaceConfig(m_surface);
    const ModelRegistry &registry = m_model->registry();

    const bool restorable = canRestoreDefaults(config);
    m_restore->setEnabled(restorable);
    setTextColour(m_restore, restorable ? Palette::ink() : Palette::inkMuted());
    m_modelLine->setText(profiles::modelLine(config, registry));
    m_custom->setVisible(isCustomModel(config, registry));

    m_provider->setCurrentIndex(int(ModelProvider::allCases().indexOf(config.provider)));
    m_modelField->refresh(
        config.model, registry.modelsFor(config.provider),
        [model = m_model.get(), surface = m_surface](const QString &name) { model->setModel(name, surface); });

    QStringList labels;
    for (const EffortRow &row : effortRows(config.provider))
        labels << row.label;
    QStringList shown;
    for (int row = 0; row < m_effort->count(); ++row)
        shown << m_effort->itemText(row);
    if (shown != labels) {
        m_effort->clear();
        m_effort->addItems(labels);
    }
    m_effort->setCurrentIndex(int(effortRowIndex(config.provider, config.effort)));
}

} // namespace profiles
