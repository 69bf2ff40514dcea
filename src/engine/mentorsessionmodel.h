#pragma once
// The one observable model of the AI mentor: the chat engine's phase, the
// roster of chat sessions in sessions.json, the transcripts of the sessions
// shown, the one turn that may run at a time, and the readiness of the
// Passes. It lives on the main thread and is the face the views bind to;
// the work is done by three collaborators it owns, each with one concern:
// MentorRoster (the roster and its file), MentorEngine (the engine host and
// the chat engine's lifecycle) and MentorTurns (turns, transcripts and the
// session commands). They notify this model's signals.
//
// Commands suspend while the engine works and other main-thread work runs
// meanwhile, so every step after a wait re-checks the state it depends on.
// Work deferred by a turn or a replay (following the open piece, a restart)
// runs later as queued calls on the main thread, never inside a callback.
//
// Transcripts change often (every streamed chunk), so they are not notified
// as a whole: views follow transcriptReset, rowsAppended, rowChanged and
// streamingChanged, and read the live transcript through transcript().

#include "engine/enginehost.h"
#include "engine/mentorengine.h"
#include "engine/mentorroster.h"
#include "engine/mentorturns.h"
#include "engine/passreadiness.h"
#include "engine/sessionrow.h"

#include <QCoro/QCoroTask>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace engine {

class MentorSessionModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isStreaming READ isStreaming NOTIFY isStreamingChanged)
    Q_PROPERTY(bool pendingRestart READ pendingRestart NOTIFY pendingRestartChanged)
    Q_PROPERTY(bool passCancelRequested READ passCancelRequested NOTIFY passCancelRequestedChanged)

public:
    using Phase = MentorPhase;
    using SessionTranscript = MentorTranscript;
    using PendingScope = MentorPendingScope;

    // Builds a settings reader for refreshPassReadiness() when none is set:
    // the engine executable and its profiles folder.
    using SettingsReaderFactory =
        std::function<std::shared_ptr<profiles::SettingsWriting>(const QString &binaryPath, const QString &profileRoot)>;
    using CwdProvider = std::function<QString()>;

    static const QString passKey; // "pass": the transcript of a Pass or Blind Read
    static const QString brainstormKickoff;
    static constexpr int stderrTailLines = 20;
    static constexpr std::chrono::milliseconds sessionNewTimeout = std::chrono::seconds(15);
    static constexpr std::chrono::milliseconds sessionLoadTimeout = std::chrono::minutes(30);
    static constexpr std::chrono::milliseconds sessionForkTimeout = std::chrono::seconds(15);
    static constexpr std::chrono::milliseconds promptTimeout = std::chrono::minutes(30);

    // rosterDirectory none: the application data folder, or a fresh temporary
    // folder in a test run.
    MentorSessionModel(std::unique_ptr<EngineHost> host, std::optional<QString> binaryPath,
                       std::optional<QString> rosterDirectory, QObject *parent = nullptr);
    ~MentorSessionModel() override;

    // --- State -------------------------------------------------------------
    const Phase &phase() const { return m_engine.phase(); }
    bool isStreaming() const { return m_turns.isStreaming(); }
    const QList<SessionEntry> &roster() const { return m_roster.entries(); }
    const std::optional<SessionEntry> &activeEntry() const { return m_turns.activeEntry(); }
    const std::optional<QString> &versionNote() const { return m_engine.versionNote(); }
    const std::optional<QString> &engineVersion() const { return m_engine.engineVersion(); }
    const QStringList &stderrTail() const { return m_engine.stderrTail(); }
    const std::optional<QString> &replayingSessionID() const { return m_turns.replayingSessionID(); }
    const std::optional<QString> &rosterDirectory() const { return m_roster.directory(); }
    EngineHost &host() const { return m_engine.host(); }
    const std::optional<QString> &lastPrompt() const { return m_turns.lastPrompt(); }
    const std::optional<QString> &passWireID() const { return m_turns.passWireID(); }
    bool passCancelRequested() const { return m_turns.passCancelRequested(); }
    bool pendingRestart() const { return m_engine.pendingRestart(); }
    const PendingScope &pendingScope() const { return m_turns.pendingScope(); }
    const PassReadinessMap &passReadiness() const { return m_passReadiness; }
    const std::shared_ptr<profiles::SettingsWriting> &passReadinessWriter() const { return m_passReadinessWriter; }
    const QString &portalAuthPath() const { return m_portalAuthPath; }
    const std::optional<QString> &binaryPath() const { return m_engine.binaryPath(); }
    const CwdProvider &cwdProvider() const { return m_cwdProvider; }

    // Every transcript, by engine session id (and passKey).
    const QHash<QString, SessionTranscript> &transcripts() const { return m_turns.transcripts(); }
    // The transcript under key; null when there is none. Valid until the next
    // change of the model.
    const SessionTranscript *transcript(const QString &key) const;
    // The active entry's transcript; null without one.
    const SessionTranscript *activeTranscript() const;

    void setBinaryPath(const std::optional<QString> &path); // also sets the host's
    void setPassReadinessWriter(std::shared_ptr<profiles::SettingsWriting> writer);
    void setPortalAuthPath(const QString &path);
    void setCwdProvider(CwdProvider provider);
    // Used when no readiness writer is set and an engine path is known.
    SettingsReaderFactory settingsReaderFactory;

    // --- Engine lifecycle --------------------------------------------------
    // From idle: starts the chat engine and restores the active session.
    QCoro::Task<void> start();
    // Stops and starts the chat engine and reloads the active session.
    QCoro::Task<void> restart();
    // Restarts now, or after the running turn.
    void restartWhenIdle();
    // At quit: closes both engines (each given up to a second) and goes idle.
    void shutdown();
    // Shows the open piece's session (title none: no piece is open).
    QCoro::Task<void> follow(std::optional<QString> pieceTitle);
    // The session id of the newest roster entry of that piece.
    std::optional<QString> sessionID(const std::optional<QString> &pieceTitle) const
    {
        return m_roster.sessionID(pieceTitle);
    }
    PassReadiness readiness(PassKind kind) const;
    QCoro::Task<void> refreshPassReadiness();

    // --- Session commands --------------------------------------------------
    // Creates a session when the engine is ready; none otherwise.
    QCoro::Task<std::optional<SessionEntry>> newSession(QString name, std::optional<QString> pieceTitle);
    QCoro::Task<std::optional<SessionEntry>> createSession(QString name, std::optional<QString> pieceTitle);
    // Loads entry's history from the engine and makes it active.
    QCoro::Task<bool> resume(SessionEntry entry);
    QCoro::Task<std::optional<SessionEntry>> startBrainstorm(std::optional<QString> pieceTitle);
    // A message of the writer (label none) or a labelled prompt.
    QCoro::Task<TurnOutcome> send(QString text, std::optional<QString> label);
    QCoro::Task<std::optional<SessionEntry>> fork();
    QCoro::Task<void> compact();
    void cancelTurn();

    // --- Turns, Passes and the Blind Read ----------------------------------
    QCoro::Task<TurnOutcome> prompt(EngineTransport &connection, QString engineSessionID, QString key,
                                    QString promptText, SessionRow::Content promptRow);
    void finishTurn(const QString &key);
    // Runs a Pass on a one-shot engine of profile ("pennora-pass1"...).
    QCoro::Task<TurnOutcome> runPass(QString profile, QString label, QString promptText, QString pieceTitle);
    QCoro::Task<TurnOutcome> openPassSession(EngineTransport &connection, QString label, QString promptText);
    // A Pass on the chat profile; abLine shows only under an ended verdict.
    QCoro::Task<TurnOutcome> runBlindRead(QString promptText, QString pieceTitle, QString abLine);

    // --- Rows --------------------------------------------------------------
    void appendRow(SessionRow::Content content, const std::optional<QString> &key);
    void handleToolCall(const JSONValue &update, const QString &key);
    void setDisposition(const QUuid &rowID, const review::ResearchCandidate::Disposition &disposition);

    // --- Callbacks of the host and small state steps -------------------------
    void engineDidCrash();
    void appendStderrLine(const QString &line);
    void handleNotification(const QString &method, const std::optional<JSONValue> &params);
    void activate(const SessionEntry &entry);
    bool activateIfIdle(const SessionEntry &entry, bool reset, const QString &refusal);
    void drainPendingScope();
    void runPendingRestart();

    // sessions.json in folder (none: the default folder), 0600 from its first
    // byte. Failures are logged and leave the file as it was.
    static void saveRoster(const QList<SessionEntry> &roster, const std::optional<QString> &folder)
    {
        MentorRoster::save(roster, folder);
    }
    // The roster of folder; empty when missing or unreadable. A file that
    // exists but does not decode is renamed aside first, so it is never
    // overwritten.
    static QList<SessionEntry> loadRoster(const std::optional<QString> &folder) { return MentorRoster::load(folder); }
    static QString defaultRosterFolder() { return MentorRoster::defaultFolder(); }
    static QByteArray encodeRoster(const QList<SessionEntry> &roster) { return MentorRoster::encode(roster); }
    static std::optional<QList<SessionEntry>> decodeRoster(const QByteArray &json)
    {
        return MentorRoster::decode(json);
    }

signals:
    void phaseChanged();
    void isStreamingChanged();
    void rosterChanged();
    void activeEntryChanged();
    void versionNoteChanged();
    void engineVersionChanged();
    void stderrTailChanged();
    void replayingSessionIDChanged();
    void lastPromptChanged();
    void passWireIDChanged();
    void passCancelRequestedChanged();
    void pendingRestartChanged();
    void pendingScopeChanged();
    void passReadinessChanged();
    void passReadinessWriterChanged();
    void portalAuthPathChanged();
    void binaryPathChanged();
    void cwdProviderChanged();
    // The transcript under key was emptied (or made).
    void transcriptReset(const QString &key);
    void rowsAppended(const QString &key, qsizetype first, qsizetype count);
    // A row's content changed (a research candidate's disposition).
    void rowChanged(const QString &key, qsizetype index);
    // The streaming text or thought under key changed.
    void streamingChanged(const QString &key);

private:
    // The collaborators step the model's state and notify its signals.
    friend class MentorEngine;
    friend class MentorTurns;
    friend class MentorRoster;

    // Runs fn on the main thread after the current call has returned.
    void later(std::function<void(MentorSessionModel &)> fn);
    // In this order: each is made with references to the others.
    MentorRoster m_roster;
    MentorEngine m_engine;
    MentorTurns m_turns;
    PassReadinessMap m_passReadiness;
    std::shared_ptr<profiles::SettingsWriting> m_passReadinessWriter;
    QString m_portalAuthPath;
    CwdProvider m_cwdProvider;
};

} // namespace engine
