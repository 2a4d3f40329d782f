// The checksums of a compound file's streams: the stream "Checksums".
//
// Why: most damage to a module file breaks no structure. A flipped byte in a
// value or in a procedure's nodes reads as another value or another program,
// and a save would carry it on as if it were sound. Every commit therefore
// writes, beside the streams, the CRC-32C (platform/util/crc32c.h) of each
// piece of 4096 bytes of each stream, and reading the file checks every
// piece the first time any byte of it is read. A record read checks only the
// pieces it lies in, so opening and faulting read nothing more than before,
// but the small stream of checksums itself.
//
// The stream "Checksums" (all numbers little-endian):
//
//   offset  width      meaning
//   0       4          signature "TQCS"
//   4       4          format version, 1
//   8       4          piece size in bytes, 4096
//   12      4          number of entries that follow, n
//   16      ...        n entries, one per stream of the root storage but this
//                      one, in any order, each:
//                        4        k, the length of the stream's name
//                        k        the name, UTF-8, exactly as in the directory
//                        4        the stream's size in bytes
//                        4 * p    CRC-32C of each piece, first to last;
//                                 p = ceil(size / 4096), the last piece is
//                                 the stream's tail
//   end - 4 4          CRC-32C of every byte before it
//
// Each entry stands alone: a commit that rewrites some streams in place can
// replace their entries (or only the pieces it changed) and the closing
// checksum, and leave the others as they are. Sub-storages are not covered
// (the store makes none; they are carried along whole and unread).
//
// A file without the stream (written before it existed) is read unchecked and
// gains it at its next commit. A file with it must agree with it exactly:
// every stream listed, with its size, and no other.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/storage/cfbcheck.h"

namespace tq {

inline constexpr const char* kChecksumStreamName = "Checksums";
inline constexpr uint32_t kChecksumPieceSize = 4096;

// The checksums of one stream.
struct StreamChecksum {
    uint32_t size = 0;
    std::vector<uint32_t> pieces;  // one per piece of kChecksumPieceSize bytes
};

// Stream name (exact) -> its checksums.
using ChecksumTable = std::map<std::string, StreamChecksum>;

// True when `name` is the checksum stream's (names compare without regard to
// the case of ASCII letters, as the container's do).
bool IsChecksumStreamName(const std::string& name);

// The stream's bytes for `table`.
std::vector<uint8_t> EncodeChecksums(const ChecksumTable& table);

// The table in `bytes`, checked against the directory `listing` of the file
// at path: raises StorageError, naming the file and what disagrees, unless
// the stream is whole and lists exactly the root's streams with their sizes.
ChecksumTable DecodeChecksums(const std::vector<uint8_t>& bytes, const CfbListing& listing,
                              const std::string& path);

// The checksums of a stream whose bytes arrive in order, in runs of any
// length.
class ChecksumBuilder {
public:
    explicit ChecksumBuilder(uint32_t size);
    void add(const uint8_t* data, size_t n);
    // The finished checksums; every byte of the stream has been added.
    StreamChecksum take();

private:
    StreamChecksum result_;
    uint32_t inPiece_ = 0;  // bytes of the current piece taken so far
    uint32_t crc_ = 0;
    uint64_t taken_ = 0;
};

}  // namespace tq
