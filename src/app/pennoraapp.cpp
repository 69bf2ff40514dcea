#include "pennoraapp.h"

#include "mainwindow.h"
#include "signalbridge.h"
#include "singleinstance.h"

#include "foundation/paths.h"

#include <QApplication>
#include <QStyle>
#include <QStyleFactory>

namespace app {

int PennoraApp::run(int argc, char **argv)
{
    QApplication::setApplicationName(QStringLiteral("Pennora"));
    QApplication::setOrganizationName(QStringLiteral("Pennora"));
    QApplication application(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    // A fixed palette: the desktop's dark theme must not recolour the views.
    QApplication::setPalette(QApplication::style()->standardPalette());

    PennoraApp pennora(foundation::paths::appDataDir());
    if (!pennora.start())
        return 0;
    return application.exec();
}

PennoraApp::PennoraApp(const QString &dataDir) : m_instance(std::make_unique<SingleInstance>(dataDir)) {}

PennoraApp::~PennoraApp() = default;

bool PennoraApp::start()
{
    if (!m_instance->acquire()) {
        m_instance->raiseRunning();
        return false;
    }
    m_window = std::make_unique<MainWindow>();
    QObject::connect(m_instance.get(), &SingleInstance::raiseRequested, m_window.get(), &MainWindow::bringToFront);
    m_signals = std::make_unique<SignalBridge>();
    QObject::connect(m_signals.get(), &SignalBridge::quitRequested, m_window.get(), &MainWindow::close);
    m_window->show();
    return true;
}

} // namespace app
