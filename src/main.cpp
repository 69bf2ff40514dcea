// The process entry. With "--serve-mcp" the process is the tool server and
// must not map the GUI or web libraries; otherwise it loads the application
// module and hands over to it.

#include "review/mcpserver.h"

#include <QtGlobal>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <string>
#include <unistd.h>

namespace {

std::string executableDir()
{
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return ".";
    path[n] = '\0';
    std::string dir(path);
    const auto slash = dir.rfind('/');
    return slash == std::string::npos ? std::string(".") : dir.substr(0, slash);
}

int runApplication(int argc, char **argv)
{
    const std::string dir = executableDir();
    const std::string candidates[] = {
        dir + "/libpennora-gui.so",
        dir + "/../lib/pennora/libpennora-gui.so",
    };
    std::string errors;
    for (const std::string &candidate : candidates) {
        if (::access(candidate.c_str(), R_OK) != 0)
            continue;
        void *module = ::dlopen(candidate.c_str(), RTLD_LAZY | RTLD_LOCAL);
        if (!module) {
            errors += ::dlerror();
            continue;
        }
        using Entry = int (*)(int, char **);
        auto entry = reinterpret_cast<Entry>(::dlsym(module, "pennora_app_main"));
        if (!entry) {
            errors += "missing entry in " + candidate;
            continue;
        }
        return entry(argc, argv);
    }
    std::fprintf(stderr, "pennora: cannot load the application module%s%s\n", errors.empty() ? "" : ": ",
                 errors.c_str());
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    // A vanished peer must not kill the process mid-write; the tool server
    // ends with its input like any other run.
    std::signal(SIGPIPE, SIG_IGN);
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--serve-mcp") == 0) {
            // The engine reads stderr too: the server's only line there is
            // its own serialisation failure, never a Qt diagnostic.
            qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
            return review::MCPServer::run();
        }
    }
    return runApplication(argc, argv);
}
