// FileSystemHooks: a test's view into the file-system steps of the storage
// layer, and a way to make the disk lie.
//
// A commit is durable only through the order of its steps: the new file is
// written whole, flushed, read back and checked, renamed over the module file,
// and then its folder is flushed, since a rename survives a crash only once
// the folder's entries are on the disk. None of this shows in the files a
// test can look at afterwards, and a disk that reports a write done while
// keeping other bytes is not one a test can get. Hooks installed here are
// told of each step as it succeeds and may alter a block on its way to the
// disk; without hooks (the normal case) each step costs the test of a
// pointer.
//
// The steps reported:
//   wrote(fd)             bytes written to the open file fd
//   flushedFile(fd)       the file fd flushed to the disk
//   renamed(to)           a file renamed to the path `to`
//   flushedFolder(folder) the folder's entries flushed to the disk
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tq {

class FileSystemHooks {
public:
    virtual ~FileSystemHooks() = default;

    // Before a block of a compound file is written to fd at offset: block is
    // a private copy of its n bytes, which the hook may change. Returns how
    // many of them reach the file; the write reports all n written whatever
    // happened to them.
    virtual size_t alterWrite(int /*fd*/, uint64_t /*offset*/, uint8_t* /*block*/, size_t n) {
        return n;
    }

    virtual void wrote(int /*fd*/) {}
    virtual void flushedFile(int /*fd*/) {}
    virtual void renamed(const std::string& /*to*/) {}
    virtual void flushedFolder(const std::string& /*folder*/) {}
};

// Installs hooks for every storage of the process (null removes them). The
// caller keeps them alive while they are installed.
void SetFileSystemHooks(FileSystemHooks* hooks);
FileSystemHooks* InstalledFileSystemHooks();

}  // namespace tq
