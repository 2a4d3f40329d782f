// The Application's data section inside a written executable: what
// Application.WriteEXE stores in the copy of the run-time executable and
// what the executable hands back through iApplication::SetInfo when it
// starts. The section is found and rewritten by PEFile
// (platform/util/pefile.h); this is its content.
//
//   offset  width     meaning
//   0       4         word: appFlags when written; bit 0 SplashMessageEnabled,
//                     high byte the revision (kExeRevision, 0x01)
//   4       variable  the Application object's alias, NUL-terminated
//   ...     variable  the splash file name, NUL-terminated (empty: none)
//   ...     variable  the module path entries without folders, each
//                     NUL-terminated, then one more NUL
//   ...     to 4096   zero
//
// Everything up to the module list's final NUL must lie within the 4096
// bytes: a section whose texts run off its end was not written by WriteEXE
// and is refused, as is a module entry holding ';' (the list's separator
// everywhere else).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tq {

inline constexpr uint32_t kExeRevision = 0x01;
inline constexpr uint32_t kExeRevisionMask = 0xFF000000;
// The word when no executable has reported one.
inline constexpr uint32_t kNoExeWord = 0x7FFFFFFF;

struct ExeData {
    uint32_t word = kNoExeWord;
    std::string appName;
    std::string splashFileName;
    std::vector<std::string> modules;

    bool present() const { return word != kNoExeWord; }
    // The module entries joined with ';'.
    std::string moduleText() const;
};

// Whether word carries the revision this library writes.
inline bool IsCurrentExeRevision(uint32_t word) { return (word & kExeRevisionMask) == (kExeRevision << 24); }

// The bytes the section needs for these texts (modulePath a ';' list);
// WriteExeData refuses more than the section holds.
size_t ExeDataSize(const std::string& appName, const std::string& splashFileName, const std::string& modulePath);

// Fills the zero-filled section of `size` bytes; StoreException "Module list
// is too large for data section." when the texts do not fit.
void WriteExeData(uint8_t* section, size_t size, uint32_t word, const std::string& appName,
                  const std::string& splashFileName, const std::string& modulePath);

// Reads a section of `size` bytes; where names the file in messages.
// StoreException "Incorrect EXE revision." for a word of another revision,
// and a StoreException naming the file for texts that run off the end.
ExeData ReadExeData(const uint8_t* section, size_t size, const std::string& where);

// The entries of a NUL-separated list ending in an empty entry (SetInfo's
// module list); null is the empty list.
std::vector<std::string> SplitNulList(const char* list);

}  // namespace tq
