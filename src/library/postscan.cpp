#include "library/postscan.h"

#include "foundation/text.h"
#include "foundation/threadpools.h"
#include "library/frontmatter.h"
#include "library/micropubchecks.h"
#include "library/piececontents.h"
#include "library/poststore.h"

#include <QFile>
#include <QSet>
#include <QStringList>
#include <QThread>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentMap>
#include <algorithm>
#include <memory>

namespace library {

std::optional<Post> PostScanCache::lookup(const QString &postPath, const std::optional<Stamp> &stamp)
{
    std::lock_guard guard(m_lock);
    const auto it = m_entries.constFind(postPath);
    if (it == m_entries.cend() || !stamp || *stamp != it->stamp)
        return std::nullopt;
    ++m_hits;
    return it->post;
}

void PostScanCache::store(const Post &post, const QString &postPath, const std::optional<Stamp> &stamp)
{
    std::lock_guard guard(m_lock);
    ++m_misses;
    if (stamp)
        m_entries.insert(postPath, Entry{*stamp, post, std::nullopt});
}

PostScanCache::Snapshot PostScanCache::snapshot(const QString &collation) const
{
    std::lock_guard guard(m_lock);
    return Snapshot{m_entries, !collation.isEmpty() && collation == m_keyCollation};
}

void PostScanCache::record(qint64 hits, QList<Read> reads, const QString &collation, const QList<TitleKey> &keys)
{
    std::lock_guard guard(m_lock);
    m_hits += hits;
    m_misses += reads.size();
    for (Read &read : reads) {
        if (read.stamp)
            m_entries.insert(read.postPath, Entry{*read.stamp, std::move(read.post), std::nullopt});
    }
    if (keys.isEmpty())
        return;
    if (collation != m_keyCollation) {
        for (Entry &entry : m_entries)
            entry.titleKey.reset();
        m_keyCollation = collation;
    }
    for (const TitleKey &key : keys) {
        const auto it = m_entries.find(key.postPath);
        if (it != m_entries.end() && it->post.title == key.title)
            it->titleKey = key.key;
    }
}

qint64 PostScanCache::hitCount() const
{
    std::lock_guard guard(m_lock);
    return m_hits;
}

qint64 PostScanCache::missCount() const
{
    std::lock_guard guard(m_lock);
    return m_misses;
}

namespace PostScan {
namespace {

using foundation::fs::FolderEntry;

// The folders below folder that the scan walks into, in code-point order of
// their names: no hidden names, no symbolic links (a linked project or piece
// would lead out of the Home), nothing whose kind cannot be read.
QStringList walkedFolders(const QString &folder)
{
    const auto entries = foundation::fs::tryListFolderEntries(folder);
    if (!entries)
        return {};
    QStringList names;
    names.reserve(entries->size());
    for (const FolderEntry &entry : *entries) {
        if (entry.kind == FolderEntry::Kind::directory && !entry.name.startsWith(u'.'))
            names.append(entry.name);
    }
    foundation::text::sortByCodePoint(names);
    return names;
}

// The summary of one post.md's text; the rest of the Post is the caller's.
Post summarise(const QString &text)
{
    namespace F = PostFrontmatter;
    const Frontmatter frontmatter = F::parseFrontmatter(text);
    const F::Flags flags = F::frontmatterFlags(frontmatter);
    Post post;
    post.title = F::deriveTitle(text);
    post.passState = flags.passState;
    post.origin = flags.origin;
    post.type = flags.type;
    const auto url = frontmatter.constFind(F::kMicropubURLKey);
    if (url != frontmatter.cend() && Micropub::isTrustworthy(*url))
        post.micropubURL = *url;
    if (F::isWriterPost(frontmatter))
        post.firstDraftStats = F::readFirstDraftStats(frontmatter);
    return post;
}

// The text of post.md, and its stamp as opened; none (and no stamp) when it
// cannot be read.
std::optional<QString> readPostText(const foundation::fs::OpenFolder &folder, const QByteArray &relative,
                                    std::optional<foundation::fs::FileStamp> &stamp)
{
    try {
        foundation::fs::FileStamp opened;
        auto text = foundation::text::decodeUtf8(folder.readRegularFile(relative, foundation::fs::kNoReadCap, &opened));
        if (text)
            stamp = opened;
        else
            stamp.reset();
        return text;
    } catch (const foundation::fs::FileError &) {
        stamp.reset();
        return std::nullopt;
    }
}

} // namespace

namespace {

// One piece folder met by the walk, and what reading it gave.
struct Candidate {
    const foundation::fs::OpenFolder *folder = nullptr;
    QString project;
    bool archived = false;
    QString id;
    QString postPath;
    const PostScanCache::Entry *known = nullptr; // the cached entry, if any
    bool hit = false;
    std::optional<foundation::fs::FileStamp> stamp;
    std::optional<Post> read; // the summary, when the file was read
};

// Stats a cached piece, and reads and summarises it when the cache cannot
// answer. A path never cached is read straight away, its stamp taken from
// the opened file: one stat fewer, and the stamp is that of the text read.
void examine(Candidate &c)
{
    const QByteArray relative = QFile::encodeName(c.id) + QByteArrayLiteral("/post.md");
    if (c.known) {
        c.stamp = c.folder->regularFileStamp(relative);
        if (c.stamp && *c.stamp == c.known->stamp) {
            c.hit = true;
            return;
        }
    }
    // A piece read anew (changed, or not yet scanned in this run) is swept of
    // what interrupted saves left in it; an unchanged one was swept before.
    PostStore::removeSaveLeftovers(c.postPath.chopped(PostStore::kPostFileName.size() + 1));
    if (const auto text = readPostText(*c.folder, relative, c.stamp)) {
        Post post = summarise(*text);
        post.id = c.id;
        post.project = c.project;
        post.isArchived = c.archived;
        c.read = std::move(post);
    }
}

// Threads for reading many files at once: a cold scan is bound by the
// system calls of thousands of small files, which overlap well.
QThreadPool *scanPool()
{
    static QThreadPool *const pool = foundation::namedPool(
        "library scan", {.maxThreads = qBound(1, QThread::idealThreadCount(), 4), .expiry = std::chrono::seconds(5)});
    return pool;
}

// Below this many pieces a batch is examined on the calling thread.
constexpr qsizetype kParallelFrom = 64;
// A batch keeps at most this many project folders open.
constexpr size_t kOpenFoldersPerBatch = 64;
constexpr qsizetype kPiecesPerBatch = 1024;

} // namespace

QList<Post> scanLibrary(const QString &home, PostScanCache *cache, const QLocale &locale)
{
    const foundation::text::DisplayCollator collator(locale);
    const QString collation = collator.collationName();
    // Lookups go to a shared copy of the cache's entries: no lock per piece.
    PostScanCache::Snapshot known = cache ? cache->snapshot(collation) : PostScanCache::Snapshot{};
    qint64 hits = 0;
    QList<PostScanCache::Read> reads;
    QList<Post> posts;
    // Beside each Post: its post.md path and the key of its title if known.
    QStringList postPaths;
    std::vector<std::optional<QCollatorSortKey>> keys;
    QSet<QString> taken;

    // Pieces are examined in batches (in parallel when there are many) and
    // taken in walking order, so the first readable folder of an id wins.
    std::vector<std::unique_ptr<foundation::fs::OpenFolder>> folders;
    QList<Candidate> batch;
    const auto finishBatch = [&] {
        if (batch.size() >= kParallelFrom)
            QtConcurrent::blockingMap(scanPool(), batch, examine);
        else
            std::for_each(batch.begin(), batch.end(), examine);
        for (Candidate &c : batch) {
            if (c.hit) {
                ++hits;
                if (taken.contains(c.id))
                    continue;
                taken.insert(c.id);
                posts.append(c.known->post);
                postPaths.append(c.postPath);
                keys.push_back(known.keysFit ? c.known->titleKey : std::nullopt);
                continue;
            }
            // An unreadable post.md does not take its id: a later folder of
            // the same name is listed instead.
            if (!c.read || taken.contains(c.id))
                continue;
            taken.insert(c.id);
            if (cache)
                reads.append({c.postPath, *c.read, c.stamp});
            posts.append(std::move(*c.read));
            postPaths.append(c.postPath);
            keys.emplace_back();
        }
        batch.clear();
        folders.clear();
    };

    const QString postFile = QStringLiteral("/post.md");
    for (const PostStore::Root root : {PostStore::Root::projects, PostStore::Root::archive}) {
        const QString rootDir = PostStore::rootPath(home, root);
        const bool archived = root == PostStore::Root::archive;
        for (const QString &project : walkedFolders(rootDir)) {
            const QString projectDir = rootDir + u'/' + project;
            // Files are reached relative to the open project folder, which
            // spares resolving the whole path for every piece.
            auto folder = std::make_unique<foundation::fs::OpenFolder>(projectDir);
            if (!folder->isOpen())
                continue;
            for (const QString &id : walkedFolders(projectDir)) {
                Candidate c;
                c.folder = folder.get();
                c.project = project;
                c.archived = archived;
                c.id = id;
                c.postPath = projectDir + u'/' + id + postFile;
                if (const auto it = known.entries.constFind(c.postPath); it != known.entries.cend())
                    c.known = &it.value();
                batch.append(std::move(c));
            }
            folders.push_back(std::move(folder));
            if (batch.size() >= kPiecesPerBatch || folders.size() >= kOpenFoldersPerBatch)
                finishBatch();
        }
    }
    finishBatch();
    // Let go of the copy first, so recording does not copy every entry.
    known = {};

    QStringList titles;
    titles.reserve(posts.size());
    std::vector<QCollatorSortKey> titleKeys;
    titleKeys.reserve(keys.size());
    QList<PostScanCache::TitleKey> madeKeys;
    for (qsizetype i = 0; i < posts.size(); ++i) {
        const QString &title = posts.at(i).title;
        titles.append(title);
        if (keys[size_t(i)]) {
            titleKeys.push_back(*keys[size_t(i)]);
        } else {
            titleKeys.push_back(collator.sortKey(title));
            if (cache)
                madeKeys.append({postPaths.at(i), title, titleKeys.back()});
        }
    }
    if (cache)
        cache->record(hits, std::move(reads), collation, madeKeys);

    QList<Post> sorted;
    sorted.reserve(posts.size());
    for (qsizetype i : collator.order(titles, titleKeys))
        sorted.append(std::move(posts[i]));
    return sorted;
}

} // namespace PostScan
} // namespace library
