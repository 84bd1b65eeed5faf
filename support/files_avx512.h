// AVX-512 kernel of the file comparison's chunk compare (x86-64 only);
// support/files.cpp chooses between it and the AVX2 and SSE2 forms.
#pragma once

#include <cstdint>

namespace tw {

#if defined(__x86_64__)
// Offset of the first byte in [0, count) where the halves differ (with bit 5
// set on both sides in case-folding mode), or count when they agree there.
// count is at most 4,096; reads whole 256-byte groups up to the 4,096th byte.
std::uint32_t FirstDifferenceAvx512(const unsigned char* a, const unsigned char* b,
                                    std::uint32_t count, bool foldCase);
#endif

}  // namespace tw
