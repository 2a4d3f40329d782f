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

// A look-up that names the kind its slot expects, as the store's are.
struct Kinded {
    static constexpr tq::HandleTable::Kind kHandleKind = 1;
    int value = 42;
};

void BM_HandleIdDerefOfAKind(benchmark::State& state) {
    Kinded thing;
    auto& table = tq::HandleTable::Global();
    const auto id = table.add(&thing);
    for (auto _ : state) {
        auto i = id;
        benchmark::DoNotOptimize(i);
        benchmark::DoNotOptimize(table.getAs<Kinded>(i)->value);
    }
    table.release(id);
}
BENCHMARK(BM_HandleIdDerefOfAKind);

// Making and freeing things: an id handed out and given back, the slot
// reused under its next generation.
void BM_HandleIdAddRelease(benchmark::State& state) {
    int value = 42;
    auto& table = tq::HandleTable::Global();
    for (auto _ : state) {
        const auto id = table.add(&value);
        benchmark::DoNotOptimize(id);
        table.release(id);
    }
}
BENCHMARK(BM_HandleIdAddRelease);

}  // namespace

BENCHMARK_MAIN();
