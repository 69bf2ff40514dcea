#include "engine/views/sessiontranscriptview.h"

#include "engine/views/researchkeepsheet.h"
#include "engine/views/transcriptrows.h"
#include "faketransport.h"
#include "screenshot.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <QDate>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <vector>

using namespace engine;
using foundation::JSONValue;
using testsupport::drainPosted;
using testsupport::ended;
using testsupport::FakeTransport;
using testsupport::Running;
using testsupport::spinUntil;
using Kind = SessionRow::NoticeKind;
using Speaker = SessionRow::Speaker;
using Disposition = review::ResearchCandidate::Disposition;

namespace {

JSONValue json(const char *text)
{
    return JSONValue::parse(text).value();
}

JSONValue chunk(const char *kind, const QString &text)
{
    return JSONValue::Object{{"sessionUpdate", kind}, {"content", JSONValue::Object{{"type", "text"}, {"text", text}}}};
}

// A ready mentor over an in-memory engine whose chat session is "mentor-1",
// its transcript shown in a view over a Home holding the piece "p".
class TranscriptViewTest : public ::testing::Test {
protected:
    TranscriptViewTest()
    {
        QDir().mkpath(home.path() + "/projects/Essays/p");
        QFile post(home.path() + "/projects/Essays/p/post.md");
        EXPECT_TRUE(post.open(QIODevice::WriteOnly));
        post.write("# P\n");
        post.close();

        auto host = std::make_unique<EngineHost>();
        host->recordedVersionProvider = [] { return std::optional<QString>(); };
        host->makeTransport = [this](const QString &profile) {
            FakeTransport::Script script;
            script.answers.insert("session/new", json(R"({"sessionId":"mentor-1"})"));
            made.push_back(std::make_shared<FakeTransport>(profile, script));
            return made.back();
        };
        model =
            std::make_unique<MentorSessionModel>(std::move(host), QStringLiteral("hermes"), home.path() + "/roster");
        model->setCwdProvider([] { return QStringLiteral("/home/writer"); });
        EXPECT_TRUE(Running(ended(model->start())).value());
        SessionTranscriptView::setLinkOpener([this](const QUrl &url) { opened << url.toString(); });
    }
    ~TranscriptViewTest() override
    {
        SessionTranscriptView::setLinkOpener({});
        view.reset();
        model.reset();
        drainPosted();
    }

    void makeView(bool debug, std::optional<QString> homePath)
    {
        std::optional<SessionTranscriptView::DebugBinding> binding;
        if (debug)
            binding = SessionTranscriptView::DebugBinding{[this] { return debugOn; },
                                                          [this](bool on) {
                                                              debugOn = on;
                                                              view->setShowsDebugRows(on);
                                                          }};
        debugOn = debug;
        view = std::make_unique<SessionTranscriptView>(*model, debug, binding, homePath);
        view->resize(420, 640);
        view->show();
        drainPosted();
    }

    FakeTransport &chat() { return static_cast<FakeTransport &>(*model->host().chat()); }
    const QList<SessionRow> &rows() const { return model->activeTranscript()->rows; }
    void append(SessionRow::Content content) { model->appendRow(std::move(content), QStringLiteral("mentor-1")); }
    void update(const JSONValue &u)
    {
        chat().sendNotification("session/update", JSONValue::Object{{"sessionId", "mentor-1"}, {"update", u}});
        drainPosted();
    }
    QString labelText(const QUuid &id, const char *name) const
    {
        const auto *label = view->rowWidget(id)->findChild<QLabel *>(name);
        return label ? label->text() : "<none>";
    }
    review::ResearchCandidate note(const QString &piecePath, const QString &title) const
    {
        return {piecePath, title, "https://a.example/source", "A quoted line.", "Why it matters.", {}};
    }

    QTemporaryDir home;
    std::vector<std::shared_ptr<FakeTransport>> made;
    std::unique_ptr<MentorSessionModel> model;
    std::unique_ptr<SessionTranscriptView> view;
    bool debugOn = false;
    QStringList opened;
};

} // namespace

TEST_F(TranscriptViewTest, APromptStreamsItsReplyIntoARowAndStopCancels)
{
    makeView(false, home.path());
    QPlainTextEdit *field = view->composerField();
    EXPECT_FALSE(view->sendButton()->isEnabled()) << "nothing to send";
    view->setDraft(" \n ");
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(view->draft(), " \n ") << "a blank Return neither sends nor inserts a line";
    EXPECT_TRUE(rows().isEmpty());

    // Shift+Return appends the line at the end, wherever the caret is.
    view->setDraft("hello there");
    field->moveCursor(QTextCursor::Start);
    QTest::keyClick(field, Qt::Key_Return, Qt::ShiftModifier);
    EXPECT_EQ(view->draft(), "hello there\n");

    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(view->draft(), "");
    ASSERT_TRUE(spinUntil([&] { return chat().waiting("session/prompt") == 1; }));
    ASSERT_EQ(rows().size(), 1);
    EXPECT_EQ(labelText(rows()[0].id, "userMessage"), "hello there");
    EXPECT_EQ(view->sendButton()->text(), "Stop");
    EXPECT_TRUE(view->sendButton()->isEnabled());
    EXPECT_TRUE(view->workingPill()->isVisible());

    update(chunk("agent_message_chunk", "Hel"));
    update(chunk("agent_message_chunk", "lo **there**"));
    QWidget *streaming = view->streamingRow();
    ASSERT_TRUE(spinUntil([&] { return view->streamingText() == "Hello **there**"; })) << "streaming text is plain";
    EXPECT_TRUE(streaming->isVisible());
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(rows().size(), 1) << "Return while a turn streams sends nothing";

    ASSERT_TRUE(chat().answer("session/prompt", json(R"({"stopReason":"end_turn"})")));
    ASSERT_TRUE(spinUntil([&] { return !model->isStreaming(); }));
    ASSERT_EQ(rows().size(), 2);
    EXPECT_FALSE(streaming->isVisible());
    EXPECT_TRUE(labelText(rows()[1].id, "agentReply").contains("Hello <b>there</b>"));
    EXPECT_FALSE(view->workingPill()->isVisible());
    EXPECT_EQ(view->sendButton()->text(), "Send");

    // Stop cancels the running turn.
    view->setDraft("and then?");
    QTest::mouseClick(view->sendButton(), Qt::LeftButton);
    ASSERT_TRUE(spinUntil([&] { return chat().waiting("session/prompt") == 1; }));
    QTest::mouseClick(view->sendButton(), Qt::LeftButton);
    ASSERT_EQ(chat().notified.size(), 1u);
    EXPECT_EQ(chat().notified[0].method, "session/cancel");
    ASSERT_TRUE(chat().answer("session/prompt", json(R"({"stopReason":"cancelled"})")));
    EXPECT_TRUE(spinUntil([&] { return !model->isStreaming(); }));
}

TEST_F(TranscriptViewTest, RowsKeepTheirWidgetsAndStateWhileRowsArrive)
{
    makeView(true, home.path());
    append(SessionRow::text("question", Speaker::user, Kind::plain));
    append(SessionRow::Thought{"Let me *think*"});
    append(SessionRow::notice("Operation interrupted: waiting for model response (5s elapsed).", Kind::interrupted));
    const QUuid thoughtID = rows()[1].id;
    const QUuid warningID = rows()[2].id;
    TranscriptRowWidget *thought = view->rowWidget(thoughtID);
    ASSERT_TRUE(thought);
    EXPECT_FALSE(thought->isExpanded());
    QTest::mouseClick(thought->findChild<QPushButton *>("thinkingHeader"), Qt::LeftButton);
    EXPECT_TRUE(thought->isExpanded());
    EXPECT_EQ(labelText(warningID, "warningHeadline"), "Operation interrupted");
    EXPECT_EQ(labelText(warningID, "warningDetail"), "waiting on the model — 5s");
    EXPECT_TRUE(view->rowWidget(warningID)->property("emphasized").toBool());

    for (int i = 0; i < 200; ++i)
        append(SessionRow::text(QString("reply %1").arg(i), Speaker::agent, Kind::plain));
    EXPECT_EQ(view->rowWidget(thoughtID), thought) << "never rebuilt";
    EXPECT_TRUE(thought->isExpanded());
    EXPECT_FALSE(view->rowWidget(warningID)->property("emphasized").toBool()) << "no longer the last row";

    // Without debug rows the thought hides and its state stays.
    view->setShowsDebugRows(false);
    EXPECT_FALSE(thought->isVisible());
    view->setShowsDebugRows(true);
    EXPECT_TRUE(thought->isVisible());
    EXPECT_TRUE(thought->isExpanded());

    // A writer who scrolled up stays where they are; at the end, the end follows.
    drainPosted();
    QScrollBar *bar = view->scrollArea()->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), bar->maximum());
    bar->setValue(0);
    append(SessionRow::text("one more", Speaker::agent, Kind::plain));
    drainPosted();
    EXPECT_EQ(bar->value(), 0);
    bar->setValue(bar->maximum());
    append(SessionRow::text("and another", Speaker::agent, Kind::plain));
    drainPosted();
    EXPECT_EQ(bar->value(), bar->maximum());
}

TEST_F(TranscriptViewTest, KeepWritesTheNoteAndRejectMarksIt)
{
    makeView(false, home.path());
    const QString piece = home.path() + "/projects/Essays/p/post.md";
    append(note(piece, "Café Notes"));
    append(note(piece, "Café Notes"));
    append(note(piece, "Other"));
    const QString day = QDate::currentDate().toString("yyyyMMdd");

    for (int i = 0; i < 2; ++i) {
        const QUuid id = rows()[i].id;
        QTest::mouseClick(view->rowWidget(id)->findChild<QPushButton *>("keep"), Qt::LeftButton);
        ResearchKeepSheet *sheet = view->keepSheet();
        ASSERT_TRUE(sheet);
        QTest::mouseClick(sheet->keepButton(), Qt::LeftButton);
        drainPosted();
        EXPECT_FALSE(view->keepSheet());
        const QString name = day + "-cafe-notes" + (i ? "-2" : "") + ".md";
        EXPECT_TRUE(QFile::exists(home.path() + "/projects/Essays/p/research/" + name)) << name.toStdString();
        EXPECT_EQ(std::get<review::ResearchCandidate>(rows()[i].content).disposition, Disposition::kept(name));
        EXPECT_EQ(labelText(id, "noteStatus"), "kept · research/" + name);
        EXPECT_FALSE(view->rowWidget(id)->findChild<QPushButton *>("keep"));
    }

    QTest::mouseClick(view->rowWidget(rows()[2].id)->findChild<QPushButton *>("reject"), Qt::LeftButton);
    EXPECT_FALSE(view->keepSheet());
    EXPECT_EQ(std::get<review::ResearchCandidate>(rows()[2].content).disposition, Disposition::rejected());
    EXPECT_EQ(labelText(rows()[2].id, "noteStatus"), "rejected");
    EXPECT_EQ(QDir(home.path() + "/projects/Essays/p/research").entryList(QDir::Files).size(), 2);
}

TEST_F(TranscriptViewTest, AKeepFailureStaysInTheSheet)
{
    makeView(false, home.path());
    append(note("/elsewhere/gone/post.md", "Lost"));
    const QUuid id = rows()[0].id;
    view->keep(id, std::get<review::ResearchCandidate>(rows()[0].content));
    ResearchKeepSheet *sheet = view->keepSheet();
    ASSERT_TRUE(sheet);
    QTest::mouseClick(sheet->keepButton(), Qt::LeftButton);
    EXPECT_EQ(sheet->refusal(), "piece not found: /elsewhere/gone/post.md");
    EXPECT_TRUE(sheet->isVisible());
    QTest::mouseClick(sheet->keepButton(), Qt::LeftButton);
    EXPECT_EQ(sheet->refusal(), "piece not found: /elsewhere/gone/post.md");
    testsupport::saveScreenshot(*sheet, "research-keep-sheet-refusal");

    QTest::mouseClick(sheet->cancelButton(), Qt::LeftButton);
    drainPosted();
    EXPECT_FALSE(view->keepSheet());
    EXPECT_EQ(std::get<review::ResearchCandidate>(rows()[0].content).disposition, Disposition::pending());
    EXPECT_FALSE(QDir(home.path() + "/projects/Essays/p/research").exists());

    // Without a Home a note offers nothing.
    makeView(false, std::nullopt);
    EXPECT_FALSE(view->rowWidget(id)->findChild<QPushButton *>("keep"));
    EXPECT_FALSE(view->rowWidget(id)->findChild<QPushButton *>("reject"));
}

TEST_F(TranscriptViewTest, ARefusedPromptKeepsItsWords)
{
    model->activate(SessionEntry{MentorSessionModel::passKey, "Pass", std::nullopt, QDateTime::currentDateTimeUtc()});
    makeView(false, home.path());
    view->setDraft("  my question\n");
    QTest::keyClick(view->composerField(), Qt::Key_Return);
    ASSERT_EQ(model->activeTranscript()->rows.size(), 1);
    EXPECT_EQ(std::get<SessionRow::Text>(model->activeTranscript()->rows[0].content).notice, Kind::refused);
    EXPECT_EQ(view->draft(), "my question");
}

TEST_F(TranscriptViewTest, OnlyWebLinksOpen)
{
    makeView(false, home.path());
    for (const char *link : {"https://a.example/x", "HTTPS://B.EXAMPLE", "mailto:a@b.example", "file:///etc/hosts"})
        SessionTranscriptView::openLink(QUrl(link));
    EXPECT_EQ(opened, QStringList({"https://a.example/x", "https://b.example"}));

    append(SessionRow::text("see [the source](https://a.example/(x))", Speaker::agent, Kind::plain));
    auto *label = view->rowWidget(rows()[0].id)->findChild<QLabel *>("agentReply");
    ASSERT_TRUE(label);
    EXPECT_FALSE(label->openExternalLinks());
    emit label->linkActivated("https://a.example/(x)");
    emit label->linkActivated("javascript:alert(1)");
    EXPECT_EQ(opened.size(), 3);
    EXPECT_EQ(opened.last(), "https://a.example/(x)");
}

TEST_F(TranscriptViewTest, ScreenshotOfEveryRowKind)
{
    makeView(true, home.path());
    const QString piece = home.path() + "/projects/Essays/p/post.md";
    append(SessionRow::notice("Pass Pass 1 — paragraph level and up.\nPiece: " + piece, Kind::kickoff));
    append(SessionRow::text("Can you check the **opening** paragraph?", Speaker::user, Kind::plain));
    append(SessionRow::Thought{"The opening leans on *hedges*."});
    append(SessionRow::text("The opening **hedges** three times. Try cutting `perhaps` — see "
                            "[the style notes](https://a.example/style).\n# Not a heading, <b>not bold</b>",
                            Speaker::agent, Kind::plain));
    append(review::FixCard{"Hedged opening"});
    append(SessionRow::Raw{"plan", R"({"entries":[]})"});
    append(note(piece, "On hedging"));
    review::ResearchCandidate kept = note(piece, "Kept source");
    kept.disposition = Disposition::kept("20250602-kept-source.md");
    kept.quote.clear();
    append(kept);
    append(SessionRow::notice("Resume refused — the mentor is mid-turn.", Kind::refused));
    append(
        SessionRow::notice("Operation interrupted: waiting for model response (2m 14s elapsed).", Kind::interrupted));
    view->setDraft("What about the ending?");
    const QString path = testsupport::saveScreenshot(*view, "session-transcript", QSize(420, 1500));
    EXPECT_FALSE(path.isEmpty());

    view->keep(rows()[6].id, std::get<review::ResearchCandidate>(rows()[6].content));
    ASSERT_TRUE(view->keepSheet());
    EXPECT_FALSE(testsupport::saveScreenshot(*view->keepSheet(), "research-keep-sheet").isEmpty());
}
