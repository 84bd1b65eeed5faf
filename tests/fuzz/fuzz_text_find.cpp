// Fuzz target of TextFind and TextFindView: haystack and needle from the
// input at unreadable pages, every mode bit, every kernel set, starts before,
// inside and past the text, then a few resumed searches (start 0). Byte
// searches are compared with a plain search; UTF-16 searches without case
// folding with a plain search over units.
#include <cstdint>
#include <string>

#include "fuzz_reference.h"
#include "fuzz_support.h"
#include "support/search.h"
#include "trace/kernels.h"

namespace {

// The forward UTF-16 search of docs/search.md for modes without case folding:
// positions count units; whole-word and backward are not honoured.
std::int32_t WideReference(std::int32_t start, const std::u16string& hay,
                           const std::u16string& needle, std::uint32_t mode, std::int32_t& last) {
  std::int32_t result = 0;
  if (!needle.empty() && needle.size() < 3200) {
    const std::int64_t from = start > 0 ? start - 1 : start == 0 ? last : 0;
    for (std::int64_t q = from;
         q + static_cast<std::int64_t>(needle.size()) <= static_cast<std::int64_t>(hay.size());
         ++q) {
      if (hay.compare(static_cast<std::size_t>(q), needle.size(), needle) != 0) continue;
      if (!(mode & tw::kFindCount)) {
        result = static_cast<std::int32_t>(q + 1);
        break;
      }
      ++result;
    }
  }
  last = result;
  return result;
}

std::u16string Units(const std::string& bytes) {
  std::u16string units(bytes.size() / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i) {
    units[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                     (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
  }
  return units.substr(0, std::min(units.find(u'\0'), units.size()));
}

void ByteSearches(tw_fuzz::Input& in, std::uint32_t mode) {
  const bool view = (in.Byte() & 1) != 0;
  std::string hay = in.Text(3000);
  std::string needle = in.Text(300);
  std::int32_t start = static_cast<std::int16_t>(in.Half());
  std::int32_t last = tw::LastFindPosition();
  tw::TextView hayView{};
  tw::TextView needleView{};
  if (view) {
    // Views end at their length or their first zero; each ends just before
    // the zero that closes its readable page.
    const std::size_t hayLength =
        hay.empty() ? 0 : in.Below(static_cast<std::uint32_t>(hay.size() + 1));
    const std::size_t needleLength =
        needle.empty() ? 0 : in.Below(static_cast<std::uint32_t>(needle.size() + 1));
    hay.resize(hayLength);
    needle.resize(needleLength);
    hayView = {tw_fuzz::GuardedText(0, hay), static_cast<std::int32_t>(hayLength)};
    needleView = {tw_fuzz::GuardedText(1, needle), static_cast<std::int32_t>(needleLength)};
  } else {
    hayView.text = tw_fuzz::GuardedText(0, hay);
    needleView.text = tw_fuzz::GuardedText(1, needle);
  }
  const std::string hayText = tw_fuzz::UpToZero(hay);
  const std::string needleText = tw_fuzz::UpToZero(needle);
  for (int call = 0; call < 4; ++call) {
    const std::int32_t expected = tw_fuzz::FindReference(start, hayText, needleText, mode, last);
    const tw::FindResult got = view ? tw::TextFindView(start, hayView, needleView, mode)
                                    : tw::TextFind(start, hayView.text, needleView.text, mode);
    const std::string detail =
        "haystack " + tw_fuzz::Escaped(hayText) + " needle " + tw_fuzz::Escaped(needleText) +
        " start " + std::to_string(start) + " mode " + std::to_string(mode) + " view " +
        std::to_string(view) + " call " + std::to_string(call) + ": got " +
        std::to_string(got.position) + ", expected " + std::to_string(expected);
    TW_FUZZ_CHECK(got.position == expected, detail);
    TW_FUZZ_CHECK(tw::LastFindPosition() == got.position, detail);
    if ((mode & tw::kFindCount) == 0) {
      TW_FUZZ_CHECK((got.address == nullptr) == (got.position == 0), detail);
      if (got.address != nullptr) {
        TW_FUZZ_CHECK(got.address == hayView.text + got.position - 1, detail);
      }
    }
    start = 0;
  }
}

void WideSearches(tw_fuzz::Input& in, std::uint32_t mode) {
  const std::u16string hay = Units(in.Text(3000));
  const std::u16string needle = Units(in.Text(300));
  std::int32_t start = static_cast<std::int16_t>(in.Half());
  const char16_t* hayText = tw_fuzz::GuardedWideText(0, hay);
  const char16_t* needleText = tw_fuzz::GuardedWideText(1, needle);
  std::int32_t last = tw::LastFindPosition();
  // Case folding follows the locale's mappings: those searches are checked
  // for safety only.
  const bool checked = (mode & (tw::kFindIgnoreCase | tw::kFindFirstIgnoreCase)) == 0;
  for (int call = 0; call < 3; ++call) {
    const tw::FindResult got = tw::TextFind(start, hayText, needleText, mode);
    if (checked) {
      const std::int32_t expected = WideReference(start, hay, needle, mode, last);
      TW_FUZZ_CHECK(got.position == expected,
                    "UTF-16 search of " + std::to_string(needle.size()) + " units in " +
                        std::to_string(hay.size()) + ", start " + std::to_string(start) + " mode " +
                        std::to_string(mode) + ": got " + std::to_string(got.position) +
                        ", expected " + std::to_string(expected));
    }
    start = 0;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tw_fuzz::Prepare();
  if (setjmp(tw_fuzz::g_startOver) != 0) return tw_fuzz::AfterFatalError(0);
  tw_fuzz::Input in(data, size);
  const std::uint8_t first = in.Byte();
  const std::uint32_t mode = first & (1 | 2 | 4 | 32 | 64 | 128);
  // Bits 3 and 4 choose the kernels: the processor's choice, SSE2, AVX2 or
  // AVX-512 (a set this processor cannot run leaves the processor's choice).
  static const tw::KernelSet sets[] = {tw::KernelSet::kSse2, tw::KernelSet::kAvx2,
                                       tw::KernelSet::kAvx512};
  const unsigned kernels = (first >> 3) & 3;
  if (kernels == 0 || !tw::testing::UseKernels(sets[kernels - 1])) {
    tw::testing::ChooseKernelsAgain();
  }
  if ((mode & tw::kFindUtf16) != 0) {
    WideSearches(in, mode);
  } else {
    ByteSearches(in, mode);
  }
  return 0;
}
