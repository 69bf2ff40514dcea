#pragma once
// The fix cards of the open piece: listed off the main thread whenever the
// open piece changes, and applied, closed or promoted one at a time. Owned by
// PostsModel, which publishes its state.

#include "review/fixcardstore.h"

#include <QList>
#include <QString>
#include <functional>
#include <optional>

namespace model {

class PostsModel;

class OpenPieceCards {
public:
    using Card = review::FixCardStore::StoredFixCard;

    // The answer of applying a card.
    struct ApplyOutcome {
        enum class Case { applied, wentStale, refused };
        Case which = Case::refused;
        QString message; // refused only
        static ApplyOutcome applied() { return {Case::applied, {}}; }
        static ApplyOutcome wentStale() { return {Case::wentStale, {}}; }
        static ApplyOutcome refused(QString message) { return {Case::refused, std::move(message)}; }
        bool operator==(const ApplyOutcome &) const = default;
    };

    explicit OpenPieceCards(PostsModel &model) : m_model(model) {}
    OpenPieceCards(const OpenPieceCards &) = delete;
    OpenPieceCards &operator=(const OpenPieceCards &) = delete;

    const QList<Card> &cards() const { return m_cards; }
    bool hasSnapshot() const { return m_hasSnapshot; }
    void setCards(const QList<Card> &cards);
    void setHasSnapshot(bool value);

    // Lists the open piece's cards again; none without an open piece.
    void refresh();
    ApplyOutcome apply(const Card &card);
    void close(const Card &card, Card::Status status);
    std::optional<QString> promote(const Card &card);

private:
    // Rewrites the card's status on disk after re-reading it there.
    void rewriteStatus(const Card &card, const std::function<void(Card &)> &change);

    PostsModel &m_model;
    QList<Card> m_cards;
    bool m_hasSnapshot = false;
    // Numbers of the refreshes started and last applied.
    quint64 m_refreshesStarted = 0;
    quint64 m_refreshApplied = 0;
};

} // namespace model
