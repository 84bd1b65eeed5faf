// AVX-512 kernel of the file comparison's chunk compare: the walk of
// support/files_walks.h with 64-byte blocks, 256 bytes per step. Compiled for
// AVX-512 by target attributes only; a leaf that keeps its vectors in
// registers (Win64 does not align the stack for 64-byte spills).
#include "support/files_kernels.h"

#if defined(__x86_64__)

#define TW_WALK TW_AVX512_KERNEL
#include "support/files_walks.h"

namespace tw {

TW_AVX512_ENTRY std::uint32_t FirstDifferenceAvx512(const unsigned char* a, const unsigned char* b,
                                                    std::uint32_t count, bool foldCase) {
  return FirstDifferenceWith<vector_sets::Avx512>(a, b, count, foldCase);
}

}  // namespace tw

#endif
