// The checksums of a compound file's streams: the stream "Checksums".
//
// Why: most damage to a module file breaks no structure. A flipped byte in a
// value or in a procedure's nodes reads as another value or another program,
// and a save would carry it on as if it were sound. Every commit therefore
// writes, beside the streams, the CRC-32C (platform/util/crc32c.h) of each
// piece of each stream, and reading the file checks every piece the first
// time any byte of it is read. A record read checks only the pieces it lies
// in, so a read of a few bytes brings in at most a piece more than it needs.
//
// The piece size is recorded in the stream. We write 4096-byte pieces, the
// only size the first readers of the stream take; a reader takes any power
// of two from 512 to 65536, so that a writer may choose smaller pieces later without
// leaving today's readers behind. Opening reads the first bytes of records
// scattered over whole streams only to cross-check them (OCLStream::peek),
// unchecked: each record is checked when it is read, and the open does not
// bring in the pieces around the bytes it looks at.
//
// The stream "Checksums" (all numbers little-endian):
//
//   offset  width      meaning
//   0       4          signature "TQCS"
//   4       4          format version, 1
//   8       4          piece size in bytes, s: a power of two from 512 to
//                      65536 (4096 in the files we write)
//   12      4          number of entries that follow, n
//   16      ...        n entries, one per stream of the root storage but this
//                      one, in any order, each:
//                        4        k, the length of the stream's name
//                        k        the name, UTF-8, exactly as in the directory
//                        4        the stream's size in bytes
//                        4 * p    CRC-32C of each piece, first to last;
//                                 p = ceil(size / s), the last piece is
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
// The piece size of the files we write, and the bounds of those we read.
inline constexpr uint32_t kChecksumPieceSize = 4096;
inline constexpr uint32_t kMinChecksumPieceSize = 512;
inline constexpr uint32_t kMaxChecksumPieceSize = 65536;

// The checksums of one stream.
struct StreamChecksum {
    uint32_t size = 0;
    uint32_t pieceSize = kChecksumPieceSize;
    std::vector<uint32_t> pieces;  // one per piece of pieceSize bytes, the last the tail
};

// Stream name (exact) -> its checksums.
using ChecksumTable = std::map<std::string, StreamChecksum>;

// True when `name` is the checksum stream's (names compare without regard to
// the case of ASCII letters, as the container's do).
bool IsChecksumStreamName(const std::string& name);

// The stream's bytes for `table`, whose entries all have pieces of
// pieceSize bytes.
std::vector<uint8_t> EncodeChecksums(const ChecksumTable& table,
                                     uint32_t pieceSize = kChecksumPieceSize);

// The table in `bytes`, checked against the directory `listing` of the file
// at path: raises StorageError, naming the file and what disagrees, unless
// the stream is whole and lists exactly the root's streams with their sizes.
// Every entry has the piece size the stream records.
ChecksumTable DecodeChecksums(const std::vector<uint8_t>& bytes, const CfbListing& listing,
                              const std::string& path);

// The checksums of a stream whose bytes arrive in order, in runs of any
// length.
class ChecksumBuilder {
public:
    explicit ChecksumBuilder(uint32_t size, uint32_t pieceSize = kChecksumPieceSize);
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
