// ReadNumber's entry and its plain decimal fast path, compiled to use the
// general registers only (no vector or x87 register): a plain decimal is read
// and stored without touching the caller's xmm0 to xmm7, and only the texts
// and kinds left to the general reader pay for saving and restoring them.
#include <cstring>

#include "support/extended.h"
#include "support/numbers.h"
#include "support/parse.h"
#include "support/parse_plain.h"
#include "support/startup.h"

namespace tw {

bool parse_detail::IsRegisterKind(std::int32_t kind) {
  return kind == kReadXmmDouble || kind == kReadXmmInt64 || kind == kReadXmmInt64Also;
}

bool parse_detail::DestinationUsable(std::uintptr_t destination, std::int32_t kind) {
  if (kind < kReadInt32 || kind > kReadXmmInt64Also) return false;
  if (kind == kReadInt32) return true;
  if (IsRegisterKind(kind)) {
    return destination >= kXmmSelectorBase && destination < kXmmSelectorBase + 8;
  }
  return destination != 0;
}

bool parse_detail::StoreInteger(std::int64_t integer, std::uintptr_t destination, std::int32_t kind,
                                std::int32_t* value, PendingRegister* pending) {
  if (kind == kReadInt32) {
    *value = static_cast<std::int32_t>(static_cast<std::uint32_t>(integer));
  } else if (kind == kReadInt64) {
    std::memcpy(reinterpret_cast<void*>(destination), &integer, sizeof integer);
  } else {
    pending->number = static_cast<int>(destination - kXmmSelectorBase);
    pending->bits = static_cast<std::uint64_t>(integer);
  }
  return true;
}

namespace {

using namespace parse_detail;

// ---- The plain decimal fast path ------------------------------------------------
// A number text of the form [-]digits[.digits][e[+|-]digits] with at most 19
// significant digits, at a text address, read in one pass and scaled with
// integer arithmetic that gives the x87 unit's product bit for bit: the
// digits' value (below 2^64, so exact) times the table entry, rounded to
// nearest even with a 64-bit significand; a 64-bit float destination then
// rounds that to 53 bits, to nearest even, as the unit's store does. The
// products lie from 10^-143 to below 10^160, far from every limit of both
// formats, so no result is subnormal or infinite. Anything else (leading
// blanks, "+", "(", commas, suffixes, the other bases, more digits, powers out
// of range, destination kinds that need the unit) is left to the general
// reader, which gives the same results for the texts taken here.

// A plain decimal as read: its digits' value, the power of ten that scales
// it, and the characters used.
struct PlainDecimal {
  std::uint64_t whole;
  std::int32_t power;
  std::int32_t end;
  bool negative;
};

constexpr std::uintptr_t kPageSize = 4096;  // the smallest x86 page
constexpr std::uint64_t kEachByte = 0x0101010101010101ull;

// Eight bytes from at, when they lie within at's page: past the text's
// terminator they are bytes of the same page, which can be read, and are
// not used (the file is not instrumented by the address sanitizer).
bool LoadEightInPage(const char* at, std::uint64_t* bytes) {
  if ((reinterpret_cast<std::uintptr_t>(at) & (kPageSize - 1)) > kPageSize - 8) return false;
  std::memcpy(bytes, at, sizeof *bytes);
  return true;
}

// The value of eight digit values 0 to 9, the first in the lowest byte.
std::uint64_t ValueOfEightDigits(std::uint64_t digits) {
  digits = digits * 10 + (digits >> 8);  // pairs of digits in bytes 0, 2, 4, 6
  constexpr std::uint64_t kPairs = 0x000000FF000000FFull;
  return ((digits & kPairs) * (100 + (1000000ull << 32)) +
          ((digits >> 16) & kPairs) * (1 + (10000ull << 32))) >>
         32;
}

// True when all eight bytes are "0" to "9": each byte then reads 0x33 below.
bool EightDigits(std::uint64_t bytes) {
  constexpr std::uint64_t kHigh = 0xF0 * kEachByte;
  return ((bytes & kHigh) | (((bytes + 0x06 * kEachByte) & kHigh) >> 4)) == 0x33 * kEachByte;
}

// The run of decimal digits from at: the first eight one at a time (most
// runs are shorter), then eight at a time while the page allows and all
// eight are digits, then one at a time. Adds the run's value to *whole
// (modulo 2^64; a run that long is not taken) and returns the position after
// it.
inline const char* ReadDigitRun(const char* at, std::uint64_t* whole) {
  std::uint64_t value = *whole;
  unsigned digit;
  for (int i = 0; i < 8; ++i) {
    digit = static_cast<unsigned char>(*at) - static_cast<unsigned>('0');
    if (digit > 9) {
      *whole = value;
      return at;
    }
    value = value * 10 + digit;
    ++at;
  }
  std::uint64_t bytes;
  while (LoadEightInPage(at, &bytes) && EightDigits(bytes)) {
    value = value * 100000000 + ValueOfEightDigits(bytes - 0x30 * kEachByte);
    at += 8;
  }
  while ((digit = static_cast<unsigned char>(*at) - static_cast<unsigned>('0')) <= 9) {
    value = value * 10 + digit;
    ++at;
  }
  *whole = value;
  return at;
}

// Reads the plain form at a text address; false when the text is not of it.
// The lead is what the general reader's lead skipping and ReadPlainDecimal
// take: one "-", or zeros, before the digits.
bool ReadPlainForm(const char* text, PlainDecimal* plain) {
  const char* at = text;
  const bool negative = *at == '-';
  if (negative) {
    ++at;
  } else {
    while (*at == '0') ++at;
    if (static_cast<signed char>(*at) <= ' ') return false;  // zeros alone: the lead gives 0
  }
  std::uint64_t whole = 0;
  const char* const first = at;
  at = ReadDigitRun(at, &whole);
  std::int32_t digits = static_cast<std::int32_t>(at - first);
  std::int32_t decimals = 0;
  if (*at == '.') {
    const char* const fraction = ++at;
    at = ReadDigitRun(at, &whole);
    decimals = static_cast<std::int32_t>(at - fraction);
    digits += decimals;
  }
  if (digits == 0 || digits > 19) return false;
  std::int32_t exponent = 0;
  unsigned digit;
  if (*at == 'e' || *at == 'E') {
    ++at;
    const bool exponentNegative = *at == '-';
    if (*at == '+' || *at == '-') ++at;
    digit = static_cast<unsigned char>(*at) - static_cast<unsigned>('0');
    if (digit > 9) return false;
    do {
      exponent = exponent * 10 + static_cast<std::int32_t>(digit);
      if (exponent > kExponentCap) exponent = kExponentCap;
      ++at;
      digit = static_cast<unsigned char>(*at) - static_cast<unsigned>('0');
    } while (digit <= 9);
    if (exponentNegative) exponent = -exponent;
  }
  // Only the characters that end a number in every reading of it.
  if (g_scanClass[static_cast<unsigned char>(*at)] != kScanEnd) return false;
  *plain = {whole, exponent - decimals, static_cast<std::int32_t>(at - text), negative};
  return true;
}

// whole x 10^power rounded to nearest even with a 64-bit significand (whole
// not 0, power within the table).
ExtendedParts ScaleToNearest(std::uint64_t whole, std::int32_t power) {
  const int shift = __builtin_clzll(whole);
  const ExtendedParts scale = PartsOf(g_powersOfTen[kPowersOfTenHighest - power]);
  const WideProduct product = MultiplySignificands(whole << shift, scale.significand);
  std::uint64_t significand = product.significand;
  std::int32_t exponent = 63 - shift + scale.exponent + product.carry;
  constexpr std::uint64_t kHalf = std::uint64_t{1} << 63;
  if (product.rest > kHalf || (product.rest == kHalf && (significand & 1) != 0)) {
    if (++significand == 0) {
      significand = kHalf;
      ++exponent;
    }
  }
  return {significand, exponent};
}

// The bits of the 64-bit float nearest to an extended value (ties to even;
// the value within the normal range of 64-bit floats, or zero).
std::uint64_t DoubleBitsOf(bool negative, const ExtendedParts& value) {
  const std::uint64_t sign = negative ? std::uint64_t{1} << 63 : 0;
  if (value.significand == 0) return sign;
  std::uint64_t significand = value.significand >> 11;
  std::int32_t exponent = value.exponent;
  const std::uint64_t below = value.significand & 0x7FF;
  if (below > 0x400 || (below == 0x400 && (significand & 1) != 0)) {
    if (++significand == std::uint64_t{1} << 53) {
      significand >>= 1;
      ++exponent;
    }
  }
  return sign | (static_cast<std::uint64_t>(exponent + 1023) << 52) |
         (significand & ((std::uint64_t{1} << 52) - 1));
}

// The bits of a whole number (below 2^(fraction + 1), so exact) as a binary
// float with fraction bits below its leading one and the given exponent bias,
// made without the floating-point units.
std::uint64_t ExactFloatBits(std::uint64_t whole, int fraction, int bias) {
  if (whole == 0) return 0;
  const int top = 63 - __builtin_clzll(whole);
  const std::uint64_t below = (whole << (fraction - top)) & ((std::uint64_t{1} << fraction) - 1);
  return (static_cast<std::uint64_t>(top + bias) << fraction) | below;
}

// Kind 2 stores a 64-bit float at the destination, kind 4 in the register.
void StoreDoubleBits(std::uint64_t bits, std::uintptr_t destination, std::int32_t kind,
                     PendingRegister* pending) {
  if (kind == kReadDouble) {
    std::memcpy(reinterpret_cast<void*>(destination), &bits, sizeof bits);
  } else {
    pending->number = static_cast<int>(destination - kXmmSelectorBase);
    pending->bits = bits;
  }
}

// Reads a plain decimal at a text address into a destination of a valid
// kind; false (nothing stored) when the general reader must do it.
bool ReadPlainFast(const char* text, std::uintptr_t destination, std::int32_t kind,
                   NumberRead* result, PendingRegister* pending) {
  PlainDecimal plain;
  if (!ReadPlainForm(text, &plain)) return false;
  *result = {0, plain.end};
  // What the general reader keeps as an integer: it goes to every kind that
  // holds it exactly without the x87 unit.
  const bool isInteger = plain.power == 0 && plain.whole <= static_cast<std::uint64_t>(INT64_MAX) &&
                         !(plain.negative && plain.whole == 0);
  if (isInteger) {
    const std::int64_t magnitude = static_cast<std::int64_t>(plain.whole);
    const std::int64_t integer = plain.negative ? -magnitude : magnitude;
    if (kind == kReadInt32 || kind == kReadInt64 || kind == kReadXmmInt64 ||
        kind == kReadXmmInt64Also) {
      return StoreInteger(integer, destination, kind, &result->value, pending);
    }
    if (kind == kReadFloat) {
      if (plain.whole > (std::uint64_t{1} << 24)) return false;
      const std::uint32_t bits = static_cast<std::uint32_t>(ExactFloatBits(plain.whole, 23, 127)) |
                                 (plain.negative ? 0x80000000u : 0u);
      std::memcpy(reinterpret_cast<void*>(destination), &bits, sizeof bits);
      return true;
    }
  } else if (kind != kReadDouble && kind != kReadExtended && kind != kReadXmmDouble) {
    return false;  // a rounding to an integer or to a 32-bit float
  }
  if (plain.power < kLowestScale || plain.power > kHighestScale) return false;
  if (isInteger && kind != kReadExtended && plain.whole <= (std::uint64_t{1} << 53)) {
    // Exact in a 64-bit float.
    std::uint64_t bits = ExactFloatBits(plain.whole, 52, 1023);
    if (plain.negative) bits |= std::uint64_t{1} << 63;
    StoreDoubleBits(bits, destination, kind, pending);
    return true;
  }
  const ExtendedParts value =
      plain.whole == 0 ? ExtendedParts{0, 0} : ScaleToNearest(plain.whole, plain.power);
  if (kind == kReadExtended) {
    StoreExtended(reinterpret_cast<void*>(destination), plain.negative, value);
    return true;
  }
  StoreDoubleBits(DoubleBitsOf(plain.negative, value), destination, kind, pending);
  return true;
}

}  // namespace

// The caller's registers and the pending register write live in static
// records. The fast path reads and stores with general registers alone; the
// general reader runs between a save and a restore of the caller's
// registers. Neither this entry nor the fast path is instrumented by the
// sanitizers (their run-time routines may use the vector registers).
XmmBank g_callersXmm;
PendingRegister g_pendingRegister;

__attribute__((noinline)) NumberRead ReadNumber(StringArg source, std::uintptr_t destination,
                                                std::int32_t kind) {
  g_pendingRegister.number = -1;
  NumberRead result;
  if (g_tablesReady && source > kNewestResult && DestinationUsable(destination, kind) &&
      ReadPlainFast(reinterpret_cast<const char*>(source), destination, kind, &result,
                    &g_pendingRegister)) {
    if (g_pendingRegister.number >= 0) {
      WriteXmmLow(g_pendingRegister.number, g_pendingRegister.bits);
    }
    return result;
  }
  SaveXmmBank(&g_callersXmm);  // before any code that may use the registers
  g_pendingRegister.number = -1;
  result = ReadNumberInto(source, destination, kind, &g_pendingRegister);
  // The registers are loaded last, so that nothing of ours uses them
  // afterwards: the caller's values, and the destination register's new one.
  LoadXmmBank(&g_callersXmm);
  if (g_pendingRegister.number >= 0) {
    WriteXmmLow(g_pendingRegister.number, g_pendingRegister.bits);
  }
  return result;
}

}  // namespace tw
