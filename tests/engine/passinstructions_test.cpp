#include "engine/passinstructions.h"
#include "testutil.h"

#include <gtest/gtest.h>

using library::PassKind;
using namespace engine;

namespace {

const QString kRules = QString::fromUtf8(
    "Critique the piece for this pass. Fact-check claims where needed — research findings travel as "
    "candidate source-note tool calls (submit_research_notes), never written to disk. Deliver the verdict "
    "in your reply — findings travel as fix-card tool calls (submit_fix_cards). Do not write to the piece "
    "folder.");

} // namespace

TEST(PassKind, RawValuesAndSurfaces)
{
    ASSERT_EQ(PassKind::allCases().size(), 2);
    const PassKind one = PassKind::allCases()[0];
    const PassKind two = PassKind::allCases()[1];
    EXPECT_EQ(one.rawValue(), "Pass 1");
    EXPECT_EQ(two.rawValue(), "Pass 2");
    EXPECT_EQ(surface(one), profiles::ProfileSurface::pass1);
    EXPECT_EQ(surface(two), profiles::ProfileSurface::pass2);
    EXPECT_EQ(surface(one).profileName(), "pennora-pass1");
    EXPECT_EQ(surface(two).profileName(), "pennora-pass2");

    EXPECT_EQ(PassKind::fromRawValue("Pass 1"), PassKind::pass1);
    EXPECT_EQ(PassKind::fromRawValue("Pass 2"), PassKind::pass2);
    for (const char *raw : {"Pass 3", "pass 1", "Pass 1 ", "Pass1", ""})
        EXPECT_FALSE(PassKind::fromRawValue(raw)) << raw;
}

TEST(PassKindInstruction, Pass1WithoutResearchByteForByte)
{
    const QString text =
        instructionText(PassKind::pass1, QUrl::fromLocalFile("/home/a/Notes/projects/posts/walk/post.md"), false);
    const QString expected = QString::fromUtf8("Pass Pass 1 — paragraph level and up.\n"
                                               "Piece: /home/a/Notes/projects/posts/walk/post.md\n")
                             + kRules;
    EXPECT_EQ(text, expected);
    EXPECT_EQ(text.count(u'\n'), 2);
    EXPECT_TRUE(text.startsWith(QString::fromUtf8("Pass Pass 1 — paragraph level and up.\nPiece: ")));
    EXPECT_FALSE(text.endsWith(u'\n'));
    // Bytes, not just code points: the em dash is U+2014 encoded as UTF-8.
    EXPECT_TRUE(text.toUtf8().startsWith("Pass Pass 1 \xE2\x80\x94 paragraph level and up.\nPiece: "));
}

TEST(PassKindInstruction, Pass2WithResearchNamesTheFolderBesidePost)
{
    const QString text =
        instructionText(PassKind::pass2, QUrl::fromLocalFile("/home/a/My Notes/projects/posts/walk/post.md"), true);
    const QString expected = QString::fromUtf8("Pass Pass 2 — sentence level and below.\n"
                                               "Piece: /home/a/My Notes/projects/posts/walk/post.md\n"
                                               "Research notes: /home/a/My Notes/projects/posts/walk/research\n")
                             + kRules;
    EXPECT_EQ(text, expected);
    EXPECT_EQ(text.split(u'\n').at(3), kRules);
}

TEST(PassKindInstruction, PathsWithNonAsciiLettersStayDecoded)
{
    const QString path = QString::fromUtf8("/home/a/Écrits/projects/p/café/post.md");
    const QString text = instructionText(PassKind::pass1, QUrl::fromLocalFile(path), true);
    EXPECT_TRUE(text.contains(QStringLiteral("Piece: ") + path + u'\n'));
    EXPECT_TRUE(text.contains(QString::fromUtf8("Research notes: /home/a/Écrits/projects/p/café/research\n")));
}

TEST(BlindReadPrompt, OrderFollowsFirstIsA)
{
    const QString head = QString::fromUtf8("Blind Read — two versions of one piece. Judge only the text below.\n\n");
    const QString tail = QString::fromUtf8(
        "Pick the stronger version. Answer with exactly \"A\" or \"B\" and one line why — no rewrites, no fixes.");

    EXPECT_EQ(engine::blindReadPrompt("first\n", " second", true),
              head + "Version A:\nfirst\n\n\nVersion B:\n second\n\n" + tail);
    EXPECT_EQ(engine::blindReadPrompt("first", "second", false),
              head + "Version A:\nsecond\n\nVersion B:\nfirst\n\n" + tail);
    EXPECT_EQ(engine::blindReadPrompt("", "", true), head + "Version A:\n\n\nVersion B:\n\n\n" + tail);
}

TEST(BlindReadPrompt, VersionsAreInsertedUnescaped)
{
    const QString tricky = QString::fromUtf8("\"quoted\" \\ {json} — <b>\n\nVersion B:\n");
    const QString prompt = engine::blindReadPrompt(tricky, "x", true);
    EXPECT_TRUE(prompt.contains(QStringLiteral("Version A:\n") + tricky + QStringLiteral("\n\nVersion B:\nx\n\n")));
}
