// The editor screen's flip to the rendered page of a 20,000-word piece with
// two embedded images: from the flip until the page has loaded (the render,
// Markdown to HTML with the images, is counted apart), and the flip back to
// the text. The first flip, which starts the web engine, is measured alone.
// The surface is linked in here; the application loads it as a module.
#include "editor/prose/reading/readingsurface.h"
#include "editor/prose/views/posteditorview.h"
#include "synthetichome.h"
#include "testutil.h"
#include "webtestenv.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>
#include <benchmark/benchmark.h>
#include <utility>

namespace {

namespace R = editor::ReadingPresenter;
using editor::PostEditorView;
using editor::ReadingSurface;
using namespace Qt::StringLiterals;

struct Piece {
    QTemporaryDir dir;
    QString text;

    Piece()
    {
        QDir().mkpath(dir.filePath(u"assets"_s));
        QRandomGenerator random(3);
        for (int i = 0; i < 2; ++i) {
            // About 300 KB of PNG each: noise does not compress.
            QImage image(320, 240, QImage::Format_RGB32);
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    image.setPixel(x, y, random.generate());
            image.save(dir.filePath(u"assets/figure-%1.png"_s.arg(i)), "PNG");
        }
        const QStringList words = testsupport::syntheticProse(20000, 5).split(u' ');
        int paragraph = 0;
        for (qsizetype i = 0; i < words.size(); i += 100, ++paragraph) {
            if (paragraph % 20 == 0)
                text += u"## Part %1\n\n"_s.arg(paragraph / 20 + 1);
            text += words.mid(i, 100).join(u' ') + u"\n\n"_s;
            if (paragraph == 40 || paragraph == 140)
                text += u"![figure](assets/figure-%1.png)\n\n"_s.arg(paragraph == 40 ? 0 : 1);
        }
    }
};

struct Screen;
// The one screen of the run.
Screen *made = nullptr;

struct Screen {
    Piece piece;
    QString draft;
    std::unique_ptr<PostEditorView> view;
    qint64 lastRenderMs = 0;
    int edits = 0;

    Screen()
    {
        draft = piece.text;
        PostEditorView::setReadingViewFactory([](QWidget *parent) { return new ReadingSurface(parent); });
        view = std::make_unique<PostEditorView>(PostEditorView::Inputs{.draftText = draft});
        const QString folder = piece.dir.path();
        view->setReadingRunner([folder](QString annotated, std::optional<QString>) {
            // A draft has no folder; the piece's images are found here.
            return R::runRenderer(QStringLiteral(PENNORA_RENDER_BINARY), annotated, folder);
        });
        view->resize(1000, 800);
        view->setAttribute(Qt::WA_DontShowOnScreen);
        view->show();
        QApplication::processEvents();
    }

    // Flips to the page of a changed text; answers the milliseconds until
    // the page has loaded, or -1.
    double flipToReading()
    {
        // A new text each time, so the page is rendered and loaded anew.
        view->draftDidEdit(draft + u"\n\nEdit %1.\n"_s.arg(++edits));
        QElapsedTimer clock;
        clock.start();
        view->toggleReading();
        auto *surface = static_cast<ReadingSurface *>(view->readingView());
        // The page goes before the web engine's own clean-up, which was
        // registered as it started (post routines run last first).
        static const bool cleanedUp = [] {
            qAddPostRoutine([] { delete std::exchange(made, nullptr); });
            return true;
        }();
        Q_UNUSED(cleanedUp);
        QEventLoop loop;
        bool ok = false;
        lastRenderMs = -1;
        QObject::connect(surface, &ReadingSurface::rendered, &loop, [this](qint64 ms) { lastRenderMs = ms; });
        QObject::connect(surface, &ReadingSurface::pageLoaded, &loop, [&](bool loaded) {
            ok = loaded;
            loop.quit();
        });
        QTimer::singleShot(30000, &loop, &QEventLoop::quit);
        loop.exec();
        if (!ok)
            return -1;
        const double ms = double(clock.nsecsElapsed()) / 1e6;
        return ms;
    }

    double flipBack()
    {
        QElapsedTimer clock;
        clock.start();
        view->toggleReading();
        // The text shown and its caret placed.
        QApplication::processEvents();
        return double(clock.nsecsElapsed()) / 1e6;
    }
};

Screen &screen()
{
    if (!made)
        made = new Screen;
    return *made;
}

void BM_FirstFlipStartsTheWebEngine(benchmark::State &state)
{
    double render = 0;
    for (auto _ : state) {
        const double ms = screen().flipToReading();
        if (ms < 0)
            state.SkipWithError("the page did not load");
        state.SetIterationTime(ms / 1000);
        render = double(screen().lastRenderMs);
        screen().flipBack();
    }
    state.counters["render_ms"] = render;
}
BENCHMARK(BM_FirstFlipStartsTheWebEngine)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_FlipToReading(benchmark::State &state)
{
    double render = 0;
    for (auto _ : state) {
        const double ms = screen().flipToReading();
        if (ms < 0)
            state.SkipWithError("the page did not load");
        state.SetIterationTime(ms / 1000);
        render += double(screen().lastRenderMs);
        state.PauseTiming();
        screen().flipBack();
        state.ResumeTiming();
    }
    state.counters["render_ms"] = render / double(state.iterations());
    state.counters["page_chars"] = double(screen().draft.size());
}
BENCHMARK(BM_FlipToReading)->Iterations(10)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_FlipBackToWriting(benchmark::State &state)
{
    for (auto _ : state) {
        state.PauseTiming();
        screen().flipToReading();
        state.ResumeTiming();
        state.SetIterationTime(screen().flipBack() / 1000);
    }
}
BENCHMARK(BM_FlipBackToWriting)->Iterations(10)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace
