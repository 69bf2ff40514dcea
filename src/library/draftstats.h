#pragma once
// Statistics of a draft's prose and the word count shown while writing.
//
// A word is a maximal run of word characters; a character (grapheme cluster)
// is a word character when its first code point is Alphabetic or has a
// numeric type. Sentences end at ".", "!" and "?".

#include <QList>
#include <QString>
#include <QStringList>

namespace library {

struct DraftStats {
    double burstiness = 0;        // (s - m) / (s + m) of sentence lengths
    double typeTokenRatio = 0;    // distinct words / words
    double sentenceVariation = 0; // s / m of sentence lengths
    double trigramRepetition = 0; // share of three-word windows seen before

    bool operator==(const DraftStats &) const = default;

    // The four numbers of a text. Never fails.
    static DraftStats compute(const QString &text);

    // The number of words, in one pass without building them.
    static qsizetype wordCount(const QString &text);

    // The words in order, lowercased (the locale-independent Unicode
    // mapping). Two words are the same word when they are canonically
    // equivalent once lowercased.
    static QStringList words(const QString &text);

    // Words per sentence, sentences without words left out.
    static QList<qsizetype> sentenceLengths(const QString &text);
};

} // namespace library
