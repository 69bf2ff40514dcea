#pragma once

#include <QString>
#include <memory>

namespace app {

class MainWindow;
class SignalBridge;
class SingleInstance;

// The application: one main window, a single instance per user, and a clean
// quit on SIGTERM, SIGINT and SIGHUP.
class PennoraApp {
public:
    // Builds the application and runs the event loop until the user quits.
    // A second launch raises the running instance's window and returns 0.
    static int run(int argc, char **argv);

    explicit PennoraApp(const QString &dataDir);
    ~PennoraApp();

    // Shows the main window; false when another instance runs (it was asked
    // to raise its window instead). Needs a QApplication.
    bool start();
    MainWindow *mainWindow() const { return m_window.get(); }

private:
    std::unique_ptr<SingleInstance> m_instance;
    std::unique_ptr<MainWindow> m_window;
    std::unique_ptr<SignalBridge> m_signals;
};

} // namespace app
