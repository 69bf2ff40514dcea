#include "model/postsmodel.h"

// The model forwards every operation to the collaborator of its concern.

#include "foundation/notify.h"
#include "foundation/threadpools.h"

#include <QRandomGenerator>
#include <QThreadPool>

namespace model {

using namespace Qt::StringLiterals;
using library::Post;
namespace FixCardStore = review::FixCardStore;

const QString PostsModel::noLibraryMessage = u"No library is open yet — nothing was changed."_s;
const QString PostsModel::folderLeftMessage =
    u"This piece's folder left the library — what you typed since the last save stays here as a draft."_s;
const QString PostsModel::homeChangedDuringPassMessage =
    u"The library changed while the pass ran — its Pass State was not advanced."_s;
const QString PostsModel::pieceChangedDuringPassMessage =
    u"The piece was renamed, moved or replaced while the pass ran — its Pass State was not advanced."_s;

namespace {

QPointer<PostsModel> g_current;

} // namespace

QThreadPool *PostsModel::libraryPool()
{
    static QThreadPool *const pool = foundation::namedPool("library", {.maxThreads = 2});
    return pool;
}

bool PostsModel::tossSystemCoin()
{
    return QRandomGenerator::system()->bounded(2) == 0;
}

PostsModel::PostsModel(QObject *parent)
    : QObject(parent), scanPieceCards(&FixCardStore::cardsForPiece),
      scanLibrary([](const QString &home, const std::shared_ptr<library::PostScanCache> &cache) {
          return library::PostScan::scanLibrary(home, cache.get());
      })
{}

PostsModel::~PostsModel() = default;

PostsModel *PostsModel::current()
{
    return g_current.data();
}

void PostsModel::setCurrent(PostsModel *model)
{
    g_current = model;
}

void PostsModel::setLastError(const std::optional<QString> &message)
{
    foundation::storeAndNotify(*this, m_lastError, message, &PostsModel::lastErrorChanged);
}

void PostsModel::stopWatching()
{
    flushAll();
    m_library.stop();
    m_open.stopExternalWatch();
}

// --- The open piece ------------------------------------------------------------

void PostsModel::setPendingImportURLs(const std::optional<QList<QUrl>> &urls)
{
    m_open.setPendingImportURLs(urls);
}
void PostsModel::setPendingProject(const std::optional<QString> &project)
{
    m_open.setPendingProject(project);
}
void PostsModel::setAskNewProject(bool ask)
{
    m_open.setAskNewProject(ask);
}
void PostsModel::setOutlineGuardPieceID(const std::optional<QString> &id)
{
    m_open.setOutlineGuardPieceID(id);
}
void PostsModel::setProseOverridePostID(const std::optional<QString> &id)
{
    m_open.setProseOverridePostID(id);
}
void PostsModel::setSelectedPostID(const std::optional<QString> &id)
{
    m_open.setSelectedPostID(id);
}
void PostsModel::setDraftText(const QString &text)
{
    m_open.setDraftText(text);
}
void PostsModel::selectPiece(const QString &id)
{
    m_open.selectPiece(id);
}
void PostsModel::openPiece(const QString &id)
{
    m_open.openPiece(id);
}
bool PostsModel::showsProse() const
{
    return m_open.showsProse();
}
std::optional<QString> PostsModel::currentText() const
{
    return m_open.currentText();
}
void PostsModel::newPostDraft()
{
    m_open.newPostDraft();
}
std::optional<QString> PostsModel::createProjectForNewDraft(const QString &name)
{
    return m_open.createProjectForNewDraft(name);
}
void PostsModel::answerOutlineGuard(bool asProse)
{
    m_open.answerOutlineGuard(asProse);
}
void PostsModel::dismissOutlineGuard()
{
    m_open.dismissOutlineGuard();
}
void PostsModel::newOutlineDraft()
{
    m_open.newOutlineDraft();
}
QString PostsModel::projectForNewPiece() const
{
    return m_open.projectForNewPiece();
}
void PostsModel::saveDraft()
{
    m_open.saveDraft();
}
void PostsModel::createAndOpenDraft(const PostDraft &draft, const QString &home)
{
    m_open.createAndOpenDraft(draft, home);
}
void PostsModel::wireSessionErrors()
{
    m_open.wireSessionErrors();
}
std::optional<Post> PostsModel::createAIPiece(const QString &text)
{
    return m_open.createAIPiece(text);
}
QString PostsModel::displayTitle(const QString &id) const
{
    return m_library.displayTitle(id);
}
bool PostsModel::isSessionOpen(const QString &id) const
{
    return m_open.isSessionOpen(id);
}
bool PostsModel::outlineWouldDropLines(const QString &id) const
{
    return m_open.outlineWouldDropLines(id);
}
bool PostsModel::setHome(const QString &home)
{
    return m_open.setHome(home);
}
bool PostsModel::flushSession(EditorSession &session)
{
    return m_open.flushSession(session);
}
bool PostsModel::flushAll()
{
    return m_open.flushAll();
}
bool PostsModel::flushAndCloseSessions()
{
    return m_open.flushAndCloseSessions();
}

// --- Outside files and import ----------------------------------------------------

void PostsModel::openExternalFile(const QUrl &url)
{
    m_open.openExternalFile(url);
}
bool PostsModel::closeExternalFile()
{
    return m_open.closeExternalFile();
}
void PostsModel::reloadExternalFile(const QPointer<PostsModel> &model, const QString &path)
{
    if (model)
        model->m_open.reloadExternalFile(path);
}
void PostsModel::watchExternalFolder(const QString &path)
{
    m_open.watchExternalFolder(path);
}
void PostsModel::importPendingFiles(Post::Origin origin)
{
    m_open.importPendingFiles(origin);
}
void PostsModel::clearPendingImports()
{
    m_open.clearPendingImports();
}

// --- Watching and rescans ----------------------------------------------------

QString PostsModel::missingHomeMessage(const QString &home)
{
    return PostsLibrary::missingHomeMessage(home);
}
void PostsModel::startWatching(const QString &home)
{
    m_library.startWatching(home);
}
QCoro::Task<void> PostsModel::rescan()
{
    return m_library.rescan();
}
void PostsModel::rescanLater()
{
    m_library.rescanLater();
}
void PostsModel::settleBackgroundWork()
{
    m_library.settleBackgroundWork();
}
QStringList PostsModel::projectNames() const
{
    return m_library.projectNames();
}

// --- Flushes -----------------------------------------------------------------

// --- Library writes ----------------------------------------------------------

// --- Library writes ----------------------------------------------------------

std::optional<QString> PostsModel::openPieceInArchivedProject(const QString &project, const QString &home) const
{
    return m_writes.openPieceInArchivedProject(project, home);
}
void PostsModel::unarchiveProject(const QString &project)
{
    m_writes.unarchiveProject(project);
}
void PostsModel::restorePiece(const Post &post)
{
    m_writes.restorePiece(post);
}
void PostsModel::renamePiece(const Post &post, const QString &newTitle)
{
    m_writes.renamePiece(post, newTitle);
}
void PostsModel::movePiece(const Post &post, const QString &targetProject)
{
    m_writes.movePiece(post, targetProject);
}
void PostsModel::archivePiece(const Post &post)
{
    m_writes.archivePiece(post);
}
void PostsModel::trashPiece(const Post &post)
{
    m_writes.trashPiece(post);
}
std::optional<QString> PostsModel::createProject(const QString &name)
{
    return m_writes.createProject(name);
}

// --- Outline conversion --------------------------------------------------------

void PostsModel::setPendingConversion(const std::optional<PendingConversion> &conversion)
{
    m_writes.setPendingConversion(conversion);
}

void PostsModel::requestConvertToPost(const Post &post)
{
    m_writes.requestConvertToPost(post);
}
void PostsModel::convertToPost(bool headings)
{
    m_writes.convertToPost(headings);
}
bool PostsModel::conversionNowDropsLines(const QString &id, bool lossy, bool headings) const
{
    return m_writes.conversionNowDropsLines(id, lossy, headings);
}
bool PostsModel::performConversion(const QString &home, const QString &id, bool headings)
{
    return m_writes.performConversion(home, id, headings);
}

// --- Cards of the open piece -------------------------------------------------

void PostsModel::refreshOpenPieceCards()
{
    m_cards.refresh();
}
PostsModel::ApplyOutcome PostsModel::applyCard(const Card &card)
{
    return m_cards.apply(card);
}
void PostsModel::closeCard(const Card &card, Card::Status status)
{
    m_cards.close(card, status);
}
std::optional<QString> PostsModel::promoteCard(const Card &card)
{
    return m_cards.promote(card);
}

// --- Passes and the Blind Read -------------------------------------------------

std::optional<PostsModel::PassTarget> PostsModel::passPreflight(const QString &action,
                                                                const engine::MentorSessionModel &mentor)
{
    return m_passes.preflight(action, mentor);
}
QCoro::Task<void> PostsModel::runPass(library::PassKind kind, engine::MentorSessionModel &mentor)
{
    return m_passes.runPass(kind, mentor);
}
QCoro::Task<void> PostsModel::runBlindRead(engine::MentorSessionModel &mentor)
{
    return m_passes.runBlindRead(mentor);
}

} // namespace model
