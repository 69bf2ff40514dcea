#include "chrome/palette.h"

#include <QFontDatabase>
#include <QFontInfo>

namespace app {

QString Typeface::resolve(const QString &wanted, QFont::StyleHint hint)
{
    if (QFontDatabase::families().contains(wanted))
        return wanted;
    if (hint == QFont::Monospace)
        return QFontDatabase::systemFont(QFontDatabase::FixedFont).family();
    // A style hint alone resolves to the default sans face: the generic
    // family name is what fontconfig maps to the system's serif.
    QFont generic(QStringLiteral("serif"));
    generic.setStyleHint(hint);
    return QFontInfo(generic).family();
}

const QString &Typeface::serif()
{
    static const QString family = resolve(QStringLiteral("Charis SIL"), QFont::Serif);
    return family;
}

const QString &Typeface::mono()
{
    static const QString family = resolve(QStringLiteral("JetBrains Mono"), QFont::Monospace);
    return family;
}

QFont Typeface::font(const QString &family, int pixelSize, QFont::Weight weight)
{
    QFont font(family);
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    return font;
}

} // namespace app
