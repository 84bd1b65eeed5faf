// Loading a whole text into a string array, one element per line (Recall),
// and writing a string array to a file, each element followed by CR LF
// (Store). A load reads the text once into one heap block, turns the line ends
// into zero bytes in place and lets every element borrow its line from that
// block. See docs/arrays.md.
#pragma once

#include <cstdint>

#include "arrays.h"

namespace tw {

// Source of Recall: a file slot 0 to 10 (read from its current position), the
// address of a file name, or kRecallText with the text's address as the third
// value.
constexpr std::uintptr_t kRecallText = 127;
inline std::uintptr_t RecallName(const char* name) {
  return reinterpret_cast<std::uintptr_t>(name);
}

// Options of Recall: 0 default; kRecallLineFeeds splits at every line feed
// from the start; kShapeTabFields (-120) or anything below (kShapeCommaFields)
// becomes the new array's shape; a value above 127 is the address of a 32-bit
// variable that receives the line count (RecallCountTo).
constexpr std::intptr_t kRecallDefault = 0;
constexpr std::intptr_t kRecallLineFeeds = 120;
inline std::intptr_t RecallCountTo(std::int32_t* variable) {
  return reinterpret_cast<std::intptr_t>(variable);
}

// The caller value that a load from a text in memory leaves in the header.
constexpr std::intptr_t kRecallTextMarker = 127;

// Number of lines and number of text bytes loaded (after a UTF-16 conversion,
// the UTF-8 bytes).
struct RecallResult {
  std::int32_t lines;
  std::int32_t bytes;
};

// Loads the text of source into string array destination (1 to 19), one
// element per line, every element borrowing its line from the array's text
// block. Lines end at CR LF; with kRecallLineFeeds, or when the text's first
// five line feeds come before any CR LF, at every line feed. A text that
// begins with FF FE is UTF-16 and is converted to UTF-8 first (its first line
// then begins with EF BB BF). third: for kRecallText the text's address, else
// the caller value kept in the new array's header. An empty text gives 0
// lines. Fatal errors: 7 for a destination outside 1 to 19; 5 ("Could not
// open ... for Recall") with the name when the file cannot be opened, or with
// "file slot N" when the slot holds no open file; 1 when the text does not
// fit in memory (or passes 2^31 - 64 bytes). Keeps the caller's xmm0 and xmm1.
RecallResult Recall(std::uintptr_t source, std::int32_t destination, std::uintptr_t third,
                    std::intptr_t options);

// Writes elements of string array number to destination, each followed by CR
// LF, and returns how many were written. destination: a file slot 0 to 10
// (it stays open, writing goes on at its position), or the address of a file
// name (StoreName): a new file is written beside it and then takes its place,
// so an existing file stays as it was until the new one is complete. count: 0
// or more writes elements 0 to count - 1; negative writes every element up to
// the last one whose length is not 0. The temporary text area serves as the
// output buffer (temporary results held there are gone). Fatal errors: 7 for
// an array that is not a string array; 6 for a count beyond its elements
// (nothing written); 4 ("Could not open ... for Store") with the name or
// "file slot N" when the file cannot be created, written or put in place.
std::int32_t Store(std::uintptr_t destination, std::int32_t number, std::int32_t count);
inline std::uintptr_t StoreName(const char* name) {
  return reinterpret_cast<std::uintptr_t>(name);
}

// ---- The pieces of a load (for programs with a text already in memory, tests
// and fuzzing) --------------------------------------------------------------------

// Bytes that a load buffer holds after its text: zero, so that the 32-byte
// scan steps may run past the text's end.
constexpr std::uint32_t kLoadPadding = 32;
// The largest text a load takes.
constexpr std::uint32_t kLoadLimit = 0x7FFFFFFFu - 64;

// One heap block with room for size bytes of text at a 16-byte boundary and
// kLoadPadding zero bytes after them. block is the heap block, text the
// usable start (block, or 8 bytes into it when the block is not 16-byte
// aligned). Fatal error 1 when the heap refuses it or size passes kLoadLimit.
struct LoadBuffer {
  void* block;
  char* text;
};
LoadBuffer LoadBufferAllocate(std::uint32_t size);

// True when the text's first five line feeds all come before its first CR LF
// (a line feed as the very first byte counts as one without CR).
bool LoadPicksLineFeeds(const char* text, std::uint32_t size);

// Number of line ends (every line feed, or only those after a CR) in
// text[0, size). Reads up to 31 bytes past the end: the text must be followed
// by kLoadPadding zero bytes.
std::uint32_t CountLineEnds(const char* text, std::uint32_t size, bool lineFeeds);

// Number of lines the text yields: its line ends, plus one for bytes after the
// last line end.
std::uint32_t CountLines(const char* text, std::uint32_t size, bool lineFeeds);

// Splits text[0, size) in place: every line end becomes a zero byte (the CR of
// a CR LF, or the line feed) and elements[k] borrows line k (its address, and
// minus its length). elements must have room for CountLines elements; the
// text must be followed by kLoadPadding zero bytes. Returns the line count.
std::uint32_t SplitLines(char* text, std::uint32_t size, bool lineFeeds,
                         ArrayElementEntry* elements);

// True when text begins with the UTF-16 byte-order mark FF FE.
bool IsUtf16Text(const char* text, std::uint32_t size);

// Size in bytes of the UTF-8 form of size bytes of UTF-16 (little-endian),
// mark included: an unpaired surrogate, and a last odd byte, each become
// U+FFFD (EF BF BD). Returns more than kLoadLimit for texts that would not fit.
std::uint64_t Utf8SizeOfUtf16(const char* text, std::uint32_t size);

// Writes the UTF-8 form (Utf8SizeOfUtf16 bytes) at out; returns its end.
char* Utf16ToUtf8(const char* text, std::uint32_t size, char* out);

// For tests: called in a load between the size query and the read of a file,
// with the file's handle (nullptr: none).
using RecallReadHook = void (*)(HANDLE file);
void SetRecallReadHook(RecallReadHook hook);

}  // namespace tw
