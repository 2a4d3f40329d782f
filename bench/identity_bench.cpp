// Persistent identity: opening a large description table, interning a name
// that exists, and following a fault pointer that is already resolved.
//
// Counters: "allocs" is the number of heap allocations per iteration;
// "bytes/desc" the heap the opened table holds per description.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "bench/support/alloccount.h"
#include "platform/storage/oclstorage.h"
#include "platform/storage/oclstream.h"
#include "store/persist/descobj.h"
#include "store/persist/idstr.h"
#include "store/persist/vlstrrep.h"

namespace {

using namespace tq;

constexpr uint32_t kDescriptions = 1000000;

void Put32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out += char(v >> (8 * i));
}

// A module file whose "Strings" table has kDescriptions entries, all naming
// one empty string record.
const std::string& LargeModule() {
    static const std::string path = [] {
        const std::string p =
            (std::filesystem::temp_directory_path() / ("tqbench-" + std::to_string(getpid()) + ".qbo"))
                .string();
        std::string image;
        const uint32_t record = 16, recordSize = 7;
        const uint32_t arrayAt = record + recordSize;
        const uint32_t arraySize = 8 + kDescriptions * 13;
        Put32(image, 1);
        Put32(image, arrayAt);
        Put32(image, arraySize);
        Put32(image, 0);
        image += std::string("\1\0\1\0\0\0\0", recordSize);
        Put32(image, kDescriptions);
        Put32(image, 0xFFFFFFFF);
        for (uint32_t i = 0; i < kDescriptions; ++i) {
            image += '\1';
            Put32(image, 0);
            Put32(image, record);
            Put32(image, recordSize);
        }
        OCLStorage storage(p.c_str(), 1, STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_CREATE);
        OCLStream s(storage, "Strings", 1, STGM_READWRITE | STGM_SHARE_EXCLUSIVE);
        s.write(image.data(), image.size());
        storage.Commit();
        std::atexit([] { std::filesystem::remove(path); });
        return p;
    }();
    return path;
}

void BM_OpenDescriptionTable(benchmark::State& state) {
    const std::string& path = LargeModule();
    double bytesPerDescription = 0;
    uint64_t allocs = 0;
    for (auto _ : state) {
        state.PauseTiming();
        {
            OCLStorage storage(path.c_str(), 0, STGM_READWRITE | STGM_SHARE_EXCLUSIVE);
            const size_t heapBefore = mallinfo2().uordblks;
            const uint64_t allocsBefore = bench::Allocations();
            state.ResumeTiming();
            DescriptionTable<ValStringRep> table(storage, 0);
            state.PauseTiming();
            allocs = bench::Allocations() - allocsBefore;
            bytesPerDescription = double(mallinfo2().uordblks - heapBefore) / table.count();
            benchmark::DoNotOptimize(table.count());
        }
        state.ResumeTiming();
    }
    state.counters["allocs"] = double(allocs);
    state.counters["bytes/desc"] = bytesPerDescription;
}
BENCHMARK(BM_OpenDescriptionTable)->Unit(benchmark::kMillisecond);

void BM_InternExistingName(benchmark::State& state) {
    IdString::Initialize();
    IdString held("AnExistingFieldName", DETACHED_MODULE);
    for (int i = 0; i < 1000; ++i) IdString(("other" + std::to_string(i)).c_str(), DETACHED_MODULE);
    const uint64_t before = bench::Allocations();
    for (auto _ : state) {
        IdString again("AnExistingFieldName", DETACHED_MODULE);
        benchmark::DoNotOptimize(again.body());
    }
    state.counters["allocs"] =
        benchmark::Counter(double(bench::Allocations() - before), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_InternExistingName);

void BM_FaultpResolvedDeref(benchmark::State& state) {
    ValString s("text");
    s.get();
    for (auto _ : state) {
        benchmark::DoNotOptimize(s->text().size());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_FaultpResolvedDeref);

void BM_RawPointerDeref(benchmark::State& state) {
    ValString s("text");
    ValStringRep* raw = s.get();
    benchmark::DoNotOptimize(raw);
    for (auto _ : state) {
        benchmark::DoNotOptimize(raw->text().size());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_RawPointerDeref);

}  // namespace

BENCHMARK_MAIN();
