#include "platform/util/pathstr.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/util/pathsrch.h"
#include "platform/util/syserror.h"
#include "platform/util/uassert.h"
#include "platform/util/username.h"
#include "platform/util/xexcept.h"

namespace tq {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

// Calls visit(entry) for each entry of a normal list text, stopping when it
// returns false.
template <class Visit>
void ForEachEntry(std::string_view text, char separator, Visit visit) {
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(separator, start);
        if (end == std::string_view::npos) end = text.size();
        if (!visit(text.substr(start, end - start))) return;
        start = end + 1;
    }
}

}  // namespace

// ---- PathString -------------------------------------------------------------

PathString::PathString(const char* text, char separator) : separator_(separator) { set(text); }

std::string PathString::Normalise(std::string_view text, char separator) {
    std::string out;
    out.reserve(text.size());
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(separator, start);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view entry = Trim(text.substr(start, end - start));
        if (!entry.empty()) {
            if (!out.empty()) out += separator;
            out += entry;
        }
        start = end + 1;
    }
    return out;
}

size_t PathString::count() const {
    size_t n = 0;
    ForEachEntry(text_, separator_, [&](std::string_view) {
        ++n;
        return true;
    });
    return n;
}

std::string PathString::entry(size_t i) const {
    std::string found;
    ForEachEntry(text_, separator_, [&](std::string_view e) {
        if (i-- != 0) return true;
        found = e;
        return false;
    });
    return found;
}

void PathString::set(const char* text) { text_ = Normalise(text ? text : "", separator_); }

void PathString::append(std::string_view entries) {
    const std::string added = Normalise(entries, separator_);
    if (added.empty()) return;
    if (!text_.empty()) text_ += separator_;
    text_ += added;
}

void PathString::prepend(std::string_view entries) {
    std::string added = Normalise(entries, separator_);
    if (added.empty()) return;
    if (!text_.empty()) added += separator_;
    text_.insert(0, added);
}

bool PathString::contains(std::string_view path) const {
    const std::string wanted = NormalPath(Trim(path));
    if (wanted.empty()) return false;
    bool found = false;
    ForEachEntry(text_, separator_, [&](std::string_view e) {
        found = NormalPath(e) == wanted;
        return !found;
    });
    return found;
}

void PathString::PurgeExplicitPaths() {
    std::string kept;
    ForEachEntry(text_, separator_, [&](std::string_view e) {
        if (!HasFolderPart(e)) {
            if (!kept.empty()) kept += separator_;
            kept += e;
        }
        return true;
    });
    text_ = std::move(kept);
}

// ---- EnvironmentPathString ------------------------------------------------------

namespace {

const char* CheckedVariableName(const char* name) {
    TQ_ASSERT(name && *name && !std::strchr(name, '='), "valid environment variable name");
    return name;
}

}  // namespace

EnvironmentPathString::EnvironmentPathString(const char* name)
    : EnvironmentPathString(name, std::getenv(CheckedVariableName(name))) {}

EnvironmentPathString::EnvironmentPathString(const char* name, const char* value)
    : PathString(value, kEnvSeparator), name_(CheckedVariableName(name)) {}

void EnvironmentPathString::SetVariable() {
    if (::setenv(name_.c_str(), text().c_str(), 1) != 0) {
        throw XException("Cannot set the environment variable " + name_ + ": " +
                         SystemErrorText(errno));
    }
}

// ---- RegistryEnvPathString: the environment file --------------------------------

namespace {

// The name a line sets, or empty for a comment, a blank line or a line
// without '='.
std::string_view LineName(std::string_view line) {
    const std::string_view trimmed = Trim(line);
    if (trimmed.empty() || trimmed.front() == '#') return {};
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) return {};
    return Trim(line.substr(0, eq));
}

std::string_view LineValue(std::string_view line) { return line.substr(line.find('=') + 1); }

// Reads the lines of the environment file. A missing file has no lines; any
// other failure to read is reported, so that a file we could not read is never
// replaced by one that lacks its lines.
bool ReadEnvFile(const std::string& path, std::vector<std::string>& lines, int& error) {
    lines.clear();
    FILE* f = std::fopen(path.c_str(), "r");
    if (!f) {
        error = errno;
        return error == ENOENT;
    }
    std::string line;
    int c;
    while ((c = std::fgetc(f)) != EOF) {
        if (c == '\n') {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            lines.push_back(std::move(line));
            line.clear();
        } else {
            line += static_cast<char>(c);
        }
    }
    const bool failed = std::ferror(f) != 0;
    error = failed ? errno : 0;
    std::fclose(f);
    if (!line.empty()) lines.push_back(std::move(line));
    return !failed;
}

// Creates folder and its missing parents, private to the user as the XDG
// layout asks for new configuration folders.
bool MakeFolders(const std::string& folder) {
    struct stat st;
    if (::stat(folder.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return true;
        errno = ENOTDIR;
        return false;
    }
    const size_t slash = folder.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !MakeFolders(folder.substr(0, slash))) {
        return false;
    }
    return ::mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST;
}

bool WriteAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// The file that a rename must replace: the target of a symbolic link (a
// managed dotfile stays a link), else path itself.
std::string ReplaceTarget(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* real = ::realpath(path.c_str(), nullptr)) {
            std::string target = real;
            std::free(real);
            return target;
        }
    }
    return path;
}

// Writes content to path through a temporary file in the same folder, flushed
// before it is renamed over path. Returns 0 or the errno of the failure.
int ReplaceFile(const std::string& path, const std::string& content) {
    const std::string target = ReplaceTarget(path);
    const size_t slash = target.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : target.substr(0, slash + 1);
    std::string temp = folder + ".environment.XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) return errno;

    struct stat st;
    const mode_t mode = ::stat(target.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0600;
    int error = 0;
    if (!WriteAll(fd, content) || ::fchmod(fd, mode) != 0 || ::fsync(fd) != 0) error = errno;
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error == 0 && ::rename(temp.c_str(), target.c_str()) != 0) error = errno;
    if (error != 0) {
        ::unlink(temp.c_str());
        return error;
    }
    // Make the rename itself durable; the file is complete either way.
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return 0;
}

[[noreturn]] void RaiseSaveFailed(const std::string& name, const std::string& path,
                                  const std::string& reason) {
    throw XException("Cannot save the environment variable " + name + " in '" + path +
                     "': " + reason);
}

// The process's variable when it is set, even to the empty text (that is how
// a user turns the saved list off for one run), else the saved value.
std::string ProcessOrSavedValue(const char* name) {
    if (const char* value = std::getenv(CheckedVariableName(name))) return value;
    std::string saved;
    RegistryEnvPathString::SavedValue(name, saved);
    return saved;
}

}  // namespace

std::string RegistryEnvPathString::EnvironmentFilePath() {
    // XDG: a relative or empty XDG_CONFIG_HOME is to be ignored.
    std::string config;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/') {
        config = xdg;
    } else {
        const std::string home = UserHomeFolder();
        if (home.empty()) return {};
        config = home + "/.config";
    }
    return config + "/tessaro/environment";
}

bool RegistryEnvPathString::SavedValue(const char* name, std::string& value) {
    const std::string path = EnvironmentFilePath();
    if (path.empty()) return false;
    std::vector<std::string> lines;
    int error = 0;
    // An unreadable file reads as one without the variable: the search path
    // it would add is lost for this process, but loading must go on.
    if (!ReadEnvFile(path, lines, error)) return false;
    bool found = false;
    for (const std::string& line : lines) {
        if (LineName(line) == name) {
            value = LineValue(line);
            found = true;
        }
    }
    return found;
}

RegistryEnvPathString::RegistryEnvPathString(const char* name)
    : EnvironmentPathString(name, ProcessOrSavedValue(name).c_str()) {}

void RegistryEnvPathString::SetVariable() {
    EnvironmentPathString::SetVariable();

    const std::string path = EnvironmentFilePath();
    if (text().find_first_of("\r\n") != std::string::npos) {
        RaiseSaveFailed(name(), path, "the value contains a line break");
    }
    if (path.empty()) RaiseSaveFailed(name(), "~/.config/tessaro/environment", "the user has no home folder");

    std::vector<std::string> lines;
    int error = 0;
    if (!ReadEnvFile(path, lines, error)) RaiseSaveFailed(name(), path, SystemErrorText(error));

    // The new line takes the place of the first one of the name; later ones
    // would override it when read, so they go.
    const std::string assignment = name() + "=" + text();
    std::string content;
    bool placed = false;
    for (const std::string& line : lines) {
        if (LineName(line) == name()) {
            if (placed) continue;
            content += assignment;
            placed = true;
        } else {
            content += line;
        }
        content += '\n';
    }
    if (!placed) content += assignment + '\n';

    if (!MakeFolders(path.substr(0, path.find_last_of('/')))) {
        RaiseSaveFailed(name(), path, SystemErrorText(errno));
    }
    if (const int failed = ReplaceFile(path, content)) RaiseSaveFailed(name(), path, SystemErrorText(failed));
}

}  // namespace tq
