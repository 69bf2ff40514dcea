// The engine status views over the real engine check and provisioning model,
// driven by the stand-in engine: the pill's looks and pulse, the card's two
// sections with their texts and buttons, and the mentor panes' status line.

#include "app/enginestatusviews.h"
#include "app/panemounts.h"
#include "app/state/appgatestate.h"
#include "app/workspaceview.h"
#include "chrome/busyindicator.h"
#include "chrome/palette.h"
#include "engine/enginegatemodel.h"
#include "engine/mentorsessionmodel.h"
#include "library/homelocation.h"
#include "model/postsmodel.h"
#include "profiles/provisioningmodel.h"

#include "fakehermesscenario.h"
#include "screenshot.h"
#include "testenv.h"
#include "testutil.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonArray>
#include <QJsonObject>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

namespace {

using app::AppGateState;
using app::EngineStatusCard;
using app::EngineStatusPill;
using app::MentorEngineStatus;
using app::WorkspaceView;
using GatePhase = engine::EngineGateModel::Phase;
using MentorPhase = engine::MentorSessionModel::Phase;
using Outcome = profiles::ProfileProvisioner::Outcome;
using ProvisionPhase = profiles::ProfileProvisioner::Phase;
using Visibility = app::EngineStatusSurface::Visibility;
using testsupport::spinUntil;

QJsonObject checkAnswer(int exit, const QString &stderrText, int sleepMs = 0)
{
    return QJsonObject{{"check", QJsonObject{{"exit", exit}, {"stderr", stderrText}, {"sleepMs", sleepMs}}}};
}

// The provisioning payload where a test executable looks for it, as the
// build tree places it beside the real one.
void placePayloadBesideTheTests()
{
    const QString share = QCoreApplication::applicationDirPath() + "/../share/pennora";
    QDir().mkpath(share);
    if (!QFileInfo::exists(share + "/writing skills"))
        QFile::link(testsupport::sourceDir() + "/src/resources/writing skills", share + "/writing skills");
}

QString labelText(QWidget *root, const QString &name)
{
    auto *label = root->findChild<QLabel *>(name);
    return label ? label->text() : QString("<none>");
}

// A root state and a workspace window over it, with an engine placed under
// a temporary folder.
class EngineStatus : public ::testing::Test {
protected:
    void SetUp() override
    {
        view.openUrl = [this](const QUrl &url) { opened << url; };
        view.copyText = [this](const QString &text) { copied << text; };
        view.resize(1100, 720);
        view.show();
    }
    QString engine(const QString &name, const QJsonObject &scenario)
    {
        return testsupport::placeFakeHermes(dir.filePath(name), scenario);
    }
    void check(const QString &binary)
    {
        QCoro::waitFor(gate.gateModel().check({binary}, false, dir.filePath("state"), std::chrono::seconds(5)));
    }
    void provision(const QString &binary, const QString &payload)
    {
        QCoro::waitFor(gate.provisioning().run(binary, dir.filePath("profiles"), payload, dir.filePath("master")));
    }
    QString payload() const { return testsupport::sourceDir() + "/src/resources/writing skills"; }
    EngineStatusCard *card() const { return view.card(); }

    QTemporaryDir dir;
    AppGateState gate;
    WorkspaceView view{gate};
    QList<QUrl> opened;
    QStringList copied;
};

TEST(EngineStatusRules, VisibilityTooltipsTitlesAndHeadlines)
{
    const Outcome failure = Outcome::failed("pennora-pass1", ProvisionPhase::register_, "x");
    struct Case {
        GatePhase phase;
        std::optional<Outcome> lastFailure;
        Visibility visibility;
    };
    const Case cases[] = {
        {GatePhase::idle(), failure, Visibility::hidden},
        {GatePhase::checking(), failure, Visibility::pulsing},
        {GatePhase::fail("~/.local/bin/hermes", ""), std::nullopt, Visibility::failed},
        {GatePhase::pass("1.0", "/bin/hermes"), std::nullopt, Visibility::hidden},
        {GatePhase::pass("1.0", "/bin/hermes"), Outcome::seeded(1, 2), Visibility::hidden},
        {GatePhase::pass("1.0", "/bin/hermes"), failure, Visibility::failed},
    };
    for (const Case &c : cases)
        EXPECT_EQ(app::EngineStatusSurface::visibility(c.phase, c.lastFailure), c.visibility) << int(c.phase.which());

    EXPECT_EQ(app::EngineStatusSurface::pillTooltip(Visibility::pulsing), "Checking the engine");
    EXPECT_EQ(app::EngineStatusSurface::pillTooltip(Visibility::failed), "Engine problem — click for details");
    EXPECT_EQ(app::EngineStatusSurface::pillTooltip(Visibility::hidden), "");
    EXPECT_EQ(EngineStatusCard::title(GatePhase::fail("a", "b")), "Pennora needs its engine");
    EXPECT_EQ(EngineStatusCard::title(GatePhase::pass("1", "a")), "Setup failed");
    EXPECT_EQ(EngineStatusCard::setupHeadline(ProvisionPhase::create), "couldn't set up the writing profile");
    EXPECT_EQ(EngineStatusCard::setupHeadline(ProvisionPhase::copy), "couldn't copy the writing skills");
    EXPECT_EQ(EngineStatusCard::setupHeadline(ProvisionPhase::register_), "couldn't register the writing tools");
    EXPECT_EQ(EngineStatusCard::setupHeadline(ProvisionPhase::configure), "couldn't set the model defaults");
    // The engine check's failure wins over a recorded provisioning failure.
    EXPECT_EQ(EngineStatusCard::body(GatePhase::fail("a", ""), failure), EngineStatusCard::Body::engineMissing);
    EXPECT_EQ(EngineStatusCard::body(GatePhase::pass("1", "a"), failure), EngineStatusCard::Body::setupFailed);
    EXPECT_EQ(EngineStatusCard::body(GatePhase::checking(), std::nullopt), EngineStatusCard::Body::none);

    const QString command = app::WorkspaceLayout::installCommand();
    EXPECT_TRUE(command.startsWith("curl -fsSL https://")) << command.toStdString();
    EXPECT_TRUE(command.endsWith("/install.sh | bash")) << command.toStdString();
    EXPECT_EQ(EngineStatusCard::installationGuide.scheme(), "https");
}

TEST(EngineStatusRules, StatusLineStatesVersionsAndTooltips)
{
    using State = MentorEngineStatus::State;
    using View = MentorEngineStatus::GateView;
    const Outcome failure = Outcome::failed(std::nullopt, ProvisionPhase::copy, "");
    struct Case {
        std::optional<View> gate;
        MentorPhase mentor;
        State state;
    };
    const Case cases[] = {
        {View{GatePhase::idle(), std::nullopt}, MentorPhase::ready(), State::checking},
        {View{GatePhase::checking(), std::nullopt}, MentorPhase::ready(), State::checking},
        // The gate speaks for the engine even while the mentor is idle.
        {View{GatePhase::fail("a", ""), std::nullopt}, MentorPhase::idle(), State::engineMissing},
        {View{GatePhase::pass("1", "a"), failure}, MentorPhase::idle(), State::setupFailed},
        {View{GatePhase::pass("1", "a"), std::nullopt}, MentorPhase::idle(), State::ready},
        {std::nullopt, MentorPhase::idle(), State::checking},
        {std::nullopt, MentorPhase::starting(), State::ready},
        {std::nullopt, MentorPhase::ready(), State::ready},
        {std::nullopt, MentorPhase::crashed(std::nullopt), State::ready},
    };
    for (const Case &c : cases)
        EXPECT_EQ(MentorEngineStatus::state(c.gate, c.mentor), c.state) << int(c.mentor.which());

    const View passed{GatePhase::pass("0.9.1+build.7+x", "/bin/hermes"), std::nullopt};
    EXPECT_EQ(MentorEngineStatus::displayVersion(QString("1.2.0"), passed), "1.2.0");
    EXPECT_EQ(MentorEngineStatus::displayVersion(std::nullopt, passed), "0.9.1");
    EXPECT_EQ(MentorEngineStatus::displayVersion(std::nullopt, View{GatePhase::pass("0.9", "/b"), std::nullopt}),
              "0.9");
    EXPECT_EQ(MentorEngineStatus::displayVersion(std::nullopt, View{GatePhase::fail("a", "b"), std::nullopt}), "");
    EXPECT_EQ(MentorEngineStatus::displayVersion(std::nullopt, std::nullopt), "");

    EXPECT_EQ(MentorEngineStatus::tooltip(State::ready, "0.9.1"), "hermes 0.9.1");
    EXPECT_EQ(MentorEngineStatus::tooltip(State::ready, ""), "Engine ready");
    EXPECT_EQ(MentorEngineStatus::tooltip(State::engineMissing, ""), "Passes and Sessions need the Hermes engine");
    EXPECT_EQ(MentorEngineStatus::tooltip(State::setupFailed, ""),
              "Profile setup didn't finish — retry from the rail's status card");
    EXPECT_EQ(MentorEngineStatus::tooltip(State::checking, "1"), "");
    EXPECT_EQ(MentorEngineStatus::text(State::checking), "checking the engine…");
    EXPECT_EQ(MentorEngineStatus::text(State::engineMissing), "engine missing");
    EXPECT_EQ(MentorEngineStatus::text(State::setupFailed), "setup failed");
    EXPECT_EQ(MentorEngineStatus::text(State::ready), "ready");
}

TEST_F(EngineStatus, PillPulsesWhileCheckingThenTheFailedCardOpensByItselfAndStaysClosedAfterCollapsing)
{
    EXPECT_FALSE(view.pill()->isVisible());
    EXPECT_EQ(card(), nullptr);
    testsupport::saveScreenshot(view, "workspace", QSize(1100, 720));

    const QString slow = engine("slow/hermes", checkAnswer(1, "hermes: no config found\nrun hermes setup", 800));
    QCoro::Task<void> checking = gate.gateModel().check({slow}, false, dir.filePath("state"), std::chrono::seconds(5));
    ASSERT_EQ(gate.gateModel().phase(), GatePhase::checking());
    EXPECT_TRUE(view.pill()->isVisible());
    EXPECT_EQ(view.pill()->visibility(), Visibility::pulsing);
    EXPECT_EQ(view.pill()->toolTip(), "Checking the engine");
    EXPECT_TRUE(view.pill()->isPulsing());
    EXPECT_EQ(card(), nullptr);
    // A pulsing pill opens nothing.
    view.pill()->click();
    EXPECT_FALSE(view.statusCardExpanded());
    ASSERT_TRUE(spinUntil([&] { return view.pill()->dotOpacity() < 0.9; }, 2000));
    testsupport::saveScreenshot(view, "workspace-checking", QSize(1100, 720));
    // No animation runs for a pill that is not on screen.
    view.hide();
    EXPECT_FALSE(view.pill()->isPulsing());
    view.show();
    EXPECT_TRUE(view.pill()->isPulsing());
    EXPECT_EQ(view.pill()->dotOpacity(), 1.0);

    QCoro::waitFor(std::move(checking));
    EXPECT_EQ(view.pill()->visibility(), Visibility::failed);
    EXPECT_EQ(view.pill()->toolTip(), "Engine problem — click for details");
    EXPECT_FALSE(view.pill()->isPulsing());
    ASSERT_NE(card(), nullptr);
    EXPECT_TRUE(card()->isVisible());
    EXPECT_EQ(card()->pos(), QPoint(68, 720 - 14 - card()->height()));
    EXPECT_EQ(card()->width(), 340);
    EXPECT_EQ(labelText(card(), "title"), "Pennora needs its engine");
    testsupport::saveScreenshot(view, "workspace-engine-missing", QSize(1100, 720));

    // Collapsed, it stays closed until the pill is clicked.
    card()->findChild<QToolButton *>("collapse")->click();
    EXPECT_EQ(card(), nullptr);
    EXPECT_FALSE(view.statusCardExpanded());
    testsupport::drainPosted();
    EXPECT_EQ(card(), nullptr);
    EXPECT_TRUE(view.pill()->isVisible());
    view.pill()->click();
    ASSERT_NE(card(), nullptr);

    // A check that fails again passes through pulsing, so the card leaves
    // and comes back by itself even after a collapse.
    card()->findChild<QToolButton *>("collapse")->click();
    QCoro::Task<void> again = gate.gateModel().check({slow}, false, dir.filePath("state"), std::chrono::seconds(5));
    EXPECT_EQ(card(), nullptr);
    EXPECT_EQ(view.pill()->visibility(), Visibility::pulsing);
    QCoro::waitFor(std::move(again));
    ASSERT_NE(card(), nullptr);

    // Focus mode hides the card; leaving it brings the card back.
    gate.setIsFocused(true);
    EXPECT_EQ(card(), nullptr);
    gate.setIsFocused(false);
    EXPECT_NE(card(), nullptr);
}

TEST_F(EngineStatus, EngineMissingSectionTextsAndWhereProbedGoes)
{
    const QString quiet = engine("quiet/hermes", checkAnswer(1, ""));
    check(quiet);
    ASSERT_NE(card(), nullptr);
    QWidget *section = card()->findChild<QWidget *>("engineMissing");
    ASSERT_NE(section, nullptr);
    QStringList texts;
    for (QLabel *label : section->findChildren<QLabel *>())
        texts << label->text();
    for (const QString &expected :
         {EngineStatusCard::missingText, app::WorkspaceLayout::installCommand(), QString("1."), QString("2."),
          QString("Come back here and click Re-check."), QString("Re-check"), "Probed: " + quiet})
        EXPECT_TRUE(texts.contains(expected)) << expected.toStdString();
    EXPECT_EQ(EngineStatusCard::missingText,
              "The Hermes engine wasn't found or didn't answer. Passes and Sessions need it — the editor keeps "
              "working.");
    // No excerpt: the probed line stands alone, with no details group.
    EXPECT_EQ(card()->findChild<QToolButton *>("Technical details"), nullptr);
    EXPECT_TRUE(card()->findChild<QLabel *>("probed")->isVisible());

    // Copy and the guide go to what the workspace was given, nothing else.
    card()->findChild<QPushButton *>("Copy")->click();
    card()->findChild<QPushButton *>("Installation guide")->click();
    EXPECT_EQ(copied, QStringList{app::WorkspaceLayout::installCommand()});
    EXPECT_EQ(opened, QList<QUrl>{EngineStatusCard::installationGuide});
    EXPECT_EQ(labelText(card(), "title"), "Pennora needs its engine");

    // With an excerpt the probed line moves under it, inside the collapsed
    // group.
    const QString noisy = engine("noisy/hermes", checkAnswer(1, "hermes: no config found"));
    check(noisy);
    auto *details = card()->findChild<QToolButton *>("Technical details");
    ASSERT_NE(details, nullptr);
    QLabel *probed = card()->findChild<QLabel *>("probed");
    QLabel *excerpt = card()->findChild<QLabel *>("excerpt");
    EXPECT_EQ(probed->text(), "Probed: " + noisy);
    EXPECT_EQ(excerpt->text(), "hermes: no config found");
    EXPECT_FALSE(probed->isVisible());
    const int collapsed = card()->height();
    details->click();
    EXPECT_TRUE(probed->isVisible());
    EXPECT_LT(excerpt->mapTo(card(), QPoint()).y(), probed->mapTo(card(), QPoint()).y());
    // The card grows to hold the opened group, still 14 above the bottom;
    // nothing in it is squeezed.
    QApplication::processEvents();
    EXPECT_EQ(card()->height(), card()->heightForWidth(EngineStatusCard::cardWidth));
    EXPECT_GT(card()->height(), collapsed);
    EXPECT_EQ(card()->geometry().bottom(), view.height() - app::WorkspaceLayout::cardBottom - 1);
    for (QLabel *label : card()->findChildren<QLabel *>()) {
        if (label->isVisible() && label->wordWrap()) {
            EXPECT_GE(label->height(), label->heightForWidth(label->width())) << label->text().toStdString();
        }
    }
    testsupport::saveScreenshot(view, "workspace-engine-missing-details", QSize(1100, 720));
}

TEST_F(EngineStatus, ReCheckIsDisabledWhileCheckingAndRunsTheStartUpCheck)
{
    // The card drawn on its own, so its checking look can be seen.
    EngineStatusCard alone(
        gate, [] {}, app::WorkspaceLayout::installCommand());
    alone.copyText = [](const QString &) {};
    const QString slow = engine("slow/hermes", checkAnswer(1, "", 600));
    QCoro::Task<void> checking = gate.gateModel().check({slow}, false, dir.filePath("state"), std::chrono::seconds(5));
    QCoro::waitFor(std::move(checking));
    alone.show();
    auto *recheck = alone.findChild<QPushButton *>("Re-check");
    ASSERT_NE(recheck, nullptr);
    EXPECT_TRUE(recheck->isEnabled());

    QCoro::Task<void> again = gate.gateModel().check({slow}, false, dir.filePath("state"), std::chrono::seconds(5));
    EXPECT_FALSE(recheck->isEnabled());
    EXPECT_EQ(labelText(recheck, "label"), "Checking…");
    EXPECT_TRUE(recheck->findChild<app::BusyIndicator *>("spinner")->isSpinning());
    testsupport::saveScreenshot(alone, "engine-card-checking");
    QCoro::waitFor(std::move(again));
    testsupport::drainPosted();
    recheck = alone.findChild<QPushButton *>("Re-check");
    ASSERT_NE(recheck, nullptr);
    EXPECT_TRUE(recheck->isEnabled());
    EXPECT_EQ(labelText(recheck, "label"), "Re-check");

    // Re-check looks where the start-up looks: an engine in ~/.local/bin.
    const QString usual = testsupport::placeFakeHermes(QDir::homePath() + "/.local/bin/hermes", QJsonObject{});
    recheck->click();
    EXPECT_EQ(gate.gateModel().phase().which(), GatePhase::Case::checking);
    ASSERT_TRUE(spinUntil([&] { return !gate.gateModel().running(); }));
    EXPECT_EQ(gate.gateModel().phase().which(), GatePhase::Case::pass);
    EXPECT_EQ(gate.gateModel().currentBinaryPath(), usual);
    QFile::remove(usual);
}

TEST_F(EngineStatus, SetUpFailureShowsItsHeadlineProfileAndRetryRunsProvisioningWithTheEngineFound)
{
    placePayloadBesideTheTests();
    testsupport::FakeHermesScenario log(QJsonObject{});
    const QString refusing = engine(
        "refusing/hermes", QJsonObject{{"commands", QJsonArray{QJsonObject{{"args", QJsonArray{"profile", "create"}},
                                                                           {"prefix", true},
                                                                           {"exit", 1},
                                                                           {"stderr", "permission denied"}}}}});
    check(refusing);
    EXPECT_FALSE(view.pill()->isVisible());
    provision(refusing, payload());
    ASSERT_TRUE(gate.provisioning().lastFailure());
    EXPECT_EQ(view.pill()->visibility(), Visibility::failed);
    ASSERT_NE(card(), nullptr);
    EXPECT_EQ(labelText(card(), "title"), "Setup failed");
    EXPECT_EQ(labelText(card(), "headline"), "couldn't set up the writing profile");
    EXPECT_EQ(labelText(card(), "profile"), "pennora");
    EXPECT_EQ(labelText(card(), "excerpt"), "permission denied");
    EXPECT_NE(card()->findChild<QToolButton *>("Technical details"), nullptr);
    QStringList texts;
    for (QLabel *label : card()->findChildren<QLabel *>())
        texts << label->text();
    EXPECT_TRUE(texts.contains(EngineStatusCard::reassuranceText));
    EXPECT_EQ(EngineStatusCard::reassuranceText, "Pennora couldn't finish setting up the writing profiles. Nothing is "
                                                 "lost — the setup is safe to run again.");
    testsupport::saveScreenshot(view, "workspace-setup-failed", QSize(1100, 720));

    // Retry provisions the real profiles folder with the engine found last.
    auto *retry = card()->findChild<QPushButton *>("Retry");
    ASSERT_NE(retry, nullptr);
    EXPECT_TRUE(retry->isEnabled());
    const qsizetype runsBefore = log.events("run").size();
    retry->click();
    EXPECT_TRUE(gate.provisioning().running());
    ASSERT_TRUE(spinUntil([&] { return !gate.provisioning().running(); }));
    const QList<QJsonObject> runs = log.events("run").mid(runsBefore);
    ASSERT_FALSE(runs.isEmpty());
    EXPECT_EQ(runs.first().value("path").toString(), refusing);
    EXPECT_EQ(runs.first().value("args").toArray().at(0).toString(), "profile");

    // A failure that names no profile and has no excerpt shows neither.
    const Outcome bare = Outcome::failed(std::nullopt, ProvisionPhase::copy, "");
    EXPECT_FALSE(bare.profile());
    provision(refusing, dir.filePath("no-payload"));
    ASSERT_NE(card(), nullptr);
    EXPECT_EQ(labelText(card(), "headline"), "couldn't copy the writing skills");
    EXPECT_EQ(card()->findChild<QLabel *>("profile"), nullptr);

    // Once the engine no longer refuses, Retry succeeds: the failure is
    // cleared and the card leaves the screen.
    engine("refusing/hermes", QJsonObject{});
    card()->findChild<QPushButton *>("Retry")->click();
    ASSERT_TRUE(spinUntil([&] { return !gate.provisioning().running(); }));
    EXPECT_FALSE(gate.provisioning().lastFailure());
    EXPECT_EQ(card(), nullptr);
    EXPECT_FALSE(view.pill()->isVisible());
}

TEST_F(EngineStatus, StatusLineFollowsTheGateOrTheMentor)
{
    MentorEngineStatus withGate(&gate, gate.mentor());
    MentorEngineStatus alone(nullptr, gate.mentor());
    EXPECT_EQ(labelText(&withGate, "text"), "checking the engine…");
    EXPECT_EQ(labelText(&alone, "text"), "checking the engine…");

    check(engine("broken/hermes", checkAnswer(1, "")));
    EXPECT_EQ(labelText(&withGate, "text"), "engine missing");
    EXPECT_EQ(withGate.findChild<QLabel *>("text")->palette().color(QPalette::WindowText), app::Palette::accent());
    EXPECT_EQ(withGate.toolTip(), "Passes and Sessions need the Hermes engine");
    EXPECT_EQ(labelText(&alone, "text"), "checking the engine…");

    check(engine("good/hermes", checkAnswer(0, "")));
    EXPECT_EQ(labelText(&withGate, "text"), "ready");
    EXPECT_NE(withGate.findChild<QWidget *>("dot"), nullptr);
    // The stand-in answers "hermes 0.0.0-fake" to --version.
    EXPECT_TRUE(withGate.toolTip().startsWith("hermes ")) << withGate.toolTip().toStdString();
    withGate.resize(260, 16);
    testsupport::saveScreenshot(withGate, "status-line-ready");
}

// The workspace as the application mounts it, a long piece open in the prose
// editor, and the engine-missing card over the editor's lower-leading corner.
class MountedEngineStatus : public ::testing::Test {
protected:
    void SetUp() override
    {
        const QString home = dir.filePath("Home");
        testsupport::writeFile(
            home + "/projects/Essays/walk/post.md",
            "---\ntype: post\npass_state: First Draft\norigin: writer\n---\n# Walk\n\n"
                + QString("We walked along the harbour wall until the light went. ").repeated(120).toUtf8() + "\n");
        QSettings settings(dir.filePath("settings.ini"), QSettings::IniFormat);
        settings.setValue("pennoraHome", library::HomeLocation::settingsText(home));
        gate.settleHome(settings);
        view = std::make_unique<WorkspaceView>(gate, &app::mountPanes);
        view->resize(1100, 720);
        view->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
        ASSERT_TRUE(spinUntil([&] { return !gate.posts().posts().isEmpty(); }));
        gate.posts().selectPiece("walk");
        ASSERT_TRUE(spinUntil([&] { return gate.posts().session() != nullptr; }));
        check(testsupport::placeFakeHermes(dir.filePath("broken/hermes"), checkAnswer(1, "")));
        ASSERT_NE(view->card(), nullptr);
    }
    void TearDown() override
    {
        view.reset();
        gate.posts().settleBackgroundWork();
    }
    void check(const QString &binary)
    {
        QCoro::waitFor(gate.gateModel().check({binary}, false, dir.filePath("state"), std::chrono::seconds(5)));
    }
    // What the window shows: its last painted frame, once the paints asked
    // for have run. No blinking caret comes into it.
    QImage onScreen() const
    {
        if (QWidget *focused = QApplication::focusWidget())
            focused->clearFocus();
        spinUntil([] { return false; }, 200);
        return view->screen()->grabWindow(view->winId()).toImage().convertToFormat(QImage::Format_RGB32);
    }
    // The window drawn afresh.
    QImage drawnAfresh() const { return view->grab().toImage().convertToFormat(QImage::Format_RGB32); }

    QTemporaryDir dir;
    AppGateState gate;
    std::unique_ptr<WorkspaceView> view;
};

// Closed by its chevron or by a Re-check that finds the engine, the card
// leaves the window as it would be drawn without it: its part over the editor
// shows the text again, and the shadow around it goes with it.
TEST_F(MountedEngineStatus, TheCardLeavesNothingBehindWhenItCloses)
{
    placePayloadBesideTheTests();
    const std::pair<const char *, std::function<void()>> closings[] = {
        {"chevron", [&] { view->card()->findChild<QToolButton *>("collapse")->click(); }},
        {"recheck",
         [&] {
             testsupport::placeFakeHermes(QDir::homePath() + "/.local/bin/hermes", QJsonObject{});
             view->card()->findChild<QPushButton *>("Re-check")->click();
             ASSERT_TRUE(spinUntil([&] { return !gate.gateModel().running() && !gate.provisioning().running(); }));
         }},
    };
    for (const auto &[way, close] : closings) {
        SCOPED_TRACE(way);
        if (!view->card())
            view->pill()->click();
        ASSERT_NE(view->card(), nullptr);
        const QRect card = view->card()->geometry();
        // The shadow lies under the card and reaches round it.
        ASSERT_NE(view->card()->shadow(), nullptr);
        EXPECT_EQ(view->card()->shadow()->geometry(), card.marginsAdded(app::CardShadow::margins));
        const QImage before = onScreen();
        testsupport::saveScreenshot(*view, QString("workspace-engine-card-before-%1").arg(way));

        close();
        ASSERT_EQ(view->card(), nullptr);
        const QImage after = onScreen();
        const QRect area = card.marginsAdded(app::CardShadow::margins) & view->rect();
        EXPECT_TRUE(after.copy(area) == drawnAfresh().copy(area));
        // A soft shadow stood beneath the card.
        const QPoint belowCard(card.center().x(), card.bottom() + 5);
        EXPECT_LT(qGray(before.pixel(belowCard)) + 8, qGray(after.pixel(belowCard)));
        // What the window showed after the card left, as painted.
        after.save(testsupport::binaryDir() + QString("/screenshots/workspace-engine-card-closed-%1.png").arg(way));
    }
    QFile::remove(QDir::homePath() + "/.local/bin/hermes");
}

} // namespace
