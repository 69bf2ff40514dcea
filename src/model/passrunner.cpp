// Passes and the Blind Read, run from the library model on the open piece.
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
#include <QRandomGenerator>
#include <QUrl>

#include <sys/stat.h>

namespace model {

using namespace Qt::StringLiterals;
using engine::MentorSessionModel;
using engine::PassReadiness;
using engine::TurnOutcome;
using library::PassKind;
namespace PostStore = library::PostStore;

const QString PostsModel::homeChangedDuringPassMessage =
    u"The library changed while the pass ran — its Pass State was not advanced."_s;
const QString PostsModel::pieceChangedDuringPassMessage =
    u"The piece was renamed, moved or replaced while the pass ran — its Pass State was not advanced."_s;

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

void PostsModel::setRunningPass(const std::optional<PassKind> &kind)
{
    store(m_runningPass, kind, &PostsModel::runningPassChanged);
}

void PostsModel::setRunningBlindRead(bool running)
{
    store(m_runningBlindRead, running, &PostsModel::runningBlindReadChanged);
}

bool PostsModel::tossSystemCoin()
{
    return QRandomGenerator::system()->bounded(2) == 0;
}

std::optional<PostsModel::PassTarget> PostsModel::passPreflight(const QString &action, const MentorSessionModel &mentor)
{
    const auto refuse = [this](const QString &message) {
        setLastError(message);
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
    const auto open = openPiece();
    if (!open || !m_watchedHome || !m_selectedPostID || *m_selectedPostID != open->first
        || open->second != *m_watchedHome || m_draft || m_externalSession || m_outlineGuardPieceID)
        return refuse(u"Open a saved post to run "_s + action + u"."_s);
    return PassTarget{open->first, m_session, *m_watchedHome};
}

QCoro::Task<void> PostsModel::runPass(PassKind kind, MentorSessionModel &mentor)
{
    std::optional<PassTarget> target = passPreflight(u"a pass"_s, mentor);
    if (!target)
        co_return;
    if (const PassReadiness readiness = mentor.readiness(kind); readiness.which() == PassReadiness::Case::missingKey) {
        setLastError(kind.rawValue() + u" needs a "_s + readiness.providerLabel()
                     + u" API key — add it in Settings → Provider Keys."_s);
        co_return;
    }
    if (isSessionOpen(target->pieceID) && !flushSession(*target->session))
        co_return;

    const QString text = target->session->text();
    try {
        PostStore::writePassSnapshot(target->pieceID, kind, text, target->home);
    } catch (const std::exception &error) {
        setLastError(foundation::describe(error));
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
    const QPointer<PostsModel> self(this);
    TurnOutcome outcome = TurnOutcome::failed();
    QCoro::Task<TurnOutcome> turn = mentor.runPass(engine::surface(kind).profileName(), kind.rawValue(), instruction,
                                                   displayTitle(target->pieceID));
    try {
        outcome = co_await std::move(turn);
    } catch (const std::exception &) {
        // Treated as a failed turn: nothing is advanced.
    }
    if (!self)
        co_return;

    if (answered(outcome)) {
        if (m_watchedHome != target->home) {
            setLastError(homeChangedDuringPassMessage);
        } else if (!pieceAtStart || pieceIdentity(target->pieceID, target->home) != pieceAtStart) {
            setLastError(pieceChangedDuringPassMessage);
        } else {
            setLastError(std::nullopt);
            // An autosave may be writing post.md on the writer thread: the pass
            // state is written after it, never interleaved with it.
            EditorSession::waitForWrites();
            try {
                PostStore::advancePassState(target->pieceID, kind, target->home,
                                            &review::LearningPassClock::bumpPassCount);
                rescanLater();
            } catch (const std::exception &error) {
                setLastError(foundation::describe(error));
            }
        }
    }
    setRunningPass(std::nullopt);
}

QCoro::Task<void> PostsModel::runBlindRead(MentorSessionModel &mentor)
{
    std::optional<PassTarget> target = passPreflight(u"a Blind Read"_s, mentor);
    if (!target)
        co_return;
    if (isSessionOpen(target->pieceID) && !flushSession(*target->session))
        co_return;
    const std::optional<PostStore::PassSnapshot> snapshot =
        PostStore::latestPassSnapshot(target->pieceID, target->home);
    if (!snapshot) {
        setLastError(u"No Pass snapshot yet — run a Pass first."_s);
        co_return;
    }
    const QString current = target->session->text();
    if (snapshot->text == current) {
        setLastError(u"No edits since the Pass started — the Blind Read judges the current document against the "
                     u"Pass-start snapshot."_s);
        co_return;
    }
    setLastError(std::nullopt);
    setRunningBlindRead(true);

    const bool snapshotIsA = blindReadCoin();
    const QString prompt = engine::blindReadPrompt(snapshot->text, current, snapshotIsA);
    const QString snapshotName = snapshot->kind.rawValue() + u" start snapshot"_s;
    const QString abLine = snapshotIsA ? u"A = "_s + snapshotName + u" · B = current document"_s
                                       : u"A = current document · B = "_s + snapshotName;

    target->session.reset();
    const QPointer<PostsModel> self(this);
    QCoro::Task<TurnOutcome> turn = mentor.runBlindRead(prompt, displayTitle(target->pieceID), abLine);
    try {
        co_await std::move(turn);
    } catch (const std::exception &) {
        // Whatever became of the turn, the flag comes down.
    }
    if (self)
        setRunningBlindRead(false);
}

} // namespace model
