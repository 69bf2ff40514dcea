#include "screenshot.h"

#include "testenv.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QWidget>

namespace testsupport {

QString saveScreenshot(QWidget &widget, const QString &name, QSize size)
{
    if (size.isValid())
        widget.resize(size);
    widget.ensurePolished();
    if (!widget.isVisible()) {
        widget.setAttribute(Qt::WA_DontShowOnScreen);
        widget.show();
    }
    QApplication::processEvents();
    const QString folder = binaryDir() + QStringLiteral("/screenshots");
    QDir().mkpath(folder);
    const QString path = folder + u'/' + name + QStringLiteral(".png");
    return widget.grab().save(path, "PNG") ? path : QString();
}

} // namespace testsupport
