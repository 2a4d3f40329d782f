// The node kinds: for every statement and expression kind, its name, its
// smallest size, the check of its layout in a block read from a file, and
// (for the kinds dispatched through the table) the code that runs it.
//
// This table is where a kind joins the interpreter. A kind without a check
// is not supported by this library: a block holding one is refused when it
// is read, and no builder makes one. Each statement kind's check lives
// beside its layout (its class's Check); the dispatcher runs them
// (ExecNode::eval). The built-in functions' checks and code live beside
// their layouts too (mathfunc.h, strfunc.h, intfuncs.h).
#pragma once

#include <cstdint>

#include "store/vals.h"

namespace tq {

class Context;
class ExecNode;
class ExprNode;
class NodeCheck;

struct StatementKind {
    const char* name;
    uint32_t minSize;
    // Checks the node at `at` whose size ends it at `end`.
    void (*check)(NodeCheck& c, uint32_t at, uint32_t end);
    // Runs the node; null for the kinds the dispatcher runs itself.
    void (*run)(ExecNode& node, Context& ctx);
};

struct ExpressionKind {
    const char* name;
    uint32_t minSize;
    // Checks the node at `at` (ending at `end`) nested at depth.
    void (*check)(NodeCheck& c, uint32_t at, uint32_t end, int depth);
    // Evaluates the node; null for the kinds ExprNode::eval runs itself.
    ValuePtr (*eval)(const ExprNode& node, Context& lookup, Context& args, int32_t how);
};

// The entry of a kind, or null for a number that names no kind.
const StatementKind* FindStatementKind(uint16_t kind);
const ExpressionKind* FindExpressionKind(uint16_t kind);
// Whether the library reads and runs the kind.
inline bool IsSupported(const StatementKind* k) { return k && k->check; }
inline bool IsSupported(const ExpressionKind* k) { return k && k->check; }

}  // namespace tq
