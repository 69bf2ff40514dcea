#include "editor/prose/readingcoordinator.h"

#include <QJsonValue>
#include <gtest/gtest.h>

namespace {

using editor::ReadingCoordinator;
namespace Page = editor::ReadingPage;
using Effect = ReadingCoordinator::Effect;
using namespace Qt::Literals::StringLiterals;

TEST(ReadingPageRules, OnlyTheViewsOwnPageLoadsInTheMainFrame)
{
    const QUrl own(u"pennora-reading:page-3"_s);
    struct Case {
        QString url;
        bool mainFrame;
        bool allowed;
    } cases[] = {
        {u"pennora-reading:page-3"_s, true, true},  {u"pennora-reading:page-3"_s, false, false},
        {u"pennora-reading:page-2"_s, true, false}, {u"about:blank"_s, true, false},
        {u"file:///etc/passwd"_s, true, false},     {u"https://example.com/"_s, true, false},
        {u"data:text/html,<p>x"_s, true, false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(Page::allowsNavigation(QUrl(c.url), c.mainFrame, own), c.allowed) << c.url.toStdString();
    // Before any page was made nothing loads.
    EXPECT_FALSE(Page::allowsNavigation(QUrl(), true, QUrl()));
}

TEST(ReadingPageRules, LinksOpenOnTheWebsSchemesOnly)
{
    const std::pair<QString, bool> cases[] = {
        {u"https://example.com/a?b#c"_s, true},
        {u"http://example.com"_s, true},
        {u"mailto:me@example.com"_s, true},
        {u"HTTPS://example.com"_s, true},
        {u"file:///home/me/notes.md"_s, false},
        {u"pennora-reading:page-1"_s, false},
        {u"javascript:alert(1)"_s, false},
        {u"x-custom-app://open"_s, false},
        {u"ftp://example.com"_s, false},
        {u"https://"_s, false},
        {u"mailto:"_s, false},
        {QString(), false},
    };
    for (const auto &[url, opens] : cases)
        EXPECT_EQ(Page::opensLink(QUrl(url)), opens) << url.toStdString();
}

TEST(ReadingPageRules, LineNumbersAreASignAndDigitsOnly)
{
    EXPECT_EQ(Page::parseLine(u"5"), 5);
    EXPECT_EQ(Page::parseLine(u"+12"), 12);
    EXPECT_EQ(Page::parseLine(u"-3"), -3);
    for (const QString &bad : {u""_s, u"+"_s, u"5a"_s, u" 5"_s, u"5.0"_s, u"0x5"_s, u"99999999999999999999"_s})
        EXPECT_EQ(Page::parseLine(bad), std::nullopt) << bad.toStdString();
}

TEST(ReadingPageRules, EntryScrollScriptNamesItsLine)
{
    const QString script = Page::entryScrollScript(17);
    EXPECT_TRUE(script.startsWith(u"(function(line){"_s));
    EXPECT_TRUE(script.endsWith(u"})(17);"_s));
    EXPECT_TRUE(script.contains(u"- 24"_s));
}

// "A\n\n\nB\n\nC" has blocks at lines 1 (0+1), 4 (4+1) and 6 (7+1).
const QString kThreeBlocks = u"A\n\n\nB\n\nC\n\n"_s;

TEST(ReadingCoordinatorTest, CaretGoesToItsBlockOrTheNextAndNoneAfterTheLast)
{
    const auto blocks = editor::ReadingPresenter::blocks(kThreeBlocks);
    ASSERT_EQ(blocks.size(), 3);
    const std::pair<std::optional<qint64>, std::optional<qint64>> cases[] = {
        {0, 1}, {1, 4}, // the line feed after A, on the way to B
        {2, 4}, {4, 4}, {5, 6}, {7, 6}, {8, std::nullopt}, {10, std::nullopt}, {std::nullopt, std::nullopt},
    };
    for (const auto &[caret, line] : cases)
        EXPECT_EQ(ReadingCoordinator::sourceLineForCaret(blocks, caret), line) << caret.value_or(-1);
    EXPECT_EQ(ReadingCoordinator::sourceLineForCaret({}, 0), std::nullopt);
}

TEST(ReadingCoordinatorTest, PaintsOnceForTheSameKeyAndScrollsOncePerPaint)
{
    ReadingCoordinator coordinator;
    // Any text, the empty one too, differs from nothing painted yet.
    EXPECT_TRUE(coordinator.needsPaint(0, QString()));
    coordinator.beginPaint(3, kThreeBlocks, 5);
    EXPECT_FALSE(coordinator.needsPaint(3, kThreeBlocks));
    EXPECT_TRUE(coordinator.needsPaint(4, kThreeBlocks));
    EXPECT_TRUE(coordinator.needsPaint(3, kThreeBlocks + u"D"_s));
    EXPECT_FALSE(coordinator.painted());

    EXPECT_EQ(coordinator.loadFinished(), 6);
    EXPECT_TRUE(coordinator.painted());
    EXPECT_EQ(coordinator.loadFinished(), std::nullopt) << "later loads of the same paint do not scroll";

    coordinator.beginPaint(4, kThreeBlocks, std::nullopt);
    EXPECT_EQ(coordinator.loadFinished(), std::nullopt);
}

TEST(ReadingCoordinatorTest, MessagesMapLinesToBlockStartsAndIgnoreWhatDoesNotFit)
{
    ReadingCoordinator coordinator;
    // Line 3 is a line of spaces: a marker goes there, but no block starts.
    coordinator.beginPaint(1, u"A\n  \nB\n\nC"_s, std::nullopt);
    EXPECT_EQ(coordinator.message(u"sourceClick"_s, u"5"_s), (Effect{Effect::Kind::editAt, 8, {}}));
    EXPECT_EQ(coordinator.message(u"sourceScroll"_s, u"+5"_s), (Effect{Effect::Kind::topAt, 8, {}}));
    EXPECT_EQ(coordinator.message(u"sourceClick"_s, u"1"_s), (Effect{Effect::Kind::editAt, 0, {}}));
    const std::pair<QString, QJsonValue> ignored[] = {
        {u"sourceScroll"_s, u"3"_s},
        {u"sourceScroll"_s, u"99"_s},
        {u"sourceClick"_s, u"x"_s},
        {u"sourceClick"_s, 5},
        {u"sourceScroll"_s, QJsonValue()},
        {u"sourceClick"_s, u""_s},
        {u"somethingElse"_s, u"5"_s},
        {u"openLink"_s, 5},
        {u"openLink"_s, u"file:///etc/hosts"_s},
        {u"openLink"_s, u"pennora-reading:page-1"_s},
    };
    for (const auto &[name, body] : ignored)
        EXPECT_EQ(coordinator.message(name, body), Effect{}) << name.toStdString();
    EXPECT_EQ(coordinator.message(u"openLink"_s, u"https://example.com/x"_s),
              (Effect{Effect::Kind::open, 0, QUrl(u"https://example.com/x"_s)}));
}

TEST(ReadingPages, ThePolicyComesFirstInTheHeadOfEveryPage)
{
    namespace R = editor::ReadingPresenter;
    const QString policy = u"<head><meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
                           "style-src 'unsafe-inline'; img-src data:\">"_s;
    for (const QString &page : {R::page(u"<!--S:1-->\n<p>x</p>\n"_s), R::fallbackPage(u"<script>x</script>"_s)}) {
        EXPECT_TRUE(page.startsWith(u"<!DOCTYPE html><html>"_s + policy)) << page.left(200).toStdString();
        EXPECT_EQ(page.count(u"<head>"_s), 1);
    }
}

} // namespace
