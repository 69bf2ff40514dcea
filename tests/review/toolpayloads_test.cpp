#include "review/toolpayloads.h"
#include "testutil.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

using foundation::JSONValue;
using review::FixCardStore::CardError;
using review::FixCardStore::Input;
using Card = review::FixCardStore::StoredFixCard;
namespace ToolPayloads = review::ToolPayloads;

namespace {

JSONValue json(const char *text)
{
    const std::optional<JSONValue> value = JSONValue::parse(QByteArray(text));
    EXPECT_TRUE(value.has_value()) << text;
    return value.value_or(JSONValue());
}

// The message of the CardError that decoding throws, or "" when it passes.
template<typename Decode>
QString refusal(Decode decode)
{
    try {
        decode();
    } catch (const CardError &e) {
        return e.message();
    }
    return QString();
}

// A submission holding the given card objects (JSON text) after a valid one.
JSONValue submission(const QString &cards)
{
    return json(QStringLiteral(R"({"piece_path":"/h/projects/p/a","cards":[%1]})").arg(cards).toUtf8().constData());
}

const char *const kValidCard =
    R"({"pattern":"P","problem":"Q","lane":"mechanical","emitter":"engine","anchor":{"quote":"x"}})";

// kValidCard with one member replaced, added or (value nullptr) removed.
QString cardWith(const char *key, const char *value)
{
    QJsonObject card = QJsonDocument::fromJson(kValidCard).object();
    if (value)
        card.insert(QString::fromUtf8(key), QJsonDocument::fromJson(QByteArray("[") + value + "]").array().first());
    else
        card.remove(QString::fromUtf8(key));
    return QString::fromUtf8(QJsonDocument(card).toJson(QJsonDocument::Compact));
}

} // namespace

TEST(ToolPayloads, SubmissionMessages)
{
    struct Case {
        const char *arguments;
        const char *message;
    };
    const Case cases[] = {
        {R"([1])", "arguments must be an object"},
        {R"("text")", "arguments must be an object"},
        {R"({"cards":[]})", "piece_path is required"},
        {R"({"piece_path":null,"cards":[]})", "piece_path is required"},
        {R"({"piece_path":5,"cards":[]})", "piece_path is required"},
        {R"({"piece_path":""})", "cards is required"},
        {R"({"piece_path":"","cards":{}})", "cards is required"},
        {R"({"piece_path":"","cards":[]})", "cards must not be empty"},
        {R"({"piece_path":"","cards":["card"]})", "each card must be an object"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(refusal([&] { ToolPayloads::decodeFixCardSubmission(json(c.arguments)); }),
                  QString::fromUtf8(c.message))
            << c.arguments;
    }
}

TEST(ToolPayloads, CardMessages)
{
    struct Case {
        const char *key;
        const char *value; // nullptr: the key is removed
        const char *message;
    };
    const Case cases[] = {
        {"pattern", nullptr, "card pattern is required"},
        {"pattern", "null", "card pattern is required"},
        {"pattern", "3", "card pattern is required"},
        {"problem", nullptr, "card problem is required"},
        {"lane", nullptr, "card lane must be mechanical or demonstration"},
        {"lane", R"("Mechanical")", "card lane must be mechanical or demonstration"},
        {"lane", "1", "card lane must be mechanical or demonstration"},
        {"emitter", R"("human")", "card emitter must be lint or engine"},
        {"emitter", "null", "card emitter must be lint or engine"},
        {"diagnostic_question", "[]", "card diagnostic_question must be a string"},
        {"fix", "5", "card fix must be a string"},
        {"anchor", nullptr, "card anchor must be an object"},
        {"anchor", "null", "card anchor must be an object"},
        {"anchor", R"("x")", "card anchor must be an object"},
        {"anchor", "{}", "card anchor quote is required"},
        {"anchor", R"({"quote":1})", "card anchor quote is required"},
        {"anchor", R"({"quote":"x","occurrence":2.5})", "card anchor occurrence must be an integer"},
        {"anchor", R"({"quote":"x","occurrence":"2"})", "card anchor occurrence must be an integer"},
        {"anchor", R"({"quote":"x","occurrence":true})", "card anchor occurrence must be an integer"},
        {"anchor", R"({"quote":"x","occurrence":9223372036854775808})", "card anchor occurrence must be an integer"},
        {"anchor", R"({"quote":"x","occurrence":1e300})", "card anchor occurrence must be an integer"},
        {"anchor", R"({"quote":"x","context":false})", "card anchor context must be a string"},
        {"provenance", R"("engine")", "card provenance must be an object"},
        {"provenance", "{}", "card provenance piece is required"},
        {"provenance", R"({"piece":"p","date":1})", "card provenance date must be a string"},
        {"provenance", R"({"piece":"p","engine":{}})", "card provenance engine must be a string"},
        {"provenance", R"({"piece":"p","pass":1.5})", "card provenance pass must be an integer"},
    };
    for (const Case &c : cases) {
        const QString card = cardWith(c.key, c.value);
        EXPECT_EQ(refusal([&] { ToolPayloads::decodeCard(json(card.toUtf8().constData())); }),
                  QString::fromUtf8(c.message))
            << card.toStdString();
        // The whole submission fails on that card, whatever came before it.
        EXPECT_EQ(refusal([&] { ToolPayloads::decodeFixCardSubmission(submission(QString(kValidCard) + "," + card)); }),
                  QString::fromUtf8(c.message));
    }
}

TEST(ToolPayloads, CardChecksRunInTheirOrder)
{
    // No problem and no anchor: refused for the problem.
    EXPECT_EQ(refusal([] { ToolPayloads::decodeCard(json(R"({"pattern":"P","lane":"x"})")); }),
              QStringLiteral("card problem is required"));
    // A bad lane is found before a bad fix.
    EXPECT_EQ(refusal([] { ToolPayloads::decodeCard(json(R"({"pattern":"P","problem":"Q","lane":"x","fix":1})")); }),
              QStringLiteral("card lane must be mechanical or demonstration"));
}

TEST(ToolPayloads, DecodesCardsInFull)
{
    const auto decoded = ToolPayloads::decodeFixCardSubmission(json(R"({"piece_path":"/h/projects/p/a/post.md","cards":[
        {"pattern":" P ","problem":"Q","lane":"demonstration","emitter":"lint","diagnostic_question":"Why?","fix":"",
         "anchor":{"quote":"x","occurrence":2.0,"context":"c"},
         "provenance":{"piece":"Piece","date":"today","engine":"hermes","pass":2},"rank":9},
        {"pattern":"P2","problem":"Q2","lane":"mechanical","emitter":"engine","fix":null,
         "anchor":{"quote":"y","occurrence":null},"provenance":null}]})"));
    EXPECT_EQ(decoded.piecePath, QStringLiteral("/h/projects/p/a/post.md"));
    ASSERT_EQ(decoded.inputs.size(), 2);

    Input first;
    first.pattern = QStringLiteral(" P ");
    first.problem = QStringLiteral("Q");
    first.lane = Card::Lane::demonstration;
    first.emitter = Card::Emitter::lint;
    first.diagnosticQuestion = QStringLiteral("Why?");
    first.fix = QString(QStringLiteral(""));
    first.anchor = {QStringLiteral("x"), 2, QStringLiteral("c")};
    first.provenance = Card::Provenance{QStringLiteral("Piece"), QStringLiteral("today"), QStringLiteral("hermes"), 2};
    EXPECT_EQ(decoded.inputs[0], first);
    ASSERT_TRUE(decoded.inputs[0].fix.has_value());

    const Input &second = decoded.inputs[1];
    EXPECT_EQ(second.anchor.occurrence, 1);
    EXPECT_FALSE(second.anchor.context.has_value());
    EXPECT_FALSE(second.fix.has_value());
    EXPECT_FALSE(second.diagnosticQuestion.has_value());
    EXPECT_FALSE(second.provenance.has_value());
}

TEST(ToolPayloads, DecodesEverySubmittedCardWithoutACeiling)
{
    QStringList cards;
    for (int i = 0; i < 25; ++i)
        cards << kValidCard;
    EXPECT_EQ(ToolPayloads::decodeFixCardSubmission(submission(cards.join(','))).inputs.size(), 25);
}

TEST(ToolPayloads, IntegersAreWholeNumbersInSixtyFourBits)
{
    struct Case {
        JSONValue value;
        std::optional<qint64> integer;
    };
    const Case cases[] = {
        {JSONValue(3.0), 3},
        {JSONValue(-0.0), 0},
        {JSONValue(-9223372036854775808.0), std::numeric_limits<qint64>::min()},
        {JSONValue(9223372036854775808.0), std::nullopt},
        {JSONValue(2.5), std::nullopt},
        {JSONValue(std::numeric_limits<double>::infinity()), std::nullopt},
        {JSONValue(std::numeric_limits<double>::quiet_NaN()), std::nullopt},
        {JSONValue(true), std::nullopt},
        {JSONValue("3"), std::nullopt},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.value.wholeInteger(), c.integer) << c.value.toCompactJson().constData();
    EXPECT_EQ(ToolPayloads::optionalInteger(std::nullopt, "x"), std::nullopt);
    EXPECT_EQ(ToolPayloads::optionalInteger(JSONValue(), "x"), std::nullopt);
    EXPECT_EQ(ToolPayloads::optionalText(JSONValue(), "x"), std::nullopt);
    EXPECT_EQ(refusal([] { ToolPayloads::optionalText(JSONValue(1.0), QStringLiteral("note quote")); }),
              QStringLiteral("note quote must be a string"));
}

TEST(ToolPayloads, ResearchNoteMessages)
{
    struct Case {
        const char *arguments;
        const char *message; // "" when it passes
    };
    const Case cases[] = {
        {R"(null)", "arguments must be an object"},
        {R"({"notes":[]})", "piece_path is required"},
        {R"({"piece_path":"p"})", "notes is required"},
        {R"({"piece_path":"p","notes":"n"})", "notes is required"},
        {R"({"piece_path":"p","notes":[]})", "notes must not be empty"},
        {R"({"piece_path":"p","notes":[[]]})", "each note must be an object"},
        {R"({"piece_path":"p","notes":[{"url":"u"}]})", "note title must not be empty"},
        {R"({"piece_path":"p","notes":[{"title":"  \n\t","url":"u"}]})", "note title must not be empty"},
        {R"({"piece_path":"p","notes":[{"title":7,"url":"u"}]})", "note title must not be empty"},
        {R"({"piece_path":"p","notes":[{"title":"t","url":""}]})", "note url must not be empty"},
        {R"({"piece_path":"p","notes":[{"title":"t","url":"u","quote":1}]})", "note quote must be a string"},
        {R"({"piece_path":"p","notes":[{"title":"t","url":"u","note":false}]})", "note note must be a string"},
        {R"({"piece_path":"p","notes":[{"title":"t","url":"u","quote":null,"note":"n"}]})", ""},
        {R"({"piece_path":"p","notes":[{"title":"t","url":"u"},{"title":"t","url":" "}]})",
         "note url must not be empty"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(refusal([&] { ToolPayloads::decodeResearchNoteSubmission(json(c.arguments)); }),
                  QString::fromUtf8(c.message))
            << c.arguments;
    }
    EXPECT_EQ(ToolPayloads::decodeResearchNoteSubmission(
                  json(R"({"piece_path":"","notes":[{"title":"a","url":"u"},{"title":"b","url":"v","quote":"q"}]})")),
              2);
}

TEST(ToolPayloads, TranscriptResearchCandidatesAreAllOrNothing)
{
    const auto candidates = ToolPayloads::transcriptResearchCandidates(json(R"({"piece_path":"/p","notes":[
        {"title":" Title ","url":"https://a","quote":"q","note":5},{"title":"B","url":"https://b"}]})"));
    ASSERT_EQ(candidates.size(), 2);
    review::ResearchCandidate first;
    first.piecePath = QStringLiteral("/p");
    first.title = QStringLiteral(" Title ");
    first.url = QStringLiteral("https://a");
    first.quote = QStringLiteral("q");
    EXPECT_EQ(candidates[0], first);
    EXPECT_EQ(candidates[1].disposition, review::ResearchCandidate::Disposition::pending());

    const char *const empty[] = {
        R"({})",
        R"([{"title":"t","url":"u"}])",
        R"({"notes":[{"title":"t","url":"u"}]})",
        R"({"piece_path":"/p","notes":[]})",
        R"({"piece_path":"/p","notes":[{"title":"t","url":"u"},{"title":"t","url":""}]})",
        R"({"piece_path":"/p","notes":[{"title":"t","url":"u"},"note"]})",
    };
    for (const char *input : empty)
        EXPECT_TRUE(ToolPayloads::transcriptResearchCandidates(json(input)).isEmpty()) << input;
}

TEST(ToolPayloads, TranscriptFixCardShowsTheFirstCard)
{
    const auto card = ToolPayloads::transcriptFixCard(json(R"({"piece_path":"/p","cards":[
        {"pattern":"One","problem":"P1","diagnostic_question":"Q?","fix":"F","anchor":{"quote":"a"},"provenance":{"piece":"x"}},
        {"pattern":"Two","problem":"P2"},{"pattern":"Three","problem":"P3"},{"pattern":"Four","problem":"P4"},
        {"pattern":"Five","problem":"P5"}]})"));
    ASSERT_TRUE(card.has_value());
    EXPECT_EQ(*card, (review::FixCard{"One", "P1", "Q?", "F", "a", "engine", "proposed"}));

    // A bare card, with the camel-case question preferred and texts kept.
    EXPECT_EQ(
        ToolPayloads::transcriptFixCard(json(
            R"({"pattern":"P","problem":"Q","diagnosticQuestion":"A","diagnostic_question":"B","anchor":"text","provenance":"lint","status":"open"})")),
        (review::FixCard{"P", "Q", "A", "", "text", "lint", "open"}));
    // An empty or non-object first card falls back to the input itself.
    EXPECT_EQ(ToolPayloads::transcriptFixCard(json(R"({"pattern":"P","problem":"Q","cards":["x"]})")),
              (review::FixCard{"P", "Q", "", "", "", "engine", "proposed"}));
    EXPECT_EQ(ToolPayloads::transcriptFixCard(json(R"({"cards":[{"pattern":"P"}]})")), std::nullopt);
    EXPECT_EQ(ToolPayloads::transcriptFixCard(json(R"([{"pattern":"P","problem":"Q"}])")), std::nullopt);
}

TEST(ToolPayloads, LearningsArgsConvertSnakeCaseKeys)
{
    struct Case {
        const char *arguments;
        const char *piecePath; // nullptr: refused
    };
    const Case cases[] = {
        {R"({"piece_path":"/a/b","other":1})", "/a/b"},
        {R"({"piecePath":"/a/b"})", "/a/b"},
        {R"({"piece_Path":"/a/b"})", "/a/b"},
        {R"({"PIECE_PATH":"/a/b"})", nullptr},
        {R"({"Piece_path":"/a/b"})", nullptr},
        {R"({"piece_path_":"/a/b"})", nullptr},
        {R"({"piecepath":"/a/b"})", nullptr},
        {R"({})", nullptr},
        {R"({"piece_path":null})", nullptr},
        {R"({"piece_path":7})", nullptr},
    };
    for (const Case &c : cases) {
        const QJsonObject arguments = QJsonDocument::fromJson(c.arguments).object();
        if (c.piecePath) {
            EXPECT_EQ(review::LearningsArgs::decode(arguments).piecePath, QString::fromUtf8(c.piecePath))
                << c.arguments;
            continue;
        }
        try {
            review::LearningsArgs::decode(arguments);
            ADD_FAILURE() << c.arguments;
        } catch (const review::LearningsArgs::DecodingError &e) {
            EXPECT_TRUE(e.message().contains(QStringLiteral("piece_path"))) << e.message().toStdString();
        }
    }
}
