#include "foundation/paths.h"

#include "testenv.h"
#include "testutil.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace foundation::paths;

TEST(Paths, AppDataDirIsPrivateUnderXdgDataHome)
{
    const QString dir = appDataDir();
    EXPECT_EQ(dir, testsupport::tempHome() + QStringLiteral("/.local/share/Pennora"));
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(dir).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST(Paths, SettingsStoreLivesUnderXdgConfigHome)
{
    auto store = settingsStore();
    EXPECT_EQ(store->fileName(), testsupport::tempHome() + QStringLiteral("/.config/Pennora/Pennora.conf"));
}

TEST(Paths, TestRunMarkerAndTilde)
{
    EXPECT_TRUE(isTestRun());
    EXPECT_EQ(expandTilde(QStringLiteral("~/.hermes/auth.json")), QDir::homePath() + "/.hermes/auth.json");
    EXPECT_EQ(expandTilde(QStringLiteral("~")), QDir::homePath());
    EXPECT_EQ(expandTilde(QStringLiteral("/a/~/b")), QStringLiteral("/a/~/b"));
    EXPECT_EQ(expandTilde(QStringLiteral("~other")), QStringLiteral("~other"));
}
