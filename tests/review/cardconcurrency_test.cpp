#include "reviewfixture.h"

#include "review/desloplint.h"
#include "review/fixcardstore.h"
#include "testenv.h"

#include <QProcess>
#include <QSet>

#include <optional>
#include <string>

#include <gtest/gtest.h>

using namespace review;
using library::PassKind;
using namespace reviewtest;
using Card = FixCardStore::StoredFixCard;

namespace {

// The names a racing writer filed since its last "ready" line, once it prints
// the next one; nothing when it ends first.
std::optional<QStringList> nextRound(QProcess &writer)
{
    QStringList names;
    for (;;) {
        while (writer.canReadLine()) {
            const QString line = QString::fromUtf8(writer.readLine()).trimmed();
            if (line == QStringLiteral("ready"))
                return names;
            names.append(line);
        }
        if (!writer.waitForReadyRead(30000))
            return std::nullopt;
    }
}

} // namespace

// Two tool servers and the lint file cards of one pattern into one piece at
// the same moment, a fresh piece each round: every card must survive under its
// own name. The writers wait on their input, so one line to each releases
// them together, and the lint runs here at once.
TEST(CardConcurrency, TwoWritersAndTheLintKeepEveryCard)
{
    const QString writer = testsupport::binaryDir() + QStringLiteral("/tests/support/pennora_cardwriter");
    ASSERT_TRUE(QFileInfo(writer).isExecutable()) << writer.toStdString();

    Home h;
    const QString text = QStringLiteral("Body. Same pattern here.");
    DeslopLint::Config config;
    config.tiers = {{QStringLiteral("T"), QStringLiteral("n"), 0, {{QStringLiteral("Same pattern"), std::nullopt}}}};
    writeFile(h.home + QStringLiteral("/deslop-lint.json"), config.toJson());

    constexpr int kRounds = 50;
    constexpr int kPerWriter = 3;
    QProcess writers[2];
    for (QProcess &w : writers) {
        w.start(writer, {QStringLiteral("Same pattern"), QString::number(kPerWriter)});
        ASSERT_TRUE(w.waitForStarted());
        ASSERT_TRUE(nextRound(w)) << w.readAllStandardError().toStdString();
    }
    QSet<QUuid> ids;
    int met = 0; // rounds in which both writers stamped their cards with one second
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const QString id = QStringLiteral("essay-%1").arg(round);
        const QString piece = h.piece(id, text);
        for (QProcess &w : writers)
            w.write(piece.toUtf8() + '\n');
        for (QProcess &w : writers)
            ASSERT_TRUE(w.waitForBytesWritten(30000));
        DeslopLint::fileLintCards(text, id, piece + QStringLiteral("/post.md"), PassKind::pass1, h.home);

        QStringList reported;
        QStringList stamps;
        for (QProcess &w : writers) {
            const std::optional<QStringList> names = nextRound(w);
            ASSERT_TRUE(names) << w.readAllStandardError().toStdString();
            ASSERT_EQ(names->size(), kPerWriter);
            reported += *names;
            stamps.append(names->first().left(QStringLiteral("yyyyMMdd-HHmmss").size()));
        }
        met += stamps[0] == stamps[1];

        const QString cards = piece + QStringLiteral("/cards");
        const QList<FixCardStore::CardFile> all = FixCardStore::loadCards(cards);
        ASSERT_EQ(entries(cards).size(), 2 * kPerWriter + 1);
        ASSERT_EQ(all.size(), 2 * kPerWriter + 1);
        int lint = 0;
        for (const auto &file : all) {
            ids.insert(file.card.id);
            EXPECT_TRUE(file.fileName.contains(QStringLiteral("-same-pattern"))) << file.fileName.toStdString();
            lint += file.card.emitter == Card::Emitter::lint;
            reported.removeOne(file.fileName);
        }
        EXPECT_EQ(lint, 1);
        EXPECT_EQ(reported, QStringList()) << "named by a writer but not on disk";
    }
    for (QProcess &w : writers) {
        w.closeWriteChannel();
        ASSERT_TRUE(w.waitForFinished(30000));
        ASSERT_EQ(w.exitCode(), 0) << w.readAllStandardError().toStdString();
    }
    EXPECT_EQ(ids.size(), kRounds * (2 * kPerWriter + 1));
    // Released together, the writers miss each other's second only when a
    // round straddles a second's end.
    EXPECT_GE(met, kRounds / 2);
}
