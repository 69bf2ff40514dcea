#include "editor/prose/prosefolds.h"

#include "foundation/text.h"

#include <algorithm>
#include <cstdlib>

namespace editor::ProseFolds {

namespace {

bool contains(Range range, qsizetype position)
{
    return position >= range.start && position < range.end();
}

const ParentHint *hintAt(const QList<ParentHint> &hints, qsizetype key)
{
    for (const ParentHint &hint : hints) {
        if (hint.markerLine.start == key)
            return &hint;
    }
    return nullptr;
}

} // namespace

QString trimmedLineText(const QString &text, Range range)
{
    const qsizetype start = std::clamp<qsizetype>(range.start, 0, text.size());
    qsizetype end = std::clamp<qsizetype>(range.end(), start, text.size());
    while (end > start && (text[end - 1] == u'\n' || text[end - 1] == u'\r'))
        --end;
    return text.mid(start, end - start);
}

std::optional<Fold> foldAt(const QList<Fold> &folds, qsizetype key)
{
    for (const Fold &fold : folds) {
        if (fold.key == key)
            return fold;
    }
    return std::nullopt;
}

QList<Fold> toggled(const QList<Fold> &folds, const ParentHint &hint, const QString &text)
{
    QList<Fold> out = folds;
    const auto it =
        std::find_if(out.begin(), out.end(), [&](const Fold &fold) { return fold.key == hint.markerLine.start; });
    if (it != out.end())
        out.erase(it);
    else
        out.append(Fold{hint.markerLine.start, trimmedLineText(text, hint.markerLine), hint.foldScope});
    return out;
}

QList<Fold> refound(const QList<Fold> &folds, const QList<ParentHint> &hints, const QString &text)
{
    // The line text of every hint, once.
    QList<QString> lineTexts;
    lineTexts.reserve(hints.size());
    for (const ParentHint &hint : hints)
        lineTexts.append(trimmedLineText(text, hint.markerLine));
    QList<Fold> out;
    for (const Fold &fold : folds) {
        const ParentHint *best = nullptr;
        qsizetype bestDistance = 0;
        for (qsizetype i = 0; i < hints.size(); ++i) {
            if (lineTexts[i] != fold.lineText)
                continue;
            const qsizetype distance = std::abs(hints[i].markerLine.start - fold.key);
            // Strictly nearer only: on a tie the earlier hint stays.
            if (!best || distance < bestDistance) {
                best = &hints[i];
                bestDistance = distance;
            }
        }
        if (!best)
            continue;
        const bool taken =
            std::any_of(out.cbegin(), out.cend(), [&](const Fold &kept) { return kept.key == best->markerLine.start; });
        if (!taken)
            out.append(Fold{best->markerLine.start, fold.lineText, best->foldScope});
    }
    return out;
}

bool meets(const Fold &fold, Range edited)
{
    if (fold.scope.length <= 0)
        return false;
    if (edited.length == 0)
        return contains(fold.scope, edited.start);
    return edited.start < fold.scope.end() && edited.end() > fold.scope.start;
}

QList<Fold> unmet(const QList<Fold> &folds, Range edited)
{
    QList<Fold> out;
    for (const Fold &fold : folds) {
        if (!meets(fold, edited))
            out.append(fold);
    }
    return out;
}

PlainEditResult afterPlainEdit(const QList<Fold> &folds, Range edited, qsizetype delta, qsizetype textLength)
{
    PlainEditResult out;
    const qsizetype location = edited.start;
    for (const Fold &fold : folds) {
        const qsizetype lineEnd = fold.lineEnd();
        const bool touchesLine = (location < lineEnd && fold.key < edited.end())
                                 || (edited.length == 0 && fold.key <= location && location <= lineEnd);
        Range scope = fold.scope;
        if (location < scope.start)
            scope.start += delta;
        else if (location < scope.end())
            scope.length = std::max<qsizetype>(0, scope.length + delta);
        if (textLength == 0 || touchesLine || meets(fold, edited)) {
            out.reveal.append(scope);
            continue;
        }
        const qsizetype key = location < fold.key ? fold.key + delta : fold.key;
        out.folds.append(Fold{key, fold.lineText, scope});
    }
    return out;
}

QList<ParentHint> visibleHints(const QList<ParentHint> &hints, const QList<Fold> &folds)
{
    QList<Range> scopes;
    for (const Fold &fold : folds) {
        if (const ParentHint *hint = hintAt(hints, fold.key))
            scopes.append(hint->foldScope);
    }
    QList<ParentHint> out;
    for (const ParentHint &hint : hints) {
        const bool hidden = std::any_of(scopes.cbegin(), scopes.cend(),
                                        [&](const Range &scope) { return contains(scope, hint.markerLine.start); });
        if (!hidden)
            out.append(hint);
    }
    return out;
}

TextEnd TextEnd::of(const QString &text)
{
    return TextEnd{text.size(), !text.isEmpty() && foundation::text::isLineBreak(text.back().unicode())};
}

bool hides(const Fold &fold, qsizetype position, TextEnd end)
{
    if (fold.scope.length <= 0)
        return false;
    if (contains(fold.scope, position))
        return true;
    // The last line of the text, hidden, has no line after it to stand on.
    return position == fold.scope.end() && position == end.length && !end.endsWithBreak;
}

qsizetype caretOutside(const QList<Fold> &folds, qsizetype from, qsizetype to, TextEnd end)
{
    // Nested folds: each step leaves one scope, at most once per fold.
    for (qsizetype step = 0; step <= folds.size(); ++step) {
        const auto it =
            std::find_if(folds.cbegin(), folds.cend(), [&](const Fold &fold) { return hides(fold, to, end); });
        if (it == folds.cend())
            return to;
        const qsizetype lineEnd = std::min(it->lineEnd(), end.length);
        const bool forward = from < it->scope.start;
        const bool lineFollows = !hides(*it, it->scope.end(), end);
        to = forward && lineFollows ? it->scope.end() : lineEnd;
    }
    return to;
}

qsizetype afterArrow(const QList<Fold> &folds, qsizetype from, qsizetype to, TextEnd end)
{
    for (const Fold &fold : folds) {
        if (fold.scope.length <= 0)
            continue;
        const bool toLine = fold.key <= to && to <= fold.lineEnd();
        if (to < from && toLine && fold.scope.end() <= from) {
            to = fold.lineEnd();
            break;
        }
        const bool fromLine = fold.key <= from && from <= fold.lineEnd();
        if (to > from && fromLine && to >= fold.scope.end() && !hides(fold, fold.scope.end(), end)) {
            to = fold.scope.end();
            break;
        }
    }
    return caretOutside(folds, from, to, end);
}

QList<ChromeHint> chromeHints(const QList<ParentHint> &hints, const QList<Fold> &folds)
{
    QList<ChromeHint> out;
    for (const ParentHint &hint : visibleHints(hints, folds)) {
        out.append(ChromeHint{hint.markerLine.start, hint.markerEnd, foldAt(folds, hint.markerLine.start).has_value(),
                              hint.hiddenLineCount});
    }
    return out;
}

bool hitsChevronZone(const QRectF &firstCharacter, const QPointF &point)
{
    return point.y() >= firstCharacter.top() - 1 && point.y() <= firstCharacter.bottom() + 1
           && point.x() < firstCharacter.left() + 12;
}

bool canSkipChromeLayout(const std::optional<QList<ChromeHint>> &drawn, const QList<ChromeHint> &now,
                         std::optional<Range> edited)
{
    return edited && drawn && *drawn == now;
}

QString chevron(bool folded)
{
    return folded ? QStringLiteral("\u25B8") : QStringLiteral("\u25BE");
}

QString badge(int hiddenLineCount)
{
    return QStringLiteral("\u22EF ") + QString::number(hiddenLineCount);
}

} // namespace editor::ProseFolds
