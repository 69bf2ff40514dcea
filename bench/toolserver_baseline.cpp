// The yardstick for the tool server's start-up: a QtCore-only program that
// reads stdin line by line through a bounded buffer until end of input, as the
// server does, and answers nothing.
#include <QByteArray>
#include <cstring>
#include <unistd.h>

int main()
{
    QByteArray line;
    char chunk[64 * 1024];
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (n <= 0)
            break;
        const char *p = chunk;
        const char *end = chunk + n;
        while (p < end) {
            const char *lf = static_cast<const char *>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
            if (!lf) {
                if (line.size() + (end - p) <= 1048577)
                    line.append(p, end - p);
                break;
            }
            line.clear();
            p = lf + 1;
        }
    }
    return line.size() > 1048576 ? 1 : 0;
}
