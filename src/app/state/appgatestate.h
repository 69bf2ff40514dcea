#pragma once
// The application's root state: it creates the long-lived models once, in a
// fixed order, keeps them for the life of the process, settles and changes
// the library's Home, and runs the start-up work: one engine check, then
// provisioning and the profile backup after every passing check. Lives on
// the main thread; no view code here, views observe it.

#include "editor/prose/prosedropbridge.h"
#include "focus/writinglockstate.h"

#include <QCoro/QCoroTask>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>
#include <memory>
#include <optional>

class QSettings;

namespace engine {
class EngineGateModel;
class MentorSessionModel;
} // namespace engine
namespace model {
class PostsModel;
}
namespace profiles {
class BackupModel;
class ProvisioningModel;
} // namespace profiles

namespace app {

class AppGateState : public QObject {
    Q_OBJECT
    // The Home folder (a local path). Every assignment stores it in the
    // settings; observers hear only of a real change.
    Q_PROPERTY(QString pennoraHome READ pennoraHome WRITE persistHome NOTIFY pennoraHomeChanged)
    Q_PROPERTY(bool spellChecking READ spellChecking WRITE setSpellChecking NOTIFY spellCheckingChanged)
    Q_PROPERTY(bool isFocused READ isFocused WRITE setIsFocused NOTIFY isFocusedChanged)

public:
    using DefaultHomeExists = std::function<bool()>;
    using CloudDriveRoot = std::function<std::optional<QString>()>;

    // Creates the models in order (drop bridge, engine gate, provisioning,
    // backup, mentor with its engine host, library, writing lock) and makes
    // the library model the process's current one. The Home is empty until
    // settleHome.
    explicit AppGateState(QObject *parent = nullptr);
    // The same, then settles the Home from settings.
    AppGateState(QSettings &settings, const DefaultHomeExists &defaultHomeExists = &AppGateState::defaultHomeExists,
                 const CloudDriveRoot &cloudDriveRoot = &AppGateState::cloudDriveRoot, QObject *parent = nullptr);
    ~AppGateState() override;

    editor::ProseDropBridge &proseDrop() { return m_proseDrop; }
    engine::EngineGateModel &gateModel() const { return *m_gateModel; }
    profiles::ProvisioningModel &provisioning() const { return *m_provisioning; }
    profiles::BackupModel &backup() const { return *m_backup; }
    engine::MentorSessionModel &mentor() const { return *m_mentor; }
    model::PostsModel &posts() const { return *m_posts; }
    focus::WritingLockState &writingLock() const { return *m_writingLock; }
    bool spellChecking() const { return m_spellChecking; }
    bool isFocused() const { return m_isFocused; }
    const QString &pennoraHome() const { return m_pennoraHome; }

    void setSpellChecking(bool on);
    void setIsFocused(bool on);
    // Flips focus mode and notifies even when nothing else changes.
    void toggleFocus();

    // Where the engine is looked for, in order, with the tilde kept.
    static QStringList engineCandidatePaths();

    // The Home at start: the one kept in settings (taken as it is, existing
    // or not, and not written back); else in a test run on the standard
    // settings the default Home, not stored; else the first-launch choice,
    // stored into settings at once.
    void settleHome(QSettings &settings, const DefaultHomeExists &defaultHomeExists = &AppGateState::defaultHomeExists,
                    const CloudDriveRoot &cloudDriveRoot = &AppGateState::cloudDriveRoot);
    // Whether <Documents>/Pennora is a folder now.
    static bool defaultHomeExists();
    // The cloud drive's root folder: none on Linux.
    static std::optional<QString> cloudDriveRoot();

    // Stores home as the Home and writes it to the standard settings, also
    // when it is the Home already (then without notifying).
    void persistHome(const QString &home);
    // Switches the library model to home, then stores it. False when the
    // model refused (an open text could not be saved; its reason is in the
    // model's lastError): then nothing changes.
    bool changeHome(const QString &home);

    // The launch work of every main window: installs the pass action and,
    // the first time in the process, checks the engine. Inert in a test run.
    QCoro::Task<void> startGate();
    // The engine check as the start-up runs it: the usual places, then the
    // login shell, 5 s for each candidate. The status card's Re-check too.
    QCoro::Task<void> checkEngine();
    // Makes provisionThenBackUp the engine gate's pass action.
    void wireOnPass();
    // The pass action: starts, without waiting, a task that provisions the
    // profiles with the engine just found and then backs them up.
    void provisionThenBackUp();

    // Starts the mentor's chat engine. The first start of the process waits
    // until the start-up check and its provisioning and backup have ended,
    // so the backup is not skipped for our own engine and provisioning
    // creates the chat profile; later starts go at once.
    QCoro::Task<void> startChatEngine();
    // True while the start-up check, or the provisioning and backup of its
    // pass, still run.
    bool startupWorkRunning() const { return m_startupWork == StartupWork::running; }

    // Starts a writing block on the open text (focus mode on). Nothing while
    // a block runs.
    void armWritingLock(const focus::WritingGoal &goal);
    // Routes dropped files: Markdown files open as an outside file (the
    // first of them), anything else goes to the live prose text view. False
    // when nothing took the drop, and always while a block runs.
    bool acceptDroppedFiles(const QList<QUrl> &urls);

signals:
    void pennoraHomeChanged();
    void spellCheckingChanged();
    void isFocusedChanged();
    void startupWorkEnded();
    // "pennora.toggleReadingMode": the open piece's editor flips between
    // editing and reading.
    void toggleReadingMode();

private:
    enum class StartupWork { notBegun, running, ended };

    void setHome(const QString &home);
    void endStartupWork();

    editor::ProseDropBridge m_proseDrop;
    std::unique_ptr<engine::EngineGateModel> m_gateModel;
    std::unique_ptr<profiles::ProvisioningModel> m_provisioning;
    std::unique_ptr<profiles::BackupModel> m_backup;
    std::unique_ptr<engine::MentorSessionModel> m_mentor;
    std::unique_ptr<model::PostsModel> m_posts;
    bool m_spellChecking = false;
    bool m_isFocused = false;
    std::unique_ptr<focus::WritingLockState> m_writingLock;
    QString m_pennoraHome;
    StartupWork m_startupWork = StartupWork::notBegun;
    bool m_passTaskStarted = false;
    bool m_chatStarted = false;
};

} // namespace app
