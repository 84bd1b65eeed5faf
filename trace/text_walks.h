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

// The lowest zero byte in the four aligned blocks at block, one of which
// holds one: their masks joined into 64-bit words where two or four fit.
template <typename S>
TW_WALK std::uint32_t ZeroInFour(const char* block) {
  constexpr std::size_t kWidth = S::kWidth;
  if constexpr (kWidth == 16) {
    const std::uint64_t mask = std::uint64_t{S::Zeros(S::LoadAligned(block))} |
                               std::uint64_t{S::Zeros(S::LoadAligned(block + 16))} << 16 |
                               std::uint64_t{S::Zeros(S::LoadAligned(block + 32))} << 32 |
                               std::uint64_t{S::Zeros(S::LoadAligned(block + 48))} << 48;
    return vector_sets::LowestLane(mask);
  } else if constexpr (kWidth == 32) {
    const std::uint64_t low = std::uint64_t{S::Zeros(S::LoadAligned(block))} |
                              std::uint64_t{S::Zeros(S::LoadAligned(block + 32))} << 32;
    if (low != 0) return vector_sets::LowestLane(low);
    const std::uint64_t high = std::uint64_t{S::Zeros(S::LoadAligned(block + 64))} |
                               std::uint64_t{S::Zeros(S::LoadAligned(block + 96))} << 32;
    return 64 + vector_sets::LowestLane(high);
  } else {
    for (std::uint32_t at = 0;; at += kWidth) {
      const typename S::Mask mask = S::Zeros(S::LoadAligned(block + at));
      if (mask != 0) return at + vector_sets::LowestLane(mask);
    }
  }
}

// Number of bytes before the first zero. Never touches a page the text does
// not reach: the first block read where the text starts when it lies within
// the text's page (else the aligned block that holds the start, shifted past
// the bytes before the text), then aligned blocks one at a time up to a
// boundary of four blocks, then four at a time (four aligned blocks of one
// line share a page; a zero in any of them shows in their byte-wise
// minimum), and the zero found within the four that hold it.
template <typename S>
TW_WALK std::uint32_t LengthWith(const char* text) {
  constexpr std::size_t kWidth = S::kWidth;
  const std::uintptr_t address = reinterpret_cast<std::uintptr_t>(text);
  const char* block = reinterpret_cast<const char*>(address & ~std::uintptr_t{kWidth - 1});
  typename S::Mask mask;
  if (vector_sets::BlockFitsInPage(text, kWidth)) {
    mask = S::Zeros(S::Load(text));
  } else {
    mask = S::Zeros(S::LoadAligned(block)) >> (address & (kWidth - 1));
  }
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
  return static_cast<std::uint32_t>(block - text) + ZeroInFour<S>(block);
}

}  // namespace
}  // namespace tw
