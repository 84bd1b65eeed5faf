// Fuzz target of CommandLineArg on arbitrary command lines (set through the
// command-line seam, tw::testing::UseCommandLine, the line against an
// unreadable page): every argument is compared with the rules of
// docs/files.md, and kept with ResultPersist, which must copy it as text.
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_reference.h"
#include "fuzz_support.h"
#include "support/cmdline.h"
#include "support/errors.h"
#include "support/strings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tw_fuzz::Prepare();
  if (setjmp(tw_fuzz::g_startOver) != 0) {
    tw::testing::UseCommandLine(nullptr);
    return tw_fuzz::AfterFatalError(0);
  }
  tw_fuzz::Input in(data, size);
  const std::int32_t first = static_cast<std::int8_t>(in.Byte()) % 4;  // -3 to 3
  std::string line = tw_fuzz::UpToZero(in.Rest());
  if (line.size() > tw_fuzz::kGuardedTextLimit) line.resize(tw_fuzz::kGuardedTextLimit);
  tw::testing::UseCommandLine(tw_fuzz::GuardedText(0, line));
  for (std::int32_t n = first; n < first + 6; ++n) {
    std::string expected;
    const bool present = tw_fuzz::CommandLineReference(line, n, &expected);
    const tw::TempTextResult got = tw::CommandLineArg(n);
    const std::string what = "argument " + std::to_string(n) + " of " + tw_fuzz::Escaped(line);
    TW_FUZZ_CHECK(
        (got.text != nullptr) == present,
        what + (present ? " is missing, expected " + tw_fuzz::Escaped(expected) : " is present"));
    const tw::TextView newest = tw::ResolveString(tw::kNewestResult);
    const std::string text(newest.text, static_cast<std::size_t>(newest.length));
    if (!present) {
      TW_FUZZ_CHECK(text == "?",
                    what + ": the missing argument's text is " + tw_fuzz::Escaped(text));
      continue;
    }
    TW_FUZZ_CHECK(got.text == newest.text, what + ": the text is not the newest result");
    TW_FUZZ_CHECK(text == expected, what + " is " + tw_fuzz::Escaped(text) + ", expected " +
                                        tw_fuzz::Escaped(expected));
    // Kept, the argument is copied as it is, whatever its bytes.
    const char* kept = tw::ResultPersist();
    TW_FUZZ_CHECK(
        std::memcmp(kept, expected.data(), expected.size()) == 0 && kept[expected.size()] == '\0',
        what + " was kept as " + tw_fuzz::Escaped(kept));
  }
  tw::testing::UseCommandLine(nullptr);
  return 0;
}
