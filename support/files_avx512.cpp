// AVX-512 kernel of the file comparison's chunk compare: four 64-byte groups
// per step, tested at once on the OR of their differences. Compiled for
// AVX-512 by target attributes only; a leaf that keeps its vectors in
// registers (Win64 does not align the stack for 64-byte spills).
#include "support/files_kernels.h"

#if defined(__x86_64__)

#include <immintrin.h>

namespace tw {

namespace {

__attribute__((target("avx512f,avx512bw"), always_inline)) inline __m512i Differences(
    const unsigned char* a, const unsigned char* b) {
  return _mm512_xor_si512(_mm512_loadu_si512(a), _mm512_loadu_si512(b));
}

}  // namespace

// keep has every bit a difference counts in: all but bit 5 when folding.
__attribute__((target("avx512f,avx512bw"))) std::uint32_t FirstDifferenceAvx512(
    const unsigned char* a, const unsigned char* b, std::uint32_t count, bool foldCase) {
  const __m512i keep = _mm512_set1_epi8(static_cast<char>(foldCase ? 0xDF : 0xFF));
  for (std::uint32_t offset = 0; offset < count; offset += 256) {
    const __m512i differ0 = Differences(a + offset, b + offset);
    const __m512i differ1 = Differences(a + offset + 64, b + offset + 64);
    const __m512i differ2 = Differences(a + offset + 128, b + offset + 128);
    const __m512i differ3 = Differences(a + offset + 192, b + offset + 192);
    const __m512i any =
        _mm512_or_si512(_mm512_or_si512(differ0, differ1), _mm512_or_si512(differ2, differ3));
    if (_mm512_test_epi8_mask(any, keep) == 0) continue;
    std::uint32_t at = offset;
    std::uint64_t lanes = _mm512_test_epi8_mask(differ0, keep);
    if (lanes == 0) at += 64, lanes = _mm512_test_epi8_mask(differ1, keep);
    if (lanes == 0) at += 64, lanes = _mm512_test_epi8_mask(differ2, keep);
    if (lanes == 0) at += 64, lanes = _mm512_test_epi8_mask(differ3, keep);
    at += static_cast<std::uint32_t>(__builtin_ctzll(lanes));
    return at < count ? at : count;
  }
  return count;
}

}  // namespace tw

#endif
