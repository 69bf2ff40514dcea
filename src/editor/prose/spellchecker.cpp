#include "editor/prose/spellchecker.h"

#include <QFileInfo>
#include <QTextBoundaryFinder>

#include <hunspell.hxx>

namespace editor {

using foundation::text::Range;

SpellChecker::SpellChecker(const QString &affixPath, const QString &dictionaryPath)
{
    if (QFileInfo(affixPath).isFile() && QFileInfo(dictionaryPath).isFile())
        m_hunspell =
            std::make_unique<Hunspell>(affixPath.toLocal8Bit().constData(), dictionaryPath.toLocal8Bit().constData());
}

SpellChecker::~SpellChecker() = default;

SpellChecker &SpellChecker::english()
{
    static SpellChecker checker(QStringLiteral("/usr/share/hunspell/en_US.aff"),
                                QStringLiteral("/usr/share/hunspell/en_US.dic"));
    return checker;
}

bool SpellChecker::isCorrect(QStringView word)
{
    if (!m_hunspell || word.isEmpty())
        return true;
    const QString key = word.toString();
    if (const auto it = m_known.constFind(key); it != m_known.cend())
        return it.value();
    // The dictionary is UTF-8 (en_US: "SET UTF-8").
    const bool right = m_hunspell->spell(key.toStdString());
    m_known.insert(key, right);
    return right;
}

QList<Range> SpellChecker::misspellings(QStringView text)
{
    QList<Range> out;
    if (!m_hunspell)
        return out;
    const QString whole = text.toString();
    QTextBoundaryFinder finder(QTextBoundaryFinder::Word, whole);
    qsizetype start = 0;
    while (finder.toNextBoundary() != -1) {
        const qsizetype end = finder.position();
        const QStringView word = QStringView(whole).mid(start, end - start);
        const qsizetype wordStart = start;
        start = end;
        bool letters = false;
        bool digits = false;
        for (const QChar c : word) {
            letters = letters || c.isLetter();
            digits = digits || c.isDigit();
        }
        if (!letters || digits)
            continue;
        // An address is not prose: "example" in example.com, "me" in me@x.
        const QChar before = wordStart > 0 ? whole.at(wordStart - 1) : QChar();
        const QChar after = end < whole.size() ? whole.at(end) : QChar();
        const auto joins = [](QChar c) { return c == u'@' || c == u'/' || c == u':' || c == u'_'; };
        if (joins(before) || joins(after) || (after == u'.' && end + 1 < whole.size() && whole.at(end + 1).isLetter())
            || (before == u'.' && wordStart > 1 && whole.at(wordStart - 2).isLetter()))
            continue;
        if (!isCorrect(word))
            out.append(Range{wordStart, word.size()});
    }
    return out;
}

} // namespace editor
