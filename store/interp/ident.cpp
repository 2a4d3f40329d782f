// Identifiers: Sid, Cid and Mid, their builders and their resolution.
#include "store/interp/ident.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/util/uassert.h"
#include "store/context.h"
#include "store/errors/extexcep.h"
#include "store/interp/binop.h"
#include "store/interp/enumname.h"
#include "store/interp/nodekinds.h"
#include "store/methfld.h"
#include "store/model/objval.h"

namespace tq {

namespace {

[[noreturn]] void NotFoundError(const Context& ctx, uint16_t index) {
    if (const char* name = ctx.identifierName(index)) throw NotFound(32740, name);
    // Code run with tables that are not its own: no name can be told.
    char text[16];
    std::snprintf(text, sizeof text, "#%u", unsigned(index));
    throw NotFound(32740, text);
}

// ".name" inside With: a member of the With object, looked up from outside
// when Me cannot be treated as that object.
ValuePtr EvalDotted(Context& ctx, uint16_t index, IdType type, const ValueList* args, int32_t how, int& found) {
    InterObjRep* with = ctx.withObj();
    if (!with) throw StoreException(32709u);
    const char* name = ctx.identifierName(index);
    if (!name) NotFoundError(ctx, index);
    if (ctx.flags() & Context::kWithNotMe) how |= EVAL_FROM_OUTSIDE;
    int handled = 0;
    ValuePtr v = with->eval(name, type, args, nullptr, how, &handled, nullptr);
    found = handled;
    return v;
}


// A piece that names a member of the object before it: neither Me, nor
// ".name", nor True or False.
bool IsPlainName(const ExprNode* piece) {
    if (piece->flags() & (ExprNode::kMe | ExprNode::kDotted)) return false;
    if (piece->type() == EXPR_CID) return true;
    return piece->type() == EXPR_SID && !static_cast<const Sid*>(piece)->isTruthConstant();
}

// The call-site cache of member chains: which method (interpreted, or
// compiled in a built-in class) the last piece of a chain found on an
// object's signature, so that calling
// obj.Method again neither searches the signature by name nor binds a
// member to the object. Nodes are plain bytes and cannot hold it, so the
// entries live in a small table indexed by the node's address. An entry
// only answers while nothing that a look-up by name could see has changed
// (FieldLookupRevision) and for the name it was made for: the node's
// memory may since hold another procedure's code. The method is not
// counted: while the revision holds it is still listed in its signature.
struct CallSite {
    const ExprNode* node = nullptr;
    const SignatureRep* signature = nullptr;
    uint64_t revision = 0;
    MethodField* method = nullptr;
    bool fromOutside = false;
};

constexpr size_t kCallSites = 256;
CallSite callSites[kCallSites];

CallSite& CallSiteOf(const ExprNode* node) {
    return callSites[(reinterpret_cast<uintptr_t>(node) / alignof(uint64_t)) % kCallSites];
}

// The method (interpreted or compiled) that identifier index, written at
// node, names on obj when looked up as how tells; null when it names
// anything else (or nothing), when the object is being destroyed, or when
// the look-up would refuse it: the general road then finds and reports
// what it finds.
MethodField* CallSiteMethod(const Context& ctx, InterObjRep& obj, const ExprNode* node, uint16_t index,
                            int32_t how) {
    SignatureRep* sig = obj.signature();
    const char* name = ctx.identifierName(index);
    if (!sig || !name || obj.isDestroyed()) return nullptr;
    const bool fromOutside = (how & EVAL_FROM_OUTSIDE) != 0;
    const uint64_t revision = FieldLookupRevision::current();
    CallSite& site = CallSiteOf(node);
    if (site.node == node && site.signature == sig && site.revision == revision &&
        site.fromOutside == fromOutside && std::strncmp(site.method->name(), name, kMaxIdLength) == 0)
        return site.method;
    SignatureRep* owner = nullptr;
    Field* f = sig->findField(name, owner, 0);
    if (!f || !(f->isInterMethod() || f->isCompiledMethod())) return nullptr;
    // A protected method of the object's own signature is refused to a
    // caller from outside; the general road raises that.
    if (fromOutside && owner == sig && f->isProtected()) return nullptr;
    site = CallSite{node, sig, revision, static_cast<MethodField*>(f), fromOutside};
    return site.method;
}

}  // namespace

InterObjRep* ObjectOf(const ValuePtr& v) {
    if (!v || (v->type() & IDT_TYPEMASK) != IDT_OBJECT) throw NotObjectReference("CompoundIdRep::eval()", 32759);
    // An Object value that holds its reference itself (what naming an object
    // gives) is read where it lies, without a counted copy.
    if (v->isDirect()) {
        const InterObj& held = static_cast<const ObjectValue*>(v.get())->datum();
        if (held.isNull()) throw Is_Null("CompoundIdRep::eval()", 32744);
        return held.get();
    }
    InterObj o = v->as<InterObj>();
    // A chain through Nothing has no object to look the next name up in.
    if (o.isNull()) throw Is_Null("CompoundIdRep::eval()", 32744);
    return o.get();
}

// ---- Sid evaluation -----------------------------------------------------------------

// Me, True and False, and ".name": the kinds of simple identifier that are
// not looked up where the code runs.
[[gnu::noinline]] ValuePtr SidSpecial(const Sid& sid, Context& ctx, int32_t how) {
    if (sid.isMe()) return ctx.getMe();
    const uint16_t index = sid.idIndex();
    if (index >= kIdFalse) return ValuePtr(new LongValue(index == kIdTrue ? -1 : 0));
    int found = 0;
    ValuePtr v = EvalDotted(ctx, index, sid.getIdType(), nullptr, how, found);
    if (!found) NotFoundError(ctx, index);
    return v;
}

ValuePtr Sid::eval(Context& ctx, int32_t how) const {
    const uint16_t index = idIndex();
    if ((flags() & (kMe | kDotted)) || index >= kIdFalse) [[unlikely]]
        return SidSpecial(*this, ctx, how);
    int found = 0;
    ValuePtr v = ctx.eval(index, type_, nullptr, how, found);
    if (!found) [[unlikely]] NotFoundError(ctx, index);
    return v;
}

// ---- the expression dispatcher ---------------------------------------------------
//
// It lives beside the identifiers, so that the commonest kind of all, a
// simple identifier, is resolved without a further call.

ValuePtr ExprNode::eval(Context& lookup, Context& args, int32_t how) const {
    switch (type()) {
        case EXPR_SID: return static_cast<const Sid*>(this)->eval(lookup, how);
        case EXPR_CID: return static_cast<const Cid*>(this)->eval(lookup, args, how);
        case EXPR_MID: return static_cast<const Mid*>(this)->eval(lookup, args, how);
        case EXPR_LONG_CONSTANT: return static_cast<const LongConstant*>(this)->eval();
        case EXPR_DOUBLE_CONSTANT: return static_cast<const DoubleConstant*>(this)->eval();
        case EXPR_STRING_CONSTANT: return static_cast<const StringConstant*>(this)->eval();
        case EXPR_BINARY_OP: return static_cast<const BinaryOp*>(this)->eval(lookup, args);
        case EXPR_UNARY_OP: return static_cast<const UnaryOp*>(this)->eval(lookup, args);
        case EXPR_NULL_OBJ_CONSTANT: return static_cast<const NullObjConstant*>(this)->eval();
        default: {
            const ExpressionKind* k = FindExpressionKind(type());
            // Blocks are checked when they are made or read: a kind that
            // cannot be evaluated never gets here.
            TQ_ASSERT(k && k->eval, "NULL");
            return k->eval(*this, lookup, args, how);
        }
    }
}

// ---- Sid -----------------------------------------------------------------------------------

Sid::Sid(uint16_t idIndex, IdType type) : ExprNode(EXPR_SID, kSize), type_(type) { StoreLE16(index_, idIndex); }

std::unique_ptr<Sid> Sid::makeMe() {
    auto sid = make(kIdUnset);
    sid->addFlags(kMe);
    return sid;
}

// ---- Cid -----------------------------------------------------------------------------------

std::unique_ptr<Cid> Cid::make(ExprPtr firstArg) {
    const uint32_t n = firstArg ? firstArg->size() : 0;
    auto* c = ::new (Allocate(kArgsOffset + n)) Cid();
    c->setSize(kArgsOffset + n);
    c->type_ = IDT_UNTYPED;
    StoreLE16(c->index_, kIdUnset);
    StoreLE16(c->count_, firstArg ? 1 : 0);
    if (firstArg) c->embed(kArgsOffset, std::move(firstArg));
    return std::unique_ptr<Cid>(c);
}

std::unique_ptr<Cid> Cid::append(std::unique_ptr<Cid> existing, ExprPtr nextArg) {
    TQ_ASSERT(existing && nextArg, "existing && nextArg");
    TQ_ASSERT(existing->argCount() < 0xFFFF, "argCount < 65535");
    const uint32_t old = existing->size();
    auto* c = ::new (Allocate(old + nextArg->size())) Cid();
    std::memcpy(c->bytes(), existing->bytes(), old);
    c->setSize(old + nextArg->size());
    StoreLE16(c->count_, static_cast<uint16_t>(existing->argCount() + 1));
    c->embed(old, std::move(nextArg));
    return std::unique_ptr<Cid>(c);
}

std::unique_ptr<Cid> Cid::append(ExprPtr existing, ExprPtr nextArg) {
    TQ_ASSERT(existing && existing->type() == EXPR_CID, "existing->type() == EXPR_CID");
    return append(std::unique_ptr<Cid>(static_cast<Cid*>(existing.release())), std::move(nextArg));
}

void Cid::setMeFirst() {
    addFlags(kMe);
    StoreLE16(index_, kIdUnset);
}

void Cid::defineBaseId(std::unique_ptr<Sid> sid) {
    TQ_ASSERT(sid != nullptr, "sid");
    TQ_ASSERT(idIndex() == kIdUnset && !isMe(), "idx == -1");
    if (sid->isMe()) {
        setMeFirst();
    } else {
        StoreLE16(index_, sid->idIndex());
        type_ = sid->getIdType();
    }
    if (sid->isDotted()) addFlags(kDotted);
}

ValueList Cid::getValueList(Context& ctx, int byValue) const {
    // Calls take their arguments as a stack: the last one is first in the
    // list, as procedures and arrays read them.
    ValueList list;
    const ExprNode* arg = firstArg();
    for (uint16_t i = 0; i < argCount(); ++i) {
        ValuePtr v = arg->eval(ctx, EVAL_VALUE_REQUIRED);
        if (byValue) v = DirectValueClassFactory(v->type(), v.get());
        list.ppush(std::move(v));
        arg = reinterpret_cast<const ExprNode*>(arg->bytes() + arg->size());
    }
    return list;
}

ValuePtr Cid::eval(Context& lookup, Context& args, int32_t how) const {
    ValueList list = getValueList(args, 0);
    // The arguments apply to Me itself: its default evaluation.
    if (isMe()) return lookup.getMe()->memberEval(type_, &list, how);
    const uint16_t index = idIndex();
    int found = 0;
    ValuePtr v = isDotted() ? EvalDotted(lookup, index, type_, &list, how, found)
                            : lookup.eval(index, type_, &list, how, found);
    if (!found) NotFoundError(lookup, index);
    return v;
}

// ---- Mid -----------------------------------------------------------------------------------

namespace {

bool IsPiece(const ExprNode* n) { return n && (n->type() == EXPR_SID || n->type() == EXPR_CID); }

}  // namespace

std::unique_ptr<Mid> Mid::make(ExprPtr existing, ExprPtr nextPiece) {
    TQ_ASSERT(IsPiece(nextPiece.get()), "nextPiece->type() == EXPR_CID || nextPiece->type() == EXPR_SID");
    TQ_ASSERT(existing && (IsPiece(existing.get()) || existing->type() == EXPR_MID),
              "existing->type() == EXPR_MID || existing is a Sid or Cid");
    const bool extend = existing->type() == EXPR_MID;
    const uint32_t before = extend ? existing->size() - kPiecesOffset : existing->size();
    const uint16_t count = extend ? static_cast<Mid*>(existing.get())->pieceCount() : 1;
    TQ_ASSERT(count < 0xFFFF, "pieceCount < 65535");
    const uint32_t size = kPiecesOffset + before + nextPiece->size();
    auto* m = ::new (Allocate(size)) Mid();
    m->setSize(size);
    StoreLE16(m->count_, static_cast<uint16_t>(count + 1));
    std::memcpy(m->bytes() + kPiecesOffset, extend ? existing->bytes() + kPiecesOffset : existing->bytes(), before);
    m->embed(kPiecesOffset + before, std::move(nextPiece));
    return std::unique_ptr<Mid>(m);
}

const ExprNode* Mid::lastPiece() const {
    const uint16_t n = pieceCount();
    if (n == 0) return nullptr;
    const ExprNode* p = firstPiece();
    for (uint16_t i = 1; i < n; ++i) p = reinterpret_cast<const ExprNode*>(p->bytes() + p->size());
    return p;
}

std::unique_ptr<Mid> Mid::endWith(std::unique_ptr<Mid> chain, std::unique_ptr<Cid> c) {
    const ExprNode* last = chain->lastPiece();
    TQ_ASSERT(last && last->type() == EXPR_SID, "last piece is a Sid");
    const auto* sid = static_cast<const Sid*>(last);
    auto base = Sid::make(sid->idIndex(), sid->getIdType());
    base->addFlags(sid->flags());
    c->defineBaseId(std::move(base));
    // The chain without its last piece, then c.
    const uint32_t keep = static_cast<uint32_t>(last->bytes() - chain->bytes());
    const uint32_t size = keep + c->size();
    auto* m = ::new (Allocate(size)) Mid();
    std::memcpy(m->bytes(), chain->bytes(), keep);
    m->setSize(size);
    m->embed(keep, ExprPtr(c.release()));
    return std::unique_ptr<Mid>(m);
}

InterObj Mid::getBaseObj(Context& lookup, Context& args, const ExprNode*& last, ValuePtr* entry) const {
    const uint16_t n = pieceCount();
    if (n == 0) throw Is_Null("CompoundIdRep::eval()", 32743);
    const ExprNode* piece = firstPiece();
    if (n == 1) {
        last = piece;
        return InterObj(lookup.me());
    }
    // The chain's head is a name where the chain stands; every later piece
    // is a member of the object before it, and only of that object.
    ValuePtr v;
    if (entry && n == 2 && piece->type() == EXPR_SID && IsPlainName(piece)) {
        // As Sid::eval, but a head that names nothing may be an
        // enumeration's name.
        const auto* head = static_cast<const Sid*>(piece);
        int found = 0;
        v = lookup.eval(head->idIndex(), head->getIdType(), nullptr, EVAL_VALUE_REQUIRED, found);
        if (!found) {
            last = reinterpret_cast<const ExprNode*>(piece->bytes() + piece->size());
            if (last->type() == EXPR_SID && IsPlainName(last))
                *entry = EnumEntryOf(lookup.identifierName(head->idIndex()),
                                     lookup.identifierName(static_cast<const Sid*>(last)->idIndex()));
            if (!*entry) NotFoundError(lookup, head->idIndex());
            return InterObj();
        }
    } else {
        v = piece->eval(lookup, args, EVAL_VALUE_REQUIRED);
    }
    if (n > 2) {
        Context member(lookup, 0);
        for (uint16_t i = 1; i + 1 < n; ++i) {
            member.reinit(ObjectOf(v), nullptr, args);
            piece = reinterpret_cast<const ExprNode*>(piece->bytes() + piece->size());
            v = piece->eval(member, args, EVAL_VALUE_REQUIRED | EVAL_DOTTED);
        }
    }
    last = reinterpret_cast<const ExprNode*>(piece->bytes() + piece->size());
    return InterObj(ObjectOf(v));
}

ValuePtr Mid::eval(Context& lookup, Context& args, int32_t how) const {
    const uint16_t n = pieceCount();
    if (n == 0) throw Is_Null("CompoundIdRep::eval()", 32743);
    if (n == 1) return firstPiece()->eval(lookup, args, how);
    const ExprNode* last = nullptr;
    ValuePtr entry;
    InterObj base = getBaseObj(lookup, args, last, &entry);
    if (entry) return entry->memberEval(static_cast<const Sid*>(last)->getIdType(), nullptr, how);
    how |= EVAL_DOTTED;
    if (base.get() != args.me()) how |= EVAL_FROM_OUTSIDE;
    if (IsPlainName(last)) return evalMember(lookup, args, *base.get(), last, how);
    Context member(lookup, 0);
    member.reinit(base.get(), nullptr, args);
    return last->eval(member, args, how);
}

ValuePtr Mid::evalMember(Context& lookup, Context& args, InterObjRep& obj, const ExprNode* last, int32_t how) {
    // As the piece would evaluate itself in a context on obj: the arguments
    // first, then the name, looked up on obj alone.
    const bool isCid = last->type() == EXPR_CID;
    const uint16_t index = isCid ? static_cast<const Cid*>(last)->idIndex() : static_cast<const Sid*>(last)->idIndex();
    const IdType type = isCid ? static_cast<const Cid*>(last)->getIdType() : static_cast<const Sid*>(last)->getIdType();
    ValueList list;
    if (isCid) list = static_cast<const Cid*>(last)->getValueList(args, 0);
    const ValueList* given = isCid ? &list : nullptr;
    if (MethodField* method = CallSiteMethod(lookup, obj, last, index, how)) {
        FieldPtr hold(method);
        Member::CheckDemand(method->isFunction() ? Member::MEMBER_FUNCTION : Member::MEMBER_PROCEDURE, method->type(),
                            type, how);
        ValuePtr result = method->eval(obj, given);
        Member::CheckResult(result, how);
        return result;
    }
    Context member(lookup, 0);
    member.reinit(&obj, nullptr, args);
    int found = 0;
    ValuePtr v = member.eval(index, type, given, how, found);
    if (!found) NotFoundError(member, index);
    return v;
}

}  // namespace tq
