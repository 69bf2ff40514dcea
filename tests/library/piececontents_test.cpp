#include "library/piececontents.h"

#include "foundation/fs.h"
#include "library/poststore.h"
#include "review/learnings.h"
#include "testenv.h"
#include "testutil.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QUrl>
#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using foundation::fs::FileError;
using library::PassKind;
using library::Post;
using library::StoreError;
namespace PostStore = library::PostStore;

using testsupport::entries;
using testsupport::inChild;
using testsupport::modeOf;
using testsupport::readFile;
using testsupport::readText;
using testsupport::writeFile;

namespace {

using namespace Qt::StringLiterals;

ino_t inodeOf(const QString &path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}

void setModificationTime(const QString &path, time_t seconds)
{
    const struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, AT_SYMLINK_NOFOLLOW), 0);
}

bool runningAsRoot()
{
    return ::geteuid() == 0;
}

// A sandbox in the test HOME with the Home inside it, so that anything written
// outside the Home shows.
class PieceContents : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_sandbox.isValid());
        home = m_sandbox.path() + "/Home";
        outside = m_sandbox.path() + "/outside";
        ASSERT_TRUE(QDir().mkpath(home));
        ASSERT_TRUE(QDir().mkpath(outside));
    }

    // projects/Essays/<id>/post.md; answers the piece folder.
    QString piece(const QString &id, const QString &text = "---\ntype: post\n---\n# Title\n")
    {
        const QString folder = home + "/projects/Essays/" + id;
        writeFile(folder + "/post.md", text.toUtf8());
        return folder;
    }

    QString post(const QString &id) const { return home + "/projects/Essays/" + id + "/post.md"; }

    QTemporaryDir m_sandbox{testsupport::tempHome() + "/piececontents-XXXXXX"};
    QString home;
    QString outside;
};

// --- Reading ------------------------------------------------------------------------

TEST_F(PieceContents, ReadPieceGivesFlagsAndBody)
{
    const QString folder = piece("a", "---\ntype: outline\npass_state: Pass-1 Done\norigin: ai\n---\n- one\n");
    const auto read = PostStore::readPiece("a", home);
    EXPECT_EQ(read.folder, folder);
    EXPECT_EQ(read.type, Post::ContentType::outline);
    EXPECT_EQ(read.passState, Post::PassState::pass1Done);
    EXPECT_EQ(read.origin, Post::Origin::ai);
    EXPECT_EQ(read.body, "- one\n");

    piece("b", "---\ntype: Outline\npass_state: done\n---\nbody");
    const auto defaults = PostStore::readPiece("b", home);
    EXPECT_EQ(defaults.type, Post::ContentType::post);
    EXPECT_EQ(defaults.passState, Post::PassState::firstDraft);
    EXPECT_EQ(defaults.origin, Post::Origin::writer);
}

TEST_F(PieceContents, ReadPieceReportsTheRealFailure)
{
    try {
        PostStore::readPiece("missing", home);
        FAIL() << "no error";
    } catch (const StoreError &error) {
        EXPECT_EQ(error.code(), StoreError::Code::fileReadNoSuchFile);
    }

    QDir().mkpath(home + "/projects/Essays/empty");
    try {
        PostStore::readPiece("empty", home);
        FAIL() << "no error";
    } catch (const StoreError &error) {
        EXPECT_EQ(error.code(), StoreError::Code::fileReadNoSuchFile);
    }

    // Other failures are reported as what they are, not as a missing file.
    piece("latin1");
    writeFile(post("latin1"), "---\ntype: post\n---\ncaf\xe9\n");
    piece("folder");
    QFile::remove(post("folder"));
    QDir().mkpath(post("folder"));
    piece("link");
    QFile::remove(post("link"));
    ASSERT_TRUE(QFile::link(post("latin1"), post("link")));
    const std::pair<const char *, int> failures[] = {{"latin1", EILSEQ}, {"folder", EINVAL}, {"link", ELOOP}};
    for (const auto &[id, code] : failures) {
        try {
            PostStore::readPiece(id, home);
            ADD_FAILURE() << id << ": no error";
        } catch (const FileError &error) {
            EXPECT_EQ(error.code(), code) << id;
        }
        EXPECT_FALSE(PostStore::readText(id, home)) << id;
    }
    // The text with the bad byte is not rewritten.
    EXPECT_THROW(PostStore::writeText("latin1", "new", home), FileError);
    EXPECT_EQ(readFile(post("latin1")), "---\ntype: post\n---\ncaf\xe9\n");
}

TEST_F(PieceContents, ReadPieceReportsAPermissionFailure)
{
    const QString folder = piece("locked");
    ASSERT_EQ(::chmod(QFile::encodeName(post("locked")).constData(), 0), 0);
    // Root ignores permissions, so the reader runs in a child that drops to an
    // unprivileged user; every folder from the temp folder down to the piece
    // lets that user through meanwhile.
    QList<std::pair<QByteArray, mode_t>> opened;
    for (QString step = folder; step.startsWith(QDir::tempPath() + "/"); step = QFileInfo(step).path()) {
        const QByteArray name = QFile::encodeName(step);
        opened.append({name, modeOf(step)});
        ASSERT_EQ(::chmod(name.constData(), 0755), 0) << step.toStdString();
    }
    const int status = inChild([&] {
        if (runningAsRoot() && (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
            return 200;
        if (runningAsRoot() || ::access(QFile::encodeName(folder).constData(), R_OK | X_OK) != 0
            || ::access(QFile::encodeName(post("locked")).constData(), R_OK) == 0)
            return 201; // the folder must be reachable and only post.md unreadable
        try {
            PostStore::readPiece("locked", home);
        } catch (const FileError &error) {
            return error.code();
        } catch (const StoreError &) {
            return 202; // reported as a missing file
        } catch (...) {
            return 203;
        }
        return 0;
    });
    for (const auto &[name, mode] : opened)
        ::chmod(name.constData(), mode);
    EXPECT_EQ(status, EACCES);
}

TEST_F(PieceContents, LargePostsHaveNoSizeLimit)
{
    const QByteArray body(17 * 1024 * 1024, 'a');
    piece("big", "---\ntype: post\n---\n");
    writeFile(post("big"), "---\ntype: post\n---\n" + body);
    EXPECT_EQ(PostStore::readPiece("big", home).body.size(), body.size());
    PostStore::writeText("big", "short", home);
    EXPECT_EQ(readText(post("big")), "---\ntype: post\npass_state: First Draft\norigin: writer\n---\nshort");

    PostStore::writePassSnapshot("big", PassKind::pass1, QString::fromLatin1(body), home);
    const auto latest = PostStore::latestPassSnapshot("big", home);
    ASSERT_TRUE(latest);
    EXPECT_EQ(latest->text.size(), body.size());
}

TEST_F(PieceContents, ReadTextGivesBodyOrWholeTextOrNone)
{
    piece("a", "---\ntype: post\n---\nbody\n");
    piece("b", "no block\n");
    EXPECT_EQ(PostStore::readText("a", home), "body\n");
    EXPECT_EQ(PostStore::readText("b", home), "no block\n");
    EXPECT_FALSE(PostStore::readText("c", home));
}

// --- Writing the body -----------------------------------------------------------------

TEST_F(PieceContents, WriteTextKeepsTheFrontMatter)
{
    struct Case {
        const char *before;
        const char *body;
        const char *after;
    };
    const Case cases[] = {
        {"# Old\n", "# New\n", "---\ntype: post\npass_state: First Draft\norigin: writer\n---\n# New\n"},
        {"---\ntitle: x\ntype: Outline\nmicropub_url: https://e.example/p\n---\nold", "new",
         "---\ntitle: x\ntype: post\nmicropub_url: https://e.example/p\npass_state: First Draft\norigin: writer\n---\nnew"},
        {"---\ntype: outline\npass_state: Pass-2 Done\norigin: ai\n---\nold", "\nleading blank\n",
         "---\ntype: outline\npass_state: Pass-2 Done\norigin: ai\n---\n\nleading blank\n"},
        {"\n\n---\ntype: post\npass_state: First Draft\norigin: writer\n---\nold", "new",
         "---\ntype: post\npass_state: First Draft\norigin: writer\n---\nnew"},
    };
    for (const Case &c : cases) {
        piece("p", c.before);
        PostStore::writeText("p", c.body, home);
        EXPECT_EQ(readText(post("p")), c.after) << c.before;
    }
    EXPECT_THROW(PostStore::writeText("missing", "x", home), StoreError);
}

TEST_F(PieceContents, PostKeepsItsModeThroughEveryWrite)
{
    piece("p", "---\ntype: post\n---\nA a a a.\n");
    const QString path = post("p");
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0640), 0);

    PostStore::writeText("p", "a a a a.\n", home);
    EXPECT_EQ(modeOf(path), 0640u) << "writeText";
    PostStore::recordMicropubURL("p", "https://blog.example/p", home);
    EXPECT_EQ(modeOf(path), 0640u) << "recordMicropubURL";
    EXPECT_TRUE(PostStore::writeDraftStats("p", "a a a a.", home));
    EXPECT_EQ(modeOf(path), 0640u) << "writeDraftStats";
    PostStore::advancePassState("p", PassKind::pass1, home, {});
    EXPECT_EQ(modeOf(path), 0640u) << "advancePassState";
    PostStore::rewriteAsPost("p", false, home);
    EXPECT_EQ(modeOf(path), 0640u) << "rewriteAsPost";
}

// --- Leftovers of interrupted saves ------------------------------------------------------------

QString g_tempSeen;

TEST_F(PieceContents, TheNamesOfRealTempFilesAreRecognised)
{
    piece("p");
    // A short name and one long enough that the temp's name is cut.
    for (const QString &target : {post("p"), outside + "/" + QString(120, QChar(0xe9))}) {
        g_tempSeen.clear();
        foundation::fs::detail::setTempCreatedHook([](const QString &temp) { g_tempSeen = temp; });
        foundation::fs::atomicWrite(target, "text");
        foundation::fs::detail::setTempCreatedHook(nullptr);
        ASSERT_FALSE(g_tempSeen.isEmpty());
        EXPECT_TRUE(foundation::fs::isAtomicWriteTempName(QFileInfo(g_tempSeen).fileName()))
            << g_tempSeen.toStdString();
    }
}

TEST_F(PieceContents, OnlyOldLeftoversOfInterruptedSavesAreRemoved)
{
    const QString folder = piece("p");
    const time_t now = ::time(nullptr);
    const time_t old = now - 2 * 60 * 60;
    const auto file = [&](const QString &name, time_t when) {
        writeFile(folder + "/" + name, "an interrupted save");
        setModificationTime(folder + "/" + name, when);
    };
    const QStringList removed{".post.md.tmp-0123456789abcdef", "..pennora-state.json.tmp-00000000000000ff"};
    for (const QString &name : removed)
        file(name, old);
    // Near misses of the name, old as they are.
    for (const char *name :
         {".post.md.tmp-0123456789ABCDEF", ".post.md.tmp-0123456789abcdeg", ".post.md.tmp-0123456789abcde",
          ".post.md.tmp-0123456789abcdef0", "post.md.tmp-0123456789abcdef", "..tmp-0123456789abcdef",
          ".post.md-tmp-0123456789abcdef", ".post.md.tmp-0123456789abcdef.md", "notes.md"})
        file(name, old);
    // Younger than an hour: possibly a save under way.
    file(".post.md.tmp-fedcba9876543210", now);
    file(".post.md.tmp-1111111111111111", now - 50 * 60);
    // A folder and a link of the name, and a leftover further down.
    writeFile(folder + "/.folder.md.tmp-0123456789abcdef/inside.md", "kept");
    setModificationTime(folder + "/.folder.md.tmp-0123456789abcdef", old);
    writeFile(outside + "/target.md", "kept");
    ASSERT_EQ(::symlink(QFile::encodeName(outside + "/target.md").constData(),
                        QFile::encodeName(folder + "/.link.md.tmp-0123456789abcdef").constData()),
              0);
    setModificationTime(folder + "/.link.md.tmp-0123456789abcdef", old);
    file("cards/.card.json.tmp-0123456789abcdef", old);

    QStringList kept = entries(folder);
    for (const QString &name : removed)
        kept.removeAll(name);
    PostStore::removeSaveLeftovers(folder);
    EXPECT_EQ(entries(folder), kept);
    EXPECT_EQ(readText(post("p")), "---\ntype: post\n---\n# Title\n");
    EXPECT_EQ(entries(folder + "/cards"), QStringList{".card.json.tmp-0123456789abcdef"});
    EXPECT_EQ(readText(outside + "/target.md"), "kept");

    // A folder that is not there is passed over.
    PostStore::removeSaveLeftovers(home + "/projects/Essays/missing");
}

// --- Cursor state ----------------------------------------------------------------------

TEST_F(PieceContents, CursorStateRoundTripsAsCompactJson)
{
    const QString folder = piece("p");
    PostStore::writeCursorState(12, 3, "p", home, 40.5);
    EXPECT_EQ(readFile(folder + "/.pennora-state.json"),
              R"({"scrollOffset":40.5,"selectionLength":3,"selectionLocation":12})");
    EXPECT_EQ(PostStore::readCursorState("p", home), (PostStore::CursorState{12, 3, 40.5}));

    // Never throws, writes nothing for a missing piece or an unencodable offset.
    PostStore::writeCursorState(1, 0, "missing", home, 0);
    PostStore::writeCursorState(1, 0, "p", home, std::nan(""));
    EXPECT_EQ(PostStore::readCursorState("p", home), (PostStore::CursorState{12, 3, 40.5}));
}

TEST_F(PieceContents, CursorStateDecodingRefusesOtherShapes)
{
    for (const char *json : {"", "[]", "{}", R"({"selectionLocation":1.5,"selectionLength":0,"scrollOffset":0})",
                             R"({"selectionLocation":"1","selectionLength":0,"scrollOffset":0})",
                             R"({"selectionLocation":1,"selectionLength":0})"})
        EXPECT_FALSE(PostStore::CursorState::decode(json)) << json;
    EXPECT_EQ(PostStore::CursorState::decode(R"({"selectionLocation":2.0,"selectionLength":0,"scrollOffset":7,"x":1})"),
              (PostStore::CursorState{2, 0, 7}));
}

// --- Front matter keys -------------------------------------------------------------------

TEST_F(PieceContents, MicropubURLIsRecordedInTheFrontMatter)
{
    piece("a", "---\ntype: post\nmicropub_url: https://old.example\n---\nbody");
    piece("b", "body");
    PostStore::recordMicropubURL("a", "https://blog.example/a", home);
    PostStore::recordMicropubURL("b", "https://blog.example/b", home);
    EXPECT_EQ(readText(post("a")), "---\ntype: post\nmicropub_url: https://blog.example/a\n---\nbody");
    EXPECT_EQ(readText(post("b")), "---\nmicropub_url: https://blog.example/b\n---\nbody");

    EXPECT_THROW(PostStore::recordMicropubURL("missing", "https://x.example", home), StoreError);
    // A line break would add a line of its own to the block.
    EXPECT_THROW(PostStore::recordMicropubURL("b", "https://x.example\npass_state: Pass-2 Done", home), FileError);
    EXPECT_EQ(readText(post("b")), "---\nmicropub_url: https://blog.example/b\n---\nbody");
}

TEST_F(PieceContents, DraftStatsWrittenWithThreeDecimals)
{
    piece("p", "---\ntype: post\npass_state: First Draft\norigin: writer\n---\nold body\n");
    const QDateTime when(QDate(2025, 3, 14), QTime(9, 5, 0));
    ASSERT_TRUE(PostStore::writeDraftStats("p", "a a a a.", home, when));
    const QString text = readText(post("p"));
    EXPECT_TRUE(text.contains("\nstats_captured: 2025-03-14T09:05:00\n")) << text.toStdString();
    EXPECT_TRUE(text.contains("\nstats_type_token_ratio: 0.250\n")) << text.toStdString();
    EXPECT_TRUE(text.contains("\nstats_burstiness: -1.000\n")) << text.toStdString();
    EXPECT_TRUE(text.endsWith("---\nold body\n"));
    const QStringList keys{"stats_captured", "stats_burstiness", "stats_type_token_ratio", "stats_sentence_variation",
                           "stats_trigram_repetition"};
    qsizetype last = -1;
    for (const QString &key : keys) {
        const qsizetype at = text.indexOf("\n" + key + ": ");
        EXPECT_GT(at, last) << key.toStdString();
        last = at;
    }

    // A later capture replaces the earlier one.
    ASSERT_TRUE(PostStore::writeDraftStats("p", "One two. Three four five six.", home, when.addDays(1)));
    const QString again = readText(post("p"));
    EXPECT_EQ(again.count("stats_captured"), 1);
    EXPECT_TRUE(again.contains("stats_captured: 2025-03-15T09:05:00\n"));
}

TEST_F(PieceContents, DraftStatsOnlyForUntouchedWriterDrafts)
{
    for (const char *text :
         {"---\norigin: ai\n---\nbody", "---\npass_state: Pass-1 Done\n---\nbody", "---\ntype: outline\n---\n- x"}) {
        piece("p", text);
        EXPECT_FALSE(PostStore::writeDraftStats("p", "a a a a.", home)) << text;
        EXPECT_EQ(readText(post("p")), text);
    }
    EXPECT_FALSE(PostStore::writeDraftStats("missing", "a", home));
    piece("bare", "just a body");
    EXPECT_TRUE(PostStore::writeDraftStats("bare", "a", home));
    EXPECT_TRUE(readText(post("bare")).startsWith("---\nstats_captured: "));
}

// --- Pass state -----------------------------------------------------------------------------

TEST_F(PieceContents, AdvancingThePassStateNeverLowersIt)
{
    struct Case {
        const char *from;
        PassKind kind;
        Post::PassState to;
    };
    const Case cases[] = {
        {"First Draft", PassKind::pass1, Post::PassState::pass1Done},
        {"Pass-1 Done", PassKind::pass1, Post::PassState::pass1Done},
        {"Pass-2 Done", PassKind::pass1, Post::PassState::pass2Done},
        {"First Draft", PassKind::pass2, Post::PassState::pass2Done},
        {"Pass-2 Done", PassKind::pass2, Post::PassState::pass2Done},
    };
    for (const Case &c : cases) {
        piece("p", "---\ntitle: t\npass_state: " + QString::fromUtf8(c.from) + "\norigin: ai\n---\nbody\n");
        const ino_t before = inodeOf(post("p"));
        int bumps = 0;
        const auto state =
            PostStore::advancePassState("p", c.kind, home, [&](const QString &, Post::ContentType) { ++bumps; });
        EXPECT_EQ(state, c.to) << c.from;
        EXPECT_EQ(readText(post("p")), "---\ntitle: t\npass_state: " + c.to.rawValue() + "\norigin: ai\n---\nbody\n");
        // Rewritten and counted even when the state stays.
        EXPECT_NE(inodeOf(post("p")), before) << c.from;
        EXPECT_EQ(bumps, 1) << c.from;
    }
}

TEST_F(PieceContents, AdvancingThePassStateCountsThePassOnTheClock)
{
    piece("essay", "# Essay\n");
    piece("plan", "---\ntype: outline\n---\n- a\n");
    const PostStore::PassCountBump bump = review::LearningPassClock::bumpPassCount;

    EXPECT_EQ(PostStore::advancePassState("essay", PassKind::pass1, home, bump), Post::PassState::pass1Done);
    EXPECT_EQ(PostStore::advancePassState("essay", PassKind::pass1, home, bump), Post::PassState::pass1Done);
    EXPECT_EQ(PostStore::advancePassState("plan", PassKind::pass2, home, bump), Post::PassState::pass2Done);

    const auto counts = review::LearningPassClock::readPassCounts(home);
    EXPECT_EQ(counts.value("posts"), 2);
    EXPECT_EQ(counts.value("outlines"), 1);
    // No block before: the three keys are written above the body.
    EXPECT_EQ(readText(post("essay")), "---\ntype: post\npass_state: Pass-1 Done\norigin: writer\n---\n# Essay\n");
}

TEST_F(PieceContents, AdvancingThePassStateIgnoresAFailedCountButNotAFailedWrite)
{
    piece("p", "---\ntype: post\n---\nbody");
    const auto throwing = [](const QString &, Post::ContentType) { throw std::runtime_error("clock broken"); };
    EXPECT_EQ(PostStore::advancePassState("p", PassKind::pass1, home, throwing), Post::PassState::pass1Done);

    int bumps = 0;
    const auto counting = [&](const QString &, Post::ContentType) { ++bumps; };
    EXPECT_THROW(PostStore::advancePassState("missing", PassKind::pass1, home, counting), StoreError);
    // The temp file vanishes before it is renamed into place: the write fails.
    foundation::fs::detail::setTempCreatedHook([](const QString &temp) { QFile::remove(temp); });
    EXPECT_THROW(PostStore::advancePassState("p", PassKind::pass2, home, counting), FileError);
    foundation::fs::detail::setTempCreatedHook(nullptr);
    EXPECT_EQ(bumps, 0);
    EXPECT_EQ(readText(post("p")), "---\ntype: post\npass_state: Pass-1 Done\n---\nbody");
}

// --- Outline to post ----------------------------------------------------------------------------

TEST_F(PieceContents, RewriteAsPostChangesOnlyTheThreeKeys)
{
    // The writer's keys stay where they stand: a lost micropub_url would make
    // the next publish a second post.
    const QString outline = "---\ntype: outline\ntags: walks, rain\nmicropub_url: https://b.example/x\n"
                            "pass_state: Pass-1 Done\nslug: the-plan\norigin: ai\n---\n- Title\n  - Part\n";
    const QString block = "---\ntype: post\ntags: walks, rain\nmicropub_url: https://b.example/x\n"
                          "pass_state: Pass-1 Done\nslug: the-plan\norigin: ai\n---\n";
    piece("p", outline);
    PostStore::rewriteAsPost("p", false, home);
    EXPECT_EQ(readText(post("p")), block + "- Title\n  - Part\n");

    piece("p", outline);
    PostStore::rewriteAsPost("p", true, home);
    EXPECT_EQ(readText(post("p")), block + "## Title\n### Part");

    // Missing keys are added before the closing line; no block gets a fresh one.
    piece("p", "---\ntype: outline\ntags: x\n---\n- A\n");
    PostStore::rewriteAsPost("p", false, home);
    EXPECT_EQ(readText(post("p")), "---\ntype: post\ntags: x\npass_state: First Draft\norigin: writer\n---\n- A\n");
    piece("p", "- A\n");
    PostStore::rewriteAsPost("p", false, home);
    EXPECT_EQ(readText(post("p")), "---\ntype: post\npass_state: First Draft\norigin: writer\n---\n- A\n");

    EXPECT_THROW(PostStore::rewriteAsPost("missing", true, home), StoreError);
}

// --- Pass snapshots -------------------------------------------------------------------------------

TEST_F(PieceContents, SnapshotsAreWrittenAndTheNewestWins)
{
    const QString folder = piece("p");
    EXPECT_FALSE(PostStore::latestPassSnapshot("p", home));

    PostStore::writePassSnapshot("p", PassKind::pass2, "second", home);
    auto latest = PostStore::latestPassSnapshot("p", home);
    ASSERT_TRUE(latest);
    EXPECT_EQ(latest->kind, PassKind::pass2);
    EXPECT_EQ(latest->text, "second");

    PostStore::writePassSnapshot("p", PassKind::pass1, "first", home);
    PostStore::writePassSnapshot("p", PassKind::pass1, "first again", home);
    EXPECT_EQ(readText(folder + "/passes/pass-1.md"), "first again");

    setModificationTime(folder + "/passes/pass-1.md", 1'700'000'000);
    setModificationTime(folder + "/passes/pass-2.md", 1'700'000'100);
    EXPECT_EQ(PostStore::latestPassSnapshot("p", home)->kind, PassKind::pass2);

    // The same date: Pass 1 wins.
    setModificationTime(folder + "/passes/pass-2.md", 1'700'000'000);
    latest = PostStore::latestPassSnapshot("p", home);
    ASSERT_TRUE(latest);
    EXPECT_EQ(latest->kind, PassKind::pass1);
    EXPECT_EQ(latest->text, "first again");

    EXPECT_THROW(PostStore::writePassSnapshot("missing", PassKind::pass1, "x", home), StoreError);
    EXPECT_FALSE(PostStore::latestPassSnapshot("missing", home));
}

TEST_F(PieceContents, SymlinkedPassesFolderIsRefused)
{
    const QString folder = piece("p");
    ASSERT_TRUE(QFile::link(outside, folder + "/passes"));
    writeFile(outside + "/pass-1.md", "not a snapshot of this piece");

    EXPECT_THROW(PostStore::writePassSnapshot("p", PassKind::pass2, "text", home), FileError);
    EXPECT_EQ(entries(outside), QStringList{"pass-1.md"});
    EXPECT_FALSE(PostStore::latestPassSnapshot("p", home));
}

// --- Research notes ---------------------------------------------------------------------------------

class ResearchNotes : public PieceContents {
protected:
    const QDateTime day{QDate(2025, 6, 2), QTime(23, 30)};
};

TEST_F(ResearchNotes, NoteLayout)
{
    const QString folder = piece("p");
    struct Case {
        QString title, url, quote, note, text;
    };
    const QList<Case> cases{
        {"Bare", "https://a.example", "", "", "---\nsource: https://a.example\nkept: 20250602\n---\n\n# Bare\n"},
        {"Full\r\nTitle", "https://a.example/\nx", "One line", "Note line 1\nline 2",
         "---\nsource: https://a.example/ x\nkept: 20250602\n---\n\n# Full  Title\n\nNote line 1\nline 2\n\n> One line\n"},
        {"Multi", "u", "first\n\nthird\r\nfourth", "",
         "---\nsource: u\nkept: 20250602\n---\n\n# Multi\n\n> first\n> \n> third\n> fourth\n"},
    };
    for (const Case &c : cases) {
        const QString name = PostStore::writeResearchNote(folder, c.title, c.url, c.quote, c.note, home, day);
        EXPECT_EQ(readText(folder + "/research/" + name), c.text) << c.title.toStdString();
    }
}

TEST_F(ResearchNotes, NamesAreDatedSlugsMadeUnique)
{
    const QString folder = piece("p");
    EXPECT_EQ(PostStore::writeResearchNote(folder, "Café Notes", "u", "", "", home, day), "20250602-cafe-notes.md");
    // The same title by way of post.md lands in the same folder with "-2".
    EXPECT_EQ(PostStore::writeResearchNote(folder + "/post.md", "Café Notes", "u", "", "second", home, day),
              "20250602-cafe-notes-2.md");
    EXPECT_EQ(PostStore::writeResearchNote(folder + "/", "Café Notes", "u", "", "", home, day),
              "20250602-cafe-notes-3.md");
    EXPECT_EQ(entries(folder + "/research").size(), 3);

    // Titles in many-byte scripts are cut to fit the file-name limit.
    const QString han = QStringLiteral("\U00020B9F").repeated(80);
    for (int i = 0; i < 2; ++i) {
        const QString name = PostStore::writeResearchNote(folder, han, "u", "", "", home, day);
        EXPECT_LE(name.toUtf8().size(), 255) << i;
        EXPECT_TRUE(name.startsWith("20250602-\U00020B9F")) << i;
    }
}

TEST_F(ResearchNotes, UnknownPiecesAndLinkedFoldersAreRefused)
{
    const QString folder = piece("p");
    const auto refusal = [&](const QString &piecePath) -> QString {
        try {
            PostStore::writeResearchNote(piecePath, "T", "u", "q", "n", home, day);
        } catch (const PostStore::ResearchNoteError &error) {
            return error.message();
        }
        return "(no refusal)";
    };
    // Only the folder name counts, and only as a piece of this Home.
    EXPECT_EQ(refusal(outside + "/nope/post.md"), "piece not found: " + outside + "/nope/post.md");
    EXPECT_EQ(refusal(folder + "/.."), "piece not found: " + folder + "/..");
    EXPECT_EQ(refusal(".."), "piece not found: ..");
    EXPECT_EQ(refusal(""), "piece not found: ");
    // A folder of that name that holds no post.md is not a piece.
    QDir().mkpath(home + "/projects/Essays/bare");
    EXPECT_EQ(refusal(home + "/projects/Essays/bare"), "piece not found: " + home + "/projects/Essays/bare");
    EXPECT_FALSE(QFileInfo::exists(home + "/projects/Essays/bare/research"));
    // Elsewhere on disk, the note still goes to the Home's piece of that name.
    EXPECT_EQ(refusal(outside + "/p/post.md"), "(no refusal)");
    EXPECT_EQ(entries(folder + "/research").size(), 1);

    const QString linked = piece("linked");
    ASSERT_TRUE(QFile::link(outside, linked + "/research"));
    EXPECT_EQ(refusal(linked), "research path is a symlink: " + linked + "/research");
    EXPECT_EQ(entries(outside), QStringList());
}

// --- Images ---------------------------------------------------------------------------------

class ImageIngest : public PieceContents {
protected:
    void SetUp() override
    {
        PieceContents::SetUp();
        folder = piece("p");
        drops = m_sandbox.path() + "/drops";
        QDir().mkpath(drops);
    }

    QUrl drop(const QString &name, const QByteArray &bytes = "\x89PNG data")
    {
        writeFile(drops + "/" + name, bytes);
        return QUrl::fromLocalFile(drops + "/" + name);
    }

    QString refusal(const QUrl &source)
    {
        try {
            PostStore::ingestImage(source, folder);
        } catch (const PostStore::IngestError &error) {
            return error.message();
        }
        return "(no refusal)";
    }

    QString folder;
    QString drops;
};

TEST_F(ImageIngest, CopiesUnderAFreeSluggedName)
{
    EXPECT_EQ(PostStore::ingestImage(drop("Photo.JPG", "one"), folder), "assets/photo.jpg");
    EXPECT_EQ(PostStore::ingestImage(drop("photo.jpg", "two"), folder), "assets/photo-2.jpg");
    EXPECT_EQ(PostStore::ingestImage(drop("!!!.png"), folder), "assets/untitled.png");
    EXPECT_EQ(PostStore::ingestImage(drop("My Trip.tar.Webp"), folder), "assets/my-triptar.webp");
    EXPECT_EQ(readFile(folder + "/assets/photo.jpg"), "one");
    EXPECT_EQ(readFile(folder + "/assets/photo-2.jpg"), "two");
    // The source stays where it was.
    EXPECT_EQ(readFile(drops + "/Photo.JPG"), "one");
    EXPECT_EQ(entries(folder + "/assets"),
              (QStringList{"my-triptar.webp", "photo-2.jpg", "photo.jpg", "untitled.png"}));
}

TEST_F(ImageIngest, RefusedDropsNameTheFile)
{
    EXPECT_EQ(refusal(drop("notes.txt")), "“notes.txt” isn’t publishable — PNG, JPEG, GIF, WebP, or SVG.");
    const QString longName = QString(45, u'x') + ".txt";
    EXPECT_EQ(refusal(drop(longName)), "“" + QString(40, u'x') + "” isn’t publishable — PNG, JPEG, GIF, WebP, or SVG.");
    EXPECT_EQ(refusal(QUrl::fromLocalFile(drops + "/gone.png")),
              "“gone.png” couldn’t be read — it may have moved since the drag began.");
    EXPECT_EQ(refusal(QUrl("https://example.com/web.png")),
              "“web.png” couldn’t be read — it may have moved since the drag began.");

    const QUrl target = drop("real.png");
    ASSERT_TRUE(QFile::link(drops + "/real.png", drops + "/link.png"));
    EXPECT_EQ(refusal(QUrl::fromLocalFile(drops + "/link.png")), "“link.png” is a link, not an image file.");
    QDir().mkpath(drops + "/shots.png");
    EXPECT_EQ(refusal(QUrl::fromLocalFile(drops + "/shots.png")), "“shots.png” is a folder, not an image.");
    EXPECT_FALSE(foundation::fs::existsNoFollow(folder + "/assets"));
}

TEST_F(ImageIngest, AssetsMustBeAPlainFolder)
{
    const QUrl image = drop("a.png");
    const QString message = "assets/ isn’t a plain folder in this piece.";
    writeFile(folder + "/assets", "a file");
    EXPECT_EQ(refusal(image), message);
    QFile::remove(folder + "/assets");
    ASSERT_TRUE(QFile::link(outside, folder + "/assets"));
    EXPECT_EQ(refusal(image), message);
    EXPECT_EQ(entries(outside), QStringList());

    // The piece folder swapped for a link after the piece was opened, with
    // and without an assets/ inside the link's target.
    QFile::remove(folder + "/assets");
    ASSERT_TRUE(QDir(folder).rename(folder, folder + "-moved"));
    ASSERT_TRUE(QFile::link(outside, folder));
    EXPECT_EQ(refusal(image), message);
    EXPECT_EQ(entries(outside), QStringList());
    QDir().mkpath(outside + "/assets");
    EXPECT_EQ(refusal(image), message);
    EXPECT_EQ(entries(outside + "/assets"), QStringList());
    QFile::remove(folder);
    ASSERT_TRUE(QDir(folder).rename(folder + "-moved", folder));
    EXPECT_EQ(PostStore::ingestImage(image, folder + "/"), "assets/a.png");
}

TEST_F(ImageIngest, AFailedCopyLeavesNothingBehind)
{
    // A FIFO passes the name and kind checks but is no file to copy.
    const QString fifo = drops + "/pipe.png";
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    EXPECT_THROW(PostStore::ingestImage(QUrl::fromLocalFile(fifo), folder), FileError);
    EXPECT_EQ(entries(folder + "/assets"), QStringList());

    // Nothing is ever overwritten: a taken name moves on to the next one.
    writeFile(folder + "/assets/cat.gif", "theirs");
    EXPECT_EQ(PostStore::ingestImage(drop("Cat.gif", "mine"), folder), "assets/cat-2.gif");
    EXPECT_EQ(readFile(folder + "/assets/cat.gif"), "theirs");
}

// A drop of any size is copied in chunks: with a memory limit well below
// the image's size the copy still succeeds, byte for byte.
TEST_F(ImageIngest, ALargeDropIsCopiedWithoutReadingItWhole)
{
    constexpr qint64 kSize = 64 * 1024 * 1024;
    const QString big = drops + "/Big Scan.png";
    {
        // Sparse, with a few marks so that misplaced bytes show.
        const int fd = ::open(QFile::encodeName(big).constData(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, kSize), 0);
        for (const qint64 at : {qint64(0), kSize / 2 + 3, kSize - 4})
            ASSERT_EQ(::pwrite(fd, "MARK", 4, at), 4);
        ::close(fd);
    }

    const int status = inChild([&] {
        // Room for the work around the copy, not for the image itself.
        QFile statusFile(QStringLiteral("/proc/self/status"));
        if (!statusFile.open(QIODevice::ReadOnly))
            return 100;
        qint64 used = -1;
        for (const QByteArray &line : statusFile.readAll().split('\n')) {
            if (line.startsWith("VmSize:"))
                used = line.mid(7).trimmed().split(' ').value(0).toLongLong() * 1024;
        }
        const rlim_t limit = rlim_t(used + kSize / 2);
        const struct rlimit cap {
            limit, limit
        };
        if (used < 0 || ::setrlimit(RLIMIT_AS, &cap) != 0)
            return 101;
        try {
            return PostStore::ingestImage(QUrl::fromLocalFile(big), folder) == "assets/big-scan.png" ? 0 : 102;
        } catch (const FileError &) {
            return 103;
        } catch (const PostStore::IngestError &) {
            return 104;
        } catch (...) {
            return 105;
        }
    });
    ASSERT_EQ(status, 0);

    QFile source(big);
    QFile copy(folder + "/assets/big-scan.png");
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
    EXPECT_EQ(copy.size(), kSize);
    for (qint64 at = 0; at < kSize; at += 1024 * 1024)
        ASSERT_EQ(copy.read(1024 * 1024), source.read(1024 * 1024)) << "at " << at;
    EXPECT_EQ(entries(folder + "/assets"), QStringList{"big-scan.png"});
}

} // namespace
