// Object variables and For Each in the register form (regobject.h).
#include "store/interp/regobject.h"

#include <typeinfo>

#include "platform/util/uassert.h"
#include "store/arfldval.h"
#include "store/arrayfld.h"
#include "store/block.h"
#include "store/errors/extexcep.h"
#include "store/interp/binop.h"
#include "store/interp/fornext.h"
#include "store/interp/ident.h"
#include "store/interp/regcall.h"
#include "store/interp/regcompile.h"
#include "store/model/intfld.h"
#include "store/model/sigrep.h"
#include "store/storeapp.h"

namespace tq {

bool RegIsObjectLocal(const Field& f) { return typeid(f) == typeid(InterObjField); }

// ---- translation ---------------------------------------------------------------------

namespace {

bool IsPlainSid(const ExprNode* e) {
    return e && e->type() == EXPR_SID && !(e->flags() & (ExprNode::kMe | ExprNode::kDotted)) &&
           !static_cast<const Sid*>(e)->isTruthConstant() && static_cast<const Sid*>(e)->getIdType() == IDT_UNTYPED;
}

// Whether name is an object field of obj that the code at site may read
// by its name: a field holding an object (not a property procedure), not
// a protected field of another object than Me.
bool ReadableObjectField(InterObjRep& obj, const char* name, bool onMe) {
    SignatureRep* sig = obj.signature();
    if (!name || !sig) return false;
    SignatureRep* owner = nullptr;
    Field* f = sig->findField(name, owner, 0);
    if (!f || !owner || !f->isObjectDataField() || f->isByReference()) return false;
    return onMe || owner != sig || !f->isProtected();
}

int32_t AddSite(RegCompiler& rc, RegFieldSite&& site) {
    RegSites& sites = RegSitesOf(rc.form());
    sites.objects.push_back(std::move(site));
    return static_cast<int32_t>(sites.objects.size() - 1);
}

}  // namespace

bool RegTranslateObjectRead(RegCompiler& rc, const ExprNode* e, RegOperand& out) {
    InterObjRep* me = rc.me();
    if (!me) return false;
    RegFieldSite site;
    site.type = IDT_OBJECT;
    uint8_t itself = 0;
    if (e->type() == EXPR_SID && (e->flags() & ExprNode::kMe) && !(e->flags() & ExprNode::kDotted)) {
        // Me.
        itself = 1;
    } else if (IsPlainSid(e)) {
        const uint16_t index = static_cast<const Sid*>(e)->idIndex();
        if (rc.isScoped(index)) return false;
        const char* name = rc.identifierName(index);
        if (RegFindTarget(rc, e, site.target, site.how)) {
            // An object named where the procedure is written.
            itself = 1;
        } else if (ReadableObjectField(*me, name, true)) {
            site.name = name;
        } else {
            return false;
        }
    } else if (e->type() == EXPR_MID) {
        const auto* mid = static_cast<const Mid*>(e);
        if (mid->pieceCount() != 2) return false;
        const ExprNode* head = mid->firstPiece();
        const ExprNode* piece = reinterpret_cast<const ExprNode*>(head->bytes() + head->size());
        if (!IsPlainSid(piece) || !RegFindTarget(rc, head, site.target, site.how)) return false;
        const char* name = rc.identifierName(static_cast<const Sid*>(piece)->idIndex());
        InterObjRep& obj = site.target.onMe ? *me : *site.target.object;
        if (!ReadableObjectField(obj, name, site.target.onMe)) return false;
        site.name = name;
    } else {
        return false;
    }
    const int32_t index = AddSite(rc, std::move(site));
    out = RegOperand{REGF_VALUE, rc.newValue(), IDT_OBJECT};
    rc.emit(RegInstr{ROP_OBJ_GET, itself, 0, out.index, index, 0});
    return true;
}

// ---- running -------------------------------------------------------------------------

namespace {

// The object of site, as the tree walker's value of the name gives it.
[[gnu::noinline]] void ReadObject(RegActivation& act, const RegInstr& in) {
    const RegFieldSite& site = act.form->sites->objects[static_cast<size_t>(in.b)];
    InterObjRep& target = site.target.resolve(act);
    InterObj o;
    if (in.x) {
        o = &target;
    } else {
        int handled = 0;
        ValuePtr v = target.eval(site.name.c_str(), IDT_UNTYPED, nullptr, nullptr,
                                 RegLookupFlags(act, site.how, target) | EVAL_VALUE_REQUIRED, &handled, nullptr);
        if (!handled) throw NotFound(32740, site.name.c_str());
        if (!v) throw StoreException(32690u);
        // Anything but an object fails as storing it in an Object variable
        // fails.
        v->get(o);
    }
    act.values[in.a] = ValuePtr(new ObjectValue(o));
}

// A variable declared with a type takes only an object that is one, as
// its field's own write checks: the variable keeps its value otherwise.
inline void CheckType(const RegActivation& act, uint16_t type, InterObjRep* obj) {
    if (type && !act.form->objectTypes[type - 1u]->properlyTyped(obj))
        throw TypeMismatch("InterObjField::set()", 32765);
}

// The next member of the list still alive into the variable's register;
// false when none is left.
inline bool NextMember(RegActivation& act, const RegInstr& in) {
    RegMembers& list = act.lists[in.b];
    while (list.next < list.members.size()) {
        const InterObj& member = list.members[list.next++];
        // A member the body destroyed is passed over.
        if (member.isNull()) continue;
        CheckType(act, in.y, member.get());
        ValuePtr& variable = act.values[in.a];
        // The variable's value is written in place when nothing else holds
        // it: no value is made per turn, and the reference moves from one
        // object to the next without a copy between.
        if (variable && variable->refCount() == 1)
            *static_cast<InterObj*>(variable->getVoidPtr()) = member;
        else
            variable = ValuePtr(new ObjectValue(member));
        return true;
    }
    return false;
}

// The object an As New local holds is destroyed, its register emptied.
// A failing Destruct is the application's to hear (destroy hands it
// over), as at the end of the block on the tree walker.
void DestroyEmbedded(ValuePtr& v) {
    InterObjRep* o = RegHeldObject(v);
    v = ValuePtr();
    if (o && !o->isDestroyStarted()) o->destroy();
}

[[gnu::noinline]] void NewEmbedded(RegActivation& act, const RegInstr& in) {
    ValuePtr& v = act.values[in.a];
    DestroyEmbedded(v);
    EmbedObjField& f = *act.form->embeds[static_cast<size_t>(in.b)].second;
    SignatureRep* s = f.typeSignature();
    if (!s) throw NotFound(32741, f.typeName() ? f.typeName() : "");
    v = ValuePtr(new ObjectValue(InterObj(InterObjRep::NewOf(Signature(s), DETACHED_MODULE, IOT_DYNAMIC))));
}

// The array a held parameter names, as LBound and UBound find it.
const ArrayField& HeldArray(const RegActivation& act, int32_t reg) {
    auto* ref = dynamic_cast<ArrayReferenceFieldValue*>(act.values[reg].get());
    if (!ref) throw TypeMismatch("InterBound::eval()", 32765);
    return *ref->arrayField();
}

[[gnu::noinline]] void HeldElement(RegActivation& act, const RegInstr& in) {
    ValueList list;
    // Indices are listed last first, as a call lists its arguments: each
    // goes before the ones already listed.
    for (int32_t k = 0; k < in.y; ++k) list.ppush(act.values[in.c + k]);
    ValuePtr e = act.values[in.b]->virtualMemberEval(&list);
    if (!e) throw StoreException(32690u);
    if (in.x == REGF_STRING) {
        ValString text;
        e->get(text);
        std::string& d = act.strings[in.a];
        d.clear();
        if (const ValStringRep* rep = text.get()) d.append(rep->text());
    } else if (!RegUnbox(*e, act.numbers[in.a])) {
        throw TypeMismatch("memberEval", 32765);
    }
}

[[gnu::noinline]] void HeldBound(RegActivation& act, const RegInstr& in) {
    const ArrayField& field = HeldArray(act, in.b);
    const int32_t dim = in.c < 0 ? 1 : RegBox(act.numbers[in.c])->as<int32_t>();
    if (dim < 1 || dim > field.dimensions()) throw RangeError(32729, 1, field.dimensions(), dim);
    RegNumber& d = act.numbers[in.a];
    d.l = in.x == 0 ? field.getLBound(dim - 1) : field.getUBound(dim - 1);
    d.type = IDT_LONG;
}

}  // namespace

void RegDropEmbeds(const RegisterForm& form, ValuePtr* values) noexcept {
    for (const auto& [reg, field] : form.embeds) {
        try {
            DestroyEmbedded(values[reg]);
        } catch (...) {
            // The activation ends anyway; the object is marked destroyed.
        }
    }
}

uint32_t RegRunObject(RegActivation& act, const RegInstr& in, uint32_t pc) {
    // The range's opcodes are constants beyond the core's enumerators.
    switch (static_cast<int>(in.op)) {
        case ROP_EACH_NEXT:
            if (!NextMember(act, in)) return pc + 1;
            StoreApplication::CheckForBreak();
            return static_cast<uint32_t>(in.c);
        case ROP_RESET_V:
            for (int32_t i = 0; i < in.b; ++i) act.values[in.a + i] = ValuePtr();
            return pc + 1;
        case ROP_OBJ_MOVE:
            CheckType(act, in.y, RegHeldObject(act.values[in.b]));
            if (in.a != in.b) act.values[in.a] = act.values[in.b];
            return pc + 1;
        case ROP_OBJ_GET:
            ReadObject(act, in);
            return pc + 1;
        case ROP_OBJ_COMPARE: {
            const bool same = RegHeldObject(act.values[in.b]) == RegHeldObject(act.values[in.c]);
            RegNumber& d = act.numbers[in.a];
            d.l = same == (in.x == BINOP_EQ) ? -1 : 0;
            d.type = IDT_LONG;
            return pc + 1;
        }
        case ROP_EACH_BEGIN: {
            RegMembers& list = act.lists[in.a];
            list.members.clear();
            list.next = 0;
            ForNext::TakeMembers(static_cast<ForNextLoopType>(in.x), RegHeldObject(act.values[in.b]), list.members);
            return pc + 1;
        }
        case ROP_EACH_END:
            act.lists[in.a].members.clear();
            return pc + 1;
        case ROP_HELD_ELEMENT:
            HeldElement(act, in);
            return pc + 1;
        case ROP_HELD_BOUND:
            HeldBound(act, in);
            return pc + 1;
        case ROP_EMBED_NEW:
            NewEmbedded(act, in);
            return pc + 1;
        case ROP_EMBED_DROP:
            for (int32_t i = 0; i < in.b; ++i) DestroyEmbedded(act.values[in.a + i]);
            return pc + 1;
        default: utilsAssert("register form: unknown object instruction", __FILE__, __LINE__);
    }
}

}  // namespace tq
