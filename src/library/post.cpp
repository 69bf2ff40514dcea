#include "library/post.h"

#include "foundation/enumtext.h"

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

namespace {

using foundation::enumTexts;

constexpr auto kContentTypes =
    enumTexts<Post::ContentType>({{Post::ContentType::post, u"post"}, {Post::ContentType::outline, u"outline"}});
constexpr auto kPassStates = enumTexts<Post::PassState>({{Post::PassState::firstDraft, u"First Draft"},
                                                         {Post::PassState::pass1Done, u"Pass-1 Done"},
                                                         {Post::PassState::pass2Done, u"Pass-2 Done"}});
constexpr auto kOrigins = enumTexts<Post::Origin>({{Post::Origin::writer, u"writer"}, {Post::Origin::ai, u"ai"}});

} // namespace

QString Post::rawValue(ContentType type)
{
    return kContentTypes.text(type);
}

QString Post::rawValue(PassState state)
{
    return kPassStates.text(state);
}

QString Post::rawValue(Origin origin)
{
    return kOrigins.text(origin);
}

std::optional<Post::ContentType> Post::contentTypeFromRaw(const QString &raw)
{
    return kContentTypes.fromText(raw);
}

std::optional<Post::PassState> Post::passStateFromRaw(const QString &raw)
{
    return kPassStates.fromText(raw);
}

std::optional<Post::Origin> Post::originFromRaw(const QString &raw)
{
    return kOrigins.fromText(raw);
}

QList<Post::ContentType> Post::allContentTypes()
{
    return kContentTypes.cases();
}

QList<Post::PassState> Post::allPassStates()
{
    return kPassStates.cases();
}

size_t qHash(Post::ContentType key, size_t seed) noexcept
{
    return ::qHash(static_cast<int>(key), seed);
}

size_t qHash(Post::PassState key, size_t seed) noexcept
{
    return ::qHash(static_cast<int>(key), seed);
}

size_t qHash(Post::Origin key, size_t seed) noexcept
{
    return ::qHash(static_cast<int>(key), seed);
}

} // namespace library
