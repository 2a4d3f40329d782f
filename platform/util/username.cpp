#include "platform/util/username.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace tq {
namespace {

// Largest buffer a password lookup may ask for; a database that needs more is
// treated as having no entry rather than letting the buffer grow unbounded.
constexpr size_t kMaxPasswdBuffer = 1 << 20;

// Calls use(entry) with the password entry of the effective user, when there
// is one; getpwuid_r rather than getpwuid, so no static buffer is shared.
template <class Use>
void WithOwnPasswdEntry(Use use) {
    const long hint = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(hint > 0 ? static_cast<size_t>(hint) : 1024);
    for (;;) {
        passwd entry{};
        passwd* found = nullptr;
        const int rc = getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found);
        if (rc == ERANGE && buffer.size() < kMaxPasswdBuffer) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (rc == 0 && found) use(*found);
        return;
    }
}

std::string EnvText(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

}  // namespace

std::string UserName() {
    std::string name;
    WithOwnPasswdEntry([&](const passwd& entry) {
        if (entry.pw_name) name = entry.pw_name;
    });
    if (name.empty()) name = EnvText("USER");
    if (name.empty()) name = EnvText("LOGNAME");
    return name;
}

std::string UserHomeFolder() {
    std::string home = EnvText("HOME");
    if (!home.empty() && home[0] == '/') return home;
    home.clear();
    WithOwnPasswdEntry([&](const passwd& entry) {
        if (entry.pw_dir && entry.pw_dir[0] == '/') home = entry.pw_dir;
    });
    return home;
}

}  // namespace tq
