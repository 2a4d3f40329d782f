// CfbReader: one committed compound file, open for reading.
//
// A reader is an immutable image: commits never change the file under it (they
// rename a new file over the path), so a reader goes on reading the content it
// opened for as long as it lives. Storages share readers: a stream copied to
// another storage keeps reading its committed bytes from the reader it came
// from, which stays open while anything refers to it.
//
// Opening checks the container (cfbcheck.h) and has libgsf read the header,
// the allocation tables and the directory. A stream is opened in libgsf on its
// first read: a large stream then costs only its sector list, a small stream
// (below 4096 bytes, kept in the mini-stream) is read whole by libgsf.
//
// A file with the stream of checksums (checksums.h) has it read and checked
// against the directory at opening; from then on every read of a stream
// checks each piece (of the size the stream of checksums records) the first
// time it brings any byte of it in, and raises StorageError for a piece that
// does not match. A piece once checked is not checked again: the image does
// not change.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/storage/cfbcheck.h"
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

    // libgsf's view of the root storage, for copying sub-storages whole.
    _GsfInfile* gsfRoot() const { return root_; }

private:
    // A stream's checksums and which of its pieces have been checked.
    struct Guard {
        StreamChecksum sum;
        std::vector<bool> checked;
    };

    CfbReader(int fd, std::string path);
    _GsfInput* stream(const std::string& name);
    void readRaw(const std::string& name, uint64_t offset, uint8_t* out, size_t n);
    void readChecked(const std::string& name, Guard& guard, uint32_t offset, uint8_t* out,
                     size_t n);
    void readChecksums();

    int fd_;
    std::string path_;
    uint64_t bytesRead_ = 0;
    CfbListing listing_;
    _GsfInput* input_ = nullptr;
    _GsfInfile* root_ = nullptr;
    std::map<std::string, _GsfInput*> streams_;  // opened in libgsf, by exact name
    bool checked_ = false;                        // the file has checksums
    std::map<std::string, Guard> guards_;         // by exact name, when checked_
};

}  // namespace tq
