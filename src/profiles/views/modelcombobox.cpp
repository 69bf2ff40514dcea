#include "modelcombobox.h"

#include "chrome/palette.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QFocusEvent>
#include <QLineEdit>

namespace profiles {

ModelComboBox::ModelComboBox(const QString &value, const QStringList &items,
                             std::function<void(const QString &)> onCommit, QWidget *parent)
    : SettingsPicker(parent), m_onCommit(std::move(onCommit))
{
    setEditable(true);
    // Return confirms an entry; it never adds the typed name to the list.
    setInsertPolicy(QComboBox::NoInsert);
    setMaxVisibleItems(12);
    setFont(app::Typeface::font(app::Typeface::mono(), 12));
    completer()->setCompletionMode(QCompleter::InlineCompletion);
    completer()->setCaseSensitivity(Qt::CaseSensitive);
    setAccessibleName(QStringLiteral("Model"));
    refreshItems(items);
    setEditText(value);
    m_rule.shown(value);

    // A pick from the list commits the item as listed.
    connect(this, &QComboBox::textActivated, this, [this](const QString &item) {
        commit(item);
        setEditText(item);
    });
    // Return and leaving the field commit what is typed. The field's own
    // list or another window taking the focus is not leaving it: a pick
    // commits, or typing goes on when the list closes or the window returns.
    connect(lineEdit(), &QLineEdit::editingFinished, this, [this] {
        if (!view()->isVisible() && !m_windowLeft)
            commit();
    });
}

void ModelComboBox::refresh(const QString &value, const QStringList &items,
                            std::function<void(const QString &)> onCommit)
{
    m_onCommit = std::move(onCommit);
    refreshItems(items);
    if (const std::optional<QString> shown = m_rule.push(value, isEditing()))
        setEditText(*shown);
}

void ModelComboBox::commit(const std::optional<QString> &text)
{
    const std::optional<QString> name = m_rule.commit(text.value_or(currentText()));
    if (name && m_onCommit)
        m_onCommit(*name);
}

bool ModelComboBox::isEditing() const
{
    return lineEdit()->hasFocus();
}

void ModelComboBox::focusInEvent(QFocusEvent *event)
{
    m_windowLeft = false;
    SettingsPicker::focusInEvent(event);
}

void ModelComboBox::focusOutEvent(QFocusEvent *event)
{
    // Noted before the line edit hears of it and ends the edit.
    m_windowLeft = event->reason() == Qt::ActiveWindowFocusReason;
    SettingsPicker::focusOutEvent(event);
}

void ModelComboBox::refreshItems(const QStringList &items)
{
    QStringList current;
    for (int row = 0; row < count(); ++row)
        current << itemText(row);
    if (!ModelFieldRule::itemsDiffer(current, items))
        return;
    // Replacing the list moves the current row; the shown text stays.
    const QString shown = currentText();
    clear();
    addItems(items);
    setCurrentIndex(-1);
    setEditText(shown);
}

} // namespace profiles
