// The main of a Google Benchmark program whose benchmarks need the library initialised.
#pragma once

#include <benchmark/benchmark.h>
#include <mbus/mbus.h>

inline int RunBenchmarksWithLibrary(int argc, char** argv) {
    if (MbLibraryInit() != 1) return 1;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    MbLibraryTerm();
    return 0;
}
