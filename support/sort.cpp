// Sorting and searching arrays: the comb sort of 32-bit numbers (vector passes
// for the wide gaps), their minimum and maximum, the block scan with 16-byte
// compares, and the case-insensitive sort of string arrays.
#include "support/sort.h"

#include <emmintrin.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "support/arrays.h"
#include "support/heap.h"

namespace tw {

namespace {

// ---- Comb sort ----

struct SortRun {
  std::int32_t* values;
  std::int32_t* companion;  // null when no companion goes along
  std::int32_t n;
  bool descending;
};

void Exchange(std::int32_t* at, std::int32_t a, std::int32_t b) {
  const std::int32_t kept = at[a];
  at[a] = at[b];
  at[b] = kept;
}

// One element pair of a pass: exchanges values (and companions) at i and
// i + gap when they are out of order; true when it did.
inline bool CompareExchange(const SortRun& run, std::int32_t i, std::int32_t gap) {
  const std::int32_t low = run.values[i];
  const std::int32_t high = run.values[i + gap];
  const bool outOfOrder = run.descending ? high > low : high < low;
  if (!outOfOrder) return false;
  run.values[i] = high;
  run.values[i + gap] = low;
  if (run.companion != nullptr) Exchange(run.companion, i, i + gap);
  return true;
}

inline __m128i Select(__m128i mask, __m128i whenSet, __m128i whenClear) {
  return _mm_or_si128(_mm_and_si128(mask, whenSet), _mm_andnot_si128(mask, whenClear));
}

// One pass with a gap of at least 4: four neighbouring pairs at a time. Their
// positions do not overlap, and each group runs after every group whose pairs
// it reads, so the exchanges are exactly those of the pass done one pair at a
// time.
bool WidePass(const SortRun& run, std::int32_t gap) {
  std::int32_t i = 0;
  int exchanged = 0;
  for (; i + 3 + gap <= run.n - 1; i += 4) {
    __m128i* lowAt = reinterpret_cast<__m128i*>(run.values + i);
    __m128i* highAt = reinterpret_cast<__m128i*>(run.values + i + gap);
    const __m128i low = _mm_loadu_si128(lowAt);
    const __m128i high = _mm_loadu_si128(highAt);
    const __m128i swap = run.descending ? _mm_cmpgt_epi32(high, low) : _mm_cmplt_epi32(high, low);
    const int any = _mm_movemask_epi8(swap);
    if (any == 0) continue;
    exchanged |= any;
    _mm_storeu_si128(lowAt, Select(swap, high, low));
    _mm_storeu_si128(highAt, Select(swap, low, high));
    if (run.companion != nullptr) {
      __m128i* lowCompanion = reinterpret_cast<__m128i*>(run.companion + i);
      __m128i* highCompanion = reinterpret_cast<__m128i*>(run.companion + i + gap);
      const __m128i a = _mm_loadu_si128(lowCompanion);
      const __m128i b = _mm_loadu_si128(highCompanion);
      _mm_storeu_si128(lowCompanion, Select(swap, b, a));
      _mm_storeu_si128(highCompanion, Select(swap, a, b));
    }
  }
  bool any = exchanged != 0;
  for (; i + gap <= run.n - 1; ++i) any |= CompareExchange(run, i, gap);
  return any;
}

bool NarrowPass(const SortRun& run, std::int32_t gap) {
  bool any = false;
  for (std::int32_t i = 0; i + gap <= run.n - 1; ++i) any |= CompareExchange(run, i, gap);
  return any;
}

void Reverse(const SortRun& run, std::int32_t first, std::int32_t last) {
  for (; first < last; ++first, --last) {
    Exchange(run.values, first, last);
    if (run.companion != nullptr) Exchange(run.companion, first, last);
  }
}

// Signed order puts negative floats in reverse order: turn their run around.
void ReverseNegativeRun(const SortRun& run) {
  if (!run.descending) {
    std::int32_t end = 0;
    while (end < run.n && run.values[end] < 0) ++end;
    Reverse(run, 0, end - 1);
  } else {
    std::int32_t start = run.n;
    while (start > 0 && run.values[start - 1] < 0) --start;
    Reverse(run, start, run.n - 1);
  }
}

// Float order as a signed key: non-negative patterns as they are, negative
// ones turned around (larger pattern, smaller float).
inline std::int32_t FloatKey(std::int32_t bits) {
  return bits >= 0 ? bits : (bits ^ 0x7FFFFFFF);
}

// ---- Block scan ----

// The value as it stands at byte offset k of the repeated pattern.
std::uint32_t PatternAt(std::uint32_t value, std::int32_t offset) {
  const int shift = (offset & 3) * 8;
  return shift == 0 ? value : (value >> shift) | (value << (32 - shift));
}

std::int32_t WidthOf(std::int32_t selector) {
  const auto low = static_cast<std::int8_t>(selector & 0xFF);
  return low < 0 ? 1 : (low == 0 ? 2 : 4);
}

// The elements of the last, partial 16-byte group, one at a time.
std::int32_t ScanTail(const unsigned char* block, std::int32_t from, std::int32_t length,
                      std::uint32_t value, std::int32_t width) {
  for (std::int32_t at = from; at + width <= length; at += width) {
    std::uint32_t element = 0;
    std::memcpy(&element, block + at, static_cast<std::size_t>(width));
    const std::uint32_t mask = width == 4 ? 0xFFFFFFFFu : (1u << (8 * width)) - 1;
    if (element == (PatternAt(value, at) & mask)) return at;
  }
  return -1;
}

// ---- String sort ----

inline unsigned Fold(unsigned char byte) {
  return byte >= 'A' && byte <= 'Z' ? byte + 32u : byte;
}

const char* ElementText(const ArrayElementEntry& element) {
  return element.address != 0 ? reinterpret_cast<const char*>(element.address) : "";
}

#ifdef _WIN32
// The system's runtime library sorts and compares, as programs on Windows
// expect.
int AscendingByText(const void* a, const void* b) {
  return _stricmp(ElementText(*static_cast<const ArrayElementEntry*>(a)),
                  ElementText(*static_cast<const ArrayElementEntry*>(b)));
}
int DescendingByText(const void* a, const void* b) {
  return -AscendingByText(a, b);
}

void SortElements(ArrayElementEntry* elements, std::int32_t count, bool descending) {
  std::qsort(elements, static_cast<std::size_t>(count), sizeof *elements,
             descending ? DescendingByText : AscendingByText);
}
#else
// Natively the same order, sorted by a key of each text's first eight folded
// bytes (most significant first) and compared further only on equal keys.
// The key carries the element itself, so that no copy of the elements is
// needed beside the keys.
struct SortKey {
  std::uint64_t prefix;
  ArrayElementEntry element;
};

std::uint64_t PrefixOf(const char* text) {
  std::uint64_t prefix = 0;
  for (int taken = 0; taken < 8; ++taken) {
    const unsigned byte = Fold(static_cast<unsigned char>(*text));
    prefix = (prefix << 8) | byte;
    if (byte != 0) ++text;  // after the end, zero bytes fill the key
  }
  return prefix;
}

// True when a's text sorts before b's.
inline bool KeyBefore(const SortKey& a, const SortKey& b) {
  if (a.prefix != b.prefix) return a.prefix < b.prefix;
  if ((a.prefix & 0xFF) == 0) return false;  // both texts ended within the key
  return CompareFolded(ElementText(a.element) + 8, ElementText(b.element) + 8) < 0;
}

void SortElements(ArrayElementEntry* elements, std::int32_t count, bool descending) {
  const auto n = static_cast<std::size_t>(count);
  auto* keys = static_cast<SortKey*>(HeapBlockAllocate(n * sizeof(SortKey), 0));
  for (std::size_t i = 0; i < n; ++i) keys[i] = {PrefixOf(ElementText(elements[i])), elements[i]};
  if (descending) {
    std::sort(keys, keys + n, [](const SortKey& a, const SortKey& b) { return KeyBefore(b, a); });
  } else {
    std::sort(keys, keys + n, KeyBefore);
  }
  for (std::size_t i = 0; i < n; ++i) elements[i] = keys[i].element;
  HeapBlockRelease(keys);
}
#endif

}  // namespace

int CompareFolded(const char* a, const char* b) {
  const auto* x = reinterpret_cast<const unsigned char*>(a);
  const auto* y = reinterpret_cast<const unsigned char*>(b);
  for (;; ++x, ++y) {
    const unsigned first = Fold(*x);
    const unsigned second = Fold(*y);
    if (first != second || first == 0) {
      return static_cast<int>(first) - static_cast<int>(second);
    }
  }
}

void StringArraySort(std::int32_t array, std::int32_t count) {
  const bool descending = array < 0;
  const std::int64_t number = descending ? -std::int64_t{array} : array;
  if (number >= kArrayCount) return;
  ArrayHeader* header = ArrayHeaderOf(static_cast<int>(number));
  if (header == nullptr || count < 0) return;
  if (count == 0 || count > header->count) count = header->count;
  if (count < 2) return;
  SortElements(ArrayElements(header), count, descending);
}

void NumberArraySort(void* values, std::int32_t count, std::uintptr_t options) {
  if (values == nullptr || count == INT32_MIN) return;
  SortRun run;
  run.values = static_cast<std::int32_t*>(values);
  run.descending = count < 0;
  run.n = count < 0 ? -count : count;
  run.companion = reinterpret_cast<std::int32_t*>(options & ~std::uintptr_t{3});
  if ((options & kSortFillCompanion) != 0 && run.companion != nullptr) {
    for (std::int32_t i = 0; i < run.n; ++i) run.companion[i] = i;
  }
  std::int32_t gap = run.n;
  for (;;) {
    gap = static_cast<std::int32_t>((static_cast<std::int64_t>(gap) * 25) >> 5);
    if (gap == 0) gap = 1;
    const bool exchanged = gap >= 4 ? WidePass(run, gap) : NarrowPass(run, gap);
    if (!exchanged && gap <= 1) break;
  }
  if ((options & kSortFloats) != 0) ReverseNegativeRun(run);
}

MinMax NumberArrayMinMax(const void* values, std::int32_t count, std::uint32_t options) {
  MinMax result = {INT32_MAX, INT32_MIN};
  if (values == nullptr || count <= 0) return result;
  const auto* at = static_cast<const std::int32_t*>(values);
  if ((options & kSortFloats) == 0) {
    for (std::int32_t i = 0; i < count; ++i) {
      if (at[i] > result.maximum) result.maximum = at[i];
      if (at[i] < result.minimum) result.minimum = at[i];
    }
    return result;
  }
  // Float order: compare keys, return the patterns.
  std::int32_t lowKey = INT32_MAX;
  std::int32_t highKey = INT32_MIN;
  result.minimum = at[0];
  result.maximum = at[0];
  for (std::int32_t i = 0; i < count; ++i) {
    const std::int32_t key = FloatKey(at[i]);
    if (key < lowKey) {
      lowKey = key;
      result.minimum = at[i];
    }
    if (key > highKey) {
      highKey = key;
      result.maximum = at[i];
    }
  }
  return result;
}

std::int32_t ArrayScan(const void* block, std::int32_t length, std::uint32_t value,
                       std::int32_t selector) {
  if (block == nullptr || length <= 0) return -1;
  const auto* bytes = static_cast<const unsigned char*>(block);
  const std::int32_t width = WidthOf(selector);
  const __m128i pattern = _mm_set1_epi32(static_cast<int>(value));
  std::int32_t at = 0;
  for (; at + 16 <= length; at += 16) {
    const __m128i group = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + at));
    __m128i equal;
    if (width == 1) {
      equal = _mm_cmpeq_epi8(group, pattern);
    } else if (width == 2) {
      equal = _mm_cmpeq_epi16(group, pattern);
    } else {
      equal = _mm_cmpeq_epi32(group, pattern);
    }
    const int mask = _mm_movemask_epi8(equal);
    if (mask != 0) return at + __builtin_ctz(static_cast<unsigned>(mask));
  }
  return ScanTail(bytes, at, length, value, width);
}

}  // namespace tw
