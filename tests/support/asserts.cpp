#include "tests/support/asserts.h"

namespace tq {
namespace {

[[noreturn]] void ThrowingHandler(const char* text, const char* source, int line) {
    throw AssertionFailed(text, source, line);
}

}  // namespace

ScopedThrowingAsserts::ScopedThrowingAsserts() : previous_(SetAssertHandler(ThrowingHandler)) {}
ScopedThrowingAsserts::~ScopedThrowingAsserts() { SetAssertHandler(previous_); }

}  // namespace tq
