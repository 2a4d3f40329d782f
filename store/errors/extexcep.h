// The StoreException family: one class per kind of failure.
//
// Catch clauses of the language and the debugger tell failures apart by class
// and by name(), so every class that has a name of its own reports it as a
// fixed text ("NotFound", "RangeError", ...). DuplicateName, FieldCollision,
// MathError and DatabaseError keep the base's "Exception": hosts that compare
// names rely on that.
//
// Texts of the located failures (DllLoadFailure ... StackOverflow) are the
// raiser's message id, unformatted; the `where` text naming the failing
// operation is accepted for the raiser's benefit and not kept.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/util/handle.h"
#include "store/errors/storeexc.h"
#include "store/idtype.h"

namespace tq {

class InterObjRep;

// Clone, Throw and name for a class that reports its own name.
#define TQ_EXCEPTION_CLASS(Class)                                     \
    Class* Clone() const override { return new Class(*this); }        \
    [[noreturn]] void Throw() const override { throw Class(*this); }  \
    const char* name() const override { return #Class; }

// Clone and Throw for a class that keeps the base's name().
#define TQ_EXCEPTION_CLASS_UNNAMED(Class)                             \
    Class* Clone() const override { return new Class(*this); }        \
    [[noreturn]] void Throw() const override { throw Class(*this); }

// A name that has not been found: ids 32686, 32720, 32737, 32740, 32741.
class NotFound : public StoreException {
public:
    NotFound(unsigned id, const char* what);
    TQ_EXCEPTION_CLASS(NotFound)
    std::unique_ptr<ValueList> args() const override;
    const std::string& whatText() const { return what_; }

private:
    std::string what_;
};

// An index or count outside [low, high]: ids 32727, 32728, 32729, 32736.
class RangeError : public StoreException {
public:
    RangeError(unsigned id, int32_t low, int32_t high, int32_t value);
    TQ_EXCEPTION_CLASS(RangeError)
    std::unique_ptr<ValueList> args() const override;
    int32_t low() const { return low_; }
    int32_t high() const { return high_; }
    int32_t value() const { return value_; }

private:
    int32_t low_, high_, value_;
};

// A value that cannot be converted to type: message 32752 with its name.
class ConvertFailed : public StoreException {
public:
    ConvertFailed(const char* where, IdType type);
    TQ_EXCEPTION_CLASS(ConvertFailed)
    IdType type() const { return type_; }

private:
    IdType type_;
};

// A failed call of the COM-style layer.
class OleException : public StoreException {
public:
    OleException(int32_t hr, const char* text);
    TQ_EXCEPTION_CLASS(OleException)
    std::unique_ptr<ValueList> args() const override;
    int32_t hr() const { return hr_; }

    // Throws OleException with the checker's text when hr is a failure.
    static void Check(int32_t hr, const char* context);

private:
    int32_t hr_;
};

// A record of a module that could not be read: message 32688.
class ObjectLoadFailed : public StoreException {
public:
    explicit ObjectLoadFailed(const char* object);
    TQ_EXCEPTION_CLASS(ObjectLoadFailed)
    std::unique_ptr<ValueList> args() const override;
    // The object's name as given; null when none was given.
    const char* objectName() const { return object_ ? object_->c_str() : nullptr; }

private:
    std::optional<std::string> object_;
};

// A module file that could not be opened: message 32687.
class ModuleOpenFailed : public StoreException {
public:
    explicit ModuleOpenFailed(const char* module);
    TQ_EXCEPTION_CLASS(ModuleOpenFailed)
    std::unique_ptr<ValueList> args() const override;
    // The module's name as given; null when none was given.
    const char* moduleName() const { return module_ ? module_->c_str() : nullptr; }

private:
    std::optional<std::string> module_;
};

// A module that refuses to be unloaded: ids 32680, 32681, 32682.
//
// The failure may outlive the module's object (a handler keeps a copy, the
// module goes): it names the object through the object's handle cell, which
// reads null once the object is destroyed, never through a raw pointer.
// The constructor, module() and args() live with the object values
// (model/objval.cpp).
class ModuleUnloadFailed : public StoreException {
public:
    ModuleUnloadFailed(unsigned id, InterObjRep* module);
    TQ_EXCEPTION_CLASS(ModuleUnloadFailed)
    // One Object: the module's object, Nothing when it has gone.
    std::unique_ptr<ValueList> args() const override;
    // The module's object; null when there was none or it has gone.
    InterObjRep* module() const;

private:
    HandleTable::Id moduleCell_ = 0;
};

// A reference to another module that could not be resolved: message 32685.
class ProxyResolveFailed : public StoreException {
public:
    // Why the resolver gave up; the values are what hosts see through args().
    enum tResolveFailure : int32_t {
        SIGNATURE_MISMATCH = 0,  // an object of the name exists, of another signature
        NOT_FOUND = 1,           // no object of the name
        ENUM_NOT_FOUND = 3,      // no enumeration of the name
    };

    ProxyResolveFailed(const char* name, tResolveFailure reason);
    TQ_EXCEPTION_CLASS(ProxyResolveFailed)
    std::unique_ptr<ValueList> args() const override;
    // The unresolved name as given; null when none was given.
    const char* proxyName() const { return name_ ? name_->c_str() : nullptr; }
    tResolveFailure reason() const { return reason_; }

private:
    std::optional<std::string> name_;
    tResolveFailure reason_;
};

// Floating-point and integer arithmetic faults: ids 32699 to 32707.
class FPException : public StoreException {
public:
    FPException(unsigned id, const char* arg);
    FPException(const char* text, const char* name);
    TQ_EXCEPTION_CLASS(FPException)
};

// A name that is not a valid field name: id 32708.
class InvalidFieldName : public StoreException {
public:
    InvalidFieldName(unsigned id, const char* arg);
    InvalidFieldName(const char* text, const char* name);
    TQ_EXCEPTION_CLASS(InvalidFieldName)
};

// A name that is not a valid object name: id 32708.
class InvalidObjectName : public StoreException {
public:
    InvalidObjectName(unsigned id, const char* arg);
    InvalidObjectName(const char* text, const char* name);
    TQ_EXCEPTION_CLASS(InvalidObjectName)
};

// An object name already taken: message 32768.
class DuplicateName : public StoreException {
public:
    // Message 32768 with its placeholder unfilled.
    DuplicateName();
    explicit DuplicateName(unsigned id);
    explicit DuplicateName(const char* name);
    TQ_EXCEPTION_CLASS_UNNAMED(DuplicateName)
};

// A field definition that collides with another; the base of the six kinds.
class FieldCollision : public StoreException {
public:
    // Id 0 has no text, so this gives the fallback message.
    FieldCollision();
    explicit FieldCollision(unsigned id);
    // The text fills the placeholder of id 0, which has none: the message is
    // the fallback, as for FieldCollision().
    explicit FieldCollision(const char* text);
    TQ_EXCEPTION_CLASS_UNNAMED(FieldCollision)
};

#define TQ_COLLISION_CLASS(Class)                                      \
    class Class : public FieldCollision {                              \
    public:                                                            \
        explicit Class(const char* where);                             \
        TQ_EXCEPTION_CLASS(Class)                                      \
    };

TQ_COLLISION_CLASS(MethodDataCollision)     // 32751: a data field by the same name exists
TQ_COLLISION_CLASS(DataMethodCollision)     // 32750: a method field by the same name exists
TQ_COLLISION_CLASS(MatchingFieldCollision)  // 32749: same name and type
TQ_COLLISION_CLASS(CollisionOnParent)       // 32748: defined on a parent
TQ_COLLISION_CLASS(CollisionOnChild)        // 32716: defined on a child
TQ_COLLISION_CLASS(CollisionOnSelf)         // 32747: defined on this object

#undef TQ_COLLISION_CLASS

// Arithmetic failures without a more precise class: message 32698.
class MathError : public StoreException {
public:
    MathError();
    explicit MathError(unsigned id);
    explicit MathError(const char* text);
    TQ_EXCEPTION_CLASS_UNNAMED(MathError)
};

// Failures reported by a database layer: message 32696 ("%s") carries them.
class DatabaseError : public StoreException {
public:
    DatabaseError();
    explicit DatabaseError(unsigned id);
    explicit DatabaseError(const char* text);
    TQ_EXCEPTION_CLASS_UNNAMED(DatabaseError)
};

// Execution control: thrown through the interpreter to end or pause a run.
// Flag 0x1 tells the debugger and the Catch clauses that these are not
// failures of the program.
inline constexpr uint32_t kExecutionControlFlag = 0x1;
inline constexpr uint32_t kInterpretiveFlag = 0x4;

class TerminateExecution : public StoreException {
public:
    TerminateExecution();
    TQ_EXCEPTION_CLASS(TerminateExecution)
};

class PauseExecution : public StoreException {
public:
    PauseExecution();
    TQ_EXCEPTION_CLASS(PauseExecution)
};

// Located failures: message id unformatted; `where` names the failing
// operation and `detail` a second text of the same kind, neither kept. A
// raiser that knows more (which library, and why the loader refused it)
// gives the whole text instead.
#define TQ_LOCATED_FAILURE(Class)                                      \
    class Class : public StoreException {                              \
    public:                                                            \
        Class(const char* where, unsigned id);                         \
        Class(const char* where, const char* detail, unsigned id);     \
        explicit Class(const std::string& text);                       \
        TQ_EXCEPTION_CLASS(Class)                                      \
    };

TQ_LOCATED_FAILURE(DllLoadFailure)      // 32767
TQ_LOCATED_FAILURE(DllFuncMissing)      // 32766
TQ_LOCATED_FAILURE(TypeMismatch)        // 32765
TQ_LOCATED_FAILURE(SignatureMismatch)   // 32764, raised by users of the library
TQ_LOCATED_FAILURE(TooManyArguments)    // 32763
TQ_LOCATED_FAILURE(TooFewArguments)     // 32762
TQ_LOCATED_FAILURE(NullArguments)       // 32761, raised by users of the library
TQ_LOCATED_FAILURE(NonNullArguments)    // 32760
TQ_LOCATED_FAILURE(NotObjectReference)  // 32759
TQ_LOCATED_FAILURE(IllegalPromotion)    // 32758, raised by users of the library
TQ_LOCATED_FAILURE(IllegalConversion)   // 32757
TQ_LOCATED_FAILURE(CircularEmbed)       // 32756
TQ_LOCATED_FAILURE(AccessDenied)        // 32755, 32684, 32717
TQ_LOCATED_FAILURE(InvalidByRef)        // 32754
TQ_LOCATED_FAILURE(Overflow)            // raised by users of the library
TQ_LOCATED_FAILURE(Is_Null)             // 32743, 32744
TQ_LOCATED_FAILURE(UnnamedSignature)    // 32721
TQ_LOCATED_FAILURE(StackOverflow)       // 32713

#undef TQ_LOCATED_FAILURE

}  // namespace tq
