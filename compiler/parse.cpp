#include "compiler/parse.h"

#include "compiler/parser.h"

namespace tq::compiler {

struct SyntaxTree::Impl {
    ParseGoal goal;
    std::string source;
    std::string fileName;
    Arena arena;
    std::vector<Diagnostic> errors;
    const Module* module = nullptr;
    const StatementList* statements = nullptr;
    const Expr* expression = nullptr;
    const Procedure* procedure = nullptr;
    List<Comment> outer;
};

SyntaxTree::SyntaxTree(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
SyntaxTree::SyntaxTree(SyntaxTree&&) noexcept = default;
SyntaxTree& SyntaxTree::operator=(SyntaxTree&&) noexcept = default;
SyntaxTree::~SyntaxTree() = default;

ParseGoal SyntaxTree::goal() const { return impl_->goal; }
const std::vector<Diagnostic>& SyntaxTree::errors() const { return impl_->errors; }
const Module* SyntaxTree::module() const { return impl_->module; }
const StatementList* SyntaxTree::statements() const { return impl_->statements; }
const Expr* SyntaxTree::expression() const { return impl_->expression; }
const Procedure* SyntaxTree::procedure() const { return impl_->procedure; }
const List<Comment>& SyntaxTree::outerComments() const { return impl_->outer; }
std::string_view SyntaxTree::source() const { return impl_->source; }
const std::string& SyntaxTree::fileName() const { return impl_->fileName; }
size_t SyntaxTree::nodeBytes() const { return impl_->arena.bytesUsed(); }

SyntaxTree Parse(std::string_view source, std::string_view fileName, ParseGoal goal) {
    auto impl = std::make_unique<SyntaxTree::Impl>();
    impl->goal = goal;
    impl->source.assign(source);
    impl->fileName.assign(fileName);
    Diagnostics diag(impl->fileName);
    {
        Parser parser(impl->source, impl->arena, diag);
        std::vector<Comment> outer;
        switch (goal) {
        case ParseGoal::Module: impl->module = parser.parseModule(); break;
        case ParseGoal::Statements: impl->statements = parser.parseStatementList(); break;
        case ParseGoal::Expression: impl->expression = parser.parseWholeExpression(outer); break;
        case ParseGoal::Procedure: impl->procedure = parser.parseOneProcedure(outer); break;
        }
        impl->outer = impl->arena.list(outer);
    }
    impl->errors = diag.take();
    return SyntaxTree(std::move(impl));
}

}  // namespace tq::compiler
