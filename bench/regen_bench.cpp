// Two things a user does without thinking about their cost:
//
//  - building a text a character at a time, For i = 1 To n: s = s & "x":
//    Next, then Len(s). Copied whole at every step this is quadratic; the
//    target is 200,000 appends in under 0.1 s. Baselines in the same run:
//    the loop with a Long increment instead (the loop's own cost), and the
//    prepending form s = "x" & s, which must copy and is quadratic, at a
//    tenth of the length;
//  - printing a procedure back as source text: a 2,000-line procedure with
//    statements of every common kind and comments, target under 10 ms.
//    Baseline: writing a text of the same size to a stream.
//
// Everything is built through the public builders, as a compiler builds it.
#include <benchmark/benchmark.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "bench/benchstore.h"
#include "store/block.h"
#include "store/context.h"
#include "store/deadsrc.h"
#include "store/interp/assign.h"
#include "store/interp/binop.h"
#include "store/interp/doloop.h"
#include "store/interp/fornext.h"
#include "store/interp/ident.h"
#include "store/interp/ifthen.h"
#include "store/interp/strfunc.h"
#include "store/methfld.h"
#include "store/model/intfld.h"
#include "store/persist/idstr.h"

namespace {

using namespace tq;

enum class Body { Append, Prepend, Count };

// Sub Main: Dim s As String, i As Long, n As Long
//   For i = 1 To count : <body> : Next : n = Len(s)
std::unique_ptr<InterProcField> AppendSub(int32_t count, Body form) {
    IdDynamicVector ids;
    const auto s = static_cast<uint16_t>(ids.stringIndex("s"));
    const auto i = static_cast<uint16_t>(ids.stringIndex("i"));
    const auto n = static_cast<uint16_t>(ids.stringIndex("n"));
    BlockBuildRep loop;
    ExprPtr value;
    switch (form) {
        case Body::Append:
            value = BinaryOp::make(BINOP_CONCAT, Sid::make(s), StringConstant::make("x"));
            break;
        case Body::Prepend:
            value = BinaryOp::make(BINOP_CONCAT, StringConstant::make("x"), Sid::make(s));
            break;
        case Body::Count:
            value = BinaryOp::make(BINOP_ADD, Sid::make(n), LongConstant::make(1));
            break;
    }
    loop.addExecNode(Assignment::make(3, 0, Sid::make(form == Body::Count ? n : s), std::move(value)));
    loop.setEndLine(4);
    BlockDynamicVector blocks;
    const auto loopIndex = static_cast<uint32_t>(blocks.blockIndex(BlockRep::New(loop)));
    BlockBuildRep body;
    body.addLocalVar(InterDataField::make("s", IDT_STRING, 1));
    body.addLocalVar(InterDataField::make("i", IDT_LONG, 1));
    body.addLocalVar(InterDataField::make("n", IDT_LONG, 1));
    body.addExecNode(ForNext::make(2, loopIndex, Sid::make(i), LongConstant::make(1), LongConstant::make(count),
                                   nullptr));
    if (form != Body::Count)
        body.addExecNode(Assignment::make(5, 0, Sid::make(n), IntrString::make(STR_LEN, 0, Sid::make(s))));
    body.setEndLine(6);
    blocks.blockIndex(BlockRep::New(body));
    return std::make_unique<InterProcField>("Main", ids, blocks);
}

void RunAppends(benchmark::State& state, Body form) {
    bench::StartLibrary();
    auto main = AppendSub(static_cast<int32_t>(state.range(0)), form);
    for (auto _ : state) {
        InterObj me(InterObjRep::New(DETACHED_MODULE, IOT_ORDINARY));
        main->eval(*me, nullptr);
        me->Destroy();
    }
    state.counters["ns/append"] = benchmark::Counter(
        static_cast<double>(state.range(0)) * static_cast<double>(state.iterations()),
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_SelfAppend(benchmark::State& state) { RunAppends(state, Body::Append); }
BENCHMARK(BM_SelfAppend)->Arg(20000)->Arg(200000)->Unit(benchmark::kMillisecond);

void BM_LoopWithLongIncrement(benchmark::State& state) { RunAppends(state, Body::Count); }
BENCHMARK(BM_LoopWithLongIncrement)->Arg(200000)->Unit(benchmark::kMillisecond);

void BM_PrependCopiesWhole(benchmark::State& state) { RunAppends(state, Body::Prepend); }
BENCHMARK(BM_PrependCopiesWhole)->Arg(20000)->Unit(benchmark::kMillisecond);

// A procedure of `lines` lines: groups of ten lines, each a comment, a
// block If with an assignment and an ElseIf, a Do loop, and statements
// joined on one line.
std::unique_ptr<InterProcField> LongSub(int32_t lines) {
    IdDynamicVector ids;
    const auto a = static_cast<uint16_t>(ids.stringIndex("a"));
    const auto b = static_cast<uint16_t>(ids.stringIndex("b"));
    const auto t = static_cast<uint16_t>(ids.stringIndex("Total"));
    BlockDynamicVector blocks;
    BlockBuildRep body;
    DSObjList dead;
    dead.emplace_back(1, "Sub Report()", DS_TEXT);
    for (int32_t at = 2; at + 10 <= lines; at += 10) {
        dead.emplace_back(at, "the next group", DS_APOSTROPHE);
        BlockBuildRep thenPart;
        thenPart.addExecNode(Assignment::make(at + 2, 0, Sid::make(t),
                                              BinaryOp::make(BINOP_ADD, Sid::make(t), Sid::make(a))));
        thenPart.setEndLine(at + 3);
        BlockBuildRep elsePart;
        elsePart.addExecNode(Assignment::make(at + 4, 0, Sid::make(b), StringConstant::make("none \"yet\"")));
        elsePart.setEndLine(at + 5);
        std::vector<IfClause> clauses;
        clauses.push_back(IfClause{BinaryOp::make(BINOP_GT, Sid::make(a), LongConstant::make(10)), at + 1,
                                   static_cast<uint32_t>(blocks.blockIndex(BlockRep::New(thenPart)))});
        clauses.push_back(IfClause{BinaryOp::make(BINOP_LT, Sid::make(a), DoubleConstant::make(2.5)), at + 3,
                                   static_cast<uint32_t>(blocks.blockIndex(BlockRep::New(elsePart)))});
        body.addExecNode(ComplexIfThen::make(at + 1, std::move(clauses)));
        BlockBuildRep loop;
        loop.addExecNode(Assignment::make(at + 7, 0, Sid::make(a),
                                          BinaryOp::make(BINOP_SUB, Sid::make(a), LongConstant::make(1))));
        loop.setEndLine(at + 8);
        body.addExecNode(DoLoop::make(at + 6, DO_WHILE, static_cast<uint32_t>(blocks.blockIndex(BlockRep::New(loop))),
                                      BinaryOp::make(BINOP_GT, Sid::make(a), LongConstant::make(0))));
        body.addExecNode(Assignment::make(at + 9, 0, Sid::make(a), LongConstant::make(1, 1)));
        body.addExecNode(Assignment::make(at + 9, 0, Sid::make(b), IntrString::make(STR_STR, 1, Sid::make(t))));
    }
    body.setEndLine(lines);
    blocks.blockIndex(BlockRep::New(body));
    return std::make_unique<InterProcField>("Report", ids, blocks, DeadSource(dead));
}

void BM_PrintProcedure(benchmark::State& state) {
    bench::StartLibrary();
    auto proc = LongSub(static_cast<int32_t>(state.range(0)));
    size_t bytes = 0;
    for (auto _ : state) {
        std::string text = proc->getSource();
        bytes = text.size();
        benchmark::DoNotOptimize(text.data());
    }
    state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_PrintProcedure)->Arg(2000)->Unit(benchmark::kMillisecond);

// Writing the same text, line by line, to a stream: what printing costs
// beyond the output itself.
void BM_WriteTextOfTheSameSize(benchmark::State& state) {
    bench::StartLibrary();
    const std::string text = LongSub(static_cast<int32_t>(state.range(0)))->getSource();
    for (auto _ : state) {
        std::ostringstream out;
        size_t at = 0;
        while (at < text.size()) {
            const size_t end = text.find('\n', at);
            out.write(text.data() + at, static_cast<std::streamsize>(end - at + 1));
            at = end + 1;
        }
        benchmark::DoNotOptimize(out.str().data());
    }
}
BENCHMARK(BM_WriteTextOfTheSameSize)->Arg(2000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
