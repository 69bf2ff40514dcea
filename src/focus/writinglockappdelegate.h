#pragma once
// WritingLockAppDelegate is the application's quit guard, not only the
// writing lock's: every way out of the application (the Quit command,
// closing the main window, the Quit event, the desktop session ending,
// SIGTERM, SIGINT, SIGHUP) goes through it first. It saves every open text
// and refuses while one cannot be saved, then asks before ending a running
// writing block. A quit by signal cannot wait for an answer (at logout a
// SIGKILL follows): it asks nothing, and a text that cannot be saved in
// place is written beside its file.

#include <QString>
#include <functional>

namespace focus {

class WritingLockAppDelegate {
public:
    // The refusal when a text cannot be saved.
    static QString quitStoppedTitle() { return QStringLiteral("Quit stopped — a piece needs you first"); }
    static QString quitStoppedFallback()
    {
        return QStringLiteral("An open piece could not be saved. Tend to it, then quit again.");
    }
    static QString quitStoppedButton() { return QStringLiteral("Back to Pennora"); }
    // The question before a running block ends.
    static QString walkAwayTitle() { return QStringLiteral("Walk away from the block?"); }
    static QString walkAwayText()
    {
        return QStringLiteral("A Dedu Duvodo block is still running. Quitting ends it — nothing is kept, no record.");
    }
    static QString walkAwayButton() { return QStringLiteral("Walk Away"); }
    static QString keepWritingButton() { return QStringLiteral("Keep Writing"); }

    // Shows the refusal with its informative text (never in a test run).
    std::function<void(const QString &informativeText)> showRefusal;
    // Asks the walk-away question (in a test run too); true is "Walk Away".
    // Without it the block goes on.
    std::function<bool()> confirmEndingBlock;

    // Whether the application may quit now. Reads the process's library model
    // and writing lock; with neither it answers true. Walking away leaves the
    // kiosk as it stands.
    bool applicationShouldTerminate() const;
    // Before a quit by signal, which always goes on: saves every open text;
    // one that cannot be saved in place (a disk conflict standing, a failed
    // write) is left on disk as it is and the editor's text is written beside
    // it as a conflict copy, said in the log.
    void prepareQuitBySignal(int signalNumber) const;
};

} // namespace focus
