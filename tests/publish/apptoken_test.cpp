// The app token: how a pasted token is made ready, refused, stored and read,
// over the in-memory secret store.
#include "publish/apptoken.h"

#include "capturedlog.h"
#include "memorysecretstore.h"
#include "testutil.h"

#include <gtest/gtest.h>

namespace Micropub = publish::Micropub;
using Micropub::SaveResult;
using testsupport::MemorySecretStore;

namespace {

const MemorySecretStore::Key kItem(QString::fromUtf8(Micropub::kTokenService),
                                   QString::fromUtf8(Micropub::kTokenAccount));
const QString kRefusal = QString::fromUtf8(Micropub::kTokenRefusal);

SaveResult save(MemorySecretStore &store, const QString &pasted)
{
    return QCoro::waitFor(Micropub::saveToken(store, pasted));
}

std::optional<QString> read(MemorySecretStore &store)
{
    return QCoro::waitFor(Micropub::readToken(store));
}

TEST(AppToken, ANewTokenReplacesTheOldOneUnderTheServiceAndAccount)
{
    MemorySecretStore store;
    EXPECT_EQ(save(store, u"old-token"_qs), (SaveResult{SaveResult::Case::saved, u"old-token"_qs, {}}));
    EXPECT_EQ(save(store, u"  new-token\n"_qs), (SaveResult{SaveResult::Case::saved, u"new-token"_qs, {}}));
    EXPECT_EQ(store.secrets.size(), 1);
    EXPECT_EQ(store.secrets.value(kItem), "new-token");
    EXPECT_EQ(read(store), u"new-token"_qs);
}

TEST(AppToken, APastedTokenIsTrimmedAndRefusedWhenItStillHoldsSpaceOrControl)
{
    const struct {
        QString pasted;
        std::optional<QString> stored; // none: refused
    } cases[] = {
        {u"\t tok-é_123 \r\n"_qs, u"tok-é_123"_qs},
        {u"\u2028tok\u00a0"_qs, u"tok"_qs},
        {u"tok\nX-Injected: 1"_qs, std::nullopt},
        {u"tok\r"_qs + u"en"_qs, std::nullopt},
        {u"tok en"_qs, std::nullopt},
        {u"tok\ten"_qs, std::nullopt},
        {u"tok\u2028en"_qs, std::nullopt},
        {u"tok\u0085en"_qs, std::nullopt},
        {u"tok"_qs + QChar(0) + u"en"_qs, std::nullopt},
        {u"tok\u007fen"_qs, std::nullopt},
    };
    for (const auto &c : cases) {
        MemorySecretStore store;
        const SaveResult result = save(store, c.pasted);
        if (c.stored) {
            EXPECT_EQ(result, (SaveResult{SaveResult::Case::saved, *c.stored, {}})) << c.pasted.toStdString();
            EXPECT_EQ(store.secrets.value(kItem), c.stored->toUtf8());
        } else {
            EXPECT_EQ(result, (SaveResult{SaveResult::Case::refused, {}, kRefusal})) << c.pasted.toStdString();
            EXPECT_EQ(store.writes, 0);
        }
    }
}

TEST(AppToken, AnEmptyTokenLeavesTheStoreUntouched)
{
    for (const QString &pasted : {u""_qs, u" \t\r\n\u2029"_qs}) {
        MemorySecretStore store;
        store.secrets.insert(kItem, "kept");
        EXPECT_EQ(save(store, pasted), (SaveResult{SaveResult::Case::empty, {}, {}}));
        EXPECT_EQ(store.writes, 0);
        EXPECT_EQ(store.secrets.value(kItem), "kept");
    }
}

TEST(AppToken, ReadingGivesNoneWhenNothingIsStoredOrTheSecretIsNotText)
{
    MemorySecretStore store;
    EXPECT_EQ(read(store), std::nullopt);
    store.secrets.insert(kItem, "\xff\xfe");
    EXPECT_EQ(read(store), std::nullopt);
    // Another account is another item.
    store.secrets.insert({kItem.first, u"other.example"_qs}, "other");
    EXPECT_EQ(read(store), std::nullopt);
}

TEST(AppToken, AFailingStoreIsReportedAndLoggedNeverFallenBackOn)
{
    testsupport::CapturedLog log;
    MemorySecretStore store;
    store.failure = u"The name org.freedesktop.secrets was not provided"_qs;
    EXPECT_EQ(save(store, u" tok "_qs),
              (SaveResult{SaveResult::Case::notStored, u"tok"_qs, QString::fromUtf8(Micropub::kTokenNotStored)}));
    EXPECT_EQ(read(store), std::nullopt);
    const auto lines = log.linesOf(u"com.quendalstudio.Pennora.micropub"_qs);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(lines[0].text.contains(*store.failure)) << lines[0].text.toStdString();
    EXPECT_TRUE(store.secrets.isEmpty());
}

} // namespace
