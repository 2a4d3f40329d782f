// The procedures of a text module: each Sub or Function of an object made
// into the field the object keeps.
#pragma once

#include <functional>
#include <string_view>
#include <vector>

#include <tqstore/tqstore.h>

#include "compiler/ast.h"
#include "compiler/diag.h"
#include "compiler/parse.h"

namespace tq::compiler {

class ProcedureMaker {
public:
    explicit ProcedureMaker(const SyntaxTree& tree);

    // The field of one procedure of the tree, ready for addField; null with
    // the errors in errors. isPrototype tells whether a name in a type
    // names a prototype (the module's own objects or a loaded one).
    Field* make(const Procedure& proc, Diagnostics& errors,
                const std::function<bool(std::string_view)>& isPrototype);

    // The lines from..to (1-based, inclusive) of the source, each without
    // the indentation the first of them has, joined with "\r\n" as the
    // store keeps procedure text.
    std::string lines(uint32_t from, uint32_t to) const;

private:
    std::string_view source_;
    std::vector<size_t> lineStarts_;
};

}  // namespace tq::compiler
