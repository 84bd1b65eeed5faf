// AVX2 kernels of text search (forward and backward) and text comparison: the
// SSE2 kernels' walks with 32-byte blocks; the search's filter also tests the
// last byte of needles of 3 to 256 bytes (backward: of any length), and
// needles of up to 32 bytes are checked in one compare. Compiled for AVX2 by
// target attributes only; the functions keep their vectors in registers (Win64
// does not align the stack for 32-byte spills).
#include "support/search_kernels.h"

#if defined(__x86_64__)

#include <immintrin.h>

namespace tw::search_kernels {

namespace {

constexpr unsigned char kFoldBit = 32;
// Needles up to this length are filtered on their last byte too.
constexpr std::size_t kWidestFilter = 256;

#define TW_AVX2 __attribute__((target("avx2"), no_sanitize("address"), always_inline)) inline

TW_AVX2 __m256i Load32(const unsigned char* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

TW_AVX2 unsigned Mask32(__m256i lanes) {
  return static_cast<unsigned>(_mm256_movemask_epi8(lanes));
}

// The pair test of one position, as the SSE2 kernel makes it next to a page
// boundary.
inline bool PairMatches(Bytes hay, std::size_t p, const ByteNeedle& needle) {
  const unsigned char second = hay[p + 1];
  return (hay[p] | needle.firstFold) == (needle.text[0] | needle.firstFold) && second != 0 &&
         (second | needle.restFold) == (needle.text[1] | needle.restFold);
}

// Lanes that are zero where the folded bytes of x and y differ or either text
// ends (a zero byte), and non-zero elsewhere. Without folding, equal lanes
// hold zero in y exactly where they do in x, so x alone marks the end.
template <bool kFold>
TW_AVX2 __m256i LiveLanes(Bytes x, Bytes y, __m256i fold) {
  const __m256i bx = Load32(x);
  const __m256i by = Load32(y);
  if (!kFold) return _mm256_min_epu8(_mm256_cmpeq_epi8(bx, by), bx);
  const __m256i same = _mm256_cmpeq_epi8(_mm256_or_si256(bx, fold), _mm256_or_si256(by, fold));
  return _mm256_min_epu8(_mm256_min_epu8(same, bx), by);
}

TW_AVX2 unsigned StopMask(__m256i live) {
  return Mask32(_mm256_cmpeq_epi8(live, _mm256_setzero_si256()));
}

// The same for 16 bytes, next to a page boundary.
TW_AVX2 unsigned StopMask16(Bytes x, Bytes y, __m128i fold) {
  const __m128i bx = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x));
  const __m128i by = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y));
  const __m128i same = _mm_cmpeq_epi8(_mm_or_si128(bx, fold), _mm_or_si128(by, fold));
  const __m128i live = _mm_min_epu8(_mm_min_epu8(same, bx), by);
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(live, _mm_setzero_si128())));
}

}  // namespace

// Needles of up to 32 bytes, when both 32-byte blocks lie within their pages
// and the needle's span lies before the haystack's limit: VerifyAt's verdict
// from one compare. The first lane that differs or holds the haystack's zero
// decides, as VerifyAt's byte order would. False when the needle or the
// blocks do not allow it.
__attribute__((target("avx2"), no_sanitize("address"), always_inline)) inline bool VerifyInOneBlock(
    Bytes hay, std::size_t q, std::size_t end, const ByteNeedle& needle, __m256i foldLanes,
    Verdict& verdict) {
  if (needle.length > 32 || q + needle.length > end || !BlockFitsInPage(hay + q, 32) ||
      !BlockFitsInPage(needle.text, 32)) {
    return false;
  }
  const __m256i h = Load32(hay + q);
  const __m256i n = Load32(needle.text);
  const unsigned span = needle.length == 32 ? ~0u : (1u << needle.length) - 1;
  const unsigned differ =
      ~Mask32(_mm256_cmpeq_epi8(_mm256_or_si256(h, foldLanes), _mm256_or_si256(n, foldLanes))) &
      span;
  const unsigned zeros = Mask32(_mm256_cmpeq_epi8(h, _mm256_setzero_si256())) & span;
  const unsigned events = differ | zeros;
  if (events != 0) {
    verdict = (zeros & events & (0u - events)) != 0 ? Verdict::HaystackEnds : Verdict::Mismatch;
    return true;
  }
  verdict = Verdict::Match;
  if (needle.wholeWord && needle.text[0] > 32) {
    const std::size_t after = q + needle.length;
    if ((after < end && hay[after] > 64) || (q > 0 && hay[q - 1] > 64)) verdict = Verdict::Mismatch;
  }
  return true;
}

// Each block of 32 positions p tests the needle's first two bytes at p and
// p + 1, and for needles of 3 to 256 bytes also its last byte at p + length -
// 1 when the block reaching that far stays within the page of p. A position
// whose tested bytes agree is a candidate to verify. A candidate whose span
// holds the haystack's end (a zero, or the limit) ends the search: no later
// position can hold a match either, and every earlier one has failed.
// Positions from the first zero of the block on are no candidates.
__attribute__((target("avx2"), no_sanitize("address"))) std::ptrdiff_t FindForwardAvx2(
    Bytes hay, std::size_t from, std::size_t end, const ByteNeedle& needle) {
  if (end < 2) return kNotFound;
  const std::size_t lastPair = end - 1;  // candidates start before this index
  const std::size_t lastOffset =
      needle.length >= 3 && needle.length <= kWidestFilter ? needle.length - 1 : 0;
  const __m256i zero = _mm256_setzero_si256();
  const __m256i fold0 = _mm256_set1_epi8(static_cast<char>(needle.firstFold));
  const __m256i fold1 = _mm256_set1_epi8(static_cast<char>(needle.restFold));
  const __m256i foldLanes = _mm256_insert_epi8(fold1, static_cast<char>(needle.firstFold), 0);
  const __m256i first = _mm256_set1_epi8(static_cast<char>(needle.text[0] | needle.firstFold));
  const __m256i second = _mm256_set1_epi8(static_cast<char>(needle.text[1] | needle.restFold));
  const __m256i last =
      _mm256_set1_epi8(static_cast<char>(needle.text[lastOffset] | needle.restFold));
  std::size_t p = from;
  for (;;) {
    if (p >= lastPair) return kNotFound;
    // Next to the end of a page, the block that ends there, with the
    // positions before p masked off (the bytes before p lie in the same page).
    // The page's last position, whose pair crosses the boundary, goes alone.
    Bytes block = hay + p;
    std::size_t back = 0;  // positions of the block before p
    unsigned fromP = ~0u;
    const std::size_t room =
        kPageSize - (reinterpret_cast<std::uintptr_t>(block) & (kPageSize - 1));
    if (room == 1) {
      if (hay[p] == 0) return kNotFound;
      if (PairMatches(hay, p, needle)) {
        const Verdict verdict = VerifyAt(hay, p, end, needle);
        if (verdict == Verdict::Match) return static_cast<std::ptrdiff_t>(p);
        if (verdict == Verdict::HaystackEnds) return kNotFound;
      }
      ++p;
      continue;
    }
    if (room < 33) {
      back = 33 - room;
      block = reinterpret_cast<Bytes>(reinterpret_cast<std::uintptr_t>(block) - back);
      fromP = ~0u << back;
    } else if (BlockFitsInPage(block, (lastOffset != 0 ? lastOffset : 1) + 64)) {
      // Two blocks without a candidate or a zero are passed in one step.
      const __m256i a0 = Load32(hay + p);
      const __m256i c0 = Load32(hay + p + 32);
      __m256i matchA =
          _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_or_si256(a0, fold0), first),
                           _mm256_cmpeq_epi8(_mm256_or_si256(Load32(hay + p + 1), fold1), second));
      __m256i matchC =
          _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_or_si256(c0, fold0), first),
                           _mm256_cmpeq_epi8(_mm256_or_si256(Load32(hay + p + 33), fold1), second));
      if (lastOffset != 0) {
        matchA = _mm256_and_si256(
            matchA, _mm256_cmpeq_epi8(_mm256_or_si256(Load32(hay + p + lastOffset), fold1), last));
        matchC = _mm256_and_si256(
            matchC,
            _mm256_cmpeq_epi8(_mm256_or_si256(Load32(hay + p + 32 + lastOffset), fold1), last));
      }
      const __m256i stops = _mm256_or_si256(_mm256_or_si256(matchA, _mm256_cmpeq_epi8(a0, zero)),
                                            _mm256_or_si256(matchC, _mm256_cmpeq_epi8(c0, zero)));
      if (_mm256_testz_si256(stops, stops)) {
        p += 64;
        continue;
      }
    }
    // Unsigned arithmetic: base may lie before the haystack's first byte.
    const std::size_t base = p - back;
    const __m256i b0 = Load32(block);
    const __m256i b1 = Load32(block + 1);
    const unsigned zeros0 = Mask32(_mm256_cmpeq_epi8(b0, zero)) & fromP;
    __m256i match = _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_or_si256(b0, fold0), first),
                                     _mm256_cmpeq_epi8(_mm256_or_si256(b1, fold1), second));
    if (lastOffset != 0 && BlockFitsInPage(block, lastOffset + 32)) {
      const __m256i b2 = Load32(block + lastOffset);
      match = _mm256_and_si256(match, _mm256_cmpeq_epi8(_mm256_or_si256(b2, fold1), last));
    }
    unsigned candidates = Mask32(match) & fromP;
    if (zeros0 != 0) candidates &= (1u << __builtin_ctz(zeros0)) - 1;
    // Positions from lastPair on are no candidates (lastPair may be near the
    // top of the address range: compared with p, not with base).
    const std::size_t remaining = lastPair - p;
    const bool lastBlock = zeros0 != 0 || remaining <= 32 - back;
    if (remaining < 32 - back) candidates &= (1u << (remaining + back)) - 1;
    while (candidates != 0) {
      const std::size_t q = base + static_cast<std::size_t>(__builtin_ctz(candidates));
      Verdict verdict;
      if (!VerifyInOneBlock(hay, q, end, needle, foldLanes, verdict)) {
        verdict = VerifyAt(hay, q, end, needle);
      }
      if (verdict == Verdict::Match) return static_cast<std::ptrdiff_t>(q);
      if (verdict == Verdict::HaystackEnds) return kNotFound;
      candidates &= candidates - 1;
    }
    if (lastBlock) return kNotFound;
    p = base + 32;
  }
}

// Blocks of 32 positions from last down, each ending at the highest position
// not yet tested; positions are tested on the needle's first two bytes and
// (needles of 3 bytes or more) its last byte. Only positions whose needle span
// ends before length are tried, so every byte read lies within the text. The
// block at the haystack's start, when the text reaches far enough, takes the
// first positions; otherwise they go one by one.
__attribute__((target("avx2"), no_sanitize("address"))) std::ptrdiff_t FindBackwardAvx2(
    Bytes hay, std::ptrdiff_t last, std::size_t length, const ByteNeedle& needle) {
  if (needle.length > length) return kNotFound;
  const std::ptrdiff_t lastStart = static_cast<std::ptrdiff_t>(length - needle.length);
  if (last > lastStart) last = lastStart;
  const std::size_t lastOffset = needle.length >= 3 ? needle.length - 1 : 1;
  const __m256i fold0 = _mm256_set1_epi8(static_cast<char>(needle.firstFold));
  const __m256i fold1 = _mm256_set1_epi8(static_cast<char>(needle.restFold));
  const __m256i foldLanes = _mm256_insert_epi8(fold1, static_cast<char>(needle.firstFold), 0);
  const __m256i first = _mm256_set1_epi8(static_cast<char>(needle.text[0] | needle.firstFold));
  const __m256i second = _mm256_set1_epi8(static_cast<char>(needle.text[1] | needle.restFold));
  const __m256i lastByte =
      _mm256_set1_epi8(static_cast<char>(needle.text[lastOffset] | needle.restFold));
  // The start's block reads bytes 0 to lastOffset + 31.
  const bool startBlock = length >= lastOffset + 32;
  std::ptrdiff_t p = last;  // the highest position not yet tested
  while (p >= 31 || (p >= 0 && startBlock)) {
    const std::ptrdiff_t s = p >= 31 ? p - 31 : 0;
    const Bytes block = hay + s;
    const __m256i match = _mm256_and_si256(
        _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_or_si256(Load32(block), fold0), first),
                         _mm256_cmpeq_epi8(_mm256_or_si256(Load32(block + 1), fold1), second)),
        _mm256_cmpeq_epi8(_mm256_or_si256(Load32(block + lastOffset), fold1), lastByte));
    unsigned candidates = Mask32(match);
    const unsigned below = static_cast<unsigned>(p - s);  // positions s to p
    if (below < 31) candidates &= (2u << below) - 1;
    while (candidates != 0) {
      const unsigned bit = 31u - static_cast<unsigned>(__builtin_clz(candidates));
      const std::size_t q = static_cast<std::size_t>(s) + bit;
      Verdict verdict;
      if (!VerifyInOneBlock(hay, q, length, needle, foldLanes, verdict)) {
        verdict = VerifyAt(hay, q, length, needle);
      }
      if (verdict == Verdict::Match) return static_cast<std::ptrdiff_t>(q);
      candidates &= ~(1u << bit);
    }
    p = s - 1;
  }
  for (; p >= 0; --p) {
    const std::size_t q = static_cast<std::size_t>(p);
    if (PairMatches(hay, q, needle) && VerifyAt(hay, q, length, needle) == Verdict::Match) return p;
  }
  return kNotFound;
}

// One block first (short texts end there), then four blocks at a time while
// 128 bytes of both texts lie within their pages, one block while 32 do, 16
// bytes while 16 do, and single bytes next to a page boundary.
// The walk of TextCompareAvx2, with or without case folding.
template <bool kFold>
__attribute__((target("avx2"), no_sanitize("address"), always_inline)) inline CompareResult
CompareWalk(const char* a, const char* b) {
  Bytes x = reinterpret_cast<Bytes>(a);
  Bytes y = reinterpret_cast<Bytes>(b);
  const unsigned char fold = kFold ? kFoldBit : 0;
  const __m256i foldMask = _mm256_set1_epi8(static_cast<char>(fold));
  std::size_t p = 0;
  if (BlockFitsInPage(x, 32) && BlockFitsInPage(y, 32)) {
    const unsigned stop = StopMask(LiveLanes<kFold>(x, y, foldMask));
    if (stop != 0) {
      p = static_cast<std::size_t>(__builtin_ctz(stop));
      return {static_cast<std::int32_t>(x[p]) - static_cast<std::int32_t>(y[p]),
              static_cast<std::int32_t>(p)};
    }
    p = 32;
  }
  for (;;) {
    if (BlockFitsInPage(x + p, 128) && BlockFitsInPage(y + p, 128)) {
      const __m256i live0 = LiveLanes<kFold>(x + p, y + p, foldMask);
      const __m256i live1 = LiveLanes<kFold>(x + p + 32, y + p + 32, foldMask);
      const __m256i live2 = LiveLanes<kFold>(x + p + 64, y + p + 64, foldMask);
      const __m256i live3 = LiveLanes<kFold>(x + p + 96, y + p + 96, foldMask);
      const __m256i all =
          _mm256_min_epu8(_mm256_min_epu8(live0, live1), _mm256_min_epu8(live2, live3));
      if (StopMask(all) == 0) {
        p += 128;
        continue;
      }
      unsigned stop = StopMask(live0);
      if (stop == 0) {
        p += 32;
        stop = StopMask(live1);
      }
      if (stop == 0) {
        p += 32;
        stop = StopMask(live2);
      }
      if (stop == 0) {
        p += 32;
        stop = StopMask(live3);
      }
      p += static_cast<std::size_t>(__builtin_ctz(stop));
      break;
    }
    if (BlockFitsInPage(x + p, 32) && BlockFitsInPage(y + p, 32)) {
      const unsigned stop = StopMask(LiveLanes<kFold>(x + p, y + p, foldMask));
      if (stop == 0) {
        p += 32;
        continue;
      }
      p += static_cast<std::size_t>(__builtin_ctz(stop));
      break;
    }
    if (BlockFitsInPage(x + p, 16) && BlockFitsInPage(y + p, 16)) {
      const unsigned stop = StopMask16(x + p, y + p, _mm256_castsi256_si128(foldMask));
      if (stop == 0) {
        p += 16;
        continue;
      }
      p += static_cast<std::size_t>(__builtin_ctz(stop));
      break;
    }
    if (x[p] == 0 || y[p] == 0 || (x[p] | fold) != (y[p] | fold)) break;
    ++p;
  }
  return {static_cast<std::int32_t>(x[p]) - static_cast<std::int32_t>(y[p]),
          static_cast<std::int32_t>(p)};
}

__attribute__((target("avx2"), no_sanitize("address"))) CompareResult TextCompareAvx2(
    const char* a, const char* b, std::int32_t mode) {
  return mode != 0 ? CompareWalk<true>(a, b) : CompareWalk<false>(a, b);
}

#undef TW_AVX2

}  // namespace tw::search_kernels

#endif
