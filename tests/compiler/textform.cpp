#include "textform.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <regex>
#include <sstream>

#include "compiler/astdump.h"

namespace tq::compiler::testing {

namespace {

const char kSuffixes[] = " %&!#@$";

std::string Suffix(uint8_t s) { return s >= 1 && s <= 6 ? std::string(1, kSuffixes[s]) : ""; }

const char* OpText(BinaryOp op) {
    static const char* const kText[] = {"+",  "-",  "*",  "/",   "\\",  "^",   "Mod", "&",
                                        "=",  "<>", ">",  "<",   ">=",  "<=",  "Like", "And",
                                        "Or", "Xor", "Imp", "Eqv", "TypeOf", "&&", "||", "Is"};
    return kText[static_cast<int>(op)];
}

std::string Join(const List<Expr*>& list, const char* sep) {
    std::string out;
    for (uint32_t i = 0; i < list.size(); ++i) {
        if (i) out += sep;
        out += PrintExpr(list[i]);
    }
    return out;
}

std::string Bounds(const List<Bound>& dims) {
    std::string out;
    for (uint32_t i = 0; i < dims.size(); ++i) {
        if (i) out += ", ";
        if (dims[i].lower) out += PrintExpr(dims[i].lower) + " To ";
        out += PrintExpr(dims[i].upper);
    }
    return out;
}

class Printer {
public:
    std::string out;

    // Statements of a block, each on its own line, or joined by " : " when
    // they stand on one line (inside a one-line If).
    void block(const Block* b, int indent, bool inline_) {
        for (uint32_t i = 0; i < b->stmts.size(); ++i) {
            if (inline_) {
                if (i) out += " : ";
                stmt(b->stmts[i], indent, true);
            } else {
                stmt(b->stmts[i], indent, false);
            }
        }
    }

    void begin(int indent, bool inline_) {
        if (!inline_) out.append(static_cast<size_t>(indent) * 2, ' ');
    }
    void end(bool inline_) {
        if (!inline_) out += "\n";
    }
    // The line break between a compound statement's parts.
    void breakLine(int indent, bool inline_) {
        if (inline_) {
            out += " : ";
        } else {
            out += "\n";
            out.append(static_cast<size_t>(indent) * 2, ' ');
        }
    }
    void body(const Block* b, int indent, bool inline_) {
        if (inline_) {
            if (!b->stmts.empty()) {
                out += " : ";
                block(b, indent, true);
            }
        } else {
            out += "\n";
            block(b, indent + 1, false);
        }
    }
    void closing(const char* text, int indent, bool inline_) {
        if (inline_) {
            out += " : ";
        } else {
            out.append(static_cast<size_t>(indent) * 2, ' ');
        }
        out += text;
    }

    void stmt(const Stmt* s, int indent, bool inline_) {
        begin(indent, inline_);
        switch (s->kind) {
        case StmtKind::Assign: {
            auto* a = static_cast<const AssignStmt*>(s);
            if (a->form & kAssignLet) out += "Let ";
            if (a->form & kAssignSet) out += "Set ";
            out += PrintExpr(a->target) + ((a->form & kAssignDeep) ? " := " : " = ") + PrintExpr(a->value);
            break;
        }
        case StmtKind::Call: {
            auto* c = static_cast<const CallStmt*>(s);
            if (c->form == CallForm::Call) out += "Call ";
            if (c->form == CallForm::SendEvent) out += "SendEvent ";
            out += PrintExpr(c->call);
            break;
        }
        case StmtKind::Exit: {
            static const char* const kWhat[] = {"Exit", "Exit Function", "Exit Sub", "Exit For", "Exit Do"};
            out += kWhat[static_cast<int>(static_cast<const ExitStmt*>(s)->what)];
            break;
        }
        case StmtKind::Stop: out += "Stop"; break;
        case StmtKind::If: {
            auto* i = static_cast<const IfStmt*>(s);
            if (i->singleLine) {
                out += "If " + PrintExpr(i->clauses[0].cond) + " Then ";
                block(i->clauses[0].body, indent, true);
                if (i->elseBody) {
                    out += " Else ";
                    block(i->elseBody, indent, true);
                }
                break;
            }
            for (uint32_t n = 0; n < i->clauses.size(); ++n) {
                if (n) closing("", indent, inline_);
                out += (n ? "ElseIf " : "If ") + PrintExpr(i->clauses[n].cond) + " Then";
                body(i->clauses[n].body, indent, inline_);
            }
            if (i->elseBody) {
                closing("Else", indent, inline_);
                body(i->elseBody, indent, inline_);
            }
            closing("End If", indent, inline_);
            break;
        }
        case StmtKind::Select: {
            auto* sel = static_cast<const SelectStmt*>(s);
            out += "Select Case " + PrintExpr(sel->selector);
            for (const CaseClause& c : sel->cases) {
                breakLine(indent + 1, inline_);
                out += "Case ";
                for (uint32_t t = 0; t < c.tests.size(); ++t) {
                    static const char* const kIs[] = {"", "Is == ", "", "", "Is > ", "Is < ", "Is <= ", "Is >= ", "Is <> "};
                    const CaseTestItem& item = c.tests[t];
                    if (t) out += ", ";
                    if (item.test == CaseTest::Value) {
                        out += PrintExpr(item.first);
                    } else if (item.test == CaseTest::Range) {
                        out += PrintExpr(item.first) + " To " + PrintExpr(item.second);
                    } else {
                        out += kIs[static_cast<int>(item.test)] + PrintExpr(item.first);
                    }
                }
                body(c.body, indent + 1, inline_);
            }
            if (sel->elseBody) {
                breakLine(indent + 1, inline_);
                out += "Case Else";
                body(sel->elseBody, indent + 1, inline_);
            }
            closing("End Select", indent, inline_);
            break;
        }
        case StmtKind::Do: {
            auto* d = static_cast<const DoStmt*>(s);
            switch (d->form) {
            case LoopForm::DoWhile: out += "Do While " + PrintExpr(d->cond); break;
            case LoopForm::DoUntil: out += "Do Until " + PrintExpr(d->cond); break;
            case LoopForm::WhileWend: out += "While " + PrintExpr(d->cond); break;
            default: out += "Do"; break;
            }
            body(d->body, indent, inline_);
            switch (d->form) {
            case LoopForm::LoopWhile: closing(("Loop While " + PrintExpr(d->cond)).c_str(), indent, inline_); break;
            case LoopForm::LoopUntil: closing(("Loop Until " + PrintExpr(d->cond)).c_str(), indent, inline_); break;
            case LoopForm::WhileWend: closing("Wend", indent, inline_); break;
            default: closing("Loop", indent, inline_); break;
            }
            break;
        }
        case StmtKind::For: {
            auto* f = static_cast<const ForStmt*>(s);
            if (f->each == ForKind::Standard) {
                out += "For " + PrintExpr(f->var) + " = " + PrintExpr(f->start) + " To " + PrintExpr(f->end);
                if (f->step) out += " Step " + PrintExpr(f->step);
            } else {
                static const char* const kEach[] = {"", "In", "EmbeddedIn", "CopiedFrom"};
                out += "For Each " + PrintExpr(f->var) + " " + kEach[static_cast<int>(f->each)] + " " +
                       PrintExpr(f->start);
            }
            body(f->body, indent, inline_);
            closing(f->nextNamesVar ? ("Next " + PrintExpr(f->var)).c_str() : "Next", indent, inline_);
            break;
        }
        case StmtKind::Print: {
            auto* p = static_cast<const PrintStmt*>(s);
            if (p->target && p->hashTarget) {
                out += "Print #" + PrintExpr(p->target) + ", ";
            } else if (p->target) {
                out += PrintExpr(p->target) + ".Print ";
            } else {
                out += "Print ";
            }
            for (const PrintItem& item : p->items) {
                if (item.sep == PrintSep::Comma) out += ", ";
                if (item.sep == PrintSep::Semicolon) out += "; ";
                if (item.kind == PrintItemKind::Spc) out += "Spc(" + PrintExpr(item.expr) + ")";
                if (item.kind == PrintItemKind::Tab) out += "Tab(" + PrintExpr(item.expr) + ")";
                if (item.kind == PrintItemKind::Expr) out += PrintExpr(item.expr);
            }
            if (p->last == PrintSep::Comma) out += ", ";
            if (p->last == PrintSep::Semicolon) out += "; ";
            break;
        }
        case StmtKind::Randomize: {
            auto* r = static_cast<const RandomizeStmt*>(s);
            out += "Randomize";
            if (r->seed) out += " " + PrintExpr(r->seed);
            break;
        }
        case StmtKind::Redim: {
            auto* r = static_cast<const RedimStmt*>(s);
            out += std::string("Redim ") + (r->preserve ? "Preserve " : "") + PrintExpr(r->array) + "(" +
                   Bounds(r->dims) + ")";
            break;
        }
        case StmtKind::Try: {
            auto* t = static_cast<const TryStmt*>(s);
            out += "Try";
            body(t->body, indent, inline_);
            for (const CatchClause& c : t->catches) {
                closing(std::string(c.text).c_str(), indent, inline_);
                body(c.body, indent, inline_);
            }
            closing("End Try", indent, inline_);
            break;
        }
        case StmtKind::Throw: {
            auto* t = static_cast<const ThrowStmt*>(s);
            out += "Throw";
            if (t->exception) out += " " + PrintExpr(t->exception);
            break;
        }
        case StmtKind::With: {
            auto* w = static_cast<const WithStmt*>(s);
            out += "With " + PrintExpr(w->object);
            body(w->body, indent, inline_);
            closing("End With", indent, inline_);
            break;
        }
        case StmtKind::Decl: out += std::string(static_cast<const DeclStmt*>(s)->text); break;
        }
        end(inline_);
    }

    void procedure(const Procedure* p, int indent) {
        out.append(static_cast<size_t>(indent) * 2, ' ');
        out += std::string(p->header) + "\n";
        block(p->body, indent + 1, false);
        out.append(static_cast<size_t>(indent) * 2, ' ');
        out += p->isFunction ? "End Function\n" : "End Sub\n";
    }

    void object(const ObjectDecl* o, int indent) {
        out.append(static_cast<size_t>(indent) * 2, ' ');
        out += std::string(o->embedded ? "Type " : "Begin Object ") + std::string(o->name);
        if (!o->from.empty()) out += " From " + std::string(o->from);
        out += "\n";
        const std::string pad(static_cast<size_t>(indent + 1) * 2, ' ');
        for (const ObjectMember& m : o->members) {
            switch (m.kind) {
            case MemberKind::Field: out += pad + std::string(m.field->text) + "\n"; break;
            case MemberKind::Event: out += pad + std::string(m.event->text) + "\n"; break;
            case MemberKind::Declare: out += pad + std::string(m.declare->text) + "\n"; break;
            case MemberKind::InitialValue:
                out += pad + "." + std::string(m.value->field) + (m.value->deep ? " := " : " = ") +
                       PrintExpr(m.value->value) + "\n";
                break;
            case MemberKind::Procedure: procedure(m.procedure, indent + 1); break;
            case MemberKind::Embedded: object(m.embedded, indent + 1); break;
            }
        }
        out.append(static_cast<size_t>(indent) * 2, ' ');
        out += o->embedded ? "End Type\n" : "End Object\n";
    }
};

void Forms(const Expr* e, std::set<std::string>& f);

void FormsOfBlock(const Block* b, std::set<std::string>& f);

void FormsOfStmt(const Stmt* s, std::set<std::string>& f) {
    static const char* const kStmt[] = {"Assign", "Call", "Exit", "Stop", "If", "Select", "Do", "For",
                                        "Print", "Randomize", "Redim", "Try", "Throw", "With", "Decl"};
    f.insert(std::string("stmt:") + kStmt[static_cast<int>(s->kind)]);
    switch (s->kind) {
    case StmtKind::Assign: {
        auto* a = static_cast<const AssignStmt*>(s);
        f.insert(a->form & kAssignLet ? "assign:Let" : a->form & kAssignSet ? "assign:Set" : "assign:plain");
        if (a->form & kAssignDeep) f.insert("assign:deep");
        Forms(a->target, f);
        Forms(a->value, f);
        break;
    }
    case StmtKind::Call: {
        auto* c = static_cast<const CallStmt*>(s);
        static const char* const kForm[] = {"Bare", "", "Call", "", "SendEvent"};
        f.insert(std::string("call:") + kForm[static_cast<int>(c->form)]);
        Forms(c->call, f);
        break;
    }
    case StmtKind::Exit: {
        static const char* const kWhat[] = {"Plain", "Function", "Sub", "For", "Do"};
        f.insert(std::string("exit:") + kWhat[static_cast<int>(static_cast<const ExitStmt*>(s)->what)]);
        break;
    }
    case StmtKind::If: {
        auto* i = static_cast<const IfStmt*>(s);
        f.insert(i->singleLine ? "if:line" : "if:block");
        if (i->clauses.size() > 1) f.insert("if:ElseIf");
        if (i->elseBody) f.insert("if:Else");
        for (const IfClause& c : i->clauses) {
            Forms(c.cond, f);
            FormsOfBlock(c.body, f);
        }
        if (i->elseBody) FormsOfBlock(i->elseBody, f);
        break;
    }
    case StmtKind::Select: {
        auto* sel = static_cast<const SelectStmt*>(s);
        Forms(sel->selector, f);
        for (const CaseClause& c : sel->cases) {
            for (const CaseTestItem& t : c.tests) {
                f.insert("case:" + std::to_string(static_cast<int>(t.test)));
                Forms(t.first, f);
                Forms(t.second, f);
            }
            FormsOfBlock(c.body, f);
        }
        if (sel->elseBody) {
            f.insert("case:Else");
            FormsOfBlock(sel->elseBody, f);
        }
        break;
    }
    case StmtKind::Do: {
        auto* d = static_cast<const DoStmt*>(s);
        f.insert("loop:" + std::to_string(static_cast<int>(d->form)));
        Forms(d->cond, f);
        FormsOfBlock(d->body, f);
        break;
    }
    case StmtKind::For: {
        auto* fo = static_cast<const ForStmt*>(s);
        f.insert("for:" + std::to_string(static_cast<int>(fo->each)));
        if (fo->step) f.insert("for:Step");
        if (fo->nextNamesVar) f.insert("for:NextNamed");
        Forms(fo->var, f);
        Forms(fo->start, f);
        Forms(fo->end, f);
        Forms(fo->step, f);
        FormsOfBlock(fo->body, f);
        break;
    }
    case StmtKind::Print: {
        auto* p = static_cast<const PrintStmt*>(s);
        if (p->target) f.insert(p->hashTarget ? "print:#target" : "print:target");
        if (p->items.empty()) f.insert("print:empty");
        for (const PrintItem& item : p->items) {
            f.insert("print:item" + std::to_string(static_cast<int>(item.kind)));
            f.insert("print:sep" + std::to_string(static_cast<int>(item.sep)));
            Forms(item.expr, f);
        }
        f.insert("print:last" + std::to_string(static_cast<int>(p->last)));
        break;
    }
    case StmtKind::Randomize: {
        auto* r = static_cast<const RandomizeStmt*>(s);
        f.insert(r->seed ? "randomize:seed" : "randomize:plain");
        Forms(r->seed, f);
        break;
    }
    case StmtKind::Redim: {
        auto* r = static_cast<const RedimStmt*>(s);
        if (r->preserve) f.insert("redim:Preserve");
        for (const Bound& b : r->dims) {
            Forms(b.lower, f);
            Forms(b.upper, f);
        }
        break;
    }
    case StmtKind::Try: {
        auto* t = static_cast<const TryStmt*>(s);
        FormsOfBlock(t->body, f);
        for (const CatchClause& c : t->catches) {
            f.insert(c.name.empty() ? "catch:any" : c.hasParams ? "catch:params" : "catch:name");
            FormsOfBlock(c.body, f);
        }
        break;
    }
    case StmtKind::Throw: {
        auto* t = static_cast<const ThrowStmt*>(s);
        f.insert(t->exception ? "throw:name" : "throw:rethrow");
        Forms(t->exception, f);
        break;
    }
    case StmtKind::With: {
        auto* w = static_cast<const WithStmt*>(s);
        Forms(w->object, f);
        FormsOfBlock(w->body, f);
        break;
    }
    case StmtKind::Decl: {
        auto* d = static_cast<const DeclStmt*>(s);
        static const char* const kKind[] = {"Dim", "Static", "Const", "Protected"};
        f.insert(std::string("decl:") + kKind[static_cast<int>(d->decl)]);
        for (const Declarator& v : d->vars) {
            if (v.isArray) f.insert("decl:array");
            if (v.suffix) f.insert("decl:suffix");
            if (v.type.isNew) f.insert("decl:New");
            Forms(v.value, f);
        }
        break;
    }
    default: break;
    }
}

void FormsOfBlock(const Block* b, std::set<std::string>& f) {
    if (!b) return;
    for (const Stmt* s : b->stmts) FormsOfStmt(s, f);
}

void Forms(const Expr* e, std::set<std::string>& f) {
    if (!e) return;
    static const char* const kKind[] = {"Name", "Call", "Member", "Integer", "Double", "String",
                                        "Nothing", "Bool", "Binary", "Unary", "Intrinsic"};
    f.insert(std::string("expr:") + kKind[static_cast<int>(e->kind)]);
    if (e->parenthesized) f.insert("expr:parens");
    switch (e->kind) {
    case ExprKind::Name: {
        auto* n = static_cast<const NameExpr*>(e);
        if (n->me) f.insert("name:Me");
        if (n->dotted) f.insert("name:dotted");
        if (n->emptyParens) f.insert("name:()");
        if (n->suffix) f.insert("name:suffix" + std::to_string(n->suffix));
        break;
    }
    case ExprKind::Call: {
        auto* c = static_cast<const CallExpr*>(e);
        f.insert(c->parenArgs ? "callexpr:parens" : "callexpr:bare");
        if (c->me) f.insert("callexpr:Me");
        for (Expr* a : c->args) Forms(a, f);
        break;
    }
    case ExprKind::Member:
        for (Expr* p : static_cast<const MemberExpr*>(e)->pieces) Forms(p, f);
        break;
    case ExprKind::Integer:
        f.insert("integer:radix" + std::to_string(static_cast<const IntegerExpr*>(e)->radix));
        break;
    case ExprKind::Binary: {
        auto* b = static_cast<const BinaryExpr*>(e);
        f.insert(std::string("binary:") + OpText(b->op));
        Forms(b->left, f);
        Forms(b->right, f);
        break;
    }
    case ExprKind::Unary: {
        auto* u = static_cast<const UnaryExpr*>(e);
        f.insert(u->op == UnaryOp::Neg ? "unary:-" : "unary:Not");
        Forms(u->operand, f);
        break;
    }
    case ExprKind::Intrinsic: {
        auto* i = static_cast<const IntrinsicExpr*>(e);
        f.insert("builtin:" + std::string(InfoOf(i->fn).spelling));
        if (i->dollar) f.insert("builtin:$");
        for (Expr* a : i->args) Forms(a, f);
        break;
    }
    default: break;
    }
}

void FormsOfObject(const ObjectDecl* o, std::set<std::string>& f) {
    f.insert(o->embedded ? "object:Type" : "object:Begin");
    if (!o->from.empty()) f.insert("object:From");
    for (const ObjectMember& m : o->members) {
        switch (m.kind) {
        case MemberKind::Field: FormsOfStmt(m.field, f); break;
        case MemberKind::Event: f.insert("member:Event"); break;
        case MemberKind::Declare: f.insert(m.declare->hasAlias ? "member:DeclareAlias" : "member:Declare"); break;
        case MemberKind::InitialValue:
            f.insert(m.value->deep ? "member:InitialDeep" : "member:Initial");
            Forms(m.value->value, f);
            break;
        case MemberKind::Procedure:
            f.insert(m.procedure->isFunction ? "member:Function" : "member:Sub");
            if (m.procedure->allStatic) f.insert("member:Static");
            for (const Param& p : m.procedure->params) {
                if (p.byVal) f.insert("param:ByVal");
                if (p.byRef) f.insert("param:ByRef");
                if (p.isArray) f.insert("param:array");
                if (p.type.strictly) f.insert("param:Strictly");
            }
            FormsOfBlock(m.procedure->body, f);
            break;
        case MemberKind::Embedded: FormsOfObject(m.embedded, f); break;
        }
    }
}

}  // namespace

std::string PrintExpr(const Expr* e) {
    if (!e) return "";
    std::string out;
    switch (e->kind) {
    case ExprKind::Name: {
        auto* n = static_cast<const NameExpr*>(e);
        out = std::string(n->dotted ? "." : "") + (n->me ? "Me" : std::string(n->name)) + Suffix(n->suffix) +
              (n->emptyParens ? "()" : "");
        break;
    }
    case ExprKind::Call: {
        auto* c = static_cast<const CallExpr*>(e);
        out = std::string(c->dotted ? "." : "") + (c->me ? "Me" : std::string(c->name)) + Suffix(c->suffix) +
              (c->parenArgs ? "(" : " ") + Join(c->args, ", ") + (c->parenArgs ? ")" : "");
        break;
    }
    case ExprKind::Member: out = Join(static_cast<const MemberExpr*>(e)->pieces, "."); break;
    case ExprKind::Integer: {
        auto* n = static_cast<const IntegerExpr*>(e);
        char buf[24];
        if (n->radix == 16) {
            std::snprintf(buf, sizeof buf, "&H%X", static_cast<uint32_t>(n->value));
        } else if (n->radix == 8) {
            std::snprintf(buf, sizeof buf, "&O%o", static_cast<uint32_t>(n->value));
        } else {
            std::snprintf(buf, sizeof buf, "%d", n->value);
        }
        out = buf;
        break;
    }
    case ExprKind::Double: {
        const double v = static_cast<const DoubleExpr*>(e)->value;
        char buf[40];
        auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
        out.assign(buf, end);
        if (out.find_first_of(".e") == std::string::npos) out += ".0";
        break;
    }
    case ExprKind::String: {
        out = "\"";
        for (char c : static_cast<const StringExpr*>(e)->text) {
            const auto u = static_cast<uint8_t>(c);
            if (c == '"') {
                out += "\"\"";
            } else if (c == '^') {
                out += "^^";
            } else if ((u >= 1 && u <= 31) || u == 127) {
                out += '^';
                out += static_cast<char>(u == 127 ? '?' : u + 64);
            } else {
                out += c;
            }
        }
        out += "\"";
        break;
    }
    case ExprKind::Nothing: out = "Nothing"; break;
    case ExprKind::Bool: out = static_cast<const BoolExpr*>(e)->value ? "True" : "False"; break;
    case ExprKind::Binary: {
        auto* b = static_cast<const BinaryExpr*>(e);
        if (b->op == BinaryOp::TypeOf) {
            out = "TypeOf " + PrintExpr(b->left) + " Is " + PrintExpr(b->right);
        } else {
            out = PrintExpr(b->left) + " " + OpText(b->op) + " " + PrintExpr(b->right);
        }
        break;
    }
    case ExprKind::Unary: {
        auto* u = static_cast<const UnaryExpr*>(e);
        out = (u->op == UnaryOp::Neg ? "-" : "Not ") + PrintExpr(u->operand);
        break;
    }
    case ExprKind::Intrinsic: {
        auto* i = static_cast<const IntrinsicExpr*>(e);
        out = std::string(InfoOf(i->fn).spelling) + (i->dollar ? "$" : "") + "(" + Join(i->args, ", ") + ")";
        break;
    }
    }
    return e->parenthesized ? "(" + out + ")" : out;
}

std::string PrintTree(const SyntaxTree& tree) {
    Printer p;
    switch (tree.goal()) {
    case ParseGoal::Module:
        for (const ModuleItem& item : tree.module()->items) {
            if (item.kind == ItemKind::Object) {
                p.object(item.object, 0);
                continue;
            }
            const EnumDecl* e = item.enumeration;
            p.out += "Enum " + std::string(e->name) + "\n";
            for (const EnumEntry& x : e->entries)
                p.out += "  " + std::string(x.name) + (x.hasValue ? " = " + std::to_string(x.value) : "") + "\n";
            p.out += "End Enum\n";
        }
        break;
    case ParseGoal::Statements: p.block(tree.statements()->body, 0, false); break;
    case ParseGoal::Expression: p.out = PrintExpr(tree.expression()) + "\n"; break;
    case ParseGoal::Procedure: p.procedure(tree.procedure(), 0); break;
    }
    return p.out;
}

std::string ShapeOf(const SyntaxTree& tree) {
    static const std::regex comment(R"re(^ *\d+:\d+ (Rem|')".*\n)re", std::regex::multiline);
    static const std::regex position(R"(^( *)\d+(:\d+)? )", std::regex::multiline);
    static const std::regex ends(R"( \{(to|end) \d+\})");
    std::string s = DumpTree(tree);
    s = std::regex_replace(s, comment, "");
    s = std::regex_replace(s, position, "$1");
    return std::regex_replace(s, ends, "");
}

std::set<std::string> FormsOf(const SyntaxTree& tree) {
    std::set<std::string> f;
    switch (tree.goal()) {
    case ParseGoal::Module:
        for (const ModuleItem& item : tree.module()->items) {
            if (item.kind == ItemKind::Object) FormsOfObject(item.object, f);
            else f.insert("module:Enum");
        }
        break;
    case ParseGoal::Statements: FormsOfBlock(tree.statements()->body, f); break;
    case ParseGoal::Expression: Forms(tree.expression(), f); break;
    case ParseGoal::Procedure: FormsOfBlock(tree.procedure()->body, f); break;
    }
    return f;
}

}  // namespace tq::compiler::testing
