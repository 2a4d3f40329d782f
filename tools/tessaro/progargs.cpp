// ProgramArguments (launch.h): the arguments of a run as the method to run
// takes them.
#include <memory>

#include "tools/tessaro/launch.h"

namespace tessaro {

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
