#include "profiles/settingsmodel.h"

#include "testutil.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using profiles::SettingsModel;

namespace {

class PortalAgentKey : public ::testing::Test {
protected:
    QString write(const QByteArray &bytes) { return testsupport::writeFile(dir.filePath("auth.json"), bytes); }

    QTemporaryDir dir;
};

} // namespace

TEST_F(PortalAgentKey, MissingFileOrFolderGivesNothing)
{
    EXPECT_FALSE(SettingsModel::portalAgentKey(dir.filePath("auth.json")));
    EXPECT_FALSE(SettingsModel::portalAgentKey(dir.path()));
    EXPECT_FALSE(SettingsModel::portalAgentKey(QString()));
}

TEST_F(PortalAgentKey, MalformedFilesGiveNothing)
{
    const char *cases[] = {
        "",
        "not json",
        "{\"providers\": {\"nous\": {\"agent_key\": \"k\"}}", // cut short
        "[\"providers\"]",
        "{}",
        "{\"providers\": []}",
        "{\"providers\": {}}",
        "{\"providers\": {\"nous\": \"k\"}}",
        "{\"providers\": {\"nous\": {}}}",
        "{\"providers\": {\"nous\": {\"agent_key\": 42}}}",
        "{\"providers\": {\"nous\": {\"agent_key\": null}}}",
        "{\"providers\": {\"nous\": {\"agent_key\": \" \\n\\t \"}}}",
        "{\"nous\": {\"agent_key\": \"k\"}}",
    };
    for (const char *text : cases) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(SettingsModel::portalAgentKey(write(text)));
    }
}

TEST_F(PortalAgentKey, WellFormedKeyIsTrimmed)
{
    const QString path =
        write(R"({"providers": {"anthropic": {}, "nous": {"agent_key": "\n  sk-portal-1 \r\n", "x": 1}}, "v": 2})");
    EXPECT_EQ(SettingsModel::portalAgentKey(path), QString("sk-portal-1"));
    EXPECT_EQ(SettingsModel::portalAgentKey(write(R"({"providers":{"nous":{"agent_key":"a b"}}})")), QString("a b"));
}

TEST_F(PortalAgentKey, NonRegularFilesAreNotRead)
{
    // A linked login file is read where it points; a dangling link is missing.
    const QString real = write(R"({"providers":{"nous":{"agent_key":"k"}}})");
    const QString link = dir.filePath("link.json");
    ASSERT_TRUE(QFile::link(real, link));
    EXPECT_EQ(SettingsModel::portalAgentKey(link), QString("k"));
    const QString dangling = dir.filePath("dangling.json");
    ASSERT_TRUE(QFile::link(dir.filePath("gone.json"), dangling));
    EXPECT_FALSE(SettingsModel::portalAgentKey(dangling));

    // A FIFO without a writer must not hang the read.
    const QString fifo = dir.filePath("fifo.json");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    EXPECT_FALSE(SettingsModel::portalAgentKey(fifo));
}
