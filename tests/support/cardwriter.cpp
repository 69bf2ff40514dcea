// A stand-in for a tool server filing cards: writes <count> cards of one
// pattern into a piece at a given moment, so tests can race several writers.
//
//   pennora_cardwriter <piece> <pattern> <count> <start-ms-since-epoch>

#include "review/fixcardstore.h"

#include <QDateTime>
#include <QThread>

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: pennora_cardwriter <piece> <pattern> <count> <start-ms>\n");
        return 2;
    }
    const QString piece = QString::fromUtf8(argv[1]);
    const QString pattern = QString::fromUtf8(argv[2]);
    const int count = QByteArray(argv[3]).toInt();
    const qint64 start = QByteArray(argv[4]).toLongLong();

    QList<review::FixCardStore::Input> inputs;
    for (int i = 0; i < count; ++i) {
        review::FixCardStore::Input input;
        input.pattern = pattern;
        input.problem = QStringLiteral("Filed by a racing writer.");
        input.anchor.quote = QStringLiteral("Body");
        inputs.append(input);
    }
    const qint64 wait = start - QDateTime::currentMSecsSinceEpoch();
    if (wait > 0)
        QThread::msleep(static_cast<unsigned long>(wait));
    try {
        for (const auto &written : review::FixCardStore::write(piece, inputs))
            std::printf("%s\n", written.fileName.toUtf8().constData());
    } catch (const review::FixCardStore::CardError &error) {
        std::fprintf(stderr, "%s\n", error.message().toUtf8().constData());
        return 1;
    } catch (const std::exception &error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
