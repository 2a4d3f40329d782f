#include "store/persist/idstr.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <ostream>
#include <vector>

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
// Entries read on demand come in from the file in chunks of this many, lined
// up with the table's blocks: following one name reads 1,280 bytes (a piece
// or two of the stream's checksums), not the stream.
constexpr uint32_t kChunk = kBlockSize;
// A table of at most this many entries is read whole at open: a few reads of
// a chunk would cost as much as the one read of all of it.
constexpr uint32_t kReadWholeUpTo = 8 * kChunk;
// The most chunks one read brings in ahead of a walk through the table.
constexpr uint32_t kMaxReadAhead = 64;

IdString::TableReading gReading = IdString::TableReading::kDefault;

// What is wrong with the text of a used entry read from a file, or null.
const char* TextFault(const IdStringRep& e) {
    if (std::memchr(e.bytes + kTextOffset, 0, kTextBytes) == nullptr) return "has no terminating NUL";
    // Nothing is ever named by the empty text: an entry in use that holds
    // it lost its name, and the thing it named could not be found by it.
    if (e.bytes[kTextOffset] == 0) return "is in use but its name is empty";
    return nullptr;
}

std::string EntryFault(uint32_t index, const char* fault) {
    return "entry " + std::to_string(index) + " " + fault;
}

// One module's entries and, except for DETACHED_MODULE, the stream they are
// kept in.
//
// A stored table may be held only in part: its head is read at open, and its
// entries chunk by chunk, on the first touch of an entry of the chunk (at()).
// Every way to an entry of a module goes through at(), but for the
// dictionary's, which exists only once the whole table is in (invariant 5 of
// idstr.h). An entry not yet read is as the file holds it: nothing in
// memory has changed it, so a save passes it over (nextHeld).
class IdStringTable : public OCLBlockArrayWFL<IdStringRep> {
public:
    IdStringTable() : OCLBlockArrayWFL<IdStringRep>(kBlockSize, kBlockSize) {}

    std::unique_ptr<OCLStream> stream;
    tModuleIndex module = DETACHED_MODULE;
    uint64_t freed = 0;  // entries given up since the table was read

    // Reads the head of the stored table; its entries are read as they are
    // touched. Raises what readHead raises.
    void open(tModuleIndex m) {
        module = m;
        stream->seek(0);
        filed_ = readHead(*stream);
        chunkRead_.assign((filed_ + kChunk - 1) / kChunk, false);
        unread_ = static_cast<uint32_t>(chunkRead_.size());
    }

    // Entry i (below count()), read from the file first when it is not in
    // memory yet; a read that fails raises ObjectLoadFailed.
    IdStringRep& at(uint32_t i) {
        if (unread_ != 0 && i < filed_ && !chunkRead_[i / kChunk]) [[unlikely]]
            bringIn(i / kChunk);
        return (*this)[i];
    }

    bool whole() const { return unread_ == 0; }

    // Reads every entry not yet in memory, in as few reads as there are runs
    // of such chunks. Raises StorageError.
    void readAll() {
        for (uint32_t c = 0; unread_ != 0 && c < chunkRead_.size();) {
            if (chunkRead_[c]) {
                ++c;
                continue;
            }
            uint32_t end = c + 1;
            while (end < chunkRead_.size() && !chunkRead_[end]) ++end;
            readChunks(c, end);
            c = end;
        }
    }

    // The first index from i on whose entry is in memory; count() when none.
    uint32_t nextHeld(uint32_t i) const {
        if (unread_ == 0 || i >= filed_) return i;
        uint32_t c = i / kChunk;
        if (chunkRead_[c]) return i;
        while (c < chunkRead_.size() && !chunkRead_[c]) ++c;
        return c == chunkRead_.size() ? filed_ : c * kChunk;
    }

    // How many entries are in memory.
    uint32_t heldCount() const {
        if (unread_ == 0) return count();
        uint32_t held = count() - filed_;
        for (uint32_t c = 0; c < chunkRead_.size(); ++c)
            if (chunkRead_[c]) held += std::min(kChunk, filed_ - c * kChunk);
        return held;
    }

    // Calls f(entry, index) for every entry in memory.
    template <class F>
    void forEachHeld(F&& f) {
        for (uint32_t i = nextHeld(0); i < count(); i = nextHeld(i + 1)) f((*this)[i], i);
    }

    // The index of an entry of this table.
    uint32_t indexOf(const IdStringRep& e) const {
        uint32_t first = 0;
        for (uint32_t b = 0; b < blockCount(); ++b) {
            const IdStringRep* items = block(b);
            if (&e >= items && &e < items + itemsInBlock(b)) return first + static_cast<uint32_t>(&e - items);
            first += itemsInBlock(b);
        }
        utilsAssert("entry of table[moduleIdx]", __FILE__, __LINE__);
    }

private:
    // A walk through the names in table order (every static name looked at)
    // is read in runs that double up to kMaxReadAhead chunks, as a file is
    // read ahead, so that it costs a few reads rather than one a chunk. A
    // run that fails is read again as the one chunk asked for: damage ahead
    // is for the read that reaches it.
    [[gnu::noinline]] void bringIn(uint32_t chunk) {
        const uint32_t chunks = static_cast<uint32_t>(chunkRead_.size());
        readAhead_ = chunk == nextChunk_ ? std::min(2 * readAhead_, kMaxReadAhead) : 1;
        uint32_t end = chunk + 1;
        while (end < chunks && end - chunk < readAhead_ && !chunkRead_[end]) ++end;
        try {
            readChunks(chunk, end);
        } catch (const StorageError& e) {
            readAhead_ = 1;
            if (end == chunk + 1) throw ObjectLoadFailed(chunkFault(chunk, e).c_str());
            end = chunk + 1;
            try {
                readChunks(chunk, end);
            } catch (const StorageError& again) {
                throw ObjectLoadFailed(chunkFault(chunk, again).c_str());
            }
        }
        nextChunk_ = end;
    }

    std::string chunkFault(uint32_t chunk, const StorageError& e) const {
        return "stream \"" + std::string(kStreamName) + "\": entries " + std::to_string(chunk * kChunk) + " to " +
               std::to_string(std::min(filed_, (chunk + 1) * kChunk) - 1) + " of module " + std::to_string(module) +
               ": " + e.what();
    }

    // Reads the entries of chunks [c0, c1) in one read and makes them this
    // module's: the handle word cleared, the flags only "used" or nothing,
    // the module byte this module's. A used entry whose text is not a name
    // (TextFault) is marked so that nothing takes it. Chunks are marked read
    // only once all of them are in.
    void readChunks(uint32_t c0, uint32_t c1) {
        const uint32_t first = c0 * kChunk;
        const uint32_t end = std::min(c1 * kChunk, filed_);
        readItems(*stream, first, end - first);
        for (uint32_t i = first; i < end; ++i) {
            IdStringRep& e = (*this)[i];
            e.setMemoryId(0);
            if (!e.isUsed()) {
                e.bytes[6] = 0;
                continue;
            }
            e.bytes[6] = IdStringRep::kUsed;
            e.bytes[7] = module;
            if (TextFault(e))
                e.bytes[6] |= IdStringRep::kUnreadable;
            else
                e.bytes[sizeof e.bytes - 1] = 0;
        }
        for (uint32_t c = c0; c < c1; ++c) chunkRead_[c] = true;
        unread_ -= c1 - c0;
    }

    uint32_t filed_ = 0;   // the count read at open
    uint32_t unread_ = 0;  // chunks not read yet
    std::vector<bool> chunkRead_;
    uint32_t nextChunk_ = 0;  // the chunk after the last read on demand
    uint32_t readAhead_ = 1;  // the chunks the last such read asked for
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

// Reads the rest of table m and enters every used entry in a new dictionary,
// checking what the whole table shows: the free list, and that every used
// entry holds a name no other entry holds. Damage raises ModuleOpenFailed, as
// it does when the table is read whole at open, and leaves no dictionary.
void BuildDictionary(tModuleIndex m) {
    IdStringTable& t = TableOf(m);
    try {
        t.readAll();
    } catch (const StorageError& e) {
        ThrowCorruptTable(kStreamName, e.what());
    }
    if (const char* fault = t.validateFreeList()) ThrowCorruptTable(kStreamName, fault);
    for (uint32_t i = 0; i < t.count(); ++i) {
        const IdStringRep& e = t[i];
        if (e.isUsed() && e.isUnreadable()) ThrowCorruptTable(kStreamName, EntryFault(i, TextFault(e)).c_str());
    }
    auto d = std::make_unique<IdStringDict>(t, t.count());
    for (uint32_t i = 0; i < t.count(); ++i) {
        const IdStringRep& e = t[i];
        if (!e.isUsed()) continue;
        if (d->insertUnique(i) != ID_NOT_FOUND) {
            const std::string what = "entry " + std::to_string(i) + " repeats the name \"" +
                                     std::string(e.text()) + "\"";
            ThrowCorruptTable(kStreamName, what.c_str());
        }
    }
    Dicts()[m] = std::move(d);
}

// The dictionary of module m, built on its first use.
IdStringDict& DictOf(tModuleIndex m) {
    TQ_ASSERT(m < kTableSlots && Tables()[m] != nullptr, "dict[moduleIdx]");
    if (!Dicts()[m]) [[unlikely]]
        BuildDictionary(m);
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

// Gives every handle id of table m back; the entries leave memory. Entries
// never read hold none.
void ReleaseIds(IdStringTable& t) {
    t.forEachHeld([](IdStringRep& e, uint32_t) {
        if (e.isUsed() && e.memoryId() != 0) {
            HandleTable::Global().release(e.memoryId());
            e.setMemoryId(0);
        }
    });
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
    const IdStringTable& t = TableOf(m);
    // Writing a module's own names needs no dictionary: until one is built
    // the table is the one block it was read into, and the entry's place in
    // it is its index.
    const IdStringDict* d = Dicts()[m].get();
    if (!d) return tDescriptor::Make(m, t.indexOf(*this));
    const int32_t index = d->find(text());
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
    // Without a dictionary there is no key to remove: one built later enters
    // only the entries in use then.
    int32_t index;
    if (IdStringDict* d = Dicts()[m].get())
        index = d->remove(text());
    else
        index = static_cast<int32_t>(t.indexOf(*this));
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
    IdStringRep* e = index < t.count() ? &t.at(index) : nullptr;
    if (!e || !e->isUsed()) {
        const std::string what = "IdStrings entry " + std::to_string(index) + " of module " +
                                 std::to_string(m) + " is not in use";
        throw ObjectLoadFailed(what.c_str());
    }
    if (e->isUnreadable()) {
        const std::string what = "stream \"" + std::string(kStreamName) + "\": " + EntryFault(index, TextFault(*e));
        throw ObjectLoadFailed(what.c_str());
    }
    e->setModuleIndex(m);
    return e;
}

bool IdStringRep::objectExists(tDescriptor d) {
    if (d.isNull()) return false;
    const tModuleIndex m = d.moduleIndex();
    if (m >= kTableSlots || !Tables()[m]) return false;
    IdStringTable& t = *Tables()[m];
    if (d.descIndex() >= t.count()) return false;
    // An entry that cannot be read is taken to exist: following it names the
    // damage, where a "no" here would pass it off as a null name.
    try {
        return t.at(d.descIndex()).isUsed();
    } catch (const ObjectLoadFailed&) {
        return true;
    }
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
    const IdStringRep* rep = get();
    if (!rep) return;
    // An entry of m's table, once m has a dictionary, is the one entry of
    // its text there (the dictionary holds every used entry, each text
    // once): interning it again would find this very entry. Every member a
    // built-in class declares comes here with its name in the module it is
    // added in.
    if (rep->moduleIndex() == m && m < kTableSlots && Dicts()[m]) return;
    *this = IdString(rep->text(), m);
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
    t->module = m;
    t->stream = std::make_unique<OCLStream>(storage, kStreamName, 1,
                                            STGM_READWRITE | STGM_SHARE_EXCLUSIVE);
    if (t->stream->size() != 0) {
        try {
            t->open(m);
        } catch (const StorageError& e) {
            ThrowCorruptTable(kStreamName, e.what());
        }
    }
    // A file without checksums could carry damage that only the whole table
    // shows, so it is read whole and checked now; in a file with them each
    // piece is checked as it is read, and the table checked whole when it
    // first needs its dictionary.
    const bool onDemand = gReading == TableReading::kOnDemand ||
                          (gReading == TableReading::kDefault && t->count() > kReadWholeUpTo &&
                           storage.hasChecksums());
    Tables()[m] = std::move(t);
    if (onDemand) return;
    try {
        BuildDictionary(m);
    } catch (...) {
        Tables()[m].reset();
        throw;
    }
}

void IdString::delModule(tModuleIndex m) {
    TQ_ASSERT(m < MAX_MODULES && Tables()[m] != nullptr, "table[i] != NULL");
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
// module's; entries never read are unchanged and never looked at.
void IdString::writeModule(tModuleIndex m) {
    TQ_ASSERT(m < MAX_MODULES && Tables()[m] != nullptr, "table[i] != NULL");
    IdStringTable& t = *Tables()[m];
    // A table the stream is not known to hold goes out whole, so all of it
    // must be in memory first.
    if (!t.whole() && !t.holdsRecordAt(0)) {
        try {
            t.readAll();
        } catch (const StorageError& e) {
            ThrowCorruptTable(kStreamName, e.what());
        }
    }
    t.writeChanged(
        *t.stream, 0,
        [](IdStringRep& e) {
            e.setMemoryId(0);
            e.keepStoredFlags();
        },
        [&t](uint32_t i) { return t.nextHeld(i); });
    t.stream->setSize(t.recordSize());
}

uint32_t IdString::TableCount(tModuleIndex m) {
    return m < kTableSlots && Tables()[m] ? Tables()[m]->count() : 0;
}

uint64_t IdString::FreedCount(tModuleIndex m) {
    return m < kTableSlots && Tables()[m] ? Tables()[m]->freed : 0;
}

int32_t IdString::Find(const char* text, tModuleIndex m) {
    if (m >= kTableSlots || !Tables()[m] || !text) return ID_NOT_FOUND;
    return DictOf(m).find(text);
}

uint32_t IdString::EntriesInMemory(tModuleIndex m) {
    return m < kTableSlots && Tables()[m] ? Tables()[m]->heldCount() : 0;
}

bool IdString::HasDictionary(tModuleIndex m) { return m < kTableSlots && Dicts()[m] != nullptr; }

void IdString::SetTableReading(TableReading how) { gReading = how; }

std::string IdString::CheckModule(tModuleIndex m) {
    if (m >= kTableSlots || !Tables()[m]) return "no table";
    const IdStringDict& d = DictOf(m);
    const IdStringTable& t = *Tables()[m];
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
