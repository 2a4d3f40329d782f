// Text modules (.tqs): a module as text a person edits and keeps under
// version control, read into the store and written back from it.
//
//   tModuleIndex m = ObjectStore::LoadModule(nullptr, 1, 0);   // an empty module
//   LoadTextModule(text, "shapes.tqs", m);                       // CompileError on failure
//   std::string again = TextModuleText(m);                       // the saver's text
//
// Reading (textload.cpp), in this order, so that every name a member uses
// exists when the member is made:
//  1. every enumeration of the file;
//  2. every object, each after the objects it is made from: its From
//     prototype, the types of its embedded objects ("Type X From P", "Dim
//     x As New P") and the objects its initial values name, when they are
//     declared in the same file (a prototype in another loaded module is
//     found by name);
//  3. within an object, its members in the order written: fields in their
//     declaration forms, events, Declare lines (kept as declarations: a
//     call to one reports that it is not compiled), initial values,
//     procedures (through the code generator) and embedded objects.
// A file with errors is reported whole: every error of the parse, or every
// error found while building (up to kMaxDiagnostics), in one CompileError.
// What was built before the errors stays in the module; the caller unloads
// the module (the store's text-module path asks the user first).
//
// Writing (textsave.cpp) gives the same form back from the store: the
// module's enumerations, then its static objects in the order the module
// made them (so a module built from the text lists a prototype's clones in
// the same order), an object after those the reader makes first, each
// with its own declarations, events, the initial values that differ from
// its prototype's (for a root prototype: from a new object's; an array
// field's element by element), its
// procedures as the store prints them and its embedded objects. Lines end
// with LF. A file the saver wrote reads back and saves byte for byte the
// same. Comments outside procedures are not kept by the store, so a
// hand-written file is never rewritten (textfile.cpp): saving a module
// that changed nothing leaves its file alone, and saving a changed one
// whose file holds more than the saver writes is refused.
#pragma once

#include <string>
#include <string_view>

#include <tqstore/tqstore.h>

namespace tq::compiler {

// Builds the text of a module into module m, which becomes the module being
// opened while it runs (and is restored after). fileName names the text in
// errors. Throws CompileError with every error.
void LoadTextModule(std::string_view source, std::string_view fileName, tModuleIndex m);

// The one rule for what a file that is not a binary module must be to be
// read as a text module, whichever command reads it: it holds no NUL byte.
// Other control characters may stand in comments and string literals (the
// compiler reports them anywhere else); a NUL belongs to no text a person
// edits, and binary formats are full of them. Returns the offset of the
// first byte that breaks the rule, or npos.
size_t FirstNonTextByte(std::string_view bytes);

// Whether the file path names (through a symbolic link) exists and nobody
// may write it: its user marked it read-only. Such a file is protected as a
// binary module opened read-only is: no save or conversion replaces it, since
// renaming a new file over it is stopped only by its folder's permission.
bool FileMarkedReadOnly(const std::string& path);

// Reads the file at path and loads it as above; a file that cannot be read
// throws StoreException "Could not read text module: <path>", one that is
// not text (FirstNonTextByte) StoreException "not a module (...)". What
// was built is remembered with the file's stamp for SaveTextModuleFile.
void LoadTextModuleFile(const std::string& path, tModuleIndex m);

// The text of module m in the text-module form.
std::string TextModuleText(tModuleIndex m);

// Refuses (StoreException) to let module m be written as text when one of
// its objects is made from a prototype of a module that was not loaded when
// m was: m then holds a replacement object with the prototype's fields
// only, which the text would make an object of m's own, and what m's
// objects inherit from the real prototype (its procedures) would be lost
// when the text is read back.
void CheckTextKeepsPrototypes(tModuleIndex m);

// Writes TextModuleText(m) to path, with a module commit's guarantees
// (platform/storage/filesave.h), when it differs from what was read from
// path: nothing when the module's text is what LoadTextModuleFile built
// from the file; refused when the file is hand-written, marked read-only
// (FileMarkedReadOnly) or was replaced since it was read. A failure throws
// StoreException "Could not save text module: <path>: <reason>" and leaves
// the file as it was.
void SaveTextModuleFile(const std::string& path, tModuleIndex m);

// Makes every DefaultStoreApplication load and save text modules with this
// compiler, so that ObjectStore::LoadModule("x.tqs", ...) and
// ObjectStore::SaveAs(m, "x.tqs", 1) work. A program linked with tqcompile
// calls it once before loading modules; calling it again does nothing more.
void EnableTextModules();

}  // namespace tq::compiler
