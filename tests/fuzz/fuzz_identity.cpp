// Names and strings from module files: arbitrary bytes as the "IdStrings"
// and "Strings" streams of a module. Opening the tables, faulting every
// entry, reading a name list and saving again either works, leaving sound
// tables behind, or raises ModuleOpenFailed or ObjectLoadFailed; nothing
// crashes, loops, reads out of bounds or trusts a size from the file. Each
// input is opened twice: with the names read whole, and read on demand,
// where the faults meet entries not yet read and damage that only the whole
// table shows fails interning, not the open.
//
// Input: two 2-byte little-endian lengths a and b, a bytes of "IdStrings",
// b bytes of "Strings", and the rest as a name-list record.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "platform/storage/oclstorage.h"
#include "platform/storage/oclstream.h"
#include "store/errors/extexcep.h"
#include "store/persist/desciter.h"
#include "store/persist/idstr.h"
#include "store/persist/objstore.h"
#include "store/persist/vlstrrep.h"

namespace {

using namespace tq;
using Strings = DescribedObjectNoDescriptor<ValStringRep>;

void Fill(OCLStorage& storage, const char* name, const uint8_t* data, size_t size) {
    OCLStream s(storage, name, 1, STGM_READWRITE | STGM_SHARE_EXCLUSIVE);
    if (size) s.write(data, size);
}

[[noreturn]] void Broken(const std::string& what) {
    std::fprintf(stderr, "unsound tables: %s\n", what.c_str());
    std::abort();
}

void Check(tModuleIndex m) {
    if (std::string fault = IdString::CheckModule(m); !fault.empty()) Broken(fault);
}

void Exercise(ObjectStore& store, bool onDemand) {
    const tModuleIndex m = store.moduleIndex();
    if (!onDemand) Check(m);

    for (uint32_t i = 0; i < IdString::TableCount(m); ++i) {
        try {
            IdStringRep::fault(tDescriptor::Make(m, i));
        } catch (const ObjectLoadFailed&) {
        }
    }
    DescribedObjectIterator<ValStringRep> strings(m);
    for (;;) {
        try {
            if (!strings()) break;
        } catch (const ObjectLoadFailed&) {
        }
    }
    {
        OCLStream s(store.storage(), "Names", 1, STGM_READWRITE | STGM_SHARE_EXCLUSIVE);
        IdStringVector names;
        try {
            names.read(s, m);
            // Look at the names without following them: following would take
            // over counts that the stored table may not hold.
            for (uint32_t i = 0; i < names.count(); ++i) IdStringRep::objectExists(names[i].descriptor());
        } catch (const ModuleOpenFailed&) {
        } catch (const ObjectLoadFailed&) {
        } catch (const StorageError&) {
        }
    }
    {
        std::optional<IdString> added;
        try {
            added.emplace("AddedName", m);
        } catch (const ModuleOpenFailed&) {
            if (!onDemand) throw;
        }
        ValString text("added text");
        text->attach(m);
        ObjectStore::WritingScope writing(m);
        Strings::writeModule(m);
        IdString::writeModule(m);
    }
    try {
        Check(m);
    } catch (const ModuleOpenFailed&) {
        if (!onDemand) throw;
    }
}

void OpenAndExercise(const uint8_t* data, size_t size, bool onDemand) {
    const uint8_t* rest = data + 4;
    size_t left = size - 4;
    const size_t names = std::min(left, size_t(data[0] | (data[1] << 8)));
    const size_t strings = std::min(left - names, size_t(data[2] | (data[3] << 8)));
    auto* storage = new OCLStorage();
    // The module's other streams, empty, so that the store takes the storage
    // for a module.
    for (const char* name : {"Module version", "Static globals", "Objects", "Signatures", "Enumerations",
                             "ObjectProxies", "EnumerationProxies", "SignatureProxies"})
        Fill(*storage, name, nullptr, 0);
    Fill(*storage, "IdStrings", rest, names);
    Fill(*storage, "Strings", rest + names, strings);
    Fill(*storage, "Names", rest + names + strings, left - names - strings);
    // The store owns the storage from here, also when opening fails.
    std::unique_ptr<ObjectStore> store;
    try {
        store = std::make_unique<ObjectStore>(storage);
    } catch (const ModuleOpenFailed&) {
        return;
    }
    Exercise(*store, onDemand);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool started = (IdString::Initialize(), true);
    (void)started;
    if (size < 4) return 0;
    OpenAndExercise(data, size, false);
    IdString::SetTableReading(IdString::TableReading::kOnDemand);
    OpenAndExercise(data, size, true);
    IdString::SetTableReading(IdString::TableReading::kDefault);
    return 0;
}
