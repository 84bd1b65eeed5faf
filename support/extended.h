// 80-bit extended values taken apart into their 64-bit significand and binary
// exponent, and the full 128-bit product of two 64-bit words: what the number
// reader and the formatter need to compute the x87 unit's products with
// integer arithmetic, bit for bit.
#pragma once

#include <cstdint>
#include <cstring>

namespace tw {

// A positive extended value: significand x 2^(exponent - 63); a normalised
// significand has its top bit set. Zero is a significand of 0.
struct ExtendedParts {
  std::uint64_t significand;
  std::int32_t exponent;
};

constexpr std::int32_t kExtendedBias = 16383;

// The significand and exponent of an extended value's bytes (sign ignored).
inline ExtendedParts PartsOf(const long double& value) {
  unsigned char bytes[10];
  std::memcpy(bytes, &value, sizeof bytes);
  std::uint64_t significand;
  std::memcpy(&significand, bytes, sizeof significand);
  const std::int32_t biased = ((bytes[9] & 0x7F) << 8) | bytes[8];
  return {significand, biased - kExtendedBias};
}

// The 10 bytes of an extended value with the given sign, significand and
// exponent (the significand normalised, the exponent within the format).
inline void StoreExtended(void* destination, bool negative, const ExtendedParts& parts) {
  unsigned char bytes[10];
  std::memcpy(bytes, &parts.significand, sizeof parts.significand);
  const std::uint32_t biased =
      parts.significand == 0 ? 0 : static_cast<std::uint32_t>(parts.exponent + kExtendedBias);
  const std::uint32_t top = biased | (negative ? 0x8000u : 0u);
  bytes[8] = static_cast<unsigned char>(top);
  bytes[9] = static_cast<unsigned char>(top >> 8);
  std::memcpy(destination, bytes, sizeof bytes);
}

// a x b as a 128-bit number: the high word is returned, the low word stored.
inline std::uint64_t MultiplyFull(std::uint64_t a, std::uint64_t b, std::uint64_t* low) {
#if defined(__SIZEOF_INT128__)
  const unsigned __int128 product = static_cast<unsigned __int128>(a) * b;
  *low = static_cast<std::uint64_t>(product);
  return static_cast<std::uint64_t>(product >> 64);
#else
  const std::uint64_t aLow = a & 0xFFFFFFFFu, aHigh = a >> 32;
  const std::uint64_t bLow = b & 0xFFFFFFFFu, bHigh = b >> 32;
  const std::uint64_t lowLow = aLow * bLow;
  const std::uint64_t highLow = aHigh * bLow;
  const std::uint64_t lowHigh = aLow * bHigh;
  const std::uint64_t middle = (lowLow >> 32) + (highLow & 0xFFFFFFFFu) + (lowHigh & 0xFFFFFFFFu);
  *low = (middle << 32) | (lowLow & 0xFFFFFFFFu);
  return aHigh * bHigh + (highLow >> 32) + (lowHigh >> 32) + (middle >> 32);
#endif
}

// The product of two normalised significands as a normalised significand,
// the bits below it, and the exponent it adds (0 or 1): a x b = (significand
// + rest / 2^64) x 2^(63 + carry).
struct WideProduct {
  std::uint64_t significand;
  std::uint64_t rest;  // the bits below the significand, as a fraction of 2^64
  std::int32_t carry;
};

inline WideProduct MultiplySignificands(std::uint64_t a, std::uint64_t b) {
  std::uint64_t low;
  const std::uint64_t high = MultiplyFull(a, b, &low);
  if ((high >> 63) != 0) return {high, low, 1};
  return {(high << 1) | (low >> 63), low << 1, 0};
}

}  // namespace tw
