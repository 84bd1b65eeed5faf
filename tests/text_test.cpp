// Shared text routines: decimal rendering, text lengths, counted copies and
// console output.
#include "trace/text.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tools/capture.h"
#include "tools/guarded_page.h"
#include "tools/kernels.h"
#include "tools/xmm_call.h"

namespace {

std::string Decimal(std::int32_t value) {
  char out[12];
  std::memset(out, '#', sizeof out);
  tw::DecimalText(value, out);
  return out;
}

TEST(DecimalText, RendersEdgeValues) {
  const struct {
    std::int32_t value;
    const char* text;
  } cases[] = {
      {0, "0"},
      {-1, "-1"},
      {7, "7"},
      {10, "10"},
      {-10, "-10"},
      {1000000000, "1000000000"},
      {INT_MAX, "2147483647"},
      {INT_MIN, "-2147483648"},
      {-2147483647, "-2147483647"},
  };
  for (const auto& c : cases) EXPECT_EQ(Decimal(c.value), c.text) << c.value;
}

TEST(DecimalText, AgreesWithTheStandardLibraryAcrossTheRange) {
  for (std::int64_t v = INT_MIN; v <= INT_MAX; v += 65537 * 13) {
    EXPECT_EQ(Decimal(static_cast<std::int32_t>(v)), std::to_string(v));
  }
  for (std::int32_t v = -1000; v <= 1000; ++v) EXPECT_EQ(Decimal(v), std::to_string(v));
}

TEST(DecimalText64, RendersTheWholeRange) {
  char out[21];
  tw::DecimalText64(INT64_MIN, out);
  EXPECT_STREQ(out, "-9223372036854775808");
  tw::DecimalText64(INT64_MAX, out);
  EXPECT_STREQ(out, "9223372036854775807");
  tw::DecimalText64(0, out);
  EXPECT_STREQ(out, "0");
  tw::DecimalText64(-4294967296LL, out);
  EXPECT_STREQ(out, "-4294967296");
}

using tw_test::GuardedPage;

// The text lengths run once per kernel set.
TW_PER_KERNEL_SUITE(TextLengthSse2);
TW_PER_KERNEL_SUITE(TextLength);
TW_PER_KERNEL_SUITE(TextCopy);

TEST_P(TextLengthSse2, EveryAlignmentAndLength) {
  alignas(128) char block[400];
  for (std::size_t offset = 0; offset < 128; ++offset) {
    for (std::size_t length = 0; length < 250; ++length) {
      std::memset(block, 'a', sizeof block);
      block[offset + length] = '\0';
      EXPECT_EQ(tw::TextLengthSse2(block + offset), length) << offset << " " << length;
    }
  }
}

TEST_P(TextLengthSse2, TextEndingJustBeforeAnUnreadablePage) {
  GuardedPage page;
  for (std::size_t length = 0; length < 300; ++length) {
    EXPECT_EQ(tw::TextLengthSse2(page.TextAtEnd(length)), length);
  }
}

TEST_P(TextLengthSse2, HighBytesAreNotTerminators) {
  alignas(16) char text[40];
  std::memset(text, 0x80, sizeof text);
  text[33] = '\0';
  EXPECT_EQ(tw::TextLengthSse2(text + 1), 32u);
}

// The routine promises to leave xmm0 as it found it, whichever kernel runs.
TEST_P(TextLengthSse2, KeepsXmm0) {
  const std::string manyBlocks(700, 'x');  // through the four-block steps
  for (const char* text :
       {"", "short", "a text longer than one block of thirty-two bytes, and more",
        manyBlocks.c_str()}) {
    const std::uintptr_t args[4] = {reinterpret_cast<std::uintptr_t>(text), 0, 0, 0};
    std::uint64_t in[8];
    std::uint64_t out[8] = {};
    for (int i = 0; i < 8; ++i) in[i] = 0x0123456789ABCDEFull + 0x1111111111111111ull * i;
    const std::uint64_t length =
        tw_test::CallWithXmm(reinterpret_cast<const void*>(&tw::TextLengthSse2), args, in, out);
    EXPECT_EQ(static_cast<std::uint32_t>(length), std::strlen(text));
    EXPECT_EQ(out[0], in[0]) << "xmm0 changed for '" << text << "'";
  }
}

// Long texts at random places of three pages, many starting in a page's last
// 64 bytes or ending next to a 64- or 256-byte boundary: both lengths against
// a byte loop. The bytes before and after the text are non-zero too.
TEST_P(TextLengthSse2, LongTextsAtRandomPlacesAgreeWithAByteLoop) {
  constexpr std::size_t kPage = 4096;
  std::vector<char> storage(4 * kPage);
  char* pages = storage.data() + (kPage - reinterpret_cast<std::uintptr_t>(storage.data()) % kPage);
  std::srand(17);
  for (int round = 0; round < 20000; ++round) {
    for (std::size_t i = 0; i < 3 * kPage; ++i) pages[i] = static_cast<char>(1 + i % 255);
    std::size_t start = static_cast<std::size_t>(std::rand()) % (2 * kPage);
    if (round % 4 == 0)
      start = kPage * (1 + round % 2) - 1 - static_cast<std::size_t>(std::rand()) % 64;
    std::size_t length = static_cast<std::size_t>(std::rand()) % 1400;
    if (round % 3 == 0) {
      // End within two bytes of a 64-byte boundary of the address range.
      const std::size_t end =
          (start + length) / 64 * 64 + static_cast<std::size_t>(std::rand()) % 4;
      length = end >= start + 2 ? end - 2 - start : 0;
    }
    if (start + length >= 3 * kPage) length = 3 * kPage - 1 - start;
    pages[start + length] = '\0';
    const std::size_t expected = std::strlen(pages + start);
    ASSERT_EQ(tw::TextLengthSse2(pages + start), expected) << start << " " << length;
    ASSERT_EQ(tw::TextLength(pages + start), expected) << start << " " << length;
  }
}

// Every length that fits before an unreadable page, so that the zero sits at
// every place of its block and of its 256-byte line.
TEST_P(TextLengthSse2, EveryLengthEndingBeforeAnUnreadablePage) {
  GuardedPage page;
  for (std::size_t length = 0; length < 4095; ++length) {
    ASSERT_EQ(tw::TextLengthSse2(page.TextAtEnd(length)), length);
    ASSERT_EQ(tw::TextLength(page.TextAtEnd(length, '\x80')), length);
  }
}

TEST_P(TextLength, EveryAlignmentAndLengthAndByteValue) {
  alignas(16) unsigned char block[64];
  for (std::size_t offset = 0; offset < 8; ++offset) {
    for (std::size_t length = 0; length < 40; ++length) {
      for (int fill : {1, 0x7F, 0x80, 0x81, 0xFF}) {
        std::memset(block, fill, sizeof block);
        block[offset + length] = 0;
        EXPECT_EQ(tw::TextLength(reinterpret_cast<char*>(block) + offset), length)
            << offset << " " << length << " " << fill;
      }
    }
  }
}

TEST_P(TextLength, TextEndingJustBeforeAnUnreadablePage) {
  GuardedPage page;
  for (std::size_t length = 0; length < 40; ++length) {
    EXPECT_EQ(tw::TextLength(page.TextAtEnd(length, '\x80')), length);
  }
}

TEST_P(TextCopy, CountedCopies) {
  const char source[] = "abcdefghij";
  for (std::int32_t count = 0; count <= 11; ++count) {
    char destination[16];
    std::memset(destination, '#', sizeof destination);
    char* end = tw::TextCopy(destination, source, count);
    EXPECT_EQ(end, destination + count);
    EXPECT_EQ(std::memcmp(destination, source, count), 0);
    EXPECT_EQ(destination[count], '#') << "wrote past the count " << count;
  }
}

TEST_P(TextCopy, NegativeCountsCountFromTheTextLength) {
  const char source[] = "hello";
  char destination[16];
  std::memset(destination, '#', sizeof destination);
  // -1: the whole text with its NUL.
  EXPECT_EQ(tw::TextCopy(destination, source, -1), destination + 6);
  EXPECT_STREQ(destination, "hello");
  EXPECT_EQ(destination[6], '#');
  // -3: the text without its last character and without the NUL.
  std::memset(destination, '#', sizeof destination);
  EXPECT_EQ(tw::TextCopy(destination, source, -3), destination + 4);
  EXPECT_EQ(std::string(destination, 5), "hell#");
}

TEST(ConsoleWrite, WritesTheTextAndReturnsTheCount) {
  tw_test::Capture capture(tw_test::Stream::Output);
  EXPECT_EQ(tw::ConsoleWrite("Brush\t"), 6u);
  EXPECT_EQ(tw::ConsoleWrite(""), 0u);
  EXPECT_EQ(tw::ConsoleWrite("mbi.hbrBack\t-5\r\n"), 16u);
  EXPECT_EQ(capture.Finish(), "Brush\tmbi.hbrBack\t-5\r\n");
}

// ---- the choice of kernels ----

void SetKernelVariable(const char* value) {
#ifdef _WIN32
  _putenv_s("TARNWICK_KERNELS", value != nullptr ? value : "");
#else
  if (value != nullptr) {
    setenv("TARNWICK_KERNELS", value, 1);
  } else {
    unsetenv("TARNWICK_KERNELS");
  }
#endif
}

// The best set the processor runs at or below cap.
tw::KernelSet BestUpTo(tw::KernelSet cap) {
  for (tw::KernelSet set : {tw::KernelSet::kAvx512, tw::KernelSet::kAvx2}) {
    if (set <= cap && tw::KernelSetAvailable(set)) return set;
  }
  return tw::KernelSet::kSse2;
}

TEST(KernelChoice, TheVariableCapsTheSetAndTheProcessorDecidesOtherwise) {
  const char* original = std::getenv("TARNWICK_KERNELS");
  const std::string kept = original != nullptr ? original : "";
  const tw::KernelSet best = BestUpTo(tw::KernelSet::kAvx512);
  std::printf("this processor and target run the %s kernels\n", tw::KernelSetName(best));
  const struct {
    const char* value;
    tw::KernelSet expected;
  } cases[] = {
      {nullptr, best},
      {"sse2", tw::KernelSet::kSse2},
      {"SSE2", tw::KernelSet::kSse2},
      {"avx2", BestUpTo(tw::KernelSet::kAvx2)},
      {"AvX2", BestUpTo(tw::KernelSet::kAvx2)},
      {"avx512", best},
      {"", best},
      {"sse", best},
      {"sse2x", best},
  };
  for (const auto& c : cases) {
    SetKernelVariable(c.value);
    EXPECT_EQ(tw::testing::ChooseKernelsAgain(), c.expected) << (c.value ? c.value : "(unset)");
    EXPECT_EQ(tw::ActiveKernels(), c.expected);
  }
  SetKernelVariable(original != nullptr ? kept.c_str() : nullptr);
  tw::testing::ChooseKernelsAgain();
}

TEST(KernelChoice, MadeOnceAndSwitchedOnlyByTheTestSetter) {
  EXPECT_TRUE(tw::KernelSetAvailable(tw::KernelSet::kSse2));
#if !defined(__x86_64__)
  EXPECT_FALSE(tw::KernelSetAvailable(tw::KernelSet::kAvx2)) << "32-bit targets run SSE2 only";
  EXPECT_FALSE(tw::KernelSetAvailable(tw::KernelSet::kAvx512));
#endif
  if (tw::KernelSetAvailable(tw::KernelSet::kAvx512)) {
    EXPECT_TRUE(tw::KernelSetAvailable(tw::KernelSet::kAvx2))
        << "AVX-512 kernels fall back on AVX2";
  }
  ASSERT_TRUE(tw::testing::UseKernels(tw::KernelSet::kSse2));
  EXPECT_EQ(tw::ChooseKernels(), tw::KernelSet::kSse2) << "a second choice keeps the first";
  EXPECT_EQ(tw::testing::UseKernels(tw::KernelSet::kAvx2),
            tw::KernelSetAvailable(tw::KernelSet::kAvx2));
  EXPECT_STREQ(tw::KernelSetName(tw::KernelSet::kSse2), "sse2");
  EXPECT_STREQ(tw::KernelSetName(tw::KernelSet::kAvx2), "avx2");
  EXPECT_STREQ(tw::KernelSetName(tw::KernelSet::kAvx512), "avx512");
  tw::testing::ChooseKernelsAgain();
}

}  // namespace
