// Expression nodes: the compiled form of expressions, laid inline in the
// node streams of compiled blocks.
//
// A node is its own bytes: a little-endian, unaligned, pointer-free head,
// then what its kind adds, then (inside its size) the nodes of its
// operands. So a node can be copied into a stream byte for byte, and a node
// inside a stream read from a module is used where it lies. Every node type
// has alignment 1 and no virtual functions; behaviour dispatches on the kind.
//
// Head of every node:
//
//   offset  width  meaning
//   0       2      kind (tExprType)
//   2       4      size in bytes, the operand nodes included
//   6       1      flags (bit 1: written in parentheses; kinds add their own)
//
// The kinds built so far are the numeric constants:
//
//   kind 4, LongConstant (Constant<int32_t>), size 11:
//     7   4   the value, signed; flags 32 hexadecimal, 64 octal literal
//   kind 5, Constant<double>, size 15:
//     7   8   the value, an IEEE double
//
// Nodes are made with new and freed with delete through their base: the
// base's destroying delete frees the node's own bytes whatever its kind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

#include "platform/util/lebytes.h"
#include "store/vals.h"

namespace tq {

class Context;

enum tExprType : uint16_t {
    EXPR_SID = 1,
    EXPR_CID = 2,
    EXPR_MID = 3,
    EXPR_LONG_CONSTANT = 4,
    EXPR_DOUBLE_CONSTANT = 5,
    EXPR_STRING_CONSTANT = 6,
    EXPR_BINARY_OP = 7,
    EXPR_UNARY_OP = 8,
    EXPR_INTR_MATH = 9,
    EXPR_INTR_STRING = 10,
    EXPR_INTR_BOUND = 11,
    EXPR_NULL_OBJ_CONSTANT = 12,
    EXPR_INTR_COLOR = 13,
    EXPR_INTR_IIF = 14,
};

class ExprNode {
public:
    enum : uint8_t {
        kParenthesized = 0x01,
        kHexLiteral = 0x20,
        kOctalLiteral = 0x40,
    };

    ExprNode(const ExprNode&) = delete;
    ExprNode& operator=(const ExprNode&) = delete;

    uint16_t type() const { return LoadLE16(kind_); }
    uint32_t size() const { return LoadLE32(size_); }
    uint8_t flags() const { return flags_; }

    // The node's value, newly made; identifiers are resolved in lookup and
    // their arguments evaluated in args. A kind without an evaluator is a
    // fault of whoever built the node (assertion "NULL").
    ValuePtr eval(Context& lookup, Context& args, int32_t how);

    // Negates a numeric constant in place (1); any other kind is left as it
    // is (0). Lets the compiler fold a unary minus into a literal.
    int negate();

    // A constant of the language's integer type, whose value needs no
    // context.
    bool isIntegerConstant() const { return type() == EXPR_LONG_CONSTANT; }

    static void* operator new(std::size_t size) { return ::operator new(size); }
    static void operator delete(ExprNode* node, std::destroying_delete_t) { ::operator delete(node); }

protected:
    ExprNode(uint16_t kind, uint32_t size, uint8_t flags = 0);

private:
    uint8_t kind_[2];
    uint8_t size_[4];
    uint8_t flags_;
};

static_assert(sizeof(ExprNode) == 7 && alignof(ExprNode) == 1, "the node head is 7 unaligned bytes");

// A literal number: Constant<int32_t> (LongConstant) and Constant<double>.
template <class T>
class Constant final : public ExprNode {
public:
    // Radix 1 marks a hexadecimal and 2 an octal literal (integer constants
    // only); anything else decimal.
    explicit Constant(T value, int radix = 0);

    T value() const;
    void setValue(T v);
    ValuePtr eval() const;

private:
    uint8_t value_[sizeof(T)];
};

using LongConstant = Constant<int32_t>;
using DoubleConstant = Constant<double>;

static_assert(sizeof(LongConstant) == 11, "a Long constant node is 11 bytes");
static_assert(sizeof(DoubleConstant) == 15, "a Double constant node is 15 bytes");

extern template class Constant<int32_t>;
extern template class Constant<double>;

}  // namespace tq
