// Calls of compiled members in the register form: "Items.Count" where Items
// is an object field of Me holding, say, a Group (regcall.h tells the
// site's keys).
//
// The tree walker evaluates the holder's name into a value, takes the
// object out of it, looks the member up by name, and makes the member's
// value (through libffi) before the assignment converts it. Here the
// object is read from Me's slot and the member function is called
// directly with the object's compiled part, its number result written into
// a register. The checks of the member come in the member's own order (the
// object readable, the member function present); an object without a
// compiled part gives the zero value as on the tree walker.
//
// A member function is called as a plain function taking the adjusted
// object pointer first, which is how the member-function callers of the
// foreign-call layer call it too (fncaller.h); only members without
// arguments whose result is a number are taken, so the call has one
// pointer argument and a scalar result.
#include "store/builtin/compfld.h"
#include "store/errors/extexcep.h"
#include "store/interp/ident.h"
#include "store/interp/regcall.h"
#include "store/interp/regcompile.h"
#include "store/model/interobj.h"
#include "store/model/intfld.h"
#include "store/model/sigrep.h"

namespace tq {

namespace {

bool IsPlainSid(const ExprNode* e) {
    return e && e->type() == EXPR_SID && !(e->flags() & (ExprNode::kMe | ExprNode::kDotted)) &&
           !static_cast<const Sid*>(e)->isTruthConstant();
}

// The member's piece: a plain name, or a call of it without arguments.
bool MemberPiece(const ExprNode* piece, uint16_t& index, IdType& suffix) {
    if (IsPlainSid(piece)) {
        index = static_cast<const Sid*>(piece)->idIndex();
        suffix = static_cast<const Sid*>(piece)->getIdType();
        return true;
    }
    if (!piece || piece->type() != EXPR_CID || (piece->flags() & (ExprNode::kMe | ExprNode::kDotted))) return false;
    const auto* cid = static_cast<const Cid*>(piece);
    if (cid->argCount() != 0) return false;
    index = cid->idIndex();
    suffix = cid->getIdType();
    return true;
}

// An object field whose slot the site may read as the tree walker's
// value of it reads it: a strict field checks its type name when read.
ObjectSlotField* HolderField(Field* f) {
    if (!f || dynamic_cast<StrictInterObjField*>(f)) return nullptr;
    if (!dynamic_cast<InterObjField*>(f) && !dynamic_cast<EmbedObjField*>(f)) return nullptr;
    return static_cast<ObjectSlotField*>(f);
}

// Which member the site calls, with its result type; false when the member
// is none the site takes.
bool TakeMember(Field* f, bool wantValue, RegCompiledSite& site) {
    if (!f || f->isProtected()) return false;
    const IdType type = static_cast<IdType>(f->type() & IDT_TYPEMASK);
    if (f->isCompDataField()) {
        // An enumeration's property reads as its entry's name in text.
        if (!wantValue || f->isEnumeration() || !IsRegisterNumberType(type)) return false;
        site.property = static_cast<CompProcDataField*>(f);
        site.resultType = type;
        return true;
    }
    auto* method = dynamic_cast<CppProcField*>(f);
    if (!method || method->parameterPrototype()) return false;
    if (method->isFunction() ? !IsRegisterNumberType(type) : wantValue) return false;
    site.method = method;
    site.resultType = method->isFunction() ? type : static_cast<IdType>(IDT_VOID);
    return true;
}

// The call on the tree walker's road: the holder's value, its object, the
// member looked up by name on it.
[[gnu::noinline]] void GeneralRoad(RegActivation& act, const RegCompiledSite& site) {
    int handled = 0;
    ValuePtr v = act.me->eval(site.holderName.c_str(), IDT_UNTYPED, nullptr, nullptr, EVAL_VALUE_REQUIRED, &handled,
                              nullptr);
    if (!handled) throw NotFound(32740, site.holderName.c_str());
    const InterObj obj(ObjectOf(v));
    RegGeneralCall(act, site.call, *obj.get());
}

template <class R>
R CallFor(void* code, void* self) {
    return code ? reinterpret_cast<R (*)(void*)>(code)(self) : R{};
}

}  // namespace

bool RegTranslateCompiledCall(RegCompiler& rc, const ExprNode* e, bool wantValue, RegOperand* out) {
    InterObjRep* me = rc.me();
    if (!me || !me->signature() || e->type() != EXPR_MID) return false;
    const auto* mid = static_cast<const Mid*>(e);
    if (mid->pieceCount() != 2) return false;
    const ExprNode* head = mid->firstPiece();
    const ExprNode* piece = reinterpret_cast<const ExprNode*>(head->bytes() + head->size());
    if (!IsPlainSid(head) || static_cast<const Sid*>(head)->getIdType() != IDT_UNTYPED) return false;
    const uint16_t headIndex = static_cast<const Sid*>(head)->idIndex();
    const char* holderName = rc.identifierName(headIndex);
    uint16_t memberIndex = 0;
    IdType suffix = IDT_UNTYPED;
    if (!holderName || rc.isScoped(headIndex) || !MemberPiece(piece, memberIndex, suffix)) return false;
    const char* memberName = rc.identifierName(memberIndex);
    if (!memberName) return false;

    RegCompiledSite site;
    SignatureRep* sig = me->signature();
    site.holder = HolderField(sig->findField(holderName, site.holderOwner, 0));
    if (!site.holder || !site.holderOwner) return false;
    // The member is known by the object held now; an empty slot leaves the
    // procedure to the tree walker.
    InterObjRep* held = site.holder->slot(*me, *site.holderOwner).get();
    SignatureRep* heldSig = held && !held->isDestroyed() ? held->signature() : nullptr;
    if (!heldSig) return false;
    SignatureRep* memberOwner = nullptr;
    Field* member = heldSig->findField(memberName, memberOwner, 0);
    if (!TakeMember(member, wantValue, site)) return false;
    if (suffix != IDT_UNTYPED && (suffix & IDT_TYPEMASK) != (member->type() & IDT_TYPEMASK)) return false;

    site.holderName = holderName;
    site.holderSignature = sig;
    site.call.name = memberName;
    site.call.how = EVAL_DOTTED | (wantValue ? EVAL_VALUE_REQUIRED : 0);
    site.call.suffix = suffix;
    site.call.signature = heldSig;
    site.call.revision = FieldLookupRevision::current();
    if (wantValue) {
        *out = RegOperand{REGF_NUMBER, rc.newNumber(site.resultType), site.resultType};
        site.call.result = out->index;
    }
    RegSites& sites = RegSitesOf(rc.form());
    sites.compiled.push_back(std::move(site));
    rc.emit(RegInstr{ROP_CALL_COMPILED, 0, 0, static_cast<int32_t>(sites.compiled.size() - 1), 0, 0});
    return true;
}

uint32_t RegRunCompiledCall(RegActivation& act, const RegInstr& in, uint32_t pc) {
    const RegCompiledSite& site = act.form->sites->compiled[static_cast<size_t>(in.a)];
    InterObjRep& me = *act.me;
    InterObj held;
    const bool keysHold = site.call.revision == FieldLookupRevision::current() && me.signature() == site.holderSignature;
    if (keysHold) [[likely]]
        site.holder->get(held, me, *site.holderOwner);
    if (!keysHold || held.isNull() || held->signature() != site.call.signature) [[unlikely]] {
        GeneralRoad(act, site);
        return pc + 1;
    }
    // A host's edit may remove the member while its function runs.
    const FieldPtr hold(site.property ? static_cast<Field*>(site.property) : site.method);
    void* self = nullptr;
    void* code = site.property ? site.property->getterCode(*held, self) : site.method->nativeCode(*held, self);
    if (site.resultType == IDT_VOID) {
        if (code) reinterpret_cast<void (*)(void*)>(code)(self);
        return pc + 1;
    }
    RegNumber r;
    r.type = site.resultType;
    switch (site.resultType) {
        case IDT_SHORT: r.l = CallFor<int16_t>(code, self); break;
        case IDT_LONG: r.l = CallFor<int32_t>(code, self); break;
        case IDT_FLOAT: r.f = CallFor<float>(code, self); break;
        default: r.d = CallFor<double>(code, self); break;
    }
    if (site.call.result >= 0) act.numbers[site.call.result] = r;
    return pc + 1;
}

}  // namespace tq
