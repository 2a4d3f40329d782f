#include "store/interp/nodekinds.h"

#include <string>

#include "store/interp/assign.h"
#include "store/interp/binop.h"
#include "store/interp/case.h"
#include "store/interp/doloop.h"
#include "store/interp/fornext.h"
#include "store/interp/funccall.h"
#include "store/interp/ifthen.h"
#include "store/interp/print.h"
#include "store/interp/redim.h"
#include "store/interp/trycatch.h"
#include "store/interp/withblk.h"
#include "store/interp/execnode.h"
#include "store/interp/exprnode.h"
#include "store/interp/ident.h"
#include "store/interp/intfuncs.h"
#include "store/interp/mathfunc.h"
#include "store/interp/nodechk.h"
#include "store/interp/strfunc.h"

namespace tq {

namespace {

void ExactEnd(NodeCheck& c, uint32_t reached, uint32_t end, const char* kind) {
    if (reached != end) c.fail(reached, std::string("the size of ") + kind + " does not match what it holds");
}

void ExactSize(NodeCheck& c, uint32_t at, uint32_t end, uint32_t size, const char* kind) {
    if (end - at != size)
        c.fail(at, std::string("size ") + std::to_string(end - at) + " is wrong for " + kind);
}

// ---- statements --------------------------------------------------------------------------

void CheckAssignment(NodeCheck& c, uint32_t at, uint32_t end) {
    const uint32_t value = c.identifierExpression(at + Assignment::kTargetOffset, end, 1);
    ExactEnd(c, c.expression(value, end, 1), end, "Assignment");
}

void CheckExiter(NodeCheck& c, uint32_t at, uint32_t end) {
    ExactSize(c, at, end, sizeof(Exiter), "Exiter");
    const uint32_t type = c.u32(at + ExecNode::kHeadSize);
    if (type >= Exiter::EXIT_LIMIT) c.fail(at, "unknown exit type " + std::to_string(type));
}

void CheckBareStatement(NodeCheck& c, uint32_t at, uint32_t end) {
    ExactSize(c, at, end, ExecNode::kHeadSize, "a statement without data");
}

// ---- expressions -------------------------------------------------------------------------------

void CheckSid(NodeCheck& c, uint32_t at, uint32_t end, int) {
    ExactSize(c, at, end, Sid::kSize, "Sid");
    const uint16_t index = c.u16(at + 8);
    const bool me = (c.u8(at + 6) & ExprNode::kMe) != 0;
    if (!me && index < kIdFalse) c.identifier(at, index);
}

void CheckCid(NodeCheck& c, uint32_t at, uint32_t end, int depth) {
    const uint16_t index = c.u16(at + 8);
    const bool me = (c.u8(at + 6) & ExprNode::kMe) != 0;
    if (!me) {
        if (index == kIdUnset) c.fail(at, "an identifier with arguments has no name");
        c.identifier(at, index);
    }
    const uint16_t n = c.u16(at + 10);
    uint32_t pos = at + Cid::kArgsOffset;
    for (uint16_t i = 0; i < n; ++i) pos = c.expression(pos, end, depth + 1);
    ExactEnd(c, pos, end, "Cid");
}

void CheckMid(NodeCheck& c, uint32_t at, uint32_t end, int depth) {
    const uint16_t n = c.u16(at + 7);
    uint32_t pos = at + Mid::kPiecesOffset;
    for (uint16_t i = 0; i < n; ++i) {
        const uint16_t kind = c.u16(pos);
        if (kind != EXPR_SID && kind != EXPR_CID)
            c.fail(pos, "a piece of a member chain must be a Sid or Cid, not kind " + std::to_string(kind));
        pos = c.expression(pos, end, depth + 1);
    }
    ExactEnd(c, pos, end, "Mid");
}

void CheckLong(NodeCheck& c, uint32_t at, uint32_t end, int) { ExactSize(c, at, end, 11, "LongConstant"); }

void CheckDouble(NodeCheck& c, uint32_t at, uint32_t end, int) { ExactSize(c, at, end, 15, "Constant<double>"); }

void CheckString(NodeCheck& c, uint32_t at, uint32_t end, int) {
    const uint32_t length = c.u32(at + 7);
    if (length == 0 || uint64_t(StringConstant::kTextOffset) + length != end - at)
        c.fail(at, "the text length " + std::to_string(length) + " does not match the size of StringConstant");
    if (c.u8(end - 1) != 0) c.fail(end - 1, "the text of StringConstant does not end in NUL");
}

void CheckBinaryOp(NodeCheck& c, uint32_t at, uint32_t end, int depth) {
    const uint8_t op = c.u8(at + 7);
    if (op >= BINOP_LIMIT) c.fail(at, "unknown binary operator " + std::to_string(op));
    const uint32_t right = c.expression(at + BinaryOp::kLeftOffset, end, depth + 1);
    ExactEnd(c, c.expression(right, end, depth + 1), end, "BinaryOp");
}

void CheckUnaryOp(NodeCheck& c, uint32_t at, uint32_t end, int depth) {
    const uint8_t op = c.u8(at + 7);
    if (op >= UNOP_LIMIT) c.fail(at, "unknown unary operator " + std::to_string(op));
    ExactEnd(c, c.expression(at + UnaryOp::kOperandOffset, end, depth + 1), end, "UnaryOp");
}

void CheckNull(NodeCheck& c, uint32_t at, uint32_t end, int) { ExactSize(c, at, end, 7, "NullObjConstant"); }

// Indexed by kind. A kind's minimum size is the fixed part of its layout
// and the expressions it always holds.
constexpr StatementKind kStatements[] = {
    {nullptr, 0, nullptr, nullptr},
    {"Assignment", Assignment::kTargetOffset + 2 * ExprNode::kHeadSize, &CheckAssignment, nullptr},
    {"SelectCase", SelectCase::kTestOffset + ExprNode::kHeadSize, &SelectCase::Check, nullptr},
    {"DoLoop", DoLoop::kConditionOffset, &DoLoop::Check, nullptr},
    {"Exiter", sizeof(Exiter), &CheckExiter, nullptr},
    {"ForNext", ForNext::kVariableOffset + 2 * ExprNode::kHeadSize, &ForNext::Check, nullptr},
    {"FunctionCallStmt", FunctionCallStmt::kCallOffset + ExprNode::kHeadSize, &FunctionCallStmt::Check, nullptr},
    {"SimpleIfThen", SimpleIfThen::kConditionOffset + ExprNode::kHeadSize, &SimpleIfThen::Check, nullptr},
    {"ComplexIfThen", ComplexIfThen::kBlocksOffset, &ComplexIfThen::Check, nullptr},
    {"Print", Print::kTargetOffset, &Print::Check, nullptr},
    {"RandomizeStmt", ExecNode::kHeadSize, &RandomizeStmt::Check, nullptr},
    {"RedimStmt", RedimStmt::kPairsOffset, &RedimStmt::Check, nullptr},
    {"TryBlock", TryBlock::kClausesOffset, &TryBlock::Check, nullptr},
    {"ThrowStmt", ExecNode::kHeadSize, &ThrowStmt::Check, nullptr},
    {"DoLoop", DoLoop::kConditionOffset, &DoLoop::Check, nullptr},
    {"WithBlock", WithBlock::kObjectOffset + ExprNode::kHeadSize, &WithBlock::Check, nullptr},
    {"StopStmt", ExecNode::kHeadSize, &CheckBareStatement, nullptr},
};
constexpr StatementKind kEndMarker = {"end marker", ExecNode::kHeadSize, &CheckBareStatement, nullptr};

constexpr ExpressionKind kExpressions[] = {
    {nullptr, 0, nullptr, nullptr},
    {"Sid", Sid::kSize, &CheckSid, nullptr},
    {"Cid", Cid::kArgsOffset, &CheckCid, nullptr},
    {"Mid", Mid::kPiecesOffset, &CheckMid, nullptr},
    {"LongConstant", 11, &CheckLong, nullptr},
    {"Constant<double>", 15, &CheckDouble, nullptr},
    {"StringConstant", StringConstant::kTextOffset + 1, &CheckString, nullptr},
    {"BinaryOp", BinaryOp::kLeftOffset + 2 * ExprNode::kHeadSize, &CheckBinaryOp, nullptr},
    {"UnaryOp", UnaryOp::kOperandOffset + ExprNode::kHeadSize, &CheckUnaryOp, nullptr},
    {"IntrMath", IntrMath::kArgOffset, &CheckIntrMath, &EvalIntrMath},
    {"IntrString", IntrString::kArgOffset + ExprNode::kHeadSize, &CheckIntrString, &EvalIntrString},
    {"IntrBound", IntrBound::kArrayOffset + ExprNode::kHeadSize, &CheckIntrBound, &EvalIntrBound},
    {"NullObjConstant", 7, &CheckNull, nullptr},
    {"IntrColor", IntrColor::kArgOffset + ExprNode::kHeadSize, &CheckIntrColor, &EvalIntrColor},
    {"IntrIIf", IntrIIf::kCondOffset + 3 * ExprNode::kHeadSize, &CheckIntrIIf, &EvalIntrIIf},
};

}  // namespace

const StatementKind* FindStatementKind(uint16_t kind) {
    if (kind == STMT_END_MARKER) return &kEndMarker;
    if (kind == 0 || kind >= sizeof kStatements / sizeof kStatements[0]) return nullptr;
    return &kStatements[kind];
}

const ExpressionKind* FindExpressionKind(uint16_t kind) {
    if (kind == 0 || kind >= sizeof kExpressions / sizeof kExpressions[0]) return nullptr;
    return &kExpressions[kind];
}

}  // namespace tq
