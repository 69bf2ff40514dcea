#include "reviewfixture.h"

#include "foundation/dates.h"
#include "library/poststore.h"
#include "review/fixcardstore.h"
#include "testenv.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimeZone>

#include <gtest/gtest.h>

using namespace review;
using namespace reviewtest;
using Card = FixCardStore::StoredFixCard;

namespace {

QDateTime utc(int y, int mo, int d, int h, int mi, int s, int ms = 0)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms), QTimeZone::utc());
}

Card fullCard()
{
    Card card;
    card.id = QUuid::fromString(QStringLiteral("3f2a9c1e-7b4d-4e8f-9a0b-1c2d3e4f5a6b"));
    card.submittedAt = utc(2026, 3, 7, 14, 3, 22, 750);
    card.rank = 3;
    card.pattern = QStringLiteral("Hedging / “softeners”");
    card.problem = QStringLiteral("Every claim is padded — twice.");
    card.diagnosticQuestion = QStringLiteral("What do you actually believe?");
    card.fix = QStringLiteral("It works.");
    card.anchor = {QStringLiteral("It sort of works, I think."), 2, QStringLiteral("the café scene")};
    card.lane = Card::Lane::mechanical;
    card.emitter = Card::Emitter::engine;
    card.provenance =
        Card::Provenance{QStringLiteral("a-piece"), QStringLiteral("yesterday"), QStringLiteral("hermes"), 2};
    card.status = Card::Status::applied;
    card.anchorStatus = Card::AnchorStatus::stale;
    card.promotedAt = utc(2026, 3, 8, 9, 0, 0);
    return card;
}

Card minimalCard()
{
    Card card;
    card.id = QUuid::fromString(QStringLiteral("00000000-0000-4000-8000-00000000000a"));
    card.submittedAt = utc(2026, 1, 2, 3, 4, 5);
    card.pattern = QStringLiteral("p");
    card.problem = QStringLiteral("q");
    card.anchor.quote = QStringLiteral("x");
    card.lane = Card::Lane::demonstration;
    card.emitter = Card::Emitter::lint;
    return card;
}

QStringList cardNames(const QString &piece)
{
    return entries(piece + QStringLiteral("/cards"));
}

} // namespace

// --- Format ------------------------------------------------------------------------

TEST(CardFormat, EncodesExactlyAsTheGoldenFiles)
{
    EXPECT_EQ(FixCardStore::encodeCard(fullCard()), readFile(golden(QStringLiteral("card-full.json"))).trimmed());
    EXPECT_EQ(FixCardStore::encodeCard(minimalCard()), readFile(golden(QStringLiteral("card-minimal.json"))).trimmed());
}

TEST(CardFormat, ReadsBackWithWholeSecondDates)
{
    Card expected = fullCard();
    expected.submittedAt = utc(2026, 3, 7, 14, 3, 22);
    EXPECT_EQ(FixCardStore::decodeCard(FixCardStore::encodeCard(fullCard())), expected);
    EXPECT_EQ(FixCardStore::decodeCard(FixCardStore::encodeCard(minimalCard())), minimalCard());
}

TEST(CardFormat, ReaderAcceptsItsVariantsAndRefusesTheRest)
{
    const QByteArray base = readFile(golden(QStringLiteral("card-minimal.json"))).trimmed();
    const auto with = [&](const char *key, const QJsonValue &value) {
        QJsonObject o = QJsonDocument::fromJson(base).object();
        if (value.isUndefined())
            o.remove(QLatin1String(key));
        else
            o.insert(QLatin1String(key), value);
        return QJsonDocument(o).toJson(QJsonDocument::Compact);
    };
    struct Case {
        const char *name;
        QByteArray bytes;
        bool readable;
    };
    const QJsonObject anchorNoOccurrence{{"quote", "x"}};
    const Case cases[] = {
        {"offset instead of Z", with("submitted_at", "2026-01-02T05:04:05+02:00"), true},
        {"camelCase key",
         with("submitted_at", QJsonValue::Undefined).replace("{", "{\"submittedAt\":\"2026-01-02T03:04:05Z\","), true},
        {"escaped slash", with("pattern", "a/b").replace("a/b", "a\\/b"), true},
        {"lower-case id", with("id", "00000000-0000-4000-8000-00000000000a"), true},
        {"no occurrence", with("anchor", anchorNoOccurrence), true},
        {"null rank", with("rank", QJsonValue::Null), true},
        {"fractional seconds", with("submitted_at", "2026-01-02T03:04:05.5Z"), false},
        {"date without zone", with("submitted_at", "2026-01-02T03:04:05"), false},
        {"unknown lane", with("lane", "Mechanical"), false},
        {"unknown emitter", with("emitter", "pass-1"), false},
        {"unknown status", with("status", "proposed"), false},
        {"unknown anchor status", with("anchor_status", "ok"), false},
        {"missing fix", with("fix", QJsonValue::Undefined), false},
        {"missing diagnostic question", with("diagnostic_question", QJsonValue::Undefined), false},
        {"provenance without piece", with("provenance", QJsonObject{{"pass", 1}}), false},
        {"fractional rank", with("rank", 1.5), false},
        {"text rank", with("rank", "1"), false},
        {"broken JSON", base.left(base.size() - 1), false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(FixCardStore::decodeCard(c.bytes).has_value(), c.readable) << c.name;
    EXPECT_EQ(FixCardStore::decodeCard(cases[0].bytes)->submittedAt, utc(2026, 1, 2, 3, 4, 5));
    EXPECT_EQ(FixCardStore::decodeCard(cases[4].bytes)->anchor.occurrence, 1);
    EXPECT_EQ(FixCardStore::decodeCard(cases[2].bytes)->pattern, QStringLiteral("a/b"));
}

TEST(CardFormat, OffsetDatesMustStayWithinFourDigitYearsInUtc)
{
    const QByteArray base = readFile(golden(QStringLiteral("card-minimal.json"))).trimmed();
    struct Case {
        const char *date;
        std::optional<QDateTime> utc;
    };
    const Case cases[] = {
        {"0001-01-01T00:00:00Z", utc(1, 1, 1, 0, 0, 0)},
        {"0001-01-01T01:00:00+01:00", utc(1, 1, 1, 0, 0, 0)},
        {"0001-01-01T00:30:00-01:00", utc(1, 1, 1, 1, 30, 0)},
        {"0001-01-01T00:59:59+01:00", std::nullopt},
        {"0001-01-01T00:30:00+01:00", std::nullopt},
        {"0001-01-01T00:00:00+23:59", std::nullopt},
        {"9999-12-31T23:59:59Z", utc(9999, 12, 31, 23, 59, 59)},
        {"9999-12-31T22:59:59-01:00", utc(9999, 12, 31, 23, 59, 59)},
        {"9999-12-31T23:30:00+01:00", utc(9999, 12, 31, 22, 30, 0)},
        {"9999-12-31T23:00:00-01:00", std::nullopt},
        {"9999-12-31T23:30:00-01:00", std::nullopt},
        {"9999-12-31T23:59:59-23:59", std::nullopt},
    };
    for (const Case &c : cases) {
        for (const char *key : {"submitted_at", "promoted_at"}) {
            QJsonObject o = QJsonDocument::fromJson(base).object();
            o.insert(QLatin1String(key), QLatin1String(c.date));
            const auto card = FixCardStore::decodeCard(QJsonDocument(o).toJson(QJsonDocument::Compact));
            EXPECT_EQ(card.has_value(), c.utc.has_value()) << key << " " << c.date;
            if (!card || !c.utc)
                continue;
            EXPECT_EQ(key == std::string_view("submitted_at") ? card->submittedAt : *card->promotedAt, *c.utc)
                << key << " " << c.date;
            // What is read can be written back and read again.
            EXPECT_EQ(FixCardStore::decodeCard(FixCardStore::encodeCard(*card)), card) << key << " " << c.date;
        }
    }
}

// --- Writing ------------------------------------------------------------------------

TEST(CardWrite, KeepsTheFirstTenRankedInOrder)
{
    Home h;
    const QString piece = h.piece(QStringLiteral("essay"));
    QList<FixCardStore::Input> inputs;
    for (int i = 1; i <= 12; ++i)
        inputs.append(input(QStringLiteral("Pattern %1").arg(i)));
    inputs[10].pattern.clear(); // the eleventh is never looked at

    const QDateTime now = utc(2026, 3, 7, 12, 0, 0);
    const QList<FixCardStore::CardFile> written = FixCardStore::write(piece, inputs, now);
    ASSERT_EQ(written.size(), 10);
    EXPECT_EQ(cardNames(piece).size(), 10);
    const QString stamp = FixCardStore::dateString(now, QStringLiteral("yyyyMMdd-HHmmss"));
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(written[i].card.rank, i + 1);
        EXPECT_EQ(written[i].fileName, stamp + QStringLiteral("-pattern-%1.json").arg(i + 1));
        const auto onDisk = FixCardStore::decodeCard(readFile(piece + "/cards/" + written[i].fileName));
        ASSERT_TRUE(onDisk);
        EXPECT_EQ(onDisk->id, written[i].card.id);
        EXPECT_EQ(onDisk->rank, i + 1);
        EXPECT_EQ(onDisk->status, Card::Status::open);
    }
}

TEST(CardWrite, AnInvalidInputWritesNothing)
{
    Home h;
    const QString piece = h.piece(QStringLiteral("essay"));
    struct Case {
        FixCardStore::Input bad;
        QString message;
    };
    FixCardStore::Input blankProblem = input(QStringLiteral("p"));
    blankProblem.problem = QStringLiteral(" \n\t");
    const Case cases[] = {
        {input(QStringLiteral("   ")), QStringLiteral("card pattern must not be empty")},
        {blankProblem, QStringLiteral("card problem must not be empty")},
        {input(QStringLiteral("p"), QString()), QStringLiteral("card anchor quote must not be empty")},
        {input(QStringLiteral("p"), QStringLiteral("Body"), 0), QStringLiteral("card anchor occurrence must be ≥ 1")},
    };
    for (const Case &c : cases) {
        const QList<FixCardStore::Input> inputs{input(QStringLiteral("one")), input(QStringLiteral("two")), c.bad};
        try {
            FixCardStore::write(piece, inputs);
            ADD_FAILURE() << "accepted: " << c.message.toStdString();
        } catch (const FixCardStore::CardError &error) {
            EXPECT_EQ(error.message(), c.message);
        }
        EXPECT_FALSE(QFileInfo::exists(piece + QStringLiteral("/cards")));
    }
    // A quote of blanks is a quote.
    EXPECT_EQ(FixCardStore::write(piece, {input(QStringLiteral("p"), QStringLiteral("   "))}).size(), 1);
}

TEST(CardWrite, SamePatternTwiceGetsANumberedName)
{
    Home h;
    const QString piece = h.piece(QStringLiteral("essay"));
    const QDateTime now = utc(2026, 3, 7, 12, 0, 0);
    const auto written = FixCardStore::write(piece + QStringLiteral("/post.md"),
                                             {input(QStringLiteral("Same")), input(QStringLiteral("Same"))}, now);
    const QString stamp = FixCardStore::dateString(now, QStringLiteral("yyyyMMdd-HHmmss"));
    ASSERT_EQ(written.size(), 2);
    EXPECT_EQ(written[0].fileName, stamp + QStringLiteral("-same.json"));
    EXPECT_EQ(written[1].fileName, stamp + QStringLiteral("-same-2.json"));
}

TEST(CardWrite, ALongPatternInAManyByteScriptStillGetsAName)
{
    Home h;
    const QString piece = h.piece(QStringLiteral("essay"));
    const QString pattern(90, QChar(0x4E2D)); // 80 characters of slug, 240 bytes
    const QDateTime now = utc(2026, 3, 7, 12, 0, 0);
    const auto written = FixCardStore::write(piece, {input(pattern), input(pattern)}, now);
    ASSERT_EQ(written.size(), 2);
    const QString stamp = FixCardStore::dateString(now, QStringLiteral("yyyyMMdd-HHmmss"));
    for (const auto &w : written) {
        EXPECT_TRUE(w.fileName.startsWith(stamp + QStringLiteral("-中中"))) << w.fileName.toStdString();
        EXPECT_LE(w.fileName.toUtf8().size(), 255);
    }
    EXPECT_EQ(written[1].fileName, written[0].fileName.chopped(5) + QStringLiteral("-2.json"));

    const QDateTime moment = utc(2026, 3, 8, 12, 0, 0);
    FixCardStore::promote(piece, written[0].card.id, moment);
    FixCardStore::promote(piece, written[1].card.id, moment);
    const QStringList learnings = entries(h.home + QStringLiteral("/learnings/posts"));
    ASSERT_EQ(learnings.size(), 2);
    for (const QString &name : learnings)
        EXPECT_LE(name.toUtf8().size(), 255);
    // Short slugs are never cut.
    EXPECT_EQ(FixCardStore::fileBase(stamp, QStringLiteral("Hedging words"), QStringLiteral("json")),
              stamp + QStringLiteral("-hedging-words"));
}

TEST(CardWrite, EmptyBatchStillPreparesTheFolder)
{
    Home h;
    const QString piece = h.piece(QStringLiteral("essay"));
    EXPECT_TRUE(FixCardStore::write(piece, {}).isEmpty());
    EXPECT_TRUE(QFileInfo(piece + QStringLiteral("/cards")).isDir());
}

TEST(CardWrite, OptionalFieldsAreLeftOutButTextsStay)
{
    Home h;
    const QString piece = h.piece(QStringLiteral("essay"));
    const auto written = FixCardStore::write(piece, {input(QStringLiteral("p"))});
    const QJsonObject o = QJsonDocument::fromJson(readFile(piece + "/cards/" + written[0].fileName)).object();
    EXPECT_EQ(o.value("diagnostic_question").toString(), QString());
    EXPECT_EQ(o.value("fix").toString(), QString());
    EXPECT_TRUE(o.value("fix").isString());
    EXPECT_FALSE(o.contains("provenance"));
    EXPECT_FALSE(o.contains("promoted_at"));
    EXPECT_EQ(o.value("rank").toVariant().typeId(), QMetaType::LongLong);
    EXPECT_TRUE(o.value("id").toString().contains(QRegularExpression("^[0-9A-F-]{36}$")));
    EXPECT_TRUE(
        o.value("submitted_at").toString().contains(QRegularExpression("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ$")));
}

TEST(CardWrite, RefusesACardFileTheReadersWouldSkip)
{
    Home h;
    const QDateTime now = utc(2026, 3, 7, 12, 0, 0);
    const QString stamp = FixCardStore::dateString(now, QStringLiteral("yyyyMMdd-HHmmss"));
    const auto withProblem = [](const QString &problem) {
        FixCardStore::Input in = input(QStringLiteral("p"));
        in.problem = problem;
        return in;
    };
    // Everything but the problem has a fixed encoded length.
    const qint64 overhead =
        FixCardStore::encodeCard(FixCardStore::validatedCard(withProblem(QStringLiteral("x")), QString(), 1, now)).size()
        - 1;
    const qint64 cap = FixCardStore::kSideFileCap;
    struct Case {
        const char *what;
        QString problem;
        bool written;
    };
    const Case cases[] = {
        {"exactly the cap", QString(cap - overhead, u'x'), true},
        {"one byte over", QString(cap - overhead + 1, u'x'), false},
        {"slashes doubled by escaping", QString(700000, u'/'), false},
    };
    int n = 0;
    for (const Case &c : cases) {
        const QString piece = h.piece(QStringLiteral("essay-%1").arg(++n));
        try {
            const auto written =
                FixCardStore::write(piece, {input(QStringLiteral("one")), withProblem(c.problem)}, now);
            EXPECT_TRUE(c.written) << "accepted: " << c.what;
            ASSERT_EQ(written.size(), 2) << c.what;
            EXPECT_EQ(QFileInfo(piece + "/cards/" + written[1].fileName).size(), cap) << c.what;
            EXPECT_EQ(FixCardStore::cardsForPiece(piece).size(), 2) << c.what;
        } catch (const FixCardStore::CardError &error) {
            EXPECT_FALSE(c.written) << "refused: " << c.what;
            EXPECT_EQ(error.message(), QStringLiteral("card file too large: ") + stamp + QStringLiteral("-p.json"));
            EXPECT_TRUE(cardNames(piece).isEmpty()) << c.what;
        }
    }
}

TEST(CardWrite, SymlinkedCardsFolderIsRefused)
{
    Home h;
    const QString piece = h.piece(QStringLiteral("essay"));
    QDir().mkpath(h.root + QStringLiteral("/elsewhere"));
    ASSERT_TRUE(QFile::link(h.root + QStringLiteral("/elsewhere"), piece + QStringLiteral("/cards")));
    try {
        FixCardStore::write(piece, {input(QStringLiteral("p"))});
        ADD_FAILURE();
    } catch (const FixCardStore::CardError &error) {
        EXPECT_EQ(error.message(), QStringLiteral("cards path is a symlink: ") + piece + QStringLiteral("/cards"));
    }
    EXPECT_TRUE(entries(h.root + QStringLiteral("/elsewhere")).isEmpty());
}

// --- Anchors --------------------------------------------------------------------------

TEST(Anchor, MatchesWholeCharactersUnderCanonicalEquivalence)
{
    const QString precomposed = QStringLiteral("caf\u00e9 noir");
    const QString decomposed = QStringLiteral("cafe\u0301 noir");
    struct Case {
        QString text;
        QString quote;
        qint64 occurrence;
        Card::AnchorStatus expected;
    };
    const Case cases[] = {
        {precomposed, QStringLiteral("cafe\u0301"), 1, Card::AnchorStatus::valid},
        {decomposed, QStringLiteral("caf\u00e9"), 1, Card::AnchorStatus::valid},
        {decomposed, QStringLiteral("cafe"), 1, Card::AnchorStatus::stale}, // ends inside "é"
        {QStringLiteral("aaa"), QStringLiteral("aa"), 1, Card::AnchorStatus::valid},
        {QStringLiteral("aaa"), QStringLiteral("aa"), 2, Card::AnchorStatus::stale}, // no overlaps
        {QStringLiteral("x y x"), QStringLiteral("x"), 2, Card::AnchorStatus::valid},
        {QStringLiteral("x y x"), QStringLiteral("x"), 3, Card::AnchorStatus::stale},
        {QStringLiteral("x"), QStringLiteral("x"), 0, Card::AnchorStatus::stale},
        {QStringLiteral("x"), QString(), 1, Card::AnchorStatus::stale},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(FixCardStore::checkAnchor(c.text, c.quote, c.occurrence), c.expected)
            << c.text.toStdString() << " / " << c.quote.toStdString() << " #" << c.occurrence;
    }
}

TEST(Anchor, QuoteInTheFrontMatterCountsAndStaleCardsAreStillWritten)
{
    Home h;
    const QString piece = h.piece(QStringLiteral("essay"), QStringLiteral("---\ntype: post\n---\nBody.\n"));
    const auto written = FixCardStore::write(piece, {input(QStringLiteral("a"), QStringLiteral("type: post")),
                                                     input(QStringLiteral("b"), QStringLiteral("gone"))});
    ASSERT_EQ(written.size(), 2);
    EXPECT_EQ(written[0].card.anchorStatus, Card::AnchorStatus::valid);
    EXPECT_EQ(written[1].card.anchorStatus, Card::AnchorStatus::stale);
    EXPECT_EQ(cardNames(piece).size(), 2);
}

// --- Confinement ------------------------------------------------------------------------

TEST(ResolvePiece, AcceptsTheFolderAndItsPostOnly)
{
    Home h;
    const QString piece = h.piece(QStringLiteral("essay"));
    const QString archived =
        h.piece(QStringLiteral("old"), QStringLiteral("x"), QStringLiteral("Essays"), QStringLiteral("archive"));
    EXPECT_EQ(FixCardStore::resolvePiece(piece), piece + QStringLiteral("/post.md"));
    EXPECT_EQ(FixCardStore::resolvePiece(piece + QStringLiteral("/")), piece + QStringLiteral("/post.md"));
    EXPECT_EQ(FixCardStore::resolvePiece(piece + QStringLiteral("/post.md")), piece + QStringLiteral("/post.md"));
    EXPECT_EQ(FixCardStore::resolvePiece(archived), archived + QStringLiteral("/post.md"));
    EXPECT_EQ(FixCardStore::homeOfPost(piece + QStringLiteral("/post.md")), h.home);
}

TEST(ResolvePiece, RefusesEveryPathOutsideTheShape)
{
    Home h;
    const QString piece = h.piece(QStringLiteral("essay"));
    const QString outside = h.root + QStringLiteral("/outside");
    QDir().mkpath(outside);
    // Real pieces elsewhere that links could lead to.
    writeFile(h.root + QStringLiteral("/other/post.md"), "x");
    writeFile(h.root + QStringLiteral("/other/projects/p/q/post.md"), "x");

    // A piece whose folder is a link out of the Home.
    QDir().mkpath(h.home + QStringLiteral("/projects/Essays"));
    QFile::link(h.root + QStringLiteral("/other"), h.home + QStringLiteral("/projects/Essays/linked"));
    // A piece whose post.md is a link.
    writeFile(h.home + QStringLiteral("/projects/Essays/postlink/notes.md"), "x");
    QFile::link(h.root + QStringLiteral("/other/post.md"),
                h.home + QStringLiteral("/projects/Essays/postlink/post.md"));
    // A project folder that is a link.
    QFile::link(h.root + QStringLiteral("/other/projects/p"), h.home + QStringLiteral("/projects/Linked"));
    // "projects" at the wrong depth.
    writeFile(h.home + QStringLiteral("/projects/Essays/deep/er/post.md"), "x");
    writeFile(h.home + QStringLiteral("/projects/shallow/post.md"), "x");
    writeFile(outside + QStringLiteral("/piece/post.md"), "x");
    writeFile(piece + QStringLiteral("/notes.md"), "x");

    const QString notAPiece = QStringLiteral("not a piece (expected <projects|archive>/…/post.md): ");
    struct Case {
        QString path;
        QString message;
    };
    const QString dotdot = piece + QStringLiteral("/../../../../outside/piece/post.md");
    const QString relative = QDir(QDir::currentPath()).relativeFilePath(piece + QStringLiteral("/post.md"));
    // The first two keep the piece shape and name the real piece: only the
    // refusal of dot components stops them.
    const QString backAgain = h.home + QStringLiteral("/projects/../projects/Essays/essay/post.md");
    const QString dotAbove = h.home + QStringLiteral("/./projects/Essays/essay/post.md");
    const QString dotBelow = h.home + QStringLiteral("/projects/./Essays/essay/post.md");
    const Case cases[] = {
        {relative, notAPiece + relative},
        {QStringLiteral("projects/Essays/essay/post.md"), notAPiece + QStringLiteral("projects/Essays/essay/post.md")},
        {dotdot, notAPiece + dotdot},
        {piece + QStringLiteral("/./post.md"), notAPiece + piece + QStringLiteral("/./post.md")},
        {backAgain, notAPiece + backAgain},
        {dotAbove, notAPiece + dotAbove},
        {dotBelow, notAPiece + dotBelow},
        {h.home + QStringLiteral("/projects/Essays/linked"),
         notAPiece + h.home + QStringLiteral("/projects/Essays/linked")},
        {h.home + QStringLiteral("/projects/Essays/linked/post.md"),
         notAPiece + h.home + QStringLiteral("/projects/Essays/linked/post.md")},
        {h.home + QStringLiteral("/projects/Essays/postlink"),
         notAPiece + h.home + QStringLiteral("/projects/Essays/postlink")},
        {h.home + QStringLiteral("/projects/Linked/q"), notAPiece + h.home + QStringLiteral("/projects/Linked/q")},
        {h.home + QStringLiteral("/projects/Essays/deep/er"),
         notAPiece + h.home + QStringLiteral("/projects/Essays/deep/er")},
        {h.home + QStringLiteral("/projects/shallow"), notAPiece + h.home + QStringLiteral("/projects/shallow")},
        {outside + QStringLiteral("/piece"), notAPiece + outside + QStringLiteral("/piece")},
        {piece + QStringLiteral("/notes.md"), notAPiece + piece + QStringLiteral("/notes.md")},
        {piece + QStringLiteral("/missing.md"),
         QStringLiteral("piece not found: ") + piece + QStringLiteral("/missing.md")},
    };
    for (const Case &c : cases) {
        try {
            FixCardStore::write(c.path, {input(QStringLiteral("p"), QStringLiteral("x"))});
            ADD_FAILURE() << "accepted " << c.path.toStdString();
        } catch (const FixCardStore::CardError &error) {
            EXPECT_EQ(error.message(), c.message);
        }
        try {
            FixCardStore::learningsForPiece(c.path);
            ADD_FAILURE() << "listed " << c.path.toStdString();
        } catch (const FixCardStore::CardError &error) {
            EXPECT_EQ(error.message(), c.message);
        }
    }
    // Nothing was written anywhere outside the pieces of the fixture Home.
    EXPECT_FALSE(QFileInfo::exists(h.root + QStringLiteral("/other/cards")));
    EXPECT_FALSE(QFileInfo::exists(h.root + QStringLiteral("/other/projects/p/q/cards")));
    EXPECT_EQ(entries(outside + QStringLiteral("/piece")), QStringList{QStringLiteral("post.md")});
    EXPECT_FALSE(QFileInfo::exists(h.root + QStringLiteral("/learnings")));
}
