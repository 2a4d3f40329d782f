#include "store/builtin/iobjstor.h"

#include <string>

#include "platform/util/handle.h"
#include "store/builtin/igroup.h"
#include "store/context.h"
#include "store/debug/debugger.h"
#include "store/errors/extexcep.h"
#include "store/interp/regform.h"
#include "store/interp/regstack.h"
#include "store/interp/stackfrm.h"
#include "store/model/enum.h"
#include "store/model/objval.h"
#include "store/model/sigrep.h"
#include "store/persist/descobj.h"
#include "store/persist/vlstrrep.h"
#include "store/storeapp.h"
#include "store/vals.h"

namespace tq {
namespace {

IInterObj* MakeObjectModule(DllServer* server) { return new iObjectModule(server); }

// The list of module objects and the current position (iobjstor.h); never
// destroyed, like the store's other process-wide state.
GroupObjectList& Modules() {
    static auto* const list = new GroupObjectList;
    return *list;
}
int16_t current = -1;

// Whether code of module m runs now: a procedure whose blocks, or whose Me,
// lie in m, on the tree walker's stack or in the register form's chain.
bool CodeOfModuleRuns(tModuleIndex m) {
    for (StackFrame* f = ExecutionStack::top(); f; f = f->below()) {
        if (InterObjRep* me = f->context().me(); me && me->moduleIndex() == m) return true;
        if (BlockRep* b = f->getBlock(); b && b->moduleIndex() == m) return true;
    }
    for (const RegActivation* a = RegChain::Running(); a; a = a->caller) {
        if (a->me && a->me->moduleIndex() == m) return true;
        if (a->proc && a->proc->body() && a->proc->body()->moduleIndex() == m) return true;
    }
    return false;
}

int16_t Narrow(int32_t n) { return static_cast<int16_t>(n); }
int32_t Truth(bool b) { return b ? -1 : 0; }

}  // namespace

PublishedClass& iObjectModule::Class() {
    static PublishedClass* const cls = new PublishedClass(
        "Tessaro.ObjectModule", "ObjectModule", "{A7231B82-E641-4B10-AD5F-5F05F11584FA}", &MakeObjectModule);
    return *cls;
}

iObjectModule::iObjectModule(DllServer* server) : IInterObj(server) {}

iObjectModule::~iObjectModule() = default;

iObjectModule* iObjectModule::Of(InterObjRep* obj) {
    if (!obj || obj->isDestroyed()) return nullptr;
    return dynamic_cast<iObjectModule*>(obj->compiledPart());
}

void iObjectModule::bind(tModuleIndex m) {
    selector_ = m;
    ObjectStore* s = ObjectStore::Module(m);
    serial_ = s ? s->serial() : 0;
}

bool iObjectModule::live() const {
    if (selector_ == DETACHED_MODULE) return true;
    return ObjectStore::ValidIndex(selector_) && ObjectStore::Module(selector_)->serial() == serial_;
}

tModuleIndex iObjectModule::selector() {
    if (!live()) selector_ = NO_MODULE;
    return selector_;
}

// ---- the list ------------------------------------------------------------------------------

InterObjRep* iObjectModule::Find(tModuleIndex m) {
    GroupObjectList& list = Modules();
    for (size_t i = 0; i < list.length(); ++i) {
        iObjectModule* part = Of(list[i].get());
        if (part && part->live() && part->selector_ == m) return list[i].get();
    }
    return nullptr;
}

InterObjRep* iObjectModule::FindOrMake(tModuleIndex m) {
    if (m == DETACHED_MODULE || !ObjectStore::ValidIndex(m)) return nullptr;
    if (InterObjRep* found = Find(m)) return found;
    InterObjRep* proto = PO_GetObject();
    InterObjRep* made = InterObjRep::NewCopy(*proto, DETACHED_MODULE, IOT_ORDINARY);
    iObjectModule* part = Of(made);
    TQ_ASSERT(part != nullptr, "a module object has its compiled part");
    part->bind(m);
    Modules().append(made);
    return made;
}

void iObjectModule::RefreshList() {
    GroupObjectList& list = Modules();
    list.removeIf([](const Faultp<InterObjRep>& r) {
        iObjectModule* part = Of(r.get());
        if (!part) return true;
        if (part->live()) return false;
        part->selector_ = NO_MODULE;
        return true;
    });
    // The detached module's entry comes first; it is made again when a
    // program destroyed the prototype that stood for it.
    if (!Find(DETACHED_MODULE)) list.prepend(PO_GetObject());
    for (tModuleIndex m = ObjectStore::NextValidIndex(DETACHED_MODULE); m != DETACHED_MODULE;
         m = ObjectStore::NextValidIndex(m))
        FindOrMake(m);
    const int32_t at = PositionOf(Find(ObjectStore::OpenModule()));
    current = Narrow(at < 0 ? 0 : at);
    TQ_ASSERT(current >= 0 && static_cast<size_t>(current) < list.length(),
              "s_Current >= 0 && s_Current < s_Modules.entries()");
}

GroupObjectList& iObjectModule::List() {
    RefreshList();
    return Modules();
}

int16_t iObjectModule::CurrentPosition() {
    RefreshList();
    return current;
}

bool iObjectModule::MakeCurrent(int32_t i) {
    GroupObjectList& list = List();
    if (i < 0 || static_cast<size_t>(i) >= list.length()) return false;
    iObjectModule* part = Of(list[static_cast<size_t>(i)].get());
    if (!part) return false;
    ObjectStore::OpenModule(part->selector());
    current = Narrow(i);
    return true;
}

int32_t iObjectModule::PositionOf(const InterObjRep* obj) {
    if (!obj) return -1;
    GroupObjectList& list = Modules();
    for (size_t i = 0; i < list.length(); ++i)
        if (list[i].get() == obj) return static_cast<int32_t>(i);
    return -1;
}

// ---- members --------------------------------------------------------------------------------

void iObjectModule::PO_DefineFields(SignatureRep& sig) {
    DefineFields(sig, [&] {
        EnumRep* evalRequires = EnsureEvalRequiresEnum();
        EnumRep* boolean = EnsureBooleanEnum();
        auto property = [&](const char* name, IdType type, const MemberPointer& getter) {
            sig.addField(CompProcDataField::make(name, type, NoSetter, getter), nullptr, 0);
        };
        auto truth = [&](const char* name, const MemberPointer& setter, const MemberPointer& getter) {
            sig.addField(CompProcEnumField::make(name, boolean, setter, getter), nullptr, 0);
        };
        property("StaticCount", IDT_SHORT, Method(&iObjectModule::pdGetStaticCount));
        property("DynamicCount", IDT_SHORT, Method(&iObjectModule::pdGetDynamicCount));
        property("FileName", IDT_STRING, Method(&iObjectModule::pdGetFileName));
        property("DisplayName", IDT_STRING, Method(&iObjectModule::pdGetDisplayName));
        property("Version", IDT_STRING, Method(&iObjectModule::pdGetVersion));
        property("Selector", IDT_SHORT, Method(&iObjectModule::pdGetSelector));
        truth("ReadOnly", NoSetter, Method(&iObjectModule::pdGetReadOnly));
        truth("CanUnload", Method(&iObjectModule::pdSetCanUnload), Method(&iObjectModule::pdGetCanUnload));
        truth("IsCurrent", NoSetter, Method(&iObjectModule::pdGetIsCurrent));
        truth("IsModified", NoSetter, Method(&iObjectModule::pdGetIsModified));
        truth("IsUntitled", NoSetter, Method(&iObjectModule::pdGetIsUntitled));
        truth("IsText", NoSetter, Method(&iObjectModule::pdGetIsText));
        property("UntitledSerialNum", IDT_SHORT, Method(&iObjectModule::pdGetUntitledSerialNum));
        sig.addField(CompProcEnumField::make("EvalRequires", evalRequires, Method(&iObjectModule::pdSetEvalRequires),
                                             Method(&iObjectModule::pdGetEvalRequires)),
                     nullptr, 0);
        ParseCppField("Sub Unload()", sig, &iObjectModule::imUnload);
        ParseCppField("Function StaticObject(ByVal i As Long) As Object", sig, &iObjectModule::imStaticObject);
        ParseCppField("Function DynamicObject(ByVal i As Long) As Object", sig, &iObjectModule::imDynamicObject);
        ParseCppField("Sub Save()", sig, &iObjectModule::imSave);
        ParseCppField("Sub SaveAs(ByVal fileName As String, ByVal asText as Long)", sig, &iObjectModule::imSaveAs);
        ParseCppField("Sub Compact()", sig, &iObjectModule::imCompact);
        ParseCppField("Function GetStaticObjects(group As Group, ByVal sorted As Boolean) as Long", sig,
                      &iObjectModule::imGetStaticObjects);
        ParseCppField("Function GetDynamicObjects(group As Group) as Long", sig, &iObjectModule::imGetDynamicObjects);
        ParseCppField("Function GetPrototypeObjects(group As Group) as Long", sig,
                      &iObjectModule::imGetPrototypeObjects);
        ParseCppField("Function FirstLoadedObject() As Object", sig, &iObjectModule::imFirstLoadedObject);
        ParseCppField("Function NextLoadedObject() As Object", sig, &iObjectModule::imNextLoadedObject);
        ParseCppField("Function DependsOn(target As ObjectModule) As Boolean", sig, &iObjectModule::imDependsOn);
        ParseCppField("Function GetPublishedObjectDLLList() As String", sig,
                      &iObjectModule::imGetPublishedObjectDLLList);
    });
}

// ---- properties -------------------------------------------------------------------------------

int16_t iObjectModule::pdGetStaticCount() { return Narrow(ObjectStore::StaticCount(selector())); }
int16_t iObjectModule::pdGetDynamicCount() { return Narrow(ObjectStore::DynamicCount(selector())); }
ValString iObjectModule::pdGetFileName() { return ValString(ObjectStore::GetModuleFileNameA(selector())); }
ValString iObjectModule::pdGetDisplayName() { return ObjectStore::FormatModuleDisplayName(selector()); }
ValString iObjectModule::pdGetVersion() { return ObjectStore::FormatModuleVersion(selector()); }
int16_t iObjectModule::pdGetSelector() { return selector(); }
int32_t iObjectModule::pdGetReadOnly() { return Truth(ObjectStore::ModuleIsReadOnly(selector())); }
int32_t iObjectModule::pdGetCanUnload() { return Truth(checkUnload(false)); }

void iObjectModule::pdSetCanUnload(int32_t v) {
    if (v)
        moduleFlags_ |= kCanUnload;
    else
        moduleFlags_ &= static_cast<uint8_t>(~kCanUnload);
}

int32_t iObjectModule::pdGetIsCurrent() { return Truth(selector() == ObjectStore::OpenModule()); }
int32_t iObjectModule::pdGetIsModified() { return Truth(ObjectStore::IsDirty(selector())); }
int32_t iObjectModule::pdGetIsUntitled() { return Truth(ObjectStore::ModuleIsUntitled(selector())); }
int32_t iObjectModule::pdGetIsText() { return Truth(ObjectStore::ModuleIsText(selector())); }
int16_t iObjectModule::pdGetUntitledSerialNum() { return ObjectStore::ModuleUntitledSerialNum(selector()); }
int32_t iObjectModule::pdGetEvalRequires() { return EvalRequiresOf(moduleFlags_); }
void iObjectModule::pdSetEvalRequires(int32_t v) { moduleFlags_ = WithEvalRequires(moduleFlags_, v); }

// ---- unloading --------------------------------------------------------------------------------

bool iObjectModule::checkUnload(bool raise, const std::vector<tModuleIndex>* set) {
    auto refuse = [&](unsigned id) {
        if (raise) throw ModuleUnloadFailed(id, owner());
        return false;
    };
    const tModuleIndex m = selector();
    if (m == DETACHED_MODULE) return refuse(32681);
    if (!(moduleFlags_ & kCanUnload)) return refuse(32680);
    if (m == NO_MODULE) return true;
    std::vector<tModuleIndex> alone{m};
    std::vector<tModuleIndex> going = set ? *set : alone;
    going.push_back(NO_MODULE);
    try {
        SignatureRep::NoExternalChildren(going.data());
    } catch (const StoreException&) {
        return refuse(32682);
    }
    // Unloading frees the module's code and objects: a procedure of it, or
    // one running on an object of it, would go on in freed memory.
    if (CodeOfModuleRuns(m)) return refuse(32682);
    return true;
}

void iObjectModule::imUnload() {
    std::vector<InterObj> me{InterObj(owner())};
    UnloadSet(me);
}

bool iObjectModule::RefuseWhileSuspended() {
    if (!Debugger::debuggerIsSuspended()) return false;
    StoreApplication::MessageBox(nullptr, "Please terminate the currently\nexecuting method.", "Debugger suspended",
                                 0x2030);
    return true;
}

void iObjectModule::UnloadSet(const std::vector<InterObj>& modules) {
    if (RefuseWhileSuspended()) return;
    // Counted here: the list's references go with the refresh, and with
    // them, for a module object nothing else holds, the object.
    std::vector<InterObj> held;
    std::vector<tModuleIndex> set;
    for (const InterObj& o : modules)
        if (iObjectModule* part = Of(o.get())) {
            held.push_back(o);
            if (part->selector() != NO_MODULE) set.push_back(part->selector_);
        }
    // Every module of the set must be able to go, with the others, before
    // any goes.
    for (const InterObj& o : held) Of(o.get())->checkUnload(true, &set);
    std::vector<tModuleIndex> list = set;
    list.push_back(NO_MODULE);
    ObjectStore::UnloadModules(list.data());
    RefreshList();
    // The module objects go last: the part whose method runs may go with
    // its owner, so nothing of it is touched after.
    for (InterObj& o : held)
        if (InterObjRep* obj = o.get(); obj && !obj->isDestroyed()) obj->Destroy();
    StoreApplication::ModuleUnloaded();
}

// ---- the module's objects ---------------------------------------------------------------------

InterObj iObjectModule::imStaticObject(int32_t i) {
    const tModuleIndex m = selector();
    const int32_t count = ObjectStore::StaticCount(m);
    if (i < 0 || i >= count) throw RangeError(32736, 0, count - 1, i);
    InterObjRep* found = nullptr;
    int32_t at = 0;
    ObjectStore::Dictionary(m).forEach([&](StaticGlobals::Entry& e) {
        if (at++ == i) found = e.object.get();
    });
    return InterObj(found);
}

InterObj iObjectModule::imDynamicObject(int32_t i) {
    const tModuleIndex m = selector();
    const int32_t count = ObjectStore::DynamicCount(m);
    if (i < 0 || i >= count) throw RangeError(32736, 0, count - 1, i);
    return InterObj(ObjectStore::DynamicsList(m)[static_cast<size_t>(i)].get());
}

void iObjectModule::objects(std::vector<InterObj>& out) {
    const tModuleIndex m = selector();
    ObjectStore::Dictionary(m).forEach([&](StaticGlobals::Entry& e) { out.emplace_back(e.object.get()); });
    DynamicObjectList& dynamics = ObjectStore::DynamicsList(m);
    for (size_t i = 0; i < dynamics.length(); ++i) out.emplace_back(dynamics[i].get());
}

ValuePtr iObjectModule::eval(const ValueList* args, int* handled) {
    if (handled) *handled = 1;
    if (!args || args->length() != 1) return ValuePtr();
    const int32_t i = args->at(0)->as<int32_t>();
    const tModuleIndex m = selector();
    const int32_t statics = ObjectStore::StaticCount(m);
    const int32_t total = statics + ObjectStore::DynamicCount(m);
    if (i < 0 || i >= total) throw RangeError(32736, 0, total - 1, i);
    const InterObj o = i < statics ? imStaticObject(i) : imDynamicObject(i - statics);
    return ValuePtr(new ObjectValue(o));
}

ValuePtr iObjectModule::extEval(const char* name, IdType kind, const ValueList* args, int* handled,
                                int32_t flags) {
    if (handled) *handled = 0;
    if (!Broadcasts(owner(), name, flags)) return ValuePtr();
    std::vector<InterObj> all;
    objects(all);
    ValuePtr result = BroadcastEval(all, EvalRequiresOf(moduleFlags_), name, kind, args, flags);
    if (handled) *handled = 1;
    return result;
}

namespace {

// The group a program passed: a counted copy of its reference, which the
// store fills.
InterObj GroupArgument(const InterObj* group) { return group ? *group : InterObj(); }

}  // namespace

int32_t iObjectModule::imGetStaticObjects(const InterObj* group, int32_t sorted) {
    InterObj g = GroupArgument(group);
    return ObjectStore::GetStaticObjects(selector(), g, sorted ? 1 : 0);
}

int32_t iObjectModule::imGetDynamicObjects(const InterObj* group) {
    InterObj g = GroupArgument(group);
    return ObjectStore::GetDynamicObjects(selector(), g);
}

int32_t iObjectModule::imGetPrototypeObjects(const InterObj* group) {
    InterObj g = GroupArgument(group);
    return ObjectStore::GetPrototypeObjects(selector(), g);
}

InterObj iObjectModule::nextLoaded() {
    if (!iterating_) return InterObj();
    // The table is looked up at every step: the module may have gone, or
    // grown, since the last one.
    DescriptionTable<InterObjRep>* table =
        live() ? DescribedObjectNoDescriptor<InterObjRep>::descriptionTable(selector_) : nullptr;
    while (table && iterNext_ < table->count()) {
        const Description& e = table->entry(iterNext_++);
        if (!e.hasFaulted()) continue;
        InterObjRep* o = HandleTable::Global().getAs<InterObjRep>(e.memory());
        if (o && !o->isDestroyed()) return InterObj(o);
    }
    iterating_ = false;
    return InterObj();
}

InterObj iObjectModule::imFirstLoadedObject() {
    iterating_ = true;
    iterNext_ = 0;
    return nextLoaded();
}

InterObj iObjectModule::imNextLoadedObject() { return nextLoaded(); }

int32_t iObjectModule::imDependsOn(const InterObj* target) {
    iObjectModule* other = Of(target ? target->get() : nullptr);
    if (!other) throw TypeMismatch("iObjectModule::imDependsOn()", 32765);
    return Truth(ObjectStore::ModuleDependsOn(selector(), other->selector()));
}

ValString iObjectModule::imGetPublishedObjectDLLList() {
    ValString out(ConstructWithSize, 0);
    ObjectStore::GetPublishedObjectDLLList(selector(), *out.get());
    return out;
}

// ---- saving -------------------------------------------------------------------------------------

void iObjectModule::imSave() {
    const tModuleIndex m = selector();
    // A save the module cannot take is said, changes or not: a program that
    // asked to keep its state must not go on as if it had.
    if (m != DETACHED_MODULE && ObjectStore::ModuleIsReadOnly(m))
        throw StoreException(("Could not save module: " + ObjectStore::GetModuleFileNameA(m) +
                              " (it was opened read-only)")
                                 .c_str(),
                             "ModuleSaveError");
    ObjectStore::Save(m);
    ObjectStore::Commit(m);
}

void iObjectModule::imSaveAs(const char* fileName, int32_t asText) {
    ObjectStore::SaveAs(selector(), fileName, asText ? 1 : 0);
}

void iObjectModule::imCompact() { ObjectStore::Compact(selector()); }

}  // namespace tq
