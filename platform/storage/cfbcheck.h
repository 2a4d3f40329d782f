// Bounded checks of a compound file's directory at opening.
//
// The check follows the directory's sector chain through the allocation
// table (cfbfile.h) and walks the directory tree, refusing what would be
// misread: a tree that loops or is deep enough to overflow a recursive
// reader's stack (libgsf, which copies sub-storages whole, recurses once per
// link), entries in use that the tree does not reach (a damaged module would
// read as one with fewer streams), two entries of the root with one name.
// Every loop is bounded by the file's size or by the limits below; the check
// reads the allocation-table sectors on the directory's chain and the
// directory, never stream data.
//
// The check also yields the root storage's listing (names, kinds, sizes,
// first sectors), so that the storage can answer for a stream's size without
// opening it, and the reader can follow a stream's chain from its first
// sector.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace tq {

struct CfbEntry {
    std::string name;  // UTF-8
    bool isStorage = false;
    uint32_t size = 0;  // streams only
    uint32_t start = 0;  // first sector (or mini sector, below the cutoff)
};

struct CfbListing {
    std::array<uint8_t, 16> rootClassId{};
    std::vector<CfbEntry> root;  // the root storage's children, in no set order
    // The mini stream, which holds the streams below the cutoff: the root
    // entry's first sector and size.
    uint32_t miniStreamStart = 0;
    uint32_t miniStreamSize = 0;
};

// Most directory entries reachable from the root, and deepest chain of links
// from the root to an entry, that a file may have. Our own files have a dozen
// entries; the depth bounds the recursion of a reader that copies a
// sub-storage whole.
inline constexpr uint32_t kMaxDirectoryEntries = 4096;
inline constexpr uint32_t kMaxDirectoryDepth = 1024;

// Numbers of the container's format that its reader and its in-place
// writer (cfbtables.h) share.
namespace cfb {
// Sector numbers with a meaning of their own.
inline constexpr uint32_t kMaxRegularSector = 0xFFFFFFFA;
inline constexpr uint32_t kDifatSector = 0xFFFFFFFC;
inline constexpr uint32_t kFatSector = 0xFFFFFFFD;
inline constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
inline constexpr uint32_t kFree = 0xFFFFFFFF;
inline constexpr uint32_t kNoEntry = 0xFFFFFFFF;  // a directory link to nothing

// Where the header keeps its fields (byte offsets, little-endian).
inline constexpr uint32_t kHeaderByteOrder = 0x1C;      // 2: 0xFFFE
inline constexpr uint32_t kHeaderSectorShift = 0x1E;    // 2: 9 or 12
inline constexpr uint32_t kHeaderMiniShift = 0x20;      // 2: 6
inline constexpr uint32_t kHeaderDirSectors = 0x28;     // 4: 0 for 512-byte sectors
inline constexpr uint32_t kHeaderFatCount = 0x2C;       // 4
inline constexpr uint32_t kHeaderFirstDir = 0x30;       // 4
inline constexpr uint32_t kHeaderMiniCutoff = 0x38;     // 4: 4096
inline constexpr uint32_t kHeaderFirstMiniFat = 0x3C;   // 4
inline constexpr uint32_t kHeaderMiniFatCount = 0x40;   // 4
inline constexpr uint32_t kHeaderFirstDifat = 0x44;     // 4
inline constexpr uint32_t kHeaderDifatCount = 0x48;     // 4
inline constexpr uint32_t kHeaderFatSlotsAt = 0x4C;     // 4 each, kHeaderFatSlots of them
inline constexpr uint32_t kHeaderFatSlots = 109;
inline constexpr uint32_t kEntrySize = 128;

inline constexpr uint8_t kTypeStorage = 1;
inline constexpr uint8_t kTypeStream = 2;
inline constexpr uint8_t kTypeRoot = 5;
}  // namespace cfb

// The compound-file signature: the first eight bytes of every such file.
inline constexpr std::array<uint8_t, 8> kCompoundFileSignature = {0xD0, 0xCF, 0x11, 0xE0,
                                                                   0xA1, 0xB1, 0x1A, 0xE1};

class CfbFile;

// Checks the directory of the file; raises StorageError naming its path and
// the fault when it is not sound.
CfbListing CheckCompoundFile(CfbFile& file);

}  // namespace tq
