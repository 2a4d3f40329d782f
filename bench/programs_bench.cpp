// The six programs the runtime is compared by against other interpreters
// (programs/*.tqs, the same text the peers' versions mirror), each loaded as
// a text module through the compiler and its Program.Main run with Print
// going to a sink that keeps only the last line, which is checked against
// the value every version prints. Loading happens once, outside the timed
// loop, except for startup, whose whole point is load, run and unload.
//
// The *_renamed programs are the loop and objects programs with other
// names, bounds and statement order: their time per operation must match
// the originals', or the speed came from something other than the general
// paths.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include <tqcompile/tqcompile.h>
#include <tqstore/tqstore.h>

#include "bench/support/alloccount.h"

namespace {

using namespace tq;

// Keeps the text of the last line finished.
class LastLine final : public TextPrintable {
public:
    const std::string& last() const { return last_; }

protected:
    void write(const char* text, size_t length) override {
        for (size_t i = 0; i < length; ++i) {
            if (text[i] == '\n') {
                last_ = current_;
                current_.clear();
            } else {
                current_ += text[i];
            }
        }
    }

private:
    std::string current_, last_;
};

std::string ProgramPath(const char* name) { return std::string(TQ_BENCH_PROGRAM_DIR) + "/" + name + ".tqs"; }

// Unloads every loaded module, the last loaded first.
void UnloadEveryModule() {
    for (int m = MAX_MODULES - 1; m >= 0; --m)
        if (ObjectStore::ValidIndex(static_cast<tModuleIndex>(m))) ObjectStore::UnloadModule(static_cast<tModuleIndex>(m));
}

// Leading and trailing blanks are the print zones', not the value's.
std::string Trimmed(const std::string& s) {
    const size_t b = s.find_first_not_of(' ');
    if (b == std::string::npos) return "";
    return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

struct Library {
    Library() : start(0) {
        compiler::EnableTextModules();
        app.setCurrentPrintable(&out);
    }
    TessaroInitializer start;
    DefaultStoreApplication app;
    LastLine out;
};

Library& TheLibrary() {
    static Library* library = new Library;
    return *library;
}

bool RunMain(benchmark::State& state) {
    InterObj program;
    if (!ObjectStore::find("Program", program)) {
        state.SkipWithError("the module has no Program");
        return false;
    }
    int handled = 0;
    program->evalIMember("Main", nullptr, &handled);
    return true;
}

// Each run starts from the module as loaded, untimed: a program that keeps
// its result in a static object (objects adds to Counter's Total) would
// otherwise print the sum of every run.
void RunProgram(benchmark::State& state, const char* name, const char* prints) {
    Library& lib = TheLibrary();
    const std::string path = ProgramPath(name);
    uint64_t allocations = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const tModuleIndex m = ObjectStore::LoadModule(path.c_str(), 0, 0);
        if (!ObjectStore::ValidIndex(m)) {
            state.SkipWithError("the module did not load");
            break;
        }
        state.ResumeTiming();
        const uint64_t before = bench::Allocations();
        const bool ran = RunMain(state);
        allocations += bench::Allocations() - before;
        state.PauseTiming();
        const bool printed = ran && Trimmed(lib.out.last()) == prints;
        if (ran && !printed) state.SkipWithError(("printed " + lib.out.last() + ", not " + prints).c_str());
        UnloadEveryModule();
        InterObjRep::DeleteObjects();
        state.ResumeTiming();
        if (!printed) break;
    }
    state.counters["allocs/run"] = double(allocations) / double(std::max<int64_t>(1, state.iterations()));
}

void BM_Startup(benchmark::State& state) {
    Library& lib = TheLibrary();
    const std::string path = ProgramPath("startup");
    for (auto _ : state) {
        const tModuleIndex m = ObjectStore::LoadModule(path.c_str(), 0, 0);
        if (!ObjectStore::ValidIndex(m) || !RunMain(state)) break;
        UnloadEveryModule();
        InterObjRep::DeleteObjects();
    }
    if (lib.out.last() != "hello") state.SkipWithError("did not print hello");
}
BENCHMARK(BM_Startup)->Unit(benchmark::kMillisecond);

void BM_Fib(benchmark::State& state) { RunProgram(state, "fib", "196418"); }
BENCHMARK(BM_Fib)->Unit(benchmark::kMillisecond);

void BM_Loop(benchmark::State& state) { RunProgram(state, "loop", "23153139"); }
BENCHMARK(BM_Loop)->Unit(benchmark::kMillisecond);

void BM_LoopRenamed(benchmark::State& state) { RunProgram(state, "loop_renamed", "23157645"); }
BENCHMARK(BM_LoopRenamed)->Unit(benchmark::kMillisecond);

void BM_Strings(benchmark::State& state) { RunProgram(state, "strings", "1088895"); }
BENCHMARK(BM_Strings)->Unit(benchmark::kMillisecond);

void BM_Arrays(benchmark::State& state) { RunProgram(state, "arrays", "1250001250000"); }
BENCHMARK(BM_Arrays)->Unit(benchmark::kMillisecond);

void BM_Objects(benchmark::State& state) { RunProgram(state, "objects", "500000500000"); }
BENCHMARK(BM_Objects)->Unit(benchmark::kMillisecond);

void BM_ObjectsRenamed(benchmark::State& state) { RunProgram(state, "objects_renamed", "500000500000"); }
BENCHMARK(BM_ObjectsRenamed)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
