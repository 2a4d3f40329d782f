// Printing statements and blocks back as source text.
#include <ostream>

#include "platform/util/uassert.h"
#include "store/block.h"
#include "store/interp/assign.h"
#include "store/interp/case.h"
#include "store/interp/doloop.h"
#include "store/interp/execnode.h"
#include "store/interp/fornext.h"
#include "store/interp/funccall.h"
#include "store/interp/ifthen.h"
#include "store/interp/print.h"
#include "store/interp/redim.h"
#include "store/interp/srcctl.h"
#include "store/interp/trycatch.h"
#include "store/interp/withblk.h"

namespace tq {

void ExecNode::print(SourceControl& sc) const {
    // The end marker stands for a block's closing line, which the statement
    // owning the block prints.
    if (type() == STMT_END_MARKER) return;
    sc.advancePos(line());
    switch (type()) {
        case STMT_ASSIGNMENT: static_cast<const Assignment*>(this)->print(sc); return;
        case STMT_SELECT_CASE: static_cast<const SelectCase*>(this)->print(sc); return;
        case STMT_DO_LOOP:
        case STMT_DO_LOOP2: static_cast<const DoLoop*>(this)->print(sc); return;
        case STMT_EXITER: static_cast<const Exiter*>(this)->print(sc); return;
        case STMT_FOR_NEXT: static_cast<const ForNext*>(this)->print(sc); return;
        case STMT_FUNCTION_CALL: static_cast<const FunctionCallStmt*>(this)->print(sc); return;
        case STMT_SIMPLE_IF: static_cast<const SimpleIfThen*>(this)->print(sc); return;
        case STMT_COMPLEX_IF: static_cast<const ComplexIfThen*>(this)->print(sc); return;
        case STMT_PRINT: static_cast<const Print*>(this)->print(sc); return;
        case STMT_RANDOMIZE: static_cast<const RandomizeStmt*>(this)->print(sc); return;
        case STMT_REDIM: static_cast<const RedimStmt*>(this)->print(sc); return;
        case STMT_TRY: static_cast<const TryBlock*>(this)->print(sc); return;
        case STMT_THROW: static_cast<const ThrowStmt*>(this)->print(sc); return;
        case STMT_WITH: static_cast<const WithBlock*>(this)->print(sc); return;
        case STMT_STOP: sc.stream() << "Stop"; return;
        // Blocks are checked when they are made or read: no other kind gets
        // here.
        default: utilsAssert("NULL", __FILE__, __LINE__);
    }
}

void Assignment::print(SourceControl& sc) const {
    std::ostream& os = sc.stream();
    if (flags() & kLet)
        os << "Let ";
    else if (flags() & kSet)
        os << "Set ";
    target()->print(sc);
    os << (isDeepSet() ? " := " : " = ");
    value()->print(sc);
}

void Exiter::print(SourceControl& sc) const {
    static constexpr const char* kForms[EXIT_LIMIT] = {"Exit", "Exit Function", "Exit Sub", "Exit For", "Exit Do"};
    const ExitType t = exitType();
    sc.stream() << (t < EXIT_LIMIT ? kForms[t] : "Exit");
}

void BlockRep::print(SourceControl& sc) const {
    sc.indent();
    const uint8_t* at = nodes();
    for (uint32_t i = 0; i < nodeCount_; ++i) {
        const auto* node = reinterpret_cast<const ExecNode*>(at);
        node->print(sc);
        at += node->size();
    }
    sc.printDS(endLine_);
    sc.outdent();
}

}  // namespace tq
