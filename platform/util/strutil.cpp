#include "platform/util/strutil.h"

#include <algorithm>
#include <cstring>

namespace tq {
namespace {

unsigned char FoldAscii(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

int Sign(int v) { return (v > 0) - (v < 0); }

}  // namespace

int smart_strcmp(const char* a, const char* b) {
    // strcmp already compares as unsigned char; only null needs care.
    return Sign(std::strcmp(a ? a : "", b ? b : ""));
}

int smart_strcmp(std::string_view a, std::string_view b) { return Sign(a.compare(b)); }

int CompareIgnoringCase(std::string_view a, std::string_view b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const unsigned char ca = FoldAscii(static_cast<unsigned char>(a[i]));
        const unsigned char cb = FoldAscii(static_cast<unsigned char>(b[i]));
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

}  // namespace tq
