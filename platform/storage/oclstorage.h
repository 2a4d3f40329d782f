// OCLStorage: a module's compound file (MS-CFB), with transactions.
//
// Design: opening reads the container's header, allocation tables and
// directory, never stream data. Streams opened through OCLStream read their
// committed bytes from the file on demand, sector by sector; what a
// transaction writes goes into an in-memory overlay per stream. Commit
// writes what changed in one of two ways, each leaving either the old or the
// new content after a crash, never a torn one, and refusing to finish when
// what it wrote does not read back (a disk that loses bytes without saying
// so):
//  - in place (inplace.h): only the sectors whose bytes change, the
//    original of each first saved in a rollback journal beside the file
//    (journal.h); when the change is small beside the file, the file holds
//    only streams with their checksums, and no reader has it open;
//  - whole: the whole compound file (overlays plus the untouched committed
//    streams) to a temporary file in the same folder, flushed, read back and
//    compared stream by stream, renamed over the module file, the folder
//    flushed. Everything else, and the first commit of a file.
// Revert drops the overlays.
//
// Invariants:
//  1. Nothing written reaches the file before Commit. A storage in direct mode
//     (without STGM_TRANSACTED) also commits when it is destroyed, unless it is
//     a temporary storage, whose file goes with it.
//  2. A storage opened without write access never changes its file (but for
//     rolling back a commit cut short, as any open does).
//  3. At most one storage, in this process or another, holds a file open for
//     writing (advisory lock). Readers hold a share of the file (fileops.h),
//     wait only while an in-place commit writes it, and see the last
//     committed content.
//  4. Every stream opened on a storage stays valid while the storage lives and
//     sees Revert, CopyTo and SwitchTo.
//
// Sub-storages of a file (the store makes none) are carried along whole by
// Commit, CopyTo and SwitchTo, but are not otherwise reachable. Stream names
// compare without regard to the case of ASCII letters, as the container's do.
//
// Every commit also writes the checksums of the streams, in a stream of the
// storage's own ("Checksums", checksums.h) that its users never see; reads
// of committed bytes are checked against them, and a commit carries no
// committed byte over that fails its check. Files without it still open,
// unchecked, and gain it at their next commit.
//
// Failures (a file that will not open, a corrupt container, a write that
// fails, bytes that do not match their checksum) raise StorageError with a
// text that names the file and the fault.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/util/xexcept.h"

namespace tq {

// Access-mode bits, as the store passes them.
enum : uint32_t {
    STGM_READ = 0x0,
    STGM_WRITE = 0x1,
    STGM_READWRITE = 0x2,
    STGM_SHARE_EXCLUSIVE = 0x10,
    STGM_SHARE_DENY_WRITE = 0x20,
    STGM_CREATE = 0x1000,
    STGM_TRANSACTED = 0x10000,
};

class StorageError : public XException {
public:
    using XException::XException;
};

class OCLStream;
class StorageImpl;

// The `create` argument of OCLStorage's constructor beyond 0 (the file must
// exist) and 1 (a missing file is made at once): a missing file is made by
// the first Commit or SwitchTo. Until then the storage is an empty one in
// memory that holds no lock and leaves nothing on disk; loading a module
// that has no file of its own yet (an untitled one, the storage behind a
// text module) then costs no disk write at all.
inline constexpr int kCreateOnFirstCommit = 2;

class OCLStorage {
public:
    // Opens the compound file at path with the access mode.
    //  - create == 0: the file must exist and be a compound file.
    //  - create != 0: a missing file is made (an empty storage, at once, or
    //    with kCreateOnFirstCommit at the first Commit); an existing one is
    //    opened.
    //  - STGM_CREATE (which implies create): an existing file is replaced by
    //    an empty storage. The file keeps its content until the first Commit.
    // Asking for write access to a file with the read-only attribute (no
    // write permission bit), or to one another storage holds for writing,
    // fails. A symbolic link is followed: commits replace the file it names.
    OCLStorage(const char* path, int create, uint32_t mode);

    // A temporary storage: a new name "qbo..." in the temporary folder. Its
    // file is made by the first Commit (a storage that is only copied to and
    // from never touches the disk) and removed when the storage goes.
    explicit OCLStorage(uint32_t mode = STGM_READWRITE | STGM_SHARE_EXCLUSIVE);

    ~OCLStorage();
    OCLStorage(const OCLStorage&) = delete;
    OCLStorage& operator=(const OCLStorage&) = delete;

    // True when the file carries the compound-file signature.
    static bool IsStorageFile(const char* path);

    bool isWritable() const;
    bool isTransacted() const;
    bool isTemporary() const;
    // False while a storage made to create its file on the first commit has
    // not made it: nothing of it is on disk, and its path may name nothing,
    // or a file that is not its own.
    bool hasFile() const;
    std::string GetStoragePath() const;

    // Writes every pending change to the file, atomically. Does nothing when
    // nothing changed or the storage has no write access. On failure the file
    // is as it was, the changes stay pending, and StorageError is raised. (The
    // one failure after the new file is in place, flushing the folder's entry,
    // is raised with the commit done.) A path that another program has since
    // made name another file (renamed over ours) is a failure: that file may
    // be another writer's.
    void Commit();
    // The next commit writes a whole new file, gap-free, even when it could
    // write in place (after a compaction, which moves most records).
    void CommitWholeNextTime();
    // Returns every stream to its committed content. In direct mode there is
    // no transaction to go back from, and Revert does nothing.
    void Revert();

    // Copies the whole current content (pending changes included) into dest,
    // as pending changes of dest: they reach dest's file at its Commit.
    void CopyTo(OCLStorage& dest);

    // Continues in a new file at path, which starts as a copy of the committed
    // content; changes not yet committed stay pending and reach the new file at
    // the next Commit. The old file is left as it was, and its lock is given
    // up; a temporary storage's old file is removed, and the storage is no
    // longer temporary. A file at path is replaced, unless it is read-only or
    // another storage has it open for writing. On failure nothing changes and
    // StorageError is raised (as with Commit, a failure to flush the folder
    // comes with the switch done).
    void SwitchTo(const char* path);

    // Names of the streams in the root storage, committed or pending, sorted.
    std::vector<std::string> streamNames() const;
    bool hasStream(const std::string& name) const;
    // Removes a stream (pending, like every change); false when there is none.
    bool removeStream(const std::string& name);

    // True when the committed file carries the checksums of its streams.
    bool hasChecksums() const;
    // Reads every committed stream whole through its checksums, raising
    // StorageError for the first damage found; a file without checksums has
    // nothing to check.
    void verifyChecksums();

    // Bytes read from the committed file since it was opened or last
    // committed: the container's tables and the stream data read so far.
    uint64_t bytesReadFromFile() const;
    // Bytes written into the storage's streams since it was opened (what a
    // save changed, before any commit writes the file).
    uint64_t bytesWrittenToStreams() const;

    // Test seam for damage made on purpose: what commits write as the
    // stream of checksums. kOmit writes none (a file as written before there
    // were any); kKeepCommitted writes the committed file's stream as it was
    // (the streams changed since then read as damaged in place).
    enum class ChecksumWriting { kCompute, kOmit, kKeepCommitted };
    static void SetChecksumWriting(ChecksumWriting how);
    // Benchmark and test seam: the piece size of the checksums that whole
    // commits write (a power of two from 512 to 65536; checksums.h), to put
    // files as the first ones were beside today's.
    static void SetChecksumPieceSize(uint32_t bytes);

    // Test and benchmark seam: when a commit writes in place. kWhenSmaller
    // (the default) when the change is less than half the file; kAlways
    // whenever the file and the storage allow it, whatever the size; kNever
    // writes every commit whole.
    enum class InPlaceCommits { kWhenSmaller, kAlways, kNever };
    static void SetInPlaceCommits(InPlaceCommits when);

    // Test hook: called before every block written during Commit with the
    // number of bytes written so far; returning false fails that write.
    using WriteFaultHook = std::function<bool(uint64_t bytesWritten)>;
    static void SetWriteFaultHook(WriteFaultHook hook);

    // The library that lays out whole compound files (libgsf) is loaded the
    // first time one is written whole (creating a file, a commit that does
    // not write in place) or a sub-storage copied; opening and reading a file
    // never load it. True once it has been.
    static bool CompoundFileLibraryLoaded();
    // Test seam: the shared object to load instead of the build's libgsf.
    // Effective only before the first load.
    static void SetCompoundFileLibrary(const char* soname);

private:
    friend class OCLStream;
    std::unique_ptr<StorageImpl> impl_;
};

}  // namespace tq
