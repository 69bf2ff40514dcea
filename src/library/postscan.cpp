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
        m_entries.insert(postPath, Entry{*stamp, post});
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

std::optional<QString> readPostText(const QString &path)
{
    try {
        return foundation::fs::readUtf8File(path);
    } catch (const foundation::fs::FileError &) {
        return std::nullopt;
    }
}

} // namespace

QList<Post> scanLibrary(const QString &home, PostScanCache *cache, const QLocale &locale)
{
    QList<Post> posts;
    QSet<QString> taken;
    for (const PostStore::Root root : {PostStore::Root::projects, PostStore::Root::archive}) {
        const QString rootDir = PostStore::rootPath(home, root);
        const bool archived = root == PostStore::Root::archive;
        for (const QString &project : walkedFolders(rootDir)) {
            const QString projectDir = rootDir + u'/' + project;
            for (const QString &id : walkedFolders(projectDir)) {
                const QString postPath = projectDir + u'/' + id + QStringLiteral("/post.md");
                const auto stamp = foundation::fs::regularFileStamp(postPath);
                if (cache) {
                    if (auto cached = cache->lookup(postPath, stamp)) {
                        if (!taken.contains(id)) {
                            taken.insert(id);
                            posts.append(*std::move(cached));
                        }
                        continue;
                    }
                }
                const auto text = readPostText(postPath);
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
            }
        }
    }

    QStringList titles;
    titles.reserve(posts.size());
    for (const Post &post : std::as_const(posts))
        titles.append(post.title);
    QList<Post> sorted;
    sorted.reserve(posts.size());
    for (qsizetype i : foundation::text::DisplayCollator(locale).order(titles))
        sorted.append(std::move(posts[i]));
    return sorted;
}

} // namespace PostScan
} // namespace library
