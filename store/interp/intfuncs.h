// The other built-in functions: LBound and UBound (kind 11, IntrBound),
// RGB and QBColor (kind 13, IntrColor), IIf (kind 14, IntrIIf); and the
// process-wide stash of the system error code of the last DLL call.
//
//   kind 11, IntrBound, size 8 + the operands:
//     7   1   1 LBound, 2 UBound
//     8   ... the array expression, then the dimension expression;
//             the dimension is absent when flag 4 is set
//   kind 13, IntrColor, size 11 + the arguments:
//     7   4   1 RGB (three arguments), 2 QBColor (one argument)
//     11  ... the arguments end to end
//   kind 14, IntrIIf, size 7 + the operands:
//     7   ... the condition, the true expression, the false expression
//
// The dimension of LBound and UBound counts from 1, as programs write it
// (UBound(a, 2) is the second dimension); absent, it is the first.
// RGB reduces each component modulo 256 (the C remainder) and gives
// r + g * 256 + b * 65536; QBColor the colour of the 16-entry table (blue
// in the high byte, 0x00BBGGRR) for n modulo 16, counted upwards for a
// negative n (QBColor(-1) is QBColor(15)). Both give a Long.
//
// IIf evaluates its condition and then only the branch it returns; the
// result is a value of its own (a variable named there is never passed on
// by reference).
#pragma once

#include <cstdint>

#include "store/interp/exprnode.h"

namespace tq {

class NodeCheck;
class SourceControl;

class IntrBound final : public ExprNode {
public:
    static constexpr uint32_t kArrayOffset = 8;
    static constexpr uint8_t kNoDimension = 0x04;
    enum : uint8_t { kLBound = 1, kUBound = 2 };

    // array is required; dim may be null.
    static ExprPtr make(uint8_t which, ExprPtr array, ExprPtr dim);

    uint8_t which() const { return which_; }
    const ExprNode* array() const { return nodeAt(kArrayOffset); }
    const ExprNode* dimension() const {
        return (flags() & kNoDimension) ? nullptr : nodeAt(kArrayOffset + array()->size());
    }

    ValuePtr eval(Context& lookup, Context& args) const;
    void print(SourceControl& sc) const;

private:
    explicit IntrBound(uint8_t which) : ExprNode(EXPR_INTR_BOUND, kArrayOffset), which_(which) {}
    uint8_t which_;
};

static_assert(sizeof(IntrBound) == IntrBound::kArrayOffset, "a bound function's head is 8 bytes");

enum tColorFunc : uint32_t {
    kColorRGB = 1,
    kColorQB = 2,
};

class IntrColor final : public ExprNode {
public:
    static constexpr uint32_t kArgOffset = 11;

    // RGB takes exactly e1, e2 and e3; QBColor exactly e1.
    static ExprPtr make(tColorFunc func, ExprPtr e1, ExprPtr e2 = nullptr, ExprPtr e3 = nullptr);

    tColorFunc func() const { return static_cast<tColorFunc>(LoadLE32(func_)); }
    const ExprNode* firstArg() const { return nodeAt(kArgOffset); }

    ValuePtr eval(Context& lookup, Context& args) const;
    void print(SourceControl& sc) const;

    // The QBColor table's entry for n (see above).
    static int32_t QBColor(int32_t n);

private:
    explicit IntrColor(tColorFunc func);
    uint8_t func_[4];
};

static_assert(sizeof(IntrColor) == IntrColor::kArgOffset, "a colour function's head is 11 bytes");

class IntrIIf final : public ExprNode {
public:
    static constexpr uint32_t kCondOffset = 7;

    // All three are required ("e1 && e2 && e3").
    static ExprPtr make(ExprPtr cond, ExprPtr a, ExprPtr b);

    const ExprNode* condition() const { return nodeAt(kCondOffset); }
    const ExprNode* whenTrue() const { return condition()->nodeAt(condition()->size()); }
    const ExprNode* whenFalse() const { return whenTrue()->nodeAt(whenTrue()->size()); }

    ValuePtr eval(Context& lookup, Context& args) const;
    void print(SourceControl& sc) const;

private:
    IntrIIf() : ExprNode(EXPR_INTR_IIF, kCondOffset) {}
};

static_assert(sizeof(IntrIIf) == IntrIIf::kCondOffset, "IIf is a bare head and its operands");

void CheckIntrBound(NodeCheck& c, uint32_t at, uint32_t end, int depth);
void CheckIntrColor(NodeCheck& c, uint32_t at, uint32_t end, int depth);
void CheckIntrIIf(NodeCheck& c, uint32_t at, uint32_t end, int depth);
ValuePtr EvalIntrBound(const ExprNode& node, Context& lookup, Context& args, int32_t how);
ValuePtr EvalIntrColor(const ExprNode& node, Context& lookup, Context& args, int32_t how);
ValuePtr EvalIntrIIf(const ExprNode& node, Context& lookup, Context& args, int32_t how);

// The API error stash: one process-wide code. Stash saves the system's last
// error code and returns it; Retrieve returns the saved code; Set saves
// code and makes it the system's last error code too.
uint32_t StashLastAPIErrorCode();
uint32_t RetrieveStashedAPIErrorCode();
void SetStashedAPIErrorCode(uint32_t code);

}  // namespace tq
