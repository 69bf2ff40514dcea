// The reading view's render of a 100,000-word piece with 30 embedded images
// through the bundled renderer: annotation, the renderer's run (Markdown to
// HTML and the images to data URIs), stamping and page assembly.
#include "editor/prose/readingpresenter.h"
#include "synthetichome.h"
#include "testutil.h"

#include <QCoro/QCoroTask>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

namespace R = editor::ReadingPresenter;
using namespace Qt::StringLiterals;

constexpr int kImages = 30;
constexpr int kImageBytes = 64 * 1024;

struct IllustratedPiece {
    QTemporaryDir dir;
    QString folder = dir.path() + u"/piece"_s;
    QString text;

    IllustratedPiece()
    {
        const QByteArray image(kImageBytes, 'p');
        for (int i = 0; i < kImages; ++i)
            testsupport::writeFile(folder + u"/assets/image-%1.png"_s.arg(i), image);
        // Paragraphs of about 100 words, an image after every 33rd.
        const QStringList words = testsupport::syntheticProse(100000, 11).split(u' ');
        int paragraph = 0;
        for (qsizetype i = 0; i < words.size(); i += 100, ++paragraph) {
            text += words.mid(i, 100).join(u' ') + u"\n\n"_s;
            if (paragraph % 33 == 0 && paragraph / 33 < kImages)
                text += u"![figure](assets/image-%1.png)\n\n"_s.arg(paragraph / 33);
        }
    }
};

void BM_RenderIllustratedPiece(benchmark::State &state)
{
    IllustratedPiece piece;
    const R::Runner runner = [](QString annotated, std::optional<QString> folder) {
        return R::runRenderer(QStringLiteral(PENNORA_RENDER_BINARY), annotated, folder);
    };
    qsizetype size = 0;
    for (auto _ : state) {
        const R::Rendered rendered = QCoro::waitFor(R::render(piece.text, piece.folder, runner));
        if (rendered.rendererFailed)
            state.SkipWithError("the renderer failed");
        size = rendered.page.size();
    }
    state.counters["page_chars"] = double(size);
    state.SetBytesProcessed(state.iterations() * piece.text.size() * 2);
}
BENCHMARK(BM_RenderIllustratedPiece)->Unit(benchmark::kMillisecond);

} // namespace
