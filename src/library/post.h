#pragma once
// The summary of one piece and the pure text functions over post.md's front
// matter: parse, flags, split, default pairs, rewrite, draft tests, stamping,
// first-draft statistics and the title rule. Nothing here touches the disk.

#include "library/draftstats.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <optional>
#include <utility>

namespace library {

// A front matter as read: key text to value text.
using Frontmatter = QHash<QString, QString>;
// A front matter as handed to a rewrite: ordered (key, value) pairs.
using FrontmatterPairs = QList<std::pair<QString, QString>>;

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

    // A post.md split into its front matter block (delimiters included, with
    // a final line feed; empty when there is none) and its body.
    struct Split {
        QString block;
        QString body;
        bool operator==(const Split &) const = default;
    };

    struct Flags {
        ContentType type = ContentType::post;
        PassState passState = PassState::firstDraft;
        Origin origin = Origin::writer;
        bool operator==(const Flags &) const = default;
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

    // Front matter keys.
    static inline const QString kTypeKey = QStringLiteral("type");
    static inline const QString kPassStateKey = QStringLiteral("pass_state");
    static inline const QString kOriginKey = QStringLiteral("origin");
    static inline const QString kMicropubURLKey = QStringLiteral("micropub_url");
    static inline const QString kStatsCapturedKey = QStringLiteral("stats_captured");
    static inline const QString kStatsBurstinessKey = QStringLiteral("stats_burstiness");
    static inline const QString kStatsTypeTokenRatioKey = QStringLiteral("stats_type_token_ratio");
    static inline const QString kStatsSentenceVariationKey = QStringLiteral("stats_sentence_variation");
    static inline const QString kStatsTrigramRepetitionKey = QStringLiteral("stats_trigram_repetition");

    // Local time, no zone designator, e.g. 2025-03-14T09:05:00.
    static inline const QString kStatsDatePattern = QStringLiteral("yyyy-MM-dd'T'HH:mm:ss");

    // The entries of the leading block (lenient: an unclosed block reads to
    // the end of the text).
    static Frontmatter parseFrontmatter(const QString &text);
    static Flags frontmatterFlags(const Frontmatter &frontmatter);
    // Strict: without a closing delimiter there is no block.
    static Split splitFrontmatter(const QString &text);
    // (type, pass_state, origin) holding the raw values, in that order.
    static FrontmatterPairs defaultFrontmatter(ContentType type, PassState passState, Origin origin);
    // "---", a "key: value" line per pair, "---", each line ending in LF. A
    // line break in a key or value is written as a space.
    static QString frontmatterBlock(const FrontmatterPairs &pairs);
    // Sets each pair's key to its value, keeping every other line in place;
    // a text without a block gets frontmatterBlock(pairs) in front.
    // A line break in a key or value is written as a space.
    static QString rewriteFrontmatter(const QString &text, const FrontmatterPairs &pairs);
    // post, First Draft, writer.
    static bool isUntouchedWriterDraft(const Frontmatter &frontmatter);
    // post and writer, any pass state.
    static bool isWriterPost(const Frontmatter &frontmatter);
    // Rewrites type: post, pass_state: First Draft and the origin.
    static QString stampNewPost(const QString &text, Origin origin);
    static std::optional<FirstDraftStats> readFirstDraftStats(const Frontmatter &frontmatter);
    static std::optional<QDateTime> parseStatsDate(const QString &text);
    // The writing side of the stats date format (local time).
    static QString formatStatsDate(const QDateTime &when);
    // The first non-blank line after any front matter, trimmed of "#" and
    // white space; "untitled" when nothing is left.
    static QString deriveTitle(const QString &text);
};

size_t qHash(Post::ContentType key, size_t seed = 0) noexcept;
size_t qHash(Post::PassState key, size_t seed = 0) noexcept;
size_t qHash(Post::Origin key, size_t seed = 0) noexcept;

} // namespace library
