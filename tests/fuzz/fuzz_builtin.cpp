// What built-in classes read from outside: member declarations (lines an
// extension library hands the parser) and the compiled part of a Group's
// record in a module file. A declaration either declares its member or
// raises the parser's StoreException; a record either loads a sound group
// or raises ObjectLoadFailed. Nothing crashes, loops or reads out of
// bounds.
//
// Input: the first byte chooses: even, the rest is one declaration line
// (method or event by the second byte); odd, the rest is a Group's
// compiled part (revision byte first) read into a group of a module.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/storage/oclstorage.h"
#include "platform/storage/oclstream.h"
#include "store/builtin/igroup.h"
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

void GroupRecord(const uint8_t* data, size_t size) {
    ObjectStore store(new OCLStorage());
    const tModuleIndex m = store.moduleIndex();
    InterObjRep* group = InterObjRep::NewCopy(*iGroup::PO_GetObject(), m, IOT_DYNAMIC);
    {
        OCLStream s(store.storage(), "Group", 1, STGM_READWRITE | STGM_SHARE_EXCLUSIVE);
        if (size) s.write(data, size);
        s.seek(0);
        try {
            iGroup::Of(group)->Load(s);
            iGroup::Of(group)->pdGetCount();
        } catch (const ObjectLoadFailed&) {
        } catch (const StorageError&) {
            std::fprintf(stderr, "a short record passed as a storage error\n");
            std::abort();
        }
    }
    group->Destroy();
    InterObjRep::DeleteObjects();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static TessaroInitializer* start = new TessaroInitializer(1);
    (void)start;
    if (size == 0) return 0;
    ObjectStore::OpenModule(DETACHED_MODULE);
    if (data[0] & 1)
        GroupRecord(data + 1, size - 1);
    else
        Declaration(data + 1, size - 1);
    InterObjRep::DeleteObjects();
    return 0;
}
