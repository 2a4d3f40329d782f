// What a recursion that fails and catches at every level costs a host that
// records the call chain of every failure (tessaro's ChainRecorder), by
// depth. Each level throws, its Catch takes the failure and goes one level
// deeper, so a run of depth d offers d failures with 1..d calls beneath.
//
//   BM_CatchingRecursion/chain/D      the chain as the store gives it
//                                     (ExecutionStack::callChain): the
//                                     calls of a recursion stepped over
//   BM_CatchingRecursion/everyframe/D the same chain made by a walk over
//                                     every frame (the recorder's former
//                                     walk): the baseline
//   BM_CatchingRecursion/none/D       no hook: the cost of the failures
//                                     themselves
//   BM_RegisterCallers/D              Fail (register form) fails beneath
//                                     Guarded (a Try) and Deeper (register
//                                     form, calling Guarded): the callers a
//                                     failure brings up to date, with a
//                                     hook that records nothing
//
// Time per run and, as counters, frames looked at and activations shown
// per failure: linear growth of the time (constant counters) is the point.
#include <benchmark/benchmark.h>

#include <pthread.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include <tqcompile/tqcompile.h>
#include <tqstore/tqstore.h>

#include "bench/benchstore.h"

namespace {

using namespace tq;

const char* const kProgram = R"(Begin Object Catching
  Dim Limit As Long
  Sub SetLimit(ByVal d As Long)
    Limit = d
  End Sub
  Sub Down(ByVal n As Long)
    Try
      Throw Oops(n)
    Catch Oops
      If n < Limit Then Down n + 1
    End Try
  End Sub
  Sub Guarded(ByVal n As Long)
    Try
      Fail n
    Catch
      If n < Limit Then Deeper n + 1
    End Try
  End Sub
  Sub Fail(ByVal n As Long)
    Dim zero As Long
    Limit = Limit + n \ zero
  End Sub
  Sub Deeper(ByVal n As Long)
    Guarded n
  End Sub
End Object
)";

InterObjRep* Catching() {
    static InterObjRep* const obj = [] {
        bench::StartLibrary();
        compiler::EnableTextModules();
        const std::string path = bench::ScratchFolder() + "/catching.tqs";
        std::ofstream(path) << kProgram;
        ObjectStore::LoadModule(path.c_str(), 0, 0);
        InterObj o;
        ObjectStore::find("Catching", o);
        return o.get();
    }();
    return obj;
}

enum class Walk { kNone, kChain, kEveryFrame };

// The hook a host installs: it records the chain of each failure and lets
// it go on.
class Recorder final : public DebugHook {
public:
    explicit Recorder(Walk walk) : DebugHook(false), walk_(walk) { DebugHook::Install(this); }
    ~Recorder() override { DebugHook::Install(nullptr); }
    void eval(Context&, int32_t) override {}
    void functionCalled() override {}
    void functionReturned() override {}
    int error(Context&, StoreException&) override {
        ++offers;
        if (walk_ == Walk::kChain) {
            entries += ExecutionStack::callChain(3).size();
        } else if (walk_ == Walk::kEveryFrame) {
            // The recorder's former walk: every frame, runs counted as
            // they are passed.
            const InterProcField* lastProc = nullptr;
            const InterObjRep* lastMe = nullptr;
            int32_t ofThisRun = 0;
            for (StackFrame* f = ExecutionStack::top(); f; f = f->below()) {
                ++visited;
                if (f->type() != SubFrame && f->type() != FunctionFrame) continue;
                InterProcField* proc = f->proc();
                if (!proc) continue;
                InterObjRep* me = f->context().me();
                ofThisRun = proc == lastProc && me == lastMe ? ofThisRun + 1 : 1;
                lastProc = proc;
                lastMe = me;
                if (ofThisRun <= 4) ++entries;
            }
        }
        return 0;
    }
    uint64_t offers = 0;
    uint64_t entries = 0;
    uint64_t visited = 0;

private:
    Walk walk_;
};

void Call(InterObjRep* obj, const char* method, int32_t value) {
    ValueList args;
    args.ppush(ValuePtr(new LongValue(value)));
    int handled = 0;
    obj->evalIMember(method, &args, &handled);
}

// A level with a Try takes more native stack than the average call is
// allowed, so the deepest runs go on a thread with a stack of 64 MB (the
// depth limit grows with it). The store is used by one thread at a time:
// this one waits.
void RunTo(InterObjRep* obj, const char* method, int32_t depth) {
    struct Job {
        InterObjRep* obj;
        const char* method;
        int32_t depth;
        bool failed = false;
    } job{obj, method, depth};
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, std::size_t(64) << 20);
    pthread_t thread;
    const int made = pthread_create(
        &thread, &attr,
        [](void* p) -> void* {
            auto& j = *static_cast<Job*>(p);
            try {
                Call(j.obj, "SetLimit", j.depth);
                Call(j.obj, j.method, 1);
            } catch (const StoreException&) {
                j.failed = true;
            }
            return nullptr;
        },
        &job);
    pthread_attr_destroy(&attr);
    if (made != 0 || pthread_join(thread, nullptr) != 0 || job.failed) std::abort();
}

void BM_CatchingRecursion(benchmark::State& state, Walk walk) {
    InterObjRep* obj = Catching();
    const auto depth = static_cast<int32_t>(state.range(0));
    Recorder recorder(walk);
    const uint64_t visitedBefore = ExecutionStack::chainFramesVisited();
    for (auto _ : state) RunTo(obj, "Down", depth);
    const double offers = static_cast<double>(recorder.offers);
    const double visited =
        static_cast<double>(walk == Walk::kEveryFrame ? recorder.visited
                                                      : ExecutionStack::chainFramesVisited() - visitedBefore);
    state.counters["frames_per_failure"] = offers ? visited / offers : 0;
}
BENCHMARK_CAPTURE(BM_CatchingRecursion, chain, Walk::kChain)
    ->Name("BM_CatchingRecursion/chain")->Arg(500)->Arg(1000)->Arg(2000)->Arg(4000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_CatchingRecursion, everyframe, Walk::kEveryFrame)
    ->Name("BM_CatchingRecursion/everyframe")->Arg(500)->Arg(1000)->Arg(2000)->Arg(4000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_CatchingRecursion, none, Walk::kNone)
    ->Name("BM_CatchingRecursion/none")->Arg(500)->Arg(1000)->Arg(2000)->Arg(4000)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_RegisterCallers(benchmark::State& state) {
    InterObjRep* obj = Catching();
    // Two calls run for every level (Guarded and Deeper).
    const auto depth = static_cast<int32_t>(state.range(0)) / 2;
    // A hook that only counts: the chain of calls alternating between two
    // procedures lists every frame, whatever the walk.
    Recorder recorder(Walk::kNone);
    const uint64_t shownBefore = RegShownFrames::ActivationsShown();
    for (auto _ : state) RunTo(obj, "Guarded", depth);
    const double offers = static_cast<double>(recorder.offers);
    state.counters["shown_per_failure"] =
        offers ? static_cast<double>(RegShownFrames::ActivationsShown() - shownBefore) / offers : 0;
}
BENCHMARK(BM_RegisterCallers)->Arg(500)->Arg(1000)->Arg(2000)->Arg(4000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
