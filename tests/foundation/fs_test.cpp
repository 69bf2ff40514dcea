#include "foundation/fs.h"
#include "testenv.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <grp.h>
#include <limits>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace foundation::fs;

using testsupport::entries;
using testsupport::inChild;
using testsupport::modeOf;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

QByteArray local(const QString &path)
{
    return QFile::encodeName(path);
}

void makeSymLink(const QString &pointsTo, const QString &link)
{
    ASSERT_EQ(::symlink(local(pointsTo).constData(), local(link).constData()), 0);
}

// The errno of the FileError thrown by f, or 0 when it succeeds.
int errorOf(const std::function<void()> &f)
{
    try {
        f();
    } catch (const FileError &e) {
        return e.code();
    }
    return 0;
}

class Umask {
public:
    explicit Umask(mode_t mask) : m_old(::umask(mask)) {}
    ~Umask() { ::umask(m_old); }

private:
    mode_t m_old;
};

mode_t currentUmask()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

// What the temp looked like right after creation, recorded by the hook.
struct TempSeen {
    QString path;
    mode_t mode = 0;
    qint64 size = -1;
};
TempSeen g_tempSeen;

void recordTemp(const QString &tempPath)
{
    struct stat st {};
    ::stat(local(tempPath).constData(), &st);
    g_tempSeen = {tempPath, st.st_mode & 07777, st.st_size};
}

void throwFromHook(const QString &tempPath)
{
    g_tempSeen.path = tempPath;
    throw std::runtime_error("injected");
}

struct HookGuard {
    explicit HookGuard(detail::TempCreatedHook hook)
    {
        g_tempSeen = {};
        detail::setTempCreatedHook(hook);
    }
    ~HookGuard() { detail::setTempCreatedHook(nullptr); }
};

struct FolderSyncFailure {
    explicit FolderSyncFailure(int code) { detail::setFolderSyncFailure(code); }
    ~FolderSyncFailure() { detail::setFolderSyncFailure(0); }
};

// The warnings logged while it lives.
class WarningCapture {
public:
    WarningCapture() : m_previous(qInstallMessageHandler(record)) { s_seen.clear(); }
    ~WarningCapture() { qInstallMessageHandler(m_previous); }
    const QStringList &seen() const { return s_seen; }

private:
    static void record(QtMsgType type, const QMessageLogContext &, const QString &message)
    {
        if (type == QtWarningMsg)
            s_seen.append(message);
    }
    static inline QStringList s_seen;
    QtMessageHandler m_previous;
};

// The steps a durable write took, as "step path" lines.
QStringList g_steps;

void recordStep(detail::Step step, const QString &path)
{
    static const char *const names[] = {"write", "syncFile", "rename", "syncFolder"};
    g_steps.append(QString::fromLatin1(names[static_cast<int>(step)]) + " " + path);
}

struct StepRecorder {
    StepRecorder()
    {
        g_steps.clear();
        detail::setStepObserver(recordStep);
    }
    ~StepRecorder() { detail::setStepObserver(nullptr); }
};

// The first temp is tried under ".planted", later ones at random.
QString plantedFirst(int attempt)
{
    return attempt == 0 ? QStringLiteral(".planted") : QString();
}

struct TempNameGuard {
    explicit TempNameGuard(detail::TempNameHook hook) { detail::setTempNameHook(hook); }
    ~TempNameGuard() { detail::setTempNameHook(nullptr); }
};

} // namespace

TEST(FsError, MessageNamesOperationReasonAndPath)
{
    const FileError e(ENOENT, QStringLiteral("/no/such/file"), QStringLiteral("open"));
    EXPECT_EQ(e.code(), ENOENT);
    EXPECT_EQ(e.path(), QStringLiteral("/no/such/file"));
    EXPECT_EQ(e.message(), QStringLiteral("open failed: No such file or directory: /no/such/file"));
    EXPECT_STREQ(e.what(), "open failed: No such file or directory: /no/such/file");
}

// ---- atomicWrite ----

TEST(FsAtomicWrite, CreatesThenReplacesWholeContent)
{
    QTemporaryDir dir;
    const QString file = dir.path() + "/note.md";
    atomicWrite(file, "a longer first version\n");
    EXPECT_EQ(readFile(file), "a longer first version\n");
    atomicWrite(file, "short\n");
    EXPECT_EQ(readFile(file), "short\n");
    atomicWrite(file, QByteArray());
    EXPECT_EQ(readFile(file), QByteArray());
    EXPECT_EQ(entries(dir.path()), QStringList{"note.md"});
}

TEST(FsAtomicWrite, NewFileGetsDefaultModeUnderUmask)
{
    for (const mode_t mask : {022, 077, 002, 027}) {
        QTemporaryDir dir;
        const QString file = dir.path() + "/new.md";
        {
            const Umask umask(mask);
            atomicWrite(file, "x");
        }
        EXPECT_EQ(modeOf(file), 0666 & ~mask) << "umask " << std::oct << mask;
    }
}

TEST(FsAtomicWrite, RewriteKeepsTheOldMode)
{
    for (const mode_t mode : {0644, 0640, 0600, 0444, 0755}) {
        QTemporaryDir dir;
        const QString file = dir.path() + "/doc.md";
        writeFile(file, "old");
        ASSERT_EQ(::chmod(local(file).constData(), mode), 0);
        {
            const Umask umask(077); // would change the mode if it applied
            atomicWrite(file, "new");
        }
        EXPECT_EQ(modeOf(file), mode) << "mode " << std::oct << mode;
        EXPECT_EQ(readFile(file), "new");
    }
}

TEST(FsAtomicWrite, TempHasItsFinalModeBeforeTheFirstByte)
{
    struct Case {
        const char *what;
        int oldMode; // -1: no old file
        Privacy privacy;
        mode_t mask;
        mode_t expected;
    };
    const Case cases[] = {
        {"private new file, umask 0", -1, Privacy::Private, 0, 0600},
        {"private rewrite of a 0644 file", 0644, Privacy::Private, 0, 0600},
        {"rewrite of a 0640 file, umask 0", 0640, Privacy::Default, 0, 0640},
        {"rewrite of a 0644 file, umask 077", 0644, Privacy::Default, 077, 0644},
        {"new file, umask 027", -1, Privacy::Default, 027, 0640},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir dir;
        const QString file = dir.path() + "/doc.md";
        if (c.oldMode >= 0) {
            writeFile(file, "old");
            ASSERT_EQ(::chmod(local(file).constData(), static_cast<mode_t>(c.oldMode)), 0);
        }
        {
            const HookGuard hook(recordTemp);
            const Umask umask(c.mask);
            atomicWrite(file, "secret", c.privacy);
        }
        EXPECT_EQ(g_tempSeen.mode, c.expected);
        EXPECT_EQ(g_tempSeen.size, 0);
        EXPECT_TRUE(g_tempSeen.path.startsWith(dir.path() + "/.doc.md.tmp-")) << g_tempSeen.path.toStdString();
        EXPECT_FALSE(existsNoFollow(g_tempSeen.path));
        EXPECT_EQ(modeOf(file), c.expected);
        EXPECT_EQ(readFile(file), "secret");
    }
}

TEST(FsAtomicWrite, ReplacesASymbolicLinkAndLeavesItsReferent)
{
    for (const bool dangling : {false, true}) {
        SCOPED_TRACE(dangling ? "dangling link" : "live link");
        QTemporaryDir dir;
        ASSERT_TRUE(QDir(dir.path()).mkdir("elsewhere"));
        const QString referent = dir.path() + "/elsewhere/real.md";
        const QString link = dir.path() + "/doc.md";
        if (!dangling) {
            writeFile(referent, "referent");
            ASSERT_EQ(::chmod(local(referent).constData(), 0600), 0);
        }
        makeSymLink(referent, link);

        atomicWrite(link, "replacement");

        EXPECT_TRUE(isRegularFileNoFollow(link));
        EXPECT_EQ(readFile(link), "replacement");
        EXPECT_EQ(modeOf(link), 0666 & ~currentUmask()); // a new file, not the referent's mode
        if (dangling) {
            EXPECT_FALSE(existsNoFollow(referent));
        } else {
            EXPECT_EQ(readFile(referent), "referent");
            EXPECT_EQ(modeOf(referent), 0600u);
        }
    }
}

TEST(FsAtomicWrite, AFullLengthNameStillWrites)
{
    QTemporaryDir dir;
    const QString file = dir.path() + "/" + QString(251, QLatin1Char('n')) + ".md"; // 255 bytes
    atomicWrite(file, "long");
    EXPECT_EQ(readFile(file), "long");
    EXPECT_EQ(entries(dir.path()).size(), 1);
}

TEST(FsAtomicWrite, FailureKeepsTheOldContentAndLeavesNoTemp)
{
    struct Case {
        const char *what;
        QString target; // relative to the temp dir
        int code;
    };
    const Case cases[] = {
        {"folder missing", "missing/doc.md", ENOENT},
        {"folder is a file", "plain.txt/doc.md", ENOTDIR},
        {"target is a folder with content", "full", EISDIR},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir dir;
        writeFile(dir.path() + "/plain.txt", "plain");
        ASSERT_TRUE(QDir(dir.path()).mkdir("full"));
        writeFile(dir.path() + "/full/inside.md", "inside");
        const QStringList before = entries(dir.path());

        EXPECT_EQ(errorOf([&] { atomicWrite(dir.path() + "/" + c.target, "new"); }), c.code);

        EXPECT_EQ(entries(dir.path()), before);
        EXPECT_EQ(entries(dir.path() + "/full"), QStringList{"inside.md"});
        EXPECT_EQ(readFile(dir.path() + "/plain.txt"), "plain");
        EXPECT_EQ(readFile(dir.path() + "/full/inside.md"), "inside");
    }
}

TEST(FsAtomicWrite, ExceptionAfterTempCreationRemovesTheTemp)
{
    QTemporaryDir dir;
    const QString file = dir.path() + "/doc.md";
    writeFile(file, "old");
    {
        const HookGuard hook(throwFromHook);
        EXPECT_THROW(atomicWrite(file, "new"), std::runtime_error);
    }
    EXPECT_FALSE(g_tempSeen.path.isEmpty());
    EXPECT_EQ(readFile(file), "old");
    EXPECT_EQ(entries(dir.path()), QStringList{"doc.md"});
}

// The temp is created exclusively: whatever already has its name (a file, a
// link, a dangling link) is neither opened nor followed, and the write goes
// to a fresh name.
TEST(FsAtomicWrite, TheTempNeverOpensWhatIsAlreadyAtItsName)
{
    struct Plant {
        const char *what;
        std::function<void(const QString &dir, const QString &at)> make;
    };
    const Plant plants[] = {
        {"regular file", [](const QString &, const QString &at) { writeFile(at, "planted"); }},
        {"link to a file",
         [](const QString &dir, const QString &at) {
             writeFile(dir + "/referent", "referent");
             makeSymLink(dir + "/referent", at);
         }},
        {"dangling link", [](const QString &dir, const QString &at) { makeSymLink(dir + "/nowhere", at); }},
    };
    struct Write {
        const char *what;
        std::function<QString(const QString &dir)> run; // answers the name written
    };
    const Write writes[] = {
        {"atomicWrite",
         [](const QString &dir) {
             atomicWrite(dir + "/doc.md", "written");
             return QStringLiteral("doc.md");
         }},
        {"writeUnique", [](const QString &dir) { return writeUnique(dir, "doc", "md", "written"); }},
    };
    for (const Write &w : writes) {
        for (const Plant &p : plants) {
            SCOPED_TRACE(std::string(w.what) + " over a " + p.what);
            QTemporaryDir dir;
            const QString planted = dir.path() + "/.planted";
            p.make(dir.path(), planted);
            // What is there, links not followed: kind, link target, content.
            const auto state = [&] {
                QStringList seen;
                for (const QString &name : entries(dir.path())) {
                    const QString path = dir.path() + "/" + name;
                    seen << name + (isSymLink(path) ? " -> " + QFile::symLinkTarget(path) : " = " + readFile(path));
                }
                return seen;
            };
            const QStringList before = state();
            QString name;
            {
                const HookGuard created(recordTemp);
                const TempNameGuard first(plantedFirst);
                name = w.run(dir.path());
            }
            EXPECT_NE(g_tempSeen.path, planted);
            EXPECT_TRUE(g_tempSeen.path.startsWith(dir.path() + "/.doc.md.tmp-")) << g_tempSeen.path.toStdString();
            QStringList expected = before;
            expected << name + " = written";
            expected.sort();
            EXPECT_EQ(state().join('\n').toStdString(), expected.join('\n').toStdString());
        }
    }
}

TEST(FsAtomicWrite, ReadOnlyFolderFailsAndKeepsTheOldFile)
{
    QTemporaryDir dir;
    ASSERT_EQ(::chmod(local(dir.path()).constData(), 0755), 0);
    const QString folder = dir.path() + "/ro";
    ASSERT_TRUE(QDir(dir.path()).mkdir("ro"));
    const QString file = folder + "/doc.md";
    writeFile(file, "old");
    ASSERT_EQ(::chmod(local(file).constData(), 0644), 0);
    ASSERT_EQ(::chmod(local(folder).constData(), 0555), 0);

    // Root ignores folder permissions, so the writer runs in a child that
    // drops to an unprivileged user first.
    const int status = inChild([&] {
        if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
            return 200;
        if (::access(local(file).constData(), R_OK) != 0)
            return 201; // the folder must be reachable, only not writable
        try {
            atomicWrite(file, "new");
        } catch (const FileError &e) {
            return e.code();
        } catch (...) {
            return 202;
        }
        return 0;
    });
    ::chmod(local(folder).constData(), 0755);

    EXPECT_EQ(status, EACCES);
    EXPECT_EQ(readFile(file), "old");
    EXPECT_EQ(entries(folder), QStringList{"doc.md"});
}

TEST(FsAtomicWrite, AFolderThatCannotBeListedStillTakesTheWrite)
{
    QTemporaryDir dir;
    ASSERT_EQ(::chmod(local(dir.path()).constData(), 0755), 0);
    const QString folder = dir.path() + "/drop";
    ASSERT_TRUE(QDir(dir.path()).mkdir("drop"));
    writeFile(folder + "/doc.md", "old");
    ASSERT_EQ(::chmod(local(folder + "/doc.md").constData(), 0666), 0);
    ASSERT_EQ(::chmod(local(folder).constData(), 0333), 0); // write and search, no read

    const int status = inChild([&] {
        if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
            return 200;
        try {
            atomicWrite(folder + "/doc.md", "new");
            if (writeUnique(folder, "note", "md", "n") != "note.md")
                return 201;
        } catch (const FileError &e) {
            return e.code();
        }
        return 0;
    });
    ::chmod(local(folder).constData(), 0755);

    // Written means reported as written: the folder's flush is all that could not run.
    EXPECT_EQ(status, 0);
    EXPECT_EQ(readFile(folder + "/doc.md"), "new");
    EXPECT_EQ(entries(folder), (QStringList{"doc.md", "note.md"}));
}

// ---- create-only publishing and moves, with renameat2 and with its fallback ----

class FsNoReplace : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { detail::setForceRenameFallback(GetParam()); }
    void TearDown() override { detail::setForceRenameFallback(false); }
    QTemporaryDir dir;
    QString at(const QString &name) const { return dir.path() + "/" + name; }
};

INSTANTIATE_TEST_SUITE_P(Both, FsNoReplace, ::testing::Values(false, true),
                         [](const auto &info) { return info.param ? "Fallback" : "Renameat2"; });

TEST_P(FsNoReplace, PublishMovesToAFreeName)
{
    writeFile(at("src"), "data");
    publishNoReplace(at("src"), at("dst"));
    EXPECT_FALSE(existsNoFollow(at("src")));
    EXPECT_EQ(readFile(at("dst")), "data");
}

TEST_P(FsNoReplace, PublishRefusesATakenName)
{
    writeFile(at("src"), "new");
    writeFile(at("taken"), "old");
    makeSymLink(at("nowhere"), at("link"));
    for (const char *target : {"taken", "link"}) {
        SCOPED_TRACE(target);
        EXPECT_EQ(errorOf([&] { publishNoReplace(at("src"), at(target)); }), EEXIST);
    }
    EXPECT_EQ(readFile(at("src")), "new");
    EXPECT_EQ(readFile(at("taken")), "old");
    EXPECT_TRUE(isSymLink(at("link")));
}

TEST_P(FsNoReplace, MoveRefusesAnythingAtTheTarget)
{
    const char *targets[] = {"emptyFolder", "file", "fullFolder", "link"};
    for (const char *sourceKind : {"file", "folder"}) {
        for (const char *target : targets) {
            SCOPED_TRACE(std::string(sourceKind) + " onto " + target);
            QTemporaryDir d;
            const auto p = [&](const QString &name) { return d.path() + "/" + name; };
            QDir(d.path()).mkpath("emptyFolder");
            QDir(d.path()).mkpath("fullFolder");
            writeFile(p("fullFolder/kept.md"), "kept");
            writeFile(p("file"), "file");
            makeSymLink(p("nowhere"), p("link"));
            QString source;
            if (QByteArray(sourceKind) == "file") {
                source = p("source.md");
                writeFile(source, "source");
            } else {
                source = p("source");
                QDir(d.path()).mkpath("source/sub");
                writeFile(p("source/sub/a.md"), "a");
            }
            const QStringList before = entries(d.path());

            EXPECT_EQ(errorOf([&] { moveNoReplace(source, p(target)); }), EEXIST);

            EXPECT_EQ(entries(d.path()), before);
            EXPECT_TRUE(entries(p("emptyFolder")).isEmpty());
            EXPECT_EQ(entries(p("fullFolder")), QStringList{"kept.md"});
            EXPECT_EQ(readFile(p("file")), "file");
            EXPECT_TRUE(isSymLink(p("link")));
            if (QByteArray(sourceKind) == "file")
                EXPECT_EQ(readFile(source), "source");
            else
                EXPECT_EQ(readFile(p("source/sub/a.md")), "a");
        }
    }
}

TEST_P(FsNoReplace, MoveTakesAFolderWithItsContentOrAFile)
{
    QDir(dir.path()).mkpath("project/pieces");
    writeFile(at("project/pieces/one.md"), "one");
    writeFile(at("project/notes.md"), "notes");
    QDir(dir.path()).mkpath("archive");
    moveNoReplace(at("project"), at("archive/project"));
    EXPECT_FALSE(existsNoFollow(at("project")));
    EXPECT_EQ(readFile(at("archive/project/pieces/one.md")), "one");
    EXPECT_EQ(readFile(at("archive/project/notes.md")), "notes");

    moveNoReplace(at("archive/project/notes.md"), at("notes.md"));
    EXPECT_FALSE(existsNoFollow(at("archive/project/notes.md")));
    EXPECT_EQ(readFile(at("notes.md")), "notes");
}

TEST_P(FsNoReplace, MoveOfAMissingSourceFails)
{
    EXPECT_EQ(errorOf([&] { moveNoReplace(at("none"), at("other")); }), ENOENT);
}

TEST_P(FsNoReplace, WriteUniqueCountsUpFromTheBaseName)
{
    struct Case {
        const char *ext;
        QStringList names;
    };
    const Case cases[] = {
        {"md", {"card.md", "card-2.md", "card-3.md"}},
        {"", {"card", "card-2", "card-3"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.ext);
        QTemporaryDir d;
        for (int i = 0; i < c.names.size(); ++i) {
            const QByteArray data = "version " + QByteArray::number(i);
            EXPECT_EQ(firstFreeName(d.path(), "card", c.ext), c.names[i]);
            EXPECT_EQ(writeUnique(d.path(), "card", c.ext, data), c.names[i]);
        }
        for (int i = 0; i < c.names.size(); ++i)
            EXPECT_EQ(readFile(d.path() + "/" + c.names[i]), "version " + QByteArray::number(i));
        EXPECT_EQ(entries(d.path()).size(), c.names.size()); // no temp left behind
    }
}

TEST_P(FsNoReplace, WriteUniqueSkipsNamesTakenByAnyKind)
{
    QDir(dir.path()).mkpath("note.md");
    makeSymLink(at("nowhere"), at("note-2.md"));
    EXPECT_EQ(firstFreeName(dir.path(), "note", "md"), "note-3.md");
    {
        const Umask umask(0);
        EXPECT_EQ(writeUnique(dir.path(), "note", "md", "private", Privacy::Private), "note-3.md");
    }
    EXPECT_EQ(modeOf(at("note-3.md")), 0600u);
    EXPECT_EQ(readFile(at("note-3.md")), "private");
    EXPECT_TRUE(isSymLink(at("note-2.md")));
}

TEST_P(FsNoReplace, WriteUniqueIntoAMissingFolderFails)
{
    EXPECT_EQ(errorOf([&] { writeUnique(at("missing"), "a", "md", "x"); }), ENOENT);
}

// Once the rename is done the file is in place: a failed flush of the folder
// afterwards is logged, not reported as a failed write (a caller would undo
// a write that happened).
TEST_P(FsNoReplace, AFailedFolderFlushAfterTheRenameIsNoFailedWrite)
{
    struct Case {
        const char *what;
        std::function<void()> run;
        QString name; // what must be in place afterwards
        QByteArray data;
    };
    writeFile(at("moved-src"), "moved");
    writeFile(at("published-src"), "published");
    writeFile(at("rewritten.md"), "old");
    const Case cases[] = {
        {"atomicWrite, new file", [&] { atomicWrite(at("new.md"), "new"); }, "new.md", "new"},
        {"atomicWrite, rewrite", [&] { atomicWrite(at("rewritten.md"), "rewrite"); }, "rewritten.md", "rewrite"},
        {"writeUnique", [&] { EXPECT_EQ(writeUnique(dir.path(), "card", "md", "card"), "card.md"); }, "card.md",
         "card"},
        {"publishNoReplace", [&] { publishNoReplace(at("published-src"), at("published")); }, "published", "published"},
        {"moveNoReplace", [&] { moveNoReplace(at("moved-src"), at("moved")); }, "moved", "moved"},
        {"replaceIfUnchanged",
         [&] {
             EXPECT_EQ(replaceIfUnchanged(at("guarded.md"), "guarded", entryStamp(at("guarded.md"))), Replace::done);
         },
         "guarded.md", "guarded"},
    };
    writeFile(at("guarded.md"), "old");
    const FolderSyncFailure failure(EIO);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const WarningCapture warnings;
        EXPECT_EQ(errorOf(c.run), 0);
        EXPECT_EQ(readFile(at(c.name)), c.data);
        EXPECT_EQ(warnings.seen().size(), 1);
        EXPECT_TRUE(warnings.seen().value(0).contains(dir.path())) << warnings.seen().join(" | ").toStdString();
    }
    EXPECT_EQ(entries(dir.path()),
              (QStringList{"card.md", "guarded.md", "moved", "new.md", "published", "rewritten.md"}));
}

// The data is on disk before its name is, and the name before the call
// returns: write, flush of the temp, rename, flush of the folder, exactly.
TEST_P(FsNoReplace, DurableWritesFlushTheFileBeforeAndTheFolderAfterTheRename)
{
    struct Case {
        const char *what;
        std::function<void()> run;
        QString target;
        QString tempPrefix; // empty: no temp is written
    };
    writeFile(at("rewritten.md"), "old");
    writeFile(at("source"), "published");
    const Case cases[] = {
        {"atomicWrite, new file", [&] { atomicWrite(at("new.md"), "new"); }, "new.md", ".new.md.tmp-"},
        {"atomicWrite, rewrite", [&] { atomicWrite(at("rewritten.md"), "rewrite"); }, "rewritten.md",
         ".rewritten.md.tmp-"},
        {"atomicWrite, empty", [&] { atomicWrite(at("empty.md"), QByteArray()); }, "empty.md", ".empty.md.tmp-"},
        {"writeUnique", [&] { writeUnique(dir.path(), "card", "md", "card"); }, "card.md", ".card.md.tmp-"},
        {"writeUnique, next name", [&] { writeUnique(dir.path(), "card", "md", "two"); }, "card-2.md", ".card.md.tmp-"},
        {"copyUnique", [&] { copyUnique(at("source"), dir.path(), "image", "png"); }, "image.png", ".image.png.tmp-"},
        {"publishNoReplace", [&] { publishNoReplace(at("source"), at("published")); }, "published", ""},
        {"replaceIfUnchanged", [&] { replaceIfUnchanged(at("guarded.md"), "new", entryStamp(at("guarded.md"))); },
         "guarded.md", ".guarded.md.tmp-"},
        {"replaceIfUnchanged, new file", [&] { replaceIfUnchanged(at("fresh.md"), "new", std::nullopt); }, "fresh.md",
         ".fresh.md.tmp-"},
    };
    writeFile(at("guarded.md"), "old");
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        QStringList steps;
        {
            const StepRecorder recorder;
            c.run();
            steps = g_steps;
        }
        QStringList expected;
        if (!c.tempPrefix.isEmpty()) {
            const QString temp = steps.value(0).section(' ', 1);
            EXPECT_TRUE(temp.startsWith(at(c.tempPrefix))) << temp.toStdString();
            expected << "write " + temp << "syncFile " + temp;
        }
        expected << "rename " + at(c.target) << "syncFolder " + dir.path();
        EXPECT_EQ(steps.join('\n').toStdString(), expected.join('\n').toStdString());
    }
}

TEST_P(FsNoReplace, CopyUniqueCopiesEveryByteUnderAFreeName)
{
    // Several chunks and an odd tail, every byte position telling.
    QByteArray data(5 * 1024 * 1024 / 2 + 7, Qt::Uninitialized);
    for (qsizetype i = 0; i < data.size(); ++i)
        data[i] = char((i * 131 + i / 4099) & 0xff);
    writeFile(at("source.png"), data);
    writeFile(at("empty.png"), QByteArray());
    ASSERT_TRUE(QDir(dir.path()).mkdir("assets"));
    writeFile(at("assets/img.png"), "theirs");

    EXPECT_EQ(copyUnique(at("source.png"), at("assets"), "img", "png"), "img-2.png");
    EXPECT_EQ(copyUnique(at("empty.png"), at("assets"), "img", "png"), "img-3.png");
    EXPECT_TRUE(readFile(at("assets/img-2.png")) == data);
    EXPECT_EQ(readFile(at("assets/img-3.png")), QByteArray());
    EXPECT_EQ(readFile(at("assets/img.png")), "theirs");
    EXPECT_TRUE(readFile(at("source.png")) == data);
    EXPECT_EQ(entries(at("assets")), (QStringList{"img-2.png", "img-3.png", "img.png"}));
}

// ---- replaceIfUnchanged: another program's save between the read and the swap ----

// Another program saving the file: a temp renamed over it, as sync tools and
// most editors do.
void saveByRename(const QString &path, const QByteArray &data)
{
    writeFile(path + ".theirs", data);
    ASSERT_EQ(::rename(local(path + ".theirs").constData(), local(path).constData()), 0);
}

// Run once by the temp hook: after the caller read the file, before the swap.
std::function<void()> g_meanwhile;

void runMeanwhile(const QString &)
{
    if (g_meanwhile)
        std::exchange(g_meanwhile, {})();
}

TEST_P(FsNoReplace, ReplaceIfUnchangedNeverReplacesWhatLandedSinceTheRead)
{
    struct Case {
        const char *what;
        std::function<void(const QString &file)> before; // what the caller read
        std::function<void(const QString &file)> meanwhile;
        int code;         // 0: no error
        Replace outcome;  // when no error
        QByteArray after; // the file afterwards
        QStringList left; // everything in its folder afterwards: no temp
    };
    const QStringList doc{"doc.md"};
    const auto old = [](const QString &file) {
        writeFile(file, "read\n");
        ASSERT_EQ(::chmod(local(file).constData(), 0640), 0);
    };
    const auto none = [](const QString &) {};
    const Case cases[] = {
        {"nothing meanwhile", old, none, 0, Replace::done, "ours\n", doc},
        {"saved by rename", old, [](const QString &f) { saveByRename(f, "theirs\n"); }, 0, Replace::changedMeanwhile,
         "theirs\n", doc},
        {"saved in place", old, [](const QString &f) { writeFile(f, "theirs, longer\n"); }, 0,
         Replace::changedMeanwhile, "theirs, longer\n", doc},
        {"removed",
         old,
         [](const QString &f) { ASSERT_TRUE(QFile::remove(f)); },
         0,
         Replace::changedMeanwhile,
         "<unreadable>",
         {}},
        {"no file, none made", none, none, 0, Replace::done, "ours\n", doc},
        {"no file, then one saved", none, [](const QString &f) { saveByRename(f, "theirs\n"); }, 0,
         Replace::changedMeanwhile, "theirs\n", doc},
        {"a folder in its place", [](const QString &f) { ASSERT_TRUE(QDir().mkdir(f)); }, none, EISDIR, Replace::done,
         "<unreadable>", doc},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir place;
        const QString file = place.path() + "/doc.md";
        c.before(file);
        const std::optional<FileStamp> read = entryStamp(file);
        g_meanwhile = [&] { c.meanwhile(file); };
        const HookGuard hook(runMeanwhile);
        Replace outcome = Replace::done;
        EXPECT_EQ(errorOf([&] { outcome = replaceIfUnchanged(file, "ours\n", read); }), c.code);
        if (c.code == 0) {
            EXPECT_EQ(outcome, c.outcome);
        }
        EXPECT_EQ(readFile(file), c.after);
        EXPECT_EQ(entries(place.path()), c.left);
        if (read && c.outcome == Replace::done && c.code == 0) {
            EXPECT_EQ(modeOf(file), 0640u);
        }
    }
}

TEST_P(FsNoReplace, ReplaceIfUnchangedReplacesALinkNeverWhatItPointsTo)
{
    writeFile(at("real.md"), "referent");
    makeSymLink(at("real.md"), at("doc.md"));
    EXPECT_EQ(replaceIfUnchanged(at("doc.md"), "ours", entryStamp(at("doc.md"))), Replace::done);
    EXPECT_TRUE(isRegularFileNoFollow(at("doc.md")));
    EXPECT_EQ(readFile(at("doc.md")), "ours");
    EXPECT_EQ(readFile(at("real.md")), "referent");
    EXPECT_EQ(entries(dir.path()), (QStringList{"doc.md", "real.md"}));
}

// Saves that land on the file while the swap is being undone: each is newer
// than the one being put back, so the newest ends in place.
QList<QByteArray> g_savesAtSwaps;
QString g_swapped;

void saveAtSwap(detail::Step step, const QString &path)
{
    if (step == detail::Step::rename && path == g_swapped && !g_savesAtSwaps.isEmpty())
        saveByRename(path, g_savesAtSwaps.takeFirst());
}

TEST(FsReplaceIfUnchanged, SavesLandingWhileAnotherIsPutBackLeaveTheNewestInPlace)
{
    for (const int later : {1, 2, 3}) {
        SCOPED_TRACE(later);
        QTemporaryDir dir;
        const QString file = dir.path() + "/doc.md";
        writeFile(file, "read\n");
        const std::optional<FileStamp> read = entryStamp(file);
        g_meanwhile = [&] { saveByRename(file, "theirs 0\n"); };
        g_swapped = file;
        g_savesAtSwaps.clear();
        for (int k = 1; k <= later; ++k)
            g_savesAtSwaps << "theirs " + QByteArray::number(k) + "\n";
        const HookGuard hook(runMeanwhile);
        detail::setStepObserver(saveAtSwap);
        const Replace outcome = replaceIfUnchanged(file, "ours\n", read);
        detail::setStepObserver(nullptr);
        EXPECT_EQ(outcome, Replace::changedMeanwhile);
        EXPECT_TRUE(g_savesAtSwaps.isEmpty());
        EXPECT_EQ(readFile(file), "theirs " + QByteArray::number(later) + "\n");
        EXPECT_EQ(entries(dir.path()), QStringList{"doc.md"});
    }
}

// A source that cannot be read, from its opening or in the middle of the
// copy, fails the copy and leaves nothing in the folder.
TEST(FsCopyUnique, AFailedReadLeavesNoTemp)
{
    QTemporaryDir dir;
    const auto at = [&](const QString &name) { return dir.path() + "/" + name; };
    ASSERT_TRUE(QDir(dir.path()).mkdir("assets"));
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder.png"));
    ASSERT_EQ(::mkfifo(local(at("pipe.png")).constData(), 0600), 0);
    writeFile(at("real.png"), "real");
    makeSymLink(at("real.png"), at("link.png"));
    struct Case {
        QString source;
        int code;
        bool tempMade; // the failure comes after the temp exists
    };
    const Case cases[] = {
        {at("folder.png"), EINVAL, false},
        {at("pipe.png"), EINVAL, false},
        {at("link.png"), ELOOP, false},
        {at("missing.png"), ENOENT, false},
        // Opens as a regular file; its first read fails (EIO at address 0).
        {QStringLiteral("/proc/self/mem"), EIO, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.source.toStdString());
        const HookGuard hook(recordTemp);
        EXPECT_EQ(errorOf([&] { copyUnique(c.source, at("assets"), "img", "png"); }), c.code);
        EXPECT_EQ(!g_tempSeen.path.isEmpty(), c.tempMade);
        EXPECT_EQ(entries(at("assets")), QStringList());
    }
}

// Processes racing for the same name all keep their data under distinct names.
TEST_P(FsNoReplace, RacingProcessesNeverOverwriteEachOther)
{
    constexpr int kRounds = 50;
    constexpr int kWriters = 4;
    for (int round = 0; round < kRounds; ++round) {
        const QString folder = at("round" + QString::number(round));
        ASSERT_TRUE(QDir().mkpath(folder));
        int go[2];
        ASSERT_EQ(::pipe(go), 0);
        pid_t pids[kWriters];
        int results[kWriters];
        for (int w = 0; w < kWriters; ++w) {
            int result[2];
            ASSERT_EQ(::pipe(result), 0);
            pids[w] = ::fork();
            ASSERT_GE(pids[w], 0);
            if (pids[w] == 0) {
                ::close(go[1]);
                ::close(result[0]);
                char c;
                while (::read(go[0], &c, 1) < 0 && errno == EINTR) {}
                int code = 0;
                try {
                    const QByteArray name =
                        writeUnique(folder, "card", "md", "writer " + QByteArray::number(w)).toUtf8();
                    code = ::write(result[1], name.constData(), name.size()) == name.size() ? 0 : 1;
                } catch (...) {
                    code = 2;
                }
                ::_exit(code);
            }
            ::close(result[1]);
            results[w] = result[0];
        }
        // Closing the pipe releases every writer at once.
        ::close(go[0]);
        ::close(go[1]);

        QSet<QString> names;
        for (int w = 0; w < kWriters; ++w) {
            QByteArray name;
            char buf[256];
            ssize_t n;
            while ((n = ::read(results[w], buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
                if (n > 0)
                    name.append(buf, n);
            ::close(results[w]);
            int status = 0;
            ASSERT_EQ(::waitpid(pids[w], &status, 0), pids[w]);
            ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "writer " << w;
            EXPECT_EQ(readFile(folder + "/" + QString::fromUtf8(name)), "writer " + QByteArray::number(w))
                << "round " << round;
            names.insert(QString::fromUtf8(name));
        }
        const QSet<QString> expected{"card.md", "card-2.md", "card-3.md", "card-4.md"};
        ASSERT_EQ(names, expected) << "round " << round;
        ASSERT_EQ(entries(folder).size(), kWriters) << "round " << round;
    }
}

// ---- reads of side files ----

TEST(FsReadRegularFile, ReadsUpToTheCap)
{
    QTemporaryDir dir;
    writeFile(dir.path() + "/ten", "0123456789");
    writeFile(dir.path() + "/empty", "");
    EXPECT_EQ(readRegularFile(dir.path() + "/ten"), "0123456789");
    EXPECT_EQ(readRegularFile(dir.path() + "/ten", 10), "0123456789");
    EXPECT_EQ(readRegularFile(dir.path() + "/empty", 0), QByteArray());
    // The largest cap means no cap.
    EXPECT_EQ(readRegularFile(dir.path() + "/ten", std::numeric_limits<qint64>::max()), "0123456789");
}

TEST(FsReadRegularFile, RefusesEverythingButASmallRegularFile)
{
    QTemporaryDir dir;
    writeFile(dir.path() + "/ten", "0123456789");
    makeSymLink(dir.path() + "/ten", dir.path() + "/link");
    ASSERT_EQ(::mkfifo(local(dir.path() + "/fifo").constData(), 0600), 0);
    QDir(dir.path()).mkdir("folder");
    struct Case {
        QString path;
        qint64 cap;
        int code;
    };
    const Case cases[] = {
        {dir.path() + "/ten", 9, EFBIG},
        {dir.path() + "/link", kDefaultReadCap, ELOOP},
        {dir.path() + "/fifo", kDefaultReadCap, EINVAL}, // must not wait for a writer
        {QStringLiteral("/dev/null"), kDefaultReadCap, EINVAL},
        {dir.path() + "/folder", kDefaultReadCap, EINVAL},
        {dir.path() + "/missing", kDefaultReadCap, ENOENT},
        // Reports size 0 yet has content: the cap holds while reading too.
        {QStringLiteral("/proc/self/status"), 16, EFBIG},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        EXPECT_EQ(errorOf([&] { readRegularFile(c.path, c.cap); }), c.code);
    }
    EXPECT_TRUE(readRegularFile(QStringLiteral("/proc/self/status")).startsWith("Name:"));
}

// ---- lstat-based tests ----

TEST(FsNoFollow, KindsOfPath)
{
    QTemporaryDir dir;
    const auto p = [&](const char *name) { return dir.path() + "/" + name; };
    writeFile(p("file"), "x");
    QDir(dir.path()).mkdir("folder");
    makeSymLink(p("file"), p("linkToFile"));
    makeSymLink(p("folder"), p("linkToFolder"));
    makeSymLink(p("missing"), p("dangling"));
    struct Case {
        const char *name;
        bool link, exists, folder, regular;
    };
    const Case cases[] = {
        {"file", false, true, false, true},       {"folder", false, true, true, false},
        {"linkToFile", true, true, false, false}, {"linkToFolder", true, true, false, false},
        {"dangling", true, true, false, false},   {"missing", false, false, false, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(isSymLink(p(c.name)), c.link);
        EXPECT_EQ(existsNoFollow(p(c.name)), c.exists);
        EXPECT_EQ(isDirectoryNoFollow(p(c.name)), c.folder);
        EXPECT_EQ(isRegularFileNoFollow(p(c.name)), c.regular);
    }
}

TEST(FsRemoveTree, RemovesLinksButNeverWhatTheyPointTo)
{
    QTemporaryDir dir;
    const auto p = [&](const QString &name) { return dir.path() + "/" + name; };
    QDir(dir.path()).mkpath("outside/kept");
    writeFile(p("outside/kept/file"), "x");
    struct Case {
        const char *removed; // as handed to removeTree
        const char *gone;    // what must be gone afterwards
    };
    const Case cases[] = {
        {"tree", "tree"},  // a folder holding a link to the outside
        {"link", "link"},  // a link to a folder
        {"link/", "link"}, // the same, named with a trailing slash
        {"tree/", "tree"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.removed);
        QDir(dir.path()).mkpath("tree/inner");
        makeSymLink(p("outside"), p("tree/inner/out"));
        if (!isSymLink(p("link")))
            makeSymLink(p("outside"), p("link"));
        EXPECT_TRUE(removeTree(p(c.removed)));
        EXPECT_FALSE(existsNoFollow(p(c.gone)));
        EXPECT_EQ(readFile(p("outside/kept/file")), "x");
        QDir(p("tree")).removeRecursively();
    }
}

TEST(FsListFolder, TheQuietListingAnswersNoneWithTheReason)
{
    QTemporaryDir dir;
    QFile(dir.filePath(".hidden")).open(QIODevice::WriteOnly);
    QDir(dir.path()).mkdir("sub");
    QStringList names = tryListFolder(dir.path()).value_or(QStringList{"unlisted"});
    names.sort();
    EXPECT_EQ(names, QStringList({".hidden", "sub"}));

    int code = 0;
    EXPECT_EQ(tryListFolder(dir.filePath("missing"), &code), std::nullopt);
    EXPECT_EQ(code, ENOENT);
    EXPECT_EQ(tryListFolder(dir.filePath(".hidden"), &code), std::nullopt);
    EXPECT_EQ(code, ENOTDIR);
    EXPECT_THROW(listFolder(dir.filePath("missing")), FileError);
}

TEST(FsWriteAll, FillsAPipeInShortWritesAndReportsAClosedReader)
{
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    // More than a pipe holds: the writer must loop while a reader drains.
    const QByteArray data(256 * 1024, 'x');
    QByteArray read;
    std::thread reader([&] {
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0)
            read.append(buffer, n);
    });
    EXPECT_TRUE(writeAll(fds[1], data));
    ::close(fds[1]);
    reader.join();
    ::close(fds[0]);
    EXPECT_EQ(read, data);

    ASSERT_EQ(::pipe(fds), 0);
    ::close(fds[0]);
    ::signal(SIGPIPE, SIG_IGN);
    EXPECT_FALSE(writeAll(fds[1], "lost"));
    EXPECT_EQ(errno, EPIPE);
    ::close(fds[1]);
}

TEST(FsMakePath, CreatesMissingParentsAndReportsWhatStandsInTheWay)
{
    QTemporaryDir dir;
    const QString root = dir.path();
    makePath(root + "/a/b/c");
    EXPECT_TRUE(isDirectoryNoFollow(root + "/a/b/c"));
    makePath(root + "/a/b/c"); // already there
    makeFolder(root + "/a/b/c");
    makeFolder(root + "/a/d");
    EXPECT_TRUE(isDirectoryNoFollow(root + "/a/d"));

    atomicWrite(root + "/file", "x");
    const struct {
        QString path;
        int code;
        bool single;
    } cases[] = {
        {root + "/file", ENOTDIR, true},
        {root + "/file", ENOTDIR, false},
        {root + "/file/below", ENOTDIR, false},
        {root + "/missing/below", ENOENT, true},
    };
    for (const auto &c : cases) {
        try {
            c.single ? makeFolder(c.path) : makePath(c.path);
            ADD_FAILURE() << c.path.toStdString();
        } catch (const FileError &e) {
            EXPECT_EQ(e.code(), c.code) << c.path.toStdString();
        }
    }
    EXPECT_FALSE(existsNoFollow(root + "/missing"));
}

TEST(FsListFolder, NamesEveryEntryButDotsAndFailsLoudly)
{
    QTemporaryDir dir;
    const QString root = dir.path();
    makePath(root + "/sub");
    atomicWrite(root + "/.hidden", "x");
    atomicWrite(root + "/file", "x");
    QStringList names = listFolder(root);
    names.sort();
    EXPECT_EQ(names, QStringList({".hidden", "file", "sub"}));
    EXPECT_TRUE(listFolder(root + "/sub").isEmpty());
    for (const QString &bad : {root + "/missing", root + "/file"}) {
        try {
            listFolder(bad);
            ADD_FAILURE() << bad.toStdString();
        } catch (const FileError &e) {
            EXPECT_TRUE(e.code() == ENOENT || e.code() == ENOTDIR) << e.code();
        }
    }
}
