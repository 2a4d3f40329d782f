// ObjectStore: one loaded module, and the class-wide module table.
//
// A module is one compound file. Each loaded module has one ObjectStore in
// the module table, at the lowest slot that was free when it was loaded;
// the slot is the module index in every descriptor of the module's things.
// Module index DETACHED_MODULE (254) is the pseudo-module of things that
// belong to no file ("<Intrinsic module>").
//
// Class-wide state (one process, one thread, no locks):
//   module[]            the module table, 254 slots
//   openModuleIndex     the current module, into which new things go
//   writingModuleIndex  the module being saved (DETACHED_MODULE otherwise)
//   dyingModule         the module whose tables are being discarded
//   storeLockState      0 normal, 2 unloading, 3 unloading everything
//
// Object libraries are published here too: PublishObjectDLL loads a library
// and runs its POD_Populate, which registers its classes. A published library
// stays loaded for the life of the process, because the classes it
// registered point into it.
//
// This file grows with the object store: the module files themselves
// (loading, saving, names) arrive with it.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "store/dscrptr.h"

namespace tq {

class OCLStorage;

enum LockStateType : uint8_t {
    LOCK_NORMAL = 0,
    LOCK_UNLOADING = 2,
    LOCK_UNLOADING_ALL = 3,
};

class ObjectStore {
public:
    // Takes the lowest free module slot; throws "Module limit exceeded."
    // when all are used. The store owns the storage.
    explicit ObjectStore(OCLStorage* storage);
    virtual ~ObjectStore();
    ObjectStore(const ObjectStore&) = delete;
    ObjectStore& operator=(const ObjectStore&) = delete;

    // Hooks for a host's subclass that keeps data of its own in the module.
    virtual bool isDirtyHook(tModuleIndex m);
    virtual void writeHook(tModuleIndex m);
    virtual void deleteHook(tModuleIndex m);

    tModuleIndex moduleIndex() const { return index_; }
    OCLStorage& storage() { return *storage_; }

    // The module table.
    static bool ValidIndex(tModuleIndex m) { return m < MAX_MODULES && module[m] != nullptr; }
    static int ModuleCount();
    // The next used slot after m (from the start when m >= 254); 254 if none.
    static tModuleIndex NextValidIndex(tModuleIndex m);
    // The lowest free slot; throws "Module limit exceeded." when none is.
    static tModuleIndex NextIndex();
    static ObjectStore* Module(tModuleIndex m) { return m < MAX_MODULES ? module[m] : nullptr; }

    static tModuleIndex OpenModule();
    // Makes m current and returns the previous current module. An index that
    // is neither a used slot nor DETACHED_MODULE raises AccessDenied.
    static tModuleIndex OpenModule(tModuleIndex m);
    static tModuleIndex WritingModule();
    static bool DeletingModule(tModuleIndex m);

    static LockStateType LockState() { return storeLockState; }
    static void setLockState(LockStateType s) { storeLockState = s; }

    // Loads the object library `library` ("tqstore" is this library itself)
    // and runs its POD_Populate. A library that will not load or has no
    // POD_Populate raises the loader's text as a SystemError StoreException.
    static void PublishObjectDLL(const char* library);

    // Makes m the module being written for the life of the scope.
    class WritingScope {
    public:
        explicit WritingScope(tModuleIndex m);
        ~WritingScope();
        WritingScope(const WritingScope&) = delete;
        WritingScope& operator=(const WritingScope&) = delete;

    private:
        tModuleIndex previous_;
    };

    // Marks this store as the one whose tables are being discarded.
    class DyingScope {
    public:
        explicit DyingScope(ObjectStore* s);
        ~DyingScope();
        DyingScope(const DyingScope&) = delete;
        DyingScope& operator=(const DyingScope&) = delete;

    private:
        ObjectStore* previous_;
    };

private:
    static inline std::array<ObjectStore*, MAX_MODULES> module{};
    static inline tModuleIndex openModuleIndex = DETACHED_MODULE;
    static inline tModuleIndex writingModuleIndex = DETACHED_MODULE;
    static inline ObjectStore* dyingModule = nullptr;
    static inline LockStateType storeLockState = LOCK_NORMAL;

    std::unique_ptr<OCLStorage> storage_;
    tModuleIndex index_;
};

}  // namespace tq
