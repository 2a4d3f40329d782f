// The modules a command works on: found, loaded and known by their files.
//
// A module is named by its file: a text module (.tqs, or any file that is
// not a compound file) or a binary module (.qbo). A name without a folder
// that is not in the current folder is searched for along TESSARO_PATH,
// as the store searches for the modules a module needs; binary modules
// bring the modules they need themselves.
//
// Every failure to load is a LoadFailed carrying the text to show: the
// compiler's errors ("file:line:column: message", one a line) for a text
// module that does not compile, else "file: reason".
#pragma once

#include <map>
#include <stdexcept>
#include <string>

#include <tqstore/tqstore.h>

namespace tessaro {

class TessaroApp;

class LoadFailed : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The path of the module named name: as given when it exists, else found
// along TESSARO_PATH; empty when there is none.
std::string FindModuleFile(const std::string& name);

// How a module file is named in messages: relative to the current folder
// when it lies below it, else its full path.
std::string DisplayName(const std::string& path);

// Whether the file at path is a binary module (a compound file).
bool IsBinaryModule(const std::string& path);

// The path of the module file named name, as FindModuleFile finds it;
// LoadFailed when it is missing, cannot be read, or is no regular file.
std::string ReadableModuleFile(const std::string& name);

// Loads the module named name (nothing when it is loaded already) and
// returns its index; "-" reads a text module from standard input (once).
// readOnly opens a binary module without write access; without it, a
// binary module that cannot be opened for writing is opened read-only.
tq::tModuleIndex LoadModuleFile(TessaroApp& app, const std::string& name, bool readOnly = false);

// Whether name names a project file: its extension is ".tqp" (any case).
bool IsProjectFile(const std::string& name);

// Opens the project file named name as ProjectManager.OpenProject does: its
// modules loaded from the file's folder, the project made current. Returns
// the module that holds the Project object, where a project's Main is
// looked for. LoadFailed naming the file and the reason when it cannot be
// read, is no project file, names no Project, or a module of it does not
// load.
tq::tModuleIndex OpenProjectFile(TessaroApp& app, const std::string& name);

// The text of module m that errors and listings count lines in: a text
// module's own file, or for a binary module the text the saver writes for
// it (what "tessaro text" gives).
std::string ModuleSource(tq::tModuleIndex m);

// Source lines of procedures, so that an error can name the line of a file
// a person reads: for a text module its own file, for a binary module the
// text the saver writes for it (what "tessaro text" gives).
class SourceLines {
public:
    // The 1-based line, in the source of module m, of line `line` of the
    // procedure `proc` (lines counted from its header, line 1) of the object
    // `object`; 0 when the procedure is not found.
    int32_t fileLine(tq::tModuleIndex m, const std::string& object, const std::string& proc, int32_t line);
    // The other way: the procedure that line `line` of module m's source
    // falls in (the last whose header stands at or above it), its object
    // and its name as written, and the line within it; false when no
    // procedure stands at or above it.
    bool procedureAt(tq::tModuleIndex m, int32_t line, std::string& object, std::string& proc, int32_t& procLine);
    // The file name to show for module m.
    static std::string fileName(tq::tModuleIndex m);
    // Reads the lines of binary module m now, before a program runs: its
    // text is regenerated with the fields' values, and a field the program
    // changes would otherwise move every line after it. (A text module's
    // lines are its file's, read when first asked.)
    void remember(tq::tModuleIndex m) {
        if (!tq::ObjectStore::ModuleIsText(m)) headers(m);
    }

private:
    // object name + "." + procedure name, lower case, to header line and
    // the name as written.
    using Headers = std::map<std::string, std::pair<int32_t, std::string>>;
    const Headers& headers(tq::tModuleIndex m);
    std::map<tq::tModuleIndex, Headers> modules_;
};

}  // namespace tessaro
