#include "editor/prose/readingpresenter.h"

#include "editor/prose/prosepresenter.h"

#include <QCoreApplication>
#include <QCoro/QCoroProcess>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLoggingCategory>
#include <QPointer>
#include <QProcess>
#include <QRegularExpression>

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(readingLog, "com.quendalstudio.Pennora.reading")

namespace editor::ReadingPresenter {

namespace {

namespace Presenter = editor::ProsePresenter;
using Presenter::LineKind;

bool isBlankLine(QStringView line)
{
    for (QChar c : line) {
        if (c != u' ' && c != u'\t' && c != u'\r')
            return false;
    }
    return true;
}

bool isIndented(QStringView line)
{
    return !line.isEmpty() && (line.front() == u' ' || line.front() == u'\t');
}

// An open code fence: its character, how many of them opened it, and the
// columns it was indented by.
struct Fence {
    QChar mark;
    qsizetype length = 0;
    qsizetype indent = 0;
};

// Columns of leading blanks, a tab reaching the next multiple of four.
qsizetype indentOf(QStringView line)
{
    qsizetype columns = 0;
    for (QChar c : line) {
        if (c == u' ')
            ++columns;
        else if (c == u'\t')
            columns += 4 - columns % 4;
        else
            break;
    }
    return columns;
}

QStringView withoutLeadingBlanks(QStringView line)
{
    qsizetype i = 0;
    while (i < line.size() && (line[i] == u' ' || line[i] == u'\t'))
        ++i;
    return line.mid(i);
}

qsizetype runOf(QStringView text, QChar c)
{
    qsizetype n = 0;
    while (n < text.size() && text[n] == c)
        ++n;
    return n;
}

// The fence this line opens, if any. A backtick run followed by more
// backticks on the line is inline code, not a fence.
std::optional<Fence> openingFence(QStringView line)
{
    const QStringView rest = withoutLeadingBlanks(line);
    if (rest.isEmpty() || (rest.front() != u'`' && rest.front() != u'~'))
        return std::nullopt;
    const qsizetype length = runOf(rest, rest.front());
    if (length < 3 || (rest.front() == u'`' && rest.mid(length).contains(u'`')))
        return std::nullopt;
    return Fence{rest.front(), length, indentOf(line)};
}

// Only a run of the opening character, at least as long, indented at most
// three columns deeper than the opening, with nothing but blanks after it
// closes a fence; anything else is code, as the renderer sees it.
bool closesFence(QStringView line, const Fence &fence)
{
    if (indentOf(line) > fence.indent + 3)
        return false;
    const QStringView rest = withoutLeadingBlanks(line);
    const qsizetype length = runOf(rest, fence.mark);
    return length >= fence.length && isBlankLine(rest.mid(length));
}

// Whether this line starts an HTML comment that goes on past it. Deeper than
// three spaces it is code, unless it continues a list item.
bool opensComment(QStringView line, bool listOpen)
{
    const QStringView rest = withoutLeadingBlanks(line);
    if (indentOf(line) > 3 && !listOpen)
        return false;
    return rest.startsWith(u"<!--") && rest.indexOf(u"-->", 2) < 0;
}

QString marker(qsizetype line)
{
    return QStringLiteral("<!--S:%1-->").arg(line);
}

// Start of the next "\n\n" or "\r\n\r\n" at or after from, or -1. One pass,
// so splitting a whole text stays linear.
qsizetype nextSeparator(const QString &text, qsizetype from)
{
    const qsizetype size = text.size();
    const QChar *c = text.constData();
    for (qsizetype i = from; i + 1 < size; ++i) {
        if (c[i] == u'\n' && c[i + 1] == u'\n')
            return i;
        if (c[i] == u'\r' && i + 3 < size && c[i + 1] == u'\n' && c[i + 2] == u'\r' && c[i + 3] == u'\n')
            return i;
    }
    return -1;
}

QString escaped(QString text)
{
    text.replace(u'&', QStringLiteral("&amp;"));
    text.replace(u'<', QStringLiteral("&lt;"));
    text.replace(u'>', QStringLiteral("&gt;"));
    return text;
}

const QString kPageHead = QStringLiteral("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><style>");

// The group's id stays taken while any member lives, so this reaches only
// what the renderer started, even after the renderer itself was reaped.
void stopGroup(qint64 pid)
{
    if (pid > 0)
        ::kill(-pid_t(pid), SIGKILL);
}

} // namespace

QList<Block> blocks(const QString &text)
{
    QList<Block> out;
    qsizetype position = 0;
    qint64 line = 1;
    for (;;) {
        const qsizetype separator = nextSeparator(text, position);
        const qsizetype end = separator < 0 ? text.size() : separator;
        if (end > position) {
            out.append(Block{line, {position, end - position}});
            line += QStringView(text).sliced(position, end - position).count(u'\n');
        }
        if (separator < 0)
            break;
        position = separator;
        while (position < text.size() && (text[position] == u'\n' || text[position] == u'\r')) {
            if (text[position] == u'\n')
                ++line;
            ++position;
        }
    }
    return out;
}

QString annotate(const QString &text)
{
    QStringList written;
    QList<QStringView> blanks; // the blank lines since the last run
    std::optional<Fence> fence;
    bool insideComment = false;
    bool listOpen = false;
    bool inRun = false;
    qsizetype number = 0;
    for (QStringView line : QStringView(text).tokenize(u'\n')) {
        ++number;
        if (fence) {
            // Code keeps its blank lines, and a marker there would show.
            written.append(line.toString());
            if (closesFence(line, *fence))
                fence.reset();
            inRun = true;
            continue;
        }
        if (insideComment) {
            // A marker would end the comment early and show the rest.
            written.append(line.toString());
            insideComment = !line.contains(u"-->");
            inRun = true;
            continue;
        }
        if (isBlankLine(line)) {
            if (inRun)
                blanks.clear();
            blanks.append(line);
            inRun = false;
            continue;
        }
        const LineKind kind = Presenter::classifyLine(line, false);
        if (!inRun) {
            if (listOpen && isIndented(line)) {
                // A marker at the margin would end the list item this line
                // continues.
                for (QStringView blank : blanks)
                    written.append(blank.toString());
            } else {
                if (!written.isEmpty())
                    written.append(QString());
                written.append(marker(number));
                listOpen = false;
            }
        }
        blanks.clear();
        written.append(line.toString());
        inRun = true;
        if (kind == LineKind::list)
            listOpen = true;
        fence = openingFence(line);
        insideComment = opensComment(line, listOpen);
    }
    return written.join(u'\n');
}

QString stampSourceLines(const QString &html)
{
    static const QRegularExpression markerBeforeElement(
        QStringLiteral("<!--S:(\\d+)-->\\s*\\n<([a-zA-Z][a-zA-Z0-9]*)"));
    QString out = html;
    out.replace(markerBeforeElement, QStringLiteral("<\\2 data-source-line=\"\\1\""));
    return out;
}

QString stylesheet()
{
    // Compiled in, so read once for every page of the process.
    static const QString css = [] {
        QFile file(QStringLiteral(":/reading.css"));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }();
    return css;
}

QString fallbackPage(const QString &text)
{
    return kPageHead + stylesheet() + QStringLiteral("</style></head><body><pre data-source-line=\"1\">")
           + escaped(text) + QStringLiteral("</pre></body></html>");
}

QString page(const QString &html)
{
    return kPageHead + stylesheet() + QStringLiteral("</style></head><body>") + stampSourceLines(html)
           + QStringLiteral("</body></html>");
}

RendererLookup systemLookup()
{
    RendererLookup lookup;
    if (QCoreApplication::instance())
        lookup.bundledRenderer = QCoreApplication::applicationDirPath() + u'/' + QLatin1String(kBundledRendererName);
    if (qEnvironmentVariableIsSet(kRendererEnvironment))
        lookup.environmentPath = qEnvironmentVariable(kRendererEnvironment);
    lookup.fixedPaths = {QStringLiteral("/usr/local/bin/apex"), QStringLiteral("/usr/bin/apex")};
    return lookup;
}

std::optional<QString> apexPath(const RendererLookup &lookup)
{
    if (!lookup.bundledRenderer.isEmpty() && QFileInfo(lookup.bundledRenderer).isFile())
        return lookup.bundledRenderer;
    if (lookup.environmentPath)
        return lookup.environmentPath;
    for (const QString &path : lookup.fixedPaths) {
        const QFileInfo info(path);
        if (info.isFile() && info.isExecutable())
            return path;
    }
    return std::nullopt;
}

std::optional<QString> apexPath()
{
    return apexPath(systemLookup());
}

QStringList rendererArguments(const std::optional<QString> &pieceFolder)
{
    QStringList arguments{QStringLiteral("-t"), QStringLiteral("html"), QStringLiteral("--no-mixed-lists"),
                          QStringLiteral("--embed-images")};
    if (pieceFolder)
        arguments << QStringLiteral("--base-dir") << *pieceFolder;
    return arguments;
}

QCoro::Task<RunResult> runRenderer(QString program, QString annotated, std::optional<QString> pieceFolder,
                                   std::chrono::milliseconds timeout)
{
    // Declared before the process: its read handlers write here until it goes.
    QByteArray output;
    QByteArray errors;
    QProcess process;
    process.setProgram(program);
    process.setArguments(rendererArguments(pieceFolder));
    process.setProcessChannelMode(QProcess::SeparateChannels);
    // Its own group, so the time-out reaches whatever it started; and it must
    // not outlive a crashed application.
    process.setChildProcessModifier([] {
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    });
    QObject::connect(&process, &QProcess::readyReadStandardOutput, &process,
                     [&] { output += process.readAllStandardOutput(); });
    // Drained as it comes, so a chatty renderer never blocks on a full pipe;
    // only the start is kept.
    QObject::connect(&process, &QProcess::readyReadStandardError, &process, [&] {
        const QByteArray chunk = process.readAllStandardError();
        if (errors.size() < kStandardErrorExcerpt)
            errors += chunk.left(kStandardErrorExcerpt - errors.size());
    });

    QElapsedTimer clock;
    clock.start();
    // The start is waited for in place: it ends as soon as the child has
    // executed the program or failed to, and a failed start emits no signal
    // that an awaited start would notice before its time-out.
    process.start(QIODevice::ReadWrite);
    if (!process.waitForStarted(int(timeout.count())))
        co_return RunResult{QString(), QStringLiteral("renderer failed to start: %1").arg(process.errorString()),
                            QString()};
    const qint64 pid = process.processId();
    // Written as the renderer reads, while its output is read.
    process.write(annotated.toUtf8());
    process.closeWriteChannel();

    auto coro = qCoro(process);
    const auto left = std::max(std::chrono::milliseconds(1), timeout - std::chrono::milliseconds(clock.elapsed()));
    QCoro::Task<bool> finishing = coro.waitForFinished(left);
    if (!co_await finishing) {
        process.kill();
        stopGroup(pid);
        QCoro::Task<bool> reaping = coro.waitForFinished(std::chrono::milliseconds(5000));
        co_await reaping;
        co_return RunResult{QString(), QStringLiteral("renderer timed out after %1 ms").arg(qint64(timeout.count())),
                            QString::fromUtf8(errors)};
    }
    output += process.readAllStandardOutput();
    const QByteArray rest = process.readAllStandardError();
    if (errors.size() < kStandardErrorExcerpt)
        errors += rest.left(kStandardErrorExcerpt - errors.size());
    // Whatever it started may still hold the pipes; nothing more is read.
    stopGroup(pid);
    if (output.isEmpty()) {
        const int status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        co_return RunResult{QString(), QStringLiteral("renderer gave no output (exit status %1)").arg(status),
                            QString::fromUtf8(errors)};
    }
    co_return RunResult{QString::fromUtf8(output), QString(), QString::fromUtf8(errors)};
}

QCoro::Task<RunResult> runApex(QString annotated, std::optional<QString> pieceFolder)
{
    const std::optional<QString> program = apexPath();
    if (!program)
        co_return RunResult{QString(), QStringLiteral("no renderer found"), QString()};
    QCoro::Task<RunResult> running = runRenderer(*program, annotated, pieceFolder);
    co_return co_await running;
}

QCoro::Task<Rendered> render(QString text, std::optional<QString> pieceFolder, Runner runner)
{
    if (!runner)
        runner = runApex;
    QCoro::Task<RunResult> running = runner(annotate(text), pieceFolder);
    const RunResult result = co_await running;
    if (!result.html.isEmpty())
        co_return Rendered{page(result.html), false};
    qCWarning(readingLog).noquote() << "reading renderer:" << result.failure
                                    << (result.standardError.isEmpty()
                                            ? QString()
                                            : QStringLiteral("; stderr: ") + result.standardError.trimmed());
    co_return Rendered{fallbackPage(text), true};
}

QString repaintKey(qint64 generation, const QString &text)
{
    return QString::number(generation) + u':' + QString::number(qHash(text));
}

} // namespace editor::ReadingPresenter

namespace editor {

ReadingRenderer::ReadingRenderer(QObject *parent) : QObject(parent) {}

void ReadingRenderer::request(const QString &key, const QString &text, const std::optional<QString> &pieceFolder)
{
    const quint64 serial = ++m_serial;
    m_latestKey = key;
    QCoro::Task<void> detached = [](QPointer<ReadingRenderer> self, quint64 serial, QString key, QString text,
                                    std::optional<QString> pieceFolder,
                                    ReadingPresenter::Runner runner) -> QCoro::Task<void> {
        QCoro::Task<ReadingPresenter::Rendered> rendering = ReadingPresenter::render(text, pieceFolder, runner);
        const ReadingPresenter::Rendered result = co_await rendering;
        // Gone, or a newer text was asked for meanwhile.
        if (!self || self->m_serial != serial)
            co_return;
        emit self->rendered(key, result);
    }(QPointer<ReadingRenderer>(this), serial, key, text, pieceFolder, m_runner);
}

} // namespace editor
