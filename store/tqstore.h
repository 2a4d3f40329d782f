// The library's entry: its class-factory server, the C entry points, and
// TessaroInitializer, which a host constructs once to start the library.
//
// Loading the library creates the server once; it owns one factory for each
// of the ten built-in classes, searched in this order (the class ids share
// every digit but the last of the first group, given here):
//
//   order  digit  class
//   1      0      ACL
//   2      1      UserProfile
//   3      2      ObjectModule
//   4      3      ModuleManager
//   5      8      Project
//   6      9      ProjectManager
//   7      4      Application
//   8      5      Globals
//   9      6      Group
//   10     7      Timer
//
// Invariants:
//  1. The server exists from load on and is never destroyed: clients may
//     hold its factories until the process ends.
//  2. DllCanUnloadNow answers S_OK exactly when no LockServer hold is out and
//     no object made by a factory is alive.
//
// Start and stop of a host:
//   load library -> TessaroInitializer(create) -> [own StoreApplication]
//     -> modules ... -> ObjectStore::UnloadAllModules -> delete application
//     -> ~TessaroInitializer
#pragma once

#include <memory>
#include <string>

#include "platform/com/guid.h"
#include "platform/com/hresult.h"

namespace tq {

class DllServer;
class OCL;

// The class ids of the built-in classes, in factory order.
inline constexpr int kBuiltinClassCount = 10;
extern const char* const kBuiltinClassIds[kBuiltinClassCount];
extern const char* const kBuiltinClassNames[kBuiltinClassCount];

// The library's class-factory server (null only before the library's load
// has run).
DllServer* TheDllServer();

// "major.minor.patch" of this library.
const char* LibraryVersion();
// The file this library was loaded from.
const std::string& LibraryPath();

class TessaroInitializer {
public:
    // Starts the layer of COM-style objects and the names of the detached
    // module (IdString::Initialize), publishes this library's classes
    // (ObjectStore::PublishObjectDLL("tqstore")) and, when createApplication
    // is non-zero, makes the DefaultStoreApplication. The host destroys the
    // application itself (delete StoreApplication::Current()), before this.
    explicit TessaroInitializer(int createApplication);
    // Ends the names of the detached module (IdString::Terminate): no name
    // may be held past this.
    ~TessaroInitializer();
    TessaroInitializer(const TessaroInitializer&) = delete;
    TessaroInitializer& operator=(const TessaroInitializer&) = delete;

private:
    std::unique_ptr<OCL> ocl_;
};

}  // namespace tq

extern "C" {
// The factory of class rclsid asked for riid; E_FAIL for a class that is not
// one of the library's.
tq::HRESULT DllGetClassObject(tq::REFCLSID rclsid, tq::REFIID riid, void** ppv);
// S_OK when the library may be unloaded, S_FALSE while it is in use.
tq::HRESULT DllCanUnloadNow();
// Registers the library's classes; run by ObjectStore::PublishObjectDLL.
void POD_Populate();
}
