#pragma once
// Test environment: every test process runs inside its own temporary HOME so
// nothing touches the real one.

#include <QString>
#include <functional>

namespace testsupport {

// Points HOME, XDG_DATA_HOME, XDG_CONFIG_HOME, XDG_CACHE_HOME and TMPDIR-free
// state into a fresh temporary folder that lives until the process ends.
// Called by the test main before any Qt object exists.
void isolateHome();

// The temporary HOME of this process.
QString tempHome();

// A path inside the build tree / source tree (from the CTest environment).
QString binaryDir();
QString sourceDir();

// Runs f in a forked child and answers its exit status, -1 when it did not
// exit normally (the child never returns into the test runner). For checks
// that need another process or dropped privileges.
int inChild(const std::function<int()> &f);

// The built pennora executable.
QString pennoraBinary();

} // namespace testsupport
