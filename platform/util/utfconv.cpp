#include "platform/util/utfconv.h"

#include <cstdint>

namespace tq {
namespace {

constexpr char32_t kMaxCodePoint = 0x10FFFF;

bool IsSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

// The code point that starts at utf8[*at], advancing *at past it; nullopt
// when the bytes there are not one well-formed UTF-8 sequence.
std::optional<char32_t> DecodeUtf8(std::string_view utf8, size_t* at) {
    const auto lead = static_cast<uint8_t>(utf8[*at]);
    size_t length;
    char32_t c;
    char32_t least;  // the smallest code point this length may encode
    if (lead < 0x80) {
        ++*at;
        return lead;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, c = lead & 0x1F, least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, c = lead & 0x0F, least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, c = lead & 0x07, least = 0x10000;
    } else {
        return std::nullopt;  // a continuation byte, or 0xF8..0xFF
    }
    if (utf8.size() - *at < length) return std::nullopt;
    for (size_t i = 1; i < length; ++i) {
        const auto next = static_cast<uint8_t>(utf8[*at + i]);
        if ((next & 0xC0) != 0x80) return std::nullopt;
        c = (c << 6) | (next & 0x3F);
    }
    if (c < least || c > kMaxCodePoint || IsSurrogate(c)) return std::nullopt;
    *at += length;
    return c;
}

void AppendUtf8(char32_t c, std::string& out) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

}  // namespace

std::optional<std::u16string> Utf8ToUtf16(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    for (size_t at = 0; at < utf8.size();) {
        const std::optional<char32_t> c = DecodeUtf8(utf8, &at);
        if (!c) return std::nullopt;
        if (*c < 0x10000) {
            out += static_cast<char16_t>(*c);
        } else {
            const char32_t v = *c - 0x10000;
            out += static_cast<char16_t>(0xD800 | (v >> 10));
            out += static_cast<char16_t>(0xDC00 | (v & 0x3FF));
        }
    }
    return out;
}

std::optional<std::string> Utf16ToUtf8(std::u16string_view utf16) {
    std::string out;
    out.reserve(utf16.size());
    for (size_t i = 0; i < utf16.size(); ++i) {
        const char32_t unit = utf16[i];
        if (unit >= 0xDC00 && unit <= 0xDFFF) return std::nullopt;  // low without high
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (i + 1 == utf16.size()) return std::nullopt;
            const char32_t low = utf16[i + 1];
            if (low < 0xDC00 || low > 0xDFFF) return std::nullopt;
            AppendUtf8(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00), out);
            ++i;
        } else {
            AppendUtf8(unit, out);
        }
    }
    return out;
}

}  // namespace tq
