// Item trees: round trips and text rendering, against msgpack-cxx (object trees, pack and
// unpack) and nlohmann::json (to_msgpack and from_msgpack, dump) in the same run. A round trip
// is what a message costs end to end: build the tree, store it, load the bytes and read one
// leaf (the Int "i" of the small tree's "arg", of the large tree's last element). The tree is
// built as MbBuild builds one: privately (its locks skipped), then shared before it is stored.
// Two trees: a small message ({"proc", "source", "cookie", "arg": {int, real, one-letter
// string, list of five short strings, time}}) and a large one (a list of 500 such "arg" maps).
// At the end the round-trip and render rates of mbus are printed as ratios to the peers'.
// Unless the command line says otherwise, each benchmark runs 5 repetitions of 0.2 s, all of them
// in one random interleaved order, and the ratios are taken from the medians: on a machine whose
// speed drifts, every figure then samples the same stretches of the run.
#include <benchmark/benchmark.h>
#include <mbus/mbus.h>

#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "items/item_tree.h"
#include "items/private_build.h"
#include "items/str.h"

#ifdef MBUS_BENCH_MSGPACK
#include <msgpack.hpp>
#endif
#ifdef MBUS_BENCH_JSON
#include <nlohmann/json.hpp>
#endif

namespace {

constexpr int kLargeCount = 500;
const char* const kWords[5] = {"alpha", "beta", "gamma", "delta", "eps"};
constexpr int64_t kTime = 13300000000000;
constexpr uint64_t kCookie = 0x0123456789ABCDEFull;

// ---- mbus ----

CRef<CItem> MbusAtom(void (*set)(CAtom&)) {
    CRef<CItem> item = CItem::NewAtom();
    set(*item->GetAtom());
    return item;
}

CRef<CItem> MbusText(const char* text) {
    CRef<CItem> item = CItem::NewAtom();
    item->GetAtom()->SetString(text);
    return item;
}

CRef<CItem> MbusArg(int i) {
    CRef<CItem> arg = CItem::NewMap();
    CRef<CItem> list = CItem::NewList();
    for (const char* word : kWords) list->GetList()->Append(MbusText(word));
    CRef<CItem> number = CItem::NewAtom();
    number->GetAtom()->SetInt(i);
    CMap& map = *arg->GetMap();
    map.SetNamed("i", std::move(number));
    map.SetNamed("r", MbusAtom([](CAtom& a) { a.SetReal(2.5); }));
    map.SetNamed("s", MbusText("x"));
    map.SetNamed("l", std::move(list));
    map.SetNamed("t", MbusAtom([](CAtom& a) { a.SetUtcTime(kTime); }));
    return arg;
}

CRef<CItem> MbusSmall() {
    CRef<CItem> root = CItem::NewMap();
    CMap& map = *root->GetMap();
    map.SetNamed("proc", MbusText("Deliver"));
    map.SetNamed("source", MbusText("client-7"));
    map.SetNamed("cookie", MbusAtom([](CAtom& a) { a.SetCookie(uint32_t(kCookie), uint32_t(kCookie >> 32)); }));
    map.SetNamed("arg", MbusArg(42));
    return root;
}

CRef<CItem> MbusLarge() {
    CRef<CItem> root = CItem::NewList();
    for (int i = 0; i < kLargeCount; ++i) root->GetList()->Append(MbusArg(i));
    return root;
}

int32_t MbusLeaf(CItem& root) {
    CItem* arg = root.GetMap() != nullptr ? root.GetMap()->GetNamed("arg")
                                          : root.GetList()->Get(static_cast<uint16_t>(root.GetList()->Count() - 1));
    int32_t value = 0;
    arg->GetMap()->GetNamed("i")->GetAtom()->ToInt(&value);
    return value;
}

void MbusRoundTrip(benchmark::State& state, CRef<CItem> (*make)()) {
    uint32_t length = 0;
    for (auto _ : state) {
        CPrivateBuild build;
        CRef<CItem> tree = build.Share(make());
        CRef<CItem> blob = StoreItem(*tree.Get());
        const char* bytes = blob->GetAtom()->GetBlob()->GetString(&length);
        CRef<CItem> back = LoadItem(bytes, length);
        benchmark::DoNotOptimize(MbusLeaf(*back.Get()));
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * int64_t(length));
}

void MbusRender(benchmark::State& state, CRef<CItem> (*make)()) {
    CRef<CItem> tree = make();
    uint32_t length = 0;
    for (auto _ : state) {
        CRef<CItem> text = RenderItem(*tree.Get(), false);
        benchmark::DoNotOptimize(text->GetAtom()->GetBlob()->GetString(&length));
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * int64_t(length));
}

BENCHMARK_CAPTURE(MbusRoundTrip, small, MbusSmall);
BENCHMARK_CAPTURE(MbusRoundTrip, large, MbusLarge);
BENCHMARK_CAPTURE(MbusRender, small, MbusSmall);
BENCHMARK_CAPTURE(MbusRender, large, MbusLarge);

// ---- msgpack-cxx: object trees in a zone, packed and unpacked ----
#ifdef MBUS_BENCH_MSGPACK

msgpack::object PackArg(msgpack::zone& zone, int i) {
    std::map<std::string, msgpack::object> arg;
    arg["i"] = msgpack::object(i, zone);
    arg["r"] = msgpack::object(2.5, zone);
    arg["s"] = msgpack::object(std::string("x"), zone);
    arg["l"] = msgpack::object(std::vector<std::string>(std::begin(kWords), std::end(kWords)), zone);
    arg["t"] = msgpack::object(kTime, zone);
    return msgpack::object(arg, zone);
}

msgpack::object PackSmall(msgpack::zone& zone) {
    std::map<std::string, msgpack::object> root;
    root["proc"] = msgpack::object(std::string("Deliver"), zone);
    root["source"] = msgpack::object(std::string("client-7"), zone);
    root["cookie"] = msgpack::object(kCookie, zone);
    root["arg"] = PackArg(zone, 42);
    return msgpack::object(root, zone);
}

msgpack::object PackLarge(msgpack::zone& zone) {
    std::vector<msgpack::object> list;
    for (int i = 0; i < kLargeCount; ++i) list.push_back(PackArg(zone, i));
    return msgpack::object(list, zone);
}

const msgpack::object& MsgpackNamed(const msgpack::object& map, std::string_view key) {
    for (uint32_t i = 0; i + 1 < map.via.map.size; ++i) {
        const msgpack::object_kv& entry = map.via.map.ptr[i];
        if (std::string_view(entry.key.via.str.ptr, entry.key.via.str.size) == key) return entry.val;
    }
    return map.via.map.ptr[map.via.map.size - 1].val;
}

int MsgpackLeaf(const msgpack::object& root) {
    const msgpack::object& arg =
        root.type == msgpack::type::MAP ? MsgpackNamed(root, "arg") : root.via.array.ptr[root.via.array.size - 1];
    return MsgpackNamed(arg, "i").as<int>();
}

void MsgpackRoundTrip(benchmark::State& state, msgpack::object (*make)(msgpack::zone&)) {
    size_t length = 0;
    for (auto _ : state) {
        msgpack::zone zone;
        const msgpack::object tree = make(zone);
        msgpack::sbuffer buffer;
        msgpack::pack(buffer, tree);
        msgpack::object_handle back = msgpack::unpack(buffer.data(), buffer.size());
        benchmark::DoNotOptimize(MsgpackLeaf(back.get()));
        length = buffer.size();
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * int64_t(length));
}

void MsgpackRender(benchmark::State& state, msgpack::object (*make)(msgpack::zone&)) {
    msgpack::zone zone;
    const msgpack::object tree = make(zone);
    size_t length = 0;
    for (auto _ : state) {
        std::ostringstream text;
        text << tree;
        length = text.str().size();
        benchmark::DoNotOptimize(length);
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * int64_t(length));
}

BENCHMARK_CAPTURE(MsgpackRoundTrip, small, PackSmall);
BENCHMARK_CAPTURE(MsgpackRoundTrip, large, PackLarge);
BENCHMARK_CAPTURE(MsgpackRender, small, PackSmall);
BENCHMARK_CAPTURE(MsgpackRender, large, PackLarge);
#endif

// ---- nlohmann::json: to_msgpack and from_msgpack, dump ----
#ifdef MBUS_BENCH_JSON
using nlohmann::json;

json JsonArg(int i) {
    return json{{"i", i},
                {"r", 2.5},
                {"s", "x"},
                {"l", std::vector<std::string>(std::begin(kWords), std::end(kWords))},
                {"t", kTime}};
}

json JsonSmall() {
    return json{{"proc", "Deliver"}, {"source", "client-7"}, {"cookie", kCookie}, {"arg", JsonArg(42)}};
}

json JsonLarge() {
    json list = json::array();
    for (int i = 0; i < kLargeCount; ++i) list.push_back(JsonArg(i));
    return list;
}

void JsonRoundTrip(benchmark::State& state, json (*make)()) {
    size_t length = 0;
    for (auto _ : state) {
        const json tree = make();
        const std::vector<uint8_t> bytes = json::to_msgpack(tree);
        const json back = json::from_msgpack(bytes);
        const json& arg = back.is_object() ? back["arg"] : back.back();
        benchmark::DoNotOptimize(arg["i"].get<int>());
        length = bytes.size();
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * int64_t(length));
}

void JsonRender(benchmark::State& state, json (*make)()) {
    const json tree = make();
    size_t length = 0;
    for (auto _ : state) {
        const std::string text = tree.dump();
        length = text.size();
        benchmark::DoNotOptimize(length);
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * int64_t(length));
}

BENCHMARK_CAPTURE(JsonRoundTrip, small, JsonSmall);
BENCHMARK_CAPTURE(JsonRoundTrip, large, JsonLarge);
BENCHMARK_CAPTURE(JsonRender, small, JsonSmall);
BENCHMARK_CAPTURE(JsonRender, large, JsonLarge);
#endif

// Prints what the console reporter prints and remembers each benchmark's trees per second.
class CRatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            // With repetitions, the median stands for the benchmark.
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median") continue;
            const auto rate = run.counters.find("items_per_second");
            if (rate != run.counters.end()) rates_[run.run_name.str()] = rate->second.value;
        }
    }

    void PrintRatios() const {
        std::printf("\nmbus rate / peer rate (trees per second, same run):\n");
        for (const char* work : {"RoundTrip", "Render"}) {
            for (const char* tree : {"small", "large"}) {
                for (const char* peer : {"Msgpack", "Json"}) {
                    const auto ours = rates_.find(std::string("Mbus") + work + "/" + tree);
                    const auto theirs = rates_.find(std::string(peer) + work + "/" + tree);
                    if (ours == rates_.end() || theirs == rates_.end()) continue;
                    std::printf("  %-9s %-5s vs %-7s %6.2f\n", work, tree, peer, ours->second / theirs->second);
                }
            }
        }
    }

private:
    std::map<std::string, double> rates_;
};

}  // namespace

int main(int argc, char** argv) {
    if (!MbLibraryInit()) return 1;
    // The defaults go first: a flag given on the command line comes later and wins.
    std::vector<char*> args = {argv[0]};
    char repetitions[] = "--benchmark_repetitions=5";
    char interleaving[] = "--benchmark_enable_random_interleaving=true";
    char minTime[] = "--benchmark_min_time=0.2";
    args.insert(args.end(), {repetitions, interleaving, minTime});
    args.insert(args.end(), argv + 1, argv + argc);
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    CRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    benchmark::Shutdown();
    MbLibraryTerm();
    return 0;
}
