// The text length's walk, written once over a vector set (trace/vector_sets.h)
// and instantiated per set: by trace/text.cpp (SSE2), trace/text_avx2.cpp
// (AVX2) and by the search kernels, which measure haystacks with their own
// set. Each including source defines TW_WALK, its set's kernel attribute,
// first; everything here has internal linkage, so the copies compiled for
// different sets never meet.
#pragma once

#include "trace/vector_sets.h"

#ifndef TW_WALK
#error "define TW_WALK (the kernel attribute of the including source's set) first"
#endif

namespace tw {
namespace {

// Number of bytes before the first zero. Reads only whole aligned blocks
// that hold bytes of the text, so it never touches a page the text does not
// reach: the first block shifted past the bytes before the text, then blocks
// one at a time up to a boundary of four blocks, then four at a time (four
// aligned blocks of one line share a page; a zero in any of them shows in
// their byte-wise minimum), and the block of the line that holds the zero.
template <typename S>
TW_WALK std::uint32_t LengthWith(const char* text) {
  constexpr std::size_t kWidth = S::kWidth;
  const std::uintptr_t address = reinterpret_cast<std::uintptr_t>(text);
  const char* block = reinterpret_cast<const char*>(address & ~std::uintptr_t{kWidth - 1});
  typename S::Mask mask = S::Zeros(S::LoadAligned(block)) >> (address & (kWidth - 1));
  if (mask != 0) return vector_sets::LowestLane(mask);
  for (;;) {
    block += kWidth;
    if ((reinterpret_cast<std::uintptr_t>(block) & (4 * kWidth - 1)) == 0) break;
    mask = S::Zeros(S::LoadAligned(block));
    if (mask != 0) {
      return static_cast<std::uint32_t>(block - text) + vector_sets::LowestLane(mask);
    }
  }
  for (;; block += 4 * kWidth) {
    const typename S::Vector lowest =
        S::Min(S::Min(S::LoadAligned(block), S::LoadAligned(block + kWidth)),
               S::Min(S::LoadAligned(block + 2 * kWidth), S::LoadAligned(block + 3 * kWidth)));
    if (!S::NoZero(lowest)) break;
  }
  for (;; block += kWidth) {
    mask = S::Zeros(S::LoadAligned(block));
    if (mask != 0) {
      return static_cast<std::uint32_t>(block - text) + vector_sets::LowestLane(mask);
    }
  }
}

}  // namespace
}  // namespace tw
