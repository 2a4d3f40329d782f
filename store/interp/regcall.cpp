// Calls in the register form: parameters, calls from register code, and the
// entry from the tree walker with the call's values (regcall.h tells the
// design).
//
// A call from register code to a procedure that has a register form makes
// no Context, argument object, value list or frame: the callee's registers
// are taken from the register stack, the arguments copied into its
// parameter registers (converted by the value rules where their types
// differ), its code run, and by-reference parameters copied back. The
// checks of the call road stay, in its order: the object readable, the
// arguments converted, then the native stack's room ("Stack overflow.",
// raised on the caller's line with nothing of the callee left behind), and
// the user break before the callee's first statement.
#include <cstring>
#include <iterator>
#include <optional>

#include "platform/util/stackroom.h"
#include "store/arrayfld.h"
#include "store/context.h"
#include "store/errors/extexcep.h"
#include "store/interp/argval.h"
#include "store/interp/dbgseam.h"
#include "store/interp/funccall.h"
#include "store/interp/ident.h"
#include "store/interp/regcall.h"
#include "store/interp/regcompile.h"
#include "store/interp/regstack.h"
#include "store/interp/stackfrm.h"
#include "store/methfld.h"
#include "store/model/interobj.h"
#include "store/model/intfld.h"
#include "store/model/sigrep.h"
#include "store/storeapp.h"

namespace tq {

namespace {

// A parameter the registers can hold: a plain number parameter, by value
// or by reference.
bool IsRegisterParameter(const Field& f) {
    return f.isInterDataField() && IsPlainParameter(f) && IsRegisterNumberType(static_cast<IdType>(f.type() & IDT_TYPEMASK));
}

// An array parameter whose elements the registers can hold (numbers or
// Strings): the form keeps the caller's array value itself, bound by
// reference as binding binds it, and reads it through that value.
bool IsHeldArrayParameter(const Field& f) {
    if (!dynamic_cast<const ArrayReferenceField*>(&f)) return false;
    const IdType t = static_cast<IdType>(f.type() & IDT_TYPEMASK);
    return IsRegisterNumberType(t) || t == IDT_STRING;
}

// The parameter fields of proc in declaration order; false when one is not
// a register parameter (or, when arrays is set, a held array parameter).
bool RegisterParameters(MethodField& proc, std::vector<Field*>& out, bool arrays = false) {
    out.clear();
    InterObjRep* proto = proc.parameterPrototype();
    if (!proto) return true;
    SignatureRep* sig = proto->signature();
    if (!sig || sig->parent()) return false;
    const FieldPtrList& fields = sig->fields();
    for (size_t i = 0; i < fields.length(); ++i) {
        Field* f = fields.at(i);
        if (!IsRegisterParameter(*f) && !(arrays && IsHeldArrayParameter(*f))) return false;
        out.push_back(f);
    }
    return true;
}

// n as a number of type t: itself when it is one, else converted as
// binding converts a temporary for its parameter.
void PassNumber(RegNumber& to, IdType t, const RegNumber& n) {
    if (n.type == t) {
        to = n;
        return;
    }
    RegStoreNumber(to, t, n);
}

// The native stack must leave a frame's reserve, as every frame of the
// tree walker checks, and another for the failure's own road: a hook that
// records failures is shown a frame for every register activation
// (regrun.cpp), and those frames check for a reserve of their own.
void CheckStackRoom() {
    if (StackRoom::Short(2 * StackFrame::kStackReserve))
        throw StackOverflow("StackFrame::StackFrame()", 32713);
}

}  // namespace

RegSites& RegSitesOf(RegisterForm& form) {
    if (!form.sites) form.sites = std::make_shared<RegSites>();
    return *form.sites;
}

// ---- translation ---------------------------------------------------------------------

bool RegDeclareParameters(RegCompiler& rc) {
    InterProcField& proc = rc.proc();
    std::vector<Field*> parameters;
    // Calls from register code pass numbers only (TranslateCall): a
    // procedure with an array parameter is entered with the call's values.
    if (!RegisterParameters(proc, parameters, true)) return false;
    RegisterForm& form = rc.form();
    for (Field* f : parameters) {
        const IdType type = static_cast<IdType>(f->type() & IDT_TYPEMASK);
        const RegFile file = IsRegisterParameter(*f) ? REGF_NUMBER : REGF_VALUE;
        RegSlot& slot = rc.declare(f->name(), file, type);
        slot.heldArray = file == REGF_VALUE;
        form.heldParameters = form.heldParameters || slot.heldArray;
        form.parameters.push_back(RegOperand{file, slot.index, type});
    }
    if (proc.isFunction()) {
        // The return value starts as its type's default: a function that
        // never assigns it returns that.
        const IdType type = static_cast<IdType>(proc.type() & IDT_TYPEMASK);
        if (!IsRegisterNumberType(type)) return false;
        form.result = RegOperand{REGF_NUMBER, rc.newNumber(type), type};
    }
    return true;
}

namespace {

// What a call names: the object, the method and the arguments' node.
struct CallTarget {
    RegObjectRef target;
    int32_t how = 0;
    const char* name = nullptr;
    IdType suffix = IDT_UNTYPED;
    const ExprNode* firstArg = nullptr;
    uint16_t argCount = 0;
};

bool IsPlainName(const ExprNode* e) {
    if (!e || (e->flags() & (ExprNode::kMe | ExprNode::kDotted))) return false;
    if (e->type() == EXPR_CID) return true;
    return e->type() == EXPR_SID && !static_cast<const Sid*>(e)->isTruthConstant();
}

// The piece that names the method: a plain name or a call with arguments.
bool ReadPiece(RegCompiler& rc, const ExprNode* piece, CallTarget& t) {
    if (!IsPlainName(piece)) return false;
    if (piece->type() == EXPR_CID) {
        const auto* cid = static_cast<const Cid*>(piece);
        t.name = rc.identifierName(cid->idIndex());
        t.suffix = cid->getIdType();
        t.firstArg = cid->argCount() ? cid->firstArg() : nullptr;
        t.argCount = cid->argCount();
    } else {
        const auto* sid = static_cast<const Sid*>(piece);
        t.name = rc.identifierName(sid->idIndex());
        t.suffix = sid->getIdType();
    }
    return t.name != nullptr;
}

bool FindCallTarget(RegCompiler& rc, const ExprNode* e, CallTarget& t) {
    if (e->type() == EXPR_MID) {
        const auto* mid = static_cast<const Mid*>(e);
        if (mid->pieceCount() != 2) return false;
        const ExprNode* head = mid->firstPiece();
        const ExprNode* piece = reinterpret_cast<const ExprNode*>(head->bytes() + head->size());
        return RegFindTarget(rc, head, t.target, t.how) && ReadPiece(rc, piece, t);
    }
    // A bare name: a local or parameter of that name is no call.
    if (!IsPlainName(e)) return false;
    const uint16_t index = e->type() == EXPR_CID ? static_cast<const Cid*>(e)->idIndex()
                                                 : static_cast<const Sid*>(e)->idIndex();
    if (rc.isScoped(index)) return false;
    return ReadPiece(rc, e, t);
}

// Two by-reference arguments naming one variable would each get a copy;
// such a call stays on the tree walker.
bool SharesVariable(const RegCallSite& site, const RegArgument& a) {
    for (const RegArgument& b : site.arguments)
        if (b.writeBack && b.source == a.source) return true;
    return false;
}

// Translates one argument for parameter f. By reference, the tree walker
// binds storage as it is (of the parameter's type, or it fails with a type
// mismatch) and a temporary, converted, for anything else. A variable of
// the caller's registers is passed and copied back: nothing but the callee's
// parameter can reach it while the call runs, so the copy is not seen.
// Other storage (a field, which the callee and whatever it calls may read or
// write by its name meanwhile, an array element, a property, a typed name)
// is not taken.
bool Argument(RegCompiler& rc, const ExprNode* arg, Field& f, RegCallSite& site) {
    RegArgument a;
    a.parameterType = static_cast<IdType>(f.type() & IDT_TYPEMASK);
    a.byReference = f.isByReference();
    const bool name = arg->type() == EXPR_SID && IsPlainName(arg);
    if (a.byReference && arg->type() == EXPR_MID) return false;
    if (a.byReference && name) {
        const auto* sid = static_cast<const Sid*>(arg);
        if (sid->getIdType() != IDT_UNTYPED) return false;
        const RegSlot* slot = rc.findSlot(sid->idIndex());
        if (!slot || slot->file != REGF_NUMBER || slot->type != a.parameterType) return false;
        a.source = slot->index;
        a.writeBack = true;
        if (SharesVariable(site, a)) return false;
    } else if (a.byReference && arg->type() == EXPR_CID) {
        // An array element is storage; a function's value is a temporary.
        if ((arg->flags() & (ExprNode::kMe | ExprNode::kDotted)) || rc.isScoped(static_cast<const Cid*>(arg)->idIndex()))
            return false;
    }
    if (!a.writeBack) {
        RegOperand op;
        if (!rc.numberExpression(arg, op) || op.file != REGF_NUMBER) return false;
        a.source = op.index;
    }
    site.writesBack = site.writesBack || a.writeBack;
    site.arguments.push_back(a);
    return true;
}

bool TranslateCall(RegCompiler& rc, const ExprNode* e, bool wantValue, RegOperand* out) {
    InterObjRep* me = rc.me();
    if (!me) return false;
    CallTarget t;
    if (!FindCallTarget(rc, e, t)) return false;
    InterObjRep* obj = t.target.onMe ? me : t.target.object;
    SignatureRep* sig = obj ? obj->signature() : nullptr;
    if (!sig) return false;
    if (wantValue) t.how |= EVAL_VALUE_REQUIRED;
    SignatureRep* owner = nullptr;
    Field* f = sig->findField(t.name, owner, 0);
    if (!f) return false;
    CDLLProcField* native = f->isInterMethod() ? nullptr : RegNativeCallee(*f);
    if (!f->isInterMethod() && !native) return false;
    // What the look-up or the member would refuse, the tree walker
    // reports: a protected method from outside, a type suffix that is not
    // the method's, a Sub asked for a value.
    if (!t.target.onMe && owner == sig && f->isProtected()) return false;
    if (t.suffix != IDT_UNTYPED && (t.suffix & IDT_TYPEMASK) != (f->type() & IDT_TYPEMASK)) return false;
    auto* method = static_cast<MethodField*>(f);
    if (wantValue && !method->isFunction()) return false;
    std::vector<Field*> parameters;
    if (!RegisterParameters(*method, parameters) || parameters.size() != t.argCount) return false;
    if (wantValue && !IsRegisterNumberType(static_cast<IdType>(method->type() & IDT_TYPEMASK))) return false;

    RegCallSite site;
    site.target = t.target;
    site.name = t.name;
    site.how = t.how;
    site.suffix = t.suffix;
    site.signature = sig;
    site.revision = FieldLookupRevision::current();
    site.method = native ? nullptr : static_cast<InterProcField*>(method);
    const ExprNode* arg = t.firstArg;
    std::vector<uint32_t> starts;
    for (Field* p : parameters) {
        starts.push_back(rc.here());
        if (!Argument(rc, arg, *p, site)) return false;
        arg = reinterpret_cast<const ExprNode*>(arg->bytes() + arg->size());
    }
    // Binding converts the arguments once all are evaluated.
    starts.push_back(rc.here());
    for (size_t k = 0; k + 1 < parameters.size(); ++k) rc.readAgainAfterCalls(starts[k], starts[k + 1]);
    if (wantValue) {
        const IdType type = static_cast<IdType>(method->type() & IDT_TYPEMASK);
        *out = RegOperand{REGF_NUMBER, rc.newNumber(type), type};
        site.result = out->index;
    }
    if (native) return RegEmitNativeCall(rc, std::move(site), *native);
    RegSites& sites = RegSitesOf(rc.form());
    sites.calls.push_back(std::move(site));
    rc.emit(RegInstr{ROP_CALL, 0, 0, static_cast<int32_t>(sites.calls.size() - 1), 0, 0});
    return true;
}

}  // namespace

bool RegTranslateCallExpr(RegCompiler& rc, const ExprNode* e, RegOperand& out) {
    return TranslateCall(rc, e, true, &out) || RegTranslateCompiledCall(rc, e, true, &out);
}

bool RegTranslateCallStmt(RegCompiler& rc, const ExecNode* stmt) {
    if (stmt->type() != STMT_FUNCTION_CALL) return false;
    const auto* call = static_cast<const FunctionCallStmt*>(stmt);
    if (call->form() == CALL_SEND_EVENT) return false;
    return TranslateCall(rc, call->call(), false, nullptr) || RegTranslateCompiledCall(rc, call->call(), false, nullptr);
}

// ---- running -------------------------------------------------------------------------

namespace {

// The by-reference arguments copied back, also when the call fails: the
// tree walker's callee writes the caller's storage as it goes, so what it
// wrote before failing stays written.
void CopyBack(RegActivation& act, const RegCallSite& site, const RegActivation& callee) {
    if (!site.writesBack) return;
    // Taken aside: the stores below could otherwise be the vectors' own.
    const size_t n = site.arguments.size();
    const RegArgument* given = site.arguments.data();
    const RegOperand* parameters = callee.form->parameters.data();
    for (size_t i = 0; i < n; ++i)
        if (given[i].writeBack) act.numbers[given[i].source] = callee.numbers[parameters[i].index];
}

}  // namespace

// A by-reference argument is a value of the variable's own type, read back
// when the call ends.
void RegGeneralCall(RegActivation& act, const RegCallSite& site, InterObjRep& obj) {
    const size_t n = site.arguments.size();
    ValueList list;
    std::vector<ValuePtr> given(n);
    for (size_t i = 0; i < n; ++i) {
        given[i] = RegBox(act.numbers[site.arguments[i].source]);
        // The call lists its arguments last first.
        list.ppush(given[i]);
    }
    auto copyBack = [&]() {
        for (size_t i = 0; i < n; ++i) {
            const RegArgument& a = site.arguments[i];
            if (!a.writeBack) continue;
            RegNumber back{};
            if (!RegUnbox(*given[i], back)) continue;
            RegNumber& to = act.numbers[a.source];
            RegStoreNumber(to, to.type, back);
        }
    };
    ValuePtr result;
    // A failure beneath is offered to a hook by the tree walker, which
    // walks the frames: this activation and the register ones that called
    // it must be among them.
    std::optional<RegShownFrames> shown;
    if (DebugHook::Installed()) [[unlikely]]
        shown.emplace(act);
    try {
        int handled = 0;
        result = obj.eval(site.name.c_str(), site.suffix, &list, nullptr, RegLookupFlags(act, site.how, obj), &handled,
                          nullptr);
        if (!handled) throw NotFound(32740, site.name.c_str());
    } catch (...) {
        try {
            copyBack();
        } catch (...) {
            // The call's own failure is the one reported.
        }
        throw;
    }
    copyBack();
    if (site.result < 0) return;
    if (!result) throw StoreException(32690u);
    RegNumber& to = act.numbers[site.result];
    RegNumber n2{};
    if (!RegUnbox(*result, n2)) {
        ValuePtr converted = DirectValueClassFactory(to.type, result.get());
        if (!RegUnbox(*converted, n2)) throw TypeMismatch("memberEval", 32765);
    }
    RegStoreNumber(to, to.type, n2);
}

namespace {

// Whether obj has the signature the site found its callee on, by the id
// its reference holds; false also when the reference is not a direct one
// (then FindCallee looks).
inline bool HasSignature(const InterObjRep& obj, const RegCallSite& site) {
    const Signature& sig = obj.signatureRef();
    return sig.body() == site.signatureId && !sig.isDescriptor() && !sig.isIndirect();
}

// The callee's form for a call at site on obj, found again (and kept on the
// site under the keys of now) when the keys it was last found under moved;
// null when the call goes the general road.
[[gnu::noinline]] RegisterForm* FindCallee(const RegCallSite& site, InterObjRep& obj) {
    const uint64_t revision = FieldLookupRevision::current();
    if (site.revision != revision || obj.signature() != site.signature) return nullptr;
    RegisterForm* form = RegFormFor(*site.method, obj);
    if (!form || form->heldParameters || form->parameters.size() != site.arguments.size()) return nullptr;
    site.calleeForm = form;
    site.calleeRevision = revision;
    site.calleeEpoch = Context::cacheEpoch();
    site.signatureId = site.signature->selfId();
    return form;
}

}  // namespace

uint32_t RegRunCall(RegActivation& act, const RegInstr& in, uint32_t pc) {
    if (in.op == ROP_CALL_NATIVE) return RegRunNativeCall(act, in, pc);
    if (in.op == ROP_CALL_COMPILED) return RegRunCompiledCall(act, in, pc);
    const RegCallSite& site = act.form->sites->calls[static_cast<size_t>(in.a)];
    InterObjRep& obj = site.target.resolve(act);
    // While the keys hold, the form found last is still the callee's and
    // takes the site's arguments; obj may be another object, of the same
    // signature or not.
    RegisterForm* form = site.calleeForm;
    if (site.calleeRevision != FieldLookupRevision::current() || site.calleeEpoch != Context::cacheEpoch() ||
        !HasSignature(obj, site) || !RegFormAllowed()) [[unlikely]] {
        if (!(form = FindCallee(site, obj))) {
            RegGeneralCall(act, site, obj);
            return pc + 1;
        }
    }
    if (!obj.isReadAllowed()) throw AccessDenied("InterProcField::eval()", 32755);
    // The procedure may be removed from its signature while it runs (a
    // host's edit): it is held, as the tree walker's call holds it.
    FieldPtr hold(site.method);
    RegCallee callee(*form, *site.method, obj);
    RegActivation& c = callee.activation();
    const size_t n = site.arguments.size();
    const RegArgument* given = site.arguments.data();
    const RegOperand* parameters = form->parameters.data();
    for (size_t i = 0; i < n; ++i)
        PassNumber(c.numbers[parameters[i].index], parameters[i].type, act.numbers[given[i].source]);
    CheckStackRoom();
    CallDepth depth;
    try {
        callee.run();
    } catch (...) {
        try {
            CopyBack(act, site, c);
        } catch (...) {
            // The call's own failure is the one reported.
        }
        throw;
    }
    CopyBack(act, site, c);
    if (site.result >= 0) act.numbers[site.result] = c.numbers[form->result.index];
    return pc + 1;
}

// ---- the entry with the call's values ------------------------------------------------

namespace {

// A value that holds its own number: a result, a constant, a by-value
// argument. No name reaches it, so while a call runs only the parameter
// bound to it can see it.
// Only a DirectValue answers isDirect(), and its number instances are the
// codes Integer to Double: asked that way, without a cast per instance.
bool HoldsOwnNumber(const Value& v) {
    if (!v.isDirect()) return false;
    const IdType t = v.type() & IDT_TYPEMASK;
    return t >= IDT_SHORT && t <= IDT_DOUBLE;
}

}  // namespace

bool RegEntryTakes(InterProcField& proc, const ValueList* args) {
    InterObjRep* proto = proc.parameterPrototype();
    const int32_t given = args ? args->length() : 0;
    if (!proto || given == 0) return true;
    const FieldPtrList& fields = proto->signature()->fields();
    // A wrong count fails in binding, the same way on both forms.
    if (given != static_cast<int32_t>(fields.length())) return true;
    const Value* bound[8];
    size_t nBound = 0;
    for (int32_t i = 0; i < given; ++i) {
        auto& f = static_cast<InterDataField&>(*fields.at(static_cast<size_t>(i)));
        // An array is held by reference, as binding holds it: no copy.
        if (!f.isByReference() || IsHeldArrayParameter(f)) continue;
        Value* original = args->at(given - 1 - i);
        ValuePtr v(original);
        try {
            f.typeConvert(v);
        } catch (const StoreException&) {
            // Binding gives the failure.
            return true;
        }
        if (v.get() != original) continue;
        if (!HoldsOwnNumber(*original) || nBound == std::size(bound)) return false;
        for (size_t k = 0; k < nBound; ++k)
            if (bound[k] == original) return false;
        bound[nBound++] = original;
    }
    return true;
}

void RegBindArguments(RegActivation& act, const ValueList* args, RegEntryBacks& backs) {
    InterProcField& proc = *act.proc;
    InterObjRep* proto = proc.parameterPrototype();
    const int32_t given = args ? args->length() : 0;
    if (!proto) {
        if (given) throw TooManyArguments("InterProcField::eval()", 32763);
        return;
    }
    const FieldPtrList& fields = proto->signature()->fields();
    if (given > static_cast<int32_t>(fields.length())) throw TooManyArguments("InterObjRep::checkBindings()", 32763);
    if (given < static_cast<int32_t>(fields.length())) throw TooFewArguments("InterObjRep::checkBindings()", 32762);
    for (int32_t i = 0; i < given; ++i) {
        auto& f = static_cast<InterDataField&>(*fields.at(static_cast<size_t>(i)));
        Value* original = args->at(given - 1 - i);
        ValuePtr v(original);
        // Binding's own conversion and check, with their failures.
        f.typeConvert(v);
        f.checkBinding(v.get());
        const RegOperand& p = act.form->parameters[static_cast<size_t>(i)];
        if (p.file == REGF_VALUE) {
            act.values[p.index] = v;
            continue;
        }
        RegNumber n{};
        if (!RegUnbox(*v, n)) throw TypeMismatch("InterField::bind()", 32765);
        PassNumber(act.numbers[p.index], p.type, n);
        // A by-reference parameter bound to the caller's own value writes
        // it back; one bound to a converted temporary has nobody to tell.
        if (f.isByReference() && v.get() == original) backs.push_back({ValuePtr(original), p.index});
    }
}

void RegWriteBack(RegActivation& act, const RegEntryBacks& backs) {
    for (size_t i = 0; i < backs.size(); ++i) {
        const RegEntryBack& b = backs[i];
        const RegNumber& n = act.numbers[b.index];
        switch (n.type) {
            case IDT_SHORT: b.value->set(static_cast<int16_t>(n.l)); break;
            case IDT_LONG: b.value->set(n.l); break;
            case IDT_FLOAT: b.value->set(n.f); break;
            default: b.value->set(n.d); break;
        }
    }
}

ValuePtr RegResult(const RegActivation& act) {
    if (!act.proc->isFunction() || act.form->result.index < 0) return ValuePtr();
    ValuePtr v = RegBox(act.numbers[act.form->result.index]);
    static_cast<InterFuncField*>(act.proc)->convertReturn(v);
    return v;
}

}  // namespace tq

