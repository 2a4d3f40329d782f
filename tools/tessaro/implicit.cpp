#include "tools/tessaro/implicit.h"

#include <cctype>
#include <map>
#include <set>

#include <tqcompile/tqcompile.h>

namespace tessaro {

namespace {

using namespace tq::compiler;

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

class Walker {
public:
    std::set<std::string> declared;
    // lower-case name -> the variable of its first use
    std::map<std::string, ImplicitVariable> wanted;
    std::vector<std::string> order;

    void block(const Block* b) {
        if (!b) return;
        for (const Stmt* s : b->stmts) stmt(*s);
    }

private:
    void use(const Expr* target, const Expr* value) {
        if (!target || target->kind != ExprKind::Name) return;
        const auto& n = static_cast<const NameExpr&>(*target);
        if (n.me || n.dotted || n.name.empty()) return;
        const std::string key = Lower(n.name);
        if (wanted.count(key)) return;
        tq::IdType type = tq::IDT_LONG;
        if (n.suffix > 0 && n.suffix < 7) {
            type = static_cast<tq::IdType>(n.suffix);
        } else if (value && value->kind == ExprKind::String) {
            type = tq::IDT_STRING;
        } else if (value && value->kind == ExprKind::Double) {
            type = tq::IDT_DOUBLE;
        }
        wanted.emplace(key, ImplicitVariable{std::string(n.name), type});
        order.push_back(key);
    }

    void stmt(const Stmt& s) {
        switch (s.kind) {
            case StmtKind::Assign: {
                const auto& a = static_cast<const AssignStmt&>(s);
                use(a.target, a.value);
                break;
            }
            case StmtKind::For: {
                const auto& f = static_cast<const ForStmt&>(s);
                use(f.var, f.start);
                block(f.body);
                break;
            }
            case StmtKind::If: {
                const auto& i = static_cast<const IfStmt&>(s);
                for (const IfClause& c : i.clauses) block(c.body);
                block(i.elseBody);
                break;
            }
            case StmtKind::Select: {
                const auto& sel = static_cast<const SelectStmt&>(s);
                for (const CaseClause& c : sel.cases) block(c.body);
                block(sel.elseBody);
                break;
            }
            case StmtKind::Do: block(static_cast<const DoStmt&>(s).body); break;
            case StmtKind::With: block(static_cast<const WithStmt&>(s).body); break;
            case StmtKind::Try: {
                const auto& t = static_cast<const TryStmt&>(s);
                block(t.body);
                for (const CatchClause& c : t.catches) block(c.body);
                break;
            }
            case StmtKind::Decl:
                for (const Declarator& d : static_cast<const DeclStmt&>(s).vars) declared.insert(Lower(d.name));
                break;
            default: break;
        }
    }
};

}  // namespace

std::vector<ImplicitVariable> ImplicitVariables(std::string_view source,
                                                const std::function<bool(std::string_view)>& known) {
    SyntaxTree tree = ParseStatements(source, "");
    if (!tree.ok() || !tree.statements()) return {};
    Walker w;
    w.block(tree.statements()->body);
    std::vector<ImplicitVariable> out;
    for (const std::string& key : w.order)
        if (!w.declared.count(key) && !known(key)) out.push_back(w.wanted.at(key));
    return out;
}

}  // namespace tessaro
