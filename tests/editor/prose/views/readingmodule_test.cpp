// The editor screen's reading view comes from the web surface module, loaded
// with the first page as in the application (nothing of it is linked here).
#include "editor/prose/views/readingview.h"

#include "capturedlog.h"
#include "webtestenv.h"

#include <QWidget>
#include <gtest/gtest.h>

namespace {

using namespace Qt::Literals::StringLiterals;

TEST(ReadingModule, LoadsOnceAndMakesTheWebSurface)
{
    QWidget parent;
    {
        testsupport::CapturedLog log;
        EXPECT_EQ(editor::loadReadingView(&parent, {u"/nonexistent"_s}), nullptr);
        EXPECT_EQ(log.linesOf(u"com.quendalstudio.Pennora.reading"_s).size(), 1u);
    }
    editor::ReadingView *view = editor::loadReadingView(&parent, {QStringLiteral(PENNORA_READING_MODULE_DIR)});
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->parentWidget(), &parent);
    bool webView = false;
    for (QWidget *child : view->findChildren<QWidget *>())
        webView = webView || QLatin1String(child->metaObject()->className()) == "QWebEngineView";
    EXPECT_TRUE(webView);
    // Loaded once: later views come from the same module.
    EXPECT_NE(editor::loadReadingView(&parent), nullptr);
    delete view;
}

} // namespace
