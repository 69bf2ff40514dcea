// The outline editor's view on an outline of 5,000 nodes (depth up to 6, one
// node with 2,000 descendants, another with 500): from the text to the first
// paint, a keystroke in a row to its paint, Tab on the node with 500
// descendants to its paint, and every frame of a drag over the whole list.
// Counters p95ms and maxMs are in milliseconds.
#include "editor/outline/views/outlineeditorview.h"
#include "editor/outline/views/rowtextview.h"

#include "outlinebenchtext.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QListView>
#include <QScrollBar>
#include <benchmark/benchmark.h>

#include <algorithm>

namespace {

using editor::outline::OutlineEditorView;
using namespace Qt::StringLiterals;

constexpr int kNodes = 5000;

QString outlineText()
{
    return bench::longOutline(kNodes, true, true);
}

double percentile95(QList<double> samples)
{
    std::sort(samples.begin(), samples.end());
    return samples.isEmpty() ? 0 : samples[qsizetype(double(samples.size() - 1) * 0.95)];
}

std::unique_ptr<OutlineEditorView> shownView(const QString &text)
{
    OutlineEditorView::Inputs inputs;
    inputs.draftText = text;
    inputs.onDraftEdit = [](const QString &) {};
    auto view = std::make_unique<OutlineEditorView>(std::move(inputs));
    view->resize(900, 800);
    view->show();
    view->repaint();
    return view;
}

QUuid idOf(const OutlineEditorView &view, const QString &text)
{
    for (const auto &row : view.state().visibleRows())
        if (row.text == text)
            return row.id;
    return {};
}

void key(QWidget *to, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier, const QString &text = {})
{
    QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
    QApplication::sendEvent(to, &press);
}

void BM_OpenToFirstPaint(benchmark::State &state)
{
    const QString text = outlineText();
    double built = 0;
    QElapsedTimer timer;
    for (auto _ : state) {
        timer.start();
        OutlineEditorView::Inputs inputs;
        inputs.draftText = text;
        auto view = std::make_unique<OutlineEditorView>(std::move(inputs));
        built += double(timer.nsecsElapsed()) / 1e6;
        view->resize(900, 800);
        view->show();
        view->repaint();
        benchmark::DoNotOptimize(view->state().visibleRows().size());
        state.PauseTiming();
        view.reset();
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
    // Of which the text read, the tree built and the rows laid out.
    state.counters["builtMs"] = built / double(state.iterations());
}
BENCHMARK(BM_OpenToFirstPaint)->Unit(benchmark::kMillisecond);

// A letter typed in a row halfway down, to the paint of the list.
void BM_KeystrokeToPaint(benchmark::State &state)
{
    auto view = shownView(outlineText());
    view->state().focusRow(idOf(*view, u"node 1200 with some ordinary words in it"_s));
    view->refresh();
    QCoreApplication::processEvents();
    QList<double> samples;
    QElapsedTimer timer;
    for (auto _ : state) {
        timer.start();
        key(view->rowEditor(), Qt::Key_A, Qt::NoModifier, u"a"_s);
        view->listView()->viewport()->repaint();
        const double seconds = double(timer.nsecsElapsed()) / 1e9;
        samples.append(seconds * 1000);
        state.SetIterationTime(seconds);
    }
    state.counters["p95ms"] = percentile95(samples);
}
BENCHMARK(BM_KeystrokeToPaint)->UseManualTime()->Iterations(300)->Unit(benchmark::kMillisecond);

// Tab and Shift+Tab in turn on the row with 500 descendants, each to its
// paint.
void BM_TabOnFiveHundredDescendants(benchmark::State &state)
{
    auto view = shownView(outlineText());
    view->state().focusRow(idOf(*view, u"five hundred"_s));
    view->refresh();
    QCoreApplication::processEvents();
    QList<double> samples;
    QElapsedTimer timer;
    bool indent = true;
    for (auto _ : state) {
        timer.start();
        key(view->rowEditor(), indent ? Qt::Key_Tab : Qt::Key_Backtab, indent ? Qt::NoModifier : Qt::ShiftModifier);
        view->listView()->viewport()->repaint();
        const double seconds = double(timer.nsecsElapsed()) / 1e9;
        samples.append(seconds * 1000);
        state.SetIterationTime(seconds);
        indent = !indent;
    }
    state.counters["p95ms"] = percentile95(samples);
}
BENCHMARK(BM_TabOnFiveHundredDescendants)->UseManualTime()->Iterations(100)->Unit(benchmark::kMillisecond);

// A drag from the first row's grip down the whole list, scrolling as it
// goes, one frame per pointer move; maxMs is the slowest frame.
void BM_DragFrame(benchmark::State &state)
{
    auto view = shownView(outlineText());
    QWidget *viewport = view->listView()->viewport();
    const auto first = view->partsOf(view->state().visibleRows().first().id);
    QList<double> samples;
    QElapsedTimer timer;
    for (auto _ : state) {
        state.PauseTiming();
        view->listView()->verticalScrollBar()->setValue(0);
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(first->grip.center()), QPointF(), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &press);
        state.ResumeTiming();
        QScrollBar *bar = view->listView()->verticalScrollBar();
        int frames = 0;
        // Held below the bottom edge, the list scrolls on with every move.
        while (bar->value() < bar->maximum() && frames < 2500) {
            timer.start();
            const QPointF at(200, viewport->height() + 60 - (frames % 2));
            QMouseEvent move(QEvent::MouseMove, at, QPointF(), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(viewport, &move);
            viewport->repaint();
            samples.append(double(timer.nsecsElapsed()) / 1e6);
            ++frames;
        }
        state.PauseTiming();
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(view->rowEditor() ? static_cast<QWidget *>(view->rowEditor()) : viewport, &escape);
        QMouseEvent release(QEvent::MouseButtonRelease, QPointF(200, 10), QPointF(), Qt::LeftButton, Qt::NoButton,
                            Qt::NoModifier);
        QApplication::sendEvent(viewport, &release);
        state.counters["frames"] = frames;
        state.ResumeTiming();
    }
    state.counters["p95ms"] = percentile95(samples);
    state.counters["maxMs"] = samples.isEmpty() ? 0 : *std::max_element(samples.begin(), samples.end());
}
BENCHMARK(BM_DragFrame)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
