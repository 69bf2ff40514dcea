#include "editor/prose/prosehighlighter.h"

#include "editor/prose/prosestyle.h"
#include "testutil.h"

#include <QDir>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QTextLayout>
#include <gtest/gtest.h>

namespace {

namespace P = editor::ProsePresenter;
using editor::ProseHighlighter;
using namespace Qt::Literals::StringLiterals;

// The format the highlighter put at offset in block, or none.
std::optional<QTextCharFormat> formatAt(const QTextBlock &block, int offset)
{
    for (const QTextLayout::FormatRange &range : block.layout()->formats()) {
        if (offset >= range.start && offset < range.start + range.length)
            return range.format;
    }
    return std::nullopt;
}

QColor inkAt(const QTextBlock &block, int offset)
{
    const auto format = formatAt(block, offset);
    return format ? format->foreground().color() : QColor();
}

int pixelSizeAt(const QTextBlock &block, int offset)
{
    const auto format = formatAt(block, offset);
    return format ? format->font().pixelSize() : -1;
}

class ProseHighlighterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // A document reports edits to its highlighter only once it has a
        // layout, as every document shown in a view has.
        document.documentLayout();
    }

    void insertAt(int blockNumber, int column, const QString &text)
    {
        QTextCursor cursor(document.findBlockByNumber(blockNumber));
        cursor.movePosition(QTextCursor::Right, QTextCursor::MoveAnchor, column);
        cursor.insertText(text);
    }

    QTextDocument document;
};

TEST_F(ProseHighlighterTest, StylesBlocksWithoutTouchingTheUndoStack)
{
    document.setPlainText(u"Lead line\n# Title\n- item `code`\n```\n# inside\n```"_s);
    ProseHighlighter highlighter(&document);
    testsupport::drainPosted(); // the first full pass is queued
    EXPECT_EQ(document.availableUndoSteps(), 0);

    const QTextBlock lead = document.findBlockByNumber(0);
    EXPECT_EQ(pixelSizeAt(lead, 0), 22);
    const QTextBlock title = document.findBlockByNumber(1);
    EXPECT_EQ(inkAt(title, 0), P::markerGrey());
    EXPECT_EQ(pixelSizeAt(title, 2), 30);
    const QTextBlock item = document.findBlockByNumber(2);
    EXPECT_EQ(inkAt(item, 0), P::listMarkerGrey());
    EXPECT_EQ(pixelSizeAt(item, 0), 13);
    EXPECT_EQ(formatAt(item, 8)->font().family(), P::monoFont().family());
    const QTextBlock inside = document.findBlockByNumber(4);
    EXPECT_EQ(inkAt(inside, 0), P::textColour());
    EXPECT_EQ(formatAt(inside, 0)->background().color(), P::codeBackground());

    // The typed character is one undo step; its restyle adds none.
    insertAt(0, 0, u"x"_s);
    EXPECT_EQ(document.availableUndoSteps(), 1);
    document.undo();
    EXPECT_EQ(document.toPlainText().left(4), u"Lead"_s);
    EXPECT_EQ(document.availableUndoSteps(), 0);
}

TEST_F(ProseHighlighterTest, AnEditRestylesOnlyUntilTheBlockStateSettles)
{
    QStringList lines;
    for (int i = 0; i < 400; ++i)
        lines << u"Body line %1 with *some* text"_s.arg(i);
    document.setPlainText(lines.join(u'\n'));
    ProseHighlighter highlighter(&document);
    testsupport::drainPosted();

    highlighter.resetHighlightedBlocks();
    insertAt(200, 3, u"x"_s);
    EXPECT_EQ(highlighter.highlightedBlocks(), 1);

    // An opening fence turns everything after it into code...
    highlighter.resetHighlightedBlocks();
    insertAt(100, 0, u"```\n"_s);
    EXPECT_GE(highlighter.highlightedBlocks(), 300);
    EXPECT_EQ(formatAt(document.findBlockByNumber(300), 0)->background().color(), P::codeBackground());

    // ...a keystroke inside the code restyles its own block...
    highlighter.resetHighlightedBlocks();
    insertAt(250, 0, u"y"_s);
    EXPECT_EQ(highlighter.highlightedBlocks(), 1);

    // ...and a closing fence restyles down to the end, back to prose.
    highlighter.resetHighlightedBlocks();
    insertAt(150, 0, u"~~~\n"_s);
    EXPECT_GE(highlighter.highlightedBlocks(), 250);
    EXPECT_FALSE(formatAt(document.findBlockByNumber(300), 0)->hasProperty(QTextFormat::BackgroundBrush));

    // A multi-line paste restyles each of its lines.
    highlighter.resetHighlightedBlocks();
    insertAt(350, 0, u"# a\n# b\n# c\n"_s);
    EXPECT_GE(highlighter.highlightedBlocks(), 4);
    EXPECT_LE(highlighter.highlightedBlocks(), 5);
    for (int b = 350; b < 353; ++b)
        EXPECT_EQ(pixelSizeAt(document.findBlockByNumber(b), 2), 30) << b;
}

TEST_F(ProseHighlighterTest, TheLeadMovesWhenContentAppearsBeforeIt)
{
    document.setPlainText(u"\nFirst\nSecond"_s);
    ProseHighlighter highlighter(&document);
    testsupport::drainPosted();
    EXPECT_EQ(pixelSizeAt(document.findBlockByNumber(1), 0), 22);

    insertAt(0, 0, u"# Heading"_s);
    EXPECT_EQ(pixelSizeAt(document.findBlockByNumber(1), 0), 17);
    insertAt(0, 0, u"Now "_s);
    EXPECT_EQ(pixelSizeAt(document.findBlockByNumber(0), 0), 22);
    EXPECT_EQ(pixelSizeAt(document.findBlockByNumber(1), 0), 17);

    const P::StyledBlock styled = highlighter.styledBlock(document.findBlockByNumber(0));
    ASSERT_EQ(styled.lines.size(), 1);
    EXPECT_TRUE(styled.lines[0].lead);
}

// A styled sample in an offscreen text edit, written for a reviewer to look at.
TEST_F(ProseHighlighterTest, AStyledSampleRendersOffscreen)
{
    QTextEdit edit;
    edit.resize(760, 900);
    edit.document()->setDefaultFont(P::bodyFont());
    edit.setPlainText(
        u"The first line of a piece is its lead.\n\n# A heading\n\nBody text with **bold**, *italic*, _also italic_, "
        "`inline code` and a [link](https://example.org).\n\n> A quoted line, > > nested.\n\n- an item\n  - a nested "
        "item that runs long enough to wrap under its own text rather than under the marker\n1. numbered\n\n"
        "```\nlet code = true\n```\n\n---\n## Second level\n### Third\n#### Fourth"_s);
    ProseHighlighter highlighter(edit.document());
    testsupport::drainPosted();
    EXPECT_EQ(edit.document()->availableUndoSteps(), 0);

    const QString folder = QDir(QStringLiteral(PENNORA_SCREENSHOT_DIR)).absolutePath();
    ASSERT_TRUE(QDir().mkpath(folder));
    const QImage image = edit.grab().toImage();
    ASSERT_FALSE(image.isNull());
    EXPECT_TRUE(image.save(folder + u"/prose-styled-sample.png"_s));
}

} // namespace
