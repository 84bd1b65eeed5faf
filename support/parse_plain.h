// What the number reader shares with its plain decimal fast path
// (parse_plain.cpp): the scan classes, the bounds of the scaling table, the
// pending register write, and the stores of integer readings. The fast path
// and ReadNumber's entry are compiled to use the general registers only, so
// that a plain decimal is read without saving and restoring the caller's
// vector registers; the general reader (parse.cpp) runs between a save and a
// restore of them.
#pragma once

#include <cstdint>

#include "support/parse.h"

namespace tw::parse_detail {

// Scan classes (the first classification table); characters not listed are
// errors.
enum ScanClass : std::uint8_t {
  kScanError = 0,
  kScanEnd,
  kScanPoint,
  kScanPart,
  kScanHexPrefix,
  kScanHexSuffix,
  kScanBinarySuffix,
  kScanB,  // base-2 suffix before a blank, else part of the number
  kScanD,  // decimal suffix before ")" or below, else part of the number
  kScanE,  // exponent mark
  kScanSign,
  kScanParenthesis,
};

extern std::uint8_t g_scanClass[256];
extern bool g_tablesReady;  // both classification tables and the powers of ten

// Decimal powers the readers scale by, and the cap of a written exponent.
constexpr int kHighestScale = 141;
constexpr int kLowestScale = -143;
constexpr int kExponentCap = 100000;

// A value for one of the caller's vector registers, written last.
struct PendingRegister {
  int number;  // -1: none
  std::uint64_t bits;
};

bool IsRegisterKind(std::int32_t kind);
bool DestinationUsable(std::uintptr_t destination, std::int32_t kind);

// Stores an integer reading in an integer destination (kinds 0, 5, 6, 7).
bool StoreInteger(std::int64_t integer, std::uintptr_t destination, std::int32_t kind,
                  std::int32_t* value, PendingRegister* pending);

// The general reader: every text and kind, the tables built on first use.
// It may use the vector registers.
NumberRead ReadNumberInto(StringArg text, std::uintptr_t destination, std::int32_t kind,
                          PendingRegister* pending);

}  // namespace tw::parse_detail
