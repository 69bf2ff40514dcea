#pragma once
// What the fix-cards window says about a card, worked out without a window:
// the order of the list, its header, a row's meta line and buttons, and the
// texts of the apply and promote sheets.

#include "library/post.h"
#include "review/fixcardstore.h"

#include <QList>
#include <QString>
#include <functional>
#include <optional>

namespace review::CardTexts {

using Card = FixCardStore::StoredFixCard;

// Open cards first, then the others, each group in the order given.
QList<Card> orderedCards(const QList<Card> &cards);

// "FIX CARDS · N", with " open" after the count unless every card is open.
QString listHeader(const QList<Card> &cards);

// Rank, pass, lane, emitter, then what the card's state adds; " · " between.
QString metaLine(const Card &card);

enum class Button { apply, done, promote, skip };
// A row's buttons, left to right; empty when the row has none.
QList<Button> rowButtons(const Card &card);

// "Anchored", or "Anchored · occurrence N" from the second occurrence on.
QString anchorCaption(qint64 occurrence);
// The replacement block's text; an empty fix cuts the span.
QString replacementText(const QString &fix);

// The kind of piece whose Passes will consult a learning: "Outlines",
// "Posts", or "pieces" when the open piece's type is unknown.
QString kindLabel(std::optional<library::Post::ContentType> openPieceType);
// Where the card came from: the piece's title, its Pass, engine and date,
// those present joined by " · "; empty without a provenance.
QString provenanceLine(const Card &card, const std::function<QString(const QString &pieceID)> &displayTitle);

} // namespace review::CardTexts
