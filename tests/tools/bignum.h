// Exact unsigned big integers for reference computations in tests: just the
// operations needed to turn binary floating values into exact decimal text
// and to compare scaled values exactly.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace tw_test {

struct BigNumber {
  std::vector<std::uint32_t> limbs;  // least significant first, no leading zero limbs
};

inline void Trim(BigNumber& n) {
  while (!n.limbs.empty() && n.limbs.back() == 0) n.limbs.pop_back();
}

inline BigNumber BigFrom(std::uint64_t value) {
  BigNumber n;
  n.limbs = {static_cast<std::uint32_t>(value), static_cast<std::uint32_t>(value >> 32)};
  Trim(n);
  return n;
}

inline bool IsZero(const BigNumber& n) {
  return n.limbs.empty();
}

inline void MultiplySmall(BigNumber& n, std::uint32_t factor) {
  std::uint64_t carry = 0;
  for (std::uint32_t& limb : n.limbs) {
    const std::uint64_t product = std::uint64_t{limb} * factor + carry;
    limb = static_cast<std::uint32_t>(product);
    carry = product >> 32;
  }
  if (carry != 0) n.limbs.push_back(static_cast<std::uint32_t>(carry));
  Trim(n);
}

inline void AddSmall(BigNumber& n, std::uint32_t addend) {
  std::uint64_t carry = addend;
  for (std::size_t i = 0; carry != 0; ++i) {
    if (i == n.limbs.size()) n.limbs.push_back(0);
    const std::uint64_t sum = std::uint64_t{n.limbs[i]} + carry;
    n.limbs[i] = static_cast<std::uint32_t>(sum);
    carry = sum >> 32;
  }
}

// Divides in place; returns the remainder.
inline std::uint32_t DivideSmall(BigNumber& n, std::uint32_t divisor) {
  std::uint64_t remainder = 0;
  for (std::size_t i = n.limbs.size(); i-- > 0;) {
    const std::uint64_t current = (remainder << 32) | n.limbs[i];
    n.limbs[i] = static_cast<std::uint32_t>(current / divisor);
    remainder = current % divisor;
  }
  Trim(n);
  return static_cast<std::uint32_t>(remainder);
}

inline void ShiftLeft(BigNumber& n, int bits) {
  if (IsZero(n) || bits <= 0) return;
  const int whole = bits / 32, part = bits % 32;
  std::vector<std::uint32_t> result(n.limbs.size() + whole + 1, 0);
  for (std::size_t i = 0; i < n.limbs.size(); ++i) {
    const std::uint64_t shifted = std::uint64_t{n.limbs[i]} << part;
    result[i + whole] |= static_cast<std::uint32_t>(shifted);
    result[i + whole + 1] |= static_cast<std::uint32_t>(shifted >> 32);
  }
  n.limbs = result;
  Trim(n);
}

inline void MultiplyPowerOfTen(BigNumber& n, int exponent) {
  for (; exponent >= 9; exponent -= 9) MultiplySmall(n, 1000000000u);
  for (; exponent > 0; --exponent) MultiplySmall(n, 10);
}

inline void MultiplyPowerOfFive(BigNumber& n, int exponent) {
  for (; exponent >= 13; exponent -= 13) MultiplySmall(n, 1220703125u);  // 5^13
  for (; exponent > 0; --exponent) MultiplySmall(n, 5);
}

inline int Compare(const BigNumber& a, const BigNumber& b) {
  if (a.limbs.size() != b.limbs.size()) return a.limbs.size() < b.limbs.size() ? -1 : 1;
  for (std::size_t i = a.limbs.size(); i-- > 0;) {
    if (a.limbs[i] != b.limbs[i]) return a.limbs[i] < b.limbs[i] ? -1 : 1;
  }
  return 0;
}

// |a - b|.
inline BigNumber Difference(const BigNumber& a, const BigNumber& b) {
  const bool swap = Compare(a, b) < 0;
  const BigNumber& big = swap ? b : a;
  const BigNumber& small = swap ? a : b;
  BigNumber result = big;
  std::int64_t borrow = 0;
  for (std::size_t i = 0; i < result.limbs.size(); ++i) {
    std::int64_t current = std::int64_t{result.limbs[i]} - borrow -
                           (i < small.limbs.size() ? std::int64_t{small.limbs[i]} : 0);
    borrow = current < 0 ? 1 : 0;
    if (current < 0) current += std::int64_t{1} << 32;
    result.limbs[i] = static_cast<std::uint32_t>(current);
  }
  Trim(result);
  return result;
}

inline BigNumber Sum(const BigNumber& a, const BigNumber& b) {
  BigNumber result;
  std::uint64_t carry = 0;
  for (std::size_t i = 0; i < std::max(a.limbs.size(), b.limbs.size()) || carry != 0; ++i) {
    const std::uint64_t sum =
        carry + (i < a.limbs.size() ? a.limbs[i] : 0) + (i < b.limbs.size() ? b.limbs[i] : 0);
    result.limbs.push_back(static_cast<std::uint32_t>(sum));
    carry = sum >> 32;
  }
  Trim(result);
  return result;
}

inline std::string DecimalText(BigNumber n) {
  if (IsZero(n)) return "0";
  std::string text;
  while (!IsZero(n)) {
    std::uint32_t chunk = DivideSmall(n, 1000000000u);
    for (int i = 0; i < 9; ++i) {
      text.push_back(static_cast<char>('0' + chunk % 10));
      chunk /= 10;
    }
  }
  while (text.size() > 1 && text.back() == '0') text.pop_back();
  std::reverse(text.begin(), text.end());
  return text;
}

}  // namespace tw_test
