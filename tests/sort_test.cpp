// Sorting and searching arrays: the comb sort against a plain one-pair-at-a-
// time comb sort written here (values and companions must come out the same)
// and against std::sort, the minimum and maximum against a reference, the
// block scan against a byte-by-byte reference (and at a page's end), and the
// string sort against a case-folding reference order.
#include "support/sort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "support/arrays.h"
#include "tools/guarded_page.h"

namespace {

std::int32_t Bits(float value) {
  std::int32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

float FloatOf(std::int32_t bits) {
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

// The comb sort as the library states it, one pair at a time.
void ReferenceCombSort(std::vector<std::int32_t>& v, std::vector<std::int32_t>* companion,
                       bool descending, bool floats) {
  const std::int32_t n = static_cast<std::int32_t>(v.size());
  std::int32_t gap = n;
  for (;;) {
    gap = static_cast<std::int32_t>((static_cast<std::int64_t>(gap) * 25) >> 5);
    if (gap == 0) gap = 1;
    int swaps = 0;
    for (std::int32_t i = 0; i + gap <= n - 1; ++i) {
      const bool exchange = descending ? v[i + gap] > v[i] : v[i + gap] < v[i];
      if (!exchange) continue;
      std::swap(v[i], v[i + gap]);
      if (companion != nullptr) std::swap((*companion)[i], (*companion)[i + gap]);
      ++swaps;
    }
    if (swaps == 0 && gap <= 1) break;
  }
  if (!floats) return;
  std::int32_t first = 0;
  std::int32_t last = -1;
  if (!descending) {
    while (last + 1 < n && v[last + 1] < 0) ++last;
  } else {
    first = n;
    while (first > 0 && v[first - 1] < 0) --first;
    last = n - 1;
  }
  for (; first < last; ++first, --last) {
    std::swap(v[first], v[last]);
    if (companion != nullptr) std::swap((*companion)[first], (*companion)[last]);
  }
}

std::vector<std::int32_t> RandomValues(std::mt19937& random, std::size_t n, bool floats,
                                       int range) {
  std::vector<std::int32_t> values(n);
  for (auto& value : values) {
    if (floats) {
      value = Bits(static_cast<float>(static_cast<int>(random() % (2 * range + 1)) - range) / 4.0f);
    } else if (range > 0) {
      value = static_cast<std::int32_t>(random() % (2 * range + 1)) - range;
    } else {
      value = static_cast<std::int32_t>(random());
    }
  }
  return values;
}

TEST(NumberArraySort, MatchesThePairAtATimeCombSortAndSortsLikeStdSort) {
  std::mt19937 random(11);
  const std::size_t sizes[] = {0, 1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 31, 64, 100, 257, 1000, 4099};
  for (const std::size_t n : sizes) {
    for (int floats = 0; floats < 2; ++floats) {
      for (int descending = 0; descending < 2; ++descending) {
        for (int range : {0, 3, 1000}) {
          if (floats && range == 0) continue;
          std::vector<std::int32_t> values = RandomValues(random, n, floats != 0, range);
          std::vector<std::int32_t> expected = values;
          std::vector<std::int32_t> expectedCompanion(n);
          for (std::size_t i = 0; i < n; ++i) expectedCompanion[i] = static_cast<std::int32_t>(i);
          ReferenceCombSort(expected, &expectedCompanion, descending != 0, floats != 0);
          std::vector<std::int32_t> companion(n + 1, -7);
          const std::int32_t count =
              descending ? -static_cast<std::int32_t>(n) : static_cast<std::int32_t>(n);
          const std::uintptr_t options = tw::SortCompanion(
              companion.data(), tw::kSortFillCompanion | (floats ? tw::kSortFloats : 0));
          tw::NumberArraySort(values.data(), count, options);
          ASSERT_EQ(values, expected) << n << " floats " << floats << " desc " << descending;
          companion.pop_back();
          ASSERT_EQ(companion, expectedCompanion) << n;
          // Against std::sort in the same order.
          std::vector<std::int32_t> sorted = values;
          if (floats) {
            std::stable_sort(sorted.begin(), sorted.end(), [&](std::int32_t a, std::int32_t b) {
              return descending ? FloatOf(a) > FloatOf(b) : FloatOf(a) < FloatOf(b);
            });
            for (std::size_t i = 0; i < n; ++i) EXPECT_EQ(FloatOf(values[i]), FloatOf(sorted[i]));
          } else {
            std::sort(sorted.begin(), sorted.end());
            if (descending) std::reverse(sorted.begin(), sorted.end());
            EXPECT_EQ(values, sorted);
          }
        }
      }
    }
  }
}

TEST(NumberArraySort, StatedCases) {
  struct Case {
    std::vector<float> in;
    bool descending;
    std::vector<float> out;
  };
  const Case cases[] = {
      {{-1.0f, 2.0f, -3.0f, 0.5f}, false, {-3.0f, -1.0f, 0.5f, 2.0f}},
      {{-1.0f, 2.0f, -3.0f, 0.5f}, true, {2.0f, 0.5f, -1.0f, -3.0f}},
      {{0.0f, -0.0f, -2.5f}, false, {-2.5f, -0.0f, 0.0f}},
      {{7.0f}, false, {7.0f}},
  };
  for (const Case& c : cases) {
    std::vector<std::int32_t> bits;
    for (float f : c.in) bits.push_back(Bits(f));
    const auto n = static_cast<std::int32_t>(bits.size());
    tw::NumberArraySort(bits.data(), c.descending ? -n : n, tw::kSortFloats);
    for (std::size_t i = 0; i < bits.size(); ++i) {
      EXPECT_EQ(bits[i], Bits(c.out[i])) << i;
    }
  }
  // A companion given without the fill bit is permuted as it is.
  std::vector<std::int32_t> values = {30, 10, 20};
  std::vector<std::int32_t> companion = {100, 200, 300};
  tw::NumberArraySort(values.data(), 3, tw::SortCompanion(companion.data(), tw::kSortIntegers));
  EXPECT_EQ(values, (std::vector<std::int32_t>{10, 20, 30}));
  EXPECT_EQ(companion, (std::vector<std::int32_t>{200, 300, 100}));
  // Companion after the fill: positions before the sort.
  values = {5, -4, 9, 0};
  std::vector<std::int32_t> positions(4);
  tw::NumberArraySort(values.data(), -4,
                      tw::SortCompanion(positions.data(), tw::kSortFillCompanion));
  EXPECT_EQ(values, (std::vector<std::int32_t>{9, 5, 0, -4}));
  EXPECT_EQ(positions, (std::vector<std::int32_t>{2, 0, 3, 1}));
  // Bad counts touch nothing.
  tw::NumberArraySort(values.data(), INT32_MIN, 0);
  tw::NumberArraySort(nullptr, 5, 0);
  EXPECT_EQ(values, (std::vector<std::int32_t>{9, 5, 0, -4}));
}

// Float order as a number for the reference (NaN patterns excluded).
double FloatOrder(std::int32_t bits) {
  const float value = FloatOf(bits);
  if (value == 0.0f) return std::signbit(value) ? -1e-300 : 0.0;
  return value;
}

TEST(NumberArrayMinMax, MatchesAReference) {
  std::mt19937 random(5);
  for (int round = 0; round < 300; ++round) {
    const std::size_t n = random() % 40;
    const bool floats = round % 2 == 1;
    std::vector<std::int32_t> values = RandomValues(random, n, floats, 1000);
    if (floats && round % 4 == 1) {
      for (auto& v : values) v = Bits(-std::fabs(FloatOf(v)) - 0.25f);  // only negatives
    }
    const tw::MinMax got = tw::NumberArrayMinMax(values.data(), static_cast<std::int32_t>(n),
                                                 floats ? tw::kSortFloats : 0);
    if (n == 0) {
      EXPECT_EQ(got.minimum, INT32_MAX);
      EXPECT_EQ(got.maximum, INT32_MIN);
      continue;
    }
    if (floats) {
      double low = FloatOrder(values[0]), high = low;
      for (auto v : values) {
        low = std::min(low, FloatOrder(v));
        high = std::max(high, FloatOrder(v));
      }
      EXPECT_EQ(FloatOrder(got.minimum), low) << round;
      EXPECT_EQ(FloatOrder(got.maximum), high) << round;
    } else {
      EXPECT_EQ(got.minimum, *std::min_element(values.begin(), values.end()));
      EXPECT_EQ(got.maximum, *std::max_element(values.begin(), values.end()));
    }
  }
  const std::int32_t negatives[] = {Bits(-3.0f), Bits(-0.5f), Bits(-7.0f)};
  const tw::MinMax got = tw::NumberArrayMinMax(negatives, 3, tw::kSortFloats);
  EXPECT_EQ(got.minimum, Bits(-7.0f));
  EXPECT_EQ(got.maximum, Bits(-0.5f));
  const tw::MinMax none = tw::NumberArrayMinMax(negatives, 0, tw::kSortFloats);
  EXPECT_EQ(none.minimum, INT32_MAX);
  EXPECT_EQ(none.maximum, INT32_MIN);
}

// The block scan one element at a time.
std::int32_t ReferenceScan(const unsigned char* block, std::int32_t length, std::uint32_t value,
                           std::int32_t selector) {
  const auto low = static_cast<std::int8_t>(selector & 0xFF);
  const std::int32_t width = low < 0 ? 1 : (low == 0 ? 2 : 4);
  unsigned char pattern[4];
  std::memcpy(pattern, &value, 4);
  for (std::int32_t at = 0; at + width <= length; at += width) {
    bool equal = true;
    for (std::int32_t k = 0; k < width; ++k) equal &= block[at + k] == pattern[(at + k) % 4];
    if (equal) return at;
  }
  return -1;
}

TEST(ArrayScan, MatchesAReferenceForEveryWidthAndOffset) {
  std::mt19937 random(3);
  std::vector<unsigned char> storage(200);
  for (int round = 0; round < 3000; ++round) {
    for (auto& b : storage) b = static_cast<unsigned char>(random() % 3);
    const std::size_t offset = random() % 16;
    const std::int32_t length = static_cast<std::int32_t>(random() % 150);
    const std::int32_t selectors[] = {-1, 0x180, 0, 0x100, 1, 0x7F};
    const std::int32_t selector = selectors[random() % 6];
    const std::uint32_t value =
        static_cast<std::uint32_t>(random() % 3) * 0x01010101u + (round % 5 == 0 ? 0x100u : 0u);
    const unsigned char* block = storage.data() + offset;
    ASSERT_EQ(tw::ArrayScan(block, length, value, selector),
              ReferenceScan(block, length, value, selector))
        << round;
  }
}

TEST(ArrayScan, StatedCasesAndTheBlockEnd) {
  alignas(16) unsigned char block[40] = {};
  std::uint32_t word = 0x11223344;
  std::memcpy(block + 6, &word, 4);
  std::memcpy(block + 20, &word, 4);
  // 32-bit lanes: only offsets that are multiples of 4.
  EXPECT_EQ(tw::ArrayScan(block, 40, word, tw::kScanDoubleWords), 20);
  EXPECT_EQ(tw::ArrayScan(block, 23, word, tw::kScanDoubleWords), -1);  // ends beyond
  EXPECT_EQ(tw::ArrayScan(block, 24, word, tw::kScanDoubleWords), 20);
  EXPECT_EQ(tw::ArrayScan(block, 40, 0x33333333, tw::kScanBytes), 7);  // inside the word at 6
  EXPECT_EQ(tw::ArrayScan(block, 40, 0x55555555, tw::kScanBytes), -1);
  block[33] = 0x55;
  EXPECT_EQ(tw::ArrayScan(block, 40, 0x55555555, tw::kScanBytes), 33);
  EXPECT_EQ(tw::ArrayScan(block, 33, 0x55555555, tw::kScanBytes), -1);
  EXPECT_EQ(tw::ArrayScan(block, 40, 0x33443344, tw::kScanWords), 6);  // 16-bit 0x3344 at 6
  EXPECT_EQ(tw::ArrayScan(block, 0, 0, tw::kScanBytes), -1);
  EXPECT_EQ(tw::ArrayScan(block, -5, 0, tw::kScanBytes), -1);
  // A block that ends at a page's end: nothing after it is read.
  tw_test::GuardedPage page;
  for (std::int32_t length = 1; length < 40; ++length) {
    char* text = page.TextAtEnd(static_cast<std::size_t>(length - 1), 'a');  // its zero is last
    EXPECT_EQ(tw::ArrayScan(text, length, 0, tw::kScanBytes), length - 1) << length;
    EXPECT_EQ(tw::ArrayScan(text, length, 0x62626262, tw::kScanBytes), -1);
  }
}

// ---- String array sort ----

// Fills array number with the texts (owned copies).
void MakeArray(int number, const std::vector<std::string>& texts) {
  tw::ArrayHeader* header = tw::ArrayCreate(number, static_cast<std::uint32_t>(texts.size()) - 1);
  for (std::size_t i = 0; i < texts.size(); ++i) {
    tw::ElementAssign(&tw::ArrayElements(header)[i], texts[i].data(),
                      static_cast<std::int32_t>(texts[i].size()));
  }
}

std::vector<std::string> ArrayTexts(int number) {
  tw::ArrayHeader* header = tw::ArrayHeaderOf(number);
  std::vector<std::string> texts;
  for (std::int32_t i = 0; i < header->count; ++i) {
    const tw::ArrayElementEntry& e = tw::ArrayElements(header)[i];
    texts.emplace_back(e.address != 0 ? reinterpret_cast<const char*>(e.address) : "");
  }
  return texts;
}

std::string Folded(const std::string& text) {
  std::string folded = text;
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  return folded;
}

TEST(CompareFolded, FoldsOnlyAsciiLettersAndComparesUnsigned) {
  EXPECT_EQ(tw::CompareFolded("ABC", "abc"), 0);
  EXPECT_LT(tw::CompareFolded("_", "a"), 0);     // '_' (95) before 'a' (97), as with lower case
  EXPECT_GT(tw::CompareFolded("Z", "_"), 0);     // 'z' (122) after '_'
  EXPECT_GT(tw::CompareFolded("\xC4", "z"), 0);  // bytes above 127 after ASCII
  EXPECT_EQ(tw::CompareFolded("\xC4", "\xE4"), static_cast<int>(0xC4) - 0xE4);
  EXPECT_LT(tw::CompareFolded("ab", "abc"), 0);
  EXPECT_GT(tw::CompareFolded("b", "ABC"), 0);
#ifdef _WIN32
  // The runtime library agrees on ASCII texts. (Windows' msvcrt also compares
  // bytes above 127 unsigned; Wine's compares them as signed values, so they
  // are left out here.)
  const char* texts[] = {"_", "a", "Z", "[", "~", "`", "ab", "AB", "", "a b"};
  for (const char* a : texts) {
    for (const char* b : texts) {
      const int ours = tw::CompareFolded(a, b);
      const int theirs = _stricmp(a, b);
      EXPECT_EQ(ours < 0, theirs < 0) << a << " " << b;
      EXPECT_EQ(ours == 0, theirs == 0) << a << " " << b;
    }
  }
#endif
}

// The order StringArraySort promises: _stricmp's on Windows (where the
// runtime library sorts), the folded unsigned bytes natively.
int ReferenceCompare(const std::string& a, const std::string& b) {
#ifdef _WIN32
  return _stricmp(a.c_str(), b.c_str());
#else
  const std::string x = Folded(a), y = Folded(b);
  const auto* px = reinterpret_cast<const unsigned char*>(x.c_str());
  const auto* py = reinterpret_cast<const unsigned char*>(y.c_str());
  if (std::lexicographical_compare(px, px + x.size(), py, py + y.size())) return -1;
  return std::lexicographical_compare(py, py + y.size(), px, px + x.size()) ? 1 : 0;
#endif
}

TEST(StringArraySort, RandomTextsInBothDirectionsMatchTheFoldedOrder) {
  std::mt19937 random(17);
  const char alphabet[] = "aAbB_zZ[ 1\xC4";
  for (int round = 0; round < 60; ++round) {
    std::vector<std::string> texts(1 + random() % 200);
    for (auto& t : texts) {
      t.resize(random() % 14);
      for (char& c : t) c = alphabet[random() % (sizeof alphabet - 1)];
    }
    MakeArray(3, texts);
    const bool descending = round % 2 == 1;
    tw::StringArraySort(descending ? -3 : 3, 0);
    const std::vector<std::string> sorted = ArrayTexts(3);
    // The same texts, each next one in order by the folded bytes.
    std::vector<std::string> a = sorted, b = texts;
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    ASSERT_EQ(a, b);
    for (std::size_t i = 1; i < sorted.size(); ++i) {
      const int order = ReferenceCompare(sorted[i - 1], sorted[i]);
      ASSERT_TRUE(descending ? order >= 0 : order <= 0)
          << round << ": " << sorted[i - 1] << " | " << sorted[i];
    }
  }
  tw::ArrayErase(3);
}

TEST(StringArraySort, CountsEmptyElementsAndBadNumbers) {
  MakeArray(4, {"delta", "Alpha", "", "charlie", "BRAVO"});
  tw::ArrayElements(tw::ArrayHeaderOf(4))[2] = {0, 0};  // no text at all: the empty text
  tw::StringArraySort(4, 3);                            // only the first three
  EXPECT_EQ(ArrayTexts(4), (std::vector<std::string>{"", "Alpha", "delta", "charlie", "BRAVO"}));
  tw::StringArraySort(-4, 0);
  EXPECT_EQ(ArrayTexts(4), (std::vector<std::string>{"delta", "charlie", "BRAVO", "Alpha", ""}));
  tw::StringArraySort(4, 99);  // cut to the count
  EXPECT_EQ(ArrayTexts(4), (std::vector<std::string>{"", "Alpha", "BRAVO", "charlie", "delta"}));
  tw::StringArraySort(4, -1);  // nothing
  tw::StringArraySort(-20, 0);
  tw::StringArraySort(INT32_MIN, 0);
  tw::StringArraySort(9, 0);  // never created
  EXPECT_EQ(ArrayTexts(4), (std::vector<std::string>{"", "Alpha", "BRAVO", "charlie", "delta"}));
  // Texts that differ only in case stay together in either direction.
  MakeArray(4, {"b", "A", "B", "a", "c", "C"});
  for (int number : {4, -4}) {
    tw::StringArraySort(number, 0);
    const std::vector<std::string> texts = ArrayTexts(4);
    for (std::size_t i = 0; i < texts.size(); i += 2) {
      EXPECT_EQ(Folded(texts[i]), Folded(texts[i + 1])) << number;
    }
  }
  tw::ArrayErase(4);
}

}  // namespace
