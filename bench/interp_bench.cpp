// The interpreter's inner loop: statements of the form x = x + 1 on a local
// Long, built through the public builders and run by BlockRep::eval, and
// the resolution of an identifier with and without the lookup cache.
//
// Each iteration of BM_StatementLoop runs 10,000,000 statements: a block of
// 1,000 such statements run 10,000 times (one frame and one clone of the
// locals per run). Counters: ns per statement and heap allocations (global
// operator new) per statement.
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <string>

#include "bench/benchstore.h"
#include "bench/support/alloccount.h"
#include "store/block.h"
#include "store/context.h"
#include "store/interp/assign.h"
#include "store/interp/binop.h"
#include "store/interp/ident.h"
#include "store/interp/stackfrm.h"
#include "store/methfld.h"
#include "store/model/intfld.h"
#include "store/persist/idstr.h"

namespace {

using namespace tq;

constexpr int kStatementsPerBlock = 1000;
constexpr int kRuns = 10000;

// Sub Main: Dim x As Long, then kStatementsPerBlock times x = x + 1.
// names pads the identifier table to that many names (more than the
// default lookupCacheMax makes the activation run uncached).
std::unique_ptr<InterProcField> IncrementSub(int statements, int names) {
    IdDynamicVector ids;
    const uint16_t x = static_cast<uint16_t>(ids.stringIndex("x"));
    for (int i = 1; i < names; ++i) ids.stringIndex(("pad" + std::to_string(i)).c_str());
    BlockBuildRep b;
    b.addLocalVar(InterDataField::make("x", IDT_LONG, 1));
    for (int i = 0; i < statements; ++i) {
        b.addExecNode(Assignment::make(i + 1, 0, Sid::make(x),
                                       BinaryOp::make(BINOP_ADD, Sid::make(x), LongConstant::make(1))));
    }
    b.setEndLine(statements + 1);
    BlockDynamicVector blocks;
    blocks.blockIndex(BlockRep::New(b));
    return std::make_unique<InterProcField>("Main", ids, blocks);
}

void RunLoop(benchmark::State& state, int names) {
    bench::StartLibrary();
    auto main = IncrementSub(kStatementsPerBlock, names);
    BlockRep* body = main->body();
    const uint64_t statements = uint64_t(kStatementsPerBlock) * kRuns;
    uint64_t allocations = 0;
    for (auto _ : state) {
        Context ctx(nullptr, main.get(), Context::kSearchGlobals);
        const uint64_t before = bench::Allocations();
        for (int run = 0; run < kRuns; ++run) body->eval(ctx);
        allocations += bench::Allocations() - before;
    }
    state.counters["ns/statement"] = benchmark::Counter(
        static_cast<double>(statements) * static_cast<double>(state.iterations()),
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["allocs/statement"] =
        static_cast<double>(allocations) / (static_cast<double>(statements) * static_cast<double>(state.iterations()));
}

void BM_StatementLoop(benchmark::State& state) { RunLoop(state, 1); }
BENCHMARK(BM_StatementLoop)->Unit(benchmark::kMillisecond)->Iterations(3);

// The same loop in an activation without a cache (101 names): every
// reference is a name search through the locals' fields.
void BM_StatementLoopUncached(benchmark::State& state) { RunLoop(state, 101); }
BENCHMARK(BM_StatementLoopUncached)->Unit(benchmark::kMillisecond)->Iterations(3);

// 1,000,000 resolutions of one local: Context::eval by index, which with a
// cache is one array access and without one a search of the scopes.
void Resolve(benchmark::State& state, int names) {
    bench::StartLibrary();
    auto main = IncrementSub(1, names);
    Context ctx(nullptr, main.get(), Context::kSearchGlobals);
    StackFrame frame(ctx, main->body(), SubFrame);
    for (auto _ : state) {
        for (int i = 0; i < 1000000; ++i) {
            int found = 0;
            ValuePtr v = ctx.eval(0u, IDT_UNTYPED, nullptr, EVAL_VALUE_REQUIRED, found);
            benchmark::DoNotOptimize(v.get());
        }
    }
    state.counters["ns/reference"] =
        benchmark::Counter(1e6 * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_MillionReferencesCached(benchmark::State& state) { Resolve(state, 1); }
BENCHMARK(BM_MillionReferencesCached)->Unit(benchmark::kMillisecond);

void BM_MillionReferencesUncached(benchmark::State& state) { Resolve(state, 101); }
BENCHMARK(BM_MillionReferencesUncached)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
