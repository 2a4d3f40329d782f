// iObjectModule and iModuleManager: the loaded modules as the language sees
// them.
//
// Every loaded module of the store has one ObjectModule object, a detached
// clone of the ObjectModule prototype whose compiled part names the module
// by its index (selector). Its properties and methods forward to the store's
// operations on that index: names, version, flags, its static and dynamic
// objects, saving, compacting and unloading; a member call the module object
// does not define is broadcast to the module's objects as a Group's is.
// ModuleManager is the view of the whole set: the list of module objects,
// which one is current, loading by name or along a path, finding the module
// of an object.
//
// The list (the process's, shared by both classes):
//
//   entry 0     the ObjectModule prototype, which stands for the detached
//               module (selector DETACHED_MODULE), added on first use
//   entry 1..   one object per loaded module, in the order they were made
//   current     the position of the store's current module, -1 before the
//               first use
//
// Invariants:
//  1. After every refresh the list holds exactly one entry per loaded
//     module and the detached entry, and `current` is the position of the
//     store's current module. Modules the host loaded or unloaded behind the
//     language's back are taken in at the next refresh, which runs before
//     anything reads the list.
//  2. A module object names its module by index and by the store's serial:
//     a later module loaded into the same slot is never taken for it. Once
//     its module is gone the selector reads 255, and every forwarding
//     operation answers as the store does for a slot not in use (most raise
//     "Invalid module index.").
//  3. Save commits through ObjectStore::Commit only: a module file is either
//     as it was or wholly the new one, whenever the process dies.
//  4. A module is never unloaded while its code runs or while a running
//     procedure's Me lies in it: the procedure would go on in freed code.
//
// PO_Write layout of both classes: the revision byte alone (iintobj.h).
#pragma once

#include <cstdint>
#include <vector>

#include "store/builtin/publish.h"
#include "store/persist/objstore.h"

namespace tq {

class ValString;

class iObjectModule final : public IInterObj {
public:
    enum : uint8_t {
        kEvalRequiresMask = 0x07,
        kCanUnload = 0x08,
    };
    static constexpr uint32_t kRevision = 1;

    static PublishedClass& Class();
    static InterObjRep* PO_InitObject() { return Class().PO_InitObject(); }
    static InterObjRep* PO_GetObject() { return Class().PO_GetObject(); }

    explicit iObjectModule(DllServer* server);

    // The module part of obj; null when obj is no ObjectModule.
    static iObjectModule* Of(InterObjRep* obj);

    // ---- the list of module objects ------------------------------------------------

    // Brings the list in step with the store (invariant 1).
    static void RefreshList();
    // The refreshed list and the position of the current module.
    static GroupObjectList& List();
    static int16_t CurrentPosition();
    // Makes the entry at position i current, with its module the store's
    // current module; false when i is out of range.
    static bool MakeCurrent(int32_t i);
    // The object of module m in the list; null when there is none.
    static InterObjRep* Find(tModuleIndex m);
    // The same, making the object when a loaded module has none; null for
    // DETACHED_MODULE and for an index that names no loaded module.
    static InterObjRep* FindOrMake(tModuleIndex m);
    // The position of obj in the list, -1 when it is not there.
    static int32_t PositionOf(const InterObjRep* obj);

    // ---- the protocol --------------------------------------------------------------

    void PO_DefineFields(SignatureRep& sig) override;
    uint32_t PO_GetRevisionLevel() const override { return kRevision; }
    void PO_Read(OCLStream&, uint32_t) override {}
    void PO_Write(OCLStream&) override {}
    const char* className() const override { return "ObjectModule"; }
    // m(i): a static object, or a dynamic one past the static ones.
    ValuePtr eval(const ValueList* args, int* handled) override;
    // The broadcast of a member the module object does not define.
    ValuePtr extEval(const char* name, IdType kind, const ValueList* args, int* handled, int32_t flags) override;

    // The module's index: selector, or 255 once the module is gone.
    tModuleIndex selector();
    // Whether the module may be unloaded now, alone or together with the
    // modules of set (its own index among them); with raise, the refusal as
    // ModuleUnloadFailed instead of false.
    bool checkUnload(bool raise, const std::vector<tModuleIndex>* set = nullptr);
    // Unloads the modules of the module objects together, and destroys the
    // objects: nothing happens but a message to the user while the debugger
    // holds a program suspended, and nothing is unloaded unless every one
    // may go with the others (ModuleUnloadFailed otherwise).
    static void UnloadSet(const std::vector<InterObj>& modules);
    // While the debugger holds a program suspended no module may go: the
    // user is told to end the method first, and the answer is true.
    static bool RefuseWhileSuspended();

    // ---- properties ----------------------------------------------------------------

    int16_t pdGetStaticCount();
    int16_t pdGetDynamicCount();
    ValString pdGetFileName();
    ValString pdGetDisplayName();
    ValString pdGetVersion();
    int16_t pdGetSelector();
    int32_t pdGetReadOnly();
    int32_t pdGetCanUnload();
    void pdSetCanUnload(int32_t v);
    int32_t pdGetIsCurrent();
    int32_t pdGetIsModified();
    int32_t pdGetIsUntitled();
    int32_t pdGetIsText();
    int16_t pdGetUntitledSerialNum();
    int32_t pdGetEvalRequires();
    void pdSetEvalRequires(int32_t v);

    // ---- methods -------------------------------------------------------------------

    void imUnload();
    InterObj imStaticObject(int32_t i);
    InterObj imDynamicObject(int32_t i);
    void imSave();
    void imSaveAs(const char* fileName, int32_t asText);
    void imCompact();
    int32_t imGetStaticObjects(const InterObj* group, int32_t sorted);
    int32_t imGetDynamicObjects(const InterObj* group);
    int32_t imGetPrototypeObjects(const InterObj* group);
    InterObj imFirstLoadedObject();
    InterObj imNextLoadedObject();
    int32_t imDependsOn(const InterObj* target);
    ValString imGetPublishedObjectDLLList();

private:
    ~iObjectModule() override;
    // Binds the object to module m as it is loaded now.
    void bind(tModuleIndex m);
    // Whether the module the object names is still the loaded one.
    bool live() const;
    // The module's static objects (dictionary order), then its dynamic ones.
    void objects(std::vector<InterObj>& out);
    // The next object in memory from the iterator's position; Nothing at the
    // end.
    InterObj nextLoaded();

    uint8_t moduleFlags_ = 0x02 | kCanUnload;
    tModuleIndex selector_ = DETACHED_MODULE;
    uint64_t serial_ = 0;
    // The loaded-object iterator: the next description index, while active.
    bool iterating_ = false;
    uint32_t iterNext_ = 0;
};

class iModuleManager final : public IInterObj {
public:
    static constexpr uint32_t kRevision = 1;

    static PublishedClass& Class();
    static InterObjRep* PO_InitObject() { return Class().PO_InitObject(); }
    static InterObjRep* PO_GetObject() { return Class().PO_GetObject(); }

    explicit iModuleManager(DllServer* server);

    // ---- what hosts and projects call ------------------------------------------------

    // Loads one module (ObjectStore::LoadModule), runs its preloads and
    // tells the host; its module object, or Nothing when the store placed
    // it in the detached module.
    static InterObj LoadOne(const char* fileName, int32_t create, int32_t readOnly);
    // Loads every module of the ';' list; the last module object found or
    // made (Nothing when none). With notify the preloads run at once;
    // otherwise *loaded receives the indexes (ended by 255) and the caller
    // must pass them to PostLoadModulesNotify.
    static InterObj LoadModules(const char* path, int notify, std::vector<tModuleIndex>* loaded);
    // Runs the preloads of each loaded module of the list, empties it and
    // tells the host (ModuleLoaded(-2): several modules).
    static void PostLoadModulesNotify(std::vector<tModuleIndex>& loaded);

    // ---- the protocol --------------------------------------------------------------

    void PO_DefineFields(SignatureRep& sig) override;
    uint32_t PO_GetRevisionLevel() const override { return kRevision; }
    void PO_Read(OCLStream&, uint32_t) override {}
    void PO_Write(OCLStream&) override {}
    const char* className() const override { return "ModuleManager"; }

    // ---- properties ----------------------------------------------------------------

    int16_t pdGetCurrentIndex();
    void pdSetCurrentIndex(int16_t v);
    InterObj pdGetCurrentModule();
    void pdSetCurrentModule(const InterObj* module);
    int16_t pdGetModuleCount();

    // ---- methods -------------------------------------------------------------------

    void imSave();
    InterObj imFindModule(const char* name);
    InterObj imLoadModule(const char* fileName, int32_t mustExist);
    InterObj imLoadModuleReadOnly(const char* fileName);
    InterObj imLoadModules(const char* modulePath);
    InterObj imModule(int16_t index);
    InterObj imModuleContaining(const InterObj* o);
    InterObj imModuleWithSelector(int16_t selector);
    void imPublishObjectDLL(const char* fileName);

private:
    ~iModuleManager() override;
};

}  // namespace tq
