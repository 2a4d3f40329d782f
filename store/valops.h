// The operator machinery of the language's values, written once over the
// Value interface: every TypedValue operator (and so every value class, the
// field values of the object model included) ends here.
//
// Arithmetic (+ - * /) takes the larger of the two type codes as the result
// type, computes in double and builds the result with promotion:
//
//   result type  result r                        value made
//   Integer      -32768 <= r <= 32767            Integer (truncated)
//                beyond that                     as for Long
//   Long         -2147483648 <= r <= 2147483647  Long (truncated)
//                beyond that                     as for Single
//   Single       |r| <= 3.37e38                  Single
//                beyond that                     Double
//   Double       any                             Double
//   Currency     any                             Currency(r)
//   String       any                             String of r's text form
//
// Negative results are promoted as positive ones are, so that a result never
// wraps silently into the wrong sign.
//
// Floating-point faults are found by looking at the operation, never by
// trapping: a zero divisor of "/" raises FPException 32704, a finite
// operation whose result is infinite 32703, a result that is not a number
// 32705. "\" and Mod work on Longs: a zero divisor raises MathError 32715;
// -2147483648 \ -1, whose quotient no Long holds, raises FPException 32707,
// and -2147483648 Mod -1 is 0.
#pragma once

#include <cstddef>
#include <cstdint>

#include "store/errors/storeexc.h"
#include "store/idtype.h"

namespace tq {

class Value;
class ValuePtr;

enum tArithOp : uint8_t { ARITH_ADD, ARITH_SUB, ARITH_MUL, ARITH_DIV };
enum tRelOp : uint8_t { REL_GT, REL_LT, REL_EQ, REL_NE, REL_GE, REL_LE };
enum tLogicOp : uint8_t { LOGIC_AND, LOGIC_OR, LOGIC_XOR, LOGIC_EQV, LOGIC_IMP };

ValuePtr ValueArith(tArithOp op, const Value& l, const Value& r);
ValuePtr ValueIntDiv(const Value& l, const Value& r);
ValuePtr ValueMod(const Value& l, const Value& r);
// l ^ r as a Double.
ValuePtr ValuePower(const Value& l, const Value& r);
// Two Strings compare as text (smart_strcmp), anything else as doubles.
// -1 when the relation holds, 0 when not.
int32_t ValueCompare(tRelOp op, const Value& l, const Value& r);
int32_t ValueLogic(tLogicOp op, const Value& l, const Value& r);
int32_t ValueNot(const Value& v);
// The most characters a String holds: Len counts them in a Long.
inline constexpr size_t kMaxStringLength = 2147483647;
// Refuses a String of n characters when that is more than a String holds,
// before it is made.
void CheckStringLength(size_t n);
// The failure of a statement during which memory ran out (a String grown
// until no allocation holds it): raised in place of std::bad_alloc where
// statements run, so that a Catch can take it and a host reports it with
// its line, as every other failure.
StoreException OutOfMemory();

// The language's "&": a new String of l's text followed by r's.
ValuePtr ValueConcat(const Value& l, const Value& r);

// The value that an arithmetic result r of type code becomes (table above).
ValuePtr MakeArithResult(IdType code, double r);

}  // namespace tq
