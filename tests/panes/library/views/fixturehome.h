#pragma once
// A small Home on disk for the posts pane's widget tests, and the real
// library model over it: four projects whose names sort differently by case
// and by number, pieces in each pass state, an outline, an AI piece and an
// archived piece.

#include "library/poststore.h"
#include "model/postsmodel.h"
#include "testutil.h"

#include <QCoro/QCoroTask>
#include <QDir>
#include <QLocale>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace testsupport {

inline void writePiece(const QString &home, const QString &root, const QString &project, const QString &id,
                       const QString &title, const QString &passState = QStringLiteral("First Draft"),
                       const QString &type = QStringLiteral("post"), const QString &origin = QStringLiteral("writer"),
                       const QString &body = QStringLiteral("Some words."))
{
    const QString text = QStringLiteral("---\ntype: %1\npass_state: %2\norigin: %3\n---\n# %4\n\n%5\n")
                             .arg(type, passState, origin, title, body);
    writeFile(home + u'/' + root + u'/' + project + u'/' + id + QStringLiteral("/post.md"), text.toUtf8());
}

class PostsHomeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Natural order must not depend on the locale's collation.
        QLocale::setDefault(QLocale::c());
        QDir().mkpath(home);
        writeLibrary();
        model.startWatching(home);
        QCoro::waitFor(model.rescan());
    }
    void TearDown() override
    {
        model.settleBackgroundWork();
        QLocale::setDefault(savedLocale);
    }
    virtual void writeLibrary()
    {
        writePiece(home, "projects", "Drafts", "morning", "Morning Pages");
        writePiece(home, "projects", "Essays", "harbour", "Harbour Lights", "Pass-2 Done");
        writePiece(home, "projects", "Essays", "plans", "Plans", "First Draft", "post", "ai", "A draft of plans.");
        writePiece(home, "projects", "Essays", "tides", "Tides", "Pass-2 Done");
        writePiece(home, "projects", "essays 10", "ten", "Ten Things", "Pass-1 Done", "outline", "writer",
                   "- one\n- two");
        writePiece(home, "projects", "essays 2", "two", "Two Roads");
        writePiece(home, "archive", "Essays", "gone", "Gone Draft");
    }
    library::Post post(const QString &id) const
    {
        for (const library::Post &p : model.posts()) {
            if (p.id == id)
                return p;
        }
        ADD_FAILURE() << "no piece " << id.toStdString();
        return {};
    }
    QString postFile(const QString &project, const QString &id) const
    {
        return home + QStringLiteral("/projects/") + project + u'/' + id + QStringLiteral("/post.md");
    }

    QLocale savedLocale;
    QTemporaryDir dir;
    QString home = dir.path() + QStringLiteral("/Home");
    model::PostsModel model;
};

} // namespace testsupport
