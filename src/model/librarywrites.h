#pragma once
// The writes that change the library on disk: renames, moves, archiving,
// the Trash, new projects, and turning an outline piece into a prose post.
// Each flushes the piece first when it is open and reopens or closes its
// session after. Owned by PostsModel, which publishes its state.

#include "library/post.h"

#include <QString>
#include <functional>
#include <optional>

namespace model {

class PostsModel;

// An outline piece waiting for the convert-to-post sheet. lossy: at the
// request, its text had lines the conversion to headings drops.
struct PendingConversion {
    QString id;
    bool lossy = false;
    bool operator==(const PendingConversion &) const = default;
};

class LibraryWrites {
public:
    explicit LibraryWrites(PostsModel &model) : m_model(model) {}
    LibraryWrites(const LibraryWrites &) = delete;
    LibraryWrites &operator=(const LibraryWrites &) = delete;

    // The frame of every write on a piece: flush it when open, the library
    // guard, a cleared error. False when the write must not go on.
    bool beginWrite(const std::optional<QString> &pieceID);
    // Runs op; on failure shows its error and answers false.
    bool attempt(const std::function<void()> &op);

    void unarchiveProject(const QString &project);
    void restorePiece(const library::Post &post);
    void renamePiece(const library::Post &post, const QString &newTitle);
    void movePiece(const library::Post &post, const QString &targetProject);
    void archivePiece(const library::Post &post);
    void trashPiece(const library::Post &post);
    std::optional<QString> createProject(const QString &name);
    std::optional<QString> openPieceInArchivedProject(const QString &project, const QString &home) const;

    // Outline conversion; see PostsModel.
    const std::optional<PendingConversion> &pendingConversion() const { return m_pendingConversion; }
    void setPendingConversion(const std::optional<PendingConversion> &conversion);
    void requestConvertToPost(const library::Post &post);
    void convertToPost(bool headings);
    bool conversionNowDropsLines(const QString &id, bool lossy, bool headings) const;
    bool performConversion(const QString &home, const QString &id, bool headings);

private:
    // After a piece has left the list (archived or trashed): it is neither
    // selected nor open any more, and the library is listed again.
    void forgetRemoved(const library::Post &post);

    PostsModel &m_model;
    std::optional<PendingConversion> m_pendingConversion;
};

} // namespace model
