#include "store/builtin/compfld.h"

#include <string_view>

#include "store/errors/extexcep.h"
#include "store/iintobj.h"
#include "store/model/fldval.h"
#include "store/model/interobj.h"
#include "store/model/objval.h"
#include "store/model/sigrep.h"
#include "store/persist/objstore.h"
#include "store/vals.h"

namespace tq {
namespace {

// The type code of the value that holds a datum of type X.
template <class X> constexpr IdType kCodeOf = IDT_UNTYPED;
template <> constexpr IdType kCodeOf<int16_t> = IDT_SHORT;
template <> constexpr IdType kCodeOf<int32_t> = IDT_LONG;
template <> constexpr IdType kCodeOf<float> = IDT_FLOAT;
template <> constexpr IdType kCodeOf<double> = IDT_DOUBLE;
template <> constexpr IdType kCodeOf<Currency> = IDT_CURRENCY;
template <> constexpr IdType kCodeOf<ValString> = IDT_STRING;

// The parameter list of a declaration, "(...)" as written, "()" when it
// has none.
std::string_view ParameterPart(const std::string& text) {
    const size_t open = text.find('(');
    const size_t close = text.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open) return "()";
    return std::string_view(text).substr(open, close - open + 1);
}

}  // namespace

MemberCaller::MemberCaller(IdType type) : type_(static_cast<uint8_t>(type & IDT_TYPEMASK)) {
    TQ_ASSERT(CppFunctionCaller::makesCallerFor(type_), "Unimplemented function returns");
}

MemberCaller::~MemberCaller() = default;

// ---- CppProcField -------------------------------------------------------------------------

CppProcField::CppProcField(const char* name, const MemberPointer& method, const char* text)
    : CppProcField(name, method, text, IDT_VOID) {}

CppProcField::CppProcField(const char* name, const MemberPointer& method, const char* text, uint8_t returnType)
    : MethodField(name), method_(method), text_(text ? text : ""), caller_(returnType) {}

CppProcField::CppProcField(const CppProcField& other)
    : MethodField(other),
      method_(other.method_),
      text_(other.text_),
      caller_(other.caller_) {}

CppProcField::~CppProcField() = default;

ValuePtr CppProcField::eval(InterObjRep& obj, const ValueList* args) {
    if (!obj.isReadAllowed()) throw AccessDenied(where(), 32755);
    if (method_.isNull()) throw Is_Null("CppProcField::eval()", 32743);
    IInterObj* self = obj.RWCDataPtr(0);
    InterObjRep* proto = parameterPrototype();
    if (!proto) {
        if (args && !args->isEmpty()) throw TooManyArguments(where(), 32763);
        return caller_->eval(self, nullptr, method_);
    }
    // Binding converts each argument to its parameter's type in a list of
    // its own, in parameter order (a call lists them last first), and marks
    // the by-reference ones, which the caller passes by address.
    ValueList bound;
    if (args)
        for (int32_t i = args->length(); i-- > 0;) bound.append(ValuePtr(args->at(i)));
    proto->checkBindings(&bound);
    return caller_->evalInOrder(self, bound, method_);
}

void* CppProcField::nativeCode(InterObjRep& obj, void*& self) {
    if (!obj.isReadAllowed()) throw AccessDenied(where(), 32755);
    if (method_.isNull()) throw Is_Null("CppProcField::eval()", 32743);
    self = obj.RWCDataPtr(0);
    return self ? method_.resolve(self) : nullptr;
}

std::string CppProcField::parameterText() const { return std::string(ParameterPart(text_)); }

std::string CppProcField::getSource() const {
    return std::string("Sub ") + name() + parameterText() + "\r\n  ' Compiled method\r\nEnd Sub\r\n";
}

CppFuncField::CppFuncField(const char* name, const MemberPointer& method, IdType returnType, const char* text,
                           const char* returnClass)
    : CppProcField(name, method, text, returnType),
      returnType_(returnType),
      returnClass_(returnClass ? returnClass : "") {}

CppFuncField::CppFuncField(const CppFuncField& other)
    : CppProcField(other), returnType_(other.returnType_), returnClass_(other.returnClass_) {}

std::string CppFuncField::getSource() const {
    const std::string type =
        returnClass_.empty() ? std::string(IdTypeString(returnType_).string()) : returnClass_;
    return std::string("Function ") + name() + parameterText() + " As " + type +
           "\r\n  ' Compiled method\r\nEnd Function\r\n";
}

// ---- CompProcDataField --------------------------------------------------------------------

CompProcDataField::CompProcDataField(const char* name, IdType type, const MemberPointer& setter,
                                     const MemberPointer& getter)
    : DataField(name),
      type_(type),
      setter_(setter),
      getter_(getter),
      getCaller_(type),
      setCaller_(IDT_VOID) {}

CompProcDataField::CompProcDataField(const CompProcDataField& o)
    : DataField(o),
      type_(o.type_),
      setter_(o.setter_),
      getter_(o.getter_),
      getCaller_(o.getCaller_),
      setCaller_(o.setCaller_) {}

CompProcDataField::~CompProcDataField() = default;

CompProcDataField* CompProcDataField::make(const char* name, IdType type, const MemberPointer& setter,
                                           const MemberPointer& getter) {
    // Names of compiled members belong to no module file.
    ObjectStore::OpenModuleScope detached(DETACHED_MODULE);
    return new CompProcDataField(name, type, setter, getter);
}

void CompProcDataField::addField(SignatureRep& sig, int prepend, Value*) { sig.addCompiledField(*this, prepend); }
void CompProcDataField::removeField(SignatureRep& sig) { sig.removeField(name()); }

ValuePtr CompProcDataField::getValue(InterObjRep& obj, SignatureRep& owner) {
    return MakeFieldValue(*this, obj, owner);
}

MemberPtr CompProcDataField::getMember(InterObjRep& obj, SignatureRep& owner) { return getValue(obj, owner); }

ValuePtr CompProcDataField::fetch(InterObjRep& obj) {
    checkRead(obj);
    return getCaller_->eval(obj.RWCDataPtr(0), nullptr, getter_);
}

void CompProcDataField::checkRead(InterObjRep& obj) const {
    if (!obj.isReadAllowed()) throw AccessDenied("ProcDataField::get()", 32755);
    if (getter_.isNull()) throw Is_Null("CompProcDataField::get()", 32743);
}

void* CompProcDataField::getterCode(InterObjRep& obj, void*& self) {
    checkRead(obj);
    self = obj.RWCDataPtr(0);
    return self ? getter_.resolve(self) : nullptr;
}

void CompProcDataField::store(Value& v, InterObjRep& obj) {
    if (isReadOnly() || !obj.isWriteAllowed()) throw AccessDenied("CompProcDataField::set()", 32755);
    ValueList args;
    args.append(ValuePtr(&v));
    setCaller_->evalInOrder(obj.RWCDataPtr(0), args, setter_);
}

template <class X>
void CompProcDataField::read(X& out, InterObjRep& obj) {
    ValuePtr r = fetch(obj);
    r->get(out);
}

template <class X>
void CompProcDataField::write(const X& v, InterObjRep& obj) {
    // The setter takes the property's own type: v converted as an
    // assignment to the property converts it.
    const ValuePtr given(new DirectValue<X, kCodeOf<X>>(v));
    ValuePtr arg = DirectValueClassFactory(type_, given.get());
    store(*arg, obj);
}

#define TQ_COMP_ACCESSORS(X, P)                                                                        \
    void CompProcDataField::get(X& out, InterObjRep& obj, SignatureRep&) { read(out, obj); }          \
    void CompProcDataField::set(P v, InterObjRep& obj, SignatureRep&) { write(v, obj); }
TQ_COMP_ACCESSORS(int16_t, int16_t)
TQ_COMP_ACCESSORS(int32_t, int32_t)
TQ_COMP_ACCESSORS(float, float)
TQ_COMP_ACCESSORS(double, double)
TQ_COMP_ACCESSORS(Currency, const Currency&)
TQ_COMP_ACCESSORS(ValString, const ValString&)
#undef TQ_COMP_ACCESSORS

void CompProcDataField::get(InterObj& out, InterObjRep& obj, SignatureRep&) { read(out, obj); }

void CompProcDataField::set(const InterObj& v, InterObjRep& obj, SignatureRep&) {
    if (type_ != IDT_OBJECT) throw TypeMismatch("CompProcDataField::set()", 32765);
    ValuePtr arg(new ObjectValue(v));
    store(*arg, obj);
}

// ---- CompProcEnumField --------------------------------------------------------------------

CompProcEnumField::CompProcEnumField(const char* name, EnumRep* e, const MemberPointer& setter,
                                     const MemberPointer& getter)
    : CompProcDataField(name, IDT_LONG, setter, getter), enum_(e) {}

CompProcEnumField::CompProcEnumField(const CompProcEnumField& o) : CompProcDataField(o), enum_(o.enum_) {}

CompProcEnumField* CompProcEnumField::make(const char* name, EnumRep* e, const MemberPointer& setter,
                                           const MemberPointer& getter) {
    ObjectStore::OpenModuleScope detached(DETACHED_MODULE);
    return new CompProcEnumField(name, e, setter, getter);
}

ValuePtr CompProcEnumField::getValue(InterObjRep& obj, SignatureRep& owner) {
    return ValuePtr(new EnumFieldValue(*this, obj, owner));
}

void CompProcEnumField::get(ValString& out, InterObjRep& obj, SignatureRep& owner) {
    int32_t v = 0;
    CompProcDataField::get(v, obj, owner);
    out = enum_.text(v);
}

// A number is stored only when it is one of the enumeration's entries.
#define TQ_COMP_ENUM_NUMBERS(P)                                                           \
    void CompProcEnumField::set(P v, InterObjRep& obj, SignatureRep& owner) {             \
        CompProcDataField::set(enum_.validLong(DatumConv<int32_t>::from(v)), obj, owner); \
    }
TQ_COMP_ENUM_NUMBERS(int16_t)
TQ_COMP_ENUM_NUMBERS(float)
TQ_COMP_ENUM_NUMBERS(double)
TQ_COMP_ENUM_NUMBERS(const Currency&)
#undef TQ_COMP_ENUM_NUMBERS

void CompProcEnumField::set(int32_t v, InterObjRep& obj, SignatureRep& owner) {
    CompProcDataField::set(enum_.validLong(v), obj, owner);
}

void CompProcEnumField::set(const ValString& v, InterObjRep& obj, SignatureRep& owner) {
    CompProcDataField::set(enum_.validLong(static_cast<const char*>(v)), obj, owner);
}

}  // namespace tq
