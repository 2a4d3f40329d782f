// What a host pays to call into the language: a Function taking two Longs
// and returning their sum, called 1,000,000 times
//
//   BM_EvalFormat      from C++ through TessaroObject::Eval("Add", "ll", ...)
//   BM_CallTyped       from C++ through Call(obj, "Add", i, 1)
//   BM_FromLanguage    from a loop of the language, s = Add(i, 1)
//   BM_LanguageLoop    the same loop computing s = i + 1 itself: what the
//                      loop costs without the call
//   BM_LuaCApi         Lua 5.4's C API: lua_getglobal, two lua_pushinteger,
//                      lua_call, lua_tointeger, lua_pop (when built with
//                      liblua5.4-dev)
//
// Each reports ns/call; compare ratios within one run.
#include <benchmark/benchmark.h>

#include <cstdlib>

#include <tqcompile/tqcompile.h>
#include <tqstore/tqstore.h>

#ifdef TQ_BENCH_LUA
extern "C" {
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
}
#endif

namespace {

using namespace tq;

constexpr int32_t kCalls = 1000000;

const char* const kModule = R"(
Begin Object Calc
  Function Add(a As Long, b As Long) As Long
    Add = a + b
  End Function

  Function CallLoop(n As Long) As Long
    Dim i As Long, s As Long
    For i = 1 To n
      s = Add(i, 1)
    Next i
    CallLoop = s
  End Function

  Function PlainLoop(n As Long) As Long
    Dim i As Long, s As Long
    For i = 1 To n
      s = i + 1
    Next i
    PlainLoop = s
  End Function
End Object
)";

struct Library {
    Library() : start(0) {
        compiler::EnableTextModules();
        const tModuleIndex m = ObjectStore::LoadModule(nullptr, 1, 0);
        compiler::LoadTextModule(kModule, "calc.tqs", m);
        if (!calc.Find("Calc")) std::abort();
    }
    TessaroInitializer start;
    DefaultStoreApplication app;
    TessaroObject calc;
};

TessaroObject& Calc() {
    static Library* library = new Library;
    return library->calc;
}

void PerCall(benchmark::State& state) {
    state.counters["ns/call"] = benchmark::Counter(double(kCalls) * double(state.iterations()),
                                                   benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_EvalFormat(benchmark::State& state) {
    const TessaroObject& calc = Calc();
    for (auto _ : state) {
        int32_t s = 0;
        for (int32_t i = 1; i <= kCalls; ++i) s = calc.Eval("Add", "ll", i, 1);
        if (s != kCalls + 1) std::abort();
    }
    PerCall(state);
}
BENCHMARK(BM_EvalFormat)->Unit(benchmark::kMillisecond);

void BM_CallTyped(benchmark::State& state) {
    const TessaroObject& calc = Calc();
    for (auto _ : state) {
        int32_t s = 0;
        for (int32_t i = 1; i <= kCalls; ++i) s = Call(calc, "Add", i, 1);
        if (s != kCalls + 1) std::abort();
    }
    PerCall(state);
}
BENCHMARK(BM_CallTyped)->Unit(benchmark::kMillisecond);

void RunLoop(benchmark::State& state, const char* loop) {
    const TessaroObject& calc = Calc();
    for (auto _ : state) {
        const int32_t s = calc.Eval(loop, "l", kCalls);
        if (s != kCalls + 1) std::abort();
    }
    PerCall(state);
}

void BM_FromLanguage(benchmark::State& state) { RunLoop(state, "CallLoop"); }
BENCHMARK(BM_FromLanguage)->Unit(benchmark::kMillisecond);

void BM_LanguageLoop(benchmark::State& state) { RunLoop(state, "PlainLoop"); }
BENCHMARK(BM_LanguageLoop)->Unit(benchmark::kMillisecond);

#ifdef TQ_BENCH_LUA
void BM_LuaCApi(benchmark::State& state) {
    lua_State* L = luaL_newstate();
    luaL_openlibs(L);
    if (luaL_dostring(L, "function add(a, b) return a + b end") != LUA_OK) std::abort();
    for (auto _ : state) {
        lua_Integer s = 0;
        for (int32_t i = 1; i <= kCalls; ++i) {
            lua_getglobal(L, "add");
            lua_pushinteger(L, i);
            lua_pushinteger(L, 1);
            lua_call(L, 2, 1);
            s = lua_tointeger(L, -1);
            lua_pop(L, 1);
        }
        if (s != kCalls + 1) std::abort();
    }
    lua_close(L);
    PerCall(state);
}
BENCHMARK(BM_LuaCApi)->Unit(benchmark::kMillisecond);
#endif

}  // namespace

BENCHMARK_MAIN();
