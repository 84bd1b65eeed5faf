// Shared text routines: decimal rendering, text lengths, counted copies and
// console output.
#include "trace/text.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "tools/capture.h"
#include "tools/guarded_page.h"

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

TEST(TextLengthSse2, EveryAlignmentAndLength) {
  alignas(64) char block[320];
  for (std::size_t offset = 0; offset < 64; ++offset) {
    for (std::size_t length = 0; length < 250; ++length) {
      std::memset(block, 'a', sizeof block);
      block[offset + length] = '\0';
      EXPECT_EQ(tw::TextLengthSse2(block + offset), length) << offset << " " << length;
    }
  }
}

TEST(TextLengthSse2, TextEndingJustBeforeAnUnreadablePage) {
  GuardedPage page;
  for (std::size_t length = 0; length < 300; ++length) {
    EXPECT_EQ(tw::TextLengthSse2(page.TextAtEnd(length)), length);
  }
}

TEST(TextLengthSse2, HighBytesAreNotTerminators) {
  alignas(16) char text[40];
  std::memset(text, 0x80, sizeof text);
  text[33] = '\0';
  EXPECT_EQ(tw::TextLengthSse2(text + 1), 32u);
}

TEST(TextLength, EveryAlignmentAndLengthAndByteValue) {
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

TEST(TextLength, TextEndingJustBeforeAnUnreadablePage) {
  GuardedPage page;
  for (std::size_t length = 0; length < 40; ++length) {
    EXPECT_EQ(tw::TextLength(page.TextAtEnd(length, '\x80')), length);
  }
}

TEST(TextCopy, CountedCopies) {
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

TEST(TextCopy, NegativeCountsCountFromTheTextLength) {
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

}  // namespace
