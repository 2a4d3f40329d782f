// WalkModule: everything a loaded module holds, read through the library's
// own readers, the way programs, saves and unloads reach it.
//
// A module opens without reading its records (objstore.h); a record that is
// spoilt shows only when something follows a reference to it. The walk
// follows every reference there is: every stream is read whole (a commit
// copies them all), every thing of every description table
// is faulted, every object's signature chain, fields (every element of
// every array), embedded objects, host and access control are read, every
// signature's objects, children and field declarations, every proxy is
// resolved, and every entry of the static globals is followed. Tools that
// judge a module file (tqdump) take their verdict from it, so that what they
// call sound is what the library can read.
//
// The walk changes nothing the module keeps, but reading may resolve
// proxies against the modules loaded now: a signature proxy that does not
// resolve makes its replacement object, as loading does. A reference into a
// module that is not loaded (ProxyResolveFailed) is no fault of this module
// and is not reported.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "store/dscrptr.h"

namespace tq {

struct WalkFault {
    std::string text;   // the failure, as the library raised it
    std::string where;  // where it was first met ("Objects entry 3: field Caption")
    size_t times = 1;   // how often the same failure was met
};

// The failures met walking module m, each distinct text once, in the order
// first met; empty when every record reads. Module m must be loaded.
std::vector<WalkFault> WalkModule(tModuleIndex m);

}  // namespace tq
