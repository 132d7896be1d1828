// Built into every test binary: a run in which code under test found one of
// its invariants broken fails at its end, though the code went on.
#include <gtest/gtest.h>

#include "platform/kernel/Invariant.h"

namespace {

struct InvariantWatch : testing::Environment {
  void TearDown() override {
    EXPECT_EQ(plat::BrokenInvariants(), 0u) << "invariants broken in this run: see standard error";
  }
};

const auto* const gWatch = testing::AddGlobalTestEnvironment(new InvariantWatch);

}  // namespace
