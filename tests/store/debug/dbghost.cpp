#include "dbghost.h"

#include <ostream>
#include <stdexcept>

namespace tq::test {

std::ostream& operator<<(std::ostream& os, const StopSeen& s) {
    return os << "{" << s.proc << ":" << s.line << " kind " << s.kind << "}";
}

void ScriptedHost::suspend(StopPoint* sp) {
    stops.push_back({currentProcedure() ? currentProcedure()->name() : "", currentLine(), sp ? sp->kind() : -1});
    if (script.empty()) {
        cont();
        return;
    }
    Answer a = std::move(script.front());
    script.pop_front();
    a(*this);
}

int32_t ScriptedHost::value(const char* expr) {
    return compiler::CompileExpression(expr, "expr")->eval(*currentContext(), 1)->as<int32_t>();
}

std::unique_ptr<EvalableExpr> Condition(const char* text) { return compiler::CompileExpression(text, "condition"); }

std::unique_ptr<EvalableBlock> Action(const char* text) { return compiler::CompileStatements(text, "action"); }

ProgramFixture::ProgramFixture(std::string_view source) {
    IdString::Initialize();
    app_.setCurrentPrintable(&out_);
    module_ = ObjectStore::LoadModule(nullptr, 1, 0);
    compiler::LoadTextModule(source, "prog.tqs", module_);
    InterObj o;
    if (!ObjectStore::findStatic("Prog", o)) throw std::invalid_argument("no object Prog");
    obj_ = o.get();
}

ProgramFixture::~ProgramFixture() {
    for (int m = MAX_MODULES - 1; m >= 0; --m)
        if (ObjectStore::ValidIndex(static_cast<tModuleIndex>(m))) ObjectStore::UnloadModule(static_cast<tModuleIndex>(m));
    InterObjRep::DeleteObjects();
}

InterProcField* ProgramFixture::proc(const char* name) const {
    auto* p = dynamic_cast<InterProcField*>(obj_->findField(name));
    if (!p) throw std::invalid_argument(std::string("no procedure ") + name);
    return p;
}

int32_t ProgramFixture::lineOf(const char* procName, std::string_view text) const {
    const std::string src = proc(procName)->getSource();
    int32_t line = 1;
    size_t start = 0;
    while (start <= src.size()) {
        size_t end = src.find('\n', start);
        if (end == std::string::npos) end = src.size();
        if (std::string_view(src).substr(start, end - start).find(text) != std::string_view::npos) return line;
        ++line;
        start = end + 1;
    }
    throw std::invalid_argument("no line with " + std::string(text));
}

std::string ProgramFixture::run(const char* method) {
    out_.text.clear();
    int handled = 0;
    obj_->evalIMember(method, nullptr, &handled);
    return out_.text;
}

}  // namespace tq::test
