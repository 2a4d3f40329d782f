// What the debugger costs a running program: the loop of interp_bench
// (x = x + 1 on a local Long, 1,000 statements a run, 10,000 runs) with no
// debugger, with a debugger active and nothing set, and with one
// breakpoint set in another procedure (each statement then asks the
// breakpoint table about its own procedure). Counter: ns per statement;
// the three run in one program so that they compare on the same machine
// load.
#include <benchmark/benchmark.h>

#include <memory>
#include <optional>
#include <string>

#include "bench/benchstore.h"
#include "store/block.h"
#include "store/context.h"
#include "store/debug/brkpoint.h"
#include "store/debug/dbgscope.h"
#include "store/debug/debugger.h"
#include "store/interp/assign.h"
#include "store/interp/binop.h"
#include "store/interp/ident.h"
#include "store/methfld.h"
#include "store/model/intfld.h"
#include "store/persist/idstr.h"

namespace {

using namespace tq;

constexpr int kStatementsPerBlock = 1000;
constexpr int kRuns = 10000;

std::unique_ptr<InterProcField> IncrementSub(const char* name) {
    IdDynamicVector ids;
    const uint16_t x = static_cast<uint16_t>(ids.stringIndex("x"));
    BlockBuildRep b;
    b.addLocalVar(InterDataField::make("x", IDT_LONG, 1));
    for (int i = 0; i < kStatementsPerBlock; ++i) {
        b.addExecNode(Assignment::make(i + 1, 0, Sid::make(x),
                                       BinaryOp::make(BINOP_ADD, Sid::make(x), LongConstant::make(1))));
    }
    b.setEndLine(kStatementsPerBlock + 1);
    BlockDynamicVector blocks;
    blocks.blockIndex(BlockRep::New(b));
    return std::make_unique<InterProcField>(name, ids, blocks);
}

// A host that is never asked anything: nothing in these runs stops.
class SilentHost final : public Debugger {
public:
    void suspend(StopPoint*) override {}
    void resume() override {}
    void frameChanged() override {}
};

enum class Setting { NoDebugger, NothingSet, BreakpointElsewhere };

void RunLoop(benchmark::State& state, Setting setting) {
    bench::StartLibrary();
    auto main = IncrementSub("Main");
    auto other = IncrementSub("Other");
    std::optional<SilentHost> host;
    std::optional<DebugEnabler> on;
    if (setting != Setting::NoDebugger) {
        host.emplace();
        on.emplace();
        if (setting == Setting::BreakpointElsewhere) host->addBreakpoint(new SimpleBreakPoint(other.get(), 5));
    }
    BlockRep* body = main->body();
    for (auto _ : state) {
        Context ctx(nullptr, main.get(), Context::kSearchGlobals);
        for (int run = 0; run < kRuns; ++run) body->eval(ctx);
    }
    state.counters["ns/statement"] = benchmark::Counter(
        double(kStatementsPerBlock) * kRuns * static_cast<double>(state.iterations()),
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    on.reset();
    host.reset();
}

void BM_LoopNoDebugger(benchmark::State& state) { RunLoop(state, Setting::NoDebugger); }
void BM_LoopDebuggerNothingSet(benchmark::State& state) { RunLoop(state, Setting::NothingSet); }
void BM_LoopBreakpointElsewhere(benchmark::State& state) { RunLoop(state, Setting::BreakpointElsewhere); }

// Interleaved, and repeated, so that a change of machine load shows as
// spread rather than as a difference between the settings.
BENCHMARK(BM_LoopNoDebugger)->Unit(benchmark::kMillisecond)->Iterations(3)->Repetitions(3);
BENCHMARK(BM_LoopDebuggerNothingSet)->Unit(benchmark::kMillisecond)->Iterations(3)->Repetitions(3);
BENCHMARK(BM_LoopBreakpointElsewhere)->Unit(benchmark::kMillisecond)->Iterations(3)->Repetitions(3);

}  // namespace

BENCHMARK_MAIN();
