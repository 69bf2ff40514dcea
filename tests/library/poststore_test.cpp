#include "library/poststore.h"

#include "foundation/fs.h"
#include "testenv.h"
#include "testutil.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QUrl>
#include <functional>
#include <gtest/gtest.h>

using library::Post;
using library::StoreError;
namespace PostStore = library::PostStore;
using Code = StoreError::Code;
using testsupport::entries;
using testsupport::readFile;
using testsupport::readText;
using testsupport::writeFile;

namespace {

// A sandbox folder in the test HOME with the Home inside it, so that writes
// escaping the Home can be seen.
class PostStoreHome : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_sandbox.isValid());
        home = m_sandbox.path() + "/Home";
        ASSERT_TRUE(QDir().mkpath(home));
    }

    QString path(const QString &relative) const { return home + "/" + relative; }

    // A piece folder with a post.md; returns its Post (only the id matters).
    Post piece(const QString &relative, const QString &text = "# Title\n")
    {
        writeFile(path(relative + "/post.md"), text.toUtf8());
        Post post;
        post.id = QFileInfo(relative).fileName();
        return post;
    }

    bool exists(const QString &relative) const { return foundation::fs::existsNoFollow(path(relative)); }

    // Everything in the sandbox outside the Home.
    QStringList outsideHome() const
    {
        QStringList found;
        QDirIterator it(m_sandbox.path(), QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString p = it.next();
            if (p != home && !p.startsWith(home + "/"))
                found << p;
        }
        return found;
    }

    // Every path under the Home with the contents of its files.
    QStringList snapshot() const
    {
        QStringList entries;
        QDirIterator it(home, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString p = it.next();
            const QFileInfo info(p);
            entries << p.mid(home.size()) + (info.isFile() ? "=" + readText(p) : QString());
        }
        entries.sort();
        return entries;
    }

    QString home;

private:
    QTemporaryDir m_sandbox{testsupport::tempHome() + "/poststore-XXXXXX"};
};

template<typename F>
void expectStoreError(Code code, F &&operation, const char *what = "")
{
    try {
        operation();
        ADD_FAILURE() << "no error: " << what;
    } catch (const StoreError &error) {
        EXPECT_EQ(error.code(), code) << what;
        EXPECT_FALSE(error.message().isEmpty());
    }
}

} // namespace

TEST(PostStoreSlug, Table)
{
    struct Case {
        QString title;
        QString slug;
    };
    const QString a79(79, 'a');
    const Case cases[] = {
        {"Café déjà vu", "cafe-deja-vu"},
        {"Well-known  title!", "wellknown-title"},
        {"A - B", "a-b"},
        {"  Hello", "hello"},
        {"Hello \n\tWorld \n", "hello-world"},
        {"snake_case", "snakecase"},
        {"Über Straße 2", "uber-straße-2"},
        {"Ελληνικά κείμενα", "ελληνικα-κειμενα"},
        {"", "untitled"},
        {"   ", "untitled"},
        {"!!!", "untitled"},
        {a79 + " bcd", a79}, // the cut leaves a "-" that goes
        {QString(100, 'x'), QString(80, 'x')},
        {QString(90, QChar(0x00e9)), QString(80, 'e')},
        // Characters are clusters: a consonant with its vowel sign is one.
        {QString("\u0915\u093f").repeated(90), QString("\u0915\u093f").repeated(80)},
    };
    for (const Case &c : cases)
        EXPECT_EQ(PostStore::slug(c.title), c.slug) << ::testing::PrintToString(c.title);
}

TEST_F(PostStoreHome, UniqueNameAcrossBothRoots)
{
    piece("projects/a/foo");
    piece("archive/b/foo-2");
    EXPECT_EQ(PostStore::uniquePieceName("Foo", home), "foo-3");
    EXPECT_EQ(PostStore::uniquePieceName("Bar", home), "bar");
    // The suffix comes after the 80-character cut.
    piece("projects/a/" + QString(80, 'x'));
    EXPECT_EQ(PostStore::uniquePieceName(QString(100, 'x'), home), QString(80, 'x') + "-2");
}

TEST_F(PostStoreHome, UniqueNameCountsCaseHiddenAndPlainFiles)
{
    QDir().mkpath(path("projects/a/FOO"));
    writeFile(path("archive/b/.hidden"), "x");
    writeFile(path("projects/c/notes"), "a plain file");
    writeFile(path("projects/loose-file"), "not a project");
    EXPECT_EQ(PostStore::uniquePieceName("foo", home), "foo-2");
    EXPECT_EQ(PostStore::uniquePieceName(".hidden", home), "hidden");
    EXPECT_EQ(PostStore::uniquePieceName("hidden", home), "hidden");
    EXPECT_EQ(PostStore::uniquePieceName("Notes", home), "notes-2");
}

// Names compare under full case folding: a final sigma or ß is no new name.
TEST_F(PostStoreHome, NamesCollideUnderFullCaseFolding)
{
    piece("projects/a/οδος");
    EXPECT_EQ(PostStore::uniquePieceName("ΟΔΟΣ", home), PostStore::slug("ΟΔΟΣ") + "-2");
    piece("projects/a/strasse");
    EXPECT_EQ(PostStore::uniquePieceName("Straße", home), "straße-2");

    PostStore::createProject("Straße", home);
    expectStoreError(Code::fileWriteFileExists, [&] { PostStore::createProject("STRASSE", home); });
    const Post created = PostStore::createPiece("# T", "STRASSE", Post::ContentType::post, Post::Origin::writer, home);
    EXPECT_EQ(created.project, "Straße");
}

TEST_F(PostStoreHome, UniqueNameExclusionCoversOnlyThePlainSlug)
{
    piece("projects/a/my-post");
    piece("projects/a/foo");
    piece("projects/a/foo-2");
    EXPECT_EQ(PostStore::uniquePieceName("My Post!", home, QString("my-post")), "my-post");
    EXPECT_EQ(PostStore::uniquePieceName("Foo", home, QString("foo-2")), "foo-3");
}

TEST(PostStoreProjectName, ValidationTable)
{
    const QString refused[] = {
        "",         "   ",    ".hidden", "..", "../../x", "a/b", "a:b", "a\tb", QString("a") + QChar(0) + "b",
        "a\u200bb", "x\u0007"};
    for (const QString &name : refused)
        expectStoreError(
            Code::fileWriteInvalidFileName, [&] { PostStore::validateProjectName(name); }, name.toUtf8().constData());
    EXPECT_EQ(PostStore::validateProjectName("  Notes  "), "Notes");
    EXPECT_EQ(PostStore::validateProjectName("\nBlog 2025 — drafts\n"), "Blog 2025 — drafts");
}

TEST_F(PostStoreHome, CreateProject)
{
    PostStore::createProject("  Notes  ", home);
    EXPECT_TRUE(foundation::fs::isDirectoryNoFollow(path("projects/Notes")));
    expectStoreError(Code::fileWriteFileExists, [&] { PostStore::createProject("notes", home); });
    expectStoreError(Code::fileWriteInvalidFileName, [&] { PostStore::createProject("../up", home); });
    EXPECT_TRUE(outsideHome().isEmpty());
}

TEST_F(PostStoreHome, CreatePieceWritesDefaultFrontmatterAndUniqueFolder)
{
    piece("archive/old/my-idea");
    const Post post =
        PostStore::createPiece("# My Idea\n\nText", "Blog", Post::ContentType::post, Post::Origin::ai, home);
    EXPECT_EQ(post.id, "my-idea-2");
    EXPECT_EQ(post.title, "My Idea");
    EXPECT_EQ(post.project, "Blog");
    EXPECT_EQ(post.origin, Post::Origin::ai);
    EXPECT_EQ(post.type, Post::ContentType::post);
    EXPECT_EQ(post.passState, Post::PassState::firstDraft);
    EXPECT_FALSE(post.isArchived);
    EXPECT_FALSE(post.micropubURL);
    EXPECT_FALSE(post.firstDraftStats);
    EXPECT_EQ(readText(path("projects/Blog/my-idea-2/post.md")),
              "---\ntype: post\npass_state: First Draft\norigin: ai\n---\n# My Idea\n\nText");

    const Post outline =
        PostStore::createPiece("- Idea\n  - sub", "Blog", Post::ContentType::outline, Post::Origin::writer, home);
    EXPECT_EQ(outline.title, "- Idea");
    EXPECT_EQ(outline.id, "idea");
    EXPECT_EQ(readText(path("projects/Blog/idea/post.md")),
              "---\ntype: outline\npass_state: First Draft\norigin: writer\n---\n- Idea\n  - sub");

    const Post empty = PostStore::createPiece("", "Blog", Post::ContentType::post, Post::Origin::writer, home);
    EXPECT_EQ(empty.id, "untitled");
    EXPECT_EQ(empty.title, "untitled");

    // 80 Thai clusters of three code points each pass 255 bytes as a slug:
    // the folder name is cut further, by whole clusters, and still made unique.
    const QString thai = QStringLiteral("\u0E2A\u0E27\u0E31").repeated(80);
    for (const bool second : {false, true}) {
        const Post p = PostStore::createPiece("# " + thai, "Blog", Post::ContentType::post, Post::Origin::writer, home);
        EXPECT_LE(p.id.toUtf8().size(), 255);
        EXPECT_EQ(p.id.endsWith("-2"), second);
        EXPECT_TRUE(foundation::fs::isRegularFileNoFollow(path("projects/Blog/" + p.id + "/post.md")));
    }
}

// The folder is made under the name that was validated: line ends and
// spaces around it are no part of the project's name.
TEST_F(PostStoreHome, CreatePieceUsesTheTrimmedProjectName)
{
    struct Case {
        QString given;
        QString folder;
    };
    const Case cases[] = {
        {"Blog\n", "Blog"},
        {" Spaced ", "Spaced"},
        {"\tNotes\r\n", "Notes"},
        {"\n blog \n", "Blog"}, // the folder made above, under NFC + lower case
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.given));
        const Post post = PostStore::createPiece("# T", c.given, Post::ContentType::post, Post::Origin::writer, home);
        EXPECT_EQ(post.project, c.folder);
        EXPECT_TRUE(exists("projects/" + c.folder + "/" + post.id + "/post.md"));
    }
    EXPECT_EQ(QDir(path("projects")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).join("|"),
              "Blog|Notes|Spaced");
}

TEST_F(PostStoreHome, CreatePieceRefusesEscapingProjectNames)
{
    QDir().mkpath(path("projects"));
    const QStringList names{"../../x", "../x", "..", "a/b", ".hidden", "", "a:b"};
    for (const QString &name : names)
        expectStoreError(
            Code::fileWriteInvalidFileName,
            [&] { PostStore::createPiece("# T", name, Post::ContentType::post, Post::Origin::writer, home); },
            name.toUtf8().constData());
    EXPECT_TRUE(outsideHome().isEmpty()) << outsideHome().join(", ").toStdString();
    EXPECT_EQ(entries(path("projects")), QStringList());
}

TEST_F(PostStoreHome, CreatePieceRefusesASymlinkedProjectFolder)
{
    const QString elsewhere = home + "/../elsewhere";
    QDir().mkpath(elsewhere);
    QDir().mkpath(path("projects"));
    ASSERT_TRUE(QFile::link(elsewhere, path("projects/Linked")));
    EXPECT_THROW(PostStore::createPiece("# T", "Linked", Post::ContentType::post, Post::Origin::writer, home),
                 foundation::fs::FileError);
    EXPECT_TRUE(QDir(elsewhere).isEmpty());
}

TEST_F(PostStoreHome, CreatingNeverMakesAMissingHome)
{
    // An unplugged drive leaves an empty mount point where the Home was.
    const QString gone = home + "/unplugged";
    EXPECT_THROW(PostStore::createPiece("# T", "Blog", Post::ContentType::post, Post::Origin::writer, gone),
                 foundation::fs::FileError);
    EXPECT_THROW(PostStore::createProject("Blog", gone), foundation::fs::FileError);
    EXPECT_FALSE(QFileInfo::exists(gone));
    // A Home without projects/ yet is fine.
    PostStore::createProject("Blog", home);
    EXPECT_TRUE(foundation::fs::isDirectoryNoFollow(path("projects/Blog")));
}

TEST_F(PostStoreHome, CreatePieceLeavesNoFolderWithoutPostMd)
{
    // The write fails at its last step: the temp vanishes before its rename.
    foundation::fs::detail::setTempCreatedHook([](const QString &temp) { QFile::remove(temp); });
    EXPECT_THROW(PostStore::createPiece("# Lost", "Blog", Post::ContentType::post, Post::Origin::writer, home),
                 foundation::fs::FileError);
    foundation::fs::detail::setTempCreatedHook(nullptr);
    EXPECT_TRUE(exists("projects/Blog"));
    EXPECT_FALSE(exists("projects/Blog/lost"));
}

// A project name that differs only in case or composition names the same
// project: writes land in the existing folder rather than a second one.
TEST_F(PostStoreHome, WritesReuseTheProjectFolderOfTheSameName)
{
    QDir().mkpath(path("projects/Blog"));
    const Post created = PostStore::createPiece("# New", "blog", Post::ContentType::post, Post::Origin::writer, home);
    EXPECT_EQ(created.project, "Blog");
    EXPECT_TRUE(exists("projects/Blog/new/post.md"));
    EXPECT_FALSE(exists("projects/blog"));

    const Post moved = piece("projects/essays/p");
    PostStore::movePiece(moved, "BLOG", home);
    EXPECT_TRUE(exists("projects/Blog/p/post.md"));
    EXPECT_FALSE(exists("projects/BLOG"));

    QDir().mkpath(path("archive/BLOG"));
    PostStore::archivePiece(moved, home);
    EXPECT_TRUE(exists("archive/BLOG/p/post.md"));
    EXPECT_FALSE(exists("archive/Blog"));

    PostStore::unarchiveProject("BLOG", home);
    EXPECT_TRUE(exists("projects/Blog/p/post.md"));
    EXPECT_FALSE(exists("projects/BLOG"));
    EXPECT_FALSE(exists("archive/BLOG"));

    // Composed and decomposed forms are one name too.
    QDir().mkpath(path("projects/Caf\u00e9"));
    PostStore::movePiece(moved, "cafe\u0301", home);
    EXPECT_TRUE(exists("projects/Caf\u00e9/p/post.md"));
}

TEST_F(PostStoreHome, FolderURLOrderAndSkips)
{
    piece("archive/a/same");
    piece("projects/b/same");
    piece("projects/a/dup");
    piece("projects/B/dup");
    EXPECT_EQ(PostStore::folderPath("same", home), path("projects/b/same"));
    EXPECT_EQ(PostStore::folderPath("dup", home), path("projects/B/dup")); // "B" < "a"
    EXPECT_FALSE(PostStore::folderPath("missing", home));

    // A symlinked or hidden project folder, and a symlinked piece folder, are
    // never answers.
    const QString outside = home + "/../outside";
    writeFile(outside + "/secret/post.md", "x");
    ASSERT_TRUE(QFile::link(outside, path("projects/linked")));
    piece("projects/.hidden/ghost");
    ASSERT_TRUE(QFile::link(outside + "/secret", path("projects/a/sneaky")));
    EXPECT_FALSE(PostStore::folderPath("secret", home));
    EXPECT_FALSE(PostStore::folderPath("ghost", home));
    EXPECT_FALSE(PostStore::folderPath("sneaky", home));
    // A plain file is no piece folder.
    writeFile(path("projects/a/file"), "x");
    EXPECT_FALSE(PostStore::folderPath("file", home));
}

TEST_F(PostStoreHome, FolderURLRefusesTraversalIDs)
{
    piece("projects/a/p");
    piece("projects/a/.hidden");
    const QString ids[] = {"", ".", "..", "../a", "p/../p", "a/p", ".hidden", QString("p") + QChar(0)};
    for (const QString &id : ids)
        EXPECT_FALSE(PostStore::folderPath(id, home)) << ::testing::PrintToString(id);
    // Nothing id-based reaches outside: ".." would be the project folder.
    Post up;
    up.id = "..";
    expectStoreError(Code::fileReadNoSuchFile, [&] { PostStore::trashPiece(up, home); });
    expectStoreError(Code::fileReadNoSuchFile, [&] { PostStore::archivePiece(up, home); });
    expectStoreError(Code::fileReadNoSuchFile, [&] { PostStore::renamePiece(up, "X", home); });
    EXPECT_TRUE(exists("projects/a/p/post.md"));
    EXPECT_TRUE(outsideHome().isEmpty());
}

TEST(PostStoreHeading, ReplaceTitleHeadingTable)
{
    struct Case {
        QString body;
        QString expected;
    };
    const Case cases[] = {
        {"Intro line\n\nText", "# New\nIntro line\n\nText"},
        {"\n\n## Old\nText", "\n\n# New\nText"},
        {"", "# New"},
        {"\n  \n", "# New"},
        {"  # Old  \nText\n", "# New\nText\n"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(PostStore::replaceTitleHeading(c.body, "# New"), c.expected);
}

TEST_F(PostStoreHome, RenameKeepsFolderWhenSlugIsUnchanged)
{
    Post post = piece("projects/a/my-post", "---\ntype: post\n---\n# Old\nBody\n");
    post.passState = Post::PassState::pass1Done;
    post.project = "a";
    post.micropubURL = QString("https://example.com/p");
    const Post renamed = PostStore::renamePiece(post, "My Post!", home);
    EXPECT_EQ(renamed.id, "my-post");
    EXPECT_EQ(renamed.title, "My Post!");
    EXPECT_EQ(renamed.passState, Post::PassState::pass1Done);
    EXPECT_EQ(renamed.project, "a");
    EXPECT_FALSE(renamed.micropubURL);
    EXPECT_EQ(readText(path("projects/a/my-post/post.md")), "---\ntype: post\n---\n# My Post!\nBody\n");
}

TEST_F(PostStoreHome, RenameMovesToTheNextFreeName)
{
    piece("projects/a/foo");
    const Post post = piece("archive/b/foo-2", "Intro");
    const Post renamed = PostStore::renamePiece(post, "Foo", home);
    EXPECT_EQ(renamed.id, "foo-3");
    EXPECT_FALSE(exists("archive/b/foo-2"));
    EXPECT_EQ(readText(path("archive/b/foo-3/post.md")), "# Foo\nIntro");

    Post missing;
    missing.id = "nope";
    expectStoreError(Code::fileReadNoSuchFile, [&] { PostStore::renamePiece(missing, "X", home); });
}

TEST_F(PostStoreHome, RenameKeepsAPastedLineBreakOutOfTheBody)
{
    const Post post = piece("projects/a/old", "# Old\nBody\n");
    const Post renamed = PostStore::renamePiece(post, "New\nTitle", home);
    EXPECT_EQ(renamed.id, "new-title");
    EXPECT_EQ(renamed.title, "New Title");
    EXPECT_EQ(readText(path("projects/a/new-title/post.md")), "# New Title\nBody\n");
}

TEST_F(PostStoreHome, RenameRefusesTextThatIsNotUTF8)
{
    const Post post = piece("projects/a/p");
    const QByteArray latin1 = "---\ntype: post\n---\n# Caf\xe9\n";
    writeFile(path("projects/a/p/post.md"), latin1);
    EXPECT_THROW(PostStore::renamePiece(post, "New", home), foundation::fs::FileError);
    EXPECT_EQ(readFile(path("projects/a/p/post.md")), latin1);
    EXPECT_TRUE(exists("projects/a/p"));
}

TEST_F(PostStoreHome, MovePiece)
{
    const Post post = piece("projects/blog/p");
    PostStore::movePiece(post, " Blog ", home); // same project under NFC + lower case
    EXPECT_TRUE(exists("projects/blog/p/post.md"));
    EXPECT_FALSE(exists("projects/Blog"));

    PostStore::movePiece(post, "  Essays ", home);
    EXPECT_TRUE(exists("projects/Essays/p/post.md"));
    EXPECT_FALSE(exists("projects/blog/p"));

    // A project folder whose name differs only in case is another project
    // when it is there in its own right.
    const Post other = piece("projects/essays/r");
    PostStore::movePiece(post, "essays", home);
    EXPECT_TRUE(exists("projects/essays/p/post.md"));
    EXPECT_FALSE(exists("projects/Essays/p"));
    PostStore::movePiece(other, "Essays", home);
    EXPECT_TRUE(exists("projects/Essays/r/post.md"));

    expectStoreError(Code::fileWriteInvalidFileName, [&] { PostStore::movePiece(post, "../x", home); });
    const Post archived = piece("archive/old/q");
    expectStoreError(Code::featureUnsupported, [&] { PostStore::movePiece(archived, "Essays", home); });
    EXPECT_TRUE(exists("archive/old/q/post.md"));
    EXPECT_TRUE(outsideHome().isEmpty());
}

TEST_F(PostStoreHome, ArchiveAndRestore)
{
    const Post post = piece("projects/blog/p", "body");
    PostStore::archivePiece(post, home);
    EXPECT_EQ(readText(path("archive/blog/p/post.md")), "body");
    EXPECT_FALSE(exists("projects/blog/p"));
    PostStore::unarchivePiece(post, home);
    EXPECT_EQ(readText(path("projects/blog/p/post.md")), "body");
    EXPECT_FALSE(exists("archive/blog/p"));
}

TEST_F(PostStoreHome, RestoringFindsTheLiveCopyFirst)
{
    const Post post = piece("projects/blog/p", "live");
    piece("archive/blog/p", "archived");
    const QStringList before = snapshot();
    expectStoreError(Code::fileWriteFileExists, [&] { PostStore::unarchivePiece(post, home); });
    EXPECT_EQ(snapshot(), before);
}

// Every move refuses a target that exists, whatever it is, and moves nothing.
TEST_F(PostStoreHome, EveryMoveRefusesAnExistingTarget)
{
    using Make = std::function<void(const QString &)>;
    const std::pair<const char *, Make> targets[] = {
        {"empty folder", [](const QString &p) { QDir().mkpath(p); }},
        {"file", [](const QString &p) { writeFile(p, "occupied"); }},
        {"folder with content", [](const QString &p) { writeFile(p + "/keep.txt", "keep"); }},
    };
    struct Move {
        const char *name;
        QString source; // the piece, relative to the Home
        QString target; // where the move would land
        std::function<void(const Post &)> run;
    };
    const Move moves[] = {
        {"move", "projects/blog/p", "projects/other/p", [&](const Post &p) { PostStore::movePiece(p, "other", home); }},
        {"archive", "projects/blog/p", "archive/blog/p", [&](const Post &p) { PostStore::archivePiece(p, home); }},
        {"restore", "archive/blog/p", "projects/blog/p", [&](const Post &p) { PostStore::unarchivePiece(p, home); }},
        {"restore project", "archive/blog/p", "projects/blog/p",
         [&](const Post &) { PostStore::unarchiveProject("blog", home); }},
    };
    for (const Move &move : moves) {
        for (const auto &[kind, make] : targets) {
            QDir(path("projects")).removeRecursively();
            QDir(path("archive")).removeRecursively();
            const Post post = piece(move.source, "original");
            make(path(move.target));
            const QStringList before = snapshot();
            expectStoreError(
                Code::fileWriteFileExists, [&] { move.run(post); }, (std::string(move.name) + " onto " + kind).c_str());
            // Only an empty target project folder may appear.
            EXPECT_EQ(snapshot(), before) << move.name << " onto " << kind;
        }
    }
}

TEST_F(PostStoreHome, UnarchiveProjectMovesVisibleEntries)
{
    piece("archive/blog/a", "A");
    piece("archive/blog/b", "B");
    PostStore::unarchiveProject("blog", home);
    EXPECT_EQ(readText(path("projects/blog/a/post.md")), "A");
    EXPECT_EQ(readText(path("projects/blog/b/post.md")), "B");
    EXPECT_FALSE(exists("archive/blog"));

    piece("archive/notes/c");
    writeFile(path("archive/notes/.DS_Store"), "x");
    PostStore::unarchiveProject("notes", home);
    EXPECT_TRUE(exists("projects/notes/c/post.md"));
    EXPECT_TRUE(exists("archive/notes/.DS_Store"));
}

TEST_F(PostStoreHome, UnarchiveProjectStopsAtTheFirstCollision)
{
    piece("archive/blog/a", "A");
    piece("archive/blog/b", "archived B");
    piece("archive/blog/c", "C");
    piece("projects/blog/b", "live B");
    expectStoreError(Code::fileWriteFileExists, [&] { PostStore::unarchiveProject("blog", home); });
    EXPECT_EQ(readText(path("projects/blog/a/post.md")), "A");
    EXPECT_EQ(readText(path("projects/blog/b/post.md")), "live B");
    EXPECT_EQ(readText(path("archive/blog/b/post.md")), "archived B");
    EXPECT_TRUE(exists("archive/blog/c/post.md"));
}

TEST_F(PostStoreHome, UnarchiveProjectRefusals)
{
    expectStoreError(Code::fileReadNoSuchFile, [&] { PostStore::unarchiveProject("none", home); });
    writeFile(path("archive/file"), "x");
    expectStoreError(Code::fileReadNoSuchFile, [&] { PostStore::unarchiveProject("file", home); });
    // "../x" would move entries of a folder outside the archive.
    writeFile((home + "/../outside") + "/loot/post.md", "x");
    for (const QString &name : {QString("../../outside"), QString(".."), QString("a/b")})
        expectStoreError(Code::fileWriteInvalidFileName, [&] { PostStore::unarchiveProject(name, home); });
    EXPECT_TRUE(QFile::exists((home + "/../outside") + "/loot/post.md"));
    EXPECT_FALSE(exists("projects/loot"));
}

TEST_F(PostStoreHome, TrashPiece)
{
    const Post post = piece("projects/blog/gone", "bye");
    PostStore::trashPiece(post, home);
    EXPECT_FALSE(exists("projects/blog/gone"));
    const QString trashed = qEnvironmentVariable("XDG_DATA_HOME") + "/Trash/files/gone/post.md";
    EXPECT_EQ(readText(trashed), "bye");
    expectStoreError(Code::fileReadNoSuchFile, [&] { PostStore::trashPiece(post, home); });
}

// Without a data folder the Trash is made where the freedesktop layout puts
// it; when it cannot be made, trashing fails and the piece stays. Nothing
// ever lands in the working folder.
TEST_F(PostStoreHome, TrashPieceWithoutADataFolderYet)
{
    struct Case {
        const char *what;
        QString data;   // XDG_DATA_HOME, relative to the sandbox
        QString result; // "trashed" or the FileError's operation
    };
    const Case cases[] = {
        {"missing data folder", "missing/share", "trashed"},
        {"missing Trash in an existing data folder", "share", "trashed"},
        {"data folder below a plain file", "plain/share", "create folder"},
    };
    const QString sandbox = QFileInfo(home).path();
    writeFile(sandbox + "/plain", "not a folder");
    QDir().mkpath(sandbox + "/share");
    const QString cwd = sandbox + "/cwd";
    ASSERT_TRUE(QDir().mkpath(cwd));
    const QString oldCwd = QDir::currentPath();
    const QByteArray oldData = qgetenv("XDG_DATA_HOME");
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const QString data = sandbox + "/" + c.data;
        const Post post = piece("projects/blog/gone", "bye");
        qputenv("XDG_DATA_HOME", QFile::encodeName(data));
        ASSERT_TRUE(QDir::setCurrent(cwd));
        QString result = "trashed";
        try {
            PostStore::trashPiece(post, home);
        } catch (const foundation::fs::FileError &e) {
            result = e.message().section(" failed", 0, 0);
        }
        QDir::setCurrent(oldCwd);
        qputenv("XDG_DATA_HOME", oldData);

        EXPECT_EQ(result, c.result);
        EXPECT_TRUE(QDir(cwd).isEmpty()) << ::testing::PrintToString(
            QDir(cwd).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).join(" "));
        if (c.result == "trashed") {
            EXPECT_EQ(readText(data + "/Trash/files/gone/post.md"), "bye");
            EXPECT_TRUE(QFileInfo(data + "/Trash/info/gone.trashinfo").isFile());
            EXPECT_FALSE(exists("projects/blog/gone"));
            QDir(data + "/Trash").removeRecursively();
        } else {
            EXPECT_EQ(readText(path("projects/blog/gone/post.md")), "bye");
            QDir(path("projects/blog/gone")).removeRecursively();
        }
        QDir(cwd).removeRecursively();
        QDir().mkpath(cwd);
    }
}

TEST(PostStoreTypes, Importable)
{
    EXPECT_EQ(PostStore::importableTypes(), (QStringList{"md", "markdown"}));
    EXPECT_TRUE(PostStore::isImportable("/x/Notes.MD"));
    EXPECT_TRUE(PostStore::isImportable("a.markdown"));
    EXPECT_FALSE(PostStore::isImportable("a.txt"));
    // Only local files: a page that ends in .md is no file to open.
    EXPECT_TRUE(PostStore::isImportable(QUrl::fromLocalFile("/x/Notes.MD")));
    EXPECT_FALSE(PostStore::isImportable(QUrl("https://example.com/notes.md")));
    EXPECT_FALSE(PostStore::isImportable(QUrl::fromLocalFile("/x/notes.txt")));
}
