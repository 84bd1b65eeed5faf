// AVX-512 kernel of text comparison (x86-64 only); support/search.cpp's
// TextCompare chooses between it and the AVX2 and SSE2 kernels.
#pragma once

#include <cstdint>

#include "support/search.h"

namespace tw::search_kernels {

#if defined(__x86_64__)
// TextCompare's walk with 64-byte blocks and mask registers.
CompareResult TextCompareAvx512(const char* a, const char* b, std::int32_t mode);
#endif

}  // namespace tw::search_kernels
