#include "tools/tessaro/session.h"

#include <iostream>

#include <tqcompile/tqcompile.h>

#include "tools/tessaro/syslib.h"

namespace tessaro {

// Every command that loads modules publishes the system library first: a
// module that names its classes compiles (build, text, list) and runs
// (run, debug, repl) only with them. A library that fails to publish is
// reported, and such a module then fails with its own message.
Session::Session() : library_(0), app_(new TessaroApp) {
    tq::compiler::EnableTextModules();
    try {
        LoadSystemLibrary();
    } catch (const std::exception& e) {
        std::cerr << "tessaro: the system library: " << e.what() << "\n";
    }
}

Session::~Session() {
    // The last loaded first, so that a module is gone before the modules it
    // builds on; each reverts what it was not asked to keep.
    try {
        tq::ObjectStore::UnloadAllModules(1);
        tq::InterObjRep::DeleteObjects();
    } catch (const std::exception&) {
        // Nothing is written on the way out; a module that will not unload
        // is left to the process's end.
    }
    delete app_;
}

}  // namespace tessaro
