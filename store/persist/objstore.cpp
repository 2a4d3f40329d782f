#include "store/persist/objstore.h"

#include <string>

#include "platform/com/classreg.h"
#include "platform/storage/oclstorage.h"
#include "platform/util/dynlib.h"
#include "platform/util/uassert.h"
#include "store/errors/extexcep.h"
#include "store/faultp.h"
#include "store/model/enum.h"
#include "store/model/interobj.h"
#include "store/model/sigrep.h"
#include "store/persist/idstr.h"
#include "store/persist/proxy.h"
#include "store/persist/vlstrrep.h"
#include "store/sigproxy.h"

namespace tq {

ObjectStore::ObjectStore(OCLStorage* storage) : storage_(storage), index_(NextIndex()) {
    TQ_ASSERT(storage_ != nullptr, "storage");
    module[index_] = this;
}

ObjectStore::~ObjectStore() {
    if (tablesOpen_) discardTables();
    if (index_ < MAX_MODULES && module[index_] == this) module[index_] = nullptr;
    if (openModuleIndex == index_) openModuleIndex = NextValidIndex(index_);
}

void ObjectStore::openTables() {
    TQ_ASSERT(!tablesOpen_, "!tablesOpen");
    tablesOpen_ = true;
    try {
        DescribedObjectNoDescriptor<InterObjRep>::newModule(index_, *storage_);
        DescribedObjectNoDescriptor<SignatureRep>::newModule(index_, *storage_);
        DescribedObjectNoDescriptor<ValStringRep>::newModule(index_, *storage_);
        DescribedObjectNoDescriptor<EnumRep>::newModule(index_, *storage_);
        DescribedObjectNoDescriptor<InterObjProxy>::newModule(index_, *storage_);
        DescribedObjectNoDescriptor<EnumProxy>::newModule(index_, *storage_);
        DescribedObjectNoDescriptor<SignatureProxy>::newModule(index_, *storage_);
        IdString::newModule(index_, *storage_);
        namesOpen_ = true;
    } catch (...) {
        discardTables();
        throw;
    }
}

// Things refer to names, objects to signatures and strings: the tables go
// objects first and names last. The dictionaries and lists hold names and
// references, so they are emptied before any table goes.
void ObjectStore::discardTables() {
    {
        DyingScope dying(this);
        statics_.clear();
        dynamics_.clear();
        preloads_.clear();
        DescribedObjectNoDescriptor<InterObjRep>::delModule(index_);
        DescribedObjectNoDescriptor<SignatureRep>::delModule(index_);
        DescribedObjectNoDescriptor<ValStringRep>::delModule(index_);
        DescribedObjectNoDescriptor<EnumRep>::delModule(index_);
        DescribedObjectNoDescriptor<InterObjProxy>::delModule(index_);
        DescribedObjectNoDescriptor<EnumProxy>::delModule(index_);
        DescribedObjectNoDescriptor<SignatureProxy>::delModule(index_);
        if (namesOpen_) IdString::delModule(index_);
    }
    namesOpen_ = false;
    tablesOpen_ = false;
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

void ObjectStore::resolveSigProxies(tModuleIndex m) { SignatureProxy::ResolveModule(m); }

tModuleIndex FaultpWritingModule() { return ObjectStore::WritingModule(); }

void FaultpCorruptReference(const char* what) { throw ObjectLoadFailed(what); }

}  // namespace tq
