// Fuzz target of the temporary text area and the result ring together: a
// random sequence of library calls, most of them on the newest result (127):
// fresh texts (small ones against an unreadable page, long ones up to a
// temporary text's size), zero buffers, trimming, substrings, case,
// substitution (with long replacements), persistent copies, searches, number
// reading and formatting, command-line arguments. Beside the library the
// target keeps what the newest result must produce, computed by the small
// references; every result's length and every persistent copy is compared
// with it, and every routine that reads the newest result as text must see
// that text. Fatal error 9 (a text longer than a temporary text may be) ends
// a sequence.
#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_reference.h"
#include "fuzz_support.h"
#include "support/cmdline.h"
#include "support/errors.h"
#include "support/numbers.h"
#include "support/parse.h"
#include "support/search.h"
#include "support/strings.h"
#include "support/temptext.h"

namespace {

// Long texts (up to a temporary text's size) against an unreadable page.
constexpr std::size_t kLongLimit = tw::kTempTextMaxBytes;

char* LongText(int which, const std::string& text) {
  static char* areas[2] = {};
  const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  const std::size_t size = (kLongLimit + page) / page * page;
  if (areas[which] == nullptr) {
    void* base =
        mmap(nullptr, size + page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED) std::abort();
    mprotect(static_cast<char*>(base) + size, page, PROT_NONE);
    areas[which] = static_cast<char*>(base);
  }
  const std::size_t length = std::min(text.size(), kLongLimit - 1);
  char* at = areas[which] + size - length - 1;
  std::memcpy(at, text.data(), length);
  at[length] = '\0';
  return at;
}

// What the newest result must produce; unknown after a call whose result the
// target does not model.
struct Shadow {
  std::string text;
  bool known = false;
  bool zeroBuffer = false;  // a zero buffer's length counts a zero more than it produces
};

// Produced texts longer than this are not built by the references.
constexpr std::int64_t kShadowLimit = 4000000;

void Expect(const Shadow& shadow, const std::string& what) {
  if (!shadow.known) return;
  const tw::ResultSlotRecord* slot = tw::ResultSlotAt(tw::CurrentResultSlot());
  const std::int64_t length = slot->length < 0 ? -std::int64_t{slot->length} : slot->length;
  const std::int64_t expected =
      static_cast<std::int64_t>(shadow.text.size()) + (shadow.zeroBuffer ? 1 : 0);
  TW_FUZZ_CHECK(length == expected, what + ": length " + std::to_string(length) + ", expected " +
                                        std::to_string(expected));
}

std::string Fresh(tw_fuzz::Input& in) {
  if (in.Byte() % 4 != 0) return tw_fuzz::UpToZero(in.Text(300));
  const std::string prefix = tw_fuzz::UpToZero(in.Text(8));
  char fill = static_cast<char>(in.Byte());
  if (fill == '\0') fill = 'a';
  std::uint32_t count = in.Word() % kLongLimit;
  if (in.Byte() & 1) count = 159995 - count % 16;  // next to the limit
  return (prefix + std::string(count, fill)).substr(0, kLongLimit - 1);
}

class Chain {
 public:
  explicit Chain(tw_fuzz::Input& in) : in_(in) {}
  void Step();
  std::string Trail() const { return trail_; }

 private:
  void Note(const std::string& step) {
    trail_ += step + "; ";
    if (trail_.size() > 600) trail_.erase(0, trail_.size() - 600);
  }
  tw_fuzz::Input& in_;
  Shadow shadow_;
  std::string trail_;
};

void Chain::Step() {
  const std::uint8_t operation = in_.Byte();
  switch (operation % 12) {
    case 0:
    case 1: {  // a fresh text: a view of it, or a copy in the area
      const std::string text = Fresh(in_);
      const bool copy = (operation & 0x10) != 0;
      const char* placed = text.size() > 300 ? LongText(0, text) : tw_fuzz::GuardedText(0, text);
      Note(std::string(copy ? "copy of " : "view of ") + std::to_string(text.size()) + " bytes");
      copy ? tw::TextTrim(tw::Arg(placed), 0) : tw::TextMid(tw::Arg(placed), -1, 1);
      shadow_ = {text, true, false};
      Expect(shadow_, trail_);
      break;
    }
    case 2: {  // a zero buffer
      std::int32_t size = static_cast<std::int32_t>(in_.Word() % 2000000) - 1;
      if ((operation & 0x60) != 0) size %= 200;  // mostly small: large ones are slow to check
      Note("NewZeroText(" + std::to_string(size) + ")");
      tw::NewZeroText(size);
      shadow_ = {std::string(static_cast<std::size_t>(size), '\0'), true, true};
      Expect(shadow_, trail_);
      break;
    }
    case 3: {
      const std::uint32_t mode = in_.Byte() & 3;
      Note("TextTrim(127, " + std::to_string(mode) + ")");
      tw::TextTrim(tw::kNewestResult, mode);
      shadow_ = {tw_fuzz::TrimReference(shadow_.text, mode), shadow_.known, false};
      Expect(shadow_, trail_);
      break;
    }
    case 4: {
      const std::int32_t count = static_cast<std::int16_t>(in_.Half());
      const std::int32_t position = static_cast<std::int16_t>(in_.Half());
      Note("TextMid(127, " + std::to_string(count) + ", " + std::to_string(position) + ")");
      tw::TextMid(tw::kNewestResult, count, position);
      // A part of a zero buffer is a zero buffer again (an empty part is empty).
      const std::string part = tw_fuzz::MidReference(shadow_.text, count, position);
      shadow_ = {part, shadow_.known, shadow_.zeroBuffer && !part.empty()};
      Expect(shadow_, trail_);
      break;
    }
    case 5: {
      const bool upper = (in_.Byte() & 1) != 0;
      Note(std::string("TextCase(127, ") + (upper ? "upper)" : "lower)"));
      tw::TextCase(tw::kNewestResult, upper ? tw::kCaseUpper : 0);
      shadow_ = {tw_fuzz::CaseReference(shadow_.text, upper), shadow_.known, false};
      Expect(shadow_, trail_);
      break;
    }
    case 6: {
      const std::uint32_t options =
          (in_.Byte() & 7) | (static_cast<std::uint32_t>(in_.Byte() % 4) << 8);
      const std::string pattern = tw_fuzz::UpToZero(in_.Text(8));
      const std::string replacement = Fresh(in_);
      const char* placedReplacement = replacement.size() > 300
                                          ? LongText(1, replacement)
                                          : tw_fuzz::GuardedText(2, replacement);
      Note("TextSubstitute(127, " + tw_fuzz::Escaped(pattern) + ", " +
           std::to_string(replacement.size()) + " bytes, " + std::to_string(options) + ")");
      const std::int64_t length =
          shadow_.known ? tw_fuzz::SubstituteLength(shadow_.text, pattern, replacement, options)
                        : 0;
      const tw::ResultSlotRecord* slot =
          tw::TextSubstitute(tw::kNewestResult, tw::Arg(tw_fuzz::GuardedText(1, pattern)),
                             tw::Arg(placedReplacement), options);
      if (!shadow_.known) break;
      TW_FUZZ_CHECK(slot->length == length, trail_ + ": length " + std::to_string(slot->length) +
                                                ", expected " + std::to_string(length));
      if (length > kShadowLimit) {
        shadow_ = {};
      } else {
        shadow_ = {tw_fuzz::SubstituteReference(shadow_.text, pattern, replacement, options), true,
                   false};
      }
      break;
    }
    case 7: {  // a persistent copy
      Note("ResultPersist()");
      const char* copy = tw::ResultPersist();
      if (!shadow_.known) break;
      const std::string got(copy, shadow_.text.size());
      std::size_t differ = 0;
      while (differ < got.size() && got[differ] == shadow_.text[differ]) ++differ;
      TW_FUZZ_CHECK(differ == got.size() && copy[got.size()] == '\0',
                    trail_ + ": the copy differs from byte " + std::to_string(differ) +
                        " on: " + tw_fuzz::Escaped(got.substr(differ)) + ", expected " +
                        tw_fuzz::Escaped(shadow_.text.substr(differ)));
      break;
    }
    case 8: {  // a search in the newest result
      const std::uint32_t mode = in_.Byte() & (1 | 2 | 4 | 32 | 64);
      const std::int32_t start = static_cast<std::int8_t>(in_.Byte());
      const std::string needle = tw_fuzz::UpToZero(in_.Text(8));
      Note("TextFind(" + std::to_string(start) + ", 127, " + tw_fuzz::Escaped(needle) + ", " +
           std::to_string(mode) + ")");
      std::int32_t last = tw::LastFindPosition();
      const tw::FindResult got =
          tw::TextFind(start, tw::kNewestResult, tw::Arg(tw_fuzz::GuardedText(3, needle)), mode);
      // Read as text, a deferred result is carried out in its slot: a zero
      // buffer becomes its produced text (one zero shorter).
      shadow_.zeroBuffer = false;
      if (!shadow_.known) break;
      const std::int32_t expected =
          tw_fuzz::FindReference(start, tw_fuzz::UpToZero(shadow_.text), needle, mode, last);
      TW_FUZZ_CHECK(got.position == expected, trail_ + ": found " + std::to_string(got.position) +
                                                  ", expected " + std::to_string(expected) +
                                                  " in " + tw_fuzz::Escaped(shadow_.text));
      break;
    }
    case 9: {  // the newest result read as a number
      Note("ReadNumber(127)");
      long double got = 0;
      const tw::NumberRead read =
          tw::ReadNumber(tw::kNewestResult, tw::Arg(&got), tw::kReadExtended);
      shadow_.zeroBuffer = false;  // carried out, as for a search
      if (!shadow_.known) break;
      const std::string text = tw_fuzz::UpToZero(shadow_.text);
      if (text.size() > tw_fuzz::kGuardedTextLimit) break;
      long double expected = 0;
      const tw::NumberRead again = tw::ReadNumber(tw::Arg(tw_fuzz::GuardedText(3, text)),
                                                  tw::Arg(&expected), tw::kReadExtended);
      TW_FUZZ_CHECK(read.count == again.count &&
                        (read.count == tw::kReadError || std::memcmp(&got, &expected, 10) == 0),
                    trail_ + ": read " + std::to_string(read.count) + ", as a text " +
                        std::to_string(again.count) + " from " + tw_fuzz::Escaped(text));
      break;
    }
    case 10: {  // formatted: the newest result as the format, or a format text
      long double value = 0;
      const std::uint64_t bits = in_.Long();
      std::memcpy(&value, &bits, 8);  // low significand bits: small denormals and zero mostly
      value = static_cast<long double>(static_cast<std::int32_t>(bits >> 32)) / 7;
      const bool newest = (operation & 0x10) != 0;
      const std::string format = tw_fuzz::UpToZero(in_.Text(40));
      Note(std::string("FormatExtended(") + (newest ? "127" : tw_fuzz::Escaped(format)) + ")");
      const char* text = tw::FormatExtended(
          newest ? tw::kNewestResult : tw::Arg(tw_fuzz::GuardedText(3, format)), value);
      const tw::TextView view = tw::ResolveString(tw::kNewestResult);
      TW_FUZZ_CHECK(view.text == text && text[view.length] == '\0',
                    trail_ + ": the formatted text");
      shadow_ = {std::string(text, static_cast<std::size_t>(view.length)), true, false};
      break;
    }
    default: {  // a command-line argument
      const std::string line = tw_fuzz::UpToZero(in_.Text(200));
      const std::int32_t n = in_.Byte() % 4;
      Note("CommandLineArg(" + std::to_string(n) + ") of " + tw_fuzz::Escaped(line));
      tw::testing::UseCommandLine(tw_fuzz::GuardedText(3, line));
      const tw::TempTextResult got = tw::CommandLineArg(n);
      tw::testing::UseCommandLine(nullptr);
      std::string expected;
      const bool present = tw_fuzz::CommandLineReference(line, n, &expected);
      if (!present) expected = "?";  // the text of a missing argument
      TW_FUZZ_CHECK((got.text != nullptr) == present, trail_ + ": presence");
      shadow_ = {expected, true, false};
      Expect(shadow_, trail_);
      break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tw_fuzz::Prepare();
  if (setjmp(tw_fuzz::g_startOver) != 0) {
    tw::testing::UseCommandLine(nullptr);
    return tw_fuzz::AfterFatalError(tw_fuzz::Allow(tw::kErrorBuffer));
  }
  // Every sequence starts from the same state: the area empty, every slot of
  // the ring refilled with an empty text.
  tw::TempTextReset();
  for (int slot = 0; slot < tw::kResultSlotCount; ++slot) tw::TextMid(tw::Arg(""), 0, 1);
  tw_fuzz::Input in(data, size);
  Chain chain(in);
  for (int step = 0; step < 24 && !in.Empty(); ++step) chain.Step();
  // TW_FUZZ_TRAIL=1 shows the calls of each sequence (to read a reproducer).
  if (std::getenv("TW_FUZZ_TRAIL") != nullptr) std::fprintf(stderr, "%s\n", chain.Trail().c_str());
  return 0;
}
