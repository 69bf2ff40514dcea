#include "library/draftstats.h"
#include "synthetichome.h"

#include <benchmark/benchmark.h>

#include <map>

namespace {

const QString &prose(int words)
{
    static std::map<int, QString> texts;
    auto it = texts.find(words);
    if (it == texts.end())
        it = texts.emplace(words, testsupport::syntheticProse(words, 7)).first;
    return it->second;
}

// Runs after every edit and every writing-lock tick: must stay linear.
void BM_WordCount(benchmark::State &state)
{
    const QString &text = prose(int(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(library::DraftStats::wordCount(text));
    state.SetComplexityN(state.range(0));
    state.SetBytesProcessed(state.iterations() * text.size() * 2);
}
BENCHMARK(BM_WordCount)
    ->Arg(25000)
    ->Arg(50000)
    ->Arg(100000)
    ->Arg(200000)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMillisecond);

void BM_ComputeStats(benchmark::State &state)
{
    const QString &text = prose(int(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(library::DraftStats::compute(text));
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_ComputeStats)->Arg(25000)->Arg(50000)->Arg(100000)->Complexity(benchmark::oN)->Unit(benchmark::kMillisecond);

} // namespace
