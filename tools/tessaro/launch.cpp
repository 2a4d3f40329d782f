#include "tools/tessaro/launch.h"

#include <iostream>
#include <memory>

#include "tools/tessaro/modules.h"

namespace tessaro {

namespace {

RunOperands SplitRunOperands(const std::vector<std::string>& operands) {
    RunOperands out;
    out.file = operands.at(0);
    size_t firstArg = 1;
    if (operands.size() > 1) {
        if (operands[1] == "--") {
            firstArg = 2;
        } else if (operands[1].find('.') != std::string::npos) {
            out.named = ParseTarget(operands[1]);
            if (!out.named) throw UsageError("'" + operands[1] + "' is not Object.Method");
            firstArg = 2;
        }
    }
    out.args.assign(operands.begin() + static_cast<std::ptrdiff_t>(firstArg), operands.end());
    return out;
}

}  // namespace

std::optional<int> ParseRunCommandLine(const Command& self, const Args& args, const std::vector<OptionDecl>& decls,
                                       ParsedArgs& parsed, RunOperands& operands) {
    try {
        parsed = ParseArgs(args, decls, true);
        if (parsed.help) return ShowHelp(self);
        if (parsed.operands.empty()) return UsageFailure(self, std::string("no FILE to ") + self.name);
        operands = SplitRunOperands(parsed.operands);
    } catch (const UsageError& e) {
        return UsageFailure(self, e.what());
    }
    return std::nullopt;
}

std::optional<Launch> PrepareLaunch(Session& session, const ParsedArgs& parsed, const RunOperands& operands) {
    Launch launch;
    try {
        if (parsed.has("load"))
            for (const std::string& other : parsed.options.at("load"))
                session.lines().remember(LoadModuleFile(session.app(), other));
        launch.module = IsProjectFile(operands.file) ? OpenProjectFile(session.app(), operands.file)
                                                     : LoadModuleFile(session.app(), operands.file);
        session.lines().remember(launch.module);
    } catch (const LoadFailed& e) {
        std::cerr << e.what() << "\n";
        return std::nullopt;
    }
    try {
        const std::string shown = SourceLines::fileName(launch.module);
        launch.target = operands.named ? *operands.named : MainTarget(launch.module, shown);
        launch.object = ResolveTarget(launch.target, shown);
    } catch (const TargetFailed& e) {
        std::cerr << e.what() << "\n";
        return std::nullopt;
    } catch (const tq::StoreException& e) {
        // Looking for the method faults objects in: a damaged module fails
        // here, not only when it is opened.
        std::cerr << SourceLines::fileName(launch.module) << ": " << e.what() << "\n";
        return std::nullopt;
    }
    return launch;
}

namespace {

tq::ValuePtr Text(const std::string& s) { return tq::ValuePtr(new tq::StringValue(tq::ValString(s))); }

// Whether the method's only parameter is an array of Strings.
bool TakesStringArray(tq::InterObjRep& object, const std::string& method) {
    tq::Field* f = object.findField(method.c_str());
    if (!f || !f->isMethod()) return false;
    auto* m = static_cast<tq::MethodField*>(f);
    tq::InterObjRep* parameters = m->parmCount() == 1 ? m->parameterPrototype() : nullptr;
    if (!parameters) return false;
    tq::InterObjFieldIterator it(parameters);
    const tq::Field* p = it();
    return p && (p->type() & tq::IDT_ARRAY) && (p->type() & tq::IDT_TYPEMASK) == tq::IDT_STRING;
}

}  // namespace

ProgramArguments::ProgramArguments(const Launch& launch, const RunOperands& operands) {
    if (!TakesStringArray(*launch.object.get(), launch.target.method)) {
        for (const std::string& a : operands.args) values_.ppush(Text(a));
        return;
    }
    std::unique_ptr<tq::InterArrayField> array(tq::InterArrayField::make("Arguments", tq::IDT_STRING, 1));
    array->defineBounds(0, 0, static_cast<int32_t>(operands.args.size()));
    holder_ = tq::InterObjRep::New(tq::DETACHED_MODULE, tq::IOT_ORDINARY);
    try {
        holder_->addField(array.release());
        tq::ValuePtr whole = holder_->eval("Arguments");
        for (size_t i = 0; i <= operands.args.size(); ++i) {
            tq::ValueList index{tq::ValuePtr(new tq::LongValue(static_cast<int32_t>(i)))};
            *whole->virtualMemberEval(&index) = *Text(i == 0 ? operands.file : operands.args[i - 1]);
        }
        values_.ppush(whole);
    } catch (...) {
        holder_->Destroy();
        throw;
    }
}

ProgramArguments::~ProgramArguments() {
    values_.clear();
    if (!holder_.isNull()) holder_->Destroy();
}

}  // namespace tessaro
