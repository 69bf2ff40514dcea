#include "app/appgatestate.h"

#include "foundation/paths.h"
#include "library/homelocation.h"
#include "library/poststore.h"
#include "model/postsmodel.h"
#include "testutil.h"

#include <QCoro/QCoroTask>
#include <QDir>
#include <QFile>
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
    }
    EXPECT_EQ(standardStoredText(), std::nullopt);
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

TEST(AppGateStateModel, TheLibraryModelIsTheProcesssCurrentOneWhileTheStateLives)
{
    {
        AppGateState gate;
        EXPECT_EQ(model::PostsModel::current(), &gate.posts());
    }
    EXPECT_EQ(model::PostsModel::current(), nullptr);
}

} // namespace
