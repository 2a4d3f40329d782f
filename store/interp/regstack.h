// The registers of activations in register form: the stack their files are
// taken from, and the chain of activations running.
//
// A call between two procedures in register form makes no Context, frame
// or value: what it costs is taking the callee's files and linking it into
// the chain, so both are inline here, where the call road (regcall.cpp) and
// the entry from the tree walker (regrun.cpp) share them.
//
// Files are kept from call to call, one set per depth of activations
// running, so that a call finds its files already as large as last time
// and allocates nothing. The number file only ever grows; the others hold
// what the form using them now declared.
#pragma once

#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "store/interp/regform.h"

namespace tq {

struct RegFiles {
    std::vector<RegNumber> numbers;
    std::vector<std::string> strings;
    std::vector<RegArray> arrays;
    std::vector<ValuePtr> values;
};

class RegStack {
public:
    // The files for a new activation of form, set to where it starts: for
    // the common form (numbers only), one copy of its image.
    [[gnu::always_inline]] static RegFiles& Take(const RegisterForm& form) {
        if (depth_ == stack_.size()) [[unlikely]]
            stack_.push_back(std::make_unique<RegFiles>());
        RegFiles& f = *stack_[depth_];
        const size_t n = form.numberImage.size();
        if (f.numbers.size() < n) [[unlikely]]
            f.numbers.resize(n);
        if (n) std::memcpy(static_cast<void*>(f.numbers.data()), form.numberImage.data(), n * sizeof(RegNumber));
        if (!form.numbersOnly) [[unlikely]]
            TakeOthers(form, f);
        // Counted only once nothing can fail.
        ++depth_;
        return f;
    }
    // Gives the files back: what they hold of objects and arrays goes now.
    [[gnu::always_inline]] static void Give(const RegisterForm& form) noexcept {
        RegFiles& f = *stack_[--depth_];
        if (!form.numbersOnly || !f.arrays.empty()) [[unlikely]]
            GiveOthers(form, f);
    }

private:
    static void TakeOthers(const RegisterForm& form, RegFiles& f);
    static void GiveOthers(const RegisterForm& form, RegFiles& f) noexcept;

    static inline std::vector<std::unique_ptr<RegFiles>> stack_;
    static inline size_t depth_ = 0;
};

// The register activations running, newest first through their callers.
class RegChain {
public:
    static RegActivation* Running() { return running_; }
    static void Link(RegActivation& act) {
        act.caller = running_;
        running_ = &act;
    }
    static void Unlink(RegActivation& act) { running_ = act.caller; }

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
        RegFiles& f = RegStack::Take(form);
        act_.numbers = f.numbers.data();
        act_.strings = f.strings.data();
        act_.arrays = f.arrays.data();
        act_.values = f.values.data();
        ++const_cast<RegisterForm&>(form).uses;
        RegChain::Link(act_);
    }
    [[gnu::always_inline]] ~RegCallee() {
        RegChain::Unlink(act_);
        RegStack::Give(*act_.form);
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
};

}  // namespace tq
