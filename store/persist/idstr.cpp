#include "store/persist/idstr.h"

#include <array>
#include <cstring>
#include <ostream>

#include "platform/storage/oclstorage.h"
#include "platform/storage/oclstream.h"
#include "platform/util/uassert.h"
#include "store/errors/extexcep.h"
#include "store/persist/objstore.h"
#include "store/persist/oclbawfl.h"
#include "store/persist/recordread.h"

namespace tq {

namespace {

constexpr const char* kStreamName = "IdStrings";
constexpr uint32_t kBlockSize = 32;
constexpr uint32_t kDictBuckets = 64;
constexpr size_t kTextOffset = 8;
constexpr size_t kTextBytes = kMaxIdLength + 1;
// Tables exist for the loaded modules and for DETACHED_MODULE.
constexpr size_t kTableSlots = size_t(DETACHED_MODULE) + 1;

// One module's entries and, except for DETACHED_MODULE, the stream they are
// kept in.
class IdStringTable : public OCLBlockArrayWFL<IdStringRep> {
public:
    IdStringTable() : OCLBlockArrayWFL<IdStringRep>(kBlockSize, kBlockSize) {}
    std::unique_ptr<OCLStream> stream;
    uint64_t freed = 0;  // entries given up since the table was read
};

// The dictionary's own hash of a text (at most 31 characters). The
// identifier hash (IdString::Hash, h * 5 + c) collides for texts that differ
// only in digits (Row00015 and Row00020 are one value), so a module of
// numbered names would compare texts on most look-ups. This one mixes eight
// characters a step (opening a module hashes every name it holds); it lives
// only in memory, so the order of the bytes in a word is the machine's.
uint64_t MixWord(uint64_t h, uint64_t w) {
    h = (h ^ w) * 0xFF51AFD7ED558CCDull;
    return h ^ (h >> 32);
}

uint32_t DictHash(const char* text) {
    const size_t n = strnlen(text, kMaxIdLength);
    uint64_t h = 0x9E3779B97F4A7C15ull ^ n;
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t w;
        std::memcpy(&w, text + i, 8);
        h = MixWord(h, w);
    }
    if (i < n) {
        uint64_t w = 0;
        std::memcpy(&w, text + i, n - i);
        h = MixWord(h, w);
    }
    return static_cast<uint32_t>(h ^ (h >> 29));
}

// The dictionary of one module: text -> index in its table. Open addressing
// with linear probing over a power-of-two array of slots that hold the
// index and the text's hash; the texts themselves are read from the table,
// so a lookup allocates nothing and compares at most 31 characters per
// candidate. Removal shifts the following slots back (no tombstones).
class IdStringDict {
public:
    IdStringDict(const IdStringTable& table, uint32_t expected) : table_(table) {
        uint32_t capacity = kDictBuckets;
        while (capacity / 4 * 3 < expected) capacity *= 2;
        resize(capacity);
    }

    uint32_t size() const { return used_; }

    int32_t find(const char* text) const {
        const uint32_t h = DictHash(text);
        for (uint32_t i = home(h);; i = (i + 1) & mask_) {
            const Slot& s = slots_[i];
            if (s.index == kEmpty) return ID_NOT_FOUND;
            if (s.hash == h && std::strncmp(table_[s.index].text(), text, kMaxIdLength) == 0)
                return static_cast<int32_t>(s.index);
        }
    }

    // Enters the text of table entry index, which must not be a key yet.
    void insert(uint32_t index) {
        if ((used_ + 1) > slots_.size() / 4 * 3) resize(static_cast<uint32_t>(slots_.size() * 2));
        place(Slot{DictHash(table_[index].text()), index});
        ++used_;
    }

    // Enters the text of table entry index unless it is a key already, with
    // one hash and one probe; the index of the entry that holds it, or
    // ID_NOT_FOUND when it was entered.
    int32_t insertUnique(uint32_t index) {
        if ((used_ + 1) > slots_.size() / 4 * 3) resize(static_cast<uint32_t>(slots_.size() * 2));
        const char* text = table_[index].text();
        const uint32_t h = DictHash(text);
        uint32_t i = home(h);
        for (; slots_[i].index != kEmpty; i = (i + 1) & mask_) {
            const Slot& s = slots_[i];
            if (s.hash == h && std::strncmp(table_[s.index].text(), text, kMaxIdLength) == 0)
                return static_cast<int32_t>(s.index);
        }
        slots_[i] = Slot{h, index};
        ++used_;
        return ID_NOT_FOUND;
    }

    // Removes text; returns the index it named, or ID_NOT_FOUND.
    int32_t remove(const char* text) {
        const uint32_t h = DictHash(text);
        uint32_t i = home(h);
        for (;; i = (i + 1) & mask_) {
            const Slot& s = slots_[i];
            if (s.index == kEmpty) return ID_NOT_FOUND;
            if (s.hash == h && std::strncmp(table_[s.index].text(), text, kMaxIdLength) == 0) break;
        }
        const uint32_t index = slots_[i].index;
        // Backward shift: move up every following slot of the cluster whose
        // home does not lie cyclically in (i, j].
        for (uint32_t j = (i + 1) & mask_; slots_[j].index != kEmpty; j = (j + 1) & mask_) {
            const uint32_t k = home(slots_[j].hash);
            const bool stays = i <= j ? (i < k && k <= j) : (i < k || k <= j);
            if (stays) continue;
            slots_[i] = slots_[j];
            i = j;
        }
        slots_[i].index = kEmpty;
        --used_;
        return static_cast<int32_t>(index);
    }

private:
    static constexpr uint32_t kEmpty = 0xFFFFFFFF;
    struct Slot {
        uint32_t hash;
        uint32_t index;
    };

    // The slot is taken from the high bits of a multiplicative mix.
    uint32_t home(uint32_t h) const { return (h * 0x9E3779B1u) >> shift_; }

    void place(Slot s) {
        uint32_t i = home(s.hash);
        while (slots_[i].index != kEmpty) i = (i + 1) & mask_;
        slots_[i] = s;
    }

    void resize(uint32_t capacity) {
        std::vector<Slot> old = std::move(slots_);
        slots_.assign(capacity, Slot{0, kEmpty});
        mask_ = capacity - 1;
        shift_ = 32;
        for (uint32_t c = capacity; c > 1; c >>= 1) --shift_;
        for (const Slot& s : old)
            if (s.index != kEmpty) place(s);
    }

    const IdStringTable& table_;
    std::vector<Slot> slots_;
    uint32_t mask_ = 0;
    uint32_t shift_ = 32;
    uint32_t used_ = 0;
};

// The tables and dictionaries of every module slot and of DETACHED_MODULE.
// They are made on first use and never destroyed: a host that keeps its
// TessaroInitializer in static storage ends the detached module's names
// (Terminate) while the process ends, after any destructor of ours has run.
std::array<std::unique_ptr<IdStringTable>, kTableSlots>& Tables() {
    static auto* const slots = new std::array<std::unique_ptr<IdStringTable>, kTableSlots>();
    return *slots;
}
std::array<std::unique_ptr<IdStringDict>, kTableSlots>& Dicts() {
    static auto* const slots = new std::array<std::unique_ptr<IdStringDict>, kTableSlots>();
    return *slots;
}

IdStringTable& TableOf(tModuleIndex m) {
    TQ_ASSERT(m < kTableSlots && Tables()[m] != nullptr, "table[moduleIdx]");
    return *Tables()[m];
}

IdStringDict& DictOf(tModuleIndex m) {
    TQ_ASSERT(m < kTableSlots && Dicts()[m] != nullptr, "dict[moduleIdx]");
    return *Dicts()[m];
}

// Interns text (cut to 31 characters) in module m: the existing entry of
// that text, or a free one initialised for it. The count is not changed.
uint32_t Intern(const char* text, tModuleIndex m) {
    IdStringDict& d = DictOf(m);
    IdStringTable& t = TableOf(m);
    if (const int32_t found = d.find(text); found != ID_NOT_FOUND) {
        t[found].setModuleIndex(m);
        return static_cast<uint32_t>(found);
    }
    const uint32_t index = t.nextFree();
    IdStringRep& e = t[index];
    // A descriptor has 22 bits of index; a program that makes more names
    // than that in one module is refused rather than given a wrong one.
    if (index > tDescriptor::kMaxIndex) {
        t.setFree(index);
        throw StoreException("IdString: too many identifier strings in one module");
    }
    std::memset(e.bytes, 0, sizeof e.bytes);
    e.markUsed();
    e.setModuleIndex(m);
    std::strncpy(reinterpret_cast<char*>(e.bytes + kTextOffset), text, kMaxIdLength);
    d.insert(index);
    return index;
}

// Gives every handle id of table m back; the entries leave memory.
void ReleaseIds(IdStringTable& t) {
    t.forEach([](IdStringRep& e, uint32_t) {
        if (e.isUsed() && e.memoryId() != 0) {
            HandleTable::Global().release(e.memoryId());
            e.setMemoryId(0);
        }
    });
}

// Reads the stored table of module m and checks every used entry: the text
// ends within its 32 bytes and is not empty. The handle word is cleared and the flags and
// module byte are made those of this module.
void ReadTable(IdStringTable& t, tModuleIndex m) {
    OCLStream& s = *t.stream;
    s.seek(0);
    try {
        t.read(s, [m](IdStringRep& e) {
            e.setMemoryId(0);
            if (e.isUsed()) {
                e.markUsed();
                e.setModuleIndex(m);
            } else {
                e.markFree();
            }
        });
    } catch (const StorageError& e) {
        ThrowCorruptTable(kStreamName, e.what());
    }
    for (uint32_t i = 0; i < t.count(); ++i) {
        IdStringRep& e = t[i];
        if (!e.isUsed()) continue;
        if (std::memchr(e.bytes + kTextOffset, 0, kTextBytes) == nullptr) {
            const std::string what = "entry " + std::to_string(i) + " has no terminating NUL";
            ThrowCorruptTable(kStreamName, what.c_str());
        }
        // Nothing is ever named by the empty text: an entry in use that holds
        // it lost its name, and the thing it named could not be found by it.
        if (e.bytes[kTextOffset] == 0) {
            const std::string what = "entry " + std::to_string(i) + " is in use but its name is empty";
            ThrowCorruptTable(kStreamName, what.c_str());
        }
        e.bytes[sizeof e.bytes - 1] = 0;
    }
}

}  // namespace

// ---- IdStringRep --------------------------------------------------------------

HandleTable::Id IdStringRep::selfId() const {
    uint32_t id = memoryId();
    if (id == 0) {
        IdStringRep* self = const_cast<IdStringRep*>(this);
        id = HandleTable::Global().add(self);
        self->setMemoryId(id);
    }
    return id;
}

HandleTable::Id IdStringRep::handle() const {
    utilsAssert("Illegal operation", __FILE__, __LINE__);
}

tDescriptor IdStringRep::descriptor() const {
    const tModuleIndex m = moduleIndex();
    const int32_t index = DictOf(m).find(text());
    TQ_ASSERT(index != ID_NOT_FOUND, "index != ID_NOT_FOUND");
    return tDescriptor::Make(m, static_cast<uint32_t>(index));
}

void IdStringRep::ref() {
    const uint16_t n = refCount();
    if (n != kStuckCount) setRefCount(static_cast<uint16_t>(n + 1));
}

void IdStringRep::deref() {
    const uint16_t n = refCount();
    const tModuleIndex m = moduleIndex();
    if (n == 0) {
        // Only a module's file can leave a named entry at 0 (see invariant 2).
        TQ_ASSERT(m < DETACHED_MODULE, "refCount() > 0");
        return;
    }
    if (n == kStuckCount) return;
    // The record that failed to read still names the entry on file.
    if (RecordRead::Failing()) return;
    setRefCount(static_cast<uint16_t>(n - 1));
    if (n - 1 != 0 || m >= DETACHED_MODULE) return;
    IdStringTable& t = TableOf(m);
    const int32_t index = DictOf(m).remove(text());
    TQ_ASSERT(index != ID_NOT_FOUND, "index != ID_NOT_FOUND");
    HandleTable::Global().release(memoryId());
    // A freed entry keeps no trace of its name in the next file written.
    std::memset(bytes, 0, sizeof bytes);
    markUsed();
    t.setFree(static_cast<uint32_t>(index));
    ++t.freed;
}

IdStringRep* IdStringRep::fault(tDescriptor d) {
    if (d.isNull()) return nullptr;
    const tModuleIndex m = d.moduleIndex();
    TQ_ASSERT(m <= MAX_MODULES, "m <= MAX_MODULES");
    IdStringTable& t = TableOf(m);
    const uint32_t index = d.descIndex();
    // The descriptor was read from a record: a name the table does not hold
    // is a fault of the file.
    if (index >= t.count() || !t[index].isUsed()) {
        const std::string what = "IdStrings entry " + std::to_string(index) + " of module " +
                                 std::to_string(m) + " is not in use";
        throw ObjectLoadFailed(what.c_str());
    }
    IdStringRep& e = t[index];
    e.setModuleIndex(m);
    return &e;
}

bool IdStringRep::objectExists(tDescriptor d) {
    if (d.isNull()) return false;
    const tModuleIndex m = d.moduleIndex();
    if (m >= kTableSlots || !Tables()[m]) return false;
    const IdStringTable& t = *Tables()[m];
    return d.descIndex() < t.count() && t[d.descIndex()].isUsed();
}

tDescriptor IdStringRep::internalDescriptor(const IdStringRep& rep, tModuleIndex m) {
    if (rep.moduleIndex() == m) return rep.descriptor();
    const uint32_t index = Intern(rep.text(), m);
    TableOf(m)[index].ref();
    return tDescriptor::Make(m, index);
}

void IdStringRep::printOn(std::ostream& os) const {
    os << "IdStringRep: count(" << refCount() << ") at " << static_cast<const void*>(this)
       << " \"" << text() << "\"\n";
}

// ---- IdString -----------------------------------------------------------------

IdString::IdString(const char* text, tModuleIndex m) {
    if (!text) return;
    Faultp<IdStringRep>::operator=(&TableOf(m)[Intern(text, m)]);
}

IdString::operator const char*() const {
    const IdStringRep* rep = get();
    return rep ? rep->text() : nullptr;
}

bool operator==(const IdString& a, const IdString& b) {
    const IdStringRep* ra = a.get();
    const IdStringRep* rb = b.get();
    if (!ra || !rb) return ra == rb;
    return ra == rb || std::strcmp(ra->text(), rb->text()) == 0;
}

void IdString::attach(tModuleIndex m) {
    const char* text = *this;
    if (!text) return;
    *this = IdString(text, m);
}

uint32_t IdString::hash() const {
    const char* text = *this;
    TQ_ASSERT(text != nullptr, "(const char*)id");
    return Hash(text);
}

uint32_t IdString::Hash(const char* text) {
    uint32_t h = 0;
    for (size_t i = 0; i < kMaxIdLength && text[i] != '\0'; ++i)
        h = h * 5 + static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(text[i])));
    return h;
}

void IdString::Initialize() {
    if (!Tables()[DETACHED_MODULE]) Tables()[DETACHED_MODULE] = std::make_unique<IdStringTable>();
    if (!Dicts()[DETACHED_MODULE])
        Dicts()[DETACHED_MODULE] = std::make_unique<IdStringDict>(*Tables()[DETACHED_MODULE], 0);
}

void IdString::Terminate() {
    TQ_ASSERT(Tables()[DETACHED_MODULE] != nullptr, "table[DETACHED_MODULE] != NULL");
    TQ_ASSERT(Dicts()[DETACHED_MODULE] != nullptr, "dict[DETACHED_MODULE] != NULL");
    ReleaseIds(*Tables()[DETACHED_MODULE]);
    Dicts()[DETACHED_MODULE].reset();
    Tables()[DETACHED_MODULE].reset();
}

void IdString::newModule(tModuleIndex m, OCLStorage& storage) {
    TQ_ASSERT(m < MAX_MODULES && Tables()[m] == nullptr, "table[i] == NULL");
    TQ_ASSERT(Dicts()[m] == nullptr, "dict[i] == NULL");
    auto t = std::make_unique<IdStringTable>();
    t->stream = std::make_unique<OCLStream>(storage, kStreamName, 1,
                                            STGM_READWRITE | STGM_SHARE_EXCLUSIVE);
    if (t->stream->size() != 0) ReadTable(*t, m);
    auto d = std::make_unique<IdStringDict>(*t, t->count());
    for (uint32_t i = 0; i < t->count(); ++i) {
        const IdStringRep& e = (*t)[i];
        if (!e.isUsed()) continue;
        if (d->insertUnique(i) != ID_NOT_FOUND) {
            const std::string what = "entry " + std::to_string(i) + " repeats the name \"" +
                                     std::string(e.text()) + "\"";
            ThrowCorruptTable(kStreamName, what.c_str());
        }
    }
    Tables()[m] = std::move(t);
    Dicts()[m] = std::move(d);
}

void IdString::delModule(tModuleIndex m) {
    TQ_ASSERT(m < MAX_MODULES && Tables()[m] != nullptr, "table[i] != NULL");
    TQ_ASSERT(Dicts()[m] != nullptr, "dict[i] != NULL");
    ReleaseIds(*Tables()[m]);
    Dicts()[m].reset();
    Tables()[m].reset();
}

// Writes the table record from offset 0:
//
//   order  width       content
//   1      4           entry count
//   2      4           free-list head (0xFFFFFFFF when empty)
//   3      40 * count  the entries, used and free alike, in index order
//
// The handle words are written as 0, so the file carries nothing of this
// process's memory. Once the stream holds the table, a save writes back
// only the head and the entries that changed since (refcounts, entries
// taken or freed), so its cost follows the names that changed, not the
// module's.
void IdString::writeModule(tModuleIndex m) {
    TQ_ASSERT(m < MAX_MODULES && Tables()[m] != nullptr, "table[i] != NULL");
    IdStringTable& t = *Tables()[m];
    t.writeChanged(*t.stream, 0, [](IdStringRep& e) {
        e.setMemoryId(0);
        e.clearEntryChanged();
    });
    t.stream->setSize(t.recordSize());
}

uint32_t IdString::TableCount(tModuleIndex m) {
    return m < kTableSlots && Tables()[m] ? Tables()[m]->count() : 0;
}

uint64_t IdString::FreedCount(tModuleIndex m) {
    return m < kTableSlots && Tables()[m] ? Tables()[m]->freed : 0;
}

int32_t IdString::Find(const char* text, tModuleIndex m) {
    if (m >= kTableSlots || !Dicts()[m] || !text) return ID_NOT_FOUND;
    return Dicts()[m]->find(text);
}

std::string IdString::CheckModule(tModuleIndex m) {
    if (m >= kTableSlots || !Tables()[m] || !Dicts()[m]) return "no table";
    const IdStringTable& t = *Tables()[m];
    const IdStringDict& d = *Dicts()[m];
    uint32_t used = 0;
    for (uint32_t i = 0; i < t.count(); ++i) {
        const IdStringRep& e = t[i];
        if (!e.isUsed()) continue;
        ++used;
        const std::string at = "entry " + std::to_string(i) + ": ";
        if (e.bytes[sizeof e.bytes - 1] != 0) return at + "text not terminated";
        if (e.moduleIndex() != m) return at + "module byte is " + std::to_string(e.moduleIndex());
        if (d.find(e.text()) != static_cast<int32_t>(i)) return at + "dictionary names another entry";
        if (e.memoryId() != 0 && HandleTable::Global().get(e.memoryId()) != &e)
            return at + "handle id names something else";
    }
    if (d.size() != used) return "dictionary holds " + std::to_string(d.size()) + " keys for " +
                                 std::to_string(used) + " used entries";
    if (const char* fault = t.validateFreeList()) return fault;
    return "";
}

// ---- IdDynamicVector ----------------------------------------------------------

int16_t IdDynamicVector::stringIndex(const char* text) {
    IdStringBuild item{};
    if (text) std::strncpy(item.text, text, kMaxIdLength);
    std::string key(item.text);
    if (auto found = positions_.find(key); found != positions_.end()) return found->second;
    if (items_.size() > 0x7FFF)
        throw StoreException("IdDynamicVector: more than 32768 names in one block");
    const auto position = static_cast<int16_t>(items_.size());
    items_.push_back(item);
    positions_.emplace(std::move(key), position);
    return position;
}

void IdDynamicVector::reshape(uint32_t capacity) {
    items_.clear();
    items_.shrink_to_fit();
    items_.reserve(capacity);
    positions_.clear();
}

// ---- IdStringVector -----------------------------------------------------------

IdStringVector::IdStringVector(IdDynamicVector& names, tModuleIndex m)
    : count_(names.count()), items_(std::make_unique<IdString[]>(names.count())) {
    for (uint32_t i = 0; i < count_; ++i) items_[i] = IdString(names[i], m);
    names.reshape(IdDynamicVector::kInitialCapacity);
}

IdStringVector::IdStringVector(const IdStringVector& other)
    : count_(other.count_), items_(std::make_unique<IdString[]>(other.count_)) {
    const tModuleIndex m = ObjectStore::OpenModule();
    for (uint32_t i = 0; i < count_; ++i) items_[i] = IdString(other.items_[i], m);
}

void IdStringVector::attach(tModuleIndex m) {
    for (uint32_t i = 0; i < count_; ++i) items_[i].attach(m);
}

int32_t IdStringVector::findString(const char* text) const {
    if (!text) return -1;
    for (uint32_t i = 0; i < count_; ++i) {
        const char* name = items_[i];
        if (name && std::strncmp(name, text, kMaxIdLength) == 0) return static_cast<int32_t>(i);
    }
    return -1;
}

void IdStringVector::read(OCLStream& in, tModuleIndex m) {
    TQ_ASSERT(count_ == 0, "count == 0");
    if (in.readU32() != kRevision) throw ModuleOpenFailed("ID strings revision error");
    const uint32_t n = in.readU32();
    if (uint64_t(n) * 5 > in.remaining())
        throw ObjectLoadFailed("IdStringVector: element count runs past the end of the stream");
    auto items = std::make_unique<IdString[]>(n);
    for (uint32_t i = 0; i < n; ++i) items[i].read(in, m);
    items_ = std::move(items);
    count_ = n;
}

void IdStringVector::write(OCLStream& out) const {
    out.writeU32(kRevision);
    out.writeU32(count_);
    for (uint32_t i = 0; i < count_; ++i) items_[i].write(out);
}

}  // namespace tq
