// The instruction sets of the vector kernels as small traits structs: a
// vector of kWidth bytes, its loads, byte compares that end in a bit mask (one
// bit per byte lane, lane 0 in bit 0) and the few lane operations the kernels
// use. A kernel is written once as a template over such a struct and
// instantiated per set in that set's source file, whose functions carry the
// set's target attribute (TW_SSE2_KERNEL, TW_AVX2_KERNEL, TW_AVX512_KERNEL):
// only those files run more than SSE2, and only once the library has chosen
// their set. The AVX2 and AVX-512 structs exist on x86-64 only.
//
// Every operation is inlined into its kernel and reads memory without the
// address sanitizer's checks: the kernels read whole blocks beyond a text's
// end within the text's page, which is intended.
#pragma once

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

// TW_<set>_KERNEL marks the inlined parts of a set's kernels,
// TW_<set>_ENTRY the functions that the dispatch places call.
#define TW_SSE2_KERNEL __attribute__((no_sanitize("address"), always_inline)) inline
#define TW_SSE2_ENTRY __attribute__((no_sanitize("address")))
#if defined(__x86_64__)
#define TW_AVX2_KERNEL __attribute__((target("avx2"), no_sanitize("address"), always_inline)) inline
#define TW_AVX2_ENTRY __attribute__((target("avx2"), no_sanitize("address")))
#define TW_AVX512_KERNEL                                                               \
  __attribute__((target("avx512f,avx512bw,avx512vl,bmi,bmi2"), no_sanitize("address"), \
                 always_inline)) inline
#define TW_AVX512_ENTRY \
  __attribute__((target("avx512f,avx512bw,avx512vl,bmi,bmi2"), no_sanitize("address")))
#endif

namespace tw::vector_sets {

constexpr std::size_t kPageSize = 4096;  // the smallest x86 page

// True when bytes bytes from p stay within p's page: a kernel may read them
// whole though the text ends sooner.
inline bool BlockFitsInPage(const void* p, std::size_t bytes) {
  return (reinterpret_cast<std::uintptr_t>(p) & (kPageSize - 1)) <= kPageSize - bytes;
}

// Sixteen-byte vectors: the reference set, and the only one on 32-bit targets.
struct Sse2 {
  using Vector = __m128i;
  using Mask = std::uint32_t;
  static constexpr std::size_t kWidth = 16;
  static constexpr Mask kAll = 0xFFFF;
  // Loads of fewer lanes whose other lanes are not read (AVX-512 only).
  static constexpr bool kMaskedLoads = false;
  // Byte compares end in vectors of 0xFF and 0 lanes (AVX-512: in mask
  // registers).
  static constexpr bool kLanesAsBytes = true;
  // The set whose blocks a long text comparison goes on with.
  using LongWalk = Sse2;

  TW_SSE2_KERNEL static Vector Load(const void* p) {
    return _mm_loadu_si128(static_cast<const __m128i*>(p));
  }
  TW_SSE2_KERNEL static Vector LoadAligned(const void* p) {
    return _mm_load_si128(static_cast<const __m128i*>(p));
  }
  TW_SSE2_KERNEL static Vector Broadcast(unsigned char byte) {
    return _mm_set1_epi8(static_cast<char>(byte));
  }
  TW_SSE2_KERNEL static Vector Zero() { return _mm_setzero_si128(); }
  // byte in lane 0, zero in the others.
  TW_SSE2_KERNEL static Vector FirstLane(unsigned char byte) { return _mm_cvtsi32_si128(byte); }
  TW_SSE2_KERNEL static Vector Or(Vector a, Vector b) { return _mm_or_si128(a, b); }
  TW_SSE2_KERNEL static Vector And(Vector a, Vector b) { return _mm_and_si128(a, b); }
  TW_SSE2_KERNEL static Vector Xor(Vector a, Vector b) { return _mm_xor_si128(a, b); }
  TW_SSE2_KERNEL static Vector Min(Vector a, Vector b) { return _mm_min_epu8(a, b); }
  // a | (b ^ c), (a | b) ^ c and a | b | c: one instruction with AVX-512.
  TW_SSE2_KERNEL static Vector OrXor(Vector a, Vector b, Vector c) { return Or(a, Xor(b, c)); }
  TW_SSE2_KERNEL static Vector FoldXor(Vector a, Vector b, Vector c) { return Xor(Or(a, b), c); }
  TW_SSE2_KERNEL static Vector Or3(Vector a, Vector b, Vector c) { return Or(Or(a, b), c); }
  TW_SSE2_KERNEL static Mask Equal(Vector a, Vector b) {
    return static_cast<Mask>(_mm_movemask_epi8(_mm_cmpeq_epi8(a, b)));
  }
  TW_SSE2_KERNEL static Mask Zeros(Vector a) { return Equal(a, Zero()); }
  // True when no lane of a is zero.
  TW_SSE2_KERNEL static bool NoZero(Vector a) { return Zeros(a) == 0; }
  // The byte lane 0 of a is folded with fold0, the others with fold1.
  TW_SSE2_KERNEL static Vector FirstLaneApart(Vector fold1, unsigned char fold0) {
    return _mm_insert_epi16(fold1, (_mm_extract_epi16(fold1, 0) & 0xFF00) | fold0, 0);
  }
  // Text comparison: the lanes where two texts stop going on (their bytes
  // differ, but for bit 5 when folding, or x's byte is zero; when folding,
  // either's), and the same from the OR of several blocks' differences and
  // the minimum of their bytes (keep: the bits a difference counts in).
  template <bool kFold>
  TW_SSE2_KERNEL static Mask Stops(Vector x, Vector y) {
    if (!kFold) return Zeros(GoOn(x, y));
    const Vector fold = Broadcast(32);
    return Zeros(Min(Min(_mm_cmpeq_epi8(Or(x, fold), Or(y, fold)), x), y));
  }
  // x's bytes where the texts go on, zero where they stop (exact
  // comparison; the sets with byte-lane compares, kLanesAsBytes).
  TW_SSE2_KERNEL static Vector GoOn(Vector x, Vector y) { return Min(_mm_cmpeq_epi8(x, y), x); }
  // Lanes where differences has a bit of keep set.
  TW_SSE2_KERNEL static Mask Differ(Vector differences, Vector keep) {
    return ~Zeros(And(differences, keep)) & kAll;
  }
  template <bool kFold>
  TW_SSE2_KERNEL static Mask DiffersOrEnds(Vector differences, Vector ends, Vector keep) {
    if (kFold) differences = And(differences, keep);
    return Zeros(Min(_mm_cmpeq_epi8(differences, Zero()), ends));
  }
};

#if defined(__x86_64__)
// Thirty-two-byte vectors.
struct Avx2 {
  using Vector = __m256i;
  using Mask = std::uint32_t;
  static constexpr std::size_t kWidth = 32;
  static constexpr Mask kAll = 0xFFFFFFFFu;
  static constexpr bool kMaskedLoads = false;
  static constexpr bool kLanesAsBytes = true;
  using LongWalk = Avx2;

  TW_AVX2_KERNEL static Vector Load(const void* p) {
    return _mm256_loadu_si256(static_cast<const __m256i*>(p));
  }
  TW_AVX2_KERNEL static Vector LoadAligned(const void* p) {
    return _mm256_load_si256(static_cast<const __m256i*>(p));
  }
  TW_AVX2_KERNEL static Vector Broadcast(unsigned char byte) {
    return _mm256_set1_epi8(static_cast<char>(byte));
  }
  TW_AVX2_KERNEL static Vector Zero() { return _mm256_setzero_si256(); }
  TW_AVX2_KERNEL static Vector FirstLane(unsigned char byte) {
    return _mm256_setr_epi32(byte, 0, 0, 0, 0, 0, 0, 0);
  }
  TW_AVX2_KERNEL static Vector Or(Vector a, Vector b) { return _mm256_or_si256(a, b); }
  TW_AVX2_KERNEL static Vector And(Vector a, Vector b) { return _mm256_and_si256(a, b); }
  TW_AVX2_KERNEL static Vector Xor(Vector a, Vector b) { return _mm256_xor_si256(a, b); }
  TW_AVX2_KERNEL static Vector Min(Vector a, Vector b) { return _mm256_min_epu8(a, b); }
  TW_AVX2_KERNEL static Vector OrXor(Vector a, Vector b, Vector c) { return Or(a, Xor(b, c)); }
  TW_AVX2_KERNEL static Vector FoldXor(Vector a, Vector b, Vector c) { return Xor(Or(a, b), c); }
  TW_AVX2_KERNEL static Vector Or3(Vector a, Vector b, Vector c) { return Or(Or(a, b), c); }
  TW_AVX2_KERNEL static Mask Equal(Vector a, Vector b) {
    return static_cast<Mask>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(a, b)));
  }
  TW_AVX2_KERNEL static Mask Zeros(Vector a) { return Equal(a, Zero()); }
  TW_AVX2_KERNEL static bool NoZero(Vector a) {
    const Vector zeros = _mm256_cmpeq_epi8(a, Zero());
    return _mm256_testz_si256(zeros, zeros) != 0;
  }
  TW_AVX2_KERNEL static Vector FirstLaneApart(Vector fold1, unsigned char fold0) {
    return _mm256_insert_epi8(fold1, static_cast<char>(fold0), 0);
  }
  template <bool kFold>
  TW_AVX2_KERNEL static Mask Stops(Vector x, Vector y) {
    if (!kFold) return Zeros(GoOn(x, y));
    const Vector fold = Broadcast(32);
    return Zeros(Min(Min(_mm256_cmpeq_epi8(Or(x, fold), Or(y, fold)), x), y));
  }
  TW_AVX2_KERNEL static Vector GoOn(Vector x, Vector y) { return Min(_mm256_cmpeq_epi8(x, y), x); }
  TW_AVX2_KERNEL static Mask Differ(Vector differences, Vector keep) {
    return ~Zeros(And(differences, keep));
  }
  template <bool kFold>
  TW_AVX2_KERNEL static Mask DiffersOrEnds(Vector differences, Vector ends, Vector keep) {
    if (kFold) differences = And(differences, keep);
    return Zeros(Min(_mm256_cmpeq_epi8(differences, Zero()), ends));
  }
};

// Sixty-four-byte vectors whose compares end in mask registers, and masked
// loads.
struct Avx512 {
  using Vector = __m512i;
  using Mask = std::uint64_t;
  static constexpr std::size_t kWidth = 64;
  static constexpr Mask kAll = ~std::uint64_t{0};
  static constexpr bool kMaskedLoads = true;
  static constexpr bool kLanesAsBytes = false;
  using LongWalk = Avx2;

  // vpternlog's tables (each bit of the result is f of the same bits of a,
  // b and c, whose columns are 0xF0, 0xCC and 0xAA).
  static constexpr int kOrXor = (0xF0 | (0xCC ^ 0xAA)) & 0xFF;
  static constexpr int kFoldXor = ((0xF0 | 0xCC) ^ 0xAA) & 0xFF;
  static constexpr int kOr3 = (0xF0 | 0xCC | 0xAA) & 0xFF;

  TW_AVX512_KERNEL static Vector Load(const void* p) { return _mm512_loadu_si512(p); }
  TW_AVX512_KERNEL static Vector LoadAligned(const void* p) { return _mm512_load_si512(p); }
  // The lanes of lanes only; the others are zero and not read.
  TW_AVX512_KERNEL static Vector LoadLanes(const void* p, Mask lanes) {
    return _mm512_maskz_loadu_epi8(lanes, p);
  }
  TW_AVX512_KERNEL static Vector Broadcast(unsigned char byte) {
    return _mm512_set1_epi8(static_cast<char>(byte));
  }
  TW_AVX512_KERNEL static Vector Zero() { return _mm512_setzero_si512(); }
  TW_AVX512_KERNEL static Vector FirstLane(unsigned char byte) {
    return _mm512_setr_epi32(byte, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
  }
  TW_AVX512_KERNEL static Vector Or(Vector a, Vector b) { return _mm512_or_si512(a, b); }
  TW_AVX512_KERNEL static Vector And(Vector a, Vector b) { return _mm512_and_si512(a, b); }
  TW_AVX512_KERNEL static Vector Xor(Vector a, Vector b) { return _mm512_xor_si512(a, b); }
  TW_AVX512_KERNEL static Vector Min(Vector a, Vector b) { return _mm512_min_epu8(a, b); }
  TW_AVX512_KERNEL static Vector OrXor(Vector a, Vector b, Vector c) {
    return _mm512_ternarylogic_epi32(a, b, c, kOrXor);
  }
  TW_AVX512_KERNEL static Vector FoldXor(Vector a, Vector b, Vector c) {
    return _mm512_ternarylogic_epi32(a, b, c, kFoldXor);
  }
  TW_AVX512_KERNEL static Vector Or3(Vector a, Vector b, Vector c) {
    return _mm512_ternarylogic_epi32(a, b, c, kOr3);
  }
  TW_AVX512_KERNEL static Mask Equal(Vector a, Vector b) { return _mm512_cmpeq_epi8_mask(a, b); }
  TW_AVX512_KERNEL static Mask Zeros(Vector a) { return _mm512_testn_epi8_mask(a, a); }
  TW_AVX512_KERNEL static bool NoZero(Vector a) { return Zeros(a) == 0; }
  TW_AVX512_KERNEL static Vector FirstLaneApart(Vector fold1, unsigned char fold0) {
    return _mm512_mask_set1_epi8(fold1, 1, static_cast<char>(fold0));
  }
  template <bool kFold>
  TW_AVX512_KERNEL static Mask Stops(Vector x, Vector y) {
    if (!kFold) return ~_mm512_mask_cmpeq_epi8_mask(_mm512_test_epi8_mask(x, x), x, y);
    const Vector ends = Min(x, y);
    return ~_mm512_mask_testn_epi8_mask(_mm512_test_epi8_mask(ends, ends), Xor(x, y),
                                        Broadcast(0xDF));
  }
  TW_AVX512_KERNEL static Mask Differ(Vector differences, Vector keep) {
    return _mm512_test_epi8_mask(differences, keep);
  }
  template <bool kFold>
  TW_AVX512_KERNEL static Mask DiffersOrEnds(Vector differences, Vector ends, Vector keep) {
    return ~_mm512_mask_testn_epi8_mask(_mm512_test_epi8_mask(ends, ends), differences, keep);
  }
};
#endif

// The lowest and the highest set bit of a non-zero mask.
inline unsigned LowestLane(std::uint32_t mask) {
  return static_cast<unsigned>(__builtin_ctz(mask));
}
inline unsigned LowestLane(std::uint64_t mask) {
  return static_cast<unsigned>(__builtin_ctzll(mask));
}
inline unsigned HighestLane(std::uint32_t mask) {
  return 31u - static_cast<unsigned>(__builtin_clz(mask));
}
inline unsigned HighestLane(std::uint64_t mask) {
  return 63u - static_cast<unsigned>(__builtin_clzll(mask));
}

// Lanes 0 to count - 1 of a mask type (count up to the mask's width).
template <typename Mask>
constexpr Mask FirstLanes(std::size_t count) {
  return count >= sizeof(Mask) * 8 ? ~Mask{0} : (Mask{1} << count) - 1;
}

}  // namespace tw::vector_sets
