// The app token in a real Secret Service (gnome-keyring in a D-Bus session of
// its own, see with-secret-service.sh): nothing stored reads as none, and a
// new token replaces the old one in a single item.
#include "publish/apptoken.h"

#include "testutil.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <gtest/gtest.h>

namespace Micropub = publish::Micropub;
using Micropub::SaveResult;

namespace {

class SecretServiceKeyring : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Never the writer's own keyring: only inside the throwaway session.
        if (qEnvironmentVariable("PENNORA_THROWAWAY_KEYRING") != u"1")
            GTEST_SKIP() << "runs only under with-secret-service.sh";
    }

    Micropub::KeyringSecretStore store;
};

// The Secret Service's items stored for the token's service, locked or not.
qsizetype itemsOfTheTokenService()
{
    // The search's attributes go as a{ss}.
    qDBusRegisterMetaType<QMap<QString, QString>>();
    QDBusMessage search = QDBusMessage::createMethodCall(u"org.freedesktop.secrets"_qs, u"/org/freedesktop/secrets"_qs,
                                                         u"org.freedesktop.Secret.Service"_qs, u"SearchItems"_qs);
    search << QVariant::fromValue(QMap<QString, QString>{{u"server"_qs, QString::fromUtf8(Micropub::kTokenService)}});
    const QDBusMessage reply = QDBusConnection::sessionBus().call(search);
    EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    qsizetype count = 0;
    for (const QVariant &paths : reply.arguments())
        count += qdbus_cast<QList<QDBusObjectPath>>(paths).size();
    return count;
}

TEST_F(SecretServiceKeyring, ReadingWithNothingStoredGivesNone)
{
    EXPECT_EQ(QCoro::waitFor(Micropub::readToken(store)), std::nullopt);
}

TEST_F(SecretServiceKeyring, ANewTokenReplacesTheOldOne)
{
    EXPECT_EQ(QCoro::waitFor(Micropub::saveToken(store, u" first-token\n"_qs)),
              (SaveResult{SaveResult::Case::saved, u"first-token"_qs, {}}));
    EXPECT_EQ(QCoro::waitFor(Micropub::readToken(store)), u"first-token"_qs);
    EXPECT_EQ(QCoro::waitFor(Micropub::saveToken(store, u"sécond-token"_qs)),
              (SaveResult{SaveResult::Case::saved, u"sécond-token"_qs, {}}));
    EXPECT_EQ(QCoro::waitFor(Micropub::readToken(store)), u"sécond-token"_qs);
    EXPECT_EQ(itemsOfTheTokenService(), 1);
    // An empty paste leaves the stored token as it is.
    EXPECT_EQ(QCoro::waitFor(Micropub::saveToken(store, u"  "_qs)).which, SaveResult::Case::empty);
    EXPECT_EQ(QCoro::waitFor(Micropub::readToken(store)), u"sécond-token"_qs);
}

} // namespace
