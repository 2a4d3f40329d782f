// MethodField: the base of the fields whose value is code (interpreted Sub
// and Function procedures, procedures of a DLL, compiled methods).
//
// Here is what a signature needs of every method: that it is one, and the
// double dispatch through which it is added to and removed from a
// signature. Running a method, its parameters and its record belong to the
// procedure classes built on this base.
#pragma once

#include "store/field.h"

namespace tq {

class MethodField : public Field {
public:
    using Field::Field;

    bool isMethod() const override { return true; }
    void addField(SignatureRep& sig, int prepend, Value* init) override;
    void removeField(SignatureRep& sig) override;
};

}  // namespace tq
