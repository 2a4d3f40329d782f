#include "compiler/codegen.h"

#include <algorithm>
#include <utility>

#include "compiler/codegenimpl.h"
#include "compiler/deadsrc.h"

namespace tq::compiler {

Generator::Generator(Diagnostics& errors, const CodegenOptions& options, uint32_t lineBase, bool allStatic)
    : errors_(errors), options_(options), lineBase_(lineBase), allStatic_(allStatic) {}

void Generator::error(SourcePos pos, std::string message) {
    failed_ = true;
    errors_.add(pos, std::move(message));
}

void Generator::spell(std::string_view name) {
    std::string key = FoldCase(name);
    spellings_.try_emplace(key, std::string(name));
    own_.insert(std::move(key));
}

const std::string& Generator::spelling(std::string_view name) {
    std::string key = FoldCase(name);
    if (auto found = spellings_.find(key); found != spellings_.end()) return found->second;
    std::string spelled(name);
    if (options_.declaredSpelling) {
        const std::string_view known = options_.declaredSpelling(name);
        if (!known.empty()) spelled = std::string(known);
    }
    return spellings_.emplace(std::move(key), std::move(spelled)).first->second;
}

uint16_t Generator::id(std::string_view name, SourcePos pos) {
    std::string key = FoldCase(name);
    if (auto found = indexes_.find(key); found != indexes_.end()) return found->second;
    const uint16_t index = enterId(spelling(name), pos);
    if (!idsFull_) indexes_.emplace(std::move(key), index);
    return index;
}

uint16_t Generator::memberId(std::string_view name, SourcePos pos) {
    // A local or parameter spelled "n" must not respell Store.N: the member
    // takes its declaration's spelling, or the code's own when the
    // surroundings declare none and no local has the name.
    if (options_.declaredSpelling) {
        const std::string_view known = options_.declaredSpelling(name);
        if (!known.empty()) return enterId(std::string(known), pos);
    }
    if (!own_.count(FoldCase(name))) return id(name, pos);
    return enterId(std::string(name), pos);
}

uint16_t Generator::enterId(const std::string& spelled, SourcePos pos) {
    if (ids_.count() >= kMaxIdentifiers) {
        // Once is enough: every later new name would repeat it.
        if (!idsFull_) error(pos, "too many names in one procedure (at most " + std::to_string(kMaxIdentifiers) + ")");
        idsFull_ = true;
        return 0;
    }
    return static_cast<uint16_t>(ids_.stringIndex(spelled.c_str()));
}

namespace {

DSObjList DeadFragments(const std::vector<DeadLine>& lines, uint32_t lineBase) {
    DSObjList out;
    out.reserve(lines.size());
    for (const DeadLine& d : lines) {
        const std::string text(d.text);
        out.emplace_back(d.pos.line - lineBase, text.c_str(), static_cast<uint8_t>(d.kind), DS_TRIM_BOTH);
    }
    return out;
}

// Gives every local its declared spelling before any statement uses it:
// a local declared below its first use still keeps the spelling of its
// declaration.
void SpellLocals(Generator& g, const Block* b) {
    if (!b) return;
    for (const Stmt* s : b->stmts) {
        switch (s->kind) {
        case StmtKind::Decl:
            for (const Declarator& v : static_cast<const DeclStmt*>(s)->vars) g.spell(v.name);
            break;
        case StmtKind::If: {
            const auto* i = static_cast<const IfStmt*>(s);
            for (const IfClause& c : i->clauses) SpellLocals(g, c.body);
            SpellLocals(g, i->elseBody);
            break;
        }
        case StmtKind::Select: {
            const auto* sel = static_cast<const SelectStmt*>(s);
            for (const CaseClause& c : sel->cases) SpellLocals(g, c.body);
            SpellLocals(g, sel->elseBody);
            break;
        }
        case StmtKind::Do: SpellLocals(g, static_cast<const DoStmt*>(s)->body); break;
        case StmtKind::For: SpellLocals(g, static_cast<const ForStmt*>(s)->body); break;
        case StmtKind::With: SpellLocals(g, static_cast<const WithStmt*>(s)->body); break;
        case StmtKind::Try: {
            const auto* t = static_cast<const TryStmt*>(s);
            SpellLocals(g, t->body);
            for (const CatchClause& c : t->catches) SpellLocals(g, c.body);
            break;
        }
        default: break;
        }
    }
}

// The errors of a parse and a generation together, sorted, as one
// CompileError.
[[noreturn]] void Fail(const SyntaxTree& tree, Diagnostics* generated) {
    std::vector<Diagnostic> all = tree.errors();
    if (generated)
        for (Diagnostic& d : generated->take())
            if (all.size() < kMaxDiagnostics) all.push_back(std::move(d));
    std::stable_sort(all.begin(), all.end(), [](const Diagnostic& a, const Diagnostic& b) { return a.pos < b.pos; });
    throw CompileError(std::move(all));
}

}  // namespace

std::unique_ptr<InterProcField> GenerateProcedure(const Procedure& proc, Diagnostics& errors,
                                                  const CodegenOptions& options) {
    // Stored lines count from the header, which is line 1.
    const uint32_t lineBase = proc.pos.line - 1;
    Generator g(errors, options, lineBase, proc.allStatic);

    // Parameters and locals keep the spelling of their declarations, the
    // procedure its own: a function's code assigns its return value under
    // the procedure's name exactly as the procedure spells it.
    g.spell(proc.name);
    for (const Param& p : proc.params) g.spell(p.name);
    SpellLocals(g, proc.body);

    BlockBuildRep body(proc.allStatic ? 1 : 0);
    g.setLocalsBuilder(&body);

    std::vector<InterDataField*> params;
    // A Function's name is its return value, which no local may hide.
    if (proc.isFunction) g.claimName(proc.name, proc.pos);
    for (const Param& p : proc.params) {
        if (!g.claimName(p.name, p.pos)) continue;
        if (InterDataField* f = g.field(p.name, p.suffix, p.type, p.isArray, {}, p.byVal ? 1 : 0, p.pos))
            params.push_back(f);
    }
    InterDataField* returnField = nullptr;
    if (proc.isFunction) {
        const SourcePos at = proc.returnType.kind != TypeKind::None ? proc.returnType.pos : proc.pos;
        returnField = g.field(proc.name, proc.suffix, proc.returnType, false, {}, 1, at);
    }
    // Fields no procedure took over: a count of their own frees them.
    auto dropFields = [&] {
        for (InterDataField*& f : params)
            if (f) FieldPtr drop(std::exchange(f, nullptr));
        if (returnField) FieldPtr drop(std::exchange(returnField, nullptr));
    };
    g.fill(body, proc.body);
    g.enter(body, proc.pos);

    if (g.failed()) {
        dropFields();
        return nullptr;
    }
    DSObjList fragments = DeadFragments(DeadSourceOf(proc), lineBase);
    DeadSource dead(fragments);
    const std::string& name = g.spelling(proc.name);
    std::unique_ptr<InterProcField> out;
    try {
        if (proc.isFunction)
            out = std::make_unique<InterFuncField>(name.c_str(), g.ids(), g.blocks(),
                                                   std::exchange(returnField, nullptr), dead);
        else
            out = std::make_unique<InterProcField>(name.c_str(), g.ids(), g.blocks(), dead);
        for (InterDataField*& f : params) out->defineArgument(std::exchange(f, nullptr));
    } catch (const StoreException& x) {
        dropFields();
        errors.add(proc.pos, x.what());
        return nullptr;
    }
    return out;
}

std::unique_ptr<CDLLProcField> GenerateDeclare(const DeclareDecl& d, Diagnostics& errors,
                                               const CodegenOptions& options) {
    Generator g(errors, options, d.pos.line - 1, false);
    g.spell(d.name);
    for (const Param& p : d.params) g.spell(p.name);
    // A C function takes numbers, text and opaque object handles: what
    // the store would make of anything else has no C form.
    auto cForm = [&](const TypeRef& t, bool isArray, std::string_view what, SourcePos pos) {
        if (isArray) {
            g.error(pos, std::string(what) + " is an array: a library procedure cannot take one");
            return false;
        }
        if (t.isNew || t.kind == TypeKind::Named) {
            g.error(t.pos, std::string(what) + " has type '" + std::string(t.name) +
                               "': a library procedure takes Integer, Long, Single, Double, Currency, "
                               "String or Object");
            return false;
        }
        return true;
    };
    std::vector<InterDataField*> params;
    auto dropFields = [&] {
        for (InterDataField*& f : params)
            if (f) FieldPtr drop(std::exchange(f, nullptr));
    };
    for (const Param& p : d.params) {
        if (!g.claimName(p.name, p.pos)) continue;
        if (!cForm(p.type, p.isArray, "parameter '" + std::string(p.name) + "'", p.pos)) continue;
        if (InterDataField* f = g.field(p.name, p.suffix, p.type, false, {}, p.byVal ? 1 : 0, p.pos))
            params.push_back(f);
    }
    IdType returnType = IDT_VOID;
    if (d.isFunction && cForm(d.returnType, false, "the function", d.pos)) {
        returnType = d.suffix ? static_cast<IdType>(d.suffix) : static_cast<IdType>(d.returnType.kind);
        if (returnType < IDT_SHORT || returnType > IDT_OBJECT)
            g.error(d.returnType.kind != TypeKind::None ? d.returnType.pos : d.pos,
                    "a library function needs its result type: 'As Long', 'As String', ... or a type suffix");
    }
    if (g.failed()) {
        dropFields();
        return nullptr;
    }
    const std::string& name = g.spelling(d.name);
    const std::string lib(d.lib), alias(d.alias), text(d.text);
    std::unique_ptr<CDLLProcField> out;
    try {
        const char* a = d.hasAlias ? alias.c_str() : nullptr;
        if (d.isFunction)
            out = std::make_unique<CDLLFuncField>(name.c_str(), returnType, a, lib.c_str(), text.c_str());
        else
            out = std::make_unique<CDLLProcField>(name.c_str(), a, lib.c_str(), text.c_str());
        for (InterDataField*& f : params) out->defineArgument(std::exchange(f, nullptr));
    } catch (const StoreException& x) {
        dropFields();
        errors.add(d.pos, x.what());
        return nullptr;
    }
    return out;
}

std::unique_ptr<EvalableBlock> GenerateStatements(const StatementList& list, Diagnostics& errors,
                                                  const CodegenOptions& options) {
    Generator g(errors, options, 0, false);
    SpellLocals(g, list.body);
    BlockBuildRep main;
    g.setLocalsBuilder(&main);
    g.fill(main, list.body);
    g.enter(main, SourcePos{1, 1});
    if (g.failed()) return nullptr;
    DSObjList fragments = DeadFragments(DeadSourceOf(list), 0);
    DeadSource dead(fragments);
    return std::make_unique<EvalableBlock>(g.ids(), g.blocks(), dead);
}

std::unique_ptr<EvalableExpr> GenerateExpression(const Expr& expr, Diagnostics& errors, const CodegenOptions& options) {
    Generator g(errors, options, 0, false);
    ExprPtr node = g.expr(&expr);
    if (g.failed() || !node) return nullptr;
    return std::make_unique<EvalableExpr>(std::move(node), g.ids());
}

std::unique_ptr<InterProcField> CompileProcedure(std::string_view source, std::string_view fileName,
                                                 const CodegenOptions& options) {
    SyntaxTree tree = ParseProcedure(source, fileName);
    if (!tree.ok() || !tree.procedure()) Fail(tree, nullptr);
    Diagnostics errors(tree.fileName());
    std::unique_ptr<InterProcField> out = GenerateProcedure(*tree.procedure(), errors, options);
    if (!out) Fail(tree, &errors);
    return out;
}

std::unique_ptr<EvalableBlock> CompileStatements(std::string_view source, std::string_view fileName,
                                                 const CodegenOptions& options) {
    SyntaxTree tree = ParseStatements(source, fileName);
    if (!tree.ok() || !tree.statements()) Fail(tree, nullptr);
    Diagnostics errors(tree.fileName());
    std::unique_ptr<EvalableBlock> out = GenerateStatements(*tree.statements(), errors, options);
    if (!out) Fail(tree, &errors);
    return out;
}

std::unique_ptr<EvalableExpr> CompileExpression(std::string_view source, std::string_view fileName,
                                                const CodegenOptions& options) {
    SyntaxTree tree = ParseExpression(source, fileName);
    if (!tree.ok() || !tree.expression()) Fail(tree, nullptr);
    Diagnostics errors(tree.fileName());
    std::unique_ptr<EvalableExpr> out = GenerateExpression(*tree.expression(), errors, options);
    if (!out) Fail(tree, &errors);
    return out;
}

}  // namespace tq::compiler
