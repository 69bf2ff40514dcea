#include "app/chrome/palette.h"

#include <QFontDatabase>
#include <QFontInfo>

namespace app {
namespace {

QString resolve(const QString &wanted, QFont::StyleHint fallback)
{
    if (QFontDatabase::families().contains(wanted))
        return wanted;
    QFont generic;
    generic.setStyleHint(fallback);
    if (fallback == QFont::Monospace)
        return QFontDatabase::systemFont(QFontDatabase::FixedFont).family();
    return QFontInfo(generic).family();
}

} // namespace

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
