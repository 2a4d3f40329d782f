#include "store/builtin/igroup.h"

#include <new>
#include <string>

#include "store/errors/extexcep.h"
#include "store/interp/fornext.h"
#include "store/model/enum.h"
#include "store/model/objval.h"
#include "store/model/sigrep.h"
#include "store/persist/proxy.h"
#include "store/vals.h"

namespace tq {
namespace {

// The group part behind a program's object value: the value must be a
// group (TypeMismatch otherwise).
bool ForEachMembers(InterObjRep* obj, std::vector<InterObj>& members) {
    iGroup* g = iGroup::Of(obj);
    if (!g) return false;
    g->members(members);
    return true;
}

GroupObjectList* GroupListOf(InterObjRep* obj) {
    iGroup* g = iGroup::Of(obj);
    if (!g) return nullptr;
    // What the store hands back is a change the module must save.
    g->noteChange();
    return &g->list();
}

IInterObj* MakeGroup(DllServer* server) { return new iGroup(server); }

// The seams the interpreter and the store leave for groups, filled when the
// class is first published.
void ConnectSeams() {
    ForNext::groupMembers = &ForEachMembers;
    ObjectStore::groupListOf = &GroupListOf;
}

// An index given by a program, checked against [0, limit).
void CheckIndex(int32_t index, int32_t count, int32_t reportedHigh) {
    if (index < 0 || index >= count) throw RangeError(32727, 0, reportedHigh, index);
}

}  // namespace

PublishedClass& iGroup::Class() {
    static PublishedClass* const cls = [] {
        ConnectSeams();
        return new PublishedClass("Tessaro.Group", "Group", "{A7231B86-E641-4B10-AD5F-5F05F11584FA}", &MakeGroup);
    }();
    return *cls;
}

iGroup::iGroup(DllServer* server) : IInterObj(server) {}

iGroup::~iGroup() = default;

iGroup* iGroup::Of(InterObjRep* obj) {
    if (!obj || obj->isDestroyed()) return nullptr;
    return dynamic_cast<iGroup*>(obj->compiledPart());
}

// ---- members --------------------------------------------------------------------------------

void iGroup::PO_DefineFields(SignatureRep& sig) {
    DefineFields(sig, [&] {
        EnumRep* evalRequires = EnsureEvalRequiresEnum();
        EnumRep* boolean = EnsureBooleanEnum();
        sig.addField(CompProcDataField::make("Count", IDT_LONG, NoSetter, Method(&iGroup::pdGetCount)), nullptr, 0);
        sig.addField(CompProcDataField::make("GroupType", IDT_OBJECT, Method(&iGroup::pdSetGroupType),
                                             Method(&iGroup::pdGetGroupType)),
                     nullptr, 0);
        sig.addField(CompProcEnumField::make("EvalRequires", evalRequires, Method(&iGroup::pdSetEvalRequires),
                                             Method(&iGroup::pdGetEvalRequires)),
                     nullptr, 0);
        sig.addField(CompProcEnumField::make("Persistent", boolean, Method(&iGroup::pdSetPersistent),
                                             Method(&iGroup::pdGetPersistent)),
                     nullptr, 0);
        ParseCppField("Sub Append(Obj as Object)", sig, &iGroup::imAppendObject);
        ParseCppField("Sub Prepend(Obj as Object)", sig, &iGroup::imPrependObject);
        ParseCppField("Function ObjectAt(ByVal Index as long) as Object", sig, &iGroup::imObjectAt);
        ParseCppField("Function ObjectIndex(Obj as Object) as long", sig, &iGroup::imObjectIndex);
        ParseCppField("Function RemoveObject(Obj as Object) as Object", sig, &iGroup::imRemoveObject);
        ParseCppField("Function RemoveAt(ByVal Index as long) as Object", sig, &iGroup::imRemoveAt);
        ParseCppField("Sub InsertAt(Obj as Object, ByVal Index as long)", sig, &iGroup::imInsertAt);
        ParseCppField("Sub Clear()", sig, &iGroup::imClear);
        ParseCppField("Function TextUnload(ByVal indent As String, cmds As String) As Integer", sig,
                      &iGroup::imTextUnload);
    });
}

// ---- state ------------------------------------------------------------------------------------

void iGroup::cleanList() {
    // A member reads null only once its object is destroyed or freed, or
    // when it was read as a reference that does not resolve (cleanedAt_ is
    // then kNeverCleaned): otherwise there is nothing to drop, and counting
    // stays O(1).
    const uint64_t destroyed = InterObjRep::DestroyedCount();
    if (destroyed == cleanedAt_) return;
    list_.removeIf([](const Faultp<InterObjRep>& r) { return r.get() == nullptr; });
    cleanedAt_ = destroyed;
}

void iGroup::members(std::vector<InterObj>& out) {
    const size_t n = list_.length();
    out.reserve(out.size() + n);
    for (size_t i = 0; i < n; ++i)
        if (InterObjRep* o = list_[i].get()) out.emplace_back(o);
}

void iGroup::noteChange() {
    dirty_ = 1;
    if (persistent()) markChanged();
}

void iGroup::checkUnlocked(const char* where) const {
    if (locked_) throw AccessDenied(where, 32755);
}

InterObjRep* iGroup::admit(const InterObj* obj, const char* where) {
    checkUnlocked(where);
    InterObjRep* o = obj ? obj->get() : nullptr;
    if (!o) throw Is_Null(where, 32743);
    // An object whose module is going is no member to keep.
    if (ObjectStore::DeletingModule(o->moduleIndex())) throw Is_Null(where, 32743);
    if (InterObjRep* type = groupType_.get(); type && !o->canBeTreatedAs(type)) throw TypeMismatch(where, 32765);
    return o;
}

uint8_t iGroup::evalRequires() const { return EvalRequiresOf(groupFlags_); }

uint8_t EvalRequiresOf(uint8_t flags) {
    if (flags & iGroup::kMatchNone) return iGroup::kMatchNone;
    if (flags & iGroup::kMatchOne) return iGroup::kMatchOne;
    return iGroup::kMatchAll;
}

uint8_t WithEvalRequires(uint8_t flags, int32_t v) {
    // The enumeration's values are the only ones a program can store here.
    if (v != iGroup::kMatchNone && v != iGroup::kMatchOne && v != iGroup::kMatchAll)
        throw RangeError(32727, iGroup::kMatchNone, iGroup::kMatchAll, v);
    return static_cast<uint8_t>((flags & ~iGroup::kEvalRequiresMask) | v);
}

// ---- properties -------------------------------------------------------------------------------

int32_t iGroup::pdGetCount() {
    cleanList();
    return static_cast<int32_t>(list_.length());
}

InterObj iGroup::pdGetGroupType() {
    InterObjRep* type = groupType_.get();
    // A type that is not statically rooted cannot be named again after a
    // save: it reads as Nothing.
    if (!type || !type->isStaticallyRooted()) return InterObj();
    return InterObj(type);
}

void iGroup::pdSetGroupType(const InterObj* type) {
    checkUnlocked("iGroup::pdSetGroupType()");
    InterObjRep* t = type ? type->get() : nullptr;
    if (t) {
        for (size_t i = 0; i < list_.length(); ++i)
            if (InterObjRep* o = list_[i].get(); o && !o->canBeTreatedAs(t))
                throw TypeMismatch("iGroup::pdSetGroupType()", 32765);
    }
    groupType_ = t;
    markChanged();
}

int32_t iGroup::pdGetEvalRequires() { return evalRequires(); }

void iGroup::pdSetEvalRequires(int32_t v) {
    groupFlags_ = WithEvalRequires(groupFlags_, v);
    noteChange();
}

int32_t iGroup::pdGetPersistent() { return persistent() ? -1 : 0; }

void iGroup::pdSetPersistent(int32_t v) {
    if (v)
        groupFlags_ |= kPersistent;
    else
        groupFlags_ &= static_cast<uint8_t>(~kPersistent);
    // Turning it off is saved too: the members must leave the record.
    markChanged();
}

// ---- methods ----------------------------------------------------------------------------------

void iGroup::imAppendObject(const InterObj* obj) {
    list_.append(admit(obj, "iGroup::imAppendObject()"));
    noteChange();
}

void iGroup::imPrependObject(const InterObj* obj) {
    list_.prepend(admit(obj, "iGroup::imPrependObject()"));
    noteChange();
}

InterObj iGroup::imObjectAt(int32_t index) {
    cleanList();
    const int32_t count = static_cast<int32_t>(list_.length());
    CheckIndex(index, count, count - 1);
    return InterObj(list_[static_cast<size_t>(index)].get());
}

int32_t iGroup::imObjectIndex(const InterObj* obj) {
    cleanList();
    const InterObjRep* o = obj ? obj->get() : nullptr;
    if (!o) return -1;
    for (size_t i = 0; i < list_.length(); ++i)
        if (list_[i].get() == o) return static_cast<int32_t>(i);
    return -1;
}

InterObj iGroup::imRemoveObject(const InterObj* obj) {
    checkUnlocked("iGroup::imRemoveObject()");
    InterObjRep* o = obj ? obj->get() : nullptr;
    if (!o) return InterObj();
    for (size_t i = 0; i < list_.length(); ++i) {
        if (list_[i].get() != o) continue;
        InterObj removed(o);
        list_.removeAt(i);
        noteChange();
        return removed;
    }
    return InterObj();
}

InterObj iGroup::imRemoveAt(int32_t index) {
    checkUnlocked("iGroup::imRemoveAt()");
    cleanList();
    const int32_t count = static_cast<int32_t>(list_.length());
    CheckIndex(index, count, count);
    InterObj removed(list_[static_cast<size_t>(index)].get());
    list_.removeAt(static_cast<size_t>(index));
    noteChange();
    return removed;
}

void iGroup::imInsertAt(const InterObj* obj, int32_t index) {
    InterObjRep* o = admit(obj, "iGroup::imInsertAt()");
    if (index != 0) {
        cleanList();
        const int32_t count = static_cast<int32_t>(list_.length());
        if (index != count) CheckIndex(index, count, count);
    }
    list_.insertAt(static_cast<size_t>(index), o);
    noteChange();
}

void iGroup::imClear() {
    checkUnlocked("iGroup::imClear()");
    list_.clear();
    noteChange();
}

int16_t iGroup::imTextUnload(const char* indent, ValString* cmds) {
    InterObjRep* me = owner();
    if (!me || !cmds) return -1;
    std::string text = static_cast<const char*>(*cmds);
    const char* properties[] = {"Persistent", "EvalRequires", "GroupType", nullptr};
    const char* pad = indent ? indent : "";
    me->textFieldsUnload(properties, pad, text);
    cleanList();
    if (persistent()) {
        for (size_t i = 0; i < list_.length(); ++i) {
            InterObjRep* o = list_[i].get();
            if (!o || !o->isStaticallyRooted()) continue;
            text += std::string(pad) + ".Append(" + o->alias() + ")\n";
        }
    }
    *cmds = ValString(text.c_str());
    return -1;
}

// ---- what the store asks ------------------------------------------------------------------------

ValuePtr iGroup::eval(const ValueList* args, int* handled) {
    if (handled) *handled = 1;
    if (!args || args->length() != 1) return ValuePtr();
    cleanList();
    const int32_t index = args->at(0)->as<int32_t>();
    const int32_t count = static_cast<int32_t>(list_.length());
    CheckIndex(index, count, count);
    return ValuePtr(new ObjectValue(InterObj(list_[static_cast<size_t>(index)].get())));
}

ValuePtr iGroup::extEval(const char* name, IdType kind, const ValueList* args, int* handled, int32_t flags) {
    if (handled) *handled = 0;
    if (!Broadcasts(owner(), name, flags)) return ValuePtr();
    std::vector<InterObj> snapshot;
    members(snapshot);
    ValuePtr result = BroadcastEval(snapshot, evalRequires(), name, kind, args, flags);
    if (handled) *handled = 1;
    return result;
}

bool Broadcasts(InterObjRep* owner, const char* name, int32_t flags) {
    if (!(flags & EVAL_DOTTED) || !owner) return false;
    // The standard events (Construct, Destruct, ...) are the owner's own:
    // passed on, making a copy of a group or a module object would run
    // every member's Construct.
    unsigned char isFunction = 0;
    int found = 0;
    owner->getExtEventProto(name, isFunction, found);
    return !found;
}

ValuePtr BroadcastEval(const std::vector<InterObj>& objects, uint8_t policy, const char* name, IdType kind,
                       const ValueList* args, int32_t flags) {
    ValuePtr result;
    bool tried = false, anyHandled = false;
    for (const InterObj& m : objects) {
        InterObjRep* o = m.get();
        if (!o) continue;
        tried = true;
        int h = 0;
        ValuePtr r = o->eval(name, kind, args, nullptr, flags & ~EVAL_VALUE_REQUIRED, &h, nullptr);
        if (r) result = r;
        if (h)
            anyHandled = true;
        else if (policy == iGroup::kMatchAll)
            throw StoreException(32693, name);
    }
    if (policy == iGroup::kMatchAll && !tried) throw StoreException(32692, name);
    if (!result) {
        if (policy == iGroup::kMatchOne && !anyHandled) throw StoreException(32691, name);
        result = ValuePtr(new IntegerValue(int16_t(0)));
    }
    return result;
}

void iGroup::attach(tModuleIndex) {
    groupType_.get();
    for (size_t i = 0; i < list_.length(); ++i) list_[i].get();
}

void iGroup::clone(const IInterObj& other) {
    const auto* from = dynamic_cast<const iGroup*>(&other);
    if (!from) return;
    list_.clear();
    for (size_t i = 0; i < from->list_.length(); ++i)
        if (InterObjRep* o = from->list_[i].get()) list_.append(o);
    groupFlags_ = from->groupFlags_;
}

// ---- persistence ----------------------------------------------------------------------------------

void iGroup::PO_Write(OCLStream& out) {
    cleanList();
    groupType_.write(out);
    if (persistent())
        for (size_t i = 0; i < list_.length(); ++i) list_[i].write(out);
    Faultp<InterObjRep>(PrimaryReference, nullptr).write(out);
    out.writeU8(groupFlags_);
}

void iGroup::PO_Read(OCLStream& in, uint32_t) {
    const tModuleIndex m = owner() ? owner()->moduleIndex() : ObjectStore::OpenModule();
    auto reference = [&](uint8_t kind) { return ReadObjectReference(in, m, kind, className()); };
    const tDescriptor type = reference(Faultp<InterObjRep>::kIndirect);
    std::vector<tDescriptor> members;
    for (;;) {
        const tDescriptor d = reference(Faultp<InterObjRep>::kIndirect | Faultp<InterObjRep>::kCounted);
        if (d.isNull()) break;
        members.push_back(d);
    }
    const uint8_t flags = in.readU8();
    // Exactly one policy bit, as the enumeration sets it: anything else is
    // not a group's record.
    const uint8_t policy = flags & kEvalRequiresMask;
    if (policy != kMatchNone && policy != kMatchOne && policy != kMatchAll) throw ObjectLoadFailed(className());
    groupType_.~Faultp<InterObjRep>();
    if (type.isNull())
        new (&groupType_) Faultp<InterObjRep>(UncountedIndirectReference, nullptr);
    else
        new (&groupType_) Faultp<InterObjRep>(type, Faultp<InterObjRep>::kIndirect);
    list_.clear();
    for (const tDescriptor d : members) list_.appendDescriptor(d);
    cleanedAt_ = kNeverCleaned;
    groupFlags_ = flags;
}

}  // namespace tq
