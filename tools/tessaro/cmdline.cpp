#include "tools/tessaro/cmdline.h"

namespace tessaro {

std::string ParsedArgs::value(const std::string& name, const std::string& fallback) const {
    const auto found = options.find(name);
    return found == options.end() || found->second.empty() ? fallback : found->second.back();
}

ParsedArgs ParseArgs(const std::vector<std::string>& args, const std::vector<OptionDecl>& decls, bool stopAtOperand) {
    ParsedArgs out;
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (optionsEnded || a.size() < 2 || a[0] != '-') {
            out.operands.push_back(a);
            if (stopAtOperand) {
                out.operands.insert(out.operands.end(), args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
                return out;
            }
            continue;
        }
        if (a == "--") {
            optionsEnded = true;
            continue;
        }
        if (a == "--help" || a == "-h") {
            out.help = true;
            continue;
        }
        const OptionDecl* decl = nullptr;
        std::string inlineValue;
        bool hasInline = false;
        if (a[1] == '-') {
            std::string name = a.substr(2);
            if (const size_t eq = name.find('='); eq != std::string::npos) {
                inlineValue = name.substr(eq + 1);
                hasInline = true;
                name.resize(eq);
            }
            for (const OptionDecl& s : decls)
                if (name == s.longName) decl = &s;
        } else if (a.size() == 2) {
            for (const OptionDecl& s : decls)
                if (s.shortName && a[1] == s.shortName) decl = &s;
        }
        if (!decl) throw UsageError("unknown option '" + a + "'");
        std::vector<std::string>& values = out.options[decl->longName];
        if (!decl->takesValue) {
            if (hasInline) throw UsageError("option '--" + std::string(decl->longName) + "' takes no value");
            values.emplace_back();
        } else if (hasInline) {
            values.push_back(inlineValue);
        } else if (i + 1 < args.size()) {
            values.push_back(args[++i]);
        } else {
            throw UsageError("option '" + a + "' needs a value");
        }
    }
    return out;
}

}  // namespace tessaro
