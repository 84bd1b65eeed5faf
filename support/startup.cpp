// Library start-up and numeric tables: SSE2 check, predefined texts, program
// folder, bit-count table, x87 control-word switch and powers of ten.
#include "support/startup.h"

#include "compat/win32.h"

#include <cpuid.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "trace/kernels.h"
#include "trace/msgbox.h"

namespace tw {

std::uint8_t g_bitCount[256];
std::uint16_t g_fpuControl[2];
long double g_powersOfTen[kPowersOfTenCount];

namespace {

#ifdef _WIN32
constexpr char kFolderSeparator = '\\';
#else
constexpr char kFolderSeparator = '/';
#endif
constexpr DWORD kPathCapacity = 260;  // MAX_PATH

TextPair g_predefinedTexts[kPredefinedTextCount];
char g_programFolder[kPathCapacity];
bool g_initialised = false;
bool g_pretendNoSse2 = false;

// Exponents whose entry is one unit in the last place above the nearest value.
constexpr int kRaisedExponents[] = {-137, -134, -119, -91, -89, -88, -84, -43, -42, -41, -37,
                                    -27,  -23,  -22,  -3,  -2,  43,  52,  84,  85,  94,  101,
                                    111,  115,  118,  136, 143, 144, 145, 148, 152};

bool ProcessorHasSse2() {
  if (g_pretendNoSse2) return false;
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return false;
  return (edx & (1u << 26)) != 0;
}

TextPair PairOf(const char* text) {
  return {reinterpret_cast<std::uintptr_t>(text), static_cast<std::int32_t>(std::strlen(text))};
}

// The program's own file name cut after its last folder separator. A failed
// query or a name without separator gives the empty text, so that names
// joined to it stay relative to the current folder.
std::int32_t FillProgramFolder() {
  const DWORD length = GetModuleFileNameA(nullptr, g_programFolder, kPathCapacity);
  if (length == 0 || length >= kPathCapacity) {
    g_programFolder[0] = '\0';
    return 0;
  }
  for (std::int32_t i = static_cast<std::int32_t>(length) - 2; i >= 0; --i) {
    if (g_programFolder[i] == kFolderSeparator) {
      g_programFolder[i + 1] = '\0';
      return i + 1;
    }
  }
  g_programFolder[0] = '\0';
  return 0;
}

void FillBitCounts() {
  for (int b = 0; b < 256; ++b) {
    int bits = 0;
    for (int v = b; v != 0; v >>= 1) bits += v & 1;
    g_bitCount[b] = static_cast<std::uint8_t>(bits);
  }
}

void ResetFpu() {
  __asm__ volatile("fninit" ::
                       : "memory", "st", "st(1)", "st(2)", "st(3)", "st(4)", "st(5)", "st(6)",
                         "st(7)");
}

void LoadFpuControlWord(std::uint16_t word) {
  __asm__ volatile("fldcw %0" ::"m"(word) : "memory");
}

bool IsRaisedExponent(int exponent) {
  for (int raised : kRaisedExponents) {
    if (raised == exponent) return true;
  }
  return false;
}

// The extended value nearest to 10^exponent: the C library's decimal reading
// rounds correctly to nearest (the unit was just re-initialised).
long double NearestPowerOfTen(int exponent) {
  char text[16];
  std::snprintf(text, sizeof text, "1e%d", exponent);
  return std::strtold(text, nullptr);
}

}  // namespace

void LibraryInit() {
  if (!ProcessorHasSse2()) {
    ShowMessageBox("Sorry, Tarnwick needs SSE2", nullptr, MB_OK);
    ExitProcess(static_cast<UINT>(-99));
  }
  // The vector kernels of every family, once per process (the trace
  // facility's text lengths may have chosen them already).
  ChooseKernels();
  g_predefinedTexts[kTextNone] = {0, 0};
  g_predefinedTexts[kTextCrLf] = PairOf("\r\n");
  g_predefinedTexts[kTextTab] = PairOf("\t");
  g_predefinedTexts[kTextSpace] = PairOf(" ");
  g_predefinedTexts[kTextTwoSpaces] = PairOf("  ");
  g_predefinedTexts[kTextFourSpaces] = PairOf("    ");
  const std::int32_t folderLength = FillProgramFolder();
  g_predefinedTexts[kTextProgramFolder] = {reinterpret_cast<std::uintptr_t>(g_programFolder),
                                           folderLength};
  g_predefinedTexts[kTextX] = PairOf("X");
  FillBitCounts();
  g_initialised = true;
}

void EnsureLibraryInit() {
  if (!g_initialised) LibraryInit();
}

TextPair PredefinedText(int code) {
  EnsureLibraryInit();
  if (code < 0 || code >= kPredefinedTextCount) return {0, 0};
  return g_predefinedTexts[code];
}

std::uint16_t FpuControlWord() {
  std::uint16_t word = 0;
  __asm__ volatile("fnstcw %0" : "=m"(word)::"memory");
  return word;
}

void SetFpuControl(std::uint32_t mode) {
  if (mode == 0) {
    LoadFpuControlWord(g_fpuControl[0]);
    return;
  }
  g_fpuControl[0] = FpuControlWord();
  g_fpuControl[1] = static_cast<std::uint16_t>((g_fpuControl[0] & 0x00FF) | ((mode & 0xFF) << 8));
  LoadFpuControlWord(g_fpuControl[1]);
}

void BuildPowersOfTen() {
  ResetFpu();
  // The last entry first, so that the table reads as built only when whole.
  for (int i = kPowersOfTenCount - 1; i >= 0; --i) {
    const int exponent = kPowersOfTenHighest - i;
    long double value = NearestPowerOfTen(exponent);
    if (IsRaisedExponent(exponent)) value = std::nextafterl(value, HUGE_VALL);
    g_powersOfTen[i] = value;
  }
  ResetFpu();
}

bool PowersOfTenBuilt() {
  std::uint32_t firstWord = 0;
  std::memcpy(&firstWord, &g_powersOfTen[0], sizeof firstWord);
  return firstWord != 0;
}

long double PowerOfTen(int exponent) {
  if (!PowersOfTenBuilt()) BuildPowersOfTen();
  if (exponent > kPowersOfTenHighest || exponent < kPowersOfTenLowest) return 0.0L;
  return g_powersOfTen[kPowersOfTenHighest - exponent];
}

namespace testing {
void PretendNoSse2() {
  g_pretendNoSse2 = true;
}
}  // namespace testing

}  // namespace tw
