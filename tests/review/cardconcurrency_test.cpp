#include "reviewfixture.h"

#include "review/desloplint.h"
#include "review/fixcardstore.h"
#include "testenv.h"

#include <QDateTime>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QThread>

#include <gtest/gtest.h>

using namespace review;
using namespace reviewtest;
using Card = FixCardStore::StoredFixCard;

// Two tool servers and the lint file cards of one pattern into one piece at
// the same moment, round after round: every card must survive under its own
// name.
TEST(CardConcurrency, TwoWritersAndTheLintKeepEveryCard)
{
    const QString writer = testsupport::binaryDir() + QStringLiteral("/tests/support/pennora_cardwriter");
    ASSERT_TRUE(QFileInfo(writer).isExecutable()) << writer.toStdString();

    Home h;
    const QString text = QStringLiteral("Body. Same pattern here.");
    const QString piece = h.piece(QStringLiteral("essay"), text);
    const QString post = piece + QStringLiteral("/post.md");
    const QString cards = piece + QStringLiteral("/cards");
    DeslopLint::Config config;
    config.tiers = {{QStringLiteral("T"), QStringLiteral("n"), 0, {{QStringLiteral("Same pattern"), std::nullopt}}}};
    writeFile(h.home + QStringLiteral("/deslop-lint.json"), config.toJson());

    constexpr int kRounds = 50;
    constexpr int kPerWriter = 3;
    for (int round = 0; round < kRounds; ++round) {
        const qint64 start = QDateTime::currentMSecsSinceEpoch() + 250;
        QProcess a, b;
        for (QProcess *p : {&a, &b}) {
            p->start(writer,
                     {piece, QStringLiteral("Same pattern"), QString::number(kPerWriter), QString::number(start)});
            ASSERT_TRUE(p->waitForStarted());
        }
        const qint64 wait = start - QDateTime::currentMSecsSinceEpoch();
        if (wait > 0)
            QThread::msleep(static_cast<unsigned long>(wait));
        DeslopLint::fileLintCards(text, QStringLiteral("essay"), post, 1, h.home);
        for (QProcess *p : {&a, &b}) {
            ASSERT_TRUE(p->waitForFinished(30000));
            ASSERT_EQ(p->exitCode(), 0) << p->readAllStandardError().toStdString();
        }
        // Close this round's lint card so the next round files one again.
        for (const FixCardStore::CardFile &file : FixCardStore::loadCards(cards)) {
            if (file.card.emitter == Card::Emitter::lint && file.card.status == Card::Status::open) {
                Card closed = file.card;
                closed.status = Card::Status::done;
                FixCardStore::rewriteCard(cards, file.fileName, closed);
            }
        }
    }

    const QList<FixCardStore::CardFile> all = FixCardStore::loadCards(cards);
    EXPECT_EQ(entries(cards).size(), kRounds * (2 * kPerWriter + 1));
    ASSERT_EQ(all.size(), kRounds * (2 * kPerWriter + 1));
    QSet<QUuid> ids;
    int lint = 0;
    int raced = 0; // names past "-3" exist only when writers met in one second
    static const QRegularExpression numbered(QStringLiteral("-same-pattern-(\\d+)\\.json$"));
    for (const auto &file : all) {
        ids.insert(file.card.id);
        const auto m = numbered.match(file.fileName);
        raced += m.hasMatch() && m.captured(1).toInt() > kPerWriter;
        EXPECT_TRUE(file.fileName.contains(QStringLiteral("-same-pattern"))) << file.fileName.toStdString();
        lint += file.card.emitter == Card::Emitter::lint;
    }
    EXPECT_EQ(ids.size(), all.size());
    EXPECT_EQ(lint, kRounds);
    EXPECT_GT(raced, 0);
}
