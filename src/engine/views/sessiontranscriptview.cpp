#include "engine/views/sessiontranscriptview.h"

#include "chrome/busyindicator.h"
#include "chrome/palette.h"
#include "chrome/workspacechrome.h"
#include "engine/transcriptrules.h"
#include "engine/views/researchkeepsheet.h"
#include "engine/views/transcriptrows.h"

#include <QDesktopServices>
#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTextBlock>
#include <QTimer>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace engine {

using app::Palette;
using namespace TranscriptLook;

namespace {

// Rows built at once after a replay; the older ones follow in batches, so
// the end of a long session shows at once.
constexpr qsizetype firstRows = 40;
constexpr qsizetype batchRows = 150;

std::function<void(const QUrl &)> &linkOpener()
{
    static std::function<void(const QUrl &)> opener = [](const QUrl &url) { QDesktopServices::openUrl(url); };
    return opener;
}

} // namespace

SessionTranscriptView::SessionTranscriptView(MentorSessionModel &model, bool showsDebugRows,
                                             std::optional<DebugBinding> debugBinding, std::optional<QString> home,
                                             QWidget *parent)
    : QWidget(parent), m_model(model), m_showsDebugRows(showsDebugRows), m_debugBinding(std::move(debugBinding)),
      m_home(std::move(home))
{
    app::fillBackground(this, Palette::canvas());
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);

    // The rows: a column at most 720 wide, centred, its rows kept at the bottom.
    m_scroll = new QScrollArea;
    m_scroll->setObjectName(u"transcriptScroll"_s);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setWidgetResizable(true);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto *content = new QWidget;
    app::fillBackground(content, Palette::canvas());
    auto *centring = new QHBoxLayout(content);
    centring->setContentsMargins(0, 0, 0, 0);
    m_column = new QWidget;
    m_column->setMaximumWidth(720);
    centring->addWidget(m_column);
    m_rows = new QVBoxLayout(m_column);
    m_rows->setContentsMargins(16, 14 + 18, 16, 16);
    m_rows->setSpacing(18);
    m_rows->addStretch(1);

    m_liveThought = new ThinkingBlock(true, true);
    m_liveThought->setObjectName(u"liveThought"_s);
    m_liveThought->hide();
    m_rows->addWidget(m_liveThought);
    m_streamingText = new QWidget;
    m_streamingText->setObjectName(u"streamingText"_s);
    auto *segments = new QVBoxLayout(m_streamingText);
    segments->setContentsMargins(0, 0, 0, 0);
    segments->setSpacing(0);
    m_streamingText->hide();
    m_rows->addWidget(m_streamingText);
    m_scroll->setWidget(content);
    outer->addWidget(m_scroll, 1);

    QScrollBar *bar = m_scroll->verticalScrollBar();
    connect(bar, &QScrollBar::rangeChanged, this, [this, bar](int, int max) {
        if (m_followsEnd)
            bar->setValue(max);
    });
    connect(bar, &QScrollBar::valueChanged, this, [this, bar](int value) { m_followsEnd = value >= bar->maximum(); });

    outer->addWidget(app::hairline());

    // The composer strip.
    m_composer = new QWidget;
    m_composer->setObjectName(u"composer"_s);
    m_composer->setAttribute(Qt::WA_Hover);
    m_composer->installEventFilter(this);
    auto *strip = new QHBoxLayout(m_composer);
    strip->setContentsMargins(0, 0, 0, 0);
    auto *inner = new QWidget;
    inner->setMaximumWidth(720);
    strip->addWidget(inner);
    auto *line = new QHBoxLayout(inner);
    line->setContentsMargins(16, 14, 16, 14);
    line->setSpacing(8);

    m_field = new QPlainTextEdit;
    m_field->setObjectName(u"composerField"_s);
    m_field->setPlaceholderText(u"Ask the mentor…"_s);
    m_field->setAccessibleName(u"Ask the mentor…"_s);
    m_field->setFont(concourse(13));
    m_field->setTabChangesFocus(true);
    m_field->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_field->setStyleSheet(
        u"QPlainTextEdit { background: %1; color: %2; border: 1px solid %3; border-radius: 10px;"
        " padding: 4px 6px; }"_s.arg(Palette::page().name(), Palette::ink().name(), Palette::rule().name()));
    QPalette fieldPalette = m_field->palette();
    fieldPalette.setColor(QPalette::PlaceholderText, Palette::inkMuted());
    m_field->setPalette(fieldPalette);
    m_field->installEventFilter(this);
    connect(m_field, &QPlainTextEdit::textChanged, this, [this] {
        // One to four lines, then the field scrolls.
        const int lineHeight = QFontMetrics(m_field->font()).lineSpacing();
        int lines = 0;
        for (QTextBlock block = m_field->document()->begin(); block.isValid(); block = block.next())
            lines += std::max(1, block.layout() ? block.layout()->lineCount() : 1);
        lines = std::clamp(lines, 1, 4);
        m_field->setFixedHeight(std::max(36, lines * lineHeight + 20));
        m_field->setVerticalScrollBarPolicy(lines >= 4 ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
        updateComposer();
    });
    m_field->setFixedHeight(36);
    line->addWidget(m_field, 1, Qt::AlignBottom);

    m_send = new QPushButton(u"Send"_s);
    m_send->setObjectName(u"sendButton"_s);
    m_send->setFont(mono(11));
    m_send->setMinimumHeight(36);
    m_send->setCursor(Qt::PointingHandCursor);
    connect(m_send, &QPushButton::clicked, this, [this] {
        if (m_model.isStreaming())
            m_model.cancelTurn();
        else
            send();
    });
    line->addWidget(m_send, 0, Qt::AlignBottom);

    if (m_debugBinding) {
        auto *slot = new QWidget;
        slot->setFixedWidth(40);
        auto *slotLayout = new QVBoxLayout(slot);
        slotLayout->setContentsMargins(0, 0, 0, 11);
        m_debug = new QPushButton(u"debug"_s);
        m_debug->setObjectName(u"debugToggle"_s);
        m_debug->setFlat(true);
        m_debug->setFont(mono(10));
        m_debug->setToolTip(u"Show session updates, tool calls, and engine thinking."_s);
        m_debug->setAccessibleName(u"Debug rows"_s);
        QSizePolicy policy = m_debug->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        m_debug->setSizePolicy(policy);
        m_debug->hide();
        connect(m_debug, &QPushButton::clicked, this, [this] {
            m_debugBinding->setValue(!m_debugBinding->value());
            updateComposer();
        });
        slotLayout->addStretch(1);
        slotLayout->addWidget(m_debug);
        line->addWidget(slot, 0, Qt::AlignBottom);
    }
    outer->addWidget(m_composer);

    // The working pill floats over the end of the rows and takes no clicks.
    m_pill = new QWidget(this);
    m_pill->setObjectName(u"workingPill"_s);
    m_pill->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_pill->setAttribute(Qt::WA_StyledBackground);
    m_pill->setStyleSheet(u"#workingPill { background: rgba(255, 254, 251, 215); border: 1px solid %1;"
                          " border-radius: 12px; }"_s.arg(Palette::rule().name()));
    auto *pill = new QHBoxLayout(m_pill);
    pill->setContentsMargins(12, 5, 12, 5);
    pill->setSpacing(8);
    pill->addWidget(new app::BusyIndicator(12));
    auto *pillText = new QLabel(u"Mentor is working — Stop to interrupt."_s);
    pillText->setFont(mono(11));
    pillText->setStyleSheet(u"color: %1; background: transparent; border: none;"_s.arg(Palette::inkMuted().name()));
    pill->addWidget(pillText);
    m_pill->hide();

    connect(&m_model, &MentorSessionModel::activeEntryChanged, this, [this] {
        rebuildRows();
        updateComposer();
    });
    connect(&m_model, &MentorSessionModel::transcriptReset, this, [this](const QString &key) {
        if (key == activeKey())
            rebuildRows();
    });
    connect(&m_model, &MentorSessionModel::rowsAppended, this,
            [this](const QString &key, qsizetype first, qsizetype count) {
                if (key == activeKey())
                    appendRows(first, count);
            });
    connect(&m_model, &MentorSessionModel::rowChanged, this, [this](const QString &key, qsizetype index) {
        if (key == activeKey())
            updateRow(index);
    });
    // Chunks come faster than frames: the streaming text is laid out at most
    // once a frame, and at once when it ends (its row takes over).
    m_streamFrame = new QTimer(this);
    m_streamFrame->setSingleShot(true);
    m_streamFrame->setInterval(16);
    connect(m_streamFrame, &QTimer::timeout, this, &SessionTranscriptView::updateStreaming);
    connect(&m_model, &MentorSessionModel::streamingChanged, this, [this](const QString &key) {
        if (key != activeKey())
            return;
        const auto *t = transcript();
        if (!t || (t->streamingText.isEmpty() && t->streamingThought.isEmpty()))
            updateStreaming();
        else if (!m_streamFrame->isActive())
            m_streamFrame->start();
    });
    connect(&m_model, &MentorSessionModel::isStreamingChanged, this, [this] {
        updateComposer();
        updateEmphasis();
    });
    connect(&m_model, &MentorSessionModel::phaseChanged, this, &SessionTranscriptView::updateComposer);
    connect(&m_model, &MentorSessionModel::replayingSessionIDChanged, this, [this] {
        if (m_replayPending && !m_model.replayingSessionID()) {
            m_replayPending = false;
            rebuildRows();
        }
    });

    rebuildRows();
    updateComposer();
}

SessionTranscriptView::~SessionTranscriptView() = default;

void SessionTranscriptView::setLinkOpener(std::function<void(const QUrl &)> opener)
{
    linkOpener() = opener ? std::move(opener) : [](const QUrl &url) { QDesktopServices::openUrl(url); };
}

void SessionTranscriptView::openLink(const QUrl &url)
{
    if (TranscriptRules::isOpenableLink(url))
        linkOpener()(url);
}

QString SessionTranscriptView::activeKey() const
{
    const std::optional<SessionEntry> &entry = m_model.activeEntry();
    return entry ? entry->sessionID : QString();
}

const MentorSessionModel::SessionTranscript *SessionTranscriptView::transcript() const
{
    return m_model.activeTranscript();
}

QWidget *SessionTranscriptView::streamingRow() const
{
    return m_streamingText;
}

QString SessionTranscriptView::streamingText() const
{
    QString text;
    for (const QLabel *label : m_streamingSegments)
        text += label->text();
    return text;
}

QString SessionTranscriptView::draft() const
{
    return m_field->toPlainText();
}

void SessionTranscriptView::setDraft(const QString &draft)
{
    m_field->setPlainText(draft);
}

void SessionTranscriptView::setShowsDebugRows(bool shows)
{
    if (m_showsDebugRows == shows)
        return;
    m_showsDebugRows = shows;
    updateDebugVisibility();
    updateStreaming();
    updateEmphasis();
}

// --- Rows ----------------------------------------------------------------------------

TranscriptRowWidget *SessionTranscriptView::makeRow(const SessionRow &row)
{
    RowContext context;
    context.paneWidth = width() > 0 && isVisible() ? width() : 356;
    context.actions = m_home.has_value();
    const QUuid id = row.id;
    context.keep = [this, id] {
        if (const auto *t = transcript())
            for (const SessionRow &r : t->rows)
                if (r.id == id)
                    if (const auto *candidate = std::get_if<review::ResearchCandidate>(&r.content))
                        keep(id, *candidate);
    };
    context.reject = [this, id] { m_model.setDisposition(id, review::ResearchCandidate::Disposition::rejected()); };
    context.openLink = &SessionTranscriptView::openLink;
    TranscriptRowWidget *widget = makeRowWidget(row, context);
    if (!TranscriptRules::isVisible(row, m_showsDebugRows))
        widget->setVisible(false);
    m_rowWidgets.insert(row.id, widget);
    return widget;
}

void SessionTranscriptView::rebuildRows()
{
    ++m_generation;
    m_replayPending = false;
    for (TranscriptRowWidget *widget : std::as_const(m_rowWidgets))
        delete widget;
    m_rowWidgets.clear();
    m_emphasized.reset();
    m_followsEnd = true;
    const auto *t = transcript();
    const qsizetype count = t ? t->rows.size() : 0;
    m_unbuilt = std::max<qsizetype>(0, count - firstRows);
    for (qsizetype i = m_unbuilt; i < count; ++i)
        m_rows->insertWidget(m_rows->count() - 2, makeRow(t->rows[i]));
    if (m_unbuilt > 0) {
        const int generation = m_generation;
        QTimer::singleShot(0, this, [this, generation] {
            if (generation == m_generation)
                buildRowsBefore(m_unbuilt);
        });
    }
    updateStreaming();
    updateEmphasis();
}

void SessionTranscriptView::buildRowsBefore(qsizetype end)
{
    const auto *t = transcript();
    if (!t || end <= 0)
        return;
    const qsizetype start = std::max<qsizetype>(0, end - batchRows);
    // Oldest first at the top, just under the stretch.
    for (qsizetype i = end - 1; i >= start; --i)
        m_rows->insertWidget(1, makeRow(t->rows[i]));
    m_unbuilt = start;
    if (m_unbuilt > 0) {
        const int generation = m_generation;
        QTimer::singleShot(0, this, [this, generation] {
            if (generation == m_generation)
                buildRowsBefore(m_unbuilt);
        });
    }
}

void SessionTranscriptView::appendRows(qsizetype first, qsizetype count)
{
    const auto *t = transcript();
    if (!t)
        return;
    // A replay lands row by row: its rows are built once it ends, the newest first.
    if (m_model.replayingSessionID() && *m_model.replayingSessionID() == activeKey()) {
        m_replayPending = true;
        return;
    }
    for (qsizetype i = first; i < first + count && i < t->rows.size(); ++i) {
        if (m_rowWidgets.contains(t->rows[i].id))
            continue;
        m_rows->insertWidget(m_rows->count() - 2, makeRow(t->rows[i]));
        if (m_sending) {
            const auto *text = std::get_if<SessionRow::Text>(&t->rows[i].content);
            if (text && text->speaker == SessionRow::Speaker::user)
                m_sendAppendedUserRow = true;
        }
    }
    updateEmphasis();
}

void SessionTranscriptView::updateRow(qsizetype index)
{
    const auto *t = transcript();
    if (!t || index < 0 || index >= t->rows.size())
        return;
    if (TranscriptRowWidget *widget = m_rowWidgets.value(t->rows[index].id))
        widget->setRow(t->rows[index]);
}

void SessionTranscriptView::updateDebugVisibility()
{
    const auto *t = transcript();
    if (!t)
        return;
    for (const SessionRow &row : t->rows)
        if (TranscriptRowWidget *widget = m_rowWidgets.value(row.id))
            widget->setVisible(TranscriptRules::isVisible(row, m_showsDebugRows));
}

void SessionTranscriptView::updateStreaming()
{
    m_streamFrame->stop();
    const auto *t = transcript();
    const QString thought = t ? t->streamingThought : QString();
    const QString text = t ? t->streamingText : QString();
    ThinkingBlock *live = m_liveThought;
    if (thought.isEmpty()) {
        // The next turn's thought opens expanded again.
        live->setExpanded(true);
        live->hide();
    } else if (m_showsDebugRows) {
        live->setPlainText(thought);
        live->show();
    } else {
        live->hide();
    }
    // A long reply is shown in segments cut at a line end or a space, so a
    // new chunk lays out only the last one.
    constexpr qsizetype segmentLength = 1500;
    qsizetype start = 0;
    int segment = 0;
    auto *layout = static_cast<QVBoxLayout *>(m_streamingText->layout());
    while (start < text.size()) {
        qsizetype end = text.size();
        if (end - start > segmentLength) {
            const QStringView window = QStringView(text).mid(start, segmentLength);
            qsizetype cut = window.lastIndexOf(u'\n');
            if (cut <= 0)
                cut = window.lastIndexOf(u' ');
            end = start + (cut > 0 ? cut + 1 : segmentLength);
        }
        QLabel *label = segment < m_streamingSegments.size() ? m_streamingSegments[segment] : nullptr;
        if (!label) {
            label = new QLabel;
            label->setTextFormat(Qt::PlainText);
            label->setWordWrap(true);
            label->setFont(valkyrie(15));
            label->setTextInteractionFlags(Qt::TextSelectableByMouse);
            label->setStyleSheet(u"color: %1"_s.arg(Palette::ink().name()));
            layout->addWidget(label);
            m_streamingSegments.append(label);
        }
        // Earlier segments never change while the reply grows.
        if (end == text.size() || label->text().size() != end - start)
            label->setText(text.mid(start, end - start));
        start = end;
        ++segment;
    }
    while (m_streamingSegments.size() > segment)
        delete m_streamingSegments.takeLast();
    m_streamingText->setVisible(!text.isEmpty());
}

void SessionTranscriptView::updateEmphasis()
{
    const auto *t = transcript();
    const QList<SessionRow> rows = t ? t->rows : QList<SessionRow>();
    const std::optional<QUuid> last =
        m_model.isStreaming() ? std::nullopt : TranscriptRules::lastVisibleRowID(rows, m_showsDebugRows);
    if (last == m_emphasized)
        return;
    if (m_emphasized)
        if (TranscriptRowWidget *old = m_rowWidgets.value(*m_emphasized))
            old->setEmphasized(false, nullptr);
    m_emphasized = last;
    if (!last)
        return;
    // The visible row before the emphasised one.
    const SessionRow *previous = nullptr;
    for (qsizetype i = rows.size() - 1; i >= 0; --i) {
        if (rows[i].id != *last)
            continue;
        for (qsizetype k = i - 1; k >= 0 && !previous; --k)
            if (TranscriptRules::isVisible(t->rows[k], m_showsDebugRows))
                previous = &t->rows[k];
        break;
    }
    if (TranscriptRowWidget *widget = m_rowWidgets.value(*last))
        widget->setEmphasized(true, previous);
}

// --- Composer ------------------------------------------------------------------------

void SessionTranscriptView::updateComposer()
{
    const bool streaming = m_model.isStreaming();
    const bool enabled =
        m_model.phase().which() == MentorSessionModel::Phase::Case::ready && m_model.activeEntry().has_value();
    m_composer->setEnabled(enabled);
    const bool canSend = TranscriptRules::canSendOrStop(draft(), streaming);
    m_send->setText(streaming ? u"Stop"_s : u"Send"_s);
    m_send->setEnabled(canSend);
    m_send->setDefault(!streaming);
    m_send->setToolTip(streaming ? u"Cancel the running turn — the engine ends it with a cancelled stop."_s
                                 : u"Send to the mentor."_s);
    QString look;
    if (streaming)
        look = u"color: %1; background: transparent; border: 1px solid %1;"_s.arg(Palette::accent().name());
    else if (canSend)
        look = u"color: %1; background: %2; border: none;"_s.arg(Palette::page().name(), Palette::accent().name());
    else
        look = u"color: %1; background: %2; border: 1px solid rgba(26, 25, 22, 43);"_s.arg(Palette::inkMuted().name(),
                                                                                           Palette::rule().name());
    m_send->setStyleSheet(u"QPushButton { %1 border-radius: 6px; padding: 0 14px; min-height: 36px; }"_s.arg(look));
    if (m_debug) {
        const bool on = m_debugBinding->value();
        m_debug->setStyleSheet(u"QPushButton { color: %1; border: none; background: transparent; }"_s.arg(
            (on ? Palette::accent() : Palette::inkMuted()).name()));
        m_debug->setAccessibleDescription(on ? u"on"_s : u"off"_s);
    }
    m_pill->setVisible(streaming);
    if (streaming) {
        m_pill->raise();
        placePill();
    }
}

void SessionTranscriptView::placePill()
{
    m_pill->adjustSize();
    m_pill->move((width() - m_pill->width()) / 2, m_composer->y() - 40);
}

void SessionTranscriptView::send()
{
    const QString text = TranscriptRules::trimmedDraft(draft());
    if (text.isEmpty() || m_model.isStreaming())
        return;
    m_field->clear();
    m_sending = true;
    m_sendAppendedUserRow = false;
    QCoro::Task<TurnOutcome> sending = m_model.send(text, std::nullopt);
    // The writer's row goes in before the turn's first wait; a refused prompt
    // (the read-only pass transcript) leaves none and keeps its words.
    m_sending = false;
    finishSend(m_sendAppendedUserRow, text);
    QCoro::Task<void> detached = [](QCoro::Task<TurnOutcome> turn) -> QCoro::Task<void> {
        co_await std::move(turn);
    }(std::move(sending));
}

void SessionTranscriptView::finishSend(bool appendedUserRow, const QString &sent)
{
    if (!appendedUserRow && draft().isEmpty())
        setDraft(sent);
}

bool SessionTranscriptView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_field && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        switch (TranscriptRules::composerKey(key->key(), key->modifiers())) {
        case TranscriptRules::ComposerKey::send: send(); return true;
        case TranscriptRules::ComposerKey::appendLineFeed:
            m_field->setPlainText(draft() + u'\n');
            m_field->moveCursor(QTextCursor::End);
            return true;
        case TranscriptRules::ComposerKey::field: break;
        }
    }
    if (watched == m_composer && m_debug) {
        if (event->type() == QEvent::Enter || event->type() == QEvent::HoverEnter)
            m_debug->show();
        else if (event->type() == QEvent::Leave || event->type() == QEvent::HoverLeave)
            m_debug->hide();
    }
    return QWidget::eventFilter(watched, event);
}

void SessionTranscriptView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    for (TranscriptRowWidget *widget : std::as_const(m_rowWidgets))
        widget->setPaneWidth(width());
    placePill();
}

// --- Keep ------------------------------------------------------------------------------

void SessionTranscriptView::keep(const QUuid &rowID, const review::ResearchCandidate &candidate)
{
    if (m_keepSheet)
        return;
    // Without a Home the sheet has nothing to keep into.
    if (!m_home)
        return;
    m_keepSheet = new ResearchKeepSheet(m_model, rowID, candidate, *m_home, this);
    // Closing the sheet in any way clears the pending keep.
    connect(m_keepSheet, &QDialog::finished, this, [this, sheet = m_keepSheet] {
        if (m_keepSheet == sheet)
            m_keepSheet = nullptr;
        sheet->deleteLater();
    });
    m_keepSheet->open();
}

} // namespace engine
