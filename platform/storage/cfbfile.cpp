#include "platform/storage/cfbfile.h"

#include <bit>
#include <cerrno>
#include <cstring>

#include "platform/storage/cfbcheck.h"
#include "platform/storage/fileops.h"
#include "platform/storage/oclstorage.h"
#include "platform/util/lebytes.h"

namespace tq {

namespace {

using namespace cfb;

constexpr uint32_t kHeaderSize = 512;

// Allocation-table sectors read in one call when they lie side by side in the
// file, as writers put them: a large stream's links come in few reads, and a
// small read brings in little it does not need.
constexpr uint32_t kTableRun = 16;

}  // namespace

CfbFile::CfbFile(int fd, uint64_t fileSize, std::string path, uint64_t* bytesRead)
    : fd_(fd), fileSize_(fileSize), path_(std::move(path)), bytesRead_(bytesRead) {
    if (fileSize_ < kHeaderSize) corrupt("the file is shorter than a header");
    readAt(0, header_, kHeaderSize, "the header");
    if (std::memcmp(header_, kCompoundFileSignature.data(), kCompoundFileSignature.size()) != 0)
        corrupt("no compound-file signature");
    if (LoadLE16(header_ + kHeaderByteOrder) != 0xFFFE) corrupt("wrong byte-order mark");
    shift_ = LoadLE16(header_ + kHeaderSectorShift);
    if (shift_ != 9 && shift_ != 12) corrupt("unsupported sector size");
    if (LoadLE16(header_ + kHeaderMiniShift) != 6) corrupt("unsupported mini-sector size");
    if (LoadLE32(header_ + kHeaderMiniCutoff) != 4096) corrupt("unsupported mini-stream cutoff");
    sectorSize_ = 1u << shift_;
    perSector_ = sectorSize_ / 4;
    if (fileSize_ < uint64_t{sectorSize_} * 2) corrupt("the file holds no sector after the header");
    const uint64_t sectors = (fileSize_ - sectorSize_ + sectorSize_ - 1) / sectorSize_;
    if (sectors > kMaxRegularSector) corrupt("the file is too large");
    sectors_ = static_cast<uint32_t>(sectors);

    // The allocation table needs one word per sector. Bounding its sector
    // count by that need bounds what the table takes in memory.
    fatSectors_ = LoadLE32(header_ + kHeaderFatCount);
    if (fatSectors_ == 0 || fatSectors_ > sectors_ / perSector_ + 2)
        corrupt("implausible allocation-table sector count");
    nextDifat_ = LoadLE32(header_ + kHeaderFirstDifat);
    difatSectors_ = LoadLE32(header_ + kHeaderDifatCount);
    if (difatSectors_ > sectors_) corrupt("implausible allocation-index sector count");
    miniFatSectors_ = LoadLE32(header_ + kHeaderMiniFatCount);
    if (miniFatSectors_ > sectors_) corrupt("implausible mini-table sector count");
    firstMiniFat_ = LoadLE32(header_ + kHeaderFirstMiniFat);
    firstDirectory_ = LoadLE32(header_ + kHeaderFirstDir);
    // Not zeroed: invariant 1 keeps unread words from being looked at, and
    // a large table is then paid for only where it is read.
    table_.reset(new uint32_t[size_t{fatSectors_} * perSector_]);
    tableRead_.assign(fatSectors_, false);
}

void CfbFile::corrupt(const std::string& what) const {
    throw StorageError(path_ + ": not a valid compound file: " + what);
}

void CfbFile::readAt(uint64_t offset, void* out, size_t n, std::string_view what) {
    if (offset > fileSize_ || n > fileSize_ - offset)
        corrupt(std::string(what) + " lies past the end of the file");
    if (!ReadFullyAt(fd_, offset, static_cast<uint8_t*>(out), n)) {
        // The file was cut short under us.
        if (errno == EIO) corrupt(std::string(what) + " lies past the end of the file");
        throw StorageError(path_ + ": cannot read the file: " + ErrnoText(errno));
    }
    if (bytesRead_) *bytesRead_ += n;
}

// Index sectors are read in order, each whole, as the table sectors they
// name are first needed.
void CfbFile::readIndexSector() {
    if (difatRead_ >= difatSectors_) corrupt("the allocation index is shorter than the table");
    if (nextDifat_ >= sectors_) corrupt("an allocation-index sector lies outside the file");
    std::vector<uint8_t> bytes(sectorSize_);
    readAt(sectorOffset(nextDifat_), bytes.data(), bytes.size(), "an allocation-index sector");
    for (uint32_t k = 0; k + 1 < perSector_; ++k) indexed_.push_back(LoadLE32(bytes.data() + 4 * k));
    nextDifat_ = LoadLE32(bytes.data() + 4 * (perSector_ - 1));
    ++difatRead_;
}

// Where table sector `index` lies, as far as is known without reading: the
// header's slots and the index sectors read so far; kFree otherwise.
uint32_t CfbFile::knownTableSectorAt(uint32_t index) const {
    if (index < kHeaderFatSlots) return LoadLE32(header_ + kHeaderFatSlotsAt + 4 * index);
    const uint32_t k = index - kHeaderFatSlots;
    return k < indexed_.size() ? indexed_[k] : kFree;
}

uint32_t CfbFile::tableSectorAt(uint32_t index) {
    if (index >= fatSectors_) corrupt("a sector lies beyond the allocation table");
    while (index >= kHeaderFatSlots && index - kHeaderFatSlots >= indexed_.size())
        readIndexSector();
    const uint32_t sector = knownTableSectorAt(index);
    if (sector >= sectors_) corrupt("an allocation-table sector lies outside the file");
    return sector;
}

// Reads table sector `index` and those after it that lie next to it in the
// file and are not read yet. A table sector cut short by the file's end is
// damage (the file was truncated), even where the words lost are unused.
void CfbFile::readTableRun(uint32_t index) {
    const uint32_t first = tableSectorAt(index);
    uint32_t run = 1;
    while (run < kTableRun && index + run < fatSectors_ && !tableRead_[index + run] &&
           first + run < sectors_ && knownTableSectorAt(index + run) == first + run)
        ++run;
    // Read into the table's own place and turned into words there.
    uint32_t* words = table_.get() + size_t{index} * perSector_;
    auto* bytes = reinterpret_cast<uint8_t*>(words);
    readAt(sectorOffset(first), bytes, size_t{run} * sectorSize_, "an allocation-table sector");
    LoadLE32s(words, bytes, size_t{run} * perSector_);
    for (uint32_t i = 0; i < run; ++i) tableRead_[index + i] = true;
}

uint32_t CfbFile::next(uint32_t sector) {
    const uint32_t index = sector / perSector_;
    if (index >= fatSectors_) corrupt("a sector lies beyond the allocation table");
    if (!tableRead_[index]) readTableRun(index);
    return table_[sector];
}

uint32_t CfbFile::runFrom(uint32_t sector, uint32_t most) const {
    uint32_t n = 0;
    while (n < most) {
        const uint32_t s = sector + n;
        const uint32_t index = s / perSector_;
        if (index >= fatSectors_ || !tableRead_[index]) break;
        // Within one table sector the words lie side by side.
        const auto stop = static_cast<uint32_t>(
            std::min<uint64_t>(most - n, (uint64_t{index} + 1) * perSector_ - s));
        const uint32_t* word = table_.get() + s;
        // Mostly the run goes through the whole table sector: that is
        // checked in one pass the compiler does in vector registers, and
        // only a sector where it ends is looked at word by word.
        uint32_t differ = 0;
        for (uint32_t j = 0; j < stop; ++j) differ |= word[j] ^ (s + 1 + j);
        uint32_t k = stop;
        if (differ != 0)
            for (k = 0; word[k] == s + 1 + k;) ++k;
        n += k;
        if (k < stop) break;
    }
    return n;
}

void CfbFile::readWholeTable() {
    for (uint32_t index = 0; index < fatSectors_; ++index)
        if (!tableRead_[index]) readTableRun(index);
}

uint32_t CfbChain::unseenFrom(uint32_t first, uint32_t most) const {
    uint64_t n = 0;
    while (n < most) {
        const uint64_t bit = uint64_t{first} + n;
        const size_t word = static_cast<size_t>(bit / 64);
        if (word >= seen_.size()) break;  // no sector this far is held
        const uint64_t held = seen_[word] >> (bit % 64);
        if (held != 0) return static_cast<uint32_t>(std::min<uint64_t>(most, n + std::countr_zero(held)));
        n += 64 - bit % 64;
    }
    return most;
}

void CfbChain::take(uint32_t first, uint32_t count) {
    const uint64_t end = uint64_t{first} + count;
    const auto words = static_cast<size_t>((end + 63) / 64);
    if (words > seen_.size()) seen_.resize(std::max(words, 2 * seen_.size()));
    for (uint64_t bit = first; bit < end;) {
        const uint64_t within = bit % 64;
        const uint64_t span = std::min<uint64_t>(64 - within, end - bit);
        const uint64_t mask = span == 64 ? ~uint64_t{0} : ((uint64_t{1} << span) - 1) << within;
        seen_[static_cast<size_t>(bit / 64)] |= mask;
        bit += span;
    }
    const bool goesOn =
        !runs_.empty() && runs_.back().first + (known_ - runs_.back().index) == first;
    if (!goesOn) runs_.push_back({known_, first});
    known_ += count;
}

const CfbChain::Run& CfbChain::runOf(size_t i) const {
    const auto after = std::upper_bound(runs_.begin(), runs_.end(), i,
                                        [](size_t at, const Run& r) { return at < r.index; });
    return *(after - 1);
}

std::string CfbChain::Describe(Fault fault, const std::string& chain, const std::string& whole,
                               const std::string& within) {
    switch (fault) {
    case Fault::kEnds: return chain + " is shorter than " + whole;
    case Fault::kLeaves: return chain + " leaves " + within;
    case Fault::kLoops: return chain + " loops";
    case Fault::kNone: break;
    }
    return chain + " is sound";
}

}  // namespace tq
