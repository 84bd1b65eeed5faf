// Vector kernels by instruction set: the one process-wide choice of which
// kernels the library's hot routines run (text lengths, search, comparison,
// file comparison).
//
// The SSE2 kernels are the reference and the only ones on 32-bit targets and
// on processors without AVX2. On x86-64 processors whose CPUID reports AVX2
// (and whose operating system saves the YMM registers), the AVX2 kernels run
// instead, with the same results bit for bit. The choice is made once, during
// library start-up or by the first routine that needs it, whichever comes
// first. The environment variable TARNWICK_KERNELS=sse2 forces the SSE2
// kernels (for tests and comparisons); any other value, or none, lets the
// processor decide.
#pragma once

#include <atomic>
#include <cstdint>

namespace tw {

enum class KernelSet : std::int32_t {
  kSse2 = 1,  // 16-byte steps: the reference kernels
  kAvx2 = 2,  // 32-byte steps, x86-64 only
};

// Chooses the kernel set the first time it is called (from CPUID and
// TARNWICK_KERNELS) and returns the choice; later calls return it unchanged.
KernelSet ChooseKernels();

// The kernel set in use (chosen now if nobody has chosen yet).
KernelSet ActiveKernels();

// "sse2" or "avx2".
const char* KernelSetName(KernelSet set);

// True when this build and processor can run the set: SSE2 always; AVX2 on
// x86-64 with CPUID's AVX and AVX2 flags and the YMM state enabled by the
// operating system (XGETBV).
bool KernelSetAvailable(KernelSet set);

// The choice, 0 until made. Read through UseAvx2Kernels by the dispatch place
// of each routine family.
extern std::atomic<std::int32_t> g_kernelSet;

inline bool UseAvx2Kernels() {
#if defined(__x86_64__)
  std::int32_t set = g_kernelSet.load(std::memory_order_relaxed);
  if (set == 0) set = static_cast<std::int32_t>(ChooseKernels());
  return set == static_cast<std::int32_t>(KernelSet::kAvx2);
#else
  return false;
#endif
}

namespace testing {
// Switches every family to the given kernels; false (and nothing changes)
// when this build or processor cannot run them.
bool UseKernels(KernelSet set);
// Forgets the choice and makes it again, reading TARNWICK_KERNELS anew.
KernelSet ChooseKernelsAgain();
}  // namespace testing

}  // namespace tw
