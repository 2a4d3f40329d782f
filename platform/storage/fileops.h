// File-system steps of the storage layer: descriptors, the advisory write
// lock, temporary files beside a module, and the flushes of an atomic replace.
//
// The write lock is flock(2) on the module file itself: exclusive, never
// waited for, held by one open file (so two storages of one process exclude
// each other as two processes do). A commit renames a new file over the path,
// so the lock must be taken on the new file before the rename; a writer that
// opened the path just before a rename may lock the old file, and must see that
// the path no longer names it and try again (OpenForWriting does).
//
// A commit's temporary file is "<folder>/.<name>.tq-XXXXXX". Only the holder
// of a module's lock commits it, so a holder that finds such files finds the
// leftovers of a writer that died, and removes them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tq {

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset(int fd = -1);

private:
    int fd_ = -1;
};

// A temporary file made for us alone; removed when the object goes, unless
// kept.
class TempFile {
public:
    // "<folder>/<prefix>XXXXXX", six random letters and digits, created with
    // the permission bits `mode` less the process's umask. fileName names the
    // file the temporary one serves, in error texts.
    TempFile(const std::string& folder, const std::string& prefix, const std::string& fileName,
             unsigned mode);
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    const std::string& path() const { return path_; }
    int fd() const { return fd_.get(); }
    // The file stays where it is (renamed or linked by then); its descriptor
    // passes to the caller.
    UniqueFd keep();

private:
    std::string path_;
    UniqueFd fd_;
};

// Takes the exclusive advisory write lock on fd without waiting; false when
// another open file holds it.
bool TryWriteLock(int fd);

// Readers and in-place commits exclude each other through a second lock,
// apart from the write lock: an open-file-description lock (fcntl
// F_OFD_SETLK) on one byte far past any module's end. A read-only storage
// holds it shared on the descriptor its image reads, for as long as that
// image lives; an in-place commit holds it exclusively while it writes the
// file and never waits for it: when a reader holds a share, the commit
// writes a whole new file instead, which leaves the file that readers read
// as it was. Where the system has no such locks a reader takes none and
// every commit writes a whole new file.
//
// Takes a reader's share of fd, waiting while an in-place commit holds the
// file; raises StorageError naming path when the commit goes on for longer
// than any should.
void TakeReaderShare(int fd, const std::string& path);
// Takes the exclusive lock without waiting; false when a reader holds a
// share or the system has no such locks.
bool TryExcludeReaders(int fd);
// Gives back what TryExcludeReaders took.
void AdmitReaders(int fd);

// Opens the existing file at path read-write and takes its write lock, making
// sure the lock is on the file that the path names once it is held. Raises
// StorageError when the file cannot be opened or another holds it.
UniqueFd OpenForWriting(const std::string& path);

// Gives file `to` the permission bits of file `from` and, where the process
// may, its owner and group.
void CopyPermissions(int from, int to);

// True when fd and path are the same file.
bool SameFile(int fd, const std::string& path);

// Flushes a file's data, or a folder's entries, to the disk.
void SyncFile(int fd, const std::string& path);
void SyncFolder(const std::string& folder);

// rename(2), told to the file-system hooks; false with errno set when it
// fails.
bool RenameFile(const std::string& from, const std::string& to);

// The file a path names: symbolic links are followed, so that a commit
// replaces the file the link points to, not the link. The path itself when
// it cannot be resolved.
std::string ResolvedPath(const std::string& path);

// The folder of a path ("." for a bare name) and its last component.
std::string FolderOf(const std::string& path);
std::string FileNameOf(const std::string& path);

// The prefix of a commit's temporary files for the module file at path.
std::string CommitTempPrefix(const std::string& path);

// Removes leftover commit files of the module at path; the caller holds its
// write lock.
void RemoveStaleCommitFiles(const std::string& path);

// Copies the whole content of `from` to `to` (from offset 0 of each).
void CopyFileContent(int from, int to, const std::string& toPath);

// The whole n bytes at offset of fd, or false (errno set; EIO at the end
// of the file).
bool ReadFullyAt(int fd, uint64_t offset, uint8_t* out, size_t n);
// All n bytes at offset of fd, or false (errno set).
bool WriteFullyAt(int fd, uint64_t offset, const uint8_t* data, size_t n);

// A block of a file the storage writes: shown to the file-system hooks
// (which may alter it, fshooks.h) on its way to the disk, then written
// whole. False with errno set when the write fails.
bool WriteBlock(int fd, uint64_t offset, const uint8_t* data, size_t n);

// errno's text, for error messages.
std::string ErrnoText(int code);

}  // namespace tq
