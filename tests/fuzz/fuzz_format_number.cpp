// Fuzz target of FormatNumber: arbitrary format strings (addresses against an
// unreadable page, the newest result read within its length, table codes and
// the three selectors), arbitrary descriptors with up to five operands of
// every kind, and 80-bit operands from raw encodings: not-a-number payloads,
// infinities, denormals, pseudo-denormals, unnormals. Checked: the text ends
// where its length says, stays within a temporary text's size, leaves the x87
// control word as it was; a text without a format code puts the number after
// it; one operand of a kind taken apart without the x87 unit gives the same
// text as its value evaluated in the unit; and a value formatted at 19 digits
// reads back within the rounding of its 19th digit (exactly, for a value that
// is a double).
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_reference.h"
#include "fuzz_support.h"
#include "support/errors.h"
#include "support/numbers.h"
#include "support/parse.h"
#include "support/startup.h"
#include "support/temptext.h"

namespace {

// An 80-bit value from its encoding: the 64-bit significand and the sign and
// exponent word. The shape byte forces the unusual encodings.
long double Extended(tw_fuzz::Input& in) {
  std::uint64_t significand = in.Long();
  std::uint16_t top = in.Half();
  switch (in.Byte() % 8) {
    case 0:  // not a number (payload) or pseudo-infinity / pseudo-NaN
      top |= 0x7FFF;
      break;
    case 1:  // denormal: exponent 0, integer bit clear
      top &= 0x8000;
      significand &= ~(std::uint64_t{1} << 63);
      break;
    case 2:  // pseudo-denormal: exponent 0, integer bit set
      top &= 0x8000;
      significand |= std::uint64_t{1} << 63;
      break;
    case 3:  // unnormal: exponent not 0, integer bit clear
      if ((top & 0x7FFF) == 0) top |= 1;
      significand &= ~(std::uint64_t{1} << 63);
      break;
    case 4:  // a normal value of moderate size
      top = static_cast<std::uint16_t>((top & 0x8000) | (16383 - 300 + (top % 600)));
      significand |= std::uint64_t{1} << 63;
      break;
    default:  // the encoding as it came
      break;
  }
  long double value = 0;
  unsigned char bytes[sizeof(long double)] = {};
  std::memcpy(bytes, &significand, 8);
  std::memcpy(bytes + 8, &top, 2);
  std::memcpy(&value, bytes, sizeof bytes);
  return value;
}

// The newest result, which must be the text at result, end where its length
// says and (for a format of plain text, not wide) hold no zero.
std::string NewestText(const char* result, bool wide, bool plainFormat = true) {
  const tw::TextView newest = tw::ResolveString(tw::kNewestResult);
  TW_FUZZ_CHECK(newest.text == result, "the result is not the newest temporary result");
  TW_FUZZ_CHECK(
      newest.length >= 0 && static_cast<std::uint32_t>(newest.length) < tw::kTempTextMaxBytes,
      "length " + std::to_string(newest.length));
  TW_FUZZ_CHECK(result[newest.length] == '\0' && (!wide || result[newest.length + 1] == '\0'),
                "the text does not end where its length says");
  const std::string text(result, static_cast<std::size_t>(newest.length));
  if (!wide && plainFormat) {
    TW_FUZZ_CHECK(text.find('\0') == std::string::npos,
                  "a zero inside the text " + tw_fuzz::Escaped(text));
  }
  return text;
}

// A value formatted at 19 digits reads back within the rounding of its 19th
// digit and the reader's few units in the last place; a value that is a
// double reads back as that double exactly.
void RoundTrip(long double value) {
  const long double magnitude = std::fabs(value);
  if (!std::isfinite(value) || !(magnitude > 1e-100L && magnitude < 1e100L)) return;
  const std::string text = NewestText(tw::FormatExtended(tw::Arg("%J"), value), false);
  // Digits that reach 9223372036854775808 do not fit the conversion.
  if (text == "^v?" || text == "-^v?") return;
  long double back = 0;
  const tw::NumberRead read =
      tw::ReadNumber(tw::Arg(text.c_str()), tw::Arg(&back), tw::kReadExtended);
  const std::string what =
      "19 digits of " + std::to_string(static_cast<double>(value)) + " '" + text + "'";
  TW_FUZZ_CHECK(read.count != tw::kReadError, what + " do not read back");
  TW_FUZZ_CHECK(std::fabs(back - value) <= 1e-18L * magnitude,
                what + " read back as " + std::to_string(static_cast<double>(back)));
  const double asDouble = static_cast<double>(value);
  if (static_cast<long double>(asDouble) == value) {
    double backDouble = 0;
    tw::ReadNumber(tw::Arg(text.c_str()), tw::Arg(&backDouble), tw::kReadDouble);
    TW_FUZZ_CHECK(backDouble == asDouble, what + " of a double read back as another double");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tw_fuzz::Prepare();
  if (setjmp(tw_fuzz::g_startOver) != 0) return tw_fuzz::AfterFatalError(0);
  // Every input starts from the same ring (table codes 11 to 25 name its
  // slots): the area empty, the slots filled with these format texts.
  static const char* const kRing[tw::kResultSlotCount] = {
      "",    "%",       "%5f", "Sum: %i", "%u units", "\\t%Jx\\n", "100% ",    "%:",
      "%@@", "no code", "%3",  "%A%B",    "x%ix%uy",  "%\x7f",     "\xff%\xfe"};
  tw::TempTextReset();
  for (const char* text : kRing) tw::TextMid(tw::Arg(text), -1, 1);
  tw_fuzz::Input in(data, size);
  const std::uint8_t selector = in.Byte();
  tw::SetDefaultPrecision(static_cast<std::int8_t>(in.Byte()));
  std::uint32_t descriptor = in.Word();
  if ((selector & 0x80) != 0) descriptor &= tw::kWideResult | tw::kNegateFirst | 0x3F;

  // Operands: values and the places the pointer kinds point at.
  long double extended[tw::kMaxNumberOperands];
  double doubles[tw::kMaxNumberOperands];
  std::int64_t longs[tw::kMaxNumberOperands];
  tw::NumberOperand operands[tw::kMaxNumberOperands];
  const int count = in.Byte() % (tw::kMaxNumberOperands + 1);
  bool registers = false;  // xmm0 to xmm7 differ from call to call
  for (int k = 0; k < count; ++k) {
    const std::uint32_t kind = (descriptor >> (6 * k + 3)) & 7;
    registers = registers || kind == tw::kKindXmmDouble || kind == tw::kKindXmmInt64 ||
                kind == tw::kKindXmmInt64Also;
    const std::uint8_t shape = in.Byte();
    extended[k] = Extended(in);
    std::memcpy(&doubles[k], &extended[k], sizeof doubles[k]);  // its low 8 bytes: any double
    std::memcpy(&longs[k], &extended[k], sizeof longs[k]);
    std::uintptr_t word = in.Word();
    switch (kind) {
      case tw::kKindDoublePtr:
        word = shape % 8 == 0 ? 0 : reinterpret_cast<std::uintptr_t>(&doubles[k]);
        break;
      case tw::kKindExtendedPtr:
        word = shape % 8 == 0 ? 0 : reinterpret_cast<std::uintptr_t>(&extended[k]);
        break;
      case tw::kKindInt64Ptr:
        word = shape % 8 == 0 ? 0 : reinterpret_cast<std::uintptr_t>(&longs[k]);
        break;
      case tw::kKindXmmDouble:
      case tw::kKindXmmInt64:
      case tw::kKindXmmInt64Also:
        word = 18 + shape % 12;  // 20 to 27 are registers, the rest read 0
        break;
      default:
        word &= 0xFFFFFFFFu;
        break;
    }
    operands[k].word = word;
  }

  // The format: a text of the input, or a selector, a table code or the newest result.
  std::string format = tw_fuzz::UpToZero(in.Text(2000));
  const char* placed = tw_fuzz::GuardedText(0, format);
  tw::StringArg argument = tw::Arg(placed);
  switch (selector % 8) {
    case 0:
      argument = tw::kFormatFloating;
      break;
    case 1:
      argument = tw::kFormatSigned;
      break;
    case 2:
      argument = tw::kFormatUnsigned;
      break;
    case 3:
      if (!format.empty()) {
        const std::int32_t length =
            static_cast<std::int32_t>(1 + in.Below(static_cast<std::uint32_t>(format.size())));
        tw::TextMid(argument, length, 1);
        format.resize(static_cast<std::size_t>(length));
        argument = tw::kFormatNewestResult;
      }
      break;
    case 4:
      argument = 2 + in.Below(125);
      break;
    default:
      break;
  }
  const std::uint16_t control = tw::FpuControlWord();
  const bool wide = (descriptor & tw::kWideResult) != 0;
  // A table code may name a result that holds zeros (a wide text): they are
  // copied as they are.
  const bool tableCode = argument > tw::kFormatSigned && argument < tw::kNewestResult;
  const std::string text =
      NewestText(tw::FormatNumberList(argument, descriptor, operands, count), wide, !tableCode);
  TW_FUZZ_CHECK(tw::FpuControlWord() == control, "the x87 control word changed");

  // A format text without a format code or backslash: the text, then the
  // number at the default precision.
  if (!registers && argument > tw::kNewestResult && argument != tw::kFormatUnsigned &&
      format.find('%') == std::string::npos && format.find('\\') == std::string::npos) {
    const std::string plain =
        NewestText(tw::FormatNumberList(tw::kFormatFloating, descriptor, operands, count), wide);
    std::string expected = format;
    if (wide) {
      expected.clear();
      for (char c : format) expected += std::string{c, '\0'};
    }
    TW_FUZZ_CHECK(text == expected + plain, "format " + tw_fuzz::Escaped(format) + " gave " +
                                                tw_fuzz::Escaped(text) + ", the number alone " +
                                                tw_fuzz::Escaped(plain));
  }
  // One operand of a kind that the formatter takes apart without the x87
  // unit: the same text as the same value given as an 80-bit operand, which
  // the unit evaluates.
  const std::uint32_t firstKind = (descriptor >> 3) & 7;
  const bool single = count >= 1 && ((descriptor >> 6) & 0xFFFFFF) == 0;
  const bool sameFormat = argument > tw::kNewestResult || argument <= tw::kFormatSigned;
  if (single && sameFormat &&
      (firstKind == tw::kKindInt32 || firstKind == tw::kKindFloat ||
       firstKind == tw::kKindDoublePtr || firstKind == tw::kKindInt64Ptr)) {
    const std::uintptr_t word = operands[0].word;
    long double same = 0;
    if (firstKind == tw::kKindInt32) {
      same = static_cast<std::int32_t>(static_cast<std::uint32_t>(word));
    } else if (firstKind == tw::kKindFloat) {
      const std::uint32_t bits = static_cast<std::uint32_t>(word);
      float narrow;
      std::memcpy(&narrow, &bits, sizeof narrow);
      same = narrow;
    } else if (firstKind == tw::kKindDoublePtr) {
      same = word == 0 ? 0.0L : doubles[0];
    } else {
      same = word == 0 ? 0.0L : static_cast<long double>(longs[0]);
    }
    const tw::NumberOperand unitOperand = tw::ExtendedOperand(&same);
    const std::uint32_t unitDescriptor =
        (descriptor & ~std::uint32_t{0x38}) | (std::uint32_t{tw::kKindExtendedPtr} << 3);
    const std::string unit = NewestText(
        tw::FormatNumberList(argument, unitDescriptor, &unitOperand, 1), wide, !tableCode);
    TW_FUZZ_CHECK(unit == text, "kind " + std::to_string(firstKind) + " gave " +
                                    tw_fuzz::Escaped(text) + ", the same value in the unit " +
                                    tw_fuzz::Escaped(unit));
  }
  for (int k = 0; k < count; ++k) RoundTrip(extended[k]);
  return 0;
}
