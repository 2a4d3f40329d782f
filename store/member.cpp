#include "store/member.h"

#include "store/errors/extexcep.h"
#include "store/vals.h"

namespace tq {

Member::~Member() = default;

Value* Member::asValue() { return nullptr; }

bool Member::isDirect() const { return false; }

InterObjRep* Member::owner() const { return nullptr; }

Field* Member::field() const { return nullptr; }

void Member::CheckDemand(tMemberKind kind, IdType declared, IdType typeCode, int32_t how) {
    const IdType wanted = typeCode & IDT_TYPEMASK;
    if (wanted != IDT_UNTYPED && wanted != (declared & IDT_TYPEMASK)) throw TypeMismatch("memberEval", 32765);
    if ((how & EVAL_ASSIGN_TARGET) && kind == MEMBER_PROCEDURE) throw StoreException(32722u);
}

void Member::CheckResult(ValuePtr& result, int32_t how) {
    if (!result && (how & EVAL_VALUE_REQUIRED)) throw StoreException(32690u);
    if (result && (how & EVAL_NO_VALUE)) {
        // The value must be gone before the failure is reported: nothing
        // else holds a result that nobody wanted.
        result.reset();
        throw StoreException(32689u);
    }
}

ValuePtr Member::memberEval(IdType typeCode, const ValueList* args, int32_t how) {
    // Most evaluations demand nothing of the member's kind or type: those
    // are not asked for.
    if ((typeCode & IDT_TYPEMASK) != IDT_UNTYPED || (how & EVAL_ASSIGN_TARGET))
        CheckDemand(memberKind(), type(), typeCode, how);
    ValuePtr result = virtualMemberEval(args);
    CheckResult(result, how);
    return result;
}

}  // namespace tq
