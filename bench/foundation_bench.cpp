#include "foundation/text.h"
#include "synthetichome.h"

#include <QDir>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

const QString &manuscript()
{
    static const QString text = testsupport::syntheticProse(50000, 7);
    return text;
}

void BM_GraphemeCount(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(foundation::text::graphemeCount(manuscript()));
    state.SetBytesProcessed(state.iterations() * manuscript().size() * 2);
}
BENCHMARK(BM_GraphemeCount)->Unit(benchmark::kMillisecond);

void BM_FindAllQuotes(benchmark::State &state)
{
    const QString quote = QStringLiteral("coffee draft");
    for (auto _ : state)
        benchmark::DoNotOptimize(foundation::text::findAllQuotes(manuscript(), quote));
}
BENCHMARK(BM_FindAllQuotes)->Unit(benchmark::kMillisecond);

void BM_GenerateSyntheticHome(benchmark::State &state)
{
    for (auto _ : state) {
        QTemporaryDir dir;
        testsupport::SyntheticHomeOptions options;
        options.projects = 2;
        options.piecesPerProject = 20;
        benchmark::DoNotOptimize(testsupport::generateSyntheticHome(dir.path(), options));
    }
}
BENCHMARK(BM_GenerateSyntheticHome)->Unit(benchmark::kMillisecond);

} // namespace
