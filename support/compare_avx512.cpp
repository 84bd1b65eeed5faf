// AVX-512 kernel of text comparison: 64-byte blocks whose lane tests end in
// mask registers, four blocks per step. Compiled for AVX-512 by target
// attributes only; the function keeps its vectors in registers (Win64 does not
// align the stack for 64-byte spills, and zmm16 to zmm31 need no saving).
#include "support/compare_avx512.h"

#if defined(__x86_64__)

#include <immintrin.h>

#include "support/search_kernels.h"

namespace tw::search_kernels {

namespace {

#define TW_AVX512 \
  __attribute__((target("avx512f,avx512bw"), no_sanitize("address"), always_inline)) inline

constexpr std::uint64_t kAllLanes = ~std::uint64_t{0};

TW_AVX512 __m512i Load64(Bytes p) {
  return _mm512_loadu_si512(p);
}

// The first count bytes from p (count below 64), zero in the other lanes. The
// lanes left out are not read: a masked load does not fault on them.
TW_AVX512 __m512i LoadFirst(Bytes p, std::uint64_t lanes) {
  return _mm512_maskz_loadu_epi8(lanes, p);
}

// Lanes where both texts go on: the bytes are equal (with folding: equal but
// for the fold bit, which keep clears) and neither is zero. Without folding,
// equal bytes are zero together, so x alone marks the end.
template <bool kFold>
TW_AVX512 std::uint64_t GoOnLanes(__m512i bx, __m512i by, __m512i keep) {
  if (!kFold) return _mm512_mask_cmpeq_epi8_mask(_mm512_test_epi8_mask(bx, bx), bx, by);
  const __m512i ends = _mm512_min_epu8(bx, by);
  return _mm512_mask_testn_epi8_mask(_mm512_test_epi8_mask(ends, ends), _mm512_xor_si512(bx, by),
                                     keep);
}

// The bytes up to the nearer of the two pages' ends.
inline std::size_t BytesBeforeAPageEnd(Bytes x, Bytes y) {
  const std::size_t toX = kPageSize - (reinterpret_cast<std::uintptr_t>(x) & (kPageSize - 1));
  const std::size_t toY = kPageSize - (reinterpret_cast<std::uintptr_t>(y) & (kPageSize - 1));
  return toX < toY ? toX : toY;
}

// One block first (short texts end there), then four blocks at a time while
// 256 bytes of both texts lie within their pages: all four tested at once on
// the byte-wise OR of their differences and the minimum of their bytes. Else
// the whole blocks before the nearer page end, then the block that ends there
// (bytes already compared included), or, within the first 64 bytes, only the
// bytes up to that end by masked loads.
template <bool kFold>
TW_AVX512 CompareResult CompareWalk(const char* a, const char* b) {
  Bytes x = reinterpret_cast<Bytes>(a);
  Bytes y = reinterpret_cast<Bytes>(b);
  // The bits a difference counts in: all but the fold bit when folding.
  const __m512i keep = _mm512_set1_epi8(static_cast<char>(kFold ? 0xDF : 0xFF));
  std::size_t p = 0;
  std::uint64_t stops;
  if (BlockFitsInPage(x, 64) && BlockFitsInPage(y, 64)) {
    stops = ~GoOnLanes<kFold>(Load64(x), Load64(y), keep);
    if (stops != 0) goto found;
    // On from x's next 64-byte boundary, so that x's blocks never straddle
    // two cache lines (the bytes compared again go on).
    p = 64 - (reinterpret_cast<std::uintptr_t>(x) & 63);
  }
  for (;;) {
    if (BlockFitsInPage(x + p, 256) && BlockFitsInPage(y + p, 256)) {
      const __m512i x0 = Load64(x + p), y0 = Load64(y + p);
      const __m512i x1 = Load64(x + p + 64), y1 = Load64(y + p + 64);
      const __m512i x2 = Load64(x + p + 128), y2 = Load64(y + p + 128);
      const __m512i x3 = Load64(x + p + 192), y3 = Load64(y + p + 192);
      const __m512i differences =
          _mm512_or_si512(_mm512_or_si512(_mm512_xor_si512(x0, y0), _mm512_xor_si512(x1, y1)),
                          _mm512_or_si512(_mm512_xor_si512(x2, y2), _mm512_xor_si512(x3, y3)));
      __m512i ends = _mm512_min_epu8(_mm512_min_epu8(x0, x1), _mm512_min_epu8(x2, x3));
      if (kFold) {
        ends = _mm512_min_epu8(ends,
                               _mm512_min_epu8(_mm512_min_epu8(y0, y1), _mm512_min_epu8(y2, y3)));
      }
      const std::uint64_t goOn =
          _mm512_mask_testn_epi8_mask(_mm512_test_epi8_mask(ends, ends), differences, keep);
      if (goOn == kAllLanes) {
        p += 256;
        continue;
      }
      stops = ~GoOnLanes<kFold>(x0, y0, keep);
      if (stops != 0) break;
      p += 64;
      stops = ~GoOnLanes<kFold>(x1, y1, keep);
      if (stops != 0) break;
      p += 64;
      stops = ~GoOnLanes<kFold>(x2, y2, keep);
      if (stops != 0) break;
      p += 64;
      stops = ~GoOnLanes<kFold>(x3, y3, keep);
      break;
    }
    const std::size_t count = BytesBeforeAPageEnd(x + p, y + p);
    if (count >= 64) {
      // The whole blocks before the nearer page end (fewer than four).
      const std::size_t end = p + (count & ~std::size_t{63});
      do {
        stops = ~GoOnLanes<kFold>(Load64(x + p), Load64(y + p), keep);
        if (stops != 0) goto found;
        p += 64;
      } while (p != end);
      continue;
    }
    if (p >= 64 - count) {
      // The 64 bytes that end at the nearer page end: the bytes before p in
      // that block are known to go on, so its first lanes never stop.
      const std::size_t back = 64 - count;
      stops = ~GoOnLanes<kFold>(Load64(x + p - back), Load64(y + p - back), keep);
      if (stops != 0) {
        p -= back;
        break;
      }
    } else {
      const std::uint64_t lanes = (std::uint64_t{1} << count) - 1;
      stops = ~GoOnLanes<kFold>(LoadFirst(x + p, lanes), LoadFirst(y + p, lanes), keep) & lanes;
      if (stops != 0) break;
    }
    p += count;
  }
found:
  p += static_cast<std::size_t>(__builtin_ctzll(stops));
  return {static_cast<std::int32_t>(x[p]) - static_cast<std::int32_t>(y[p]),
          static_cast<std::int32_t>(p)};
}

#undef TW_AVX512

}  // namespace

__attribute__((target("avx512f,avx512bw"), no_sanitize("address"))) CompareResult TextCompareAvx512(
    const char* a, const char* b, std::int32_t mode) {
  return mode != 0 ? CompareWalk<true>(a, b) : CompareWalk<false>(a, b);
}

}  // namespace tw::search_kernels

#endif
