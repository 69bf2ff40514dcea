#pragma once
// The web engine in a test binary: the page scheme is registered before the
// application object is made (a static initialiser runs before main), and
// Chromium runs without its sandbox (the tests may run as root) and without a
// GPU (offscreen).

#include "editor/prose/reading/readingsurface.h"

#include <QtGlobal>

// Chromium inside the web engine frees some objects through a base of
// another size (seen on tearing a page down); that is not ours to mend. The
// run's own ASAN_OPTIONS still apply on top. One test source per binary
// includes this header.
extern "C" const char *__asan_default_options()
{
    return "new_delete_type_mismatch=0";
}

namespace testsupport {

inline const bool kWebEngineReady = [] {
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu --disable-gpu-compositing");
    editor::ReadingSurface::registerScheme();
    return true;
}();

} // namespace testsupport
