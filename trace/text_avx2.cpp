// AVX2 kernel of the text length: the SSE2 form's walk with 32-byte blocks.
// Compiled for AVX2 by target attributes only, so that nothing else of the
// library needs more than SSE2. The functions are leaves that keep their
// vectors in registers (Win64 does not align the stack for 32-byte spills).
#include "trace/text_avx2.h"

#if defined(__x86_64__)

#include <immintrin.h>

namespace tw {

namespace {

__attribute__((target("avx2"), no_sanitize("address"), always_inline)) inline unsigned ZeroMask32(
    const char* block) {
  return static_cast<unsigned>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(
      _mm256_load_si256(reinterpret_cast<const __m256i*>(block)), _mm256_setzero_si256())));
}

}  // namespace

// The first aligned block is shifted past the bytes before the text; then
// blocks one at a time up to a 128-byte boundary, then four at a time (four
// aligned blocks of one 128-byte line share a page), and the block of the
// line that holds the NUL.
__attribute__((target("avx2"), no_sanitize("address"))) std::uint32_t TextLengthAvx2(
    const char* text) {
  const std::uintptr_t address = reinterpret_cast<std::uintptr_t>(text);
  const char* block = reinterpret_cast<const char*>(address & ~std::uintptr_t{31});
  unsigned mask = ZeroMask32(block) >> (address & 31);
  if (mask != 0) return static_cast<std::uint32_t>(__builtin_ctz(mask));
  for (;;) {
    block += 32;
    if ((reinterpret_cast<std::uintptr_t>(block) & 127) == 0) break;
    mask = ZeroMask32(block);
    if (mask != 0) {
      return static_cast<std::uint32_t>(block - text) +
             static_cast<std::uint32_t>(__builtin_ctz(mask));
    }
  }
  const __m256i zero = _mm256_setzero_si256();
  for (;; block += 128) {
    const __m256i* line = reinterpret_cast<const __m256i*>(block);
    const __m256i lowest =
        _mm256_min_epu8(_mm256_min_epu8(_mm256_load_si256(line), _mm256_load_si256(line + 1)),
                        _mm256_min_epu8(_mm256_load_si256(line + 2), _mm256_load_si256(line + 3)));
    if (_mm256_movemask_epi8(_mm256_cmpeq_epi8(lowest, zero)) != 0) break;
  }
  for (;; block += 32) {
    mask = ZeroMask32(block);
    if (mask != 0) {
      return static_cast<std::uint32_t>(block - text) +
             static_cast<std::uint32_t>(__builtin_ctz(mask));
    }
  }
}

}  // namespace tw

#endif
