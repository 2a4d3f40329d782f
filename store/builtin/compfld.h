// The members of built-in classes: compiled methods and properties.
//
// A built-in class declares its members on its signature with member
// functions of its own C++ class: a method by a declaration line and a
// member function (ParseCppField, publish.h), a property by a getter and a
// setter (CompProcDataField::make, CompProcEnumField::make). Each member
// keeps the member function as a MemberPointer, bound to the class's
// IInterObj base when it is declared, and one caller of the foreign-call
// layer chosen once by the result type (interp/fncaller.h). A call binds
// nothing: the arguments are checked against the method's parameter
// prototype, converted in place, and passed to the member function of the
// object's compiled part.
//
// Native forms of the member functions' parameters and results (the
// caller's): Integer int16_t, Long int32_t, Single float, Double double,
// Currency int64_t hundredths (by value as the pusher gives it), String
// const char* by value, Object const InterObj* by value; by reference the
// address of the value's storage; a String result is a ValString, an Object
// result an InterObj, both returned by value.
//
// None of these fields is written with its signature (isNonWritingField):
// the class declares them again whenever a signature of it is read.
#pragma once

#include <memory>
#include <string>

#include "store/interp/fncaller.h"
#include "store/methfld.h"
#include "store/model/enumfld.h"
#include "store/model/intfld.h"

namespace tq {

class EnumRep;

// The caller of a member's result type, made on the member's first call: a
// process declares every member of every built-in class at start-up, and
// calls few of them. A copy makes its own caller when it is first called.
class MemberCaller {
public:
    // A type no caller is made for is a fault of the class's own
    // declaration, never of a program, and is caught here.
    explicit MemberCaller(IdType type);
    MemberCaller(const MemberCaller& other) : type_(other.type_) {}
    MemberCaller& operator=(const MemberCaller&) = delete;
    ~MemberCaller();

    CppFunctionCaller* operator->() {
        if (!caller_) [[unlikely]]
            caller_ = CppFunctionCaller::classFactory(type_);
        return caller_.get();
    }

private:
    uint8_t type_;
    std::unique_ptr<CppFunctionCaller> caller_;
};

// A Sub of a built-in class.
class CppProcField : public MethodField {
public:
    // name is interned in the current module; text is the declaration.
    CppProcField(const char* name, const MemberPointer& method, const char* text);
    CppProcField(const CppProcField& other);
    ~CppProcField() override;

    Field* clone() const override { return new CppProcField(*this); }
    bool isProcedure() const override { return true; }
    bool isNonWritingField() const override { return true; }
    bool isCompiledMethod() const override { return true; }
    IdType type() const override { return IDT_VOID; }
    // Never written: the class declares it again.
    void write(OCLStream&) const override {}
    // Runs the member function on obj's compiled part. AccessDenied when obj
    // may not be read, Is_Null 32743 for a null member function,
    // TooManyArguments / TooFewArguments and the conversions of binding for
    // arguments that do not fit.
    ValuePtr eval(InterObjRep& obj, const ValueList* args) override;
    // "Sub Name(params)\r\n  ' Compiled method\r\nEnd Sub\r\n", made once.
    std::string getSource() const override;

    const MemberPointer& method() const { return method_; }
    const std::string& declaration() const { return text_; }
    // The call as register code makes it when there are no arguments: the
    // checks of eval, then the code to call with self (adjusted); null
    // code when obj has no compiled part (eval gives the zero value).
    void* nativeCode(InterObjRep& obj, void*& self);

protected:
    CppProcField(const char* name, const MemberPointer& method, const char* text, uint8_t returnType);
    // The parameters as the prototype prints them.
    std::string parameterText() const;
    const char* where() const { return isFunction() ? "CppFuncField::eval()" : "CppProcField::eval()"; }

    MemberPointer method_;
    std::string text_;
    MemberCaller caller_;
};

// A Function of a built-in class; an Object result may name its class.
class CppFuncField final : public CppProcField {
public:
    CppFuncField(const char* name, const MemberPointer& method, IdType returnType, const char* text,
                 const char* returnClass = nullptr);
    CppFuncField(const CppFuncField& other);

    Field* clone() const override { return new CppFuncField(*this); }
    bool isProcedure() const override { return false; }
    bool isFunction() const override { return true; }
    IdType type() const override { return returnType_; }
    const char* typeName() const override { return returnClass_.empty() ? nullptr : returnClass_.c_str(); }
    std::string getSource() const override;

private:
    IdType returnType_;
    std::string returnClass_;
};

// A property of a fundamental or Object type, read by a getter and written
// by a setter of the class; read-only without a setter.
class CompProcDataField : public DataField {
public:
    // The property named `name` in the detached module; the setter first.
    static CompProcDataField* make(const char* name, IdType type, const MemberPointer& setter,
                                   const MemberPointer& getter);
    CompProcDataField(const CompProcDataField& o);
    ~CompProcDataField() override;

    Field* clone() const override { return new CompProcDataField(*this); }
    bool isCompDataField() const override { return true; }
    bool isProcDataField() const override { return true; }
    bool isNonWritingField() const override { return true; }
    bool isReadOnly() const override { return setter_.isNull(); }
    IdType type() const override { return type_; }
    int32_t size() const override { return 0; }
    void write(OCLStream&) const override {}
    void addField(SignatureRep& sig, int prepend, Value* init) override;
    void removeField(SignatureRep& sig) override;
    ValuePtr getValue(InterObjRep& obj, SignatureRep& owner) override;
    MemberPtr getMember(InterObjRep& obj, SignatureRep& owner) override;
    // The getter as register code calls it: the checks of a read, then the
    // code to call with self (adjusted); null code when obj has no
    // compiled part (the read gives the zero value).
    void* getterCode(InterObjRep& obj, void*& self);

    void get(int16_t& out, InterObjRep& obj, SignatureRep& owner) override;
    void get(int32_t& out, InterObjRep& obj, SignatureRep& owner) override;
    void get(float& out, InterObjRep& obj, SignatureRep& owner) override;
    void get(double& out, InterObjRep& obj, SignatureRep& owner) override;
    void get(Currency& out, InterObjRep& obj, SignatureRep& owner) override;
    void get(ValString& out, InterObjRep& obj, SignatureRep& owner) override;
    void get(InterObj& out, InterObjRep& obj, SignatureRep& owner) override;
    void set(int16_t v, InterObjRep& obj, SignatureRep& owner) override;
    void set(int32_t v, InterObjRep& obj, SignatureRep& owner) override;
    void set(float v, InterObjRep& obj, SignatureRep& owner) override;
    void set(double v, InterObjRep& obj, SignatureRep& owner) override;
    void set(const Currency& v, InterObjRep& obj, SignatureRep& owner) override;
    void set(const ValString& v, InterObjRep& obj, SignatureRep& owner) override;
    void set(const InterObj& v, InterObjRep& obj, SignatureRep& owner) override;

protected:
    CompProcDataField(const char* name, IdType type, const MemberPointer& setter, const MemberPointer& getter);
    // The getter's value (AccessDenied when obj may not be read).
    ValuePtr fetch(InterObjRep& obj);
    // AccessDenied when obj may not be read, Is_Null without a getter.
    void checkRead(InterObjRep& obj) const;
    // The setter with v, a value of the property's type (AccessDenied for a
    // read-only property or an object that may not be written).
    void store(Value& v, InterObjRep& obj);
    template <class X>
    void read(X& out, InterObjRep& obj);
    template <class X>
    void write(const X& v, InterObjRep& obj);

    IdType type_;
    MemberPointer setter_;
    MemberPointer getter_;
    MemberCaller getCaller_;
    MemberCaller setCaller_;
};

// A property typed by an enumeration: a Long whose values are the
// enumeration's entries (assigning an entry's name stores its value).
class CompProcEnumField final : public CompProcDataField {
public:
    static CompProcEnumField* make(const char* name, EnumRep* e, const MemberPointer& setter,
                                   const MemberPointer& getter);
    CompProcEnumField(const CompProcEnumField& o);

    Field* clone() const override { return new CompProcEnumField(*this); }
    bool isEnumeration() const override { return true; }
    EnumRep* enumeration() const override { return enum_.get(); }
    ValuePtr getValue(InterObjRep& obj, SignatureRep& owner) override;

    using CompProcDataField::get;
    using CompProcDataField::set;
    void get(ValString& out, InterObjRep& obj, SignatureRep& owner) override;
    void set(int16_t v, InterObjRep& obj, SignatureRep& owner) override;
    void set(int32_t v, InterObjRep& obj, SignatureRep& owner) override;
    void set(float v, InterObjRep& obj, SignatureRep& owner) override;
    void set(double v, InterObjRep& obj, SignatureRep& owner) override;
    void set(const Currency& v, InterObjRep& obj, SignatureRep& owner) override;
    void set(const ValString& v, InterObjRep& obj, SignatureRep& owner) override;

private:
    CompProcEnumField(const char* name, EnumRep* e, const MemberPointer& setter, const MemberPointer& getter);

    EnumTypeRef enum_;
};

}  // namespace tq
