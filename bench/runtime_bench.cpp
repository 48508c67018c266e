// Creating and destroying counted objects: every one enters and leaves the tracker.
#include <benchmark/benchmark.h>
#include <mbus/mbus.h>

#include "library_main.h"
#include "runtime/ref_count.h"
#include "runtime/tracker.h"

namespace {

void CountedObjectLifetime(benchmark::State& state) {
    for (auto _ : state) {
        CCountable* object = new CCountable;
        benchmark::DoNotOptimize(object);
        object->Release();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(CountedObjectLifetime)->Threads(1)->Threads(2)->UseRealTime();

// 64 objects alive at a time, so lookups and removals meet a populated set.
void CountedObjectBatch(benchmark::State& state) {
    CCountable* live[64];
    for (auto _ : state) {
        for (auto& object : live) object = new CCountable;
        for (auto* object : live) object->Release();
    }
    state.SetItemsProcessed(state.iterations() * 64);
}
BENCHMARK(CountedObjectBatch)->Threads(1)->Threads(2)->UseRealTime();

void HandleCheck(benchmark::State& state) {
    CRef<CCountable> object = CRef<CCountable>::Adopt(new CCountable);
    for (auto _ : state) benchmark::DoNotOptimize(ResolveHandle(object.Get()));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(HandleCheck)->Threads(1)->Threads(2)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    return RunBenchmarksWithLibrary(argc, argv);
}
