// pennora-render: Markdown (UTF-8) on standard input, HTML on standard output,
// with the arguments the reading view passes:
//
//   pennora-render -t html [--no-mixed-lists] [--embed-images] [--base-dir <folder>]
//
// CommonMark with GitHub's tables, strikethrough, task lists and autolinks.
// Raw HTML passes through, so a comment on a line of its own comes out
// verbatim on a line of its own, before the next block's opening tag. Lists
// never mix: a change of bullet or of numbering style starts a new list.
// With --embed-images, an image whose address is a relative path to a file
// inside the base folder, of a known image type, becomes a data URI; any
// other image is left as it was. Bytes that are not UTF-8 become U+FFFD.

#include "library/micropubchecks.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <md4c-html.h>

#include <cstdio>
#include <optional>
#include <variant>

namespace {

// Larger images stay links: a page of several such would not load.
constexpr qint64 kLargestEmbeddedImage = 32 * 1024 * 1024;

struct Options {
    bool embedImages = false;
    std::optional<QString> baseDir;
};

int usage(const char *message)
{
    std::fprintf(stderr,
                 "pennora-render: %s\n"
                 "usage: pennora-render -t html [--no-mixed-lists] [--embed-images] [--base-dir <folder>]\n",
                 message);
    return 2;
}

// The arguments, or the exit status of a refusal (after its message).
std::variant<Options, int> parseArguments(int argc, char **argv)
{
    Options options;
    bool html = false;
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        if (argument == "-t" || argument == "--to") {
            if (++i >= argc)
                return usage("-t needs a format");
            if (QByteArray(argv[i]) != "html")
                return usage("only html output is supported");
            html = true;
        } else if (argument == "--no-mixed-lists") {
            // Lists never mix here; the flag is taken for the caller's sake.
        } else if (argument == "--embed-images") {
            options.embedImages = true;
        } else if (argument == "--base-dir") {
            if (++i >= argc)
                return usage("--base-dir needs a folder");
            options.baseDir = QFile::decodeName(argv[i]);
        } else {
            return usage("unknown argument");
        }
    }
    if (!html)
        return usage("-t html is required");
    return options;
}

void collect(const MD_CHAR *text, MD_SIZE size, void *out)
{
    static_cast<QByteArray *>(out)->append(text, qsizetype(size));
}

// The address as md4c wrote it into the src attribute, back as a path.
QString pathOf(QByteArray address)
{
    address.replace("&amp;", "&").replace("&#x27;", "'").replace("&quot;", "\"");
    return QUrl::fromPercentEncoding(address);
}

// A data URI for a relative image path inside base, or nothing.
std::optional<QByteArray> dataUri(const QByteArray &address, const QString &canonicalBase)
{
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*:"));
    const QString path = pathOf(address);
    if (path.isEmpty() || path.startsWith(u'/') || scheme.match(path).hasMatch())
        return std::nullopt;
    const QFileInfo info(QDir(canonicalBase).absoluteFilePath(path));
    const QString resolved = info.canonicalFilePath();
    if (resolved.isEmpty() || !resolved.startsWith(canonicalBase + u'/') || !info.isFile()
        || info.size() > kLargestEmbeddedImage)
        return std::nullopt;
    const std::optional<QString> type = library::Micropub::mimeType(info.fileName());
    if (!type)
        return std::nullopt;
    QFile file(resolved);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return "data:" + type->toLatin1() + ";base64," + file.readAll().toBase64();
}

QByteArray embedImages(const QByteArray &html, const QString &baseDir)
{
    const QString canonicalBase = QFileInfo(baseDir).canonicalFilePath();
    if (canonicalBase.isEmpty())
        return html;
    static const QByteArray opening = "<img src=\"";
    QByteArray out;
    out.reserve(html.size());
    qsizetype from = 0;
    for (;;) {
        const qsizetype tag = html.indexOf(opening, from);
        const qsizetype start = tag < 0 ? -1 : tag + opening.size();
        const qsizetype end = start < 0 ? -1 : html.indexOf('"', start);
        if (end < 0) {
            out.append(html.sliced(from));
            return out;
        }
        out.append(html.sliced(from, start - from));
        const QByteArray address = html.sliced(start, end - start);
        out.append(dataUri(address, canonicalBase).value_or(address));
        from = end;
    }
}

bool writeAll(const QByteArray &bytes)
{
    return std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout) == size_t(bytes.size())
           && std::fflush(stdout) == 0;
}

} // namespace

int main(int argc, char **argv)
{
    const std::variant<Options, int> parsed = parseArguments(argc, argv);
    if (const int *status = std::get_if<int>(&parsed))
        return *status;
    const Options &options = std::get<Options>(parsed);

    QFile input;
    if (!input.open(stdin, QIODevice::ReadOnly)) {
        std::fprintf(stderr, "pennora-render: cannot read standard input\n");
        return 1;
    }
    // Invalid sequences become U+FFFD on the way through QString.
    const QByteArray markdown = QString::fromUtf8(input.readAll()).toUtf8();

    QByteArray html;
    if (md_html(markdown.constData(), MD_SIZE(markdown.size()), collect, &html, MD_DIALECT_GITHUB,
                MD_HTML_FLAG_SKIP_UTF8_BOM)
        != 0) {
        std::fprintf(stderr, "pennora-render: the Markdown could not be rendered\n");
        return 1;
    }
    if (options.embedImages && options.baseDir)
        html = embedImages(html, *options.baseDir);
    if (!writeAll(html)) {
        std::fprintf(stderr, "pennora-render: cannot write standard output\n");
        return 1;
    }
    return 0;
}
