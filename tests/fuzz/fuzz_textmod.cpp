// Arbitrary bytes loaded as a text module into a new module, the way the
// default application loads one: the load either builds the module or
// throws a CompileError (or another StoreException) with its errors, never
// a crash, a hang or a leak. A module that loads is written as text, and
// that text must load again and write the very same text: the saver's form
// is stable.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include <tqcompile/tqcompile.h>
#include <tqstore/tqstore.h>

namespace {

using namespace tq;
using namespace tq::compiler;

// The module's text, or "" with ok false when it did not load.
std::string LoadAndWrite(std::string_view text, bool& ok) {
    const tModuleIndex m = ObjectStore::LoadModule(nullptr, 1, 0);
    std::string saved;
    ok = false;
    try {
        LoadTextModule(text, "fuzz.tqs", m);
        saved = TextModuleText(m);
        ok = true;
    } catch (const StoreException&) {
    }
    ObjectStore::UnloadModule(m);
    InterObjRep::DeleteObjects();
    return saved;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static TessaroInitializer* start = new TessaroInitializer(1);
    (void)start;
    bool ok = false;
    const std::string first = LoadAndWrite(std::string_view(reinterpret_cast<const char*>(data), size), ok);
    if (!ok) return 0;
    bool again = false;
    const std::string second = LoadAndWrite(first, again);
    if (!again || second != first) {
        std::fprintf(stderr, "the saved text does not read back the same:\n--- first\n%s--- second\n%s",
                     first.c_str(), second.c_str());
        std::abort();
    }
    if (ObjectStore::ModuleCount() != 0) std::abort();
    return 0;
}
