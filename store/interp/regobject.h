// Object variables, As New locals, array parameters and For Each in the
// register form (regobject.cpp).
//
// An Object local (`Dim f As Object`) lives in a value register of its
// activation. The register holds null or an ObjectValue (a direct value,
// never one that reads storage elsewhere): null and a value holding no
// object are both Nothing, and an object destroyed since it was stored
// reads as Nothing too, as the local's slot reads on the tree walker. A
// register is set to null when its block is entered again, and the
// activation's value file is emptied when the activation ends, however it
// ends (RegStack::Give), so no count on an object outlives the call.
//
// An As New local (`Dim f As New TextFile`) is made as its block is
// entered, a detached object of its type as the tree walker makes it, and
// destroyed when the block ends: by the end of the block's code, or by
// the end of the activation when a return or a failure leaves the block
// (an Exit For or Exit Do out of such a block is not taken). The form
// reads it only as the holder of the members it calls (regcompiled.cpp).
//
// An array parameter is the caller's array value, held in a value
// register as binding holds it (by reference, never copied); its elements
// and bounds are read through that value. Writing it or passing it on is
// not taken.
//
// For Each takes the members it walks before the first turn, with the tree
// walker's own rule (ForNext::TakeMembers), into a member list of the
// activation; each turn passes over the members destroyed meanwhile and
// assigns the next one to the loop variable's register. The list is
// emptied when the loop ends, also by Exit For, and with the activation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "store/interp/regform.h"
#include "store/model/objval.h"

namespace tq {

// The members a running For Each walks, and the index of the next one.
struct RegMembers {
    std::vector<InterObj> members;
    size_t next = 0;
};

// Operands: value registers hold objects; a is the destination.
// value a = Nothing, for registers [a, a + b) (a block entered again)
inline constexpr RegOp ROP_RESET_V = static_cast<RegOp>(kObjectFirst);
// value a = value b (one object variable to another); y, when not 0,
// names the declared type of variable a (RegisterForm::objectTypes)
inline constexpr RegOp ROP_OBJ_MOVE = static_cast<RegOp>(kObjectFirst + 1);
// value a = the object of object site b: its target itself (x = 1: Me or a
// named object) or the member of the target it names (x = 0), which must
// give an object
inline constexpr RegOp ROP_OBJ_GET = static_cast<RegOp>(kObjectFirst + 2);
// number a = whether value b and value c name the same object (x = BINOP_EQ)
// or not (BINOP_NE): -1 or 0
inline constexpr RegOp ROP_OBJ_COMPARE = static_cast<RegOp>(kObjectFirst + 3);
// member list a = the members of the object in value b that a For Each of
// loop type x walks (ForNextLoopType)
inline constexpr RegOp ROP_EACH_BEGIN = static_cast<RegOp>(kObjectFirst + 4);
// value a = the next member of list b not destroyed (y as for
// ROP_OBJ_MOVE), then to the body at t = c after offering the user break;
// when none is left, on
inline constexpr RegOp ROP_EACH_NEXT = static_cast<RegOp>(kObjectFirst + 5);
// member list a emptied (the loop is left)
inline constexpr RegOp ROP_EACH_END = static_cast<RegOp>(kObjectFirst + 6);
// An array parameter held as a value (value register b): a = the element
// at the y boxed indices in value registers [c, c + y), into the file x
// (a number register of the element type, or a string register)
inline constexpr RegOp ROP_HELD_ELEMENT = static_cast<RegOp>(kObjectFirst + 7);
// number a = LBound (x = 0) or UBound (x = 1) of the array held in value
// b, dimension in number register c (< 0: the first)
inline constexpr RegOp ROP_HELD_BOUND = static_cast<RegOp>(kObjectFirst + 8);
// As New local in value a, of field embeds[b]: the object it holds (one
// left from an earlier entry of its block) destroyed, a new one made
inline constexpr RegOp ROP_EMBED_NEW = static_cast<RegOp>(kObjectFirst + 9);
// As New locals in value registers [a, a + b): their objects destroyed
// (their block ends)
inline constexpr RegOp ROP_EMBED_DROP = static_cast<RegOp>(kObjectFirst + 10);

// The object an object register names now: null for Nothing and for an
// object destroyed since.
inline InterObjRep* RegHeldObject(const ValuePtr& v) {
    if (!v) return nullptr;
    InterObjRep* o = static_cast<const ObjectValue&>(*v).datum().get();
    return o && !o->isDestroyed() ? o : nullptr;
}

// A local the form holds in an object register: an Object variable, of a
// declared type or none (a strict one checks its type name whenever it is
// read; an embedded one is made with its block).
bool RegIsObjectLocal(const Field& f);

// The As New locals of form still holding their objects in values are
// destroyed, as the end of their block destroys them on the tree walker:
// when the activation ends, however it ends.
void RegDropEmbeds(const RegisterForm& form, ValuePtr* values) noexcept;

// An expression naming an object the core does not hold in a register:
// Me, an object named where the procedure is written, or an object field
// of Me or of such an object ("Items", "Me.Items", "Holder.Items"), into a
// new value register; false, emitting nothing, when e is none of these.
bool RegTranslateObjectRead(RegCompiler& rc, const ExprNode* e, RegOperand& out);

}  // namespace tq
