// The prose styling on a 100,000-word Markdown text: every line classified and
// styled, the paragraph restyle of a keystroke in the middle (with the fence
// state before it), a keystroke through the highlighter of a document, and the
// inline passes on pathological lines; and the editor screen over a piece of
// that text: opening it, and keys until painted; and list folds: folding a
// long item, and typing with folds present.
#include "editor/prose/prosehighlighter.h"
#include "editor/prose/proselist.h"
#include "editor/prose/prosepresenter.h"
#include "stallmeter.h"
#include "synthetichome.h"

#include "editor/prose/prosedocumentlayout.h"
#include "editor/prose/views/posteditorview.h"
#include "editor/prose/views/proselisttextview.h"
#include "editor/prose/views/prosetextview.h"
#include "model/editorsession.h"
#include "testutil.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <benchmark/benchmark.h>

#include <algorithm>

namespace {

namespace P = editor::ProsePresenter;
using namespace Qt::StringLiterals;

// Synthetic prose made into Markdown: headings, lists, quotes, code blocks and
// inline markup among the paragraphs.
QString markdownText(int words)
{
    const QStringList paragraphs = testsupport::syntheticProse(words, 11).split(u"\n\n"_s, Qt::SkipEmptyParts);
    QStringList out;
    int n = 0;
    for (QString p : paragraphs) {
        p = p.trimmed();
        switch (n++ % 12) {
        case 0: out << u"## "_s + p.section(u' ', 0, 5); break;
        case 3:
            for (const QString &item : p.split(u". "_s, Qt::SkipEmptyParts))
                out << u"- "_s + item;
            break;
        case 5: out << u"> "_s + p; break;
        case 7: out << u"```"_s << p.section(u' ', 0, 9) << u"```"_s; break;
        default:
            p.replace(u" the "_s, u" **the** "_s).replace(u" a "_s, u" *a* "_s).replace(u" of "_s, u" `of` "_s);
            p.replace(u" and "_s, u" [and](https://example.org) "_s);
            out << p;
        }
        out << QString();
    }
    return out.join(u'\n');
}

const QString &bigText()
{
    static const QString text = markdownText(100000);
    return text;
}

// The same prose whose lists nest: each list's first item is a parent of the
// items after it.
QString nestedListText(int words)
{
    QStringList lines = markdownText(words).split(u'\n');
    bool inList = false;
    for (QString &line : lines) {
        const bool item = line.startsWith(u"- "_s);
        if (item && inList)
            line.prepend(u"  "_s);
        inList = item;
    }
    return lines.join(u'\n');
}

const QString &nestedText()
{
    static const QString text = nestedListText(100000);
    return text;
}

// The 100,000 words with, in the middle, an item of 2,000 nested lines.
const QString &longItemText()
{
    static const QString text = [] {
        QString out = bigText();
        QString item = u"- The long list\n"_s;
        for (int i = 0; i < 2000; ++i)
            item += u"  - entry %1 of the long list\n"_s.arg(i);
        out.insert(out.indexOf(u"\n\n"_s, out.size() / 2) + 2, item + u"\n"_s);
        return out;
    }();
    return text;
}

double percentile95(QList<double> samples)
{
    std::sort(samples.begin(), samples.end());
    return samples.isEmpty() ? 0 : samples[qsizetype(double(samples.size() - 1) * 0.95)];
}

// Runs step once per iteration, timed by hand; answers each time in ms.
template<typename Step>
QList<double> timeEach(benchmark::State &state, Step step)
{
    QList<double> samples;
    QElapsedTimer timer;
    for (auto _ : state) {
        timer.start();
        step();
        const double seconds = double(timer.nsecsElapsed()) / 1e9;
        samples.append(seconds * 1000);
        state.SetIterationTime(seconds);
    }
    return samples;
}

void BM_StyleWholeText(benchmark::State &state)
{
    const QString &text = bigText();
    for (auto _ : state) {
        const QList<P::StyledLine> lines = P::style(text, 0, text.size());
        benchmark::DoNotOptimize(lines.size());
    }
    state.counters["lines"] = double(P::lineSplit(text, 0, text.size()).size());
    state.counters["kB"] = double(text.size() * 2 / 1024);
}
BENCHMARK(BM_StyleWholeText)->Unit(benchmark::kMillisecond);

void BM_ScanListLines(benchmark::State &state)
{
    const QString &text = bigText();
    for (auto _ : state)
        benchmark::DoNotOptimize(editor::ProseList::scanLines(text).size());
}
BENCHMARK(BM_ScanListLines)->Unit(benchmark::kMillisecond);

// The fold hints of a 200,000-word text whose lists nest: what the chrome
// recomputes after a change.
void BM_ParentHints(benchmark::State &state)
{
    const QString text = nestedListText(int(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(editor::ProseList::parentHints(text).size());
}
BENCHMARK(BM_ParentHints)->Arg(100000)->Arg(200000)->Unit(benchmark::kMillisecond);

// A keystroke's restyle as the text views do it: the paragraph at the caret,
// after the fence state before it.
void BM_ParagraphRestyleMiddle(benchmark::State &state)
{
    const QString &text = bigText();
    const qsizetype middle = text.indexOf(u"\n\n"_s, text.size() / 2) + 2;
    const qsizetype end = text.indexOf(u'\n', middle);
    for (auto _ : state)
        benchmark::DoNotOptimize(P::style(text, middle, end - middle).size());
}
BENCHMARK(BM_ParagraphRestyleMiddle)->Unit(benchmark::kMicrosecond);

// A keystroke in the middle of the document and its removal: the document's
// edit, the highlighter and Qt's own document layout (no view).
void BM_HighlighterKeystrokeMiddle(benchmark::State &state)
{
    QTextDocument document;
    document.setPlainText(bigText());
    document.documentLayout();
    editor::ProseHighlighter highlighter(&document);
    highlighter.rehighlight();
    highlighter.resetHighlightedBlocks();
    const int middle = document.blockCount() / 2;
    QTextCursor cursor(document.findBlockByNumber(middle));
    for (auto _ : state) {
        cursor.insertText(u"x"_s);
        cursor.deletePreviousChar();
    }
    state.counters["blocks/edit"] = double(highlighter.highlightedBlocks()) / double(2 * state.iterations());
}
BENCHMARK(BM_HighlighterKeystrokeMiddle)->Unit(benchmark::kMicrosecond);

// 200,000 units of Markdown punctuation on one line.
void BM_PathologicalLine(benchmark::State &state)
{
    const QString unit = state.range(0) == 0 ? u"["_s : u"*_`[]("_s;
    const QString line = unit.repeated(200000 / unit.size());
    for (auto _ : state)
        benchmark::DoNotOptimize(P::style(line, 0, line.size()).size());
}
BENCHMARK(BM_PathologicalLine)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// A typed character in the middle of the text until the view has painted it:
// the edit, the restyle, the layout and a synchronous paint of the viewport.
// Arg 0: Qt's own document layout (character styling only); 1: the prose
// layout with the block metrics. The counter p95 is in milliseconds.
void BM_KeystrokeToPaint(benchmark::State &state)
{
    QTextEdit edit;
    edit.resize(900, 800);
    edit.document()->setDefaultFont(editor::ProsePresenter::bodyFont());
    if (state.range(0) == 1) {
        auto *layout = new editor::ProseDocumentLayout(edit.document());
        edit.document()->setDocumentLayout(layout);
        layout->setTypewriterInsets(400, 400);
    }
    new editor::ProseHighlighter(edit.document());
    QElapsedTimer load;
    load.start();
    edit.setPlainText(bigText());
    edit.show();
    QCoreApplication::processEvents();
    const double loadMs = double(load.elapsed());
    QTextCursor cursor(edit.document()->findBlockByNumber(edit.document()->blockCount() / 2));
    cursor.movePosition(QTextCursor::EndOfBlock);
    edit.setTextCursor(cursor);
    edit.ensureCursorVisible();
    edit.viewport()->repaint();

    const QList<double> samples = timeEach(state, [&] {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, u"a"_s);
        QCoreApplication::sendEvent(&edit, &press);
        edit.viewport()->repaint();
    });
    state.counters["p95ms"] = percentile95(samples);
    state.counters["loadMs"] = loadMs;
    state.counters["undoSteps"] = edit.document()->availableUndoSteps();
}
BENCHMARK(BM_KeystrokeToPaint)->Arg(0)->Arg(1)->UseManualTime()->Iterations(300)->Unit(benchmark::kMillisecond);

// The editor screen on a piece of 100,000 words (about 1 MB) in a Home.
struct EditorOnPiece {
    explicit EditorOnPiece(const QString &body = bigText())
    {
        testsupport::writeFile(dir.path() + "/Home/projects/Essays/big/post.md",
                               "---\ntype: post\n---\n" + body.toUtf8());
    }
    std::unique_ptr<model::EditorSession> open() const
    {
        return std::make_unique<model::EditorSession>(model::SessionTarget::post(u"big"_s, dir.path() + "/Home"),
                                                      std::chrono::seconds(3600));
    }
    QTemporaryDir dir;
};

// From reading the piece to the first paint of the editor screen. Arg: the
// words of the piece, whose lists nest (so the fold chrome has chevrons to
// lay out). The counter afterPaintStallMs is the longest the event loop went
// unturned while the layout and the chrome finished after the first paint.
void BM_OpenPieceToFirstPaint(benchmark::State &state)
{
    const EditorOnPiece home(nestedListText(int(state.range(0))));
    double stall = 0;
    for (auto _ : state) {
        auto session = home.open();
        editor::PostEditorView view({.session = session.get()});
        view.resize(900, 800);
        view.show();
        view.repaint();
        benchmark::DoNotOptimize(view.proseTextView()->textView()->document()->blockCount());
        state.PauseTiming();
        bench::StallMeter meter;
        meter.start();
        const editor::ProseDocumentLayout *layout = view.proseTextView()->documentLayout();
        QElapsedTimer waited;
        waited.start();
        while ((layout->estimatedBlocks() > 0 || waited.elapsed() < 50) && waited.elapsed() < 10000)
            QCoreApplication::processEvents();
        meter.stop();
        stall = std::max(stall, meter.longestMs());
        state.counters["chevrons"] = double(view.proseTextView()->textView()->chromeHints().size());
        state.ResumeTiming();
    }
    state.counters["afterPaintStallMs"] = stall;
}
BENCHMARK(BM_OpenPieceToFirstPaint)->Arg(100000)->Arg(200000)->Unit(benchmark::kMillisecond);

// A key in the middle of the piece until the screen has painted it, through
// the session. Arg 0: a letter in a paragraph; 1: Return in a paragraph; 2:
// Tab and Shift+Tab in turn on a list line. The counter p95 is in ms.
void BM_EditorKeyToPaint(benchmark::State &state)
{
    const EditorOnPiece home;
    auto session = home.open();
    editor::PostEditorView view({.session = session.get()});
    view.resize(900, 800);
    view.show();
    QCoreApplication::processEvents();
    QTextEdit *text = view.proseTextView()->textView();
    QTextDocument *document = text->document();
    QTextBlock block = document->findBlockByNumber(document->blockCount() / 2);
    const auto isList = [](const QTextBlock &b) { return b.text().startsWith(u"- "_s); };
    const auto isProse = [](const QTextBlock &b) { return b.length() > 80 && b.text().at(0).isLetter(); };
    while (block.isValid() && !(state.range(0) == 2 ? isList(block) && isList(block.previous()) : isProse(block)))
        block = block.next();
    QTextCursor cursor(block);
    cursor.movePosition(state.range(0) == 2 ? QTextCursor::EndOfBlock : QTextCursor::NextWord);
    text->setTextCursor(cursor);
    text->ensureCursorVisible();
    text->viewport()->repaint();

    int n = 0;
    const QList<double> samples = timeEach(state, [&] {
        if (state.range(0) == 0) {
            QKeyEvent press(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, u"a"_s);
            QCoreApplication::sendEvent(text, &press);
        } else if (state.range(0) == 1) {
            QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, u"\r"_s);
            QCoreApplication::sendEvent(text, &press);
        } else {
            const bool in = n++ % 2 == 0;
            QKeyEvent press(QEvent::KeyPress, in ? Qt::Key_Tab : Qt::Key_Backtab,
                            in ? Qt::NoModifier : Qt::ShiftModifier, in ? u"\t"_s : QString());
            QCoreApplication::sendEvent(text, &press);
        }
        text->viewport()->repaint();
    });
    state.counters["p95ms"] = percentile95(samples);
    state.counters["sessionChanged"] = session->text() != session->loadText();
}
BENCHMARK(BM_EditorKeyToPaint)->Arg(0)->Arg(1)->Arg(2)->UseManualTime()->Iterations(200)->Unit(benchmark::kMillisecond);

// The editor screen on a piece, laid out to its end with the chrome in place.
struct ShownEditor {
    explicit ShownEditor(const QString &body) : home(body), session(home.open()), view({.session = session.get()})
    {
        view.resize(900, 800);
        view.show();
        const editor::ProseDocumentLayout *layout = view.proseTextView()->documentLayout();
        while (layout->estimatedBlocks() > 0)
            QCoreApplication::processEvents();
        QCoreApplication::processEvents();
    }
    editor::ProseListTextView &text() { return *view.proseTextView()->textView(); }
    // A turn of the event loop (the chrome's layout is posted) and the paint.
    void paint()
    {
        QCoreApplication::processEvents();
        text().viewport()->repaint();
    }
    EditorOnPiece home;
    std::unique_ptr<model::EditorSession> session;
    editor::PostEditorView view;
};

// A click on the chevron of an item with 2,000 nested lines in a piece of
// 100,000 words, folding and unfolding in turn, until painted. The counters
// are the p95 of each in ms.
void BM_FoldToPaint(benchmark::State &state)
{
    ShownEditor editor(longItemText());
    editor::ProseListTextView &text = editor.text();
    const qsizetype itemAt = longItemText().indexOf(u"- The long list"_s);
    QTextCursor cursor(text.document());
    cursor.setPosition(int(itemAt + 4));
    text.setTextCursor(cursor);
    text.ensureCursorVisible();
    editor.paint();
    const std::optional<QRectF> chevron = text.chevronRect(itemAt);
    if (!chevron) {
        state.SkipWithError("no chevron on screen");
        return;
    }
    const QPointF at = chevron->topLeft() + QPointF(4, 7);
    QList<double> folding;
    QList<double> unfolding;
    QElapsedTimer timer;
    for (auto _ : state) {
        const bool fold = text.folds().isEmpty();
        timer.start();
        QMouseEvent press(QEvent::MouseButtonPress, at, text.viewport()->mapToGlobal(at), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(text.viewport(), &press);
        editor.paint();
        const double seconds = double(timer.nsecsElapsed()) / 1e9;
        (fold ? folding : unfolding).append(seconds * 1000);
        state.SetIterationTime(seconds);
        QMouseEvent release(QEvent::MouseButtonRelease, at, text.viewport()->mapToGlobal(at), Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(text.viewport(), &release);
    }
    state.counters["foldP95ms"] = percentile95(folding);
    state.counters["unfoldP95ms"] = percentile95(unfolding);
    state.counters["hiddenLines"] = text.parentHints().isEmpty() ? 0 : 2000;
}
BENCHMARK(BM_FoldToPaint)->UseManualTime()->Iterations(100)->Unit(benchmark::kMillisecond);

// A letter typed in a paragraph in the middle of a 100,000-word piece whose
// lists nest, until painted (the chrome's posted layout included). Arg 0: no
// folds; 1: the first 50 parent items folded. The counter p95 is in ms.
void BM_KeyToPaintWithFolds(benchmark::State &state)
{
    ShownEditor editor(nestedText());
    editor::ProseListTextView &text = editor.text();
    if (state.range(0) == 1) {
        const QList<editor::ProseList::ParentHint> hints = text.parentHints();
        for (qsizetype i = 0; i < 50 && i < hints.size(); ++i)
            text.toggleFold(hints[i]);
        QCoreApplication::processEvents();
    }
    QTextDocument *document = text.document();
    QTextBlock block = document->findBlockByNumber(document->blockCount() / 2);
    while (block.isValid() && !(block.isVisible() && block.length() > 80 && block.text().at(0).isLetter()))
        block = block.next();
    QTextCursor cursor(block);
    cursor.movePosition(QTextCursor::NextWord);
    text.setTextCursor(cursor);
    text.ensureCursorVisible();
    editor.paint();

    const QList<double> samples = timeEach(state, [&] {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, u"a"_s);
        QCoreApplication::sendEvent(&text, &press);
        editor.paint();
    });
    state.counters["p95ms"] = percentile95(samples);
    state.counters["folds"] = double(text.folds().size());
    state.counters["rescans"] = double(text.foldRescans());
}
BENCHMARK(BM_KeyToPaintWithFolds)->Arg(0)->Arg(1)->UseManualTime()->Iterations(300)->Unit(benchmark::kMillisecond);

} // namespace
