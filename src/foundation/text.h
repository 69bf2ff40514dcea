#pragma once
// Text helpers shared by every library: line cutting, trims, grapheme clusters,
// quote search under canonical equivalence, name keys, display collation and
// strict number parsing.

#include <QCollator>
#include <QList>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <vector>

namespace foundation::text {

// Cuts at LF only; "a\n" gives {"a", ""}, "" gives {""}.
QStringList splitLines(const QString &text);

// What ends a line where the editor cuts its text into lines (a caret's line,
// a list item's line): LF, CR, NEL, LS and PS. VT and FF do not.
bool isLineEnd(char32_t c);
// Every line end and VT and FF as well: what a one-line field (a front matter
// entry, a heading, a URL) must not carry.
bool isLineBreak(char32_t c);
// Every line-break character becomes one space (CR LF gives two), nothing
// else changes: a single-line field (a front matter entry, a heading) cannot
// be split by its text.
QString onOneLine(const QString &text);

// Trims tab and the Unicode space separators (Zs) only.
QString trimSpaces(const QString &text);
// Trims white space and line ends (exactly QString::trimmed()).
QString trimSpacesAndNewlines(const QString &text);
// True when nothing is left after trimSpacesAndNewlines.
bool isBlank(const QString &text);

// Grapheme clusters ("characters" for the writer).
qsizetype graphemeCount(const QString &text);
// The first n grapheme clusters of text (all of it when shorter).
QString graphemePrefix(const QString &text, qsizetype n);
// UTF-16 offsets of every cluster boundary, 0 and text.size() included.
QList<qsizetype> graphemeBoundaries(const QString &text);
// The cluster boundary at or before position (clamped to the text): where a
// position from outside the text (a stored caret, a computed offset) may land
// without splitting a surrogate pair or a cluster.
qsizetype graphemeFloor(const QString &text, qsizetype position);
// The clusters themselves, in order.
QStringList graphemes(const QString &text);

// A UTF-16 range of a text.
struct Range {
    qsizetype start = 0;
    qsizetype length = 0;
    qsizetype end() const { return start + length; }
    bool operator==(const Range &) const = default;
};

// Finds quote in text by whole grapheme clusters under canonical equivalence
// (precomposed and decomposed forms match; a match must start and end on
// cluster boundaries of text). The range is in UTF-16 units of the original
// text. An empty quote is never found.
std::optional<Range> findQuote(const QString &text, const QString &quote, qsizetype from = 0);
// Every non-overlapping occurrence, left to right.
QList<Range> findAllQuotes(const QString &text, const QString &quote);

// One text prepared once for many quote searches (normal form, offset map and
// cluster boundaries are built once). Same results as the functions above.
// Safe to share between threads.
class QuoteSearcher {
public:
    explicit QuoteSearcher(const QString &text);
    ~QuoteSearcher();
    QuoteSearcher(QuoteSearcher &&) noexcept;
    QuoteSearcher &operator=(QuoteSearcher &&) noexcept;

    std::optional<Range> find(const QString &quote, qsizetype from = 0) const;
    QList<Range> findAll(const QString &quote) const;

private:
    class Index;
    std::unique_ptr<Index> d;
};

// The canonical composition (NFC) of s; s itself when already composed.
QString toNfc(const QString &s);

// The key names are compared by for uniqueness: NFC, then full case folding
// (ICU's default), so "ΟΔΟΣ" and "οδος", "Straße" and "STRASSE" are one name.
QString nameKey(const QString &name);

// The stable order of names by code point after canonical composition (NFC),
// case-sensitive: the order folders are walked in. Answers the indexes of
// names in sorted order.
QList<qsizetype> codePointOrder(const QStringList &names);
void sortByCodePoint(QStringList &names);

// True when query occurs in text as one run of whole characters, compared
// without case (full folding) and under canonical equivalence; diacritics
// still count ("cafe" is not in "Café", "CAFÉ" is in "café"). An empty query
// is never contained.
bool containsIgnoringCase(const QString &text, const QString &query);
// The same against a text already made into caseFolded(text): the folding is
// done once for a text searched many times.
bool foldedContains(const QString &foldedText, const QString &query);
QString caseFolded(const QString &text);
// The locale-independent Unicode lowercase mapping (ICU's root locale): full
// ("İ" gives "i" and a combining dot) and aware of a final sigma ("ΟΔΟΣ"
// gives "οδος"), but not a folding: "ß" stays "ß".
QString lowercased(const QString &text);

// The natural order of names: the text between digit runs compared without
// case by insensitive, digit runs compared by value ("essays 2" before
// "essays 10" in every locale, the C locale included, where QCollator's
// numeric mode does nothing); full ties are broken by sensitive. Both
// collators are used in their non-numeric mode. A digit is a decimal digit
// of any script ("٣" is 3); a number stands where "0" stands among texts,
// so the order is a strict weak order that sorts can rely on.
int naturalCompare(const QString &a, const QString &b, const QCollator &insensitive, const QCollator &sensitive);

// The comparison of lists shown to the writer: natural order (numeric,
// case-insensitive, ties broken case-sensitively). Sorts with it are stable.
class DisplayCollator {
public:
    explicit DisplayCollator(const QLocale &locale = QLocale());
    int compare(const QString &a, const QString &b) const;
    bool lessThan(const QString &a, const QString &b) const { return compare(a, b) < 0; }
    void sort(QStringList &list) const;
    // The stable order of texts (the indexes in sorted order), from one
    // collation key per text rather than a comparison call per pair; the
    // case-sensitive keys are made only for texts that tie without case.
    QList<qsizetype> order(const QStringList &texts) const;
    // The same with the case-ignoring keys already made: keys[i] is
    // sortKey(texts[i]) of a collator of the same collationName(). In the C
    // locale, whose keys know no numbers, the keys are not used.
    QList<qsizetype> order(const QStringList &texts, const std::vector<QCollatorSortKey> &keys) const;
    QCollatorSortKey sortKey(const QString &text) const;
    // Keys of collators with the same name compare alike.
    QString collationName() const;

private:
    QCollator m_insensitive;
    QCollator m_sensitive;
    QCollator m_plainInsensitive; // non-numeric, for the text between digit runs
    QCollator m_plainSensitive;
    bool m_keysNatural = true; // the locale's numeric keys give natural order
};

// Strict UTF-8 decoding: none when the bytes are not UTF-8. A leading
// byte-order mark is dropped.
std::optional<QString> decodeUtf8(const QByteArray &bytes);

// C-locale float syntax of strtod, whole text consumed, finite only.
std::optional<double> parseDouble(const QString &text);
// Optional sign then ASCII digits; overflow is a failure.
std::optional<qint64> parseInteger(const QString &text);

} // namespace foundation::text
