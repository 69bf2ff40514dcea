#include "editor/prose/reading/readingsurface.h"

#include <QBuffer>
#include <QDesktopServices>
#include <QFile>
#include <QHash>
#include <QLoggingCategory>
#include <QPointer>
#include <QVBoxLayout>
#include <QWebChannel>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>
#include <QWebEngineUrlSchemeHandler>
#include <QWebEngineView>

#include <utility>

using namespace Qt::Literals::StringLiterals;

namespace editor {

namespace {

// The pages of every surface, by address, served to the web engine.
class PageStore : public QWebEngineUrlSchemeHandler {
public:
    using QWebEngineUrlSchemeHandler::QWebEngineUrlSchemeHandler;

    void put(const QUrl &url, const QByteArray &html) { m_pages.insert(url, html); }
    void remove(const QUrl &url) { m_pages.remove(url); }

    void requestStarted(QWebEngineUrlRequestJob *job) override
    {
        const auto found = m_pages.constFind(job->requestUrl());
        if (found == m_pages.cend() || job->requestMethod() != "GET") {
            job->fail(QWebEngineUrlRequestJob::UrlNotFound);
            return;
        }
        auto *buffer = new QBuffer(job);
        buffer->setData(*found);
        buffer->open(QIODevice::ReadOnly);
        job->reply("text/html", buffer);
    }

private:
    QHash<QUrl, QByteArray> m_pages;
};

struct Engine {
    QWebEngineProfile *profile = nullptr;
    PageStore *pages = nullptr;
};

// One private, off-the-record profile for every reading page, made with the
// first surface: that is when the web engine starts.
Engine &engine()
{
    static Engine made = [] {
        Engine e;
        e.profile = new QWebEngineProfile(QCoreApplication::instance());
        e.profile->setHttpCacheType(QWebEngineProfile::MemoryHttpCache);
        e.profile->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
        e.pages = new PageStore(e.profile);
        e.profile->installUrlSchemeHandler(ReadingPage::kScheme, e.pages);
        QWebEngineSettings *settings = e.profile->settings();
        settings->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
        settings->setAttribute(QWebEngineSettings::JavascriptCanAccessClipboard, false);
        settings->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
        settings->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
        settings->setAttribute(QWebEngineSettings::PluginsEnabled, false);
        settings->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);
        settings->setAttribute(QWebEngineSettings::LinksIncludedInFocusChain, false);
        return e;
    }();
    return made;
}

quint64 nextPageNumber()
{
    static quint64 number = 0;
    return ++number;
}

// The page script, in the application's world: clicks and scrolling report
// source lines; a real Ctrl+click on a link asks to open it. A link never
// navigates inside the view.
const char *const kPageScript = R"JS(
(function () {
  var bridge = null;
  var waiting = [];
  function post(name, body) {
    if (bridge) bridge.post(name, body);
    else waiting.push([name, body]);
  }
  new QWebChannel(qt.webChannelTransport, function (channel) {
    bridge = channel.objects.reading;
    waiting.forEach(function (m) { bridge.post(m[0], m[1]); });
    waiting = [];
  });
  function elementOf(node) {
    while (node && node.nodeType !== 1) node = node.parentNode;
    return node;
  }
  function stampedLine(element) {
    var stamped = element ? element.closest('[data-source-line]') : null;
    return stamped ? stamped.getAttribute('data-source-line') : null;
  }
  document.addEventListener('click', function (event) {
    var target = elementOf(event.target);
    if (!target) return;
    var link = target.closest('a');
    var line = null;
    if (link) {
      event.preventDefault();
      if (event.ctrlKey || event.metaKey) {
        if (event.isTrusted && link.href) post('openLink', link.href);
        return;
      }
      line = stampedLine(link);
    } else {
      line = stampedLine(target);
    }
    if (line !== null) post('sourceClick', line);
  }, true);
  var scheduled = false;
  window.addEventListener('scroll', function () {
    if (scheduled) return;
    scheduled = true;
    window.requestAnimationFrame(function () {
      scheduled = false;
      var all = document.querySelectorAll('[data-source-line]');
      for (var i = 0; i < all.length; i++) {
        if (all[i].getBoundingClientRect().bottom > 44) {
          post('sourceScroll', all[i].getAttribute('data-source-line'));
          return;
        }
      }
    });
  }, { passive: true });
})();
)JS";

QString pageScript()
{
    QFile channel(u":/qtwebchannel/qwebchannel.js"_s);
    const QString library = channel.open(QIODevice::ReadOnly) ? QString::fromUtf8(channel.readAll()) : QString();
    return library + QString::fromUtf8(kPageScript);
}

class ReadingWebPage : public QWebEnginePage {
public:
    ReadingWebPage(QWebEngineProfile *profile, ReadingSurface *surface)
        : QWebEnginePage(profile, surface), m_surface(surface)
    {}
    QUrl ownPage;
    std::function<void(const QUrl &)> refused;

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType, bool isMainFrame) override
    {
        if (ReadingPage::allowsNavigation(url, isMainFrame, ownPage))
            return true;
        if (refused)
            refused(url);
        return false;
    }
    QWebEnginePage *createWindow(WebWindowType) override { return nullptr; }
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString &, int, const QString &) override {}

private:
    QPointer<ReadingSurface> m_surface;
};

} // namespace

ReadingBridge::ReadingBridge(ReadingSurface *surface) : QObject(surface), m_surface(surface) {}

void ReadingBridge::post(const QString &name, const QJsonValue &body)
{
    m_surface->received(name, body);
}

void ReadingSurface::registerScheme()
{
    static bool registered = false;
    if (std::exchange(registered, true))
        return;
    QWebEngineUrlScheme scheme(ReadingPage::kScheme);
    scheme.setSyntax(QWebEngineUrlScheme::Syntax::Path);
    // Secure, and local: no page from elsewhere may load one of ours.
    scheme.setFlags(QWebEngineUrlScheme::SecureScheme | QWebEngineUrlScheme::LocalScheme);
    QWebEngineUrlScheme::registerScheme(scheme);
}

ReadingSurface::ReadingSurface(QWidget *parent) : ReadingView(parent)
{
    registerScheme();
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    m_renderer = new ReadingRenderer(this);
    connect(m_renderer, &ReadingRenderer::rendered, this, &ReadingSurface::showRendered);
    m_opener = [](const QUrl &url) { QDesktopServices::openUrl(url); };

    Engine &web = engine();
    auto *page = new ReadingWebPage(web.profile, this);
    page->refused = [this](const QUrl &url) { emit navigationRefused(url); };
    page->setBackgroundColor(QColor::fromRgbF(0.984f, 0.984f, 0.992f));
    QWebEngineScript script;
    script.setName(u"reading"_s);
    script.setSourceCode(pageScript());
    script.setInjectionPoint(QWebEngineScript::DocumentReady);
    script.setWorldId(QWebEngineScript::ApplicationWorld);
    script.setRunsOnSubFrames(false);
    page->scripts().insert(script);
    auto *channel = new QWebChannel(page);
    channel->registerObject(u"reading"_s, new ReadingBridge(this));
    page->setWebChannel(channel, QWebEngineScript::ApplicationWorld);
    connect(page, &QWebEnginePage::loadFinished, this, &ReadingSurface::loadFinished);

    m_view = new QWebEngineView(this);
    m_view->setPage(page);
    m_view->setContextMenuPolicy(Qt::NoContextMenu);
    column->addWidget(m_view);
    setFocusProxy(m_view);
}

ReadingSurface::~ReadingSurface()
{
    // The page, made before the view, goes first as a child.
    if (!m_ownPage.isEmpty())
        engine().pages->remove(m_ownPage);
}

QWebEnginePage *ReadingSurface::page() const
{
    return m_view->page();
}

void ReadingSurface::setRunner(ReadingPresenter::Runner runner)
{
    m_renderer->setRunner(std::move(runner));
}

void ReadingSurface::setInputs(Inputs inputs)
{
    const bool paintNow = m_coordinator.needsPaint(inputs.generation, inputs.text);
    m_inputs = std::move(inputs);
    if (paintNow)
        paint();
}

void ReadingSurface::paint()
{
    ++m_paints;
    const QString key = m_coordinator.beginPaint(m_inputs.generation, m_inputs.text, m_inputs.entryCaretLocation);
    m_renderClock.start();
    m_renderer->request(key, m_inputs.text, m_inputs.postFolder);
}

void ReadingSurface::showRendered(const QString &key, const ReadingPresenter::Rendered &result)
{
    if (key != m_coordinator.loadedKey())
        return;
    emit rendered(m_renderClock.elapsed());
    m_rendererFailed = result.rendererFailed;
    PageStore *pages = engine().pages;
    if (!m_ownPage.isEmpty())
        pages->remove(m_ownPage);
    m_ownPage = QUrl(QLatin1String(ReadingPage::kScheme) + u":page-"_s + QString::number(nextPageNumber()));
    pages->put(m_ownPage, result.page.toUtf8());
    auto *page = static_cast<ReadingWebPage *>(m_view->page());
    page->ownPage = m_ownPage;
    page->load(m_ownPage);
}

void ReadingSurface::loadFinished(bool ok)
{
    if (!ok || page()->url() != m_ownPage) {
        emit pageLoaded(false);
        return;
    }
    if (const std::optional<qint64> line = m_coordinator.loadFinished())
        page()->runJavaScript(ReadingPage::entryScrollScript(*line), QWebEngineScript::ApplicationWorld);
    emit pageLoaded(true);
}

void ReadingSurface::received(const QString &name, const QJsonValue &body)
{
    const ReadingCoordinator::Effect effect = m_coordinator.message(name, body);
    switch (effect.kind) {
    case ReadingCoordinator::Effect::Kind::none: break;
    case ReadingCoordinator::Effect::Kind::editAt:
        if (m_inputs.onEditIntent)
            m_inputs.onEditIntent(effect.location);
        break;
    case ReadingCoordinator::Effect::Kind::topAt:
        if (m_inputs.stateBox)
            m_inputs.stateBox->topSourceLocation = effect.location;
        break;
    case ReadingCoordinator::Effect::Kind::open:
        if (m_opener)
            m_opener(effect.url);
        break;
    }
}

} // namespace editor
