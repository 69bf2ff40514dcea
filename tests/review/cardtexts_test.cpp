#include "review/cardtexts.h"

#include <QDateTime>
#include <gtest/gtest.h>

namespace {

namespace CardTexts = review::CardTexts;
using Card = CardTexts::Card;
using Button = CardTexts::Button;

Card card(const QString &pattern, Card::Status status = Card::Status::open)
{
    Card c;
    c.id = QUuid::createUuid();
    c.pattern = pattern;
    c.status = status;
    return c;
}

QStringList patterns(const QList<Card> &cards)
{
    QStringList out;
    for (const Card &c : cards)
        out.append(c.pattern);
    return out;
}

TEST(CardTexts, OpenCardsComeFirstAndEachGroupKeepsItsOrder)
{
    const QList<Card> cards{card("A"), card("B", Card::Status::skipped), card("C"), card("D", Card::Status::applied),
                            card("E", Card::Status::done)};
    EXPECT_EQ(patterns(CardTexts::orderedCards(cards)), (QStringList{"A", "C", "B", "D", "E"}));
    EXPECT_TRUE(CardTexts::orderedCards({}).isEmpty());
}

TEST(CardTexts, TheHeaderCountsOpenCardsAndSaysOpenUnlessAllAre)
{
    const Card open = card("o");
    const Card closed = card("c", Card::Status::done);
    EXPECT_EQ(CardTexts::listHeader({open, open, open}), u"FIX CARDS \u00b7 3");
    EXPECT_EQ(CardTexts::listHeader({open, closed, closed}), u"FIX CARDS \u00b7 1 open");
    EXPECT_EQ(CardTexts::listHeader({closed, closed}), u"FIX CARDS \u00b7 0 open");
}

TEST(CardTexts, TheMetaLineNamesRankPassLaneEmitterAndState)
{
    struct Case {
        std::optional<qint64> rank;
        std::optional<qint64> pass;
        Card::Lane lane;
        Card::Emitter emitter;
        Card::Status status;
        bool stale;
        bool promoted;
        const char16_t *expected;
    };
    using L = Card::Lane;
    using E = Card::Emitter;
    using S = Card::Status;
    const std::vector<Case> cases{
        {2, 1, L::mechanical, E::engine, S::open, false, false,
         u"#2 \u00b7 pass 1 \u00b7 mechanical \u00b7 engine \u00b7 apply \u00b7 ask-before"},
        {{}, {}, L::mechanical, E::lint, S::open, true, false, u"mechanical \u00b7 lint \u00b7 stale anchor"},
        {1, 2, L::demonstration, E::engine, S::done, false, true,
         u"#1 \u00b7 pass 2 \u00b7 demonstration \u00b7 engine \u00b7 done \u00b7 promoted"},
        // An open demonstration card has nothing to apply.
        {{}, {}, L::demonstration, E::lint, S::open, false, false, u"demonstration \u00b7 lint"},
        {{},
         3,
         L::mechanical,
         E::engine,
         S::applied,
         false,
         false,
         u"pass 3 \u00b7 mechanical \u00b7 engine \u00b7 applied"},
        {7,
         {},
         L::mechanical,
         E::lint,
         S::skipped,
         true,
         true,
         u"#7 \u00b7 mechanical \u00b7 lint \u00b7 stale anchor \u00b7 skipped \u00b7 promoted"},
        {{},
         {},
         L::demonstration,
         E::engine,
         S::open,
         true,
         true,
         u"demonstration \u00b7 engine \u00b7 stale anchor \u00b7 promoted"},
        {{},
         {},
         L::mechanical,
         E::engine,
         S::open,
         false,
         true,
         u"mechanical \u00b7 engine \u00b7 apply \u00b7 ask-before \u00b7 promoted"},
    };
    for (const Case &c : cases) {
        Card x = card("x", c.status);
        x.rank = c.rank;
        if (c.pass) {
            x.provenance = Card::Provenance{};
            x.provenance->pass = c.pass;
        }
        x.lane = c.lane;
        x.emitter = c.emitter;
        x.anchorStatus = c.stale ? Card::AnchorStatus::stale : Card::AnchorStatus::valid;
        if (c.promoted)
            x.promotedAt = QDateTime::currentDateTime();
        EXPECT_EQ(CardTexts::metaLine(x), QString::fromUtf16(c.expected));
    }
    // A provenance without a pass number adds nothing.
    Card noPass = card("x");
    noPass.provenance = Card::Provenance{"walk", "2026-01-02", "hermes", std::nullopt};
    EXPECT_EQ(CardTexts::metaLine(noPass), u"mechanical \u00b7 engine \u00b7 apply \u00b7 ask-before");
}

TEST(CardTexts, TheButtonRowFollowsLaneStatusAnchorAndPromotion)
{
    struct Case {
        const char *name;
        Card::Lane lane;
        Card::Status status;
        bool stale;
        bool promoted;
        QList<Button> expected;
    };
    using L = Card::Lane;
    using S = Card::Status;
    const std::vector<Case> cases{
        {"open mechanical", L::mechanical, S::open, false, false, {Button::apply, Button::promote, Button::skip}},
        {"open demonstration", L::demonstration, S::open, false, false, {Button::done, Button::promote, Button::skip}},
        {"open mechanical stale", L::mechanical, S::open, true, false, {Button::promote, Button::skip}},
        {"open demonstration stale", L::demonstration, S::open, true, false, {Button::promote, Button::skip}},
        {"open mechanical promoted", L::mechanical, S::open, false, true, {Button::apply, Button::skip}},
        {"open demonstration promoted", L::demonstration, S::open, false, true, {Button::done, Button::skip}},
        {"open stale promoted", L::mechanical, S::open, true, true, {Button::skip}},
        {"applied", L::mechanical, S::applied, false, false, {Button::promote}},
        {"skipped", L::mechanical, S::skipped, true, false, {Button::promote}},
        {"done", L::demonstration, S::done, false, false, {Button::promote}},
        {"done promoted", L::demonstration, S::done, false, true, {}},
        {"applied promoted", L::mechanical, S::applied, false, true, {}},
    };
    for (const Case &c : cases) {
        Card x = card("x", c.status);
        x.lane = c.lane;
        x.anchorStatus = c.stale ? Card::AnchorStatus::stale : Card::AnchorStatus::valid;
        if (c.promoted)
            x.promotedAt = QDateTime::currentDateTime();
        EXPECT_EQ(CardTexts::rowButtons(x), c.expected) << c.name;
    }
}

TEST(CardTexts, TheApplySheetCaptionsTheAnchorAndTheReplacement)
{
    EXPECT_EQ(CardTexts::anchorCaption(0), "Anchored");
    EXPECT_EQ(CardTexts::anchorCaption(1), "Anchored");
    EXPECT_EQ(CardTexts::anchorCaption(3), u"Anchored \u00b7 occurrence 3");
    EXPECT_EQ(CardTexts::replacementText(""), u"(cut \u2014 the span is removed)");
    EXPECT_EQ(CardTexts::replacementText("very far"), "very far");
}

TEST(CardTexts, TheKindLabelNamesTheOpenPiecesKind)
{
    using T = library::Post::ContentType;
    EXPECT_EQ(CardTexts::kindLabel(T::outline), "Outlines");
    EXPECT_EQ(CardTexts::kindLabel(T::post), "Posts");
    EXPECT_EQ(CardTexts::kindLabel(std::nullopt), "pieces");
}

TEST(CardTexts, TheProvenanceLineJoinsWhatIsPresent)
{
    const auto title = [](const QString &id) { return id == "walk" ? QStringLiteral("A Long Walk") : id; };
    Card c = card("x");
    EXPECT_EQ(CardTexts::provenanceLine(c, title), "");

    struct Case {
        Card::Provenance provenance;
        const char16_t *expected;
    };
    const std::vector<Case> cases{
        {{"walk", std::nullopt, "hermes", 1}, u"A Long Walk \u00b7 Pass 1 \u00b7 hermes"},
        {{"walk", "2026-03-04", "hermes", 2}, u"A Long Walk \u00b7 Pass 2 \u00b7 hermes \u00b7 2026-03-04"},
        {{"walk", std::nullopt, std::nullopt, std::nullopt}, u"A Long Walk"},
        // A piece the library does not know stands as its id.
        {{"gone-piece", "yesterday", std::nullopt, std::nullopt}, u"gone-piece \u00b7 yesterday"},
    };
    for (const Case &x : cases) {
        c.provenance = x.provenance;
        EXPECT_EQ(CardTexts::provenanceLine(c, title), QString::fromUtf16(x.expected));
    }
}

} // namespace
