// Cost of reaching a thing through a handle id against a raw pointer.
#include <benchmark/benchmark.h>

#include "platform/util/handle.h"

namespace {

void BM_RawPointerDeref(benchmark::State& state) {
    int value = 42;
    int* p = &value;
    for (auto _ : state) {
        benchmark::DoNotOptimize(p);
        benchmark::DoNotOptimize(*p);
    }
}
BENCHMARK(BM_RawPointerDeref);

void BM_HandleIdDeref(benchmark::State& state) {
    int value = 42;
    auto& table = tq::HandleTable::Global();
    const auto id = table.add(&value);
    for (auto _ : state) {
        auto i = id;
        benchmark::DoNotOptimize(i);
        benchmark::DoNotOptimize(*table.getAs<int>(i));
    }
    table.release(id);
}
BENCHMARK(BM_HandleIdDeref);

}  // namespace

BENCHMARK_MAIN();
