#include "store/member.h"

#include "store/errors/extexcep.h"
#include "store/vals.h"

namespace tq {

Member::~Member() = default;

Value* Member::asValue() { return nullptr; }

bool Member::isDirect() const { return false; }

InterObjRep* Member::owner() const { return nullptr; }

Field* Member::field() const { return nullptr; }

ValuePtr Member::memberEval(IdType typeCode, const ValueList* args, int32_t how) {
    const IdType wanted = typeCode & IDT_TYPEMASK;
    if (wanted != IDT_UNTYPED && wanted != (type() & IDT_TYPEMASK))
        throw TypeMismatch("memberEval", 32765);
    if ((how & EVAL_ASSIGN_TARGET) && memberKind() == MEMBER_PROCEDURE)
        throw StoreException(32722u);

    ValuePtr result = virtualMemberEval(args);
    if (!result && (how & EVAL_VALUE_REQUIRED)) throw StoreException(32690u);
    if (result && (how & EVAL_NO_VALUE)) {
        // The value must be gone before the failure is reported: nothing
        // else holds a result that nobody wanted.
        result.reset();
        throw StoreException(32689u);
    }
    return result;
}

}  // namespace tq
