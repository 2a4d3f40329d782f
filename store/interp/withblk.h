// With (statement kind 15): "With obj ... End With".
//
//   offset  width  meaning
//   0       15     statement head (execnode.h)
//   15      4      block index of the body
//   19      ...    the object expression
//
// The object (an object reference that is not Nothing) becomes the
// context's With object, which ".name" refers to, while the body runs in a
// WithFrame; the enclosing With object comes back afterwards, also when a
// failure passes.
#pragma once

#include <cstdint>

#include "store/interp/compound.h"

namespace tq {

class SourceControl;

class WithBlock final : public ExecNode {
public:
    static constexpr uint32_t kObjectOffset = 19;

    static StmtPtr make(int32_t line, uint32_t body, ExprPtr object);

    uint32_t bodyBlock() const { return LoadLE32(bytes() + 15); }
    const ExprNode* object() const { return ExprAt(this, kObjectOffset); }

    void eval(Context& ctx) const;
    // Its source text (srcctl.h).
    void print(SourceControl& sc) const;
    static void Check(NodeCheck& c, uint32_t at, uint32_t end);

private:
    explicit WithBlock(int32_t line) : ExecNode(STMT_WITH, line) {}
    uint8_t data_[kObjectOffset - kHeadSize];
};

static_assert(sizeof(WithBlock) == WithBlock::kObjectOffset, "a With's head is 19 bytes");

}  // namespace tq
