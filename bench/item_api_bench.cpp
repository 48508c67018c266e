// The item API on a small message tree: a map with "proc" and "source" strings, a "cookie" and
// an "arg" map holding an Int, a Real, a one-letter String, a List of five short Strings and a
// UtcTime. The tree is built in one MbBuild call and with one exported call per item, and every
// leaf is read back through the getters. Each iteration is one tree (items/s = trees/s).
#include <cstdint>

#include <benchmark/benchmark.h>
#include <mbus/mbus.h>

#include "library_main.h"

namespace {

constexpr const char* kFormat = "{s:s s:s s:c s:{s:i s:r s:s s:[s s s s s] s:g}}";
constexpr uint64_t kCookie = 0x0123456789ABCDEFu;
constexpr int64_t kTime = 13353683696789;
const char* const kNames[5] = {"red", "green", "blue", "cyan", "gray"};

MbItem BuildWithFormat() {
    return MbBuild(kFormat, "proc", "render", "source", "viewer #12", "cookie", kCookie, "arg", "count", 42, "scale",
                   1.25, "mode", "x", "names", kNames[0], kNames[1], kNames[2], kNames[3], kNames[4], "when", kTime);
}

// Sets a new item under a text key and drops the creating reference: the map holds its own.
void Put(MbItem map, const char* key, MbItem value) {
    MbMapSetNamed(map, key, value);
    MbHandleRelease(value);
}

MbItem BuildWithCreators() {
    MbItem names = MbListNew();
    for (const char* name : kNames) {
        MbItem element = MbAtomNewString(name);
        MbListAppend(names, element, nullptr);
        MbHandleRelease(element);
    }
    MbItem arg = MbMapNew();
    Put(arg, "count", MbAtomNewInt(42));
    Put(arg, "scale", MbAtomNewReal(1.25));
    Put(arg, "mode", MbAtomNewString("x"));
    Put(arg, "names", names);
    Put(arg, "when", MbAtomNewTime(1, kTime));
    MbItem message = MbMapNew();
    Put(message, "proc", MbAtomNewString("render"));
    Put(message, "source", MbAtomNewString("viewer #12"));
    Put(message, "cookie", MbAtomNewCookie(static_cast<uint32_t>(kCookie), static_cast<uint32_t>(kCookie >> 32)));
    Put(message, "arg", arg);
    return message;
}

// Reads one named leaf with `read` and drops the reference the lookup added.
template <class Read>
void ReadNamed(MbItem map, const char* key, Read read) {
    MbItem leaf = nullptr;
    MbMapGetNamed(map, key, &leaf);
    read(leaf);
    MbHandleRelease(leaf);
}

void ReadString(MbItem item) {
    const char* text = nullptr;
    uint16_t length = 0;
    MbAtomGetString(item, &text, &length);
    benchmark::DoNotOptimize(text);
}

// Every leaf of the message; returns the sum of the lengths of the five names as a check.
uint32_t ReadLeaves(MbItem message) {
    uint32_t total = 0;
    ReadNamed(message, "proc", ReadString);
    ReadNamed(message, "source", ReadString);
    ReadNamed(message, "cookie", [](MbItem item) {
        uint64_t cookie = 0;
        MbAtomGetCookie(item, &cookie);
        benchmark::DoNotOptimize(cookie);
    });
    ReadNamed(message, "arg", [&](MbItem arg) {
        ReadNamed(arg, "count", [](MbItem item) {
            int32_t value = 0;
            MbAtomGetInt(item, &value);
            benchmark::DoNotOptimize(value);
        });
        ReadNamed(arg, "scale", [](MbItem item) {
            double value = 0;
            MbAtomGetReal(item, &value);
            benchmark::DoNotOptimize(value);
        });
        ReadNamed(arg, "mode", ReadString);
        ReadNamed(arg, "when", [](MbItem item) {
            int32_t utc = 0;
            int64_t milliseconds = 0;
            MbAtomGetTime(item, &utc, &milliseconds);
            benchmark::DoNotOptimize(milliseconds);
        });
        ReadNamed(arg, "names", [&](MbItem names) {
            uint16_t count = 0;
            MbItemGetCount(names, &count);
            for (uint16_t position = 0; position < count; ++position) {
                MbItem element = nullptr;
                MbItemGetAt(names, position, &element);
                const char* text = nullptr;
                uint16_t length = 0;
                MbAtomGetString(element, &text, &length);
                total += length;
                MbHandleRelease(element);
            }
        });
    });
    return total;
}

void BuildTreeWithFormat(benchmark::State& state) {
    for (auto _ : state) {
        MbItem tree = BuildWithFormat();
        if (tree == nullptr) state.SkipWithError("MbBuild failed");
        MbHandleRelease(tree);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BuildTreeWithFormat)->Threads(1)->Threads(2)->UseRealTime();

void BuildTreeWithCreators(benchmark::State& state) {
    for (auto _ : state) {
        MbItem tree = BuildWithCreators();
        if (tree == nullptr) state.SkipWithError("building failed");
        MbHandleRelease(tree);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BuildTreeWithCreators)->Threads(1)->Threads(2)->UseRealTime();

void ReadEveryLeaf(benchmark::State& state) {
    MbItem tree = BuildWithFormat();
    for (auto _ : state) {
        if (ReadLeaves(tree) != 20) state.SkipWithError("wrong leaves");
    }
    state.SetItemsProcessed(state.iterations());
    MbHandleRelease(tree);
}
BENCHMARK(ReadEveryLeaf)->Threads(1)->Threads(2)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    return RunBenchmarksWithLibrary(argc, argv);
}
