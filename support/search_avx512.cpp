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
// Blocks whose pairs the last byte rejects before the quiet stretches test it.
constexpr std::size_t kPairsBeforeLast = 4;

// vpternlog's table for a function of three operands (each bit of the result
// is f of the same bits of a, b and c).
template <typename F>
constexpr int Ternary(F f) {
  return f(0xF0, 0xCC, 0xAA) & 0xFF;
}
constexpr int kOrXor = Ternary([](int a, int b, int c) { return a | (b ^ c); });
constexpr int kFoldXor = Ternary([](int a, int b, int c) { return (a | b) ^ c; });
constexpr int kOr3 = Ternary([](int a, int b, int c) { return a | b | c; });

TW_AVX512 __m512i Load64(Bytes p) {
  return _mm512_loadu_si512(reinterpret_cast<const void*>(p));
}

// A block read once and used in byte and in dword operations: held in one
// register (the compiler would otherwise load it again for each use).
TW_AVX512 __m512i LoadOnce64(Bytes p) {
  __m512i v = Load64(p);
  __asm__("" : "+v"(v));
  return v;
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
// needle's, for the 64 positions from p (b0: the bytes from p): the first two
// bytes, and the last one too when kLast. Without folding, x keeps the second
// bytes' disagreement and takes the first's; b0 stays intact for the zero
// test.
template <bool kFold, bool kLast>
TW_AVX512 __m512i Disagreement(Bytes p, __m512i b0, const Prepared& n) {
  if (!kFold) {
    const __m512i x = _mm512_xor_si512(Load64(p + 1), n.second);
    const __m512i pair = _mm512_ternarylogic_epi32(x, b0, n.first, kOrXor);
    if (!kLast) return pair;
    return _mm512_ternarylogic_epi32(pair, n.last, Load64(p + n.lastOffset), kOrXor);
  }
  const __m512i x0 = _mm512_ternarylogic_epi32(b0, n.fold0, n.first, kFoldXor);
  const __m512i x1 = _mm512_ternarylogic_epi32(Load64(p + 1), n.fold1, n.second, kFoldXor);
  if (!kLast) return _mm512_or_si512(x0, x1);
  const __m512i x2 = _mm512_ternarylogic_epi32(Load64(p + n.lastOffset), n.fold1, n.last, kFoldXor);
  return _mm512_ternarylogic_epi32(x0, x1, x2, kOr3);
}

// True when the 128 positions from p hold no candidate and no zero.
template <bool kFold, bool kLast>
TW_AVX512 bool QuietStretch(Bytes p, const Prepared& n) {
  const __m512i a0 = LoadOnce64(p);
  const __m512i c0 = LoadOnce64(p + kLane);
  const __m512i stops =
      _mm512_min_epu8(_mm512_min_epu8(Disagreement<kFold, kLast>(p, a0, n), a0),
                      _mm512_min_epu8(Disagreement<kFold, kLast>(p + kLane, c0, n), c0));
  return Zeros(stops) == 0;
}

// True when the 64 positions from p hold no candidate and no zero.
template <bool kFold, bool kLast>
TW_AVX512 bool QuietBlock(Bytes p, const Prepared& n) {
  const __m512i a0 = LoadOnce64(p);
  const __m512i stops = _mm512_min_epu8(Disagreement<kFold, kLast>(p, a0, n), a0);
  return Zeros(stops) == 0;
}

// Up to steps quiet stretches from p: where the first one that is not quiet
// begins, or the end of the last.
template <bool kFold, bool kLast>
TW_AVX512 Bytes PassQuietStretches(Bytes p, std::size_t steps, const Prepared& n) {
  do {
    if (!QuietStretch<kFold, kLast>(p, n)) break;
    p += 2 * kLane;
  } while (--steps != 0);
  // One more block when it is quiet (the page's last stretch, or the first
  // half of the stretch that was not).
  if (BlockFitsInPage(p, n.lastOffset + kLane) && QuietBlock<kFold, kLast>(p, n)) p += kLane;
  return p;
}

// Candidates among the 64 positions of block: first and second bytes (pairs),
// and the last byte where its block stays within the page.
template <bool kFold>
TW_AVX512 std::uint64_t BlockCandidates(Bytes block, __m512i b0, const Prepared& n, bool last,
                                        std::uint64_t& pairs) {
  const __m512i b1 = Load64(block + 1);
  pairs = _mm512_cmpeq_epi8_mask(kFold ? _mm512_or_si512(b0, n.fold0) : b0, n.first) &
          _mm512_cmpeq_epi8_mask(kFold ? _mm512_or_si512(b1, n.fold1) : b1, n.second);
  if (last && BlockFitsInPage(block, n.lastOffset + kLane)) {
    const __m512i b2 = Load64(block + n.lastOffset);
    return _mm512_mask_cmpeq_epi8_mask(pairs, kFold ? _mm512_or_si512(b2, n.fold1) : b2, n.last);
  }
  return pairs;
}

// The pair test of one position, as the SSE2 kernel makes it next to a page
// boundary.
inline bool PairMatches(Bytes hay, std::size_t p, const ByteNeedle& needle) {
  const unsigned char second = hay[p + 1];
  return (hay[p] | needle.firstFold) == (needle.text[0] | needle.firstFold) && second != 0 &&
         (second | needle.restFold) == (needle.text[1] | needle.restFold);
}

// VerifyAt's verdict on the candidate q of a needle of up to 64 bytes, from
// one compare: the first lane that differs or holds the haystack's zero
// decides, as VerifyAt's byte order would, and a span cut short by the
// haystack's limit ends the haystack. The lanes are read with a mask: those in
// the page of q, and those beyond it only when the text goes on into the next
// page.
TW_AVX512 Verdict VerifyShort(Bytes hay, std::size_t q, std::size_t end, const ByteNeedle& needle,
                              const Prepared& n) {
  const std::size_t length = needle.length;
  const std::size_t lanes = end - q < length ? end - q : length;
  const std::uint64_t span = SpanMask(lanes);
  const std::size_t inPage =
      kPageSize - (reinterpret_cast<std::uintptr_t>(hay + q) & (kPageSize - 1));
  const std::uint64_t pagePart = SpanMask(inPage);
  __m512i h = _mm512_maskz_loadu_epi8(span & pagePart, hay + q);
  if ((span & ~pagePart) != 0 && (Zeros(h) & span & pagePart) == 0) {
    h = _mm512_maskz_loadu_epi8(span, hay + q);
  }
  const std::uint64_t differ =
      _mm512_mask_cmpneq_epi8_mask(span, _mm512_or_si512(h, n.foldLanes), n.text);
  const std::uint64_t zeros = _mm512_mask_testn_epi8_mask(span, h, h);
  const std::uint64_t events = differ | zeros;
  if (events != 0) {
    return (zeros & events & (0 - events)) != 0 ? Verdict::HaystackEnds : Verdict::Mismatch;
  }
  if (lanes < length) return Verdict::HaystackEnds;
  if (needle.wholeWord && needle.text[0] > 32) {
    const std::size_t after = q + length;
    if ((after < end && hay[after] > 64) || (q > 0 && hay[q - 1] > 64)) return Verdict::Mismatch;
  }
  return Verdict::Match;
}

template <bool kShort>
TW_AVX512 Verdict Verify(Bytes hay, std::size_t q, std::size_t end, const ByteNeedle& needle,
                         const Prepared& n) {
  return kShort ? VerifyShort(hay, q, end, needle, n) : VerifyAt(hay, q, end, needle);
}

// The walk of FindForwardAvx512 (same rules as FindForwardAvx2). Blocks of 64
// positions, each read from its 64-byte aligned start with the positions
// before p masked off (next to the end of a page: the block that ends there,
// the page's last position alone), tested on three bytes (the first block on
// two: a short haystack's search need not wait for the needle's length before
// its first compare); after each block,
// 128 positions per step while no pair (or, once kPairsBeforeLast blocks have
// shown pairs that the last byte rejects, no three-byte candidate) and no zero
// shows and the bytes tested lie within the page. The stretches test fewer
// bytes as long as that costs nothing: each test of a byte reads a block that
// crosses a cache line.
// A candidate whose span holds the haystack's end ends the search. Needles of
// up to 64 bytes (kShort) are verified here: the walk calls nothing and keeps
// its vectors in registers.
template <bool kFold, bool kShort>
TW_AVX512 std::ptrdiff_t Walk(Bytes hay, std::size_t from, std::size_t end,
                              const ByteNeedle& needle, const Prepared& n) {
  if (end < 2) return kNotFound;
  const std::size_t lastPair = end - 1;  // candidates start before this index
  std::size_t pairsOnly = 0;             // blocks whose pairs all failed the last byte
  std::size_t p = from;
  for (;;) {
    if (p >= lastPair) return kNotFound;
    const std::uintptr_t at = reinterpret_cast<std::uintptr_t>(hay + p);
    const std::size_t room = kPageSize - (at & (kPageSize - 1));
    if (room == 1) {
      // The page's last position: its pair crosses the boundary.
      if (hay[p] == 0) return kNotFound;
      if (PairMatches(hay, p, needle)) {
        const Verdict verdict = Verify<kShort>(hay, p, end, needle, n);
        if (verdict == Verdict::Match) return static_cast<std::ptrdiff_t>(p);
        if (verdict == Verdict::HaystackEnds) return kNotFound;
      }
      ++p;
      continue;
    }
    // Positions of the block before p (bytes of the same page).
    const std::size_t back = room < kLane + 1 ? kLane + 1 - room : at & (kLane - 1);
    const Bytes block = reinterpret_cast<Bytes>(at - back);
    const std::uint64_t fromP = ~std::uint64_t{0} << back;
    // Unsigned arithmetic: base may lie before the haystack's first byte.
    const std::size_t base = p - back;
    const __m512i b0 = LoadOnce64(block);
    const std::uint64_t zeros0 = Zeros(b0) & fromP;
    std::uint64_t pairs;
    std::uint64_t candidates = BlockCandidates<kFold>(block, b0, n, p != from, pairs) & fromP;
    if ((pairs & fromP) != 0 && candidates == 0) ++pairsOnly;
    if (zeros0 != 0) candidates &= (zeros0 - 1) & ~zeros0;
    // Positions from lastPair on are no candidates (lastPair may be near the
    // top of the address range: compared with p, not with base).
    const std::size_t remaining = lastPair - p;
    if (remaining < kLane - back) candidates &= SpanMask(remaining + back);
    while (candidates != 0) {
      const std::size_t q = base + static_cast<std::size_t>(__builtin_ctzll(candidates));
      const Verdict verdict = Verify<kShort>(hay, q, end, needle, n);
      if (verdict == Verdict::Match) return static_cast<std::ptrdiff_t>(q);
      if (verdict == Verdict::HaystackEnds) return kNotFound;
      candidates &= candidates - 1;
    }
    if (zeros0 != 0 || remaining <= kLane - back) return kNotFound;
    p = base + kLane;
    // The quiet stretches that follow, within the page and before lastPair.
    const std::size_t roomAfter =
        kPageSize - (reinterpret_cast<std::uintptr_t>(hay + p) & (kPageSize - 1));
    if (p < lastPair && roomAfter >= n.lastOffset + 2 * kLane) {
      std::size_t steps = (roomAfter - n.lastOffset - 2 * kLane) / (2 * kLane) + 1;
      const std::size_t before = (lastPair - p - 1) / (2 * kLane) + 1;
      if (steps > before) steps = before;
      const Bytes stretch = pairsOnly < kPairsBeforeLast
                                ? PassQuietStretches<kFold, false>(hay + p, steps, n)
                                : PassQuietStretches<kFold, true>(hay + p, steps, n);
      p = static_cast<std::size_t>(stretch - hay);
    }
  }
}

template <bool kShort>
TW_AVX512 std::ptrdiff_t WalkEither(Bytes hay, std::size_t from, std::size_t end,
                                    const ByteNeedle& needle, __m512i text) {
  const Prepared n = Prepare(needle, text);
  return (needle.firstFold | needle.restFold) != 0 ? Walk<true, kShort>(hay, from, end, needle, n)
                                                   : Walk<false, kShort>(hay, from, end, needle, n);
}

}  // namespace

__attribute__((target("avx512f,avx512bw,avx512vl,bmi,bmi2"), no_sanitize("address"))) std::ptrdiff_t
FindForwardAvx512(Bytes hay, std::size_t from, std::size_t end, const ByteNeedle& needle) {
  // The needle's bytes (all before its end) by a masked load: no lane beyond
  // them is read.
  if (needle.length > kLane) {
    return WalkEither<false>(hay, from, end, needle, _mm512_setzero_si512());
  }
  return WalkEither<true>(hay, from, end, needle,
                          _mm512_maskz_loadu_epi8(SpanMask(needle.length), needle.text));
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
  return WalkEither<true>(hay, 0, ~std::size_t{0}, needle,
                          _mm512_maskz_loadu_epi8(SpanMask(length), needleText));
}

#undef TW_AVX512

}  // namespace tw::search_kernels

#endif
