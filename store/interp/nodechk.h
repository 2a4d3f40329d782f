// NodeCheck: the check of a node area that comes from outside (a block's
// record in a module file) before anything runs, walks or prints it.
//
// It walks the statements and, recursively, the expressions they own, and
// refuses (ObjectLoadFailed, naming the block and the offset of the node at
// fault) any node whose size runs past its block or its parent, is too
// small or too large for its kind, whose kind this library does not know,
// that stands where a node of the other family (statement, expression)
// must stand, or that nests deeper than kMaxNesting. Each kind's own check
// (nodekinds.h) checks the fields of its layout through the readers here,
// which never read outside the area.
//
// Identifier and sub-block indexes can only be judged with the tables of
// the code the block belongs to; the check keeps the largest of each, with
// the offset of the node that uses it (BlockUses), and the block table
// compares them when it hands the block out.
#pragma once

#include <cstdint>
#include <string>

#include "store/block.h"

namespace tq {

class NodeCheck {
public:
    // Expressions nest no deeper than this in a block that is read: each
    // level is one more native call when the expression runs.
    static constexpr int kMaxNesting = 512;
    // The index that names no sub-block.
    static constexpr uint32_t kNoBlock = 0xFFFFFFFF;

    // area: the node area of length bytes; where: the block's name for
    // messages ("Blocks entry 3").
    NodeCheck(const uint8_t* area, uint32_t length, std::string where);

    // Checks nodeCount statements that fill the area exactly.
    BlockUses checkStatements(uint32_t nodeCount);

    // One expression at `at`, which must end by `limit`; nested at depth.
    // Returns where it ends.
    uint32_t expression(uint32_t at, uint32_t limit, int depth);
    // The same for an expression that must be an identifier (Sid, Cid, Mid).
    uint32_t identifierExpression(uint32_t at, uint32_t limit, int depth);
    // An identifier index used by the node at nodeAt.
    void identifier(uint32_t nodeAt, uint32_t index);
    // A sub-block index used by the node at nodeAt (kNoBlock only where the
    // kind allows none).
    void subBlock(uint32_t nodeAt, uint32_t index);

    // Little-endian fields inside [0, length); a field past the area fails.
    uint8_t u8(uint32_t at) const;
    uint16_t u16(uint32_t at) const;
    uint32_t u32(uint32_t at) const;

    [[noreturn]] void fail(uint32_t at, const std::string& what) const;

private:
    const uint8_t* area_;
    uint32_t length_;
    std::string where_;
    BlockUses uses_;
};

}  // namespace tq
