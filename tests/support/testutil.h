#pragma once
// Shared by every test: readable failure output for Qt strings, and the small
// file helpers the tests use on top of their temporary folders.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <functional>
#include <iosfwd>
#include <sys/types.h>

// GoogleTest prints values through an unqualified PrintTo, found by
// argument-dependent lookup in the namespace of QString and QByteArray (the
// global one); without these a failing EXPECT_EQ shows raw bytes. Every test
// includes this header (directly or through its fixture header), so that no
// two tests print a type differently.
void PrintTo(const QString &text, std::ostream *os);
void PrintTo(const QByteArray &bytes, std::ostream *os);

namespace testsupport {

// Writes bytes to path, creating its folder first, and answers the path.
// Throws std::runtime_error naming the path when that fails, which fails the
// running test.
QString writeFile(const QString &path, const QByteArray &bytes);

// The file's bytes, or "<unreadable>" so that a missing file never compares
// equal to an empty one.
QByteArray readFile(const QString &path);
QString readText(const QString &path);

// Every entry of a folder by name, hidden ones (temporary files) included.
QStringList entries(const QString &folder);

// The permission bits of path itself (a link is not followed), 0 when it is
// missing.
mode_t modeOf(const QString &path);

// Runs the event loop until condition holds or limitMs passes; answers
// whether it held.
bool spinUntil(const std::function<bool()> &condition, int limitMs = 20000);

// Runs the event loop until everything posted to this thread before the call
// has run (what that posts in turn may still wait).
void drainPosted();

// The inotify watches the kernel holds for this process, over all its
// inotify descriptors (read from /proc/self/fdinfo).
int inotifyWatches();

// Whether no process of this id exists any more (a zombie still counts as
// existing: it has not been reaped).
bool processGone(qint64 pid);

} // namespace testsupport
