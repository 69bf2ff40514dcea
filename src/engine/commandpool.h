#pragma once
// The worker threads of the engine's blocking commands (the engine check and
// other short runs through the process runner): never the main thread, and
// never Qt's global pool, which other work may fill.

class QThreadPool;

namespace engine {

QThreadPool *commandPool();

} // namespace engine
