#pragma once
// The long outline of the outline benchmarks: a title, then "big" holding 40
// sections of 49 items each (2,000 descendants), optionally "five hundred"
// with 500 descendants, and rows of six levels up to the node count. With
// markup, the sections and items carry inline bold and code.

#include <QStringList>

namespace bench {

inline QString longOutline(int nodes, bool markup = false, bool fiveHundred = false)
{
    using namespace Qt::StringLiterals;
    const QString section =
        markup ? u"  - section %1 with a few words of **text**"_s : u"  - section %1 with a few words of text"_s;
    const QString item = markup ? u"    - item %1.%2, a line of about the usual length for a `note`"_s
                                : u"    - item %1.%2, a line of about the usual length for a note"_s;
    QStringList lines{u"# A long outline"_s, QString()};
    lines.append(u"- big"_s);
    for (int s = 0; s < 40; ++s) {
        lines.append(section.arg(s));
        for (int i = 0; i < 49; ++i)
            lines.append(item.arg(s).arg(i));
    }
    if (fiveHundred) {
        lines.append(u"- five hundred"_s);
        for (int i = 0; i < 500; ++i)
            lines.append(QString(2 * (1 + i % 3), u' ') + u"- part %1 of the five hundred"_s.arg(i));
    }
    for (int n = 0; lines.size() - 2 < nodes; ++n)
        lines.append(QString(2 * (n % 6), u' ') + u"- node %1 with some ordinary words in it"_s.arg(n));
    return lines.join(u'\n');
}

} // namespace bench
