#include "engine/mentorturns.h"

#include "engine/guardedcall.h"
#include "engine/mentorengine.h"
#include "engine/mentorsessionmodel.h"
#include "foundation/notify.h"

#include <QPointer>

#include <utility>

namespace engine {

using namespace Qt::StringLiterals;

namespace {

const QString kMidTurnSession = u"Session refused — the mentor is mid-turn."_s;
const QString kMidTurnResume = u"Resume refused — the mentor is mid-turn."_s;
const QString kMidTurnFork = u"Fork refused — the mentor is mid-turn."_s;

using Kind = SessionRow::NoticeKind;
using Phase = MentorPhase;

// The non-empty "sessionId" of a session/new or session/fork answer.
std::optional<QString> newSessionID(const std::optional<JSONValue> &answer)
{
    if (!answer || !answer->isObject())
        return std::nullopt;
    std::optional<QString> id = answer->stringMember(u"sessionId"_s);
    if (!id || id->isEmpty())
        return std::nullopt;
    return id;
}

// session/load proves the engine knows the session by the first string of
// "sessionId" and "_meta"."hermes"."sessionProvenance"."acpSessionId".
bool loadAnswerKnowsSession(const std::optional<JSONValue> &answer)
{
    if (!answer || !answer->isObject())
        return false;
    std::optional<QString> id = answer->stringMember(u"sessionId"_s);
    if (!id) {
        std::optional<JSONValue> level = answer->objectMember(u"_meta"_s);
        if (level)
            level = level->objectMember(u"hermes"_s);
        if (level)
            level = level->objectMember(u"sessionProvenance"_s);
        if (level)
            id = level->stringMember(u"acpSessionId"_s);
    }
    return id && !id->isEmpty();
}

JSONValue sessionParams(const QString &cwd, const std::optional<QString> &sessionID)
{
    JSONValue::Object params{{u"cwd"_s, cwd}, {u"mcpServers"_s, JSONValue::Array()}};
    if (sessionID)
        params.insert(u"sessionId"_s, *sessionID);
    return params;
}

// The text of a chunk update; empty when it has none.
QString chunkText(const JSONValue &update)
{
    const std::optional<JSONValue> content = update.objectMember(u"content"_s);
    if (!content)
        return QString();
    return content->stringMember(u"text"_s).value_or(QString());
}

QString compactJson(const JSONValue &value)
{
    if (!value.isEncodable())
        return QString();
    return QString::fromUtf8(value.toCompactJson());
}

} // namespace

MentorTurns::MentorTurns(MentorSessionModel &model, MentorRoster &roster, MentorEngine &engine)
    : m_model(model), m_roster(roster), m_engine(engine)
{}

void MentorTurns::dropStreaming()
{
    for (auto it = m_transcripts.begin(); it != m_transcripts.end(); ++it) {
        if (it->streamingText.isEmpty() && it->streamingThought.isEmpty())
            continue;
        it->streamingText.clear();
        it->streamingThought.clear();
        emit m_model.streamingChanged(it.key());
    }
}

void MentorTurns::setStreaming(bool streaming)
{
    foundation::storeAndNotify(m_model, m_isStreaming, streaming, &MentorSessionModel::isStreamingChanged);
}

void MentorTurns::setActiveEntry(const std::optional<SessionEntry> &entry)
{
    foundation::storeAndNotify(m_model, m_activeEntry, entry, &MentorSessionModel::activeEntryChanged);
}

void MentorTurns::setReplayingSessionID(const std::optional<QString> &id)
{
    foundation::storeAndNotify(m_model, m_replayingSessionID, id, &MentorSessionModel::replayingSessionIDChanged);
}

void MentorTurns::setLastPrompt(const std::optional<QString> &prompt)
{
    foundation::storeAndNotify(m_model, m_lastPrompt, prompt, &MentorSessionModel::lastPromptChanged);
}

void MentorTurns::setPassWireID(const std::optional<QString> &id)
{
    foundation::storeAndNotify(m_model, m_passWireID, id, &MentorSessionModel::passWireIDChanged);
}

void MentorTurns::setPassCancelRequested(bool requested)
{
    foundation::storeAndNotify(m_model, m_passCancelRequested, requested,
                               &MentorSessionModel::passCancelRequestedChanged);
}

void MentorTurns::setPendingScope(const MentorPendingScope &scope)
{
    m_pendingScope = scope;
    emit m_model.pendingScopeChanged();
}

const MentorTranscript *MentorTurns::transcript(const QString &key) const
{
    const auto it = m_transcripts.constFind(key);
    return it == m_transcripts.cend() ? nullptr : &*it;
}

const MentorTranscript *MentorTurns::activeTranscript() const
{
    return m_activeEntry ? transcript(m_activeEntry->sessionID) : nullptr;
}

MentorTranscript &MentorTurns::transcriptFor(const QString &key)
{
    auto it = m_transcripts.find(key);
    if (it == m_transcripts.end()) {
        it = m_transcripts.insert(key, MentorTranscript());
        emit m_model.transcriptReset(key);
    }
    return *it;
}

void MentorTurns::resetTranscript(const QString &key)
{
    m_transcripts.insert(key, MentorTranscript());
    emit m_model.transcriptReset(key);
}

void MentorTurns::appendRow(SessionRow::Content content, const std::optional<QString> &key)
{
    if (!key)
        return;
    QList<SessionRow> &rows = transcriptFor(*key).rows;
    rows.append(SessionRow::make(std::move(content)));
    emit m_model.rowsAppended(*key, rows.size() - 1, 1);
}

void MentorTurns::appendToActive(SessionRow::Content content)
{
    if (m_activeEntry)
        appendRow(std::move(content), m_activeEntry->sessionID);
}

QCoro::Task<void> MentorTurns::follow(std::optional<QString> pieceTitle)
{
    if (m_engine.phase().which() != Phase::Case::ready)
        co_return;
    if (m_isStreaming || m_replayingSessionID) {
        setPendingScope({true, pieceTitle});
        co_return;
    }
    setPendingScope({});
    const std::optional<QString> id = m_roster.sessionID(pieceTitle);
    const std::optional<QString> activeID =
        m_activeEntry ? std::optional<QString>(m_activeEntry->sessionID) : std::nullopt;
    if (id == activeID)
        co_return;
    if (id) {
        for (const SessionEntry &entry : m_roster.entries()) {
            if (entry.sessionID == *id) {
                const SessionEntry found = entry;
                co_await resume(found);
                co_return;
            }
        }
    }
    setActiveEntry(std::nullopt);
}

void MentorTurns::drainPendingScope()
{
    if (!m_pendingScope.pending)
        return;
    const std::optional<QString> title = m_pendingScope.pieceTitle;
    setPendingScope({});
    m_model.later([title](MentorSessionModel &model) { QCoro::Task<void> detached = model.follow(title); });
}

void MentorTurns::activate(const SessionEntry &entry)
{
    resetTranscript(entry.sessionID);
    setActiveEntry(entry);
    m_engine.setPhase(Phase::ready());
}

bool MentorTurns::activateIfIdle(const SessionEntry &entry, bool reset, const QString &refusal)
{
    if (m_isStreaming) {
        appendToActive(SessionRow::notice(refusal, Kind::refused));
        return false;
    }
    if (reset)
        resetTranscript(entry.sessionID);
    setActiveEntry(entry);
    m_engine.setPhase(Phase::ready());
    return true;
}

QCoro::Task<std::optional<SessionEntry>> MentorTurns::newSession(QString name, std::optional<QString> pieceTitle)
{
    if (m_engine.phase().which() != Phase::Case::ready || !m_engine.host().chat())
        co_return std::nullopt;
    co_return co_await createSession(std::move(name), std::move(pieceTitle));
}

QCoro::Task<std::optional<SessionEntry>> MentorTurns::createSession(QString name, std::optional<QString> pieceTitle)
{
    if (m_isStreaming) {
        appendToActive(SessionRow::notice(kMidTurnSession, Kind::refused));
        co_return std::nullopt;
    }
    const std::shared_ptr<EngineTransport> chat = m_engine.host().chat();
    if (!chat)
        co_return std::nullopt;
    const QPointer<MentorSessionModel> self(&m_model);
    auto calling = guardedCall(self, [&] {
        return chat->request(u"session/new"_s, sessionParams(m_model.cwdProvider()(), std::nullopt),
                             MentorSessionModel::sessionNewTimeout);
    });
    const std::optional<CallResult<std::optional<JSONValue>>> answered = co_await std::move(calling);
    if (!answered)
        co_return std::nullopt;
    if (answered->failure) {
        appendToActive(SessionRow::notice(u"Session refused — "_s + *answered->failure, Kind::refused));
        co_return std::nullopt;
    }
    const std::optional<QString> id = newSessionID(answered->answer);
    if (!id) {
        appendToActive(SessionRow::notice(u"Session refused — the engine returned no id."_s, Kind::refused));
        co_return std::nullopt;
    }
    const SessionEntry entry{*id, name, pieceTitle, QDateTime::currentDateTimeUtc()};
    if (!activateIfIdle(entry, true, kMidTurnSession))
        co_return std::nullopt;
    m_roster.prepend(entry);
    co_return entry;
}

QCoro::Task<bool> MentorTurns::resume(SessionEntry entry)
{
    const std::shared_ptr<EngineTransport> chat = m_engine.host().chat();
    if (m_engine.phase().which() != Phase::Case::ready || !chat)
        co_return false;
    if (m_isStreaming) {
        appendToActive(SessionRow::notice(kMidTurnResume, Kind::refused));
        co_return false;
    }
    if (m_replayingSessionID) {
        appendToActive(SessionRow::notice(u"Resume refused — another session is loading."_s, Kind::refused));
        co_return false;
    }
    const QPointer<MentorSessionModel> self(&m_model);
    resetTranscript(entry.sessionID);
    setReplayingSessionID(entry.sessionID);
    auto calling = guardedCall(self, [&] {
        return chat->request(u"session/load"_s, sessionParams(m_model.cwdProvider()(), entry.sessionID),
                             MentorSessionModel::sessionLoadTimeout);
    });
    const std::optional<CallResult<std::optional<JSONValue>>> answered = co_await std::move(calling);
    if (!answered)
        co_return false;
    setReplayingSessionID(std::nullopt);
    drainPendingScope();
    if (answered->failure) {
        appendRow(SessionRow::notice(u"Resume failed — "_s + *answered->failure, Kind::failed), entry.sessionID);
        co_return false;
    }
    if (!loadAnswerKnowsSession(answered->answer)) {
        appendRow(SessionRow::notice(u"The engine does not know “"_s + entry.name
                                         + u"” — its history is no longer on the engine."_s,
                                     Kind::refused),
                  entry.sessionID);
        co_return false;
    }
    co_return activateIfIdle(entry, false, kMidTurnResume);
}

QCoro::Task<std::optional<SessionEntry>> MentorTurns::startBrainstorm(std::optional<QString> pieceTitle)
{
    const QPointer<MentorSessionModel> self(&m_model);
    const std::optional<SessionEntry> entry = co_await newSession(u"Brainstorm"_s, std::move(pieceTitle));
    if (!self || !entry)
        co_return std::nullopt;
    co_await send(MentorSessionModel::brainstormKickoff, u"Brainstorm"_s);
    co_return entry;
}

QCoro::Task<TurnOutcome> MentorTurns::send(QString text, std::optional<QString> label)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty() || m_engine.phase().which() != Phase::Case::ready || m_isStreaming || !m_activeEntry)
        co_return TurnOutcome::failed();
    if (m_activeEntry->sessionID == MentorSessionModel::passKey) {
        appendRow(
            SessionRow::notice(u"Pick or start a session to chat — the pass transcript is read-only."_s, Kind::refused),
            MentorSessionModel::passKey);
        co_return TurnOutcome::failed();
    }
    const std::shared_ptr<EngineTransport> chat = m_engine.host().chat();
    if (!chat)
        co_return TurnOutcome::failed();
    const QPointer<MentorSessionModel> self(&m_model);
    setStreaming(true);
    SessionRow::Content row = label ? SessionRow::notice(*label, Kind::plain)
                                    : SessionRow::text(trimmed, SessionRow::Speaker::user, Kind::plain);
    const QString id = m_activeEntry->sessionID;
    const TurnOutcome outcome = co_await prompt(*chat, id, id, trimmed, std::move(row));
    if (!self)
        co_return outcome;
    setStreaming(false);
    m_engine.runPendingRestart();
    drainPendingScope();
    co_return outcome;
}

QCoro::Task<std::optional<SessionEntry>> MentorTurns::fork()
{
    const std::shared_ptr<EngineTransport> chat = m_engine.host().chat();
    if (m_engine.phase().which() != Phase::Case::ready || !chat || !m_activeEntry || m_isStreaming)
        co_return std::nullopt;
    const QPointer<MentorSessionModel> self(&m_model);
    const SessionEntry source = *m_activeEntry;
    auto calling = guardedCall(self, [&] {
        return chat->request(u"session/fork"_s, sessionParams(m_model.cwdProvider()(), source.sessionID),
                             MentorSessionModel::sessionForkTimeout);
    });
    const std::optional<CallResult<std::optional<JSONValue>>> answered = co_await std::move(calling);
    if (!answered)
        co_return std::nullopt;
    if (answered->failure) {
        appendRow(SessionRow::notice(u"Fork failed — "_s + *answered->failure, Kind::failed), source.sessionID);
        co_return std::nullopt;
    }
    const std::optional<QString> id = newSessionID(answered->answer);
    if (!id) {
        appendRow(SessionRow::notice(u"Fork refused — the engine returned no new session."_s, Kind::refused),
                  source.sessionID);
        co_return std::nullopt;
    }
    const SessionEntry entry{*id, source.name + u" (fork)"_s, source.pieceTitle, QDateTime::currentDateTimeUtc()};
    if (!activateIfIdle(entry, true, kMidTurnFork))
        co_return std::nullopt;
    m_roster.prepend(entry);
    co_return entry;
}

QCoro::Task<void> MentorTurns::compact()
{
    if (m_engine.phase().which() != Phase::Case::ready || m_isStreaming || !m_activeEntry)
        co_return;
    co_await send(u"/compress"_s, u"Compact…"_s);
}

void MentorTurns::cancelTurn()
{
    if (!m_isStreaming || !m_activeEntry)
        return;
    if (m_activeEntry->sessionID == MentorSessionModel::passKey) {
        setPassCancelRequested(true);
        if (m_passWireID && m_engine.host().oneShot())
            m_engine.host().oneShot()->notify(u"session/cancel"_s,
                                              JSONValue(JSONValue::Object{{u"sessionId"_s, *m_passWireID}}));
        return;
    }
    if (const std::shared_ptr<EngineTransport> chat = m_engine.host().chat())
        chat->notify(u"session/cancel"_s, JSONValue(JSONValue::Object{{u"sessionId"_s, m_activeEntry->sessionID}}));
}

void MentorTurns::handleNotification(const QString &method, const std::optional<JSONValue> &params)
{
    if (method != u"session/update"_s || !params || !params->isObject() || params->toObject().isEmpty())
        return;
    const std::optional<QString> sessionID = params->stringMember(u"sessionId"_s);
    const std::optional<JSONValue> update = params->objectMember(u"update"_s);
    if (!sessionID || !update)
        return;
    const QString key = m_passWireID && *m_passWireID == *sessionID ? MentorSessionModel::passKey : *sessionID;
    const auto it = m_transcripts.find(key);
    if (it == m_transcripts.end())
        return;
    const QString kind = update->stringMember(u"sessionUpdate"_s).value_or(u"unknown"_s);
    const bool replay = m_replayingSessionID == key;

    if (kind == u"agent_message_chunk") {
        if (replay) {
            appendRow(SessionRow::agentReply(chunkText(*update)), key);
        } else {
            it->streamingText += chunkText(*update);
            emit m_model.streamingChanged(key);
        }
    } else if (kind == u"agent_thought_chunk") {
        if (replay) {
            appendRow(SessionRow::Thought{chunkText(*update)}, key);
        } else {
            it->streamingThought += chunkText(*update);
            emit m_model.streamingChanged(key);
        }
    } else if (kind == u"user_message_chunk") {
        if (!replay)
            return;
        const QString text = chunkText(*update);
        appendRow(text.startsWith(u"Pass Pass "_s) ? SessionRow::notice(text, Kind::kickoff)
                                                   : SessionRow::text(text, SessionRow::Speaker::user, Kind::plain),
                  key);
    } else if (kind == u"tool_call") {
        handleToolCall(*update, key);
    } else {
        appendRow(SessionRow::Raw{kind, compactJson(*update)}, key);
    }
}

void MentorTurns::handleToolCall(const JSONValue &update, const QString &key)
{
    const QString title = update.stringMember(u"title"_s).value_or(u"tool call"_s);
    const std::optional<JSONValue> rawInput = update.member(u"rawInput"_s);

    QList<review::ResearchCandidate> candidates;
    if (rawInput && rawInput->isObject()) {
        const std::optional<JSONValue> notes = rawInput->member(u"notes"_s);
        if (notes && notes->isArray())
            candidates = review::ToolPayloads::transcriptResearchCandidates(*rawInput);
    }
    if (!candidates.isEmpty()) {
        QList<SessionRow> &rows = transcriptFor(key).rows;
        const qsizetype first = rows.size();
        for (review::ResearchCandidate &candidate : candidates) {
            candidate.disposition = review::ResearchCandidate::Disposition::pending();
            rows.append(SessionRow::make(std::move(candidate)));
        }
        emit m_model.rowsAppended(key, first, rows.size() - first);
        return;
    }
    if (rawInput) {
        if (std::optional<review::FixCard> card = review::ToolPayloads::transcriptFixCard(*rawInput)) {
            appendRow(std::move(*card), key);
            return;
        }
    }
    appendRow(SessionRow::Raw{title, rawInput ? compactJson(*rawInput) : u"{}"_s}, key);
}

void MentorTurns::setDisposition(const QUuid &rowID, const review::ResearchCandidate::Disposition &disposition)
{
    if (!m_activeEntry)
        return;
    const QString key = m_activeEntry->sessionID;
    const auto it = m_transcripts.find(key);
    if (it == m_transcripts.end())
        return;
    QList<SessionRow> &rows = it->rows;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        if (rows.at(i).id != rowID)
            continue;
        auto *candidate = std::get_if<review::ResearchCandidate>(&rows[i].content);
        if (!candidate)
            return;
        candidate->disposition = disposition;
        emit m_model.rowChanged(key, i);
        return;
    }
}

QCoro::Task<TurnOutcome> MentorTurns::prompt(EngineTransport &connection, QString engineSessionID, QString key,
                                             QString promptText, SessionRow::Content promptRow)
{
    const QPointer<MentorSessionModel> self(&m_model);
    setLastPrompt(promptText);
    appendRow(std::move(promptRow), key);
    setStreaming(true);

    const JSONValue params(JSONValue::Object{
        {u"sessionId"_s, engineSessionID},
        {u"prompt"_s, JSONValue::Array{JSONValue::Object{{u"type"_s, u"text"_s}, {u"text"_s, promptText}}}},
    });
    auto calling = guardedCall(
        self, [&] { return connection.request(u"session/prompt"_s, params, MentorSessionModel::promptTimeout); });
    const std::optional<CallResult<std::optional<JSONValue>>> answered = co_await std::move(calling);
    if (!answered)
        co_return TurnOutcome::failed();
    const std::optional<QString> &failure = answered->failure;
    const std::optional<JSONValue> &answer = answered->answer;

    TurnOutcome outcome = TurnOutcome::failed();
    if (failure) {
        // A crash notice already tells the writer.
        if (m_engine.phase().which() != Phase::Case::crashed)
            appendRow(
                SessionRow::text(u"connection lost — "_s + *failure, SessionRow::Speaker::agent, Kind::connectionLost),
                key);
    } else if (const std::optional<QString> stop =
                   answer && answer->isObject() ? answer->stringMember(u"stopReason"_s) : std::nullopt;
               stop && !stop->isEmpty()) {
        if (*stop == u"refusal") {
            appendRow(SessionRow::text(u"(refused the prompt)"_s, SessionRow::Speaker::agent, Kind::refused), key);
            outcome = TurnOutcome::ended(*stop);
        } else if (*stop == u"cancelled") {
            outcome = TurnOutcome::cancelled();
        } else {
            outcome = TurnOutcome::ended(*stop);
        }
    }
    finishTurn(key);
    co_return outcome;
}

void MentorTurns::finishTurn(const QString &key)
{
    const auto it = m_transcripts.find(key);
    if (it != m_transcripts.end()) {
        const QString thought = std::exchange(it->streamingThought, QString());
        const QString text = std::exchange(it->streamingText, QString());
        if (!thought.isEmpty())
            appendRow(SessionRow::Thought{thought}, key);
        if (!text.isEmpty())
            appendRow(SessionRow::agentReply(text), key);
        if (!thought.isEmpty() || !text.isEmpty())
            emit m_model.streamingChanged(key);
    }
    setStreaming(false);
}

QCoro::Task<TurnOutcome> MentorTurns::runPass(QString profile, QString label, QString promptText, QString pieceTitle)
{
    if (m_engine.phase().which() != Phase::Case::ready || m_isStreaming || m_engine.host().oneShot()
        || !m_engine.host().binaryPath)
        co_return TurnOutcome::failed();
    const QPointer<MentorSessionModel> self(&m_model);
    resetTranscript(MentorSessionModel::passKey);
    setActiveEntry(SessionEntry{MentorSessionModel::passKey, label + u" · "_s + pieceTitle, pieceTitle,
                                QDateTime::currentDateTimeUtc()});
    setStreaming(true);

    auto running = guardedCall(self, [&] {
        return m_engine.host().startOneShot(
            profile, [self, label, promptText](EngineTransport &connection) -> QCoro::Task<TurnOutcome> {
                if (!self)
                    return []() -> QCoro::Task<TurnOutcome> { co_return TurnOutcome::failed(); }();
                return self->openPassSession(connection, label, promptText);
            });
    });
    const std::optional<CallResult<TurnOutcome>> ran = co_await std::move(running);
    if (!ran)
        co_return TurnOutcome::failed();
    TurnOutcome outcome = ran->answer;
    if (ran->failure) {
        appendRow(SessionRow::notice(label + u" failed — "_s + *ran->failure, Kind::failed),
                  MentorSessionModel::passKey);
        outcome = TurnOutcome::failed();
    }
    setPassWireID(std::nullopt);
    setPassCancelRequested(false);
    setStreaming(false);
    m_engine.runPendingRestart();
    drainPendingScope();
    co_return outcome;
}

QCoro::Task<TurnOutcome> MentorTurns::openPassSession(EngineTransport &connection, QString label, QString promptText)
{
    const QPointer<MentorSessionModel> self(&m_model);
    auto calling = guardedCall(self, [&] {
        return connection.request(u"session/new"_s, sessionParams(m_model.cwdProvider()(), std::nullopt),
                                  MentorSessionModel::sessionNewTimeout);
    });
    const std::optional<CallResult<std::optional<JSONValue>>> answered = co_await std::move(calling);
    if (!answered)
        co_return TurnOutcome::failed();
    if (answered->failure) {
        appendRow(SessionRow::notice(label + u" failed — "_s + *answered->failure, Kind::failed),
                  MentorSessionModel::passKey);
        co_return TurnOutcome::failed();
    }
    const std::optional<QString> id = newSessionID(answered->answer);
    if (!id) {
        appendRow(SessionRow::notice(label + u" failed — the engine refused a session."_s, Kind::failed),
                  MentorSessionModel::passKey);
        co_return TurnOutcome::failed();
    }
    setPassWireID(*id);
    if (m_passCancelRequested) {
        appendRow(SessionRow::notice(label + u" cancelled."_s, Kind::plain), MentorSessionModel::passKey);
        co_return TurnOutcome::cancelled();
    }
    co_return co_await prompt(connection, *id, MentorSessionModel::passKey, promptText,
                              SessionRow::notice(label, Kind::plain));
}

QCoro::Task<TurnOutcome> MentorTurns::runBlindRead(QString promptText, QString pieceTitle, QString abLine)
{
    const QPointer<MentorSessionModel> self(&m_model);
    const TurnOutcome outcome =
        co_await runPass(EngineHost::chatProfile, u"Blind Read"_s, std::move(promptText), std::move(pieceTitle));
    if (self && outcome.which == TurnOutcome::Case::ended && outcome.stopReason != u"refusal")
        appendRow(SessionRow::notice(abLine, Kind::plain), MentorSessionModel::passKey);
    co_return outcome;
}

} // namespace engine
