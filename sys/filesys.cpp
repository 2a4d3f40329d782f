#include "sys/filesys.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "sys/linereader.h"
#include "sys/sysexcep.h"
#include "sys/textlist.h"

namespace tq::sys {

namespace fs = std::filesystem;

namespace {

std::string PathText(const char* path) { return path ? path : ""; }

// An empty path is no file: the system would say so only for some calls.
std::string CheckedPath(const char* path, const char* doing) {
    std::string p = PathText(path);
    if (p.empty()) ThrowFileError(doing, "\"\"", ENOENT);
    return p;
}

void Fail(const char* doing, const std::string& path, const std::error_code& ec) {
    if (ec) ThrowFileError(doing, path, ec.value());
}

void WriteWhole(const char* path, const char* text, const char* mode, const char* doing) {
    const std::string p = CheckedPath(path, doing);
    std::error_code ec;
    if (fs::is_directory(p, ec)) ThrowFileError(doing, p, EISDIR);
    errno = 0;
    std::FILE* f = std::fopen(p.c_str(), mode);
    if (!f) ThrowFileError(doing, p, errno);
    const std::string_view t = text ? text : "";
    errno = 0;
    const bool written = std::fwrite(t.data(), 1, t.size(), f) == t.size() && std::fflush(f) == 0;
    const int code = errno ? errno : EIO;
    const bool closed = std::fclose(f) == 0;
    if (!written || !closed) ThrowFileError(doing, p, code);
}

}  // namespace

PublishedClass& FileSystem::Class() {
    static PublishedClass cls("Tessaro.FileSystem", "FileSystem", "{3E1A7C20-5B7D-4C1E-9A64-1D2B3C4E5F05}",
                              [](DllServer* server) -> IInterObj* { return new FileSystem(server); });
    return cls;
}

void FileSystem::PO_DefineFields(SignatureRep& sig) {
    DefineFields(sig, [&] {
        EnsureBooleanEnum();
        ParseCppField("Function Exists(ByVal path As String) As Boolean", sig, &FileSystem::imExists);
        ParseCppField("Function IsFolder(ByVal path As String) As Boolean", sig, &FileSystem::imIsFolder);
        ParseCppField("Function FileSize(ByVal path As String) As Double", sig, &FileSystem::imFileSize);
        ParseCppField("Sub Delete(ByVal path As String)", sig, &FileSystem::imDelete);
        ParseCppField("Sub Rename(ByVal source As String, ByVal target As String)", sig, &FileSystem::imRename);
        ParseCppField("Sub MakeFolder(ByVal path As String)", sig, &FileSystem::imMakeFolder);
        ParseCppField("Function ListFolder(ByVal path As String) As TextList", sig, &FileSystem::imListFolder);
        ParseCppField("Function CurrentFolder() As String", sig, &FileSystem::imCurrentFolder);
        ParseCppField("Function ReadAllText(ByVal path As String) As String", sig, &FileSystem::imReadAllText);
        ParseCppField("Sub WriteAllText(ByVal path As String, ByVal text As String)", sig,
                      &FileSystem::imWriteAllText);
        ParseCppField("Sub AppendAllText(ByVal path As String, ByVal text As String)", sig,
                      &FileSystem::imAppendAllText);
    });
}

int32_t FileSystem::imExists(const char* path) {
    std::error_code ec;
    return !PathText(path).empty() && fs::exists(PathText(path), ec) ? -1 : 0;
}

int32_t FileSystem::imIsFolder(const char* path) {
    std::error_code ec;
    return !PathText(path).empty() && fs::is_directory(PathText(path), ec) ? -1 : 0;
}

double FileSystem::imFileSize(const char* path) {
    const std::string p = CheckedPath(path, "Cannot get the size of");
    std::error_code ec;
    if (fs::is_directory(p, ec)) ThrowFileError("Cannot get the size of", p, EISDIR);
    const uintmax_t size = fs::file_size(p, ec);
    Fail("Cannot get the size of", p, ec);
    return static_cast<double>(size);
}

// A file, or a folder that is empty; a missing path is an error, so a
// misspelt name does not pass unnoticed.
void FileSystem::imDelete(const char* path) {
    const std::string p = CheckedPath(path, "Cannot delete");
    std::error_code ec;
    if (!fs::remove(p, ec) && !ec) ec = std::make_error_code(std::errc::no_such_file_or_directory);
    Fail("Cannot delete", p, ec);
}

void FileSystem::imRename(const char* source, const char* target) {
    const std::string from = CheckedPath(source, "Cannot rename");
    const std::string to = CheckedPath(target, "Cannot rename to");
    std::error_code ec;
    fs::rename(from, to, ec);
    Fail("Cannot rename", from, ec);
}

// With the folders above it; a folder that is there already is no error,
// a file of that name is.
void FileSystem::imMakeFolder(const char* path) {
    const std::string p = CheckedPath(path, "Cannot make the folder");
    std::error_code ec;
    fs::create_directories(p, ec);
    Fail("Cannot make the folder", p, ec);
    if (!fs::is_directory(p, ec)) ThrowFileError("Cannot make the folder", p, EEXIST);
}

// The names in the folder, sorted, without "." and "..".
InterObj FileSystem::imListFolder(const char* path) {
    const std::string p = CheckedPath(path, "Cannot list the folder");
    std::error_code ec;
    if (fs::exists(p, ec) && !fs::is_directory(p, ec)) ThrowFileError("Cannot list the folder", p, ENOTDIR);
    std::vector<std::string> names;
    fs::directory_iterator it(p, ec);
    Fail("Cannot list the folder", p, ec);
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        Fail("Cannot list the folder", p, ec);
        names.push_back(it->path().filename().string());
    }
    Fail("Cannot list the folder", p, ec);
    std::sort(names.begin(), names.end());
    return TextList::Make(std::move(names));
}

ValString FileSystem::imCurrentFolder() {
    std::error_code ec;
    const fs::path here = fs::current_path(ec);
    Fail("Cannot read", "the current folder", ec);
    return ValString(here.string());
}

ValString FileSystem::imReadAllText(const char* path) {
    const std::string p = CheckedPath(path, "Cannot open for reading");
    std::error_code ec;
    if (fs::is_directory(p, ec)) ThrowFileError("Cannot open for reading", p, EISDIR);
    errno = 0;
    std::FILE* f = std::fopen(p.c_str(), "r");
    if (!f) ThrowFileError("Cannot open for reading", p, errno);
    struct Closer {
        std::FILE* f;
        ~Closer() { std::fclose(f); }
    } closer{f};
    LineReader reader(f, p);
    return ValString(reader.rest());
}

void FileSystem::imWriteAllText(const char* path, const char* text) {
    WriteWhole(path, text, "w", "Cannot write to");
}

void FileSystem::imAppendAllText(const char* path, const char* text) {
    WriteWhole(path, text, "a", "Cannot append to");
}

}  // namespace tq::sys
