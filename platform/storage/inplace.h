// InPlaceCommit: a commit that writes only the sectors of the module file
// whose bytes change, in the file itself, made atomic by the rollback
// journal (journal.h).
//
// Planning reads and changes nothing: it loads the file's tables
// (cfbtables.h), finds the 4096-byte pieces of each stream whose bytes
// differ from the committed ones (the pieces the transaction wrote, compared
// with the file's, and everything past a stream's old end), keeps each
// stream's chain of sectors where it can (cut or extended at free sectors or
// the file's end; moved whole only when it crosses the mini-stream cutoff),
// and rewrites the checksum entries of the pieces that changed. What it
// yields is the list of sectors whose bytes change: stream data, the FAT,
// MiniFAT and DIFAT sectors, directory sectors and the header.
//
// Running it:
//
//   plan --journal written and flushed--> hot --sectors written, flushed,
//        read back and the file reopened--> done --journal removed--> committed
//               |                            |
//               +--- any failure: the journal rolled back, the file old ---+
//
// A process killed anywhere leaves the file old (a journal not yet whole is
// thrown away, a whole one is rolled back by the next open) or new (the
// journal is gone).
//
// Invariants:
//  1. No byte of the file changes before the journal holding its original
//     is flushed, with its folder.
//  2. The file the plan was made for is written only under the module's
//     write lock and with readers excluded (fileops.h): no reader sees a
//     sector half-way.
//  3. The pieces a commit rewrites get new checksums from the bytes written;
//     a piece it leaves keeps its old checksum, so damage in it still shows.
//     Every new byte was read through the old checksums where it came from
//     the file.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/storage/cfbtables.h"
#include "platform/storage/checksums.h"

namespace tq {

class CfbReader;
class StreamContent;

struct InPlaceStream {
    std::string name;  // exactly as in the directory
    const StreamContent* content;
};

class InPlaceCommit {
public:
    // Called before the journal and before each run of sectors written,
    // with the bytes written so far; false fails that write as a full disk
    // would (test hook).
    using FaultHook = std::function<bool(uint64_t bytesWritten)>;

    // The plan for giving the file open on fd (read-write, locked), whose
    // committed content image reads, exactly `streams` (every stream of the
    // root but the stream of checksums, which the plan rewrites). Nothing
    // when the file or the change does not suit an in-place commit (a stream
    // added, removed or renamed, sub-storages, no checksums, other sector
    // sizes) or would change more than `limit` bytes: the caller writes a
    // whole file.
    static std::unique_ptr<InPlaceCommit> Plan(int fd, const std::string& path, CfbReader& image,
                                               const std::vector<InPlaceStream>& streams,
                                               uint64_t limit);

    // Bytes of sectors the commit writes in place (the journal as much again).
    uint64_t bytesToWrite() const;

    // Journals, writes, flushes and reads back the plan on the module file
    // `file`; removes the journal (the caller flushes the folder). Returns
    // the file's new image, or null when no byte of it changes. On failure
    // the file is rolled back to its old bytes (or, when even that fails,
    // left with its journal for the next open) and StorageError raised.
    std::shared_ptr<CfbReader> run(const std::string& file, const FaultHook* hook);

private:
    InPlaceCommit(int fd, const std::string& path, uint64_t fileSize)
        : fd_(fd), path_(path), image_(fd, fileSize, path_) {}
    std::shared_ptr<CfbReader> readBack(const std::string& file) const;

    int fd_;
    std::string path_;
    SectorImage image_;
    std::vector<SectorImage::Run> runs_;
    ChecksumTable sums_;  // every stream's, as the plan leaves them
};

}  // namespace tq
