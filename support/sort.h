// Sorting and searching whole arrays: the case-insensitive sort of a string
// array, the comb sort of an array of 32-bit integers or floats (with a
// companion array permuted alongside), the minimum and maximum of such an
// array, and the search of a memory block for a byte, 16-bit or 32-bit value.
// See docs/arrays.md.
#pragma once

#include <cstdint>

namespace tw {

// Sorts the first count elements (0: all of them) of string array number
// array by their texts compared case-insensitively (bytes A to Z read as a to
// z, then compared as unsigned values; a text ends at its first zero byte),
// ascending, or descending when array is negative. An element without text
// compares as the empty text. The order of elements that compare equal is not
// defined. An array number outside -19 to 19, an array that is not a string
// array and a negative count do nothing; a count beyond the array's is cut to
// it. On Windows the runtime library's qsort and _stricmp do the work.
void StringArraySort(std::int32_t array, std::int32_t count);

// The comparison StringArraySort sorts by: below 0, 0 or above 0 as a sorts
// before, with or after b (the order of _stricmp in the "C" locale).
int CompareFolded(const char* a, const char* b);

// Options word of NumberArraySort: kSortFloats reads the values as
// single-precision floats; kSortFillCompanion writes 0, 1, ..., n-1 into the
// companion before sorting, so that afterwards it lists each value's former
// position. The companion's address (a multiple of 4) is added to the flags:
// SortCompanion(companion, flags).
constexpr std::uintptr_t kSortIntegers = 0;
constexpr std::uintptr_t kSortFloats = 1;
constexpr std::uintptr_t kSortFillCompanion = 2;
inline std::uintptr_t SortCompanion(std::int32_t* companion, std::uintptr_t flags) {
  return reinterpret_cast<std::uintptr_t>(companion) | flags;
}

// Sorts count 32-bit values at values (negative count: descending) with a
// comb sort (gap shrinking by 25/32). Integers are compared as signed values;
// floats in float order (negative values below positive ones, -0.0 just below
// +0.0). Whenever two values change places, the companion values at the same
// positions do too. A count of -2147483648 sorts nothing.
void NumberArraySort(void* values, std::int32_t count, std::uintptr_t options);

// Minimum and maximum as 32-bit patterns.
struct MinMax {
  std::int32_t minimum;
  std::int32_t maximum;
};

// The minimum and maximum of count 32-bit values as signed integers, or with
// options bit 0 (kSortFloats) as floats (bit patterns returned). No values
// (count 0 or less) give minimum 2147483647 and maximum -2147483648.
MinMax NumberArrayMinMax(const void* values, std::int32_t count, std::uint32_t options);

// Element widths of ArrayScan, by the selector's low byte: negative bytes,
// 0 16-bit units, positive 32-bit units.
constexpr std::int32_t kScanBytes = -1;
constexpr std::int32_t kScanWords = 0;
constexpr std::int32_t kScanDoubleWords = 1;

// The 0-based byte offset of the first element of block (length bytes) equal
// to value, or -1. Elements lie at offsets that are multiples of their width
// from the block's start, and the element at offset k is compared with part
// k mod 4 of value repeated: a byte search expects its byte in all four bytes
// of value, a 16-bit search its unit in both halves. An element that does not
// end within the block is no match; nothing after the block is read.
std::int32_t ArrayScan(const void* block, std::int32_t length, std::uint32_t value,
                       std::int32_t selector);

}  // namespace tw
