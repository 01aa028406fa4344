// One report refresh for callgrind: builds the benchmark machine of N nodes, runs the window's
// first forced refresh, then the measured refresh (forced or not) inside
// qdi_measured_refresh, the one function bench/measure asks callgrind to collect.
//
//   qdi_refresh_profile NODES FORCE
#include <cstdio>
#include <cstdlib>

#include "bench/bench_machine.h"
#include "report/report.h"

extern "C" __attribute__((noinline)) DWORD qdi_measured_refresh(int force) {
    return refresh_report(nullptr, force);
}

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s NODES FORCE\n", argv[0]);
        return 2;
    }
    bench_machine::build_machine(std::atoi(argv[1]));
    refresh_report(nullptr, 1);
    sim::clear_log();
    long before = sim::call_count();
    DWORD flags = qdi_measured_refresh(std::atoi(argv[2]));
    std::printf("flags %lu, platform calls %ld\n", static_cast<unsigned long>(flags),
                sim::call_count() - before);
    return 0;
}
