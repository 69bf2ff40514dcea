#include "engine/transcriptrules.h"

#include <gtest/gtest.h>

using namespace engine;
using namespace engine::TranscriptRules;
using Kind = SessionRow::NoticeKind;
using Speaker = SessionRow::Speaker;

TEST(TranscriptRules, WarningSplitsAtTheFirstSeparatorAndRewritesTheWait)
{
    struct Case {
        QString text;
        Warning warning;
    };
    const QList<Case> cases{
        {"Operation interrupted: waiting for model response (2m 14s elapsed).",
         {"Operation interrupted", "waiting on the model — 2m 14s"}},
        {"Operation interrupted: waiting for model response (12s elapsed)",
         {"Operation interrupted", "waiting on the model — 12s"}},
        // 37 characters once the dot is dropped: not rewritten, dot kept.
        {"Lost: waiting for model response ( elapsed).", {"Lost", "waiting for model response ( elapsed)."}},
        {"Turn failed: the engine went away.", {"Turn failed", "the engine went away."}},
        {"Resume failed: load: timed out", {"Resume failed", "load: timed out"}},
        {"Connection lost", {"Connection lost", std::nullopt}},
        {"Colon:without space", {"Colon:without space", std::nullopt}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(splitWarning(c.text), c.warning) << c.text.toStdString();
    EXPECT_TRUE(isWarning(Kind::interrupted) && isWarning(Kind::connectionLost) && isWarning(Kind::failed));
    EXPECT_FALSE(isWarning(Kind::refused) || isWarning(Kind::kickoff) || isWarning(Kind::plain));
}

TEST(TranscriptRules, KickoffTitleIsTheFirstLineSaidOnce)
{
    EXPECT_EQ(kickoffTitle("Pass Pass 1 — paragraph level and up.\nPiece: /a/post.md\nRules"),
              "Pass 1 — paragraph level and up.");
    EXPECT_EQ(kickoffTitle("Pass Pass 2"), "Pass 2");
    EXPECT_EQ(kickoffTitle("Blind Read\nmore"), "Blind Read");
    EXPECT_EQ(kickoffTitle("Pass Passing"), "Pass Passing");
    EXPECT_EQ(kickoffTitle(""), "");
}

TEST(TranscriptRules, VisibleRowsAndTheEmphasisedLastOne)
{
    const SessionRow user = SessionRow::make(SessionRow::text("hi", Speaker::user, Kind::plain));
    const SessionRow warning = SessionRow::make(SessionRow::notice("Lost: x", Kind::connectionLost));
    const SessionRow thought = SessionRow::make(SessionRow::Thought{"hmm"});
    const SessionRow raw = SessionRow::make(SessionRow::Raw{"plan", "{}"});
    const SessionRow card = SessionRow::make(review::FixCard{"Hedging"});
    const SessionRow note = SessionRow::make(review::ResearchCandidate{"p", "T", "u", "", "", {}});
    const QList<SessionRow> rows{user, thought, card, note, warning, raw};

    EXPECT_EQ(visibleRows(rows, false), (QList<SessionRow>{user, card, note, warning}));
    EXPECT_EQ(visibleRows(rows, true), rows);
    EXPECT_TRUE(visibleRows({thought, raw}, false).isEmpty());
    EXPECT_FALSE(lastVisibleRowID({thought, raw}, false));

    // The last visible row, by the same filter, and only while no turn streams.
    EXPECT_TRUE(isEmphasized(warning.id, rows, false, false));
    EXPECT_FALSE(isEmphasized(warning.id, rows, false, true));
    EXPECT_FALSE(isEmphasized(warning.id, rows, true, false));
    EXPECT_TRUE(isEmphasized(raw.id, rows, true, false));
    EXPECT_FALSE(isEmphasized(user.id, rows, false, false));

    const SessionRow kickoff = SessionRow::make(SessionRow::notice("Pass Pass 1", Kind::kickoff));
    EXPECT_EQ(noticeTopPadding(true, &kickoff), 8);
    EXPECT_EQ(noticeTopPadding(false, &kickoff), 0);
    EXPECT_EQ(noticeTopPadding(true, &user), 0);
    EXPECT_EQ(noticeTopPadding(true, nullptr), 0);
}

TEST(TranscriptRules, ComposerKeysAndTheSendButton)
{
    struct Case {
        int key;
        Qt::KeyboardModifiers modifiers;
        ComposerKey action;
    };
    const QList<Case> cases{
        {Qt::Key_Return, Qt::NoModifier, ComposerKey::send},
        {Qt::Key_Enter, Qt::KeypadModifier, ComposerKey::send},
        {Qt::Key_Return, Qt::ShiftModifier, ComposerKey::appendLineFeed},
        {Qt::Key_Return, Qt::ShiftModifier | Qt::ControlModifier, ComposerKey::field},
        {Qt::Key_Return, Qt::AltModifier, ComposerKey::field},
        {Qt::Key_Return, Qt::ControlModifier, ComposerKey::field},
        {Qt::Key_A, Qt::NoModifier, ComposerKey::field},
        {Qt::Key_A, Qt::ShiftModifier, ComposerKey::field},
    };
    for (const Case &c : cases)
        EXPECT_EQ(composerKey(c.key, c.modifiers), c.action) << c.key << " " << c.modifiers.toInt();

    EXPECT_FALSE(canSendOrStop(" \n\t ", false));
    EXPECT_TRUE(canSendOrStop(" \n\t ", true));
    EXPECT_TRUE(canSendOrStop(" a\n", false));
    EXPECT_EQ(trimmedDraft(" \n a b \n"), "a b");
}

TEST(TranscriptRules, OnlyWebLinksOpen)
{
    for (const char *link : {"http://a.example", "https://a.example/x?y", "HTTPS://A.EXAMPLE", "Http://a.example"})
        EXPECT_TRUE(isOpenableLink(QUrl(link))) << link;
    for (const char *link : {"mailto:a@b.example", "file:///etc/passwd", "javascript:alert(1)", "a.example/x", "",
                             "ftp://a.example", "httpx://a.example"})
        EXPECT_FALSE(isOpenableLink(QUrl(link))) << link;
}

TEST(TranscriptRules, UserBubbleWidth)
{
    EXPECT_DOUBLE_EQ(userBubbleMaxWidth(356), 275.4);
    EXPECT_DOUBLE_EQ(userBubbleMaxWidth(720), 584.8);
    EXPECT_DOUBLE_EQ(userBubbleMaxWidth(1400), 584.8);
    EXPECT_DOUBLE_EQ(userBubbleMaxWidth(20), 0.0);
    EXPECT_DOUBLE_EQ(contentWidth(356), 356);
    EXPECT_DOUBLE_EQ(contentWidth(900), 720);
}
