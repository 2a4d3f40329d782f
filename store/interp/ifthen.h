// If statements: the one-line form (statement kind 7) and the block form
// with ElseIf clauses (kind 8).
//
// SimpleIfThen, "If c Then s [Else s]" on one line:
//
//   offset  width  meaning
//   0       15     statement head (execnode.h)
//   15      4      block index of the Then part
//   19      4      block index of the Else part, or NO_BLOCK
//   23      ...    the condition
//
// ComplexIfThen, "If ... ElseIf ... Else ... End If", n conditions (the If
// and each ElseIf):
//
//   offset  width  meaning
//   0       15     statement head
//   15      4      n
//   19      4      line of Else; 0 when there is none
//   23      4      block index of the Else body, or NO_BLOCK
//   27      4      offset of the line table (35 + 4n)
//   31      4      offset of the first condition (35 + 8n)
//   35      4n     the block index of each clause's body
//   ...     4n     the line of each clause (its If or ElseIf)
//   ...     ...    the n conditions end to end
//
// The conditions are tested in order; the body of the first true one runs
// (later conditions are not evaluated), else the Else body when there is
// one. The body runs in an IfFrame.
#pragma once

#include <cstdint>
#include <vector>

#include "store/interp/compound.h"

namespace tq {

class SourceControl;

class SimpleIfThen final : public ExecNode {
public:
    static constexpr uint32_t kConditionOffset = 23;

    static StmtPtr make(int32_t line, ExprPtr condition, uint32_t thenBlock, uint32_t elseBlock = NO_BLOCK);

    uint32_t thenBlock() const { return LoadLE32(bytes() + 15); }
    uint32_t elseBlock() const { return LoadLE32(bytes() + 19); }
    const ExprNode* condition() const { return ExprAt(this, kConditionOffset); }

    void eval(Context& ctx) const;
    // Its source text (srcctl.h).
    void print(SourceControl& sc) const;
    static void Check(NodeCheck& c, uint32_t at, uint32_t end);

private:
    explicit SimpleIfThen(int32_t line) : ExecNode(STMT_SIMPLE_IF, line) {}
    uint8_t data_[kConditionOffset - kHeadSize];
};

static_assert(sizeof(SimpleIfThen) == SimpleIfThen::kConditionOffset, "a one-line If's head is 23 bytes");

// One condition of a block If, for the builder: the condition, the line of
// its If or ElseIf, and its body.
struct IfClause {
    ExprPtr condition;
    int32_t line;
    uint32_t block;
};

class ComplexIfThen final : public ExecNode {
public:
    static constexpr uint32_t kBlocksOffset = 35;

    // clauses in order (at least one: the If itself).
    static StmtPtr make(int32_t line, std::vector<IfClause> clauses, uint32_t elseBlock = NO_BLOCK,
                        int32_t elseLine = 0);

    uint32_t clauseCount() const { return LoadLE32(bytes() + 15); }
    int32_t elseLine() const { return static_cast<int32_t>(LoadLE32(bytes() + 19)); }
    uint32_t elseBlock() const { return LoadLE32(bytes() + 23); }
    uint32_t block(uint32_t i) const { return LoadLE32(bytes() + kBlocksOffset + 4 * i); }
    int32_t clauseLine(uint32_t i) const {
        return static_cast<int32_t>(LoadLE32(bytes() + LoadLE32(bytes() + 27) + 4 * i));
    }
    const ExprNode* firstCondition() const { return ExprAt(this, LoadLE32(bytes() + 31)); }

    void eval(Context& ctx) const;
    // Its source text (srcctl.h).
    void print(SourceControl& sc) const;
    static void Check(NodeCheck& c, uint32_t at, uint32_t end);

private:
    explicit ComplexIfThen(int32_t line) : ExecNode(STMT_COMPLEX_IF, line) {}
    uint8_t data_[kBlocksOffset - kHeadSize];
};

static_assert(sizeof(ComplexIfThen) == ComplexIfThen::kBlocksOffset, "a block If's head is 35 bytes");

}  // namespace tq
