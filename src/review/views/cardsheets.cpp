#include "review/views/cardsheets.h"

#include "chrome/palette.h"
#include "chrome/workspacechrome.h"
#include "review/cardtexts.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace review {

using app::Palette;
using app::Typeface;

namespace {

constexpr int sheetWidth = 320;
constexpr int sheetPadding = 16;
constexpr int columnWidth = sheetWidth - 2 * sheetPadding;
// Taller content scrolls inside the sheet.
constexpr int scrollMaxHeight = 380;

// A caption over a selectable block of monospaced text.
QWidget *monoBlock(const QString &caption, const QString &text)
{
    auto *block = new QWidget;
    auto *column = new QVBoxLayout(block);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(4);
    column->addWidget(app::plainLabel(caption, monoFont(11), Palette::inkMuted()));
    auto *box = new RoundedFill(6);
    auto *boxLayout = new QVBoxLayout(box);
    boxLayout->setContentsMargins(8, 8, 8, 8);
    QLabel *body = wrappedLabel(text, monoFont(12), Palette::ink());
    body->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    boxLayout->addWidget(body);
    column->addWidget(box);
    return block;
}

QHBoxLayout *trailingRow()
{
    auto *row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    row->addStretch(1);
    return row;
}

} // namespace

QFont headlineFont()
{
    return Typeface::font(QFont().family(), 14, QFont::DemiBold);
}

QFont calloutFont(QFont::Weight weight)
{
    return Typeface::font(QFont().family(), 13, weight);
}

QFont monoFont(int pixelSize)
{
    return Typeface::font(Typeface::mono(), pixelSize);
}

QColor orange()
{
    return Palette::systemOrange();
}

QLabel *wrappedLabel(const QString &text, const QFont &font, const QColor &colour)
{
    QLabel *label = app::plainLabel(text, font, colour);
    label->setWordWrap(true);
    return label;
}

RoundedFill::RoundedFill(int radius, QWidget *parent) : QFrame(parent), m_radius(radius) {}

void RoundedFill::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor fill = Palette::inkMuted();
    fill.setAlphaF(0.09);
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()), m_radius, m_radius);
    painter.fillPath(path, fill);
    QFrame::paintEvent(event);
}

CardSheet::CardSheet(const Card &card, model::PostsModel &posts, const QString &actionTitle, QWidget *parent)
    : QDialog(parent), m_card(card), m_posts(posts), m_asking(new QWidget), m_scroll(new QScrollArea),
      m_column(new QWidget), m_content(new QVBoxLayout(m_column)), m_refusal(new QLabel),
      m_action(app::prominentButton(actionTitle)), m_cancel(app::borderedButton(u"Cancel"_s))
{
    setWindowModality(Qt::WindowModal);
    setFixedWidth(sheetWidth);
    app::fillBackground(this, Palette::canvas());
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(sheetPadding, sheetPadding, sheetPadding, sheetPadding);
    outer->setSpacing(12);
    outer->setSizeConstraint(QLayout::SetFixedSize);
    outer->addWidget(m_asking);

    auto *asking = new QVBoxLayout(m_asking);
    asking->setContentsMargins(0, 0, 0, 0);
    asking->setSpacing(12);
    m_content->setContentsMargins(0, 0, 0, 0);
    m_content->setSpacing(12);
    m_column->setFixedWidth(columnWidth);
    app::fillBackground(m_column, Palette::canvas());
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setWidget(m_column);
    m_scroll->setFixedWidth(columnWidth);
    asking->addWidget(m_scroll);

    m_refusal->setTextFormat(Qt::PlainText);
    m_refusal->setWordWrap(true);
    m_refusal->setFont(calloutFont());
    QPalette refusalPalette = m_refusal->palette();
    refusalPalette.setColor(QPalette::WindowText, orange());
    m_refusal->setPalette(refusalPalette);
    m_refusal->setObjectName(u"refusal"_s);
    m_refusal->hide();

    QHBoxLayout *buttons = trailingRow();
    buttons->addWidget(m_action);
    buttons->addWidget(m_cancel);
    asking->addLayout(buttons);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);

    // The window is apart from the piece: once the open piece's cards no
    // longer hold this card, there is nothing left to ask about.
    connect(&m_posts, &model::PostsModel::openPieceCardsChanged, this, [this] {
        const QList<Card> &cards = m_posts.openPieceCards();
        if (std::none_of(cards.begin(), cards.end(), [this](const Card &c) { return c.id == m_card.id; }))
            reject();
    });
}

QString CardSheet::refusal() const
{
    return m_refusal->text();
}

void CardSheet::finishContent()
{
    m_content->addWidget(m_refusal);
    fitScroll();
}

void CardSheet::showRefusal(const QString &text)
{
    m_refusal->setText(text);
    m_refusal->show();
    fitScroll();
    m_scroll->verticalScrollBar()->setValue(m_scroll->verticalScrollBar()->maximum());
}

void CardSheet::fitScroll()
{
    const int height = m_content->totalHeightForWidth(columnWidth);
    m_column->setFixedHeight(height);
    m_scroll->setFixedHeight(std::min(height, scrollMaxHeight));
}

const QString ApplyAskSheet::staleMessage =
    u"The text changed since this card was issued \u2014 nothing was selected or changed."_s;

ApplyAskSheet::ApplyAskSheet(const Card &card, model::PostsModel &posts, QWidget *parent)
    : CardSheet(card, posts, u"Apply"_s, parent), m_stalePart(new QWidget), m_close(new QPushButton(u"Close"_s))
{
    setWindowTitle(u"Apply Fix"_s);
    content()->addWidget(wrappedLabel(card.pattern, headlineFont(), Palette::ink()));
    content()->addWidget(monoBlock(CardTexts::anchorCaption(card.anchor.occurrence), card.anchor.quote));
    if (card.anchor.context)
        content()->addWidget(wrappedLabel(*card.anchor.context, monoFont(11), Palette::inkMuted()));
    content()->addWidget(monoBlock(u"Replacement"_s, CardTexts::replacementText(card.fix)));
    content()->addWidget(
        wrappedLabel(u"Apply writes this edit to the piece \u00b7 ask-before"_s, monoFont(11), Palette::inkMuted()));
    finishContent();

    auto *stale = new QVBoxLayout(m_stalePart);
    stale->setContentsMargins(0, 0, 0, 0);
    stale->setSpacing(12);
    QLabel *message = wrappedLabel(staleMessage, calloutFont(), Palette::ink());
    message->setObjectName(u"staleMessage"_s);
    message->setFixedWidth(columnWidth);
    stale->addWidget(message);
    QHBoxLayout *closeRow = trailingRow();
    m_close->setAutoDefault(false);
    closeRow->addWidget(m_close);
    stale->addLayout(closeRow);
    layout()->addWidget(m_stalePart);
    m_stalePart->hide();

    connect(applyButton(), &QPushButton::clicked, this, &ApplyAskSheet::applyCard);
    connect(m_close, &QPushButton::clicked, this, &QDialog::reject);
}

void ApplyAskSheet::applyCard()
{
    using Case = model::PostsModel::ApplyOutcome::Case;
    const model::PostsModel::ApplyOutcome outcome = posts().applyCard(card());
    switch (outcome.which) {
    case Case::applied: accept(); return;
    case Case::wentStale:
        m_wentStale = true;
        askingPart()->hide();
        m_stalePart->show();
        return;
    case Case::refused: showRefusal(outcome.message); return;
    }
}

PromoteAskSheet::PromoteAskSheet(const Card &card, model::PostsModel &posts, QWidget *parent)
    : CardSheet(card, posts, u"Promote"_s, parent)
{
    setWindowTitle(u"Promote to Learnings"_s);
    content()->addWidget(wrappedLabel(u"Promote to Learnings?"_s, headlineFont(), Palette::ink()));
    content()->addWidget(wrappedLabel(u"This pattern will be consulted on future Passes for "_s + kindLabel(posts)
                                          + u". "_s + u"Pennora will write one plain markdown Learning."_s,
                                      calloutFont(), Palette::ink()));

    auto *box = new RoundedFill(6);
    box->setObjectName(u"cardBox"_s);
    auto *boxColumn = new QVBoxLayout(box);
    boxColumn->setContentsMargins(8, 8, 8, 8);
    boxColumn->setSpacing(6);
    boxColumn->addWidget(wrappedLabel(card.pattern, calloutFont(QFont::DemiBold), Palette::ink()));
    if (!card.problem.isEmpty())
        boxColumn->addWidget(wrappedLabel(card.problem, calloutFont(), Palette::ink()));
    if (!card.diagnosticQuestion.isEmpty())
        boxColumn->addWidget(wrappedLabel(card.diagnosticQuestion, calloutFont(), Palette::ink()));
    if (card.lane == Card::Lane::demonstration && !card.fix.isEmpty())
        boxColumn->addWidget(wrappedLabel(u"Example: "_s + card.fix, calloutFont(), Palette::ink()));
    const QString provenance =
        CardTexts::provenanceLine(card, [&posts](const QString &id) { return posts.displayTitle(id); });
    if (!provenance.isEmpty())
        boxColumn->addWidget(wrappedLabel(provenance, monoFont(11), Palette::inkMuted()));
    content()->addWidget(box);
    finishContent();

    connect(promoteButton(), &QPushButton::clicked, this, &PromoteAskSheet::promote);
}

QString PromoteAskSheet::kindLabel(const model::PostsModel &posts)
{
    std::optional<library::Post::ContentType> type;
    const model::EditorSession *session = posts.session();
    if (session && session->target().kind() == model::SessionTarget::Kind::post) {
        const QString id = session->target().id();
        for (const library::Post &post : posts.posts()) {
            if (post.id == id) {
                type = post.type;
                break;
            }
        }
    }
    return CardTexts::kindLabel(type);
}

void PromoteAskSheet::promote()
{
    if (const std::optional<QString> refusal = posts().promoteCard(card()))
        showRefusal(*refusal);
    else
        accept();
}

} // namespace review
