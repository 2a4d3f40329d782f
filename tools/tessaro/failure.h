// What a person is told when a program fails: where, in which procedure,
// what, and how the program got there.
//
//   shapes.tqs:7: Program.Divide: Division by zero.
//     Program.Divide(1, 0) at shapes.tqs:7
//     Program.Main() at shapes.tqs:12
//
// The first line names the line of the file the failing statement is
// written on, the object whose code it is and its procedure. The call chain
// follows, innermost first, with the arguments as they were when the
// failure arose; of a run of calls of one procedure (a recursion) the first
// three are shown and the rest counted ("  ... 14,500 more calls of
// Program.Down ...").
//
// The chain must be read while the failing frames still exist: by the time
// the failure reaches the command the stack is gone. ChainRecorder is the
// interpreter's debugger hook for that: the first statement a failure
// passes offers it to the hook, which records the frames and lets it go on.
// It asks for no check before statements, so a run pays nothing for it.
#pragma once

#include <string>
#include <vector>

#include <tqstore/tqstore.h>

#include "tools/tessaro/modules.h"

namespace tessaro {

// One procedure frame of a recorded chain.
struct ChainFrame {
    std::string object;     // the object whose code it is
    std::string procedure;  // its name
    std::string arguments;  // "(1, 0)": the values of its parameters
    tq::tModuleIndex module = tq::DETACHED_MODULE;
    int32_t line = 0;       // within the procedure, from its header (1)
    // Not 0: this entry stands for that many further calls of the same
    // procedure on the same object, counted, not described.
    size_t moreCalls = 0;
};

// Of a run of calls of one procedure on one object (a recursion), how many
// the chain describes; the rest are counted in one entry.
inline constexpr size_t kShownOfARun = 3;

class ChainRecorder final : public tq::DebugHook {
public:
    // Installs itself as the process's hook for its lifetime. It only
    // records failures, never follows execution: procedures keep their
    // register form while it is installed.
    ChainRecorder();
    ~ChainRecorder() override;
    ChainRecorder(const ChainRecorder&) = delete;
    ChainRecorder& operator=(const ChainRecorder&) = delete;

    void eval(tq::Context&, int32_t) override {}
    int error(tq::Context& ctx, tq::StoreException& e) override;
    void functionCalled() override {}
    void functionReturned() override {}

    // The chain recorded for a failure with message text, innermost first;
    // empty when the last failure recorded was another.
    std::vector<ChainFrame> chainFor(const std::string& text) const;

    // Forgets what was recorded (the REPL, before each entry).
    void clear() {
        frames_.clear();
        text_.clear();
    }

private:
    tq::DebugHook* previous_;
    std::vector<ChainFrame> frames_;
    std::string text_;
};

// The report of failure e of a call of object.method in file (the names
// the command called, for a failure outside every procedure: a call with
// the wrong arguments), ending in a newline.
std::string DescribeFailure(const tq::StoreException& e, const std::vector<ChainFrame>& chain,
                            const std::string& file, const std::string& object, const std::string& method,
                            SourceLines& lines);

}  // namespace tessaro
