#pragma once
// The reading view's page: the Markdown text with a source-line marker before
// every block, run through an outside Markdown-to-HTML renderer, the markers
// turned into data-source-line attributes, wrapped with the reading
// stylesheet. Without a renderer that answers, the page is the text as plain
// preformatted text, so a render never fails.
//
// The renderer runs asynchronously (input written while output is read,
// standard error drained, a time-out), so a slow or stuck renderer never
// freezes the interface.

#include "foundation/text.h"

#include <QCoro/QCoroTask>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <optional>

namespace editor::ReadingPresenter {

// One block of the source text: the 1-based line it starts on, and where it
// lies in the text (UTF-16 units), its lines and the single line feeds
// between them, without the blank-line separator after it.
struct Block {
    qint64 sourceLine = 0;
    foundation::text::Range sourceRange;
    bool operator==(const Block &) const = default;
};

// The blocks of text: runs separated by an empty line ("\n\n", or
// "\r\n\r\n"); a line of spaces does not separate.
QList<Block> blocks(const QString &text);

// The text with the marker line "<!--S:n-->" before every run of non-blank
// lines, runs separated by exactly one empty line, where a marker cannot
// change what the renderer (md4c, CommonMark's block rules) makes of the
// text: none inside a fenced or indented code block or a raw HTML block that
// runs past blank lines (those keep their blank lines as they are), and none
// before a line that continues an open list item or adds an item to an open
// list. Before an indented code block an empty line follows the marker; a
// last line whose meaning needs its line break keeps it.
QString annotate(const QString &text);

// Every marker followed by a line break and an element start becomes that
// element's data-source-line attribute.
QString stampSourceLines(const QString &html);

// The reading stylesheet from the resources (":/reading.css"), read anew each
// time; the empty string when it cannot be read.
QString stylesheet();

// The policy every page carries first in its head: a piece's own HTML
// (Markdown passes it through) never runs, loads nothing and reaches nothing;
// only inline styles and embedded images apply.
inline constexpr const char *kContentSecurityPolicy = "default-src 'none'; style-src 'unsafe-inline'; img-src data:";

// The text escaped into one <pre> stamped with line 1.
QString fallbackPage(const QString &text);

// The full page around rendered HTML.
QString page(const QString &html);

// Where the renderer is looked for, in this order: the bundled renderer
// (pennora-render in the folder of the running executable, taken when it
// exists), the environment's APEX_PATH (as given, when set), then the fixed
// paths that hold an executable file.
struct RendererLookup {
    QString bundledRenderer;
    std::optional<QString> environmentPath;
    QStringList fixedPaths;
};
inline constexpr const char *kBundledRendererName = "pennora-render";
inline constexpr const char *kRendererEnvironment = "APEX_PATH";
// The lookup of this process: its executable's folder, its environment and
// "/usr/local/bin/apex", "/usr/bin/apex".
RendererLookup systemLookup();
std::optional<QString> apexPath(const RendererLookup &lookup);
std::optional<QString> apexPath();

// The arguments the renderer is run with.
QStringList rendererArguments(const std::optional<QString> &pieceFolder);

// One run of the renderer. html is empty when the run failed; failure then
// says why and standardError holds the start of what the renderer wrote
// there.
struct RunResult {
    QString html;
    QString failure;
    QString standardError;
    bool operator==(const RunResult &) const = default;
};

inline constexpr std::chrono::milliseconds kRunTimeout{15000};
// How much of the renderer's standard error is kept for the log.
inline constexpr qsizetype kStandardErrorExcerpt = 4096;

// Runs program with the renderer's arguments: the annotated text goes in as
// UTF-8 while the output is read; output that is not empty is the result
// whatever the exit status, decoded with replacement characters. A renderer
// still running at the time-out is killed with its process group and the run
// fails.
QCoro::Task<RunResult> runRenderer(QString program, QString annotated, std::optional<QString> pieceFolder,
                                   std::chrono::milliseconds timeout = kRunTimeout);
// The looked-up renderer, or a failure when there is none.
QCoro::Task<RunResult> runApex(QString annotated, std::optional<QString> pieceFolder);

using Runner = std::function<QCoro::Task<RunResult>(QString annotated, std::optional<QString> pieceFolder)>;

struct Rendered {
    QString page;
    // The plain page stands in because no renderer ran or it gave nothing;
    // the reading view shows a quiet notice.
    bool rendererFailed = false;
    bool operator==(const Rendered &) const = default;
};

// The page of text; never fails. A failing run is logged with the
// renderer's standard error. runner defaults to runApex.
QCoro::Task<Rendered> render(QString text, std::optional<QString> pieceFolder, Runner runner = {});

// The repaint key of a text under a load generation: "generation:hash".
QString repaintKey(qint64 generation, const QString &text);

} // namespace editor::ReadingPresenter

namespace editor {

// Renders pages one after another for one reading view: a render asked for
// later wins, and an older one still running when it ends is dropped.
class ReadingRenderer : public QObject {
    Q_OBJECT
public:
    explicit ReadingRenderer(QObject *parent = nullptr);

    void setRunner(ReadingPresenter::Runner runner) { m_runner = std::move(runner); }
    // Starts the render of text for key (the repaint key); rendered follows
    // unless another request comes first.
    void request(const QString &key, const QString &text, const std::optional<QString> &pieceFolder);
    QString latestKey() const { return m_latestKey; }

signals:
    void rendered(const QString &key, const editor::ReadingPresenter::Rendered &result);

private:
    ReadingPresenter::Runner m_runner;
    quint64 m_serial = 0;
    QString m_latestKey;
};

} // namespace editor
