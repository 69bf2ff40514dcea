#pragma once

#include <QMainWindow>

namespace app {

// The main window: the place the workspace goes.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr);

public slots:
    void bringToFront();
};

} // namespace app
