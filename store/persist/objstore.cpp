#include "store/persist/objstore.h"

#include <string>

#include "platform/com/classreg.h"
#include "platform/storage/oclstorage.h"
#include "platform/util/dynlib.h"
#include "platform/util/uassert.h"
#include "store/errors/extexcep.h"
#include "store/faultp.h"

namespace tq {

ObjectStore::ObjectStore(OCLStorage* storage) : storage_(storage), index_(NextIndex()) {
    TQ_ASSERT(storage_ != nullptr, "storage");
    module[index_] = this;
}

ObjectStore::~ObjectStore() {
    if (index_ < MAX_MODULES && module[index_] == this) module[index_] = nullptr;
    if (openModuleIndex == index_) openModuleIndex = NextValidIndex(index_);
}

bool ObjectStore::isDirtyHook(tModuleIndex) { return false; }
void ObjectStore::writeHook(tModuleIndex) {}
void ObjectStore::deleteHook(tModuleIndex) {}

int ObjectStore::ModuleCount() {
    int n = 0;
    for (ObjectStore* s : module) n += s != nullptr;
    return n;
}

tModuleIndex ObjectStore::NextValidIndex(tModuleIndex m) {
    const int start = m >= MAX_MODULES ? 0 : m + 1;
    for (int i = start; i < MAX_MODULES; ++i)
        if (module[i]) return static_cast<tModuleIndex>(i);
    return DETACHED_MODULE;
}

tModuleIndex ObjectStore::NextIndex() {
    for (int i = 0; i < MAX_MODULES; ++i)
        if (!module[i]) return static_cast<tModuleIndex>(i);
    throw StoreException("Module limit exceeded.");
}

tModuleIndex ObjectStore::OpenModule() {
    const tModuleIndex i = openModuleIndex;
    TQ_ASSERT(i < MAX_MODULES ? (module[i] != nullptr) : (i == DETACHED_MODULE),
              "i<MAX_MODULES? (module[i]!= NULL) : (i == DETACHED_MODULE)");
    return i;
}

tModuleIndex ObjectStore::OpenModule(tModuleIndex m) {
    if (m != DETACHED_MODULE && !ValidIndex(m))
        throw AccessDenied("ObjectStore::OpenModule", 32717);
    const tModuleIndex previous = openModuleIndex;
    openModuleIndex = m;
    return previous;
}

tModuleIndex ObjectStore::WritingModule() {
    TQ_ASSERT(ValidIndex(writingModuleIndex), "ValidIndex(writingModuleIndex)");
    return writingModuleIndex;
}

bool ObjectStore::DeletingModule(tModuleIndex m) {
    if (m == DETACHED_MODULE) return false;
    TQ_ASSERT(m < MAX_MODULES, "i < MAX_MODULES");
    return dyingModule != nullptr && module[m] == dyingModule;
}

ObjectStore::WritingScope::WritingScope(tModuleIndex m) : previous_(writingModuleIndex) {
    writingModuleIndex = m;
}
ObjectStore::WritingScope::~WritingScope() { writingModuleIndex = previous_; }

ObjectStore::DyingScope::DyingScope(ObjectStore* s) : previous_(dyingModule) { dyingModule = s; }
ObjectStore::DyingScope::~DyingScope() { dyingModule = previous_; }

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

tModuleIndex FaultpWritingModule() { return ObjectStore::WritingModule(); }

void FaultpCorruptReference(const char* what) { throw ObjectLoadFailed(what); }

}  // namespace tq
