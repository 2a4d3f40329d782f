#include "compiler/deadsrc.h"

#include <algorithm>

namespace tq::compiler {

namespace {

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

// Walks blocks with an explicit stack: nesting is bounded by the parser,
// but the walk need not rely on it.
void Collect(const Block* root, std::vector<DeadLine>& out) {
    std::vector<const Block*> todo{root};
    while (!todo.empty()) {
        const Block* b = todo.back();
        todo.pop_back();
        if (!b) continue;
        for (const Stmt* s : b->stmts) {
            switch (s->kind) {
            case StmtKind::Decl:
                out.push_back({s->pos, DeadKind::Text, static_cast<const DeclStmt*>(s)->text});
                break;
            case StmtKind::If: {
                auto* i = static_cast<const IfStmt*>(s);
                for (const IfClause& c : i->clauses) todo.push_back(c.body);
                todo.push_back(i->elseBody);
                break;
            }
            case StmtKind::Select: {
                auto* sel = static_cast<const SelectStmt*>(s);
                for (const CaseClause& c : sel->cases) todo.push_back(c.body);
                todo.push_back(sel->elseBody);
                break;
            }
            case StmtKind::Do: todo.push_back(static_cast<const DoStmt*>(s)->body); break;
            case StmtKind::For: todo.push_back(static_cast<const ForStmt*>(s)->body); break;
            case StmtKind::With: todo.push_back(static_cast<const WithStmt*>(s)->body); break;
            case StmtKind::Try: {
                auto* t = static_cast<const TryStmt*>(s);
                todo.push_back(t->body);
                for (const CatchClause& c : t->catches) {
                    out.push_back({c.pos, DeadKind::Text, c.text});
                    todo.push_back(c.body);
                }
                break;
            }
            default: break;
            }
        }
    }
}

void AddComments(const List<Comment>& comments, std::vector<DeadLine>& out) {
    for (const Comment& c : comments)
        out.push_back({c.pos, c.kind == CommentKind::Rem ? DeadKind::Rem : DeadKind::Apostrophe, Trim(c.text)});
}

void Sort(std::vector<DeadLine>& out) {
    std::stable_sort(out.begin(), out.end(), [](const DeadLine& a, const DeadLine& b) { return a.pos < b.pos; });
}

}  // namespace

std::vector<DeadLine> DeadSourceOf(const Procedure& proc) {
    std::vector<DeadLine> out;
    out.push_back({proc.pos, DeadKind::Text, proc.header});
    Collect(proc.body, out);
    AddComments(proc.comments, out);
    Sort(out);
    return out;
}

std::vector<DeadLine> DeadSourceOf(const StatementList& list) {
    std::vector<DeadLine> out;
    Collect(list.body, out);
    AddComments(list.comments, out);
    Sort(out);
    return out;
}

}  // namespace tq::compiler
