// CfbReader: one committed compound file, open for reading.
//
// A reader is an immutable image: a whole commit renames a new file over the
// path, and an in-place commit writes only a file that nothing else reads
// (storageimpl.h), so a reader goes on reading the content it opened for as
// long as it lives. Storages share readers: a stream copied to another
// storage keeps reading its committed bytes from the reader it came from,
// which stays open while anything refers to it.
//
// The reader reads the container itself (cfbfile.h): opening reads the
// header and checks the directory (cfbcheck.h); a stream's chain is followed
// on its reads, only as far as they reach, and a read fetches only the
// sectors it covers, side by side ones in one call. A stream below the
// cutoff lives in the mini stream and is read whole at its first read (it is
// under 4096 bytes). A chain that loops, leaves the file or ends before its
// stream does fails the read that meets it, naming the stream. libgsf is
// loaded only to copy a sub-storage whole (gsfRoot).
//
// A file with the stream of checksums (checksums.h) has it read and checked
// against the directory at opening; from then on every read of a stream
// checks each piece (of the size the stream of checksums records) the first
// time it brings any byte of it in, and raises StorageError for a piece that
// does not match. A piece once checked is not checked again: the image does
// not change. A file without checksums has its whole allocation table read
// and checked at opening, as a file was before there were any.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/storage/cfbcheck.h"
#include "platform/storage/cfbfile.h"
#include "platform/storage/checksums.h"

struct _GsfInfile;
struct _GsfInput;

namespace tq {

class CfbReader {
public:
    // Opens the compound file on fd, taking ownership of fd. path names the
    // file in error texts. Raises StorageError for anything but a sound file.
    // Without `checked`, the checksums are not read (a file written on
    // purpose with damage, by a test seam).
    static std::shared_ptr<CfbReader> Open(int fd, const std::string& path, bool checked = true);

    ~CfbReader();
    CfbReader(const CfbReader&) = delete;
    CfbReader& operator=(const CfbReader&) = delete;

    const std::string& path() const { return path_; }
    int fd() const { return fd_; }
    const CfbListing& listing() const { return listing_; }
    // The root's entry named exactly `name`, or null.
    const CfbEntry* find(const std::string& name) const;

    // Reads n bytes at offset of the root stream `name`; the range must lie
    // within the stream. A damaged file raises StorageError.
    void read(const std::string& name, uint32_t offset, void* out, size_t n);
    // The same bytes without checking them against their checksums, and
    // without reading the rest of their pieces: for a look whose conclusion
    // a checked read of the same bytes confirms later.
    void peek(const std::string& name, uint32_t offset, void* out, size_t n);

    // True when the file carries checksums of its streams.
    bool hasChecksums() const { return checked_; }
    // The checksums the file records for stream `name` (exact), or null.
    const StreamChecksum* checksumOf(const std::string& name) const {
        const auto it = guards_.find(name);
        return it == guards_.end() ? nullptr : &it->second.sum;
    }
    // Reads every stream whole through the checks: raises StorageError for
    // the first piece that does not match. Does nothing without checksums.
    void verifyAll();

    // Bytes read from the file so far, container tables included.
    uint64_t bytesRead() const { return bytesRead_; }

    // libgsf's view of the root storage, for copying sub-storages whole:
    // loads libgsf on the first call. Raises StorageError when it cannot be
    // loaded or does not read the directory as the check did.
    _GsfInfile* gsfRoot();

private:
    // A stream's checksums and which of its pieces have been checked.
    struct Guard {
        StreamChecksum sum;
        std::vector<bool> checked;
    };

    // A root stream's chain and what of it was read.
    struct Stream {
        const std::string* name = nullptr;  // its key in streams_
        const CfbEntry* entry = nullptr;
        Guard* guard = nullptr;  // its checksums, when the file has them
        CfbChain chain;  // sectors, or mini sectors below the cutoff
        // A stream below the cutoff, whole, once read.
        std::vector<uint8_t> whole;
        bool read = false;
        // The sector of a larger stream that the last small read fell in:
        // the store reads many records a few bytes at a time, mostly near
        // the one before.
        std::vector<uint8_t> block;
        uint64_t blockIndex = UINT64_MAX;  // the sector's place in the chain
    };

    CfbReader(int fd, std::string path, uint64_t size);
    Stream& stream(const std::string& name);
    // Raises the damage `reason` met by a read of stream `name`; with no
    // name, damage to the container met at opening.
    [[noreturn]] void damaged(const std::string& name, const std::string& reason) const;
    void follow(Stream& s, size_t upTo);
    void readSectors(Stream& s, uint64_t offset, uint8_t* out, size_t n);
    void readSmall(Stream& s);
    void readMiniTable(const std::string& name);
    void followMiniStream(size_t upTo, const std::string& name);
    void readRaw(Stream& s, uint64_t offset, uint8_t* out, size_t n);
    void readChecked(Stream& s, uint32_t offset, uint8_t* out, size_t n);
    void readChecksums();

    int fd_;
    std::string path_;
    uint64_t size_;
    uint64_t bytesRead_ = 0;
    std::unique_ptr<CfbFile> file_;
    CfbListing listing_;
    // By exact name, once read. Streams point into guards_, which is filled
    // at opening, before any stream but the checksums' own is read.
    std::map<std::string, Stream> streams_;
    // The mini table and the mini stream's own chain, once a stream below
    // the cutoff was read.
    std::vector<uint32_t> miniTable_;
    bool miniTableRead_ = false;
    CfbChain miniStream_;
    _GsfInput* input_ = nullptr;  // libgsf's, once gsfRoot was asked for
    _GsfInfile* root_ = nullptr;
    bool checked_ = false;                 // the file has checksums
    std::map<std::string, Guard> guards_;  // by exact name, when checked_
};

}  // namespace tq
