#include "librarysearch.h"

namespace panes::LibrarySearch {

using library::Post;
namespace text = foundation::text;

bool SearchKey::operator==(const SearchKey &other) const
{
    return revision == other.revision && text::toNfc(query) == text::toNfc(other.query)
           && text::toNfc(homePath) == text::toNfc(other.homePath);
}

QString trimmedQuery(const QString &query)
{
    return text::trimSpacesAndNewlines(query);
}

FoldedText::FoldedText(const QString &text) : FoldedText(text::caseFolded(text), Folded{}) {}

FoldedText::FoldedText(const QString &folded, Folded) : m_size(folded.size()), m_searcher(folded) {}

Query::Query(const QString &query) : m_folded(text::caseFolded(trimmedQuery(query)))
{
    // As foldedContains takes it: the folded query folded again.
    if (!m_folded.isEmpty())
        m_needle = text::caseFolded(m_folded);
}

bool Query::titleHit(const Post &post) const
{
    return contains(post.title);
}

bool Query::contains(const QString &text) const
{
    return !isEmpty() && text::foldedContains(text::caseFolded(text), m_folded);
}

bool Query::contains(const FoldedText &text) const
{
    // foldedContains without folding the text again: an empty text or query
    // contains nothing.
    return !isEmpty() && text.m_size > 0 && text.m_searcher.find(m_needle).has_value();
}

QList<Post> ordered(const QList<Post> &posts, const QList<Hit> &hits)
{
    QList<Post> found;
    for (const Hit wanted : {Hit::title, Hit::body}) {
        for (qsizetype i = 0; i < posts.size() && i < hits.size(); ++i) {
            if (hits[i] == wanted)
                found.append(posts[i]);
        }
    }
    return found;
}

QList<Post> results(const QString &query, const QList<Post> &posts, const BodyProvider &body)
{
    const Query prepared(query);
    if (prepared.isEmpty())
        return {};
    // The provider is asked in the order of posts, skipping title hits.
    QList<Hit> hits;
    hits.reserve(posts.size());
    for (const Post &post : posts) {
        if (prepared.titleHit(post)) {
            hits.append(Hit::title);
            continue;
        }
        const std::optional<QString> text = body ? body(post) : std::nullopt;
        hits.append(text && prepared.contains(*text) ? Hit::body : Hit::none);
    }
    return ordered(posts, hits);
}

} // namespace panes::LibrarySearch
