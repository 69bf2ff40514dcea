#include "editor/prose/prosestyle.h"

#include "testutil.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <gtest/gtest.h>

namespace {

namespace P = editor::ProsePresenter;
using namespace Qt::Literals::StringLiterals;
using P::Face;
using P::Ink;
using P::LineKind;

qreal naturalHeight(const QFont &font)
{
    const QFontMetricsF m(font);
    return m.ascent() + m.descent() + m.leading();
}

// What a line drawn in its reference face stands, in pixels.
qreal drawnHeight(const P::BlockMetrics &metrics, const QFont &reference)
{
    return metrics.lineHeightMultiple * naturalHeight(reference);
}

TEST(ProseStyleTest, FacesFallBackAndDeriveFromTheBodyFace)
{
    const QString serif = QFontDatabase::hasFamily(u"Charis SIL"_s)
                              ? u"Charis SIL"_s
                              : QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
    const QString mono = QFontDatabase::hasFamily(u"JetBrains Mono"_s)
                             ? u"JetBrains Mono"_s
                             : QFontDatabase::systemFont(QFontDatabase::FixedFont).family();
    struct Case {
        const QFont &font;
        QString family;
        int pixelSize;
        bool bold;
        bool italic;
    };
    const Case cases[] = {
        {P::bodyFont(), serif, 17, false, false},      {P::headingFont(), serif, 30, true, false},
        {P::subheadingFont(), serif, 22, true, false}, {P::monoFont(), mono, 14, false, false},
        {P::heading3Font(), serif, 19, true, false},   {P::heading4Font(), serif, 17, true, false},
        {P::boldFont(), serif, 17, true, false},       {P::italicFont(), serif, 17, false, true},
        {P::leadFont(), serif, 22, false, false},      {P::listMarkerFont(), serif, 13, false, false},
        {P::blankLineFont(), serif, 9, false, false},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(c.font.family(), c.family);
        EXPECT_EQ(c.font.pixelSize(), c.pixelSize) << c.family.toStdString();
        EXPECT_EQ(c.font.weight() >= QFont::DemiBold, c.bold) << c.pixelSize;
        EXPECT_EQ(c.font.italic(), c.italic) << c.pixelSize;
    }
    EXPECT_EQ(P::headingFont().weight(), QFont::DemiBold);
    EXPECT_TRUE(QFontInfo(P::monoFont()).fixedPitch());
    EXPECT_EQ(&P::bodyFont(), &P::bodyFont()); // built once
}

TEST(ProseStyleTest, ColoursByValue)
{
    struct Case {
        QColor colour;
        float r, g, b;
    };
    const Case cases[] = {
        {P::textColour(), 0.1f, 0.1f, 0.09f},
        {P::quoteColour(), 72 / 255.f, 72 / 255.f, 77 / 255.f},
        {P::markerGrey(), 0.55f, 0.55f, 0.55f},
        {P::codeBackground(), 245 / 255.f, 245 / 255.f, 247 / 255.f},
        {P::listMarkerGrey(), 110 / 255.f, 110 / 255.f, 115 / 255.f},
    };
    for (const Case &c : cases) {
        EXPECT_NEAR(c.colour.redF(), c.r, 1e-4);
        EXPECT_NEAR(c.colour.greenF(), c.g, 1e-4);
        EXPECT_NEAR(c.colour.blueF(), c.b, 1e-4);
        EXPECT_EQ(c.colour.alphaF(), 1.f);
    }
}

TEST(ProseStyleTest, LineHeightsAreMultiplesOfTheReferenceFaceSize)
{
    EXPECT_NEAR(drawnHeight(P::paragraphStyle(LineKind::body), P::bodyFont()), 30.6, 1e-6);
    EXPECT_NEAR(drawnHeight(P::paragraphStyle(LineKind::heading1), P::headingFont()), 34.5, 1e-6);
    EXPECT_NEAR(drawnHeight(P::paragraphStyle(LineKind::code), P::monoFont()), 21, 1e-6);
    EXPECT_NEAR(drawnHeight(P::paragraphStyle(LineKind::blank), P::blankLineFont()), 16.2, 1e-6);

    // Every heading level takes the 30-pixel face's metrics, not its own.
    for (LineKind kind : {LineKind::heading2, LineKind::heading3, LineKind::heading4})
        EXPECT_EQ(P::paragraphStyle(kind), P::paragraphStyle(LineKind::heading1));
    EXPECT_EQ(P::paragraphStyle(LineKind::heading1).spaceBefore, 75);
    EXPECT_EQ(P::paragraphStyle(LineKind::heading1).spaceAfter, 30);

    const P::BlockMetrics quote = P::paragraphStyle(LineKind::quote);
    EXPECT_EQ(quote.firstLineIndent, 20);
    EXPECT_EQ(quote.headIndent, 20);
    EXPECT_EQ(quote.lineHeightMultiple, P::paragraphStyle(LineKind::body).lineHeightMultiple);
}

TEST(ProseStyleTest, TheLeadLineAndListLinesAdjustTheirKindsMetrics)
{
    const QString text = u"Lead\n- item\n    - nested\n"_s;
    const QList<P::StyledLine> lines = P::style(text, 0, text.size());
    ASSERT_EQ(lines.size(), 3);

    const P::BlockMetrics lead = P::blockMetrics(lines[0]);
    EXPECT_EQ(lead.lineHeightMultiple, P::paragraphStyle(LineKind::heading2).lineHeightMultiple);
    EXPECT_EQ(lead.spaceBefore, 0);
    EXPECT_EQ(lead.spaceAfter, 0);

    const P::BlockMetrics item = P::blockMetrics(lines[1]);
    const P::BlockMetrics nested = P::blockMetrics(lines[2]);
    EXPECT_EQ(item.headIndent, P::markerPrefixWidth(u"- "));
    EXPECT_EQ(nested.headIndent, P::markerPrefixWidth(u"    - "));
    EXPECT_GT(nested.headIndent, item.headIndent);
    EXPECT_EQ(item.spaceBefore, 5);
    EXPECT_EQ(item.firstLineIndent, 0);
}

TEST(ProseStyleTest, FormatsOfTheLooks)
{
    const QTextCharFormat fence = P::charFormat({Face::mono, Ink::markerGrey, true});
    EXPECT_EQ(fence.foreground().color(), P::markerGrey());
    EXPECT_EQ(fence.background().color(), P::codeBackground());
    const QTextCharFormat code = P::charFormat({Face::mono, Ink::text, true});
    EXPECT_EQ(code.foreground().color(), P::textColour());
    EXPECT_EQ(code.background().color(), P::codeBackground());
    const QTextCharFormat inlineCode = P::charFormat({Face::mono, Ink::text});
    EXPECT_FALSE(inlineCode.hasProperty(QTextFormat::BackgroundBrush));
    EXPECT_EQ(inlineCode.font().family(), P::monoFont().family());

    const QTextCharFormat heading = P::charFormat({Face::heading});
    EXPECT_FALSE(heading.hasProperty(QTextFormat::ForegroundBrush));
    EXPECT_EQ(heading.font().pixelSize(), 30);

    const QTextCharFormat link = P::charFormat({Face::body, Ink::text, false, true});
    EXPECT_TRUE(link.fontUnderline());
    EXPECT_EQ(link.underlineColor(), P::listMarkerGrey());
    EXPECT_EQ(link.font().pixelSize(), 17);

    EXPECT_EQ(P::bodyFormat().font(), P::bodyFont());
    EXPECT_EQ(P::hiddenFormat().foreground().color().alpha(), 0);
    EXPECT_EQ(P::hiddenMetrics().lineHeightMultiple, 0.01);
}

TEST(ProseStyleTest, TheColumnIsSixtySixZerosWide)
{
    const qreal zero = QFontMetricsF(P::bodyFont()).horizontalAdvance(u"0"_s);
    EXPECT_EQ(P::measure(), std::round(zero * 66) + 48);
    EXPECT_GT(P::measure(), 48);
}

} // namespace
