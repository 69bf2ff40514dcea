#include "editor/prose/views/posteditorview.h"

#include "chrome/elidedlabel.h"
#include "chrome/palette.h"
#include "chrome/workspacechrome.h"
#include "editor/prose/views/proselisttextview.h"
#include "editor/prose/views/prosetextview.h"

#include <QAction>
#include <QApplication>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>

#include <utility>

namespace editor {

using model::SaveState;
using namespace Qt::StringLiterals;

namespace {

const QString kDraftLocation = u"unsaved draft — no folder until first save"_s;
// A draft has no folder to autosave into: only a save makes one.
const QString kDraftHint = u"Ctrl+S saves"_s;

QFont labelFont()
{
    return app::Typeface::font(app::Typeface::mono(), 11);
}

// The focus-mode notice: a rounded, nearly opaque page-coloured card.
class Notice : public QWidget {
protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QColor fill = app::Palette::page();
        fill.setAlphaF(0.96f);
        QPainterPath path;
        path.addRoundedRect(QRectF(rect()), 10, 10);
        painter.fillPath(path, fill);
    }
};

} // namespace

// --- SaveStateDot -------------------------------------------------------------

SaveStateDot::Look SaveStateDot::lookOf(SaveState state, bool conflict)
{
    if (conflict)
        return {u"Changed on disk"_s, app::Palette::accent()};
    switch (state) {
    case SaveState::saved: return {u"Saved"_s, app::Palette::inkMuted()};
    case SaveState::changed: return {u"Changed"_s, app::Palette::inkMuted()};
    case SaveState::failed: break;
    }
    return {u"Save failed"_s, app::Palette::accent()};
}

SaveStateDot::SaveStateDot(QWidget *parent) : QWidget(parent)
{
    setFont(app::Typeface::font(app::Typeface::serif(), 12));
    setState(SaveState::saved, false);
}

void SaveStateDot::setState(SaveState state, bool conflict)
{
    m_look = lookOf(state, conflict);
    m_conflict = conflict;
    setAccessibleName(u"Save state: "_s + m_look.label);
    setToolTip(conflict ? u"The file changed outside Pennora — click to choose Reload or Keep Local"_s : QString());
    setCursor(conflict ? Qt::PointingHandCursor : Qt::ArrowCursor);
    updateGeometry();
    update();
}

QSize SaveStateDot::sizeHint() const
{
    return {6 + 7 + fontMetrics().horizontalAdvance(m_look.label) + 1, std::max(6, fontMetrics().height())};
}

void SaveStateDot::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal middle = height() / 2.0;
    painter.setPen(Qt::NoPen);
    painter.setBrush(m_look.colour);
    painter.drawEllipse(QRectF(0, middle - 3, 6, 6));
    painter.setPen(m_look.colour);
    painter.drawText(QRect(13, 0, width() - 13, height()), Qt::AlignVCenter | Qt::AlignLeft, m_look.label);
}

void SaveStateDot::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
    QWidget::mouseReleaseEvent(event);
}

// --- ConflictAlert ------------------------------------------------------------

ConflictAlert::ConflictAlert(const QString &message, QWidget *parent) : QDialog(parent)
{
    setWindowTitle(u"File on Disk changed"_s);
    setWindowModality(Qt::WindowModal);
    QPalette paper = palette();
    paper.setColor(QPalette::Window, app::Palette::canvas());
    paper.setColor(QPalette::WindowText, app::Palette::ink());
    setPalette(paper);
    setAutoFillBackground(true);
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(20, 18, 20, 16);
    column->setSpacing(10);
    auto *title = new QLabel(u"File on Disk changed"_s, this);
    title->setFont(app::Typeface::font(app::Typeface::serif(), 15, QFont::DemiBold));
    auto *text = new QLabel(message, this);
    text->setWordWrap(true);
    text->setFont(app::Typeface::font(app::Typeface::serif(), 13));
    text->setMinimumWidth(340);
    column->addWidget(title);
    column->addWidget(text);
    auto *row = new QHBoxLayout;
    row->addStretch(1);
    m_keepLocal = new QPushButton(u"Keep Local"_s, this);
    m_reload = new QPushButton(u"Reload"_s, this);
    app::BorderedSecondaryButtonStyle::apply(m_keepLocal, 28);
    app::BorderedSecondaryButtonStyle::apply(m_reload, 28);
    m_keepLocal->setAutoDefault(false);
    m_reload->setDefault(true);
    row->addWidget(m_keepLocal);
    row->addWidget(m_reload);
    column->addLayout(row);
    connect(m_reload, &QPushButton::clicked, this, [this] {
        emit reloadChosen();
        accept();
    });
    connect(m_keepLocal, &QPushButton::clicked, this, [this] {
        emit keepLocalChosen();
        accept();
    });
}

// --- PostEditorView -------------------------------------------------------------

PostEditorView::PostEditorView(Inputs inputs, QWidget *parent)
    : QWidget(parent), m_inputs(std::move(inputs)), m_session(m_inputs.session)
{
    m_draftMirror = m_inputs.draftText.value_or(QString());

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    // The header: location, space, Publish, the save state or the hint.
    m_header = new QWidget(this);
    auto *headerColumn = new QVBoxLayout(m_header);
    headerColumn->setContentsMargins(0, 0, 0, 0);
    headerColumn->setSpacing(0);
    auto *rowWidget = new QWidget(m_header);
    rowWidget->setMinimumHeight(app::PaneHeader::minRowHeight);
    auto *row = new QHBoxLayout(rowWidget);
    row->setContentsMargins(16, 0, 16, 0);
    row->setSpacing(10);
    // "Read" and "Edit" are as wide in the mono face the style sizes by.
    m_readButton = new QPushButton(u"Read"_s, rowWidget);
    app::BorderedSecondaryButtonStyle::apply(m_readButton, 28);
    m_readButton->setFocusPolicy(Qt::NoFocus);
    connect(m_readButton, &QPushButton::clicked, this, &PostEditorView::toggleReading);
    row->addWidget(m_readButton);
    updateReadButton();
    // Cut at the head when too long: the end of a path says the most.
    auto *location = new app::ElidedLabel(Qt::ElideLeft);
    location->setMinimumWidth(40);
    location->setFullText(locationLabel(m_session));
    m_location = location;
    m_location->setFont(labelFont());
    QPalette muted = m_location->palette();
    muted.setColor(QPalette::WindowText, app::Palette::inkMuted());
    m_location->setPalette(muted);
    row->addWidget(m_location, 1);
    if (m_inputs.publish) {
        m_publish = new QPushButton(u"Publish"_s, rowWidget);
        m_publish->setToolTip(u"Send to Micro.blog — draft first, then publish"_s);
        app::BorderedSecondaryButtonStyle::apply(m_publish, 28);
        connect(m_publish, &QPushButton::clicked, this, [this] { m_inputs.publish(); });
        row->addWidget(m_publish);
    }
    if (m_session) {
        m_dot = new SaveStateDot(rowWidget);
        connect(m_dot, &SaveStateDot::clicked, this, &PostEditorView::showConflictAlert);
        row->addWidget(m_dot);
    } else {
        m_draftHint = new QLabel(kDraftHint, rowWidget);
        m_draftHint->setFont(labelFont());
        m_draftHint->setPalette(muted);
        row->addWidget(m_draftHint);
    }
    headerColumn->addWidget(rowWidget);
    headerColumn->addWidget(app::hairline());
    column->addWidget(m_header);

    if (m_inputs.outlineEditor) {
        m_outline = m_inputs.outlineEditor(m_session, m_session ? std::nullopt : m_inputs.draftText,
                                           [this](const QString &text) { draftDidEdit(text); });
        m_outline->setParent(this);
        column->addWidget(m_outline, 1);
    } else {
        buildProse(column);
    }

    // The focus-mode notice over the top of the text.
    m_notice = new Notice;
    m_notice->setParent(this);
    auto *noticeRow = new QHBoxLayout(m_notice);
    noticeRow->setContentsMargins(14, 7, 14, 7);
    m_noticeDot = new SaveStateDot(m_notice);
    m_noticeDot->setState(SaveState::failed, false);
    m_noticeHint = new QLabel(kDraftHint, m_notice);
    m_noticeHint->setFont(labelFont());
    m_noticeHint->setPalette(muted);
    noticeRow->addWidget(m_noticeDot);
    noticeRow->addWidget(m_noticeHint);
    m_notice->hide();

    // A page loaded from disk anew while reading is painted again.
    if (m_session)
        connect(m_session, &model::EditorSession::loadGenerationChanged, this, [this] {
            if (m_reading)
                feedReadingSurface();
        });

    auto *save = new QAction(this);
    save->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    save->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(save, &QAction::triggered, this, &PostEditorView::saveNow);
    addAction(save);

    if (m_session) {
        connect(m_session, &model::EditorSession::saveStateChanged, this, &PostEditorView::updateSaveState);
        connect(m_session, &model::EditorSession::conflictAlertChanged, this, &PostEditorView::conflictChanged);
        updateSaveState();
        // A conflict that stands already is asked about once the screen shows.
        if (m_session->conflictAlert())
            QMetaObject::invokeMethod(this, &PostEditorView::showConflictAlert, Qt::QueuedConnection);
    }
    qApp->installEventFilter(this);
    setFocused(false);
}

void PostEditorView::buildProse(QVBoxLayout *column)
{
    // The prose view spans the screen, so its scroll bar sits at the edge;
    // its layout keeps the text in a column no wider than the measure,
    // centred.
    m_prose = new ProseTextView(this);
    m_prose->setRouteDrop(m_inputs.routeDrop);
    m_prose->setDropBridge(m_inputs.dropBridge);
    m_prose->setOnTextChange([this](const QString &text) {
        if (m_inputs.onTextChange)
            m_inputs.onTextChange(text);
        updateNotice();
    });
    if (m_session) {
        if (m_session->target().kind() == model::SessionTarget::Kind::post)
            m_prose->setIngestFolder(m_session->folderPath());
        m_prose->setSession(m_session);
    } else {
        m_prose->setOnEdit([this](const QString &text) { draftDidEdit(text); });
        m_prose->setDraft(m_draftMirror);
    }
    column->addWidget(m_prose, 1);
}

PostEditorView::~PostEditorView()
{
    qApp->removeEventFilter(this);
}

QString PostEditorView::locationLabel(const model::EditorSession *session)
{
    if (!session)
        return kDraftLocation;
    if (session->target().kind() == model::SessionTarget::Kind::externalFile)
        return QFileInfo(session->target().filePath()).fileName();
    const QStringList parts = session->folderPath().split(u'/', Qt::SkipEmptyParts);
    return parts.mid(std::max<qsizetype>(0, parts.size() - 4)).join(u" / "_s);
}

QString PostEditorView::conflictMessage(const model::EditorSession &session)
{
    const QString name = session.target().kind() == model::SessionTarget::Kind::externalFile
                             ? QFileInfo(session.target().filePath()).fileName()
                             : u"post.md"_s;
    return name + u" changed outside Pennora. "_s
           + u"Reload discards your unsaved edits; Keep Local overwrites the file on the next save."_s;
}

void PostEditorView::setSpellChecking(bool on)
{
    if (m_prose)
        m_prose->setSpellChecking(on);
}

void PostEditorView::setFocused(bool focused)
{
    m_focused = focused;
    m_header->setVisible(!focused);
    if (m_prose)
        m_prose->setFocused(focused);
    updateNotice();
    update();
}

void PostEditorView::saveNow()
{
    if (m_session) {
        // Ctrl+S never overwrites an outside change: it asks instead.
        if (m_session->conflictAlert()) {
            showConflictAlert();
            return;
        }
        if (m_session->diskChangedUnderneath())
            return;
        m_session->flush();
        return;
    }
    if (m_inputs.draftSave)
        m_inputs.draftSave();
}

void PostEditorView::draftDidEdit(const QString &text)
{
    m_draftMirror = text;
    if (m_inputs.draftEdited)
        m_inputs.draftEdited(text);
    updateNotice();
}

void PostEditorView::updateSaveState()
{
    if (m_dot && m_session)
        m_dot->setState(m_session->saveState(), m_session->conflictAlert());
    updateNotice();
}

void PostEditorView::conflictChanged()
{
    updateSaveState();
    if (!m_session)
        return;
    if (m_session->conflictAlert()) {
        m_alertDismissed = false;
        showConflictAlert();
    } else if (m_alert) {
        // Settled elsewhere: nothing left to ask, once this change is through.
        QMetaObject::invokeMethod(
            m_alert, [alert = m_alert] { alert->done(QDialog::Accepted); }, Qt::QueuedConnection);
    }
}

void PostEditorView::showConflictAlert()
{
    if (!m_session || !m_session->conflictAlert())
        return;
    if (!isVisible()) {
        m_askWhenShown = true;
        return;
    }
    if (m_alert) {
        m_alert->raise();
        return;
    }
    m_alertDismissed = false;
    auto *alert = new ConflictAlert(conflictMessage(*m_session), this);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    m_alert = alert;
    // An answer acts while the conflict still stands.
    connect(alert, &ConflictAlert::reloadChosen, this, [this] {
        if (m_session)
            m_session->reloadFromDisk();
    });
    connect(alert, &ConflictAlert::keepLocalChosen, this, [this] {
        if (m_session)
            m_session->keepLocal();
    });
    connect(alert, &QDialog::finished, this, [this, alert] {
        if (m_session && m_session->conflictAlert())
            m_alertDismissed = true;
        alert->deleteLater();
        m_alert = nullptr;
        updateSaveState();
        // Back to the text, in the editor's window.
        window()->activateWindow();
        if (m_prose)
            m_prose->textView()->setFocus();
        else
            m_outline->setFocus();
    });
    alert->open();
}

namespace {
ReadingViewFactory &readingViewFactory()
{
    static ReadingViewFactory factory = [](QWidget *parent) { return loadReadingView(parent); };
    return factory;
}
} // namespace

void PostEditorView::setReadingViewFactory(ReadingViewFactory factory)
{
    readingViewFactory() = std::move(factory);
}

void PostEditorView::setReadingRunner(ReadingPresenter::Runner runner)
{
    m_readingRunner = runner;
    if (m_surface)
        m_surface->setRunner(std::move(runner));
}

void PostEditorView::toggleReading()
{
    if (m_reading) {
        returnToEditing();
        return;
    }
    // The live caret of the prose editor (the session's record of it, and a
    // draft's too); the session's for any other editor.
    if (m_prose)
        m_readingState.entryLocation = m_prose->textView()->textCursor().selectionStart();
    else
        m_readingState.entryLocation =
            m_session ? std::optional<qint64>(m_session->cursor().selectionLocation) : std::nullopt;
    auto *column = static_cast<QVBoxLayout *>(layout());
    if (!m_surface) {
        // The web engine starts here, with the first page.
        m_surface = readingViewFactory()(this);
        if (!m_surface)
            return;
        if (m_readingRunner)
            m_surface->setRunner(m_readingRunner);
        column->addWidget(m_surface, 1);
    }
    m_reading = true;
    feedReadingSurface();
    // The editor steps aside, as it is.
    m_hiddenForReading.clear();
    for (int i = 0; i < column->count(); ++i) {
        QWidget *widget = column->itemAt(i)->widget();
        if (widget && widget != m_header && widget != m_surface && !widget->isHidden()) {
            m_hiddenForReading.append(widget);
            widget->hide();
        }
    }
    m_surface->show();
    m_surface->setFocus();
    updateReadButton();
}

void PostEditorView::feedReadingSurface()
{
    ReadingInputs inputs;
    inputs.text = m_session ? m_session->text() : m_draftMirror;
    inputs.generation = m_session ? m_session->loadGeneration() : 0;
    if (m_session)
        inputs.postFolder = m_session->folderPath();
    inputs.entryCaretLocation = m_readingState.entryLocation;
    inputs.onEditIntent = [this](qint64 location) {
        // After the page's message has been handled.
        QMetaObject::invokeMethod(
            this, [this, location] { returnToEditing(location); }, Qt::QueuedConnection);
    };
    inputs.stateBox = &m_readingState;
    m_surface->setInputs(std::move(inputs));
}

void PostEditorView::returnToEditing(std::optional<qint64> location)
{
    if (!m_reading)
        return;
    ++m_flipToken;
    const qint64 caret = location.value_or(m_readingState.topSourceLocation.value_or(0));
    m_reading = false;
    m_surface->hide();
    for (const QPointer<QWidget> &widget : std::exchange(m_hiddenForReading, {})) {
        if (widget)
            widget->show();
    }
    if (m_prose) {
        m_prose->setCaretHint(ProseTextView::CaretHint{qsizetype(caret), m_flipToken});
        m_prose->focusText();
    }
    updateReadButton();
}

void PostEditorView::updateReadButton()
{
    m_readButton->setText(m_reading ? u"Edit"_s : u"Read"_s);
    m_readButton->setToolTip(m_reading ? u"Return to editing (Ctrl+R)"_s : u"Render this post (Ctrl+R)"_s);
}

void PostEditorView::updateNotice()
{
    if (!m_notice)
        return;
    const bool failed = m_session && m_session->saveState() == SaveState::failed;
    const bool draftEdited = !m_session && m_draftMirror != m_inputs.draftText.value_or(QString());
    m_noticeDot->setVisible(failed);
    m_noticeHint->setVisible(!failed && draftEdited);
    const bool shown = m_focused && (failed || draftEdited);
    m_notice->setVisible(shown);
    if (shown) {
        m_notice->adjustSize();
        m_notice->move((width() - m_notice->width()) / 2, 12);
        m_notice->raise();
    }
}

void PostEditorView::flushForClose()
{
    if (!m_session)
        return;
    // The writer did not ask for this write: an outside change is asked
    // about, never overwritten.
    if (m_session->diskChangedUnderneath())
        return;
    m_session->flush();
}

bool PostEditorView::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Close && watched->isWidgetType()) {
        const auto *widget = static_cast<QWidget *>(watched);
        const Qt::WindowType type = widget->windowType();
        // The alert itself closing is its answer, not a window going away.
        if (widget->isWindow() && widget != m_alert && (type == Qt::Window || type == Qt::Dialog || type == Qt::Sheet))
            flushForClose();
    }
    return QWidget::eventFilter(watched, event);
}

void PostEditorView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), m_focused ? app::Palette::canvas() : app::Palette::page());
}

void PostEditorView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    updateNotice();
}

void PostEditorView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (std::exchange(m_askWhenShown, false))
        QMetaObject::invokeMethod(this, &PostEditorView::showConflictAlert, Qt::QueuedConnection);
}

} // namespace editor
