#include "platform/util/pathsrch.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

#include "platform/util/strutil.h"

namespace tq {

std::string_view FilePart(std::string_view path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

bool HasFolderPart(std::string_view name) { return name.find('/') != std::string_view::npos; }

bool HasExtension(std::string_view name) {
    const std::string_view file = FilePart(name);
    const size_t dot = file.find_last_of('.');
    return dot != std::string_view::npos && dot > 0;
}

std::string NormalPath(std::string_view path) {
    if (path.empty()) return {};
    const bool absolute = path.front() == '/';
    std::vector<std::string_view> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string_view::npos) end = path.size();
        const std::string_view part = path.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (!parts.empty() && parts.back() != "..") {
                parts.pop_back();
                continue;
            }
            // Above the root is the root; above a relative start is kept.
            if (absolute) continue;
        }
        parts.push_back(part);
    }
    std::string out = absolute ? "/" : "";
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) out += '/';
        out += parts[i];
    }
    return out.empty() ? "." : out;
}

namespace {

std::string CurrentDirectory() {
    std::vector<char> buffer(PATH_MAX);
    while (!::getcwd(buffer.data(), buffer.size())) {
        if (errno != ERANGE) return {};
        buffer.resize(buffer.size() * 2);
    }
    return buffer.data();
}

}  // namespace

std::string FullPathName(std::string_view name) {
    if (name.empty()) return {};
    if (name.front() == '/') return NormalPath(name);
    const std::string cwd = CurrentDirectory();
    if (cwd.empty()) return {};
    return NormalPath(cwd + "/" + std::string(name));
}

bool SamePath(std::string_view a, std::string_view b) { return NormalPath(a) == NormalPath(b); }

bool SamePathIgnoringCase(std::string_view a, std::string_view b) {
    return CompareIgnoringCase(NormalPath(a), NormalPath(b)) == 0;
}

std::string ProgramPath() {
#ifdef __linux__
    std::vector<char> buffer(PATH_MAX);
    for (;;) {
        const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) return {};
        if (static_cast<size_t>(n) < buffer.size()) return std::string(buffer.data(), static_cast<size_t>(n));
        buffer.resize(buffer.size() * 2);
    }
#else
    return {};
#endif
}

std::string ProgramFolder() {
    const std::string program = ProgramPath();
    const size_t slash = program.find_last_of('/');
    if (slash == std::string::npos) return {};
    return slash == 0 ? "/" : program.substr(0, slash);
}

PathString DefaultSearchFolders() {
    PathString folders(EnvironmentPathString::kEnvSeparator);
    folders.append(".");
    const std::string program = ProgramFolder();
    if (!program.empty()) folders.append(program);
    if (const char* path = std::getenv("PATH")) folders.append(path);
    return folders;
}

bool FileExists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

std::string SearchPath(const PathString& folders, const char* name, const char* ext) {
    if (!name || !*name) return {};
    std::string file = name;
    if (ext && *ext && !HasExtension(file)) {
        if (*ext != '.') file += '.';
        file += ext;
    }
    auto accept = [](std::string full) {
        return (!full.empty() && full.size() < kMaxPath && FileExists(full)) ? full : std::string();
    };
    if (file.front() == '/') return accept(FullPathName(file));
    const size_t n = folders.count();
    for (size_t i = 0; i < n; ++i) {
        std::string found = accept(FullPathName(folders.entry(i) + "/" + file));
        if (!found.empty()) return found;
    }
    return {};
}

std::string SearchDefaultPath(const char* name, const char* ext) {
    return SearchPath(DefaultSearchFolders(), name, ext);
}

}  // namespace tq
