// The path functions: new string values derived from a file name, for the
// host and for Application's running-executable properties. Each gives a
// new ValStringRep of capacity 260 that the caller owns (a ValString takes
// it). The path logic is the platform's (platform/util/pathpart.h, where its
// table of examples is); these give it the system's string form.
//
// On this platform the short form of a path is the path itself:
// VSRShortPathName is VSRFullPathName.
#pragma once

namespace tq {

class ValStringRep;

// The full path of name; empty for a null or empty name or a path of 260
// characters or more.
ValStringRep* VSRFullPathName(const char* name);
ValStringRep* VSRShortPathName(const char* name);
// The full path without its file part, ending in '/'.
ValStringRep* VSRPath(const char* name);
// The file part cut at its extension's '.'.
ValStringRep* VSRName(const char* name);
// The file part's extension with its '.'; empty when there is none.
ValStringRep* VSRExtension(const char* name);

}  // namespace tq
