// CfbFile: an open compound file's header and allocation table, read as far
// as they are needed, and CfbChain: one sector chain followed through a table
// as far as reads need it.
//
// A module's reader stands on these: opening reads the header, the
// allocation-table sectors that the directory's chain needs and the directory
// (cfbcheck.h); a stream's read follows its chain only up to the sectors the
// read covers, and reads only the allocation-table sectors those links lie
// in. Nothing here trusts the file: every sector number is checked against
// the file's size before it is read, every chain is bounded by the size of
// what it holds and checked for loops, and a fault raises StorageError.
//
// Header fields used here (little-endian):
//
//   offset  width  meaning
//   0x00    8      signature (kCompoundFileSignature)
//   0x1C    2      byte-order mark, 0xFFFE
//   0x1E    2      sector shift: 9 (512-byte sectors) or 12 (4096)
//   0x20    2      mini-sector shift: 6 (64 bytes)
//   0x2C    4      number of allocation-table (FAT) sectors
//   0x30    4      first directory sector
//   0x38    4      mini-stream cutoff: 4096
//   0x3C    4      first mini-table (MiniFAT) sector
//   0x40    4      number of mini-table sectors
//   0x44    4      first allocation-index (DIFAT) sector
//   0x48    4      number of allocation-index sectors
//   0x4C    4*109  the first 109 allocation-table sectors
//
// Sector s lies at sectorSize * (s + 1): the header takes the whole first
// sector. An allocation-index sector holds sectorSize/4 - 1 more
// allocation-table sector numbers and, last, the next index sector.
//
// Invariants:
//  1. An allocation-table sector is read at most once; the table words of
//     sectors not yet read are never looked at.
//  2. sectorCount() counts every sector the file holds, the last perhaps cut
//     short by the file's end; readAt never reads past the file's end.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tq {

class CfbFile {
public:
    // Reads and checks the header of the file of fileSize bytes open on fd
    // (not owned). Every byte read is added to *bytesRead. Raises
    // StorageError naming path for a header that is not a compound file's.
    CfbFile(int fd, uint64_t fileSize, std::string path, uint64_t* bytesRead);

    const std::string& path() const { return path_; }
    uint64_t fileSize() const { return fileSize_; }
    uint32_t sectorSize() const { return sectorSize_; }
    uint32_t sectorCount() const { return sectors_; }
    uint64_t sectorOffset(uint32_t sector) const {
        return sectorSize_ + (static_cast<uint64_t>(sector) << shift_);
    }
    // Whether directory entries carry sizes of 64 bits (4096-byte sectors).
    bool wideSizes() const { return shift_ == 12; }
    uint32_t firstDirectorySector() const { return firstDirectory_; }
    uint32_t firstMiniTableSector() const { return firstMiniFat_; }
    uint32_t miniTableSectorCount() const { return miniFatSectors_; }

    // The allocation table's word for sector (below sectorCount()): the next
    // sector of its chain or a special value (cfb::kEndOfChain, ...).
    uint32_t next(uint32_t sector);
    // How many links from `sector` on, at most `most`, lead each to the
    // sector after it (sector to sector + 1, sector + 1 to sector + 2, ...),
    // as writers lay a stream's sectors. Looks only at table sectors
    // already read, and stops at one that is not, so that it neither reads
    // nor fails: the caller's next() on the run's last sector does that.
    uint32_t runFrom(uint32_t sector, uint32_t most) const;

    // Reads every allocation-table sector not read yet, checking where each
    // lies: for a file whose streams carry no checksums, whose tables are
    // checked whole at opening.
    void readWholeTable();

    // Reads n bytes at offset. `what` names them in the error text when they
    // lie past the end of the file.
    void readAt(uint64_t offset, void* out, size_t n, std::string_view what);

    // Raises "<path>: not a valid compound file: <what>".
    [[noreturn]] void corrupt(const std::string& what) const;

private:
    uint32_t tableSectorAt(uint32_t index);
    uint32_t knownTableSectorAt(uint32_t index) const;
    void readIndexSector();
    void readTableRun(uint32_t index);

    int fd_;
    uint64_t fileSize_;
    std::string path_;
    uint64_t* bytesRead_;
    uint8_t header_[512];
    uint32_t shift_ = 0;
    uint32_t sectorSize_ = 0;
    uint32_t perSector_ = 0;  // table words in a sector
    uint32_t sectors_ = 0;
    uint32_t fatSectors_ = 0;
    uint32_t difatSectors_ = 0;
    uint32_t nextDifat_ = 0;  // the index sector to read next
    uint32_t firstDirectory_ = 0;
    uint32_t firstMiniFat_ = 0;
    uint32_t miniFatSectors_ = 0;
    // Where the table sectors past the header's 109 lie, as far as the index
    // sectors read so far tell.
    std::vector<uint32_t> indexed_;
    uint32_t difatRead_ = 0;  // index sectors read
    // The table, fatSectors_ * perSector_ words, of which only the sectors
    // marked in tableRead_ hold the file's words.
    std::unique_ptr<uint32_t[]> table_;
    std::vector<bool> tableRead_;
};

// The sectors of one chain, in order, followed as far as reads have needed.
// A chain holds exactly the sectors its content needs (`count`); what the
// last one links to is not looked at, as other readers do not.
//
// A run of sectors that follow one another in the file (how writers lay
// streams) is taken in one step: checked against the limit and for loops as
// a whole and kept as its first sector and length, so that following a
// large stream costs little more than comparing its table words, and a read
// finds the sectors it may fetch in one call without looking at each.
// Faults, and the table sectors read, are exactly those of following the
// chain sector by sector.
class CfbChain {
public:
    enum class Fault { kNone, kEnds, kLeaves, kLoops };

    CfbChain() = default;
    CfbChain(uint32_t start, size_t count) : next_(start), count_(count) {}

    size_t count() const { return count_; }
    size_t known() const { return known_; }
    // Sector i of the chain; i < known().
    uint32_t operator[](size_t i) const {
        const Run& r = runOf(i);
        return r.first + static_cast<uint32_t>(i - r.index);
    }
    // How many of the chain's sectors from i on (i < known()) lie side by
    // side in the file: at least 1.
    size_t sideBySide(size_t i) const {
        const Run& r = runOf(i);
        const size_t end = &r == &runs_.back() ? known_ : (&r + 1)->index;
        return end - i;
    }

    // Follows the chain until it knows `upTo` (at most count()) sectors.
    // `link(s)` gives the table's word for s; `run(s, most)` how many links
    // from s on, at most `most`, lead each to the next sector, without
    // reading or failing (CfbFile::runFrom). Sector numbers at or above
    // `limit` lie outside what the chain may use. On a fault the chain keeps
    // what it knew.
    template <class Link, class Run>
    Fault extend(size_t upTo, uint32_t limit, Link&& link, Run&& run) {
        while (known_ < upTo) {
            const uint32_t s = next_;
            if (s >= limit) return s >= kFirstSpecial ? Fault::kEnds : Fault::kLeaves;
            // The run may reach as far as the read wants and the limit
            // allows, and stops before a sector the chain already holds:
            // that one is met as the loop it is, after the links before it.
            const auto most = static_cast<uint32_t>(
                std::min<size_t>(upTo - known_, size_t{limit} - s));
            const uint32_t unseen = unseenFrom(s, most);
            if (unseen == 0) return Fault::kLoops;
            const uint32_t n = unseen == 1 ? 0 : run(s, unseen - 1);
            take(s, n + 1);
            // The link after the last sector is not the content's: it is not
            // read.
            if (known_ < count_) next_ = link(s + n);
        }
        return Fault::kNone;
    }
    // The same through a file's allocation table, within the file.
    Fault extend(size_t upTo, CfbFile& file) {
        return extend(
            upTo, file.sectorCount(), [&file](uint32_t s) { return file.next(s); },
            [&file](uint32_t s, uint32_t most) { return file.runFrom(s, most); });
    }

    // The fault as an error text tells it: Describe(kEnds, "its sector
    // chain", "the stream", "the file") is "its sector chain is shorter than
    // the stream".
    static std::string Describe(Fault fault, const std::string& chain, const std::string& whole,
                                const std::string& within);

private:
    static constexpr uint32_t kFirstSpecial = 0xFFFFFFFB;
    // Chain sectors index, index + 1, ... up to the next run's index (or
    // known_) are sectors first, first + 1, ... of the file. Runs are as
    // long as they can be: one never continues the one before it.
    struct Run {
        size_t index;
        uint32_t first;
    };
    const Run& runOf(size_t i) const;
    // How many sectors from `first` on, at most `most`, the chain does not
    // hold yet.
    uint32_t unseenFrom(uint32_t first, uint32_t most) const;
    // Appends sectors first .. first + count - 1, none held yet.
    void take(uint32_t first, uint32_t count);

    uint32_t next_ = 0;
    size_t count_ = 0;
    size_t known_ = 0;
    std::vector<Run> runs_;
    std::vector<uint64_t> seen_;  // a bit by sector number, to find loops
};

}  // namespace tq
