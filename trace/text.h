// Text routines shared by the trace facility and the support library:
// decimal rendering, text lengths, counted copies and console output.
#pragma once

#include <cstdint>

namespace tw {

// Writes the signed decimal text of value, NUL-terminated, at out (at least
// 12 bytes): no leading zeros, no plus sign, no separators.
void DecimalText(std::int32_t value, char* out);

// The same for a 64-bit value; out needs at least 21 bytes.
void DecimalText64(std::int64_t value, char* out);

// Writes the digits low hexadecimal digits of value (upper case, most
// significant first) and a NUL at out (digits + 1 bytes).
void HexDigits(std::uint64_t value, int digits, char* out);

// An address as hexadecimal digits, all of them (8 on 32-bit targets, 16 on
// 64-bit ones), at out (at least 17 bytes).
void AddressDigits(const void* address, char* out);

// Number of bytes before the first NUL, found 16 bytes per step with SSE2
// compares. Reads only whole 16-byte-aligned blocks that hold bytes of the
// text, so it never touches a page the text does not reach.
std::uint32_t TextLengthSse2(const char* text);

// Number of bytes before the first NUL, found four bytes per step with the
// word test (word - 0x01010101) & ~word & 0x80808080 on aligned words.
std::uint32_t TextLength(const char* text);

// Copies count bytes from source to destination (four at a step, the last one
// to three singly) and returns destination + count. A negative count means
// TextLengthSse2(source) + count + 2 bytes: -1 copies the whole text with its
// NUL. Source and destination must not overlap.
char* TextCopy(char* destination, const char* source, std::int32_t count);

// Writes a NUL-terminated text to standard output (the standard output handle
// is taken anew on every call) and returns the number of bytes written.
std::uint32_t ConsoleWrite(const char* text);

}  // namespace tw
