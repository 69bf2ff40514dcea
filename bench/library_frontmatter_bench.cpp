#include "library/frontmatter.h"
#include "synthetichome.h"

#include <benchmark/benchmark.h>

namespace {

using library::Post;
namespace PostFrontmatter = library::PostFrontmatter;

const char *const kBlock = "---\ntitle: A long piece\ntype: post\npass_state: Pass-1 Done\norigin: writer\n"
                           "micropub_url: https://example.com/2025/03/a-long-piece\n"
                           "stats_captured: 2025-03-14T09:05:00\n---\n";

// A post.md of about `bytes` bytes: a front matter block, then prose lines.
QString postOfSize(qint64 bytes, bool unclosed = false)
{
    const QString prose = testsupport::syntheticProse(20000, 11);
    QString text = QString::fromUtf8(kBlock);
    if (unclosed)
        text.chop(4); // drop the closing "---\n": the lenient parse reads to the end
    while (text.toUtf8().size() < bytes)
        text += prose + QStringLiteral("\n\n");
    return text.left(bytes);
}

const library::FrontmatterPairs &pairs()
{
    static const library::FrontmatterPairs p{
        {"pass_state", "Pass-2 Done"}, {"stats_burstiness", "-0.250"}, {"micropub_url", "https://example.com/x"}};
    return p;
}

void BM_ParseFrontmatter(benchmark::State &state)
{
    const QString text = postOfSize(state.range(0));
    for (auto _ : state)
        benchmark::DoNotOptimize(PostFrontmatter::parseFrontmatter(text));
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_ParseFrontmatter)
    ->RangeMultiplier(2)
    ->Range(256 << 10, 2 << 20)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMicrosecond);

// The worst case: an opening delimiter without a closing one.
void BM_ParseFrontmatterUnclosed(benchmark::State &state)
{
    const QString text = postOfSize(state.range(0), true);
    for (auto _ : state)
        benchmark::DoNotOptimize(PostFrontmatter::parseFrontmatter(text));
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_ParseFrontmatterUnclosed)
    ->RangeMultiplier(2)
    ->Range(256 << 10, 2 << 20)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMicrosecond);

void BM_RewriteFrontmatter(benchmark::State &state)
{
    const QString text = postOfSize(state.range(0));
    for (auto _ : state)
        benchmark::DoNotOptimize(PostFrontmatter::rewriteFrontmatter(text, pairs()));
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_RewriteFrontmatter)
    ->RangeMultiplier(2)
    ->Range(256 << 10, 2 << 20)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMicrosecond);

// What a save does: read the block, then put the new body under it.
void BM_ParseAndRewrite(benchmark::State &state)
{
    const QString text = postOfSize(state.range(0));
    for (auto _ : state) {
        benchmark::DoNotOptimize(PostFrontmatter::parseFrontmatter(text));
        benchmark::DoNotOptimize(PostFrontmatter::rewriteFrontmatter(text, pairs()));
        benchmark::DoNotOptimize(PostFrontmatter::deriveTitle(text));
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_ParseAndRewrite)
    ->RangeMultiplier(2)
    ->Range(256 << 10, 2 << 20)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMicrosecond);

// A rewrite that adds a block in front of a text without one.
void BM_RewriteWithoutBlock(benchmark::State &state)
{
    const QString text = postOfSize(state.range(0)).mid(int(qstrlen(kBlock)));
    for (auto _ : state)
        benchmark::DoNotOptimize(PostFrontmatter::stampNewPost(text, Post::Origin::writer));
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_RewriteWithoutBlock)
    ->RangeMultiplier(2)
    ->Range(256 << 10, 2 << 20)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMicrosecond);

} // namespace
