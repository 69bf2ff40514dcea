#pragma once
// Word checking for the prose editor over a hunspell dictionary: which words
// of a line are misspelt. No window and no document: the highlighter asks it
// per line and underlines what it answers.

#include "foundation/text.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringView>

#include <memory>

class Hunspell;

namespace editor {

class SpellChecker {
public:
    // A checker over the dictionary pair <folder>/<name>.aff and .dic; it
    // knows no word when the pair cannot be read (isReady is false).
    SpellChecker(const QString &affixPath, const QString &dictionaryPath);
    ~SpellChecker();
    SpellChecker(const SpellChecker &) = delete;
    SpellChecker &operator=(const SpellChecker &) = delete;

    // The system's American English dictionary (hunspell-en-us).
    static SpellChecker &english();

    bool isReady() const { return m_hunspell != nullptr; }
    // Whether one word is spelt right; a checker without a dictionary calls
    // every word right.
    bool isCorrect(QStringView word);
    // The misspelt words of text, as ranges of it. Words with digits are
    // left alone, and so are web and mail addresses.
    QList<foundation::text::Range> misspellings(QStringView text);

private:
    std::unique_ptr<Hunspell> m_hunspell;
    // Answers already asked: a text repeats its words.
    QHash<QString, bool> m_known;
};

} // namespace editor
