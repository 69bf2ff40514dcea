#pragma once
// The quit guard: every way out of the application (the Quit command, closing
// the main window, SIGTERM, SIGINT, SIGHUP) asks it first. It saves every open
// text and refuses while one cannot be saved, then asks before ending a
// running writing block.

#include <QString>
#include <functional>

namespace focus {

class WritingLockAppDelegate {
public:
    // Shows why the quit was refused (the library's last error).
    std::function<void(const QString &reason)> showRefusal;
    // Asks whether to end the running block; true lets the quit go on.
    std::function<bool()> confirmEndingBlock;

    // Whether the application may quit now. Reads the process's library model
    // and writing lock; with neither it answers true.
    bool applicationShouldTerminate() const;
};

} // namespace focus
