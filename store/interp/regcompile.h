// RegCompiler: translates one procedure's node stream into its register
// form (regform.h tells what is taken and why it is all or nothing).
//
// The compiler walks the body block and the blocks its statements name,
// with the readers the tree walker uses, and never changes a node. Names
// resolve as an activation resolves them: the scopes of the blocks being
// translated from the innermost (each block's locals, then its constants),
// then the parameters, then whatever the hooks for fields and calls take.
// Every temporary gets a register of its own: a value the loops keep (a
// For's end and step) can never share one with a later statement, and the
// files stay small for the procedures the form takes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "store/interp/binop.h"
#include "store/interp/regform.h"

namespace tq {

class BlockRep;
class Cid;
class Field;
class ForNext;
class Sid;
class SignatureRep;

class RegCompiler {
public:
    RegCompiler(InterProcField& proc, InterObjRep& me, RegisterForm& form);

    // The whole procedure; false when anything is not taken (the form is
    // then to be thrown away).
    bool translate();

    InterProcField& proc() const { return proc_; }
    // The object the form is made for running on.
    InterObjRep* me() const { return &me_; }
    RegisterForm& form() const { return form_; }

    // ---- emitting ------------------------------------------------------------------------
    // Appends in, carrying the statement being translated; its index.
    uint32_t emit(const RegInstr& in);
    // The index the next instruction gets.
    uint32_t here() const { return static_cast<uint32_t>(form_.code.size()); }
    RegInstr& at(uint32_t index) { return form_.code[index]; }

    // ---- registers --------------------------------------------------------------------------
    // A new temporary number register (type is what it starts as), string
    // register or value register.
    int32_t newNumber(IdType type = IDT_LONG);
    int32_t newString();
    int32_t newValue();
    // A new member list (For Each).
    int32_t newList();
    // A register holding a constant, one per distinct value.
    int32_t longConstant(int32_t v);
    int32_t integerConstant(int16_t v);
    int32_t doubleConstant(double v);
    int32_t singleConstant(float v);
    // A string operand naming a constant (negative).
    int32_t stringConstant(std::string_view text);
    // A named register, visible in the innermost scope from now on (a
    // parameter declared by RegDeclareParameters, a block's local). init
    // is a number register's starting value.
    RegSlot& declare(const std::string& name, RegFile file, IdType type, const RegNumber* init = nullptr);

    // ---- expressions ------------------------------------------------------------------------
    // Any expression the form takes (the hooks included), into out.
    bool expression(const ExprNode* e, RegOperand& out);
    // The same, with the result a number register or a string operand.
    bool numberExpression(const ExprNode* e, RegOperand& out);
    bool stringExpression(const ExprNode* e, RegOperand& out);

    // After v = value: makes the arithmetic or element read that computed
    // the value (from instruction valueStart on) write the number variable
    // in register target, of declared type type, itself; false when it
    // cannot.
    bool intoVariable(uint32_t valueStart, const RegOperand& v, int32_t target, IdType type);

    // An operator reads a field operand through the field when it applies,
    // after all its operands are evaluated; so do a Select Case's tests,
    // a call's arguments, a string function and a For's start and end.
    // When the code after an operand's own [start, end) up to here holds a
    // call, which may change the field or a by-reference variable, the
    // operand's code is emitted again here, if it only reads (a field, a
    // variable made a String). No call between, nothing more: the common
    // case costs nothing.
    void readAgainAfterCalls(uint32_t start, uint32_t end);

    // Drops the instructions from index start on (an expression given up
    // after its operands were emitted).
    void dropCode(uint32_t start) {
        form_.code.resize(start);
        form_.statementOf.resize(start);
    }
    // Whether the value of e is used only as a number (a condition's, or
    // the operand of Not), so that a member giving an enumeration's entry
    // may give its number.
    bool usedAsNumber(const ExprNode* e) const { return e == numberUse_; }

    // ---- names -------------------------------------------------------------------------------
    // The text of identifier idIndex of the procedure's table; null when
    // there is none.
    const char* identifierName(uint16_t idIndex) const;
    // The named register identifier idIndex means where it stands, or null
    // when it is not a local or parameter of the procedure.
    const RegSlot* findSlot(uint16_t idIndex) const;
    // Whether identifier idIndex names a local, constant, static or
    // parameter where it stands, with a register or without one.
    bool isScoped(uint16_t idIndex) const {
        const RegSlot* slot = nullptr;
        return resolve(idIndex, slot) != kAbsent;
    }
    // The signature of the type an Object local is declared with (As New
    // included); null when it has none or it is not found.
    SignatureRep* objectLocalType(const RegSlot& slot) const;

private:
    // One scope: a block's locals and constants (fieldSlots, found through
    // the block's variable objects as an activation finds them), or the
    // parameters declared by name.
    struct Scope {
        // The block whose scope this is (null for the parameters'): what
        // subBlock checks a block entered against.
        const BlockRep* block = nullptr;
        InterObjRep* locals = nullptr;
        InterObjRep* statics = nullptr;
        std::vector<std::pair<Field*, uint32_t>> fieldSlots;  // slot indexes
        std::vector<uint32_t> named;                          // slot indexes
        bool embeds = false;                                  // As New locals
    };
    struct Loop {
        uint16_t kind;                    // STMT_FOR_NEXT or STMT_DO_LOOP
        std::vector<uint32_t> exitJumps;  // ROP_JUMPs to the loop's end
        size_t depth;                     // the scopes beneath the loop's body
    };
    // What a name means where it stands: a register of the procedure; a
    // variable the form cannot hold (a Static, a Variant: the procedure is
    // not taken); or nothing of the procedure's (fields, calls, globals).
    enum Found { kFound, kBlocked, kAbsent };
    Found resolve(uint16_t idIndex, const RegSlot*& slot) const;

    // The block of index, null for none. A block that is entered already
    // (only a corrupt file's code names a block from inside it) or blocks
    // nested deeper than SourceControl::kMaxBlockNesting raise
    // ObjectLoadFailed, as printing the code does, instead of translating
    // until the native stack runs out.
    BlockRep* subBlock(uint32_t index);
    bool block(uint32_t blockIndex, bool reset);
    bool blockLocals(BlockRep& b, bool embedsAllowed = false);
    void embeds(bool make);
    void resetLocals();
    bool statements(BlockRep& b);
    bool statement(const ExecNode* s);
    bool assignment(const ExecNode* s);
    bool append(const RegSlot& target, const ExprNode* value, bool& done);
    const Sid* enterLoop(const ForNext* f, BlockRep*& body);
    bool forNext(const ExecNode* s);
    bool forEach(const ExecNode* s);
    // target = value where target is an Object variable's register.
    bool objectAssignment(const RegSlot& target, const ExprNode* value);
    // What an instruction storing into Object variable slot names as its
    // type: 0 for none, else 1 + its index in the form's objectTypes; -1
    // when the form names too many types (the procedure is not taken).
    int32_t objectType(const RegSlot& slot);
    bool doLoop(const ExecNode* s);
    bool simpleIf(const ExecNode* s);
    bool complexIf(const ExecNode* s);
    bool selectCase(const ExecNode* s);
    bool exiter(const ExecNode* s);
    bool print(const ExecNode* s);
    bool redim(const ExecNode* s);
    bool identifier(const ExprNode* e, RegOperand& out);
    bool indices(const Cid* c, int32_t& first, uint16_t& n);
    bool arrayElement(const ExprNode* e, const RegSlot& array, RegOperand& out);
    bool heldElement(const ExprNode* e, const RegSlot& array, RegOperand& out);
    bool binary(const ExprNode* e, RegOperand& out);
    bool unary(const ExprNode* e, RegOperand& out);
    bool intrinsic(const ExprNode* e, RegOperand& out);
    // A condition into a number register (jumps test its Long conversion).
    bool condition(const ExprNode* e, RegOperand& out);
    // A jump, to be aimed (its b), taken when condition e's truth is when.
    // A comparison whose only use is the jump jumps on its operands.
    bool conditionJump(const ExprNode* e, bool when, uint32_t& jump);
    // The same for l op r over two numbers, two strings or (= and <> only)
    // two objects (false for any other pair, as a comparison is not taken).
    bool compareJump(BinOpType op, const RegOperand& l, const RegOperand& r, bool when, uint32_t& jump);
    int32_t toString(const RegOperand& number);
    void beginStatement(const ExecNode* s, int32_t runningLine);

    uint32_t currentStatement_ = 0;
    const ExprNode* numberUse_ = nullptr;
    InterProcField& proc_;
    InterObjRep& me_;
    RegisterForm& form_;
    std::vector<Scope> scopes_;
    std::vector<Loop> loops_;
    std::vector<uint32_t> exitSubJumps_;
};

}  // namespace tq
