#pragma once
// The Home's layout and the folder-level operations on pieces and projects:
// finding a piece folder by id, slugs and unique folder names, project names,
// and creating, retitling, moving, archiving, restoring and trashing pieces.
//
// The Home is a local folder path. Every operation is synchronous and throws
// library::StoreError for its own refusals and foundation::fs::FileError for
// failures of the file system. Writes into a project reuse an existing project
// folder whose name matches under NFC + case folding.

#include "library/post.h"
#include "library/storeerror.h"

#include <QString>
#include <QStringList>
#include <QUrl>
#include <optional>

namespace library::PostStore {

// The two roots of a Home.
enum class Root { projects, archive };
QString rootName(Root root); // "projects" / "archive"
QString rootPath(const QString &home, Root root);

// The piece folder of id: projects/ before archive/, project folders in code
// point order, symbolic links and hidden project folders skipped. None for an
// id that could leave its project folder (empty, ".", "..", "/", NUL, a
// leading ".") and for a candidate that is a symbolic link. Never throws.
std::optional<QString> folderPath(const QString &id, const QString &home);

// True when name is safe as a single folder name below a root (not empty, no
// "/" or NUL, no leading "."). Ids and project names read from disk pass.
bool isConfinedName(const QString &name);

// The folder-name slug of a title ("Café déjà vu" -> "cafe-deja-vu"); also
// used for the file names of cards, learnings, research notes and images.
QString slug(const QString &title);

// The slug of title, made unique against every piece-level name under both
// roots (NFC + case folding); excludedID keeps a retitled piece's own name.
QString uniquePieceName(const QString &title, const QString &home,
                        const std::optional<QString> &excludedID = std::nullopt);

// Returns the trimmed name; throws StoreError fileWriteInvalidFileName.
QString validateProjectName(const QString &name);

// Throws fileWriteInvalidFileName or fileWriteFileExists.
void createProject(const QString &name, const QString &home);

// Writes a new piece with the default front matter under projects/<project>/.
Post createPiece(const QString &text, const QString &project, Post::ContentType type, Post::Origin origin,
                 const QString &home);

// Writes a file brought in from outside as a new piece under
// projects/<project>/: its front matter restamped as a First Draft post of
// origin (other keys kept, a block added when there is none), titled by its
// own first line.
Post importPiece(const QString &text, const QString &project, Post::Origin origin, const QString &home);

// The body with its first non-blank line replaced by heading when that line
// is a heading, else with heading inserted before it.
QString replaceTitleHeading(const QString &body, const QString &heading);

// Rewrites the title heading, then moves the folder to the new title's
// unique name when it differs.
Post renamePiece(const Post &post, const QString &newTitle, const QString &home);

// Moves the piece folder to the Trash (freedesktop), making the home Trash
// first when it is missing.
void trashPiece(const Post &post, const QString &home);

// Moves a live piece to another project, keeping its id.
void movePiece(const Post &post, const QString &targetProject, const QString &home);

// Moves the piece folder to the same project under the target root.
void moveBetweenRoots(const Post &post, Root targetRoot, const QString &home);
void archivePiece(const Post &post, const QString &home);
void unarchivePiece(const Post &post, const QString &home);

// Moves every visible entry of archive/<project> into projects/<project>,
// removing the archived folder when it is left empty.
void unarchiveProject(const QString &project, const QString &home);

// File-name extensions the open and import panels accept: "md", "markdown".
const QStringList &importableTypes();
// True when path ends in one of them (case-insensitive).
bool isImportable(const QString &path);
// True for a local file whose path is importable.
bool isImportable(const QUrl &url);

} // namespace library::PostStore
