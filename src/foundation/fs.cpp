#include "fs.h"

#include "text.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <limits>
#include <memory>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace foundation::fs {
namespace {

std::atomic<detail::TempCreatedHook> g_tempCreatedHook{nullptr};
std::atomic<detail::TempNameHook> g_tempNameHook{nullptr};
std::atomic<bool> g_forceRenameFallback{false};
std::atomic<int> g_folderSyncFailure{0};
std::atomic<detail::StepObserver> g_stepObserver{nullptr};

// strerror_r comes in a GNU (returns char *) and an XSI (returns int) flavour.
[[maybe_unused]] const char *pickError(const char *gnu, const char *)
{
    return gnu;
}
[[maybe_unused]] const char *pickError(int, const char *buf)
{
    return buf;
}

QByteArray encode(const QString &path)
{
    return QFile::encodeName(path);
}

[[noreturn]] void fail(int code, const QByteArray &path, const char *operation)
{
    throw FileError(code, QFile::decodeName(path), QString::fromLatin1(operation));
}

struct Split {
    QByteArray folder;
    QByteArray name;
};

Split splitPath(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return {QByteArrayLiteral("."), path};
    return {slash == 0 ? QByteArrayLiteral("/") : path.left(slash), path.mid(slash + 1)};
}

// "a/b/" names the folder b in a, not something inside b.
QByteArray withoutTrailingSlash(QByteArray path)
{
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    return path;
}

QByteArray joinPath(const QByteArray &folder, const QByteArray &name)
{
    return folder.endsWith('/') ? folder + name : folder + '/' + name;
}

void observe(detail::Step step, const QByteArray &path)
{
    if (const auto observer = g_stepObserver.load())
        observer(step, QFile::decodeName(path));
}

class Fd {
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return m_fd; }
    void reset(int fd = -1)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }
    // Closes and reports the result: on some filesystems close() is where a
    // write error finally shows up.
    int close()
    {
        const int fd = m_fd;
        m_fd = -1;
        return ::close(fd);
    }

private:
    int m_fd;
};

// A temp file that removes itself unless it has been published.
class Temp {
public:
    ~Temp()
    {
        fd.reset();
        if (!path.isEmpty())
            ::unlink(path.constData());
    }
    void published() { path.clear(); }

    Fd fd;
    QByteArray path;
};

// ".<name>.tmp-<random>", kept within NAME_MAX so any valid target name works.
QByteArray tempName(const QByteArray &name)
{
    static constexpr qsizetype kSuffix = 5 + 16; // ".tmp-" + 16 hex digits
    qsizetype keep = qMin<qsizetype>(name.size(), NAME_MAX - 1 - kSuffix);
    // Do not leave half a UTF-8 sequence at the cut.
    while (keep > 0 && keep < name.size() && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80)
        --keep;
    const quint64 random = QRandomGenerator::system()->generate64();
    return '.' + name.left(keep) + ".tmp-" + QByteArray::number(random, 16).rightJustified(16, '0');
}

// Creates the temp with its final mode from the start. exactMode, when set, is
// applied with fchmod so the umask cannot change it.
void createTemp(Temp &temp, const QByteArray &folder, const QByteArray &name, mode_t createMode, int exactMode)
{
    for (int attempt = 0;; ++attempt) {
        const auto hook = g_tempNameHook.load();
        const QString fixed = hook ? hook(attempt) : QString();
        const QByteArray candidate = joinPath(folder, fixed.isEmpty() ? tempName(name) : encode(fixed));
        const int fd = ::open(candidate.constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, createMode);
        if (fd >= 0) {
            temp.fd.reset(fd);
            temp.path = candidate;
            break;
        }
        if (errno != EEXIST || attempt >= 100)
            fail(errno, candidate, "create");
    }
    if (exactMode >= 0 && ::fchmod(temp.fd.get(), static_cast<mode_t>(exactMode)) != 0)
        fail(errno, temp.path, "chmod");
    if (const auto hook = g_tempCreatedHook.load())
        hook(QFile::decodeName(temp.path));
}

void writeAllOrThrow(int fd, const QByteArray &data, const QByteArray &path)
{
    if (!writeAll(fd, data))
        fail(errno, path, "write");
    observe(detail::Step::write, path);
}

// Flushes and closes the written temp; it stays in place for the caller to publish.
void finishTemp(Temp &temp)
{
    if (::fsync(temp.fd.get()) != 0)
        fail(errno, temp.path, "fsync");
    observe(detail::Step::syncFile, temp.path);
    if (temp.fd.close() != 0)
        fail(errno, temp.path, "close");
}

void fillTemp(Temp &temp, const QByteArray &data)
{
    writeAllOrThrow(temp.fd.get(), data, temp.path);
    finishTemp(temp);
}

// Opens a regular file for reading: no symbolic link, FIFO or device.
// A file name relative to a folder (AT_FDCWD: the working folder), with
// the path errors name made only when one is thrown.
struct AtName {
    int dirFd;
    const QByteArray &folder; // empty for AT_FDCWD
    const QByteArray &name;
    QByteArray shown() const { return folder.isEmpty() ? name : joinPath(folder, name); }
};

void openRegularAt(Fd &fd, const AtName &at, struct stat &st)
{
    // O_NONBLOCK: opening a FIFO must not wait for a writer.
    fd.reset(::openat(at.dirFd, at.name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0)
        fail(errno, at.shown(), "open");
    if (::fstat(fd.get(), &st) != 0)
        fail(errno, at.shown(), "stat");
    if (!S_ISREG(st.st_mode))
        fail(EINVAL, at.shown(), "read");
}

void openRegular(Fd &fd, const QByteArray &name, struct stat &st)
{
    const QByteArray none;
    openRegularAt(fd, AtName{AT_FDCWD, none, name}, st);
}

std::optional<FileStamp> regularStamp(const struct stat &st)
{
    if (!S_ISREG(st.st_mode))
        return std::nullopt;
    return FileStamp{quint64(st.st_dev), quint64(st.st_ino),
                     qint64(st.st_mtim.tv_sec) * 1000000000 + qint64(st.st_mtim.tv_nsec), qint64(st.st_size)};
}

// Flushes a folder after a rename into it. The rename has happened, and with
// it the write or move: a failed flush leaves only its durability in doubt,
// so it is logged, never thrown for a caller to undo work that was done.
void syncFolder(const QByteArray &folder)
{
    const Fd fd(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    // A folder we may write but not list cannot be opened to flush it; the
    // file is already in place, so that is no failure of the write.
    if (fd.get() < 0 && errno == EACCES)
        return;
    int code = 0;
    if (fd.get() < 0)
        code = errno;
    else if (const int injected = g_folderSyncFailure.load())
        code = injected;
    // EINVAL: this filesystem cannot flush a folder; nothing more to do.
    else if (::fsync(fd.get()) != 0 && errno != EINVAL)
        code = errno;
    if (code == 0)
        observe(detail::Step::syncFolder, folder);
    else
        qWarning("%s",
                 qUtf8Printable(FileError(code, QFile::decodeName(folder), QStringLiteral("fsync folder")).message()));
}

bool renameNoReplaceUnsupported(int code)
{
    return code == EINVAL || code == ENOSYS;
}

// Returns 0 or the errno of renameat2(RENAME_NOREPLACE); ENOSYS when forced off.
int renameNoReplace(const QByteArray &source, const QByteArray &target)
{
    if (g_forceRenameFallback.load())
        return ENOSYS;
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    return errno;
}

// link() never replaces, so link + unlink is a create-only rename for files.
void linkThenUnlink(const QByteArray &source, const QByteArray &target)
{
    if (::link(source.constData(), target.constData()) != 0)
        fail(errno, target, "link");
    if (::unlink(source.constData()) != 0) {
        const int code = errno;
        ::unlink(target.constData()); // undo: the name is ours, nobody can have replaced it
        fail(code, source, "unlink");
    }
}

void publishBytes(const QByteArray &source, const QByteArray &target)
{
    const int code = renameNoReplace(source, target);
    if (code != 0) {
        if (!renameNoReplaceUnsupported(code))
            fail(code, target, "publish");
        linkThenUnlink(source, target);
    }
    observe(detail::Step::rename, target);
    syncFolder(splitPath(target).folder);
}

QString numberedName(const QString &base, const QString &ext, int n)
{
    QString name = base;
    if (n > 1)
        name += QLatin1Char('-') + QString::number(n);
    if (!ext.isEmpty())
        name += QLatin1Char('.') + ext;
    return name;
}

constexpr int kMaxNumberedNames = 100000;

bool lstatPath(const QString &path, struct stat &st)
{
    return ::lstat(encode(path).constData(), &st) == 0;
}

} // namespace

QString errorText(int code)
{
    char buf[256] = {};
    return QString::fromLocal8Bit(pickError(strerror_r(code, buf, sizeof buf), buf));
}

FileError::FileError(int code, const QString &path, const QString &operation)
    : Error(QStringLiteral("%1 failed: %2: %3").arg(operation, errorText(code), path)), m_code(code), m_path(path)
{}

namespace {

// Where a file is about to be replaced, and the mode its replacement gets: a
// rewrite keeps the old mode, a new file (a link at the target counts as one)
// 0666 less the umask, a private file 0600.
struct Replacement {
    QByteArray target;
    Split split;
    mode_t createMode = 0666;
    int exactMode = -1;
    bool folderThere = false;
};

Replacement replacementOf(const QString &path, Privacy privacy)
{
    Replacement r;
    r.target = encode(path);
    r.split = splitPath(r.target);
    if (r.split.name.isEmpty() || r.split.name == "." || r.split.name == "..")
        fail(EISDIR, r.target, "write");
    struct stat st {};
    const bool there = ::lstat(r.target.constData(), &st) == 0;
    r.folderThere = there && S_ISDIR(st.st_mode);
    if (privacy == Privacy::Private) {
        r.createMode = 0600;
        r.exactMode = 0600;
    } else if (there && S_ISREG(st.st_mode)) {
        r.createMode = st.st_mode & 0777;
        r.exactMode = static_cast<int>(st.st_mode & 07777);
    }
    return r;
}

// Gives temp the name target unless something is there already: 0, or EEXIST.
int publishOnce(Temp &temp, const QByteArray &target, const char *operation)
{
    const int code = renameNoReplace(temp.path, target);
    if (code == EEXIST)
        return EEXIST;
    if (code == 0) {
        temp.published();
    } else if (!renameNoReplaceUnsupported(code)) {
        fail(code, target, operation);
    } else if (::link(temp.path.constData(), target.constData()) != 0) {
        if (errno == EEXIST)
            return EEXIST;
        fail(errno, target, "link");
    }
    // After a link the temp name is dropped by Temp's destructor; the data
    // lives on under target.
    observe(detail::Step::rename, target);
    return 0;
}

} // namespace

void atomicWrite(const QString &path, const QByteArray &data, Privacy privacy)
{
    const Replacement r = replacementOf(path, privacy);
    Temp temp;
    createTemp(temp, r.split.folder, r.split.name, r.createMode, r.exactMode);
    fillTemp(temp, data);
    // rename() replaces a symbolic link itself, never what it points to.
    if (::rename(temp.path.constData(), r.target.constData()) != 0)
        fail(errno, r.target, "rename");
    temp.published();
    observe(detail::Step::rename, r.target);
    syncFolder(r.split.folder);
}

namespace {

// Any kind of entry: a link or a folder has a stamp too.
FileStamp stampOf(const struct stat &st)
{
    return FileStamp{quint64(st.st_dev), quint64(st.st_ino),
                     qint64(st.st_mtim.tv_sec) * 1000000000 + qint64(st.st_mtim.tv_nsec), qint64(st.st_size)};
}

std::optional<FileStamp> entryStampAt(const QByteArray &path)
{
    struct stat st {};
    if (::lstat(path.constData(), &st) != 0)
        return std::nullopt;
    return stampOf(st);
}

// Returns 0 or the errno of renameat2(RENAME_EXCHANGE); ENOSYS when forced off.
int exchangeNames(const QByteArray &a, const QByteArray &b)
{
    if (g_forceRenameFallback.load())
        return ENOSYS;
    if (::renameat2(AT_FDCWD, a.constData(), AT_FDCWD, b.constData(), RENAME_EXCHANGE) == 0)
        return 0;
    return errno;
}

constexpr int kPutBackRounds = 16;

// Our file went to target and another save came out under the temp name:
// exchanges them back. Should yet another save have landed on target in the
// meantime, it is newer than the one put back and takes its place in turn;
// only our own file, or one a newer save has replaced, is left under the
// temp name for its destructor to remove.
void putBack(Temp &temp, const QByteArray &target, const FileStamp &ours, const std::optional<FileStamp> &outside)
{
    QList<FileStamp> superseded{ours};
    std::optional<FileStamp> returning = outside;
    for (int round = 0; round < kPutBackRounds; ++round) {
        if (const int code = exchangeNames(temp.path, target)) {
            temp.published(); // keeps whatever the temp name holds
            fail(code, target, "rename");
        }
        observe(detail::Step::rename, target);
        const std::optional<FileStamp> out = entryStampAt(temp.path);
        if (!out) {
            temp.published();
            return;
        }
        if (superseded.contains(*out))
            return;
        if (returning)
            superseded.append(*returning);
        returning = out;
    }
    temp.published();
    qWarning("%s", qUtf8Printable(QStringLiteral("%1 kept beside %2: other saves kept landing while it was put back")
                                      .arg(QFile::decodeName(temp.path), QFile::decodeName(target))));
}

} // namespace

std::optional<FileStamp> entryStamp(const QString &path)
{
    return entryStampAt(encode(path));
}

Replace replaceIfUnchanged(const QString &path, const QByteArray &data, const std::optional<FileStamp> &expected)
{
    const Replacement r = replacementOf(path, Privacy::Default);
    const QByteArray &target = r.target;
    const Split &split = r.split;
    // An exchange would move a folder aside where a rename refuses.
    if (r.folderThere)
        fail(EISDIR, target, "write");

    Temp temp;
    createTemp(temp, split.folder, split.name, r.createMode, r.exactMode);
    fillTemp(temp, data);

    if (!expected) {
        // Nothing was there: a file that appeared since is someone's save.
        if (publishOnce(temp, target, "rename") == EEXIST)
            return Replace::changedMeanwhile;
        syncFolder(split.folder);
        return Replace::done;
    }

    const std::optional<FileStamp> ours = entryStampAt(temp.path);
    if (!ours)
        fail(errno, temp.path, "stat");
    const int code = exchangeNames(temp.path, target);
    if (code == 0) {
        // The temp name now holds what target held: the file read, unless
        // another save came first. An exchange moves a link, never follows it.
        observe(detail::Step::rename, target);
        const std::optional<FileStamp> out = entryStampAt(temp.path);
        if (out != expected)
            putBack(temp, target, *ours, out);
        syncFolder(split.folder);
        return out == expected ? Replace::done : Replace::changedMeanwhile;
    }
    if (code == ENOENT && !entryStampAt(target))
        return Replace::changedMeanwhile; // removed since it was read
    if (!renameNoReplaceUnsupported(code))
        fail(code, target, "rename");
    // No exchange here: the narrower check, just before the rename.
    if (entryStampAt(target) != expected)
        return Replace::changedMeanwhile;
    if (::rename(temp.path.constData(), target.constData()) != 0)
        fail(errno, target, "rename");
    temp.published();
    observe(detail::Step::rename, target);
    syncFolder(split.folder);
    return Replace::done;
}

void publishNoReplace(const QString &source, const QString &target)
{
    publishBytes(encode(source), encode(target));
}

namespace {

// Publishes a finished temp under the first free name among base.ext,
// base-2.ext ... in folder.
QString publishUnique(Temp &temp, const QByteArray &folderBytes, const QString &base, const QString &ext)
{
    for (int n = 1; n <= kMaxNumberedNames; ++n) {
        const QString name = numberedName(base, ext, n);
        const QByteArray target = joinPath(folderBytes, encode(name));
        if (publishOnce(temp, target, "publish") == EEXIST)
            continue;
        syncFolder(folderBytes);
        return name;
    }
    fail(EEXIST, joinPath(folderBytes, encode(numberedName(base, ext, 1))), "publish");
}

} // namespace

QString writeUnique(const QString &folder, const QString &base, const QString &ext, const QByteArray &data,
                    Privacy privacy)
{
    const QByteArray folderBytes = encode(folder);
    Temp temp;
    createTemp(temp, folderBytes, encode(numberedName(base, ext, 1)), privacy == Privacy::Private ? 0600 : 0666,
               privacy == Privacy::Private ? 0600 : -1);
    fillTemp(temp, data);
    return publishUnique(temp, folderBytes, base, ext);
}

namespace {

// Copies everything readable from in to out in chunks.
void copyBytes(int in, const QByteArray &inPath, int out, const QByteArray &outPath)
{
    constexpr qsizetype kChunk = 1024 * 1024;
    const std::unique_ptr<char[]> chunk(new char[kChunk]);
    for (;;) {
        const ssize_t n = ::read(in, chunk.get(), kChunk);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            fail(errno, inPath, "read");
        }
        if (n == 0)
            break;
        writeAllOrThrow(out, QByteArray::fromRawData(chunk.get(), n), outPath);
    }
}

} // namespace

QString copyUnique(const QString &source, const QString &folder, const QString &base, const QString &ext)
{
    const QByteArray sourceBytes = encode(source);
    Fd in;
    struct stat st {};
    openRegular(in, sourceBytes, st);

    const QByteArray folderBytes = encode(folder);
    Temp temp;
    createTemp(temp, folderBytes, encode(numberedName(base, ext, 1)), 0666, -1);
    copyBytes(in.get(), sourceBytes, temp.fd.get(), temp.path);
    finishTemp(temp);
    return publishUnique(temp, folderBytes, base, ext);
}

void copyFileKeepingMode(const QString &source, const QString &target)
{
    const QByteArray sourceBytes = encode(source);
    const QByteArray targetBytes = encode(target);
    Fd in;
    struct stat st {};
    openRegular(in, sourceBytes, st);
    const mode_t mode = st.st_mode & 07777;
    Fd out(::open(targetBytes.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode & 0700));
    if (out.get() < 0)
        fail(errno, targetBytes, "open");
    try {
        copyBytes(in.get(), sourceBytes, out.get(), targetBytes);
        // Owner-only until the content is in, then the source's own bits.
        if (::fchmod(out.get(), mode) != 0)
            fail(errno, targetBytes, "chmod");
        if (out.close() != 0)
            fail(errno, targetBytes, "close");
    } catch (...) {
        ::unlink(targetBytes.constData());
        throw;
    }
}

bool removeTree(const QString &path)
{
    // lstat of "link/" resolves the link: without the slash it names the link.
    const QByteArray target = withoutTrailingSlash(encode(path));
    struct stat st {};
    if (::lstat(target.constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return ::unlink(target.constData()) == 0;
    return QDir(QFile::decodeName(target)).removeRecursively();
}

QString firstFreeName(const QString &folder, const QString &base, const QString &ext)
{
    for (int n = 1;; ++n) {
        const QString name = numberedName(base, ext, n);
        if (n >= kMaxNumberedNames || !existsNoFollow(folder + QLatin1Char('/') + name))
            return name;
    }
}

void moveNoReplace(const QString &source, const QString &target)
{
    const QByteArray from = encode(source);
    const QByteArray to = encode(target);
    const int code = renameNoReplace(from, to);
    if (code != 0) {
        if (!renameNoReplaceUnsupported(code))
            fail(code, to, "move");
        struct stat st {};
        if (::lstat(from.constData(), &st) != 0)
            fail(errno, from, "move");
        if (S_ISDIR(st.st_mode)) {
            // No create-only rename for folders here: claim the name with an
            // exclusive mkdir, then rename over our own empty folder. Should
            // anything land in the claim meanwhile, rename fails (ENOTEMPTY)
            // and nothing is replaced.
            if (::mkdir(to.constData(), 0700) != 0)
                fail(errno, to, "move");
            if (::rename(from.constData(), to.constData()) != 0) {
                const int error = errno;
                ::rmdir(to.constData());
                fail(error, to, "move");
            }
        } else {
            linkThenUnlink(from, to);
        }
    }
    observe(detail::Step::rename, to);
    const QByteArray fromFolder = splitPath(withoutTrailingSlash(from)).folder;
    const QByteArray toFolder = splitPath(withoutTrailingSlash(to)).folder;
    syncFolder(toFolder);
    if (fromFolder != toFolder)
        syncFolder(fromFolder);
}

namespace {

QByteArray readRegularFileAt(const AtName &at, qint64 maxBytes, FileStamp *stamp)
{
    maxBytes = qMax<qint64>(maxBytes, 0);
    Fd fd;
    struct stat st {};
    openRegularAt(fd, at, st);
    if (stamp)
        *stamp = *regularStamp(st);
    if (st.st_size > maxBytes)
        fail(EFBIG, at.shown(), "read");

    // One byte beyond the cap tells a file that grew while we read it.
    const qint64 limit = maxBytes < std::numeric_limits<qint64>::max() ? maxBytes + 1 : maxBytes;
    QByteArray out;
    out.resize(qMin<qint64>(static_cast<qint64>(st.st_size) + 1, limit));
    qint64 total = 0;
    for (;;) {
        if (total == out.size()) {
            if (total >= limit)
                break;
            out.resize(qMin<qint64>(qMax<qint64>(total * 2, 4096), limit));
        }
        const ssize_t n = ::read(fd.get(), out.data() + total, static_cast<size_t>(out.size() - total));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            fail(errno, at.shown(), "read");
        }
        if (n == 0)
            break;
        total += n;
    }
    if (total > maxBytes)
        fail(EFBIG, at.shown(), "read");
    out.truncate(total);
    return out;
}

} // namespace

QByteArray readRegularFile(const QString &path, qint64 maxBytes, FileStamp *stamp)
{
    const QByteArray name = encode(path);
    const QByteArray none;
    return readRegularFileAt(AtName{AT_FDCWD, none, name}, maxBytes, stamp);
}

OpenFolder::OpenFolder(const QString &folder)
    : m_name(encode(folder)), m_fd(::open(m_name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC))
{}

OpenFolder::~OpenFolder()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

std::optional<FileStamp> OpenFolder::regularFileStamp(const QByteArray &relative) const
{
    struct stat st {};
    if (m_fd < 0 || ::fstatat(m_fd, relative.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return std::nullopt;
    return regularStamp(st);
}

QByteArray OpenFolder::readRegularFile(const QByteArray &relative, qint64 maxBytes, FileStamp *stamp) const
{
    if (m_fd < 0)
        fail(EBADF, joinPath(m_name, relative), "open");
    return readRegularFileAt(AtName{m_fd, m_name, relative}, maxBytes, stamp);
}

bool isSymLink(const QString &path)
{
    struct stat st {};
    return lstatPath(path, st) && S_ISLNK(st.st_mode);
}

bool existsNoFollow(const QString &path)
{
    struct stat st {};
    return lstatPath(path, st);
}

bool isDirectoryNoFollow(const QString &path)
{
    struct stat st {};
    return lstatPath(path, st) && S_ISDIR(st.st_mode);
}

bool isRegularFileNoFollow(const QString &path)
{
    struct stat st {};
    return lstatPath(path, st) && S_ISREG(st.st_mode);
}

namespace detail {

void setTempCreatedHook(TempCreatedHook hook)
{
    g_tempCreatedHook.store(hook);
}

void setTempNameHook(TempNameHook hook)
{
    g_tempNameHook.store(hook);
}

void setForceRenameFallback(bool force)
{
    g_forceRenameFallback.store(force);
}

void setFolderSyncFailure(int code)
{
    g_folderSyncFailure.store(code);
}

void setStepObserver(StepObserver observer)
{
    g_stepObserver.store(observer);
}

} // namespace detail

namespace {

int makeOne(const QByteArray &path, mode_t mode = 0777)
{
    if (::mkdir(path.constData(), mode) == 0)
        return 0;
    int code = errno;
    if (code == EEXIST) {
        struct stat st {};
        if (::stat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode))
            return 0;
        code = ENOTDIR;
    }
    return code;
}

int makeAll(const QByteArray &path, mode_t mode)
{
    int code = makeOne(path, mode);
    if (code == ENOENT) {
        const qsizetype slash = path.lastIndexOf('/');
        if (slash > 0) {
            if (const int parent = makeAll(path.left(slash), mode))
                return parent;
            code = makeOne(path, mode);
        }
    }
    return code;
}

} // namespace

void makeFolder(const QString &folder)
{
    if (const int code = makeOne(QFile::encodeName(folder)))
        throw FileError(code, folder, QStringLiteral("create folder"));
}

void makePath(const QString &folder, Privacy privacy)
{
    const QByteArray path = QFile::encodeName(folder);
    if (const int code = makeAll(path, privacy == Privacy::Private ? 0700 : 0777))
        throw FileError(code, folder, QStringLiteral("create folder"));
}

QString readUtf8File(const QString &path, qint64 maxBytes, FileStamp *stamp)
{
    auto text = text::decodeUtf8(readRegularFile(path, maxBytes, stamp));
    if (!text)
        throw FileError(EILSEQ, path, QStringLiteral("read"));
    return *std::move(text);
}

QString fitFileBase(const QString &base, const QString &ext)
{
    // Room for "-" and the longest number writeUnique tries, then ".ext".
    const qsizetype room = NAME_MAX - 1 - 7 - (ext.isEmpty() ? 0 : 1 + ext.toUtf8().size());
    if (base.toUtf8().size() <= room)
        return base;
    QString cut;
    qsizetype bytes = 0;
    for (const QString &cluster : text::graphemes(base)) {
        bytes += cluster.toUtf8().size();
        if (bytes > room)
            break;
        cut += cluster;
    }
    while (cut.endsWith(u'-'))
        cut.chop(1);
    return cut;
}

namespace {

// Calls onEntry(name, d_type) for every entry but "." and "..". Answers 0 or
// the errno of the failed opendir or readdir.
template<typename OnEntry>
int readFolder(const QByteArray &folder, OnEntry onEntry)
{
    DIR *dir = ::opendir(folder.constData());
    if (!dir)
        return errno;
    for (;;) {
        errno = 0;
        const dirent *entry = ::readdir(dir);
        if (!entry)
            break;
        const char *n = entry->d_name;
        if (n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0)))
            continue;
        onEntry(n, entry->d_type);
    }
    const int error = errno;
    ::closedir(dir);
    return error;
}

} // namespace

QStringList listFolder(const QString &folder)
{
    const QByteArray name = encode(folder);
    QStringList names;
    if (const int error =
            readFolder(name, [&names](const char *n, unsigned char) { names.append(QFile::decodeName(n)); }))
        fail(error, name, "list");
    return names;
}

std::optional<QList<FolderEntry>> tryListFolderEntries(const QString &folder)
{
    using Kind = FolderEntry::Kind;
    const QByteArray name = encode(folder);
    QList<FolderEntry> entries;
    const int error = readFolder(name, [&](const char *n, unsigned char type) {
        Kind kind = Kind::other;
        if (type == DT_DIR) {
            kind = Kind::directory;
        } else if (type == DT_LNK) {
            kind = Kind::symLink;
        } else if (type == DT_UNKNOWN) {
            struct stat st {};
            const QByteArray path = joinPath(name, QByteArray(n));
            if (::lstat(path.constData(), &st) != 0)
                kind = Kind::unreadable;
            else
                kind = S_ISDIR(st.st_mode) ? Kind::directory : S_ISLNK(st.st_mode) ? Kind::symLink : Kind::other;
        }
        entries.append(FolderEntry{QFile::decodeName(n), kind});
    });
    if (error != 0)
        return std::nullopt;
    return entries;
}

std::optional<FileStamp> regularFileStamp(const QString &path)
{
    struct stat st {};
    if (!lstatPath(path, st))
        return std::nullopt;
    return regularStamp(st);
}

bool waitUntilReady(int fd, short events)
{
    pollfd p{fd, events, 0};
    for (;;) {
        if (::poll(&p, 1, -1) >= 0)
            return true;
        if (errno != EINTR)
            return false;
    }
}

bool writeAll(int fd, QByteArrayView data)
{
    const char *p = data.data();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
        if (n < 0) {
            if (errno == EINTR || ((errno == EAGAIN || errno == EWOULDBLOCK) && waitUntilReady(fd, POLLOUT)))
                continue;
            return false;
        }
        if (n == 0) {
            errno = EIO;
            return false;
        }
        p += n;
        left -= n;
    }
    return true;
}

std::optional<QStringList> tryListFolder(const QString &folder, int *errorCode)
{
    try {
        return listFolder(folder);
    } catch (const FileError &error) {
        if (errorCode)
            *errorCode = error.code();
        return std::nullopt;
    }
}

} // namespace foundation::fs

namespace foundation::fs {

void flushFile(const QString &path)
{
    const QByteArray bytes = encode(path);
    Fd fd;
    struct stat st {};
    openRegular(fd, bytes, st);
    if (::fsync(fd.get()) != 0)
        fail(errno, bytes, "fsync");
    observe(detail::Step::syncFile, bytes);
}

void flushFolder(const QString &folder)
{
    syncFolder(encode(folder));
}

} // namespace foundation::fs

namespace foundation::fs {

bool isAtomicWriteTempName(const QString &fileName)
{
    static constexpr qsizetype kDigits = 16;
    static constexpr QStringView kMarker = u".tmp-";
    // At least one character of the target's name between the dot and the marker.
    const qsizetype marker = fileName.size() - kDigits - kMarker.size();
    if (marker < 2 || !fileName.startsWith(u'.') || QStringView(fileName).sliced(marker, kMarker.size()) != kMarker)
        return false;
    for (qsizetype i = marker + kMarker.size(); i < fileName.size(); ++i) {
        const QChar c = fileName[i];
        if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f')))
            return false;
    }
    return true;
}

} // namespace foundation::fs
