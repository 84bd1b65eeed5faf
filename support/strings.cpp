// String arguments, the result ring, persistent copies, deferred records and
// the string functions: substitution, zero buffers, case conversion,
// substrings, trimming, hexadecimal and binary text.
#include "support/strings.h"

#include "compat/win32.h"

#include <cstdlib>
#include <cstring>

#include "support/arrays.h"
#include "support/errors.h"
#include "support/heap.h"
#include "support/search.h"
#include "support/startup.h"
#include "trace/text.h"

namespace tw {

namespace {

constexpr int kPersistPlaces = 7;
constexpr std::uint32_t kSubstituteLimit = 639900;  // bytes of the area a record may reach

struct ResultRing {
  ResultSlotRecord slots[kResultSlotCount + 1];  // 1 to 15; 0 unused
  std::uintptr_t origins[kResultSlotCount + 1];  // beside the slots of the same number
  int current;                                   // 0 before the first result
};

struct PersistRotation {
  char* places[kPersistPlaces + 1];  // 1 to 7
  int index;
};

ResultRing g_ring = {};
PersistRotation g_persist = {};
DeferredHandler g_deferredHandlers[4] = {};  // codes -124 to -121
char g_hexText[16];
char g_binaryTable[256 * 8];
bool g_binaryTableBuilt = false;

TextView EmptyView() {
  return {g_emptyText, 0};
}

TextView ViewOfPair(std::uintptr_t address, std::int32_t length) {
  if (address == 0) return EmptyView();
  return {reinterpret_cast<const char*>(address), length < 0 ? -length : length};
}

TextView NewestView() {
  if (g_ring.current == 0) return EmptyView();
  const ResultSlotRecord& slot = g_ring.slots[g_ring.current];
  return ViewOfPair(slot.address, slot.length);
}

DeferredWord ReadWord(const void* record, int index) {
  DeferredWord word;
  std::memcpy(&word, static_cast<const char*>(record) + index * sizeof word, sizeof word);
  return word;
}

const char* WordAddress(DeferredWord word) {
  return reinterpret_cast<const char*>(word);
}

DeferredWord AddressWord(const void* address) {
  return reinterpret_cast<DeferredWord>(address);
}

// ---- Carrying out records ----

char* CopyBytes(char* destination, const char* from, const char* to) {
  if (to <= from) return destination;
  const std::size_t count = static_cast<std::size_t>(to - from);
  std::memmove(destination, from, count);
  return destination + count;
}

char* MaterialiseSubstitution(const void* record, char* destination) {
  const char* replacement = WordAddress(ReadWord(record, 2));
  const std::size_t replacementLength = TextLengthSse2(replacement);
  const DeferredWord patternLength = ReadWord(record, 3);
  const char* position = WordAddress(ReadWord(record, 4));
  int field = 5;
  for (; ReadWord(record, field + 1) != 0; ++field) {
    const char* match = WordAddress(ReadWord(record, field));
    destination = CopyBytes(destination, position, match);
    std::memcpy(destination, replacement, replacementLength);
    destination += replacementLength;
    position = match + patternLength;
  }
  return CopyBytes(destination, position, WordAddress(ReadWord(record, field)));
}

char* MaterialiseZeroBuffer(const void* record, char* destination) {
  const DeferredWord size = ReadWord(record, 2) - 1;
  if (size <= 0) return destination;
  std::memset(destination, 0, static_cast<std::size_t>(size));
  return destination + size;
}

// UTF-16 sources are converted unit by unit: converting their bytes one by
// one as ANSI text would turn units above 0xFF into other characters.
char* MaterialiseCase(const void* record, char* destination) {
  const char* source = WordAddress(ReadWord(record, 2));
  const DeferredWord length = ReadWord(record, 3);
  const DeferredWord flags = ReadWord(record, 4);
  if (length <= 0) return destination;
  std::memmove(destination, source, static_cast<std::size_t>(length));
  const DWORD count = static_cast<DWORD>(length);
  const bool upper = (flags & kCaseUpper) != 0;
  if ((flags & kCaseWide) != 0) {
    LPWSTR units = reinterpret_cast<LPWSTR>(destination);
    upper ? CharUpperBuffW(units, count / 2) : CharLowerBuffW(units, count / 2);
  } else {
    upper ? CharUpperBuffA(destination, count) : CharLowerBuffA(destination, count);
  }
  return destination + length;
}

// Appends one word to a record under construction, stopping with fatal error
// 9 before the record would pass the area's limit for records.
char* AppendWord(char* at, DeferredWord word) {
  if (at + sizeof word > TempTextArea() + kSubstituteLimit) FatalError(kErrorBuffer, nullptr);
  std::memcpy(at, &word, sizeof word);
  return at + sizeof word;
}

void BuildBinaryTable() {
  for (int b = 0; b < 256; ++b) {
    for (int bit = 0; bit < 8; ++bit) g_binaryTable[b * 8 + bit] = (b >> (7 - bit)) & 1 ? '1' : '0';
  }
  g_binaryTableBuilt = true;
}

bool IsTrimmed(unsigned char c) {
  return c <= 32;
}

}  // namespace

// ---- String arguments and the ring ----

TextView ResolveString(StringArg argument) {
  if (argument > kNewestResult) {
    const char* text = reinterpret_cast<const char*>(argument);
    return {text, static_cast<std::int32_t>(TextLengthSse2(text))};
  }
  if (argument == kNewestResult) return NewestView();
  if (argument < kPredefinedTextCount) {
    const TextPair pair = PredefinedText(static_cast<int>(argument));
    return ViewOfPair(pair.address, pair.length);
  }
  if (argument >= kFirstResultCode && argument < kFirstResultCode + kResultSlotCount) {
    const ResultSlotRecord& slot = g_ring.slots[argument - kFirstResultCode + 1];
    return ViewOfPair(slot.address, slot.length);
  }
  return EmptyView();
}

ResultSlotRecord* ResultSlot(std::uintptr_t selector) {
  if (g_ring.current == 0) {
    EnsureLibraryInit();
    g_ring.current = 1;
  } else if (selector == kSlotBack) {
    g_ring.current = g_ring.current == 1 ? kResultSlotCount : g_ring.current - 1;
  } else if (selector != kSlotCurrent && selector != g_ring.slots[g_ring.current].address) {
    g_ring.current = g_ring.current == kResultSlotCount ? 1 : g_ring.current + 1;
  }
  return &g_ring.slots[g_ring.current];
}

int CurrentResultSlot() {
  return g_ring.current;
}

ResultSlotRecord* ResultSlotAt(int n) {
  if (n < 1 || n > kResultSlotCount) return nullptr;
  return &g_ring.slots[n];
}

void FillResultSlot(ResultSlotRecord* slot, const void* text, std::int32_t length) {
  slot->address = reinterpret_cast<std::uintptr_t>(text);
  slot->length = length;
  ResultOrigin(slot) = 0;
}

std::uintptr_t& ResultOrigin(const ResultSlotRecord* slot) {
  return g_ring.origins[slot - g_ring.slots];
}

// A deferred newest result is carried out into the copy, so the copy holds
// the text the record stands for. The copies are pooled blocks; once the pool
// has been emptied (the fatal-error report does that) the places no longer
// own them.
char* ResultPersist() {
  static std::uint32_t poolGeneration = 0;
  if (poolGeneration != PoolGeneration()) {
    poolGeneration = PoolGeneration();
    for (char*& place : g_persist.places) place = nullptr;
  }
  const TextView newest = NewestView();
  char* copy = static_cast<char*>(BlockAllocate(static_cast<std::size_t>(newest.length) + 1, 0));
  char* end = copy + newest.length;
  if (IsDeferredRecord(newest.text)) {
    end = DeferredMaterialise(newest.text, copy);
  } else {
    std::memcpy(copy, newest.text, static_cast<std::size_t>(newest.length));
  }
  *end = '\0';
  g_persist.index = g_persist.index == kPersistPlaces ? 1 : g_persist.index + 1;
  BlockRelease(g_persist.places[g_persist.index]);
  g_persist.places[g_persist.index] = copy;
  return copy;
}

// ---- Deferred records ----

// The marker has no zero byte, so the bytes are read one by one up to the
// first zero: a short text is never read past its end.
bool IsDeferredRecord(const void* text) {
  if (text == nullptr) return false;
  const char* bytes = static_cast<const char*>(text);
  for (std::size_t i = 0; i < sizeof(DeferredWord); ++i) {
    if (bytes[i] == '\0') return false;
  }
  return ReadWord(text, 0) == kDeferredMarker;
}

char* DeferredMaterialise(const void* record, char* destination) {
  if (ReadWord(record, 0) != kDeferredMarker) return destination;
  const DeferredWord code = ReadWord(record, 1);
  switch (code) {
    case kDeferredSubstitute:
      return MaterialiseSubstitution(record, destination);
    case kDeferredZeroBuffer:
      return MaterialiseZeroBuffer(record, destination);
    case kDeferredCase:
      return MaterialiseCase(record, destination);
    default:
      break;
  }
  if (code < kDeferredSubstitute || code > kDeferredCase) return destination;
  const DeferredHandler handler = g_deferredHandlers[code - kDeferredSubstitute];
  if (handler == nullptr) return destination;
  return handler(static_cast<const DeferredWord*>(record) + 2, destination);
}

void SetDeferredHandler(DeferredWord code, DeferredHandler handler) {
  if (code < kDeferredSubstitute || code > kDeferredCase) return;
  g_deferredHandlers[code - kDeferredSubstitute] = handler;
}

ResultSlotRecord* DeferredCommit(const DeferredWord* words, int count, std::int32_t resultLength) {
  const std::uint32_t bytes = static_cast<std::uint32_t>(count) * sizeof(DeferredWord);
  char* at = TempTextReserve(bytes);
  std::memcpy(at, words, bytes);
  ResultSlotRecord* slot = TempTextEnd(at + bytes, kSlotNext).slot;
  slot->length = resultLength;
  return slot;
}

// ---- String functions ----

ResultSlotRecord* TextSubstitute(StringArg source, StringArg pattern, StringArg replacement,
                                 std::uint32_t options) {
  const TextView text = ResolveString(source);
  const TextView find = ResolveString(pattern);
  const TextView put = ResolveString(replacement);
  // The search runs forward over bytes; counting, backward and UTF-16 bits of
  // the mode word have no meaning for a substitution and are left out.
  const std::uint32_t mode = options & 0xFF & ~(kFindCount | kFindBackward | kFindUtf16);
  const std::uint32_t limit = (options >> 8) & 0xFF;
  char* const begin = TempTextBegin();
  char* at = AppendWord(begin, kDeferredMarker);
  at = AppendWord(at, kDeferredSubstitute);
  at = AppendWord(at, AddressWord(put.text));
  at = AppendWord(at, find.length);
  at = AppendWord(at, AddressWord(text.text));
  std::int64_t matches = 0;
  for (std::int32_t start = 1;;) {
    if (limit != 0 && matches == limit) break;
    const FindResult found = TextFindView(start, text, find, mode);
    if (found.position == 0) break;
    at = AppendWord(at, AddressWord(found.address));
    ++matches;
    start = found.position + find.length;
  }
  at = AppendWord(at, AddressWord(text.text + text.length));
  at = AppendWord(at, 0);
  ResultSlotRecord* slot = TempTextEnd(at, kSlotNext).slot;
  slot->length = static_cast<std::int32_t>(matches * (put.length - find.length) + text.length);
  return slot;
}

ResultSlotRecord* NewZeroText(std::int32_t size) {
  if (size <= 0 || size == INT32_MAX) FatalError(kErrorBuffer, nullptr);
  const DeferredWord words[] = {kDeferredMarker, kDeferredZeroBuffer, DeferredWord{size} + 1};
  return DeferredCommit(words, 3, size + 1);
}

ResultSlotRecord* TextCase(StringArg source, std::uint32_t flags) {
  TextView text;
  if (source == kNewestResult) {
    text = NewestView();
    if (g_ring.current != 0) ResultSlot(kSlotBack);
  } else {
    text = ResolveString(source);
    if ((flags & kCaseWide) != 0 && source > kNewestResult) {
      text.length = static_cast<std::int32_t>(2 * WideTextLength(text.text));
    }
  }
  const DeferredWord words[] = {kDeferredMarker, kDeferredCase, AddressWord(text.text), text.length,
                                static_cast<DeferredWord>(flags)};
  return DeferredCommit(words, 5, text.length);
}

ResultSlotRecord* TextMid(StringArg source, std::int32_t count, std::int32_t position) {
  const std::uint32_t raw = static_cast<std::uint32_t>(count);
  const bool wide = (raw >> 24) == 0x80;
  std::int64_t wanted = wide ? std::int64_t{raw & 0x7FFFFFFF} * 2 : count;
  TextView text = ResolveString(source);
  if (wide && source > kNewestResult) {
    text.length = static_cast<std::int32_t>(2 * WideTextLength(text.text));
  }
  const std::int64_t length = text.length;
  std::int64_t start = 0;
  std::int64_t taken = 0;
  if (wanted == 0 || position == 0) {
    start = 0;
  } else if (position > 0) {
    start = position > length ? length : position - 1;
    const std::int64_t remaining = length - start;
    taken = wanted < 0 || wanted > remaining ? remaining : wanted;
  } else if (wanted < 0 || wanted > length) {
    taken = length;
  } else {
    start = length - wanted;
    taken = wanted;
  }
  const char* address = text.text + start;
  ResultSlotRecord* slot = ResultSlot(
      source == kNewestResult ? kSlotCurrent : reinterpret_cast<std::uintptr_t>(address));
  FillResultSlot(slot, address, static_cast<std::int32_t>(taken));
  return slot;
}

ResultSlotRecord* TextTrim(StringArg source, std::uint32_t mode) {
  const TextView text = ResolveString(source);
  const unsigned char* first = reinterpret_cast<const unsigned char*>(text.text);
  const unsigned char* end = first + text.length;
  bool metZero = false;
  if ((mode & kTrimRight) != 0) {
    while (end > first && IsTrimmed(end[-1]) && !metZero) metZero = *--end == 0;
  }
  if ((mode & kTrimLeft) != 0) {
    while (first < end && IsTrimmed(*first) && !metZero) metZero = *first++ == 0;
  }
  const std::uint32_t kept = metZero ? 0 : static_cast<std::uint32_t>(end - first);
  char* at = TempTextReserve(kept + 1);
  std::memmove(at, first, kept);
  at[kept] = '\0';
  return TempTextEnd(at + kept, kSlotCurrent).slot;
}

const char* HexText(std::uint32_t value, int bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  if (bytes < 1 || bytes > 4) bytes = 4;
  const int digits = 2 * bytes;
  for (int i = 0; i < digits; ++i) g_hexText[i] = kDigits[(value >> (4 * (digits - 1 - i))) & 0xF];
  g_hexText[digits] = '\0';
  return g_hexText;
}

char* BinaryText(std::uint32_t value, char* buffer) {
  if (!g_binaryTableBuilt) BuildBinaryTable();
  for (int byte = 0; byte < 4; ++byte) {
    const unsigned b = (value >> (8 * (3 - byte))) & 0xFF;
    std::memcpy(buffer + 8 * byte, g_binaryTable + 8 * b, 8);
  }
  buffer[32] = '\0';
  return buffer;
}

}  // namespace tw
