// AVX2 kernel of the file comparison's chunk compare: four 32-byte groups per
// step. Compiled for AVX2 by target attributes only; a leaf that keeps its
// vectors in registers (Win64 does not align the stack for 32-byte spills).
#include "support/files_kernels.h"

#if defined(__x86_64__)

#include <immintrin.h>

namespace tw {

namespace {

__attribute__((target("avx2"), always_inline)) inline unsigned EqualMask(const unsigned char* a,
                                                                         const unsigned char* b,
                                                                         __m256i fold) {
  const __m256i left =
      _mm256_or_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(a)), fold);
  const __m256i right =
      _mm256_or_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(b)), fold);
  return static_cast<unsigned>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(left, right)));
}

}  // namespace

__attribute__((target("avx2"))) std::uint32_t FirstDifferenceAvx2(const unsigned char* a,
                                                                  const unsigned char* b,
                                                                  std::uint32_t count,
                                                                  bool foldCase) {
  const __m256i fold = _mm256_set1_epi8(foldCase ? 0x20 : 0);
  for (std::uint32_t offset = 0; offset < count; offset += 128) {
    const unsigned equal0 = EqualMask(a + offset, b + offset, fold);
    const unsigned equal1 = EqualMask(a + offset + 32, b + offset + 32, fold);
    const unsigned equal2 = EqualMask(a + offset + 64, b + offset + 64, fold);
    const unsigned equal3 = EqualMask(a + offset + 96, b + offset + 96, fold);
    if ((equal0 & equal1 & equal2 & equal3) == 0xFFFFFFFFu) continue;
    std::uint32_t at = offset;
    unsigned equal = equal0;
    if (equal == 0xFFFFFFFFu) at += 32, equal = equal1;
    if (equal == 0xFFFFFFFFu) at += 32, equal = equal2;
    if (equal == 0xFFFFFFFFu) at += 32, equal = equal3;
    at += static_cast<std::uint32_t>(__builtin_ctz(~equal));
    return at < count ? at : count;
  }
  return count;
}

}  // namespace tw

#endif
