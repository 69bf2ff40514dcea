// Passes and Blind Reads run from the library model, on a mentor whose
// engines are in-memory fakes.
#include "model/postsmodel.h"

#include "engine/mentorsessionmodel.h"
#include "engine/passinstructions.h"
#include "faketransport.h"
#include "library/frontmatter.h"
#include "library/piececontents.h"
#include "library/postscan.h"
#include "library/poststore.h"
#include "review/fixcardstore.h"
#include "review/learnings.h"
#include "testutil.h"

#include <QCoro/QCoroTask>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QUrl>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

namespace {

using engine::EngineHost;
using engine::MentorSessionModel;
using engine::SessionRow;
using foundation::JSONValue;
using library::PassKind;
using library::Post;
using model::PostsModel;
namespace PostStore = library::PostStore;
using testsupport::FakeTransport;
using testsupport::Running;
using testsupport::spinUntil;

JSONValue json(const char *text)
{
    return JSONValue::parse(text).value();
}

JSONValue stopReason(const QString &reason)
{
    return JSONValue::Object{{"stopReason", reason}};
}

// Settings with one provider on both Pass profiles and no key for it.
class KeylessSettings : public profiles::SettingsWriting {
public:
    explicit KeylessSettings(profiles::ModelProvider provider) : m_provider(provider) {}
    QCoro::Task<void> writeModel(profiles::ProfileSurface, profiles::SurfaceModelConfig,
                                 std::optional<QString>) override
    {
        co_return;
    }
    QCoro::Task<void> writeProviderKey(profiles::ModelProvider, profiles::ProviderKeyConfig,
                                       QList<profiles::ProfileSurface>) override
    {
        co_return;
    }
    QCoro::Task<std::optional<StoredModel>> readModel(profiles::ProfileSurface) override
    {
        co_return StoredModel{{m_provider, m_provider.defaultModel(), std::nullopt}, std::nullopt};
    }
    QCoro::Task<std::optional<QString>> readProviderKey(profiles::ModelProvider) override { co_return std::nullopt; }

private:
    profiles::ModelProvider m_provider;
};

class PassTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        openLibrary();
        swim = piece("# Swim\n\nThe water was cold.\n");
        makeMentor();
        ASSERT_TRUE(Running(testsupport::ended(mentor->start())).value());
        ASSERT_EQ(mentor->phase(), MentorSessionModel::Phase::ready());
    }
    void TearDown() override
    {
        model.settleBackgroundWork();
        mentor.reset();
        testsupport::drainPosted();
    }

    // A writer's first draft in the project Essays.
    Post piece(const QString &text) const
    {
        return PostStore::createPiece(text, "Essays", Post::ContentType::post, Post::Origin::writer, home);
    }
    // home with walk in it, open.
    void openLibrary()
    {
        QDir().mkpath(home);
        walk = piece("# Walk\n\nWe walked quite far.\n");
        model.startWatching(home);
        QCoro::waitFor(model.rescan());
        model.selectPiece(walk.id);
    }

    void makeMentor()
    {
        auto host = std::make_unique<EngineHost>();
        host->recordedVersionProvider = [] { return std::optional<QString>(); };
        // The first engine of a mentor is its chat engine; the one-shot
        // engines after it answer only the handshake by themselves.
        bool chatMade = false;
        host->makeTransport = [this, chatMade](const QString &profile) mutable {
            FakeTransport::Script script;
            if (!chatMade) {
                script.answers.insert("session/new", json(R"({"sessionId":"mentor-1"})"));
                script.answers.insert("session/load", json(R"({"sessionId":"mentor-1"})"));
            }
            made.push_back(std::make_shared<FakeTransport>(profile, script));
            if (!chatMade)
                chat = made.back();
            chatMade = true;
            return made.back();
        };
        mentor =
            std::make_unique<MentorSessionModel>(std::move(host), QStringLiteral("hermes"), dir.filePath("roster"));
        mentor->setCwdProvider([] { return QStringLiteral("/"); });
    }

    // The one-shot engine once the run has asked it for a session, which it
    // answers; then the prompt it was sent.
    FakeTransport &passEngine()
    {
        EXPECT_TRUE(spinUntil([&] {
            return mentor->host().oneShot() && made.back()->answer("session/new", json(R"({"sessionId":"p-1"})"));
        }));
        EXPECT_TRUE(spinUntil([&] { return made.back()->waiting("session/prompt") == 1; }));
        return *made.back();
    }
    static QString promptText(const FakeTransport &engine)
    {
        return engine.requests.back().params->member("prompt")->toArray().value(0).member("text")->toString();
    }

    QString folder(const Post &post) const { return *PostStore::folderPath(post.id, home); }
    QString postFile(const Post &post) const { return QDir(folder(post)).filePath("post.md"); }
    QString snapshotFile(const Post &post, int n) const
    {
        return QDir(folder(post)).filePath(QStringLiteral("passes/pass-%1.md").arg(n));
    }
    QString passState(const Post &post) const { return PostStore::readPiece(post.id, home).passState.rawValue(); }
    qint64 passCount() const { return review::LearningPassClock::readPassCounts(home).value("posts"); }
    QStringList rows() const
    {
        QStringList out;
        if (const MentorSessionModel::SessionTranscript *transcript = mentor->transcript("pass"))
            for (const SessionRow &row : transcript->rows)
                if (const auto *text = std::get_if<SessionRow::Text>(&row.content))
                    out << text->text;
        return out;
    }

    QTemporaryDir dir;
    QString home = dir.path() + "/Home";
    Post walk;
    Post swim;
    PostsModel model;
    std::vector<std::shared_ptr<FakeTransport>> made;
    std::shared_ptr<FakeTransport> chat;
    std::unique_ptr<MentorSessionModel> mentor;
};

TEST_F(PassTest, RefusalsNameTheirReasonAndTouchNothing)
{
    const QString notSaved = "Open a saved post to run a pass.";
    std::optional<Running<engine::TurnOutcome>> chatTurn;
    struct Case {
        const char *name;
        std::function<void()> setUp;
        QString message;
    };
    const std::vector<Case> cases{
        {"a draft is open", [&] { model.newPostDraft(); }, notSaved},
        {"an outside file is open",
         [&] {
             const QString file = dir.path() + "/outside.md";
             testsupport::writeFile(file, "# Outside\n");
             model.openExternalFile(QUrl::fromLocalFile(file));
             ASSERT_NE(model.externalSession(), nullptr);
         },
         notSaved},
        {"an outline the editor would lose lines of",
         [&] {
             const Post outline = PostStore::createPiece("- One\nstray prose\n- Two\n", "Essays",
                                                         Post::ContentType::outline, Post::Origin::writer, home);
             QCoro::waitFor(model.rescan());
             model.selectPiece(outline.id);
             ASSERT_EQ(model.outlineGuardPieceID(), outline.id);
         },
         notSaved},
        {"the mentor is not ready", [&] { makeMentor(); },
         "The mentor engine isn't ready — wait for it or restart it."},
        {"the mentor streams a chat turn",
         [&] {
             chatTurn.emplace(mentor->send("hello", std::nullopt));
             ASSERT_TRUE(spinUntil([&] { return chat->waiting("session/prompt") == 1; }));
         },
         "The mentor is mid-reply — stop it or wait."},
        {"Pass 2's provider has no key",
         [&] {
             mentor->setPassReadinessWriter(std::make_shared<KeylessSettings>(profiles::ModelProvider::zai));
             QCoro::waitFor(mentor->refreshPassReadiness());
         },
         "Pass 2 needs a z.ai API key — add it in Settings → Provider Keys."},
        // Last: the conflict stays on the open piece.
        {"the open text cannot be saved",
         [&] {
             model.session()->textDidChange("# Walk\n\nMine.\n");
             testsupport::writeFile(postFile(walk), "---\ntype: post\n---\n# Walk\n\nTheirs.\n");
         },
         "This piece changed on disk underneath you — answer the reload question first."},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        model.selectPiece(walk.id);
        c.setUp();
        const std::size_t engines = made.size();
        Running<bool> run(testsupport::ended(model.runPass(PassKind::pass2, *mentor)));
        EXPECT_TRUE(run.done());
        EXPECT_EQ(model.lastError(), c.message);
        EXPECT_EQ(model.runningPass(), std::nullopt);
        EXPECT_EQ(made.size(), engines);
        EXPECT_FALSE(QFileInfo::exists(QDir(folder(walk)).filePath("passes")));
        EXPECT_FALSE(QFileInfo::exists(QDir(folder(walk)).filePath("cards")));
        EXPECT_EQ(passState(walk), "First Draft");
        if (chatTurn) {
            ASSERT_TRUE(chat->answer("session/prompt", stopReason("end_turn")));
            chatTurn->wait();
            chatTurn.reset();
        }
        makeMentor();
        ASSERT_TRUE(Running(testsupport::ended(mentor->start())).value());
        ASSERT_EQ(mentor->phase(), MentorSessionModel::Phase::ready());
    }
}

TEST_F(PassTest, APassAnsweredByTheEngineAdvancesThePieceItStartedOn)
{
    // Readiness was never evaluated (unknown): the Pass runs.
    ASSERT_EQ(mentor->readiness(PassKind::pass1), engine::PassReadiness::unknown());
    const QString typed = "# Walk\n\nWe walked — quite far — and it was, in the realm of walks, long.\n";
    model.session()->textDidChange(typed);
    Running<bool> run(testsupport::ended(model.runPass(PassKind::pass1, *mentor)));
    EXPECT_EQ(model.runningPass(), PassKind::pass1);
    // The typed text was saved first, and is what the Pass starts from.
    EXPECT_EQ(PostStore::readText(walk.id, home), typed);
    EXPECT_EQ(testsupport::readText(snapshotFile(walk, 1)), typed);
    const library::Frontmatter front =
        library::PostFrontmatter::parseFrontmatter(testsupport::readText(postFile(walk)));
    EXPECT_TRUE(front.contains("stats_burstiness"));
    EXPECT_FALSE(review::FixCardStore::cardsForPiece(folder(walk)).isEmpty()) << "the lint's cards";

    FakeTransport &engine = passEngine();
    EXPECT_EQ(engine.profile, "pennora-pass1");
    EXPECT_EQ(promptText(engine), engine::instructionText(PassKind::pass1, QUrl::fromLocalFile(postFile(walk)), false));
    EXPECT_EQ(mentor->activeEntry()->name, "Pass 1 · Walk");
    // Refused while it runs, even though the mentor streams too.
    for (const auto &second : {std::function([&] { return model.runPass(PassKind::pass2, *mentor); }),
                               std::function([&] { return model.runBlindRead(*mentor); })}) {
        Running<bool> refused(testsupport::ended(second()));
        EXPECT_TRUE(refused.done());
        EXPECT_EQ(model.lastError(), "A pass is already running.");
        EXPECT_FALSE(model.runningBlindRead());
    }
    model.selectPiece(swim.id); // another piece is open when the Pass ends
    ASSERT_TRUE(engine.answer("session/prompt", stopReason("end_turn")));
    run.wait();

    EXPECT_EQ(model.lastError(), std::nullopt);
    EXPECT_EQ(model.runningPass(), std::nullopt);
    EXPECT_EQ(passState(walk), "Pass-1 Done");
    EXPECT_EQ(passState(swim), "First Draft");
    EXPECT_EQ(passCount(), 1);
    EXPECT_TRUE(spinUntil([&] {
        return std::any_of(model.posts().begin(), model.posts().end(),
                           [&](const Post &p) { return p.id == walk.id && p.passState == Post::PassState::pass1Done; });
    }));
}

TEST_F(PassTest, ASnapshotThatCannotBeWrittenStopsThePassBeforeAnythingElse)
{
    // passes/ is a link: the store refuses to write through it.
    ASSERT_TRUE(QFile::link(dir.path(), QDir(folder(walk)).filePath("passes")));
    const QByteArray before = testsupport::readFile(postFile(walk));
    Running<bool> run(testsupport::ended(model.runPass(PassKind::pass1, *mentor)));
    EXPECT_TRUE(run.done());
    ASSERT_TRUE(model.lastError().has_value());
    EXPECT_TRUE(model.lastError()->contains("passes")) << model.lastError()->toStdString();
    EXPECT_EQ(model.runningPass(), std::nullopt);
    EXPECT_EQ(testsupport::readFile(postFile(walk)), before) << "no statistics";
    EXPECT_FALSE(QFileInfo::exists(QDir(folder(walk)).filePath("cards")));
    EXPECT_EQ(mentor->host().oneShot(), nullptr);
}

TEST_F(PassTest, AnUnansweredTurnKeepsItsFilesButAdvancesNothing)
{
    struct Case {
        const char *name;
        std::function<void(FakeTransport &)> end;
    };
    const std::vector<Case> cases{
        {"refused", [](FakeTransport &e) { ASSERT_TRUE(e.answer("session/prompt", stopReason("refusal"))); }},
        {"cancelled", [](FakeTransport &e) { ASSERT_TRUE(e.answer("session/prompt", stopReason("cancelled"))); }},
        {"failed", [](FakeTransport &e) { ASSERT_TRUE(e.fail("session/prompt", "-32603: lost")); }},
    };
    int n = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QString text = QStringLiteral("# Walk\n\nVersion %1.\n").arg(++n);
        model.session()->textDidChange(text);
        Running<bool> run(testsupport::ended(model.runPass(PassKind::pass2, *mentor)));
        c.end(passEngine());
        run.wait();
        EXPECT_EQ(model.runningPass(), std::nullopt);
        EXPECT_EQ(model.lastError(), std::nullopt);
        EXPECT_EQ(testsupport::readText(snapshotFile(walk, 2)), text);
        EXPECT_EQ(passState(walk), "First Draft");
        EXPECT_EQ(passCount(), 0);
    }
}

TEST_F(PassTest, TheLibraryOrThePieceChangingDuringThePassStopsTheAdvance)
{
    const QString other = dir.path() + "/Other";
    struct Case {
        const char *name;
        std::function<void()> meanwhile;
        std::optional<QString> message;
    };
    const std::vector<Case> cases{
        {"Home changed", [&] { model.startWatching(other); }, PostsModel::homeChangedDuringPassMessage},
        {"Home changed and back",
         [&] {
             model.startWatching(other);
             model.startWatching(home);
         },
         std::nullopt},
        {"piece retitled", [&] { model.renamePiece(walk, "Long Walk"); }, PostsModel::pieceChangedDuringPassMessage},
        {"piece moved",
         [&] {
             ASSERT_EQ(model.createProject("Elsewhere"), std::nullopt);
             model.movePiece(walk, "Elsewhere");
             ASSERT_EQ(model.lastError(), std::nullopt);
         },
         PostsModel::pieceChangedDuringPassMessage},
        {"another piece took its folder",
         [&] {
             ASSERT_TRUE(QDir().rename(folder(walk), dir.filePath("aside")));
             ASSERT_EQ(piece("# Walk\n\nNew.\n").id, walk.id);
         },
         PostsModel::pieceChangedDuringPassMessage},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir fresh;
        home = fresh.path() + "/Home";
        openLibrary();
        Running<bool> run(testsupport::ended(model.runPass(PassKind::pass1, *mentor)));
        FakeTransport &engine = passEngine();
        c.meanwhile();
        ASSERT_TRUE(engine.answer("session/prompt", stopReason("end_turn")));
        run.wait();
        EXPECT_EQ(model.lastError(), c.message);
        EXPECT_EQ(model.runningPass(), std::nullopt);
        qsizetype advanced = 0;
        for (const Post &post : library::PostScan::scanLibrary(home))
            advanced += post.passState == Post::PassState::pass1Done;
        EXPECT_EQ(advanced, c.message ? 0 : 1);
        EXPECT_EQ(passCount(), c.message ? 0 : 1);
    }
}

TEST_F(PassTest, ABlindReadNeedsASnapshotAndAnEditSinceIt)
{
    struct Case {
        const char *name;
        std::optional<QString> snapshot;
        QString message;
    };
    const QString text = "# Walk\n\nWe walked quite far.\n";
    const std::vector<Case> cases{
        {"no snapshot", std::nullopt, "No Pass snapshot yet — run a Pass first."},
        {"no edits", text,
         "No edits since the Pass started — the Blind Read judges the current document against the Pass-start "
         "snapshot."},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        if (c.snapshot)
            PostStore::writePassSnapshot(walk.id, PassKind::pass1, *c.snapshot, home);
        ASSERT_EQ(model.session()->text(), text);
        const std::size_t engines = made.size();
        Running<bool> run(testsupport::ended(model.runBlindRead(*mentor)));
        EXPECT_TRUE(run.done());
        EXPECT_EQ(model.lastError(), c.message);
        EXPECT_FALSE(model.runningBlindRead());
        EXPECT_EQ(made.size(), engines);
    }
}

TEST_F(PassTest, TheBlindReadsLineNamesTheVersionsInThePromptsOrder)
{
    struct Case {
        const char *name;
        bool coin;
        bool bothSnapshots; // Pass 2's is then the later one
        QString line;
    };
    const std::vector<Case> cases{
        {"heads", true, false, "A = Pass 1 start snapshot · B = current document"},
        {"tails", false, false, "A = current document · B = Pass 1 start snapshot"},
        {"the later of two snapshots", true, true, "A = Pass 2 start snapshot · B = current document"},
    };
    const QString current = "# Walk\n\nWe walked, edited.\n";
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        PostStore::writePassSnapshot(walk.id, PassKind::pass1, "Pass 1 text.\n", home);
        QFile(snapshotFile(walk, 1))
            .setFileTime(QDateTime::currentDateTime().addSecs(-60), QFileDevice::FileModificationTime);
        if (c.bothSnapshots)
            PostStore::writePassSnapshot(walk.id, PassKind::pass2, "Pass 2 text.\n", home);
        const QString snapshot = c.bothSnapshots ? "Pass 2 text.\n" : "Pass 1 text.\n";
        model.blindReadCoin = [&] { return c.coin; };
        model.session()->textDidChange(current);
        model.setLastError("stale");
        const QStringList passesBefore = testsupport::entries(QDir(folder(walk)).filePath("passes"));

        Running<bool> run(testsupport::ended(model.runBlindRead(*mentor)));
        EXPECT_TRUE(model.runningBlindRead());
        EXPECT_EQ(model.lastError(), std::nullopt) << "a run that starts clears the last failure";
        Running<bool> refused(testsupport::ended(model.runPass(PassKind::pass1, *mentor)));
        EXPECT_EQ(model.lastError(), "A Blind Read is already running.");
        FakeTransport &engine = passEngine();
        EXPECT_EQ(engine.profile, "pennora");
        EXPECT_EQ(promptText(engine), engine::blindReadPrompt(snapshot, current, c.coin));
        ASSERT_TRUE(engine.answer("session/prompt", stopReason("end_turn")));
        run.wait();

        EXPECT_FALSE(model.runningBlindRead());
        EXPECT_EQ(model.lastError(), "A Blind Read is already running.") << "the run's end leaves it";
        EXPECT_EQ(rows(), (QStringList{"Blind Read", c.line}));
        EXPECT_EQ(mentor->activeEntry()->name, "Blind Read · Walk");
        // It writes nothing of its own; the edit was saved before it started.
        EXPECT_EQ(PostStore::readText(walk.id, home), current);
        EXPECT_EQ(testsupport::entries(QDir(folder(walk)).filePath("passes")), passesBefore);
        EXPECT_EQ(testsupport::readText(snapshotFile(walk, 1)), "Pass 1 text.\n");
        EXPECT_EQ(passState(walk), "First Draft");
        QFile::remove(snapshotFile(walk, 2));
    }
}

TEST(PassCoin, TheSystemCoinFallsBothWaysAboutEvenly)
{
    PostsModel model;
    int heads = 0;
    for (int i = 0; i < 2000; ++i)
        heads += model.blindReadCoin() ? 1 : 0;
    EXPECT_GT(heads, 800);
    EXPECT_LT(heads, 1200);
}

} // namespace
