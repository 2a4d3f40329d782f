// Procedures from module files: an arbitrary field record, with the
// records of the blocks, signatures and objects it may name, in an
// otherwise sound module, either reads (and then runs on an object with
// Long fields a, b, c and a String field Text, with as many Long arguments
// as it has parameters) or fails with ObjectLoadFailed; a program that runs
// fails only with StoreExceptions. Its text is printed from its code and
// dead source first. Nothing crashes, leaks or runs for ever: the host's
// break check ends every run after kStatementLimit statements.
//
// A declaration of a library procedure that reads is printed and written
// again; it is never called, for a record may name any function of any
// library.
//
// Input layout: tests/fuzz/procinput.h.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/storage/oclstorage.h"
#include "platform/storage/oclstream.h"
#include "platform/util/lebytes.h"
#include "store/block.h"
#include "store/errors/extexcep.h"
#include "store/interp/dllfld.h"
#include "store/methfld.h"
#include "store/model/interobj.h"
#include "store/model/intfld.h"
#include "store/persist/idstr.h"
#include "store/persist/objstore.h"
#include "store/storeapp.h"
#include "store/vals.h"
#include "tests/fuzz/procinput.h"

namespace {

using namespace tq;

constexpr int kStatementLimit = 20000;

// Ends a run that goes on too long, as a user's break would.
class BreakingApp : public StoreApplication {
public:
    int statements = 0;
    void checkForBreak() override {
        if (++statements > kStatementLimit) throw TerminateExecution();
    }
    void appQuit() override {}
    ObjectStore* makeStore(OCLStorage*) override { return nullptr; }
};

void Put32(std::vector<uint8_t>& out, uint32_t v) {
    uint8_t b[4];
    StoreLE32(b, v);
    out.insert(out.end(), b, b + 4);
}

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

// The identifier table; each name counted far beyond what records can
// name it (these inputs spoil records, not the table's counts).
std::vector<uint8_t> IdStream() {
    std::vector<uint8_t> out;
    Put32(out, static_cast<uint32_t>(fuzz::kProcNameCount));
    Put32(out, 0xFFFFFFFF);
    for (const char* name : fuzz::kProcNames) {
        uint8_t entry[40] = {};
        StoreLE16(entry + 4, 0x4000);
        entry[6] = 0x01;
        std::memcpy(entry + 8, name, std::strlen(name));
        out.insert(out.end(), entry, entry + 40);
    }
    return out;
}

void WriteStream(OCLStorage& storage, const char* name, const std::vector<uint8_t>& bytes) {
    OCLStream s(storage, name, 1, STGM_READWRITE | STGM_SHARE_EXCLUSIVE);
    s.write(bytes.data(), bytes.size());
}

void Run(InterProcField& p, tModuleIndex m) {
    // A statement list of no statements and no end line would let a loop
    // turn without a single break check.
    for (uint32_t i = 0; i < p.blocks().length(); ++i) {
        BlockRep* b = p.blocks().block(i);
        if (!b || (b->nodeCount() == 0 && b->endLine() == 0)) return;
    }
    InterObj me(InterObjRep::New(m, IOT_ORDINARY));
    for (const char* n : {"a", "b", "c"}) me->addField(InterDataField::make(n, IDT_LONG, 1));
    me->addField(InterDataField::make("Text", IDT_STRING, 1));
    me->addField(&p);
    ValueList args;
    const int32_t n = p.parmCount();
    for (int32_t i = 0; i < n && i < 8; ++i) args.ppush(ValuePtr(new LongValue(i + 1)));
    BreakingApp app;
    try {
        p.eval(*me, &args);
    } catch (const StoreException&) {
    }
    me->Destroy();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool started = [] {
        IdString::Initialize();
        return true;
    }();
    (void)started;
    const fuzz::ProcInput in = fuzz::DecodeProcInput(data, size);
    auto* storage = new OCLStorage(STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_TRANSACTED);
    WriteStream(*storage, "Blocks", TableStream(in.blocks));
    WriteStream(*storage, "Signatures", TableStream(in.signatures));
    WriteStream(*storage, "Objects", TableStream(in.objects));
    WriteStream(*storage, "IdStrings", IdStream());
    try {
        ObjectStore store(storage);
        const tModuleIndex m = store.moduleIndex();
        OCLStorage scratch;
        OCLStream s(scratch, "field", 1, STGM_READWRITE | STGM_SHARE_EXCLUSIVE);
        s.write(in.field.data(), in.field.size());
        s.seek(0);
        try {
            FieldPtr f(Field::makeFrom(s, m));
            if (auto* p = dynamic_cast<InterProcField*>(f.get())) {
                // Printing walks the same code and dead source; it must end
                // and read nothing outside them, however they are spoilt.
                try {
                    p->getSource();
                } catch (const StoreException&) {
                }
                Run(*p, m);
            } else if (auto* d = dynamic_cast<CDLLProcField*>(f.get())) {
                try {
                    d->getSource();
                } catch (const StoreException&) {
                }
                OCLStream again(scratch, "again", 1, STGM_READWRITE | STGM_SHARE_EXCLUSIVE);
                ObjectStore::WritingScope writing(m);
                d->write(again);
            }
        } catch (const XException&) {
            // A record cut short fails as the storage's read error; inside a
            // signature's record the table reports it as ObjectLoadFailed.
        }
    } catch (const StoreException&) {
    }
    InterObjRep::DeleteObjects();
    return 0;
}
