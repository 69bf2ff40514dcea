// The review store: listing a piece with 600 cards, finding one card among
// them, and the prose lint over a 50,000-word manuscript compared with
// `grep -F -o -i -f phrases` on the same text.

#include "review/desloplint.h"
#include "review/fixcardstore.h"
#include "synthetichome.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimeZone>
#include <benchmark/benchmark.h>

#include <cstdio>

namespace {

using namespace review;
using Card = FixCardStore::StoredFixCard;

// --- Cards ------------------------------------------------------------------------------

struct CardsFixture {
    QTemporaryDir dir;
    QString piece = dir.path() + QStringLiteral("/Home/projects/Essays/essay");
    QString cards = piece + QStringLiteral("/cards");
    QUuid last;

    CardsFixture()
    {
        QDir().mkpath(cards);
        QFile post(piece + QStringLiteral("/post.md"));
        post.open(QIODevice::WriteOnly);
        post.write("---\ntype: post\n---\nBody.\n");
        const QDateTime base(QDate(2026, 3, 7), QTime(9, 0), QTimeZone::utc());
        for (int i = 0; i < 600; ++i) {
            Card card;
            card.id = QUuid::createUuid();
            card.submittedAt = base.addSecs(i / 10 * 60);
            card.rank = i % 10 + 1;
            card.pattern = QStringLiteral("Pattern number %1").arg(i);
            card.problem = QStringLiteral("The sentence circles its point twice before it lands — cut the first lap.");
            card.diagnosticQuestion = QStringLiteral("What is the one thing this paragraph must say?");
            card.fix = QStringLiteral("Say it once, plainly, and move on to the next beat of the scene.");
            card.anchor = {QStringLiteral("It was, in a way, the beginning of the end"), 1 + i % 3,
                           QStringLiteral("the opening of the second act")};
            card.lane = i % 2 ? Card::Lane::mechanical : Card::Lane::demonstration;
            card.provenance =
                Card::Provenance{QStringLiteral("essay"), std::nullopt, QStringLiteral("hermes"), 1 + i % 2};
            QFile file(cards + QStringLiteral("/20260307-%1-pattern-number-%2.json").arg(90000 + i).arg(i));
            file.open(QIODevice::WriteOnly);
            file.write(FixCardStore::encodeCard(card));
            last = card.id;
        }
    }
};

CardsFixture &cardsFixture()
{
    static CardsFixture fixture;
    return fixture;
}

void BM_LoadCards600(benchmark::State &state)
{
    const CardsFixture &f = cardsFixture();
    for (auto _ : state) {
        const auto cards = FixCardStore::loadCards(f.cards);
        if (cards.size() != 600)
            state.SkipWithError("cards went missing");
        benchmark::DoNotOptimize(cards);
    }
}
BENCHMARK(BM_LoadCards600)->Unit(benchmark::kMillisecond);

void BM_CardsForPiece600(benchmark::State &state)
{
    const CardsFixture &f = cardsFixture();
    for (auto _ : state)
        benchmark::DoNotOptimize(FixCardStore::cardsForPiece(f.piece));
}
BENCHMARK(BM_CardsForPiece600)->Unit(benchmark::kMillisecond);

// What closing or applying one card costs: find it by id among 600.
void BM_FindOneCardAmong600(benchmark::State &state)
{
    const CardsFixture &f = cardsFixture();
    for (auto _ : state) {
        if (!FixCardStore::findCard(f.cards, f.last))
            state.SkipWithError("card not found");
    }
}
BENCHMARK(BM_FindOneCardAmong600)->Unit(benchmark::kMillisecond);

// --- Lint ---------------------------------------------------------------------------------

struct LintFixture {
    QTemporaryDir dir;
    DeslopLint::Config config;
    QString text;
    QString textPath = dir.path() + QStringLiteral("/manuscript.md");
    QString phrasesPath = dir.path() + QStringLiteral("/phrases");

    LintFixture()
    {
        // 200 phrases in four tiers: the bundled vocabulary, filled up with
        // stock pairings.
        const DeslopLint::Config bundled = DeslopLint::loadConfig(std::nullopt);
        QStringList phrases;
        for (const auto &tier : bundled.tiers) {
            for (const auto &p : tier.phrases)
                phrases.append(p.phrase);
        }
        const char *const adjectives[] = {"quiet",  "bold",  "rich", "vivid",  "deep", "stark",
                                          "subtle", "sharp", "warm", "bright", "raw",  "lush"};
        const char *const nouns[] = {"revolution", "landscape",   "narrative", "tension",  "texture",
                                     "resonance",  "sensibility", "interplay", "momentum", "clarity"};
        for (int i = 0; phrases.size() < 200; ++i)
            phrases.append(
                QStringLiteral("%1 %2").arg(QLatin1String(adjectives[i % 12]), QLatin1String(nouns[i / 12 % 10])));
        config.emDashBudget = 2;
        for (int t = 0; t < 4; ++t) {
            DeslopLint::Config::Tier tier{QStringLiteral("Tier %1").arg(t + 1), QStringLiteral("stock wording"), t, {}};
            for (int i = t * 50; i < t * 50 + 50; ++i)
                tier.phrases.append(
                    {phrases[i], i % 3 ? std::optional<QString>(QStringLiteral("plain")) : std::nullopt});
            config.tiers.append(tier);
        }

        // 50,000 words with exactly 30 em dashes and about 200 planted phrases.
        QString prose = testsupport::syntheticProse(50000, 11);
        prose.replace(QStringLiteral(" — "), QStringLiteral(", "));
        QStringList words = prose.split(u' ');
        QRandomGenerator rng(5);
        for (int i = 0; i < 30; ++i)
            words[rng.bounded(words.size())] += QStringLiteral(" —");
        for (int i = 0; i < 200; ++i) {
            QString phrase = phrases[rng.bounded(120)];
            if (i % 4 == 0)
                phrase[0] = phrase[0].toUpper();
            words[rng.bounded(words.size())] += u' ' + phrase;
        }
        text = words.join(u' ');

        QFile t(textPath);
        t.open(QIODevice::WriteOnly);
        t.write(text.toUtf8());
        QFile p(phrasesPath);
        p.open(QIODevice::WriteOnly);
        p.write(phrases.join(u'\n').toUtf8() + '\n');
        QFile c(dir.path() + u'/' + DeslopLint::kConfigFileName);
        c.open(QIODevice::WriteOnly);
        c.write(config.toJson());
    }
};

LintFixture &lintFixture()
{
    static LintFixture fixture;
    return fixture;
}

qint64 grepOnce(const LintFixture &f)
{
    QProcess grep;
    grep.start(QStringLiteral("grep"), {QStringLiteral("-F"), QStringLiteral("-o"), QStringLiteral("-i"),
                                        QStringLiteral("-f"), f.phrasesPath, f.textPath});
    grep.waitForFinished(-1);
    return grep.readAllStandardOutput().count('\n');
}

void BM_LintManuscript(benchmark::State &state)
{
    const LintFixture &f = lintFixture();
    qsizetype findings = 0;
    for (auto _ : state) {
        const auto result = DeslopLint::lint(f.text, f.config.tiers, f.config.emDashBudget);
        findings = result.size();
        benchmark::DoNotOptimize(result);
    }
    state.counters["findings"] = double(findings);
    state.counters["kbytes"] = double(f.text.toUtf8().size()) / 1024;
}
BENCHMARK(BM_LintManuscript)->Unit(benchmark::kMillisecond);

// As the Pass start does it: the configuration read from disk, then the lint.
void BM_LoadConfigAndLint(benchmark::State &state)
{
    const LintFixture &f = lintFixture();
    for (auto _ : state) {
        const DeslopLint::Config config = DeslopLint::loadConfig(f.dir.path());
        benchmark::DoNotOptimize(DeslopLint::lint(f.text, config.tiers, config.emDashBudget));
    }
}
BENCHMARK(BM_LoadConfigAndLint)->Unit(benchmark::kMillisecond);

void BM_GrepSameText(benchmark::State &state)
{
    const LintFixture &f = lintFixture();
    qint64 matches = 0;
    for (auto _ : state)
        matches = grepOnce(f);
    state.counters["matches"] = double(matches);
}
BENCHMARK(BM_GrepSameText)->Unit(benchmark::kMillisecond);

// Both in one run, alternating, with the ratio lint / grep.
void BM_LintVersusGrep(benchmark::State &state)
{
    const LintFixture &f = lintFixture();
    qint64 lintNs = 0;
    qint64 grepNs = 0;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        benchmark::DoNotOptimize(DeslopLint::lint(f.text, f.config.tiers, f.config.emDashBudget));
        lintNs += timer.nsecsElapsed();
        timer.restart();
        grepOnce(f);
        grepNs += timer.nsecsElapsed();
    }
    const double n = double(state.iterations());
    state.counters["lint_ms"] = double(lintNs) / n / 1e6;
    state.counters["grep_ms"] = double(grepNs) / n / 1e6;
    state.counters["lint_over_grep"] = grepNs > 0 ? double(lintNs) / double(grepNs) : 0;
}
BENCHMARK(BM_LintVersusGrep)->Unit(benchmark::kMillisecond);

} // namespace
