#include "engine/inlinemarkdown.h"

#include <gtest/gtest.h>

using namespace engine;

namespace {

const QString kOpen = "<span style=\"white-space:pre-wrap\">";
const QString kClose = "</span>";

// The rich text of a reply without its white-space wrapper.
QString shown(const QString &text)
{
    const QString html = InlineMarkdown::html(text);
    EXPECT_TRUE(html.startsWith(kOpen) && html.endsWith(kClose)) << html.toStdString();
    return html.mid(kOpen.size(), html.size() - kOpen.size() - kClose.size());
}

} // namespace

TEST(InlineMarkdown, RendersInlineSyntaxOnly)
{
    struct Case {
        QString text, html;
    };
    const QList<Case> cases{
        {"**bold** and *em*", "<b>bold</b> and <i>em</i>"},
        {"__strong__ _em_", "<b>strong</b> <i>em</i>"},
        {"~~gone~~ ~5 minutes", "<s>gone</s> ~5 minutes"},
        // Nesting.
        {"**bold *italic***", "<b>bold </b><b><i>italic</i></b>"},
        {"***both***", "<b><i>both</i></b>"},
        {"*a **b** c*", "<i>a </i><b><i>b</i></b><i> c</i>"},
        // Unclosed or unflanked markers stay as typed.
        {"**open", "**open"},
        {"*a", "*a"},
        {"**a*", "*<i>a</i>"},
        {"2 * 3 * 4", "2 * 3 * 4"},
        {"snake_case_name", "snake_case_name"},
        {"`tick", "`tick"},
        {"[text](no close", "[text](no close"},
        {"[text] (apart)", "[text] (apart)"},
        // Backslashes.
        {"\\*not em\\*", "*not em*"},
        {"a\\\\b \\a", "a\\b \\a"},
        {"\\`not code`", "`not code`"},
        // Code spans hold markers literally.
        {"`**x**`", "<code>**x**</code>"},
        {"``a ` b``", "<code>a ` b</code>"},
        {"` `` `", "<code>``</code>"},
        {"*a `*` b*", "<i>a </i><i><code>*</code></i><i> b</i>"},
        // Links, with parentheses in the address and marks in the text.
        {"[site](https://a.example/x)", "<a href=\"https://a.example/x\">site</a>"},
        {"[wiki](https://en.wikipedia.org/wiki/Foo_(bar))",
         "<a href=\"https://en.wikipedia.org/wiki/Foo_(bar)\">wiki</a>"},
        {"[**b** c](https://x.example)",
         "<a href=\"https://x.example\"><b>b</b></a><a href=\"https://x.example\"> c</a>"},
        {"[q](https://a.example/?q=\"1\"&r=2)", "<a href=\"https://a.example/?q=&quot;1&quot;&amp;r=2\">q</a>"},
        {"[spaced](https://a.example/x y)", "[spaced](https://a.example/x y)"},
        // HTML-looking text, block syntax and white space are shown as typed.
        {"<b>not bold</b> & <script>", "&lt;b&gt;not bold&lt;/b&gt; &amp; &lt;script&gt;"},
        {"# Heading\n- item\n> quote\n```", "# Heading<br/>- item<br/>&gt; quote<br/>```"},
        {"a  b\n\nc", "a  b<br/><br/>c"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(shown(c.text).toStdString(), c.html.toStdString()) << c.text.toStdString();
}

TEST(InlineMarkdown, DeepNestingAndPlainTextAreEscaped)
{
    const QString deep = QString("*x ").repeated(40) + "y" + QString(" z*").repeated(40);
    const QList<InlineMarkdown::Span> spans = InlineMarkdown::parse(deep);
    ASSERT_EQ(spans.size(), 1);
    EXPECT_EQ(spans[0].text, QString("x ").repeated(40) + "y" + QString(" z").repeated(40));
    EXPECT_EQ(spans[0].styles, InlineMarkdown::Style::emphasis);
    EXPECT_EQ(InlineMarkdown::plainHtml("<i>**\n"), kOpen + "&lt;i&gt;**<br/>" + kClose);
}

TEST(InlineMarkdown, UnclosedMarkersStayLinear)
{
    // Thousands of openers without closers parse (a failed search is not
    // repeated); the text shows as typed.
    const QString text = QString("[a ").repeated(3000) + QString("**b ").repeated(3000) + QString("_c ").repeated(3000);
    const QList<InlineMarkdown::Span> spans = InlineMarkdown::parse(text);
    ASSERT_EQ(spans.size(), 1);
    EXPECT_EQ(spans.first().text, text);
}
