#include "platform/storage/filesave.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/storage/fileops.h"
#include "platform/storage/fshooks.h"
#include "platform/storage/oclstorage.h"
#include "platform/util/fileutil.h"

namespace tq {

namespace {

// A new file's bits before the umask, as an editor makes one.
constexpr unsigned kNewFileMode = 0666;

FileStamp StampOf(const struct stat& st) {
    FileStamp s;
    s.exists = true;
    s.device = st.st_dev;
    s.inode = st.st_ino;
    s.size = st.st_size;
    s.modifiedNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return s;
}

// The file about to be replaced: where it is, and the open old file whose
// write lock keeps another save of ours out while we replace it.
struct Target {
    std::string file;  // the path with symbolic links followed
    UniqueFd old;      // the existing file, locked; none for a new file
};

// Checks that the path names a regular file or nothing, and that it still
// has the stamp the caller read it with.
void CheckUnchanged(const std::string& file, const std::string& path, const FileStamp* expected) {
    struct stat st;
    const bool exists = ::stat(file.c_str(), &st) == 0;
    if (!exists && errno != ENOENT) throw StorageError(path + ": " + ErrnoText(errno));
    if (exists && !S_ISREG(st.st_mode))
        throw StorageError(path + ": not a regular file (a device, a FIFO or a folder); it is not replaced");
    if (expected && (exists ? StampOf(st) : FileStamp{}) != *expected)
        throw StorageError(path + (expected->exists ? " was replaced by another program since it was opened"
                                                    : " was made by another program since this one started"));
}

// removeLeftovers: false when the new file is one of the names leftovers
// have (a module written beside the target by its maker).
Target OpenTarget(const std::string& path, const FileStamp* expected, bool removeLeftovers) {
    Target t;
    t.file = ResolvedPath(path);
    CheckUnchanged(t.file, path, expected);
    // Not blocking, in case a FIFO took the path since the check.
    t.old.reset(::open(t.file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!t.old && errno != ENOENT) throw StorageError(path + ": cannot open: " + ErrnoText(errno));
    if (t.old) {
        if (!TryWriteLock(t.old.get())) throw StorageError(path + ": the file is being saved by another program");
        // Leftovers of a save that was killed: ours to remove now that no
        // other save of this file can be running.
        if (removeLeftovers) RemoveStaleCommitFiles(t.file);
    }
    return t;
}

// Gives the new file the old one's bits, then checks the target once more
// and renames the new file over it. The folder is flushed last: the rename
// survives a crash only once the folder's entries are on the disk.
void Install(const Target& t, const std::string& newFile, int newFd, const std::string& path,
             const FileStamp* expected) {
    if (t.old) CopyPermissions(t.old.get(), newFd);
    CheckUnchanged(t.file, path, expected);
    if (!RenameFile(newFile, t.file)) throw StorageError(path + ": cannot replace the file: " + ErrnoText(errno));
    SyncFolder(FolderOf(t.file));
}

}  // namespace

FileStamp StampFile(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return {};
    return StampOf(st);
}

static FileStamp ReplaceFileBy(const std::string& path, unsigned mode,
                               const std::function<void(int fd, const std::string& newFile)>& fill,
                               const FileStamp* expected);

FileStamp ReplaceFileContent(const std::string& path, std::string_view bytes, const FileStamp* expected) {
    return ReplaceFileBy(path, kNewFileMode, [&](int fd, const std::string&) {
        for (size_t done = 0; done < bytes.size();) {
            const ssize_t put = ::write(fd, bytes.data() + done, bytes.size() - done);
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) throw StorageError(path + ": write failed: " + ErrnoText(put < 0 ? errno : EIO));
            done += static_cast<size_t>(put);
        }
        if (FileSystemHooks* hooks = InstalledFileSystemHooks()) hooks->wrote(fd);
    }, expected);
}

static FileStamp ReplaceFileBy(const std::string& path, unsigned mode,
                               const std::function<void(int fd, const std::string& newFile)>& fill,
                               const FileStamp* expected) {
    const Target t = OpenTarget(path, expected, true);
    TempFile temp(FolderOf(t.file), CommitTempPrefix(t.file), path, mode);
    fill(temp.fd(), temp.path());
    SyncFile(temp.fd(), path);
    Install(t, temp.path(), temp.fd(), path, expected);
    // The file is the target's now: the temporary object must not remove it.
    const UniqueFd kept = temp.keep();
    struct stat st;
    return ::fstat(kept.get(), &st) == 0 ? StampOf(st) : FileStamp{};
}

FileStamp ReplaceFileBy(const std::string& path, unsigned mode,
                        const std::function<void(int fd, const std::string& newFile)>& fill) {
    return ReplaceFileBy(path, mode, fill, nullptr);
}

void CopyFileFrom(const std::string& from, int fd, const std::string& toPath) {
    const UniqueFd source(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
    if (!source) throw StorageError(from + ": cannot open: " + ErrnoText(errno));
    CopyFileContent(source.get(), fd, toPath);
}

bool SameFileAs(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

void ReplaceFileWith(const std::string& newFile, const std::string& path) {
    try {
        const Target t = OpenTarget(path, nullptr, false);
        const UniqueFd fd(::open(newFile.c_str(), O_RDONLY | O_CLOEXEC));
        if (!fd) throw StorageError(path + ": cannot open the new file: " + ErrnoText(errno));
        Install(t, newFile, fd.get(), path, nullptr);
    } catch (...) {
        RemoveFile(newFile);
        throw;
    }
}

std::string NameBesideTarget(const std::string& path) {
    const std::string file = ResolvedPath(path);
    const std::string name = NewTempFileName(FolderOf(file), CommitTempPrefix(file).c_str());
    if (name.empty())
        throw StorageError(path + ": cannot make a temporary file in " + FolderOf(file) + ": " + ErrnoText(errno));
    return name;
}

}  // namespace tq
