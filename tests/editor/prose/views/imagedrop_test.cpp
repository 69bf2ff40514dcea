// Images dropped on the prose editor offscreen, over real editing sessions
// on a temporary Home with real image files: what is copied into the piece's
// assets/, where the links land and what is selected, the one undo step, the
// refusals and their notice, links through symbolic links, and the save.

#include "editor/prose/prosedropbridge.h"
#include "editor/prose/views/posteditorview.h"
#include "editor/prose/views/proselisttextview.h"
#include "editor/prose/views/prosetextview.h"
#include "model/editorsession.h"

#include "piecehome.h"
#include "screenshot.h"
#include "testutil.h"

#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QMimeData>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

namespace {

using editor::PostEditorView;
using editor::ProseTextView;
using model::EditorSession;
using model::SessionTarget;
using testsupport::entries;
using testsupport::readFile;
using testsupport::spinUntil;
using testsupport::writeFile;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

const QString kOneKind = u"Drop images (PNG, JPEG, GIF, WebP, SVG) or markdown — one kind at a time."_s;
const QString kNoPiece = u"Illustrations only land in a saved post's prose editor."_s;
const QString kCouldNot = u"Couldn't ingest the image — "_s;

// The smallest GIF and lossless WebP there are: one pixel each.
const QByteArray kGif = QByteArray::fromBase64("R0lGODlhAQABAIAAAP///wAAACH5BAEAAAAALAAAAAABAAEAAAICRAEAOw==");
const QByteArray kWebp = QByteArray::fromBase64("UklGRhoAAABXRUJQVlA4TA0AAAAvAAAAEAcQERGIiP4HAA==");
const QByteArray kSvg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"8\" height=\"8\">"
                        "<rect width=\"8\" height=\"8\" fill=\"#c96442\"/></svg>\n";

class ImageDropTest : public ::testing::Test, protected testsupport::PieceHome {
protected:
    void SetUp() override
    {
        QDir().mkpath(drops);
        QDir().mkpath(elsewhere);
        image(u"photo.png"_s, "PNG", Qt::darkGreen);
        image(u"Photo.JPG"_s, "JPEG", Qt::darkRed);
        image(u"Été à la mer.png"_s, "PNG", Qt::blue);
        writeFile(drops + u"/leaf.gif"_s, kGif);
        writeFile(drops + u"/leaf.webp"_s, kWebp);
        writeFile(drops + u"/mark.svg"_s, kSvg);
        writeFile(drops + u"/notes.txt"_s, "words\n");
        writeFile(drops + u"/notes.md"_s, "# Notes\n");
    }

    void image(const QString &name, const char *format, Qt::GlobalColor colour)
    {
        QImage picture(24, 16, QImage::Format_RGB32);
        picture.fill(colour);
        ASSERT_TRUE(picture.save(drops + u'/' + name, format));
    }
    QUrl dropped(const QString &name) const { return QUrl::fromLocalFile(drops + u'/' + name); }
    QString assets(const QString &id) const { return home + u"/projects/Essays/"_s + id + u"/assets"_s; }

    // An editor on piece id (body under the front matter), on screen, whose
    // drops reach the text view through the bridge the way the app's do.
    struct Editor {
        std::unique_ptr<EditorSession> session;
        std::unique_ptr<ProseTextView> view;
        std::unique_ptr<editor::ProseDropBridge> bridge;
        editor::ProseListTextView *text() const { return view->textView(); }
    };
    Editor editorOn(const QString &id, const QByteArray &body)
    {
        piece(id, body);
        Editor e{open(id, 20ms), std::make_unique<ProseTextView>(), std::make_unique<editor::ProseDropBridge>()};
        e.view->setIngestFolder(e.session->folderPath());
        route(*e.view, *e.bridge);
        e.view->resize(700, 500);
        e.view->setSession(e.session.get());
        e.view->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(e.view.get()));
        testsupport::drainPosted();
        return e;
    }
    static void route(ProseTextView &view, editor::ProseDropBridge &bridge)
    {
        view.setDropBridge(&bridge);
        view.setRouteDrop([&bridge](const QList<QUrl> &urls) {
            editor::ProseDropTarget *target = bridge.textView();
            return target && target->ingestDrop(urls);
        });
    }

    // A drag of urls entering the text and dropped at y; answers whether the
    // drop was taken.
    static bool drop(editor::ProseListTextView *text, const QList<QUrl> &urls, double y)
    {
        QMimeData data;
        data.setUrls(urls);
        const QPointF at(40, y);
        QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(text->viewport(), &enter);
        QDropEvent dropped(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(text->viewport(), &dropped);
        return dropped.isAccepted();
    }
    // Heights over the first line of the block at position: just inside
    // its top (above its middle) and just inside its bottom (below it).
    static double upper(editor::ProseListTextView *text, int position)
    {
        QTextCursor at(text->document());
        at.setPosition(position);
        return text->cursorRect(at).top() + 1;
    }
    static double lower(editor::ProseListTextView *text, int position)
    {
        QTextCursor at(text->document());
        at.setPosition(position);
        return text->cursorRect(at).bottom() - 1;
    }
    static QString selected(const Editor &e) { return e.text()->textCursor().selectedText(); }

    QString drops = dir.path() + u"/Drops"_s;
    QString elsewhere = dir.path() + u"/Elsewhere"_s;
};

TEST_F(ImageDropTest, ImagesAreCopiedUnderUniqueNamesAndLinkedWithTheFirstAltSelected)
{
    Editor e = editorOn(u"spring"_s, "# Spring\n\nFirst paragraph.\n\nSecond paragraph.\n");
    const QString body = e.text()->rawText();
    const int second = int(body.indexOf(u"Second"_s));

    // One image, above the middle of a paragraph's line: its own line
    // before it.
    ASSERT_TRUE(drop(e.text(), {dropped(u"photo.png"_s)}, upper(e.text(), second)));
    QString expected = body;
    expected.insert(second, u"![alt](assets/photo.png)\n"_s);
    EXPECT_EQ(e.text()->rawText(), expected);
    EXPECT_EQ(selected(e), u"alt"_s);
    EXPECT_EQ(e.text()->textCursor().selectionStart(), second + 2);
    EXPECT_EQ(readFile(assets(u"spring"_s) + u"/photo.png"_s), readFile(drops + u"/photo.png"_s));
    EXPECT_TRUE(QFile::exists(drops + u"/photo.png"_s)) << "copied, not moved";

    // Three of the other kinds, below the heading's middle: on the blank
    // line after it, one space between the links.
    ASSERT_TRUE(
        drop(e.text(), {dropped(u"leaf.gif"_s), dropped(u"leaf.webp"_s), dropped(u"mark.svg"_s)}, lower(e.text(), 0)));
    const QString three = u"![alt](assets/leaf.gif) ![alt](assets/leaf.webp) ![alt](assets/mark.svg)"_s;
    expected.insert(9, three);
    EXPECT_EQ(e.text()->rawText(), expected);
    EXPECT_EQ(e.text()->textCursor().selectionStart(), 11);
    EXPECT_EQ(selected(e), u"alt"_s);

    // The same image twice: two new names. "Photo.JPG" lands as .jpg; a
    // name with spaces and accents as its slug.
    ASSERT_TRUE(drop(e.text(), {dropped(u"photo.png"_s), dropped(u"photo.png"_s)}, upper(e.text(), 0)));
    ASSERT_TRUE(drop(e.text(), {dropped(u"Photo.JPG"_s), dropped(u"Été à la mer.png"_s)}, upper(e.text(), 0)));
    EXPECT_TRUE(e.text()->rawText().startsWith(u"![alt](assets/photo.jpg) ![alt](assets/ete-a-la-mer.png)\n"
                                               u"![alt](assets/photo-2.png) ![alt](assets/photo-3.png)\n# Spring\n"_s))
        << e.text()->rawText().toStdString();
    EXPECT_EQ(entries(assets(u"spring"_s)),
              (QStringList{u"ete-a-la-mer.png"_s, u"leaf.gif"_s, u"leaf.webp"_s, u"mark.svg"_s, u"photo-2.png"_s,
                           u"photo-3.png"_s, u"photo.jpg"_s, u"photo.png"_s}));
    EXPECT_EQ(readFile(assets(u"spring"_s) + u"/photo.jpg"_s), readFile(drops + u"/Photo.JPG"_s));
    EXPECT_EQ(readFile(assets(u"spring"_s) + u"/leaf.webp"_s), kWebp);
    EXPECT_EQ(e.text()->dropNotice(), nullptr) << "no notice for a drop that was taken";

    // The autosave writes the links into post.md under the front matter.
    ASSERT_TRUE(spinUntil([&] { return !e.session->autosavePending(); }));
    EXPECT_EQ(readFile(postPath(u"spring"_s)), frontMatter + e.text()->rawText().toUtf8());
}

TEST_F(ImageDropTest, TheLinksLandAtALineBoundaryAndNeverBreakTheLine)
{
    struct Case {
        const char *name;
        QByteArray body;
        // The height: over the line that starts at this text, upper or lower
        // half; no text: below everything.
        QString line;
        bool upperHalf;
        QString expected;
    };
    const QString a = u"![alt](assets/a.png)"_s;
    const QString longWord = QString(160, u'w');
    const QString wrapped = QStringList(30, u"wrapping"_s).join(u' ');
    const Case cases[] = {
        {"a heading's start", "# Title\nBody.\n", u"# Title"_s, true, a + u"\n# Title\nBody.\n"_s},
        {"a list item", "Intro.\n- one\n- two\n", u"- two"_s, true, u"Intro.\n- one\n"_s + a + u"\n- two\n"_s},
        {"a quote", "Intro.\n\n> said\n", u"> said"_s, true, u"Intro.\n\n"_s + a + u"\n> said\n"_s},
        {"below a heading, on the blank line", "# Title\n\nBody.\n", u"# Title"_s, false,
         u"# Title\n"_s + a + u"\nBody.\n"_s},
        {"mid-word: after the word",
         ("Start " + longWord + " end.\n").toUtf8(),
         {},
         true,
         u"Start "_s + longWord + u" "_s + a + u" end.\n"_s},
        {"a wrapped line's start", wrapped.toUtf8(), {}, false, {}},
        {"below the end of the text", "Body.\n", {}, false, u"Body. "_s + a + u"\n"_s},
        {"below a text ending in a word", "Body", {}, false, u"Body "_s + a},
        {"an empty piece", "", {}, false, a},
    };
    int n = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QString id = u"t%1"_s.arg(++n);
        writeFile(drops + u"/a.png"_s, readFile(drops + u"/photo.png"_s));
        Editor e = editorOn(id, c.body);
        const QString body = e.text()->rawText();
        const QList<editor::ImageDrop::Line> lines = e.text()->visibleLines();
        double y = e.text()->viewport()->height() - 2;
        QString expected = c.expected;
        if (!c.line.isEmpty()) {
            const int at = int(body.indexOf(c.line));
            y = c.upperHalf ? upper(e.text(), at) : lower(e.text(), at);
        } else if (QByteArray(c.name).startsWith("mid-word")) {
            // The long word is broken across lines: drop over one that
            // starts inside it.
            const auto inside = std::find_if(lines.cbegin(), lines.cend(), [&](const editor::ImageDrop::Line &line) {
                return line.start > 6 && line.start < 6 + longWord.size();
            });
            ASSERT_NE(inside, lines.cend());
            y = inside->middle - 2;
        } else if (QByteArray(c.name).startsWith("a wrapped")) {
            ASSERT_GE(lines.size(), 2);
            const qsizetype start = lines[1].start;
            ASSERT_EQ(body[start - 1], u' ');
            y = lines[0].middle + 2;
            expected = body.left(start) + a + u' ' + body.mid(start);
        }
        ASSERT_TRUE(drop(e.text(), {dropped(u"a.png"_s)}, y));
        EXPECT_EQ(e.text()->rawText(), expected);
        EXPECT_EQ(selected(e), u"alt"_s);
    }
}

TEST_F(ImageDropTest, ADropElsewhereOnTheWindowLandsUnderTheMousePointer)
{
    Editor e = editorOn(u"window"_s, "# Title\n\nOne.\n\nTwo.\n");
    const QString body = e.text()->rawText();
    const int two = int(body.indexOf(u"Two."_s));
    // No drop event on the text: the app hands the files over itself.
    QCursor::setPos(e.text()->viewport()->mapToGlobal(QPoint(300, int(upper(e.text(), two)))));
    ASSERT_TRUE(e.bridge->textView()->ingestDrop({dropped(u"photo.png"_s)}));
    QString expected = body;
    expected.insert(two, u"![alt](assets/photo.png)\n"_s);
    EXPECT_EQ(e.text()->rawText(), expected);
}

TEST_F(ImageDropTest, LinksDroppedAroundAFoldedItemAreNeverHidden)
{
    const QString list = u"Intro.\n- parent\n  - child one\n  - child two\n"_s;
    const QString links = u"![alt](assets/photo.png)\n"_s;
    struct Case {
        const char *name;
        bool upperHalf;
        QString expected;
        qsizetype folds;
    } cases[] = {
        // Before the item: it stays folded.
        {"above the item's middle", true, u"Intro.\n"_s + links + list.mid(7) + u"- next\n"_s, 1},
        // After its hidden lines, where a line continues the last child:
        // the item opens so that the links show.
        {"below the item's middle", false, list + links + u"- next\n"_s, 0},
    };
    int n = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Editor e = editorOn(u"folded%1"_s.arg(++n), (list + u"- next\n"_s).toUtf8());
        const int parent = int(list.indexOf(u"- parent"_s));
        for (const editor::ProseList::ParentHint &hint : e.text()->parentHints()) {
            if (hint.markerLine.start == parent)
                e.text()->toggleFold(hint);
        }
        ASSERT_EQ(e.text()->folds().size(), 1);
        testsupport::drainPosted();

        const double y = c.upperHalf ? upper(e.text(), parent) : lower(e.text(), parent);
        ASSERT_TRUE(drop(e.text(), {dropped(u"photo.png"_s)}, y));
        EXPECT_EQ(e.text()->rawText(), c.expected);
        EXPECT_EQ(selected(e), u"alt"_s);
        EXPECT_EQ(e.text()->folds().size(), c.folds);
        EXPECT_TRUE(e.text()->document()->findBlock(e.text()->textCursor().selectionStart()).isVisible());
    }
}

TEST_F(ImageDropTest, OneUndoTakesTheWholeInsertionAndTypingOverAltIsUndoneAlone)
{
    Editor e = editorOn(u"undo"_s, "# Title\nBody.\n");
    const QString body = e.text()->rawText();
    e.text()->setFocus();
    ASSERT_TRUE(drop(e.text(), {dropped(u"photo.png"_s), dropped(u"leaf.gif"_s)}, upper(e.text(), 0)));
    EXPECT_EQ(e.text()->rawText(), u"![alt](assets/photo.png) ![alt](assets/leaf.gif)\n"_s + body);

    QTest::keyClicks(e.text(), u"A fern"_s);
    EXPECT_TRUE(e.text()->rawText().startsWith(u"![A fern](assets/photo.png) ![alt]"_s));
    while (e.text()->rawText().contains(u"A fern"_s) && e.text()->document()->isUndoAvailable())
        QTest::keyClick(e.text(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(e.text()->rawText(), u"![alt](assets/photo.png) ![alt](assets/leaf.gif)\n"_s + body);

    QTest::keyClick(e.text(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(e.text()->rawText(), body);
    // The copies stay: an undo changes the text only.
    EXPECT_EQ(entries(assets(u"undo"_s)), (QStringList{u"leaf.gif"_s, u"photo.png"_s}));

    // Typed right after the links, at the end of the text: still undone on
    // its own.
    ASSERT_TRUE(drop(e.text(), {dropped(u"mark.svg"_s)}, e.text()->viewport()->height() - 2));
    const QString dropped = e.text()->rawText();
    EXPECT_EQ(dropped, u"# Title\nBody. ![alt](assets/mark.svg)\n"_s);
    QTest::keyClick(e.text(), Qt::Key_Right);
    QTest::keyClick(e.text(), Qt::Key_End);
    QTest::keyClicks(e.text(), u" A"_s);
    QTest::keyClick(e.text(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(e.text()->rawText(), dropped);
    QTest::keyClick(e.text(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(e.text()->rawText(), body);
}

TEST_F(ImageDropTest, RefusedDropsInsertNothingAndSayWhy)
{
    Editor e = editorOn(u"refusals"_s, "Body.\n");
    const QString body = e.text()->rawText();
    const double y = upper(e.text(), 0);
    QDir().mkpath(drops + u"/shots.png"_s);
    ASSERT_TRUE(QFile::link(drops + u"/photo.png"_s, drops + u"/linked.png"_s));
    struct Case {
        const char *name;
        QList<QUrl> urls;
        QString notice;
    } cases[] = {
        {"not an image", {dropped(u"notes.txt"_s)}, kOneKind},
        {"markdown with an image", {dropped(u"photo.png"_s), dropped(u"notes.md"_s)}, kOneKind},
        {"a web link", {QUrl(u"https://example.com/picture.png"_s)}, kOneKind},
        {"a folder", {dropped(u"shots.png"_s)}, kCouldNot + u"“shots.png” is a folder, not an image."_s},
        {"a link", {dropped(u"linked.png"_s)}, kCouldNot + u"“linked.png” is a link, not an image file."_s},
        {"gone since the drag began",
         {dropped(u"gone.png"_s)},
         kCouldNot + u"“gone.png” couldn’t be read — it may have moved since the drag began."_s},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(drop(e.text(), c.urls, y));
        EXPECT_EQ(e.text()->lastDropNotice(), c.notice);
        ASSERT_NE(e.text()->dropNotice(), nullptr);
        EXPECT_TRUE(e.text()->dropNotice()->isVisible());
        EXPECT_EQ(e.text()->rawText(), body);
        EXPECT_FALSE(QFileInfo::exists(assets(u"refusals"_s) + u"/photo.png"_s));
    }

    // A failure part-way: what was copied before it stays, nothing is
    // inserted.
    EXPECT_FALSE(drop(e.text(), {dropped(u"photo.png"_s), dropped(u"gone.png"_s)}, y));
    EXPECT_EQ(e.text()->lastDropNotice(),
              kCouldNot + u"“gone.png” couldn’t be read — it may have moved since the drag began."_s);
    EXPECT_EQ(e.text()->rawText(), body);
    EXPECT_EQ(entries(assets(u"refusals"_s)), QStringList{u"photo.png"_s});
}

TEST_F(ImageDropTest, NothingIsWrittenThroughASymbolicLink)
{
    const QString message = kCouldNot + u"assets/ isn’t a plain folder in this piece."_s;
    {
        // assets/ is a link to a folder outside the piece.
        Editor e = editorOn(u"linked-assets"_s, "Body.\n");
        ASSERT_TRUE(QFile::link(elsewhere, assets(u"linked-assets"_s)));
        EXPECT_FALSE(drop(e.text(), {dropped(u"photo.png"_s)}, upper(e.text(), 0)));
        EXPECT_EQ(e.text()->lastDropNotice(), message);
        EXPECT_EQ(e.text()->rawText(), u"Body.\n"_s);
    }
    {
        // The piece folder swapped for a link after the piece was opened.
        Editor e = editorOn(u"swapped"_s, "Body.\n");
        const QString folder = e.session->folderPath();
        ASSERT_TRUE(QDir().rename(folder, folder + u"-away"_s));
        QDir().mkpath(elsewhere + u"/assets"_s);
        ASSERT_TRUE(QFile::link(elsewhere, folder));
        EXPECT_FALSE(drop(e.text(), {dropped(u"photo.png"_s)}, upper(e.text(), 0)));
        EXPECT_EQ(e.text()->lastDropNotice(), message);
        EXPECT_EQ(e.text()->rawText(), u"Body.\n"_s);
    }
    EXPECT_EQ(entries(elsewhere), QStringList{u"assets"_s});
    EXPECT_EQ(entries(elsewhere + u"/assets"_s), QStringList());
}

TEST_F(ImageDropTest, ADraftOrAnOutsideFileTakesNoImages)
{
    // A draft: no folder to put images in, whatever is dropped.
    ProseTextView draft;
    editor::ProseDropBridge bridge;
    route(draft, bridge);
    draft.setDraft(u"A draft.\n"_s);
    draft.resize(600, 400);
    draft.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&draft));
    for (const QString &name : {u"photo.png"_s, u"notes.txt"_s}) {
        EXPECT_FALSE(drop(draft.textView(), {dropped(name)}, 10));
        EXPECT_EQ(draft.textView()->lastDropNotice(), kNoPiece);
    }
    EXPECT_EQ(draft.textView()->rawText(), u"A draft.\n"_s);

    // An outside file, in the editor screen the app builds.
    writeFile(elsewhere + u"/outside.md"_s, "Outside.\n");
    EditorSession outside(SessionTarget::externalFile(elsewhere + u"/outside.md"_s), 10s);
    editor::ProseDropBridge screenBridge;
    PostEditorView screen(PostEditorView::Inputs{
        .session = &outside,
        .routeDrop = [&screenBridge](const QList<QUrl> &urls) { return screenBridge.textView()->ingestDrop(urls); },
        .dropBridge = &screenBridge});
    screen.resize(700, 500);
    screen.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&screen));
    editor::ProseListTextView *text = screen.proseTextView()->textView();
    EXPECT_FALSE(drop(text, {dropped(u"photo.png"_s)}, 10));
    EXPECT_EQ(text->lastDropNotice(), kNoPiece);
    EXPECT_EQ(entries(elsewhere), QStringList{u"outside.md"_s});
}

TEST_F(ImageDropTest, TheNoticeStaysFourSecondsAndASecondOneReplacesIt)
{
    Editor e = editorOn(u"notice"_s, "Body.\n");
    editor::ProseListTextView *text = e.text();
    EXPECT_FALSE(drop(text, {dropped(u"notes.txt"_s)}, 10));
    QLabel *notice = text->dropNotice();
    ASSERT_NE(notice, nullptr);
    EXPECT_TRUE(notice->isVisible());
    EXPECT_EQ(notice->text(), kOneKind);
    // Centred over the top of the visible area.
    EXPECT_EQ(notice->y(), 10);
    EXPECT_EQ(notice->height(), 26);
    EXPECT_LE(std::abs(notice->x() * 2 + notice->width() - text->width()), 1);
    EXPECT_EQ(text->dropNoticeTimer()->interval(), 4000);
    EXPECT_TRUE(text->dropNoticeTimer()->isActive());

    // It stays put while the text scrolls.
    text->verticalScrollBar()->setValue(text->verticalScrollBar()->maximum());
    EXPECT_EQ(notice->y(), 10);

    // A second notice while the first is up: the same label, the new text,
    // and its time starts again.
    // (The first one's time is taken away here, so that only a new start
    // can set it running.)
    text->dropNoticeTimer()->stop();
    EXPECT_FALSE(drop(text, {QUrl(u"https://example.com/x.png"_s)}, 10));
    EXPECT_EQ(text->lastDropNotice(), kOneKind);
    EXPECT_TRUE(text->dropNoticeTimer()->isActive());
    text->dropNoticeTimer()->stop();
    EXPECT_FALSE(drop(text, {dropped(u"gone.png"_s)}, 10));
    EXPECT_EQ(text->dropNotice(), notice);
    EXPECT_TRUE(notice->text().startsWith(kCouldNot));
    EXPECT_TRUE(notice->isVisible());
    EXPECT_TRUE(text->dropNoticeTimer()->isActive());
    EXPECT_EQ(text->dropNoticeTimer()->interval(), 4000);
    EXPECT_EQ(text->findChildren<QLabel *>(u"dropNotice"_s).size(), 1);

    ASSERT_TRUE(spinUntil([&] { return !notice->isVisible(); }));
    EXPECT_FALSE(text->dropNoticeTimer()->isActive());
}

TEST_F(ImageDropTest, ScreenshotAfterATwoImageDrop)
{
    piece(u"garden"_s, "# The garden in May\n\n"
                       "The first warm morning came late this year, and the garden woke all at once.\n\n"
                       "## What came up\n\n"
                       "- Crocuses under the old apple tree\n"
                       "- Two rows of garlic\n\n"
                       "Mulch after the last frost.\n");
    auto session = open(u"garden"_s, 10s);
    editor::ProseDropBridge bridge;
    PostEditorView screen(PostEditorView::Inputs{
        .session = session.get(),
        .routeDrop = [&bridge](const QList<QUrl> &urls) { return bridge.textView()->ingestDrop(urls); },
        .dropBridge = &bridge});
    screen.resize(900, 640);
    screen.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&screen));
    screen.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&screen));
    testsupport::drainPosted();
    editor::ProseListTextView *text = screen.proseTextView()->textView();
    text->setFocus();
    const int at = int(text->rawText().indexOf(u"## What"_s));
    ASSERT_TRUE(drop(text, {dropped(u"photo.png"_s), dropped(u"leaf.webp"_s)}, upper(text, at)));
    testsupport::drainPosted();
    EXPECT_EQ(text->textCursor().selectedText(), u"alt"_s);
    EXPECT_TRUE(text->rawText().contains(u"\n![alt](assets/photo.png) ![alt](assets/leaf.webp)\n## What"_s));
    EXPECT_FALSE(testsupport::saveScreenshot(screen, u"prose-image-drop"_s).isEmpty());

    // And a refusal's notice over the top of the text.
    EXPECT_FALSE(drop(text, {dropped(u"notes.txt"_s)}, 10));
    EXPECT_FALSE(testsupport::saveScreenshot(screen, u"prose-image-drop-notice"_s).isEmpty());
}

} // namespace
