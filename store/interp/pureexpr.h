// Unboxed evaluation: the number an expression gives, computed in registers
// when it can be had by reading alone, with no value made for an operand or
// a result.
//
// The readers here never act and never fail. They accept Long and Double
// constants, True and False, Long and Double variables the lookup cache
// already holds, elements of Long and Double arrays whose indices are such
// expressions, and +, -, *, \, Mod and the comparisons over those. When
// anything else must decide (another type, a name not resolved yet in this
// activation, an index outside its bounds, a Long result beyond the Long
// range, a division by zero, a result that is not a finite number) they
// give up, and since nothing has happened but reads of variables, the
// general path then evaluates the expression as if they had not run: every
// promotion rule and every message stays the general path's.
#pragma once

#include <cstdint>

#include "store/interp/binop.h"

namespace tq {

class Context;
class Cid;
class ExprNode;
class InterObjRep;

// Arithmetic of two Longs whose result is a Long again (+, - and *); false
// when the general rule must decide (a result beyond the Long range is
// promoted).
bool LongArith(BinOpType op, int32_t a, int32_t b, int32_t& out);
// A comparison of two Longs as the language gives it: -1 for true, 0 for false.
int32_t LongCompare(BinOpType op, int32_t a, int32_t b);

// The value of n as a Long made from Long operands; false when it cannot be
// had by reading alone (see above).
bool PureLong(const ExprNode* n, const Context& ctx, int32_t& out, int depth = 0);

// PureLong's kin for results the value rules make a Double: +, - and * where
// either operand is a Double. kNumberLong with the result in l, kNumberDouble
// with it in d, kNumberNone when the general path must decide.
BinaryOp::PureNumberKind PureNumber(const ExprNode* n, const Context& ctx, int32_t& l, double& d, int depth = 0);

// An element of a Long or Double array named by an identifier with indices
// ("a(i, j)"), found without making a value: the array is one the lookup
// cache already holds, every index is a PureLong and lies within its
// bounds. The datum may be read and written in place; a write must then
// tell the object it changed (InterObjRep::changed), as assigning through
// the element's value does.
struct NumericElement {
    uint8_t* at = nullptr;
    IdType type = 0;  // IDT_LONG or IDT_DOUBLE
    InterObjRep* obj = nullptr;
    bool writable = false;  // false for a Const array
};
bool FindNumericElement(const Cid& id, const Context& ctx, NumericElement& out, int depth = 0);

}  // namespace tq
