#pragma once
// Once per process, the first time a window holding the library column is
// activated, the keyboard focus is taken from whatever holds it (at once and
// again on the next turn of the event loop), so no field shows a caret at
// launch. Later activations, other windows and later columns are left alone.

#include <QObject>
#include <QPointer>

class QWidget;

namespace panes {

class LaunchFocusReset : public QObject {
    Q_OBJECT
public:
    // Watches host's window, following host into whatever window it moves to.
    explicit LaunchFocusReset(QWidget *host);

    static bool didReset();
    static void clearFocusOnce(QWidget *window);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void observe(QWidget *window);

    QWidget *m_host;
    QPointer<QWidget> m_window;
};

} // namespace panes
