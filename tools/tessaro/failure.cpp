#include "tools/tessaro/failure.h"

#include <sstream>

namespace tessaro {

namespace {

// The object whose code proc is, as seen from me: the prototype of the
// signature that declares it.
tq::InterObjRep* DeclaringObject(tq::InterObjRep* me, tq::InterProcField* proc) {
    if (!me || !proc || !me->signature()) return me;
    tq::SignatureRep* owner = nullptr;
    if (!me->signature()->findField(proc->name(), owner) || !owner) return me;
    tq::InterObjRep* proto = owner->protoObject();
    return proto ? proto : me;
}

std::string ObjectName(tq::InterObjRep* o) {
    if (!o) return "?";
    if (const char* n = o->name()) return n;
    try {
        return o->alias();
    } catch (const tq::StoreException&) {
        return "?";
    }
}

// "(1, 0)" of "Divide(1, 0) at line 7": what the frame shows between the
// procedure's name and its line.
std::string ArgumentsOf(const tq::StackFrame& frame) {
    std::ostringstream text;
    frame.lineWithArgs(text);
    std::string s = text.str();
    const size_t open = s.find('(');
    const size_t at = s.rfind(") at line ");
    if (open == std::string::npos || at == std::string::npos || at < open) return "()";
    return s.substr(open, at - open + 1);
}

std::string Place(SourceLines& lines, tq::tModuleIndex m, const std::string& object, const std::string& proc,
                  int32_t line) {
    if (!tq::ObjectStore::ValidIndex(m)) return {};
    std::string where = SourceLines::fileName(m);
    const int32_t fileLine = lines.fileLine(m, object, proc, line);
    if (fileLine > 0) where += ":" + std::to_string(fileLine);
    return where;
}

// 14500 as "14,500".
std::string WithThousands(size_t n) {
    std::string digits = std::to_string(n);
    for (size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
    return digits;
}

}  // namespace

ChainRecorder::ChainRecorder() : tq::DebugHook(false), previous_(tq::DebugHook::Installed()) { tq::DebugHook::Install(this); }

ChainRecorder::~ChainRecorder() { tq::DebugHook::Install(previous_); }

int ChainRecorder::error(tq::Context&, tq::StoreException& e) {
    frames_.clear();
    text_ = e.what();
    // Every failure is offered, also one a Catch takes: a recursion that
    // throws and catches at each level records a chain at every level, so
    // only the frames shown are described, and the store steps over the
    // calls of a run it only counts.
    for (const tq::CallChainEntry& entry : tq::ExecutionStack::callChain(static_cast<int32_t>(kShownOfARun))) {
        if (entry.moreCalls) {
            ChainFrame more = frames_.back();
            more.arguments.clear();
            more.moreCalls = static_cast<size_t>(entry.moreCalls);
            frames_.push_back(std::move(more));
            continue;
        }
        const tq::StackFrame& f = *entry.frame;
        tq::InterProcField* proc = f.proc();
        tq::InterObjRep* owner = DeclaringObject(f.context().me(), proc);
        ChainFrame frame;
        frame.object = ObjectName(owner);
        frame.procedure = proc->name();
        frame.arguments = ArgumentsOf(f);
        frame.module = owner ? owner->moduleIndex() : tq::DETACHED_MODULE;
        frame.line = entry.line;
        frames_.push_back(std::move(frame));
    }
    // Not taken: the failure goes on to a Catch or to the command.
    return 0;
}

std::vector<ChainFrame> ChainRecorder::chainFor(const std::string& text) const {
    return text == text_ ? frames_ : std::vector<ChainFrame>{};
}

std::string DescribeFailure(const tq::StoreException& e, const std::vector<ChainFrame>& chain,
                            const std::string& file, const std::string& object, const std::string& method,
                            SourceLines& lines) {
    std::string out;
    if (!chain.empty()) {
        const ChainFrame& inner = chain.front();
        // The failing statement's own line: a loop that tests after its
        // body fails on the line its condition is written on.
        const int32_t line = e.line > 0 ? e.line : inner.line;
        const std::string where = Place(lines, inner.module, inner.object, inner.procedure, line);
        if (!where.empty()) out += where + ": ";
        out += inner.object + "." + inner.procedure + ": " + e.what() + "\n";
        for (size_t i = 0; i < chain.size(); ++i) {
            const ChainFrame& f = chain[i];
            if (f.moreCalls) {
                out += "  ... " + WithThousands(f.moreCalls) + " more call" + (f.moreCalls == 1 ? "" : "s") + " of " +
                       f.object + "." + f.procedure + " ...\n";
                continue;
            }
            const std::string at = Place(lines, f.module, f.object, f.procedure, i == 0 ? line : f.line);
            out += "  " + f.object + "." + f.procedure + f.arguments + (at.empty() ? "" : " at " + at) + "\n";
        }
        return out;
    }
    // Outside every procedure: the call itself failed (its arguments, a
    // member that is not there).
    if (!file.empty()) out += file + ": ";
    if (!method.empty()) out += object + "." + method + ": ";
    out += std::string(e.what()) + "\n";
    return out;
}

}  // namespace tessaro
