#include "model/editorsession.h"

#include "foundation/fs.h"
#include "library/piececontents.h"
#include "testutil.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

using model::EditorSession;
using model::SaveState;
using model::SessionTarget;
namespace PostStore = library::PostStore;
namespace fs = foundation::fs;

using testsupport::modeOf;
using testsupport::readFile;
using testsupport::spinUntil;
using testsupport::writeFile;

namespace {

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

const QByteArray kBlock = "---\ntype: post\npass_state: First Draft\norigin: writer\n---\n";

// Every file the atomic write put in place since the fixture began.
QStringList g_written;

void recordStep(fs::detail::Step step, const QString &path)
{
    if (step == fs::detail::Step::rename)
        g_written << path;
}

struct Errors {
    QList<std::optional<QString>> calls;
};

// The two kinds of target a session writes: a piece and an outside file.
struct TargetCase {
    const char *name;
    bool isPiece;
};
constexpr TargetCase kBothTargets[] = {{"piece", true}, {"outside file", false}};

class EditorSessionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        home = m_dir.path() + "/Home";
        ASSERT_TRUE(QDir().mkpath(home + "/projects"));
        g_written.clear();
        fs::detail::setStepObserver(&recordStep);
    }
    void TearDown() override { fs::detail::setStepObserver(nullptr); }

    // projects/Essays/<id>/post.md with the default front matter.
    QString piece(const QString &id, const QString &body)
    {
        const QString folder = home + "/projects/Essays/" + id;
        writeFile(folder + "/post.md", kBlock + body.toUtf8());
        return folder;
    }
    QString postPath(const QString &id) const { return home + "/projects/Essays/" + id + "/post.md"; }
    QString outside(const QString &name, const QByteArray &bytes)
    {
        return writeFile(m_dir.path() + "/outside/" + name, bytes);
    }

    // A session with a debounce short enough to run the loop to, and its
    // error reports collected.
    std::unique_ptr<EditorSession> open(const SessionTarget &target)
    {
        auto session = std::make_unique<EditorSession>(target, 1ms);
        session->setOnError([this](const std::optional<QString> &message) { errors.calls << message; });
        g_written.clear();
        return session;
    }
    std::unique_ptr<EditorSession> openPiece(const QString &id) { return open(SessionTarget::post(id, home)); }
    // A session on the piece name, or on the outside file name.md, holding
    // body; with the path of its file.
    std::pair<QString, std::unique_ptr<EditorSession>> openTarget(bool isPiece, const QString &name,
                                                                  const QByteArray &body)
    {
        if (isPiece) {
            piece(name, QString::fromUtf8(body));
            return {postPath(name), openPiece(name)};
        }
        const QString path = outside(name + ".md", body);
        return {path, open(SessionTarget::externalFile(path))};
    }

    // Runs the loop until the pending autosave has run.
    static void settle(EditorSession &session)
    {
        ASSERT_TRUE(spinUntil([&] { return !session.autosavePending(); }));
    }

    QTemporaryDir m_dir;
    QString home;
    Errors errors;
};

TEST_F(EditorSessionTest, OpensEachKindOfTarget)
{
    const QString essay = piece(u"essay"_s, u"# Essay\n\nBody.\n"_s);
    writeFile(essay + "/.pennora-state.json", R"({"scrollOffset":12.5,"selectionLength":2,"selectionLocation":7})");
    // A folder without post.md: the text fails but the caret file still reads.
    writeFile(home + "/projects/Essays/bare/.pennora-state.json",
              R"({"scrollOffset":0,"selectionLength":0,"selectionLocation":3})");
    const QString crlf = piece(u"crlf"_s, u"# Title\r\n\r\nlone\rcr\r\n"_s);
    const QString marked = outside(u"marked.md"_s, "\xEF\xBB\xBFone\r\ntwo\r\nlone\rcr\n");
    const QString bad = outside(u"bad.md"_s, "caf\xE9\n");
    const QString linked = m_dir.path() + "/outside/link.md";
    ASSERT_TRUE(QFile::link(marked, linked));

    struct Case {
        const char *name;
        SessionTarget target;
        QString text;
        QString folder;
        bool loadFailed;
        std::optional<PostStore::CursorState> cursor;
    };
    const std::vector<Case> cases{
        {"piece", SessionTarget::post(u"essay"_s, home), u"# Essay\n\nBody.\n"_s, essay, false,
         PostStore::CursorState{7, 2, 12.5}},
        {"piece with CR LF", SessionTarget::post(u"crlf"_s, home), u"# Title\n\nlone\rcr\n"_s, crlf, false,
         std::nullopt},
        {"missing piece", SessionTarget::post(u"gone"_s, home), {}, home + "/projects/posts/gone", true, std::nullopt},
        {"piece without post.md",
         SessionTarget::post(u"bare"_s, home),
         {},
         home + "/projects/Essays/bare",
         true,
         PostStore::CursorState{3, 0, 0}},
        {"outside file, mark and CR LF", SessionTarget::externalFile(marked), u"one\ntwo\nlone\rcr\n"_s,
         m_dir.path() + "/outside", false, std::nullopt},
        {"outside file, not UTF-8", SessionTarget::externalFile(bad), {}, m_dir.path() + "/outside", true, std::nullopt},
        {"outside file, symbolic link",
         SessionTarget::externalFile(linked),
         {},
         m_dir.path() + "/outside",
         true,
         std::nullopt},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        auto session = open(c.target);
        EXPECT_EQ(session->text(), c.text);
        EXPECT_EQ(session->loadText(), c.text);
        EXPECT_EQ(session->lastFlushedText(), c.text);
        EXPECT_EQ(session->folderPath(), c.folder);
        EXPECT_EQ(session->loadFailed(), c.loadFailed);
        EXPECT_EQ(session->restoreCursor(), c.cursor);
        EXPECT_EQ(session->saveState(), SaveState::saved);
        EXPECT_EQ(session->loadGeneration(), 0);
        EXPECT_FALSE(session->conflictAlert());

        // Nothing new, or a text that never loaded: no flush writes.
        EXPECT_TRUE(session->flush());
        if (c.loadFailed) {
            session->textDidChange(u"retyped"_s);
            settle(*session);
            EXPECT_TRUE(session->flush());
            EXPECT_FALSE(session->replaceText(u"a card's text"_s));
            EXPECT_EQ(session->text(), u"retyped"_s);
            EXPECT_EQ(session->loadGeneration(), 0);
        }
        EXPECT_EQ(g_written, QStringList());
    }
    EXPECT_TRUE(errors.calls.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(home + "/projects/posts"));
}

TEST_F(EditorSessionTest, APieceWithCarriageReturnsMeetsItsOwnTextOnDisk)
{
    // The body the editor holds has LF only; the same bytes seen again on disk
    // are the same text, not an outside change, and nothing is rewritten.
    piece(u"crlf"_s, u"One\r\ntwo\r\n"_s);
    auto session = openPiece(u"crlf"_s);
    session->textDidChange(u"One\ntwo\n!"_s);
    session->textDidChange(u"One\ntwo\n"_s);
    settle(*session);
    session->diskDidChange(*PostStore::readText(u"crlf"_s, home));
    EXPECT_FALSE(session->diskChangedUnderneath());
    EXPECT_FALSE(session->conflictAlert());
    EXPECT_EQ(session->saveState(), SaveState::saved);
    EXPECT_EQ(g_written, QStringList());
    EXPECT_EQ(readFile(postPath(u"crlf"_s)), kBlock + "One\r\ntwo\r\n");
}

TEST_F(EditorSessionTest, OutsideFileIsWrittenWithLineFeedsNoMarkAndItsMode)
{
    const QString file = outside(u"notes.md"_s, "\xEF\xBB\xBFone\r\ntwo\r\n");
    ASSERT_TRUE(QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
    auto session = open(SessionTarget::externalFile(file));

    session->textDidChange(u"one\ntwo\nthree\n"_s);
    EXPECT_EQ(session->saveState(), SaveState::changed);
    settle(*session);

    EXPECT_EQ(readFile(file), "one\ntwo\nthree\n");
    EXPECT_EQ(modeOf(file), 0640u);
    EXPECT_EQ(session->saveState(), SaveState::saved);
    EXPECT_EQ(errors.calls, QList<std::optional<QString>>{std::nullopt});
}

TEST_F(EditorSessionTest, SaveStateFollowsEditsWritesAndFailures)
{
    const QString folder = piece(u"draft"_s, u"Start.\n"_s);
    auto session = openPiece(u"draft"_s);
    QSignalSpy states(session.get(), &EditorSession::saveStateChanged);

    // Typed and deleted inside one wait: back to saved, and nothing written.
    session->textDidChange(u"Start.!\n"_s);
    EXPECT_EQ(session->saveState(), SaveState::changed);
    session->textDidChange(u"Start.\n"_s);
    EXPECT_EQ(session->saveState(), SaveState::saved);
    settle(*session);
    EXPECT_EQ(g_written, QStringList());
    EXPECT_EQ(states.count(), 2);

    // A write into a folder that went away fails; reverting keeps failed and
    // writes nothing; the next real write clears it.
    const QString moved = home + "/elsewhere";
    ASSERT_TRUE(QDir().rename(folder, moved));
    session->textDidChange(u"Start. More.\n"_s);
    settle(*session);
    EXPECT_EQ(session->saveState(), SaveState::failed);
    ASSERT_EQ(errors.calls.size(), 1);
    ASSERT_TRUE(errors.calls[0].has_value());
    EXPECT_FALSE(errors.calls[0]->isEmpty());
    EXPECT_EQ(session->lastFlushedText(), u"Start.\n"_s);

    session->textDidChange(u"Start.\n"_s);
    EXPECT_EQ(session->saveState(), SaveState::failed);
    EXPECT_TRUE(session->flush());
    EXPECT_EQ(session->saveState(), SaveState::failed);
    EXPECT_EQ(errors.calls.size(), 1);

    ASSERT_TRUE(QDir().rename(moved, folder));
    session->setCursor({4, 1, 30});
    session->textDidChange(u"Start. Again.\n"_s);
    EXPECT_TRUE(session->flush());
    EXPECT_EQ(session->saveState(), SaveState::saved);
    EXPECT_EQ(readFile(postPath(u"draft"_s)), kBlock + "Start. Again.\n");
    EXPECT_EQ(PostStore::readCursorState(u"draft"_s, home), (PostStore::CursorState{4, 1, 30}));
    EXPECT_EQ(errors.calls.last(), std::nullopt);
    EXPECT_FALSE(session->autosavePending());
}

// The disk text against lastFlushedText and the editor's text.
TEST_F(EditorSessionTest, DiskChangeRaisesTheAlertOnlyForAnOutsideText)
{
    struct Case {
        const char *name;
        QString edit; // empty: no unsaved edit
        QString disk;
        bool alert;
    };
    const std::vector<Case> cases{
        {"echo of the last write", {}, u"Saved.\n"_s, false},
        {"echo with unsaved edits", u"Saved. Typing\n"_s, u"Saved.\n"_s, false},
        {"disk holds the editor's text", u"Saved. Typing\n"_s, u"Saved. Typing\n"_s, false},
        {"outside change, nothing unsaved", {}, u"Theirs.\n"_s, true},
        {"outside change under edits", u"Saved. Typing\n"_s, u"Theirs.\n"_s, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        piece(u"p"_s, u"Saved.\n"_s);
        auto session = openPiece(u"p"_s);
        QSignalSpy alerts(session.get(), &EditorSession::conflictAlertChanged);
        if (!c.edit.isEmpty())
            session->textDidChange(c.edit);
        const SaveState before = session->saveState();
        session->diskDidChange(c.disk);
        session->diskDidChange(c.disk);
        EXPECT_EQ(session->conflictAlert(), c.alert);
        EXPECT_EQ(alerts.count(), c.alert ? 1 : 0);
        EXPECT_EQ(session->saveState(), before);
        EXPECT_EQ(session->text(), c.edit.isEmpty() ? u"Saved.\n"_s : c.edit);
        session->cancelAutosave();
    }
}

TEST_F(EditorSessionTest, AutosaveEchoRaisesNothingAndTheEditorsTextIsWrittenAgain)
{
    piece(u"p"_s, u"One.\n"_s);
    auto session = openPiece(u"p"_s);
    session->textDidChange(u"One. Two.\n"_s);
    settle(*session);
    ASSERT_EQ(g_written.size(), 2); // post.md, then the cursor beside it
    session->diskDidChange(*PostStore::readText(u"p"_s, home));
    EXPECT_FALSE(session->conflictAlert());

    // Another program writes exactly the unsaved text: no question asked,
    // and the autosave still writes it.
    session->textDidChange(u"One. Two. Three.\n"_s);
    writeFile(postPath(u"p"_s), kBlock + "One. Two. Three.\n");
    g_written.clear();
    session->diskDidChange(u"One. Two. Three.\n"_s);
    EXPECT_FALSE(session->conflictAlert());
    EXPECT_EQ(session->saveState(), SaveState::changed);
    settle(*session);
    EXPECT_EQ(g_written.value(0), postPath(u"p"_s));
    EXPECT_EQ(session->saveState(), SaveState::saved);
}

// An outside write lands while the autosave waits: the autosave finds it,
// raises the alert and leaves the file alone; typing on never writes; Keep
// Local writes on the next edit.
TEST_F(EditorSessionTest, OutsideWriteBeforeAutosaveIsNeverOverwritten)
{
    for (const TargetCase &c : kBothTargets) {
        SCOPED_TRACE(c.name);
        auto [path, session] = openTarget(c.isPiece, u"race"_s, "Mine.\n");
        const auto writeOutside = [&](const QByteArray &body) { writeFile(path, (c.isPiece ? kBlock : "") + body); };

        session->textDidChange(u"Mine. Typed.\n"_s);
        writeOutside("Theirs.\n");
        settle(*session);
        EXPECT_TRUE(session->conflictAlert());
        EXPECT_EQ(session->saveState(), SaveState::changed);
        EXPECT_EQ(g_written, QStringList());

        for (const QString &typed : {u"Mine. Typed on.\n"_s, u"Mine. Typed on and on.\n"_s}) {
            session->textDidChange(typed);
            settle(*session);
        }
        EXPECT_TRUE(session->diskChangedUnderneath());
        EXPECT_EQ(g_written, QStringList());
        EXPECT_EQ(readFile(path), (c.isPiece ? kBlock : "") + "Theirs.\n");

        session->keepLocal();
        EXPECT_FALSE(session->conflictAlert());
        EXPECT_EQ(session->lastFlushedText(), u"Theirs.\n"_s);
        EXPECT_EQ(session->saveState(), SaveState::changed);
        EXPECT_EQ(g_written, QStringList());

        session->textDidChange(u"Mine, kept.\n"_s);
        settle(*session);
        EXPECT_EQ(readFile(path), (c.isPiece ? kBlock : "") + "Mine, kept.\n");
        EXPECT_EQ(session->saveState(), SaveState::saved);
        EXPECT_FALSE(session->conflictAlert());

        // The library model's guard with nothing to write reads nothing and
        // lets its action go on, whatever the disk holds.
        writeOutside("Theirs again.\n");
        EXPECT_FALSE(session->diskChangedUnderneath());
        EXPECT_FALSE(session->conflictAlert());
    }
}

TEST_F(EditorSessionTest, AFileSavedElsewhereInAnotherEncodingIsNeverOverwritten)
{
    for (const TargetCase &c : kBothTargets) {
        SCOPED_TRACE(c.name);
        auto [path, session] = openTarget(c.isPiece, u"latin"_s, "Mine.\n");
        session->textDidChange(u"Mine. Typed.\n"_s);
        // Latin-1, as another editor might save it.
        const QByteArray theirs = (c.isPiece ? kBlock : QByteArray()) + "caf\xe9 au lait\n";
        writeFile(path, theirs);
        errors.calls.clear();
        EXPECT_FALSE(session->flush());
        EXPECT_EQ(readFile(path), theirs);
        EXPECT_EQ(session->saveState(), SaveState::failed);
        EXPECT_EQ(session->text(), u"Mine. Typed.\n"_s);
        ASSERT_FALSE(errors.calls.isEmpty());
        EXPECT_TRUE(errors.calls.last().has_value());
        if (!c.isPiece) {
            EXPECT_TRUE(errors.calls.last()->contains(u"nothing was overwritten"_s))
                << errors.calls.last()->toStdString();
            // Moved away, the file is written anew.
            ASSERT_TRUE(QFile::remove(path));
            EXPECT_TRUE(session->flush());
            EXPECT_EQ(readFile(path), "Mine. Typed.\n");
        }
    }
}

TEST_F(EditorSessionTest, ReloadTakesTheDiskTextAndItsCursor)
{
    const QString folder = piece(u"p"_s, u"Mine.\n"_s);
    auto session = openPiece(u"p"_s);
    session->textDidChange(u"Mine, typed.\n"_s);
    writeFile(postPath(u"p"_s), kBlock + "Theirs.\n");
    writeFile(folder + "/.pennora-state.json", R"({"scrollOffset":1,"selectionLength":0,"selectionLocation":5})");
    session->diskDidChange(u"Theirs.\n"_s);
    ASSERT_TRUE(session->conflictAlert());
    QSignalSpy generations(session.get(), &EditorSession::loadGenerationChanged);

    session->reloadFromDisk();
    EXPECT_FALSE(session->conflictAlert());
    EXPECT_EQ(session->text(), u"Theirs.\n"_s);
    EXPECT_EQ(session->loadText(), u"Theirs.\n"_s);
    EXPECT_EQ(session->lastFlushedText(), u"Theirs.\n"_s);
    EXPECT_EQ(session->loadGeneration(), 1);
    EXPECT_EQ(generations.count(), 1);
    EXPECT_EQ(session->restoreCursor(), (PostStore::CursorState{5, 0, 1}));
    EXPECT_EQ(session->saveState(), SaveState::saved);
    EXPECT_EQ(errors.calls, QList<std::optional<QString>>{std::nullopt});

    // The autosave still pending finds nothing to write; a second answer
    // without an alert does nothing.
    settle(*session);
    session->reloadFromDisk();
    session->keepLocal();
    EXPECT_EQ(session->loadGeneration(), 1);
    EXPECT_EQ(g_written, QStringList());
}

TEST_F(EditorSessionTest, ReplaceTextWritesAtOnceUnderTheFrontMatter)
{
    piece(u"p"_s, u"Old.\n"_s);
    auto session = openPiece(u"p"_s);
    session->textDidChange(u"Old, typed.\n"_s);
    ASSERT_TRUE(session->autosavePending());

    EXPECT_TRUE(session->replaceText(u"New.\n"_s));
    EXPECT_FALSE(session->autosavePending());
    EXPECT_EQ(session->loadText(), u"New.\n"_s);
    EXPECT_EQ(session->loadGeneration(), 1);
    EXPECT_EQ(session->saveState(), SaveState::saved);
    EXPECT_EQ(readFile(postPath(u"p"_s)), kBlock + "New.\n");
}

// The autosave writes on the writer thread, held there until released.
std::atomic<int> g_heldWrites{0};
std::atomic<bool> g_released{false};

void holdFirstWrite(const QString &temp)
{
    if (temp.contains(u"/.post.md.tmp-"_s) && g_heldWrites++ == 0) {
        while (!g_released)
            std::this_thread::sleep_for(1ms);
    }
}

// While an autosave is on its way to the disk the editor goes on: typing
// waits for nothing, the write's own echo raises no alert, and a flush lets
// it land first and then writes the newer text, which stays.
TEST_F(EditorSessionTest, AnAutosaveInFlightLandsBeforeAnyLaterWrite)
{
    piece(u"p"_s, u"Zero.\n"_s);
    auto session = openPiece(u"p"_s);
    g_heldWrites = 0;
    g_released = false;
    fs::detail::setTempCreatedHook(holdFirstWrite);
    session->textDidChange(u"One.\n"_s);
    ASSERT_TRUE(spinUntil([] { return g_heldWrites > 0; }));
    EXPECT_TRUE(session->autosavePending());
    EXPECT_EQ(session->lastFlushedText(), u"Zero.\n"_s);

    session->textDidChange(u"One. Two.\n"_s);
    testsupport::drainPosted();
    session->diskDidChange(u"One.\n"_s); // read by a watcher just after the write
    EXPECT_FALSE(session->conflictAlert());
    EXPECT_TRUE(session->autosavePending());

    std::thread release([] {
        std::this_thread::sleep_for(50ms);
        g_released = true;
    });
    EXPECT_TRUE(session->flush());
    release.join();
    fs::detail::setTempCreatedHook(nullptr);
    EXPECT_EQ(readFile(postPath(u"p"_s)), kBlock + "One. Two.\n");
    EXPECT_EQ(session->lastFlushedText(), u"One. Two.\n"_s);
    EXPECT_EQ(session->saveState(), SaveState::saved);
    EXPECT_FALSE(session->autosavePending());
    EXPECT_EQ(g_written.filter(u"post.md"_s).size(), 2);
    // Nothing older follows it to the disk.
    testsupport::drainPosted();
    EXPECT_EQ(readFile(postPath(u"p"_s)), kBlock + "One. Two.\n");
    EXPECT_EQ(errors.calls, (QList<std::optional<QString>>{std::nullopt, std::nullopt}));
}

// For a quit that cannot wait: the text goes beside its file under a new
// name, the file itself untouched, a taken name never replaced.
TEST_F(EditorSessionTest, AConflictCopyIsWrittenBesideTheFileUnderANewName)
{
    const QDateTime now(QDate(2024, 3, 5), QTime(7, 8, 9));
    for (const TargetCase &c : kBothTargets) {
        SCOPED_TRACE(c.name);
        auto [path, session] = openTarget(c.isPiece, u"notes"_s, "Mine.\n");
        session->textDidChange(u"Mine, typed on.\n"_s);
        const QByteArray theirs = (c.isPiece ? kBlock : "") + "Theirs.\n";
        writeFile(path, theirs);
        ASSERT_TRUE(session->diskChangedUnderneath());
        EXPECT_TRUE(session->holdsUnsavedText());

        const QString folder = QFileInfo(path).absolutePath();
        const QString stem = c.isPiece ? u"post"_s : u"notes"_s;
        const QString first = folder + u'/' + stem + u".conflict-20240305-070809.md"_s;
        const QString second = folder + u'/' + stem + u".conflict-20240305-070809-2.md"_s;
        EXPECT_EQ(session->writeConflictCopy(now), first);
        EXPECT_EQ(session->writeConflictCopy(now), second);
        EXPECT_EQ(readFile(first), "Mine, typed on.\n");
        EXPECT_EQ(readFile(second), "Mine, typed on.\n");
        EXPECT_EQ(readFile(path), theirs);
        EXPECT_TRUE(session->conflictAlert());
    }
}

// A flush whose swap finds that another program saved the file since it was
// read puts that save back, keeps the editor's text, and raises the alert;
// a change of the front matter alone is no outside save.
TEST_F(EditorSessionTest, AnOutsideSaveDuringTheWriteIsPutBackAndAsked)
{
    struct Case {
        const char *name;
        bool isPiece;
        QByteArray meanwhile; // saved between the write's read and its swap
        bool conflict;
        QByteArray after;
    };
    const QByteArray published = "---\ntype: post\npass_state: First Draft\norigin: writer\nmicropub_url: "
                                 "https://example.org/1\n---\n";
    const Case cases[] = {
        {"piece", true, kBlock + "Theirs.\n", true, kBlock + "Theirs.\n"},
        {"outside file", false, "Theirs.\n", true, "Theirs.\n"},
        {"piece, front matter only", true, published + "Mine.\n", false, published + "Mine, typed on.\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        auto [path, session] = openTarget(c.isPiece, u"swap"_s, "Mine.\n");
        session->textDidChange(u"Mine, typed on.\n"_s);
        static QString s_path;
        static QByteArray s_meanwhile;
        s_path = path;
        s_meanwhile = c.meanwhile;
        fs::detail::setTempCreatedHook([](const QString &temp) {
            if (temp.startsWith(QFileInfo(s_path).absolutePath() + u"/."_s + QFileInfo(s_path).fileName())
                && !s_meanwhile.isEmpty()) {
                writeFile(s_path + u".theirs"_s, std::exchange(s_meanwhile, {}));
                ::rename(QFile::encodeName(s_path + u".theirs"_s).constData(), QFile::encodeName(s_path).constData());
            }
        });
        errors.calls.clear();
        const bool flushed = session->flush();
        fs::detail::setTempCreatedHook(nullptr);
        EXPECT_EQ(flushed, !c.conflict);
        EXPECT_EQ(session->conflictAlert(), c.conflict);
        EXPECT_EQ(readFile(path), c.after);
        EXPECT_EQ(session->text(), u"Mine, typed on.\n"_s);
        EXPECT_EQ(session->saveState(), c.conflict ? SaveState::changed : SaveState::saved);
        EXPECT_EQ(errors.calls.size(), 1);
        EXPECT_EQ(errors.calls.value(0).has_value(), c.conflict);
        const QStringList left = QDir(QFileInfo(path).absolutePath()).entryList(QDir::Files | QDir::Hidden);
        EXPECT_TRUE(left.filter(u".tmp-"_s).isEmpty()) << left.join(u' ').toStdString();
    }
}

TEST_F(EditorSessionTest, SettersNotifyOnlyOnARealChange)
{
    piece(u"p"_s, u"Text.\n"_s);
    auto session = openPiece(u"p"_s);
    QSignalSpy texts(session.get(), &EditorSession::textChanged);
    QSignalSpy cursors(session.get(), &EditorSession::cursorChanged);
    QSignalSpy restores(session.get(), &EditorSession::restoreCursorChanged);
    QSignalSpy actions(session.get(), &EditorSession::onErrorChanged);
    QSignalSpy pending(session.get(), &EditorSession::autosavePendingChanged);

    session->textDidChange(u"Text.\n"_s);
    session->textDidChange(u"Text!\n"_s);
    session->textDidChange(u"Text!\n"_s);
    session->setCursor({1, 2, 3});
    session->setCursor({1, 2, 3});
    session->setRestoreCursor(std::nullopt);
    session->setOnError({});
    session->setOnError({});
    session->cancelAutosave();

    EXPECT_EQ(texts.count(), 1);
    EXPECT_EQ(cursors.count(), 1);
    EXPECT_EQ(restores.count(), 0);
    EXPECT_EQ(actions.count(), 2);
    EXPECT_EQ(pending.count(), 2);
}

} // namespace
