#pragma once
// A read-only row's text as the writer sees it: the inline Markdown of one
// line (bold, italics, code, links) drawn with its styling and without its
// markers. Block syntax and HTML are never interpreted: a row that starts
// with "#" or holds "<b>" shows those characters.

#include <QList>
#include <QString>
#include <QTextLayout>

namespace editor::outline {

struct InlineText {
    QString text;
    QList<QTextLayout::FormatRange> formats;
};

// Pure: the same source always gives the same text and formats.
InlineText renderInline(const QString &source);

} // namespace editor::outline
