#include "store/interp/fncaller.h"

#include <ffi.h>

#include <new>
#include <string>
#include <vector>

#include "platform/util/syserror.h"
#include "store/errors/storeexc.h"
#include "store/interp/intfuncs.h"
#include "store/model/objval.h"
#include "store/stkpush.h"

namespace tq {

// ---- member pointers --------------------------------------------------------

namespace {

#if defined(__arm__) || defined(__aarch64__)
constexpr bool kVirtualFlagInAdjustment = true;
#else
constexpr bool kVirtualFlagInAdjustment = false;
#endif

}  // namespace

bool MemberPointer::isNull() const {
    if constexpr (kVirtualFlagInAdjustment) return ptr == 0 && (adj & 1) == 0;
    return ptr == 0;
}

void* MemberPointer::resolve(void*& self) const {
    char* object = static_cast<char*>(self);
    bool isVirtual = false;
    uintptr_t offset = 0;
    if constexpr (kVirtualFlagInAdjustment) {
        object += adj >> 1;
        isVirtual = (adj & 1) != 0;
        offset = ptr;
    } else {
        object += adj;
        isVirtual = (ptr & 1) != 0;
        offset = ptr - 1;
    }
    self = object;
    if (!isVirtual) return reinterpret_cast<void*>(ptr);
    // The adjusted object begins with its virtual table's address; the
    // entry at offset is the function.
    const char* table = nullptr;
    std::memcpy(&table, object, sizeof table);
    void* code = nullptr;
    std::memcpy(&code, table + offset, sizeof code);
    return code;
}

// ---- the call itself --------------------------------------------------------

namespace {

// The native result, whatever its type: libffi widens integer results to a
// whole ffi_arg, and a class returned through memory is built in cls.
union NativeResult {
    ffi_arg word;
    float f;
    double d;
    int64_t c;
    void* p;
    alignas(16) unsigned char cls[40];
};

// A class that the C++ ABI returns through a caller-supplied buffer: an
// aggregate larger than four words is returned through memory on every
// Itanium platform libffi serves, with the buffer's address passed as the
// ABI passes a non-trivial class's.
ffi_type* classesByMemory[] = {&ffi_type_uint64, &ffi_type_uint64, &ffi_type_uint64, &ffi_type_uint64,
                               &ffi_type_uint64, nullptr};
ffi_type classByMemory = {0, 0, FFI_TYPE_STRUCT, classesByMemory};

static_assert(sizeof(ValString) <= sizeof(NativeResult::cls) && alignof(ValString) <= 16);
static_assert(sizeof(InterObj) <= sizeof(NativeResult::cls) && alignof(InterObj) <= 16);
static_assert(!std::is_trivially_copyable_v<ValString> && !std::is_trivially_copyable_v<InterObj>,
              "returned through the caller's buffer only as non-trivial classes are");

ffi_type* NativeType(GenericStackPusher::tArgForm form) {
    switch (form) {
        case GenericStackPusher::ARG_SHORT: return &ffi_type_sint16;
        case GenericStackPusher::ARG_LONG: return &ffi_type_sint32;
        case GenericStackPusher::ARG_FLOAT: return &ffi_type_float;
        case GenericStackPusher::ARG_DOUBLE: return &ffi_type_double;
        case GenericStackPusher::ARG_CURRENCY: return &ffi_type_sint64;
        default: return &ffi_type_pointer;
    }
}

ffi_type* ResultType(uint8_t returnType, bool member) {
    switch (returnType & IDT_TYPEMASK) {
        case IDT_SHORT: return &ffi_type_sint16;
        case IDT_LONG: return &ffi_type_sint32;
        case IDT_FLOAT: return &ffi_type_float;
        case IDT_DOUBLE: return &ffi_type_double;
        case IDT_CURRENCY: return &ffi_type_sint64;
        case IDT_STRING:
        case IDT_OBJECT: return member ? &classByMemory : &ffi_type_pointer;
        default: return &ffi_type_void;
    }
}

// Up to this many native arguments (the object pointer counted) need no
// heap allocation per call.
constexpr size_t kInlineArgs = GenericStackPusher::kInline + 1;

}  // namespace

// One prepared call interface and the call through it. The interface is
// kept for the forms of the last call prepared; a call while another runs
// through this caller (a member function that runs the language, which
// calls it again with other forms) prepares one of its own on the stack.
class ForeignCall {
public:
    ForeignCall(ffi_type* result, bool member) : result_(result), member_(member) {}

    // Calls code with self first (member functions) and the arguments;
    // stash: clear errno before and stash it right after (plain functions).
    void invoke(void* code, void* self, GenericStackPusher& args, NativeResult& out, bool stash) {
        const size_t n = args.count() + (member_ ? 1 : 0);
        void* inlineValues[kInlineArgs];
        uint8_t inlineForms[kInlineArgs];
        std::vector<void*> moreValues;
        std::vector<uint8_t> moreForms;
        void** values = inlineValues;
        uint8_t* forms = inlineForms;
        if (n > kInlineArgs) {
            moreValues.resize(n);
            moreForms.resize(n);
            values = moreValues.data();
            forms = moreForms.data();
        }
        size_t k = 0;
        if (member_) values[k++] = &self;
        for (size_t i = 0; i < args.count(); ++i) {
            GenericStackPusher::Arg& a = args[i];
            forms[i] = a.form;
            // The arguments stay where they are from here on: a by-reference
            // copy's address is taken now.
            if (a.form == GenericStackPusher::ARG_COPY_REF) {
                a.ref = &a.c;  // every member of the union starts there
                values[k++] = &a.ref;
            } else if (a.form == GenericStackPusher::ARG_STRING_REF) {
                a.ref = &a.slot;
                values[k++] = &a.ref;
            } else {
                values[k++] = &a.c;  // every by-value form starts the union
            }
        }
        call(code, forms, args.count(), values, &out, stash);
    }

    // Calls code with the n arguments of forms (self not counted) whose
    // native storage values address (self's first for member functions).
    void call(void* code, const uint8_t* forms, size_t n, void** values, void* out, bool stash) {
        ffi_cif local;
        std::vector<ffi_type*> localTypes;
        ffi_cif* cif = &cif_;
        if (!prepared_ || !matches(forms, n)) {
            if (active_ == 0) {
                prepare(cif_, types_, forms, n);
                forms_.assign(forms, forms + n);
                prepared_ = true;
            } else {
                prepare(local, localTypes, forms, n);
                cif = &local;
            }
        }
        struct Active {
            int& n;
            explicit Active(int& count) : n(count) { ++n; }
            ~Active() { --n; }
        } active(active_);
        if (stash) SetLastSystemError(0);
        ffi_call(cif, reinterpret_cast<void (*)()>(code), out, values);
        if (stash) StashLastAPIErrorCode();
    }

private:
    static ffi_type* TypeOf(uint8_t form) { return NativeType(static_cast<GenericStackPusher::tArgForm>(form)); }

    bool matches(const uint8_t* forms, size_t n) const {
        if (forms_.size() != n) return false;
        for (size_t i = 0; i < n; ++i)
            if (TypeOf(forms_[i]) != TypeOf(forms[i])) return false;
        return true;
    }

    void prepare(ffi_cif& cif, std::vector<ffi_type*>& types, const uint8_t* forms, size_t n) {
        types.clear();
        if (member_) types.push_back(&ffi_type_pointer);
        for (size_t i = 0; i < n; ++i) types.push_back(TypeOf(forms[i]));
        if (ffi_prep_cif(&cif, FFI_DEFAULT_ABI, static_cast<unsigned>(types.size()), result_, types.data()) != FFI_OK)
            throw StoreException("the arguments of a native call cannot be laid out for this platform",
                                 nullptr);
    }

    ffi_type* result_;
    bool member_;
    ffi_cif cif_{};
    std::vector<ffi_type*> types_;
    std::vector<uint8_t> forms_;
    bool prepared_ = false;
    int active_ = 0;
};

namespace {

// Every argument, in parameter order, into the pusher: by reference when
// the binding flagged it so.
void PushArguments(const ValueList& list, bool lastFirst, GenericStackPusher& pusher) {
    const int32_t n = list.length();
    for (int32_t i = 0; i < n; ++i) {
        Value* v = list.at(lastFirst ? n - 1 - i : i);
        if (v->isByRef())
            v->getByRefStackPusher(pusher);
        else
            v->getStackPusher(pusher);
    }
}

// The results that both families read the same way.
ValuePtr MakeNumber(uint8_t returnType, const NativeResult& r) {
    switch (returnType) {
        case IDT_SHORT: return ValuePtr(new IntegerValue(static_cast<int16_t>(r.word)));
        case IDT_LONG: return ValuePtr(new LongValue(static_cast<int32_t>(r.word)));
        case IDT_FLOAT: return ValuePtr(new SingleValue(r.f));
        case IDT_DOUBLE: return ValuePtr(new DoubleValue(r.d));
        case IDT_CURRENCY: return ValuePtr(new CurrencyValue(Currency::FromHundredths(static_cast<double>(r.c))));
        default: return ValuePtr();
    }
}

template <uint8_t kType>
class CTypedFunctionCaller final : public CFunctionCaller {
public:
    CTypedFunctionCaller() : CFunctionCaller(kType) {}

protected:
    ValuePtr make(const void* result, const GenericStackPusher& args) const override {
        const NativeResult& r = *static_cast<const NativeResult*>(result);
        if constexpr (kType == IDT_STRING) {
            const char* text = static_cast<const char*>(r.p);
            return ValuePtr(new StringValue(ValString(text ? text : "")));
        } else if constexpr (kType == IDT_OBJECT) {
            if (!r.p) return ValuePtr(new ObjectValue());
            for (size_t i = 0; i < args.count(); ++i)
                if (args[i].form == GenericStackPusher::ARG_OBJECT && args[i].address == r.p)
                    return ValuePtr(new ObjectValue(*static_cast<const InterObj*>(args[i].address)));
            throw StoreException("a library function returned an object it was not given", nullptr);
        } else {
            return MakeNumber(kType, r);
        }
    }
};

template <uint8_t kType>
class CppTypedFunctionCaller final : public CppFunctionCaller {
public:
    CppTypedFunctionCaller() : CppFunctionCaller(kType) {}

protected:
    ValuePtr make(void* result) const override {
        NativeResult& r = *static_cast<NativeResult*>(result);
        if constexpr (kType == IDT_STRING || kType == IDT_OBJECT) {
            // The function built a handle in the buffer: it is taken over
            // and destroyed here, also when making the value fails.
            using Handle = std::conditional_t<kType == IDT_STRING, ValString, InterObj>;
            using Made = std::conditional_t<kType == IDT_STRING, StringValue, ObjectValue>;
            Handle* h = std::launder(reinterpret_cast<Handle*>(r.cls));
            struct Destroy {
                Handle* h;
                ~Destroy() { h->~Handle(); }
            } destroy{h};
            return ValuePtr(new Made(*h));
        } else {
            return MakeNumber(kType, r);
        }
    }
};

// One caller class per return type: CTypedFunctionCaller<IDT_SHORT> is the
// CShortFunctionCaller of the table in fncaller.h, and so on.
template <class Base, template <uint8_t> class Typed>
std::unique_ptr<Base> MakeCaller(uint8_t returnType) {
    switch (returnType) {
        case IDT_SHORT: return std::make_unique<Typed<IDT_SHORT>>();
        case IDT_LONG: return std::make_unique<Typed<IDT_LONG>>();
        case IDT_FLOAT: return std::make_unique<Typed<IDT_FLOAT>>();
        case IDT_DOUBLE: return std::make_unique<Typed<IDT_DOUBLE>>();
        case IDT_CURRENCY: return std::make_unique<Typed<IDT_CURRENCY>>();
        case IDT_STRING: return std::make_unique<Typed<IDT_STRING>>();
        case IDT_OBJECT: return std::make_unique<Typed<IDT_OBJECT>>();
        case IDT_VOID: return std::make_unique<Typed<IDT_VOID>>();
        default: return nullptr;
    }
}

}  // namespace

// ---- plain functions --------------------------------------------------------

std::unique_ptr<CFunctionCaller> CFunctionCaller::classFactory(uint8_t returnType) {
    return MakeCaller<CFunctionCaller, CTypedFunctionCaller>(returnType);
}

CFunctionCaller::CFunctionCaller(uint8_t returnType)
    : call_(std::make_unique<ForeignCall>(ResultType(returnType, false), false)) {}

CFunctionCaller::~CFunctionCaller() = default;

ValuePtr CFunctionCaller::eval(const ValueList* args, void (*fn)()) {
    static const ValueList none;
    return call(args ? *args : none, true, fn);
}

ValuePtr CFunctionCaller::evalInOrder(const ValueList& params, void (*fn)()) { return call(params, false, fn); }

void CFunctionCaller::evalNative(void (*fn)(), const uint8_t* forms, void** values, size_t n, NativeWord& result) {
    // A number result is at most the whole word libffi widens integers to.
    static_assert(sizeof(NativeWord) >= sizeof(ffi_arg) && alignof(NativeWord) >= alignof(ffi_arg));
    call_->call(reinterpret_cast<void*>(fn), forms, n, values, &result, true);
}

ValuePtr CFunctionCaller::call(const ValueList& args, bool lastFirst, void (*fn)()) {
    GenericStackPusher pusher;
    PushArguments(args, lastFirst, pusher);
    NativeResult r{};
    call_->invoke(reinterpret_cast<void*>(fn), nullptr, pusher, r, true);
    pusher.writeBack();
    return make(&r, pusher);
}

// ---- member functions -------------------------------------------------------

std::unique_ptr<CppFunctionCaller> CppFunctionCaller::classFactory(uint8_t returnType) {
    return MakeCaller<CppFunctionCaller, CppTypedFunctionCaller>(returnType);
}

// The return types MakeCaller makes a caller for.
bool CppFunctionCaller::makesCallerFor(uint8_t returnType) {
    switch (returnType) {
        case IDT_SHORT:
        case IDT_LONG:
        case IDT_FLOAT:
        case IDT_DOUBLE:
        case IDT_CURRENCY:
        case IDT_STRING:
        case IDT_OBJECT:
        case IDT_VOID: return true;
        default: return false;
    }
}

CppFunctionCaller::CppFunctionCaller(uint8_t returnType)
    : returnType_(returnType), call_(std::make_unique<ForeignCall>(ResultType(returnType, true), true)) {}

CppFunctionCaller::~CppFunctionCaller() = default;

ValuePtr CppFunctionCaller::eval(void* self, const ValueList* args, const MemberPointer& m) {
    static const ValueList none;
    return call(self, args ? *args : none, true, m);
}

ValuePtr CppFunctionCaller::evalInOrder(void* self, const ValueList& params, const MemberPointer& m) {
    return call(self, params, false, m);
}

ValuePtr CppFunctionCaller::call(void* self, const ValueList& args, bool lastFirst, const MemberPointer& m) {
    if (!self || m.isNull()) {
        if (returnType_ == IDT_VOID) return ValuePtr();
        return DirectValueClassFactory(returnType_, nullptr);
    }
    GenericStackPusher pusher;
    PushArguments(args, lastFirst, pusher);
    void* code = m.resolve(self);
    NativeResult r{};
    call_->invoke(code, self, pusher, r, false);
    // The result is taken first: a class built in the buffer must be
    // destroyed even when storing a by-reference copy back fails.
    ValuePtr result = make(&r);
    pusher.writeBack();
    return result;
}

}  // namespace tq
