// Fuzz target of TextCompare: two texts from the input, each against an
// unreadable page, compared exactly and ignoring case with every kernel set;
// the result must equal a byte-by-byte comparison.
#include <cstdint>
#include <string>

#include "fuzz_reference.h"
#include "fuzz_support.h"
#include "support/search.h"
#include "trace/kernels.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tw_fuzz::Prepare();
  if (setjmp(tw_fuzz::g_startOver) != 0) return tw_fuzz::AfterFatalError(0);
  tw_fuzz::Input in(data, size);
  const std::uint32_t word = in.Word();
  const std::int32_t mode = static_cast<std::int32_t>(word % 3) - 1;  // -1, 0 or 1
  // The processor's choice of kernels, SSE2, AVX2 or AVX-512 (a set this
  // processor cannot run leaves the processor's choice).
  static const tw::KernelSet sets[] = {tw::KernelSet::kSse2, tw::KernelSet::kAvx2,
                                       tw::KernelSet::kAvx512};
  const unsigned kernels = (word >> 8) & 3;
  if (kernels == 0 || !tw::testing::UseKernels(sets[kernels - 1])) {
    tw::testing::ChooseKernelsAgain();
  }
  const std::string a = tw_fuzz::UpToZero(in.Text(3000));
  std::string b = tw_fuzz::UpToZero(in.Rest());
  if (b.size() > tw_fuzz::kGuardedTextLimit) b.resize(tw_fuzz::kGuardedTextLimit);
  const char* first = tw_fuzz::GuardedText(0, a);
  const char* second = tw_fuzz::GuardedText(1, b);
  // The reference: bytes as stored (0 to 255), compared with bit 5 set when
  // the mode is not 0; the terminating zero takes part.
  const unsigned fold = mode != 0 ? 32 : 0;
  std::size_t p = 0;
  while (p < a.size() && p < b.size() &&
         (static_cast<unsigned char>(a[p]) | fold) == (static_cast<unsigned char>(b[p]) | fold)) {
    ++p;
  }
  const int byteA = p < a.size() ? static_cast<unsigned char>(a[p]) : 0;
  const int byteB = p < b.size() ? static_cast<unsigned char>(b[p]) : 0;
  const int difference = (byteA | static_cast<int>(fold)) == (byteB | static_cast<int>(fold)) &&
                                 p >= a.size() && p >= b.size()
                             ? 0
                             : byteA - byteB;
  const tw::CompareResult got = tw::TextCompare(first, second, mode);
  const std::string detail = tw_fuzz::Escaped(a) + " against " + tw_fuzz::Escaped(b) + " mode " +
                             std::to_string(mode) + ": got " + std::to_string(got.difference) +
                             "@" + std::to_string(got.position) + ", expected " +
                             std::to_string(difference) + "@" + std::to_string(p);
  TW_FUZZ_CHECK(got.position == static_cast<std::int32_t>(p), detail);
  TW_FUZZ_CHECK(got.difference == difference, detail);
  // Swapped, the difference changes its sign.
  const tw::CompareResult swapped = tw::TextCompare(second, first, mode);
  TW_FUZZ_CHECK(swapped.position == got.position && swapped.difference == -got.difference, detail);
  return 0;
}
