#include "app/mainwindow.h"
#include "app/pennoraapp.h"
#include "app/singleinstance.h"
#include "app/state/appgatestate.h"
#include "focus/writinglockstate.h"
#include "foundation/paths.h"
#include "library/poststore.h"
#include "model/postsmodel.h"

#include "capturedlog.h"
#include "testenv.h"
#include "testutil.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <csignal>
#include <gtest/gtest.h>

namespace {

// An environment for a real start-up: its own HOME, no test-run marker (the
// test main sets it in this process, and children inherit it).
QProcessEnvironment startupEnvironment(const QString &home)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QString::fromLatin1(foundation::paths::kTestRunMarker));
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("XDG_DATA_HOME"), home + "/.local/share");
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + "/.config");
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    return env;
}

} // namespace

TEST(Entry, StartShowsTheMainWindowOnceAndASecondStartDefers)
{
    QTemporaryDir data;
    app::PennoraApp first(data.path());
    ASSERT_TRUE(first.start());
    ASSERT_NE(first.mainWindow(), nullptr);
    EXPECT_TRUE(first.mainWindow()->isVisible());
    EXPECT_EQ(first.mainWindow()->windowTitle(), QStringLiteral("Pennora"));

    bool seen = false;
    for (QWidget *w : QApplication::topLevelWidgets())
        seen = seen || (w->isVisible() && w->windowTitle() == QStringLiteral("Pennora"));
    EXPECT_TRUE(seen);

    app::PennoraApp second(data.path());
    EXPECT_FALSE(second.start());
    EXPECT_EQ(second.mainWindow(), nullptr);
}

TEST(Entry, TheInstanceLockIsHeldForTheProcessLifeAndALockLeftByACrashIsTakenOver)
{
    QTemporaryDir data;
    const QString lock = data.filePath("pennora.lock");
    // A lock left by a process of this machine that no longer runs (a pid
    // above the kernel's largest).
    QFile pidMax("/proc/sys/kernel/pid_max");
    ASSERT_TRUE(pidMax.open(QIODevice::ReadOnly));
    const qint64 gone = pidMax.readAll().trimmed().toLongLong() + 1;
    QFile stale(lock);
    ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
    stale.write(QByteArray::number(gone) + "\nPennora\n" + QSysInfo::machineHostName().toUtf8() + "\n");
    stale.close();

    auto first = std::make_unique<app::SingleInstance>(data.path());
    ASSERT_TRUE(first->acquire());
    app::SingleInstance second(data.path());
    EXPECT_FALSE(second.acquire());

    first.reset();
    EXPECT_FALSE(QFileInfo::exists(lock));
    app::SingleInstance third(data.path());
    EXPECT_TRUE(third.acquire());
    EXPECT_TRUE(QFileInfo::exists(lock));
}

TEST(Entry, ProcessRunsSingleInstanceAndQuitsCleanlyOnSigterm)
{
    QTemporaryDir home;
    const QProcessEnvironment env = startupEnvironment(home.path());
    const QString lock = home.path() + "/.local/share/Pennora/pennora.lock";

    QProcess first;
    first.setProcessEnvironment(env);
    first.start(testsupport::pennoraBinary(), {});
    ASSERT_TRUE(first.waitForStarted());
    ASSERT_TRUE(testsupport::spinUntil([&] { return QFileInfo::exists(lock); }, 20000))
        << first.readAllStandardError().constData();

    QProcess second;
    second.setProcessEnvironment(env);
    second.start(testsupport::pennoraBinary(), {});
    ASSERT_TRUE(second.waitForFinished(20000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(first.state(), QProcess::Running);

    ::kill(first.processId(), SIGTERM);
    ASSERT_TRUE(first.waitForFinished(20000));
    EXPECT_EQ(first.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(first.exitCode(), 0);
    EXPECT_FALSE(QFileInfo::exists(lock));
}

// At logout a SIGTERM comes with a SIGKILL close behind: a disk conflict
// standing then must not hold the quit up with a question. The file stays as
// the other program saved it, the editor's text goes beside it, the log says
// so, and the application quits; the Quit command still waits for an answer.
TEST(Entry, ASignalDuringADiskConflictKeepsBothTextsAndQuits)
{
    QTemporaryDir data;
    const QString home = data.filePath("Home");
    ASSERT_TRUE(QDir().mkpath(home));
    const library::Post walk = library::PostStore::createPiece(
        "# Walk\n\nMine.\n", "Essays", library::Post::ContentType::post, library::Post::Origin::writer, home);
    const QString folder = *library::PostStore::folderPath(walk.id, home);
    const QString post = folder + "/post.md";

    app::PennoraApp pennora(data.path());
    ASSERT_TRUE(pennora.start());
    model::PostsModel &posts = pennora.gate()->posts();
    ASSERT_TRUE(pennora.gate()->changeHome(home));
    posts.startWatching(home);
    posts.openPiece(walk.id);
    ASSERT_NE(posts.session(), nullptr);
    posts.session()->textDidChange("# Walk\n\nMine, and typed on.\n");
    const QByteArray theirs = testsupport::readFile(post).replace("Mine.", "Theirs.");
    testsupport::writeFile(post, theirs);
    ASSERT_TRUE(posts.session()->diskChangedUnderneath());

    EXPECT_FALSE(pennora.requestQuit());
    EXPECT_EQ(QDir(folder).entryList({"*.conflict-*"}), QStringList());

    const testsupport::CapturedLog log;
    QTimer::singleShot(0, [] { ::raise(SIGTERM); });
    QTimer::singleShot(20000, [] { QCoreApplication::exit(1); }); // never quit
    EXPECT_EQ(QCoreApplication::exec(), 0);

    EXPECT_EQ(testsupport::readFile(post), theirs);
    const QStringList copies = QDir(folder).entryList({"*.conflict-*"});
    ASSERT_EQ(copies.size(), 1);
    EXPECT_TRUE(QRegularExpression("^post\\.conflict-\\d{8}-\\d{6}\\.md$").match(copies[0]).hasMatch())
        << copies[0].toStdString();
    EXPECT_EQ(testsupport::readFile(folder + "/" + copies[0]), "# Walk\n\nMine, and typed on.\n");
    const bool logged = std::any_of(log.lines.begin(), log.lines.end(), [&](const auto &line) {
        return line.type == QtWarningMsg && line.text.contains(folder + "/" + copies[0]);
    });
    EXPECT_TRUE(logged);
}

// A signal cannot wait for an answer: with a block running, SIGTERM, SIGINT
// and SIGHUP save what was typed and quit without the question.
TEST(Entry, ASignalDuringAWritingBlockSavesAndQuitsWithoutAsking)
{
    for (const int number : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(number);
        QTemporaryDir data;
        const QString file = testsupport::writeFile(data.filePath("outside.md"), "# Outside\n");
        app::PennoraApp pennora(data.path());
        ASSERT_TRUE(pennora.start());
        model::PostsModel &posts = pennora.gate()->posts();
        posts.openExternalFile(QUrl::fromLocalFile(file));
        ASSERT_NE(posts.externalSession(), nullptr);
        posts.externalSession()->textDidChange("# Outside\n\nTyped.\n");
        pennora.gate()->armWritingLock({focus::WritingGoal::Kind::minutes, 5});
        bool asked = false;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] { asked = asked || QApplication::activeModalWidget(); });
        watch.start(5);
        QTimer::singleShot(0, [number] { ::raise(number); });
        QTimer::singleShot(20000, [] { QCoreApplication::exit(1); }); // never quit
        EXPECT_EQ(QCoreApplication::exec(), 0);
        EXPECT_FALSE(asked);
        EXPECT_EQ(testsupport::readText(file), "# Outside\n\nTyped.\n");
    }
}

TEST(Entry, ServeMcpModeNeverStartsTheApplication)
{
    QTemporaryDir home;
    QProcess server;
    QProcessEnvironment env = startupEnvironment(home.path());
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env.insert(QStringLiteral("DISPLAY"), QStringLiteral(":none"));
    server.setProcessEnvironment(env);
    server.start(testsupport::pennoraBinary(), {QStringLiteral("--serve-mcp")});
    ASSERT_TRUE(server.waitForStarted());
    server.closeWriteChannel();
    ASSERT_TRUE(server.waitForFinished(20000));
    EXPECT_EQ(server.exitCode(), 0);
    EXPECT_FALSE(QFileInfo::exists(home.path() + "/.local/share/Pennora"));
}

// The process ends with the status the application module answers, and fails
// when it finds no module. A copy of the executable beside a stand-in module
// shows it, as the executable looks for the module in its own folder.
TEST(Entry, ProcessExitsWithTheApplicationStatus)
{
    QTemporaryDir dir;
    const QString binary = dir.filePath(QStringLiteral("pennora"));
    ASSERT_TRUE(QFile::copy(testsupport::pennoraBinary(), binary));
    ASSERT_TRUE(QFile::setPermissions(binary, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QProcessEnvironment env = startupEnvironment(dir.filePath(QStringLiteral("home")));
    const auto runToTheEnd = [&](QProcess &process) {
        process.setProcessEnvironment(env);
        process.start(binary, {});
        return process.waitForFinished(20000) && process.exitStatus() == QProcess::NormalExit;
    };

    QProcess alone;
    ASSERT_TRUE(runToTheEnd(alone));
    EXPECT_EQ(alone.exitCode(), 1);
    EXPECT_TRUE(alone.readAllStandardError().startsWith("pennora: cannot load the application module"));

    ASSERT_TRUE(QFile::copy(testsupport::binaryDir() + QStringLiteral("/tests/app/stub-module/libpennora-gui.so"),
                            dir.filePath(QStringLiteral("libpennora-gui.so"))));
    for (const int status : {0, 3, 42}) {
        SCOPED_TRACE(status);
        env.insert(QStringLiteral("PENNORA_STUB_STATUS"), QString::number(status));
        QProcess process;
        ASSERT_TRUE(runToTheEnd(process));
        EXPECT_EQ(process.exitCode(), status);
    }
}
