// Text-to-number conversion and number comparison: the two classification
// tables, the lead skipping, the scan that finds the base, the hexadecimal,
// base-2 and decimal readers, the store by destination kind, and
// CompareFloat.
#include "support/parse.h"

#include <cmath>
#include <cstring>

#include "support/extended.h"
#include "support/numbers.h"
#include "support/parse_plain.h"
#include "support/startup.h"

namespace tw {

namespace parse_detail {
std::uint8_t g_scanClass[256];
bool g_tablesReady = false;
}  // namespace parse_detail

namespace {

using namespace parse_detail;

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

std::uint8_t g_digitClass[256];
bool g_tablesBuilt = false;

constexpr std::uint32_t kFpuRoundNearest = 3;  // 64-bit significand, to nearest
constexpr long double kTwoTo63 = 9223372036854775808.0L;
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

}  // namespace

NumberRead parse_detail::ReadNumberInto(StringArg text, std::uintptr_t destination,
                                        std::int32_t kind, PendingRegister* pending) {
  if (!g_tablesReady) PrepareTables();
  if (!DestinationUsable(destination, kind)) return {kReadError, kReadError};
  return ReadGeneral(text, destination, kind, pending);
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
