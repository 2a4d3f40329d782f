#include "platform/storage/fileops.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <random>
#include <thread>
#include <vector>

#include "platform/storage/fshooks.h"
#include "platform/storage/oclstorage.h"
#include "platform/util/syserror.h"

namespace tq {

std::string ErrnoText(int code) { return SystemErrorText(code); }

void UniqueFd::reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
}

TempFile::TempFile(const std::string& folder, const std::string& prefix,
                   const std::string& fileName, unsigned mode) {
    static const char kLetters[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static std::mt19937_64 random{std::random_device{}()};
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = folder + "/" + prefix;
        for (int i = 0; i < 6; ++i) name += kLetters[random() % (sizeof kLetters - 1)];
        const int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0) {
            path_ = std::move(name);
            fd_.reset(fd);
            return;
        }
        if (errno != EEXIST) break;
    }
    throw StorageError(fileName + ": cannot make a temporary file in " + folder + ": " +
                       ErrnoText(errno));
}

TempFile::~TempFile() {
    if (fd_) ::unlink(path_.c_str());
}

UniqueFd TempFile::keep() { return std::move(fd_); }

bool TryWriteLock(int fd) {
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EINTR) return false;
    }
    return true;
}

void CopyPermissions(int from, int to) {
    struct stat st;
    if (::fstat(from, &st) != 0) return;
    // Only root (or an owner changing to one of its groups) may give the file
    // away; otherwise it stays ours, which is what the caller can have.
    if (::fchown(to, st.st_uid, st.st_gid) != 0) errno = 0;
    ::fchmod(to, st.st_mode & 07777);
}

bool SameFile(int fd, const std::string& path) {
    struct stat a, b;
    return ::fstat(fd, &a) == 0 && ::stat(path.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

namespace {

// Past the end of any module file (which holds at most 2^32 sectors of
// 4096 bytes), so that no byte range a program might lock for its own
// reasons meets it.
constexpr off_t kReaderLockByte = off_t{1} << 46;

// How long a reader waits for an in-place commit: such a commit writes what
// changed and a journal of it, far less than this even on a slow disk.
constexpr auto kReaderWait = std::chrono::seconds(30);

bool SetReaderLock([[maybe_unused]] int fd, [[maybe_unused]] short type) {
#ifdef F_OFD_SETLK
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = kReaderLockByte;
    lock.l_len = 1;
    while (::fcntl(fd, F_OFD_SETLK, &lock) != 0)
        if (errno != EINTR) return false;
    return true;
#else
    return false;
#endif
}

}  // namespace

void TakeReaderShare(int fd, const std::string& path) {
#ifdef F_OFD_SETLK
    const auto deadline = std::chrono::steady_clock::now() + kReaderWait;
    while (!SetReaderLock(fd, F_RDLCK)) {
        if (errno != EAGAIN && errno != EACCES) return;  // no such locks here: read unlocked
        if (std::chrono::steady_clock::now() > deadline)
            throw StorageError(path + ": cannot open: another program has been committing "
                                      "the file in place for too long");
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
#endif
}

bool TryExcludeReaders(int fd) { return SetReaderLock(fd, F_WRLCK); }

void AdmitReaders(int fd) { SetReaderLock(fd, F_UNLCK); }

UniqueFd OpenForWriting(const std::string& path) {
    // Each round that loses a race with a commit's rename takes the new file;
    // a few rounds are plenty, and the bound keeps a pathological peer from
    // holding us here.
    for (int round = 0; round < 64; ++round) {
        // Not blocking, in case something other than a file took the path.
        UniqueFd fd(::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
        if (!fd) throw StorageError(path + ": cannot open for writing: " + ErrnoText(errno));
        struct stat st;
        if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
            throw StorageError(path + ": not a regular file");
        if (!TryWriteLock(fd.get()))
            throw StorageError(path + ": the file is in use by another program, or another "
                                      "storage of this one, that has it open for writing");
        if (SameFile(fd.get(), path)) return fd;
    }
    throw StorageError(path + ": cannot open for writing: the file keeps being replaced");
}

// fdatasync: a file's bytes and its size reach the disk, which is all a
// commit or a rollback relies on; its times alone would cost the file
// system one more write of the inode for every file flushed.
void SyncFile(int fd, const std::string& path) {
    if (::fdatasync(fd) != 0)
        throw StorageError(path + ": cannot flush to disk: " + ErrnoText(errno));
    if (FileSystemHooks* hooks = InstalledFileSystemHooks()) hooks->flushedFile(fd);
}

void SyncFolder(const std::string& folder) {
    UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd || ::fsync(fd.get()) != 0)
        throw StorageError(folder + ": cannot flush the folder to disk: " + ErrnoText(errno));
    if (FileSystemHooks* hooks = InstalledFileSystemHooks()) hooks->flushedFolder(folder);
}

bool RenameFile(const std::string& from, const std::string& to) {
    if (::rename(from.c_str(), to.c_str()) != 0) return false;
    if (FileSystemHooks* hooks = InstalledFileSystemHooks()) hooks->renamed(to);
    return true;
}

std::string ResolvedPath(const std::string& path) {
    std::error_code ec;
    const auto resolved = std::filesystem::weakly_canonical(path, ec);
    return ec ? path : resolved.string();
}

std::string FolderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string FileNameOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string CommitTempPrefix(const std::string& path) {
    return "." + FileNameOf(path) + ".tq-";
}

void RemoveStaleCommitFiles(const std::string& path) {
    const std::string folder = FolderOf(path);
    const std::string prefix = CommitTempPrefix(path);
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return;
    std::vector<std::string> stale;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.size() == prefix.size() + 6 && name.compare(0, prefix.size(), prefix) == 0)
            stale.push_back(folder + "/" + name);
    }
    ::closedir(dir);
    for (const std::string& file : stale) ::unlink(file.c_str());
}

bool ReadFullyAt(int fd, uint64_t offset, uint8_t* out, size_t n) {
    while (n > 0) {
        const ssize_t got = ::pread(fd, out, n, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            if (got == 0) errno = EIO;
            return false;
        }
        out += got;
        n -= static_cast<size_t>(got);
        offset += static_cast<uint64_t>(got);
    }
    return true;
}

bool WriteFullyAt(int fd, uint64_t offset, const uint8_t* data, size_t n) {
    while (n > 0) {
        const ssize_t put = ::pwrite(fd, data, n, static_cast<off_t>(offset));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            if (put == 0) errno = ENOSPC;
            return false;
        }
        data += put;
        n -= static_cast<size_t>(put);
        offset += static_cast<uint64_t>(put);
    }
    return true;
}

bool WriteBlock(int fd, uint64_t offset, const uint8_t* data, size_t n) {
    FileSystemHooks* hooks = InstalledFileSystemHooks();
    if (hooks == nullptr) return WriteFullyAt(fd, offset, data, n);
    std::vector<uint8_t> altered(data, data + n);
    const size_t kept = std::min(n, hooks->alterWrite(fd, offset, altered.data(), n));
    if (!WriteFullyAt(fd, offset, altered.data(), kept)) return false;
    hooks->wrote(fd);
    return true;
}

void CopyFileContent(int from, int to, const std::string& toPath) {
    off_t in = 0, out = 0;
    const auto copied = [to] {
        if (FileSystemHooks* hooks = InstalledFileSystemHooks()) hooks->wrote(to);
    };
    for (;;) {
        const ssize_t n = ::copy_file_range(from, &in, to, &out, 1 << 30, 0);
        if (n == 0) return copied();
        if (n > 0) continue;
        if (errno == EINTR) continue;
        if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP)
            throw StorageError(toPath + ": write failed: " + ErrnoText(errno));
        break;
    }
    // The kernel would not copy between these files: copy through a buffer.
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const ssize_t got = ::pread(from, buffer.data(), buffer.size(), in);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) throw StorageError(toPath + ": cannot read the source: " + ErrnoText(errno));
        if (got == 0) return copied();
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = ::pwrite(to, buffer.data() + done, static_cast<size_t>(got - done),
                                         out);
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0)
                throw StorageError(toPath + ": write failed: " + ErrnoText(put < 0 ? errno : EIO));
            done += put;
            out += put;
        }
        in += got;
    }
}

}  // namespace tq
