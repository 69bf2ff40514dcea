#include "librarysearch.h"

#include "foundation/text.h"

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

QList<Post> results(const QString &query, const QList<Post> &posts, const BodyProvider &body)
{
    const QString trimmed = trimmedQuery(query);
    if (trimmed.isEmpty())
        return {};
    const QString folded = text::caseFolded(trimmed);
    const auto titleHit = [&folded](const Post &post) {
        return text::foldedContains(text::caseFolded(post.title), folded);
    };

    QList<Post> found;
    for (const Post &post : posts) {
        if (titleHit(post))
            found.append(post);
    }
    for (const Post &post : posts) {
        if (titleHit(post))
            continue;
        const std::optional<QString> text = body ? body(post) : std::nullopt;
        if (text && text::foldedContains(text::caseFolded(*text), folded))
            found.append(post);
    }
    return found;
}

} // namespace panes::LibrarySearch
