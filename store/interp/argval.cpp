#include "store/interp/argval.h"

#include "store/currency.h"
#include "store/model/sigrep.h"

namespace tq {

namespace {

template <class T, IdType code>
bool IsPlainOf(const Field& f) {
    return dynamic_cast<const InterReference<T, code>*>(&f) ||
           (code != IDT_STRING && dynamic_cast<const InterField<T, code>*>(&f));
}

}  // namespace

bool IsPlainParameter(const Field& f) {
    // Exactly the plain data fields: an enumeration, an array or an object
    // parameter checks what it is given, and a by-value String keeps a
    // string reference of the object's own, which only its field replaces
    // soundly.
    if (f.isConst()) return false;
    switch (f.type() & IDT_TYPEMASK) {
        case IDT_SHORT: return IsPlainOf<int16_t, IDT_SHORT>(f);
        case IDT_LONG: return IsPlainOf<int32_t, IDT_LONG>(f);
        case IDT_FLOAT: return IsPlainOf<float, IDT_FLOAT>(f);
        case IDT_DOUBLE: return IsPlainOf<double, IDT_DOUBLE>(f);
        case IDT_CURRENCY: return IsPlainOf<Currency, IDT_CURRENCY>(f);
        case IDT_STRING: return IsPlainOf<ValString, IDT_STRING>(f);
        default: return false;
    }
}

MemberPtr MakeArgumentValue(InterObjRep& args, Field& f, SignatureRep& owner) {
    // Only a call's own argument object: a worker that no frame hosts (the
    // locals are LocalValues) and no module holds.
    if (!args.isWorkerObj() || args.isHosted() || args.moduleIndex() != DETACHED_MODULE) return MemberPtr();
    if (!IsPlainParameter(f)) return MemberPtr();
    auto& field = static_cast<DataField&>(f);
    switch (f.type() & IDT_TYPEMASK) {
        case IDT_SHORT: return MemberPtr(new ArgumentValue<int16_t, IDT_SHORT>(args, field, owner));
        case IDT_LONG: return MemberPtr(new ArgumentValue<int32_t, IDT_LONG>(args, field, owner));
        case IDT_FLOAT: return MemberPtr(new ArgumentValue<float, IDT_FLOAT>(args, field, owner));
        case IDT_DOUBLE: return MemberPtr(new ArgumentValue<double, IDT_DOUBLE>(args, field, owner));
        case IDT_CURRENCY: return MemberPtr(new ArgumentValue<Currency, IDT_CURRENCY>(args, field, owner));
        default: return MemberPtr(new ArgumentValue<ValString, IDT_STRING>(args, field, owner));
    }
}

}  // namespace tq
