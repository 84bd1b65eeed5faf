// String arrays, record arrays and the string-slot pool: the array table,
// creation and erasure, element access with field selection, insertion and
// deletion at the last access, exchange, record arrays and the pool of
// registered heap blocks.
#include "support/arrays.h"

#include <emmintrin.h>

#include <cstring>

#include "support/errors.h"
#include "support/files.h"
#include "support/heap.h"
#include "support/lifetimes.h"
#include "support/strings.h"

namespace tw {

namespace {

// Largest block the family asks for: a count that needs more is "too high".
constexpr std::int64_t kLargestBlock = 0x7FFFFFFF;

struct ArrayTable {
  std::uintptr_t entries[kArrayCount];
  bool records[kArrayCount];  // the entry holds a record array's first record
  int recordCount;            // how many entries do
};

ArrayTable g_arrays = {};
ArrayLastAccess g_lastAccess = {};
FieldRecord g_field = {};

// Beside the field record: a number for the field it describes, raised by
// every read of another field (each read's result carries it, so that an
// assignment knows whether the record still describes its field); the field
// number and shape of the last read; and whether that field lies beyond the
// element's last one, so that an assignment can add the missing separators.
struct FieldReads {
  std::uint32_t serial;
  bool missing;
  int number;
  std::int32_t shape;
};
FieldReads g_fieldReads = {};

// The pool: TwHeapStrings entries, the stop word and zero words up to a
// multiple of 32 bytes, so that the scan reads whole steps. The first zero at
// or after the stop word means the pool is full.
constexpr int kWordsPerGroup = 16 / static_cast<int>(sizeof(std::uintptr_t));
constexpr int kWordsPerStep = 2 * kWordsPerGroup;
constexpr int kPoolWords = (TwHeapStrings + 1 + kWordsPerStep - 1) / kWordsPerStep * kWordsPerStep;

struct alignas(16) Pool {
  std::uintptr_t entries[kPoolWords];
};
Pool g_pool = {};

// xmm0 and xmm1 of BlockRegister's caller while the scan runs.
struct alignas(16) KeptVectors {
  unsigned char bytes[32];
};
KeptVectors g_keptVectors;

bool IsArrayNumber(int number) {
  return number >= 0 && number < kArrayCount;
}

bool HoldsSomething(std::uintptr_t entry) {
  return entry != kArrayNeverCreated && entry != kArrayErased;
}

void RequireArrayNumber(int number) {
  if (!IsArrayNumber(number)) FatalError(kErrorArrayUndefined, nullptr);
}

ArrayElementEntry EmptyElement() {
  return {reinterpret_cast<std::uintptr_t>(g_emptyText), 0};
}

std::size_t ElementBytes(std::int64_t elements) {
  return static_cast<std::size_t>(elements) * sizeof(ArrayElementEntry);
}

std::size_t HeaderBytes(std::int64_t elements) {
  return sizeof(ArrayHeader) + ElementBytes(elements);
}

// Header and count elements, plus the spare element that a resize keeps.
bool HeaderFits(std::int64_t count) {
  const std::int64_t bytes = static_cast<std::int64_t>(sizeof(ArrayHeader)) +
                             (count + 1) * static_cast<std::int64_t>(sizeof(ArrayElementEntry));
  return count >= 0 && bytes <= kLargestBlock;
}

// An owned element text can only have been viewed up to its NUL.
void ReleaseOwnedText(const ArrayElementEntry& element) {
  if (element.length <= 0) return;
  HeapBlockRelease(reinterpret_cast<void*>(element.address),
                   static_cast<std::size_t>(element.length) + 1);
}

void ReleaseStringArray(ArrayHeader* header) {
  const std::int32_t count = header->count;
  header->count = -1;
  if (header->textBlock != 0) HeapBlockRelease(TextBlockHeap(header->textBlock));
  ArrayElementEntry* elements = ArrayElements(header);
  for (std::int32_t i = 0; i < count; ++i) ReleaseOwnedText(elements[i]);
  HeapBlockRelease(header);
}

// Releases what number holds and leaves mark in its entry. The entry is
// marked before anything is released, so that a fatal error raised by a
// release (and the report's own erasure) never sees it half released.
void EraseNumber(int number, std::uintptr_t mark) {
  const std::uintptr_t entry = g_arrays.entries[number];
  if (!HoldsSomething(entry)) return;
  const bool record = g_arrays.records[number];
  g_arrays.entries[number] = mark;
  g_arrays.recordCount -= record ? 1 : 0;
  g_arrays.records[number] = false;
  if (record) {
    BlockRelease(entry - sizeof(RecordArrayHead));
  } else {
    ReleaseStringArray(reinterpret_cast<ArrayHeader*>(entry));
  }
}

ArrayHeader* StringArrayOrFatal(int number, int error) {
  ArrayHeader* header = ArrayHeaderOf(number);
  if (header == nullptr) FatalError(error, nullptr);
  return header;
}

// Element count of a highest-index request and the shape it gives.
struct CountAndShape {
  std::int64_t count;
  std::int32_t shape;
};

CountAndShape CountOfHighest(std::uint32_t highest) {
  if (highest == 0xFFFFFFFFu) return {0, kShapePlain};  // -1: an empty array
  if ((highest & kTwoPart) == 0) return {std::int64_t{highest} + 1, kShapePlain};
  const std::uint32_t first = highest & kFirstIndexMask;
  const std::uint32_t second = (highest >> kSecondIndexShift) & kSecondIndexMax;
  // A first index of 0x7FFFFF would need a row width that the 23 bits of the
  // shape's index part cannot hold.
  if (first == kFirstIndexMask) FatalError(kErrorCountTooHigh, nullptr);
  const std::int64_t width = std::int64_t{first} + 1;
  return {width * (std::int64_t{second} + 1), static_cast<std::int32_t>(width)};
}

// ---- Fields ----

const char* FindByte(const char* from, const char* end, char byte) {
  if (from >= end) return nullptr;
  return static_cast<const char*>(std::memchr(from, byte, static_cast<std::size_t>(end - from)));
}

const char* FindByteOrEnd(const char* from, const char* end, char byte) {
  const char* found = FindByte(from, end, byte);
  return found != nullptr ? found : end;
}

bool SelectTabField(const char* text, const char* end, int fieldNumber, FieldSpan* field) {
  const char* start = text;
  for (int k = 0; k < fieldNumber; ++k) {
    const char* tab = FindByte(start, end, '\t');
    if (tab == nullptr) return false;
    start = tab + 1;
  }
  const char* stop = FindByteOrEnd(start, end, '\t');
  *field = {start, static_cast<std::int32_t>(stop - start)};
  return true;
}

// The first field skips one leading quote and ends at the first comma; a
// later field that starts with a quote runs past the next quote before it
// looks for its comma (no closing quote: to the end of the text). A quote
// right before a field's end is dropped.
bool SelectCommaField(const char* text, const char* end, int fieldNumber, FieldSpan* field) {
  const char* start = text < end && *text == '"' ? text + 1 : text;
  const char* stop = FindByteOrEnd(start, end, ',');
  for (int k = 0; k < fieldNumber; ++k) {
    if (stop == end) return false;
    start = stop + 1;
    const char* scan = start;
    if (start < end && *start == '"') {
      ++start;
      const char* quote = FindByte(start, end, '"');
      scan = quote != nullptr ? quote + 1 : end;
    }
    stop = FindByteOrEnd(scan, end, ',');
  }
  std::int32_t length = static_cast<std::int32_t>(stop - start);
  if (length > 0 && stop[-1] == '"') --length;
  *field = {start, length};
  return true;
}

// The element's field as a new temporary result, through the field record.
// Results that viewed the previous field copy are forgotten before it is
// overwritten.
ElementText FieldResult(ArrayElementEntry* entry, const char* text, std::int32_t length,
                        std::int32_t shape, int fieldNumber) {
  ForgetStorage(g_field.fieldText, sizeof g_field.fieldText);
  // A new read of the field the record describes keeps its number: an
  // assignment to the earlier read still goes to the same field.
  const bool same = entry == g_field.elementEntry && text == g_field.elementText &&
                    length == g_field.elementLength && fieldNumber == g_fieldReads.number &&
                    shape == g_fieldReads.shape;
  if (!same) ++g_fieldReads.serial;
  g_fieldReads.number = fieldNumber;
  g_fieldReads.shape = shape;
  g_fieldReads.missing = false;
  g_field.elementEntry = entry;
  g_field.elementText = text;
  g_field.elementLength = length;
  const std::int64_t bytes = length < 0 ? -std::int64_t{length} : length;
  FieldSpan span = {};
  const char* resultText = g_field.fieldText;
  std::int32_t resultLength = 0;
  if (SelectField(text, static_cast<std::int32_t>(bytes), shape, fieldNumber, &span)) {
    g_field.fieldStart = span.start;
    g_field.fieldLength = span.length;
    resultLength = span.length < kFieldAreaSize ? span.length : kFieldAreaSize - 1;
    std::memcpy(g_field.fieldText, span.start, static_cast<std::size_t>(resultLength));
  } else {
    const char* zero = FindByte(text, text + bytes, '\0');
    g_field.fieldStart = zero != nullptr ? zero : text + bytes;
    g_field.fieldLength = 0;
    resultText = g_emptyText;
    g_fieldReads.missing = true;
  }
  g_field.fieldText[resultLength] = '\0';
  return {resultText, resultLength};
}

// The array family's watcher (support/lifetimes.h): a field record whose
// element or element text goes no longer describes a field; a record array
// whose pooled block goes (BlockRelease) is no longer in the table. None of
// this lies in the temporary text area.
void ForgetArrayStorage(std::uintptr_t from, std::uintptr_t to) {
  const auto entry = reinterpret_cast<std::uintptr_t>(g_field.elementEntry);
  const auto text = reinterpret_cast<std::uintptr_t>(g_field.elementText);
  if ((entry >= from && entry < to) || (text >= from && text < to)) {
    g_field.elementEntry = nullptr;
  }
  if (g_arrays.recordCount == 0) return;
  for (int n = 0; n < kArrayCount; ++n) {
    if (!g_arrays.records[n]) continue;
    const std::uintptr_t head = g_arrays.entries[n] - sizeof(RecordArrayHead);
    if (head >= from && head < to) {
      g_arrays.entries[n] = kArrayNeverCreated;
      g_arrays.records[n] = false;
      --g_arrays.recordCount;
    }
  }
}

void EraseArraysAndPool();

// The family holds storage from its first array or pooled block on.
void WatchArrayStorage() {
  WatchStorage({ForgetArrayStorage, nullptr});
  OnFatalReport(FatalStage::kAfterReport, EraseArraysAndPool);
}

ArrayHeader* ReplaceHeader(int number, ArrayHeader* header, std::int64_t keptElements,
                           std::int64_t newCount) {
  ArrayHeader* moved = static_cast<ArrayHeader*>(HeapBlockAllocate(HeaderBytes(newCount + 1), 0));
  std::memcpy(moved, header, HeaderBytes(keptElements));
  g_arrays.entries[number] = reinterpret_cast<std::uintptr_t>(moved);
  HeapBlockRelease(header);
  return moved;
}

// ---- Pool ----

// Pointer-sized zero words of a 16-byte group, one bit per word.
inline unsigned ZeroWords(__m128i group) {
  const __m128i zero32 = _mm_cmpeq_epi32(group, _mm_setzero_si128());
#if defined(__x86_64__) || defined(_WIN64)
  const __m128i both = _mm_and_si128(zero32, _mm_shuffle_epi32(zero32, _MM_SHUFFLE(2, 3, 0, 1)));
  return static_cast<unsigned>(_mm_movemask_pd(_mm_castsi128_pd(both)));
#else
  return static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(zero32)));
#endif
}

// Index of the first zero word of the pool, two 16-byte groups per step.
int FirstFreeEntry() {
  for (int i = 0; i < kPoolWords; i += kWordsPerStep) {
    const __m128i* at = reinterpret_cast<const __m128i*>(g_pool.entries + i);
    const unsigned mask = ZeroWords(_mm_load_si128(at)) | ZeroWords(_mm_load_si128(at + 1))
                                                              << kWordsPerGroup;
    if (mask != 0) return i + __builtin_ctz(mask);
  }
  return kPoolWords;
}

__attribute__((noinline)) void RegisterInPool(void* block) {
  WatchArrayStorage();
  const int free = FirstFreeEntry();
  if (free >= TwHeapStrings) FatalError(kErrorTooManyStrings, nullptr);
  g_pool.entries[free] = reinterpret_cast<std::uintptr_t>(block);
}

}  // namespace

// ---- Table ----

std::uintptr_t ArrayTableEntry(int number) {
  return IsArrayNumber(number) ? g_arrays.entries[number] : kArrayNeverCreated;
}

ArrayHeader* ArrayHeaderOf(int number) {
  if (!IsArrayNumber(number) || g_arrays.records[number]) return nullptr;
  const std::uintptr_t entry = g_arrays.entries[number];
  return HoldsSomething(entry) ? reinterpret_cast<ArrayHeader*>(entry) : nullptr;
}

// ---- Creation and erasure ----

ArrayHeader* ArrayCreate(int number, std::uint32_t highest, std::intptr_t callerValue) {
  RequireArrayNumber(number);
  const CountAndShape wanted = CountOfHighest(highest);
  if (!HeaderFits(wanted.count)) FatalError(kErrorCountTooHigh, nullptr);
  WatchArrayStorage();
  EraseNumber(number, kArrayErased);
  ArrayHeader* header =
      static_cast<ArrayHeader*>(HeapBlockAllocate(HeaderBytes(wanted.count), HEAP_ZERO_MEMORY));
  g_arrays.entries[number] = reinterpret_cast<std::uintptr_t>(header);
  header->count = static_cast<std::int32_t>(wanted.count);
  if (callerValue != 0) header->callerValue = callerValue;
  header->shape = wanted.shape;
  return header;
}

void ArrayErase(int number) {
  if (number == kEveryArray) {
    for (int n = 0; n < kArrayCount; ++n) EraseNumber(n, kArrayErased);
    return;
  }
  if (IsArrayNumber(number)) EraseNumber(number, kArrayErased);
}

// ---- Element access ----

ElementText ArrayElement(int number, std::uint32_t index) {
  RequireArrayNumber(number);
  ArrayHeader* header = StringArrayOrFatal(number, kErrorArrayUndefined);
  const std::int32_t shape = header->shape;
  std::int64_t plain = 0;
  int fieldNumber = -1;
  bool valid = true;
  if (shape == kShapePlain) {
    plain = static_cast<std::int32_t>(index);
  } else if ((index & kTwoPart) != 0) {
    const std::int64_t first = index & kFirstIndexMask;
    const std::int64_t second = (index >> kSecondIndexShift) & kSecondIndexMax;
    if (shape > 0) {
      plain = first + second * shape;
      valid = first < shape;
    } else {
      plain = first;
      if (shape <= kShapeTabFields) fieldNumber = static_cast<int>(second);
    }
  } else {
    plain = index & kFirstIndexMask;
    valid = (index & ~kFirstIndexMask) == 0;
    if (!valid) plain = static_cast<std::int32_t>(index);
  }
  if (plain > INT32_MAX) plain = INT32_MAX;
  g_lastAccess = {number, static_cast<std::int32_t>(plain)};
  if (!valid || plain < 0 || plain >= header->count) FatalError(kErrorCountTooHigh, nullptr);
  ArrayElementEntry* entry = ArrayElements(header) + plain;
  ElementText result = {g_emptyText, 0};
  if (entry->address != 0) {
    result = {reinterpret_cast<const char*>(entry->address), entry->length};
  }
  if (fieldNumber >= 0) result = FieldResult(entry, result.text, result.length, shape, fieldNumber);
  ResultSlotRecord* slot =
      NewElementResult(result.text, result.length, reinterpret_cast<std::uintptr_t>(entry));
  if (fieldNumber >= 0) ResultFieldSerial(slot) = g_fieldReads.serial;
  return result;
}

ArrayLastAccess& LastArrayAccess() {
  return g_lastAccess;
}

FieldRecord& ArrayFieldRecord() {
  return g_field;
}

bool SelectField(const char* text, std::int32_t length, std::int32_t shape, int fieldNumber,
                 FieldSpan* field) {
  if (text == nullptr || length < 0) length = 0;
  if (text == nullptr) text = g_emptyText;
  const char* end = FindByteOrEnd(text, text + length, '\0');
  if (fieldNumber < 0) return false;
  if (shape == kShapeTabFields) return SelectTabField(text, end, fieldNumber, field);
  return SelectCommaField(text, end, fieldNumber, field);
}

// ---- Element texts ----

void ElementAssign(ArrayElementEntry* entry, const char* text, std::int32_t length) {
  if (length <= 0) {
    ElementRelease(entry);
    return;
  }
  char* copy = static_cast<char*>(HeapBlockAllocate(static_cast<std::size_t>(length) + 3, 0));
  std::memcpy(copy, text, static_cast<std::size_t>(length));
  std::memset(copy + length, 0, 3);
  ElementRelease(entry);
  *entry = {reinterpret_cast<std::uintptr_t>(copy), length};
}

void ElementRelease(ArrayElementEntry* entry) {
  const ArrayElementEntry old = *entry;
  *entry = EmptyElement();
  ReleaseOwnedText(old);
}

std::uint32_t FieldReadSerial() {
  return g_fieldReads.serial;
}

FieldGap TakeFieldGap() {
  const FieldRecord& field = g_field;
  if (!g_fieldReads.missing || field.elementEntry == nullptr) return {0, 0};
  const char* text = field.elementText;
  const char* end = field.fieldStart;  // the element's text up to its first zero byte
  const char separator = g_fieldReads.shape == kShapeTabFields ? '\t' : ',';
  // The fields the element has: the last one that SelectField finds.
  int last = 0;
  FieldSpan span;
  while (last + 1 < g_fieldReads.number && SelectField(text, static_cast<std::int32_t>(end - text),
                                                       g_fieldReads.shape, last + 1, &span)) {
    ++last;
  }
  g_fieldReads.missing = false;
  return {g_fieldReads.number - last, separator};
}

// ---- Insertion, deletion, exchange ----

void ArrayInsertDelete(std::int32_t n) {
  const int number = g_lastAccess.number;
  ArrayHeader* header = StringArrayOrFatal(number, kErrorCountTooHigh);
  const std::int64_t count = header->count;
  const std::int64_t index = g_lastAccess.index;
  if (index < 0 || index >= count) FatalError(kErrorCountTooHigh, nullptr);
  if (n == 0) {
    ElementRelease(ArrayElements(header) + index);
    return;
  }
  if (n > 0) {
    const std::int64_t newCount = count + n;
    if (!HeaderFits(newCount)) FatalError(kErrorCountTooHigh, nullptr);
    header = ReplaceHeader(number, header, count, newCount);
    ArrayElementEntry* elements = ArrayElements(header);
    std::memmove(elements + index + n, elements + index, ElementBytes(count - index));
    for (std::int64_t i = index; i < index + n; ++i) elements[i] = EmptyElement();
    header->count = static_cast<std::int32_t>(newCount);
    return;
  }
  const std::int64_t wanted = -std::int64_t{n};
  const std::int64_t removed = wanted < count - index ? wanted : count - index;
  const std::int64_t newCount = count - removed;
  if (newCount <= 0) return;
  ArrayHeader* moved = static_cast<ArrayHeader*>(HeapBlockAllocate(HeaderBytes(newCount + 1), 0));
  ArrayElementEntry* elements = ArrayElements(header);
  for (std::int64_t i = index; i < index + removed; ++i) ElementRelease(elements + i);
  std::memcpy(moved, header, HeaderBytes(index));
  std::memcpy(ArrayElements(moved) + index, elements + index + removed,
              ElementBytes(newCount - index));
  moved->count = static_cast<std::int32_t>(newCount);
  g_arrays.entries[number] = reinterpret_cast<std::uintptr_t>(moved);
  HeapBlockRelease(header);
}

void ArraySwap(int first, int second) {
  RequireArrayNumber(first);
  RequireArrayNumber(second);
  const std::uintptr_t entry = g_arrays.entries[first];
  const bool record = g_arrays.records[first];
  g_arrays.entries[first] = g_arrays.entries[second];
  g_arrays.records[first] = g_arrays.records[second];
  g_arrays.entries[second] = entry;
  g_arrays.records[second] = record;
}

// ---- Record arrays ----

void RecordArrayCreate(int number, std::int32_t recordSize, std::int32_t highest) {
  RequireArrayNumber(number);
  const std::int64_t count = std::int64_t{highest} + 1;
  const std::int64_t bytes =
      static_cast<std::int64_t>(sizeof(RecordArrayHead)) + std::int64_t{recordSize} * count;
  if (recordSize < 0 || count < 0 || bytes > kLargestBlock) {
    FatalError(kErrorCountTooHigh, nullptr);
  }
  WatchArrayStorage();
  EraseNumber(number, kArrayNeverCreated);
  auto* head = static_cast<RecordArrayHead*>(
      BlockAllocate(static_cast<std::size_t>(bytes), HEAP_ZERO_MEMORY));
  head->count = static_cast<std::int32_t>(count);
  head->recordSize = recordSize;
  g_arrays.entries[number] = reinterpret_cast<std::uintptr_t>(head + 1);
  g_arrays.records[number] = true;
  ++g_arrays.recordCount;
}

void RecordArrayErase(int number) {
  if (IsArrayNumber(number)) EraseNumber(number, kArrayNeverCreated);
}

RecordArrayHead* RecordArrayHeadOf(int number) {
  if (!IsArrayNumber(number) || !g_arrays.records[number]) return nullptr;
  return reinterpret_cast<RecordArrayHead*>(g_arrays.entries[number]) - 1;
}

void* RecordAt(int number, std::int32_t index) {
  RecordArrayHead* head = RecordArrayHeadOf(number);
  if (head == nullptr) return nullptr;
  return reinterpret_cast<char*>(head + 1) + std::int64_t{index} * head->recordSize;
}

void RecordCopy(std::int32_t source, std::int32_t destination, int number) {
  RequireArrayNumber(number);
  RecordArrayHead* head = RecordArrayHeadOf(number);
  if (head == nullptr) FatalError(kErrorArrayUndefined, nullptr);
  const std::int32_t count = head->count;
  if (destination < 0 || destination >= count) FatalError(kErrorCountTooHigh, nullptr);
  if (source >= 0) {
    if (source >= count) FatalError(kErrorCountTooHigh, nullptr);
    std::memmove(RecordAt(number, destination), RecordAt(number, source),
                 static_cast<std::size_t>(head->recordSize));
    return;
  }
  const std::int64_t request = -std::int64_t{source};
  const int slot = static_cast<int>(request % 8);
  std::int64_t records = request / 8;
  const std::int64_t following = count - destination;
  if (records == 0) records = following;
  if (records > following) FatalError(kErrorCountTooHigh, nullptr);
  const char* data = static_cast<const char*>(RecordAt(number, destination));
  // The block holds at most 2^31 - 1 bytes, so the size fits one call.
  DWORD left = static_cast<DWORD>(records * head->recordSize);
  while (left > 0) {
    DWORD written = 0;
    const BOOL ok = WriteFile(FileSlotHandle(slot), data, left, &written, nullptr);
    CheckSystemCall(ok);
    if (!ok || written == 0) return;
    data += written;
    left -= written;
  }
}

// ---- Pool ----

// The scan may use any vector register: the caller's xmm0 and xmm1 are saved
// first and loaded back last, around a call the compiler cannot see into.
__attribute__((noinline, no_sanitize("address", "undefined"))) void* BlockRegister(void* block) {
  __asm__ volatile(
      "movdqu %%xmm0, 0(%0)\n\t"
      "movdqu %%xmm1, 16(%0)" ::"r"(g_keptVectors.bytes)
      : "memory");
  RegisterInPool(block);
  __asm__ volatile(
      "movdqu 0(%0), %%xmm0\n\t"
      "movdqu 16(%0), %%xmm1" ::"r"(g_keptVectors.bytes)
      : "memory", "xmm0", "xmm1");
  return block;
}

void* BlockAllocate(std::size_t size, DWORD flags) {
  if (FirstFreeEntry() >= TwHeapStrings) FatalError(kErrorTooManyStrings, nullptr);
  return BlockRegister(HeapBlockAllocate(size, flags));
}

void BlockRelease(std::uintptr_t block) {
  if (block == 0) return;
  if (block == kEveryBlock) {
    for (int i = 0; i < TwHeapStrings; ++i) {
      const std::uintptr_t entry = g_pool.entries[i];
      if (entry == 0) continue;
      g_pool.entries[i] = 0;
      HeapBlockRelease(reinterpret_cast<void*>(entry));
    }
    return;
  }
  for (int i = 0; i < TwHeapStrings; ++i) {
    if (g_pool.entries[i] != block) continue;
    g_pool.entries[i] = 0;
    HeapBlockRelease(reinterpret_cast<void*>(block));
    return;
  }
}

int PooledBlockCount() {
  int count = 0;
  for (int i = 0; i < TwHeapStrings; ++i) count += g_pool.entries[i] != 0 ? 1 : 0;
  return count;
}

const std::uintptr_t* PoolEntries() {
  return g_pool.entries;
}

namespace {

// What the fatal-error report leaves: no arrays, no pooled blocks.
void EraseArraysAndPool() {
  ArrayErase(kEveryArray);
  BlockRelease(kEveryBlock);
}

}  // namespace

}  // namespace tw
