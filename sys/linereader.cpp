#include "sys/linereader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <tqstore/tqstore.h>

#include "platform/util/inputwait.h"
#include "sys/sysexcep.h"

namespace tq::sys {

namespace {
constexpr size_t kChunk = 64 * 1024;
}

LineReader::LineReader(std::FILE* file, std::string name, bool interruptible)
    : file_(file), name_(std::move(name)), interruptible_(interruptible) {}

// fgets, not fread: at a terminal or a pipe it returns with what one line
// brought instead of waiting for a whole buffer. It does not say how much
// it read, and a NUL byte in the text would hide the rest from strlen, so
// the chunk is kept full of line ends before each call: the first line
// end with a NUL after it is the text's own, and otherwise the text ends
// at the NUL just before the first line end left over.
bool LineReader::fill() {
    if (at_ < buffer_.size()) return true;
    if (ended_) return false;
    chunk_.resize(kChunk, '\n');
    // A Ctrl-C while the program waits for the keyboard ends the run as it
    // ends a loop (TerminateExecution), instead of waiting for a line.
    if (interruptible_)
        while (!InputReady(file_, 100)) StoreApplication::CheckForBreak();
    errno = 0;
    if (!std::fgets(chunk_.data(), static_cast<int>(kChunk), file_)) {
        buffer_.clear();
        at_ = 0;
        if (std::ferror(file_)) {
            const int code = errno ? errno : EIO;
            std::clearerr(file_);
            ThrowFileError("Cannot read", name_, code);
        }
        ended_ = true;
        return false;
    }
    const char* start = chunk_.data();
    const auto* nl = static_cast<const char*>(std::memchr(start, '\n', kChunk));
    size_t length;
    if (!nl)
        length = kChunk - 1;  // a full chunk: its last byte is the NUL
    else if (static_cast<size_t>(nl - start) + 1 < kChunk && nl[1] == '\0')
        length = static_cast<size_t>(nl - start) + 1;
    else
        length = static_cast<size_t>(nl - start) - 1;
    buffer_.assign(start, length);
    std::memset(chunk_.data(), '\n', std::min(length + 2, kChunk));
    at_ = 0;
    return !buffer_.empty() || fill();
}

bool LineReader::next(std::string& line) {
    line.clear();
    if (!fill()) return false;
    for (;;) {
        const char* start = buffer_.data() + at_;
        const void* nl = std::memchr(start, '\n', buffer_.size() - at_);
        if (nl) {
            const size_t n = static_cast<const char*>(nl) - start;
            line.append(start, n);
            at_ += n + 1;
            break;
        }
        line.append(start, buffer_.size() - at_);
        at_ = buffer_.size();
        if (!fill()) break;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

bool LineReader::atEnd() { return !fill(); }

// The rest waits for the end anyway, so it is read in whole chunks, NUL
// bytes and all.
std::string LineReader::rest() {
    std::string all = buffer_.substr(at_);
    at_ = buffer_.size();
    if (ended_) return all;
    char chunk[kChunk];
    errno = 0;
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, file_)) > 0;) all.append(chunk, n);
    if (std::ferror(file_)) {
        const int code = errno ? errno : EIO;
        std::clearerr(file_);
        ThrowFileError("Cannot read", name_, code);
    }
    ended_ = true;
    return all;
}

}  // namespace tq::sys
