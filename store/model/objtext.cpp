// The text form of an object's property values (textUnload): the lines an
// object writes into a text module or a listing, one ".Name = value" line
// per data field, the root signature's lines first.
#include <cctype>
#include <string>

#include "platform/util/strutil.h"
#include "store/errors/storeexc.h"
#include "store/model/enum.h"
#include "store/model/fldval.h"
#include "store/model/interobj.h"
#include "store/model/intfld.h"

namespace tq {

namespace {

// Longer texts are cut: a listing line stays readable, and the text module
// keeps the start of the value.
constexpr size_t kMaxUnloadedText = 412;

std::string ValueText(Field& f, InterObjRep& obj, SignatureRep& owner) {
    const IdType t = f.type() & IDT_TYPEMASK;
    if (t == IDT_OBJECT) {
        InterObj o;
        f.get(o, obj, owner);
        if (o.isNull()) return "Nothing";
        const std::string alias = o->alias();
        // A generated alias names an object of this run only.
        return InterObjRep::isAlias(alias.c_str()) ? std::string("Nothing") : alias;
    }
    ValString text;
    f.get(text, obj, owner);
    const char* c = text;
    std::string s = c ? c : "";
    if (f.isEnumeration()) {
        // Boolean values read back as the language's own True and False.
        const EnumRep* e = f.enumeration();
        if (e && CompareIgnoringCase(e->name(), "Boolean") == 0) return s;
        // A display text ("2 - MatchOne") is written as the entry's name.
        if (!s.empty() && std::isdigit(static_cast<unsigned char>(s[0]))) {
            const size_t letter = s.find_first_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
            if (letter != std::string::npos) s.erase(0, letter);
        }
    } else if (t != IDT_STRING && t != IDT_CURRENCY) {
        return s;
    }
    if (s.size() > kMaxUnloadedText) return MakePrintableString(s.substr(0, kMaxUnloadedText)) + " ...";
    return MakePrintableString(s);
}

std::string Line(Field& f, InterObjRep& obj, SignatureRep& owner, const char* indent, int assignStyle) {
    std::string line = indent ? indent : "";
    line += ".";
    line += f.name();
    line += assignStyle ? " := " : " = ";
    line += ValueText(f, obj, owner);
    line += "\n";
    return line;
}

bool Unloadable(Field& f) {
    return f.isData() && !f.isReadOnly() && !f.isConst() && !f.isEmbed() && !f.isArrayData() &&
           !f.isByReference() && !f.isCompDataField();
}

}  // namespace

void InterObjRep::textUnload(const char* indent, std::string& out, int diffOnly, int assignStyle,
                             InterObjRep* propertyParent) {
    SignatureRep* own = signature();
    for (SignatureRep* s = own; s; s = s->parent()) {
        std::string lines;
        for (size_t i = 0; i < s->fields().length(); ++i) {
            Field* f = s->fields().at(i);
            if (!Unloadable(*f)) continue;
            SignatureRep* owner = nullptr;
            if (own->findField(f->name(), owner, 0) != f) continue;
            if (diffOnly && (s != own || isClone()) && propertyParent && propertyParent->signature() &&
                propertyParent->signature()->hasSignature(s)) {
                ValuePtr mine = SnapshotField(*f, *this, *s);
                ValuePtr theirs = SnapshotField(*f, *propertyParent, *s);
                if ((*mine == *theirs) != 0) continue;
            }
            lines += Line(*f, *this, *s, indent, assignStyle);
        }
        out.insert(0, lines);
    }
}

void InterObjRep::textFieldsUnload(const char** names, const char* indent, std::string& out) {
    for (const char** n = names; n && *n; ++n) textFieldUnload(*n, indent, out);
}

void InterObjRep::textFieldUnload(const char* name, const char* indent, std::string& out) {
    SignatureRep* owner = nullptr;
    Field* f = signature() ? signature()->findField(name, owner, 0) : nullptr;
    if (!f || !f->isData()) throw NotFound(32737, name);
    out += Line(*f, *this, *owner, indent, 0);
}

// The printable name of an object in a message: its alias, cut at 80
// characters.
const char* StoreException::ObjectName(InterObjRep* obj) {
    if (!obj) return ObjectNameFromAlias(nullptr);
    const std::string alias = obj->alias();
    return ObjectNameFromAlias(alias.c_str());
}

}  // namespace tq
