#pragma once
// Holds a watcher's background walk before the walk below one folder until
// released, so a test can change the tree while the walk is half done.

#include "model/postswatcher.h"
#include "testutil.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

namespace testsupport {

class WalkGate {
public:
    WalkGate(model::PostsWatcher &watcher, const QString &heldAt)
    {
        watcher.beforeBackgroundWalk = [state = m_state, heldAt](const QString &folder) {
            if (folder != heldAt)
                return;
            state->reached = true;
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            while (!state->released && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        };
    }
    ~WalkGate() { release(); }
    WalkGate(const WalkGate &) = delete;
    WalkGate &operator=(const WalkGate &) = delete;
    bool waitUntilReached()
    {
        return spinUntil([&] { return m_state->reached.load(); });
    }
    void release() { m_state->released = true; }

private:
    struct State {
        std::atomic<bool> reached{false};
        std::atomic<bool> released{false};
    };
    std::shared_ptr<State> m_state = std::make_shared<State>();
};

} // namespace testsupport
