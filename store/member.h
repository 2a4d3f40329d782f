// Member: anything the interpreter can evaluate by name.
//
// Looking a name up on an object yields a Member: a value (a data field's
// value, a static object, a plain evaluation result) or a method bound to an
// object. The interpreter then calls memberEval, which checks what the
// calling expression demands of the member (its type suffix, whether it is
// the target of an assignment, whether a value must or must not come back)
// before the member evaluates itself with the arguments.
//
// Members are counted (CountedObject, 16 bits) and always live on the heap;
// MemberPtr holds one count and deletes the member when the last count goes.
// A new member holds no count until a MemberPtr (or ValuePtr, ValueList)
// takes it.
//
// Invariants:
//  1. A member is deleted exactly when its count drops from 1 to 0; dropping
//     a count that is not held is the assertion "count>0".
//  2. The eight virtual operations keep their order (destructor, memberKind,
//     type, asValue, virtualMemberEval, isDirect, owner, field); Value adds
//     its own after them.
#pragma once

#include <cstdint>
#include <utility>

#include "store/cntedobj.h"
#include "store/idtype.h"

namespace tq {

class Field;
class InterObjRep;
class Value;
class ValueList;
class ValuePtr;

// Evaluation flags ("how") passed down with every evaluation.
enum : int32_t {
    EVAL_VALUE_REQUIRED = 1,   // a value must come back
    EVAL_NO_VALUE = 2,         // no value is wanted
    EVAL_ASSIGN_TARGET = 4,    // the member is the target of an assignment
    EVAL_DOTTED = 8,           // looked up through a dot
    EVAL_FROM_OUTSIDE = 16,    // the caller is not the object's own Me
};

class Member : public CountedObject {
public:
    // What kind of thing a member is; memberEval refuses a procedure as the
    // target of an assignment.
    enum tMemberKind : uint8_t {
        MEMBER_VALUE = 0,      // a Value: evaluates to itself
        MEMBER_PROCEDURE = 1,  // a Sub: evaluates to no value
        MEMBER_FUNCTION = 2,   // a Function: evaluates to a new value
    };

    // 1.
    ~Member() override;
    // 2.
    virtual tMemberKind memberKind() const = 0;
    // 3. The language type of what the member evaluates to (IdType code).
    virtual IdType type() const = 0;
    // 4. The member as a Value, or null for members that are not values, so
    //    that the interpreter can use a cached value without evaluating it.
    virtual Value* asValue();
    // 5. Evaluates the member with args (null or empty for none). Returns the
    //    value, or null for a member that gives none.
    virtual ValuePtr virtualMemberEval(const ValueList* args) = 0;
    // 6. Whether the member holds its own datum (a DirectValue) rather than
    //    reaching storage owned elsewhere.
    virtual bool isDirect() const;
    // 7. The object this member was made for, or null for a free-standing
    //    member. Lookup caches drop the members of an object through this.
    virtual InterObjRep* owner() const;
    // 8. The field this member evaluates, or null when it is not a field's.
    virtual Field* field() const;

    // Evaluation as an expression demands it: typeCode (low five bits; 0 for
    // an untyped name) must be the member's type, how carries the
    // EVAL_ flags above. Raises TypeMismatch "memberEval" for a wrong type
    // suffix, message 32722 for a procedure as an assignment target, 32690
    // when a value is required and none comes back and 32689 when a value
    // comes back that is not wanted (the value is released first).
    ValuePtr memberEval(IdType typeCode, const ValueList* args, int32_t how);
    // memberEval's checks, for a caller that runs a member it knows without
    // making one: before, of a member of kind and type declared; after, of
    // what came back (released before its failure is raised).
    static void CheckDemand(tMemberKind kind, IdType declared, IdType typeCode, int32_t how);
    static void CheckResult(ValuePtr& result, int32_t how);

    // Releases one count; the last deletes the member.
    void deref() {
        if (dropCount()) delete this;
    }

    // What the interpreter may know of a member without asking it.
    enum : uint16_t {
        // A value (never an Object value) that evaluates to itself when it
        // is given no arguments: resolving it needs no call.
        kSelfValued = 0x01,
        // A local variable of a running frame as a lookup cache keeps it
        // (interp/localval.h).
        kFrameLocal = 0x02,
        // The value of a whole array (ArrayReferenceFieldValue): indexing it
        // reaches an element without a call.
        kArrayReference = 0x04,
        // A frame local of type Long or Double (a LocalValue): its datum can
        // be reached without a virtual call (interp/localval.h, LocalDatum).
        kLongLocal = 0x08,
        kDoubleLocal = 0x10,
        // A data field of type Long or Double of an object as a lookup cache
        // keeps it (a DatumFieldValue): its datum can be reached without a
        // virtual call (model/fldval.h, NumberField).
        kLongField = 0x20,
        kDoubleField = 0x40,
        // A frame local of type String (a LocalValue): its slot can be
        // reached without a virtual call (interp/localval.h, LocalText).
        kStringLocal = 0x80,
        // A parameter of type Long or Double of a running call (an
        // ArgumentValue): its datum, or for a by-reference one the datum
        // of the caller's value, can be read without a virtual call
        // (interp/argval.h, ArgumentDatum).
        kLongArgument = 0x100,
        kDoubleArgument = 0x200,
        // A Long or Double value that holds its datum (a DirectValue): a
        // by-reference parameter bound to it reads the datum without a
        // virtual call.
        kLongDatum = 0x400,
        kDoubleDatum = 0x800,
    };
    uint16_t memberTraits() const { return traits_; }

protected:
    Member() = default;
    Member(const Member&) = default;
    Member& operator=(const Member&) = default;

    uint16_t traits_ = 0;
};

// A counted pointer to a member of class T: holds one count while it points
// at something. Copying takes a count; destroying or resetting drops one.
template <class T>
class CountedMemberPtr {
public:
    CountedMemberPtr() = default;
    CountedMemberPtr(std::nullptr_t) {}
    CountedMemberPtr(T* p) : p_(p) {
        if (p_) p_->ref();
    }
    CountedMemberPtr(const CountedMemberPtr& other) : CountedMemberPtr(other.p_) {}
    CountedMemberPtr(CountedMemberPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    template <class U>
    CountedMemberPtr(const CountedMemberPtr<U>& other) : CountedMemberPtr(other.get()) {}
    template <class U>
    CountedMemberPtr(CountedMemberPtr<U>&& other) noexcept : p_(other.detach()) {}
    ~CountedMemberPtr() {
        if (p_) p_->deref();
    }

    CountedMemberPtr& operator=(const CountedMemberPtr& other) {
        reset(other.p_);
        return *this;
    }
    CountedMemberPtr& operator=(CountedMemberPtr&& other) noexcept {
        if (this != &other) {
            T* old = std::exchange(p_, std::exchange(other.p_, nullptr));
            if (old) old->deref();
        }
        return *this;
    }

    // Points at p: takes p's count before dropping the old one, so that
    // resetting to the member already held never deletes it.
    void reset(T* p = nullptr) {
        if (p) p->ref();
        T* old = std::exchange(p_, p);
        if (old) old->deref();
    }

    // Gives up the pointer together with its count: the caller now holds the
    // count and must drop it with deref().
    T* detach() noexcept { return std::exchange(p_, nullptr); }

    T* get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }
    T& operator*() const noexcept { return *p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }

    friend bool operator==(const CountedMemberPtr& a, const CountedMemberPtr& b) {
        return a.p_ == b.p_;
    }
    friend bool operator==(const CountedMemberPtr& a, std::nullptr_t) { return a.p_ == nullptr; }

private:
    T* p_ = nullptr;
};

class MemberPtr : public CountedMemberPtr<Member> {
public:
    using CountedMemberPtr<Member>::CountedMemberPtr;
};

}  // namespace tq
