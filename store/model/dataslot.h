// The typed slots of an object's data block, shared by data fields and
// array elements: a slot is the bytes of one datum, read and written as the
// C++ object those bytes hold.
#pragma once

#include <cstdint>
#include <new>

namespace tq {

class InterObjRep;
class ValString;

template <class T>
T& SlotAt(uint8_t* at) {
    return *std::launder(reinterpret_cast<T*>(at));
}

// Writes text into a string slot of obj: in place when the slot holds its
// string alone (the string's own record changes, not the object), else as a
// new string of obj's module, since a text somebody else holds is theirs.
// True when the slot took a new string, so the object's bytes changed.
bool StoreTextSlot(ValString& slot, const char* text, const InterObjRep& obj);

}  // namespace tq
