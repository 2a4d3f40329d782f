// Lines typed at a prompt: with editing and a history kept between
// sessions when standard input is a terminal (libedit), plain reading
// otherwise (a pipe or a file: no prompt is shown and nothing is kept).
//
// The history lives in $XDG_STATE_HOME/tessaro/history, or
// ~/.local/state/tessaro/history when XDG_STATE_HOME is not set; it is read
// at the start and written at the end, its last kHistoryLimit entries.
#pragma once

#include <functional>
#include <string>

namespace tessaro {

class LineReader {
public:
    static constexpr int kHistoryLimit = 1000;

    LineReader();
    ~LineReader();
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    enum class Got { Line, End, Interrupted };
    // The next line without its line end. Interrupted when Ctrl-C was
    // typed at the prompt (interrupted() says so; the line is given up).
    Got read(const char* prompt, std::string& line, const std::function<bool()>& interrupted);
    // Keeps entry in the history (nothing for an empty one or a repeat).
    void remember(const std::string& entry);
    bool interactive() const { return interactive_; }

    // The history file's path, empty when there is no home to keep it in.
    static std::string HistoryPath();

private:
    bool interactive_;
    std::string historyPath_;
    std::string last_;
};

}  // namespace tessaro
