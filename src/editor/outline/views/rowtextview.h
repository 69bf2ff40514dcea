#pragma once
// The editor of the focused outline row: plain text on one logical line that
// wraps and grows with its text. Every change the writer makes goes to onEdit
// as the whole text; the structure keys (arrows with modifiers, Tab, Return,
// Escape) go to onStructure and never edit the text. Text put in from code
// is not reported.

#include "editor/outline/structureop.h"
#include "editor/prose/views/filedroptextview.h"

#include <functional>
#include <optional>

namespace editor::outline {

class RowTextView : public FileDropTextView {
    Q_OBJECT
public:
    using EditAction = std::function<void(const QString &text)>;
    using StructureAction = std::function<void(const StructureOp &op)>;

    // The height never goes below one comfortable line.
    static constexpr int kMinimumHeight = 21;

    // The caret in grapheme clusters; none puts it at the end. The view takes
    // the keyboard once it is in a window, after the current event.
    RowTextView(const QString &text, std::optional<qsizetype> caret, QWidget *parent = nullptr);

    EditAction onEdit;
    StructureAction onStructure;

    // The row's text as the editor now holds it: replaced (caret at the end)
    // only when it differs from what the view last set or the writer typed.
    void updateText(const QString &text);
    const QString &lastLocalText() const { return m_lastLocalText; }
    QString rowText() const { return toPlainText(); }
    // The caret in grapheme clusters.
    qsizetype caretGraphemes() const;

    // The height the text takes at a width (at least kMinimumHeight).
    int heightForWidth(int width) const override;
    bool hasHeightForWidth() const override { return true; }

protected:
    void keyPressEvent(QKeyEvent *event) override;
    bool focusNextPrevChild(bool next) override;

private:
    void writerChanged();

    QString m_lastLocalText;
    bool m_settingText = false;
};

} // namespace editor::outline
