#include "tools/tessaro/syslib.h"

#include <tqstore/tqstore.h>

#include "sys/tqsys.h"

namespace tessaro {

void LoadSystemLibrary() {
    tq::DynamicLibrary::ProvideLinkedLibrary("tqsys", "POD_Populate", reinterpret_cast<void*>(&tq::sys::Populate));
    tq::ObjectStore::PublishObjectDLL("tqsys");
}

int ProgramExitStatus(int status, bool hasValue) {
    if (hasValue) return status;
    const int requested = tq::sys::RequestedExitStatus();
    return requested >= 0 ? requested : status;
}

}  // namespace tessaro
