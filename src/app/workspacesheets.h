#pragma once
// The four questions the workspace puts to the writer before the library
// acts: who wrote imported files, a new project's name, how to open an
// outline with paragraph lines, and how an outline should read as prose.
// Each sheet holds only its values, its actions and its own bit of state; the
// workspace binds the actions to the library model and clears the question
// when a sheet closes without an answer.

#include "library/post.h"

#include <QDialog>
#include <functional>
#include <optional>

class QButtonGroup;
class QLabel;
class QLineEdit;
class QPushButton;
class QVBoxLayout;

namespace app {

// The common form: a serif title, explanatory texts, the sheet's controls
// and a trailing row of buttons that starts with "Cancel" (Escape) and ends
// with the default button (Return). Window-modal, opened with open().
class WorkspaceSheet : public QDialog {
    Q_OBJECT
public:
    QPushButton *button(const QString &title) const;
    // The texts under the title, in order.
    QStringList explanatoryTexts() const;

protected:
    WorkspaceSheet(int width, const QString &title, QWidget *parent);
    void addText(const QString &text, bool caption = false);
    void addControl(QWidget *control);
    // Adds the buttons after "Cancel"; the last one is the default.
    void addButtons(const QStringList &titles);

    int m_contentWidth;
    QVBoxLayout *m_column;
    QList<QLabel *> m_texts;
};

class OriginAskSheet : public WorkspaceSheet {
    Q_OBJECT
public:
    static QString countText(int count);

    // answer takes the chosen origin on "Import"; the sheet then closes.
    OriginAskSheet(int count, std::function<void(library::Post::Origin)> answer, QWidget *parent = nullptr);
    library::Post::Origin origin() const;
    void setOrigin(library::Post::Origin origin);

private:
    std::function<void(library::Post::Origin)> m_answer;
    QButtonGroup *m_choices;
};

class NewProjectSheet : public WorkspaceSheet {
    Q_OBJECT
public:
    // Answers a failure message, or none when the project was made.
    using Create = std::function<std::optional<QString>(const QString &name)>;

    explicit NewProjectSheet(Create create, QWidget *parent = nullptr);
    QLineEdit *nameField() const { return m_name; }
    const std::optional<QString> &failure() const { return m_failure; }
    // Creates the project of the trimmed name; a failure keeps the sheet up
    // with its message, success closes it. A blank name does nothing.
    void submit();

private:
    void updateCreate();

    Create m_create;
    QLineEdit *m_name;
    QLabel *m_failureLabel;
    std::optional<QString> m_failure;
};

// Neither answer closes the sheet: the workspace's action clears the
// question, which takes the sheet down.
class OutlineGuardSheet : public WorkspaceSheet {
    Q_OBJECT
public:
    OutlineGuardSheet(std::function<void()> openInProse, std::function<void()> openAsOutline,
                      QWidget *parent = nullptr);
};

class ConvertSheet : public WorkspaceSheet {
    Q_OBJECT
public:
    // convert takes true for the headings ladder, false for verbatim bullets.
    ConvertSheet(bool lossy, std::function<void(bool headings)> convert, QWidget *parent = nullptr);
};

} // namespace app
