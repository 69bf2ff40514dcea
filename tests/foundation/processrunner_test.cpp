#include "foundation/processrunner.h"

#include "fakehermesscenario.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>

#include <csignal>
#include <sys/types.h>

using namespace std::chrono_literals;
using foundation::process::run;
using foundation::process::RunResult;
using testsupport::FakeHermesScenario;

namespace {

// The stand-in answers "<name>" with command.
QJsonObject commandFor(const QString &name, QJsonObject command)
{
    command.insert("args", QJsonArray{name});
    return QJsonObject{{"commands", QJsonArray{command}}};
}

RunResult runFake(const QString &name, std::chrono::milliseconds timeout)
{
    return run({testsupport::fakeHermesBinary(), name}, std::nullopt, timeout);
}

// Processes of the group that are not yet gone (a zombie counts as gone: it
// only waits to be reaped by whoever adopted it).
QStringList liveMembers(qint64 pgid)
{
    QStringList live;
    for (const QString &pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/") + pid + QStringLiteral("/stat"));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // pid (comm) state ppid pgrp ...; comm may hold spaces and parentheses.
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 2 && fields.at(2).toLongLong() == pgid && fields.at(0) != "Z")
            live << pid;
    }
    return live;
}

bool groupGone(qint64 pgid)
{
    return testsupport::spinUntil([pgid] { return liveMembers(pgid).isEmpty(); }, 3000);
}

qint64 loggedPgid(const FakeHermesScenario &fake)
{
    const QList<QJsonObject> runs = fake.events(QStringLiteral("run"));
    return runs.isEmpty() ? 0 : runs.constFirst().value("pgid").toInteger();
}

TEST(ProcessRunner, DrainsLargeOutputOfBothStreamsWhole)
{
    const QString block = QStringLiteral("0123456789abcdé\n"); // 17 bytes
    const QString error = QString(200000, u'e');
    FakeHermesScenario fake(commandFor("flood", {{"stdout", block}, {"repeat", 65536}, {"stderr", error}}));

    const RunResult result = runFake("flood", 20s);

    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.standardOutput.size(), block.size() * 65536);
    EXPECT_EQ(result.standardOutput, block.repeated(65536));
    EXPECT_EQ(result.standardError, error);
}

TEST(ProcessRunner, WritesTheInputWhileReadingTheOutput)
{
    const QString large = QStringLiteral("line é ∑ 😀 of input\n").repeated(40000); // over 1 MB
    struct Case {
        const char *program;
        std::optional<QString> input;
        QString output;
    };
    const Case cases[] = {
        {"/bin/cat", std::nullopt, QString()}, // the null device: ends at once
        {"/bin/cat", QString(), QString()},
        {"/bin/cat", large, large},
        // Reads nothing and ends: the rest of the input is dropped, no SIGPIPE.
        {"/bin/true", large, QString()},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.program) + (c.input ? " input " + std::to_string(c.input->size()) : " no input"));
        const RunResult result = run({QString::fromLatin1(c.program)}, c.input, 20s);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.standardOutput, c.output);
        EXPECT_EQ(result.standardError, QString());
    }
}

TEST(ProcessRunner, OutputHeldOpenByAGrandchildEndsAtTheDeadline)
{
    for (const bool ignoreSigterm : {false, true}) {
        SCOPED_TRACE(ignoreSigterm ? "grandchild ignores SIGTERM" : "grandchild takes SIGTERM");
        FakeHermesScenario fake(commandFor(
            "leave", {{"stdout", "before\n"}, {"grandchildMs", 30000}, {"ignoreSigterm", ignoreSigterm}, {"exit", 4}}));
        QElapsedTimer clock;
        clock.start();

        // Long enough for a loaded machine to start the child and see it exit
        // before the deadline; the grandchild holds the output far longer.
        const RunResult result = runFake("leave", 1500ms);

        EXPECT_LT(clock.elapsed(), 6000);
        EXPECT_EQ(result, (RunResult{4, QStringLiteral("before\n"), QString()}));
        const QList<QJsonObject> grandchildren = fake.events(QStringLiteral("grandchild"));
        ASSERT_EQ(grandchildren.size(), 1);
        const qint64 pgid = loggedPgid(fake);
        ASSERT_GT(pgid, 0);
        EXPECT_TRUE(groupGone(pgid)) << liveMembers(pgid).join(' ').toStdString();
    }
}

TEST(ProcessRunner, OutputThatIsNotUtf8BecomesEmptyWithTheRealStatus)
{
    struct Case {
        const char *hex;
        QString output;
    };
    const Case cases[] = {
        {"c328", QString()},              // a lead byte without its continuation
        {"41ff42", QString()},            // a byte UTF-8 never uses
        {"eda080", QString()},            // an encoded surrogate
        {"41c3a9", QStringLiteral("Aé")}, // valid, so decoded as UTF-8 and not Latin-1
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.hex);
        FakeHermesScenario fake(commandFor("bytes", {{"stdoutHex", c.hex}, {"stderr", "fine"}, {"exit", 3}}));
        EXPECT_EQ(runFake("bytes", 20s), (RunResult{3, c.output, QStringLiteral("fine")}));
    }
}

TEST(ProcessRunner, AnythingButAnExecutableFileStartsNothing)
{
    QTemporaryDir dir;
    const QString marker = dir.filePath("started");
    const QString script =
        testsupport::writeFile(dir.filePath("script.sh"), "#!/bin/sh\ntouch '" + marker.toUtf8() + "'\n");
    QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    const QString folder = dir.filePath("folder");
    QDir().mkpath(folder);
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ExeOther);
    QFile::link(folder, dir.filePath("folder-link"));

    for (const QString &path : {dir.filePath("missing"), script, folder, dir.filePath("folder-link"), QString()}) {
        SCOPED_TRACE(path.toStdString());
        EXPECT_EQ(run({path}, QStringLiteral("input"), 5s), (RunResult{-1, QString(), QString()}));
    }
    EXPECT_FALSE(QFile::exists(marker));
}

TEST(ProcessRunner, AnOverrunStopsTheWholeGroup)
{
    struct Case {
        bool ignoreSigterm;
        std::chrono::milliseconds timeout;
        const char *message;
        qint64 atLeastMs; // the time-out, plus the grace before SIGKILL when SIGTERM is ignored
    };
    const Case cases[] = {
        // Truncated, not rounded; long enough for a loaded machine to start
        // the child and let it log before the deadline.
        {false, 900ms, "timed out after 0 s", 900},
        {true, 1500ms, "timed out after 1 s", 2000},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.message);
        FakeHermesScenario fake(commandFor("stall", {{"ignoreSigterm", c.ignoreSigterm}, {"sleepMs", 30000}}));
        QElapsedTimer clock;
        clock.start();

        const RunResult result = runFake("stall", c.timeout);

        EXPECT_GE(clock.elapsed(), c.atLeastMs);
        EXPECT_LT(clock.elapsed(), c.atLeastMs + 3000);
        EXPECT_EQ(result, (RunResult{-1, QString(), QString::fromLatin1(c.message)}));
        const qint64 pgid = loggedPgid(fake);
        ASSERT_GT(pgid, 0);
        EXPECT_TRUE(groupGone(pgid));
    }
}

TEST(ProcessRunner, StatusIsTheExitCodeOrTheSignalNumber)
{
    struct Case {
        QJsonObject end;
        int status;
    };
    const Case cases[] = {
        {{{"exit", 0}}, 0},
        {{{"exit", 7}}, 7},
        {{{"exit", 255}}, 255},
        {{{"signal", SIGKILL}}, SIGKILL},
        {{{"signal", SIGTERM}}, SIGTERM},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.status);
        QJsonObject command = c.end;
        command.insert("stdout", " out \n");
        FakeHermesScenario fake(commandFor("end", command));
        // Nothing trimmed.
        EXPECT_EQ(runFake("end", 20s), (RunResult{c.status, QStringLiteral(" out \n"), QString()}));
    }
}

} // namespace
