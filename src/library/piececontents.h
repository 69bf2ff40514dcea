#pragma once
// What lies inside a piece folder: post.md's body under its front matter, the
// single front matter keys written by the program (Micropub URL, first-draft
// statistics, pass state), the outline-to-post rewrite, the editor's cursor
// state, the pass-start snapshots, research notes and dropped images.
//
// Synchronous and stateless. Every file is written with the one atomic write
// (a rewrite of post.md keeps its mode); create-only names never replace a
// file. Folders inside a piece that are symbolic links (passes/, research/,
// assets/) are refused, never written through. Missing pieces throw
// library::StoreError fileReadNoSuchFile; file failures throw
// foundation::fs::FileError.

#include "foundation/error.h"
#include "library/frontmatter.h"
#include "library/passkind.h"
#include "library/storeerror.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QUrl>
#include <chrono>
#include <functional>
#include <optional>

namespace library::PostStore {

// A refused image drop; the message is what the writer is shown.
class IngestError : public foundation::Error {
public:
    using Error::Error;
};

// A refused research note: unknown piece, or research/ is a symbolic link.
// Carries the same messages as the card store's refusals.
class ResearchNoteError : public foundation::Error {
public:
    using Error::Error;
};

// The editor's selection and scroll position, kept in .pennora-state.json.
struct CursorState {
    qint64 selectionLocation = 0;
    qint64 selectionLength = 0;
    double scrollOffset = 0;

    bool operator==(const CursorState &) const = default;

    // Compact JSON with the three keys; none when scrollOffset is not finite.
    std::optional<QByteArray> encode() const;
    // The object with the three keys (whole-number selection values); any
    // other shape gives none.
    static std::optional<CursorState> decode(const QByteArray &json);
};

// What readPiece answers: the flags as PostFrontmatter::frontmatterFlags reads them
// (defaults for missing or unknown values) and the body.
struct PieceContents {
    QString folder;
    Post::PassState passState = Post::PassState::firstDraft;
    Post::Origin origin = Post::Origin::writer;
    Post::ContentType type = Post::ContentType::post;
    QString body;
};

struct PassSnapshot {
    PassKind kind;
    QString text;
};

// The pass clock's bump (the Home, the piece's content type). The library
// model passes the review store's LearningPassClock::bumpPassCount.
using PassCountBump = std::function<void(const QString &home, Post::ContentType type)>;

inline const QString kPostFileName = QStringLiteral("post.md");
inline const QString kCursorStateFileName = QStringLiteral(".pennora-state.json");

// Throws StoreError fileReadNoSuchFile when there is no piece folder or no
// post.md; any other read failure (permission, bytes that are not UTF-8) is
// thrown as the FileError it is.
PieceContents readPiece(const QString &id, const QString &home);

// The body of post.md (the whole text when there is no front matter block);
// none on any failure.
std::optional<QString> readText(const QString &id, const QString &home);

// Replaces the body, keeping the front matter; type, pass_state and origin are
// written as the piece reads (a block is created when there is none).
void writeText(const QString &id, const QString &body, const QString &home);

// How long a file of an interrupted save is left alone: a younger one may
// be a save still under way.
inline constexpr std::chrono::seconds kSaveLeftoverAge{60 * 60};

// Removes from the piece folder itself what interrupted saves left there:
// regular files named as the atomic write names its temps
// (foundation::fs::isAtomicWriteTempName), last changed more than
// kSaveLeftoverAge ago. Nothing else, nothing below the folder, no link.
// Failures are passed over.
void removeSaveLeftovers(const QString &pieceFolder);

// Writes .pennora-state.json; every failure is ignored.
void writeCursorState(qint64 selectionLocation, qint64 selectionLength, const QString &id, const QString &home,
                      double scrollOffset);
// The stored cursor state; none when missing or undecodable.
std::optional<CursorState> readCursorState(const QString &id, const QString &home);

// Sets micropub_url. A URL holding a line break is refused (FileError EINVAL):
// it would add lines to the front matter.
void recordMicropubURL(const QString &id, const QString &url, const QString &home);

// Writes passes/pass-1.md or passes/pass-2.md, replacing the earlier one.
void writePassSnapshot(const QString &id, PassKind kind, const QString &text, const QString &home);

// The newer of the two snapshots by modification time (Pass 1 on a tie);
// none when there is none or it cannot be read.
std::optional<PassSnapshot> latestPassSnapshot(const QString &id, const QString &home);

// Makes an outline piece a post: type: post with the piece's pass_state and
// origin written as it reads them, every other key kept in its place; with
// convert the body goes through OutlineNode::postTextFromOutline.
void rewriteAsPost(const QString &id, bool convert, const QString &home);

// Captures the statistics of text into an untouched writer first draft.
// True when they were written.
bool writeDraftStats(const QString &id, const QString &text, const QString &home,
                     const QDateTime &now = QDateTime::currentDateTime());

// Raises the pass state after a finished Pass and then counts the Pass with
// bumpPassCount (failures of the count are ignored; an empty function counts
// nothing). The write's failure is thrown and nothing is counted.
Post::PassState advancePassState(const QString &id, PassKind kind, const QString &home,
                                 const PassCountBump &bumpPassCount);

// Stores a kept research note in the piece's research/ folder under a new
// name "<yyyyMMdd>-<slug of title>[-N].md" and answers that name. piecePath is
// the piece folder or its post.md; only its last folder name is used, looked
// up in home and must hold post.md. Throws ResearchNoteError, FileError.
QString writeResearchNote(const QString &piecePath, const QString &title, const QString &url, const QString &quote,
                          const QString &note, const QString &home,
                          const QDateTime &now = QDateTime::currentDateTime());

// Copies a dropped image into <pieceFolder>/assets under a new name and
// answers "assets/<name>". Throws IngestError for a refused drop (also when
// the piece folder or assets/ is a symbolic link, looked at again right
// before the copy) and FileError for a failed copy (which leaves nothing
// behind).
QString ingestImage(const QUrl &source, const QString &pieceFolder);

} // namespace library::PostStore
