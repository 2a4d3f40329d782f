// Running the register form: the entry from a call, the activation's
// registers and the run loop.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <new>
#include <type_traits>
#include <vector>

#include "platform/util/uassert.h"
#include "store/arrayfld.h"
#include "store/context.h"
#include "store/errors/extexcep.h"
#include "store/interp/dbgseam.h"
#include "store/interp/binop.h"
#include "store/interp/execnode.h"
#include "store/interp/regcall.h"
#include "store/interp/regform.h"
#include "store/interp/regobject.h"
#include "store/interp/regstack.h"
#include "store/interp/stackfrm.h"
#include "store/interp/strfunc.h"
#include "store/interp/trycatch.h"
#include "store/methfld.h"
#include "store/model/intfld.h"
#include "store/model/objiter.h"
#include "store/persist/vlstrrep.h"
#include "store/printable.h"
#include "store/storeapp.h"
#include "store/valops.h"

namespace tq {

// ---- the holder ------------------------------------------------------------------------

RegisterForm* RegFormHolder::current(bool& notTaken) const {
    notTaken = false;
    if (!decided_ || revision_ != FieldLookupRevision::current() || epoch_ != Context::cacheEpoch()) return nullptr;
    notTaken = form_ == nullptr;
    return form_;
}

void RegFormHolder::drop() noexcept {
    if (form_) {
        if (form_->uses == 0)
            delete form_;
        else
            form_->orphaned = true;
    }
    form_ = nullptr;
    decided_ = false;
}

void RegFormHolder::keep(std::unique_ptr<RegisterForm> form) {
    drop();
    form_ = form.release();
    decided_ = true;
    revision_ = FieldLookupRevision::current();
    epoch_ = Context::cacheEpoch();
}

// ---- numbers as values --------------------------------------------------------------------

ValuePtr RegBox(const RegNumber& n) {
    switch (n.type) {
        case IDT_SHORT: return ValuePtr(new IntegerValue(static_cast<int16_t>(n.l)));
        case IDT_LONG: return ValuePtr(new LongValue(n.l));
        case IDT_FLOAT: return ValuePtr(new SingleValue(n.f));
        default: return ValuePtr(new DoubleValue(n.d));
    }
}

bool RegUnbox(const Value& v, RegNumber& out) {
    switch (v.type() & IDT_TYPEMASK) {
        case IDT_SHORT: out.l = v.as<int16_t>(); break;
        case IDT_LONG: out.l = v.as<int32_t>(); break;
        case IDT_FLOAT: out.f = v.as<float>(); break;
        case IDT_DOUBLE: out.d = v.as<double>(); break;
        default: return false;
    }
    out.type = v.type() & IDT_TYPEMASK;
    return true;
}

namespace {

// A value's number into a register; anything but a number type here is a
// translation that took what it should not have.
void Unbox(const Value& v, RegNumber& out) {
    if (!RegUnbox(v, out)) utilsAssert("register form: a number operation gave no number", __FILE__, __LINE__);
}

// The value a variable of type t holds after `variable = v`: the
// variable's own conversion, failures included.
template <class V>
void AssignThrough(const Value& v, RegNumber& d) {
    V target{};
    target = v;
    Unbox(target, d);
}

void StoreFromValue(RegNumber& d, IdType t, const Value& v) {
    switch (t) {
        case IDT_SHORT: return AssignThrough<IntegerValue>(v, d);
        case IDT_LONG: return AssignThrough<LongValue>(v, d);
        case IDT_FLOAT: return AssignThrough<SingleValue>(v, d);
        default: return AssignThrough<DoubleValue>(v, d);
    }
}

}  // namespace

void RegStoreNumber(RegNumber& d, IdType t, const RegNumber& a) {
    if (a.type == t) {
        d = a;
        return;
    }
    // Widening that every number type allows exactly.
    if (t == IDT_DOUBLE && (a.type == IDT_LONG || a.type == IDT_SHORT)) {
        d.d = a.l;
        d.type = t;
        return;
    }
    if (t == IDT_LONG && a.type == IDT_SHORT) {
        d.l = a.l;
        d.type = t;
        return;
    }
    ValuePtr v = RegBox(a);
    StoreFromValue(d, t, *v);
}

namespace {

// ---- the general operations ------------------------------------------------------------

ValuePtr Text(std::string_view s) { return ValuePtr(new StringValue(ValString(s))); }

// The text of a number as a String gets it.
void AppendNumberText(std::string& out, const RegNumber& n) {
    if (n.type == IDT_LONG || n.type == IDT_SHORT) {
        char buf[16];
        const auto r = std::to_chars(buf, buf + sizeof buf, n.l);
        CheckStringLength(out.size() + static_cast<size_t>(r.ptr - buf));
        out.append(buf, static_cast<size_t>(r.ptr - buf));
        return;
    }
    ValuePtr v = RegBox(n);
    ValString text;
    v->get(text);
    if (const ValStringRep* rep = text.get()) {
        CheckStringLength(out.size() + rep->text().size());
        out.append(rep->text());
    }
}

constexpr tRelOp RelOf(uint8_t op) {
    switch (op) {
        case BINOP_EQ: return REL_EQ;
        case BINOP_NE: return REL_NE;
        case BINOP_GT: return REL_GT;
        case BINOP_LT: return REL_LT;
        case BINOP_GE: return REL_GE;
        default: return REL_LE;
    }
}

// op over two numbers by the value rules (valops.h): the rare cases of
// ROP_ARITH, with their results and their failures.
[[gnu::noinline]] void GeneralArith(uint8_t op, const RegNumber& a, const RegNumber& b, RegNumber& d) {
    ValuePtr l = RegBox(a);
    ValuePtr r = RegBox(b);
    ValuePtr v;
    int32_t logic = 0;
    switch (op) {
        case BINOP_ADD: v = ValueArith(ARITH_ADD, *l, *r); break;
        case BINOP_SUB: v = ValueArith(ARITH_SUB, *l, *r); break;
        case BINOP_MUL: v = ValueArith(ARITH_MUL, *l, *r); break;
        case BINOP_DIV: v = ValueArith(ARITH_DIV, *l, *r); break;
        case BINOP_INTDIV: v = ValueIntDiv(*l, *r); break;
        case BINOP_POWER: v = ValuePower(*l, *r); break;
        case BINOP_MOD: v = ValueMod(*l, *r); break;
        case BINOP_AND: logic = ValueLogic(LOGIC_AND, *l, *r); break;
        case BINOP_OR: logic = ValueLogic(LOGIC_OR, *l, *r); break;
        case BINOP_XOR: logic = ValueLogic(LOGIC_XOR, *l, *r); break;
        case BINOP_IMP: logic = ValueLogic(LOGIC_IMP, *l, *r); break;
        case BINOP_EQV: logic = ValueLogic(LOGIC_EQV, *l, *r); break;
        default: utilsAssert("register form: arithmetic operator", __FILE__, __LINE__);
    }
    if (v) {
        Unbox(*v, d);
    } else {
        d.l = logic;
        d.type = IDT_LONG;
    }
}

// The fast cases of ROP_ARITH: two Longs whose result is a Long, and
// Double arithmetic whose result is finite. Anything else goes to the
// general rule.
[[gnu::always_inline]] inline void Arith(uint8_t op, const RegNumber& a, const RegNumber& b, RegNumber& d) {
    if (a.type == IDT_LONG && b.type == IDT_LONG) {
        const int32_t x = a.l, y = b.l;
        int32_t r;
        switch (op) {
            case BINOP_ADD:
                if (__builtin_add_overflow(x, y, &r)) break;
                d.l = r, d.type = IDT_LONG;
                return;
            case BINOP_SUB:
                if (__builtin_sub_overflow(x, y, &r)) break;
                d.l = r, d.type = IDT_LONG;
                return;
            case BINOP_MUL:
                if (__builtin_mul_overflow(x, y, &r)) break;
                d.l = r, d.type = IDT_LONG;
                return;
            case BINOP_INTDIV:
                if (y == 0 || (x == std::numeric_limits<int32_t>::min() && y == -1)) break;
                d.l = x / y, d.type = IDT_LONG;
                return;
            case BINOP_MOD:
                if (y == 0) break;
                d.l = y == -1 ? 0 : x % y, d.type = IDT_LONG;
                return;
            case BINOP_AND: d.l = x & y, d.type = IDT_LONG; return;
            case BINOP_OR: d.l = x | y, d.type = IDT_LONG; return;
            case BINOP_XOR: d.l = x ^ y, d.type = IDT_LONG; return;
            default: break;
        }
    } else if ((a.type == IDT_DOUBLE || b.type == IDT_DOUBLE) && op <= BINOP_DIV) {
        // The value rules compute in double and give a Double when either
        // operand is one; Longs and Integers convert exactly.
        const double x = a.type == IDT_DOUBLE ? a.d : a.type == IDT_FLOAT ? double(a.f) : double(a.l);
        const double y = b.type == IDT_DOUBLE ? b.d : b.type == IDT_FLOAT ? double(b.f) : double(b.l);
        double r;
        switch (op) {
            case BINOP_ADD: r = x + y; break;
            case BINOP_SUB: r = x - y; break;
            case BINOP_MUL: r = x * y; break;
            default: r = y == 0.0 ? std::numeric_limits<double>::infinity() : x / y; break;
        }
        if (std::isfinite(r)) {
            d.d = r, d.type = IDT_DOUBLE;
            return;
        }
    }
    GeneralArith(op, a, b, d);
}

inline double AsDouble(const RegNumber& n) {
    return n.type == IDT_DOUBLE ? n.d : n.type == IDT_FLOAT ? double(n.f) : double(n.l);
}

// Whether a Rel b holds. Numbers compare as doubles (every number type
// converts exactly); two Longs directly.
template <class Rel>
[[gnu::always_inline]] inline bool Holds(const RegNumber& a, const RegNumber& b) {
    if (a.type == IDT_LONG && b.type == IDT_LONG) return Rel{}(a.l, b.l);
    return Rel{}(AsDouble(a), AsDouble(b));
}

// A comparison's value: -1 when it holds, else 0.
int32_t CompareNumbers(uint8_t op, const RegNumber& a, const RegNumber& b) {
    bool holds;
    switch (op) {
        case BINOP_EQ: holds = Holds<std::equal_to<>>(a, b); break;
        case BINOP_NE: holds = Holds<std::not_equal_to<>>(a, b); break;
        case BINOP_GT: holds = Holds<std::greater<>>(a, b); break;
        case BINOP_LT: holds = Holds<std::less<>>(a, b); break;
        case BINOP_GE: holds = Holds<std::greater_equal<>>(a, b); break;
        default: holds = Holds<std::less_equal<>>(a, b); break;
    }
    return holds ? -1 : 0;
}

[[gnu::noinline]] int32_t CompareStrings(uint8_t op, const std::string& a, const std::string& b) {
    ValuePtr l = Text(a);
    ValuePtr r = Text(b);
    return ValueCompare(RelOf(op), *l, *r);
}

// A condition's truth: its Long conversion is not 0.
[[gnu::noinline]] bool GeneralTruth(const RegNumber& n) { return RegBox(n)->as<int32_t>() != 0; }
inline bool Truth(const RegNumber& n) { return n.type == IDT_LONG ? n.l != 0 : GeneralTruth(n); }

// A number converted as X (Value::as), for the counters of For.
template <class X>
X ConvertAs(const RegNumber& n) {
    return RegBox(n)->as<X>();
}

// ---- arrays ---------------------------------------------------------------------------------

// The shape of a as the store's arrays describe it, for the failures and
// the rules they own (bounds, sizes, the elements ReDim Preserve keeps).
ArrayField ShapeOf(const RegArray& a) {
    ArrayField f(static_cast<int32_t>(a.lower.size()), static_cast<int32_t>(DatumSize(a.type)));
    for (size_t k = 0; k < a.lower.size(); ++k)
        f.defineBounds(static_cast<int32_t>(k), a.lower[k], a.lower[k] + a.count[k] - 1);
    return f;
}

// The element that the indices in registers [first, first + n) name: their
// Longs within the bounds in one pass; anything else (another type, an
// index out of range, the wrong number of indices) through the store's own
// indexing, which raises its failures.
[[gnu::noinline]] size_t GeneralElement(const RegArray& a, const RegNumber* index, uint32_t n) {
    ValueList indices;
    for (uint32_t k = 0; k < n; ++k) indices.ppush(RegBox(index[k]));
    const ArrayField shape = ShapeOf(a);
    return static_cast<size_t>(shape.elementOffset(indices) / shape.elementSize());
}

inline size_t Element(const RegArray& a, const RegNumber* index, uint32_t n) {
    if (n == a.lower.size()) {
        size_t at = 0;
        for (uint32_t k = 0; k < n; ++k) {
            const RegNumber& i = index[k];
            if (i.type != IDT_LONG && i.type != IDT_SHORT) return GeneralElement(a, index, n);
            const int64_t offset = int64_t(i.l) - a.lower[k];
            if (offset < 0 || offset >= a.count[k]) return GeneralElement(a, index, n);
            at = at * static_cast<size_t>(a.count[k]) + static_cast<size_t>(offset);
        }
        return at;
    }
    return GeneralElement(a, index, n);
}

// ReDim: the new bounds from registers (lower, upper per dimension),
// checked as the store checks an array's bounds, then the elements the
// two shapes share kept with Preserve.
void Redim(RegArray& a, const RegNumber* bounds, uint32_t dims, bool preserve) {
    ArrayField resized(static_cast<int32_t>(dims), static_cast<int32_t>(DatumSize(a.type)));
    std::vector<int32_t> lower(dims), count(dims);
    for (uint32_t k = 0; k < dims; ++k) {
        const RegNumber& lo = bounds[2 * k];
        const RegNumber& up = bounds[2 * k + 1];
        const int32_t l = lo.type == IDT_LONG ? lo.l : ConvertAs<int32_t>(lo);
        const int32_t u = up.type == IDT_LONG ? up.l : ConvertAs<int32_t>(up);
        resized.defineBounds(static_cast<int32_t>(k), l, u);
        lower[k] = l;
        count[k] = u - l + 1;
    }
    const size_t n = static_cast<size_t>(resized.elementCount());
    RegArray made;
    made.type = a.type;
    made.lower = std::move(lower);
    made.count = std::move(count);
    if (a.type == IDT_STRING)
        made.strings.resize(n);
    else
        made.numbers.assign(n, RegElement{});
    if (preserve && !a.lower.empty()) {
        const ArrayField old = ShapeOf(a);
        const size_t es = static_cast<size_t>(old.elementSize());
        // Runs of elements both shapes hold, as byte offsets of each.
        old.forCommonRuns(resized, [&](int32_t from, int32_t to, int32_t count) {
            const size_t f = static_cast<size_t>(from) / es, t = static_cast<size_t>(to) / es;
            const size_t k = static_cast<size_t>(count);
            for (size_t i = 0; i < k; ++i) {
                if (a.type == IDT_STRING)
                    made.strings[t + i] = std::move(a.strings[f + i]);
                else
                    made.numbers[t + i] = a.numbers[f + i];
            }
        });
    }
    a = std::move(made);
}

// An array as declared: its shape, every element zero (or empty).
void Fresh(const RegArray& declared, RegArray& out) {
    out.type = declared.type;
    out.lower = declared.lower;
    out.count = declared.count;
    size_t n = declared.lower.empty() ? 0 : 1;
    for (int32_t c : declared.count) n *= static_cast<size_t>(c);
    out.numbers.clear();
    out.strings.clear();
    if (declared.type == IDT_STRING) {
        out.strings.resize(n);
    } else {
        out.numbers.assign(n, RegElement{});
    }
}

}  // namespace

// ---- the activation's registers ----------------------------------------------------------

void RegStack::NextChunk(size_t n) {
    if (chunksUsed_ == chunks_.size() || chunks_[chunksUsed_].size < n) {
        // A chunk past the ones in use holds nobody's registers.
        const size_t size = std::max(n, kChunkRegisters);
        Chunk made{std::make_unique<RegNumber[]>(size), size};
        if (chunksUsed_ == chunks_.size())
            chunks_.push_back(std::move(made));
        else
            chunks_[chunksUsed_] = std::move(made);
    }
    Chunk& c = chunks_[chunksUsed_++];
    top_ = c.registers.get();
    end_ = top_ + c.size;
}

// What a form with strings, arrays or values takes beyond its numbers.
void RegStack::TakeOthers(const RegisterForm& form, RegActivation& act) {
    if (filesUsed_ == files_.size()) files_.push_back(std::make_unique<Files>());
    Files& f = *files_[filesUsed_];
    if (f.strings.size() < form.stringCount) f.strings.resize(form.stringCount);
    for (uint32_t i = 0; i < form.stringCount; ++i) f.strings[i].clear();
    f.arrays.resize(form.arrayImage.size());
    for (size_t i = 0; i < form.arrayImage.size(); ++i) Fresh(form.arrayImage[i], f.arrays[i]);
    if (f.values.size() < form.valueCount) f.values.resize(form.valueCount);
    if (f.lists.size() < form.listCount) f.lists.resize(form.listCount);
    act.strings = f.strings.data();
    act.arrays = f.arrays.data();
    act.values = f.values.data();
    act.lists = f.lists.data();
    // Counted only once nothing can fail.
    ++filesUsed_;
}

void RegStack::GiveOthers(const RegisterForm& form) noexcept {
    // An object's Destruct may run register code, which takes files above
    // these: they are given back only after.
    if (!form.embeds.empty()) RegDropEmbeds(form, files_[filesUsed_ - 1]->values.data());
    Files& f = *files_[--filesUsed_];
    for (uint32_t i = 0; i < form.valueCount; ++i) f.values[i] = ValuePtr();
    // The lists keep their room for the next call at this depth.
    for (uint32_t i = 0; i < form.listCount; ++i) f.lists[i].members.clear();
    f.arrays.clear();
}

namespace {

// ---- failures -------------------------------------------------------------------------------

// A failure passing out of the activation gets the line, Me and procedure
// of the statement whose instruction failed, as the statement dispatcher
// gives them (ExecNode::failed); the frame shows that statement to
// whoever walks the stack while the failure is offered, at the line the
// part of it that runs reports (a post-test loop's condition: the Loop
// line), as the tree walker sets it.
void ShowStatement(const RegActivation& act, StackFrame& frame) {
    const RegisterForm& form = *act.form;
    if (act.pc >= form.statementOf.size() || form.statementOf[act.pc] >= form.statements.size()) return;
    const RegStatement& st = form.statements[form.statementOf[act.pc]];
    auto* node = const_cast<ExecNode*>(st.node);
    node->setRunningLine(st.runningLine);
    frame.setNode(node);
}

// The values of a register activation's parameters bound into an argument
// object, for a frame to show; null when it has none or they do not bind.
// given holds the values the object's by-reference parameters name.
InterObjRep* ShownArguments(const RegActivation& act, ValueList& given) {
    InterObjRep* proto = act.proc->parameterPrototype();
    if (!proto) return nullptr;
    for (const RegOperand& p : act.form->parameters)
        given.append(p.file == REGF_VALUE ? act.values[p.index] : RegBox(act.numbers[p.index]));
    try {
        return proto->bind(&given);
    } catch (const StoreException&) {
        return nullptr;
    }
}

// A frame made when the activation was entered from outside the register
// form shows its parameters as they are now, as a tree-walker frame's
// argument object does: their registers are written into the argument
// object the frame shows (a by-reference one into the value it names,
// which only the frame sees).
void ShowCurrentArguments(const RegActivation& act) {
    InterObjRep* args = act.frame->args();
    if (!args) return;
    InterObjFieldIterator fields(args);
    size_t k = 0;
    while (Field* f = fields()) {
        if (!f->isData()) continue;
        if (k >= act.form->parameters.size()) return;
        const RegOperand& p = act.form->parameters[k++];
        // An array parameter is the caller's array itself: the frame shows it.
        if (p.file != REGF_NUMBER) continue;
        const RegNumber& n = act.numbers[p.index];
        SignatureRep& owner = *fields.signature();
        try {
            switch (n.type) {
                case IDT_SHORT: f->set(static_cast<int16_t>(n.l), *args, owner); break;
                case IDT_LONG: f->set(n.l, *args, owner); break;
                case IDT_FLOAT: f->set(n.f, *args, owner); break;
                case IDT_DOUBLE: f->set(n.d, *args, owner); break;
                default: break;
            }
        } catch (const StoreException&) {
            // The frame keeps what it showed.
        }
    }
}

// Offers a failure to a hook that records it (one that follows execution
// keeps every procedure on the tree walker), with a frame for every
// activation running, each at its statement and with its arguments as
// they are now. Only when the native stack has no room for the frames (a
// runaway recursion) is it offered with fewer.
//
// A caller that an earlier failure showed and that has not run since is
// as it was shown, and so is every caller beneath it: the walk stops
// there. A recursion whose every level fails and catches (in a procedure
// on the tree walker) so shows each activation about once, not once for
// every level above it.
void OfferFailure(RegActivation& act, DebugHook& debugger, StoreException& e) {
    RegShownFrames shown(act);
    for (RegActivation* a = act.caller; a; a = a->caller)
        if (a->frame) {
            if (a->shown) break;
            ShowStatement(*a, *a->frame);
            ShowCurrentArguments(*a);
            a->shown = true;
            ++RegShownFrames::activationsShown;
        }
    for (RegActivation* a = &act; a; a = a->caller)
        if (a->frame) {
            debugger.error(a->frame->context(), e);
            return;
        }
}

}  // namespace

// Whoever walks the stack must see every procedure running: calls from
// register code have no frame of their own, so the activations from act
// back to the nearest one that has get a Context and a frame for as long
// as this lives, and that one shows where it stands.
RegShownFrames::RegShownFrames(RegActivation& act) {
    std::vector<RegActivation*> frameless;
    RegActivation* entry = &act;
    for (; entry && !entry->frame; entry = entry->caller) frameless.push_back(entry);
    if (entry) {
        ShowStatement(*entry, *entry->frame);
        ShowCurrentArguments(*entry);
    }
    try {
        for (auto it = frameless.rbegin(); it != frameless.rend(); ++it) {
            RegActivation& a = **it;
            values_.push_back(std::make_unique<ValueList>());
            InterObjRep* args = ShownArguments(a, *values_.back());
            contexts_.push_back(std::make_unique<Context>(a.me, a.proc, Context::kSearchGlobals));
            // The frame owns the argument object from here on, also when
            // it fails to be pushed.
            frames_.push_back(std::make_unique<StackFrame>(
                *contexts_.back(), nullptr, a.proc->isFunction() ? FunctionFrame : SubFrame, args, true));
            ShowStatement(a, *frames_.back());
            a.frame = frames_.back().get();
            given_.push_back(&a);
        }
    } catch (const StoreException&) {
        // No room for more: the walk sees fewer.
    }
}

RegShownFrames::~RegShownFrames() {
    for (RegActivation* a : given_) a->frame = nullptr;
    // Frames go newest first, then their contexts, as the pool's slots
    // were taken.
    while (!frames_.empty()) frames_.pop_back();
    while (!contexts_.empty()) contexts_.pop_back();
}

namespace {

// A failure passing out of the activation gets the line, Me and procedure
// of the statement whose instruction failed, as the statement dispatcher
// gives them (ExecNode::failed).
[[noreturn]] void Failed(RegActivation& act, uint32_t pc) {
    try {
        throw;
    } catch (TerminateExecution&) {
        throw;
    } catch (IRethrow&) {
        throw;
    } catch (StoreException& e) {
        const RegisterForm& form = *act.form;
        // An instruction before the first statement (an As New local of
        // the body being made) has no statement to name.
        if (e.handled || pc >= form.statementOf.size() || form.statementOf[pc] >= form.statements.size()) throw;
        const RegStatement& st = form.statements[form.statementOf[pc]];
        e.handled = true;
        e.line = st.runningLine;
        const_cast<ExecNode*>(st.node)->setRunningLine(st.runningLine);
        act.pc = pc;
        if (DebugHook* debugger = DebugHook::Installed()) OfferFailure(act, *debugger, e);
        e.setObject(act.me);
        e.procedure = act.proc;
        throw;
    }
}

// ---- the run loop ---------------------------------------------------------------------------

// A string operand: a register, or a constant when negative.
inline const std::string& Str(const RegActivation& act, int32_t operand) {
    return operand >= 0 ? act.strings[operand] : act.form->stringConstants[static_cast<size_t>(-1 - operand)];
}

template <class T>
inline T Counter(const RegNumber& n) {
    if constexpr (std::is_same_v<T, float>)
        return n.f;
    else if constexpr (std::is_same_v<T, double>)
        return n.d;
    else
        return static_cast<T>(n.l);
}
template <class T>
inline void SetCounter(RegNumber& n, T v) {
    if constexpr (std::is_same_v<T, float>)
        n.f = v;
    else if constexpr (std::is_same_v<T, double>)
        n.d = v;
    else
        n.l = v;
}

// For's test: whether counter v is past last, stepping by `by`.
template <class T>
inline bool PastEnd(const RegNumber* r, const RegInstr& in) {
    const T v = Counter<T>(r[in.a]);
    const T last = Counter<T>(r[in.b]);
    const T by = Counter<T>(r[in.b + 1]);
    return by >= 0 ? v > last : v < last;
}

// Next: the counter stepped; false when the loop ends (past the end, or an
// integral counter whose next value its type cannot hold).
template <class T>
inline bool Step(RegNumber* r, const RegInstr& in) {
    const T now = Counter<T>(r[in.a]);
    const T by = Counter<T>(r[in.b + 1]);
    T next;
    if constexpr (std::is_integral_v<T>) {
        const int64_t n = int64_t(now) + int64_t(by);
        if (n > std::numeric_limits<T>::max() || n < std::numeric_limits<T>::min()) return false;
        next = static_cast<T>(n);
    } else {
        next = static_cast<T>(now + by);
    }
    SetCounter<T>(r[in.a], next);
    return !PastEnd<T>(r, in);
}

template <class T>
void ForConvert(RegNumber& d, const RegNumber& s, IdType type) {
    if (s.type == type) {
        d = s;
        return;
    }
    SetCounter<T>(d, ConvertAs<T>(s));
    d.type = type;
}

void PrintNumber(Printable& sink, const RegNumber& n) {
    switch (n.type) {
        case IDT_SHORT: return sink.printInteger(static_cast<int16_t>(n.l));
        case IDT_LONG: return sink.printLong(n.l);
        case IDT_FLOAT: return sink.printSingle(n.f);
        default: return sink.printDouble(n.d);
    }
}

// string a = b & c, built aside: the destination may be an operand.
void Concat(RegActivation& act, const RegInstr& in) {
    std::string t;
    const std::string& x = Str(act, in.b);
    const std::string& y = Str(act, in.c);
    CheckStringLength(x.size() + y.size());
    t.reserve(x.size() + y.size());
    t.append(x).append(y);
    act.strings[in.a] = std::move(t);
}

[[gnu::noinline]] void Intrinsic(RegActivation& act, const RegInstr& in) {
    ValuePtr v = IntrString::Apply(in.y, act.values + in.b, in.c);
    if (in.x == REGF_STRING) {
        ValString text;
        v->get(text);
        std::string& d = act.strings[in.a];
        d.clear();
        if (const ValStringRep* rep = text.get()) d.append(rep->text());
    } else {
        Unbox(*v, act.numbers[in.a]);
    }
}

// A number result into its destination: a temporary (want 0) takes it as
// it is; a variable of declared type want gets it converted as an
// assignment converts it, and keeps its value when that fails.
[[gnu::noinline]] void PutConverted(RegNumber& d, uint16_t want, RegNumber t) {
    RegStoreNumber(d, static_cast<IdType>(want), t);
}

inline void Put(RegNumber& d, uint16_t want, const RegNumber& t) {
    if (want == IDT_UNTYPED || want == t.type)
        d = t;
    else
        PutConverted(d, want, t);
}

inline void PutLong(RegNumber& d, uint16_t want, int32_t v) {
    if (want == IDT_UNTYPED || want == IDT_LONG) {
        d.l = v, d.type = IDT_LONG;
        return;
    }
    RegNumber t;
    t.l = v, t.type = IDT_LONG;
    PutConverted(d, want, t);
}

inline void PutDouble(RegNumber& d, uint16_t want, double v) {
    if (want == IDT_UNTYPED || want == IDT_DOUBLE) {
        d.d = v, d.type = IDT_DOUBLE;
        return;
    }
    RegNumber t;
    t.d = v, t.type = IDT_DOUBLE;
    PutConverted(d, want, t);
}

// op by the value rules into d (want as for Put); the result is made
// aside, so that a failure leaves d as it was.
[[gnu::noinline]] void ArithInto(uint8_t op, const RegNumber& a, const RegNumber& b, RegNumber& d, uint16_t want) {
    RegNumber t;
    Arith(op, a, b, t);
    Put(d, want, t);
}

// +, - and *: two Longs whose result is a Long, or a Double operand and a
// finite result, without leaving the run loop.
template <uint8_t Op>
[[gnu::always_inline]] inline void FastArith(RegNumber* r, const RegInstr& in) {
    const RegNumber &x = r[in.b], &y = r[in.c];
    if (x.type == IDT_LONG && y.type == IDT_LONG) {
        int32_t v;
        bool over;
        if constexpr (Op == BINOP_ADD)
            over = __builtin_add_overflow(x.l, y.l, &v);
        else if constexpr (Op == BINOP_SUB)
            over = __builtin_sub_overflow(x.l, y.l, &v);
        else
            over = __builtin_mul_overflow(x.l, y.l, &v);
        if (!over) return PutLong(r[in.a], in.y, v);
    } else if (x.type == IDT_DOUBLE || y.type == IDT_DOUBLE) {
        const double p = AsDouble(x), q = AsDouble(y);
        const double v = Op == BINOP_ADD ? p + q : Op == BINOP_SUB ? p - q : p * q;
        if (std::isfinite(v)) return PutDouble(r[in.a], in.y, v);
    }
    ArithInto(Op, x, y, r[in.a], in.y);
}

// The element of a one-dimensional array that a Long index names, or -1
// when the general indexing must decide (another index type, another
// number of dimensions, an index out of range: its failures).
inline int64_t ElementOf1(const RegArray& a, const RegNumber& i) {
    if (i.type != IDT_LONG || a.lower.size() != 1) return -1;
    const int64_t at = int64_t(i.l) - a.lower[0];
    return at >= 0 && at < a.count[0] ? at : -1;
}

// Stores number v into element at of number array a, converted to the
// array's type.
inline void SetElement(RegArray& a, size_t at, const RegNumber& v) {
    if (v.type == a.type) {
        std::memcpy(&a.numbers[at], &v, sizeof(RegElement));
        return;
    }
    RegNumber stored{};
    RegStoreNumber(stored, a.type, v);
    std::memcpy(&a.numbers[at], &stored, sizeof(RegElement));
}

// The run loop dispatches through a table of handler addresses (GCC and
// Clang take `&&label`): one indirect jump per instruction, straight from
// the instruction's opcode, with no bounds check (every opcode byte has an
// entry; one the loop does not know stops it). No handler may hold an
// object with a destructor when it dispatches (the compilers do not promise
// to run it on an indirect jump out of its scope): such work lives in a
// function the handler calls.
#define TQ_DISPATCH() goto* table[ip->op]
#define TQ_NEXT()      \
    do {               \
        ++ip;          \
        TQ_DISPATCH(); \
    } while (false)
#define TQ_JUMP(t)         \
    do {                   \
        ip = code + (t);   \
        TQ_DISPATCH();     \
    } while (false)

void Run(RegActivation& act) {
    static const void* const core[] = {
        &&op_nop, &&op_move_n, &&op_store_n, &&op_move_s, &&op_num_to_s, &&op_store_s_to_n, &&op_arith,
        &&op_compare_n, &&op_compare_s, &&op_concat, &&op_append, &&op_append_n, &&op_negate, &&op_not,
        &&op_jump, &&op_jump_false, &&op_jump_true, &&op_loop, &&op_for_conv, &&op_for_test, &&op_for_step,
        &&op_return, &&op_reset_n, &&op_reset_s, &&op_reset_a, &&op_array_get_n, &&op_array_set_n,
        &&op_array_get_s, &&op_array_set_s, &&op_redim, &&op_array_bound, &&op_print_begin, &&op_print_sep,
        &&op_print_n, &&op_print_s, &&op_print_spc, &&op_print_end, &&op_len, &&op_box_n, &&op_box_s,
        &&op_intrinsic, &&op_add, &&op_sub, &&op_mul, &&op_mod, &&op_jump_eq, &&op_jump_ne, &&op_jump_gt,
        &&op_jump_lt, &&op_jump_ge, &&op_jump_le, &&op_for_step_l, &&op_array_get_n1, &&op_array_set_n1,
    };
    static_assert(sizeof core / sizeof core[0] == ROP_CORE_LIMIT, "a handler for every core opcode");
    // Every opcode byte, filled on the first run: the core's handlers, the
    // ranges of calls and fields, and a stop for any other.
    static const void* table[256];
    if (!table[ROP_NOP]) [[unlikely]] {
        std::fill(table + ROP_CORE_LIMIT, table + 256, &&op_unknown);
        std::fill(table + kCallFirst, table + kFieldFirst, &&op_call);
        std::fill(table + kFieldFirst, table + kObjectFirst, &&op_field);
        std::fill(table + kObjectFirst, table + kReservedFirst, &&op_object);
        std::copy(core, core + ROP_CORE_LIMIT, table);
    }

    const RegisterForm& form = *act.form;
    const RegInstr* const code = form.code.data();
    RegNumber* const r = act.numbers;
    std::string* const s = act.strings;
    RegArray* const arrays = act.arrays;
    Printable* sink = nullptr;
    const RegInstr* ip = code;
    try {
        StoreApplication::CheckForBreak();
        TQ_DISPATCH();

    op_nop:
        TQ_NEXT();
    op_move_n:
        r[ip->a] = r[ip->b];
        TQ_NEXT();
    op_store_n: {
        const RegInstr& in = *ip;
        if (r[in.b].type == in.y)
            r[in.a] = r[in.b];
        else
            RegStoreNumber(r[in.a], static_cast<IdType>(in.y), r[in.b]);
        TQ_NEXT();
    }
    op_move_s:
        if (ip->a != ip->b) s[ip->a] = Str(act, ip->b);
        TQ_NEXT();
    op_num_to_s:
        s[ip->a].clear();
        AppendNumberText(s[ip->a], r[ip->b]);
        TQ_NEXT();
    op_store_s_to_n:
        StoreFromValue(r[ip->a], static_cast<IdType>(ip->y), *Text(Str(act, ip->b)));
        TQ_NEXT();
    op_arith: {
        const RegInstr& in = *ip;
        RegNumber t;
        Arith(in.x, r[in.b], r[in.c], t);
        Put(r[in.a], in.y, t);
        TQ_NEXT();
    }
    op_add:
        FastArith<BINOP_ADD>(r, *ip);
        TQ_NEXT();
    op_sub:
        FastArith<BINOP_SUB>(r, *ip);
        TQ_NEXT();
    op_mul:
        FastArith<BINOP_MUL>(r, *ip);
        TQ_NEXT();
    op_mod: {
        const RegInstr& in = *ip;
        const RegNumber &x = r[in.b], &y = r[in.c];
        if (x.type == IDT_LONG && y.type == IDT_LONG && y.l > 0)
            PutLong(r[in.a], in.y, x.l % y.l);
        else
            ArithInto(BINOP_MOD, x, y, r[in.a], in.y);
        TQ_NEXT();
    }
    op_compare_n:
        r[ip->a].l = CompareNumbers(ip->x, r[ip->b], r[ip->c]);
        r[ip->a].type = IDT_LONG;
        TQ_NEXT();
    op_compare_s:
        r[ip->a].l = CompareStrings(ip->x, Str(act, ip->b), Str(act, ip->c));
        r[ip->a].type = IDT_LONG;
        TQ_NEXT();
    op_jump_eq:
        if (Holds<std::equal_to<>>(r[ip->a], r[ip->c]) == (ip->x != 0)) TQ_JUMP(ip->b);
        TQ_NEXT();
    op_jump_ne:
        if (Holds<std::not_equal_to<>>(r[ip->a], r[ip->c]) == (ip->x != 0)) TQ_JUMP(ip->b);
        TQ_NEXT();
    op_jump_gt:
        if (Holds<std::greater<>>(r[ip->a], r[ip->c]) == (ip->x != 0)) TQ_JUMP(ip->b);
        TQ_NEXT();
    op_jump_lt:
        if (Holds<std::less<>>(r[ip->a], r[ip->c]) == (ip->x != 0)) TQ_JUMP(ip->b);
        TQ_NEXT();
    op_jump_ge:
        if (Holds<std::greater_equal<>>(r[ip->a], r[ip->c]) == (ip->x != 0)) TQ_JUMP(ip->b);
        TQ_NEXT();
    op_jump_le:
        if (Holds<std::less_equal<>>(r[ip->a], r[ip->c]) == (ip->x != 0)) TQ_JUMP(ip->b);
        TQ_NEXT();
    op_concat:
        Concat(act, *ip);
        TQ_NEXT();
    op_append: {
        const std::string& tail = Str(act, ip->b);
        if (s[ip->a].size() + tail.size() > kMaxStringLength) [[unlikely]]
            CheckStringLength(s[ip->a].size() + tail.size());
        s[ip->a].append(tail);
        TQ_NEXT();
    }
    op_append_n:
        AppendNumberText(s[ip->a], r[ip->b]);
        TQ_NEXT();
    op_negate: {
        const RegNumber& x = r[ip->b];
        RegNumber& d = r[ip->a];
        if (x.type == IDT_LONG && x.l != std::numeric_limits<int32_t>::min()) {
            d.l = -x.l, d.type = IDT_LONG;
        } else if (x.type == IDT_DOUBLE) {
            d.d = -x.d, d.type = IDT_DOUBLE;
        } else {
            // The Integer -1 times the operand: the promotion rules decide
            // the type (-(-32768) is a Long).
            const IntegerValue minusOne(static_cast<int16_t>(-1));
            ValuePtr v = RegBox(x);
            Unbox(*ValueArith(ARITH_MUL, minusOne, *v), d);
        }
        TQ_NEXT();
    }
    op_not: {
        const RegNumber& x = r[ip->b];
        const int32_t v = x.type == IDT_LONG ? ~x.l : ValueNot(*RegBox(x));
        r[ip->a].l = v, r[ip->a].type = IDT_LONG;
        TQ_NEXT();
    }
    op_jump:
        TQ_JUMP(ip->a);
    op_jump_false:
        if (!Truth(r[ip->a])) TQ_JUMP(ip->b);
        TQ_NEXT();
    op_jump_true:
        if (Truth(r[ip->a])) TQ_JUMP(ip->b);
        TQ_NEXT();
    op_loop:
        StoreApplication::CheckForBreak();
        TQ_JUMP(ip->a);
    op_for_conv:
        switch (ip->x) {
            case IDT_SHORT: ForConvert<int16_t>(r[ip->a], r[ip->b], IDT_SHORT); break;
            case IDT_LONG: ForConvert<int32_t>(r[ip->a], r[ip->b], IDT_LONG); break;
            case IDT_FLOAT: ForConvert<float>(r[ip->a], r[ip->b], IDT_FLOAT); break;
            default: ForConvert<double>(r[ip->a], r[ip->b], IDT_DOUBLE); break;
        }
        TQ_NEXT();
    op_for_test: {
        bool past;
        switch (r[ip->a].type) {
            case IDT_SHORT: past = PastEnd<int16_t>(r, *ip); break;
            case IDT_LONG: past = PastEnd<int32_t>(r, *ip); break;
            case IDT_FLOAT: past = PastEnd<float>(r, *ip); break;
            default: past = PastEnd<double>(r, *ip); break;
        }
        if (past) TQ_JUMP(ip->c);
        TQ_NEXT();
    }
    op_for_step: {
        bool again;
        switch (r[ip->a].type) {
            case IDT_LONG: again = Step<int32_t>(r, *ip); break;
            case IDT_SHORT: again = Step<int16_t>(r, *ip); break;
            case IDT_FLOAT: again = Step<float>(r, *ip); break;
            default: again = Step<double>(r, *ip); break;
        }
        if (!again) TQ_NEXT();
        StoreApplication::CheckForBreak();
        TQ_JUMP(ip->c);
    }
    op_for_step_l: {
        // The end and the step were converted to Long when the loop began;
        // the counter is a Long variable, which every assignment keeps.
        const RegInstr& in = *ip;
        RegNumber& counter = r[in.a];
        if (counter.type != IDT_LONG) [[unlikely]]
            goto op_for_step;
        const int32_t last = r[in.b].l, by = r[in.b + 1].l;
        int32_t next;
        // A next value beyond a Long ends the loop, the counter as it was.
        if (__builtin_add_overflow(counter.l, by, &next)) TQ_NEXT();
        counter.l = next;
        if (by >= 0 ? next > last : next < last) TQ_NEXT();
        StoreApplication::CheckForBreak();
        TQ_JUMP(in.c);
    }
    op_return:
        return;
    op_reset_n:
        std::memcpy(static_cast<void*>(r + ip->a), form.numberImage.data() + ip->a,
                    sizeof(RegNumber) * static_cast<size_t>(ip->b));
        TQ_NEXT();
    op_reset_s:
        for (int32_t i = 0; i < ip->b; ++i) s[ip->a + i].clear();
        TQ_NEXT();
    op_reset_a:
        for (int32_t i = 0; i < ip->b; ++i) Fresh(form.arrayImage[ip->a + i], arrays[ip->a + i]);
        TQ_NEXT();
    op_array_get_n: {
        const RegArray& a = arrays[ip->b];
        RegNumber& d = r[ip->a];
        std::memcpy(&d, &a.numbers[Element(a, r + ip->c, ip->y)], sizeof(RegElement));
        d.type = a.type;
        TQ_NEXT();
    }
    op_array_get_n1: {
        const RegArray& a = arrays[ip->b];
        int64_t at = ElementOf1(a, r[ip->c]);
        if (at < 0) [[unlikely]]
            at = static_cast<int64_t>(Element(a, r + ip->c, 1));
        RegNumber& d = r[ip->a];
        std::memcpy(&d, &a.numbers[static_cast<size_t>(at)], sizeof(RegElement));
        d.type = a.type;
        TQ_NEXT();
    }
    op_array_set_n: {
        RegArray& a = arrays[ip->a];
        SetElement(a, Element(a, r + ip->c, ip->y), r[ip->b]);
        TQ_NEXT();
    }
    op_array_set_n1: {
        RegArray& a = arrays[ip->a];
        int64_t at = ElementOf1(a, r[ip->c]);
        if (at < 0) [[unlikely]]
            at = static_cast<int64_t>(Element(a, r + ip->c, 1));
        SetElement(a, static_cast<size_t>(at), r[ip->b]);
        TQ_NEXT();
    }
    op_array_get_s: {
        const RegArray& a = arrays[ip->b];
        s[ip->a] = a.strings[Element(a, r + ip->c, ip->y)];
        TQ_NEXT();
    }
    op_array_set_s: {
        RegArray& a = arrays[ip->a];
        const size_t at = Element(a, r + ip->c, ip->y);
        a.strings[at] = Str(act, ip->b);
        TQ_NEXT();
    }
    op_redim:
        Redim(arrays[ip->a], r + ip->b, ip->y, ip->x != 0);
        TQ_NEXT();
    op_array_bound: {
        const RegInstr& in = *ip;
        const RegArray& a = arrays[in.b];
        const int32_t dim = in.c < 0 ? 1 : r[in.c].type == IDT_LONG ? r[in.c].l : ConvertAs<int32_t>(r[in.c]);
        int32_t bound;
        if (dim >= 1 && size_t(dim) <= a.lower.size()) {
            const size_t k = static_cast<size_t>(dim - 1);
            bound = in.x == 0 ? a.lower[k] : a.lower[k] + a.count[k] - 1;
        } else {
            // LBound's and UBound's own failure, dimensions counted from 1
            // (intfuncs.cpp).
            throw RangeError(32729, 1, static_cast<int32_t>(a.lower.size()), dim);
        }
        r[in.a].l = bound;
        r[in.a].type = IDT_LONG;
        TQ_NEXT();
    }
    op_print_begin:
        sink = StoreApplication::GetCurrentPrintable();
        TQ_NEXT();
    op_print_sep:
        if (sink) sink->separator(ip->x);
        TQ_NEXT();
    op_print_n:
        if (sink) PrintNumber(*sink, r[ip->a]);
        TQ_NEXT();
    op_print_s:
        if (sink) {
            const std::string& t = Str(act, ip->a);
            sink->printString(t.data(), t.size());
        }
        TQ_NEXT();
    op_print_spc:
        // Without a sink the item is evaluated but not converted.
        if (sink) {
            const RegNumber& n = r[ip->a];
            const int16_t k = n.type == IDT_SHORT ? static_cast<int16_t>(n.l) : ConvertAs<int16_t>(n);
            if (ip->x)
                sink->tab(k);
            else
                sink->space(k);
        }
        TQ_NEXT();
    op_print_end:
        if (sink) sink->endOfStatement(ip->x);
        sink = nullptr;
        TQ_NEXT();
    op_len:
        r[ip->a].l = static_cast<int32_t>(Str(act, ip->b).size());
        r[ip->a].type = IDT_LONG;
        TQ_NEXT();
    op_box_n:
        act.values[ip->a] = RegBox(r[ip->b]);
        TQ_NEXT();
    op_box_s:
        act.values[ip->a] = Text(Str(act, ip->b));
        TQ_NEXT();
    op_intrinsic:
        Intrinsic(act, *ip);
        TQ_NEXT();
    op_call: {
        const uint32_t pc = static_cast<uint32_t>(ip - code);
        act.pc = pc;
        TQ_JUMP(RegRunCall(act, *ip, pc));
    }
    op_field: {
        const uint32_t pc = static_cast<uint32_t>(ip - code);
        act.pc = pc;
        TQ_JUMP(RegRunField(act, *ip, pc));
    }
    op_object: {
        const uint32_t pc = static_cast<uint32_t>(ip - code);
        act.pc = pc;
        TQ_JUMP(RegRunObject(act, *ip, pc));
    }
    op_unknown:
        utilsAssert("register form: unknown instruction", __FILE__, __LINE__);
    } catch (const StoreException&) {
        Failed(act, static_cast<uint32_t>(ip - code));
    } catch (const std::bad_alloc&) {
        try {
            throw OutOfMemory();
        } catch (const StoreException&) {
            Failed(act, static_cast<uint32_t>(ip - code));
        }
    }
#undef TQ_JUMP
#undef TQ_NEXT
#undef TQ_DISPATCH
}

}  // namespace

// ---- the entry ----------------------------------------------------------------------------

RegisterForm* RegFormFor(InterProcField& proc, InterObjRep& me) {
    if (!RegFormAllowed()) return nullptr;
    RegFormHolder& holder = proc.registerForm();
    bool notTaken = false;
    if (RegisterForm* form = holder.current(notTaken)) return form;
    if (notTaken || !proc.isCompiled()) return nullptr;
    std::unique_ptr<RegisterForm> made;
    try {
        made = RegisterForm::Translate(proc, me);
    } catch (const StoreException&) {
        // A block that cannot be read: the tree walker runs into it where
        // it would, with its own failure.
        return nullptr;
    }
    if (made)
        made->numbersOnly = made->stringCount == 0 && made->arrayImage.empty() && made->valueCount == 0 &&
                            made->listCount == 0;
    holder.keep(std::move(made));
    return holder.current(notTaken);
}

void RegCallee::run() { Run(act_); }

bool RunRegisterForm(InterProcField& proc, InterObjRep& me, const ValueList* args, ValuePtr& result) {
    if (!RegisterForm::Enabled()) return false;
    // A procedure the translator refused costs the caller this much.
    bool notTaken = false;
    RegisterForm* form = proc.registerForm().current(notTaken);
    if (notTaken || !RegFormAllowed()) return false;
    if (!form && !(form = RegFormFor(proc, me))) return false;
    if (!RegEntryTakes(proc, args)) return false;
    RegCallee callee(*form, proc, me);
    RegActivation& act = callee.activation();
    DebugHook* hook = DebugHook::Installed();
    Context ctx(&me, &proc, Context::kSearchGlobals);
    act.ctx = &ctx;
    if (hook) hook->functionCalled();
    struct Returned {
        DebugHook* hook;
        ~Returned() {
            if (hook) hook->functionReturned();
        }
    } returned{hook};
    // The arguments bind before the frame is pushed, as on the tree walker:
    // a binding failure is the caller's, and so is "Stack overflow.".
    RegEntryBacks backs;
    RegBindArguments(act, args, backs);
    // A hook that records failures walks the frames and shows their
    // arguments.
    CallDepth depth;
    ValueList shown;
    InterObjRep* shownArgs = hook ? ShownArguments(act, shown) : nullptr;
    StackFrame frame(ctx, nullptr, proc.isFunction() ? FunctionFrame : SubFrame, shownArgs, true);
    act.frame = &frame;
    try {
        callee.run();
    } catch (...) {
        try {
            RegWriteBack(act, backs);
        } catch (...) {
            // The call's own failure is the one reported.
        }
        throw;
    }
    RegWriteBack(act, backs);
    result = RegResult(act);
    return true;
}

}  // namespace tq
