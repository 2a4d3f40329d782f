// The object model's hot paths:
//  - adding a data field to a prototype with 100,000 clones (one pass over
//    the clones' data, no search per clone);
//  - finding a field by name through a signature chain of depth 1 and 5,
//    and reading a data field of an object by name (eval plus the value's
//    read), with the heap allocations each makes per operation;
//  - a field list taking n fields of distinct names, as when a signature of
//    n fields is read from a file (each is checked against those before it).
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "bench/support/alloccount.h"
#include "store/field.h"
#include "store/model/fldval.h"
#include "store/model/interobj.h"
#include "store/model/intfld.h"
#include "store/persist/idstr.h"
#include "store/persist/objstore.h"

namespace {

using namespace tq;

void Start() {
    static const bool started = [] {
        IdString::Initialize();
        ObjectStore::OpenModule(DETACHED_MODULE);
        return true;
    }();
    (void)started;
}

void AddFieldToManyClones(benchmark::State& state) {
    Start();
    const int clones = static_cast<int>(state.range(0));
    InterObjRep* proto = InterObjRep::NewNamed("Many", nullptr, DETACHED_MODULE, IOT_ORDINARY);
    proto->addField(InterDataField::make("Base", IDT_LONG, 1));
    std::vector<InterObj> held;
    held.reserve(static_cast<size_t>(clones));
    for (int i = 0; i < clones; ++i) held.emplace_back(InterObjRep::NewCopy(*proto, DETACHED_MODULE, IOT_ORDINARY));
    for (auto _ : state) {
        proto->addField(InterDataField::make("Extra", IDT_LONG, 1));
        state.PauseTiming();
        proto->removeField("Extra");
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * (clones + 1));
    held.clear();
    proto->Destroy();
    InterObjRep::DeleteObjects();
}
BENCHMARK(AddFieldToManyClones)->Arg(100000)->Unit(benchmark::kMillisecond);

// An object whose signature chain is `depth` signatures long, each with
// eight fields; the field looked up lies in the root signature, so the
// look-up walks the whole chain.
struct Chain {
    explicit Chain(int depth) {
        Start();
        static int serial = 0;
        const std::string prefix = "Chain" + std::to_string(++serial) + "x";
        InterObjRep* o = InterObjRep::NewNamed((prefix + "0").c_str(), nullptr, DETACHED_MODULE, IOT_ORDINARY);
        roots.push_back(o);
        for (int level = 0; level < depth; ++level) {
            if (level > 0) {
                o = InterObjRep::NewNamed((prefix + std::to_string(level)).c_str(), o, DETACHED_MODULE,
                                          IOT_ORDINARY);
            }
            for (int f = 0; f < 8; ++f)
                o->addField(InterDataField::make(("F" + std::to_string(level) + "_" + std::to_string(f)).c_str(),
                                                 IDT_LONG, 1));
        }
        leaf = o;
    }
    ~Chain() {
        roots.front()->Destroy();
        InterObjRep::DeleteObjects();
    }
    std::vector<InterObjRep*> roots;
    InterObjRep* leaf = nullptr;
};

void FindFieldThroughChain(benchmark::State& state) {
    Chain chain(static_cast<int>(state.range(0)));
    SignatureRep* s = chain.leaf->signature();
    SignatureRep* owner = nullptr;
    const uint64_t before = bench::Allocations();
    for (auto _ : state) benchmark::DoNotOptimize(s->findField("F0_3", owner, 0));
    state.counters["allocs/op"] =
        benchmark::Counter(static_cast<double>(bench::Allocations() - before), benchmark::Counter::kAvgIterations);
}
BENCHMARK(FindFieldThroughChain)->Arg(1)->Arg(5);

void ReadFieldByName(benchmark::State& state) {
    Chain chain(static_cast<int>(state.range(0)));
    InterObj keep(chain.leaf);
    const uint64_t before = bench::Allocations();
    for (auto _ : state) {
        ValuePtr v = chain.leaf->eval("F0_3");
        benchmark::DoNotOptimize(v->as<int32_t>());
    }
    state.counters["allocs/op"] =
        benchmark::Counter(static_cast<double>(bench::Allocations() - before), benchmark::Counter::kAvgIterations);
}
BENCHMARK(ReadFieldByName)->Arg(1)->Arg(5);

void FillFieldList(benchmark::State& state) {
    Start();
    const int n = static_cast<int>(state.range(0));
    std::vector<FieldPtr> fields;
    for (int i = 0; i < n; ++i)
        fields.emplace_back(InterDataField::make(("Field" + std::to_string(i)).c_str(), IDT_LONG, 1));
    for (auto _ : state) {
        FieldPtrList list;
        for (const FieldPtr& f : fields) list.append(f.get());
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(FillFieldList)->Arg(1000)->Arg(20000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
