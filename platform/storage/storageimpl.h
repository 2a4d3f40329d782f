// StorageImpl: the state and the transactions behind OCLStorage.
//
// A storage is a committed image (a CfbReader over the file the path names)
// and, over it, what its transaction has done: one StreamState per stream name
// (written, created, removed or untouched), the sub-storages it carries along
// unread, and the root's class id. Commit lays out the whole content as a new
// file and renames it over the path; Revert puts every state back to the
// image.
//
// Life of a storage's file:
//
//   open -> committed --write--> pending --Commit--> committed (in place, or
//               ^                   |                           a new file)
//               +------Revert-------+
//
//   SwitchTo: the committed image is copied to the new path, which the storage
//   then holds; pending changes stay pending.
//
// Invariants:
//  1. The file at the path is replaced whole only by rename, after the new
//     file was written, flushed and read back (a commit's byte for byte),
//     and the folder is flushed after the rename; it is written in place
//     only under its rollback journal (inplace.h).
//  2. A writable storage holds the write lock on the file its path names,
//     once there is one (see 5); a read-only one holds a reader's share of
//     the file its image reads, and writes it only to roll back a journal.
//  7. An in-place commit changes the bytes under image_, so it is made only
//     when nothing but this storage's own streams reads from image_ (a
//     stream copied to another storage would read the new bytes as old).
//  3. Every StreamState ever handed out stays in streams_ until the storage
//     goes, so Revert, CopyTo and SwitchTo reach every open OCLStream; the
//     destructor detaches them.
//  4. `baselineEmpty_`: the storage was opened with STGM_CREATE over an
//     existing file, whose content is therefore not part of the storage; the
//     file keeps it until the first Commit.
//  5. `unborn_`: no file has been made for the path yet (a temporary storage,
//     or one opened with kCreateOnFirstCommit). The committed content is the
//     empty storage, held in memory: no image, no lock, nothing on disk. The
//     first Commit (or SwitchTo) makes the file, never over one that another
//     program put at the path meanwhile, and the storage is born: from then
//     on it is like any other.
//
//  6. Every file a commit writes holds the checksums of its streams
//     (checksums.h), taken from the bytes written; every committed byte it
//     carries over was read through the old file's checksums first.
//
//   unborn --Commit/SwitchTo--> committed  (invariant 1 from here on)
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/storage/fileops.h"
#include "platform/storage/oclstorage.h"
#include "platform/storage/streamstate.h"

namespace tq {

class CfbReader;

// The test hook of OCLStorage::SetWriteFaultHook, called before every block
// that a commit writes.
void SetCommitFaultHook(std::function<bool(uint64_t)> hook);

// The test seams of OCLStorage::SetChecksumWriting and SetChecksumPieceSize.
void SetCommitChecksumWriting(OCLStorage::ChecksumWriting how);
void SetCommitChecksumPieceSize(uint32_t bytes);
void SetCommitInPlace(OCLStorage::InPlaceCommits when);

// Stream and storage names compare as the container compares them: without
// regard to the case of ASCII letters.
struct NameLess {
    bool operator()(const std::string& a, const std::string& b) const;
};

class StorageImpl {
public:
    StorageImpl(const char* path, int create, uint32_t mode);
    explicit StorageImpl(uint32_t mode);  // temporary, unborn
    ~StorageImpl();
    StorageImpl(const StorageImpl&) = delete;
    StorageImpl& operator=(const StorageImpl&) = delete;

    bool isWritable() const { return writable_; }
    bool isTransacted() const { return transacted_; }
    bool isTemporary() const { return temporary_; }
    bool hasFile() const { return !unborn_; }
    const std::string& path() const { return path_; }
    uint64_t bytesRead() const;
    bool hasChecksums() const;
    void verifyChecksums();

    void commit();
    void commitWholeNextTime() { wholeNext_ = true; }
    void revert();
    void copyTo(StorageImpl& dest);
    void switchTo(const char* path);

    std::vector<std::string> streamNames() const;
    bool hasStream(const std::string& name) const;
    bool removeStream(const std::string& name);

    // The state of stream `name`, created when missing and `create` is set.
    std::shared_ptr<StreamState> openStream(const std::string& name, bool create);

    // Called by streams before every change.
    void checkWritable(const StreamState& stream) const;
    void markDirty() { dirty_ = true; }
    // Bytes written into streams (pending changes) since the storage opened.
    void countWritten(uint64_t n) { bytesWritten_ += n; }
    uint64_t bytesWritten() const { return bytesWritten_; }

private:
    struct Carried {  // a sub-storage, copied whole at commit
        std::shared_ptr<CfbReader> from;
        std::string name;
    };

    void openNamed(const std::string& path, int create, uint32_t mode);
    void createFile();
    void rollBackForReading() const;
    void startUnborn(unsigned fileMode);
    void adoptImage(std::shared_ptr<CfbReader> image, bool baselineEmpty);
    StreamContent baseline(const std::string& name) const;
    std::map<std::string, Carried, NameLess> baselineStorages() const;
    StreamState& stateFor(const std::string& name);
    size_t entryCount() const;  // streams and sub-storages
    void writeContent(int fd, const std::string& path);
    void writeEmpty(int fd, const std::string& path);
    std::shared_ptr<CfbReader> readBack(int fd, const std::string& path);
    // What in a written image differs from the storage's content, or "".
    std::string differenceFrom(CfbReader& image) const;
    void commitNow();
    bool commitInPlace();

    std::string path_;  // as the caller named it, made absolute
    std::string file_;  // the file it names (symbolic links followed)
    bool writable_ = false;
    bool transacted_ = false;
    bool temporary_ = false;
    UniqueFd lock_;  // writable storages: the locked module file
    std::shared_ptr<CfbReader> image_;  // the committed content; null with baselineEmpty_
    bool baselineEmpty_ = false;
    bool unborn_ = false;
    unsigned newFileMode_ = 0;  // while unborn: the permission bits its file gets
    bool dirty_ = false;
    bool wholeNext_ = false;  // the next commit writes a whole file
    uint64_t bytesWritten_ = 0;
    std::array<uint8_t, 16> classId_{};
    std::map<std::string, std::shared_ptr<StreamState>, NameLess> streams_;
    std::map<std::string, Carried, NameLess> storages_;
    // Streams handed out empty on a storage without write access.
    std::vector<std::shared_ptr<StreamState>> phantoms_;
};

}  // namespace tq
