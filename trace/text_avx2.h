// AVX2 kernels of the shared text routines (x86-64 only); trace/text.cpp
// chooses between them and the SSE2 forms.
#pragma once

#include <cstdint>

namespace tw {

#if defined(__x86_64__)
// Number of bytes before the first NUL, 32 bytes per step. Reads only whole
// 32-byte-aligned blocks that hold bytes of the text, so it never touches a
// page the text does not reach.
std::uint32_t TextLengthAvx2(const char* text);
#endif

}  // namespace tw
