#pragma once
// The pure text functions over post.md's front matter: parse, flags, split,
// default pairs, rewrite, draft tests, stamping, first-draft statistics and
// the title rule. Nothing here touches the disk.

#include "library/post.h"

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

namespace PostFrontmatter {

// A post.md split into its front matter block (delimiters included, with
// a final line feed; empty when there is none) and its body.
struct Split {
    QString block;
    QString body;
    bool operator==(const Split &) const = default;
};

struct Flags {
    Post::ContentType type = Post::ContentType::post;
    Post::PassState passState = Post::PassState::firstDraft;
    Post::Origin origin = Post::Origin::writer;
    bool operator==(const Flags &) const = default;
};

// Front matter keys.
inline const QString kTypeKey = QStringLiteral("type");
inline const QString kPassStateKey = QStringLiteral("pass_state");
inline const QString kOriginKey = QStringLiteral("origin");
inline const QString kMicropubURLKey = QStringLiteral("micropub_url");
inline const QString kStatsCapturedKey = QStringLiteral("stats_captured");
inline const QString kStatsBurstinessKey = QStringLiteral("stats_burstiness");
inline const QString kStatsTypeTokenRatioKey = QStringLiteral("stats_type_token_ratio");
inline const QString kStatsSentenceVariationKey = QStringLiteral("stats_sentence_variation");
inline const QString kStatsTrigramRepetitionKey = QStringLiteral("stats_trigram_repetition");

// Local time, no zone designator, e.g. 2025-03-14T09:05:00.
inline const QString kStatsDatePattern = QStringLiteral("yyyy-MM-dd'T'HH:mm:ss");

// The entries of the leading block (lenient: an unclosed block reads to
// the end of the text).
Frontmatter parseFrontmatter(const QString &text);
Flags frontmatterFlags(const Frontmatter &frontmatter);
// Strict: without a closing delimiter there is no block.
Split splitFrontmatter(const QString &text);
// The same, reusing text's buffer for the body: a long piece is not copied.
Split splitFrontmatter(QString &&text);
// (type, pass_state, origin) holding the raw values, in that order.
FrontmatterPairs defaultFrontmatter(Post::ContentType type, Post::PassState passState, Post::Origin origin);
// "---", a "key: value" line per pair, "---", each line ending in LF. A
// line break in a key or value is written as a space.
QString frontmatterBlock(const FrontmatterPairs &pairs);
// Sets each pair's key to its value, keeping every other line in place;
// a text without a block gets frontmatterBlock(pairs) in front.
// A line break in a key or value is written as a space.
QString rewriteFrontmatter(const QString &text, const FrontmatterPairs &pairs);
// post, First Draft, writer.
bool isUntouchedWriterDraft(const Frontmatter &frontmatter);
// post and writer, any pass state.
bool isWriterPost(const Frontmatter &frontmatter);
// Rewrites type: post, pass_state: First Draft and the origin.
QString stampNewPost(const QString &text, Post::Origin origin);
std::optional<Post::FirstDraftStats> readFirstDraftStats(const Frontmatter &frontmatter);
std::optional<QDateTime> parseStatsDate(const QString &text);
// The writing side of the stats date format (local time).
QString formatStatsDate(const QDateTime &when);
// The first non-blank line after any front matter, trimmed of "#" and
// white space; "untitled" when nothing is left.
QString deriveTitle(const QString &text);

} // namespace PostFrontmatter
} // namespace library
