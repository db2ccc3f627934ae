#include "untLog.h"

#include <benchmark/benchmark.h>

// What a log call with the log off has to match: a call the compiler cannot remove or inline.
[[gnu::noinline]] void EmptyCall(int value)
{
    benchmark::DoNotOptimize(value);
}

static void BM_EmptyFunctionCall(benchmark::State& state)
{
    int i = 0;
    for (auto _ : state)
        EmptyCall(++i);
}
BENCHMARK(BM_EmptyFunctionCall);

static void BM_LogOff(benchmark::State& state)
{
    TLog::Instance().SetConnections(QString());
    TLog::Instance().SetEnabled(false);
    const QString url = QStringLiteral("http://host/?q=ipod");
    int i = 0;
    for (auto _ : state) {
        // The shapes of the calls on the search path: a text, a built text, a number.
        siMain.LogString("Search URL", url);
        siMain.LogString("Popup Message", QStringLiteral("New items for ") + url);
        siMain.WatchInt("fndC", ++i);
        benchmark::ClobberMemory();
    }
    state.SetLabel("three calls per iteration");
}
BENCHMARK(BM_LogOff);

static void BM_LogMemory(benchmark::State& state)
{
    TLog::Instance().SetConnections(QStringLiteral("mem(maxsize=2048)"));
    TLog::Instance().SetEnabled(true);
    const QString url = QStringLiteral("http://host/?q=ipod");
    for (auto _ : state)
        siMain.LogString("Search URL", url);
    TLog::Instance().SetEnabled(false);
    TLog::Instance().SetConnections(QString());
}
BENCHMARK(BM_LogMemory);

BENCHMARK_MAIN();
