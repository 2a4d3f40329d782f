// The command-line debugger's engine: a Debugger host that reads commands
// from one stream and writes what it shows to another, in the manner of
// gdb. The `tessaro debug` command puts it on standard input and output;
// tests drive it with strings.
//
//   CommandLineDebugger dbg(std::cin, std::cout);
//   dbg.session("Prog.Main");          // commands until quit or end of input
//
// Commands (a unique prefix of a name works where gdb allows one: b, c, s,
// n, p, bt, l, q):
//   break Object.Method:LINE | Object.Method | FILE:LINE | LINE
//   tbreak (the same, once)
//   condition N [EXPR]   ignore N COUNT   commands N (lines, then "end")
//   disable|enable|delete [N...]   watch EXPR   info breakpoints
//   run   continue   step   next   finish   where   up [N]   down [N]
//   print EXPR   list   catch on|off   quit
// Any other line is run as statements of the language in the current
// frame (assignments: x = 5; a line whose second word is "=" is always an
// assignment, so "n = 10" sets n rather than stepping).
//
// Lines are lines of a procedure's regenerated source, counted from its
// Sub/Function line as 1, which is what `list` shows; a breakpoint on a
// line without a statement moves to the next line that has one. A stop
// shows "Object.Method:LINE" and the text of that line.
//
// A host that knows the files the program was read from gives their
// lines (SourcePlaces): then `break FILE:LINE` and `break LINE` take lines
// of the files, as failure reports print them, and a new breakpoint shows
// its file line too. Without one, `break LINE` is a line of the current
// procedure.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include <tqstore/tqstore.h>

namespace tq::debugcli {

// Where procedures stand in the files a person reads.
class SourcePlaces {
public:
    virtual ~SourcePlaces() = default;
    // The procedure that line `line` of file falls in (an empty file: the
    // program's own): its object, its name and the line within it counted
    // from its header (1). False when file names no loaded module or no
    // procedure stands there.
    virtual bool procedureAt(const std::string& file, int32_t line, std::string& object, std::string& proc,
                             int32_t& procLine) = 0;
    // "file:line" of line `line` (from its header) of proc of object;
    // empty when unknown.
    virtual std::string placeOf(const std::string& object, InterProcField* proc, int32_t line) = 0;
};

class CommandLineDebugger final : public Debugger {
public:
    CommandLineDebugger(std::istream& in, std::ostream& out);
    ~CommandLineDebugger() override;

    // Reads and runs commands until quit or the end of the input; `run`
    // runs target ("Object.Method") with args. Returns 0, or 1 when the
    // last run ended with an uncaught error.
    int session(const std::string& target, const ValueList* args = nullptr);
    // The host's knowledge of file lines (kept, not owned; null: none).
    void setPlaces(SourcePlaces* places) { places_ = places; }
    // What the host does when the method returns, still under the
    // debugger: serve the program's timers until none runs, so that a
    // breakpoint in a Timeout handler stops. False when the user broke in
    // while it waited (the run then ends as terminated). None: the run
    // ends with the method.
    void setAfterReturn(std::function<bool()> serve) { afterReturn_ = std::move(serve); }

    void suspend(StopPoint* sp) override;
    void resume() override { resumed_ = true; }
    void frameChanged() override;
    // Notes that the next stop shows the exception it was taken for.
    int error(Context& ctx, StoreException& e) override;

private:
    struct Entry {
        int number;
        StopPoint* point;  // owned by the debugger's tables while alive
        InterProcField* proc;  // a breakpoint's procedure; null for a watchpoint
        int32_t line;
        bool temporary;
        std::string what;  // "Object.Method:LINE", or the watched expression
    };

    // One command; true when it let the program go on (only inside a stop).
    bool command(const std::string& line, bool stopped);
    void run();
    void setBreak(const std::string& where, bool temporary);
    // The procedure and its line a breakpoint's place names; null (and a
    // message) when it names none.
    InterProcField* breakPlace(const std::string& where, std::string& objectName, int32_t& line);
    // up or down by n frames; says so when there is no frame that way.
    void move(bool up, int n);
    void watch(const std::string& expr);
    void condition(int n, const std::string& expr);
    void ignore(int n, int count);
    void commands(int n);
    void enableDisableDelete(const std::string& verb, const std::string& args);
    void infoBreakpoints();
    void where();
    void list();
    void print(const std::string& expr);
    void statements(const std::string& text);
    void showStop(StopPoint* sp);
    void showFrameLine();
    bool readLine(std::string& line);

    // The entry numbered n whose stop point is still in a table; null (and
    // a message) otherwise.
    Entry* entry(int n);
    bool alive(const Entry& e);
    // Keeps the breakpoint that editing returned, in the table and here.
    void replace(Entry& e, BreakPoint* now);
    std::string frameName() const;
    std::string sourceLine(InterProcField* proc, int32_t line) const;
    InterProcField* findProcedure(const std::string& name, std::string& objectName);
    Context* evalContext();

    std::istream& in_;
    std::ostream& out_;
    std::string target_;
    const ValueList* args_ = nullptr;
    SourcePlaces* places_ = nullptr;
    std::function<bool()> afterReturn_;
    bool quietFrame_ = false;
    std::vector<Entry> entries_;
    int nextNumber_ = 1;
    bool resumed_ = false;
    bool exceptionShown_ = true;
    bool running_ = false;
    bool quit_ = false;
    int status_ = 0;
};

}  // namespace tq::debugcli
