// Reading a text module into the store: the module level of the language
// (enumerations, objects and their members) built through the store's
// public builders. Procedures go through the code generator.
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "compiler/codegen.h"
#include "compiler/compileerror.h"
#include "compiler/lexer.h"
#include "compiler/parse.h"
#include "compiler/textmod.h"

namespace tq::compiler {

namespace {

std::string Text(std::string_view s) { return std::string(s); }

// A constant written in a declaration or an initial value, as the store
// takes it: a number, a text, an object or a name still to be resolved
// against the field it goes to.
struct Constant {
    enum Kind { None, Long, Double, String, Nothing, Name } kind = None;
    int32_t l = 0;
    double d = 0;
    std::string text;  // String's text, Name's dotted name
};

// The module being built, one file at a time.
class ModuleBuilder {
public:
    ModuleBuilder(tModuleIndex m, Diagnostics& errors) : m_(m), errors_(errors) {
        options_.isPrototypeName = [this](std::string_view name) {
            if (declared(name)) return true;
            InterObj o;
            return ObjectStore::find(spelled(name).c_str(), o) && !o.isNull();
        };
        options_.declaredSpelling = [this](std::string_view name) -> std::string_view {
            auto it = spellings_.find(FoldCase(name));
            return it == spellings_.end() ? std::string_view() : std::string_view(it->second);
        };
    }

    void build(const Module& module) {
        for (const ModuleItem& item : module.items) {
            if (item.kind == ItemKind::Enum) {
                spell(item.enumeration->name);
                for (const EnumEntry& entry : item.enumeration->entries) spell(entry.name);
            } else {
                spell(item.object->name);
                spellMembers(*item.object);
            }
        }
        for (const ModuleItem& item : module.items)
            if (item.kind == ItemKind::Enum) buildEnum(*item.enumeration);
        for (const ModuleItem& item : module.items)
            if (item.kind == ItemKind::Object) objects_[FoldCase(item.object->name)] = item.object;
        for (const ModuleItem& item : module.items)
            if (item.kind == ItemKind::Object) visit(*item.object);
        // Object values whose objects were still being made (two objects
        // that name each other) are set last.
        for (const Deferred& d : deferred_) setValue(*d.obj, *d.value);
    }

private:
    enum class State : uint8_t { Unseen, Building, Built };
    struct Deferred {
        InterObj obj;
        const InitialValue* value;
    };

    void error(SourcePos pos, std::string text) { errors_.add(pos, std::move(text)); }

    // ---- spelling ---------------------------------------------------------------
    //
    // The language ignores case and the store does not: every name a
    // program writes is looked up in the spelling it was declared with. The
    // first declaration of a name in the file wins; names the module's
    // prototypes in other modules declare are added as they are met.

    void spell(std::string_view name) {
        if (!name.empty()) spellings_.try_emplace(FoldCase(name), std::string(name));
    }

    void spellMembers(const ObjectDecl& d) {
        for (const ObjectMember& mem : d.members) {
            switch (mem.kind) {
                case MemberKind::Field:
                    for (const Declarator& v : mem.field->vars) spell(v.name);
                    break;
                case MemberKind::Event:
                    spell(mem.event->name);
                    break;
                case MemberKind::Declare:
                    spell(mem.declare->name);
                    break;
                case MemberKind::Procedure:
                    spell(mem.procedure->name);
                    break;
                case MemberKind::Embedded:
                    spell(mem.embedded->name);
                    spellMembers(*mem.embedded);
                    break;
                case MemberKind::InitialValue:
                    break;
            }
        }
    }

    // The names a prototype from elsewhere brings: its fields and events,
    // up its signature chain.
    void spellSignature(SignatureRep* sig) {
        for (; sig; sig = sig->parent()) {
            for (size_t i = 0; i < sig->fields().length(); ++i) spell(sig->fields().at(i)->name());
            for (size_t i = 0; i < sig->events().length(); ++i) spell(sig->events().at(i)->name());
        }
    }

    std::string spelled(std::string_view name) const {
        auto it = spellings_.find(FoldCase(name));
        return it == spellings_.end() ? std::string(name) : it->second;
    }

    // ---- enumerations --------------------------------------------------------

    void buildEnum(const EnumDecl& d) {
        const std::string name = Text(d.name);
        if (EnumRep::find(name.c_str())) {
            error(d.pos, "an enumeration named '" + name + "' already exists");
            return;
        }
        try {
            // The module's table holds it from here on.
            auto* e = new EnumRep(name.c_str(), 0);
            for (const EnumEntry& entry : d.entries) {
                const std::string entryName = Text(entry.name);
                // The parser refuses repeated names and values; this is the
                // store's own refusal, kept as a second guard.
                if (!e->addEntry(entryName.c_str(), entry.value))
                    error(entry.pos, "the entry '" + entryName + "' repeats a name or a value");
            }
        } catch (const StoreException& ex) {
            error(d.pos, ex.what());
        }
    }

    // ---- objects, each after what it is made from -----------------------------

    const ObjectDecl* declared(std::string_view name) const {
        auto it = objects_.find(FoldCase(name));
        return it == objects_.end() ? nullptr : it->second;
    }

    // The objects of this file a declaration needs before it is built:
    // hard ones (its prototype, its embedded objects' types) and soft ones
    // (objects its initial values name), recursively through embedded
    // declarations.
    void needs(const ObjectDecl& d, std::vector<std::string_view>& hard, std::vector<std::string_view>& soft) const {
        if (!d.from.empty()) hard.push_back(d.from);
        for (const ObjectMember& mem : d.members) {
            if (mem.kind == MemberKind::Embedded) {
                needs(*mem.embedded, hard, soft);
            } else if (mem.kind == MemberKind::Field) {
                for (const Declarator& v : mem.field->vars)
                    if (v.type.isNew && !v.type.name.empty()) hard.push_back(v.type.name);
            } else if (mem.kind == MemberKind::InitialValue) {
                const Expr* e = mem.value->value;
                if (e && e->kind == ExprKind::Name) soft.push_back(static_cast<const NameExpr*>(e)->name);
            }
        }
    }

    void visit(const ObjectDecl& d) {
        State& state = states_[&d];
        if (state != State::Unseen) return;
        state = State::Building;
        std::vector<std::string_view> hard, soft;
        needs(d, hard, soft);
        for (std::string_view n : hard) {
            const ObjectDecl* dep = declared(n);
            if (!dep || dep == &d) continue;
            if (states_[dep] == State::Building) {
                error(d.pos, "'" + Text(d.name) + "' and '" + Text(dep->name) + "' are each made from the other");
                continue;
            }
            visit(*dep);
        }
        for (std::string_view n : soft)
            if (const ObjectDecl* dep = declared(n); dep && states_[dep] == State::Unseen) visit(*dep);
        states_[&d] = State::Built;
        buildObject(d);
    }

    // Each step of a dotted path in its declared spelling.
    std::string spelledPath(std::string_view path) const {
        std::string out;
        for (size_t start = 0;;) {
            const size_t dot = path.find('.', start);
            out += spelled(path.substr(start, dot == std::string_view::npos ? dot : dot - start));
            if (dot == std::string_view::npos) return out;
            out += '.';
            start = dot + 1;
        }
    }

    InterObjRep* findObject(std::string_view name) {
        InterObj found;
        if (!ObjectStore::find(spelledPath(name).c_str(), found) || found.isNull()) return nullptr;
        return found.get();
    }

    void buildObject(const ObjectDecl& d) {
        const std::string name = Text(d.name);
        InterObjRep* proto = nullptr;
        if (!d.from.empty()) {
            proto = findObject(d.from);
            if (!proto) {
                error(d.pos, "there is no object named '" + Text(d.from) + "' to make '" + name + "' from");
                return;
            }
            spellSignature(proto->signature());
        }
        InterObj obj;
        try {
            ObjectStore::ValidateNewStaticGlobal(name.c_str(), m_);
            if (ObjectStore::contains(name.c_str()))
                throw StoreException(("an object named '" + name + "' already exists").c_str());
            obj = InterObjRep::NewNamed(name.c_str(), proto, m_, IOT_ORDINARY);
        } catch (const StoreException& ex) {
            error(d.pos, ex.what());
            return;
        }
        members(*obj, d);
    }

    // ---- members ------------------------------------------------------------------

    void members(InterObjRep& obj, const ObjectDecl& d) {
        for (const ObjectMember& mem : d.members) {
            if (errors_.full()) return;
            switch (mem.kind) {
                case MemberKind::Field:
                    fields(obj, *mem.field);
                    break;
                case MemberKind::Event:
                    event(obj, *mem.event);
                    break;
                case MemberKind::Declare:
                    declare(obj, *mem.declare);
                    break;
                case MemberKind::InitialValue:
                    initialValue(obj, *mem.value);
                    break;
                case MemberKind::Procedure:
                    procedure(obj, *mem.procedure);
                    break;
                case MemberKind::Embedded:
                    embedded(obj, *mem.embedded);
                    break;
            }
        }
    }

    // A field's type: a store type code, or an enumeration, or a prototype
    // name for object fields. False (with an error) when there is none.
    struct FieldType {
        IdType code = IDT_UNTYPED;
        EnumRep* enumeration = nullptr;
        std::string typeName;  // object fields: the prototype's name, empty for any
    };

    bool typeOf(const Declarator& v, const Constant* value, FieldType& out) {
        if (v.suffix) {
            out.code = static_cast<IdType>(v.suffix);
            return true;
        }
        switch (v.type.kind) {
            case TypeKind::None:
                // A constant without a type takes its value's.
                if (value) {
                    out.code = value->kind == Constant::String   ? IDT_STRING
                               : value->kind == Constant::Double ? IDT_DOUBLE
                                                                 : IDT_LONG;
                    return true;
                }
                error(v.pos, "expected 'As' and a type for the field '" + Text(v.name) + "'");
                return false;
            case TypeKind::Variant:
                error(v.type.pos, "a field cannot be a Variant; give it a type");
                return false;
            case TypeKind::Object:
                out.code = IDT_OBJECT;
                return true;
            case TypeKind::Named:
                if (EnumRep* e = EnumRep::find(Text(v.type.name).c_str())) {
                    out.code = IDT_LONG;
                    out.enumeration = e;
                    return true;
                }
                out.code = IDT_OBJECT;
                out.typeName = spelled(v.type.name);
                return true;
            default:
                out.code = static_cast<IdType>(v.type.kind);
                return true;
        }
    }

    static bool ConstantBound(const Expr* e, int32_t& out) {
        Constant c;
        if (!e || !Evaluate(e, c) || c.kind != Constant::Long) return false;
        out = c.l;
        return true;
    }

    Field* makeField(const DeclStmt& decl, const Declarator& v, const Constant* value) {
        const std::string name = Text(v.name);
        if (v.type.isNew) {
            if (v.isArray) {
                error(v.pos, "an embedded object cannot be an array");
                return nullptr;
            }
            return new EmbedObjField(name.c_str(), spelled(v.type.name).c_str());
        }
        FieldType t;
        if (!typeOf(v, value, t)) return nullptr;
        const char* typeName = t.typeName.empty() ? nullptr : t.typeName.c_str();
        if (v.isArray) {
            if (t.enumeration) {
                error(v.type.pos, "an array of an enumeration is not supported; declare it As Long");
                return nullptr;
            }
            if (decl.decl == DeclKind::Const) {
                error(v.pos, "a constant cannot be an array");
                return nullptr;
            }
            std::vector<std::pair<int32_t, int32_t>> bounds;
            for (const Bound& b : v.dims) {
                int32_t lower = 0, upper = 0;
                if ((b.lower && !ConstantBound(b.lower, lower)) || !ConstantBound(b.upper, upper)) {
                    error(b.upper ? b.upper->pos : v.pos, "an array bound must be a whole-number constant");
                    return nullptr;
                }
                bounds.emplace_back(lower, upper);
            }
            InterArrayField* a = InterArrayField::make(name.c_str(), t.code, static_cast<int32_t>(bounds.size()), typeName);
            if (!a) {
                error(v.pos, "the field '" + name + "' has a type an array cannot hold");
                return nullptr;
            }
            try {
                for (size_t i = 0; i < bounds.size(); ++i)
                    a->defineBounds(static_cast<int32_t>(i), bounds[i].first, bounds[i].second);
            } catch (...) {
                delete a;
                throw;
            }
            return a;
        }
        if (t.enumeration) return InterEnumField::make(name.c_str(), t.enumeration, 1);
        if (t.code == IDT_OBJECT && v.type.strictly) {
            if (!typeName) {
                error(v.type.pos, "'Strictly' needs the name of a prototype");
                return nullptr;
            }
            return new StrictInterObjField(name.c_str(), typeName);
        }
        InterDataField* f = InterDataField::make(name.c_str(), t.code, 1, typeName);
        if (!f) error(v.pos, "the field '" + name + "' has a type a field cannot hold");
        return f;
    }

    void fields(InterObjRep& obj, const DeclStmt& decl) {
        for (const Declarator& v : decl.vars) {
            Constant value;
            const bool isConst = decl.decl == DeclKind::Const;
            if (isConst && (!v.value || !Evaluate(v.value, value) || value.kind == Constant::Name ||
                            value.kind == Constant::Nothing)) {
                error(v.value ? v.value->pos : v.pos, "a constant's value must be a number or a text");
                continue;
            }
            Field* f = nullptr;
            try {
                f = makeField(decl, v, isConst ? &value : nullptr);
                if (!f) continue;
                if (decl.decl == DeclKind::Protected) f->setFlags(Field::kProtected);
                ValuePtr init;
                if (isConst) {
                    // A value that does not convert to the type throws.
                    init = ValueOf(value);
                    f->typeConvert(init);
                }
                Field* added = f;
                f = nullptr;
                obj.addField(added, init.get());
                if (isConst) added->setFlags(Field::kConst);
            } catch (const StoreException& ex) {
                delete f;
                error(v.pos, ex.what());
            }
        }
    }

    static ValuePtr ValueOf(const Constant& c) {
        switch (c.kind) {
            case Constant::Double:
                return ValuePtr(new DoubleValue(c.d));
            case Constant::String:
                return ValuePtr(new StringValue(ValString(c.text.c_str())));
            default:
                return ValuePtr(new LongValue(c.l));
        }
    }

    static IdType ReturnCode(const TypeRef& t, uint8_t suffix) {
        if (suffix) return static_cast<IdType>(suffix);
        switch (t.kind) {
            case TypeKind::None:
                return IDT_UNTYPED;
            case TypeKind::Named:
                return EnumRep::find(std::string(t.name).c_str()) ? IDT_LONG : IDT_OBJECT;
            default:
                return static_cast<IdType>(t.kind);
        }
    }

    void event(InterObjRep& obj, const EventDecl& e) {
        try {
            const std::string name = Text(e.name);
            obj.addEventDef(new EventDef(name.c_str(), static_cast<uint8_t>(ReturnCode(e.returnType, 0)),
                                         Text(e.argText).c_str(), 1));
        } catch (const StoreException& ex) {
            error(e.pos, ex.what());
        }
    }

    // A Declare line becomes the procedure of a shared library, which keeps
    // the line as written to print it back.
    void declare(InterObjRep& obj, const DeclareDecl& d) {
        std::unique_ptr<CDLLProcField> f = GenerateDeclare(d, errors_, options_);
        if (!f) return;
        try {
            obj.addField(f.release());
        } catch (const StoreException& ex) {
            error(d.pos, ex.what());
        }
    }

    void procedure(InterObjRep& obj, const Procedure& p) {
        std::unique_ptr<InterProcField> f = GenerateProcedure(p, errors_, options_);
        if (!f) return;
        try {
            // addField owns the field from its first statement, also when
            // it refuses it: the field must not be freed here again.
            obj.addField(f.release());
        } catch (const StoreException& ex) {
            error(p.pos, ex.what());
        }
    }

    void embedded(InterObjRep& host, const ObjectDecl& d) {
        const std::string name = spelled(d.name);
        InterObj e;
        try {
            SignatureRep* owner = nullptr;
            Field* existing = host.signature() ? host.signature()->findField(name.c_str(), owner, 0) : nullptr;
            if (existing && existing->isEmbed() && d.from.empty()) {
                // An embedded object the object already has (from its
                // prototype): the members apply to it.
                existing->get(e, host, *owner);
            } else {
                if (!d.from.empty() && !findObject(d.from)) {
                    error(d.pos, "there is no object named '" + Text(d.from) + "' to make '" + name + "' from");
                    return;
                }
                const std::string from = spelled(d.from);
                host.addField(new EmbedObjField(name.c_str(), d.from.empty() ? nullptr : from.c_str()));
                Field* f = host.signature()->findField(name.c_str(), owner, 0);
                if (f) f->get(e, host, *owner);
            }
        } catch (const StoreException& ex) {
            error(d.pos, ex.what());
            return;
        }
        if (e.isNull()) {
            error(d.pos, "the embedded object '" + name + "' could not be made");
            return;
        }
        members(*e, d);
    }

    // ---- initial values ---------------------------------------------------------

    static bool Evaluate(const Expr* e, Constant& out) {
        switch (e->kind) {
            case ExprKind::Integer:
                out.kind = Constant::Long;
                out.l = static_cast<const IntegerExpr*>(e)->value;
                return true;
            case ExprKind::Double:
                out.kind = Constant::Double;
                out.d = static_cast<const DoubleExpr*>(e)->value;
                return true;
            case ExprKind::String:
                out.kind = Constant::String;
                out.text = Text(static_cast<const StringExpr*>(e)->text);
                return true;
            case ExprKind::Bool:
                out.kind = Constant::Long;
                out.l = static_cast<const BoolExpr*>(e)->value ? -1 : 0;
                return true;
            case ExprKind::Nothing:
                out.kind = Constant::Nothing;
                return true;
            case ExprKind::Unary: {
                const auto* u = static_cast<const UnaryExpr*>(e);
                if (u->op != UnaryOp::Neg || !Evaluate(u->operand, out)) return false;
                if (out.kind == Constant::Long && out.l != INT32_MIN) {
                    out.l = -out.l;
                    return true;
                }
                if (out.kind == Constant::Double) {
                    out.d = -out.d;
                    return true;
                }
                return false;
            }
            case ExprKind::Name: {
                const auto* n = static_cast<const NameExpr*>(e);
                if (n->me || n->dotted || n->emptyParens || n->suffix) return false;
                out.kind = Constant::Name;
                out.text = Text(n->name);
                return true;
            }
            case ExprKind::Member: {
                // A path to an embedded object (Form1.Label) or an
                // enumeration's entry (Color.Red).
                std::string path;
                for (const Expr* piece : static_cast<const MemberExpr*>(e)->pieces) {
                    if (piece->kind != ExprKind::Name) return false;
                    const auto* n = static_cast<const NameExpr*>(piece);
                    if (n->me || n->dotted || n->emptyParens || n->suffix) return false;
                    if (!path.empty()) path += '.';
                    path += n->name;
                }
                out.kind = Constant::Name;
                out.text = path;
                return true;
            }
            default:
                return false;
        }
    }

    void initialValue(InterObjRep& obj, const InitialValue& v) {
        Constant c;
        if (!v.value || !Evaluate(v.value, c)) {
            error(v.value ? v.value->pos : v.pos, "an initial value must be a number, a text, True, False, Nothing, an enumeration's entry or an object's name");
            return;
        }
        if (c.kind == Constant::Name) {
            // An object still being made (objects that name each other) is
            // set when every object exists.
            const size_t dot = c.text.find('.');
            const ObjectDecl* dep = declared(std::string_view(c.text).substr(0, dot));
            if (dep && states_[dep] != State::Built) {
                deferred_.push_back(Deferred{InterObj(&obj), &v});
                return;
            }
            if (dep && !findObject(c.text.substr(0, dot))) {
                deferred_.push_back(Deferred{InterObj(&obj), &v});
                return;
            }
        }
        setValue(obj, v, &c);
    }

    void setValue(InterObjRep& obj, const InitialValue& v, const Constant* given = nullptr) {
        Constant c;
        if (given)
            c = *given;
        else if (!Evaluate(v.value, c))
            return;
        const std::string name = spelled(v.field);
        SignatureRep* owner = nullptr;
        Field* f = obj.signature() ? obj.signature()->findField(name.c_str(), owner, 0) : nullptr;
        const bool element = !v.indices.empty();
        if (!f || !f->isData() || f->isArrayData() != element) {
            error(v.pos, element ? "'" + name + "' is not an array field"
                                 : "'" + name + "' is not a field that holds a value");
            return;
        }
        if (f->isConst()) {
            error(v.pos, "'" + name + "' is a constant; its value is given where it is declared");
            return;
        }
        try {
            if (element) {
                const ValuePtr e = elementOf(obj, static_cast<InterArrayField&>(*f), *owner, v);
                if (e) store(c, *f, v, [&](const auto& x) { e->set(x); });
            } else if (c.kind == Constant::Name && f->isEnumeration()) {
                // "Red" or "Color.Red".
                std::string entry = c.text;
                if (const size_t dot = entry.rfind('.'); dot != std::string::npos) entry = entry.substr(dot + 1);
                f->set(ValString(spelled(entry).c_str()), obj, *owner);
            } else {
                store(c, *f, v, [&](const auto& x) { f->set(x, obj, *owner); });
            }
        } catch (const StoreException& ex) {
            error(v.value->pos, ex.what());
        }
    }

    // The element of array field a that v's indices name: each a whole
    // number within its dimension's bounds. Null after reporting why not.
    ValuePtr elementOf(InterObjRep& obj, InterArrayField& a, SignatureRep& owner, const InitialValue& v) {
        if (static_cast<int32_t>(v.indices.size()) != a.dimensions()) {
            error(v.pos, "'" + Text(v.field) + "' has " + std::to_string(a.dimensions()) +
                             (a.dimensions() == 1 ? " dimension" : " dimensions") + ", not " +
                             std::to_string(v.indices.size()));
            return nullptr;
        }
        std::vector<int32_t> at;
        for (const Expr* index : v.indices) {
            Constant c;
            if (!Evaluate(index, c) || c.kind != Constant::Long) {
                error(index->pos, "an element's index must be a whole-number constant");
                return nullptr;
            }
            at.push_back(c.l);
        }
        const int32_t offset = a.offsetOf(at.data());
        if (offset < 0) {
            error(v.pos, "an index of '" + Text(v.field) + "' lies outside its bounds");
            return nullptr;
        }
        return a.arrayElement(obj, owner, offset);
    }

    // Gives c to put, as the value of field f (or one of its elements): a
    // name must be an object's.
    template <class Put>
    void store(const Constant& c, Field& f, const InitialValue& v, Put&& put) {
        switch (c.kind) {
            case Constant::Long:
                put(c.l);
                break;
            case Constant::Double:
                put(c.d);
                break;
            case Constant::String:
                put(ValString(c.text.c_str()));
                break;
            case Constant::Nothing:
                put(InterObj());
                break;
            case Constant::Name: {
                if ((f.type() & IDT_TYPEMASK) != IDT_OBJECT) {
                    error(v.value->pos, "'" + c.text + "' is not a value for the field '" + Text(v.field) + "'");
                    return;
                }
                InterObj target;
                if (!ObjectStore::find(spelledPath(c.text).c_str(), target) || target.isNull()) {
                    error(v.value->pos, "there is no object named '" + c.text + "'");
                    return;
                }
                put(target);
                break;
            }
            case Constant::None:
                break;
        }
    }

    tModuleIndex m_;
    Diagnostics& errors_;
    CodegenOptions options_;
    std::unordered_map<std::string, std::string> spellings_;
    std::unordered_map<std::string, const ObjectDecl*> objects_;
    std::map<const ObjectDecl*, State> states_;
    std::vector<Deferred> deferred_;
};

// Makes module m the one being opened while it lives.
class OpenedModule {
public:
    explicit OpenedModule(tModuleIndex m) : previous_(ObjectStore::OpenModule()) { ObjectStore::OpenModule(m); }
    ~OpenedModule() {
        if (previous_ == DETACHED_MODULE || ObjectStore::ValidIndex(previous_)) ObjectStore::OpenModule(previous_);
    }
    OpenedModule(const OpenedModule&) = delete;
    OpenedModule& operator=(const OpenedModule&) = delete;

private:
    tModuleIndex previous_;
};

}  // namespace

void LoadTextModule(std::string_view source, std::string_view fileName, tModuleIndex m) {
    if (!ObjectStore::ValidIndex(m)) throw StoreException("A text module needs a loaded module to load into.");
    // A first line "#!/usr/bin/env tessaro run" makes the file a script the
    // shell runs; it is no part of the module. It reads as an empty line,
    // so that every later line keeps its number in errors.
    std::string withoutInterpreterLine;
    if (source.starts_with("#!")) {
        const size_t end = source.find('\n');
        withoutInterpreterLine = end == std::string_view::npos ? std::string() : std::string(source.substr(end));
        source = withoutInterpreterLine;
    }
    SyntaxTree tree = ParseModule(source, fileName);
    if (!tree.ok()) throw CompileError(tree.errors());
    Diagnostics errors{std::string(fileName)};
    {
        OpenedModule opened(m);
        ModuleBuilder builder(m, errors);
        builder.build(*tree.module());
    }
    if (!errors.empty()) throw CompileError(errors.take());
}

}  // namespace tq::compiler
