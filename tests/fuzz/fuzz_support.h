// Shared parts of the libFuzzer targets: a reader that takes values from the
// fuzzer's bytes, texts placed against unreadable pages, the recovery point
// that turns an expected fatal error into a normal end of the input, and the
// report of a finding (a message, then abort, which libFuzzer records).
#pragma once

#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <string>

namespace tw_fuzz {

// Takes values from the front of the fuzzer's input; past its end every
// value is 0 and every text empty.
class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool Empty() const { return at_ >= size_; }
  std::uint8_t Byte();
  std::uint16_t Half();
  std::uint32_t Word();
  std::uint64_t Long();
  // A value from 0 to count - 1 (count above 0).
  std::uint32_t Below(std::uint32_t count) { return Word() % count; }
  // A text of up to limit bytes: its length comes first (one byte or, when
  // limit is above 255, two), then its bytes.
  std::string Text(std::size_t limit);
  // Everything that is left.
  std::string Rest();

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

// The longest text a guarded page holds here.
constexpr std::size_t kGuardedTextLimit = 4000;

// A copy of text (cut to kGuardedTextLimit) whose terminating zero is the
// last readable byte before an unreadable page. Pages 0 to 3 are separate, so
// up to four texts can be placed at once; placing one again replaces it.
char* GuardedText(int page, const std::string& text);

// The same for a UTF-16 text (cut to kGuardedTextLimit / 2 units); the
// 16-bit zero ends the readable page.
char16_t* GuardedWideText(int page, const std::u16string& text);

// Sets up what every target needs once: message boxes answered silently
// (counted, the last one kept), the recovery point, the library started.
void Prepare();

// Where the recovery point jumps: a target writes
//   if (setjmp(tw_fuzz::g_startOver) != 0) return tw_fuzz::AfterFatalError(allowed);
// at the start of LLVMFuzzerTestOneInput. allowed is a bit set of the fatal
// error numbers its inputs may legitimately raise; any other is a finding.
extern std::jmp_buf g_startOver;
int AfterFatalError(std::uint32_t allowed);
constexpr std::uint32_t Allow(int number) {
  return std::uint32_t{1} << number;
}

// The number and insert of the last fatal error, and the text of the last box.
int LastFatalNumber();
const std::string& LastBoxText();

// Reports a finding: what went wrong, then abort().
[[noreturn]] void Finding(const char* what, const std::string& detail);

// Bytes as C++ escapes, for findings.
std::string Escaped(const std::string& bytes);

}  // namespace tw_fuzz

// Checks a property of a target; a failure is a finding.
#define TW_FUZZ_CHECK(condition, detail)                                     \
  do {                                                                       \
    if (!(condition)) tw_fuzz::Finding("check failed: " #condition, detail); \
  } while (0)
