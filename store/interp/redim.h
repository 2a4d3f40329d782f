// ReDim (statement kind 11): "ReDim [Preserve] a(l1 To u1, u2, ...)".
//
//   offset  width  meaning
//   0       15     statement head (execnode.h); flag 8 Preserve
//   15      10     a Sid naming the array
//   25      2      number of dimensions n
//   27      ...    n bounds pairs (ExprNodePair, exprnode.h): the lower
//                  bound (may be absent: 0) and the upper bound of each
//
// The array is resized on the object that holds it (a procedure given an
// array by reference resizes the caller's). Bounds must be integer
// constants (ArrayField::defineDimen). With Preserve the elements that the
// old and new shapes share keep their values, as far as the array kind
// keeps them.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "store/interp/compound.h"
#include "store/interp/ident.h"

namespace tq {

class SourceControl;

class RedimStmt final : public ExecNode {
public:
    static constexpr uint32_t kArrayOffset = 15;
    static constexpr uint32_t kCountOffset = 25;
    static constexpr uint32_t kPairsOffset = 27;
    enum : uint8_t { kPreserve = 0x08 };

    // array must name it plainly (not Me, True or False); one pair per
    // dimension, each with an upper bound.
    static StmtPtr make(int32_t line, std::unique_ptr<Sid> array, std::vector<std::unique_ptr<ExprNodePair>> dims,
                        bool preserve = false);

    const Sid* array() const { return reinterpret_cast<const Sid*>(bytes() + kArrayOffset); }
    uint16_t dimensionCount() const { return LoadLE16(bytes() + kCountOffset); }
    const ExprNodePair* firstPair() const { return reinterpret_cast<const ExprNodePair*>(bytes() + kPairsOffset); }
    bool preserve() const { return (flags() & kPreserve) != 0; }

    void eval(Context& ctx) const;
    // Its source text (srcctl.h).
    void print(SourceControl& sc) const;
    static void Check(NodeCheck& c, uint32_t at, uint32_t end);

private:
    explicit RedimStmt(int32_t line) : ExecNode(STMT_REDIM, line) {}
    uint8_t data_[kPairsOffset - kHeadSize];
};

static_assert(sizeof(RedimStmt) == RedimStmt::kPairsOffset, "a ReDim's head is 27 bytes");

// Randomize (statement kind 10): "Randomize [seed]".
//
//   offset  width  meaning
//   0       15     statement head (execnode.h); flag 4: no seed
//   15      ...    the seed expression, when there is one
//
// Seeds the generator Rnd draws from (RandomSeed, mathfunc.h) with the
// seed's Long conversion, or with the time in seconds.
class RandomizeStmt final : public ExecNode {
public:
    enum : uint8_t { kNoSeed = 0x04 };

    static StmtPtr make(int32_t line, ExprPtr seed = nullptr);

    const ExprNode* seed() const { return (flags() & kNoSeed) ? nullptr : ExprAt(this, kHeadSize); }

    void eval(Context& ctx) const;
    // Its source text (srcctl.h).
    void print(SourceControl& sc) const;
    static void Check(NodeCheck& c, uint32_t at, uint32_t end);

private:
    explicit RandomizeStmt(int32_t line) : ExecNode(STMT_RANDOMIZE, line) {}
};

}  // namespace tq
