#include "store/tqstore.h"

#include "platform/com/dllserv.h"
#include "platform/com/ocl.h"
#include "platform/util/dllutils.h"
#include "platform/util/dynlib.h"
#include "platform/util/uassert.h"
#include "store/builtin/iacl.h"
#include "store/builtin/iapplic.h"
#include "store/builtin/iglobals.h"
#include "store/builtin/igroup.h"
#include "store/builtin/timer.h"
#include "store/builtin/uprofile.h"
#include "store/builtin/iobjstor.h"
#include "store/builtin/iproject.h"
#include "store/persist/idstr.h"
#include "store/persist/objstore.h"
#include "store/storeapp.h"

namespace tq {

const char* const kBuiltinClassIds[kBuiltinClassCount] = {
    "{A7231B80-E641-4B10-AD5F-5F05F11584FA}",  // ACL
    "{A7231B81-E641-4B10-AD5F-5F05F11584FA}",  // UserProfile
    "{A7231B82-E641-4B10-AD5F-5F05F11584FA}",  // ObjectModule
    "{A7231B83-E641-4B10-AD5F-5F05F11584FA}",  // ModuleManager
    "{A7231B88-E641-4B10-AD5F-5F05F11584FA}",  // Project
    "{A7231B89-E641-4B10-AD5F-5F05F11584FA}",  // ProjectManager
    "{A7231B84-E641-4B10-AD5F-5F05F11584FA}",  // Application
    "{A7231B85-E641-4B10-AD5F-5F05F11584FA}",  // Globals
    "{A7231B86-E641-4B10-AD5F-5F05F11584FA}",  // Group
    "{A7231B87-E641-4B10-AD5F-5F05F11584FA}",  // Timer
};

const char* const kBuiltinClassNames[kBuiltinClassCount] = {
    "ACL",      "UserProfile", "ObjectModule", "ModuleManager", "Project",
    "ProjectManager", "Application", "Globals", "Group", "Timer",
};

namespace {

DllServer* theServer = nullptr;

// Never destroyed, like the library's other process-wide state.
std::string& LibraryPathSlot() {
    static auto* const path = new std::string;
    return *path;
}

#define TQ_STRINGIFY2(x) #x
#define TQ_STRINGIFY(x) TQ_STRINGIFY2(x)
constexpr const char kVersion[] =
    TQ_STRINGIFY(TQ_VERSION_MAJOR) "." TQ_STRINGIFY(TQ_VERSION_MINOR) "." TQ_STRINGIFY(TQ_VERSION_PATCH);

// The library's load: runs once, before any entry point can be called.
// The server is made here and never destroyed.
__attribute__((constructor)) void LibraryAttached() {
    if (!theServer) {
        theServer = new DllServer;
        for (const char* id : kBuiltinClassIds) theServer->addFactory(id);
    }
    LibraryPathSlot() = DynamicLibrary::SelfPath();
    DLLUtils::DLLAttached(LibraryPathSlot().c_str(),
                          VersionData{TQ_VERSION_MAJOR, TQ_VERSION_MINOR, TQ_VERSION_PATCH, 0});
    // Found by name even when a program holds the library statically and
    // does not export its symbols.
    DynamicLibrary::ProvideOwnSymbol("POD_Populate", reinterpret_cast<void*>(&POD_Populate));
    DynamicLibrary::ProvideOwnSymbol("DllGetClassObject",
                                     reinterpret_cast<void*>(&DllGetClassObject));
    DynamicLibrary::ProvideOwnSymbol("DllCanUnloadNow",
                                     reinterpret_cast<void*>(&DllCanUnloadNow));
}

}  // namespace

DllServer* TheDllServer() { return theServer; }

const char* LibraryVersion() { return kVersion; }

const std::string& LibraryPath() { return LibraryPathSlot(); }

TessaroInitializer::TessaroInitializer(int createApplication) : ocl_(std::make_unique<OCL>()) {
    // Names come before anything that publishes or loads: the built-in
    // classes intern theirs while they are defined.
    IdString::Initialize();
    ObjectStore::PublishObjectDLL("tqstore");
    // The application registers itself as the singleton; the host owns it.
    if (createApplication) new DefaultStoreApplication;
}

TessaroInitializer::~TessaroInitializer() { IdString::Terminate(); }

}  // namespace tq

extern "C" {

tq::HRESULT DllGetClassObject(tq::REFCLSID rclsid, tq::REFIID riid, void** ppv) {
    TQ_ASSERT(tq::theServer != nullptr, "DllInstance::TheDll() != NULL");
    return tq::theServer->getClassObject(rclsid, riid, ppv);
}

tq::HRESULT DllCanUnloadNow() {
    return tq::theServer ? tq::theServer->canUnloadNow() : tq::S_OK;
}

void POD_Populate() {
    // Each built-in class registers itself here with its PO_InitObject, in
    // the order ACL, UserProfile, ObjectModule, ModuleManager, Project,
    // ProjectManager, Application, Globals, Group, Timer, as the classes are
    // built. Until a class is registered its factory answers E_NOINTERFACE.
    // The prototypes intern their names in the detached module: a host that
    // publishes the library before starting it still finds them sound.
    tq::IdString::Initialize();
    tq::iACL::PO_InitObject();
    tq::iUserProfile::PO_InitObject();
    tq::iObjectModule::PO_InitObject();
    tq::iModuleManager::PO_InitObject();
    tq::iProject::PO_InitObject();
    tq::iProjectManager::PO_InitObject();
    tq::iApplication::PO_InitObject();
    tq::iGlobals::PO_InitObject();
    tq::iGroup::PO_InitObject();
    tq::iTimer::PO_InitObject();
}

}
