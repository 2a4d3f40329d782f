// Signature, object, enumeration and proxy records from module files:
// arbitrary record bytes in the "Signatures", "Objects", "Enumerations",
// "ObjectProxies", "EnumerationProxies" and "SignatureProxies" streams of an
// otherwise sound module (a valid identifier table, valid description arrays)
// either read or fail with ObjectLoadFailed / ModuleOpenFailed; nothing
// crashes, loops, or leaks, and what was read can be resolved (failed
// signature proxies make their replacement objects), used (arrays indexed
// and resized, enumeration fields read and written), written again (proxies
// that are still needed) and discarded.
//
// Input layout (all little-endian; missing bytes read as zero):
//   0     1   number of signature records s (at most 16)
//   1     1   number of object records o (at most 16)
//   2     2*(s+o)  the record lengths, signatures first
//   ...        the records' bytes, signatures first, end to end
//   then  1   number of enumeration records e (at most 16)
//         2*e the record lengths
//         ... the records' bytes
//   then  1   number of object proxy records (at most 16)
//         1   number of enumeration proxy records (at most 16)
//         1   number of signature proxy records (at most 16)
//         2*n the record lengths, in that order
//         ... the records' bytes
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "platform/storage/oclstorage.h"
#include "platform/storage/oclstream.h"
#include "platform/util/lebytes.h"
#include "store/arfldval.h"
#include "store/model/enum.h"
#include "store/model/interobj.h"
#include "store/model/intfld.h"
#include "store/model/tarrfld.h"
#include "store/model/objiter.h"
#include "store/persist/idstr.h"
#include "store/persist/objstore.h"
#include "store/persist/proxy.h"
#include "store/persist/vlstrrep.h"
#include "store/sigproxy.h"
#include "store/vals.h"

namespace {

using namespace tq;

// Names the records may refer to, entries 0 to 7 of the identifier table.
const char* const kNames[] = {"Form1", "Count", "Caption", "Ok", "Value", "Items", "Button", "Preload"};

struct Reader {
    const uint8_t* data;
    size_t size;
    size_t pos = 0;
    uint8_t u8() { return pos < size ? data[pos++] : 0; }
    uint16_t u16() { return static_cast<uint16_t>(u8() | (u8() << 8)); }
};

void Put32(std::vector<uint8_t>& out, uint32_t v) {
    uint8_t b[4];
    StoreLE32(b, v);
    out.insert(out.end(), b, b + 4);
}

// A description-table stream holding the given records: head, records end
// to end, then the description array naming each of them.
std::vector<uint8_t> TableStream(const std::vector<std::vector<uint8_t>>& records) {
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
    const uint32_t slot = static_cast<uint32_t>(out.size()) - array;
    StoreLE32(&out[0], 1);
    StoreLE32(&out[4], array);
    StoreLE32(&out[8], slot);
    return out;
}

// The identifier table: every name the records may use. Each is counted
// far more often than records can name it: these inputs spoil records, not
// the counts of the identifier table (stored counts smaller than the records
// that name them let a name go while it is still in use).
std::vector<uint8_t> IdStream() {
    std::vector<uint8_t> out;
    const uint32_t n = sizeof kNames / sizeof kNames[0];
    Put32(out, n);
    Put32(out, 0xFFFFFFFF);
    for (const char* name : kNames) {
        uint8_t entry[40] = {};
        StoreLE16(entry + 4, 0x4000);
        entry[6] = 0x01;
        std::memcpy(entry + 8, name, std::strlen(name));
        out.insert(out.end(), entry, entry + 40);
    }
    return out;
}

// Counts of records, one per list, then that many record lengths and
// records, in list order.
void ReadRecords(Reader& in, std::initializer_list<std::vector<std::vector<uint8_t>>*> lists) {
    std::vector<size_t> counts;
    for (size_t i = 0; i < lists.size(); ++i) counts.push_back(in.u8() % 17);
    std::vector<size_t> lengths;
    for (size_t c : counts)
        for (size_t i = 0; i < c; ++i) lengths.push_back(in.u16());
    size_t next = 0;
    size_t list = 0;
    for (auto* out : lists) {
        for (size_t i = 0; i < counts[list]; ++i) {
            std::vector<uint8_t> record;
            for (size_t k = 0; k < lengths[next] && in.pos < in.size; ++k) record.push_back(in.u8());
            ++next;
            out->push_back(std::move(record));
        }
        ++list;
    }
}

void WriteStream(OCLStorage& storage, const char* name, const std::vector<uint8_t>& bytes) {
    OCLStream s(storage, name, 1, STGM_READWRITE | STGM_SHARE_EXCLUSIVE);
    s.write(bytes.data(), bytes.size());
}

// Reads and writes the first element of an array, then grows its last
// dimension by one keeping the values.
void ExerciseArray(InterObjRep* o, InterArrayField* a, SignatureRep* owner) {
    ValueList first;
    for (int32_t k = a->dimensions(); k-- > 0;) first.append(ValuePtr(new LongValue(a->getLBound(k))));
    ValuePtr e = a->eval(*o, *owner, &first);
    ValString text;
    e->get(text);
    if ((a->type() & IDT_TYPEMASK) != IDT_OBJECT) *e = *e;
    if (!o->isProto() || a->dimensions() == 0) return;
    FieldPtr grown(a->redimCopy(a->dimensions()));
    auto* g = static_cast<InterArrayField*>(grown.get());
    for (int32_t k = 0; k < a->dimensions(); ++k)
        g->defineBounds(k, a->getLBound(k), a->getUBound(k) + (k == a->dimensions() - 1 ? 1 : 0));
    o->redimArrayField(*owner, g, 1);
}

// Uses what was read the way a program would.
void Exercise(InterObjRep* o) {
    if (!o || o->isDestroyed()) return;
    (void)o->alias();
    InterObjFieldIterator fields(o);
    std::vector<std::pair<FieldPtr, SignatureRep*>> arrays;
    while (Field* f = fields()) {
        if (!f->isData()) continue;
        try {
            ValString text;
            f->get(text, *o, *fields.signature());
            if (f->isEnumeration()) f->set(text, *o, *fields.signature());
        } catch (const StoreException&) {
        }
        if (f->isArrayData()) arrays.emplace_back(f, fields.signature());
    }
    for (auto& [a, owner] : arrays) {
        try {
            ExerciseArray(o, static_cast<InterArrayField*>(a.get()), owner);
        } catch (const StoreException&) {
        }
    }
    std::string out;
    try {
        o->textUnload("", out, 0, 0, nullptr);
    } catch (const StoreException&) {
    }
    // A copy runs every field's constructor over the bytes read; a field
    // added and removed again moves every object of the progeny.
    try {
        InterObj copy(InterObjRep::NewCopy(*o, DETACHED_MODULE, IOT_ORDINARY));
        if (copy.is() && !copy->isDestroyStarted()) copy->Destroy();
    } catch (const StoreException&) {
    }
    if (o->isProto() && !o->isDestroyed()) {
        try {
            o->addField(InterDataField::make("Items", IDT_STRING, 1));
            o->removeField("Items");
        } catch (const StoreException&) {
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool started = [] {
        IdString::Initialize();
        return true;
    }();
    (void)started;
    Reader in{data, size};
    const size_t sigCount = in.u8() % 17;
    const size_t objCount = in.u8() % 17;
    std::vector<size_t> lengths;
    for (size_t i = 0; i < sigCount + objCount; ++i) lengths.push_back(in.u16());
    std::vector<std::vector<uint8_t>> sigs, objs, enums;
    for (size_t i = 0; i < sigCount + objCount; ++i) {
        std::vector<uint8_t> record;
        for (size_t k = 0; k < lengths[i] && in.pos < in.size; ++k) record.push_back(in.u8());
        (i < sigCount ? sigs : objs).push_back(std::move(record));
    }
    const size_t enumCount = in.u8() % 17;
    std::vector<size_t> enumLengths;
    for (size_t i = 0; i < enumCount; ++i) enumLengths.push_back(in.u16());
    for (size_t i = 0; i < enumCount; ++i) {
        std::vector<uint8_t> record;
        for (size_t k = 0; k < enumLengths[i] && in.pos < in.size; ++k) record.push_back(in.u8());
        enums.push_back(std::move(record));
    }

    std::vector<std::vector<uint8_t>> objProxies, enumProxies, sigProxies;
    ReadRecords(in, {&objProxies, &enumProxies, &sigProxies});

    auto* storage = new OCLStorage(STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_TRANSACTED);
    WriteStream(*storage, "Signatures", TableStream(sigs));
    WriteStream(*storage, "Objects", TableStream(objs));
    WriteStream(*storage, "Enumerations", TableStream(enums));
    WriteStream(*storage, "ObjectProxies", TableStream(objProxies));
    WriteStream(*storage, "EnumerationProxies", TableStream(enumProxies));
    WriteStream(*storage, "SignatureProxies", TableStream(sigProxies));
    WriteStream(*storage, "IdStrings", IdStream());
    // The module's other streams, empty.
    for (const char* name : {"Module version", "Static globals", "Strings"}) WriteStream(*storage, name, {});
    try {
        // The store owns the storage from here, also when opening fails.
        ObjectStore store(storage);
        const tModuleIndex m = store.moduleIndex();
        // As a load does: every signature proxy is resolved, and those that
        // fail make their replacement objects.
        try {
            ObjectStore::resolveSigProxies(m);
        } catch (const StoreException&) {
        }
        for (uint32_t i = 0; i < objProxies.size(); ++i) {
            try {
                Exercise(InterObjRep::fault(tDescriptor::Make(m, i, true)));
            } catch (const StoreException&) {
            }
        }
        for (uint32_t i = 0; i < enumProxies.size(); ++i) {
            try {
                (void)EnumRep::fault(tDescriptor::Make(m, i, true));
            } catch (const StoreException&) {
            }
        }
        for (uint32_t i = 0; i < enums.size(); ++i) {
            try {
                if (EnumRep* e = DescribedObjectNoDescriptor<EnumRep>::fault(tDescriptor::Make(m, i))) {
                    (void)e->validString(e->count() ? e->entries().at(0).value : 0);
                    (void)EnumRep::find(e->name());
                }
            } catch (const StoreException&) {
            }
        }
        for (uint32_t i = 0; i < sigs.size(); ++i) {
            try {
                DescribedObjectNoDescriptor<SignatureRep>::fault(tDescriptor::Make(m, i));
            } catch (const StoreException&) {
            }
        }
        for (uint32_t i = 0; i < objs.size(); ++i) {
            try {
                Exercise(InterObjRep::fault(tDescriptor::Make(m, i)));
            } catch (const StoreException&) {
            }
        }
        // Written again: proxies that are still needed, with fresh fields;
        // the others are discarded.
        try {
            ObjectStore::Save(m);
        } catch (const StoreException&) {
        }
    } catch (const StoreException&) {
    }
    InterObjRep::DeleteObjects();
    return 0;
}
