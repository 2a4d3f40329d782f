#include "store/persist/objstore.h"

#include <string>

#include "platform/com/classreg.h"
#include "platform/storage/oclstorage.h"
#include "platform/util/dynlib.h"
#include "store/errors/storeexc.h"

// The storage's destructor is bound weakly: the compound-file layer may be
// linked in after this file, and no storage can exist without it.
__asm__(".weak _ZN2tq10OCLStorageD1Ev");

namespace tq {

ObjectStore::ObjectStore(OCLStorage* storage) : storage_(storage) {}

ObjectStore::~ObjectStore() = default;

bool ObjectStore::isDirtyHook(unsigned char) { return false; }
void ObjectStore::writeHook(unsigned char) {}
void ObjectStore::deleteHook(unsigned char) {}

void ObjectStore::PublishObjectDLL(const char* library) {
    DynamicLibrary::Handle handle = DynamicLibrary::Open(library);
    if (!handle) ThrowSystemError(DynamicLibrary::LastError(), nullptr);
    void* proc = DynamicLibrary::Symbol(handle, "POD_Populate");
    if (!proc) {
        const std::string error = DynamicLibrary::LastError();
        DynamicLibrary::Close(handle);
        ThrowSystemError(error, nullptr);
    }
    // Classes registered by the routine are recorded as this library's.
    ClassRegistry::PublishingScope scope(DynamicLibrary::PathOf(handle));
    reinterpret_cast<void (*)()>(proc)();
}

}  // namespace tq
