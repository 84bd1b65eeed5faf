// Text search and comparison: the documented cases by mode, a randomized
// comparison with a plain reference search, and reads that must stay within
// the page holding the texts.
#include "support/search.h"

#include "support/strings.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tools/guarded_page.h"
#include "tools/kernels.h"

namespace {

using tw::TextFind;

// Every search and comparison runs once per kernel set.
TW_PER_KERNEL_SUITE(TextFindForward);
TW_PER_KERNEL_SUITE(TextFindCount);
TW_PER_KERNEL_SUITE(TextFindFolding);
TW_PER_KERNEL_SUITE(TextFindWholeWord);
TW_PER_KERNEL_SUITE(TextFindBackward);
TW_PER_KERNEL_SUITE(TextFindArguments);
TW_PER_KERNEL_SUITE(TextFindOneByte);
TW_PER_KERNEL_SUITE(TextFindRandom);
TW_PER_KERNEL_SUITE(TextCompare);
TW_PER_KERNEL_SUITE(TextFindGuard);

std::int32_t Find(std::int32_t start, const char* hay, const char* needle, std::uint32_t mode) {
  const tw::FindResult result = TextFind(start, hay, needle, mode);
  // The address always agrees with the position.
  if (result.position == 0) {
    EXPECT_EQ(result.address, nullptr);
  } else if (!(mode & tw::kFindCount)) {
    EXPECT_EQ(result.address, hay + result.position - 1);
  }
  EXPECT_EQ(tw::LastFindPosition(), result.position);
  return result.position;
}

// --- forward, exact ---------------------------------------------------------

TEST_P(TextFindForward, ResumesAfterTheLastMatch) {
  const char* hay = "abcabc";
  EXPECT_EQ(Find(1, hay, "bc", 0), 2);
  EXPECT_EQ(Find(0, hay, "bc", 0), 5);
  EXPECT_EQ(Find(0, hay, "bc", 0), 0);
  EXPECT_EQ(tw::LastFindPosition(), 0);
}

TEST_P(TextFindForward, StartPositions) {
  EXPECT_EQ(Find(3, "abcabc", "bc", 0), 5);
  EXPECT_EQ(Find(5, "abcabc", "bc", 0), 5);
  EXPECT_EQ(Find(-4, "abcabc", "bc", 0), 2);
  EXPECT_EQ(Find(7, "abcabc", "bc", 0), 0);  // on the terminating zero
  EXPECT_EQ(Find(8, "abcabc", "bc", 0), 0);  // beyond the end
  EXPECT_EQ(Find(1000, "abcabc", "c", 0), 0);
  EXPECT_EQ(Find(1, "", "ab", 0), 0);
  EXPECT_EQ(Find(1, "abc", "", 0), 0);
}

TEST_P(TextFindForward, NeverMatchesPastTheHaystackEnd) {
  EXPECT_EQ(Find(1, "xa", "a ", tw::kFindIgnoreCase), 0);
  EXPECT_EQ(Find(1, "xa", "a", tw::kFindIgnoreCase), 2);
  EXPECT_EQ(Find(1, "abcab", "abc", 0), 1);
  EXPECT_EQ(Find(2, "abcab", "abc", 0), 0);
  EXPECT_EQ(Find(1, "ab", "abc", 0), 0);
}

TEST_P(TextFindForward, LongHaystacksAcrossBlocks) {
  std::string hay(1000, 'x');
  hay[997] = 'y';
  hay[998] = 'z';
  EXPECT_EQ(Find(1, hay.c_str(), "yz", 0), 998);
  EXPECT_EQ(Find(1, hay.c_str(), "xyz", 0), 997);
  EXPECT_EQ(Find(1, hay.c_str(), "zx", 0), 999);
  EXPECT_EQ(Find(1, hay.c_str(), "zz", 0), 0);
}

// --- counting ---------------------------------------------------------------

TEST_P(TextFindCount, CountsOverlappingMatches) {
  EXPECT_EQ(Find(1, "aaaa", "aa", tw::kFindCount), 3);
  EXPECT_EQ(Find(1, "abab", "x", tw::kFindCount), 0);
  EXPECT_EQ(Find(1, "a-a-a", "a", tw::kFindCount), 3);
  EXPECT_EQ(Find(3, "a-a-a", "a", tw::kFindCount), 2);
  EXPECT_EQ(Find(1, "AaAa", "aa", tw::kFindCount | tw::kFindIgnoreCase), 3);
}

// --- case folding -----------------------------------------------------------

TEST_P(TextFindFolding, IgnoreCaseAndFirstCharacterOnly) {
  EXPECT_EQ(Find(1, "xabcx", "ABC", tw::kFindIgnoreCase), 2);
  EXPECT_EQ(Find(1, "xabc", "Abc", tw::kFindFirstIgnoreCase), 2);
  EXPECT_EQ(Find(1, "xabc", "ABC", tw::kFindFirstIgnoreCase), 0);
  EXPECT_EQ(Find(1, "xABC", "abC", tw::kFindFirstIgnoreCase), 0);
  // Bit 0 wins over bit 1.
  EXPECT_EQ(Find(1, "xabc", "ABC", tw::kFindIgnoreCase | tw::kFindFirstIgnoreCase), 2);
}

TEST_P(TextFindFolding, OneCharacterNeedlesMatchOnlyTheirExactCase) {
  EXPECT_EQ(Find(1, "xAa", "a", tw::kFindIgnoreCase), 3);
  EXPECT_EQ(Find(1, "xA", "a", tw::kFindIgnoreCase), 0);
}

// --- whole words ------------------------------------------------------------

TEST_P(TextFindWholeWord, DigitsAndPunctuationAreNotWordCharacters) {
  EXPECT_EQ(Find(1, "concat", "cat", tw::kFindWholeWord), 0);
  EXPECT_EQ(Find(1, "cat.", "cat", tw::kFindWholeWord), 1);
  EXPECT_EQ(Find(1, "cat5", "cat", tw::kFindWholeWord), 1);
  EXPECT_EQ(Find(1, "cats cat", "cat", tw::kFindWholeWord), 6);
  EXPECT_EQ(Find(1, "[cat]", "cat", tw::kFindWholeWord), 0);  // "[" and "]" are above 64
  EXPECT_EQ(Find(-1, "a cat", "cat", tw::kFindWholeWord | tw::kFindBackward), 3);
  EXPECT_EQ(Find(-1, "catty", "cat", tw::kFindWholeWord | tw::kFindBackward), 0);
  // A needle that starts with a space or control byte skips the word test.
  EXPECT_EQ(Find(1, "x catty", " cat", tw::kFindWholeWord), 2);
}

// --- backward ---------------------------------------------------------------

TEST_P(TextFindBackward, FromTheEndAndResumed) {
  EXPECT_EQ(Find(-1, "abcabc", "bc", tw::kFindBackward), 5);
  EXPECT_EQ(Find(0, "abcabc", "bc", tw::kFindBackward), 2);
  EXPECT_EQ(Find(0, "abcabc", "bc", tw::kFindBackward), 0);
  EXPECT_EQ(Find(-1, "aaaa", "aa", tw::kFindBackward), 3);
  EXPECT_EQ(Find(0, "aaaa", "aa", tw::kFindBackward), 1);
  EXPECT_EQ(Find(0, "aaaa", "aa", tw::kFindBackward), 0);
}

TEST_P(TextFindBackward, StartPositions) {
  EXPECT_EQ(Find(7, "abcabc", "bc", tw::kFindBackward), 5);  // the end itself
  EXPECT_EQ(Find(8, "abcabc", "bc", tw::kFindBackward), 0);  // beyond it
  EXPECT_EQ(Find(5, "abcabc", "bc", tw::kFindBackward), 2);  // the pair ends before 5
  EXPECT_EQ(Find(-1, "abcabc", "c", tw::kFindBackward), 6);
  EXPECT_EQ(Find(6, "abcabc", "c", tw::kFindBackward), 3);
  EXPECT_EQ(Find(1, "abcabc", "a", tw::kFindBackward), 0);
  EXPECT_EQ(Find(-1, "abcabc", "a", tw::kFindBackward | tw::kFindCount), 4);  // not counted
}

// --- string arguments -------------------------------------------------------

TEST_P(TextFindArguments, ResultsAreSearchedWithinTheirLength) {
  static const char source[] = "xxabcabcZZ";
  tw::TextMid(tw::Arg(source), 6, 3);  // the view "abcabc", followed by "ZZ" in memory
  EXPECT_EQ(TextFind(1, tw::kNewestResult, tw::Arg("bc"), 0).position, 2);
  EXPECT_EQ(TextFind(1, tw::kNewestResult, tw::Arg("cZ"), 0).position, 0);
  EXPECT_EQ(TextFind(1, tw::kNewestResult, tw::Arg("Z"), 0).position, 0);
  EXPECT_EQ(TextFind(-1, tw::kNewestResult, tw::Arg("c"), tw::kFindBackward).position, 6);
  EXPECT_EQ(TextFind(1, tw::kNewestResult, tw::Arg("c"), tw::kFindCount).position, 2);
  EXPECT_EQ(TextFind(1, tw::kNewestResult, tw::Arg("abc"), tw::kFindCount).position, 2);
}

TEST_P(TextFindArguments, TwoNewestResultsAreHaystackAndNeedleAndTheRingStepsBack) {
  tw::TextMid(tw::Arg("the haystack abc."), -1, 1);
  const int haystackSlot = tw::CurrentResultSlot();
  tw::TextMid(tw::Arg("xabcx"), 3, 2);
  ASSERT_NE(tw::CurrentResultSlot(), haystackSlot);
  const tw::FindResult found = TextFind(1, tw::kNewestResult, tw::kNewestResult, 0);
  EXPECT_EQ(found.position, 14);
  EXPECT_EQ(tw::CurrentResultSlot(), haystackSlot);
}

// --- one-byte needles -------------------------------------------------------

TEST_P(TextFindOneByte, ForwardScansTheRestAndResumes) {
  EXPECT_EQ(Find(-3, "xyzzy", "y", 0), 2);
  EXPECT_EQ(Find(0, "xyzzy", "y", 0), 5);
  EXPECT_EQ(Find(0, "xyzzy", "y", 0), 0);
  EXPECT_EQ(Find(1, "xyzzy", "z", tw::kFindCount), 2);
}

// --- UTF-16 -----------------------------------------------------------------

std::int32_t Find16(std::int32_t start, const char16_t* hay, const char16_t* needle,
                    std::uint32_t mode) {
  const tw::FindResult result = TextFind(start, hay, needle, mode);
  if (result.position != 0 && !(mode & tw::kFindCount)) {
    EXPECT_EQ(result.address, hay + result.position - 1);
  }
  return result.position;
}

TEST(TextFindUtf16, ExactAndResumedInUnits) {
  EXPECT_EQ(Find16(1, u"abcabc", u"bc", 0), 2);
  EXPECT_EQ(Find16(0, u"abcabc", u"bc", 0), 5);
  EXPECT_EQ(Find16(0, u"abcabc", u"bc", 0), 0);
  EXPECT_EQ(Find16(1, u"aaaa", u"aa", tw::kFindCount), 3);
  EXPECT_EQ(Find16(3, u"\u00e4b\u00e4b", u"\u00e4", 0), 3);
  EXPECT_EQ(Find16(1, u"abc", u"abcd", 0), 0);
  EXPECT_EQ(Find16(9, u"abc", u"b", 0), 0);
}

TEST(TextFindUtf16, FoldsLettersBeyondAscii) {
  EXPECT_EQ(Find16(1, u"x\u00e4BC", u"\u00c4bc", tw::kFindIgnoreCase), 2);           // Latin-1
  EXPECT_EQ(Find16(1, u"--\u03c3\u03b1", u"\u03a3\u0391", tw::kFindIgnoreCase), 3);  // Greek
  EXPECT_EQ(Find16(1, u"\u043f\u0440\u0438\u0432\u0435\u0442",
                   u"\u041f\u0420\u0418\u0412\u0415\u0422", tw::kFindIgnoreCase),
            1);                                                         // Cyrillic
  EXPECT_EQ(Find16(1, u"x\u0101", u"\u0100", tw::kFindIgnoreCase), 2);  // Latin Extended-A
  EXPECT_EQ(Find16(1, u"x\u00e4BC", u"\u00c4bc", 0), 0);
}

TEST(TextFindUtf16, LongNeedlesFindNothing) {
  const std::u16string needle(3200, u'a');
  const std::u16string hay(4000, u'a');
  EXPECT_EQ(Find16(1, hay.c_str(), needle.c_str(), 0), 0);
  EXPECT_EQ(Find16(1, hay.c_str(), needle.substr(0, 3199).c_str(), 0), 1);
}

// --- randomized comparison with a plain reference search ---------------------

struct Reference {
  std::int32_t last = 0;

  bool MatchAt(const std::string& hay, const std::string& needle, std::size_t q,
               std::uint32_t mode) const {
    const std::size_t n = needle.size();
    if (q + n > hay.size()) return false;
    const bool one = n == 1;
    for (std::size_t i = 0; i < n; ++i) {
      unsigned fold = 0;
      if (!one && (mode & 1)) fold = 32;
      if (!one && i == 0 && (mode & 2)) fold = 32;
      if ((static_cast<unsigned char>(hay[q + i]) | fold) !=
          (static_cast<unsigned char>(needle[i]) | fold)) {
        return false;
      }
    }
    if (!one && (mode & 4) && static_cast<unsigned char>(needle[0]) > 32) {
      if (q + n < hay.size() && static_cast<unsigned char>(hay[q + n]) > 64) return false;
      if (q > 0 && static_cast<unsigned char>(hay[q - 1]) > 64) return false;
    }
    return true;
  }

  std::int32_t Find(std::int32_t start, const std::string& hay, const std::string& needle,
                    std::uint32_t mode) {
    const std::int64_t length = static_cast<std::int64_t>(hay.size());
    std::int32_t result = 0;
    if (needle.empty()) {
      result = 0;
    } else if (mode & 64) {
      const std::int64_t before = start > 0 ? start : start == 0 ? last : length + 1;
      const bool one = needle.size() == 1;
      std::int64_t q = one ? before - 2 : std::min(before - 3, length - 2);
      if (before > length + 1) q = -1;
      std::int32_t count = 0;
      for (; q >= 0; --q) {
        if (!MatchAt(hay, needle, static_cast<std::size_t>(q), mode)) continue;
        if (!(mode & 32) || one) {
          count = static_cast<std::int32_t>(q + 1);
          break;
        }
        ++count;
      }
      result = count;
    } else {
      std::int64_t from = start > 0 ? start - 1 : start == 0 ? last : 0;
      std::int32_t count = 0;
      for (std::int64_t q = from; q <= length; ++q) {
        if (!MatchAt(hay, needle, static_cast<std::size_t>(q), mode)) continue;
        if (!(mode & 32)) {
          count = static_cast<std::int32_t>(q + 1);
          break;
        }
        ++count;
      }
      result = count;
    }
    last = result;
    return result;
  }
};

TEST_P(TextFindRandom, AgreesWithAPlainSearch) {
  std::mt19937 random(20261208);
  const char alphabet[] = "aAbB @`5.";
  const std::uint32_t modes[] = {0, 1, 2, 4, 5, 6, 32, 33, 36, 64, 65, 66, 68, 69, 96, 97};
  tw_test::GuardedPage page;
  Reference reference;
  TextFind(1, "x", "x", 0);  // both start from the same last match
  reference.last = 1;
  for (int round = 0; round < 20000; ++round) {
    std::string hay(random() % 40, ' ');
    for (char& c : hay) c = alphabet[random() % (sizeof alphabet - 1)];
    std::string needle(1 + random() % 4, ' ');
    for (char& c : needle) c = alphabet[random() % (sizeof alphabet - 1)];
    const std::uint32_t mode = modes[random() % (sizeof modes / sizeof modes[0])];
    // Some haystacks end at an unreadable page, some are views of a longer
    // text (a substring result), the rest plain texts.
    const std::string longer = hay + "aAb";
    const char* text = round % 3 == 1 ? page.TextAtEnd(hay.data(), hay.size()) : hay.c_str();
    const bool view = round % 3 == 2 && !hay.empty();
    for (int call = 0; call < 3; ++call) {
      const std::int32_t start =
          call > 0 ? 0 : static_cast<std::int32_t>(random() % (hay.size() + 4)) - 1;
      const std::int32_t expected = reference.Find(start, hay, needle, mode);
      if (view) tw::TextMid(tw::Arg(longer.c_str()), static_cast<std::int32_t>(hay.size()), 1);
      const tw::FindResult got =
          view ? TextFind(start, tw::kNewestResult, tw::Arg(needle.c_str()), mode)
               : TextFind(start, text, needle.c_str(), mode);
      ASSERT_EQ(got.position, expected)
          << "haystack '" << hay << "' needle '" << needle << "' start " << start << " mode "
          << mode << " call " << call;
    }
  }
}

TEST_P(TextFindRandom, LongNeedlesAgreeWithAPlainSearch) {
  std::mt19937 random(7);
  const std::uint32_t modes[] = {0, 1, 2, 4, 5, 32, 33, 64, 65};
  tw_test::GuardedPage page;
  Reference reference;
  for (int round = 0; round < 3000; ++round) {
    std::string needle(10 + random() % 40, ' ');
    for (char& c : needle) c = "abAB"[random() % 4];
    // Haystacks hold copies of the needle with some bytes changed or cut short.
    std::string hay;
    while (hay.size() < 150) {
      std::string copy = needle.substr(0, needle.size() - random() % 3);
      if (random() % 2) copy[random() % copy.size()] ^= 0x20;
      hay += copy + (random() % 2 ? " " : "");
    }
    hay.resize(random() % hay.size());
    const std::uint32_t mode = modes[random() % (sizeof modes / sizeof modes[0])];
    const char* text = round % 2 ? page.TextAtEnd(hay.data(), hay.size()) : hay.c_str();
    const std::int32_t expected = reference.Find(-1, hay, needle, mode);
    ASSERT_EQ(TextFind(-1, text, needle.c_str(), mode).position, expected)
        << "haystack '" << hay << "' needle '" << needle << "' mode " << mode;
  }
}

// --- TextCompare ------------------------------------------------------------

TEST_P(TextCompare, Examples) {
  const tw::CompareResult r1 = tw::TextCompare("abc", "abd", 0);
  EXPECT_EQ(r1.difference, -1);
  EXPECT_EQ(r1.position, 2);
  const tw::CompareResult r2 = tw::TextCompare("abc", "abc", 0);
  EXPECT_EQ(r2.difference, 0);
  EXPECT_EQ(r2.position, 3);
  const tw::CompareResult r3 = tw::TextCompare("abc", "ABC", 1);
  EXPECT_EQ(r3.difference, 0);
  EXPECT_EQ(r3.position, 3);
  const tw::CompareResult r4 = tw::TextCompare("abc", "ABC", 0);
  EXPECT_EQ(r4.difference, 'a' - 'A');
  EXPECT_EQ(r4.position, 0);
  const tw::CompareResult r5 = tw::TextCompare("\xff", "\x01", 0);
  EXPECT_EQ(r5.difference, 254);
}

TEST_P(TextCompare, StopsAtTheEndOfEitherText) {
  const tw::CompareResult shortA = tw::TextCompare("a", "a b", 1);
  EXPECT_EQ(shortA.difference, -' ');
  EXPECT_EQ(shortA.position, 1);
  const tw::CompareResult shortB = tw::TextCompare("a b", "a", 1);
  EXPECT_EQ(shortB.difference, ' ');
  EXPECT_EQ(shortB.position, 1);
  const tw::CompareResult empty = tw::TextCompare("", "", 0);
  EXPECT_EQ(empty.difference, 0);
  EXPECT_EQ(empty.position, 0);
}

TEST_P(TextCompare, EveryAlignmentOfEitherText) {
  alignas(16) char a[200];
  alignas(16) char b[200];
  for (int offsetA = 0; offsetA < 16; ++offsetA) {
    for (int offsetB = 0; offsetB < 16; ++offsetB) {
      for (int length : {0, 1, 15, 16, 17, 40, 63, 64, 65, 130}) {
        for (int differAt = 0; differAt <= length; ++differAt) {
          std::memset(a, 'q', sizeof a);
          std::memset(b, 'Q', sizeof b);
          a[offsetA + length] = '\0';
          b[offsetB + length] = '\0';
          if (differAt < length) b[offsetB + differAt] = 'z';
          const tw::CompareResult got = tw::TextCompare(a + offsetA, b + offsetB, 1);
          EXPECT_EQ(got.position, differAt);
          EXPECT_EQ(got.difference, differAt < length ? 'q' - 'z' : 0);
        }
      }
    }
  }
}

TEST_P(TextCompare, TextsEndingAtAnUnreadablePage) {
  tw_test::GuardedPage pageA;
  tw_test::GuardedPage pageB;
  for (std::size_t length = 0; length < 300; ++length) {
    const char* a = pageA.TextAtEnd(length, 'm');
    const char* b = pageB.TextAtEnd(length, 'M');
    const tw::CompareResult folded = tw::TextCompare(a, b, 1);
    EXPECT_EQ(folded.difference, 0);
    EXPECT_EQ(folded.position, static_cast<std::int32_t>(length));
    const std::string longer(length + 5, 'm');
    const tw::CompareResult exact = tw::TextCompare(a, longer.c_str(), 0);
    EXPECT_EQ(exact.position, static_cast<std::int32_t>(length));
    EXPECT_EQ(exact.difference, -'m');
  }
}

TEST_P(TextFindGuard, HaystacksEndingAtAnUnreadablePage) {
  tw_test::GuardedPage page;
  for (std::size_t length = 0; length < 300; ++length) {
    const char* hay = page.TextAtEnd(length, 'a');
    EXPECT_EQ(TextFind(1, hay, "ab", 0).position, 0);
    EXPECT_EQ(TextFind(1, hay, "AA", tw::kFindIgnoreCase).position, length >= 2 ? 1 : 0);
    EXPECT_EQ(TextFind(1, hay, "b", 0).position, 0);
    // Needles filtered on their first and last bytes.
    EXPECT_EQ(TextFind(1, hay, "aab", 0).position, 0);
    EXPECT_EQ(
        TextFind(1, hay, "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA", tw::kFindIgnoreCase).position,
        length >= 41 ? 1 : 0);
  }
}

// Haystacks of up to 400 bytes, many ending at an unreadable page, and needles
// of 2 to 300 bytes cut from them (so that they are found, late or early) or
// changed in one byte: every block size and filter of the kernels, forward
// and backward.
TEST_P(TextFindRandom, LongHaystacksAtPageEndsAgreeWithAPlainSearch) {
  std::mt19937 random(4096);
  const std::uint32_t modes[] = {0, 1, 2, 4, 5, 32, 33, 64, 65, 66, 68, 96, 97};
  tw_test::GuardedPage page;
  Reference reference;
  for (int round = 0; round < 3000; ++round) {
    std::string hay(random() % 400, ' ');
    for (char& c : hay) c = "abAB "[random() % 5];
    std::string needle;
    // Starts from the end, anywhere, or next to a copy of the needle (the
    // copy lies just inside or just beyond where a backward search begins).
    std::int32_t start = random() % 2 ? -1 : static_cast<std::int32_t>(random() % (hay.size() + 3));
    if (hay.size() >= 2) {
      const std::size_t length =
          2 + random() % std::min<std::size_t>(hay.size() - 1, random() % 2 ? 299 : 6);
      const std::size_t at =
          random() % 2 ? hay.size() - length : random() % (hay.size() - length + 1);
      if (random() % 3 == 0) start = static_cast<std::int32_t>(at + 1 + random() % 3);
      needle = hay.substr(at, length);
      char& changed = needle[random() % length];
      if (random() % 3 == 0 && changed != ' ') changed ^= 0x20;  // a letter's other case
    } else {
      needle = "ab";
    }
    const std::uint32_t mode = modes[random() % (sizeof modes / sizeof modes[0])];
    const char* text = round % 2 ? page.TextAtEnd(hay.data(), hay.size()) : hay.c_str();
    const std::int32_t expected = reference.Find(start, hay, needle, mode);
    ASSERT_EQ(TextFind(start, text, needle.c_str(), mode).position, expected)
        << "haystack '" << hay << "' needle '" << needle << "' start " << start << " mode " << mode;
  }
}

// The ways into the kernels: plain searches from the start (the short way)
// and searches from other starts, resumed ones and views with a length;
// haystacks of lengths around the block sizes whose zero lies 0 to 70 bytes
// before an unreadable page (bytes that would match follow it) or at any
// offset from a 64-byte boundary; needles of lengths around the one-compare
// and filter limits, some at a page end themselves; every byte mode, forward
// and backward.
TEST_P(TextFindRandom, EntryPathsAgreeWithAPlainSearch) {
  std::mt19937 random(6464);
  const std::size_t hayLengths[] = {0,  1,   2,   3,   15,  16,  17,  31,  32,  33,  63,  64,  65,
                                    66, 127, 128, 129, 130, 191, 192, 193, 255, 256, 257, 320, 700};
  const std::size_t needleLengths[] = {2,  3,  4,  5,  8,  15,  16,  17,  31,  32,  33, 34,
                                       62, 63, 64, 65, 66, 127, 128, 129, 255, 256, 257};
  const std::uint32_t modes[] = {0, 0, 0, 0, 1, 2, 4, 5, 6, 32, 33, 64, 65, 66, 68, 96, 97, 100};
  tw_test::GuardedPage hayPage;
  tw_test::GuardedPage needlePage;
  alignas(64) static char area[64 + 800 + 8 + 64];
  Reference reference;
  TextFind(1, "x", "x", 0);
  reference.last = 1;
  for (int round = 0; round < 4000; ++round) {
    const std::size_t length =
        random() % 4 != 0 ? hayLengths[random() % (sizeof hayLengths / sizeof hayLengths[0])]
                          : random() % 800;
    std::string hay(length, ' ');
    for (char& c : hay) c = "abbaA "[random() % 6];
    const std::size_t needleLength =
        needleLengths[random() % (sizeof needleLengths / sizeof needleLengths[0])];
    std::string needle;
    std::int32_t start = static_cast<std::int32_t>(random() % (length + 4)) - 1;
    if (random() % 4 == 0) start = 1;  // the short way in
    if (needleLength <= length && random() % 4 != 0) {
      const std::size_t at =
          random() % 2 ? length - needleLength : random() % (length - needleLength + 1);
      // Next to the copy: just inside or just beyond where a backward search begins.
      if (random() % 4 == 0) start = static_cast<std::int32_t>(at + 1 + random() % 3);
      needle = hay.substr(at, needleLength);
      char& changed = needle[random() % needleLength];
      if (random() % 3 == 0 && changed != ' ') changed ^= 0x20;  // a letter's other case
    } else {
      needle.assign(needleLength, ' ');
      for (char& c : needle) c = "abbaA "[random() % 6];
    }
    const std::uint32_t mode = modes[random() % (sizeof modes / sizeof modes[0])];
    // After the haystack's zero: copies of the needle, which no search may find.
    std::string after;
    while (after.size() < 80) after += needle;
    const char* text;
    const bool atPageEnd = random() % 2 != 0;
    if (atPageEnd) {
      const std::size_t gap = random() % 71;
      const std::string placed = gap == 0 ? hay : hay + '\0' + after.substr(0, gap - 1);
      text = hayPage.TextAtEnd(placed.data(), placed.size());
    } else {
      char* at = area + random() % 64;
      std::memcpy(at, hay.c_str(), length + 1);
      std::memcpy(at + length + 1, after.data(), 7);
      text = at;
    }
    const char* needleText =
        random() % 3 == 0 ? needlePage.TextAtEnd(needle.data(), needle.size()) : needle.c_str();
    // Views: the haystack's length ends it (the bytes after it are readable).
    const bool view = !atPageEnd && random() % 4 == 0;
    const std::string longer = hay + "aabb";
    for (int call = 0; call < 2; ++call) {
      if (call > 0) start = 0;
      const std::int32_t expected = reference.Find(start, hay, needle, mode);
      const tw::FindResult got =
          view ? tw::TextFindView(start, {longer.c_str(), static_cast<std::int32_t>(length)},
                                  {needleText, static_cast<std::int32_t>(needle.size())}, mode)
               : TextFind(start, text, needleText, mode);
      ASSERT_EQ(got.position, expected)
          << "haystack '" << hay << "' needle '" << needle << "' start " << start << " mode "
          << mode << " view " << view << " call " << call;
    }
  }
}

// TextCompare's answer for a and b by a byte-by-byte walk: the position of
// the first difference (or of the shorter text's end) and the difference of
// the bytes there, mode 1 comparing bytes with bit 5 set.
struct ReferenceComparison {
  std::size_t position;
  int difference;
};
ReferenceComparison ReferenceCompare(const std::string& a, const std::string& b, int mode) {
  const unsigned fold = mode != 0 ? 32 : 0;
  std::size_t p = 0;
  for (; p < a.size() && p < b.size(); ++p) {
    if ((static_cast<unsigned char>(a[p]) | fold) != (static_cast<unsigned char>(b[p]) | fold))
      break;
  }
  return {p, static_cast<int>(static_cast<unsigned char>(a.c_str()[p])) -
                 static_cast<int>(static_cast<unsigned char>(b.c_str()[p]))};
}

// Random texts of up to 300 bytes at random alignments, some ending at an
// unreadable page, against a byte-by-byte reference.
TEST_P(TextCompare, AgreesWithAPlainComparison) {
  std::mt19937 random(1208);
  tw_test::GuardedPage pageA;
  tw_test::GuardedPage pageB;
  for (int round = 0; round < 20000; ++round) {
    std::string a(random() % 300, ' ');
    for (char& c : a) c = "qQ@`"[random() % 4 == 0 ? random() % 4 : 0];
    std::string b = a.substr(0, random() % (a.size() + 1));
    if (random() % 2) b += "qQz"[random() % 3];
    const std::int32_t mode = static_cast<std::int32_t>(random() % 2);
    const auto [p, expected] = ReferenceCompare(a, b, mode);
    std::string storageA = std::string(random() % 32, '#') + a;
    std::string storageB = std::string(random() % 32, '#') + b;
    const char* x = round % 3 == 1 ? pageA.TextAtEnd(a.data(), a.size())
                                   : storageA.c_str() + (storageA.size() - a.size());
    const char* y = round % 3 == 2 ? pageB.TextAtEnd(b.data(), b.size())
                                   : storageB.c_str() + (storageB.size() - b.size());
    const tw::CompareResult got = tw::TextCompare(x, y, mode);
    ASSERT_EQ(got.position, static_cast<std::int32_t>(p)) << "'" << a << "' '" << b << "' " << mode;
    ASSERT_EQ(got.difference, expected) << "'" << a << "' '" << b << "' " << mode;
  }
}

// Texts of up to 3000 bytes that cross page boundaries at random places (one
// of them often ends at an unreadable page), equal or differing in one byte:
// every block of the four-block steps, the single blocks and the partial
// blocks next to a page end, with bytes that differ only in the fold bit.
TEST_P(TextCompare, LongTextsAcrossPagesAgreeWithAPlainComparison) {
  std::mt19937 random(6502);
  constexpr std::size_t kPage = 4096;
  std::vector<char> storage(3 * kPage);
  tw_test::GuardedPage guard;
  for (int round = 0; round < 6000; ++round) {
    std::string a(random() % 3000, ' ');
    for (char& c : a) c = "kK@` "[random() % 8 == 0 ? random() % 5 : 0];
    std::string b = a;
    switch (random() % 4) {
      case 0:  // a difference at one place
        if (!b.empty()) b[random() % b.size()] = "kKz`@ "[random() % 6];
        break;
      case 1:  // b ends early
        b.resize(random() % (b.size() + 1));
        break;
      case 2:  // b goes on
        b += "kK "[random() % 3];
        break;
      default:  // equal
        break;
    }
    const std::int32_t mode = static_cast<std::int32_t>(random() % 2);
    const auto [p, expected] = ReferenceCompare(a, b, mode);
    // a anywhere in the first part of the storage, b at the guarded page's
    // end when it fits, else in the storage's last part.
    char* x = storage.data() + random() % (kPage + 1);
    std::memcpy(x, a.c_str(), a.size() + 1);
    const char* y;
    if (b.size() < kPage && random() % 2 == 0) {
      y = guard.TextAtEnd(b.data(), b.size());
    } else {
      char* place = storage.data() + 3 * kPage - (b.size() + 1) - random() % 64;
      std::memcpy(place, b.c_str(), b.size() + 1);
      y = place;
    }
    const tw::CompareResult got = tw::TextCompare(x, y, mode);
    ASSERT_EQ(got.position, static_cast<std::int32_t>(p)) << round << " " << mode;
    ASSERT_EQ(got.difference, expected) << round << " " << mode;
  }
}

// Texts of about 64 KiB and more, where the AVX-512 comparison goes on in
// 32-byte blocks: equal, or differing (in a byte or only in case) or ending
// around that place or anywhere, at random alignments.
TEST_P(TextCompare, TextsBeyondSixtyFourKibAgreeWithAPlainComparison) {
  std::mt19937 random(65536);
  std::vector<char> storageA(80 << 10), storageB(80 << 10);
  for (int round = 0; round < 300; ++round) {
    std::string a((64 << 10) - 512 + random() % 4096, 'k');
    std::string b = a;
    const std::size_t at =
        (random() % 2 ? (64 << 10) - 300 + random() % 600 : random() % a.size()) % a.size();
    switch (random() % 4) {
      case 0:
        b[at] = 'z';
        break;
      case 1:
        b[at] = 'K';  // equal ignoring case
        break;
      case 2:
        b.resize(at);
        break;
      default:
        break;
    }
    const std::int32_t mode = static_cast<std::int32_t>(random() % 2);
    const auto [p, expected] = ReferenceCompare(a, b, mode);
    char* x = storageA.data() + random() % 128;
    char* y = storageB.data() + random() % 128;
    std::memcpy(x, a.c_str(), a.size() + 1);
    std::memcpy(y, b.c_str(), b.size() + 1);
    const tw::CompareResult got = tw::TextCompare(x, y, mode);
    ASSERT_EQ(got.position, static_cast<std::int32_t>(p)) << round << " " << mode;
    ASSERT_EQ(got.difference, expected) << round << " " << mode;
  }
}

}  // namespace
