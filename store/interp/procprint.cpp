// The text of procedures and signatures, regenerated from the store.
#include <ostream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "store/block.h"
#include "store/eventdef.h"
#include "store/interp/sigtext.h"
#include "store/interp/srcctl.h"
#include "store/methfld.h"
#include "store/model/interobj.h"
#include "store/model/intfld.h"
#include "store/model/sigrep.h"

namespace tq {

// ---- procedures ----------------------------------------------------------------------------

void InterProcField::print(std::ostream& os) const {
    if (!isCompiled()) {
        os << MethodField::getSource();
        return;
    }
    // Printing moves the shared cursor: every printing starts from the first
    // fragment, so printing twice gives the same text.
    if (DeadSourceRep* ds = deadSource_.get()) ds->resetCursor();
    SourceControl sc(deadSource_, ids_, &blocks_, os);
    // The header is the first fragment: it prints at the outer level with
    // whatever else stands on its line, before the body's statements, which
    // may start on that line too ("Sub F() : x = 1 : End Sub").
    const DeadSourceRep* ds = deadSource_.get();
    if (ds && ds->count() && ds->kind(0) == DS_TEXT)
        sc.printDS(int64_t(ds->line(0)) + 1);
    else
        sc.printDS(1);
    sc.printBlock(blocks_.length() - 1);
    sc.advancePos(body()->endLine());
    os << (isFunction() ? "End Function" : "End Sub");
    // A comment on the closing line, and anything the compiler kept after
    // it, is not lost.
    sc.printRemainingDS();
    os << "\r\n";
}

std::string InterProcField::getSource() const {
    if (!isCompiled()) return MethodField::getSource();
    std::ostringstream out;
    print(out);
    return out.str();
}

// ---- signatures ------------------------------------------------------------------------------

namespace {

// text with indent before each of its lines and "\r\n" after each.
void AppendLines(std::string& out, std::string_view text, const std::string& indent) {
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!line.empty()) out += indent;
        out += line;
        out += "\r\n";
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
}

InterObjRep* EmbeddedPrototype(Field& f, InterObjRep& obj) {
    if (!f.isEmbed()) return nullptr;
    InterObj e;
    SignatureRep* owner = nullptr;
    if (obj.signature()->findField(f.name(), owner, 0) != &f) return nullptr;
    f.get(e, obj, *owner);
    return !e.isNull() && e->isProto() ? e.get() : nullptr;
}

}  // namespace

std::string SignatureText(InterObjRep& obj, const std::string& indent) {
    std::string out;
    SignatureRep* sig = obj.signature();
    if (!sig) return out;
    const bool own = obj.isProto() && sig->protoObject() == &obj;
    InterObjRep* parent = nullptr;
    if (own)
        parent = sig->parent() ? sig->parent()->protoObject() : nullptr;
    else
        parent = obj.protoObject();
    std::vector<std::pair<Field*, InterObjRep*>> embeds;
    std::vector<InterProcField*> procedures;
    if (own) {
        const FieldPtrList& fields = sig->fields();
        for (size_t i = 0; i < fields.length(); ++i) {
            Field* f = fields.at(i);
            if (f->isMethod()) {
                if (auto* p = dynamic_cast<InterProcField*>(f)) procedures.push_back(p);
                continue;
            }
            if (f->isCompDataField()) continue;
            if (InterObjRep* e = EmbeddedPrototype(*f, obj)) {
                embeds.emplace_back(f, e);
                continue;
            }
            std::string decl;
            f->declarationText(decl, &obj);
            if (!decl.empty()) AppendLines(out, decl, indent);
        }
        const EventDefPtrList& events = sig->events();
        for (size_t i = 0; i < events.length(); ++i) {
            const EventDef* e = events.at(i);
            AppendLines(out, std::string("Event ") + e->name() + e->args(), indent);
        }
    }
    std::string values;
    obj.textUnload("", values, 1, 0, parent);
    AppendLines(out, values, indent);
    for (InterProcField* p : procedures) AppendLines(out, p->getSource(), indent);
    for (const auto& [f, e] : embeds) {
        std::string decl;
        f->declarationText(decl, &obj);
        AppendLines(out, decl, indent);
        out += SignatureText(*e, indent + "  ");
        AppendLines(out, "End Type", indent);
    }
    return out;
}

}  // namespace tq
