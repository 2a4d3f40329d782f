// A debugger host for tests: records every stop (procedure, line, kind of
// stop point) and answers each with the next step of a script, or with
// cont() when the script has run out. Programs are text modules compiled
// by the language's compiler.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <tqcompile/tqcompile.h>
#include <tqstore/tqstore.h>

namespace tq::test {

struct StopSeen {
    std::string proc;
    int32_t line;
    int kind;  // the stop point's kind, -1 without one
    bool operator==(const StopSeen&) const = default;
};

std::ostream& operator<<(std::ostream& os, const StopSeen& s);

class ScriptedHost : public Debugger {
public:
    using Answer = std::function<void(ScriptedHost&)>;

    std::vector<StopSeen> stops;
    std::deque<Answer> script;
    int resumes = 0;
    int frameChanges = 0;
    int ended = 0;

    void suspend(StopPoint* sp) override;
    void resume() override { ++resumes; }
    void frameChanged() override { ++frameChanges; }
    void debuggingEnded() override { ++ended; }

    // The value of expr in the current frame's context.
    int32_t value(const char* expr);
};

// Text of a condition or an action, compiled.
std::unique_ptr<EvalableExpr> Condition(const char* text);
std::unique_ptr<EvalableBlock> Action(const char* text);

class StringSink final : public TextPrintable {
public:
    std::string text;

protected:
    void write(const char* t, size_t length) override { text.append(t, length); }
};

// One module loaded from text, with the object named Prog in it.
class ProgramFixture {
public:
    explicit ProgramFixture(std::string_view source);
    ~ProgramFixture();
    ProgramFixture(const ProgramFixture&) = delete;
    ProgramFixture& operator=(const ProgramFixture&) = delete;

    InterProcField* proc(const char* name) const;
    // The line of proc's regenerated source that contains text (the line
    // its statement carries).
    int32_t lineOf(const char* procName, std::string_view text) const;
    // Runs Prog.method; what it printed.
    std::string run(const char* method);

    InterObjRep* object() const { return obj_; }

private:
    DefaultStoreApplication app_;
    StringSink out_;
    tModuleIndex module_;
    InterObjRep* obj_ = nullptr;
};

}  // namespace tq::test
