// Identifiers: the expression nodes that name things. A name is never
// stored as text in a node: it is an index into the identifier table of the
// running code (the procedure's, or the immediate evaluation's), which is
// what lets a running activation find a resolved name again with one array
// access (the lookup cache, context.h).
//
//   kind 1, Sid (simple identifier), size 10:
//     7   1   type byte: an IdType in its low five bits, 0 untyped (the
//             suffix written after the name: x%, x$)
//     8   2   identifier index; 65535 True, 65534 False (no look-up at
//             all); ignored for Me (flag 8)
//
//   kind 2, Cid (identifier with arguments), size 12 + the arguments:
//     7   1   type byte
//     8   2   identifier index; 65535 with flag 8 for Me, 65535 without it
//             while the builder has not been given the name yet
//     10  2   argument count n
//     12  ... the n argument nodes end to end
//
//   kind 3, Mid (member chain a.b.c), size 9 + the pieces:
//     7   2   piece count n
//     9   ... the n pieces, each a Sid or Cid, end to end
//
// A chain's first piece is resolved like any identifier where the chain
// stands; every later piece is a member of the object the piece before it
// gave, looked up in that object only (never among locals, static objects
// or globals).
#pragma once

#include <cstdint>
#include <memory>

#include "store/interp/exprnode.h"

namespace tq {

class InterObj;
class InterObjRep;

inline constexpr uint16_t kIdTrue = 65535;
inline constexpr uint16_t kIdFalse = 65534;
inline constexpr uint16_t kIdUnset = 65535;

class Sid final : public ExprNode {
public:
    static constexpr uint32_t kSize = 10;

    // The identifier at index of the code's identifier table, with the type
    // suffix it was written with.
    Sid(uint16_t idIndex, IdType type = IDT_UNTYPED);
    static std::unique_ptr<Sid> make(uint16_t idIndex, IdType type = IDT_UNTYPED) {
        return std::make_unique<Sid>(idIndex, type);
    }
    static std::unique_ptr<Sid> makeTrue() { return make(kIdTrue); }
    static std::unique_ptr<Sid> makeFalse() { return make(kIdFalse); }
    static std::unique_ptr<Sid> makeMe();

    IdType getIdType() const { return type_; }
    uint16_t idIndex() const { return LoadLE16(index_); }
    bool isMe() const { return (flags() & kMe) != 0; }
    bool isDotted() const { return (flags() & kDotted) != 0; }
    bool isTruthConstant() const { return !isMe() && idIndex() >= kIdFalse; }

    ValuePtr eval(Context& ctx, int32_t how) const;
    // ["."] then Me, True, False or the name; its type suffix; "()" when
    // flagged.
    void print(SourceControl& sc) const;

private:
    uint8_t type_;
    uint8_t index_[2];
};

static_assert(sizeof(Sid) == Sid::kSize, "a simple identifier is 10 bytes");

class Cid final : public ExprNode {
public:
    static constexpr uint32_t kArgsOffset = 12;

    // An identifier whose name is not given yet (defineBaseId or setMeFirst
    // give it) with one argument, or none when firstArg is null.
    static std::unique_ptr<Cid> make(ExprPtr firstArg);
    // existing with nextArg appended (both are freed).
    static std::unique_ptr<Cid> append(std::unique_ptr<Cid> existing, ExprPtr nextArg);
    // The same, with a node the compiler holds as a plain expression; it
    // must be a Cid ("existing->type() == EXPR_CID").
    static std::unique_ptr<Cid> append(ExprPtr existing, ExprPtr nextArg);

    // The arguments apply to Me itself (its default evaluation).
    void setMeFirst();
    // Takes the name, type and dotted flag of sid (or Me); the name must
    // not be given yet ("idx == -1"). sid is freed.
    void defineBaseId(std::unique_ptr<Sid> sid);

    IdType getIdType() const { return type_; }
    uint16_t idIndex() const { return LoadLE16(index_); }
    uint16_t argCount() const { return LoadLE16(count_); }
    bool isMe() const { return (flags() & kMe) != 0; }
    bool isDotted() const { return (flags() & kDotted) != 0; }
    const ExprNode* firstArg() const { return nodeAt(kArgsOffset); }

    ValuePtr eval(Context& lookup, Context& args, int32_t how) const;
    // The arguments, in order, each evaluated in ctx with a value required;
    // with byValue each is replaced by a copy of its own (the callee cannot
    // write back through it).
    ValueList getValueList(Context& ctx, int byValue) const;
    // ["."] then the name and suffix, or Me; the arguments joined by ", ",
    // in parentheses when they were written so, else after a blank.
    void print(SourceControl& sc) const;

private:
    Cid() : ExprNode(EXPR_CID, kArgsOffset) {}
    uint8_t type_;
    uint8_t index_[2];
    uint8_t count_[2];
};

static_assert(sizeof(Cid) == Cid::kArgsOffset, "an identifier with arguments has a 12-byte head");

class Mid final : public ExprNode {
public:
    static constexpr uint32_t kPiecesOffset = 9;

    // existing (a Sid or Cid) followed by nextPiece starts a chain; an
    // existing Mid is extended. nextPiece must be a Sid or Cid. Both are
    // freed.
    static std::unique_ptr<Mid> make(ExprPtr existing, ExprPtr nextPiece);

    uint16_t pieceCount() const { return LoadLE16(count_); }
    const ExprNode* firstPiece() const { return nodeAt(kPiecesOffset); }
    // The last piece; null for a chain with no pieces.
    const ExprNode* lastPiece() const;

    ValuePtr eval(Context& lookup, Context& args, int32_t how) const;
    // Evaluates every piece but the last and returns the object reached
    // with last set to the last piece. NotObjectReference
    // when a piece gives no object reference; Is_Null "object is empty"
    // (32743) for a chain with no pieces. With entry given, a chain of two
    // plain names whose first names nothing where the code runs may name an
    // enumeration's entry ("Color.Red", enumname.h): its constant is put in
    // *entry and a null object returned.
    InterObj getBaseObj(Context& lookup, Context& args, const ExprNode*& last, ValuePtr* entry = nullptr) const;

    // Turns the chain's last piece, a Sid, into the base of c (see
    // ExprNode::convertToComplex).
    static std::unique_ptr<Mid> endWith(std::unique_ptr<Mid> chain, std::unique_ptr<Cid> c);

    // The pieces joined by ".".
    void print(SourceControl& sc) const;

private:
    Mid() : ExprNode(EXPR_MID, kPiecesOffset) {}
    // Evaluates the last piece, a plain name, as a member of obj.
    static ValuePtr evalMember(Context& lookup, Context& args, InterObjRep& obj, const ExprNode* last, int32_t how);
    uint8_t count_[2];
};

static_assert(sizeof(Mid) == Mid::kPiecesOffset, "a member chain has a 9-byte head");

// The object a value refers to, for the next piece of a chain:
// NotObjectReference for a value that is no object, Is_Null 32744 for
// Nothing.
InterObjRep* ObjectOf(const ValuePtr& v);

}  // namespace tq
