#include "library/piececontents.h"

#include "foundation/dates.h"
#include "foundation/fs.h"
#include "foundation/json.h"
#include "foundation/text.h"
#include "library/draftstats.h"
#include "library/frontmatter.h"
#include "library/micropubchecks.h"
#include "library/outlinenode.h"
#include "library/poststore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStringList>
#include <algorithm>

#include <cerrno>
#include <cmath>
#include <dirent.h>
#include <fcntl.h>
#include <limits>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace library::PostStore {
namespace {

using foundation::fs::FileError;
using Code = StoreError::Code;
using namespace Qt::StringLiterals;

const QString kPassesFolder = u"passes"_s;
const QString kResearchFolder = u"research"_s;
const QString kAssetsFolder = u"assets"_s;
constexpr qint64 kCursorStateCap = 64 * 1024;
// The writer's own text (post.md, snapshots) and dropped images have no size
// limit; the cap only keeps the read's one-byte look-ahead from overflowing.

QString joined(const QString &folder, const QString &name)
{
    return folder + u'/' + name;
}

QString snapshotName(PassKind kind)
{
    return kind == PassKind::pass1 ? u"pass-1.md"_s : u"pass-2.md"_s;
}

QString requireFolder(const QString &id, const QString &home)
{
    auto folder = folderPath(id, home);
    if (!folder)
        throw StoreError(Code::fileReadNoSuchFile, id);
    return *folder;
}

struct ReadPost {
    PieceContents contents;
    QString text;  // post.md whole
    QString block; // its front matter block, empty when there is none
    QString path;
};

// keepText: also keep post.md whole in text (its body is then a copy).
ReadPost readPost(const QString &id, const QString &home, bool keepText = false)
{
    ReadPost result;
    result.contents.folder = requireFolder(id, home);
    result.path = joined(result.contents.folder, kPostFileName);
    try {
        result.text = foundation::fs::readUtf8File(result.path);
    } catch (const FileError &error) {
        if (error.code() == ENOENT)
            throw StoreError(Code::fileReadNoSuchFile, result.path);
        throw;
    }
    const PostFrontmatter::Flags flags =
        PostFrontmatter::frontmatterFlags(PostFrontmatter::parseFrontmatter(result.text));
    result.contents.type = flags.type;
    result.contents.passState = flags.passState;
    result.contents.origin = flags.origin;
    PostFrontmatter::Split split = keepText ? PostFrontmatter::splitFrontmatter(result.text)
                                            : PostFrontmatter::splitFrontmatter(std::move(result.text));
    result.block = std::move(split.block);
    result.contents.body = std::move(split.body);
    return result;
}

// block then body in UTF-8, without first joining them into one long text.
// The block ends with a line feed, so encoding the two apart gives the same
// bytes as encoding them joined.
QByteArray utf8Joined(const QString &block, const QString &body)
{
    QByteArray out = body.toUtf8();
    out.prepend(block.toUtf8());
    return out;
}

// "---\n", the three keys with their raw values, "\n---\n".
QString freshBlock(Post::ContentType type, Post::PassState passState, Post::Origin origin)
{
    return PostFrontmatter::frontmatterBlock(PostFrontmatter::defaultFrontmatter(type, passState, origin));
}

// A folder inside a piece for the program's own files. A symbolic link there
// is refused: a write would land wherever it points.
void ensurePieceSubfolder(const QString &path)
{
    if (foundation::fs::isSymLink(path))
        throw FileError(ELOOP, path, u"create folder"_s);
    foundation::fs::makePath(path);
    if (foundation::fs::isSymLink(path))
        throw FileError(ELOOP, path, u"create folder"_s);
}

// Modification time of a regular file (links are not followed).
std::optional<struct timespec> modificationTime(const QString &path)
{
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return st.st_mtim;
}

bool isLater(const struct timespec &a, const struct timespec &b)
{
    return a.tv_sec != b.tv_sec ? a.tv_sec > b.tv_sec : a.tv_nsec > b.tv_nsec;
}

// Every line of the quote inside the blockquote; a single line is "> " and
// the quote exactly.
QString blockquote(const QString &quote)
{
    static const QRegularExpression lineBreak(u"\r\n|\r|\n"_s);
    QStringList lines = quote.split(lineBreak);
    for (QString &line : lines)
        line.prepend(u"> "_s);
    return lines.join(u'\n');
}

QString researchText(const QString &title, const QString &url, const QString &quote, const QString &note,
                     const QString &day)
{
    QString text = u"---\nsource: "_s + foundation::text::onOneLine(url) + u"\nkept: "_s + day + u"\n---\n\n# "_s
                   + foundation::text::onOneLine(title);
    if (!note.isEmpty())
        text += u"\n\n"_s + note;
    if (!quote.isEmpty())
        text += u"\n\n"_s + blockquote(quote);
    text += u'\n';
    return text;
}

// The piece id of a path naming a piece folder or its post.md.
QString pieceIDOfPath(const QString &piecePath)
{
    QString path = piecePath;
    const auto dropTrailingSlashes = [&path] {
        while (path.size() > 1 && path.endsWith(u'/'))
            path.chop(1);
    };
    const auto lastComponent = [&path] { return path.mid(path.lastIndexOf(u'/') + 1); };
    dropTrailingSlashes();
    if (lastComponent() == kPostFileName) {
        path.truncate(qMax<qsizetype>(path.lastIndexOf(u'/'), 0));
        dropTrailingSlashes();
    }
    return lastComponent();
}

// A refusal naming the dropped file by its first 40 characters.
QString withName(const QString &message, const QString &fileName)
{
    const qsizetype at = message.indexOf(u"<name>"_s);
    return message.left(at) + foundation::text::graphemePrefix(fileName, 40) + message.mid(at + 6);
}

} // namespace

// --- Leftovers of interrupted saves ------------------------------------------------

void removeSaveLeftovers(const QString &pieceFolder)
{
    // The scan sweeps every piece it reads: names are looked at as the bytes
    // listed, relative to the folder held open, and only a likely one is
    // decoded.
    const int fd = ::open(QFile::encodeName(pieceFolder).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return;
    DIR *const folder = ::fdopendir(fd);
    if (!folder) {
        ::close(fd);
        return;
    }
    const qint64 cutoffSeconds =
        QDateTime::currentSecsSinceEpoch() - std::chrono::duration_cast<std::chrono::seconds>(kSaveLeftoverAge).count();
    static constexpr std::string_view kMarker = ".tmp-";
    static constexpr size_t kDigits = 16;
    while (const struct dirent *entry = ::readdir(folder)) {
        const std::string_view name(entry->d_name);
        if (name.size() < kMarker.size() + kDigits + 2 || name.front() != '.'
            || name.substr(name.size() - kDigits - kMarker.size(), kMarker.size()) != kMarker
            || !foundation::fs::isAtomicWriteTempName(QFile::decodeName(entry->d_name)))
            continue;
        // Regular files only: a link or a folder of that name is not ours.
        struct stat st {};
        if (::fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode)
            && st.st_mtim.tv_sec < cutoffSeconds)
            ::unlinkat(fd, entry->d_name, 0);
    }
    ::closedir(folder);
}

// --- Cursor state --------------------------------------------------------------

std::optional<QByteArray> CursorState::encode() const
{
    if (!std::isfinite(scrollOffset))
        return std::nullopt;
    return foundation::json::compact(QJsonObject{
        {u"selectionLocation"_s, selectionLocation},
        {u"selectionLength"_s, selectionLength},
        {u"scrollOffset"_s, scrollOffset},
    });
}

std::optional<CursorState> CursorState::decode(const QByteArray &json)
{
    const std::optional<QJsonObject> parsed = foundation::json::parseObject(json);
    if (!parsed)
        return std::nullopt;
    const QJsonObject &object = *parsed;
    const auto integer = [&object](const QString &key) { return foundation::json::wholeInteger(object.value(key)); };
    const auto location = integer(u"selectionLocation"_s);
    const auto length = integer(u"selectionLength"_s);
    const QJsonValue scroll = object.value(u"scrollOffset"_s);
    if (!location || !length || !scroll.isDouble())
        return std::nullopt;
    return CursorState{*location, *length, scroll.toDouble()};
}

void writeCursorState(qint64 selectionLocation, qint64 selectionLength, const QString &id, const QString &home,
                      double scrollOffset)
{
    const auto folder = folderPath(id, home);
    if (!folder)
        return;
    const auto data = CursorState{selectionLocation, selectionLength, scrollOffset}.encode();
    if (!data)
        return;
    try {
        foundation::fs::atomicWrite(joined(*folder, kCursorStateFileName), *data);
    } catch (const FileError &) {
        // The cursor is a convenience; losing it loses nothing written.
    }
}

std::optional<CursorState> readCursorState(const QString &id, const QString &home)
{
    const auto folder = folderPath(id, home);
    if (!folder)
        return std::nullopt;
    try {
        return CursorState::decode(
            foundation::fs::readRegularFile(joined(*folder, kCursorStateFileName), kCursorStateCap));
    } catch (const FileError &) {
        return std::nullopt;
    }
}

// --- post.md ---------------------------------------------------------------------

PieceContents readPiece(const QString &id, const QString &home)
{
    return readPost(id, home).contents;
}

std::optional<QString> readText(const QString &id, const QString &home)
{
    const auto folder = folderPath(id, home);
    if (!folder)
        return std::nullopt;
    try {
        return PostFrontmatter::splitFrontmatter(foundation::fs::readUtf8File(joined(*folder, kPostFileName))).body;
    } catch (const FileError &) {
        return std::nullopt;
    }
}

void writeText(const QString &id, const QString &body, const QString &home)
{
    const ReadPost read = readPost(id, home);
    const PieceContents &piece = read.contents;
    // Only the block is kept (a fresh one when there is none): blank lines
    // above it go, the body is replaced.
    const QString block = PostFrontmatter::rewriteFrontmatter(
        read.block, PostFrontmatter::defaultFrontmatter(piece.type, piece.passState, piece.origin));
    foundation::fs::atomicWrite(read.path, utf8Joined(block, body));
}

void recordMicropubURL(const QString &id, const QString &url, const QString &home)
{
    const QString folder = requireFolder(id, home);
    const QString path = joined(folder, kPostFileName);
    // A line break would end the value and start lines of its own in the block.
    if (std::any_of(url.cbegin(), url.cend(), [](QChar c) { return foundation::text::isLineBreak(c.unicode()); }))
        throw FileError(EINVAL, path, u"record Micropub URL"_s);
    const QString text = foundation::fs::readUtf8File(path);
    foundation::fs::atomicWrite(
        path, PostFrontmatter::rewriteFrontmatter(text, {{PostFrontmatter::kMicropubURLKey, url}}).toUtf8());
}

void rewriteAsPost(const QString &id, bool convert, const QString &home)
{
    const ReadPost read = readPost(id, home);
    const PieceContents &piece = read.contents;
    const QString body = convert ? OutlineNode::postTextFromOutline(piece.body) : piece.body;
    // Only the three keys change: the writer's own keys (tags, slug, a
    // recorded micropub_url that keeps the next publish an update) stay in
    // their places.
    const QString block = PostFrontmatter::rewriteFrontmatter(
        read.block, PostFrontmatter::defaultFrontmatter(Post::ContentType::post, piece.passState, piece.origin));
    foundation::fs::atomicWrite(read.path, utf8Joined(block, body));
}

bool writeDraftStats(const QString &id, const QString &text, const QString &home, const QDateTime &now)
{
    const auto folder = folderPath(id, home);
    if (!folder)
        return false;
    const QString path = joined(*folder, kPostFileName);
    try {
        const QString current = foundation::fs::readUtf8File(path);
        if (!PostFrontmatter::isUntouchedWriterDraft(PostFrontmatter::parseFrontmatter(current)))
            return false;
        const DraftStats stats = DraftStats::compute(text);
        const auto number = [](double value) { return QString::number(value, 'f', 3); };
        const FrontmatterPairs pairs{
            {PostFrontmatter::kStatsCapturedKey, PostFrontmatter::formatStatsDate(now)},
            {PostFrontmatter::kStatsBurstinessKey, number(stats.burstiness)},
            {PostFrontmatter::kStatsTypeTokenRatioKey, number(stats.typeTokenRatio)},
            {PostFrontmatter::kStatsSentenceVariationKey, number(stats.sentenceVariation)},
            {PostFrontmatter::kStatsTrigramRepetitionKey, number(stats.trigramRepetition)},
        };
        foundation::fs::atomicWrite(path, PostFrontmatter::rewriteFrontmatter(current, pairs).toUtf8());
        return true;
    } catch (const FileError &) {
        return false;
    }
}

Post::PassState advancePassState(const QString &id, PassKind kind, const QString &home,
                                 const PassCountBump &bumpPassCount)
{
    const ReadPost read = readPost(id, home, true);
    const PieceContents &piece = read.contents;
    Post::PassState state = piece.passState;
    if (kind == PassKind::pass2)
        state = Post::PassState::pass2Done;
    else if (state == Post::PassState::firstDraft)
        state = Post::PassState::pass1Done;

    QString text;
    if (!read.block.isEmpty())
        text = PostFrontmatter::rewriteFrontmatter(read.text, {{PostFrontmatter::kPassStateKey, state.rawValue()}});
    else
        text = freshBlock(piece.type, state, piece.origin) + piece.body;
    foundation::fs::atomicWrite(read.path, text.toUtf8());

    if (bumpPassCount) {
        try {
            bumpPassCount(home, piece.type);
        } catch (const std::exception &) {
            // The Pass is done and recorded; a lost count only delays a resurfacing.
        }
    }
    return state;
}

// --- Pass snapshots ------------------------------------------------------------

void writePassSnapshot(const QString &id, PassKind kind, const QString &text, const QString &home)
{
    const QString passes = joined(requireFolder(id, home), kPassesFolder);
    ensurePieceSubfolder(passes);
    foundation::fs::atomicWrite(joined(passes, snapshotName(kind)), text.toUtf8());
}

std::optional<PassSnapshot> latestPassSnapshot(const QString &id, const QString &home)
{
    const auto folder = folderPath(id, home);
    if (!folder)
        return std::nullopt;
    const QString passes = joined(*folder, kPassesFolder);
    // Snapshots read through a link would be someone else's files.
    if (foundation::fs::isSymLink(passes))
        return std::nullopt;

    std::optional<PassKind> chosen;
    struct timespec chosenTime {};
    for (PassKind kind : {PassKind::pass1, PassKind::pass2}) {
        const auto time = modificationTime(joined(passes, snapshotName(kind)));
        if (!time)
            continue;
        // Strictly later only: on a tie the earlier kind (Pass 1) stays.
        if (!chosen || isLater(*time, chosenTime)) {
            chosen = kind;
            chosenTime = *time;
        }
    }
    if (!chosen)
        return std::nullopt;
    try {
        return PassSnapshot{*chosen, foundation::fs::readUtf8File(joined(passes, snapshotName(*chosen)))};
    } catch (const FileError &) {
        return std::nullopt;
    }
}

// --- Research notes --------------------------------------------------------------

QString writeResearchNote(const QString &piecePath, const QString &title, const QString &url, const QString &quote,
                          const QString &note, const QString &home, const QDateTime &now)
{
    // The path comes from the engine: only its folder name is trusted, and only
    // as an id looked up (confined) in this Home.
    // A folder without post.md is no piece (a stray folder of that name).
    const auto folder = folderPath(pieceIDOfPath(piecePath), home);
    if (!folder || !foundation::fs::isRegularFileNoFollow(joined(*folder, kPostFileName)))
        throw ResearchNoteError(u"piece not found: "_s + piecePath);
    const QString research = joined(*folder, kResearchFolder);
    if (foundation::fs::isSymLink(research))
        throw ResearchNoteError(u"research path is a symlink: "_s + research);
    foundation::fs::makePath(research);
    // Replaced by a link after the check above: still never written through.
    if (foundation::fs::isSymLink(research))
        throw ResearchNoteError(u"research path is a symlink: "_s + research);

    const QString day = foundation::dates::localStamp(now, u"yyyyMMdd"_s);
    const QString base = foundation::fs::fitFileBase(day + u'-' + slug(title), u"md"_s);
    return foundation::fs::writeUnique(research, base, u"md"_s, researchText(title, url, quote, note, day).toUtf8());
}

// --- Images ----------------------------------------------------------------------

QString ingestImage(const QUrl &source, const QString &pieceFolder)
{
    const QString fileName = source.fileName();
    if (!Micropub::mimeType(fileName))
        throw IngestError(withName(u"“<name>” isn’t publishable — PNG, JPEG, GIF, WebP, or SVG."_s, fileName));

    struct stat st {};
    const QString sourcePath = source.isLocalFile() ? source.toLocalFile() : QString();
    if (sourcePath.isEmpty() || ::lstat(QFile::encodeName(sourcePath).constData(), &st) != 0)
        throw IngestError(withName(u"“<name>” couldn’t be read — it may have moved since the drag began."_s, fileName));
    if (S_ISLNK(st.st_mode))
        throw IngestError(withName(u"“<name>” is a link, not an image file."_s, fileName));
    if (S_ISDIR(st.st_mode))
        throw IngestError(withName(u"“<name>” is a folder, not an image."_s, fileName));

    // Neither the piece folder nor assets/ may be a link: a folder swapped
    // for one after the piece was opened would take the copy elsewhere.
    const QString piece = QDir::cleanPath(pieceFolder);
    const QString assets = joined(piece, kAssetsFolder);
    const auto refuseLinkedFolders = [&] {
        if (!foundation::fs::isDirectoryNoFollow(piece) || !foundation::fs::isDirectoryNoFollow(assets))
            throw IngestError(u"assets/ isn’t a plain folder in this piece."_s);
    };
    const QByteArray assetsBytes = QFile::encodeName(assets);
    if (::lstat(assetsBytes.constData(), &st) != 0) {
        if (errno != ENOENT || !foundation::fs::isDirectoryNoFollow(piece))
            throw IngestError(u"assets/ isn’t a plain folder in this piece."_s);
        foundation::fs::makePath(assets);
    }

    const QFileInfo info(fileName);
    const QString extension = info.suffix().toLower();
    const QString base = foundation::fs::fitFileBase(slug(info.completeBaseName()), extension);
    // Copied in chunks (no size limit, little memory), then published under a
    // free name with create-only semantics: nothing is overwritten and a
    // failure leaves no partial file behind. Both folders are looked at again
    // right before: either may have been swapped since the checks above.
    refuseLinkedFolders();
    return kAssetsFolder + u'/' + foundation::fs::copyUnique(sourcePath, assets, base, extension);
}

} // namespace library::PostStore
