#include "engine/inlinemarkdown.h"

#include <QHash>

#include <algorithm>
#include <optional>
#include <utility>

namespace engine::InlineMarkdown {

namespace {

bool isEscapable(QChar c)
{
    const char16_t u = c.unicode();
    return u < 128 && u > 32 && !c.isLetterOrNumber();
}

bool isDelimiter(QChar c)
{
    return c == u'*' || c == u'_' || c == u'~';
}

// A piece of the text: literal text of its looks, or a run of emphasis
// markers that may still open or close a span.
struct Item {
    QString text;
    Styles styles;
    QString href;
    QChar marker;  // null for text
    int count = 0; // markers left unused
    bool canOpen = false;
    bool canClose = false;
};

// Scans in one pass, matching emphasis the way CommonMark's delimiter stack
// does (without its rule of three): linear in the text, no recursion beyond a
// link's text, and every marker left unmatched shown as typed.
class Parser {
public:
    explicit Parser(const QString &text) : s(text) { index(); }

    QList<Span> parse()
    {
        QList<Item> items = tokens(0, s.size(), {});
        QList<Span> spans;
        for (const Item &item : items) {
            const QString text = item.marker.isNull() ? item.text : QString(item.count, item.marker);
            if (text.isEmpty())
                continue;
            if (!spans.isEmpty() && spans.last().styles == item.styles && spans.last().href == item.href)
                spans.last().text += text;
            else
                spans.append(Span{text, item.styles, item.href});
        }
        return spans;
    }

private:
    const QString &s;
    // Backtick runs by start: their length and the start of the next run of
    // the same length (-1 when none), which closes a code span.
    struct Ticks {
        qsizetype length = 0;
        qsizetype closer = -1;
    };
    QHash<qsizetype, Ticks> m_ticks;
    // "[" position -> its matching "]".
    QHash<qsizetype, qsizetype> m_brackets;

    void index()
    {
        QList<qsizetype> open;
        QHash<qsizetype, qsizetype> lastOfLength; // run length -> the latest run's start, scanning back
        QList<std::pair<qsizetype, qsizetype>> runs;
        for (qsizetype i = 0; i < s.size(); ++i) {
            const QChar c = s[i];
            if (c == u'\\' && i + 1 < s.size() && isEscapable(s[i + 1])) {
                ++i;
            } else if (c == u'`') {
                qsizetype e = i;
                while (e < s.size() && s[e] == u'`')
                    ++e;
                runs.append({i, e - i});
                i = e - 1;
            } else if (c == u'[') {
                open.append(i);
            } else if (c == u']' && !open.isEmpty()) {
                m_brackets.insert(open.takeLast(), i);
            }
        }
        for (qsizetype r = runs.size() - 1; r >= 0; --r) {
            const auto [start, length] = runs[r];
            m_ticks.insert(start, Ticks{length, lastOfLength.value(length, -1)});
            lastOfLength.insert(length, start);
        }
    }

    QList<Item> tokens(qsizetype from, qsizetype to, const QString &href)
    {
        QList<Item> items;
        QString plain;
        const auto flush = [&] {
            if (!plain.isEmpty())
                items.append(Item{std::exchange(plain, {}), {}, href, {}, 0, false, false});
        };
        qsizetype i = from;
        while (i < to) {
            const QChar c = s[i];
            if (c == u'\\' && i + 1 < to && isEscapable(s[i + 1])) {
                plain += s[i + 1];
                i += 2;
            } else if (c == u'`' && m_ticks.contains(i)) {
                const Ticks ticks = m_ticks.value(i);
                const qsizetype end = ticks.closer + ticks.length;
                if (ticks.closer < 0 || end > to) {
                    plain += s.mid(i, std::min(ticks.length, to - i));
                    i += ticks.length;
                    continue;
                }
                flush();
                items.append(Item{codeContent(i + ticks.length, ticks.closer), Style::code, href, {}, 0, false, false});
                i = end;
            } else if (c == u'[' && href.isEmpty() && link(i, to)) {
                const qsizetype textEnd = m_brackets.value(i);
                QString destination;
                const qsizetype end = *link(i, to, &destination);
                flush();
                QList<Item> inner = tokens(i + 1, textEnd, destination);
                emphasize(inner);
                items.append(inner);
                i = end;
            } else if (isDelimiter(c)) {
                qsizetype e = i;
                while (e < to && s[e] == c)
                    ++e;
                flush();
                items.append(run(i, e, href));
                i = e;
            } else {
                plain += c;
                ++i;
            }
        }
        flush();
        if (from == 0 && to == s.size())
            emphasize(items);
        return items;
    }

    Item run(qsizetype start, qsizetype end, const QString &href) const
    {
        const QChar c = s[start];
        const bool before = start > 0 && !s[start - 1].isSpace();
        const bool after = end < s.size() && !s[end].isSpace();
        Item item{{}, {}, href, c, int(end - start), after, before};
        // Underscores inside a word are not emphasis (snake_case_names).
        if (c == u'_') {
            item.canOpen = item.canOpen && !(start > 0 && s[start - 1].isLetterOrNumber());
            item.canClose = item.canClose && !(end < s.size() && s[end].isLetterOrNumber());
        }
        return item;
    }

    static void emphasize(QList<Item> &items)
    {
        QHash<QChar, qsizetype> bottom; // openers at or below are known not to match
        for (qsizetype closer = 0; closer < items.size(); ++closer) {
            Item &c = items[closer];
            if (c.marker.isNull() || !c.canClose)
                continue;
            while (c.count > 0) {
                qsizetype opener = closer - 1;
                const qsizetype floor = bottom.value(c.marker, -1);
                for (; opener > floor; --opener) {
                    const Item &o = items[opener];
                    if (o.marker == c.marker && o.canOpen && o.count > 0
                        && (c.marker != u'~' || (o.count == 2 && c.count == 2)))
                        break;
                }
                if (opener <= floor) {
                    bottom.insert(c.marker, closer - 1);
                    break;
                }
                Item &o = items[opener];
                const int used = c.marker == u'~' ? 2 : (std::min(o.count, c.count) >= 2 ? 2 : 1);
                const Styles style = c.marker == u'~' ? Style::strike : (used == 2 ? Style::strong : Style::emphasis);
                for (qsizetype k = opener + 1; k < closer; ++k) {
                    items[k].styles |= style;
                    // Markers inside a matched span no longer match outside it.
                    items[k].canOpen = items[k].canClose = false;
                }
                o.count -= used;
                c.count -= used;
            }
        }
    }

    QString codeContent(qsizetype start, qsizetype end) const
    {
        QString code = s.mid(start, end - start);
        // One space on each side pads a span that starts or ends with a backtick.
        if (code.size() >= 2 && code.front() == u' ' && code.back() == u' ' && !code.trimmed().isEmpty())
            code = code.mid(1, code.size() - 2);
        return code;
    }

    // A link "[text](destination)" at i: its end. The destination may hold
    // balanced parentheses and no white space.
    std::optional<qsizetype> link(qsizetype i, qsizetype to, QString *destination = nullptr) const
    {
        const qsizetype close = m_brackets.value(i, -1);
        if (close < 0 || close + 1 >= to || s[close + 1] != u'(')
            return std::nullopt;
        int parens = 0;
        QString target;
        qsizetype k = close + 2;
        while (k < to && s[k] == u' ')
            ++k;
        for (; k < to; ++k) {
            const QChar ch = s[k];
            if (ch == u'\\' && k + 1 < to && isEscapable(s[k + 1])) {
                target += s[++k];
            } else if (ch.isSpace()) {
                break;
            } else if (ch == u')' && parens-- == 0) {
                break;
            } else {
                if (ch == u'(')
                    ++parens;
                target += ch;
            }
        }
        while (k < to && s[k] == u' ')
            ++k;
        if (k >= to || s[k] != u')')
            return std::nullopt;
        if (target.size() >= 2 && target.front() == u'<' && target.back() == u'>')
            target = target.mid(1, target.size() - 2);
        if (destination)
            *destination = target;
        return k + 1;
    }
};

QString escaped(const QString &text)
{
    QString out = text.toHtmlEscaped();
    out.replace(u'\n', QLatin1String("<br/>"));
    return out;
}

QString wrapped(const QString &body)
{
    return QLatin1String("<span style=\"white-space:pre-wrap\">") + body + QLatin1String("</span>");
}

} // namespace

QList<Span> parse(const QString &text)
{
    return Parser(text).parse();
}

QString toHtml(const QList<Span> &spans)
{
    QString body;
    for (const Span &span : spans) {
        QString part = escaped(span.text);
        if (span.styles & Style::code)
            part = QLatin1String("<code>") + part + QLatin1String("</code>");
        if (span.styles & Style::strike)
            part = QLatin1String("<s>") + part + QLatin1String("</s>");
        if (span.styles & Style::emphasis)
            part = QLatin1String("<i>") + part + QLatin1String("</i>");
        if (span.styles & Style::strong)
            part = QLatin1String("<b>") + part + QLatin1String("</b>");
        if (!span.href.isEmpty())
            part = QLatin1String("<a href=\"") + span.href.toHtmlEscaped() + QLatin1String("\">") + part
                   + QLatin1String("</a>");
        body += part;
    }
    return wrapped(body);
}

QString html(const QString &text)
{
    return toHtml(parse(text));
}

QString plainHtml(const QString &text)
{
    return wrapped(escaped(text));
}

} // namespace engine::InlineMarkdown
