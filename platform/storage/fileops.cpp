#include "platform/storage/fileops.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>
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

void SyncFile(int fd, const std::string& path) {
    if (::fsync(fd) != 0)
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
