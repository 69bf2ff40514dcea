// The settings pages, the model field and the settings pane offscreen, over a
// real settings model and a recording writer: what each page shows, which
// user edits reach the model, and that showing loaded values writes nothing.
#include "profiles/settingsmodel.h"
#include "profiles/views/modelcombobox.h"
#include "profiles/views/providerkeyspage.h"
#include "profiles/views/settingspaneview.h"
#include "profiles/views/settingswidgets.h"
#include "profiles/views/surfacesettingspage.h"

#include "chrome/palette.h"
#include "chrome/workspacechrome.h"

#include "../probetesting.h"
#include "../recordingwriter.h"
#include "capturedlog.h"
#include "screenshot.h"
#include "testutil.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QEnterEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>
#include <gtest/gtest.h>

using namespace profiles;
using app::Palette;
using Outcome = ProviderProbe::Outcome;
using testsupport::RecordingWriter;
using testsupport::ScriptedProbeTransport;
using testsupport::spinUntil;

namespace {

const ModelRegistry kRegistry({{ModelProvider::zai, {"glm-5.3", "glm-5-air"}},
                               {ModelProvider::anthropic, {"claude-sonnet-5-5", "claude-opus-5"}},
                               {ModelProvider::openaiAPI, {"gpt-6"}}});

QColor textColour(const QWidget *widget)
{
    return widget->palette().color(QPalette::ButtonText);
}

QStringList itemsOf(const QComboBox *combo)
{
    QStringList items;
    for (int row = 0; row < combo->count(); ++row)
        items << combo->itemText(row);
    return items;
}

class SettingsViews : public testsupport::SettingsModelFixture {
protected:
    std::shared_ptr<SettingsModel> make(ModelRegistry registry = kRegistry,
                                        std::optional<ProviderProbe::Transport> transport = std::nullopt)
    {
        return SettingsModelFixture::make(std::move(registry), std::nullopt, std::chrono::milliseconds(50),
                                          std::move(transport));
    }
};

// --- Surface pages -----------------------------------------------------------

TEST_F(SettingsViews, SurfacePageTextsAndTheRestoreDefaultsRule)
{
    const auto model = make();
    SurfaceSettingsPage page(model, ProfileSurface::chat);
    EXPECT_EQ(page.titleLabel()->text(), "Chat");
    EXPECT_EQ(page.modelLine()->text(), "claude-sonnet-5-5");
    EXPECT_EQ(page.profileLine()->text(), "profile · pennora — Sessions rides this engine · a model change restarts "
                                          "it (after any streaming turn)");
    EXPECT_FALSE(page.customModelNote()->isVisibleTo(&page));
    EXPECT_EQ(page.providerPicker()->currentText(), "Anthropic");
    EXPECT_EQ(page.modelField()->currentText(), "claude-sonnet-5-5");
    EXPECT_EQ(itemsOf(page.modelField()), QStringList({"claude-sonnet-5-5", "claude-opus-5"}));
    EXPECT_EQ(page.effortPicker()->currentText(), "unset · provider default");

    struct Case {
        const char *name;
        std::function<void()> edit;
        bool enabled;
    };
    const Case cases[] = {
        {"defaults", [] {}, false},
        {"effort high", [&] { model->setEffort(ReasoningEffort::high, ProfileSurface::chat); }, true},
        {"back to none", [&] { model->setEffort(std::nullopt, ProfileSurface::chat); }, false},
        {"other model", [&] { model->setModel("claude-sonnet-5", ProfileSurface::chat); }, true},
    };
    for (const Case &c : cases) {
        c.edit();
        EXPECT_EQ(page.restoreDefaultsButton()->isEnabled(), c.enabled) << c.name;
        EXPECT_EQ(textColour(page.restoreDefaultsButton()), c.enabled ? Palette::ink() : Palette::inkMuted()) << c.name;
    }
    EXPECT_EQ(page.modelLine()->text(), "claude-sonnet-5 · custom (not in registry)");
    EXPECT_TRUE(page.customModelNote()->isVisibleTo(&page));
    page.restoreDefaultsButton()->click();
    EXPECT_EQ(model->surfaceConfig(ProfileSurface::chat), SurfaceModelConfig::defaultConfig());
    EXPECT_FALSE(page.restoreDefaultsButton()->isEnabled());
}

TEST_F(SettingsViews, EmptyRegistryMarksEverySurfaceCustomAndOffersNoNames)
{
    const auto model = make(ModelRegistry());
    for (const ProfileSurface surface : ProfileSurface::allCases()) {
        SurfaceSettingsPage page(model, surface);
        EXPECT_EQ(page.modelLine()->text(), "claude-sonnet-5-5 · custom (not in registry)");
        EXPECT_TRUE(page.customModelNote()->isVisibleTo(&page));
        EXPECT_EQ(page.customModelNote()->text(), "custom (not in registry)");
        EXPECT_EQ(page.modelField()->count(), 0);
    }
}

TEST_F(SettingsViews, PickersOfferThePagesProviderAndReachTheModelOnlyWhenChosen)
{
    const auto model = make();
    SurfaceSettingsPage pass1(model, ProfileSurface::pass1);
    SurfaceSettingsPage pass2(model, ProfileSurface::pass2);
    EXPECT_EQ(itemsOf(pass1.providerPicker()), QStringList({"z.ai", "Anthropic", "OpenAI", "Nous Portal"}));

    emit pass2.providerPicker()->activated(0);
    EXPECT_EQ(model->surfaceConfig(ProfileSurface::pass2).provider, ModelProvider::zai);
    EXPECT_EQ(itemsOf(pass2.effortPicker()), QStringList({"unset · provider default", "low", "high", "max"}));
    // A name listed only for another provider counts as custom here.
    model->setModel("claude-opus-5", ProfileSurface::pass2);
    EXPECT_TRUE(pass2.customModelNote()->isVisibleTo(&pass2));
    EXPECT_EQ(itemsOf(pass2.modelField()), QStringList({"glm-5.3", "glm-5-air"}));
    emit pass2.effortPicker()->activated(2);
    EXPECT_EQ(model->surfaceConfig(ProfileSurface::pass2).effort, ReasoningEffort::high);

    emit pass1.providerPicker()->activated(2);
    EXPECT_EQ(itemsOf(pass1.effortPicker()),
              QStringList({"unset · provider default", "low", "medium", "high", "xhigh", "max"}));
    EXPECT_EQ(pass1.modelLine()->text(),
              ModelProvider(ModelProvider::openaiAPI).defaultModel() + " · custom (not in registry)");

    // Restore Defaults puts back this surface only.
    model->setAPIKey("sk-pass", ModelProvider::zai);
    pass2.restoreDefaultsButton()->click();
    EXPECT_EQ(model->surfaceConfig(ProfileSurface::pass2), SurfaceModelConfig::defaultConfig());
    EXPECT_EQ(pass2.providerPicker()->currentText(), "Anthropic");
    EXPECT_EQ(pass2.modelField()->currentText(), "claude-sonnet-5-5");
    EXPECT_EQ(pass2.effortPicker()->currentText(), "unset · provider default");
    EXPECT_EQ(model->surfaceConfig(ProfileSurface::pass1).provider, ModelProvider::openaiAPI);
    EXPECT_EQ(model->keyConfig(ModelProvider::zai).apiKey, "sk-pass");
}

TEST_F(SettingsViews, AWheelTurnOverAPickerOrTheModelFieldChangesNothing)
{
    const auto model = make();
    const SurfaceModelConfig custom{ModelProvider::anthropic, "my-own-model", ReasoningEffort::medium};
    model->setModel(custom.model, ProfileSurface::pass1);
    model->setEffort(custom.effort, ProfileSurface::pass1);
    settle();
    writer->calls.clear();
    SurfaceSettingsPage page(model, ProfileSurface::pass1);
    page.resize(600, 500);
    page.show();

    struct Case {
        const char *name;
        QComboBox *combo;
    };
    const Case cases[] = {
        {"model field", page.modelField()}, {"provider", page.providerPicker()}, {"effort", page.effortPicker()}};
    for (const Case &c : cases) {
        for (const int delta : {-120, 120}) {
            const QPointF at(c.combo->rect().center());
            QWheelEvent wheel(at, c.combo->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                              Qt::NoScrollPhase, false);
            QApplication::sendEvent(c.combo, &wheel);
            EXPECT_EQ(model->surfaceConfig(ProfileSurface::pass1), custom) << c.name << " " << delta;
        }
    }
    EXPECT_EQ(page.modelField()->currentText(), "my-own-model");
    EXPECT_EQ(page.providerPicker()->currentText(), "Anthropic");
    EXPECT_EQ(page.effortPicker()->currentText(), "medium");
    settle();
    EXPECT_TRUE(writer->calls.isEmpty()) << writer->chains().join(", ").toStdString();
}

// --- The model field -------------------------------------------------------

TEST_F(SettingsViews, ModelFieldCommitsTrimmedNamesOnceEach)
{
    QStringList commits;
    ModelComboBox field("claude-sonnet-5-5", {"glm-5.3", "glm-5-air"},
                        [&commits](const QString &name) { commits << name; });
    EXPECT_EQ(field.accessibleName(), "Model");
    EXPECT_EQ(field.maxVisibleItems(), 12);

    field.lineEdit()->setText("  glm-5.3 \n");
    emit field.lineEdit()->editingFinished();
    EXPECT_EQ(commits, QStringList({"glm-5.3"}));
    // The typed text stays as typed.
    EXPECT_EQ(field.currentText(), "  glm-5.3 \n");

    field.lineEdit()->setText("   ");
    emit field.lineEdit()->editingFinished();
    EXPECT_EQ(commits.size(), 1);

    // A pick, the same pick again, then leaving the field: one report.
    emit field.textActivated("glm-5-air");
    emit field.textActivated("glm-5-air");
    emit field.lineEdit()->editingFinished();
    EXPECT_EQ(commits, QStringList({"glm-5.3", "glm-5-air"}));
    EXPECT_EQ(field.currentText(), "glm-5-air");
    // Nothing typed was ever added to the list.
    EXPECT_EQ(itemsOf(&field), QStringList({"glm-5.3", "glm-5-air"}));

    // A redraw reaches the latest action.
    QStringList later;
    field.refresh("glm-5-air", {"glm-5.3", "glm-5-air"}, [&later](const QString &name) { later << name; });
    field.lineEdit()->setText("glm-6");
    emit field.lineEdit()->editingFinished();
    EXPECT_EQ(later, QStringList({"glm-6"}));
    EXPECT_EQ(commits.size(), 2);
}

// Gives the shown field the keyboard in its active window and types over
// what it holds.
void typeOver(ModelComboBox &field, const char *text)
{
    QApplication::setActiveWindow(&field);
    field.lineEdit()->setFocus();
    ASSERT_TRUE(spinUntil([&field] { return field.isEditing(); }));
    field.lineEdit()->selectAll();
    QTest::keyClicks(field.lineEdit(), text);
}

// Opening the list to look for a name is not leaving the field: what is
// half typed must not be written (for chat it would restart the engine).
TEST_F(SettingsViews, OpeningTheModelListWhileTypingCommitsNothing)
{
    QStringList commits;
    ModelComboBox field("claude-sonnet-5-5", {"glm-5.3", "glm-5-air"},
                        [&commits](const QString &name) { commits << name; });
    field.show();
    typeOver(field, "my-");

    field.showPopup();
    ASSERT_TRUE(spinUntil([&field] { return field.view()->isVisible(); }));
    EXPECT_TRUE(commits.isEmpty()) << commits.join(", ").toStdString();
    field.hidePopup();
    QApplication::processEvents();
    EXPECT_TRUE(commits.isEmpty()) << commits.join(", ").toStdString();
    // The offscreen platform may leave no window active once the list has
    // gone; a desktop gives the field's window back.
    QApplication::setActiveWindow(&field);
    ASSERT_TRUE(spinUntil([&field] { return field.isEditing(); }));
    EXPECT_TRUE(commits.isEmpty()) << commits.join(", ").toStdString();

    // Leaving the field still commits what it holds.
    emit field.lineEdit()->editingFinished();
    EXPECT_EQ(commits, QStringList({"my-"}));
}

// Switching to another window is not leaving the field either: the typing
// goes on when the window comes back.
TEST_F(SettingsViews, SwitchingWindowsWhileTypingCommitsNothing)
{
    QStringList commits;
    ModelComboBox field("claude-sonnet-5-5", {"glm-5.3"}, [&commits](const QString &name) { commits << name; });
    QWidget elsewhere;
    field.show();
    elsewhere.show();
    typeOver(field, "my-");

    QApplication::setActiveWindow(&elsewhere);
    ASSERT_TRUE(spinUntil([&field] { return !field.isActiveWindow(); }));
    EXPECT_TRUE(commits.isEmpty()) << commits.join(", ").toStdString();
    QApplication::setActiveWindow(&field);
    ASSERT_TRUE(spinUntil([&field] { return field.isEditing(); }));
    QTest::keyClicks(field.lineEdit(), "model");
    EXPECT_TRUE(commits.isEmpty()) << commits.join(", ").toStdString();

    QTest::keyClick(field.lineEdit(), Qt::Key_Return);
    EXPECT_EQ(commits, QStringList({"my-model"}));
}

TEST_F(SettingsViews, ModelFieldReplacesItsListOnlyWhenItDiffersAndKeepsTyping)
{
    ModelComboBox field("a", {"a", "b"}, [](const QString &) {});
    QSignalSpy inserted(field.model(), &QAbstractItemModel::rowsInserted);
    field.refresh("a", {"a", "b"}, [](const QString &) {});
    EXPECT_EQ(inserted.count(), 0);
    field.refresh("a", {"b", "a"}, [](const QString &) {});
    EXPECT_EQ(itemsOf(&field), QStringList({"b", "a"}));
    EXPECT_GT(inserted.count(), 0);
    EXPECT_EQ(field.currentText(), "a");

    field.show();
    QApplication::setActiveWindow(&field);
    field.lineEdit()->setFocus();
    ASSERT_TRUE(spinUntil([&field] { return field.isEditing(); }));
    field.lineEdit()->setText("half-typ");
    field.refresh("from-owner", {"b", "a"}, [](const QString &) {});
    EXPECT_EQ(field.currentText(), "half-typ");
    field.lineEdit()->clearFocus();
    ASSERT_TRUE(spinUntil([&field] { return !field.isEditing(); }));
    field.refresh("from-owner", {"b", "a"}, [](const QString &) {});
    EXPECT_EQ(field.currentText(), "from-owner");
}

// --- Provider keys -------------------------------------------------------------

TEST_F(SettingsViews, KeysPageBlocksNotesAndShowHidePerBlock)
{
    const auto model = make();
    ProviderKeysPage page(model);
    QStringList titles;
    for (ProviderKeyBlock *block : page.blocks()) {
        titles << block->titleLabel()->text();
        const bool zai = block->provider() == ModelProvider::zai;
        EXPECT_EQ(block->keyTypeSegment() != nullptr, zai);
        EXPECT_EQ(block->keyTypeNote() != nullptr, zai);
        EXPECT_EQ(block->portalNote() != nullptr, block->provider() == ModelProvider::nous);
        EXPECT_EQ(block->endpointField()->text(), block->provider().defaultEndpoint());
        EXPECT_EQ(block->keyField()->echoMode(), QLineEdit::Password);
        EXPECT_EQ(block->revealButton()->text(), "show");
        EXPECT_TRUE(block->emptyKeyNote()->isVisibleTo(block));
        EXPECT_EQ(block->testingLabel(), nullptr);
        EXPECT_EQ(block->result(), nullptr);
    }
    EXPECT_EQ(titles, QStringList({"z.ai", "Anthropic", "OpenAI", "Nous Portal"}));

    ProviderKeyBlock *anthropic = page.block(ModelProvider::anthropic);
    anthropic->revealButton()->click();
    EXPECT_EQ(anthropic->keyField()->echoMode(), QLineEdit::Normal);
    EXPECT_EQ(anthropic->revealButton()->text(), "hide");
    for (ProviderKeyBlock *block : page.blocks()) {
        if (block != anthropic) {
            EXPECT_EQ(block->keyField()->echoMode(), QLineEdit::Password);
        }
    }
    anthropic->revealButton()->click();
    EXPECT_EQ(anthropic->keyField()->echoMode(), QLineEdit::Password);

    // Typed text goes to the model as it is; the note follows the field.
    QTest::keyClicks(anthropic->keyField(), " sk-1");
    EXPECT_EQ(model->keyConfig(ModelProvider::anthropic).apiKey, " sk-1");
    EXPECT_FALSE(anthropic->emptyKeyNote()->isVisibleTo(anthropic));
    anthropic->keyField()->clear();
    QTest::keyClick(anthropic->keyField(), Qt::Key_Backspace);
    QTest::keyClicks(page.block(ModelProvider::openaiAPI)->endpointField(), "/");
    EXPECT_EQ(model->keyConfig(ModelProvider::openaiAPI).endpoint, "https://api.openai.com/v1/");
}

TEST_F(SettingsViews, KeyTypeSegmentCallsTheModelEvenWhenAlreadyChosen)
{
    const auto model = make();
    ProviderKeysPage page(model);
    KeyTypeSegment *segment = page.block(ModelProvider::zai)->keyTypeSegment();
    EXPECT_EQ(segment->accessibleName(), "z.ai key type");
    EXPECT_EQ(segment->button(ZaiKeyType::standard)->text(), "Standard (pay-as-you-go)");
    EXPECT_TRUE(segment->button(ZaiKeyType::standard)->isChecked());

    QList<ZaiKeyType> chosen;
    const auto toModel = segment->choose;
    segment->choose = [&chosen, toModel](ZaiKeyType type) {
        chosen << type;
        toModel(type);
    };
    segment->button(ZaiKeyType::coding)->click();
    segment->button(ZaiKeyType::coding)->click();
    EXPECT_EQ(chosen, QList<ZaiKeyType>({ZaiKeyType::coding, ZaiKeyType::coding}));
    EXPECT_EQ(model->zaiKeyType(), ZaiKeyType::coding);
    EXPECT_TRUE(segment->button(ZaiKeyType::coding)->isChecked());
    EXPECT_FALSE(segment->button(ZaiKeyType::standard)->isChecked());
    EXPECT_EQ(page.block(ModelProvider::zai)->endpointField()->text(), ZaiKeyType(ZaiKeyType::coding).endpoint());
}

TEST_F(SettingsViews, TestConnectionDisablesOnlyItsOwnBlockAndShowsTheResult)
{
    auto gate = std::make_shared<Latch>();
    ProviderProbe::Transport held = [gate](ProviderProbe::Request) -> QCoro::Task<ProviderProbe::Response> {
        QCoro::Task<void> waiting = profiles::await(*gate);
        co_await waiting;
        throw ProviderProbe::TransportError("connection refused");
    };
    const auto model = make(kRegistry, held);
    model->setAPIKey("sk-ant", ModelProvider::anthropic);
    ProviderKeysPage page(model);
    ProviderKeyBlock *anthropic = page.block(ModelProvider::anthropic);
    ProviderKeyBlock *zai = page.block(ModelProvider::zai);

    anthropic->testButton()->click();
    ASSERT_NE(anthropic->testingLabel(), nullptr);
    EXPECT_EQ(anthropic->testingLabel()->text(), "testing…");
    EXPECT_FALSE(anthropic->testButton()->isEnabled());
    EXPECT_EQ(textColour(anthropic->testButton()), Palette::inkMuted());
    EXPECT_TRUE(zai->testButton()->isEnabled());
    EXPECT_EQ(textColour(zai->testButton()), Palette::ink());
    EXPECT_EQ(zai->testingLabel(), nullptr);
    page.resize(640, 1000);
    page.show();
    QApplication::processEvents();
    EXPECT_FALSE(testsupport::saveScreenshot(page, "settings-keys-testing", QSize(640, 1000)).isEmpty());

    gate->set();
    ASSERT_TRUE(spinUntil([anthropic] { return anthropic->result() != nullptr; }));
    EXPECT_EQ(anthropic->result()->text(), "unreachable — connection refused");
    EXPECT_EQ(anthropic->result()->colour(), Palette::systemOrange());
    EXPECT_TRUE(anthropic->testButton()->isEnabled());
    EXPECT_EQ(anthropic->testingLabel(), nullptr);
    EXPECT_EQ(zai->result(), nullptr);
}

TEST(TestConnectionResultView, WorksInAccentFailuresInOrangeLongDetailCutInTheMiddle)
{
    TestConnectionResult works(Outcome::works(412, 37));
    EXPECT_EQ(works.text(), "✓ works · 412 ms · 37 models");
    EXPECT_EQ(works.colour(), Palette::accent());
    EXPECT_TRUE(works.toolTip().isEmpty());

    TestConnectionResult failed(Outcome::requestFailed(503, "overloaded"));
    failed.resize(400, 40);
    EXPECT_EQ(failed.shownText(), "HTTP 503 — overloaded");
    EXPECT_EQ(failed.colour(), Palette::systemOrange());
    EXPECT_EQ(failed.toolTip(), "HTTP 503 — overloaded");

    QString detail;
    for (int i = 0; i < 40; ++i)
        detail += QStringLiteral("word%1 ").arg(i);
    detail += "the-end";
    TestConnectionResult longer(Outcome::unreachable(detail));
    longer.resize(220, 40);
    const QString shown = longer.shownText();
    EXPECT_TRUE(shown.startsWith("unreachable — word0")) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith("the-end")) << shown.toStdString();
    EXPECT_TRUE(shown.contains(u'…'));
    EXPECT_LT(shown.size(), longer.text().size());
    EXPECT_EQ(longer.toolTip(), longer.text());
    EXPECT_LE(longer.heightForWidth(220), 2 * QFontMetrics(longer.font()).lineSpacing());
}

TEST_F(SettingsViews, KeysNeverReachAccessibilityTooltipsOrTheLog)
{
    const QStringList keys{"zai-secret-1", "ant-secret-2", "oai-secret-3", "nous-secret-4"};
    for (qsizetype i = 0; i < keys.size(); ++i)
        writer->storedKeys.insert(ModelProvider::allCases().at(i), keys.at(i));
    testsupport::CapturedLog log;
    const auto model = make();
    SettingsPaneView pane(
        model, [] { return QString("/home/writer/Pennora"); }, [](const QString &) {},
        [](QWidget *) { return std::nullopt; });
    pane.setPage(SettingsPage::keys);
    pane.resize(900, 1000);
    pane.show();
    ASSERT_TRUE(spinUntil([&model] { return model->keyConfig(ModelProvider::nous).apiKey == "nous-secret-4"; }));
    auto *page = qobject_cast<ProviderKeysPage *>(pane.currentPage());
    ASSERT_NE(page, nullptr);
    QTest::keyClicks(page->block(ModelProvider::zai)->keyField(), "-typed");

    const auto leaks = [&keys](const QString &text) {
        for (const QString &key : keys) {
            if (text.contains(key.left(8)))
                return true;
        }
        return false;
    };
    for (const QWidget *widget : pane.findChildren<QWidget *>()) {
        EXPECT_FALSE(
            leaks(widget->accessibleName() + widget->accessibleDescription() + widget->toolTip() + widget->whatsThis()))
            << widget->metaObject()->className();
    }
    for (ProviderKeyBlock *block : page->blocks()) {
        EXPECT_TRUE(leaks(block->keyField()->text()));
        QAccessibleInterface *field = QAccessible::queryAccessibleInterface(block->keyField());
        ASSERT_NE(field, nullptr);
        EXPECT_FALSE(leaks(field->text(QAccessible::Value) + field->text(QAccessible::Name)
                           + field->text(QAccessible::Description)));
    }
    for (const auto &line : log.lines)
        EXPECT_FALSE(leaks(line.text)) << line.text.toStdString();
}

// --- The pane ---------------------------------------------------------------------

class SettingsPane : public SettingsViews {
protected:
    std::unique_ptr<SettingsPaneView> makePane(std::shared_ptr<SettingsModel> model)
    {
        auto pane = std::make_unique<SettingsPaneView>(
            std::move(model), [this] { return home; }, [this](const QString &folder) { homesSet << folder; },
            [this](QWidget *parent) {
                choosers << parent;
                return chosen;
            });
        pane->resize(900, 640);
        return pane;
    }

    QString home = "/home/writer/Documents/Pennora";
    QStringList homesSet;
    QList<QWidget *> choosers;
    std::optional<QString> chosen;
};

TEST_F(SettingsPane, OpensOnContentWithItsTintedRowAndSwitchesPagesByRow)
{
    const auto pane = makePane(make());
    EXPECT_EQ(pane->page(), SettingsPage::content);
    auto *content = qobject_cast<ContentSettingsPage *>(pane->currentPage());
    ASSERT_NE(content, nullptr);
    EXPECT_EQ(content->pathText()->path(), home);
    for (const SettingsPage page : SettingsPage::allCases()) {
        SettingsSidebarButton *row = pane->sidebarButton(page);
        EXPECT_EQ(row->accessibleName(), page.label());
        const bool selected = page == SettingsPage::content;
        EXPECT_EQ(row->isSelected(), selected);
        EXPECT_EQ(row->strip()->isVisibleTo(row), selected);
        EXPECT_EQ(row->fill().has_value(), selected);
    }
    EXPECT_NEAR(pane->sidebarButton(SettingsPage::content)->fill()->alphaF(), 0.10, 0.01);
    SettingsSidebarButton *hovered = pane->sidebarButton(SettingsPage::pass2);
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QApplication::sendEvent(hovered, &enter);
    ASSERT_TRUE(hovered->fill().has_value());
    EXPECT_NEAR(hovered->fill()->alphaF(), 0.06, 0.01);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(hovered, &leave);
    EXPECT_FALSE(hovered->fill().has_value());
    EXPECT_FALSE(pane->errorLine()->isVisibleTo(pane.get()));

    pane->sidebarButton(SettingsPage::chat)->click();
    auto *chat = qobject_cast<SurfaceSettingsPage *>(pane->currentPage());
    ASSERT_NE(chat, nullptr);
    EXPECT_EQ(chat->surface(), ProfileSurface::chat);
    EXPECT_TRUE(pane->sidebarButton(SettingsPage::chat)->isSelected());
    EXPECT_FALSE(pane->sidebarButton(SettingsPage::content)->isSelected());
    pane->sidebarButton(SettingsPage::keys)->click();
    ASSERT_NE(qobject_cast<ProviderKeysPage *>(pane->currentPage()), nullptr);
    // A page built again starts with its keys hidden.
    auto *keys = qobject_cast<ProviderKeysPage *>(pane->currentPage());
    keys->block(ModelProvider::nous)->revealButton()->click();
    pane->sidebarButton(SettingsPage::pass2)->click();
    pane->sidebarButton(SettingsPage::keys)->click();
    keys = qobject_cast<ProviderKeysPage *>(pane->currentPage());
    EXPECT_FALSE(keys->block(ModelProvider::nous)->revealed());
}

TEST_F(SettingsPane, LoadingAndShowingEveryPageMakesNoWriterCall)
{
    writer->storedModels.insert(ProfileSurface::chat, {{ModelProvider::zai, "glm-custom", ReasoningEffort::high},
                                                       ZaiKeyType(ZaiKeyType::coding).endpoint()});
    writer->storedModels.insert(ProfileSurface::pass1,
                                {{ModelProvider::openaiAPI, "gpt-6", ReasoningEffort::xhigh}, std::nullopt});
    writer->storedModels.insert(ProfileSurface::pass2, {SurfaceModelConfig::defaultConfig(), std::nullopt});
    writer->storedKeys.insert(ModelProvider::anthropic, "sk-stored");
    const auto model = make();
    const auto pane = makePane(model);
    pane->show();
    for (const SettingsPage page : SettingsPage::allCases()) {
        pane->setPage(page);
        QApplication::processEvents();
    }
    ASSERT_TRUE(spinUntil([&model] { return model->keyConfig(ModelProvider::anthropic).apiKey == "sk-stored"; }));
    EXPECT_EQ(model->surfaceConfig(ProfileSurface::chat).model, "glm-custom");
    EXPECT_EQ(model->zaiKeyType(), ZaiKeyType::coding);
    pane->setPage(SettingsPage::chat);
    auto *chat = qobject_cast<SurfaceSettingsPage *>(pane->currentPage());
    EXPECT_EQ(chat->modelField()->currentText(), "glm-custom");
    EXPECT_EQ(chat->effortPicker()->currentText(), "high");
    settle();
    EXPECT_TRUE(writer->calls.isEmpty()) << writer->chains().join(", ").toStdString();
    for (const ProfileSurface surface : ProfileSurface::allCases())
        EXPECT_FALSE(model->hasSurfaceTask(surface));
    for (const ModelProvider provider : ModelProvider::allCases())
        EXPECT_FALSE(model->hasKeyTask(provider));
}

TEST_F(SettingsPane, WriteErrorStaysAcrossPagesUntilTheNextSuccessfulWrite)
{
    const QString failure = "couldn't set model.reasoning_effort on pennora-pass1: engine busy";
    writer->failures.insert("pass1", failure);
    const auto pane = makePane(make());
    pane->sidebarButton(SettingsPage::pass1)->click();
    auto *pass1 = qobject_cast<SurfaceSettingsPage *>(pane->currentPage());
    emit pass1->effortPicker()->activated(1);
    ASSERT_TRUE(spinUntil([&pane] { return pane->errorLine()->isVisibleTo(pane.get()); }));
    EXPECT_EQ(pane->errorLine()->text(), failure);
    for (const SettingsPage page : {SettingsPage::keys, SettingsPage::content, SettingsPage::pass2}) {
        pane->sidebarButton(page)->click();
        EXPECT_TRUE(pane->errorLine()->isVisibleTo(pane.get()));
        EXPECT_EQ(pane->errorLine()->text(), failure);
    }
    writer->failures.clear();
    auto *pass2 = qobject_cast<SurfaceSettingsPage *>(pane->currentPage());
    emit pass2->effortPicker()->activated(2);
    ASSERT_TRUE(spinUntil([&pane] { return !pane->errorLine()->isVisibleTo(pane.get()); }));
}

TEST_F(SettingsPane, LeavingAPageWhileTypingAModelCommitsIt)
{
    const auto model = make();
    auto pane = makePane(model);
    pane->show();
    QApplication::setActiveWindow(pane.get());
    pane->setPage(SettingsPage::pass1);
    ModelComboBox *field = qobject_cast<SurfaceSettingsPage *>(pane->currentPage())->modelField();
    field->lineEdit()->setFocus();
    ASSERT_TRUE(spinUntil([field] { return field->isEditing(); }));
    field->lineEdit()->selectAll();
    QTest::keyClicks(field->lineEdit(), "glm-typed ");
    pane->setPage(SettingsPage::keys);
    EXPECT_EQ(model->surfaceConfig(ProfileSurface::pass1).model, "glm-typed");

    // Leaving the settings pane ends the edit too.
    pane->setPage(SettingsPage::chat);
    field = qobject_cast<SurfaceSettingsPage *>(pane->currentPage())->modelField();
    field->lineEdit()->setText("claude-opus-5");
    pane.reset();
    EXPECT_EQ(model->surfaceConfig(ProfileSurface::chat).model, "claude-opus-5");
}

TEST_F(SettingsPane, ChooseSetsTheHomeEvenToTheSameFolderAndCancelChangesNothing)
{
    const auto pane = makePane(make());
    auto *content = qobject_cast<ContentSettingsPage *>(pane->currentPage());
    EXPECT_EQ(content->chooseButton()->text(), "Choose…");
    EXPECT_EQ(content->chooseButton()->toolTip(), "Pick the folder holding your posts");

    content->chooseButton()->click();
    EXPECT_TRUE(homesSet.isEmpty());
    EXPECT_EQ(choosers.size(), 1);

    chosen = home;
    content->chooseButton()->click();
    EXPECT_EQ(homesSet, QStringList({home}));

    // The page shows whatever the Home is once set.
    chosen = "/srv/elsewhere/Writing";
    home = "/srv/elsewhere/Writing";
    content->chooseButton()->click();
    EXPECT_EQ(homesSet.last(), "/srv/elsewhere/Writing");
    EXPECT_EQ(content->pathText()->path(), "/srv/elsewhere/Writing");
}

TEST(ElidedPathTextView, ShowsTheFirstFormThatFitsWithTheWholePathAsTooltip)
{
    const QString path = "/home/writer/Documents/Writing/Pennora";
    ElidedPathText text(path);
    text.resize(2000, 16);
    text.show();
    EXPECT_EQ(text.text(), path);
    const QFontMetricsF metrics(text.font());
    text.resize(int(metrics.horizontalAdvance("/home/writer/…/Pennora")) + 1, 16);
    EXPECT_EQ(text.text(), "/home/writer/…/Pennora");
    EXPECT_EQ(text.toolTip(), path);
    EXPECT_EQ(text.accessibleName(), path);
    EXPECT_EQ(text.height(), 16);

    // Two components are never shortened by folders; the platform cuts them.
    ElidedPathText two("/averyveryverylongfolder/anotherlongfolder");
    two.resize(60, 16);
    two.show();
    EXPECT_NE(two.text(), two.path());
    EXPECT_TRUE(two.text().contains(u'…'));
    EXPECT_FALSE(two.text().contains("/…/"));
}

// --- Screenshots ----------------------------------------------------------------

TEST_F(SettingsPane, Screenshots)
{
    writer->storedModels.insert(ProfileSurface::pass1,
                                {{ModelProvider::zai, "glm-5.3", ReasoningEffort::high}, std::nullopt});
    writer->storedModels.insert(ProfileSurface::chat,
                                {{ModelProvider::anthropic, "claude-opus-5-preview", std::nullopt}, std::nullopt});
    writer->storedModels.insert(ProfileSurface::pass2, {SurfaceModelConfig::defaultConfig(), std::nullopt});
    writer->storedKeys.insert(ModelProvider::nous, "nous-key");
    writer->storedKeys.insert(ModelProvider::zai, "zai-key");
    probe.setAnswers({
        ScriptedProbeTransport::reply(200, R"({"data":[{"id":"a"},{"id":"b"},{"id":"c"}]})"),
        ScriptedProbeTransport::reply(200, "data: {\"choices\":[{\"delta\":{\"content\":\"Hi\"},"
                                           "\"finish_reason\":\"stop\"}]}\ndata: [DONE]\n"),
        ScriptedProbeTransport::reply(503, R"({"error":{"message":"overloaded"}})"),
    });
    home = "/home/writer/Documents/Long Folder Name/Another Level/Writing/Pennora";
    const auto model = make();
    const auto pane = makePane(model);
    pane->show();
    ASSERT_TRUE(spinUntil([&model] { return model->keyConfig(ModelProvider::zai).apiKey == "zai-key"; }));
    pane->resize(700, 560);
    EXPECT_FALSE(testsupport::saveScreenshot(*pane, "settings-content", QSize(700, 560)).isEmpty());

    pane->setPage(SettingsPage::pass1);
    EXPECT_FALSE(testsupport::saveScreenshot(*pane, "settings-pass1", QSize(900, 560)).isEmpty());
    pane->setPage(SettingsPage::chat);
    EXPECT_FALSE(testsupport::saveScreenshot(*pane, "settings-chat", QSize(900, 560)).isEmpty());

    pane->resize(900, 1180);
    pane->setPage(SettingsPage::keys);
    for (const ModelProvider provider : {ModelProvider::nous, ModelProvider::zai, ModelProvider::anthropic}) {
        QCoro::Task<void> testing = model->testConnection(provider);
        ASSERT_TRUE(spinUntil([&model, provider] {
            const auto state = model->testStates().constFind(provider);
            return state != model->testStates().constEnd() && state->which == SettingsModel::TestState::Case::done;
        }));
    }
    auto *keys = qobject_cast<ProviderKeysPage *>(pane->currentPage());
    ASSERT_NE(keys->block(ModelProvider::nous)->result(), nullptr);
    // The scroll area settles its bars from posted layout requests.
    QApplication::processEvents();
    EXPECT_TRUE(keys->block(ModelProvider::nous)->result()->text().startsWith("✓ works · "));
    EXPECT_FALSE(testsupport::saveScreenshot(*pane, "settings-keys", QSize(900, 1180)).isEmpty());

    writer->failures.insert("pass2", "couldn't set model.provider on pennora-pass2: profile is locked");
    pane->setPage(SettingsPage::pass2);
    auto *pass2 = qobject_cast<SurfaceSettingsPage *>(pane->currentPage());
    emit pass2->providerPicker()->activated(3);
    ASSERT_TRUE(spinUntil([&pane] { return pane->errorLine()->isVisibleTo(pane.get()); }));
    EXPECT_FALSE(testsupport::saveScreenshot(*pane, "settings-pass2-error", QSize(900, 560)).isEmpty());
}

} // namespace
