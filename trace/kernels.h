// Vector kernels by instruction set: the one process-wide choice of which
// kernels the library's hot routines run (text lengths, search, comparison,
// file comparison).
//
// The SSE2 kernels are the reference and the only ones on 32-bit targets and
// on processors without AVX2. On x86-64 processors whose CPUID reports AVX2
// (and whose operating system saves the YMM registers), the AVX2 kernels run
// instead, with the same results bit for bit; where the processor also has
// AVX-512 with byte operations (AVX512F, AVX512BW, AVX512VL, and the ZMM state
// saved), the AVX-512 set runs: families with an AVX-512 kernel use it, the
// others their AVX2 kernel. The choice is made once, during library start-up
// or by the first routine that needs it, whichever comes first. The
// environment variable TARNWICK_KERNELS=sse2 (or avx2) caps the choice at that
// set (for tests and comparisons); any other value, or none, lets the
// processor decide.
#pragma once

#include <atomic>
#include <cstdint>

namespace tw {

enum class KernelSet : std::int32_t {
  kSse2 = 1,    // 16-byte steps: the reference kernels
  kAvx2 = 2,    // 32-byte steps, x86-64 only
  kAvx512 = 3,  // 64-byte steps and mask registers, x86-64 only
};

// Chooses the kernel set the first time it is called (from CPUID and
// TARNWICK_KERNELS) and returns the choice; later calls return it unchanged.
KernelSet ChooseKernels();

// The kernel set in use (chosen now if nobody has chosen yet).
KernelSet ActiveKernels();

// "sse2", "avx2" or "avx512".
const char* KernelSetName(KernelSet set);

// True when this build and processor can run the set: SSE2 always; AVX2 on
// x86-64 with CPUID's AVX and AVX2 flags and the YMM state enabled by the
// operating system (XGETBV); AVX-512 with AVX2 and CPUID's AVX512F, AVX512BW
// and AVX512VL flags and the opmask and ZMM state enabled.
bool KernelSetAvailable(KernelSet set);

// The choice, 0 until made. Read through UseAvx2Kernels and UseAvx512Kernels
// by the dispatch place of each routine family.
extern std::atomic<std::int32_t> g_kernelSet;

// The chosen set as its number (1 SSE2, 2 AVX2, 3 AVX-512), chosen now when
// it is not yet.
inline std::int32_t ActiveKernelNumber() {
  const std::int32_t set = g_kernelSet.load(std::memory_order_relaxed);
  return set != 0 ? set : static_cast<std::int32_t>(ChooseKernels());
}

// True under the AVX2 set and under the AVX-512 set (whose families without
// an AVX-512 kernel run their AVX2 kernel).
inline bool UseAvx2Kernels() {
#if defined(__x86_64__)
  return ActiveKernelNumber() >= static_cast<std::int32_t>(KernelSet::kAvx2);
#else
  return false;
#endif
}

// True under the AVX-512 set only.
inline bool UseAvx512Kernels() {
#if defined(__x86_64__)
  return ActiveKernelNumber() == static_cast<std::int32_t>(KernelSet::kAvx512);
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
