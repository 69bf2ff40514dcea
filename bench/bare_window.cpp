// The yardstick of the application's start-up: a bare Qt Widgets window of
// the same size and style, marking its first show the same way. Built a
// second time with one line of text (BARE_WITH_TEXT): the least any window
// that shows text pays for the font machinery.

#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QStyleFactory>
#include <QTimer>
#include <cstdio>

namespace {

class Window : public QMainWindow {
protected:
    void showEvent(QShowEvent *event) override
    {
        QMainWindow::showEvent(event);
        QTimer::singleShot(0, this, [] {
            std::fputs("shown\n", stdout);
            std::fflush(stdout);
        });
    }
};

} // namespace

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    Window window;
    window.resize(1100, 720);
#ifdef BARE_WITH_TEXT
    window.setCentralWidget(new QLabel(QStringLiteral("Posts")));
#endif
    window.show();
    return application.exec();
}
