// The AVX2 kernels of text search and text comparison: the walks of
// support/search_walks.h with 32-byte blocks. Compiled for AVX2 by target
// attributes only; the functions keep their vectors in registers (Win64 does
// not align the stack for 32-byte spills).
#include "support/search_kernels.h"

#if defined(__x86_64__)

#define TW_WALK TW_AVX2_KERNEL
#define TW_WALK_ENTRY TW_AVX2_ENTRY
#include "support/search_walks.h"

TW_SEARCH_ENTRIES(Avx2, TW_AVX2_ENTRY)

#endif
