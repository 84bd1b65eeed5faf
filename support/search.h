// Text search and text comparison: TextFind (forward, backward, case-folding,
// whole-word, counting and UTF-16 searches, resumable after the last match)
// and TextCompare (exact or case-insensitive, 16 bytes per step).
#pragma once

#include <cstdint>

#include "strings.h"

namespace tw {

// Mode bits of TextFind.
constexpr std::uint32_t kFindIgnoreCase = 1;       // every byte compared with bit 5 set
constexpr std::uint32_t kFindFirstIgnoreCase = 2;  // only the first byte so (ignored with 1)
constexpr std::uint32_t kFindWholeWord = 4;        // neighbours must be bytes of 64 or less
constexpr std::uint32_t kFindCount = 32;           // count all matches (overlapping)
constexpr std::uint32_t kFindBackward = 64;        // search towards the start
constexpr std::uint32_t kFindUtf16 = 128;          // texts of 16-bit units

struct FindResult {
  const void* address;    // the match, or null
  std::int32_t position;  // 1-based position (units for UTF-16), the count in count
                          // mode, 0 when nothing was found
};

// Finds needle in haystack (both string arguments: an address above 127, 127
// for the newest temporary result, or a smaller table entry). start >= 1 starts
// at that position; 0 resumes after (forward) or before (backward) the last
// match; below 0 starts at the first character (forward) or the end (backward).
FindResult TextFind(std::int32_t start, std::uintptr_t haystack, std::uintptr_t needle,
                    std::uint32_t mode);
inline FindResult TextFind(std::int32_t start, const char* haystack, const char* needle,
                           std::uint32_t mode) {
  return TextFind(start, reinterpret_cast<std::uintptr_t>(haystack),
                  reinterpret_cast<std::uintptr_t>(needle), mode);
}
inline FindResult TextFind(std::int32_t start, const char16_t* haystack, const char16_t* needle,
                           std::uint32_t mode) {
  return TextFind(start, reinterpret_cast<std::uintptr_t>(haystack),
                  reinterpret_cast<std::uintptr_t>(needle), mode | kFindUtf16);
}

// The same search over texts given as (address, length) views: each ends at
// its length or at its first zero unit, whichever comes first.
FindResult TextFindView(std::int32_t start, TextView haystack, TextView needle, std::uint32_t mode);

// The position (or count) of the latest TextFind, 0 after a failed search.
std::int32_t LastFindPosition();

struct CompareResult {
  std::int32_t difference;  // a[p] - b[p] as stored (0 to 255 each), 0 when equal
  std::int32_t position;    // p, 0-based; the length when the texts are equal
};

// Compares two NUL-terminated texts up to the first difference or the end of
// either text; mode 0 exact, any other value ignores case (bit 5 set on every
// byte).
CompareResult TextCompare(const char* a, const char* b, std::int32_t mode);

}  // namespace tw
