// Loading large text modules and finding what to run: time that must grow
// with the module's size, not with its square. Each case compiles and loads
// a generated module, lists its static objects in dependency order (what
// `tessaro run` searches for Main, and what saving a text module writes
// in), and unloads it:
//
//   BM_Objects/N     N objects, every second one a clone of the one before
//   BM_EnumEntries/N one enumeration of N entries
//   BM_Fields/N      one object of N Long fields
//   BM_Locals/N      one procedure of N Long locals
//
// Each runs at two sizes four times apart: linear growth shows as a time
// four times the smaller one's, the baseline of the same run.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <tqcompile/tqcompile.h>
#include <tqstore/tqstore.h>

namespace {

using namespace tq;

enum Kind { kObjects, kEnumEntries, kFields, kLocals };

std::string ModuleText(Kind kind, int n) {
    std::string out;
    const std::string main = "  Sub Main()\n    Print \"ok\"\n  End Sub\n";
    switch (kind) {
        case kObjects:
            for (int i = 0; i < n; ++i) {
                out += "Begin Object O" + std::to_string(i);
                if (i % 2) out += " From O" + std::to_string(i - 1);
                out += "\n  Dim X" + std::to_string(i) + " As Long\nEnd Object\n";
            }
            out += "Begin Object Program\n" + main + "End Object\n";
            break;
        case kEnumEntries:
            out += "Enum Big\n";
            for (int i = 0; i < n; ++i) out += "  E" + std::to_string(i) + " = " + std::to_string(i) + "\n";
            out += "End Enum\nBegin Object Program\n  Dim C As Big\n" + main + "End Object\n";
            break;
        case kFields:
            out += "Begin Object Program\n";
            for (int i = 0; i < n; ++i) out += "  Dim F" + std::to_string(i) + " As Long\n";
            out += main + "End Object\n";
            break;
        case kLocals:
            out += "Begin Object Program\n  Sub Main()\n";
            for (int i = 0; i < n; ++i) out += "    Dim L" + std::to_string(i) + " As Long\n";
            out += "    Print \"ok\"\n  End Sub\nEnd Object\n";
            break;
    }
    return out;
}

std::string ModuleFile(Kind kind, int n) {
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("tq_bench_big_" + std::to_string(kind) + "_" + std::to_string(n) + ".tqs"))
                                 .string();
    std::ofstream(path) << ModuleText(kind, n);
    return path;
}

void LoadAndSort(benchmark::State& state, Kind kind) {
    const int n = static_cast<int>(state.range(0));
    const std::string path = ModuleFile(kind, n);
    compiler::EnableTextModules();
    TessaroInitializer start(0);
    DefaultStoreApplication app;
    for (auto _ : state) {
        const tModuleIndex m = ObjectStore::LoadModule(path.c_str(), 0, 0);
        if (!ObjectStore::ValidIndex(m)) {
            state.SkipWithError("the module did not load");
            break;
        }
        GroupObjectList objects;
        const int32_t count = ObjectStore::GetStaticObjects(m, objects, 1);
        if (count < (kind == kObjects ? n + 1 : 1)) {
            state.SkipWithError("static objects missing");
            break;
        }
        objects.clear();
        ObjectStore::UnloadModule(m);
        InterObjRep::DeleteObjects();
    }
    std::filesystem::remove(path);
    state.SetItemsProcessed(state.iterations() * n);
}

void BM_Objects(benchmark::State& state) { LoadAndSort(state, kObjects); }
void BM_EnumEntries(benchmark::State& state) { LoadAndSort(state, kEnumEntries); }
void BM_Fields(benchmark::State& state) { LoadAndSort(state, kFields); }
void BM_Locals(benchmark::State& state) { LoadAndSort(state, kLocals); }

BENCHMARK(BM_Objects)->Arg(5000)->Arg(20000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EnumEntries)->Arg(17500)->Arg(70000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Fields)->Arg(5000)->Arg(20000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Locals)->Arg(10000)->Arg(40000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
