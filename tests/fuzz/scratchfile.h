// The one file a fuzz target writes its input to before opening it as a
// storage: in a folder of this process's own, in memory when /dev/shm is
// there, so that the commits' flushes cost nothing.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace tq::fuzz {

inline const std::string& ScratchFile() {
    static const std::string file = [] {
        std::string pattern =
            ::access("/dev/shm", W_OK) == 0 ? "/dev/shm/tqfuzzXXXXXX" : "/tmp/tqfuzzXXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        return pattern + "/module.qbo";
    }();
    return file;
}

// Replaces the file at path by the bytes; a fuzz run cannot go on without
// it, so any failure ends the process.
inline void WriteRaw(const std::string& path, const uint8_t* data, size_t size) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) std::abort();
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n <= 0) std::abort();
        data += n;
        size -= static_cast<size_t>(n);
    }
    ::close(fd);
}

}  // namespace tq::fuzz
