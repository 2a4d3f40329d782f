#include "store/tqclient.h"

#include <cstdint>
#include <cstring>
#include <iterator>

#include "store/errors/extexcep.h"
#include "store/field.h"
#include "store/interp/reghost.h"
#include "store/methfld.h"
#include "store/model/objval.h"
#include "store/persist/objstore.h"
#include "store/valconv.h"

namespace tq {

// ---- TessaroString ----------------------------------------------------------------

TessaroString& TessaroString::operator=(ValStringRep* rep) {
    ref_ = rep;
    return *this;
}

TessaroString& TessaroString::operator=(const char* text) {
    ref_ = ValString(text);
    return *this;
}

TessaroString::operator const char*() const {
    const ValStringRep* rep = ref_.get();
    return rep ? rep->c_str() : nullptr;
}

// ---- TessaroValue -----------------------------------------------------------------

namespace {

// The value read as X: a number held in place converts as a value of its
// type converts; otherwise the value's own conversion, or X's zero for null.
template <class X>
X Read(const ValuePtr& v, const ClientNumber& n) {
    X x{};
    switch (n.type) {
        case IDT_SHORT: DatumConv<int16_t>::get(static_cast<int16_t>(n.l), x); return x;
        case IDT_LONG: DatumConv<int32_t>::get(n.l, x); return x;
        case IDT_FLOAT: DatumConv<float>::get(n.f, x); return x;
        case IDT_DOUBLE: DatumConv<double>::get(n.d, x); return x;
        default: return v ? v->as<X>() : x;
    }
}

}  // namespace

int16_t TessaroValue::asInteger() const { return Read<int16_t>(ref_, number_); }
int32_t TessaroValue::asLong() const { return Read<int32_t>(ref_, number_); }
float TessaroValue::asSingle() const { return Read<float>(ref_, number_); }
double TessaroValue::asDouble() const { return Read<double>(ref_, number_); }
TessaroValue::operator TessaroString() const { return TessaroString(Read<ValString>(ref_, number_).get()); }
TessaroValue::operator TessaroObject() const { return TessaroObject(Read<InterObj>(ref_, number_).get()); }

TessaroValue::operator Value*() const {
    if (!ref_) {
        switch (number_.type) {
            case IDT_SHORT: ref_ = ClientArgument(static_cast<int16_t>(number_.l)); break;
            case IDT_LONG: ref_ = ClientArgument(number_.l); break;
            case IDT_FLOAT: ref_ = ClientArgument(number_.f); break;
            case IDT_DOUBLE: ref_ = ClientArgument(number_.d); break;
            default: break;
        }
    }
    return ref_.get();
}

// ---- the arguments ------------------------------------------------------------------

ValuePtr ClientArgument(int16_t v) { return ValuePtr(new IntegerValue(v)); }
ValuePtr ClientArgument(int32_t v) { return ValuePtr(new LongValue(v)); }
ValuePtr ClientArgument(float v) { return ValuePtr(new SingleValue(v)); }
ValuePtr ClientArgument(double v) { return ValuePtr(new DoubleValue(v)); }
ValuePtr ClientArgument(const char* text) { return ValuePtr(new StringValue(ValString(text))); }
ValuePtr ClientArgument(InterObjRep* obj) { return ValuePtr(new ObjectValue(InterObj(obj))); }

namespace {

// A reference to nothing would be read and written at address 0 the moment
// the procedure touched its parameter.
template <class T, IdType code>
ValuePtr Reference(T* variable) {
    if (!variable) throw InvalidByRef("TessaroObject::Eval()", 32754);
    return ValuePtr(new IndirectValue<T, code>(variable));
}

}  // namespace

ValuePtr ClientReference(int16_t* v) { return Reference<int16_t, IDT_SHORT>(v); }
ValuePtr ClientReference(int32_t* v) { return Reference<int32_t, IDT_LONG>(v); }
ValuePtr ClientReference(float* v) { return Reference<float, IDT_FLOAT>(v); }
ValuePtr ClientReference(double* v) { return Reference<double, IDT_DOUBLE>(v); }
ValuePtr ClientReference(ValString* v) { return Reference<ValString, IDT_STRING>(v); }
ValuePtr ClientReference(InterObj* v) { return Reference<InterObj, IDT_OBJECT>(v); }

namespace {

// The value of one format letter, taking its variable argument; null for a
// character that is no letter of the format (which takes none).
ValuePtr FormatArgument(char letter, bool byRef, va_list& args) {
    switch (letter) {
        case 'i':
            if (byRef) return ClientReference(va_arg(args, int16_t*));
            return ClientArgument(static_cast<int16_t>(va_arg(args, int)));
        case 'l':
            if (byRef) return ClientReference(va_arg(args, int32_t*));
            return ClientArgument(static_cast<int32_t>(va_arg(args, int32_t)));
        case 'f':
            if (byRef) return ClientReference(va_arg(args, float*));
            return ClientArgument(static_cast<float>(va_arg(args, double)));
        case 'd':
            if (byRef) return ClientReference(va_arg(args, double*));
            return ClientArgument(va_arg(args, double));
        case 's':
            if (byRef) return ClientReference(va_arg(args, ValString*));
            return ClientArgument(va_arg(args, const char*));
        case 'o':
            if (byRef) return ClientReference(va_arg(args, InterObj*));
            return ClientArgument(va_arg(args, InterObjRep*));
        default:
            return ValuePtr();
    }
}

// Owns a copy of a va_list for its scope, so that a raise while the
// arguments are read still ends it.
class VaCopy {
public:
    explicit VaCopy(va_list from) { va_copy(list, from); }
    ~VaCopy() { va_end(list); }
    VaCopy(const VaCopy&) = delete;
    VaCopy& operator=(const VaCopy&) = delete;
    va_list list;
};

}  // namespace

// ---- TessaroObject -------------------------------------------------------------------

TessaroObject& TessaroObject::operator=(InterObjRep* obj) {
    ref_ = obj;
    return *this;
}

bool TessaroObject::Find(const char* path) {
    InterObj found;
    if (!ObjectStore::find(path, found) || found.isNull()) return false;
    ref_ = found.get();
    return true;
}

int32_t TessaroObject::GetName(TessaroString& out) const {
    if (ref_.isNull()) return 0;
    const char* name = ref_->name();
    if (!name || !*name) return 0;
    out = name;
    return static_cast<int32_t>(std::strlen(name));
}

namespace {

[[noreturn, gnu::noinline]] void ObjectGone(const char* where) { throw Is_Null(where, 32744); }

}  // namespace

// Inline: every host call starts here, and uses it only in this file.
inline InterObjRep* TessaroObject::live(const char* where) const {
    // The body is the object's handle id: a handle given an object keeps
    // it after the object went, and then reads null (or a destroyed object
    // awaiting deletion). Only a body of 0 is a handle never given one.
    if (ref_.body() == 0) return nullptr;
    InterObjRep* obj = ref_.get();
    if (!obj || obj->isDestroyed()) [[unlikely]]
        ObjectGone(where);
    return obj;
}

namespace {

// The argument list of a format, taking each letter's variable argument;
// listed last first, as calls of the language list them.
ValueList FormatArguments(const char* format, va_list& args) {
    ValueList list;
    bool byRef = false;
    for (const char* c = format; c && *c; ++c) {
        if (*c == '&') {
            byRef = true;
            continue;
        }
        ValuePtr v = FormatArgument(*c, byRef, args);
        if (!v) continue;
        byRef = false;
        list.ppush(std::move(v));
    }
    return list;
}

}  // namespace

namespace {

// What a host's call of a member by name found: the interpreted method
// that the name names on objects of a signature (by its handle id, never
// issued twice), while the field look-up revision it was found in holds
// (so the method is still listed in the signature, and a look-up would
// find it again), and the method's register form. A host mostly calls a
// few members of a few objects over and over; a small table indexed by the
// name's address and the signature spares the look-up by name and the
// member bound to the object, as the language's call sites do.
struct HostCallSite {
    HandleTable::Id signature = 0;
    uint64_t revision = 0;
    InterProcField* method = nullptr;
    RegHostForm form;
    // The name as the host gave it: the same text finds the same member.
    char member[kMaxIdLength + 1] = {};
};

// obj's signature by its handle id, read from the object's direct
// reference without a look-up; 0 when it has none.
[[gnu::always_inline]] inline HandleTable::Id SignatureIdOf(const InterObjRep& obj) {
    const Signature& ref = obj.signatureRef();
    if (!ref.isDescriptor() && !ref.isIndirect()) [[likely]]
        return ref.body();
    const SignatureRep* sig = obj.signature();
    return sig ? sig->selfId() : 0;
}

// Whether member is the name kept.
inline bool SameMember(const char* kept, const char* member) {
    for (;; ++kept, ++member) {
        if (*kept != *member) return false;
        if (*kept == '\0') return true;
    }
}

// The site refilled for member on obj, looked up as Eval looks it up; null
// when it names anything but an interpreted method, or nothing (the
// general road then finds and reports what it finds).
[[gnu::noinline]] HostCallSite* FillHostCallSite(HostCallSite& site, InterObjRep& obj, const char* member,
                                                 HandleTable::Id sig) {
    SignatureRep* rep = obj.signature();
    if (!rep) return nullptr;
    SignatureRep* owner = nullptr;
    Field* f = rep->findField(member, owner, EVAL_DOTTED);
    if (!f || !f->isInterMethod()) return nullptr;
    // A name longer than a name keeps is not kept (no signature id is 0):
    // its look-up is made again every call.
    const size_t length = std::strlen(member);
    const HandleTable::Id kept = length > kMaxIdLength ? 0 : sig;
    site = HostCallSite{kept, FieldLookupRevision::current(), static_cast<InterProcField*>(f), RegHostForm{}, {}};
    if (kept) std::memcpy(site.member, member, length + 1);
    return &site;
}

[[gnu::always_inline]] inline HostCallSite* HostCallSiteFor(InterObjRep& obj, const char* member) {
    static HostCallSite sites[64];
    const HandleTable::Id sig = SignatureIdOf(obj);
    if (!sig) return nullptr;
    const auto key = reinterpret_cast<uintptr_t>(member) >> 3 ^ sig;
    HostCallSite& site = sites[key % std::size(sites)];
    if (site.signature == sig && site.revision == FieldLookupRevision::current() && SameMember(site.member, member))
        return &site;
    return FillHostCallSite(site, obj, member, sig);
}

}  // namespace

TessaroValue TessaroObject::EvalList(const char* member, ValueList& args) const {
    InterObjRep* obj = live("TessaroObject::Eval()");
    if (!obj) return TessaroValue();
    if (!member) throw NotFound(32740, "");
    // The host holds its own count for the call: a procedure that drops
    // the last other reference to its object must not free it mid-call.
    InterObj hold(obj);
    if (HostCallSite* site = HostCallSiteFor(*obj, member)) {
        // What the member bound to the object would do: the method, held
        // while it runs (it may be removed from its signature meanwhile).
        FieldPtr held(site->method);
        return TessaroValue(site->method->eval(*obj, &args));
    }
    int handled = 0;
    ValuePtr v = obj->eval(member, IDT_UNTYPED, &args, nullptr, EVAL_DOTTED, &handled, nullptr);
    if (!handled) throw NotFound(32740, member);
    return TessaroValue(std::move(v));
}

namespace {

// A number from one holder to another: the host's ClientNumber and the
// register's RegNumber name their parts alike.
template <class From, class To>
void CopyNumber(const From& from, To& to) {
    to.type = from.type;
    if (from.type == IDT_FLOAT)
        to.f = from.f;
    else if (from.type == IDT_DOUBLE)
        to.d = from.d;
    else
        to.l = from.l;
}

// The values of n numbers, listed last first as calls list them.
template <class N>
ValueList NumberValues(const N* numbers, size_t n) {
    ValueList list;
    for (size_t i = 0; i < n; ++i) {
        const N& a = numbers[i];
        switch (a.type) {
            case IDT_SHORT: list.ppush(ClientArgument(static_cast<int16_t>(a.l))); break;
            case IDT_FLOAT: list.ppush(ClientArgument(a.f)); break;
            case IDT_DOUBLE: list.ppush(ClientArgument(a.d)); break;
            default: list.ppush(ClientArgument(a.l)); break;
        }
    }
    return list;
}

}  // namespace

// Inline into the three entries that take numbers: a host's every call of
// numbers passes here.
[[gnu::always_inline]] inline TessaroValue TessaroObject::evalRegisters(const char* member, const RegNumber* args,
                                                                       size_t n) const {
    InterObjRep* obj = live("TessaroObject::Eval()");
    if (!obj) return TessaroValue();
    if (member)
        if (HostCallSite* site = HostCallSiteFor(*obj, member)) {
            InterObj hold(obj);
            FieldPtr held(site->method);
            if (RegNumber result; RunRegisterFormNumbers(*site->method, *obj, args, n, site->form, result)) {
                // A Sub gives no value.
                if (result.type == IDT_UNTYPED) return TessaroValue();
                ClientNumber back;
                CopyNumber(result, back);
                return TessaroValue(back);
            }
        }
    // Any other member, or a procedure the register form does not run,
    // takes the numbers as values.
    ValueList list = NumberValues(args, n);
    return EvalList(member, list);
}

namespace {

// The numbers of a format that passes only numbers by value (the letters
// i, l, f and d, no "&"), each letter taking its variable argument as
// FormatArgument takes it, and their count; -1, with some of args read,
// for any other format or one of more than kMaxHostNumbers numbers.
[[gnu::always_inline]] inline int32_t FormatNumbers(const char* format, va_list& args, RegNumber* out) {
    constexpr int32_t kMax = static_cast<int32_t>(kMaxHostNumbers);
    int32_t n = 0;
    if (!format) return 0;
    for (const char* c = format; *c; ++c) {
        switch (*c) {
            case 'i':
                if (n == kMax) return -1;
                out[n].type = IDT_SHORT;
                out[n++].l = static_cast<int16_t>(va_arg(args, int));
                break;
            case 'l':
                if (n == kMax) return -1;
                out[n].type = IDT_LONG;
                out[n++].l = va_arg(args, int32_t);
                break;
            case 'f':
                if (n == kMax) return -1;
                out[n].type = IDT_FLOAT;
                out[n++].f = static_cast<float>(va_arg(args, double));
                break;
            case 'd':
                if (n == kMax) return -1;
                out[n].type = IDT_DOUBLE;
                out[n++].d = va_arg(args, double);
                break;
            case '&':
            case 's':
            case 'o': return -1;
            default: break;
        }
    }
    return n;
}

}  // namespace

TessaroValue TessaroObject::Eval(const char* member, const char* argFormat, ...) const {
    // The numbers of a format of numbers alone are read straight from the
    // list; any other format starts the list again for EvalV.
    RegNumber numbers[kMaxHostNumbers];
    int32_t n = 0;
    {
        va_list args;
        va_start(args, argFormat);
        n = FormatNumbers(argFormat, args, numbers);
        va_end(args);
    }
    // evalRegisters asks whether the handle is null.
    if (n >= 0) return evalRegisters(member, numbers, static_cast<size_t>(n));
    va_list args;
    va_start(args, argFormat);
    struct End {
        va_list& args;
        ~End() { va_end(args); }
    } end{args};
    return EvalV(member, argFormat, args);
}

TessaroValue TessaroObject::EvalV(const char* member, const char* argFormat, va_list args) const {
    {
        VaCopy own(args);
        RegNumber numbers[kMaxHostNumbers];
        if (const int32_t n = FormatNumbers(argFormat, own.list, numbers); n >= 0)
            return evalRegisters(member, numbers, static_cast<size_t>(n));
    }
    // A null handle makes none of its arguments.
    if (!live("TessaroObject::Eval()")) return TessaroValue();
    VaCopy own(args);
    ValueList list = FormatArguments(argFormat, own.list);
    return EvalList(member, list);
}

TessaroValue TessaroObject::EvalNumbers(const char* member, const ClientNumber* args, size_t n) const {
    if (n <= kMaxHostNumbers) {
        RegNumber numbers[kMaxHostNumbers];
        for (size_t i = 0; i < n; ++i) CopyNumber(args[i], numbers[i]);
        return evalRegisters(member, numbers, n);
    }
    // More than the register entry takes: as values.
    if (!live("TessaroObject::Eval()")) return TessaroValue();
    ValueList list = NumberValues(args, n);
    return EvalList(member, list);
}

void TessaroObject::Assign(const char* member, const Value& v) {
    InterObjRep* obj = live("TessaroObject::Assign()");
    if (!obj) throw Is_Null("TessaroObject::Assign()", 32744);
    if (!member) throw NotFound(32740, "");
    InterObj hold(obj);
    constexpr int32_t kTarget = EVAL_DOTTED | EVAL_VALUE_REQUIRED | EVAL_ASSIGN_TARGET;
    int handled = 0;
    ValuePtr place = obj->eval(member, IDT_UNTYPED, nullptr, nullptr, kTarget, &handled, nullptr);
    if (!handled) throw NotFound(32740, member);
    if (!place) throw TypeMismatch("TessaroObject::Assign()", 32765);
    *place = v;
}

}  // namespace tq
