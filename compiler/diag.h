// Positions in source text and the errors the compiler reports against them.
//
// Errors are collected, not thrown one by one: a file with several mistakes
// reports all of them (up to kMaxDiagnostics) in the order of their
// positions, each as a C compiler would print it:
//
//   shapes.tqs:12:9: expected 'Then' after the condition of 'If'
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tq::compiler {

// A place in a source text. Lines and columns count from 1; a column counts
// bytes from the start of its line (a tab is one column). Line ends are LF
// or CRLF alike.
struct SourcePos {
    uint32_t line = 0;
    uint32_t column = 0;

    friend bool operator==(const SourcePos&, const SourcePos&) = default;
    friend auto operator<=>(const SourcePos&, const SourcePos&) = default;
};

struct Diagnostic {
    std::string file;
    SourcePos pos;
    std::string message;

    // "file:line:column: message"
    std::string text() const;
};

inline constexpr size_t kMaxDiagnostics = 50;

// The errors of one compilation, in the order they were found until take()
// sorts them by position.
class Diagnostics {
public:
    explicit Diagnostics(std::string file) : file_(std::move(file)) {}

    // Records an error unless the limit is already reached.
    void add(SourcePos pos, std::string message);
    bool full() const { return list_.size() >= kMaxDiagnostics; }
    bool empty() const { return list_.empty(); }
    size_t size() const { return list_.size(); }
    const std::string& file() const { return file_; }

    // The errors sorted by position; errors at one position keep the order
    // in which they were found.
    std::vector<Diagnostic> take();

private:
    std::string file_;
    std::vector<Diagnostic> list_;
};

// Every error of a list, one "file:line:column: message" per line.
std::string FormatDiagnostics(const std::vector<Diagnostic>& list);

}  // namespace tq::compiler
