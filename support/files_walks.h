// The file comparison's chunk compare, written once over a vector set
// (trace/vector_sets.h) and instantiated per set by support/files.cpp (SSE2),
// files_avx2.cpp and files_avx512.cpp. Each including source defines TW_WALK,
// its set's kernel attribute, first; everything here has internal linkage.
#pragma once

#include <cstdint>

#include "trace/vector_sets.h"

#ifndef TW_WALK
#error "define TW_WALK (the kernel attribute of the including source's set) first"
#endif

namespace tw {
namespace {

// Offset of the first byte in [0, count) where the halves differ (with bit 5
// set on both sides in case-folding mode), or count when they agree there.
// Four blocks per step, tested at once on the OR of their differences; reads
// whole steps up to the 4,096th byte (count is at most 4,096, and the halves
// have room for them).
template <typename S>
TW_WALK std::uint32_t FirstDifferenceWith(const unsigned char* a, const unsigned char* b,
                                          std::uint32_t count, bool foldCase) {
  using Vector = typename S::Vector;
  constexpr std::uint32_t kLane = S::kWidth;
  // The bits a difference counts in: all but bit 5 when folding.
  const Vector keep = S::Broadcast(foldCase ? 0xDF : 0xFF);
  for (std::uint32_t offset = 0; offset < count; offset += 4 * kLane) {
    const Vector differ0 = S::Xor(S::Load(a + offset), S::Load(b + offset));
    const Vector differ1 = S::Xor(S::Load(a + offset + kLane), S::Load(b + offset + kLane));
    const Vector differ2 = S::Xor(S::Load(a + offset + 2 * kLane), S::Load(b + offset + 2 * kLane));
    const Vector differ3 = S::Xor(S::Load(a + offset + 3 * kLane), S::Load(b + offset + 3 * kLane));
    if (S::Differ(S::Or(S::Or(differ0, differ1), S::Or(differ2, differ3)), keep) == 0) continue;
    std::uint32_t at = offset;
    typename S::Mask lanes = S::Differ(differ0, keep);
    if (lanes == 0) at += kLane, lanes = S::Differ(differ1, keep);
    if (lanes == 0) at += kLane, lanes = S::Differ(differ2, keep);
    if (lanes == 0) at += kLane, lanes = S::Differ(differ3, keep);
    at += vector_sets::LowestLane(lanes);
    return at < count ? at : count;
  }
  return count;
}

}  // namespace
}  // namespace tw
