// Making and releasing many objects of one module, as a program does that
// calls New in a loop, for N = 1,000, 10,000 and 100,000:
//  - N dynamic objects (each goes on its module's list of dynamic objects
//    and on its prototype's object list), in a module and destroyed one by
//    one, or detached and released by dropping the last reference (which
//    destroys a detached object);
//  - N ordinary clones of one prototype in a module, destroyed one by one.
// Each is measured for three release orders: the order they were made in,
// the reverse order, and a shuffled order (fixed seed). One iteration makes
// all N and releases all N.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "bench/benchstore.h"
#include "store/model/interobj.h"
#include "store/model/intfld.h"
#include "store/persist/objstore.h"

namespace {

using namespace tq;

enum Order { kMadeOrder = 0, kReverseOrder = 1, kShuffled = 2 };

// A fresh module file in a scratch folder that goes when the program ends.
tModuleIndex ScratchModule() {
    bench::StartLibrary();
    static int serial = 0;
    const std::string path = bench::ScratchFolder() + "/dyn" + std::to_string(++serial) + ".qbo";
    return ObjectStore::LoadModule(path.c_str(), 1, 0);
}

void Arrange(std::vector<InterObj>& objects, int order) {
    if (order == kReverseOrder) std::reverse(objects.begin(), objects.end());
    if (order == kShuffled) std::shuffle(objects.begin(), objects.end(), std::mt19937(12345));
}

const char* OrderName(int order) {
    return order == kMadeOrder ? "made order" : order == kReverseOrder ? "reverse" : "shuffled";
}

// Arguments: N, the release order, and 1 for detached objects.
void MakeAndReleaseDynamics(benchmark::State& state) {
    const bool detached = state.range(2) != 0;
    const tModuleIndex m = detached ? DETACHED_MODULE : ScratchModule();
    const size_t n = static_cast<size_t>(state.range(0));
    const int order = static_cast<int>(state.range(1));
    static int serial = 0;
    const std::string name = "Sprite" + std::to_string(++serial);
    InterObj proto(InterObjRep::NewNamed(name.c_str(), nullptr, m, IOT_ORDINARY));
    proto->addField(InterDataField::make("X", IDT_LONG, 1));
    std::vector<InterObj> held;
    held.reserve(n);
    for (auto _ : state) {
        for (size_t i = 0; i < n; ++i) held.emplace_back(InterObjRep::NewCopy(*proto, m, IOT_DYNAMIC));
        state.PauseTiming();
        Arrange(held, order);
        state.ResumeTiming();
        for (InterObj& o : held) {
            if (!detached) o->Destroy();
            o = nullptr;
        }
        state.PauseTiming();
        if (ObjectStore::DynamicCount(m) != 0) state.SkipWithError("dynamic objects were left listed");
        held.clear();
        InterObjRep::DeleteObjects();
        state.ResumeTiming();
    }
    state.SetLabel(std::string(OrderName(order)) + (detached ? ", detached" : ", in a module"));
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(n));
    proto->Destroy();
    proto = nullptr;
    if (!detached) ObjectStore::UnloadModule(m);
    InterObjRep::DeleteObjects();
}
BENCHMARK(MakeAndReleaseDynamics)
    ->ArgsProduct({{1000, 10000, 100000}, {kMadeOrder, kReverseOrder, kShuffled}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

void MakeAndDestroyClones(benchmark::State& state) {
    const tModuleIndex m = ScratchModule();
    const size_t n = static_cast<size_t>(state.range(0));
    const int order = static_cast<int>(state.range(1));
    InterObj proto(InterObjRep::NewNamed("Tile", nullptr, m, IOT_ORDINARY));
    proto->addField(InterDataField::make("X", IDT_LONG, 1));
    std::vector<InterObj> held;
    held.reserve(n);
    for (auto _ : state) {
        for (size_t i = 0; i < n; ++i) held.emplace_back(InterObjRep::NewCopy(*proto, m, IOT_ORDINARY));
        state.PauseTiming();
        Arrange(held, order);
        state.ResumeTiming();
        for (InterObj& o : held) o->Destroy();
        state.PauseTiming();
        held.clear();
        InterObjRep::DeleteObjects();
        state.ResumeTiming();
    }
    state.SetLabel(OrderName(order));
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(n));
    proto = nullptr;
    ObjectStore::UnloadModule(m);
    InterObjRep::DeleteObjects();
}
BENCHMARK(MakeAndDestroyClones)
    ->ArgsProduct({{1000, 10000, 100000}, {kMadeOrder, kReverseOrder, kShuffled}})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
