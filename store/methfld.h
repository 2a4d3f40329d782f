// MethodField: the base of the fields whose value is code (interpreted Sub
// and Function procedures, procedures of a DLL, compiled methods).
//
// Here is what a signature needs of every method: that it is one, and the
// double dispatch through which it is added to and removed from a
// signature.
//
// InterProcField (a Sub) and InterFuncField (a Function) are the
// procedures of the language: the code the compiler made (an identifier
// table its nodes index, and a block table whose last block is the body)
// and, for a function, the field that gives its return type. This is what
// the interpreter reads of a running procedure (context.h); calling one
// on an object, its parameters and its record in the module file come
// with procedure calls.
#pragma once

#include <cstdint>

#include "store/block.h"
#include "store/field.h"
#include "store/persist/idstr.h"

namespace tq {

class MethodField : public Field {
public:
    using Field::Field;

    bool isMethod() const override { return true; }
    void addField(SignatureRep& sig, int prepend, Value* init) override;
    void removeField(SignatureRep& sig) override;
};

class InterProcField : public MethodField {
public:
    // Takes over the compiler's tables (emptied for reuse) into the module
    // being opened.
    InterProcField(const char* name, IdDynamicVector& ids, BlockDynamicVector& blocks);
    InterProcField(const InterProcField& other);

    Field* clone() const override { return new InterProcField(*this); }
    bool isProcedure() const override { return true; }
    bool isInterMethod() const override { return true; }
    IdType type() const override { return IDT_VOID; }
    // Procedures are not yet part of module files: a signature that holds
    // one cannot be saved (StoreException), rather than be saved without it.
    void write(OCLStream& out) const override;
    void attach(tModuleIndex m) override;

    const IdStringVector& identifiers() const { return ids_; }
    const BlockVector& blocks() const { return blocks_; }
    // Compiled: the block table is not empty; its last block is the body.
    bool isCompiled() const { return blocks_.length() != 0; }
    BlockRep* body() const { return blocks_.body(); }
    // The index of the procedure's own name in its identifier table (where
    // a function's code assigns its return value), -1 when it has none.
    int32_t ownNameIndex() const { return ownNameIndex_; }

protected:
    void findOwnName() { ownNameIndex_ = ids_.findString(name()); }

    IdStringVector ids_;
    BlockVector blocks_;
    int32_t ownNameIndex_ = -1;
};

class InterFuncField final : public InterProcField {
public:
    // returnField gives the return type; the function keeps it.
    InterFuncField(const char* name, IdDynamicVector& ids, BlockDynamicVector& blocks,
                   InterDataField* returnField);
    InterFuncField(const InterFuncField& other);

    Field* clone() const override { return new InterFuncField(*this); }
    bool isProcedure() const override { return false; }
    bool isFunction() const override { return true; }
    IdType type() const override;
    InterDataField* returnField() const;
    // v converted to the return type (the return field's conversion).
    void convertReturn(ValuePtr& v) const;

private:
    FieldPtr returnField_;
};

}  // namespace tq
