// Fuzz target of ReadNumber: a text from the input against an unreadable
// page (or a result of the ring read within its length), read into every
// destination kind and form: addresses, null, register selectors in and out
// of range, unknown kinds. Checked: an error leaves the destination as it was
// and gives -127 twice; a read writes only its destination's bytes; every kind
// agrees with the extended value of the same text, which the general reader
// (the text as the newest result) gives too; plain integers read exactly
// (with the sign of a negative zero for the floating kinds).
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_reference.h"
#include "fuzz_support.h"
#include "support/parse.h"
#include "support/strings.h"

namespace {

// A destination with guard bytes on both sides.
struct Destination {
  std::uint8_t before[16];
  alignas(16) std::uint8_t value[16];
  std::uint8_t after[16];
};

constexpr std::uint8_t kFill = 0xA5;

std::size_t StoredBytes(std::int32_t kind) {
  switch (kind) {
    case tw::kReadFloat:
      return sizeof(float);
    case tw::kReadDouble:
    case tw::kReadInt64:
      return 8;
    case tw::kReadExtended:
      return 10;  // the 80-bit value; the padding of a long double is not written
    default:
      return 0;
  }
}

bool IsPlainInteger(const std::string& text, bool* negative) {
  std::size_t at = 0;
  *negative = !text.empty() && text[0] == '-';
  if (*negative) ++at;
  const std::size_t digits = text.size() - at;
  if (digits == 0 || digits > 18) return false;
  for (; at < text.size(); ++at) {
    if (text[at] < '0' || text[at] > '9') return false;
  }
  return true;
}

struct Outcome {
  tw::NumberRead read;
  Destination destination;
};

Outcome Read(tw::StringArg source, std::int32_t kind, int form) {
  Outcome out;
  std::memset(&out.destination, kFill, sizeof out.destination);
  std::uintptr_t destination = reinterpret_cast<std::uintptr_t>(out.destination.value);
  if (form == 1) destination = 0;  // null
  if (kind == tw::kReadXmmDouble || kind == tw::kReadXmmInt64 || kind == tw::kReadXmmInt64Also) {
    destination = form == 1 ? 19 : form == 2 ? 28 : 20 + static_cast<std::uintptr_t>(form % 8);
  }
  out.read = tw::ReadNumber(source, destination, kind);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tw_fuzz::Prepare();
  if (setjmp(tw_fuzz::g_startOver) != 0) return tw_fuzz::AfterFatalError(0);
  tw_fuzz::Input in(data, size);
  const std::uint8_t control = in.Byte();
  const int form = in.Byte() % 8;
  std::string text = tw_fuzz::UpToZero(in.Rest());
  if (text.size() > tw_fuzz::kGuardedTextLimit) text.resize(tw_fuzz::kGuardedTextLimit);
  const char* placed = tw_fuzz::GuardedText(0, text);
  tw::StringArg source = tw::Arg(placed);
  std::string seen = text;
  if ((control & 0x80) != 0 && !text.empty()) {
    // The newest result, a view shorter than its source: read within its length.
    const std::int32_t length = static_cast<std::int32_t>(control % text.size());
    tw::TextMid(source, length == 0 ? -1 : length, 1);
    source = tw::kNewestResult;
    seen = text.substr(0, length == 0 ? text.size() : static_cast<std::size_t>(length));
  }
  const std::int32_t kind = (control & 0x40) != 0 ? static_cast<std::int32_t>(control % 12) - 2
                                                  : static_cast<std::int32_t>(control % 8);
  const std::string what = "ReadNumber(" + tw_fuzz::Escaped(seen) + ", kind " +
                           std::to_string(kind) + ", form " + std::to_string(form) + ")";

  const Outcome got = Read(source, kind, form);
  const Outcome extended = Read(source, tw::kReadExtended, 0);
  long double master = 0;
  std::memcpy(&master, extended.destination.value, 10);
  const bool failed = got.read.count == tw::kReadError;
  TW_FUZZ_CHECK(!failed || got.read.value == tw::kReadError,
                what + " value " + std::to_string(got.read.value));
  TW_FUZZ_CHECK(std::memcmp(got.destination.before,
                            std::string(16, static_cast<char>(kFill)).data(), 16) == 0 &&
                    std::memcmp(got.destination.after,
                                std::string(16, static_cast<char>(kFill)).data(), 16) == 0,
                what + " wrote beside its destination");
  const std::size_t stored = failed ? 0 : StoredBytes(kind);
  for (std::size_t i = stored; i < 16; ++i) {
    if (kind == tw::kReadExtended && i >= 10) break;  // a long double's padding may be stored
    TW_FUZZ_CHECK(
        got.destination.value[i] == kFill,
        what + (failed ? " changed its destination on an error" : " wrote past its value"));
  }
  if (kind < 0 || kind > 7) {
    TW_FUZZ_CHECK(failed, what + " accepted an unknown kind");
    return 0;
  }
  if (seen.size() < 255 && !failed) {
    TW_FUZZ_CHECK(tw::CharactersUsed(got.read.count) <= static_cast<std::int32_t>(seen.size()) &&
                      tw::BaseFlag(got.read.count) <= 2 && got.read.count >= 0,
                  what + " count " + std::to_string(got.read.count));
  }
  const bool needsAddress = kind == 1 || kind == 2 || kind == 3 || kind == 6;
  const bool register_ = kind == 4 || kind == 5 || kind == 7;
  if ((needsAddress && form == 1) || (register_ && (form == 1 || form == 2))) {
    TW_FUZZ_CHECK(failed, what + " accepted a destination that is not one");
    return 0;
  }
  const bool extendedFailed = extended.read.count == tw::kReadError;
  // The floating kinds fail exactly when the extended read fails, and count alike.
  if (kind >= 1 && kind <= 4) {
    TW_FUZZ_CHECK(failed == extendedFailed && got.read.count == extended.read.count,
                  what + " count " + std::to_string(got.read.count) + ", as extended " +
                      std::to_string(extended.read.count));
  }
  if (source != tw::kNewestResult && !text.empty()) {
    // The same text as the newest result goes through the general reader
    // (only texts at an address take the plain decimal fast path): the same
    // extended value and count.
    tw::TextMid(tw::Arg(placed), -1, 1);
    const Outcome general = Read(tw::kNewestResult, tw::kReadExtended, 0);
    TW_FUZZ_CHECK(general.read.count == extended.read.count &&
                      (extendedFailed ||
                       std::memcmp(general.destination.value, extended.destination.value, 10) == 0),
                  what + " reads differently as the newest result");
  }
  if (failed || extendedFailed) return 0;
  TW_FUZZ_CHECK(got.read.count == extended.read.count,
                what + " counts differently from the extended read");
  float f;
  double d;
  std::int64_t i64;
  std::memcpy(&f, got.destination.value, sizeof f);
  std::memcpy(&d, got.destination.value, sizeof d);
  std::memcpy(&i64, got.destination.value, sizeof i64);
  const std::string against =
      what + " against the extended value " + std::to_string(static_cast<double>(master));
  switch (kind) {
    case tw::kReadInt32:
      TW_FUZZ_CHECK(got.read.value ==
                        static_cast<std::int32_t>(static_cast<std::uint64_t>(std::llrint(master))),
                    against + ": " + std::to_string(got.read.value));
      break;
    case tw::kReadFloat: {
      const float expected = static_cast<float>(master);
      TW_FUZZ_CHECK(std::memcmp(&f, &expected, 4) == 0 || (std::isnan(f) && std::isnan(master)),
                    against);
      break;
    }
    case tw::kReadDouble: {
      const double expected = static_cast<double>(master);
      TW_FUZZ_CHECK(std::memcmp(&d, &expected, 8) == 0 || (std::isnan(d) && std::isnan(master)),
                    against);
      break;
    }
    case tw::kReadInt64:
      TW_FUZZ_CHECK(i64 == std::llrint(master), against + ": " + std::to_string(i64));
      break;
    default:
      break;
  }
  // Plain integers of up to 18 digits read exactly; "-0" is a negative zero
  // for the floating kinds.
  bool negative = false;
  if (IsPlainInteger(seen, &negative)) {
    const long long exact = std::strtoll(seen.c_str(), nullptr, 10);
    TW_FUZZ_CHECK(
        master == static_cast<long double>(exact) &&
            std::signbit(master) == (negative && exact == 0 ? true : exact < 0),
        what + " read the plain integer as " + std::to_string(static_cast<double>(master)));
    if (kind == tw::kReadDouble) {
      TW_FUZZ_CHECK(std::signbit(d) == std::signbit(master), what + " dropped the sign of zero");
    }
    if (kind == tw::kReadFloat) {
      TW_FUZZ_CHECK(std::signbit(f) == std::signbit(master), what + " dropped the sign of zero");
    }
  }
  return 0;
}
