// Sending the open piece as a draft against the blog service's stand-in: the
// images checked here first, uploaded once each in order as exact multipart
// bodies streamed from disk, the references rewritten in the sent text only,
// the draft's URL recorded in the front matter; and every refusal and
// failure that must leave the piece and the service untouched.
#include "publish/senddraft.h"

#include "capturedlog.h"
#include "publishfixture.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

namespace {

namespace Micropub = publish::Micropub;
using Micropub::DraftSend;
using Micropub::Outcome;
using publishtest::FakeBlogService;
using publishtest::PublishFixture;
using publishtest::Route;
using testsupport::LoopbackHttpServer;

const QByteArray kFront =
    "---\ntype: post\ntags: sea, gulls\npass_state: First Draft\norigin: writer\nslug: harbour\n---\n";

// Image bytes that hold what a careless multipart writer would trip on: CR
// LF, a NUL and a boundary-like line.
const QByteArray kGulls = QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\r\n--pennora-X\r\n", 26) + QByteArray(70'000, 'g');
const QByteArray kQuay = QByteArray("\xff\xd8\xff\xe0\0\x10JFIF\0", 11) + "\r\n\r\nquay";

QString contentOf(const LoopbackHttpServer::Received &request)
{
    const QJsonObject properties = QJsonDocument::fromJson(request.body).object().value(u"properties"_qs).toObject();
    return properties.value(u"content"_qs).toArray().first().toString();
}

QByteArray multipart(const QByteArray &boundary, const QByteArray &name, const QByteArray &type,
                     const QByteArray &bytes)
{
    return "--" + boundary + "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"" + name
           + "\"\r\nContent-Type: " + type + "\r\n\r\n" + bytes + "\r\n--" + boundary + "--\r\n";
}

QByteArray boundaryOf(const LoopbackHttpServer::Received &request)
{
    static const QRegularExpression pattern(
        u"^multipart/form-data; boundary=(pennora-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12})$"_qs);
    const QRegularExpressionMatch match =
        pattern.match(QString::fromUtf8(request.header("Content-Type").value_or(QByteArray())));
    return match.hasMatch() ? match.captured(1).toUtf8() : QByteArray();
}

using SendDraft = PublishFixture;

TEST_F(SendDraft, UploadsEachImageOnceRewritesTheSentTextAndRecordsTheDraft)
{
    const QByteArray body = "# Harbour walk\n\n![Gulls on the quay](assets/gulls.png)\n\nWe walked.\n\n"
                            "![The quay at dusk](assets/quay.JPG \"At dusk\")\n\n![Gulls, again](assets/gulls.png)\n"
                            "![Elsewhere](https://example.com/x.png) and ![Other](images/y.png)\n";
    openPiece(kFront + body);
    testsupport::writeFile(asset("gulls.png"), kGulls);
    testsupport::writeFile(asset("quay.JPG"), kQuay);
    const QString base = service.endpoint().toString().section(u'/', 0, 2);
    // The first hosted URL needs angle brackets in Markdown.
    service.nameNextUploads({u"gulls_(1).png"_qs, u"quay.jpg"_qs});

    const DraftSend sent = send();

    const QString draft = base + u"/posts/1"_qs;
    EXPECT_EQ(sent, (DraftSend{Outcome::drafted(draft, base + u"/preview/1"_qs), std::nullopt}));
    ASSERT_EQ(routes(), (QList<Route>{Route::config, Route::media, Route::media, Route::create}));
    const auto &received = service.received();
    EXPECT_EQ(received[0].method, "GET");
    EXPECT_EQ(received[0].target, "/micropub?q=config");
    EXPECT_EQ(received[0].header("Authorization"), "Bearer token");
    EXPECT_TRUE(received[0].body.isEmpty());

    // Two uploads in first-appearance order, byte for byte, each with a
    // boundary of its own.
    const QByteArray first = boundaryOf(received[1]);
    const QByteArray second = boundaryOf(received[2]);
    ASSERT_FALSE(first.isEmpty());
    ASSERT_FALSE(second.isEmpty());
    EXPECT_NE(first, second);
    EXPECT_EQ(received[1].body, multipart(first, "gulls.png", "image/png", kGulls));
    EXPECT_EQ(received[2].body, multipart(second, "quay.JPG", "image/jpeg", kQuay));
    EXPECT_EQ(received[1].header("Authorization"), "Bearer token");
    EXPECT_EQ(received[1].header("Content-Length"), QByteArray::number(received[1].body.size()));

    const QString gullsURL = base + u"/uploads/gulls_(1).png"_qs;
    const QString quayURL = base + u"/uploads/quay.jpg"_qs;
    EXPECT_EQ(contentOf(received[3]),
              u"# Harbour walk\n\n![Gulls on the quay](<"_qs + gullsURL + u">)\n\nWe walked.\n\n![The quay at dusk]("_qs
                  + quayURL + u")\n\n![Gulls, again](<"_qs + gullsURL
                  + u">)\n![Elsewhere](https://example.com/x.png) and ![Other](images/y.png)\n"_qs);

    // The URL joins the front matter; every other key, their order and the
    // body stay as they were.
    EXPECT_EQ(testsupport::readFile(postFile()),
              "---\ntype: post\ntags: sea, gulls\npass_state: First Draft\norigin: writer\nslug: harbour\n"
              "micropub_url: "
                  + draft.toUtf8() + "\n---\n" + body);
}

TEST_F(SendDraft, LocalRefusalsSendNothingAtAll)
{
    struct Case {
        const char *name;
        QByteArray body;
        QString refusal;
    };
    const QList<Case> cases{
        // Every alt text is checked before any type or file.
        {"blank alt after a good one", "# T\n\n![Photo](assets/p.heic)\n![Gulls](assets/a.png)\n![  ](assets/a.png)\n",
         u"assets/a.png has no alt text — a photo never ships without it."_qs},
        {"climbs out", "# T\n\n![Out](assets/../../outside.png)\n",
         u"Couldn't read assets/../../outside.png from this piece's assets."_qs},
        {"link out of the piece", "# T\n\n![Link](assets/link.png)\n",
         u"Couldn't read assets/link.png from this piece's assets."_qs},
        {"unsupported type", "# T\n\n![Gulls](assets/a.png)\n![Photo](assets/photo.heic)\n",
         u"assets/photo.heic is not a PNG/JPEG/GIF/WebP/SVG — Micro.blog can't host it."_qs},
        {"missing file", "# T\n\n![Gone](assets/gone.png)\n",
         u"Couldn't read assets/gone.png from this piece's assets."_qs},
        {"a folder", "# T\n\n![Folder](assets/folder.png)\n",
         u"Couldn't read assets/folder.png from this piece's assets."_qs},
        {"empty body", "\n\n  \n\t\n", u"This piece has no text to send."_qs},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        openPiece(kFront + c.body);
        testsupport::writeFile(asset("a.png"), kGulls);
        QDir().mkpath(asset("folder.png"));
        const QString outside = QDir(folder).filePath("../outside.png");
        testsupport::writeFile(outside, kGulls);
        QFile::link(outside, asset("link.png"));

        EXPECT_EQ(send(), (DraftSend{Outcome::refused(c.refusal), std::nullopt}));
        EXPECT_TRUE(service.received().isEmpty());
        EXPECT_EQ(testsupport::readFile(postFile()), kFront + c.body);
    }
}

TEST_F(SendDraft, AFailedUploadEndsTheSendAndLeavesThePieceAsItWas)
{
    const QByteArray text = kFront + "# T\n\n![A](assets/a.png)\n![B](assets/b.png)\n";
    openPiece(text);
    testsupport::writeFile(asset("a.png"), kGulls);
    testsupport::writeFile(asset("b.png"), kQuay);
    service.injectFault(Route::media, LoopbackHttpServer::answer(500, R"({"error":"disk full"})"), 1, 1);

    EXPECT_EQ(send().outcome, Outcome::requestFailed(500, u"disk full"_qs));
    EXPECT_EQ(routes(), (QList<Route>{Route::config, Route::media, Route::media}));
    EXPECT_TRUE(service.drafts().isEmpty());
    EXPECT_EQ(testsupport::readFile(postFile()), text);
}

TEST_F(SendDraft, AnImageThatCannotBeReadWhenItsTurnComesEndsTheSend)
{
    const QByteArray text = kFront + "# T\n\n![A](assets/a.png)\n![B](assets/b.png)\n";
    openPiece(text);
    testsupport::writeFile(asset("a.png"), kGulls);
    testsupport::writeFile(asset("b.png"), kQuay);
    // Checked and found readable, then gone before its upload.
    service.setObserver([this](const LoopbackHttpServer::Received &request) {
        if (FakeBlogService::routeOf(request) == Route::config)
            QFile::remove(asset("b.png"));
    });

    EXPECT_EQ(send().outcome, Outcome::unreachable(u"Couldn't read assets/b.png from this piece's assets."_qs));
    EXPECT_EQ(routes(), (QList<Route>{Route::config, Route::media}));
    EXPECT_TRUE(service.drafts().isEmpty());
    EXPECT_EQ(testsupport::readFile(postFile()), text);
}

TEST_F(SendDraft, AnUntrustworthyMediaEndpointUploadsNothing)
{
    openPiece(kFront + "# T\n\n![A](assets/a.png)\n");
    testsupport::writeFile(asset("a.png"), kGulls);
    service.injectFault(Route::config, LoopbackHttpServer::answer(200, R"({"media-endpoint":"http://x.test/m"})"));

    EXPECT_EQ(send().outcome, Outcome::requestFailed(200, u"no trustworthy media endpoint in q=config"_qs));
    EXPECT_EQ(routes(), (QList<Route>{Route::config}));
}

TEST_F(SendDraft, ADraftWhoseURLCannotBeRecordedSaysWhyAndLogsIt)
{
    openPiece(kFront + "# T\n\nText.\n");
    // The piece goes while its draft is being made.
    service.setObserver([this](const LoopbackHttpServer::Received &request) {
        if (FakeBlogService::routeOf(request) == Route::create)
            QDir().rename(folder, folder + u"-moved"_qs);
    });
    testsupport::CapturedLog log;

    const DraftSend sent = send();

    EXPECT_EQ(sent.outcome.which, Outcome::Case::drafted);
    ASSERT_TRUE(sent.unrecorded.has_value());
    EXPECT_FALSE(sent.unrecorded->isEmpty());
    const auto lines = log.linesOf(u"com.quendalstudio.Pennora.micropub"_qs);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0].text.contains(sent.outcome.url));
}

TEST_F(SendDraft, SendsOnlyASavedPieceThatIsOpenAndSavesItFirst)
{
    openPiece(kFront + "# T\n\nText.\n");
    const QString refusal = u"Open a saved post to publish."_qs;

    model.setOutlineGuardPieceID(id);
    EXPECT_EQ(send().outcome, Outcome::refused(refusal));
    model.setOutlineGuardPieceID(std::nullopt);

    const QString outside = dir.filePath("outside.md");
    testsupport::writeFile(outside, "# Outside\n");
    model.openExternalFile(QUrl::fromLocalFile(outside));
    ASSERT_TRUE(model.externalSession());
    EXPECT_EQ(send().outcome, Outcome::refused(refusal));
    ASSERT_TRUE(model.closeExternalFile());

    model.newPostDraft();
    ASSERT_TRUE(model.draft());
    EXPECT_EQ(send().outcome, Outcome::refused(refusal));
    EXPECT_TRUE(service.received().isEmpty());
}

TEST_F(SendDraft, UnsavedTextIsSavedAndSentAndAFailedSaveSendsNothing)
{
    openPiece(kFront + "# T\n\nText.\n");
    model.session()->textDidChange(u"# T\n\nText, retyped.\n"_qs);
    EXPECT_EQ(send().outcome.which, Outcome::Case::drafted);
    ASSERT_EQ(service.received().size(), 1);
    EXPECT_EQ(contentOf(service.received()[0]), u"# T\n\nText, retyped.\n"_qs);

    // Another program changes the file under new words: the flush refuses.
    model.session()->textDidChange(u"# T\n\nMine.\n"_qs);
    testsupport::writeFile(postFile(), kFront + "# T\n\nTheirs.\n");
    const Outcome refused = send().outcome;
    EXPECT_EQ(refused.which, Outcome::Case::refused);
    EXPECT_EQ(refused.message, model.lastError().value_or(QString()));
    EXPECT_EQ(service.received().size(), 1);
}

TEST(Illustrations, FoundAndRewrittenAsTheMarkdownHasThem)
{
    const QString text = u"![A](assets/a.png \"T\")![](assets/b.gif)![C](assets/)![D](assets/d.png"_qs;
    EXPECT_EQ(Micropub::illustrations(text),
              (QList<Micropub::Illustration>{{u"A"_qs, u"assets/a.png"_qs}, {QString(), u"assets/b.gif"_qs}}));
    EXPECT_EQ(Micropub::rewriteIllustrations(text, {{u"assets/a.png"_qs, u"https://h/a<1>.png"_qs}}),
              u"![A](<https://h/a<1>.png>)![](assets/b.gif)![C](assets/)![D](assets/d.png"_qs);
    EXPECT_EQ(Micropub::rewriteIllustrations(text, {}), text);
    EXPECT_EQ(Micropub::uploadFileName(u"assets/a\"b\nc\u2028d\te.png"_qs), u"abcde.png"_qs);
}

} // namespace
