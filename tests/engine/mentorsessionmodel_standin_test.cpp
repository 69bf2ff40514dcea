// The mentor model end to end: its host starts the real engine connection on
// the stand-in engine, so every request, answer and streamed update crosses a
// real pipe and the event loop as it does in the application.
#include "engine/mentorsessionmodel.h"
#include "engine/passinstructions.h"
#include "review/fixcardstore.h"

#include "fakehermesscenario.h"
#include "faketransport.h"
#include "testenv.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <QCoro/QCoroTask>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QUrl>

#include <functional>
#include <memory>
#include <ostream>

using engine::EngineHost;
using engine::MentorSessionModel;
using engine::SessionEntry;
using engine::SessionRow;
using engine::TurnOutcome;
using testsupport::FakeHermesScenario;
using testsupport::processGone;
using testsupport::spinUntil;
using Phase = MentorSessionModel::Phase;

namespace engine {

void PrintTo(const TurnOutcome &outcome, std::ostream *os)
{
    static const char *const names[] = {"ended", "cancelled", "failed"};
    *os << names[int(outcome.which)];
    if (outcome.which == TurnOutcome::Case::ended)
        *os << "(\"" << outcome.stopReason.toStdString() << "\")";
}

void PrintTo(const MentorSessionModel::Phase &phase, std::ostream *os)
{
    static const char *const names[] = {"crashed", "idle", "starting", "ready"};
    *os << names[int(phase.which())];
    if (phase.lastPrompt())
        *os << "(\"" << phase.lastPrompt()->toStdString() << "\")";
}

void PrintTo(const SessionEntry &entry, std::ostream *os)
{
    *os << "{" << entry.sessionID.toStdString() << ", \"" << entry.name.toStdString() << "\", "
        << (entry.pieceTitle ? entry.pieceTitle->toStdString() : std::string("no piece")) << "}";
}

} // namespace engine

namespace {

const QString kCwd = QStringLiteral("/pieces/essay");

// The params of one session/update notification.
QJsonObject update(const QString &session, const QString &kind, QJsonObject fields = {})
{
    fields.insert("sessionUpdate", kind);
    return QJsonObject{{"sessionId", session}, {"update", fields}};
}

QJsonObject chunk(const QString &session, const QString &kind, const QString &text)
{
    return update(session, kind, {{"content", QJsonObject{{"type", "text"}, {"text", text}}}});
}

QJsonObject toolCall(const QString &session, const QJsonObject &fields)
{
    return update(session, "tool_call", fields);
}

// An answer of the table, sending updates first.
QJsonObject answer(const QJsonObject &result, const QJsonArray &updates = {})
{
    return QJsonObject{{"result", result}, {"updates", updates}};
}

QJsonObject expect(const QString &method)
{
    return QJsonObject{{"expect", method}};
}

QJsonObject reply(const QJsonObject &result)
{
    return QJsonObject{{"reply", result}};
}

QJsonObject sendUpdate(const QJsonObject &params)
{
    return QJsonObject{{"send", QJsonObject{{"jsonrpc", "2.0"}, {"method", "session/update"}, {"params", params}}}};
}

QJsonObject sessionID(const QString &id)
{
    return QJsonObject{{"sessionId", id}};
}

// An engine session: its steps, then answers from the table, the handshake
// included.
QJsonObject engineSession(QJsonObject answers, const QJsonArray &steps = {})
{
    answers.insert("initialize", answer(QJsonObject{{"agentInfo", QJsonObject{{"version", "0.5.1"}}}}));
    return QJsonObject{{"answers", answers}, {"steps", steps}};
}

QJsonObject chatOnly(const QJsonObject &session)
{
    return QJsonObject{{"profiles", QJsonObject{{"pennora", session}}}};
}

QString describe(const SessionRow &row)
{
    static const char *const speakers[] = {"agent", "user", "system"};
    static const char *const notices[] = {"refused", "interrupted", "connectionLost", "kickoff", "failed", "plain"};
    if (const auto *text = std::get_if<SessionRow::Text>(&row.content))
        return QStringLiteral("%1 %2: %3").arg(speakers[int(text->speaker)], notices[int(text->notice)], text->text);
    if (const auto *thought = std::get_if<SessionRow::Thought>(&row.content))
        return "thought: " + thought->text;
    if (const auto *card = std::get_if<review::FixCard>(&row.content))
        return QStringList{"card: " + card->pattern, card->problem, card->diagnosticQuestion, card->fix, card->anchor,
                           card->provenance,         card->status}
            .join(" | ");
    if (const auto *note = std::get_if<review::ResearchCandidate>(&row.content))
        return QStringList{"note: " + note->piecePath,
                           note->title,
                           note->url,
                           note->quote,
                           note->note,
                           note->disposition == review::ResearchCandidate::Disposition::pending() ? "pending"
                                                                                                  : "decided"}
            .join(" | ");
    const auto &raw = std::get<SessionRow::Raw>(row.content);
    return QStringLiteral("raw %1: %2").arg(raw.kind, raw.json);
}

// A mentor whose host runs the stand-in, with its roster in a temporary
// folder. Its end checks that no stand-in outlives the model.
class MentorOnStandIn {
public:
    explicit MentorOnStandIn(const QJsonObject &scenario, const QList<SessionEntry> &roster = {}) : fake(scenario)
    {
        if (!roster.isEmpty())
            MentorSessionModel::saveRoster(roster, folder.path());
        auto host = std::make_unique<EngineHost>();
        host->recordedVersionProvider = [] { return std::optional<QString>(); };
        model = std::make_unique<MentorSessionModel>(std::move(host), testsupport::fakeHermesBinary(), folder.path());
        model->setCwdProvider([] { return kCwd; });
    }
    ~MentorOnStandIn()
    {
        model.reset();
        for (const QJsonObject &run : fake.events("run")) {
            const qint64 pid = run.value("pid").toInteger();
            EXPECT_TRUE(spinUntil([pid] { return processGone(pid); })) << "a stand-in outlived the model: " << pid;
        }
    }

    void start()
    {
        QCoro::waitFor(model->start());
        ASSERT_EQ(model->phase(), Phase::ready()) << model->stderrTail().join('\n').toStdString();
    }

    // The command lines the stand-in was started with, in order.
    QStringList runs() const
    {
        QStringList out;
        for (const QJsonObject &run : fake.events("run"))
            out << run.value("args").toVariant().toStringList().join(' ');
        return out;
    }
    qint64 pidOfRun(qsizetype index) const { return fake.events("run").value(index).value("pid").toInteger(); }

    // The params of every message of method the engines of profile read.
    QList<QJsonObject> received(const QString &method, const QString &profile = QString()) const
    {
        QList<QJsonObject> out;
        for (const QJsonObject &message : fake.receivedMessages(profile))
            if (message.value("method").toString() == method)
                out << message.value("params").toObject();
        return out;
    }

    QStringList rows(const QString &key) const
    {
        QStringList out;
        if (const MentorSessionModel::SessionTranscript *transcript = model->transcript(key))
            for (const SessionRow &row : transcript->rows)
                out << describe(row);
        return out;
    }

    QList<SessionEntry> savedRoster() const
    {
        return MentorSessionModel::decodeRoster(testsupport::readFile(rosterFile())).value_or(QList<SessionEntry>());
    }
    QString rosterFile() const { return QDir(folder.path()).filePath("sessions.json"); }

    QTemporaryDir folder;
    FakeHermesScenario fake;
    std::unique_ptr<MentorSessionModel> model;
};

QJsonObject sessionParams(const QString &session = QString())
{
    QJsonObject params{{"cwd", kCwd}, {"mcpServers", QJsonArray()}};
    if (!session.isEmpty())
        params.insert("sessionId", session);
    return params;
}

QJsonObject promptParams(const QString &session, const QString &text)
{
    return QJsonObject{{"sessionId", session}, {"prompt", QJsonArray{QJsonObject{{"type", "text"}, {"text", text}}}}};
}

TEST(MentorStandIn, NewAndForkedSessionsJoinTheSavedRoster)
{
    MentorOnStandIn s(chatOnly(
        engineSession({{"session/new", answer(sessionID("s-1"))}, {"session/fork", answer(sessionID("s-2"))}})));
    s.start();
    EXPECT_EQ(s.runs(), QStringList{"acp -p pennora"});
    EXPECT_EQ(s.model->engineVersion(), "0.5.1");
    EXPECT_EQ(s.received("session/new"), QList<QJsonObject>{sessionParams()});
    ASSERT_EQ(s.model->roster().size(), 1);
    const SessionEntry mentor = s.model->roster().first();
    EXPECT_EQ(mentor.sessionID, "s-1");
    EXPECT_EQ(mentor.name, "Mentor");
    EXPECT_EQ(mentor.pieceTitle, std::nullopt);
    EXPECT_EQ(s.model->activeEntry(), mentor);
    EXPECT_EQ(s.savedRoster(), s.model->roster());
    EXPECT_EQ(testsupport::modeOf(s.rosterFile()), 0600u);

    const std::optional<SessionEntry> fork = QCoro::waitFor(s.model->fork());
    ASSERT_TRUE(fork);
    EXPECT_EQ(s.received("session/fork"), QList<QJsonObject>{sessionParams("s-1")});
    EXPECT_EQ(fork->sessionID, "s-2");
    EXPECT_EQ(fork->name, "Mentor (fork)");
    EXPECT_EQ(s.model->roster(), (QList<SessionEntry>{*fork, mentor}));
    EXPECT_EQ(s.model->activeEntry(), fork);
    EXPECT_EQ(s.savedRoster(), s.model->roster());
}

TEST(MentorStandIn, StartReplaysTheNewestSessionInTheEnginesOrder)
{
    const QJsonArray history{
        chunk("s-old", "user_message_chunk", "What now?"),
        chunk("s-old", "agent_thought_chunk", "Considering"),
        chunk("s-old", "agent_message_chunk", "Tighten the opening."),
        chunk("s-other", "agent_message_chunk", "not ours"),
        chunk("s-old", "agent_message_chunk", "Operation interrupted: stopped"),
        chunk("s-old", "user_message_chunk", "Pass Pass 1: read the draft"),
        toolCall("s-old", {{"title", "lint"}, {"rawInput", QJsonObject{{"b", QJsonArray{2}}, {"a", 1}}}}),
    };
    const QStringList replayed{
        "user plain: What now?",
        "thought: Considering",
        "agent plain: Tighten the opening.",
        "system interrupted: Operation interrupted: stopped",
        "system kickoff: Pass Pass 1: read the draft",
        R"(raw lint: {"a":1,"b":[2]})",
    };
    struct Case {
        const char *name;
        QJsonObject answer;
        QStringList extraRows;
    };
    const Case cases[] = {
        {"session id", sessionID("s-old"), {}},
        {"provenance",
         QJsonObject{{"_meta", QJsonObject{{"hermes", QJsonObject{{"sessionProvenance",
                                                                   QJsonObject{{"acpSessionId", "s-old"}}}}}}}},
         {}},
        {"no proof",
         QJsonObject{},
         {"system refused: The engine does not know “Essay” — its history is no longer on the engine."}},
    };
    const QList<SessionEntry> roster{
        {"s-old", "Essay", QString("Essay"), QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC)},
        {"s-older", "Mentor", std::nullopt, QDateTime::fromSecsSinceEpoch(1600000000, Qt::UTC)},
    };
    for (const Case &c : cases) {
        MentorOnStandIn s(chatOnly(engineSession({{"session/load", answer(c.answer, history)}})), roster);
        s.start();
        EXPECT_EQ(s.received("session/load"), QList<QJsonObject>{sessionParams("s-old")}) << c.name;
        EXPECT_EQ(s.model->activeEntry(), roster.first()) << c.name;
        EXPECT_EQ(s.model->replayingSessionID(), std::nullopt) << c.name;
        EXPECT_EQ(s.rows("s-old"), replayed + c.extraRows) << c.name;
        EXPECT_EQ(s.model->transcript("s-other"), nullptr) << c.name;
        EXPECT_EQ(s.model->roster(), roster) << c.name;
    }
}

TEST(MentorStandIn, PromptsReachTheEngineWholeAndTheirRepliesBecomeRows)
{
    struct Case {
        const char *name;
        std::function<void(MentorSessionModel &)> act;
        QString session;
        QString prompt;
        QString promptRow;
    };
    const Case cases[] = {
        {"send",
         [](MentorSessionModel &m) {
             EXPECT_EQ(QCoro::waitFor(m.send(" What about the ending?\n", std::nullopt)),
                       TurnOutcome::ended("end_turn"));
         },
         "s-1", "What about the ending?", "user plain: What about the ending?"},
        {"compact", [](MentorSessionModel &m) { QCoro::waitFor(m.compact()); }, "s-1", "/compress",
         "system plain: Compact…"},
        {"brainstorm",
         [](MentorSessionModel &m) {
             const std::optional<SessionEntry> entry = QCoro::waitFor(m.startBrainstorm(QString("Essay")));
             ASSERT_TRUE(entry);
             EXPECT_EQ(entry->name, "Brainstorm");
             EXPECT_EQ(entry->pieceTitle, "Essay");
             EXPECT_EQ(m.roster().first(), *entry);
         },
         "s-2", MentorSessionModel::brainstormKickoff, "system plain: Brainstorm"},
    };
    for (const Case &c : cases) {
        const QJsonArray stream{
            chunk(c.session, "agent_thought_chunk", "Weigh"),
            chunk(c.session, "agent_message_chunk", "Try "),
            chunk(c.session, "agent_thought_chunk", "ing."),
            chunk(c.session, "agent_message_chunk", "this."),
        };
        const QJsonArray sessions{expect("session/new"), reply(sessionID("s-1")), expect("session/new"),
                                  reply(sessionID("s-2"))};
        MentorOnStandIn s(chatOnly(
            engineSession({{"session/prompt", answer(QJsonObject{{"stopReason", "end_turn"}}, stream)}}, sessions)));
        s.start();
        c.act(*s.model);
        EXPECT_EQ(s.received("session/prompt"), QList<QJsonObject>{promptParams(c.session, c.prompt)}) << c.name;
        EXPECT_EQ(s.model->activeEntry()->sessionID, c.session) << c.name;
        EXPECT_EQ(s.rows(c.session), (QStringList{c.promptRow, "thought: Weighing.", "agent plain: Try this."}))
            << c.name;
        EXPECT_TRUE(s.model->transcript(c.session)->streamingText.isEmpty()) << c.name;
        EXPECT_TRUE(s.model->transcript(c.session)->streamingThought.isEmpty()) << c.name;
        EXPECT_FALSE(s.model->isStreaming()) << c.name;
        EXPECT_EQ(s.model->lastPrompt(), c.prompt) << c.name;
    }
}

TEST(MentorStandIn, CancelReachesTheEngineForTheRunningTurn)
{
    MentorOnStandIn s(chatOnly(
        engineSession({}, QJsonArray{expect("session/new"), reply(sessionID("s-1")), expect("session/prompt"),
                                     sendUpdate(chunk("s-1", "agent_message_chunk", "Half a th")),
                                     expect("session/cancel"), reply(QJsonObject{{"stopReason", "cancelled"}})})));
    s.start();
    testsupport::Running<TurnOutcome> turn(s.model->send("Write on", std::nullopt));
    ASSERT_TRUE(spinUntil([&] { return !s.received("session/prompt").isEmpty(); }));
    EXPECT_TRUE(s.model->isStreaming());
    s.model->cancelTurn();
    EXPECT_EQ(turn.value(), TurnOutcome::cancelled());
    EXPECT_EQ(s.received("session/cancel"), QList<QJsonObject>{sessionID("s-1")});
    EXPECT_EQ(s.rows("s-1"), (QStringList{"user plain: Write on", "agent plain: Half a th"}));
    EXPECT_FALSE(s.model->isStreaming());
}

TEST(MentorStandIn, TurnOutcomes)
{
    struct Case {
        const char *name;
        QJsonArray end; // the steps that end the turn
        TurnOutcome outcome;
        QStringList notice;
        bool crashes = false;
    };
    const auto stop = [](const QJsonValue &reason) { return QJsonArray{reply(QJsonObject{{"stopReason", reason}})}; };
    const Case cases[] = {
        {"end_turn", stop("end_turn"), TurnOutcome::ended("end_turn"), {}},
        {"refusal", stop("refusal"), TurnOutcome::ended("refusal"), {"agent refused: (refused the prompt)"}},
        {"cancelled", stop("cancelled"), TurnOutcome::cancelled(), {}},
        {"no stop reason", {reply(QJsonObject())}, TurnOutcome::failed(), {}},
        {"numeric stop reason", stop(5), TurnOutcome::failed(), {}},
        {"empty stop reason", stop(""), TurnOutcome::failed(), {}},
        {"error answer",
         {QJsonObject{{"replyError", QJsonObject{{"code", -32000}, {"message", "overloaded"}}}}},
         TurnOutcome::failed(),
         {"agent connectionLost: connection lost — -32000: overloaded"}},
        // It exits once the model holds the streamed text: an exit may be
        // reported before output still unread.
        {"engine exits", {expect("test/go"), QJsonObject{{"exit", 1}}}, TurnOutcome::failed(), {}, true},
    };
    for (const Case &c : cases) {
        QJsonArray steps{expect("session/new"), reply(sessionID("s-1")), expect("session/prompt"),
                         sendUpdate(chunk("s-1", "agent_message_chunk", "Partial"))};
        for (const QJsonValue &step : c.end)
            steps.append(step);
        MentorOnStandIn s(chatOnly(engineSession({}, steps)));
        s.start();
        testsupport::Running<TurnOutcome> turn(s.model->send("Go", std::nullopt));
        if (c.crashes) {
            ASSERT_TRUE(spinUntil([&] { return s.model->transcript("s-1")->streamingText == "Partial"; }));
            s.model->host().chat()->notify("test/go", std::nullopt);
        }
        EXPECT_EQ(turn.value(), c.outcome) << c.name;
        QStringList rows = s.rows("s-1");
        if (c.crashes) {
            // The crash report and the failed request race; either may tell.
            EXPECT_TRUE(spinUntil([&] { return s.model->phase() == Phase::crashed(QString("Go")); }));
            if (rows.size() == 3 && rows[1].startsWith("agent connectionLost: connection lost — "))
                rows.removeAt(1);
        }
        EXPECT_EQ(rows, QStringList{"user plain: Go"} + c.notice + QStringList{"agent plain: Partial"}) << c.name;
        EXPECT_FALSE(s.model->isStreaming()) << c.name;
    }
}

QJsonObject passEngine(const QJsonObject &promptAnswer)
{
    return engineSession({{"session/new", answer(sessionID("p-1"))}, {"session/prompt", promptAnswer}});
}

TEST(MentorStandIn, PassRunsOnItsOwnEngineAndStreamsIntoThePassTranscript)
{
    const QJsonArray stream{
        chunk("p-1", "agent_thought_chunk", "Scanning."),
        chunk("p-1", "agent_message_chunk", "Cut "),
        chunk("p-1", "agent_message_chunk", "the adverbs."),
    };
    const QJsonObject chat = engineSession({{"session/new", answer(sessionID("s-1"))}});
    MentorOnStandIn s(QJsonObject{
        {"profiles",
         QJsonObject{{"pennora", chat},
                     {"pennora-pass1", passEngine(answer(QJsonObject{{"stopReason", "end_turn"}}, stream))}}}});
    s.start();
    const QString instruction = "Pass Pass 1: mark every hedge";
    EXPECT_EQ(QCoro::waitFor(s.model->runPass("pennora-pass1", "Pass 1", instruction, "Essay")),
              TurnOutcome::ended("end_turn"));

    EXPECT_EQ(s.runs(), (QStringList{"acp -p pennora", "acp -p pennora-pass1"}));
    EXPECT_EQ(s.received("session/new", "pennora-pass1"), QList<QJsonObject>{sessionParams()});
    EXPECT_EQ(s.received("session/prompt", "pennora-pass1"), QList<QJsonObject>{promptParams("p-1", instruction)});
    EXPECT_EQ(s.rows("pass"),
              (QStringList{"system plain: Pass 1", "thought: Scanning.", "agent plain: Cut the adverbs."}));
    EXPECT_EQ(s.model->activeEntry()->sessionID, "pass");
    EXPECT_EQ(s.model->activeEntry()->name, "Pass 1 · Essay");
    EXPECT_EQ(s.model->roster().size(), 1);
    EXPECT_EQ(s.model->passWireID(), std::nullopt);
    EXPECT_FALSE(s.model->passCancelRequested());
    EXPECT_FALSE(s.model->isStreaming());
    EXPECT_EQ(s.model->host().oneShot(), nullptr);
    const qint64 passPid = s.pidOfRun(1);
    EXPECT_TRUE(spinUntil([&] { return processGone(passPid); }));
    EXPECT_FALSE(processGone(s.pidOfRun(0))); // the chat engine runs on
}

TEST(MentorStandIn, PassCancelledWhileItsSessionIsMadeSendsNoPrompt)
{
    // The pass engine answers session/new only when the test says so.
    QJsonObject pass = passEngine(answer(QJsonObject{{"stopReason", "end_turn"}}));
    pass.insert("steps", QJsonArray{expect("session/new"), expect("test/go"), reply(sessionID("p-1"))});
    MentorOnStandIn s(
        QJsonObject{{"profiles", QJsonObject{{"pennora", engineSession({{"session/new", answer(sessionID("s-1"))}})},
                                             {"pennora-pass1", pass}}}});
    s.start();
    testsupport::Running<TurnOutcome> run(s.model->runPass("pennora-pass1", "Pass 1", "Pass Pass 1: go", "Essay"));
    ASSERT_TRUE(spinUntil([&] { return !s.received("session/new", "pennora-pass1").isEmpty(); }));
    s.model->cancelTurn();
    EXPECT_TRUE(s.model->passCancelRequested());
    ASSERT_NE(s.model->host().oneShot(), nullptr);
    s.model->host().oneShot()->notify("test/go", std::nullopt);

    EXPECT_EQ(run.value(), TurnOutcome::cancelled());
    EXPECT_EQ(s.rows("pass"), QStringList{"system plain: Pass 1 cancelled."});
    EXPECT_TRUE(s.received("session/prompt", "pennora-pass1").isEmpty());
    EXPECT_TRUE(s.received("session/cancel", "pennora-pass1").isEmpty());
    EXPECT_FALSE(s.model->passCancelRequested());
    EXPECT_EQ(s.model->passWireID(), std::nullopt);
    EXPECT_FALSE(s.model->isStreaming());
}

TEST(MentorStandIn, BlindReadShowsTheMappingOnlyUnderAVerdict)
{
    const QString ab = "A is the draft, B the revision.";
    const QJsonArray stream{chunk("b-1", "agent_message_chunk", "A reads tighter.")};
    struct Case {
        const char *name;
        QJsonObject promptAnswer;
        TurnOutcome outcome;
        QStringList rows;
    };
    const Case cases[] = {
        {"verdict",
         answer(QJsonObject{{"stopReason", "end_turn"}}, stream),
         TurnOutcome::ended("end_turn"),
         {"system plain: Blind Read", "agent plain: A reads tighter.", "system plain: " + ab}},
        {"refusal",
         answer(QJsonObject{{"stopReason", "refusal"}}, stream),
         TurnOutcome::ended("refusal"),
         {"system plain: Blind Read", "agent refused: (refused the prompt)", "agent plain: A reads tighter."}},
        {"cancelled",
         answer(QJsonObject{{"stopReason", "cancelled"}}, stream),
         TurnOutcome::cancelled(),
         {"system plain: Blind Read", "agent plain: A reads tighter."}},
        {"failed",
         QJsonObject{{"error", QJsonObject{{"code", -32000}, {"message", "overloaded"}}}, {"updates", stream}},
         TurnOutcome::failed(),
         {"system plain: Blind Read", "agent connectionLost: connection lost — -32000: overloaded",
          "agent plain: A reads tighter."}},
    };
    const QList<SessionEntry> roster{{"s-old", "Essay", QString("Essay"), QDateTime::currentDateTimeUtc()}};
    for (const Case &c : cases) {
        // The chat engine and the Blind Read's engine share the chat profile.
        MentorOnStandIn s(chatOnly(engineSession({{"session/load", answer(sessionID("s-old"))},
                                                  {"session/new", answer(sessionID("b-1"))},
                                                  {"session/prompt", c.promptAnswer}})),
                          roster);
        s.start();
        QStringList appendedWhileStreaming;
        QObject::connect(s.model.get(), &MentorSessionModel::rowsAppended, s.model.get(), [&](const QString &key) {
            if (key == "pass" && s.model->isStreaming())
                appendedWhileStreaming << s.rows(key).constLast();
        });
        EXPECT_EQ(QCoro::waitFor(s.model->runBlindRead("Which reads better?", "Essay", ab)), c.outcome) << c.name;
        EXPECT_EQ(s.runs(), (QStringList{"acp -p pennora", "acp -p pennora"})) << c.name;
        EXPECT_EQ(s.received("session/prompt"), QList<QJsonObject>{promptParams("b-1", "Which reads better?")})
            << c.name;
        EXPECT_EQ(s.rows("pass"), c.rows) << c.name;
        EXPECT_FALSE(appendedWhileStreaming.contains("system plain: " + ab)) << c.name;
        EXPECT_EQ(s.model->activeEntry()->name, "Blind Read · Essay") << c.name;
        const qint64 blindPid = s.pidOfRun(1);
        EXPECT_TRUE(spinUntil([&] { return processGone(blindPid); })) << c.name;
    }
}

TEST(MentorStandIn, ToolCallsDuringATurnAreEchoedAsRows)
{
    const QJsonObject cards{
        {"piece_path", "/pieces/essay"},
        {"cards", QJsonArray{QJsonObject{{"pattern", "Hedging"},
                                         {"problem", "Too many maybes"},
                                         {"fix", "Commit"},
                                         {"anchor", QJsonObject{{"quote", "maybe"}}}},
                             QJsonObject{{"pattern", "Second"}, {"problem", "never shown"}}}},
    };
    const QJsonObject notes{
        {"piece_path", "/pieces/essay"},
        {"notes", QJsonArray{QJsonObject{{"title", "Origins"}, {"url", "https://a.example/1"}, {"quote", "q"}},
                             QJsonObject{{"title", "Later"}, {"url", "https://b.example/2"}, {"note", "n"}}}},
    };
    const QJsonArray stream{
        toolCall("s-1", {{"title", "submit_fix_cards"}, {"rawInput", cards}}),
        toolCall("s-1", {{"title", "submit_research_notes"}, {"rawInput", notes}}),
        toolCall("s-1",
                 {{"title", "lint"}, {"rawInput", QJsonObject{{"z", true}, {"a", QJsonObject{{"d", 2}, {"c", "x"}}}}}}),
        toolCall("s-1", {{"rawInput", "just words"}}),
        toolCall("s-1", {}),
        chunk("s-1", "agent_message_chunk", "Done."),
    };
    MentorOnStandIn s(
        chatOnly(engineSession({{"session/new", answer(sessionID("s-1"))},
                                {"session/prompt", answer(QJsonObject{{"stopReason", "end_turn"}}, stream)}})));
    s.start();
    EXPECT_EQ(QCoro::waitFor(s.model->send("Review it", std::nullopt)), TurnOutcome::ended("end_turn"));
    EXPECT_EQ(s.rows("s-1"), (QStringList{
                                 "user plain: Review it",
                                 "card: Hedging | Too many maybes |  | Commit | maybe | engine | proposed",
                                 "note: /pieces/essay | Origins | https://a.example/1 | q |  | pending",
                                 "note: /pieces/essay | Later | https://b.example/2 |  | n | pending",
                                 R"(raw lint: {"a":{"c":"x","d":2},"z":true})",
                                 R"(raw tool call: "just words")",
                                 "raw tool call: {}",
                                 "agent plain: Done.",
                             }));
}

// The road of one Pass: the one-shot engine calls the real tool server, whose
// cards land beside the piece while the transcript echoes the call.
TEST(MentorStandIn, APassFilesRealCardsThroughTheToolServer)
{
    QTemporaryDir home;
    const QString piece = home.path() + "/projects/Essays/walk";
    const QString post = piece + "/post.md";
    testsupport::writeFile(post, "---\ntype: post\n---\n# Walk\n\nWe walked quite far, quite slowly.\n");
    qputenv("FAKE_HERMES_PENNORA", testsupport::pennoraBinary().toLocal8Bit());
    const auto unset = qScopeGuard([] { qunsetenv("FAKE_HERMES_PENNORA"); });

    const QJsonObject cards{{"cards", QJsonArray{QJsonObject{{"pattern", "Filler"},
                                                             {"problem", "Hedges"},
                                                             {"fix", "Cut it"},
                                                             {"lane", "mechanical"},
                                                             {"emitter", "engine"},
                                                             {"anchor", QJsonObject{{"quote", "quite"}}}}}}};
    const QJsonObject promptAnswer{
        {"toolCalls",
         QJsonArray{QJsonObject{{"tool", "submit_fix_cards"}, {"title", "File cards"}, {"arguments", cards}}}},
        {"result", QJsonObject{{"stopReason", "end_turn"}}}};
    const QJsonObject chat = engineSession({{"session/new", answer(sessionID("s-1"))}});
    MentorOnStandIn s(
        QJsonObject{{"profiles", QJsonObject{{"pennora", chat}, {"pennora-pass1", passEngine(promptAnswer)}}}});
    s.start();

    const QString instruction = engine::instructionText(library::PassKind::pass1, QUrl::fromLocalFile(post), false);
    EXPECT_EQ(QCoro::waitFor(s.model->runPass("pennora-pass1", "Pass 1", instruction, "Walk")),
              TurnOutcome::ended("end_turn"));

    EXPECT_EQ(s.rows("pass"),
              (QStringList{"system plain: Pass 1", "card: Filler | Hedges |  | Cut it | quite | engine | proposed"}));
    const QList<review::FixCardStore::CardFile> files = review::FixCardStore::cardFilesForPiece(piece);
    ASSERT_EQ(files.size(), 1) << QJsonDocument(s.fake.events("toolResult").value(0)).toJson().toStdString();
    EXPECT_EQ(files[0].card.pattern, "Filler");
    EXPECT_EQ(files[0].card.anchorStatus, review::FixCardStore::StoredFixCard::AnchorStatus::valid);
    const QList<QJsonObject> exits = s.fake.events("toolServerExit");
    ASSERT_EQ(exits.size(), 1);
    EXPECT_EQ(exits[0].value("status"), 0);
}

} // namespace
