// Enumeration entries named in code: "c = Red", "Color.Red", "Case Red".
//
// An entry's name is a constant of the value it stands for. The code keeps
// the name as it was written (a plain identifier, or a chain of two), so
// that it prints back by name; the name is resolved where the code runs,
// after everything else a name can mean:
//
//   Red          locals and parameters, Me, the static objects, the global
//                objects; then the entries of the enumerations of the
//                loaded modules. An entry name that two of them hold is
//                refused (the code names which one it means); the built-in
//                enumerations (Boolean, EvalRequires, ...) answer only to
//                their qualified names, so that a short word a program
//                forgot to declare does not quietly become one of theirs.
//   Color.Red    when Color names nothing else: the entry Red of the
//                enumeration Color, wherever it was made.
//
// Invariants:
//  1. An entry's value never changes through the name: assigning to it, or
//     through a by-reference parameter bound to it, raises "Attempt to set
//     a constant value" (32695), as a Const does.
//  2. A name that no entry answers to is reported as not found, as before
//     enumerations were looked at.
#pragma once

#include <cstdint>

#include "store/vals.h"

namespace tq {

// The read-only Long of an entry named in code.
class EnumConstantValue final : public TypedValue<int32_t, IDT_LONG> {
public:
    explicit EnumConstantValue(int32_t value) : value_(value) {}

    void get(int16_t& out) const override;
    void get(int32_t& out) const override;
    void get(float& out) const override;
    void get(double& out) const override;
    void get(Currency& out) const override;
    void get(ValString& out) const override;
    void get(InterObj& out) const override;

    // Each raises StoreException 32695.
    void set(int16_t v) override;
    void set(int32_t v) override;
    void set(float v) override;
    void set(double v) override;
    void set(const Currency& v) override;
    void set(const ValString& v) override;
    void set(const InterObj& v) override;

    void getStackPusher(GenericStackPusher& pusher) const override;

private:
    int32_t value_;
};

// The constant of the entry `name` among the enumerations of the loaded
// modules; null when none holds it. StoreException when two do.
ValuePtr EnumEntryNamed(const char* name);

// The constant of entry `entry` of the enumeration `enumeration` (any,
// built-in ones included); null when there is no such enumeration, and
// NotFound 32740 ("Color.Blue") when it has no such entry.
ValuePtr EnumEntryOf(const char* enumeration, const char* entry);

}  // namespace tq
