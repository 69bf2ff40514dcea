#include "library/post.h"

namespace library {

bool Post::FirstDraftStats::operator==(const FirstDraftStats &other) const
{
    return captured == other.captured && stats == other.stats;
}

bool Post::operator==(const Post &other) const
{
    return id == other.id && title == other.title && passState == other.passState && origin == other.origin
           && type == other.type && project == other.project && isArchived == other.isArchived
           && micropubURL == other.micropubURL && firstDraftStats == other.firstDraftStats;
}

} // namespace library
