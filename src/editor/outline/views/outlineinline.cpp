#include "editor/outline/views/outlineinline.h"

#include "chrome/palette.h"
#include "editor/prose/prosepresenter.h"
#include "editor/prose/prosestyle.h"

#include <algorithm>
#include <optional>

namespace editor::outline {

namespace {

using ProsePresenter::InlinePattern;

struct Span {
    InlinePattern pattern;
    qsizetype start;
    qsizetype end;
};

// What a span's markers take at each end; a link keeps its text only.
std::pair<qsizetype, qsizetype> markerLengths(InlinePattern pattern, QStringView match)
{
    switch (pattern) {
    case InlinePattern::bold: return {2, 2};
    case InlinePattern::italicStar:
    case InlinePattern::italicUnderscore:
    case InlinePattern::inlineCode: return {1, 1};
    case InlinePattern::link: return {1, match.size() - match.indexOf(u"](")};
    }
    return {0, 0};
}

bool isWordCharacter(QStringView text, qsizetype at)
{
    return at >= 0 && at < text.size() && text.at(at).isLetterOrNumber();
}

QTextCharFormat formatOf(InlinePattern pattern)
{
    QTextCharFormat format;
    switch (pattern) {
    case InlinePattern::bold: format.setFontWeight(QFont::Bold); break;
    case InlinePattern::italicStar:
    case InlinePattern::italicUnderscore: format.setFontItalic(true); break;
    case InlinePattern::inlineCode:
        format.setFontFamilies(ProsePresenter::monoFont().families());
        format.setFontFixedPitch(true);
        format.setBackground(ProsePresenter::codeBackground());
        break;
    case InlinePattern::link:
        format.setForeground(app::Palette::accent());
        format.setFontUnderline(true);
        break;
    }
    return format;
}

const QRegularExpression &patternOf(InlinePattern pattern)
{
    switch (pattern) {
    case InlinePattern::bold: return ProsePresenter::boldPattern();
    case InlinePattern::italicStar: return ProsePresenter::italicStarPattern();
    case InlinePattern::italicUnderscore: return ProsePresenter::italicUnderscorePattern();
    case InlinePattern::inlineCode: return ProsePresenter::inlineCodePattern();
    case InlinePattern::link: break;
    }
    return ProsePresenter::linkPattern();
}

// The first span of a kind at or after from, in source offsets.
std::optional<Span> firstSpan(InlinePattern pattern, QStringView source, qsizetype from)
{
    while (from < source.size()) {
        const auto found = ProsePresenter::firstMatchRange(patternOf(pattern), source.mid(from));
        if (!found)
            return std::nullopt;
        const Span span{pattern, from + found->first, from + found->second};
        // snake_case_names are words, not emphasis.
        if (pattern != InlinePattern::italicUnderscore
            || (!isWordCharacter(source, span.start - 1) && !isWordCharacter(source, span.end)))
            return span;
        from = span.start + 1;
    }
    return std::nullopt;
}

void render(QStringView source, InlineText &out)
{
    // The leftmost span wins; at one start code first (what it holds is
    // literal), then links, bold and italics.
    static constexpr InlinePattern order[] = {InlinePattern::inlineCode, InlinePattern::link, InlinePattern::bold,
                                              InlinePattern::italicStar, InlinePattern::italicUnderscore};
    qsizetype at = 0;
    while (at < source.size()) {
        std::optional<Span> next;
        for (InlinePattern pattern : order) {
            const std::optional<Span> span = firstSpan(pattern, source, at);
            if (span && (!next || span->start < next->start))
                next = span;
        }
        if (!next)
            break;
        out.text += source.mid(at, next->start - at);
        const QStringView match = source.mid(next->start, next->end - next->start);
        const auto [open, close] = markerLengths(next->pattern, match);
        const QStringView inner = match.mid(open, match.size() - open - close);
        const int from = int(out.text.size());
        if (next->pattern == InlinePattern::inlineCode)
            out.text += inner;
        else
            render(inner, out);
        const int length = int(out.text.size()) - from;
        if (length > 0)
            out.formats.append({from, length, formatOf(next->pattern)});
        at = next->end;
    }
    out.text += source.mid(at);
}

} // namespace

InlineText renderInline(const QString &source)
{
    InlineText out;
    render(source, out);
    // Outer spans first, so inner ones (bold inside a link) draw over them.
    std::stable_sort(out.formats.begin(), out.formats.end(),
                     [](const auto &a, const auto &b) { return a.start < b.start; });
    return out;
}

} // namespace editor::outline
