#include "editor/outline/structureop.h"
#include "outlinefixture.h"

#include <gtest/gtest.h>

using editor::outline::caretGraphemes;
using editor::outline::StructureOp;
using editor::outline::structureOpFor;
using editor::outline::utf16ForGraphemes;
using Kind = StructureOp::Kind;
using namespace Qt::StringLiterals;

namespace {

struct KeyCase {
    const char *name;
    int key;
    Qt::KeyboardModifiers modifiers;
    std::optional<StructureOp> op;
};

void PrintTo(const KeyCase &c, std::ostream *os)
{
    *os << c.name;
}

class KeyMap : public ::testing::TestWithParam<KeyCase> {};

TEST_P(KeyMap, GivesTheOperation)
{
    EXPECT_EQ(structureOpFor(GetParam().key, GetParam().modifiers), GetParam().op);
}

const Qt::KeyboardModifiers none = Qt::NoModifier;
const Qt::KeyboardModifiers shift = Qt::ShiftModifier;
const Qt::KeyboardModifiers alt = Qt::AltModifier;
const Qt::KeyboardModifiers ctrl = Qt::ControlModifier;

INSTANTIATE_TEST_SUITE_P(
    Keys, KeyMap,
    ::testing::Values(KeyCase{"ShiftUpExtends", Qt::Key_Up, shift, StructureOp::extend(-1)},
                      KeyCase{"ShiftDownExtends", Qt::Key_Down, shift, StructureOp::extend(1)},
                      KeyCase{"KeypadFlagIgnored", Qt::Key_Up, shift | Qt::KeypadModifier, StructureOp::extend(-1)},
                      KeyCase{"AltUpMoves", Qt::Key_Up, alt, StructureOp::of(Kind::moveUp)},
                      KeyCase{"AltDownMoves", Qt::Key_Down, alt, StructureOp::of(Kind::moveDown)},
                      KeyCase{"CtrlUpFolds", Qt::Key_Up, ctrl, StructureOp::of(Kind::fold)},
                      KeyCase{"CtrlDownUnfolds", Qt::Key_Down, ctrl, StructureOp::of(Kind::unfold)},
                      KeyCase{"UpHops", Qt::Key_Up, none, StructureOp::hop(-1)},
                      KeyCase{"DownHops", Qt::Key_Down, none, StructureOp::hop(1)},
                      KeyCase{"MetaUpHops", Qt::Key_Up, Qt::MetaModifier, StructureOp::hop(-1)},
                      KeyCase{"ShiftAltUpHops", Qt::Key_Up, shift | alt, StructureOp::hop(-1)},
                      KeyCase{"ShiftCtrlDownHops", Qt::Key_Down, shift | ctrl, StructureOp::hop(1)},
                      KeyCase{"TabIndents", Qt::Key_Tab, none, StructureOp::of(Kind::indent)},
                      KeyCase{"ShiftAltTabOutdents", Qt::Key_Tab, shift | alt, StructureOp::of(Kind::outdent)},
                      KeyCase{"CtrlTabIndents", Qt::Key_Tab, ctrl, StructureOp::of(Kind::indent)},
                      KeyCase{"BacktabOutdents", Qt::Key_Backtab, shift, StructureOp::of(Kind::outdent)},
                      KeyCase{"EscapeDeselects", Qt::Key_Escape, shift, StructureOp::of(Kind::deselect)},
                      KeyCase{"ReturnEnters", Qt::Key_Return, none, StructureOp::enter(0)},
                      KeyCase{"KeypadEnterEnters", Qt::Key_Enter, Qt::KeypadModifier, StructureOp::enter(0)},
                      KeyCase{"LetterEdits", Qt::Key_A, none, std::nullopt},
                      KeyCase{"LeftEdits", Qt::Key_Left, alt, std::nullopt}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(KeyMap, ReturnCountsGraphemesBeforeTheCaret)
{
    const QString family = u"👩‍👩‍👧"_s; // one cluster of five code points
    const QString text = family + u"a"_s;
    EXPECT_EQ(structureOpFor(Qt::Key_Return, Qt::NoModifier, text, text.size()), StructureOp::enter(2));
    EXPECT_EQ(structureOpFor(Qt::Key_Return, Qt::NoModifier, text, family.size()), StructureOp::enter(1));
    // Clamped to the text.
    EXPECT_EQ(caretGraphemes(text, 500), 2);
    EXPECT_EQ(caretGraphemes(text, -4), 0);
}

// An offset inside a character (between the halves of a surrogate pair) counts
// no cluster the caret has not reached, so Return never cuts after it.
TEST(KeyMap, ReturnInsideACharacterCountsOnlyWhatLiesBefore)
{
    const QString family = u"👩‍👩‍👧"_s; // 👩 ZWJ 👩 ZWJ 👧: eight code units
    const QString flags = u"🇫🇷🇩🇪"_s;
    const QString accent = u"e\u0301x"_s;
    const QList<std::tuple<QString, qsizetype, qsizetype>> table{
        {family + u"a"_s, 1, 0}, {family + u"a"_s, 4, 1}, {family + u"a"_s, 7, 1},
        {flags, 5, 1},           {flags, 7, 2},           {u"👍a"_s, 1, 0},
    };
    for (const auto &[text, offset, count] : table)
        EXPECT_EQ(caretGraphemes(text, offset), count) << text.toStdString() << " at " << offset;

    // Moving the caret right never lowers the count.
    for (const QString &text : {family + u"a"_s, flags, accent, u"a👍b"_s}) {
        for (qsizetype offset = 1; offset <= text.size(); ++offset)
            EXPECT_LE(caretGraphemes(text, offset - 1), caretGraphemes(text, offset))
                << text.toStdString() << " at " << offset;
    }
}

TEST(KeyMap, CaretAtCreationIsClampedAndConvertedToUtf16)
{
    EXPECT_EQ(utf16ForGraphemes(u"abcde"_s, 99), 5);
    EXPECT_EQ(utf16ForGraphemes(u"abcde"_s, -3), 0);
    EXPECT_EQ(utf16ForGraphemes(u"abcde"_s, std::nullopt), 5);
    const QString family = u"👩‍👩‍👧"_s;
    EXPECT_EQ(utf16ForGraphemes(family + u"a"_s, 1), family.size());
    EXPECT_EQ(utf16ForGraphemes(QString(), 3), 0);
}

} // namespace
