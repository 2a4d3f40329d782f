// Method fields: parameters, construction, copies and records. The call
// itself is methcall.cpp.
#include "store/methfld.h"

#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "platform/storage/oclstream.h"
#include "platform/util/lebytes.h"
#include "platform/util/uassert.h"
#include "store/errors/extexcep.h"
#include "store/interp/argval.h"
#include "store/interp/dbgseam.h"
#include "store/model/interobj.h"
#include "store/model/intfld.h"
#include "store/model/reftarget.h"
#include "store/model/sigrep.h"
#include "store/persist/objstore.h"
#include "store/vals.h"

namespace tq {

namespace {

// The field reader knows the procedure kinds from here on.
const bool readersRegistered = (Field::RegisterReader(FRK_PROCEDURE, &InterProcField::Read),
                                Field::RegisterReader(FRK_FUNCTION, &InterProcField::Read), true);

// A copy of a parameter prototype in module m: a worker object with a copy
// of each parameter field, in order.
InterObjRep* CopyParameters(InterObjRep* o, tModuleIndex m) {
    if (!o) return nullptr;
    InterObjRep* c = InterObjRep::New(m, IOT_WORKER);
    try {
        const FieldPtrList& fields = o->signature()->fields();
        for (size_t i = 0; i < fields.length(); ++i) {
            FieldPtr copy(fields.at(i)->clone());
            c->addField(copy.get());
        }
    } catch (...) {
        c->destroy();
        throw;
    }
    return c;
}

[[noreturn]] void BadRecord(const char* name, const std::string& what) {
    const std::string text = std::string("procedure '") + (name ? name : "") + "': " + what;
    throw ObjectLoadFailed(text.c_str());
}

}  // namespace

// ---- MethodField ------------------------------------------------------------------------

MethodField::MethodField(const MethodField& other)
    : Field(other), source_(other.source_), hasSource_(other.hasSource_) {
    parms_ = CopyParameters(other.parameterPrototype(), ObjectStore::OpenModule());
}

MethodField::~MethodField() {
    dropSpareArguments();
    // While the prototype's module goes, the prototype goes with its table;
    // one never read stays on file.
    if (parms_.isDescriptor()) return;
    InterObjRep* o = parms_.get();
    parms_.nullify();
    if (o && !o->isDestroyStarted() && !ObjectStore::DeletingModule(o->moduleIndex())) o->destroy();
}

void MethodField::attach(tModuleIndex m) {
    Field::attach(m);
    if (!parms_.isDescriptor())
        if (InterObjRep* o = parms_.get()) o->attach(m);
}

void MethodField::defineArgument(InterDataField* f) {
    FieldPtr keep(f);
    TQ_ASSERT(f != nullptr, "f");
    dropSpareArguments();
    InterObjRep* proto = parameterPrototype();
    if (!proto) {
        proto = InterObjRep::New(ObjectStore::OpenModule(), IOT_WORKER);
        parms_ = proto;
    }
    proto->addField(f);
}

const MethodField::ParameterLayout& MethodField::parameterLayout(InterObjRep& proto) {
    // Every call asks; the layout changes only with the field lists.
    if (layout_.signature == proto.signature() && layout_.revision == FieldLookupRevision::current()) [[likely]]
        return layout_;
    return findParameterLayout(proto);
}

const MethodField::ParameterLayout& MethodField::findParameterLayout(InterObjRep& proto) {
    SignatureRep* s = proto.signature();
    const uint64_t revision = FieldLookupRevision::current();
    layout_ = ParameterLayout{s, revision, false, {}};
    if (!s) return layout_;
    // Fields of an ancestor would have constructors to run in every copy.
    for (SignatureRep* p = s->parent(); p; p = p->parent())
        if (p->fields().length()) return layout_;
    const FieldPtrList& fields = s->fields();
    for (size_t i = 0; i < fields.length(); ++i) {
        Field* f = fields.at(i);
        if (!IsPlainParameter(*f)) {
            layout_.slots.clear();
            return layout_;
        }
        const int32_t offset = static_cast<DataField*>(f)->dataOffset(*s);
        if (offset < 0 || static_cast<uint64_t>(offset) + f->size() > proto.dataSize()) {
            layout_.slots.clear();
            return layout_;
        }
        layout_.slots.push_back(
            {static_cast<uint32_t>(offset), static_cast<IdType>(f->type() & IDT_TYPEMASK), f->isByReference()});
    }
    layout_.plain = true;
    return layout_;
}

bool MethodField::bindPlain(InterObjRep& proto, const ValueList& args, InterObjRep& w) {
    const ParameterLayout& layout = parameterLayout(proto);
    const int32_t count = args.length();
    if (!layout.plain || count != static_cast<int32_t>(layout.slots.size())) return false;
    if (w.signature() != proto.signature() || w.dataSize() != proto.dataSize() || !w.isWorkerObj() ||
        w.isDestroyStarted())
        return false;
    // Another type takes the general road, with its conversions and
    // messages.
    // The call lists its arguments last first: parameter i is entry
    // count - 1 - i.
    for (int32_t i = 0; i < count; ++i)
        if ((args.at(count - 1 - i)->type() & IDT_TYPEMASK) != layout.slots[static_cast<size_t>(i)].code) return false;
    const uint32_t size = proto.dataSize();
    uint8_t* block = size ? w.RWIDataPtr(0, static_cast<int32_t>(size)) : nullptr;
    if (size) std::memcpy(block, proto.data(), size);
    try {
        for (int32_t i = 0; i < count; ++i) {
            const ParameterSlot& p = layout.slots[static_cast<size_t>(i)];
            Value* v = args.at(count - 1 - i);
            uint8_t* at = block + p.offset;
            if (p.byReference) {
                StoreLE32(at, ReferenceTarget(v)->refId());
                continue;
            }
            switch (p.code) {
                case IDT_SHORT: StoreDatum(at, v->as<int16_t>()); break;
                case IDT_LONG: StoreDatum(at, v->as<int32_t>()); break;
                case IDT_FLOAT: StoreDatum(at, v->as<float>()); break;
                case IDT_DOUBLE: StoreDatum(at, v->as<double>()); break;
                default: StoreDatum(at, v->as<Currency>()); break;
            }
        }
    } catch (...) {
        w.releaseWorkerData();
        throw;
    }
    return true;
}

InterObjRep* MethodField::bindArguments(InterObjRep& proto, const ValueList* given, ValueList& bound) {
    static const ValueList none;
    const ValueList& call = given ? *given : none;
    // The general binding converts the arguments in a list of its own, in
    // parameter order.
    auto parameterOrder = [&]() -> ValueList& {
        if (bound.isEmpty())
            for (int32_t i = call.length(); i-- > 0;) bound.append(ValuePtr(call.at(i)));
        return bound;
    };
    while (!spareArgs_.empty()) {
        InterObjRep* w = spareArgs_.back().get();
        spareArgs_.pop_back();
        if (!w || w->isDestroyStarted()) continue;
        try {
            if (bindPlain(proto, call, *w) || proto.bindInto(&parameterOrder(), *w)) return w;
        } catch (...) {
            giveBackArguments(w);
            throw;
        }
        w->destroy();
    }
    return proto.bind(&parameterOrder());
}

void MethodField::giveBackArguments(InterObjRep* args) noexcept {
    if (!args || args->isDestroyStarted()) return;
    try {
        if (spareArgs_.size() < kSpareArguments) {
            if (!listedWithSpares_) {
                withSpares.push_back(this);
                listedWithSpares_ = true;
            }
            spareArgs_.reserve(kSpareArguments);
            // Plain parameters have nothing to destroy: emptying the block is
            // all their release (the by-reference ones then name nothing).
            if (layout_.plain && layout_.signature == args->signature() &&
                layout_.revision == FieldLookupRevision::current() && args->dataSize())
                std::memset(args->RWIDataPtr(0, static_cast<int32_t>(args->dataSize())), 0, args->dataSize());
            else
                args->releaseWorkerData();
            spareArgs_.emplace_back(PrimaryReference, args);
            return;
        }
    } catch (...) {
    }
    args->destroy();
}

void MethodField::dropSpareArguments() noexcept {
    if (listedWithSpares_) {
        std::erase(withSpares, this);
        listedWithSpares_ = false;
    }
    if (spareArgs_.empty()) return;
    std::vector<Faultp<InterObjRep>> spares;
    spares.swap(spareArgs_);
    for (Faultp<InterObjRep>& ref : spares) {
        InterObjRep* w = ref.get();
        if (w && !w->isDestroyStarted()) w->destroy();
    }
}

void MethodField::DropAllSpareArguments() noexcept {
    while (!withSpares.empty()) withSpares.back()->dropSpareArguments();
}

int32_t MethodField::parmCount() const {
    InterObjRep* proto = parameterPrototype();
    return proto ? static_cast<int32_t>(proto->signature()->fields().length()) : 0;
}

InterObjRep* MethodField::parameterPrototype() const {
    if (!parms_.isDescriptor()) return parms_.get();
    const tDescriptor d = parms_.descriptor();
    InterObjRep* o = parms_.get();
    // The record named it; it must be what a method's prototype is: a
    // worker of the method's own kind, neither named, embedded nor a frame's.
    if (!d.isNull() &&
        (!o || !o->isWorkerObj() || o->isHosted() || o->isStaticObj() || o->isEmbeddedObj() || !o->signature())) {
        BadRecord(name(), "the parameter prototype " + std::to_string(d.descIndex()) +
                              " is not a static-variables object of the module");
    }
    return o;
}

void MethodField::setSource(const char* text) {
    hasSource_ = true;
    source_ = text ? text : "";
}

std::string MethodField::getSource() const { return sourceText() ? source_ : std::string(); }

void MethodField::readParameters(OCLStream& in, tModuleIndex m) {
    Faultp<InterObjRep> ref;
    ref.read(in, m);
    const tDescriptor d = ref.descriptor();
    if (!d.isNull() && (d.isProxy() || !InterObjRep::objectExists(d)))
        BadRecord(name(), "the parameter prototype is not an object of the module");
    parms_.~Faultp<InterObjRep>();
    new (&parms_) Faultp<InterObjRep>(d, ref.flags());
}

void MethodField::writeParameters(OCLStream& out) const { parms_.write(out); }

// ---- InterProcField ------------------------------------------------------------------------

InterProcField::InterProcField(const char* name, IdDynamicVector& ids, BlockDynamicVector& blocks,
                               const DeadSource& deadSource)
    : MethodField(name),
      deadSource_(deadSource),
      ids_(ids, ObjectStore::OpenModule()),
      blocks_(blocks, ObjectStore::OpenModule()) {
    blocks_.setIdentifierCount(ids_.count());
    findOwnName();
}

InterProcField::InterProcField(const char* name, const char* source) : MethodField(name) { setSource(source); }

InterProcField::InterProcField(const InterProcField& other)
    : MethodField(other), deadSource_(other.deadSource_), ids_(other.ids_), blocks_(other.blocks_) {
    blocks_.setIdentifierCount(ids_.count());
    findOwnName();
}

InterProcField::~InterProcField() {
    dropWarm();
    // The debugger's stop points name the procedure by address.
    if (DebugHook* d = DebugHook::Installed()) d->functionDeleted(this);
}

void InterProcField::noteWarm() {
    if (warmNoted_) return;
    withWarm.push_back(this);
    warmNoted_ = true;
}

void InterProcField::dropWarm() noexcept {
    warm_ = WarmCache();
    if (!warmNoted_) return;
    std::erase(withWarm, this);
    warmNoted_ = false;
}

void InterProcField::DropAllWarmCaches() noexcept {
    while (!withWarm.empty()) withWarm.back()->dropWarm();
}

const std::vector<uint32_t>& InterProcField::namesShadowedBy(SignatureRep& sig) {
    const uint64_t revision = FieldLookupRevision::current();
    for (const ShadowedNames& s : shadowed_)
        if (s.signature == &sig && s.revision == revision) return s.ids;
    std::erase_if(shadowed_, [&](const ShadowedNames& s) { return s.revision != revision; });
    if (shadowed_.size() >= kShadowedSignatures) shadowed_.erase(shadowed_.begin());
    ShadowedNames names{&sig, revision, {}};
    for (SignatureRep* s = &sig; s; s = s->parent()) {
        const FieldPtrList& fields = s->fields();
        for (size_t i = 0; i < fields.length(); ++i) {
            const int32_t at = ids_.findString(fields.at(i)->name());
            if (at >= 0 && at < 65535) names.ids.push_back(static_cast<uint32_t>(at));
        }
    }
    shadowed_.push_back(std::move(names));
    return shadowed_.back().ids;
}

void InterProcField::attach(tModuleIndex m) {
    MethodField::attach(m);
    ids_.attach(m);
    blocks_.attach(m);
}

void InterProcField::write(OCLStream& out) const {
    out.writeU8(isFunction() ? FRK_FUNCTION : FRK_PROCEDURE);
    writeNameAndFlags(out);
    writeParameters(out);
    if (!isCompiled()) {
        // A procedure with neither code nor text is written as an empty text:
        // it reads back as what it is, a procedure that does not compile.
        out.writeU8(0);
        const uint32_t n = static_cast<uint32_t>(source_.size()) + 1;
        out.writeU32(n);
        out.write(source_.c_str(), n);
        return;
    }
    out.writeU8(1);
    deadSource_.write(out);
    ids_.write(out);
    blocks_.write(out);
}

int32_t InterProcField::getNearestSourceLine(int32_t line) const {
    TQ_ASSERT(line >= 0, "line>=0");
    int32_t best = 0;
    for (uint32_t i = 0; i < blocks_.length(); ++i)
        if (BlockRep* b = blocks_.block(i)) b->getNearestSourceLine(line, best);
    return best >= line && best != 0 ? best : -1;
}

Field* InterProcField::Read(OCLStream& in, tModuleIndex m, uint8_t kind) {
    std::unique_ptr<InterProcField> f(kind == FRK_FUNCTION ? new InterFuncField(tFromRecord{})
                                                           : new InterProcField(tFromRecord{}));
    f->readNameAndFlags(in, m);
    f->readParameters(in, m);
    const uint8_t compiled = in.readU8();
    if (compiled > 1) BadRecord(f->name(), "the compiled flag " + std::to_string(compiled) + " is neither 0 nor 1");
    if (!compiled) {
        const uint32_t n = in.readU32();
        if (n == 0 || n > in.remaining()) BadRecord(f->name(), "the source text runs past the end of the stream");
        std::string text(n, '\0');
        in.read(text.data(), n);
        if (text.back() != '\0') BadRecord(f->name(), "the source text does not end in NUL");
        text.pop_back();
        f->setSource(text.c_str());
    } else {
        f->deadSource_ = DeadSource::Read(in, std::string("procedure '") + f->name() + "'");
        f->ids_.read(in, m);
        for (uint32_t i = 0; i < f->ids_.count(); ++i) {
            IdString& s = f->ids_[i];
            const tDescriptor d = s.descriptor();
            if (s.flags() != (IdString::kCounted | IdString::kDescriptor) || d.isNull() || d.isProxy() ||
                !IdStringRep::objectExists(d))
                BadRecord(f->name(), "identifier " + std::to_string(i) + " is not in the module");
            s.get();
        }
        f->blocks_.read(in, m);
        if (f->blocks_.length() == 0) BadRecord(f->name(), "the block table is empty: it does not end in a body");
        for (uint32_t i = 0; i < f->blocks_.length(); ++i) {
            const tDescriptor d = f->blocks_.ref(i).descriptor();
            if (d.isNull() || !BlockRep::objectExists(d))
                BadRecord(f->name(), i + 1 == f->blocks_.length()
                                         ? "the block table does not end in a body"
                                         : "block " + std::to_string(i) + " of the block table is not in the module");
        }
        f->blocks_.setIdentifierCount(f->ids_.count());
        f->findOwnName();
    }
    if (kind == FRK_FUNCTION) {
        auto* fn = static_cast<InterFuncField*>(f.get());
        Field* r = Field::makeFrom(in, m);
        FieldPtr keep(r);
        const IdType t = r ? r->type() & IDT_TYPEMASK : IDT_UNTYPED;
        if (!r || !r->isInterDataField() || r->isArrayData() || r->isByReference() || r->isEnumeration() ||
            t < IDT_SHORT || t > IDT_OBJECT)
            BadRecord(f->name(), "the return field is not a value of a language type");
        fn->returnField_ = r;
    }
    return f.release();
}

// ---- InterFuncField ------------------------------------------------------------------------

namespace {

// A function made without a return field returns a Long.
InterDataField* ReturnFieldOr(InterDataField* given, const char* name) {
    return given ? given : InterDataField::make(name, IDT_LONG, 1);
}

}  // namespace

InterFuncField::InterFuncField(const char* name, IdDynamicVector& ids, BlockDynamicVector& blocks,
                               InterDataField* returnField, const DeadSource& deadSource)
    : InterProcField(name, ids, blocks, deadSource), returnField_(ReturnFieldOr(returnField, name)) {}

InterFuncField::InterFuncField(const char* name, InterDataField* returnField, const char* source)
    : InterProcField(name, source), returnField_(ReturnFieldOr(returnField, name)) {}

InterFuncField::InterFuncField(const InterFuncField& other)
    : InterProcField(other), returnField_(other.returnField_ ? other.returnField_->clone() : nullptr) {}

IdType InterFuncField::type() const { return returnField_ ? returnField_->type() : IdType(IDT_LONG); }

InterDataField* InterFuncField::returnField() const { return static_cast<InterDataField*>(returnField_.get()); }

void InterFuncField::convertReturn(ValuePtr& v) const {
    if (returnField_ && v.get()) returnField_->typeConvert(v);
}

void InterFuncField::write(OCLStream& out) const {
    InterProcField::write(out);
    returnField_->write(out);
}

void InterFuncField::attach(tModuleIndex m) {
    InterProcField::attach(m);
    if (returnField_) returnField_->attach(m);
}

}  // namespace tq
