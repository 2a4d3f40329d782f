// The road of a call: a method bound to an object as a member, and an
// interpreted procedure's eval (methfld.h tells the steps).
#include <string>

#include "platform/util/smallblk.h"
#include "store/block.h"
#include "store/context.h"
#include "store/errors/extexcep.h"
#include "store/interp/dbgseam.h"
#include "store/interp/lookcache.h"
#include "store/interp/regform.h"
#include "store/interp/stackfrm.h"
#include "store/methfld.h"
#include "store/model/interobj.h"
#include "store/vals.h"

namespace tq {

namespace {

// A method bound to the object it was looked up on. It holds the method
// (which may be removed from its signature while it runs) and the object.
// Members are made at every look-up a cache does not spare, so they come
// from the small-block allocator, as values do.
class MethodMember final : public Member {
public:
    MethodMember(MethodField& f, InterObjRep& obj) : field_(&f), obj_(&obj) {}

    tMemberKind memberKind() const override { return field_->isFunction() ? MEMBER_FUNCTION : MEMBER_PROCEDURE; }
    IdType type() const override { return field_->type(); }
    ValuePtr virtualMemberEval(const ValueList* args) override {
        InterObjRep* o = obj_.get();
        if (!o || o->isDestroyed()) throw Is_Null("MethodField::eval()", 32744);
        return static_cast<MethodField*>(field_.get())->eval(*o, args);
    }
    InterObjRep* owner() const override { return obj_.get(); }
    Field* field() const override { return field_.get(); }

    static void* operator new(std::size_t size) { return SmallBlockAllocator::Allocate(size); }
    static void operator delete(void* p, std::size_t size) noexcept { SmallBlockAllocator::Free(p, size); }

private:
    FieldPtr field_;
    InterObj obj_;
};

// Procedure calls running now, counted so that the outermost one can end
// the run's spare argument objects.
int callDepth = 0;

// Tells the debugger of a procedure's entry and, however it ends, of its
// exit, so that its count of calls (step over) stays true also when a call
// fails.
class CallNotice {
public:
    CallNotice() : hook_(DebugHook::Installed()) {
        if (hook_) hook_->functionCalled();
    }
    ~CallNotice() {
        if (hook_) hook_->functionReturned();
    }
    CallNotice(const CallNotice&) = delete;
    CallNotice& operator=(const CallNotice&) = delete;

private:
    DebugHook* hook_;
};

}  // namespace

MemberPtr MethodField::getMember(InterObjRep& obj, SignatureRep&) { return MemberPtr(new MethodMember(*this, obj)); }

ValuePtr MethodField::eval(InterObjRep& obj, const ValueList* args) {
    SignatureRep* sig = obj.signature();
    if (!sig) throw Is_Null("MethodField::eval()", 32744);
    MemberPtr m = getMember(obj, *sig);
    // The member of a method that does not define one would call this
    // again.
    if (dynamic_cast<MethodMember*>(m.get())) throw StoreException(32724u, name());
    return m->virtualMemberEval(args);
}

ValuePtr InterProcField::eval(InterObjRep& obj, const ValueList* args) {
    if (!obj.isReadAllowed()) throw AccessDenied("InterProcField::eval()", 32755);
    // The register form, when the procedure has one and no debugger watches.
    if (ValuePtr result; RunRegisterForm(*this, obj, args, result)) return result;
    Context ctx(&obj, this, Context::kSearchGlobals);
    if (!isCompiled()) throw StoreException(notCompiledMessage(), name());
    BlockRep* code = body();
    if (!code) throw StoreException(notCompiledMessage(), name());
    CallNotice notice;
    // The bound argument object refers to the caller's values or to these
    // (by-reference parameters), so both live as long as the frame.
    ValueList bound;
    // The argument object goes back to the procedure however the call ends,
    // after the frame has let go of it, and what the call resolved on Me is
    // kept for the next call (the frame's scopes have gone from the cache
    // by then); the outermost call ends the run's spares, kept caches and
    // the slots its activations left in the pool.
    struct Arguments {
        MethodField& owner;
        Context& ctx;
        InterObjRep* obj = nullptr;
        ~Arguments() {
            owner.giveBackArguments(obj);
            if (callDepth > 1) ctx.keepWarm();
            if (--callDepth == 0) {
                DropAllSpareArguments();
                DropAllWarmCaches();
                LookupCachePool::DropLeftovers();
            }
        }
    } arguments{*this, ctx};
    ++callDepth;
    if (InterObjRep* proto = parameterPrototype()) {
        arguments.obj = bindArguments(*proto, args, bound);
    } else if (args && !args->isEmpty()) {
        throw TooManyArguments("InterProcField::eval()", 32763);
    }
    InterObjRep* argObj = arguments.obj;
    ctx.enterArguments(argObj);
    {
        CallDepth depth;
        StackFrame frame(ctx, code, isFunction() ? FunctionFrame : SubFrame, argObj, false);
        ctx.takeArguments(argObj);
        code->ieval(ctx);
        ctx.keepArguments(argObj);
    }
    return isFunction() ? ctx.takeReturnValue() : ValuePtr();
}

}  // namespace tq
