// The entry of libtqsys.so: what ObjectStore::PublishObjectDLL runs. Only
// the shared library has it; a program that links the library's code in
// declares Populate under the library's name instead (tqsys.h), for its own
// POD_Populate is the store's.
#include "sys/tqsys.h"

extern "C" __attribute__((visibility("default"))) void POD_Populate() { tq::sys::Populate(); }
