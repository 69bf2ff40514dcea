#pragma once
// The 10,000-piece synthetic Home the library benchmarks share, and the
// floor a rescan with a warm cache is measured against.

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
#include <vector>

namespace bench {

struct LibraryHome {
    QTemporaryDir dir;
    QString path;
    std::vector<QByteArray> postFiles;
};

// Generated once per process: 40 projects of 250 short pieces, 8 of them
// archived.
const LibraryHome &tenThousandPieceHome();

// Stats every post.md of home, as any rescan must at least do; answers the
// bytes seen.
qint64 statEveryPostFile(const LibraryHome &home);

} // namespace bench
