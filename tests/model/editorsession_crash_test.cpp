// A process killed at any moment of a save leaves post.md whole: the old text
// or the new one, under its front matter, and the next save goes through.

#include "model/editorsession.h"

#include "library/piececontents.h"
#include "testutil.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

using model::EditorSession;
using model::SessionTarget;
namespace PostStore = library::PostStore;

using testsupport::readFile;
using testsupport::writeFile;

namespace {

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

const QByteArray kBlock = "---\ntype: post\npass_state: Pass-1 Done\norigin: writer\n---\n";
constexpr int kRounds = 200;

// Large enough that a write takes a while, so kills land inside writes too.
const QString &padding()
{
    static const QString text = QString(u"Some prose to make the file long enough. "_s).repeated(1600) + u'\n';
    return text;
}

QString lines(int count)
{
    QString text;
    for (int i = 1; i <= count; ++i)
        text += u"line %1\n"_s.arg(i);
    return text;
}

QString childHead(int round)
{
    return u"Round %1, saver.\n"_s.arg(round) + padding();
}

QString parentText(int round)
{
    return u"Round %1, after the kill.\n"_s.arg(round) + padding();
}

// True when body is one of the texts the saver of round wrote whole.
bool isSaverText(const QString &body, int round)
{
    const QString head = childHead(round);
    if (!body.startsWith(head))
        return false;
    const QString rest = body.mid(head.size());
    return rest == lines(int(rest.count(u'\n')));
}

// Saves a longer text each time, for ever; tells the parent when it starts
// and again when its first save is done.
[[noreturn]] void saveForever(const QString &home, int round, int ready)
{
    ::signal(SIGPIPE, SIG_IGN);
    EditorSession session(SessionTarget::post(u"crash"_s, home), 1h);
    (void)!::write(ready, "r", 1);
    QString text = childHead(round);
    for (int k = 1; k < 1000000; ++k) {
        text += u"line %1\n"_s.arg(k);
        session.setCursor({k, 0, 0});
        session.textDidChange(text);
        session.flush();
        if (k == 1)
            (void)!::write(ready, "s", 1);
    }
    ::_exit(0);
}

TEST(EditorSessionCrash, KilledSaveLeavesTheOldOrTheNewTextWhole)
{
    // A kill, not a power cut: the page cache outlives the process, so a
    // memory filesystem shows the same and spares each round its fsyncs.
    const QString base = QFileInfo(u"/dev/shm"_s).isWritable() ? u"/dev/shm"_s : QDir::tempPath();
    QTemporaryDir dir(base + u"/pennora-crash-XXXXXX"_s);
    ASSERT_TRUE(dir.isValid());
    const QString home = dir.path() + "/Home";
    const QString folder = home + "/projects/Essays/crash";
    const QString post = folder + "/post.md";
    writeFile(post, kBlock + parentText(-1).toUtf8());

    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> delayMicroseconds(0, 3000);

    QString before = parentText(-1);
    int sawNewText = 0;
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        int pipe[2];
        ASSERT_EQ(::pipe(pipe), 0);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::close(pipe[0]);
            saveForever(home, round, pipe[1]);
        }
        ::close(pipe[1]);
        char byte = 0;
        ASSERT_EQ(::read(pipe[0], &byte, 1), 1);
        // Every other round kills only after a finished save, so both kinds
        // of kill happen however loaded the machine is.
        if (round % 2 == 1) {
            ASSERT_EQ(::read(pipe[0], &byte, 1), 1);
        }
        ::close(pipe[0]);
        ::usleep(useconds_t(delayMicroseconds(random)));
        ASSERT_EQ(::kill(pid, SIGKILL), 0);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);

        const QByteArray bytes = readFile(post);
        ASSERT_TRUE(bytes.startsWith(kBlock));
        const QString body = QString::fromUtf8(bytes.mid(kBlock.size()));
        const bool saverWrote = isSaverText(body, round);
        ASSERT_TRUE(body == before || saverWrote) << "a torn post.md of " << bytes.size() << " bytes";
        sawNewText += saverWrote;
        // The caret file is atomic as well: absent or whole.
        if (QFileInfo::exists(folder + "/" + PostStore::kCursorStateFileName)) {
            ASSERT_TRUE(PostStore::readCursorState(u"crash"_s, home).has_value());
        }

        // Whatever temp the kill left behind, the next save goes through.
        EditorSession after(SessionTarget::post(u"crash"_s, home), 1h);
        ASSERT_FALSE(after.loadFailed());
        ASSERT_EQ(after.text(), body);
        after.textDidChange(parentText(round));
        ASSERT_TRUE(after.flush());
        ASSERT_EQ(readFile(post), kBlock + parentText(round).toUtf8());
        before = parentText(round);
    }
    EXPECT_GE(sawNewText, kRounds / 2);
    // Temps left by kills inside a write sit beside the two files, harmless.
    const QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden);
    EXPECT_TRUE(names.contains(u"post.md"_s));
    EXPECT_TRUE(names.contains(PostStore::kCursorStateFileName));
    RecordProperty("killsAfterASave", sawNewText);
    RecordProperty("tempsLeft", int(names.size()) - 2);
}

} // namespace
