#include "platform/util/syserror.h"

#include <cerrno>
#include <cstring>

namespace tq {

int LastSystemError() { return errno; }

void SetLastSystemError(int code) { errno = code; }

std::string SystemErrorText(int code) {
    if (code == 0) return {};
    char buf[256];
    // The GNU strerror_r may return a static text instead of filling buf.
    const char* text = strerror_r(code, buf, sizeof buf);
    return text ? std::string(text) : std::string();
}

}  // namespace tq
