#pragma once
// The observable model of the open library: the scanned pieces, the selected
// and open piece, an unsaved draft, an open outside file, the open piece's
// fix cards, and every write that changes the library on disk. One instance
// lives on the main thread for the whole process.
//
// The model holds the state's signals and the last error, and forwards each
// operation to the one collaborator of its concern, each in its own file:
//   PostsLibrary    the listing: scans, rescans, the Home's watches
//   OpenPiece       the selection, drafts, sessions, the outside file
//   OpenPieceCards  the open piece's fix cards
//   LibraryWrites   the writes that change the library, outline conversion
//   PassRunner      Passes and the Blind Read
// They work on one another only through the model.

#include "library/passkind.h"
#include "library/post.h"
#include "library/postscan.h"
#include "model/editorsession.h"
#include "model/librarywrites.h"
#include "model/openpiece.h"
#include "model/openpiececards.h"
#include "model/passrunner.h"
#include "model/postslibrary.h"
#include "model/postswatcher.h"
#include "review/fixcardstore.h"

#include <QCoro/QCoroTask>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QUrl>
#include <QUuid>
#include <functional>
#include <memory>
#include <optional>

class QThreadPool;

namespace engine {
class MentorSessionModel;
}

namespace model {

class PostsModel : public QObject {
    Q_OBJECT
public:
    using Card = review::FixCardStore::StoredFixCard;
    using ScanPieceCards = std::function<QList<Card>(const QString &pieceFolder)>;
    using ScanLibrary =
        std::function<QList<library::Post>(const QString &home, const std::shared_ptr<library::PostScanCache> &cache)>;

    using ApplyOutcome = OpenPieceCards::ApplyOutcome;

    static const QString noLibraryMessage;
    // When the open piece's folder left the Home with words not yet saved.
    static const QString folderLeftMessage;
    static constexpr std::chrono::milliseconds sessionDebounce{1000};
    // How often a missing Home is looked for.
    static constexpr std::chrono::milliseconds homeReturnPollInterval{2000};

    explicit PostsModel(QObject *parent = nullptr);
    ~PostsModel() override;

    // The live model of the process, set by the root state; none before.
    static PostsModel *current();
    static void setCurrent(PostsModel *model);

    // --- State -------------------------------------------------------------
    const QList<library::Post> &posts() const { return m_library.posts(); }
    qint64 contentRevision() const { return m_library.contentRevision(); }
    const std::optional<QString> &selectedPostID() const { return m_open.selectedPostID(); }
    const std::optional<PostDraft> &draft() const { return m_open.draft(); }
    EditorSession *session() const { return m_open.session().get(); }
    EditorSession *externalSession() const { return m_open.externalSession(); }
    const std::optional<QList<QUrl>> &pendingImportURLs() const { return m_open.pendingImportURLs(); }
    const std::optional<QString> &pendingProject() const { return m_open.pendingProject(); }
    bool askNewProject() const { return m_open.askNewProject(); }
    bool lastDraftWasOutline() const { return m_open.lastDraftWasOutline(); }
    const std::optional<QString> &outlineGuardPieceID() const { return m_open.outlineGuardPieceID(); }
    const std::optional<QString> &proseOverridePostID() const { return m_open.proseOverridePostID(); }
    const std::optional<PendingConversion> &pendingConversion() const { return m_writes.pendingConversion(); }
    const std::optional<library::PassKind> &runningPass() const { return m_passes.runningPass(); }
    bool runningBlindRead() const { return m_passes.runningBlindRead(); }
    bool openPieceHasSnapshot() const { return m_cards.hasSnapshot(); }
    const QList<Card> &openPieceCards() const { return m_cards.cards(); }
    const std::optional<QString> &lastError() const { return m_lastError; }
    const std::optional<QString> &watchedHome() const { return m_library.watchedHome(); }
    const std::shared_ptr<library::PostScanCache> &scanCache() const { return m_library.scanCache(); }

    void setPendingImportURLs(const std::optional<QList<QUrl>> &urls);
    void setPendingProject(const std::optional<QString> &project);
    void setAskNewProject(bool ask);
    void setOutlineGuardPieceID(const std::optional<QString> &id);
    void setProseOverridePostID(const std::optional<QString> &id);
    void setPendingConversion(const std::optional<PendingConversion> &conversion);
    void setLastError(const std::optional<QString> &message);
    // The workspace clears the selection when the outline guard is dismissed.
    void setSelectedPostID(const std::optional<QString> &id);
    // The draft editor's edits.
    void setDraftText(const QString &text);
    // How cards and the library are scanned; safe to run off the main thread.
    ScanPieceCards scanPieceCards;
    ScanLibrary scanLibrary;

    // --- Selection, opening and drafts ---------------------------------------
    void selectPiece(const QString &id);
    void openPiece(const QString &id);
    bool showsProse() const;
    std::optional<QString> currentText() const;
    // At exit: flushes the open texts and stops the Home watcher.
    void stopWatching();
    void newPostDraft();
    void newOutlineDraft();
    // The new-project question answered: makes the project of name, then a
    // post draft that saves into it. Answers the project's failure, after
    // which nothing else changes.
    std::optional<QString> createProjectForNewDraft(const QString &name);
    // The outline question answered for the guarded piece: opens it in prose
    // (asProse) or as its outline. Nothing when no piece is guarded.
    void answerOutlineGuard(bool asProse);
    // The outline question put away unanswered: the guard goes, and so does
    // the selection when no piece is open.
    void dismissOutlineGuard();
    QString projectForNewPiece() const;
    void saveDraft();
    // Throws what the store throws.
    void createAndOpenDraft(const PostDraft &draft, const QString &home);
    void wireSessionErrors();
    std::optional<library::Post> createAIPiece(const QString &text);
    QString displayTitle(const QString &id) const;
    bool isSessionOpen(const QString &id) const;
    // An outline piece whose text the outline editor would lose lines of.
    bool outlineWouldDropLines(const QString &id) const;

    // --- Watching and rescans ------------------------------------------------
    // The library's message for a Home folder that is not there.
    static QString missingHomeMessage(const QString &home);
    // Makes ready for another Home: flushes and closes the open texts and
    // clears the open state. True at once for the Home already watched; false
    // when a flush was refused (its reason in lastError), changing nothing.
    // Neither watches nor scans: startWatching and rescan follow.
    bool setHome(const QString &home);
    // Starts showing home: creates projects/ and archive/ when missing and
    // watches them, rescanning after each batch of file events. The folders
    // below them are walked off the main thread, and a rescan follows once
    // they are all watched. A Home folder that is missing itself (an
    // unmounted drive) is never created: it is reported in lastError and
    // nothing is watched; calling again retries.
    void startWatching(const QString &home);
    PostsWatcher &watcher() { return m_library.watcher(); }
    const PostsWatcher &watcher() const { return m_library.watcher(); }
    // Scans the library off the main thread and publishes the result.
    QCoro::Task<void> rescan();
    // Starts a rescan without waiting for it.
    void rescanLater();
    // Lets every scan and card refresh already started finish and publish
    // (or be dropped): nothing is left waiting on a background result.
    void settleBackgroundWork();

    // --- Outline conversion --------------------------------------------------
    // Records the sheet's question for an outline piece; always notifies.
    void requestConvertToPost(const library::Post &post);
    // The sheet's answer: headings true for "Headings", false for "Verbatim
    // Bullets". Consumes the pending conversion whatever happens next.
    void convertToPost(bool headings);
    // True when Headings was chosen on a sheet that showed no loss but the
    // outline on disk now has lines the ladder would drop.
    bool conversionNowDropsLines(const QString &id, bool lossy, bool headings) const;
    // Rewrites the piece as a post and repairs the session and the guard.
    // False (with the error in lastError) when the rewrite failed.
    bool performConversion(const QString &home, const QString &id, bool headings);

    // --- Outside files and import ----------------------------------------------
    // Edits a Markdown file in place (symbolic links resolved) and watches its
    // folder. Failures go to lastError.
    void openExternalFile(const QUrl &url);
    // Flushes and drops the outside file and stops its watcher; false when the
    // flush refused (the reason is in lastError).
    bool closeExternalFile();
    // After a batch of events in the folder of path: the disk's text goes to
    // the outside session's conflict check. Nothing once the model is gone.
    static void reloadExternalFile(const QPointer<PostsModel> &model, const QString &path);
    // Reloads path on every change in its folder.
    void watchExternalFolder(const QString &path);
    const PostsWatcher &externalWatcher() const { return m_open.externalWatcher(); }
    // Copies the pending files into the library as new pieces of origin and
    // opens the last one. The list is consumed whatever happens.
    void importPendingFiles(library::Post::Origin origin);
    void clearPendingImports();

    // --- Library writes ------------------------------------------------------
    void unarchiveProject(const QString &project);
    void restorePiece(const library::Post &post);
    void renamePiece(const library::Post &post, const QString &newTitle);
    void movePiece(const library::Post &post, const QString &targetProject);
    void archivePiece(const library::Post &post);
    void trashPiece(const library::Post &post);
    std::optional<QString> createProject(const QString &name);
    QStringList projectNames() const;
    std::optional<QString> openPieceInArchivedProject(const QString &project, const QString &home) const;
    bool flushSession(EditorSession &session);
    bool flushAll();
    bool flushAndCloseSessions();

    // --- Cards of the open piece ---------------------------------------------
    ApplyOutcome applyCard(const Card &card);
    void closeCard(const Card &card, Card::Status status);
    std::optional<QString> promoteCard(const Card &card);
    void refreshOpenPieceCards();

    // --- Passes and the Blind Read -------------------------------------------
    // What a run works on, taken at its start.
    using PassTarget = PassRunner::Target;
    static const QString homeChangedDuringPassMessage;
    static const QString pieceChangedDuringPassMessage;
    // The checks before a Pass or Blind Read; action is "a pass" or "a Blind
    // Read". None after putting the refusal into lastError.
    std::optional<PassTarget> passPreflight(const QString &action, const engine::MentorSessionModel &mentor);
    // Snapshots, lints and hands the piece to the mentor; advances its pass
    // state when the engine answered and the piece and Home are still the ones
    // the Pass started on.
    QCoro::Task<void> runPass(library::PassKind kind, engine::MentorSessionModel &mentor);
    // The Pass-start snapshot against the current text, in an order the
    // engine does not know. Writes nothing.
    QCoro::Task<void> runBlindRead(engine::MentorSessionModel &mentor);
    // The Blind Read's coin: true puts the snapshot first as version A.
    std::function<bool()> blindReadCoin = &PostsModel::tossSystemCoin;

signals:
    void postsChanged();
    void contentRevisionChanged();
    void selectedPostIDChanged();
    void draftChanged();
    void sessionChanged();
    void externalSessionChanged();
    void pendingImportURLsChanged();
    void pendingProjectChanged();
    void askNewProjectChanged();
    void lastDraftWasOutlineChanged();
    void outlineGuardPieceIDChanged();
    void proseOverridePostIDChanged();
    void pendingConversionChanged();
    void runningPassChanged();
    void runningBlindReadChanged();
    void openPieceHasSnapshotChanged();
    void openPieceCardsChanged();
    void lastErrorChanged();
    void watchedHomeChanged();

private:
    // The collaborators work on one another through the model.
    friend class LibraryWrites;
    friend class OpenPiece;
    friend class OpenPieceCards;
    friend class PassRunner;
    friend class PostsLibrary;

    // The library's background work: scans and card listings.
    static QThreadPool *libraryPool();
    // The open piece's session, shared with a run that works on it.
    const std::shared_ptr<EditorSession> &sharedSession() const { return m_open.session(); }
    bool attempt(const std::function<void()> &op) { return m_writes.attempt(op); }
    void reopenSession(const QString &id) { m_open.reopenSession(id); }
    void closeSession() { m_open.closeSession(); }
    void followOpenPiece(const QString &home, library::Post::ContentType type, const QString &project)
    {
        m_open.followOpenPiece(home, type, project);
    }
    void setSession(std::shared_ptr<EditorSession> session) { m_open.setSession(std::move(session)); }
    void setOpenPieceCards(const QList<Card> &cards) { m_cards.setCards(cards); }
    void setOpenPieceHasSnapshot(bool value) { m_cards.setHasSnapshot(value); }
    static bool tossSystemCoin();
    // The open piece's (id, home), none without a piece session.
    std::optional<std::pair<QString, QString>> openPiece() const { return m_open.openPiece(); }
    std::optional<library::Post> postWithID(const QString &id) const { return m_library.postWithID(id); }

    // Declared first, the open piece's sessions and outside watcher are
    // destroyed after the listing's watcher stops.
    OpenPiece m_open{*this};
    std::optional<QString> m_lastError;
    PostsLibrary m_library{*this};
    OpenPieceCards m_cards{*this};
    LibraryWrites m_writes{*this};
    PassRunner m_passes{*this};
};

} // namespace model
