#pragma once
// The worker pools of the application's background work. Each has a name, is
// made the first time it is asked for and lives until the process ends.

#include <QThread>

#include <chrono>

class QThreadPool;

namespace foundation {

struct PoolSettings {
    int maxThreads = 1;
    QThread::Priority priority = QThread::InheritPriority;
    // An idle thread ends after this long.
    std::chrono::milliseconds expiry = std::chrono::seconds(30);
};

// The pool of that name; its settings are those of the first call. Thread-safe.
QThreadPool *namedPool(const char *name, const PoolSettings &settings);

// Returns once every pool is idle at the same time. Work on one pool may queue
// work on another (a rescan maps its folders on the scan pool), so each pool is
// waited for again until a whole round finds nothing running. The pools end
// with this wait after main returns.
void waitForAllPools();

// Blocking outside commands (the engine check, the engine's configuration
// commands, key-file rewrites): a few at once, each mostly waiting for its
// child, below the writer's typing and the window.
QThreadPool *commandPool();

} // namespace foundation
