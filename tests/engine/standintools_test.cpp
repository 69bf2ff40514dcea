// The stand-in engine calling the real tool server (`pennora --serve-mcp`)
// while it works on a Pass prompt, seen through the engine's own client.

#include "engine/acpengineclient.h"
#include "engine/passinstructions.h"
#include "review/fixcardstore.h"

#include "fakehermesscenario.h"
#include "testenv.h"
#include "testutil.h"

#include <QCoro/QCoroTask>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>
#include <gtest/gtest.h>

#include <vector>

using engine::ACPEngineClient;
using foundation::JSONValue;
using testsupport::FakeHermesScenario;
using testsupport::spinUntil;

namespace {

struct Answer {
    std::optional<JSONValue> result;
    QString error;
};

QCoro::Task<Answer> settle(QCoro::Task<std::optional<JSONValue>> task)
{
    Answer answer;
    try {
        answer.result = co_await std::move(task);
    } catch (const ACPEngineClient::TransportError &error) {
        answer.error = error.message();
    }
    co_return answer;
}

JSONValue json(const QJsonValue &value)
{
    return JSONValue::fromFoundation(value);
}

// A pass engine on the stand-in whose "session/prompt" answer is the one given.
struct StandIn {
    explicit StandIn(const QJsonObject &promptAnswer)
        : fake(QJsonObject{
            {"acp", QJsonObject{{"answers", QJsonObject{{"initialize", QJsonObject{{"result", QJsonObject()}}},
                                                        {"session/new",
                                                         QJsonObject{{"result", QJsonObject{{"sessionId", "walk-1"}}}}},
                                                        {"session/prompt", promptAnswer}}}}}}),
          client(testsupport::fakeHermesBinary(), "pennora-pass1")
    {
        client.setOnMessage([this](const QString &method, const std::optional<JSONValue> &params) {
            if (method == "session/update" && params)
                updates.push_back(*params);
        });
        client.setOnStderrLine([this](const QString &line) { stderrLines << line; });
        client.start();
    }

    Answer ask(const QString &method, const QJsonObject &params)
    {
        return QCoro::waitFor(settle(client.request(method, json(params), std::chrono::seconds(60))));
    }

    // The handshake and a new session, then the prompt.
    Answer prompt(const QString &text)
    {
        if (Answer init = ask("initialize", QJsonObject{{"protocolVersion", 1}}); !init.error.isEmpty())
            return init;
        ask("session/new", QJsonObject{{"cwd", "/"}, {"mcpServers", QJsonArray()}});
        return ask("session/prompt",
                   QJsonObject{{"sessionId", "walk-1"},
                               {"prompt", QJsonArray{QJsonObject{{"type", "text"}, {"text", text}}}}});
    }

    FakeHermesScenario fake;
    ACPEngineClient client;
    std::vector<JSONValue> updates;
    QStringList stderrLines;
};

QJsonObject card(const QString &pattern, const QString &quote, const QString &lane)
{
    return QJsonObject{{"pattern", pattern},
                       {"problem", "It drags."},
                       {"anchor", QJsonObject{{"quote", quote}}},
                       {"lane", lane},
                       {"emitter", "engine"}};
}

// The text of a tool result's one content block, as JSON when it is.
QJsonValue resultText(const QJsonObject &event)
{
    const QString text =
        event.value("result").toObject().value("content").toArray().at(0).toObject().value("text").toString();
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8());
    return document.isObject() ? QJsonValue(document.object()) : QJsonValue(text);
}

class StandInTools : public ::testing::Test {
protected:
    void SetUp() override
    {
        qputenv("FAKE_HERMES_PENNORA", testsupport::pennoraBinary().toLocal8Bit());
        testsupport::writeFile(post, "---\ntype: post\n---\n# Walk\n\nWe walked quite far, quite slowly.\n");
    }
    void TearDown() override { qunsetenv("FAKE_HERMES_PENNORA"); }

    QString passPrompt() const
    {
        return engine::instructionText(library::PassKind::pass1, QUrl::fromLocalFile(post), false);
    }

    QTemporaryDir dir;
    QString piece = dir.path() + "/Home/projects/Essays/walk";
    QString post = piece + "/post.md";
};

} // namespace

TEST_F(StandInTools, CallsReachTheRealServerStreamTheirInputAndEndTheTurn)
{
    const QJsonObject cards{
        {"cards", QJsonArray{card("Filler", "quite", "mechanical"), card("Slow start", "We walked", "demonstration")}}};
    const QJsonObject notes{
        {"notes", QJsonArray{QJsonObject{{"title", "Walking"}, {"url", "https://example.org/walk"}}}}};
    const QJsonObject unknownTool{{"piece_path", piece}}; // given paths are kept
    const QJsonObject badCard{{"cards", QJsonArray{QJsonObject{{"pattern", "No anchor"}}}}};
    StandIn s(QJsonObject{
        {"updates", QJsonArray{QJsonObject{{"sessionId", "walk-1"}, {"update", QJsonObject{{"n", 1}}}}}},
        {"toolCalls",
         QJsonArray{QJsonObject{{"tool", "submit_fix_cards"}, {"title", "File two cards"}, {"arguments", cards}},
                    QJsonObject{{"tool", "submit_research_notes"}, {"arguments", notes}},
                    QJsonObject{{"tool", "query_learnings"}},
                    QJsonObject{{"tool", "submit_nothing"}, {"arguments", unknownTool}},
                    QJsonObject{{"tool", "submit_fix_cards"}, {"arguments", badCard}}}},
        {"result", QJsonObject{{"stopReason", "end_turn"}}}});

    const Answer answer = s.prompt(passPrompt());
    EXPECT_EQ(answer.error, "");
    EXPECT_EQ(answer.result, json(QJsonObject{{"stopReason", "end_turn"}}));

    // The scripted update first, then one tool_call per call with the
    // arguments as sent.
    const auto withPiece = [&](QJsonObject arguments) {
        arguments.insert("piece_path", post);
        return arguments;
    };
    const auto toolCall = [](int n, const QString &title, const QString &status, const QJsonObject &input) {
        return json(QJsonObject{{"sessionId", "walk-1"},
                                {"update", QJsonObject{{"sessionUpdate", "tool_call"},
                                                       {"toolCallId", QStringLiteral("call-%1").arg(n)},
                                                       {"title", title},
                                                       {"status", status},
                                                       {"rawInput", input}}}});
    };
    ASSERT_TRUE(spinUntil([&] { return s.updates.size() >= 6; }));
    const std::vector<JSONValue> expected{
        json(QJsonObject{{"sessionId", "walk-1"}, {"update", QJsonObject{{"n", 1}}}}),
        toolCall(1, "File two cards", "completed", withPiece(cards)),
        toolCall(2, "submit_research_notes", "completed", withPiece(notes)),
        toolCall(3, "query_learnings", "completed", withPiece({})),
        toolCall(4, "submit_nothing", "failed", unknownTool),
        toolCall(5, "submit_fix_cards", "failed", withPiece(badCard)),
    };
    EXPECT_EQ(s.updates, expected);

    // What the server answered, and the cards it wrote beside the piece.
    const QList<QJsonObject> results = s.fake.events("toolResult");
    ASSERT_EQ(results.size(), 5);
    const QJsonArray written = resultText(results[0]).toObject().value("cards").toArray();
    ASSERT_EQ(written.size(), 2);
    EXPECT_EQ(written[0].toObject().value("anchor_status"), "valid");
    EXPECT_EQ(resultText(results[1]), QJsonObject({{"received", 1}}));
    EXPECT_EQ(resultText(results[2]), QJsonObject({{"learnings", QJsonArray()}}));
    EXPECT_EQ(resultText(results[3]), "Unknown tool: submit_nothing");
    EXPECT_TRUE(results[4].value("result").toObject().value("isError").toBool());
    EXPECT_EQ(results[4].value("tool"), "submit_fix_cards");

    QStringList patterns;
    for (const review::FixCardStore::CardFile &file : review::FixCardStore::cardFilesForPiece(piece)) {
        patterns << file.card.pattern;
        EXPECT_EQ(file.card.anchorStatus, review::FixCardStore::StoredFixCard::AnchorStatus::valid);
    }
    EXPECT_EQ(patterns, QStringList({"Filler", "Slow start"}));
    EXPECT_EQ(testsupport::entries(piece), QStringList({"cards", "post.md"}));

    const QList<QJsonObject> exits = s.fake.events("toolServerExit");
    ASSERT_EQ(exits.size(), 1);
    EXPECT_EQ(exits[0].value("status"), 0);
}

TEST_F(StandInTools, PromptsThatCannotReachTheServerGetAnErrorAnswer)
{
    struct Case {
        const char *name;
        std::optional<QString> server; // FAKE_HERMES_PENNORA, unset when none
        bool withPiece;
        QString error;
    };
    const QString notExecutable = post;
    const QString silent = QStandardPaths::findExecutable("true"); // ends without a word
    ASSERT_FALSE(silent.isEmpty());
    const Case cases[] = {
        {"unset", std::nullopt, true, "-32000: FAKE_HERMES_PENNORA is not set: no tool server to call"},
        {"not executable", notExecutable, true,
         "-32000: cannot start the tool server " + notExecutable + ": Permission denied"},
        {"silent", silent, true, "-32000: the tool server did not answer initialize"},
        {"no piece line", testsupport::pennoraBinary(), false,
         "-32000: no \"Piece: \" line in the prompt for the tool calls"},
    };
    for (const Case &c : cases) {
        if (c.server)
            qputenv("FAKE_HERMES_PENNORA", c.server->toLocal8Bit());
        else
            qunsetenv("FAKE_HERMES_PENNORA");
        StandIn s(QJsonObject{{"toolCalls", QJsonArray{QJsonObject{{"tool", "query_learnings"}}}},
                              {"result", QJsonObject{{"stopReason", "end_turn"}}}});

        const Answer answer = s.prompt(c.withPiece ? passPrompt() : QStringLiteral("Hello."));
        EXPECT_EQ(answer.error, c.error) << c.name;
        EXPECT_TRUE(s.updates.empty()) << c.name;
        EXPECT_TRUE(s.fake.events("toolResult").isEmpty()) << c.name;
    }
}

TEST_F(StandInTools, MalformedToolCallsEndTheRunAtTheStart)
{
    struct Case {
        QJsonObject answer;
        QString message;
    };
    const Case cases[] = {
        {QJsonObject{{"toolcalls", QJsonArray()}}, "answer for session/prompt: unknown key toolcalls"},
        {QJsonObject{{"toolCalls", QJsonObject()}}, "answer for session/prompt: toolCalls is not an array"},
        {QJsonObject{{"toolCalls", QJsonArray{QJsonObject{{"title", "x"}}}}},
         R"(answer for session/prompt: tool call without a tool: {"title":"x"})"},
        {QJsonObject{{"toolCalls", QJsonArray{QJsonObject{{"tool", "q"}, {"argument", QJsonObject()}}}}},
         R"(answer for session/prompt: unknown key argument in tool call {"argument":{},"tool":"q"})"},
        {QJsonObject{{"toolCalls", QJsonArray{QJsonObject{{"tool", "q"}, {"arguments", QJsonArray()}}}}},
         R"(answer for session/prompt: arguments are not an object in {"arguments":[],"tool":"q"})"},
    };
    for (const Case &c : cases) {
        StandIn s(c.answer);
        EXPECT_EQ(s.ask("initialize", QJsonObject()).error, "engine exited (code 3)") << c.message.toStdString();
        ASSERT_TRUE(spinUntil([&] { return !s.stderrLines.isEmpty(); })) << c.message.toStdString();
        EXPECT_EQ(s.stderrLines, QStringList("fakehermes: " + c.message));
    }
}
