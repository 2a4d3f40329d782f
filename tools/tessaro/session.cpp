#include "tools/tessaro/session.h"

#include <tqcompile/tqcompile.h>

namespace tessaro {

Session::Session() : library_(0), app_(new TessaroApp) { tq::compiler::EnableTextModules(); }

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
