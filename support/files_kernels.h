// The vector kernels of the file comparison's chunk compare (x86-64 only):
// AVX2 and AVX-512 forms; support/files.cpp holds the SSE2 form and chooses
// between them.
#pragma once

#include <cstdint>

namespace tw {

#if defined(__x86_64__)
// Offset of the first byte in [0, count) where the halves differ (with bit 5
// set on both sides in case-folding mode), or count when they agree there.
// count is at most 4,096; each reads whole groups (128 bytes for AVX2, 256
// for AVX-512) up to the 4,096th byte.
std::uint32_t FirstDifferenceAvx2(const unsigned char* a, const unsigned char* b,
                                  std::uint32_t count, bool foldCase);
std::uint32_t FirstDifferenceAvx512(const unsigned char* a, const unsigned char* b,
                                    std::uint32_t count, bool foldCase);
#endif

}  // namespace tw
