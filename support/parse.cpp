// Text-to-number conversion and number comparison: the two classification
// tables, the lead skipping, the scan that finds the base, the hexadecimal,
// base-2 and decimal readers, the store by destination kind, and
// CompareFloat.
#include "support/parse.h"

#include <cmath>
#include <cstring>

#include "support/extended.h"
#include "support/numbers.h"
#include "support/startup.h"

namespace tw {

namespace {

// Scan classes (the first table); characters not listed are errors.
enum ScanClass : std::uint8_t {
  kScanError = 0,
  kScanEnd,
  kScanPoint,
  kScanPart,
  kScanHexPrefix,
  kScanHexSuffix,
  kScanBinarySuffix,
  kScanB,  // base-2 suffix before a blank, else part of the number
  kScanD,  // decimal suffix before ")" or below, else part of the number
  kScanE,  // exponent mark
  kScanSign,
  kScanParenthesis,
};

// Digit-pass classes (the second table); characters not listed end the digits.
enum DigitClass : std::uint8_t {
  kDigitEnd = 0,
  kDigit,
  kDigitSkip,
  kDigitExponent,
};

constexpr std::uint8_t kListSeparator = 0xFE;
constexpr std::uint8_t kListEnd = 0xFF;

// The compact list the tables are built from: (character, class) pairs; "0"
// stands for all ten digits.
constexpr std::uint8_t kClassList[][2] = {
    {0, kScanEnd},
    {'\t', kScanEnd},
    {'\r', kScanEnd},
    {' ', kScanEnd},
    {'/', kScanEnd},
    {')', kScanEnd},
    {'.', kScanPoint},
    {'0', kScanPart},
    {',', kScanPart},
    {'a', kScanPart},
    {'A', kScanPart},
    {'c', kScanPart},
    {'C', kScanPart},
    {'f', kScanPart},
    {'F', kScanPart},
    {'$', kScanHexPrefix},
    {'x', kScanHexPrefix},
    {'X', kScanHexPrefix},
    {'h', kScanHexSuffix},
    {'H', kScanHexSuffix},
    {'y', kScanBinarySuffix},
    {'Y', kScanBinarySuffix},
    {'b', kScanB},
    {'B', kScanB},
    {'d', kScanD},
    {'D', kScanD},
    {'e', kScanE},
    {'E', kScanE},
    {'+', kScanSign},
    {'-', kScanSign},
    {'(', kScanParenthesis},
    {0, kListSeparator},
    {'0', kDigit},
    {'.', kDigitSkip},
    {',', kDigitSkip},
    {'e', kDigitExponent},
    {'E', kDigitExponent},
    {0, kListEnd},
};

std::uint8_t g_scanClass[256];
std::uint8_t g_digitClass[256];
bool g_tablesBuilt = false;
bool g_tablesReady = false;  // both classification tables and the powers of ten

constexpr std::uint32_t kFpuRoundNearest = 3;  // 64-bit significand, to nearest
constexpr long double kTwoTo63 = 9223372036854775808.0L;
constexpr int kHighestScale = 141;
constexpr int kLowestScale = -143;
constexpr int kExponentCap = 100000;
constexpr int kMaxHexDigits = 16;

void BuildClassTables() {
  std::uint8_t* table = g_scanClass;
  for (const auto& pair : kClassList) {
    if (pair[1] == kListEnd) break;
    if (pair[1] == kListSeparator) {
      table = g_digitClass;
      continue;
    }
    if (pair[0] == '0') {
      for (int c = '0'; c <= '9'; ++c) table[c] = pair[1];
    } else {
      table[pair[0]] = pair[1];
    }
  }
  g_tablesBuilt = true;
}

// The text being read; reading at or past limit gives the terminator.
struct Source {
  const char* text;
  const char* limit;
};

char At(const Source& source, std::int32_t index) {
  const char* at = source.text + index;
  return at < source.limit ? *at : '\0';
}

bool AtOrBelow(char c, char bound) {
  return static_cast<signed char>(c) <= bound;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void LoadControlWord(std::uint16_t word) {
  __asm__ volatile("fldcw %0" ::"m"(word) : "memory");
}

// The value rounded to a 64-bit integer as the x87 control word says.
std::int64_t RoundToInt64(long double value) {
  std::int64_t result;
  __asm__("fistpll %0" : "=m"(result) : "t"(value) : "st");
  return result;
}

// Every rounding of value gives a 64-bit integer (the extended values next
// to 2^63 are halves, so 2^63 - 1 is the highest that cannot round up to it).
bool FitsInt64(long double value) {
  return value >= -kTwoTo63 && value <= kTwoTo63 - 1;
}

// The rounding the reader works in: to nearest with a 64-bit significand.
// The control word is switched only when the caller's is not already that.
struct FpuMode {
  bool nearest;   // in force
  bool switched;  // by a SetFpuControl call that must be undone
};

void EnsureNearest(FpuMode* fpu) {
  if (fpu->nearest) return;
  fpu->nearest = true;
  if ((FpuControlWord() & 0x0F00) == (kFpuRoundNearest << 8)) return;
  SetFpuControl(kFpuRoundNearest);
  fpu->switched = true;
}

// True when an integer converts to the floating kind without rounding.
bool ExactlyRepresentable(std::int64_t value, std::int32_t kind) {
  const std::uint64_t magnitude =
      value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
  if (kind == kReadExtended) return true;
  return magnitude <= (std::uint64_t{1} << (kind == kReadFloat ? 24 : 53));
}

// What the reader found: an integer (hexadecimal, base 2, or a decimal
// integer that fits) or an extended value.
// An extended value is not kept in the record but in g_readingExtended (the
// library is single-threaded): records of plain words are passed around
// cheaply, and the 10-byte value is stored and loaded as a whole.
struct Reading {
  bool ok;
  bool isInteger;  // else the value is in g_readingExtended
  std::int64_t integer;
  std::int32_t end;  // characters used before parentheses
  std::int32_t base;
};

long double g_readingExtended;

Reading Failed() {
  return {false, false, 0, 0, 0};
}

Reading IntegerReading(std::int64_t value, std::int32_t end, std::int32_t base) {
  return {true, true, value, end, base};
}

// The hexadecimal digits from first to stop (exclusive), up to 16 of them.
// No digits at all is an error unless a "0" stands before them (or before
// the prefix): "0x" and "0h" read 0.
Reading ReadHexDigits(const Source& source, std::int32_t first, std::int32_t stop, std::int32_t end,
                      bool negative, bool zeroBefore) {
  if (stop - first > kMaxHexDigits) return Failed();
  if (stop == first && !zeroBefore) return Failed();
  std::uint64_t pattern = 0;
  for (std::int32_t i = first; i < stop; ++i) {
    const int digit = HexValue(At(source, i));
    if (digit < 0) return Failed();
    pattern = (pattern << 4) | static_cast<std::uint64_t>(digit);
  }
  std::int64_t value = static_cast<std::int64_t>(pattern);
  if (negative) value = static_cast<std::int64_t>(0 - pattern);
  return IntegerReading(value, end, kBaseHexadecimal);
}

// After "$", "x" or "X": hexadecimal digits, an optional "h", then the end of
// the number.
Reading ReadHexPrefixed(const Source& source, std::int32_t first, bool negative) {
  std::int32_t stop = first;
  while (HexValue(At(source, stop)) >= 0) ++stop;
  std::int32_t end = stop;
  if (At(source, end) == 'h' || At(source, end) == 'H') ++end;
  if (g_scanClass[static_cast<unsigned char>(At(source, end))] != kScanEnd) return Failed();
  const bool zeroBefore = first >= 2 && At(source, first - 2) == '0';
  return ReadHexDigits(source, first, stop, end, negative, zeroBefore);
}

// "0" and "1" from first up to the suffix at stop, shifted into a 32-bit word.
Reading ReadBinaryDigits(const Source& source, std::int32_t first, std::int32_t stop,
                         bool negative) {
  if (stop == first && (first == 0 || At(source, first - 1) != '0')) return Failed();
  std::uint32_t word = 0;
  for (std::int32_t i = first; i < stop; ++i) {
    const char c = At(source, i);
    if (c != '0' && c != '1') return Failed();
    word = (word << 1) | static_cast<std::uint32_t>(c - '0');
  }
  std::int64_t value = static_cast<std::int32_t>(word);
  if (negative) value = -value;
  return IntegerReading(value, stop + 1, kBaseBinary);
}

// The value of decimal digits scaled by 10^power: an integer when it is one
// and fits, else an extended value scaled with the table, rounding to nearest.
Reading DecimalValue(std::uint64_t whole, long double extended, bool isExtended, std::int32_t power,
                     bool negative, std::int32_t end, FpuMode* fpu) {
  // A negative zero is an extended value, so that the floating kinds keep its
  // sign.
  if (!isExtended && power == 0 && whole <= static_cast<std::uint64_t>(INT64_MAX) &&
      !(negative && whole == 0)) {
    const std::int64_t value = static_cast<std::int64_t>(whole);
    return IntegerReading(negative ? -value : value, end, kBaseDecimal);
  }
  if (power < kLowestScale || power > kHighestScale) return Failed();
  EnsureNearest(fpu);
  long double value = isExtended ? extended : static_cast<long double>(whole);
  if (power != 0) value *= g_powersOfTen[kPowersOfTenHighest - power];
  if (negative) value = -value;
  if (!std::isfinite(value)) return Failed();
  g_readingExtended = value;
  return {true, false, 0, end, kBaseDecimal};
}

// The decimal digit pass from first: digits with "." and "," between them,
// an optional exponent and an optional "d" suffix. The x87 unit is switched
// to rounding to nearest (once) when the value outgrows 64 bits or needs
// scaling.
Reading ReadDecimal(const Source& source, std::int32_t first, bool negative, FpuMode* fpu) {
  std::uint64_t whole = 0;
  long double extended = 0;
  bool isExtended = false;
  bool inFraction = false;
  std::int32_t decimals = 0;
  std::int32_t exponent = 0;
  std::int32_t at = first;
  for (;;) {
    const char c = At(source, at);
    const std::uint8_t cls = g_digitClass[static_cast<unsigned char>(c)];
    if (cls == kDigit) {
      const unsigned digit = static_cast<unsigned>(c - '0');
      if (!isExtended && whole <= (UINT64_MAX - 9) / 10) {
        whole = whole * 10 + digit;
      } else {
        if (!isExtended) {
          EnsureNearest(fpu);
          extended = static_cast<long double>(whole);
          isExtended = true;
        }
        extended = extended * 10 + static_cast<long double>(digit);
      }
      if (inFraction) ++decimals;
      ++at;
    } else if (cls == kDigitSkip) {
      if (c == '.') {
        if (inFraction) break;
        inFraction = true;
      }
      ++at;
    } else if (cls == kDigitExponent) {
      ++at;
      const bool exponentNegative = At(source, at) == '-';
      while (At(source, at) == '+' || At(source, at) == '-') ++at;
      std::int32_t digits = 0;
      for (char d = At(source, at); d >= '0' && d <= '9'; d = At(source, ++at)) {
        exponent = exponent * 10 + (d - '0');
        if (exponent > kExponentCap) exponent = kExponentCap;
        ++digits;
      }
      if (digits == 0) return Failed();
      if (exponentNegative) exponent = -exponent;
      break;
    } else {
      if ((c == 'd' || c == 'D') && AtOrBelow(At(source, at + 1), ')')) ++at;
      break;
    }
  }
  return DecimalValue(whole, extended, isExtended, exponent - decimals, negative, at, fpu);
}

// Digits, at most one point among them, an optional exponent with one
// optional sign, and an end-of-number character (or, after a point and no
// exponent, any character the digit pass does not read on): the common
// case, read in one pass. Anything else (commas, suffixes, more than 19
// digits, no digit) is left to the scan and the digit pass, which give the
// same result for these texts.
bool ReadPlainDecimal(const Source& source, std::int32_t first, bool negative, FpuMode* fpu,
                      Reading* reading) {
  std::uint64_t whole = 0;
  std::int32_t digits = 0, decimals = 0, exponent = 0, at = first;
  char c = At(source, at);
  for (; c >= '0' && c <= '9'; c = At(source, ++at), ++digits) {
    whole = whole * 10 + static_cast<unsigned>(c - '0');
  }
  const bool point = c == '.';
  if (point) {
    for (c = At(source, ++at); c >= '0' && c <= '9'; c = At(source, ++at), ++decimals) {
      whole = whole * 10 + static_cast<unsigned>(c - '0');
    }
  }
  if (c == 'e' || c == 'E') {
    // One optional sign and digits, then the end of the number.
    c = At(source, ++at);
    const bool exponentNegative = c == '-';
    if (c == '+' || c == '-') c = At(source, ++at);
    if (c < '0' || c > '9') return false;
    for (; c >= '0' && c <= '9'; c = At(source, ++at)) {
      exponent = exponent * 10 + (c - '0');
      if (exponent > kExponentCap) exponent = kExponentCap;
    }
    if (g_scanClass[static_cast<unsigned char>(c)] != kScanEnd) return false;
    if (exponentNegative) exponent = -exponent;
  } else if (point) {
    if (c == '.' || g_digitClass[static_cast<unsigned char>(c)] != kDigitEnd || c == 'd' ||
        c == 'D') {
      return false;
    }
  } else if (g_scanClass[static_cast<unsigned char>(c)] != kScanEnd) {
    return false;
  }
  digits += decimals;
  if (digits == 0 || digits > 19) return false;
  *reading = DecimalValue(whole, 0, false, exponent - decimals, negative, at, fpu);
  return true;
}

// Lead skipping, scan and the reader of the base found.
Reading ReadFromText(const Source& source, std::int32_t* parentheses, FpuMode* fpu) {
  std::int32_t at = 0;
  bool zeros = false;
  for (;;) {
    const char c = At(source, at);
    if (AtOrBelow(c, ' ')) {
      if (zeros) return IntegerReading(0, at, kBaseDecimal);
      if (c == '\0') return Failed();  // blanks only
      ++at;
    } else if (c == '0') {
      zeros = true;
      ++at;
    } else if (c == '(') {
      ++*parentheses;
      zeros = false;
      ++at;
    } else {
      if (c == '+' && !zeros) ++at;  // skipped once; the skipping ends here
      break;
    }
  }
  bool negative = false;
  if (g_scanClass[static_cast<unsigned char>(At(source, at))] == kScanHexPrefix) {
    return ReadHexPrefixed(source, at + 1, false);
  }
  if (At(source, at) == '-') {
    negative = true;
    ++at;
  }
  const std::int32_t first = at;
  Reading plain;
  if (ReadPlainDecimal(source, first, negative, fpu, &plain)) return plain;
  for (;;) {
    const char c = At(source, at);
    switch (g_scanClass[static_cast<unsigned char>(c)]) {
      case kScanPart:
        ++at;
        continue;
      case kScanHexSuffix:
        return ReadHexDigits(source, first, at, at + 1, negative,
                             first >= 1 && At(source, first - 1) == '0');
      case kScanBinarySuffix:
        return ReadBinaryDigits(source, first, at, negative);
      case kScanB:
        if (AtOrBelow(At(source, at + 1), ' '))
          return ReadBinaryDigits(source, first, at, negative);
        ++at;
        continue;
      case kScanD:
        if (AtOrBelow(At(source, at + 1), ')')) break;  // decimal suffix
        ++at;
        continue;
      case kScanE:
        if (AtOrBelow(At(source, at + 1), ')')) return Failed();
        ++at;
        while (At(source, at) == '+' || At(source, at) == '-') ++at;  // the exponent's signs
        continue;
      case kScanEnd:
      case kScanPoint:
      case kScanSign:         // a sign inside the number ends it
      case kScanParenthesis:  // so does a parenthesis
        break;
      case kScanHexPrefix:  // valid only as the first character
      default:
        return Failed();
    }
    break;
  }
  return ReadDecimal(source, first, negative, fpu);
}

// The characters up to the next ")" (included) or the terminator.
std::int32_t PassParentheses(const Source& source, std::int32_t at) {
  for (;;) {
    const char c = At(source, at);
    if (c == ')') return at + 1;
    if (c == '\0') return at;
    ++at;
  }
}

struct PendingRegister {
  int number;  // -1: none
  std::uint64_t bits;
};

bool IsRegisterKind(std::int32_t kind) {
  return kind == kReadXmmDouble || kind == kReadXmmInt64 || kind == kReadXmmInt64Also;
}

// Stores an integer reading in an integer destination (kinds 0, 5, 6, 7).
bool StoreInteger(std::int64_t integer, std::uintptr_t destination, std::int32_t kind,
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

// Stores the reading by kind; false when it cannot be stored (an integer
// destination and a value outside the 64-bit range).
bool Store(const Reading& reading, std::uintptr_t destination, std::int32_t kind, FpuMode fpu,
           std::int32_t* value, PendingRegister* pending) {
  std::int64_t integer = reading.integer;
  // Integers that the destination holds exactly are converted without the
  // x87 unit.
  if (reading.isInteger && ExactlyRepresentable(integer, kind)) {
    if (kind == kReadFloat) {
      const float narrow = static_cast<float>(integer);
      std::memcpy(reinterpret_cast<void*>(destination), &narrow, sizeof narrow);
      return true;
    }
    if (kind == kReadDouble || kind == kReadXmmDouble) {
      const double narrow = static_cast<double>(integer);
      if (kind == kReadDouble) {
        std::memcpy(reinterpret_cast<void*>(destination), &narrow, sizeof narrow);
      } else {
        pending->number = static_cast<int>(destination - kXmmSelectorBase);
        std::memcpy(&pending->bits, &narrow, sizeof narrow);
      }
      return true;
    }
  }
  if (reading.isInteger && kind != kReadFloat && kind != kReadDouble && kind != kReadExtended &&
      kind != kReadXmmDouble) {
    return StoreInteger(integer, destination, kind, value, pending);
  }
  const long double extended =
      reading.isInteger ? static_cast<long double>(integer) : g_readingExtended;
  if (!reading.isInteger && (kind == kReadInt32 || kind == kReadInt64)) {
    if (!FitsInt64(extended)) return false;
    integer = RoundToInt64(extended);  // to nearest, ties to even
  }
  if (!reading.isInteger && (kind == kReadXmmInt64 || kind == kReadXmmInt64Also)) {
    if (!FitsInt64(extended)) return false;
    if (fpu.switched) SetFpuControl(0);  // the caller's rounding
    integer = RoundToInt64(extended);
    if (fpu.switched) SetFpuControl(kFpuRoundNearest);
  }
  switch (kind) {
    case kReadInt32:
      *value = static_cast<std::int32_t>(static_cast<std::uint32_t>(integer));
      return true;
    case kReadFloat: {
      const float narrow = static_cast<float>(extended);
      std::memcpy(reinterpret_cast<void*>(destination), &narrow, sizeof narrow);
      return true;
    }
    case kReadDouble: {
      const double narrow = static_cast<double>(extended);
      std::memcpy(reinterpret_cast<void*>(destination), &narrow, sizeof narrow);
      return true;
    }
    case kReadExtended:
      *reinterpret_cast<long double*>(destination) = extended;
      return true;
    case kReadInt64:
      std::memcpy(reinterpret_cast<void*>(destination), &integer, sizeof integer);
      return true;
    case kReadXmmDouble: {
      const double narrow = static_cast<double>(extended);
      pending->number = static_cast<int>(destination - kXmmSelectorBase);
      std::memcpy(&pending->bits, &narrow, sizeof narrow);
      return true;
    }
    default:  // 5 and 7
      pending->number = static_cast<int>(destination - kXmmSelectorBase);
      pending->bits = static_cast<std::uint64_t>(integer);
      return true;
  }
}

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
// not used.
__attribute__((no_sanitize("address"))) bool LoadEightInPage(const char* at, std::uint64_t* bytes) {
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
    if (AtOrBelow(*at, ' ')) return false;  // zeros alone: the lead gives 0
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
      const float narrow = static_cast<float>(integer);
      std::memcpy(reinterpret_cast<void*>(destination), &narrow, sizeof narrow);
      return true;
    }
  } else if (kind != kReadDouble && kind != kReadExtended && kind != kReadXmmDouble) {
    return false;  // a rounding to an integer or to a 32-bit float
  }
  if (plain.power < kLowestScale || plain.power > kHighestScale) return false;
  if (isInteger && kind != kReadExtended && plain.whole <= (std::uint64_t{1} << 53)) {
    // Exact in a 64-bit float.
    const double narrow = static_cast<double>(static_cast<std::int64_t>(plain.whole));
    std::uint64_t bits;
    std::memcpy(&bits, &narrow, sizeof bits);
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

bool DestinationUsable(std::uintptr_t destination, std::int32_t kind) {
  if (kind < kReadInt32 || kind > kReadXmmInt64Also) return false;
  if (kind == kReadInt32) return true;
  if (IsRegisterKind(kind)) {
    return destination >= kXmmSelectorBase && destination < kXmmSelectorBase + 8;
  }
  return destination != 0;
}

Source SourceOf(StringArg source) {
  if (source > kNewestResult) {
    return {reinterpret_cast<const char*>(source), reinterpret_cast<const char*>(UINTPTR_MAX)};
  }
  const TextView view = ResolveString(source);
  return {view.text, view.text + view.length};
}

// Builds the tables the reader uses, on the first call.
void PrepareTables() {
  if (!g_tablesBuilt) BuildClassTables();
  if (!PowersOfTenBuilt()) {
    const std::uint16_t callers = FpuControlWord();
    BuildPowersOfTen();
    LoadControlWord(callers);
  }
  g_tablesReady = true;
}

// Every text and kind (the texts of the fast path included): the lead, the
// scan and the reader of the base found, the store, the parentheses.
__attribute__((noinline)) NumberRead ReadGeneral(StringArg text, std::uintptr_t destination,
                                                 std::int32_t kind, PendingRegister* pending) {
  constexpr NumberRead kError = {kReadError, kReadError};
  const Source source = SourceOf(text);
  std::int32_t parentheses = 0;
  FpuMode fpu = {false, false};
  const Reading reading = ReadFromText(source, &parentheses, &fpu);
  std::int32_t value = 0;
  bool stored = false;
  if (reading.ok) {
    if (!reading.isInteger) EnsureNearest(&fpu);
    const bool floatKind = kind >= kReadFloat && kind <= kReadXmmDouble;
    if (floatKind && !ExactlyRepresentable(reading.integer, kind)) EnsureNearest(&fpu);
    stored = Store(reading, destination, kind, fpu, &value, pending);
  }
  if (fpu.switched) SetFpuControl(0);
  if (!stored) {
    pending->number = -1;
    return kError;
  }
  std::int32_t used = reading.end;
  if (parentheses > 0) used = PassParentheses(source, used);
  return {value, used + 256 * reading.base};
}

NumberRead ReadNumberInto(StringArg text, std::uintptr_t destination, std::int32_t kind,
                          PendingRegister* pending) {
  if (!g_tablesReady) PrepareTables();
  if (!DestinationUsable(destination, kind)) return {kReadError, kReadError};
  NumberRead fast;
  if (text > kNewestResult &&
      ReadPlainFast(reinterpret_cast<const char*>(text), destination, kind, &fast, pending)) {
    return fast;
  }
  return ReadGeneral(text, destination, kind, pending);
}

}  // namespace

// The caller's registers and the pending register write live in static
// records, and this entry is not instrumented by the sanitizers: it has no
// stack objects whose clean-up could use the vector registers after they
// have been loaded.
XmmBank g_callersXmm;
PendingRegister g_pendingRegister;

__attribute__((noinline, no_sanitize("address", "undefined"))) NumberRead ReadNumber(
    StringArg source, std::uintptr_t destination, std::int32_t kind) {
  SaveXmmBank(&g_callersXmm);  // first, before any code of ours uses the registers
  g_pendingRegister.number = -1;
  const NumberRead result = ReadNumberInto(source, destination, kind, &g_pendingRegister);
  // The registers are loaded last, so that nothing of ours uses them
  // afterwards: the caller's values, and the destination register's new one.
  LoadXmmBank(&g_callersXmm);
  if (g_pendingRegister.number >= 0) {
    WriteXmmLow(g_pendingRegister.number, g_pendingRegister.bits);
  }
  return result;
}

FloatOrder CompareFloat(long double first, long double second, std::int32_t precision) {
  const double a = static_cast<double>(first);
  const double b = static_cast<double>(second);
  if (a != a || b != b) return kFirstAbove;
  std::uint64_t aBits, bBits;
  std::memcpy(&aBits, &a, sizeof a);
  std::memcpy(&bBits, &b, sizeof b);
  const std::uint64_t differing = aBits ^ bBits;
  if (differing == 0) return kBothEqual;
  const int highestByte = (63 - __builtin_clzll(differing)) / 8;
  if (highestByte < precision) return kBothEqual;
  if (a == b) return kBothEqual;
  return a < b ? kFirstBelow : kFirstAbove;
}

}  // namespace tw
