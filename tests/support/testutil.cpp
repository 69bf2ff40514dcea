#include "testutil.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QStringDecoder>
#include <QTimer>
#include <memory>

#include <cerrno>
#include <csignal>
#include <ostream>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Characters that print invisibly, or look like others, are escaped: two
// strings that differ must look different in a failure message.
bool needsEscape(char32_t c)
{
    if (c == U' ')
        return false;
    switch (QChar::category(c)) {
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Other_Surrogate:
    case QChar::Other_PrivateUse:
    case QChar::Other_NotAssigned:
    case QChar::Separator_Space:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
    case QChar::Mark_NonSpacing:
    case QChar::Mark_Enclosing: return true;
    default: return false;
    }
}

void appendEscaped(QString &out, char32_t c)
{
    switch (c) {
    case U'"': out += u"\\\""; return;
    case U'\\': out += u"\\\\"; return;
    case U'\n': out += u"\\n"; return;
    case U'\r': out += u"\\r"; return;
    case U'\t': out += u"\\t"; return;
    }
    if (!needsEscape(c)) {
        out += QString::fromUcs4(&c, 1);
        return;
    }
    const bool wide = c > 0xFFFF;
    out += wide ? u"\\U" : u"\\u";
    out += QString::number(c, 16).toUpper().rightJustified(wide ? 8 : 4, u'0');
}

} // namespace

void PrintTo(const QString &text, std::ostream *os)
{
    QString out;
    out.reserve(text.size() + 2);
    out += u'"';
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t c = text[i].unicode();
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text[i], text[i + 1]);
            ++i;
        }
        appendEscaped(out, c); // a lone surrogate stays one escaped unit
    }
    out += u'"';
    *os << out.toStdString();
}

void PrintTo(const QByteArray &bytes, std::ostream *os)
{
    // A byte order mark stays visible instead of being eaten by the decoder.
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    const QString text = decoder.decode(bytes);
    if (!decoder.hasError()) {
        PrintTo(text, os);
        return;
    }
    std::string out = "\"";
    static const char hex[] = "0123456789ABCDEF";
    for (const char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        if (b == '"' || b == '\\')
            out += {'\\', ch};
        else if (b >= 0x20 && b < 0x7F)
            out += ch;
        else
            out += {'\\', 'x', hex[b >> 4], hex[b & 0xF]};
    }
    *os << out << '"';
}

namespace testsupport {

QString writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!QDir().mkpath(QFileInfo(path).path()) || !file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || file.write(bytes) != bytes.size() || !file.flush())
        throw std::runtime_error("cannot write " + path.toStdString() + ": " + file.errorString().toStdString());
    return path;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArrayLiteral("<unreadable>");
}

QString readText(const QString &path)
{
    return QString::fromUtf8(readFile(path));
}

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::Name);
}

mode_t modeOf(const QString &path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

bool spinUntil(const std::function<bool()> &condition, int limitMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > limitMs)
            return false;
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

void drainPosted()
{
    // Posted events run in order: once this one has, so have those before it.
    const auto reached = std::make_shared<bool>(false);
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [reached] { *reached = true; }, Qt::QueuedConnection);
    spinUntil([reached] { return *reached; });
}

int inotifyWatches()
{
    int watches = 0;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString &fd : fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        // An anonymous inode's link text is not a path: read it raw.
        char target[64] = {};
        const QByteArray link = QFile::encodeName(fds.filePath(fd));
        const ssize_t n = ::readlink(link.constData(), target, sizeof target - 1);
        if (n <= 0 || QByteArray(target, int(n)) != "anon_inode:inotify")
            continue;
        QFile info(QStringLiteral("/proc/self/fdinfo/") + fd);
        if (!info.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &line : info.readAll().split('\n'))
            watches += line.startsWith("inotify wd:") ? 1 : 0;
    }
    return watches;
}

bool processGone(qint64 pid)
{
    return ::kill(pid_t(pid), 0) == -1 && errno == ESRCH;
}

} // namespace testsupport
