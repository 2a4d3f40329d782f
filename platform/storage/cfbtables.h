// CfbTables: the header, allocation tables and directory of a compound file
// with 512-byte sectors, held in memory so that an in-place commit can move
// and grow streams, and then write back only the sectors whose bytes
// changed (SectorImage).
//
// The file's layout, as far as this needs it (all numbers little-endian;
// sector s lies at 512 * (s + 1), after the header):
//
//   header  offset  width  meaning
//           0x2C    4      number of allocation-table (FAT) sectors
//           0x30    4      first directory sector
//           0x3C    4      first mini-table (MiniFAT) sector
//           0x40    4      number of mini-table sectors
//           0x44    4      first allocation-index (DIFAT) sector
//           0x48    4      number of allocation-index sectors
//           0x4C    4*109  the first 109 allocation-table sectors
//   FAT     one word per sector: the next sector of its chain, or
//           0xFFFFFFFE end of chain, 0xFFFFFFFF free, 0xFFFFFFFD a FAT
//           sector, 0xFFFFFFFC a DIFAT sector
//   DIFAT   127 allocation-table sector numbers, then the next DIFAT sector
//   MiniFAT one word per 64-byte mini sector, chained as the FAT's are; the
//           mini sectors live in the root entry's stream (the mini stream)
//   entry   128 bytes: name (64), name length (2), type (1: storage,
//           2: stream, 5: root), colour (1), left/right sibling and child
//           (4 each) at 68/72/76, class id at 80, first sector at 116, size
//           at 120 (4) and 124 (4, zero in these files)
//
// Streams below 4096 bytes live in mini sectors, the others in sectors.
// What the model keeps true, as standard readers require: a stream's chain
// holds exactly the sectors its size needs, an empty stream starts at end of
// chain, the FAT covers every sector of the file, the header names exactly
// the DIFAT sectors the FAT needs, the MiniFAT covers the whole mini stream
// and the mini stream's chain exactly its size.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tq {

inline constexpr uint32_t kCfbSectorSize = 512;
inline constexpr uint32_t kCfbMiniSectorSize = 64;
inline constexpr uint32_t kCfbMiniStreamCutoff = 4096;

// The sectors an in-place commit changes, by slot (file offset / 512: the
// header is slot 0, sector s is slot s + 1). Each slot keeps the bytes the
// file had there (none past its end) and the bytes it is to have.
class SectorImage {
public:
    SectorImage(int fd, uint64_t fileSize, const std::string& path)
        : fd_(fd), fileSize_(fileSize), path_(path) {}

    // The slot's new bytes, starting as the file's (zeros past its end).
    uint8_t* edit(uint64_t slot);

    struct Run {
        uint64_t offset = 0;
        std::vector<uint8_t> bytes;
    };
    // The slots whose bytes change, as runs of adjacent slots of at most
    // maxRun bytes, in file order.
    std::vector<Run> changedRuns(uint32_t maxRun) const;

private:
    struct Slot {
        std::vector<uint8_t> before;  // empty past the end of the file
        std::vector<uint8_t> after;
    };
    int fd_;
    uint64_t fileSize_;
    const std::string& path_;
    std::map<uint64_t, Slot> slots_;
};

class CfbTables {
public:
    struct Entry {
        uint32_t index = 0;
        std::string name;  // UTF-8
        bool isStorage = false;
        uint32_t start = 0;
        uint32_t size = 0;
    };

    // The file's tables, or nothing when it is not one an in-place commit
    // takes (other sector sizes, a chain it cannot follow whole): such a
    // file is written whole. Raises StorageError when it cannot be read.
    static std::optional<CfbTables> Load(int fd, uint64_t fileSize, const std::string& path);

    // The root storage's children.
    const std::vector<Entry>& rootEntries() const { return root_; }

    // The chain of a stream of `size` bytes starting at `start`, in the
    // MiniFAT when size is below the cutoff; nothing when the chain is not
    // exactly as long as the size needs.
    // Given `units`, only the chain's first units sectors (the whole chain
    // is still checked): enough for a stream whose size stays and whose
    // later sectors keep their bytes.
    std::optional<std::vector<uint32_t>> chainOf(uint32_t start, uint32_t size,
                                                 size_t units = SIZE_MAX) const;

    void release(const std::vector<uint32_t>& sectors, bool mini);
    // A free sector (or mini sector), growing the file's tables or the mini
    // stream when there is none; marked end of chain.
    uint32_t allocate(bool mini);
    // Links the chain in its table and sets the directory entry's first
    // sector and size.
    void setStream(uint32_t entry, const std::vector<uint32_t>& chain, bool mini, uint32_t size);

    // Where mini sector m lies in the file.
    uint64_t miniOffset(uint32_t m) const;

    // The new bytes of every table sector, the directory and the header.
    void emit(SectorImage& image) const;

private:
    CfbTables() = default;
    std::vector<uint32_t> readTable(int fd, const std::vector<uint32_t>& sectors,
                                    const std::string& path) const;
    std::optional<std::vector<uint32_t>> follow(uint32_t start, size_t count, bool mini,
                                                size_t keep = SIZE_MAX) const;
    void link(const std::vector<uint32_t>& chain, bool mini);
    void growFat();
    uint32_t difatNeeded() const;
    void emitTable(SectorImage& image, const std::vector<uint32_t>& table,
                   const std::vector<uint32_t>& before, const std::vector<uint32_t>& at) const;

    uint64_t fileSectors_ = 0;  // sectors the file holds, the last perhaps cut short
    std::vector<uint8_t> header_;
    std::vector<uint32_t> fatAt_, difatAt_, miniFatAt_, directoryAt_, miniStream_;
    std::vector<uint32_t> fat_, fatBefore_;
    std::vector<uint32_t> miniFat_, miniFatBefore_;
    std::vector<uint8_t> directory_, directoryBefore_;
    uint32_t miniStreamSize_ = 0;
    size_t freeHint_ = 0, miniFreeHint_ = 0;
    std::vector<Entry> root_;
};

}  // namespace tq
