#include "library/homelocation.h"

#include "foundation/paths.h"
#include "testutil.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <future>

namespace {

namespace HomeLocation = library::HomeLocation;

TEST(HomeLocation, StoredHomeTakesFileURLsOnly)
{
    QTemporaryDir dir;
    QSettings settings(dir.filePath("settings.ini"), QSettings::IniFormat);
    struct Case {
        const char *stored;
        std::optional<QString> home;
    };
    const std::vector<Case> cases{
        // The folder need not exist.
        {"file:///nowhere/Documents/Pennora/", "/nowhere/Documents/Pennora"},
        {"file:///nowhere/Pennora", "/nowhere/Pennora"},
        {"file:///nowhere/My%20Library/Caf%C3%A9/", "/nowhere/My Library/Café"},
        {"/nowhere/Pennora", std::nullopt},
        {"https://example.com/Pennora/", std::nullopt},
        {"", std::nullopt},
        {"file://", std::nullopt},
    };
    for (const Case &c : cases) {
        settings.setValue("pennoraHome", QString::fromUtf8(c.stored));
        EXPECT_EQ(HomeLocation::storedHome(settings), c.home) << c.stored;
    }
    settings.remove("pennoraHome");
    EXPECT_EQ(HomeLocation::storedHome(settings), std::nullopt);
    settings.setValue("pennoraHome", 42);
    EXPECT_EQ(HomeLocation::storedHome(settings), std::nullopt);
}

TEST(HomeLocation, TheStoredTextIsAFileURLWithATrailingSlashAndReadsBack)
{
    QTemporaryDir dir;
    QSettings settings(dir.filePath("settings.ini"), QSettings::IniFormat);
    EXPECT_EQ(HomeLocation::settingsText("/home/writer/Documents/Pennora"), "file:///home/writer/Documents/Pennora/");
    // The same folder chosen with or without its slash stores the same text.
    EXPECT_EQ(HomeLocation::settingsText("/home/writer/Pennora/"), HomeLocation::settingsText("/home/writer/Pennora"));
    for (const QString &home : {QStringLiteral("/home/writer/My Library, 2026/Café #1"), QStringLiteral("/")}) {
        settings.setValue("pennoraHome", HomeLocation::settingsText(home));
        settings.sync();
        QSettings reread(dir.filePath("settings.ini"), QSettings::IniFormat);
        EXPECT_EQ(HomeLocation::storedHome(reread), home);
    }
}

TEST(HomeLocation, TheFirstLaunchHomePrefersAnExistingDefaultThenTheCloudDrive)
{
    const QString cloud = "/cloud/drive";
    struct Case {
        bool defaultExists;
        std::optional<QString> cloudRoot;
        QString home;
    };
    const std::vector<Case> cases{
        {true, cloud, HomeLocation::defaultHome()},
        {false, cloud, "/cloud/drive/Pennora"},
        {false, std::nullopt, HomeLocation::defaultHome()},
        {true, std::nullopt, HomeLocation::defaultHome()},
    };
    for (const Case &c : cases) {
        int cloudAsked = 0;
        const QString home = HomeLocation::resolveDefaultHome([&] { return c.defaultExists; },
                                                              [&] {
                                                                  ++cloudAsked;
                                                                  return c.cloudRoot;
                                                              });
        EXPECT_EQ(home, c.home) << c.defaultExists << " " << c.cloudRoot.has_value();
        // An existing default Home settles it without asking for the cloud drive.
        EXPECT_EQ(cloudAsked, c.defaultExists ? 0 : 1);
    }
}

TEST(HomeLocation, DefaultHomeIsPennoraInDocumentsOnceForAllThreads)
{
    const QString expected = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) + "/Pennora";
    auto other = std::async(std::launch::async, [] { return &HomeLocation::defaultHome(); });
    const QString *here = &HomeLocation::defaultHome();
    EXPECT_EQ(*here, expected);
    EXPECT_EQ(other.get(), here);
}

TEST(HomeLocation, ExistingDirectoryAnswersFoldersAndLinksToThem)
{
    QTemporaryDir dir;
    QDir().mkpath(dir.filePath("folder"));
    testsupport::writeFile(dir.filePath("file"), "x");
    ASSERT_TRUE(QFile::link(dir.filePath("folder"), dir.filePath("link")));
    ASSERT_TRUE(QFile::link(dir.filePath("file"), dir.filePath("filelink")));
    EXPECT_EQ(HomeLocation::existingDirectory(dir.filePath("folder")), dir.filePath("folder"));
    EXPECT_EQ(HomeLocation::existingDirectory(dir.filePath("link")), dir.filePath("link"));
    EXPECT_EQ(HomeLocation::existingDirectory(dir.filePath("file")), std::nullopt);
    EXPECT_EQ(HomeLocation::existingDirectory(dir.filePath("filelink")), std::nullopt);
    EXPECT_EQ(HomeLocation::existingDirectory(dir.filePath("missing")), std::nullopt);
}

TEST(HomeLocation, AnEmptyMarkerStillMarksATestRun)
{
    const QByteArray saved = qgetenv(foundation::paths::kTestRunMarker);
    qputenv(foundation::paths::kTestRunMarker, "");
    EXPECT_TRUE(HomeLocation::isRunningTests());
    qunsetenv(foundation::paths::kTestRunMarker);
    EXPECT_FALSE(HomeLocation::isRunningTests());
    qputenv(foundation::paths::kTestRunMarker, saved);
}

} // namespace
