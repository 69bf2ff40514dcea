// The main of the benchmarks: a Qt core application around Google Benchmark,
// or an offscreen widgets application for the benchmarks built with GUI.
#include <benchmark/benchmark.h>
#ifdef PENNORA_BENCH_GUI
#include <QApplication>
using BenchApplication = QApplication;
#else
#include <QCoreApplication>
using BenchApplication = QCoreApplication;
#endif

int main(int argc, char **argv)
{
#ifdef PENNORA_BENCH_GUI
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
    BenchApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
