// Text module files: reading one from the disk, and writing one back
// without losing what its user wrote.
//
// A text module is a person's file, and it may hold what the store does not
// keep: comments and blank lines between objects, a layout of its own. The
// saver writes only the store's form of the module (textsave.cpp). Merging the
// person's lines into that form would mean guessing where each belongs, and a
// wrong guess moves a comment away from what it explains; so a hand-written
// file is never rewritten:
//  1. When a file is read, the saver's form of what was built from it is kept
//     with the file's stamp.
//  2. A save whose text is that form still (the program changed nothing in
//     the module) writes nothing: the file stays byte for byte.
//  3. A file that is the saver's form, after an interpreter line "#!..." that
//     is kept, is replaced by the new form (with the same interpreter line).
//  4. A hand-written file whose module changed is not rewritten: the save is
//     refused, saying why and that the module can be saved under another name.
//  5. The file must be the one that was read (its stamp): one that an editor
//     or another program replaced meanwhile is refused, not overwritten.
//  6. A file its user marked read-only (FileMarkedReadOnly) is not rewritten:
//     a save that would change it is refused.
// The replacement itself is the storage layer's (platform/storage/filesave.h):
// written beside, flushed, renamed over the file (through a symbolic link, with
// the old permission bits), the folder flushed.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "compiler/textmod.h"

namespace tq::compiler {

namespace {

// What the process knows of a text module file it read or wrote.
struct KnownFile {
    FileStamp stamp;            // the file as it was read or last written
    std::string interpreter;    // its "#!..." line with the line end, or empty
    std::string savedForm;      // the saver's text of the module then
    bool handWritten = false;   // the file (after its interpreter line) is not savedForm
};

// By the path the store names the file with (its full path). A module
// unloaded and read again is read afresh, so an entry never outlives the
// file's reading that made it.
std::map<std::string, KnownFile>& KnownFiles() {
    static std::map<std::string, KnownFile> files;
    return files;
}

std::string_view InterpreterLine(std::string_view text) {
    if (!text.starts_with("#!")) return {};
    const size_t end = text.find('\n');
    return end == std::string_view::npos ? text : text.substr(0, end + 1);
}

[[noreturn]] void SaveFailed(const std::string& why) {
    throw StoreException(("Could not save text module: " + why).c_str());
}

}  // namespace

size_t FirstNonTextByte(std::string_view bytes) { return bytes.find('\0'); }

bool FileMarkedReadOnly(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (ec || !fs::exists(status)) return false;
    constexpr fs::perms kWrite = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
    return (status.permissions() & kWrite) == fs::perms::none;
}

void LoadTextModuleFile(const std::string& path, tModuleIndex m) {
    const FileStamp stamp = StampFile(path);
    std::ifstream in(path, std::ios::binary);
    if (!in.is_open()) throw StoreException(("Could not read text module: " + path).c_str());
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) throw StoreException(("Could not read text module: " + path).c_str());
    if (const size_t at = FirstNonTextByte(text); at != std::string::npos)
        throw StoreException(("not a module (neither a binary module nor text: a NUL byte at offset " +
                              std::to_string(at) + ")")
                                 .c_str());
    KnownFiles().erase(path);
    LoadTextModule(text, path, m);
    KnownFile known;
    known.stamp = stamp;
    known.interpreter = InterpreterLine(text);
    known.savedForm = TextModuleText(m);
    known.handWritten = std::string_view(text).substr(known.interpreter.size()) != known.savedForm;
    KnownFiles()[path] = std::move(known);
}

void SaveTextModuleFile(const std::string& path, tModuleIndex m) {
    CheckTextKeepsPrototypes(m);
    std::string text = TextModuleText(m);
    const auto found = KnownFiles().find(path);
    KnownFile* known = found == KnownFiles().end() ? nullptr : &found->second;
    if (known && text == known->savedForm) return;
    // What the user is told to do instead, whichever protection stopped the save.
    const std::string instead = ", so it is not rewritten; save the module under another name to keep its changes";
    if (FileMarkedReadOnly(path)) SaveFailed(path + ": the file is read-only" + instead);
    if (known) {
        if (known->handWritten)
            SaveFailed(path + ": the file holds lines the store does not keep (comments or blank lines "
                              "outside procedures, or a layout of its own)" + instead);
        text.insert(0, known->interpreter);
    }
    FileStamp written;
    try {
        written = ReplaceFileContent(path, text, known ? &known->stamp : nullptr);
    } catch (const StorageError& e) {
        SaveFailed(e.what());
    }
    if (known) {
        known->stamp = written;
        known->savedForm = text.substr(known->interpreter.size());
    }
}

}  // namespace tq::compiler
