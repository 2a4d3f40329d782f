// Assignment: the statement "target = value" (kind 1).
//
//   offset  width  meaning
//   0       15     statement head (execnode.h); flags 8 written with Let,
//                  16 with Set, 32 the deep-set form "target := value"
//   15      ...    the target (a Sid, Cid or Mid), then the value
//
// The value is evaluated first, then the target as the target of an
// assignment, and the value is stored through the target's own conversion
// (Value::operator=). Assigning to the running function's own name sets its
// return value. The deep set stores into a data field of an object and
// carries the change to every object that still held the old value
// (InterObjRep::deepDataMemberSet); it takes the object from the chain
// before the last name, the With object for ".x", or Me. Let and Set change
// only how the statement prints.
#pragma once

#include <cstdint>

#include "store/interp/execnode.h"
#include "store/interp/exprnode.h"

namespace tq {

class Assignment final : public ExecNode {
public:
    static constexpr uint32_t kTargetOffset = 15;

    // Builder form bits (the node keeps them shifted into its flags).
    enum : int {
        FORM_LET = 1,
        FORM_SET = 2,
        FORM_DEEP_SET = 4,
    };
    enum : uint8_t {
        kLet = 0x08,
        kSet = 0x10,
        kDeepSet = 0x20,
    };

    // target must be an identifier (a Sid, Cid or Mid); both nodes are
    // freed.
    static StmtPtr make(int32_t line, int form, ExprPtr target, ExprPtr value);

    const ExprNode* target() const { return reinterpret_cast<const ExprNode*>(bytes() + kTargetOffset); }
    const ExprNode* value() const {
        return reinterpret_cast<const ExprNode*>(bytes() + kTargetOffset + target()->size());
    }
    bool isDeepSet() const { return (flags() & kDeepSet) != 0; }

    void eval(Context& ctx) const;
    // ["Let " or "Set "] target, " = " or " := ", value.
    void print(SourceControl& sc) const;

private:
    explicit Assignment(int32_t line) : ExecNode(STMT_ASSIGNMENT, line) {}
};

static_assert(sizeof(Assignment) == Assignment::kTargetOffset, "an assignment's head is 15 bytes");

}  // namespace tq
