#pragma once
// The real panes in the workspace's places: each pane is built over the root
// state's models and follows the root state's focus, lock and Home.

namespace app {

class WorkspaceView;

void mountPanes(WorkspaceView &workspace);

} // namespace app
