#pragma once
// A throw-away Home with pieces for the review tests.

#include "foundation/fs.h"
#include "review/fixcardstore.h"
#include "testenv.h"
#include "testutil.h"

#include <QDateTime>
#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>

namespace reviewtest {

inline QString golden(const QString &name)
{
    return testsupport::sourceDir() + QStringLiteral("/tests/review/golden/") + name;
}

using testsupport::entries;
using testsupport::readFile;
using testsupport::writeFile;

// Noon UTC: the same calendar day in every time zone a test machine uses.
inline QDateTime noon(int y, int mo, int d)
{
    return QDateTime(QDate(y, mo, d), QTime(12, 0), QTimeZone::utc());
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
