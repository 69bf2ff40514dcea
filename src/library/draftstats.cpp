#include "draftstats.h"

#include "foundation/text.h"

#include <QHash>
#include <QStringView>

#include <unicode/uchar.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <unordered_set>
#include <vector>

namespace library {

namespace {

bool isWordCodePoint(char32_t cp)
{
    return u_hasBinaryProperty(UChar32(cp), UCHAR_ALPHABETIC)
           || u_getIntPropertyValue(UChar32(cp), UCHAR_NUMERIC_TYPE) != U_NT_NONE;
}

// Per UTF-16 unit of the BMP: is it a word character, and is it "simple",
// i.e. of grapheme break class Other, Control, CR or LF. Between two simple
// code points there is always a cluster boundary (CR LF aside, and both of
// those separate words anyway), so runs of simple units need no segmentation.
// That covers ASCII, Latin, Cyrillic, CJK, most punctuation and the em dash.
constexpr std::uint8_t kWord = 1;
constexpr std::uint8_t kSimple = 2;

struct UnitTable {
    std::uint8_t flags[0x10000];

    UnitTable()
    {
        for (char32_t u = 0; u < 0x10000; ++u) {
            std::uint8_t f = 0;
            if (u >= 0xD800 && u <= 0xDFFF) {
                flags[u] = 0; // surrogates always go through the segmenter
                continue;
            }
            if (isWordCodePoint(u))
                f |= kWord;
            switch (u_getIntPropertyValue(UChar32(u), UCHAR_GRAPHEME_CLUSTER_BREAK)) {
            case U_GCB_OTHER:
            case U_GCB_CONTROL:
            case U_GCB_CR:
            case U_GCB_LF: f |= kSimple; break;
            default: break;
            }
            flags[u] = f;
        }
    }
};

const std::uint8_t *unitFlags()
{
    static const std::unique_ptr<UnitTable> table = std::make_unique<UnitTable>();
    return table->flags;
}

char32_t firstCodePoint(const char16_t *s, qsizetype length)
{
    if (length >= 2 && QChar::isHighSurrogate(s[0]) && QChar::isLowSurrogate(s[1]))
        return QChar::surrogateToUcs4(s[0], s[1]);
    return s[0];
}

// Calls visit(start, end, isWord) for every grapheme cluster of text, in
// order. Simple units are handled one by one; anything else (combining marks,
// surrogate pairs, joiners, prepended marks, Hangul jamo) is segmented in a
// small region that starts and ends on a certain cluster boundary.
template<typename Visit>
void forEachCluster(const QString &text, Visit &&visit)
{
    const std::uint8_t *flags = unitFlags();
    const char16_t *s = reinterpret_cast<const char16_t *>(text.utf16());
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n) {
        const std::uint8_t f = flags[s[i]];
        if ((f & kSimple) && (i + 1 == n || (flags[s[i + 1]] & kSimple))) {
            visit(i, i + 1, (f & kWord) != 0);
            ++i;
            continue;
        }
        qsizetype j = i + 1;
        while (j < n && !((flags[s[j - 1]] & kSimple) && (flags[s[j]] & kSimple)))
            ++j;
        const QString region = text.mid(i, j - i);
        const QList<qsizetype> bounds = foundation::text::graphemeBoundaries(region);
        for (qsizetype k = 1; k < bounds.size(); ++k) {
            const qsizetype a = bounds[k - 1];
            const qsizetype b = bounds[k];
            visit(i + a, i + b, isWordCodePoint(firstCodePoint(s + i + a, b - a)));
        }
        i = j;
    }
}

bool isTerminator(const char16_t *s, qsizetype start, qsizetype end)
{
    return end - start == 1 && (s[start] == u'.' || s[start] == u'!' || s[start] == u'?');
}

struct Analysis {
    std::vector<int> wordIDs; // index into the distinct words
    qsizetype distinctWords = 0;
    QList<qsizetype> sentenceLengths;
    QStringList words; // filled only when asked for
};

Analysis analyse(const QString &text, bool keepWords)
{
    Analysis result;
    QHash<QString, int> ids;
    const char16_t *s = reinterpret_cast<const char16_t *>(text.utf16());
    qsizetype wordStart = -1;
    qsizetype sentence = 0;

    auto endWord = [&](qsizetype end) {
        const QString word = QStringView(s + wordStart, end - wordStart).toString();
        // Words are lowercased, not case folded ("Straße" and "strasse" are
        // two words), and compared under canonical equivalence (an accent
        // encoded either way makes no new word).
        const bool ascii = std::all_of(word.cbegin(), word.cend(), [](QChar c) { return c.unicode() < 0x80; });
        const QString lower = ascii ? word.toLower() : foundation::text::lowercased(word);
        const QString key = ascii ? lower : foundation::text::toNfc(lower);
        const auto it = ids.constFind(key);
        if (it != ids.constEnd()) {
            result.wordIDs.push_back(it.value());
        } else {
            const int id = int(ids.size());
            ids.insert(key, id);
            result.wordIDs.push_back(id);
        }
        if (keepWords)
            result.words.append(lower);
        wordStart = -1;
    };

    forEachCluster(text, [&](qsizetype start, qsizetype end, bool word) {
        if (word) {
            if (wordStart < 0) {
                wordStart = start;
                ++sentence;
            }
            return;
        }
        if (wordStart >= 0)
            endWord(start);
        if (isTerminator(s, start, end)) {
            if (sentence > 0)
                result.sentenceLengths.append(sentence);
            sentence = 0;
        }
    });
    if (wordStart >= 0)
        endWord(text.size());
    if (sentence > 0)
        result.sentenceLengths.append(sentence);
    result.distinctWords = ids.size();
    return result;
}

struct Trigram {
    int a, b, c;
    bool operator==(const Trigram &) const = default;
};

struct TrigramHash {
    std::size_t operator()(const Trigram &t) const
    {
        std::uint64_t h = std::uint32_t(t.a);
        h = h * 0x9E3779B97F4A7C15ull ^ std::uint32_t(t.b);
        h = h * 0x9E3779B97F4A7C15ull ^ std::uint32_t(t.c);
        return std::size_t(h ^ (h >> 29));
    }
};

} // namespace

qsizetype DraftStats::wordCount(const QString &text)
{
    qsizetype count = 0;
    bool inWord = false;
    forEachCluster(text, [&](qsizetype, qsizetype, bool word) {
        if (word && !inWord)
            ++count;
        inWord = word;
    });
    return count;
}

QStringList DraftStats::words(const QString &text)
{
    return analyse(text, true).words;
}

QList<qsizetype> DraftStats::sentenceLengths(const QString &text)
{
    return analyse(text, false).sentenceLengths;
}

DraftStats DraftStats::compute(const QString &text)
{
    const Analysis a = analyse(text, false);
    DraftStats stats;
    const auto n = qsizetype(a.wordIDs.size());
    if (n > 0)
        stats.typeTokenRatio = double(a.distinctWords) / double(n);
    if (n > 2) {
        std::unordered_set<Trigram, TrigramHash> windows;
        windows.reserve(std::size_t(n - 2));
        for (qsizetype i = 0; i + 2 < n; ++i)
            windows.insert({a.wordIDs[i], a.wordIDs[i + 1], a.wordIDs[i + 2]});
        const double total = double(n - 2);
        stats.trigramRepetition = (total - double(windows.size())) / total;
    }
    const qsizetype k = a.sentenceLengths.size();
    if (k > 0) {
        double sum = 0;
        for (qsizetype len : a.sentenceLengths)
            sum += double(len);
        const double m = sum / double(k);
        double squares = 0;
        for (qsizetype len : a.sentenceLengths)
            squares += (double(len) - m) * (double(len) - m);
        const double sd = std::sqrt(squares / double(k));
        stats.burstiness = (sd - m) / (sd + m);
        stats.sentenceVariation = sd / m;
    }
    return stats;
}

} // namespace library
