// LocalValue: a local variable of a running frame as its activation's lookup
// cache keeps it.
//
// A local lives in a field of the frame's locals object, a clone that exists
// exactly as long as the frame. The general member for a field (FieldValue)
// reaches the datum through the field, the object's handle and the owner
// signature on every read and write; for a local of a number type the cache
// keeps this value instead, which reads and writes the datum in place in the
// locals object's data block. It is the same variable: assigning to it, or
// binding it to a by-reference parameter, changes the local.
//
// Invariants:
//  1. While the frame lives, the value reaches the locals object directly;
//     the object's data block is the one the value was made for (same size),
//     or the value goes through the field (a field added to the locals'
//     prototype while the frame ran).
//  2. The frame's scope is popped (Context::popScope) only after the cache
//     has let go of the value; if anything else still holds it then, the
//     value is orphaned first: it keeps the last datum as its own and never
//     touches the locals object again.
#pragma once

#include <cstdint>

#include "store/field.h"
#include "store/vals.h"

namespace tq {

class InterObjRep;
class SignatureRep;

// What the cache asks of any frame local, whatever its type.
class FrameLocal {
public:
    virtual ~FrameLocal() = default;
    // The locals object is about to go: keep the datum, let go of the object.
    virtual void orphan() = 0;
};

// A LocalValue for field f (owned by signature owner) of the frame's locals
// object, or null when the field is not a plain datum of a number type (the
// cache then keeps the field's general member).
MemberPtr MakeLocalValue(InterObjRep& locals, Field& f, SignatureRep& owner);

}  // namespace tq
