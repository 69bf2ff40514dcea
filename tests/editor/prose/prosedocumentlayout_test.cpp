#include "editor/prose/prosedocumentlayout.h"

#include "editor/prose/prosehighlighter.h"
#include "testutil.h"

#include <QDir>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextEdit>
#include <QTextLayout>
#include <gtest/gtest.h>
#include <tuple>

namespace {

namespace P = editor::ProsePresenter;
using editor::ProseDocumentLayout;
using editor::ProseHighlighter;
using namespace Qt::Literals::StringLiterals;

class ProseDocumentLayoutTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        edit.resize(800, 600);
        std::tie(layout, highlighter) = equip(edit);
    }

    // A view set up as the editor's: the prose layout and the highlighter.
    static std::pair<ProseDocumentLayout *, ProseHighlighter *> equip(QTextEdit &view)
    {
        view.setFrameStyle(0);
        view.document()->setDefaultFont(P::bodyFont());
        auto *viewLayout = new ProseDocumentLayout(view.document());
        view.document()->setDocumentLayout(viewLayout);
        auto *viewHighlighter = new ProseHighlighter(view.document());
        view.show();
        return {viewLayout, viewHighlighter};
    }

    void setText(const QString &text)
    {
        edit.setPlainText(text);
        testsupport::drainPosted();
    }

    QTextBlock block(int number) const { return edit.document()->findBlockByNumber(number); }
    QRectF rectOf(int number) const { return layout->blockBoundingRect(block(number)); }

    QTextEdit edit;
    ProseDocumentLayout *layout = nullptr;
    ProseHighlighter *highlighter = nullptr;
};

TEST_F(ProseDocumentLayoutTest, BlocksTakeTheirMetricsWithoutAnyUndoStep)
{
    setText(u"Lead line\nbody line\n# Heading\n> quoted\n- item"_s);
    EXPECT_EQ(edit.document()->availableUndoSteps(), 0);

    // Qt's line metrics round the face's ascent and descent: within half a pixel.
    EXPECT_NEAR(rectOf(1).height(), 30.6, 0.5);
    // A heading line also holds its dimmed marker in the mono face: its
    // natural height is the line's, times the heading multiple, between the
    // heading's spacing.
    const QTextLine heading = block(2).layout()->lineAt(0);
    EXPECT_NEAR(rectOf(2).height(),
                75 + heading.height() * P::paragraphStyle(P::LineKind::heading1).lineHeightMultiple + 30, 0.01);
    EXPECT_NEAR(heading.height() * P::paragraphStyle(P::LineKind::heading1).lineHeightMultiple, 34.5, 1.5);
    EXPECT_EQ(rectOf(1).top(), rectOf(0).bottom());

    // The quote's lines start 20 in; the column sits centred with its padding.
    const QTextLine quoteLine = block(3).layout()->lineAt(0);
    EXPECT_EQ(quoteLine.x(), 20);
    EXPECT_EQ(layout->columnWidth(), std::min(P::measure(), 800.0) - 48);
    EXPECT_GE(layout->columnLeft(), ProseDocumentLayout::kSidePadding);

    // Folding a block hides it without an undo step and without room.
    block(1).setVisible(false);
    edit.document()->markContentsDirty(block(1).position(), block(1).length());
    EXPECT_EQ(rectOf(1).height(), 0);
    EXPECT_EQ(rectOf(2).top(), rectOf(0).bottom());
    EXPECT_EQ(edit.document()->availableUndoSteps(), 0);
}

TEST_F(ProseDocumentLayoutTest, WrappedListLinesHangUnderTheItemText)
{
    setText(u"- "_s + u"word "_s.repeated(80));
    const QTextLayout *item = block(0).layout();
    ASSERT_GT(item->lineCount(), 1);
    EXPECT_EQ(item->lineAt(0).x(), 0);
    EXPECT_NEAR(item->lineAt(1).x(), P::markerPrefixWidth(u"- "), 0.01);
}

TEST_F(ProseDocumentLayoutTest, CaretMovesAndMouseSelectionUseTheLayout)
{
    setText(u"First paragraph\n\nSecond paragraph that is a little longer\nThird"_s);
    QTextCursor cursor(edit.document());
    cursor.movePosition(QTextCursor::Right, QTextCursor::MoveAnchor, 3);
    edit.setTextCursor(cursor);
    const QRect start = edit.cursorRect();

    QTest::keyClick(&edit, Qt::Key_Down);
    EXPECT_EQ(edit.textCursor().blockNumber(), 1);
    QTest::keyClick(&edit, Qt::Key_Down);
    EXPECT_EQ(edit.textCursor().blockNumber(), 2);
    EXPECT_GT(edit.cursorRect().top(), start.top());
    QTest::keyClick(&edit, Qt::Key_Up);
    QTest::keyClick(&edit, Qt::Key_Up);
    EXPECT_EQ(edit.textCursor().position(), 3);
    EXPECT_EQ(edit.cursorRect(), start);

    // Press in the second paragraph, drag to the third: the selection runs
    // between the positions under the pointer.
    const QRectF second = rectOf(2);
    const QRectF third = rectOf(3);
    const QPoint from = QPointF(second.left() + 2, second.center().y()).toPoint();
    const QPoint to = QPointF(third.left() + 200, third.center().y()).toPoint();
    QTest::mousePress(edit.viewport(), Qt::LeftButton, {}, from);
    QMouseEvent move(QEvent::MouseMove, to, edit.viewport()->mapToGlobal(to), Qt::NoButton, Qt::LeftButton, {});
    QCoreApplication::sendEvent(edit.viewport(), &move);
    QTest::mouseRelease(edit.viewport(), Qt::LeftButton, {}, to);
    const QTextCursor selected = edit.textCursor();
    EXPECT_EQ(selected.selectionStart(), block(2).position());
    EXPECT_EQ(selected.selectionEnd(), block(3).position() + block(3).length() - 1);
    EXPECT_EQ(layout->hitTest(QPointF(second.left() + 2, second.center().y()), Qt::FuzzyHit), block(2).position());
}

TEST_F(ProseDocumentLayoutTest, InsetsAndAnEditLayOutOnlyWhatChanged)
{
    QStringList lines;
    for (int i = 0; i < 300; ++i)
        lines << u"Paragraph %1 with a few words in it."_s.arg(i);
    setText(lines.join(u'\n'));
    const qreal height = layout->documentSize().height();

    layout->setTypewriterInsets(100, 200);
    EXPECT_EQ(rectOf(0).top(), 100);
    EXPECT_NEAR(layout->documentSize().height(), height + 300, 0.01);

    const qreal below = rectOf(200).top();
    QTextCursor cursor(block(150));
    cursor.insertText(u"A much longer start that wraps the paragraph onto a second line of the column, "
                      "and then some more words so that it surely does. "_s);
    EXPECT_LE(layout->lastLaidOutBlocks(), 2);
    EXPECT_GT(rectOf(200).top(), below);
    EXPECT_EQ(rectOf(151).top(), rectOf(150).bottom());
    EXPECT_EQ(edit.document()->availableUndoSteps(), 1);
}

// Typing over a selected line break, or a break over a selected letter,
// replaces as many characters as it removes while the blocks change count.
TEST_F(ProseDocumentLayoutTest, AnEditOfEqualLengthThatAddsOrRemovesBlocksIsLaidOut)
{
    struct Case {
        const char16_t *text;
        int from;
        int to;
        const char16_t *replacement;
    };
    const Case cases[] = {
        {u"One\nTwo\nThree", 3, 4, u"x"},
        {u"One\nTwo\nThree", 5, 6, u"\n"},
        {u"a\nb\nc\nd", 1, 4, u"xyz"},
        {u"- a\n\n- b", 3, 5, u"\n\n\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(QString::fromUtf16(c.text).toStdString());
        setText(QString::fromUtf16(c.text));
        QTextCursor cursor(edit.document());
        cursor.setPosition(c.from);
        cursor.setPosition(c.to, QTextCursor::KeepAnchor);
        cursor.insertText(QString::fromUtf16(c.replacement));
        const QString after = edit.document()->toRawText().replace(QChar::ParagraphSeparator, u'\n');

        QTextEdit fresh;
        fresh.resize(edit.size());
        ProseDocumentLayout *freshLayout = equip(fresh).first;
        fresh.setPlainText(after);
        testsupport::drainPosted();
        for (int i = 0; i < edit.document()->blockCount(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(rectOf(i), freshLayout->blockBoundingRect(fresh.document()->findBlockByNumber(i)));
        }
        EXPECT_EQ(layout->documentSize(), freshLayout->documentSize());
        // A click below the last line lands in the last block.
        const QRectF last = rectOf(edit.document()->blockCount() - 1);
        const int hit = layout->hitTest(QPointF(last.left() + 1, last.bottom() + 5), Qt::FuzzyHit);
        EXPECT_EQ(hit, edit.document()->lastBlock().position());
    }
}

TEST_F(ProseDocumentLayoutTest, ALongTextIsLaidOutAScreenAtATimeToTheSameResult)
{
    QStringList paragraphs;
    for (int i = 0; i < 400; ++i)
        paragraphs << (i % 7 == 0 ? u"## Heading %1"_s.arg(i)
                                  : u"Paragraph %1 "_s.arg(i) + u"words "_s.repeated(i % 40));
    const QString text = paragraphs.join(u"\n\n"_s);
    edit.setPlainText(text);
    // The first screens are laid out; the rest waits for the event loop.
    EXPECT_GT(layout->estimatedBlocks(), 0);
    EXPECT_LT(layout->estimatedBlocks(), edit.document()->blockCount());
    ASSERT_TRUE(testsupport::spinUntil([&] { return layout->estimatedBlocks() == 0; }));

    // The same text with every block asked for in order, so laid out at once.
    QTextEdit other;
    other.resize(edit.size());
    ProseDocumentLayout *otherLayout = equip(other).first;
    other.setPlainText(text);
    for (QTextBlock b = other.document()->begin(); b.isValid(); b = b.next())
        otherLayout->blockBoundingRect(b);
    EXPECT_EQ(otherLayout->estimatedBlocks(), 0);
    for (int i = 0; i < edit.document()->blockCount(); ++i) {
        SCOPED_TRACE(i);
        ASSERT_EQ(rectOf(i), otherLayout->blockBoundingRect(other.document()->findBlockByNumber(i)));
        if (i > 0) {
            ASSERT_EQ(rectOf(i).top(), rectOf(i - 1).bottom());
        }
    }
    EXPECT_EQ(layout->documentSize(), otherLayout->documentSize());

    // A block far down asked for before the chunks reach it is laid out then.
    edit.setPlainText(text);
    const QTextBlock far = edit.document()->lastBlock().previous().previous();
    EXPECT_GT(layout->estimatedBlocks(), 0);
    EXPECT_EQ(rectOf(far.blockNumber()).height(),
              otherLayout->blockBoundingRect(other.document()->findBlockByNumber(far.blockNumber())).height());
    EXPECT_GT(far.layout()->lineCount(), 0);
}

TEST_F(ProseDocumentLayoutTest, AStyledSampleRendersWithTheLayout)
{
    setText(u"The first line of a piece is its lead.\n\n# A heading\n\nBody text with **bold**, *italic*, "
            "`inline code` and a [link](https://example.org).\n\n> A quoted line that is long enough to wrap "
            "onto a second line inside the column, showing its indent.\n\n- an item\n  - a nested item that runs "
            "long enough to wrap under its own text rather than under the marker\n1. numbered\n\n```\nlet code = "
            "true\n```\n\n## Second level\n### Third\n#### Fourth"_s);
    const QString folder = QDir(QStringLiteral(PENNORA_SCREENSHOT_DIR)).absolutePath();
    ASSERT_TRUE(QDir().mkpath(folder));
    edit.resize(800, 1000);
    testsupport::drainPosted();
    EXPECT_TRUE(edit.grab().toImage().save(folder + u"/prose-layout-sample.png"_s));
}

} // namespace
