#include "store/interp/dllfld.h"

#include <string>
#include <string_view>

#include "platform/storage/oclstream.h"
#include "platform/util/dynlib.h"
#include "store/errors/extexcep.h"
#include "store/model/interobj.h"
#include "store/model/sigrep.h"

namespace tq {

namespace {

const bool readersRegistered = (Field::RegisterReader(FRK_DLL_PROCEDURE, &CDLLProcField::Read),
                                Field::RegisterReader(FRK_DLL_FUNCTION, &CDLLProcField::Read), true);

// A library or symbol name reaches the loader as a C string: it must be
// one, and printable, so that what a failure names is what was looked for.
bool IsPlainName(std::string_view s) {
    for (unsigned char c : s)
        if (c < 0x20 || c == 0x7f) return false;
    return true;
}

[[noreturn]] void BadRecord(const std::string& name, const std::string& what) {
    throw ObjectLoadFailed(("declaration '" + name + "': " + what).c_str());
}

}  // namespace

// ---- CDLLProcField ------------------------------------------------------------

CDLLProcField::CDLLProcField(const char* name, const char* alias, const char* dll, const char* text)
    : MethodField(name), dll_(dll ? dll : ""), alias_(alias ? alias : ""), hasAlias_(alias != nullptr),
      text_(text ? text : ""), caller_(CFunctionCaller::classFactory(IDT_VOID)) {
    const std::string what = std::string("declaration '") + this->name() + "': ";
    if (dll_.empty()) throw StoreException(what + "the library's name is empty");
    if (!IsPlainName(dll_)) throw StoreException(what + "the library's name holds control characters");
    if (!IsPlainName(alias_)) throw StoreException(what + "the alias holds control characters");
}

CDLLProcField::CDLLProcField(tFromRecord) : MethodField(MethodField::tFromRecord{}) {}

CDLLProcField::CDLLProcField(const CDLLProcField& other)
    : MethodField(other), dll_(other.dll_), alias_(other.alias_), hasAlias_(other.hasAlias_), text_(other.text_),
      caller_(CFunctionCaller::classFactory(other.type())) {}

CDLLProcField::~CDLLProcField() {
    if (library_) DynamicLibrary::Close(library_);
}

const char* CDLLProcField::symbol() const { return alias_.empty() ? name() : alias_.c_str(); }

void CDLLProcField::bind() {
    if (entry_) return;
    const std::string which = std::string("Declare '") + name() + "', library \"" + dll_ + "\"";
    void* lib = DynamicLibrary::Open(dll_.c_str());
    if (!lib)
        throw DllLoadFailure(std::string(StoreException::ResourceIdToString(nullptr, 32767)) + " " + which + ": " +
                             DynamicLibrary::LastError());
    void* fn = DynamicLibrary::Symbol(lib, symbol());
    if (!fn) {
        const std::string why = DynamicLibrary::LastError();
        DynamicLibrary::Close(lib);
        throw DllFuncMissing(std::string(StoreException::ResourceIdToString(nullptr, 32766)) + " " + which +
                             ", symbol \"" + symbol() + "\": " + why);
    }
    library_ = lib;
    entry_ = reinterpret_cast<void (*)()>(fn);
}

void CDLLProcField::checkParameterTypes(InterObjRep* proto) const {
    if (!proto) return;
    const FieldPtrList& fields = proto->signature()->fields();
    for (size_t i = 0; i < fields.length(); ++i) {
        const Field* f = fields.at(i);
        std::string why;
        if (!f->isInterDataField())
            why = "is not a value";
        else if (f->isArrayData())
            why = "is an array";
        else if (f->isEmbed())
            why = "is an embedded object";
        else if (f->isEnumeration())
            why = "is an enumeration";
        else if (f->type() > IDT_OBJECT)
            why = "has a type with no C form";
        else if (f->typeName())
            why = std::string("is an object of class ") + f->typeName() + " (only 'As Object' passes)";
        else
            continue;
        throw StoreException(std::string("declaration '") + name() + "': parameter '" + f->name() + "' " + why +
                             ": a library procedure cannot take it");
    }
}

void CDLLProcField::ready() {
    if (!typesChecked_) {
        checkParameterTypes(parameterPrototype());
        typesChecked_ = true;
    }
    bind();
}

ValuePtr CDLLProcField::call(InterObjRep&, const ValueList* args, const char* where) {
    InterObjRep* proto = parameterPrototype();
    if (!proto && args && !args->isEmpty()) throw TooManyArguments(where, 32763);
    ready();
    // The binding checks and converts in parameter order; the call lists
    // the last argument first.
    ValueList params;
    if (args)
        for (int32_t i = args->length(); i-- > 0;) params.append(ValuePtr(args->at(i)));
    if (proto) proto->checkBindings(&params);
    return caller_->evalInOrder(params, entry_);
}

ValuePtr CDLLProcField::eval(InterObjRep& obj, const ValueList* args) {
    call(obj, args, "CDLLProcField::eval()");
    return ValuePtr();
}

std::string CDLLProcField::header() const {
    std::string s = std::string("Declare ") + (isFunction() ? "Function " : "Sub ") + name() + " Lib \"" + dll_ +
                    "\" ";
    if (hasAlias_) s += "Alias \"" + alias_ + "\" ";
    s += "(";
    if (InterObjRep* proto = parameterPrototype()) {
        const FieldPtrList& fields = proto->signature()->fields();
        for (size_t i = 0; i < fields.length(); ++i) {
            const Field* f = fields.at(i);
            if (i) s += ", ";
            if (!f->isByReference()) s += "ByVal ";
            s += f->name();
            if (f->typeName())
                s += std::string(" As ") + f->typeName();
            else if (f->type() >= IDT_SHORT && f->type() <= IDT_OBJECT)
                s += std::string(" As ") + IdTypeString(f->type()).string();
        }
    }
    return s + ")";
}

std::string CDLLProcField::getSource() const { return (text_.empty() ? header() : text_) + "\r\n"; }

void CDLLProcField::writeCommon(OCLStream& out, uint8_t kind) const {
    out.writeU8(kind);
    writeNameAndFlags(out);
    writeParameters(out);
    if (kind == FRK_DLL_FUNCTION) out.writeU8(static_cast<uint8_t>(type()));
    out.writeString(dll_);
    out.writeU8(hasAlias_ ? 1 : 0);
    if (hasAlias_) out.writeString(alias_);
    out.writeString(text_);
}

void CDLLProcField::write(OCLStream& out) const { writeCommon(out, FRK_DLL_PROCEDURE); }

Field* CDLLProcField::Read(OCLStream& in, tModuleIndex m, uint8_t kind) {
    std::unique_ptr<CDLLProcField> f(kind == FRK_DLL_FUNCTION ? new CDLLFuncField(tFromRecord{})
                                                              : new CDLLProcField(tFromRecord{}));
    f->readNameAndFlags(in, m);
    f->readParameters(in, m);
    const std::string name = f->name();
    if (kind == FRK_DLL_FUNCTION) {
        const uint8_t t = in.readU8();
        if (t < IDT_SHORT || t > IDT_OBJECT)
            BadRecord(name, "the return type " + std::to_string(t) + " is not one of 1 to 7");
        static_cast<CDLLFuncField*>(f.get())->returnType_ = static_cast<IdType>(t);
    }
    f->dll_ = in.readString();
    if (f->dll_.empty() || !IsPlainName(f->dll_) || f->dll_.find('\0') != std::string::npos)
        BadRecord(name, "the library's name is empty or not text");
    const uint8_t hasAlias = in.readU8();
    if (hasAlias > 1) BadRecord(name, "the alias flag " + std::to_string(hasAlias) + " is neither 0 nor 1");
    f->hasAlias_ = hasAlias == 1;
    if (f->hasAlias_) {
        f->alias_ = in.readString();
        if (!IsPlainName(f->alias_)) BadRecord(name, "the alias is not text");
    }
    f->text_ = in.readString();
    if (f->text_.find('\0') != std::string::npos) BadRecord(name, "the declaration's text holds a NUL");
    f->caller_ = CFunctionCaller::classFactory(f->type());
    return f.release();
}

// ---- CDLLFuncField ------------------------------------------------------------

CDLLFuncField::CDLLFuncField(const char* name, IdType returnType, const char* alias, const char* dll,
                             const char* text)
    : CDLLProcField(name, alias, dll, text), returnType_(returnType) {
    if (returnType < IDT_SHORT || returnType > IDT_OBJECT)
        throw StoreException(std::string("declaration '") + this->name() + "': a library function returns " +
                             "Integer, Long, Single, Double, Currency, String or Object");
    caller_ = CFunctionCaller::classFactory(returnType);
}

CDLLFuncField::CDLLFuncField(const CDLLFuncField& other) : CDLLProcField(other), returnType_(other.returnType_) {
    caller_ = CFunctionCaller::classFactory(returnType_);
}

void CDLLFuncField::write(OCLStream& out) const { writeCommon(out, FRK_DLL_FUNCTION); }

ValuePtr CDLLFuncField::eval(InterObjRep& obj, const ValueList* args) {
    return call(obj, args, "CDLLFuncField::eval()");
}

std::string CDLLFuncField::getSource() const {
    if (!text_.empty()) return text_ + "\r\n";
    return header() + " As " + IdTypeString(returnType_).string() + "\r\n";
}

}  // namespace tq
