#pragma once
// The filter behind the library column's search field, and the key and memo
// with which the column remembers one finished search. No state, no files:
// bodies come from a provider the caller hands in.

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

// The pieces whose title, then those whose body, contains the trimmed query
// (case ignored, canonical equivalents equal, diacritics kept). Title hits
// first, each group in the order of posts. body is called only for pieces
// whose title does not match, in order, once each; an empty trimmed query
// answers nothing and calls nothing.
QList<library::Post> results(const QString &query, const QList<library::Post> &posts, const BodyProvider &body);

} // namespace panes::LibrarySearch
