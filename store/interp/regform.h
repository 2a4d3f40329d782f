// The register form: a second execution form for interpreted procedures.
//
// The tree walker runs a procedure from its persistent node stream, asking
// the lookup cache for every name and dispatching on the kind of every node.
// That is the form the debugger needs (it stops before statements, walks the
// frames, reads variables through their members) and the form every
// procedure can always run in. When a procedure is first run with no
// debugger installed, it is translated once into a RegisterForm: typed
// registers for its locals and temporaries, flat instructions whose
// operands are register numbers, constants resolved once, jumps instead of
// nested blocks. Later runs execute the instructions.
//
// What the form is, and is not:
//  - Side data in memory only. The nodes, their bytes, the module file and
//    the object model are untouched; the procedure field holds its form
//    (InterProcField::registerForm) and it is never saved.
//  - All or nothing per procedure. The translator reads the nodes with the
//    tree walker's own readers; a procedure with any statement, expression
//    or name it does not take gets no form and runs on the tree walker,
//    unchanged. There is never a hand-over inside a procedure.
//  - The same program. Every value rule (Long overflow promotion,
//    Double/Long mixes, conversions on assignment and their failures, the
//    text of numbers, division by zero), every message with its line,
//    object and procedure, "Stack overflow." and the user break behave as
//    on the tree walker. The fast cases are computed on the registers; the
//    rare ones (an overflow, a type the fast path does not know) box the
//    operands and call the general path's own operations (valops.h), so
//    that the result and the failure are the general path's.
//
// When it is made and dropped (RegFormCache, below):
//
//   no form --first run, no debugger--> translated --> form (or "not taken")
//      ^                                                   |
//      +------ field look-up revision or cache epoch moved-+
//
// A form is good while the field look-up revision (a field added, removed
// or renamed anywhere, which also covers a procedure replaced by an edit)
// and the lookup cache's epoch are the ones it was made under: the same
// keys the lookup cache and the warm caches trust. A stale form is dropped
// at the next entry and made again; activations running the old one keep
// it alive (RegisterForm is counted) until they end.
//
// How a failure finds its line: every instruction carries the index of the
// statement it was translated from (RegStatement: the node, its line and
// the line it reports while running, which for a post-test loop's condition
// is the Loop line). The run loop catches a StoreException once per
// activation, and gives it the line, Me and procedure exactly as the
// statement dispatcher does for the innermost statement (ExecNode::failed).
//
// Registers of one activation:
//   numbers  RegNumber, 16 bytes: a payload and its type code (Integer,
//            Long, Single or Double). A variable's type never changes; a
//            temporary's is what the operation gave (a Long sum that left
//            the Long range is a Single, as the value rules make it).
//            Constants are registers too: an activation starts from the
//            form's image of the whole file (variables at their initial
//            values, constants set), one copy.
//   strings  std::string, reused from call to call, so that appending to a
//            string variable grows it in place. A string operand < 0 names
//            the form's string constant -1 - operand.
//   arrays   RegArray: contiguous elements with their bounds.
//   values   ValuePtr: whatever the other files do not hold: Object
//            variables, As New locals and object temporaries, array
//            parameters held as the caller's array (regobject.h), and the
//            boxed arguments of the string functions.
//   lists    RegMembers: the members a running For Each walks.
// Activations take their files from a stack kept across calls (RegStack),
// so that a call allocates nothing for its fixed-size registers.
//
// Opcode ranges: [0, kCallFirst) the core (locals, arithmetic, control,
// Print, intrinsics); [kCallFirst, kFieldFirst) calls (regcall.cpp);
// [kFieldFirst, kObjectFirst) fields of Me and of objects
// (regfield.cpp); [kObjectFirst, kReservedFirst) object registers and For
// Each (regobject.cpp); the rest is free.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "store/faultp.h"
#include "store/idtype.h"
#include "store/vals.h"

namespace tq {

class BlockRep;
class ExecNode;
class ExprNode;
class EmbedObjField;
class InterObjField;
class InterObjRep;
class InterProcField;
class Context;
class StackFrame;
struct RegMembers;
struct RegSites;

// ---- instructions -----------------------------------------------------------------------
//
// Operands: a is the destination where there is one, b and c the sources;
// number operands are registers of the number file, string operands
// registers of the string file or (< 0) constants; t is an instruction
// index, x and y small immediates. Number results carry their own type.
enum RegOp : uint8_t {
    ROP_NOP = 0,
    ROP_MOVE_N,         // a = b (numbers; the type travels)
    ROP_STORE_N,        // a = b converted to a's declared type y (the
                        // assignment's conversion, its failures included)
    ROP_MOVE_S,         // a = b (strings)
    ROP_NUM_TO_S,       // string a = text of number b
    ROP_STORE_S_TO_N,   // number a (declared type y) = string b converted
    ROP_ARITH,          // a = b op c, x = BinOpType: + - * / \ ^ Mod And Or
                        // Xor Imp Eqv; Longs and Doubles fast, the rest and
                        // every result out of range by the value rules.
                        // y = 0: a is a temporary and takes the result as it
                        // is; otherwise a is a variable of declared type y
                        // and takes it as ROP_STORE_N would (v = x op y in
                        // one instruction; a failing conversion leaves it)
    ROP_COMPARE_N,      // a = b op c over numbers: -1 or 0 (a Long)
    ROP_COMPARE_S,      // the same over two strings
    ROP_CONCAT,         // string a = b & c
    ROP_APPEND,         // string a &= b, in place
    ROP_APPEND_N,       // string a &= text of number b, in place
    ROP_NEGATE,         // a = -b
    ROP_NOT,            // a = Not b
    ROP_JUMP,           // to t = a
    ROP_JUMP_FALSE,     // to t = b when number a's Long conversion is 0
    ROP_JUMP_TRUE,      // to t = b when it is not 0
    ROP_LOOP,           // to t = a, after offering the user break
    ROP_FOR_CONV,       // For: a = number b as the counter's type x (the
                        // loop's end, its step, then the counter's start)
    ROP_FOR_TEST,       // For: to t = c when counter a is past the end
                        // (end in register b, step in b + 1)
    ROP_FOR_STEP,       // Next: counter a += step (b + 1); back to the body
                        // at t = c unless past the end (b) or beyond the
                        // counter type's range; offers the user break
    ROP_RETURN,         // ends the activation
    // Locals of a block entered again start from their initial values.
    ROP_RESET_N,        // number registers [a, a + b) from the image
    ROP_RESET_S,        // string registers [a, a + b) emptied
    ROP_RESET_A,        // arrays [a, a + b) back to their declared shape
    // Arrays: y indices in number registers [c, c + y).
    ROP_ARRAY_GET_N,    // number a = array b (indices)
    ROP_ARRAY_SET_N,    // array a (indices) = number b
    ROP_ARRAY_GET_S,    // string a = array b (indices)
    ROP_ARRAY_SET_S,    // array a (indices) = string b
    ROP_REDIM,          // array a: bounds in registers from b (lower, upper
                        // per dimension), y dimensions, x = 1 Preserve
    ROP_ARRAY_BOUND,    // a = LBound (x = 0) or UBound (x = 1) of array b,
                        // dimension in register c (< 0: the first)
    // Print, through the host's sink as the Print statement prints.
    ROP_PRINT_BEGIN,    // takes the sink for the statement
    ROP_PRINT_SEP,      // separator x before an item
    ROP_PRINT_N,        // number a
    ROP_PRINT_S,        // string a
    ROP_PRINT_SPC,      // Spc(number a), or Tab when x = 1
    ROP_PRINT_END,      // the last separator x
    // Intrinsic functions.
    ROP_LEN,            // a = Len(string b)
    ROP_BOX_N,          // value a = number b as a value
    ROP_BOX_S,          // value a = string b as a value
    ROP_INTRINSIC,      // a = string function y (strfunc.h) of the c values
                        // from value register b; x = the file of a
    // ROP_ARITH for +, -, * and Mod, the commonest operators, each with its
    // own dispatch (y as for ROP_ARITH).
    ROP_ADD,            // a = b + c
    ROP_SUB,            // a = b - c
    ROP_MUL,            // a = b * c
    ROP_MOD,            // a = b Mod c
    // A comparison of two numbers whose only use is a jump (If, Do, Case):
    // to t = b when number a op number c holds (x = 1) or does not (x = 0).
    ROP_JUMP_EQ,
    ROP_JUMP_NE,
    ROP_JUMP_GT,
    ROP_JUMP_LT,
    ROP_JUMP_GE,
    ROP_JUMP_LE,
    ROP_FOR_STEP_L,     // ROP_FOR_STEP for a Long counter
    ROP_ARRAY_GET_N1,   // ROP_ARRAY_GET_N with one index (y = 1)
    ROP_ARRAY_SET_N1,   // ROP_ARRAY_SET_N with one index (y = 1)
    ROP_CORE_LIMIT,

    // Calls (regcall.cpp).
    kCallFirst = 160,
    // Fields of Me and of objects (regfield.cpp).
    kFieldFirst = 192,
    // Object registers and For Each (regobject.cpp).
    kObjectFirst = 224,
    kReservedFirst = 240,
};

// One instruction: 16 bytes, operands by register number.
struct RegInstr {
    RegOp op = ROP_NOP;
    uint8_t x = 0;
    uint16_t y = 0;
    int32_t a = 0;
    int32_t b = 0;
    int32_t c = 0;
};
static_assert(sizeof(RegInstr) == 16, "an instruction is 16 bytes");

// ---- registers ----------------------------------------------------------------------------

// A number register: Integer (in l, within its range), Long (l), Single (f)
// or Double (d), with the type code saying which.
struct RegNumber {
    union {
        int32_t l;
        float f;
        double d;
    };
    IdType type;
};
static_assert(sizeof(RegNumber) == 16, "a number register is 16 bytes");

// An array register: elements of one type, row-major (the last index
// varies fastest), with per dimension the lower bound and the count. The
// form's image holds the declared shape; an activation's elements start
// at zero (or empty).
// An element of a number array: a number register's payload without its
// type code, which is the array's. Half a register, so that a large array
// of Doubles costs what the store's own array of them costs. The Double
// comes first: a value-initialised element is zero in all eight bytes.
union RegElement {
    double d;
    int32_t l;
    float f;
};
static_assert(sizeof(RegElement) == 8 && offsetof(RegNumber, d) == 0, "an element is a register's payload");

struct RegArray {
    IdType type = IDT_LONG;  // Integer, Long, Single, Double or String
    std::vector<int32_t> lower;
    std::vector<int32_t> count;
    std::vector<RegElement> numbers;   // number arrays
    std::vector<std::string> strings;  // String arrays
};

// What a register holds, for the slot table.
enum RegFile : uint8_t { REGF_NUMBER, REGF_STRING, REGF_ARRAY, REGF_VALUE };

// A named register of the procedure: a local, or a parameter (calls).
struct RegSlot {
    std::string name;
    RegFile file;
    IdType type;      // declared type (element type for arrays)
    int32_t index;    // register number in its file
    bool constant = false;  // a Const: read, never assigned
    // An array parameter held as the caller's array value (a value
    // register): its elements and bounds are read through the value.
    bool heldArray = false;
    // An As New object local (a value register): made when its block is
    // entered, destroyed when the block or the activation ends.
    bool embedded = false;
};

// The statement an instruction was translated from.
struct RegStatement {
    const ExecNode* node;
    int32_t line;         // the statement's own line
    int32_t runningLine;  // the line a failure reports
};

// What an expression was translated into: a register of a file (or, for
// strings, a constant when index < 0) and, for numbers, the type known
// before running (IDT_UNTYPED when the value rules decide at run time).
struct RegOperand {
    RegFile file = REGF_NUMBER;
    int32_t index = 0;
    IdType type = IDT_UNTYPED;
};

// ---- the form of one procedure -----------------------------------------------------------

class RegisterForm {
public:
    // Process-wide switch (default on): off, every procedure runs on the
    // tree walker. For tests and for measuring the two forms side by side.
    static void SetEnabled(bool on) { enabled_ = on; }
    static bool Enabled() { return enabled_; }

    // The form of proc for running on me (whose fields and methods its
    // names may resolve to), or null when the translator does not take it
    // (regcompile.cpp).
    static std::unique_ptr<RegisterForm> Translate(InterProcField& proc, InterObjRep& me);

    RegisterForm() = default;
    RegisterForm(const RegisterForm&) = delete;
    RegisterForm& operator=(const RegisterForm&) = delete;
    ~RegisterForm();

    std::vector<RegInstr> code;
    // Per instruction, the index of its statement in statements.
    std::vector<uint32_t> statementOf;
    std::vector<RegStatement> statements;
    // The blocks the statements lie in, counted: a form that outlives its
    // procedure (still running when the procedure was replaced) can still
    // name the statement that failed.
    std::vector<Faultp<BlockRep>> blocks;
    // The number file as an activation starts it: locals at their initial
    // values, constants, temporaries.
    std::vector<RegNumber> numberImage;
    std::vector<std::string> stringConstants;
    uint32_t stringCount = 0;
    // Array registers with their declared shape.
    std::vector<RegArray> arrayImage;
    uint32_t valueCount = 0;
    uint32_t listCount = 0;
    // The fields of Object variables declared with a type: an instruction
    // that stores into such a variable names its field (its y, from 1),
    // whose check an object must pass. The fields live in the blocks the
    // form holds.
    std::vector<InterObjField*> objectTypes;
    // Whether an activation needs the number file alone (no strings,
    // arrays, values or member lists to set up and give back); set once
    // the form is made, read on every call.
    bool numbersOnly = false;
    std::vector<RegSlot> slots;
    // Parameters, in declaration order: their registers (calls). A number
    // parameter is a number register; an array parameter a value register
    // holding the caller's array (only an entry with values binds it).
    std::vector<RegOperand> parameters;
    bool heldParameters = false;
    // The value registers of As New locals, each with its field: the
    // objects still in them are destroyed when the activation ends.
    std::vector<std::pair<int32_t, EmbedObjField*>> embeds;
    // A function's return register (calls); file REGF_NUMBER index -1 for a
    // procedure.
    RegOperand result{REGF_NUMBER, -1, IDT_UNTYPED};

    // The call and field sites its instructions name (regcall.h).
    std::shared_ptr<RegSites> sites;

    // Activations using the form: a stale form stays until the last ends,
    // which deletes it when it was let go of (orphaned).
    uint32_t uses = 0;
    bool orphaned = false;

private:
    static inline bool enabled_ = true;
};

// What a procedure keeps of its register form: the form, or the knowledge
// that the translator does not take the procedure, with the keys that
// answer was made under (see the design note).
class RegFormHolder {
public:
    RegFormHolder() = default;
    RegFormHolder(const RegFormHolder&) = delete;
    RegFormHolder& operator=(const RegFormHolder&) = delete;
    ~RegFormHolder() { drop(); }

    // The form while the keys hold; null when there is none or it is stale.
    RegisterForm* current(bool& notTaken) const;
    // The form made last, stale or not; null when none was or the
    // translator did not take the procedure. For a test that asks whether
    // a procedure ran in register form after a run that moved the keys
    // (an object destroyed empties the lookup cache).
    const RegisterForm* lastMade() const { return decided_ ? form_ : nullptr; }
    // Lets go of the form (a running one is deleted by its last activation)
    // and forgets the answer.
    void drop() noexcept;
    // Keeps form (null: not taken) under the keys of now.
    void keep(std::unique_ptr<RegisterForm> form);

private:
    RegisterForm* form_ = nullptr;
    bool decided_ = false;
    uint64_t revision_ = 0;
    uint64_t epoch_ = 0;
};

// The registers of one activation, taken from RegStack.
struct RegActivation {
    const RegisterForm* form = nullptr;
    InterProcField* proc = nullptr;
    InterObjRep* me = nullptr;
    RegNumber* numbers = nullptr;
    std::string* strings = nullptr;
    RegArray* arrays = nullptr;
    ValuePtr* values = nullptr;
    RegMembers* lists = nullptr;
    // The instruction running, for the failure's line.
    uint32_t pc = 0;
    // The activation that called this one, the nearer end of the chain of
    // register activations running; an entry from outside the register
    // form has its Context and frame (null for a call from register code,
    // which makes neither).
    RegActivation* caller = nullptr;
    Context* ctx = nullptr;
    StackFrame* frame = nullptr;
    // Its frame was brought up to date at a failure and the activation has
    // not run since: a later failure need not show it, nor any of its
    // callers, again. Cleared when it calls again (RegChain::Link).
    bool shown = false;
};

// Frames for a hook that walks the stack (regrun.cpp): while one lives,
// every register activation from act back to the nearest one that has a
// frame has one, at the statement it is at and with its arguments as they
// are, and that nearest one shows where it stands. Made only while a hook
// is installed: at a failure, and around a call from register code that
// goes the general road, beneath which the tree walker may offer one.
class RegShownFrames {
public:
    explicit RegShownFrames(RegActivation& act);
    ~RegShownFrames();
    RegShownFrames(const RegShownFrames&) = delete;
    RegShownFrames& operator=(const RegShownFrames&) = delete;

    // How many activations failures have brought up to date in this
    // process: what a test of the cost of a failure reads.
    static uint64_t ActivationsShown() { return activationsShown; }
    static inline uint64_t activationsShown = 0;

private:
    std::vector<RegActivation*> given_;
    std::vector<std::unique_ptr<ValueList>> values_;
    std::vector<std::unique_ptr<Context>> contexts_;
    std::vector<std::unique_ptr<StackFrame>> frames_;
};

// Runs proc on me in its register form when it has (or can be given) one
// and no debugger is installed: true with result set (a function's value,
// null for a procedure) when it ran, false when the tree walker must run
// it. args are the call's arguments, listed last first (null for none).
bool RunRegisterForm(InterProcField& proc, InterObjRep& me, const ValueList* args, ValuePtr& result);

// A number register as a new value of its type.
ValuePtr RegBox(const RegNumber& n);
// v into a number register when it is an Integer, Long, Single or Double;
// false otherwise.
bool RegUnbox(const Value& v, RegNumber& out);
// d (a variable of declared type t) = a, with the conversion assigning to a
// variable of type t makes (its failures included).
void RegStoreNumber(RegNumber& d, IdType t, const RegNumber& a);

// ---- what calls and fields add (regcall.cpp, regfield.cpp) ---------------------------

class RegCompiler;

// Declares the procedure's parameters (and a function's result) in the
// compiler's parameter scope, beneath the body's locals as an activation
// looks them up; false when the procedure is not taken.
bool RegDeclareParameters(RegCompiler& rc);

// Translation hooks: each returns false, emitting nothing, when it does not
// take the node; the whole procedure then stays on the tree walker.
// An expression naming something the core does not resolve to a local (a
// call, a field of Me, a member chain), into out.
bool RegTranslateCallExpr(RegCompiler& rc, const ExprNode* e, RegOperand& out);
bool RegTranslateFieldRead(RegCompiler& rc, const ExprNode* e, RegOperand& out);
// An assignment to such a name, of the value computed from instruction
// valueStart on.
bool RegTranslateFieldWrite(RegCompiler& rc, const ExprNode* target, uint32_t valueStart, const RegOperand& value);
// A call statement (bare, Call).
bool RegTranslateCallStmt(RegCompiler& rc, const ExecNode* stmt);
// Run hooks for the opcode ranges above; the run loop passes the
// instruction and may continue at the instruction index returned.
uint32_t RegRunCall(RegActivation& act, const RegInstr& in, uint32_t pc);
uint32_t RegRunField(RegActivation& act, const RegInstr& in, uint32_t pc);
uint32_t RegRunObject(RegActivation& act, const RegInstr& in, uint32_t pc);

}  // namespace tq
