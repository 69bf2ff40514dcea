#pragma once
// The model field of a surface page: an editable combo box offering the
// registry's names with completion, which reports each finished, trimmed
// name once and never overwrites what the writer is typing.

#include "profiles/settingspages.h"
#include "profiles/views/settingswidgets.h"

#include <functional>

namespace profiles {

// A picker too: a wheel turn passes over it rather than replace the name
// with a listed one and commit it.
class ModelComboBox : public SettingsPicker {
    Q_OBJECT
public:
    explicit ModelComboBox(const QString &value, const QStringList &items,
                           std::function<void(const QString &)> onCommit, QWidget *parent = nullptr);

    // The owner drew the field again: the latest action, names and value.
    void refresh(const QString &value, const QStringList &items, std::function<void(const QString &)> onCommit);

    // The only road to onCommit; the shown text when none is given.
    void commit(const std::optional<QString> &text = std::nullopt);
    // The writer is typing in it now.
    bool isEditing() const;
    const ModelFieldRule &rule() const { return m_rule; }

protected:
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    void refreshItems(const QStringList &items);

    std::function<void(const QString &)> m_onCommit;
    ModelFieldRule m_rule;
    // The field lost the focus to another window and has not had it back.
    bool m_windowLeft = false;
};

} // namespace profiles
