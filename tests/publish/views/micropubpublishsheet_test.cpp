// The publish sheet as the writer sees it: which rows and buttons show in
// each step, and a screenshot of each.
#include "publish/views/micropubpublishsheet.h"

#include "chrome/busyindicator.h"
#include "chrome/palette.h"
#include "memorysecretstore.h"
#include "publishfixture.h"
#include "screenshot.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

namespace Micropub = publish::Micropub;
using publish::MicropubPublishSheet;
using publishtest::PublishFixture;
using publishtest::Route;
using testsupport::LoopbackHttpServer;
using testsupport::spinUntil;
using Phase = publish::PublishSheetState::Phase;

const QByteArray kPiece = "---\ntype: post\npass_state: First Draft\norigin: writer\n---\n"
                          "# A walk along the harbour wall on the first cold morning of the year\n\nText.\n";

class PublishSheetView : public PublishFixture {
protected:
    std::unique_ptr<MicropubPublishSheet> sheet()
    {
        auto shown = std::make_unique<MicropubPublishSheet>(model, store, client());
        EXPECT_TRUE(spinUntil([&] { return shown->state().tokenStored().has_value(); }));
        return shown;
    }
    void storeToken()
    {
        store.secrets.insert({QString::fromUtf8(Micropub::kTokenService), QString::fromUtf8(Micropub::kTokenAccount)},
                             "token");
    }
    static bool visible(const QWidget *widget) { return widget->isVisibleTo(widget->window()); }
    static void settle(MicropubPublishSheet &shown)
    {
        ASSERT_TRUE(spinUntil([&] { return !shown.state().busy(); }));
    }

    testsupport::MemorySecretStore store;
};

TEST_F(PublishSheetView, BeforeSendingItAsksForTheToken)
{
    openPiece(kPiece);
    auto shown = sheet();
    EXPECT_TRUE(visible(shown->tokenField()));
    EXPECT_EQ(shown->tokenField()->placeholderText(), u"App token"_qs);
    EXPECT_EQ(shown->tokenField()->echoMode(), QLineEdit::Password);
    EXPECT_TRUE(visible(shown->tokenHint()));
    EXPECT_FALSE(visible(shown->progress()));
    EXPECT_FALSE(visible(shown->draftCaption()));
    EXPECT_FALSE(visible(shown->refusalLabel()));
    EXPECT_FALSE(shown->publishButton()->isEnabled());
    EXPECT_EQ(shown->sendButton()->text(), u"Send as Draft"_qs);
    EXPECT_TRUE(visible(shown->cancelButton()));
    EXPECT_FALSE(visible(shown->doneButton()));
    // The long title takes two lines at most.
    EXPECT_EQ(shown->titleLabel()->text().count(u'\n'), 1);
    EXPECT_FALSE(testsupport::saveScreenshot(*shown, "publish_sheet_token").isEmpty());
}

TEST_F(PublishSheetView, DraftedItLinksThePreviewThenPublishedTheDraft)
{
    openPiece(kPiece);
    storeToken();
    auto shown = sheet();
    EXPECT_FALSE(visible(shown->tokenField()));
    shown->sendButton()->click();
    EXPECT_TRUE(visible(shown->progress()));
    EXPECT_FALSE(shown->sendButton()->isEnabled());
    settle(*shown);

    EXPECT_EQ(shown->state().phase(), Phase::drafted);
    EXPECT_TRUE(visible(shown->draftCaption()));
    EXPECT_EQ(shown->draftCaption()->text(), u"Draft on Micro.blog"_qs);
    EXPECT_TRUE(visible(shown->draftLink()));
    EXPECT_TRUE(shown->draftLink()->text().contains(u"/preview/1"_qs));
    EXPECT_TRUE(shown->publishButton()->isEnabled());
    EXPECT_EQ(shown->sendButton()->text(), u"Send Again"_qs);
    EXPECT_FALSE(testsupport::saveScreenshot(*shown, "publish_sheet_drafted").isEmpty());

    shown->publishButton()->click();
    settle(*shown);
    EXPECT_EQ(shown->state().phase(), Phase::published);
    EXPECT_EQ(shown->draftCaption()->text(), u"Published"_qs);
    EXPECT_TRUE(shown->draftLink()->text().contains(u"/posts/1"_qs));
    EXPECT_TRUE(visible(shown->doneButton()));
    EXPECT_FALSE(visible(shown->publishButton()));
    EXPECT_FALSE(visible(shown->sendButton()));
    EXPECT_FALSE(visible(shown->cancelButton()));
    EXPECT_FALSE(testsupport::saveScreenshot(*shown, "publish_sheet_published").isEmpty());
}

TEST_F(PublishSheetView, ARefusalShowsInOrangeAndTheSheetStaysOpen)
{
    openPiece(kPiece);
    storeToken();
    auto shown = sheet();
    service.injectFault(Route::create,
                        LoopbackHttpServer::answer(401, R"({"error_description":"This token has been revoked."})"));
    shown->sendButton()->click();
    settle(*shown);
    EXPECT_TRUE(visible(shown->refusalLabel()));
    EXPECT_EQ(shown->refusalLabel()->text(), u"Micro.blog rejected the token: This token has been revoked."_qs);
    EXPECT_EQ(shown->refusalLabel()->palette().color(QPalette::WindowText), app::Palette::systemOrange());
    EXPECT_TRUE(visible(shown->tokenField()));
    EXPECT_EQ(shown->sendButton()->text(), u"Send as Draft"_qs);
    EXPECT_TRUE(shown->sendButton()->isEnabled());
    EXPECT_FALSE(testsupport::saveScreenshot(*shown, "publish_sheet_refusal").isEmpty());
}

} // namespace

namespace {

TEST_F(PublishSheetView, ADraftWhoseURLWasNotSavedKeepsItsLinkWithAnOrangeNote)
{
    openPiece(kPiece);
    storeToken();
    auto shown = sheet();
    service.setObserver([this](const LoopbackHttpServer::Received &request) {
        if (publishtest::FakeBlogService::routeOf(request) == Route::create)
            QDir().rename(folder, folder + u"-moved"_qs);
    });
    shown->sendButton()->click();
    settle(*shown);
    EXPECT_TRUE(visible(shown->draftLink()));
    EXPECT_TRUE(visible(shown->noteLabel()));
    EXPECT_TRUE(shown->noteLabel()->text().startsWith(u"The draft's URL couldn't be saved in the piece"_qs));
    EXPECT_EQ(shown->noteLabel()->palette().color(QPalette::WindowText), app::Palette::systemOrange());
    EXPECT_FALSE(visible(shown->refusalLabel()));
}

} // namespace
