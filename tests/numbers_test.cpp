// Number-to-text formatting: the documented tables (precision 7, format
// strings, selectors, range, carries), the operand descriptor, wide results,
// the register kinds through an asm-level driver, WriteDigits, bad input, and
// a randomized comparison with an exact big-integer reference.
#include "support/numbers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "support/startup.h"
#include "support/strings.h"
#include "tools/bignum.h"
#include "tools/child.h"
#include "tools/xmm_call.h"

namespace {

using tw::Arg;

// ---- Child scenarios: texts beyond the area's limit ----

void FormatTooLong() {
  static char format[170001];
  std::memset(format, 'a', sizeof format - 1);
  tw::FormatExtended(Arg(format), 1.0L);
}

void WideFormatTooLong() {
  static char format[90001];
  std::memset(format, 'a', sizeof format - 1);
  const double value = 1.0;
  tw::FormatNumber(Arg(format),
                   tw::kWideResult | tw::OperandGroup(0, tw::kOpFirst, tw::kKindDoublePtr),
                   {tw::DoubleOperand(&value)});
}

// The format string is a deferred zero buffer far longer than a temporary
// text, made near the wrap point of the area.
void FormatFromZeroTextPastTheArea() {
  tw::TempTextReset();
  tw::TempTextEnd(tw::TempTextArea() + tw::kTempTextWrapPoint - 40, tw::kSlotNext);
  tw::NewZeroText(1000000);
  tw::FormatExtended(tw::kFormatNewestResult, 1.0L);
}

const tw_test::Scenario kScenarios[] = {
    {"format-too-long", FormatTooLong},
    {"wide-format-too-long", WideFormatTooLong},
    {"format-from-zero-text", FormatFromZeroTextPastTheArea},
};
const int g_child = tw_test::RunScenarioIfChild(kScenarios, 3);

const std::uint32_t kOneDouble = tw::OperandGroup(0, tw::kOpFirst, tw::kKindDoublePtr);

std::string FormatDouble(double value, tw::StringArg format = tw::kFormatFloating) {
  return tw::FormatNumber(format, kOneDouble, {tw::DoubleOperand(&value)});
}

// The format code character for a precision of digits (1 to 19).
char PrecisionCharacter(int digits) {
  return static_cast<char>(digits <= 9 ? '0' + digits : 55 + digits);
}

std::string Extended(long double value) {
  return tw::FormatExtended(tw::kFormatFloating, value);
}

std::string FormatAt(long double value, int digits) {
  const char format[] = {'%', PrecisionCharacter(digits), 'f', '\0'};
  return tw::FormatExtended(Arg(format), value);
}

struct Case {
  double value;
  const char* text;
};

TEST(FormatNumber, DefaultPrecisionTable) {
  static const Case kCases[] = {
      {1234.5, "1234.500"},
      {1234567, "1234567.0"},
      {0.5, "0.5000000"},
      {100, "100.0000"},
      {0.001, "0.001000000"},
      {0.0001, "1.000000e-04"},
      {12345678, "1.234568e+07"},
      {1e100, "1.000000e+100"},
      {-2.5, "-2.500000"},
      {9.99999999, "10.000000"},
      {99.9999999, "100.00000"},
      {0.99999999, "1.0000000"},
      {99999999900, "1.0000000e+11"},
      {0, "0.0"},
      {-0.0, "0.0"},
      {1, "1.000000"},
      {0.0999999999, "0.10000000"},
      {1e-5, "1.000000e-05"},
      {0.00999999999, "0.010000000"},
      {9999999.99, "10000000.0"},
      {123.456e-20, "1.234560e-18"},
  };
  ASSERT_EQ(tw::DefaultPrecision(), 7);
  for (const Case& c : kCases) EXPECT_EQ(FormatDouble(c.value), c.text) << c.value;
}

TEST(FormatNumber, ExtendedValuesNextToPowersOfTenTakeThePower) {
  // The exponent estimate counts a value a few units below a power of ten as
  // that power, so these print with the precision's digit count.
  EXPECT_EQ(Extended(0.001L), "0.001000000");
  EXPECT_EQ(Extended(1e100L), "1.000000e+100");
  EXPECT_EQ(Extended(1e-100L), "1.000000e-100");
  EXPECT_EQ(Extended(1000.0L), "1000.000");
  EXPECT_EQ(Extended(1e27L), "1.000000e+27");
}

TEST(FormatNumber, FormatStrings) {
  EXPECT_EQ(FormatDouble(2.5, Arg("%1f")), "2.0");  // an exact half goes down
  EXPECT_EQ(FormatDouble(3.5, Arg("%1f")), "3.0");
  EXPECT_EQ(FormatDouble(3.14159, Arg("%3f")), "3.14");
  EXPECT_EQ(FormatDouble(123.456, Arg("%2f")), "1.2e+02");
  EXPECT_EQ(FormatDouble(2.25, Arg("Total:\\t%5f kg\\n")), "Total:\t2.2500 kg\r\n");
  EXPECT_EQ(FormatDouble(1.5, Arg("100% %2f")), "100% 1.5");  // "% " is literal text
  EXPECT_EQ(FormatDouble(1.5, Arg("a%\tb%2f")), "a%\tb1.5");
  EXPECT_EQ(FormatDouble(1.5, Arg("a%\xE9%2f")),
            "a%\xE9"
            "1.5");  // bytes 128-255 count as below space
  EXPECT_EQ(FormatDouble(-7.9, Arg("<%i>")), "<-7>");
  EXPECT_EQ(FormatDouble(-1, Arg("<%u>")), "<4294967295>");
  EXPECT_EQ(FormatDouble(3.14159, Arg("%f!")), "3.141590!");    // "f" changes nothing
  EXPECT_EQ(FormatDouble(3.14159, Arg("%:x")), "3.14");         // ":" is 3 digits
  EXPECT_EQ(FormatDouble(3.14159, Arg("%@x")), "3.14159000");   // "@" is 9
  EXPECT_EQ(FormatDouble(3.14159, Arg("%Ax")), "3.141590000");  // "A" is 10
  EXPECT_EQ(FormatDouble(0.25, Arg("%J?")), "0.2500000000000000000");
  EXPECT_EQ(FormatDouble(1.25, Arg("%2\\n|")), "1.2n|");  // the unexamined character is skipped
  // Left to us: no format code puts the number after the whole text; a precision
  // character at the end puts it after the prefix.
  EXPECT_EQ(FormatDouble(1.5, Arg("Sum = ")), "Sum = 1.500000");
  EXPECT_EQ(FormatDouble(1.5, Arg("Sum = %3")), "Sum = 1.50");
  EXPECT_EQ(FormatDouble(1.5, Arg("Sum %")), "Sum %1.500000");
  EXPECT_EQ(FormatDouble(1.5, Arg("")), "1.500000");
  EXPECT_EQ(FormatDouble(1.5, Arg("a\\")), "a\\1.500000");
  EXPECT_EQ(FormatDouble(2.5, Arg("%1f%2f")), "2.0%2f");  // only the first format code counts
}

TEST(FormatNumber, FormatFromTheNewestResultOrTheTextTable) {
  tw::TextTrim(Arg("  <%3f>  "), tw::kTrimBoth);
  EXPECT_EQ(FormatDouble(3.14159, tw::kFormatNewestResult), "<3.14>");
  // A view that is not NUL-terminated: only its length is read.
  tw::TextMid(Arg("x%3fyz"), 3, 2);
  EXPECT_EQ(FormatDouble(3.14159, tw::kFormatNewestResult), "3.14");
  EXPECT_EQ(FormatDouble(1.5, tw::kTextTab), "\t1.500000");  // a table code, no format code
}

TEST(FormatNumber, ADeferredFormatIsItsProducedText) {
  TW_SKIP_WITHOUT_CHILD_PROCESS();
  tw::TextSubstitute(Arg("x=%i!"), Arg("x"), Arg("value"), 0);
  EXPECT_STREQ(tw::FormatExtended(tw::kFormatNewestResult, 42.0L), "value=42!");
  tw::TextCase(Arg("<%3F>"), 0);  // lower case: "%3f"
  EXPECT_EQ(FormatDouble(3.14159, tw::kFormatNewestResult), "<3.14>");
  tw::NewZeroText(5);  // five zero bytes, kept as literal text
  FormatDouble(2.5, tw::kFormatNewestResult);
  const tw::TextView text = tw::ResolveString(tw::kNewestResult);
  EXPECT_EQ(std::string(text.text, static_cast<std::size_t>(text.length)),
            std::string(5, '\0') + "2.500000");
  const tw_test::ChildResult child = tw_test::RunChild("format-from-zero-text");
  EXPECT_EQ(child.exitCode, -9);
  EXPECT_NE(child.error.find("Insufficient buffer or New$(<=0)"), std::string::npos);
}

// Under clang's UBSan (the sanitize lane) these also check that the selector
// forms do no pointer arithmetic on their missing format string.
TEST(FormatNumber, IntegerSelectors) {
  EXPECT_STREQ(tw::FormatExtended(tw::kFormatSigned, -3.7L), "-3");
  EXPECT_STREQ(tw::FormatExtended(tw::kFormatUnsigned, 7.9L), "7");
  EXPECT_EQ(FormatDouble(-3.7, tw::kFormatSigned), "-3");
  EXPECT_EQ(FormatDouble(3.7, tw::kFormatSigned), "3");
  EXPECT_EQ(FormatDouble(-1, tw::kFormatUnsigned), "4294967295");
  EXPECT_EQ(FormatDouble(0, tw::kFormatSigned), "0");
  EXPECT_EQ(FormatDouble(-0.5, tw::kFormatSigned), "0");  // not "-0"
  EXPECT_EQ(FormatDouble(-4294967296.0, tw::kFormatUnsigned), "0");
  EXPECT_EQ(FormatDouble(-4294967297.0, tw::kFormatUnsigned), "^v?");
  EXPECT_EQ(FormatDouble(9223372036854774784.0, tw::kFormatSigned), "9223372036854774784");
  EXPECT_EQ(FormatDouble(9223372036854775808.0, tw::kFormatSigned), "^v?");
  EXPECT_EQ(FormatDouble(-9223372036854775808.0, tw::kFormatSigned), "-^v?");
  EXPECT_EQ(FormatDouble(HUGE_VAL, tw::kFormatSigned), "^v?");
  EXPECT_EQ(FormatDouble(-HUGE_VAL, tw::kFormatUnsigned), "^v?");
  EXPECT_EQ(FormatDouble(std::nan(""), tw::kFormatSigned), "0");
  EXPECT_EQ(FormatDouble(std::nan(""), tw::kFormatUnsigned), "0");
  EXPECT_EQ(FormatDouble(1e10, tw::kFormatUnsigned), "10000000000");
}

TEST(FormatNumber, RangeInfinityAndNotANumber) {
  EXPECT_EQ(FormatDouble(2e149), "2.000000e+149");
  EXPECT_EQ(FormatDouble(2e-149), "2.000000e-149");
  EXPECT_EQ(FormatDouble(2e150), "^v?");
  EXPECT_EQ(FormatDouble(5e-150), "^v?");
  EXPECT_EQ(FormatDouble(-5e-150, Arg("[%7f]")), "[-^v?]");
  EXPECT_EQ(FormatDouble(-5e-150, Arg("[%3f]")), "[-5.00e-150]");
  EXPECT_EQ(FormatDouble(HUGE_VAL), "^v?");
  EXPECT_EQ(FormatDouble(-HUGE_VAL), "-^v?");
  EXPECT_EQ(FormatDouble(std::nan("")), "0.0");
  EXPECT_EQ(Extended(1e4000L), "^v?");
  EXPECT_EQ(Extended(std::numeric_limits<long double>::denorm_min()), "^v?");
  // The range depends on the precision: the scaling power must be in the table.
  EXPECT_EQ(FormatAt(2e143L, 1), "2.0e+143");
  EXPECT_EQ(FormatAt(2e144L, 1), "^v?");
  EXPECT_EQ(FormatAt(2e-155L, 1), "2.0e-155");
  EXPECT_EQ(FormatAt(2e-156L, 1), "^v?");
  EXPECT_EQ(FormatAt(2e-137L, 19), "2.000000000000000000e-137");
  EXPECT_EQ(FormatAt(2e-138L, 19), "^v?");
}

TEST(FormatNumber, Carries) {
  EXPECT_EQ(FormatAt(9.96L, 2), "10.0");          // fixed, e = 0
  EXPECT_EQ(FormatAt(9.6L, 1), "10.0");           // one digit
  EXPECT_EQ(FormatAt(99.96L, 3), "100.0");        // fixed, e = D - 1
  EXPECT_EQ(FormatAt(0.996L, 2), "1.00");         // leading-zero form, e = -1
  EXPECT_EQ(FormatAt(0.000996L, 2), "1.00e-03");  // exponent notation, e = -4 -> -3
  EXPECT_EQ(FormatAt(0.0000996L, 2), "1.00e-04");
  EXPECT_EQ(FormatAt(996.0L, 2), "1.00e+03");
  EXPECT_EQ(FormatAt(9.6e-10L, 1), "1.0e-09");
}

TEST(FormatNumber, NineteenDigitsOverflowOnlyWhenTheConversionDoes) {
  EXPECT_EQ(FormatAt(19.2265625L, 19), "19.22656250000000000");  // digits read 9.22 but fit
  EXPECT_EQ(FormatAt(9.2265625L, 19), "^v?");
  EXPECT_EQ(FormatAt(0.95L, 19), "^v?");
  EXPECT_EQ(FormatAt(95.0L, 19), "^v?");
  EXPECT_EQ(FormatAt(-9.5e17L, 19), "-^v?");
  EXPECT_EQ(FormatAt(9.5e30L, 19), "^v?");
  EXPECT_EQ(FormatAt(9.2e18L, 19), "9200000000000000000.0");
  EXPECT_EQ(FormatAt(3.0L / 32768, 19), "9.155273437500000000e-05");
  EXPECT_EQ(FormatAt(0.9L, 18), "0.900000000000000000");
}

TEST(FormatNumber, OperandDescriptor) {
  using tw::OperandGroup;
  EXPECT_EQ(std::string(tw::FormatNumber(0, 0, {tw::Int32Operand(-5)})), "-5.000000");
  EXPECT_EQ(std::string(tw::FormatNumber(0, OperandGroup(0, tw::kOpFirst, tw::kKindFloat),
                                         {tw::FloatOperand(0.1f)})),
            "0.1000000");
  const double half = 0.5;
  const long double three = 3;
  const std::int64_t big = 4;
  const std::uint32_t all = OperandGroup(0, tw::kOpFirst, tw::kKindInt32) |
                            OperandGroup(1, tw::kOpAdd, tw::kKindFloat) |
                            OperandGroup(2, tw::kOpSubtract, tw::kKindDoublePtr) |
                            OperandGroup(3, tw::kOpMultiply, tw::kKindInt64Ptr) |
                            OperandGroup(4, tw::kOpDivide, tw::kKindExtendedPtr);
  const std::initializer_list<tw::NumberOperand> operands = {
      tw::Int32Operand(1), tw::FloatOperand(2.5f), tw::DoubleOperand(&half), tw::Int64Operand(&big),
      tw::ExtendedOperand(&three)};
  EXPECT_EQ(std::string(tw::FormatNumber(0, all, operands)), "4.000000");  // (1+2.5-0.5)*4/3
  EXPECT_EQ(std::string(tw::FormatNumber(0, all | tw::kNegateFirst, operands)), "1.333333");
  // Operations 0 and 5 to 7 on a later operand leave the running value.
  EXPECT_EQ(std::string(tw::FormatNumber(0, OperandGroup(1, tw::kOpFirst, tw::kKindInt32),
                                         {tw::Int32Operand(6), tw::Int32Operand(9)})),
            "6.000000");
  EXPECT_EQ(std::string(tw::FormatNumber(0, 7 << 6, {tw::Int32Operand(6), tw::Int32Operand(9)})),
            "6.000000");
  // Operands named beyond the list are not evaluated; a null address reads 0.
  EXPECT_EQ(std::string(tw::FormatNumber(0, OperandGroup(1, tw::kOpAdd, tw::kKindInt32),
                                         {tw::Int32Operand(2)})),
            "2.000000");
  EXPECT_EQ(std::string(tw::FormatNumber(0, kOneDouble, {tw::DoubleOperand(nullptr)})), "0.0");
  EXPECT_EQ(std::string(tw::FormatNumber(0, 0, {})), "0.0");
  const std::uint32_t divide = OperandGroup(1, tw::kOpDivide, tw::kKindInt32);
  EXPECT_EQ(std::string(tw::FormatNumber(0, divide, {tw::Int32Operand(1), tw::Int32Operand(0)})),
            "^v?");
  EXPECT_EQ(std::string(tw::FormatNumber(0, divide, {tw::Int32Operand(-1), tw::Int32Operand(0)})),
            "-^v?");
  EXPECT_EQ(std::string(tw::FormatNumber(0, divide, {tw::Int32Operand(0), tw::Int32Operand(0)})),
            "0.0");
}

TEST(FormatNumber, EvaluatesRoundingTowardMinusInfinity) {
  // 1/3 rounded down, times 3, is 1 - 2^-64 exactly; to nearest, 1/3 would
  // round up and the product come back to 1, leaving 0.
  const std::uint32_t expression = tw::OperandGroup(1, tw::kOpDivide, tw::kKindInt32) |
                                   tw::OperandGroup(2, tw::kOpMultiply, tw::kKindInt32) |
                                   tw::OperandGroup(3, tw::kOpSubtract, tw::kKindInt32);
  EXPECT_EQ(std::string(tw::FormatNumber(0, expression,
                                         {tw::Int32Operand(1), tw::Int32Operand(3),
                                          tw::Int32Operand(3), tw::Int32Operand(1)})),
            "-5.421011e-20");
}

TEST(FormatNumber, KeepsTheCallersControlWord) {
  const std::uint16_t before = tw::FpuControlWord();
  const std::uint16_t roundUp = static_cast<std::uint16_t>((before & 0xF0FF) | 0x0B00);
  __asm__ volatile("fldcw %0" ::"m"(roundUp));
  const std::string text = FormatDouble(2.0 / 3.0, Arg("%Jx"));
  const std::uint16_t after = tw::FpuControlWord();
  __asm__ volatile("fldcw %0" ::"m"(before));
  EXPECT_EQ(after, roundUp);
  EXPECT_EQ(text, FormatDouble(2.0 / 3.0, Arg("%Jx")));
}

TEST(FormatNumber, ResultIsTheNewestTemporaryResult) {
  const double first = 1.5, second = 2.5;
  const char* text = tw::FormatNumber(Arg("<%2f>"), kOneDouble, {tw::DoubleOperand(&first)});
  const tw::TextView newest = tw::ResolveString(tw::kNewestResult);
  EXPECT_EQ(newest.text, text);
  EXPECT_EQ(newest.length, 5);
  const char* next = tw::FormatNumber(0, kOneDouble, {tw::DoubleOperand(&second)});
  EXPECT_GE(next, text + 8);  // the next text starts past this one's NUL
}

TEST(FormatNumber, WideResult) {
  const double value = -2.5;
  const char* narrow = tw::FormatNumber(Arg("x=%3f\\n"), kOneDouble, {tw::DoubleOperand(&value)});
  const std::string expected = narrow;
  const char* wide =
      tw::FormatNumber(Arg("x=%3f\\n"), kOneDouble | tw::kWideResult, {tw::DoubleOperand(&value)});
  ASSERT_EQ(tw::ResolveString(tw::kNewestResult).length,
            static_cast<std::int32_t>(2 * expected.size()));
  for (std::size_t i = 0; i <= expected.size(); ++i) {
    EXPECT_EQ(wide[2 * i], expected.c_str()[i]) << i;
    EXPECT_EQ(wide[2 * i + 1], 0) << i;
  }
}

TEST(FormatNumber, RegisterKindsReadTheRegistersAtEntry) {
  std::uint64_t in[8], out[8];
  for (int n = 0; n < 8; ++n) {
    const double value = 1.25 + n;
    std::memcpy(&in[n], &value, sizeof value);
  }
  for (int n = 0; n < 8; ++n) {
    tw::NumberOperand operand = tw::XmmOperand(n);
    const std::uintptr_t args[4] = {tw::kFormatFloating,
                                    tw::OperandGroup(0, tw::kOpFirst, tw::kKindXmmDouble),
                                    reinterpret_cast<std::uintptr_t>(&operand), 1};
    const std::uint64_t result =
        tw_test::CallWithXmm(reinterpret_cast<const void*>(&tw::FormatNumberList), args, in, out);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(static_cast<std::uintptr_t>(result))),
              std::string(FormatDouble(1.25 + n)))
        << "xmm" << n;
  }
  // Kinds 5 and 7: a signed 64-bit integer; combined with a second register.
  in[3] = static_cast<std::uint64_t>(-123456789012LL);
  in[6] = 1000;
  const tw::NumberOperand operands[2] = {tw::XmmOperand(3), tw::XmmOperand(6)};
  const std::uintptr_t args[4] = {tw::kFormatSigned,
                                  tw::OperandGroup(0, tw::kOpFirst, tw::kKindXmmInt64) |
                                      tw::OperandGroup(1, tw::kOpDivide, tw::kKindXmmInt64Also),
                                  reinterpret_cast<std::uintptr_t>(operands), 2};
  const std::uint64_t result =
      tw_test::CallWithXmm(reinterpret_cast<const void*>(&tw::FormatNumberList), args, in, out);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(static_cast<std::uintptr_t>(result))),
            "-123456789");
  // A selector outside 20 to 27 reads 0.
  const tw::NumberOperand outside = {28};
  EXPECT_EQ(std::string(tw::FormatNumber(0, tw::OperandGroup(0, tw::kOpFirst, tw::kKindXmmDouble),
                                         {outside})),
            "0.0");
}

TEST(XmmHelpers, WriteThenReadEachRegister) {
  for (int n = 0; n < 8; ++n) {
    const std::uint64_t value = 0x0123456789ABCDEFull + static_cast<std::uint64_t>(n);
    tw::WriteXmmLow(n, value);
    const std::uint64_t read = tw::ReadXmmLow(n);
    EXPECT_EQ(read, value) << "xmm" << n;
  }
  EXPECT_EQ(tw::ReadXmmLow(8), 0u);
}

TEST(WriteDigits, WritesRightToLeftWithOptionalPoint) {
  char buffer[40];
  char* const last = buffer + 38;
  buffer[39] = '\0';
  auto written = [&](std::uint64_t value, int decimals) {
    char* before = tw::WriteDigits(value, last, decimals < 0 ? nullptr : last - decimals);
    return std::string(before + 1, last + 1);
  };
  EXPECT_EQ(written(0, -1), "0");
  EXPECT_EQ(written(7, -1), "7");
  EXPECT_EQ(written(1234567, 3), "1234.567");
  EXPECT_EQ(written(1234567, 7), "1234567");  // the digits end before the point
  EXPECT_EQ(written(12, 5), "12");            // a point outside the digit run is never reached
  EXPECT_EQ(written(4294967295u, -1), "4294967295");
  EXPECT_EQ(written(4294967296u, -1), "4294967296");
  EXPECT_EQ(written(UINT64_MAX, -1), "18446744073709551615");
  EXPECT_EQ(written(UINT64_MAX, 10), "1844674407.3709551615");
  std::mt19937_64 random(7);
  for (int i = 0; i < 20000; ++i) {
    const std::uint64_t value = random() >> (random() % 64);
    char expected[24];
    std::snprintf(expected, sizeof expected, "%llu", static_cast<unsigned long long>(value));
    ASSERT_EQ(written(value, -1), expected);
  }
}

TEST(FormatNumber, AnyFormatBytesGiveATextInsideTheArea) {
  std::mt19937 random(11);
  const char* area = tw::TempTextArea();
  for (int i = 0; i < 3000; ++i) {
    std::string format(random() % 300, ' ');
    for (char& c : format) c = static_cast<char>(random() % 3 == 0 ? '%' : random() % 256);
    const std::int32_t word = static_cast<std::int32_t>(random());
    const std::uint32_t kind = random() % 2 == 0 ? tw::kKindInt32 : tw::kKindFloat;
    const std::uint32_t descriptor =
        (random() & (tw::kWideResult | tw::kNegateFirst)) |
        tw::OperandGroup(0, tw::kOpFirst, static_cast<tw::NumberKind>(kind));
    const char* text = tw::FormatNumber(Arg(format.c_str()), descriptor,
                                        {tw::NumberOperand{static_cast<std::uint32_t>(word)}});
    const tw::TextView newest = tw::ResolveString(tw::kNewestResult);
    ASSERT_EQ(newest.text, text);
    ASSERT_GE(text, area);
    ASSERT_LE(text + newest.length + 2, area + tw::kTempTextAreaSize);
    ASSERT_LE(newest.length, static_cast<std::int32_t>(2 * (format.size() + 30)));
    ASSERT_EQ(text[newest.length], '\0');
  }
}

TEST(FormatNumber, TextsBeyondTheLimitEndInFatalError9) {
  // The longest format that fits: 159,980 literal bytes and the number.
  static std::string longest(159980, 'a');
  const char* text = tw::FormatExtended(Arg(longest.c_str()), 1.0L);
  EXPECT_EQ(std::strlen(text), 159980u + 8u);
  TW_SKIP_WITHOUT_CHILD_PROCESS();
  tw_test::ChildResult child = tw_test::RunChild("format-too-long");
  EXPECT_EQ(child.exitCode, -9);
  EXPECT_NE(child.error.find("Insufficient buffer or New$(<=0)"), std::string::npos);
  child = tw_test::RunChild("wide-format-too-long");
  EXPECT_EQ(child.exitCode, -9);
}

// ---- Comparison with an exact reference ----------------------------------------

// value = 0.d1 d2 d3 ... scaled: d1.d2d3... x 10^exponent, exactly.
struct ExactDecimal {
  std::string digits;
  int exponent;
};

ExactDecimal DecimalOf(tw_test::BigNumber mantissa, int binaryExponent) {
  if (binaryExponent >= 0) {
    tw_test::ShiftLeft(mantissa, binaryExponent);
    const std::string text = tw_test::DecimalText(mantissa);
    return {text, static_cast<int>(text.size()) - 1};
  }
  tw_test::MultiplyPowerOfFive(mantissa, -binaryExponent);
  const std::string text = tw_test::DecimalText(mantissa);
  return {text, static_cast<int>(text.size()) - 1 + binaryExponent};
}

// The decimal rounding the formatter promises: digits significant digits,
// exact halves down, the exponent limits of the table and the signed 64-bit
// conversion.
struct Rounded {
  bool outOfRange;
  int exponent;
  std::uint64_t significand;
};

// floor(log10(value) + 2e-19): a value whose digits read at least
// 0.9999999999999999995395 of the next power (10^-2e-19) counts as that power.
bool CountsAsNextPower(const ExactDecimal& value) {
  static const std::string kThreshold = "9999999999999999995395";
  std::string head = value.digits.substr(0, kThreshold.size());
  head.resize(kThreshold.size(), '0');
  return head >= kThreshold;
}

std::uint64_t PowerOfTen(int n) {
  std::uint64_t power = 1;
  while (n-- > 0) power *= 10;
  return power;
}

Rounded RoundExactly(const ExactDecimal& value, int digits) {
  if (CountsAsNextPower(value)) {
    // Rounding at the next exponent gives its lowest significand.
    const int e = value.exponent + 1;
    if (e - digits < -156 || e - digits > 142) return {true, 0, 0};
    return {false, e, PowerOfTen(digits - 1)};
  }
  const int e = value.exponent;
  if (e - digits < -156 || e - digits > 142) return {true, 0, 0};
  std::uint64_t significand = 0;
  for (int i = 0; i < digits; ++i) {
    const int digit = i < static_cast<int>(value.digits.size()) ? value.digits[i] - '0' : 0;
    significand = significand * 10 + static_cast<std::uint64_t>(digit);
  }
  if (static_cast<int>(value.digits.size()) > digits) {
    const char first = value.digits[digits];
    const bool rest = value.digits.find_first_not_of('0', digits + 1) != std::string::npos;
    if (first > '5' || (first == '5' && rest)) ++significand;
  }
  if (significand >= (std::uint64_t{1} << 63)) return {true, 0, 0};
  return {false, e, significand};
}

// The text of a rounded value by the notation rules, written independently
// of the formatter's code.
std::string Render(const Rounded& r, int digits) {
  if (r.outOfRange) return "^v?";
  const bool carry = r.significand == PowerOfTen(digits);
  const std::string all = std::to_string(r.significand);
  const int e = r.exponent;
  if (e >= 0 && e < digits) {
    const int decimals = digits - 1 - e;
    if (decimals == 0) return all + ".0";
    return all.substr(0, all.size() - decimals) + "." + all.substr(all.size() - decimals);
  }
  if (e < 0 && e >= -3) {
    const int zeros = -e - 1;
    if (!carry) return "0." + std::string(zeros, '0') + all;
    if (zeros == 0) return "1." + std::string(digits, '0');
    return "0." + std::string(zeros - 1, '0') + all;
  }
  std::string mantissa;
  int exponent = e;
  if (carry) {
    mantissa = "1." + std::string(digits, '0');
    ++exponent;
  } else {
    mantissa = all.substr(0, 1) + "." + (digits == 1 ? std::string("0") : all.substr(1));
  }
  const int magnitude = exponent < 0 ? -exponent : exponent;
  return mantissa + "e" + (exponent < 0 ? "-" : "+") + (magnitude < 10 ? "0" : "") +
         std::to_string(magnitude);
}

struct Binary {
  std::uint64_t mantissa;
  int exponent;
};

Binary BinaryOf(long double magnitude) {
  int exponent = 0;
  const long double fraction = std::frexp(magnitude, &exponent);
  return {static_cast<std::uint64_t>(std::ldexp(fraction, 64)), exponent - 64};
}

// Texts the formatter may give for value: the exact rounding, and, because
// it computes in 80 bits with tabulated powers, the roundings of every value
// within 2^-58 of it (relative).
std::vector<std::string> AcceptableTexts(long double value, int digits) {
  const bool negative = value < 0;
  const Binary binary = BinaryOf(negative ? -value : value);
  const tw_test::BigNumber exact = tw_test::BigFrom(binary.mantissa);
  tw_test::BigNumber scaled = exact;
  tw_test::ShiftLeft(scaled, 58);
  const Rounded low =
      RoundExactly(DecimalOf(tw_test::Difference(scaled, exact), binary.exponent - 58), digits);
  const Rounded middle = RoundExactly(DecimalOf(exact, binary.exponent), digits);
  const Rounded high =
      RoundExactly(DecimalOf(tw_test::Sum(scaled, exact), binary.exponent - 58), digits);
  std::vector<std::string> texts = {Render(middle, digits), Render(low, digits),
                                    Render(high, digits)};
  // Every rounding between the two neighbours (at most one power of ten lies
  // between them).
  auto addRange = [&](int exponent, std::uint64_t from, std::uint64_t to) {
    for (std::uint64_t s = from; s <= to && s < (std::uint64_t{1} << 63) && s - from < 64; ++s) {
      texts.push_back(Render({false, exponent, s}, digits));
    }
  };
  if (!low.outOfRange && !high.outOfRange && low.exponent == high.exponent) {
    addRange(low.exponent, low.significand, high.significand);
  } else {
    if (!low.outOfRange) addRange(low.exponent, low.significand, PowerOfTen(digits));
    if (!high.outOfRange) addRange(high.exponent, PowerOfTen(digits - 1), high.significand);
  }
  if (negative) {
    for (std::string& text : texts) text = "-" + text;
  }
  return texts;
}

bool Accepted(const std::vector<std::string>& texts, const std::string& text) {
  for (const std::string& candidate : texts) {
    if (candidate == text) return true;
  }
  return false;
}

void ExpectLikeReference(long double value, int digits) {
  const std::string text = FormatAt(value, digits);
  const std::vector<std::string> texts = AcceptableTexts(value, digits);
  ASSERT_TRUE(Accepted(texts, text)) << "value " << static_cast<double>(value) << " digits "
                                     << digits << ": got " << text << ", exact " << texts[0];
}

TEST(FormatNumberReference, RandomValuesAcrossTheTableRange) {
  std::mt19937_64 random(2026);
  for (int i = 0; i < 6000; ++i) {
    const std::uint64_t mantissa = random() | (std::uint64_t{1} << 63);
    const int exponent = static_cast<int>(random() % 1040) - 570;  // about 1e-153 to 1e+153
    long double value = std::ldexp(static_cast<long double>(mantissa), exponent);
    if (random() % 4 == 0) value = -value;
    ExpectLikeReference(value, static_cast<int>(random() % 19) + 1);
  }
}

TEST(FormatNumberReference, ValuesNextToRoundingPointsCarriesAndNotationBoundaries) {
  std::mt19937_64 random(99);
  static const char* const kTails[] = {"5", "49999999999",   "50000000001",  "4", "6",
                                       "",  "9999999999999", "0000000000001"};
  for (int i = 0; i < 4000; ++i) {
    const int digits = static_cast<int>(random() % 19) + 1;
    std::string text;
    if (random() % 3 == 0) {
      text = std::string(static_cast<std::size_t>(digits), '9');  // carries
    } else {
      text = std::to_string(random() % 9 + 1);
      while (static_cast<int>(text.size()) < digits) text += static_cast<char>('0' + random() % 10);
    }
    text += kTails[random() % (sizeof kTails / sizeof kTails[0])];
    const int shift = static_cast<int>(random() % 40) - 25;  // -3..-1, 0..D-1 and beyond
    text += "e" + std::to_string(shift - static_cast<int>(text.size()) + 1);
    const long double value = std::strtold(text.c_str(), nullptr);
    ExpectLikeReference(random() % 5 == 0 ? -value : value, digits);
  }
  for (int digits = 1; digits <= 19; ++digits) {
    for (int power = -6; power <= 22; ++power) {
      const long double value = std::pow(10.0L, power);
      ExpectLikeReference(value, digits);
      ExpectLikeReference(std::nextafter(value, 0.0L), digits);
      ExpectLikeReference(std::nextafter(value, 1e30L), digits);
    }
  }
}

TEST(FormatNumberReference, ExactHalvesRoundDown) {
  // m / 2^t has a last significant digit 5; at one digit fewer it is an exact
  // half, and the scaling by 10^(D-1-e) (0 to 27) is exact, so the text must
  // be the exact rounding with the half going down.
  std::mt19937_64 random(5);
  int checked = 0;
  for (int i = 0; i < 40000 && checked < 3000; ++i) {
    const int t = static_cast<int>(random() % 40) + 1;
    const std::uint64_t m = (random() >> (random() % 60)) | 1;
    const long double value = std::ldexp(static_cast<long double>(m), -t);
    const ExactDecimal exact = DecimalOf(tw_test::BigFrom(m), -t);
    const int digits = static_cast<int>(exact.digits.size()) - 1;
    const int power = digits - 1 - exact.exponent;
    if (digits < 1 || digits > 18 || power < 0 || power > 27) continue;
    ++checked;
    const std::string expected = Render(RoundExactly(exact, digits), digits);
    ASSERT_EQ(FormatAt(value, digits), expected) << static_cast<double>(value);
    ASSERT_EQ(FormatAt(-value, digits), "-" + expected);
  }
  EXPECT_GT(checked, 1000);
}

// ---- One operand without the x87 unit against the evaluation in the unit ----

// The text of one operand of a given kind at digits digits; the extended
// kind is evaluated in the x87 unit, every other kind with integer
// arithmetic.
std::string FormatOperand(std::uint32_t kind, tw::NumberOperand operand, int digits,
                          bool negate = false) {
  const char format[] = {'%', PrecisionCharacter(digits), 'f', '\0'};
  const std::uint32_t descriptor =
      tw::OperandGroup(0, tw::kOpFirst, static_cast<tw::NumberKind>(kind)) |
      (negate ? tw::kNegateFirst : 0);
  return tw::FormatNumber(Arg(format), descriptor, {operand});
}

std::string FormatThroughUnit(long double value, int digits) {
  return FormatOperand(tw::kKindExtendedPtr, tw::ExtendedOperand(&value), digits);
}

// Doubles where the rendering could go wrong: next to powers of ten and to
// rounding points of every precision, exact halves, subnormals, the table's
// ends, and random bit patterns.
double InterestingDouble(std::mt19937_64& random) {
  switch (random() % 6) {
    case 0: {
      const double power = std::pow(10.0, static_cast<int>(random() % 330) - 165);
      const int steps = static_cast<int>(random() % 5) - 2;
      double value = power;
      for (int k = 0; k < steps; ++k) value = std::nextafter(value, 1e300);
      for (int k = 0; k > steps; --k) value = std::nextafter(value, 0.0);
      return value;
    }
    case 1:  // m / 2^t: a half at some precision
      return std::ldexp(static_cast<double>((random() >> 11) | 1),
                        -static_cast<int>(random() % 60));
    case 2: {  // a decimal of 1 to 17 digits, with a tail that rounds
      static const char* const kTails[] = {"5", "49999", "50001", "9999999", ""};
      std::string text = std::to_string(random() % 100000000000000000ull + 1);
      text += kTails[random() % 5];
      text += "e" + std::to_string(static_cast<int>(random() % 60) - 40);
      return std::strtod(text.c_str(), nullptr);
    }
    case 3: {  // any bit pattern: subnormals, infinities, not-a-number, the table's ends
      const std::uint64_t bits = random();
      double value;
      std::memcpy(&value, &bits, sizeof value);
      return value;
    }
    default: {
      const double value = std::ldexp(1.0 + static_cast<double>(random() >> 11) * 0x1p-53,
                                      static_cast<int>(random() % 1100) - 550);
      return random() % 4 == 0 ? -value : value;
    }
  }
}

TEST(FormatNumber, OneOperandOfEveryKindReadsLikeTheUnit) {
  std::mt19937_64 random(1309);
  for (int i = 0; i < 60000; ++i) {
    const int digits = static_cast<int>(random() % 19) + 1;
    const double value = InterestingDouble(random);
    ASSERT_EQ(FormatOperand(tw::kKindDoublePtr, tw::DoubleOperand(&value), digits),
              FormatThroughUnit(value, digits))
        << value << " digits " << digits;
    ASSERT_EQ(FormatOperand(tw::kKindDoublePtr, tw::DoubleOperand(&value), digits, true),
              FormatThroughUnit(-static_cast<long double>(value), digits))
        << -value << " digits " << digits;
    const float narrow = static_cast<float>(value);
    ASSERT_EQ(FormatOperand(tw::kKindFloat, tw::FloatOperand(narrow), digits),
              FormatThroughUnit(narrow, digits))
        << narrow << " digits " << digits;
    const std::int64_t whole = static_cast<std::int64_t>(random()) >> (random() % 64);
    ASSERT_EQ(FormatOperand(tw::kKindInt64Ptr, tw::Int64Operand(&whole), digits),
              FormatThroughUnit(static_cast<long double>(whole), digits))
        << whole << " digits " << digits;
    const std::int32_t small = static_cast<std::int32_t>(whole);
    ASSERT_EQ(FormatOperand(tw::kKindInt32, tw::Int32Operand(small), digits),
              FormatThroughUnit(small, digits))
        << small << " digits " << digits;
  }
  // Limits of the integer kinds, and addresses that read as 0.
  static const std::int64_t kWholes[] = {INT64_MIN, INT64_MAX,          INT64_MIN + 1,      0, -1,
                                         1,         999999999999999999, 1000000000000000000};
  for (int digits = 1; digits <= 19; ++digits) {
    for (std::int64_t whole : kWholes) {
      EXPECT_EQ(FormatOperand(tw::kKindInt64Ptr, tw::Int64Operand(&whole), digits),
                FormatThroughUnit(static_cast<long double>(whole), digits))
          << whole << " digits " << digits;
    }
    EXPECT_EQ(FormatOperand(tw::kKindInt32, tw::Int32Operand(INT32_MIN), digits),
              FormatThroughUnit(INT32_MIN, digits));
    EXPECT_EQ(FormatOperand(tw::kKindDoublePtr, tw::DoubleOperand(nullptr), digits), "0.0");
    EXPECT_EQ(FormatOperand(tw::kKindInt64Ptr, tw::Int64Operand(nullptr), digits), "0.0");
  }
}

}  // namespace
