#pragma once

#include <QProxyStyle>

namespace app {

// Fusion with the few standard icons the shell shows drawn in code: the
// stock ones come from image files, and reading them would wake the icon
// theme and image plugin machinery on the way to the first window.
class PennoraStyle : public QProxyStyle {
    Q_OBJECT
public:
    PennoraStyle();
    QIcon standardIcon(StandardPixmap pixmap, const QStyleOption *option = nullptr,
                       const QWidget *widget = nullptr) const override;
};

} // namespace app
