// Calls of C functions declared in the language: a loop that calls libc's
// abs 1,000,000 times through a Declare, against the same loop with the
// language's own Abs and with an interpreted Function, all in one module
// loaded once through the compiler and run in register form.
//
//   BM_DeclaredAbs      s = s + CAbs(-i), CAbs declared from libc.so.6;
//                       counters ns/call and allocs/call
//   BM_IntrinsicAbs     s = s + Abs(-i): the loop and the addition without
//                       a call, what the declared call adds is the
//                       difference
//   BM_InterpretedAbs   s = s + MyAbs(-i), a Function of the language
//
// Each loop's sum is checked (500000500000 as a Double).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include <unistd.h>

#include <tqcompile/tqcompile.h>
#include <tqstore/tqstore.h>

#include "bench/support/alloccount.h"

namespace {

using namespace tq;

constexpr int32_t kCalls = 1000000;

const char* const kModule = R"(Begin Object Native
  Declare Function CAbs Lib "libc.so.6" Alias "abs" (ByVal n As Long) As Long
  Dim Sum As Double

  Function MyAbs(ByVal n As Long) As Long
    If n < 0 Then MyAbs = -n Else MyAbs = n
  End Function

  Sub Declared()
    Dim i As Long
    Dim s As Double
    For i = 1 To 1000000
      s = s + CAbs(-i)
    Next i
    Sum = s
  End Sub

  Sub Intrinsic()
    Dim i As Long
    Dim s As Double
    For i = 1 To 1000000
      s = s + Abs(-i)
    Next i
    Sum = s
  End Sub

  Sub Interpreted()
    Dim i As Long
    Dim s As Double
    For i = 1 To 1000000
      s = s + MyAbs(-i)
    Next i
    Sum = s
  End Sub
End Object
)";

struct Library {
    Library() : start(0) {
        compiler::EnableTextModules();
        const std::string path = "/tmp/tq-ffi-bench-" + std::to_string(::getpid()) + ".tqs";
        std::ofstream(path) << kModule;
        module = ObjectStore::LoadModule(path.c_str(), 0, 0);
        std::remove(path.c_str());
        if (!ObjectStore::ValidIndex(module)) std::abort();
        if (!ObjectStore::find("Native", native)) std::abort();
    }
    TessaroInitializer start;
    DefaultStoreApplication app;
    tModuleIndex module = 0;
    InterObj native;
};

Library& TheLibrary() {
    static Library* library = new Library;
    return *library;
}

void RunLoop(benchmark::State& state, const char* method) {
    Library& lib = TheLibrary();
    uint64_t allocations = 0;
    for (auto _ : state) {
        const uint64_t before = bench::Allocations();
        int handled = 0;
        lib.native->evalIMember(method, nullptr, &handled);
        allocations += bench::Allocations() - before;
    }
    if (lib.native->eval("Sum")->as<double>() != 500000500000.0) state.SkipWithError("the sum is wrong");
    const double calls = double(kCalls) * double(state.iterations());
    state.counters["ns/call"] = benchmark::Counter(calls, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["allocs/call"] = double(allocations) / calls;
}

void BM_DeclaredAbs(benchmark::State& state) { RunLoop(state, "Declared"); }
BENCHMARK(BM_DeclaredAbs)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_IntrinsicAbs(benchmark::State& state) { RunLoop(state, "Intrinsic"); }
BENCHMARK(BM_IntrinsicAbs)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_InterpretedAbs(benchmark::State& state) { RunLoop(state, "Interpreted"); }
BENCHMARK(BM_InterpretedAbs)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
