#include "testenv.h"

#include <QByteArray>
#include <QDir>
#include <QTemporaryDir>
#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {
namespace {
QTemporaryDir *g_home = nullptr;
}

void isolateHome()
{
    if (g_home)
        return;
    g_home = new QTemporaryDir(QDir::tempPath() + "/pennora-test-XXXXXX");
    const QString root = g_home->path();
    for (const char *sub : {"home", "home/.local/share", "home/.config", "home/.cache", "home/Documents"})
        QDir().mkpath(root + "/" + sub);
    const QByteArray home = (root + "/home").toUtf8();
    setenv("HOME", home.constData(), 1);
    setenv("XDG_DATA_HOME", (home + "/.local/share").constData(), 1);
    setenv("XDG_CONFIG_HOME", (home + "/.config").constData(), 1);
    setenv("XDG_CACHE_HOME", (home + "/.cache").constData(), 1);
    setenv("XDG_RUNTIME_DIR", root.toUtf8().constData(), 1);
    std::atexit([] {
        delete g_home;
        g_home = nullptr;
    });
}

QString tempHome()
{
    return g_home ? g_home->path() + "/home" : QDir::homePath();
}

QString binaryDir()
{
    return QStringLiteral(PENNORA_BINARY_DIR);
}

QString sourceDir()
{
    return QStringLiteral(PENNORA_SOURCE_DIR);
}

int inChild(const std::function<int()> &f)
{
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(f());
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

QString pennoraBinary()
{
    return binaryDir() + "/src/pennora";
}

} // namespace testsupport
