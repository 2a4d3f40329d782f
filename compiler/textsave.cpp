// Writing a module as a text module: what textload.cpp reads, produced
// from the store.
#include <charconv>
#include <cmath>
#include <cstring>
#include <queue>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "compiler/textmod.h"

namespace tq::compiler {

namespace {

constexpr const char* kStep = "  ";

// Appends text (lines ending in "\r\n" or "\n") one line at a time, each
// indented and ending in "\n"; empty lines stay empty.
void AppendLines(std::string& out, std::string_view text, const std::string& indent) {
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!line.empty()) out += indent;
        out += line;
        out += '\n';
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
}

// A number the compiler reads back to the same value: the shortest text
// that does, with a decimal point when a whole number would be too large
// for a Long literal.
template <class T>
std::string NumberText(T v) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    std::string s(buf, r.ptr);
    if (s.find_first_of(".e") == std::string::npos && (v > 2147483647.0 || v < -2147483648.0)) s += ".0";
    return s;
}

// An amount of money as a number the loader reads back to the same
// hundredths: the loader sets a Currency from a number as amount * 100, so
// the amount written is the one nearest hundredths / 100 that gives them
// back exactly. A few hundredths no amount reaches (multiplying by 100
// skips some doubles) get the nearest amount.
std::string MoneyText(double hundredths) {
    const double amount = hundredths / 100.0;
    double below = amount, above = amount;
    for (int step = 0; step < 4; ++step) {
        if (above * 100.0 == hundredths) return NumberText(above);
        if (below * 100.0 == hundredths) return NumberText(below);
        above = std::nextafter(above, HUGE_VAL);
        below = std::nextafter(below, -HUGE_VAL);
    }
    return NumberText(amount);
}

// The static object whose text holds o: o itself, or the object that
// hosts it.
InterObjRep* TopOf(InterObjRep* o) {
    InterObjRep* host = o ? o->rootHost() : nullptr;
    return host ? host : o;
}

// The text of one value of type t as an initial value reads it; get(x)
// reads the value (a field's or an array element's) as x's type. e: the
// enumeration the value is of, if any. named, if given, gains the static
// object whose text holds an object the value names.
template <class Get>
std::string ValueText(IdType t, const EnumRep* e, Get&& get, std::vector<InterObjRep*>* named = nullptr) {
    t = static_cast<IdType>(t & IDT_TYPEMASK);
    if (t == IDT_OBJECT) {
        InterObj o;
        get(o);
        if (o.isNull()) return "Nothing";
        const std::string alias = o->alias();
        // An object without a name (a generated alias) belongs to this run
        // only; a text module cannot name it.
        if (InterObjRep::isAlias(alias.c_str())) return "Nothing";
        if (named) named->push_back(TopOf(o.get()));
        return alias;
    }
    if (e) {
        int32_t v = 0;
        get(v);
        if (const EnumEntry* entry = e->entries().findValue(v)) return entry->name;
        return std::to_string(v);
    }
    switch (t) {
        case IDT_SHORT:
        case IDT_LONG: {
            int32_t v = 0;
            get(v);
            return std::to_string(v);
        }
        case IDT_FLOAT: {
            float v = 0;
            get(v);
            if (std::isfinite(v)) return NumberText(v);
            break;
        }
        case IDT_DOUBLE: {
            double v = 0;
            get(v);
            if (std::isfinite(v)) return NumberText(v);
            break;
        }
        case IDT_CURRENCY: {
            Currency v;
            get(v);
            if (std::isfinite(v.hundredths())) return MoneyText(v.hundredths());
            break;
        }
        default:
            break;
    }
    // Texts and numbers no literal can write go as a
    // quoted text, which the field converts back when it is set. It is the
    // language's own literal (control characters as "^" escapes), not the
    // listing form that joins Chr$() pieces with "&": an initial value is
    // one constant, and the loader reads nothing else.
    ValString text;
    get(text);
    const char* c = text;
    return StringLiteralText(c ? c : "");
}

std::string ValueText(Field& f, InterObjRep& obj, SignatureRep& owner, std::vector<InterObjRep*>* named = nullptr) {
    const EnumRep* e = f.isEnumeration() ? f.enumeration() : nullptr;
    return ValueText(f.type(), e, [&](auto& x) { f.get(x, obj, owner); }, named);
}

std::string ElementText(InterArrayField& a, InterObjRep& obj, SignatureRep& owner, int32_t offset,
                        std::vector<InterObjRep*>* named = nullptr) {
    const ValuePtr v = a.arrayElement(obj, owner, offset);
    return ValueText(a.type(), nullptr, [&](auto& x) { v->get(x); }, named);
}

// What a new object's field holds before anything is set.
bool IsDefaultText(Field& f, const std::string& text) {
    const IdType t = static_cast<IdType>(f.type() & IDT_TYPEMASK);
    if (t == IDT_OBJECT) return text == "Nothing";
    if (t == IDT_STRING) return text == "\"\"";
    if (f.isEnumeration()) {
        const EnumRep* e = f.enumeration();
        const EnumEntry* zero = e ? e->entries().findValue(0) : nullptr;
        return text == (zero ? zero->name : std::string("0"));
    }
    return text == "0" || text == "\"0\"";
}

// A field whose value (or, for an array, whose elements) an initial value
// sets.
bool Unloadable(Field& f) {
    return f.isData() && !f.isReadOnly() && !f.isConst() && !f.isEmbed() && !f.isByReference() &&
           !f.isCompDataField();
}

InterObjRep* EmbeddedObject(Field& f, InterObjRep& obj) {
    SignatureRep* owner = nullptr;
    if (!obj.signature() || obj.signature()->findField(f.name(), owner, 0) != &f) return nullptr;
    InterObj e;
    f.get(e, obj, *owner);
    return e.get();
}

// Whether obj holds the signature it is the prototype of (its fields and
// events are its own declarations).
bool OwnsSignature(InterObjRep& obj) {
    SignatureRep* sig = obj.signature();
    return sig && obj.isProto() && sig->protoObject() == &obj;
}

class Writer {
public:
    std::string out;
    // The static objects whose texts hold the objects the values written
    // name (with repeats): the reader makes those before this object.
    std::vector<InterObjRep*> named;

    void object(InterObjRep& obj) {
        std::string from;
        if (InterObjRep* proto = prototypeOf(obj)) {
            const char* n = proto->name();
            if (n && *n) from = std::string(" From ") + n;
        }
        out += std::string("Begin Object ") + obj.name() + from + "\n";
        body(obj, kStep);
        out += "End Object\n";
    }

    void enumeration(const EnumRep& e) {
        out += std::string("Enum ") + e.name() + "\n";
        const EnumEntryList& entries = e.entries();
        for (int32_t i = 0; i < entries.count(); ++i)
            out += std::string(kStep) + entries.at(i).name + " = " + std::to_string(entries.at(i).value) + "\n";
        out += "End Enum\n";
    }

private:
    // The object obj is made from: the prototype of its signature's parent
    // for a prototype, its prototype for a clone; null for a root.
    static InterObjRep* prototypeOf(InterObjRep& obj) {
        SignatureRep* sig = obj.signature();
        if (!sig) return nullptr;
        if (OwnsSignature(obj)) return sig->parent() ? sig->parent()->protoObject() : nullptr;
        return obj.protoObject();
    }

    // baseline: what obj's values are compared with when it does not own
    // its signature (null: its prototype).
    void body(InterObjRep& obj, const std::string& indent, InterObjRep* baseline = nullptr) {
        SignatureRep* sig = obj.signature();
        if (!sig) return;
        const bool own = OwnsSignature(obj);
        std::vector<MethodField*> procedures;
        std::vector<std::pair<Field*, InterObjRep*>> embedded;
        if (own) {
            const FieldPtrList& fields = sig->fields();
            for (size_t i = 0; i < fields.length(); ++i) {
                Field* f = fields.at(i);
                if (f->isMethod()) {
                    // Declare lines stand among the procedures, as written.
                    if (dynamic_cast<InterProcField*>(f) || dynamic_cast<CDLLProcField*>(f))
                        procedures.push_back(static_cast<MethodField*>(f));
                    continue;
                }
                if (f->isCompDataField()) continue;
                if (f->isEmbed()) {
                    InterObjRep* e = EmbeddedObject(*f, obj);
                    if (e && OwnsSignature(*e)) {
                        embedded.emplace_back(f, e);
                        continue;
                    }
                }
                std::string decl;
                f->declarationText(decl, &obj);
                if (!decl.empty()) AppendLines(out, decl, indent);
            }
            const EventDefPtrList& events = sig->events();
            for (size_t i = 0; i < events.length(); ++i) {
                const EventDef* e = events.at(i);
                std::string line = std::string("Event ") + e->name() + e->args();
                if (e->returnsValue())
                    line += std::string(" As ") + IdTypeString(static_cast<IdType>(e->returnsValue())).string();
                AppendLines(out, line, indent);
            }
        }
        if (own || !baseline) baseline = own ? (sig->parent() ? sig->parent()->protoObject() : nullptr) : obj.protoObject();
        values(obj, baseline, indent);
        for (MethodField* p : procedures) AppendLines(out, p->getSource(), indent);
        for (const auto& [f, e] : embedded) {
            std::string decl;
            f->declarationText(decl, &obj);
            AppendLines(out, decl, indent);
            body(*e, indent + kStep);
            AppendLines(out, "End Type", indent);
        }
        embeddedValues(obj, baseline, embedded, indent);
    }

    // The values that differ from what the object starts with: its
    // prototype's (or its parent prototype's for inherited fields), else a
    // new object's. The root signature's fields come first.
    void values(InterObjRep& obj, InterObjRep* baseline, const std::string& indent) {
        SignatureRep* sig = obj.signature();
        std::vector<SignatureRep*> chain;
        for (SignatureRep* s = sig; s; s = s->parent()) chain.insert(chain.begin(), s);
        for (SignatureRep* s : chain) {
            const FieldPtrList& fields = s->fields();
            for (size_t i = 0; i < fields.length(); ++i) {
                Field* f = fields.at(i);
                if (!Unloadable(*f)) continue;
                SignatureRep* owner = nullptr;
                if (sig->findField(f->name(), owner, 0) != f) continue;
                const bool inherits =
                    baseline && baseline != &obj && baseline->signature() && baseline->signature()->hasSignature(s);
                if (f->isArrayData()) {
                    elements(static_cast<InterArrayField&>(*f), obj, *owner, inherits ? baseline : nullptr, indent);
                    continue;
                }
                const size_t mark = named.size();
                const std::string mine = ValueText(*f, obj, *owner, &named);
                if (inherits ? mine == ValueText(*f, *baseline, *owner) : IsDefaultText(*f, mine)) {
                    named.resize(mark);
                    continue;
                }
                AppendLines(out, "." + std::string(f->name()) + " = " + mine, indent);
            }
        }
    }

    // The elements of array a that differ, each as ".Name(i, j) = value",
    // in the order they lie (the last index varying fastest).
    void elements(InterArrayField& a, InterObjRep& obj, SignatureRep& owner, InterObjRep* baseline,
                  const std::string& indent) {
        const int32_t n = a.dimensions();
        if (n == 0 || a.elementCount() == 0) return;
        std::vector<int32_t> at(static_cast<size_t>(n));
        for (int32_t k = 0; k < n; ++k) at[static_cast<size_t>(k)] = a.getLBound(k);
        const size_t size = static_cast<size_t>(a.elementSize());
        // Equal bytes are an equal value (the same text or object for a
        // reference): most elements of a large array are passed over
        // without making their text. Without a baseline, the bytes of the
        // first element found to hold a new object's value stand for it.
        std::vector<uint8_t> unset;
        for (;;) {
            const int32_t offset = a.offsetOf(at.data());
            const uint8_t* bytes = a.elementBytes(obj, owner, offset, static_cast<int32_t>(size));
            const uint8_t* theirs =
                baseline ? a.elementBytes(*baseline, owner, offset, static_cast<int32_t>(size))
                         : (unset.empty() ? nullptr : unset.data());
            if (!theirs || std::memcmp(bytes, theirs, size) != 0) {
                const size_t mark = named.size();
                const std::string mine = ElementText(a, obj, owner, offset, &named);
                if (baseline ? mine != ElementText(a, *baseline, owner, offset) : !IsDefaultText(a, mine)) {
                    std::string target = "." + std::string(a.name());
                    for (int32_t k = 0; k < n; ++k)
                        target += (k ? ", " : "(") + std::to_string(at[static_cast<size_t>(k)]);
                    AppendLines(out, target + ") = " + mine, indent);
                } else {
                    named.resize(mark);
                    if (!baseline && unset.empty()) unset.assign(bytes, bytes + size);
                }
            }
            int32_t k = n - 1;
            while (k >= 0 && at[static_cast<size_t>(k)] == a.getUBound(k)) {
                at[static_cast<size_t>(k)] = a.getLBound(k);
                --k;
            }
            if (k < 0) return;
            ++at[static_cast<size_t>(k)];
        }
    }

    // Embedded objects the object does not declare as prototypes of its
    // own (inherited ones, embedded clones): only their values that differ
    // from the same embedded object of the object's baseline (or from their
    // prototype's), as "Type Name" ... "End Type" around them.
    void embeddedValues(InterObjRep& obj, InterObjRep* baseline,
                        const std::vector<std::pair<Field*, InterObjRep*>>& declared, const std::string& indent) {
        std::vector<SignatureRep*> chain;
        for (SignatureRep* s = obj.signature(); s; s = s->parent()) chain.insert(chain.begin(), s);
        for (SignatureRep* s : chain) {
            const FieldPtrList& fields = s->fields();
            for (size_t i = 0; i < fields.length(); ++i) {
                Field* f = fields.at(i);
                if (!f->isEmbed()) continue;
                bool isDeclared = false;
                for (const auto& d : declared) isDeclared = isDeclared || d.first == f;
                if (isDeclared) continue;
                InterObjRep* e = EmbeddedObject(*f, obj);
                if (!e || OwnsSignature(*e)) continue;
                InterObjRep* theirs = nullptr;
                if (baseline && baseline != &obj && baseline->signature() && baseline->signature()->hasSignature(s))
                    theirs = EmbeddedObject(*f, *baseline);
                Writer inner;
                inner.body(*e, indent + kStep, theirs);
                if (inner.out.empty()) continue;
                named.insert(named.end(), inner.named.begin(), inner.named.end());
                AppendLines(out, std::string("Type ") + f->name(), indent);
                out += inner.out;
                AppendLines(out, "End Type", indent);
            }
        }
    }
};

// The order the objects are written in: the order the module made them, so
// that a module built from the text makes them in that order again (a
// prototype lists its clones, and its child prototypes, by it). Each of
// the module's signatures' object list (newest first, the prototype last)
// and child list (oldest first) give that order among the objects of one
// signature; each object's entry in the module's table gives it elsewhere.
// An object still follows what the reader makes before it: what it is made
// from, the prototypes of what it embeds and the objects its values name.
// Where those needs contradict the order made (a value naming an object
// made later), the needs win; where they go round in a circle (objects
// naming each other), the object made first goes first.
std::vector<size_t> WritingOrder(const std::vector<InterObjRep*>& objects, const std::vector<Writer>& texts) {
    const size_t n = objects.size();
    std::unordered_map<const InterObjRep*, size_t> at;
    for (size_t i = 0; i < n; ++i) at.emplace(objects[i], i);
    auto indexOf = [&](InterObjRep* o) {
        auto it = at.find(TopOf(o));
        return it == at.end() ? n : it->second;
    };
    // after[i]: the objects that wait for i; needs/made: how many objects
    // each one waits for, by what it needs and by the order made.
    std::vector<std::vector<std::pair<size_t, bool>>> after(n);
    std::vector<size_t> needs(n), made(n);
    auto edge = [&](size_t from, size_t to, bool need) {
        if (from >= n || to >= n || from == to) return;
        after[from].emplace_back(to, need);
        ++(need ? needs : made)[to];
    };
    std::vector<SignatureRep*> signatures;
    std::unordered_set<const SignatureRep*> seen;
    for (size_t i = 0; i < n; ++i) {
        std::vector<SignatureRep*> deps;
        objects[i]->dependencySignatures(deps);
        for (SignatureRep* s : deps) {
            if (InterObjRep* proto = s->protoObject()) edge(indexOf(proto), i, true);
            // Another module's signature lists this module's things in the
            // order they were read, not made.
            if (s->moduleIndex() == objects[i]->moduleIndex() && seen.insert(s).second) signatures.push_back(s);
        }
        for (InterObjRep* o : texts[i].named) edge(indexOf(o), i, true);
    }
    // One chain per list, through the objects in the order made (an object
    // whose text holds several in a row counts once).
    auto chain = [&](auto&& nth, size_t count) {
        size_t last = n;
        for (size_t k = 0; k < count; ++k) {
            const size_t i = indexOf(nth(k));
            if (i == n || i == last) continue;
            edge(last, i, false);
            last = i;
        }
    };
    for (SignatureRep* s : signatures) {
        PrimInterObjList& list = s->objects();
        chain([&](size_t k) { return list[list.length() - 1 - k].get(); }, list.length());
        PrimSignatureList& children = s->children();
        chain([&](size_t k) {
            SignatureRep* c = children[k].get();
            return c ? c->protoObject() : nullptr;
        }, children.length());
    }
    auto key = [&](size_t i) { return objects[i]->descriptor().descIndex(); };
    std::vector<bool> done(n);
    std::vector<size_t> order;
    order.reserve(n);
    // The ready objects, first made first.
    auto later = [&](size_t a, size_t b) { return key(a) > key(b); };
    std::priority_queue<size_t, std::vector<size_t>, decltype(later)> ready(later);
    auto firstMade = [&](bool needsMet) {
        size_t best = n;
        for (size_t i = 0; i < n; ++i)
            if (!done[i] && (!needsMet || !needs[i]) && (best == n || key(i) < key(best))) best = i;
        return best;
    };
    for (size_t i = 0; i < n; ++i)
        if (!needs[i] && !made[i]) ready.push(i);
    while (order.size() < n) {
        size_t next = n;
        while (!ready.empty() && next == n) {
            next = ready.top();
            ready.pop();
            if (done[next]) next = n;
        }
        // Stuck on a circle: the first made of the objects whose needs are
        // met, else of all that are left.
        if (next == n) next = firstMade(true);
        if (next == n) next = firstMade(false);
        done[next] = true;
        order.push_back(next);
        for (const auto& [to, need] : after[next])
            if (!done[to] && --(need ? needs : made)[to] == 0 && !needs[to] && !made[to]) ready.push(to);
    }
    return order;
}

}  // namespace

std::string TextModuleText(tModuleIndex m) {
    if (!ObjectStore::ValidIndex(m)) throw StoreException("There is no such module to write as text.");
    Writer w;
    bool first = true;
    auto separate = [&] {
        if (!first) w.out += '\n';
        first = false;
    };
    if (DescriptionTable<EnumRep>* table = DescribedObjectNoDescriptor<EnumRep>::descriptionTable(m)) {
        for (uint32_t i = 0; i < table->count(); ++i) {
            if (!table->entry(i).exists()) continue;
            EnumRep* e = DescribedObjectNoDescriptor<EnumRep>::fault(tDescriptor::Make(m, i));
            if (!e) continue;
            separate();
            w.enumeration(*e);
        }
    }
    GroupObjectList all;
    ObjectStore::GetStaticObjects(m, all, 0);
    std::vector<InterObjRep*> objects;
    for (size_t i = 0; i < all.length(); ++i)
        if (InterObjRep* o = all[i].get(); o && o->name()) objects.push_back(o);
    std::vector<Writer> texts(objects.size());
    for (size_t i = 0; i < objects.size(); ++i) texts[i].object(*objects[i]);
    for (const size_t i : WritingOrder(objects, texts)) {
        separate();
        w.out += texts[i].out;
    }
    return w.out;
}

void CheckTextKeepsPrototypes(tModuleIndex m) {
    DescriptionTable<SignatureProxy>* table = DescribedObjectNoDescriptor<SignatureProxy>::descriptionTable(m);
    for (uint32_t i = 0; table && i < table->count(); ++i) {
        if (!table->entry(i).exists()) continue;
        const SignatureProxy* p = DescribedObjectNoDescriptor<SignatureProxy>::fault(tDescriptor::Make(m, i));
        const SignatureRep* s = p ? p->signature() : nullptr;
        if (s && s->moduleIndex() == m)
            throw StoreException("Cannot write the module as text: its objects are made from " + p->text() +
                                 " of a module that is not loaded, and the text would lose what they inherit "
                                 "from it (load that module first)");
    }
}

}  // namespace tq::compiler
