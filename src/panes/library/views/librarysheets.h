#pragma once
// The two sheets a library action asks its one value with: the new title of
// a piece, and the project a piece moves into. Each calls the action it is
// given and closes; the action reports its own failures.

#include "library/post.h"

#include <QDialog>
#include <QPointer>
#include <QStringList>
#include <functional>
#include <optional>

class QButtonGroup;
class QLineEdit;
class QPushButton;

namespace panes {

class RenamePostSheet : public QDialog {
    Q_OBJECT
public:
    using Rename = std::function<void(const QString &title)>;

    RenamePostSheet(const QString &title, Rename rename, QWidget *parent = nullptr);

    // Calls rename with the trimmed title and closes; an empty title does
    // nothing. The unchanged title is renamed all the same.
    void submit();

    QLineEdit *titleField() const { return m_title; }
    QPushButton *renameButton() const { return m_rename; }
    QPushButton *cancelButton() const { return m_cancel; }

private:
    Rename m_action;
    QLineEdit *m_title;
    QPushButton *m_cancel;
    QPushButton *m_rename;
};

class MoveToProjectSheet : public QDialog {
    Q_OBJECT
public:
    using Move = std::function<void(const QString &project)>;

    MoveToProjectSheet(const library::Post &post, const QStringList &projects, Move move, QWidget *parent = nullptr);

    const library::Post &post() const { return m_post; }
    const QString &target() const { return m_target; }
    // Chooses project as the radio buttons do.
    void choose(const QString &project);
    // Calls move with the chosen project and closes.
    void confirm();

    QStringList offeredProjects() const;
    // The name of the checked radio button, empty when none is.
    QString checkedProject() const;
    QPushButton *moveButton() const { return m_move; }
    QPushButton *cancelButton() const { return m_cancel; }

private:
    void updateMoveButton();

    library::Post m_post;
    Move m_action;
    QString m_target;
    QButtonGroup *m_choices;
    QPushButton *m_cancel;
    QPushButton *m_move;
};

// Opens sheet for post, one sheet of a kind at a time: the one up in slot is
// closed first. held keeps the piece the sheet was opened for, as it was then,
// until the sheet closes. owner outlives the sheet's connection.
template<typename Sheet>
void presentSheet(QObject *owner, Sheet *sheet, QPointer<Sheet> &slot, std::optional<library::Post> &held,
                  const library::Post &post)
{
    if (slot)
        slot->reject();
    held = post;
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(sheet, &QDialog::finished, owner, [sheet, &slot, &held] {
        if (slot == sheet) {
            held.reset();
            slot = nullptr;
        }
    });
    slot = sheet;
    sheet->open();
}

} // namespace panes
