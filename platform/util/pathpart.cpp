#include "platform/util/pathpart.h"

#include "platform/util/pathsrch.h"

namespace tq {

namespace {

// Where the file part's extension starts, or npos (HasExtension's rule).
size_t ExtensionAt(std::string_view file) {
    const size_t dot = file.rfind('.');
    return dot == std::string_view::npos || dot == 0 ? std::string_view::npos : dot;
}

}  // namespace

std::string LimitedFullPath(std::string_view name) {
    if (name.empty()) return {};
    std::string full = FullPathName(name);
    if (!full.empty() && name.back() == '/' && full.back() != '/') full += '/';
    if (full.size() >= kMaxPath) return {};
    return full;
}

std::string PathPart(std::string_view name) {
    const std::string full = LimitedFullPath(name);
    return full.substr(0, full.size() - FilePart(full).size());
}

std::string NamePart(std::string_view name) {
    const std::string full = LimitedFullPath(name);
    const std::string_view file = FilePart(full);
    return std::string(file.substr(0, ExtensionAt(file)));
}

std::string ExtensionPart(std::string_view name) {
    const std::string full = LimitedFullPath(name);
    const std::string_view file = FilePart(full);
    const size_t dot = ExtensionAt(file);
    return dot == std::string_view::npos ? std::string() : std::string(file.substr(dot));
}

bool MakeFilePath(std::string_view folder, std::string_view name, std::string_view extension, std::string& out) {
    if (name.empty()) return false;
    std::string path(folder);
    if (!path.empty() && path.back() != '/') path += '/';
    path += name;
    if (!extension.empty() && extension.front() != '.') path += '.';
    path += extension;
    if (path.size() >= kMaxPath) return false;
    out = std::move(path);
    return true;
}

}  // namespace tq
