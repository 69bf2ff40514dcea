#pragma once
// The reading view of the open text: its rendered page in a web view. A click
// on a block asks to edit there, scrolling records the block at the top, and
// a real Ctrl+click on a web link opens it in the desktop's browser. On entry
// the page scrolls to the block that holds the editor's caret.
//
// The page is served under our own scheme and carries a policy that keeps a
// piece's HTML from running; the page's script and its bridge live in the
// application's own script world, out of the page's reach. Nothing but the
// page the surface loads itself is ever navigated to.
//
// Nothing of the web engine starts before the first surface is made; the
// application loads this code as a module with its first page.

#include "editor/prose/readingcoordinator.h"
#include "editor/prose/readingpresenter.h"
#include "editor/prose/views/readingview.h"

#include <QElapsedTimer>
#include <QUrl>
#include <QWidget>

#include <functional>
#include <optional>

class QWebEngineView;
class QWebEnginePage;

namespace editor {

class ReadingRenderer;
class ReadingSurface;

// The object the page script talks to, registered in the application's
// script world only.
class ReadingBridge : public QObject {
    Q_OBJECT
public:
    explicit ReadingBridge(ReadingSurface *surface);
    Q_INVOKABLE void post(const QString &name, const QJsonValue &body);

private:
    ReadingSurface *m_surface;
};

class ReadingSurface : public ReadingView {
    Q_OBJECT
public:
    using Inputs = ReadingInputs;
    using Opener = std::function<void(const QUrl &url)>;

    // Makes the page scheme known to the web engine; runs before the first
    // web object of the process is made (the first surface does it), which
    // is when the engine fixes its schemes.
    static void registerScheme();

    explicit ReadingSurface(QWidget *parent = nullptr);
    ~ReadingSurface() override;

    // Takes the inputs; paints again only when the text or its generation
    // changed.
    void setInputs(Inputs inputs) override;
    // The renderer run (tests and benchmarks name the bundled one).
    void setRunner(ReadingPresenter::Runner runner) override;
    // Opens a clicked web link; the desktop's browser by default.
    void setOpener(Opener opener) { m_opener = std::move(opener); }

    QWebEngineView *webView() const { return m_view; }
    QWebEnginePage *page() const;
    const ReadingCoordinator &coordinator() const { return m_coordinator; }
    // The address of the page shown (or being loaded).
    QUrl pageURL() const { return m_ownPage; }
    // How many renders were started, for those who check the repaint rule.
    int paints() const { return m_paints; }
    // Whether the page is the plain one because the renderer failed.
    bool rendererFailed() const { return m_rendererFailed; }

signals:
    // The render of a paint is done (its milliseconds); the page loads next.
    void rendered(qint64 milliseconds);
    // A page of ours finished loading, its entry scroll asked for.
    void pageLoaded(bool ok);
    // A navigation the surface did not start was refused.
    void navigationRefused(const QUrl &url);

private:
    friend class ReadingBridge;
    void paint();
    void showRendered(const QString &key, const ReadingPresenter::Rendered &result);
    void loadFinished(bool ok);
    void received(const QString &name, const QJsonValue &body);

    Inputs m_inputs;
    ReadingCoordinator m_coordinator;
    ReadingRenderer *m_renderer = nullptr;
    QWebEngineView *m_view = nullptr;
    Opener m_opener;
    QUrl m_ownPage;
    int m_paints = 0;
    bool m_rendererFailed = false;
    QElapsedTimer m_renderClock;
};

} // namespace editor
