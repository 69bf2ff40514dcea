#include "app/state/appgatestate.h"
#include "engine/enginegatemodel.h"
#include "engine/mentorsessionmodel.h"
#include "focus/writinglockappdelegate.h"
#include "profiles/backupmodel.h"
#include "profiles/provisioningmodel.h"

#include "foundation/paths.h"
#include "library/homelocation.h"
#include "library/poststore.h"
#include "model/postsmodel.h"
#include "testutil.h"

#include <QCoro/QCoroTask>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using app::AppGateState;
using library::Post;
namespace HomeLocation = library::HomeLocation;
namespace PostStore = library::PostStore;

// The standard settings' Home text, none when nothing is there.
std::optional<QString> standardStoredText()
{
    const QVariant value = foundation::paths::settingsStore()->value("pennoraHome");
    return value.isValid() ? std::optional<QString>(value.toString()) : std::nullopt;
}

void clearStandardStore()
{
    foundation::paths::settingsStore()->remove("pennoraHome");
}

TEST(AppGateStateHome, SettlingTakesTheStoredHomeElseChoosesAndStoresOne)
{
    const QString cloud = "/cloud/drive";
    const QString defaultHome = HomeLocation::defaultHome();
    struct Case {
        const char *name;
        std::optional<QString> stored;
        bool defaultExists;
        std::optional<QString> cloudRoot;
        QString home;
        QString storedAfter;
    };
    const std::vector<Case> cases{
        // Taken as it is, though the folder is gone, and not written back.
        {"stored", "file:///nowhere/Pennora", false, cloud, "/nowhere/Pennora", "file:///nowhere/Pennora"},
        {"default exists", std::nullopt, true, cloud, defaultHome, HomeLocation::settingsText(defaultHome)},
        {"cloud drive", std::nullopt, false, cloud, "/cloud/drive/Pennora", "file:///cloud/drive/Pennora/"},
        {"neither", std::nullopt, false, std::nullopt, defaultHome, HomeLocation::settingsText(defaultHome)},
        // Not a file URL: as if nothing were stored, and replaced.
        {"web address", "https://example.com/Pennora/", false, cloud, "/cloud/drive/Pennora",
         "file:///cloud/drive/Pennora/"},
        {"bare path", "/nowhere/Pennora", true, std::nullopt, defaultHome, HomeLocation::settingsText(defaultHome)},
    };
    for (const Case &c : cases) {
        QTemporaryDir dir;
        QSettings settings(dir.filePath("settings.ini"), QSettings::IniFormat);
        if (c.stored)
            settings.setValue("pennoraHome", *c.stored);
        AppGateState gate;
        QSignalSpy changed(&gate, &AppGateState::pennoraHomeChanged);
        gate.settleHome(
            settings, [&] { return c.defaultExists; }, [&] { return c.cloudRoot; });
        EXPECT_EQ(gate.pennoraHome(), c.home) << c.name;
        EXPECT_EQ(settings.value("pennoraHome").toString(), c.storedAfter) << c.name;
        EXPECT_EQ(changed.count(), 1) << c.name;
        // Only a first launch's default is made; the stored Home and a cloud
        // drive that is not there are left alone.
        EXPECT_EQ(QFileInfo(c.home).isDir(), c.home == defaultHome) << c.name;
        QDir(defaultHome).removeRecursively();
    }
    EXPECT_EQ(standardStoredText(), std::nullopt);
}

TEST(AppGateStateHome, AFirstLaunchMakesTheLibraryInsideTheCloudDrive)
{
    QTemporaryDir cloud;
    QTemporaryDir dir;
    QSettings settings(dir.filePath("settings.ini"), QSettings::IniFormat);
    AppGateState gate;
    gate.settleHome(
        settings, [] { return false; }, [&] { return std::optional<QString>(cloud.path()); });
    EXPECT_EQ(gate.pennoraHome(), cloud.filePath("Pennora"));
    EXPECT_TRUE(QFileInfo(cloud.filePath("Pennora")).isDir());

    // The library model then finds a Home to watch, with nothing to report.
    gate.posts().startWatching(gate.pennoraHome());
    EXPECT_EQ(gate.posts().lastError(), std::nullopt);
    EXPECT_TRUE(QFileInfo(cloud.filePath("Pennora/projects")).isDir());
}

TEST(AppGateStateHome, ATestRunOnTheStandardSettingsStoresNothing)
{
    clearStandardStore();
    const std::unique_ptr<QSettings> standard = foundation::paths::settingsStore();
    AppGateState gate;
    int probes = 0;
    gate.settleHome(
        *standard,
        [&] {
            ++probes;
            return false;
        },
        [&] {
            ++probes;
            return std::optional<QString>("/cloud/drive");
        });
    EXPECT_EQ(gate.pennoraHome(), HomeLocation::defaultHome());
    EXPECT_EQ(probes, 0);
    EXPECT_EQ(standardStoredText(), std::nullopt);
}

class AppGateStateChange : public ::testing::Test {
protected:
    void SetUp() override
    {
        clearStandardStore();
        QDir().mkpath(home);
        walk = PostStore::createPiece("# Walk\n\nWe walked.\n", "Essays", Post::ContentType::post, Post::Origin::writer,
                                      home);
        QSettings settings(dir.filePath("settings.ini"), QSettings::IniFormat);
        settings.setValue("pennoraHome", HomeLocation::settingsText(home));
        gate.settleHome(settings);
        gate.posts().startWatching(gate.pennoraHome());
        QCoro::waitFor(gate.posts().rescan());
        gate.posts().openPiece(walk.id);
        ASSERT_TRUE(gate.posts().isSessionOpen(walk.id));
    }
    QString postFile() const { return *PostStore::folderPath(walk.id, home) + "/post.md"; }

    QTemporaryDir dir;
    QString home = dir.filePath("Home");
    QString other = dir.filePath("Other");
    Post walk;
    AppGateState gate;
};

TEST_F(AppGateStateChange, TheSameFolderIsStoredAgainWithoutNotifying)
{
    QSignalSpy changed(&gate, &AppGateState::pennoraHomeChanged);
    EXPECT_TRUE(gate.changeHome(home + "/"));
    EXPECT_EQ(gate.pennoraHome(), home);
    EXPECT_EQ(changed.count(), 0);
    EXPECT_EQ(standardStoredText(), HomeLocation::settingsText(home));
    // The model kept its open piece.
    EXPECT_TRUE(gate.posts().isSessionOpen(walk.id));

    // So does a plain assignment of the same Home.
    clearStandardStore();
    gate.setProperty("pennoraHome", home);
    EXPECT_EQ(changed.count(), 0);
    EXPECT_EQ(standardStoredText(), HomeLocation::settingsText(home));
}

TEST_F(AppGateStateChange, AnotherFolderSwitchesTheModelNotifiesOnceAndIsStored)
{
    gate.posts().session()->textDidChange("# Walk\n\nTyped.\n");
    QSignalSpy changed(&gate, &AppGateState::pennoraHomeChanged);
    EXPECT_TRUE(gate.changeHome(other));
    EXPECT_EQ(gate.pennoraHome(), other);
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(standardStoredText(), HomeLocation::settingsText(other));
    EXPECT_EQ(gate.posts().session(), nullptr);
    EXPECT_TRUE(testsupport::readText(postFile()).contains("Typed."));
}

TEST_F(AppGateStateChange, ARefusedChangeLeavesEverythingAsItWas)
{
    gate.posts().session()->textDidChange("# Walk\n\nTyped.\n");
    // post.md can no longer be written: a folder stands in its place.
    ASSERT_TRUE(QFile::remove(postFile()));
    ASSERT_TRUE(QDir().mkpath(postFile()));
    foundation::paths::settingsStore()->setValue("pennoraHome", HomeLocation::settingsText(home));
    QSignalSpy changed(&gate, &AppGateState::pennoraHomeChanged);

    EXPECT_FALSE(gate.changeHome(other));
    EXPECT_EQ(gate.pennoraHome(), home);
    EXPECT_EQ(changed.count(), 0);
    EXPECT_EQ(standardStoredText(), HomeLocation::settingsText(home));
    EXPECT_TRUE(gate.posts().isSessionOpen(walk.id));
    EXPECT_EQ(gate.posts().session()->text(), "# Walk\n\nTyped.\n");
    EXPECT_TRUE(gate.posts().lastError().has_value());
}

TEST(AppGateStateFlags, AnEqualValueIsStoredWithoutNotifying)
{
    AppGateState gate;
    struct Flag {
        const char *name;
        void (AppGateState::*set)(bool);
        bool (AppGateState::*get)() const;
        void (AppGateState::*changed)();
    };
    for (const Flag &flag :
         {Flag{"spellChecking", &AppGateState::setSpellChecking, &AppGateState::spellChecking,
               &AppGateState::spellCheckingChanged},
          Flag{"isFocused", &AppGateState::setIsFocused, &AppGateState::isFocused, &AppGateState::isFocusedChanged}}) {
        QSignalSpy spy(&gate, flag.changed);
        EXPECT_FALSE((gate.*flag.get)()) << flag.name; // starts false
        (gate.*flag.set)(false);
        EXPECT_EQ(spy.count(), 0) << flag.name;
        (gate.*flag.set)(true);
        (gate.*flag.set)(true);
        EXPECT_TRUE((gate.*flag.get)()) << flag.name;
        EXPECT_EQ(spy.count(), 1) << flag.name;
    }
    // The menu's toggle always notifies.
    QSignalSpy focus(&gate, &AppGateState::isFocusedChanged);
    gate.toggleFocus();
    EXPECT_FALSE(gate.isFocused());
    EXPECT_EQ(focus.count(), 1);
}

TEST(AppGateStateModel, TheLibraryModelIsTheProcesssCurrentOneWhileTheStateLives)
{
    {
        AppGateState gate;
        EXPECT_EQ(model::PostsModel::current(), &gate.posts());
    }
    EXPECT_EQ(model::PostsModel::current(), nullptr);
}

} // namespace

namespace start {

using app::AppGateState;

TEST(AppGateStateStart, StartGateIsInertInATestRun)
{
    AppGateState gate;
    QCoro::waitFor(gate.startGate());
    EXPECT_FALSE(gate.gateModel().onPass());
    EXPECT_FALSE(gate.gateModel().hasStarted());
    EXPECT_FALSE(gate.gateModel().running());
    EXPECT_FALSE(gate.startupWorkRunning());
}

// Each run of a model, as the sequence of its running flag's changes.
struct RunLog {
    QStringList events;
    template<typename Model>
    void watch(Model *model, const char *name)
    {
        QObject::connect(model, &Model::runningChanged, model, [this, name, model] {
            events << QString::fromLatin1(name) + (model->running() ? " on" : " off");
        });
    }
};

TEST(AppGateStateStart, APassProvisionsThenBacksUpAndASecondPassDuringProvisioningProvisionsNoMore)
{
    AppGateState gate;
    RunLog log;
    log.watch(&gate.provisioning(), "provisioning");
    log.watch(&gate.backup(), "backup");

    gate.provisionThenBackUp();
    ASSERT_TRUE(testsupport::spinUntil([&] { return !gate.startupWorkRunning(); }));
    EXPECT_EQ(log.events, (QStringList{"provisioning on", "provisioning off", "backup on", "backup off"}));

    // A re-check passing while provisioning still works: its provisioning
    // returns at once and its backup starts without waiting.
    log.events.clear();
    gate.provisionThenBackUp();
    gate.provisionThenBackUp();
    ASSERT_TRUE(testsupport::spinUntil([&] { return !gate.provisioning().running() && !gate.backup().running(); }));
    testsupport::drainPosted();
    EXPECT_EQ(log.events.count("provisioning on"), 1) << log.events.join(", ").toStdString();
    // Each pass backs up after its provisioning; whether the two backups meet
    // depends on how fast the first ends, but they never overlap.
    const QStringList backups = log.events.filter("backup");
    ASSERT_FALSE(backups.isEmpty());
    for (qsizetype i = 0; i < backups.size(); ++i)
        EXPECT_EQ(backups.at(i), i % 2 == 0 ? "backup on" : "backup off") << log.events.join(", ").toStdString();
    EXPECT_EQ(backups.size() % 2, 0);
}

TEST(AppGateStateStart, TheChatEnginesFirstStartWaitsForTheFirstBackupLaterStartsDoNot)
{
    AppGateState gate;
    QStringList seen; // what ran when the mentor first left idle
    QObject::connect(&gate.mentor(), &engine::MentorSessionModel::phaseChanged, &gate, [&] {
        if (seen.isEmpty())
            seen << QString("provisioning %1, backup %2, start-up %3")
                        .arg(gate.provisioning().running())
                        .arg(gate.backup().running())
                        .arg(gate.startupWorkRunning());
    });
    gate.provisionThenBackUp();
    QCoro::Task<void> chat = gate.startChatEngine();
    EXPECT_EQ(gate.mentor().phase(), engine::MentorSessionModel::Phase::idle());
    ASSERT_TRUE(testsupport::spinUntil([&] { return !seen.isEmpty(); }));
    EXPECT_EQ(seen, QStringList{"provisioning 0, backup 0, start-up 0"});
    QCoro::waitFor(std::move(chat));

    // Later: a pass task runs, yet a start goes at once.
    gate.mentor().shutdown();
    gate.provisionThenBackUp();
    ASSERT_TRUE(gate.provisioning().running());
    QCoro::Task<void> again = gate.startChatEngine();
    EXPECT_NE(gate.mentor().phase(), engine::MentorSessionModel::Phase::idle());
    QCoro::waitFor(std::move(again));
    ASSERT_TRUE(testsupport::spinUntil([&] { return !gate.provisioning().running() && !gate.backup().running(); }));
}

TEST(AppGateStateStart, WithoutStartUpWorkTheChatEngineStartsAtOnce)
{
    AppGateState gate;
    QCoro::Task<void> chat = gate.startChatEngine();
    EXPECT_NE(gate.mentor().phase(), engine::MentorSessionModel::Phase::idle());
    QCoro::waitFor(std::move(chat));
}

// A stand-in for the prose text view.
class FakeProseView : public QObject, public editor::ProseDropTarget {
public:
    bool answer = true;
    QList<QList<QUrl>> drops;
    bool ingestDrop(const QList<QUrl> &urls) override
    {
        drops << urls;
        return answer;
    }
};

TEST(AppGateStateDrops, MarkdownOpensTheFirstFileAnythingElseGoesToTheProseView)
{
    QTemporaryDir dir;
    const QUrl upper = QUrl::fromLocalFile(testsupport::writeFile(dir.filePath("Notes.MD"), "# Notes\n"));
    const QUrl markdown = QUrl::fromLocalFile(testsupport::writeFile(dir.filePath("b.markdown"), "# B\n"));
    const QUrl picture = QUrl::fromLocalFile(testsupport::writeFile(dir.filePath("a.png"), "png"));
    const QUrl web("https://example.com/a.md");
    struct Case {
        const char *name;
        QList<QUrl> urls;
        bool withView;
        bool accepted;
        bool opensOutside; // the first URL became the outside file
        bool viewGotThem;
    };
    const std::vector<Case> cases{
        {"markdown in any case", {upper, markdown}, true, true, true, false},
        {"mixed drop", {markdown, picture}, true, true, false, true},
        {"mixed drop, no text view", {markdown, picture}, false, false, false, false},
        {"web address", {web}, true, true, false, true},
        {"empty drop", {}, true, true, false, true},
        {"empty drop, no text view", {}, false, false, false, false},
    };
    for (const Case &c : cases) {
        AppGateState gate;
        auto view = std::make_unique<FakeProseView>();
        if (c.withView)
            gate.proseDrop().setTextView(view.get());
        EXPECT_EQ(gate.acceptDroppedFiles(c.urls), c.accepted) << c.name;
        EXPECT_EQ(gate.posts().externalSession() != nullptr, c.opensOutside) << c.name;
        if (c.opensOutside) {
            EXPECT_EQ(gate.posts().currentText(), "# Notes\n") << c.name;
        }
        EXPECT_EQ(view->drops, c.viewGotThem ? QList<QList<QUrl>>{c.urls} : QList<QList<QUrl>>{}) << c.name;
    }

    // A refusing view answers for the drop; a view that went away is none.
    AppGateState gate;
    auto view = std::make_unique<FakeProseView>();
    view->answer = false;
    gate.proseDrop().setTextView(view.get());
    EXPECT_FALSE(gate.acceptDroppedFiles({picture}));
    view.reset();
    EXPECT_EQ(gate.proseDrop().textView(), nullptr);
    EXPECT_FALSE(gate.acceptDroppedFiles({picture}));
}

TEST(AppGateStateLock, ArmingStartsABlockOnTheOpenTextAndNothingWhileLocked)
{
    AppGateState gate;
    const focus::WritingGoal words{focus::WritingGoal::Kind::words, 500};
    gate.writingLock().setShowsArmBar(true);
    gate.armWritingLock(words);
    EXPECT_TRUE(gate.isFocused());
    EXPECT_TRUE(gate.writingLock().isLocked());
    EXPECT_FALSE(gate.writingLock().showsArmBar());
    EXPECT_TRUE(gate.writingLock().isTicking());
    ASSERT_TRUE(gate.writingLock().run().has_value());
    EXPECT_EQ(gate.writingLock().run()->goal, words);
    EXPECT_EQ(gate.writingLock().run()->baselineWords, 0); // nothing open

    // While locked: no second run, focus left alone, drops refused.
    gate.setIsFocused(false);
    QSignalSpy runs(&gate.writingLock(), &focus::WritingLockState::runChanged);
    gate.armWritingLock({focus::WritingGoal::Kind::minutes, 10});
    EXPECT_FALSE(gate.isFocused());
    EXPECT_EQ(runs.count(), 0);
    EXPECT_EQ(gate.writingLock().run()->goal, words);
    QTemporaryDir dir;
    EXPECT_FALSE(gate.acceptDroppedFiles({QUrl::fromLocalFile(testsupport::writeFile(dir.filePath("a.md"), "a"))}));
    EXPECT_EQ(gate.posts().externalSession(), nullptr);
}

TEST(AppGateStateLock, TheQuitGuardRefusesWhileATextCannotBeSavedOrABlockRuns)
{
    QTemporaryDir dir;
    const QString file = testsupport::writeFile(dir.filePath("outside.md"), "# Outside\n");
    AppGateState gate;
    const focus::WritingLockAppDelegate guard;
    EXPECT_TRUE(guard.applicationShouldTerminate());

    gate.posts().openExternalFile(QUrl::fromLocalFile(file));
    ASSERT_NE(gate.posts().externalSession(), nullptr);
    gate.posts().externalSession()->textDidChange("# Outside\n\nTyped.\n");
    ASSERT_TRUE(QFile::remove(file));
    ASSERT_TRUE(QDir().mkpath(file)); // can no longer be written
    EXPECT_FALSE(guard.applicationShouldTerminate());
    ASSERT_TRUE(QDir(file).removeRecursively());
    EXPECT_TRUE(guard.applicationShouldTerminate());
    EXPECT_EQ(testsupport::readText(file), "# Outside\n\nTyped.\n");

    // A running block asks, in a test run too.
    gate.armWritingLock({focus::WritingGoal::Kind::words, 10});
    EXPECT_FALSE(guard.applicationShouldTerminate()); // nobody to ask: the block goes on
    focus::WritingLockAppDelegate asking;
    int asked = 0;
    bool walkAway = false;
    asking.confirmEndingBlock = [&] { return ++asked, walkAway; };
    EXPECT_FALSE(asking.applicationShouldTerminate());
    EXPECT_TRUE(gate.writingLock().isLocked()); // Keep Writing leaves the lock as it is
    walkAway = true;
    EXPECT_TRUE(asking.applicationShouldTerminate());
    EXPECT_EQ(asked, 2);
    EXPECT_TRUE(gate.writingLock().isLocked()); // walking away completes nothing
}

} // namespace start
