#pragma once
// Renders a widget offscreen to a PNG under <build>/screenshots/, so a
// reviewer can look at what a user would see.

#include <QSize>
#include <QString>

class QWidget;

namespace testsupport {

// Resizes widget to size (when valid), lays it out, renders it and writes
// <build>/screenshots/<name>.png; answers the file's path, empty on failure.
QString saveScreenshot(QWidget &widget, const QString &name, QSize size = QSize());

} // namespace testsupport
