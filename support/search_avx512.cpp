// The AVX-512 kernels of text search and text comparison: the walks of
// support/search_walks.h with 64-byte blocks, compares into mask registers
// and masked loads. Compiled for AVX-512 by target attributes only; the
// functions keep their vectors in registers (Win64 does not align the stack
// for 64-byte spills, and zmm16 to zmm31 need no saving).
#include "support/search_kernels.h"

#if defined(__x86_64__)

#define TW_WALK TW_AVX512_KERNEL
#define TW_WALK_ENTRY TW_AVX512_ENTRY
#include "support/search_walks.h"

TW_SEARCH_ENTRIES(Avx512, TW_AVX512_ENTRY)

#endif
