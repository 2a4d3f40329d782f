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
// Static objects (named objects) are reachable by their name from every
// module: each module keeps a dictionary from name to object, and the
// detached module one of its own (detachedGlobals). Names are compared
// exactly; the dictionary order is the order of the names' texts. Each
// module also keeps its dynamic objects (unnamed objects that persist in
// it, in order of registration) and its preload objects (whose "Preload"
// member runs when the module has been loaded); the detached module keeps
// its dynamic objects in detachedDynamics.
//
// openTables opens the module's tables of the kinds the library has
// (objects, signatures, strings, enumerations, identifiers) on its storage; a store whose
// tables are open discards them when it goes, objects first and names last,
// since every other kind refers to names.
//
// This file grows with the object store: the module files themselves
// (loading, saving, the "Static globals" stream) arrive with it.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "store/dscrptr.h"
#include "store/persist/idstr.h"
#include "store/reflist.h"

namespace tq {

class InterObj;
class InterObjRep;
class OCLStorage;

// The static objects of one module: name -> object, ordered by name.
class StaticGlobals {
public:
    struct Entry {
        Entry(IdString n, InterObjRep* o);
        IdString name;
        Faultp<InterObjRep> object;  // the store's own, uncounted reference
    };

    StaticGlobals();
    ~StaticGlobals();
    StaticGlobals(const StaticGlobals&) = delete;
    StaticGlobals& operator=(const StaticGlobals&) = delete;

    // The entry of name; null when there is none. Allocates nothing.
    Entry* find(std::string_view name);
    // False when the name is already there.
    bool add(const IdString& name, InterObjRep* obj);
    bool remove(std::string_view name);
    size_t count() const { return entries_.size(); }
    void clear();

    template <class F>
    void forEach(F&& f) {
        for (auto& [key, entry] : entries_) f(entry);
    }

private:
    std::map<std::string, Entry, std::less<>> entries_;
};

using DynamicObjectList = RefList<InterObjRep, tPrimaryReference>;
using PreloadList = RefList<InterObjRep, tUncountedIndirectReference>;

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

    // Opens the description tables and the identifier table of the module
    // (a stream whose bytes do not make a table raises ModuleOpenFailed),
    // and discards them again.
    void openTables();
    void discardTables();

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

    // Resolves every signature proxy of module m against the modules loaded
    // now; each that fails is shown to the user, and the load goes on.
    static void resolveSigProxies(tModuleIndex m);

    // Loads the object library `library` ("tqstore" is this library itself)
    // and runs its POD_Populate. A library that will not load or has no
    // POD_Populate raises the loader's text as a SystemError StoreException.
    static void PublishObjectDLL(const char* library);

    // ---- static objects ------------------------------------------------------

    // InvalidObjectName 32708 for a name that is no identifier, DuplicateName
    // when module m already has a static object of that name.
    static void ValidateNewStaticGlobal(const char* name, tModuleIndex m);
    // Enters obj under its own name into module m's dictionary;
    // DuplicateName when the name is taken.
    static void addStaticGlobal(InterObjRep& obj, tModuleIndex m);
    // Removes obj's name, except while module m is being discarded.
    static void removeStaticGlobal(InterObjRep& obj, tModuleIndex m);
    // The detached dictionary first, then every module's in index order.
    static bool findStatic(const char* name, InterObj& out);
    // An alias that resolves, or a name in any dictionary.
    static bool contains(const char* name);
    // A static name or an alias, followed by ".embed" steps.
    static bool find(const char* path, InterObj& out);
    static bool findEmbed(InterObjRep* obj, const char* path, InterObj& out);
    static bool lookupEmbed(InterObjRep* obj, std::string_view path, InterObj& out);
    // Renames a static object (NotFound 32740, AccessDenied, InvalidFieldName
    // 32708, DuplicateName).
    static void Rename(const char* oldName, const char* newName);
    // The dictionary of module m, the detached one for DETACHED_MODULE.
    static StaticGlobals& Dictionary(tModuleIndex m);
    // -1 for a slot that is not in use.
    static int32_t StaticCount(tModuleIndex m);

    // ---- dynamic and preload objects ----------------------------------------

    static void addDynamicObject(InterObjRep& obj, tModuleIndex m);
    static void removeDynamicObject(InterObjRep& obj, tModuleIndex m);
    static DynamicObjectList& DynamicsList(tModuleIndex m);
    static int32_t DynamicCount(tModuleIndex m);

    // Preloads are kept for objects of loaded modules only; asking for a
    // detached object does nothing.
    static void RequestPreload(InterObjRep* obj);
    static bool RemovePreload(InterObjRep* obj);
    static bool IsPreload(InterObjRep* obj);
    PreloadList& preloads() { return preloads_; }

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

    static StaticGlobals& detachedGlobals();
    static DynamicObjectList& detachedDynamics();

    std::unique_ptr<OCLStorage> storage_;
    tModuleIndex index_;
    StaticGlobals statics_;
    DynamicObjectList dynamics_;
    PreloadList preloads_;
    bool namesOpen_ = false;
    bool tablesOpen_ = false;
};

}  // namespace tq
