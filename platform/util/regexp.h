// RWCRegexp: a compiled regular expression over byte strings.
//
// String values of the language search text for patterns and count the
// matches. Patterns are POSIX extended regular expressions (regcomp with
// REG_EXTENDED), interpreted in the process's LC_CTYPE locale.
//
// A search starting at position p sees the text before p as context: '^'
// matches only at the start of the text, never merely at p. Text may hold NUL
// bytes: the search goes on past them (POSIX '.' does not match one).
//
// Invariants:
//  1. An RWCRegexp always holds a compiled pattern: a pattern that does not
//     compile raises XException in the constructor, with the pattern and the
//     system's reason.
//  2. Copies compile the pattern again, so no two objects share the compiled
//     form and each can be destroyed on its own.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace tq {

class RWCRegexp {
public:
    static constexpr size_t npos = static_cast<size_t>(-1);

    // A null pattern is the empty pattern, which matches the empty text.
    explicit RWCRegexp(const char* pattern);
    ~RWCRegexp();
    RWCRegexp(const RWCRegexp& other);
    RWCRegexp& operator=(const RWCRegexp& other);
    RWCRegexp(RWCRegexp&&) noexcept;
    RWCRegexp& operator=(RWCRegexp&&) noexcept;

    const std::string& pattern() const { return pattern_; }

    // The first match that starts at or after `start`: its start, with its
    // length in *length, or npos when there is none (or start is past the
    // end). Raises XException for a text longer than the matcher can address
    // (2 GiB), rather than searching part of it.
    size_t index(std::string_view text, size_t* length, size_t start = 0) const;

    // The number of non-overlapping matches, searching on after the end of
    // each; after an empty match the search moves on by one character, and it
    // ends when the position reaches the end of the text.
    size_t countMatches(std::string_view text) const;

private:
    struct Compiled;
    std::string pattern_;
    std::unique_ptr<Compiled> compiled_;
};

}  // namespace tq
