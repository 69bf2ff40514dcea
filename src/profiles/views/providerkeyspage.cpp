#include "providerkeyspage.h"

#include "chrome/palette.h"
#include "profiles/settingsmodel.h"
#include "profiles/settingspages.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

namespace profiles {

using app::Palette;
using app::Typeface;

namespace {

QLabel *note(const char16_t *text)
{
    QLabel *label = plainLabel(QString::fromUtf16(text), defaultDesign(12), Palette::inkMuted());
    label->setWordWrap(true);
    return label;
}

QPushButton *smallMonoButton(const QString &text)
{
    auto *button = new QPushButton(text);
    button->setFont(Typeface::font(Typeface::mono(), 11));
    setTextColour(button, Palette::ink());
    return button;
}

QLineEdit *monoField(const QString &placeholder)
{
    auto *field = new QLineEdit;
    field->setPlaceholderText(placeholder);
    field->setFont(Typeface::font(Typeface::mono(), 12));
    return field;
}

QVBoxLayout *captionColumn(const QString &caption)
{
    QVBoxLayout *column = bareColumn(nullptr, 4);
    column->addWidget(new SettingsFieldLabel(caption));
    return column;
}

} // namespace

// ProviderKeyBlock

ProviderKeyBlock::ProviderKeyBlock(std::shared_ptr<SettingsModel> model, ModelProvider provider, QWidget *parent)
    : RoundedPanel(10, parent), m_model(std::move(model)), m_provider(provider)
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(16, 14, 16, 14);
    column->setSpacing(10);

    auto *titleRow = new QHBoxLayout;
    m_title = plainLabel(provider.label(), Typeface::font(Typeface::serif(), 14, QFont::DemiBold), Palette::ink());
    titleRow->addWidget(m_title);
    titleRow->addSpacing(12);
    titleRow->addStretch(1);
    if (provider == ModelProvider::zai) {
        m_segment = new KeyTypeSegment(m_model);
        titleRow->addWidget(m_segment);
    }
    column->addLayout(titleRow);

    QVBoxLayout *endpoint = captionColumn(QStringLiteral("Endpoint (Base URL)"));
    m_endpoint = monoField(QStringLiteral("Endpoint"));
    m_endpoint->setAccessibleName(QStringLiteral("Endpoint"));
    endpoint->addWidget(m_endpoint);
    column->addLayout(endpoint);

    QVBoxLayout *key = captionColumn(QStringLiteral("API Key"));
    auto *keyRow = new QHBoxLayout;
    keyRow->setSpacing(6);
    m_key = monoField(QStringLiteral("API key"));
    // Named, never described: the key itself must not reach accessibility.
    m_key->setAccessibleName(QStringLiteral("API key"));
    keyRow->addWidget(m_key, 1);
    m_reveal = smallMonoButton(QStringLiteral("show"));
    keyRow->addWidget(m_reveal);
    key->addLayout(keyRow);
    m_emptyKeyNote = note(settingstext::kEmptyKeyNote);
    key->addWidget(m_emptyKeyNote);
    column->addLayout(key);

    if (provider == ModelProvider::zai) {
        m_keyTypeNote = note(settingstext::kZaiKeyTypeNote);
        column->addWidget(m_keyTypeNote);
    }
    if (provider == ModelProvider::nous) {
        m_portalNote = note(settingstext::kNousNote);
        column->addWidget(m_portalNote);
    }

    auto *testRow = new QHBoxLayout;
    testRow->setSpacing(8);
    m_test = smallMonoButton(QStringLiteral("Test Connection"));
    testRow->addWidget(m_test);
    m_testState = new QWidget;
    auto *stateLayout = new QHBoxLayout(m_testState);
    stateLayout->setContentsMargins(0, 0, 0, 0);
    stateLayout->setSpacing(4);
    testRow->addWidget(m_testState, 1);
    column->addLayout(testRow);

    setRevealed(false);

    // The fields pass on every edit untouched; the model trims and checks.
    connect(m_endpoint, &QLineEdit::textEdited, this,
            [this](const QString &text) { m_model->setEndpoint(text, m_provider); });
    connect(m_key, &QLineEdit::textEdited, this, [this](const QString &text) {
        m_model->setAPIKey(text, m_provider);
        m_emptyKeyNote->setVisible(text.isEmpty());
    });
    connect(m_reveal, &QPushButton::clicked, this, [this] { setRevealed(!m_revealed); });
    connect(m_test, &QPushButton::clicked, this,
            [this] { QCoro::Task<void> testing = m_model->testConnection(m_provider); });
    connect(m_model.get(), &SettingsModel::keysChanged, this, &ProviderKeyBlock::refreshKey);
    connect(m_model.get(), &SettingsModel::testStatesChanged, this, &ProviderKeyBlock::refreshTest);
    refreshKey();
    refreshTest();
}

void ProviderKeyBlock::setRevealed(bool revealed)
{
    m_revealed = revealed;
    m_key->setEchoMode(revealed ? QLineEdit::Normal : QLineEdit::Password);
    m_reveal->setText(revealed ? QStringLiteral("hide") : QStringLiteral("show"));
}

void ProviderKeyBlock::refreshKey()
{
    const ProviderKeyConfig config = m_model->keyConfig(m_provider);
    // Equal text is left alone, so the caret of a field being typed in stays.
    if (m_endpoint->text() != config.endpoint)
        m_endpoint->setText(config.endpoint);
    if (m_key->text() != config.apiKey)
        m_key->setText(config.apiKey);
    m_emptyKeyNote->setVisible(m_key->text().isEmpty());
}

void ProviderKeyBlock::refreshTest()
{
    const auto state = m_model->testStates().constFind(m_provider);
    const bool running =
        state != m_model->testStates().constEnd() && state->which == SettingsModel::TestState::Case::running;
    m_test->setEnabled(!running);
    setTextColour(m_test, running ? Palette::inkMuted() : Palette::ink());

    QLayout *layout = m_testState->layout();
    while (QLayoutItem *item = layout->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    m_testing = nullptr;
    m_result = nullptr;
    if (state == m_model->testStates().constEnd())
        return;
    if (running) {
        auto *spinner = new QProgressBar;
        spinner->setRange(0, 0);
        spinner->setTextVisible(false);
        spinner->setFixedSize(40, 6);
        layout->addWidget(spinner);
        m_testing = plainLabel(QString::fromUtf16(settingstext::kTesting), Typeface::font(Typeface::mono(), 11),
                               Palette::inkMuted());
        layout->addWidget(m_testing);
        static_cast<QHBoxLayout *>(layout)->addStretch(1);
        return;
    }
    m_result = new TestConnectionResult(state->outcome);
    layout->addWidget(m_result);
}

// ProviderKeysPage

ProviderKeysPage::ProviderKeysPage(std::shared_ptr<SettingsModel> model, QWidget *parent) : QWidget(parent)
{
    QVBoxLayout *outer = bareColumn(this, 0);
    // Four cards outgrow a short window; the page scrolls rather than clip.
    auto *scroll = new QScrollArea;
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    outer->addWidget(scroll);

    auto *content = new QWidget;
    content->setAutoFillBackground(false);
    scroll->viewport()->setAutoFillBackground(false);
    QVBoxLayout *page =
        titledPage(content, QStringLiteral("Provider Keys"), QString::fromUtf16(settingstext::kKeysNote), 17);
    page->addSpacing(20);
    auto *blocks = new QWidget;
    blocks->setMaximumWidth(540);
    QVBoxLayout *column = bareColumn(blocks, 10);
    for (const ModelProvider provider : ModelProvider::allCases()) {
        auto *block = new ProviderKeyBlock(model, provider);
        column->addWidget(block);
        m_blocks << block;
    }
    // In a row, so the wrapped notes are measured at the cards' own width.
    auto *row = new QHBoxLayout;
    row->addWidget(blocks, 1);
    row->addStretch(0);
    page->addLayout(row);
    page->addStretch(1);
    scroll->setWidget(content);
}

ProviderKeyBlock *ProviderKeysPage::block(ModelProvider provider) const
{
    for (ProviderKeyBlock *block : m_blocks) {
        if (block->provider() == provider)
            return block;
    }
    return nullptr;
}

} // namespace profiles
