// What every stop point does unless its class says otherwise, and its
// description in the caller's buffer.
#include "store/debug/stoppoint.h"

#include <algorithm>
#include <cstring>

namespace tq {

bool StopPoint::performActions(Context&) { return true; }

bool StopPoint::eval(Context&) { return isEnabled(); }

std::string StopPoint::description() const { return std::string(); }

char* StopPoint::getDescription(char* text, int size) const {
    const std::string d = description();
    if (!text) {
        text = new char[d.size() + 1];
        std::memcpy(text, d.c_str(), d.size() + 1);
        return text;
    }
    if (size <= 0) return text;
    const size_t n = std::min(d.size(), static_cast<size_t>(size - 1));
    std::memcpy(text, d.data(), n);
    text[n] = '\0';
    return text;
}

}  // namespace tq
