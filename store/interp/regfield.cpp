// Fields in the register form: number fields of Me and of static objects
// named where the procedure is written ("Count = Count + 1",
// "Counter.Total"), and a function's assignment to its own name.
//
// A field site is read and written where its datum lies while the keys a
// cached number field trusts hold (DatumFieldValue): the field look-up
// revision it was found in, and an object of the signature it was found on
// with a data block large enough. A write stores the datum and marks the
// object changed, nothing more, as the cached field's write does; a site
// that marked its object before marks it again only once a module has been
// written since (VoidDescriptionTable::WritesBegun). Anything
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
#include "store/persist/desctab.h"
#include "store/persist/objstore.h"

namespace tq {

namespace {

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
    site.placeMarkedAt = RegFieldSite::kUnmarked;
    return const_cast<uint8_t*>(data) + site.offset;
}

// Whether the site's place holds for obj: the place last found, while no
// field list has changed and obj is the object it was found on, alive,
// with the same data block.
inline bool PlaceHolds(const RegFieldSite& site, InterObjRep& obj) {
    return site.placeRevision == FieldLookupRevision::current() && &obj == site.placeObject &&
           obj.selfIdIfMade() == site.placeId && obj.data() == site.placeData && obj.dataSize() == site.placeSize &&
           !obj.isDestroyed();
}
// The datum's bytes in obj: where the place holds, else found again.
inline uint8_t* PlaceOf(const RegFieldSite& site, InterObjRep& obj) {
    if (PlaceHolds(site, obj)) [[likely]]
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

bool RegTranslateFieldWrite(RegCompiler& rc, const ExprNode* target, uint32_t valueStart, const RegOperand& value) {
    if (value.file != REGF_NUMBER) return false;
    // A function's own name is its return value.
    if (IsPlainSid(target) && rc.proc().isFunction() &&
        static_cast<int32_t>(static_cast<const Sid*>(target)->idIndex()) == rc.proc().ownNameIndex()) {
        const RegOperand& result = rc.form().result;
        if (result.index < 0 || result.file != REGF_NUMBER) return false;
        if (rc.intoVariable(valueStart, value, result.index, result.type)) return true;
        rc.emit(RegInstr{ROP_STORE_N, 0, static_cast<uint16_t>(result.type), result.index, value.index, 0});
        return true;
    }
    const int32_t site = RegFieldSiteFor(rc, target);
    if (site < 0) return false;
    rc.emit(RegInstr{ROP_FIELD_SET_N, 0, 0, value.index, site, 0});
    return true;
}

// ---- running -------------------------------------------------------------------------

namespace {

// The read the tree walker makes: the member of that name, its value
// converted to the type the code was made for.
[[gnu::noinline]] void GeneralRead(const RegActivation& act, const RegFieldSite& site, InterObjRep& obj, RegNumber& out) {
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

// The assignment the tree walker makes to the member of that name.
[[gnu::noinline]] void GeneralWrite(const RegActivation& act, const RegFieldSite& site, InterObjRep& obj, const RegNumber& in) {
    int handled = 0;
    ValuePtr place = obj.eval(site.name.c_str(), IDT_UNTYPED, nullptr, nullptr,
                              RegLookupFlags(act, site.how, obj) | EVAL_VALUE_REQUIRED | EVAL_ASSIGN_TARGET, &handled,
                              nullptr);
    if (!handled) FieldNotFound(site);
    if (!place) throw StoreException(32690u);
    *place = *RegBox(in);
}

// Whether the site marked its place's object changed and no table has been
// written since: the mark stands.
inline bool MarkStands(const RegFieldSite& site) {
    return site.placeMarkedAt == VoidDescriptionTable::WritesBegun();
}

// Marks obj changed for a write at site, unless the mark stands.
inline void MarkChanged(const RegFieldSite& site, InterObjRep& obj) {
    if (MarkStands(site)) return;
    obj.changed();
    site.placeMarkedAt = VoidDescriptionTable::WritesBegun();
}

// Every access but a read or a same-typed write of Me's field where it
// lies: named objects, conversions, a place to find again, the general
// road.
inline void AnyAccess(RegActivation& act, const RegInstr& in, const RegFieldSite& site) {
    InterObjRep& obj = site.target.resolve(act);
    RegNumber& r = act.numbers[in.a];
    uint8_t* at = PlaceOf(site, obj);
    if (in.op == ROP_FIELD_GET_N) {
        if (!at) return GeneralRead(act, site, obj, r);
        r.type = site.type;
        switch (site.type) {
            case IDT_SHORT: r.l = LoadDatum<int16_t>(at); return;
            case IDT_LONG: r.l = LoadDatum<int32_t>(at); return;
            case IDT_FLOAT: r.f = LoadDatum<float>(at); return;
            default: r.d = LoadDatum<double>(at); return;
        }
    }
    if (!at) return GeneralWrite(act, site, obj, r);
    // The conversion (and its failure) comes before any byte is written.
    RegNumber n = r;
    if (r.type != site.type) RegStoreNumber(n, site.type, r);
    switch (site.type) {
        case IDT_SHORT: StoreDatum<int16_t>(at, static_cast<int16_t>(n.l)); break;
        case IDT_LONG: StoreDatum<int32_t>(at, n.l); break;
        case IDT_FLOAT: StoreDatum<float>(at, n.f); break;
        default: StoreDatum<double>(at, n.d); break;
    }
    MarkChanged(site, obj);
}

// AnyAccess, then the instruction that follows; out of line, so that the
// common accesses keep a short frame.
[[gnu::noinline]] uint32_t Access(RegActivation& act, const RegInstr& in, const RegFieldSite& site, uint32_t pc) {
    AnyAccess(act, in, site);
    return pc + 1;
}

}  // namespace

// The common accesses (a field of Me where it was last found, a Long or a
// Double, read or written with a value of its own type, the object already
// marked) in a few loads; everything else out of line.
uint32_t RegRunField(RegActivation& act, const RegInstr& in, uint32_t pc) {
    const RegFieldSite& site = act.form->sites->fields[static_cast<size_t>(in.b)];
    if (site.target.onMe) [[likely]] {
        InterObjRep& obj = *act.me;
        RegNumber& r = act.numbers[in.a];
        if (PlaceHolds(site, obj) && (site.type == IDT_LONG || site.type == IDT_DOUBLE)) [[likely]] {
            uint8_t* at = const_cast<uint8_t*>(site.placeData) + site.offset;
            if (in.op == ROP_FIELD_GET_N) {
                r.type = site.type;
                if (site.type == IDT_LONG)
                    r.l = LoadDatum<int32_t>(at);
                else
                    r.d = LoadDatum<double>(at);
                return pc + 1;
            }
            if (r.type == site.type && MarkStands(site)) {
                if (site.type == IDT_LONG)
                    StoreDatum<int32_t>(at, r.l);
                else
                    StoreDatum<double>(at, r.d);
                return pc + 1;
            }
        }
    }
    return Access(act, in, site, pc);
}

}  // namespace tq
