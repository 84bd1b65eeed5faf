// Number-to-text formatting: FormatNumber evaluates one to five operands of
// mixed kinds in 80-bit extended precision and renders the result, by default
// with a fixed number of significant digits or through a format string, as a
// new temporary result. Also WriteDigits, and the readers and writers of the
// low halves of the SSE registers xmm0 to xmm7. See docs/numbers.md.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "strings.h"

namespace tw {

// ---- Format selector -------------------------------------------------------------
// 0: floating rendering; 1: signed integer; -1: unsigned integer; 127: the
// format string is the newest temporary result; 2 to 126: the format string
// is that entry of the library's text table; any other value: the address of
// a NUL-terminated format string.
constexpr StringArg kFormatFloating = 0;
constexpr StringArg kFormatSigned = 1;
constexpr StringArg kFormatUnsigned = ~StringArg{0};
constexpr StringArg kFormatNewestResult = kNewestResult;

// ---- Operand descriptor ------------------------------------------------------------
// Bit 31 widens the finished text to 16-bit characters, bit 30 negates the
// first operand. Bits 0 to 29 hold up to five 6-bit groups, group k for
// operand k: bits 0-2 the operation that combines it with the running value,
// bits 3-5 its kind. Processing stops after the highest non-zero group, so a
// descriptor of 0 means one 32-bit integer operand.
constexpr std::uint32_t kWideResult = 0x80000000u;
constexpr std::uint32_t kNegateFirst = 0x40000000u;
constexpr int kMaxNumberOperands = 5;

enum NumberOperation : std::uint32_t {
  kOpFirst = 0,  // the operand becomes the running value (also 5 to 7)
  kOpAdd = 1,
  kOpSubtract = 2,
  kOpMultiply = 3,
  kOpDivide = 4,
};

enum NumberKind : std::uint32_t {
  kKindInt32 = 0,         // the operand word is a signed 32-bit integer
  kKindFloat = 1,         // the operand word holds the bits of a 32-bit float
  kKindDoublePtr = 2,     // address of a 64-bit float
  kKindExtendedPtr = 3,   // address of an 80-bit extended float
  kKindXmmDouble = 4,     // register selector 20 + N: the 64-bit float in xmmN
  kKindXmmInt64 = 5,      // register selector 20 + N: the signed 64-bit integer in xmmN
  kKindInt64Ptr = 6,      // address of a signed 64-bit integer
  kKindXmmInt64Also = 7,  // as 5
};

// Register selector of xmmN (N from 0 to 7).
constexpr std::uintptr_t kXmmSelectorBase = 20;
constexpr std::uintptr_t XmmSelector(int n) {
  return kXmmSelectorBase + static_cast<std::uintptr_t>(n);
}

// The descriptor group of operand k (0 to 4).
constexpr std::uint32_t OperandGroup(int k, NumberOperation operation, NumberKind kind) {
  return ((static_cast<std::uint32_t>(kind) << 3) | static_cast<std::uint32_t>(operation))
         << (6 * k);
}

// One operand word: an integer, the bits of a float, an address or a register
// selector, as the descriptor's kind for it says.
struct NumberOperand {
  std::uintptr_t word;
};
#if defined(__i386__)
static_assert(sizeof(NumberOperand) == 4, "an operand is one 32-bit word");
#endif

// Operand words of each kind: a 32-bit integer, a float's bits, the address
// of a double, an extended value or a 64-bit integer, a register selector.
inline NumberOperand Int32Operand(std::int32_t value) {
  return {static_cast<std::uintptr_t>(static_cast<std::uint32_t>(value))};
}
NumberOperand FloatOperand(float value);
inline NumberOperand DoubleOperand(const double* value) {
  return {reinterpret_cast<std::uintptr_t>(value)};
}
inline NumberOperand ExtendedOperand(const long double* value) {
  return {reinterpret_cast<std::uintptr_t>(value)};
}
inline NumberOperand Int64Operand(const std::int64_t* value) {
  return {reinterpret_cast<std::uintptr_t>(value)};
}
inline NumberOperand XmmOperand(int n) {
  return {XmmSelector(n)};
}

// Formats the value of the operands (operands[k] is operand k, combined in
// that order) and returns the text, registered as the newest temporary
// result (its length in bytes, terminator excluded). A wide result (bit 31)
// ends with a 16-bit zero. Operands that the descriptor names beyond the
// list are not evaluated; a null address reads as 0, and so does a register
// selector outside 20 to 27. The x87 control word is as before the call.
// The register kinds read xmm0 to xmm7 as they were when this routine was
// entered (so only callers at machine level can fill them).
char* FormatNumberList(StringArg format, std::uint32_t descriptor, const NumberOperand* operands,
                       int count);

// The same with the operands listed in place.
inline char* FormatNumber(StringArg format, std::uint32_t descriptor,
                          std::initializer_list<NumberOperand> operands) {
  return FormatNumberList(format, descriptor, operands.begin(), static_cast<int>(operands.size()));
}

// Shorthands for one operand: an extended value at the default precision, or
// through a format string (or selector).
char* FormatExtended(StringArg format, long double value);

// The default precision (significant digits of floating rendering without a
// precision in the format string): initially 7. Values are kept within 1 to 19.
void SetDefaultPrecision(int digits);
int DefaultPrecision();

// Writes the decimal digits of value from right to left, the last at
// rightmost; when the write position reaches point, writes "." there first.
// Writes no leading zeros (0 writes one "0"). Returns the position just
// before the leftmost character written.
char* WriteDigits(std::uint64_t value, char* rightmost, const char* point);

// The low 64 bits of xmmN, and the same loaded into xmmN (N from 0 to 7;
// other numbers do nothing and read 0). Inline-asm helpers: the value lives in
// the register only until the compiler next uses it.
std::uint64_t ReadXmmLow(int n);
void WriteXmmLow(int n, const std::uint64_t& value);

// The low halves of xmm0 to xmm7 into slots[0] to slots[7].
void SaveXmmLow(std::uint64_t* slots);

// All 128 bits of xmm0 to xmm7, saved and loaded back (so that a routine can
// leave the registers as its caller had them).
struct XmmBank {
  alignas(16) std::uint8_t bytes[8][16];
};
void SaveXmmBank(XmmBank* bank);
void LoadXmmBank(const XmmBank* bank);

}  // namespace tw
