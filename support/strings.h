// String arguments, the result ring, deferred string operations and the string
// functions of the library (substitution, zero buffers, case conversion,
// substrings, trimming, hexadecimal and binary text).
//
// String argument: a pointer-sized value. Above 127 it is the address of a
// NUL-terminated text; 127 names the newest temporary result; smaller values
// name an entry of the library's (address, length) table: 0 to 7 the
// predefined texts (support/startup.h), 8 to 10 the empty text, 11 to 25 the
// result slots 1 to 15. See docs/strings.md.
#pragma once

#include <cstddef>
#include <cstdint>

#include "startup.h"
#include "temptext.h"

namespace tw {

using StringArg = std::uintptr_t;

constexpr StringArg kNewestResult = 127;
constexpr StringArg kFirstResultCode = 11;  // result slot 1; slot n is code 10 + n
constexpr int kResultSlotCount = 15;

// A text as a string argument.
inline StringArg Arg(const void* text) {
  return reinterpret_cast<StringArg>(text);
}

// One slot of the result ring (ResultSlotRecord, an (address, length) pair of
// support/startup.h): an entry of the library's table (codes 11 to 25) holding
// the text's address and signed length. The length is negative when the text
// is borrowed from a string array; readers use its absolute value.

// The origin of a ring slot: the address of the string-array element entry the
// slot's text was read from, 0 when none. Routines of this family that fill a
// slot set its origin to 0; the array family sets it after filling a slot.
// When the array's elements are released or moved the origin becomes 0.
std::uintptr_t& ResultOrigin(const ResultSlotRecord* slot);

// Sets the origin of a ring slot (as ResultOrigin(slot) = origin does, but
// the ring keeps the range its origins lie in, so releases elsewhere pass
// them quickly).
void SetResultOrigin(const ResultSlotRecord* slot, std::uintptr_t origin);

// The origin and the field mark of a slot, read without the reference.
std::uintptr_t OriginOf(const ResultSlotRecord* slot);
std::uint32_t FieldSerialOf(const ResultSlotRecord* slot);

// The field mark of a ring slot: not 0 when the slot holds a field read from
// an element (the array family's count of field reads at that moment), so
// that an assignment to it goes to that field; 0 otherwise.
std::uint32_t& ResultFieldSerial(const ResultSlotRecord* slot);

// Whether the result in slot reads any byte of [from, to): its text, or for a
// deferred result its record and the texts the record was made from.
bool ResultReads(const ResultSlotRecord* slot, const void* from, const void* to);

// Deferred records are runs of pointer-sized words (see below).
using DeferredWord = std::intptr_t;
#if defined(__i386__)
static_assert(sizeof(DeferredWord) == 4, "deferred records are 32-bit words");
#endif

// A resolved string argument: address and length in bytes (never negative).
struct TextView {
  const char* text;
  std::int32_t length;
};

// Resolves a string argument to (address, length). An address takes its
// NUL-terminated length; 127 the newest result; table codes their entry.
// Address 0 (code 0) and codes with no entry (26 to 126) read as the shared
// empty text with length 0. A deferred result gives the text it produces: its
// record is carried out into the temporary text area and its slot then holds
// that text (fatal error 9 when the text and its NUL would pass 160,000
// bytes).
TextView ResolveString(StringArg argument);

// Selects a slot of the result ring and makes it the current one. selector 0:
// the current slot; -1 (all bits set): one step back; a value equal to the
// current slot's address: the current slot; anything else: one step forward
// (15 wraps to 1). Before the first result the library is set up and every
// selector gives slot 1.
ResultSlotRecord* ResultSlot(std::uintptr_t selector);
constexpr std::uintptr_t kSlotCurrent = 0;
constexpr std::uintptr_t kSlotNext = 1;
constexpr std::uintptr_t kSlotBack = ~std::uintptr_t{0};

// The number (1 to 15) of the newest result's slot; 0 before the first result.
int CurrentResultSlot();

// Slot n (1 to 15) of the ring, without changing the current slot.
ResultSlotRecord* ResultSlotAt(int n);

// Puts (text, length) into a ring slot, sets its origin to 0 and marks it as
// holding a plain text. Every writer of a slot goes through here.
void FillResultSlot(ResultSlotRecord* slot, const void* text, std::int32_t length);

// ResultSlot(kSlotNext) and FillResultSlot in one step, for a text of length
// bytes just finished in the temporary text area (its NUL included there):
// the way of every new temporary result.
ResultSlotRecord* NewAreaResult(const char* text, std::int32_t length);

// ResultSlot(kSlotNext), FillResultSlot and SetResultOrigin in one step, for
// a text read from the string-array element entry at origin: the way of
// every element read.
ResultSlotRecord* NewElementResult(const char* text, std::int32_t length, std::uintptr_t origin);

// A zero-terminated heap copy of the newest result (a deferred result is
// carried out into it). The copy stays valid until seven more copies have
// been made; then it is released.
char* ResultPersist();

// ---- Deferred records ----------------------------------------------------------
// A deferred record is a run of pointer-sized words in the temporary text area:
// the marker -124, an operation code, then the operation's fields. The result
// that points at it carries the number of bytes it will produce as its length
// (for New$, one more). A result is deferred only when the library committed
// it as a record (DeferredCommit); the ring keeps a copy of the record's words
// beside the slot and carries the record out from that copy, never from the
// bytes in the area. Refilling the slot forgets it, and so does a release or
// overwrite of the record or of a text it was made from (the result then
// reads as the empty text). A text whose bytes happen to begin with the marker
// is a text.
constexpr DeferredWord kDeferredMarker = -124;
constexpr DeferredWord kDeferredSubstitute = -124;  // replacement, pattern length, source,
                                                    // match addresses..., source end, 0
constexpr DeferredWord kDeferredFileRead = -123;    // file name address, size in bytes
constexpr DeferredWord kDeferredZeroBuffer = -122;  // size + 1
constexpr DeferredWord kDeferredCase = -121;        // source, length in bytes, flags

// The deferred record the library committed in slot, or nullptr when the slot
// holds a plain text (or is not a slot of the ring).
const void* ResultDeferredRecord(const ResultSlotRecord* slot);

// Carries out the record at destination; returns the end of the produced
// bytes (no NUL is added). Only a record that a slot of the ring holds now
// (ResultDeferredRecord) produces anything.
char* DeferredMaterialise(const void* record, char* destination);

// The same, writing at most capacity bytes: a record whose texts have changed
// since it was made (or were overwritten in the area) cannot write past a
// destination of the result's length.
char* DeferredMaterialiseWithin(const void* record, char* destination, std::size_t capacity);

// The number of bytes the result in slot reads as: its length's absolute
// value, or for a deferred result the length of the text it produces.
std::int32_t ResultTextLength(const ResultSlotRecord* slot);

// The deferred result in slot carried out at destination, at most capacity
// bytes; returns the end of the produced bytes. A slot that holds no record
// (any more) produces nothing.
char* MaterialiseResult(const ResultSlotRecord* slot, char* destination, std::size_t capacity);

// The text of bytes bytes at text, which a record of recordBytes bytes about
// to be written at the free position will refer to. When the record would
// overwrite it, the text is first copied into the area (with a NUL after it)
// and the copy's address is returned; otherwise text itself.
const char* KeepSourceApart(const char* text, std::uint32_t bytes, std::uint32_t recordBytes);

// Operations carried out by other families (the file read, -123) register here:
// fields points at the first word after the operation code. The producer of
// such records registers its handler before writing its first record.
using DeferredHandler = char* (*)(const DeferredWord* fields, char* destination);
void SetDeferredHandler(DeferredWord code, DeferredHandler handler);

// Writes a record of the given words at the free position and commits it as a
// new temporary result whose length is resultLength, marked as deferred.
ResultSlotRecord* DeferredCommit(const DeferredWord* words, int count, std::int32_t resultLength);

// ---- String functions ------------------------------------------------------------

// Every match of pattern in source, searched left to right without overlap,
// replaced by replacement, as a deferred result. options: low byte the
// TextFind mode word (case folding, whole words; see support/search.h), second
// byte the maximum number of replacements (0: no limit). An empty pattern
// matches nothing. A record that would pass 639,900 bytes into the area, or a
// result longer than a temporary text may be (159,999 bytes), raises fatal
// error 9 before anything is written. When the record would overwrite one of
// the texts it refers to, the text is produced at once as a plain temporary
// result instead.
ResultSlotRecord* TextSubstitute(StringArg source, StringArg pattern, StringArg replacement,
                                 std::uint32_t options);

// A buffer of size zero bytes as a deferred result of length size + 1 (New$).
// A size of 0 or less raises fatal error 9.
ResultSlotRecord* NewZeroText(std::int32_t size);

// Case conversion as a deferred result. flags bit 0: upper case (else lower);
// bit 1: the source is UTF-16. Source 127 takes the place of the newest result
// (a deferred one is carried out first, and the record refers to its text).
constexpr std::uint32_t kCaseUpper = 1;
constexpr std::uint32_t kCaseWide = 2;
ResultSlotRecord* TextCase(StringArg source, std::uint32_t flags);

// count bytes of source from position (1-based; negative: the last count
// bytes; 0: empty), as a view into the source. A negative count takes all
// remaining bytes. A count with top byte 0x80 (kMidWide | units) counts UTF-16
// units of a UTF-16 source. Part of a deferred zero buffer is a zero buffer
// of its own (a deferred result); other deferred sources are carried out
// first.
constexpr std::uint32_t kMidWide = 0x80000000u;
ResultSlotRecord* TextMid(StringArg source, std::int32_t count, std::int32_t position);

// The source without bytes of value 32 or less at its start (mode bit 0) and
// end (bit 1), copied into the temporary text area in place of the newest
// result. A zero byte met while trimming makes the result empty.
constexpr std::uint32_t kTrimLeft = 1;
constexpr std::uint32_t kTrimRight = 2;
constexpr std::uint32_t kTrimBoth = 3;
ResultSlotRecord* TextTrim(StringArg source, std::uint32_t mode);

// The n low bytes (1 to 4; others are taken as 4) of value as 2n upper-case
// hexadecimal digits, in a 16-byte process-wide area (overwritten by the next
// call).
const char* HexText(std::uint32_t value, int bytes);

// The 32 bits of value, most significant first, as characters 0 and 1 with a
// NUL, in buffer (33 bytes); returns buffer.
char* BinaryText(std::uint32_t value, char* buffer);

}  // namespace tw
