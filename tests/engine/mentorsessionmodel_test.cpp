#include "engine/mentorsessionmodel.h"

#include "capturedlog.h"
#include "faketransport.h"
#include "foundation/fs.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaMethod>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <deque>
#include <functional>
#include <memory>
#include <ostream>
#include <sys/stat.h>
#include <vector>

using engine::EngineHost;
using engine::MentorSessionModel;
using engine::SessionEntry;
using engine::SessionRow;
using engine::TurnOutcome;
using foundation::JSONValue;
using testsupport::CapturedLog;
using testsupport::drainPosted;
using testsupport::ended;
using testsupport::FakeTransport;
using testsupport::Running;
using testsupport::spinUntil;
using Phase = MentorSessionModel::Phase;
using Script = FakeTransport::Script;
using Kind = SessionRow::NoticeKind;
using Speaker = SessionRow::Speaker;
using Disposition = review::ResearchCandidate::Disposition;

namespace engine {

void PrintTo(const TurnOutcome &outcome, std::ostream *os)
{
    static const char *const names[] = {"ended", "cancelled", "failed"};
    *os << names[int(outcome.which)];
    if (outcome.which == TurnOutcome::Case::ended)
        *os << "(" << outcome.stopReason.toStdString() << ")";
}

void PrintTo(const MentorSessionModel::Phase &phase, std::ostream *os)
{
    static const char *const names[] = {"crashed", "idle", "starting", "ready"};
    *os << names[int(phase.which())];
    if (phase.which() == MentorSessionModel::Phase::Case::crashed)
        *os << "(" << phase.lastPrompt().value_or("none").toStdString() << ")";
}

void PrintTo(const SessionEntry &entry, std::ostream *os)
{
    *os << "{" << entry.sessionID.toStdString() << ", " << entry.name.toStdString() << ", "
        << entry.pieceTitle.value_or("no title").toStdString() << ", "
        << entry.createdAt.toString(Qt::ISODateWithMs).toStdString() << "}";
}

} // namespace engine

namespace {

const QString kAcpCategory = QStringLiteral("com.quendalstudio.Pennora.acp");

JSONValue json(const char *text)
{
    return JSONValue::parse(text).value();
}

// A streamed piece of a reply, a thought or a user message.
JSONValue chunk(const char *kind, const QString &text)
{
    return JSONValue::Object{{"sessionUpdate", kind}, {"content", JSONValue::Object{{"type", "text"}, {"text", text}}}};
}

JSONValue updateParams(const QString &sessionID, const JSONValue &update)
{
    return JSONValue::Object{{"sessionId", sessionID}, {"update", update}};
}

JSONValue promptParams(const QString &sessionID, const QString &text)
{
    return JSONValue::Object{{"sessionId", sessionID},
                             {"prompt", JSONValue::Array{JSONValue::Object{{"type", "text"}, {"text", text}}}}};
}

QDateTime referenceDate()
{
    return QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);
}

SessionEntry entry(const QString &id, const QString &name, std::optional<QString> title, int seconds)
{
    return {id, name, std::move(title), referenceDate().addSecs(700000000 + seconds)};
}

// One row as one line, so a whole transcript compares in one expectation.
QString describe(const SessionRow &row)
{
    static const char *const speakers[] = {"agent", "user", "system"};
    static const char *const notices[] = {"refused", "interrupted", "connectionLost", "kickoff", "failed", "plain"};
    if (const auto *text = std::get_if<SessionRow::Text>(&row.content))
        return QStringLiteral("%1 %2: %3").arg(speakers[int(text->speaker)], notices[int(text->notice)], text->text);
    if (const auto *thought = std::get_if<SessionRow::Thought>(&row.content))
        return "thought: " + thought->text;
    if (const auto *card = std::get_if<review::FixCard>(&row.content))
        return QStringList{"card: " + card->pattern, card->problem, card->anchor, card->provenance, card->status}.join(
            " / ");
    if (const auto *note = std::get_if<review::ResearchCandidate>(&row.content)) {
        static const char *const dispositions[] = {"kept", "pending", "rejected"};
        return QStringLiteral("note: %1 %2 %3 %4")
            .arg(note->title, note->url, dispositions[int(note->disposition.kind)], note->disposition.fileName)
            .trimmed();
    }
    const auto &raw = std::get<SessionRow::Raw>(row.content);
    return "raw " + raw.kind + ": " + raw.json;
}

// Wraps a command for a table of commands: whether it made or loaded a
// session.
QCoro::Task<bool> madeOne(QCoro::Task<std::optional<SessionEntry>> task)
{
    co_return (co_await std::move(task)).has_value();
}

// A command of a table, run on the model.
using Command = std::function<QCoro::Task<bool>(MentorSessionModel &)>;

template<typename T>
QCoro::Task<bool> finished(QCoro::Task<T> task)
{
    co_await std::move(task);
    co_return true;
}

// The temp file's mode the moment the atomic write created it.
mode_t g_tempMode = 0;
void recordTempMode(const QString &path)
{
    g_tempMode = testsupport::modeOf(path);
}

// A umask that would leave a new file readable by everyone.
struct PermissiveUmask {
    PermissiveUmask() : previous(::umask(0)) {}
    ~PermissiveUmask() { ::umask(previous); }
    mode_t previous;
};

struct TempModeRecorder {
    TempModeRecorder()
    {
        g_tempMode = 0;
        foundation::fs::detail::setTempCreatedHook(recordTempMode);
    }
    ~TempModeRecorder() { foundation::fs::detail::setTempCreatedHook(nullptr); }
};

// The names of the model's signals emitted since the last take().
class SignalLog {
public:
    explicit SignalLog(QObject *object)
    {
        const QMetaObject *meta = object->metaObject();
        for (int i = meta->methodOffset(); i < meta->methodCount(); ++i)
            if (meta->method(i).methodType() == QMetaMethod::Signal)
                m_spies.push_back({QString::fromLatin1(meta->method(i).name()),
                                   std::make_unique<QSignalSpy>(object, meta->method(i))});
    }
    QStringList take()
    {
        QStringList names;
        for (const auto &[name, spy] : m_spies) {
            if (!spy->isEmpty())
                names << name;
            spy->clear();
        }
        return names;
    }

private:
    std::vector<std::pair<QString, std::unique_ptr<QSignalSpy>>> m_spies;
};

// A model whose engines are in-memory fakes. The chat engine answers
// session/new and session/load by itself unless a test clears its answers;
// one-shot engines only answer "initialize". Each engine started takes the
// next of scripts first, when there is one.
class MentorTest : public ::testing::Test {
protected:
    MentorTest()
    {
        chatScript.answers.insert("session/new", json(R"({"sessionId":"mentor-1"})"));
        chatScript.answers.insert("session/load", json(R"({"sessionId":"loaded"})"));
        makeModel(rosterDir());
    }
    ~MentorTest() override
    {
        model.reset();
        // Requests failed by the host's end resume from the event loop.
        drainPosted();
    }

    QString rosterDir() const { return home.filePath("data/roster"); }
    QString rosterFile() const { return rosterDir() + "/sessions.json"; }

    void makeModel(const std::optional<QString> &folder)
    {
        model.reset();
        drainPosted();
        auto host = std::make_unique<EngineHost>();
        host->recordedVersionProvider = [] { return std::optional<QString>(); };
        host->makeTransport = [this](const QString &profile) {
            Script script = profile == EngineHost::chatProfile ? chatScript : Script();
            if (!scripts.empty()) {
                script = scripts.front();
                scripts.pop_front();
            }
            made.push_back(std::make_shared<FakeTransport>(profile, script));
            return made.back();
        };
        model = std::make_unique<MentorSessionModel>(std::move(host), QStringLiteral("hermes"), folder);
        model->setCwdProvider([] { return QStringLiteral("/home/writer"); });
    }

    // The roster on disk, read by a new model.
    void seedRoster(const QList<SessionEntry> &roster)
    {
        MentorSessionModel::saveRoster(roster, rosterDir());
        makeModel(rosterDir());
    }

    void startReady()
    {
        ASSERT_TRUE(Running(ended(model->start())).value());
        ASSERT_EQ(model->phase(), Phase::ready());
    }

    // A ready model over roster (not empty) whose chat engine answers nothing
    // by itself; the newest entry is active.
    void startManual(const QList<SessionEntry> &roster)
    {
        chatScript.answers.clear();
        seedRoster(roster);
        Running<bool> start(ended(model->start()));
        ASSERT_TRUE(answerWhenAsked(*made.back(), "session/load", json(R"({"sessionId":"x"})")));
        ASSERT_TRUE(start.value());
        ASSERT_EQ(model->activeEntry(), roster.first());
    }

    // The chat engine's script, but "initialize" waits for the test.
    Script silentChat() const
    {
        Script script = chatScript;
        script.initialize = FakeTransport::Initialize::silent;
        return script;
    }

    FakeTransport &chat() { return static_cast<FakeTransport &>(*model->host().chat()); }
    FakeTransport &oneShot() { return static_cast<FakeTransport &>(*model->host().oneShot()); }

    static bool answerWhenAsked(FakeTransport &engine, const QString &method, const std::optional<JSONValue> &result)
    {
        return spinUntil([&] { return engine.answer(method, result); });
    }
    static bool failWhenAsked(FakeTransport &engine, const QString &method, const QString &error)
    {
        return spinUntil([&] { return engine.fail(method, error); });
    }
    static bool asked(FakeTransport &engine, const QString &method)
    {
        return spinUntil([&] { return engine.waiting(method) > 0; });
    }

    // A session/update from engine, once the model has it.
    static void update(FakeTransport &engine, const QString &sessionID, const JSONValue &update)
    {
        engine.sendNotification("session/update", updateParams(sessionID, update));
        drainPosted();
    }

    QStringList rows(const QString &key) const
    {
        const MentorSessionModel::SessionTranscript *transcript = model->transcript(key);
        if (!transcript)
            return {"<no transcript>"};
        QStringList lines;
        for (const SessionRow &row : transcript->rows)
            lines << describe(row);
        return lines;
    }

    QTemporaryDir home;
    Script chatScript;
    std::deque<Script> scripts;
    std::vector<std::shared_ptr<FakeTransport>> made;
    std::unique_ptr<MentorSessionModel> model;
};

// --- Roster ------------------------------------------------------------------

TEST_F(MentorTest, FirstStartCreatesMentorAndAPrivateRoster)
{
    EXPECT_TRUE(model->roster().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(rosterDir())) << "a load never creates the folder";
    {
        const PermissiveUmask umask;
        const TempModeRecorder recorder;
        startReady();
    }
    EXPECT_EQ(chat().requestMethods(), QStringList({"initialize", "session/new"}));
    EXPECT_EQ(chat().requests[1].params, json(R"({"cwd":"/home/writer","mcpServers":[]})"));
    EXPECT_EQ(chat().requests[1].timeout, std::chrono::seconds(15));

    ASSERT_EQ(model->roster().size(), 1);
    const SessionEntry mentor = model->roster().first();
    EXPECT_EQ(mentor.sessionID, "mentor-1");
    EXPECT_EQ(mentor.name, "Mentor");
    EXPECT_EQ(mentor.pieceTitle, std::nullopt);
    EXPECT_EQ(model->activeEntry(), mentor);
    EXPECT_EQ(rows("mentor-1"), QStringList());

    EXPECT_EQ(testsupport::entries(rosterDir()), QStringList({"sessions.json"}));
    EXPECT_EQ(testsupport::modeOf(rosterFile()), 0600u);
    EXPECT_EQ(g_tempMode, 0600u) << "the file must be private from its first byte";
    const QJsonArray saved = QJsonDocument::fromJson(testsupport::readFile(rosterFile())).array();
    ASSERT_EQ(saved.size(), 1);
    EXPECT_EQ(saved[0].toObject().keys(), QStringList({"createdAt", "name", "sessionId"}));
    EXPECT_EQ(MentorSessionModel::loadRoster(rosterDir()), model->roster());
}

TEST_F(MentorTest, RosterFileDecoding)
{
    struct Case {
        const char *file;
        QList<SessionEntry> roster;
    };
    const QDateTime at = referenceDate().addMSecs(10500);
    const Case cases[] = {
        {R"([{"sessionId":"a","name":"A","createdAt":10.5,"pieceTitle":"Essay"},{"sessionId":"b","name":"B","createdAt":10.5}])",
         {{"a", "A", "Essay", at}, {"b", "B", std::nullopt, at}}},
        {R"([{"sessionId":"a","name":"A","createdAt":10.5,"pieceTitle":null,"color":"red"}])",
         {{"a", "A", std::nullopt, at}}},
        {R"([])", {}},
        {R"([{"name":"A","createdAt":10.5}])", {}},
        {R"([{"sessionId":"a","createdAt":10.5}])", {}},
        {R"([{"sessionId":"a","name":"A"}])", {}},
        {R"([{"sessionId":"a","name":"A","createdAt":"2024-01-01"}])", {}},
        {R"([{"sessionId":"a","name":"A","createdAt":1},{"sessionId":"b","name":"B"}])", {}},
        {R"({"sessionId":"a","name":"A","createdAt":1})", {}},
    };
    int n = 0;
    for (const Case &c : cases) {
        const QString folder = home.filePath(QString("decode-%1").arg(++n));
        testsupport::writeFile(folder + "/sessions.json", c.file);
        makeModel(folder);
        EXPECT_EQ(model->roster(), c.roster) << c.file;
    }

    // An entry without a piece title is written without the key.
    const QList<SessionEntry> roster = {{"a", "A", "Essay", at}, {"b", "B", std::nullopt, at}};
    MentorSessionModel::saveRoster(roster, rosterDir());
    const QJsonArray saved = QJsonDocument::fromJson(testsupport::readFile(rosterFile())).array();
    ASSERT_EQ(saved.size(), 2);
    EXPECT_EQ(saved[0].toObject().value("pieceTitle").toString(), "Essay");
    EXPECT_EQ(saved[0].toObject().value("createdAt").toDouble(), 10.5);
    EXPECT_FALSE(saved[1].toObject().contains("pieceTitle"));
    EXPECT_EQ(MentorSessionModel::loadRoster(rosterDir()), roster);
}

TEST_F(MentorTest, WithoutAFolderATestRunKeepsItsRosterInAFreshTemporaryFolder)
{
    makeModel(std::nullopt);
    const std::optional<QString> first = model->rosterDirectory();
    makeModel(std::nullopt);
    const std::optional<QString> second = model->rosterDirectory();
    ASSERT_TRUE(first && second);
    EXPECT_NE(*first, *second);
    const QRegularExpression name("^pennora-roster-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$");
    for (const QString &folder : {*first, *second}) {
        const QFileInfo info(folder);
        EXPECT_TRUE(name.match(info.fileName()).hasMatch()) << folder.toStdString();
        EXPECT_EQ(info.absolutePath(), QFileInfo(QDir::tempPath()).absoluteFilePath());
        EXPECT_FALSE(info.exists()) << folder.toStdString();
    }
    EXPECT_TRUE(model->roster().isEmpty());

    startReady();
    EXPECT_TRUE(QFileInfo::exists(*second + "/sessions.json"));
    QDir(*second).removeRecursively();
}

TEST_F(MentorTest, AnUnreadableRosterIsKeptAsideThenReplaced)
{
    const QByteArray damaged = R"([{"sessionId":"a","name":)";
    testsupport::writeFile(rosterFile(), damaged);
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    CapturedLog log;
    makeModel(rosterDir());
    const QDateTime after = QDateTime::currentDateTime();
    EXPECT_TRUE(model->roster().isEmpty());

    const QStringList names = testsupport::entries(rosterDir());
    ASSERT_EQ(names.size(), 1) << names.join(", ").toStdString();
    const QRegularExpressionMatch match =
        QRegularExpression(R"(^sessions-unreadable-(\d{8}-\d{6})\.json$)").match(names[0]);
    ASSERT_TRUE(match.hasMatch()) << names[0].toStdString();
    const QDateTime stamp = QDateTime::fromString(match.captured(1), "yyyyMMdd-HHmmss");
    EXPECT_TRUE(stamp >= before && stamp <= after) << names[0].toStdString();
    const QString aside = rosterDir() + "/" + names[0];
    EXPECT_EQ(testsupport::readFile(aside), damaged);

    QStringList warnings;
    for (const CapturedLog::Line &line : log.linesOf(kAcpCategory))
        if (line.type == QtWarningMsg)
            warnings << line.text;
    EXPECT_EQ(warnings,
              QStringList({"sessions.json does not hold a roster", "sessions.json kept aside as " + names[0]}));

    startReady();
    EXPECT_EQ(MentorSessionModel::loadRoster(rosterDir()), model->roster());
    EXPECT_EQ(model->roster().size(), 1);
    EXPECT_EQ(testsupport::readFile(aside), damaged);
}

// --- Engine lifecycle ----------------------------------------------------------

TEST_F(MentorTest, StartRunsOnlyFromIdle)
{
    chatScript.initialize = FakeTransport::Initialize::silent;
    model->host().recordedVersionProvider = [] { return std::optional<QString>("0.5.0"); };
    Running<bool> first(ended(model->start()));
    EXPECT_EQ(model->phase(), Phase::starting());
    Running<bool> second(ended(model->start()));
    EXPECT_TRUE(second.done()) << "a second start returns at once";
    ASSERT_EQ(made.size(), 1u);

    ASSERT_TRUE(made[0]->answer("initialize", json(R"({"agentInfo":{"version":"0.5.1"}})")));
    EXPECT_TRUE(first.value());
    EXPECT_EQ(model->phase(), Phase::ready());
    EXPECT_EQ(model->engineVersion(), "0.5.1");
    EXPECT_EQ(model->versionNote(), "Engine 0.5.1 differs from the recorded 0.5.0");

    EXPECT_TRUE(Running(ended(model->start())).value());
    EXPECT_EQ(made.size(), 1u);
    EXPECT_EQ(made[0]->requestMethods(), QStringList({"initialize", "session/new"}));
}

TEST_F(MentorTest, AStartShowsTheNewestSessionEvenWhenTheEngineForgotIt)
{
    const SessionEntry newest = entry("a", "Essay talk", "Essay", 2);
    chatScript.answers.clear();
    seedRoster({newest, entry("b", "Older", "Notes", 1)});
    Running<bool> start(ended(model->start()));
    ASSERT_TRUE(asked(*made.back(), "session/load"));
    update(chat(), "a", chunk("user_message_chunk", "Where were we?"));
    ASSERT_TRUE(chat().answer("session/load", json("{}")));
    EXPECT_TRUE(start.value());
    EXPECT_EQ(model->phase(), Phase::ready());
    EXPECT_EQ(model->activeEntry(), newest);
    EXPECT_EQ(rows("a"), QStringList({"user plain: Where were we?",
                                      "system refused: The engine does not know “Essay talk” — its history is no "
                                      "longer on the engine."}));
}

TEST_F(MentorTest, ACrashDuringAStartSkipsTheRestore)
{
    struct Case {
        const char *name;
        std::optional<QString> lastPrompt; // sent in a turn before the (re)start
    };
    const Case cases[] = {{"first start", std::nullopt}, {"restart after a turn", "hello"}};
    for (const Case &c : cases) {
        makeModel(home.filePath(c.name));
        if (c.lastPrompt) {
            startReady();
            Running<TurnOutcome> turn(model->send(*c.lastPrompt, std::nullopt));
            ASSERT_TRUE(answerWhenAsked(chat(), "session/prompt", json(R"({"stopReason":"end_turn"})")));
            turn.wait();
        }
        scripts = {silentChat()};
        Running<bool> start(ended(c.lastPrompt ? model->restart() : model->start()));
        FakeTransport &engine = *made.back();
        ASSERT_TRUE(asked(engine, "initialize")) << c.name;
        engine.crash();
        ASSERT_TRUE(spinUntil([&] { return model->phase().which() == Phase::Case::crashed; })) << c.name;
        ASSERT_TRUE(engine.answer("initialize", json("{}")));
        EXPECT_TRUE(start.value());
        EXPECT_EQ(model->phase(), Phase::crashed(c.lastPrompt)) << c.name;
        EXPECT_EQ(engine.requestMethods(), QStringList({"initialize"})) << c.name << ": nothing restored";
    }
    EXPECT_EQ(model->roster().size(), 1);
}

TEST_F(MentorTest, StderrTailKeepsTwentyLinesAndAFailedStartOnlyItsMessage)
{
    Script refused;
    refused.initialize = FakeTransport::Initialize::error;
    refused.error = "initialize timed out after 15 s";
    scripts = {refused};
    EXPECT_TRUE(Running(ended(model->start())).value());
    EXPECT_EQ(model->phase(), Phase::crashed(std::nullopt));
    EXPECT_EQ(model->stderrTail(), QStringList({"handshake failed: initialize timed out after 15 s"}));

    EXPECT_TRUE(Running(ended(model->restart())).value());
    ASSERT_EQ(model->phase(), Phase::ready());
    QStringList expected;
    for (int line = 1; line <= 25; ++line) {
        chat().writeStderrLine(QString("line %1").arg(line));
        if (line > 5)
            expected << QString("line %1").arg(line);
    }
    drainPosted();
    EXPECT_EQ(model->stderrTail(), expected);

    Script unlaunchable;
    unlaunchable.launchError = "No such file or directory";
    scripts = {unlaunchable};
    EXPECT_TRUE(Running(ended(model->restart())).value());
    EXPECT_EQ(model->phase(), Phase::crashed(std::nullopt));
    EXPECT_EQ(model->stderrTail(), QStringList({"spawn failed: No such file or directory"}));
}

// What the model and its engines look like the moment send() returns.
struct AtReturn {
    std::size_t engines = 0;
    int chatCloses = -1;
    bool pendingRestart = true;
};

QCoro::Task<AtReturn> sendAndLook(MentorSessionModel *model, const std::vector<std::shared_ptr<FakeTransport>> *made)
{
    co_await model->send("hello", std::nullopt);
    co_return AtReturn{made->size(), made->front()->closes, model->pendingRestart()};
}

TEST_F(MentorTest, ARestartAskedForDuringATurnRunsOnceAfterIt)
{
    startReady();
    Running<AtReturn> turn(sendAndLook(model.get(), &made));
    ASSERT_TRUE(asked(chat(), "session/prompt"));
    model->restartWhenIdle();
    model->restartWhenIdle();
    EXPECT_TRUE(model->pendingRestart());
    drainPosted();
    EXPECT_EQ(made.size(), 1u);

    ASSERT_TRUE(chat().answer("session/prompt", json(R"({"stopReason":"end_turn"})")));
    const AtReturn look = turn.value();
    // Queued, not run inside the turn's own code.
    EXPECT_EQ(look.engines, 1u);
    EXPECT_EQ(look.chatCloses, 0);
    EXPECT_FALSE(look.pendingRestart);

    ASSERT_TRUE(spinUntil(
        [&] { return made.size() == 2 && model->phase() == Phase::ready() && !model->replayingSessionID(); }));
    drainPosted();
    EXPECT_EQ(made.size(), 2u) << "the restart runs once";
    EXPECT_EQ(made[0]->closes, 1);
    EXPECT_EQ(made[1]->requestMethods(), QStringList({"initialize", "session/load"}));
    EXPECT_EQ(made[1]->requests[1].params, json(R"({"cwd":"/home/writer","mcpServers":[],"sessionId":"mentor-1"})"));
    EXPECT_EQ(made[1]->requests[1].timeout, std::chrono::minutes(30));
    EXPECT_EQ(model->activeEntry(), model->roster().first());
    EXPECT_FALSE(model->pendingRestart());
}

TEST_F(MentorTest, RestartWhenIdleActsOnlyOnceTheEngineHasStarted)
{
    model->restartWhenIdle();
    drainPosted();
    EXPECT_TRUE(made.empty()) << "idle";

    scripts = {silentChat()};
    Running<bool> start(ended(model->start()));
    model->restartWhenIdle();
    drainPosted();
    EXPECT_EQ(made.size(), 1u) << "starting";
    EXPECT_FALSE(model->pendingRestart());
    ASSERT_TRUE(made[0]->answer("initialize", json("{}")));
    EXPECT_TRUE(start.value());

    model->restartWhenIdle();
    EXPECT_EQ(made.size(), 1u) << "the restart runs later";
    EXPECT_TRUE(spinUntil([&] {
        return made.size() == 2 && model->phase() == Phase::ready() && !model->replayingSessionID();
    })) << "ready";
}

TEST_F(MentorTest, ARestartOvertakenByAnotherLeavesTheMentorToIt)
{
    struct Case {
        const char *name;
        std::function<void()> ask;
    };
    const Case cases[] = {
        {"two restarts asked for at once",
         [this] {
             model->restartWhenIdle();
             model->restartWhenIdle();
         }},
        {"restarted again at once",
         [this] {
             QCoro::Task<void> first = model->restart();
             QCoro::Task<void> second = model->restart();
         }},
    };
    startReady();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::size_t engines = made.size();
        // The first restart's engine is still in its handshake when the
        // second one begins.
        scripts = {silentChat()};
        c.ask();
        EXPECT_TRUE(spinUntil([&] {
            return made.size() == engines + 2 && model->host().chat() == made.back() && model->phase() == Phase::ready()
                   && !model->replayingSessionID();
        }));
        drainPosted();
        EXPECT_GT(made[engines]->closes, 0) << "the overtaken engine is stopped";
        EXPECT_EQ(model->phase(), Phase::ready());
        EXPECT_EQ(model->stderrTail(), QStringList());
        EXPECT_EQ(model->activeEntry(), model->roster().first());
        EXPECT_EQ(made.back()->requestMethods(), QStringList({"initialize", "session/load"}));
    }
}

TEST_F(MentorTest, ARestartResumesTheActiveEntryWhileTheRosterHoldsIt)
{
    const SessionEntry newest = entry("a", "Newest", "Essay", 2);
    const SessionEntry older = entry("b", "Older", "Notes", 1);
    seedRoster({newest, older});
    startReady();
    EXPECT_EQ(made[0]->requests[1].params->member("sessionId"), JSONValue("a"));
    ASSERT_TRUE(Running(model->resume(older)).value());
    EXPECT_EQ(model->activeEntry(), older);
    update(chat(), "a", chunk("agent_message_chunk", "half a reply"));
    ASSERT_EQ(model->transcript("a")->streamingText, "half a reply");

    struct Case {
        const char *name;
        std::function<void()> before;
        SessionEntry resumed;
    };
    const Case cases[] = {
        {"active entry in the roster", [] {}, older},
        {"no active entry", [this] { Running(ended(model->follow("No such piece"))).wait(); }, newest},
    };
    for (const Case &c : cases) {
        c.before();
        const std::size_t engines = made.size();
        EXPECT_TRUE(Running(ended(model->restart())).value());
        ASSERT_EQ(made.size(), engines + 1) << c.name;
        EXPECT_EQ(made[engines - 1]->closes, 1) << c.name;
        EXPECT_EQ(made.back()->requestMethods(), QStringList({"initialize", "session/load"})) << c.name;
        EXPECT_EQ(made.back()->requests[1].params->member("sessionId"), JSONValue(c.resumed.sessionID)) << c.name;
        EXPECT_EQ(model->activeEntry(), c.resumed) << c.name;
        EXPECT_EQ(model->phase(), Phase::ready()) << c.name;
        EXPECT_EQ(model->transcript("a") ? model->transcript("a")->streamingText : "<none>", "") << c.name;
    }
}

// --- Following the open piece ----------------------------------------------------

TEST_F(MentorTest, FollowShowsTheNewestMatchingSession)
{
    const SessionEntry essayNew = entry("c", "Essay, second try", "Essay", 3);
    const SessionEntry other = entry("e", "Other", "Other", 2);
    const SessionEntry essayOld = entry("d", "Essay, first try", "Essay", 1);
    seedRoster({essayNew, other, essayOld});
    startReady();

    struct Case {
        std::optional<QString> title;
        std::optional<SessionEntry> active;
        bool loads;
    };
    const Case cases[] = {
        {"Other", other, true},
        {"Essay", essayNew, true},
        {"Essay", essayNew, false}, // already shown
        {"Untitled", std::nullopt, false},
        {std::nullopt, std::nullopt, false},
        {"Other", other, true},
        {std::nullopt, std::nullopt, false},
    };
    for (const Case &c : cases) {
        const qsizetype requests = chat().requests.size();
        EXPECT_TRUE(Running(ended(model->follow(c.title))).value());
        EXPECT_EQ(model->activeEntry(), c.active) << c.title.value_or("no piece").toStdString();
        EXPECT_EQ(chat().requests.size(), requests + (c.loads ? 1 : 0)) << c.title.value_or("no piece").toStdString();
    }
    EXPECT_EQ(model->sessionID("Essay"), "c");
    EXPECT_EQ(model->sessionID(std::nullopt), std::nullopt);
}

TEST_F(MentorTest, FollowWaitsForTheTurnAndTheReplay)
{
    const SessionEntry essay = entry("c", "Essay", "Essay", 3);
    const SessionEntry other = entry("e", "Other", "Other", 2);
    const SessionEntry notes = entry("n", "Notes", "Notes", 1);
    startManual({essay, other, notes});

    Running<TurnOutcome> turn(model->send("hi", std::nullopt));
    ASSERT_TRUE(asked(chat(), "session/prompt"));
    EXPECT_TRUE(Running(ended(model->follow("Other"))).value());
    EXPECT_TRUE(model->pendingScope().pending);
    EXPECT_EQ(model->pendingScope().pieceTitle, "Other");
    EXPECT_EQ(model->activeEntry(), essay);
    ASSERT_TRUE(chat().answer("session/prompt", json(R"({"stopReason":"end_turn"})")));
    turn.wait();
    ASSERT_TRUE(answerWhenAsked(chat(), "session/load", json(R"({"sessionId":"e"})")));
    EXPECT_TRUE(spinUntil([&] { return model->activeEntry() == other; }));
    EXPECT_FALSE(model->pendingScope().pending);

    Running<bool> replay(model->resume(notes));
    ASSERT_TRUE(asked(chat(), "session/load"));
    EXPECT_TRUE(Running(ended(model->follow("Essay"))).value());
    EXPECT_EQ(model->pendingScope().pieceTitle, "Essay");
    ASSERT_TRUE(chat().answer("session/load", json(R"({"sessionId":"n"})")));
    EXPECT_TRUE(replay.value());
    ASSERT_TRUE(answerWhenAsked(chat(), "session/load", json(R"({"sessionId":"c"})")));
    EXPECT_TRUE(spinUntil([&] { return model->activeEntry() == essay; }));
}

// --- Session commands ------------------------------------------------------------

TEST_F(MentorTest, SessionCommandsRefuseWhileATurnStreams)
{
    const SessionEntry active = entry("a", "Draft talk", "Essay", 2);
    const SessionEntry other = entry("b", "Older", "Notes", 1);
    struct Case {
        const char *name;
        Command command;
        QString method;
        QStringList refusedAtOnce;
        QString refusedOnAnswer;
    };
    const Case cases[] = {
        {"new session",
         [](MentorSessionModel &m) { return madeOne(m.newSession("New Session", "Essay")); },
         "session/new",
         {"system refused: Session refused — the mentor is mid-turn."},
         "system refused: Session refused — the mentor is mid-turn."},
        {"resume",
         [&](MentorSessionModel &m) { return m.resume(other); },
         "session/load",
         {"system refused: Resume refused — the mentor is mid-turn."},
         "system refused: Resume refused — the mentor is mid-turn."},
        {"fork",
         [](MentorSessionModel &m) { return madeOne(m.fork()); },
         "session/fork",
         {},
         "system refused: Fork refused — the mentor is mid-turn."},
    };
    for (const Case &c : cases) {
        startManual({active, other});

        // A turn already streams: refused before anything is sent.
        Running<TurnOutcome> turn(model->send("hi", std::nullopt));
        ASSERT_TRUE(asked(chat(), "session/prompt"));
        const QStringList sent = chat().requestMethods();
        EXPECT_FALSE(Running(c.command(*model)).value()) << c.name;
        EXPECT_EQ(chat().requestMethods(), sent) << c.name;
        EXPECT_EQ(rows("a"), QStringList{"user plain: hi"} + c.refusedAtOnce) << c.name;
        ASSERT_TRUE(chat().answer("session/prompt", json(R"({"stopReason":"end_turn"})")));
        turn.wait();

        // A turn starts while the engine works on the command.
        Running<bool> command(c.command(*model));
        ASSERT_TRUE(asked(chat(), c.method)) << c.name;
        Running<TurnOutcome> late(model->send("again", std::nullopt));
        ASSERT_TRUE(asked(chat(), "session/prompt")) << c.name;
        ASSERT_TRUE(chat().answer(c.method, json(R"({"sessionId":"late"})")));
        EXPECT_FALSE(command.value()) << c.name;
        EXPECT_EQ(rows("a").last(), c.refusedOnAnswer) << c.name;
        EXPECT_EQ(model->activeEntry(), active) << c.name;
        EXPECT_EQ(model->roster(), QList<SessionEntry>({active, other})) << c.name;
        ASSERT_TRUE(chat().answer("session/prompt", json(R"({"stopReason":"end_turn"})")));
        late.wait();
    }
}

TEST_F(MentorTest, NewSessionsAndForksNeedAUsableAnswer)
{
    const SessionEntry active = entry("a", "Draft talk", "Essay", 1);
    struct Case {
        const char *name;
        bool fork;
        std::optional<JSONValue> answer;
        std::optional<QString> error;
        QString row;
    };
    const QString noID = "system refused: Session refused — the engine returned no id.";
    const QString noFork = "system refused: Fork refused — the engine returned no new session.";
    const Case cases[] = {
        {"empty id", false, json(R"({"sessionId":""})"), {}, noID},
        {"number id", false, json(R"({"sessionId":5})"), {}, noID},
        {"not an object", false, json(R"("s1")"), {}, noID},
        {"no result", false, std::nullopt, {}, noID},
        {"error", false, {}, "-32000: busy", "system refused: Session refused — -32000: busy"},
        {"fork: empty id", true, json(R"({"sessionId":""})"), {}, noFork},
        {"fork: no id", true, json(R"({})"), {}, noFork},
        {"fork: error", true, {}, "-32000: busy", "system failed: Fork failed — -32000: busy"},
    };
    for (const Case &c : cases) {
        startManual({active});
        const QString method = c.fork ? "session/fork" : "session/new";
        Running<std::optional<SessionEntry>> command(c.fork ? model->fork()
                                                            : model->newSession("New Session", "Essay"));
        ASSERT_TRUE(c.error ? failWhenAsked(chat(), method, *c.error) : answerWhenAsked(chat(), method, c.answer));
        EXPECT_EQ(command.value(), std::nullopt) << c.name;
        EXPECT_EQ(rows("a"), QStringList({c.row})) << c.name;
        EXPECT_EQ(model->roster(), QList<SessionEntry>({active})) << c.name;
        EXPECT_EQ(model->activeEntry(), active) << c.name;
    }
}

TEST_F(MentorTest, NewSessionsAndForksGoFirstInTheSavedRoster)
{
    const SessionEntry source = entry("a", "Draft talk", "Essay", 1);
    startManual({source});

    Running<std::optional<SessionEntry>> fork(model->fork());
    ASSERT_TRUE(answerWhenAsked(chat(), "session/fork", json(R"({"sessionId":"f1"})")));
    const std::optional<SessionEntry> forked = fork.value();
    ASSERT_TRUE(forked);
    EXPECT_EQ(chat().requests.back().params, json(R"({"cwd":"/home/writer","mcpServers":[],"sessionId":"a"})"));
    EXPECT_EQ(chat().requests.back().timeout, std::chrono::seconds(15));
    EXPECT_EQ(forked->sessionID, "f1");
    EXPECT_EQ(forked->name, "Draft talk (fork)");
    EXPECT_EQ(forked->pieceTitle, "Essay");

    Running<std::optional<SessionEntry>> fresh(model->newSession("New Session", "Notes"));
    ASSERT_TRUE(answerWhenAsked(chat(), "session/new", json(R"({"sessionId":"n1"})")));
    const std::optional<SessionEntry> created = fresh.value();
    ASSERT_TRUE(created);
    EXPECT_EQ(created->name, "New Session");
    EXPECT_EQ(created->pieceTitle, "Notes");

    EXPECT_EQ(model->roster(), QList<SessionEntry>({*created, *forked, source}));
    EXPECT_EQ(MentorSessionModel::loadRoster(rosterDir()), model->roster());
    EXPECT_EQ(model->activeEntry(), created);
    EXPECT_EQ(rows("n1"), QStringList());
    EXPECT_EQ(rows("f1"), QStringList());
}

TEST_F(MentorTest, ResumeAcceptsEitherFormOfTheSessionID)
{
    const SessionEntry active = entry("a", "Draft talk", "Essay", 2);
    const SessionEntry old = entry("b", "Old draft", "Notes", 1);
    const QString unknown =
        "system refused: The engine does not know “Old draft” — its history is no longer on the engine.";
    struct Case {
        const char *name;
        std::optional<JSONValue> answer;
        std::optional<QString> error;
        std::optional<QString> notice; // none: loaded and shown
    };
    const Case cases[] = {
        {"top level", json(R"({"sessionId":"b"})"), {}, {}},
        {"provenance", json(R"({"_meta":{"hermes":{"sessionProvenance":{"acpSessionId":"b"}}}})"), {}, {}},
        {"number, then provenance",
         json(R"({"sessionId":5,"_meta":{"hermes":{"sessionProvenance":{"acpSessionId":"b"}}}})"),
         {},
         {}},
        {"empty top level first",
         json(R"({"sessionId":"","_meta":{"hermes":{"sessionProvenance":{"acpSessionId":"b"}}}})"),
         {},
         unknown},
        {"broken provenance", json(R"({"_meta":{"hermes":["sessionProvenance"]}})"), {}, unknown},
        {"empty object", json("{}"), {}, unknown},
        {"not an object", json(R"("b")"), {}, unknown},
        {"error", {}, "-32000: gone", "system failed: Resume failed — -32000: gone"},
    };
    for (const Case &c : cases) {
        startManual({active, old});
        Running<bool> resume(model->resume(old));
        ASSERT_TRUE(asked(chat(), "session/load")) << c.name;
        EXPECT_EQ(model->replayingSessionID(), "b");
        EXPECT_EQ(chat().requests.back().params, json(R"({"cwd":"/home/writer","mcpServers":[],"sessionId":"b"})"));
        EXPECT_EQ(chat().requests.back().timeout, std::chrono::minutes(30));
        update(chat(), "b", chunk("agent_message_chunk", "an earlier reply"));
        ASSERT_TRUE(c.error ? chat().fail("session/load", *c.error) : chat().answer("session/load", c.answer));
        EXPECT_EQ(resume.value(), !c.notice) << c.name;
        EXPECT_EQ(model->replayingSessionID(), std::nullopt) << c.name;
        EXPECT_EQ(model->activeEntry(), c.notice ? active : old) << c.name;
        QStringList expected = {"agent plain: an earlier reply"};
        if (c.notice)
            expected << *c.notice;
        EXPECT_EQ(rows("b"), expected) << c.name;
        EXPECT_EQ(model->roster().size(), 2) << c.name;
    }
}

TEST_F(MentorTest, ASecondResumeWaitsForNoReplay)
{
    const SessionEntry active = entry("a", "Active", "Essay", 3);
    const SessionEntry first = entry("b", "First", "Notes", 2);
    const SessionEntry second = entry("c", "Second", "Other", 1);
    startManual({active, first, second});
    Running<bool> replay(model->resume(first));
    ASSERT_TRUE(asked(chat(), "session/load"));
    EXPECT_FALSE(Running(model->resume(second)).value());
    EXPECT_EQ(rows("a"), QStringList({"system refused: Resume refused — another session is loading."}));
    EXPECT_EQ(model->replayingSessionID(), "b");
    EXPECT_EQ(chat().waiting("session/load"), 1);
    ASSERT_TRUE(chat().answer("session/load", json(R"({"sessionId":"b"})")));
    EXPECT_TRUE(replay.value());
    EXPECT_EQ(model->activeEntry(), first);
}

TEST_F(MentorTest, BlankMessagesAreNotSent)
{
    startReady();
    for (const char *text : {"", "   ", "\n\t \n"}) {
        EXPECT_EQ(Running(model->send(text, std::nullopt)).value(), TurnOutcome::failed());
        EXPECT_EQ(rows("mentor-1"), QStringList());
        EXPECT_FALSE(model->isStreaming());
    }
    EXPECT_EQ(model->lastPrompt(), std::nullopt);
    EXPECT_FALSE(chat().requestMethods().contains("session/prompt"));
}

TEST_F(MentorTest, LabelledPromptsShowTheLabelAndSendTheWholeText)
{
    struct Case {
        const char *name;
        Command run;
        bool newSession;
        QString row;
        QString prompt;
    };
    const Case cases[] = {
        {"message", [](MentorSessionModel &m) { return finished(m.send("  hello there \n", std::nullopt)); }, false,
         "user plain: hello there", "hello there"},
        {"compact", [](MentorSessionModel &m) { return ended(m.compact()); }, false, "system plain: Compact…",
         "/compress"},
        {"brainstorm", [](MentorSessionModel &m) { return madeOne(m.startBrainstorm("Essay")); }, true,
         "system plain: Brainstorm", MentorSessionModel::brainstormKickoff},
    };
    for (const Case &c : cases) {
        startManual({entry("a", "Draft talk", "Essay", 1)});
        Running<bool> run(c.run(*model));
        if (c.newSession) {
            ASSERT_TRUE(answerWhenAsked(chat(), "session/new", json(R"({"sessionId":"bs"})")));
        }
        ASSERT_TRUE(asked(chat(), "session/prompt")) << c.name;
        const QString id = c.newSession ? "bs" : "a";
        EXPECT_EQ(chat().requests.back().params, promptParams(id, c.prompt)) << c.name;
        EXPECT_EQ(chat().requests.back().timeout, std::chrono::minutes(30));
        EXPECT_EQ(rows(id), QStringList({c.row})) << c.name;
        EXPECT_EQ(model->lastPrompt(), c.prompt) << c.name;
        EXPECT_TRUE(model->isStreaming());
        ASSERT_TRUE(chat().answer("session/prompt", json(R"({"stopReason":"end_turn"})")));
        EXPECT_TRUE(run.value()) << c.name;
        EXPECT_FALSE(model->isStreaming());
        if (c.newSession) {
            EXPECT_EQ(model->roster().first().name, "Brainstorm");
            EXPECT_EQ(model->roster().first().pieceTitle, "Essay");
            EXPECT_EQ(model->activeEntry(), model->roster().first());
        }
    }
    EXPECT_EQ(MentorSessionModel::brainstormKickoff.size(), 183);
}

TEST_F(MentorTest, CancelReachesTheEngineOfTheRunningTurn)
{
    startReady();
    model->cancelTurn();
    EXPECT_TRUE(chat().notified.empty()) << "no turn runs";

    Running<TurnOutcome> turn(model->send("hi", std::nullopt));
    ASSERT_TRUE(asked(chat(), "session/prompt"));
    model->cancelTurn();
    ASSERT_EQ(chat().notified.size(), 1u);
    EXPECT_EQ(chat().notified[0].method, "session/cancel");
    EXPECT_EQ(chat().notified[0].params, json(R"({"sessionId":"mentor-1"})"));
    EXPECT_TRUE(model->isStreaming()) << "the answer ends the turn";
    ASSERT_TRUE(chat().answer("session/prompt", json(R"({"stopReason":"cancelled"})")));
    EXPECT_EQ(turn.value(), TurnOutcome::cancelled());
    EXPECT_EQ(rows("mentor-1"), QStringList({"user plain: hi"}));

    // Before the pass session exists only the request is recorded.
    Running<TurnOutcome> pass1(model->runPass("pennora-pass1", "Pass 1", "Pass Pass 1 instruction", "Essay"));
    ASSERT_TRUE(spinUntil([&] { return model->host().oneShot() && oneShot().waiting("session/new") == 1; }));
    model->cancelTurn();
    EXPECT_TRUE(model->passCancelRequested());
    EXPECT_TRUE(oneShot().notified.empty());
    ASSERT_TRUE(oneShot().answer("session/new", json(R"({"sessionId":"p1"})")));
    EXPECT_EQ(pass1.value(), TurnOutcome::cancelled());
    EXPECT_EQ(made.back()->requestMethods(), QStringList({"initialize", "session/new"})) << "no prompt sent";
    EXPECT_EQ(rows("pass"), QStringList({"system plain: Pass 1 cancelled."}));

    Running<TurnOutcome> pass2(model->runPass("pennora-pass2", "Pass 2", "Pass Pass 2 instruction", "Essay"));
    ASSERT_TRUE(spinUntil(
        [&] { return model->host().oneShot() && oneShot().answer("session/new", json(R"({"sessionId":"p2"})")); }));
    ASSERT_TRUE(asked(oneShot(), "session/prompt"));
    model->cancelTurn();
    ASSERT_EQ(oneShot().notified.size(), 1u);
    EXPECT_EQ(oneShot().notified[0].params, json(R"({"sessionId":"p2"})"));
    ASSERT_TRUE(oneShot().answer("session/prompt", json(R"({"stopReason":"cancelled"})")));
    EXPECT_EQ(pass2.value(), TurnOutcome::cancelled());
    EXPECT_EQ(chat().notified.size(), 1u);
    EXPECT_FALSE(model->passCancelRequested());
}

// --- Update routing --------------------------------------------------------------

TEST_F(MentorTest, LiveChunksGrowTheStreamingTexts)
{
    startReady();
    Running<TurnOutcome> turn(model->send("hi", std::nullopt));
    ASSERT_TRUE(asked(chat(), "session/prompt"));
    update(chat(), "mentor-1", chunk("agent_message_chunk", "Hel"));
    update(chat(), "mentor-1", chunk("agent_thought_chunk", "Let me"));
    update(chat(), "mentor-1", chunk("agent_message_chunk", "lo"));
    update(chat(), "mentor-1", chunk("agent_thought_chunk", " think"));
    update(chat(), "mentor-1", chunk("user_message_chunk", "an echo of mine"));
    update(chat(), "stranger", chunk("agent_message_chunk", "not ours"));

    // Malformed notifications change nothing.
    const std::optional<JSONValue> ignored[] = {
        std::nullopt,
        json("{}"),
        json(R"({"sessionId":5,"update":{"sessionUpdate":"plan"}})"),
        json(R"({"sessionId":"mentor-1","update":"plan"})"),
        json(R"(["mentor-1"])"),
    };
    for (const std::optional<JSONValue> &params : ignored)
        model->handleNotification("session/update", params);
    model->handleNotification("session/other", updateParams("mentor-1", json(R"({"sessionUpdate":"plan"})")));

    EXPECT_EQ(model->transcript("mentor-1")->streamingText, "Hello");
    EXPECT_EQ(model->transcript("mentor-1")->streamingThought, "Let me think");
    EXPECT_EQ(rows("mentor-1"), QStringList({"user plain: hi"}));
    EXPECT_EQ(model->transcript("stranger"), nullptr);
    ASSERT_TRUE(chat().answer("session/prompt", json(R"({"stopReason":"end_turn"})")));
    turn.wait();
}

TEST_F(MentorTest, ReplayedUpdatesBecomeRowsInTheirOrder)
{
    startManual({entry("a", "Active", "Essay", 2), entry("b", "Old", "Notes", 1)});
    Running<bool> resume(model->resume(entry("b", "Old", "Notes", 1)));
    ASSERT_TRUE(asked(chat(), "session/load"));
    struct Case {
        JSONValue update;
        QString row;
    };
    const Case cases[] = {
        {chunk("agent_message_chunk", "Hi"), "agent plain: Hi"},
        {chunk("agent_message_chunk", "Operation interrupted: stopped"),
         "system interrupted: Operation interrupted: stopped"},
        {chunk("agent_thought_chunk", "pondering"), "thought: pondering"},
        {chunk("user_message_chunk", "Pass Pass 1 — read for structure"),
         "system kickoff: Pass Pass 1 — read for structure"},
        {chunk("user_message_chunk", "What next?"), "user plain: What next?"},
        {json(R"({"sessionUpdate":"agent_message_chunk","content":"Hi"})"), "agent plain: "},
        {json(R"({"content":{"text":"x","type":"text"},"b":[2,1],"a":true})"),
         R"(raw unknown: {"a":true,"b":[2,1],"content":{"text":"x","type":"text"}})"},
        {json(R"({"sessionUpdate":5})"), R"(raw unknown: {"sessionUpdate":5})"},
        {json(R"({"sessionUpdate":"plan","entries":[]})"), R"(raw plan: {"entries":[],"sessionUpdate":"plan"})"},
    };
    QStringList expected;
    for (const Case &c : cases) {
        update(chat(), "b", c.update);
        expected << c.row;
    }
    ASSERT_TRUE(chat().answer("session/load", json(R"({"sessionId":"b"})")));
    EXPECT_TRUE(resume.value());
    EXPECT_EQ(rows("b"), expected);
    EXPECT_EQ(model->transcript("b")->streamingText, "");
}

// --- Turns -----------------------------------------------------------------------

TEST_F(MentorTest, TurnOutcomesAndTheRowsTheyLeave)
{
    struct Case {
        const char *name;
        std::optional<JSONValue> answer;
        std::optional<QString> failure; // the prompt request fails with it
        bool crashFirst = false;        // the crash report comes before the failure
        TurnOutcome outcome;
        QStringList notices; // between the prompt row and the streamed rows
        QString thought = "thinking";
        QString reply = "The reply ";
    };
    const QStringList none;
    const Case cases[] = {
        {"end_turn", json(R"({"stopReason":"end_turn"})"), {}, false, TurnOutcome::ended("end_turn"), none},
        {"max_tokens", json(R"({"stopReason":"max_tokens"})"), {}, false, TurnOutcome::ended("max_tokens"), none},
        {"refusal",
         json(R"({"stopReason":"refusal"})"),
         {},
         false,
         TurnOutcome::ended("refusal"),
         {"agent refused: (refused the prompt)"}},
        {"cancelled", json(R"({"stopReason":"cancelled"})"), {}, false, TurnOutcome::cancelled(), none},
        {"empty object", json("{}"), {}, false, TurnOutcome::failed(), none},
        {"empty stop reason", json(R"({"stopReason":""})"), {}, false, TurnOutcome::failed(), none},
        {"number stop reason", json(R"({"stopReason":1})"), {}, false, TurnOutcome::failed(), none},
        {"not an object", json(R"("end_turn")"), {}, false, TurnOutcome::failed(), none},
        {"no result", std::nullopt, {}, false, TurnOutcome::failed(), none},
        {"request failed",
         {},
         "-32603: boom",
         false,
         TurnOutcome::failed(),
         {"agent connectionLost: connection lost — -32603: boom"}},
        {"failed after a crash", {}, "engine closed", true, TurnOutcome::failed(), none},
        {"interrupted reply",
         json(R"({"stopReason":"end_turn"})"),
         {},
         false,
         TurnOutcome::ended("end_turn"),
         none,
         "",
         "Operation interrupted: stopped"},
        {"nothing streamed",
         json(R"({"stopReason":"end_turn"})"),
         {},
         false,
         TurnOutcome::ended("end_turn"),
         none,
         "",
         ""},
    };
    for (const Case &c : cases) {
        makeModel(home.filePath(c.name));
        startReady();
        Running<TurnOutcome> turn(model->send("hi", std::nullopt));
        ASSERT_TRUE(asked(chat(), "session/prompt")) << c.name;
        if (!c.thought.isEmpty())
            update(chat(), "mentor-1", chunk("agent_thought_chunk", c.thought));
        if (!c.reply.isEmpty())
            update(chat(), "mentor-1", chunk("agent_message_chunk", c.reply));
        if (c.crashFirst) {
            chat().crash();
            ASSERT_TRUE(spinUntil([&] { return model->phase() == Phase::crashed("hi"); })) << c.name;
        }
        ASSERT_TRUE(c.failure ? chat().fail("session/prompt", *c.failure) : chat().answer("session/prompt", c.answer));
        EXPECT_EQ(turn.value(), c.outcome) << c.name;

        QStringList expected = QStringList{"user plain: hi"} + c.notices;
        if (!c.thought.isEmpty())
            expected << "thought: " + c.thought;
        if (c.reply.startsWith("Operation interrupted:"))
            expected << "system interrupted: " + c.reply;
        else if (!c.reply.isEmpty())
            expected << "agent plain: " + c.reply;
        EXPECT_EQ(rows("mentor-1"), expected) << c.name;
        EXPECT_EQ(model->transcript("mentor-1")->streamingText, "") << c.name;
        EXPECT_EQ(model->transcript("mentor-1")->streamingThought, "") << c.name;
        EXPECT_FALSE(model->isStreaming()) << c.name;
        EXPECT_EQ(model->lastPrompt(), "hi");
    }
}

// --- Passes and the Blind Read -------------------------------------------------

TEST_F(MentorTest, APassRunsOnAOneShotEngineUnderThePassKey)
{
    startReady();
    Running<TurnOutcome> pass(model->runPass("pennora-pass1", "Pass 1", "Pass Pass 1 instruction", "Essay"));
    ASSERT_TRUE(spinUntil([&] { return model->host().oneShot() && oneShot().waiting("session/new") == 1; }));
    const std::shared_ptr<FakeTransport> engine = made.back();
    EXPECT_EQ(engine->profile, "pennora-pass1");
    EXPECT_EQ(engine->requests.back().params, json(R"({"cwd":"/home/writer","mcpServers":[]})"));
    EXPECT_EQ(engine->requests.back().timeout, std::chrono::seconds(15));
    ASSERT_TRUE(model->activeEntry());
    EXPECT_EQ(model->activeEntry()->sessionID, "pass");
    EXPECT_EQ(model->activeEntry()->name, "Pass 1 · Essay");
    EXPECT_EQ(model->activeEntry()->pieceTitle, "Essay");
    EXPECT_TRUE(model->isStreaming());
    EXPECT_EQ(model->passWireID(), std::nullopt);

    ASSERT_TRUE(engine->answer("session/new", json(R"({"sessionId":"p1"})")));
    ASSERT_TRUE(asked(*engine, "session/prompt"));
    EXPECT_EQ(model->passWireID(), "p1");
    EXPECT_EQ(engine->requests.back().params, promptParams("p1", "Pass Pass 1 instruction"));
    EXPECT_EQ(engine->requests.back().timeout, std::chrono::minutes(30));
    update(*engine, "p1", chunk("agent_thought_chunk", "reading"));
    update(
        *engine, "p1",
        json(R"({"sessionUpdate":"tool_call","rawInput":{"piece_path":"p","cards":[{"pattern":"P","problem":"x"}]}})"));
    update(*engine, "p1", chunk("agent_message_chunk", "Verdict"));
    ASSERT_TRUE(engine->answer("session/prompt", json(R"({"stopReason":"end_turn"})")));
    EXPECT_EQ(pass.value(), TurnOutcome::ended("end_turn"));
    EXPECT_EQ(rows("pass"), QStringList({"system plain: Pass 1", "card: P / x /  / engine / proposed",
                                         "thought: reading", "agent plain: Verdict"}));
    EXPECT_EQ(engine->closes, 1);
    EXPECT_EQ(model->host().oneShot(), nullptr);
    EXPECT_EQ(model->passWireID(), std::nullopt);
    EXPECT_FALSE(model->passCancelRequested());
    EXPECT_FALSE(model->isStreaming());
    EXPECT_EQ(model->activeEntry()->sessionID, "pass");
    EXPECT_EQ(rows("mentor-1"), QStringList());

    // The pass transcript only shows.
    EXPECT_EQ(Running(model->send("hi", std::nullopt)).value(), TurnOutcome::failed());
    EXPECT_EQ(rows("pass").last(),
              "system refused: Pick or start a session to chat — the pass transcript is read-only.");
    EXPECT_FALSE(chat().requestMethods().contains("session/prompt"));

    // A second Pass shows its rows only.
    Running<TurnOutcome> second(model->runPass("pennora-pass2", "Pass 2", "Pass Pass 2 instruction", "Essay"));
    ASSERT_TRUE(spinUntil(
        [&] { return model->host().oneShot() && oneShot().answer("session/new", json(R"({"sessionId":"p2"})")); }));
    ASSERT_TRUE(answerWhenAsked(*made.back(), "session/prompt", json(R"({"stopReason":"end_turn"})")));
    EXPECT_EQ(second.value(), TurnOutcome::ended("end_turn"));
    EXPECT_EQ(made.back()->profile, "pennora-pass2");
    EXPECT_EQ(rows("pass"), QStringList({"system plain: Pass 2"}));
}

TEST_F(MentorTest, PassFailuresLeaveOneNotice)
{
    Script refusing;
    refusing.initialize = FakeTransport::Initialize::error;
    Script unlaunchable;
    unlaunchable.launchError = "Permission denied";
    struct Case {
        const char *name;
        std::optional<Script> script;
        std::optional<JSONValue> newAnswer; // none: session/new is not reached
        std::optional<QString> newError;
        std::optional<QString> promptError;
        TurnOutcome outcome;
        QStringList rows;
    };
    const Case cases[] = {
        {"engine cannot start",
         unlaunchable,
         {},
         {},
         {},
         TurnOutcome::failed(),
         {"system failed: Pass 1 failed — spawn failed: Permission denied"}},
        {"handshake refused",
         refusing,
         {},
         {},
         {},
         TurnOutcome::failed(),
         {"system failed: Pass 1 failed — handshake failed: 7: refused"}},
        {"session/new fails",
         {},
         {},
         "-32000: no",
         {},
         TurnOutcome::failed(),
         {"system failed: Pass 1 failed — -32000: no"}},
        {"no session id",
         {},
         json(R"({"sessionId":""})"),
         {},
         {},
         TurnOutcome::failed(),
         {"system failed: Pass 1 failed — the engine refused a session."}},
        {"prompt fails",
         {},
         json(R"({"sessionId":"p1"})"),
         {},
         "-32603: lost",
         TurnOutcome::failed(),
         {"system plain: Pass 1", "agent connectionLost: connection lost — -32603: lost"}},
    };
    startReady();
    for (const Case &c : cases) {
        if (c.script)
            scripts = {*c.script};
        Running<TurnOutcome> pass(model->runPass("pennora-pass1", "Pass 1", "Pass Pass 1 instruction", "Essay"));
        if (c.newError) {
            ASSERT_TRUE(failWhenAsked(*made.back(), "session/new", *c.newError)) << c.name;
        } else if (c.newAnswer) {
            ASSERT_TRUE(answerWhenAsked(*made.back(), "session/new", *c.newAnswer)) << c.name;
        }
        if (c.promptError) {
            ASSERT_TRUE(failWhenAsked(*made.back(), "session/prompt", *c.promptError)) << c.name;
        }
        EXPECT_EQ(pass.value(), c.outcome) << c.name;
        EXPECT_EQ(rows("pass"), c.rows) << c.name;
        EXPECT_EQ(made.back()->closes, 1) << c.name;
        EXPECT_EQ(model->passWireID(), std::nullopt) << c.name;
        EXPECT_FALSE(model->passCancelRequested()) << c.name;
        EXPECT_FALSE(model->isStreaming()) << c.name;
    }
}

TEST_F(MentorTest, APassThatCannotStartChangesNothing)
{
    struct Case {
        const char *name;
        std::function<void()> setUp;
    };
    std::optional<Running<TurnOutcome>> turn;
    const Case cases[] = {
        {"engine not started", [] {}},
        {"no engine path",
         [this] {
             startReady();
             model->setBinaryPath(std::nullopt);
         }},
        {"a chat turn streams",
         [&] {
             startReady();
             turn.emplace(model->send("hi", std::nullopt));
             ASSERT_TRUE(asked(chat(), "session/prompt"));
         }},
    };
    for (const Case &c : cases) {
        makeModel(home.filePath(c.name));
        c.setUp();
        const std::size_t engines = made.size();
        const std::optional<SessionEntry> active = model->activeEntry();
        const bool streaming = model->isStreaming();
        Running<TurnOutcome> pass(model->runPass("pennora-pass1", "Pass 1", "Pass Pass 1 instruction", "Essay"));
        EXPECT_TRUE(pass.done()) << c.name;
        EXPECT_EQ(pass.value(), TurnOutcome::failed()) << c.name;
        EXPECT_EQ(made.size(), engines) << c.name;
        EXPECT_EQ(model->transcript("pass"), nullptr) << c.name;
        EXPECT_EQ(model->activeEntry(), active) << c.name;
        EXPECT_EQ(model->isStreaming(), streaming) << c.name;
    }
    ASSERT_TRUE(chat().answer("session/prompt", json(R"({"stopReason":"end_turn"})")));
    turn->wait();
}

TEST_F(MentorTest, TheBlindReadShowsItsKeyOnlyUnderAVerdict)
{
    const QString key = "A is the revision, B the original.";
    struct Case {
        const char *name;
        std::optional<JSONValue> answer;
        TurnOutcome outcome;
        QStringList rows;
    };
    const Case cases[] = {
        {"verdict",
         json(R"({"stopReason":"end_turn"})"),
         TurnOutcome::ended("end_turn"),
         {"system plain: Blind Read", "agent plain: A, because", "system plain: " + key}},
        {"refused",
         json(R"({"stopReason":"refusal"})"),
         TurnOutcome::ended("refusal"),
         {"system plain: Blind Read", "agent refused: (refused the prompt)", "agent plain: A, because"}},
        {"cancelled",
         json(R"({"stopReason":"cancelled"})"),
         TurnOutcome::cancelled(),
         {"system plain: Blind Read", "agent plain: A, because"}},
        {"no stop reason", json("{}"), TurnOutcome::failed(), {"system plain: Blind Read", "agent plain: A, because"}},
    };
    startReady();
    for (const Case &c : cases) {
        scripts = {Script()}; // the one-shot engine on the chat profile answers nothing by itself
        Running<TurnOutcome> read(model->runBlindRead("Which reads better?", "Essay", key));
        ASSERT_TRUE(spinUntil(
            [&] { return model->host().oneShot() && oneShot().answer("session/new", json(R"({"sessionId":"br"})")); }));
        const std::shared_ptr<FakeTransport> engine = made.back();
        EXPECT_EQ(engine->profile, "pennora") << c.name;
        ASSERT_TRUE(asked(*engine, "session/prompt"));
        EXPECT_EQ(engine->requests.back().params, promptParams("br", "Which reads better?"));
        update(*engine, "br", chunk("agent_message_chunk", "A, because"));
        ASSERT_TRUE(engine->answer("session/prompt", c.answer));
        EXPECT_EQ(read.value(), c.outcome) << c.name;
        EXPECT_EQ(rows("pass"), c.rows) << c.name;
        EXPECT_EQ(model->activeEntry()->name, "Blind Read · Essay");
    }
}

// --- Tool-call echoes --------------------------------------------------------------

TEST_F(MentorTest, ToolCallsBecomeRows)
{
    struct Case {
        const char *name;
        const char *update;
        QStringList rows;
    };
    const Case cases[] = {
        {"research notes",
         R"({"title":"submit_research_notes","rawInput":{"piece_path":"/p/Essay","notes":[
             {"title":"Source A","url":"https://a.example"},
             {"title":"Source B","url":"https://b.example","quote":"q","note":"n"}]}})",
         {"note: Source A https://a.example pending", "note: Source B https://b.example pending"}},
        {"a note without url",
         R"({"title":"submit_research_notes","rawInput":{"piece_path":"p","notes":[{"title":"T"}]}})",
         {R"(raw submit_research_notes: {"notes":[{"title":"T"}],"piece_path":"p"})"}},
        {"three cards",
         R"({"title":"submit_fix_cards","rawInput":{"piece_path":"p","cards":[
             {"pattern":"P1","problem":"x","anchor":{"quote":"q1"}},
             {"pattern":"P2","problem":"y"},{"pattern":"P3","problem":"z"}]}})",
         {"card: P1 / x / q1 / engine / proposed"}},
        {"nothing", R"({})", {"raw tool call: {}"}},
        {"some other tool",
         R"({"title":"lookup","rawInput":{"z":1,"a":{"y":2,"b":3}}})",
         {R"(raw lookup: {"a":{"b":3,"y":2},"z":1})"}},
        {"a bare string", R"({"title":7,"rawInput":"just text"})", {R"(raw tool call: "just text")"}},
        {"a bare number", R"({"rawInput":5})", {"raw tool call: 5"}},
    };
    startReady();
    for (const Case &c : cases) {
        const std::optional<JSONValue> update = JSONValue::parse(c.update);
        ASSERT_TRUE(update) << c.name;
        JSONValue::Object object = update->toObject();
        object.insert("sessionUpdate", "tool_call");
        const QString key = QString("key-%1").arg(c.name);
        model->appendRow(SessionRow::notice("start", Kind::plain), key);
        model->handleNotification("session/update", updateParams(key, object));
        EXPECT_EQ(rows(key), QStringList{"system plain: start"} + c.rows) << c.name;
    }
    // Echoed on its own, a call makes its transcript.
    model->handleToolCall(json(R"({"rawInput":{"a":1}})"), "fresh");
    EXPECT_EQ(rows("fresh"), QStringList({R"(raw tool call: {"a":1})"}));
}

TEST_F(MentorTest, OnlyACandidateOfTheActiveTranscriptTakesADecision)
{
    startReady();
    const JSONValue notes = updateParams(
        "mentor-1",
        json(
            R"({"sessionUpdate":"tool_call","rawInput":{"piece_path":"p","notes":[{"title":"A","url":"u"},{"title":"B","url":"v"}]}})"));
    model->handleNotification("session/update", notes);
    model->appendRow(SessionRow::notice("plain text", Kind::plain), "mentor-1");
    model->handleToolCall(notes.member("update").value(), "elsewhere");
    const QList<SessionRow> before = model->transcript("mentor-1")->rows;
    const QList<SessionRow> elsewhere = model->transcript("elsewhere")->rows;
    QSignalSpy changed(model.get(), &MentorSessionModel::rowChanged);

    model->setDisposition(before[2].id, Disposition::kept("x.md"));
    model->setDisposition(elsewhere[0].id, Disposition::rejected());
    model->setDisposition(QUuid::createUuid(), Disposition::rejected());
    EXPECT_EQ(model->transcript("mentor-1")->rows, before);
    EXPECT_EQ(model->transcript("elsewhere")->rows, elsewhere);
    EXPECT_EQ(changed.count(), 0);

    model->setDisposition(before[1].id, Disposition::kept("b.md"));
    EXPECT_EQ(rows("mentor-1"), QStringList({"note: A u pending", "note: B v kept b.md", "system plain: plain text"}));
    EXPECT_EQ(model->transcript("mentor-1")->rows[1].id, before[1].id);
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed[0][0].toString(), "mentor-1");
    EXPECT_EQ(changed[0][1].toLongLong(), 1);
    EXPECT_NE(before[0].id, before[1].id);

    Running(ended(model->follow("No such piece"))).wait();
    model->setDisposition(before[0].id, Disposition::rejected());
    EXPECT_EQ(rows("mentor-1").first(), "note: A u pending");
}

TEST(SessionRow, LastAgentTextIsTheNewestNonBlankReply)
{
    const auto agent = [](const QString &text) {
        return SessionRow::make(SessionRow::text(text, Speaker::agent, Kind::plain));
    };
    struct Case {
        QList<SessionRow> rows;
        std::optional<QString> text;
    };
    const Case cases[] = {
        {{agent("first"), agent("  Final reply \n"), SessionRow::make(SessionRow::Thought{"t"}),
          SessionRow::make(SessionRow::notice("Resume refused — x", Kind::refused))},
         "Final reply"},
        {{agent("real"), agent("  \n ")}, "real"},
        {{agent("   ")}, std::nullopt},
        {{SessionRow::make(SessionRow::text("mine", Speaker::user, Kind::plain)),
          SessionRow::make(SessionRow::text("(refused the prompt)", Speaker::agent, Kind::refused)),
          SessionRow::make(SessionRow::agentReply("Operation interrupted: x"))},
         std::nullopt},
        {{}, std::nullopt},
    };
    for (const Case &c : cases)
        EXPECT_EQ(SessionRow::lastAgentText(c.rows), c.text);
}

// --- Notifications -----------------------------------------------------------------

TEST_F(MentorTest, ObserversHearOnlyRealChanges)
{
    startReady();
    SignalLog log(model.get());
    // The same path is still handed to the host.
    model->host().binaryPath = "/elsewhere";
    model->setBinaryPath("hermes");
    EXPECT_EQ(log.take(), QStringList());
    EXPECT_EQ(model->host().binaryPath, "hermes");

    struct Case {
        const char *name;
        std::function<void()> act;
        QStringList emitted;
    };
    const Case cases[] = {
        {"new engine path", [this] { model->setBinaryPath("/opt/hermes"); }, {"binaryPathChanged"}},
        {"same portal path", [this] { model->setPortalAuthPath(model->portalAuthPath()); }, {}},
        {"cwd provider", [this] { model->setCwdProvider([] { return QString("/"); }); }, {"cwdProviderChanged"}},
        {"a streamed chunk",
         [this] { update(chat(), "mentor-1", chunk("agent_message_chunk", "x")); },
         {"streamingChanged"}},
        {"a chunk for no transcript", [this] { update(chat(), "nobody", chunk("agent_message_chunk", "x")); }, {}},
        {"a stderr line", [this] { model->appendStderrLine("warn"); }, {"stderrTailChanged"}},
        {"a crash", [this] { model->engineDidCrash(); }, {"phaseChanged"}},
        {"a second crash", [this] { model->engineDidCrash(); }, {}},
    };
    for (const Case &c : cases) {
        c.act();
        EXPECT_EQ(log.take(), c.emitted) << c.name;
    }
    EXPECT_EQ(model->host().binaryPath, "/opt/hermes");
}

} // namespace
