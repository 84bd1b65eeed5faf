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
#include "support/lifetimes.h"
#include "support/search.h"
#include "support/startup.h"
#include "trace/text.h"

namespace tw {

namespace {

constexpr int kPersistPlaces = 7;
constexpr std::uint32_t kSubstituteLimit = 639900;  // bytes of the area a record may reach
constexpr std::uint32_t kLongestTempText = kTempTextMaxBytes - 1;  // its NUL not counted

// A range of storage [from, to) that a result reads; to == 0 when unused.
struct Range {
  std::uintptr_t from;
  std::uintptr_t to;
};

// What the library recorded when it committed a deferred result: the
// record's words as it wrote them, so that carrying it out never reads the
// record's bytes back (only a substitution's match list stays in the area,
// and each match is checked against the source before it is used).
struct RecordCopy {
  std::uint32_t bytes;  // the record's size in the area; 0: the slot holds a plain text
  DeferredWord code;
  // Substitution: replacement, pattern length, source, source end, replacement
  // length. Case: source, length, flags. Zero buffer: size + 1. File read:
  // name, size.
  DeferredWord fields[5];
  const char* matches;  // substitution: the first match word in the area
  std::uint32_t matchCount;
};

// Up to three ranges per slot: the result's text (or its record's bytes) and
// the texts a deferred record reads.
constexpr int kRangesPerSlot = 3;

struct ResultRing {
  ResultSlotRecord slots[kResultSlotCount + 1];  // 1 to 15; 0 unused
  std::uintptr_t origins[kResultSlotCount + 1];  // beside the slots of the same number
  std::uint32_t fieldSerials[kResultSlotCount + 1];
  RecordCopy records[kResultSlotCount + 1];
  Range ranges[kResultSlotCount + 1][kRangesPerSlot];
  // Bit n: slot n has a range outside the temporary text area; slot n has an
  // origin; slot n holds a record or an origin (its extra fields need
  // clearing when it is filled again).
  std::uint32_t outsideSlots;
  std::uint32_t originSlots;
  std::uint32_t extraSlots;
  // A range that holds every origin (they lie in a few array headers), so
  // that a release elsewhere passes them in two compares.
  std::uintptr_t originLow;
  std::uintptr_t originHigh;
  int current;  // 0 before the first result
};

struct PersistRotation {
  char* places[kPersistPlaces + 1];  // 1 to 7
  int index;
  int count;  // places that hold a copy
};

ResultRing g_ring = {{}, {}, {}, {}, {}, 0, 0, 0, UINTPTR_MAX, 0, 0};
PersistRotation g_persist = {};
DeferredHandler g_deferredHandlers[4] = {};  // codes -124 to -121
char g_hexText[16];
// Deferred texts are produced here before they are copied into the area, so
// that they never overwrite their record or the texts it refers to.
char g_producedText[kTempTextMaxBytes];
char g_binaryTable[256 * 8];
bool g_binaryTableBuilt = false;

TextView EmptyView() {
  return {g_emptyText, 0};
}

TextView ViewOfPair(std::uintptr_t address, std::int32_t length) {
  if (address == 0) return EmptyView();
  return {reinterpret_cast<const char*>(address), length < 0 ? -length : length};
}

// The number (1 to 15) of a slot of the ring; 0 for any other record.
int SlotNumber(const ResultSlotRecord* slot) {
  const std::uintptr_t offset =
      reinterpret_cast<std::uintptr_t>(slot) - reinterpret_cast<std::uintptr_t>(&g_ring.slots[0]);
  const std::uintptr_t n = offset / sizeof *slot;
  return offset % sizeof *slot == 0 && n >= 1 && n <= kResultSlotCount ? static_cast<int>(n) : 0;
}

// The slot a string argument names (127 or codes 11 to 25), else nullptr.
ResultSlotRecord* SlotOfArgument(StringArg argument) {
  if (argument == kNewestResult)
    return g_ring.current == 0 ? nullptr : &g_ring.slots[g_ring.current];
  if (argument >= kFirstResultCode && argument < kFirstResultCode + kResultSlotCount) {
    return &g_ring.slots[argument - kFirstResultCode + 1];
  }
  return nullptr;
}

std::int32_t AbsoluteLength(const ResultSlotRecord* slot) {
  return slot->length < 0 ? -slot->length : slot->length;
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

std::uintptr_t Address(const void* at) {
  return reinterpret_cast<std::uintptr_t>(at);
}

bool RangesMeet(const Range& range, std::uintptr_t from, std::uintptr_t to) {
  return range.to != 0 && range.from < to && from < range.to;
}

// ---- What the ring holds, and forgetting it ----

// The temporary text area's first byte, taken once (the ring's first use).
std::uintptr_t g_areaBegin = 0;

std::uintptr_t AreaBegin() {
  return g_areaBegin;
}

bool InArea(std::uintptr_t from, std::uintptr_t to) {
  return from >= AreaBegin() && to <= AreaBegin() + kTempTextAreaSize;
}

void ClearRecord(int n) {
  g_ring.records[n].bytes = 0;
  g_ring.ranges[n][1] = {0, 0};
  g_ring.ranges[n][2] = {0, 0};
}

// Enters a range that slot n reads, and tells the lifetimes' quiet window.
void AddRange(int n, int index, std::uintptr_t from, std::uintptr_t to) {
  if (to <= from) to = from + 1;
  g_ring.ranges[n][index] = {from, to};
  NoteWatched(from, to);
  if (!InArea(from, to)) g_ring.outsideSlots |= 1u << n;
}

// Slot n no longer reads anything: it holds the empty text. Its origin stays
// (the element it was read from is still there).
void ForgetSlot(int n) {
  g_ring.slots[n].address = Address(g_emptyText);
  g_ring.slots[n].length = 0;
  ClearRecord(n);
  g_ring.ranges[n][0] = {0, 0};
  g_ring.outsideSlots &= ~(1u << n);
}

bool SlotMeets(int n, std::uintptr_t from, std::uintptr_t to) {
  for (const Range& range : g_ring.ranges[n]) {
    if (RangesMeet(range, from, to)) return true;
  }
  return false;
}

// The ring's part of the quiet window: the lowest start of its ranges that
// end after at and start before end.
std::uintptr_t LowestRingRange(std::uintptr_t at, std::uintptr_t end) {
  std::uintptr_t lowest = UINTPTR_MAX;
  for (int n = 1; n <= kResultSlotCount; ++n) {
    for (const Range& range : g_ring.ranges[n]) {
      if (range.to > at && range.from < end && range.from < lowest) lowest = range.from;
    }
  }
  return lowest;
}

// Persistent copies released by anyone else are no longer the rotation's.
void ForgetPersistedCopies(std::uintptr_t from, std::uintptr_t to) {
  for (char*& place : g_persist.places) {
    if (place != nullptr && Address(place) >= from && Address(place) < to) {
      place = nullptr;
      --g_persist.count;
    }
  }
}

// The ring's watcher (support/lifetimes.h): results whose text, record or
// record sources lie in the range become empty texts; origins in it (an
// array header released) are forgotten with their field mark.
void ForgetRingStorage(std::uintptr_t from, std::uintptr_t to) {
  if (InArea(from, to)) {
    for (int n = 1; n <= kResultSlotCount; ++n) {
      if (SlotMeets(n, from, to)) ForgetSlot(n);
    }
    return;
  }
  for (std::uint32_t slots = g_ring.outsideSlots; slots != 0; slots &= slots - 1) {
    const int n = __builtin_ctz(slots);
    if (SlotMeets(n, from, to)) ForgetSlot(n);
  }
  if (g_ring.originSlots != 0 && from <= g_ring.originHigh && to > g_ring.originLow) {
    std::uintptr_t low = UINTPTR_MAX;
    std::uintptr_t high = 0;
    for (std::uint32_t slots = g_ring.originSlots; slots != 0; slots &= slots - 1) {
      const int n = __builtin_ctz(slots);
      const std::uintptr_t origin = g_ring.origins[n];
      if (origin >= from && origin < to) {
        g_ring.origins[n] = 0;
        g_ring.fieldSerials[n] = 0;
        g_ring.originSlots &= ~(1u << n);
        continue;
      }
      low = origin < low ? origin : low;
      high = origin > high ? origin : high;
    }
    g_ring.originLow = low;
    g_ring.originHigh = high;
  }
  if (g_persist.count != 0) ForgetPersistedCopies(from, to);
}

// ---- Carrying out records ----

// Where a record is being carried out: the next byte and the room left.
struct Output {
  char* at;
  std::size_t room;
};

void Put(Output* out, const char* from, std::size_t count) {
  if (count > out->room) count = out->room;
  std::memmove(out->at, from, count);
  out->at += count;
  out->room -= count;
}

void PutBetween(Output* out, const char* from, const char* to) {
  if (to > from) Put(out, from, static_cast<std::size_t>(to - from));
}

// The length of a text that may lie in the temporary text area: there it is
// looked for no further than the area's end.
std::size_t BoundedLength(const char* text) {
  const char* area = TempTextArea();
  if (text >= area && text < area + kTempTextAreaSize) {
    const void* zero =
        std::memchr(text, 0, static_cast<std::size_t>(area + kTempTextAreaSize - text));
    return zero == nullptr ? 0 : static_cast<std::size_t>(static_cast<const char*>(zero) - text);
  }
  return TextLengthSse2(text);
}

// A match is used only when it lies in the source after the previous one:
// the list is the one stretch of a record that stays in the area.
void MaterialiseSubstitution(const RecordCopy& record, Output* out) {
  const char* replacement = WordAddress(record.fields[0]);
  const DeferredWord patternLength = record.fields[1];
  const char* position = WordAddress(record.fields[2]);
  const char* end = WordAddress(record.fields[3]);
  const std::size_t replacementLength = BoundedLength(replacement);
  for (std::uint32_t i = 0; i < record.matchCount && out->room > 0; ++i) {
    const char* match = WordAddress(ReadWord(record.matches, static_cast<int>(i)));
    if (match < position || match > end || end - match < patternLength) break;
    PutBetween(out, position, match);
    Put(out, replacement, replacementLength);
    position = match + patternLength;
  }
  PutBetween(out, position, end);
}

void MaterialiseZeroBuffer(const RecordCopy& record, Output* out) {
  const DeferredWord size = record.fields[0] - 1;
  if (size <= 0) return;
  const std::size_t count =
      static_cast<std::size_t>(size) < out->room ? static_cast<std::size_t>(size) : out->room;
  std::memset(out->at, 0, count);
  out->at += count;
  out->room -= count;
}

// UTF-16 sources are converted unit by unit: converting their bytes one by
// one as ANSI text would turn units above 0xFF into other characters.
void MaterialiseCase(const RecordCopy& record, Output* out) {
  const char* source = WordAddress(record.fields[0]);
  const DeferredWord length = record.fields[1];
  const DeferredWord flags = record.fields[2];
  if (length <= 0) return;
  char* const destination = out->at;
  Put(out, source, static_cast<std::size_t>(length));
  const DWORD count = static_cast<DWORD>(out->at - destination);
  const bool upper = (flags & kCaseUpper) != 0;
  if ((flags & kCaseWide) != 0) {
    LPWSTR units = reinterpret_cast<LPWSTR>(destination);
    upper ? CharUpperBuffW(units, count / 2) : CharLowerBuffW(units, count / 2);
  } else {
    upper ? CharUpperBuffA(destination, count) : CharLowerBuffA(destination, count);
  }
}

// Records of other families: the handler gets the recorded fields; a file
// read is cut to the room left.
void MaterialiseByHandler(const RecordCopy& record, Output* out) {
  const DeferredWord code = record.code;
  if (code < kDeferredSubstitute || code > kDeferredCase) return;
  const DeferredHandler handler = g_deferredHandlers[code - kDeferredSubstitute];
  if (handler == nullptr) return;
  DeferredWord fields[2] = {record.fields[0], record.fields[1]};
  if (code == kDeferredFileRead && static_cast<std::uint32_t>(fields[1]) > out->room) {
    fields[1] = static_cast<DeferredWord>(out->room);
  }
  char* const end = handler(fields, out->at);
  const std::size_t produced = static_cast<std::size_t>(end - out->at);
  out->room -= produced < out->room ? produced : out->room;
  out->at = end;
}

// Carries out the record slot n holds at destination, at most capacity bytes;
// returns the end of what it produced.
char* MaterialiseSlot(int n, char* destination, std::size_t capacity) {
  const RecordCopy& record = g_ring.records[n];
  Output out = {destination, capacity};
  if (record.bytes == 0) return destination;
  switch (record.code) {
    case kDeferredSubstitute:
      MaterialiseSubstitution(record, &out);
      break;
    case kDeferredZeroBuffer:
      MaterialiseZeroBuffer(record, &out);
      break;
    case kDeferredCase:
      MaterialiseCase(record, &out);
      break;
    default:
      MaterialiseByHandler(record, &out);
      break;
  }
  return out.at;
}

// The number of bytes the deferred result in slot n produces.
std::uint32_t ProducedLength(int n) {
  const RecordCopy& record = g_ring.records[n];
  if (record.code == kDeferredZeroBuffer) {
    const DeferredWord size = record.fields[0] - 1;
    return size <= 0 ? 0 : static_cast<std::uint32_t>(size);
  }
  return static_cast<std::uint32_t>(AbsoluteLength(&g_ring.slots[n]));
}

// Carries out the deferred result in slot n into the temporary text area and
// leaves its text in the slot in place of the record.
TextView CarryOutIntoArea(int n) {
  const std::uint32_t produced = ProducedLength(n);
  if (produced > kLongestTempText) FatalError(kErrorBuffer, nullptr);
  const char* end = MaterialiseSlot(n, g_producedText, produced);
  const std::uint32_t length = static_cast<std::uint32_t>(end - g_producedText);
  char* at = TempTextReserve(length + 1);
  std::memcpy(at, g_producedText, length);
  at[length] = '\0';
  TempTextFinish(at + length);
  FillResultSlot(&g_ring.slots[n], at, static_cast<std::int32_t>(length));
  return {at, static_cast<std::int32_t>(length)};
}

// What the library wrote from record to end, read right after it wrote it:
// the copy and the ranges slot n now reads.
void RecordWhatWasWritten(int n, const char* record, const char* end) {
  RecordCopy& copy = g_ring.records[n];
  g_ring.extraSlots |= 1u << n;
  const std::uint32_t bytes = static_cast<std::uint32_t>(end - record);
  const int words = static_cast<int>(bytes / sizeof(DeferredWord));
  copy = {};
  copy.bytes = bytes;
  copy.code = ReadWord(record, 1);
  const std::uintptr_t recordFrom = Address(record);
  AddRange(n, 0, recordFrom, Address(end));
  if (copy.code == kDeferredSubstitute && words >= 7) {
    const char* replacement = WordAddress(ReadWord(record, 2));
    const std::size_t replacementLength = BoundedLength(replacement);
    copy.fields[0] = ReadWord(record, 2);
    copy.fields[1] = ReadWord(record, 3);
    copy.fields[2] = ReadWord(record, 4);
    copy.fields[3] = ReadWord(record, words - 2);
    copy.fields[4] = static_cast<DeferredWord>(replacementLength);
    copy.matches = record + 5 * sizeof(DeferredWord);
    copy.matchCount = static_cast<std::uint32_t>(words - 7);
    AddRange(n, 1, Address(WordAddress(copy.fields[2])), Address(WordAddress(copy.fields[3])));
    AddRange(n, 2, Address(replacement), Address(replacement) + replacementLength + 1);
  } else if (copy.code == kDeferredCase && words >= 5) {
    for (int i = 0; i < 3; ++i) copy.fields[i] = ReadWord(record, 2 + i);
    if (copy.fields[1] > 0) {
      const std::uintptr_t source = Address(WordAddress(copy.fields[0]));
      AddRange(n, 1, source, source + static_cast<std::uintptr_t>(copy.fields[1]));
    }
  } else if (copy.code == kDeferredZeroBuffer && words >= 3) {
    copy.fields[0] = ReadWord(record, 2);
  } else if (copy.code == kDeferredFileRead && words >= 4) {
    copy.fields[0] = ReadWord(record, 2);
    copy.fields[1] = ReadWord(record, 3);
    const char* name = WordAddress(copy.fields[0]);
    const bool inRecord = Address(name) >= recordFrom && Address(name) < Address(end);
    if (name != nullptr && !inRecord) {
      AddRange(n, 1, Address(name), Address(name) + BoundedLength(name) + 1);
    }
  } else {
    copy.bytes = 0;  // not a record the library makes: a text after all
  }
}

// Finishes a record written from the free position to end and enters it in
// the slot that selector chooses, marked as deferred, with resultLength.
ResultSlotRecord* CommitRecord(const char* end, std::uintptr_t selector,
                               std::int32_t resultLength) {
  char* const record = TempTextFinish(end);
  ResultSlotRecord* slot = ResultSlot(selector);
  FillResultSlot(slot, record, resultLength);
  RecordWhatWasWritten(SlotNumber(slot), record, end);
  return slot;
}

bool Overlaps(const char* from, const char* to, const char* otherFrom, const char* otherTo) {
  const auto a = reinterpret_cast<std::uintptr_t>(from), b = reinterpret_cast<std::uintptr_t>(to);
  const auto c = reinterpret_cast<std::uintptr_t>(otherFrom);
  const auto d = reinterpret_cast<std::uintptr_t>(otherTo);
  return a < d && c < b;
}

// A substitution record under construction. Before each word is written it
// is checked against the texts the record refers to (the source, the pattern
// while it is searched for, the replacement and its NUL): once a word would
// overwrite one of them, writing stops and the text is produced at once.
struct RecordWriter {
  char* begin;
  char* at;
  std::uint64_t words;  // written or not, for the area limit
  bool writing;
  const TextView* texts;
  int textCount;
};

void AppendWord(RecordWriter* writer, DeferredWord word) {
  ++writer->words;
  const std::uint64_t reach =
      static_cast<std::uint64_t>(writer->begin - TempTextArea()) + writer->words * sizeof word;
  if (reach > kSubstituteLimit) FatalError(kErrorBuffer, nullptr);
  if (!writer->writing) return;
  for (int i = 0; i < writer->textCount; ++i) {
    const TextView& text = writer->texts[i];
    if (Overlaps(writer->at, writer->at + sizeof word, text.text, text.text + text.length + 1)) {
      writer->writing = false;
      return;
    }
  }
  std::memcpy(writer->at, &word, sizeof word);
  writer->at += sizeof word;
}

// The next match of find in text at or after from, or nullptr.
const char* NextMatch(const TextView& text, const char* from, const TextView& find,
                      std::uint32_t mode) {
  const std::int32_t offset = static_cast<std::int32_t>(from - text.text);
  // Only the rest of the source is searched, so that finding every match costs
  // one pass over the source. A whole-word search also sees the byte before
  // the rest (it decides whether a match there starts a word) and begins
  // after it.
  const bool wholeWord = (mode & kFindWholeWord) != 0 && offset > 0;
  const TextView rest = wholeWord ? TextView{from - 1, text.length - offset + 1}
                                  : TextView{from, text.length - offset};
  const FindResult found = TextFindView(wholeWord ? 2 : 1, rest, find, mode);
  return found.position == 0 ? nullptr : static_cast<const char*>(found.address);
}

// The substitution produced at once (into the side buffer, then the area),
// for when its record would overwrite its own texts.
ResultSlotRecord* SubstituteNow(const TextView& text, const TextView& find, const TextView& put,
                                std::uint32_t mode, std::uint32_t limit) {
  Output out = {g_producedText, kLongestTempText};
  const char* position = text.text;
  for (std::uint32_t matches = 0; limit == 0 || matches < limit; ++matches) {
    const char* match = NextMatch(text, position, find, mode);
    if (match == nullptr) break;
    PutBetween(&out, position, match);
    Put(&out, put.text, static_cast<std::size_t>(put.length));
    position = match + find.length;
  }
  PutBetween(&out, position, text.text + text.length);
  const std::uint32_t length = static_cast<std::uint32_t>(out.at - g_producedText);
  char* at = TempTextReserve(length + 1);
  std::memcpy(at, g_producedText, length);
  at[length] = '\0';
  return TempTextEnd(at + length, kSlotNext).slot;
}

struct MidRange {
  std::int64_t start;
  std::int64_t taken;
};

MidRange MidOf(std::int64_t length, std::int64_t wanted, std::int32_t position) {
  if (wanted == 0 || position == 0) return {0, 0};
  if (position > 0) {
    const std::int64_t start = position > length ? length : position - 1;
    const std::int64_t remaining = length - start;
    return {start, wanted < 0 || wanted > remaining ? remaining : wanted};
  }
  if (wanted < 0 || wanted > length) return {0, length};
  return {length - wanted, wanted};
}

// TextMid of a deferred zero buffer: part of it is a zero buffer too.
ResultSlotRecord* MidOfZeroBuffer(StringArg source, const RecordCopy& record, std::int64_t wanted,
                                  std::int32_t position) {
  const DeferredWord size = record.fields[0] - 1;
  const MidRange range = MidOf(size < 0 ? 0 : size, wanted, position);
  const std::uintptr_t selector = source == kNewestResult ? kSlotCurrent : kSlotNext;
  if (range.taken == 0) {
    ResultSlotRecord* slot = ResultSlot(selector);
    FillResultSlot(slot, g_emptyText, 0);
    return slot;
  }
  const DeferredWord words[] = {kDeferredMarker, kDeferredZeroBuffer,
                                static_cast<DeferredWord>(range.taken + 1)};
  char* at = TempTextReserve(sizeof words);
  std::memcpy(at, words, sizeof words);
  return CommitRecord(at + sizeof words, selector, static_cast<std::int32_t>(range.taken + 1));
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
  if (argument < kPredefinedTextCount) {
    const TextPair pair = PredefinedText(static_cast<int>(argument));
    return ViewOfPair(pair.address, pair.length);
  }
  ResultSlotRecord* slot = SlotOfArgument(argument);
  if (slot == nullptr) return EmptyView();
  const int n = SlotNumber(slot);
  if (g_ring.records[n].bytes != 0) return CarryOutIntoArea(n);
  return ViewOfPair(slot->address, slot->length);
}

ResultSlotRecord* ResultSlot(std::uintptr_t selector) {
  if (g_ring.current == 0) {
    EnsureLibraryInit();
    WatchStorage({ForgetRingStorage, LowestRingRange});
    g_areaBegin = Address(TempTextArea());
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

namespace {

// Slot n views (text, length): the range it reads, told to the quiet window.
// The shared empty text and a null address read no storage that can go.
void ViewText(int n, const void* text, std::int32_t length) {
  const std::uint32_t bit = 1u << n;
  Range& view = g_ring.ranges[n][0];
  if (text == nullptr || text == g_emptyText) {
    view = {0, 0};
    g_ring.outsideSlots &= ~bit;
    return;
  }
  const std::uintptr_t from = Address(text);
  const std::uint32_t bytes =
      length < 0 ? 0u - static_cast<std::uint32_t>(length) : static_cast<std::uint32_t>(length);
  const std::uintptr_t to = from + bytes + 1;
  view = {from, to};
  NoteWatched(from, to);
  const std::uint32_t outside = InArea(from, to) ? 0 : bit;
  g_ring.outsideSlots = (g_ring.outsideSlots & ~bit) | outside;
}

// Slot n's origin, and the range the origins lie in.
void SetOrigin(int n, std::uintptr_t origin) {
  g_ring.origins[n] = origin;
  if (n == 0 || origin == 0) return;
  g_ring.originSlots |= 1u << n;
  g_ring.extraSlots |= 1u << n;
  if (g_ring.originLow > g_ring.originHigh) g_ring.originLow = g_ring.originHigh = origin;
  g_ring.originLow = origin < g_ring.originLow ? origin : g_ring.originLow;
  g_ring.originHigh = origin > g_ring.originHigh ? origin : g_ring.originHigh;
}

// The slot after the current one becomes the current one (as
// ResultSlot(kSlotNext) once the ring is in use); returns its number.
int StepToNextSlot() {
  int n = g_ring.current;
  if (g_ring.slots[n].address != kSlotNext) n = n == kResultSlotCount ? 1 : n + 1;
  g_ring.current = n;
  return n;
}

}  // namespace

void FillResultSlot(ResultSlotRecord* slot, const void* text, std::int32_t length) {
  slot->address = Address(text);
  slot->length = length;
  const int n = SlotNumber(slot);
  if (n == 0) return;
  const std::uint32_t bit = 1u << n;
  if ((g_ring.extraSlots & bit) != 0) {
    g_ring.origins[n] = 0;
    g_ring.fieldSerials[n] = 0;
    g_ring.originSlots &= ~bit;
    g_ring.extraSlots &= ~bit;
    ClearRecord(n);
  }
  ViewText(n, text, length);
}

ResultSlotRecord* NewElementResult(const char* text, std::int32_t length, std::uintptr_t origin) {
  if (g_ring.current == 0 || origin == 0) {
    ResultSlotRecord* slot = ResultSlot(kSlotNext);
    FillResultSlot(slot, text, length);
    SetResultOrigin(slot, origin);
    return slot;
  }
  const int n = StepToNextSlot();
  ResultSlotRecord* slot = &g_ring.slots[n];
  slot->address = Address(text);
  slot->length = length;
  if ((g_ring.extraSlots & (1u << n)) != 0) {
    g_ring.fieldSerials[n] = 0;
    ClearRecord(n);
  }
  ViewText(n, text, length);
  SetOrigin(n, origin);
  return slot;
}

// The slot after the current one takes the text; a slot with an origin or a
// record to clear, the ring's first use or a negative length go the general
// way. An area text needs no empty-text test, and is never outside the area.
ResultSlotRecord* NewAreaResult(const char* text, std::int32_t length) {
  int n = g_ring.current;
  if (n == 0 || length < 0) {
    ResultSlotRecord* slot = ResultSlot(kSlotNext);
    FillResultSlot(slot, text, length);
    return slot;
  }
  n = StepToNextSlot();
  ResultSlotRecord* slot = &g_ring.slots[n];
  const std::uint32_t bit = 1u << n;
  if ((g_ring.extraSlots & bit) != 0) {
    FillResultSlot(slot, text, length);
    return slot;
  }
  const std::uintptr_t from = Address(text);
  const std::uintptr_t to = from + static_cast<std::uint32_t>(length) + 1;
  slot->address = from;
  slot->length = length;
  g_ring.ranges[n][0] = {from, to};
  NoteWatched(from, to);
  g_ring.outsideSlots &= ~bit;
  return slot;
}

std::uintptr_t& ResultOrigin(const ResultSlotRecord* slot) {
  const int n = SlotNumber(slot);
  g_ring.originSlots |= 1u << n;
  g_ring.extraSlots |= 1u << n;
  // The caller may write any origin through the reference.
  g_ring.originLow = 0;
  g_ring.originHigh = UINTPTR_MAX;
  return g_ring.origins[n];
}

std::uintptr_t OriginOf(const ResultSlotRecord* slot) {
  return g_ring.origins[SlotNumber(slot)];
}

std::uint32_t FieldSerialOf(const ResultSlotRecord* slot) {
  return g_ring.fieldSerials[SlotNumber(slot)];
}

void SetResultOrigin(const ResultSlotRecord* slot, std::uintptr_t origin) {
  SetOrigin(SlotNumber(slot), origin);
}

std::uint32_t& ResultFieldSerial(const ResultSlotRecord* slot) {
  const int n = SlotNumber(slot);
  g_ring.extraSlots |= 1u << n;
  return g_ring.fieldSerials[n];
}

bool ResultReads(const ResultSlotRecord* slot, const void* from, const void* to) {
  const int n = SlotNumber(slot);
  if (n == 0) {
    const std::uint64_t bytes = slot->length < 0 ? -std::int64_t{slot->length} : slot->length;
    const Range view = {slot->address, slot->address + static_cast<std::uintptr_t>(bytes) + 1};
    return RangesMeet(view, Address(from), Address(to));
  }
  return SlotMeets(n, Address(from), Address(to));
}

std::int32_t ResultTextLength(const ResultSlotRecord* slot) {
  const int n = SlotNumber(slot);
  if (n != 0 && g_ring.records[n].bytes != 0) return static_cast<std::int32_t>(ProducedLength(n));
  return AbsoluteLength(slot);
}

char* MaterialiseResult(const ResultSlotRecord* slot, char* destination, std::size_t capacity) {
  return MaterialiseSlot(SlotNumber(slot), destination, capacity);
}

// A deferred newest result is carried out into the copy, so the copy holds
// the text the record stands for. The copies are pooled blocks: when one is
// released by anyone else its place forgets it (ForgetPersistedCopies).
char* ResultPersist() {
  WatchStorage({ForgetRingStorage, LowestRingRange});
  g_areaBegin = Address(TempTextArea());
  const ResultSlotRecord* newest = g_ring.current == 0 ? nullptr : &g_ring.slots[g_ring.current];
  const TextView text =
      newest == nullptr ? EmptyView() : ViewOfPair(newest->address, newest->length);
  const bool deferred = newest != nullptr && g_ring.records[g_ring.current].bytes != 0;
  const std::size_t length = static_cast<std::size_t>(text.length);
  char* copy = static_cast<char*>(BlockAllocate(length + 1, 0));
  char* end = copy + length;
  if (deferred) {
    end = MaterialiseSlot(g_ring.current, copy, length);
  } else {
    std::memcpy(copy, text.text, length);
  }
  *end = '\0';
  g_persist.index = g_persist.index == kPersistPlaces ? 1 : g_persist.index + 1;
  char* const old = g_persist.places[g_persist.index];
  g_persist.places[g_persist.index] = copy;
  g_persist.count += old == nullptr ? 1 : 0;
  BlockRelease(old);
  return copy;
}

// ---- Deferred records ----

const void* ResultDeferredRecord(const ResultSlotRecord* slot) {
  const int n = SlotNumber(slot);
  if (n == 0 || g_ring.records[n].bytes == 0) return nullptr;
  return reinterpret_cast<const void*>(slot->address);
}

char* DeferredMaterialise(const void* record, char* destination) {
  return DeferredMaterialiseWithin(record, destination, SIZE_MAX);
}

// Only a record the ring still holds is carried out, from what the library
// recorded when it made it.
char* DeferredMaterialiseWithin(const void* record, char* destination, std::size_t capacity) {
  for (int n = 1; n <= kResultSlotCount; ++n) {
    if (g_ring.records[n].bytes != 0 && g_ring.slots[n].address == Address(record)) {
      return MaterialiseSlot(n, destination, capacity);
    }
  }
  return destination;
}

const char* KeepSourceApart(const char* text, std::uint32_t bytes, std::uint32_t recordBytes) {
  const char* begin = TempTextBegin();
  if (!Overlaps(text, text + bytes + 1, begin, begin + recordBytes)) return text;
  char* at = TempTextReserve(bytes + 1);
  std::memmove(at, text, bytes);
  at[bytes] = '\0';
  return TempTextFinish(at + bytes);
}

void SetDeferredHandler(DeferredWord code, DeferredHandler handler) {
  if (code < kDeferredSubstitute || code > kDeferredCase) return;
  g_deferredHandlers[code - kDeferredSubstitute] = handler;
}

ResultSlotRecord* DeferredCommit(const DeferredWord* words, int count, std::int32_t resultLength) {
  const std::uint32_t bytes = static_cast<std::uint32_t>(count) * sizeof(DeferredWord);
  char* at = TempTextReserve(bytes);
  std::memcpy(at, words, bytes);
  return CommitRecord(at + bytes, kSlotNext, resultLength);
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
  // The produced length is followed match by match, in 64 bits.
  const std::int64_t step = std::int64_t{put.length} - find.length;
  std::int64_t produced = text.length;
  if (produced > kLongestTempText) FatalError(kErrorBuffer, nullptr);
  const TextView texts[] = {text, find, put};
  RecordWriter writer = {TempTextBegin(), TempTextBegin(), 0, true, texts, 3};
  AppendWord(&writer, kDeferredMarker);
  AppendWord(&writer, kDeferredSubstitute);
  AppendWord(&writer, AddressWord(put.text));
  AppendWord(&writer, find.length);
  AppendWord(&writer, AddressWord(text.text));
  const char* position = text.text;
  for (std::uint32_t matches = 0; limit == 0 || matches < limit; ++matches) {
    const char* match = NextMatch(text, position, find, mode);
    if (match == nullptr) break;
    produced += step;
    if (produced > kLongestTempText) FatalError(kErrorBuffer, nullptr);
    AppendWord(&writer, AddressWord(match));
    position = match + find.length;
  }
  AppendWord(&writer, AddressWord(text.text + text.length));
  AppendWord(&writer, 0);
  if (!writer.writing) return SubstituteNow(text, find, put, mode, limit);
  return CommitRecord(writer.at, kSlotNext, static_cast<std::int32_t>(produced));
}

ResultSlotRecord* NewZeroText(std::int32_t size) {
  if (size <= 0 || size == INT32_MAX) FatalError(kErrorBuffer, nullptr);
  const DeferredWord words[] = {kDeferredMarker, kDeferredZeroBuffer, DeferredWord{size} + 1};
  return DeferredCommit(words, 3, size + 1);
}

ResultSlotRecord* TextCase(StringArg source, std::uint32_t flags) {
  TextView text = ResolveString(source);
  if (source == kNewestResult && g_ring.current != 0) ResultSlot(kSlotBack);
  if ((flags & kCaseWide) != 0 && source > kNewestResult) {
    const std::uint64_t bytes = 2 * std::uint64_t{WideTextLength(text.text)};
    if (bytes > INT32_MAX) FatalError(kErrorBuffer, nullptr);
    text.length = static_cast<std::int32_t>(bytes);
  }
  constexpr int kWords = 5;
  const char* kept = KeepSourceApart(text.text, static_cast<std::uint32_t>(text.length),
                                     kWords * sizeof(DeferredWord));
  const DeferredWord words[kWords] = {kDeferredMarker, kDeferredCase, AddressWord(kept),
                                      text.length, static_cast<DeferredWord>(flags)};
  return DeferredCommit(words, kWords, text.length);
}

ResultSlotRecord* TextMid(StringArg source, std::int32_t count, std::int32_t position) {
  const std::uint32_t raw = static_cast<std::uint32_t>(count);
  const bool wide = (raw >> 24) == 0x80;
  const std::int64_t wanted = wide ? std::int64_t{raw & 0x7FFFFFFF} * 2 : count;
  const ResultSlotRecord* sourceSlot = SlotOfArgument(source);
  const int n = sourceSlot == nullptr ? 0 : SlotNumber(sourceSlot);
  if (n != 0 && g_ring.records[n].bytes != 0 && g_ring.records[n].code == kDeferredZeroBuffer) {
    return MidOfZeroBuffer(source, g_ring.records[n], wanted, position);
  }
  const TextView text = ResolveString(source);
  std::int64_t length = text.length;
  if (wide && source > kNewestResult) length = 2 * std::int64_t{WideTextLength(text.text)};
  const MidRange range = MidOf(length, wanted, position);
  if (range.taken > INT32_MAX) FatalError(kErrorBuffer, nullptr);
  const char* address = text.text + range.start;
  ResultSlotRecord* slot = ResultSlot(
      source == kNewestResult ? kSlotCurrent : reinterpret_cast<std::uintptr_t>(address));
  FillResultSlot(slot, address, static_cast<std::int32_t>(range.taken));
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
  if (bytes < 1 || bytes > 4) bytes = 4;
  HexDigits(value, 2 * bytes, g_hexText);
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
