// The records of a module, read the way the store reads them: the module is
// loaded read-only and every thing of every table the library knows is
// faulted in and described.
#include <algorithm>
#include <exception>
#include <string>

#include "platform/util/pathsrch.h"
#include "store/errors/extexcep.h"
#include "store/arrayfld.h"
#include "store/block.h"
#include "store/deadsrc.h"
#include "store/field.h"
#include "store/interp/dllfld.h"
#include "store/methfld.h"
#include "store/model/enum.h"
#include "store/model/interobj.h"
#include "store/model/intfld.h"
#include "store/model/modwalk.h"
#include "store/model/objiter.h"
#include "store/model/sigrep.h"
#include "store/persist/descobj.h"
#include "store/persist/objstore.h"
#include "store/persist/proxy.h"
#include "store/persist/vlstrrep.h"
#include "store/sigproxy.h"
#include "store/vals.h"
#include "tools/tqdumplib/tqdump.h"

namespace tq::dump {

namespace {

// Texts longer than this are cut in the report; the length is given whole.
constexpr size_t kMaxText = 1000;
// Elements of a one-dimensional array shown with its bounds.
constexpr int32_t kMaxElements = 32;

Node Index(const tDescriptor& d) { return d.isNull() ? Node() : Node::Int(d.descIndex()); }

const char* KindOf(const Field& f) {
    if (f.isEmbed()) return "embed";
    if (f.isMethod()) return "method";
    if (f.isProcDataField()) return "property";
    if (f.isArrayData()) return "array";
    if (f.isEnumeration()) return "enumeration";
    if (f.isObjReference()) return "object";
    if (f.isByReference()) return "reference";
    if (f.isData()) return "data";
    return "other";
}

// What a procedure's record holds beside its blocks (which the Blocks
// table shows): its parameters, names, block indexes and dead source, or
// the text of one that is not compiled.
void DescribeProcedure(InterProcField& p, Node& d, Report& report) {
    d.add("procedure", p.isFunction() ? "Function" : "Sub");
    try {
        Node& params = d.add("parameters", Node::List());
        if (InterObjRep* proto = p.parameterPrototype()) {
            const FieldPtrList& fields = proto->signature()->fields();
            for (size_t i = 0; i < fields.length(); ++i) {
                Field* f = fields.at(i);
                Node& a = params.push(Node::Record());
                a.add("name", f->name());
                a.add("type", int64_t(f->type()));
                a.add("byReference", f->isByReference());
            }
        }
    } catch (const std::exception& ex) {
        report.fault(d, ex.what());
    }
    d.add("compiled", p.isCompiled());
    if (const char* text = p.sourceText()) {
        const std::string t(text);
        d.add("source", t.size() > kMaxText ? t.substr(0, kMaxText) + " ..." : t);
        return;
    }
    if (!p.isCompiled()) return;
    Node& names = d.add("identifiers", Node::List());
    for (uint32_t i = 0; i < p.identifiers().count(); ++i) {
        const char* name = p.identifiers()[i];
        names.push(name ? Node::Text(name) : Node());
    }
    Node& blocks = d.add("blocks", Node::List());
    for (uint32_t i = 0; i < p.blocks().length(); ++i) blocks.push(Index(p.blocks().ref(i).descriptor()));
    Node& dead = d.add("deadSource", Node::List());
    if (DeadSourceRep* ds = p.deadSource().get()) {
        static const char* const kinds[] = {"?", "text", "Rem", "'"};
        for (uint32_t i = 0; i < ds->count(); ++i) {
            Node& fragment = dead.push(Node::Record());
            fragment.add("line", ds->line(i));
            fragment.add("kind", kinds[ds->kind(i) <= 3 ? ds->kind(i) : 0]);
            fragment.add("text", ds->text(i));
        }
    }
    // The text a person edits, regenerated from the code and the dead
    // source; a block that fails its check is the fault of the record.
    try {
        d.add("regenerated", Node::Lines(p.getSource()));
    } catch (const std::exception& ex) {
        report.fault(d, std::string("regenerating the source: ") + ex.what());
    }
}

void DescribeSignature(SignatureRep& s, Node& n, Report& report) {
    n.add("flags", int64_t(s.flags()));
    SignatureRep* parent = s.parent();
    n.add("parent", parent ? Node::Int(parent->descriptor().descIndex()) : Node());
    n.add("dataSize", s.iDataSize());
    if (const GUID* id = s.classId()) n.add("classId", id->toString());
    Node& objects = n.add("objects", Node::List());
    for (size_t k = 0; k < s.objects().length(); ++k) objects.push(Index(s.objects()[k].descriptor()));
    Node& children = n.add("children", Node::List());
    for (size_t k = 0; k < s.children().length(); ++k) children.push(Index(s.children()[k].descriptor()));
    InterObjRep* proto = s.protoObject();
    Node& fields = n.add("fields", Node::List());
    for (size_t k = 0; k < s.fields().length(); ++k) {
        Field* f = s.fields().at(k);
        Node& d = fields.push(Node::Record());
        d.add("name", f->name());
        d.add("kind", KindOf(*f));
        d.add("type", int64_t(f->type()));
        if (f->isData()) d.add("offset", int64_t(static_cast<DataField*>(f)->fieldOffset()));
        d.add("size", int64_t(f->size()));
        d.add("flags", int64_t(f->flags()));
        if (const char* t = f->typeName()) d.add("typeName", t);
        std::string decl;
        f->declarationText(decl, proto);
        if (!decl.empty()) d.add("declaration", decl);
        if (auto* p = dynamic_cast<InterProcField*>(f)) {
            DescribeProcedure(*p, d, report);
        } else if (auto* l = dynamic_cast<CDLLProcField*>(f)) {
            d.add("library", l->dllName());
            if (l->hasAlias()) d.add("alias", l->alias());
            d.add("declared", Node::Lines(l->getSource()));
        }
    }
    Node& events = n.add("events", Node::List());
    for (size_t k = 0; k < s.events().length(); ++k) {
        EventDef* e = s.events().at(k);
        Node& d = events.push(Node::Record());
        d.add("name", e->name());
        d.add("arguments", e->args());
    }
}

// A data field's value: numbers as numbers, texts as texts, an object by
// its name, "#<index>" for an unnamed one of the module, or null.
Node ValueOf(Field& f, InterObjRep& o, SignatureRep& owner) {
    if (f.isEnumeration()) {
        ValString v;
        f.get(v, o, owner);
        const char* text = v;
        return Node::Text(text ? text : "");
    }
    switch (f.type() & IDT_TYPEMASK) {
        case IDT_SHORT:
        case IDT_LONG: {
            int32_t v = 0;
            f.get(v, o, owner);
            return Node::Int(v);
        }
        case IDT_FLOAT:
        case IDT_DOUBLE:
        case IDT_CURRENCY: {
            double v = 0;
            f.get(v, o, owner);
            return Node::Real(v);
        }
        case IDT_OBJECT: {
            InterObj v;
            f.get(v, o, owner);
            if (v.isNull()) return Node();
            if (v->isStaticObj()) return Node::Text(v->name());
            return Node::Text("#" + std::to_string(v->descriptor().descIndex()));
        }
        default: {
            ValString v;
            f.get(v, o, owner);
            const char* text = v;
            return Node::Text(text ? text : "");
        }
    }
}

Node ElementValue(Value& v) {
    switch (v.type() & IDT_TYPEMASK) {
        case IDT_SHORT:
        case IDT_LONG: return Node::Int(v.as<int32_t>());
        case IDT_FLOAT:
        case IDT_DOUBLE:
        case IDT_CURRENCY: return Node::Real(v.as<double>());
        case IDT_OBJECT: {
            InterObj o = v.as<InterObj>();
            if (o.isNull()) return Node();
            if (o->isStaticObj()) return Node::Text(o->name());
            return Node::Text("#" + std::to_string(o->descriptor().descIndex()));
        }
        default: {
            ValString text;
            v.get(text);
            const char* c = text;
            return Node::Text(c ? c : "");
        }
    }
}

// An array's bounds and, for one dimension, its first elements.
Node ArrayOf(InterArrayField& a, InterObjRep& o, SignatureRep& owner) {
    Node n = Node::Record();
    n.add("type", int64_t(a.type()));
    Node& bounds = n.add("bounds", Node::List());
    for (int32_t k = 0; k < a.dimensions(); ++k) {
        Node& b = bounds.push(Node::List());
        b.push(Node::Int(a.getLBound(k)));
        b.push(Node::Int(a.getUBound(k)));
    }
    if (a.dimensions() != 1) return n;
    Node& elements = n.add("elements", Node::List());
    const int32_t last = std::min(a.getUBound(0), a.getLBound(0) + kMaxElements - 1);
    for (int32_t i = a.getLBound(0); i <= last; ++i) {
        ValueList index;
        index.ppush(ValuePtr(new LongValue(i)));
        ValuePtr v = a.eval(o, owner, &index);
        elements.push(ElementValue(*v));
    }
    return n;
}

void DescribeObject(InterObjRep& o, tModuleIndex m, Node& n) {
    n.add("kind", o.isStaticObj() ? "named" : o.isEmbeddedObj() ? "embedded" : "plain");
    if (o.isStaticObj()) n.add("name", o.name());
    if (InterObjRep* h = o.host()) {
        n.add("host", h->descriptor().descIndex());
        // A path names the object in every run; a generated alias does not.
        const std::string alias = o.alias();
        if (!InterObjRep::isAlias(alias.c_str())) n.add("path", alias);
    }
    n.add("flags", int64_t(o.objFlags()));
    n.add("prototype", o.isProto());
    n.add("signature", Index(o.signatureRef().descriptor()));
    n.add("dataSize", o.dataSize());
    if (ObjectStore::DynamicsList(m).contains(&o)) n.add("dynamic", true);
    if (ObjectStore::IsPreload(&o)) n.add("preload", true);
    Node& values = n.add("values", Node::Record());
    Node arrays = Node::Record();
    InterObjFieldIterator fields(&o);
    while (Field* f = fields()) {
        if (f->isArrayData()) {
            arrays.add(f->name(), ArrayOf(*static_cast<InterArrayField*>(f), o, *fields.signature()));
            continue;
        }
        if (!f->isData() || f->isEmbed() || f->isByReference() || f->isProcDataField() || f->isCompDataField())
            continue;
        values.add(f->name(), ValueOf(*f, o, *fields.signature()));
    }
    n.add("arrays", std::move(arrays));
    Node& embeds = n.add("embeds", Node::List());
    InterObjEmbedIterator it(&o);
    while (Field* f = it()) {
        Node& e = embeds.push(Node::Record());
        e.add("field", f->name());
        e.add("object", it.embed() ? Node::Int(it.embed()->descriptor().descIndex()) : Node());
    }
}

void DescribeEnumeration(EnumRep& e, Node& n) {
    n.add("name", e.name());
    n.add("display", e.displayFlag());
    Node& entries = n.add("entries", Node::List());
    for (int32_t i = 0; i < e.count(); ++i) {
        Node& d = entries.push(Node::Record());
        d.add("name", e.entries().at(i).name);
        d.add("value", e.entries().at(i).value);
    }
}

void DescribeString(ValStringRep& s, Node& n) {
    n.add("count", int64_t(s.refCount()));
    n.add("length", int64_t(s.text().size()));
    if (s.text().size() > kMaxText) {
        n.add("text", s.text().substr(0, kMaxText));
        n.add("cut", true);
    } else {
        n.add("text", s.text());
    }
}

// Faults every thing of kind T in module m and describes it with describe.
template <class T, class Describe>
void DumpKind(tModuleIndex m, Node& into, Report& report, Describe&& describe) {
    DumpEntries(DescribedObjectNoDescriptor<T>::descriptionTable(m), T::storageName, into,
                [&](uint32_t i, const Description&, Node& n) {
                    try {
                        T* thing = DescribedObjectNoDescriptor<T>::fault(tDescriptor::Make(m, i));
                        if (thing) describe(*thing, n);
                    } catch (const ProxyResolveFailed& ex) {
                        // The record is sound; what it refers to lies in a
                        // module that is not loaded here. That is no fault
                        // of this file.
                        n.add("unresolved", ex.what());
                    } catch (const std::exception& ex) {
                        report.fault(n, ex.what());
                    }
                });
}

// Whether a failure is one the report has: the same text, or the second
// reading of a record whose first failure it gave.
bool Reported(const Report& report, const std::string& text) {
    for (const std::string& f : report.faults)
        if (f == text || (f.size() > text.size() && f.compare(f.size() - text.size(), text.size(), text) == 0))
            return true;
    const std::string prefix = "Unable to load object: ", again = ": the record cannot be read";
    if (text.rfind(prefix, 0) != 0 || text.size() < prefix.size() + again.size() ||
        text.compare(text.size() - again.size(), again.size(), again) != 0)
        return false;
    const std::string entry = text.substr(prefix.size(), text.size() - prefix.size() - again.size()) + ":";
    for (const std::string& f : report.faults)
        if (f.find(entry) != std::string::npos) return true;
    return false;
}

}  // namespace

bool KindIsRead(const std::string& stream) {
    return stream == InterObjRep::storageName || stream == BlockRep::storageName ||
           stream == SignatureRep::storageName ||
           stream == ValStringRep::storageName || stream == EnumRep::storageName ||
           stream == InterObjProxy::storageName || stream == EnumProxy::storageName ||
           stream == SignatureProxy::storageName;
}

void DumpRecords(const std::string& path, Report& report) {
    Node& records = report.root.add("records", Node::Record());
    tModuleIndex m = NO_MODULE;
    try {
        m = ObjectStore::LoadModule(FullPathName(path).c_str(), 0, 1);
    } catch (const std::exception& e) {
        report.fault(records, std::string("the module does not load: ") + e.what());
        return;
    }
    if (!ObjectStore::ValidIndex(m)) {
        report.fault(records, "the module does not load");
        return;
    }
    // Enumerations and signatures first: reading an object reads its
    // signature, and a signature the enumerations its fields name.
    DumpKind<EnumRep>(m, records, report, [](EnumRep& e, Node& n) { DescribeEnumeration(e, n); });
    DumpKind<SignatureRep>(m, records, report,
                           [&report](SignatureRep& s, Node& n) { DescribeSignature(s, n, report); });
    DumpKind<InterObjRep>(m, records, report, [m](InterObjRep& o, Node& n) { DescribeObject(o, m, n); });
    DumpKind<ValStringRep>(m, records, report, [](ValStringRep& s, Node& n) { DescribeString(s, n); });
    DumpBlocks(m, records, report);
    // A proxy names its target in another module by text; that text is what
    // a person needs to see to know what the module expects to find.
    DumpKind<InterObjProxy>(m, records, report, [](InterObjProxy& p, Node& n) { n.add("text", p.text()); });
    DumpKind<EnumProxy>(m, records, report, [](EnumProxy& p, Node& n) { n.add("text", p.text()); });
    DumpKind<SignatureProxy>(m, records, report, [](SignatureProxy& p, Node& n) { n.add("text", p.text()); });
    // The verdict is the library's: the module is read the way programs and
    // saves reach it, every value of every object, and what fails is a fault
    // of the file (once, where it was first met).
    for (const WalkFault& f : WalkModule(m))
        if (!Reported(report, f.text)) report.fault(records, f.where + ": " + f.text);
    ObjectStore::UnloadModule(ObjectStore::Module(m));
    InterObjRep::DeleteObjects();
}

void DumpEntries(const VoidDescriptionTable* table, const char* stream, Node& into,
                 const std::function<void(uint32_t, const Description&, Node&)>& each) {
    Node& list = into.add(stream, Node::List());
    if (!table) return;
    for (uint32_t i = 0; i < table->count(); ++i) {
        const Description& e = table->entry(i);
        if (!e.exists()) continue;
        Node& n = list.push(Node::Record());
        n.add("index", i);
        n.add("bytes", e.length());
        each(i, e, n);
    }
}

}  // namespace tq::dump
