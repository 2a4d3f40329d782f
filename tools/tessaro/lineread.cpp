#include "tools/tessaro/lineread.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>

#include <editline/readline.h>

#ifndef TQ_EDIT_SONAME
#error "the build names libedit's soname in TQ_EDIT_SONAME"
#endif

namespace tessaro {

namespace {

// libedit is opened when a prompt on a terminal first needs it, not linked:
// `tessaro run` and the other commands never edit a line, and loading the
// editor with what it needs (terminfo and more) was a share of every start.
struct Editor {
    decltype(&::readline) readline = nullptr;
    decltype(&::add_history) add_history = nullptr;
    decltype(&::using_history) using_history = nullptr;
    decltype(&::stifle_history) stifle_history = nullptr;
    decltype(&::read_history) read_history = nullptr;
    decltype(&::write_history) write_history = nullptr;
};

// The editor, or null when the library cannot be loaded (the prompt then
// reads plain lines); a failure is said once.
const Editor* LoadEditor() {
    static const Editor* const editor = []() -> const Editor* {
        void* library = ::dlopen(TQ_EDIT_SONAME, RTLD_NOW | RTLD_LOCAL);
        static Editor e;
        bool whole = library != nullptr;
        if (whole) {
#define TQ_EDIT_RESOLVE(fn) \
    whole = whole && (e.fn = reinterpret_cast<decltype(e.fn)>(::dlsym(library, #fn))) != nullptr;
            TQ_EDIT_RESOLVE(readline)
            TQ_EDIT_RESOLVE(add_history)
            TQ_EDIT_RESOLVE(using_history)
            TQ_EDIT_RESOLVE(stifle_history)
            TQ_EDIT_RESOLVE(read_history)
            TQ_EDIT_RESOLVE(write_history)
#undef TQ_EDIT_RESOLVE
        }
        if (whole) return &e;
        const char* reason = library ? "a function is missing" : ::dlerror();
        std::fprintf(stderr, "tessaro: no line editing: %s could not be loaded: %s\n",
                     TQ_EDIT_SONAME, reason ? reason : "unknown error");
        return nullptr;
    }();
    return editor;
}

}  // namespace

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
    const Editor* editor = LoadEditor();
    if (!editor) return;
    editor->using_history();
    editor->stifle_history(kHistoryLimit);
    historyPath_ = HistoryPath();
    if (!historyPath_.empty()) editor->read_history(historyPath_.c_str());
}

LineReader::~LineReader() {
    if (!interactive_ || historyPath_.empty()) return;
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(historyPath_).parent_path(), ec);
    // A history that cannot be written is no reason to fail the session.
    LoadEditor()->write_history(historyPath_.c_str());
}

LineReader::Got LineReader::read(const char* prompt, std::string& line, const std::function<bool()>& interrupted) {
    if (!interactive_) {
        if (!std::getline(std::cin, line)) return Got::End;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return Got::Line;
    }
    const Editor* editor = LoadEditor();
    if (!editor) {
        std::fputs(prompt, stdout);
        std::fflush(stdout);
        interrupted();
        const bool got = static_cast<bool>(std::getline(std::cin, line));
        if (interrupted()) {
            std::cin.clear();
            std::fputs("\n", stdout);
            return Got::Interrupted;
        }
        return got ? Got::Line : Got::End;
    }
    std::fflush(stdout);
    // Only a Ctrl-C typed at this prompt gives its line up; one that came
    // while the last entry ended was meant for that entry.
    interrupted();
    char* text = editor->readline(prompt);
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
    if (const Editor* editor = LoadEditor()) editor->add_history(entry.c_str());
}

}  // namespace tessaro
