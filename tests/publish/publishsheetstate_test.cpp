// The publish sheet's state without a window, against the blog service's
// stand-in: the token taken and kept, the two steps, every outcome's text,
// the recorded draft offered again, and a send that outlives its sheet.
#include "publish/publishsheetstate.h"

#include "memorysecretstore.h"
#include "publishfixture.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <memory>

namespace {

namespace Micropub = publish::Micropub;
using publish::PublishSheetState;
using publishtest::PublishFixture;
using publishtest::Route;
using testsupport::LoopbackHttpServer;
using testsupport::spinUntil;
using Phase = PublishSheetState::Phase;

const QByteArray kPiece = "---\ntype: post\npass_state: First Draft\norigin: writer\n---\n# Harbour walk\n\nText.\n";

class PublishSheet : public PublishFixture {
protected:
    std::unique_ptr<PublishSheetState> sheet()
    {
        auto state = std::make_unique<PublishSheetState>(model, store, client());
        state->adoptRecordedURL();
        state->refreshStoredToken();
        EXPECT_TRUE(spinUntil([&] { return state->tokenStored().has_value(); }));
        return state;
    }
    void storeToken(const QByteArray &token)
    {
        store.secrets.insert({QString::fromUtf8(Micropub::kTokenService), QString::fromUtf8(Micropub::kTokenAccount)},
                             token);
    }
    static bool settle(const PublishSheetState &state)
    {
        return spinUntil([&] { return !state.busy(); });
    }
    QString draftURL(int n) const { return service.endpoint().toString().section(u'/', 0, 2) + u"/posts/%1"_qs.arg(n); }

    testsupport::MemorySecretStore store;
};

TEST_F(PublishSheet, WithoutATokenItAsksForOneAndSendsNothing)
{
    openPiece(kPiece);
    auto state = sheet();
    EXPECT_TRUE(state->showsTokenField());
    EXPECT_EQ(state->pieceTitle(), u"Harbour walk"_qs);
    EXPECT_EQ(state->sendTitle(), u"Send as Draft"_qs);
    EXPECT_FALSE(state->canPublish());

    // Spaces alone are no token.
    state->setTokenField(u"   "_qs);
    state->sendDraft();
    ASSERT_TRUE(settle(*state));
    EXPECT_EQ(state->phase(), Phase::idle);
    EXPECT_EQ(state->refusal(), u"Paste your Micro.blog app token first."_qs);
    EXPECT_TRUE(service.received().isEmpty());
}

TEST_F(PublishSheet, SendsADraftThenPublishesTheDraftNotItsPreview)
{
    openPiece(kPiece);
    auto state = sheet();
    state->setTokenField(u"  token\t"_qs);
    state->sendDraft();
    EXPECT_EQ(state->phase(), Phase::drafting);
    EXPECT_FALSE(state->canSend());
    ASSERT_TRUE(settle(*state));

    EXPECT_EQ(
        store.secrets.value({QString::fromUtf8(Micropub::kTokenService), QString::fromUtf8(Micropub::kTokenAccount)}),
        "token");
    EXPECT_EQ(state->phase(), Phase::drafted);
    EXPECT_EQ(state->draftURL(), draftURL(1));
    EXPECT_EQ(state->shownDraftURL(), draftURL(1));
    EXPECT_EQ(state->draftCaption(), u"Draft on Micro.blog"_qs);
    EXPECT_EQ(state->linkDestination(), state->previewURL().value_or(QString()));
    EXPECT_TRUE(state->linkDestination().contains(u"/preview/1"_qs));
    EXPECT_EQ(state->sendTitle(), u"Send Again"_qs);
    EXPECT_FALSE(state->refusal());
    ASSERT_TRUE(spinUntil([&] { return state->tokenStored() == true; }));
    EXPECT_FALSE(state->showsTokenField());

    state->setTokenField(QString());
    state->publish();
    ASSERT_TRUE(settle(*state));
    EXPECT_EQ(state->phase(), Phase::published);
    EXPECT_EQ(service.published(), QList<QString>{draftURL(1)});
    const QJsonObject update = QJsonDocument::fromJson(service.received().last().body).object();
    EXPECT_EQ(update.value(u"url"_qs).toString(), draftURL(1));
    EXPECT_EQ(state->draftCaption(), u"Published"_qs);
    EXPECT_EQ(state->linkDestination(), draftURL(1));
}

TEST_F(PublishSheet, ARejectedTokenBringsTheFieldBackUntilAGoodOneIsUsed)
{
    openPiece(kPiece);
    storeToken("stale");
    auto state = sheet();
    EXPECT_FALSE(state->showsTokenField());

    state->sendDraft();
    ASSERT_TRUE(settle(*state));
    EXPECT_EQ(state->refusal(), u"Micro.blog rejected the token: The app token was not accepted."_qs);
    EXPECT_EQ(state->phase(), Phase::idle);
    EXPECT_TRUE(state->showsTokenField());

    state->setTokenField(u"token"_qs);
    state->sendDraft();
    ASSERT_TRUE(settle(*state));
    EXPECT_EQ(state->phase(), Phase::drafted);
    EXPECT_FALSE(state->showsTokenField());
}

TEST_F(PublishSheet, OutcomeTextsAndAFailedSendAgainKeepsTheEarlierDraft)
{
    openPiece(kPiece);
    storeToken("token");
    auto state = sheet();
    state->sendDraft();
    ASSERT_TRUE(settle(*state));
    ASSERT_EQ(state->draftURL(), draftURL(1));

    service.injectFault(Route::create, LoopbackHttpServer::answer(500, R"({"error_description":"Try later."})"));
    state->sendDraft();
    ASSERT_TRUE(settle(*state));
    EXPECT_EQ(state->refusal(), u"Micro.blog said 500: Try later."_qs);
    EXPECT_EQ(state->phase(), Phase::drafted);
    EXPECT_EQ(state->draftURL(), draftURL(1));

    service.injectFault(Route::publish, LoopbackHttpServer::answer(404, {}));
    state->publish();
    ASSERT_TRUE(settle(*state));
    EXPECT_EQ(state->refusal(), u"Micro.blog said 404: HTTP 404"_qs);
    EXPECT_EQ(state->phase(), Phase::drafted);

    // A local refusal shows as it is.
    testsupport::writeFile(postFile(), "---\ntype: post\n---\n\n");
    state->sendDraft();
    ASSERT_TRUE(settle(*state));
    EXPECT_EQ(state->refusal(), u"This piece has no text to send."_qs);
    EXPECT_EQ(state->phase(), Phase::drafted);
}

TEST_F(PublishSheet, ATokenTheKeyringCannotKeepServesThisSendAndSaysSo)
{
    openPiece(kPiece);
    auto state = sheet();
    store.failure = u"no keyring"_qs;
    state->setTokenField(u"token"_qs);
    state->sendDraft();
    ASSERT_TRUE(settle(*state));
    EXPECT_EQ(state->phase(), Phase::drafted);
    EXPECT_EQ(state->keyringNote(), QString::fromUtf8(Micropub::kTokenNotStored));
    EXPECT_TRUE(store.secrets.isEmpty());

    store.failure.reset();
    state->setTokenField(u"token"_qs);
    state->sendDraft();
    ASSERT_TRUE(settle(*state));
    EXPECT_FALSE(state->keyringNote());
}

TEST_F(PublishSheet, ReopenedItOffersPublishAndSendAgainFromTheRecordedURL)
{
    openPiece(kPiece);
    storeToken("token");
    {
        auto state = sheet();
        state->sendDraft();
        ASSERT_TRUE(settle(*state));
    }
    QCoro::waitFor(model.rescan());
    auto state = sheet();
    EXPECT_EQ(state->phase(), Phase::idle);
    EXPECT_EQ(state->draftURL(), draftURL(1));
    EXPECT_TRUE(state->canPublish());
    EXPECT_EQ(state->sendTitle(), u"Send Again"_qs);
    EXPECT_FALSE(state->shownDraftURL());

    state->publish();
    ASSERT_TRUE(settle(*state));
    EXPECT_EQ(state->phase(), Phase::published);
    EXPECT_EQ(service.published(), QList<QString>{draftURL(1)});
}

TEST_F(PublishSheet, ClosingTheSheetMidSendStillRecordsTheDraft)
{
    openPiece(kPiece);
    storeToken("token");
    auto state = sheet();
    // The sheet goes while the service is making the draft.
    service.setObserver([&](const LoopbackHttpServer::Received &request) {
        if (publishtest::FakeBlogService::routeOf(request) == Route::create)
            state.reset();
    });
    state->sendDraft();
    ASSERT_TRUE(spinUntil([&] { return testsupport::readText(postFile()).contains(u"micropub_url: "_qs); }));
    EXPECT_FALSE(state);
    EXPECT_TRUE(testsupport::readText(postFile()).contains(u"micropub_url: "_qs + draftURL(1) + u"\n"_qs));
}

TEST_F(PublishSheet, ADraftWhoseURLCannotBeRecordedStaysDraftedWithANote)
{
    openPiece(kPiece);
    storeToken("token");
    auto state = sheet();
    service.setObserver([this](const LoopbackHttpServer::Received &request) {
        if (publishtest::FakeBlogService::routeOf(request) == Route::create)
            QDir().rename(folder, folder + u"-moved"_qs);
    });
    state->sendDraft();
    ASSERT_TRUE(settle(*state));
    EXPECT_EQ(state->phase(), Phase::drafted);
    EXPECT_EQ(state->draftURL(), draftURL(1));
    EXPECT_FALSE(state->refusal());
    ASSERT_TRUE(state->unrecordedNote());
    EXPECT_TRUE(state->unrecordedNote()->startsWith(u"The draft's URL couldn't be saved in the piece"_qs));
}

} // namespace
