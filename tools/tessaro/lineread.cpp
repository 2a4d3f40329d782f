#include "tools/tessaro/lineread.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>

#include <editline/readline.h>

namespace tessaro {

std::string LineReader::HistoryPath() {
    const char* state = std::getenv("XDG_STATE_HOME");
    std::filesystem::path folder;
    if (state && *state == '/') {
        folder = state;
    } else {
        const char* home = std::getenv("HOME");
        if (!home || !*home) return {};
        folder = std::filesystem::path(home) / ".local" / "state";
    }
    return (folder / "tessaro" / "history").string();
}

LineReader::LineReader() : interactive_(isatty(STDIN_FILENO) != 0) {
    if (!interactive_) return;
    using_history();
    stifle_history(kHistoryLimit);
    historyPath_ = HistoryPath();
    if (!historyPath_.empty()) read_history(historyPath_.c_str());
}

LineReader::~LineReader() {
    if (!interactive_ || historyPath_.empty()) return;
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(historyPath_).parent_path(), ec);
    // A history that cannot be written is no reason to fail the session.
    write_history(historyPath_.c_str());
}

LineReader::Got LineReader::read(const char* prompt, std::string& line, const std::function<bool()>& interrupted) {
    if (!interactive_) {
        if (!std::getline(std::cin, line)) return Got::End;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return Got::Line;
    }
    std::fflush(stdout);
    // Only a Ctrl-C typed at this prompt gives its line up; one that came
    // while the last entry ended was meant for that entry.
    interrupted();
    char* text = readline(prompt);
    // The editor gives up its line when a signal interrupts its read: a
    // Ctrl-C there cancels the line, it does not end the session.
    if (interrupted()) {
        std::free(text);
        std::fputs("\n", stdout);
        return Got::Interrupted;
    }
    if (!text) return Got::End;
    line = text;
    std::free(text);
    return Got::Line;
}

void LineReader::remember(const std::string& entry) {
    if (!interactive_ || entry.empty() || entry == last_) return;
    last_ = entry;
    add_history(entry.c_str());
}

}  // namespace tessaro
