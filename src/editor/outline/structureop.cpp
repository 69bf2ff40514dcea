#include "structureop.h"

#include "foundation/text.h"

#include <algorithm>

namespace editor::outline {

namespace text = foundation::text;

std::optional<StructureOp> structureOpFor(int key, Qt::KeyboardModifiers modifiers, const QString &rowText,
                                          qsizetype caretUtf16)
{
    using Kind = StructureOp::Kind;
    // Arrow keys may carry the keypad flag; every other modifier counts.
    const Qt::KeyboardModifiers arrowModifiers = modifiers & ~Qt::KeyboardModifiers(Qt::KeypadModifier);
    switch (key) {
    case Qt::Key_Up:
    case Qt::Key_Down: {
        const int direction = key == Qt::Key_Up ? -1 : 1;
        if (arrowModifiers == Qt::ShiftModifier)
            return StructureOp::extend(direction);
        if (arrowModifiers == Qt::AltModifier)
            return StructureOp::of(direction < 0 ? Kind::moveUp : Kind::moveDown);
        if (arrowModifiers == Qt::ControlModifier)
            return StructureOp::of(direction < 0 ? Kind::fold : Kind::unfold);
        return StructureOp::hop(direction);
    }
    case Qt::Key_Tab: return StructureOp::of(modifiers.testFlag(Qt::ShiftModifier) ? Kind::outdent : Kind::indent);
    case Qt::Key_Backtab: return StructureOp::of(Kind::outdent);
    case Qt::Key_Escape: return StructureOp::of(Kind::deselect);
    case Qt::Key_Return:
    case Qt::Key_Enter: return StructureOp::enter(caretGraphemes(rowText, caretUtf16));
    default: return std::nullopt;
    }
}

qsizetype caretGraphemes(const QString &rowText, qsizetype utf16Offset)
{
    qsizetype offset = std::clamp<qsizetype>(utf16Offset, 0, rowText.size());
    // A lone high surrogate would count as a cluster of its own, past the
    // character the caret stands in.
    if (offset > 0 && offset < rowText.size() && rowText.at(offset - 1).isHighSurrogate()
        && rowText.at(offset).isLowSurrogate())
        --offset;
    return text::graphemeCount(rowText.left(offset));
}

qsizetype utf16ForGraphemes(const QString &rowText, std::optional<qsizetype> graphemes)
{
    if (!graphemes)
        return rowText.size();
    const QList<qsizetype> bounds = text::graphemeBoundaries(rowText);
    return bounds.at(std::clamp<qsizetype>(*graphemes, 0, bounds.size() - 1));
}

} // namespace editor::outline
