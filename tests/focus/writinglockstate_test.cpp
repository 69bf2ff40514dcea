// The writing goal and lock on a clock of the test's own: time moves only
// when the test says, and the ticker's and the fade's waits run when their
// time comes.

#include "focus/writinglockstate.h"
#include "foundation/paths.h"

#include <QPointer>
#include <QSignalSpy>
#include <gtest/gtest.h>
#include <vector>

namespace {

using focus::WritingGoal;
using focus::WritingLockState;

struct FakeClock {
    struct Pending {
        qint64 due;
        QPointer<QObject> context;
        std::function<void()> action;
    };
    qint64 elapsed = 5'000'000;
    QDateTime wall = QDateTime(QDate(2026, 3, 1), QTime(9, 0));
    std::vector<Pending> pending;

    WritingLockState::Clock clock()
    {
        return {[this] { return elapsed; },
                [this](int ms, QObject *context, std::function<void()> action) {
                    pending.push_back({elapsed + ms, context, std::move(action)});
                }};
    }
    // Moves both clocks on and runs every wait that falls due, in order.
    void advance(qint64 ms)
    {
        const qint64 end = elapsed + ms;
        for (;;) {
            auto next = std::min_element(pending.begin(), pending.end(),
                                         [](const Pending &a, const Pending &b) { return a.due < b.due; });
            if (next == pending.end() || next->due > end)
                break;
            Pending due = std::move(*next);
            pending.erase(next);
            // A wait that fell due while asleep runs at once on waking.
            const qint64 at = std::max(elapsed, due.due);
            wall = wall.addMSecs(at - elapsed);
            elapsed = at;
            if (due.context)
                due.action();
        }
        wall = wall.addMSecs(end - elapsed);
        elapsed = end;
    }
};

class Lock : public ::testing::Test {
protected:
    void arm(WritingGoal goal, const QString &text = QString()) { lock.arm(goal, text, fake.wall, true); }
    FakeClock fake;
    WritingLockState lock{fake.clock()};
};

const WritingGoal minutes25{WritingGoal::Kind::minutes, 25};
const WritingGoal words250{WritingGoal::Kind::words, 250};

QString wordsOf(int n)
{
    QStringList list;
    for (int i = 0; i < n; ++i)
        list << QStringLiteral("word");
    return list.join(u' ');
}

TEST_F(Lock, AWordsGoalCompletesOnTheFirstTickAfterTheCountReachesIt)
{
    arm(words250, wordsOf(100));
    ASSERT_TRUE(lock.isLocked());
    EXPECT_EQ(lock.run()->baselineWords, 100);
    EXPECT_EQ(lock.run()->currentWords, 100);
    EXPECT_EQ(lock.run()->armedAt, fake.wall);
    EXPECT_TRUE(lock.isTicking());
    EXPECT_FALSE(lock.isInKiosk()); // never in a test run

    // Passing the goal and falling back before a tick does not count.
    lock.updateGoalWords(wordsOf(360));
    lock.updateGoalWords(wordsOf(340));
    fake.advance(1000);
    EXPECT_TRUE(lock.isLocked());
    EXPECT_EQ(lock.run()->progressLabel(lock.nowMs()), std::make_pair(QString("240 / 250"), QString("words")));

    // Deleting below the baseline reads negative and never completes.
    lock.updateGoalWords(wordsOf(88));
    fake.advance(60'000);
    EXPECT_EQ(lock.run()->progressLabel(lock.nowMs()).first, "-12 / 250");

    lock.updateGoalWords(wordsOf(350));
    fake.advance(400);
    EXPECT_TRUE(lock.isLocked()); // tested only on ticks
    fake.advance(600);
    EXPECT_FALSE(lock.isLocked());
    EXPECT_FALSE(lock.run().has_value());
    EXPECT_FALSE(lock.isTicking());
    EXPECT_EQ(lock.completionNote(), "250 words · 01:02");
}

TEST_F(Lock, AMinutesGoalLeavesWordsAloneAndCompletesAtItsDeadline)
{
    arm(minutes25, wordsOf(10));
    lock.updateGoalWords(wordsOf(999));
    EXPECT_EQ(lock.run()->currentWords, 10);
    EXPECT_EQ(lock.run()->progressLabel(lock.nowMs()), std::make_pair(QString("25:00"), QString("left")));
    fake.advance(25 * 60'000 - 1000);
    ASSERT_TRUE(lock.isLocked());
    EXPECT_EQ(lock.run()->secondsLeft(lock.nowMs()), 1);
    fake.advance(1000);
    EXPECT_FALSE(lock.isLocked());
    EXPECT_EQ(lock.completionNote(), "25 min · 25:00");
}

TEST_F(Lock, StepsOfTheWallClockChangeNothingAndSuspendCounts)
{
    const WritingGoal hour{WritingGoal::Kind::minutes, 60};
    arm(hour);
    EXPECT_EQ(lock.run()->progressLabel(lock.nowMs()).first, "1:00:00");
    fake.advance(1000);
    EXPECT_EQ(lock.run()->progressLabel(lock.nowMs()).first, "59:59");

    // The wall clock is set an hour back, then an hour forward: the time
    // left follows the elapsed time only.
    fake.wall = fake.wall.addSecs(-3600);
    fake.advance(1000);
    EXPECT_EQ(lock.run()->secondsLeft(lock.nowMs()), 3598);
    fake.wall = fake.wall.addSecs(2 * 3600);
    fake.advance(1000);
    EXPECT_TRUE(lock.isLocked());
    EXPECT_EQ(lock.run()->secondsLeft(lock.nowMs()), 3597);

    // Forty minutes asleep: no tick ran, the clock counted on; the next
    // tick sees them.
    fake.elapsed += 40 * 60'000;
    fake.advance(1000);
    EXPECT_EQ(lock.run()->secondsLeft(lock.nowMs()), 3597 - 40 * 60 - 1);
    // Asleep past the deadline: the first tick after waking completes.
    fake.elapsed += 30 * 60'000;
    fake.advance(1000);
    EXPECT_FALSE(lock.isLocked());
    EXPECT_EQ(lock.completionNote(), "60 min · 1:10:04");
}

TEST_F(Lock, ArmingTwiceKeepsTheFirstRunAndCompletionHappensOnce)
{
    arm(words250);
    QSignalSpy runs(&lock, &WritingLockState::runChanged);
    arm(minutes25);
    EXPECT_EQ(runs.count(), 0);
    EXPECT_EQ(lock.run()->goal, words250);

    QSignalSpy locked(&lock, &WritingLockState::isLockedChanged);
    QSignalSpy notes(&lock, &WritingLockState::completionNoteChanged);
    lock.complete();
    lock.complete(); // no run: nothing
    lock.tick();
    lock.walkAway();
    EXPECT_EQ(locked.count(), 1);
    EXPECT_EQ(notes.count(), 1);
    EXPECT_EQ(lock.completionNote(), "250 words · 00:00");
}

TEST_F(Lock, TheNoteFadesAfterSixSecondsAndASecondNoteHasItsFullTime)
{
    arm(minutes25);
    fake.advance(25 * 60'000);
    ASSERT_TRUE(lock.completionNote().has_value());
    fake.advance(WritingLockState::noteFadeMs - 1);
    EXPECT_TRUE(lock.completionNote().has_value());
    fake.advance(1);
    EXPECT_FALSE(lock.completionNote().has_value());

    // Re-armed while a note shows: arming leaves the note and its fade; a
    // second note cancels the first fade and has its full six seconds.
    arm(words250);
    lock.complete();
    ASSERT_EQ(lock.completionNote(), "250 words · 00:00");
    fake.advance(4000);
    arm({WritingGoal::Kind::words, 10});
    EXPECT_EQ(lock.completionNote(), "250 words · 00:00");
    lock.complete();
    EXPECT_EQ(lock.completionNote(), "10 words · 00:00");
    fake.advance(2000); // the first fade's time
    EXPECT_EQ(lock.completionNote(), "10 words · 00:00");
    fake.advance(WritingLockState::noteFadeMs - 2001);
    EXPECT_TRUE(lock.completionNote().has_value());
    fake.advance(1);
    EXPECT_FALSE(lock.completionNote().has_value());
}

TEST_F(Lock, WithoutTheTickerNothingTestsTheGoal)
{
    lock.arm(words250, QString(), fake.wall, false);
    lock.updateGoalWords(wordsOf(300));
    fake.advance(10'000);
    EXPECT_TRUE(lock.isLocked());
    EXPECT_FALSE(lock.isTicking());
}

TEST(LockTexts, ClockAndNote)
{
    EXPECT_EQ(WritingLockState::clockText(125), "02:05");
    EXPECT_EQ(WritingLockState::clockText(3599), "59:59");
    EXPECT_EQ(WritingLockState::clockText(3600), "1:00:00");
    EXPECT_EQ(WritingLockState::clockText(3725), "1:02:05");
    EXPECT_EQ(WritingLockState::clockText(36000), "10:00:00");
    EXPECT_EQ(WritingLockState::clockText(-5), "00:00");
    EXPECT_EQ(WritingLockState::noteText(minutes25, 1500.4), "25 min · 25:00");
    EXPECT_EQ(WritingLockState::noteText(words250, 462), "250 words · 07:42");
    EXPECT_EQ(WritingLockState::noteText(words250, 461.5), "250 words · 07:42");
    EXPECT_EQ(WritingLockState::noteText(words250, -3), "250 words · 00:00");
}

TEST(LockTexts, SecondsLeftIsNeverNegative)
{
    const focus::WritingGoalRun run{{WritingGoal::Kind::minutes, 1}, {}, 1000, 0, 0};
    EXPECT_EQ(run.secondsLeft(1000 + 59'500), 1); // halves away from zero
    EXPECT_EQ(run.secondsLeft(1000 + 60'000), 0);
    EXPECT_EQ(run.secondsLeft(1000 + 600'000), 0);
    const focus::WritingGoalRun words{words250, {}, 0, 0, 0};
    EXPECT_FALSE(words.secondsLeft(0).has_value());
}

TEST(LockTexts, TypedAmountsAreClamped)
{
    const std::vector<std::tuple<QString, int>> wordCases{{"", 250},
                                                          {"abc", 250},
                                                          {"+", 250},
                                                          {"-", 250},
                                                          {" 5", 250},
                                                          {"5 ", 250},
                                                          {"+7", 7},
                                                          {"0", 1},
                                                          {"-3", 1},
                                                          {"5000", 1000},
                                                          {"99999999999999999999", 250},
                                                          {"9223372036854775807", 1000},
                                                          {"12", 12}};
    for (const auto &[text, expected] : wordCases)
        EXPECT_EQ(WritingGoal::clampedAmount(text, 250, 1, 1000), expected) << text.toStdString();
    EXPECT_EQ(WritingGoal::clampedAmount("90", 5, 1, 60), 60);
    EXPECT_EQ(WritingGoal::clampedAmount("", 5, 1, 60), 5);
}

TEST(LockKeys, OnlyTheThreeShortcutsAreBlocked)
{
    const Qt::KeyboardModifiers ctrl = Qt::ControlModifier;
    const std::vector<std::tuple<const char *, int, QString, Qt::KeyboardModifiers, bool>> cases{
        {"Ctrl+W", Qt::Key_W, "\x17", ctrl, true},
        {"Ctrl+N", Qt::Key_N, "\x0e", ctrl, true},
        {"Ctrl+Meta+F", Qt::Key_F, "", ctrl | Qt::MetaModifier, true},
        {"Ctrl+W by its character", 0, "w", ctrl, true},
        {"Ctrl+W with Caps Lock", 0, "W", ctrl, true},
        {"Ctrl+W on the keypad", Qt::Key_W, "", ctrl | Qt::KeypadModifier, true},
        {"Shift+Ctrl+W", Qt::Key_W, "", ctrl | Qt::ShiftModifier, false},
        {"Alt+Ctrl+W", Qt::Key_W, "", ctrl | Qt::AltModifier, false},
        {"Ctrl+F", Qt::Key_F, "", ctrl, false},
        {"Meta+F", Qt::Key_F, "f", Qt::MetaModifier, false},
        {"W", Qt::Key_W, "w", Qt::NoModifier, false},
        {"Ctrl+Q", Qt::Key_Q, "", ctrl, false},
    };
    for (const auto &[name, key, text, modifiers, blocked] : cases)
        EXPECT_EQ(WritingLockState::isBlockedShortcut(key, text, modifiers), blocked) << name;
}

TEST_F(Lock, OutsideATestRunArmingAsksForTheKioskAndCompletionOrWalkingAwayLeavesItOnce)
{
    const QByteArray marker = qgetenv(foundation::paths::kTestRunMarker);
    qunsetenv(foundation::paths::kTestRunMarker);
    QSignalSpy enters(&lock, &WritingLockState::kioskRequested);
    QSignalSpy leaves(&lock, &WritingLockState::kioskLeaveRequested);
    arm(words250);
    lock.complete();
    arm(words250);
    lock.walkAway();
    lock.walkAway();
    lock.complete(); // the goal met while the quit question was up
    qputenv(foundation::paths::kTestRunMarker, marker);
    EXPECT_EQ(enters.count(), 2);
    ASSERT_EQ(leaves.count(), 2);
    EXPECT_EQ(leaves[0][0].toBool(), true);  // completion gives the window back
    EXPECT_EQ(leaves[1][0].toBool(), false); // walking away leaves it as it is
}

TEST_F(Lock, OnlyALockedStateSwallows)
{
    EXPECT_FALSE(WritingLockState::shouldSwallow(Qt::Key_W, "", Qt::ControlModifier));
    arm(words250);
    EXPECT_TRUE(WritingLockState::shouldSwallow(Qt::Key_W, "", Qt::ControlModifier));
    EXPECT_FALSE(WritingLockState::shouldSwallow(Qt::Key_Q, "", Qt::ControlModifier));
    lock.complete();
    EXPECT_FALSE(WritingLockState::shouldSwallow(Qt::Key_W, "", Qt::ControlModifier));
}

} // namespace
