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

const QList<Post::ContentType> &Post::ContentType::allCases()
{
    static const QList<ContentType> all = kContentTypes.cases();
    return all;
}

std::optional<Post::ContentType> Post::ContentType::fromRawValue(const QString &raw)
{
    return kContentTypes.fromText(raw);
}

QString Post::ContentType::rawValue() const
{
    return kContentTypes.text(m_value);
}

const QList<Post::PassState> &Post::PassState::allCases()
{
    static const QList<PassState> all = kPassStates.cases();
    return all;
}

std::optional<Post::PassState> Post::PassState::fromRawValue(const QString &raw)
{
    return kPassStates.fromText(raw);
}

QString Post::PassState::rawValue() const
{
    return kPassStates.text(m_value);
}

const QList<Post::Origin> &Post::Origin::allCases()
{
    static const QList<Origin> all = kOrigins.cases();
    return all;
}

std::optional<Post::Origin> Post::Origin::fromRawValue(const QString &raw)
{
    return kOrigins.fromText(raw);
}

QString Post::Origin::rawValue() const
{
    return kOrigins.text(m_value);
}

} // namespace library
