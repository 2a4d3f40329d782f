// The command-line debugger's engine (debugcli.h tells the commands).
#include "tools/tqdebugcli/debugcli.h"

#include <algorithm>
#include <istream>
#include <map>
#include <ostream>
#include <sstream>

#include <tqcompile/tqcompile.h>

namespace tq::debugcli {

namespace {

std::string Trim(const std::string& s) {
    const size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return std::string();
    const size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

// The first word of line and the rest, trimmed.
std::pair<std::string, std::string> SplitWord(const std::string& line) {
    const std::string t = Trim(line);
    const size_t sp = t.find_first_of(" \t");
    if (sp == std::string::npos) return {t, std::string()};
    return {t.substr(0, sp), Trim(t.substr(sp + 1))};
}

bool ParseInt(const std::string& s, int& out) {
    if (s.empty()) return false;
    size_t used = 0;
    try {
        out = std::stoi(s, &used);
    } catch (const std::exception&) {
        return false;
    }
    return used == s.size();
}

// Command names and the short forms people type for them.
const std::map<std::string, std::string>& Commands() {
    static const std::map<std::string, std::string> names = {
        {"b", "break"},       {"break", "break"},         {"tb", "tbreak"},       {"tbreak", "tbreak"},
        {"cond", "condition"}, {"condition", "condition"}, {"ignore", "ignore"},   {"commands", "commands"},
        {"disable", "disable"}, {"enable", "enable"},      {"d", "delete"},        {"delete", "delete"},
        {"watch", "watch"},   {"i", "info"},              {"info", "info"},       {"r", "run"},
        {"run", "run"},       {"c", "continue"},          {"cont", "continue"},   {"continue", "continue"},
        {"s", "step"},        {"step", "step"},           {"n", "next"},          {"next", "next"},
        {"fin", "finish"},    {"finish", "finish"},       {"bt", "where"},        {"backtrace", "where"},
        {"where", "where"},   {"up", "up"},               {"down", "down"},       {"p", "print"},
        {"print", "print"},   {"l", "list"},              {"list", "list"},       {"catch", "catch"},
        {"q", "quit"},        {"quit", "quit"},           {"help", "help"},
    };
    return names;
}

const char* kHelp =
    "break Object.Method[:LINE] | FILE:LINE | LINE, tbreak ..., condition N [EXPR], ignore N COUNT,\n"
    "commands N (statements, then end), disable|enable|delete [N...], watch EXPR,\n"
    "info breakpoints, run, continue, step, next, finish, where, up [N], down [N],\n"
    "print EXPR, list, catch on|off, quit; any other line runs as statements.\n";

std::string ValueText(const Value& v) {
    ValString s = v.as<ValString>();
    const char* t = static_cast<const char*>(s);
    return t ? t : "";
}

// Text of a failure, with a compiler's every diagnostic.
std::string ErrorText(const StoreException& e) { return e.what(); }

}  // namespace

CommandLineDebugger::CommandLineDebugger(std::istream& in, std::ostream& out) : in_(in), out_(out) {}

CommandLineDebugger::~CommandLineDebugger() = default;

bool CommandLineDebugger::readLine(std::string& line) {
    out_ << "(tqdb) " << std::flush;
    if (!std::getline(in_, line)) {
        out_ << "\n";
        return false;
    }
    line = Trim(line);
    return true;
}

int CommandLineDebugger::session(const std::string& target, const ValueList* args) {
    target_ = target;
    args_ = args;
    std::string line;
    while (!quit_ && readLine(line)) command(line, false);
    return status_;
}

// ---- stops -------------------------------------------------------------------------------

int CommandLineDebugger::error(Context& ctx, StoreException& e) {
    const int taken = Debugger::error(ctx, e);
    // A Stop typed at the prompt is taken as nothing to do, not as a
    // failure to show at the next stop.
    if (taken && !debuggerIsSuspended()) exceptionShown_ = false;
    return taken;
}

void CommandLineDebugger::suspend(StopPoint* sp) {
    showStop(sp);
    resumed_ = false;
    std::string line;
    while (!resumed_) {
        if (!readLine(line)) {
            // Nobody is left to say how to go on.
            quit_ = true;
            throw TerminateExecution();
        }
        command(line, true);
    }
}

void CommandLineDebugger::showStop(StopPoint* sp) {
    if (sp) {
        for (const Entry& e : entries_)
            if (e.point == sp) {
                out_ << (sp->kind() == StopPoint::kWatchKind ? "Watchpoint " : "Breakpoint ") << e.number;
                if (sp->kind() == StopPoint::kWatchKind) out_ << ": " << e.what;
                out_ << ", ";
                break;
            }
    } else if (!exceptionShown_) {
        exceptionShown_ = true;
        const StoreException& e = lastException();
        out_ << e.name() << ": " << e.what() << "\n";
    }
    showFrameLine();
}

void CommandLineDebugger::frameChanged() {
    if (!quietFrame_) showFrameLine();
}

void CommandLineDebugger::move(bool towardsCaller, int n) {
    const StackFrame* before = currentFrame();
    quietFrame_ = true;
    towardsCaller ? up(n) : down(n);
    quietFrame_ = false;
    if (currentFrame() == before && n > 0)
        out_ << (towardsCaller ? "Initial frame selected; you cannot go up.\n"
                               : "Bottom (innermost) frame selected; you cannot go down.\n");
    else
        showFrameLine();
}

std::string CommandLineDebugger::frameName() const {
    Context* ctx = currentContext();
    std::string name = ctx && ctx->me() ? StoreException::ObjectName(ctx->me()) : "";
    if (InterProcField* p = currentProcedure()) name += (name.empty() ? "" : ".") + std::string(p->name());
    return name;
}

void CommandLineDebugger::showFrameLine() {
    if (!currentProcedure()) {
        out_ << "No frame.\n";
        return;
    }
    out_ << frameName() << ":" << currentLine() << "\n";
    out_ << currentLine() << "\t" << sourceLine(currentProcedure(), currentLine()) << "\n";
}

std::string CommandLineDebugger::sourceLine(InterProcField* proc, int32_t line) const {
    std::istringstream src(proc->getSource());
    std::string text;
    for (int32_t n = 1; std::getline(src, text); ++n) {
        if (!text.empty() && text.back() == '\r') text.pop_back();
        if (n == line) return Trim(text);
    }
    return std::string();
}

// ---- commands ----------------------------------------------------------------------------

bool CommandLineDebugger::command(const std::string& line, bool stopped) {
    if (line.empty()) return false;
    auto [word, rest] = SplitWord(line);
    const auto& names = Commands();
    auto found = names.find(word);
    // "n = 10" assigns to a variable n; it is not "next".
    if (found == names.end() || rest.rfind("=", 0) == 0) {
        statements(line);
        return false;
    }
    const std::string& cmd = found->second;
    int n = 0;
    if (cmd == "break" || cmd == "tbreak") {
        setBreak(rest, cmd == "tbreak");
    } else if (cmd == "condition") {
        auto [num, expr] = SplitWord(rest);
        if (ParseInt(num, n))
            condition(n, expr);
        else
            out_ << "Usage: condition N [EXPR]\n";
    } else if (cmd == "ignore") {
        auto [num, count] = SplitWord(rest);
        int c = 0;
        if (ParseInt(num, n) && ParseInt(count, c) && c >= 0)
            ignore(n, c);
        else
            out_ << "Usage: ignore N COUNT\n";
    } else if (cmd == "commands") {
        if (ParseInt(rest, n))
            commands(n);
        else
            out_ << "Usage: commands N\n";
    } else if (cmd == "disable" || cmd == "enable" || cmd == "delete") {
        enableDisableDelete(cmd, rest);
    } else if (cmd == "watch") {
        watch(rest);
    } else if (cmd == "info") {
        if (rest.rfind("b", 0) == 0 || rest.rfind("w", 0) == 0)
            infoBreakpoints();
        else
            out_ << "Usage: info breakpoints\n";
    } else if (cmd == "run") {
        if (stopped)
            out_ << "The program is already running.\n";
        else
            run();
    } else if (cmd == "continue" || cmd == "step" || cmd == "next" || cmd == "finish") {
        if (!stopped) {
            out_ << "The program is not being run.\n";
            return false;
        }
        if (cmd == "continue") cont();
        if (cmd == "step") trace();
        if (cmd == "next") step();
        if (cmd == "finish") stepOut();
        return true;
    } else if (cmd == "where") {
        where();
    } else if (cmd == "up" || cmd == "down") {
        if (!stopped) {
            out_ << "No stack.\n";
        } else {
            if (!ParseInt(rest, n)) n = 1;
            move(cmd == "up", n);
        }
    } else if (cmd == "print") {
        print(rest);
    } else if (cmd == "list") {
        list();
    } else if (cmd == "catch") {
        if (rest == "on" || rest == "off") {
            trapSystemExceptions(rest == "on");
            trapInterpretiveExceptions(rest == "on");
        }
        out_ << "Exceptions are " << (trapSystemExceptions(kQuery) ? "" : "not ") << "caught.\n";
    } else if (cmd == "quit") {
        quit_ = true;
        if (stopped) throw TerminateExecution();
    } else if (cmd == "help") {
        out_ << kHelp;
    }
    return false;
}

InterProcField* CommandLineDebugger::findProcedure(const std::string& name, std::string& objectName) {
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == name.size()) {
        out_ << "Give the procedure as Object.Method.\n";
        return nullptr;
    }
    objectName = name.substr(0, dot);
    InterObj obj;
    if (!ObjectStore::find(objectName.c_str(), obj) || !obj.get()) {
        out_ << "No object " << objectName << ".\n";
        return nullptr;
    }
    auto* proc = dynamic_cast<InterProcField*>(obj->findField(name.substr(dot + 1).c_str()));
    if (!proc || !proc->isCompiled()) {
        out_ << "No procedure " << name << ".\n";
        return nullptr;
    }
    return proc;
}

InterProcField* CommandLineDebugger::breakPlace(const std::string& where, std::string& objectName, int32_t& line) {
    std::string procName = where;
    line = 0;
    const size_t colon = where.rfind(':');
    int n = 0;
    if (colon != std::string::npos) {
        if (!ParseInt(where.substr(colon + 1), n) || n < 1) {
            out_ << "Give the line as a number.\n";
            return nullptr;
        }
        line = n;
        procName = where.substr(0, colon);
    } else if (ParseInt(where, n)) {
        line = n;
        procName.clear();
    }
    // A file's line, as failure reports print it: FILE:LINE, or a plain
    // line of the program's own file.
    if (places_ && line > 0 && (procName.empty() || procName.find('.') == std::string::npos ||
                                procName.ends_with(".tqs") || procName.ends_with(".qbo"))) {
        std::string object, proc;
        int32_t procLine = 0;
        if (!places_->procedureAt(procName, line, object, proc, procLine)) {
            out_ << "No procedure at line " << line << (procName.empty() ? "" : " of " + procName) << ".\n";
            return nullptr;
        }
        line = procLine;
        procName = object + "." + proc;
    }
    if (!procName.empty()) return findProcedure(procName, objectName);
    InterProcField* proc = currentProcedure();
    if (!proc || line < 1) {
        out_ << "No current procedure: give Object.Method:LINE.\n";
        return nullptr;
    }
    Context* ctx = currentContext();
    objectName = ctx && ctx->me() ? StoreException::ObjectName(ctx->me()) : "";
    return proc;
}

void CommandLineDebugger::setBreak(const std::string& where, bool temporary) {
    std::string objectName;
    int32_t line = 0;
    InterProcField* proc = breakPlace(where, objectName, line);
    if (!proc) return;
    // Line 1 is the Sub or Function line; a breakpoint goes on the first
    // statement at or after the line asked for.
    const int32_t at = proc->getNearestSourceLine(std::max(line, 1));
    if (at < 0) {
        int n = 0;
        out_ << "No statement at or after " << (ParseInt(where, n) ? "line " : "") << where << ".\n";
        return;
    }
    const std::string what = objectName + "." + proc->name() + ":" + std::to_string(at);
    if (findBreakpoint(proc, at)) {
        out_ << "There is a breakpoint at " << what << " already.\n";
        return;
    }
    uint8_t flags = StopPoint::kEnabled | (temporary ? StopPoint::kDeleteAfterFiring : 0);
    auto* bp = new SimpleBreakPoint(proc, at, flags);
    addBreakpoint(bp);
    entries_.push_back({nextNumber_++, bp, proc, at, temporary, what});
    out_ << (temporary ? "Temporary breakpoint " : "Breakpoint ") << entries_.back().number << " at " << what;
    const std::string place = places_ ? places_->placeOf(objectName, proc, at) : std::string();
    out_ << (place.empty() ? "" : " (" + place + ")") << "\n";
}

void CommandLineDebugger::watch(const std::string& expr) {
    if (expr.empty()) {
        out_ << "Usage: watch EXPR\n";
        return;
    }
    try {
        auto* wp = new WatchPoint(nullptr, compiler::CompileExpression(expr, "watch"), expr);
        addWatchpoint(wp);
        entries_.push_back({nextNumber_++, wp, nullptr, 0, false, expr});
        out_ << "Watchpoint " << entries_.back().number << ": " << expr << "\n";
    } catch (const StoreException& e) {
        out_ << ErrorText(e) << "\n";
    }
}

bool CommandLineDebugger::alive(const Entry& e) {
    // Only pointers are compared: a stop point that deleted itself is gone.
    if (!e.proc) {
        const auto all = watchpoints().all();
        return std::find(all.begin(), all.end(), e.point) != all.end();
    }
    const BreakPointList* l = breakpoints().list(e.proc);
    return l && std::find(l->begin(), l->end(), e.point) != l->end();
}

CommandLineDebugger::Entry* CommandLineDebugger::entry(int n) {
    for (Entry& e : entries_)
        if (e.number == n && alive(e)) return &e;
    out_ << "No breakpoint number " << n << ".\n";
    return nullptr;
}

void CommandLineDebugger::replace(Entry& e, BreakPoint* now) {
    replaceBreakpoint(static_cast<BreakPoint*>(e.point), now);
    e.point = now;
}

void CommandLineDebugger::condition(int n, const std::string& expr) {
    Entry* e = entry(n);
    if (!e) return;
    try {
        std::unique_ptr<EvalableExpr> c;
        if (!expr.empty()) c = compiler::CompileExpression(expr, "condition");
        if (e->proc)
            replace(*e, static_cast<BreakPoint*>(e->point)->setCondition(std::move(c), expr));
        else if (c)
            static_cast<WatchPoint*>(e->point)->setCondition(std::move(c), expr);
        out_ << (expr.empty() ? "Breakpoint " + std::to_string(n) + " is now unconditional.\n" : "");
    } catch (const StoreException& x) {
        out_ << ErrorText(x) << "\n";
    }
}

void CommandLineDebugger::ignore(int n, int count) {
    Entry* e = entry(n);
    if (!e) return;
    if (e->proc)
        replace(*e, static_cast<BreakPoint*>(e->point)->setPassCount(count));
    else
        static_cast<WatchPoint*>(e->point)->setPassCount(count);
    out_ << "Will ignore next " << count << " crossings of breakpoint " << n << ".\n";
}

void CommandLineDebugger::commands(int n) {
    Entry* e = entry(n);
    if (!e) return;
    out_ << "Type statements for breakpoint " << n << ", one per line; end with a line saying end.\n";
    std::string text, line;
    while (std::getline(in_, line)) {
        line = Trim(line);
        if (line == "end") break;
        text += line + "\n";
    }
    try {
        std::unique_ptr<EvalableBlock> action;
        if (!text.empty()) action = compiler::CompileStatements(text, "commands");
        if (e->proc)
            replace(*e, static_cast<BreakPoint*>(e->point)->setAction(std::move(action), text));
        else
            static_cast<WatchPoint*>(e->point)->setAction(std::move(action), text);
    } catch (const StoreException& x) {
        out_ << ErrorText(x) << "\n";
    }
}

void CommandLineDebugger::enableDisableDelete(const std::string& verb, const std::string& args) {
    std::vector<int> numbers;
    std::istringstream words(args);
    for (std::string w; words >> w;) {
        int n = 0;
        if (!ParseInt(w, n)) {
            out_ << "Give breakpoint numbers.\n";
            return;
        }
        numbers.push_back(n);
    }
    if (numbers.empty())
        for (const Entry& e : entries_)
            if (alive(e)) numbers.push_back(e.number);
    for (int n : numbers) {
        Entry* e = entry(n);
        if (!e) continue;
        if (verb == "delete") {
            if (e->proc)
                delete removeBreakpoint(static_cast<BreakPoint*>(e->point));
            else
                delete removeWatchpoint(static_cast<WatchPoint*>(e->point));
            entries_.erase(entries_.begin() + (e - entries_.data()));
        } else {
            e->point->enable(verb == "enable");
        }
    }
}

void CommandLineDebugger::infoBreakpoints() {
    bool any = false;
    for (const Entry& e : entries_) {
        if (!alive(e)) continue;
        if (!any) out_ << "Num  Type        Disp  Enb  What\n";
        any = true;
        const StopPoint* p = e.point;
        std::ostringstream row;
        row << e.number;
        std::string num = row.str();
        num.resize(std::max<size_t>(num.size() + 1, 5), ' ');
        out_ << num << (e.proc ? "breakpoint  " : "watchpoint  ") << (e.temporary ? "del   " : "keep  ")
             << (p->isEnabled() ? "y    " : "n    ") << e.what << "\n";
        if (e.proc && p->conditionText()) out_ << "     stop only if " << p->conditionText() << "\n";
        if (p->passCount()) out_ << "     ignore next " << p->passCount() << " hits\n";
        if (p->actionText()) {
            std::istringstream lines(p->actionText());
            for (std::string l; std::getline(lines, l);) out_ << "        " << l << "\n";
        }
    }
    if (!any) out_ << "No breakpoints or watchpoints.\n";
}

// ---- running -----------------------------------------------------------------------------

void CommandLineDebugger::run() {
    std::string objectName;
    InterProcField* proc = target_.empty() ? nullptr : findProcedure(target_, objectName);
    if (!proc) {
        out_ << "Nothing to run.\n";
        return;
    }
    InterObj obj;
    ObjectStore::find(objectName.c_str(), obj);
    running_ = true;
    exceptionShown_ = true;
    try {
        DebugEnabler on;
        int handled = 0;
        // A call takes its arguments as the caller listed them; each run
        // gets its own copy.
        std::unique_ptr<ValueList> args(args_ ? new ValueList(*args_) : nullptr);
        obj->evalIMember(proc->name(), args.get(), &handled);
        if (afterReturn_ && !afterReturn_()) throw TerminateExecution();
        out_ << "Program finished.\n";
        status_ = 0;
    } catch (const TerminateExecution&) {
        out_ << "Program terminated.\n";
        status_ = 0;
    } catch (const StoreException& e) {
        out_ << "Program ended with an error: " << e.what();
        if (e.line >= 0) out_ << " (line " << e.line << ")";
        out_ << "\n";
        status_ = 1;
    }
    running_ = false;
}

void CommandLineDebugger::where() {
    if (!running_ || !ExecutionStackIterator::topFrame()) {
        out_ << "No stack.\n";
        return;
    }
    ExecutionStackIterator it;
    int k = 0;
    for (StackFrame* f = it.current(); f; f = it.next(ExecutionStackIterator::ESI_PROCEDURE), ++k) {
        std::ostringstream text;
        f->lineWithArgs(text);
        std::string s = text.str();
        if (!s.empty() && s.back() == '\0') s.pop_back();
        const bool here = currentFrame() && &currentFrame()->context() == &f->context();
        out_ << (here ? "* " : "  ") << "#" << k << "  " << s << "\n";
    }
}

void CommandLineDebugger::list() {
    InterProcField* proc = currentProcedure();
    if (!proc) {
        out_ << "No current procedure.\n";
        return;
    }
    std::istringstream src(proc->getSource());
    const int32_t at = currentLine();
    std::string text;
    for (int32_t n = 1; std::getline(src, text); ++n) {
        if (!text.empty() && text.back() == '\r') text.pop_back();
        if (n < at - 5 || n > at + 5) continue;
        out_ << (n == at ? "=> " : "   ") << n << "\t" << text << "\n";
    }
}

Context* CommandLineDebugger::evalContext() {
    Context* ctx = currentContext();
    if (!ctx) out_ << "No frame: the program is not stopped.\n";
    return ctx;
}

void CommandLineDebugger::print(const std::string& expr) {
    Context* ctx = evalContext();
    if (!ctx) return;
    try {
        ValuePtr v = compiler::CompileExpression(expr, "print")->eval(*ctx, 1);
        out_ << expr << " = " << ValueText(*v) << "\n";
    } catch (const StoreException& e) {
        out_ << ErrorText(e) << "\n";
    }
}

void CommandLineDebugger::statements(const std::string& text) {
    Context* ctx = evalContext();
    if (!ctx) return;
    try {
        compiler::CompileStatements(text, "command")->eval(*ctx, 1);
    } catch (const StoreException& e) {
        out_ << ErrorText(e) << "\n";
    }
}

}  // namespace tq::debugcli
