// Path names and the search for a file along a list of folders.
//
// The store finds modules by name: a bare name ("forms", "forms.qbo") is
// searched for in the system's default order, then along TESSARO_PATH; a name
// with a folder part is made absolute and must exist. These helpers are the
// platform's side of that search; what to search for, and when, is the
// store's.
//
// The system's default order on this platform is
//   1. the current folder,
//   2. the folder of the running program (modules shipped beside it),
//   3. the folders of the process's PATH, in order.
// PATH belongs to it because the store treats a module folder that PATH
// already lists as one the search finds, and registers only other folders on
// TESSARO_PATH.
//
// Paths are POSIX paths: '/' separates folders and names are compared as the
// file system compares them, exactly. Where the system compares names without
// regard to case, SamePathIgnoringCase does so for ASCII letters.
//
// Full paths are normalised lexically, as the system always has: "." and
// empty components go, ".." removes the component before it, and no symbolic
// link is followed. A full path therefore names the folder the user named,
// which is what a module list shows and stores.
//
// The system's result buffers hold kMaxPath (260) characters, terminator
// included: a search succeeds only with a result of 1 to 259 characters, and
// a longer match is passed over as if it did not exist.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/util/pathstr.h"

namespace tq {

inline constexpr size_t kMaxPath = 260;

// What follows the last '/', or the whole name when it has none.
std::string_view FilePart(std::string_view path);

// Whether name names a folder (contains '/'): the explicit paths of a
// PathString and the names the store does not search for.
bool HasFolderPart(std::string_view name);

// Whether the file part has an extension: a '.' after its first character, so
// ".profile" has none and "forms.qbo" and "notes." have one.
bool HasExtension(std::string_view name);

// The lexical normal form of path: absolute stays absolute, relative stays
// relative; "a/./b//c/" -> "a/b/c", "/x/../y" -> "/y", "/.." -> "/",
// "../a" -> "../a", "a/.." -> ".", "" -> "".
std::string NormalPath(std::string_view path);

// The absolute normal form of name, taken relative to the current directory;
// empty when name is empty or the current directory is unknown (errno says
// why).
std::string FullPathName(std::string_view name);

// Whether a and b name the same path once normalised (NormalPath, so a
// relative path never equals an absolute one).
bool SamePath(std::string_view a, std::string_view b);
bool SamePathIgnoringCase(std::string_view a, std::string_view b);

// The running program's file and its folder; empty when the system does not
// say.
std::string ProgramPath();
std::string ProgramFolder();

// The folders of the system's default order (see above), as a ':' list.
PathString DefaultSearchFolders();

// Looks for name, with ext ("qbo" or ".qbo"; null or empty for none) added
// when name has no extension, in each folder of folders in order; relative
// folders are taken from the current directory. An absolute name is looked up
// as it is. The result is the full path of the first existing entry that is
// not a folder and whose full path fits in kMaxPath, or empty.
std::string SearchPath(const PathString& folders, const char* name, const char* ext);

// SearchPath along DefaultSearchFolders().
std::string SearchDefaultPath(const char* name, const char* ext);

// Whether path names an existing entry that is not a folder.
bool FileExists(const std::string& path);

}  // namespace tq
