// AVX-512 kernel of forward text search: 64 positions per block, the needle's
// first, second and last bytes tested in every block, and needles of up to 64
// bytes checked in one compare. A plain NUL-terminated search from the
// haystack's start takes a short way in (FindPlainAvx512). Compiled for
// AVX-512 by target attributes only; the vectors stay in registers (Win64
// does not align the stack for 64-byte spills).
#include "support/search_kernels.h"

#if defined(__x86_64__)

#include <immintrin.h>

namespace tw::search_kernels {

namespace {

#define TW_AVX512                                                                      \
  __attribute__((target("avx512f,avx512bw,avx512vl,bmi,bmi2"), no_sanitize("address"), \
                 always_inline)) inline

constexpr std::size_t kLane = 64;
// Needles up to this length are filtered on their last byte (the filter's
// block must lie within the page); longer needles on their second byte twice.
constexpr std::size_t kWidestFilter = 256;

// vpternlog's table for a function of three operands (each bit of the result
// is f of the same bits of a, b and c).
template <typename F>
constexpr int Ternary(F f) {
  return f(0xF0, 0xCC, 0xAA) & 0xFF;
}
constexpr int kXorThenOr = Ternary([](int a, int b, int c) { return (a ^ b) | c; });
constexpr int kOrXor = Ternary([](int a, int b, int c) { return a | (b ^ c); });
constexpr int kFoldXor = Ternary([](int a, int b, int c) { return (a | b) ^ c; });
constexpr int kOr3 = Ternary([](int a, int b, int c) { return a | b | c; });

TW_AVX512 __m512i Load64(Bytes p) {
  return _mm512_loadu_si512(reinterpret_cast<const void*>(p));
}

TW_AVX512 std::uint64_t Zeros(__m512i v) {
  return _mm512_testn_epi8_mask(v, v);
}

// Lanes 0 to length - 1 (length 1 to 64).
TW_AVX512 std::uint64_t SpanMask(std::size_t length) {
  return length >= kLane ? ~std::uint64_t{0} : (std::uint64_t{1} << length) - 1;
}

// The needle as the kernel holds it: its tested bytes folded and repeated in
// every lane, and (for needles of up to 64 bytes) the folded needle itself.
struct Prepared {
  __m512i first;
  __m512i second;
  __m512i last;
  __m512i fold0;
  __m512i fold1;
  __m512i foldLanes;  // the first byte's fold bit in lane 0, the others' in the rest
  __m512i text;       // needle bytes or'ed with foldLanes (needles of up to 64 bytes)
  std::size_t lastOffset;
};

TW_AVX512 Prepared Prepare(const ByteNeedle& needle, __m512i text) {
  Prepared n;
  n.lastOffset =
      needle.length >= 3 && needle.length <= kWidestFilter ? needle.length - 1 : std::size_t{1};
  n.fold0 = _mm512_set1_epi8(static_cast<char>(needle.firstFold));
  n.fold1 = _mm512_set1_epi8(static_cast<char>(needle.restFold));
  n.foldLanes = _mm512_mask_set1_epi8(n.fold1, 1, static_cast<char>(needle.firstFold));
  n.text = _mm512_or_si512(text, n.foldLanes);
  n.first = _mm512_set1_epi8(static_cast<char>(needle.text[0] | needle.firstFold));
  n.second = _mm512_set1_epi8(static_cast<char>(needle.text[1] | needle.restFold));
  n.last = _mm512_set1_epi8(static_cast<char>(needle.text[n.lastOffset] | needle.restFold));
  return n;
}

// Lanes that are zero where a position's tested bytes all agree with the
// needle's, for the 64 positions from p.
template <bool kFold>
TW_AVX512 __m512i Disagreement(Bytes p, __m512i b0, const Prepared& n) {
  if (!kFold) {
    const __m512i pair = _mm512_ternarylogic_epi32(
        b0, n.first, _mm512_xor_si512(Load64(p + 1), n.second), kXorThenOr);
    return _mm512_ternarylogic_epi32(pair, n.last, Load64(p + n.lastOffset), kOrXor);
  }
  const __m512i x0 = _mm512_ternarylogic_epi32(b0, n.fold0, n.first, kFoldXor);
  const __m512i x1 = _mm512_ternarylogic_epi32(Load64(p + 1), n.fold1, n.second, kFoldXor);
  const __m512i x2 = _mm512_ternarylogic_epi32(Load64(p + n.lastOffset), n.fold1, n.last, kFoldXor);
  return _mm512_ternarylogic_epi32(x0, x1, x2, kOr3);
}

// True when the 128 positions from p hold no candidate and no zero.
template <bool kFold>
TW_AVX512 bool QuietStretch(Bytes p, const Prepared& n) {
  const __m512i a0 = Load64(p);
  const __m512i c0 = Load64(p + kLane);
  const __m512i stops = _mm512_min_epu8(_mm512_min_epu8(Disagreement<kFold>(p, a0, n), a0),
                                        _mm512_min_epu8(Disagreement<kFold>(p + kLane, c0, n), c0));
  return Zeros(stops) == 0;
}

// Candidates among the 64 positions of block: first and second bytes, and the
// last byte where its block stays within the page.
template <bool kFold>
TW_AVX512 std::uint64_t BlockCandidates(Bytes block, __m512i b0, const Prepared& n) {
  const __m512i b1 = Load64(block + 1);
  std::uint64_t match = _mm512_cmpeq_epi8_mask(kFold ? _mm512_or_si512(b0, n.fold0) : b0, n.first) &
                        _mm512_cmpeq_epi8_mask(kFold ? _mm512_or_si512(b1, n.fold1) : b1, n.second);
  if (BlockFitsInPage(block, n.lastOffset + kLane)) {
    const __m512i b2 = Load64(block + n.lastOffset);
    match &= _mm512_cmpeq_epi8_mask(kFold ? _mm512_or_si512(b2, n.fold1) : b2, n.last);
  }
  return match;
}

// The pair test of one position, as the SSE2 kernel makes it next to a page
// boundary.
inline bool PairMatches(Bytes hay, std::size_t p, const ByteNeedle& needle) {
  const unsigned char second = hay[p + 1];
  return (hay[p] | needle.firstFold) == (needle.text[0] | needle.firstFold) && second != 0 &&
         (second | needle.restFold) == (needle.text[1] | needle.restFold);
}

// VerifyAt's verdict on the candidate q. Needles of up to 64 bytes whose span
// lies before the haystack's limit and within the page take one compare: the
// first lane that differs or holds the haystack's zero decides, as VerifyAt's
// byte order would.
TW_AVX512 Verdict Verify(Bytes hay, std::size_t q, std::size_t end, const ByteNeedle& needle,
                         const Prepared& n) {
  const std::size_t length = needle.length;
  if (length > kLane || q + length > end || !BlockFitsInPage(hay + q, length)) {
    return VerifyAt(hay, q, end, needle);
  }
  const std::uint64_t span = SpanMask(length);
  const __m512i h = _mm512_maskz_loadu_epi8(span, hay + q);
  const std::uint64_t differ =
      _mm512_mask_cmpneq_epi8_mask(span, _mm512_or_si512(h, n.foldLanes), n.text);
  const std::uint64_t zeros = _mm512_mask_testn_epi8_mask(span, h, h);
  const std::uint64_t events = differ | zeros;
  if (events != 0) {
    return (zeros & events & (0 - events)) != 0 ? Verdict::HaystackEnds : Verdict::Mismatch;
  }
  if (needle.wholeWord && needle.text[0] > 32) {
    const std::size_t after = q + length;
    if ((after < end && hay[after] > 64) || (q > 0 && hay[q - 1] > 64)) return Verdict::Mismatch;
  }
  return Verdict::Match;
}

// The walk of FindForwardAvx512 (same rules as FindForwardAvx2): 128 positions
// per step while no candidate or zero shows and the bytes tested lie within
// the page; otherwise blocks of 64 positions, the block ending at the page's
// end when fewer positions remain in it, with the positions before p masked
// off. A candidate whose span holds the haystack's end ends the search.
template <bool kFold>
TW_AVX512 std::ptrdiff_t Walk(Bytes hay, std::size_t from, std::size_t end,
                              const ByteNeedle& needle, const Prepared& n) {
  if (end < 2) return kNotFound;
  const std::size_t lastPair = end - 1;  // candidates start before this index
  std::size_t p = from;
  for (;;) {
    if (p >= lastPair) return kNotFound;
    Bytes block = hay + p;
    if (BlockFitsInPage(block, n.lastOffset + 2 * kLane) && QuietStretch<kFold>(block, n)) {
      p += 2 * kLane;
      continue;
    }
    std::size_t back = 0;  // positions of the block before p
    std::uint64_t fromP = ~std::uint64_t{0};
    const std::size_t room =
        kPageSize - (reinterpret_cast<std::uintptr_t>(block) & (kPageSize - 1));
    if (room == 1) {
      // The page's last position: its pair crosses the boundary.
      if (hay[p] == 0) return kNotFound;
      if (PairMatches(hay, p, needle)) {
        const Verdict verdict = VerifyAt(hay, p, end, needle);
        if (verdict == Verdict::Match) return static_cast<std::ptrdiff_t>(p);
        if (verdict == Verdict::HaystackEnds) return kNotFound;
      }
      ++p;
      continue;
    }
    if (room < kLane + 1) {
      back = kLane + 1 - room;
      block = reinterpret_cast<Bytes>(reinterpret_cast<std::uintptr_t>(block) - back);
      fromP = ~std::uint64_t{0} << back;
    }
    // Unsigned arithmetic: base may lie before the haystack's first byte.
    const std::size_t base = p - back;
    const __m512i b0 = Load64(block);
    const std::uint64_t zeros0 = Zeros(b0) & fromP;
    std::uint64_t candidates = BlockCandidates<kFold>(block, b0, n) & fromP;
    if (zeros0 != 0) candidates &= (zeros0 - 1) & ~zeros0;
    // Positions from lastPair on are no candidates (lastPair may be near the
    // top of the address range: compared with p, not with base).
    const std::size_t remaining = lastPair - p;
    const bool lastBlock = zeros0 != 0 || remaining <= kLane - back;
    if (remaining < kLane - back) candidates &= SpanMask(remaining + back);
    while (candidates != 0) {
      const std::size_t q = base + static_cast<std::size_t>(__builtin_ctzll(candidates));
      const Verdict verdict = Verify(hay, q, end, needle, n);
      if (verdict == Verdict::Match) return static_cast<std::ptrdiff_t>(q);
      if (verdict == Verdict::HaystackEnds) return kNotFound;
      candidates &= candidates - 1;
    }
    if (lastBlock) return kNotFound;
    p = base + kLane;
  }
}

TW_AVX512 std::ptrdiff_t WalkEither(Bytes hay, std::size_t from, std::size_t end,
                                    const ByteNeedle& needle, __m512i text) {
  const Prepared n = Prepare(needle, text);
  return (needle.firstFold | needle.restFold) != 0 ? Walk<true>(hay, from, end, needle, n)
                                                   : Walk<false>(hay, from, end, needle, n);
}

}  // namespace

__attribute__((target("avx512f,avx512bw,avx512vl,bmi,bmi2"), no_sanitize("address"))) std::ptrdiff_t
FindForwardAvx512(Bytes hay, std::size_t from, std::size_t end, const ByteNeedle& needle) {
  // The needle's bytes (all before its end) by a masked load: no lane beyond
  // them is read.
  const __m512i text = needle.length <= kLane
                           ? _mm512_maskz_loadu_epi8(SpanMask(needle.length), needle.text)
                           : _mm512_setzero_si512();
  return WalkEither(hay, from, end, needle, text);
}

// The needle's length from the block that holds its first byte: 64 bytes from
// it when they lie within its page, else the aligned block of 64 (which never
// crosses a page) from its start on.
__attribute__((target("avx512f,avx512bw,avx512vl,bmi,bmi2"), no_sanitize("address"))) std::ptrdiff_t
FindPlainAvx512(Bytes hay, Bytes needleText, std::uint32_t mode) {
  std::uint64_t zeros;
  if (BlockFitsInPage(needleText, kLane)) {
    zeros = Zeros(Load64(needleText));
  } else {
    const std::uintptr_t at = reinterpret_cast<std::uintptr_t>(needleText);
    const std::size_t skip = at & (kLane - 1);
    zeros = Zeros(Load64(reinterpret_cast<Bytes>(at - skip))) >> skip;
  }
  if (zeros == 0) return kNotPlain;  // longer than the block: the general way
  const std::size_t length = static_cast<std::size_t>(__builtin_ctzll(zeros));
  if (length < 2) return kNotPlain;
  const bool foldAll = (mode & kFindIgnoreCase) != 0;
  const bool foldFirst = foldAll || (mode & kFindFirstIgnoreCase) != 0;
  const ByteNeedle needle = {needleText, length, static_cast<unsigned char>(foldFirst ? 32 : 0),
                             static_cast<unsigned char>(foldAll ? 32 : 0),
                             (mode & kFindWholeWord) != 0};
  return WalkEither(hay, 0, ~std::size_t{0}, needle,
                    _mm512_maskz_loadu_epi8(SpanMask(length), needleText));
}

#undef TW_AVX512

}  // namespace tw::search_kernels

#endif
