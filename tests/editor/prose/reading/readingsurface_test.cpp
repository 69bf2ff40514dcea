// The reading surface through a real web view, offscreen: what the page's
// clicks, scrolling and links do, the entry scroll, the repaint rule, and
// that a piece's own HTML never runs nor reaches the bridge.
#include "editor/prose/reading/readingsurface.h"

#include "capturedlog.h"
#include "screenshot.h"
#include "testutil.h"
#include "webtestenv.h"

#include <QBuffer>
#include <QCoro/QCoroTask>
#include <QEventLoop>
#include <QImage>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineView>
#include <gtest/gtest.h>

namespace {

namespace R = editor::ReadingPresenter;
using editor::ReadingSurface;
using namespace Qt::Literals::StringLiterals;
using namespace std::chrono_literals;

constexpr int kLoadWaitMs = 30000;

// Forty paragraphs of three lines each, blank lines between: block i (from
// 0) starts on line 4i + 1.
QString longPiece()
{
    QString text;
    for (int i = 0; i < 40; ++i) {
        text += u"Paragraph %1 opens here and goes on for a while,\nso that it wraps onto a second line,\n"
                "and a third one closes it.\n\n"_s.arg(i);
    }
    return text;
}

qint64 blockStart(const QString &text, qint64 line)
{
    for (const R::Block &block : R::blocks(text)) {
        if (block.sourceLine == line)
            return block.sourceRange.start;
    }
    return -1;
}

class ReadingSurfaceTest : public ::testing::Test {
public:
    void SetUp() override
    {
        surface = std::make_unique<ReadingSurface>();
        surface->setRunner([](QString annotated, std::optional<QString> folder) {
            return R::runRenderer(QStringLiteral(PENNORA_RENDER_BINARY), annotated, folder);
        });
        surface->setOpener([this](const QUrl &url) { opened.append(url); });
        surface->resize(800, 600);
        surface->setAttribute(Qt::WA_DontShowOnScreen);
        surface->show();
    }

    ReadingSurface::Inputs inputs(const QString &text, std::optional<qint64> entry = std::nullopt,
                                  qint64 generation = 1)
    {
        ReadingSurface::Inputs in;
        in.text = text;
        in.generation = generation;
        in.entryCaretLocation = entry;
        in.onEditIntent = [this](qint64 location) { edits.append(location); };
        in.stateBox = &box;
        return in;
    }

    // Paints text and waits for its page.
    bool show(ReadingSurface::Inputs in, std::optional<QString> folder = std::nullopt)
    {
        in.postFolder = folder;
        QSignalSpy loaded(surface.get(), &ReadingSurface::pageLoaded);
        surface->setInputs(std::move(in));
        return loaded.wait(kLoadWaitMs) && loaded.last().at(0).toBool();
    }

    QVariant js(const QString &script, quint32 world = QWebEngineScript::MainWorld)
    {
        QVariant result;
        bool done = false;
        surface->page()->runJavaScript(script, world, [&](const QVariant &value) {
            result = value;
            done = true;
        });
        EXPECT_TRUE(QTest::qWaitFor([&] { return done; }, 10000)) << script.toStdString();
        return result;
    }

    // A click as a user's hand makes it, at the middle of the first element
    // that selector finds.
    void realClick(const QString &selector, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        const QVariantList box = js(u"(function(){var r=document.querySelector('%1').getBoundingClientRect();"
                                    "return [r.left + r.width / 2, r.top + r.height / 2];})()"_s.arg(selector))
                                     .toList();
        ASSERT_EQ(box.size(), 2) << selector.toStdString();
        QWidget *target = surface->webView()->focusProxy();
        ASSERT_NE(target, nullptr);
        const QPoint at(int(box[0].toDouble()), int(box[1].toDouble()));
        QTest::mouseClick(target, Qt::LeftButton, modifiers, at);
    }

    bool waitForEdits(qsizetype count)
    {
        return QTest::qWaitFor([&] { return edits.size() >= count; }, 10000);
    }

    std::unique_ptr<ReadingSurface> surface;
    editor::ReadingStateBox box;
    QList<qint64> edits;
    QList<QUrl> opened;
};

TEST_F(ReadingSurfaceTest, AClickOnABlockAsksToEditAtItsStart)
{
    const QString text = longPiece();
    ASSERT_TRUE(show(inputs(text)));
    js(u"document.querySelector('[data-source-line=\"5\"]').click()"_s);
    ASSERT_TRUE(waitForEdits(1));
    EXPECT_EQ(edits, QList<qint64>{blockStart(text, 5)});

    // A real click too, on a block further down.
    realClick(u"[data-source-line=\"9\"]"_s);
    ASSERT_TRUE(waitForEdits(2));
    EXPECT_EQ(edits.last(), blockStart(text, 9));
}

TEST_F(ReadingSurfaceTest, OnlyARealCtrlClickOnAWebLinkOpensIt)
{
    const QString text = u"[web](https://example.com/page) and [mail](mailto:me@example.com)\n\n"
                         "[local](file:///etc/hostname) and [app](x-custom-app://open)\n"_s;
    ASSERT_TRUE(show(inputs(text)));

    realClick(u"a[href^=\"https\"]"_s, Qt::ControlModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !opened.isEmpty(); }, 10000));
    EXPECT_EQ(opened, QList<QUrl>{QUrl(u"https://example.com/page"_s)});
    EXPECT_TRUE(edits.isEmpty()) << "a Ctrl+click on a link does not flip";

    // A file link, a custom scheme, and a click the page's script makes:
    // none opens. Each is followed by a plain click that flips, which the
    // page reports after anything the Ctrl+click had sent.
    realClick(u"a[href^=\"file\"]"_s, Qt::ControlModifier);
    realClick(u"a[href^=\"x-custom\"]"_s, Qt::ControlModifier);
    js(u"document.querySelector('a[href^=\"https\"]').dispatchEvent("
       "new MouseEvent('click', {bubbles: true, cancelable: true, ctrlKey: true}))"_s);
    realClick(u"a[href^=\"file\"]"_s);
    ASSERT_TRUE(waitForEdits(1));
    EXPECT_EQ(edits, QList<qint64>{blockStart(text, 3)}) << "a plain click on a link edits its block";
    EXPECT_EQ(opened.size(), 1);

    realClick(u"a[href^=\"mailto\"]"_s, Qt::ControlModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return opened.size() == 2; }, 10000));
    EXPECT_EQ(opened.last(), QUrl(u"mailto:me@example.com"_s));
    EXPECT_EQ(surface->page()->url(), surface->pageURL()) << "the page never navigated";
}

TEST_F(ReadingSurfaceTest, ScrollingReportsTheTopBlock)
{
    const QString text = longPiece();
    ASSERT_TRUE(show(inputs(text)));
    js(u"window.scrollTo(0, document.querySelector('[data-source-line=\"49\"]').offsetTop)"_s);
    ASSERT_TRUE(QTest::qWaitFor([&] { return box.topSourceLocation.has_value(); }, 10000));
    EXPECT_EQ(box.topSourceLocation, blockStart(text, 49));
    js(u"window.scrollTo(0, 0)"_s);
    ASSERT_TRUE(QTest::qWaitFor([&] { return box.topSourceLocation == 0; }, 10000));
}

double topOfLine(ReadingSurfaceTest &test, qint64 line)
{
    return test.js(u"document.querySelector('[data-source-line=\"%1\"]').getBoundingClientRect().top"_s.arg(line))
        .toDouble();
}

TEST_F(ReadingSurfaceTest, EntryScrollPutsTheCaretsBlock24PixelsBelowTheTop)
{
    const QString text = longPiece();
    struct Case {
        std::optional<qint64> caret;
        std::optional<qint64> line; // none: no scroll
    };
    const qint64 inside = blockStart(text, 61) + 10;
    const qint64 onBlank = blockStart(text, 81) - 1; // the separator before line 81
    const Case cases[] = {{inside, 61}, {onBlank, 81}, {text.size(), std::nullopt}, {std::nullopt, std::nullopt}};
    qint64 generation = 1;
    for (const Case &c : cases) {
        ASSERT_TRUE(show(inputs(text, c.caret, generation++)));
        if (c.line) {
            ASSERT_TRUE(QTest::qWaitFor([&] { return std::abs(topOfLine(*this, *c.line) - 24) < 1; }, 5000))
                << "line " << *c.line << " stands at " << topOfLine(*this, *c.line);
        } else {
            QTest::qWait(100);
            EXPECT_EQ(js(u"window.scrollY"_s).toDouble(), 0.0) << c.caret.value_or(-1);
        }
    }
}

TEST_F(ReadingSurfaceTest, TheSameTextAndGenerationPaintOnce)
{
    const QString text = longPiece();
    ASSERT_TRUE(show(inputs(text, blockStart(text, 61))));
    ASSERT_TRUE(QTest::qWaitFor([&] { return std::abs(topOfLine(*this, 61) - 24) < 1; }, 5000));
    const double scrolled = js(u"window.scrollY"_s).toDouble();
    const QUrl page = surface->pageURL();

    // A new entry caret alone neither paints nor moves the page.
    surface->setInputs(inputs(text, blockStart(text, 5)));
    QTest::qWait(200);
    EXPECT_EQ(surface->paints(), 1);
    EXPECT_EQ(surface->pageURL(), page);
    EXPECT_EQ(js(u"window.scrollY"_s).toDouble(), scrolled);

    // A new generation paints again, even for an empty text.
    ASSERT_TRUE(show(inputs(QString(), std::nullopt, 2)));
    EXPECT_EQ(surface->paints(), 2);
}

TEST_F(ReadingSurfaceTest, MessagesThatDoNotFitAreIgnored)
{
    const QString text = u"A\n  \nB\n\nC\n"_s; // line 3: spaces, no block of its own
    ASSERT_TRUE(show(inputs(text)));
    box.topSourceLocation = 12345;
    // Through the bridge itself, in the page script's world.
    js(u"new QWebChannel(qt.webChannelTransport, function (c) { var r = c.objects.reading;"
       "r.post('sourceScroll', 5); r.post('sourceScroll', {line: '5'}); r.post('sourceScroll', '3');"
       "r.post('sourceScroll', 'x5'); r.post('sourceScroll', '99'); r.post('sourceScroll', null);"
       "r.post('sourceClick', 5); r.post('openLink', 5); r.post('openLink', 'file:///etc/hostname');"
       "r.post('other', '5'); r.post('sourceClick', '5'); });"_s,
       QWebEngineScript::ApplicationWorld);
    ASSERT_TRUE(waitForEdits(1));
    EXPECT_EQ(edits, QList<qint64>{8});
    EXPECT_EQ(box.topSourceLocation, 12345);
    EXPECT_TRUE(opened.isEmpty());
}

TEST_F(ReadingSurfaceTest, APiecesOwnHtmlNeverRunsNorReachesTheBridge)
{
    const QString text =
        u"# Title\n\n<script>document.title='x'</script>\n\n"
        "<img src=x onerror=\"document.title='y'\">\n\n<a href=\"#\" onclick=\"document.title='z'\">go</a>\n"_s;
    ASSERT_TRUE(show(inputs(text)));
    QTest::qWait(300);
    EXPECT_TRUE(js(u"document.querySelector('script') !== null"_s).toBool()) << "the script is in the page";
    realClick(u"a[onclick]"_s);
    ASSERT_TRUE(waitForEdits(1));
    EXPECT_EQ(js(u"document.title"_s).toString(), QString());
    EXPECT_EQ(js(u"typeof qt"_s).toString(), u"undefined"_s);
    EXPECT_EQ(js(u"typeof qt"_s, QWebEngineScript::ApplicationWorld).toString(), u"object"_s);
}

TEST_F(ReadingSurfaceTest, NavigationsOtherThanItsOwnPageAreRefused)
{
    ASSERT_TRUE(show(inputs(u"Text\n"_s)));
    const QUrl own = surface->pageURL();
    QSignalSpy refused(surface.get(), &ReadingSurface::navigationRefused);
    // The engine itself stops a page of ours from reaching a file; the web
    // address reaches the surface, which refuses it.
    js(u"location.href = 'file:///etc/hostname'"_s);
    js(u"location.href = 'https://example.com/'"_s);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !refused.isEmpty(); }, 10000));
    EXPECT_EQ(refused.last().at(0).toUrl(), QUrl(u"https://example.com/"_s));
    EXPECT_TRUE(js(u"window.open('https://example.com/') === null"_s).toBool());
    QTest::qWait(200);
    EXPECT_EQ(surface->page()->url(), own);
    EXPECT_EQ(js(u"document.URL"_s).toUrl(), own);
    EXPECT_EQ(js(u"document.body.textContent.trim()"_s).toString(), u"Text"_s);
}

// A piece with an image of several megabytes: the page is well over what
// setHtml can carry, and the embedded image shows.
TEST_F(ReadingSurfaceTest, APageOverTwoMegabytesLoadsWithItsImage)
{
    QTemporaryDir dir;
    QImage noise(1100, 1100, QImage::Format_RGB32);
    QRandomGenerator random(7);
    for (int y = 0; y < noise.height(); ++y) {
        auto *line = reinterpret_cast<quint32 *>(noise.scanLine(y));
        for (int x = 0; x < noise.width(); ++x)
            line[x] = random.generate() | 0xff000000u;
    }
    QDir().mkpath(dir.filePath(u"assets"_s));
    ASSERT_TRUE(noise.save(dir.filePath(u"assets/noise.png"_s), "PNG"));
    ASSERT_TRUE(show(inputs(u"# Big\n\n![noise](assets/noise.png)\n\nAfter\n"_s), dir.path()));
    EXPECT_GT(js(u"document.documentElement.outerHTML.length"_s).toDouble(), 2.0 * 1024 * 1024);
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return js(u"document.querySelector('img').naturalWidth"_s).toInt() == 1100; }, 10000));
    EXPECT_FALSE(surface->rendererFailed());
}

TEST_F(ReadingSurfaceTest, AFailingRendererIsLoggedAndThePlainPageShows)
{
    surface->setRunner([](QString, std::optional<QString>) -> QCoro::Task<R::RunResult> {
        co_return R::RunResult{QString(), u"no renderer found"_s, QString()};
    });
    testsupport::CapturedLog log;
    const QString text = u"# Notes\n\nThe renderer is away; the text shows as it is, <b>tags</b> and all.\n"_s;
    ASSERT_TRUE(show(inputs(text)));
    EXPECT_TRUE(surface->rendererFailed());
    EXPECT_EQ(log.linesOf(u"com.quendalstudio.Pennora.reading"_s).size(), 1u);
    EXPECT_EQ(js(u"document.querySelector('pre').textContent"_s).toString(), text);
    QTest::qWait(200);
    EXPECT_FALSE(testsupport::saveScreenshot(*surface, u"reading-fallback-page"_s, QSize(800, 400)).isEmpty());
}

TEST_F(ReadingSurfaceTest, RenderedPieceScreenshot)
{
    QTemporaryDir dir;
    QImage picture(480, 200, QImage::Format_RGB32);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            picture.setPixel(x, y, qRgb(120 + x / 6, 150 + y / 4, 200 - x / 8));
    QDir().mkpath(dir.filePath(u"assets"_s));
    ASSERT_TRUE(picture.save(dir.filePath(u"assets/sky.png"_s), "PNG"));
    const QString text =
        u"# A Walk at Dusk\n\nThe light went *slowly*, then all at once. A [link](https://example.com).\n\n"
        "## What I carried\n\n- a notebook\n- two pencils\n  - one blunt\n- the map\n\n"
        "> Walk until the path runs out, then walk a little more.\n\n"
        "```\nlet steps = 10_000;\nwhile steps > 0 { steps -= 1; }\n```\n\n"
        "![The sky at dusk](assets/sky.png)\n\nAnd home again.\n"_s;
    surface->resize(800, 1000);
    ASSERT_TRUE(show(inputs(text), dir.path()));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return js(u"document.querySelector('img').naturalWidth"_s).toInt() == 480; }, 10000));
    QTest::qWait(300);
    EXPECT_FALSE(testsupport::saveScreenshot(*surface, u"reading-rendered-piece"_s, QSize(800, 1000)).isEmpty());
}

} // namespace
