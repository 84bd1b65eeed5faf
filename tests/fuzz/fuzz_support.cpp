// Shared parts of the libFuzzer targets (see fuzz_support.h).
#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "support/errors.h"
#include "support/startup.h"
#include "tools/guarded_page.h"
#include "trace/msgbox.h"

namespace tw_fuzz {
namespace {

int g_fatalNumber = -1;
std::string g_lastBox;

// Every box is answered as its default button would be, without output: the
// fuzzer runs thousands of inputs a second.
int SilentBox(const char* text, const char* caption, UINT type) {
  g_lastBox = std::string(caption != nullptr ? caption : "") + ": " + (text != nullptr ? text : "");
  switch (type & 0xF) {
    case MB_YESNOCANCEL:
    case MB_YESNO:
      return IDNO;
    default:
      return IDOK;
  }
}

void StartOver(int number, const char*) {
  g_fatalNumber = number;
  std::longjmp(g_startOver, 1);
}

tw_test::GuardedPage& Page(int page) {
  static tw_test::GuardedPage pages[4];
  return pages[page & 3];
}

}  // namespace

std::jmp_buf g_startOver;

std::uint8_t Input::Byte() {
  return at_ < size_ ? data_[at_++] : 0;
}

std::uint16_t Input::Half() {
  const std::uint16_t low = Byte();
  return static_cast<std::uint16_t>(low | (Byte() << 8));
}

std::uint32_t Input::Word() {
  const std::uint32_t low = Half();
  return low | (std::uint32_t{Half()} << 16);
}

std::uint64_t Input::Long() {
  const std::uint64_t low = Word();
  return low | (std::uint64_t{Word()} << 32);
}

std::string Input::Text(std::size_t limit) {
  std::size_t length = limit > 255 ? Half() : Byte();
  if (length > limit) length %= limit + 1;
  if (length > size_ - std::min(at_, size_)) length = size_ - std::min(at_, size_);
  std::string text(reinterpret_cast<const char*>(data_) + std::min(at_, size_), length);
  at_ += length;
  return text;
}

std::string Input::Rest() {
  std::string text;
  if (at_ < size_) text.assign(reinterpret_cast<const char*>(data_) + at_, size_ - at_);
  at_ = size_;
  return text;
}

char* GuardedText(int page, const std::string& text) {
  const std::size_t length = std::min(text.size(), kGuardedTextLimit);
  return Page(page).TextAtEnd(text.data(), length);
}

char16_t* GuardedWideText(int page, const std::u16string& text) {
  const std::size_t units = std::min(text.size(), kGuardedTextLimit / 2);
  std::string bytes(reinterpret_cast<const char*>(text.data()), 2 * units);
  bytes.push_back('\0');  // the unit's first zero byte; TextAtEnd adds the second
  return reinterpret_cast<char16_t*>(Page(page).TextAtEnd(bytes.data(), bytes.size()));
}

void Prepare() {
  static bool prepared = false;
  if (prepared) return;
  prepared = true;
  tw::SetMessageBoxFunction(SilentBox);
  tw::SetRecoveryPoint(StartOver);
  tw::EnsureLibraryInit();
}

int AfterFatalError(std::uint32_t allowed) {
  const int number = g_fatalNumber;
  if (number < 0 || number > 31 || (allowed & Allow(number)) == 0) {
    Finding("unexpected fatal error", std::to_string(number) + ", box " + Escaped(g_lastBox));
  }
  // The report took the recovery point's place only for this error; set it
  // again for the next input.
  tw::SetRecoveryPoint(StartOver);
  return 0;
}

int LastFatalNumber() {
  return g_fatalNumber;
}

const std::string& LastBoxText() {
  return g_lastBox;
}

void Finding(const char* what, const std::string& detail) {
  std::fprintf(stderr, "\n==== tarnwick fuzz finding: %s\n     %s\n", what, detail.c_str());
  std::fflush(stderr);
  std::abort();
}

std::string Escaped(const std::string& bytes) {
  std::string out = "\"";
  const std::size_t shown = std::min<std::size_t>(bytes.size(), 400);
  for (std::size_t i = 0; i < shown; ++i) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c >= 32 && c < 127) {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  out += '"';
  if (shown < bytes.size()) out += "... (" + std::to_string(bytes.size()) + " bytes)";
  return out;
}

}  // namespace tw_fuzz
