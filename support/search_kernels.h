// What the search kernels share: the prepared needle, the verdict of a
// candidate's check and the page test; the AVX2 kernels of search and text
// comparison and the AVX-512 kernel of forward search (x86-64 only).
// support/search.cpp holds the SSE2 kernels and chooses between them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "support/search.h"

namespace tw::search_kernels {

using Bytes = const unsigned char*;

constexpr std::size_t kPageSize = 4096;  // the smallest x86 page
constexpr std::ptrdiff_t kNotFound = -1;
constexpr std::ptrdiff_t kNotPlain = -2;  // FindPlainAvx512: take the general way

// True when bytes bytes from p stay within p's page.
inline bool BlockFitsInPage(const void* p, std::size_t bytes) {
  return (reinterpret_cast<std::uintptr_t>(p) & (kPageSize - 1)) <= kPageSize - bytes;
}

struct ByteNeedle {
  Bytes text;
  std::size_t length;       // two or more
  unsigned char firstFold;  // fold bit for the first byte
  unsigned char restFold;   // fold bit for every later byte
  bool wholeWord;
};

enum class Verdict { Match, Mismatch, HaystackEnds };

// Compares the needle from its second byte on with the haystack at q + 1
// (end: the haystack's limit), and checks the word boundaries when asked to.
Verdict VerifyAt(Bytes hay, std::size_t q, std::size_t end, const ByteNeedle& needle);

#if defined(__x86_64__)
// Forward search of a needle of two or more bytes from index from (within the
// haystack or on its end): index of the first match or kNotFound.
std::ptrdiff_t FindForwardAvx2(Bytes hay, std::size_t from, std::size_t end,
                               const ByteNeedle& needle);

// Backward search of a needle of two or more bytes over the haystack's first
// length bytes (all before its zero): index of the last match that starts at
// or before last, or kNotFound.
std::ptrdiff_t FindBackwardAvx2(Bytes hay, std::ptrdiff_t last, std::size_t length,
                                const ByteNeedle& needle);

// FindForwardAvx2 with 64 positions per block.
std::ptrdiff_t FindForwardAvx512(Bytes hay, std::size_t from, std::size_t end,
                                 const ByteNeedle& needle);

// A search from the start of a NUL-terminated haystack for a NUL-terminated
// needle (mode: kFindIgnoreCase, kFindFirstIgnoreCase and kFindWholeWord
// only): index of the first match or kNotFound; kNotPlain when the needle is
// shorter than two bytes or not short enough for this way in.
std::ptrdiff_t FindPlainAvx512(Bytes hay, Bytes needleText, std::uint32_t mode);

// TextCompare's walk with 32-byte blocks.
CompareResult TextCompareAvx2(const char* a, const char* b, std::int32_t mode);
#endif

}  // namespace tw::search_kernels
