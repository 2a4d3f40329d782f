// tessaro list: a module for a person to read.
//
// The lines shown are the lines errors name (a text module's own file, or
// the text form of a binary module), numbered as they are there, so that
// "shapes.tqs:12" in a failure is found at once. The whole module shows its
// declarations, initial values and procedure headers; an object shows
// whole; a procedure shows its source.
#include <cctype>
#include <iostream>
#include <sstream>
#include <vector>

#include <tqcompile/tqcompile.h>
#include <tqstore/tqstore.h>

#include "tools/tessaro/cmdline.h"
#include "tools/tessaro/commands.h"
#include "tools/tessaro/listing.h"
#include "tools/tessaro/modules.h"
#include "tools/tessaro/session.h"

namespace tessaro {

namespace {

using tq::compiler::MemberKind;
using tq::compiler::ObjectDecl;

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// Which lines of the source a listing shows (1-based, inclusive ranges).
struct Ranges {
    std::vector<std::pair<uint32_t, uint32_t>> spans;
    void add(uint32_t from, uint32_t to) { spans.emplace_back(from, to); }
};

// An object without its procedures' bodies: every line from its Begin to
// its End, less the lines after each procedure's header up to its end.
void OutlineObject(const ObjectDecl& object, Ranges& out) {
    uint32_t from = object.pos.line;
    for (const tq::compiler::ObjectMember& member : object.members) {
        if (member.kind != MemberKind::Procedure) continue;
        const tq::compiler::Procedure& p = *member.procedure;
        const uint32_t end = p.body ? p.body->endLine : p.pos.line;
        out.add(from, p.pos.line);
        from = end + 1;
    }
    out.add(from, object.endLine);
}

const ObjectDecl* FindObject(const tq::compiler::Module& module, std::string_view name) {
    for (const tq::compiler::ModuleItem& item : module.items)
        if (item.kind == tq::compiler::ItemKind::Object && SameName(item.object->name, name)) return item.object;
    return nullptr;
}

}  // namespace

int ListModule(tq::tModuleIndex m, const std::string& what, bool numbers, std::ostream& out, std::ostream& err) {
    const std::string file = SourceLines::fileName(m);
    const std::string source = ModuleSource(m);
    tq::compiler::SyntaxTree tree = tq::compiler::ParseModule(source, file);
    if (!tree.module()) {
        err << file << ": cannot be listed\n";
        return 1;
    }
    const tq::compiler::Module& module = *tree.module();
    Ranges ranges;
    if (what.empty()) {
        for (const tq::compiler::ModuleItem& item : module.items) {
            if (item.kind == tq::compiler::ItemKind::Enum)
                ranges.add(item.enumeration->pos.line, item.enumeration->endLine);
            else
                OutlineObject(*item.object, ranges);
        }
    } else {
        const size_t dot = what.rfind('.');
        const std::string objectName = dot == std::string::npos ? what : what.substr(0, dot);
        const ObjectDecl* object = FindObject(module, objectName);
        if (!object) {
            err << file << ": no object named " << objectName << "\n";
            return 1;
        }
        if (dot == std::string::npos) {
            ranges.add(object->pos.line, object->endLine);
        } else {
            const std::string procName = what.substr(dot + 1);
            const tq::compiler::Procedure* proc = nullptr;
            for (const tq::compiler::ObjectMember& member : object->members)
                if (member.kind == MemberKind::Procedure && SameName(member.procedure->name, procName))
                    proc = member.procedure;
            if (!proc) {
                err << file << ": " << objectName << " has no procedure " << procName << "\n";
                return 1;
            }
            ranges.add(proc->pos.line, proc->body ? proc->body->endLine : proc->pos.line);
        }
    }
    const std::vector<std::string> lines = SplitLines(source);
    for (const auto& [from, to] : ranges.spans) {
        for (uint32_t n = from; n <= to && n <= lines.size(); ++n) {
            if (numbers) {
                std::string num = std::to_string(n);
                if (num.size() < 5) num.insert(0, 5 - num.size(), ' ');
                out << num << "  ";
            }
            out << lines[n - 1] << "\n";
        }
    }
    return 0;
}

int ListCommand(const Args& args) {
    const Command& self = *FindCommand("list");
    ParsedArgs parsed;
    try {
        parsed = ParseArgs(args, {{"no-numbers", 'n', false}, {"load", 'l', true}});
    } catch (const UsageError& e) {
        return UsageFailure(self, e.what());
    }
    if (parsed.help) return ShowHelp(self);
    if (parsed.operands.empty()) return UsageFailure(self, "no FILE to list");
    if (parsed.operands.size() > 2) return UsageFailure(self, "too many operands");
    Session session;
    try {
        if (parsed.has("load"))
            for (const std::string& other : parsed.options.at("load")) LoadModuleFile(session.app(), other);
        const tq::tModuleIndex m = LoadModuleFile(session.app(), parsed.operands[0], true);
        return ListModule(m, parsed.operands.size() > 1 ? parsed.operands[1] : std::string(),
                          !parsed.has("no-numbers"), std::cout, std::cerr);
    } catch (const LoadFailed& e) {
        std::cerr << e.what() << "\n";
        return 1;
    } catch (const std::exception& e) {
        std::cerr << parsed.operands[0] << ": " << e.what() << "\n";
        return 1;
    }
}

}  // namespace tessaro
