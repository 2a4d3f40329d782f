// Built-in classes from the language: a compiled member read in a loop
// against an interpreted Function of the same shape, and For Each over a
// Group of 100,000 objects against a counting loop of as many steps.
//
//   BM_BuiltinProperty      c = Items.Count, n times; ns per read
//   BM_BuiltinFunction      c = Items.ObjectIndex(Me), n times (a compiled
//                           Function with one Object argument); ns per call
//   BM_InterpretedFunction  c = Me.Size, n times (Function Size() As Long
//                           returning a field); ns per call
//   BM_InterpretedFunction1 c = Me.Find(Me), the same with one argument
//   BM_ForEachGroup         For Each f In Items: k = k + 1: Next, over
//                           100,000 distinct objects; ns per member
//   BM_ForEachGroupTree     the same walk on the tree walker (the register
//                           form switched off), the baseline
//   BM_CountingLoop         For i = 1 To 100000: k = k + 1: Next; ns per step
#include <benchmark/benchmark.h>

#include <fstream>
#include <string>

#include <tqcompile/tqcompile.h>
#include <tqstore/tqstore.h>

#include "bench/benchstore.h"

namespace {

using namespace tq;

constexpr int32_t kMembers = 100000;

const char* const kProgram = R"(Begin Object Thing
  Dim Serial As Long
End Object

Begin Object Holder
  Dim Items As New Group
  Dim Sum As Long

  Function Size() As Long
    Size = Sum
  End Function

  Function Find(o As Object) As Long
    Find = Sum
  End Function

  Sub ReadCount(ByVal n As Long)
    Dim i As Long, c As Long
    For i = 1 To n
      c = Items.Count
    Next
  End Sub

  Sub CallObjectIndex(ByVal n As Long)
    Dim i As Long, c As Long
    For i = 1 To n
      c = Items.ObjectIndex(Me)
    Next
  End Sub

  Sub CallSize(ByVal n As Long)
    Dim i As Long, c As Long
    For i = 1 To n
      c = Me.Size
    Next
  End Sub

  Sub CallFind(ByVal n As Long)
    Dim i As Long, c As Long
    For i = 1 To n
      c = Me.Find(Me)
    Next
  End Sub

  Sub Walk()
    Dim f As Object, k As Long
    For Each f In Items
      k = k + 1
    Next
    Sum = k
  End Sub

  Sub Count(ByVal n As Long)
    Dim i As Long, k As Long
    For i = 1 To n
      k = k + 1
    Next
    Sum = k
  End Sub
End Object
)";

// The program's Holder, loaded once; its group holds kMembers clones of
// Thing (made once, on first use).
InterObjRep* Holder(bool filled) {
    static InterObjRep* holder = [] {
        bench::StartLibrary();
        compiler::EnableTextModules();
        const std::string path = bench::ScratchFolder() + "/builtin.tqs";
        std::ofstream(path) << kProgram;
        ObjectStore::LoadModule(path.c_str(), 0, 0);
        InterObj o;
        ObjectStore::find("Holder", o);
        return o.get();
    }();
    static bool isFilled = false;
    if (filled && !isFilled) {
        InterObj thing, items;
        ObjectStore::find("Thing", thing);
        ObjectStore::find("Holder.Items", items);
        iGroup* g = iGroup::Of(items.get());
        for (int32_t i = 0; i < kMembers; ++i)
            g->list().append(InterObjRep::NewCopy(*thing.get(), thing->moduleIndex(), IOT_DYNAMIC));
        isFilled = true;
    }
    return holder;
}

void Run(InterObjRep* obj, const char* method, int32_t n) {
    ValueList args;
    if (n) args.append(ValuePtr(new LongValue(n)));
    int handled = 0;
    obj->evalIMember(method, n ? &args : nullptr, &handled);
}

void Calls(benchmark::State& state, const char* method) {
    constexpr int32_t kCalls = 100000;
    InterObjRep* h = Holder(false);
    for (auto _ : state) Run(h, method, kCalls);
    state.counters["ns/call"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * kCalls,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_BuiltinProperty(benchmark::State& state) { Calls(state, "ReadCount"); }
void BM_BuiltinFunction(benchmark::State& state) { Calls(state, "CallObjectIndex"); }
void BM_InterpretedFunction(benchmark::State& state) { Calls(state, "CallSize"); }
void BM_InterpretedFunction1(benchmark::State& state) { Calls(state, "CallFind"); }

void Walk(benchmark::State& state, bool registerForm) {
    InterObjRep* h = Holder(true);
    RegisterForm::SetEnabled(registerForm);
    for (auto _ : state) Run(h, "Walk", 0);
    RegisterForm::SetEnabled(true);
    if (h->eval("Sum")->as<int32_t>() != kMembers) state.SkipWithError("the walk did not reach every member");
    // The measure is of the form it names: Walk must have been translated.
    bool notTaken = false;
    auto* walk = dynamic_cast<InterProcField*>(h->findField("Walk"));
    if (registerForm && (!walk || !walk->registerForm().current(notTaken)))
        state.SkipWithError("Walk did not run in register form");
    state.counters["ns/member"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * kMembers,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_ForEachGroup(benchmark::State& state) { Walk(state, true); }
void BM_ForEachGroupTree(benchmark::State& state) { Walk(state, false); }

void BM_CountingLoop(benchmark::State& state) {
    InterObjRep* h = Holder(false);
    for (auto _ : state) Run(h, "Count", kMembers);
    state.counters["ns/step"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * kMembers,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

BENCHMARK(BM_BuiltinProperty)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BuiltinFunction)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InterpretedFunction)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InterpretedFunction1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ForEachGroup)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ForEachGroupTree)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CountingLoop)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
