// One test body per kernel set: a suite declared with TW_PER_KERNEL_SUITE runs
// each of its TEST_P bodies once with the SSE2 kernels and once with the AVX2
// kernels. A set this build or processor cannot run is not instantiated; the
// program says so when it starts. (Not GTEST_SKIP: under 32-bit Wine through
// qemu-i386 googletest's report of a skip ends the program.)
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "trace/kernels.h"

namespace tw_test {

template <typename Base>
class PerKernelOf : public Base, public ::testing::WithParamInterface<tw::KernelSet> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tw::testing::UseKernels(GetParam()));
    Base::SetUp();
  }
  void TearDown() override {
    Base::TearDown();
    tw::testing::ChooseKernelsAgain();
  }
};

using PerKernel = PerKernelOf<::testing::Test>;

// The kernel sets this build and processor can run, SSE2 first; prints the
// ones left out.
inline std::vector<tw::KernelSet> AvailableKernelSets() {
  std::vector<tw::KernelSet> sets;
  for (tw::KernelSet set : {tw::KernelSet::kSse2, tw::KernelSet::kAvx2, tw::KernelSet::kAvx512}) {
    if (tw::KernelSetAvailable(set)) {
      sets.push_back(set);
    } else {
      std::printf(
          "the %s kernels do not run on this processor or target: their tests are left out\n",
          tw::KernelSetName(set));
    }
  }
  return sets;
}

inline std::string KernelSetParamName(const ::testing::TestParamInfo<tw::KernelSet>& info) {
  return tw::KernelSetName(info.param);
}

}  // namespace tw_test

// Declares Suite (on the fixture Base) and runs it once per kernel set.
#define TW_PER_KERNEL_FIXTURE(Suite, Base)                                                      \
  class Suite : public tw_test::PerKernelOf<Base> {};                                           \
  INSTANTIATE_TEST_SUITE_P(Kernels, Suite, ::testing::ValuesIn(tw_test::AvailableKernelSets()), \
                           tw_test::KernelSetParamName)
#define TW_PER_KERNEL_SUITE(Suite) TW_PER_KERNEL_FIXTURE(Suite, ::testing::Test)
