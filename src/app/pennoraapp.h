#pragma once

#include "focus/writinglockappdelegate.h"

#include <QPalette>
#include <QString>
#include <memory>

class QWidget;

namespace app {

class AboutWindow;
class AppGateState;
class MainWindow;
class SignalBridge;
class SingleInstance;

// The application: the root state, one main window, the About and Fix Cards
// windows, a single instance per user, and one way out (the Quit command,
// closing the window, the Quit event, the session ending, SIGTERM, SIGINT,
// SIGHUP) through the quit guard.
class PennoraApp {
public:
    // Builds the application and runs the event loop until the user quits.
    // A second launch raises the running instance's window and returns 0.
    static int run(int argc, char **argv);
    // The palette's colours for every widget and every state: the desktop's
    // theme must not recolour the views.
    static QPalette paperPalette();

    explicit PennoraApp(const QString &dataDir);
    ~PennoraApp();

    // Creates the root state and shows the main window; false when another
    // instance runs (it was asked to raise its window instead). Needs a
    // QApplication.
    bool start();
    MainWindow *mainWindow() const { return m_window.get(); }
    AppGateState *gate() const { return m_gate.get(); }
    // Shows the window of that id ("about", "fix-cards"), creating it once.
    QWidget *openWindow(const QString &id);

    // The quit path: the quit guard, then the termination steps and the end
    // of the event loop. False when the guard refused.
    bool requestQuit();
    // The quit path of SIGTERM, SIGINT and SIGHUP: asks nothing and always
    // quits, a text that cannot be saved in place written beside its file.
    void quitBySignal(int signalNumber);
    // The desktop session ends: with leave to ask, the quit path (false when
    // the guard refused, to cancel the logout); without, the signal path.
    bool endSession(bool mayAsk);
    // Stops both engines, then the library's watchers; once.
    void handleWillTerminate();

private:
    std::unique_ptr<SingleInstance> m_instance;
    std::unique_ptr<AppGateState> m_gate;
    std::unique_ptr<MainWindow> m_window;
    std::unique_ptr<AboutWindow> m_about;
    std::unique_ptr<QWidget> m_fixCards;
    std::unique_ptr<SignalBridge> m_signals;
    focus::WritingLockAppDelegate m_delegate;
    bool m_terminated = false;
};

} // namespace app
