#include "app/panemounts.h"

#include "app/appgatestate.h"
#include "app/workspaceview.h"
#include "editor/prose/views/posteditorview.h"
#include "panes/library/views/postslibrarycolumn.h"
#include "panes/library/views/postspaneview.h"
#include "profiles/views/settingspaneview.h"

#include <QTimer>

namespace app {

namespace {

// The prose editor for the pane's open text; outlines keep the pane's own
// place until the outline editor is mounted.
QWidget *buildEditor(AppGateState &gate, const panes::PostsEditorRequest &request)
{
    if (request.content.outline)
        return panes::PostsPaneView::editorPlaceholder(request);
    editor::PostEditorView::Inputs inputs;
    inputs.session = request.session;
    if (request.content.which == panes::PostsEditorContent::Case::draft && request.model && request.model->draft())
        inputs.draftText = request.model->draft()->text;
    inputs.draftEdited = request.draftEdited;
    inputs.draftSave = request.draftSave;
    inputs.publish = request.publish;
    inputs.routeDrop = [&gate](const QList<QUrl> &urls) { return gate.acceptDroppedFiles(urls); };
    inputs.dropBridge = &gate.proseDrop();
    auto *view = new editor::PostEditorView(std::move(inputs));
    view->setSpellChecking(gate.spellChecking());
    view->setFocused(gate.isFocused());
    QObject::connect(&gate, &AppGateState::spellCheckingChanged, view,
                     [view, &gate] { view->setSpellChecking(gate.spellChecking()); });
    QObject::connect(&gate, &AppGateState::isFocusedChanged, view,
                     [view, &gate] { view->setFocused(gate.isFocused()); });
    return view;
}

QWidget *buildPostsPane(WorkspaceView &workspace)
{
    AppGateState &gate = workspace.gate();
    focus::WritingLockState &lock = gate.writingLock();
    auto *pane = new panes::PostsPaneView(gate.pennoraHome(), &gate.posts());
    pane->setAvailableWidth(workspace.availableWidth());
    pane->setFocusMode(gate.isFocused());
    pane->setWritingLocked(lock.isLocked());
    pane->setEditorFactory([&gate](const panes::PostsEditorRequest &request) { return buildEditor(gate, request); });
    QObject::connect(&workspace, &WorkspaceView::availableWidthChanged, pane,
                     [pane](int width) { pane->setAvailableWidth(width); });
    QObject::connect(&gate, &AppGateState::isFocusedChanged, pane,
                     [pane, &gate] { pane->setFocusMode(gate.isFocused()); });
    QObject::connect(&lock, &focus::WritingLockState::isLockedChanged, pane,
                     [pane, &lock] { pane->setWritingLocked(lock.isLocked()); });
    QObject::connect(pane, &panes::PostsPaneView::focusedLayoutLeft, &lock, [&lock] { lock.setShowsArmBar(false); });
    // The pane's Home is fixed for its life: a new Home builds a new pane,
    // once the signal that asked for it has returned.
    QObject::connect(&gate, &AppGateState::pennoraHomeChanged, pane, [&workspace] {
        QTimer::singleShot(0, &workspace,
                           [&workspace] { workspace.setPaneFactory(WorkspaceView::Pane::posts, &buildPostsPane); });
    });
    return pane;
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
    workspace.setPaneFactory(WorkspaceView::Pane::posts, &buildPostsPane);
    workspace.setPaneFactory(WorkspaceView::Pane::settings, &buildSettingsPane);
    workspace.setLibraryColumnFactory(&buildLibraryColumn);
}

} // namespace app
