#include "panes/library/librarygroups.h"
#include "panes/library/librarypostrow.h"

#include "pieces.h"
#include "testutil.h"

#include <QLocale>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

using library::Post;
using panes::ArchivePaneState;
using panes::LibraryColumnState;
using panes::LibraryPostRow;
using panes::ProjectGroup;
using panes::RowMenuItem;
using testsupport::piece;
using testsupport::titles;
using State = Post::PassState;

QStringList projects(const QList<ProjectGroup> &groups)
{
    QStringList out;
    for (const ProjectGroup &group : groups)
        out.append(group.project);
    return out;
}

// The groups follow natural order whatever the locale: CI runs under C.UTF-8.
class LibraryGroupsLocale : public ::testing::TestWithParam<const char *> {
protected:
    void SetUp() override { QLocale::setDefault(QLocale(QString::fromLatin1(GetParam()))); }
    void TearDown() override { QLocale::setDefault(QLocale(u"en_US"_s)); }
};

TEST_P(LibraryGroupsLocale, ProjectsInNaturalOrder)
{
    const QList<Post> posts{piece(u"a"_s, u"essays 10"_s), piece(u"b"_s, u"Drafts"_s),
                            piece(u"c"_s, u"essays 2"_s),  piece(u"d"_s, u"Essays"_s),
                            piece(u"e"_s, u"essays 10"_s), piece(u"f"_s, u"Old"_s, true)};
    const QList<ProjectGroup> groups = LibraryColumnState::piecesByProject(posts);
    EXPECT_EQ(projects(groups), (QStringList{u"Drafts"_s, u"Essays"_s, u"essays 2"_s, u"essays 10"_s}));
    // Each group keeps the model's order.
    EXPECT_EQ(groups.last().pieces, (QList<Post>{posts[0], posts[4]}));

    const QList<Post> archived{piece(u"x"_s, u"Essays 10"_s, true), piece(u"y"_s, u"essays 2"_s, true),
                               piece(u"z"_s, u"Drafts"_s, true), piece(u"w"_s, u"Live"_s)};
    const QList<ProjectGroup> archive = ArchivePaneState::archivedGroups(archived);
    EXPECT_EQ(projects(archive), (QStringList{u"Drafts"_s, u"essays 2"_s, u"Essays 10"_s}));
    EXPECT_EQ(ArchivePaneState::headerName(archive.last().project), u"ESSAYS 10"_s);
    EXPECT_EQ(LibraryColumnState::headerName(u"Essays 10"_s), u"essays 10"_s);
}

INSTANTIATE_TEST_SUITE_P(Locales, LibraryGroupsLocale, ::testing::Values("C", "en_US"));

TEST(LibraryColumn, LivePiecesGroupsSectionsAndCaptions)
{
    const QList<Post> posts{piece(u"A"_s, u"Essays"_s, false, State::pass2Done),
                            piece(u"B"_s, u"Essays"_s, false, State::firstDraft),
                            piece(u"C"_s, u"Essays"_s, false, State::pass2Done),
                            piece(u"D"_s, u"Gone"_s, true),
                            piece(u"E"_s, u"Mixed"_s, true),
                            piece(u"F"_s, u"Mixed"_s)};
    LibraryColumnState column;
    const QList<ProjectGroup> groups = column.piecesByProject(posts);
    // A project whose pieces are all archived has no group; a mixed one shows its live piece.
    ASSERT_EQ(projects(groups), (QStringList{u"Essays"_s, u"Mixed"_s}));
    EXPECT_EQ(LibraryColumnState::headerAccessibilityLabel(groups[1]), u"Mixed, 1 pieces"_s);
    EXPECT_EQ(panes::LibraryGroups::countText(groups[0].pieces.size()), u"\u00b7 3"_s);

    const QList<panes::PassSection> sections = column.visibleSections(groups[0]);
    ASSERT_EQ(sections.size(), 2);
    EXPECT_EQ(sections[0].state, State::firstDraft);
    EXPECT_EQ(sections[0].pieces, QList<Post>{posts[1]});
    EXPECT_EQ(sections[1].state, State::pass2Done);
    EXPECT_EQ(sections[1].pieces, (QList<Post>{posts[0], posts[2]}));
    EXPECT_EQ(panes::LibraryGroups::passCaption(State::firstDraft), u"FIRST DRAFT"_s);
    EXPECT_EQ(panes::LibraryGroups::passCaption(State::pass1Done), u"PASS 1 DONE"_s);
    EXPECT_EQ(panes::LibraryGroups::passCaption(State::pass2Done), u"PASS 2 DONE"_s);
}

TEST(LibraryColumn, FoldsAreNeverPruned)
{
    LibraryColumnState column;
    QList<Post> posts{piece(u"A"_s, u"Essays"_s), piece(u"B"_s, u"Notes"_s)};
    column.toggleCollapsed(u"Essays"_s);
    QList<ProjectGroup> groups = column.piecesByProject(posts);
    EXPECT_TRUE(column.visibleSections(groups[0]).isEmpty());
    EXPECT_EQ(panes::LibraryGroups::collapsedHint(column.collapsed.contains(u"Essays"_s)), u"Collapsed"_s);
    EXPECT_EQ(column.visibleSections(groups[1]).size(), 1);

    // The last piece is archived: the group goes, the fold stays and folds
    // the project of that name when it comes back.
    posts[0].isArchived = true;
    EXPECT_EQ(projects(column.piecesByProject(posts)), QStringList{u"Notes"_s});
    posts.append(piece(u"C"_s, u"Essays"_s));
    groups = column.piecesByProject(posts);
    ASSERT_EQ(groups[0].project, u"Essays"_s);
    EXPECT_TRUE(column.visibleSections(groups[0]).isEmpty());
    EXPECT_EQ(groups[0].pieces.size(), 1); // the count stays

    column.toggleCollapsed(u"Essays"_s);
    EXPECT_EQ(column.visibleSections(groups[0]).size(), 1);
    EXPECT_EQ(panes::LibraryGroups::collapsedHint(false), u"Expanded"_s);

    ArchivePaneState archive;
    const QList<Post> archived{piece(u"A"_s, u"Old"_s, true), piece(u"B"_s, u"Old"_s, true)};
    archive.toggleCollapsed(u"Old"_s);
    const QList<ProjectGroup> archivedGroups = archive.archivedGroups(archived);
    EXPECT_TRUE(archive.visibleRows(archivedGroups[0]).isEmpty());
    archive.toggleCollapsed(u"Old"_s);
    EXPECT_EQ(archive.visibleRows(archivedGroups[0]), archived);
}

TEST(LibraryColumn, ListAreaFollowsSearchAndLivePieces)
{
    using Area = LibraryColumnState::ListArea;
    LibraryColumnState column;
    EXPECT_EQ(column.listArea({}), Area::empty);
    EXPECT_EQ(column.listArea({piece(u"A"_s, u"P"_s, true)}), Area::empty);
    EXPECT_EQ(column.listArea({piece(u"A"_s, u"P"_s)}), Area::groupedList);
    column.query = u" \t\n"_s;
    EXPECT_FALSE(column.isSearching());
    EXPECT_EQ(column.listArea({piece(u"A"_s, u"P"_s)}), Area::groupedList);
    column.query = u" a "_s;
    EXPECT_EQ(column.listArea({}), Area::searching);

    ArchivePaneState archive;
    EXPECT_TRUE(archive.showsEmptyState({piece(u"A"_s, u"P"_s)}));
    EXPECT_FALSE(archive.showsEmptyState({piece(u"A"_s, u"P"_s, true)}));
}

TEST(LibraryColumn, RowMenus)
{
    using A = RowMenuItem::Action;
    Post post = piece(u"A"_s, u"Essays"_s);
    const auto actions = [](const QList<RowMenuItem> &items) {
        QList<A> out;
        for (const RowMenuItem &item : items)
            out.append(item.action);
        return out;
    };
    EXPECT_EQ(actions(LibraryColumnState::rowMenu(post)),
              (QList<A>{A::rename, A::moveToProject, A::archive, A::trash}));
    EXPECT_EQ(ArchivePaneState::rowMenu(post), (QList<RowMenuItem>{{A::restore, u"Move Back to Essays"_s, false},
                                                                   {A::rename, u"Rename\u2026"_s, false}}));
    post.type = Post::ContentType::outline;
    EXPECT_EQ(LibraryColumnState::rowMenu(post),
              (QList<RowMenuItem>{{A::rename, u"Rename\u2026"_s, false},
                                  {A::convertToPost, u"Convert to Post\u2026"_s, false},
                                  {A::moveToProject, u"Move to Project\u2026"_s, false},
                                  {A::archive, u"Move to Archive"_s, false},
                                  {A::trash, u"Move to Trash"_s, true}}));
    EXPECT_EQ(actions(ArchivePaneState::rowMenu(post)), (QList<A>{A::restore, A::rename, A::convertToPost}));
    EXPECT_EQ(ArchivePaneState::toggleAccessibilityLabel(u"Essays"_s), u"Toggle Essays"_s);
    EXPECT_EQ(ArchivePaneState::unarchiveAccessibilityLabel(u"Essays"_s), u"Unarchive Essays"_s);
}

TEST(LibraryPostRowTexts, TitleOriginHelpAndAccessibility)
{
    Post post = piece(u"Harbour Lights"_s, u"Essays"_s, false, State::pass1Done);
    LibraryPostRow row{post};
    EXPECT_EQ(row.titleText(), u"Harbour Lights"_s);
    EXPECT_EQ(row.helpText(), u"Harbour Lights"_s);
    EXPECT_EQ(row.originText(), u"writer"_s);
    EXPECT_EQ(row.accessibilityText(), u"Harbour Lights, Pass-1 Done, origin writer"_s);

    post = piece(u"Plans"_s, u"Essays"_s);
    post.origin = Post::Origin::ai;
    post.type = Post::ContentType::outline;
    row = LibraryPostRow{post};
    EXPECT_EQ(row.titleText(), u"Plans \u2733"_s);
    EXPECT_EQ(row.helpText(), u"Plans \u2014 outline"_s);
    EXPECT_EQ(row.originText(), u"ai"_s);
    // The type is not part of the label.
    EXPECT_EQ(row.accessibilityText(), u"Plans, First Draft, origin ai"_s);
}

TEST(LibraryPostRowTexts, TintAndStrip)
{
    const struct {
        bool selected, hover;
        std::optional<double> tint;
        double strip;
    } cases[] = {
        {false, false, std::nullopt, 0.0},
        {false, true, 0.06, 0.0},
        {true, false, 0.08, 1.0},
        {true, true, 0.08, 1.0}, // selection wins over hovering
    };
    for (const auto &c : cases) {
        const LibraryPostRow row{piece(u"A"_s, u"P"_s), c.selected, c.hover};
        EXPECT_EQ(row.rowTint(), c.tint) << c.selected << c.hover;
        EXPECT_EQ(row.stripOpacity(), c.strip) << c.selected << c.hover;
    }
}

} // namespace
