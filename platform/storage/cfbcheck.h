// Bounded checks of a compound file before libgsf reads it.
//
// libgsf trusts much of what a file says: it recurses once per directory link
// (a long sibling chain overflows the stack), sizes a stack buffer from the
// allocation-table count in the header, and drops directory entries it does not
// like without a word, which would show a damaged module as one with fewer
// streams. So before a file reaches libgsf, this check reads its header, follows
// the directory's sector chain through the allocation table and walks the
// directory tree, refusing what libgsf would mishandle. Every loop is bounded
// by the file's size or by the limits below; the check reads the header, the
// allocation-table sectors on the directory's chain and the directory, never
// stream data.
//
// The check also yields the root storage's listing (names, kinds, sizes), so
// that the storage can answer for a stream's size without opening it.
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
};

struct CfbListing {
    std::array<uint8_t, 16> rootClassId{};
    std::vector<CfbEntry> root;  // the root storage's children, in no set order
};

// Most directory entries reachable from the root, and deepest chain of links
// from the root to an entry, that a file may have. Our own files have a dozen
// entries; the depth bounds libgsf's recursion.
inline constexpr uint32_t kMaxDirectoryEntries = 4096;
inline constexpr uint32_t kMaxDirectoryDepth = 1024;

// Numbers of the container's format that its checker and its in-place
// writer (cfbtables.h) share.
namespace cfb {
// Sector numbers with a meaning of their own.
inline constexpr uint32_t kMaxRegularSector = 0xFFFFFFFA;
inline constexpr uint32_t kDifatSector = 0xFFFFFFFC;
inline constexpr uint32_t kFatSector = 0xFFFFFFFD;
inline constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
inline constexpr uint32_t kFree = 0xFFFFFFFF;
inline constexpr uint32_t kNoEntry = 0xFFFFFFFF;  // a directory link to nothing

inline constexpr uint32_t kHeaderFatSlots = 109;
inline constexpr uint32_t kEntrySize = 128;

inline constexpr uint8_t kTypeStorage = 1;
inline constexpr uint8_t kTypeStream = 2;
inline constexpr uint8_t kTypeRoot = 5;
}  // namespace cfb

// The compound-file signature: the first eight bytes of every such file.
inline constexpr std::array<uint8_t, 8> kCompoundFileSignature = {0xD0, 0xCF, 0x11, 0xE0,
                                                                   0xA1, 0xB1, 0x1A, 0xE1};

// Checks the compound file of fileSize bytes open on fd; raises StorageError
// naming path and the fault when it is not one libgsf can be trusted with.
CfbListing CheckCompoundFile(int fd, uint64_t fileSize, const std::string& path);

}  // namespace tq
