// BlockRep: making, copying, running, moving and deleting blocks.
#include "store/block.h"

#include <cstring>
#include <new>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "platform/util/uassert.h"
#include "store/context.h"
#include "store/errors/extexcep.h"
#include "store/interp/dbgseam.h"
#include "store/interp/nodechk.h"
#include "store/interp/stackfrm.h"
#include "store/model/fldval.h"
#include "store/model/interobj.h"
#include "store/model/objiter.h"
#include "store/persist/objstore.h"

namespace tq {

// ---- making ------------------------------------------------------------------------------

BlockRep::BlockRep(uint32_t nodeCount, int32_t endLine, uint32_t byteLength)
    : nodeCount_(nodeCount), endLine_(endLine), byteLength_(byteLength) {
    ++liveBlocks;
}

BlockRep* BlockRep::Allocate(uint32_t nodeCount, int32_t endLine, uint32_t byteLength) {
    // The node area follows the block in the same allocation.
    void* raw = ::operator new(sizeof(BlockRep) + byteLength);
    return new (raw) BlockRep(nodeCount, endLine, byteLength);
}

namespace {

std::string BlockName(tDescriptor d) {
    if (d.isDetached()) return "detached block";
    return std::string(BlockRep::storageName) + " entry " + std::to_string(d.descIndex());
}

// A variable object of a copied block: a prototype of its own in module m
// with a copy of every field of o, each starting from o's value now, so
// that the copy's variables never change with the original's. (The
// variable objects are root prototypes: a clone of one has no parent
// signature whose fields it could take over.)
InterObjRep* CopyVarObject(InterObjRep* o, tModuleIndex m, tInterObjType kind) {
    if (!o) return nullptr;
    InterObjRep* c = InterObjRep::New(m, kind);
    try {
        std::vector<std::pair<Field*, SignatureRep*>> fields;
        InterObjFieldIterator it(o);
        while (Field* f = it()) fields.emplace_back(f, it.signature());
        // The iterator gives the nearest signature first; the root's fields
        // lie first in the data block.
        for (auto at = fields.rbegin(); at != fields.rend(); ++at) {
            Field* f = at->first;
            ValuePtr init;
            const IdType t = f->type() & IDT_TYPEMASK;
            if (f->isInterDataField() && !f->isByReference() && t >= IDT_SHORT && t <= IDT_OBJECT)
                init = SnapshotField(*f, *o, *at->second);
            FieldPtr copy(f->clone());
            c->addField(copy.get(), init.get());
        }
    } catch (...) {
        c->destroy();
        throw;
    }
    return c;
}

// Deletes a block that is not finished, without reporting its description.
struct Unfinished {
    BlockRep* b;
    ~Unfinished() { delete b; }
};

}  // namespace

BlockRep* BlockRep::New(BlockBuildRep& builder) {
    uint64_t total = 0;
    for (const StmtPtr& n : builder.nodes_) total += n->size();
    TQ_ASSERT(total <= 0x7FFFFFFF, "byteLength <= 0x7FFFFFFF");
    const tModuleIndex m = ObjectStore::OpenModule();
    TQ_ASSERT(!builder.localVarObj_ || builder.localVarObj_->moduleIndex() == m,
              "localVarObj->moduleIndex() == moduleIndex()");
    TQ_ASSERT(!builder.staticVarObj_ || builder.staticVarObj_->moduleIndex() == m,
              "staticVarObj->moduleIndex() == moduleIndex()");
    Unfinished made{Allocate(builder.nodeCount(), builder.endLine_, static_cast<uint32_t>(total))};
    uint8_t* at = made.b->nodes();
    for (const StmtPtr& n : builder.nodes_) {
        std::memcpy(at, n->bytes(), n->size());
        at += n->size();
    }
    // The same check that guards blocks from files finds what the block uses
    // of its code's tables. The builders make sound nodes, but not every
    // depth of nesting: a block that could not be read back is refused now,
    // to the compiler, rather than saved.
    try {
        made.b->uses_ = NodeCheck(made.b->nodes(), made.b->byteLength_, "new block").checkStatements(made.b->nodeCount_);
    } catch (const ObjectLoadFailed& e) {
        const std::string text = std::string("The block cannot be made: ") + (e.objectName() ? e.objectName() : "");
        throw StoreException(text.c_str(), nullptr);
    }
    BlockRep* b = std::exchange(made.b, nullptr);
    b->localVarObj_ = builder.localVarObj_;
    b->staticVarObj_ = builder.staticVarObj_;
    builder.localVarObj_ = builder.staticVarObj_ = nullptr;
    b->DescribedObject<BlockRep>::attach(m);
    return b;
}

BlockRep* BlockRep::NewCopy(const BlockRep& p) {
    const tModuleIndex m = ObjectStore::OpenModule();
    Unfinished made{Allocate(p.nodeCount_, p.endLine_, p.byteLength_)};
    std::memcpy(made.b->nodes(), p.nodes(), p.byteLength_);
    made.b->uses_ = p.uses_;
    InterObjRep* locals = CopyVarObject(p.localVarObj(), m, IOT_FRAME);
    InterObjRep* statics = nullptr;
    try {
        statics = CopyVarObject(p.staticVarObj(), m, IOT_WORKER);
    } catch (...) {
        if (locals) locals->destroy();
        throw;
    }
    BlockRep* b = std::exchange(made.b, nullptr);
    b->localVarObj_ = locals;
    b->staticVarObj_ = statics;
    b->DescribedObject<BlockRep>::attach(m);
    return b;
}

BlockRep::~BlockRep() {
    dropVarObj(localVarObj_);
    dropVarObj(staticVarObj_);
    --liveBlocks;
}

void BlockRep::dropVarObj(Faultp<InterObjRep>& ref) {
    // While the block's module goes, its objects go with their own table
    // (which is discarded first); a variable object never read stays on
    // file with the block's record.
    if (ref.isDescriptor() || (!isDetached() && ObjectStore::DeletingModule(moduleIndex()))) {
        ref.nullify();
        return;
    }
    InterObjRep* o = ref.get();
    ref.nullify();
    if (o && !o->isDestroyStarted() && !ObjectStore::DeletingModule(o->moduleIndex())) o->destroy();
}

void BlockRep::deref() {
    // A count that is already 0 belongs to a block read from a file whose
    // owners understated it: it stays, as stored records may still name it.
    if (refCount() == 0 && !isDetached()) return;
    if (dropCount()) delete this;
}

InterObjRep* BlockRep::localVarObj() const { return localVarObj_.get(); }
InterObjRep* BlockRep::staticVarObj() const { return staticVarObj_.get(); }

// ---- the record ------------------------------------------------------------------------------

BlockRep* BlockRep::readFromStream(OCLStream& in, uint32_t version, tModuleIndex m, uint32_t index) {
    const std::string where = BlockName(tDescriptor::Make(m, index));
    auto fail = [&where](const std::string& what) {
        const std::string text = where + ": " + what;
        throw ObjectLoadFailed(text.c_str());
    };
    if (version != storageVersion) fail("table revision " + std::to_string(version) + " is not known");
    const uint32_t size = in.readU32();
    const uint32_t nodeCount = in.readU32();
    const int32_t endLine = in.readI32();
    Faultp<InterObjRep> locals;
    Faultp<InterObjRep> statics;
    locals.read(in, m);
    statics.read(in, m);
    if (locals.descriptor().isProxy() || statics.descriptor().isProxy())
        fail("a variable object names another module's object");
    const uint32_t byteLength = in.readU32();
    if (uint64_t(byteLength) + kRecordOverhead != size)
        fail("the block size " + std::to_string(size) + " does not match its node area of " +
             std::to_string(byteLength) + " bytes");
    if (byteLength > in.remaining()) fail("the node area runs past the end of the stream");
    Unfinished made{Allocate(nodeCount, endLine, byteLength)};
    in.read(made.b->nodes(), byteLength);
    made.b->uses_ = NodeCheck(made.b->nodes(), byteLength, where).checkStatements(nodeCount);
    BlockRep* b = std::exchange(made.b, nullptr);
    // The references keep the form the file gave them, so that an unchanged
    // block is written back as it was read.
    b->localVarObj_.~Faultp<InterObjRep>();
    new (&b->localVarObj_) Faultp<InterObjRep>(locals.descriptor(), locals.flags());
    b->staticVarObj_.~Faultp<InterObjRep>();
    new (&b->staticVarObj_) Faultp<InterObjRep>(statics.descriptor(), statics.flags());
    b->desc_ = tDescriptor::Make(m, index);
    // The one reference a stored block has is its block table's entry.
    b->setRefCount(1);
    return b;
}

void BlockRep::write(OCLStream& out) {
    out.writeU32(byteLength_ + kRecordOverhead);
    out.writeU32(nodeCount_);
    out.writeI32(endLine_);
    localVarObj_.write(out);
    staticVarObj_.write(out);
    out.writeU32(byteLength_);
    out.write(nodes(), byteLength_);
}

// ---- running --------------------------------------------------------------------------------

void BlockRep::eval(Context& ctx, const ValueList* args) {
    // The bound argument object may refer to the list's values (by-reference
    // parameters bound to converted values), so the list lives as long as
    // the frame.
    ValueList bound;
    InterObjRep* argsObj = nullptr;
    if (args && !args->isEmpty()) {
        InterObjRep* statics = staticVarObj();
        if (!statics) throw TooManyArguments("BlockRep::eval()", 32763);
        bound = *args;
        argsObj = statics->bind(&bound);
    }
    StackFrame frame(ctx, this, BlockFrame, argsObj);
    ieval(ctx);
}

void BlockRep::ieval(Context& ctx) {
    StackFrame* frame = ExecutionStack::top();
    TQ_ASSERT(frame && frame->getBlock() == this, "(BlockRep*) (ctx.currentFrame()->getBlock()) == this");
    ievalIn(ctx, *frame);
}

void BlockRep::ievalIn(Context& ctx, StackFrame& frameOnTop) {
    StackFrame* frame = &frameOnTop;
    const int32_t position = ExecutionStack::activeFrames();
    // Immediate evaluation has no procedure to tell the line of a failure:
    // the context remembers the statement instead.
    const bool immediate = ctx.procField() == nullptr;
    uint8_t* at = nodes();
    for (uint32_t i = 0; i < nodeCount_; ++i) {
        ExecNode* node = reinterpret_cast<ExecNode*>(at);
        frame->setNode(node);
        if (immediate) ctx.setLastNode(node);
        node->eval(ctx);
        // An Exit unlinked this block's frame: the block stops at once.
        if (ExecutionStack::activeFrames() < position) return;
        at += node->size();
    }
    // The end line ("Next", "Loop", "End If") is a statement of its own for
    // the debugger, which may stop there, and for the user break of a loop
    // whose body is empty; otherwise running it would do nothing.
    if (endLine_ != 0 && (DebugHook::modes || nodeCount_ == 0)) {
        EndMarker end(endLine_);
        frame->setNode(&end);
        end.eval(ctx);
        if (ExecutionStack::activeFrames() < position) return;
    }
    frame->setNode(nullptr);
}

// ---- place and lines ------------------------------------------------------------------------

void BlockRep::attach(tModuleIndex m) {
    if (moduleIndex() == m) return;
    DescribedObject<BlockRep>::attach(m);
    if (InterObjRep* o = localVarObj_.get()) o->attach(m);
    if (InterObjRep* o = staticVarObj_.get()) o->attach(m);
}

void BlockRep::getNearestSourceLine(int32_t line, int32_t& best) const {
    auto consider = [line, &best](int32_t l) {
        if (l >= line && (best == 0 || l < best)) best = l;
    };
    const uint8_t* at = nodes();
    for (uint32_t i = 0; i < nodeCount_; ++i) {
        const ExecNode* node = reinterpret_cast<const ExecNode*>(at);
        consider(node->line());
        at += node->size();
    }
    if (endLine_ != 0) consider(endLine_);
}

void BlockRep::printOn(std::ostream& os) const {
    os << "BlockRep: count(" << refCount() << ") descriptor(" << int(moduleIndex()) << ":"
       << descriptor().descIndex() << ")\n";
}

}  // namespace tq
