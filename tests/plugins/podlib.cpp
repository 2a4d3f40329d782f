// An object library as extension writers build one: its POD_Populate
// registers one class with the store.
#include "platform/com/classreg.h"

extern "C" void POD_Populate() {
    tq::ClassRegistry::Register("TessaroTest.Plugin",
                                *tq::GUID::Parse("{5E1F0000-0000-4000-8000-00000000AB01}"), nullptr);
}
