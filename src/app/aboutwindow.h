#pragma once
// The About window: the application's name and the record of the last engine
// check, read afresh from state.json each time the window shows.

#include "engine/engineprobe.h"

#include <QDialog>
#include <QWidget>
#include <optional>

class QLabel;

namespace app {

class AboutEngineView : public QWidget {
    Q_OBJECT
public:
    static constexpr int width = 380;

    explicit AboutEngineView(QWidget *parent = nullptr);

    const std::optional<engine::EngineProbe::StateRecord> &record() const { return m_record; }
    // Reads state.json from the application data folder; a missing or
    // malformed file leaves no record, unreported.
    void loadRecord();
    // The value each row shows, by label ("Engine", "Engine version", "Last
    // checked", "Binary path"); empty while there is no record.
    QString rowValue(const QString &label) const;
    // "No engine check recorded yet." is on show.
    bool showsNoRecord() const;

private:
    void showRecord();

    std::optional<engine::EngineProbe::StateRecord> m_record;
    QWidget *m_rows;
    QLabel *m_noRecord;
    QList<std::pair<QString, QLabel *>> m_values;
};

class AboutWindow : public QDialog {
    Q_OBJECT
public:
    explicit AboutWindow(QWidget *parent = nullptr);
    AboutEngineView *view() const { return m_view; }
    // The record is read before the window is laid out, so that it opens at
    // the size of what it says.
    void setVisible(bool visible) override;

private:
    AboutEngineView *m_view;
};

} // namespace app
