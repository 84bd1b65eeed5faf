// AVX2 kernel of the text length: the SSE2 form's walk (trace/text_walks.h)
// with 32-byte blocks, 128 bytes per step. Compiled for AVX2 by target
// attributes only, so that nothing else of the library needs more than SSE2.
// The function is a leaf that keeps its vectors in registers (Win64 does not
// align the stack for 32-byte spills).
#include "trace/text_avx2.h"

#if defined(__x86_64__)

#define TW_WALK TW_AVX2_KERNEL
#include "trace/text_walks.h"
#undef TW_WALK

namespace tw {

TW_AVX2_ENTRY std::uint32_t TextLengthAvx2(const char* text) {
  return LengthWith<vector_sets::Avx2>(text);
}

}  // namespace tw

#endif
