// AVX2 kernel of the file comparison's chunk compare: the walk of
// support/files_walks.h with 32-byte blocks, 128 bytes per step. Compiled for
// AVX2 by target attributes only; a leaf that keeps its vectors in registers
// (Win64 does not align the stack for 32-byte spills).
#include "support/files_kernels.h"

#if defined(__x86_64__)

#define TW_WALK TW_AVX2_KERNEL
#include "support/files_walks.h"

namespace tw {

TW_AVX2_ENTRY std::uint32_t FirstDifferenceAvx2(const unsigned char* a, const unsigned char* b,
                                                std::uint32_t count, bool foldCase) {
  return FirstDifferenceWith<vector_sets::Avx2>(a, b, count, foldCase);
}

}  // namespace tw

#endif
