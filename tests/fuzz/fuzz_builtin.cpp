// What built-in classes read from outside: member declarations (lines an
// extension library hands the parser) and the compiled part of a Group's,
// a Timer's or an ACL's record in a module file. A declaration either
// declares its member or raises the parser's StoreException; a record
// either loads a sound instance or raises ObjectLoadFailed. Nothing
// crashes, loops or reads out of bounds, and a loaded ACL answers its
// permission tests.
//
// Input: the first byte chooses: even, the rest is one declaration line
// (method or event by the second byte); odd, the second byte chooses the
// class (Group, Timer, ACL by its value modulo 3) and the rest is its
// compiled part (revision byte first), read into an instance of a module.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/storage/oclstorage.h"
#include "platform/storage/oclstream.h"
#include "store/builtin/iacl.h"
#include "store/builtin/igroup.h"
#include "store/builtin/timer.h"
#include "store/errors/extexcep.h"
#include "store/model/interobj.h"
#include "store/persist/objstore.h"
#include "store/tqstore.h"

namespace {

using namespace tq;

void Declaration(const uint8_t* data, size_t size) {
    if (size == 0) return;
    const std::string line(reinterpret_cast<const char*>(data + 1), size - 1);
    Signature sig(NoParentSig, DETACHED_MODULE);
    try {
        if (data[0] & 1)
            ParseCppEvent(line.c_str(), *sig);
        else
            ParseCppField(line.c_str(), *sig, MemberPointer{});
    } catch (const StoreException&) {
    }
}

void Record(const uint8_t* data, size_t size) {
    if (size == 0) return;
    static InterObjRep* (*const prototypes[])() = {&iGroup::PO_GetObject, &iTimer::PO_GetObject,
                                                    &iACL::PO_GetObject};
    InterObjRep* proto = prototypes[data[0] % 3]();
    ++data;
    --size;
    ObjectStore store(new OCLStorage());
    const tModuleIndex m = store.moduleIndex();
    InterObjRep* obj = InterObjRep::NewCopy(*proto, m, IOT_DYNAMIC);
    IInterObj* part = obj->compiledPart();
    auto load = [&](const uint8_t* bytes, size_t n) {
        OCLStream s(store.storage(), "Part", 1, STGM_READWRITE | STGM_SHARE_EXCLUSIVE);
        if (n) s.write(bytes, n);
        s.seek(0);
        try {
            part->Load(s);
        } catch (const ObjectLoadFailed&) {
        } catch (const StorageError&) {
            std::fprintf(stderr, "a short record passed as a storage error\n");
            std::abort();
        }
    };
    load(data, size);
    if (iGroup* g = iGroup::Of(obj)) g->pdGetCount();
    (void)obj->isReadAllowed();
    // Whatever word was read, the copy must be destroyable again.
    if (iACL::Of(obj)) {
        const uint8_t all[] = {1, 0x7E, 0, 0, 0};
        load(all, sizeof all);
    }
    obj->Destroy();
    InterObjRep::DeleteObjects();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static TessaroInitializer* start = new TessaroInitializer(1);
    (void)start;
    if (size == 0) return 0;
    ObjectStore::OpenModule(DETACHED_MODULE);
    if (data[0] & 1)
        Record(data + 1, size - 1);
    else
        Declaration(data + 1, size - 1);
    InterObjRep::DeleteObjects();
    return 0;
}
