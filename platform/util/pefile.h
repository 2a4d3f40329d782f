// PEFile: the executable-file editor, which finds the data section that the
// run-time executable reserves and reads or rewrites it.
//
// The system's executables carry one section of their own, the Tessaro
// data section, in which a written application keeps its settings. Here an
// executable is an ELF file (64-bit, little-endian): the template `tqapp`
// reserves the section at link time as an allocated, initialised section
// named ".tqappdata" of exactly kDataSectionSize bytes, so the bytes patched
// into a copy's file are the bytes the copy sees in memory when it runs.
// Patching changes neither the file's size nor any header, so the copy stays
// an ELF file that runs and that readelf and strip accept (strip keeps
// allocated sections).
//
// ELF facts relied on (all offsets little-endian):
//
//   file header   offset  width  meaning
//                 0       4      7F 'E' 'L' 'F'
//                 4       1      class, 2 = 64-bit
//                 5       1      data, 1 = little-endian
//                 0x28    8      e_shoff: offset of the section headers
//                 0x3A    2      e_shentsize: 64
//                 0x3C    2      e_shnum (0: in section 0's sh_size)
//                 0x3E    2      e_shstrndx (0xFFFF: in section 0's sh_link)
//   section hdr   0       4      sh_name: offset in the names section
//                 4       4      sh_type, 1 = PROGBITS (bytes in the file)
//                 0x18    8      sh_offset
//                 0x20    8      sh_size
//                 0x28    4      sh_link
//
// Every offset and size read from the file is checked against the file's
// size before it is used: a damaged or hostile file raises PEFileError with
// a text naming the file and what is wrong, never a read outside it.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "platform/util/xexcept.h"

namespace tq {

// A failure of the editor: code is the system's error code when the system
// refused (the file cannot be opened, read or written), else 0 and the
// text says what is wrong with the file.
class PEFileError : public XException {
public:
    PEFileError(std::string text, int code) : XException(std::move(text)), code(code) {}
    int code;
};

class PEFile {
public:
    static constexpr size_t kDataSectionSize = 4096;
    static constexpr const char kSectionName[] = ".tqappdata";
    // The most section headers read: far more than any linker writes.
    static constexpr uint32_t kMaxSections = 1 << 16;

    PEFile() = default;
    ~PEFile();
    PEFile(const PEFile&) = delete;
    PEFile& operator=(const PEFile&) = delete;

    void OpenReadOnly(const std::string& path);
    // Opens for rewriting the data section (the file must exist).
    void Open(const std::string& path);
    bool isOpen() const { return fd_ >= 0; }
    const std::string& path() const { return path_; }

    // The data section's bytes, read from the file; null when the file is
    // an ELF file without one. PEFileError when the file is no 64-bit
    // little-endian ELF file or the section is damaged (not kept in the
    // file, shorter or longer than kDataSectionSize, past the file's end).
    const uint8_t* GetTessaroDataSection();
    // The data section to fill, zero-filled; Close writes it into the file.
    // PEFileError when the file has no sound data section: the template
    // reserves it, nothing adds one.
    uint8_t* MakeTessaroDataSection();
    // Sets the file's access and change times to now.
    void UpdateFileTimes();
    // Writes a made data section and flushes it to the disk, then closes;
    // PEFileError when the write fails (the file is closed all the same).
    void Close();

private:
    // Finds the section (offset_, found_); throws for a damaged file.
    void locate();
    void readAt(uint64_t offset, void* into, size_t size);
    [[noreturn]] void fail(const std::string& what, int code = 0) const;

    std::string path_;
    int fd_ = -1;
    bool writable_ = false;
    bool located_ = false;
    bool found_ = false;
    bool made_ = false;
    uint64_t fileSize_ = 0;
    uint64_t offset_ = 0;
    std::array<uint8_t, kDataSectionSize> section_{};
};

}  // namespace tq
