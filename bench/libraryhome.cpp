#include "libraryhome.h"

#include "synthetichome.h"

#include <QDirIterator>
#include <QFile>

#include <sys/stat.h>

namespace bench {

const LibraryHome &tenThousandPieceHome()
{
    static const LibraryHome *const instance = [] {
        auto *h = new LibraryHome;
        h->path = h->dir.path() + "/Home";
        testsupport::SyntheticHomeOptions options;
        options.projects = 40;
        options.piecesPerProject = 250;
        options.archivedProjects = 8;
        options.minWords = 50;
        options.maxWords = 400;
        testsupport::generateSyntheticHome(h->path, options);
        QDirIterator it(h->path, {QStringLiteral("post.md")}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            h->postFiles.push_back(QFile::encodeName(it.next()));
        return h;
    }();
    return *instance;
}

qint64 statEveryPostFile(const LibraryHome &home)
{
    qint64 bytes = 0;
    for (const QByteArray &file : home.postFiles) {
        struct stat st {};
        if (::stat(file.constData(), &st) == 0)
            bytes += st.st_size;
    }
    return bytes;
}

} // namespace bench
