#pragma once
// The settings pane: a sidebar of five pages beside the selected page, the
// last write error above it, and the Content page that shows the Home and
// repoints it. The pane has its settings model load the profiles each time
// it comes on screen.
//
// The pane knows nothing of the library: the workspace hands in the Home,
// what repoints it and the folder chooser.

#include "profiles/settingspages.h"

#include <QAbstractButton>
#include <QLabel>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

class QPushButton;

namespace app {
class SelectedRowStrip;
}

namespace profiles {

class SettingsModel;

// Shows a path on one line, dropping middle folders until it fits; the
// whole path is its tooltip and accessible name.
class ElidedPathText : public QLabel {
    Q_OBJECT
public:
    explicit ElidedPathText(const QString &path = QString(), QWidget *parent = nullptr);

    void setPath(const QString &path);
    const QString &path() const { return m_path; }
    // The candidate of elidedpath::fit for a width, in this view's font.
    QString fit(int width) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void refit();

    QString m_path;
};

// One row of the sidebar: the page's label, its tag, a tint when selected
// or hovered and the accent strip when selected.
class SettingsSidebarButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit SettingsSidebarButton(SettingsPage page, QWidget *parent = nullptr);

    SettingsPage page() const { return m_page; }
    void setSelected(bool selected);
    bool isSelected() const { return isChecked(); }
    bool isHovered() const { return m_hover; }
    app::SelectedRowStrip *strip() const { return m_strip; }
    // The tint behind the row now: ink at 0.10 selected, 0.06 hovered.
    std::optional<QColor> fill() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void nextCheckState() override {}

private:
    SettingsPage m_page;
    bool m_hover = false;
    app::SelectedRowStrip *m_strip;
};

// Answers the folder the user chose, none when cancelled.
using FolderChooser = std::function<std::optional<QString>(QWidget *parent)>;

// The Home and the button that repoints it. It never moves or creates
// anything: it hands the chosen folder to setHome, which decides.
class ContentSettingsPage : public QWidget {
    Q_OBJECT
public:
    static constexpr const char *kChooserMessage = "Choose the folder holding your posts. Pennora never moves content.";

    ContentSettingsPage(std::function<QString()> home, std::function<void(const QString &)> setHome,
                        FolderChooser chooseFolder, QWidget *parent = nullptr);

    // Runs the chooser and sets the Home to what it gives, unchecked.
    void chooseHome();
    // Shows the Home as it is now.
    void refreshHome();

    ElidedPathText *pathText() const { return m_path; }
    QPushButton *chooseButton() const { return m_choose; }

private:
    std::function<QString()> m_home;
    std::function<void(const QString &)> m_setHome;
    FolderChooser m_chooseFolder;
    ElidedPathText *m_path;
    QPushButton *m_choose;
};

class SettingsPaneView : public QWidget {
    Q_OBJECT
public:
    // model: a fresh model for this stay. home: the Home folder's path now.
    // setHome: repoints the Home (guard, alert, storing are its own).
    // chooseFolder: the folder panel; systemFolderChooser() when none.
    SettingsPaneView(std::shared_ptr<SettingsModel> model, std::function<QString()> home,
                     std::function<void(const QString &)> setHome, FolderChooser chooseFolder = {},
                     QWidget *parent = nullptr);
    ~SettingsPaneView() override;

    // A modal folder dialog, folders only, new folders allowed.
    static FolderChooser systemFolderChooser();

    SettingsPage page() const { return m_page; }
    void setPage(SettingsPage page);
    const std::shared_ptr<SettingsModel> &model() const { return m_model; }
    // The workspace repointed the Home by other means.
    void refreshHome();

    SettingsSidebarButton *sidebarButton(SettingsPage page) const;
    // The page shown now (rebuilt on every switch).
    QWidget *currentPage() const { return m_current; }
    // The write error line; hidden while the model has none.
    QLabel *errorLine() const { return m_error; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    void refreshError();
    void finishEditing();
    QWidget *buildPage(SettingsPage page);

    std::shared_ptr<SettingsModel> m_model;
    std::function<QString()> m_home;
    std::function<void(const QString &)> m_setHome;
    FolderChooser m_chooseFolder;
    SettingsPage m_page = SettingsPage::content;
    QList<SettingsSidebarButton *> m_rows;
    QLabel *m_error;
    QWidget *m_pageColumn;
    QWidget *m_current = nullptr;
};

} // namespace profiles
