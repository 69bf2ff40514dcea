#pragma once
// The worker threads of blocking outside commands (the engine check, the
// engine's configuration commands, key-file rewrites): never the main thread,
// and never Qt's global pool, which other work may fill. One pool for every
// library that runs them.

class QThreadPool;

namespace foundation {

QThreadPool *commandPool();

} // namespace foundation
