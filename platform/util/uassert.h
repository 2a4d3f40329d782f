// Assertions for the library's own invariants.
//
// utilsAssert reports a broken invariant through an installable handler. The
// default handler writes "Assertion failed: <text>, file <file>, line <n>" to
// standard error and aborts; tests install one that throws, so that they can
// check the texts. Nothing that comes from a file, a program of the language
// or a host call may ever reach an assertion: those are checked and raised as
// exceptions.
#pragma once

namespace tq {

// The handler receives the assertion text, the short source name (the file
// name without folder and extension, e.g. "storeapp") and the line. It must
// not return normally; if it does, the process aborts.
using AssertHandler = void (*)(const char* text, const char* source, int line);

// Installs a handler (null restores the default) and returns the previous one.
AssertHandler SetAssertHandler(AssertHandler handler);

[[noreturn]] void utilsAssert(const char* text, const char* file, int line);

}  // namespace tq

// TQ_ASSERT(cond, "text"): the text is the system's own wording of the check.
#define TQ_ASSERT(cond, text) \
    ((cond) ? static_cast<void>(0) : ::tq::utilsAssert((text), __FILE__, __LINE__))
