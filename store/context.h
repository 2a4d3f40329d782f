// Context: where code runs, and what an identifier means there.
//
// The interpreter is a tree walker over pointer-free node streams
// (execnode.h, exprnode.h) kept in blocks (block.h). Every evaluation
// happens against a Context: one per procedure activation, per immediate
// evaluation, or per member chain. It holds the procedure being run, its
// Me object, the object of the innermost running With, the scopes of the
// running frames (local, static and argument objects, newest first) and a
// function's return value. Beside it stands the process-wide execution
// stack of frames (stackfrm.h): what Exit unwinds, what the debugger walks
// and where the native-stack limit is enforced.
//
// Resolving an identifier (eval by name) asks, in order: the scopes from
// the newest; Me; and, with kSearchGlobals, the store's static objects and
// the global objects. Identifiers in node streams are indexes into the
// running code's identifier table; an activation of a procedure whose
// table has at most lookupCacheMax names gets a lookup cache from the
// process-wide pool (lookcache.h): one member slot per identifier, filled
// by the first resolution, so that every later reference costs one array
// access and no name search.
//
// Invariants:
//  1. A context's cache slots are the top of the pool while it lives:
//     contexts nest with the native call stack and give their slots back in
//     their destructors, in reverse order of taking them.
//  2. No cache slot names a member of a scope object that has gone: popping
//     a scope clears the slots that point into it first. A scope pushed over
//     a cached name clears that name's slot, so a shadowing local wins.
//  3. The cache is not used while an immediate evaluation's identifier
//     table is installed (its indexes mean other names).
//  4. frameCount is the number of frames pushed under this context and
//     still on the stack; Exit never unlinks frames beyond it.
//  5. An activation that ends inside a run may leave its slots filled in
//     the pool (lookcache.h) for the next activation of the same procedure
//     on the same object at the same depth: they then hold members of Me,
//     of static objects and of the activation's argument object only (every
//     frame's locals and statics were cleared as their scopes went), and
//     the argument object is named by its handle id, so that a later call
//     bound into another object never reads them.
#pragma once

#include <cstdint>
#include <vector>

#include "store/interp/lookcache.h"
#include "store/member.h"
#include "store/model/interobj.h"
#include "store/vals.h"

namespace tq {

class BlockVector;
class ExecNode;
class IdStringVector;
class InterProcField;
class Sid;
class StackFrame;

class Context {
public:
    enum : uint8_t {
        // Search the store's static objects and the global objects after
        // the scopes and Me.
        kSearchGlobals = 0x01,
        // Me is not the caller's Me (set by reinit): look-ups on Me come from
        // outside the object.
        kForeignMe = 0x02,
        // The With object is not something Me can be treated as.
        kWithNotMe = 0x04,
    };

    // Largest identifier table for which an activation gets a cache (the
    // application's "LookupCacheMax").
    static inline int32_t lookupCacheMax = 100;

    // Evaluation with no object: flags kSearchGlobals.
    Context();
    // Evaluation on me (may be null); no procedure, no cache.
    Context(InterObjRep* me, uint8_t flags);
    // The activation of procedure proc on me. A function's return value, of
    // its declared type, is made at once; a cache is taken when the
    // procedure's identifier table has at most lookupCacheMax names and the
    // pool has room.
    Context(InterObjRep* me, InterProcField* proc, uint8_t flags);
    // A context for the same code: Me, the procedure and the immediate
    // tables of other; no frames, scopes, return value, last node or cache.
    Context(const Context& other, uint8_t flags);
    // Empties the scope list, gives the cache back, drops the return value.
    ~Context();
    Context& operator=(const Context&) = delete;

    // Reuse for another dispatch: scopes emptied, Me and the signature set,
    // kForeignMe set when me is not caller's Me.
    void reinit(InterObjRep* me, SignatureRep* sig, const Context& caller);

    // ---- scopes -----------------------------------------------------------------

    // Puts scope in front of the others (see invariant 2).
    void pushLocals(InterObjRep* scope);
    // Removes the newest scope and destroys it (locals and argument objects
    // die with their frame).
    void popLocals();
    // Removes the newest scope and keeps it (static objects outlive calls).
    void popStatics();
    // Removes scope, normally the newest, wherever it stands, and destroys
    // it when asked; a scope that is not in the list is only destroyed.
    void popScope(InterObjRep* scope, bool destroy);
    size_t scopeCount() const { return scopes_.size(); }
    // Scope i counted from the newest.
    InterObjRep* scope(size_t i) const { return scopes_.fromTop(i); }

    // ---- resolution -----------------------------------------------------------

    // Resolves name and evaluates it (Member::memberEval with type, args and
    // how). Null with found 0 when nothing has the name. slot, when given,
    // receives the member found, for later references.
    ValuePtr eval(const char* name, IdType type, const ValueList* args, int32_t how, int& found,
                  MemberPtr* slot) const;
    // The same for identifier idIndex of the running code: one array access
    // when the cache holds it.
    ValuePtr eval(uint32_t idIndex, IdType type, const ValueList* args, int32_t how, int& found) const {
        if (idIndex < usableCache_) {
            if (Member* m = cache_[idIndex].get()) {
                found = 1;
                // A number or text value with no arguments and no suffix is
                // its own result: what memberEval would check cannot fail.
                if ((m->memberTraits() & Member::kSelfValued) && !args && !(type & IDT_TYPEMASK) &&
                    !(how & EVAL_NO_VALUE))
                    return ValuePtr(static_cast<Value*>(m));
                return m->memberEval(type, args, how);
            }
        }
        return evalUncached(idIndex, type, args, how, found);
    }
    // The member the cache holds for identifier idIndex, or null.
    Member* cachedMember(uint32_t idIndex) const { return idIndex < usableCache_ ? cache_[idIndex].get() : nullptr; }
    // The text of identifier idIndex of the running code (the immediate
    // table's, else the procedure's); null when there is none.
    const char* identifierName(uint32_t idIndex) const;

    // ---- the cache ----------------------------------------------------------------

    // Clears this activation's slots whose member belongs to owner.
    void clearCache(const InterObjRep* owner);
    // Keeps the slots that hold members of Me in the procedure's warm cache
    // (methfld.h), for its next activation on the same object, and leaves
    // the slots filled in the pool for an activation at the same depth
    // (invariant 5); the frames' scopes must have gone from the cache.
    // Nothing is kept in the warm cache when memory is short.
    void keepWarm() noexcept;
    // Keeps the slots that hold members of args, the running frame's
    // argument object, in the procedure's warm cache, for its next
    // activation bound into the same object. Nothing is kept when memory is
    // short.
    void keepArguments(InterObjRep* args) noexcept;
    // Fills the slots kept for args by keepArguments, when args is the object
    // they were kept for and nothing they depend on has changed since; the
    // frame that scopes args must have been pushed.
    void takeArguments(InterObjRep* args);
    // Names args as this activation's argument object, before the frame
    // that scopes it is pushed. Its members stay in the cache when that
    // frame goes (the object outlives it, to be bound again); when the slots
    // the activation took were left by an activation bound into this same
    // object, they already hold them and pushing its scope clears nothing.
    void enterArguments(InterObjRep* args);
    // Counts the dumps of the whole cache: a kept warm cache is good only
    // within the epoch it was kept in.
    static uint64_t cacheEpoch() { return cacheEpoch_; }
    // Clears every used slot of the pool: cached members may have gone
    // stale (an object destroyed or renamed, an array re-dimensioned).
    static void dumpCache();
    uint32_t cacheLength() const { return cacheLength_; }
    // The slots in use in the pool (the application's "LookupCacheUsed").
    static int32_t GetLookupCacheLength();

    // ---- Me, With, return value ------------------------------------------------

    InterObjRep* me() const { return me_.get(); }
    // A new Object value holding Me; StoreException 32735 when there is
    // none.
    ValuePtr getMe() const;
    SignatureRep* signature() const { return signature_.get(); }
    InterObjRep* withObj() const { return withObj_.get(); }
    // Installs obj as the With object and returns the previous one.
    InterObj setWithObj(InterObjRep* obj);

    // The return value when sid names the running function itself (so that
    // assigning to the function's name sets it); null otherwise.
    Value* getReturnValue(const Sid& sid) const { return returnValue_ ? functionResult(sid) : nullptr; }
    // Hands the function's return value over, converted to its return
    // type; the context keeps none.
    ValuePtr takeReturnValue();

    // ---- code and frames -----------------------------------------------------------

    uint8_t flags() const { return flags_; }
    InterProcField* procField() const { return procField_; }
    const IdStringVector* evalIds() const { return evalIds_; }
    const BlockVector* evalBlocks() const { return evalBlocks_; }
    // Installs (or with nulls removes) an immediate evaluation's tables.
    void setEvalTables(const IdStringVector* ids, const BlockVector* blocks);
    // The block table of the running code: the immediate one, else the
    // procedure's; null when there is neither.
    const BlockVector* blockTable() const;

    int32_t& frameCount() { return frameCount_; }
    int32_t frameCount() const { return frameCount_; }

    const ExecNode* lastNode() const { return lastNode_; }
    void setLastNode(const ExecNode* node) { lastNode_ = node; }
    // The line of the last statement started, or -1.
    int32_t getLastNodeExeLine() const;

    static int32_t currentFramePos();
    static StackFrame* currentFrame();

    // Where a name not found anywhere else is looked for last (with
    // kSearchGlobals): the global objects, installed by the library's
    // Globals class. Null while there are none.
    using GlobalObjectsSearch = ValuePtr (*)(const char* name, IdType type, const ValueList* args,
                                             int32_t how, int& found);
    static inline GlobalObjectsSearch globalObjects = nullptr;

private:
    // The scope list: a stack that keeps its first few entries inline, so
    // that an activation allocates nothing for its scopes.
    class ScopeStack {
    public:
        size_t size() const { return size_; }
        bool empty() const { return size_ == 0; }
        void push(InterObjRep* o);
        InterObjRep* pop();
        InterObjRep* fromTop(size_t i) const {
            const size_t at = size_ - 1 - i;
            return at < kInline ? inline_[at] : more_[at - kInline];
        }
        void clear() {
            size_ = 0;
            more_.clear();
        }
        // Removes the entry i counted from the newest.
        void eraseFromTop(size_t i);

    private:
        static constexpr size_t kInline = 4;
        InterObjRep* inline_[kInline] = {};
        std::vector<InterObjRep*> more_;
        size_t size_ = 0;
    };

    ValuePtr evalUncached(uint32_t idIndex, IdType type, const ValueList* args, int32_t how, int& found) const;
    void takeCache(uint32_t length);

    void releaseCache();
    void clearShadowed(InterObjRep* scope);
    // Clears the slots of args's parameters whose member holds what an
    // earlier binding passed instead of reading through args.
    void clearRebound(InterObjRep* args);
    Value* functionResult(const Sid& sid) const;
    // What a frame's local or a call's parameter that the cache found
    // becomes in its slot: true when the slot now holds a LocalValue or an
    // ArgumentValue instead of the general member.
    bool keepLocal(InterObjRep* scope, const char* name, MemberPtr& slot) const;
    void updateUsableCache() { usableCache_ = evalIds_ ? 0 : cacheLength_; }
    void takeWarm();

    uint8_t flags_ = kSearchGlobals;
    Signature signature_;
    CountedIndirectInterObj me_;
    CountedIndirectInterObj withObj_;
    // The objects are held by their frames (locals and arguments) or by
    // their blocks (statics).
    ScopeStack scopes_;
    InterProcField* procField_ = nullptr;
    const IdStringVector* evalIds_ = nullptr;
    const BlockVector* evalBlocks_ = nullptr;
    int32_t frameCount_ = 0;
    ValuePtr returnValue_;
    const ExecNode* lastNode_ = nullptr;
    MemberPtr* cache_ = nullptr;
    uint32_t cacheLength_ = 0;
    uint32_t usableCache_ = 0;
    // Whether any slot has been filled since the cache was taken: pushing
    // and popping scopes need not look at an empty cache.
    mutable bool cacheFilled_ = false;
    // The cache started with an earlier activation's members of Me: even
    // the first scope pushed must clear the names it shadows.
    bool warmed_ = false;
    // The slots were taken as an earlier activation at the same depth left
    // them (invariant 5); leftArgsId_ names the argument object whose
    // members they hold (0: none).
    bool reused_ = false;
    uint32_t leftArgsId_ = 0;
    // The activation's argument object and its handle id, whose members
    // outlive the frame that scopes it; argsWarm_ when the slots already
    // held them as the activation began.
    InterObjRep* args_ = nullptr;
    uint32_t argsId_ = 0;
    bool argsWarm_ = false;
    // The slots go back to the pool filled (keepWarm), unless reinit has
    // made them another object's.
    bool leaveSlots_ = false;
    bool reinited_ = false;
    // What the slots are left as (invariant 5), made as they are taken.
    LookupCachePool::Leftover key_;
    static inline uint64_t cacheEpoch_ = 0;
};

}  // namespace tq
