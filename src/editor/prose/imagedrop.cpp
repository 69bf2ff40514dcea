#include "editor/prose/imagedrop.h"

#include <algorithm>

namespace editor::ImageDrop {

namespace {

using namespace Qt::StringLiterals;

bool isWordCharacter(QChar c)
{
    // Surrogates are no white space: a pair is never split.
    return !c.isSpace();
}

bool isLineEnd(QChar c)
{
    return foundation::text::isLineEnd(c.unicode());
}

} // namespace

qsizetype boundaryNear(const QList<Line> &lines, double pointerY)
{
    for (const Line &line : lines) {
        if (line.middle > pointerY)
            return line.start;
    }
    return lines.isEmpty() ? 0 : lines.last().end;
}

qsizetype pastWord(const QString &text, qsizetype position)
{
    const qsizetype length = text.size();
    position = std::clamp<qsizetype>(position, 0, length);
    if (position == 0 || position == length || !isWordCharacter(text[position - 1]) || !isWordCharacter(text[position]))
        return position;
    while (position < length && isWordCharacter(text[position]))
        ++position;
    return position;
}

QString link(const QString &path)
{
    return u"![alt]("_s + path + u')';
}

Insertion insertion(const QString &text, qsizetype position, const QStringList &paths)
{
    position = std::clamp<qsizetype>(position, 0, text.size());
    QStringList links;
    for (const QString &path : paths)
        links << link(path);
    QString inserted = links.join(u' ');

    QString before;
    const bool lineStart = position == 0 || isLineEnd(text[position - 1]);
    if (lineStart) {
        // Glued to the front of "# Title" or "- item" the line would lose its
        // kind: the links get a line of their own.
        qsizetype end = position;
        while (end < text.size() && !isLineEnd(text[end]))
            ++end;
        if (!foundation::text::isBlank(text.mid(position, end - position)))
            inserted += u'\n';
    } else {
        if (!text[position - 1].isSpace())
            before = u" "_s;
        if (position < text.size() && !text[position].isSpace())
            inserted += u' ';
    }
    inserted.prepend(before);
    return {position, inserted, {position + before.size() + 2, 3}};
}

} // namespace editor::ImageDrop
