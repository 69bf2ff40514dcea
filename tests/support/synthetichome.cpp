#include "synthetichome.h"

#include "testutil.h"

#include <QDir>
#include <QStringList>
#include <random>

namespace testsupport {
namespace {

const char *const kWords[] = {
    "the",    "writer", "kept",   "a",      "small",   "notebook", "of",      "sentences", "that",     "never",
    "quite",  "worked", "and",    "every",  "morning", "she",      "read",    "them",      "aloud",    "to",
    "hear",   "where",  "rhythm", "broke",  "river",   "light",    "window",  "coffee",    "draft",    "paragraph",
    "memory", "city",   "winter", "letter", "garden",  "silence",  "because", "although",  "through",  "between",
    "café",   "naïve",  "façade", "über",   "déjà",    "soirée",   "moment",  "story",     "question", "answer",
    "is",     "was",    "in",     "on",     "with",    "for",      "it",      "her",       "his",      "they",
    "we",     "you",    "like",   "really",
};
constexpr int kWordCount = int(sizeof kWords / sizeof kWords[0]);

} // namespace

QString syntheticProse(int words, std::uint32_t seed)
{
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> pick(0, kWordCount - 1);
    std::uniform_int_distribution<int> sentenceLen(4, 28);
    std::uniform_int_distribution<int> sentencesPerPara(2, 7);
    std::uniform_int_distribution<int> percent(0, 99);
    QString out;
    out.reserve(words * 7);
    int written = 0;
    while (written < words) {
        const int sentences = sentencesPerPara(rng);
        for (int s = 0; s < sentences && written < words; ++s) {
            const int len = sentenceLen(rng);
            for (int w = 0; w < len && written < words; ++w, ++written) {
                QString word = QString::fromUtf8(kWords[pick(rng)]);
                if (w == 0)
                    word[0] = word[0].toUpper();
                out += word;
                if (w + 1 < len) {
                    const int p = percent(rng);
                    out += p < 4 ? QStringLiteral(", ") : p < 5 ? QStringLiteral(" — ") : QStringLiteral(" ");
                }
            }
            out += percent(rng) < 10 ? QStringLiteral("? ") : QStringLiteral(". ");
        }
        out += QStringLiteral("\n\n");
    }
    return out;
}

SyntheticHomeSummary generateSyntheticHome(const QString &root, const SyntheticHomeOptions &options)
{
    SyntheticHomeSummary summary;
    const auto write = [&summary](const QString &path, const QByteArray &bytes) {
        writeFile(path, bytes);
        summary.bytes += bytes.size();
    };
    std::mt19937 rng(options.seed);
    std::uniform_int_distribution<int> words(options.minWords, std::max(options.minWords, options.maxWords));
    std::uniform_int_distribution<int> percent(0, 99);
    const QStringList passStates = {QStringLiteral("First Draft"), QStringLiteral("Pass-1 Done"),
                                    QStringLiteral("Pass-2 Done")};

    for (int p = 0; p < options.projects; ++p) {
        const bool archived = p < options.archivedProjects;
        const QString project = QStringLiteral("Project %1").arg(p + 1);
        const QString projectDir = root + (archived ? "/archive/" : "/projects/") + project;
        for (int i = 0; i < options.piecesPerProject; ++i) {
            const QString title = QStringLiteral("Piece %1 of %2").arg(i + 1).arg(project);
            const QString id = QStringLiteral("piece-%1-of-project-%2").arg(i + 1).arg(p + 1);
            const QString dir = projectDir + "/" + id;
            const bool outline = percent(rng) < 10;
            const QString passState = passStates[percent(rng) % 3];
            QString text = QStringLiteral("---\ntype: %1\npass_state: %2\norigin: %3\n---\n")
                               .arg(outline ? QStringLiteral("outline") : QStringLiteral("post"), passState,
                                    percent(rng) < 85 ? QStringLiteral("writer") : QStringLiteral("ai"));
            if (outline) {
                text += QStringLiteral("# ") + title + QStringLiteral("\n\n");
                for (int n = 0; n < 30; ++n)
                    text += QString(2 * (n % 3), u' ') + QStringLiteral("- Point %1\n").arg(n + 1);
            } else {
                text += QStringLiteral("# ") + title + QStringLiteral("\n\n")
                        + syntheticProse(words(rng), options.seed + std::uint32_t(p * 1000 + i));
            }
            write(dir + "/post.md", text.toUtf8());
            ++summary.pieces;

            if (percent(rng) < 30) {
                const int cards = 1 + percent(rng) % 6;
                for (int c = 0; c < cards; ++c) {
                    const QByteArray card =
                        QStringLiteral(
                            R"({"anchor":{"occurrence":1,"quote":"the writer"},"anchor_status":"valid","diagnostic_question":"Does this earn its place?","emitter":"engine","fix":"Cut it.","id":"%1","lane":"demonstration","pattern":"pattern-%2","problem":"It repeats.","rank":%3,"status":"open","submitted_at":"2026-01-0%4T10:00:00Z"})")
                            .arg(QStringLiteral("00000000-0000-4000-8000-%1")
                                     .arg(c + i * 10 + p * 1000, 12, 10, QChar(u'0')))
                            .arg(c)
                            .arg(c + 1)
                            .arg(1 + c % 9)
                            .toUtf8();
                    write(dir + QStringLiteral("/cards/2026010%1-100000-pattern-%2.json").arg(1 + c % 9).arg(c), card);
                    ++summary.cards;
                }
            }
            if (passState != passStates[0])
                write(dir + "/passes/pass-1.md", text.toUtf8());
            if (percent(rng) < 15)
                write(dir + "/research/2026-01-01-a-source.md",
                      QByteArrayLiteral("# A source\n\n> A quote worth keeping.\n"));
        }
    }
    QDir().mkpath(root + "/learnings/posts");
    QDir().mkpath(root + "/learnings/outlines");
    return summary;
}

} // namespace testsupport
