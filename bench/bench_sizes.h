// The sizes every text benchmark runs at (16 B to 16 MiB), and the
// registration of the library's routine once per kernel set.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "trace/kernels.h"

#define TW_BENCH_SIZES(function) \
  BENCHMARK(function)->Arg(16)->Arg(256)->Arg(4 << 10)->Arg(64 << 10)->Arg(16 << 20)

namespace tw_bench {

inline void Sizes(benchmark::internal::Benchmark* b) {
  for (int size : {16, 256, 4 << 10, 64 << 10, 16 << 20}) b->Arg(size);
}

// Registers run as <family>_ours@sse2, <family>_ours@avx2 and
// <family>_ours@avx512: the same benchmark with the library switched to each
// kernel set. A set this processor cannot run reports an error and is left
// out of the tables. With TARNWICK_KERNELS set (scripts/bench's run as an
// AVX2-only machine), only the set the library then chooses is registered.
inline int RegisterPerKernel(const char* family, void (*run)(benchmark::State&),
                             void (*apply)(benchmark::internal::Benchmark*)) {
  const bool capped = std::getenv("TARNWICK_KERNELS") != nullptr;
  for (tw::KernelSet set : {tw::KernelSet::kSse2, tw::KernelSet::kAvx2, tw::KernelSet::kAvx512}) {
    if (capped && set != tw::ActiveKernels()) continue;
    const std::string name = std::string(family) + "_ours@" + tw::KernelSetName(set);
    benchmark::RegisterBenchmark(name.c_str(), [run, set](benchmark::State& state) {
      if (!tw::testing::UseKernels(set)) {
        state.SkipWithError("this processor cannot run these kernels");
        return;
      }
      run(state);
      tw::testing::ChooseKernelsAgain();
    })->Apply(apply);
  }
  return 0;
}

}  // namespace tw_bench

#define TW_BENCH_PER_KERNEL(family, function, apply) \
  static const int registered_##function = tw_bench::RegisterPerKernel(#family, function, apply)
