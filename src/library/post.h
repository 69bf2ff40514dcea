#pragma once
// The summary of one piece as the library scan reads it, with its pass state,
// origin and content type and their stored texts.

#include "foundation/enumtext.h"
#include "library/draftstats.h"

#include <QDateTime>
#include <QHash>
#include <QHashFunctions>
#include <QList>
#include <QString>
#include <optional>
#include <utility>

namespace library {

struct Post {
    // The raw values are what the front matter holds; the first case is the
    // default.
    struct ContentTypeCases {
        enum Value { post, outline };
        static constexpr auto texts = foundation::enumTexts<Value>({{post, u"post"}, {outline, u"outline"}});
    };

    class ContentType : public foundation::TextEnum<ContentType, ContentTypeCases> {
    public:
        using TextEnum::TextEnum;
    };

    struct PassStateCases {
        enum Value { firstDraft, pass1Done, pass2Done };
        static constexpr auto texts = foundation::enumTexts<Value>(
            {{firstDraft, u"First Draft"}, {pass1Done, u"Pass-1 Done"}, {pass2Done, u"Pass-2 Done"}});
    };

    class PassState : public foundation::TextEnum<PassState, PassStateCases> {
    public:
        using TextEnum::TextEnum;
    };

    struct OriginCases {
        enum Value { writer, ai };
        static constexpr auto texts = foundation::enumTexts<Value>({{writer, u"writer"}, {ai, u"ai"}});
    };

    class Origin : public foundation::TextEnum<Origin, OriginCases> {
    public:
        using TextEnum::TextEnum;
    };

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
};

} // namespace library
