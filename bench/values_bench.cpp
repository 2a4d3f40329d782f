// Cost of the operations the interpreter runs on every expression: an
// operator that makes its result value and releases it, and the string
// concatenation; and what the small-object allocator behind values saves
// against the general heap.
#include <benchmark/benchmark.h>

#include <new>

#include "store/persist/vlstrrep.h"
#include "store/valops.h"
#include "store/vals.h"

namespace {

using namespace tq;

void BM_LongPlusLong(benchmark::State& state) {
    ValuePtr a(new LongValue(40000));
    ValuePtr b(new LongValue(2));
    for (auto _ : state) {
        ValuePtr sum = *a + *b;
        benchmark::DoNotOptimize(sum.get());
    }
}
BENCHMARK(BM_LongPlusLong);

void BM_IntegerTimesDouble(benchmark::State& state) {
    ValuePtr a(new IntegerValue(int16_t(300)));
    ValuePtr b(new DoubleValue(1.5));
    for (auto _ : state) {
        ValuePtr product = *a * *b;
        benchmark::DoNotOptimize(product.get());
    }
}
BENCHMARK(BM_IntegerTimesDouble);

void BM_LongLessThanLong(benchmark::State& state) {
    ValuePtr a(new LongValue(1));
    ValuePtr b(new LongValue(2));
    for (auto _ : state) benchmark::DoNotOptimize(*a < *b);
}
BENCHMARK(BM_LongLessThanLong);

void BM_StringConcatString(benchmark::State& state) {
    ValuePtr a(new StringValue(ValString("Hello, ")));
    ValuePtr b(new StringValue(ValString("world")));
    for (auto _ : state) {
        ValuePtr text = ValueConcat(*a, *b);
        benchmark::DoNotOptimize(text.get());
    }
}
BENCHMARK(BM_StringConcatString);

void BM_StringLessThanString(benchmark::State& state) {
    ValuePtr a(new StringValue(ValString("apple")));
    ValuePtr b(new StringValue(ValString("apricot")));
    for (auto _ : state) benchmark::DoNotOptimize(*a < *b);
}
BENCHMARK(BM_StringLessThanString);

// The allocation alone, for a Long value's size: the allocator values use
// against the general heap.
void BM_AllocValueAllocator(benchmark::State& state) {
    for (auto _ : state) {
        void* p = Value::operator new(sizeof(LongValue));
        benchmark::DoNotOptimize(p);
        Value::operator delete(p, sizeof(LongValue));
    }
}
BENCHMARK(BM_AllocValueAllocator);

void BM_AllocGeneralHeap(benchmark::State& state) {
    for (auto _ : state) {
        void* p = ::operator new(sizeof(LongValue));
        benchmark::DoNotOptimize(p);
        ::operator delete(p, sizeof(LongValue));
    }
}
BENCHMARK(BM_AllocGeneralHeap);

}  // namespace

BENCHMARK_MAIN();
