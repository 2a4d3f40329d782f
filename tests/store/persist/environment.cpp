#include <gtest/gtest.h>

#include "store/persist/idstr.h"

namespace {

// The names of DETACHED_MODULE exist for the whole program, as they do
// between the start and the stop of the library.
class NamesEnvironment : public ::testing::Environment {
public:
    void SetUp() override { tq::IdString::Initialize(); }
    void TearDown() override { tq::IdString::Terminate(); }
};

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new NamesEnvironment);

}  // namespace
