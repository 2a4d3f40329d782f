// Arbitrary bytes opened as a module, the way a host opens one: the load
// either succeeds or raises ModuleOpenFailed, ObjectLoadFailed or the
// store's own texts, and leaves no module behind when it fails. A module
// that loads is walked (WalkModule: every record faulted, every value
// read), every static, dynamic and preload object is unloaded as text, the
// static objects are sorted by their dependencies, and the module is saved
// again. Nothing may crash, loop, assert or leak.
//
// Input form: tests/fuzz/modinput.h.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/storage/oclstorage.h"
#include "platform/storage/oclstream.h"
#include "platform/util/fileutil.h"
#include "store/errors/extexcep.h"
#include "store/model/interobj.h"
#include "store/model/modwalk.h"
#include "store/model/objiter.h"
#include "store/persist/idstr.h"
#include "store/persist/objstore.h"
#include "store/storeapp.h"
#include "store/tqstore.h"
#include "tests/fuzz/modinput.h"
#include "tests/fuzz/scratchfile.h"

namespace {

using tq::fuzz::ScratchFile;
using tq::fuzz::WriteRaw;

using namespace tq;

// Every stream of a module is there (empty unless the input gives it), so
// that inputs reach past the check that a file holds a module's streams;
// raw files try that check.
void WriteStreams(const std::string& path, const fuzz::StreamList& streams) {
    OCLStorage storage(path.c_str(), 1, STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_TRANSACTED | STGM_CREATE);
    for (const char* name : fuzz::kModuleStreams) OCLStream(storage, name, 1, STGM_READWRITE | STGM_SHARE_EXCLUSIVE);
    for (const auto& [name, bytes] : streams) {
        OCLStream s(storage, name.c_str(), 1, STGM_READWRITE | STGM_SHARE_EXCLUSIVE);
        s.seek(0);
        s.write(bytes.data(), bytes.size());
        s.setSize(static_cast<uint32_t>(bytes.size()));
    }
    storage.Commit();
}

// Reads everything an object is made of: its signature chain, its fields'
// values, its embedded objects.
void Walk(InterObjRep* o) {
    if (!o || o->isDestroyed()) return;
    try {
        for (SignatureRep* s = o->signature(); s; s = s->parent()) s->protoObject();
        std::string text;
        o->textUnload("", text, 0, 0, nullptr);
        InterObjEmbedIterator embeds(o);
        while (embeds()) embeds.embed();
    } catch (const StoreException&) {
    }
}

void Exercise(tModuleIndex m) {
    // Every record and value, as tqdump judges a file.
    (void)WalkModule(m);
    ObjectStore::StaticObjectsIterator statics(m);
    for (;;) {
        try {
            StaticGlobals::Entry* e = statics();
            if (!e) break;
            Walk(e->object.get());
        } catch (const StoreException&) {
        }
    }
    DynamicObjectList& dynamics = ObjectStore::DynamicsList(m);
    for (size_t i = 0; i < dynamics.length(); ++i) {
        try {
            Walk(dynamics[i].get());
        } catch (const StoreException&) {
        }
    }
    PreloadList& preloads = ObjectStore::Module(m)->preloads();
    for (size_t i = 0; i < preloads.length(); ++i) {
        try {
            Walk(preloads[i].get());
        } catch (const StoreException&) {
        }
    }
    try {
        GroupObjectList sorted;
        ObjectStore::GetStaticObjects(m, sorted, 1);
        GroupObjectList dynamic;
        ObjectStore::GetDynamicObjects(m, dynamic);
    } catch (const StoreException&) {
    }
    try {
        ObjectStore::Save(m);
    } catch (const StoreException&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static TessaroInitializer* start = new TessaroInitializer(1);
    (void)start;
    const std::string& path = ScratchFile();
    if (size > 0 && data[0] == fuzz::kRawFile) {
        WriteRaw(path, data + 1, size - 1);
    } else {
        RemoveFile(path);
        WriteStreams(path, fuzz::DecodeModuleInput(data, size));
    }
    tModuleIndex m = NO_MODULE;
    try {
        m = ObjectStore::LoadModule(path.c_str(), 0, 0);
    } catch (const StoreException&) {
        if (ObjectStore::ModuleCount() != 0 || ObjectStore::LockState() != LOCK_NORMAL) std::abort();
    }
    if (ObjectStore::ValidIndex(m)) {
        Exercise(m);
        ObjectStore::UnloadModule(ObjectStore::Module(m));
    }
    InterObjRep::DeleteObjects();
    return 0;
}
