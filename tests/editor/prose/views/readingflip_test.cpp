// The editor screen's flip between the text and its rendered page, over a
// real editing session and a real web view (offscreen): the caret goes to the
// page and comes back at the block clicked, or at the block last seen at the
// top; what was typed is on the page.
#include "editor/prose/views/posteditorview.h"

#include "editor/prose/reading/readingsurface.h"
#include "editor/prose/views/proselisttextview.h"
#include "editor/prose/views/prosetextview.h"
#include "piecehome.h"
#include "screenshot.h"
#include "testutil.h"
#include "webtestenv.h"

#include <QApplication>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineView>
#include <gtest/gtest.h>

namespace {

using editor::PostEditorView;
using editor::ReadingSurface;
namespace R = editor::ReadingPresenter;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

class ReadingFlipTest : public ::testing::Test, protected testsupport::PieceHome {
protected:
    void SetUp() override
    {
        PostEditorView::setReadingViewFactory([](QWidget *parent) { return new ReadingSurface(parent); });
        QByteArray body = "# Essay\n\n";
        // Paragraph i starts on line 3 + 3i.
        for (int i = 0; i < 30; ++i)
            body += "Paragraph " + QByteArray::number(i) + " has a first line\nand a second line.\n\n";
        piece(u"essay"_s, body);
        session = open(u"essay"_s, 10s);
        view = std::make_unique<PostEditorView>(PostEditorView::Inputs{.session = session.get()});
        view->setReadingRunner([](QString annotated, std::optional<QString> folder) {
            return R::runRenderer(QStringLiteral(PENNORA_RENDER_BINARY), annotated, folder);
        });
        view->resize(900, 640);
        view->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
    }

    ReadingSurface *surface() const { return static_cast<ReadingSurface *>(view->readingView()); }
    qint64 blockStart(qint64 line) const
    {
        for (const R::Block &block : R::blocks(session->text())) {
            if (block.sourceLine == line)
                return block.sourceRange.start;
        }
        return -1;
    }
    void caretAt(qint64 location)
    {
        QTextCursor cursor = view->proseTextView()->textView()->textCursor();
        cursor.setPosition(int(location));
        view->proseTextView()->textView()->setTextCursor(cursor);
    }
    qint64 caret() const { return view->proseTextView()->textView()->textCursor().position(); }

    // Flips to the page and waits for it.
    bool read()
    {
        const int before = surface() ? surface()->paints() : 0;
        view->toggleReading();
        if (!view->isReading() || !surface())
            return false;
        if (surface()->paints() == before)
            return true; // the page shown stands
        QSignalSpy loaded(surface(), &ReadingSurface::pageLoaded);
        return loaded.wait(30000);
    }
    QVariant js(const QString &script)
    {
        QVariant result;
        bool done = false;
        surface()->page()->runJavaScript(script, QWebEngineScript::MainWorld, [&](const QVariant &value) {
            result = value;
            done = true;
        });
        EXPECT_TRUE(QTest::qWaitFor([&] { return done; }, 10000)) << script.toStdString();
        return result;
    }

    std::unique_ptr<model::EditorSession> session;
    std::unique_ptr<PostEditorView> view;
};

TEST_F(ReadingFlipTest, AClickOnABlockComesBackWithTheCaretAtItsStart)
{
    EXPECT_EQ(view->readButton()->text(), u"Read"_s);
    EXPECT_EQ(surface(), nullptr) << "no web view before the first flip";
    caretAt(blockStart(42) + 5);
    QTest::keyClicks(view->proseTextView()->textView(), u"Inserted"_s);

    ASSERT_TRUE(read());
    EXPECT_EQ(view->readingState().entryLocation, blockStart(42) + 5 + 8);
    EXPECT_EQ(view->readButton()->text(), u"Edit"_s);
    EXPECT_FALSE(view->proseTextView()->isVisible());
    EXPECT_TRUE(surface()->isVisible());
    EXPECT_TRUE(js(u"document.body.textContent.includes('ParagInsertedraph 13')"_s).toBool())
        << "the page shows what was typed";
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return std::abs(js(u"document.querySelector('[data-source-line=\"42\"]').getBoundingClientRect().top"_s)
                                .toDouble()
                            - 24)
                   < 1;
        },
        5000));

    js(u"document.querySelector('[data-source-line=\"6\"]').click()"_s);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !view->isReading(); }, 10000));
    EXPECT_TRUE(view->proseTextView()->isVisible());
    EXPECT_FALSE(surface()->isVisible());
    EXPECT_EQ(view->readButton()->text(), u"Read"_s);
    EXPECT_EQ(caret(), blockStart(6));
    EXPECT_TRUE(session->text().contains(u"ParagInsertedraph 13"_s)) << "nothing typed is lost";
}

TEST_F(ReadingFlipTest, FlippingBackWithoutAClickGoesToTheTopBlock)
{
    caretAt(0);
    ASSERT_TRUE(read());
    EXPECT_FALSE(view->readingState().topSourceLocation.has_value());
    // Nothing reported yet: the start, which the editor moves to the first
    // content line.
    view->toggleReading();
    EXPECT_FALSE(view->isReading());
    EXPECT_EQ(caret(), 0);

    ASSERT_TRUE(read());
    EXPECT_EQ(surface()->paints(), 1) << "the same text is not rendered again";
    js(u"window.scrollTo(0, document.querySelector('[data-source-line=\"21\"]').offsetTop - 30)"_s);
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->readingState().topSourceLocation == blockStart(21); }, 10000))
        << view->readingState().topSourceLocation.value_or(-1) << " for " << blockStart(21) << " at "
        << js(u"window.scrollY"_s).toDouble();
    view->toggleReading();
    EXPECT_FALSE(view->isReading());
    EXPECT_EQ(caret(), blockStart(21));
    EXPECT_TRUE(view->proseTextView()->textView()->hasFocus() || !QApplication::focusWidget());
}

TEST_F(ReadingFlipTest, ReadingScreenshot)
{
    caretAt(0);
    ASSERT_TRUE(read());
    QTest::qWait(300);
    EXPECT_FALSE(testsupport::saveScreenshot(*view, u"posteditor-reading"_s, QSize(900, 640)).isEmpty());
}

} // namespace
