// Library start-up: predefined texts, program folder, bit counts, the choice
// of vector kernels, the SSE2 refusal, the x87 control-word switch and the
// powers-of-ten table, checked against exact big-integer arithmetic done here.
#include "support/startup.h"

#include "compat/win32.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "tools/child.h"
#include "trace/kernels.h"

namespace {

void RunWithoutSse2() {
  tw::testing::PretendNoSse2();
  tw::LibraryInit();
}

const tw_test::Scenario kScenarios[] = {{"no-sse2", RunWithoutSse2}};
const int g_child = tw_test::RunScenarioIfChild(kScenarios, 1);

std::string TextOf(int code) {
  const tw::TextPair pair = tw::PredefinedText(code);
  if (pair.address == 0) return "<none>";
  const char* text = reinterpret_cast<const char*>(pair.address);
  EXPECT_EQ(std::strlen(text), static_cast<std::size_t>(pair.length)) << "code " << code;
  return std::string(text, static_cast<std::size_t>(pair.length));
}

TEST(LibraryInit, PredefinedTextsReadAsTheTable) {
  tw::LibraryInit();
  EXPECT_EQ(TextOf(tw::kTextNone), "<none>");
  EXPECT_EQ(tw::PredefinedText(tw::kTextNone).length, 0);
  EXPECT_EQ(TextOf(tw::kTextCrLf), "\r\n");
  EXPECT_EQ(TextOf(tw::kTextTab), "\t");
  EXPECT_EQ(TextOf(tw::kTextSpace), " ");
  EXPECT_EQ(TextOf(tw::kTextTwoSpaces), "  ");
  EXPECT_EQ(TextOf(tw::kTextFourSpaces), "    ");
  EXPECT_EQ(TextOf(tw::kTextX), "X");
}

TEST(LibraryInit, ProgramFolderIsTheRunningProgramsFolderWithSeparator) {
  tw::LibraryInit();
  char program[260];
  const DWORD length = GetModuleFileNameA(nullptr, program, sizeof program);
  ASSERT_GT(length, 0u);
  const std::string folder = TextOf(tw::kTextProgramFolder);
#ifdef _WIN32
  const char separator = '\\';
#else
  const char separator = '/';
#endif
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), separator);
  EXPECT_EQ(std::string(program).rfind(folder, 0), 0u) << program;
  EXPECT_EQ(std::string(program).find(separator, folder.size()), std::string::npos);
}

TEST(LibraryInit, BitCountsAndRepeatedRunsAgree) {
  tw::LibraryInit();
  const tw::TextPair before = tw::PredefinedText(tw::kTextProgramFolder);
  tw::LibraryInit();
  EXPECT_EQ(tw::PredefinedText(tw::kTextProgramFolder).address, before.address);
  EXPECT_EQ(tw::PredefinedText(tw::kTextProgramFolder).length, before.length);
  for (int b = 0; b < 256; ++b) {
    EXPECT_EQ(tw::g_bitCount[b], __builtin_popcount(static_cast<unsigned>(b))) << b;
  }
}

TEST(LibraryInit, ChoosesTheKernelsAndKeepsAChoiceMadeBefore) {
  const tw::KernelSet best = tw::testing::ChooseKernelsAgain();
  tw::g_kernelSet.store(0);  // as before any routine has run
  tw::LibraryInit();
  EXPECT_EQ(tw::g_kernelSet.load(), static_cast<std::int32_t>(best));
  ASSERT_TRUE(tw::testing::UseKernels(tw::KernelSet::kSse2));
  tw::LibraryInit();
  EXPECT_EQ(tw::ActiveKernels(), tw::KernelSet::kSse2) << "start-up keeps the choice once made";
  tw::testing::ChooseKernelsAgain();
}

TEST(LibraryInit, WithoutSse2ShowsTheRefusalAndEndsWithMinus99) {
  TW_SKIP_WITHOUT_CHILD_PROCESS();
  const tw_test::ChildResult child = tw_test::RunChild("no-sse2");
  EXPECT_EQ(child.exitCode, -99);
  EXPECT_EQ(child.error, "[message box] \nSorry, Tarnwick needs SSE2\n[answer] ok\n");
}

// ---- x87 control word ----

struct FpuEnvironment {
  std::uint16_t control, pad0, status, pad1, tag, pad2;
  std::uint32_t rest[4];
};

FpuEnvironment ReadFpuEnvironment() {
  FpuEnvironment environment;
  __asm__ volatile("fnstenv %0\n\tfldenv %0" : "=m"(environment)::"memory");
  return environment;
}

TEST(SetFpuControl, SwitchesHighByteAndSwitchesBack) {
  const std::uint16_t before = tw::FpuControlWord();
  tw::SetFpuControl(7);
  EXPECT_EQ(tw::FpuControlWord(), static_cast<std::uint16_t>((before & 0xFF) | 0x0700));
  EXPECT_EQ(tw::g_fpuControl[0], before);
  tw::SetFpuControl(0);
  EXPECT_EQ(tw::FpuControlWord(), before);
  tw::SetFpuControl(3);
  EXPECT_EQ(tw::FpuControlWord() >> 8, 3);
  tw::SetFpuControl(0);
  EXPECT_EQ(tw::FpuControlWord(), before);
}

TEST(BuildPowersOfTen, LeavesTheUnitReinitialised) {
  tw::SetFpuControl(0x0C);  // rounding toward zero, 24-bit significand
  volatile long double loaded = 3.0L;
  (void)loaded;
  tw::BuildPowersOfTen();
  const FpuEnvironment environment = ReadFpuEnvironment();
  EXPECT_EQ(environment.control, 0x037F);
  EXPECT_EQ(environment.tag, 0xFFFF) << "every register empty";
  EXPECT_EQ((environment.status >> 11) & 7, 0);
  EXPECT_TRUE(tw::PowersOfTenBuilt());
}

// ---- Exact arithmetic for the table ----

// Unsigned big integers, 32-bit limbs, least significant first.
using Big = std::vector<std::uint32_t>;

void Trim(Big& a) {
  while (!a.empty() && a.back() == 0) a.pop_back();
}

Big FromU64(std::uint64_t v) {
  Big a = {static_cast<std::uint32_t>(v), static_cast<std::uint32_t>(v >> 32)};
  Trim(a);
  return a;
}

void MultiplySmall(Big& a, std::uint32_t factor) {
  std::uint64_t carry = 0;
  for (std::uint32_t& limb : a) {
    const std::uint64_t product = std::uint64_t{limb} * factor + carry;
    limb = static_cast<std::uint32_t>(product);
    carry = product >> 32;
  }
  if (carry != 0) a.push_back(static_cast<std::uint32_t>(carry));
}

void ShiftLeft(Big& a, int bits) {
  a.insert(a.begin(), static_cast<std::size_t>(bits / 32), 0u);
  const int rest = bits % 32;
  if (rest == 0) return;
  std::uint32_t carry = 0;
  for (std::uint32_t& limb : a) {
    const std::uint32_t next = limb >> (32 - rest);
    limb = (limb << rest) | carry;
    carry = next;
  }
  if (carry != 0) a.push_back(carry);
}

int Compare(const Big& a, const Big& b) {
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  for (std::size_t i = a.size(); i-- > 0;) {
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  }
  return 0;
}

Big Subtract(const Big& a, const Big& b) {  // a >= b
  Big out = a;
  std::int64_t borrow = 0;
  for (std::size_t i = 0; i < out.size(); ++i) {
    std::int64_t d = std::int64_t{out[i]} - (i < b.size() ? b[i] : 0) - borrow;
    borrow = d < 0;
    if (d < 0) d += std::int64_t{1} << 32;
    out[i] = static_cast<std::uint32_t>(d);
  }
  Trim(out);
  return out;
}

Big Distance(const Big& a, const Big& b) {
  return Compare(a, b) >= 0 ? Subtract(a, b) : Subtract(b, a);
}

// An extended value m * 2^q with a 64-bit significand m (top bit set).
struct Extended {
  std::uint64_t m;
  int q;
};

constexpr std::uint64_t kTopBit = std::uint64_t{1} << 63;

Extended Decode(long double value) {
  unsigned char bytes[10];
  std::memcpy(bytes, &value, 10);
  std::uint64_t m = 0;
  std::memcpy(&m, bytes, 8);
  const int biased = (bytes[8] | (bytes[9] << 8)) & 0x7FFF;
  return {m, biased - 16383 - 63};
}

Extended Below(Extended x) {
  if (x.m == kTopBit) return {~std::uint64_t{0}, x.q - 1};
  return {x.m - 1, x.q};
}

Extended Above(Extended x) {
  if (x.m == ~std::uint64_t{0}) return {kTopBit, x.q + 1};
  return {x.m + 1, x.q};
}

// |x - 10^k| scaled by 2^s * 5^f, with s and f large enough for integers.
Big ScaledDistance(Extended x, int k) {
  const int f = k < 0 ? -k : 0;
  const int s = 700;
  Big value = FromU64(x.m);
  ShiftLeft(value, x.q + s);
  for (int i = 0; i < f; ++i) MultiplySmall(value, 5);
  Big power = {1};
  for (int i = 0; i < k + f; ++i) MultiplySmall(power, 5);
  ShiftLeft(power, k + s);
  return Distance(value, power);
}

bool IsNearest(Extended x, int k) {
  const Big here = ScaledDistance(x, k);
  return Compare(here, ScaledDistance(Below(x), k)) < 0 &&
         Compare(here, ScaledDistance(Above(x), k)) < 0;
}

bool IsRaised(int k) {
  static const int kRaised[] = {-137, -134, -119, -91, -89, -88, -84, -43, -42, -41, -37,
                                -27,  -23,  -22,  -3,  -2,  43,  52,  84,  85,  94,  101,
                                111,  115,  118,  136, 143, 144, 145, 148, 152};
  for (int r : kRaised) {
    if (r == k) return true;
  }
  return false;
}

TEST(BuildPowersOfTen, EveryEntryIsTheNearestValueOrTheOneAboveIt) {
  tw::BuildPowersOfTen();
  int raised = 0;
  for (int i = 0; i < tw::kPowersOfTenCount; ++i) {
    const int k = tw::kPowersOfTenHighest - i;
    const Extended entry = Decode(tw::g_powersOfTen[i]);
    ASSERT_NE(entry.m & kTopBit, 0u) << "normalised, 10^" << k;
    if (IsRaised(k)) {
      ++raised;
      EXPECT_TRUE(IsNearest(Below(entry), k)) << "one unit above the nearest value: 10^" << k;
    } else {
      EXPECT_TRUE(IsNearest(entry, k)) << "nearest value: 10^" << k;
    }
  }
  EXPECT_EQ(raised, 31);
}

TEST(BuildPowersOfTen, SmallPowersAreExact) {
  tw::BuildPowersOfTen();
  EXPECT_EQ(tw::PowerOfTen(0), 1.0L);
  for (int k = 1; k <= 27; ++k) {
    EXPECT_EQ(ScaledDistance(Decode(tw::PowerOfTen(k)), k), Big{}) << "10^" << k;
  }
  EXPECT_EQ(tw::PowerOfTen(155), tw::g_powersOfTen[0]);
  EXPECT_EQ(tw::PowerOfTen(-143), tw::g_powersOfTen[298]);
}

}  // namespace
