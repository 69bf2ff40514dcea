#include "engine/mentorsessionmodel.h"

#include "foundation/notify.h"
#include "foundation/paths.h"

#include <QDir>
#include <QMetaObject>
#include <QPointer>

namespace engine {

using namespace Qt::StringLiterals;

const QString MentorSessionModel::passKey = u"pass"_s;
const QString MentorSessionModel::brainstormKickoff =
    u"Let's brainstorm together. Ask me one question at a time to draw out ideas and angles for what I want to "
    u"write — keep replies short and generative, and don't draft prose unless I ask."_s;

// --- Construction ----------------------------------------------------------

MentorSessionModel::MentorSessionModel(std::unique_ptr<EngineHost> host, std::optional<QString> binaryPath,
                                       std::optional<QString> rosterDirectory, QObject *parent)
    : QObject(parent), m_roster(*this, std::move(rosterDirectory)),
      m_engine(*this, m_roster, m_turns, std::move(host), std::move(binaryPath)), m_turns(*this, m_roster, m_engine),
      m_portalAuthPath(foundation::paths::expandTilde(u"~/.hermes/auth.json"_s)),
      m_cwdProvider([] { return QDir::homePath(); })
{
    const QPointer<MentorSessionModel> self(this);
    EngineHost &engineHost = m_engine.host();
    engineHost.onNotification = [self](const QString &method, const std::optional<JSONValue> &params) {
        if (self)
            self->handleNotification(method, params);
    };
    engineHost.onCrash = [self] {
        if (self)
            self->engineDidCrash();
    };
    engineHost.onStderrLine = [self](const QString &line) {
        if (self)
            self->appendStderrLine(line);
    };
}

MentorSessionModel::~MentorSessionModel()
{
    // The host closes its engines as it goes; nothing it reports then is ours.
    EngineHost &engineHost = m_engine.host();
    engineHost.onNotification = nullptr;
    engineHost.onCrash = nullptr;
    engineHost.onStderrLine = nullptr;
    m_engine.releaseHost();
}

void MentorSessionModel::later(std::function<void(MentorSessionModel &)> fn)
{
    const QPointer<MentorSessionModel> self(this);
    QMetaObject::invokeMethod(
        this,
        [self, fn = std::move(fn)] {
            if (self)
                fn(*self);
        },
        Qt::QueuedConnection);
}

// --- Settings and the readiness of the Passes --------------------------------

void MentorSessionModel::setBinaryPath(const std::optional<QString> &path)
{
    m_engine.setBinaryPath(path);
}

void MentorSessionModel::setPassReadinessWriter(std::shared_ptr<profiles::SettingsWriting> writer)
{
    m_passReadinessWriter = std::move(writer);
    emit passReadinessWriterChanged();
}

void MentorSessionModel::setPortalAuthPath(const QString &path)
{
    foundation::storeAndNotify(*this, m_portalAuthPath, path, &MentorSessionModel::portalAuthPathChanged);
}

void MentorSessionModel::setCwdProvider(CwdProvider provider)
{
    m_cwdProvider = std::move(provider);
    emit cwdProviderChanged();
}

PassReadiness MentorSessionModel::readiness(PassKind kind) const
{
    const auto it = m_passReadiness.find(kind);
    return it == m_passReadiness.end() ? PassReadiness::unknown() : it->second;
}

QCoro::Task<void> MentorSessionModel::refreshPassReadiness()
{
    std::shared_ptr<profiles::SettingsWriting> reader = m_passReadinessWriter;
    if (!reader && binaryPath() && settingsReaderFactory)
        reader = settingsReaderFactory(*binaryPath(), foundation::paths::expandTilde(u"~/.hermes/profiles"_s));
    if (!reader)
        co_return;
    const QPointer<MentorSessionModel> self(this);
    PassReadinessMap evaluated = co_await PassReadiness::evaluate(std::move(reader), m_portalAuthPath);
    if (self)
        foundation::storeAndNotify(*this, m_passReadiness, evaluated, &MentorSessionModel::passReadinessChanged);
}

// --- Forwarded to the engine lifecycle -----------------------------------------

QCoro::Task<void> MentorSessionModel::start()
{
    return m_engine.start();
}
QCoro::Task<void> MentorSessionModel::restart()
{
    return m_engine.restart();
}
void MentorSessionModel::restartWhenIdle()
{
    m_engine.restartWhenIdle();
}
void MentorSessionModel::shutdown()
{
    m_engine.shutdown();
}
void MentorSessionModel::engineDidCrash()
{
    m_engine.engineDidCrash();
}
void MentorSessionModel::appendStderrLine(const QString &line)
{
    m_engine.appendStderrLine(line);
}
void MentorSessionModel::runPendingRestart()
{
    m_engine.runPendingRestart();
}

// --- Forwarded to the turns and transcripts --------------------------------------

const MentorSessionModel::SessionTranscript *MentorSessionModel::transcript(const QString &key) const
{
    return m_turns.transcript(key);
}
const MentorSessionModel::SessionTranscript *MentorSessionModel::activeTranscript() const
{
    return m_turns.activeTranscript();
}
QCoro::Task<void> MentorSessionModel::follow(std::optional<QString> pieceTitle)
{
    return m_turns.follow(std::move(pieceTitle));
}
QCoro::Task<std::optional<SessionEntry>> MentorSessionModel::newSession(QString name, std::optional<QString> pieceTitle)
{
    return m_turns.newSession(std::move(name), std::move(pieceTitle));
}
QCoro::Task<std::optional<SessionEntry>> MentorSessionModel::createSession(QString name,
                                                                           std::optional<QString> pieceTitle)
{
    return m_turns.createSession(std::move(name), std::move(pieceTitle));
}
QCoro::Task<bool> MentorSessionModel::resume(SessionEntry entry)
{
    return m_turns.resume(std::move(entry));
}
QCoro::Task<std::optional<SessionEntry>> MentorSessionModel::startBrainstorm(std::optional<QString> pieceTitle)
{
    return m_turns.startBrainstorm(std::move(pieceTitle));
}
QCoro::Task<TurnOutcome> MentorSessionModel::send(QString text, std::optional<QString> label)
{
    return m_turns.send(std::move(text), std::move(label));
}
QCoro::Task<std::optional<SessionEntry>> MentorSessionModel::fork()
{
    return m_turns.fork();
}
QCoro::Task<void> MentorSessionModel::compact()
{
    return m_turns.compact();
}
void MentorSessionModel::cancelTurn()
{
    m_turns.cancelTurn();
}
QCoro::Task<TurnOutcome> MentorSessionModel::prompt(EngineTransport &connection, QString engineSessionID, QString key,
                                                    QString promptText, SessionRow::Content promptRow)
{
    return m_turns.prompt(connection, std::move(engineSessionID), std::move(key), std::move(promptText),
                          std::move(promptRow));
}
void MentorSessionModel::finishTurn(const QString &key)
{
    m_turns.finishTurn(key);
}
QCoro::Task<TurnOutcome> MentorSessionModel::runPass(QString profile, QString label, QString promptText,
                                                     QString pieceTitle)
{
    return m_turns.runPass(std::move(profile), std::move(label), std::move(promptText), std::move(pieceTitle));
}
QCoro::Task<TurnOutcome> MentorSessionModel::openPassSession(EngineTransport &connection, QString label,
                                                             QString promptText)
{
    return m_turns.openPassSession(connection, std::move(label), std::move(promptText));
}
QCoro::Task<TurnOutcome> MentorSessionModel::runBlindRead(QString promptText, QString pieceTitle, QString abLine)
{
    return m_turns.runBlindRead(std::move(promptText), std::move(pieceTitle), std::move(abLine));
}
void MentorSessionModel::appendRow(SessionRow::Content content, const std::optional<QString> &key)
{
    m_turns.appendRow(std::move(content), key);
}
void MentorSessionModel::handleToolCall(const JSONValue &update, const QString &key)
{
    m_turns.handleToolCall(update, key);
}
void MentorSessionModel::setDisposition(const QUuid &rowID, const review::ResearchCandidate::Disposition &disposition)
{
    m_turns.setDisposition(rowID, disposition);
}
void MentorSessionModel::handleNotification(const QString &method, const std::optional<JSONValue> &params)
{
    m_turns.handleNotification(method, params);
}
void MentorSessionModel::activate(const SessionEntry &entry)
{
    m_turns.activate(entry);
}
bool MentorSessionModel::activateIfIdle(const SessionEntry &entry, bool reset, const QString &refusal)
{
    return m_turns.activateIfIdle(entry, reset, refusal);
}
void MentorSessionModel::drainPendingScope()
{
    m_turns.drainPendingScope();
}

} // namespace engine
