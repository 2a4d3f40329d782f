// The parts of a file's full path, as the system's path functions give them
// to programs, and the path of a file made from a folder, a name and an
// extension.
//
// The system answers in buffers of kMaxPath (260) characters, terminator
// included, so a full path of 259 characters is the longest it gives; any
// longer path is "no path" (the empty text), never a cut one.
//
// A full path keeps the separator a name ends in: "out/" names the folder
// itself, whose file part is empty. On this platform a name whose only '.'
// is its first character (".profile") has no extension, as everywhere else
// in the system's path handling (HasExtension).
//
//   name                  full path      PathPart   NamePart   ExtensionPart
//   /a/b.c.txt            /a/b.c.txt     /a/        b.c        .txt
//   /a/readme             /a/readme      /a/        readme     (empty)
//   /a/.profile           /a/.profile    /a/        .profile   (empty)
//   /a/out/               /a/out/        /a/out/    (empty)    (empty)
#pragma once

#include <string>
#include <string_view>

namespace tq {

// The full path of name (FullPathName, with a final '/' kept); empty when
// name is empty or the path needs kMaxPath characters or more.
std::string LimitedFullPath(std::string_view name);
// The full path without its file part, ending in '/'.
std::string PathPart(std::string_view name);
// The file part of the full path, cut at its extension's '.'.
std::string NamePart(std::string_view name);
// The file part's extension with its '.'; empty when there is none.
std::string ExtensionPart(std::string_view name);

// The path folder + '/' + name + extension in out, with a '/' only when
// folder is not empty and does not end in one and a '.' only before an
// extension that does not begin with one (an empty extension adds
// nothing). False when name is empty or the path needs kMaxPath characters
// or more; otherwise true, whether or not a file is there.
bool MakeFilePath(std::string_view folder, std::string_view name, std::string_view extension, std::string& out);

}  // namespace tq
