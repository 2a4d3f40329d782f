// The program generator (progen.h tells what the programs hold).
#include "progen.h"

#include <set>
#include <vector>

namespace tq::compiler::test {

namespace {

enum class Ty { Long, Integer, Double, String };

const char* TypeName(Ty t) {
    switch (t) {
        case Ty::Long: return "Long";
        case Ty::Integer: return "Integer";
        case Ty::Double: return "Double";
        case Ty::String: return "String";
    }
    return "Long";
}

struct Var {
    std::string name;
    Ty type;
    bool array = false;  // always of Long, bounds 0 To 5 or set by ReDim
    bool field = false;
};

struct Param {
    Var var;
    bool byVal = false;
};

// A plain procedure keeps to what the register form takes (numbers,
// string locals, local arrays, calls of plain procedures with locals by
// reference, Str alone of the intrinsics): most procedures are plain, so
// that most of a program runs in register form, calling and called by
// procedures on the tree walker.
struct Proc {
    std::string name;
    bool isFunction = false;
    bool plain = false;
    Ty result = Ty::Long;
    std::vector<Param> params;
};

// Values near the edges of each type, and ordinary ones.
const char* const kLongs[] = {"0",     "1",     "2",      "3",          "7",           "-1",       "10",
                              "100",   "-100",  "255",    "1000",       "32767",       "-32768",   "65536",
                              "46341", "99999", "1000000", "2147483647", "-2147483647", "123456789"};
const char* const kIntegers[] = {"0", "1", "2", "-3", "100", "255", "1000", "32767", "-32768", "181"};
const char* const kDoubles[] = {"0.5", "1.5", "-2.25", "3.0", "0.1", "1E10", "-7.75", "1E300", "2.5E-3", "100.0"};
const char* const kStrings[] = {"\"\"", "\"a\"", "\"abc\"", "\"Hello\"", "\" pad \"", "\"x-y\"", "\"TQ\""};
const char* const kCompare[] = {"=", "<>", "<", ">", "<=", ">="};

template <size_t N>
const char* PickOf(const char* const (&list)[N], uint32_t r) {
    return list[r % N];
}

class Generator {
public:
    Generator(uint32_t seed, const KnownOpenKinds& avoid)
        : state_(seed * 0x9E3779B97F4A7C15ull + 1), walkState_(seed * 0xD1B54A32D192ED03ull + 7), avoid_(avoid) {}

    std::string program();

private:
    // splitmix64: the same numbers on every machine and library.
    uint32_t next() {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return static_cast<uint32_t>((z ^ (z >> 31)) >> 16);
    }
    int pick(int n) { return static_cast<int>(next() % static_cast<uint32_t>(n)); }
    // The walks over objects draw from a sequence of their own, so that
    // the rest of each seed's program is what it was before they came.
    int pickWalk(int n) {
        uint64_t z = (walkState_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return static_cast<int>(static_cast<uint32_t>((z ^ (z >> 31)) >> 16) % static_cast<uint32_t>(n));
    }
    bool chance(int percent) { return pick(100) < percent; }

    std::string procedure(size_t index);
    void block(int depth, int indent, int statements);
    void statement(int depth, int indent);
    void line(int indent, const std::string& text) { body_ += std::string(2 * indent, ' ') + text + "\n"; }

    std::string expr(Ty t, int depth);
    std::string wholeNumber(Ty t, int depth);
    std::string cond(int depth, bool plain);
    std::string literal(Ty t);
    std::string index(int depth);
    // A variable of type t that may be written (no running loop's
    // counter); empty when there is none.
    std::string target(Ty t, bool byReference = false);
    const Var* variable(Ty t, bool array, bool writable, bool localOnly = false);
    std::string call(const Proc& p, int depth);
    std::string newLocal(const char* stem, Ty t);
    bool plain() const { return procs_[current_].plain; }

    void assignment(int depth, int indent);
    void forLoop(int depth, int indent);
    void doLoop(int depth, int indent);
    void selectCase(int depth, int indent);
    void tryBlock(int depth, int indent);
    void objectWalk();

    uint64_t state_;
    uint64_t walkState_;
    KnownOpenKinds avoid_;
    std::vector<Proc> procs_;
    size_t current_ = 0;
    std::vector<Var> scope_;
    std::set<std::string> frozen_;  // counters of the loops being written
    std::vector<std::string> locals_;
    std::string body_;
    int counter_ = 0;
    bool inTry_ = false;
    // Whether the procedure being written may hold Try and Throw, which
    // keep it on the tree walker: most do not, so that most run in
    // register form.
    bool throws_ = false;
};

std::string Generator::literal(Ty t) {
    switch (t) {
        case Ty::Long: return PickOf(kLongs, next());
        case Ty::Integer: return PickOf(kIntegers, next());
        case Ty::Double: return PickOf(kDoubles, next());
        case Ty::String: return PickOf(kStrings, next());
    }
    return "0";
}

const Var* Generator::variable(Ty t, bool array, bool writable, bool localOnly) {
    std::vector<const Var*> fit;
    for (const Var& v : scope_)
        if (v.type == t && v.array == array && !(writable && frozen_.count(v.name)) && !(localOnly && v.field))
            fit.push_back(&v);
    return fit.empty() ? nullptr : fit[static_cast<size_t>(pick(static_cast<int>(fit.size())))];
}

std::string Generator::index(int depth) {
    // Mostly inside 0 To 5; now and then just outside, or computed.
    const int k = pick(10);
    if (k < 6) return std::to_string(pick(6));
    if (k == 6 && chance(40)) return chance(50) ? "6" : "-1";
    if (const Var* v = variable(Ty::Long, false, false); v && depth > 0) return "(" + v->name + " Mod 6)";
    return std::to_string(pick(6));
}

std::string Generator::target(Ty t, bool byReference) {
    const bool localOnly = byReference && plain();
    if (t == Ty::Long && chance(20) && !localOnly)
        if (const Var* a = variable(Ty::Long, true, true)) return a->name + "(" + index(1) + ")";
    const Var* v = variable(t, false, true, localOnly);
    return v ? v->name : std::string();
}

std::string Generator::wholeNumber(Ty t, int depth) {
    if (depth <= 0 || chance(30)) {
        if (chance(45))
            if (const Var* v = variable(t, false, false)) return v->name;
        return literal(t);
    }
    switch (pick(t == Ty::Long ? 8 : 5)) {
        case 0:
        case 1: {
            static const char* const ops[] = {"+", "-", "*", "\\", "Mod"};
            const char* op = PickOf(ops, next());
            // A divisor is mostly a literal that is not 0, so that a run
            // goes on long enough to do something.
            const bool divides = op[0] == '\\' || op[0] == 'M';
            const std::string right = divides && chance(75) ? std::to_string(1 + pick(9)) : wholeNumber(t, depth - 1);
            return "(" + wholeNumber(t, depth - 1) + " " + op + " " + right + ")";
        }
        case 2: return "-(" + wholeNumber(t, depth - 1) + ")";
        case 3:
            if (const Var* a = variable(Ty::Long, true, false); a && t == Ty::Long) return a->name + "(" + index(depth) + ")";
            return literal(t);
        case 4: return t == Ty::Long && !plain() ? "Len(" + expr(Ty::String, depth - 1) + ")" : literal(t);
        case 5: return plain() ? literal(t) : "Instr(" + expr(Ty::String, depth - 1) + ", \"a\")";
        case 6: return wholeNumber(Ty::Integer, depth - 1);
        default: {
            // A Function's value inside a larger expression.
            if (avoid_.callChangingAnOperandInOneStatement) return literal(t);
            for (size_t j = current_ + 1; j < procs_.size(); ++j)
                if (procs_[j].isFunction && procs_[j].result == t && (procs_[j].plain || !plain() || !avoid_.registerFormCallerOfTheTreeWalker) &&
                    chance(60))
                    return call(procs_[j], depth - 1);
            return literal(t);
        }
    }
}

std::string Generator::expr(Ty t, int depth) {
    if (t == Ty::Long || t == Ty::Integer) return wholeNumber(t, depth);
    if (t == Ty::String) {
        if (depth <= 0 || chance(30)) {
            if (chance(50))
                if (const Var* v = variable(t, false, false)) return v->name;
            return literal(t);
        }
        switch (pick(plain() ? 2 : 6)) {
            case 0: return "(" + expr(t, depth - 1) + " & " + expr(t, depth - 1) + ")";
            case 1: return "Str(" + wholeNumber(Ty::Long, depth - 1) + ")";
            case 2: return "Left(" + expr(t, depth - 1) + ", " + std::to_string(pick(5)) + ")";
            case 3:
                return "Mid(" + expr(t, depth - 1) + ", " + std::to_string(1 + pick(3)) + ", " + std::to_string(pick(4)) +
                       ")";
            case 4: {
                static const char* const fns[] = {"UCase", "LCase", "Trim", "LTrim"};
                return std::string(PickOf(fns, next())) + "(" + expr(t, depth - 1) + ")";
            }
            default: return "(" + expr(t, depth - 1) + " & " + expr(chance(50) ? Ty::Long : Ty::Double, depth - 1) + ")";
        }
    }
    // Double, mixed with whole numbers.
    if (depth <= 0 || chance(30)) {
        if (chance(45))
            if (const Var* v = variable(t, false, false)) return v->name;
        return chance(70) ? literal(t) : literal(Ty::Long);
    }
    switch (pick(plain() ? 3 : 5)) {
        case 0:
        case 1: {
            static const char* const ops[] = {"+", "-", "*", "/"};
            const Ty left = chance(70) ? Ty::Double : Ty::Long;
            const Ty right = chance(70) ? Ty::Double : Ty::Long;
            return "(" + expr(left, depth - 1) + " " + PickOf(ops, next()) + " " + expr(right, depth - 1) + ")";
        }
        case 2: return wholeNumber(Ty::Long, depth - 1);
        case 3: {
            static const char* const fns[] = {"Int", "Fix", "Abs"};
            return std::string(PickOf(fns, next())) + "(" + expr(t, depth - 1) + ")";
        }
        default: return "Sqr(Abs(" + expr(t, depth - 1) + "))";
    }
}

std::string Generator::cond(int depth, bool plain) {
    if (plain) {
        // A variable against a literal: nothing that can fail.
        static const Ty kinds[] = {Ty::Long, Ty::Integer, Ty::Double, Ty::String};
        const Ty t = kinds[pick(4)];
        const Var* v = variable(t, false, false);
        if (!v) return "True";
        return v->name + " " + PickOf(kCompare, next()) + " " + literal(t);
    }
    if (depth > 0 && chance(25)) {
        static const char* const ops[] = {"And", "Or", "Xor"};
        return "(" + cond(depth - 1, false) + " " + PickOf(ops, next()) + " " + cond(depth - 1, false) + ")";
    }
    if (depth > 0 && chance(10)) return "Not " + cond(depth - 1, false);
    static const Ty kinds[] = {Ty::Long, Ty::Integer, Ty::Double, Ty::String};
    const Ty t = kinds[pick(4)];
    return expr(t, depth) + " " + PickOf(kCompare, next()) + " " + expr(t, depth);
}

std::string Generator::newLocal(const char* stem, Ty t) {
    const std::string name = stem + std::to_string(++counter_);
    locals_.push_back("Dim " + name + " As " + TypeName(t));
    scope_.push_back({name, t, false});
    return name;
}

std::string Generator::call(const Proc& p, int depth) {
    std::string args;
    for (const Param& a : p.params) {
        if (!args.empty()) args += ", ";
        if (a.var.array) {
            const Var* v = variable(Ty::Long, true, true);
            args += v ? v->name : "Table";
        } else if (a.byVal) {
            args += expr(a.var.type, depth);
        } else {
            // By reference: a variable, a field or an element the callee may
            // change.
            const std::string t = target(a.var.type, true);
            args += t.empty() ? expr(a.var.type, depth) : t;
        }
    }
    // A Sub's call is a statement, its arguments after a space; a
    // Function's is an operand, its arguments in parentheses.
    if (p.isFunction) return p.name + "(" + args + ")";
    return args.empty() ? p.name : p.name + " " + args;
}

void Generator::assignment(int depth, int indent) {
    static const Ty kinds[] = {Ty::Long, Ty::Long, Ty::Integer, Ty::Double, Ty::String};
    Ty t = kinds[pick(5)];
    // A whole number may take a Double's value (rounded) only where it
    // cannot leave the range.
    Ty from = t;
    if (!avoid_.doubleToWholeNumberOutOfRange && (t == Ty::Long || t == Ty::Integer) && chance(30)) from = Ty::Double;
    if (t == Ty::Integer && chance(30)) from = Ty::Long;  // narrowing keeps the low 16 bits
    const std::string to = target(t);
    if (to.empty()) return;
    // The kind that is known to differ, written on purpose: the target
    // read, then a Function that may change it called.
    if (!avoid_.callChangingAnOperandInOneStatement && chance(25) && t != Ty::String)
        for (size_t j = current_ + 1; j < procs_.size(); ++j)
            if (procs_[j].isFunction && procs_[j].result == t) {
                // A field: what a Function changes most often.
                std::string field = to;
                for (const Var& v : scope_)
                    if (v.field && v.type == t && !v.array) {
                        field = v.name;
                        break;
                    }
                line(indent, field + " = " + field + " + " + call(procs_[j], 1));
                return;
            }
    line(indent, to + " = " + expr(from, depth));
}

void Generator::forLoop(int depth, int indent) {
    const std::string k = newLocal("k", Ty::Long);
    const int from = pick(4) - 1;
    const int step = chance(75) ? 1 : (chance(50) ? 2 : -1);
    const int to = step > 0 ? from + pick(5) : from - pick(4);
    line(indent, "For " + k + " = " + std::to_string(from) + " To " + std::to_string(to) +
                     (step != 1 ? " Step " + std::to_string(step) : ""));
    frozen_.insert(k);
    block(depth - 1, indent + 1, 1 + pick(3));
    if (chance(25)) line(indent + 1, "If " + cond(1, avoid_.failureInALoopCondition) + " Then Exit For");
    frozen_.erase(k);
    line(indent, "Next " + k);
}

void Generator::doLoop(int depth, int indent) {
    const std::string c = newLocal("c", Ty::Long);
    const std::string n = std::to_string(1 + pick(4));
    line(indent, c + " = 0");
    frozen_.insert(c);
    // The counter is compared with a bound; with failing conditions
    // allowed, the bound is an expression that may fail.
    const std::string bound = avoid_.failureInALoopCondition ? n : "(" + n + " + " + wholeNumber(Ty::Long, 1) + " * 0)";
    const int form = pick(4);
    if (form == 0) line(indent, "Do While " + c + " < " + bound);
    if (form == 1) line(indent, "Do Until " + c + " >= " + bound);
    if (form >= 2) line(indent, "Do");
    line(indent + 1, c + " = " + c + " + 1");
    block(depth - 1, indent + 1, 1 + pick(3));
    if (chance(20)) line(indent + 1, "If " + cond(1, avoid_.failureInALoopCondition) + " Then Exit Do");
    frozen_.erase(c);
    if (form == 0 || form == 1) line(indent, "Loop");
    if (form == 2) line(indent, "Loop While " + c + " < " + bound);
    if (form == 3) line(indent, "Loop Until " + c + " >= " + bound);
}

void Generator::selectCase(int depth, int indent) {
    line(indent, "Select Case " + wholeNumber(Ty::Long, 1));
    line(indent + 1, "Case " + std::to_string(pick(4)));
    block(depth - 1, indent + 2, 1);
    line(indent + 1, "Case " + std::to_string(4 + pick(3)) + ", 10 To 20, Is > 1000");
    block(depth - 1, indent + 2, 1);
    if (chance(60)) {
        line(indent + 1, "Case Else");
        block(depth - 1, indent + 2, 1 + pick(2));
    }
    line(indent, "End Select");
}

void Generator::tryBlock(int depth, int indent) {
    line(indent, "Try");
    const bool wasInTry = inTry_;
    inTry_ = true;
    block(depth - 1, indent + 1, 1 + pick(3));
    if (chance(40)) line(indent + 1, "If " + cond(1, false) + " Then Throw Oops" + (avoid_.catchParameters ? "" : "(7)"));
    inTry_ = wasInTry;
    if (!avoid_.catchParameters && chance(30)) {
        line(indent, "Catch Oops(num As Long)");
        line(indent + 1, "Print \"caught Oops\"; num");
    }
    static const char* const classes[] = {"Oops", "RangeError", "FPException", "Overflow"};
    if (chance(60)) {
        const char* name = PickOf(classes, next());
        line(indent, std::string("Catch ") + name);
        line(indent + 1, std::string("Print \"caught ") + name + "\"");
    }
    line(indent, "Catch");
    line(indent + 1, "Print \"caught\"");
    if (chance(20)) line(indent + 1, "Throw");
    line(indent, "End Try");
}

void Generator::statement(int depth, int indent) {
    const int k = pick(depth > 0 ? 14 : 6);
    switch (k) {
        case 0:
        case 1:
        case 2: assignment(depth, indent); return;
        case 3: {
            static const Ty kinds[] = {Ty::Long, Ty::Integer, Ty::Double, Ty::String};
            const std::string a = expr(kinds[pick(4)], depth);
            const std::string b = expr(kinds[pick(4)], depth);
            static const char* const seps[] = {"; \" \"; ", ", ", "; "};
            line(indent, "Print " + a + PickOf(seps, next()) + b + (chance(10) ? ";" : ""));
            return;
        }
        case 4:
        case 5: {
            // A call of a procedure written later: a Sub as a statement, a
            // Function alone on the right of an assignment to a local.
            if (current_ + 1 >= procs_.size()) {
                assignment(depth, indent);
                return;
            }
            const Proc& p = procs_[current_ + 1 + static_cast<size_t>(pick(static_cast<int>(procs_.size() - current_ - 1)))];
            if (plain() && !p.plain && avoid_.registerFormCallerOfTheTreeWalker) {
                assignment(depth, indent);
                return;
            }
            if (!p.isFunction) {
                line(indent, call(p, 1));
                return;
            }
            const std::string v = newLocal("r", p.result);
            line(indent, v + " = " + call(p, 1));
            return;
        }
        case 6:
        case 7: {
            line(indent, "If " + cond(2, false) + " Then");
            block(depth - 1, indent + 1, 1 + pick(3));
            if (chance(40)) {
                line(indent, "ElseIf " + cond(1, false) + " Then");
                block(depth - 1, indent + 1, 1 + pick(2));
            }
            if (chance(50)) {
                line(indent, "Else");
                block(depth - 1, indent + 1, 1 + pick(2));
            }
            line(indent, "End If");
            return;
        }
        case 8: forLoop(depth, indent); return;
        case 9: doLoop(depth, indent); return;
        case 10: selectCase(depth, indent); return;
        case 11:
            if (throws_)
                tryBlock(depth, indent);
            else
                forLoop(depth, indent);
            return;
        case 12: {
            line(indent, std::string("ReDim ") + (chance(60) ? "Preserve " : "") + "buf(" + std::to_string(pick(7)) + ")");
            return;
        }
        default:
            if (throws_ && (inTry_ ? chance(60) : chance(8))) {
                line(indent, "If " + cond(1, false) + " Then Throw Oops" + (avoid_.catchParameters ? "" : "(7)"));
            } else {
                const Proc& self = procs_[current_];
                line(indent, "If " + cond(1, false) + " Then Exit " + (self.isFunction ? "Function" : "Sub"));
            }
            return;
    }
}

// At the end of a body, now and then: a For Each over the objects embedded
// in Program or over the clones of Cell, with Object variables, Exit For
// and a count that may overflow inside the walk.
void Generator::objectWalk() {
    if (pickWalk(100) >= 35) return;
    const std::string n = std::to_string(current_);
    const std::string w = "w" + n, kept = "kept" + n;
    locals_.push_back("Dim " + w + " As Object, " + kept + " As Object");
    line(2, "For Each " + w + (pickWalk(2) ? " EmbeddedIn Me" : " CopiedFrom Cell"));
    line(3, "Count = Count + " + std::to_string(1 + pickWalk(1000)));
    if (pickWalk(2)) line(3, "If " + w + " Is CellA Then Exit For");
    line(3, kept + " = " + w);
    line(2, "Next");
    line(2, "If " + kept + " Is CellB Then Print \"walked to CellB\"; " + w + " Is " + kept);
}

void Generator::block(int depth, int indent, int statements) {
    for (int i = 0; i < statements; ++i) statement(depth, indent);
}

std::string Generator::procedure(size_t index) {
    current_ = index;
    const Proc& p = procs_[index];
    scope_ = {{"Count", Ty::Long, false, true}, {"Big", Ty::Long, false, true}, {"Small", Ty::Integer, false, true},
              {"Ratio", Ty::Double, false, true}};
    if (!p.plain) {
        scope_.push_back({"Label", Ty::String, false, true});
        scope_.push_back({"Table", Ty::Long, true, true});
    }
    locals_.clear();
    frozen_.clear();
    throws_ = !p.plain;
    body_.clear();
    for (const Param& a : p.params) scope_.push_back(a.var);
    const std::string n = newLocal("n", Ty::Long);
    if (!p.plain && avoid_.registerFormCallerOfTheTreeWalker) line(2, n + " = Len(Label)");
    newLocal("m", Ty::Integer);
    newLocal("d", Ty::Double);
    newLocal("t", Ty::String);
    locals_.push_back("Dim buf() As Long");
    scope_.push_back({"buf", Ty::Long, true});
    // Mostly sized at once; an empty one fails at its first use.
    if (chance(85)) line(2, "ReDim buf(5)");
    // A Function that changes a field at once, for the kind above.
    if (!avoid_.callChangingAnOperandInOneStatement && p.isFunction && chance(50))
        line(2, std::string(chance(50) ? "Count" : chance(50) ? "Small" : "Ratio") + " = " + std::to_string(pick(3)));
    block(3, 2, 3 + pick(5));
    objectWalk();
    if (p.isFunction) line(2, p.name + " = " + expr(p.result, 1));

    std::string head = std::string("  ") + (p.isFunction ? "Function " : "Sub ") + p.name + "(";
    for (size_t i = 0; i < p.params.size(); ++i) {
        const Param& a = p.params[i];
        head += (i ? ", " : "") + std::string(a.byVal ? "ByVal " : "") + a.var.name + (a.var.array ? "()" : "") +
                " As " + TypeName(a.var.type);
    }
    head += ")";
    if (p.isFunction) head += std::string(" As ") + TypeName(p.result);
    std::string out = head + "\n";
    for (const std::string& l : locals_) out += "    " + l + "\n";
    out += body_;
    out += std::string("  End ") + (p.isFunction ? "Function" : "Sub") + "\n";
    return out;
}

std::string Generator::program() {
    const int count = 2 + pick(4);
    procs_.push_back({"Main", false, chance(50), Ty::Long, {}});
    static const Ty kinds[] = {Ty::Long, Ty::Integer, Ty::Double, Ty::String};
    for (int i = 1; i <= count; ++i) {
        Proc p;
        p.isFunction = chance(50);
        p.plain = chance(65);
        p.name = (p.isFunction ? "F" : "S") + std::to_string(i);
        p.result = kinds[pick(p.plain ? 3 : 4)];
        const int params = pick(4);
        for (int j = 0; j < params; ++j) {
            Param a;
            a.var.name = "p" + std::to_string(j);
            a.var.type = kinds[pick(p.plain ? 3 : 4)];
            a.byVal = chance(40);
            if (chance(15) && !p.plain) {
                a.var = {a.var.name, Ty::Long, true};
                a.byVal = false;
            }
            p.params.push_back(a);
        }
        procs_.push_back(p);
    }
    std::string out = "Begin Object Cell\n  Dim V As Long\nEnd Object\n"
                      "Begin Object Program\n"
                      "  Dim CellA As New Cell\n  Dim CellB As New Cell\n"
                      "  Dim Count As Long\n  Dim Big As Long\n  Dim Small As Integer\n  Dim Ratio As Double\n"
                      "  Dim Label As String\n  Dim Table(0 To 5) As Long\n"
                      "  .Count = " + std::string(PickOf(kLongs, next())) + "\n  .Big = 2147483000\n  .Small = " +
                      PickOf(kIntegers, next()) + "\n  .Ratio = " + PickOf(kDoubles, next()) + "\n  .Label = " +
                      PickOf(kStrings, next()) + "\n";
    for (size_t i = procs_.size(); i-- > 1;) out += procedure(i);
    out += procedure(0);
    // Main ends by showing what the calls left in the fields.
    const size_t end = out.rfind("  End Sub\n");
    out.insert(end, "    Print \"end\"; Count; Big; Small; Ratio; Label; Table(0); Table(5)\n");
    out += "End Object\n";
    return out;
}

}  // namespace

std::string GenerateProgram(uint32_t seed, const KnownOpenKinds& avoid) { return Generator(seed, avoid).program(); }

}  // namespace tq::compiler::test
