#include "pennoraapp.h"

#include "aboutwindow.h"
#include "app/state/appgatestate.h"
#include "chrome/palette.h"
#include "mainwindow.h"
#include "pennorastyle.h"
#include "review/views/fixcardspalette.h"
#include "signalbridge.h"
#include "singleinstance.h"

#include "engine/mentorsessionmodel.h"
#include "foundation/paths.h"
#include "model/postsmodel.h"

#include <QApplication>
#include <QSessionManager>
#include <QSettings>
#include <QStyle>
#include <csignal>

namespace app {

QPalette PennoraApp::paperPalette()
{
    QPalette palette = QApplication::style()->standardPalette();
    // Disabled controls keep the paper and show their text muted, never the
    // style's grey.
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        const bool disabled = group == QPalette::Disabled;
        const QColor text = disabled ? Palette::inkMuted() : Palette::ink();
        palette.setColor(group, QPalette::Window, Palette::canvas());
        palette.setColor(group, QPalette::Base, Palette::page());
        palette.setColor(group, QPalette::Button, Palette::page());
        palette.setColor(group, QPalette::WindowText, text);
        palette.setColor(group, QPalette::Text, text);
        palette.setColor(group, QPalette::ButtonText, text);
        palette.setColor(group, QPalette::PlaceholderText, Palette::inkMuted());
        palette.setColor(group, QPalette::Highlight, Palette::accent());
        palette.setColor(group, QPalette::HighlightedText, Palette::page());
    }
    return palette;
}

int PennoraApp::run(int argc, char **argv)
{
    QApplication::setApplicationName(QStringLiteral("Pennora"));
    QApplication::setOrganizationName(QStringLiteral("Pennora"));
    // The reading view's web engine is loaded with the first page, after
    // the application object: it shares the GL contexts it would have set.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication application(argc, argv);
    QApplication::setStyle(new PennoraStyle);
    QApplication::setPalette(paperPalette());
    // Quitting is the quit guard's decision, not the last window's.
    QApplication::setQuitOnLastWindowClosed(false);

    PennoraApp pennora(foundation::paths::appDataDir());
    if (!pennora.start())
        return 0;
    return application.exec();
}

PennoraApp::PennoraApp(const QString &dataDir) : m_instance(std::make_unique<SingleInstance>(dataDir)) {}

PennoraApp::~PennoraApp()
{
    handleWillTerminate();
}

bool PennoraApp::start()
{
    if (!m_instance->acquire()) {
        m_instance->raiseRunning();
        return false;
    }
    const std::unique_ptr<QSettings> settings = foundation::paths::settingsStore();
    m_gate = std::make_unique<AppGateState>(*settings);
    m_window = std::make_unique<MainWindow>(*m_gate);
    m_window->openWindow = [this](const QString &id) { openWindow(id); };
    QObject::connect(m_instance.get(), &SingleInstance::raiseRequested, m_window.get(), &MainWindow::bringToFront);
    QObject::connect(m_window.get(), &MainWindow::quitRequested, m_window.get(), [this] { requestQuit(); });
    m_signals = std::make_unique<SignalBridge>();
    QObject::connect(m_signals.get(), &SignalBridge::quitRequested, m_window.get(),
                     [this](int signalNumber) { quitBySignal(signalNumber); });

    m_delegate.showRefusal = [this](const QString &text) { m_window->showQuitStopped(text); };
    m_delegate.confirmEndingBlock = [this] { return m_window->askWalkAway(); };
    // The desktop session ending: asked like any quit while the session
    // manager lets us ask, else like a logout's SIGTERM.
    QObject::connect(qApp, &QGuiApplication::commitDataRequest, m_window.get(), [this](QSessionManager &manager) {
        if (!endSession(manager.allowsInteraction()))
            manager.cancel();
        manager.release();
    });
    m_window->show();
    return true;
}

QWidget *PennoraApp::openWindow(const QString &id)
{
    QWidget *window = nullptr;
    if (id == u"about") {
        if (!m_about)
            m_about = std::make_unique<AboutWindow>();
        window = m_about.get();
    } else if (id == u"fix-cards") {
        if (!m_fixCards && m_gate) {
            m_fixCards = std::make_unique<review::FixCardsPalette>(m_gate->posts());
            m_fixCards->setObjectName(QStringLiteral("fix-cards"));
            m_fixCards->setWindowTitle(QStringLiteral("Fix Cards"));
            m_fixCards->resize(340, 540);
        }
        window = m_fixCards.get();
    }
    if (window) {
        window->show();
        window->raise();
        window->activateWindow();
    }
    return window;
}

bool PennoraApp::requestQuit()
{
    if (!m_delegate.applicationShouldTerminate())
        return false;
    handleWillTerminate();
    // exit, not quit: quit would close the windows, and closing the main
    // window asks again.
    QCoreApplication::exit(0);
    return true;
}

bool PennoraApp::endSession(bool mayAsk)
{
    if (mayAsk)
        return requestQuit();
    quitBySignal(SIGTERM);
    return true;
}

void PennoraApp::quitBySignal(int signalNumber)
{
    m_delegate.prepareQuitBySignal(signalNumber);
    handleWillTerminate();
    // exit, not quit: a window refusing to close must not hold this quit up.
    QCoreApplication::exit(0);
}

void PennoraApp::handleWillTerminate()
{
    if (m_terminated || !m_gate)
        return;
    m_terminated = true;
    m_gate->mentor().shutdown();
    m_gate->posts().stopWatching();
}

} // namespace app
