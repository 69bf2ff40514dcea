#include "pennorastyle.h"

#include "chrome/palette.h"
#include "symbols.h"

#include <QStyleFactory>

namespace app {

PennoraStyle::PennoraStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}

QIcon PennoraStyle::standardIcon(StandardPixmap pixmap, const QStyleOption *option, const QWidget *widget) const
{
    switch (pixmap) {
    case SP_ToolBarHorizontalExtensionButton:
        return Symbols::icon(QStringLiteral("chevron.right.2"), 16, Palette::ink());
    case SP_ToolBarVerticalExtensionButton: return Symbols::icon(QStringLiteral("chevron.down"), 16, Palette::ink());
    default: return QProxyStyle::standardIcon(pixmap, option, widget);
    }
}

} // namespace app
