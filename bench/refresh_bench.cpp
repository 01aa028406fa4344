// The cost of one report refresh on machines of growing size: a device tree of N nodes and an
// instance ID list of N IDs (a tenth of them phantoms), two plugged-in adapters, one configured
// adapter, the driver files installed and the driver running. Measured forced and unforced with
// an unchanged key; the counter "calls" is the simulated platform calls per refresh.
#include <benchmark/benchmark.h>

#include "app/main_window.h"
#include "bench/bench_machine.h"
#include "report/report.h"
#include "simwin/sim.h"

namespace {

using bench_machine::build_machine;

void refresh(benchmark::State& state, int force) {
    build_machine(static_cast<int>(state.range(0)));
    refresh_report(nullptr, 1); // the window's first, forced refresh
    long calls = 0;
    for (auto _ : state) {
        long before = sim::call_count();
        benchmark::DoNotOptimize(refresh_report(nullptr, force));
        calls += sim::call_count() - before;
        state.PauseTiming();
        sim::clear_log(); // the call log would otherwise grow with every refresh
        state.ResumeTiming();
    }
    state.counters["calls"] =
        benchmark::Counter(static_cast<double>(calls), benchmark::Counter::kAvgIterations);
    DestroyWindow(app.report_edit);
    app.report_edit = nullptr;
}

void forced_refresh(benchmark::State& state) {
    refresh(state, 1);
}

void unforced_refresh_unchanged_key(benchmark::State& state) {
    refresh(state, 0);
}

BENCHMARK(forced_refresh)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(unforced_refresh_unchanged_key)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(10000)
    ->Unit(benchmark::kMicrosecond);

} // namespace
