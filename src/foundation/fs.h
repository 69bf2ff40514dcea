#pragma once
// File-system helpers: the one atomic write, create-only publishing, moves that
// never replace, and safe reads of side files.

#include "foundation/error.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>
#include <limits>
#include <optional>
#include <stdexcept>

namespace foundation::fs {

// A failed file operation. code is the errno value (0 when not from errno);
// the message is "<operation> failed: <strerror>: <path>".
class FileError : public Error {
public:
    FileError(int code, const QString &path, const QString &operation);
    int code() const { return m_code; }
    const QString &path() const { return m_path; }

private:
    int m_code;
    QString m_path;
};

// The system's description of an errno value (strerror, thread-safe).
QString errorText(int code);

enum class Privacy { Default, Private };

// Writes data to path through a temp file in the same folder (O_CREAT|O_EXCL
// with the final mode), fsync, rename, fsync of the folder. New files get
// 0666 & ~umask (0600 when Private); a rewrite keeps the old file's mode. A
// symbolic link at path is replaced, never written through. On failure the
// old file is whole and no temp remains. Throws FileError. Here and in every
// publish or move below, a failed flush of the folder after the rename is
// logged, not thrown: the file is already in place.
void atomicWrite(const QString &path, const QByteArray &data, Privacy privacy = Privacy::Default);

// Moves the file at source to target only when target does not exist
// (renameat2 RENAME_NOREPLACE, else link + unlink). Throws FileError (EEXIST
// when the name is taken).
void publishNoReplace(const QString &source, const QString &target);

// Writes data under the first free name among base.ext, base-2.ext, base-3.ext
// ... in folder, never overwriting, even under concurrency. ext may be empty.
// Returns the file name used. Throws FileError.
QString writeUnique(const QString &folder, const QString &base, const QString &ext, const QByteArray &data,
                    Privacy privacy = Privacy::Default);

// Copies the regular file at source (no symbolic link, FIFO or device) into
// folder as writeUnique writes data: same names, same guarantees. It is read
// and written in chunks, so a file of any size takes little memory. Returns
// the file name used. Throws FileError; a failed copy leaves no temp behind.
QString copyUnique(const QString &source, const QString &folder, const QString &base, const QString &ext);

// Copies the regular file at source (no link, FIFO or device) to target,
// which must not exist yet, with the source's permission bits. Throws
// FileError (ENOENT when the source has gone); a failed copy leaves no target.
void copyFileKeepingMode(const QString &source, const QString &target);

// Removes a file, a link (never what it points to) or a folder with all it
// holds, without following links inside. False when something stayed.
bool removeTree(const QString &path);

// base cut by whole grapheme clusters (and of trailing "-") so that
// base-N.ext stays within the file-name limit of 255 bytes for any N
// writeUnique may try; base itself when it fits. May answer the empty text.
QString fitFileBase(const QString &base, const QString &ext);

// The first name among base.ext, base-2.ext ... not present in folder (a
// snapshot answer; use writeUnique to create).
QString firstFreeName(const QString &folder, const QString &base, const QString &ext);

// Moves a file or folder; refuses (EEXIST) when anything exists at target,
// including an empty folder. Throws FileError.
void moveNoReplace(const QString &source, const QString &target);

// What tells one version of a file from another. A rewrite through
// atomicWrite makes a new inode, so even a same-size rewrite within one
// clock tick gets a new stamp.
struct FileStamp {
    quint64 device = 0;
    quint64 inode = 0;
    qint64 modifiedNs = 0; // since the epoch
    qint64 size = 0;
    bool operator==(const FileStamp &) const = default;
};
// The stamp of the regular file at path (lstat: a link is not followed);
// none when it is missing, unreadable or not a regular file.
std::optional<FileStamp> regularFileStamp(const QString &path);
// The stamp of whatever is at path, of any kind (lstat: a link is its own
// entry); none when nothing is there.
std::optional<FileStamp> entryStamp(const QString &path);

// What replaceIfUnchanged did.
enum class Replace { done, changedMeanwhile };
// atomicWrite for a file another program may save at any moment: data
// replaces path only while path is still the file the caller read, whose
// stamp (entryStamp) is expected; none when there was no file. The finished
// temp is exchanged with path atomically (renameat2 RENAME_EXCHANGE) and the
// file that came out compared with expected: when another save landed in
// between, that save is put back in place (the newest, should more land
// meanwhile) and changedMeanwhile answered. Where the file system refuses the
// exchange, the stamp is checked right before a plain rename. With no file
// expected, data is published create-only. Same temp, mode, flush and link
// rules as atomicWrite; throws FileError.
Replace replaceIfUnchanged(const QString &path, const QByteArray &data, const std::optional<FileStamp> &expected);

// Reads a regular file: no symbolic link, FIFO or device, at most maxBytes.
// Throws FileError (ELOOP for a link, EINVAL for other kinds, EFBIG when too big).
// stamp, when given, receives the stamp of the file opened.
inline constexpr qint64 kDefaultReadCap = 16 * 1024 * 1024;
QByteArray readRegularFile(const QString &path, qint64 maxBytes = kDefaultReadCap, FileStamp *stamp = nullptr);

// A folder held open, so that many files below it are reached without
// resolving the whole path each time (the library scan stats thousands).
// Opening does not follow a symbolic link.
class OpenFolder {
public:
    explicit OpenFolder(const QString &folder);
    ~OpenFolder();
    OpenFolder(const OpenFolder &) = delete;
    OpenFolder &operator=(const OpenFolder &) = delete;
    bool isOpen() const { return m_fd >= 0; }
    // As regularFileStamp and readRegularFile for a path relative to the
    // folder (in the file system's encoding).
    std::optional<FileStamp> regularFileStamp(const QByteArray &relative) const;
    QByteArray readRegularFile(const QByteArray &relative, qint64 maxBytes = kDefaultReadCap,
                               FileStamp *stamp = nullptr) const;

private:
    QByteArray m_name;
    int m_fd = -1;
};

// Creates folder (one level); an existing folder is fine, anything else in
// its place fails with ENOTDIR. Throws FileError.
void makeFolder(const QString &folder);
// Creates folder and any missing parents (mkdir -p), with the failing call's
// errno in the error. Folders it creates get 0777 & ~umask (0700 when
// Private); existing ones keep their mode. Throws FileError.
void makePath(const QString &folder, Privacy privacy = Privacy::Default);

// No cap on a read: the writer's own texts may be of any size.
inline constexpr qint64 kNoReadCap = std::numeric_limits<qint64>::max();

// Reads a regular file (as readRegularFile) as strict UTF-8: a file with
// other bytes throws FileError EILSEQ rather than being mangled by a later
// rewrite. A leading byte-order mark is dropped.
QString readUtf8File(const QString &path, qint64 maxBytes = kNoReadCap, FileStamp *stamp = nullptr);

// The names in folder in the order the platform lists them, without "." and
// "..". Throws FileError when the folder cannot be opened or read.
QStringList listFolder(const QString &folder);
// The same, answering none (and the errno in errorCode) instead of throwing:
// for readers that treat an unreadable folder as an empty one.
std::optional<QStringList> tryListFolder(const QString &folder, int *errorCode = nullptr);

// One entry of a folder with what the listing tells of it, without following
// a symbolic link.
struct FolderEntry {
    enum class Kind { directory, symLink, other, unreadable };
    QString name;
    Kind kind = Kind::unreadable;
};
// The entries of folder in the order the platform lists them, without "."
// and "..". The kind comes from the listing itself where the file system
// gives it, else from lstat (unreadable when that fails). None when the
// folder cannot be opened or read.
std::optional<QList<FolderEntry>> tryListFolderEntries(const QString &folder);

// Writes all of data to fd, retrying short writes and interruptions, and
// waiting while a non-blocking fd is full. False (errno set) when a write
// fails.
bool writeAll(int fd, QByteArrayView data);
// Waits until fd is ready for events (POLLIN, POLLOUT); false when the wait
// itself fails.
bool waitUntilReady(int fd, short events);

// lstat-based tests: never follow a link.
bool isSymLink(const QString &path);
bool existsNoFollow(const QString &path);
bool isDirectoryNoFollow(const QString &path);
bool isRegularFileNoFollow(const QString &path);

// Test seams; production code never calls these.
namespace detail {
// Called with the temp file's path right after it is created and given its
// final mode, before its first byte is written. nullptr clears it.
using TempCreatedHook = void (*)(const QString &tempPath);
void setTempCreatedHook(TempCreatedHook hook);
// Answers the name to try for a temp file (in the target's folder) on the
// given attempt, from 0; an empty answer keeps the random name. nullptr
// clears it.
using TempNameHook = QString (*)(int attempt);
void setTempNameHook(TempNameHook hook);
// Makes the RENAME_NOREPLACE and RENAME_EXCHANGE paths take their
// fallbacks, as on a filesystem without renameat2 support.
void setForceRenameFallback(bool force);
// Makes every flush of a folder fail with code, as a failing disk would (0
// clears).
void setFolderSyncFailure(int code);
// The steps of a durable write, each reported once it has succeeded with the
// path it acted on: the temp (write, syncFile), the target (rename, which a
// create-only publish or a move is too) and its folder (syncFolder).
enum class Step { write, syncFile, rename, syncFolder };
using StepObserver = void (*)(Step step, const QString &path);
// nullptr clears it.
void setStepObserver(StepObserver observer);
} // namespace detail

} // namespace foundation::fs

namespace foundation::fs {

// Flushes to disk (fsync) what was written to the regular file at path by a
// way other than the writes above (no link, FIFO or device; a copy that a
// later rename publishes). Reported to the step observer as syncFile. Throws
// FileError.
void flushFile(const QString &path);
// Flushes a folder's entries, as every publish above does after its rename: a
// failure is logged, not thrown. Reported to the step observer as syncFolder.
void flushFolder(const QString &folder);

} // namespace foundation::fs

namespace foundation::fs {

// True for a name atomicWrite gives its temp files: ".<name>.tmp-" and 16
// lower-case hex digits. A file of such a name that stays is what a write cut
// off (the process killed) left behind.
bool isAtomicWriteTempName(const QString &fileName);

} // namespace foundation::fs
