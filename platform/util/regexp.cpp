#include "platform/util/regexp.h"

#include <regex.h>

#include <limits>

#include "platform/util/xexcept.h"

namespace tq {

// regfree is owed only for a pattern that compiled: a failed regcomp has
// already released what it built.
struct RWCRegexp::Compiled {
    explicit Compiled(const std::string& pattern) {
        const int rc = ::regcomp(&re, pattern.c_str(), REG_EXTENDED);
        if (rc != 0) {
            char reason[256];
            ::regerror(rc, &re, reason, sizeof reason);
            throw XException("Invalid regular expression '" + pattern + "': " + reason);
        }
    }
    ~Compiled() { ::regfree(&re); }
    Compiled(const Compiled&) = delete;
    Compiled& operator=(const Compiled&) = delete;

    regex_t re;
};

RWCRegexp::RWCRegexp(const char* pattern)
    : pattern_(pattern ? pattern : ""), compiled_(std::make_unique<Compiled>(pattern_)) {}

RWCRegexp::~RWCRegexp() = default;
RWCRegexp::RWCRegexp(RWCRegexp&&) noexcept = default;
RWCRegexp& RWCRegexp::operator=(RWCRegexp&&) noexcept = default;

RWCRegexp::RWCRegexp(const RWCRegexp& other)
    : pattern_(other.pattern_), compiled_(std::make_unique<Compiled>(pattern_)) {}

RWCRegexp& RWCRegexp::operator=(const RWCRegexp& other) {
    if (this != &other) {
        auto compiled = std::make_unique<Compiled>(other.pattern_);
        pattern_ = other.pattern_;
        compiled_ = std::move(compiled);
    }
    return *this;
}

size_t RWCRegexp::index(std::string_view text, size_t* length, size_t start) const {
    if (text.size() > static_cast<size_t>(std::numeric_limits<regoff_t>::max())) {
        throw XException("Text of " + std::to_string(text.size()) +
                         " bytes is too long to search for '" + pattern_ + "'");
    }
    if (!compiled_ || start > text.size()) return npos;
    // REG_STARTEND bounds the search by offsets instead of a terminating NUL,
    // keeping the text before `start` as context for '^'.
    regmatch_t match[1];
    match[0].rm_so = static_cast<regoff_t>(start);
    match[0].rm_eo = static_cast<regoff_t>(text.size());
    const char* base = text.data() ? text.data() : "";
    if (::regexec(&compiled_->re, base, 1, match, REG_STARTEND) != 0) return npos;
    if (length) *length = static_cast<size_t>(match[0].rm_eo - match[0].rm_so);
    return static_cast<size_t>(match[0].rm_so);
}

size_t RWCRegexp::countMatches(std::string_view text) const {
    size_t count = 0;
    size_t position = 0;
    while (position < text.size()) {
        size_t length = 0;
        const size_t at = index(text, &length, position);
        if (at == npos) break;
        ++count;
        position = at + (length > 0 ? length : 1);
    }
    return count;
}

}  // namespace tq
