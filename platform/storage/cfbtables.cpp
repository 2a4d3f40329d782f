#include "platform/storage/cfbtables.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/storage/cfbcheck.h"
#include "platform/storage/fileops.h"
#include "platform/storage/oclstorage.h"
#include "platform/util/lebytes.h"
#include "platform/util/utfconv.h"

namespace tq {

namespace {

using namespace cfb;

constexpr uint32_t kPerSector = kCfbSectorSize / 4;  // table words in a sector
constexpr uint32_t kDifatSlots = kPerSector - 1;     // the last names the next
constexpr uint32_t kMiniPerSector = kCfbSectorSize / kCfbMiniSectorSize;

uint64_t SlotOf(uint32_t sector) { return uint64_t{sector} + 1; }

// Reads whole sectors into out, one read for each run of sectors that lie one
// after another in the file: the FAT of a large file is a few hundred sectors,
// mostly in runs.
void ReadSectors(int fd, const std::vector<uint32_t>& sectors, uint8_t* out,
                 const std::string& path) {
    for (size_t i = 0; i < sectors.size();) {
        size_t n = 1;
        while (i + n < sectors.size() && uint64_t{sectors[i + n]} == uint64_t{sectors[i]} + n) ++n;
        if (!ReadFullyAt(fd, SlotOf(sectors[i]) * kCfbSectorSize, out + i * kCfbSectorSize,
                         n * kCfbSectorSize))
            throw StorageError(path + ": cannot read the file: " + ErrnoText(errno));
        i += n;
    }
}

}  // namespace

// ---- SectorImage ---------------------------------------------------------------------

uint8_t* SectorImage::edit(uint64_t slot) {
    auto it = slots_.find(slot);
    if (it == slots_.end()) {
        Slot s;
        const uint64_t offset = slot * kCfbSectorSize;
        if (offset < fileSize_) {
            // A last sector cut short by the file's end reads as zeros past it.
            s.before.assign(kCfbSectorSize, 0);
            const auto n = static_cast<size_t>(std::min<uint64_t>(kCfbSectorSize, fileSize_ - offset));
            if (!ReadFullyAt(fd_, offset, s.before.data(), n))
                throw StorageError(path_ + ": cannot read the file: " + ErrnoText(errno));
            s.after = s.before;
        } else {
            s.after.assign(kCfbSectorSize, 0);
        }
        it = slots_.emplace(slot, std::move(s)).first;
    }
    return it->second.after.data();
}

std::vector<SectorImage::Run> SectorImage::changedRuns(uint32_t maxRun) const {
    std::vector<Run> runs;
    uint64_t next = UINT64_MAX;
    for (const auto& [slot, s] : slots_) {
        if (s.before == s.after) continue;
        const uint64_t offset = slot * kCfbSectorSize;
        if (runs.empty() || offset != next || runs.back().bytes.size() + kCfbSectorSize > maxRun)
            runs.push_back({offset, {}});
        runs.back().bytes.insert(runs.back().bytes.end(), s.after.begin(), s.after.end());
        next = offset + kCfbSectorSize;
    }
    return runs;
}

// ---- loading ---------------------------------------------------------------------------

std::vector<uint32_t> CfbTables::readTable(int fd, const std::vector<uint32_t>& sectors,
                                           const std::string& path) const {
    std::vector<uint8_t> bytes(sectors.size() * kCfbSectorSize);
    ReadSectors(fd, sectors, bytes.data(), path);
    std::vector<uint32_t> table(sectors.size() * kPerSector);
    uint32_t* words = table.data();
    const uint8_t* from = bytes.data();
    for (size_t i = 0, n = table.size(); i < n; ++i) words[i] = LoadLE32(from + 4 * i);
    return table;
}

// `count` sectors from start (the first `keep` of them kept), or nothing
// when the chain ends, loops or leaves the table before, or goes on after.
// The whole chain is walked whatever is kept: a chain that comes back to a
// sector goes round for good, so it is not at its end after `count` steps,
// and that one test rules loops out without marking each sector seen.
std::optional<std::vector<uint32_t>> CfbTables::follow(uint32_t start, size_t count, bool mini,
                                                       size_t keep) const {
    const std::vector<uint32_t>& table = mini ? miniFat_ : fat_;
    if (count > table.size()) return std::nullopt;
    keep = std::min(keep, count);
    std::vector<uint32_t> chain(keep);
    const uint32_t* next = table.data();
    const size_t size = table.size();
    uint32_t s = start;
    for (size_t i = 0; i < keep; ++i) {
        if (s >= size) return std::nullopt;
        chain[i] = s;
        s = next[s];
    }
    for (size_t i = keep; i < count; ++i) {
        if (s >= size) return std::nullopt;
        s = next[s];
    }
    if (s != kEndOfChain) return std::nullopt;
    return chain;
}

std::optional<CfbTables> CfbTables::Load(int fd, uint64_t fileSize, const std::string& path) {
    CfbTables t;
    if (fileSize < 2 * kCfbSectorSize) return std::nullopt;
    t.header_.resize(kCfbSectorSize);
    if (!ReadFullyAt(fd, 0, t.header_.data(), t.header_.size()))
        throw StorageError(path + ": cannot read the file: " + ErrnoText(errno));
    const uint8_t* h = t.header_.data();
    if (LoadLE16(h + kHeaderSectorShift) != 9 || LoadLE16(h + kHeaderMiniShift) != 6 ||
        LoadLE32(h + kHeaderDirSectors) != 0)
        return std::nullopt;
    t.fileSectors_ = (fileSize - kCfbSectorSize + kCfbSectorSize - 1) / kCfbSectorSize;

    // The FAT's sectors: 109 in the header, the rest in the DIFAT chain.
    const uint32_t fatCount = LoadLE32(h + kHeaderFatCount);
    const uint32_t difatCount = LoadLE32(h + kHeaderDifatCount);
    if (fatCount == 0 || fatCount > t.fileSectors_ / kPerSector + 2) return std::nullopt;
    uint32_t difat = LoadLE32(h + kHeaderFirstDifat);
    std::vector<uint8_t> bytes(kCfbSectorSize);
    for (uint32_t i = 0; i < fatCount; ++i) {
        uint32_t at;
        if (i < kHeaderFatSlots) {
            at = LoadLE32(h + kHeaderFatSlotsAt + 4 * i);
        } else {
            const uint32_t k = (i - kHeaderFatSlots) % kDifatSlots;
            if (k == 0) {
                if (difat >= t.fileSectors_ || t.difatAt_.size() >= difatCount) return std::nullopt;
                t.difatAt_.push_back(difat);
                if (!ReadFullyAt(fd, SlotOf(difat) * kCfbSectorSize, bytes.data(), bytes.size()))
                    throw StorageError(path + ": cannot read the file: " + ErrnoText(errno));
                difat = LoadLE32(bytes.data() + 4 * kDifatSlots);
            }
            at = LoadLE32(bytes.data() + 4 * k);
        }
        if (at >= t.fileSectors_) return std::nullopt;
        t.fatAt_.push_back(at);
    }
    if (t.difatAt_.size() != difatCount || t.difatNeeded() != difatCount) return std::nullopt;
    t.fat_ = t.readTable(fd, t.fatAt_, path);
    for (const uint32_t at : t.fatAt_)
        if (t.fat_[at] != kFatSector) return std::nullopt;
    for (const uint32_t at : t.difatAt_)
        if (t.fat_[at] != kDifatSector) return std::nullopt;
    if (t.fat_.size() < t.fileSectors_) return std::nullopt;

    // The directory, whole.
    const auto directoryChainLength = [&t](uint32_t start) {
        size_t n = 0;
        for (uint32_t s = start; s != kEndOfChain && n <= t.fat_.size(); s = t.fat_[s]) {
            if (s >= t.fat_.size()) return t.fat_.size() + 1;
            ++n;
        }
        return n;
    };
    const uint32_t firstDirectory = LoadLE32(h + kHeaderFirstDir);
    auto directory = t.follow(firstDirectory, directoryChainLength(firstDirectory), false);
    if (!directory || directory->empty()) return std::nullopt;
    t.directoryAt_ = std::move(*directory);
    t.directory_.resize(t.directoryAt_.size() * kCfbSectorSize);
    ReadSectors(fd, t.directoryAt_, t.directory_.data(), path);
    t.directoryBefore_ = t.directory_;

    // The MiniFAT and the mini stream.
    const uint32_t miniFatCount = LoadLE32(h + kHeaderMiniFatCount);
    if (miniFatCount > 0) {
        auto miniFat = t.follow(LoadLE32(h + kHeaderFirstMiniFat), miniFatCount, false);
        if (!miniFat) return std::nullopt;
        t.miniFatAt_ = std::move(*miniFat);
        t.miniFat_ = t.readTable(fd, t.miniFatAt_, path);
    }
    const uint8_t* root = t.directory_.data();
    t.miniStreamSize_ = LoadLE32(root + 120);
    const uint32_t miniSectors = (t.miniStreamSize_ + kCfbMiniSectorSize - 1) / kCfbMiniSectorSize;
    if (miniSectors > t.miniFat_.size()) return std::nullopt;
    if (t.miniStreamSize_ > 0) {
        auto stream = t.follow(LoadLE32(root + 116),
                               (t.miniStreamSize_ + kCfbSectorSize - 1) / kCfbSectorSize, false);
        if (!stream) return std::nullopt;
        t.miniStream_ = std::move(*stream);
    }
    t.fatBefore_ = t.fat_;
    t.miniFatBefore_ = t.miniFat_;

    // The root's children: the tree below the root entry's child link.
    const uint32_t entries = static_cast<uint32_t>(t.directory_.size() / kEntrySize);
    std::vector<uint32_t> todo{LoadLE32(root + 76)};
    std::vector<bool> seen(entries, false);
    while (!todo.empty()) {
        const uint32_t i = todo.back();
        todo.pop_back();
        if (i == kNoEntry) continue;
        if (i == 0 || i >= entries || seen[i]) return std::nullopt;
        seen[i] = true;
        const uint8_t* e = t.directory_.data() + size_t{i} * kEntrySize;
        const uint16_t nameBytes = LoadLE16(e + 64);
        if (nameBytes < 2 || nameBytes > 64 || nameBytes % 2 != 0) return std::nullopt;
        std::u16string units(nameBytes / 2 - 1, u'\0');
        for (size_t k = 0; k < units.size(); ++k)
            units[k] = static_cast<char16_t>(LoadLE16(e + 2 * k));
        std::optional<std::string> name = Utf16ToUtf8(units);
        if (!name || (e[66] != kTypeStorage && e[66] != kTypeStream) || LoadLE32(e + 124) != 0)
            return std::nullopt;
        t.root_.push_back(
            {i, std::move(*name), e[66] == kTypeStorage, LoadLE32(e + 116), LoadLE32(e + 120)});
        todo.push_back(LoadLE32(e + 68));
        todo.push_back(LoadLE32(e + 72));
    }
    return t;
}

uint32_t CfbTables::difatNeeded() const {
    const auto n = static_cast<uint32_t>(fatAt_.size());
    return n <= kHeaderFatSlots ? 0 : (n - kHeaderFatSlots + kDifatSlots - 1) / kDifatSlots;
}

// ---- chains ------------------------------------------------------------------------------

std::optional<std::vector<uint32_t>> CfbTables::chainOf(uint32_t start, uint32_t size,
                                                        size_t units) const {
    const bool mini = size < kCfbMiniStreamCutoff;
    const uint32_t unit = mini ? kCfbMiniSectorSize : kCfbSectorSize;
    const size_t count = (size_t{size} + unit - 1) / unit;
    if (count == 0) return std::vector<uint32_t>{};
    auto chain = follow(start, count, mini, units);
    // Mini sectors lie within the mini stream.
    if (chain && mini)
        for (const uint32_t m : *chain)
            if (uint64_t{m} * kCfbMiniSectorSize >= miniStreamSize_) return std::nullopt;
    return chain;
}

void CfbTables::release(const std::vector<uint32_t>& sectors, bool mini) {
    std::vector<uint32_t>& table = mini ? miniFat_ : fat_;
    size_t& hint = mini ? miniFreeHint_ : freeHint_;
    for (const uint32_t s : sectors) {
        table[s] = kFree;
        hint = std::min<size_t>(hint, s);
    }
}

// One more FAT sector, placed at the first sector it covers; a DIFAT sector
// with it when the header's slots and those of the DIFAT are full.
void CfbTables::growFat() {
    const auto at = static_cast<uint32_t>(fat_.size());
    if (at > kMaxRegularSector - 2 * kPerSector)
        throw StorageError("the compound file cannot grow past its largest size");
    fat_.resize(fat_.size() + kPerSector, kFree);
    fat_[at] = kFatSector;
    fatAt_.push_back(at);
    if (difatNeeded() > difatAt_.size()) {
        const auto difat = at + 1;
        fat_[difat] = kDifatSector;
        difatAt_.push_back(difat);
    }
}

uint32_t CfbTables::allocate(bool mini) {
    if (!mini) {
        for (;; ++freeHint_) {
            if (freeHint_ == fat_.size()) growFat();
            if (fat_[freeHint_] == kFree) break;
        }
        const auto s = static_cast<uint32_t>(freeHint_);
        fat_[s] = kEndOfChain;
        return s;
    }
    while (miniFreeHint_ < miniFat_.size() && miniFat_[miniFreeHint_] != kFree) ++miniFreeHint_;
    if (miniFreeHint_ == miniFat_.size()) {
        // The MiniFAT grows by a sector, chained after its last.
        miniFatAt_.push_back(allocate(false));
        link(miniFatAt_, false);
        miniFat_.resize(miniFat_.size() + kPerSector, kFree);
    }
    const auto m = static_cast<uint32_t>(miniFreeHint_);
    miniFat_[m] = kEndOfChain;
    // The mini stream grows to hold it, by whole sectors as its chain needs.
    const uint64_t end = (uint64_t{m} + 1) * kCfbMiniSectorSize;
    if (end > miniStreamSize_) {
        miniStreamSize_ = static_cast<uint32_t>(end);
        while (miniStream_.size() * kMiniPerSector <= m) miniStream_.push_back(allocate(false));
        link(miniStream_, false);
    }
    return m;
}

void CfbTables::link(const std::vector<uint32_t>& chain, bool mini) {
    std::vector<uint32_t>& table = mini ? miniFat_ : fat_;
    for (size_t i = 0; i < chain.size(); ++i)
        table[chain[i]] = i + 1 < chain.size() ? chain[i + 1] : kEndOfChain;
}

void CfbTables::setStream(uint32_t entry, const std::vector<uint32_t>& chain, bool mini,
                          uint32_t size) {
    link(chain, mini);
    uint8_t* e = directory_.data() + size_t{entry} * kEntrySize;
    StoreLE32(e + 116, chain.empty() ? kEndOfChain : chain.front());
    StoreLE32(e + 120, size);
}

uint64_t CfbTables::miniOffset(uint32_t m) const {
    const uint64_t at = uint64_t{m} * kCfbMiniSectorSize;
    return SlotOf(miniStream_[at / kCfbSectorSize]) * kCfbSectorSize + at % kCfbSectorSize;
}

// ---- writing back --------------------------------------------------------------------------

void CfbTables::emitTable(SectorImage& image, const std::vector<uint32_t>& table,
                          const std::vector<uint32_t>& before,
                          const std::vector<uint32_t>& at) const {
    for (size_t i = 0; i < at.size(); ++i) {
        const size_t from = i * kPerSector;
        if (from + kPerSector <= before.size() &&
            std::equal(table.begin() + from, table.begin() + from + kPerSector,
                       before.begin() + from))
            continue;
        uint8_t* bytes = image.edit(SlotOf(at[i]));
        for (uint32_t k = 0; k < kPerSector; ++k) StoreLE32(bytes + 4 * k, table[from + k]);
    }
}

void CfbTables::emit(SectorImage& image) const {
    emitTable(image, fat_, fatBefore_, fatAt_);
    emitTable(image, miniFat_, miniFatBefore_, miniFatAt_);
    for (size_t k = 0; k < difatAt_.size(); ++k) {
        uint8_t* bytes = image.edit(SlotOf(difatAt_[k]));
        for (uint32_t slot = 0; slot < kDifatSlots; ++slot) {
            const size_t i = kHeaderFatSlots + k * kDifatSlots + slot;
            StoreLE32(bytes + 4 * slot, i < fatAt_.size() ? fatAt_[i] : kFree);
        }
        StoreLE32(bytes + 4 * kDifatSlots, k + 1 < difatAt_.size() ? difatAt_[k + 1] : kEndOfChain);
    }
    // The root entry names the mini stream.
    std::vector<uint8_t> directory = directory_;
    StoreLE32(directory.data() + 116, miniStream_.empty() ? kEndOfChain : miniStream_.front());
    StoreLE32(directory.data() + 120, miniStreamSize_);
    for (size_t i = 0; i < directoryAt_.size(); ++i) {
        const auto from = static_cast<long>(i * kCfbSectorSize);
        if (std::equal(directory.begin() + from, directory.begin() + from + kCfbSectorSize,
                       directoryBefore_.begin() + from))
            continue;
        std::memcpy(image.edit(SlotOf(directoryAt_[i])), directory.data() + from, kCfbSectorSize);
    }
    uint8_t* h = image.edit(0);
    StoreLE32(h + kHeaderFatCount, static_cast<uint32_t>(fatAt_.size()));
    StoreLE32(h + kHeaderFirstMiniFat, miniFatAt_.empty() ? kEndOfChain : miniFatAt_.front());
    StoreLE32(h + kHeaderMiniFatCount, static_cast<uint32_t>(miniFatAt_.size()));
    StoreLE32(h + kHeaderFirstDifat, difatAt_.empty() ? kEndOfChain : difatAt_.front());
    StoreLE32(h + kHeaderDifatCount, static_cast<uint32_t>(difatAt_.size()));
    for (uint32_t i = 0; i < kHeaderFatSlots; ++i)
        StoreLE32(h + kHeaderFatSlotsAt + 4 * i, i < fatAt_.size() ? fatAt_[i] : kFree);
}

}  // namespace tq
