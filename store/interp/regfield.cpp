// Fields in the register form: number fields of Me and of static objects
// named where the procedure is written ("Count = Count + 1",
// "Counter.Total"), and a function's assignment to its own name.
//
// A field site is read and written where its datum lies while the keys a
// cached number field trusts hold (DatumFieldValue): the field look-up
// revision it was found in, and an object of the signature it was found on
// with a data block large enough. A write stores the datum and marks the
// object changed, nothing more, as the cached field's write does. Anything
// else goes through the object's member of that name, as the tree walker
// reads and assigns it.
#include <cstring>

#include "store/errors/extexcep.h"
#include "store/interp/argval.h"
#include "store/interp/ident.h"
#include "store/interp/regcall.h"
#include "store/interp/regcompile.h"
#include "store/methfld.h"
#include "store/model/interobj.h"
#include "store/model/intfld.h"
#include "store/model/sigrep.h"
#include "store/persist/objstore.h"

namespace tq {

namespace {

bool IsRegisterNumberType(IdType t) { return t == IDT_SHORT || t == IDT_LONG || t == IDT_FLOAT || t == IDT_DOUBLE; }

// A plain name: neither Me, nor ".name", nor True or False.
bool IsPlainSid(const ExprNode* e) {
    if (!e || e->type() != EXPR_SID || (e->flags() & (ExprNode::kMe | ExprNode::kDotted))) return false;
    return !static_cast<const Sid*>(e)->isTruthConstant();
}

// Finds the site's place in obj, and keeps it for the next access; null
// when the general road must decide.
[[gnu::noinline]] uint8_t* FindPlace(const RegFieldSite& site, InterObjRep& obj) {
    site.placeRevision = 0;
    const uint64_t revision = FieldLookupRevision::current();
    if (site.revision != revision || obj.signature() != site.signature || obj.isDestroyed()) return nullptr;
    const uint8_t* data = obj.data();
    if (!data || site.offset + DatumSize(site.type) > obj.dataSize()) return nullptr;
    site.placeObject = &obj;
    site.placeId = obj.selfId();
    site.placeData = data;
    site.placeSize = obj.dataSize();
    site.placeRevision = revision;
    return const_cast<uint8_t*>(data) + site.offset;
}

// The datum's bytes in obj when the site's place holds for it: the place
// last found, while no field list has changed and obj is the object it was
// found on, alive, with the same data block.
inline uint8_t* PlaceOf(const RegFieldSite& site, InterObjRep& obj) {
    if (site.placeRevision == FieldLookupRevision::current() && &obj == site.placeObject &&
        obj.selfId() == site.placeId && obj.data() == site.placeData && obj.dataSize() == site.placeSize &&
        !obj.isDestroyed()) [[likely]]
        return const_cast<uint8_t*>(site.placeData) + site.offset;
    return FindPlace(site, obj);
}

[[noreturn]] void FieldNotFound(const RegFieldSite& site) { throw NotFound(32740, site.name.c_str()); }

}  // namespace

InterObjRep& RegObjectRef::named() const {
    if (HandleTable::Global().getAs<InterObjRep>(id) == object && !object->isDestroyed()) return *object;
    InterObj now;
    if (!ObjectStore::findStatic(name.c_str(), now) || now.isNull()) throw NotFound(32740, name.c_str());
    // A static object is held by its name: it outlives this statement.
    return *now.get();
}

// ---- translation ---------------------------------------------------------------------

bool RegFindTarget(RegCompiler& rc, const ExprNode* head, RegObjectRef& target, int32_t& how) {
    // "Me.x" is Me's own member.
    if (head->type() == EXPR_SID && (head->flags() & ExprNode::kMe) && !(head->flags() & ExprNode::kDotted)) {
        target = RegObjectRef{};
        how = EVAL_DOTTED;
        return true;
    }
    if (!IsPlainSid(head) || static_cast<const Sid*>(head)->getIdType() != IDT_UNTYPED) return false;
    const uint16_t index = static_cast<const Sid*>(head)->idIndex();
    const char* name = rc.identifierName(index);
    // A local, a parameter or a member of Me of that name comes first.
    if (!name || rc.isScoped(index) || !rc.me()) return false;
    SignatureRep* owner = nullptr;
    if (SignatureRep* sig = rc.me()->signature(); !sig || sig->findField(name, owner, 0)) return false;
    InterObj obj;
    if (!ObjectStore::findStatic(name, obj) || obj.isNull() || obj->isDestroyed()) return false;
    // Named, it is that object whatever Me is when the code runs (Me may be
    // it or not): looked up from outside when it is not the running Me.
    target.onMe = false;
    target.name = name;
    target.object = obj.get();
    target.id = obj->selfId();
    how = EVAL_DOTTED;
    return true;
}

int32_t RegFieldSiteFor(RegCompiler& rc, const ExprNode* e) {
    InterObjRep* me = rc.me();
    if (!me || !me->signature()) return -1;
    RegFieldSite site;
    const Sid* last = nullptr;
    InterObjRep* obj = me;
    if (IsPlainSid(e)) {
        last = static_cast<const Sid*>(e);
        if (rc.isScoped(last->idIndex())) return -1;
    } else if (e->type() == EXPR_MID) {
        const auto* mid = static_cast<const Mid*>(e);
        if (mid->pieceCount() != 2) return -1;
        const ExprNode* head = mid->firstPiece();
        const ExprNode* piece = reinterpret_cast<const ExprNode*>(head->bytes() + head->size());
        if (!IsPlainSid(piece) || !RegFindTarget(rc, head, site.target, site.how)) return -1;
        last = static_cast<const Sid*>(piece);
        obj = site.target.onMe ? me : site.target.object;
    } else {
        return -1;
    }
    const char* name = rc.identifierName(last->idIndex());
    SignatureRep* sig = obj->signature();
    if (!name || !sig) return -1;
    SignatureRep* owner = nullptr;
    Field* f = sig->findField(name, owner, 0);
    // Plain number fields only: a property procedure, a Variant, an object,
    // an array or a constant has rules of its own.
    if (!f || !f->isInterDataField() || f->isByReference() || !IsPlainParameter(*f) || !owner) return -1;
    // A protected field of a named object is refused to any Me but its own.
    if (!site.target.onMe && owner == sig && f->isProtected()) return -1;
    const IdType type = static_cast<IdType>(f->type() & IDT_TYPEMASK);
    if (!IsRegisterNumberType(type)) return -1;
    // A type suffix that is not the field's own fails on the tree walker.
    if (last->getIdType() != IDT_UNTYPED && (last->getIdType() & IDT_TYPEMASK) != type) return -1;
    const int32_t offset = static_cast<DataField*>(f)->dataOffset(*owner);
    if (offset < 0 || static_cast<uint64_t>(offset) + DatumSize(type) > obj->dataSize()) return -1;
    site.name = name;
    site.signature = sig;
    site.revision = FieldLookupRevision::current();
    site.offset = static_cast<uint32_t>(offset);
    site.type = type;
    RegSites& sites = RegSitesOf(rc.form());
    sites.fields.push_back(std::move(site));
    return static_cast<int32_t>(sites.fields.size() - 1);
}

bool RegTranslateFieldRead(RegCompiler& rc, const ExprNode* e, RegOperand& out) {
    const int32_t site = RegFieldSiteFor(rc, e);
    if (site < 0) return false;
    const IdType type = RegSitesOf(rc.form()).fields[static_cast<size_t>(site)].type;
    out = RegOperand{REGF_NUMBER, rc.newNumber(type), type};
    rc.emit(RegInstr{ROP_FIELD_GET_N, 0, 0, out.index, site, 0});
    return true;
}

bool RegTranslateFieldWrite(RegCompiler& rc, const ExprNode* target, const RegOperand& value) {
    if (value.file != REGF_NUMBER) return false;
    // A function's own name is its return value.
    if (IsPlainSid(target) && rc.proc().isFunction() &&
        static_cast<int32_t>(static_cast<const Sid*>(target)->idIndex()) == rc.proc().ownNameIndex()) {
        const RegOperand& result = rc.form().result;
        if (result.index < 0 || result.file != REGF_NUMBER) return false;
        rc.emit(RegInstr{ROP_STORE_N, 0, static_cast<uint16_t>(result.type), result.index, value.index, 0});
        return true;
    }
    const int32_t site = RegFieldSiteFor(rc, target);
    if (site < 0) return false;
    rc.emit(RegInstr{ROP_FIELD_SET_N, 0, 0, value.index, site, 0});
    return true;
}

// ---- running -------------------------------------------------------------------------

void RegReadField(const RegActivation& act, const RegFieldSite& site, RegNumber& out) {
    InterObjRep& obj = site.target.resolve(act);
    if (const uint8_t* at = PlaceOf(site, obj)) [[likely]] {
        out.type = site.type;
        switch (site.type) {
            case IDT_SHORT: out.l = LoadDatum<int16_t>(at); return;
            case IDT_LONG: out.l = LoadDatum<int32_t>(at); return;
            case IDT_FLOAT: out.f = LoadDatum<float>(at); return;
            default: out.d = LoadDatum<double>(at); return;
        }
    }
    int handled = 0;
    ValuePtr v = obj.eval(site.name.c_str(), IDT_UNTYPED, nullptr, nullptr, RegLookupFlags(act, site.how, obj) | EVAL_VALUE_REQUIRED,
                          &handled, nullptr);
    if (!handled) FieldNotFound(site);
    // What the name gives now must still fit a number register of the type
    // the code was made for; the value rules convert it.
    if (!v) throw StoreException(32690u);
    RegNumber n{};
    if (!RegUnbox(*v, n)) {
        ValuePtr converted = DirectValueClassFactory(site.type, v.get());
        if (!RegUnbox(*converted, n)) throw TypeMismatch("memberEval", 32765);
    }
    RegStoreNumber(out, site.type, n);
}

void RegWriteField(const RegActivation& act, const RegFieldSite& site, const RegNumber& in) {
    InterObjRep& obj = site.target.resolve(act);
    if (uint8_t* at = PlaceOf(site, obj)) [[likely]] {
        // The conversion (and its failure) comes before any byte is written.
        RegNumber n = in;
        if (in.type != site.type) RegStoreNumber(n, site.type, in);
        switch (site.type) {
            case IDT_SHORT: StoreDatum<int16_t>(at, static_cast<int16_t>(n.l)); break;
            case IDT_LONG: StoreDatum<int32_t>(at, n.l); break;
            case IDT_FLOAT: StoreDatum<float>(at, n.f); break;
            default: StoreDatum<double>(at, n.d); break;
        }
        obj.changed();
        return;
    }
    int handled = 0;
    ValuePtr place = obj.eval(site.name.c_str(), IDT_UNTYPED, nullptr, nullptr,
                              RegLookupFlags(act, site.how, obj) | EVAL_VALUE_REQUIRED | EVAL_ASSIGN_TARGET, &handled,
                              nullptr);
    if (!handled) FieldNotFound(site);
    if (!place) throw StoreException(32690u);
    *place = *RegBox(in);
}

uint32_t RegRunField(RegActivation& act, const RegInstr& in, uint32_t pc) {
    const RegFieldSite& site = RegSitesOf(*act.form).fields[static_cast<size_t>(in.b)];
    if (in.op == ROP_FIELD_GET_N)
        RegReadField(act, site, act.numbers[in.a]);
    else
        RegWriteField(act, site, act.numbers[in.a]);
    return pc + 1;
}

}  // namespace tq
