// Modules from the language, with 20 modules loaded: what a module object
// costs beside the Group property every built-in call is measured by, and
// a program's save of its own module beside the host's save of it.
//
//   BM_GroupCount           c = Items.Count, n times (the baseline); ns per read
//   BM_ModuleContaining     m = MM.ModuleContaining(Me), n times: the list
//                           brought in step with the store, then found;
//                           ns per call
//   BM_ModuleStaticCount    c = mine.StaticCount, n times; ns per read
//   BM_ProgramSave          mine.Save from the program: Save and Commit of
//                           its binary module after one field changed; ms
//   BM_HostSave             the same Save and Commit called by the host
#include <benchmark/benchmark.h>

#include <fstream>
#include <string>

#include <tqcompile/tqcompile.h>
#include <tqstore/tqstore.h>

#include "bench/benchstore.h"

namespace {

using namespace tq;

constexpr int kOtherModules = 20;

const char* const kProgram = R"(Begin Object Holder
  Dim Items As New Group
  Dim MM As New ModuleManager
  Dim Runs As Long

  Sub GroupCount(ByVal n As Long)
    Dim i As Long, c As Long
    For i = 1 To n
      c = Items.Count
    Next
  End Sub

  Sub Containing(ByVal n As Long)
    Dim i As Long, m As Object
    For i = 1 To n
      m = MM.ModuleContaining(Me)
    Next
  End Sub

  Sub StaticCount(ByVal n As Long)
    Dim i As Long, c As Long, mine As Object
    mine = MM.ModuleContaining(Me)
    For i = 1 To n
      c = mine.StaticCount
    Next
  End Sub

  Sub SaveOnce()
    Runs = Runs + 1
    MM.ModuleContaining(Me).Save
  End Sub
End Object
)";

struct Loaded {
    InterObjRep* holder = nullptr;
    tModuleIndex module = NO_MODULE;
};

// The program as a binary module, with kOtherModules small modules beside.
const Loaded& Program() {
    static const Loaded loaded = [] {
        bench::StartLibrary();
        compiler::EnableTextModules();
        const std::string dir = bench::ScratchFolder();
        for (int i = 0; i < kOtherModules; ++i) {
            const std::string text = dir + "/other" + std::to_string(i) + ".tqs";
            std::ofstream(text) << "Begin Object Other" << i << "\n  Dim N As Long\nEnd Object\n";
            ObjectStore::LoadModule(text.c_str(), 0, 0);
        }
        const std::string text = dir + "/modules.tqs";
        std::ofstream(text) << kProgram;
        Loaded l;
        l.module = ObjectStore::LoadModule(text.c_str(), 0, 0);
        ObjectStore::SaveAs(l.module, (dir + "/modules.qbo").c_str(), 0);
        InterObj o;
        ObjectStore::find("Holder", o);
        l.holder = o.get();
        return l;
    }();
    return loaded;
}

void Run(InterObjRep* obj, const char* method, int32_t n) {
    ValueList args;
    if (n) args.append(ValuePtr(new LongValue(n)));
    int handled = 0;
    obj->evalIMember(method, n ? &args : nullptr, &handled);
}

void Calls(benchmark::State& state, const char* method) {
    constexpr int32_t kCalls = 100000;
    InterObjRep* h = Program().holder;
    for (auto _ : state) Run(h, method, kCalls);
    state.counters["ns/call"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * kCalls,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_GroupCount(benchmark::State& state) { Calls(state, "GroupCount"); }
void BM_ModuleContaining(benchmark::State& state) { Calls(state, "Containing"); }
void BM_ModuleStaticCount(benchmark::State& state) { Calls(state, "StaticCount"); }

void BM_ProgramSave(benchmark::State& state) {
    InterObjRep* h = Program().holder;
    for (auto _ : state) Run(h, "SaveOnce", 0);
}

void BM_HostSave(benchmark::State& state) {
    const Loaded& l = Program();
    for (auto _ : state) {
        *l.holder->eval("Runs") = LongValue(static_cast<int32_t>(state.iterations()));
        ObjectStore::Save(l.module);
        ObjectStore::Commit(l.module);
    }
}

BENCHMARK(BM_GroupCount)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ModuleContaining)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ModuleStaticCount)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ProgramSave)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HostSave)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
