// Procedures of shared libraries: the methods a Declare line makes.
//
//   Declare Sub Name Lib "library" [Alias "symbol"] ([parameters])
//   Declare Function Name Lib "library" [Alias "symbol"] ([parameters]) As Type
//
// CDLLProcField (a Sub) and CDLLFuncField (a Function) call a C function of
// a shared library with the arguments of the call (fncaller.h says how each
// language type crosses). The library is opened (platform DynamicLibrary:
// a path, a soname such as "libm.so.6", or a bare name along the loader's
// search rules) and the symbol looked up at the first call, then kept
// until the field goes: a module with a declaration of a library that is
// missing loads, and fails only where the declaration is called.
//
// Life of the binding:
//
//   unbound --first eval: Open + Symbol--> bound --~field--> library closed
//      |                                     ^
//      +--missing library or symbol: the call raises; the next call tries again
//
// Record, inside its signature's field list (field.h):
//
//   width  meaning
//   1      field kind: 18 CDLLProcField, 19 CDLLFuncField
//   5      name, an identifier reference
//   1      field flags
//   5      parameter prototype, an object reference (null: no parameters)
//   1      kind 19 only: the return type, 1 to 7
//   4+n    library name: length, then the bytes (not empty, no NUL)
//   1      1 when an Alias follows, 0 when the declaration has none
//   4+n    alias: length, then the bytes (no NUL); only when flagged
//   4+n    the declaration as written, for printing it back: length, then
//          the bytes; 0 bytes when it was made without one
//
// Invariants:
//  1. Every parameter is a value field of a type a C function can take
//     (Integer to Object, or untyped), never an array, an embedded object,
//     an enumeration or a specific class: checked when the record is read
//     and again before the first call.
//  2. The entry point is null until the library and symbol are found, and
//     the library handle is held exactly while the entry point is set.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "store/interp/fncaller.h"
#include "store/methfld.h"

namespace tq {

class CDLLProcField : public MethodField {
public:
    // alias null: the declaration has none (the symbol is the name); text:
    // the declaration as written, null to print it from its parts.
    CDLLProcField(const char* name, const char* alias, const char* dll, const char* text = nullptr);
    CDLLProcField(const CDLLProcField& other);
    ~CDLLProcField() override;

    Field* clone() const override { return new CDLLProcField(*this); }
    bool isProcedure() const override { return true; }
    IdType type() const override { return IDT_VOID; }
    void write(OCLStream& out) const override;
    ValuePtr eval(InterObjRep& obj, const ValueList* args) override;
    // The declaration as written, or made from its parts: "Declare Sub
    // Name Lib "dll" [Alias "alias"] (parameters)", then "\r\n".
    std::string getSource() const override;

    const std::string& dllName() const { return dll_; }
    bool hasAlias() const { return hasAlias_; }
    const std::string& alias() const { return alias_; }
    // The symbol looked up: the alias when it is given and not empty, else
    // the field's own name.
    const char* symbol() const;

    // Reads the rest of a record of kind 18 or 19 (field.h's reader).
    static Field* Read(OCLStream& in, tModuleIndex m, uint8_t kind);
    // Raises, naming the declaration, when a parameter of proto is not a
    // value a C function can take.
    void checkParameterTypes(InterObjRep* proto) const;

    // The call as register code makes it (regnative.cpp): ready() first,
    // which raises as eval does before it binds any argument (a parameter
    // with no C form, the library or symbol missing); then callNative with
    // the arguments converted to their parameters' types, in the forms of
    // CFunctionCaller::evalNative.
    void ready();
    void callNative(const uint8_t* forms, void** values, size_t n, NativeWord& result) {
        caller_->evalNative(entry_, forms, values, n, result);
    }

protected:
    struct tFromRecord {};
    explicit CDLLProcField(tFromRecord);
    // Opens the library and finds the symbol when not done yet; raises
    // DllLoadFailure or DllFuncMissing naming the declaration, the library
    // and the loader's reason.
    void bind();
    ValuePtr call(InterObjRep& obj, const ValueList* args, const char* where);
    void writeCommon(OCLStream& out, uint8_t kind) const;
    void readCommon(OCLStream& in, tModuleIndex m);
    std::string header() const;

    std::string dll_;
    std::string alias_;
    bool hasAlias_ = false;
    std::string text_;
    void* library_ = nullptr;
    void (*entry_)() = nullptr;
    bool typesChecked_ = false;
    std::unique_ptr<CFunctionCaller> caller_;
};

class CDLLFuncField final : public CDLLProcField {
public:
    CDLLFuncField(const char* name, IdType returnType, const char* alias, const char* dll,
                  const char* text = nullptr);
    CDLLFuncField(const CDLLFuncField& other);

    Field* clone() const override { return new CDLLFuncField(*this); }
    bool isProcedure() const override { return false; }
    bool isFunction() const override { return true; }
    IdType type() const override { return returnType_; }
    void write(OCLStream& out) const override;
    ValuePtr eval(InterObjRep& obj, const ValueList* args) override;
    std::string getSource() const override;

private:
    friend class CDLLProcField;
    explicit CDLLFuncField(tFromRecord t) : CDLLProcField(t) {}

    IdType returnType_ = IDT_LONG;
};

}  // namespace tq
