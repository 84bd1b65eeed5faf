// The process-wide choice of vector kernels: CPUID and XGETBV for what the
// processor and the operating system offer, TARNWICK_KERNELS to cap it.
#include "trace/kernels.h"

#include <cpuid.h>

#include <cstdlib>

namespace tw {

std::atomic<std::int32_t> g_kernelSet{0};

namespace {

bool EqualsIgnoringCase(const char* text, const char* lower) {
  for (; *lower != '\0'; ++text, ++lower) {
    const char c = (*text >= 'A' && *text <= 'Z') ? static_cast<char>(*text + 32) : *text;
    if (c != *lower) return false;
  }
  return *text == '\0';
}

#if defined(__x86_64__)
unsigned ExtendedControlRegister0() {
  unsigned xcr0Low = 0, xcr0High = 0;
  __asm__ volatile("xgetbv" : "=a"(xcr0Low), "=d"(xcr0High) : "c"(0));
  return xcr0Low;
}

// AVX2 is usable when CPUID leaf 1 reports AVX and OSXSAVE, the operating
// system has enabled the XMM and YMM state in XCR0, and leaf 7 reports AVX2.
bool ProcessorRunsAvx2() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return false;
  constexpr unsigned kOsXsave = 1u << 27, kAvx = 1u << 28;
  if ((ecx & (kOsXsave | kAvx)) != (kOsXsave | kAvx)) return false;
  constexpr unsigned kXmmAndYmmState = 6;
  if ((ExtendedControlRegister0() & kXmmAndYmmState) != kXmmAndYmmState) return false;
  if (__get_cpuid_max(0, nullptr) < 7) return false;
  __cpuid_count(7, 0, eax, ebx, ecx, edx);
  return (ebx & (1u << 5)) != 0;
}

// AVX-512 with byte operations on 16-, 32- and 64-byte vectors: AVX512F (bit
// 16), AVX512BW (bit 30) and AVX512VL (bit 31) of leaf 7, and the opmask,
// upper-ZMM and high-ZMM state (XCR0 bits 5 to 7) besides XMM and YMM.
bool ProcessorRunsAvx512() {
  if (!ProcessorRunsAvx2()) return false;
  constexpr unsigned kVectorState = 0xe6;
  if ((ExtendedControlRegister0() & kVectorState) != kVectorState) return false;
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  __cpuid_count(7, 0, eax, ebx, ecx, edx);
  constexpr unsigned kNeeded = (1u << 16) | (1u << 30) | (1u << 31);
  return (ebx & kNeeded) == kNeeded;
}
#endif

// The best set the processor runs, capped by TARNWICK_KERNELS=sse2 or avx2.
KernelSet BestAvailable() {
  const char* forced = std::getenv("TARNWICK_KERNELS");
  KernelSet cap = KernelSet::kAvx512;
  if (forced != nullptr && EqualsIgnoringCase(forced, "sse2")) cap = KernelSet::kSse2;
  if (forced != nullptr && EqualsIgnoringCase(forced, "avx2")) cap = KernelSet::kAvx2;
  for (KernelSet set : {KernelSet::kAvx512, KernelSet::kAvx2}) {
    if (set <= cap && KernelSetAvailable(set)) return set;
  }
  return KernelSet::kSse2;
}

}  // namespace

bool KernelSetAvailable(KernelSet set) {
  if (set == KernelSet::kSse2) return true;
#if defined(__x86_64__)
  if (set == KernelSet::kAvx2) {
    static const bool runsAvx2 = ProcessorRunsAvx2();
    return runsAvx2;
  }
  if (set == KernelSet::kAvx512) {
    static const bool runsAvx512 = ProcessorRunsAvx512();
    return runsAvx512;
  }
#endif
  return false;
}

KernelSet ChooseKernels() {
  std::int32_t set = g_kernelSet.load(std::memory_order_relaxed);
  if (set == 0) {
    // Two threads choosing at once choose the same.
    set = static_cast<std::int32_t>(BestAvailable());
    g_kernelSet.store(set, std::memory_order_relaxed);
  }
  return static_cast<KernelSet>(set);
}

KernelSet ActiveKernels() {
  return ChooseKernels();
}

const char* KernelSetName(KernelSet set) {
  switch (set) {
    case KernelSet::kAvx2:
      return "avx2";
    case KernelSet::kAvx512:
      return "avx512";
    default:
      return "sse2";
  }
}

namespace testing {

bool UseKernels(KernelSet set) {
  if (!KernelSetAvailable(set)) return false;
  g_kernelSet.store(static_cast<std::int32_t>(set), std::memory_order_relaxed);
  return true;
}

KernelSet ChooseKernelsAgain() {
  g_kernelSet.store(0, std::memory_order_relaxed);
  return ChooseKernels();
}

}  // namespace testing

}  // namespace tw
