// Operators: the expression nodes of the binary and unary operators.
//
//   kind 7, BinaryOp, size 8 + both operands:
//     7   1   operator (BinOpType)
//     8   ... the left operand, then the right operand
//   kind 8, UnaryOp, size 8 + the operand:
//     7   1   operator (UnaryOpType)
//     8   ... the operand
//
// Arithmetic, comparison and logic are the operations of the values
// themselves (vals.h, with the promotion rules of valops.h); here are the
// operators that are the interpreter's own: "&" (concatenation), TypeOf,
// and the short-circuit "&&" and "||", whose right operand is evaluated
// only when the left one does not decide. Comparisons and logic give a new
// Long holding -1 (true) or 0 (false); TypeOf a new Integer.
#pragma once

#include <cstdint>

#include "store/interp/exprnode.h"

namespace tq {

enum BinOpType : uint8_t {
    BINOP_ADD = 0,        // "+"
    BINOP_SUB = 1,        // "-"
    BINOP_MUL = 2,        // "*"
    BINOP_DIV = 3,        // "/"
    BINOP_INTDIV = 4,     // "\"
    BINOP_POWER = 5,      // "^"
    BINOP_MOD = 6,        // "Mod"
    BINOP_CONCAT = 7,     // "&"
    BINOP_EQ = 8,         // "="
    BINOP_NE = 9,         // "<>"
    BINOP_GT = 10,        // ">"
    BINOP_LT = 11,        // "<"
    BINOP_GE = 12,        // ">="
    BINOP_LE = 13,        // "<="
    BINOP_LIKE = 14,      // "Like": always fails, "LIKE is not implemented."
    BINOP_AND = 15,       // "And"
    BINOP_OR = 16,        // "Or"
    BINOP_XOR = 17,       // "Xor"
    BINOP_IMP = 18,       // "Imp"
    BINOP_EQV = 19,       // "Eqv"
    BINOP_TYPEOF = 20,    // "TypeOf x Is y"
    BINOP_ANDALSO = 21,   // "&&"
    BINOP_ORELSE = 22,    // "||"
    BINOP_LIMIT = 23,
};

enum UnaryOpType : uint8_t {
    UNOP_NEGATE = 0,  // "-"
    UNOP_NOT = 1,     // "Not"
    UNOP_LIMIT = 2,
};

// The spelling of an operator as it is printed ("+", "Mod", "&&"); null for
// a value that is no operator.
const char* BinOpSpelling(uint8_t op);
const char* UnaryOpSpelling(uint8_t op);

class BinaryOp final : public ExprNode {
public:
    static constexpr uint32_t kLeftOffset = 8;

    // Both operands are required ("leftExpr && rightExpr"); both are freed.
    static ExprPtr make(BinOpType op, ExprPtr left, ExprPtr right);

    BinOpType op() const { return static_cast<BinOpType>(op_); }
    const ExprNode* left() const { return nodeAt(kLeftOffset); }
    const ExprNode* right() const { return nodeAt(kLeftOffset + left()->size()); }

    ValuePtr eval(Context& lookup, Context& args) const;
    // left, the operator between blanks, right; TypeOf as "TypeOf x Is y".
    void print(SourceControl& sc) const;
    // The same, for a caller that can use a Long result without a value
    // holding it (an assignment): true with the result in out when it is a
    // Long made from Long operands, else false with the result in value.
    // Either way the operands are evaluated exactly once.
    bool evalLong(Context& lookup, Context& args, int32_t& out, ValuePtr& value) const;
    // The operator's number when it can be had from Long and Double
    // variables the lookup cache holds and from constants, with no value
    // made and nothing run: kNumberLong with it in l, kNumberDouble with it
    // in d (the value rules give a Double: +, - or * with a Double operand).
    // kNumberNone when the general path must decide; nothing has then been
    // evaluated but reads of variables.
    enum PureNumberKind { kNumberNone, kNumberLong, kNumberDouble };
    PureNumberKind evalPure(const Context& lookup, int32_t& l, double& d) const;

private:
    explicit BinaryOp(BinOpType op) : ExprNode(EXPR_BINARY_OP, kLeftOffset), op_(op) {}
    uint8_t op_;
};

static_assert(sizeof(BinaryOp) == BinaryOp::kLeftOffset, "a binary operator's head is 8 bytes");

class UnaryOp final : public ExprNode {
public:
    static constexpr uint32_t kOperandOffset = 8;

    static ExprPtr make(UnaryOpType op, ExprPtr operand);

    UnaryOpType op() const { return static_cast<UnaryOpType>(op_); }
    const ExprNode* operand() const { return nodeAt(kOperandOffset); }

    ValuePtr eval(Context& lookup, Context& args) const;
    // "-" and the operand, or "Not " and the operand.
    void print(SourceControl& sc) const;

private:
    explicit UnaryOp(UnaryOpType op) : ExprNode(EXPR_UNARY_OP, kOperandOffset), op_(op) {}
    uint8_t op_;
};

static_assert(sizeof(UnaryOp) == UnaryOp::kOperandOffset, "a unary operator's head is 8 bytes");

}  // namespace tq
