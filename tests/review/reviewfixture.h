#pragma once
// A throw-away Home with pieces for the review tests.

#include "foundation/fs.h"
#include "review/fixcardstore.h"
#include "testenv.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace reviewtest {

inline QString golden(const QString &name)
{
    return testsupport::sourceDir() + QStringLiteral("/tests/review/golden/") + name;
}

inline void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(path.left(path.lastIndexOf(u'/')));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    file.write(bytes);
}

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::Name);
}

struct Home {
    QTemporaryDir dir;
    QString root = dir.path();
    QString home = root + QStringLiteral("/Home");

    // Writes projects/<project>/<id>/post.md and answers the piece folder.
    QString piece(const QString &id,
                  const QString &text = QStringLiteral("---\ntype: post\n---\n# Title\n\nBody text.\n"),
                  const QString &project = QStringLiteral("Essays"), const QString &root = QStringLiteral("projects"))
    {
        const QString folder = home + u'/' + root + u'/' + project + u'/' + id;
        writeFile(folder + QStringLiteral("/post.md"), text.toUtf8());
        return folder;
    }
};

inline review::FixCardStore::Input input(const QString &pattern, const QString &quote = QStringLiteral("Body"),
                                         qint64 occurrence = 1)
{
    review::FixCardStore::Input in;
    in.pattern = pattern;
    in.problem = QStringLiteral("It repeats.");
    in.anchor.quote = quote;
    in.anchor.occurrence = occurrence;
    return in;
}

} // namespace reviewtest
