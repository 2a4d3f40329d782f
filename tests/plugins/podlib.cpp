// An object library as extension writers build one: its POD_Populate
// registers one class with the store.
#include <cstdlib>

#include "platform/com/classreg.h"

namespace {

// Marks the process once the library's own code has run, so that a program
// refusing it can show that nothing of it ran.
__attribute__((constructor)) void Loaded() { setenv("TQ_TEST_PODLIB_RAN", "1", 1); }

}  // namespace

extern "C" void POD_Populate() {
    tq::ClassRegistry::Register("TessaroTest.Plugin",
                                *tq::GUID::Parse("{5E1F0000-0000-4000-8000-00000000AB01}"), nullptr);
}
