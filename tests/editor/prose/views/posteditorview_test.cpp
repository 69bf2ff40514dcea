// The editor screen offscreen over real sessions on a temporary Home: the
// header, Ctrl+S, saving when a window closes, the three ways out of a
// conflict, drafts through the library model, focus mode, and screenshots.

#include "editor/prose/views/posteditorview.h"

#include "editor/prose/prosedocumentlayout.h"
#include "editor/prose/views/proselisttextview.h"
#include "editor/prose/views/prosetextview.h"
#include "library/poststore.h"
#include "model/editorsession.h"
#include "model/postsmodel.h"

#include "piecehome.h"
#include "screenshot.h"
#include "testutil.h"

#include <QApplication>
#include <QCoro/QCoroTask>
#include <QDir>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <gtest/gtest.h>

#include <memory>

namespace {

using editor::PostEditorView;
using editor::SaveStateDot;
using model::EditorSession;
using model::SaveState;
using model::SessionTarget;
namespace PostStore = library::PostStore;
using testsupport::readFile;
using testsupport::spinUntil;
using testsupport::writeFile;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

const QByteArray kBlock = testsupport::PieceHome::frontMatter;

const QByteArray kSample = "# Spring notes\n\n"
                           "The first warm morning came late this year, and the garden woke all at once.\n\n"
                           "## What came up\n\n"
                           "- Crocuses under the **old** apple tree\n"
                           "  - purple ones first, then *white*\n"
                           "- Two rows of garlic\n"
                           "1. Sow the peas\n\n"
                           "> The best time to plant a tree was twenty years ago.\n\n"
                           "---\n\n"
                           "### Notes to self\n\n"
                           "Keep the `seed-log.md` file up to date, and read [the almanac](https://example.com).\n\n"
                           "```\nsow --rows 2 --depth 3cm\n```\n\n"
                           "#### Later\n\nMulch after the last frost.\n";

class PostEditorViewTest : public ::testing::Test, protected testsupport::PieceHome {
protected:
    std::unique_ptr<EditorSession> open(const QString &id, std::chrono::milliseconds debounce = 10s)
    {
        return PieceHome::open(id, debounce);
    }
    static void show(QWidget &view, QSize size = QSize(900, 640))
    {
        view.resize(size);
        view.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
        view.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&view));
        testsupport::drainPosted();
    }
    static void type(PostEditorView &view, const QString &text)
    {
        QTest::keyClicks(view.proseTextView()->textView(), text);
    }
    static void caretAtEnd(PostEditorView &view)
    {
        QTextCursor cursor = view.proseTextView()->textView()->textCursor();
        cursor.movePosition(QTextCursor::End);
        view.proseTextView()->textView()->setTextCursor(cursor);
    }
    // Shortcuts go to the active window: a closed dialog or another window
    // may have taken that away.
    static void saveKey(PostEditorView &view)
    {
        view.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&view));
        view.proseTextView()->textView()->setFocus();
        QTest::keyClick(view.proseTextView()->textView(), Qt::Key_S, Qt::ControlModifier);
    }
    // An outside edit the watcher reports.
    void changeOutside(EditorSession &session, const QString &id, const QByteArray &body)
    {
        writeFile(postPath(id), kBlock + body);
        session.diskDidChange(*PostStore::readText(id, home));
    }

    // A piece "Mine." with "Typed" added in its editor, changed outside to
    // "Theirs.": the alert is up.
    struct Conflict {
        std::unique_ptr<EditorSession> session;
        std::unique_ptr<PostEditorView> view;
    };
    Conflict conflictOn(const QString &id, std::chrono::milliseconds debounce = 10s)
    {
        piece(id, "Mine.\n");
        Conflict c{open(id, debounce), nullptr};
        c.view = std::make_unique<PostEditorView>(PostEditorView::Inputs{.session = c.session.get()});
        show(*c.view);
        caretAtEnd(*c.view);
        type(*c.view, u"Typed"_s);
        changeOutside(*c.session, id, "Theirs.\n");
        EXPECT_TRUE(spinUntil([&] { return c.view->conflictAlert() && c.view->conflictAlert()->isVisible(); }));
        return c;
    }
};

TEST_F(PostEditorViewTest, TheHeaderNamesTheTextAndItsSaveState)
{
    piece(u"spring"_s, kSample);
    auto session = open(u"spring"_s);
    int published = 0;
    PostEditorView view({.session = session.get(), .publish = [&] { ++published; }});
    show(view, QSize(900, 1150));
    // The text from its first line, below the typewriter room above it.
    QTextEdit *text = view.proseTextView()->textView();
    const QTextBlock first = text->document()->firstBlock();
    text->verticalScrollBar()->setValue(int(view.proseTextView()->documentLayout()->blockBoundingRect(first).top())
                                        - 24);
    testsupport::saveScreenshot(view, u"post-editor-styled-piece"_s, QSize(900, 1150));
    EXPECT_EQ(view.locationLabelWidget()->toolTip(), QDir(home).dirName() + u" / projects / Essays / spring"_s);
    ASSERT_NE(view.publishButton(), nullptr);
    EXPECT_EQ(view.publishButton()->text(), u"Publish"_s);
    EXPECT_EQ(view.publishButton()->toolTip(), u"Send to Micro.blog — draft first, then publish"_s);
    QTest::mouseClick(view.publishButton(), Qt::LeftButton);
    EXPECT_EQ(published, 1);
    EXPECT_EQ(view.draftHint(), nullptr);
    EXPECT_EQ(view.saveStateDot()->look().label, u"Saved"_s);
    EXPECT_EQ(view.saveStateDot()->accessibleName(), u"Save state: Saved"_s);

    caretAtEnd(view);
    type(view, u"Done."_s);
    EXPECT_EQ(view.saveStateDot()->look().label, u"Changed"_s);

    // An outside file: its name, no Publish, no image folder.
    const QString outside = writeFile(dir.path() + "/elsewhere/notes.md", "Notes\n");
    EditorSession outsideSession(SessionTarget::externalFile(outside), 10s);
    PostEditorView outsideView({.session = &outsideSession});
    EXPECT_EQ(outsideView.locationLabelWidget()->toolTip(), u"notes.md"_s);
    EXPECT_EQ(outsideView.publishButton(), nullptr);
    EXPECT_EQ(outsideView.proseTextView()->textView()->ingestFolder, std::nullopt);
    EXPECT_EQ(view.proseTextView()->textView()->ingestFolder, home + "/projects/Essays/spring");
    EXPECT_TRUE(PostEditorView::conflictMessage(outsideSession).startsWith(u"notes.md changed outside Pennora. "_s));
}

TEST(SaveStateDotLooks, EachStateAndTheConflict)
{
    using Look = SaveStateDot::Look;
    const QColor grey(107, 105, 100);
    const QColor brick(201, 100, 66);
    EXPECT_EQ(SaveStateDot::lookOf(SaveState::saved, false), (Look{u"Saved"_s, grey}));
    EXPECT_EQ(SaveStateDot::lookOf(SaveState::changed, false), (Look{u"Changed"_s, grey}));
    EXPECT_EQ(SaveStateDot::lookOf(SaveState::failed, false), (Look{u"Save failed"_s, brick}));
    EXPECT_EQ(SaveStateDot::lookOf(SaveState::changed, true), (Look{u"Changed on disk"_s, brick}));
}

TEST_F(PostEditorViewTest, CtrlSSavesAtOnceAndClosingAnyWindowSaves)
{
    piece(u"s"_s, "# S\n\nBody.\n");
    auto session = open(u"s"_s);
    PostEditorView view({.session = session.get()});
    show(view);
    caretAtEnd(view);
    type(view, u"One"_s);
    EXPECT_TRUE(session->autosavePending());
    saveKey(view);
    EXPECT_EQ(readFile(postPath(u"s"_s)), kBlock + "# S\n\nBody.\nOne");
    EXPECT_FALSE(session->autosavePending());
    EXPECT_EQ(view.saveStateDot()->look().label, u"Saved"_s);

    // Another window of the application closing saves the open text.
    type(view, u" two"_s);
    QWidget other;
    other.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&other));
    other.close();
    EXPECT_EQ(readFile(postPath(u"s"_s)), kBlock + "# S\n\nBody.\nOne two");

    // A tooltip or menu popping down is no window closing.
    type(view, u" three"_s);
    QWidget popup(nullptr, Qt::Popup);
    popup.show();
    popup.close();
    EXPECT_EQ(readFile(postPath(u"s"_s)), kBlock + "# S\n\nBody.\nOne two");
}

TEST_F(PostEditorViewTest, ReloadTakesTheDiskText)
{
    auto [session, view] = conflictOn(u"r"_s);
    EXPECT_EQ(view->conflictAlert()->windowTitle(), u"File on Disk changed"_s);
    EXPECT_EQ(view->saveStateDot()->look().label, u"Changed on disk"_s);
    testsupport::saveScreenshot(*view->conflictAlert(), u"post-editor-conflict-alert"_s);
    testsupport::saveScreenshot(*view, u"post-editor-conflict"_s, QSize(900, 400));

    QTest::mouseClick(view->conflictAlert()->reloadButton(), Qt::LeftButton);
    ASSERT_TRUE(spinUntil([&] { return !view->conflictAlert(); }));
    EXPECT_FALSE(session->conflictAlert());
    EXPECT_EQ(view->proseTextView()->textView()->rawText(), u"Theirs.\n"_s);
    EXPECT_EQ(session->saveState(), SaveState::saved);
    EXPECT_EQ(session->text(), u"Theirs.\n"_s);
    EXPECT_EQ(view->saveStateDot()->look().label, u"Saved"_s);
    EXPECT_EQ(readFile(postPath(u"r"_s)), kBlock + "Theirs.\n");
}

TEST_F(PostEditorViewTest, KeepLocalWritesTheEditorsTextOnTheNextSave)
{
    auto [session, view] = conflictOn(u"k"_s);
    QTest::mouseClick(view->conflictAlert()->keepLocalButton(), Qt::LeftButton);
    ASSERT_TRUE(spinUntil([&] { return !view->conflictAlert(); }));
    EXPECT_FALSE(session->conflictAlert());
    EXPECT_EQ(view->proseTextView()->textView()->rawText(), u"Mine.\nTyped"_s);
    EXPECT_EQ(readFile(postPath(u"k"_s)), kBlock + "Theirs.\n");
    saveKey(*view);
    EXPECT_EQ(readFile(postPath(u"k"_s)), kBlock + "Mine.\nTyped");
}

TEST_F(PostEditorViewTest, EscapeLeavesTheConflictStandingAndTheDotAsksAgain)
{
    auto [session, view] = conflictOn(u"e"_s, 20ms);
    QTest::keyClick(view->conflictAlert(), Qt::Key_Escape);
    ASSERT_TRUE(spinUntil([&] { return !view->conflictAlert(); }));

    // Nothing resolved and nothing written: not by typing and its autosave,
    // not by Ctrl+S, not by a window closing.
    EXPECT_TRUE(session->conflictAlert());
    EXPECT_EQ(view->saveStateDot()->look().label, u"Changed on disk"_s);
    type(*view, u" more"_s);
    ASSERT_TRUE(spinUntil([&] { return !session->autosavePending(); }));
    QWidget other;
    other.show();
    other.close();
    EXPECT_EQ(readFile(postPath(u"e"_s)), kBlock + "Theirs.\n");
    EXPECT_EQ(view->proseTextView()->textView()->rawText(), u"Mine.\nTyped more"_s);

    // Ctrl+S and the dot both ask again.
    saveKey(*view);
    ASSERT_TRUE(spinUntil([&] { return view->conflictAlert() != nullptr; }));
    QTest::keyClick(view->conflictAlert(), Qt::Key_Escape);
    ASSERT_TRUE(spinUntil([&] { return !view->conflictAlert(); }));
    EXPECT_EQ(readFile(postPath(u"e"_s)), kBlock + "Theirs.\n");
    QTest::mouseClick(view->saveStateDot(), Qt::LeftButton);
    ASSERT_TRUE(spinUntil([&] { return view->conflictAlert() != nullptr; }));
    QTest::mouseClick(view->conflictAlert()->keepLocalButton(), Qt::LeftButton);
    saveKey(*view);
    EXPECT_EQ(readFile(postPath(u"e"_s)), kBlock + "Mine.\nTyped more");
}

TEST_F(PostEditorViewTest, ACtrlSOverAnUnnoticedOutsideChangeAsksFirst)
{
    piece(u"u"_s, "# U\n\nMine.\n");
    auto session = open(u"u"_s);
    PostEditorView view({.session = session.get()});
    show(view);
    caretAtEnd(view);
    type(view, u"Typed"_s);
    writeFile(postPath(u"u"_s), kBlock + "# U\n\nTheirs.\n");
    saveKey(view);
    EXPECT_TRUE(session->conflictAlert());
    ASSERT_TRUE(spinUntil([&] { return view.conflictAlert() != nullptr; }));
    EXPECT_EQ(readFile(postPath(u"u"_s)), kBlock + "# U\n\nTheirs.\n");
}

class PostEditorDraftTest : public PostEditorViewTest {
protected:
    void SetUp() override
    {
        PostEditorViewTest::SetUp();
        model.startWatching(home);
        QCoro::waitFor(model.rescan());
    }
    void TearDown() override { model.settleBackgroundWork(); }
    model::PostsModel model;
};

TEST_F(PostEditorDraftTest, ADraftShowsTheSaveHintAndCtrlSMakesItAPiece)
{
    model.newPostDraft();
    ASSERT_TRUE(model.draft());
    QStringList words;
    PostEditorView view({.draftText = model.draft()->text,
                         .draftEdited = [&](const QString &text) { model.setDraftText(text); },
                         .draftSave = [&] { model.saveDraft(); },
                         .onTextChange = [&](const QString &text) { words << text; }});
    show(view);
    EXPECT_EQ(view.locationLabelWidget()->toolTip(), u"unsaved draft — no folder until first save"_s);
    EXPECT_EQ(view.draftHint()->text(), u"Ctrl+S saves"_s);
    EXPECT_EQ(view.saveStateDot(), nullptr);
    EXPECT_EQ(view.publishButton(), nullptr);
    EXPECT_EQ(view.proseTextView()->textView()->rawText(), u"# Untitled\n\n"_s);

    caretAtEnd(view);
    type(view, u"Fresh start."_s);
    EXPECT_EQ(model.draft()->text, u"# Untitled\n\nFresh start."_s);
    EXPECT_EQ(view.draftMirror(), u"# Untitled\n\nFresh start."_s);
    EXPECT_EQ(words.last(), u"# Untitled\n\nFresh start."_s);
    // Once the caret line has glided back to the middle.
    QTest::qWait(300);
    testsupport::saveScreenshot(view, u"post-editor-draft"_s, QSize(900, 360));

    // In focus mode the header goes and the notice says the draft is unsaved.
    view.setFocused(true);
    EXPECT_FALSE(view.header()->isVisible());
    EXPECT_TRUE(view.focusNotice()->isVisible());
    testsupport::saveScreenshot(view, u"post-editor-draft-focus"_s, QSize(900, 360));
    view.setFocused(false);

    saveKey(view);
    EXPECT_FALSE(model.draft());
    ASSERT_NE(model.session(), nullptr);
    EXPECT_EQ(model.session()->text(), u"# Untitled\n\nFresh start."_s);
    EXPECT_TRUE(QFileInfo::exists(model.session()->folderPath() + "/post.md"));
}

TEST_F(PostEditorViewTest, FocusModeShowsAFailedSaveOverTheText)
{
    piece(u"f"_s, "# F\n\nBody.\n");
    auto session = open(u"f"_s);
    PostEditorView view({.session = session.get()});
    show(view);
    view.setFocused(true);
    EXPECT_FALSE(view.header()->isVisible());
    EXPECT_FALSE(view.focusNotice()->isVisible());
    // The piece folder becomes a symbolic link, which no write goes through.
    caretAtEnd(view);
    type(view, u"x"_s);
    const QString folder = home + "/projects/Essays/f";
    ASSERT_TRUE(QDir().rename(folder, folder + "-moved"));
    ASSERT_TRUE(QFile::link(folder + "-moved", folder));
    saveKey(view);
    EXPECT_EQ(session->saveState(), SaveState::failed);
    EXPECT_TRUE(view.focusNotice()->isVisible());
}

} // namespace
