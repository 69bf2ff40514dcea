#pragma once
// A Home with one piece open in the library model, and the blog service's
// stand-in over TLS on 127.0.0.1, for the tests of sending a piece and of
// the publish sheet.

#include "publish/micropub.h"
#include "publish/senddraft.h"

#include "fakeblogservice.h"
#include "library/poststore.h"
#include "model/postsmodel.h"
#include "testutil.h"

#include <QCoreApplication>
#include <QDir>
#include <QNetworkAccessManager>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace publish::Micropub {
inline void PrintTo(const Outcome &outcome, std::ostream *os)
{
    *os << outcome.description().toStdString();
}
inline void PrintTo(const DraftSend &send, std::ostream *os)
{
    *os << send.outcome.description().toStdString() << " unrecorded "
        << send.unrecorded.value_or(QStringLiteral("none")).toStdString();
}
} // namespace publish::Micropub

namespace publishtest {

using testsupport::FakeBlogService;
using Route = FakeBlogService::Route;

// Long enough for a loaded machine.
inline constexpr int kTimeoutMs = 10'000;

class PublishFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        QDir().mkpath(home);
        model.startWatching(home);
        QCoro::waitFor(model.rescan());
    }
    void TearDown() override
    {
        model.settleBackgroundWork();
        // Qt's network thread leaks the connections it still holds when the
        // process ends right after they closed.
        if (auto *manager = QCoreApplication::instance()->findChild<QNetworkAccessManager *>())
            manager->clearConnectionCache();
        testsupport::drainPosted();
    }

    publish::Micropub::Client client() const
    {
        return publish::Micropub::Client({service.endpoint(), {FakeBlogService::certificate()}, kTimeoutMs});
    }

    // A piece whose post.md is exactly text, selected and open.
    QString openPiece(const QByteArray &text)
    {
        const library::Post post = library::PostStore::createPiece(
            "# Placeholder\n", "Essays", library::Post::ContentType::post, library::Post::Origin::writer, home);
        id = post.id;
        folder = *library::PostStore::folderPath(id, home);
        testsupport::writeFile(postFile(), text);
        QCoro::waitFor(model.rescan());
        model.selectPiece(id);
        EXPECT_TRUE(model.isSessionOpen(id));
        return id;
    }
    QString postFile() const { return QDir(folder).filePath("post.md"); }
    QString asset(const QString &name) const { return QDir(folder).filePath("assets/" + name); }

    publish::Micropub::DraftSend send(const QString &token = QStringLiteral("token"))
    {
        return QCoro::waitFor(publish::Micropub::sendDraft(model, token, client()));
    }

    QList<Route> routes() const
    {
        QList<Route> taken;
        for (const auto &request : service.received())
            taken.append(FakeBlogService::routeOf(request));
        return taken;
    }

    QTemporaryDir dir;
    QString home = dir.path() + "/Home";
    FakeBlogService service;
    model::PostsModel model;
    QString id;
    QString folder;
};

} // namespace publishtest
