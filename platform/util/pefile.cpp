#include "platform/util/pefile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/util/lebytes.h"
#include "platform/util/syserror.h"

namespace tq {

namespace {

constexpr size_t kFileHeaderSize = 64;
constexpr size_t kSectionHeaderSize = 64;
constexpr uint32_t kProgBits = 1;
constexpr uint16_t kExtendedIndex = 0xFFFF;

}  // namespace

PEFile::~PEFile() {
    if (fd_ >= 0) ::close(fd_);
}

void PEFile::fail(const std::string& what, int code) const {
    throw PEFileError(path_ + ": " + what, code);
}

void PEFile::OpenReadOnly(const std::string& path) {
    Close();
    path_ = path;
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) fail(SystemErrorText(errno), errno);
    writable_ = false;
    struct stat st;
    if (::fstat(fd_, &st) != 0) fail(SystemErrorText(errno), errno);
    if (!S_ISREG(st.st_mode)) {
        ::close(fd_);
        fd_ = -1;
        fail("not a regular file", EISDIR);
    }
    fileSize_ = static_cast<uint64_t>(st.st_size);
}

void PEFile::Open(const std::string& path) {
    OpenReadOnly(path);
    ::close(fd_);
    fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd_ < 0) fail(SystemErrorText(errno), errno);
    writable_ = true;
}

void PEFile::readAt(uint64_t offset, void* into, size_t size) {
    if (offset > fileSize_ || size > fileSize_ - offset) fail("the file ends inside its ELF headers");
    auto* out = static_cast<uint8_t*>(into);
    for (size_t done = 0; done < size;) {
        const ssize_t got = ::pread(fd_, out + done, size - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) fail(SystemErrorText(errno), errno);
        if (got == 0) fail("the file ends inside its ELF headers");
        done += static_cast<size_t>(got);
    }
}

void PEFile::locate() {
    if (located_) return;
    if (fd_ < 0) fail("the executable file is not open");
    uint8_t h[kFileHeaderSize];
    if (fileSize_ < sizeof h) fail("not an ELF executable file");
    readAt(0, h, sizeof h);
    if (std::memcmp(h, "\x7F" "ELF", 4) != 0) fail("not an ELF executable file");
    if (h[4] != 2 || h[5] != 1) fail("not a 64-bit little-endian ELF file");
    const uint64_t shoff = LoadLE64(h + 0x28);
    const uint16_t shentsize = LoadLE16(h + 0x3A);
    uint32_t shnum = LoadLE16(h + 0x3C);
    uint32_t shstrndx = LoadLE16(h + 0x3E);
    if (shoff == 0) fail("the ELF file has no section headers");
    if (shentsize != kSectionHeaderSize) fail("the ELF section headers have an unknown size");
    uint8_t sh[kSectionHeaderSize];
    auto header = [&](uint32_t i) {
        readAt(shoff + static_cast<uint64_t>(i) * kSectionHeaderSize, sh, sizeof sh);
        return sh;
    };
    // Many sections: the counts overflow into section 0.
    if (shnum == 0 || shstrndx == kExtendedIndex) {
        header(0);
        if (shnum == 0) shnum = LoadLE64(sh + 0x20) > kMaxSections ? kMaxSections + 1 : LoadLE32(sh + 0x20);
        if (shstrndx == kExtendedIndex) shstrndx = LoadLE32(sh + 0x28);
    }
    if (shnum > kMaxSections) fail("the ELF file claims too many sections");
    if (shstrndx >= shnum) fail("the ELF file names no section of names");
    header(shstrndx);
    const uint64_t namesAt = LoadLE64(sh + 0x18);
    const uint64_t namesSize = LoadLE64(sh + 0x20);
    if (namesAt > fileSize_ || namesSize > fileSize_ - namesAt) fail("the ELF section names lie past the file's end");
    const size_t want = sizeof kSectionName;  // the name and its NUL
    for (uint32_t i = 0; i < shnum; ++i) {
        header(i);
        const uint32_t name = LoadLE32(sh);
        if (name >= namesSize || namesSize - name < want) continue;
        char text[sizeof kSectionName];
        readAt(namesAt + name, text, want);
        if (std::memcmp(text, kSectionName, want) != 0) continue;
        const uint32_t type = LoadLE32(sh + 4);
        const uint64_t at = LoadLE64(sh + 0x18);
        const uint64_t size = LoadLE64(sh + 0x20);
        if (type != kProgBits) fail("the data section holds no bytes in the file");
        if (size < kDataSectionSize) fail("the data section is truncated");
        if (size > kDataSectionSize) fail("the data section is too long");
        if (at > fileSize_ || size > fileSize_ - at) fail("the data section is truncated by the file's end");
        offset_ = at;
        found_ = true;
        break;
    }
    located_ = true;
}

const uint8_t* PEFile::GetTessaroDataSection() {
    if (made_) return section_.data();
    locate();
    if (!found_) return nullptr;
    readAt(offset_, section_.data(), section_.size());
    return section_.data();
}

uint8_t* PEFile::MakeTessaroDataSection() {
    if (!writable_) fail("the executable file is open read-only");
    locate();
    if (!found_) fail("the file has no Tessaro data section (it is no copy of the run-time executable)");
    section_.fill(0);
    made_ = true;
    return section_.data();
}

void PEFile::UpdateFileTimes() {
    if (fd_ >= 0 && ::futimens(fd_, nullptr) != 0) fail(SystemErrorText(errno), errno);
}

void PEFile::Close() {
    if (fd_ < 0) return;
    const int fd = fd_;
    fd_ = -1;
    int code = 0;
    if (made_) {
        for (size_t done = 0; done < section_.size() && !code;) {
            const ssize_t put =
                ::pwrite(fd, section_.data() + done, section_.size() - done, static_cast<off_t>(offset_ + done));
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) code = put < 0 ? errno : EIO;
            else done += static_cast<size_t>(put);
        }
        if (!code && ::fsync(fd) != 0) code = errno;
    }
    ::close(fd);
    located_ = found_ = made_ = writable_ = false;
    if (code) fail(SystemErrorText(code), code);
}

}  // namespace tq
