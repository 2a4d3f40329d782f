// The mathematical built-in functions (kind 9, IntrMath) and the random
// number generator that rnd draws from and Randomize seeds.
//
//   kind 9, IntrMath, size 11 + the argument:
//     7   4   function (MathType)
//     11  ... the argument; absent when flag 4 is set (x is then 1.0)
//
// Every function takes its argument as a double and gives a new Double.
// Floating-point faults are found by looking at the result, never by
// trapping: a result that is not a number raises FPException 32705
// (sqr(-1), log(-1)), log(0) raises 32704 (division by zero), and an
// infinite result of a finite argument 32703 (overflow, exp(1000)).
//
// rnd keeps a process-wide last random integer r, 0 before any draw: an
// argument above 0 draws a new r (0 to 32767), 0 keeps r, and a negative
// one becomes r (truncated). The result is r / 32767.
#pragma once

#include <cstdint>

#include "store/interp/exprnode.h"

namespace tq {

class NodeCheck;
class SourceControl;

enum MathType : uint32_t {
    MATH_ABS = 1,
    MATH_ATN = 2,
    MATH_COS = 3,
    MATH_EXP = 4,
    MATH_FIX = 5,
    MATH_INT = 6,
    MATH_LOG = 7,
    MATH_RND = 8,
    MATH_SGN = 9,
    MATH_SIN = 10,
    MATH_SQR = 11,
    MATH_TAN = 12,
    MATH_LIMIT = 13,
};

class IntrMath final : public ExprNode {
public:
    static constexpr uint32_t kArgOffset = 11;
    // Flag: the argument is absent.
    static constexpr uint8_t kNoArgument = 0x04;

    // arg may be null. The function must be one of MathType.
    static ExprPtr make(MathType type, ExprPtr arg);

    MathType mathType() const { return static_cast<MathType>(LoadLE32(type_)); }
    const ExprNode* argument() const { return (flags() & kNoArgument) ? nullptr : nodeAt(kArgOffset); }

    ValuePtr eval(Context& lookup, Context& args) const;
    void print(SourceControl& sc) const;

    // The printed (lower-case) name of a function; null for a number that is
    // no function.
    static const char* Name(uint32_t type);

private:
    explicit IntrMath(MathType type);
    uint8_t type_[4];
};

static_assert(sizeof(IntrMath) == IntrMath::kArgOffset, "a math function's head is 11 bytes");

// The node's own steps, for the kind table.
void CheckIntrMath(NodeCheck& c, uint32_t at, uint32_t end, int depth);
ValuePtr EvalIntrMath(const ExprNode& node, Context& lookup, Context& args, int32_t how);

// The generator of rnd, process-wide: the next integer from 0 to 32767,
// and the seed that Randomize gives it.
int32_t RandomNext();
void RandomSeed(uint32_t seed);
// rnd's last random integer (0 before any draw), and setting it (tests
// start from a known state).
int32_t LastRandom();
void SetLastRandom(int32_t r);

}  // namespace tq
