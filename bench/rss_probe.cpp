// Runs a program with stdin and stdout on /dev/null and prints
// "<peak RSS in KiB> <wall time in ns>" of that program alone.
//
// The peak comes from wait4's ru_maxrss. Linux carries the old memory's
// high-water mark across exec, so the program must be forked from a small
// process like this one (plain libc, no Qt): spawned straight from a large
// benchmark process it would report the benchmark's size.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: rss_probe <program> [arguments...]\n");
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid < 0)
        return 1;
    if (pid == 0) {
        const int devNull = ::open("/dev/null", O_RDWR);
        ::dup2(devNull, STDIN_FILENO);
        ::dup2(devNull, STDOUT_FILENO);
        ::execv(argv[1], argv + 1);
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    while (::wait4(pid, &status, 0, &usage) < 0) {
        if (errno != EINTR)
            return 1;
    }
    const auto elapsed = std::chrono::steady_clock::now() - start;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return 1;
    std::printf("%ld %lld\n", usage.ru_maxrss,
                static_cast<long long>(std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count()));
    return 0;
}
