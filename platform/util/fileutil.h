// File attributes, exclusive creation and temporary names, as the module
// store needs them.
//
// The store asks three things of a file outside its storages: whether it is
// marked read-only (a module file the user protected opens read-only), whether
// a file can be made at a path that nobody else is making it at (the test of a
// save-as target), and a fresh temporary name for an untitled module's file.
//
// Read-only is the permission bits, not access(): a process running as root
// may write anything, but a module the user marked read-only stays so. This is
// the storage layer's rule too, so both agree on which files open read-only.
#pragma once

#include <string>

namespace tq {

// True when path names an existing entry without any write permission bit.
bool FileHasReadOnlyAttribute(const std::string& path);

// Creates an empty file at path, failing when anything is there already.
// The file is closed at once. False (errno says why) on failure.
bool CreateNewFile(const std::string& path);

// Removes the file at path; false (errno says why) when it could not.
bool RemoveFile(const std::string& path);
// Reads the whole regular file at path into out when it holds at most limit
// bytes; false (errno says why: EISDIR for a folder or any other file that
// is not regular, EFBIG for a longer file) otherwise.
bool ReadSmallFile(const std::string& path, size_t limit, std::string& out);
// Whether path names an existing folder.
bool IsFolder(const std::string& path);

// The folder for temporary files: $TMPDIR when it names a folder, else /tmp;
// "." when neither is usable or the name is 260 characters or longer.
std::string TempFolder();

// A new name "<folder>/<prefix>XXXXXX" that no file had a moment ago: the
// file is created to claim the name and removed again, so that a storage can
// create it. Empty (errno says why) when no name could be had.
std::string NewTempFileName(const std::string& folder, const char* prefix);

}  // namespace tq
