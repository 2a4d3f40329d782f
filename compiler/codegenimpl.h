// The code generator's working state for one piece of code (a procedure,
// an immediate statement list or an immediate expression): its identifier
// and block tables as the store's builders take them, the spelling every
// name is given, and the errors found. Internal to the compiler; the entry
// points are in codegen.h.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include <tqstore/tqstore.h>

#include "compiler/ast.h"
#include "compiler/codegen.h"
#include "compiler/diag.h"
#include "compiler/lexer.h"

namespace tq::compiler {

// The most names one piece of code can use: identifier indexes are signed
// 16-bit numbers in the store's tables.
inline constexpr uint32_t kMaxIdentifiers = 32767;
// The deepest expression a block read back from a module file may hold.
inline constexpr uint16_t kMaxExprHeight = 512;

class Generator {
public:
    // Statement lines are stored as file lines less lineBase (a procedure's
    // header becomes line 1).
    Generator(Diagnostics& errors, const CodegenOptions& options, uint32_t lineBase, bool allStatic);

    bool failed() const { return failed_; }
    void error(SourcePos pos, std::string message);

    // ---- names ----
    // Gives name (any case) the spelling it is to keep: the first one seen
    // wins. Parameters and locals are given theirs before the code is read.
    void spell(std::string_view name);
    // The spelling of name: the one given before, the surroundings'
    // declaration, or name as written (which then becomes the spelling).
    const std::string& spelling(std::string_view name);
    // The index of name in the identifier table (0 after an error).
    uint16_t id(std::string_view name, SourcePos pos);
    // The same for a member of an object named before it ("Store.N", the
    // With object's ".N"), which no local or parameter can be.
    uint16_t memberId(std::string_view name, SourcePos pos);

    // ---- expressions (codegenexpr.cpp) ----
    // Null after an error (reported).
    ExprPtr expr(const Expr* e);
    // An identifier expression (Name, Call, Member) for a target or a call.
    ExprPtr identifier(const Expr* e);

    // ---- statements (codegenstmt.cpp) ----
    // Fills builder with the statements of b and its end line.
    void fill(BlockBuildRep& builder, const Block* b);
    // A sub-block entered into the block table; setup adds its variables
    // (a Catch body's parameters) first. owner: the statement it belongs to,
    // where a refusal of the block is reported.
    uint32_t subBlock(const Block* b, SourcePos owner, const std::function<void(BlockBuildRep&)>& setup = {});
    // Enters a finished builder's block into the table.
    uint32_t enter(BlockBuildRep& builder, SourcePos owner);

    // ---- declarations (codegendecl.cpp) ----
    // The builder that takes the code's locals: they belong to the whole
    // procedure wherever they are declared.
    void setLocalsBuilder(BlockBuildRep* b) { locals_ = b; }
    // Makes the fields of a Dim, Static or Const statement.
    void declare(const DeclStmt& d);
    // A data field for a variable, parameter or return value; null after an
    // error. byValue 0 makes a by-reference parameter.
    InterDataField* field(std::string_view name, uint8_t suffix, const TypeRef& type, bool isArray,
                          const List<Bound>& dims, int byValue, SourcePos pos);
    // Records a local or parameter name; false (reported) when it is taken.
    bool claimName(std::string_view name, SourcePos pos);

    int32_t line(SourcePos p) const { return line(p.line); }
    int32_t line(uint32_t fileLine) const {
        return fileLine == 0 ? 0 : static_cast<int32_t>(fileLine - lineBase_);
    }

    IdDynamicVector& ids() { return ids_; }
    BlockDynamicVector& blocks() { return blocks_; }
    bool allStatic() const { return allStatic_; }

private:
    // member: the piece names a member of the object before it.
    ExprPtr name(const NameExpr& n, bool member);
    ExprPtr call(const CallExpr& c, bool member);
    ExprPtr piece(const Expr* e, bool member);
    uint16_t enterId(const std::string& spelled, SourcePos pos);
    ExprPtr intrinsic(const IntrinsicExpr& e);
    void statement(BlockBuildRep& b, const Stmt& s);
    void statementNode(BlockBuildRep& b, const Stmt& s);
    // A constant's value, worked out now: its expression may use no names.
    ValuePtr constantValue(const Expr* e, IdType type, SourcePos pos);

    Diagnostics& errors_;
    const CodegenOptions& options_;
    uint32_t lineBase_;
    bool allStatic_;
    bool failed_ = false;
    bool idsFull_ = false;
    IdDynamicVector ids_;
    BlockDynamicVector blocks_;
    BlockBuildRep* locals_ = nullptr;
    // Lower-case name -> spelling, and spelling -> identifier index.
    std::unordered_map<std::string, std::string> spellings_;
    std::unordered_map<std::string, uint16_t> indexes_;
    std::unordered_set<std::string> claimed_;
    // Lower-case names the code declares itself (spell): its parameters,
    // locals and own name.
    std::unordered_set<std::string> own_;
};

}  // namespace tq::compiler
