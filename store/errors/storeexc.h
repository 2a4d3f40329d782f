// StoreException: the base of every failure the store reports.
//
// A failure is a class (what kind of failure, so that hosts, the language's
// Catch clauses and the debugger can tell them apart) plus a message text. The
// text comes from the numbered message table compiled into the library (ids
// 32678 to 32768, see msgtable.h), filled with at most one argument, or is
// given whole by the raiser.
//
// Invariants:
//  1. Building a message never fails and never overruns: a missing or empty
//     table entry gives "Exception #<id> (no message available).", a null
//     argument formats as the empty text, and table texts are never handed to
//     printf with caller data; exactly one placeholder is substituted.
//  2. Every class copies completely (owned strings are duplicated), so Clone()
//     and Throw() keep the dynamic class and all particulars.
//  3. line is -1 until the statement during which the failure arose records
//     its source line.
//
// The message buffers behind ObjectNameFromAlias are process-wide and written
// on the interpreter's thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/util/xexcept.h"

namespace tq {

class InterObjRep;
class MethodField;
class ValueList;

class StoreException : public XException {
public:
    // "Not an exception".
    StoreException();
    // text as the message; name (may be null) reported by name().
    StoreException(const char* text, const char* name);
    explicit StoreException(const std::string& text);
    // Message id of the table, unformatted: its placeholders stay as they are.
    explicit StoreException(unsigned id);
    // Message id with arg in place of its %s (StringMsg).
    StoreException(unsigned id, const char* arg);
    // Message id with n in place of its %d (NumericMsg).
    StoreException(unsigned id, int32_t n);

    StoreException(const StoreException&) = default;
    StoreException& operator=(const StoreException&) = default;
    ~StoreException() override;

    // A new heap copy of the same dynamic class; the caller owns it.
    virtual StoreException* Clone() const;
    // Throws a copy typed as the dynamic class, so that a handler for the
    // subclass catches it even when it was held by the base.
    [[noreturn]] virtual void Throw() const;
    // The class-name text: the name given at construction, else "Exception".
    virtual const char* name() const;
    // The particulars of the failure as values, for the language's Catch
    // clauses: a new list that the caller owns; empty for most classes.
    virtual std::unique_ptr<ValueList> args() const;

    // Source line of the statement during which the exception arose, or -1.
    int32_t line = -1;
    // Set by the first statement the failure passes, which records line,
    // object and procedure; the statements around it leave them as they are.
    bool handled = false;
    // The procedure whose statement was running then, or null. It stays
    // valid while the procedure's signature lives; the debugger reads it
    // while the program is suspended.
    const MethodField* procedure = nullptr;

    // The object the failure concerns (the running code's Me). The exception
    // holds it without a count: it reads null once the object is gone.
    void setObject(InterObjRep* obj);
    InterObjRep* object() const;

    // Text of message id. *found (when not null) receives the text's length,
    // or 0 when the table has no text for id and the fallback is returned.
    static std::string ResourceIdToString(int* found, unsigned id);
    // Message id with arg substituted for its first %s (null formats as "").
    static std::string StringMsg(unsigned id, const char* arg);
    // Message id with n substituted for its first %d.
    static std::string NumericMsg(unsigned id, int32_t n);
    // A printable object name for use as a message argument: "Nothing" for
    // no object (null alias), else the alias cut to its first 80 characters.
    // The result stays valid until the next call.
    static const char* ObjectNameFromAlias(const char* alias);
    // The same for an object: its alias, or "Nothing" for no object.
    static const char* ObjectName(InterObjRep* obj);

    // Longest text a message table entry can have, and longest object name.
    static constexpr size_t kMaxMessageLength = 127;
    static constexpr size_t kMaxObjectNameLength = 80;

protected:
    // Classes that report their own name through the name field as well.
    void setName(const char* name);

private:
    std::optional<std::string> name_;
    // The object's handle cell (0 for none).
    uint32_t objectCell_ = 0;
};

// Throws StoreException with the system's text for error code (code 0: the
// calling thread's last error) and the name given, or "SystemError".
[[noreturn]] void ThrowSystemError(uint32_t code, const char* name);
// The same for a failure the system reported as text only (the dynamic
// loader does): text becomes the message.
[[noreturn]] void ThrowSystemError(const std::string& text, const char* name);

}  // namespace tq
