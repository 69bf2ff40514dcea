#include "reviewfixture.h"

#include "foundation/text.h"
#include "review/desloplint.h"
#include "review/fixcardstore.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace review;
using library::PassKind;
using namespace reviewtest;
using Card = FixCardStore::StoredFixCard;
using DeslopLint::Config;
using DeslopLint::Finding;

namespace {

Config::Tier tier(const QString &name, qint64 maxAllowed,
                  const QList<std::pair<QString, std::optional<QString>>> &phrases)
{
    Config::Tier t{name, QStringLiteral("note of ") + name, maxAllowed, {}};
    for (const auto &[phrase, replacement] : phrases)
        t.phrases.append({phrase, replacement});
    return t;
}

QStringList patterns(const QList<Finding> &findings)
{
    QStringList out;
    for (const Finding &f : findings)
        out.append(f.pattern);
    return out;
}

// The lint as written down, one regular expression per phrase, for comparison
// with the single-pass matcher.
QList<Finding> referenceLint(const QString &text, const QList<Config::Tier> &tiers)
{
    QList<Finding> findings;
    for (const Config::Tier &t : tiers) {
        QList<std::pair<qsizetype, Finding>> hits;
        for (const auto &p : t.phrases) {
            if (p.phrase.trimmed().isEmpty())
                continue;
            const QRegularExpression re(QStringLiteral("(?i)(?<![A-Za-z])") + QRegularExpression::escape(p.phrase)
                                        + QStringLiteral("(?![A-Za-z])"));
            qsizetype count = 0;
            QRegularExpressionMatch first;
            for (auto it = re.globalMatch(text); it.hasNext();) {
                auto m = it.next();
                if (count++ == 0)
                    first = m;
            }
            if (count == 0 || count <= t.maxAllowed)
                continue;
            Finding f;
            f.pattern = p.phrase;
            f.problem = t.name + QStringLiteral(" AI vocabulary — ") + t.note + QStringLiteral(". Appears ")
                        + QString::number(count) + QStringLiteral("× in this piece. Replace with the plain word.");
            f.diagnosticQuestion = QStringLiteral("What plain word says this instead?");
            f.anchor.quote = first.captured();
            const auto all = foundation::text::findAllQuotes(text, f.anchor.quote);
            for (qsizetype i = 0; i < all.size(); ++i) {
                if (all[i].start == first.capturedStart()) {
                    f.anchor.occurrence = i + 1;
                    break;
                }
            }
            if (p.replacement) {
                f.fix = *p.replacement;
                if (!f.fix.isEmpty() && f.anchor.quote.at(0).isUpper())
                    f.fix[0] = f.fix[0].toUpper();
                f.lane = Card::Lane::mechanical;
            }
            hits.append({first.capturedStart(), f});
        }
        std::stable_sort(hits.begin(), hits.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
        for (const auto &h : hits)
            findings.append(h.second);
    }
    return findings;
}

} // namespace

// --- Configuration --------------------------------------------------------------------------

TEST(LintConfig, BundledConfigurationIsCompiledIn)
{
    const Config bundled = DeslopLint::loadConfig(std::nullopt);
    EXPECT_EQ(bundled.tiers.size(), 4);
    EXPECT_EQ(bundled.emDashBudget, 2);
    QFile resource(DeslopLint::kBundledConfigPath);
    ASSERT_TRUE(resource.open(QIODevice::ReadOnly));
    EXPECT_EQ(Config::fromJson(resource.readAll()), bundled);
}

TEST(LintConfig, FolderFileWinsOnlyWhenUsable)
{
    Home h;
    QDir().mkpath(h.home);
    const Config bundled = DeslopLint::loadConfig(std::nullopt);
    const Config own{{tier("Mine", 0, {{"foo", "bar"}, {"baz", std::nullopt}})}, 7};
    writeFile(h.home + QStringLiteral("/deslop-lint.json"), own.toJson());
    EXPECT_EQ(DeslopLint::loadConfig(h.home), own);

    const char *unusable[] = {
        R"({"tiers":[]})",
        R"({"tiers":[],"emDashBudget":2.5})",
        R"({"tiers":[{"name":"a","note":"b","phrases":[]}],"emDashBudget":2})",
        R"({"tiers":[{"name":"a","note":"b","maxAllowed":1,"phrases":[{"phrase":"x","replacement":3}]}],"emDashBudget":2})",
        "not json",
    };
    for (const char *bytes : unusable) {
        writeFile(h.home + QStringLiteral("/deslop-lint.json"), bytes);
        EXPECT_EQ(DeslopLint::loadConfig(h.home), bundled) << bytes;
    }
    const auto lenient = Config::fromJson(
        R"({"extra":1,"tiers":[{"name":"a","note":"b","maxAllowed":1.0,"phrases":[{"phrase":"x","replacement":null}]}],"emDashBudget":2})");
    ASSERT_TRUE(lenient);
    EXPECT_EQ(lenient->tiers[0].phrases[0].replacement, std::nullopt);
    EXPECT_EQ(Config().emDashBudget, std::numeric_limits<qint64>::max());
    EXPECT_TRUE(DeslopLint::lint(QStringLiteral("— — — delve"), {}, Config().emDashBudget).isEmpty());
}

// --- Findings ------------------------------------------------------------------------------

TEST(Lint, EmDashBudget)
{
    const QString text = QStringLiteral("One — two — three — four.");
    const QList<Finding> over = DeslopLint::lint(text, {}, 2);
    ASSERT_EQ(over.size(), 1);
    EXPECT_EQ(over[0].pattern, QStringLiteral("em-dash density"));
    EXPECT_EQ(over[0].problem,
              QStringLiteral("3 em-dashes in this piece — the budget is 2. Most separation wants a comma or a period; "
                             "1-2 earned dashes are plenty. The em-dash habit is the prompt-resistant AI tell."));
    EXPECT_EQ(over[0].diagnosticQuestion,
              QStringLiteral("Does this aside need an em-dash, or would a comma or a period carry it?"));
    EXPECT_EQ(over[0].lane, Card::Lane::demonstration);
    EXPECT_EQ(over[0].fix, QString());
    EXPECT_EQ(over[0].anchor, (Card::Anchor{QStringLiteral("—"), 1, std::nullopt}));
    EXPECT_TRUE(DeslopLint::lint(text, {}, 3).isEmpty());
}

TEST(Lint, PhraseCountsBoundariesAndLiterals)
{
    struct Case {
        const char *what;
        QString phrase;
        qint64 maxAllowed;
        QString text;
        qsizetype findings;
    };
    const Case cases[] = {
        {"two matches over one allowed", "delve", 1, "delve and delve", 1},
        {"one match allowed", "delve", 1, "delve and more", 0},
        {"followed by a digit", "delve", 0, "delve2", 1},
        {"followed by a hyphen", "delve", 0, "delve-in", 1},
        {"followed by punctuation", "delve", 0, "we delve.", 1},
        {"at the end", "delve", 0, "we delve", 1},
        {"case-insensitive", "delve", 0, "DELVE", 1},
        {"inside a longer word", "delve", 0, "delves undelve", 0},
        {"accented neighbours are boundaries", "delve", 0, QStringLiteral("édelveé"), 1},
        {"long s is a letter", "delve", 0, QStringLiteral("\u017Fdelve"), 0},
        {"kelvin sign is a letter", "delve", 0, QStringLiteral("delve\u212A"), 0},
        {"dot is literal", "a.b", 0, "axb a-b", 0},
        {"dot matches itself", "a.b", 0, "see a.b", 1},
        {"brackets and question mark", "why[?]", 0, "why? why[?] ", 1},
        {"blank phrase skipped", "  \n", 0, "   ", 0},
    };
    for (const Case &c : cases) {
        const auto findings = DeslopLint::lint(c.text, {tier("T", c.maxAllowed, {{c.phrase, std::nullopt}})}, 100);
        EXPECT_EQ(findings.size(), c.findings) << c.what;
    }
    const auto two = DeslopLint::lint("delve and delve", {tier("Tier 1", 1, {{"delve", "dig"}})}, 100);
    ASSERT_EQ(two.size(), 1);
    EXPECT_EQ(two[0].problem, QStringLiteral("Tier 1 AI vocabulary — note of Tier 1. Appears 2× in this piece. "
                                             "Replace with the plain word."));
    EXPECT_EQ(two[0].diagnosticQuestion, QStringLiteral("What plain word says this instead?"));
}

TEST(Lint, FixLaneAndOccurrence)
{
    const QList<Config::Tier> tiers = {
        tier("T", 0, {{"delve", "dig"}, {"tapestry", std::nullopt}, {"in order to", ""}})};
    const auto findings =
        DeslopLint::lint(QStringLiteral("The undelved path. Delve deeper; a tapestry. In order to go."), tiers, 100);
    ASSERT_EQ(findings.size(), 3);
    EXPECT_EQ(findings[0].anchor, (Card::Anchor{"Delve", 1, std::nullopt}));
    EXPECT_EQ(findings[0].fix, QStringLiteral("Dig"));
    EXPECT_EQ(findings[0].lane, Card::Lane::mechanical);
    EXPECT_EQ(findings[1].pattern, QStringLiteral("tapestry"));
    EXPECT_EQ(findings[1].fix, QString());
    EXPECT_EQ(findings[1].lane, Card::Lane::demonstration);
    EXPECT_EQ(findings[2].anchor.quote, QStringLiteral("In order to"));
    EXPECT_EQ(findings[2].fix, QString());
    EXPECT_EQ(findings[2].lane, Card::Lane::mechanical);

    // The same letters first inside a longer word: the card points at the
    // second exact occurrence, where the match is.
    const auto inside =
        DeslopLint::lint(QStringLiteral("undelve it; then delve."), {tier("T", 0, {{"delve", "dig"}})}, 100);
    ASSERT_EQ(inside.size(), 1);
    EXPECT_EQ(inside[0].anchor.occurrence, 2);
    Card card;
    card.lane = inside[0].lane;
    card.anchor = inside[0].anchor;
    card.fix = inside[0].fix;
    EXPECT_EQ(FixCardStore::applyFix(card, QStringLiteral("undelve it; then delve.")),
              QStringLiteral("undelve it; then dig."));
}

TEST(Lint, OrderWithinAndAcrossTiersAndDuplicatesOnce)
{
    const QList<Config::Tier> tiers = {
        tier("A", 0, {{"zebra", std::nullopt}, {"apple", std::nullopt}}),
        tier("B", 0, {{"mango", std::nullopt}, {"apple", std::nullopt}}),
    };
    const auto findings = DeslopLint::lint(QStringLiteral("apple mango zebra — — —"), tiers, 2);
    EXPECT_EQ(patterns(findings), (QStringList{"em-dash density", "apple", "zebra", "mango"}));
}

TEST(Lint, SinglePassMatcherAgreesWithOneExpressionPerPhrase)
{
    const QList<Config::Tier> tiers = {
        tier("One", 0, {{"delve", "dig"}, {"strasse", std::nullopt}, {"σοφία", "wisdom"}, {"ǅemal", std::nullopt}}),
        tier("Two", 1,
             {{"kelvin", "k"},
              {"is", std::nullopt},
              {"café", "cafe"},
              {"e\u0301t\u00e9", std::nullopt},
              {"aa", std::nullopt},
              {"👍🏽 ok", std::nullopt},
              {" delve ", std::nullopt}}),
    };
    const QStringList texts = {
        QStringLiteral("DELVE, Delve and dElVe; ſtrasse STRASSE straße."),
        QStringLiteral("ΣΟΦΊΑ σοφία Σοφία; ǄEMAL ǆemal ǅemal."),
        QStringLiteral("\u212Aelvin KELVIN kelvin is IS İs ıs this"),
        QStringLiteral("cafe\u0301 café CAFÉ e\u0301t\u00e9 été ÉTÉ"),
        QStringLiteral("aaaa aa aaa-aa 👍🏽 ok 👍🏽 OK 👍 ok"),
        QStringLiteral("x delve delve  delve y"),
    };
    for (const QString &text : texts) {
        const QList<Finding> expected = referenceLint(text, tiers);
        EXPECT_FALSE(expected.isEmpty()) << text.toStdString();
        EXPECT_EQ(DeslopLint::lint(text, tiers, 100), expected) << text.toStdString();
    }
}

// --- Filing ----------------------------------------------------------------------------------

TEST(LintCards, FilesOpenFindingsOnceAndAgainAfterClosing)
{
    Home h;
    const QString text = QStringLiteral("We delve — and delve — into the tapestry — again.");
    const QString piece = h.piece(QStringLiteral("essay"), QStringLiteral("---\ntype: post\n---\n") + text);
    const Config config{{tier("T", 0, {{"delve", "dig"}, {"tapestry", std::nullopt}})}, 2};
    writeFile(h.home + QStringLiteral("/deslop-lint.json"), config.toJson());
    const QString post = piece + QStringLiteral("/post.md");

    DeslopLint::fileLintCards(text, QStringLiteral("essay"), post, PassKind::pass2, h.home);
    QList<FixCardStore::CardFile> cards = FixCardStore::cardFilesForPiece(piece);
    ASSERT_EQ(cards.size(), 3);
    EXPECT_EQ(cards[0].card.pattern, QStringLiteral("em-dash density"));
    EXPECT_EQ(cards[0].card.rank, 1);
    for (const auto &c : cards) {
        EXPECT_EQ(c.card.emitter, Card::Emitter::lint);
        EXPECT_EQ(c.card.provenance, (Card::Provenance{"essay", std::nullopt, std::nullopt, 2}));
        EXPECT_EQ(c.card.anchorStatus, Card::AnchorStatus::valid);
    }

    DeslopLint::fileLintCards(text, QStringLiteral("essay"), post, PassKind::pass1, h.home);
    EXPECT_EQ(FixCardStore::loadCards(piece + "/cards").size(), 3);

    Card closed = cards[1].card;
    closed.status = Card::Status::done;
    FixCardStore::rewriteCard(piece + "/cards", cards[1].fileName, closed);
    DeslopLint::fileLintCards(text, QStringLiteral("essay"), post, PassKind::pass1, h.home);
    EXPECT_EQ(FixCardStore::loadCards(piece + "/cards").size(), 4);
}

TEST(LintCards, FourteenFindingsFileTen)
{
    Home h;
    QList<std::pair<QString, std::optional<QString>>> phrases;
    QString text = QStringLiteral("— — — ");
    for (int i = 0; i < 13; ++i) {
        phrases.append({QStringLiteral("word%1").arg(QChar(u'a' + i)), std::nullopt});
        text += QStringLiteral("word%1 ").arg(QChar(u'a' + i));
    }
    const QString piece = h.piece(QStringLiteral("essay"), text);
    writeFile(h.home + QStringLiteral("/deslop-lint.json"), Config{{tier("T", 0, phrases)}, 0}.toJson());
    ASSERT_EQ(DeslopLint::lint(text, {tier("T", 0, phrases)}, 0).size(), 14);

    DeslopLint::fileLintCards(text, QStringLiteral("essay"), piece + QStringLiteral("/post.md"), PassKind::pass1,
                              h.home);
    const QList<Card> cards = FixCardStore::cardsForPiece(piece);
    ASSERT_EQ(cards.size(), 10);
    EXPECT_EQ(cards[0].pattern, QStringLiteral("em-dash density"));
}

TEST(LintCards, NothingToFileWritesNothing)
{
    Home h;
    const QString piece = h.piece(QStringLiteral("essay"), QStringLiteral("Plain words."));
    writeFile(h.home + QStringLiteral("/deslop-lint.json"), Config{{tier("T", 0, {{"delve", "dig"}})}, 5}.toJson());
    DeslopLint::fileLintCards(QStringLiteral("Plain words."), QStringLiteral("essay"),
                              piece + QStringLiteral("/post.md"), PassKind::pass1, h.home);
    EXPECT_FALSE(QFileInfo::exists(piece + QStringLiteral("/cards")));
    // A refused write is swallowed, and leaves nothing behind.
    const QString nowhere = h.root + QStringLiteral("/nowhere");
    EXPECT_NO_THROW(DeslopLint::fileLintCards(QStringLiteral("delve"), QStringLiteral("x"),
                                              nowhere + QStringLiteral("/post.md"), PassKind::pass1, h.home));
    EXPECT_FALSE(QFileInfo::exists(nowhere));
    EXPECT_EQ(entries(h.root), QStringList{QStringLiteral("Home")});
}
