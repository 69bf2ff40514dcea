#include "library/postscan.h"

#include "foundation/text.h"
#include "library/frontmatter.h"
#include "library/micropubchecks.h"
#include "library/poststore.h"

#include <QSet>
#include <QStringList>

namespace library {

std::optional<Post> PostScanCache::lookup(const QString &postPath, const std::optional<Stamp> &stamp)
{
    if (auto found = find(postPath, stamp, QString()))
        return std::move(found->post);
    return std::nullopt;
}

std::optional<PostScanCache::Found> PostScanCache::find(const QString &postPath, const std::optional<Stamp> &stamp,
                                                        const QString &collation)
{
    std::lock_guard guard(m_lock);
    const auto it = m_entries.constFind(postPath);
    if (it == m_entries.cend() || !stamp || *stamp != it->stamp)
        return std::nullopt;
    ++m_hits;
    if (collation.isEmpty() || collation != m_keyCollation)
        return Found{it->post, std::nullopt};
    return Found{it->post, it->titleKey};
}

void PostScanCache::store(const Post &post, const QString &postPath, const std::optional<Stamp> &stamp)
{
    std::lock_guard guard(m_lock);
    ++m_misses;
    if (stamp)
        m_entries.insert(postPath, Entry{*stamp, post, std::nullopt});
}

void PostScanCache::keepTitleKeys(const QString &collation, const QList<TitleKey> &keys)
{
    std::lock_guard guard(m_lock);
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

bool PostScanCache::contains(const QString &postPath) const
{
    std::lock_guard guard(m_lock);
    return m_entries.contains(postPath);
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
std::optional<QString> readPostText(const QString &path, std::optional<foundation::fs::FileStamp> &stamp)
{
    try {
        foundation::fs::FileStamp opened;
        QString text = foundation::fs::readUtf8File(path, foundation::fs::kNoReadCap, &opened);
        stamp = opened;
        return text;
    } catch (const foundation::fs::FileError &) {
        stamp.reset();
        return std::nullopt;
    }
}

} // namespace

QList<Post> scanLibrary(const QString &home, PostScanCache *cache, const QLocale &locale)
{
    const foundation::text::DisplayCollator collator(locale);
    const QString collation = collator.collationName();
    QList<Post> posts;
    // Beside each Post: its post.md path and the key of its title if known.
    QStringList postPaths;
    std::vector<std::optional<QCollatorSortKey>> keys;
    QSet<QString> taken;
    const QString postFile = QStringLiteral("/post.md");
    for (const PostStore::Root root : {PostStore::Root::projects, PostStore::Root::archive}) {
        const QString rootDir = PostStore::rootPath(home, root);
        const bool archived = root == PostStore::Root::archive;
        for (const QString &project : walkedFolders(rootDir)) {
            const QString projectDir = rootDir + u'/' + project;
            for (const QString &id : walkedFolders(projectDir)) {
                const QString postPath = projectDir + u'/' + id + postFile;
                // A path never cached is read straight away, its stamp taken
                // from the opened file: one stat fewer, and the stamp is
                // that of the text read.
                std::optional<foundation::fs::FileStamp> stamp;
                if (cache && cache->contains(postPath)) {
                    stamp = foundation::fs::regularFileStamp(postPath);
                    if (auto found = cache->find(postPath, stamp, collation)) {
                        if (!taken.contains(id)) {
                            taken.insert(id);
                            posts.append(std::move(found->post));
                            postPaths.append(postPath);
                            keys.push_back(std::move(found->titleKey));
                        }
                        continue;
                    }
                }
                const auto text = readPostText(postPath, stamp);
                // An unreadable post.md does not take its id: a later folder
                // of the same name is listed instead.
                if (!text || taken.contains(id))
                    continue;
                taken.insert(id);
                Post post = summarise(*text);
                post.id = id;
                post.project = project;
                post.isArchived = archived;
                if (cache)
                    cache->store(post, postPath, stamp);
                posts.append(std::move(post));
                postPaths.append(postPath);
                keys.emplace_back();
            }
        }
    }

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
    if (cache && !madeKeys.isEmpty())
        cache->keepTitleKeys(collation, madeKeys);

    QList<Post> sorted;
    sorted.reserve(posts.size());
    for (qsizetype i : collator.order(titles, titleKeys))
        sorted.append(std::move(posts[i]));
    return sorted;
}

} // namespace PostScan
} // namespace library
