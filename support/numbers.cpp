// Number-to-text formatting: the format string reader, operand evaluation in
// 80-bit extended precision (rounding toward minus infinity), the three
// floating notations with their carry rules, the integer renderings,
// WriteDigits and the SSE register helpers.
#include "support/numbers.h"

#include <cmath>
#include <cstring>

#include "support/errors.h"
#include "support/extended.h"
#include "support/startup.h"
#include "support/temptext.h"

namespace tw {

namespace {

constexpr int kMaxDigits = 19;
// The longest number text is 27 bytes; the digit writers store whole words
// and may write a few bytes past the text's end.
constexpr int kNumberTextCapacity = 48;
// The largest extended value below one half: exact halves round down.
constexpr long double kRoundingAddend = 0.5L - 0x1p-65L;
// The exponent is floor(log10(value) + 2e-19): a value this little below a
// power of ten counts as that power (10^-2e-19 = 1 - 4.605e-19).
constexpr long double kBelowPowerFactor = 1.0L - 4.605e-19L;
constexpr float kUnsignedBias = 4294967296.0f;
constexpr long double kTwoTo63 = 9223372036854775808.0L;
constexpr char kOutOfRangeText[] = "^v?";
constexpr std::uint32_t kFpuRoundDown = 7;  // 64-bit significand, toward minus infinity

int g_defaultPrecision = 7;

// A format text taken apart: literal text before and after the format code, and
// what the format code chose.
struct FormatParts {
  const char* prefix;
  const char* prefixEnd;
  const char* suffix;
  const char* suffixEnd;
  int digits;
  int mode;  // 0 floating, +1 signed integer, -1 unsigned integer
};

constexpr std::uint64_t kPowersOfTenExact[kMaxDigits + 1] = {1ull,
                                                             10ull,
                                                             100ull,
                                                             1000ull,
                                                             10000ull,
                                                             100000ull,
                                                             1000000ull,
                                                             10000000ull,
                                                             100000000ull,
                                                             1000000000ull,
                                                             10000000000ull,
                                                             100000000000ull,
                                                             1000000000000ull,
                                                             10000000000000ull,
                                                             100000000000000ull,
                                                             1000000000000000ull,
                                                             10000000000000000ull,
                                                             100000000000000000ull,
                                                             1000000000000000000ull,
                                                             10000000000000000000ull};

bool IsPrecisionCharacter(char c) {
  return c >= '1' && c <= 'J';
}

int PrecisionOf(char c) {
  return c <= '9' ? c - '0' : c - 55;
}

// Finds the format code: "%" followed by a character above space (compared as a
// signed byte). A "%" followed by anything else is literal text.
FormatParts ReadFormat(const char* text, const char* end, int digits, int mode) {
  FormatParts parts = {text, end, end, end, digits, mode};
  for (const char* at = text; end - at > 1; ++at) {
    if (*at != '%') continue;
    const signed char chosen = static_cast<signed char>(at[1]);
    if (chosen <= ' ') {
      ++at;
      continue;
    }
    parts.prefixEnd = at;
    const char* suffix = at + 2;
    if (chosen == 'i') {
      parts.mode = 1;
    } else if (chosen == 'u') {
      parts.mode = -1;
    } else if (IsPrecisionCharacter(chosen)) {
      parts.digits = PrecisionOf(chosen);
      suffix = at + 3;  // one more character, not examined
    }
    parts.suffix = suffix < end ? suffix : end;
    return parts;
  }
  return parts;
}

// Bytes that the literal text from..to produces: "\t" becomes a tab, "\n"
// carriage return and line feed.
std::uint32_t EscapedLength(const char* from, const char* to) {
  std::uint32_t length = 0;
  while (from < to) {
    if (*from == '\\' && from + 1 < to && (from[1] == 't' || from[1] == 'n')) {
      length += from[1] == 'n' ? 2 : 1;
      from += 2;
    } else {
      ++length;
      ++from;
    }
  }
  return length;
}

char* CopyEscaped(char* out, const char* from, const char* to) {
  while (from < to) {
    const char c = *from++;
    if (c == '\\' && from < to && *from == 't') {
      *out++ = '\t';
      ++from;
    } else if (c == '\\' && from < to && *from == 'n') {
      *out++ = '\r';
      *out++ = '\n';
      ++from;
    } else {
      *out++ = c;
    }
  }
  return out;
}

std::uint64_t MultiplyHigh(std::uint64_t a, std::uint64_t b) {
  std::uint64_t low;
  return MultiplyFull(a, b, &low);
}

// floor(log10(value)) or one less, from the binary exponent alone (value
// positive and finite): m x 2^k with m in [1, 2) has log10 between k log10(2)
// and that plus 0.302.
int DecimalExponentEstimate(long double value) {
  unsigned char bytes[sizeof(long double)];
  std::memcpy(bytes, &value, sizeof bytes);
  const int biased = ((bytes[9] & 0x7F) << 8) | bytes[8];
  const std::int64_t binary = biased - 16383;
  return static_cast<int>((binary * 1292913986) >> 32);  // 1292913986 / 2^32 = log10(2)
}

// The value as a 64-bit integer, rounded as the x87 control word says (the
// formatter runs rounding down, so this is floor for values from 0 to 2^63);
// no control-word switch as with a compiled conversion.
std::int64_t X87ToInteger(long double value) {
  std::int64_t result;
  __asm__("fistpll %0" : "=m"(result) : "t"(value) : "st");
  return result;
}

void LoadControlWord(std::uint16_t word) {
  __asm__ volatile("fldcw %0" ::"m"(word) : "memory");
}

char* CopyText(char* out, const char* text) {
  while (*text != '\0') *out++ = *text++;
  return out;
}

// "00" to "99": the two digits of each value below 100.
constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// The number of decimal digits of value (1 for 0): from its bit length,
// which gives the count or one less.
int DigitCount(std::uint64_t value) {
  const int bits = 64 - __builtin_clzll(value | 1);
  const int guess = (bits * 1233) >> 12;  // 1233 / 4096 is just above log10(2)
  const int count = guess + (value >= kPowersOfTenExact[guess] ? 1 : 0);
  return count == 0 ? 1 : count;
}

// The last count digits of value at out (leading zeros where value has
// fewer), two at a time from the right: what WriteDigits writes, without a
// division by ten for each digit.
void PutDigits(char* out, std::uint64_t value, int count) {
  char* at = out + count;
  while ((value >> 32) != 0) {  // ten digits or more: at least ten places left
    const std::uint64_t quotient = value / 100;
    at -= 2;
    std::memcpy(at, kDigitPairs + 2 * (value - quotient * 100), 2);
    value = quotient;
  }
  std::uint32_t small = static_cast<std::uint32_t>(value);
  while (at - out >= 2) {
    const std::uint32_t quotient = small / 100;
    at -= 2;
    std::memcpy(at, kDigitPairs + 2 * (small - quotient * 100), 2);
    small = quotient;
  }
  if (at > out) at[-1] = static_cast<char>('0' + small);
}

// The eight digits of a value below 10^8 as text in one word, the first
// digit in the lowest byte: the value split in halves of four digits, each
// half in pairs, each pair in digits, all lanes at once (the multipliers
// divide by 100 below 43699 and by 10 below 179).
std::uint64_t EightDigitText(std::uint32_t value) {
  const std::uint32_t high = value / 10000;
  std::uint64_t lanes = high | (static_cast<std::uint64_t>(value - high * 10000) << 32);
  std::uint64_t quotients = ((lanes * 5243) >> 19) & 0x0000007F0000007Full;
  lanes = quotients | ((lanes - quotients * 100) << 16);
  quotients = ((lanes * 103) >> 10) & 0x000F000F000F000Full;
  lanes = quotients | ((lanes - quotients * 10) << 8);
  return lanes + 0x3030303030303030ull;
}

// The count digits (1 to 8) of a value below 10^count as text in one word.
std::uint64_t ShortDigitText(std::uint64_t value, int count) {
  return EightDigitText(static_cast<std::uint32_t>(value)) >> (8 * (8 - count));
}

// The digits of value, without point, at out; returns the end. Up to eight
// digits are one 8-byte store (the number text has room past its end).
char* AppendInteger(char* out, std::uint64_t value) {
  const int count = DigitCount(value);
  if (count <= 8) {
    const std::uint64_t text = ShortDigitText(value, count);
    std::memcpy(out, &text, sizeof text);
  } else {
    PutDigits(out, value, count);
  }
  return out + count;
}

// value with its point before the last decimals digits ("0" after a point
// that would end the text). As with WriteDigits, a point left of the digits
// is not written.
char* AppendWithDecimals(char* out, std::uint64_t value, int decimals) {
  if (decimals == 0) {
    out = AppendInteger(out, value);
    *out++ = '.';
    *out++ = '0';
    return out;
  }
  const int count = DigitCount(value);
  if (count <= decimals) return AppendInteger(out, value);
  const int whole = count - decimals;  // 1 to count - 1
  if (count <= 8) {
    // The digits before the point, the point and the rest, put together in
    // a word and a ninth byte.
    const std::uint64_t text = ShortDigitText(value, count);
    const int wholeBits = 8 * whole;
    const std::uint64_t before = text & ((std::uint64_t{1} << wholeBits) - 1);
    const std::uint64_t after = text >> wholeBits;
    const std::uint64_t joined =
        before | (std::uint64_t{'.'} << wholeBits) | ((after << wholeBits) << 8);
    std::memcpy(out, &joined, sizeof joined);
    out[8] = static_cast<char>(text >> 56);
    return out + count + 1;
  }
  PutDigits(out + 1, value, count);
  for (int i = 0; i < whole; ++i) out[i] = out[i + 1];
  out[whole] = '.';
  return out + count + 1;
}

char* AppendZeros(char* out, int count) {
  for (int i = 0; i < count; ++i) *out++ = '0';
  return out;
}

char* AppendExponent(char* out, int exponent) {
  *out++ = 'e';
  *out++ = exponent < 0 ? '-' : '+';
  const int magnitude = exponent < 0 ? -exponent : exponent;
  if (magnitude < 100) {  // at least two digits: a pair
    std::memcpy(out, kDigitPairs + 2 * magnitude, 2);
    return out + 2;
  }
  return AppendInteger(out, static_cast<std::uint64_t>(magnitude));
}

char* AppendRounded(char* out, std::uint64_t significand, int exponent, int digits);

// Floating rendering of a positive finite magnitude with digits significant
// digits; the x87 unit rounds toward minus infinity.
char* AppendFloating(char* out, long double magnitude, int digits) {
  int exponent = DecimalExponentEstimate(magnitude);
  long double scaled;
  // The exponent is floor(log10(value) + 2e-19): the scaled value must have
  // digits digits before its fraction, or fall just below that within the
  // epsilon (a value a few units below a power of ten counts as that power).
  // The estimate is at most one too low.
  for (int attempt = 0;; ++attempt) {
    const int power = digits - 1 - exponent;
    if (power > kPowersOfTenHighest && attempt == 0) {
      ++exponent;  // the estimate may be one too low
      continue;
    }
    if (power > kPowersOfTenHighest || power < kPowersOfTenLowest) {
      return CopyText(out, kOutOfRangeText);
    }
    scaled = magnitude * g_powersOfTen[kPowersOfTenHighest - power];
    if (attempt == 3) break;
    if (scaled >= static_cast<long double>(kPowersOfTenExact[digits]) * kBelowPowerFactor) {
      ++exponent;
    } else if (scaled <
               static_cast<long double>(kPowersOfTenExact[digits - 1]) * kBelowPowerFactor) {
      --exponent;
    } else {
      break;
    }
  }
  const long double rounded = scaled + kRoundingAddend;
  // The 64-bit conversion is signed: 2^63 and above overflow.
  if (rounded >= kTwoTo63) return CopyText(out, kOutOfRangeText);
  const std::uint64_t significand = static_cast<std::uint64_t>(X87ToInteger(rounded));
  return AppendRounded(out, significand, exponent, digits);
}

// ---- Floating rendering with integer arithmetic ------------------------------------
// The same rendering for a value that the x87 unit would hold exactly (one
// operand of any kind but the extended one), computed with integer arithmetic
// that gives the unit's results bit for bit and without switching its control
// word: products rounded toward minus infinity are the 128-bit products of the
// significands cut to 64 bits, and floor(scaled + addend) is the integer part
// of scaled plus one when its fraction is above one half (the addend is one
// half less 2^-65, and floor of the sum rounded down is floor of the sum).

// 10^digits x (1 - 4.6e-19) rounded down, for digits from 0 to 19: the
// scaled value at or above the entry for digits counts as the next power.
ExtendedParts g_nextPowerThreshold[kMaxDigits + 1];
// The powers-of-ten table taken apart, entry for entry.
ExtendedParts g_powerParts[kPowersOfTenCount];
bool g_thresholdsBuilt = false;

ExtendedParts PartsOfInteger(std::uint64_t value) {
  const int shift = __builtin_clzll(value);
  return {value << shift, 63 - shift};
}

// a x b rounded toward minus infinity (both positive and normalised).
ExtendedParts MultiplyDown(const ExtendedParts& a, const ExtendedParts& b) {
  const WideProduct product = MultiplySignificands(a.significand, b.significand);
  return {product.significand, a.exponent + b.exponent + product.carry};
}

// a < b for positive normalised values: exponents first, then significands
// (one 128-bit comparison where there is such a type).
bool IsBelow(const ExtendedParts& a, const ExtendedParts& b) {
#if defined(__SIZEOF_INT128__)
  using Key = unsigned __int128;
  constexpr std::int32_t kShift = 1 << 20;  // makes every exponent positive
  const Key keyA =
      (static_cast<Key>(static_cast<std::uint32_t>(a.exponent + kShift)) << 64) | a.significand;
  const Key keyB =
      (static_cast<Key>(static_cast<std::uint32_t>(b.exponent + kShift)) << 64) | b.significand;
  return keyA < keyB;
#else
  return a.exponent != b.exponent ? a.exponent < b.exponent : a.significand < b.significand;
#endif
}

void BuildThresholds() {
  const ExtendedParts factor = PartsOf(kBelowPowerFactor);
  for (int digits = 0; digits <= kMaxDigits; ++digits) {
    g_nextPowerThreshold[digits] = MultiplyDown(PartsOfInteger(kPowersOfTenExact[digits]), factor);
  }
  for (int i = 0; i < kPowersOfTenCount; ++i) g_powerParts[i] = PartsOf(g_powersOfTen[i]);
  g_thresholdsBuilt = true;
}

const ExtendedParts& PowerOfTenParts(int power) {
  return g_powerParts[kPowersOfTenHighest - power];
}

char* AppendScaled(char* out, const ExtendedParts& scaled, int exponent, int digits);

// As AppendFloating, for a positive finite normalised magnitude.
char* AppendFloatingExact(char* out, const ExtendedParts& magnitude, int digits) {
  if (!g_thresholdsBuilt) BuildThresholds();
  int exponent = static_cast<int>((std::int64_t{magnitude.exponent} * 1292913986) >> 32);
  // The estimate is right or one too low: the first two attempts of the
  // search below computed together and the choice made without a branch;
  // every other case goes through the search.
  const int power = digits - 1 - exponent;
  if (power <= kPowersOfTenHighest && power - 1 >= kPowersOfTenLowest) {
    const ExtendedParts first = MultiplyDown(magnitude, PowerOfTenParts(power));
    const ExtendedParts second = MultiplyDown(magnitude, PowerOfTenParts(power - 1));
    const bool up = !IsBelow(first, g_nextPowerThreshold[digits]);
    const ExtendedParts chosen = up ? second : first;
    if (!IsBelow(chosen, g_nextPowerThreshold[digits - 1]) &&
        IsBelow(chosen, g_nextPowerThreshold[digits])) {
      return AppendScaled(out, chosen, exponent + (up ? 1 : 0), digits);
    }
  }
  ExtendedParts scaled;
  for (int attempt = 0;; ++attempt) {
    const int power = digits - 1 - exponent;
    if (power > kPowersOfTenHighest && attempt == 0) {
      ++exponent;
      continue;
    }
    if (power > kPowersOfTenHighest || power < kPowersOfTenLowest) {
      return CopyText(out, kOutOfRangeText);
    }
    scaled = MultiplyDown(magnitude, PowerOfTenParts(power));
    if (attempt == 3) break;
    if (!IsBelow(scaled, g_nextPowerThreshold[digits])) {
      ++exponent;
    } else if (IsBelow(scaled, g_nextPowerThreshold[digits - 1])) {
      --exponent;
    } else {
      break;
    }
  }
  return AppendScaled(out, scaled, exponent, digits);
}

// The text of scaled (positive, about 10^(digits - 1)) rounded to an integer
// as the formatter rounds, with exponent the decimal exponent of its first
// digit.
char* AppendScaled(char* out, const ExtendedParts& scaled, int exponent, int digits) {
  // floor(scaled + 1/2 - 2^-65); 2^63 and above overflow the conversion.
  if (scaled.exponent >= 63) return CopyText(out, kOutOfRangeText);
  const int fractionBits = 63 - scaled.exponent;
  std::uint64_t significand = 0;
  if (fractionBits < 64) {
    significand = scaled.significand >> fractionBits;
    const std::uint64_t half = std::uint64_t{1} << (fractionBits - 1);
    if ((scaled.significand & (2 * half - 1)) > half) ++significand;
  } else if (fractionBits == 64) {
    significand = scaled.significand > (std::uint64_t{1} << 63) ? 1 : 0;
  }
  if (significand >= (std::uint64_t{1} << 63)) return CopyText(out, kOutOfRangeText);
  return AppendRounded(out, significand, exponent, digits);
}

// What one operand holds, taken apart without the x87 unit.
enum class OperandClass { kZero, kInfinite, kFinite };  // not-a-number counts as zero

struct ExactOperand {
  OperandClass what;
  bool negative;
  ExtendedParts magnitude;
};

ExactOperand ExactInteger(std::int64_t value) {
  if (value == 0) return {OperandClass::kZero, false, {0, 0}};
  const std::uint64_t magnitude =
      value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
  return {OperandClass::kFinite, value < 0, PartsOfInteger(magnitude)};
}

// A binary float's bits (significandBits stored bits, exponentBits, bias).
inline __attribute__((always_inline)) ExactOperand ExactBinaryFloat(std::uint64_t bits,
                                                                    int significandBits,
                                                                    int exponentBits, int bias) {
  const bool negative = ((bits >> (significandBits + exponentBits)) & 1) != 0;
  const std::uint64_t stored = bits & ((std::uint64_t{1} << significandBits) - 1);
  const int biased = static_cast<int>((bits >> significandBits) & ((1u << exponentBits) - 1));
  if (biased == (1 << exponentBits) - 1) {
    return {stored == 0 ? OperandClass::kInfinite : OperandClass::kZero, negative, {0, 0}};
  }
  if (biased == 0) {
    if (stored == 0) return {OperandClass::kZero, negative, {0, 0}};
    ExtendedParts parts = PartsOfInteger(stored);  // subnormal: stored x 2^(1 - bias - bits)
    parts.exponent += 1 - bias - significandBits;
    return {OperandClass::kFinite, negative, parts};
  }
  const std::uint64_t significand = (stored | (std::uint64_t{1} << significandBits))
                                    << (63 - significandBits);
  return {OperandClass::kFinite, negative, {significand, biased - bias}};
}

// One operand of every kind but the extended one (false for that kind).
bool ReadExactOperand(std::uintptr_t word, std::uint32_t kind, const std::uint64_t* xmm,
                      ExactOperand* operand) {
  const bool isRegister = word >= kXmmSelectorBase && word < kXmmSelectorBase + 8;
  const std::uint64_t registerBits = isRegister ? xmm[word - kXmmSelectorBase] : 0;
  switch (kind) {
    case kKindInt32:
      *operand = ExactInteger(static_cast<std::int32_t>(static_cast<std::uint32_t>(word)));
      return true;
    case kKindFloat:
      *operand = ExactBinaryFloat(static_cast<std::uint32_t>(word), 23, 8, 127);
      return true;
    case kKindDoublePtr: {
      std::uint64_t bits = 0;
      if (word != 0) std::memcpy(&bits, reinterpret_cast<const void*>(word), sizeof bits);
      *operand = ExactBinaryFloat(bits, 52, 11, 1023);
      return true;
    }
    case kKindXmmDouble:
      *operand = ExactBinaryFloat(registerBits, 52, 11, 1023);
      return true;
    case kKindInt64Ptr: {
      std::int64_t value = 0;
      if (word != 0) std::memcpy(&value, reinterpret_cast<const void*>(word), sizeof value);
      *operand = ExactInteger(value);
      return true;
    }
    case kKindXmmInt64:
    case kKindXmmInt64Also:
      *operand = ExactInteger(static_cast<std::int64_t>(registerBits));
      return true;
    default:  // the extended kind: the value may be any bit pattern
      return false;
  }
}

// Floating rendering of one operand without the x87 unit; false when the
// descriptor names more operands or the extended kind.
bool AppendSingleExact(char** out, std::uint32_t descriptor, const NumberOperand* operands,
                       int count, const std::uint64_t* xmm, int digits) {
  if (count < 1 || ((descriptor >> 6) & 0xFFFFFF) != 0) return false;
  ExactOperand operand;
  if (!ReadExactOperand(operands[0].word, (descriptor >> 3) & 7, xmm, &operand)) return false;
  char* at = *out;
  if (operand.what == OperandClass::kZero) {
    *out = CopyText(at, "0.0");
    return true;
  }
  if (operand.negative != ((descriptor & kNegateFirst) != 0)) *at++ = '-';
  *out = operand.what == OperandClass::kInfinite
             ? CopyText(at, kOutOfRangeText)
             : AppendFloatingExact(at, operand.magnitude, digits);
  return true;
}

// The text of a positive significand rounded to digits digits with the
// decimal exponent of its first digit, by the notation rules and the carry.
char* AppendRounded(char* out, std::uint64_t significand, int exponent, int digits) {
  const bool carry = significand >= kPowersOfTenExact[digits];

  if (exponent >= 0 && exponent < digits) {  // fixed notation
    return AppendWithDecimals(out, significand, digits - 1 - exponent);
  }
  if (exponent < 0 && exponent >= -3) {  // leading-zero form
    const int zeros = -exponent - 1;
    if (carry && zeros == 0) {
      *out++ = '1';
      *out++ = '.';
      return AppendZeros(out, digits);
    }
    *out++ = '0';
    *out++ = '.';
    out = AppendZeros(out, carry ? zeros - 1 : zeros);
    return AppendInteger(out, significand);
  }
  if (carry) {  // exponent notation
    *out++ = '1';
    *out++ = '.';
    out = AppendZeros(out, digits);
    ++exponent;
  } else {
    out = AppendWithDecimals(out, significand, digits - 1);
  }
  return AppendExponent(out, exponent);
}

// The number text of value in the given mode; the x87 unit rounds toward
// minus infinity.
char* AppendNumber(char* out, long double value, int mode, int digits) {
  if (value == 0 || value != value) return CopyText(out, mode == 0 ? "0.0" : "0");
  bool negative = value < 0;
  if (negative && mode < 0) {
    value += static_cast<long double>(kUnsignedBias);
    if (value < 0) return CopyText(out, kOutOfRangeText);
    negative = false;
  }
  const long double magnitude = negative ? -value : value;
  if (mode != 0 && magnitude >= kTwoTo63) {  // infinity included
    if (negative) *out++ = '-';
    return CopyText(out, kOutOfRangeText);
  }
  if (mode != 0) {
    const std::uint64_t whole = static_cast<std::uint64_t>(X87ToInteger(magnitude));  // floor
    if (negative && whole != 0) *out++ = '-';
    return AppendInteger(out, whole);
  }
  if (negative) *out++ = '-';
  if (std::isinf(magnitude)) return CopyText(out, kOutOfRangeText);
  return AppendFloating(out, magnitude, digits);
}

long double ReadOperand(std::uintptr_t word, std::uint32_t kind, const std::uint64_t* xmm) {
  const bool isRegister = word >= kXmmSelectorBase && word < kXmmSelectorBase + 8;
  const std::uint64_t registerBits = isRegister ? xmm[word - kXmmSelectorBase] : 0;
  switch (kind) {
    case kKindInt32:
      return static_cast<std::int32_t>(static_cast<std::uint32_t>(word));
    case kKindFloat: {
      const std::uint32_t bits = static_cast<std::uint32_t>(word);
      float value;
      std::memcpy(&value, &bits, sizeof value);
      return value;
    }
    case kKindDoublePtr:
      return word == 0 ? 0.0L : *reinterpret_cast<const double*>(word);
    case kKindExtendedPtr:
      return word == 0 ? 0.0L : *reinterpret_cast<const long double*>(word);
    case kKindXmmDouble: {
      double value;
      std::memcpy(&value, &registerBits, sizeof value);
      return value;
    }
    case kKindInt64Ptr:
      return word == 0 ? 0.0L
                       : static_cast<long double>(*reinterpret_cast<const std::int64_t*>(word));
    default:  // 5 and 7
      return static_cast<long double>(static_cast<std::int64_t>(registerBits));
  }
}

long double Combine(long double running, long double operand, std::uint32_t operation) {
  switch (operation) {
    case kOpAdd:
      return running + operand;
    case kOpSubtract:
      return running - operand;
    case kOpMultiply:
      return running * operand;
    case kOpDivide:
      return running / operand;
    default:
      return running;
  }
}

long double Evaluate(std::uint32_t descriptor, const NumberOperand* operands, int count,
                     const std::uint64_t* xmm) {
  int used = 1;
  for (int k = kMaxNumberOperands - 1; k > 0; --k) {
    if (((descriptor >> (6 * k)) & 0x3F) != 0) {
      used = k + 1;
      break;
    }
  }
  if (count < used) used = count;
  if (used <= 0) return 0;
  long double running = ReadOperand(operands[0].word, (descriptor >> 3) & 7, xmm);
  if ((descriptor & kNegateFirst) != 0) running = -running;
  for (int k = 1; k < used; ++k) {
    const std::uint32_t group = (descriptor >> (6 * k)) & 0x3F;
    const std::uint32_t operation = group & 7;
    if (operation < kOpAdd || operation > kOpDivide) continue;
    running = Combine(running, ReadOperand(operands[k].word, group >> 3, xmm), operation);
  }
  return running;
}

// Copies a number text (at most kNumberTextCapacity bytes) in two
// overlapping blocks, the common sizes without a call.
void CopyNumberText(char* to, const char* from, std::uint32_t length) {
  if (length >= 16) {
    if (length > 32) {
      std::memcpy(to, from, length);
      return;
    }
    std::memcpy(to, from, 16);
    std::memcpy(to + length - 16, from + length - 16, 16);
  } else if (length >= 8) {
    std::memcpy(to, from, 8);
    std::memcpy(to + length - 8, from + length - 8, 8);
  } else if (length >= 4) {
    std::memcpy(to, from, 4);
    std::memcpy(to + length - 4, from + length - 4, 4);
  } else {
    for (std::uint32_t i = 0; i < length; ++i) to[i] = from[i];
  }
}

// A format text inside the part of the area that the result will overwrite
// is copied away first.
char g_formatCopy[kTempTextMaxBytes];

const char* KeepFormatApart(const char* text, std::uint32_t length, const char* output) {
  if (text + length <= output || text >= output + kTempTextMaxBytes) return text;
  if (length >= kTempTextMaxBytes) FatalError(kErrorBuffer, nullptr);
  std::memmove(g_formatCopy, text, length);
  return g_formatCopy;
}

// Widens the bytes from text to end (its terminator included) to 16-bit
// characters in place, from the end backward; returns the new terminator.
char* Widen(char* text, char* end) {
  const std::size_t count = static_cast<std::size_t>(end - text);
  for (std::size_t i = count + 1; i-- > 0;) {
    text[2 * i + 1] = 0;
    text[2 * i] = text[i];
  }
  return text + 2 * count;
}

}  // namespace

NumberOperand FloatOperand(float value) {
  std::uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return {bits};
}

namespace {

std::uint64_t g_xmmAtEntry[8];

char* FormatNumberWithRegisters(StringArg format, std::uint32_t descriptor,
                                const NumberOperand* operands, int count,
                                const std::uint64_t* xmm) {
  // The plain floating form of one operand, the commonest call: no prefix or
  // suffix to measure, so the number is written straight into the area (the
  // operand is read before anything is written there).
  if (format == kFormatFloating && (descriptor & kWideResult) == 0 && PowersOfTenBuilt()) {
    char* end = TempTextReserve(kNumberTextCapacity + 1);
    if (AppendSingleExact(&end, descriptor, operands, count, xmm, g_defaultPrecision)) {
      *end = '\0';
      return TempTextEnd(end, kSlotNext).text;
    }
  }
  int mode = 0;
  const char* text = "";  // the selector forms have an empty format string
  std::uint32_t textLength = 0;
  if (format == kFormatSigned) {
    mode = 1;
  } else if (format == kFormatUnsigned) {
    mode = -1;
  } else if (format != kFormatFloating) {
    const TextView view = ResolveString(format);
    text = view.text;
    textLength = static_cast<std::uint32_t>(view.length);
    text = KeepFormatApart(text, textLength, TempTextBegin());
  }
  const FormatParts parts = ReadFormat(text, text + textLength, g_defaultPrecision, mode);

  if (!PowersOfTenBuilt()) {
    const std::uint16_t callers = FpuControlWord();
    BuildPowersOfTen();
    LoadControlWord(callers);
  }
  char number[kNumberTextCapacity];
  char* numberEnd = number;
  if (parts.mode != 0 ||
      !AppendSingleExact(&numberEnd, descriptor, operands, count, xmm, parts.digits)) {
    SetFpuControl(kFpuRoundDown);
    const long double value = Evaluate(descriptor, operands, count, xmm);
    numberEnd = AppendNumber(number, value, parts.mode, parts.digits);
    SetFpuControl(0);
  }

  const std::uint32_t numberLength = static_cast<std::uint32_t>(numberEnd - number);
  const std::uint64_t narrowBytes = std::uint64_t{EscapedLength(parts.prefix, parts.prefixEnd)} +
                                    numberLength + EscapedLength(parts.suffix, parts.suffixEnd) + 1;
  const bool wide = (descriptor & kWideResult) != 0;
  const std::uint64_t bytes = wide ? 2 * narrowBytes : narrowBytes;
  char* const start = TempTextReserve(
      bytes > kTempTextMaxBytes ? kTempTextMaxBytes + 1 : static_cast<std::uint32_t>(bytes));
  char* out = CopyEscaped(start, parts.prefix, parts.prefixEnd);
  CopyNumberText(out, number, numberLength);
  out = CopyEscaped(out + numberLength, parts.suffix, parts.suffixEnd);
  *out = '\0';
  if (wide) out = Widen(start, out);
  return TempTextEnd(out, kSlotNext).text;
}

}  // namespace

// Not instrumented by the sanitizers, and without stack objects, so that the
// registers are saved before anything of ours can use them.
__attribute__((noinline, no_sanitize("address", "undefined"))) char* FormatNumberList(
    StringArg format, std::uint32_t descriptor, const NumberOperand* operands, int count) {
  SaveXmmLow(g_xmmAtEntry);
  return FormatNumberWithRegisters(format, descriptor, operands, count, g_xmmAtEntry);
}

char* FormatExtended(StringArg format, long double value) {
  return FormatNumber(format, OperandGroup(0, kOpFirst, kKindExtendedPtr),
                      {ExtendedOperand(&value)});
}

void SetDefaultPrecision(int digits) {
  g_defaultPrecision = digits < 1 ? 1 : digits > kMaxDigits ? kMaxDigits : digits;
}

int DefaultPrecision() {
  return g_defaultPrecision;
}

// Division by ten is a multiplication by a fixed-point reciprocal: 2^67/10
// rounded up while the value needs 64 bits, 2^35/10 rounded up once it fits
// in 32.
char* WriteDigits(std::uint64_t value, char* rightmost, const char* point) {
  char* at = rightmost;
  for (;;) {
    if (at == point) *at-- = '.';
    std::uint64_t quotient;
    if ((value >> 32) != 0) {
      quotient = MultiplyHigh(value, 0xCCCCCCCCCCCCCCCDull) >> 3;
    } else {
      quotient = (value * 0xCCCCCCCDull) >> 35;
    }
    *at-- = static_cast<char>('0' + (value - quotient * 10));
    value = quotient;
    if (value == 0) return at;
  }
}

// ---- SSE register helpers ----------------------------------------------------------

#define TW_XMM_CASE(n)                                                \
  case n:                                                             \
    __asm__ volatile("movq %%xmm" #n ", %0" : "=m"(value)::"memory"); \
    break;

std::uint64_t ReadXmmLow(int n) {
  std::uint64_t value = 0;
  switch (n) {
    TW_XMM_CASE(0)
    TW_XMM_CASE(1)
    TW_XMM_CASE(2)
    TW_XMM_CASE(3)
    TW_XMM_CASE(4)
    TW_XMM_CASE(5)
    TW_XMM_CASE(6)
    TW_XMM_CASE(7)
    default:
      break;
  }
  return value;
}
#undef TW_XMM_CASE

// No clobbers are declared: the value is meant to stay in the register for
// the caller (declaring xmm6 and xmm7 would make a Windows x64 epilogue
// restore them). The value is taken by reference: on i386 a 64-bit argument
// is copied through xmm0, which would overwrite the caller's register.
#define TW_XMM_CASE(n)                                             \
  case n:                                                          \
    __asm__ volatile("movq %0, %%xmm" #n ::"m"(value) : "memory"); \
    break;

void WriteXmmLow(int n, const std::uint64_t& value) {
  switch (n) {
    TW_XMM_CASE(0)
    TW_XMM_CASE(1)
    TW_XMM_CASE(2)
    TW_XMM_CASE(3)
    TW_XMM_CASE(4)
    TW_XMM_CASE(5)
    TW_XMM_CASE(6)
    TW_XMM_CASE(7)
    default:
      break;
  }
}
#undef TW_XMM_CASE

void SaveXmmLow(std::uint64_t* slots) {
  __asm__ volatile(
      "movq %%xmm0, 0(%0)\n\t"
      "movq %%xmm1, 8(%0)\n\t"
      "movq %%xmm2, 16(%0)\n\t"
      "movq %%xmm3, 24(%0)\n\t"
      "movq %%xmm4, 32(%0)\n\t"
      "movq %%xmm5, 40(%0)\n\t"
      "movq %%xmm6, 48(%0)\n\t"
      "movq %%xmm7, 56(%0)" ::"r"(slots)
      : "memory");
}

void SaveXmmBank(XmmBank* bank) {
  __asm__ volatile(
      "movdqa %%xmm0, 0(%0)\n\t"
      "movdqa %%xmm1, 16(%0)\n\t"
      "movdqa %%xmm2, 32(%0)\n\t"
      "movdqa %%xmm3, 48(%0)\n\t"
      "movdqa %%xmm4, 64(%0)\n\t"
      "movdqa %%xmm5, 80(%0)\n\t"
      "movdqa %%xmm6, 96(%0)\n\t"
      "movdqa %%xmm7, 112(%0)" ::"r"(bank->bytes)
      : "memory");
}

// No clobbers, as for WriteXmmLow: the values are for the caller.
void LoadXmmBank(const XmmBank* bank) {
  __asm__ volatile(
      "movdqa 0(%0), %%xmm0\n\t"
      "movdqa 16(%0), %%xmm1\n\t"
      "movdqa 32(%0), %%xmm2\n\t"
      "movdqa 48(%0), %%xmm3\n\t"
      "movdqa 64(%0), %%xmm4\n\t"
      "movdqa 80(%0), %%xmm5\n\t"
      "movdqa 96(%0), %%xmm6\n\t"
      "movdqa 112(%0), %%xmm7" ::"r"(bank->bytes)
      : "memory");
}

}  // namespace tw
