#pragma once
// What the writer has open: the selected piece and its editor session, an
// unsaved draft, an outside Markdown file edited in place (its folder
// watched), and the files waiting to be imported. Every change of what is
// open flushes what was open first. Owned by PostsModel, which publishes its
// state.

#include "library/post.h"
#include "model/editorsession.h"
#include "model/postswatcher.h"

#include <QList>
#include <QString>
#include <QUrl>
#include <QUuid>
#include <memory>
#include <optional>
#include <utility>

namespace model {

class PostsModel;

// An unsaved new piece.
struct PostDraft {
    QString text;
    QString project;
    library::Post::ContentType type = library::Post::ContentType::post;
    QUuid mountID;

    // The text a draft of type starts with.
    static QString initialText(library::Post::ContentType type);
    // True when the writer has typed into it.
    bool isEdited() const { return text != initialText(type); }
    bool operator==(const PostDraft &) const = default;
};

class OpenPiece {
public:
    explicit OpenPiece(PostsModel &model) : m_model(model) {}
    OpenPiece(const OpenPiece &) = delete;
    OpenPiece &operator=(const OpenPiece &) = delete;

    const std::optional<QString> &selectedPostID() const { return m_selectedPostID; }
    const std::optional<PostDraft> &draft() const { return m_draft; }
    const std::shared_ptr<EditorSession> &session() const { return m_session; }
    EditorSession *externalSession() const { return m_externalSession.get(); }
    const std::optional<QList<QUrl>> &pendingImportURLs() const { return m_pendingImportURLs; }
    const std::optional<QString> &pendingProject() const { return m_pendingProject; }
    bool askNewProject() const { return m_askNewProject; }
    bool lastDraftWasOutline() const { return m_lastDraftWasOutline; }
    const std::optional<QString> &outlineGuardPieceID() const { return m_outlineGuardPieceID; }
    const std::optional<QString> &proseOverridePostID() const { return m_proseOverridePostID; }
    const PostsWatcher &externalWatcher() const { return m_externalWatcher; }

    void setSelectedPostID(const std::optional<QString> &id);
    void setPendingImportURLs(const std::optional<QList<QUrl>> &urls);
    void setPendingProject(const std::optional<QString> &project);
    void setAskNewProject(bool ask);
    void setLastDraftWasOutline(bool value);
    void setOutlineGuardPieceID(const std::optional<QString> &id);
    void setProseOverridePostID(const std::optional<QString> &id);
    void setDraft(const std::optional<PostDraft> &draft);
    void setDraftText(const QString &text);
    void setSession(std::shared_ptr<EditorSession> session);
    void setExternalSession(std::shared_ptr<EditorSession> session);

    // The open piece's (id, home), none without a piece session.
    std::optional<std::pair<QString, QString>> openPiece() const;
    bool isSessionOpen(const QString &id) const;
    bool outlineWouldDropLines(const QString &id) const;
    bool showsProse() const;
    std::optional<QString> currentText() const;
    QString projectForNewPiece() const;

    void wireSessionErrors();
    void selectPiece(const QString &id);
    void openPiece(const QString &id);
    void newPostDraft();
    void newOutlineDraft();
    std::optional<QString> createProjectForNewDraft(const QString &name);
    void answerOutlineGuard(bool asProse);
    void dismissOutlineGuard();
    void saveDraft();
    void createAndOpenDraft(const PostDraft &draft, const QString &home);
    std::optional<library::Post> createAIPiece(const QString &text);
    bool setHome(const QString &home);

    bool flushSession(EditorSession &session);
    bool flushAll();
    bool flushAndCloseSessions();
    void reopenSession(const QString &id);
    void closeSession();
    // The open piece is no longer in the folder its session reads (a sync
    // tool or a checkout moved it): its unsaved words go to where it is now,
    // or stay in the editor as a draft of type in project when it left home.
    void followOpenPiece(const QString &home, library::Post::ContentType type, const QString &project);

    void openExternalFile(const QUrl &url);
    bool closeExternalFile();
    // The disk's text of path goes to the outside session's conflict check.
    void reloadExternalFile(const QString &path);
    void watchExternalFolder(const QString &path);
    void stopExternalWatch() { m_externalWatcher.stop(); }
    void importPendingFiles(library::Post::Origin origin);
    void clearPendingImports();

private:
    // Saves an edited draft as a piece before it would be dropped.
    bool settleEditedDraft();
    void newDraft(library::Post::ContentType type);

    PostsModel &m_model;
    std::optional<QString> m_selectedPostID;
    std::optional<PostDraft> m_draft;
    std::shared_ptr<EditorSession> m_session;
    std::shared_ptr<EditorSession> m_externalSession;
    // Watches the outside file's folder; stopped while no outside file is open.
    PostsWatcher m_externalWatcher;
    std::optional<QList<QUrl>> m_pendingImportURLs;
    std::optional<QString> m_pendingProject;
    bool m_askNewProject = false;
    bool m_lastDraftWasOutline = false;
    std::optional<QString> m_outlineGuardPieceID;
    std::optional<QString> m_proseOverridePostID;
};

} // namespace model
