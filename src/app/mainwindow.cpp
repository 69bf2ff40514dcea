#include "mainwindow.h"

#include "app/panemounts.h"
#include "app/state/appgatestate.h"
#include "app/workspaceview.h"
#include "chrome/palette.h"
#include "chrome/workspacechrome.h"
#include "focus/writinglockappdelegate.h"
#include "focus/writinglockstate.h"
#include "foundation/paths.h"
#include "library/poststore.h"
#include "model/postsmodel.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>
#include <cstdio>
#include <utility>

namespace app {

namespace {

// The panel's filter is only a default: a name typed into it can be any file,
// and only Markdown may be opened in place or imported.
QList<QUrl> importableOnly(QList<QUrl> urls)
{
    urls.removeIf([](const QUrl &url) { return !library::PostStore::isImportable(url); });
    return urls;
}

} // namespace

ContentView::ContentView(AppGateState &gate, QWidget *parent)
    : QWidget(parent), m_gate(&gate), m_workspace(new WorkspaceView(gate, &mountPanes))
{
    fillBackground(this, Palette::canvas());
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_workspace);
}

void ContentView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_started || !m_gate)
        return;
    // The launch work waits for the first paint, which happens while the
    // window's first expose is handled, so that the engine probes never hold
    // it back; a window that is never exposed (started minimised) waits a
    // moment at most.
    QWindow *handle = window()->windowHandle();
    if (!handle || handle->isExposed()) {
        startLaunchWork();
        return;
    }
    handle->installEventFilter(this);
    QTimer::singleShot(500, this, [this, handle = QPointer<QWindow>(handle)] {
        if (handle)
            handle->removeEventFilter(this);
        startLaunchWork();
    });
}

bool ContentView::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Expose && !m_started) {
        auto *handle = static_cast<QWindow *>(watched);
        if (handle->isExposed()) {
            handle->removeEventFilter(this);
            startLaunchWork();
        }
    }
    return QWidget::eventFilter(watched, event);
}

void ContentView::startLaunchWork()
{
    if (m_started)
        return;
    m_started = true;
    QTimer::singleShot(0, this, [gate = m_gate] {
        QCoro::Task<void> detached = [](QPointer<AppGateState> gate) -> QCoro::Task<void> {
            if (!gate)
                co_return;
            QCoro::Task<void> starting = gate->startGate();
            co_await std::move(starting);
        }(gate);
    });
}

MainWindow::MainWindow(AppGateState &gate, QWidget *parent) : QMainWindow(parent), m_gate(gate)
{
    setWindowTitle(QStringLiteral("Pennora"));
    resize(1100, 720);
    openUrl = [](const QUrl &url) { QDesktopServices::openUrl(url); };
    setCentralWidget(new ContentView(gate));
    buildMenus();

    model::PostsModel &posts = gate.posts();
    for (auto signal : {&model::PostsModel::sessionChanged, &model::PostsModel::draftChanged,
                        &model::PostsModel::externalSessionChanged, &model::PostsModel::proseOverridePostIDChanged,
                        &model::PostsModel::selectedPostIDChanged, &model::PostsModel::postsChanged})
        connect(&posts, signal, this, &MainWindow::updateCommandStates);
    connect(&gate.writingLock(), &focus::WritingLockState::isLockedChanged, this, &MainWindow::updateCommandStates);
    // A locked block holds the whole screen; the window comes back as it was
    // when the goal is met.
    connect(&gate.writingLock(), &focus::WritingLockState::kioskRequested, this, &MainWindow::enterKiosk);
    connect(&gate.writingLock(), &focus::WritingLockState::kioskLeaveRequested, this, &MainWindow::leaveKiosk);
    // The kiosk's key filter and the Quit event.
    qApp->installEventFilter(this);
    connect(&gate, &AppGateState::isFocusedChanged, this, &MainWindow::updateCommandStates);
    connect(&gate, &AppGateState::spellCheckingChanged, this, &MainWindow::updateCommandStates);
    updateCommandStates();
}

void MainWindow::buildMenus()
{
    const auto add = [this](QMenu *menu, const QString &title, const QKeySequence &shortcut, auto slot) {
        QAction *action = menu->addAction(title);
        action->setObjectName(title);
        if (!shortcut.isEmpty())
            action->setShortcut(shortcut);
        connect(action, &QAction::triggered, this, slot);
        return action;
    };
    model::PostsModel &posts = m_gate.posts();

    QMenu *file = menuBar()->addMenu(tr("&File"));
    add(file, QStringLiteral("New Post"), QKeySequence(Qt::CTRL | Qt::Key_N), [&posts] { posts.newPostDraft(); });
    add(file, QStringLiteral("New Outline"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_N),
        [&posts] { posts.newOutlineDraft(); });
    add(file, QStringLiteral("New Project…"), QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_N),
        [&posts] { posts.setAskNewProject(true); });
    add(file, QStringLiteral("Open…"), QKeySequence(Qt::CTRL | Qt::Key_O), [this, &posts] {
        const QList<QUrl> chosen = importableOnly(
            chooseMarkdownFiles(QStringLiteral("Opens the file as-is — Pennora never converts or moves it."), false));
        if (!chosen.isEmpty())
            posts.openExternalFile(chosen.first());
    });
    add(file, QStringLiteral("Import…"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O), [this, &posts] {
        const QList<QUrl> chosen = importableOnly(
            chooseMarkdownFiles(QStringLiteral("Imports copies as Posts — the original files are untouched."), true));
        if (!chosen.isEmpty())
            posts.setPendingImportURLs(chosen);
    });
    file->addSeparator();
    QAction *quit =
        add(file, QStringLiteral("Quit"), QKeySequence(Qt::CTRL | Qt::Key_Q), [this] { emit quitRequested(); });
    quit->setMenuRole(QAction::QuitRole);
    // A hidden menu bar (the kiosk) disables its actions' shortcuts; the
    // window's own copy keeps Ctrl+Q working.
    addAction(quit);

    // Linux gives no Edit menu for free: its text commands go to the focused
    // text widget.
    QMenu *edit = menuBar()->addMenu(tr("&Edit"));
    const std::pair<QString, QKeySequence::StandardKey> textCommands[] = {
        {QStringLiteral("Undo"), QKeySequence::Undo},   {QStringLiteral("Redo"), QKeySequence::Redo},
        {QStringLiteral("Cut"), QKeySequence::Cut},     {QStringLiteral("Copy"), QKeySequence::Copy},
        {QStringLiteral("Paste"), QKeySequence::Paste}, {QStringLiteral("Select All"), QKeySequence::SelectAll},
    };
    for (const auto &[title, key] : textCommands) {
        const QByteArray slot = title == u"Select All" ? QByteArray("selectAll") : title.toLower().toLatin1();
        add(edit, title, QKeySequence(key), [slot] {
            if (QWidget *focused = QApplication::focusWidget())
                QMetaObject::invokeMethod(focused, slot.constData());
        });
    }
    edit->addSeparator();
    QAction *spelling = add(edit, QStringLiteral("Check Spelling While Typing"), QKeySequence(),
                            [this](bool on) { m_gate.setSpellChecking(on); });
    spelling->setCheckable(true);

    QMenu *view = menuBar()->addMenu(tr("&View"));
    add(view, QStringLiteral("Toggle Reading Mode"), QKeySequence(Qt::CTRL | Qt::Key_R),
        [this] { emit m_gate.toggleReadingMode(); });
    add(view, QStringLiteral("Toggle Focus Mode"), QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_F),
        [this] { m_gate.toggleFocus(); });
    add(view, QStringLiteral("Start Dedu Duvodo…"), QKeySequence(),
        [this] { m_gate.writingLock().setShowsArmBar(true); });

    QMenu *help = menuBar()->addMenu(tr("&Help"));
    QAction *about = add(help, QStringLiteral("About Pennora"), QKeySequence(), [this] {
        if (openWindow)
            openWindow(QStringLiteral("about"));
    });
    about->setMenuRole(QAction::AboutRole);
    add(help, QStringLiteral("Open Backup Folder"), QKeySequence(), [this] { openBackupFolder(); });
}

QAction *MainWindow::action(const QString &title) const
{
    for (QAction *candidate : findChildren<QAction *>()) {
        if (candidate->objectName() == title)
            return candidate;
    }
    return nullptr;
}

void MainWindow::updateCommandStates()
{
    const bool locked = m_gate.writingLock().isLocked();
    const model::PostsModel &posts = m_gate.posts();
    const bool nothingOpen = !posts.session() && !posts.draft() && !posts.externalSession();
    for (const QString &title :
         {QStringLiteral("New Post"), QStringLiteral("New Outline"), QStringLiteral("New Project…"),
          QStringLiteral("Open…"), QStringLiteral("Import…"), QStringLiteral("Toggle Reading Mode")})
        action(title)->setEnabled(!locked);
    action(QStringLiteral("Toggle Focus Mode"))->setEnabled(!locked && (m_gate.isFocused() || !nothingOpen));
    action(QStringLiteral("Start Dedu Duvodo…"))->setEnabled(m_gate.isFocused() && !locked && posts.showsProse());
    action(QStringLiteral("Check Spelling While Typing"))->setChecked(m_gate.spellChecking());
}

QString MainWindow::backupFolder()
{
    return foundation::paths::appDataDir() + QStringLiteral("/Backups");
}

void MainWindow::openBackupFolder()
{
    // Before the first backup there is nothing to show, and nothing is said.
    const QString folder = backupFolder();
    if (QFileInfo(folder).isDir() && openUrl)
        openUrl(QUrl::fromLocalFile(folder));
}

QList<QUrl> MainWindow::runOpenPanel(const QString &message, bool multiple)
{
    QFileDialog panel(QApplication::activeWindow(), message);
    panel.setFileMode(multiple ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    panel.setNameFilter(QStringLiteral("Markdown (*.md *.markdown *.MD *.Markdown *.MARKDOWN)"));
    if (panel.exec() != QDialog::Accepted)
        return {};
    return panel.selectedUrls();
}

void MainWindow::bringToFront()
{
    if (isMinimized())
        showNormal();
    show();
    raise();
    activateWindow();
}

void MainWindow::enterKiosk()
{
    if (!m_beforeKiosk)
        m_beforeKiosk = windowState();
    // Soft on this desktop: no keyboard or pointer grab, so a hung window can
    // never lock anyone out; the window manager's own keys still work.
    menuBar()->hide();
    showFullScreen();
    raise();
    activateWindow();
}

void MainWindow::leaveKiosk(bool restoreWindow)
{
    if (!m_beforeKiosk)
        return;
    menuBar()->show();
    const Qt::WindowStates before = *std::exchange(m_beforeKiosk, std::nullopt);
    // Restores, never toggles: a window the writer already took out of full
    // screen stays where it is.
    if (restoreWindow && isFullScreen()) {
        setWindowState(before);
        show();
    }
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    // A Quit event from elsewhere (the platform, a stray quit()) takes the
    // same way out as the Quit command.
    if (event->type() == QEvent::Quit && watched == qApp) {
        emit quitRequested();
        return true;
    }
    if (m_beforeKiosk && (event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress)) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (focus::WritingLockState::shouldSwallow(key->key(), key->text(), key->modifiers())) {
            // An accepted override keeps the shortcut from running; the key
            // press that follows is dropped too.
            event->accept();
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    // The window manager took the window out of full screen during a block:
    // it goes back.
    if (event->type() == QEvent::WindowStateChange && m_beforeKiosk && !isFullScreen())
        QTimer::singleShot(0, this, [this] {
            if (m_beforeKiosk && !isFullScreen())
                showFullScreen();
        });
}

bool MainWindow::askWalkAway()
{
    const std::unique_ptr<QMessageBox> alert = walkAwayAlert(this);
    alert->exec();
    return alert->clickedButton() == alert->buttons().value(0);
}

void MainWindow::showQuitStopped(const QString &informativeText)
{
    quitStoppedAlert(this, informativeText)->exec();
}

namespace {

// The style's message box wraps a sentence into a narrow column; these read
// as a line or two.
std::unique_ptr<QMessageBox> guardAlert(QWidget *parent)
{
    auto alert = std::make_unique<QMessageBox>(parent);
    alert->setStyleSheet(QStringLiteral("QLabel { min-width: 340px; }"));
    return alert;
}

} // namespace

std::unique_ptr<QMessageBox> MainWindow::walkAwayAlert(QWidget *parent)
{
    using Guard = focus::WritingLockAppDelegate;
    std::unique_ptr<QMessageBox> alert = guardAlert(parent);
    alert->setWindowTitle(QStringLiteral("Pennora"));
    alert->setText(Guard::walkAwayTitle());
    alert->setInformativeText(Guard::walkAwayText());
    QPushButton *walk = alert->addButton(Guard::walkAwayButton(), QMessageBox::AcceptRole);
    QPushButton *keep = alert->addButton(Guard::keepWritingButton(), QMessageBox::RejectRole);
    alert->setDefaultButton(walk);
    alert->setEscapeButton(keep);
    return alert;
}

std::unique_ptr<QMessageBox> MainWindow::quitStoppedAlert(QWidget *parent, const QString &informativeText)
{
    using Guard = focus::WritingLockAppDelegate;
    std::unique_ptr<QMessageBox> alert = guardAlert(parent);
    alert->setWindowTitle(QStringLiteral("Pennora"));
    alert->setText(Guard::quitStoppedTitle());
    alert->setInformativeText(informativeText);
    alert->setEscapeButton(alert->addButton(Guard::quitStoppedButton(), QMessageBox::AcceptRole));
    return alert;
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    // Closing the window is quitting: the application decides.
    event->ignore();
    emit quitRequested();
}

void MainWindow::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (m_shownOnce)
        return;
    m_shownOnce = true;
    // The start-up benchmark's mark: the first shown window.
    if (qEnvironmentVariableIsSet("PENNORA_STARTUP_MARK")) {
        QTimer::singleShot(0, this, [] {
            std::fputs("shown\n", stdout);
            std::fflush(stdout);
        });
    }
}

} // namespace app
