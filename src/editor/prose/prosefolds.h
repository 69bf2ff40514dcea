#pragma once
// Folded list items of the prose editor: the record of each fold, folding and
// unfolding, and keeping folds in step with a changing text. Pure functions
// over the text and the parent hints; the text view hides the scopes' lines
// and draws the chevrons from what they return. Folds are view state only:
// they change no character of the text.
//
// A fold is remembered by its item line's text and position. A change within
// one line moves the folds by arithmetic; any other change re-finds each fold
// by its line text in a fresh scan. An edit never lands unseen: a change
// whose range meets a folded scope unfolds that fold.

#include "editor/prose/proselist.h"

#include <QList>
#include <QPointF>
#include <QRectF>
#include <QString>

#include <optional>

namespace editor::ProseFolds {

using Range = foundation::text::Range;
using ProseList::ParentHint;

struct Fold {
    qsizetype key = 0; // the item line's first character
    QString lineText;  // the item line without its terminator, when folded
    Range scope;       // the hidden lines, the last one's terminator included
    qsizetype lineEnd() const { return key + lineText.size(); }
    bool operator==(const Fold &) const = default;
};

// The text of range without its trailing CR and LF characters.
QString trimmedLineText(const QString &text, Range range);

// The fold of hint's item, if folded.
std::optional<Fold> foldAt(const QList<Fold> &folds, qsizetype key);

// Folds hint's item when it is open, unfolds it when it is folded.
QList<Fold> toggled(const QList<Fold> &folds, const ParentHint &hint, const QString &text);

// Each fold goes to the hint with its line text nearest its old key (the
// earlier one on a tie) and takes that hint's scope; a fold whose line text
// is not found, or whose item has lost its nested lines, is dropped, and so
// is a second fold on the same item.
QList<Fold> refound(const QList<Fold> &folds, const QList<ParentHint> &hints, const QString &text);

// Whether a change of edited (the range before the change) meets the fold:
// it replaces a character of the scope or inserts inside it. An insertion at
// the scope's end (the start of the line after it) does not.
bool meets(const Fold &fold, Range edited);
// The folds a change leaves folded: those it meets are unfolded.
QList<Fold> unmet(const QList<Fold> &folds, Range edited);

// A change that stayed within one line, bookkept by arithmetic. delta is the
// replacement's length minus edited's; textLength the length after it.
struct PlainEditResult {
    QList<Fold> folds;
    // Scopes to show again (in the text after the change).
    QList<Range> reveal;
    bool operator==(const PlainEditResult &) const = default;
};
// A fold is dropped when the change touches its item line (at either end
// included), meets its scope, or empties the text; the others move.
PlainEditResult afterPlainEdit(const QList<Fold> &folds, Range edited, qsizetype delta, qsizetype textLength);

// The hints whose item line no fold hides: nested items of a folded item get
// no chevron.
QList<ParentHint> visibleHints(const QList<ParentHint> &hints, const QList<Fold> &folds);

// What the caret rules need of the text: its length and whether it ends with
// a line break (then the position at its end is on an empty line of its own).
struct TextEnd {
    qsizetype length = 0;
    bool endsWithBreak = false;
    static TextEnd of(const QString &text);
};
// Whether position lies in a hidden line of the fold: inside its scope, or at
// the very end of a text whose last line it hides.
bool hides(const Fold &fold, qsizetype position, TextEnd end);
// Where a caret moving from from to to rests so that it is never in a hidden
// line: into a scope from below (or from inside it) at the end of the item's
// line; from the item's line or above at the start of the first line past
// the scope, or at the item line's end when no line follows.
qsizetype caretOutside(const QList<Fold> &folds, qsizetype from, qsizetype to, TextEnd end);
// An arrow key moved the caret from from to to past hidden lines (the text
// view skips them): up or left onto a folded item's line lands at that
// line's end; down or right from a folded item's line onto the line past its
// scope lands at that line's start. Then kept out of every scope.
qsizetype afterArrow(const QList<Fold> &folds, qsizetype from, qsizetype to, TextEnd end);

// One chevron of the fold chrome: the item, whether it is folded, and the
// badge's count of hidden lines.
struct ChromeHint {
    qsizetype markerStart = 0;
    qsizetype markerEnd = 0;
    bool folded = false;
    int hiddenLineCount = 0;
    bool operator==(const ChromeHint &) const = default;
};
// The chevrons to draw: the visible hints with their folded state.
QList<ChromeHint> chromeHints(const QList<ParentHint> &hints, const QList<Fold> &folds);

// Whether a click at point hits the chevron zone of an item whose first
// character has the rectangle firstCharacter: from 1 above to 1 below that
// rectangle, and left of its first 12 pixels (the chevron and the marker).
bool hitsChevronZone(const QRectF &firstCharacter, const QPointF &point);

// Whether the chevrons drawn from drawn are still right after a change: only
// when the change is named (a full refresh is never skipped) and the hints
// recomputed now are the same.
bool canSkipChromeLayout(const std::optional<QList<ChromeHint>> &drawn, const QList<ChromeHint> &now,
                         std::optional<Range> edited);

// The glyphs: open and folded chevrons and the hidden-line badge.
QString chevron(bool folded);
QString badge(int hiddenLineCount);

} // namespace editor::ProseFolds
