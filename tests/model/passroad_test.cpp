// The road of one Pass, end to end: the library model hands the open piece to
// the mentor, whose one-shot engine (the stand-in) calls the real tool server
// (`pennora --serve-mcp`) for the piece named in the instruction; the cards
// land beside the piece, and the model advances it and shows them.
#include "model/postsmodel.h"

#include "engine/mentorsessionmodel.h"
#include "fakehermesscenario.h"
#include "faketransport.h"
#include "library/frontmatter.h"
#include "library/piececontents.h"
#include "library/poststore.h"
#include "review/fixcardstore.h"
#include "review/learnings.h"
#include "testenv.h"
#include "testutil.h"

#include <QCoro/QCoroTask>
#include <QDir>
#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

using engine::EngineHost;
using engine::MentorSessionModel;
using engine::SessionEntry;
using engine::SessionRow;
using library::PassKind;
using library::Post;
using model::PostsModel;
namespace PostStore = library::PostStore;
using Card = review::FixCardStore::StoredFixCard;
using testsupport::FakeHermesScenario;
using testsupport::Running;
using testsupport::spinUntil;

QJsonObject answer(const QJsonObject &result, const QJsonArray &updates = {})
{
    return QJsonObject{{"result", result}, {"updates", updates}};
}

QJsonObject stop(const QString &reason)
{
    return QJsonObject{{"stopReason", reason}};
}

QJsonObject engineSession(QJsonObject answers, const QJsonArray &steps = {})
{
    answers.insert("initialize", answer(QJsonObject{{"agentInfo", QJsonObject{{"version", "0.5.1"}}}}));
    return QJsonObject{{"answers", answers}, {"steps", steps}};
}

QJsonObject chunk(const QString &session, const QString &text)
{
    return QJsonObject{{"sessionId", session},
                       {"update", QJsonObject{{"sessionUpdate", "agent_message_chunk"},
                                              {"content", QJsonObject{{"type", "text"}, {"text", text}}}}}};
}

// What the Pass engine does while it works: looks up the learnings, files one
// card on the piece named in the instruction, and says so.
QJsonObject workingAnswer(const QString &reason)
{
    const QJsonObject card{{"pattern", "Filler"},  {"problem", "Hedges"}, {"fix", "Cut it"},
                           {"lane", "mechanical"}, {"emitter", "engine"}, {"anchor", QJsonObject{{"quote", "quite"}}}};
    return QJsonObject{{"updates", QJsonArray{chunk("p-1", "Cut the hedges.")}},
                       {"toolCalls", QJsonArray{QJsonObject{{"tool", "query_learnings"}},
                                                QJsonObject{{"tool", "submit_fix_cards"},
                                                            {"title", "File cards"},
                                                            {"arguments", QJsonObject{{"cards", QJsonArray{card}}}}}}},
                       {"result", stop(reason)}};
}

QString describe(const SessionRow &row)
{
    static const char *const speakers[] = {"agent", "user", "system"};
    static const char *const notices[] = {"refused", "interrupted", "connectionLost", "kickoff", "failed", "plain"};
    if (const auto *text = std::get_if<SessionRow::Text>(&row.content))
        return QStringLiteral("%1 %2: %3").arg(speakers[int(text->speaker)], notices[int(text->notice)], text->text);
    if (const auto *card = std::get_if<review::FixCard>(&row.content))
        return "card: " + card->pattern;
    if (const auto *raw = std::get_if<SessionRow::Raw>(&row.content))
        return "raw " + raw->kind;
    return "other";
}

// A library with one piece open and a mentor whose engines are the stand-in,
// its tool calls going to the real tool server.
class PassRoad {
public:
    explicit PassRoad(const QJsonObject &passSession)
        : fake(QJsonObject{
            {"profiles",
             QJsonObject{{"pennora", engineSession({{"session/load", answer(QJsonObject{{"sessionId", "s-old"}})},
                                                    {"session/new", answer(QJsonObject{{"sessionId", "b-1"}})},
                                                    {"session/prompt", answer(stop("end_turn"))}})},
                         {"pennora-pass1", passSession}}}})
    {
        qputenv("FAKE_HERMES_PENNORA", testsupport::pennoraBinary().toLocal8Bit());
        QDir().mkpath(home);
        walk = PostStore::createPiece("# Walk\n\nWe walked quite far.\n", "Essays", Post::ContentType::post,
                                      Post::Origin::writer, home);
        model.startWatching(home);
        QCoro::waitFor(model.rescan());
        model.selectPiece(walk.id);

        // A chat session to come back to, so the chat engine never makes the
        // session id the Blind Read's engine hands out.
        MentorSessionModel::saveRoster({{"s-old", "Walk", QString("Walk"), QDateTime::currentDateTimeUtc()}},
                                       dir.filePath("roster"));
        auto host = std::make_unique<EngineHost>();
        host->recordedVersionProvider = [] { return std::optional<QString>(); };
        mentor = std::make_unique<MentorSessionModel>(std::move(host), testsupport::fakeHermesBinary(),
                                                      dir.filePath("roster"));
        mentor->setCwdProvider([] { return QStringLiteral("/"); });
        QCoro::waitFor(mentor->start());
    }
    ~PassRoad()
    {
        mentor.reset();
        qunsetenv("FAKE_HERMES_PENNORA");
    }

    QString folder() const { return QDir(home).filePath("projects/Essays/" + walk.id); }
    QString postFile() const { return QDir(folder()).filePath("post.md"); }
    library::Frontmatter frontmatter() const
    {
        return library::PostFrontmatter::parseFrontmatter(testsupport::readText(postFile()));
    }
    qint64 passCount() const { return review::LearningPassClock::readPassCounts(home).value("posts"); }
    QStringList cardPatterns(Card::Emitter emitter) const
    {
        QStringList out;
        for (const Card &card : review::FixCardStore::cardsForPiece(folder()))
            if (card.emitter == emitter)
                out << card.pattern;
        return out;
    }
    QStringList rows() const
    {
        QStringList out;
        if (const MentorSessionModel::SessionTranscript *transcript = mentor->transcript("pass"))
            for (const SessionRow &row : transcript->rows)
                out << describe(row);
        return out;
    }
    // The text of the last prompt a stand-in of profile read.
    QString lastPrompt(const QString &profile) const
    {
        QString text;
        for (const QJsonObject &message : fake.receivedMessages(profile))
            if (message.value("method") == "session/prompt")
                text = message.value("params")
                           .toObject()
                           .value("prompt")
                           .toArray()
                           .at(0)
                           .toObject()
                           .value("text")
                           .toString();
        return text;
    }

    QTemporaryDir dir;
    QString home = dir.path() + "/Home";
    FakeHermesScenario fake;
    Post walk;
    PostsModel model;
    std::unique_ptr<MentorSessionModel> mentor;
};

QJsonObject passEngine(const QJsonObject &promptAnswer, const QJsonArray &steps = {})
{
    return engineSession({{"session/new", answer(QJsonObject{{"sessionId", "p-1"}})}, {"session/prompt", promptAnswer}},
                         steps);
}

TEST(PassRoad, APassFilesCardsThroughTheToolServerAndAdvancesThePiece)
{
    PassRoad road(passEngine(workingAnswer("end_turn")));
    ASSERT_EQ(road.mentor->phase(), MentorSessionModel::Phase::ready());
    // Two em dashes over the lint's budget, and a stock phrase.
    const QString typed = "# Walk\n\nWe walked — quite far — in the realm of hills — and back — slowly. The path "
                          "was long and the light went early. Nobody spoke.\n\nAt home we slept.\n";
    road.model.session()->textDidChange(typed);

    QCoro::waitFor(road.model.runPass(PassKind::pass1, *road.mentor));

    EXPECT_EQ(road.model.lastError(), std::nullopt);
    EXPECT_EQ(road.model.runningPass(), std::nullopt);
    EXPECT_EQ(testsupport::readText(QDir(road.folder()).filePath("passes/pass-1.md")), typed);
    const library::Frontmatter front = road.frontmatter();
    for (const char *key :
         {"stats_burstiness", "stats_type_token_ratio", "stats_sentence_variation", "stats_trigram_repetition"})
        EXPECT_TRUE(QRegularExpression(R"(^-?\d+\.\d{3}$)").match(front.value(key)).hasMatch())
            << key << ": " << front.value(key).toStdString();
    EXPECT_EQ(front.value("pass_state"), "Pass-1 Done");
    EXPECT_EQ(road.passCount(), 1);
    EXPECT_FALSE(road.cardPatterns(Card::Emitter::lint).isEmpty());
    EXPECT_EQ(road.cardPatterns(Card::Emitter::engine), QStringList{"Filler"});
    EXPECT_EQ(road.rows(), (QStringList{"system plain: Pass 1", "raw query_learnings", "card: Filler",
                                        "agent plain: Cut the hedges."}));
    const QList<QJsonObject> exits = road.fake.events("toolServerExit");
    ASSERT_EQ(exits.size(), 1);
    EXPECT_EQ(exits[0].value("status"), 0);

    // The rescan the Pass started lists the piece advanced and shows its cards.
    EXPECT_TRUE(spinUntil([&] {
        const QList<Card> &cards = road.model.openPieceCards();
        return cards.size() == review::FixCardStore::cardsForPiece(road.folder()).size()
               && std::any_of(cards.begin(), cards.end(), [](const Card &c) { return c.pattern == "Filler"; });
    }));
    EXPECT_TRUE(spinUntil([&] {
        return !road.model.posts().isEmpty() && road.model.posts().first().passState == Post::PassState::pass1Done;
    }));

    // A Blind Read right away finds nothing edited; after an edit it runs, and
    // its line names the versions in the order the prompt gave them.
    QCoro::waitFor(road.model.runBlindRead(*road.mentor));
    EXPECT_EQ(road.model.lastError(), "No edits since the Pass started — the Blind Read judges the current document "
                                      "against the Pass-start snapshot.");
    const QString edited = "# Walk\n\nWe walked far, and back.\n";
    road.model.session()->textDidChange(edited);
    QCoro::waitFor(road.model.runBlindRead(*road.mentor));
    EXPECT_EQ(road.model.lastError(), std::nullopt);
    EXPECT_FALSE(road.model.runningBlindRead());
    const QString prompt = road.lastPrompt("pennora");
    const bool snapshotIsA = prompt.contains("Version A:\n" + typed);
    EXPECT_TRUE(prompt.contains(snapshotIsA ? "Version B:\n" + edited : "Version A:\n" + edited))
        << prompt.toStdString();
    EXPECT_EQ(road.rows().last(), "system plain: "
                                      + QString(snapshotIsA ? "A = Pass 1 start snapshot · B = current document"
                                                            : "A = current document · B = Pass 1 start snapshot"));
}

TEST(PassRoad, ACancelARefusalOrAHomeChangeDoNotAdvance)
{
    struct Case {
        const char *name;
        QJsonObject passSession;
        // Run once the engine has the prompt, before it answers.
        std::function<void(PassRoad &)> meanwhile;
        std::optional<QString> message;
    };
    const auto waitForPrompt = [](PassRoad &road) {
        ASSERT_TRUE(spinUntil([&] { return !road.lastPrompt("pennora-pass1").isEmpty(); }));
    };
    const std::vector<Case> cases{
        {"refused", passEngine(workingAnswer("refusal")), nullptr, std::nullopt},
        {"cancelled",
         passEngine({}, QJsonArray{QJsonObject{{"expect", "session/new"}},
                                   QJsonObject{{"reply", QJsonObject{{"sessionId", "p-1"}}}},
                                   QJsonObject{{"expect", "session/prompt"}}, QJsonObject{{"expect", "session/cancel"}},
                                   QJsonObject{{"reply", stop("cancelled")}}}),
         [&](PassRoad &road) {
             waitForPrompt(road);
             road.mentor->cancelTurn();
         },
         std::nullopt},
        {"Home changed",
         passEngine({}, QJsonArray{QJsonObject{{"expect", "session/new"}},
                                   QJsonObject{{"reply", QJsonObject{{"sessionId", "p-1"}}}},
                                   QJsonObject{{"expect", "session/prompt"}}, QJsonObject{{"expect", "test/go"}},
                                   QJsonObject{{"reply", stop("end_turn")}}}),
         [&](PassRoad &road) {
             waitForPrompt(road);
             road.model.startWatching(road.dir.filePath("Other"));
             road.mentor->host().oneShot()->notify("test/go", std::nullopt);
         },
         PostsModel::homeChangedDuringPassMessage},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        PassRoad road(c.passSession);
        ASSERT_EQ(road.mentor->phase(), MentorSessionModel::Phase::ready());
        Running<bool> run(testsupport::ended(road.model.runPass(PassKind::pass1, *road.mentor)));
        if (c.meanwhile)
            c.meanwhile(road);
        run.wait();
        EXPECT_EQ(road.model.lastError(), c.message);
        EXPECT_EQ(road.model.runningPass(), std::nullopt);
        EXPECT_EQ(road.frontmatter().value("pass_state"), "First Draft");
        EXPECT_EQ(road.passCount(), 0);
        EXPECT_TRUE(QFileInfo::exists(QDir(road.folder()).filePath("passes/pass-1.md")));
    }
}

} // namespace
