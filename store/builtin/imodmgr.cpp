// iModuleManager: the language's view of the set of loaded modules
// (iobjstor.h).
#include <string>

#include "store/builtin/iobjstor.h"
#include "platform/util/pathsrch.h"
#include "store/errors/extexcep.h"
#include "store/storeapp.h"

namespace tq {
namespace {

IInterObj* MakeModuleManager(DllServer* server) { return new iModuleManager(server); }

}  // namespace

PublishedClass& iModuleManager::Class() {
    static PublishedClass* const cls = new PublishedClass(
        "Tessaro.ModuleManager", "ModuleManager", "{A7231B83-E641-4B10-AD5F-5F05F11584FA}", &MakeModuleManager);
    return *cls;
}

iModuleManager::iModuleManager(DllServer* server) : IInterObj(server) {}

iModuleManager::~iModuleManager() = default;

void iModuleManager::PO_DefineFields(SignatureRep& sig) {
    DefineFields(sig, [&] {
        sig.addField(CompProcDataField::make("CurrentIndex", IDT_SHORT, Method(&iModuleManager::pdSetCurrentIndex),
                                             Method(&iModuleManager::pdGetCurrentIndex)),
                     nullptr, 0);
        sig.addField(CompProcDataField::make("CurrentModule", IDT_OBJECT, Method(&iModuleManager::pdSetCurrentModule),
                                             Method(&iModuleManager::pdGetCurrentModule)),
                     nullptr, 0);
        sig.addField(
            CompProcDataField::make("ModuleCount", IDT_SHORT, NoSetter, Method(&iModuleManager::pdGetModuleCount)),
            nullptr, 0);
        ParseCppField("Sub Save()", sig, &iModuleManager::imSave);
        ParseCppField("Function FindModule(ByVal fileOrDisplayName As String) As ObjectModule", sig,
                      &iModuleManager::imFindModule);
        ParseCppField("Function LoadModule(ByVal fileName As String,                    ByVal mustExist As Long) "
                      "As ObjectModule",
                      sig, &iModuleManager::imLoadModule);
        ParseCppField("Function LoadModuleReadOnly(ByVal fileName As String)  As ObjectModule", sig,
                      &iModuleManager::imLoadModuleReadOnly);
        ParseCppField("Function LoadModules(ByVal modulePath As String)  As ObjectModule", sig,
                      &iModuleManager::imLoadModules);
        ParseCppField("Function Module(ByVal index As integer) As ObjectModule", sig, &iModuleManager::imModule);
        ParseCppField("Function ModuleContaining(o As object) As ObjectModule", sig,
                      &iModuleManager::imModuleContaining);
        ParseCppField("Function ModuleWithSelector(ByVal selector As Integer) As ObjectModule", sig,
                      &iModuleManager::imModuleWithSelector);
        ParseCppField("Sub PublishObjectDLL(ByVal fileName As String)", sig, &iModuleManager::imPublishObjectDLL);
    });
}

// ---- loading ---------------------------------------------------------------------------------

InterObj iModuleManager::LoadOne(const char* fileName, int32_t create, int32_t readOnly) {
    // Loading a module that is loaded already would hand back the module as
    // it is, writable or not, and run its preloads a second time: the
    // program asked for something else, and is told so.
    if (fileName && *fileName) {
        const tModuleIndex loaded = ObjectStore::FindModule(fileName);
        if (ObjectStore::ValidIndex(loaded))
            throw ModuleOpenFailed(
                (ObjectStore::GetModuleFileNameA(loaded) + " (the module is loaded already)").c_str());
    }
    const tModuleIndex previous = ObjectStore::OpenModule();
    const tModuleIndex m = ObjectStore::LoadModule(fileName, create, readOnly);
    // A named file that loaded as nothing is a text that is no module, given
    // up once the host was asked: the program is told why, and new objects
    // still go where they went before.
    if (m == DETACHED_MODULE && fileName && *fileName) {
        if (ObjectStore::ValidIndex(previous)) ObjectStore::OpenModule(previous);
        iObjectModule::RefreshList();
        throw ModuleOpenFailed((FullPathName(fileName) + " (" + ObjectStore::TextLoadFailure() + ")").c_str());
    }
    const InterObj result(iObjectModule::FindOrMake(m));
    iObjectModule::RefreshList();
    if (m != DETACHED_MODULE) ObjectStore::NotifyPreloads(m);
    StoreApplication::ModuleLoaded(m);
    return result;
}

InterObj iModuleManager::LoadModules(const char* path, int notify, std::vector<tModuleIndex>* loaded) {
    std::vector<tModuleIndex> indexes = ObjectStore::LoadModules(path);
    if (loaded) loaded->clear();
    if (indexes.empty()) return InterObj();
    indexes.push_back(NO_MODULE);
    InterObj last;
    for (tModuleIndex m : indexes) {
        if (m == NO_MODULE) break;
        if (m == DETACHED_MODULE) continue;
        if (InterObjRep* o = iObjectModule::FindOrMake(m)) last = InterObj(o);
    }
    iObjectModule::RefreshList();
    if (notify)
        PostLoadModulesNotify(indexes);
    else if (loaded)
        *loaded = std::move(indexes);
    return last;
}

void iModuleManager::PostLoadModulesNotify(std::vector<tModuleIndex>& loaded) {
    std::vector<tModuleIndex> indexes;
    indexes.swap(loaded);
    for (tModuleIndex m : indexes) {
        if (m == NO_MODULE) break;
        if (m != DETACHED_MODULE) ObjectStore::NotifyPreloads(m);
    }
    // -2 as the host's byte: several modules.
    StoreApplication::ModuleLoaded(static_cast<unsigned char>(-2));
}

// ---- properties -------------------------------------------------------------------------------

int16_t iModuleManager::pdGetCurrentIndex() { return iObjectModule::CurrentPosition(); }

void iModuleManager::pdSetCurrentIndex(int16_t v) { iObjectModule::MakeCurrent(v); }

InterObj iModuleManager::pdGetCurrentModule() {
    GroupObjectList& list = iObjectModule::List();
    const int16_t at = iObjectModule::CurrentPosition();
    return InterObj(list[static_cast<size_t>(at)].get());
}

void iModuleManager::pdSetCurrentModule(const InterObj* module) {
    iObjectModule::RefreshList();
    const int32_t at = iObjectModule::PositionOf(module ? module->get() : nullptr);
    if (at >= 0) iObjectModule::MakeCurrent(at);
}

int16_t iModuleManager::pdGetModuleCount() { return static_cast<int16_t>(iObjectModule::List().length()); }

// ---- methods ----------------------------------------------------------------------------------

void iModuleManager::imSave() { ObjectStore::SaveAll(); }

InterObj iModuleManager::imFindModule(const char* name) {
    const tModuleIndex m = ObjectStore::FindModule(name);
    if (m == NO_MODULE) return InterObj();
    iObjectModule::RefreshList();
    return InterObj(iObjectModule::Find(m));
}

InterObj iModuleManager::imLoadModule(const char* fileName, int32_t mustExist) {
    return LoadOne(fileName, mustExist ? 0 : 1, 0);
}

InterObj iModuleManager::imLoadModuleReadOnly(const char* fileName) { return LoadOne(fileName, 0, 1); }

InterObj iModuleManager::imLoadModules(const char* modulePath) { return LoadModules(modulePath, 1, nullptr); }

InterObj iModuleManager::imModule(int16_t index) {
    GroupObjectList& list = iObjectModule::List();
    if (index < 0 || static_cast<size_t>(index) >= list.length()) return InterObj();
    return InterObj(list[static_cast<size_t>(index)].get());
}

InterObj iModuleManager::imModuleContaining(const InterObj* o) {
    InterObjRep* obj = o ? o->get() : nullptr;
    if (!obj) return InterObj();
    iObjectModule::RefreshList();
    return InterObj(iObjectModule::Find(obj->moduleIndex()));
}

InterObj iModuleManager::imModuleWithSelector(int16_t selector) {
    if (selector < 0 || selector > DETACHED_MODULE) return InterObj();
    iObjectModule::RefreshList();
    return InterObj(iObjectModule::Find(static_cast<tModuleIndex>(selector)));
}

void iModuleManager::imPublishObjectDLL(const char* fileName) { ObjectStore::PublishObjectDLL(fileName); }

}  // namespace tq
