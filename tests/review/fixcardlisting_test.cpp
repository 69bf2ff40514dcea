#include "reviewfixture.h"

#include "foundation/fs.h"
#include "review/fixcardstore.h"
#include "review/learnings.h"
#include "synthetichome.h"
#include "testenv.h"

#include <QDir>
#include <QDirIterator>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTimeZone>

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace review;
using namespace reviewtest;
using Card = FixCardStore::StoredFixCard;

namespace {

Card card(const QString &pattern, const QDateTime &submitted, std::optional<qint64> rank)
{
    Card c;
    c.id = QUuid::createUuid();
    c.submittedAt = submitted;
    c.rank = rank;
    c.pattern = pattern;
    c.problem = QStringLiteral("problem");
    c.anchor.quote = QStringLiteral("x");
    return c;
}

} // namespace

// --- Loading ------------------------------------------------------------------------

TEST(LoadCards, KeepsOnlyReadableJsonCardFiles)
{
    Home h;
    const QString cards = h.piece(QStringLiteral("essay")) + QStringLiteral("/cards");
    const Card good = card(QStringLiteral("good"), noon(2026, 1, 1), 1);
    writeFile(cards + QStringLiteral("/good.json"), FixCardStore::encodeCard(good));
    writeFile(cards + QStringLiteral("/broken.json"), "{\"id\":");
    writeFile(cards + QStringLiteral("/upper.JSON"),
              FixCardStore::encodeCard(card(QStringLiteral("u"), noon(2026, 1, 1), 1)));
    writeFile(cards + QStringLiteral("/notes.txt"), "hello");
    QDir().mkpath(cards + QStringLiteral("/folder.json"));
    // Side files that are not plain files, or too big, are skipped unread.
    writeFile(h.root + QStringLiteral("/target.json"),
              FixCardStore::encodeCard(card(QStringLiteral("t"), noon(2026, 1, 1), 1)));
    QFile::link(h.root + QStringLiteral("/target.json"), cards + QStringLiteral("/link.json"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(cards + QStringLiteral("/fifo.json")).constData(), 0600), 0);
    Card big = card(QStringLiteral("big"), noon(2026, 1, 1), 1);
    big.problem = QString(FixCardStore::kSideFileCap, u'x');
    writeFile(cards + QStringLiteral("/big.json"), FixCardStore::encodeCard(big));

    const QList<FixCardStore::CardFile> loaded = FixCardStore::loadCards(cards);
    ASSERT_EQ(loaded.size(), 1);
    EXPECT_EQ(loaded[0].fileName, QStringLiteral("good.json"));
    EXPECT_EQ(loaded[0].card, good);
    EXPECT_TRUE(FixCardStore::loadCards(h.root + QStringLiteral("/missing")).isEmpty());
}

TEST(LoadCards, FindCardDecodesOnlyWhatCanMatch)
{
    Home h;
    const QString cards = h.piece(QStringLiteral("essay")) + QStringLiteral("/cards");
    QList<Card> all;
    for (int i = 0; i < 20; ++i) {
        all.append(card(QStringLiteral("c%1").arg(i), noon(2026, 1, 1), i));
        writeFile(cards + QStringLiteral("/c%1.json").arg(i), FixCardStore::encodeCard(all.back()));
    }
    // An id spelt with JSON escapes is still found.
    const Card escaped = card(QStringLiteral("esc"), noon(2026, 1, 1), 1);
    QByteArray bytes = FixCardStore::encodeCard(escaped);
    const QByteArray id = escaped.id.toString(QUuid::WithoutBraces).toUpper().toLatin1();
    bytes.replace(id, "\\u00" + QByteArray::number(id[0], 16) + id.mid(1));
    writeFile(cards + QStringLiteral("/escaped.json"), bytes);

    const auto found = FixCardStore::findCard(cards, all[13].id);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->fileName, QStringLiteral("c13.json"));
    EXPECT_EQ(found->card, all[13]);
    ASSERT_TRUE(FixCardStore::findCard(cards, escaped.id));
    EXPECT_EQ(FixCardStore::findCard(cards, escaped.id)->fileName, QStringLiteral("escaped.json"));
    EXPECT_FALSE(FixCardStore::findCard(cards, QUuid::createUuid()));
}

TEST(LoadCards, SyntheticHomeCardsAreRealCards)
{
    QTemporaryDir dir;
    testsupport::SyntheticHomeOptions options;
    options.projects = 2;
    options.piecesPerProject = 10;
    const auto summary = testsupport::generateSyntheticHome(dir.path(), options);
    ASSERT_GT(summary.cards, 0);
    int loaded = 0;
    QDirIterator it(dir.path(), {QStringLiteral("cards")}, QDir::Dirs, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString cards = it.next();
        loaded += int(FixCardStore::loadCards(cards).size());
        for (const QString &name : entries(cards))
            EXPECT_TRUE(name.contains(QRegularExpression("^\\d{8}-\\d{6}-pattern-\\d+\\.json$"))) << name.toStdString();
    }
    EXPECT_EQ(loaded, summary.cards);
}

// --- Order ----------------------------------------------------------------------------

TEST(CardOrder, NewestFirstThenRankThenGreaterName)
{
    const QDateTime early = noon(2026, 3, 7);
    const QDateTime later = early.addSecs(60);
    struct Row {
        QString name;
        QDateTime submitted;
        std::optional<qint64> rank;
    };
    struct Case {
        const char *what;
        QList<Row> rows;
        QStringList expected;
    };
    const Case cases[] = {
        {"a later batch leads, one batch in rank order",
         {{"b-1", early, 1}, {"later", later, 1}, {"b-3", early, 3}, {"b-2", early, 2}},
         {"later", "b-1", "b-2", "b-3"}},
        {"a ranked card before an unranked one", {{"none", early, std::nullopt}, {"two", early, 2}}, {"two", "none"}},
        {"equal date and rank: greater name first", {{"a.json", early, 1}, {"b.json", early, 1}}, {"b.json", "a.json"}},
        {"no ranks: greater name first",
         {{"a", early, std::nullopt}, {"c", early, std::nullopt}, {"b", early, std::nullopt}},
         {"c", "b", "a"}},
    };
    for (const Case &c : cases) {
        QList<FixCardStore::CardFile> files;
        for (const Row &row : c.rows)
            files.append({row.name, card(row.name, row.submitted, row.rank)});
        std::stable_sort(files.begin(), files.end(), FixCardStore::cardOrder);
        QStringList names;
        for (const auto &f : files)
            names.append(f.fileName);
        EXPECT_EQ(names, c.expected) << c.what;
    }
}

TEST(CardOrder, CardsForPieceListsAWrittenBatchInRankOrder)
{
    Home h;
    const QString piece = h.piece(QStringLiteral("essay"));
    const QDateTime first = noon(2026, 3, 7);
    FixCardStore::write(
        piece, {input(QStringLiteral("one")), input(QStringLiteral("two")), input(QStringLiteral("three"))}, first);
    FixCardStore::write(piece, {input(QStringLiteral("later"))}, first.addSecs(60));
    QStringList patterns;
    for (const Card &c : FixCardStore::cardsForPiece(piece + QStringLiteral("/post.md")))
        patterns.append(c.pattern);
    EXPECT_EQ(patterns, (QStringList{"later", "one", "two", "three"}));
    EXPECT_EQ(FixCardStore::cardsForPiece(piece).size(), 4);
}

// --- Applying ----------------------------------------------------------------------------

TEST(ApplyFix, ReplacesTheNumberedOccurrenceOfMechanicalCards)
{
    const QString text = QStringLiteral("He said it twice. He said it.");
    struct Case {
        Card::Lane lane;
        QString quote;
        qint64 occurrence;
        QString fix;
        std::optional<QString> expected;
    };
    const Case cases[] = {
        {Card::Lane::mechanical, "twice", 1, "again", QStringLiteral("He said it again. He said it.")},
        {Card::Lane::mechanical, "twice", 2, "again", std::nullopt},
        {Card::Lane::mechanical, "He said", 2, "She said", QStringLiteral("He said it twice. She said it.")},
        {Card::Lane::mechanical, " twice", 1, "", QStringLiteral("He said it. He said it.")},
        {Card::Lane::mechanical, "twice", 0, "x", std::nullopt},
        {Card::Lane::demonstration, "twice", 1, "again", std::nullopt},
    };
    for (const Case &c : cases) {
        Card k = card(QStringLiteral("p"), noon(2026, 1, 1), 1);
        k.lane = c.lane;
        k.anchor.quote = c.quote;
        k.anchor.occurrence = c.occurrence;
        k.fix = c.fix;
        EXPECT_EQ(FixCardStore::applyFix(k, text), c.expected) << c.quote.toStdString() << " #" << c.occurrence;
    }
}

// --- Promotion -------------------------------------------------------------------------

TEST(Learning, MarkdownMatchesTheGoldenFiles)
{
    Card demo = card(QStringLiteral("Throat\nclearing"), noon(2026, 3, 7), 1);
    demo.id = QUuid::fromString(QStringLiteral("3F2A9C1E-7B4D-4E8F-9A0B-1C2D3E4F5A6B"));
    demo.problem = QStringLiteral("The first paragraph warms up.");
    demo.lane = Card::Lane::demonstration;
    demo.fix = QStringLiteral("Start at the\r\nsecond paragraph.");
    EXPECT_EQ(FixCardStore::learningMarkdown(demo, noon(2026, 3, 8)).toUtf8(),
              readFile(golden(QStringLiteral("learning-demonstration.md"))));

    Card mech = card(QStringLiteral("Filler “really”"), noon(2026, 3, 7), 1);
    mech.id = QUuid::fromString(QStringLiteral("00000000-0000-4000-8000-00000000000A"));
    mech.problem = QStringLiteral("It weakens the verb.");
    mech.diagnosticQuestion = QStringLiteral("Does the sentence need it?");
    mech.lane = Card::Lane::mechanical;
    mech.emitter = Card::Emitter::lint;
    mech.fix = QStringLiteral("never kept");
    mech.provenance =
        Card::Provenance{QStringLiteral("my-essay"), QStringLiteral("not written"), QStringLiteral("hermes"), 2};
    EXPECT_EQ(FixCardStore::learningMarkdown(mech, noon(2026, 3, 8)).toUtf8(),
              readFile(golden(QStringLiteral("learning-mechanical.md"))));
}

TEST(Promote, WritesOneLearningAndRefusesASecondPromotion)
{
    Home h;
    const QString piece = h.piece(QStringLiteral("essay"));
    const auto written = FixCardStore::write(piece, {input(QStringLiteral("Same")), input(QStringLiteral("Same"))});
    const QDateTime moment = noon(2026, 3, 8);
    const QString folder = h.home + QStringLiteral("/learnings/posts");

    const Card promoted = FixCardStore::promote(piece, written[0].card.id, moment);
    EXPECT_EQ(promoted.promotedAt, moment);
    EXPECT_EQ(FixCardStore::findCard(piece + "/cards", written[0].card.id)->card.promotedAt, moment);
    EXPECT_EQ(entries(folder), QStringList{QStringLiteral("20260308-same.md")});
    EXPECT_EQ(readFile(folder + QStringLiteral("/20260308-same.md")),
              FixCardStore::learningMarkdown(written[0].card, moment).toUtf8());

    try {
        FixCardStore::promote(piece + QStringLiteral("/post.md"), written[0].card.id, moment);
        ADD_FAILURE();
    } catch (const FixCardStore::CardError &error) {
        EXPECT_EQ(error.message(), QStringLiteral("card already promoted"));
    }
    EXPECT_EQ(entries(folder).size(), 1);

    FixCardStore::promote(piece, written[1].card.id, moment);
    EXPECT_EQ(entries(folder), (QStringList{"20260308-same-2.md", "20260308-same.md"}));

    const QUuid unknown = QUuid::createUuid();
    try {
        FixCardStore::promote(piece, unknown, moment);
        ADD_FAILURE();
    } catch (const FixCardStore::CardError &error) {
        EXPECT_EQ(error.message(),
                  QStringLiteral("card not found: ") + unknown.toString(QUuid::WithoutBraces).toUpper());
    }
}

TEST(Promote, OutlinesGoToTheirOwnFolder)
{
    Home h;
    const QString piece = h.piece(QStringLiteral("plan"), QStringLiteral("---\ntype: outline\n---\n- Point\n"));
    const auto written = FixCardStore::write(piece, {input(QStringLiteral("Loose"), QStringLiteral("Point"))});
    FixCardStore::promote(piece, written[0].card.id, noon(2026, 3, 8));
    EXPECT_EQ(entries(h.home + QStringLiteral("/learnings/outlines")), QStringList{"20260308-loose.md"});
    EXPECT_FALSE(QFileInfo::exists(h.home + QStringLiteral("/learnings/posts")));
    ASSERT_EQ(FixCardStore::learningsForPiece(piece).size(), 1);
    EXPECT_EQ(FixCardStore::learningsForPiece(piece)[0].fileName, QStringLiteral("20260308-loose.md"));
}

TEST(Promote, SymlinkedLearningsAreRefused)
{
    Home h;
    const QString piece = h.piece(QStringLiteral("essay"));
    const auto written = FixCardStore::write(piece, {input(QStringLiteral("p"))});
    QDir().mkpath(h.root + QStringLiteral("/elsewhere"));
    QDir().mkpath(h.home + QStringLiteral("/learnings"));
    QFile::link(h.root + QStringLiteral("/elsewhere"), h.home + QStringLiteral("/learnings/posts"));
    try {
        FixCardStore::promote(piece, written[0].card.id, noon(2026, 3, 8));
        ADD_FAILURE();
    } catch (const FixCardStore::CardError &error) {
        EXPECT_EQ(error.message(), QStringLiteral("learnings path is a symlink: ") + h.home + "/learnings/posts");
    }
    EXPECT_TRUE(entries(h.root + QStringLiteral("/elsewhere")).isEmpty());
}

TEST(Promote, RefusesALearningOrCardFileTheReadersWouldSkip)
{
    const QDateTime now = noon(2026, 3, 7);
    const QDateTime moment = noon(2026, 3, 8);
    const qint64 cap = FixCardStore::kSideFileCap;
    const auto learningSize = [&](const FixCardStore::Input &in) {
        return FixCardStore::learningMarkdown(FixCardStore::validatedCard(in, QString(), 1, now), moment)
            .toUtf8()
            .size();
    };
    // A learning of exactly `bytes`: its problem counts twice, its engine once.
    const auto forLearning = [&](qint64 bytes) {
        FixCardStore::Input in = input(QStringLiteral("p"));
        in.problem = QStringLiteral("x");
        in.provenance = Card::Provenance{QStringLiteral("essay"), std::nullopt, QStringLiteral("e"), std::nullopt};
        const qint64 rest = bytes - (learningSize(in) - 3);
        in.problem = QString((rest - 1) / 2, u'x');
        in.provenance->engine = QString(rest - in.problem.size() * 2, u'e');
        return in;
    };
    // A card of exactly `bytes` whose learning is small: a mechanical fix
    // stays out of the learning.
    const auto forCard = [&](qint64 bytes) {
        FixCardStore::Input in = input(QStringLiteral("p"));
        in.fix = QStringLiteral("x");
        const qint64 rest =
            bytes - (FixCardStore::encodeCard(FixCardStore::validatedCard(in, QString(), 1, now)).size() - 1);
        in.fix = QString(rest, u'x');
        return in;
    };
    struct Case {
        const char *what;
        FixCardStore::Input in;
        const char *refusedAs; // the file that would pass the cap, none when promoted
    };
    const Case cases[] = {
        {"a learning at the cap", forLearning(cap), nullptr},
        {"a learning one byte over", forLearning(cap + 1), "learning"},
        {"a card at the cap, promoted_at would pass it", forCard(cap), "card"},
    };
    for (const Case &c : cases) {
        Home h;
        const QString piece = h.piece(QStringLiteral("essay"));
        const QString folder = h.home + QStringLiteral("/learnings/posts");
        const auto written = FixCardStore::write(piece, {c.in}, now);
        const QString cardPath = piece + "/cards/" + written[0].fileName;
        const QByteArray before = readFile(cardPath);
        try {
            FixCardStore::promote(piece, written[0].card.id, moment);
            EXPECT_EQ(c.refusedAs, nullptr) << "promoted: " << c.what;
            const auto listed = FixCardStore::learningsForPiece(piece);
            EXPECT_EQ(listed.size(), 1) << c.what;
            EXPECT_EQ(listed.value(0).text.toUtf8().size(), cap) << c.what;
            EXPECT_EQ(FixCardStore::cardsForPiece(piece).value(0).promotedAt, moment) << c.what;
        } catch (const FixCardStore::CardError &error) {
            const QString as = QString::fromLatin1(c.refusedAs ? c.refusedAs : "(nothing)");
            const QString name = as == u"card" ? written[0].fileName : QStringLiteral("20260308-p.md");
            EXPECT_EQ(error.message(), as + QStringLiteral(" file too large: ") + name) << c.what;
            EXPECT_TRUE(entries(folder).isEmpty()) << c.what;
            EXPECT_EQ(readFile(cardPath), before) << c.what;
        }
    }
}

TEST(Promote, ACardDatedNearTheEdgeOfTheCalendarRoundTrips)
{
    struct Case {
        const char *submitted;
        bool promoted;
    };
    const Case cases[] = {
        {"0001-01-01T01:00:00+01:00", true},
        {"9999-12-31T22:59:59-01:00", true},
        {"0001-01-01T00:30:00+01:00", false}, // before year 1 in UTC
        {"9999-12-31T23:30:00-01:00", false}, // year 10000 in UTC
    };
    for (const Case &c : cases) {
        Home h;
        const QString piece = h.piece(QStringLiteral("essay"));
        Card k = card(QStringLiteral("edge"), noon(2026, 1, 1), 1);
        QJsonObject o = QJsonDocument::fromJson(FixCardStore::encodeCard(k)).object();
        o.insert("submitted_at", QLatin1String(c.submitted));
        const QByteArray bytes = QJsonDocument(o).toJson(QJsonDocument::Compact);
        const QString path = piece + QStringLiteral("/cards/edge.json");
        writeFile(path, bytes);
        try {
            FixCardStore::promote(piece, k.id, noon(2026, 3, 8));
            EXPECT_TRUE(c.promoted) << "promoted: " << c.submitted;
            const auto found = FixCardStore::findCard(piece + "/cards", k.id);
            EXPECT_TRUE(found && found->card.promotedAt == noon(2026, 3, 8)) << c.submitted;
        } catch (const FixCardStore::CardError &error) {
            EXPECT_FALSE(c.promoted) << "refused: " << c.submitted;
            EXPECT_EQ(error.message(),
                      QStringLiteral("card not found: ") + k.id.toString(QUuid::WithoutBraces).toUpper());
            EXPECT_EQ(readFile(path), bytes);
            EXPECT_TRUE(entries(h.home + QStringLiteral("/learnings/posts")).isEmpty());
        }
    }
}

namespace {
int g_temps = 0;
// Fails the second temp file: the card's rewrite after its learning.
void failSecondTemp(const QString &path)
{
    if (++g_temps == 2)
        throw foundation::fs::FileError(EIO, path, QStringLiteral("write"));
}
} // namespace

TEST(Promote, AFailedCardRewriteTakesTheLearningBack)
{
    Home h;
    const QString piece = h.piece(QStringLiteral("essay"));
    const auto written = FixCardStore::write(piece, {input(QStringLiteral("p"))});
    const QString folder = h.home + QStringLiteral("/learnings/posts");

    g_temps = 0;
    foundation::fs::detail::setTempCreatedHook(failSecondTemp);
    EXPECT_THROW(FixCardStore::promote(piece, written[0].card.id, noon(2026, 3, 8)), foundation::fs::FileError);
    foundation::fs::detail::setTempCreatedHook(nullptr);
    EXPECT_TRUE(entries(folder).isEmpty());
    EXPECT_FALSE(FixCardStore::findCard(piece + "/cards", written[0].card.id)->card.promotedAt);

    FixCardStore::promote(piece, written[0].card.id, noon(2026, 3, 8));
    EXPECT_EQ(entries(folder), QStringList{"20260308-p.md"});
}

TEST(LearningsForPiece, LeavesWaitingLearningsOut)
{
    Home h;
    const QString piece = h.piece(QStringLiteral("essay"));
    EXPECT_TRUE(FixCardStore::learningsForPiece(piece).isEmpty()); // no learnings/ at all

    const QString folder = h.home + QStringLiteral("/learnings/posts");
    writeFile(folder + QStringLiteral("/b-visible.md"), "---\npattern: b\n---\n");
    writeFile(folder + QStringLiteral("/a-waiting.md"), "---\npattern: a\ndismissed_at_pass: 4\n---\n");
    writeFile(folder + QStringLiteral("/c-resurfaced.md"), "---\npattern: c\ndismissed_at_pass: 0\n---\n");
    writeFile(folder + QStringLiteral("/d.MD"), "---\npattern: d\n---\n");
    writeFile(h.root + QStringLiteral("/outside.md"), "secret");
    QFile::link(h.root + QStringLiteral("/outside.md"), folder + QStringLiteral("/e-link.md"));
    writeFile(h.home + QStringLiteral("/learnings/pass-counts.json"), "{\"posts\":10}");

    const auto listed = FixCardStore::learningsForPiece(piece);
    ASSERT_EQ(listed.size(), 2);
    EXPECT_EQ(listed[0].fileName, QStringLiteral("b-visible.md"));
    EXPECT_EQ(listed[0].text, QStringLiteral("---\npattern: b\n---\n"));
    EXPECT_EQ(listed[1].fileName, QStringLiteral("c-resurfaced.md"));

    // Once its wait is over the dismissed one is back.
    writeFile(h.home + QStringLiteral("/learnings/pass-counts.json"), "{\"posts\":14}");
    EXPECT_EQ(FixCardStore::learningsForPiece(piece).size(), 3);
}
