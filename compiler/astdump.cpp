#include "compiler/astdump.h"

#include <charconv>
#include <cstdio>

namespace tq::compiler {

namespace {

const char kSuffixes[] = " %&!#@$";

std::string Suffix(uint8_t code) { return code >= 1 && code <= 6 ? std::string(1, kSuffixes[code]) : ""; }

std::string Quote(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
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
    return out + "\"";
}

const char* OpText(BinaryOp op) {
    static const char* const kText[] = {"+",  "-",  "*",  "/",   "\\",  "^",   "Mod", "&",
                                        "=",  "<>", ">",  "<",   ">=",  "<=",  "Like", "And",
                                        "Or", "Xor", "Imp", "Eqv", "TypeOf", "&&", "||", "Is"};
    return kText[static_cast<int>(op)];
}

std::string Args(const List<Expr*>& args) {
    std::string out;
    for (Expr* a : args) out += " " + DumpExpr(a);
    return out;
}

std::string Bounds(const List<Bound>& dims) {
    std::string out = "(";
    for (uint32_t i = 0; i < dims.size(); ++i) {
        if (i) out += ", ";
        if (dims[i].lower) out += DumpExpr(dims[i].lower) + " To ";
        out += DumpExpr(dims[i].upper);
    }
    return out + ")";
}

std::string Params(const List<Param>& params) {
    std::string out = "(";
    for (uint32_t i = 0; i < params.size(); ++i) {
        const Param& p = params[i];
        if (i) out += ", ";
        if (p.byVal) out += "ByVal ";
        if (p.byRef) out += "ByRef ";
        out += std::string(p.name) + Suffix(p.suffix);
        if (p.isArray) out += "()";
        if (p.type.kind != TypeKind::None) out += ":" + DumpType(p.type);
    }
    return out + ")";
}

std::string Pos(SourcePos p) { return std::to_string(p.line) + ":" + std::to_string(p.column); }

std::string To(const Block* b) {
    return b && b->endLine ? " {to " + std::to_string(b->endLine) + "}" : "";
}

class Dumper {
public:
    std::string out;

    void line(int indent, const std::string& text) {
        out.append(static_cast<size_t>(indent) * 2, ' ');
        out += text;
        out += '\n';
    }

    void block(int indent, const Block* b) {
        if (!b) {
            line(indent, "<missing block>");
            return;
        }
        for (const Stmt* s : b->stmts) stmt(indent, s);
    }

    void comments(int indent, const List<Comment>& list) {
        for (const Comment& c : list)
            line(indent, Pos(c.pos) + (c.kind == CommentKind::Rem ? " Rem" : " '") + Quote(c.text));
    }

    void decl(int indent, const DeclStmt* d) {
        static const char* const kKind[] = {"Dim", "Static", "Const", "Protected"};
        std::string text = Pos(d->pos) + " " + kKind[static_cast<int>(d->decl)];
        for (const Declarator& v : d->vars) {
            text += " " + std::string(v.name) + Suffix(v.suffix);
            if (v.isArray) text += v.dims.empty() ? "()" : Bounds(v.dims);
            if (v.type.kind != TypeKind::None) text += ":" + DumpType(v.type);
            if (v.value) text += " = " + DumpExpr(v.value);
        }
        line(indent, text + " text=" + Quote(d->text));
    }

    void stmt(int indent, const Stmt* s) {
        const std::string at = Pos(s->pos) + " ";
        switch (s->kind) {
        case StmtKind::Assign: {
            auto* a = static_cast<const AssignStmt*>(s);
            std::string text = at + "assign";
            if (a->form & kAssignLet) text += " Let";
            if (a->form & kAssignSet) text += " Set";
            if (a->form & kAssignDeep) text += " :=";
            line(indent, text + " " + DumpExpr(a->target) + " " + DumpExpr(a->value));
            break;
        }
        case StmtKind::Call: {
            auto* c = static_cast<const CallStmt*>(s);
            const char* form = c->form == CallForm::Call        ? "Call"
                               : c->form == CallForm::SendEvent ? "SendEvent"
                                                                : "call";
            line(indent, at + form + " " + DumpExpr(c->call));
            break;
        }
        case StmtKind::Exit: {
            static const char* const kWhat[] = {"Exit", "Exit Function", "Exit Sub", "Exit For", "Exit Do"};
            line(indent, at + kWhat[static_cast<int>(static_cast<const ExitStmt*>(s)->what)]);
            break;
        }
        case StmtKind::Stop: line(indent, at + "Stop"); break;
        case StmtKind::If: {
            auto* i = static_cast<const IfStmt*>(s);
            for (uint32_t n = 0; n < i->clauses.size(); ++n) {
                const IfClause& c = i->clauses[n];
                const std::string head = n == 0 ? (i->singleLine ? "If-line " : "If ") : "ElseIf ";
                line(indent, Pos(c.pos) + " " + head + DumpExpr(c.cond) + To(c.body));
                block(indent + 1, c.body);
            }
            if (i->elseBody) {
                line(indent, std::to_string(i->elseLine) + " Else" + To(i->elseBody));
                block(indent + 1, i->elseBody);
            }
            break;
        }
        case StmtKind::Select: {
            auto* sel = static_cast<const SelectStmt*>(s);
            line(indent, at + "Select " + DumpExpr(sel->selector) + " {end " +
                             std::to_string(sel->endLine) + "}");
            for (const CaseClause& c : sel->cases) {
                std::string text = Pos(c.pos) + " Case";
                for (const CaseTestItem& t : c.tests) {
                    static const char* const kIs[] = {"", "Is=", "", "", "Is>", "Is<", "Is<=", "Is>=", "Is<>"};
                    if (t.test == CaseTest::Value) {
                        text += " " + DumpExpr(t.first);
                    } else if (t.test == CaseTest::Range) {
                        text += " (To " + DumpExpr(t.first) + " " + DumpExpr(t.second) + ")";
                    } else {
                        text += std::string(" (") + kIs[static_cast<int>(t.test)] + " " + DumpExpr(t.first) + ")";
                    }
                }
                line(indent, text + To(c.body));
                block(indent + 1, c.body);
            }
            if (sel->elseBody) {
                line(indent, std::to_string(sel->elseLine) + " Case Else" + To(sel->elseBody));
                block(indent + 1, sel->elseBody);
            }
            break;
        }
        case StmtKind::Do: {
            auto* d = static_cast<const DoStmt*>(s);
            std::string head;
            switch (d->form) {
            case LoopForm::DoWhile: head = "Do While " + DumpExpr(d->cond); break;
            case LoopForm::DoUntil: head = "Do Until " + DumpExpr(d->cond); break;
            case LoopForm::LoopWhile: head = "Do ... Loop While " + DumpExpr(d->cond); break;
            case LoopForm::LoopUntil: head = "Do ... Loop Until " + DumpExpr(d->cond); break;
            case LoopForm::Forever: head = "Do"; break;
            case LoopForm::WhileWend: head = "While " + DumpExpr(d->cond); break;
            }
            line(indent, at + head + To(d->body));
            block(indent + 1, d->body);
            break;
        }
        case StmtKind::For: {
            auto* f = static_cast<const ForStmt*>(s);
            std::string head = at;
            if (f->each == ForKind::Standard) {
                head += "For " + DumpExpr(f->var) + " " + DumpExpr(f->start) + " " + DumpExpr(f->end);
                if (f->step) head += " Step " + DumpExpr(f->step);
            } else {
                static const char* const kEach[] = {"", "In", "EmbeddedIn", "CopiedFrom"};
                head += "For Each " + DumpExpr(f->var) + " " + kEach[static_cast<int>(f->each)] + " " +
                        DumpExpr(f->start);
            }
            if (f->nextNamesVar) head += " (Next names it)";
            line(indent, head + To(f->body));
            block(indent + 1, f->body);
            break;
        }
        case StmtKind::Print: {
            auto* p = static_cast<const PrintStmt*>(s);
            std::string text = at + "Print";
            if (p->target) text += std::string(p->hashTarget ? " #" : " to ") + DumpExpr(p->target) + ":";
            for (const PrintItem& item : p->items) {
                if (item.sep == PrintSep::Comma) text += " ,";
                if (item.sep == PrintSep::Semicolon) text += " ;";
                if (item.kind == PrintItemKind::Spc) text += " (Spc " + DumpExpr(item.expr) + ")";
                if (item.kind == PrintItemKind::Tab) text += " (Tab " + DumpExpr(item.expr) + ")";
                if (item.kind == PrintItemKind::Expr) text += " " + DumpExpr(item.expr);
            }
            if (p->last == PrintSep::Comma) text += " ,";
            if (p->last == PrintSep::Semicolon) text += " ;";
            line(indent, text);
            break;
        }
        case StmtKind::Randomize: {
            auto* r = static_cast<const RandomizeStmt*>(s);
            line(indent, at + "Randomize" + (r->seed ? " " + DumpExpr(r->seed) : ""));
            break;
        }
        case StmtKind::Redim: {
            auto* r = static_cast<const RedimStmt*>(s);
            line(indent, at + "ReDim" + (r->preserve ? " Preserve " : " ") + DumpExpr(r->array) +
                             Bounds(r->dims));
            break;
        }
        case StmtKind::Try: {
            auto* t = static_cast<const TryStmt*>(s);
            line(indent, at + "Try" + To(t->body));
            block(indent + 1, t->body);
            for (const CatchClause& c : t->catches) {
                std::string text = Pos(c.pos) + " Catch";
                if (!c.name.empty()) text += " " + std::string(c.name);
                if (c.hasParams) text += Params(c.params);
                line(indent, text + " text=" + Quote(c.text) + To(c.body));
                block(indent + 1, c.body);
            }
            line(indent, std::to_string(t->endLine) + " End Try");
            break;
        }
        case StmtKind::Throw: {
            auto* t = static_cast<const ThrowStmt*>(s);
            line(indent, at + "Throw" + (t->exception ? " " + DumpExpr(t->exception) : ""));
            break;
        }
        case StmtKind::With: {
            auto* w = static_cast<const WithStmt*>(s);
            line(indent, at + "With " + DumpExpr(w->object) + To(w->body));
            block(indent + 1, w->body);
            break;
        }
        case StmtKind::Decl: decl(indent, static_cast<const DeclStmt*>(s)); break;
        }
    }

    void procedure(int indent, const Procedure* p) {
        std::string text = Pos(p->pos) + " " + (p->allStatic ? "Static " : "") +
                           (p->isFunction ? "Function " : "Sub ") + std::string(p->name) + Suffix(p->suffix);
        if (p->hasParens) text += Params(p->params);
        if (p->returnType.kind != TypeKind::None) text += ":" + DumpType(p->returnType);
        line(indent, text + " header=" + Quote(p->header) + To(p->body));
        block(indent + 1, p->body);
        comments(indent + 1, p->comments);
    }

    void object(int indent, const ObjectDecl* o) {
        std::string text = Pos(o->pos) + (o->embedded ? " Type " : " Object ") + std::string(o->name);
        if (!o->from.empty()) text += " From " + std::string(o->from);
        line(indent, text + " {end " + std::to_string(o->endLine) + "}");
        for (const ObjectMember& m : o->members) {
            switch (m.kind) {
            case MemberKind::Field: decl(indent + 1, m.field); break;
            case MemberKind::Event: {
                const EventDecl* e = m.event;
                std::string ev = Pos(e->pos) + " Event " + std::string(e->name) + Params(e->params);
                if (e->returnType.kind != TypeKind::None) ev += ":" + DumpType(e->returnType);
                line(indent + 1, ev + " args=" + Quote(e->argText));
                break;
            }
            case MemberKind::Declare: {
                const DeclareDecl* d = m.declare;
                std::string dl = Pos(d->pos) + " Declare " + (d->isFunction ? "Function " : "Sub ") +
                                 std::string(d->name) + Suffix(d->suffix) + " Lib " + Quote(d->lib);
                if (d->hasAlias) dl += " Alias " + Quote(d->alias);
                dl += Params(d->params);
                if (d->returnType.kind != TypeKind::None) dl += ":" + DumpType(d->returnType);
                line(indent + 1, dl + " text=" + Quote(d->text));
                break;
            }
            case MemberKind::InitialValue: {
                const InitialValue* v = m.value;
                std::string target = std::string(v->field);
                for (size_t i = 0; i < v->indices.size(); ++i)
                    target += (i ? ", " : "(") + DumpExpr(v->indices[i]) + (i + 1 == v->indices.size() ? ")" : "");
                line(indent + 1, Pos(v->pos) + " ." + target + (v->deep ? " := " : " = ") + DumpExpr(v->value));
                break;
            }
            case MemberKind::Procedure: procedure(indent + 1, m.procedure); break;
            case MemberKind::Embedded: object(indent + 1, m.embedded); break;
            }
        }
        comments(indent + 1, o->comments);
    }

    void enumeration(int indent, const EnumDecl* e) {
        line(indent, Pos(e->pos) + " Enum " + std::string(e->name) + " {end " + std::to_string(e->endLine) + "}");
        for (const EnumEntry& x : e->entries)
            line(indent + 1, Pos(x.pos) + " " + std::string(x.name) + " = " + std::to_string(x.value) +
                                 (x.hasValue ? "" : " (next)"));
        comments(indent + 1, e->comments);
    }
};

}  // namespace

std::string DumpType(const TypeRef& t) {
    std::string out;
    if (t.isNew) out += "New ";
    if (t.strictly) out += "Strictly ";
    switch (t.kind) {
    case TypeKind::None: out += "?"; break;
    case TypeKind::Integer: out += "Integer"; break;
    case TypeKind::Long: out += "Long"; break;
    case TypeKind::Single: out += "Single"; break;
    case TypeKind::Double: out += "Double"; break;
    case TypeKind::Currency: out += "Currency"; break;
    case TypeKind::String: out += "String"; break;
    case TypeKind::Object: out += "Object"; break;
    case TypeKind::Variant: out += "Variant"; break;
    case TypeKind::Named: out += std::string(t.name); break;
    }
    return out;
}

std::string DumpExpr(const Expr* e) {
    if (!e) return "<missing>";
    std::string out;
    switch (e->kind) {
    case ExprKind::Name: {
        auto* n = static_cast<const NameExpr*>(e);
        out = (n->dotted ? "." : "") + (n->me ? std::string("Me") : std::string(n->name)) + Suffix(n->suffix) +
              (n->emptyParens ? "()" : "");
        break;
    }
    case ExprKind::Call: {
        auto* c = static_cast<const CallExpr*>(e);
        out = std::string(c->parenArgs ? "(call " : "(bare ") + (c->dotted ? "." : "") +
              (c->me ? std::string("Me") : std::string(c->name)) + Suffix(c->suffix) + Args(c->args) + ")";
        break;
    }
    case ExprKind::Member: out = "(." + Args(static_cast<const MemberExpr*>(e)->pieces) + ")"; break;
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
        char buf[40];
        auto [end, ec] = std::to_chars(buf, buf + sizeof buf, static_cast<const DoubleExpr*>(e)->value);
        out.assign(buf, end);
        if (out.find_first_of(".en") == std::string::npos) out += ".0";
        break;
    }
    case ExprKind::String: out = Quote(static_cast<const StringExpr*>(e)->text); break;
    case ExprKind::Nothing: out = "Nothing"; break;
    case ExprKind::Bool: out = static_cast<const BoolExpr*>(e)->value ? "True" : "False"; break;
    case ExprKind::Binary: {
        auto* b = static_cast<const BinaryExpr*>(e);
        out = std::string("(") + OpText(b->op) + " " + DumpExpr(b->left) + " " + DumpExpr(b->right) + ")";
        break;
    }
    case ExprKind::Unary: {
        auto* u = static_cast<const UnaryExpr*>(e);
        out = std::string(u->op == UnaryOp::Neg ? "(- " : "(Not ") + DumpExpr(u->operand) + ")";
        break;
    }
    case ExprKind::Intrinsic: {
        auto* i = static_cast<const IntrinsicExpr*>(e);
        out = "(" + std::string(InfoOf(i->fn).spelling) + (i->dollar ? "$" : "") + Args(i->args) + ")";
        break;
    }
    }
    return e->parenthesized ? "[" + out + "]" : out;
}

std::string DumpTree(const SyntaxTree& tree) {
    Dumper d;
    switch (tree.goal()) {
    case ParseGoal::Module:
        if (const Module* m = tree.module()) {
            for (const ModuleItem& item : m->items) {
                if (item.kind == ItemKind::Enum) d.enumeration(0, item.enumeration);
                else d.object(0, item.object);
            }
            d.comments(0, m->comments);
        }
        break;
    case ParseGoal::Statements:
        if (const StatementList* s = tree.statements()) {
            d.block(0, s->body);
            d.comments(0, s->comments);
        }
        break;
    case ParseGoal::Expression:
        if (tree.expression()) d.line(0, DumpExpr(tree.expression()));
        d.comments(0, tree.outerComments());
        break;
    case ParseGoal::Procedure:
        if (tree.procedure()) d.procedure(0, tree.procedure());
        d.comments(0, tree.outerComments());
        break;
    }
    return d.out;
}

}  // namespace tq::compiler
