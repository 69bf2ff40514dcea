#include "engine/views/transcriptrows.h"

#include "chrome/busyindicator.h"
#include "chrome/palette.h"
#include "chrome/workspacechrome.h"
#include "engine/inlinemarkdown.h"
#include "engine/transcriptrules.h"

#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace engine {

using app::Palette;
using Kind = SessionRow::NoticeKind;
using Speaker = SessionRow::Speaker;
using Disposition = review::ResearchCandidate::Disposition;

namespace TranscriptLook {

namespace {
QFont named(const char *name, QFont::StyleHint hint, int pixelSize, QFont::Weight weight)
{
    return app::Typeface::font(app::Typeface::resolve(QString::fromLatin1(name), hint), pixelSize, weight);
}
} // namespace

QFont valkyrie(int pixelSize)
{
    return named("ValkyrieOTBRegular", QFont::Serif, pixelSize, QFont::Normal);
}
QFont concourse(int pixelSize)
{
    return named("ConcourseOT3Book", QFont::SansSerif, pixelSize, QFont::Normal);
}
QFont mono(int pixelSize, QFont::Weight weight)
{
    return named("UbuntuMonoNFM", QFont::Monospace, pixelSize, weight);
}

QColor faded(const QColor &colour, qreal opacity)
{
    QColor c = colour;
    c.setAlphaF(float(opacity));
    return c;
}

} // namespace TranscriptLook

using namespace TranscriptLook;

namespace {

// A selectable label; rich only for text we built and escaped ourselves.
QLabel *textLabel(const QString &text, const QFont &font, const QColor &colour, bool rich, int lineSpacing)
{
    auto *label = new QLabel;
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    palette.setColor(QPalette::Link, Palette::accent());
    label->setPalette(palette);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse
                                   | (rich ? Qt::LinksAccessibleByMouse : Qt::NoTextInteraction));
    label->setOpenExternalLinks(false);
    label->setTextFormat(rich ? Qt::RichText : Qt::PlainText);
    if (rich) {
        // Qt's HTML import colours links from the application's palette, not
        // the label's: say the accent on each link.
        QString html = text;
        html.replace(u"<a href="_s, u"<a style=\"color:%1\" href="_s.arg(Palette::accent().name()));
        label->setText(u"<div style=\"line-height:%1px\">"_s.arg(QFontMetrics(font).height() + lineSpacing) + html
                       + u"</div>"_s);
    } else
        label->setText(text);
    label->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    return label;
}

QVBoxLayout *boxLayout(QWidget *box, int horizontal, int vertical, int spacing = 0)
{
    auto *layout = new QVBoxLayout(box);
    layout->setContentsMargins(horizontal, vertical, horizontal, vertical);
    layout->setSpacing(spacing);
    return layout;
}

// One widget holding a single child, with top padding.
QVBoxLayout *rowLayout(QWidget *row)
{
    auto *layout = new QVBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    return layout;
}

// A small painted mark: the warning triangle or the fix-card pencil.
class Mark : public QWidget {
public:
    enum class Kind { warning, card };
    Mark(Kind kind, QColor colour) : m_kind(kind), m_colour(colour) { setFixedSize(12, 14); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(m_colour, 1.2));
        if (m_kind == Kind::warning) {
            QPainterPath path;
            path.moveTo(6, 2);
            path.lineTo(11.5, 12);
            path.lineTo(0.5, 12);
            path.closeSubpath();
            p.drawPath(path);
            p.drawLine(QPointF(6, 5.5), QPointF(6, 8.5));
            p.drawPoint(QPointF(6, 10.3));
        } else {
            p.drawRoundedRect(QRectF(0.5, 3.5, 11, 8), 1.5, 1.5);
            p.drawLine(QPointF(3, 9), QPointF(9, 6));
        }
    }

private:
    Kind m_kind;
    QColor m_colour;
};

class AgentReplyRow : public TranscriptRowWidget {
public:
    AgentReplyRow(const SessionRow &row, const QString &text, const RowContext &context, QWidget *parent)
        : TranscriptRowWidget(row.id, parent)
    {
        QLabel *label = textLabel(InlineMarkdown::html(text), valkyrie(15), Palette::ink(), true, 5);
        label->setObjectName(u"agentReply"_s);
        if (context.openLink)
            connect(label, &QLabel::linkActivated, this,
                    [open = context.openLink](const QString &link) { open(QUrl(link)); });
        rowLayout(this)->addWidget(label);
    }
};

class UserMessageRow : public TranscriptRowWidget {
public:
    UserMessageRow(const SessionRow &row, const QString &text, const RowContext &context, QWidget *parent)
        : TranscriptRowWidget(row.id, parent)
    {
        m_bubble = new RoundedBox(12, faded(Palette::accent(), 0.14));
        m_bubble->setSharpBottomRight(2);
        m_label = textLabel(text, concourse(14), Palette::ink(), false, 4);
        m_label->setObjectName(u"userMessage"_s);
        boxLayout(m_bubble, 16, 12)->addWidget(m_label);
        auto *layout = new QHBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addStretch(1);
        layout->addWidget(m_bubble);
        setPaneWidth(context.paneWidth);
    }
    void setPaneWidth(double paneWidth) override
    {
        // As wide as its longest line, up to the bubble's limit; then it wraps.
        const QFontMetrics metrics(m_label->font());
        int longest = 0;
        for (const QString &line : m_label->text().split(u'\n'))
            longest = std::max(longest, metrics.horizontalAdvance(line));
        const int limit = int(TranscriptRules::userBubbleMaxWidth(paneWidth));
        m_bubble->setFixedWidth(std::min(limit, longest + 32 + 2));
    }

private:
    RoundedBox *m_bubble;
    QLabel *m_label;
};

class NoticeRow : public TranscriptRowWidget {
public:
    NoticeRow(const SessionRow &row, const QString &text, QWidget *parent) : TranscriptRowWidget(row.id, parent)
    {
        auto *box = new RoundedBox(10, faded(Palette::ink(), 0.06));
        QLabel *label = textLabel(text, mono(11), Palette::inkMuted(), false, 5);
        label->setObjectName(u"notice"_s);
        boxLayout(box, 12, 10)->addWidget(label);
        rowLayout(this)->addWidget(box);
    }
};

class WarningRow : public TranscriptRowWidget {
public:
    WarningRow(const SessionRow &row, const QString &text, const RowContext &context, QWidget *parent)
        : TranscriptRowWidget(row.id, parent)
    {
        const TranscriptRules::Warning warning = TranscriptRules::splitWarning(text);
        m_box = new RoundedBox(10, {});
        auto *line = new QHBoxLayout;
        line->setSpacing(8);
        line->addWidget(new Mark(Mark::Kind::warning, Palette::accent()), 0, Qt::AlignTop);
        auto *texts = new QVBoxLayout;
        texts->setSpacing(3);
        QLabel *headline = textLabel(warning.headline, mono(12, QFont::DemiBold), Palette::accent(), false, 0);
        headline->setObjectName(u"warningHeadline"_s);
        texts->addWidget(headline);
        if (warning.detail) {
            QLabel *detail = textLabel(*warning.detail, mono(12), Palette::inkMuted(), false, 0);
            detail->setObjectName(u"warningDetail"_s);
            texts->addWidget(detail);
        }
        line->addLayout(texts, 1);
        auto *inner = boxLayout(m_box, 12, 10);
        inner->addLayout(line);
        m_layout = rowLayout(this);
        m_layout->addWidget(m_box);
        setAccessibleName(warning.headline + (warning.detail ? u" "_s + *warning.detail : QString()));
        setEmphasized(context.emphasized, context.previous);
    }
    void setEmphasized(bool emphasized, const SessionRow *previous) override
    {
        setProperty("emphasized", emphasized);
        m_box->setFill(emphasized ? faded(Palette::accent(), 0.09) : faded(Palette::ink(), 0.06));
        m_box->setBorder(emphasized ? Palette::accent() : QColor());
        m_layout->setContentsMargins(0, TranscriptRules::noticeTopPadding(emphasized, previous), 0, 0);
    }

private:
    RoundedBox *m_box;
    QVBoxLayout *m_layout;
};

class ThoughtRow : public TranscriptRowWidget {
public:
    ThoughtRow(const SessionRow &row, const QString &text, QWidget *parent) : TranscriptRowWidget(row.id, parent)
    {
        m_block = new ThinkingBlock(false, false);
        m_block->setRichText(InlineMarkdown::html(text));
        rowLayout(this)->addWidget(m_block);
    }
    bool isExpanded() const override { return m_block->isExpanded(); }
    void setExpanded(bool expanded) override { m_block->setExpanded(expanded); }

private:
    ThinkingBlock *m_block;
};

class FixCardEventRow : public TranscriptRowWidget {
public:
    FixCardEventRow(const SessionRow &row, const QString &pattern, QWidget *parent)
        : TranscriptRowWidget(row.id, parent)
    {
        auto *layout = new QHBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(6);
        layout->addWidget(new Mark(Mark::Kind::card, Palette::inkMuted()), 0, Qt::AlignTop);
        QLabel *label = textLabel(pattern, mono(11), Palette::inkMuted(), false, 0);
        label->setObjectName(u"fixCard"_s);
        layout->addWidget(label, 1);
    }
};

class ResearchNoteRow : public TranscriptRowWidget {
public:
    ResearchNoteRow(const SessionRow &row, const RowContext &context, QWidget *parent)
        : TranscriptRowWidget(row.id, parent), m_context(context)
    {
        m_box = new RoundedBox(10, faded(Palette::ink(), 0.06));
        m_inner = boxLayout(m_box, 14, 12, 6);
        rowLayout(this)->addWidget(m_box);
        m_opacity = new QGraphicsOpacityEffect(this);
        setGraphicsEffect(m_opacity);
        setRow(row);
    }
    void setRow(const SessionRow &row) override
    {
        const auto &candidate = std::get<review::ResearchCandidate>(row.content);
        while (QLayoutItem *item = m_inner->takeAt(0)) {
            delete item->widget();
            delete item;
        }
        m_inner->addWidget(new ResearchNoteContent(candidate));
        const Disposition &disposition = candidate.disposition;
        m_opacity->setOpacity(disposition.kind == Disposition::Kind::pending ? 1.0 : 0.75);
        if (disposition.kind == Disposition::Kind::pending) {
            if (!m_context.actions)
                return;
            auto *buttons = new QWidget;
            auto *line = new QHBoxLayout(buttons);
            line->setContentsMargins(0, 0, 0, 0);
            line->setSpacing(8);
            const auto button = [&](const QString &title, const QString &help, const std::function<void()> &action) {
                auto *b = new QPushButton(title);
                b->setObjectName(title.toLower());
                b->setFont(mono(11));
                b->setToolTip(help);
                app::BorderedSecondaryButtonStyle::apply(b, 24);
                connect(b, &QPushButton::clicked, this, [action] {
                    if (action)
                        action();
                });
                line->addWidget(b);
            };
            button(u"Keep"_s, u"Land this note in the piece's research/ folder"_s, m_context.keep);
            button(u"Reject"_s, u"Vanish the candidate — nothing is recorded"_s, m_context.reject);
            line->addStretch(1);
            m_inner->addWidget(buttons);
            return;
        }
        const QString status = disposition.kind == Disposition::Kind::rejected
                                   ? u"rejected"_s
                                   : u"kept · research/"_s + disposition.fileName;
        QLabel *label = textLabel(status, mono(11), Palette::inkMuted(), false, 0);
        label->setObjectName(u"noteStatus"_s);
        m_inner->addWidget(label);
    }

private:
    RowContext m_context;
    RoundedBox *m_box;
    QVBoxLayout *m_inner;
    QGraphicsOpacityEffect *m_opacity;
};

class RawUpdateRow : public TranscriptRowWidget {
public:
    RawUpdateRow(const SessionRow &row, const SessionRow::Raw &raw, QWidget *parent)
        : TranscriptRowWidget(row.id, parent)
    {
        auto *layout = rowLayout(this);
        m_header = new QPushButton;
        m_header->setFlat(true);
        m_header->setFont(mono(11));
        m_header->setStyleSheet(u"QPushButton { color: %1; text-align: left; border: none; padding: 0; }"_s.arg(
            Palette::inkMuted().name()));
        m_kind = raw.kind;
        layout->addWidget(m_header, 0, Qt::AlignLeft);
        m_json = textLabel(raw.json, mono(10), Palette::ink(), false, 0);
        m_json->setObjectName(u"rawJson"_s);
        layout->addWidget(m_json);
        connect(m_header, &QPushButton::clicked, this, [this] { setExpanded(!isExpanded()); });
        setExpanded(false);
    }
    bool isExpanded() const override { return m_expanded; }
    void setExpanded(bool expanded) override
    {
        m_expanded = expanded;
        m_header->setText((expanded ? u"▾ "_s : u"▸ "_s) + m_kind);
        m_json->setVisible(expanded);
    }

private:
    QPushButton *m_header;
    QLabel *m_json;
    QString m_kind;
    bool m_expanded = false;
};

} // namespace

// --- RoundedBox ------------------------------------------------------------------

RoundedBox::RoundedBox(int radius, QColor fill, QWidget *parent)
    : QWidget(parent), m_radius(radius), m_bottomRight(radius), m_fill(std::move(fill))
{}

void RoundedBox::setFill(const QColor &fill)
{
    m_fill = fill;
    update();
}

void RoundedBox::setBorder(const QColor &border)
{
    m_border = border;
    update();
}

void RoundedBox::setSharpBottomRight(int radius)
{
    m_bottomRight = radius;
    update();
}

void RoundedBox::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath path;
    const qreal a = m_radius, b = m_bottomRight;
    path.moveTo(r.left() + a, r.top());
    path.arcTo(QRectF(r.right() - 2 * a, r.top(), 2 * a, 2 * a), 90, -90);
    path.arcTo(QRectF(r.right() - 2 * b, r.bottom() - 2 * b, 2 * b, 2 * b), 0, -90);
    path.arcTo(QRectF(r.left(), r.bottom() - 2 * a, 2 * a, 2 * a), 270, -90);
    path.arcTo(QRectF(r.left(), r.top(), 2 * a, 2 * a), 180, -90);
    path.closeSubpath();
    if (m_fill.isValid())
        p.fillPath(path, m_fill);
    if (m_border.isValid()) {
        p.setPen(QPen(m_border, 1));
        p.drawPath(path);
    }
}

// --- ResearchNoteContent ---------------------------------------------------------

ResearchNoteContent::ResearchNoteContent(const review::ResearchCandidate &candidate, QWidget *parent) : QWidget(parent)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    QLabel *title = textLabel(candidate.title, valkyrie(13), Palette::ink(), false, 0);
    title->setObjectName(u"noteTitle"_s);
    layout->addWidget(title);
    auto *url = new QLabel;
    url->setObjectName(u"noteURL"_s);
    url->setFont(mono(11));
    url->setTextFormat(Qt::PlainText);
    url->setStyleSheet(u"color: %1"_s.arg(Palette::inkMuted().name()));
    url->setText(QFontMetrics(url->font()).elidedText(candidate.url, Qt::ElideMiddle, 300));
    url->setToolTip(candidate.url);
    layout->addWidget(url);
    if (!candidate.note.isEmpty()) {
        QLabel *note = textLabel(candidate.note, valkyrie(13), Palette::ink(), false, 0);
        note->setObjectName(u"noteText"_s);
        layout->addWidget(note);
    }
    if (!candidate.quote.isEmpty()) {
        QFont italic = valkyrie(13);
        italic.setItalic(true);
        QLabel *quote = textLabel(u"“"_s + candidate.quote + u"”"_s, italic, Palette::inkMuted(), false, 0);
        quote->setObjectName(u"noteQuote"_s);
        layout->addWidget(quote);
    }
}

// --- Rows --------------------------------------------------------------------------

TranscriptRowWidget::TranscriptRowWidget(const QUuid &id, QWidget *parent) : QWidget(parent), m_id(id) {}

void TranscriptRowWidget::setEmphasized(bool, const SessionRow *) {}
void TranscriptRowWidget::setRow(const SessionRow &) {}
void TranscriptRowWidget::setPaneWidth(double) {}

TranscriptRowWidget *makeRowWidget(const SessionRow &row, const RowContext &context, QWidget *parent)
{
    if (const auto *text = std::get_if<SessionRow::Text>(&row.content)) {
        if (text->speaker == Speaker::agent)
            return new AgentReplyRow(row, text->text, context, parent);
        if (text->speaker == Speaker::user)
            return new UserMessageRow(row, text->text, context, parent);
        if (TranscriptRules::isWarning(text->notice))
            return new WarningRow(row, text->text, context, parent);
        return new NoticeRow(
            row, text->notice == Kind::kickoff ? TranscriptRules::kickoffTitle(text->text) : text->text, parent);
    }
    if (const auto *thought = std::get_if<SessionRow::Thought>(&row.content))
        return new ThoughtRow(row, thought->text, parent);
    if (const auto *card = std::get_if<review::FixCard>(&row.content))
        return new FixCardEventRow(row, card->pattern, parent);
    if (std::holds_alternative<review::ResearchCandidate>(row.content))
        return new ResearchNoteRow(row, context, parent);
    return new RawUpdateRow(row, std::get<SessionRow::Raw>(row.content), parent);
}

// --- ThinkingBlock -----------------------------------------------------------------

ThinkingBlock::ThinkingBlock(bool live, bool expanded, QWidget *parent)
    : QWidget(parent), m_live(live), m_expanded(expanded)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    auto *headerLine = new QHBoxLayout;
    headerLine->setSpacing(6);
    if (live)
        headerLine->addWidget(new app::BusyIndicator(10));
    m_header = new QPushButton;
    m_header->setObjectName(u"thinkingHeader"_s);
    m_header->setFlat(true);
    m_header->setFont(mono(11));
    m_header->setCursor(Qt::PointingHandCursor);
    m_header->setStyleSheet(
        u"QPushButton { color: %1; text-align: left; border: none; padding: 0; }"_s.arg(Palette::inkMuted().name()));
    m_header->setAccessibleName(u"Thinking"_s);
    headerLine->addWidget(m_header);
    headerLine->addStretch(1);
    layout->addLayout(headerLine);
    m_box = new RoundedBox(10, faded(Palette::ink(), 0.06));
    m_text = textLabel(QString(), valkyrie(13), Palette::inkMuted(), true, 4);
    m_text->setObjectName(u"thinkingText"_s);
    boxLayout(m_box, 14, 12)->addWidget(m_text);
    layout->addWidget(m_box);
    connect(m_header, &QPushButton::clicked, this, [this] { setExpanded(!m_expanded); });
    setExpanded(expanded);
}

void ThinkingBlock::setRichText(const QString &html)
{
    m_text->setTextFormat(Qt::RichText);
    m_text->setText(html);
}

void ThinkingBlock::setPlainText(const QString &text)
{
    m_text->setTextFormat(Qt::PlainText);
    m_text->setText(text);
}

void ThinkingBlock::setExpanded(bool expanded)
{
    m_expanded = expanded;
    const QString chevron = m_live ? QString() : (expanded ? u"▾ "_s : u"▸ "_s);
    m_header->setText(chevron + u"Thinking…"_s);
    m_header->setAccessibleDescription(expanded ? u"expanded"_s : u"collapsed"_s);
    m_box->setVisible(expanded);
}

} // namespace engine
