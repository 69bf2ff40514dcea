// The library scan over a 10,000-piece Home against the floors it cannot beat:
// a full scan against a loop that only opens and reads every post.md, a
// rescan with a warm cache against a loop that only stats every post.md.
#include "foundation/text.h"
#include "library/postscan.h"
#include "libraryhome.h"

#include <QFile>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const QLocale kEnglish(QStringLiteral("en_US"));

using Home = bench::LibraryHome;

const Home &home()
{
    return bench::tenThousandPieceHome();
}

void BM_ScanFull(benchmark::State &state)
{
    const Home &h = home();
    for (auto _ : state) {
        library::PostScanCache cache;
        benchmark::DoNotOptimize(library::PostScan::scanLibrary(h.path, &cache, kEnglish));
    }
    state.counters["pieces"] = double(h.postFiles.size());
}
BENCHMARK(BM_ScanFull)->Unit(benchmark::kMillisecond);

void BM_RawReadLoop(benchmark::State &state)
{
    const Home &h = home();
    std::vector<char> buffer(1 << 16);
    for (auto _ : state) {
        size_t bytes = 0;
        for (const QByteArray &file : h.postFiles) {
            const int fd = ::open(file.constData(), O_RDONLY | O_CLOEXEC);
            if (fd < 0)
                continue;
            ssize_t n;
            while ((n = ::read(fd, buffer.data(), buffer.size())) > 0)
                bytes += size_t(n);
            ::close(fd);
        }
        benchmark::DoNotOptimize(bytes);
    }
}
BENCHMARK(BM_RawReadLoop)->Unit(benchmark::kMillisecond);

void BM_Rescan(benchmark::State &state)
{
    const Home &h = home();
    library::PostScanCache cache;
    library::PostScan::scanLibrary(h.path, &cache, kEnglish);
    for (auto _ : state)
        benchmark::DoNotOptimize(library::PostScan::scanLibrary(h.path, &cache, kEnglish));
    state.counters["hits"] = double(cache.hitCount());
}
BENCHMARK(BM_Rescan)->Unit(benchmark::kMillisecond);

void BM_StatLoop(benchmark::State &state)
{
    const Home &h = home();
    for (auto _ : state)
        benchmark::DoNotOptimize(bench::statEveryPostFile(h));
}
BENCHMARK(BM_StatLoop)->Unit(benchmark::kMillisecond);

void BM_SortTitles(benchmark::State &state)
{
    QStringList titles;
    for (int i = 0; i < 10000; ++i)
        titles.append(QStringLiteral("%1 piece %2 of project %3")
                          .arg(i % 2 ? QStringLiteral("Part") : QStringLiteral("part"))
                          .arg(i % 250 + 1)
                          .arg(i / 250 + 1));
    std::shuffle(titles.begin(), titles.end(), std::mt19937(7));
    const foundation::text::DisplayCollator collator(kEnglish);
    for (auto _ : state)
        benchmark::DoNotOptimize(collator.order(titles));
}
BENCHMARK(BM_SortTitles)->Unit(benchmark::kMillisecond);

} // namespace
