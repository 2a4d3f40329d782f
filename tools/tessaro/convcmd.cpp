// tessaro build, text and dump: a module from one form to the other, and a
// binary module shown as tqdump shows it.
#include <filesystem>
#include <iostream>

#include <tqcompile/tqcompile.h>
#include <tqstore/tqstore.h>

#include "tools/tessaro/cmdline.h"
#include "tools/tessaro/commands.h"
#include "tools/tessaro/modules.h"
#include "tools/tessaro/session.h"
#include "tools/tqdumplib/tqdump.h"

namespace tessaro {

namespace fs = std::filesystem;

namespace {

std::string WithExtension(const std::string& path, const char* ext) {
    return fs::path(path).replace_extension(ext).string();
}

// Runs a conversion of source: 0, or 1 with the failure on standard error
// (a load or compile failure names its file and position itself; any other
// is put after the source's name).
template <class Convert>
int Converted(const std::string& source, Convert&& convert) {
    try {
        convert();
        return 0;
    } catch (const LoadFailed& e) {
        std::cerr << e.what() << "\n";
    } catch (const tq::compiler::CompileError& e) {
        std::cerr << e.what() << "\n";
    } catch (const tq::StorageError& e) {
        // Names the file it could not write, and why.
        std::cerr << e.what() << "\n";
    } catch (const std::exception& e) {
        std::cerr << source << ": " << e.what() << "\n";
    }
    return 1;
}

// Why output must not be written from source, or empty: the source itself,
// or a module of the other form (a person's text replaced by a binary
// module, or a binary module by text, is lost work; naming the wrong file
// after -o is an easy slip).
std::string RefusedOutput(const std::string& source, const std::string& output, bool outputIsBinary) {
    std::error_code ec;
    if (!fs::is_regular_file(output, ec) || fs::file_size(output, ec) == 0) return {};
    if (fs::equivalent(source, output, ec)) return source + ": the output would replace the source (give -o)";
    if (IsBinaryModule(output) != outputIsBinary)
        return output + (outputIsBinary ? ": is a text module; a binary module would replace it"
                                        : ": is a binary module; its text would replace it");
    return {};
}

}  // namespace

int BuildCommand(const Args& args) {
    const Command& self = *FindCommand("build");
    ParsedArgs parsed;
    try {
        parsed = ParseArgs(args, {{"output", 'o', true}, {"load", 'l', true}, {"exe", 0, true}});
    } catch (const UsageError& e) {
        return UsageFailure(self, e.what());
    }
    if (parsed.help) return ShowHelp(self);
    if (parsed.has("exe")) return BuildExe(self, parsed);
    if (parsed.operands.size() != 1) return UsageFailure(self, parsed.operands.empty() ? "no FILE to build" : "one FILE at a time");
    std::string source;
    try {
        source = ReadableModuleFile(parsed.operands[0]);
    } catch (const LoadFailed& e) {
        std::cerr << e.what() << "\n";
        return 1;
    }
    const std::string output = parsed.value("output", WithExtension(source, ".qbo"));
    Session session;
    if (IsBinaryModule(source)) {
        std::cerr << source << ": is a binary module already (tessaro text writes it as text)\n";
        return 1;
    }
    if (const std::string refused = RefusedOutput(source, output, true); !refused.empty()) {
        std::cerr << refused << "\n";
        return 1;
    }
    return Converted(source, [&] {
        if (parsed.has("load"))
            for (const std::string& other : parsed.options.at("load")) LoadModuleFile(session.app(), other);
        // The conversion writes the module whole beside output before it
        // replaces it: a failure leaves an old output as it was.
        tq::compiler::ConvertTextToBinary(source, output);
    });
}

int TextCommand(const Args& args) {
    const Command& self = *FindCommand("text");
    ParsedArgs parsed;
    try {
        parsed = ParseArgs(args, {{"output", 'o', true}, {"load", 'l', true}});
    } catch (const UsageError& e) {
        return UsageFailure(self, e.what());
    }
    if (parsed.help) return ShowHelp(self);
    if (parsed.operands.size() != 1) return UsageFailure(self, parsed.operands.empty() ? "no FILE to write as text" : "one FILE at a time");
    std::string source;
    try {
        source = ReadableModuleFile(parsed.operands[0]);
    } catch (const LoadFailed& e) {
        std::cerr << e.what() << "\n";
        return 1;
    }
    const std::string output = parsed.value("output", WithExtension(source, ".tqs"));
    Session session;
    if (!IsBinaryModule(source)) {
        std::cerr << source << ": not a binary module\n";
        return 1;
    }
    if (const std::string refused = output == "-" ? std::string() : RefusedOutput(source, output, false);
        !refused.empty()) {
        std::cerr << refused << "\n";
        return 1;
    }
    return Converted(source, [&] {
        if (parsed.has("load"))
            for (const std::string& other : parsed.options.at("load")) LoadModuleFile(session.app(), other, true);
        const tq::tModuleIndex m = LoadModuleFile(session.app(), source, true);
        if (output == "-") {
            tq::compiler::CheckTextKeepsPrototypes(m);
            std::cout << tq::compiler::TextModuleText(m);
            std::cout.flush();
        } else {
            tq::compiler::SaveTextModuleFile(output, m);
        }
    });
}

int DumpCommand(const Args& args) {
    const Command& self = *FindCommand("dump");
    ParsedArgs parsed;
    try {
        parsed = ParseArgs(args, {{"json", 0, false}});
    } catch (const UsageError& e) {
        return UsageFailure(self, e.what());
    }
    if (parsed.help) return ShowHelp(self);
    if (parsed.operands.size() != 1) return UsageFailure(self, parsed.operands.empty() ? "no FILE to dump" : "one FILE at a time");
    // Found and refused as every command finds and refuses a module file: a
    // device or a FIFO is named as such, not read as a module that is not.
    std::string path;
    try {
        path = ReadableModuleFile(parsed.operands[0]);
    } catch (const LoadFailed& e) {
        std::cerr << e.what() << "\n";
        return 1;
    }
    Session session;
    return tq::dump::DumpModuleFile(path, parsed.has("json"), "tessaro dump");
}

}  // namespace tessaro
