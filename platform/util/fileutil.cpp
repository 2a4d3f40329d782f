#include "platform/util/fileutil.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform/util/pathsrch.h"

namespace tq {

bool FileHasReadOnlyAttribute(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && (st.st_mode & 0222) == 0;
}

bool CreateNewFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

bool RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool ReadSmallFile(const std::string& path, size_t limit, std::string& out) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    bool ok = ::fstat(fd, &st) == 0;
    if (ok && !S_ISREG(st.st_mode)) {
        errno = EISDIR;
        ok = false;
    }
    std::string text;
    char buffer[4096];
    while (ok) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ok = false;
        } else if (n == 0) {
            break;
        } else if (text.size() + static_cast<size_t>(n) > limit) {
            errno = EFBIG;
            ok = false;
        } else {
            text.append(buffer, static_cast<size_t>(n));
        }
    }
    const int saved = errno;
    ::close(fd);
    errno = saved;
    if (ok) out = std::move(text);
    return ok;
}

bool IsFolder(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string TempFolder() {
    auto usable = [](const char* folder) {
        struct stat st;
        return folder && *folder && std::string(folder).size() < kMaxPath - 1 &&
               ::stat(folder, &st) == 0 && S_ISDIR(st.st_mode);
    };
    if (const char* tmp = std::getenv("TMPDIR"); usable(tmp)) return tmp;
    if (usable("/tmp")) return "/tmp";
    return ".";
}

std::string NewTempFileName(const std::string& folder, const char* prefix) {
    std::string pattern = folder + "/" + (prefix ? prefix : "") + "XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) return {};
    ::close(fd);
    ::unlink(name.data());
    return name.data();
}

}  // namespace tq
