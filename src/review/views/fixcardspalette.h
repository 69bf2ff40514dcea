#pragma once
// The Fix Cards window's content: the open piece's title, the working rule,
// and its fix cards, open ones first, each row with its texts, meta line and
// the buttons its lane and status allow; an empty state without cards. It
// keeps nothing of its own but the one sheet that may be up, and redraws
// from the library model whenever the open piece or its cards change.

#include "model/postsmodel.h"
#include "review/cardtexts.h"
#include "review/views/cardsheets.h"

#include <QPointer>
#include <QWidget>

class QLabel;
class QPushButton;
class QScrollArea;
class QStackedLayout;
class QVBoxLayout;

namespace review {

class CardRow : public QWidget {
    Q_OBJECT
public:
    using Card = model::PostsModel::Card;

    CardRow(const Card &card, QWidget *parent = nullptr);

    const Card &card() const { return m_card; }
    QLabel *patternLabel() const { return m_pattern; }
    QLabel *metaLabel() const { return m_meta; }
    // The row's buttons by title ("Apply", "Done", "Promote", "Skip"), left to right.
    QList<QPushButton *> buttons() const { return m_buttons; }
    QPushButton *button(const QString &title) const;
    qreal opacity() const;

signals:
    void applyRequested(const Card &card);
    void promoteRequested(const Card &card);
    void closeRequested(const Card &card, Card::Status status);

private:
    Card m_card;
    QLabel *m_pattern;
    QLabel *m_meta;
    QList<QPushButton *> m_buttons;
};

class FixCardsPalette : public QWidget {
    Q_OBJECT
public:
    using Card = model::PostsModel::Card;

    static const QString reminder;

    explicit FixCardsPalette(model::PostsModel &posts, QWidget *parent = nullptr);

    // The open piece's title; none without a piece open.
    std::optional<QString> pieceTitle() const;

    QLabel *titleLabel() const { return m_title; }
    QLabel *reminderLabel() const { return m_reminder; }
    QLabel *listHeader() const { return m_header; }
    QLabel *emptyTitle() const { return m_emptyTitle; }
    QLabel *emptyExplanation() const { return m_emptyExplanation; }
    bool showsList() const;
    const QList<CardRow *> &rows() const { return m_rows; }
    CardRow *row(const QUuid &id) const;
    ApplyAskSheet *applySheet() const { return m_applySheet; }
    PromoteAskSheet *promoteSheet() const { return m_promoteSheet; }

    // The rows' actions: the sheets, and Done and Skip at once.
    void askToApply(const Card &card);
    void askToPromote(const Card &card);

private:
    void refresh();
    void rebuildRows(const QList<Card> &ordered);
    void closeSheets();
    // Opens sheet as the one up, slot following it until it is dismissed.
    template<typename Sheet>
    void present(Sheet *sheet, QPointer<Sheet> &slot);

    model::PostsModel &m_posts;
    QLabel *m_title;
    QLabel *m_reminder;
    QStackedLayout *m_body;
    QScrollArea *m_scroll;
    QWidget *m_empty;
    QLabel *m_header = nullptr;
    QLabel *m_emptyTitle;
    QLabel *m_emptyExplanation;
    QList<CardRow *> m_rows;
    QPointer<ApplyAskSheet> m_applySheet;
    QPointer<PromoteAskSheet> m_promoteSheet;
};

} // namespace review
