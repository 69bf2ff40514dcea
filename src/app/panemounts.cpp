#include "app/panemounts.h"

#include "app/state/appgatestate.h"
#include "app/workspaceview.h"
#include "editor/outline/views/outlineeditorview.h"
#include "editor/prose/views/posteditorview.h"
#include "editor/prose/views/prosetextview.h"
#include "panes/library/views/archivepaneview.h"
#include "panes/library/views/postslibrarycolumn.h"
#include "panes/library/views/postspaneview.h"
#include "profiles/views/settingspaneview.h"
#include "publish/views/micropubpublishsheet.h"

#include <QPointer>
#include <QTimer>

#include <utility>

namespace app {

namespace {

// The app token's store, for the life of the process: a send outlives the
// sheet that started it.
publish::Micropub::SecretStore &publishTokenStore()
{
    static publish::Micropub::KeyringSecretStore store;
    return store;
}

// Keeps the prose editor of a posts pane that goes away (another pane is
// chosen in the rail) for the next posts pane, so the writer comes back to
// the same editor: its caret, scroll and undo history. Hidden; one per
// workspace.
class EditorShelf : public QWidget {
public:
    explicit EditorShelf(QWidget *parent) : QWidget(parent) { hide(); }

    void park(QWidget *editor, const panes::PostsEditorContent &content, model::EditorSession *session)
    {
        auto *prose = qobject_cast<editor::PostEditorView *>(editor);
        if (!prose)
            return;
        delete m_editor.data();
        prose->setParent(this);
        m_editor = prose;
        m_content = content;
        m_session = session;
    }

    // The kept editor when it shows what request asks for, on the same
    // session; anything else kept is dropped.
    editor::PostEditorView *take(const panes::PostsEditorRequest &request)
    {
        QPointer<editor::PostEditorView> kept = std::exchange(m_editor, nullptr);
        if (!kept)
            return nullptr;
        const bool sameText = request.session ? m_session == request.session
                                              : !m_session && request.model && request.model->draft()
                                                    && kept->draftMirror() == request.model->draft()->text;
        if (m_content == request.content && sameText)
            return kept;
        delete kept.data();
        return nullptr;
    }

private:
    QPointer<editor::PostEditorView> m_editor;
    panes::PostsEditorContent m_content;
    QPointer<model::EditorSession> m_session;
};

// The outline editor in the editor screen's text place. A piece the outline
// can no longer show opens in prose from its held state.
editor::outline::OutlineEditorView *buildOutline(const panes::PostsEditorRequest &request,
                                                 model::EditorSession *session, const std::optional<QString> &draftText,
                                                 std::function<void(const QString &text)> draftEdited)
{
    editor::outline::OutlineEditorView::Inputs inputs;
    inputs.session = session;
    inputs.draftText = draftText;
    inputs.onDraftEdit = std::move(draftEdited);
    model::PostsModel *posts = request.model;
    if (posts && session && session->target().kind() == model::SessionTarget::Kind::post) {
        const QString id = session->target().id();
        inputs.openInProse = [posts, id] { posts->setProseOverridePostID(id); };
    }
    return new editor::outline::OutlineEditorView(std::move(inputs));
}

// The editor screen for the pane's open text (prose, or the outline editor
// for an outline), the kept one when it shows that text.
QWidget *buildEditor(AppGateState &gate, EditorShelf *shelf, const panes::PostsEditorRequest &request)
{
    if (editor::PostEditorView *kept = shelf ? shelf->take(request) : nullptr) {
        // The new pane's publish sheet; the rest followed the app all along.
        kept->setPublish(request.publish);
        kept->setSpellChecking(gate.spellChecking());
        kept->setFocused(gate.isFocused());
        if (editor::ProseTextView *prose = kept->proseTextView()) {
            prose->setDropBridge(&gate.proseDrop());
            prose->focusText();
        }
        return kept;
    }
    editor::PostEditorView::Inputs inputs;
    inputs.session = request.session;
    if (request.content.which == panes::PostsEditorContent::Case::draft && request.model && request.model->draft())
        inputs.draftText = request.model->draft()->text;
    inputs.draftEdited = request.draftEdited;
    inputs.draftSave = request.draftSave;
    inputs.publish = request.publish;
    inputs.routeDrop = [&gate](const QList<QUrl> &urls) { return gate.acceptDroppedFiles(urls); };
    inputs.dropBridge = &gate.proseDrop();
    inputs.onTextChange = [&gate](const QString &text) { gate.writingLock().updateGoalWords(text); };
    if (request.content.outline)
        inputs.outlineEditor = [request](model::EditorSession *session, const std::optional<QString> &draftText,
                                         std::function<void(const QString &text)> draftEdited) {
            return buildOutline(request, session, draftText, std::move(draftEdited));
        };
    auto *view = new editor::PostEditorView(std::move(inputs));
    view->setSpellChecking(gate.spellChecking());
    view->setFocused(gate.isFocused());
    QObject::connect(&gate, &AppGateState::spellCheckingChanged, view,
                     [view, &gate] { view->setSpellChecking(gate.spellChecking()); });
    QObject::connect(&gate, &AppGateState::isFocusedChanged, view,
                     [view, &gate] { view->setFocused(gate.isFocused()); });
    // Only the editor on screen flips; a kept one waits on its shelf.
    QObject::connect(&gate, &AppGateState::toggleReadingMode, view, [view] {
        if (view->isVisible())
            view->toggleReading();
    });
    return view;
}

WorkspaceView::PaneFactory postsPaneFactory(const QPointer<EditorShelf> &shelf);

QWidget *buildPostsPane(WorkspaceView &workspace, const QPointer<EditorShelf> &shelf)
{
    AppGateState &gate = workspace.gate();
    focus::WritingLockState &lock = gate.writingLock();
    auto *pane = new panes::PostsPaneView(gate.pennoraHome(), &gate.posts());
    pane->setAvailableWidth(workspace.availableWidth());
    pane->setFocusMode(gate.isFocused());
    pane->setWritingLocked(lock.isLocked());
    pane->setEditorFactory(
        [&gate, shelf](const panes::PostsEditorRequest &request) { return buildEditor(gate, shelf, request); });
    pane->setEditorRelease(
        [shelf](QWidget *editor, const panes::PostsEditorContent &content, model::EditorSession *session) {
            if (shelf)
                shelf->park(editor, content, session);
        });
    pane->setPublishSheetFactory([&gate](QWidget *parent) -> QDialog * {
        return new publish::MicropubPublishSheet(gate.posts(), publishTokenStore(), publish::Micropub::Client(),
                                                 parent);
    });
    QObject::connect(&workspace, &WorkspaceView::availableWidthChanged, pane,
                     [pane](int width) { pane->setAvailableWidth(width); });
    QObject::connect(&gate, &AppGateState::isFocusedChanged, pane,
                     [pane, &gate] { pane->setFocusMode(gate.isFocused()); });
    QObject::connect(&lock, &focus::WritingLockState::isLockedChanged, pane,
                     [pane, &lock] { pane->setWritingLocked(lock.isLocked()); });
    QObject::connect(pane, &panes::PostsPaneView::focusedLayoutLeft, &lock, [&lock] { lock.setShowsArmBar(false); });
    // The pane's Home is fixed for its life: a new Home builds a new pane,
    // once the signal that asked for it has returned.
    QObject::connect(&gate, &AppGateState::pennoraHomeChanged, pane, [&workspace, shelf] {
        QTimer::singleShot(0, &workspace, [&workspace, shelf] {
            workspace.setPaneFactory(WorkspaceView::Pane::posts, postsPaneFactory(shelf));
        });
    });
    return pane;
}

WorkspaceView::PaneFactory postsPaneFactory(const QPointer<EditorShelf> &shelf)
{
    return [shelf](WorkspaceView &workspace) { return buildPostsPane(workspace, shelf); };
}

// The library column of the wide focus panel, over the same library model as
// the posts pane; a new Home builds a new one.
QWidget *buildLibraryColumn(WorkspaceView &workspace)
{
    AppGateState &gate = workspace.gate();
    auto *column = new panes::PostsLibraryColumn(gate.pennoraHome(), &gate.posts());
    QObject::connect(&gate, &AppGateState::pennoraHomeChanged, column, [&workspace] {
        QTimer::singleShot(0, &workspace, [&workspace] { workspace.setLibraryColumnFactory(&buildLibraryColumn); });
    });
    return column;
}

// Over the app's library model, which outlives every Home: a click on a row
// brings the posts pane forward, while moving a piece back, renaming and
// unarchiving open what they open behind the archive.
QWidget *buildArchivePane(WorkspaceView &workspace)
{
    return new panes::ArchivePaneView(
        &workspace.gate().posts(), [&workspace] { workspace.select(WorkspaceView::Pane::posts); },
        [&workspace](const std::function<void()> &call) { workspace.keepPaneInFront(call); });
}

// Built on each entry into settings, over the fresh settings model the
// workspace made for it.
QWidget *buildSettingsPane(WorkspaceView &workspace)
{
    auto *pane = new profiles::SettingsPaneView(
        workspace.settingsModel(), [&workspace] { return workspace.home(); },
        [&workspace](const QString &folder) { workspace.setHome(folder); });
    QObject::connect(&workspace.gate(), &AppGateState::pennoraHomeChanged, pane, [pane] { pane->refreshHome(); });
    return pane;
}

} // namespace

void mountPanes(WorkspaceView &workspace)
{
    workspace.setPaneFactory(WorkspaceView::Pane::posts, postsPaneFactory(new EditorShelf(&workspace)));
    workspace.setPaneFactory(WorkspaceView::Pane::archive, &buildArchivePane);
    workspace.setPaneFactory(WorkspaceView::Pane::settings, &buildSettingsPane);
    workspace.setLibraryColumnFactory(&buildLibraryColumn);
}

} // namespace app
