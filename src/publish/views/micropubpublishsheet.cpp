#include "publish/views/micropubpublishsheet.h"

#include "chrome/busyindicator.h"
#include "chrome/palette.h"
#include "chrome/workspacechrome.h"
#include "publish/apptoken.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>
#include <QUrl>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace publish {

using app::Palette;
using app::Typeface;
using Phase = PublishSheetState::Phase;

namespace {

constexpr int kColumnWidth = MicropubPublishSheet::kWidth - 2 * MicropubPublishSheet::kInset;

QFont systemFont(int pixelSize, QFont::Weight weight = QFont::Normal)
{
    return Typeface::font(QFont().family(), pixelSize, weight);
}

QFont monoFont(int pixelSize)
{
    return Typeface::font(Typeface::mono(), pixelSize);
}

QLabel *wrapped(const QString &text, const QFont &font, const QColor &colour)
{
    QLabel *label = app::plainLabel(text, font, colour);
    label->setWordWrap(true);
    label->setFixedWidth(kColumnWidth);
    return label;
}

// At most two lines of the title, broken at the last space that fits and
// the second cut at its end.
QString twoLines(const QString &text, const QFont &font)
{
    const QFontMetrics metrics(font);
    if (metrics.horizontalAdvance(text) <= kColumnWidth)
        return text;
    qsizetype fit = 0;
    while (fit < text.size() && metrics.horizontalAdvance(text.left(fit + 1)) <= kColumnWidth)
        ++fit;
    const qsizetype space = text.left(fit + 1).lastIndexOf(u' ');
    const qsizetype cut = space > 0 ? space : fit;
    return text.left(cut) + u'\n' + metrics.elidedText(text.mid(cut).trimmed(), Qt::ElideRight, kColumnWidth);
}

} // namespace

MicropubPublishSheet::MicropubPublishSheet(model::PostsModel &posts, Micropub::SecretStore &store,
                                           Micropub::Client client, QWidget *parent)
    : QDialog(parent), m_state(new PublishSheetState(posts, store, std::move(client), this))
{
    setWindowTitle(u"Publish to Micro.blog"_s);
    app::fillBackground(this, Palette::canvas());
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(kInset, kInset, kInset, kInset);
    column->setSpacing(12);
    column->setSizeConstraint(QLayout::SetFixedSize);

    column->addWidget(wrapped(u"Publish to Micro.blog?"_s, systemFont(15, QFont::DemiBold), Palette::ink()));
    m_title = wrapped(QString(), systemFont(13, QFont::DemiBold), Palette::ink());
    m_title->setWordWrap(false);
    column->addWidget(m_title);
    column->addWidget(wrapped(u"Pennora sends it as a draft first — nothing goes out until you publish."_s,
                              systemFont(13), Palette::inkMuted()));

    m_tokenField = new QLineEdit;
    m_tokenField->setEchoMode(QLineEdit::Password);
    m_tokenField->setPlaceholderText(u"App token"_s);
    m_tokenField->setFont(monoFont(12));
    m_tokenField->setFixedWidth(kColumnWidth);
    column->addWidget(m_tokenField);
    m_tokenHint = wrapped(u"From "_s + QString::fromUtf8(Micropub::kTokenAccount)
                              + u" → Account → App Tokens. Stored in your keyring."_s,
                          monoFont(11), Palette::inkMuted());
    column->addWidget(m_tokenHint);

    m_progress = new app::BusyIndicator(16);
    column->addWidget(m_progress);

    m_draftBlock = new QWidget;
    auto *draft = new QVBoxLayout(m_draftBlock);
    draft->setContentsMargins(0, 0, 0, 0);
    draft->setSpacing(4);
    m_caption = app::plainLabel(QString(), monoFont(11), Palette::inkMuted());
    draft->addWidget(m_caption);
    m_link = new QLabel;
    m_link->setFont(monoFont(11));
    m_link->setTextFormat(Qt::RichText);
    m_link->setOpenExternalLinks(true);
    m_link->setFixedWidth(kColumnWidth);
    draft->addWidget(m_link);
    column->addWidget(m_draftBlock);

    m_refusal = wrapped(QString(), systemFont(13), Palette::systemOrange());
    column->addWidget(m_refusal);
    m_note = wrapped(QString(), systemFont(13), Palette::systemOrange());
    column->addWidget(m_note);

    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    buttons->addStretch(1);
    m_publish = app::prominentButton(u"Publish"_s);
    m_send = app::borderedButton(u"Send as Draft"_s);
    m_cancel = app::borderedButton(u"Cancel"_s);
    m_done = app::prominentButton(u"Done"_s);
    for (QPushButton *button : {m_publish, m_send, m_cancel, m_done})
        buttons->addWidget(button);
    column->addLayout(buttons);

    connect(m_tokenField, &QLineEdit::textChanged, m_state, &PublishSheetState::setTokenField);
    connect(m_publish, &QPushButton::clicked, m_state, &PublishSheetState::publish);
    connect(m_send, &QPushButton::clicked, m_state, &PublishSheetState::sendDraft);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_done, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_state, &PublishSheetState::changed, this, &MicropubPublishSheet::refresh);

    m_state->adoptRecordedURL();
    m_state->refreshStoredToken();
    refresh();
}

void MicropubPublishSheet::refresh()
{
    const PublishSheetState &state = *m_state;
    m_title->setText(twoLines(state.pieceTitle(), m_title->font()));

    m_tokenField->setVisible(state.showsTokenField());
    m_tokenHint->setVisible(state.showsTokenField());
    m_progress->setVisible(state.busy());

    const std::optional<QString> shown = state.shownDraftURL();
    m_draftBlock->setVisible(shown.has_value());
    if (shown) {
        m_caption->setText(state.draftCaption());
        const QString destination = state.linkDestination();
        const QUrl url(destination, QUrl::StrictMode);
        const bool linkable = url.isValid() && !url.scheme().isEmpty();
        m_link->setVisible(linkable);
        if (linkable) {
            const QString absolute = url.toString();
            const QString label = QFontMetrics(m_link->font()).elidedText(absolute, Qt::ElideMiddle, kColumnWidth);
            m_link->setText(u"<a href=\"%1\" style=\"color:%2\">%3</a>"_s.arg(
                url.toString(QUrl::FullyEncoded).toHtmlEscaped(), Palette::accent().name(), label.toHtmlEscaped()));
            m_link->setToolTip(absolute);
        }
    }

    m_refusal->setVisible(state.refusal().has_value());
    m_refusal->setText(state.refusal().value_or(QString()));
    QStringList notes;
    for (const std::optional<QString> &note : {state.unrecordedNote(), state.keyringNote()}) {
        if (note)
            notes << *note;
    }
    m_note->setVisible(!notes.isEmpty());
    m_note->setText(notes.join(u'\n'));

    const bool published = state.phase() == Phase::published;
    m_done->setVisible(published);
    m_publish->setVisible(!published);
    m_send->setVisible(!published);
    m_cancel->setVisible(!published);
    m_publish->setEnabled(state.canPublish());
    m_send->setEnabled(state.canSend());
    m_send->setText(state.sendTitle());
}

} // namespace publish
