#include "postspaneview.h"

#include "chrome/palette.h"
#include "chrome/workspacechrome.h"
#include "model/postsmodel.h"
#include "panes/library/views/libraryglyphs.h"
#include "panes/library/views/postslibrarycolumn.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <utility>

using namespace Qt::StringLiterals;

namespace panes {

using app::Palette;
using app::Typeface;
using Case = PostsEditorContent::Case;

namespace {

constexpr int hoverZoneWidth = 8;

// The title a draft's text gives: its first line without a heading's marks.
QString draftTitle(const QString &text)
{
    for (const QString &line : text.split(u'\n')) {
        QString title = line.trimmed();
        while (title.startsWith(u'#') || title.startsWith(u'-'))
            title = title.mid(1).trimmed();
        if (!title.isEmpty())
            return title;
    }
    return u"Untitled"_s;
}

QWidget *mentorPlaceholder()
{
    auto *place = new QWidget;
    app::fillBackground(place, Palette::canvas());
    auto *layout = new QVBoxLayout(place);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(new app::PaneHeader(u"Mentor"_s, 14, std::nullopt, nullptr));
    auto *note = app::plainLabel(u"The mentor joins the writer here."_s, Typeface::font(QFont().family(), 13),
                                 Palette::inkMuted());
    note->setAlignment(Qt::AlignCenter);
    note->setWordWrap(true);
    layout->addWidget(note, 1);
    return place;
}

QDialog *publishPlaceholder(QWidget *parent)
{
    auto *sheet = new QDialog(parent);
    sheet->setWindowTitle(u"Publish"_s);
    sheet->setFixedWidth(360);
    auto *layout = new QVBoxLayout(sheet);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(12);
    auto *heading = new QLabel(u"Publish"_s);
    heading->setFont(app::sheetTitleFont());
    layout->addWidget(heading);
    auto *note = app::plainLabel(u"Publishing to the blog is not set up yet."_s, Typeface::font(QFont().family(), 13),
                                 Palette::inkMuted());
    note->setWordWrap(true);
    layout->addWidget(note);
    auto *close = new QPushButton(u"Close"_s);
    close->setDefault(true);
    QObject::connect(close, &QPushButton::clicked, sheet, &QDialog::reject);
    auto *row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(close);
    layout->addLayout(row);
    return sheet;
}

} // namespace

PostsPaneView::PostsPaneView(const QString &home, model::PostsModel *model, QWidget *parent)
    : QWidget(parent), m_home(home), m_model(model), m_editorFactory(&PostsPaneView::editorPlaceholder),
      m_mentorFactory(&mentorPlaceholder), m_publishFactory(&publishPlaceholder), m_row(new QHBoxLayout(this))
{
    m_row->setContentsMargins(0, 0, 0, 0);
    m_row->setSpacing(0);
    if (m_model) {
        for (auto signal :
             {&model::PostsModel::draftChanged, &model::PostsModel::sessionChanged,
              &model::PostsModel::externalSessionChanged, &model::PostsModel::selectedPostIDChanged,
              &model::PostsModel::proseOverridePostIDChanged, &model::PostsModel::outlineGuardPieceIDChanged,
              &model::PostsModel::lastDraftWasOutlineChanged, &model::PostsModel::postsChanged})
            connect(m_model, signal, this, [this] { refreshContent(false); });
        connect(m_model, &model::PostsModel::lastErrorChanged, this, &PostsPaneView::refreshError);
        connect(m_model, &model::PostsModel::sessionChanged, this, &PostsPaneView::watchConflicts);
        connect(m_model, &model::PostsModel::externalSessionChanged, this, &PostsPaneView::watchConflicts);
        watchConflicts();
    }
    rebuild();
}

PostsPaneView::~PostsPaneView()
{
    if (m_focused)
        emit focusedLayoutLeft();
    if (m_editor && m_editorRelease) {
        QWidget *editor = m_editor;
        m_editorLayout->removeWidget(editor);
        m_editorRelease(editor, m_content, m_editorSession);
    }
}

PostsPaneColumns PostsPaneView::columns() const
{
    return m_focused ? PostsPaneLayout::focused(m_availableWidth, m_locked)
                     : PostsPaneLayout::regular(m_availableWidth);
}

void PostsPaneView::setAvailableWidth(double width)
{
    if (width == m_availableWidth)
        return;
    m_availableWidth = width;
    refreshColumns();
}

void PostsPaneView::setFocusMode(bool focused)
{
    if (focused == m_focused)
        return;
    const bool leaving = m_focused;
    m_focused = focused;
    // The editor moves to the other layout under its key; the rest is made
    // anew.
    rebuild();
    if (leaving)
        emit focusedLayoutLeft();
}

void PostsPaneView::setWritingLocked(bool locked)
{
    if (locked == m_locked)
        return;
    m_locked = locked;
    refreshColumns();
}

void PostsPaneView::setEditorFactory(EditorFactory factory)
{
    m_editorFactory = factory ? std::move(factory) : EditorFactory(&PostsPaneView::editorPlaceholder);
    refreshContent(true);
}

void PostsPaneView::setMentorFactory(PlaceFactory factory)
{
    m_mentorFactory = factory ? std::move(factory) : PlaceFactory(&mentorPlaceholder);
    delete m_mentor;
    delete m_mentorRule;
    refreshColumns();
}

void PostsPaneView::setPublishSheetFactory(SheetFactory factory)
{
    m_publishFactory = factory ? std::move(factory) : SheetFactory(&publishPlaceholder);
}

QWidget *PostsPaneView::rule() const
{
    return app::hairline(Qt::Vertical);
}

void PostsPaneView::rebuild()
{
    // The editor is kept through the rebuild: its caret, scroll and undo
    // history, and the keyboard when it had it.
    const QPointer<QWidget> kept = m_editor;
    QPointer<QWidget> focused = QApplication::focusWidget();
    if (!kept || !kept->isAncestorOf(focused))
        focused = nullptr;
    if (kept) {
        m_editorLayout->removeWidget(kept);
        kept->setParent(this);
    }

    delete m_column;
    delete m_columnRule;
    delete m_mentor;
    delete m_mentorRule;
    delete m_hoverZone;
    delete m_editorArea;
    m_editor = nullptr;
    m_emptyState = nullptr;
    m_emptyMessage = nullptr;

    m_editorArea = new QWidget;
    app::fillBackground(m_editorArea, Palette::page());
    m_editorLayout = new QVBoxLayout(m_editorArea);
    m_editorLayout->setContentsMargins(0, 0, 0, 0);
    m_editorLayout->setSpacing(0);
    m_errorLine = new QLabel;
    m_errorLine->setTextFormat(Qt::PlainText);
    m_errorLine->setWordWrap(true);
    m_errorLine->setAlignment(Qt::AlignHCenter);
    m_errorLine->setContentsMargins(12, 6, 12, 6);
    m_errorLine->setFont(Typeface::font(Typeface::mono(), 11));
    QPalette palette = m_errorLine->palette();
    palette.setColor(QPalette::WindowText, Palette::accent());
    m_errorLine->setPalette(palette);
    m_editorLayout->addWidget(m_errorLine);
    m_row->addWidget(m_editorArea, 1);
    m_editorArea->show();
    if (kept) {
        m_editor = kept;
        m_editorLayout->insertWidget(0, kept, 1);
        kept->show();
        if (focused)
            focused->setFocus();
    }

    refreshColumns();
    // Anything but the kept editor is made again.
    refreshContent(false);
    refreshError();
}

void PostsPaneView::refreshColumns()
{
    const PostsPaneColumns shown = columns();
    if (shown.libraryColumn && !m_column) {
        m_column = new PostsLibraryColumn(m_home, m_model);
        m_columnRule = rule();
        m_row->insertWidget(0, m_column);
        m_row->insertWidget(1, m_columnRule);
    } else if (!shown.libraryColumn && m_column) {
        delete m_column;
        delete m_columnRule;
    }
    if (shown.mentor && !m_mentor) {
        m_mentor = m_mentorFactory();
        m_mentor->setFixedWidth(PostsPaneLayout::mentorWidth);
        if (m_focused) {
            // An overlay at the trailing edge, shown while the pointer is there.
            m_mentor->setParent(this);
            m_mentor->hide();
            m_mentor->installEventFilter(this);
            m_hoverZone = new QWidget(this);
            m_hoverZone->setAttribute(Qt::WA_Hover);
            m_hoverZone->installEventFilter(this);
            // Shown only once at the edge: shown where it is made, under the
            // pointer, it would open the panel at once.
            placeMentorOverlay();
            m_hoverZone->show();
        } else {
            m_mentorRule = rule();
            m_row->addWidget(m_mentorRule);
            m_row->addWidget(m_mentor);
        }
    } else if (!shown.mentor && m_mentor) {
        delete m_mentor;
        delete m_mentorRule;
        delete m_hoverZone;
    }
}

void PostsPaneView::placeMentorOverlay()
{
    if (m_focused && m_mentor)
        m_mentor->setGeometry(width() - PostsPaneLayout::mentorWidth, 0, PostsPaneLayout::mentorWidth, height());
    if (m_hoverZone) {
        m_hoverZone->setGeometry(width() - hoverZoneWidth, 0, hoverZoneWidth, height());
        m_hoverZone->raise();
    }
}

void PostsPaneView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    placeMentorOverlay();
}

bool PostsPaneView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_hoverZone && event->type() == QEvent::Enter && m_mentor) {
        m_mentor->show();
        m_mentor->raise();
    } else if (watched == m_mentor && m_focused && event->type() == QEvent::Leave) {
        m_mentor->hide();
    }
    return QWidget::eventFilter(watched, event);
}

model::EditorSession *PostsPaneView::sessionFor(Case which) const
{
    if (!m_model)
        return nullptr;
    switch (which) {
    case Case::outsideFile: return m_model->externalSession();
    case Case::openPiece: return m_model->session();
    case Case::draft:
    case Case::nothingOpen:
    case Case::heldOutline: break;
    }
    return nullptr;
}

PostsEditorRequest PostsPaneView::request() const
{
    PostsEditorRequest request;
    request.content = m_content;
    request.model = m_model;
    if (!m_model)
        return request;
    request.session = sessionFor(m_content.which);
    switch (m_content.which) {
    case Case::draft:
        request.draftEdited = [model = m_model](const QString &text) {
            if (model)
                model->setDraftText(text);
        };
        request.draftSave = [model = m_model] {
            if (model)
                model->saveDraft();
        };
        break;
    case Case::openPiece:
        request.publish = [pane = QPointer<PostsPaneView>(const_cast<PostsPaneView *>(this))] {
            if (pane)
                pane->showPublish();
        };
        break;
    case Case::outsideFile:
    case Case::nothingOpen:
    case Case::heldOutline: break;
    }
    return request;
}

void PostsPaneView::refreshContent(bool force)
{
    PostsEditorContent content = m_model ? PostsEditorContent::of(*m_model) : PostsEditorContent();
    // An editor left on a session the model has replaced would send the
    // writer's words nowhere: a new session means a new editor.
    const bool same = content.which == m_content.which && content.identityKey == m_content.identityKey
                      && sessionFor(content.which) == m_editorSession;
    if (!force && same && (m_editor || m_emptyState)) {
        m_content = content;
        return;
    }
    m_content = content;
    delete m_editor;
    delete m_emptyState;
    m_emptyMessage = nullptr;
    if (content.showsEditor()) {
        const PostsEditorRequest made = request();
        m_editorSession = made.session;
        m_editor = m_editorFactory(made);
        m_editorLayout->insertWidget(0, m_editor, 1);
        // On screen at once: a kept editor was hidden when it was put away.
        m_editor->show();
        return;
    }
    m_editorSession = nullptr;
    m_emptyState = new QWidget;
    auto *layout = new QVBoxLayout(m_emptyState);
    layout->setSpacing(10);
    layout->addStretch(1);
    const LibraryGlyph glyph =
        content.which == Case::heldOutline ? LibraryGlyph::listBullet : LibraryGlyph::squareAndPencil;
    layout->addWidget(new GlyphLabel(glyph, 30, Palette::inkMuted()), 0, Qt::AlignHCenter);
    m_emptyMessage = app::plainLabel(PostsEditorContent::emptyMessage(content.which),
                                     Typeface::font(QFont().family(), 13), Palette::inkMuted());
    m_emptyMessage->setAlignment(Qt::AlignHCenter);
    m_emptyMessage->setWordWrap(true);
    layout->addWidget(m_emptyMessage);
    layout->addStretch(1);
    m_editorLayout->insertWidget(0, m_emptyState, 1);
}

void PostsPaneView::refreshError()
{
    const std::optional<QString> error = m_model ? m_model->lastError() : std::nullopt;
    m_errorLine->setText(error.value_or(QString()));
    m_errorLine->setVisible(error.has_value());
    if (!error)
        m_conflictError.reset();
    else if (conflictStands())
        m_conflictError = error;
}

bool PostsPaneView::conflictStands() const
{
    if (!m_model)
        return false;
    const model::EditorSession *piece = m_model->session();
    const model::EditorSession *outside = m_model->externalSession();
    return (piece && piece->conflictAlert()) || (outside && outside->conflictAlert());
}

void PostsPaneView::watchConflicts()
{
    for (const QMetaObject::Connection &watch : std::as_const(m_conflictWatches))
        disconnect(watch);
    m_conflictWatches.clear();
    for (model::EditorSession *session : {m_model->session(), m_model->externalSession()}) {
        if (session)
            m_conflictWatches << connect(session, &model::EditorSession::conflictAlertChanged, this,
                                         &PostsPaneView::conflictSettled);
    }
    conflictSettled();
}

void PostsPaneView::conflictSettled()
{
    // Reload clears the error by itself; Keep Local leaves it to this.
    if (!m_conflictError || conflictStands())
        return;
    const std::optional<QString> error = std::exchange(m_conflictError, std::nullopt);
    if (m_model && m_model->lastError() == error)
        m_model->setLastError(std::nullopt);
}

void PostsPaneView::showPublish()
{
    if (m_publishSheet)
        return;
    m_publishSheet = m_publishFactory(this);
    m_publishSheet->setAttribute(Qt::WA_DeleteOnClose);
    m_publishSheet->setWindowModality(Qt::WindowModal);
    m_publishSheet->open();
}

QWidget *PostsPaneView::editorPlaceholder(const PostsEditorRequest &request)
{
    QString kind;
    QString title;
    QString location;
    const model::PostsModel *model = request.model;
    switch (request.content.which) {
    case Case::draft:
        kind = request.content.outline ? u"New outline"_s : u"New post"_s;
        title = model && model->draft() ? draftTitle(model->draft()->text) : QString();
        location =
            model && model->draft() ? u"projects/"_s + model->draft()->project + u"/ — not saved yet"_s : QString();
        break;
    case Case::outsideFile:
        kind = u"Outside file"_s;
        title = request.session ? QFileInfo(request.session->target().filePath()).fileName() : QString();
        location = request.session ? request.session->target().filePath() : QString();
        break;
    case Case::openPiece:
        kind = request.content.outline ? u"Outline"_s : u"Post"_s;
        title = model && request.session ? model->displayTitle(request.session->target().id()) : QString();
        location = request.session ? request.session->folderPath() : QString();
        break;
    case Case::nothingOpen:
    case Case::heldOutline: break;
    }
    auto *editor = new QWidget;
    editor->setObjectName(u"editorPlaceholder"_s);
    auto *layout = new QVBoxLayout(editor);
    layout->setContentsMargins(48, 48, 48, 48);
    layout->setSpacing(8);
    layout->addStretch(1);
    layout->addWidget(app::plainLabel(kind.toUpper(), Typeface::font(Typeface::mono(), 11), Palette::inkMuted()), 0,
                      Qt::AlignHCenter);
    auto *heading = new QLabel(title);
    heading->setObjectName(u"title"_s);
    heading->setTextFormat(Qt::PlainText);
    heading->setWordWrap(true);
    heading->setAlignment(Qt::AlignHCenter);
    heading->setFont(Typeface::font(Typeface::serif(), 22, QFont::DemiBold));
    layout->addWidget(heading);
    auto *where = app::plainLabel(location, Typeface::font(Typeface::mono(), 11), Palette::inkMuted());
    where->setObjectName(u"location"_s);
    where->setWordWrap(true);
    where->setAlignment(Qt::AlignHCenter);
    layout->addWidget(where);
    if (request.publish) {
        auto *publish = new QPushButton(u"Publish…"_s);
        app::BorderedSecondaryButtonStyle::apply(publish, 28);
        QObject::connect(publish, &QPushButton::clicked, editor, request.publish);
        layout->addSpacing(8);
        layout->addWidget(publish, 0, Qt::AlignHCenter);
    }
    layout->addStretch(1);
    return editor;
}

} // namespace panes
