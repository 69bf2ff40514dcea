#include "review/cardtexts.h"

namespace review::CardTexts {

using namespace Qt::StringLiterals;

namespace {

const QString separator = u" \u00b7 "_s;

bool isOpen(const Card &card)
{
    return card.status == Card::Status::open;
}

bool isStale(const Card &card)
{
    return card.anchorStatus == Card::AnchorStatus::stale;
}

} // namespace

QList<Card> orderedCards(const QList<Card> &cards)
{
    QList<Card> ordered;
    ordered.reserve(cards.size());
    for (const Card &card : cards) {
        if (isOpen(card))
            ordered.append(card);
    }
    for (const Card &card : cards) {
        if (!isOpen(card))
            ordered.append(card);
    }
    return ordered;
}

QString listHeader(const QList<Card> &cards)
{
    const qsizetype open = std::count_if(cards.begin(), cards.end(), isOpen);
    QString header = u"FIX CARDS \u00b7 "_s + QString::number(open);
    if (open < cards.size())
        header += u" open"_s;
    return header;
}

QString metaLine(const Card &card)
{
    QString line = card.lane.rawValue() + separator + card.emitter.rawValue();
    if (card.provenance && card.provenance->pass)
        line = u"pass "_s + QString::number(*card.provenance->pass) + separator + line;
    if (card.rank)
        line = u"#"_s + QString::number(*card.rank) + separator + line;
    if (isStale(card))
        line += separator + u"stale anchor"_s;
    if (!isOpen(card))
        line += separator + card.status.rawValue();
    else if (!isStale(card) && card.lane == Card::Lane::mechanical)
        line += separator + u"apply \u00b7 ask-before"_s;
    if (card.promotedAt)
        line += separator + u"promoted"_s;
    return line;
}

QList<Button> rowButtons(const Card &card)
{
    QList<Button> buttons;
    if (isOpen(card) && !isStale(card))
        buttons.append(card.lane == Card::Lane::demonstration ? Button::done : Button::apply);
    if (!card.promotedAt)
        buttons.append(Button::promote);
    if (isOpen(card))
        buttons.append(Button::skip);
    return buttons;
}

QString anchorCaption(qint64 occurrence)
{
    if (occurrence < 2)
        return u"Anchored"_s;
    return u"Anchored \u00b7 occurrence "_s + QString::number(occurrence);
}

QString replacementText(const QString &fix)
{
    return fix.isEmpty() ? u"(cut \u2014 the span is removed)"_s : fix;
}

QString kindLabel(std::optional<library::Post::ContentType> openPieceType)
{
    if (!openPieceType)
        return u"pieces"_s;
    return *openPieceType == library::Post::ContentType::outline ? u"Outlines"_s : u"Posts"_s;
}

QString provenanceLine(const Card &card, const std::function<QString(const QString &pieceID)> &displayTitle)
{
    if (!card.provenance)
        return {};
    const Card::Provenance &from = *card.provenance;
    QStringList parts{displayTitle(from.piece)};
    if (from.pass)
        parts.append(u"Pass "_s + QString::number(*from.pass));
    if (from.engine)
        parts.append(*from.engine);
    if (from.date)
        parts.append(*from.date);
    return parts.join(separator);
}

} // namespace review::CardTexts
