// A keystroke in the prose editor of the workspace, offscreen, with the engine
// status card over the lower-leading corner and without it, side by side:
// a letter typed and taken back, each followed by the repaint it causes. The
// card shows for everyone without the engine, so it must not make typing
// dearer (target: within 1.2x of the card hidden).
#include "app/enginestatusviews.h"
#include "app/panemounts.h"
#include "app/state/appgatestate.h"
#include "app/workspaceview.h"
#include "editor/prose/views/posteditorview.h"
#include "editor/prose/views/proselisttextview.h"
#include "editor/prose/views/prosetextview.h"
#include "library/homelocation.h"
#include "library/poststore.h"
#include "panes/library/views/postspaneview.h"
#include "synthetichome.h"
#include "testutil.h"

#include <QApplication>
#include <QCoro/QCoroTask>
#include <QDir>
#include <QKeyEvent>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextCursor>
#include <benchmark/benchmark.h>

#include <memory>

namespace {

using testsupport::spinUntil;

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
public:
    qint64 count = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++count;
        return false;
    }
};

// One workspace for the whole run, with a 1,500-word piece open and the
// engine check failed.
struct TypingWorkspace {
    TypingWorkspace()
    {
        // Nothing of the run may reach the real home folder.
        qputenv("HOME", dir.filePath("home").toUtf8());
        qputenv("XDG_CONFIG_HOME", dir.filePath("home/.config").toUtf8());
        qputenv("XDG_DATA_HOME", dir.filePath("home/.local/share").toUtf8());
        qputenv("XDG_CACHE_HOME", dir.filePath("home/.cache").toUtf8());
        const QString home = dir.filePath("Home");
        QDir().mkpath(home + "/projects");
        const library::Post piece =
            library::PostStore::createPiece("# Keystrokes\n\n" + testsupport::syntheticProse(1500, 7), "Essays",
                                            library::Post::ContentType::post, library::Post::Origin::writer, home);
        QSettings settings(dir.filePath("settings.ini"), QSettings::IniFormat);
        settings.setValue("pennoraHome", library::HomeLocation::settingsText(home));
        gate.settleHome(settings);
        view = std::make_unique<app::WorkspaceView>(gate, &app::mountPanes);
        view->resize(1100, 720);
        view->show();
        spinUntil([&] { return !gate.posts().posts().isEmpty(); });
        gate.posts().selectPiece(piece.id);
        spinUntil([&] { return textView() != nullptr; });
        QCoro::waitFor(gate.gateModel().check({dir.filePath("missing/hermes")}, false, dir.filePath("state"),
                                              std::chrono::seconds(5)));
        // The caret at the end of a paragraph in the lower half of the text,
        // where the card lies over the editor.
        text = textView();
        text->setFocus();
        QTextCursor cursor = text->cursorForPosition(QPoint(text->viewport()->width() / 2, 500));
        cursor.movePosition(QTextCursor::EndOfBlock);
        text->setTextCursor(cursor);
        spinUntil([] { return false; }, 300);
    }
    ~TypingWorkspace()
    {
        view.reset();
        gate.posts().settleBackgroundWork();
    }
    editor::ProseListTextView *textView() const
    {
        auto *pane = qobject_cast<panes::PostsPaneView *>(view->paneContent());
        auto *editor = pane ? qobject_cast<editor::PostEditorView *>(pane->editor()) : nullptr;
        return editor ? editor->proseTextView()->textView() : nullptr;
    }
    void key(int key, const QString &text)
    {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
        QApplication::sendEvent(this->text, &press);
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
        QApplication::sendEvent(this->text, &release);
        // The repaint the keystroke asked for.
        QApplication::processEvents();
    }

    QTemporaryDir dir;
    app::AppGateState gate;
    std::unique_ptr<app::WorkspaceView> view;
    editor::ProseListTextView *text = nullptr;
};

TypingWorkspace &typingWorkspace()
{
    static auto *workspace = new TypingWorkspace;
    return *workspace;
}

// Two keystrokes per iteration: a letter, then Backspace.
void BM_KeystrokeInTheEditor(benchmark::State &state)
{
    TypingWorkspace &w = typingWorkspace();
    const bool cardShown = state.range(0) != 0;
    w.view->setStatusCardExpanded(cardShown);
    spinUntil([] { return false; }, 200);
    if ((w.view->card() != nullptr) != cardShown) {
        state.SkipWithError("the card is not as asked");
        return;
    }
    PaintCounter cardPaints;
    PaintCounter editorPaints;
    if (w.view->card())
        w.view->card()->installEventFilter(&cardPaints);
    w.text->viewport()->installEventFilter(&editorPaints);
    for (auto _ : state) {
        w.key(Qt::Key_A, QStringLiteral("a"));
        w.key(Qt::Key_Backspace, QString());
    }
    w.text->viewport()->removeEventFilter(&editorPaints);
    if (w.view->card())
        w.view->card()->removeEventFilter(&cardPaints);
    state.counters["card_paints_per_key"] = double(cardPaints.count) / double(2 * state.iterations());
    state.counters["editor_paints_per_key"] = double(editorPaints.count) / double(2 * state.iterations());
}
BENCHMARK(BM_KeystrokeInTheEditor)->ArgName("card")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

} // namespace
