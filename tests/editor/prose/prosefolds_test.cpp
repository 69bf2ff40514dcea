#include "editor/prose/prosefolds.h"

#include <gtest/gtest.h>

namespace {

namespace F = editor::ProseFolds;
namespace L = editor::ProseList;
using F::Fold;
using F::Range;
using namespace Qt::Literals::StringLiterals;

const QString kText = u"intro\n- a\n  - b\n  - c\n- d\n"_s;

L::ParentHint hintFor(const QString &text, const QString &line)
{
    for (const L::ParentHint &hint : L::parentHints(text)) {
        if (F::trimmedLineText(text, hint.markerLine) == line)
            return hint;
    }
    ADD_FAILURE() << "no hint for " << line.toStdString();
    return {};
}

Fold folded(const QString &text, const QString &line)
{
    return F::toggled({}, hintFor(text, line), text).value(0);
}

QString replaced(QString text, Range range, const QString &with)
{
    return text.replace(range.start, range.length, with);
}

TEST(ProseFoldsTest, FoldingRecordsTheItemLineAndScopeAndTogglingUnfolds)
{
    const Fold fold = folded(kText, u"- a"_s);
    EXPECT_EQ(fold, (Fold{6, u"- a"_s, Range{10, 12}}));
    EXPECT_EQ(fold.lineEnd(), 9);
    EXPECT_TRUE(F::toggled({fold}, hintFor(kText, u"- a"_s), kText).isEmpty());
    EXPECT_EQ(F::trimmedLineText(u"- a\r\n"_s, Range{0, 5}), u"- a"_s);
    EXPECT_EQ(F::trimmedLineText(u"\n"_s, Range{0, 1}), QString());
    EXPECT_EQ(F::chevron(false), u"▾"_s);
    EXPECT_EQ(F::chevron(true), u"▸"_s);
    EXPECT_EQ(F::badge(12), u"⋯ 12"_s);
}

// A change within one line: (the edit, the replacement) -> the fold kept (or
// not) and what is shown again.
TEST(ProseFoldsTest, SingleLineEditsMoveKeepOrUnfold)
{
    const Fold fold = folded(kText, u"- a"_s);
    struct Case {
        const char *name;
        Range edited;
        QString with;
        std::optional<Fold> kept;
    };
    const QList<Case> cases{
        {"typing at the start of '- d' leaves it", {22, 0}, u"x"_s, fold},
        {"typing in 'intro' moves it", {0, 0}, u"x"_s, Fold{7, u"- a"_s, Range{11, 12}}},
        {"deleting in 'intro' moves it back", {1, 2}, u""_s, Fold{4, u"- a"_s, Range{8, 12}}},
        {"typing at the item line's start unfolds", {6, 0}, u"x"_s, std::nullopt},
        {"typing after the item line's last character unfolds", {9, 0}, u"x"_s, std::nullopt},
        {"replacing in the item line unfolds", {8, 1}, u"z"_s, std::nullopt},
        {"typing in a hidden line unfolds", {14, 0}, u"x"_s, std::nullopt},
        {"typing at the first hidden line's start unfolds", {10, 0}, u"x"_s, std::nullopt},
        {"deleting the last hidden character unfolds", {20, 1}, u""_s, std::nullopt},
    };
    for (const Case &c : cases) {
        const QString after = replaced(kText, c.edited, c.with);
        const qsizetype delta = c.with.size() - c.edited.length;
        const F::PlainEditResult result = F::afterPlainEdit({fold}, c.edited, delta, after.size());
        if (c.kept) {
            EXPECT_EQ(result.folds, QList<Fold>{*c.kept}) << c.name;
            EXPECT_TRUE(result.reveal.isEmpty()) << c.name;
        } else {
            EXPECT_TRUE(result.folds.isEmpty()) << c.name;
            ASSERT_EQ(result.reveal.size(), 1) << c.name;
            // What is shown again is the scope where it now is.
            const Range shown = result.reveal.first();
            EXPECT_EQ(after.mid(shown.start, 2), after.mid(c.edited.start < 10 ? 10 + delta : 10, 2)) << c.name;
        }
    }
    // Deleting the whole text drops every fold.
    EXPECT_TRUE(F::afterPlainEdit({fold}, {0, kText.size()}, -kText.size(), 0).folds.isEmpty());
}

TEST(ProseFoldsTest, ARescanFindsTheItemByLineTextNearestAndDropsTheLost)
{
    const Fold fold = folded(kText, u"- a"_s);
    // Lines added above: the fold follows its item.
    const QString above = u"new\nlines\n"_s + kText;
    EXPECT_EQ(F::refound({fold}, L::parentHints(above), above), (QList<Fold>{Fold{16, u"- a"_s, Range{20, 12}}}));
    // The item line's text changed: dropped.
    const QString renamed = replaced(kText, {8, 1}, u"A\nB"_s);
    EXPECT_TRUE(F::refound({fold}, L::parentHints(renamed), renamed).isEmpty());
    // The item lost its nested lines: dropped.
    const QString flat = u"intro\n- a\n- d\n"_s;
    EXPECT_TRUE(F::refound({fold}, L::parentHints(flat), flat).isEmpty());
    EXPECT_TRUE(F::refound({fold}, {}, QString()).isEmpty());

    // Two items with the same text: the nearer takes the fold; on a tie the
    // earlier.
    const QString twins = u"- a\n  - x\n- a\n  - y\n"_s; // items at 0 and 10
    const auto at = [&](qsizetype key) { return Fold{key, u"- a"_s, Range{}}; };
    EXPECT_EQ(F::refound({at(8)}, L::parentHints(twins), twins).value(0).key, 10);
    EXPECT_EQ(F::refound({at(2)}, L::parentHints(twins), twins).value(0).key, 0);
    EXPECT_EQ(F::refound({at(5)}, L::parentHints(twins), twins).value(0).key, 0);
    // Two folds landing on one item: one stays.
    EXPECT_EQ(F::refound({at(0), at(1)}, L::parentHints(twins), twins).size(), 1);
}

TEST(ProseFoldsTest, AnEditMeetsAScopeWhenItTouchesAHiddenCharacter)
{
    const Fold fold{6, u"- a"_s, Range{10, 12}};
    EXPECT_TRUE(F::meets(fold, {10, 0}));
    EXPECT_TRUE(F::meets(fold, {21, 1})); // the last hidden line's terminator
    EXPECT_TRUE(F::meets(fold, {0, 30}));
    EXPECT_FALSE(F::meets(fold, {22, 0})); // the line past the scope
    EXPECT_FALSE(F::meets(fold, {9, 1}));  // the item line's terminator
    EXPECT_FALSE(F::meets(Fold{6, u"- a"_s, Range{10, 0}}, {10, 0}));
    EXPECT_EQ(F::unmet({fold, Fold{30, u"- e"_s, Range{34, 4}}}, {15, 3}).value(0).key, 30);
}

TEST(ProseFoldsTest, NestedItemsOfAFoldedItemHaveNoChevron)
{
    const QString text = u"- a\n  - b\n    - c\n- d\n  - e\n"_s;
    const QList<L::ParentHint> hints = L::parentHints(text);
    ASSERT_EQ(hints.size(), 3);
    const QList<Fold> folds{folded(text, u"  - b"_s), folded(text, u"- a"_s)};
    const QList<F::ChromeHint> chrome = F::chromeHints(hints, folds);
    ASSERT_EQ(chrome.size(), 2);
    EXPECT_EQ(chrome[0], (F::ChromeHint{0, 3, true, 2}));
    EXPECT_EQ(chrome[1], (F::ChromeHint{18, 21, false, 1}));
    EXPECT_EQ(F::chromeHints(hints, {}).size(), 3);
}

// Where the caret rests: (from, to) -> rest, over 'intro\n- a\n  - b\n  - c\n- d'
// with '- a' folded (scope 10..22).
TEST(ProseFoldsTest, TheCaretNeverRestsInAHiddenLine)
{
    const QString text = u"intro\n- a\n  - b\n  - c\n- d\n"_s;
    const QList<Fold> folds{folded(text, u"- a"_s)};
    const F::TextEnd end = F::TextEnd::of(text);
    struct Case {
        qsizetype from, to, rest;
    };
    for (const Case c : QList<Case>{{22, 14, 9},
                                    {8, 14, 22},
                                    {9, 10, 22},
                                    {22, 21, 9},
                                    {3, 15, 22},
                                    {15, 15, 9},
                                    {22, 24, 24},
                                    {7, 8, 8},
                                    {0, 22, 22}}) {
        EXPECT_EQ(F::caretOutside(folds, c.from, c.to, end), c.rest) << c.from << " -> " << c.to;
    }
    // Arrows: Up or Left from the line past the scope onto the item's line
    // land at its end; Down or Right from the item's line at the start of the
    // line past the scope.
    for (const Case c : QList<Case>{{22, 7, 9}, {23, 9, 9}, {6, 24, 22}, {9, 22, 22}, {8, 25, 22}, {24, 22, 22}}) {
        EXPECT_EQ(F::afterArrow(folds, c.from, c.to, end), c.rest) << c.from << " -> " << c.to;
    }
    // A fold hiding the text's last line, with no line break after it: the
    // caret stays on the item's line.
    const QString last = u"- a\n  - b"_s;
    const QList<Fold> lastFold{folded(last, u"- a"_s)};
    EXPECT_EQ(F::caretOutside(lastFold, 0, 9, F::TextEnd::of(last)), 3);
    EXPECT_EQ(F::afterArrow(lastFold, 1, 9, F::TextEnd::of(last)), 3);
    // Nested folds: out of both.
    const QString nested = u"- a\n  - b\n    - c\n- d\n"_s;
    const QList<Fold> both{folded(nested, u"  - b"_s), folded(nested, u"- a"_s)};
    EXPECT_EQ(F::caretOutside(both, 20, 16, F::TextEnd::of(nested)), 3);
    EXPECT_EQ(F::caretOutside(both, 1, 16, F::TextEnd::of(nested)), 18);
}

// The skip rule: only a named edit whose recomputed hints equal the drawn
// ones leaves the chevrons as they are.
TEST(ProseFoldsTest, ChromeLayoutIsSkippedOnlyWhenTheHintsAreTheSame)
{
    const auto chrome = [](const QString &text) { return F::chromeHints(L::parentHints(text), {}); };
    const QString text = u"- a\n  - b\n\nbody text\n"_s;
    struct Case {
        const char *name;
        QString after;
        std::optional<Range> edited;
        bool skip;
    };
    const QList<Case> cases{
        {"typing below every item", u"- a\n  - b\n\nbody texts\n"_s, Range{19, 1}, true},
        {"a full refresh", text, std::nullopt, false},
        {"typing on an item line moves its badge", u"- ab\n  - b\n\nbody text\n"_s, Range{3, 1}, false},
        // Below every item's line, yet it makes '- b' a parent: the rule that
        // looked only at where the edit was kept no chevron for it.
        {"an indent below makes a new parent", u"- a\n  - b\n    x\nbody text\n"_s, Range{10, 5}, false},
        {"a line lost its nesting", u"- a\n- b\n\nbody text\n"_s, Range{4, 0}, false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(F::canSkipChromeLayout(chrome(text), chrome(c.after), c.edited), c.skip) << c.name;
    EXPECT_FALSE(F::canSkipChromeLayout(std::nullopt, chrome(text), Range{0, 1}));
}

TEST(ProseFoldsTest, TheChevronZoneIsTheLineLeftOfItsFirstTwelvePixels)
{
    const QRectF first(100, 50, 1, 20);
    EXPECT_TRUE(F::hitsChevronZone(first, {86, 60}));  // on the chevron
    EXPECT_TRUE(F::hitsChevronZone(first, {111, 49})); // the marker, 1 above
    EXPECT_TRUE(F::hitsChevronZone(first, {100, 71}));
    EXPECT_FALSE(F::hitsChevronZone(first, {112, 60}));
    EXPECT_FALSE(F::hitsChevronZone(first, {100, 48}));
    EXPECT_FALSE(F::hitsChevronZone(first, {100, 72}));
}

} // namespace
