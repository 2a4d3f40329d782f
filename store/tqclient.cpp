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

template <class X>
X Read(const ValuePtr& v) {
    return v ? v->as<X>() : X{};
}

}  // namespace

TessaroValue::operator int16_t() const { return Read<int16_t>(ref_); }
TessaroValue::operator int32_t() const { return Read<int32_t>(ref_); }
TessaroValue::operator float() const { return Read<float>(ref_); }
TessaroValue::operator double() const { return Read<double>(ref_); }
TessaroValue::operator TessaroString() const { return TessaroString(Read<ValString>(ref_).get()); }
TessaroValue::operator TessaroObject() const { return TessaroObject(Read<InterObj>(ref_).get()); }

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

InterObjRep* TessaroObject::live(const char* where) const {
    // The body is the object's handle id: a handle given an object keeps
    // it after the object went, and then reads null (or a destroyed object
    // awaiting deletion). Only a body of 0 is a handle never given one.
    if (ref_.body() == 0) return nullptr;
    InterObjRep* obj = ref_.get();
    if (!obj || obj->isDestroyed()) throw Is_Null(where, 32744);
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

// The number of arguments of a format that passes only numbers by value
// (the letters i, l, f and d, no "&"), at most kMaxHostNumbers; -1 for any
// other format.
int32_t NumbersOnly(const char* format) {
    int32_t n = 0;
    for (const char* c = format; c && *c; ++c) {
        switch (*c) {
            case 'i':
            case 'l':
            case 'f':
            case 'd':
                if (++n > static_cast<int32_t>(kMaxHostNumbers)) return -1;
                break;
            case '&':
            case 's':
            case 'o': return -1;
            default: break;
        }
    }
    return n;
}

// The numbers of such a format, each letter taking its variable argument
// as FormatArgument takes it.
void FormatNumbers(const char* format, va_list& args, ClientNumber* out) {
    for (const char* c = format; c && *c; ++c) {
        switch (*c) {
            case 'i':
                out->type = IDT_SHORT;
                (out++)->l = static_cast<int16_t>(va_arg(args, int));
                break;
            case 'l':
                out->type = IDT_LONG;
                (out++)->l = va_arg(args, int32_t);
                break;
            case 'f':
                out->type = IDT_FLOAT;
                (out++)->f = static_cast<float>(va_arg(args, double));
                break;
            case 'd':
                out->type = IDT_DOUBLE;
                (out++)->d = va_arg(args, double);
                break;
            default: break;
        }
    }
}

}  // namespace

TessaroValue TessaroObject::Eval(const char* member, const char* argFormat, ...) const {
    va_list args;
    va_start(args, argFormat);
    struct End {
        va_list& args;
        ~End() { va_end(args); }
    } end{args};
    return EvalV(member, argFormat, args);
}

TessaroValue TessaroObject::EvalV(const char* member, const char* argFormat, va_list args) const {
    VaCopy own(args);
    // Numbers read from the list make nothing; EvalNumbers asks whether
    // the handle is null.
    if (const int32_t n = NumbersOnly(argFormat); n >= 0) {
        ClientNumber numbers[kMaxHostNumbers];
        FormatNumbers(argFormat, own.list, numbers);
        return EvalNumbers(member, numbers, static_cast<size_t>(n));
    }
    // A null handle makes none of its arguments.
    if (!live("TessaroObject::Eval()")) return TessaroValue();
    ValueList list = FormatArguments(argFormat, own.list);
    return EvalList(member, list);
}

namespace {

// What a host's call of a member by name found: the interpreted method
// that the name names on objects of a signature, while the field look-up
// revision it was found in holds (so the method is still listed in the
// signature, and a look-up would find it again). A host mostly calls a few
// members of a few objects over and over; a small table indexed by the
// name's address and the signature spares the look-up by name and the
// member bound to the object, as the language's call sites do.
struct HostCallSite {
    const SignatureRep* signature = nullptr;
    uint64_t revision = 0;
    InterProcField* method = nullptr;
};

HostCallSite& HostCallSiteOf(const char* name, const SignatureRep* sig) {
    static HostCallSite sites[64];
    const auto key = reinterpret_cast<uintptr_t>(name) >> 3 ^ reinterpret_cast<uintptr_t>(sig) >> 4;
    return sites[key % std::size(sites)];
}

// The interpreted method member names on obj, looked up as Eval looks it
// up; null when it names anything else or nothing (the general road then
// finds and reports what it finds).
InterProcField* HostCallMethod(InterObjRep& obj, const char* member) {
    SignatureRep* sig = obj.signature();
    if (!sig || obj.isDestroyed()) return nullptr;
    const uint64_t revision = FieldLookupRevision::current();
    HostCallSite& site = HostCallSiteOf(member, sig);
    if (site.signature == sig && site.revision == revision &&
        std::strncmp(site.method->name(), member, kMaxIdLength) == 0)
        return site.method;
    SignatureRep* owner = nullptr;
    Field* f = sig->findField(member, owner, EVAL_DOTTED);
    if (!f || !f->isInterMethod()) return nullptr;
    site = HostCallSite{sig, revision, static_cast<InterProcField*>(f)};
    return site.method;
}

}  // namespace

TessaroValue TessaroObject::EvalList(const char* member, ValueList& args) const {
    InterObjRep* obj = live("TessaroObject::Eval()");
    if (!obj) return TessaroValue();
    if (!member) throw NotFound(32740, "");
    // The host holds its own count for the call: a procedure that drops
    // the last other reference to its object must not free it mid-call.
    InterObj hold(obj);
    if (InterProcField* method = HostCallMethod(*obj, member)) {
        // What the member bound to the object would do: the method, held
        // while it runs (it may be removed from its signature meanwhile).
        FieldPtr held(method);
        return TessaroValue(method->eval(*obj, &args));
    }
    int handled = 0;
    ValuePtr v = obj->eval(member, IDT_UNTYPED, &args, nullptr, EVAL_DOTTED, &handled, nullptr);
    if (!handled) throw NotFound(32740, member);
    return TessaroValue(std::move(v));
}

TessaroValue TessaroObject::EvalNumbers(const char* member, const ClientNumber* args, size_t n) const {
    InterObjRep* obj = live("TessaroObject::Eval()");
    if (!obj) return TessaroValue();
    if (member && n <= kMaxHostNumbers)
        if (InterProcField* method = HostCallMethod(*obj, member)) {
            InterObj hold(obj);
            FieldPtr held(method);
            RegNumber numbers[kMaxHostNumbers];
            for (size_t i = 0; i < n; ++i) {
                const ClientNumber& a = args[i];
                numbers[i].type = a.type;
                if (a.type == IDT_FLOAT)
                    numbers[i].f = a.f;
                else if (a.type == IDT_DOUBLE)
                    numbers[i].d = a.d;
                else
                    numbers[i].l = a.l;
            }
            if (ValuePtr result; RunRegisterFormNumbers(*method, *obj, numbers, n, result))
                return TessaroValue(std::move(result));
        }
    // Any other member, or a procedure the register form does not run,
    // takes the numbers as values, listed last first.
    ValueList list;
    for (size_t i = 0; i < n; ++i) {
        const ClientNumber& a = args[i];
        switch (a.type) {
            case IDT_SHORT: list.ppush(ClientArgument(static_cast<int16_t>(a.l))); break;
            case IDT_FLOAT: list.ppush(ClientArgument(a.f)); break;
            case IDT_DOUBLE: list.ppush(ClientArgument(a.d)); break;
            default: list.ppush(ClientArgument(a.l)); break;
        }
    }
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
