// The registers of activations in register form: the stack they are taken
// from, and the chain of activations running.
//
// A call between two procedures in register form makes no Context, frame
// or value: what it costs is taking the callee's files and linking it into
// the chain, so both are inline here, where the call road (regcall.cpp) and
// the entry from the tree walker (regrun.cpp) share them.
//
// Number registers come from one stack of chunks, taken and given back
// by moving its top: a chunk is never moved while activations use it, and
// is kept for the next calls. The other files (strings, arrays, values,
// member lists)
// are kept from call to call, one set per depth of activations that use
// them, so that a call finds them already as large as last time; most
// procedures have none.
#pragma once

#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "store/interp/regform.h"
#include "store/interp/regobject.h"

namespace tq {

class RegStack {
public:
    // Where the number stack stood before an activation took its registers.
    struct Mark {
        RegNumber* top;
        RegNumber* end;
        size_t chunks;
    };

    // The registers of a new activation of form, set to where it starts:
    // its numbers one copy of the form's image.
    [[gnu::always_inline]] static void Take(const RegisterForm& form, RegActivation& act, Mark& back) {
        const size_t n = form.numberImage.size();
        // An activation that starts the next chunk gives back to that
        // chunk's start, not to the end of the one before: nobody's
        // registers lie above it, and the next call at this depth (a host's
        // every call, entering on an empty stack) finds its room in place.
        if (static_cast<size_t>(end_ - top_) < n) [[unlikely]]
            NextChunk(n);
        back = Mark{top_, end_, chunksUsed_};
        RegNumber* base = top_;
        if (n) std::memcpy(static_cast<void*>(base), form.numberImage.data(), n * sizeof(RegNumber));
        act.numbers = base;
        if (!form.numbersOnly) [[unlikely]] {
            try {
                TakeOthers(form, act);
            } catch (...) {
                restore(back);
                throw;
            }
        }
        // Moved only once nothing can fail.
        top_ = base + n;
    }
    // Gives them back: what the other files hold of objects and arrays
    // goes now.
    [[gnu::always_inline]] static void Give(const RegisterForm& form, const Mark& back) noexcept {
        if (!form.numbersOnly) [[unlikely]]
            GiveOthers(form);
        restore(back);
    }

private:
    struct Files {
        std::vector<std::string> strings;
        std::vector<RegArray> arrays;
        std::vector<ValuePtr> values;
        std::vector<RegMembers> lists;
    };
    struct Chunk {
        std::unique_ptr<RegNumber[]> registers;
        size_t size;
    };
    static constexpr size_t kChunkRegisters = 4096;

    static void restore(const Mark& back) noexcept {
        top_ = back.top;
        end_ = back.end;
        chunksUsed_ = back.chunks;
    }
    // Moves the top to the start of the next chunk, one of at least n
    // registers.
    static void NextChunk(size_t n);
    static void TakeOthers(const RegisterForm& form, RegActivation& act);
    static void GiveOthers(const RegisterForm& form) noexcept;

    static inline RegNumber* top_ = nullptr;
    static inline RegNumber* end_ = nullptr;
    static inline size_t chunksUsed_ = 0;
    static inline std::vector<Chunk> chunks_;
    static inline std::vector<std::unique_ptr<Files>> files_;
    static inline size_t filesUsed_ = 0;
};

// The register activations running, newest first through their callers:
// a failure offered to a hook walks them (regrun.cpp).
class RegChain {
public:
    static void Link(RegActivation& act) {
        act.caller = running_;
        // The caller runs (or runs code beneath it) again: what a failure
        // showed of it may no longer hold.
        if (running_) running_->shown = false;
        running_ = &act;
    }
    static void Unlink(RegActivation& act) { running_ = act.caller; }
    // The newest activation running; null when none is.
    static const RegActivation* Running() { return running_; }

private:
    static inline RegActivation* running_ = nullptr;
};

// A callee's activation: its registers taken from the register stack as
// the form's image starts them, the form counted as in use and the
// activation linked into the chain; all given back when it goes.
class RegCallee {
public:
    [[gnu::always_inline]] RegCallee(const RegisterForm& form, InterProcField& proc, InterObjRep& me) {
        act_.form = &form;
        act_.proc = &proc;
        act_.me = &me;
        RegStack::Take(form, act_, back_);
        ++const_cast<RegisterForm&>(form).uses;
        RegChain::Link(act_);
    }
    [[gnu::always_inline]] ~RegCallee() {
        RegChain::Unlink(act_);
        RegStack::Give(*act_.form, back_);
        auto& form = const_cast<RegisterForm&>(*act_.form);
        if (--form.uses == 0 && form.orphaned) [[unlikely]]
            delete &form;
    }
    RegCallee(const RegCallee&) = delete;
    RegCallee& operator=(const RegCallee&) = delete;

    RegActivation& activation() { return act_; }
    // Runs the code; a failure passes out with its line, Me and procedure.
    void run();

private:
    RegActivation act_;
    RegStack::Mark back_;
};

}  // namespace tq
