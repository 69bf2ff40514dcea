#pragma once
// The two questions a fix card asks before it changes anything: the apply
// sheet shows the anchored span and its replacement, the promote sheet the
// card as it will be remembered. Each holds its own copy of the card, hands
// it to the library model, shows a refusal in orange and stays for another
// try, and closes itself once the card has left the open piece's cards.

#include "model/postsmodel.h"

#include <QColor>
#include <QDialog>
#include <QFont>
#include <QFrame>

class QLabel;
class QPushButton;
class QScrollArea;
class QVBoxLayout;

namespace review {

// The text styles of the fix-cards window.
QFont headlineFont();
QFont calloutFont(QFont::Weight weight = QFont::Normal);
QFont monoFont(int pixelSize);
QColor orange();
// A plain-text label that wraps.
QLabel *wrappedLabel(const QString &text, const QFont &font, const QColor &colour);

// A frame filled with a faint rounded rectangle: the rows and blocks of the
// fix-cards window.
class RoundedFill : public QFrame {
    Q_OBJECT
public:
    explicit RoundedFill(int radius, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int m_radius;
};

class CardSheet : public QDialog {
    Q_OBJECT
public:
    using Card = model::PostsModel::Card;

    const Card &card() const { return m_card; }
    // The last refusal, empty before one.
    QString refusal() const;

protected:
    CardSheet(const Card &card, model::PostsModel &posts, const QString &actionTitle, QWidget *parent);
    // Fills the scrolled column, then sizes the sheet to it.
    void finishContent();
    void showRefusal(const QString &text);
    QVBoxLayout *content() const { return m_content; }
    QPushButton *actionButton() const { return m_action; }
    QPushButton *cancelButtonOf() const { return m_cancel; }
    QWidget *askingPart() const { return m_asking; }
    model::PostsModel &posts() const { return m_posts; }

private:
    void fitScroll();

    Card m_card;
    model::PostsModel &m_posts;
    QWidget *m_asking;
    QScrollArea *m_scroll;
    QWidget *m_column;
    QVBoxLayout *m_content;
    QLabel *m_refusal;
    QPushButton *m_action;
    QPushButton *m_cancel;
};

class ApplyAskSheet : public CardSheet {
    Q_OBJECT
public:
    static const QString staleMessage;

    ApplyAskSheet(const Card &card, model::PostsModel &posts, QWidget *parent = nullptr);

    // Hands the card to the library model: closes when applied, shows the
    // stale message when its anchor was gone, else the refusal.
    void applyCard();
    bool wentStale() const { return m_wentStale; }

    QPushButton *applyButton() const { return actionButton(); }
    QPushButton *cancelButton() const { return cancelButtonOf(); }
    QPushButton *closeButton() const { return m_close; }

private:
    QWidget *m_stalePart;
    QPushButton *m_close;
    bool m_wentStale = false;
};

class PromoteAskSheet : public CardSheet {
    Q_OBJECT
public:
    PromoteAskSheet(const Card &card, model::PostsModel &posts, QWidget *parent = nullptr);

    // The kind of piece whose Passes will read the learning.
    static QString kindLabel(const model::PostsModel &posts);
    // Hands the card to the library model: closes on success, else shows
    // the refusal.
    void promote();

    QPushButton *promoteButton() const { return actionButton(); }
    QPushButton *cancelButton() const { return cancelButtonOf(); }
};

} // namespace review
