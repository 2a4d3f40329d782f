#include "tools/tessaro/modules.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>

#include <tqcompile/tqcompile.h>

#include "tools/tessaro/tessaroapp.h"

namespace tessaro {

namespace fs = std::filesystem;

namespace {

std::string Lower(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
    return out;
}

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Records the header line of every procedure of object (and of its
// embedded objects, under their own names).
void CollectHeaders(const tq::compiler::ObjectDecl& object, std::map<std::string, std::pair<int32_t, std::string>>& out) {
    const std::string owner = std::string(object.name) + ".";
    for (const tq::compiler::ObjectMember& member : object.members) {
        if (member.kind == tq::compiler::MemberKind::Procedure) {
            const std::string name = owner + std::string(member.procedure->name);
            out.emplace(Lower(name), std::make_pair(static_cast<int32_t>(member.procedure->pos.line), name));
        } else if (member.kind == tq::compiler::MemberKind::Embedded)
            CollectHeaders(*member.embedded, out);
    }
}

}  // namespace

std::string FindModuleFile(const std::string& name) {
    std::error_code ec;
    if (fs::is_regular_file(name, ec)) return name;
    if (name.find('/') != std::string::npos) return {};
    // The store's own search: the default folders, then TESSARO_PATH.
    return tq::ObjectStore::SearchTessaroPath(name.c_str(), nullptr);
}

bool IsBinaryModule(const std::string& path) { return tq::OCLStorage::IsStorageFile(path.c_str()) != 0; }

namespace {

// The program read from standard input ("-"): its module and its text, which
// errors count lines in.
struct StandardInput {
    tq::tModuleIndex module = tq::NO_MODULE;
    std::string text;
};

StandardInput& FromStandardInput() {
    static StandardInput input;
    return input;
}

// A binary module cannot come through a pipe: the store reads its file at
// any time, not once.
bool LooksLikeBinaryModule(std::string_view bytes) {
    return bytes.starts_with(std::string_view("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8));
}

tq::tModuleIndex LoadStandardInput() {
    StandardInput& input = FromStandardInput();
    if (tq::ObjectStore::ValidIndex(input.module)) return input.module;
    std::string text((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
    if (std::cin.bad()) throw LoadFailed("-: standard input cannot be read");
    if (LooksLikeBinaryModule(text))
        throw LoadFailed("-: a binary module cannot be read from standard input (name its file)");
    if (const size_t at = tq::compiler::FirstNonTextByte(text); at != std::string::npos)
        throw LoadFailed("-: not a module (neither a binary module nor text: a NUL byte at offset " +
                         std::to_string(at) + ")");
    const tq::tModuleIndex m = tq::ObjectStore::LoadModule(nullptr, 1, 0);
    try {
        tq::compiler::LoadTextModule(text, "-", m);
    } catch (const std::exception& e) {
        tq::ObjectStore::UnloadModule(m);
        throw LoadFailed(e.what());
    }
    input.module = m;
    input.text = std::move(text);
    return m;
}

// A binary module the process may not write (a read-only file system, a
// file or folder it has no write access to) can still be run and read: one
// that will not open for writing is opened read-only, and a save of its
// changes is refused then, naming it.
tq::tModuleIndex LoadBinaryModule(const std::string& path, bool readOnly) {
    if (!readOnly) {
        try {
            return tq::ObjectStore::LoadModule(path.c_str(), 0, 0);
        } catch (const tq::StoreException&) {
            // Tried again read-only below; a module that is damaged fails
            // there with its reason.
        }
    }
    return tq::ObjectStore::LoadModule(path.c_str(), 0, 1);
}

}  // namespace

std::string ReadableModuleFile(const std::string& name) {
    std::error_code ec;
    const fs::file_status status = fs::status(name, ec);
    if (fs::is_directory(status)) throw LoadFailed(name + ": is a folder, not a module");
    // Reading a FIFO or a device would wait for a writer, or never end.
    if (fs::exists(status) && !fs::is_regular_file(status))
        throw LoadFailed(name + ": not a regular file (a device or a FIFO); give - to read a program from "
                                "standard input");
    const std::string path = FindModuleFile(name);
    if (path.empty())
        throw LoadFailed(name + ": no such file" +
                         (name.find('/') == std::string::npos ? " (nor along TESSARO_PATH)" : ""));
    if (!std::ifstream(path, std::ios::binary).is_open()) throw LoadFailed(path + ": cannot be read");
    return path;
}

tq::tModuleIndex LoadModuleFile(TessaroApp& app, const std::string& name, bool readOnly) {
    if (name == "-") return LoadStandardInput();
    const std::string path = ReadableModuleFile(name);
    std::error_code ec;
    const bool binary = IsBinaryModule(path);
    tq::tModuleIndex m = tq::NO_MODULE;
    try {
        m = binary ? LoadBinaryModule(path, readOnly) : tq::ObjectStore::LoadModule(path.c_str(), 0, 0);
    } catch (const tq::compiler::CompileError& e) {
        throw LoadFailed(e.what());
    } catch (const tq::StoreException& e) {
        throw LoadFailed(path + ": " + e.what());
    }
    if (!tq::ObjectStore::ValidIndex(m)) {
        std::unique_ptr<tq::StoreException> why = app.takeLoadFailure();
        if (!why) throw LoadFailed(path + ": the module was not loaded");
        // Compile errors name their file and position already; the file
        // as the user named it, not the full path the store loaded.
        if (dynamic_cast<tq::compiler::CompileError*>(why.get())) {
            std::string text = why->what();
            const std::string full = fs::absolute(path, ec).lexically_normal().string() + ":";
            const std::string shown = DisplayName(path) + ":";
            for (size_t at = 0; (at = text.find(full, at)) != std::string::npos; at += shown.size())
                text.replace(at, full.size(), shown);
            throw LoadFailed(text);
        }
        throw LoadFailed(path + ": " + why->what());
    }
    return m;
}

bool IsProjectFile(const std::string& name) {
    return name.size() > 4 && Lower(std::string_view(name).substr(name.size() - 4)) == ".tqp";
}

tq::tModuleIndex OpenProjectFile(TessaroApp& app, const std::string& name) {
    std::error_code ec;
    if (!fs::is_regular_file(name, ec)) throw LoadFailed(name + ": no such project file");
    tq::InterObj project;
    try {
        project = tq::iProjectManager::OpenProjectFile(name.c_str());
    } catch (const tq::StoreException& e) {
        throw LoadFailed(name + ": " + e.what());
    }
    tq::iProject* part = tq::iProject::Of(project.get());
    if (!part || !part->isOpen()) {
        // A module of the project that did not compile says why.
        std::unique_ptr<tq::StoreException> why = app.takeLoadFailure();
        if (why) throw LoadFailed(why->what());
        throw LoadFailed(name + ": the project did not open (" +
                         (part ? "a module of its path was not loaded" : "it names no project") + ")");
    }
    return project->moduleIndex();
}

std::string ModuleSource(tq::tModuleIndex m) {
    if (m == FromStandardInput().module) return FromStandardInput().text;
    if (!tq::ObjectStore::ModuleIsText(m)) return tq::compiler::TextModuleText(m);
    std::string text = ReadWhole(tq::ObjectStore::GetModuleFileNameA(m));
    // The interpreter line of a script reads as an empty line, as the
    // loader reads it; the other lines keep their numbers.
    if (text.starts_with("#!")) text.erase(0, std::min(text.find('\n'), text.size()));
    return text;
}

std::string SourceLines::fileName(tq::tModuleIndex m) {
    if (m == FromStandardInput().module) return "-";
    return DisplayName(tq::ObjectStore::GetModuleFileNameA(m));
}

std::string DisplayName(const std::string& path) {
    // Relative to the current folder when it lies below it, as a person
    // typing the command names it.
    std::error_code ec;
    const fs::path relative = fs::relative(path, fs::current_path(ec), ec);
    if (!ec && !relative.empty() && relative.native().rfind("..", 0) != 0) return relative.string();
    return path;
}

const SourceLines::Headers& SourceLines::headers(tq::tModuleIndex m) {
    auto found = modules_.find(m);
    if (found == modules_.end()) {
        Headers headers;
        try {
            const std::string source = ModuleSource(m);
            tq::compiler::SyntaxTree tree = tq::compiler::ParseModule(source, "");
            if (const tq::compiler::Module* mod = tree.module()) {
                for (const tq::compiler::ModuleItem& item : mod->items)
                    if (item.kind == tq::compiler::ItemKind::Object) CollectHeaders(*item.object, headers);
            }
        } catch (const std::exception&) {
            // No lines then: the error still names its procedure.
        }
        found = modules_.emplace(m, std::move(headers)).first;
    }
    return found->second;
}

int32_t SourceLines::fileLine(tq::tModuleIndex m, const std::string& object, const std::string& proc, int32_t line) {
    const Headers& known = headers(m);
    const auto header = known.find(Lower(object) + "." + Lower(proc));
    if (header == known.end() || line <= 0) return 0;
    return header->second.first + line - 1;
}

bool SourceLines::procedureAt(tq::tModuleIndex m, int32_t line, std::string& object, std::string& proc,
                              int32_t& procLine) {
    int32_t best = 0;
    for (const auto& [key, header] : headers(m)) {
        const auto& [at, name] = header;
        if (at > line || at <= best) continue;
        best = at;
        const size_t dot = name.rfind('.');
        object = name.substr(0, dot);
        proc = name.substr(dot + 1);
    }
    if (best == 0) return false;
    procLine = line - best + 1;
    return true;
}

}  // namespace tessaro
