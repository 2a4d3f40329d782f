#include "platform/util/inputwait.h"

#include <poll.h>

#include <cerrno>

namespace tq {

namespace {

// Bytes stdio has read ahead for the stream. glibc keeps its read pointers
// in the FILE itself (gnulib's freadahead reads them the same way).
bool HoldsBufferedInput(std::FILE* stream) {
#ifdef __GLIBC__
    return stream->_IO_read_ptr < stream->_IO_read_end;
#else
    (void)stream;
    return true;
#endif
}

}  // namespace

bool InputReady(std::FILE* stream, int timeoutMs) {
    if (HoldsBufferedInput(stream) || std::feof(stream)) return true;
    const int fd = fileno(stream);
    if (fd < 0) return true;
    pollfd p{fd, POLLIN, 0};
    const int n = poll(&p, 1, timeoutMs);
    if (n < 0) return errno != EINTR;
    return n > 0;
}

}  // namespace tq
