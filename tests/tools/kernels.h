// One test body per kernel set: a suite declared with TW_PER_KERNEL_SUITE runs
// each of its TEST_P bodies once with the SSE2 kernels and once with the AVX2
// kernels, and skips (saying so) a set this build or processor cannot run.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "trace/kernels.h"

namespace tw_test {

template <typename Base>
class PerKernelOf : public Base, public ::testing::WithParamInterface<tw::KernelSet> {
 protected:
  void SetUp() override {
    if (!tw::testing::UseKernels(GetParam())) {
      GTEST_SKIP() << "the " << tw::KernelSetName(GetParam())
                   << " kernels do not run on this processor or target";
    }
    Base::SetUp();
  }
  void TearDown() override {
    Base::TearDown();
    tw::testing::ChooseKernelsAgain();
  }
};

using PerKernel = PerKernelOf<::testing::Test>;

inline std::string KernelSetParamName(const ::testing::TestParamInfo<tw::KernelSet>& info) {
  return tw::KernelSetName(info.param);
}

}  // namespace tw_test

// Declares Suite (on the fixture Base) and runs it once per kernel set.
#define TW_PER_KERNEL_FIXTURE(Suite, Base)                                                \
  class Suite : public tw_test::PerKernelOf<Base> {};                                     \
  INSTANTIATE_TEST_SUITE_P(Kernels, Suite,                                                \
                           ::testing::Values(tw::KernelSet::kSse2, tw::KernelSet::kAvx2), \
                           tw_test::KernelSetParamName)
#define TW_PER_KERNEL_SUITE(Suite) TW_PER_KERNEL_FIXTURE(Suite, ::testing::Test)
