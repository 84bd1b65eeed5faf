// What the search kernels share: the needle, the verdict of a candidate's
// check and the page test; the kernels of search and text comparison of each
// vector set (AVX2 and AVX-512 on x86-64 only). support/search.cpp holds the
// SSE2 kernels and chooses between the sets.
#pragma once

#include <cstddef>
#include <cstdint>

#include "support/search.h"
#include "trace/vector_sets.h"

namespace tw::search_kernels {

using Bytes = const unsigned char*;

using vector_sets::BlockFitsInPage;
using vector_sets::kPageSize;
constexpr std::ptrdiff_t kNotFound = -1;

// Position (or count) of the latest search, 0 after a failed one.
extern std::int32_t g_lastMatch;

// TextFind's general way: every argument form, start and mode. The short
// ways in go on there with the arguments they were given when they cannot
// take a search themselves.
FindResult FindGeneral(std::int32_t start, std::uintptr_t haystack, std::uintptr_t needle,
                       std::uint32_t mode);
// FindGeneral's position.
std::int32_t GeneralPosition(std::int32_t start, std::uintptr_t haystack, std::uintptr_t needle,
                             std::uint32_t mode);
CompareResult ChooseKernelsAndCompare(const char* a, const char* b, std::int32_t mode);
FindResult ChooseKernelsAndFind(std::int32_t start, std::uintptr_t haystack, std::uintptr_t needle,
                                std::uint32_t mode);

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

// The kernels of each set (support/search_walks.h instantiated in
// search.cpp, search_avx2.cpp and search_avx512.cpp):
//
// FindForward: forward search of a needle of two or more bytes from index
// from (within the haystack or on its end): index of the first match or
// kNotFound.
// FindBackward: backward search of a needle of two or more bytes over the
// haystack's first length bytes (all before its zero): index of the last
// match that starts at or before last, or kNotFound.
// FindPlain and FindPlainBackward: the short ways in, TextFind's search from
// the start (start 1 or below 0; backward: below 0) of a plain haystack for a
// plain needle (mode: kFindIgnoreCase, kFindFirstIgnoreCase and
// kFindWholeWord, and kFindBackward for the backward one): the 1-based
// position of the match, 0 for none; FindGeneral's when the needle is shorter
// than two bytes or does not end within one block.
// TextCompare: the comparison's walk, its result as a CompareWord.
//
// A comparison's result as a kernel returns it: the difference in the low
// half of a word, the position in the high half. On x86-64 the word is the
// routine's CompareResult itself, returned in one register, so that the
// routine jumps to its kernel instead of calling it and repacking the result
// (16-byte texts: about a fifth of the time); on 32-bit x86, where System V
// returns a structure through memory, it is a 64-bit integer (edx:eax).
#if defined(__x86_64__)
using CompareWord = CompareResult;
#else
using CompareWord = std::uint64_t;
#endif

#define TW_SEARCH_KERNELS(Set)                                                               \
  std::ptrdiff_t FindForward##Set(Bytes hay, std::size_t from, std::size_t end,              \
                                  const ByteNeedle& needle);                                 \
  std::ptrdiff_t FindBackward##Set(Bytes hay, std::ptrdiff_t last, std::size_t length,       \
                                   const ByteNeedle& needle);                                \
  std::int32_t FindPlain##Set(std::int32_t start, std::uintptr_t hay, std::uintptr_t needle, \
                              std::uint32_t mode);                                           \
  std::int32_t FindPlainBackward##Set(std::int32_t start, std::uintptr_t hay,                \
                                      std::uintptr_t needle, std::uint32_t mode);            \
  CompareWord TextCompare##Set(const char* a, const char* b, std::int32_t mode);

TW_SEARCH_KERNELS(Sse2)
#if defined(__x86_64__)
TW_SEARCH_KERNELS(Avx2)
TW_SEARCH_KERNELS(Avx512)
#endif

}  // namespace tw::search_kernels
