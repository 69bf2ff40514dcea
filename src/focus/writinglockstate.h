#pragma once
// The writing goal and lock (Dedu Duvodo): one per process, on the main
// thread. While a block is locked, the shell refuses anything that would
// take the writer away from the text.

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>
#include <optional>

namespace focus {

// A goal: a number of words or of minutes.
struct WritingGoal {
    enum class Kind { words, minutes };
    Kind kind = Kind::words;
    int count = 0;
    bool operator==(const WritingGoal &) const = default;
};

// An armed goal: when it started and the text it counts from.
struct WritingGoalRun {
    WritingGoal goal;
    QDateTime start;
    QString baselineText;
    bool operator==(const WritingGoalRun &) const = default;
};

class WritingLockState : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isLocked READ isLocked NOTIFY isLockedChanged)
    Q_PROPERTY(bool showsArmBar READ showsArmBar WRITE setShowsArmBar NOTIFY showsArmBarChanged)

public:
    // Unlocked, no run, arm bar hidden; becomes the process's writing lock.
    explicit WritingLockState(QObject *parent = nullptr);
    ~WritingLockState() override;

    // The process's writing lock, for the quit guard; none before one exists.
    static WritingLockState *current();

    bool isLocked() const { return m_isLocked; }
    bool showsArmBar() const { return m_showsArmBar; }
    const std::optional<WritingGoalRun> &run() const { return m_run; }
    bool isTicking() const { return m_ticker.isActive(); }
    void setShowsArmBar(bool shows);

    // Starts a block: the run, the lock, the arm bar hidden and the kiosk
    // asked for. Nothing while locked.
    void arm(const WritingGoal &goal, const QString &baselineText, const QDateTime &start, bool startTicker);

signals:
    void isLockedChanged();
    void showsArmBarChanged();
    void runChanged();
    // The window should enter its kiosk full screen (never in a test run).
    void kioskRequested();
    void tick();

private:
    bool m_isLocked = false;
    bool m_showsArmBar = false;
    std::optional<WritingGoalRun> m_run;
    QTimer m_ticker;
};

} // namespace focus
