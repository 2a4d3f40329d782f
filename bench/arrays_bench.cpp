// Indexing an element of a two-dimensional array, Dim A(99, 99) As Long, in
// an object whose signature has a parent (so the array's section starts
// behind the parent's): through the array field itself, and through the
// array's member as the interpreter's lookup cache keeps it. Each
// operation makes the element value and reads it. Counted per operation:
// heap allocations (every operator new of the process) and values made.
// Values come from the store's value allocator, which reuses freed blocks:
// the element value is the one thing an indexing makes.
#include <benchmark/benchmark.h>

#include "bench/support/alloccount.h"
#include "store/arrayfld.h"
#include "store/model/interobj.h"
#include "store/model/tarrfld.h"
#include "store/persist/idstr.h"
#include "store/persist/objstore.h"
#include "store/vals.h"

namespace {

using namespace tq;

struct Grid {
    Grid() {
        static const bool started = [] {
            IdString::Initialize();
            ObjectStore::OpenModule(DETACHED_MODULE);
            return true;
        }();
        (void)started;
        base = InterObjRep::NewNamed("Base", nullptr, DETACHED_MODULE, IOT_ORDINARY);
        base->addField(InterDataField::make("Header", IDT_DOUBLE, 1));
        obj = InterObjRep::NewNamed("Grid", base, DETACHED_MODULE, IOT_ORDINARY);
        InterArrayField* a = InterArrayField::make("A", IDT_LONG, 2);
        a->defineBounds(0, 0, 99);
        a->defineBounds(1, 0, 99);
        obj->addField(a);
        array = static_cast<InterArrayField*>(obj->signature()->findField("A", owner, 0));
        // A(37, 58), pushed as a call pushes it: the last index first.
        indices.ppush(ValuePtr(new LongValue(37)));
        indices.ppush(ValuePtr(new LongValue(58)));
        *array->eval(*obj, *owner, &indices) = LongValue(42);
    }
    ~Grid() {
        indices.clear();
        base->Destroy();
        InterObjRep::DeleteObjects();
    }
    InterObjRep* base = nullptr;
    InterObjRep* obj = nullptr;
    SignatureRep* owner = nullptr;
    InterArrayField* array = nullptr;
    ValueList indices;
};

void Count(benchmark::State& state, uint64_t allocsBefore, size_t valuesBefore) {
    state.counters["heap allocs/op"] = benchmark::Counter(static_cast<double>(bench::Allocations() - allocsBefore),
                                                          benchmark::Counter::kAvgIterations);
    state.counters["values/op"] =
        benchmark::Counter(static_cast<double>(valuesBefore), benchmark::Counter::kAvgIterations);
}

void IndexThroughTheArrayField(benchmark::State& state) {
    Grid grid;
    size_t values = 0;
    const uint64_t before = bench::Allocations();
    for (auto _ : state) {
        const size_t live = Value::LiveCount();
        ValuePtr e = grid.array->eval(*grid.obj, *grid.owner, &grid.indices);
        values += Value::LiveCount() - live;
        benchmark::DoNotOptimize(e->as<int32_t>());
    }
    Count(state, before, values);
}
BENCHMARK(IndexThroughTheArrayField);

void IndexThroughTheCachedMember(benchmark::State& state) {
    Grid grid;
    MemberPtr member = grid.obj->getMember("A");
    size_t values = 0;
    const uint64_t before = bench::Allocations();
    for (auto _ : state) {
        const size_t live = Value::LiveCount();
        ValuePtr e = member->memberEval(IDT_UNTYPED, &grid.indices, 0);
        values += Value::LiveCount() - live;
        benchmark::DoNotOptimize(e->as<int32_t>());
    }
    Count(state, before, values);
}
BENCHMARK(IndexThroughTheCachedMember);

}  // namespace

BENCHMARK_MAIN();
