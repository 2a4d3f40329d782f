// For ... Next and For Each ... Next (statement kind 5).
//
//   offset  width  meaning
//   0       15     statement head (execnode.h); flags below
//   15      4      block index of the body (never NO_BLOCK)
//   19      4      reserved, 0
//   23      4      offset of the start expression (For Each: of the object)
//   27      4      offset of the end expression; 0 for For Each
//   31      4      offset of the step expression; 0 when there is none
//   35      ...    the loop variable (an identifier), then start, end, step
//
// Flags: 4 no step; 8 the variable is written again after Next; 16, 32
// and 64 hold the loop type as 1, 2 and 4:
//
//   0 FN_Standard    For v = a To b [Step s]
//   1 FN_In          For Each v In group         the group's members
//   2 FN_EmbeddedIn  For Each v EmbeddedIn obj   the objects embedded in obj
//   3 FN_CopiedFrom  For Each v CopiedFrom obj   obj's clones and child
//                                                prototypes
//
// A standard loop evaluates its variable (as an assignment target), start,
// end and step (1 when absent) once, in the variable's type (Integer, Long,
// Single or Double; for any other type it writes "Loop type not
// implemented." to the error stream and runs nothing). With a step of 0 or
// more it runs while the variable is at most end, else while it is at
// least end; after a normal end the variable holds the first value past
// end. A loop whose next value does not fit the variable's type (an
// Integer loop to 32767) ends there instead of wrapping round for ever.
//
// For Each sets the variable to each object in turn; the objects are taken
// before the first turn, so a body that adds or removes some does not
// disturb the walk.
//
// The whole loop runs in one ForFrame.
#pragma once

#include <cstdint>
#include <vector>

#include "store/interp/compound.h"
#include "store/model/interobj.h"

namespace tq {

class SourceControl;

enum ForNextLoopType : uint8_t {
    FN_Standard = 0,
    FN_In = 1,
    FN_EmbeddedIn = 2,
    FN_CopiedFrom = 3,
};

class ForNext final : public ExecNode {
public:
    static constexpr uint32_t kVariableOffset = 35;
    enum : uint8_t {
        kNoStep = 0x04,
        kVariableAfterNext = 0x08,
        kLoopTypeShift = 4,
        kLoopTypeMask = 0x70,
    };

    // A standard loop: end is required; step may be null.
    static StmtPtr make(int32_t line, uint32_t body, ExprPtr variable, ExprPtr start, ExprPtr end, ExprPtr step,
                        bool variableAfterNext = false);
    // A For Each loop of type (not FN_Standard) over the object expression.
    static StmtPtr makeEach(int32_t line, ForNextLoopType type, uint32_t body, ExprPtr variable, ExprPtr object,
                            bool variableAfterNext = false);

    ForNextLoopType loopType() const {
        return static_cast<ForNextLoopType>((flags() & kLoopTypeMask) >> kLoopTypeShift);
    }
    uint32_t bodyBlock() const { return LoadLE32(bytes() + 15); }
    const ExprNode* variable() const { return ExprAt(this, kVariableOffset); }
    // The start expression, or the object of a For Each.
    const ExprNode* start() const { return ExprAt(this, LoadLE32(bytes() + 23)); }
    const ExprNode* end() const { return optional(27); }
    const ExprNode* step() const { return optional(31); }

    void eval(Context& ctx) const;
    // Its source text (srcctl.h).
    void print(SourceControl& sc) const;
    static void Check(NodeCheck& c, uint32_t at, uint32_t end);

    // The members of a Group for "In": true with the members in order when
    // obj can be treated as a Group. The Group class installs it; until
    // then no object is a Group.
    using GroupMembers = bool (*)(InterObjRep* obj, std::vector<InterObj>& members);
    static inline GroupMembers groupMembers = nullptr;

    // The objects a For Each of type walks over obj, in order, as they
    // stand before the first turn (both execution forms take them so):
    // Is_Null for no object, and for "In" the message that obj is no Group.
    static void TakeMembers(ForNextLoopType type, InterObjRep* obj, std::vector<InterObj>& out);

private:
    ForNext(int32_t line) : ExecNode(STMT_FOR_NEXT, line) {}
    static StmtPtr build(int32_t line, ForNextLoopType type, uint32_t body, ExprPtr variable, ExprPtr start,
                         ExprPtr end, ExprPtr step, bool variableAfterNext);
    const ExprNode* optional(uint32_t field) const {
        const uint32_t at = LoadLE32(bytes() + field);
        return at ? ExprAt(this, at) : nullptr;
    }
    void runStandard(Context& ctx, BlockRep* body, StackFrame& frame) const;
    void runEach(Context& ctx, BlockRep* body, StackFrame& frame) const;

    uint8_t data_[kVariableOffset - kHeadSize];
};

static_assert(sizeof(ForNext) == ForNext::kVariableOffset, "a For loop's head is 35 bytes");

}  // namespace tq
