// DLLUtils: the libraries attached to the process and their versions.
//
// A module file records the version of the store that wrote it and the list
// of libraries that were attached at the time, so that a later reader can
// tell what the module was made with. Here a library states its own version
// when it attaches (there is no version resource in an ELF file): the store
// passes the major, minor, patch and build numbers of its build.
//
// A version travels as two 32-bit pairs:
//
//   | pair | bits 31..16 | bits 15..0 |
//   |------|-------------|------------|
//   | high | major       | minor      |
//   | low  | patch       | build      |
//
// and is written "major.minor.patch.build" in decimal.
//
// Invariants:
//  1. A library is recorded once, in the order of first attachment; a path is
//     compared as a path (SamePath). Attaching again updates its version.
//  2. The record is process-wide and guarded by a lock, because libraries
//     attach from whichever thread loads them.
#pragma once

#include <cstdint>
#include <string>

namespace tq {

struct VersionData {
    uint16_t major = 0;
    uint16_t minor = 0;
    uint16_t patch = 0;
    uint16_t build = 0;

    friend bool operator==(const VersionData&, const VersionData&) = default;
};

class DLLUtils {
public:
    // Records that the library at path has attached, stating its version.
    // An empty or null path records nothing.
    static void DLLAttached(const char* path, const VersionData& version = {});

    // The recorded libraries as the text of a ';' PathString, in attachment
    // order.
    static std::string AttachedDLLs();

    // The version that the library at path stated when it attached; false
    // when no library of that path has attached.
    static bool GetVersionData(const char* path, VersionData& version);

    static void GetProductVersion(const VersionData& version, uint32_t& high, uint32_t& low);

    // "major.minor.patch.build" of the two pairs.
    static std::string FormatVersion(uint32_t high, uint32_t low);

    DLLUtils() = delete;
};

}  // namespace tq
