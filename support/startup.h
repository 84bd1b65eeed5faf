// Library start-up and numeric tables: the lazy set-up of the library's
// process-wide state (SSE2 check, predefined texts, program directory,
// bit-count table), the x87 control-word switch and the powers-of-ten table.
#pragma once

#include <cstdint>

namespace tw {

// An (address, length) pair of the library's text table. The address is
// pointer-sized; the length is in bytes.
struct TextPair {
  std::uintptr_t address;
  std::int32_t length;
};
#if defined(__i386__)
static_assert(sizeof(TextPair) == 8, "a text pair is two 32-bit words");
#endif

// Codes of the predefined text table (a string argument below 8 names one).
constexpr int kTextNone = 0;           // address 0, length 0
constexpr int kTextCrLf = 1;           // "\r\n"
constexpr int kTextTab = 2;            // "\t"
constexpr int kTextSpace = 3;          // " "
constexpr int kTextTwoSpaces = 4;      // "  "
constexpr int kTextFourSpaces = 5;     // "    "
constexpr int kTextProgramFolder = 6;  // the program's folder, ending in its separator
constexpr int kTextX = 7;              // "X"
constexpr int kPredefinedTextCount = 8;

// Sets up the predefined texts, the program folder text and the bit-count
// table after checking for SSE2 (without it: the box "Sorry, Tarnwick needs
// SSE2" and exit code -99), and chooses the vector kernels (trace/kernels.h)
// unless they are chosen already. May run any number of times with the same
// result.
void LibraryInit();

// Runs LibraryInit once, the first time it is called.
void EnsureLibraryInit();

// Entry code (0 to 7) of the predefined text table; LibraryInit fills it.
TextPair PredefinedText(int code);

// Number of set bits in each byte value, filled by LibraryInit.
extern std::uint8_t g_bitCount[256];

// x87 control word switch. Mode 0 loads back the word saved by the last
// switch; any other mode saves the current word and loads it with its high
// byte (precision and rounding) replaced by mode. Mode 7: 64-bit significand,
// rounding down; mode 3: 64-bit significand, rounding to nearest.
void SetFpuControl(std::uint32_t mode);

// The two words of the switch: the word before the last switch, and the word
// the switch loaded.
extern std::uint16_t g_fpuControl[2];

// Reads the current x87 control word (a helper for callers and tests).
std::uint16_t FpuControlWord();

// Powers of ten for the number routines: entry i holds 10^(155 - i) as an
// 80-bit extended value (long double), i from 0 to 298, so 10^155 down to
// 10^-143. Each entry is the extended value nearest to its power, except for
// 31 exponents whose entry is the next value above it (the number routines'
// rounding relies on that). Not built while the first entry is 0.
constexpr int kPowersOfTenCount = 299;
constexpr int kPowersOfTenHighest = 155;
constexpr int kPowersOfTenLowest = -143;
extern long double g_powersOfTen[kPowersOfTenCount];

// Builds the table; leaves the x87 unit re-initialised (empty register stack,
// default control word).
void BuildPowersOfTen();

// True once BuildPowersOfTen has filled the table.
bool PowersOfTenBuilt();

// The table's entry for 10^exponent (155 down to -143); builds the table first
// when needed.
long double PowerOfTen(int exponent);

namespace testing {
// Makes the next LibraryInit runs see a processor without SSE2 (for the test
// of the refusal box and exit code).
void PretendNoSse2();
}  // namespace testing

}  // namespace tw
