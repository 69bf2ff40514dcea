#pragma once
// WritingLockAppDelegate is the application's quit guard, not only the
// writing lock's: every way out of the application (the Quit command, closing
// the main window, SIGTERM, SIGINT, SIGHUP) goes through it first. An
// interactive quit saves every open text and is refused while one cannot be
// saved, then asks before ending a running writing block. A quit by signal
// cannot wait for an answer (at logout a SIGKILL follows): it asks nothing,
// and a text that cannot be saved in place is written beside its file.

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
    // Before a quit by signal, which always goes on: saves every open text;
    // one that cannot be saved in place (a disk conflict standing, a failed
    // write) is left on disk as it is and the editor's text is written beside
    // it as a conflict copy, said in the log.
    void prepareQuitBySignal(int signalNumber) const;
};

} // namespace focus
