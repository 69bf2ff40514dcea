#pragma once
// The mentor's replies read as inline Markdown only: emphasis, strong
// emphasis, code spans, strikethrough and links. Block syntax (headings,
// list markers, quotes, fences) stays as typed, white space and line feeds
// are kept, and every other character is shown literally, so HTML-looking
// text from the engine is never markup.

#include <QFlags>
#include <QList>
#include <QString>

namespace engine::InlineMarkdown {

enum class Style : quint8 { strong = 1, emphasis = 2, code = 4, strike = 8 };
Q_DECLARE_FLAGS(Styles, Style)

// A run of text of one look; href is empty outside links.
struct Span {
    QString text;
    Styles styles;
    QString href;
    bool operator==(const Span &) const = default;
};

// The spans of text, adjacent spans of one look merged. Every text parses:
// a marker that matches nothing is shown as typed.
QList<Span> parse(const QString &text);

// Qt rich text of the spans, every character escaped and white space kept.
QString toHtml(const QList<Span> &spans);
QString html(const QString &text);
// The plain text escaped for a rich-text label, white space kept.
QString plainHtml(const QString &text);

} // namespace engine::InlineMarkdown

Q_DECLARE_OPERATORS_FOR_FLAGS(engine::InlineMarkdown::Styles)
