// Block records from module files: arbitrary bytes as the records of the
// "Blocks" table of an otherwise sound module either read (and are then
// checked against a table of kBlockNameCount names and run on an object
// with a field of each name, after their text is printed) or fail with
// ObjectLoadFailed; nothing
// crashes, loops, reads outside the record or leaks.
//
// Input layout: tests/fuzz/blockinput.h.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "platform/storage/oclstorage.h"
#include "platform/storage/oclstream.h"
#include "platform/util/lebytes.h"
#include "store/block.h"
#include "store/context.h"
#include "store/interp/srcctl.h"
#include "store/model/interobj.h"
#include "store/model/intfld.h"
#include "store/persist/idstr.h"
#include "store/persist/objstore.h"
#include "tests/fuzz/blockinput.h"

namespace {

using namespace tq;

void Put32(std::vector<uint8_t>& out, uint32_t v) {
    uint8_t b[4];
    StoreLE32(b, v);
    out.insert(out.end(), b, b + 4);
}

// A description-table stream holding the records as entries 0 to n-1.
std::vector<uint8_t> TableStream(const std::vector<std::string>& records) {
    std::vector<uint8_t> out(16, 0);
    std::vector<std::pair<uint32_t, uint32_t>> spans;
    for (const auto& r : records) {
        spans.emplace_back(static_cast<uint32_t>(out.size()), static_cast<uint32_t>(r.size()));
        out.insert(out.end(), r.begin(), r.end());
    }
    const uint32_t array = static_cast<uint32_t>(out.size());
    Put32(out, static_cast<uint32_t>(records.size()));
    Put32(out, 0xFFFFFFFF);
    for (const auto& [offset, length] : spans) {
        out.push_back(0x01);
        Put32(out, 0);
        Put32(out, offset);
        Put32(out, length);
    }
    StoreLE32(&out[0], 1);
    StoreLE32(&out[4], array);
    StoreLE32(&out[8], static_cast<uint32_t>(out.size()) - array);
    return out;
}

// Runs a block that read: its identifiers index the fuzz names, installed
// as an immediate evaluation's table, and resolve to fields of Me.
void Run(BlockRep* b, const IdStringVector& names) {
    if (b->uses().maxIdIndex >= static_cast<int32_t>(names.count()) || b->uses().maxBlockIndex >= 0) return;
    // Its text first: printing reads every node the check let through.
    {
        std::ostringstream text;
        SourceControl sc(DeadSource(), names, nullptr, text);
        b->print(sc);
    }
    InterObj me(InterObjRep::New(DETACHED_MODULE, IOT_ORDINARY));
    for (size_t i = 0; i + 1 < fuzz::kBlockNameCount; ++i)
        me->addField(InterDataField::make(fuzz::kBlockNames[i], IDT_LONG, 1));
    me->addField(InterDataField::make(fuzz::kBlockNames[fuzz::kBlockNameCount - 1], IDT_STRING, 1));
    Context ctx(me.get(), 0);
    ctx.setEvalTables(&names, nullptr);
    try {
        b->eval(ctx);
    } catch (const StoreException&) {
    }
    ctx.setEvalTables(nullptr, nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static IdStringVector* names = [] {
        IdString::Initialize();
        IdDynamicVector dyn;
        for (const char* n : fuzz::kBlockNames) dyn.stringIndex(n);
        return new IdStringVector(dyn, DETACHED_MODULE);
    }();
    const std::vector<std::string> records = fuzz::DecodeBlockInput(data, size);
    auto* storage = new OCLStorage(STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_TRANSACTED);
    {
        const std::vector<uint8_t> table = TableStream(records);
        OCLStream s(*storage, "Blocks", 1, STGM_READWRITE | STGM_SHARE_EXCLUSIVE);
        s.write(table.data(), table.size());
    }
    try {
        ObjectStore store(storage);
        const tModuleIndex m = store.moduleIndex();
        for (uint32_t i = 0; i < records.size(); ++i) {
            try {
                if (BlockRep* b = DescribedObjectNoDescriptor<BlockRep>::fault(tDescriptor::Make(m, i))) Run(b, *names);
            } catch (const StoreException&) {
            }
        }
    } catch (const StoreException&) {
    }
    InterObjRep::DeleteObjects();
    return 0;
}
