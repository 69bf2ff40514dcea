#include "review/views/fixcardspalette.h"

#include "chrome/palette.h"
#include "library/poststore.h"
#include "review/fixcardstore.h"
#include "review/views/cardsheets.h"
#include "screenshot.h"
#include "testutil.h"

#include <QCoro/QCoroTask>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using library::Post;
namespace PostStore = library::PostStore;
namespace FixCardStore = review::FixCardStore;
using Card = review::FixCardsPalette::Card;
using review::ApplyAskSheet;
using review::CardRow;
using review::FixCardsPalette;
using review::PromoteAskSheet;
using testsupport::spinUntil;

const QString walkText = QStringLiteral("# Walk\n\nWe walked quite far along the harbour. The gulls were loud, "
                                        "really very loud, and the tide was out.\n");

QStringList buttonTitles(const CardRow *row)
{
    QStringList titles;
    for (const QPushButton *button : row->buttons())
        titles.append(button->text());
    return titles;
}

QString textOf(const QLabel *label)
{
    return label ? label->text() : QString();
}

QColor colourOf(const QLabel *label)
{
    return label->palette().color(QPalette::WindowText);
}

// The texts of a widget's visible labels, top to bottom as laid out.
QStringList labelTexts(const QWidget &widget)
{
    QStringList texts;
    for (const QLabel *label : widget.findChildren<QLabel *>()) {
        if (label->isVisibleTo(&widget) && !label->text().isEmpty())
            texts.append(label->text());
    }
    return texts;
}

class FixCardsPaletteTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QDir().mkpath(home);
        walk = PostStore::createPiece(walkText, "Essays", Post::ContentType::post, Post::Origin::writer, home);
        // The same sentence in another piece, so a card's quote is found there too.
        stroll = PostStore::createPiece("# Stroll\n\nWe walked quite far along the harbour.\n", "Essays",
                                        Post::ContentType::post, Post::Origin::writer, home);
        model.startWatching(home);
        QCoro::waitFor(model.rescan());
    }
    void TearDown() override { model.settleBackgroundWork(); }

    QString folder(const Post &post) const { return *PostStore::folderPath(post.id, home); }
    QString postFile(const Post &post) const { return QDir(folder(post)).filePath("post.md"); }

    Card file(const Post &post, const QString &pattern, const QString &quote, const QString &fix,
              Card::Lane lane = Card::Lane::mechanical, std::optional<qint64> pass = std::nullopt,
              const QString &problem = QStringLiteral("The sentence hedges."), const QString &question = {})
    {
        FixCardStore::Input input;
        input.pattern = pattern;
        input.problem = problem;
        input.diagnosticQuestion = question;
        input.fix = fix;
        input.anchor.quote = quote;
        input.lane = lane;
        if (pass) {
            FixCardStore::StoredFixCard::Provenance provenance;
            provenance.piece = post.id;
            provenance.engine = "hermes";
            provenance.pass = pass;
            input.provenance = provenance;
        }
        return FixCardStore::write(folder(post), {input}).first().card;
    }
    // Rewrites the card's file as change says.
    void rewrite(const Post &post, const QUuid &id, const std::function<void(Card &)> &change)
    {
        const QString cards = QDir(folder(post)).filePath("cards");
        FixCardStore::CardFile found = *FixCardStore::findCard(cards, id);
        change(found.card);
        FixCardStore::rewriteCard(cards, found.fileName, found.card);
    }
    Card onDisk(const Post &post, const QUuid &id) const
    {
        return FixCardStore::findCard(QDir(folder(post)).filePath("cards"), id)->card;
    }
    void open(const Post &post, qsizetype cards)
    {
        model.selectPiece(post.id);
        ASSERT_TRUE(model.isSessionOpen(post.id));
        ASSERT_TRUE(spinUntil([&] { return model.openPieceCards().size() == cards; }));
    }
    // Waits until the card's row says what it should.
    bool rowShows(const FixCardsPalette &palette, const QUuid &id, const QString &metaEnd)
    {
        return spinUntil([&] {
            const CardRow *row = palette.row(id);
            return row && row->metaLabel()->text().endsWith(metaEnd);
        });
    }

    QTemporaryDir dir;
    QString home = dir.path() + "/Home";
    Post walk;
    Post stroll;
    model::PostsModel model;
};

TEST_F(FixCardsPaletteTest, WithoutCardsItSaysWhetherAPieceIsOpen)
{
    FixCardsPalette palette(model);
    palette.resize(340, 540);
    EXPECT_FALSE(palette.pieceTitle().has_value());
    EXPECT_FALSE(palette.titleLabel()->isVisibleTo(&palette));
    EXPECT_FALSE(palette.reminderLabel()->isVisibleTo(&palette));
    EXPECT_FALSE(palette.showsList());
    EXPECT_EQ(palette.emptyTitle()->text(), "No piece open.");
    EXPECT_EQ(palette.emptyExplanation()->text(), u"Open a post \u2014 its fix cards collect here.");
    testsupport::saveScreenshot(palette, "fix-cards-no-piece", QSize(340, 540));

    // An outside file is no piece either.
    const QString outside = testsupport::writeFile(dir.path() + "/elsewhere/notes.md", "# Notes\n\nWords.\n");
    model.openExternalFile(QUrl::fromLocalFile(outside));
    ASSERT_NE(model.externalSession(), nullptr);
    EXPECT_FALSE(palette.pieceTitle().has_value());
    EXPECT_EQ(palette.emptyTitle()->text(), "No piece open.");

    model.closeExternalFile();
    open(stroll, 0);
    EXPECT_EQ(palette.pieceTitle(), "Stroll");
    EXPECT_EQ(palette.titleLabel()->text(), "Stroll");
    EXPECT_TRUE(palette.titleLabel()->isVisibleTo(&palette));
    EXPECT_FALSE(palette.reminderLabel()->isVisibleTo(&palette));
    EXPECT_EQ(palette.listHeader(), nullptr);
    EXPECT_EQ(palette.emptyTitle()->text(), "No fix cards yet.");
    EXPECT_EQ(palette.emptyExplanation()->text(), u"Run a pass \u2014 cards land here as the mentor files them.");
    testsupport::saveScreenshot(palette, "fix-cards-empty", QSize(340, 540));
}

TEST_F(FixCardsPaletteTest, RowsShowOpenCardsFirstWithTheirTextsMetaLinesAndButtons)
{
    const Card skipped = file(walk, "Stacked intensifiers", "really very loud", "loud");
    rewrite(walk, skipped.id, [](Card &c) {
        c.status = Card::Status::skipped;
        c.promotedAt = QDateTime::currentDateTime();
    });
    const Card stale = file(walk, "Vague ending", "the tide was out", "the tide had gone");
    rewrite(walk, stale.id, [](Card &c) { c.anchorStatus = Card::AnchorStatus::stale; });
    const Card applied = file(walk, "Throat clearing", "The gulls", "Gulls");
    rewrite(walk, applied.id, [](Card &c) { c.status = Card::Status::applied; });
    const Card demo = file(walk, "Show the harbour", "along the harbour", "along the harbour, its ropes slack",
                           Card::Lane::demonstration, 2, "The place is named, not seen.");
    const Card hedge = file(walk, "Distance hedge", "quite far", "far", Card::Lane::mechanical, 1);

    FixCardsPalette palette(model);
    open(walk, 5);
    ASSERT_TRUE(palette.showsList());
    EXPECT_EQ(palette.titleLabel()->text(), "Walk");
    EXPECT_EQ(palette.reminderLabel()->text(), u"apply = ask-before \u00b7 one card at a time");
    EXPECT_TRUE(palette.reminderLabel()->isVisibleTo(&palette));
    EXPECT_EQ(textOf(palette.listHeader()), u"FIX CARDS \u00b7 3 open");

    // The store's order, newest first, with the closed cards moved below the open ones.
    QList<Card> expected;
    for (const Card &c : model.openPieceCards())
        if (c.status == Card::Status::open)
            expected.append(c);
    for (const Card &c : model.openPieceCards())
        if (c.status != Card::Status::open)
            expected.append(c);
    ASSERT_EQ(palette.rows().size(), 5);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(palette.rows()[i]->card().id, expected[i].id) << i;

    const CardRow *hedgeRow = palette.row(hedge.id);
    EXPECT_EQ(buttonTitles(hedgeRow), (QStringList{"Apply", "Promote", "Skip"}));
    EXPECT_EQ(hedgeRow->opacity(), 1.0);
    EXPECT_EQ(colourOf(hedgeRow->patternLabel()), app::Palette::ink());
    EXPECT_TRUE(hedgeRow->metaLabel()->text().startsWith(u"#"));
    EXPECT_TRUE(hedgeRow->metaLabel()->text().endsWith(
        u"pass 1 \u00b7 mechanical \u00b7 engine \u00b7 apply \u00b7 ask-before"));
    EXPECT_TRUE(labelTexts(*hedgeRow).contains("Fix: far"));
    EXPECT_TRUE(labelTexts(*hedgeRow).contains("The sentence hedges."));

    EXPECT_EQ(buttonTitles(palette.row(demo.id)), (QStringList{"Done", "Promote", "Skip"}));

    const CardRow *staleRow = palette.row(stale.id);
    EXPECT_EQ(buttonTitles(staleRow), (QStringList{"Promote", "Skip"}));
    EXPECT_EQ(colourOf(staleRow->patternLabel()), review::orange());
    EXPECT_EQ(colourOf(staleRow->metaLabel()), review::orange());
    EXPECT_TRUE(staleRow->metaLabel()->text().endsWith(u" \u00b7 stale anchor"));

    const CardRow *appliedRow = palette.row(applied.id);
    EXPECT_EQ(buttonTitles(appliedRow), QStringList{"Promote"});
    EXPECT_DOUBLE_EQ(appliedRow->opacity(), 0.45);
    EXPECT_TRUE(appliedRow->metaLabel()->text().endsWith(u" \u00b7 applied"));
    // Closed and promoted: no button row at all.
    EXPECT_TRUE(buttonTitles(palette.row(skipped.id)).isEmpty());
    EXPECT_TRUE(palette.row(skipped.id)->metaLabel()->text().endsWith(u" \u00b7 skipped \u00b7 promoted"));
    testsupport::saveScreenshot(palette, "fix-cards-window", QSize(340, 900));
}

TEST_F(FixCardsPaletteTest, ApplyAsksFirstThenEditsThePieceThroughItsSession)
{
    const Card card = file(walk, "Distance hedge", "quite far", "far", Card::Lane::mechanical, 1);
    Card context = card;
    FixCardsPalette palette(model);
    open(walk, 1);
    // An unsaved word in the editor must survive the edit.
    const QString before = model.session()->text();
    const QByteArray fileBefore = testsupport::readFile(postFile(walk));
    model.session()->textDidChange(before + "Typed just now.\n");

    palette.row(card.id)->button("Apply")->click();
    ApplyAskSheet *sheet = palette.applySheet();
    ASSERT_NE(sheet, nullptr);
    EXPECT_TRUE(sheet->isVisible());
    const QStringList texts = labelTexts(*sheet);
    EXPECT_TRUE(texts.contains("Distance hedge"));
    EXPECT_TRUE(texts.contains("Anchored"));
    EXPECT_TRUE(texts.contains("quite far"));
    EXPECT_TRUE(texts.contains("Replacement"));
    EXPECT_TRUE(texts.contains("far"));
    EXPECT_TRUE(texts.contains(u"Apply writes this edit to the piece \u00b7 ask-before"));
    testsupport::saveScreenshot(*sheet, "fix-cards-apply-sheet");
    // Nothing is written before Apply.
    EXPECT_EQ(testsupport::readFile(postFile(walk)), fileBefore);

    QPointer<ApplyAskSheet> watched = sheet;
    sheet->applyButton()->click();
    EXPECT_TRUE(!watched || !watched->isVisible());
    const QString edited = QString(before).replace("quite far", "far") + "Typed just now.\n";
    EXPECT_EQ(model.session()->text(), edited);
    EXPECT_TRUE(QString::fromUtf8(testsupport::readFile(postFile(walk))).endsWith(edited));
    EXPECT_EQ(onDisk(walk, card.id).status, Card::Status::applied);
    ASSERT_TRUE(rowShows(palette, card.id, u" \u00b7 applied"_qs));
    EXPECT_EQ(buttonTitles(palette.row(card.id)), QStringList{"Promote"});
    EXPECT_DOUBLE_EQ(palette.row(card.id)->opacity(), 0.45);
    EXPECT_EQ(textOf(palette.listHeader()), u"FIX CARDS \u00b7 0 open");
}

TEST_F(FixCardsPaletteTest, TheApplySheetCaptionsAnOccurrenceAContextAndACut)
{
    FixCardStore::Input input;
    input.pattern = "Doubled word";
    input.problem = "Said twice.";
    input.fix = "";
    input.anchor.quote = "loud";
    input.anchor.occurrence = 2;
    input.anchor.context = "really very loud, and";
    const Card card = FixCardStore::write(folder(walk), {input}).first().card;
    ApplyAskSheet sheet(card, model);
    const QStringList texts = labelTexts(sheet);
    EXPECT_TRUE(texts.contains(u"Anchored \u00b7 occurrence 2"));
    EXPECT_TRUE(texts.contains("really very loud, and"));
    EXPECT_TRUE(texts.contains(u"(cut \u2014 the span is removed)"));

    // Applied, the second "loud" is cut from the text.
    FixCardsPalette palette(model);
    open(walk, 1);
    ApplyAskSheet live(card, model, &palette);
    const QString before = model.session()->text();
    live.applyCard();
    EXPECT_EQ(model.session()->text(), QString(before).replace("very loud,", "very ,"));
}

TEST_F(FixCardsPaletteTest, AGoneAnchorShowsTheStaleMessageAndTheRowTurnsStale)
{
    const Card card = file(walk, "Distance hedge", "quite far", "far");
    FixCardsPalette palette(model);
    open(walk, 1);
    model.session()->textDidChange("# Walk\n\nWe walked a long way.\n");

    palette.row(card.id)->button("Apply")->click();
    ApplyAskSheet *sheet = palette.applySheet();
    ASSERT_NE(sheet, nullptr);
    sheet->applyButton()->click();
    EXPECT_TRUE(sheet->wentStale());
    EXPECT_TRUE(labelTexts(*sheet).contains(ApplyAskSheet::staleMessage));
    EXPECT_TRUE(sheet->closeButton()->isVisible());
    EXPECT_FALSE(sheet->applyButton()->isVisible());
    testsupport::saveScreenshot(*sheet, "fix-cards-apply-sheet-stale");
    EXPECT_EQ(model.session()->text(), "# Walk\n\nWe walked a long way.\n");

    ASSERT_TRUE(rowShows(palette, card.id, u" \u00b7 stale anchor"_qs));
    // The sheet stays up for its Close; the card is still the open piece's.
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_EQ(buttonTitles(palette.row(card.id)), (QStringList{"Promote", "Skip"}));
    sheet->closeButton()->click();
    EXPECT_TRUE(spinUntil([&] { return palette.applySheet() == nullptr; }));
}

TEST_F(FixCardsPaletteTest, ARefusalShowsInOrangeAndTheSheetStaysForAnotherTry)
{
    const Card card = file(walk, "Distance hedge", "quite far", "far");
    FixCardsPalette palette(model);
    open(walk, 1);
    palette.row(card.id)->button("Apply")->click();
    ApplyAskSheet *sheet = palette.applySheet();
    ASSERT_NE(sheet, nullptr);
    // Closed elsewhere meanwhile: the sheet's copy still says open.
    rewrite(walk, card.id, [](Card &c) { c.status = Card::Status::done; });

    sheet->applyButton()->click();
    EXPECT_EQ(sheet->refusal(), "card already closed");
    const auto *refusal = sheet->findChild<QLabel *>("refusal");
    ASSERT_NE(refusal, nullptr);
    EXPECT_TRUE(refusal->isVisible());
    EXPECT_EQ(colourOf(refusal), review::orange());
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_TRUE(sheet->applyButton()->isEnabled());
    testsupport::saveScreenshot(*sheet, "fix-cards-apply-sheet-refusal");

    // Another try's refusal replaces the first.
    model.selectPiece(stroll.id);
    sheet->applyButton()->click();
    EXPECT_EQ(sheet->refusal(), "card not found: " + card.id.toString(QUuid::WithoutBraces).toUpper());
    EXPECT_EQ(sheet->findChildren<QLabel *>("refusal").size(), 1);
    EXPECT_TRUE(testsupport::readFile(postFile(walk)).endsWith(walkText.toUtf8()));
}

TEST_F(FixCardsPaletteTest, SkipAndDoneCloseACardAtOnce)
{
    const Card skip = file(walk, "Distance hedge", "quite far", "far");
    const Card demo = file(walk, "Show the harbour", "along the harbour", "along the harbour, its ropes slack",
                           Card::Lane::demonstration);
    FixCardsPalette palette(model);
    open(walk, 2);

    palette.row(skip.id)->button("Skip")->click();
    EXPECT_EQ(onDisk(walk, skip.id).status, Card::Status::skipped);
    ASSERT_TRUE(rowShows(palette, skip.id, u" \u00b7 skipped"_qs));
    EXPECT_EQ(buttonTitles(palette.row(skip.id)), QStringList{"Promote"});
    EXPECT_DOUBLE_EQ(palette.row(skip.id)->opacity(), 0.45);
    // It moves below the open card.
    EXPECT_EQ(palette.rows().last()->card().id, skip.id);

    palette.row(demo.id)->button("Done")->click();
    EXPECT_EQ(onDisk(walk, demo.id).status, Card::Status::done);
    ASSERT_TRUE(rowShows(palette, demo.id, u" \u00b7 done"_qs));
    EXPECT_EQ(buttonTitles(palette.row(demo.id)), QStringList{"Promote"});
    EXPECT_EQ(textOf(palette.listHeader()), u"FIX CARDS \u00b7 0 open");
    EXPECT_TRUE(testsupport::readFile(postFile(walk)).endsWith(walkText.toUtf8()));
}

TEST_F(FixCardsPaletteTest, PromoteAsksThenWritesTheLearningAndTheRowShowsItPromoted)
{
    const Card card =
        file(walk, "Show the harbour", "along the harbour", "along the harbour, its ropes slack",
             Card::Lane::demonstration, 1, "The place is named, not seen.", "What would a stranger see here?");
    FixCardsPalette palette(model);
    open(walk, 1);
    // Cancel writes nothing.
    palette.row(card.id)->button("Promote")->click();
    ASSERT_NE(palette.promoteSheet(), nullptr);
    palette.promoteSheet()->cancelButton()->click();
    EXPECT_EQ(palette.promoteSheet(), nullptr);
    EXPECT_FALSE(QFileInfo::exists(home + "/learnings"));

    palette.row(card.id)->button("Promote")->click();
    PromoteAskSheet *sheet = palette.promoteSheet();
    ASSERT_NE(sheet, nullptr);
    const QStringList texts = labelTexts(*sheet);
    EXPECT_TRUE(texts.contains("Promote to Learnings?"));
    EXPECT_TRUE(texts.contains("This pattern will be consulted on future Passes for Posts. "
                               "Pennora will write one plain markdown Learning."));
    EXPECT_TRUE(texts.contains("Show the harbour"));
    EXPECT_TRUE(texts.contains("The place is named, not seen."));
    EXPECT_TRUE(texts.contains("What would a stranger see here?"));
    EXPECT_TRUE(texts.contains("Example: along the harbour, its ropes slack"));
    EXPECT_TRUE(texts.contains(u"Walk \u00b7 Pass 1 \u00b7 hermes"));
    testsupport::saveScreenshot(*sheet, "fix-cards-promote-sheet");
    EXPECT_FALSE(QFileInfo::exists(home + "/learnings"));

    sheet->promoteButton()->click();
    EXPECT_EQ(testsupport::entries(home + "/learnings/posts").size(), 1);
    EXPECT_TRUE(onDisk(walk, card.id).promotedAt.has_value());
    ASSERT_TRUE(rowShows(palette, card.id, u" \u00b7 promoted"_qs));
    EXPECT_EQ(buttonTitles(palette.row(card.id)), (QStringList{"Done", "Skip"}));
    EXPECT_EQ(palette.promoteSheet(), nullptr);

    // The window's older copy: refused in orange, nothing written twice.
    PromoteAskSheet again(card, model, &palette);
    again.promote();
    EXPECT_EQ(again.refusal(), "learning write failed: card already promoted");
    EXPECT_EQ(testsupport::entries(home + "/learnings/posts").size(), 1);
}

TEST_F(FixCardsPaletteTest, TheKindOfPieceFollowsTheOpenPiece)
{
    EXPECT_EQ(PromoteAskSheet::kindLabel(model), "pieces");
    const Post outline = PostStore::createPiece("---\ntype: outline\n---\n# Plan\n\n- one\n", "Essays",
                                                Post::ContentType::outline, Post::Origin::writer, home);
    QCoro::waitFor(model.rescan());
    model.selectPiece(outline.id);
    EXPECT_EQ(PromoteAskSheet::kindLabel(model), "Outlines");
    model.selectPiece(walk.id);
    EXPECT_EQ(PromoteAskSheet::kindLabel(model), "Posts");
}

TEST_F(FixCardsPaletteTest, ACardOfThePieceLeftBehindIsNeverApplied)
{
    const Card card = file(walk, "Distance hedge", "quite far", "far");
    FixCardsPalette palette(model);
    open(walk, 1);
    palette.row(card.id)->button("Apply")->click();
    QPointer<ApplyAskSheet> sheet = palette.applySheet();
    ASSERT_TRUE(sheet);
    const QByteArray walkBefore = testsupport::readFile(postFile(walk));
    const QByteArray strollBefore = testsupport::readFile(postFile(stroll));

    // Another piece opens with the sheet up; its text holds the same quote.
    model.selectPiece(stroll.id);
    ASSERT_TRUE(model.isSessionOpen(stroll.id));
    sheet->applyButton()->click();
    EXPECT_EQ(sheet->refusal(), "card not found: " + card.id.toString(QUuid::WithoutBraces).toUpper());
    EXPECT_EQ(model.session()->text(), "# Stroll\n\nWe walked quite far along the harbour.\n");
    EXPECT_EQ(testsupport::readFile(postFile(stroll)), strollBefore);
    EXPECT_EQ(testsupport::readFile(postFile(walk)), walkBefore);
    EXPECT_EQ(onDisk(walk, card.id).status, Card::Status::open);

    // Once the other piece's cards are shown, the sheet closes itself.
    EXPECT_TRUE(spinUntil([&] { return !sheet || !sheet->isVisible(); }));
    EXPECT_EQ(palette.titleLabel()->text(), "Stroll");
    EXPECT_EQ(palette.emptyTitle()->text(), "No fix cards yet.");
}

} // namespace
