#include "platform/com/guid.h"

#include <cstdio>
#include <cstring>

namespace tq {

std::array<uint8_t, 16> GUID::toBytes() const {
    std::array<uint8_t, 16> b{};
    for (int i = 0; i < 4; ++i) b[i] = static_cast<uint8_t>(Data1 >> (8 * i));
    for (int i = 0; i < 2; ++i) b[4 + i] = static_cast<uint8_t>(Data2 >> (8 * i));
    for (int i = 0; i < 2; ++i) b[6 + i] = static_cast<uint8_t>(Data3 >> (8 * i));
    std::memcpy(b.data() + 8, Data4.data(), 8);
    return b;
}

GUID GUID::FromBytes(const uint8_t* b) {
    GUID g;
    for (int i = 0; i < 4; ++i) g.Data1 |= static_cast<uint32_t>(b[i]) << (8 * i);
    for (int i = 0; i < 2; ++i) g.Data2 |= static_cast<uint16_t>(b[4 + i] << (8 * i));
    for (int i = 0; i < 2; ++i) g.Data3 |= static_cast<uint16_t>(b[6 + i] << (8 * i));
    std::memcpy(g.Data4.data(), b + 8, 8);
    return g;
}

std::string GUID::toString() const {
    char buf[39];
    std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(Data1), static_cast<unsigned>(Data2),
                  static_cast<unsigned>(Data3), Data4[0], Data4[1], Data4[2], Data4[3],
                  Data4[4], Data4[5], Data4[6], Data4[7]);
    return buf;
}

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads `digits` hex digits from text at pos into value.
bool ReadHex(std::string_view text, size_t& pos, int digits, uint64_t& value) {
    value = 0;
    for (int i = 0; i < digits; ++i, ++pos) {
        if (pos >= text.size()) return false;
        const int d = HexDigit(text[pos]);
        if (d < 0) return false;
        value = (value << 4) | static_cast<uint64_t>(d);
    }
    return true;
}

bool Expect(std::string_view text, size_t& pos, char c) {
    if (pos >= text.size() || text[pos] != c) return false;
    ++pos;
    return true;
}

}  // namespace

std::optional<GUID> GUID::Parse(std::string_view text) {
    const bool braced = !text.empty() && text.front() == '{';
    if (braced) {
        if (text.back() != '}') return std::nullopt;
        text = text.substr(1, text.size() - 2);
    }
    if (text.size() != 36) return std::nullopt;
    GUID g;
    size_t pos = 0;
    uint64_t v = 0;
    if (!ReadHex(text, pos, 8, v)) return std::nullopt;
    g.Data1 = static_cast<uint32_t>(v);
    if (!Expect(text, pos, '-') || !ReadHex(text, pos, 4, v)) return std::nullopt;
    g.Data2 = static_cast<uint16_t>(v);
    if (!Expect(text, pos, '-') || !ReadHex(text, pos, 4, v)) return std::nullopt;
    g.Data3 = static_cast<uint16_t>(v);
    if (!Expect(text, pos, '-')) return std::nullopt;
    for (int i = 0; i < 8; ++i) {
        if (i == 2 && !Expect(text, pos, '-')) return std::nullopt;
        if (!ReadHex(text, pos, 2, v)) return std::nullopt;
        g.Data4[i] = static_cast<uint8_t>(v);
    }
    return g;
}

size_t GUIDHash::operator()(const GUID& g) const noexcept {
    const auto b = g.toBytes();
    size_t h = 1469598103934665603ull;
    for (uint8_t c : b) h = (h ^ c) * 1099511628211ull;
    return h;
}

}  // namespace tq
