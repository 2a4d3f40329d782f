// What a procedure's dead source will hold: the lines and parts of lines
// that no node prints (the header, declarations, Catch lines) and every
// comment, each with its position, in the order printing meets them.
//
// The code generator turns each entry into a dead-source fragment (kind 1
// plain text, 2 Rem comment, 3 ' comment) at the entry's line counted from
// the procedure's header; printing then puts the comments and declarations
// back where they were written.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "compiler/ast.h"

namespace tq::compiler {

enum class DeadKind : uint8_t { Text = 1, Rem = 2, Apostrophe = 3 };

struct DeadLine {
    SourcePos pos;
    DeadKind kind;
    // Text as written; a comment's text without its marker, and without the
    // white space around it (the printer writes "' " before it).
    std::string_view text;
};

// Sorted by position.
std::vector<DeadLine> DeadSourceOf(const Procedure& proc);
std::vector<DeadLine> DeadSourceOf(const StatementList& list);

}  // namespace tq::compiler
