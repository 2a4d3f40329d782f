// Method calls, recursion and loops: the three programs of the shared
// benchmarks (objects, fib, loop), built through the public builders as a
// compiler builds them and run by the interpreter.
//
//   BM_MethodCalls      1,000,000 calls of Counter.Add i, a Sub with one
//                       Long argument that adds it to two fields; counters
//                       ns/call and allocs/call
//   BM_InlineBaseline   the same loop doing the two additions itself, on
//                       the caller's locals: what the calls add is the
//                       difference
//   BM_Fib27            Fib(27) as a recursive Function (196418)
//   BM_NestedLoop       For i = 1 To 3000: For j = 1 To 3000:
//                       sum = sum + (i * j) Mod 7 (23153139)
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "bench/benchstore.h"
#include "bench/support/alloccount.h"
#include "store/block.h"
#include "store/context.h"
#include "store/interp/assign.h"
#include "store/interp/binop.h"
#include "store/interp/fornext.h"
#include "store/interp/funccall.h"
#include "store/interp/ident.h"
#include "store/interp/ifthen.h"
#include "store/methfld.h"
#include "store/model/interobj.h"
#include "store/model/intfld.h"
#include "store/model/objval.h"

namespace {

using namespace tq;

// The names and blocks of one procedure while it is built.
struct Proc {
    IdDynamicVector ids;
    BlockDynamicVector blocks;
    ExprPtr id(const char* name) { return ExprPtr(Sid::make(static_cast<uint16_t>(ids.stringIndex(name))).release()); }
    // name(args...)
    ExprPtr call(const char* name, std::vector<ExprPtr> args) {
        auto c = Cid::make(std::move(args[0]));
        for (size_t i = 1; i < args.size(); ++i) c = Cid::append(std::move(c), std::move(args[i]));
        return ExprNode::convertToComplex(id(name), std::move(c));
    }
    static ExprPtr op(BinOpType t, ExprPtr l, ExprPtr r) { return BinaryOp::make(t, std::move(l), std::move(r)); }
    static ExprPtr num(int32_t v) { return LongConstant::make(v); }
    uint32_t add(BlockBuildRep& b) { return static_cast<uint32_t>(blocks.blockIndex(BlockRep::New(b))); }
};

StmtPtr Assign(int32_t line, ExprPtr target, ExprPtr value) {
    return Assignment::make(line, 0, std::move(target), std::move(value));
}

// Counter: Dim Count As Long, Dim Total As Double,
//   Sub Add(k As Long): Count = Count + 1: Total = Total + k: End Sub
InterObjRep* MakeCounter() {
    InterObjRep* counter = InterObjRep::NewNamed("Counter", nullptr, DETACHED_MODULE, IOT_ORDINARY);
    counter->addField(InterDataField::make("Count", IDT_LONG, 1));
    counter->addField(InterDataField::make("Total", IDT_DOUBLE, 1));
    Proc p;
    BlockBuildRep body;
    body.addExecNode(Assign(2, p.id("Count"), Proc::op(BINOP_ADD, p.id("Count"), Proc::num(1))));
    body.addExecNode(Assign(3, p.id("Total"), Proc::op(BINOP_ADD, p.id("Total"), p.id("k"))));
    body.setEndLine(4);
    p.add(body);
    auto* add = new InterProcField("Add", p.ids, p.blocks);
    add->defineArgument(InterDataField::make("k", IDT_LONG, 0));
    counter->addField(add);
    return counter;
}

// Sub Main: Dim i As Long [, a, b]: For i = 1 To n: <statements>: Next i
std::unique_ptr<InterProcField> LoopMain(int32_t n, bool inlined) {
    Proc p;
    BlockBuildRep loop;
    if (inlined) {
        loop.addExecNode(Assign(4, p.id("a"), Proc::op(BINOP_ADD, p.id("a"), Proc::num(1))));
        loop.addExecNode(Assign(5, p.id("b"), Proc::op(BINOP_ADD, p.id("b"), p.id("i"))));
    } else {
        auto add = Cid::make(p.id("i"));
        ExprPtr call = Mid::make(p.id("Counter"), ExprNode::convertToComplex(p.id("Add"), std::move(add)));
        loop.addExecNode(FunctionCallStmt::make(4, CALL_BARE, std::move(call)));
    }
    loop.setEndLine(6);
    const uint32_t body = p.add(loop);
    BlockBuildRep main;
    main.addLocalVar(InterDataField::make("i", IDT_LONG, 1));
    if (inlined) {
        main.addLocalVar(InterDataField::make("a", IDT_LONG, 1));
        main.addLocalVar(InterDataField::make("b", IDT_DOUBLE, 1));
    }
    main.addExecNode(ForNext::make(3, body, p.id("i"), Proc::num(1), Proc::num(n), nullptr, true));
    main.setEndLine(7);
    p.add(main);
    return std::make_unique<InterProcField>("Main", p.ids, p.blocks);
}

void RunCalls(benchmark::State& state, bool inlined) {
    bench::StartLibrary();
    constexpr int32_t kCalls = 1000000;
    InterObj counter(MakeCounter());
    auto main = LoopMain(kCalls, inlined);
    uint64_t allocations = 0;
    for (auto _ : state) {
        const uint64_t before = bench::Allocations();
        main->eval(*counter, nullptr);
        allocations += bench::Allocations() - before;
    }
    const double calls = double(kCalls) * double(state.iterations());
    state.counters["ns/call"] = benchmark::Counter(calls, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["allocs/call"] = double(allocations) / calls;
    if (!inlined && counter->eval("Count")->as<int32_t>() != kCalls * int32_t(state.iterations())) std::abort();
    counter->Destroy();
}

void BM_MethodCalls(benchmark::State& state) { RunCalls(state, false); }
BENCHMARK(BM_MethodCalls)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_InlineBaseline(benchmark::State& state) { RunCalls(state, true); }
BENCHMARK(BM_InlineBaseline)->Unit(benchmark::kMillisecond)->Iterations(3);

// Function Fib(n As Long) As Long
//   If n < 2 Then Fib = n Else Fib = Fib(n - 1) + Fib(n - 2)
// End Function
void BM_Fib27(benchmark::State& state) {
    bench::StartLibrary();
    InterObj program(InterObjRep::NewNamed("Program", nullptr, DETACHED_MODULE, IOT_ORDINARY));
    Proc p;
    BlockBuildRep small, large;
    small.addExecNode(Assign(3, p.id("Fib"), p.id("n")));
    std::vector<ExprPtr> a, b;
    a.push_back(Proc::op(BINOP_SUB, p.id("n"), Proc::num(1)));
    b.push_back(Proc::op(BINOP_SUB, p.id("n"), Proc::num(2)));
    large.addExecNode(Assign(5, p.id("Fib"), Proc::op(BINOP_ADD, p.call("Fib", std::move(a)), p.call("Fib", std::move(b)))));
    const uint32_t thenBlock = p.add(small), elseBlock = p.add(large);
    BlockBuildRep body;
    std::vector<IfClause> clauses;
    clauses.push_back(IfClause{Proc::op(BINOP_LT, p.id("n"), Proc::num(2)), 2, thenBlock});
    body.addExecNode(ComplexIfThen::make(2, std::move(clauses), elseBlock, 4));
    body.setEndLine(7);
    p.add(body);
    auto* fib = new InterFuncField("Fib", p.ids, p.blocks, InterDataField::make("Fib", IDT_LONG, 1));
    fib->defineArgument(InterDataField::make("n", IDT_LONG, 0));
    program->addField(fib);
    ValueList args{ValuePtr(new LongValue(27))};
    uint64_t allocations = 0;
    for (auto _ : state) {
        const uint64_t before = bench::Allocations();
        ValuePtr r = fib->eval(*program, &args);
        allocations += bench::Allocations() - before;
        if (r->as<int32_t>() != 196418) std::abort();
    }
    // Fib(27) makes 635,621 calls.
    state.counters["ns/call"] =
        benchmark::Counter(635621.0 * double(state.iterations()), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["allocs/call"] = double(allocations) / (635621.0 * double(state.iterations()));
    program->Destroy();
}
BENCHMARK(BM_Fib27)->Unit(benchmark::kMillisecond)->Iterations(5);

// Dim i, j, sum As Long
// For i = 1 To 3000: For j = 1 To 3000: sum = sum + (i * j) Mod 7: Next j: Next i
void BM_NestedLoop(benchmark::State& state) {
    bench::StartLibrary();
    Proc p;
    BlockBuildRep inner, outer, main;
    inner.addExecNode(Assign(
        5, p.id("sum"),
        Proc::op(BINOP_ADD, p.id("sum"), Proc::op(BINOP_MOD, Proc::op(BINOP_MUL, p.id("i"), p.id("j")), Proc::num(7)))));
    inner.setEndLine(6);
    const uint32_t innerBlock = p.add(inner);
    outer.addExecNode(ForNext::make(4, innerBlock, p.id("j"), Proc::num(1), Proc::num(3000), nullptr, true));
    outer.setEndLine(7);
    const uint32_t outerBlock = p.add(outer);
    for (const char* v : {"i", "j", "sum"}) main.addLocalVar(InterDataField::make(v, IDT_LONG, 1));
    main.addExecNode(ForNext::make(3, outerBlock, p.id("i"), Proc::num(1), Proc::num(3000), nullptr, true));
    main.addExecNode(Assign(8, p.id("Result"), p.id("sum")));
    main.setEndLine(9);
    p.add(main);
    InterObj program(InterObjRep::NewNamed("Program", nullptr, DETACHED_MODULE, IOT_ORDINARY));
    program->addField(InterDataField::make("Result", IDT_LONG, 1));
    InterProcField loop("Main", p.ids, p.blocks);
    for (auto _ : state) {
        loop.eval(*program, nullptr);
        if (program->eval("Result")->as<int32_t>() != 23153139) std::abort();
    }
    state.counters["ns/iteration"] =
        benchmark::Counter(9e6 * double(state.iterations()), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    program->Destroy();
}
BENCHMARK(BM_NestedLoop)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
