#include "model/passrunner.h"

#include "foundation/notify.h"
#include "model/postsmodel.h"

#include "engine/mentorsessionmodel.h"
#include "engine/passinstructions.h"
#include "foundation/error.h"
#include "foundation/fs.h"
#include "library/piececontents.h"
#include "library/poststore.h"
#include "review/desloplint.h"
#include "review/learnings.h"

#include <QDir>
#include <QFile>
#include <QUrl>

#include <sys/stat.h>

namespace model {

using namespace Qt::StringLiterals;
using engine::MentorSessionModel;
using engine::PassReadiness;
using engine::TurnOutcome;
using library::PassKind;
namespace PostStore = library::PostStore;

namespace {

// Which folder a piece id names: its path and the folder's own inode, so a
// piece put in place of another under the same path is told apart.
struct PieceIdentity {
    QString path;
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const PieceIdentity &) const = default;
};

std::optional<PieceIdentity> pieceIdentity(const QString &id, const QString &home)
{
    const std::optional<QString> folder = PostStore::folderPath(id, home);
    struct stat info {};
    if (!folder || ::lstat(QFile::encodeName(*folder).constData(), &info) != 0)
        return std::nullopt;
    return PieceIdentity{*folder, info.st_dev, info.st_ino};
}

// The engine answered: neither cancelled, failed nor refused.
bool answered(const TurnOutcome &outcome)
{
    return outcome.which == TurnOutcome::Case::ended && outcome.stopReason != u"refusal";
}

} // namespace

void PassRunner::setRunningPass(const std::optional<PassKind> &kind)
{
    foundation::storeAndNotify(m_model, m_runningPass, kind, &PostsModel::runningPassChanged);
}

void PassRunner::setRunningBlindRead(bool running)
{
    foundation::storeAndNotify(m_model, m_runningBlindRead, running, &PostsModel::runningBlindReadChanged);
}

std::optional<PassRunner::Target> PassRunner::preflight(const QString &action, const MentorSessionModel &mentor)
{
    const auto refuse = [this](const QString &message) {
        m_model.setLastError(message);
        return std::nullopt;
    };
    if (m_runningPass)
        return refuse(u"A pass is already running."_s);
    if (m_runningBlindRead)
        return refuse(u"A Blind Read is already running."_s);
    if (mentor.isStreaming())
        return refuse(u"The mentor is mid-reply — stop it or wait."_s);
    if (mentor.phase().which() != MentorSessionModel::Phase::Case::ready)
        return refuse(u"The mentor engine isn't ready — wait for it or restart it."_s);
    const auto open = m_model.openPiece();
    const std::optional<QString> &home = m_model.watchedHome();
    const std::optional<QString> &selected = m_model.selectedPostID();
    if (!open || !home || !selected || *selected != open->first || open->second != *home || m_model.draft()
        || m_model.externalSession() || m_model.outlineGuardPieceID())
        return refuse(u"Open a saved post to run "_s + action + u"."_s);
    return Target{open->first, m_model.sharedSession(), *home};
}

QCoro::Task<void> PassRunner::runPass(PassKind kind, MentorSessionModel &mentor)
{
    std::optional<Target> target = preflight(u"a pass"_s, mentor);
    if (!target)
        co_return;
    if (const PassReadiness readiness = mentor.readiness(kind); readiness.which() == PassReadiness::Case::missingKey) {
        m_model.setLastError(kind.rawValue() + u" needs a "_s + readiness.providerLabel()
                             + u" API key — add it in Settings → Provider Keys."_s);
        co_return;
    }
    if (m_model.isSessionOpen(target->pieceID) && !m_model.flushSession(*target->session))
        co_return;

    const QString text = target->session->text();
    try {
        PostStore::writePassSnapshot(target->pieceID, kind, text, target->home);
    } catch (const std::exception &error) {
        m_model.setLastError(foundation::describe(error));
        co_return;
    }
    PostStore::writeDraftStats(target->pieceID, text, target->home);
    const QString folder = target->session->folderPath();
    const QString postFile = QDir(folder).filePath(PostStore::kPostFileName);
    review::DeslopLint::fileLintCards(text, target->pieceID, postFile, kind, target->home);
    // The piece the Pass is about: advanced only if it is still this folder.
    const std::optional<PieceIdentity> pieceAtStart = pieceIdentity(target->pieceID, target->home);
    setRunningPass(kind);

    const QString instruction = engine::instructionText(
        kind, QUrl::fromLocalFile(postFile), foundation::fs::existsNoFollow(QDir(folder).filePath(u"research"_s)));
    // The open text may be closed or replaced meanwhile; the run must not
    // keep it (and its autosave) alive.
    target->session.reset();
    const QPointer<PostsModel> self(&m_model);
    TurnOutcome outcome = TurnOutcome::failed();
    QCoro::Task<TurnOutcome> turn = mentor.runPass(engine::surface(kind).profileName(), kind.rawValue(), instruction,
                                                   m_model.displayTitle(target->pieceID));
    try {
        outcome = co_await std::move(turn);
    } catch (const std::exception &) {
        // Treated as a failed turn: nothing is advanced.
    }
    if (!self)
        co_return;

    if (answered(outcome)) {
        if (m_model.watchedHome() != target->home) {
            m_model.setLastError(PostsModel::homeChangedDuringPassMessage);
        } else if (!pieceAtStart || pieceIdentity(target->pieceID, target->home) != pieceAtStart) {
            m_model.setLastError(PostsModel::pieceChangedDuringPassMessage);
        } else {
            m_model.setLastError(std::nullopt);
            // An autosave may be writing post.md on the writer thread: the pass
            // state is written after it, never interleaved with it.
            EditorSession::waitForWrites();
            try {
                PostStore::advancePassState(target->pieceID, kind, target->home,
                                            &review::LearningPassClock::bumpPassCount);
                m_model.rescanLater();
            } catch (const std::exception &error) {
                m_model.setLastError(foundation::describe(error));
            }
        }
    }
    setRunningPass(std::nullopt);
}

QCoro::Task<void> PassRunner::runBlindRead(MentorSessionModel &mentor)
{
    std::optional<Target> target = preflight(u"a Blind Read"_s, mentor);
    if (!target)
        co_return;
    if (m_model.isSessionOpen(target->pieceID) && !m_model.flushSession(*target->session))
        co_return;
    const std::optional<PostStore::PassSnapshot> snapshot =
        PostStore::latestPassSnapshot(target->pieceID, target->home);
    if (!snapshot) {
        m_model.setLastError(u"No Pass snapshot yet — run a Pass first."_s);
        co_return;
    }
    const QString current = target->session->text();
    if (snapshot->text == current) {
        m_model.setLastError(
            u"No edits since the Pass started — the Blind Read judges the current document against the "
            u"Pass-start snapshot."_s);
        co_return;
    }
    m_model.setLastError(std::nullopt);
    setRunningBlindRead(true);

    const bool snapshotIsA = m_model.blindReadCoin();
    const QString prompt = engine::blindReadPrompt(snapshot->text, current, snapshotIsA);
    const QString snapshotName = snapshot->kind.rawValue() + u" start snapshot"_s;
    const QString abLine = snapshotIsA ? u"A = "_s + snapshotName + u" · B = current document"_s
                                       : u"A = current document · B = "_s + snapshotName;

    target->session.reset();
    const QPointer<PostsModel> self(&m_model);
    QCoro::Task<TurnOutcome> turn = mentor.runBlindRead(prompt, m_model.displayTitle(target->pieceID), abLine);
    try {
        co_await std::move(turn);
    } catch (const std::exception &) {
        // Whatever became of the turn, the flag comes down.
    }
    if (self)
        setRunningBlindRead(false);
}

} // namespace model
