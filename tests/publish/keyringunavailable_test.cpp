// The real keyring store when no Secret Service can be reached: the failure
// is reported, and the token is never written anywhere in plain text.
#include "publish/apptoken.h"

#include "capturedlog.h"
#include "testutil.h"

#include <QDir>
#include <QDirIterator>
#include <gtest/gtest.h>

namespace Micropub = publish::Micropub;
using Micropub::SaveResult;

namespace {

TEST(KeyringUnavailable, AFailedWriteIsReportedAndNothingIsWrittenInPlainText)
{
    // A bus address that cannot answer: never the writer's own session, and
    // no bus is started on demand.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + QDir::homePath().toUtf8() + "/no-bus");
    testsupport::CapturedLog log;
    Micropub::KeyringSecretStore store;
    const QString token = u"plain-text-never"_qs;
    EXPECT_EQ(QCoro::waitFor(Micropub::saveToken(store, token)),
              (SaveResult{SaveResult::Case::notStored, token, QString::fromUtf8(Micropub::kTokenNotStored)}));
    EXPECT_EQ(QCoro::waitFor(Micropub::readToken(store)), std::nullopt);
    EXPECT_EQ(log.linesOf(u"com.quendalstudio.Pennora.micropub"_qs).size(), 2u);
    // The test's home holds every file the process could have written.
    QDirIterator files(QDir::homePath(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString path = files.next();
        EXPECT_FALSE(testsupport::readFile(path).contains(token.toUtf8())) << path.toStdString();
    }
}

} // namespace
