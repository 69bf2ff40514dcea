#include "editor/prose/prosestyle.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QStringList>

#include <cmath>

namespace editor::ProsePresenter {

namespace {

const QString kSerif = QStringLiteral("Charis SIL");
const QString kMono = QStringLiteral("JetBrains Mono");

// The first installed family of names at size; else the system font of type.
QFont face(const QStringList &names, int pixelSize, QFontDatabase::SystemFont type,
           QFont::Weight weight = QFont::Normal)
{
    QFont font = QFontDatabase::systemFont(type);
    for (const QString &name : names) {
        if (QFontDatabase::hasFamily(name)) {
            font = QFont(name);
            break;
        }
    }
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    if (type == QFontDatabase::FixedFont)
        font.setStyleHint(QFont::Monospace);
    return font;
}

QFont resized(QFont font, int pixelSize)
{
    font.setPixelSize(pixelSize);
    return font;
}

QFont bolded(QFont font)
{
    font.setBold(true);
    return font;
}

QFont italicised(QFont font)
{
    font.setItalic(true);
    return font;
}

BlockMetrics lineHeight(const QFont &reference, qreal multiple)
{
    const QFontMetricsF metrics(reference);
    const qreal natural = metrics.ascent() + metrics.descent() + metrics.leading();
    BlockMetrics out;
    out.lineHeightMultiple = natural > 0 ? multiple * reference.pixelSize() / natural : multiple;
    return out;
}

} // namespace

const QFont &bodyFont()
{
    static const QFont f = face({QStringLiteral("ValkyrieOTBRegular"), kSerif}, 17, QFontDatabase::GeneralFont);
    return f;
}
const QFont &headingFont()
{
    static const QFont f =
        face({QStringLiteral("ConcourseOT6Semibold"), kSerif}, 30, QFontDatabase::GeneralFont, QFont::DemiBold);
    return f;
}
const QFont &subheadingFont()
{
    static const QFont f =
        face({QStringLiteral("ConcourseOT6Semibold"), kSerif}, 22, QFontDatabase::GeneralFont, QFont::DemiBold);
    return f;
}
const QFont &monoFont()
{
    static const QFont f = face({QStringLiteral("UbuntuMonoNFM"), kMono}, 14, QFontDatabase::FixedFont);
    return f;
}
const QFont &heading3Font()
{
    static const QFont f = bolded(resized(bodyFont(), 19));
    return f;
}
const QFont &heading4Font()
{
    static const QFont f = bolded(bodyFont());
    return f;
}
const QFont &boldFont()
{
    static const QFont f = bolded(bodyFont());
    return f;
}
const QFont &italicFont()
{
    static const QFont f = italicised(bodyFont());
    return f;
}
const QFont &leadFont()
{
    static const QFont f = resized(bodyFont(), 22);
    return f;
}
const QFont &listMarkerFont()
{
    static const QFont f = resized(bodyFont(), 13);
    return f;
}
const QFont &blankLineFont()
{
    static const QFont f = resized(bodyFont(), 9);
    return f;
}

const QFont &fontOf(Face f)
{
    switch (f) {
    case Face::none:
    case Face::body: break;
    case Face::heading: return headingFont();
    case Face::subheading: return subheadingFont();
    case Face::mono: return monoFont();
    case Face::heading3: return heading3Font();
    case Face::heading4: return heading4Font();
    case Face::bold: return boldFont();
    case Face::italic: return italicFont();
    case Face::lead: return leadFont();
    case Face::listMarker: return listMarkerFont();
    case Face::blankLine: return blankLineFont();
    }
    return bodyFont();
}

QColor textColour()
{
    return QColor::fromRgbF(0.1f, 0.1f, 0.09f);
}
QColor quoteColour()
{
    return QColor::fromRgbF(72 / 255.f, 72 / 255.f, 77 / 255.f);
}
QColor markerGrey()
{
    return QColor::fromRgbF(0.55f, 0.55f, 0.55f);
}
QColor codeBackground()
{
    return QColor::fromRgbF(245 / 255.f, 245 / 255.f, 247 / 255.f);
}
QColor listMarkerGrey()
{
    return QColor::fromRgbF(110 / 255.f, 110 / 255.f, 115 / 255.f);
}

QColor misspellingColour()
{
    return QColor(201, 100, 66);
}

QColor colourOf(Ink ink)
{
    switch (ink) {
    case Ink::none: break;
    case Ink::text: return textColour();
    case Ink::quote: return quoteColour();
    case Ink::markerGrey: return markerGrey();
    case Ink::listMarkerGrey: return listMarkerGrey();
    }
    return QColor();
}

BlockMetrics paragraphStyle(LineKind kind)
{
    switch (kind) {
    case LineKind::heading1:
    case LineKind::heading2:
    case LineKind::heading3:
    case LineKind::heading4: {
        BlockMetrics m = lineHeight(headingFont(), 1.15);
        m.spaceBefore = 75;
        m.spaceAfter = 30;
        return m;
    }
    case LineKind::fence:
    case LineKind::code: return lineHeight(monoFont(), 1.5);
    case LineKind::blank: return lineHeight(blankLineFont(), 1.8);
    case LineKind::quote: {
        BlockMetrics m = lineHeight(bodyFont(), 1.8);
        m.firstLineIndent = 20;
        m.headIndent = 20;
        return m;
    }
    case LineKind::list:
    case LineKind::rule:
    case LineKind::body: break;
    }
    return lineHeight(bodyFont(), 1.8);
}

BlockMetrics blockMetrics(const StyledLine &line)
{
    if (line.lead) {
        BlockMetrics m = paragraphStyle(LineKind::heading2);
        m.spaceBefore = 0;
        m.spaceAfter = 0;
        return m;
    }
    BlockMetrics m = paragraphStyle(line.kind);
    if (line.kind == LineKind::list && line.markerPrefixEnd > 0) {
        m.headIndent = markerPrefixWidth(line.line.text.left(line.markerPrefixEnd));
        m.spaceBefore = 5;
    }
    return m;
}

qreal markerPrefixWidth(QStringView prefix)
{
    return QFontMetricsF(listMarkerFont()).horizontalAdvance(prefix.toString());
}

const QTextCharFormat &hiddenFormat()
{
    static const QTextCharFormat f = [] {
        QTextCharFormat format;
        QFont tiny = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
        // The smallest size a font takes; with the clear ink the line is gone.
        tiny.setPointSizeF(0.1);
        format.setFont(tiny);
        format.setForeground(QColor(Qt::transparent));
        return format;
    }();
    return f;
}

BlockMetrics hiddenMetrics()
{
    BlockMetrics m;
    m.lineHeightMultiple = 0.01;
    return m;
}

QTextCharFormat charFormat(const Look &look)
{
    QTextCharFormat format;
    format.setFont(fontOf(look.face), QTextCharFormat::FontPropertiesAll);
    if (const QColor ink = colourOf(look.ink); ink.isValid())
        format.setForeground(ink);
    if (look.codeBackground)
        format.setBackground(codeBackground());
    if (look.link) {
        format.setFontUnderline(true);
        format.setUnderlineColor(listMarkerGrey());
    }
    return format;
}

QTextCharFormat bodyFormat()
{
    return charFormat(Look{Face::body, Ink::text});
}

qreal measure()
{
    static const qreal width = std::round(QFontMetricsF(bodyFont()).horizontalAdvance(QStringLiteral("0")) * 66) + 48;
    return width;
}

} // namespace editor::ProsePresenter
