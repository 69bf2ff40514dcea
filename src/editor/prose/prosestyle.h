#pragma once
// The look of the prose editor: faces with their fallbacks, colours, the
// block metrics of each line kind, the character formats of the looks the
// styling produces, and the prose column's width. Sizes are pixel sizes.
// Faces and kept values are built once on first use (needs a GUI
// application) and never change afterwards.

#include "editor/prose/prosepresenter.h"

#include <QColor>
#include <QFont>
#include <QTextCharFormat>

namespace editor::ProsePresenter {

// The designed faces are looked up first; on Linux they are usually absent and
// the app's serif ("Charis SIL") and mono ("JetBrains Mono") faces stand in,
// then the system's general and fixed fonts.
const QFont &bodyFont();
const QFont &headingFont();
const QFont &subheadingFont();
const QFont &monoFont();
const QFont &heading3Font();
const QFont &heading4Font();
const QFont &boldFont();
const QFont &italicFont();
const QFont &leadFont();
const QFont &listMarkerFont();
const QFont &blankLineFont();
const QFont &fontOf(Face face); // the body face for Face::none

QColor textColour();
QColor quoteColour();
QColor markerGrey();
QColor codeBackground();
QColor listMarkerGrey();
QColor colourOf(Ink ink);
// The wavy underline of a misspelt word: the palette's brick red.
QColor misspellingColour(); // invalid for Ink::none (the view's default ink)

// What a document layout reads for one block; nothing of it is written into
// the document.
struct BlockMetrics {
    qreal lineHeightMultiple = 1; // of the face's natural line height
    qreal spaceBefore = 0;
    qreal spaceAfter = 0;
    qreal firstLineIndent = 0;
    qreal headIndent = 0; // every line but the first
    bool operator==(const BlockMetrics &) const = default;
};

// m × the reference face's pixel size ÷ its natural height (m itself when that
// height is not above 0): a line in that face stands m × its size tall.
BlockMetrics paragraphStyle(LineKind kind);
// The metrics of a styled line: the lead line takes heading2's without its
// spacing; a list line hangs its wrapped lines under its text.
BlockMetrics blockMetrics(const StyledLine &line);
// Width of a list line's text up to the end of its marker, in the list-marker
// face.
qreal markerPrefixWidth(QStringView prefix);
// What a folded line wears: it takes no room.
const QTextCharFormat &hiddenFormat();
BlockMetrics hiddenMetrics();

QTextCharFormat charFormat(const Look &look);
// The body set: the editor's typing format and the base of a fresh text.
QTextCharFormat bodyFormat();

// The prose column's maximum width: 66 zeros of the body face plus 48.
qreal measure();

} // namespace editor::ProsePresenter
