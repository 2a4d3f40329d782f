// Load-and-run time of a small text module (a Main that prints "hello"),
// the start of every script: the library started, the module compiled from
// its file and loaded, Main run, everything unloaded and stopped. Baseline
// in the same run: the library started and stopped with nothing loaded,
// and an empty module made and unloaded. The whole process's time adds the
// program's own start (exec, dynamic loading) to BM_StartLoadRunHello.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include <tqcompile/tqcompile.h>
#include <tqstore/tqstore.h>

namespace {

using namespace tq;

// Print goes nowhere: the terminal's speed is not the library's.
class NullPrintable final : public TextPrintable {
protected:
    void write(const char*, size_t) override {}
};

// Unloads every loaded module, the last loaded first, so that a module is
// gone before the modules it builds on. (UnloadAllModules is for the
// library's end: it leaves the store locked, and a locked store raises no
// events.)
void UnloadEveryModule() {
    for (int m = MAX_MODULES - 1; m >= 0; --m)
        if (ObjectStore::ValidIndex(static_cast<tModuleIndex>(m))) ObjectStore::UnloadModule(static_cast<tModuleIndex>(m));
}

const std::string& HelloFile() {
    static const std::string path = [] {
        const std::string p = (std::filesystem::temp_directory_path() / "tq_bench_hello.tqs").string();
        std::ofstream(p) << "Begin Object Program\n  Sub Main()\n    Print \"hello\"\n  End Sub\nEnd Object\n";
        return p;
    }();
    return path;
}

void BM_StartStop(benchmark::State& state) {
    for (auto _ : state) {
        TessaroInitializer start(0);
        DefaultStoreApplication app;
        benchmark::DoNotOptimize(&app);
    }
}
BENCHMARK(BM_StartStop)->Unit(benchmark::kMillisecond);

void BM_StartEmptyModuleStop(benchmark::State& state) {
    for (auto _ : state) {
        TessaroInitializer start(0);
        DefaultStoreApplication app;
        const tModuleIndex m = ObjectStore::LoadModule(nullptr, 1, 0);
        ObjectStore::UnloadModule(m);
    }
}
BENCHMARK(BM_StartEmptyModuleStop)->Unit(benchmark::kMillisecond);

void BM_StartLoadRunHello(benchmark::State& state) {
    const std::string& path = HelloFile();
    compiler::EnableTextModules();
    for (auto _ : state) {
        TessaroInitializer start(0);
        DefaultStoreApplication app;
        NullPrintable out;
        app.setCurrentPrintable(&out);
        const tModuleIndex m = ObjectStore::LoadModule(path.c_str(), 0, 0);
        InterObj program;
        if (!ObjectStore::ValidIndex(m) || !ObjectStore::find("Program", program)) {
            state.SkipWithError("the module did not load");
            break;
        }
        int handled = 0;
        program->evalIMember("Main", nullptr, &handled);
        program = nullptr;
        UnloadEveryModule();
        InterObjRep::DeleteObjects();
    }
}
BENCHMARK(BM_StartLoadRunHello)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
