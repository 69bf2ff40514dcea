#pragma once
// The summary of one piece as the library scan reads it, with its pass state,
// origin and content type and their stored texts.

#include "library/draftstats.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <optional>
#include <utility>

namespace library {

struct Post {
    // The raw values are what the front matter holds; the first case is the
    // default.
    enum class ContentType { post, outline };
    enum class PassState { firstDraft, pass1Done, pass2Done };
    enum class Origin { writer, ai };

    struct FirstDraftStats {
        QDateTime captured;
        DraftStats stats;
        bool operator==(const FirstDraftStats &other) const;
    };

    QString id; // the piece's folder name
    QString title;
    PassState passState = PassState::firstDraft;
    Origin origin = Origin::writer;
    ContentType type = ContentType::post;
    QString project; // the project folder's name
    bool isArchived = false;
    std::optional<QString> micropubURL;
    std::optional<FirstDraftStats> firstDraftStats;

    bool operator==(const Post &other) const;

    // Raw values and their exact, case-sensitive readers.
    static QString rawValue(ContentType type);
    static QString rawValue(PassState state);
    static QString rawValue(Origin origin);
    static std::optional<ContentType> contentTypeFromRaw(const QString &raw);
    static std::optional<PassState> passStateFromRaw(const QString &raw);
    static std::optional<Origin> originFromRaw(const QString &raw);
    static QList<ContentType> allContentTypes();
    static QList<PassState> allPassStates();
};

size_t qHash(Post::ContentType key, size_t seed = 0) noexcept;
size_t qHash(Post::PassState key, size_t seed = 0) noexcept;
size_t qHash(Post::Origin key, size_t seed = 0) noexcept;

} // namespace library
