#pragma once
// The web engine in a test binary: Chromium runs without its sandbox (the
// tests may run as root) and without a GPU (offscreen). Set before main, so
// before the engine starts with the first surface, which registers the page
// scheme as in the application.

#include <QCoreApplication>
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
    // As the application does: the engine may be loaded after the
    // application object, and then needs the shared GL context.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    return true;
}();

} // namespace testsupport
