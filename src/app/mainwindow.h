#pragma once

#include <QList>
#include <QMainWindow>
#include <QPointer>
#include <QUrl>
#include <functional>
#include <memory>
#include <optional>

class QMessageBox;

namespace app {

class AppGateState;
class WorkspaceView;

// The root view of every main window: it shows the workspace. When it first
// comes on screen it runs the root state's launch work.
class ContentView : public QWidget {
    Q_OBJECT
public:
    explicit ContentView(AppGateState &gate, QWidget *parent = nullptr);
    WorkspaceView *workspace() const { return m_workspace; }

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void startLaunchWork();

    QPointer<AppGateState> m_gate;
    WorkspaceView *m_workspace;
    bool m_started = false;
};

// The main window with the application's menus. Quitting and closing ask the
// application (quitRequested); the other windows are opened by id.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(AppGateState &gate, QWidget *parent = nullptr);

    // The open panel: Markdown files only, several when asked; the chosen
    // files, or none when cancelled.
    std::function<QList<QUrl>(const QString &message, bool multiple)> chooseMarkdownFiles = &MainWindow::runOpenPanel;
    // Hands a folder to the desktop's file manager.
    std::function<void(const QUrl &url)> openUrl;
    // Opens the window of that id ("about", "fix-cards").
    std::function<void(const QString &id)> openWindow;

    // The menu action of that title (as shown, without mnemonics); null when
    // there is none.
    QAction *action(const QString &title) const;
    // "~/.local/share/Pennora/Backups", opened when it exists.
    static QString backupFolder();
    void openBackupFolder();

    static QList<QUrl> runOpenPanel(const QString &message, bool multiple);

    // The quit guard's alerts: "Walk Away" (true) or "Keep Writing"; the
    // refusal while a text cannot be saved.
    bool askWalkAway();
    void showQuitStopped(const QString &informativeText);
    static std::unique_ptr<QMessageBox> walkAwayAlert(QWidget *parent);
    static std::unique_ptr<QMessageBox> quitStoppedAlert(QWidget *parent, const QString &informativeText);
    bool isInKiosk() const { return m_beforeKiosk.has_value(); }

public slots:
    void bringToFront();
    // A writing block's kiosk: full screen, menu bar hidden, the blocked
    // shortcuts swallowed. Leaving gives back the earlier window state when
    // asked and the window is still full screen.
    void enterKiosk();
    void leaveKiosk(bool restoreWindow);
    // Follows the models: what each command may do now.
    void updateCommandStates();

signals:
    void quitRequested();

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildMenus();

    AppGateState &m_gate;
    bool m_shownOnce = false;
    // The window state to return to when a kiosk block ends; set while in
    // the kiosk.
    std::optional<Qt::WindowStates> m_beforeKiosk;
};

} // namespace app
