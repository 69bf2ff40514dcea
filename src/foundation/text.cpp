#include "text.h"

#include <QStringDecoder>

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <locale.h>
#include <memory>
#include <mutex>
#include <numeric>
#include <vector>

namespace foundation::text {

QStringList splitLines(const QString &text)
{
    return text.split(u'\n', Qt::KeepEmptyParts);
}

namespace {

bool isSpaceOnly(QChar c)
{
    return c == u'\t' || c.category() == QChar::Separator_Space;
}

} // namespace

bool isLineEnd(char32_t c)
{
    return c == 0x0A || c == 0x0D || c == 0x85 || c == 0x2028 || c == 0x2029;
}

bool isLineBreak(char32_t c)
{
    return isLineEnd(c) || c == 0x0B || c == 0x0C;
}

QString onOneLine(const QString &text)
{
    QString out = text;
    for (QChar &c : out) {
        if (isLineBreak(c.unicode()))
            c = u' ';
    }
    return out;
}

QString trimSpaces(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isSpaceOnly(text.at(begin)))
        ++begin;
    while (end > begin && isSpaceOnly(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}

QString trimSpacesAndNewlines(const QString &text)
{
    return text.trimmed();
}

bool isBlank(const QString &text)
{
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.isSpace(); });
}

// --- Grapheme clusters -----------------------------------------------------

namespace {

// ICU's character break iterator: QTextBoundaryFinder applies script
// tailorings that can cut a surrogate pair in two.
class GraphemeIterator {
public:
    explicit GraphemeIterator(const QString &text)
        : m_text(false, reinterpret_cast<const char16_t *>(text.utf16()), int32_t(text.size()))
    {
        thread_local std::unique_ptr<icu::BreakIterator> prototype = [] {
            UErrorCode status = U_ZERO_ERROR;
            std::unique_ptr<icu::BreakIterator> it(
                icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
            return U_SUCCESS(status) ? std::move(it) : nullptr;
        }();
        if (prototype) {
            m_it.reset(prototype->clone());
            m_it->setText(m_text);
        }
    }
    // The next boundary after the current one, or -1 at the end.
    qsizetype next()
    {
        if (!m_it)
            return m_pos < m_text.length() ? ++m_pos : -1;
        const int32_t b = m_it->next();
        return b == icu::BreakIterator::DONE ? -1 : qsizetype(b);
    }
    // The boundary at or before position (0 < position < length).
    qsizetype floor(qsizetype position)
    {
        if (!m_it) {
            const bool inPair = QChar::isLowSurrogate(m_text.charAt(int32_t(position)))
                                && QChar::isHighSurrogate(m_text.charAt(int32_t(position - 1)));
            return inPair ? position - 1 : position;
        }
        if (m_it->isBoundary(int32_t(position)))
            return position;
        // ICU first moves an offset inside a surrogate pair to the pair's
        // start; asking from one unit later keeps that start in reach.
        return qsizetype(m_it->preceding(int32_t(position + 1)));
    }

private:
    const icu::UnicodeString m_text; // read-only alias of the QString's buffer
    std::unique_ptr<icu::BreakIterator> m_it;
    int32_t m_pos = 0;
};

} // namespace

QList<qsizetype> graphemeBoundaries(const QString &text)
{
    QList<qsizetype> result{0};
    if (text.isEmpty())
        return result;
    GraphemeIterator it(text);
    for (qsizetype pos = it.next(); pos > 0; pos = it.next())
        result.append(pos);
    if (result.last() != text.size())
        result.append(text.size());
    return result;
}

qsizetype graphemeFloor(const QString &text, qsizetype position)
{
    if (position <= 0)
        return 0;
    if (position >= text.size())
        return text.size();
    GraphemeIterator it(text);
    return it.floor(position);
}

qsizetype graphemeCount(const QString &text)
{
    return graphemeBoundaries(text).size() - 1;
}

QString graphemePrefix(const QString &text, qsizetype n)
{
    if (n <= 0 || text.isEmpty())
        return {};
    GraphemeIterator it(text);
    qsizetype end = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const qsizetype next = it.next();
        if (next <= 0)
            return text;
        end = next;
    }
    return text.left(end);
}

QStringList graphemes(const QString &text)
{
    const QList<qsizetype> bounds = graphemeBoundaries(text);
    QStringList result;
    result.reserve(bounds.size() - 1);
    for (qsizetype i = 1; i < bounds.size(); ++i)
        result.append(text.mid(bounds[i - 1], bounds[i] - bounds[i - 1]));
    return result;
}

// --- Quote search ------------------------------------------------------------

namespace {

const icu::Normalizer2 &nfc()
{
    static const icu::Normalizer2 *instance = [] {
        UErrorCode status = U_ZERO_ERROR;
        const icu::Normalizer2 *n = icu::Normalizer2::getNFCInstance(status);
        Q_ASSERT(U_SUCCESS(status) && n);
        return n;
    }();
    return *instance;
}

icu::UnicodeString alias(const QChar *data, qsizetype length)
{
    // Read-only alias: no copy.
    return icu::UnicodeString(false, reinterpret_cast<const char16_t *>(data), static_cast<int32_t>(length));
}

char32_t codePointAt(const QString &s, qsizetype i, qsizetype *width)
{
    const QChar c = s.at(i);
    if (c.isHighSurrogate() && i + 1 < s.size() && s.at(i + 1).isLowSurrogate()) {
        *width = 2;
        return QChar::surrogateToUcs4(c, s.at(i + 1));
    }
    *width = 1;
    return c.unicode();
}

} // namespace

QString toNfc(const QString &s)
{
    UErrorCode status = U_ZERO_ERROR;
    const icu::UnicodeString in = alias(s.constData(), s.size());
    if (nfc().isNormalized(in, status) && U_SUCCESS(status))
        return s;
    status = U_ZERO_ERROR;
    const icu::UnicodeString out = nfc().normalize(in, status);
    if (U_FAILURE(status))
        return s;
    return QString(reinterpret_cast<const QChar *>(out.getBuffer()), out.length());
}

// The text's NFC form, a map back to the original, and (on the first hard
// candidate) its cluster boundaries.
class QuoteSearcher::Index {
public:
    explicit Index(const QString &text) : m_text(text)
    {
        UErrorCode status = U_ZERO_ERROR;
        if (nfc().isNormalized(alias(text.constData(), text.size()), status) && U_SUCCESS(status)) {
            m_runs.push_back({0, 0, true});
            m_norm = text;
        } else {
            buildMap();
        }
        m_runs.push_back({m_norm.size(), text.size(), true});
    }

    // The first match of an NFC needle starting at or after the original offset from.
    std::optional<Range> find(const QString &needle, qsizetype from) const
    {
        if (needle.isEmpty() || from > m_text.size())
            return std::nullopt;
        qsizetype pos = toNorm(std::max<qsizetype>(from, 0));
        while (true) {
            const qsizetype hit = m_norm.indexOf(needle, pos);
            if (hit < 0)
                return std::nullopt;
            if (const auto range = accept(hit, hit + needle.size()))
                return range;
            pos = hit + 1;
        }
    }

private:
    // A stretch of the normalised text: either copied unchanged from the
    // original, or one rewritten normalisation segment whose inner offsets
    // have no counterpart in the original.
    struct Run {
        qsizetype norm;
        qsizetype orig;
        bool identity;
    };

    void addRun(qsizetype orig, const QChar *data, qsizetype length, bool identity)
    {
        if (!(identity && !m_runs.empty() && m_runs.back().identity))
            m_runs.push_back({m_norm.size(), orig, identity});
        m_norm.append(data, length);
    }

    void buildMap()
    {
        const qsizetype n = m_text.size();
        const QChar *data = m_text.constData();
        m_norm.reserve(n + n / 8);
        icu::UnicodeString out;
        qsizetype i = 0;
        while (i < n) {
            // The normalised prefix ends on a normalisation boundary.
            UErrorCode status = U_ZERO_ERROR;
            const qsizetype ok = nfc().spanQuickCheckYes(alias(data + i, n - i), status);
            if (U_SUCCESS(status) && ok > 0) {
                addRun(i, data + i, ok, true);
                i += ok;
                continue;
            }
            // One segment: up to the next character that never interacts
            // with what precedes it, so it normalises on its own.
            qsizetype w;
            codePointAt(m_text, i, &w);
            qsizetype j = i + w;
            while (j < n && !nfc().hasBoundaryBefore(static_cast<UChar32>(codePointAt(m_text, j, &w))))
                j += w;
            status = U_ZERO_ERROR;
            nfc().normalize(alias(data + i, j - i), out, status);
            if (U_SUCCESS(status) && QStringView(data + i, j - i) != QStringView(out.getBuffer(), out.length()))
                addRun(i, reinterpret_cast<const QChar *>(out.getBuffer()), out.length(), false);
            else
                addRun(i, data + i, j - i, true);
            i = j;
        }
    }

    // The run holding a normalised (or original) offset: the last starting at or before it.
    template<qsizetype Run::*Field>
    const Run &runAt(qsizetype pos) const
    {
        const auto it =
            std::upper_bound(m_runs.begin(), m_runs.end(), pos, [](qsizetype p, const Run &r) { return p < r.*Field; });
        return *(it - 1);
    }

    // The normalised offset of the first segment start at or after orig.
    qsizetype toNorm(qsizetype orig) const
    {
        const Run &run = runAt<&Run::orig>(orig);
        if (run.identity)
            return run.norm + (orig - run.orig);
        if (orig == run.orig)
            return run.norm;
        return (&run + 1)->norm;
    }

    // The original offset of a normalised offset, or -1 inside a rewritten segment.
    qsizetype toOrig(qsizetype norm) const
    {
        const Run &run = runAt<&Run::norm>(norm);
        if (run.identity)
            return run.orig + (norm - run.norm);
        return norm == run.norm ? run.orig : -1;
    }

    std::optional<Range> accept(qsizetype normStart, qsizetype normEnd) const
    {
        const qsizetype start = toOrig(normStart);
        const qsizetype end = toOrig(normEnd);
        if (start < 0 || end < 0 || !isBoundary(start) || !isBoundary(end))
            return std::nullopt;
        return Range{start, end - start};
    }

    bool isBoundary(qsizetype pos) const
    {
        if (pos == 0 || pos == m_text.size())
            return true;
        const char16_t before = m_text.at(pos - 1).unicode();
        const char16_t after = m_text.at(pos).unicode();
        if (isPlain(before) && isPlain(after))
            return !(before == u'\r' && after == u'\n');
        // Built on the first hard case only: most candidates sit between plain characters.
        std::call_once(m_boundsOnce, [this] {
            m_bounds.assign(m_text.size() + 1, false);
            m_bounds[0] = true;
            GraphemeIterator it(m_text);
            for (qsizetype b = it.next(); b > 0; b = it.next())
                m_bounds[b] = true;
        });
        return m_bounds[pos];
    }

    // Characters whose cluster break property is Other, Control, CR or LF:
    // between two of them there is always a break, except inside CR LF.
    static bool isPlain(char16_t c)
    {
        return c < 0x300                                                   // Latin-1, Latin Extended
               || (c >= 0x370 && c < 0x483)                                // Greek, Cyrillic
               || (c >= 0x48a && c < 0x530) || (c >= 0x1e00 && c < 0x1f00) // Latin Extended Additional
               || (c >= 0x2000 && c < 0x200c)                              // spaces
               || (c >= 0x2010 && c < 0x2028)                              // dashes, quotes, ellipsis
               || (c >= 0x2030 && c < 0x2060);
    }

    const QString m_text;
    QString m_norm;
    std::vector<Run> m_runs; // ordered on both offsets; ends with a sentinel at both sizes
    mutable std::once_flag m_boundsOnce;
    mutable std::vector<bool> m_bounds;
};

QuoteSearcher::QuoteSearcher(const QString &text) : d(std::make_unique<Index>(text)) {}
QuoteSearcher::~QuoteSearcher() = default;
QuoteSearcher::QuoteSearcher(QuoteSearcher &&) noexcept = default;
QuoteSearcher &QuoteSearcher::operator=(QuoteSearcher &&) noexcept = default;

std::optional<Range> QuoteSearcher::find(const QString &quote, qsizetype from) const
{
    if (quote.isEmpty())
        return std::nullopt;
    return d->find(toNfc(quote), from);
}

QList<Range> QuoteSearcher::findAll(const QString &quote) const
{
    QList<Range> result;
    if (quote.isEmpty())
        return result;
    const QString needle = toNfc(quote);
    qsizetype from = 0;
    while (const auto range = d->find(needle, from)) {
        result.append(*range);
        from = range->end();
    }
    return result;
}

std::optional<Range> findQuote(const QString &text, const QString &quote, qsizetype from)
{
    if (quote.isEmpty())
        return std::nullopt;
    return QuoteSearcher(text).find(quote, from);
}

QList<Range> findAllQuotes(const QString &text, const QString &quote)
{
    if (quote.isEmpty())
        return {};
    return QuoteSearcher(text).findAll(quote);
}

// --- Names and collation -----------------------------------------------------

namespace {

// Full folding, unlike QString::toLower, knows the final sigma and ß.
QString foldCase(const QString &text)
{
    icu::UnicodeString folded(reinterpret_cast<const char16_t *>(text.utf16()), int32_t(text.size()));
    folded.foldCase(U_FOLD_CASE_DEFAULT);
    return QString(reinterpret_cast<const QChar *>(folded.getBuffer()), folded.length());
}

} // namespace

QString nameKey(const QString &name)
{
    return foldCase(toNfc(name));
}

bool containsIgnoringCase(const QString &text, const QString &query)
{
    return foldedContains(caseFolded(text), query);
}

bool foldedContains(const QString &foldedText, const QString &query)
{
    if (query.isEmpty() || foldedText.isEmpty())
        return false;
    return findQuote(foldedText, caseFolded(query)).has_value();
}

QString caseFolded(const QString &text)
{
    return nameKey(text);
}

QString lowercased(const QString &text)
{
    icu::UnicodeString lower(reinterpret_cast<const char16_t *>(text.utf16()), int32_t(text.size()));
    lower.toLower(icu::Locale::getRoot());
    return QString(reinterpret_cast<const QChar *>(lower.getBuffer()), lower.length());
}

namespace {

// A digit is a code point (a surrogate pair taken whole) of the decimal
// digits of any script (Nd) with a decimal value; that one test finds the
// runs and gives their values, so no run holds a character without a value.
// Answers the value, or -1 for any other character; width receives the
// UTF-16 length of the character at i.
int digitAt(QStringView s, qsizetype i, qsizetype &width)
{
    char32_t c = s[i].unicode();
    width = 1;
    if (QChar::isHighSurrogate(c) && i + 1 < s.size() && s[i + 1].isLowSurrogate()) {
        c = QChar::surrogateToUcs4(s[i].unicode(), s[i + 1].unicode());
        width = 2;
    }
    if (QChar::category(c) != QChar::Number_DecimalDigit)
        return -1;
    const int value = QChar::digitValue(c);
    return value >= 0 && value <= 9 ? value : -1;
}

bool startsWithDigit(QStringView s)
{
    qsizetype width = 0;
    return digitAt(s, 0, width) >= 0;
}

// The end of the run of digits, or of non-digits, starting at i.
qsizetype runEnd(QStringView s, qsizetype i)
{
    qsizetype width = 0;
    const bool digits = digitAt(s, i, width) >= 0;
    qsizetype j = i + width;
    while (j < s.size() && (digitAt(s, j, width) >= 0) == digits)
        j += width;
    return j;
}

// A digit run without its leading zeros (its last digit kept), and the
// number of digits left.
QStringView significantDigits(QStringView run, qsizetype &count)
{
    qsizetype width = 0;
    qsizetype start = 0;
    while (digitAt(run, start, width) == 0 && start + width < run.size())
        start += width;
    run = run.mid(start);
    count = 0;
    for (qsizetype i = 0; i < run.size(); i += width) {
        digitAt(run, i, width);
        ++count;
    }
    return run;
}

// Digit runs by value: leading zeros dropped, then the longer is greater,
// then digit by digit.
int compareDigits(QStringView a, QStringView b)
{
    qsizetype countA = 0;
    qsizetype countB = 0;
    a = significantDigits(a, countA);
    b = significantDigits(b, countB);
    if (countA != countB)
        return countA < countB ? -1 : 1;
    qsizetype widthA = 0;
    qsizetype widthB = 0;
    for (qsizetype i = 0, j = 0; i < a.size() && j < b.size(); i += widthA, j += widthB) {
        const int x = digitAt(a, i, widthA);
        const int y = digitAt(b, j, widthB);
        if (x != y)
            return x < y ? -1 : 1;
    }
    return 0;
}

// A text run against a digit run. Every number sorts where "0" sorts among
// texts (a text level with it comes after), so the numbers keep one place
// among the texts however the collator places digits of one script or
// another, or texts such as "²" between them: without that, "٣" < "10" <
// "z" < "٣" in the C locale, and a sort given that comparison can misorder
// or crash.
int compareTextToDigits(QStringView text, const QCollator &insensitive)
{
    return insensitive.compare(text, u"0") < 0 ? -1 : 1;
}

} // namespace

int naturalCompare(const QString &a, const QString &b, const QCollator &insensitive, const QCollator &sensitive)
{
    const QStringView x(a);
    const QStringView y(b);
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < x.size() && j < y.size()) {
        const qsizetype iEnd = runEnd(x, i);
        const qsizetype jEnd = runEnd(y, j);
        const QStringView ra = x.mid(i, iEnd - i);
        const QStringView rb = y.mid(j, jEnd - j);
        const bool digitsA = startsWithDigit(ra);
        const bool digitsB = startsWithDigit(rb);
        int r = 0;
        if (digitsA && digitsB)
            r = compareDigits(ra, rb);
        else if (digitsA)
            r = -compareTextToDigits(rb, insensitive);
        else if (digitsB)
            r = compareTextToDigits(ra, insensitive);
        else
            r = insensitive.compare(ra, rb);
        if (r != 0)
            return r < 0 ? -1 : 1;
        i = iEnd;
        j = jEnd;
    }
    if (i < x.size() || j < y.size())
        return i < x.size() ? 1 : -1;
    const int r = sensitive.compare(a, b);
    return r < 0 ? -1 : r > 0 ? 1 : 0;
}

DisplayCollator::DisplayCollator(const QLocale &locale)
    : m_insensitive(locale), m_sensitive(locale), m_plainInsensitive(locale), m_plainSensitive(locale)
{
    m_insensitive.setNumericMode(true);
    m_insensitive.setCaseSensitivity(Qt::CaseInsensitive);
    m_sensitive.setNumericMode(true);
    m_sensitive.setCaseSensitivity(Qt::CaseSensitive);
    m_plainInsensitive.setCaseSensitivity(Qt::CaseInsensitive);
    m_plainSensitive.setCaseSensitivity(Qt::CaseSensitive);
    m_keysNatural = locale.language() != QLocale::C;
}

int DisplayCollator::compare(const QString &a, const QString &b) const
{
    return naturalCompare(a, b, m_plainInsensitive, m_plainSensitive);
}

namespace {

// list rearranged into order (indexes into list).
QStringList inOrder(const QStringList &list, const QList<qsizetype> &order)
{
    QStringList sorted;
    sorted.reserve(list.size());
    for (qsizetype i : order)
        sorted.append(list.at(i));
    return sorted;
}

} // namespace

void DisplayCollator::sort(QStringList &list) const
{
    list = inOrder(list, order(list));
}

namespace {

QList<qsizetype> identityOrder(qsizetype n)
{
    QList<qsizetype> order(n);
    std::iota(order.begin(), order.end(), qsizetype(0));
    return order;
}

} // namespace

QCollatorSortKey DisplayCollator::sortKey(const QString &text) const
{
    return m_insensitive.sortKey(text);
}

QString DisplayCollator::collationName() const
{
    return m_insensitive.locale().bcp47Name();
}

QList<qsizetype> DisplayCollator::order(const QStringList &texts) const
{
    if (!m_keysNatural) {
        QList<qsizetype> order = identityOrder(texts.size());
        std::stable_sort(order.begin(), order.end(),
                         [&](qsizetype a, qsizetype b) { return compare(texts.at(a), texts.at(b)) < 0; });
        return order;
    }
    std::vector<QCollatorSortKey> keys;
    keys.reserve(size_t(texts.size()));
    for (const QString &text : texts)
        keys.push_back(sortKey(text));
    return order(texts, keys);
}

QList<qsizetype> DisplayCollator::order(const QStringList &texts, const std::vector<QCollatorSortKey> &keys) const
{
    Q_ASSERT(size_t(texts.size()) == keys.size());
    if (!m_keysNatural)
        return DisplayCollator::order(texts);
    QList<qsizetype> order = identityOrder(texts.size());
    const auto byKey = [&keys](qsizetype a, qsizetype b) { return keys[size_t(a)].compare(keys[size_t(b)]) < 0; };
    std::stable_sort(order.begin(), order.end(), byKey);

    // Runs that tie without case get their fixed order from case-sensitive
    // keys; a stable sort keeps full ties in their prior order.
    for (auto run = order.begin(); run != order.end();) {
        const auto end = std::find_if(run + 1, order.end(), [&](qsizetype i) { return byKey(*run, i); });
        if (end - run > 1) {
            std::vector<std::pair<QCollatorSortKey, qsizetype>> tied;
            for (auto it = run; it != end; ++it)
                tied.emplace_back(m_sensitive.sortKey(texts.at(*it)), *it);
            std::stable_sort(tied.begin(), tied.end(),
                             [](const auto &a, const auto &b) { return a.first.compare(b.first) < 0; });
            for (auto it = run; it != end; ++it)
                *it = tied[size_t(it - run)].second;
        }
        run = end;
    }
    return order;
}

namespace {

// UTF-16 units ranked as the code points they belong to: surrogates go above
// the rest of the basic plane.
char16_t codePointRank(char16_t unit)
{
    if (unit >= 0xE000)
        return char16_t(unit - 0x800);
    if (unit >= 0xD800)
        return char16_t(unit + 0x2000);
    return unit;
}

bool codePointLess(QStringView a, QStringView b)
{
    const qsizetype n = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t x = a[i].unicode();
        const char16_t y = b[i].unicode();
        if (x != y)
            return codePointRank(x) < codePointRank(y);
    }
    return a.size() < b.size();
}

} // namespace

QList<qsizetype> codePointOrder(const QStringList &names)
{
    QStringList keys;
    keys.reserve(names.size());
    for (const QString &name : names)
        keys.append(toNfc(name));
    QList<qsizetype> order = identityOrder(names.size());
    std::stable_sort(order.begin(), order.end(),
                     [&keys](qsizetype a, qsizetype b) { return codePointLess(keys.at(a), keys.at(b)); });
    return order;
}

void sortByCodePoint(QStringList &names)
{
    names = inOrder(names, codePointOrder(names));
}

// --- Numbers -------------------------------------------------------------------

namespace {

locale_t cLocale()
{
    static const locale_t loc = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
    return loc;
}

bool isAsciiSpace(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

} // namespace

std::optional<double> parseDouble(const QString &text)
{
    if (text.isEmpty())
        return std::nullopt;
    for (QChar c : text) {
        if (c.unicode() == 0 || c.unicode() > 0x7f)
            return std::nullopt;
    }
    const QByteArray bytes = text.toLatin1();
    // strtod skips leading white space; the whole text must be the number.
    if (isAsciiSpace(bytes.front()))
        return std::nullopt;
    char *end = nullptr;
    const double value = strtod_l(bytes.constData(), &end, cLocale());
    if (end != bytes.constData() + bytes.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<qint64> parseInteger(const QString &text)
{
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    if (i == text.size())
        return std::nullopt;
    const quint64 limit = negative ? quint64(1) << 63 : (quint64(1) << 63) - 1;
    quint64 value = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return std::nullopt;
        const unsigned digit = c - u'0';
        if (value > (limit - digit) / 10)
            return std::nullopt;
        value = value * 10 + digit;
    }
    // Modular conversion (well defined since C++20) covers the minimum.
    return negative ? static_cast<qint64>(0 - value) : static_cast<qint64>(value);
}

std::optional<QString> decodeUtf8(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

} // namespace foundation::text
