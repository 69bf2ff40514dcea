#include "engine/engineprobe.h"

#include "fakehermesscenario.h"
#include "foundation/dates.h"
#include "foundation/paths.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <pwd.h>
#include <unistd.h>

using engine::EngineCheckResult;
using testsupport::FakeHermesScenario;
namespace EngineProbe = engine::EngineProbe;

namespace {

using Pass = EngineCheckResult::Pass;
using Fail = EngineCheckResult::Fail;

const QJsonObject kAnswers{}; // the stand-in's defaults: check passes, version "hermes 0.0.0-fake"
const QString kFakeVersion = QStringLiteral("hermes 0.0.0-fake");

QJsonObject failingCheck(const QString &stderrText)
{
    return {{"check", QJsonObject{{"exit", 1}, {"stderr", stderrText}}}};
}

QJsonObject withVersion(const QJsonObject &version)
{
    return {{"version", version}};
}

// A folder of stand-in candidates, each with its own scenario, and the log of
// every run of them.
class EngineProbeTest : public ::testing::Test {
protected:
    QString candidate(const QString &name, const QJsonObject &scenario)
    {
        return testsupport::placeFakeHermes(m_dir.filePath(name), scenario);
    }
    QString path(const QString &name) const { return m_dir.filePath(name); }
    QString stateFolder() const { return m_dir.filePath("state"); }

    // A login shell that logs its arguments and prints printed.
    QString shellPrinting(const QString &printed)
    {
        const QString shell =
            testsupport::writeFile(path("shell.sh"), "#!/bin/sh\nprintf '%s|' \"$@\" >> '" + shellLog().toUtf8()
                                                         + "'\nprintf '%s\\n' '" + printed.toUtf8() + "'\n");
        QFile::setPermissions(shell, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return shell;
    }
    QString shellLog() const { return m_dir.filePath("shell.log"); }

    // Each run of a stand-in: its path, then its arguments.
    QList<QStringList> runs() const
    {
        QList<QStringList> out;
        for (const QJsonObject &event : m_log.events(QStringLiteral("run"))) {
            QStringList run{event.value("path").toString()};
            for (const QJsonValue &arg : event.value("args").toArray())
                run << arg.toString();
            out << run;
        }
        return out;
    }

    QJsonObject storedRecord() const
    {
        return QJsonDocument::fromJson(testsupport::readFile(stateFolder() + "/state.json")).object();
    }

    QTemporaryDir m_dir;
    FakeHermesScenario m_log{{}};
};

TEST(EngineProbeCandidates, AreTheUsualPlacesInOrder)
{
    EXPECT_EQ(EngineProbe::defaultCandidates(),
              (QStringList{"~/.local/bin/hermes", "~/.local/bin/hermes-acp", "~/.hermes/hermes-agent/venv/bin/hermes",
                           "/opt/homebrew/bin/hermes", "/usr/local/bin/hermes",
                           "/usr/local/lib/hermes-agent/venv/bin/hermes"}));
}

TEST_F(EngineProbeTest, TheFirstCandidateToAnswerIsTheEngineAndLaterOnesNeverRun)
{
    const QString first = candidate("a/hermes", failingCheck("not set up\n"));
    const QString second = candidate("b/hermes", withVersion({{"stdout", "hermes 2.0\n"}}));
    const QString third = candidate("c/hermes", kAnswers);

    const EngineCheckResult result =
        EngineProbe::probe({first, second, third}, true, stateFolder(), std::chrono::seconds(5), shellPrinting(third));

    EXPECT_EQ(result, (EngineCheckResult{Pass{"hermes 2.0", second}}));
    EXPECT_EQ(runs(), (QList<QStringList>{
                          {first, "acp", "--check"}, {second, "acp", "--check"}, {second, "acp", "--version"}}));
    EXPECT_FALSE(QFile::exists(shellLog())) << "the login shell is asked only when no candidate answers";
}

TEST_F(EngineProbeTest, WithoutAnAnswerTheFirstCandidateAndItsWholeStandardErrorAreReported)
{
    const QString home = QDir::homePath();
    testsupport::placeFakeHermes(home + "/probe/broken", failingCheck("first\nfailure\n"));
    testsupport::placeFakeHermes(home + "/probe/other", failingCheck("second failure\n"));
    testsupport::placeFakeHermes(home + "/probe/ok", kAnswers);
    struct Case {
        const char *name;
        QStringList candidates;
        EngineCheckResult result;
    };
    const Case cases[] = {
        {"no candidates", {}, {Fail{"", ""}}},
        // A candidate that does not exist has nothing on standard error.
        {"missing, tilde expanded", {"~/probe/missing", "~/probe/other"}, {Fail{home + "/probe/missing", ""}}},
        {"first of several", {"~/probe/broken", "~/probe/other"}, {Fail{home + "/probe/broken", "first\nfailure\n"}}},
        {"found after a missing one", {"~/probe/missing", "~/probe/ok"}, {Pass{kFakeVersion, home + "/probe/ok"}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(EngineProbe::probe(c.candidates, false, stateFolder(), std::chrono::seconds(5)), c.result);
    }
}

TEST_F(EngineProbeTest, TheLoginShellIsAskedWhenNoCandidateAnswers)
{
    const QString broken = candidate("broken", failingCheck("no\n"));
    const QString found = candidate("found", kAnswers);
    const QString refusing = candidate("refusing", failingCheck("also no\n"));
    struct Case {
        const char *name;
        bool useLoginShell;
        QString printed;
        EngineCheckResult result;
    };
    const Case cases[] = {
        {"finds a working engine", true, found, {Pass{kFakeVersion, found}}},
        {"finds one that fails its check", true, refusing, {Fail{broken, "no\n"}}},
        {"finds nothing", true, "", {Fail{broken, "no\n"}}},
        {"not asked", false, found, {Fail{broken, "no\n"}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(shellLog());
        EXPECT_EQ(EngineProbe::probe({broken}, c.useLoginShell, stateFolder(), std::chrono::seconds(5),
                                     shellPrinting(c.printed)),
                  c.result);
        EXPECT_EQ(testsupport::readFile(shellLog()),
                  c.useLoginShell ? QByteArray("-l|-c|command -v hermes|") : QByteArray("<unreadable>"));
        const QJsonObject record = storedRecord();
        EXPECT_EQ(record.value("status").toString(), c.result.isPass() ? "pass" : "fail");
        EXPECT_EQ(record.value("binaryPath").toString(), c.result.isPass() ? found : QString());
    }
}

// A profile that greets, prints a notice or a banner around the answer must
// not hide an installed engine: the last absolute path printed is the answer.
TEST_F(EngineProbeTest, TheLoginShellsAnswerIsTheLastAbsolutePathItPrints)
{
    const QString broken = candidate("broken", failingCheck("no\n"));
    const QString found = candidate("found", kAnswers);
    const QString other = candidate("other", failingCheck("other\n"));
    struct Case {
        const char *name;
        QString printed;
        EngineCheckResult result;
    };
    const Case cases[] = {
        {"a greeting before", "Welcome back, writer!\n\n" + found, {Pass{kFakeVersion, found}}},
        {"a notice after", found + "\nYou have new mail.\n  \n", {Pass{kFakeVersion, found}}},
        {"noise around, CR LF, spaces", "hello\r\n  " + found + " \r\nbye: see hermes\r\n", {Pass{kFakeVersion, found}}},
        {"a relative path after the answer", found + "\nbin/hermes", {Pass{kFakeVersion, found}}},
        {"only the last absolute path counts", found + "\n" + other, {Fail{broken, "no\n"}}},
        {"nothing absolute", "Welcome!\nhermes\n", {Fail{broken, "no\n"}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(EngineProbe::probe({broken}, true, stateFolder(), std::chrono::seconds(5), shellPrinting(c.printed)),
                  c.result);
        const QJsonObject record = storedRecord();
        EXPECT_EQ(record.value("status").toString(), c.result.isPass() ? "pass" : "fail");
        EXPECT_EQ(record.value("binaryPath").toString(), c.result.isPass() ? found : QString());
    }
}

// A PATH entry like "." or "bin" makes the shell print a relative path; it
// names whatever lies in the folder the application happens to run in.
TEST_F(EngineProbeTest, ARelativePathFromTheLoginShellIsNotTheEngine)
{
    const QString broken = candidate("broken", failingCheck("no\n"));
    candidate("hermes", kAnswers);
    const QString oldCwd = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(m_dir.path()));
    for (const QString &printed : {QStringLiteral("hermes"), QStringLiteral("./hermes")}) {
        SCOPED_TRACE(printed.toStdString());
        EXPECT_EQ(EngineProbe::probe({broken}, true, stateFolder(), std::chrono::seconds(5), shellPrinting(printed)),
                  (EngineCheckResult{Fail{broken, "no\n"}}));
        EXPECT_EQ(storedRecord().value("status").toString(), "fail");
    }
    QDir::setCurrent(oldCwd);
    EXPECT_EQ(runs(), (QList<QStringList>{{broken, "acp", "--check"}, {broken, "acp", "--check"}}))
        << "nothing relative is run";
}

TEST(EngineProbeShell, TheAccountsShellComesBeforeShellVariable)
{
    const passwd *account = ::getpwuid(::getuid());
    ASSERT_NE(account, nullptr);
    const QByteArray saved = qgetenv("SHELL");
    qputenv("SHELL", "/elsewhere/shell");
    const QString shell = EngineProbe::userLoginShell();
    qputenv("SHELL", saved);
    if (account->pw_shell && *account->pw_shell)
        EXPECT_EQ(shell, QString::fromLocal8Bit(account->pw_shell));
    else
        EXPECT_EQ(shell, "/elsewhere/shell");
}

TEST_F(EngineProbeTest, TheVersionIsTheTrimmedOutputOrUnknown)
{
    struct Case {
        const char *name;
        QJsonObject version;
        QString expected;
    };
    const Case cases[] = {
        {"one line", {{"stdout", "hermes 1.2.3\n"}}, "hermes 1.2.3"},
        {"two lines, trimmed at the ends only",
         {{"stdout", " \n hermes 1.2\n  build abc \n\n"}},
         "hermes 1.2\n  build abc"},
        {"status 1", {{"stdout", "hermes 9\n"}, {"exit", 1}}, "unknown"},
        {"killed", {{"stdout", "hermes 9\n"}, {"signal", 9}}, "unknown"},
        {"empty", {{"stdout", "\n"}}, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QString engine = candidate("hermes", withVersion(c.version));
        EXPECT_EQ(EngineProbe::probe({engine}, false, stateFolder(), std::chrono::seconds(5)),
                  (EngineCheckResult{Pass{c.expected, engine}}));
        EXPECT_EQ(storedRecord().value("engineVersion").toString(), c.expected);
    }
}

QStringList keysOf(const QJsonObject &object)
{
    QStringList keys = object.keys();
    keys.sort();
    return keys;
}

void expectCheckedNow(const QJsonObject &record, const QDateTime &before)
{
    const auto checkedAt = foundation::dates::parseUtcStamp(record.value("checkedAt").toString());
    ASSERT_TRUE(checkedAt.has_value()) << record.value("checkedAt").toString().toStdString();
    EXPECT_GE(*checkedAt, before.addSecs(-1));
    EXPECT_LE(*checkedAt, QDateTime::currentDateTimeUtc().addSecs(1));
}

TEST_F(EngineProbeTest, APassIsRecordedInTheApplicationDataFolderByDefault)
{
    const QString engine = candidate("hermes", withVersion({{"stdout", "hermes 3\n"}}));
    const QString recordPath = foundation::paths::appDataDir() + "/state.json";
    QFile::remove(recordPath);
    const QDateTime before = QDateTime::currentDateTimeUtc();

    EngineProbe::probe({engine}, false, std::nullopt, std::chrono::seconds(5));

    const QJsonObject record = QJsonDocument::fromJson(testsupport::readFile(recordPath)).object();
    EXPECT_EQ(keysOf(record), (QStringList{"binaryPath", "checkedAt", "engineVersion", "schemaVersion", "status"}));
    EXPECT_EQ(record.value("schemaVersion"), QJsonValue(1));
    EXPECT_EQ(record.value("status"), QJsonValue("pass"));
    EXPECT_EQ(record.value("engineVersion"), QJsonValue("hermes 3"));
    EXPECT_EQ(record.value("binaryPath"), QJsonValue(engine));
    expectCheckedNow(record, before);
    ASSERT_TRUE(EngineProbe::readStateRecord().has_value());
    EXPECT_EQ(EngineProbe::readStateRecord()->engineVersion, "hermes 3");
}

TEST_F(EngineProbeTest, AFailureIsRecordedWithAtMost500CharactersOfStandardError)
{
    // A decomposed é is one character of two code points; the cut never splits it.
    const QString stderrText = QStringLiteral("e\u0301😀x").repeated(200); // 600 characters, 1000 UTF-16 units
    const QString engine = candidate("hermes", failingCheck(stderrText));
    const QDateTime before = QDateTime::currentDateTimeUtc();

    const EngineCheckResult result = EngineProbe::probe({engine}, false, stateFolder(), std::chrono::seconds(5));

    EXPECT_EQ(result, (EngineCheckResult{Fail{engine, stderrText}})) << "the result keeps it whole";
    const QJsonObject record = storedRecord();
    EXPECT_EQ(keysOf(record), (QStringList{"checkedAt", "firstProbePath", "schemaVersion", "status", "stderrExcerpt"}));
    EXPECT_EQ(record.value("schemaVersion"), QJsonValue(1));
    EXPECT_EQ(record.value("status"), QJsonValue("fail"));
    EXPECT_EQ(record.value("firstProbePath"), QJsonValue(engine));
    EXPECT_EQ(record.value("stderrExcerpt"),
              QJsonValue(QStringLiteral("e\u0301😀x").repeated(166) + QStringLiteral("e\u0301😀")));
    expectCheckedNow(record, before);
}

TEST_F(EngineProbeTest, ARecordThatCannotBeWrittenLeavesTheResultAlone)
{
    const QString engine = candidate("hermes", kAnswers);
    const QString blocker = testsupport::writeFile(path("blocker"), "a file, not a folder");
    const QString occupied = path("occupied");
    QDir().mkpath(occupied + "/state.json/inside"); // a folder where the record would go
    const EngineCheckResult expected{Pass{kFakeVersion, engine}};

    for (const QString &folder : {blocker + "/state", occupied}) {
        SCOPED_TRACE(folder.toStdString());
        const QStringList before = testsupport::entries(QFileInfo(folder).path());
        EXPECT_EQ(EngineProbe::probe({engine}, false, folder, std::chrono::seconds(5)), expected);
        EXPECT_EQ(testsupport::entries(QFileInfo(folder).path()), before);
        EXPECT_EQ(testsupport::entries(occupied), QStringList{"state.json"});
        EXPECT_EQ(testsupport::entries(occupied + "/state.json"), QStringList{"inside"});
    }
}

TEST_F(EngineProbeTest, WritingARecordReplacesThePreviousOne)
{
    EngineProbe::writeStateRecord({Fail{"/x", "old"}}, stateFolder());
    EngineProbe::writeStateRecord({Pass{"v", "/y"}}, stateFolder());
    const auto record = EngineProbe::readStateRecord(stateFolder());
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(record->status, "pass");
    EXPECT_EQ(record->stderrExcerpt, std::nullopt);
    EXPECT_EQ(testsupport::entries(stateFolder()), QStringList{"state.json"});
}

} // namespace
