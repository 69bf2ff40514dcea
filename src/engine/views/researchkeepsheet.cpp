#include "engine/views/researchkeepsheet.h"

#include "chrome/palette.h"
#include "chrome/workspacechrome.h"
#include "engine/views/transcriptrows.h"
#include "foundation/error.h"
#include "library/piececontents.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace engine {

using app::Palette;

ResearchKeepSheet::ResearchKeepSheet(MentorSessionModel &model, const QUuid &rowID, review::ResearchCandidate candidate,
                                     QString home, QWidget *parent)
    : QDialog(parent), m_model(model), m_rowID(rowID), m_candidate(std::move(candidate)), m_home(std::move(home)),
      m_refusal(new QLabel), m_keep(new QPushButton(u"Keep"_s)), m_cancel(new QPushButton(u"Cancel"_s))
{
    setWindowTitle(u"Keep this research note?"_s);
    setWindowModality(Qt::WindowModal);
    app::fillBackground(this, Palette::canvas());
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(16, 16, 16, 16);
    column->setSpacing(12);

    auto *scroll = new QScrollArea;
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto *content = new QWidget;
    app::fillBackground(content, Palette::canvas());
    auto *inner = new QVBoxLayout(content);
    inner->setContentsMargins(0, 0, 0, 0);
    inner->setSpacing(12);
    inner->addWidget(app::plainLabel(u"Keep this research note?"_s, app::sheetTitleFont(), Palette::ink()));
    QLabel *explain =
        app::plainLabel(u"Plain markdown into the piece's research/ folder — nothing saves until you keep it."_s,
                        TranscriptLook::concourse(13), Palette::ink());
    explain->setWordWrap(true);
    inner->addWidget(explain);
    auto *preview = new RoundedBox(6, TranscriptLook::faded(Palette::inkMuted(), 0.3 * 0.25));
    auto *previewLayout = new QVBoxLayout(preview);
    previewLayout->setContentsMargins(8, 8, 8, 8);
    previewLayout->addWidget(new ResearchNoteContent(m_candidate));
    inner->addWidget(preview);
    m_refusal->setObjectName(u"refusal"_s);
    m_refusal->setTextFormat(Qt::PlainText);
    m_refusal->setWordWrap(true);
    m_refusal->setFont(TranscriptLook::concourse(13));
    QPalette refusalPalette = m_refusal->palette();
    refusalPalette.setColor(QPalette::WindowText, Palette::systemOrange());
    m_refusal->setPalette(refusalPalette);
    m_refusal->hide();
    inner->addWidget(m_refusal);
    inner->addStretch(1);
    scroll->setWidget(content);
    column->addWidget(scroll, 1);

    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    buttons->addStretch(1);
    app::tintProminent(m_keep);
    m_keep->setAutoDefault(false);
    m_cancel->setAutoDefault(false);
    app::BorderedSecondaryButtonStyle::apply(m_cancel, 28);
    buttons->addWidget(m_keep);
    buttons->addWidget(m_cancel);
    column->addLayout(buttons);
    connect(m_keep, &QPushButton::clicked, this, &ResearchKeepSheet::keep);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);

    setFixedWidth(320);
    resize(320, std::min(560, content->sizeHint().height() + 90));
}

QString ResearchKeepSheet::refusal() const
{
    return m_refusal->isVisible() ? m_refusal->text() : QString();
}

void ResearchKeepSheet::keep()
{
    QString fileName;
    try {
        fileName = library::PostStore::writeResearchNote(m_candidate.piecePath, m_candidate.title, m_candidate.url,
                                                         m_candidate.quote, m_candidate.note, m_home);
    } catch (const foundation::Error &error) {
        m_refusal->setText(error.message());
        m_refusal->show();
        return;
    }
    m_model.setDisposition(m_rowID, review::ResearchCandidate::Disposition::kept(fileName));
    accept();
}

} // namespace engine
