// Method fields: the fields whose value is code.
//
// MethodField is the base of every method of a signature: interpreted
// procedures (InterProcField for a Sub, InterFuncField for a Function),
// procedures of a DLL and methods compiled into a built-in class (these two
// come with foreign calls and the built-in class framework, through the
// same interface: eval with the object and the arguments). A method keeps a
// parameter prototype: a worker object of its module with one field per
// parameter, in declaration order, which binding copies into the argument
// object of each call (InterObjRep::bind).
//
// The road of a call obj.M(a, b):
//  1. the caller evaluates the arguments into a ValueList, as a call
//     builds it: last argument first (Cid::getValueList), by reference
//     where a value names storage;
//  2. the name resolves to a member of obj: the field's getMember gives a
//     MethodMember, whose memberEval checks what the expression demands
//     (type suffix, value wanted or not) and calls eval;
//  3. InterProcField::eval: the object must allow reading; an activation
//     Context is made (a Function's return value at once, a lookup cache
//     from the pool); the procedure must be compiled; the debugger is told;
//     the arguments are bound (their number and types checked, by-reference
//     parameters referring to the caller's storage, by-value ones holding
//     copies); a SubFrame or FunctionFrame is pushed with the argument
//     object as its scope, and the body (the last block) runs;
//  4. Exit Sub / Exit Function unlinks the frames down to that frame and
//     the call returns normally; a Function gives back its return value
//     (Context::takeReturnValue); frame, argument object and context go.
// A failure passing out has been given its line, Me and procedure by the
// innermost statement; every frame, scope and cache slot of the call is
// released as it passes.
//
// Record of an interpreted procedure, inside its signature's field list
// (field.h):
//
//   width  meaning
//   1      field kind: 15 InterProcField, 14 InterFuncField
//   5      name, an identifier reference
//   1      field flags
//   5      parameter prototype, an object reference (null: no parameters)
//   1      compiled: 1 when the code follows, 0 when the source text does
//   ...    not compiled: the text's length with its NUL (4), the text, NUL
//          compiled: the dead source (deadsrc.h), the identifier table
//          (IdStringVector, idstr.h), the block table (BlockVector,
//          block.h), whose last block is the body
//   ...    kind 14 only: the return field, as its own field record
//
// A record from a file is checked before anything uses it: a compiled
// procedure's block table must end in a body, the parameter prototype must
// be a worker object of the procedure's module (checked when it is first
// used, as objects are read on first use), the return field a value field
// of a language type. Blocks are read when the procedure first runs.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "store/block.h"
#include "store/deadsrc.h"
#include "store/field.h"
#include "store/interp/regform.h"
#include "store/member.h"
#include "store/persist/idstr.h"

namespace tq {

class MethodField : public Field {
public:
    explicit MethodField(const char* name) : Field(name) {}
    // Copies the parameter prototype (a new worker object with the same
    // fields) and the source text.
    MethodField(const MethodField& other);
    ~MethodField() override;

    bool isMethod() const override { return true; }
    void addField(SignatureRep& sig, int prepend, Value* init) override;
    void removeField(SignatureRep& sig) override;
    void attach(tModuleIndex m) override;
    // The method bound to obj: evaluating the member runs it.
    MemberPtr getMember(InterObjRep& obj, SignatureRep& owner) override;

    // Runs the method on obj with args, listed as a call lists them (last
    // argument first); a new value for a function, null for a procedure.
    // A method that defines only its member (getMember) runs that.
    virtual ValuePtr eval(InterObjRep& obj, const ValueList* args);

    // Adds a parameter after those defined so far; the prototype is made on
    // first use, a worker object of the module being opened. The method
    // keeps f.
    void defineArgument(InterDataField* f);
    // The number of parameters.
    int32_t parmCount() const;
    // The parameter prototype, read when first asked for; null when the
    // method takes no arguments. One from a file that is not a worker
    // object of the method's kind raises ObjectLoadFailed.
    InterObjRep* parameterPrototype() const;
    const Faultp<InterObjRep>& parameterRef() const { return parms_; }

    // The text of a method that is not compiled; null for one that is.
    const char* sourceText() const { return hasSource_ ? source_.c_str() : nullptr; }
    // The method's text as a new string.
    virtual std::string getSource() const;

    // The argument object of a call, bound from given (listed as a call
    // lists them, last first; null for none): a spare one of an earlier
    // call bound again, or a new one. Plain parameters of their own types
    // are bound straight from given, which must then outlive the call (a
    // by-reference parameter names its value); anything else is converted
    // in bound, which the caller keeps as long. The caller gives the object
    // back when the call ends.
    InterObjRep* bindArguments(InterObjRep& proto, const ValueList* given, ValueList& bound);
    // Keeps a finished call's argument object, emptied, for the next call
    // (or destroys it when enough are kept). Never raises.
    void giveBackArguments(InterObjRep* args) noexcept;
    // Destroys the spare argument objects of every method. Spares live only
    // while a program runs: the outermost call ends with this, so that no
    // object of a module's signature outlives the run (and keeps the
    // module from being unloaded).
    static void DropAllSpareArguments() noexcept;

protected:
    struct tFromRecord {};
    explicit MethodField(tFromRecord) : Field(Field::tFromRecord{}) {}
    void setSource(const char* text);
    void readParameters(OCLStream& in, tModuleIndex m);
    void writeParameters(OCLStream& out) const;

    // Destroys the spare argument objects (the prototype changes or goes).
    void dropSpareArguments() noexcept;

    // Where each parameter's bytes lie in an argument object, found once for
    // the prototype's signature while no field list changes (the field
    // look-up revision); plain when every parameter is a plain one
    // (interp/argval.h, IsPlainParameter) and no ancestor has fields.
    struct ParameterSlot {
        uint32_t offset;
        IdType code;
        bool byReference;
    };
    struct ParameterLayout {
        SignatureRep* signature = nullptr;
        uint64_t revision = 0;
        bool plain = false;
        std::vector<ParameterSlot> slots;
    };
    const ParameterLayout& parameterLayout(InterObjRep& proto);
    const ParameterLayout& findParameterLayout(InterObjRep& proto);
    // Binds args (listed last first) into w, a spare argument object of
    // proto's, by storing each argument's datum (for a by-reference
    // parameter, the handle id of the argument) when the layout is plain and
    // every argument already has its parameter's type: what the general
    // binding would store, without its conversions. False, with w untouched,
    // for anything else.
    bool bindPlain(InterObjRep& proto, const ValueList& args, InterObjRep& w);

    Faultp<InterObjRep> parms_{PrimaryReference, nullptr};
    std::string source_;
    bool hasSource_ = false;
    // Argument objects of finished calls, emptied, so that a call need not
    // make and destroy one (an object, its data and its place in the
    // prototype's signature). Recursion takes one per level at once, so
    // enough are kept for the depths programs commonly recurse to; beyond
    // kSpareArguments they are destroyed. Each reference reads null once its
    // object has gone some other way.
    static constexpr size_t kSpareArguments = 32;
    std::vector<Faultp<InterObjRep>> spareArgs_;
    // The methods that have kept spares in this run, each listed once
    // (listedWithSpares_) however often a call takes its last spare and
    // gives it back, so that the list stays as long as the methods called.
    static inline std::vector<MethodField*> withSpares{};
    bool listedWithSpares_ = false;
    ParameterLayout layout_;
};

class InterProcField : public MethodField {
public:
    // Takes over the compiler's tables (emptied for reuse) and the dead
    // source into the module being opened.
    InterProcField(const char* name, IdDynamicVector& ids, BlockDynamicVector& blocks,
                   const DeadSource& deadSource = DeadSource());
    // A procedure that is not compiled: its source text only.
    InterProcField(const char* name, const char* source);
    // Copies the parameter prototype and every block (their variable
    // objects cloned) into the module being opened.
    InterProcField(const InterProcField& other);
    ~InterProcField() override;

    Field* clone() const override { return new InterProcField(*this); }
    bool isProcedure() const override { return true; }
    bool isInterMethod() const override { return true; }
    IdType type() const override { return IDT_VOID; }
    void write(OCLStream& out) const override;
    void attach(tModuleIndex m) override;
    ValuePtr eval(InterObjRep& obj, const ValueList* args) override;
    // The procedure's text: for a compiled procedure, what print writes;
    // for one that is not compiled, its stored text.
    std::string getSource() const override;
    // Writes the text of a compiled procedure, regenerated from its blocks
    // and dead source (srcctl.h): the header (the first dead-source
    // fragment, a plain line, with whatever stands on its line), the body,
    // and "End Sub" or "End Function" on the body's end line, then "\r\n".
    // A procedure that is not compiled writes its stored text.
    void print(std::ostream& os) const;

    const IdStringVector& identifiers() const { return ids_; }
    const BlockVector& blocks() const { return blocks_; }
    const DeadSource& deadSource() const { return deadSource_; }
    // Compiled: the block table is not empty; its last block is the body.
    bool isCompiled() const { return blocks_.length() != 0; }
    BlockRep* body() const { return blocks_.body(); }
    // The index of the procedure's own name in its identifier table (where
    // a function's code assigns its return value), -1 when it has none.
    int32_t ownNameIndex() const { return ownNameIndex_; }

    // The smallest statement line (or block end line) at or after line over
    // all blocks ("line>=0"); -1 when there is none.
    int32_t getNearestSourceLine(int32_t line) const;

    // Reads the rest of a record of kind 14 or 15 (field.h's reader).
    static Field* Read(OCLStream& in, tModuleIndex m, uint8_t kind);

    // What an activation on me resolved to members of me (its fields and
    // methods), kept when it ends so that the next activation on the same
    // object starts with them in its lookup cache instead of searching for
    // them again; slot i is identifier i's. Valid only while the cache epoch
    // it was kept in lasts (Context::cacheEpoch). Kept only within a run:
    // the run's outermost call drops every procedure's (DropAllWarmCaches).
    //
    // Beside them, what the last activation to end normally with each of
    // the procedure's argument objects resolved to that object's fields
    // (slot i is identifier i's, null for others): a call that binds its
    // arguments into the same object again (a spare, bound anew) starts
    // with them instead of searching its parameters by name. One entry per
    // argument object, as many as the procedure keeps spares: recursion
    // takes a spare per level, and each level finds its own. An entry is
    // valid only while the object, the epoch and the field look-up revision
    // (FieldLookupRevision) are the ones it was kept with.
    struct ArgumentSlots {
        InterObjRep* args = nullptr;
        uint64_t epoch = 0;
        uint64_t revision = 0;
        std::vector<MemberPtr> slots;
    };
    static constexpr size_t kArgumentSlotSets = kSpareArguments;
    struct WarmCache {
        InterObjRep* me = nullptr;
        uint64_t epoch = 0;
        std::vector<MemberPtr> slots;
        std::vector<ArgumentSlots> args;
        // The entry to give up next when every one is taken.
        size_t nextArgs = 0;
        // The entry kept for args, null when there is none.
        ArgumentSlots* argumentSlots(const InterObjRep* a) {
            for (ArgumentSlots& e : args)
                if (e.args == a) return &e;
            return nullptr;
        }
    };
    WarmCache& warmCache() { return warm_; }
    // Records that this procedure holds a warm cache, for DropAllWarmCaches.
    void noteWarm();
    static void DropAllWarmCaches() noexcept;

    // The indexes of my identifiers that name a field of signature sig or
    // of its ancestors: the names a scope object of that signature shadows
    // when a frame pushes it. Remembered per signature while the field
    // look-up revision lasts, so that a call does not search its parameters'
    // and locals' names in my table every time.
    const std::vector<uint32_t>& namesShadowedBy(SignatureRep& sig);

    // The procedure's register form (interp/regform.h): side data in
    // memory, made when it first runs and dropped when stale; never saved.
    RegFormHolder& registerForm() { return regForm_; }

protected:
    explicit InterProcField(MethodField::tFromRecord t) : MethodField(t) {}
    void findOwnName() { ownNameIndex_ = ids_.findString(name()); }
    // The message id of "does not compile correctly".
    virtual unsigned notCompiledMessage() const { return 32724; }

    DeadSource deadSource_;
    IdStringVector ids_;
    BlockVector blocks_;
    int32_t ownNameIndex_ = -1;

private:
    void dropWarm() noexcept;

    WarmCache warm_;
    bool warmNoted_ = false;
    struct ShadowedNames {
        const SignatureRep* signature;
        uint64_t revision;
        std::vector<uint32_t> ids;
    };
    // A procedure pushes few scope signatures (a locals object per block
    // with locals, the statics, the arguments).
    static constexpr size_t kShadowedSignatures = 8;
    std::vector<ShadowedNames> shadowed_;
    static inline std::vector<InterProcField*> withWarm{};
    RegFormHolder regForm_;
};

class InterFuncField final : public InterProcField {
public:
    // returnField gives the return type; the function keeps it.
    InterFuncField(const char* name, IdDynamicVector& ids, BlockDynamicVector& blocks, InterDataField* returnField,
                   const DeadSource& deadSource = DeadSource());
    InterFuncField(const char* name, InterDataField* returnField, const char* source);
    InterFuncField(const InterFuncField& other);

    Field* clone() const override { return new InterFuncField(*this); }
    bool isProcedure() const override { return false; }
    bool isFunction() const override { return true; }
    IdType type() const override;
    void write(OCLStream& out) const override;
    void attach(tModuleIndex m) override;
    InterDataField* returnField() const;
    // v converted to the return type (the return field's conversion).
    void convertReturn(ValuePtr& v) const;

private:
    friend class InterProcField;
    explicit InterFuncField(MethodField::tFromRecord t) : InterProcField(t) {}
    unsigned notCompiledMessage() const override { return 32723; }

    FieldPtr returnField_;
};

// The procedures declared from a DLL (CDLLProcField, CDLLFuncField) and the
// methods compiled into built-in classes (CppProcField, CppFuncField) are
// MethodFields too: they come with foreign calls and the built-in class
// framework, and join the road above at eval.

}  // namespace tq
