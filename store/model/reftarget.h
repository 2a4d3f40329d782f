// Where a by-reference binding points.
//
// A by-reference parameter's slot names the caller's value by its handle
// id, and every read or write of the parameter goes through that value. A
// recursion that passes its own by-reference parameter on by reference
// would otherwise bind each level to the level above: a chain as deep as
// the recursion, which a write walks on the native stack, level by level,
// without the check every call makes. Binding to what the parameter names
// keeps the chain one link long whatever the depth; the parameter and the
// value it names are the same variable (a by-reference binding needs the
// parameter's own type, so no conversion lies between).
#pragma once

namespace tq {

class Value;

// The value a by-reference slot bound to v must name: v itself, or, when v
// is a by-reference parameter of a call (a member of a worker object's
// by-reference data field) that names a live value, that value.
Value* ReferenceTarget(Value* v);

}  // namespace tq
