// The kernels of text search and text comparison, written once over a vector
// set (trace/vector_sets.h: load, compare to a bit mask, width) and
// instantiated per set by support/search.cpp (SSE2), search_avx2.cpp (AVX2)
// and search_avx512.cpp (AVX-512). Each including source defines TW_WALK, its
// set's kernel attribute, first; everything here has internal linkage, so the
// copies compiled for different sets never meet.
//
// Where the sets differ, the traits say so and the kernel asks: AVX-512 loads
// a needle, a candidate's bytes or the bytes before a page end with masked
// loads whose other lanes are not read; the other sets load whole blocks
// within the page, or go byte by byte.
#pragma once

#include <type_traits>

#include "support/search_kernels.h"
#include "trace/text_walks.h"
#include "trace/vector_sets.h"

#ifndef TW_WALK_ENTRY
#error "define TW_WALK_ENTRY (the attribute of the including source's set's functions) first"
#endif

namespace tw::search_kernels {
namespace {

using vector_sets::FirstLanes;
using vector_sets::HighestLane;
using vector_sets::LowestLane;

// Needles up to this length are filtered on their last byte (the filter's
// block must lie within the page); longer needles on their second byte twice.
constexpr std::size_t kWidestFilter = 256;
// Blocks whose pairs the last byte rejects before the quiet stretches test it.
constexpr std::size_t kPairsBeforeLast = 4;
constexpr std::size_t kNoLimit = ~std::size_t{0};

// The needle as the kernels hold it: its tested bytes folded and repeated in
// every lane, and (for needles of up to one block whose bytes could be
// loaded) the folded needle itself.
template <typename S>
struct Prepared {
  typename S::Vector first;
  typename S::Vector second;
  typename S::Vector last;
  typename S::Vector fold0;
  typename S::Vector fold1;
  typename S::Vector foldLanes;  // the first byte's fold bit in lane 0, the others' in the rest
  typename S::Vector text;       // needle bytes or'ed with foldLanes
  std::size_t lastOffset;        // the needle's last byte (up to kWidestFilter), else 1
  bool inOneCompare;             // text holds the whole needle
};

template <typename S>
TW_WALK Prepared<S> Prepare(const ByteNeedle& needle) {
  Prepared<S> n;
  n.lastOffset =
      needle.length >= 3 && needle.length <= kWidestFilter ? needle.length - 1 : std::size_t{1};
  n.fold0 = S::Broadcast(needle.firstFold);
  n.fold1 = S::Broadcast(needle.restFold);
  n.foldLanes = S::FirstLaneApart(n.fold1, needle.firstFold);
  n.first = S::Broadcast(needle.text[0] | needle.firstFold);
  n.second = S::Broadcast(needle.text[1] | needle.restFold);
  n.last = S::Broadcast(needle.text[n.lastOffset] | needle.restFold);
  n.inOneCompare = needle.length <= S::kWidth;
  n.text = S::Zero();
  if constexpr (S::kMaskedLoads) {
    // The needle's bytes (all before its end) by a masked load: no lane
    // beyond them is read.
    if (n.inOneCompare) {
      n.text = S::LoadLanes(needle.text, FirstLanes<typename S::Mask>(needle.length));
    }
  } else {
    n.inOneCompare = n.inOneCompare && BlockFitsInPage(needle.text, S::kWidth);
    if (n.inOneCompare) n.text = S::Load(needle.text);
  }
  n.text = S::Or(n.text, n.foldLanes);
  return n;
}

// A block read once and used in byte and in dword operations: held in one
// register (the compiler would otherwise load it again for each use).
template <typename S>
TW_WALK typename S::Vector LoadOnce(Bytes p) {
  typename S::Vector v = S::Load(p);
  if constexpr (S::kMaskedLoads) __asm__("" : "+v"(v));
  return v;
}

// A block of the sets with byte-lane compares held in one register when it
// has two uses: the compiler would otherwise read it again for each, and
// loads bound the text comparison's speed.
template <typename S>
TW_WALK typename S::Vector LoadHeld(Bytes p) {
  typename S::Vector v = S::Load(p);
  __asm__("" : "+x"(v));
  return v;
}

// The pair test of one position, next to a page boundary.
inline bool PairMatches(Bytes hay, std::size_t p, const ByteNeedle& needle) {
  const unsigned char second = hay[p + 1];
  return (hay[p] | needle.firstFold) == (needle.text[0] | needle.firstFold) && second != 0 &&
         (second | needle.restFold) == (needle.text[1] | needle.restFold);
}

// VerifyAt's verdict on the candidate q of a needle held in one compare: the
// first lane that differs or holds the haystack's zero decides, as VerifyAt's
// byte order would, and a span cut short by the haystack's limit ends the
// haystack. With masked loads, the lanes in the page of q are read, and those
// beyond it only when the text goes on into the next page; without, the block
// from q must lie within its page (else VerifyAt decides).
template <typename S>
TW_WALK Verdict VerifyShort(Bytes hay, std::size_t q, std::size_t end, const ByteNeedle& needle,
                            const Prepared<S>& n) {
  using Mask = typename S::Mask;
  const std::size_t length = needle.length;
  const std::size_t lanes = end - q < length ? end - q : length;
  const Mask span = FirstLanes<Mask>(lanes);
  typename S::Vector h;
  if constexpr (S::kMaskedLoads) {
    const std::size_t inPage =
        kPageSize - (reinterpret_cast<std::uintptr_t>(hay + q) & (kPageSize - 1));
    const Mask pagePart = FirstLanes<Mask>(inPage);
    h = S::LoadLanes(hay + q, span & pagePart);
    if ((span & ~pagePart) != 0 && (S::Zeros(h) & span & pagePart) == 0) {
      h = S::LoadLanes(hay + q, span);
    }
  } else {
    if (!BlockFitsInPage(hay + q, S::kWidth)) return VerifyAt(hay, q, end, needle);
    h = S::Load(hay + q);
  }
  const Mask differ = ~S::Equal(S::Or(h, n.foldLanes), n.text) & span;
  const Mask zeros = S::Zeros(h) & span;
  const Mask events = differ | zeros;
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

template <typename S, bool kShort>
TW_WALK Verdict Verify(Bytes hay, std::size_t q, std::size_t end, const ByteNeedle& needle,
                       const Prepared<S>& n) {
  return kShort ? VerifyShort<S>(hay, q, end, needle, n) : VerifyAt(hay, q, end, needle);
}

// Lanes that are zero where a position's tested bytes all agree with the
// needle's, for the positions from p (b0: the bytes from p): the first two
// bytes, and the last one too when kLast. Without folding, x keeps the second
// bytes' disagreement and takes the first's; b0 stays intact for the zero
// test.
template <typename S, bool kFold, bool kLast>
TW_WALK typename S::Vector Disagreement(Bytes p, typename S::Vector b0, const Prepared<S>& n) {
  if (!kFold) {
    const typename S::Vector x = S::Xor(S::Load(p + 1), n.second);
    const typename S::Vector pair = S::OrXor(x, b0, n.first);
    if (!kLast) return pair;
    return S::OrXor(pair, n.last, S::Load(p + n.lastOffset));
  }
  const typename S::Vector x0 = S::FoldXor(b0, n.fold0, n.first);
  const typename S::Vector x1 = S::FoldXor(S::Load(p + 1), n.fold1, n.second);
  if (!kLast) return S::Or(x0, x1);
  const typename S::Vector x2 = S::FoldXor(S::Load(p + n.lastOffset), n.fold1, n.last);
  return S::Or3(x0, x1, x2);
}

// True when the two blocks of positions from p hold no candidate and no zero.
template <typename S, bool kFold, bool kLast>
TW_WALK bool QuietStretch(Bytes p, const Prepared<S>& n) {
  const typename S::Vector a0 = LoadOnce<S>(p);
  const typename S::Vector c0 = LoadOnce<S>(p + S::kWidth);
  return S::NoZero(S::Min(S::Min(Disagreement<S, kFold, kLast>(p, a0, n), a0),
                          S::Min(Disagreement<S, kFold, kLast>(p + S::kWidth, c0, n), c0)));
}

// True when the block of positions from p holds no candidate and no zero.
template <typename S, bool kFold, bool kLast>
TW_WALK bool QuietBlock(Bytes p, const Prepared<S>& n) {
  const typename S::Vector a0 = LoadOnce<S>(p);
  return S::NoZero(S::Min(Disagreement<S, kFold, kLast>(p, a0, n), a0));
}

// Up to steps quiet stretches from p: where the first one that is not quiet
// begins, or the end of the last.
template <typename S, bool kFold, bool kLast>
TW_WALK Bytes PassQuietStretches(Bytes p, std::size_t steps, const Prepared<S>& n) {
  do {
    if (!QuietStretch<S, kFold, kLast>(p, n)) break;
    p += 2 * S::kWidth;
  } while (--steps != 0);
  // One more block when it is quiet (the page's last stretch, or the first
  // half of the stretch that was not).
  if (BlockFitsInPage(p, n.lastOffset + S::kWidth) && QuietBlock<S, kFold, kLast>(p, n)) {
    p += S::kWidth;
  }
  return p;
}

// Candidates among the positions of block: first and second bytes (pairs),
// and the last byte where its block stays within the page.
template <typename S, bool kFold>
TW_WALK typename S::Mask BlockCandidates(Bytes block, typename S::Vector b0, const Prepared<S>& n,
                                         bool last, typename S::Mask& pairs) {
  const typename S::Vector b1 = S::Load(block + 1);
  pairs = S::Equal(kFold ? S::Or(b0, n.fold0) : b0, n.first) &
          S::Equal(kFold ? S::Or(b1, n.fold1) : b1, n.second);
  if (last && BlockFitsInPage(block, n.lastOffset + S::kWidth)) {
    const typename S::Vector b2 = S::Load(block + n.lastOffset);
    return pairs & S::Equal(kFold ? S::Or(b2, n.fold1) : b2, n.last);
  }
  return pairs;
}

// The forward walk. Blocks of positions, each read from its aligned start
// with the positions before p masked off (next to the end of a page: the
// block that ends there, the page's last position alone), tested on three
// bytes (the first block on two: a short haystack's search need not wait for
// the needle's last byte); after each block, two blocks per step while no
// pair (or, once kPairsBeforeLast blocks have shown pairs that the last byte
// rejects, no three-byte candidate) and no zero shows and the bytes tested lie
// within the page. The stretches test fewer bytes as long as that costs
// nothing: each test of a byte reads a block that crosses a cache line.
// A candidate whose span holds the haystack's end (a zero, or the limit) ends
// the search: no later position can hold a match either, and every earlier
// one has failed. Needles held in one compare (kShort) are verified here.
template <typename S, bool kFold, bool kShort>
TW_WALK std::ptrdiff_t Walk(Bytes hay, std::size_t from, std::size_t end, const ByteNeedle& needle,
                            const Prepared<S>& n) {
  using Mask = typename S::Mask;
  constexpr std::size_t kLane = S::kWidth;
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
        const Verdict verdict = Verify<S, kShort>(hay, p, end, needle, n);
        if (verdict == Verdict::Match) return static_cast<std::ptrdiff_t>(p);
        if (verdict == Verdict::HaystackEnds) return kNotFound;
      }
      ++p;
      continue;
    }
    // Positions of the block before p (bytes of the same page).
    const std::size_t back = room < kLane + 1 ? kLane + 1 - room : at & (kLane - 1);
    const Bytes block = reinterpret_cast<Bytes>(at - back);
    const Mask fromP = S::kAll & (S::kAll << back);
    // Unsigned arithmetic: base may lie before the haystack's first byte.
    const std::size_t base = p - back;
    const typename S::Vector b0 = LoadOnce<S>(block);
    const Mask zeros0 = S::Zeros(b0) & fromP;
    Mask pairs;
    Mask candidates = BlockCandidates<S, kFold>(block, b0, n, p != from, pairs) & fromP;
    if ((pairs & fromP) != 0 && candidates == 0) ++pairsOnly;
    if (zeros0 != 0) candidates &= (zeros0 - 1) & ~zeros0;
    // Positions from lastPair on are no candidates (lastPair may be near the
    // top of the address range: compared with p, not with base).
    const std::size_t remaining = lastPair - p;
    if (remaining < kLane - back) candidates &= FirstLanes<Mask>(remaining + back);
    while (candidates != 0) {
      const std::size_t q = base + LowestLane(candidates);
      const Verdict verdict = Verify<S, kShort>(hay, q, end, needle, n);
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
                                ? PassQuietStretches<S, kFold, false>(hay + p, steps, n)
                                : PassQuietStretches<S, kFold, true>(hay + p, steps, n);
      p = static_cast<std::size_t>(stretch - hay);
    }
  }
}

template <typename S>
TW_WALK std::ptrdiff_t WalkPrepared(Bytes hay, std::size_t from, std::size_t end,
                                    const ByteNeedle& needle, const Prepared<S>& n) {
  const bool fold = (needle.firstFold | needle.restFold) != 0;
  if (n.inOneCompare) {
    return fold ? Walk<S, true, true>(hay, from, end, needle, n)
                : Walk<S, false, true>(hay, from, end, needle, n);
  }
  return fold ? Walk<S, true, false>(hay, from, end, needle, n)
              : Walk<S, false, false>(hay, from, end, needle, n);
}

// Forward search of a needle of two or more bytes from index from (within the
// haystack or on its end): index of the first match or kNotFound.
template <typename S>
TW_WALK std::ptrdiff_t FindForwardWith(Bytes hay, std::size_t from, std::size_t end,
                                       const ByteNeedle& needle) {
  return WalkPrepared<S>(hay, from, end, needle, Prepare<S>(needle));
}

// Backward search: blocks of positions from last down, each ending at the
// highest position not yet tested; positions are tested on the needle's
// first two bytes and its last byte (needles of 3 to kWidestFilter bytes;
// else the second byte twice). Only positions whose needle span ends before
// length are candidates. The block at the haystack's start takes the first
// positions when the bytes it reads lie within the text or within the
// haystack's first page; otherwise they go one by one.
template <typename S>
TW_WALK std::ptrdiff_t FindBackwardWith(Bytes hay, std::ptrdiff_t last, std::size_t length,
                                        const ByteNeedle& needle) {
  using Mask = typename S::Mask;
  constexpr std::ptrdiff_t kLane = static_cast<std::ptrdiff_t>(S::kWidth);
  if (needle.length > length) return kNotFound;
  const std::ptrdiff_t lastStart = static_cast<std::ptrdiff_t>(length - needle.length);
  if (last > lastStart) last = lastStart;
  const Prepared<S> n = Prepare<S>(needle);
  const bool startBlock =
      length >= n.lastOffset + S::kWidth || BlockFitsInPage(hay, n.lastOffset + S::kWidth);
  std::ptrdiff_t p = last;  // the highest position not yet tested
  while (p >= kLane - 1 || (p >= 0 && startBlock)) {
    const std::ptrdiff_t s = p >= kLane - 1 ? p - (kLane - 1) : 0;
    const Bytes block = hay + s;
    Mask candidates = S::Equal(S::Or(S::Load(block), n.fold0), n.first) &
                      S::Equal(S::Or(S::Load(block + 1), n.fold1), n.second) &
                      S::Equal(S::Or(S::Load(block + n.lastOffset), n.fold1), n.last);
    const std::size_t below = static_cast<std::size_t>(p - s);  // positions s to p
    candidates &= FirstLanes<Mask>(below + 1);
    while (candidates != 0) {
      const unsigned lane = HighestLane(candidates);
      const std::size_t q = static_cast<std::size_t>(s) + lane;
      const Verdict verdict = n.inOneCompare ? VerifyShort<S>(hay, q, length, needle, n)
                                             : VerifyAt(hay, q, length, needle);
      if (verdict == Verdict::Match) return static_cast<std::ptrdiff_t>(q);
      candidates &= ~(Mask{1} << lane);
    }
    p = s - 1;
  }
  for (; p >= 0; --p) {
    const std::size_t q = static_cast<std::size_t>(p);
    if (PairMatches(hay, q, needle) && VerifyAt(hay, q, length, needle) == Verdict::Match) return p;
  }
  return kNotFound;
}

inline ByteNeedle PlainNeedle(Bytes text, std::size_t length, std::uint32_t mode) {
  const bool foldAll = (mode & kFindIgnoreCase) != 0;
  const bool foldFirst = foldAll || (mode & kFindFirstIgnoreCase) != 0;
  return {text, length, static_cast<unsigned char>(foldFirst ? 32 : 0),
          static_cast<unsigned char>(foldAll ? 32 : 0), (mode & kFindWholeWord) != 0};
}

// The 1-based position of a search's index, 0 for none.
inline std::int32_t PositionOf(std::ptrdiff_t index) {
  return index < 0 ? 0 : static_cast<std::int32_t>(index + 1);
}

// The walks from the short ways, out of line (only longer haystacks get
// there): the match's position.
template <typename S>
TW_WALK_ENTRY __attribute__((noinline)) std::int32_t ForwardFrom(Bytes hay, std::size_t from,
                                                                 Bytes needleText,
                                                                 std::size_t length,
                                                                 std::uint32_t mode) {
  return PositionOf(FindForwardWith<S>(hay, from, kNoLimit, PlainNeedle(needleText, length, mode)));
}
template <typename S>
TW_WALK_ENTRY __attribute__((noinline)) std::int32_t BackwardOver(Bytes hay, std::size_t hayLength,
                                                                  Bytes needleText,
                                                                  std::size_t length,
                                                                  std::uint32_t mode) {
  return PositionOf(FindBackwardWith<S>(hay, static_cast<std::ptrdiff_t>(hayLength) - 2, hayLength,
                                        PlainNeedle(needleText, length, mode)));
}

// A needle's length from the block from its first byte (read by the caller,
// within the needle's page) when it ends there, else measured on with this
// set's blocks.
template <typename S>
TW_WALK std::size_t NeedleLength(Bytes needleText, typename S::Vector block) {
  const typename S::Mask zeros = S::Zeros(block);
  return zeros != 0 ? LowestLane(zeros) : LengthWith<S>(reinterpret_cast<const char*>(needleText));
}

// The fold bits of the short ways' first and other bytes.
inline unsigned char FirstFold(std::uint32_t mode) {
  return (mode & (kFindIgnoreCase | kFindFirstIgnoreCase)) != 0 ? 32 : 0;
}
inline unsigned char RestFold(std::uint32_t mode) {
  return (mode & kFindIgnoreCase) != 0 ? 32 : 0;
}

// Lanes where bytes, folded with fold when kFold, equal wanted.
template <typename S, bool kFold>
TW_WALK typename S::Mask FoldedEqual(typename S::Vector bytes, typename S::Vector fold,
                                     typename S::Vector wanted) {
  return S::Equal(kFold ? S::Or(bytes, fold) : bytes, wanted);
}

// The word test of a match at q (docs/search.md) when kWord: the bytes
// before and after it must be 64 or less, for needles whose first byte is
// above 32.
template <bool kWord>
inline bool WordBoundaries(Bytes hay, std::size_t q, std::size_t length, Bytes needleText) {
  return !kWord || needleText[0] <= 32 || (hay[q + length] <= 64 && (q == 0 || hay[q - 1] <= 64));
}

// Whether the needle's bytes from its second block on (needles longer than a
// block) agree with the haystack's at q, one at a time, folded with fold: the
// haystack's zero ends them (it is never read past).
inline bool RestAgrees(Bytes hay, std::size_t q, Bytes needleText, std::size_t from,
                       std::size_t length, unsigned char fold) {
  for (std::size_t i = from; i < length; ++i) {
    const unsigned char h = hay[q + i];
    if (h == 0 || (h | fold) != (needleText[i] | fold)) return false;
  }
  return true;
}

// The short way of a search from the start, over the haystack's first
// kShortStretch bytes: blocks of positions tested on the needle's first two
// bytes and for a zero at once (the byte-wise minimum of their disagreement
// and the bytes), before anything is known of the haystack's length, with
// single loads at p, one byte on and at each candidate while two blocks from
// p lie within the page; the walk goes on from there. A candidate of a needle
// longer than a block is compared a block at once, then byte by byte.
constexpr std::size_t kShortStretch = 256;

template <typename S, bool kFold, bool kWord>
TW_WALK std::int32_t PlainShortWalk(Bytes hay, Bytes needleText, typename S::Vector block,
                                    std::size_t length, std::uint32_t mode) {
  using Mask = typename S::Mask;
  using Vector = typename S::Vector;
  // The needle's first two bytes folded and repeated, the fold bits, and the
  // folded needle block (its lanes beyond the needle's end are never compared).
  const Vector fold0 = S::Broadcast(kFold ? FirstFold(mode) : 0);
  const Vector fold1 = S::Broadcast(kFold ? RestFold(mode) : 0);
  const Vector first = S::Broadcast(needleText[0] | (kFold ? FirstFold(mode) : 0));
  const Vector second = S::Broadcast(needleText[1] | (kFold ? RestFold(mode) : 0));
  const Vector foldLanes = S::Or(fold1, S::FirstLane(kFold ? FirstFold(mode) : 0));
  const Vector text = kFold ? S::Or(block, foldLanes) : block;
  const Mask span = FirstLanes<Mask>(length < S::kWidth ? length : S::kWidth);
  std::size_t p = 0;
  do {
    const Vector b0 = S::Load(hay + p);
    const Vector b1 = S::Load(hay + p + 1);
    const Vector disagree = kFold
                                ? S::Or(S::FoldXor(b0, fold0, first), S::FoldXor(b1, fold1, second))
                                : S::OrXor(S::Xor(b1, second), b0, first);
    if (!S::NoZero(S::Min(disagree, b0))) {
      const Mask zeros = S::Zeros(b0);
      Mask candidates = S::Zeros(disagree);
      // Positions before the zero (folded, a zero and a space agree).
      if (zeros != 0) candidates &= (zeros - 1) & ~zeros;
      while (candidates != 0) {
        const std::size_t q = p + LowestLane(candidates);
        const Vector h = S::Load(hay + q);
        if (((~FoldedEqual<S, kFold>(h, foldLanes, text) | S::Zeros(h)) & span) == 0 &&
            (length <= S::kWidth ||
             RestAgrees(hay, q, needleText, S::kWidth, length, kFold ? RestFold(mode) : 0)) &&
            WordBoundaries<kWord>(hay, q, length, needleText)) {
          return PositionOf(static_cast<std::ptrdiff_t>(q));
        }
        candidates &= candidates - 1;
      }
      if (zeros != 0) return 0;
    }
    p += S::kWidth;
  } while (p < kShortStretch && BlockFitsInPage(hay + p, 2 * S::kWidth));
  return ForwardFrom<S>(hay, p, needleText, length, mode);
}

// A needle or haystack next to a page end: the needle measured from the
// aligned block that holds its first byte when the block from it would cross
// its page (the aligned one never does), the haystack walked whole.
template <typename S>
TW_WALK_ENTRY __attribute__((noinline)) std::int32_t PlainNearAPageEnd(std::int32_t start,
                                                                       std::uintptr_t haystack,
                                                                       std::uintptr_t needle,
                                                                       std::uint32_t mode) {
  const Bytes needleText = reinterpret_cast<Bytes>(needle);
  std::size_t length;
  if (BlockFitsInPage(needleText, S::kWidth)) {
    length = NeedleLength<S>(needleText, S::Load(needleText));
  } else {
    const std::size_t skip = needle & (S::kWidth - 1);
    const typename S::Mask zeros =
        S::Zeros(S::LoadAligned(reinterpret_cast<Bytes>(needle - skip))) >> skip;
    length =
        zeros != 0 ? LowestLane(zeros) : LengthWith<S>(reinterpret_cast<const char*>(needleText));
  }
  if (length < 2) return GeneralPosition(start, haystack, needle, mode);
  return ForwardFrom<S>(reinterpret_cast<Bytes>(haystack), 0, needleText, length, mode);
}

template <typename S>
TW_WALK std::int32_t FindPlainWith(std::int32_t start, std::uintptr_t haystack,
                                   std::uintptr_t needle, std::uint32_t mode) {
  const Bytes hay = reinterpret_cast<Bytes>(haystack);
  const Bytes needleText = reinterpret_cast<Bytes>(needle);
  if (!BlockFitsInPage(needleText, S::kWidth) || !BlockFitsInPage(hay, 2 * S::kWidth)) {
    return PlainNearAPageEnd<S>(start, haystack, needle, mode);
  }
  const typename S::Vector block = S::Load(needleText);
  const std::size_t length = NeedleLength<S>(needleText, block);
  if (length < 2) return GeneralPosition(start, haystack, needle, mode);
  // The short way compares a candidate's first block at once and the bytes
  // after it one at a time: needles of two blocks or more go to the walk.
  if (length >= 2 * S::kWidth) return ForwardFrom<S>(hay, 0, needleText, length, mode);
  switch (mode) {
    case 0:
      return PlainShortWalk<S, false, false>(hay, needleText, block, length, mode);
    case kFindWholeWord:
      return PlainShortWalk<S, false, true>(hay, needleText, block, length, mode);
    default:
      return (mode & kFindWholeWord) == 0
                 ? PlainShortWalk<S, true, false>(hay, needleText, block, length, mode)
                 : PlainShortWalk<S, true, true>(hay, needleText, block, length, mode);
  }
}

// The short way of a backward search from the end: the haystack measured
// with this set's blocks; when every position a match can start at lies in
// its first block (and two blocks lie within its page), the highest position
// compared whole, then the block tested on the needle's first two and last
// bytes, candidates verified from the highest down, each in one compare; else
// the backward walk.
template <typename S, bool kFold, bool kWord>
TW_WALK std::int32_t PlainLastMatch(Bytes hay, Bytes needleText, typename S::Vector block,
                                    std::size_t length, std::uint32_t mode) {
  using Mask = typename S::Mask;
  const std::size_t hayLength = LengthWith<S>(reinterpret_cast<const char*>(hay));
  if (length > hayLength) return PositionOf(kNotFound);
  const std::size_t lastStart = hayLength - length;
  if (lastStart >= S::kWidth || !BlockFitsInPage(hay, 2 * S::kWidth)) {
    return BackwardOver<S>(hay, hayLength, needleText, length, mode);
  }
  using Vector = typename S::Vector;
  const Vector fold0 = S::Broadcast(kFold ? FirstFold(mode) : 0);
  const Vector fold1 = S::Broadcast(kFold ? RestFold(mode) : 0);
  const Vector first = S::Broadcast(needleText[0] | (kFold ? FirstFold(mode) : 0));
  const Vector second = S::Broadcast(needleText[1] | (kFold ? RestFold(mode) : 0));
  const Vector last = S::Broadcast(needleText[length - 1] | (kFold ? RestFold(mode) : 0));
  const Vector foldLanes = S::Or(fold1, S::FirstLane(kFold ? FirstFold(mode) : 0));
  const Vector text = kFold ? S::Or(block, foldLanes) : block;
  const Mask span = FirstLanes<Mask>(length);
  // The highest position, where the search would verify first, is compared
  // whole at once, beside the filter rather than after it: a match that ends
  // at the haystack's end waits for no candidate mask.
  if ((~FoldedEqual<S, kFold>(S::Load(hay + lastStart), foldLanes, text) & span) == 0 &&
      WordBoundaries<kWord>(hay, lastStart, length, needleText)) {
    return PositionOf(static_cast<std::ptrdiff_t>(lastStart));
  }
  Mask candidates = FoldedEqual<S, kFold>(S::Load(hay), fold0, first) &
                    FoldedEqual<S, kFold>(S::Load(hay + 1), fold1, second) &
                    FoldedEqual<S, kFold>(S::Load(hay + length - 1), fold1, last) &
                    FirstLanes<Mask>(lastStart);
  while (candidates != 0) {
    const unsigned q = HighestLane(candidates);
    if ((~FoldedEqual<S, kFold>(S::Load(hay + q), foldLanes, text) & span) == 0 &&
        WordBoundaries<kWord>(hay, q, length, needleText)) {
      return PositionOf(static_cast<std::ptrdiff_t>(q));
    }
    candidates &= ~(Mask{1} << q);
  }
  return PositionOf(kNotFound);
}

template <typename S>
TW_WALK std::int32_t FindPlainBackwardWith(std::int32_t start, std::uintptr_t haystack,
                                           std::uintptr_t needle, std::uint32_t mode) {
  const Bytes needleText = reinterpret_cast<Bytes>(needle);
  if (!BlockFitsInPage(needleText, S::kWidth))
    return GeneralPosition(start, haystack, needle, mode);
  const typename S::Vector block = S::Load(needleText);
  const std::size_t length = NeedleLength<S>(needleText, block);
  if (length < 2) return GeneralPosition(start, haystack, needle, mode);
  const std::uint32_t plain = mode & ~kFindBackward;
  const Bytes hay = reinterpret_cast<Bytes>(haystack);
  // A needle of a block or more: the backward walk over the measured haystack.
  if (length >= S::kWidth) {
    const std::size_t hayLength = LengthWith<S>(reinterpret_cast<const char*>(hay));
    if (length > hayLength) return PositionOf(kNotFound);
    return BackwardOver<S>(hay, hayLength, needleText, length, plain);
  }
  switch (plain) {
    case 0:
      return PlainLastMatch<S, false, false>(hay, needleText, block, length, plain);
    case kFindWholeWord:
      return PlainLastMatch<S, false, true>(hay, needleText, block, length, plain);
    default:
      return (plain & kFindWholeWord) == 0
                 ? PlainLastMatch<S, true, false>(hay, needleText, block, length, plain)
                 : PlainLastMatch<S, true, true>(hay, needleText, block, length, plain);
  }
}

// The bytes up to the nearer of the two pages' ends.
inline std::size_t BytesBeforeAPageEnd(Bytes x, Bytes y) {
  const std::size_t toX = kPageSize - (reinterpret_cast<std::uintptr_t>(x) & (kPageSize - 1));
  const std::size_t toY = kPageSize - (reinterpret_cast<std::uintptr_t>(y) & (kPageSize - 1));
  return toX < toY ? toX : toY;
}

// TextCompare's result as one word: the difference in the low half, the
// position in the high half (CompareResult's layout; a word is returned and
// passed on without copies). kWalkOn: a walk stopped at its limit.
inline std::uint64_t Packed(int difference, std::size_t p) {
  return static_cast<std::uint32_t>(difference) | (static_cast<std::uint64_t>(p) << 32);
}
constexpr std::uint64_t kWalkOn = ~std::uint64_t{0};

// A packed word as the kernels return it (support/search_kernels.h).
inline CompareWord AsCompareWord(std::uint64_t packed) {
#if defined(__x86_64__)
  return {static_cast<std::int32_t>(packed), static_cast<std::int32_t>(packed >> 32)};
#else
  return packed;
#endif
}

// TextCompare's walk from p (after the first block: from x's next block
// boundary) up to limit (then kWalkOn, p where it stopped): four blocks per
// step while they lie within both pages, all four tested at once on the
// byte-wise OR of their differences and the minimum of their bytes. Else the
// whole blocks before the nearer page end, then the block that ends there
// (bytes already compared included), or, within the first block, only the
// bytes up to that end: by masked loads, or byte by byte.
template <typename S, bool kFold>
TW_WALK std::uint64_t CompareWalk(const char* a, const char* b, std::size_t& p, std::size_t limit) {
  using Mask = typename S::Mask;
  using Vector = typename S::Vector;
  constexpr std::size_t kLane = S::kWidth;
  Bytes x = reinterpret_cast<Bytes>(a);
  Bytes y = reinterpret_cast<Bytes>(b);
  // The bits a difference counts in: all but the fold bit when folding.
  const Vector keep = S::Broadcast(kFold ? 0xDF : 0xFF);
  Mask stops;
  for (;;) {
    if (p >= limit) return kWalkOn;
    std::size_t steps = BytesBeforeAPageEnd(x + p, y + p) / (4 * kLane);
    if constexpr (!kFold && S::kLanesAsBytes) {
      if (steps != 0) {
        // Exact comparison with byte-lane compares: each block's bytes that
        // go on (zero where the texts stop), their minimum tested once.
        Vector g0, g1, g2, g3;
        for (;;) {
          g0 = S::GoOn(LoadHeld<S>(x + p), S::Load(y + p));
          g1 = S::GoOn(LoadHeld<S>(x + p + kLane), S::Load(y + p + kLane));
          g2 = S::GoOn(LoadHeld<S>(x + p + 2 * kLane), S::Load(y + p + 2 * kLane));
          g3 = S::GoOn(LoadHeld<S>(x + p + 3 * kLane), S::Load(y + p + 3 * kLane));
          if (S::Zeros(S::Min(S::Min(g0, g1), S::Min(g2, g3))) != 0) break;
          p += 4 * kLane;
          if (--steps == 0) break;
        }
        if (steps == 0) continue;
        if ((stops = S::Zeros(g0)) != 0) break;
        p += kLane;
        if ((stops = S::Zeros(g1)) != 0) break;
        p += kLane;
        if ((stops = S::Zeros(g2)) != 0) break;
        p += kLane;
        stops = S::Zeros(g3);
        break;
      }
    } else if (steps != 0) {
      // The steps before the nearer page end, without a page test each.
      Vector x0, y0, x1, y1, x2, y2, x3, y3;
      for (;;) {
        x0 = S::Load(x + p), y0 = S::Load(y + p);
        x1 = S::Load(x + p + kLane), y1 = S::Load(y + p + kLane);
        x2 = S::Load(x + p + 2 * kLane), y2 = S::Load(y + p + 2 * kLane);
        x3 = S::Load(x + p + 3 * kLane), y3 = S::Load(y + p + 3 * kLane);
        const Vector differences =
            S::Or(S::Or(S::Xor(x0, y0), S::Xor(x1, y1)), S::Or(S::Xor(x2, y2), S::Xor(x3, y3)));
        Vector ends = S::Min(S::Min(x0, x1), S::Min(x2, x3));
        if (kFold) ends = S::Min(ends, S::Min(S::Min(y0, y1), S::Min(y2, y3)));
        if ((S::template DiffersOrEnds<kFold>(differences, ends, keep) & S::kAll) != 0) break;
        p += 4 * kLane;
        if (--steps == 0) break;
      }
      if (steps == 0) continue;
      stops = S::template Stops<kFold>(x0, y0) & S::kAll;
      if (stops != 0) break;
      p += kLane;
      stops = S::template Stops<kFold>(x1, y1) & S::kAll;
      if (stops != 0) break;
      p += kLane;
      stops = S::template Stops<kFold>(x2, y2) & S::kAll;
      if (stops != 0) break;
      p += kLane;
      stops = S::template Stops<kFold>(x3, y3) & S::kAll;
      break;
    }
    const std::size_t count = BytesBeforeAPageEnd(x + p, y + p);
    if (count >= kLane) {
      // The whole blocks before the nearer page end (fewer than four).
      const std::size_t end = p + (count & ~(kLane - 1));
      do {
        stops = S::template Stops<kFold>(S::Load(x + p), S::Load(y + p)) & S::kAll;
        if (stops != 0) goto found;
        p += kLane;
      } while (p != end);
      continue;
    }
    if (p >= kLane - count) {
      // The block that ends at the nearer page end: the bytes before p in
      // it are known to go on, so its first lanes never stop.
      const std::size_t back = kLane - count;
      stops = S::template Stops<kFold>(S::Load(x + p - back), S::Load(y + p - back)) & S::kAll;
      if (stops != 0) {
        p -= back;
        break;
      }
    } else if constexpr (S::kMaskedLoads) {
      const Mask lanes = FirstLanes<Mask>(count);
      stops =
          S::template Stops<kFold>(S::LoadLanes(x + p, lanes), S::LoadLanes(y + p, lanes)) & lanes;
      if (stops != 0) break;
    } else {
      const unsigned char fold = kFold ? 32 : 0;
      for (const std::size_t end = p + count; p != end; ++p) {
        if (x[p] == 0 || (x[p] | fold) != (y[p] | fold) || y[p] == 0) return Packed(x[p] - y[p], p);
      }
      continue;
    }
    p += count;
  }
found:
  p += LowestLane(stops);
  return Packed(x[p] - y[p], p);
}

// The walk after the first block (from 0 when that was not read), out of
// line: only texts longer than a block get there. Past kLongWalk bytes it
// goes on with the blocks of S::LongWalk (AVX-512: AVX2's 32 bytes, which
// measured faster than 64-byte blocks on texts beyond the caches: 16 MiB,
// docs/kernels.md).
constexpr std::size_t kLongWalk = 64 << 10;

template <typename S, bool kFold>
TW_WALK_ENTRY __attribute__((noinline)) CompareWord CompareOn(const char* a, const char* b,
                                                              std::size_t from) {
  using Long = typename S::LongWalk;
  if constexpr (std::is_same_v<Long, S>) {
    return AsCompareWord(CompareWalk<S, kFold>(a, b, from, kNoLimit));
  } else {
    const std::uint64_t result = CompareWalk<S, kFold>(a, b, from, kLongWalk);
    if (result != kWalkOn) return AsCompareWord(result);
    return AsCompareWord(CompareWalk<Long, kFold>(a, b, from, kNoLimit));
  }
}

// The first block of both texts, when it lies within both pages, without
// anything else: short texts end there.
template <typename S>
TW_WALK CompareWord CompareWith(const char* a, const char* b, std::int32_t mode) {
  std::size_t from = 0;
  if (BlockFitsInPage(a, S::kWidth) && BlockFitsInPage(b, S::kWidth)) {
    const typename S::Vector x = S::Load(a);
    const typename S::Vector y = S::Load(b);
    const typename S::Mask stops =
        (mode != 0 ? S::template Stops<true>(x, y) : S::template Stops<false>(x, y)) & S::kAll;
    if (stops != 0) {
      const unsigned p = LowestLane(stops);
      return AsCompareWord(
          Packed(static_cast<unsigned char>(a[p]) - static_cast<unsigned char>(b[p]), p));
    }
    // On from x's next block boundary, so that x's blocks never straddle two
    // cache lines (the bytes compared again go on).
    from = S::kWidth - (reinterpret_cast<std::uintptr_t>(a) & (S::kWidth - 1));
  }
  return mode != 0 ? CompareOn<S, true>(a, b, from) : CompareOn<S, false>(a, b, from);
}

}  // namespace
}  // namespace tw::search_kernels

// The entries of one set's kernels (declared in support/search_kernels.h),
// defined by that set's source with its entry attribute.
#define TW_SEARCH_ENTRIES(Set, Entry)                                                        \
  namespace tw::search_kernels {                                                             \
  Entry __attribute__((noinline))                                                            \
  std::ptrdiff_t FindForward##Set(Bytes hay, std::size_t from, std::size_t end,              \
                                  const ByteNeedle& needle) {                                \
    return FindForwardWith<vector_sets::Set>(hay, from, end, needle);                        \
  }                                                                                          \
  Entry __attribute__((noinline))                                                            \
  std::ptrdiff_t FindBackward##Set(Bytes hay, std::ptrdiff_t last, std::size_t length,       \
                                   const ByteNeedle& needle) {                               \
    return FindBackwardWith<vector_sets::Set>(hay, last, length, needle);                    \
  }                                                                                          \
  Entry __attribute__((noinline))                                                            \
  std::int32_t FindPlain##Set(std::int32_t start, std::uintptr_t hay, std::uintptr_t needle, \
                              std::uint32_t mode) {                                          \
    return FindPlainWith<vector_sets::Set>(start, hay, needle, mode);                        \
  }                                                                                          \
  Entry __attribute__((noinline))                                                            \
  std::int32_t FindPlainBackward##Set(std::int32_t start, std::uintptr_t hay,                \
                                      std::uintptr_t needle, std::uint32_t mode) {           \
    return FindPlainBackwardWith<vector_sets::Set>(start, hay, needle, mode);                \
  }                                                                                          \
  Entry __attribute__((noinline))                                                            \
  CompareWord TextCompare##Set(const char* a, const char* b, std::int32_t mode) {            \
    return CompareWith<vector_sets::Set>(a, b, mode);                                        \
  }                                                                                          \
  }
