// A stand-in for a tool server filing cards, raced against other writers by
// the card-store concurrency test. It prints "ready" and blocks on its input;
// every line it reads, a piece folder, starts a round: it files <count> cards
// of one pattern into that piece, prints their file names and "ready" again.
// It ends with its input. A pipe releases the writers, not a clock, so no
// round waits for a set time.
//
//   pennora_cardwriter <pattern> <count>

#include "review/fixcardstore.h"

#include <cstdio>
#include <iostream>
#include <string>

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: pennora_cardwriter <pattern> <count>\n");
        return 2;
    }
    const QString pattern = QString::fromUtf8(argv[1]);
    const int count = QByteArray(argv[2]).toInt();

    QList<review::FixCardStore::Input> inputs;
    for (int i = 0; i < count; ++i) {
        review::FixCardStore::Input input;
        input.pattern = pattern;
        input.problem = QStringLiteral("Filed by a racing writer.");
        input.anchor.quote = QStringLiteral("Body");
        inputs.append(input);
    }
    for (;;) {
        std::printf("ready\n");
        std::fflush(stdout);
        std::string line;
        if (!std::getline(std::cin, line))
            return 0;
        const QString piece = QString::fromStdString(line);
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
    }
}
