// Block tables (BlockVector, BlockDynamicVector) and the block builder.
#include <string>
#include <vector>

#include "platform/storage/oclstream.h"
#include "platform/util/uassert.h"
#include "store/block.h"
#include "store/errors/extexcep.h"
#include "store/field.h"
#include "store/model/interobj.h"
#include "store/model/intfld.h"
#include "store/persist/objstore.h"

namespace tq {

// ---- BlockVector ------------------------------------------------------------------------

BlockVector::BlockVector(BlockDynamicVector& dynv, tModuleIndex m)
    : count_(dynv.length()), items_(std::make_unique<Faultp<BlockRep>[]>(dynv.length())) {
    TQ_ASSERT(items_ != nullptr || count_ == 0, "array_ != NULL");
    for (uint32_t i = 0; i < count_; ++i) {
        BlockRep* b = dynv.at(i);
        b->attach(m);
        items_[i] = b;
    }
    TQ_ASSERT(count_ == dynv.length(), "npts_ == dynv.length()");
    dynv.clear();
}

BlockVector::BlockVector(const BlockVector& other)
    : count_(other.count_), idCount_(other.idCount_), items_(std::make_unique<Faultp<BlockRep>[]>(other.count_)) {
    for (uint32_t i = 0; i < count_; ++i) {
        if (BlockRep* b = other.block(i)) items_[i] = BlockRep::NewCopy(*b);
    }
}

BlockVector::~BlockVector() = default;

namespace {

// A block from a file that names an identifier or a sub-block beyond the
// tables of the code it belongs to. Out of line: every statement that runs
// a sub-block asks for it, and the check itself is two comparisons.
[[noreturn, gnu::noinline]] void RefuseBlock(const BlockRep& b, uint32_t at, const std::string& what) {
    const std::string text = std::string(BlockRep::storageName) + " entry " +
                             std::to_string(b.descriptor().descIndex()) + ": " + what + " at offset " +
                             std::to_string(at);
    throw ObjectLoadFailed(text.c_str());
}

[[noreturn, gnu::noinline]] void RefuseUses(const BlockRep& b, uint32_t idCount, uint32_t count) {
    const BlockUses& u = b.uses();
    if (u.maxIdIndex >= 0 && static_cast<uint32_t>(u.maxIdIndex) >= idCount)
        RefuseBlock(b, u.idNodeOffset,
                    "identifier index " + std::to_string(u.maxIdIndex) + " lies beyond the identifier table of " +
                        std::to_string(idCount) + " names");
    RefuseBlock(b, u.blockNodeOffset,
                "sub-block index " + std::to_string(u.maxBlockIndex) + " lies beyond the block table of " +
                    std::to_string(count) + " blocks");
}

}  // namespace

void BlockVector::checkShape() const {
    std::vector<bool> named(count_);
    for (uint32_t k = 0; k < count_; ++k) {
        const BlockRep* b = items_[k].get();
        if (!b) continue;
        for (const auto& [index, at] : b->uses().subBlocks) {
            // Beyond the table: refused when the block itself is asked for.
            if (index >= count_) continue;
            if (index >= k)
                RefuseBlock(*b, at,
                            "sub-block index " + std::to_string(index) + " does not come before the block (index " +
                                std::to_string(k) + " of its table): the block would run inside itself");
            if (named[index])
                RefuseBlock(*b, at, "sub-block index " + std::to_string(index) + " is run by two statements");
            named[index] = true;
        }
    }
}

BlockRep* BlockVector::block(uint32_t i) const {
    if (i >= count_) return nullptr;
    if (!shapeChecked_) [[unlikely]] {
        checkShape();
        shapeChecked_ = true;
    }
    BlockRep* b = items_[i].get();
    if (!b) return nullptr;
    // What the block's check found it uses must lie inside this code's
    // tables; a block from a file may name anything.
    const BlockUses& u = b->uses();
    if ((u.maxIdIndex >= 0 && static_cast<uint32_t>(u.maxIdIndex) >= idCount_) ||
        (u.maxBlockIndex >= 0 && static_cast<uint32_t>(u.maxBlockIndex) >= count_)) [[unlikely]]
        RefuseUses(*b, idCount_, count_);
    return b;
}

void BlockVector::attach(tModuleIndex m) {
    for (uint32_t i = 0; i < count_; ++i) {
        if (BlockRep* b = items_[i].get()) b->attach(m);
    }
}

void BlockVector::read(OCLStream& in, tModuleIndex m) {
    TQ_ASSERT(count_ == 0, "count == 0");
    const uint32_t n = in.readU32();
    if (uint64_t(n) * 5 > in.remaining()) throw ObjectLoadFailed("BlockVector: block count runs past the end of the stream");
    auto items = std::make_unique<Faultp<BlockRep>[]>(n);
    for (uint32_t i = 0; i < n; ++i) {
        items[i].read(in, m);
        // Blocks belong to the module that names them: a block reference
        // never goes through a proxy.
        if (items[i].descriptor().isProxy()) throw ObjectLoadFailed("BlockVector: a block reference names a proxy");
    }
    items_ = std::move(items);
    count_ = n;
}

void BlockVector::write(OCLStream& out) const {
    out.writeU32(count_);
    for (uint32_t i = 0; i < count_; ++i) items_[i].write(out);
}

// ---- BlockDynamicVector -----------------------------------------------------------------------

int32_t BlockDynamicVector::blockIndex(BlockRep* b) {
    TQ_ASSERT(b != nullptr, "(BlockRep*)b");
    blocks_.emplace_back(b);
    return static_cast<int32_t>(blocks_.size() - 1);
}

// ---- BlockBuildRep ---------------------------------------------------------------------------------

BlockBuildRep::BlockBuildRep(int allLocalsStatic) : allLocalsStatic_(allLocalsStatic != 0) {}

BlockBuildRep::~BlockBuildRep() {
    if (localVarObj_) localVarObj_->destroy();
    if (staticVarObj_) staticVarObj_->destroy();
}

void BlockBuildRep::addExecNode(StmtPtr node) {
    TQ_ASSERT(node != nullptr, "node");
    nodes_.push_back(std::move(node));
}

InterObjRep* BlockBuildRep::ensureLocals() {
    if (!localVarObj_) localVarObj_ = InterObjRep::New(ObjectStore::OpenModule(), IOT_FRAME);
    return localVarObj_;
}

InterObjRep* BlockBuildRep::ensureStatics() {
    if (!staticVarObj_) staticVarObj_ = InterObjRep::New(ObjectStore::OpenModule(), IOT_WORKER);
    return staticVarObj_;
}

namespace {

// A field that fails to join an object (a name taken twice) is freed: the
// object's field list is the only other thing that would hold it.
void AddTo(InterObjRep* o, Field* f, Value* init) {
    FieldPtr keep(f);
    o->addField(f, init);
}

}  // namespace

void BlockBuildRep::addLocalVar(InterDataField* f) {
    if (allLocalsStatic_) return addStaticLocalVar(f, nullptr);
    AddTo(ensureLocals(), f, nullptr);
}

void BlockBuildRep::addArgumentVar(InterDataField* f) { AddTo(ensureStatics(), f, nullptr); }

void BlockBuildRep::addStaticLocalVar(InterDataField* f, Value* init) {
    AddTo(ensureStatics(), f, init);
}

void BlockBuildRep::addConstVar(InterDataField* f, Value* init) {
    TQ_ASSERT(f && f->isConst(), "f->isConstant()");
    addStaticLocalVar(f, init);
}

void BlockBuildRep::addStaticField(Field* f) { AddTo(ensureStatics(), f, nullptr); }

}  // namespace tq
