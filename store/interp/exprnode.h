// Expression nodes: the compiled form of expressions, laid inline in the
// node streams of compiled blocks.
//
// A node is its own bytes: a little-endian, unaligned, pointer-free head,
// then what its kind adds, then (inside its size) the nodes of its
// operands. So a node can be copied into a stream byte for byte, and a node
// inside a stream read from a module is used where it lies. Every node type
// has alignment 1 and no virtual functions; behaviour dispatches on the kind
// with a switch.
//
// Head of every node:
//
//   offset  width  meaning
//   0       2      kind (tExprType)
//   2       4      size in bytes, the operand nodes included
//   6       1      flags: 1 written in parentheses; 2 argument list in
//                  parentheses (identifiers); 8 the identifier is Me;
//                  16 dotted, ".x" inside With (identifiers); 32
//                  hexadecimal, 64 octal literal (integer constants)
//
// The kinds of this file (identifiers are ident.h, operators binop.h):
//
//   kind 4, LongConstant (Constant<int32_t>), size 11:
//     7   4   the value, signed
//   kind 5, Constant<double>, size 15:
//     7   8   the value, an IEEE double
//   kind 6, StringConstant, size 11 + n:
//     7   4   n, the text's length with its NUL
//     11  n   the text and a NUL
//   kind 12, NullObjConstant (Nothing), size 7: nothing more
//
// ExprNodePair (the two bounds of one dimension of Redim) is a record of
// its own in the same form:
//
//   0   2   1 (kind)
//   2   4   size: 15 + both expressions
//   6   1   0 (flags)
//   7   4   offset of the first expression in the record, 15; 0 when absent
//   11  4   offset of the second expression; 0 when absent
//   15  ... the expressions
//
// Nodes are built through the static make() functions of each kind (or,
// for the fixed-size constants, new), which copy every operand node into
// the new node and free the operand: a builder's result owns all its bytes.
// Nodes are freed with delete through any of their types: the base's
// destroying delete frees the node's bytes whatever its kind.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <string_view>

#include "platform/util/lebytes.h"
#include "store/vals.h"

namespace tq {

class Context;
class SourceControl;

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

class ExprNode;
class Cid;

// An owning pointer to a node; the compiler passes nodes to the builders
// through it.
using ExprPtr = std::unique_ptr<ExprNode>;

class ExprNode {
public:
    static constexpr uint32_t kHeadSize = 7;

    enum : uint8_t {
        kParenthesized = 0x01,
        kArgsParenthesized = 0x02,
        kMe = 0x08,
        kDotted = 0x10,
        kHexLiteral = 0x20,
        kOctalLiteral = 0x40,
    };

    ExprNode(const ExprNode&) = delete;
    ExprNode& operator=(const ExprNode&) = delete;

    uint16_t type() const { return LoadLE16(kind_); }
    uint32_t size() const { return LoadLE32(size_); }
    uint8_t flags() const { return flags_; }
    bool isParenthesized() const { return (flags_ & kParenthesized) != 0; }
    // Flags the compiler sets while it builds (parentheses, the argument
    // list's parentheses).
    void addFlags(uint8_t f) { flags_ = static_cast<uint8_t>(flags_ | f); }
    bool isIdentifier() const { return type() == EXPR_SID || type() == EXPR_CID || type() == EXPR_MID; }

    // The node's value, newly made (null only for an identifier whose
    // member gives none when no value was required). Identifiers are
    // resolved in lookup and their arguments evaluated in args; the two
    // differ only inside member chains. how carries the EVAL_ flags.
    ValuePtr eval(Context& lookup, Context& args, int32_t how) const;
    ValuePtr eval(Context& ctx, int32_t how) const { return eval(ctx, ctx, how); }

    // Writes the expression as source text: the kind's own form, in "("
    // and ")" when the parenthesis flag is set.
    void print(SourceControl& sc) const;

    // Negates a numeric constant in place (1); any other kind is left as it
    // is (0). Lets the compiler fold a unary minus into a literal.
    int negate();

    // Marks a Sid or Cid, or the first piece of a Mid, as written with a
    // leading "." inside With; other kinds: assertion "Illegal ExprNode type
    // for markAsDotted".
    void markAsDotted();

    // Turns self, a Sid, into the base identifier of c (self is freed), or a
    // Mid whose last piece is a Sid into one ending in c. Anything else
    // raises IllegalConversion "Cid::convertToComplex()" (32757) and frees
    // nothing.
    static ExprPtr convertToComplex(ExprPtr self, std::unique_ptr<Cid> c);

    // A constant of the language's integer type, whose value needs no
    // context.
    bool isIntegerConstant() const { return type() == EXPR_LONG_CONSTANT; }

    // The node's bytes, and a node embedded at offset `at` of them.
    const uint8_t* bytes() const { return reinterpret_cast<const uint8_t*>(this); }
    uint8_t* bytes() { return reinterpret_cast<uint8_t*>(this); }
    const ExprNode* nodeAt(uint32_t at) const { return reinterpret_cast<const ExprNode*>(bytes() + at); }
    ExprNode* nodeAt(uint32_t at) { return reinterpret_cast<ExprNode*>(bytes() + at); }

    static void* operator new(std::size_t size) { return ::operator new(size); }
    static void operator delete(ExprNode* node, std::destroying_delete_t) { ::operator delete(node); }
    // Frees the bytes of a node whose construction failed.
    static void operator delete(void* p) { ::operator delete(p); }

protected:
    ExprNode(uint16_t kind, uint32_t size, uint8_t flags = 0);

    // Raw room for a node of `size` bytes, for the builders of nodes that
    // embed others (placement new of the head follows).
    static void* Allocate(std::size_t size) { return ::operator new(size); }
    // Copies node into this node's bytes at `at` and frees it; returns the
    // offset behind the copy.
    uint32_t embed(uint32_t at, ExprPtr node);
    void setSize(uint32_t size) { StoreLE32(size_, size); }

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
    static ExprPtr make(T value, int radix = 0) { return ExprPtr(new Constant(value, radix)); }

    // Inline: the interpreter's unboxed paths read constants on every turn.
    T value() const {
        if constexpr (sizeof(T) == 4)
            return std::bit_cast<T>(LoadLE32(value_));
        else
            return std::bit_cast<T>(uint64_t(LoadLE32(value_)) | (uint64_t(LoadLE32(value_ + 4)) << 32));
    }
    void setValue(T v);
    ValuePtr eval() const;
    // The decimal value (a Long also "&H" and hexadecimal or "&O" and
    // octal digits, as it was written).
    void print(SourceControl& sc) const;

private:
    uint8_t value_[sizeof(T)];
};

using LongConstant = Constant<int32_t>;
using DoubleConstant = Constant<double>;

static_assert(sizeof(LongConstant) == 11, "a Long constant node is 11 bytes");
static_assert(sizeof(DoubleConstant) == 15, "a Double constant node is 15 bytes");

extern template class Constant<int32_t>;
extern template class Constant<double>;

// A literal text. Its length counts the NUL; the text is what lies before
// the first NUL.
class StringConstant final : public ExprNode {
public:
    static constexpr uint32_t kTextOffset = 11;

    static ExprPtr make(const char* text);

    const char* text() const { return reinterpret_cast<const char*>(bytes() + kTextOffset); }
    uint32_t textLength() const { return LoadLE32(length_); }
    ValuePtr eval() const;
    // The text in double quotes, with the escapes that read back (below).
    void print(SourceControl& sc) const;

private:
    explicit StringConstant(uint32_t length);
    uint8_t length_[4];
};

static_assert(sizeof(StringConstant) == 11, "a text constant's head is 11 bytes");

// Nothing: an Object value that holds no object.
class NullObjConstant final : public ExprNode {
public:
    NullObjConstant() : ExprNode(EXPR_NULL_OBJ_CONSTANT, sizeof(NullObjConstant)) {}
    static ExprPtr make() { return ExprPtr(new NullObjConstant()); }
    ValuePtr eval() const;
    void print(SourceControl& sc) const;
};

static_assert(sizeof(NullObjConstant) == 7, "Nothing is a bare head");

// The lower and upper bound of one dimension of Redim; either may be
// absent (the compiler gives the upper one always).
class ExprNodePair final : public ExprNode {
public:
    static constexpr uint32_t kFixedSize = 15;

    static std::unique_ptr<ExprNodePair> make(ExprPtr first, ExprPtr second);

    const ExprNode* first() const { return optional(first_); }
    const ExprNode* second() const { return optional(second_); }

private:
    ExprNodePair();
    const ExprNode* optional(const uint8_t* offset) const {
        const uint32_t at = LoadLE32(offset);
        return at ? nodeAt(at) : nullptr;
    }
    uint8_t first_[4];
    uint8_t second_[4];
};

static_assert(sizeof(ExprNodePair) == ExprNodePair::kFixedSize, "a bounds pair's head is 15 bytes");

// The source text of a Double literal: an integral value within
// -2147483647 to 2147483647 (exclusive) as the integer and ".0"; any other
// with 10 significant digits, or with the shortest digits that read back
// to the same double when 10 do not; always with a point or an exponent,
// so that it reads back as a Double.
std::string DoubleLiteralText(double v);

// The source text of a String literal: in double quotes, each quote and
// each "^" doubled, and each control character c (1 to 31, 127) written as
// "^" and the character c xor 64 ("^I" for a tab, "^?" for 127).
std::string StringLiteralText(std::string_view text);

}  // namespace tq
