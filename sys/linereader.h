// LineReader: the lines of a stream of text, each without its line end.
//
// A line ends at "\n"; a "\r" just before it goes with it, so files written
// on either family of systems read the same. The last line needs no line
// end: "a\nb" is two lines, "a\n" one. Bytes pass through as they are
// (UTF-8 stays UTF-8, a NUL byte stays in its line).
//
// Memory stays bounded by the longest line: the stream is read through a
// buffer of its own size, whatever the file's length.
#pragma once

#include <cstdio>
#include <string>

namespace tq::sys {

class LineReader {
public:
    // Reads from file, which stays the caller's; name is what errors show.
    // An interruptible reader waits for input in turns, checking for the
    // user's break (Ctrl-C) between them: for the keyboard.
    LineReader(std::FILE* file, std::string name, bool interruptible = false);

    // The next line into line; false at the end of the stream. A read the
    // system refuses raises FileError.
    bool next(std::string& line);
    // True when no line is left (reads ahead when it must; at a terminal
    // that waits for the next line or the end).
    bool atEnd();
    // The whole rest of the stream, line ends as they are.
    std::string rest();
    const std::string& name() const { return name_; }

private:
    // Ensures a byte is waiting in the buffer; false at the end.
    bool fill();

    std::FILE* file_;
    std::string name_;
    std::string buffer_;  // the text of the last chunk read
    std::string chunk_;   // what fgets fills (see fill)
    size_t at_ = 0;  // the next unread byte of buffer_
    bool ended_ = false;
    bool interruptible_ = false;
};

}  // namespace tq::sys
