// Select Case (statement kind 2).
//
//   offset  width  meaning
//   0       15     statement head (execnode.h)
//   15      4      line of End Select
//   19      4      block index of the Case Else body, or NO_BLOCK
//   23      4      line of Case Else; 0 when there is none
//   27      2      number of clause records
//   29      ...    the test expression, then the clause records end to end
//
// One clause record per test. The first test of a Case line carries the
// line's body and line; further tests on the same line carry only their
// expressions. Bit 128 of a record's kind tells the two forms apart:
//
//   first test of a Case line         further test on that line
//   0   2   test type                 0   2   test type + 128
//   2   4   size of the record        2   4   size of the record
//   6   1   flags (0)                 6   1   flags (0)
//   7   4   body's block index,       7   ... the expression(s)
//           or NO_BLOCK
//   11  4   line of the Case line
//   15  ... the expression(s)
//
// A range test (3) has two expressions, lower then upper; every other test
// one. Test types, with the test value T and the expression value E:
//
//   1 Is == E   T = E          5 Is < E    T < E
//   2 E         T = E          6 Is <= E   T <= E
//   3 E1 To E2  E1 <= T <= E2  7 Is >= E   T >= E
//   4 Is > E    T > E          8 Is <> E   T <> E
//
// Running: the test value is evaluated once; the records are tried in
// order, the first that matches chooses the body of its Case line and no
// later expression is evaluated; with no match the Case Else body is
// chosen. The chosen body runs in a SelectFrame.
#pragma once

#include <cstdint>
#include <vector>

#include "store/interp/compound.h"

namespace tq {

class SourceControl;

enum ECaseCompareType : uint8_t {
    ECC_IS_EQUAL = 1,
    ECC_EQUAL = 2,
    ECC_RANGE = 3,
    ECC_GREATER = 4,
    ECC_LESS = 5,
    ECC_LESS_EQUAL = 6,
    ECC_GREATER_EQUAL = 7,
    ECC_NOT_EQUAL = 8,
};

// One test of a Case line, for the builder: second only for ECC_RANGE.
struct CaseTest {
    ECaseCompareType type;
    ExprPtr first;
    ExprPtr second = nullptr;
};

// One Case line, for the builder: its line, its body (NO_BLOCK for an
// empty one) and its tests in order (at least one).
struct CaseLine {
    int32_t line;
    uint32_t block;
    std::vector<CaseTest> tests;
};

// A clause record as it lies in the node.
class CaseClauseRec {
public:
    static constexpr uint8_t kFurtherTest = 128;
    static constexpr uint32_t kFirstHead = 15;
    static constexpr uint32_t kFurtherHead = 7;

    ECaseCompareType testType() const { return static_cast<ECaseCompareType>(LoadLE16(bytes()) & 0x7F); }
    bool isFirstOfLine() const { return (LoadLE16(bytes()) & kFurtherTest) == 0; }
    uint32_t size() const { return LoadLE32(bytes() + 2); }
    // First-of-line records only.
    uint32_t block() const { return LoadLE32(bytes() + 7); }
    int32_t line() const { return static_cast<int32_t>(LoadLE32(bytes() + 11)); }
    const ExprNode* first() const {
        return reinterpret_cast<const ExprNode*>(bytes() + (isFirstOfLine() ? kFirstHead : kFurtherHead));
    }
    // The upper bound of a range; null for other tests.
    const ExprNode* second() const { return testType() == ECC_RANGE ? NextExpr(first()) : nullptr; }
    const CaseClauseRec* next() const { return reinterpret_cast<const CaseClauseRec*>(bytes() + size()); }

private:
    // A record is longer than the head this class declares (a first-of-line
    // record has 15 bytes of head, then its expressions): its bytes are read
    // through a plain pointer, never by indexing the declared array past
    // its end.
    const uint8_t* bytes() const { return b_; }
    uint8_t b_[kFurtherHead];
};

class SelectCase final : public ExecNode {
public:
    static constexpr uint32_t kTestOffset = 29;

    // cases in order; the builder writes one record per test.
    static StmtPtr make(int32_t line, ExprPtr test, std::vector<CaseLine> cases, int32_t endLine,
                        uint32_t elseBlock = NO_BLOCK, int32_t elseLine = 0);

    int32_t endLine() const { return static_cast<int32_t>(LoadLE32(bytes() + 15)); }
    uint32_t elseBlock() const { return LoadLE32(bytes() + 19); }
    int32_t elseLine() const { return static_cast<int32_t>(LoadLE32(bytes() + 23)); }
    uint16_t clauseCount() const { return LoadLE16(bytes() + 27); }
    const ExprNode* test() const { return ExprAt(this, kTestOffset); }
    const CaseClauseRec* firstClause() const { return reinterpret_cast<const CaseClauseRec*>(NextExpr(test())); }

    void eval(Context& ctx) const;
    // Its source text (srcctl.h).
    void print(SourceControl& sc) const;
    static void Check(NodeCheck& c, uint32_t at, uint32_t end);

private:
    explicit SelectCase(int32_t line) : ExecNode(STMT_SELECT_CASE, line) {}
    uint8_t data_[kTestOffset - kHeadSize];
};

static_assert(sizeof(SelectCase) == SelectCase::kTestOffset, "Select Case has a 29-byte head");
static_assert(sizeof(CaseClauseRec) == CaseClauseRec::kFurtherHead, "a clause record's head is 7 bytes");

}  // namespace tq
