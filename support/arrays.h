// String arrays, record arrays and the string-slot pool.
//
// Up to 20 arrays numbered 0 to 19 live in one table. A string array is a
// header (count, text block, caller value, shape) followed by its elements,
// each an (address, signed length) pair: a positive length owns a heap block,
// a negative one borrows text from the array's text block, 0 is empty. A
// record array is one heap block of fixed-size records. The string-slot pool
// registers heap blocks so that they can all be released at once.
// See docs/arrays.md.
#pragma once

#include "../compat/win32.h"

#include <cstddef>
#include <cstdint>

namespace tw {

// ---- The array table -----------------------------------------------------------

constexpr int kArrayCount = 20;  // array numbers 0 to 19; 0 is the library's scratch array
constexpr int kEveryArray = -1;  // ArrayErase(-1) erases all 20

// Table entry values besides addresses.
constexpr std::uintptr_t kArrayNeverCreated = 0;
constexpr std::uintptr_t kArrayErased = ~std::uintptr_t{0};  // the value -1

// Shape values of a string array's header.
constexpr std::int32_t kShapePlain = 0;           // one-dimensional
                                                  // positive: row width of a two-dimensional array
constexpr std::int32_t kShapeTabFields = -120;    // elements read as tab-separated fields
constexpr std::int32_t kShapeCommaFields = -121;  // (and anything below) comma-separated fields

// Two-part indices: bit 31 set, first index in bits 0 to 22, second index
// (0 to 255) in bits 23 to 30.
constexpr std::uint32_t kTwoPart = 0x80000000u;
constexpr std::uint32_t kFirstIndexMask = 0x007FFFFFu;
constexpr int kSecondIndexShift = 23;
constexpr std::uint32_t kSecondIndexMax = 255;
constexpr std::uint32_t TwoPartIndex(std::uint32_t first, std::uint32_t second) {
  return kTwoPart | ((second & kSecondIndexMax) << kSecondIndexShift) | (first & kFirstIndexMask);
}

// One element: its text address and signed length (> 0 owned heap block,
// < 0 borrowed from the text block, 0 empty with address 0 or the shared
// empty text). An owned text starts its heap block, which holds at least
// length + 1 bytes (the text and its zero).
struct ArrayElementEntry {
  std::uintptr_t address;
  std::int32_t length;
};

// The header of a string array; count elements follow it directly.
struct ArrayHeader {
  std::int32_t count;         // number of elements; -1 once erased
  std::uintptr_t textBlock;   // heap block of the borrowed texts, 0 when none;
                              // odd: the heap block begins 9 bytes below
  std::intptr_t callerValue;  // given at creation, kept; the library never reads it
  std::int32_t shape;         // kShapePlain, a row width, kShapeTabFields or below
};

#if defined(__i386__)
static_assert(sizeof(ArrayElementEntry) == 8, "an element is two 32-bit words");
static_assert(sizeof(ArrayHeader) == 16, "a header is four 32-bit words");
#endif
static_assert(sizeof(ArrayHeader) % alignof(ArrayElementEntry) == 0,
              "elements follow the header without a gap");

// The raw table entry of number: kArrayNeverCreated, kArrayErased, a header's
// address or (record arrays) the first record's address. 0 for numbers
// outside 0 to 19.
std::uintptr_t ArrayTableEntry(int number);

// The header of string array number, or nullptr when the number holds none
// (never created, erased, a record array or outside 0 to 19).
ArrayHeader* ArrayHeaderOf(int number);

// The first element of a header (the elements follow it).
inline ArrayElementEntry* ArrayElements(ArrayHeader* header) {
  return reinterpret_cast<ArrayElementEntry*>(header + 1);
}

// The stored text-block word for a heap block whose usable start is usable
// (the block itself, or 8 bytes into it for 16-byte alignment: then odd).
inline std::uintptr_t TextBlockWord(const void* heapBlock, const void* usable) {
  const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(usable);
  return usable == heapBlock ? start : start + 1;
}
// The heap block of a stored text-block word (9 bytes below an odd word).
inline void* TextBlockHeap(std::uintptr_t word) {
  return reinterpret_cast<void*>((word & 1) != 0 ? word - 9 : word);
}
// Where the texts of a stored text-block word begin.
inline char* TextBlockStart(std::uintptr_t word) {
  return reinterpret_cast<char*>(word & ~std::uintptr_t{1});
}

// ---- Creation and erasure -----------------------------------------------------

// Erases whatever number holds and creates a string array of zero-filled
// (empty) elements. highest: a plain highest index h (count h + 1; -1 gives
// an empty array), or a two-part value (TwoPartIndex(first, second): row
// width first + 1, count width x (second + 1), shape the width). Returns the
// new header. A number outside 0 to 19 raises fatal error 7; a plain highest
// index below -1 or a two-part first index of 0x7FFFFF (its width does not
// fit) raises fatal error 6; memory that cannot be had raises fatal error 1.
ArrayHeader* ArrayCreate(int number, std::uint32_t highest, std::intptr_t callerValue = 0);

// Erases array number (0 to 19), or all 20 with kEveryArray: the entry becomes
// kArrayErased, owned element texts, the text block and the header are
// released. Never-created and erased numbers, and numbers outside 0 to 19,
// are left alone. A record array held by the number is released as
// RecordArrayErase does (its entry then reads kArrayErased too).
void ArrayErase(int number);

// ---- Element access ---------------------------------------------------------------

// A text and its signed length (negative: borrowed from a text block).
struct ElementText {
  const char* text;
  std::int32_t length;
};

// The element at index of array number, as a new temporary result whose
// origin (ResultOrigin of support/strings.h) is the element entry. index is
// plain, or two-part: a two-dimensional array's (column, row), a field
// array's (element, field number). A field of a tab or comma array is copied
// into the field record and returned from there; a missing field is the empty
// text. Fatal error 7 for an array that is not a string array (never created,
// erased, record array, number outside 0 to 19); fatal error 6 for an index
// outside the array (also a column beyond the row width, and index bits 23
// to 30 without bit 31 on an array with a shape).
ElementText ArrayElement(int number, std::uint32_t index);

// The array number and plain index last reached by ArrayElement (also by one
// that then failed on the range). Insertion and deletion act there.
struct ArrayLastAccess {
  std::int32_t number;
  std::int32_t index;
};
ArrayLastAccess& LastArrayAccess();

// The last field extracted by ArrayElement. The assignment routine writes a
// new field value back into the element through it: the element text before
// fieldStart and after fieldStart + fieldLength stays.
constexpr int kFieldAreaSize = 3584;  // a longer field's copy is cut to 3,583 bytes and a zero
struct FieldRecord {
  ArrayElementEntry* elementEntry;  // the element the field was read from
  const char* elementText;          // its text address (the shared empty text for address 0)
  std::int32_t elementLength;       // its signed length
  const char* fieldStart;           // where the field starts inside the element text
  std::int32_t fieldLength;         // the field's length there (never cut); 0 when missing
  char fieldText[kFieldAreaSize];   // copy of the field (cut), zero-terminated
};
#if defined(__i386__)
static_assert(sizeof(FieldRecord) == 20 + kFieldAreaSize, "five 32-bit words and the area");
#endif
FieldRecord& ArrayFieldRecord();

// A number for the field the field record describes, raised whenever a read
// describes another field (another element, field number or element text).
// The result of each field read carries it (ResultFieldSerial of
// support/strings.h), so that an assignment can tell whether the field record
// still describes its field.
std::uint32_t FieldReadSerial();

// When the last field read asked for a field beyond the element's last one:
// the separators (a tab for a tab array, a comma otherwise) that an
// assignment adds after the element's text before the new value, so that the
// value becomes that field; separators is 0 otherwise. Taking the gap fills
// it: the field exists from then on.
struct FieldGap {
  int separators;
  char separator;
};
FieldGap TakeFieldGap();

// Selects field number fieldNumber (0 for the first) of text[0, length) by the
// rules of shape (kShapeTabFields, or below it for comma fields); the text
// ends early at a zero byte. Returns false when the text ends before the
// field. Used by ArrayElement; exposed for tests and fuzzing.
struct FieldSpan {
  const char* start;
  std::int32_t length;
};
bool SelectField(const char* text, std::int32_t length, std::int32_t shape, int fieldNumber,
                 FieldSpan* field);

// ---- Element texts ----------------------------------------------------------------

// Gives the element an owned copy of text[0, length) with three zeros after
// it, room for a later assignment of as long a text in place (length 0: the
// element becomes empty), releasing its previous owned text.
// The copy is made before the old text is released, so text may lie inside it.
void ElementAssign(ArrayElementEntry* entry, const char* text, std::int32_t length);

// Releases the element's owned text (only a positive length owns one) and
// makes it the empty text with length 0.
void ElementRelease(ArrayElementEntry* entry);

// ---- Insertion, deletion, exchange --------------------------------------------------

// At the last access (LastArrayAccess): n > 0 inserts n empty elements at its
// index (the elements from there move up); n < 0 deletes |n| elements from
// its index on (only those that exist), releasing their owned texts; n = 0
// empties the element there. A change that would leave no element changes
// nothing. Fatal error 6 when the last access names no string array or its
// index lies outside the array now, or when the count would pass 2^31 - 1;
// fatal error 1 when the header cannot be enlarged.
void ArrayInsertDelete(std::int32_t n);

// Exchanges the table entries of two arrays (fatal error 7 for a number
// outside 0 to 19).
void ArraySwap(int first, int second);

// ---- Record arrays ------------------------------------------------------------------

// The block of a record array: count and record size sit 8 and 4 bytes below
// the first record, whose address is the table entry.
struct RecordArrayHead {
  std::int32_t count;
  std::int32_t recordSize;
};
static_assert(sizeof(RecordArrayHead) == 8, "count and size are two 32-bit words");

// Erases what number holds and creates count = highest + 1 zero-filled
// records of recordSize bytes in one pooled block. Fatal error 7 for a number
// outside 0 to 19; fatal error 6 for a negative record size, a highest index
// below -1, or a block of more than 2^31 - 1 bytes.
void RecordArrayCreate(int number, std::int32_t recordSize, std::int32_t highest);

// Releases record array number (its pooled block) and sets the entry to 0. A
// string array held by the number is erased as ArrayErase does (the entry then
// reads 0); nothing happens for 0, -1 or a number outside 0 to 19.
void RecordArrayErase(int number);

// The head of record array number, or nullptr when the number holds none.
RecordArrayHead* RecordArrayHeadOf(int number);
// Record index of record array number (no range check).
void* RecordAt(int number, std::int32_t index);

// Copies record source over record destination of array number. A negative
// source -v writes records to a file instead: the file slot is v modulo 8,
// the number of records v / 8 (0: all from destination to the end), written
// from destination on with WriteFile to the slot's handle; a failed write is
// shown by CheckSystemCall. Fatal error 7 when number holds no record array;
// fatal error 6 for indices outside 0 to count - 1 or more records than follow
// destination.
void RecordCopy(std::int32_t source, std::int32_t destination, int number);

// The negative file request for RecordCopy: records records (0: all) to slot.
constexpr std::int32_t RecordFileRequest(int slot, std::int32_t records) {
  return -(records * 8 + slot);
}

// ---- The string-slot pool -----------------------------------------------------------

#ifndef TW_HEAP_STRINGS
#define TW_HEAP_STRINGS 100
#endif
// Capacity of the pool (a build-time setting).
constexpr int TwHeapStrings = TW_HEAP_STRINGS;

// Registers a heap block in the first free pool entry (found 32 bytes per
// step with SSE2 compares) and returns it. The caller's xmm0 and xmm1 are
// kept. A full pool raises fatal error 8 ("Too many strings: increase
// TwHeapStrings"); the block is not registered (it stays the caller's).
void* BlockRegister(void* block);

// A new heap block (flags 0 or HEAP_ZERO_MEMORY) registered in the pool. A
// full pool raises fatal error 8 before anything is allocated.
void* BlockAllocate(std::size_t size, DWORD flags);

// Releases a registered block: the first pool entry equal to it is cleared
// and the block released. 0 and blocks not in the pool are left alone.
// kEveryBlock releases every registered block and empties the pool.
constexpr std::uintptr_t kEveryBlock = ~std::uintptr_t{0};  // the value -1
void BlockRelease(std::uintptr_t block);
inline void BlockRelease(const void* block) {
  BlockRelease(reinterpret_cast<std::uintptr_t>(block));
}

// Number of registered blocks.
int PooledBlockCount();

// The pool entries (TwHeapStrings of them, then the stop word 0), for tests.
const std::uintptr_t* PoolEntries();

}  // namespace tw
