#include "store/context.h"

#include <algorithm>
#include <cstdio>

#include "platform/util/uassert.h"
#include "store/block.h"
#include "store/errors/extexcep.h"
#include "store/interp/argval.h"
#include "store/interp/enumname.h"
#include "store/interp/execnode.h"
#include "store/interp/ident.h"
#include "store/interp/localval.h"
#include "store/interp/lookcache.h"
#include "store/interp/stackfrm.h"
#include "store/methfld.h"
#include "store/model/objval.h"
#include "store/persist/objstore.h"

namespace tq {

namespace {

// Whatever may make a cached member stale (an object destroyed or renamed,
// an array re-dimensioned) empties the whole pool: the object model calls
// this through its hook.
const bool cacheDumperInstalled = (InterObjRep::SetCacheDumper(&Context::dumpCache), true);

}  // namespace

// ---- the scope stack ----------------------------------------------------------------

void Context::ScopeStack::push(InterObjRep* o) {
    if (size_ < kInline)
        inline_[size_] = o;
    else
        more_.push_back(o);
    ++size_;
}

InterObjRep* Context::ScopeStack::pop() {
    if (size_ == 0) return nullptr;
    --size_;
    if (size_ < kInline) return inline_[size_];
    InterObjRep* o = more_.back();
    more_.pop_back();
    return o;
}

void Context::ScopeStack::eraseFromTop(size_t i) {
    // Moves every newer entry down by one.
    for (size_t at = size_ - 1 - i; at + 1 < size_; ++at) {
        InterObjRep* next = at + 1 < kInline ? inline_[at + 1] : more_[at + 1 - kInline];
        (at < kInline ? inline_[at] : more_[at - kInline]) = next;
    }
    pop();
}

// ---- construction ----------------------------------------------------------------------

Context::Context() : flags_(kSearchGlobals) {}

Context::Context(InterObjRep* me, uint8_t flags) : flags_(flags), me_(me) {}

Context::Context(InterObjRep* me, InterProcField* proc, uint8_t flags)
    : flags_(flags), me_(me), procField_(proc) {
    if (!proc) return;
    if (proc->isFunction())
        returnValue_ = DirectValueClassFactory(static_cast<InterFuncField*>(proc)->type(), nullptr);
    const uint32_t names = proc->identifiers().count();
    if (lookupCacheMax >= 0 && names <= static_cast<uint32_t>(lookupCacheMax)) takeCache(names);
    if (!cache_ || reused_) return;
    takeWarm();
}

Context::Context(const Context& other, uint8_t flags)
    : flags_(flags),
      me_(other.me()),
      procField_(other.procField_),
      evalIds_(other.evalIds_),
      evalBlocks_(other.evalBlocks_) {}

Context::~Context() {
    scopes_.clear();
    releaseCache();
}

void Context::takeCache(uint32_t length) {
    // Slots left when anything they depend on has changed since (the epoch,
    // the field look-up revision) serve no later activation: the key is
    // what held as the activation began.
    key_.procedure = procField_;
    key_.length = length;
    InterObjRep* me = me_.get();
    key_.meId = me ? me->selfId() : 0;
    key_.foreignMe = (flags_ & kForeignMe) != 0;
    key_.epoch = cacheEpoch_;
    key_.revision = FieldLookupRevision::current();
    cache_ = LookupCachePool::Take(length, key_, reused_, leftArgsId_);
    cacheLength_ = length;
    updateUsableCache();
    // What an earlier activation of this procedure on Me at this depth
    // resolved is here already: even the first scope pushed must clear the
    // names it shadows.
    if (reused_) cacheFilled_ = warmed_ = true;
}

void Context::releaseCache() {
    if (leaveSlots_ && !reinited_ && cache_) {
        key_.argsId = argsId_;
        LookupCachePool::GiveBack(cache_, cacheLength_, key_);
    } else {
        LookupCachePool::Release(cache_, cacheLength_);
    }
    cache_ = nullptr;
    cacheLength_ = 0;
    updateUsableCache();
}

void Context::reinit(InterObjRep* me, SignatureRep* sig, const Context& caller) {
    scopes_.clear();
    reinited_ = true;
    args_ = nullptr;
    argsId_ = 0;
    argsWarm_ = false;
    // Members cached for the previous Me would answer for the new one.
    for (uint32_t i = 0; i < cacheLength_; ++i) LookupCachePool::Drop(cache_[i]);
    static_cast<Faultp<InterObjRep>&>(me_) = me;
    signature_ = sig;
    if (me != caller.me())
        flags_ |= kForeignMe;
    else
        flags_ &= static_cast<uint8_t>(~kForeignMe);
}

// ---- scopes --------------------------------------------------------------------------------

void Context::pushLocals(InterObjRep* scope) {
    scopes_.push(scope);
    // The slots of the argument object's names hold its own members, left
    // by the last activation bound into it, or nothing.
    if (argsWarm_ && scope == args_) return;
    if (cacheFilled_ && (scopes_.size() > 1 || warmed_)) clearShadowed(scope);
}

void Context::clearShadowed(InterObjRep* scope) {
    SignatureRep* sig = scope ? scope->signature() : nullptr;
    if (!procField_ || !sig) return;
    for (const uint32_t at : procField_->namesShadowedBy(*sig))
        if (at < cacheLength_) LookupCachePool::Drop(cache_[at]);
}

void Context::popLocals() {
    if (!scopes_.empty()) popScope(scopes_.fromTop(0), true);
}

void Context::popStatics() {
    if (!scopes_.empty()) popScope(scopes_.fromTop(0), false);
}

void Context::popScope(InterObjRep* scope, bool destroy) {
    if (!scope) return;
    if (!scopes_.empty() && scopes_.fromTop(0) == scope) {
        scopes_.pop();
    } else {
        for (size_t i = 0; i < scopes_.size(); ++i) {
            if (scopes_.fromTop(i) == scope) {
                scopes_.eraseFromTop(i);
                break;
            }
        }
    }
    // The argument object outlives its frame, to be bound again by the next
    // call: its members may stay (invariant 5). Nothing resolves a name in
    // this activation after its procedure's frame has gone.
    if (scope == args_ && !destroy) return;
    if (cacheFilled_) clearCache(scope);
    if (destroy && !scope->isDestroyStarted()) scope->destroy();
}

// ---- the cache --------------------------------------------------------------------------

void Context::clearCache(const InterObjRep* owner) {
    for (uint32_t i = 0; i < cacheLength_; ++i) {
        MemberPtr& slot = cache_[i];
        if (slot && slot->owner() == owner) LookupCachePool::Drop(slot);
    }
}

void Context::dumpCache() {
    ++cacheEpoch_;
    LookupCachePool::DumpAll();
}

void Context::takeWarm() {
    const InterProcField::WarmCache& w = procField_->warmCache();
    if (w.me != me_.get() || w.epoch != cacheEpoch_ || !w.me || (flags_ & kForeignMe)) return;
    const size_t n = std::min<size_t>(cacheLength_, w.slots.size());
    for (size_t i = 0; i < n; ++i) {
        if (!w.slots[i]) continue;
        cache_[i] = w.slots[i];
        cacheFilled_ = warmed_ = true;
    }
}

void Context::keepWarm() noexcept {
    leaveSlots_ = true;
    // The slots came as the last activation here left them, which kept what
    // it had in the warm cache then.
    if (reused_) return;
    InterObjRep* me = me_.get();
    if (!procField_ || !cacheFilled_ || !me || usableCache_ == 0 || (flags_ & kForeignMe)) return;
    InterProcField::WarmCache& w = procField_->warmCache();
    try {
        if (w.slots.size() != cacheLength_) w.slots.assign(cacheLength_, MemberPtr());
        for (uint32_t i = 0; i < cacheLength_; ++i) {
            const MemberPtr& slot = cache_[i];
            MemberPtr& kept = w.slots[i];
            // Mostly the slot holds what the call started with: the member
            // kept already, which needs no count taken and given back.
            if (slot.get() == kept.get()) continue;
            if (slot && slot->owner() == me && !(slot->memberTraits() & Member::kFrameLocal))
                kept = slot;
            else
                kept.reset();
        }
        w.me = me;
        w.epoch = cacheEpoch_;
        procField_->noteWarm();
    } catch (...) {
        w = InterProcField::WarmCache();
    }
}

void Context::keepArguments(InterObjRep* args) noexcept {
    if (argsWarm_) return;
    if (!procField_ || !args || !cacheFilled_ || usableCache_ == 0) return;
    InterProcField::WarmCache& w = procField_->warmCache();
    InterProcField::ArgumentSlots* kept = w.argumentSlots(args);
    try {
        if (!kept) {
            if (w.args.size() < InterProcField::kArgumentSlotSets) {
                kept = &w.args.emplace_back();
            } else {
                kept = &w.args[w.nextArgs];
                w.nextArgs = (w.nextArgs + 1) % w.args.size();
            }
        }
        if (kept->slots.size() != cacheLength_) kept->slots.assign(cacheLength_, MemberPtr());
        // What the last call kept of Me's (a recursive call's own method)
        // is no member of the arguments: no need to ask it its owner.
        const std::vector<MemberPtr>& mine = w.slots;
        for (uint32_t i = 0; i < cacheLength_; ++i) {
            const MemberPtr& slot = cache_[i];
            MemberPtr& into = kept->slots[i];
            // Most calls leave what they took: nothing to count again.
            if (slot.get() == into.get()) continue;
            if (slot && i < mine.size() && slot.get() == mine[i].get()) {
                into.reset();
                continue;
            }
            if (slot && slot->owner() == args)
                into = slot;
            else
                into.reset();
        }
        kept->args = args;
        kept->epoch = cacheEpoch_;
        kept->revision = FieldLookupRevision::current();
        procField_->noteWarm();
    } catch (...) {
        if (kept) *kept = InterProcField::ArgumentSlots();
    }
}

void Context::enterArguments(InterObjRep* args) {
    if (!args || !cache_ || usableCache_ == 0) return;
    args_ = args;
    argsId_ = args->selfId();
    argsWarm_ = reused_ && leftArgsId_ == argsId_;
    // Members of the argument object the slots were left with go now, not
    // when the frame pushes args: a frame that fails to be pushed (a stack
    // overflow) would otherwise give them back as args's own.
    if (reused_ && !argsWarm_) clearShadowed(args);
    if (argsWarm_) clearRebound(args);
}

void Context::clearRebound(InterObjRep* args) {
    SignatureRep* sig = args->signature();
    if (!procField_ || !sig) return;
    // A parameter's member that reads through the argument object (owned
    // by it) is as good for this binding as for the last; one that holds
    // what the last call passed (an array parameter's array) is not, or
    // the call would work on the last call's argument.
    for (const uint32_t at : procField_->namesShadowedBy(*sig))
        if (at < cacheLength_ && cache_[at] && cache_[at]->owner() != args) LookupCachePool::Drop(cache_[at]);
}

void Context::takeArguments(InterObjRep* args) {
    if (argsWarm_) return;
    if (!procField_ || !args || usableCache_ == 0) return;
    InterProcField::ArgumentSlots* kept = procField_->warmCache().argumentSlots(args);
    if (!kept || kept->epoch != cacheEpoch_ || kept->revision != FieldLookupRevision::current()) return;
    const size_t n = std::min<size_t>(cacheLength_, kept->slots.size());
    for (size_t i = 0; i < n; ++i) {
        // A member kept for an object that has gone since reads null as its
        // owner, even when another object now stands at the same address.
        const MemberPtr& member = kept->slots[i];
        if (!member || member->owner() != args) continue;
        cache_[i] = member;
        cacheFilled_ = true;
    }
}

int32_t Context::GetLookupCacheLength() { return static_cast<int32_t>(LookupCachePool::Used()); }

// ---- resolution ---------------------------------------------------------------------------

const char* Context::identifierName(uint32_t idIndex) const {
    const IdStringVector* ids = evalIds_ ? evalIds_ : procField_ ? &procField_->identifiers() : nullptr;
    if (!ids || idIndex >= ids->count()) return nullptr;
    return static_cast<const char*>((*ids)[idIndex]);
}

ValuePtr Context::evalUncached(uint32_t idIndex, IdType type, const ValueList* args, int32_t how,
                               int& found) const {
    const char* name = identifierName(idIndex);
    if (!name) {
        // Code run with tables that are not its own: no name can be told.
        char text[16];
        std::snprintf(text, sizeof text, "#%u", idIndex);
        throw NotFound(32740, text);
    }
    MemberPtr* slot = idIndex < usableCache_ ? &cache_[idIndex] : nullptr;
    return eval(name, type, args, how, found, slot);
}

ValuePtr Context::eval(const char* name, IdType type, const ValueList* args, int32_t how, int& found,
                       MemberPtr* slot) const {
    found = 0;
    // A resolution that ends in a member fills the slot; noted before the
    // member runs, which may fail after the slot was filled.
    if (slot) cacheFilled_ = true;
    for (size_t i = 0; i < scopes_.size(); ++i) {
        int handled = 0;
        // Scope objects are asked about their own fields: the context's
        // signature is Me's and would read their data at Me's offsets.
        InterObjRep* scope = scopes_.fromTop(i);
        ValuePtr v = scope->eval(name, type, args, nullptr, how, &handled, slot);
        if (handled) {
            found = 1;
            // The caller goes on with the local or parameter as the cache
            // keeps it (a For loop holds its counter for the whole loop),
            // when it is what evaluating the slot again would give: the
            // value itself.
            if (slot && *slot && scope->isWorkerObj() && keepLocal(scope, name, *slot) && !args &&
                !(type & IDT_TYPEMASK) && !(how & EVAL_NO_VALUE))
                return ValuePtr(static_cast<Value*>(slot->get()));
            return v;
        }
    }
    if (InterObjRep* me = me_.get()) {
        int handled = 0;
        const int32_t meHow = (flags_ & kForeignMe) ? (how | EVAL_FROM_OUTSIDE) : how;
        ValuePtr v = me->eval(name, type, args, signature_.get(), meHow, &handled, slot);
        if (handled) {
            found = 1;
            return v;
        }
    }
    if (!(flags_ & kSearchGlobals)) return ValuePtr();
    InterObj obj;
    if (ObjectStore::findStatic(name, obj)) {
        found = 1;
        ValuePtr v(new ObjectValue(obj));
        if (slot) *slot = v;
        return v->memberEval(type, args, how);
    }
    if (globalObjects) {
        ValuePtr v = globalObjects(name, type, args, how, found);
        if (found) return v;
    }
    // An enumeration's entry comes last: any other meaning of the name
    // hides it (enumname.h). The constant is the slot's to keep, as a
    // static object's value is.
    if (ValuePtr entry = EnumEntryNamed(name)) {
        found = 1;
        if (slot) *slot = entry;
        return entry->memberEval(type, args, how);
    }
    return ValuePtr();
}

bool Context::keepLocal(InterObjRep* scope, const char* name, MemberPtr& slot) const {
    SignatureRep* owner = nullptr;
    SignatureRep* sig = scope->signature();
    Field* f = sig ? sig->findField(name, owner, 0) : nullptr;
    if (!f || f != slot->field() || !owner) return false;
    // The frame's locals are read in place as LocalValues, a call's
    // parameters as ArgumentValues; any other worker keeps its general
    // member.
    MemberPtr local = scope->isLocalVarCopy() ? MakeLocalValue(*scope, *f, *owner)
                                              : MakeArgumentValue(*scope, *f, *owner);
    if (!local) return false;
    slot = std::move(local);
    return true;
}

// ---- Me, With, return value -------------------------------------------------------------------

ValuePtr Context::getMe() const {
    InterObjRep* me = me_.get();
    if (!me) throw StoreException(32735u);
    return ValuePtr(new ObjectValue(InterObj(me)));
}

InterObj Context::setWithObj(InterObjRep* obj) {
    InterObj previous(withObj_.get());
    static_cast<Faultp<InterObjRep>&>(withObj_) = obj;
    InterObjRep* me = me_.get();
    if (me && obj && !me->canBeTreatedAs(obj))
        flags_ |= kWithNotMe;
    else
        flags_ &= static_cast<uint8_t>(~kWithNotMe);
    return previous;
}

Value* Context::functionResult(const Sid& sid) const {
    if (!returnValue_ || !procField_ || sid.isMe() || sid.isTruthConstant()) return nullptr;
    if (evalIds_) {
        const char* name = identifierName(sid.idIndex());
        const char* own = procField_->name();
        return name && own && std::strncmp(name, own, kMaxIdLength) == 0 ? returnValue_.get() : nullptr;
    }
    return static_cast<int32_t>(sid.idIndex()) == procField_->ownNameIndex() ? returnValue_.get() : nullptr;
}

ValuePtr Context::takeReturnValue() {
    TQ_ASSERT(procField_ && procField_->isFunction(), "procField && procField->isFunction()");
    ValuePtr v = std::move(returnValue_);
    static_cast<InterFuncField*>(procField_)->convertReturn(v);
    return v;
}

// ---- code and frames ----------------------------------------------------------------------------

void Context::setEvalTables(const IdStringVector* ids, const BlockVector* blocks) {
    evalIds_ = ids;
    evalBlocks_ = blocks;
    updateUsableCache();
}

const BlockVector* Context::blockTable() const {
    if (evalBlocks_) return evalBlocks_;
    return procField_ ? &procField_->blocks() : nullptr;
}

int32_t Context::getLastNodeExeLine() const { return lastNode_ ? lastNode_->line() : -1; }

int32_t Context::currentFramePos() { return ExecutionStack::activeFrames(); }

StackFrame* Context::currentFrame() { return ExecutionStack::top(); }

}  // namespace tq
