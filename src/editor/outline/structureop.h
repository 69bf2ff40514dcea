#pragma once
// The outline row editor's structure keys: arrows with modifiers, Tab, Return
// and Escape become operations on the tree instead of edits of the text. Caret
// positions inside a row are counted in grapheme clusters.

#include <QString>
#include <Qt>

#include <optional>

namespace editor::outline {

struct StructureOp {
    enum class Kind { enter, hop, extend, indent, outdent, moveUp, moveDown, fold, unfold, deselect };

    Kind kind = Kind::hop;
    // enter: the caret in grapheme clusters; hop and extend: -1 up, +1 down.
    qsizetype value = 0;

    static StructureOp enter(qsizetype caretGraphemes) { return {Kind::enter, caretGraphemes}; }
    static StructureOp hop(int direction) { return {Kind::hop, direction}; }
    static StructureOp extend(int direction) { return {Kind::extend, direction}; }
    static StructureOp of(Kind kind) { return {kind, 0}; }

    qsizetype caretGraphemes() const { return value; }
    int direction() const { return int(value); }

    bool operator==(const StructureOp &) const = default;
};

// The operation of a key press in a row editor holding text with the caret
// (its selection's start) at caretUtf16; none for keys that edit the text.
// Shift+Up/Down extends the selection, Alt+Up/Down moves, Ctrl+Up/Down folds;
// the keypad flag is ignored.
std::optional<StructureOp> structureOpFor(int key, Qt::KeyboardModifiers modifiers, const QString &text = {},
                                          qsizetype caretUtf16 = 0);

// The grapheme clusters of text before the UTF-16 offset (clamped to the text).
qsizetype caretGraphemes(const QString &text, qsizetype utf16Offset);
// The UTF-16 offset after the first n grapheme clusters (n clamped to the
// text's clusters); none stands for the end of the text.
qsizetype utf16ForGraphemes(const QString &text, std::optional<qsizetype> graphemes);

} // namespace editor::outline
