// GUID: the 128-bit class and interface identifiers of the COM-style layer.
//
// In memory and in streams a GUID has its standard little-endian layout:
// Data1 (4 bytes LE), Data2 (2 bytes LE), Data3 (2 bytes LE), Data4 (8 bytes).
// Its text form is "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper case.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tq {

struct GUID {
    uint32_t Data1 = 0;
    uint16_t Data2 = 0;
    uint16_t Data3 = 0;
    std::array<uint8_t, 8> Data4{};

    friend bool operator==(const GUID&, const GUID&) = default;

    bool isNull() const { return *this == GUID{}; }

    // The 16 bytes of the standard layout, and back.
    std::array<uint8_t, 16> toBytes() const;
    static GUID FromBytes(const uint8_t* bytes);

    // "{...}" form; Parse accepts it with or without braces, any case.
    std::string toString() const;
    static std::optional<GUID> Parse(std::string_view text);
};

using CLSID = GUID;
using IID = GUID;
using REFCLSID = const GUID&;
using REFIID = const GUID&;

struct GUIDHash {
    size_t operator()(const GUID& g) const noexcept;
};

}  // namespace tq
