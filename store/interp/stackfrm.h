// Stack frames and the process-wide execution stack.
//
// Each procedure body, block run by itself and compound statement that is
// running has one StackFrame, which lives on the native stack of the code
// that runs it. Its constructor pushes the block's scopes on the context
// (a fresh clone of the local-variable prototype, the static-variable
// object, the argument object: looked up in that order, arguments first)
// and links the frame on top of the ExecutionStack; its destructor undoes
// both.
//
// Exit does not throw: it unlinks frames from the top down to the nearest
// frame of its kind (ExecutionStack::popFrame). The code that owns an
// unlinked frame sees on return that the stack has become shorter than its
// frame's position and stops; the frame's destructor then only pops its
// scopes.
//
// The frame constructor is also where runaway recursion ends: when fewer
// than kStackReserve bytes of the native stack are left it raises
// StackOverflow "Stack overflow." (32713) before pushing anything.
//
// Frame life:
//
//   constructed --push--> linked (position p) --destructor--> popped
//                            |
//                            +--Exit (popFrame)--> unlinked --destructor--> scopes popped
//
// Invariants:
//  1. The stack's links run from top to bottom through linked frames only;
//     count is their number and each frame's position its depth (1 at the
//     bottom) when it was pushed.
//  2. A frame is unlinked exactly once, by popFrame, and never relinked.
//  3. A linked frame's call-run facts (lastCall_, runLength_, runBottom_)
//     name only frames beneath it: frames go from the top, so they stay
//     true for as long as it is linked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <vector>

#include "store/faultp.h"

namespace tq {

class BlockRep;
class Context;
class ExecNode;
class InterObjRep;
class InterProcField;

enum FrameType : int32_t {
    FunctionFrame = 1,
    SubFrame = 2,
    ForFrame = 3,
    DoFrame = 4,
    BlockFrame = 6,
    IfFrame = 7,
    TryFrame = 8,
    SelectFrame = 9,
    EvalFrame = 10,
    WithFrame = 11,
};

// Whether the build is sanitized: AddressSanitizer makes every native
// frame several times larger, so the stack measures below grow with it.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kSanitizedFrames = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kSanitizedFrames = true;
#else
inline constexpr bool kSanitizedFrames = false;
#endif
#else
inline constexpr bool kSanitizedFrames = false;
#endif

class StackFrame {
public:
    // The native stack that must be left for a new frame. The system's own
    // rule is 10,000 bytes; sanitized builds keep a reserve in proportion.
    static constexpr std::size_t kStackReserve = kSanitizedFrames ? 10000 * 8 : 10000;

    // Pushes a frame of type for block (may be null) on ctx, with args (the
    // bound argument object) as its argument scope; the frame destroys args
    // unless ownsArgs is false (the caller keeps it, to bind it again). A
    // block read from a file whose variable objects are not what a block's
    // must be raises ObjectLoadFailed.
    StackFrame(Context& ctx, BlockRep* block, FrameType type, InterObjRep* args = nullptr, bool ownsArgs = true);
    ~StackFrame();
    StackFrame(const StackFrame&) = delete;
    StackFrame& operator=(const StackFrame&) = delete;

    BlockRep* getBlock() const { return block_.get(); }
    const ExecNode* node() const { return node_; }
    void setNode(const ExecNode* node) { node_ = node; }
    Context& context() const { return ctx_; }
    FrameType type() const { return type_; }
    int32_t position() const { return position_; }
    bool isLinked() const { return linked_; }
    InterObjRep* locals() const { return locals_; }
    InterObjRep* statics() const { return statics_; }
    InterObjRep* args() const { return args_; }
    // The procedure of the frame's context; null for immediate evaluation
    // and plain blocks.
    InterProcField* proc() const;

    // For the call-stack list: "Name(args) at line n" for a frame of a
    // procedure, "Block with no source." otherwise; each ends in a NUL.
    void lineWithArgs(std::ostream& os) const;

    StackFrame* above() const { return above_; }
    StackFrame* below() const { return below_; }

private:
    friend class ExecutionStack;
    void popScopes();
    // A frame of a procedure call: what a call chain lists.
    bool isCall() const { return (type_ == SubFrame || type_ == FunctionFrame) && proc(); }

    Faultp<BlockRep> block_;
    const ExecNode* node_ = nullptr;
    Context& ctx_;
    FrameType type_;
    int32_t position_ = 0;
    bool linked_ = false;
    InterObjRep* locals_ = nullptr;
    InterObjRep* statics_ = nullptr;
    InterObjRep* args_ = nullptr;
    bool ownsArgs_ = true;
    StackFrame* above_ = nullptr;
    StackFrame* below_ = nullptr;
    // Set when the frame is linked (invariant 3): the nearest call frame at
    // or below this one; for a call frame, how many call frames of the same
    // procedure on the same object run in a row up to it (1 for the first
    // of a recursion) and the first of them.
    StackFrame* lastCall_ = nullptr;
    int32_t runLength_ = 0;
    StackFrame* runBottom_ = nullptr;
};

// One entry of the calls running, as a failure report lists them.
struct CallChainEntry {
    // The call's frame; for a count, one of the calls counted.
    StackFrame* frame = nullptr;
    // The line the call stands at: the running line of the newest frame of
    // its context (a loop's body, not the loop); 0 for a count.
    int32_t line = 0;
    // Not 0: the entry stands for that many further calls of the frame's
    // procedure on the frame's object, not listed one by one.
    int32_t moreCalls = 0;
};

// The depth of procedure calls running, in either execution form. The
// native stack a call takes differs between the forms (the tree walker
// recurses through its statements, a register-form call takes a few
// hundred bytes), so the room left alone would end a runaway recursion
// at a depth that depends on the form. A call beyond the depth the
// thread's stack is sized for (its size over kStackPerCall) fails with
// "Stack overflow." (32713) before it starts, on the caller's line,
// whichever form runs it; the room check of every frame stays for what
// takes more stack than that.
class CallDepth {
public:
    // The native stack a call is allowed on average.
    static constexpr std::size_t kStackPerCall = kSanitizedFrames ? 8000 : 2000;

    // Enters a call: StackOverflow when the calls running reach the most.
    [[gnu::always_inline]] CallDepth() {
        if (depth_ >= limit_) [[unlikely]]
            Deeper();
        ++depth_;
    }
    ~CallDepth() { --depth_; }
    CallDepth(const CallDepth&) = delete;
    CallDepth& operator=(const CallDepth&) = delete;

    // The most calls that may run at once on this thread's stack.
    static int32_t Limit();

private:
    // Works out the limit on first use; StackOverflow at it.
    static void Deeper();
    // Per thread, as the stack is: a thread's calls are counted against its
    // own stack's size. Reached at a fixed offset from the thread pointer,
    // as StackRoom's bound is.
    [[gnu::tls_model("initial-exec")]] static constinit thread_local int32_t depth_;
    [[gnu::tls_model("initial-exec")]] static constinit thread_local int32_t limit_;
};

class ExecutionStack {
public:
    // Links frame on top; returns the new count.
    static int32_t pushFrame(StackFrame& frame);
    // Unlinks frames from the top until one of type has been unlinked,
    // lowering counter by their number; the stack must not run empty first
    // ("frames").
    static void popFrame(FrameType type, int32_t& counter);
    // Whether one of the top n frames has type.
    static bool frameTypeExists(FrameType type, int32_t n);
    static int32_t activeFrames() { return execStack.count_; }
    static bool activeFrame(FrameType type) { return frameTypeExists(type, execStack.count_); }
    static StackFrame* top() { return execStack.top_; }

    // The procedure calls running, innermost first. Of a run of calls of
    // one procedure on one object (a recursion) the newest `shown` (at
    // least 1) are listed and the rest counted in one entry. A host records
    // this for every failure that passes, also those a Catch takes, so the
    // counted calls are stepped over, not visited: the cost follows the
    // entries given and the frames between them, not the depth of a
    // recursion.
    static std::vector<CallChainEntry> callChain(int32_t shown);
    // How many frames callChain has looked at in this process: what a test
    // or a benchmark of its cost reads.
    static uint64_t chainFramesVisited() { return chainFramesVisited_; }

    static ExecutionStack execStack;

private:
    StackFrame* top_ = nullptr;
    int32_t count_ = 0;
    static inline uint64_t chainFramesVisited_ = 0;
};

// A cursor over the stack for the debugger's call-stack view.
class ExecutionStackIterator {
public:
    enum ESI_matchType : int {
        ESI_SAME = 0,       // stay on the cursor's frame
        ESI_PROCEDURE = 1,  // move by procedure
        ESI_ANY = 2,        // move to the adjacent frame
    };

    ExecutionStackIterator() { reset(); }
    void reset() { cursor_ = ExecutionStack::top(); }
    // The cursor's frame ("cursor").
    StackFrame* current() const;
    // One step deeper (toward the caller) or toward the top; the frame
    // reached, or null at the end (the cursor stays).
    StackFrame* next(ESI_matchType how);
    StackFrame* previous(ESI_matchType how);
    static StackFrame* topFrame() { return ExecutionStack::top(); }

private:
    StackFrame* cursor_ = nullptr;
};

}  // namespace tq
