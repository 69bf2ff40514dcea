#pragma once
// One profile surface's page: provider, model and reasoning effort, the
// model and profile lines, the fixed output budget and "Restore Defaults".
// It shows what the settings model holds and hands each user edit to it.

#include "profiles/settingstypes.h"

#include <QWidget>
#include <memory>

class QComboBox;
class QLabel;
class QPushButton;

namespace profiles {

class ModelComboBox;
class SettingsModel;

class SurfaceSettingsPage : public QWidget {
    Q_OBJECT
public:
    SurfaceSettingsPage(std::shared_ptr<SettingsModel> model, ProfileSurface surface, QWidget *parent = nullptr);

    ProfileSurface surface() const { return m_surface; }
    QLabel *titleLabel() const { return m_title; }
    QLabel *modelLine() const { return m_modelLine; }
    QLabel *profileLine() const { return m_profileLine; }
    QPushButton *restoreDefaultsButton() const { return m_restore; }
    QComboBox *providerPicker() const { return m_provider; }
    ModelComboBox *modelField() const { return m_modelField; }
    QLabel *customModelNote() const { return m_custom; }
    QComboBox *effortPicker() const { return m_effort; }

private:
    void refresh();

    std::shared_ptr<SettingsModel> m_model;
    ProfileSurface m_surface;
    QLabel *m_title;
    QLabel *m_modelLine;
    QLabel *m_profileLine;
    QPushButton *m_restore;
    QComboBox *m_provider;
    ModelComboBox *m_modelField;
    QLabel *m_custom;
    QComboBox *m_effort;
};

} // namespace profiles
