// Calls of compiled members in the register form: "Holder.Member" where
// Holder is an object field of Me ("Items.Count"), an object local of the
// procedure ("file.ReadLine()") or an object named where the procedure is
// written ("Text.CountWords(line)"); regcall.h tells the site's keys.
//
// The tree walker evaluates the holder's name into a value, takes the
// object out of it, looks the member up by name, binds the arguments as
// values and makes the member's value (through libffi) before the
// assignment converts it. Here the object is read from where the holder
// lies and the member function is called directly with the object's
// compiled part, its arguments taken from registers and its result
// written into one. The checks of the member come in the member's own
// order (the object readable, the member function present); an object
// without a compiled part gives the zero value as on the tree walker.
//
// A member function is called as a plain function taking the adjusted
// object pointer first, which is how the member-function callers of the
// foreign-call layer call it too (fncaller.h). The direct calls are the
// shapes members mostly have (RegCompiledShape): no argument, one String,
// Long or Double, or two Strings, with a number, a String or no result.
// Any other shape, and any call whose keys no longer hold (another kind
// of object in the holder, a field list changed), goes the general road:
// the arguments boxed as values and the member looked up by name on the
// object, as the tree walker calls it.
#include <type_traits>

#include "store/builtin/compfld.h"
#include "store/errors/extexcep.h"
#include "store/interp/compound.h"
#include "store/interp/ident.h"
#include "store/interp/regcall.h"
#include "store/interp/regcompile.h"
#include "store/interp/regobject.h"
#include "store/model/interobj.h"
#include "store/model/intfld.h"
#include "store/model/objval.h"
#include "store/model/sigrep.h"
#include "store/persist/vlstrrep.h"

namespace tq {

namespace {

bool IsPlainSid(const ExprNode* e) {
    return e && e->type() == EXPR_SID && !(e->flags() & (ExprNode::kMe | ExprNode::kDotted)) &&
           !static_cast<const Sid*>(e)->isTruthConstant();
}

// The member's piece: a plain name, or a call of it with its arguments.
bool MemberPiece(const ExprNode* piece, uint16_t& index, IdType& suffix, const ExprNode*& firstArg, uint16_t& n) {
    firstArg = nullptr;
    n = 0;
    if (IsPlainSid(piece)) {
        index = static_cast<const Sid*>(piece)->idIndex();
        suffix = static_cast<const Sid*>(piece)->getIdType();
        return true;
    }
    if (!piece || piece->type() != EXPR_CID || (piece->flags() & (ExprNode::kMe | ExprNode::kDotted))) return false;
    const auto* cid = static_cast<const Cid*>(piece);
    index = cid->idIndex();
    suffix = cid->getIdType();
    n = cid->argCount();
    firstArg = n ? cid->firstArg() : nullptr;
    return true;
}

// An object field whose slot the site may read as the tree walker's
// value of it reads it: a strict field checks its type name when read.
ObjectSlotField* HolderField(Field* f) {
    if (!f || dynamic_cast<StrictInterObjField*>(f)) return nullptr;
    if (!dynamic_cast<InterObjField*>(f) && !dynamic_cast<EmbedObjField*>(f)) return nullptr;
    return static_cast<ObjectSlotField*>(f);
}

bool IsResultType(IdType t) { return IsRegisterNumberType(t) || t == IDT_STRING; }

// The by-value parameter types of a compiled method, in order; false when
// one is by reference (the member could write the caller's variable).
bool ParameterTypes(MethodField& m, std::vector<IdType>& out) {
    out.clear();
    InterObjRep* proto = m.parameterPrototype();
    if (!proto) return true;
    SignatureRep* sig = proto->signature();
    if (!sig || sig->parent()) return false;
    const FieldPtrList& fields = sig->fields();
    for (size_t i = 0; i < fields.length(); ++i) {
        const Field* f = fields.at(i);
        if (f->isByReference()) return false;
        out.push_back(static_cast<IdType>(f->type() & IDT_TYPEMASK));
    }
    return true;
}

// How a direct call passes the arguments, from the parameters' types and
// the files the arguments were translated into; RCS_GENERAL when it takes
// the general road every time.
RegCompiledShape ShapeOf(const std::vector<IdType>& parameters, const std::vector<RegOperand>& args) {
    auto is = [&](size_t i, IdType t) { return parameters[i] == t && (args[i].file == REGF_STRING) == (t == IDT_STRING); };
    switch (parameters.size()) {
        case 0: return RCS_NONE;
        case 1:
            if (is(0, IDT_STRING)) return RCS_STRING;
            if (is(0, IDT_LONG)) return RCS_LONG;
            if (is(0, IDT_DOUBLE)) return RCS_DOUBLE;
            return RCS_GENERAL;
        case 2: return is(0, IDT_STRING) && is(1, IDT_STRING) ? RCS_STRING_STRING : RCS_GENERAL;
        default: return RCS_GENERAL;
    }
}

// Which member the site calls, with its result type and shape; false when
// the member is none the site takes. An enumeration's property reads as
// its entry's name in text: it is taken only where its number is all that
// is used (asNumber).
bool TakeMember(Field* f, bool wantValue, bool asNumber, const std::vector<RegOperand>& args, RegCompiledSite& site) {
    if (!f || f->isProtected()) return false;
    const IdType type = static_cast<IdType>(f->type() & IDT_TYPEMASK);
    if (f->isCompDataField()) {
        if (!wantValue || !args.empty() || !IsResultType(type)) return false;
        if (f->isEnumeration() && (!asNumber || type != IDT_LONG)) return false;
        site.property = static_cast<CompProcDataField*>(f);
        site.method = nullptr;
        site.resultType = type;
        site.shape = RCS_NONE;
        return true;
    }
    auto* method = dynamic_cast<CppProcField*>(f);
    if (!method) return false;
    if (method->isFunction() ? !IsResultType(type) : wantValue) return false;
    std::vector<IdType> parameters;
    if (!ParameterTypes(*method, parameters) || parameters.size() != args.size()) return false;
    site.property = nullptr;
    site.method = method;
    site.resultType = method->isFunction() ? type : static_cast<IdType>(IDT_VOID);
    site.shape = ShapeOf(parameters, args);
    return true;
}

inline const std::string& Str(const RegActivation& act, int32_t operand) {
    return operand >= 0 ? act.strings[operand] : act.form->stringConstants[static_cast<size_t>(-1 - operand)];
}

// A value's text into a string register.
void PutText(std::string& d, const Value& v) {
    ValString text;
    v.get(text);
    d.clear();
    if (const ValStringRep* rep = text.get()) d.append(rep->text());
}

// The call on the tree walker's road, on obj: the arguments as values, the
// member looked up by name, its value into the result register.
[[gnu::noinline]] void GeneralCall(RegActivation& act, const RegCompiledSite& site, InterObjRep& obj) {
    ValueList list;
    // A call lists its arguments last first: each goes before the ones
    // already listed.
    for (size_t i = 0; i < site.args.size(); ++i) {
        const RegOperand& a = site.args[i];
        list.ppush(a.file == REGF_STRING ? ValuePtr(new StringValue(ValString(Str(act, a.index))))
                                         : RegBox(act.numbers[a.index]));
    }
    const RegCallSite& call = site.call;
    int handled = 0;
    ValuePtr result = obj.eval(call.name.c_str(), call.suffix, site.args.empty() ? nullptr : &list, nullptr,
                               RegLookupFlags(act, call.how, obj), &handled, nullptr);
    if (!handled) throw NotFound(32740, call.name.c_str());
    if (call.result < 0) return;
    if (!result) throw StoreException(32690u);
    if (site.resultType == IDT_STRING) return PutText(act.strings[call.result], *result);
    RegNumber& to = act.numbers[call.result];
    RegNumber n{};
    if (!RegUnbox(*result, n)) {
        ValuePtr converted = DirectValueClassFactory(to.type, result.get());
        if (!RegUnbox(*converted, n)) throw TypeMismatch("memberEval", 32765);
    }
    RegStoreNumber(to, to.type, n);
}

// The object the holder names now; null when the site must go the
// general road to find out (an object field of Me under keys that moved).
InterObjRep* Held(RegActivation& act, const RegCompiledSite& site, InterObj& keep) {
    switch (site.holderKind) {
        case RCH_ME_FIELD: {
            InterObjRep& me = *act.me;
            if (site.call.revision != FieldLookupRevision::current() || me.signature() != site.holderSignature)
                return nullptr;
            site.holder->get(keep, me, *site.holderOwner);
            return keep.get();
        }
        case RCH_LOCAL: {
            InterObjRep* o = RegHeldObject(act.values[site.holderRegister]);
            // A member of Nothing fails as the tree walker's look-up on
            // the variable's empty value fails.
            if (!o) throw Is_Null("CompoundIdRep::eval()", 32744);
            return o;
        }
        default: return &site.call.target.resolve(act);
    }
}

[[gnu::noinline]] void GeneralRoad(RegActivation& act, const RegCompiledSite& site) {
    int handled = 0;
    ValuePtr v = act.me->eval(site.holderName.c_str(), IDT_UNTYPED, nullptr, nullptr, EVAL_VALUE_REQUIRED, &handled,
                              nullptr);
    if (!handled) throw NotFound(32740, site.holderName.c_str());
    const InterObj obj(ObjectOf(v));
    GeneralCall(act, site, *obj.get());
}

// The member of the same name and shape on another signature, kept on the
// site (the site's members are those of call.signature); false when there
// is none, and the call goes the general road.
[[gnu::noinline]] bool FindAgain(const RegCompiledSite& site, SignatureRep* sig) {
    if (!sig || site.call.revision != FieldLookupRevision::current()) return false;
    SignatureRep* owner = nullptr;
    RegCompiledSite found;
    if (!TakeMember(sig->findField(site.call.name.c_str(), owner, 0), site.call.result >= 0, site.asNumber, site.args,
                    found) ||
        found.resultType != site.resultType || found.shape != site.shape)
        return false;
    // The site is the form's own, kept in its RegSites (never const
    // storage): what it calls is updated in place, as a cache.
    auto& kept = const_cast<RegCompiledSite&>(site);
    kept.property = found.property;
    kept.method = found.method;
    kept.call.signature = sig;
    return true;
}

// The member function as a plain function of the adjusted object and the
// arguments, R its result; the zero value when the object has no
// compiled part.
template <class R, class... A>
R Invoke(void* code, void* self, A... args) {
    if constexpr (std::is_void_v<R>) {
        if (code) reinterpret_cast<R (*)(void*, A...)>(code)(self, args...);
    } else {
        return code ? reinterpret_cast<R (*)(void*, A...)>(code)(self, args...) : R{};
    }
}

template <class R>
R CallShape(RegActivation& act, const RegCompiledSite& site, void* code, void* self) {
    const RegOperand* a = site.args.data();
    switch (site.shape) {
        case RCS_NONE: return Invoke<R>(code, self);
        case RCS_STRING: return Invoke<R, const char*>(code, self, Str(act, a[0].index).c_str());
        case RCS_STRING_STRING:
            return Invoke<R, const char*, const char*>(code, self, Str(act, a[0].index).c_str(),
                                                       Str(act, a[1].index).c_str());
        case RCS_LONG: {
            // Binding's conversion of a number to the parameter's type.
            RegNumber n;
            RegStoreNumber(n, IDT_LONG, act.numbers[a[0].index]);
            return Invoke<R, int32_t>(code, self, n.l);
        }
        default: {
            RegNumber n;
            RegStoreNumber(n, IDT_DOUBLE, act.numbers[a[0].index]);
            return Invoke<R, double>(code, self, n.d);
        }
    }
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
    const ExprNode* arg = nullptr;
    uint16_t argCount = 0;
    if (!holderName || !MemberPiece(piece, memberIndex, suffix, arg, argCount)) return false;
    const char* memberName = rc.identifierName(memberIndex);
    if (!memberName) return false;

    // Where the holder lies, and the signature its members are known by
    // now: an object local's type, the object in Me's field, the named
    // object.
    RegCompiledSite site;
    SignatureRep* heldSig = nullptr;
    if (rc.isScoped(headIndex)) {
        const RegSlot* slot = rc.findSlot(headIndex);
        if (!slot || slot->file != REGF_VALUE || slot->heldArray) return false;
        site.holderKind = RCH_LOCAL;
        site.holderRegister = slot->index;
        heldSig = rc.objectLocalType(*slot);
    } else if (SignatureRep* sig = me->signature(); sig->findField(holderName, site.holderOwner, 0)) {
        site.holderKind = RCH_ME_FIELD;
        site.holder = HolderField(sig->findField(holderName, site.holderOwner, 0));
        if (!site.holder || !site.holderOwner) return false;
        // The member is known by the object held now; an empty slot leaves
        // the procedure to the tree walker.
        InterObjRep* held = site.holder->slot(*me, *site.holderOwner).get();
        heldSig = held && !held->isDestroyed() ? held->signature() : nullptr;
        site.holderName = holderName;
        site.holderSignature = sig;
    } else {
        int32_t how = 0;
        if (!RegFindTarget(rc, head, site.call.target, how)) return false;
        site.holderKind = RCH_NAMED;
        heldSig = site.call.target.object->signature();
    }
    if (!heldSig) return false;

    SignatureRep* memberOwner = nullptr;
    Field* member = heldSig->findField(memberName, memberOwner, 0);
    if (!member || (!member->isCompiledMethod() && !member->isCompDataField())) return false;
    if (suffix != IDT_UNTYPED && (suffix & IDT_TYPEMASK) != (member->type() & IDT_TYPEMASK)) return false;
    // The arguments in order, as registers of their own files; binding
    // converts them once all are evaluated.
    const uint32_t start = rc.here();
    std::vector<uint32_t> starts;
    for (uint16_t k = 0; k < argCount; ++k, arg = NextExpr(arg)) {
        starts.push_back(rc.here());
        RegOperand v;
        if (!rc.expression(arg, v) || (v.file != REGF_NUMBER && v.file != REGF_STRING)) {
            rc.dropCode(start);
            return false;
        }
        site.args.push_back(v);
    }
    starts.push_back(rc.here());
    for (size_t k = 0; k + 1 < site.args.size(); ++k) rc.readAgainAfterCalls(starts[k], starts[k + 1]);
    site.asNumber = rc.usedAsNumber(e);
    if (!TakeMember(member, wantValue, site.asNumber, site.args, site)) {
        // The arguments' code goes with the call (as above): a call not
        // taken leaves nothing emitted.
        rc.dropCode(start);
        return false;
    }

    site.call.name = memberName;
    site.call.how = EVAL_DOTTED | (wantValue ? EVAL_VALUE_REQUIRED : 0);
    site.call.suffix = suffix;
    site.call.signature = heldSig;
    site.call.revision = FieldLookupRevision::current();
    if (wantValue) {
        if (site.resultType == IDT_STRING)
            *out = RegOperand{REGF_STRING, rc.newString(), IDT_STRING};
        else
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
    InterObj keep;
    InterObjRep* held = Held(act, site, keep);
    if (!held) [[unlikely]] {
        GeneralRoad(act, site);
        return pc + 1;
    }
    // The member found is used only while the field look-up revision it
    // was found in holds: until then it is still listed in its signature.
    if (held->isDestroyed() || site.shape == RCS_GENERAL || site.call.revision != FieldLookupRevision::current() ||
        (held->signature() != site.call.signature && !FindAgain(site, held->signature()))) [[unlikely]] {
        GeneralCall(act, site, *held);
        return pc + 1;
    }
    // A host's edit may remove the member while its function runs.
    const FieldPtr hold(site.property ? static_cast<Field*>(site.property) : site.method);
    void* self = nullptr;
    void* code = site.property ? site.property->getterCode(*held, self) : site.method->nativeCode(*held, self);
    const int32_t to = site.call.result;
    switch (site.resultType) {
        case IDT_VOID: CallShape<void>(act, site, code, self); break;
        case IDT_STRING: {
            const ValString text = CallShape<ValString>(act, site, code, self);
            if (to < 0) break;
            std::string& d = act.strings[to];
            d.clear();
            if (const ValStringRep* rep = text.get()) d.append(rep->text());
            break;
        }
        default: {
            RegNumber r;
            r.type = site.resultType;
            switch (site.resultType) {
                case IDT_SHORT: r.l = CallShape<int16_t>(act, site, code, self); break;
                case IDT_LONG: r.l = CallShape<int32_t>(act, site, code, self); break;
                case IDT_FLOAT: r.f = CallShape<float>(act, site, code, self); break;
                default: r.d = CallShape<double>(act, site, code, self); break;
            }
            if (to >= 0) act.numbers[to] = r;
        }
    }
    return pc + 1;
}

}  // namespace tq
