// Blocks: compiled statement lists.
//
// A BlockRep is one statement list (a procedure body, a loop body, one
// branch of an If, a Try or Catch body, a With body) held as one contiguous
// byte area in which statement nodes lie end to end, each followed inline
// by the expression nodes it owns (execnode.h, exprnode.h). The nodes hold
// no pointers, so the area is written to and read from the module file
// unchanged, and a block is shared by reference between the procedure that
// owns it and everyone who runs it (a recursive call runs it again while it
// runs). Statements name the sub-blocks they run by index into the block
// table of their code (a procedure's BlockVector); identifiers are indexes
// into its identifier table.
//
// A block also owns up to two variable objects of its module: the
// local-variable prototype (one field per local; each activation runs with
// a fresh clone of it) and the static-variable object (static locals,
// constants and the parameters of a Catch body; the object itself is a
// scope, so its values live from call to call).
//
// "Blocks" record (write / readFromStream), little-endian:
//
//   offset  width  meaning
//   0       4      byteLength + 37: the size of the block in memory
//   4       4      nodeCount: statements in the block
//   8       4      endLine: line of the block's closing line, 0 for none
//   12      5      localVarObj: an object reference (faultp.h)
//   17      5      staticVarObj: an object reference
//   22      4      byteLength
//   26      n      the node area, byteLength bytes
//
// A block read from a file is program text from a file that may be corrupt
// or hostile. It is checked once, when it is read (blockchk.h): sizes,
// kinds and nesting, so that no statement or expression can be run, walked
// or printed past its bytes. What a block can only be checked against with
// its code's tables (the identifier and sub-block indexes it uses) is
// summarised by the check and compared when a block table hands the block
// out (BlockVector::block): a failure of either is ObjectLoadFailed naming
// the block and the offset of the node at fault, before anything runs.
//
// Life of a block:
//
//   BlockBuildRep --new BlockRep--> attached to the open module (or
//   detached) --module saved--> written --module reopened--> descriptor
//   --first run--> read and checked --last deref--> deleted
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <utility>
#include <vector>

#include "store/cntedobj.h"
#include "store/faultp.h"
#include "store/interp/execnode.h"
#include "store/model/fwd.h"
#include "store/model/interobj.h"
#include "store/persist/descobj.h"

namespace tq {

class BlockBuildRep;
class BlockDynamicVector;
class Context;
class OCLStream;
class SourceControl;
class StackFrame;

// What the check of a node area found that can only be judged with the
// tables of the code the block belongs to: the largest identifier index and
// sub-block index its nodes use (-1 when none), and the offsets of the
// nodes that use them; and every sub-block index with its node's offset,
// for the shape of the whole table.
struct BlockUses {
    int32_t maxIdIndex = -1;
    uint32_t idNodeOffset = 0;
    int32_t maxBlockIndex = -1;
    uint32_t blockNodeOffset = 0;
    std::vector<std::pair<uint32_t, uint32_t>> subBlocks;  // index, node offset
};

class BlockRep : public CountedObject, public DescribedObject<BlockRep> {
public:
    static constexpr const char* storageName = "Blocks";
    static constexpr uint32_t storageVersion = 1;
    // The record's fixed part: what the first word adds to byteLength.
    static constexpr uint32_t kRecordOverhead = 37;
    static constexpr uint32_t kRecordHead = 26;

    // A new block from a builder: the builder's statements copied in order
    // and its variable objects taken over; the block holds no count yet. It
    // goes into the module being opened (DETACHED_MODULE when none is).
    static BlockRep* New(BlockBuildRep& builder);
    // A copy of p into the module being opened; each variable object is
    // cloned there and the clone takes over its parent's fields.
    static BlockRep* NewCopy(const BlockRep& p);

    ~BlockRep() override;
    BlockRep(const BlockRep&) = delete;
    BlockRep& operator=(const BlockRep&) = delete;

    // The last release deletes the block. A count that is already 0
    // belongs to a block read from a file whose owners understated it.
    void deref();

    static BlockRep* readFromStream(OCLStream& in, uint32_t version, tModuleIndex m, uint32_t index);
    void write(OCLStream& out);

    // Runs the block by itself in a frame of type BlockFrame. With args, they
    // are first bound to the static-variable object (InterObjRep::bind),
    // whose bound copy is the frame's argument scope.
    void eval(Context& ctx, const ValueList* args = nullptr);
    // Runs the statements in the frame on top of the stack, which must be
    // this block's.
    void ieval(Context& ctx);
    // The same in frame, the one on top of the stack, which the caller
    // pushed for this block: a loop that runs its body turn after turn in
    // one frame knows it without asking each turn.
    void ievalIn(Context& ctx, StackFrame& frame);

    // Moves the block, and its variable objects, into module m.
    void attach(tModuleIndex m);

    // best becomes the smallest statement line (or the end line) that is at
    // least line and below best (any, when best is 0).
    void getNearestSourceLine(int32_t line, int32_t& best) const;
    void printOn(std::ostream& os) const;
    // Prints the statements one indentation step in, and then the dead
    // source before the block's end line; the statement that owns the block
    // prints its closing line itself.
    void print(SourceControl& sc) const;

    uint32_t nodeCount() const { return nodeCount_; }
    int32_t endLine() const { return endLine_; }
    uint32_t byteLength() const { return byteLength_; }
    const uint8_t* nodes() const { return reinterpret_cast<const uint8_t*>(this + 1); }
    uint8_t* nodes() { return reinterpret_cast<uint8_t*>(this + 1); }
    InterObjRep* localVarObj() const;
    InterObjRep* staticVarObj() const;
    const Faultp<InterObjRep>& localVarRef() const { return localVarObj_; }
    const Faultp<InterObjRep>& staticVarRef() const { return staticVarObj_; }
    const BlockUses& uses() const { return uses_; }

    // The kind's description table and what a fault pointer needs.
    static BlockRep* fault(tDescriptor d) { return DescribedObjectNoDescriptor<BlockRep>::fault(d); }

    // Blocks in memory, for leak checks.
    static size_t LiveCount() { return liveBlocks; }

    static void operator delete(void* p) { ::operator delete(p); }

private:
    BlockRep(uint32_t nodeCount, int32_t endLine, uint32_t byteLength);
    static BlockRep* Allocate(uint32_t nodeCount, int32_t endLine, uint32_t byteLength);
    // Destroys a variable object the block owns, unless it is still only a
    // descriptor or its module is going.
    void dropVarObj(Faultp<InterObjRep>& ref);

    uint32_t nodeCount_;
    int32_t endLine_;
    uint32_t byteLength_;
    Faultp<InterObjRep> localVarObj_{PrimaryReference, nullptr};
    Faultp<InterObjRep> staticVarObj_{PrimaryReference, nullptr};
    BlockUses uses_;

    static inline size_t liveBlocks = 0;
};

// The block table of a procedure or an immediate evaluation: statements
// name their sub-blocks by index in it; the last entry is the body.
//
// Record, inside the record of its owner:
//
//   width  content
//   4      count n
//   5 * n  the blocks, each a block reference (faultp.h)
class BlockVector {
public:
    BlockVector() = default;
    // Takes every block of dynv in order, attached to module m; dynv is
    // emptied for reuse.
    BlockVector(BlockDynamicVector& dynv, tModuleIndex m);
    // Copies of other's blocks in the module being opened.
    BlockVector(const BlockVector& other);
    BlockVector& operator=(const BlockVector&) = delete;
    ~BlockVector();

    uint32_t length() const { return count_; }
    // Block i, read when first asked for. A block whose identifier or
    // sub-block indexes lie beyond this table (or the identifier table of
    // identifierCount names) raises ObjectLoadFailed; null for an index
    // beyond the table. The first request reads the whole table and checks
    // its shape (checkShape).
    BlockRep* block(uint32_t i) const;
    // The body: the last block; null when the table is empty.
    BlockRep* body() const { return count_ ? block(count_ - 1) : nullptr; }
    // The reference itself, without reading the block.
    const Faultp<BlockRep>& ref(uint32_t i) const { return items_[i]; }

    // The size of the identifier table the blocks' identifiers index.
    void setIdentifierCount(uint32_t n) { idCount_ = n; }
    uint32_t identifierCount() const { return idCount_; }

    void attach(tModuleIndex m);
    // Reads the record into this empty vector as module m's. A count that
    // runs past the stream raises ObjectLoadFailed.
    void read(OCLStream& in, tModuleIndex m);
    void write(OCLStream& out) const;

private:
    // The compiler enters each statement list into the table before the
    // list whose statement runs it, and makes a new list for every
    // statement that runs one: the statements of block k name only blocks
    // before k, and no block is named twice. A table that breaks either (a
    // file's damage that turned an index into another valid one) could run
    // a block inside itself, or a loop's body without the statements that
    // end the loop, for ever; it raises ObjectLoadFailed before anything
    // runs, prints or is translated.
    void checkShape() const;

    uint32_t count_ = 0;
    uint32_t idCount_ = 0;
    mutable bool shapeChecked_ = false;
    std::unique_ptr<Faultp<BlockRep>[]> items_;
};

// The blocks of a procedure while the compiler builds it, numbered in the
// order it hands them in.
class BlockDynamicVector {
public:
    BlockDynamicVector() = default;
    BlockDynamicVector(const BlockDynamicVector&) = delete;
    BlockDynamicVector& operator=(const BlockDynamicVector&) = delete;

    // Appends b (not null: "(BlockRep*)b") and returns its index; the vector
    // holds a count on it.
    int32_t blockIndex(BlockRep* b);
    uint32_t length() const { return static_cast<uint32_t>(blocks_.size()); }
    BlockRep* at(uint32_t i) const { return blocks_[i].get(); }
    void clear() { blocks_.clear(); }

private:
    std::vector<Faultp<BlockRep>> blocks_;
};

// The compiler's builder of one block.
class BlockBuildRep {
public:
    // With allLocalsStatic, every local becomes a static local.
    explicit BlockBuildRep(int allLocalsStatic = 0);
    // Destroys the variable objects no block has taken over.
    ~BlockBuildRep();
    BlockBuildRep(const BlockBuildRep&) = delete;
    BlockBuildRep& operator=(const BlockBuildRep&) = delete;

    // Appends a statement; the builder owns it until the block is made.
    void addExecNode(StmtPtr node);
    // A local variable: a field of the local-variable prototype (made on
    // first use in the module being opened).
    void addLocalVar(InterDataField* f);
    // A parameter (of a Catch body): a field of the static-variable object.
    void addArgumentVar(InterDataField* f);
    // A static local with its initial value (init may be null).
    void addStaticLocalVar(InterDataField* f, Value* init);
    // A constant: f must be one ("f->isConstant()").
    void addConstVar(InterDataField* f, Value* init);
    // Any field of the static-variable object.
    void addStaticField(Field* f);

    void setEndLine(int32_t line) { endLine_ = line; }
    int32_t endLine() const { return endLine_; }
    uint32_t nodeCount() const { return static_cast<uint32_t>(nodes_.size()); }
    const std::vector<StmtPtr>& statements() const { return nodes_; }
    InterObjRep* localVarObj() const { return localVarObj_; }
    InterObjRep* staticVarObj() const { return staticVarObj_; }

private:
    friend class BlockRep;
    InterObjRep* ensureLocals();
    InterObjRep* ensureStatics();

    std::vector<StmtPtr> nodes_;
    int32_t endLine_ = 0;
    InterObjRep* localVarObj_ = nullptr;
    InterObjRep* staticVarObj_ = nullptr;
    bool allLocalsStatic_;
};

}  // namespace tq
