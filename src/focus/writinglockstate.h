#pragma once
// The writing goal and lock (Dedu Duvodo): one per process, on the main
// thread. While a block is locked, the shell refuses anything that would
// take the writer away from the text.

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QtGlobal>
#include <functional>
#include <optional>
#include <utility>

namespace focus {

// A goal: a number of words or of minutes.
struct WritingGoal {
    enum class Kind { words, minutes };
    Kind kind = Kind::words;
    int count = 0;
    bool operator==(const WritingGoal &) const = default;

    // A typed amount: an optional sign and decimal digits, nothing else;
    // anything else (empty, a lone sign, spaces, an overflow) is the
    // fallback. The value is clamped to [lowest, highest].
    static int clampedAmount(const QString &text, int fallback, int lowest, int highest);
};

// An armed goal. Time is measured on a clock that neither steps with the
// wall clock nor stops while the machine sleeps, so setting the clock never
// lengthens or ends a block; armedAt is only for showing.
struct WritingGoalRun {
    WritingGoal goal;
    QDateTime armedAt;
    // The elapsed-time clock's reading at arming, in milliseconds.
    qint64 armedClockMs = 0;
    qint64 baselineWords = 0;
    qint64 currentWords = 0;
    bool operator==(const WritingGoalRun &) const = default;

    // Words written since arming; negative when text was deleted.
    qint64 wordsWritten() const { return currentWords - baselineWords; }
    // Seconds until a minutes goal is met at that clock reading (never
    // negative); none for a words goal.
    std::optional<qint64> secondsLeft(qint64 clockMs) const;
    // The readout: ("12:34", "left") or ("120 / 250", "words").
    std::pair<QString, QString> progressLabel(qint64 clockMs) const;
};

class WritingLockState : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isLocked READ isLocked NOTIFY isLockedChanged)
    Q_PROPERTY(bool showsArmBar READ showsArmBar WRITE setShowsArmBar NOTIFY showsArmBarChanged)

public:
    // Where the lock reads time and how it waits; tests put in their own.
    struct Clock {
        // Milliseconds on a monotonic clock that keeps counting through
        // suspend.
        std::function<qint64()> elapsedMs;
        // Runs the action once after ms, unless the context is gone by then.
        std::function<void(int ms, QObject *context, std::function<void()> action)> after;
    };
    static Clock systemClock();
    static constexpr int tickMs = 1000;
    static constexpr int noteFadeMs = 6000;

    // Unlocked, no run, arm bar hidden; becomes the process's writing lock.
    explicit WritingLockState(QObject *parent = nullptr);
    explicit WritingLockState(Clock clock, QObject *parent = nullptr);
    ~WritingLockState() override;

    // The process's writing lock, for the quit guard and the key filter;
    // none before one exists.
    static WritingLockState *current();

    bool isLocked() const { return m_isLocked; }
    bool showsArmBar() const { return m_showsArmBar; }
    const std::optional<WritingGoalRun> &run() const { return m_run; }
    // The clock reading of the last tick (or of arming).
    qint64 nowMs() const { return m_nowMs; }
    const std::optional<QString> &completionNote() const { return m_completionNote; }
    bool isTicking() const { return m_ticking; }
    bool isInKiosk() const { return m_inKiosk; }
    void setShowsArmBar(bool shows);

    // Starts a block: the run counted from the text's words, the lock, the
    // arm bar hidden, the kiosk asked for (never in a test run) and, when
    // asked, the one-second ticker. Nothing while locked.
    void arm(const WritingGoal &goal, const QString &text, const QDateTime &armedAt, bool startTicker);
    // The editor's text after a change: a words goal counts its words; a
    // minutes goal or no run is left alone.
    void updateGoalWords(const QString &text);
    // The ticker's body: takes the time and completes a goal that is met.
    void tick();
    // Ends the block with its note; nothing without a run.
    void complete();
    // The writer quits during a block: the kiosk is left as it stands; the
    // lock itself is untouched (the process ends). Once only.
    void walkAway();

    // The keys a block swallows: Ctrl+W, Ctrl+N and Ctrl+Meta+F, by key or
    // by character; Caps Lock and the keypad flag do not matter.
    static bool isBlockedShortcut(int key, const QString &text, Qt::KeyboardModifiers modifiers);
    // Whether the process's lock swallows this key now.
    static bool shouldSwallow(int key, const QString &text, Qt::KeyboardModifiers modifiers);
    // "02:05", "1:02:05"; a negative count reads as zero.
    static QString clockText(qint64 seconds);
    // "25 min · 25:00", "250 words · 07:42".
    static QString noteText(const WritingGoal &goal, double elapsedSeconds);

signals:
    void isLockedChanged();
    void showsArmBarChanged();
    void runChanged();
    void nowChanged();
    void completionNoteChanged();
    // The window should enter its kiosk full screen.
    void kioskRequested();
    // The window should leave the kiosk; restoreWindow gives back the window
    // state from before it, otherwise the window stays as it is.
    void kioskLeaveRequested(bool restoreWindow);

private:
    void setLocked(bool locked);
    void startTicker();
    void setNote(const std::optional<QString> &note);

    Clock m_clock;
    bool m_isLocked = false;
    bool m_showsArmBar = false;
    bool m_ticking = false;
    bool m_inKiosk = false;
    quint64 m_tickerGeneration = 0;
    quint64 m_fadeGeneration = 0;
    qint64 m_nowMs = 0;
    std::optional<WritingGoalRun> m_run;
    std::optional<QString> m_completionNote;
};

} // namespace focus
