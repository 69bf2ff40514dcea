#include "library/poststore.h"

#include "foundation/fs.h"
#include "foundation/text.h"
#include "library/frontmatter.h"
#include "library/piececontents.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStandardPaths>
#include <QStringDecoder>
#include <algorithm>
#include <cerrno>
#include <sys/stat.h>

namespace library::PostStore {
namespace {

using foundation::fs::FileError;
using Code = StoreError::Code;

QString joined(const QString &folder, const QString &name)
{
    return folder + u'/' + name;
}

// An existing project folder whose name matches project under NFC + lower
// case: on a case-sensitive file system a write to "blog" would otherwise
// start a second project beside "Blog".
std::optional<QString> sameProjectFolder(const QString &root, const QString &project)
{
    auto names = foundation::fs::tryListFolder(root);
    if (!names)
        return std::nullopt;
    foundation::text::sortByCodePoint(*names);
    const QString key = foundation::text::nameKey(project);
    for (const QString &name : std::as_const(*names)) {
        if (!name.startsWith(u'.') && foundation::text::nameKey(name) == key
            && foundation::fs::isDirectoryNoFollow(joined(root, name)))
            return name;
    }
    return std::nullopt;
}

// A missing Home is an unplugged drive or a folder moved away: a write never
// makes it again, or a drive mounted later would hide what was written there.
void requireHomeOf(const QString &root)
{
    const QString home = QFileInfo(root).path();
    if (!QFileInfo(home).isDir())
        throw FileError(ENOENT, home, QStringLiteral("create folder"));
}

// Creates <root>/<project>/ for a write into it, or reuses the project folder
// of the same name. A project folder that is a symbolic link is refused: the
// scan ignores it and a write would land wherever it points.
QString ensureProjectFolder(const QString &root, const QString &project)
{
    requireHomeOf(root);
    QString path = joined(root, project);
    if (!foundation::fs::existsNoFollow(path)) {
        if (const auto existing = sameProjectFolder(root, project))
            path = joined(root, *existing);
    }
    if (foundation::fs::isSymLink(path))
        throw FileError(ELOOP, path, QStringLiteral("create folder"));
    foundation::fs::makePath(path);
    return path;
}

// A move that never replaces; a taken target is the store's own error.
void moveRefusingExisting(const QString &from, const QString &to)
{
    try {
        foundation::fs::moveNoReplace(from, to);
    } catch (const FileError &error) {
        if (error.code() == EEXIST || error.code() == ENOTEMPTY)
            throw StoreError(Code::fileWriteFileExists, to);
        throw;
    }
}

struct Location {
    Root root = Root::projects;
    QString project;
    QString path;
};

std::optional<Location> locate(const QString &id, const QString &home)
{
    if (!isConfinedName(id))
        return std::nullopt;
    for (Root root : {Root::projects, Root::archive}) {
        const QString rootDir = rootPath(home, root);
        auto names = foundation::fs::tryListFolder(rootDir);
        if (!names)
            continue;
        foundation::text::sortByCodePoint(*names);
        for (const QString &project : std::as_const(*names)) {
            if (project.startsWith(u'.'))
                continue;
            const QString projectDir = joined(rootDir, project);
            if (!foundation::fs::isDirectoryNoFollow(projectDir))
                continue;
            const QString candidate = joined(projectDir, id);
            if (foundation::fs::isDirectoryNoFollow(candidate))
                return Location{root, project, candidate};
        }
    }
    return std::nullopt;
}

Location requireLocation(const Post &post, const QString &home)
{
    auto where = locate(post.id, home);
    if (!where)
        throw StoreError(Code::fileReadNoSuchFile, post.id);
    return *where;
}

// The home Trash with its files/ and info/ folders (freedesktop layout). Qt
// 6.4 cannot make it when the data folder is missing, and then moves the item
// into the working folder and reports success.
void ensureHomeTrash()
{
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (data.isEmpty())
        throw FileError(ENOENT, QStringLiteral("Trash"), QStringLiteral("create folder"));
    const QString trash = joined(data, QStringLiteral("Trash"));
    foundation::fs::makePath(data);
    // The Trash holds what the user threw away: private from the start.
    if (::mkdir(QFile::encodeName(trash).constData(), 0700) != 0 && errno != EEXIST)
        throw FileError(errno, trash, QStringLiteral("create folder"));
    foundation::fs::makeFolder(joined(trash, QStringLiteral("files")));
    foundation::fs::makeFolder(joined(trash, QStringLiteral("info")));
}

// Combining marks that diacritic folding drops after decomposition.
bool isDiacriticMark(char32_t c)
{
    return (c >= 0x0300 && c <= 0x036F) || (c >= 0x1AB0 && c <= 0x1AFF) || (c >= 0x1DC0 && c <= 0x1DFF)
           || (c >= 0x20D0 && c <= 0x20FF) || (c >= 0xFE20 && c <= 0xFE2F);
}

bool isAlphanumeric(char32_t c)
{
    switch (QChar::category(c)) {
    case QChar::Letter_Uppercase:
    case QChar::Letter_Lowercase:
    case QChar::Letter_Titlecase:
    case QChar::Letter_Modifier:
    case QChar::Letter_Other:
    case QChar::Mark_NonSpacing:
    case QChar::Mark_SpacingCombining:
    case QChar::Mark_Enclosing:
    case QChar::Number_DecimalDigit:
    case QChar::Number_Letter:
    case QChar::Number_Other: return true;
    default: return false;
    }
}

} // namespace

QString rootName(Root root)
{
    return root == Root::projects ? QStringLiteral("projects") : QStringLiteral("archive");
}

QString rootPath(const QString &home, Root root)
{
    return joined(QDir::cleanPath(home), rootName(root));
}

bool isConfinedName(const QString &name)
{
    return !name.isEmpty() && !name.startsWith(u'.') && !name.contains(u'/') && !name.contains(QChar(u'\0'));
}

std::optional<QString> folderPath(const QString &id, const QString &home)
{
    if (auto where = locate(id, home))
        return where->path;
    return std::nullopt;
}

QString slug(const QString &title)
{
    QString folded;
    folded.reserve(title.size());
    for (char32_t c : title.normalized(QString::NormalizationForm_D).toUcs4()) {
        if (!isDiacriticMark(c))
            folded.append(QString::fromUcs4(&c, 1));
    }
    folded = folded.normalized(QString::NormalizationForm_C).toLower();

    QString out;
    out.reserve(folded.size());
    bool afterSpace = true;
    for (char32_t c : folded.toUcs4()) {
        if (QChar::isSpace(c)) {
            if (!afterSpace)
                out.append(u'-');
            afterSpace = true;
        } else if (isAlphanumeric(c)) {
            out.append(QString::fromUcs4(&c, 1));
            afterSpace = false;
        }
    }
    out = foundation::text::graphemePrefix(out, 80);
    while (out.endsWith(u'-'))
        out.chop(1);
    return out.isEmpty() ? QStringLiteral("untitled") : out;
}

QString uniquePieceName(const QString &title, const QString &home, const std::optional<QString> &excludedID)
{
    using foundation::text::nameKey;
    QSet<QString> taken;
    for (Root root : {Root::projects, Root::archive}) {
        const QString rootDir = rootPath(home, root);
        const auto projects = foundation::fs::tryListFolder(rootDir);
        if (!projects)
            continue;
        for (const QString &project : *projects) {
            const auto pieces = foundation::fs::tryListFolder(joined(rootDir, project));
            if (!pieces)
                continue;
            for (const QString &piece : *pieces)
                taken.insert(nameKey(piece));
        }
    }
    // A slug of 80 clusters in a many-byte script can pass the 255-byte
    // file-name limit; cut it further only then.
    const QString fitted = foundation::fs::fitFileBase(slug(title), QString());
    const QString base = fitted.isEmpty() ? QStringLiteral("untitled") : fitted;
    const QString baseKey = nameKey(base);
    if (!taken.contains(baseKey))
        return base;
    if (excludedID && nameKey(*excludedID) == baseKey)
        return base;
    for (qint64 n = 2;; ++n) {
        const QString candidate = base + u'-' + QString::number(n);
        if (!taken.contains(nameKey(candidate)))
            return candidate;
    }
}

QString validateProjectName(const QString &name)
{
    const QString trimmed = name.trimmed();
    bool refused = trimmed.isEmpty() || trimmed.contains(u'/') || trimmed.startsWith(u'.') || trimmed.contains(u':');
    if (!refused) {
        for (char32_t c : trimmed.toUcs4()) {
            const auto category = QChar::category(c);
            if (category == QChar::Other_Control || category == QChar::Other_Format) {
                refused = true;
                break;
            }
        }
    }
    if (refused)
        throw StoreError(Code::fileWriteInvalidFileName, name);
    return trimmed;
}

void createProject(const QString &name, const QString &home)
{
    const QString valid = validateProjectName(name);
    const QString projects = rootPath(home, Root::projects);
    requireHomeOf(projects);
    const QString key = foundation::text::nameKey(valid);
    for (const QString &existing : foundation::fs::tryListFolder(projects).value_or(QStringList())) {
        if (foundation::text::nameKey(existing) == key)
            throw StoreError(Code::fileWriteFileExists, joined(projects, existing));
    }
    foundation::fs::makePath(joined(projects, valid));
}

namespace {

// Writes content as the post.md of a new piece folder named after title in
// project; the piece reads as type and origin at First Draft.
Post writeNewPiece(const QString &content, const QString &title, const QString &project, Post::ContentType type,
                   Post::Origin origin, const QString &home)
{
    // A name like "../x" or "a/b" would write outside projects/.
    const QString projectName = validateProjectName(project);
    const QString projectDir = ensureProjectFolder(rootPath(home, Root::projects), projectName);

    const QString name = uniquePieceName(title, home);
    const QString pieceDir = joined(projectDir, name);
    const QString postPath = joined(pieceDir, kPostFileName);
    if (foundation::fs::existsNoFollow(postPath))
        throw StoreError(Code::fileWriteFileExists, postPath);

    // Created exclusively: a folder that appeared meanwhile is someone else's
    // and is neither written into nor removed.
    const QByteArray encodedDir = QFile::encodeName(pieceDir);
    if (::mkdir(encodedDir.constData(), 0777) != 0) {
        const int code = errno;
        if (code == EEXIST)
            throw StoreError(Code::fileWriteFileExists, pieceDir);
        throw FileError(code, pieceDir, QStringLiteral("create folder"));
    }
    try {
        foundation::fs::atomicWrite(postPath, content.toUtf8());
    } catch (...) {
        if (!foundation::fs::existsNoFollow(postPath))
            ::rmdir(encodedDir.constData());
        throw;
    }

    Post post;
    post.id = name;
    post.title = title;
    post.passState = Post::PassState::firstDraft;
    post.origin = origin;
    post.type = type;
    post.project = QFileInfo(projectDir).fileName();
    post.isArchived = false;
    return post;
}

} // namespace

Post createPiece(const QString &text, const QString &project, Post::ContentType type, Post::Origin origin,
                 const QString &home)
{
    const QString content = PostFrontmatter::frontmatterBlock(
                                PostFrontmatter::defaultFrontmatter(type, Post::PassState::firstDraft, origin))
                            + text;
    return writeNewPiece(content, PostFrontmatter::deriveTitle(content), project, type, origin, home);
}

Post importPiece(const QString &text, const QString &project, Post::Origin origin, const QString &home)
{
    // Whatever the file said, it arrives as a new post; its other keys stay.
    return writeNewPiece(PostFrontmatter::stampNewPost(text, origin), PostFrontmatter::deriveTitle(text), project,
                         Post::ContentType::post, origin, home);
}

QString replaceTitleHeading(const QString &body, const QString &heading)
{
    QStringList lines = body.split(u'\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString trimmed = lines[i].trimmed();
        if (trimmed.isEmpty())
            continue;
        if (trimmed.startsWith(u'#'))
            lines[i] = heading;
        else
            lines.insert(i, heading);
        return lines.join(u'\n');
    }
    return heading;
}

Post renamePiece(const Post &post, const QString &newTitle, const QString &home)
{
    // The title is one heading line: a pasted line break would leave the rest
    // of it in the body.
    const QString title = foundation::text::onOneLine(newTitle);
    const Location where = requireLocation(post, home);
    const QString postPath = joined(where.path, kPostFileName);
    const QString text = foundation::fs::readUtf8File(postPath);
    const PostFrontmatter::Split split = PostFrontmatter::splitFrontmatter(text);
    const QString body = replaceTitleHeading(split.body, QStringLiteral("# ") + title);
    foundation::fs::atomicWrite(postPath, (split.block + body).toUtf8());

    const QString name = uniquePieceName(title, home, post.id);
    if (name != post.id)
        moveRefusingExisting(where.path, joined(QFileInfo(where.path).path(), name));

    Post result;
    result.id = name;
    result.title = title;
    result.passState = post.passState;
    result.origin = post.origin;
    result.type = post.type;
    result.project = post.project;
    result.isArchived = post.isArchived;
    return result;
}

void trashPiece(const Post &post, const QString &home)
{
    const Location where = requireLocation(post, home);
    ensureHomeTrash();
    errno = 0;
    if (!QFile::moveToTrash(where.path)) {
        const int code = errno != 0 ? errno : EIO;
        throw FileError(code, where.path, QStringLiteral("move to Trash"));
    }
}

void movePiece(const Post &post, const QString &targetProject, const QString &home)
{
    const Location where = requireLocation(post, home);
    if (where.root == Root::archive)
        throw StoreError(Code::featureUnsupported, where.path);
    const QString name = validateProjectName(targetProject);
    const QString root = rootPath(home, Root::projects);
    if (name == where.project)
        return;
    // The same project under another case or form, unless a folder of
    // exactly that name is listed beside it: then it is a project of its own.
    if (foundation::text::nameKey(name) == foundation::text::nameKey(where.project)) {
        const std::optional<QStringList> names = foundation::fs::tryListFolder(root);
        if (!names || !names->contains(name) || !foundation::fs::isDirectoryNoFollow(joined(root, name)))
            return;
    }
    const QString projectDir = ensureProjectFolder(root, name);
    moveRefusingExisting(where.path, joined(projectDir, post.id));
}

void moveBetweenRoots(const Post &post, Root targetRoot, const QString &home)
{
    const Location where = requireLocation(post, home);
    const QString projectDir = ensureProjectFolder(rootPath(home, targetRoot), where.project);
    moveRefusingExisting(where.path, joined(projectDir, post.id));
}

void archivePiece(const Post &post, const QString &home)
{
    moveBetweenRoots(post, Root::archive, home);
}

void unarchivePiece(const Post &post, const QString &home)
{
    moveBetweenRoots(post, Root::projects, home);
}

void unarchiveProject(const QString &project, const QString &home)
{
    // "../x" would reach outside the Home on both sides of the move.
    if (!isConfinedName(project))
        throw StoreError(Code::fileWriteInvalidFileName, project);
    const QString archived = joined(rootPath(home, Root::archive), project);
    if (!foundation::fs::isDirectoryNoFollow(archived))
        throw StoreError(Code::fileReadNoSuchFile, archived);
    const QString live = ensureProjectFolder(rootPath(home, Root::projects), project);

    int code = 0;
    auto names = foundation::fs::tryListFolder(archived, &code);
    if (!names)
        throw FileError(code, archived, QStringLiteral("list folder"));
    foundation::text::sortByCodePoint(*names);
    for (const QString &name : std::as_const(*names)) {
        if (name.startsWith(u'.'))
            continue;
        moveRefusingExisting(joined(archived, name), joined(live, name));
    }

    const auto left = foundation::fs::tryListFolder(archived);
    if (!left || left->isEmpty()) {
        if (::rmdir(QFile::encodeName(archived).constData()) != 0)
            throw FileError(errno, archived, QStringLiteral("remove folder"));
    }
}

const QStringList &importableTypes()
{
    static const QStringList types{QStringLiteral("md"), QStringLiteral("markdown")};
    return types;
}

bool isImportable(const QString &path)
{
    return importableTypes().contains(QFileInfo(path).suffix(), Qt::CaseInsensitive);
}

bool isImportable(const QUrl &url)
{
    return url.isLocalFile() && isImportable(url.toLocalFile());
}

} // namespace library::PostStore
