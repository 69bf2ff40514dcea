#include "librarypostrow.h"

using namespace Qt::StringLiterals;

namespace panes {

using library::Post;

const QString LibraryPostRow::outlineMark = u" \u2733"_s;

QString LibraryPostRow::titleText() const
{
    return post.type == Post::ContentType::outline ? post.title + outlineMark : post.title;
}

QString LibraryPostRow::originText() const
{
    return post.origin.rawValue();
}

QString LibraryPostRow::helpText() const
{
    return post.type == Post::ContentType::outline ? post.title + u" \u2014 outline"_s : post.title;
}

QString LibraryPostRow::accessibilityText() const
{
    return post.title + u", "_s + post.passState.rawValue() + u", origin "_s + post.origin.rawValue();
}

std::optional<double> LibraryPostRow::rowTint() const
{
    if (selected)
        return 0.08;
    if (hover)
        return 0.06;
    return std::nullopt;
}

} // namespace panes
