#include "processrunner.h"

#include "foundation/text.h"

#include <QByteArray>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace foundation::process {

namespace {

using Clock = std::chrono::steady_clock;

// How often a running child is looked at while its pipes are quiet.
constexpr auto kLookInterval = std::chrono::milliseconds(10);
// Longer time-outs are as good as none; the cap keeps the clock arithmetic whole.
constexpr std::chrono::milliseconds kLongestTimeout = std::chrono::seconds(1'000'000'000);
constexpr size_t kChunk = 65536;

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;
    ~UniqueFd() { reset(); }
    int get() const { return m_fd; }
    bool isOpen() const { return m_fd >= 0; }
    void reset(int fd = -1)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd = -1;
};

// Pipe ends never take 0, 1 or 2, so the child's dup2 calls cannot overwrite
// one another even when this process runs with a standard stream closed.
bool makePipe(UniqueFd &readEnd, UniqueFd &writeEnd)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return false;
    for (int &fd : fds) {
        if (fd > STDERR_FILENO)
            continue;
        const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
        ::close(fd);
        fd = moved;
    }
    readEnd.reset(fds[0]);
    writeEnd.reset(fds[1]);
    return readEnd.isOpen() && writeEnd.isOpen();
}

void setNonBlocking(int fd)
{
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

bool isExecutableFile(const QByteArray &path)
{
    struct stat st {};
    return !path.isEmpty() && ::stat(path.constData(), &st) == 0 && S_ISREG(st.st_mode)
           && ::access(path.constData(), X_OK) == 0;
}

// SIGPIPE blocked in this thread while it writes to a child that may have
// gone: the write then fails with EPIPE instead of ending the process. A
// SIGPIPE raised meanwhile is taken off before the old mask returns.
class SigpipeBlock {
public:
    SigpipeBlock()
    {
        sigemptyset(&m_pipe);
        sigaddset(&m_pipe, SIGPIPE);
        ::pthread_sigmask(SIG_BLOCK, &m_pipe, &m_old);
    }
    ~SigpipeBlock()
    {
        if (!sigismember(&m_old, SIGPIPE)) {
            sigset_t pending;
            const timespec now{};
            if (::sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE))
                ::sigtimedwait(&m_pipe, nullptr, &now);
        }
        ::pthread_sigmask(SIG_SETMASK, &m_old, nullptr);
    }
    SigpipeBlock(const SigpipeBlock &) = delete;
    SigpipeBlock &operator=(const SigpipeBlock &) = delete;

private:
    sigset_t m_pipe;
    sigset_t m_old;
};

// Everything the child needs, prepared before fork: after it, in a process
// with other threads, only async-signal-safe calls are allowed.
struct ChildSetup {
    const char *path;
    char *const *argv;
    int input;
    int output;
    int error;
    int execReport; // receives errno when exec fails; closed by a good exec
    pid_t parent;
};

bool becomeStream(int fd, int target)
{
    if (fd == target)
        return ::fcntl(fd, F_SETFD, 0) == 0;
    return ::dup2(fd, target) == target;
}

[[noreturn]] void startChild(const ChildSetup &setup)
{
    // Its own group, so a time-out reaches whatever it starts; and it must
    // not outlive us (the check catches a parent that died before prctl).
    ::setpgid(0, 0);
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != setup.parent)
        ::_exit(127);
    // The application ignores SIGPIPE and this thread blocks it; the child
    // starts with the defaults.
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    ::sigaction(SIGPIPE, &dfl, nullptr);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    if (becomeStream(setup.input, STDIN_FILENO) && becomeStream(setup.output, STDOUT_FILENO)
        && becomeStream(setup.error, STDERR_FILENO))
        ::execv(setup.path, setup.argv);
    const int error = errno;
    [[maybe_unused]] const ssize_t reported = ::write(setup.execReport, &error, sizeof error);
    ::_exit(127);
}

// True once the child has ended; it stays unreaped (a zombie), so its
// process id, and with it its group's, cannot be taken by another process.
// A child someone else reaped (ECHILD) has ended too.
bool hasEnded(pid_t pid)
{
    siginfo_t info{};
    if (::waitid(P_PID, id_t(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0)
        return errno == ECHILD;
    return info.si_pid == pid;
}

int reapChild(pid_t pid)
{
    int raw = 0;
    while (::waitpid(pid, &raw, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    if (WIFEXITED(raw))
        return WEXITSTATUS(raw);
    if (WIFSIGNALED(raw))
        return WTERMSIG(raw);
    return -1;
}

// One output pipe, read as it fills.
struct Drain {
    UniqueFd fd;
    QByteArray bytes;

    // Reads what is there now; closes the pipe at its end.
    void read(bool keep)
    {
        char chunk[kChunk];
        for (;;) {
            const ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
            if (n > 0) {
                if (keep)
                    bytes.append(chunk, n);
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                return;
            fd.reset();
            return;
        }
    }
};

// The input, written as the pipe takes it and closed once it is all out (or
// the child stopped reading).
struct Feed {
    UniqueFd fd;
    QByteArray bytes;
    qsizetype written = 0;

    void write()
    {
        while (written < bytes.size()) {
            const size_t size = std::min(size_t(bytes.size() - written), kChunk);
            const ssize_t n = ::write(fd.get(), bytes.constData() + written, size);
            if (n > 0) {
                written += n;
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                return;
            break; // EPIPE and the like: the child takes no more
        }
        fd.reset();
    }
};

QString timedOutMessage(std::chrono::milliseconds timeout)
{
    const auto whole = std::chrono::duration_cast<std::chrono::seconds>(timeout).count();
    return QStringLiteral("timed out after %1 s").arg(qint64(std::max<decltype(whole)>(whole, 0)));
}

Clock::time_point deadlineAfter(Clock::time_point start, std::chrono::milliseconds timeout)
{
    return start + std::clamp(timeout, std::chrono::milliseconds(0), kLongestTimeout);
}

class Child {
public:
    Child(pid_t pid, Drain &out, Drain &err, Feed &in) : m_pid(pid), m_out(out), m_err(err), m_in(in) {}

    bool ended()
    {
        m_ended = m_ended || hasEnded(m_pid);
        return m_ended;
    }
    bool outputOpen() const { return m_out.fd.isOpen() || m_err.fd.isOpen(); }

    // Serves the pipes until the child has ended and its output is closed,
    // or until the deadline. keep says whether what is read is kept.
    void serve(Clock::time_point deadline, bool keep)
    {
        while (!(ended() && !outputOpen())) {
            const Clock::time_point now = Clock::now();
            if (now >= deadline)
                return;
            auto wait = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
            // An ended child needs no more looks: only its output can change.
            if (!m_ended)
                wait = std::min<std::chrono::milliseconds>(wait, kLookInterval);
            pollOnce(int(std::min<std::chrono::milliseconds::rep>(wait.count(), 1000)), keep);
        }
    }

    // SIGTERM to the child and its group, SIGKILL after the grace unless the
    // child has ended and nothing holds its output any more, and SIGKILL
    // regardless then for whatever of the group ignored SIGTERM.
    void stop()
    {
        send(SIGTERM);
        serve(deadlineAfter(Clock::now(), kKillGrace), false);
        send(SIGKILL);
    }

    int reap() { return reapChild(m_pid); }

private:
    void send(int sig)
    {
        ::kill(-m_pid, sig);
        ::kill(m_pid, sig); // in case it left the group
    }

    void pollOnce(int timeoutMs, bool keep)
    {
        pollfd fds[3];
        Drain *drains[3] = {};
        nfds_t n = 0;
        for (Drain *drain : {&m_out, &m_err}) {
            if (!drain->fd.isOpen())
                continue;
            drains[n] = drain;
            fds[n++] = pollfd{drain->fd.get(), POLLIN, 0};
        }
        if (m_in.fd.isOpen())
            fds[n++] = pollfd{m_in.fd.get(), POLLOUT, 0};
        if (::poll(fds, n, timeoutMs) <= 0)
            return;
        for (nfds_t i = 0; i < n; ++i) {
            if (fds[i].revents == 0)
                continue;
            if (drains[i])
                drains[i]->read(keep);
            else
                m_in.write();
        }
    }

    pid_t m_pid;
    Drain &m_out;
    Drain &m_err;
    Feed &m_in;
    bool m_ended = false;
};

} // namespace

RunResult run(const QStringList &arguments, const std::optional<QString> &input, std::chrono::milliseconds timeout)
{
    if (arguments.isEmpty())
        return {};
    std::vector<QByteArray> encoded;
    encoded.reserve(size_t(arguments.size()));
    for (const QString &argument : arguments)
        encoded.push_back(QFile::encodeName(argument));
    if (!isExecutableFile(encoded.front()))
        return {};
    std::vector<char *> argv;
    for (QByteArray &argument : encoded)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    Drain out;
    Drain err;
    Feed in;
    UniqueFd childIn, childOut, childErr, reportRead, reportWrite;
    if (!makePipe(out.fd, childOut) || !makePipe(err.fd, childErr) || !makePipe(reportRead, reportWrite))
        return {};
    if (input) {
        if (!makePipe(childIn, in.fd))
            return {};
        in.bytes = input->toUtf8();
    } else {
        childIn.reset(::open("/dev/null", O_RDONLY | O_CLOEXEC));
        if (!childIn.isOpen())
            return {};
    }

    const SigpipeBlock sigpipeBlock;
    const ChildSetup setup{encoded.front().constData(), argv.data(), childIn.get(), childOut.get(), childErr.get(),
                           reportWrite.get(),           ::getpid()};
    const Clock::time_point start = Clock::now();
    const pid_t pid = ::fork();
    if (pid == 0)
        startChild(setup);
    if (pid < 0)
        return {};
    ::setpgid(pid, pid); // also here, so the group exists before any signal of ours
    childIn.reset();
    childOut.reset();
    childErr.reset();
    reportWrite.reset();

    int execError = 0;
    ssize_t reported;
    while ((reported = ::read(reportRead.get(), &execError, sizeof execError)) < 0 && errno == EINTR) {}
    if (reported > 0) {
        reapChild(pid);
        return {};
    }

    setNonBlocking(out.fd.get());
    setNonBlocking(err.fd.get());
    if (in.fd.isOpen()) {
        setNonBlocking(in.fd.get());
        in.write();
    }

    Child child(pid, out, err, in);
    child.serve(deadlineAfter(start, timeout), true);
    if (!child.ended()) {
        child.stop();
        child.reap();
        return {-1, QString(), timedOutMessage(timeout)};
    }
    // Ended in time, but something it started still holds its output.
    if (child.outputOpen())
        child.stop();
    const int status = child.reap();
    return {status, text::decodeUtf8(out.bytes).value_or(QString()), text::decodeUtf8(err.bytes).value_or(QString())};
}

} // namespace foundation::process
