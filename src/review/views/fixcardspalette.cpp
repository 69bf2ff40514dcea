#include "review/views/fixcardspalette.h"

#include "chrome/palette.h"
#include "chrome/workspacechrome.h"
#include "review/views/cardsheets.h"

#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedLayout>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace review {

using app::Palette;

namespace {

constexpr qreal closedOpacity = 0.45;

// A card with a pencil and an ellipsis: the glyph before a card's pattern.
QPixmap cardGlyph(const QColor &colour, qreal ratio)
{
    const int size = 14;
    QPixmap pixmap(QSize(size, size) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(colour, 1.2));
    painter.drawRoundedRect(QRectF(1, 3, 12, 9), 2, 2);
    painter.setBrush(colour);
    painter.setPen(Qt::NoPen);
    for (int i = 0; i < 3; ++i)
        painter.drawEllipse(QPointF(4 + i * 2.5, 9.2), 0.8, 0.8);
    painter.setPen(QPen(colour, 1.4, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(5, 6.5), QPointF(10.5, 6.5));
    return pixmap;
}

QPushButton *rowButton(const QString &title, bool borderless)
{
    auto *button = new QPushButton(title);
    button->setAutoDefault(false);
    if (borderless) {
        button->setFlat(true);
        button->setFont(monoFont(11));
    } else {
        app::BorderedSecondaryButtonStyle::apply(button, 22);
    }
    return button;
}

} // namespace

CardRow::CardRow(const Card &card, QWidget *parent) : QWidget(parent), m_card(card), m_pattern(nullptr), m_meta(nullptr)
{
    const bool open = card.status == Card::Status::open;
    const bool stale = card.anchorStatus == Card::AnchorStatus::stale;
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto *fill = new RoundedFill(8);
    outer->addWidget(fill);
    auto *column = new QVBoxLayout(fill);
    column->setContentsMargins(10, 10, 10, 10);
    column->setSpacing(6);

    const QColor patternColour = stale ? orange() : Palette::ink();
    auto *label = new QWidget;
    auto *labelRow = new QHBoxLayout(label);
    labelRow->setContentsMargins(0, 0, 0, 0);
    labelRow->setSpacing(6);
    auto *glyph = new QLabel;
    glyph->setPixmap(cardGlyph(patternColour, devicePixelRatioF()));
    labelRow->addWidget(glyph, 0, Qt::AlignTop);
    m_pattern = wrappedLabel(card.pattern, calloutFont(QFont::DemiBold), patternColour);
    m_pattern->setObjectName(u"pattern"_s);
    labelRow->addWidget(m_pattern, 1);
    column->addWidget(label);
    if (!card.problem.isEmpty())
        column->addWidget(wrappedLabel(card.problem, calloutFont(), Palette::ink()));
    if (!card.fix.isEmpty())
        column->addWidget(wrappedLabel(u"Fix: "_s + card.fix, calloutFont(), Palette::ink()));
    m_meta = wrappedLabel(CardTexts::metaLine(card), monoFont(11), stale ? orange() : Palette::inkMuted());
    m_meta->setObjectName(u"meta"_s);
    column->addWidget(m_meta);

    const QList<CardTexts::Button> buttons = CardTexts::rowButtons(card);
    if (!buttons.isEmpty()) {
        auto *row = new QHBoxLayout;
        row->setSpacing(8);
        row->addStretch(1);
        for (CardTexts::Button which : buttons) {
            QPushButton *button = nullptr;
            switch (which) {
            case CardTexts::Button::apply:
                button = rowButton(u"Apply"_s, false);
                connect(button, &QPushButton::clicked, this, [this] { emit applyRequested(m_card); });
                break;
            case CardTexts::Button::done:
                button = rowButton(u"Done"_s, false);
                connect(button, &QPushButton::clicked, this,
                        [this] { emit closeRequested(m_card, Card::Status::done); });
                break;
            case CardTexts::Button::promote:
                button = rowButton(u"Promote"_s, false);
                connect(button, &QPushButton::clicked, this, [this] { emit promoteRequested(m_card); });
                break;
            case CardTexts::Button::skip:
                button = rowButton(u"Skip"_s, true);
                connect(button, &QPushButton::clicked, this,
                        [this] { emit closeRequested(m_card, Card::Status::skipped); });
                break;
            }
            row->addWidget(button, 0, Qt::AlignVCenter);
            m_buttons.append(button);
        }
        column->addLayout(row);
    }
    if (!open) {
        auto *effect = new QGraphicsOpacityEffect(this);
        effect->setOpacity(closedOpacity);
        setGraphicsEffect(effect);
    }
}

QPushButton *CardRow::button(const QString &title) const
{
    for (QPushButton *button : m_buttons) {
        if (button->text() == title)
            return button;
    }
    return nullptr;
}

qreal CardRow::opacity() const
{
    const auto *effect = qobject_cast<QGraphicsOpacityEffect *>(graphicsEffect());
    return effect ? effect->opacity() : 1.0;
}

const QString FixCardsPalette::reminder = u"apply = ask-before \u00b7 one card at a time"_s;

FixCardsPalette::FixCardsPalette(model::PostsModel &posts, QWidget *parent)
    : QWidget(parent), m_posts(posts), m_title(wrappedLabel({}, headlineFont(), Palette::ink())),
      m_reminder(app::plainLabel(reminder, monoFont(11), Palette::inkMuted())), m_body(new QStackedLayout),
      m_scroll(new QScrollArea), m_empty(new QWidget),
      m_emptyTitle(wrappedLabel(u"No piece open."_s, headlineFont(), Palette::ink())),
      m_emptyExplanation(
          wrappedLabel(u"Open a post \u2014 its fix cards collect here."_s, calloutFont(), Palette::inkMuted()))
{
    app::fillBackground(this, Palette::canvas());
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    m_title->setObjectName(u"pieceTitle"_s);
    m_title->setContentsMargins(12, 12, 12, 4);
    column->addWidget(m_title);
    m_reminder->setObjectName(u"reminder"_s);
    m_reminder->setContentsMargins(12, 0, 12, 10);
    column->addWidget(m_reminder);
    column->addLayout(m_body, 1);

    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setWidgetResizable(true);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_body->addWidget(m_scroll);

    auto *empty = new QVBoxLayout(m_empty);
    empty->setContentsMargins(12, 12, 12, 12);
    empty->setSpacing(6);
    m_emptyTitle->setObjectName(u"emptyTitle"_s);
    m_emptyExplanation->setObjectName(u"emptyExplanation"_s);
    empty->addWidget(m_emptyTitle);
    empty->addWidget(m_emptyExplanation);
    empty->addStretch(1);
    m_body->addWidget(m_empty);

    connect(&m_posts, &model::PostsModel::openPieceCardsChanged, this, &FixCardsPalette::refresh);
    connect(&m_posts, &model::PostsModel::sessionChanged, this, &FixCardsPalette::refresh);
    connect(&m_posts, &model::PostsModel::postsChanged, this, &FixCardsPalette::refresh);
    refresh();
}

std::optional<QString> FixCardsPalette::pieceTitle() const
{
    const model::EditorSession *session = m_posts.session();
    if (!session || session->target().kind() != model::SessionTarget::Kind::post)
        return std::nullopt;
    return m_posts.displayTitle(session->target().id());
}

bool FixCardsPalette::showsList() const
{
    return m_body->currentWidget() == m_scroll;
}

CardRow *FixCardsPalette::row(const QUuid &id) const
{
    for (CardRow *row : m_rows) {
        if (row->card().id == id)
            return row;
    }
    return nullptr;
}

void FixCardsPalette::refresh()
{
    const std::optional<QString> title = pieceTitle();
    m_title->setText(title.value_or(QString()));
    m_title->setVisible(title.has_value());
    const QList<Card> &cards = m_posts.openPieceCards();
    m_reminder->setVisible(!cards.isEmpty());
    if (cards.isEmpty()) {
        rebuildRows({});
        m_emptyTitle->setText(title ? u"No fix cards yet."_s : u"No piece open."_s);
        m_emptyExplanation->setText(title ? u"Run a pass \u2014 cards land here as the mentor files them."_s
                                          : u"Open a post \u2014 its fix cards collect here."_s);
        m_body->setCurrentWidget(m_empty);
        return;
    }
    rebuildRows(CardTexts::orderedCards(cards));
    m_header->setText(CardTexts::listHeader(cards));
    m_body->setCurrentWidget(m_scroll);
}

void FixCardsPalette::rebuildRows(const QList<Card> &ordered)
{
    // Rows are cheap and redrawn whole; the reading place is kept.
    const int scrolled = m_scroll->verticalScrollBar()->value();
    m_rows.clear();
    m_header = nullptr;
    if (QWidget *old = m_scroll->takeWidget())
        old->deleteLater();
    if (ordered.isEmpty())
        return;
    auto *list = new QWidget;
    app::fillBackground(list, Palette::canvas());
    auto *stack = new QVBoxLayout(list);
    stack->setContentsMargins(12, 12, 12, 12);
    stack->setSpacing(8);
    m_header = app::plainLabel({}, monoFont(11), Palette::inkMuted());
    m_header->setObjectName(u"listHeader"_s);
    stack->addWidget(m_header);
    for (const Card &card : ordered) {
        auto *row = new CardRow(card);
        connect(row, &CardRow::applyRequested, this, &FixCardsPalette::askToApply);
        connect(row, &CardRow::promoteRequested, this, &FixCardsPalette::askToPromote);
        connect(row, &CardRow::closeRequested, this,
                [this](const Card &c, Card::Status status) { m_posts.closeCard(c, status); });
        stack->addWidget(row);
        m_rows.append(row);
    }
    stack->addStretch(1);
    m_scroll->setWidget(list);
    m_scroll->verticalScrollBar()->setValue(scrolled);
}

void FixCardsPalette::closeSheets()
{
    if (m_applySheet)
        m_applySheet->reject();
    if (m_promoteSheet)
        m_promoteSheet->reject();
}

template<typename Sheet>
void FixCardsPalette::present(Sheet *sheet, QPointer<Sheet> &slot)
{
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    // Dismissed is gone for the row, though the sheet is deleted later.
    connect(sheet, &QDialog::finished, this, [sheet, &slot] {
        if (slot == sheet)
            slot = nullptr;
    });
    slot = sheet;
    sheet->open();
}

void FixCardsPalette::askToApply(const Card &card)
{
    closeSheets();
    present(new ApplyAskSheet(card, m_posts, this), m_applySheet);
}

void FixCardsPalette::askToPromote(const Card &card)
{
    closeSheets();
    present(new PromoteAskSheet(card, m_posts, this), m_promoteSheet);
}

} // namespace review
