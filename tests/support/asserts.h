// Test helpers for the library's assertions: while a ScopedThrowingAsserts
// lives, utilsAssert throws AssertionFailed instead of aborting, so a test can
// check that an invariant is guarded and with which text.
#pragma once

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "platform/util/uassert.h"

namespace tq {

struct AssertionFailed : std::runtime_error {
    AssertionFailed(std::string text, std::string source, int line)
        : std::runtime_error(text), text(std::move(text)), source(std::move(source)), line(line) {}
    std::string text;
    std::string source;
    int line;
};

class ScopedThrowingAsserts {
public:
    ScopedThrowingAsserts();
    ~ScopedThrowingAsserts();
    ScopedThrowingAsserts(const ScopedThrowingAsserts&) = delete;
    ScopedThrowingAsserts& operator=(const ScopedThrowingAsserts&) = delete;

private:
    AssertHandler previous_;
};

}  // namespace tq

// Expects `stmt` to fail the assertion whose text is `text`.
#define EXPECT_ASSERTION(stmt, expectedText)                                   \
    do {                                                                       \
        try {                                                                  \
            stmt;                                                              \
            ADD_FAILURE() << "no assertion from " #stmt;                       \
        } catch (const ::tq::AssertionFailed& failure__) {                     \
            EXPECT_EQ(failure__.text, std::string(expectedText));              \
        }                                                                      \
    } while (0)
