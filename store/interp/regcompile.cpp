// Translating a procedure into its register form (regcompile.h).
#include "store/interp/regcompile.h"

#include <cstdint>
#include <cstring>
#include <string>

#include "store/arrayfld.h"
#include "store/block.h"
#include "store/errors/extexcep.h"
#include "store/interp/assign.h"
#include "store/interp/binop.h"
#include "store/interp/case.h"
#include "store/interp/compound.h"
#include "store/interp/doloop.h"
#include "store/interp/fornext.h"
#include "store/interp/ident.h"
#include "store/interp/ifthen.h"
#include "store/interp/intfuncs.h"
#include "store/interp/print.h"
#include "store/interp/redim.h"
#include "store/interp/regcall.h"
#include "store/interp/regobject.h"
#include "store/interp/srcctl.h"
#include "store/interp/strfunc.h"
#include "store/methfld.h"
#include "store/model/fldval.h"
#include "store/model/interobj.h"
#include "store/model/intfld.h"
#include "store/model/objiter.h"
#include "store/model/sigrep.h"

namespace tq {

namespace {

bool IsNumberType(IdType t) { return t == IDT_SHORT || t == IDT_LONG || t == IDT_FLOAT || t == IDT_DOUBLE; }

// A type suffix written on a name must be the variable's type, or the
// general path's member check fails at run time: such a name is not taken.
bool SuffixFits(IdType suffix, IdType declared) {
    const IdType t = suffix & IDT_TYPEMASK;
    return t == IDT_UNTYPED || t == declared;
}

// The string functions whose result is a number.
bool StringFunctionGivesNumber(uint32_t word) {
    return word == STR_INSTR || word == STR_LEN || word == STR_ASC || word == STR_VAL || word == STR_STRCOMP;
}

}  // namespace

RegisterForm::~RegisterForm() = default;

std::unique_ptr<RegisterForm> RegisterForm::Translate(InterProcField& proc, InterObjRep& me) {
    auto form = std::make_unique<RegisterForm>();
    RegCompiler rc(proc, me, *form);
    if (!rc.translate()) return nullptr;
    return form;
}

RegCompiler::RegCompiler(InterProcField& proc, InterObjRep& me, RegisterForm& form)
    : proc_(proc), me_(me), form_(form) {}

bool RegCompiler::translate() {
    if (!proc_.isCompiled()) return false;
    const uint32_t blocks = proc_.blocks().length();
    // The parameters' scope lies beneath the body's locals and constants,
    // as an activation looks them up.
    scopes_.emplace_back();
    if (!RegDeclareParameters(*this)) return false;
    if (!block(blocks - 1, false)) return false;
    for (uint32_t j : exitSubJumps_) at(j).a = static_cast<int32_t>(here());
    emit({ROP_RETURN});
    return true;
}

// ---- emitting ----------------------------------------------------------------------------

uint32_t RegCompiler::emit(const RegInstr& in) {
    form_.code.push_back(in);
    form_.statementOf.push_back(currentStatement_);
    return here() - 1;
}

void RegCompiler::beginStatement(const ExecNode* s, int32_t runningLine) {
    form_.statements.push_back({s, s->line(), runningLine});
    currentStatement_ = static_cast<uint32_t>(form_.statements.size() - 1);
}

// ---- registers -----------------------------------------------------------------------------

int32_t RegCompiler::newNumber(IdType type) {
    RegNumber n{};
    n.type = type;
    form_.numberImage.push_back(n);
    return static_cast<int32_t>(form_.numberImage.size() - 1);
}

int32_t RegCompiler::newString() { return static_cast<int32_t>(form_.stringCount++); }

int32_t RegCompiler::newValue() { return static_cast<int32_t>(form_.valueCount++); }

int32_t RegCompiler::newList() { return static_cast<int32_t>(form_.listCount++); }

int32_t RegCompiler::longConstant(int32_t v) {
    RegNumber n{};
    n.l = v;
    n.type = IDT_LONG;
    const int32_t r = newNumber(IDT_LONG);
    form_.numberImage[static_cast<size_t>(r)] = n;
    return r;
}

int32_t RegCompiler::integerConstant(int16_t v) {
    const int32_t r = longConstant(v);
    form_.numberImage[static_cast<size_t>(r)].type = IDT_SHORT;
    return r;
}

int32_t RegCompiler::doubleConstant(double v) {
    const int32_t r = newNumber(IDT_DOUBLE);
    form_.numberImage[static_cast<size_t>(r)].d = v;
    return r;
}

int32_t RegCompiler::singleConstant(float v) {
    const int32_t r = newNumber(IDT_FLOAT);
    form_.numberImage[static_cast<size_t>(r)].f = v;
    return r;
}

int32_t RegCompiler::stringConstant(std::string_view text) {
    form_.stringConstants.emplace_back(text);
    return -static_cast<int32_t>(form_.stringConstants.size());
}

RegSlot& RegCompiler::declare(const std::string& name, RegFile file, IdType type, const RegNumber* init) {
    RegSlot slot{name, file, type, 0};
    switch (file) {
        case REGF_NUMBER:
            slot.index = newNumber(type);
            if (init) form_.numberImage[static_cast<size_t>(slot.index)] = *init;
            break;
        case REGF_STRING: slot.index = newString(); break;
        case REGF_ARRAY: {
            RegArray a;
            a.type = type;
            form_.arrayImage.push_back(std::move(a));
            slot.index = static_cast<int32_t>(form_.arrayImage.size() - 1);
            break;
        }
        case REGF_VALUE: slot.index = newValue(); break;
    }
    form_.slots.push_back(std::move(slot));
    const uint32_t index = static_cast<uint32_t>(form_.slots.size() - 1);
    scopes_.back().named.push_back(index);
    return form_.slots.back();
}

// ---- names -------------------------------------------------------------------------------

const char* RegCompiler::identifierName(uint16_t idIndex) const {
    const IdStringVector& ids = proc_.identifiers();
    if (idIndex >= ids.count()) return nullptr;
    return static_cast<const char*>(ids[idIndex]);
}

RegCompiler::Found RegCompiler::resolve(uint16_t idIndex, const RegSlot*& slot) const {
    slot = nullptr;
    const char* name = identifierName(idIndex);
    if (!name) return kBlocked;
    for (size_t i = scopes_.size(); i-- > 0;) {
        const Scope& sc = scopes_[i];
        // The block's locals, then its statics: a field of theirs without a
        // register is a variable the form cannot hold.
        for (InterObjRep* variables : {sc.locals, sc.statics}) {
            SignatureRep* owner = nullptr;
            Field* f = variables && variables->signature() ? variables->signature()->findField(name, owner, 0) : nullptr;
            if (!f) continue;
            for (const auto& [field, index] : sc.fieldSlots)
                if (field == f) {
                    slot = &form_.slots[index];
                    return kFound;
                }
            return kBlocked;
        }
        for (uint32_t index : sc.named)
            if (std::strncmp(form_.slots[index].name.c_str(), name, kMaxIdLength) == 0) {
                slot = &form_.slots[index];
                return kFound;
            }
    }
    return kAbsent;
}

const RegSlot* RegCompiler::findSlot(uint16_t idIndex) const {
    const RegSlot* slot = nullptr;
    return resolve(idIndex, slot) == kFound ? slot : nullptr;
}

// ---- blocks and their variables --------------------------------------------------------------

bool RegCompiler::blockLocals(BlockRep& b, bool embedsAllowed) {
    Scope& sc = scopes_.back();
    sc.locals = b.localVarObj();
    sc.statics = b.staticVarObj();
    if (InterObjRep* o = sc.locals) {
        InterObjFieldIterator it(o);
        while (Field* f = it()) {
            SignatureRep* owner = it.signature();
            if (!f->isInterDataField() || f->isByReference() || !owner) return false;
            const IdType t = f->type() & IDT_TYPEMASK;
            if (auto* embed = dynamic_cast<EmbedObjField*>(f)) {
                // Made as the block is entered (block), of a type known now.
                // A loop's body, entered once for all its turns, is left
                // by Exit as well as by its end: such a local is not taken
                // there.
                if (!embedsAllowed || !embed->typeSignature()) return false;
                sc.embeds = true;
                RegSlot slot{f->name(), REGF_VALUE, IDT_OBJECT, newValue()};
                slot.embedded = true;
                form_.embeds.emplace_back(slot.index, embed);
                form_.slots.push_back(std::move(slot));
                sc.fieldSlots.emplace_back(f, static_cast<uint32_t>(form_.slots.size() - 1));
                continue;
            }
            if (t == IDT_OBJECT) {
                // Object variables start as Nothing.
                ValuePtr init = SnapshotField(*f, *o, *owner);
                if (!RegIsObjectLocal(*f) || !init || !init->as<InterObj>().isNull()) return false;
                form_.slots.push_back(RegSlot{f->name(), REGF_VALUE, IDT_OBJECT, newValue()});
                sc.fieldSlots.emplace_back(f, static_cast<uint32_t>(form_.slots.size() - 1));
                continue;
            }
            if (!IsNumberType(t) && t != IDT_STRING) return false;
            RegSlot slot{f->name(), REGF_NUMBER, t, 0};
            if (f->isArrayData()) {
                auto* array = dynamic_cast<InterArrayField*>(f);
                if (!array) return false;
                RegArray a;
                a.type = t;
                for (int32_t k = 0; k < array->dimensions(); ++k) {
                    a.lower.push_back(array->getLBound(k));
                    a.count.push_back(array->getUBound(k) - array->getLBound(k) + 1);
                }
                form_.arrayImage.push_back(std::move(a));
                slot.file = REGF_ARRAY;
                slot.index = static_cast<int32_t>(form_.arrayImage.size() - 1);
            } else {
                ValuePtr init = SnapshotField(*f, *o, *owner);
                if (t == IDT_STRING) {
                    // Locals start empty; a prototype holding a text is not
                    // something the form resets to.
                    if (!init) return false;
                    const ValString text = init->as<ValString>();
                    if (text.get() && !text->text().empty()) return false;
                    slot.file = REGF_STRING;
                    slot.index = newString();
                } else {
                    RegNumber n{};
                    if (!init || !RegUnbox(*init, n) || n.type != t) return false;
                    slot.index = newNumber(t);
                    form_.numberImage[static_cast<size_t>(slot.index)] = n;
                }
            }
            form_.slots.push_back(std::move(slot));
            sc.fieldSlots.emplace_back(f, static_cast<uint32_t>(form_.slots.size() - 1));
        }
    }
    // Constants are read once; a Static variable lives from call to call
    // in the block's object, which the form does not hold.
    if (InterObjRep* o = sc.statics) {
        InterObjFieldIterator it(o);
        while (Field* f = it()) {
            SignatureRep* owner = it.signature();
            if (!f->isConst() || !f->isInterDataField() || f->isArrayData() || !owner) continue;
            const IdType t = f->type() & IDT_TYPEMASK;
            ValuePtr v = SnapshotField(*f, *o, *owner);
            if (!v) continue;
            RegSlot slot{f->name(), REGF_NUMBER, t, 0, true};
            if (t == IDT_STRING) {
                const ValString text = v->as<ValString>();
                slot.file = REGF_STRING;
                slot.index = stringConstant(text.get() ? std::string_view(text->text()) : std::string_view());
            } else if (IsNumberType(t)) {
                RegNumber n{};
                if (!RegUnbox(*v, n)) continue;
                slot.index = newNumber(t);
                form_.numberImage[static_cast<size_t>(slot.index)] = n;
            } else {
                continue;
            }
            form_.slots.push_back(std::move(slot));
            sc.fieldSlots.emplace_back(f, static_cast<uint32_t>(form_.slots.size() - 1));
        }
    }
    return true;
}

// The registers of the scope's locals go back to their declared values:
// a block entered again runs with a fresh copy of its locals.
void RegCompiler::resetLocals() {
    const Scope& sc = scopes_.back();
    for (const auto& [field, index] : sc.fieldSlots) {
        const RegSlot& slot = form_.slots[index];
        if (slot.constant || slot.embedded) continue;
        switch (slot.file) {
            case REGF_NUMBER: emit({ROP_RESET_N, 0, 0, slot.index, 1}); break;
            case REGF_STRING: emit({ROP_RESET_S, 0, 0, slot.index, 1}); break;
            case REGF_ARRAY: emit({ROP_RESET_A, 0, 0, slot.index, 1}); break;
            case REGF_VALUE: emit({ROP_RESET_V, 0, 0, slot.index, 1}); break;
        }
    }
}

BlockRep* RegCompiler::subBlock(uint32_t index) {
    if (index == NO_BLOCK || index >= proc_.blocks().length()) return nullptr;
    BlockRep* b = proc_.blocks().block(index);
    if (!b) return nullptr;
    for (const Scope& outer : scopes_) {
        if (outer.block == b) {
            const std::string text = "sub-block " + std::to_string(index) + " contains itself";
            throw ObjectLoadFailed(text.c_str());
        }
    }
    if (scopes_.size() > SourceControl::kMaxBlockNesting) throw ObjectLoadFailed("sub-blocks nest too deep to translate");
    form_.blocks.emplace_back(b);
    return b;
}

// The As New locals of the innermost scope made (each destroying what a
// former entry left), or destroyed as the block ends.
void RegCompiler::embeds(bool make) {
    const Scope& sc = scopes_.back();
    if (!sc.embeds) return;
    for (const auto& [field, index] : sc.fieldSlots) {
        const RegSlot& slot = form_.slots[index];
        if (!slot.embedded) continue;
        if (!make) {
            emit({ROP_EMBED_DROP, 0, 0, slot.index, 1});
            continue;
        }
        int32_t k = 0;
        while (form_.embeds[static_cast<size_t>(k)].first != slot.index) ++k;
        emit({ROP_EMBED_NEW, 0, 0, slot.index, k});
    }
}

bool RegCompiler::block(uint32_t blockIndex, bool reset) {
    BlockRep* b = subBlock(blockIndex);
    if (!b) return false;
    scopes_.emplace_back().block = b;
    if (!blockLocals(*b, true)) return false;
    if (reset) resetLocals();
    embeds(true);
    const bool ok = statements(*b);
    embeds(false);
    scopes_.pop_back();
    return ok;
}

bool RegCompiler::statements(BlockRep& b) {
    const uint8_t* at = b.nodes();
    for (uint32_t i = 0; i < b.nodeCount(); ++i) {
        const ExecNode* s = reinterpret_cast<const ExecNode*>(at);
        if (!statement(s)) return false;
        at += s->size();
    }
    return true;
}

// ---- statements ---------------------------------------------------------------------------

bool RegCompiler::statement(const ExecNode* s) {
    beginStatement(s, s->line());
    switch (s->type()) {
        case STMT_ASSIGNMENT: return assignment(s);
        case STMT_FOR_NEXT: return forNext(s);
        case STMT_DO_LOOP:
        case STMT_DO_LOOP2: return doLoop(s);
        case STMT_SIMPLE_IF: return simpleIf(s);
        case STMT_COMPLEX_IF: return complexIf(s);
        case STMT_SELECT_CASE: return selectCase(s);
        case STMT_EXITER: return exiter(s);
        case STMT_PRINT: return print(s);
        case STMT_REDIM: return redim(s);
        case STMT_FUNCTION_CALL: return RegTranslateCallStmt(*this, s);
        default: return false;
    }
}

bool RegCompiler::assignment(const ExecNode* s) {
    const auto* a = static_cast<const Assignment*>(s);
    if (a->flags() & Assignment::kDeepSet) return false;
    // Set assigns objects: with anything but an Object variable as its
    // target the statement is not taken.
    const bool set = (a->flags() & Assignment::kSet) != 0;
    const ExprNode* target = a->target();
    const ExprNode* value = a->value();
    const RegSlot* slot = nullptr;
    uint16_t idIndex = 0;
    IdType suffix = IDT_UNTYPED;
    if (target->type() == EXPR_SID) {
        const auto* sid = static_cast<const Sid*>(target);
        if (sid->isMe() || sid->isDotted() || sid->isTruthConstant()) return false;
        idIndex = sid->idIndex();
        suffix = sid->getIdType();
    } else if (target->type() == EXPR_CID) {
        const auto* cid = static_cast<const Cid*>(target);
        if (cid->isMe() || cid->isDotted() || cid->idIndex() == kIdUnset) return false;
        idIndex = cid->idIndex();
        suffix = cid->getIdType();
    } else {
        if (set) return false;
        const uint32_t valueStart = here();
        RegOperand v;
        return expression(value, v) && RegTranslateFieldWrite(*this, target, valueStart, v);
    }
    const Found found = resolve(idIndex, slot);
    if (found == kBlocked) return false;
    if (found == kAbsent) {
        if (set) return false;
        const uint32_t valueStart = here();
        RegOperand v;
        return expression(value, v) && RegTranslateFieldWrite(*this, target, valueStart, v);
    }
    // An As New local is not assigned (its field refuses it); a held
    // array is not written.
    if (slot->constant || slot->embedded || slot->heldArray || !SuffixFits(suffix, slot->type)) return false;
    if (slot->file == REGF_VALUE) return target->type() == EXPR_SID && objectAssignment(*slot, value);
    if (set) return false;
    if (target->type() == EXPR_SID && slot->file == REGF_STRING) {
        bool done = false;
        if (!append(*slot, value, done)) return false;
        if (done) return true;
    }
    // The value is evaluated first, then the target's indices. A number
    // variable takes an enumeration's entry as its number.
    const uint32_t valueStart = here();
    if (slot->type != IDT_STRING) numberUse_ = value;
    RegOperand v;
    if (!expression(value, v) || v.file == REGF_VALUE || v.file == REGF_ARRAY) return false;
    if (target->type() == EXPR_CID) {
        if (slot->file != REGF_ARRAY) return false;
        int32_t first = 0;
        uint16_t n = 0;
        if (!indices(static_cast<const Cid*>(target), first, n)) return false;
        if (slot->type == IDT_STRING) {
            const int32_t text = v.file == REGF_STRING ? v.index : toString(v);
            emit({ROP_ARRAY_SET_S, 0, n, slot->index, text, first});
        } else {
            if (v.file == REGF_STRING) {
                const int32_t t = newNumber(slot->type);
                emit({ROP_STORE_S_TO_N, 0, slot->type, t, v.index});
                v = {REGF_NUMBER, t, slot->type};
            }
            emit({n == 1 ? ROP_ARRAY_SET_N1 : ROP_ARRAY_SET_N, 0, n, slot->index, v.index, first});
        }
        return true;
    }
    switch (slot->file) {
        case REGF_NUMBER:
            if (v.file == REGF_NUMBER && intoVariable(valueStart, v, slot->index, slot->type)) return true;
            if (v.file == REGF_STRING)
                emit({ROP_STORE_S_TO_N, 0, slot->type, slot->index, v.index});
            else
                emit({ROP_STORE_N, 0, slot->type, slot->index, v.index});
            return true;
        case REGF_STRING:
            if (v.file == REGF_NUMBER)
                emit({ROP_NUM_TO_S, 0, 0, slot->index, v.index});
            else
                emit({ROP_MOVE_S, 0, 0, slot->index, v.index});
            return true;
        default: return false;
    }
}

// v = x op y: the arithmetic that made the value's temporary writes the
// variable itself, converting as the assignment would; v = a(i) of an
// array of v's own type reads the element straight into v. Only an
// instruction of this statement's value, whose temporary nothing else
// reads.
bool RegCompiler::intoVariable(uint32_t valueStart, const RegOperand& v, int32_t target, IdType type) {
    if (here() == valueStart) return false;
    RegInstr& last = at(here() - 1);
    if (last.a != v.index) return false;
    switch (last.op) {
        case ROP_ARITH:
        case ROP_ADD:
        case ROP_SUB:
        case ROP_MUL:
        case ROP_MOD:
            if (last.y != IDT_UNTYPED) return false;
            last.a = target;
            last.y = static_cast<uint16_t>(type);
            return true;
        case ROP_ARRAY_GET_N:
        case ROP_ARRAY_GET_N1:
            // The element comes with the array's type: no conversion.
            if (v.type != type) return false;
            last.a = target;
            return true;
        default: return false;
    }
}

// The value is evaluated, then stored: an object (Nothing included) is
// what an Object variable takes; anything else fails on the tree walker
// and is not taken.
bool RegCompiler::objectAssignment(const RegSlot& target, const ExprNode* value) {
    RegOperand v;
    if (!expression(value, v) || v.file != REGF_VALUE || v.type != IDT_OBJECT) return false;
    const int32_t type = objectType(target);
    if (type < 0) return false;
    emit({ROP_OBJ_MOVE, 0, static_cast<uint16_t>(type), target.index, v.index});
    return true;
}

SignatureRep* RegCompiler::objectLocalType(const RegSlot& slot) const {
    for (const Scope& sc : scopes_)
        for (const auto& [field, index] : sc.fieldSlots) {
            const RegSlot& s = form_.slots[index];
            if (s.file != REGF_VALUE || s.index != slot.index) continue;
            auto* typed = dynamic_cast<ObjectDataField*>(field);
            return typed && typed->typeName() ? typed->typeSignature() : nullptr;
        }
    return nullptr;
}

int32_t RegCompiler::objectType(const RegSlot& slot) {
    for (const Scope& sc : scopes_)
        for (const auto& [field, index] : sc.fieldSlots) {
            const RegSlot& s = form_.slots[index];
            if (s.file != REGF_VALUE || s.index != slot.index) continue;
            if (!field->typeName()) return 0;
            auto* typed = static_cast<InterObjField*>(field);
            auto& types = form_.objectTypes;
            size_t k = 0;
            while (k < types.size() && types[k] != typed) ++k;
            if (k == types.size()) {
                if (k >= UINT16_MAX) return -1;
                types.push_back(typed);
            }
            return static_cast<int32_t>(k + 1);
        }
    return 0;
}

// s = s & x grows s in place: the same text as building s & x and
// assigning it, without copying s. done is false when value has another
// form.
bool RegCompiler::append(const RegSlot& target, const ExprNode* value, bool& done) {
    done = false;
    if (value->type() != EXPR_BINARY_OP) return true;
    const auto* b = static_cast<const BinaryOp*>(value);
    if (b->op() != BINOP_CONCAT || b->left()->type() != EXPR_SID) return true;
    const auto* left = static_cast<const Sid*>(b->left());
    if (left->isMe() || left->isDotted() || left->isTruthConstant()) return true;
    if (findSlot(left->idIndex()) != &target || !SuffixFits(left->getIdType(), target.type)) return true;
    RegOperand r;
    if (!expression(b->right(), r)) return false;
    if (r.file == REGF_NUMBER)
        emit({ROP_APPEND_N, 0, 0, target.index, r.index});
    else if (r.file == REGF_STRING)
        emit({ROP_APPEND, 0, 0, target.index, r.index});
    else
        return false;
    done = true;
    return true;
}

// The loop's frame, with the body's locals, is pushed before anything of
// the statement is evaluated: its names are the body's. The loop's
// variable, a plain name; null when the loop is not translated.
const Sid* RegCompiler::enterLoop(const ForNext* f, BlockRep*& body) {
    body = subBlock(f->bodyBlock());
    if (!body) return nullptr;
    scopes_.emplace_back().block = body;
    if (!blockLocals(*body)) return nullptr;
    resetLocals();
    const ExprNode* var = f->variable();
    if (var->type() != EXPR_SID) return nullptr;
    const auto* sid = static_cast<const Sid*>(var);
    if (sid->isMe() || sid->isDotted() || sid->isTruthConstant()) return nullptr;
    return sid;
}

bool RegCompiler::forNext(const ExecNode* s) {
    const auto* f = static_cast<const ForNext*>(s);
    if (f->loopType() != FN_Standard) return forEach(s);
    BlockRep* body = nullptr;
    const Sid* sid = enterLoop(f, body);
    if (!sid) return false;
    const RegSlot* counter = nullptr;
    if (resolve(sid->idIndex(), counter) != kFound || counter->constant || counter->file != REGF_NUMBER ||
        !SuffixFits(sid->getIdType(), counter->type))
        return false;
    RegOperand first, last, by;
    const uint32_t firstStart = here();
    if (!numberExpression(f->start(), first)) return false;
    const uint32_t lastStart = here();
    if (!numberExpression(f->end(), last)) return false;
    const uint32_t lastEnd = here();
    if (const ExprNode* step = f->step()) {
        if (!numberExpression(step, by)) return false;
    } else {
        by = {REGF_NUMBER, longConstant(1), IDT_LONG};
    }
    // The three are converted once all are evaluated.
    readAgainAfterCalls(firstStart, lastStart);
    readAgainAfterCalls(lastStart, lastEnd);
    const IdType t = counter->type;
    // The body's blocks add their locals to the slot table, which moves it:
    // the counter is kept by its register number.
    const int32_t counterIndex = counter->index;
    // The end and the step, converted once, lie side by side.
    const int32_t limits = newNumber(t);
    newNumber(t);
    const uint8_t type = static_cast<uint8_t>(t);
    emit({ROP_FOR_CONV, type, 0, limits, last.index});
    emit({ROP_FOR_CONV, type, 0, limits + 1, by.index});
    emit({ROP_FOR_CONV, type, 0, counterIndex, first.index});
    const uint32_t test = emit({ROP_FOR_TEST, 0, 0, counterIndex, limits, 0});
    const uint32_t loopStatement = currentStatement_;
    loops_.push_back({STMT_FOR_NEXT, {}, scopes_.size()});
    const uint32_t top = here();
    if (!statements(*body)) return false;
    currentStatement_ = loopStatement;
    emit({t == IDT_LONG ? ROP_FOR_STEP_L : ROP_FOR_STEP, 0, 0, counterIndex, limits, static_cast<int32_t>(top)});
    const int32_t end = static_cast<int32_t>(here());
    at(test).c = end;
    for (uint32_t j : loops_.back().exitJumps) at(j).a = end;
    loops_.pop_back();
    scopes_.pop_back();
    return true;
}

// For Each: the members are taken once the variable and the object are
// known, then each turn assigns the next one still alive to the variable.
// Leaving the loop, by its end or by Exit For, empties its member list.
bool RegCompiler::forEach(const ExecNode* s) {
    const auto* f = static_cast<const ForNext*>(s);
    BlockRep* body = nullptr;
    const Sid* sid = enterLoop(f, body);
    if (!sid) return false;
    const RegSlot* variable = nullptr;
    if (resolve(sid->idIndex(), variable) != kFound || variable->file != REGF_VALUE || variable->embedded ||
        variable->heldArray || !SuffixFits(sid->getIdType(), variable->type))
        return false;
    const int32_t variableIndex = variable->index;
    const int32_t type = objectType(*variable);
    if (type < 0) return false;
    RegOperand of;
    if (!expression(f->start(), of) || of.file != REGF_VALUE || of.type != IDT_OBJECT) return false;
    const int32_t list = newList();
    emit({ROP_EACH_BEGIN, static_cast<uint8_t>(f->loopType()), 0, list, of.index});
    const uint32_t toNext = emit({ROP_JUMP});
    const uint32_t loopStatement = currentStatement_;
    loops_.push_back({STMT_FOR_NEXT, {}, scopes_.size()});
    const uint32_t top = here();
    if (!statements(*body)) return false;
    currentStatement_ = loopStatement;
    at(toNext).a = static_cast<int32_t>(here());
    emit({ROP_EACH_NEXT, 0, static_cast<uint16_t>(type), variableIndex, list, static_cast<int32_t>(top)});
    const int32_t end = static_cast<int32_t>(here());
    for (uint32_t j : loops_.back().exitJumps) at(j).a = end;
    emit({ROP_EACH_END, 0, 0, list});
    loops_.pop_back();
    scopes_.pop_back();
    return true;
}

bool RegCompiler::doLoop(const ExecNode* s) {
    const auto* d = static_cast<const DoLoop*>(s);
    BlockRep* body = subBlock(d->bodyBlock());
    if (!body) return false;
    const DoLoopForm form = d->form();
    if (form < DO_WHILE || form > WHILE_WEND) return false;
    // A loop that tests after its body reports the Loop line while its
    // condition runs.
    const bool after = d->testsAfterBody();
    const int32_t conditionLine = after && body->endLine() != 0 ? body->endLine() : s->line();
    form_.statements.back().runningLine = conditionLine;
    const uint32_t loopStatement = currentStatement_;
    scopes_.emplace_back().block = body;
    if (!blockLocals(*body)) return false;
    resetLocals();
    loops_.push_back({STMT_DO_LOOP, {}, scopes_.size()});
    const bool whileTrue = form == DO_WHILE || form == DO_LOOP_WHILE || form == WHILE_WEND;
    const uint32_t top = here();
    uint32_t exitTest = 0;
    bool tested = false;
    if (form == DO_WHILE || form == DO_UNTIL || form == WHILE_WEND) {
        if (!conditionJump(d->condition(), !whileTrue, exitTest)) return false;
        tested = true;
    }
    if (!statements(*body)) return false;
    currentStatement_ = loopStatement;
    if (after) {
        uint32_t skip = 0;
        if (!conditionJump(d->condition(), !whileTrue, skip)) return false;
        emit({ROP_LOOP, 0, 0, static_cast<int32_t>(top)});
        at(skip).b = static_cast<int32_t>(here());
    } else {
        emit({ROP_LOOP, 0, 0, static_cast<int32_t>(top)});
    }
    const int32_t end = static_cast<int32_t>(here());
    if (tested) at(exitTest).b = end;
    for (uint32_t j : loops_.back().exitJumps) at(j).a = end;
    loops_.pop_back();
    scopes_.pop_back();
    return true;
}

bool RegCompiler::simpleIf(const ExecNode* s) {
    const auto* i = static_cast<const SimpleIfThen*>(s);
    uint32_t toElse = 0;
    if (!conditionJump(i->condition(), false, toElse)) return false;
    const uint32_t statement = currentStatement_;
    if (!block(i->thenBlock(), true)) return false;
    if (i->elseBlock() == NO_BLOCK) {
        at(toElse).b = static_cast<int32_t>(here());
        return true;
    }
    currentStatement_ = statement;
    const uint32_t toEnd = emit({ROP_JUMP});
    at(toElse).b = static_cast<int32_t>(here());
    if (!block(i->elseBlock(), true)) return false;
    at(toEnd).a = static_cast<int32_t>(here());
    return true;
}

bool RegCompiler::complexIf(const ExecNode* s) {
    const auto* i = static_cast<const ComplexIfThen*>(s);
    const uint32_t statement = currentStatement_;
    std::vector<uint32_t> toEnd;
    const ExprNode* cond = i->firstCondition();
    for (uint32_t k = 0; k < i->clauseCount(); ++k, cond = NextExpr(cond)) {
        currentStatement_ = statement;
        uint32_t next = 0;
        if (!conditionJump(cond, false, next)) return false;
        if (!block(i->block(k), true)) return false;
        currentStatement_ = statement;
        toEnd.push_back(emit({ROP_JUMP}));
        at(next).b = static_cast<int32_t>(here());
    }
    if (i->elseBlock() != NO_BLOCK && !block(i->elseBlock(), true)) return false;
    for (uint32_t j : toEnd) at(j).a = static_cast<int32_t>(here());
    return true;
}

bool RegCompiler::selectCase(const ExecNode* s) {
    const auto* sc = static_cast<const SelectCase*>(s);
    const uint32_t statement = currentStatement_;
    // The test value is evaluated once; each record's expressions only when
    // no earlier record matched.
    RegOperand t;
    const uint32_t testStart = here();
    if (!expression(sc->test(), t) || (t.file != REGF_NUMBER && t.file != REGF_STRING)) return false;
    const uint32_t testEnd = here();
    struct Body {
        uint32_t block;
        std::vector<uint32_t> jumps;
    };
    std::vector<Body> bodies;
    const CaseClauseRec* r = sc->firstClause();
    for (uint16_t i = 0; i < sc->clauseCount(); ++i, r = r->next()) {
        if (r->isFirstOfLine()) bodies.push_back({r->block(), {}});
        if (bodies.empty()) return false;
        RegOperand e;
        if (!expression(r->first(), e)) return false;
        // Each test compares the test value as it is when the test runs.
        if (r->testType() != ECC_RANGE) readAgainAfterCalls(testStart, testEnd);
        BinOpType op;
        switch (r->testType()) {
            case ECC_IS_EQUAL:
            case ECC_EQUAL: op = BINOP_EQ; break;
            case ECC_RANGE: {
                RegOperand upper;
                if (!r->second() || !expression(r->second(), upper)) return false;
                readAgainAfterCalls(testStart, testEnd);
                uint32_t below = 0, within = 0;
                if (!compareJump(BINOP_GE, t, e, false, below)) return false;
                if (!compareJump(BINOP_LE, t, upper, true, within)) return false;
                bodies.back().jumps.push_back(within);
                at(below).b = static_cast<int32_t>(here());
                continue;
            }
            case ECC_GREATER: op = BINOP_GT; break;
            case ECC_LESS: op = BINOP_LT; break;
            case ECC_LESS_EQUAL: op = BINOP_LE; break;
            case ECC_GREATER_EQUAL: op = BINOP_GE; break;
            case ECC_NOT_EQUAL: op = BINOP_NE; break;
            default: return false;
        }
        uint32_t matched = 0;
        if (!compareJump(op, t, e, true, matched)) return false;
        bodies.back().jumps.push_back(matched);
    }
    std::vector<uint32_t> toEnd;
    // No record matched: Case Else, or nothing.
    if (sc->elseBlock() != NO_BLOCK && !block(sc->elseBlock(), true)) return false;
    currentStatement_ = statement;
    toEnd.push_back(emit({ROP_JUMP}));
    for (const Body& b : bodies) {
        for (uint32_t j : b.jumps) at(j).b = static_cast<int32_t>(here());
        if (b.block != NO_BLOCK && !block(b.block, true)) return false;
        currentStatement_ = statement;
        toEnd.push_back(emit({ROP_JUMP}));
    }
    for (uint32_t j : toEnd) at(j).a = static_cast<int32_t>(here());
    return true;
}

bool RegCompiler::exiter(const ExecNode* s) {
    const auto t = static_cast<const Exiter*>(s)->exitType();
    if (t == Exiter::EXIT_SUB || t == Exiter::EXIT_FUNCTION) {
        // Exit Sub in a Function (or the reverse) finds no frame of its
        // kind: the tree walker gives the message.
        if (proc_.isFunction() != (t == Exiter::EXIT_FUNCTION)) return false;
        exitSubJumps_.push_back(emit({ROP_JUMP}));
        return true;
    }
    const uint16_t kind = t == Exiter::EXIT_FOR ? STMT_FOR_NEXT : t == Exiter::EXIT_DO ? STMT_DO_LOOP : 0;
    if (kind == 0) return false;
    for (size_t i = loops_.size(); i-- > 0;)
        if (loops_[i].kind == kind) {
            // The jump would pass over the end of a block that destroys
            // its As New locals.
            for (size_t k = loops_[i].depth; k < scopes_.size(); ++k)
                if (scopes_[k].embeds) return false;
            loops_[i].exitJumps.push_back(emit({ROP_JUMP}));
            return true;
        }
    // Nothing of its kind to leave: the tree walker gives the message.
    return false;
}

bool RegCompiler::print(const ExecNode* s) {
    const auto* p = static_cast<const Print*>(s);
    if (p->target()) return false;
    emit({ROP_PRINT_BEGIN});
    const ExprNode* item = p->firstItem();
    for (uint32_t i = 0; i < p->itemCount(); ++i, item = NextExpr(item)) {
        emit({ROP_PRINT_SEP, static_cast<uint8_t>(p->separator(i))});
        // Print shows an enumeration's entry as its number.
        numberUse_ = item;
        RegOperand v;
        if (!expression(item, v)) return false;
        switch (p->itemKind(i)) {
            case PRINT_SPC:
            case PRINT_TAB:
                if (v.file != REGF_NUMBER) return false;
                emit({ROP_PRINT_SPC, static_cast<uint8_t>(p->itemKind(i) == PRINT_TAB), 0, v.index});
                break;
            default:
                if (v.file == REGF_NUMBER)
                    emit({ROP_PRINT_N, 0, 0, v.index});
                else if (v.file == REGF_STRING)
                    emit({ROP_PRINT_S, 0, 0, v.index});
                else
                    return false;
        }
    }
    emit({ROP_PRINT_END, static_cast<uint8_t>(p->lastSeparator())});
    return true;
}

bool RegCompiler::redim(const ExecNode* s) {
    const auto* r = static_cast<const RedimStmt*>(s);
    const Sid* name = r->array();
    const RegSlot* slot = nullptr;
    if (resolve(name->idIndex(), slot) != kFound || slot->file != REGF_ARRAY) return false;
    const uint16_t dims = r->dimensionCount();
    if (dims == 0 || dims > ArrayField::kMaxDimensions) return false;
    std::vector<int32_t> bounds;
    const ExprNodePair* pair = r->firstPair();
    for (uint16_t k = 0; k < dims; ++k) {
        RegOperand lo, up;
        if (const ExprNode* e = pair->first()) {
            if (!numberExpression(e, lo)) return false;
        } else {
            lo = {REGF_NUMBER, longConstant(0), IDT_LONG};
        }
        if (!pair->second() || !numberExpression(pair->second(), up)) return false;
        bounds.push_back(lo.index);
        bounds.push_back(up.index);
        pair = reinterpret_cast<const ExprNodePair*>(pair->bytes() + pair->size());
    }
    const int32_t first = newNumber();
    for (size_t k = 1; k < bounds.size(); ++k) newNumber();
    for (size_t k = 0; k < bounds.size(); ++k)
        emit({ROP_MOVE_N, 0, 0, first + static_cast<int32_t>(k), bounds[k]});
    emit({ROP_REDIM, static_cast<uint8_t>(r->preserve()), dims, slot->index, first});
    return true;
}

// ---- expressions --------------------------------------------------------------------------

bool RegCompiler::numberExpression(const ExprNode* e, RegOperand& out) {
    return expression(e, out) && out.file == REGF_NUMBER;
}

bool RegCompiler::stringExpression(const ExprNode* e, RegOperand& out) {
    if (!expression(e, out)) return false;
    if (out.file == REGF_NUMBER) out = {REGF_STRING, toString(out), IDT_STRING};
    return out.file == REGF_STRING;
}

int32_t RegCompiler::toString(const RegOperand& number) {
    const int32_t t = newString();
    emit({ROP_NUM_TO_S, 0, 0, t, number.index});
    return t;
}

bool RegCompiler::condition(const ExprNode* e, RegOperand& out) {
    numberUse_ = e;
    return numberExpression(e, out);
}

bool RegCompiler::conditionJump(const ExprNode* e, bool when, uint32_t& jump) {
    if (e->type() == EXPR_BINARY_OP) {
        const auto* b = static_cast<const BinaryOp*>(e);
        const BinOpType op = b->op();
        if (op >= BINOP_EQ && op <= BINOP_LE) {
            // Both operands in order, then as binary() takes them: two
            // numbers jump on their comparison, two strings compare first.
            RegOperand l, r;
            const uint32_t leftStart = here();
            if (!expression(b->left(), l)) return false;
            const uint32_t leftEnd = here();
            if (!expression(b->right(), r)) return false;
            readAgainAfterCalls(leftStart, leftEnd);
            return compareJump(op, l, r, when, jump);
        }
    }
    RegOperand c;
    if (!condition(e, c)) return false;
    jump = emit({when ? ROP_JUMP_TRUE : ROP_JUMP_FALSE, 0, 0, c.index, 0});
    return true;
}

bool RegCompiler::compareJump(BinOpType op, const RegOperand& l, const RegOperand& r, bool when, uint32_t& jump) {
    if (l.file == REGF_NUMBER && r.file == REGF_NUMBER) {
        const auto code = static_cast<RegOp>(ROP_JUMP_EQ + (op - BINOP_EQ));
        jump = emit({code, static_cast<uint8_t>(when), 0, l.index, 0, r.index});
        return true;
    }
    const bool objects = l.file == REGF_VALUE && r.file == REGF_VALUE;
    if (objects ? op != BINOP_EQ && op != BINOP_NE : l.file != REGF_STRING || r.file != REGF_STRING) return false;
    const int32_t holds = newNumber();
    emit({objects ? ROP_OBJ_COMPARE : ROP_COMPARE_S, static_cast<uint8_t>(op), 0, holds, l.index, r.index});
    jump = emit({when ? ROP_JUMP_TRUE : ROP_JUMP_FALSE, 0, 0, holds, 0});
    return true;
}

bool RegCompiler::expression(const ExprNode* e, RegOperand& out) {
    switch (e->type()) {
        case EXPR_LONG_CONSTANT:
            out = {REGF_NUMBER, longConstant(static_cast<const LongConstant*>(e)->value()), IDT_LONG};
            return true;
        case EXPR_DOUBLE_CONSTANT:
            out = {REGF_NUMBER, doubleConstant(static_cast<const DoubleConstant*>(e)->value()), IDT_DOUBLE};
            return true;
        case EXPR_STRING_CONSTANT:
            out = {REGF_STRING, stringConstant(static_cast<const StringConstant*>(e)->text()), IDT_STRING};
            return true;
        case EXPR_SID:
        case EXPR_CID: return identifier(e, out);
        case EXPR_BINARY_OP: return binary(e, out);
        case EXPR_UNARY_OP: return unary(e, out);
        case EXPR_INTR_STRING:
        case EXPR_INTR_BOUND: return intrinsic(e, out);
        case EXPR_NULL_OBJ_CONSTANT:
            // A register nothing writes: it holds Nothing for the whole
            // activation.
            out = {REGF_VALUE, newValue(), IDT_OBJECT};
            return true;
        default:
            return RegTranslateCallExpr(*this, e, out) || RegTranslateFieldRead(*this, e, out) ||
                   RegTranslateObjectRead(*this, e, out);
    }
}

bool RegCompiler::identifier(const ExprNode* e, RegOperand& out) {
    uint16_t idIndex;
    IdType suffix;
    if (e->type() == EXPR_SID) {
        const auto* sid = static_cast<const Sid*>(e);
        if (sid->isMe() || sid->isDotted())
            return RegTranslateFieldRead(*this, e, out) || RegTranslateObjectRead(*this, e, out);
        if (sid->isTruthConstant()) {
            out = {REGF_NUMBER, longConstant(sid->idIndex() == kIdTrue ? -1 : 0), IDT_LONG};
            return true;
        }
        idIndex = sid->idIndex();
        suffix = sid->getIdType();
    } else {
        const auto* cid = static_cast<const Cid*>(e);
        if (cid->isMe() || cid->isDotted() || cid->idIndex() == kIdUnset)
            return RegTranslateCallExpr(*this, e, out) || RegTranslateFieldRead(*this, e, out);
        idIndex = cid->idIndex();
        suffix = cid->getIdType();
    }
    const RegSlot* slot = nullptr;
    switch (resolve(idIndex, slot)) {
        case kBlocked: return false;
        case kAbsent:
            return RegTranslateCallExpr(*this, e, out) || RegTranslateFieldRead(*this, e, out) ||
                   (e->type() == EXPR_SID && RegTranslateObjectRead(*this, e, out));
        case kFound: break;
    }
    if (!SuffixFits(suffix, slot->type)) return false;
    if (e->type() == EXPR_CID) {
        if (slot->heldArray) return heldElement(e, *slot, out);
        return slot->file == REGF_ARRAY && arrayElement(e, *slot, out);
    }
    // A held array as a whole, or an As New local other than as the holder
    // of a member it calls, has rules the form does not keep.
    if (slot->heldArray || slot->embedded) return false;
    if (slot->file != REGF_NUMBER && slot->file != REGF_STRING && slot->file != REGF_VALUE) return false;
    out = {slot->file, slot->index, slot->type};
    return true;
}

bool RegCompiler::indices(const Cid* c, int32_t& first, uint16_t& n) {
    n = c->argCount();
    if (n == 0) return false;
    std::vector<int32_t> regs;
    const ExprNode* arg = c->firstArg();
    for (uint16_t k = 0; k < n; ++k, arg = NextExpr(arg)) {
        RegOperand i;
        if (!numberExpression(arg, i)) return false;
        regs.push_back(i.index);
    }
    if (n == 1) {
        first = regs[0];
        return true;
    }
    // Several indices lie side by side.
    first = newNumber();
    for (uint16_t k = 1; k < n; ++k) newNumber();
    for (uint16_t k = 0; k < n; ++k) emit({ROP_MOVE_N, 0, 0, first + k, regs[k]});
    return true;
}

bool RegCompiler::arrayElement(const ExprNode* e, const RegSlot& array, RegOperand& out) {
    int32_t first = 0;
    uint16_t n = 0;
    if (!indices(static_cast<const Cid*>(e), first, n)) return false;
    if (array.type == IDT_STRING) {
        out = {REGF_STRING, newString(), IDT_STRING};
        emit({ROP_ARRAY_GET_S, 0, n, out.index, array.index, first});
    } else {
        out = {REGF_NUMBER, newNumber(array.type), array.type};
        emit({n == 1 ? ROP_ARRAY_GET_N1 : ROP_ARRAY_GET_N, 0, n, out.index, array.index, first});
    }
    return true;
}

// The element is read through the array's value, as the tree walker reads
// it (its index checks and failures included).
bool RegCompiler::heldElement(const ExprNode* e, const RegSlot& array, RegOperand& out) {
    const auto* c = static_cast<const Cid*>(e);
    const uint16_t n = c->argCount();
    if (n == 0) return false;
    std::vector<RegOperand> regs;
    const ExprNode* arg = c->firstArg();
    for (uint16_t k = 0; k < n; ++k, arg = NextExpr(arg)) {
        RegOperand i;
        if (!numberExpression(arg, i)) return false;
        regs.push_back(i);
    }
    const int32_t first = newValue();
    for (uint16_t k = 1; k < n; ++k) newValue();
    for (uint16_t k = 0; k < n; ++k) emit({ROP_BOX_N, 0, 0, first + k, regs[k].index});
    if (array.type == IDT_STRING)
        out = {REGF_STRING, newString(), IDT_STRING};
    else
        out = {REGF_NUMBER, newNumber(array.type), array.type};
    emit({ROP_HELD_ELEMENT, static_cast<uint8_t>(out.file), n, out.index, array.index, first});
    return true;
}

bool RegCompiler::binary(const ExprNode* e, RegOperand& out) {
    const auto* b = static_cast<const BinaryOp*>(e);
    const BinOpType op = b->op();
    if (op == BINOP_ANDALSO || op == BINOP_ORELSE) {
        // The left operand decides alone when it can: the right one is not
        // evaluated.
        RegOperand l, r;
        const int32_t d = newNumber();
        if (!condition(b->left(), l)) return false;
        const RegOp decides = op == BINOP_ANDALSO ? ROP_JUMP_FALSE : ROP_JUMP_TRUE;
        const uint32_t early = emit({decides, 0, 0, l.index, 0});
        if (!condition(b->right(), r)) return false;
        const uint32_t late = emit({decides, 0, 0, r.index, 0});
        emit({ROP_MOVE_N, 0, 0, d, longConstant(op == BINOP_ANDALSO ? -1 : 0)});
        const uint32_t done = emit({ROP_JUMP});
        at(early).b = at(late).b = static_cast<int32_t>(here());
        emit({ROP_MOVE_N, 0, 0, d, longConstant(op == BINOP_ANDALSO ? 0 : -1)});
        at(done).a = static_cast<int32_t>(here());
        out = {REGF_NUMBER, d, IDT_LONG};
        return true;
    }
    if (op == BINOP_LIKE || op == BINOP_TYPEOF || op >= BINOP_LIMIT) return false;
    RegOperand l, r;
    const uint32_t leftStart = here();
    if (op == BINOP_CONCAT) {
        // s = s & x is taken apart by the assignment when it can append.
        if (!stringExpression(b->left(), l)) return false;
        const uint32_t leftEnd = here();
        if (!stringExpression(b->right(), r)) return false;
        readAgainAfterCalls(leftStart, leftEnd);
        out = {REGF_STRING, newString(), IDT_STRING};
        emit({ROP_CONCAT, 0, 0, out.index, l.index, r.index});
        return true;
    }
    if (!expression(b->left(), l)) return false;
    const uint32_t leftEnd = here();
    if (!expression(b->right(), r)) return false;
    readAgainAfterCalls(leftStart, leftEnd);
    const bool compare = op >= BINOP_EQ && op <= BINOP_LE;
    if (compare && l.file == REGF_STRING && r.file == REGF_STRING) {
        out = {REGF_NUMBER, newNumber(), IDT_LONG};
        emit({ROP_COMPARE_S, static_cast<uint8_t>(op), 0, out.index, l.index, r.index});
        return true;
    }
    // Objects compare by identity, for = and <> only.
    if (l.file == REGF_VALUE && r.file == REGF_VALUE) {
        if (op != BINOP_EQ && op != BINOP_NE) return false;
        out = {REGF_NUMBER, newNumber(), IDT_LONG};
        emit({ROP_OBJ_COMPARE, static_cast<uint8_t>(op), 0, out.index, l.index, r.index});
        return true;
    }
    if (l.file != REGF_NUMBER || r.file != REGF_NUMBER) return false;
    out = {REGF_NUMBER, newNumber(), compare ? IDT_LONG : IDT_UNTYPED};
    RegOp code = compare ? ROP_COMPARE_N : ROP_ARITH;
    switch (op) {
        case BINOP_ADD: code = ROP_ADD; break;
        case BINOP_SUB: code = ROP_SUB; break;
        case BINOP_MUL: code = ROP_MUL; break;
        case BINOP_MOD: code = ROP_MOD; break;
        default: break;
    }
    emit({code, static_cast<uint8_t>(op), 0, out.index, l.index, r.index});
    return true;
}

void RegCompiler::readAgainAfterCalls(uint32_t start, uint32_t end) {
    const uint32_t later = here();
    bool calls = false;
    for (uint32_t i = end; i < later && !calls; ++i) calls = at(i).op >= kCallFirst && at(i).op < kFieldFirst;
    if (!calls || start == end) return;
    // Only reads are made again: an operand that computed something (a
    // call, arithmetic) is a value of its own, as on the tree walker.
    for (uint32_t i = start; i < end; ++i) {
        const RegOp op = at(i).op;
        if (op != ROP_FIELD_GET_N && op != ROP_NUM_TO_S && op != ROP_MOVE_N && op != ROP_OBJ_GET) return;
    }
    for (uint32_t i = start; i < end; ++i) {
        const RegInstr again = at(i);
        emit(again);
    }
}

bool RegCompiler::unary(const ExprNode* e, RegOperand& out) {
    const auto* u = static_cast<const UnaryOp*>(e);
    if (u->op() >= UNOP_LIMIT) return false;
    RegOperand v;
    // Not takes the number of an enumeration's entry.
    if (u->op() == UNOP_NOT) numberUse_ = u->operand();
    if (!numberExpression(u->operand(), v)) return false;
    out = {REGF_NUMBER, newNumber(), u->op() == UNOP_NOT ? IDT_LONG : IDT_UNTYPED};
    emit({u->op() == UNOP_NOT ? ROP_NOT : ROP_NEGATE, 0, 0, out.index, v.index});
    return true;
}

bool RegCompiler::intrinsic(const ExprNode* e, RegOperand& out) {
    if (e->type() == EXPR_INTR_BOUND) {
        const auto* b = static_cast<const IntrBound*>(e);
        const ExprNode* a = b->array();
        if (a->type() != EXPR_SID) return false;
        const auto* sid = static_cast<const Sid*>(a);
        const RegSlot* slot = nullptr;
        if (sid->isMe() || sid->isDotted() || resolve(sid->idIndex(), slot) != kFound ||
            (slot->file != REGF_ARRAY && !slot->heldArray))
            return false;
        int32_t dim = -1;
        if (const ExprNode* d = b->dimension()) {
            RegOperand v;
            if (!numberExpression(d, v)) return false;
            dim = v.index;
        }
        out = {REGF_NUMBER, newNumber(), IDT_LONG};
        emit({slot->heldArray ? ROP_HELD_BOUND : ROP_ARRAY_BOUND, static_cast<uint8_t>(b->which() == IntrBound::kUBound),
              0, out.index, slot->index, dim});
        return true;
    }
    const auto* f = static_cast<const IntrString*>(e);
    const uint32_t word = f->word();
    int least = 0, most = 0;
    const int n = f->argCount();
    if (!IntrString::ArgumentRange(word, least, most) || n < least || n > most) return false;
    const ExprNode* arg = f->nodeAt(IntrString::kArgOffset);
    if (word == STR_LEN) {
        RegOperand s;
        if (!stringExpression(arg, s)) return false;
        out = {REGF_NUMBER, newNumber(), IDT_LONG};
        emit({ROP_LEN, 0, 0, out.index, s.index});
        return true;
    }
    // Every argument is evaluated, in order, before the function looks at
    // any of them; the function then works on their values.
    std::vector<RegOperand> args;
    std::vector<uint32_t> starts;
    for (int k = 0; k < n; ++k, arg = NextExpr(arg)) {
        RegOperand v;
        starts.push_back(here());
        if (!expression(arg, v) || (v.file != REGF_NUMBER && v.file != REGF_STRING)) return false;
        args.push_back(v);
    }
    starts.push_back(here());
    for (int k = 0; k + 1 < n; ++k) readAgainAfterCalls(starts[k], starts[k + 1]);
    const int32_t first = newValue();
    for (int k = 1; k < n; ++k) newValue();
    for (int k = 0; k < n; ++k)
        emit({args[k].file == REGF_NUMBER ? ROP_BOX_N : ROP_BOX_S, 0, 0, first + k, args[k].index});
    if (StringFunctionGivesNumber(word))
        out = {REGF_NUMBER, newNumber(), IDT_UNTYPED};
    else
        out = {REGF_STRING, newString(), IDT_STRING};
    emit({ROP_INTRINSIC, static_cast<uint8_t>(out.file), static_cast<uint16_t>(word), out.index, first, n});
    return true;
}

}  // namespace tq
