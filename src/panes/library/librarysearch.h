#pragma once
// The filter behind the library column's search field, and the key and memo
// with which the column remembers one finished search. No state, no files:
// bodies come from a provider the caller hands in.

#include "foundation/text.h"
#include "library/post.h"

#include <QList>
#include <QString>
#include <functional>
#include <optional>

namespace panes::LibrarySearch {

// What one search ran for.
struct SearchKey {
    QString query; // trimmed
    QString homePath;
    qint64 revision = 0; // the library model's content revision at the start

    // Canonically equivalent strings are equal.
    bool operator==(const SearchKey &other) const;
};

// A key with the pieces it found, in the filter's order.
struct Snapshot {
    SearchKey key;
    QList<library::Post> results;

    bool operator==(const Snapshot &other) const = default;
};

// A piece's body, or none when it cannot be had (or the search was cancelled).
using BodyProvider = std::function<std::optional<QString>(const library::Post &)>;

// The query without white space and line ends at both ends.
QString trimmedQuery(const QString &query);

// A text case folded once and made ready to be searched for many queries:
// a body kept between searches costs no folding when searched again.
class FoldedText {
public:
    explicit FoldedText(const QString &text);
    // The folded text's length, in UTF-16 code units.
    qsizetype size() const { return m_size; }

private:
    friend class Query;
    struct Folded {};
    FoldedText(const QString &folded, Folded);

    qsizetype m_size = 0;
    foundation::text::QuoteSearcher m_searcher;
};

// A query trimmed and folded once, tested against many titles and bodies by
// the match rule of results.
class Query {
public:
    explicit Query(const QString &query);
    // An empty trimmed query: no search.
    bool isEmpty() const { return m_folded.isEmpty(); }
    bool titleHit(const library::Post &post) const;
    bool contains(const QString &text) const;
    bool contains(const FoldedText &text) const;

private:
    QString m_folded;
    QString m_needle; // what a folded text is searched for
};

// How one piece matched a query.
enum class Hit : quint8 { none, title, body };

// The pieces of posts found by their hits (one per piece, in the same
// order): the title hits, then the body hits, each in the order of posts.
QList<library::Post> ordered(const QList<library::Post> &posts, const QList<Hit> &hits);

// The pieces whose title, then those whose body, contains the trimmed query
// (case ignored, canonical equivalents equal, diacritics kept). Title hits
// first, each group in the order of posts. body is called only for pieces
// whose title does not match, in order, once each; an empty trimmed query
// answers nothing and calls nothing.
QList<library::Post> results(const QString &query, const QList<library::Post> &posts, const BodyProvider &body);

} // namespace panes::LibrarySearch
