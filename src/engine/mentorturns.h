#pragma once
// The mentor's turns and transcripts: the session shown, the transcript of
// every session and of the Passes, the one turn that may run at a time, the
// session commands that change what is shown, and the follow of the open
// piece deferred while a turn streams or a replay runs. Owned by
// MentorSessionModel, whose signals it notifies; the roster and the engine
// lifecycle are reached through the references it is given.

#include "engine/enginetransport.h"
#include "engine/mentorroster.h"
#include "engine/sessionrow.h"

#include <QCoro/QCoroTask>
#include <QHash>
#include <QList>
#include <QString>
#include <QUuid>
#include <optional>

namespace engine {

class MentorSessionModel;
class MentorEngine;

// How a prompt turn ended.
struct TurnOutcome {
    enum class Case { ended, cancelled, failed };
    Case which = Case::failed;
    QString stopReason; // ended only

    static TurnOutcome ended(QString stopReason) { return {Case::ended, std::move(stopReason)}; }
    static TurnOutcome cancelled() { return {Case::cancelled, {}}; }
    static TurnOutcome failed() { return {Case::failed, {}}; }
    bool operator==(const TurnOutcome &) const = default;
};

struct MentorTranscript {
    QList<SessionRow> rows;
    QString streamingText;    // the reply arriving in the running turn
    QString streamingThought; // the thinking arriving in the running turn
};

// A follow of the open piece deferred while a turn streams or a replay runs.
struct MentorPendingScope {
    bool pending = false;
    std::optional<QString> pieceTitle; // none: no piece is open
};

class MentorTurns {
public:
    MentorTurns(MentorSessionModel &model, MentorRoster &roster, MentorEngine &engine);

    bool isStreaming() const { return m_isStreaming; }
    const std::optional<SessionEntry> &activeEntry() const { return m_activeEntry; }
    const std::optional<QString> &replayingSessionID() const { return m_replayingSessionID; }
    const std::optional<QString> &lastPrompt() const { return m_lastPrompt; }
    const std::optional<QString> &passWireID() const { return m_passWireID; }
    bool passCancelRequested() const { return m_passCancelRequested; }
    const MentorPendingScope &pendingScope() const { return m_pendingScope; }
    const QHash<QString, MentorTranscript> &transcripts() const { return m_transcripts; }
    const MentorTranscript *transcript(const QString &key) const;
    const MentorTranscript *activeTranscript() const;

    QCoro::Task<void> follow(std::optional<QString> pieceTitle);
    void drainPendingScope();
    void activate(const SessionEntry &entry);
    bool activateIfIdle(const SessionEntry &entry, bool reset, const QString &refusal);

    QCoro::Task<std::optional<SessionEntry>> newSession(QString name, std::optional<QString> pieceTitle);
    QCoro::Task<std::optional<SessionEntry>> createSession(QString name, std::optional<QString> pieceTitle);
    QCoro::Task<bool> resume(SessionEntry entry);
    QCoro::Task<std::optional<SessionEntry>> startBrainstorm(std::optional<QString> pieceTitle);
    QCoro::Task<TurnOutcome> send(QString text, std::optional<QString> label);
    QCoro::Task<std::optional<SessionEntry>> fork();
    QCoro::Task<void> compact();
    void cancelTurn();

    QCoro::Task<TurnOutcome> prompt(EngineTransport &connection, QString engineSessionID, QString key,
                                    QString promptText, SessionRow::Content promptRow);
    void finishTurn(const QString &key);
    QCoro::Task<TurnOutcome> runPass(QString profile, QString label, QString promptText, QString pieceTitle);
    QCoro::Task<TurnOutcome> openPassSession(EngineTransport &connection, QString label, QString promptText);
    QCoro::Task<TurnOutcome> runBlindRead(QString promptText, QString pieceTitle, QString abLine);

    void appendRow(SessionRow::Content content, const std::optional<QString> &key);
    void handleToolCall(const JSONValue &update, const QString &key);
    void setDisposition(const QUuid &rowID, const review::ResearchCandidate::Disposition &disposition);
    void handleNotification(const QString &method, const std::optional<JSONValue> &params);
    // Drops the reply and thought of a turn an engine stop cut short.
    void dropStreaming();

    void resetTranscript(const QString &key);
    void appendToActive(SessionRow::Content content);
    MentorTranscript &transcriptFor(const QString &key);
    void setStreaming(bool streaming);
    void setActiveEntry(const std::optional<SessionEntry> &entry);
    void setReplayingSessionID(const std::optional<QString> &id);
    void setLastPrompt(const std::optional<QString> &prompt);
    void setPassWireID(const std::optional<QString> &id);
    void setPassCancelRequested(bool requested);
    void setPendingScope(const MentorPendingScope &scope);

private:
    MentorSessionModel &m_model;
    MentorRoster &m_roster;
    MentorEngine &m_engine;
    bool m_isStreaming = false;
    std::optional<SessionEntry> m_activeEntry;
    QHash<QString, MentorTranscript> m_transcripts;
    std::optional<QString> m_replayingSessionID;
    std::optional<QString> m_lastPrompt;
    std::optional<QString> m_passWireID;
    bool m_passCancelRequested = false;
    MentorPendingScope m_pendingScope;
};

} // namespace engine
