#include "store/interp/localval.h"

#include <typeinfo>

#include "store/currency.h"
#include "store/model/interobj.h"
#include "store/model/intfld.h"
#include "store/model/sigrep.h"
#include "store/stkpush.h"
#include "store/valtmpl.h"

namespace tq {

MemberPtr MakeLocalValue(InterObjRep& locals, Field& f, SignatureRep& owner) {
    // An array's type carries its element type: its elements are reached
    // through the array field with their indices, never as one datum.
    if (!f.isInterDataField() || f.isArrayData() || f.isByReference() || f.isConst() || !locals.isLocalVarCopy())
        return MemberPtr();
    switch (f.type() & IDT_TYPEMASK) {
        case IDT_SHORT: return MemberPtr(new LocalValue<int16_t, IDT_SHORT>(locals, f, owner));
        case IDT_LONG: return MemberPtr(new LocalValue<int32_t, IDT_LONG>(locals, f, owner));
        case IDT_FLOAT: return MemberPtr(new LocalValue<float, IDT_FLOAT>(locals, f, owner));
        case IDT_DOUBLE: return MemberPtr(new LocalValue<double, IDT_DOUBLE>(locals, f, owner));
        case IDT_CURRENCY: return MemberPtr(new LocalValue<Currency, IDT_CURRENCY>(locals, f, owner));
        case IDT_STRING:
            // Only the plain String field keeps its text behind one slot.
            if (typeid(f) != typeid(InterField<ValString, IDT_STRING>)) return MemberPtr();
            return MemberPtr(new LocalValue<ValString, IDT_STRING>(locals, f, owner));
        default: return MemberPtr();
    }
}

}  // namespace tq
