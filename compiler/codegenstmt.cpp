// Statements: one syntax statement to one statement node; the statement
// lists it owns become sub-blocks, entered into the block table before the
// block that names them.
#include "compiler/codegenimpl.h"

namespace tq::compiler {

uint32_t Generator::enter(BlockBuildRep& builder, SourcePos owner) {
    try {
        return static_cast<uint32_t>(blocks_.blockIndex(BlockRep::New(builder)));
    } catch (const StoreException& x) {
        error(owner, x.what());
        return NO_BLOCK;
    }
}

void Generator::fill(BlockBuildRep& builder, const Block* b) {
    if (!b) return;
    for (const Stmt* s : b->stmts) statement(builder, *s);
    builder.setEndLine(line(b->endLine));
}

uint32_t Generator::subBlock(const Block* b, SourcePos owner, const std::function<void(BlockBuildRep&)>& setup) {
    BlockBuildRep builder(allStatic_ ? 1 : 0);
    if (setup) setup(builder);
    fill(builder, b);
    return enter(builder, owner);
}

void Generator::statement(BlockBuildRep& b, const Stmt& s) {
    // A store builder that refuses what it is given (a name it cannot take,
    // a node too large) is an error of this statement, not the end of the
    // compilation.
    try {
        statementNode(b, s);
    } catch (const StoreException& x) {
        error(s.pos, x.what());
    }
}

namespace {

ECaseCompareType CaseType(CaseTest t) { return static_cast<ECaseCompareType>(t); }

// The names the library's own failures report, which a Catch clause
// compares with its name as written (names are case-sensitive there).
constexpr std::string_view kLibraryExceptions[] = {
    "AccessDenied", "CircularEmbed", "CompileError", "ConvertFailed", "DllFuncMissing", "DllLoadFailure",
    "Exception", "FPException", "IllegalConversion", "IllegalPromotion", "InvalidByRef", "InvalidFieldName",
    "InvalidObjectName", "Is_Null", "ModuleOpenFailed", "ModuleUnloadFailed", "NonNullArguments",
    "NotFound", "NotObjectReference", "NullArguments", "ObjectLoadFailed", "OleException", "Overflow",
    "ProxyResolveFailed", "RangeError", "SignatureMismatch", "StackOverflow", "TooFewArguments",
    "TooManyArguments", "TypeMismatch", "UnnamedSignature",
};

}  // namespace

void Generator::statementNode(BlockBuildRep& b, const Stmt& s) {
    const int32_t at = line(s.pos);
    switch (s.kind) {
    case StmtKind::Assign: {
        const auto& a = static_cast<const AssignStmt&>(s);
        ExprPtr target = identifier(a.target);
        ExprPtr value = expr(a.value);
        if (target && value) b.addExecNode(Assignment::make(at, a.form, std::move(target), std::move(value)));
        return;
    }
    case StmtKind::Call: {
        const auto& c = static_cast<const CallStmt&>(s);
        ExprPtr call = identifier(c.call);
        if (call) b.addExecNode(FunctionCallStmt::make(at, static_cast<tq::CallForm>(c.form), std::move(call)));
        return;
    }
    case StmtKind::Exit:
        b.addExecNode(Exiter::make(at, static_cast<Exiter::ExitType>(static_cast<const ExitStmt&>(s).what)));
        return;
    case StmtKind::Stop: b.addExecNode(tq::StopStmt::make(at)); return;
    case StmtKind::If: {
        const auto& i = static_cast<const IfStmt&>(s);
        if (i.singleLine) {
            const IfClause& c = i.clauses[0];
            ExprPtr cond = expr(c.cond);
            const uint32_t thenBlock = subBlock(c.body, s.pos);
            const uint32_t elseBlock = i.elseBody ? subBlock(i.elseBody, s.pos) : NO_BLOCK;
            if (cond) b.addExecNode(SimpleIfThen::make(at, std::move(cond), thenBlock, elseBlock));
            return;
        }
        std::vector<tq::IfClause> clauses;
        bool ok = true;
        for (const IfClause& c : i.clauses) {
            ExprPtr cond = expr(c.cond);
            ok = ok && cond;
            clauses.push_back(tq::IfClause{std::move(cond), line(c.pos), subBlock(c.body, s.pos)});
        }
        const uint32_t elseBlock = i.elseBody ? subBlock(i.elseBody, s.pos) : NO_BLOCK;
        if (ok) b.addExecNode(ComplexIfThen::make(at, std::move(clauses), elseBlock, line(i.elseLine)));
        return;
    }
    case StmtKind::Select: {
        const auto& sel = static_cast<const SelectStmt&>(s);
        ExprPtr test = expr(sel.selector);
        bool ok = test != nullptr;
        std::vector<CaseLine> cases;
        for (const CaseClause& c : sel.cases) {
            std::vector<tq::CaseTest> tests;
            for (const CaseTestItem& t : c.tests) {
                ExprPtr first = expr(t.first);
                ExprPtr second = t.second ? expr(t.second) : nullptr;
                ok = ok && first && (!t.second || second);
                tests.push_back(tq::CaseTest{CaseType(t.test), std::move(first), std::move(second)});
            }
            cases.push_back(CaseLine{line(c.pos), subBlock(c.body, s.pos), std::move(tests)});
        }
        const uint32_t elseBlock = sel.elseBody ? subBlock(sel.elseBody, s.pos) : NO_BLOCK;
        if (ok)
            b.addExecNode(SelectCase::make(at, std::move(test), std::move(cases), line(sel.endLine), elseBlock,
                                           line(sel.elseLine)));
        return;
    }
    case StmtKind::Do: {
        const auto& d = static_cast<const DoStmt&>(s);
        ExprPtr cond = d.cond ? expr(d.cond) : nullptr;
        const uint32_t body = subBlock(d.body, s.pos);
        if (d.cond && !cond) return;
        b.addExecNode(DoLoop::make(at, static_cast<DoLoopForm>(d.form), body, std::move(cond)));
        return;
    }
    case StmtKind::For: {
        const auto& f = static_cast<const ForStmt&>(s);
        ExprPtr var = identifier(f.var);
        ExprPtr start = expr(f.start);
        ExprPtr end = f.end ? expr(f.end) : nullptr;
        ExprPtr step = f.step ? expr(f.step) : nullptr;
        const uint32_t body = subBlock(f.body, s.pos);
        if (!var || !start || (f.end && !end) || (f.step && !step) || body == NO_BLOCK) return;
        if (f.each == ForKind::Standard)
            b.addExecNode(ForNext::make(at, body, std::move(var), std::move(start), std::move(end), std::move(step),
                                        f.nextNamesVar));
        else
            b.addExecNode(ForNext::makeEach(at, static_cast<ForNextLoopType>(f.each), body, std::move(var),
                                            std::move(start), f.nextNamesVar));
        return;
    }
    case StmtKind::Print: {
        const auto& p = static_cast<const PrintStmt&>(s);
        ExprPtr target = p.target ? expr(p.target) : nullptr;
        bool ok = !p.target || target;
        std::vector<tq::PrintItem> items;
        for (const PrintItem& item : p.items) {
            ExprPtr e = expr(item.expr);
            ok = ok && e;
            items.push_back(tq::PrintItem{static_cast<PrintSeparator>(item.sep),
                                          static_cast<tq::PrintItemKind>(item.kind), std::move(e)});
        }
        if (ok) b.addExecNode(Print::make(at, std::move(items), static_cast<PrintSeparator>(p.last), std::move(target)));
        return;
    }
    case StmtKind::Randomize: {
        const auto& r = static_cast<const RandomizeStmt&>(s);
        ExprPtr seed = r.seed ? expr(r.seed) : nullptr;
        if (r.seed && !seed) return;
        b.addExecNode(tq::RandomizeStmt::make(at, std::move(seed)));
        return;
    }
    case StmtKind::Redim: {
        const auto& r = static_cast<const RedimStmt&>(s);
        if (!r.array) return;
        std::unique_ptr<Sid> array = Sid::make(id(r.array->name, r.array->pos), static_cast<IdType>(r.array->suffix));
        std::vector<std::unique_ptr<ExprNodePair>> dims;
        bool ok = true;
        for (const Bound& d : r.dims) {
            ExprPtr lower = d.lower ? expr(d.lower) : nullptr;
            ExprPtr upper = expr(d.upper);
            ok = ok && upper && (!d.lower || lower);
            if (ok) dims.push_back(ExprNodePair::make(std::move(lower), std::move(upper)));
        }
        if (ok) b.addExecNode(tq::RedimStmt::make(at, std::move(array), std::move(dims), r.preserve));
        return;
    }
    case StmtKind::Try: {
        const auto& t = static_cast<const TryStmt&>(s);
        const uint32_t body = subBlock(t.body, s.pos);
        std::vector<tq::CatchClause> catches;
        for (const CatchClause& c : t.catches) {
            if (!c.name.empty()) {
                // "Catch rangeerror" catches what the library calls RangeError.
                const std::string key = FoldCase(c.name);
                for (std::string_view known : kLibraryExceptions)
                    if (FoldCase(known) == key) spell(known);
            }
            const uint16_t name = c.name.empty() ? kCatchAll : id(c.name, c.pos);
            const uint32_t block = subBlock(c.body, c.pos, [&](BlockBuildRep& cb) {
                // A Catch body's parameters receive the exception's
                // arguments; they belong to that body alone.
                for (const Param& p : c.params) {
                    InterDataField* f = field(p.name, p.suffix, p.type, p.isArray, {}, 1, p.pos);
                    if (!f) continue;
                    try {
                        cb.addArgumentVar(f);
                    } catch (const StoreException& x) {
                        error(p.pos, x.what());
                    }
                }
            });
            catches.push_back(tq::CatchClause{line(c.pos), name, block});
        }
        b.addExecNode(TryBlock::make(at, body, line(t.endLine), catches));
        return;
    }
    case StmtKind::Throw: {
        const auto& t = static_cast<const ThrowStmt&>(s);
        ExprPtr name = t.exception ? identifier(t.exception) : nullptr;
        if (t.exception && !name) return;
        b.addExecNode(tq::ThrowStmt::make(at, std::move(name)));
        return;
    }
    case StmtKind::With: {
        const auto& w = static_cast<const WithStmt&>(s);
        ExprPtr object = expr(w.object);
        const uint32_t body = subBlock(w.body, s.pos);
        if (object) b.addExecNode(WithBlock::make(at, body, std::move(object)));
        return;
    }
    case StmtKind::Decl: declare(static_cast<const DeclStmt&>(s)); return;
    }
}

}  // namespace tq::compiler
