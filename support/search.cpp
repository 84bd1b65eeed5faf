// Text search (TextFind) and text comparison (TextCompare).
//
// Case folding is the library's own: a byte is folded by setting bit 5, so
// letters compare without regard to case (and so do a few punctuation pairs,
// such as "@" and "`"). A terminating zero is never folded and never matches:
// no match runs past the end of the haystack and a comparison stops at the end
// of either text. Blocks of 16 bytes are read only where they cannot cross into
// the next page, so neither routine touches memory beyond the page that holds
// a text's terminating zero.
#include "support/search.h"

#include "compat/win32.h"
#include "support/search_kernels.h"
#include "support/strings.h"
#include "trace/kernels.h"
#include "trace/text.h"

#include <emmintrin.h>

#include <bit>
#include <cstddef>
#include <cstring>

// The SSE2 kernels: the walks of support/search_walks.h with 16-byte blocks.
#define TW_WALK TW_SSE2_KERNEL
#define TW_WALK_ENTRY TW_SSE2_ENTRY
#include "support/search_walks.h"

TW_SEARCH_ENTRIES(Sse2, TW_SSE2_ENTRY)

namespace tw {

namespace search_kernels {

// A resumed search scans up to the haystack's end, so no scan length needs
// keeping.
std::int32_t g_lastMatch = 0;

// Sixteen bytes at a time while they lie before the haystack's limit and within
// the pages of both texts, then byte by byte.
__attribute__((no_sanitize("address"))) Verdict VerifyAt(Bytes hay, std::size_t q, std::size_t end,
                                                         const ByteNeedle& needle) {
  std::size_t i = 1;
  const __m128i fold = _mm_set1_epi8(static_cast<char>(needle.restFold));
  while (i + 16 <= needle.length && q + i + 16 <= end && BlockFitsInPage(hay + q + i, 16) &&
         BlockFitsInPage(needle.text + i, 16)) {
    const __m128i h = _mm_loadu_si128(reinterpret_cast<const __m128i*>(hay + q + i));
    const __m128i n = _mm_loadu_si128(reinterpret_cast<const __m128i*>(needle.text + i));
    // Zero lanes where the folded bytes differ or the haystack ends.
    const __m128i live =
        _mm_min_epu8(_mm_cmpeq_epi8(_mm_or_si128(h, fold), _mm_or_si128(n, fold)), h);
    const unsigned stop =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(live, _mm_setzero_si128())));
    if (stop != 0) {
      return hay[q + i + static_cast<std::size_t>(__builtin_ctz(stop))] == 0 ? Verdict::HaystackEnds
                                                                             : Verdict::Mismatch;
    }
    i += 16;
  }
  for (; i < needle.length; ++i) {
    if (q + i >= end) return Verdict::HaystackEnds;
    const unsigned char h = hay[q + i];
    if (h == 0) return Verdict::HaystackEnds;
    if ((h | needle.restFold) != (needle.text[i] | needle.restFold)) return Verdict::Mismatch;
  }
  if (needle.wholeWord && needle.text[0] > 32) {
    const std::size_t after = q + needle.length;
    if (after < end && hay[after] > 64) return Verdict::Mismatch;
    if (q > 0 && hay[q - 1] > 64) return Verdict::Mismatch;
  }
  return Verdict::Match;
}

}  // namespace search_kernels

namespace {

using search_kernels::BlockFitsInPage;
using search_kernels::ByteNeedle;
using search_kernels::Bytes;
using search_kernels::kNotFound;
using search_kernels::Verdict;
using search_kernels::VerifyAt;

constexpr unsigned char kFoldBit = 32;
constexpr std::size_t kUtf16AreaUnits = 3200;
constexpr std::size_t kUnbounded = ~std::size_t{0};

using search_kernels::g_lastMatch;

// A text to search: it ends at its first zero unit, and also after limit units
// when it is a view with a length (a substring result, for example).
template <typename Unit>
struct Span {
  const Unit* text;
  std::size_t limit;
};

template <typename Unit>
Span<Unit> SpanOf(TextView view) {
  return {reinterpret_cast<const Unit*>(view.text),
          static_cast<std::size_t>(view.length) / sizeof(Unit)};
}

// A plain address is NUL-terminated and needs no length; table entries and
// temporary results come with theirs. When both are the newest result, the
// haystack is the result before it and the ring steps back one slot.
template <typename Unit>
void ResolveArguments(std::uintptr_t haystack, std::uintptr_t needle, Span<Unit>& hay,
                      Span<Unit>& pattern) {
  if (haystack == kNewestResult && needle == kNewestResult) {
    pattern = SpanOf<Unit>(ResolveString(kNewestResult));
    ResultSlot(kSlotBack);
    hay = SpanOf<Unit>(ResolveString(kNewestResult));
    return;
  }
  hay = haystack > kNewestResult ? Span<Unit>{reinterpret_cast<const Unit*>(haystack), kUnbounded}
                                 : SpanOf<Unit>(ResolveString(haystack));
  pattern = needle > kNewestResult ? Span<Unit>{reinterpret_cast<const Unit*>(needle), kUnbounded}
                                   : SpanOf<Unit>(ResolveString(needle));
}

// Units before the span's end.
template <typename Unit>
std::size_t LengthOf(Span<Unit> span) {
  if (span.limit == kUnbounded && sizeof(Unit) == 1) {
    return TextLengthSse2(reinterpret_cast<const char*>(span.text));
  }
  std::size_t length = 0;
  while (length < span.limit && span.text[length] != 0) ++length;
  return length;
}

// Fold bits: every byte for bit 0, the first byte only for bit 1.
ByteNeedle MakeByteNeedle(Bytes text, std::size_t length, std::uint32_t mode) {
  const bool foldAll = (mode & kFindIgnoreCase) != 0;
  const bool foldFirst = foldAll || (mode & kFindFirstIgnoreCase) != 0;
  return {text, length, static_cast<unsigned char>(foldFirst ? kFoldBit : 0),
          static_cast<unsigned char>(foldAll ? kFoldBit : 0), (mode & kFindWholeWord) != 0};
}

// The dispatch places of the searches.
std::ptrdiff_t FindForward(Bytes hay, std::size_t from, std::size_t end, const ByteNeedle& needle) {
#if defined(__x86_64__)
  const std::int32_t set = ActiveKernelNumber();
  if (set == static_cast<std::int32_t>(KernelSet::kAvx512)) {
    return search_kernels::FindForwardAvx512(hay, from, end, needle);
  }
  if (set == static_cast<std::int32_t>(KernelSet::kAvx2)) {
    return search_kernels::FindForwardAvx2(hay, from, end, needle);
  }
#endif
  return search_kernels::FindForwardSse2(hay, from, end, needle);
}

std::ptrdiff_t FindBackward(Bytes hay, std::ptrdiff_t last, std::size_t end,
                            const ByteNeedle& needle) {
#if defined(__x86_64__)
  const std::int32_t set = ActiveKernelNumber();
  if (set == static_cast<std::int32_t>(KernelSet::kAvx512)) {
    return search_kernels::FindBackwardAvx512(hay, last, end, needle);
  }
  if (set == static_cast<std::int32_t>(KernelSet::kAvx2)) {
    return search_kernels::FindBackwardAvx2(hay, last, end, needle);
  }
#endif
  return search_kernels::FindBackwardSse2(hay, last, end, needle);
}

// The one-byte searches: exact, without folding or word test.
std::ptrdiff_t FindByteForward(Bytes hay, std::size_t from, std::size_t end, unsigned char byte) {
  for (std::size_t p = from; p < end && hay[p] != 0; ++p) {
    if (hay[p] == byte) return static_cast<std::ptrdiff_t>(p);
  }
  return kNotFound;
}

std::ptrdiff_t FindByteBackward(Bytes hay, std::ptrdiff_t last, unsigned char byte) {
  for (std::ptrdiff_t p = last; p >= 0; --p) {
    if (hay[p] == byte) return p;
  }
  return kNotFound;
}

FindResult Found(const void* base, std::size_t unitSize, std::ptrdiff_t index) {
  g_lastMatch = static_cast<std::int32_t>(index + 1);
  return {static_cast<const char*>(base) + static_cast<std::size_t>(index) * unitSize, g_lastMatch};
}

FindResult NotFound() {
  g_lastMatch = 0;
  return {nullptr, 0};
}

// Runs one search after another, each from just after the previous match's
// first unit, and counts them (count mode) or returns the first.
template <typename Next>
FindResult Collect(const void* base, std::size_t unitSize, bool count, std::ptrdiff_t from,
                   Next next) {
  std::int32_t matches = 0;
  std::ptrdiff_t lastIndex = kNotFound;
  for (std::ptrdiff_t index; (index = next(from)) >= 0; from = index + 1) {
    if (!count) return Found(base, unitSize, index);
    ++matches;
    lastIndex = index;
  }
  if (!count || matches == 0) return NotFound();
  g_lastMatch = matches;
  return {static_cast<const char*>(base) + static_cast<std::size_t>(lastIndex) * unitSize, matches};
}

// True when the text has at least count units before its end (a zero unit or
// its limit). Only those count units are read: a search resumed near the start
// of a long view does not measure the whole view again on every call.
template <typename Unit>
bool ReachesAtLeast(Span<Unit> span, std::size_t count) {
  if (count > span.limit) return false;
  if (sizeof(Unit) == 1) return std::memchr(span.text, 0, count) == nullptr;
  for (std::size_t i = 0; i < count; ++i) {
    if (span.text[i] == 0) return false;
  }
  return true;
}

// Index where a forward search begins, or -1 when start lies beyond the end
// (the text's length is taken only when the search does not begin at its start).
template <typename Unit>
std::ptrdiff_t ForwardFrom(std::int32_t start, Span<Unit> hay) {
  const std::int64_t from = start > 0 ? start - 1 : start == 0 ? g_lastMatch : 0;
  if (from <= 0) return 0;
  if (!ReachesAtLeast(hay, static_cast<std::size_t>(from))) return -1;
  return static_cast<std::ptrdiff_t>(from);
}

// The 1-based position a backward search starts before; -1 beyond the end.
std::int64_t BackwardBefore(std::int32_t start, std::size_t length) {
  const std::int64_t end = static_cast<std::int64_t>(length) + 1;
  const std::int64_t before = start > 0 ? start : start == 0 ? g_lastMatch : end;
  return before > end ? -1 : before;
}

FindResult FindBackwardBytes(std::int32_t start, Span<unsigned char> hay, const ByteNeedle& needle,
                             bool count) {
  const std::size_t length = LengthOf(hay);
  const std::int64_t before = BackwardBefore(start, length);
  if (before < 0) return NotFound();
  if (needle.length == 1) {
    const std::ptrdiff_t index =
        FindByteBackward(hay.text, static_cast<std::ptrdiff_t>(before) - 2, needle.text[0]);
    return index < 0 ? NotFound() : Found(hay.text, 1, index);
  }
  std::ptrdiff_t last = static_cast<std::ptrdiff_t>(before) - 3;
  if (last > static_cast<std::ptrdiff_t>(length) - 2)
    last = static_cast<std::ptrdiff_t>(length) - 2;
  std::int32_t matches = 0;
  std::ptrdiff_t lastIndex = kNotFound;
  for (std::ptrdiff_t index; (index = FindBackward(hay.text, last, length, needle)) >= 0;
       last = index - 1) {
    if (!count) return Found(hay.text, 1, index);
    ++matches;
    lastIndex = index;
  }
  if (!count || matches == 0) return NotFound();
  g_lastMatch = matches;
  return {hay.text + lastIndex, matches};
}

FindResult FindBytes(std::int32_t start, Span<unsigned char> hay, Span<unsigned char> pattern,
                     std::uint32_t mode) {
  const std::size_t needleLength = LengthOf(pattern);
  if (needleLength == 0) return NotFound();
  const ByteNeedle needle = MakeByteNeedle(pattern.text, needleLength, mode);
  const bool count = (mode & kFindCount) != 0;
  if (mode & kFindBackward) return FindBackwardBytes(start, hay, needle, count);
  const std::ptrdiff_t from = ForwardFrom(start, hay);
  if (from < 0) return NotFound();
  if (needleLength == 1) {
    return Collect(hay.text, 1, count, from, [&](std::ptrdiff_t at) {
      return FindByteForward(hay.text, static_cast<std::size_t>(at), hay.limit, needle.text[0]);
    });
  }
  return Collect(hay.text, 1, count, from, [&](std::ptrdiff_t at) {
    return FindForward(hay.text, static_cast<std::size_t>(at), hay.limit, needle);
  });
}

// The needle in lower and upper case (or twice as it is), as the haystack's
// units are matched against either form.
struct Utf16Needle {
  WCHAR lower[kUtf16AreaUnits];
  WCHAR upper[kUtf16AreaUnits];
  std::size_t length;
};

Utf16Needle g_utf16Needle;

bool PrepareUtf16Needle(Span<char16_t> needle, bool fold) {
  const std::size_t length = LengthOf(needle);
  if (length == 0 || length >= kUtf16AreaUnits) return false;
  Utf16Needle& area = g_utf16Needle;
  area.length = length;
  for (std::size_t i = 0; i < length; ++i) {
    area.lower[i] = static_cast<WCHAR>(needle.text[i]);
    area.upper[i] = static_cast<WCHAR>(needle.text[i]);
  }
  area.lower[length] = 0;
  area.upper[length] = 0;
  if (fold) {
    WCHAR source[kUtf16AreaUnits];
    for (std::size_t i = 0; i <= length; ++i) source[i] = area.lower[i];
    const int units = static_cast<int>(length) + 1;
    if (LCMapStringW(LOCALE_USER_DEFAULT, LCMAP_LOWERCASE | LCMAP_LINGUISTIC_CASING, source, units,
                     area.lower, static_cast<int>(kUtf16AreaUnits)) != units ||
        LCMapStringW(LOCALE_USER_DEFAULT, LCMAP_UPPERCASE | LCMAP_LINGUISTIC_CASING, source, units,
                     area.upper, static_cast<int>(kUtf16AreaUnits)) != units) {
      return false;
    }
  }
  return true;
}

Verdict VerifyUtf16At(Span<char16_t> hay, std::size_t q) {
  const Utf16Needle& needle = g_utf16Needle;
  for (std::size_t i = 0; i < needle.length; ++i) {
    if (q + i >= hay.limit) return Verdict::HaystackEnds;
    const WCHAR h = static_cast<WCHAR>(hay.text[q + i]);
    if (h == 0) return Verdict::HaystackEnds;
    if (h != needle.lower[i] && h != needle.upper[i]) return Verdict::Mismatch;
  }
  return Verdict::Match;
}

std::ptrdiff_t FindUtf16Forward(Span<char16_t> hay, std::size_t from) {
  for (std::size_t q = from; q < hay.limit && hay.text[q] != 0; ++q) {
    const Verdict verdict = VerifyUtf16At(hay, q);
    if (verdict == Verdict::Match) return static_cast<std::ptrdiff_t>(q);
    if (verdict == Verdict::HaystackEnds) return kNotFound;
  }
  return kNotFound;
}

FindResult FindUtf16(std::int32_t start, Span<char16_t> hay, Span<char16_t> needle,
                     std::uint32_t mode) {
  const std::ptrdiff_t from = ForwardFrom(start, hay);
  if (from < 0 || !PrepareUtf16Needle(needle, (mode & kFindIgnoreCase) != 0)) return NotFound();
  return Collect(hay.text, 2, (mode & kFindCount) != 0, from, [&](std::ptrdiff_t at) {
    return FindUtf16Forward(hay, static_cast<std::size_t>(at));
  });
}

}  // namespace

// The short ways first: two plain texts, a search for the first match from
// the start, or for the last from the end, by the chosen set's kernel (which
// goes on to the general way when it cannot take the search).
FindResult TextFind(std::int32_t start, std::uintptr_t haystack, std::uintptr_t needle,
                    std::uint32_t mode) {
  constexpr std::uint32_t kPlainModes = kFindIgnoreCase | kFindFirstIgnoreCase | kFindWholeWord;
  if (haystack > kNewestResult && needle > kNewestResult && (start == 1 || start < 0)) {
    const std::int32_t set = g_kernelSet.load(std::memory_order_relaxed);
    if (set == 0) return search_kernels::ChooseKernelsAndFind(start, haystack, needle, mode);
    std::int32_t position;
    if ((mode & ~kPlainModes) == 0) {
      position =
#if defined(__x86_64__)
          set == static_cast<std::int32_t>(KernelSet::kAvx512)
              ? search_kernels::FindPlainAvx512(start, haystack, needle, mode)
          : set == static_cast<std::int32_t>(KernelSet::kAvx2)
              ? search_kernels::FindPlainAvx2(start, haystack, needle, mode)
              :
#endif
              search_kernels::FindPlainSse2(start, haystack, needle, mode);
    } else if ((mode & ~kPlainModes) == kFindBackward && start < 0) {
      position =
#if defined(__x86_64__)
          set == static_cast<std::int32_t>(KernelSet::kAvx512)
              ? search_kernels::FindPlainBackwardAvx512(start, haystack, needle, mode)
          : set == static_cast<std::int32_t>(KernelSet::kAvx2)
              ? search_kernels::FindPlainBackwardAvx2(start, haystack, needle, mode)
              :
#endif
              search_kernels::FindPlainBackwardSse2(start, haystack, needle, mode);
    } else {
      return search_kernels::FindGeneral(start, haystack, needle, mode);
    }
    g_lastMatch = position;
    return {position != 0 ? reinterpret_cast<Bytes>(haystack) + position - 1 : nullptr, position};
  }
  return search_kernels::FindGeneral(start, haystack, needle, mode);
}

namespace search_kernels {

__attribute__((noinline)) std::int32_t GeneralPosition(std::int32_t start, std::uintptr_t haystack,
                                                       std::uintptr_t needle, std::uint32_t mode) {
  return FindGeneral(start, haystack, needle, mode).position;
}

// The first comparison of a process that has not chosen its kernels yet.
__attribute__((noinline)) CompareResult ChooseKernelsAndCompare(const char* a, const char* b,
                                                                std::int32_t mode) {
  ChooseKernels();
  return TextCompare(a, b, mode);
}

// The first search of a process that has not chosen its kernels yet.
__attribute__((noinline)) FindResult ChooseKernelsAndFind(std::int32_t start,
                                                          std::uintptr_t haystack,
                                                          std::uintptr_t needle,
                                                          std::uint32_t mode) {
  ChooseKernels();
  return TextFind(start, haystack, needle, mode);
}

__attribute__((noinline)) FindResult FindGeneral(std::int32_t start, std::uintptr_t haystack,
                                                 std::uintptr_t needle, std::uint32_t mode) {
  if (mode & kFindUtf16) {
    Span<char16_t> hay, pattern;
    ResolveArguments(haystack, needle, hay, pattern);
    return FindUtf16(start, hay, pattern, mode);
  }
  Span<unsigned char> hay, pattern;
  ResolveArguments(haystack, needle, hay, pattern);
  return FindBytes(start, hay, pattern, mode);
}

}  // namespace search_kernels

FindResult TextFindView(std::int32_t start, TextView haystack, TextView needle,
                        std::uint32_t mode) {
  if (mode & kFindUtf16) {
    return FindUtf16(start, SpanOf<char16_t>(haystack), SpanOf<char16_t>(needle), mode);
  }
  return FindBytes(start, SpanOf<unsigned char>(haystack), SpanOf<unsigned char>(needle), mode);
}

std::int32_t LastFindPosition() {
  return g_lastMatch;
}

// The dispatch place of the comparison.
CompareResult TextCompare(const char* a, const char* b, std::int32_t mode) {
#if defined(__x86_64__)
  const std::int32_t set = g_kernelSet.load(std::memory_order_relaxed);
  if (set == static_cast<std::int32_t>(KernelSet::kAvx512)) {
    return search_kernels::TextCompareAvx512(a, b, mode);
  }
  if (set == static_cast<std::int32_t>(KernelSet::kAvx2)) {
    return search_kernels::TextCompareAvx2(a, b, mode);
  }
  if (set == 0) return search_kernels::ChooseKernelsAndCompare(a, b, mode);
#endif
  return std::bit_cast<CompareResult>(search_kernels::TextCompareSse2(a, b, mode));
}

}  // namespace tw
