// Text-to-number conversion and number comparison: the documented table of
// ReadNumber (results, counts, base flags), the forms and errors, the
// destination kinds (registers through an asm-level driver), bad input, a
// randomized comparison with exact big-integer arithmetic, and CompareFloat.
#include "support/parse.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>

#include "support/numbers.h"
#include "support/startup.h"
#include "support/strings.h"
#include "tools/bignum.h"
#include "tools/guarded_page.h"
#include "tools/xmm_call.h"

namespace {

using tw::Arg;

struct Expected {
  const char* text;
  std::int32_t value;
  std::int32_t used;
  std::int32_t base;
};

void ExpectRead(const Expected& e) {
  const tw::NumberRead read = tw::ReadNumber(Arg(e.text), 0, tw::kReadInt32);
  EXPECT_EQ(read.value, e.value) << '"' << e.text << '"';
  EXPECT_EQ(read.count, e.used + 256 * e.base) << '"' << e.text << '"';
}

void ExpectError(const char* text) {
  const tw::NumberRead read = tw::ReadNumber(Arg(text), 0, tw::kReadInt32);
  EXPECT_EQ(read.value, tw::kReadError) << '"' << text << '"';
  EXPECT_EQ(read.count, tw::kReadError) << '"' << text << '"';
}

TEST(ReadNumber, DocumentedTable) {
  static const Expected kCases[] = {
      {"123", 123, 3, 0},
      {"  -42 apples", -42, 5, 0},
      {"0x1F", 31, 4, 2},
      {"$ff", 255, 3, 2},
      {"1Fh", 31, 3, 2},
      {"101b", 5, 4, 1},
      {"101y", 5, 4, 1},
      {"12d", 12, 3, 0},
      {"2.5", 2, 3, 0},
      {"3.5", 4, 3, 0},
      {"12abc", 12, 2, 0},
      {"abc", 0, 0, 0},
      {"0", 0, 1, 0},
      {"000", 0, 3, 0},
      {"0 12", 0, 1, 0},
      {"(12)", 12, 4, 0},
      {"5\r", 5, 1, 0},
      {"-2.5", -2, 4, 0},
      {"123456789", 123456789, 9, 0},
      {"-2147483648", INT32_MIN, 11, 0},
  };
  for (const Expected& e : kCases) ExpectRead(e);
  ExpectError("?");
  ExpectError("1e");
}

TEST(ReadNumber, FloatingDestinations) {
  double d = 0;
  EXPECT_EQ(tw::ReadNumber(Arg("1,234.5"), Arg(&d), tw::kReadDouble).count, 7);
  EXPECT_EQ(d, 1234.5);
  EXPECT_EQ(tw::ReadNumber(Arg("15e-3"), Arg(&d), tw::kReadDouble).count, 5);
  EXPECT_EQ(d, 0.015);
  EXPECT_EQ(tw::ReadNumber(Arg("-1.5e3"), Arg(&d), tw::kReadDouble).count, 6);
  EXPECT_EQ(d, -1500);
  EXPECT_EQ(tw::ReadNumber(Arg("1.5\n"), Arg(&d), tw::kReadDouble).count, 3);  // ends at "."
  EXPECT_EQ(d, 1.5);
  EXPECT_EQ(tw::ReadNumber(Arg("0.5"), Arg(&d), tw::kReadDouble).count, 3);
  EXPECT_EQ(d, 0.5);
  EXPECT_EQ(tw::ReadNumber(Arg("1e--5"), Arg(&d), tw::kReadDouble).count, 5);
  EXPECT_EQ(d, 1e-5);
  float f = 0;
  EXPECT_EQ(tw::ReadNumber(Arg("0.1"), Arg(&f), tw::kReadFloat).count, 3);
  EXPECT_EQ(f, 0.1f);
  long double x = 0;
  EXPECT_EQ(tw::ReadNumber(Arg("1e-143"), Arg(&x), tw::kReadExtended).count, 6);
  EXPECT_EQ(x, tw::PowerOfTen(-143));  // one table lookup
  EXPECT_EQ(tw::ReadNumber(Arg("123456789012345678901234567890"), Arg(&x), tw::kReadExtended).count,
            30);
  EXPECT_NEAR(static_cast<double>(x / 123456789012345678901234567890.0L), 1.0, 1e-17);
  EXPECT_EQ(tw::ReadNumber(Arg("$ff"), Arg(&d), tw::kReadDouble).count, 3 + 512);
  EXPECT_EQ(d, 255);
}

TEST(ReadNumber, IntegerDestinations) {
  std::int64_t n = 0;
  EXPECT_EQ(tw::ReadNumber(Arg("9007199254740993"), Arg(&n), tw::kReadInt64).count, 16);
  EXPECT_EQ(n, 9007199254740993LL);
  EXPECT_EQ(tw::ReadNumber(Arg("-9223372036854775808"), Arg(&n), tw::kReadInt64).count, 20);
  EXPECT_EQ(n, INT64_MIN);
  EXPECT_EQ(tw::ReadNumber(Arg("$FFFFFFFFFFFFFFFF"), Arg(&n), tw::kReadInt64).count, 17 + 512);
  EXPECT_EQ(n, -1);
  EXPECT_EQ(tw::ReadNumber(Arg("2.5e1"), Arg(&n), tw::kReadInt64).count, 5);
  EXPECT_EQ(n, 25);
  EXPECT_EQ(tw::ReadNumber(Arg("4294967296"), 0, tw::kReadInt32).value, 0);  // low 32 bits
  EXPECT_EQ(tw::ReadNumber(Arg("-2147483649"), 0, tw::kReadInt32).value, INT32_MAX);
  // The library's table makes some results differ from correct rounding.
  EXPECT_EQ(tw::ReadNumber(Arg("2.50"), 0, tw::kReadInt32).value, 3);
  // Beyond the 64-bit range an integer destination is an error.
  n = 77;
  EXPECT_EQ(tw::ReadNumber(Arg("9223372036854775808"), Arg(&n), tw::kReadInt64).count,
            tw::kReadError);
  EXPECT_EQ(n, 77);
  ExpectError("1e30");
}

TEST(ReadNumber, HexadecimalAndBaseTwoForms) {
  static const Expected kCases[] = {
      {"0x", 0, 2, 2},
      {"0h", 0, 2, 2},
      {"0X10", 16, 4, 2},
      {"x10", 16, 3, 2},
      {"1FH", 31, 3, 2},
      {"$ffh", 255, 4, 2},
      {"$1b", 27, 3, 2},
      {"1bh", 27, 3, 2},
      {"DEADh", 57005, 5, 2},
      {"-1Fh", -31, 4, 2},
      {"$ff)", 255, 3, 2},
      {"0b", 0, 2, 1},
      {"0y", 0, 2, 1},
      {"11B", 3, 3, 1},
      {"11Y", 3, 3, 1},
      {"11111111111111111111111111111111b", -1, 33, 1},
      {"100000000000000000000000000000001b", 1, 34, 1},  // 33 digits: the high one drops out
  };
  for (const Expected& e : kCases) ExpectRead(e);
  for (const char* text : {"$", "x", "h", "b", "$1g", "0x1G", "1gh", "$ff\n", "$ff.5", "1,0h",
                           "$12345678123456781", "121b", "2y", "-$ff", "1x"}) {
    ExpectError(text);
  }
}

TEST(ReadNumber, LeadSignsParenthesesAndSuffixes) {
  static const Expected kCases[] = {
      {"+5", 5, 2, 0},
      {"+ 5", 0, 1, 0},  // a "+" does not restart the skipping
      {"( 12 )", 12, 6, 0},
      {"(12", 12, 3, 0},
      {"((7))", 7, 4, 0},
      {"(-3)", -3, 4, 0},
      {"12d)", 12, 3, 0},
      {"12D", 12, 3, 0},
      {"12d5", 12, 2, 0},
      {"1-2", 1, 1, 0},
      {"\xA0\xFF"
       "5",
       5, 3, 0},
      {"007", 7, 3, 0},
      {"12/5", 12, 2, 0},
      {"1.2.3", 1, 3, 0},
  };
  for (const Expected& e : kCases) ExpectRead(e);
  for (const char* text : {"", "   ", "\t\r", "5\n", "1e+", "1e-+", "12dx", "1e200", "1e-200",
                           "1e142", "1e-144", "10e-144", "#"}) {
    ExpectError(text);
  }
  EXPECT_EQ(tw::ReadNumber(Arg("1e141"), 0, tw::kReadDouble).count, tw::kReadError);  // no address
  double d = 0;
  EXPECT_EQ(tw::ReadNumber(Arg("1e141"), Arg(&d), tw::kReadDouble).count, 5);
}

TEST(ReadNumber, ErrorsLeaveTheDestinationAndRefuseBadKinds) {
  double d = 42;
  for (const char* text : {"?", "1e", "$", "5\n"}) {
    const tw::NumberRead read = tw::ReadNumber(Arg(text), Arg(&d), tw::kReadDouble);
    EXPECT_EQ(read.value, tw::kReadError);
    EXPECT_EQ(read.count, tw::kReadError);
    EXPECT_EQ(d, 42);
  }
  EXPECT_EQ(tw::ReadNumber(Arg("5"), Arg(&d), 8).count, tw::kReadError);
  EXPECT_EQ(tw::ReadNumber(Arg("5"), Arg(&d), -1).count, tw::kReadError);
  EXPECT_EQ(tw::ReadNumber(Arg("5"), 0, tw::kReadDouble).count, tw::kReadError);
  EXPECT_EQ(tw::ReadNumber(Arg("5"), 28, tw::kReadXmmDouble).count, tw::kReadError);
  EXPECT_EQ(tw::ReadNumber(Arg("5"), 19, tw::kReadXmmInt64).count, tw::kReadError);
}

TEST(ReadNumber, ReadsTheNewestResultWithinItsLength) {
  tw::FormatExtended(tw::kFormatFloating, -1234.5L);
  double d = 0;
  EXPECT_EQ(tw::ReadNumber(tw::kNewestResult, Arg(&d), tw::kReadDouble).count, 9);
  EXPECT_EQ(d, -1234.5);
  tw::TextMid(Arg("12345"), 2, 2);  // a view "23", not NUL-terminated
  EXPECT_EQ(tw::ReadNumber(tw::kNewestResult, 0, tw::kReadInt32).value, 23);
  EXPECT_EQ(tw::ReadNumber(tw::kNewestResult, 0, tw::kReadInt32).count, 2);
  tw::TextMid(Arg("7 "), 0, 1);  // an empty view
  EXPECT_EQ(tw::ReadNumber(tw::kNewestResult, 0, tw::kReadInt32).count, tw::kReadError);
  // A deferred result is read as the text it produces.
  tw::TextSubstitute(Arg("1_5"), Arg("_"), Arg("2"), 0);
  EXPECT_EQ(tw::ReadNumber(tw::kNewestResult, 0, tw::kReadInt32).value, 125);
  tw::TextCase(Arg("0XFF"), 0);
  EXPECT_EQ(tw::ReadNumber(tw::kNewestResult, Arg(&d), tw::kReadDouble).count, 4 + 512);
  EXPECT_EQ(d, 255);
}

std::uint16_t WithControlWord(std::uint16_t word) {
  const std::uint16_t before = tw::FpuControlWord();
  __asm__ volatile("fldcw %0" ::"m"(word));
  return before;
}

TEST(ReadNumber, RoundsToNearestWhateverTheCallerSet) {
  long double expected = 0, got = 0;
  tw::ReadNumber(Arg("0.1"), Arg(&expected), tw::kReadExtended);
  const std::uint16_t original = tw::FpuControlWord();
  const std::uint16_t down = static_cast<std::uint16_t>((original & 0xF0FF) | 0x0700);
  WithControlWord(down);
  tw::ReadNumber(Arg("0.1"), Arg(&got), tw::kReadExtended);
  const std::int32_t tie = tw::ReadNumber(Arg("2.5"), 0, tw::kReadInt32).value;
  const std::uint16_t after = tw::FpuControlWord();
  WithControlWord(original);
  EXPECT_EQ(got, expected);
  EXPECT_EQ(tie, 2);
  EXPECT_EQ(after, down);
}

struct RegisterRun {
  std::uint64_t out[8];
  tw::NumberRead read;
};

// Reads text into the destination with xmm0 to xmm7 loaded with known
// values; every register but keep must come back unchanged.
RegisterRun ReadWatchingRegisters(const char* text, std::uintptr_t destination, std::int32_t kind,
                                  int keep) {
  RegisterRun run;
  std::uint64_t in[8];
  for (int i = 0; i < 8; ++i) in[i] = 0x1111111111111111ull * static_cast<std::uint64_t>(i + 1);
#if defined(__i386__) && !defined(_WIN32)
  // The i386 System V convention returns every struct through a hidden first
  // argument; 32-bit Windows returns an 8-byte struct in edx:eax.
  const std::uintptr_t args[4] = {reinterpret_cast<std::uintptr_t>(&run.read), Arg(text),
                                  destination, static_cast<std::uintptr_t>(kind)};
  tw_test::CallWithXmm(reinterpret_cast<const void*>(&tw::ReadNumber), args, in, run.out);
#else
  const std::uintptr_t args[4] = {Arg(text), destination, static_cast<std::uintptr_t>(kind), 0};
  const std::uint64_t result =
      tw_test::CallWithXmm(reinterpret_cast<const void*>(&tw::ReadNumber), args, in, run.out);
  std::memcpy(&run.read, &result, sizeof run.read);
#endif
  for (int i = 0; i < 8; ++i) {
    if (i != keep) {
      EXPECT_EQ(run.out[i], in[i]) << "xmm" << i << " changed by " << text;
    }
  }
  return run;
}

RegisterRun ReadIntoRegister(const char* text, int n, std::int32_t kind) {
  return ReadWatchingRegisters(text, tw::XmmSelector(n), kind, n);
}

// Memory destinations leave every register as it was, whether the text is
// read by the plain decimal way or by the general reader.
TEST(ReadNumber, MemoryDestinationsKeepEveryRegister) {
  double d = 0;
  float f = 0;
  long double x = 0;
  std::int64_t n = 0;
  const struct {
    std::uintptr_t destination;
    std::int32_t kind;
  } kinds[] = {{Arg(&d), tw::kReadDouble},
               {Arg(&f), tw::kReadFloat},
               {Arg(&x), tw::kReadExtended},
               {Arg(&n), tw::kReadInt64},
               {0, tw::kReadInt32}};
  for (const char* text : {"1.5", "-7", "1234.567e-3", "123456789012345678", " 12", "$FF", "1,5"}) {
    for (const auto& kind : kinds) ReadWatchingRegisters(text, kind.destination, kind.kind, -1);
  }
  EXPECT_EQ(d, 15);  // the last text: its comma is skipped
  EXPECT_EQ(n, 15);
}

// A negative zero keeps its sign in every floating kind, whether the text
// has a point, an exponent or neither.
TEST(ReadNumber, NegativeZeroKeepsItsSignInTheFloatingKinds) {
  for (const char* text : {"-0", "-000", "-0.0", "-0e5", "-.0", " -0 "}) {
    float f = 1;
    double d = 1;
    long double x = 1;
    const std::int32_t used = tw::ReadNumber(Arg(text), 0, tw::kReadInt32).count;
    EXPECT_EQ(tw::ReadNumber(Arg(text), Arg(&f), tw::kReadFloat).count, used) << text;
    EXPECT_EQ(tw::ReadNumber(Arg(text), Arg(&d), tw::kReadDouble).count, used) << text;
    EXPECT_EQ(tw::ReadNumber(Arg(text), Arg(&x), tw::kReadExtended).count, used) << text;
    EXPECT_TRUE(f == 0 && std::signbit(f)) << text;
    EXPECT_TRUE(d == 0 && std::signbit(d)) << text;
    EXPECT_TRUE(x == 0 && std::signbit(x)) << text;
    const RegisterRun run = ReadIntoRegister(text, 3, tw::kReadXmmDouble);
    double inRegister;
    std::memcpy(&inRegister, &run.out[3], sizeof inRegister);
    EXPECT_TRUE(inRegister == 0 && std::signbit(inRegister)) << text;
    EXPECT_EQ(tw::ReadNumber(Arg(text), 0, tw::kReadInt32).value, 0) << text;
    std::int64_t n = 5;
    EXPECT_EQ(tw::ReadNumber(Arg(text), Arg(&n), tw::kReadInt64).count, used) << text;
    EXPECT_EQ(n, 0) << text;
  }
  double d = -1;
  tw::ReadNumber(Arg("0"), Arg(&d), tw::kReadDouble);
  EXPECT_FALSE(std::signbit(d)) << "a plain zero stays positive";
}

TEST(ReadNumber, RegisterDestinations) {
  for (int n = 0; n < 8; ++n) {
    const RegisterRun run = ReadIntoRegister("1.5", n, tw::kReadXmmDouble);
    double value;
    std::memcpy(&value, &run.out[n], sizeof value);
    EXPECT_EQ(value, 1.5) << "xmm" << n;
    EXPECT_EQ(run.read.count, 3);
    const RegisterRun integer =
        ReadIntoRegister("-7", n, n % 2 ? tw::kReadXmmInt64 : tw::kReadXmmInt64Also);
    EXPECT_EQ(static_cast<std::int64_t>(integer.out[n]), -7) << "xmm" << n;
  }
  // Kinds 5 and 7 round by the caller's control word.
  EXPECT_EQ(ReadIntoRegister("2.5", 2, tw::kReadXmmInt64).out[2], 2u);
  const std::uint16_t original = tw::FpuControlWord();
  WithControlWord(static_cast<std::uint16_t>((original & 0xF0FF) | 0x0B00));  // round up
  const RegisterRun up = ReadIntoRegister("2.5", 2, tw::kReadXmmInt64);
  WithControlWord(original);
  EXPECT_EQ(up.out[2], 3u);
}

TEST(ReadNumber, AnyBytesGiveAnErrorOrACountWithinTheText) {
  std::mt19937 random(3);
  static const char kAlphabet[] = "0123456789.,+-eEdDbBhHxXyY$()/ \t\r\nabcfg?";
  for (int i = 0; i < 20000; ++i) {
    std::string text(random() % 40, ' ');
    for (char& c : text) {
      c = random() % 4 == 0 ? static_cast<char>(random() % 256)
                            : kAlphabet[random() % (sizeof kAlphabet - 1)];
    }
    double d = 42;
    const tw::NumberRead read = tw::ReadNumber(Arg(text.c_str()), Arg(&d), tw::kReadDouble);
    if (read.count == tw::kReadError) {
      ASSERT_EQ(read.value, tw::kReadError);
      ASSERT_EQ(d, 42);
      continue;
    }
    ASSERT_GE(tw::CharactersUsed(read.count), 0);
    ASSERT_LE(tw::CharactersUsed(read.count), static_cast<std::int32_t>(std::strlen(text.c_str())))
        << text;
    ASSERT_LE(tw::BaseFlag(read.count), 2);
    ASSERT_TRUE(std::isfinite(d));
  }
}

TEST(ReadNumber, PlainDecimalsReadLikeTheGeneralPass) {
  // Plain digits with a point and an exponent are read in one pass; a comma
  // (which the digit pass skips) sends the same number through the scan and
  // the digit pass.
  std::mt19937_64 random(31);
  static const char kEnds[] = {'\0', ' ', '\t', '\r', '/', ')'};
  for (int i = 0; i < 5000; ++i) {
    std::string digits;
    const int length = static_cast<int>(random() % 19) + 1;
    for (int k = 0; k < length; ++k) digits += static_cast<char>('0' + random() % 10);
    std::string text = digits;
    if (random() % 2) text.insert(random() % (text.size() + 1), ".");
    if (random() % 3 == 0) text.insert(0, "-");
    std::string general = text;
    general.insert(general.size() - (general.back() == '.' ? 1 : 0), ",");
    if (random() % 2) {
      static const char* const kMarks[] = {"e", "E", "e+", "e-", "E-"};
      const std::string exponent = kMarks[random() % 5] + std::to_string(random() % 25);
      text += exponent;
      general += exponent;
    }
    const char end = kEnds[random() % 6];
    text += end;
    general += end;
    long double plain = 0, other = 0;
    const tw::NumberRead a = tw::ReadNumber(Arg(text.c_str()), Arg(&plain), tw::kReadExtended);
    const tw::NumberRead b = tw::ReadNumber(Arg(general.c_str()), Arg(&other), tw::kReadExtended);
    ASSERT_NE(a.count, tw::kReadError) << text;
    ASSERT_EQ(a.count + 1, b.count) << text << " / " << general;
    ASSERT_EQ(plain, other) << text << " / " << general;
  }
}

// ---- The plain decimal fast path against the x87 unit and the general reader ----

// What the reader must store for whole x 10^power: the x87 product rounded
// to nearest with a 64-bit significand, and that narrowed to a 64-bit float
// in the same mode.
struct UnitResult {
  long double extended;
  double narrow;
};

UnitResult UnitProduct(std::uint64_t whole, int power, bool negative) {
  const std::uint16_t callers = WithControlWord(0x037F);  // to nearest, 64-bit significand
  volatile long double extended = static_cast<long double>(whole);
  if (power != 0) extended = extended * tw::PowerOfTen(power);
  if (negative) extended = -extended;
  volatile double narrow = static_cast<double>(extended);
  WithControlWord(callers);
  return {extended, narrow};
}

bool SameExtended(long double a, long double b) {
  return std::memcmp(&a, &b, 10) == 0;
}

bool SameDouble(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// A plain decimal text: sign, digits with an optional point, an optional
// exponent, then an end character; and the value it stands for.
struct PlainCase {
  std::string text;  // without the end character
  std::uint64_t whole;
  int power;
  bool negative;
};

std::uint64_t WholeOf(const std::string& digits) {
  std::uint64_t whole = 0;
  for (char c : digits) whole = whole * 10 + static_cast<std::uint64_t>(c - '0');
  return whole;
}

// digits (1 to 19 of them) written with a point after point digits (none
// when point is digits' length) and scaled to 10^power by the exponent.
PlainCase MakePlain(const std::string& digits, std::size_t point, int power, bool negative,
                    std::mt19937_64& random) {
  const int decimals = static_cast<int>(digits.size() - point);
  std::string text = negative ? "-" : "";
  text += digits.substr(0, point);
  if (point < digits.size()) text += "." + digits.substr(point);
  const int exponent = power + decimals;
  if (exponent != 0 || random() % 4 == 0) {
    static const char* const kMarks[] = {"e", "E", "e+", "E+"};
    text += exponent < 0 ? (random() % 2 ? "e-" : "E-") + std::to_string(-exponent)
                         : kMarks[random() % 4] + std::to_string(exponent);
  }
  return {text, WholeOf(digits), power, negative};
}

// Digit strings where the fast path could go wrong: the 2^53, 2^63 and 10^19
// limits, exact halves between 64-bit floats, nines and zeros, and random
// digits of every length.
std::string InterestingDigits(std::mt19937_64& random) {
  static const char* const kFixed[] = {
      "9007199254740992",    "9007199254740993",
      "9007199254740995",    "18014398509481986",
      "9223372036854775807", "9223372036854775808",
      "9223372036854775809", "9999999999999999999",
      "1844674407370955161", "0",
      "0000000000000000001", "1000000000000000000",
  };
  switch (random() % 6) {
    case 0:
      return kFixed[random() % (sizeof kFixed / sizeof kFixed[0])];
    case 1: {  // an odd multiple of half a unit of a 64-bit float: a tie
      const std::uint64_t tie = (((std::uint64_t{1} << 52) | (random() >> 12)) * 2 + 1)
                                << (random() % 10);
      return std::to_string(tie);
    }
    case 2:
      return std::string(static_cast<std::size_t>(random() % 19 + 1), '9');
    default: {
      const int length = static_cast<int>(random() % 19) + 1;
      std::string digits;
      for (int k = 0; k < length; ++k) digits += static_cast<char>('0' + random() % 10);
      return digits;
    }
  }
}

TEST(ReadNumber, PlainDecimalsMatchTheUnitAndTheGeneralReader) {
  std::mt19937_64 random(2027);
  static const char kEnds[] = {'\0', ' ', '\t', '\r', '/', ')'};
  int fastTexts = 0;
  for (int i = 0; i < 200000; ++i) {
    const std::string digits = InterestingDigits(random);
    const std::size_t point = random() % 3 == 0 ? digits.size() : random() % (digits.size() + 1);
    // Powers across the table, its ends and just beyond them.
    int power = static_cast<int>(random() % 289) - 145;
    if (random() % 3 == 0) power = static_cast<int>(random() % 41) - 20;
    if (random() % 4 == 0) power = 0;
    const PlainCase c = MakePlain(digits, point, power, random() % 3 == 0, random);
    const std::string text = c.text + kEnds[random() % 6];
    // The same number through the general reader: a comma after the first digit.
    std::string general = c.text;
    general.insert(general.find_first_of("0123456789") + 1, ",");
    general += kEnds[random() % 6];
    const bool inRange = c.power >= -143 && c.power <= 141;

    long double extended = 0;
    const tw::NumberRead read =
        tw::ReadNumber(Arg(text.c_str()), Arg(&extended), tw::kReadExtended);
    if (!inRange) {
      ASSERT_EQ(read.count, tw::kReadError) << text;
      continue;
    }
    ++fastTexts;
    ASSERT_EQ(read.count, static_cast<std::int32_t>(c.text.size())) << text;
    const UnitResult unit = UnitProduct(c.whole, c.power, c.negative);
    ASSERT_TRUE(SameExtended(extended, unit.extended)) << text;
    double narrow = 0;
    tw::ReadNumber(Arg(text.c_str()), Arg(&narrow), tw::kReadDouble);
    ASSERT_TRUE(SameDouble(narrow, unit.narrow)) << text;

    // Every kind gives what the general reader gives for the same number.
    for (std::int32_t kind :
         {tw::kReadInt32, tw::kReadFloat, tw::kReadDouble, tw::kReadExtended, tw::kReadInt64}) {
      unsigned char a[16] = {}, b[16] = {};
      const std::uintptr_t to = kind == tw::kReadInt32 ? 0 : Arg(a);
      const std::uintptr_t otherTo = kind == tw::kReadInt32 ? 0 : Arg(b);
      const tw::NumberRead fast = tw::ReadNumber(Arg(text.c_str()), to, kind);
      const tw::NumberRead slow = tw::ReadNumber(Arg(general.c_str()), otherTo, kind);
      ASSERT_EQ(fast.value, slow.value) << text << " kind " << kind;
      ASSERT_EQ(fast.count == tw::kReadError ? fast.count : fast.count + 1, slow.count)
          << text << " / " << general << " kind " << kind;
      ASSERT_EQ(std::memcmp(a, b, kind == tw::kReadExtended ? 10 : sizeof a), 0)
          << text << " kind " << kind;
    }
  }
  EXPECT_GT(fastTexts, 150000);
}

TEST(ReadNumber, PlainDecimalsEndingAtAPageEndReadLikeAnywhereElse) {
  // Digit runs are read eight bytes at a time only where the eight bytes lie
  // within the text's page: a text whose terminator is the last byte before
  // an unreadable page reads as the same text elsewhere.
  tw_test::GuardedPage page;
  for (int length = 1; length <= 24; ++length) {
    for (int point = 0; point <= length; ++point) {
      std::string text;
      for (int k = 0; k < length; ++k) text += static_cast<char>('1' + (k * 7) % 9);
      if (point < length) text.insert(static_cast<std::size_t>(point), ".");
      if (length % 3 == 0) text += "e-7";
      const char* placed = page.TextAtEnd(text.data(), text.size());
      long double atEnd = 0, elsewhere = 0;
      const tw::NumberRead a = tw::ReadNumber(Arg(placed), Arg(&atEnd), tw::kReadExtended);
      const tw::NumberRead b =
          tw::ReadNumber(Arg(text.c_str()), Arg(&elsewhere), tw::kReadExtended);
      ASSERT_EQ(a.count, static_cast<std::int32_t>(text.size())) << text;
      ASSERT_EQ(a.count, b.count) << text;
      ASSERT_TRUE(SameExtended(atEnd, elsewhere)) << text;
    }
  }
}

// ---- Comparison with exact arithmetic -----------------------------------------------

// True when |got - digits x 10^power| <= 2^-bits of the exact value.
bool CloseToExact(const std::string& digits, int power, long double got, int bits) {
  tw_test::BigNumber exact;
  for (char c : digits) {
    tw_test::MultiplySmall(exact, 10);
    tw_test::AddSmall(exact, static_cast<std::uint32_t>(c - '0'));
  }
  int binaryExponent = 0;
  const long double fraction = std::frexp(got, &binaryExponent);
  tw_test::BigNumber value = tw_test::BigFrom(static_cast<std::uint64_t>(std::ldexp(fraction, 64)));
  binaryExponent -= 64;
  if (binaryExponent >= 0) {
    tw_test::ShiftLeft(value, binaryExponent);
  } else {
    tw_test::ShiftLeft(exact, -binaryExponent);
  }
  if (power >= 0) {
    tw_test::MultiplyPowerOfTen(exact, power);
  } else {
    tw_test::MultiplyPowerOfTen(value, -power);
  }
  tw_test::BigNumber difference = tw_test::Difference(value, exact);
  tw_test::ShiftLeft(difference, bits);
  return tw_test::Compare(difference, exact) <= 0;
}

TEST(ReadNumberReference, LongDigitStringsAndExponentsAtBothEnds) {
  std::mt19937_64 random(17);
  for (int i = 0; i < 6000; ++i) {
    const int length = static_cast<int>(random() % 60) + 1;
    std::string digits(1, static_cast<char>('1' + random() % 9));
    while (static_cast<int>(digits.size()) < length)
      digits += static_cast<char>('0' + random() % 10);
    const int point = static_cast<int>(random() % (length + 1));  // length: no point
    const int decimals = length - point;
    // Scaling powers across the whole allowed range, ends included.
    int power = static_cast<int>(random() % 285) - 143;
    if (i % 50 == 0) power = -143;
    if (i % 50 == 1) power = 141;
    const int exponent = power + decimals;
    std::string text = digits.substr(0, point);
    if (point < length) text += "." + digits.substr(point);
    if (exponent != 0 || random() % 2)
      text += (random() % 2 ? "e" : "E") + std::to_string(exponent);
    long double got = 0;
    const tw::NumberRead read = tw::ReadNumber(Arg(text.c_str()), Arg(&got), tw::kReadExtended);
    ASSERT_EQ(read.count, static_cast<std::int32_t>(text.size())) << text;
    // Up to 19 digits the integer is exact: the table entry and the product
    // cost two units in the last place. Longer strings add a rounding for
    // each further digit.
    ASSERT_TRUE(CloseToExact(digits, power, got, length <= 19 ? 61 : 55)) << text;
    // Outside the range the same digits are an error.
    if (power == -143 || power == 141) {
      const std::string beyond = digits + "e" + std::to_string((power < 0 ? power - 1 : power + 1));
      ASSERT_EQ(tw::ReadNumber(Arg(beyond.c_str()), Arg(&got), tw::kReadExtended).count,
                tw::kReadError)
          << beyond;
    }
  }
}

TEST(ReadNumberReference, HexadecimalAndBaseTwoPatterns) {
  std::mt19937_64 random(23);
  static const char* const kPrefixes[] = {"$", "0x", "0X", "x", "X", ""};
  for (int i = 0; i < 5000; ++i) {
    const std::uint64_t pattern = random() >> (random() % 64);
    std::string digits;
    for (std::uint64_t rest = pattern; rest != 0; rest >>= 4) {
      digits.insert(digits.begin(),
                    (random() % 2 ? "0123456789abcdef" : "0123456789ABCDEF")[rest & 15]);
    }
    if (digits.empty() || (digits.size() < 16 && random() % 4 == 0)) digits.insert(0, "0");
    const char* prefix = kPrefixes[random() % 6];
    std::string text = std::string(prefix) + digits;
    if (*prefix == '\0') text += random() % 2 ? "h" : "H";
    std::int64_t got = 0;
    const tw::NumberRead read = tw::ReadNumber(Arg(text.c_str()), Arg(&got), tw::kReadInt64);
    ASSERT_EQ(read.count, static_cast<std::int32_t>(text.size()) + 512) << text;
    ASSERT_EQ(static_cast<std::uint64_t>(got), pattern) << text;
    ASSERT_EQ(tw::ReadNumber(Arg(text.c_str()), 0, tw::kReadInt32).value,
              static_cast<std::int32_t>(static_cast<std::uint32_t>(pattern)));
  }
  static const char kSuffixes[] = "bByY";
  for (int i = 0; i < 5000; ++i) {
    const std::uint32_t pattern = static_cast<std::uint32_t>(random() >> (random() % 64));
    std::string text;
    for (std::uint32_t rest = pattern; rest != 0; rest >>= 1)
      text.insert(text.begin(), "01"[rest & 1]);
    if (text.empty() || random() % 4 == 0) text.insert(0, "00");
    text += kSuffixes[random() % 4];
    const tw::NumberRead read = tw::ReadNumber(Arg(text.c_str()), 0, tw::kReadInt32);
    ASSERT_EQ(read.count, static_cast<std::int32_t>(text.size()) + 256) << text;
    ASSERT_EQ(read.value, static_cast<std::int32_t>(pattern)) << text;
  }
}

// ---- CompareFloat -------------------------------------------------------------------

TEST(CompareFloat, PrecisionInLowOrderBytes) {
  const long double one = 1.0L;
  const long double next = std::nextafter(1.0, 2.0);
  EXPECT_EQ(tw::CompareFloat(one, next, 1), tw::kBothEqual);
  EXPECT_EQ(tw::CompareFloat(one, next, 0), tw::kFirstBelow);
  EXPECT_EQ(tw::CompareFloat(next, one, 0), tw::kFirstAbove);
  for (int precision = 0; precision <= 7; ++precision) {
    EXPECT_EQ(tw::CompareFloat(1.0L, 2.0L, precision), tw::kFirstBelow) << precision;
    EXPECT_EQ(tw::CompareFloat(2.0L, 1.0L, precision), tw::kFirstAbove) << precision;
  }
  EXPECT_EQ(tw::CompareFloat(1.0L, 2.0L, 8), tw::kBothEqual);
  EXPECT_EQ(tw::CompareFloat(-1.0L, 1.0L, 7), tw::kFirstBelow);
  EXPECT_EQ(tw::CompareFloat(1.0L, 1.0L, 0), tw::kBothEqual);
  EXPECT_EQ(tw::CompareFloat(0.0L, -0.0L, 0), tw::kBothEqual);
  EXPECT_EQ(tw::CompareFloat(-1.0L, 1.0L, -3), tw::kFirstBelow);
  // Precision 2 ignores the lowest 16 mantissa bits.
  EXPECT_EQ(tw::CompareFloat(1.0L, 1.0L + 65535 * 0x1p-52L, 2), tw::kBothEqual);
  EXPECT_EQ(tw::CompareFloat(1.0L, 1.0L + 65536 * 0x1p-52L, 2), tw::kFirstBelow);
  // The values are compared as 64-bit floats.
  EXPECT_EQ(tw::CompareFloat(1.0L, 1.0L + 0x1p-60L, 0), tw::kBothEqual);
}

TEST(CompareFloat, NotANumberIsUnequalAndAbove) {
  const long double nan = std::nan("");
  for (int precision : {0, 2, 8}) {
    EXPECT_EQ(tw::CompareFloat(nan, 1.0L, precision), tw::kFirstAbove);
    EXPECT_EQ(tw::CompareFloat(1.0L, nan, precision), tw::kFirstAbove);
    EXPECT_EQ(tw::CompareFloat(nan, nan, precision), tw::kFirstAbove);
  }
}

}  // namespace
