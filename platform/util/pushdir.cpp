#include "platform/util/pushdir.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <vector>

#include "platform/util/syserror.h"
#include "platform/util/xexcept.h"

namespace tq {
namespace {

int OpenCurrentDirectory() {
    int fd = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
#ifdef O_PATH
    // A folder we may enter but not list still has to be returned to.
    if (fd < 0) fd = ::open(".", O_PATH | O_DIRECTORY | O_CLOEXEC);
#endif
    return fd;
}

std::string CurrentDirectoryName() {
    std::vector<char> buffer(PATH_MAX);
    while (!::getcwd(buffer.data(), buffer.size())) {
        if (errno != ERANGE) return {};
        buffer.resize(buffer.size() * 2);
    }
    return buffer.data();
}

[[noreturn]] void RaiseChangeFailed(const char* dir, int error) {
    throw XException("Cannot change the current directory to '" + std::string(dir) +
                     "': " + SystemErrorText(error));
}

}  // namespace

PushDir::PushDir(const char* dir) {
    if (!dir || !*dir) return;
    previous_ = OpenCurrentDirectory();
    if (previous_ < 0) {
        previousPath_ = CurrentDirectoryName();
        if (previousPath_.empty()) {
            throw XException("Cannot change the current directory to '" + std::string(dir) +
                             "': the current directory cannot be found again: " +
                             SystemErrorText(errno));
        }
    }
    if (::chdir(dir) != 0) {
        const int error = errno;
        if (previous_ >= 0) ::close(previous_);
        RaiseChangeFailed(dir, error);
    }
    changed_ = true;
}

PushDir::~PushDir() {
    if (!changed_) return;
    // A destructor cannot report failure; the only way back that can fail is
    // a previous folder removed meanwhile, and then there is nowhere to go.
    [[maybe_unused]] int rc = 0;
    if (previous_ >= 0) {
        rc = ::fchdir(previous_);
        ::close(previous_);
    } else {
        rc = ::chdir(previousPath_.c_str());
    }
}

}  // namespace tq
