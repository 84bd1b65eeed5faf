// Fuzz target of the string functions on texts from the input (each against
// an unreadable page): TextSubstitute, TextMid, TextTrim, TextCase (bytes and
// UTF-16), NewZeroText, HexText and BinaryText. Every result is compared with
// a small reference, and carried out with ResultPersist and compared again.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "compat/win32.h"
#include "fuzz_reference.h"
#include "fuzz_support.h"
#include "support/errors.h"
#include "support/strings.h"

namespace {

// The newest result's produced text: its length from the slot, its bytes
// from a persistent copy (which must hold them all, and a zero after them;
// a zero buffer's length counts its terminating zero already).
std::string NewestProduced(bool zeroBuffer = false) {
  const tw::ResultSlotRecord* slot = tw::ResultSlotAt(tw::CurrentResultSlot());
  const std::int32_t length = slot->length < 0 ? -slot->length : slot->length;
  const char* copy = tw::ResultPersist();
  TW_FUZZ_CHECK(zeroBuffer || copy[length] == '\0',
                "persistent copy of " + std::to_string(length) + " bytes");
  return std::string(copy, static_cast<std::size_t>(length));
}

void Expect(const std::string& got, const std::string& expected, const std::string& what) {
  if (got == expected) return;
  tw_fuzz::Finding(
      "result differs from the reference",
      what + ": got " + tw_fuzz::Escaped(got) + ", expected " + tw_fuzz::Escaped(expected));
}

void Substitute(tw_fuzz::Input& in) {
  const std::uint32_t options = (in.Byte() & 7) | (static_cast<std::uint32_t>(in.Byte() % 4) << 8);
  const std::string source = tw_fuzz::UpToZero(in.Text(2000));
  const std::string pattern = tw_fuzz::UpToZero(in.Text(40));
  const std::string replacement = tw_fuzz::UpToZero(in.Text(300));
  const std::int64_t length = tw_fuzz::SubstituteLength(source, pattern, replacement, options);
  const tw::ResultSlotRecord* slot = tw::TextSubstitute(
      tw::Arg(tw_fuzz::GuardedText(0, source)), tw::Arg(tw_fuzz::GuardedText(1, pattern)),
      tw::Arg(tw_fuzz::GuardedText(2, replacement)), options);
  const std::string what = "TextSubstitute(" + tw_fuzz::Escaped(source) + ", " +
                           tw_fuzz::Escaped(pattern) + ", " + tw_fuzz::Escaped(replacement) + ", " +
                           std::to_string(options) + ")";
  TW_FUZZ_CHECK(slot->length == length, what + " length " + std::to_string(slot->length));
  Expect(NewestProduced(), tw_fuzz::SubstituteReference(source, pattern, replacement, options),
         what);
}

void Mid(tw_fuzz::Input& in) {
  const std::int32_t count = static_cast<std::int32_t>(in.Word());
  const std::int32_t position = static_cast<std::int32_t>(in.Word());
  // Small counts and positions are the interesting ones.
  const std::int32_t smallCount = (in.Byte() & 1) ? count : count % 64;
  const std::int32_t smallPosition = (in.Byte() & 1) ? position : position % 64;
  const std::string source = tw_fuzz::UpToZero(in.Text(2000));
  const char* text = tw_fuzz::GuardedText(0, source);
  const std::string what = "TextMid(" + tw_fuzz::Escaped(source) + ", " +
                           std::to_string(smallCount) + ", " + std::to_string(smallPosition) + ")";
  if ((static_cast<std::uint32_t>(smallCount) >> 24) == 0x80) return;  // UTF-16 counts: below
  const tw::ResultSlotRecord* slot = tw::TextMid(tw::Arg(text), smallCount, smallPosition);
  const std::string expected = tw_fuzz::MidReference(source, smallCount, smallPosition);
  TW_FUZZ_CHECK(slot->length == static_cast<std::int32_t>(expected.size()),
                what + " length " + std::to_string(slot->length));
  const char* address = reinterpret_cast<const char*>(slot->address);
  TW_FUZZ_CHECK(
      expected.empty() || (address >= text && address + slot->length <= text + source.size()),
      what + " points outside its source");
  Expect(std::string(address, static_cast<std::size_t>(slot->length)), expected, what);
  Expect(NewestProduced(), expected, what + " persisted");
}

void WideMid(tw_fuzz::Input& in) {
  const std::uint32_t units = in.Byte();
  const std::int32_t position = static_cast<std::int8_t>(in.Byte());
  std::u16string source;
  for (const char c : in.Text(400))
    source.push_back(static_cast<char16_t>(0x100 | static_cast<unsigned char>(c)));
  const char16_t* text = tw_fuzz::GuardedWideText(0, source);
  const std::string bytes(reinterpret_cast<const char*>(source.data()), 2 * source.size());
  const std::int32_t count = static_cast<std::int32_t>(tw::kMidWide | units);
  const tw::ResultSlotRecord* slot = tw::TextMid(tw::Arg(text), count, position);
  const std::string expected = tw_fuzz::MidReference(bytes, count, position);
  Expect(std::string(reinterpret_cast<const char*>(slot->address),
                     static_cast<std::size_t>(slot->length)),
         expected,
         "TextMid of " + std::to_string(source.size()) + " UTF-16 units, " + std::to_string(units) +
             " units from " + std::to_string(position));
}

void Trim(tw_fuzz::Input& in) {
  const std::uint32_t mode = in.Byte() & 3;
  const std::string source = tw_fuzz::UpToZero(in.Text(3000));
  tw::TextTrim(tw::Arg(tw_fuzz::GuardedText(0, source)), mode);
  const std::string expected = tw_fuzz::TrimReference(source, mode);
  const tw::TextView newest = tw::ResolveString(tw::kNewestResult);
  const std::string what =
      "TextTrim(" + tw_fuzz::Escaped(source) + ", " + std::to_string(mode) + ")";
  Expect(std::string(newest.text, static_cast<std::size_t>(newest.length)), expected, what);
  TW_FUZZ_CHECK(newest.text[newest.length] == '\0', what + " without its zero");
  Expect(NewestProduced(), expected, what + " persisted");
}

void Case(tw_fuzz::Input& in) {
  const std::uint32_t flags = in.Byte() & 3;
  if ((flags & tw::kCaseWide) != 0) {
    std::u16string source;
    const std::string bytes = in.Text(1000);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
      const char16_t unit = static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                                  (static_cast<unsigned char>(bytes[i + 1]) << 8));
      if (unit == 0) break;
      source.push_back(unit);
    }
    std::u16string expected = source;
    if (!expected.empty()) {
      WCHAR* units = reinterpret_cast<WCHAR*>(expected.data());
      const DWORD count = static_cast<DWORD>(expected.size());
      (flags & tw::kCaseUpper) ? CharUpperBuffW(units, count) : CharLowerBuffW(units, count);
    }
    tw::TextCase(tw::Arg(tw_fuzz::GuardedWideText(0, source)), flags);
    Expect(NewestProduced(),
           std::string(reinterpret_cast<const char*>(expected.data()), 2 * expected.size()),
           "TextCase of " + std::to_string(source.size()) + " UTF-16 units, flags " +
               std::to_string(flags));
    return;
  }
  const std::string source = tw_fuzz::UpToZero(in.Text(3000));
  const std::string expected = tw_fuzz::CaseReference(source, (flags & tw::kCaseUpper) != 0);
  tw::TextCase(tw::Arg(tw_fuzz::GuardedText(0, source)), flags);
  Expect(NewestProduced(), expected,
         "TextCase(" + tw_fuzz::Escaped(source) + ", " + std::to_string(flags) + ")");
}

void ZeroText(tw_fuzz::Input& in) {
  // Sizes up to about twice what a temporary text can take (a persistent copy
  // of gigabytes would only measure the heap); 0 or less: fatal error 9.
  const std::int32_t size = static_cast<std::int32_t>(in.Word() % 320002) - 2;
  tw::NewZeroText(size);  // 0 or less: fatal error 9
  const std::string produced = NewestProduced(true);
  TW_FUZZ_CHECK(
      produced.size() == static_cast<std::size_t>(size) + 1,
      "NewZeroText(" + std::to_string(size) + ") length " + std::to_string(produced.size()));
  TW_FUZZ_CHECK(produced.find_first_not_of('\0') == std::string::npos,
                "NewZeroText(" + std::to_string(size) + ") produced other bytes than zeros");
}

void HexAndBinary(tw_fuzz::Input& in) {
  const std::uint32_t value = in.Word();
  const int bytes = static_cast<std::int8_t>(in.Byte());
  const int n = bytes < 1 || bytes > 4 ? 4 : bytes;
  char expected[16];
  std::snprintf(expected, sizeof expected, "%0*llX", 2 * n,
                static_cast<unsigned long long>(n == 4 ? value : value & ((1u << (8 * n)) - 1)));
  Expect(tw::HexText(value, bytes), expected,
         "HexText(" + std::to_string(value) + ", " + std::to_string(bytes) + ")");
  char buffer[40];
  std::memset(buffer, 'z', sizeof buffer);
  std::string bits;
  for (int i = 31; i >= 0; --i) bits += ((value >> i) & 1) ? '1' : '0';
  TW_FUZZ_CHECK(tw::BinaryText(value, buffer) == buffer, "BinaryText's result");
  Expect(buffer, bits, "BinaryText(" + std::to_string(value) + ")");
  TW_FUZZ_CHECK(buffer[33] == 'z', "BinaryText wrote past its 33 bytes");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tw_fuzz::Prepare();
  if (setjmp(tw_fuzz::g_startOver) != 0)
    return tw_fuzz::AfterFatalError(tw_fuzz::Allow(tw::kErrorBuffer));
  tw_fuzz::Input in(data, size);
  switch (in.Byte() % 7) {
    case 0:
      Substitute(in);
      break;
    case 1:
      Mid(in);
      break;
    case 2:
      WideMid(in);
      break;
    case 3:
      Trim(in);
      break;
    case 4:
      Case(in);
      break;
    case 5:
      ZeroText(in);
      break;
    default:
      HexAndBinary(in);
      break;
  }
  return 0;
}
