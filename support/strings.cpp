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
constexpr std::uint32_t kLongestTempText = kTempTextMaxBytes - 1;  // its NUL not counted

struct ResultRing {
  ResultSlotRecord slots[kResultSlotCount + 1];  // 1 to 15; 0 unused
  std::uintptr_t origins[kResultSlotCount + 1];  // beside the slots of the same number
  // The size in bytes of the deferred record the library committed in the
  // slot of the same number; 0 when the slot holds a plain text.
  std::uint32_t recordBytes[kResultSlotCount + 1];
  // Bit n set exactly when recordBytes[n] is not 0, so that the check made
  // for every new temporary text passes over a ring without records at once.
  std::uint32_t recordSlots;
  int current;  // 0 before the first result
};

struct PersistRotation {
  char* places[kPersistPlaces + 1];  // 1 to 7
  int index;
};

ResultRing g_ring = {};
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
  const auto at = reinterpret_cast<std::uintptr_t>(slot);
  const auto first = reinterpret_cast<std::uintptr_t>(&g_ring.slots[1]);
  if (at < first || (at - first) % sizeof *slot != 0) return 0;
  const std::uintptr_t n = (at - first) / sizeof *slot + 1;
  return n <= kResultSlotCount ? static_cast<int>(n) : 0;
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
// looked for no further than the area's end, since the text may have been
// overwritten since the record was made.
std::size_t BoundedLength(const char* text) {
  const char* area = TempTextArea();
  if (text >= area && text < area + kTempTextAreaSize) {
    const void* zero =
        std::memchr(text, 0, static_cast<std::size_t>(area + kTempTextAreaSize - text));
    return zero == nullptr ? 0 : static_cast<std::size_t>(static_cast<const char*>(zero) - text);
  }
  return TextLengthSse2(text);
}

void MaterialiseSubstitution(const void* record, Output* out) {
  const char* replacement = WordAddress(ReadWord(record, 2));
  const std::size_t replacementLength = BoundedLength(replacement);
  const DeferredWord patternLength = ReadWord(record, 3);
  const char* position = WordAddress(ReadWord(record, 4));
  int field = 5;
  for (; ReadWord(record, field + 1) != 0 && out->room > 0; ++field) {
    const char* match = WordAddress(ReadWord(record, field));
    PutBetween(out, position, match);
    Put(out, replacement, replacementLength);
    position = match + patternLength;
  }
  if (out->room > 0) {
    while (ReadWord(record, field + 1) != 0) ++field;
    PutBetween(out, position, WordAddress(ReadWord(record, field)));
  }
}

void MaterialiseZeroBuffer(const void* record, Output* out) {
  const DeferredWord size = ReadWord(record, 2) - 1;
  if (size <= 0) return;
  const std::size_t count =
      static_cast<std::size_t>(size) < out->room ? static_cast<std::size_t>(size) : out->room;
  std::memset(out->at, 0, count);
  out->at += count;
  out->room -= count;
}

// UTF-16 sources are converted unit by unit: converting their bytes one by
// one as ANSI text would turn units above 0xFF into other characters.
void MaterialiseCase(const void* record, Output* out) {
  const char* source = WordAddress(ReadWord(record, 2));
  const DeferredWord length = ReadWord(record, 3);
  const DeferredWord flags = ReadWord(record, 4);
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

// Records of other families: the handler gets a copy of the first fields;
// a file read is cut to the room left.
void MaterialiseByHandler(DeferredWord code, const void* record, Output* out) {
  if (code < kDeferredSubstitute || code > kDeferredCase) return;
  const DeferredHandler handler = g_deferredHandlers[code - kDeferredSubstitute];
  if (handler == nullptr) return;
  if (code != kDeferredFileRead) {
    out->at = handler(static_cast<const DeferredWord*>(record) + 2, out->at);
    return;
  }
  DeferredWord fields[2] = {ReadWord(record, 2), ReadWord(record, 3)};
  const std::uint32_t size = static_cast<std::uint32_t>(fields[1]);
  if (size > out->room) fields[1] = static_cast<DeferredWord>(out->room);
  char* const end = handler(fields, out->at);
  out->room -= static_cast<std::size_t>(end - out->at);
  out->at = end;
}

// The number of bytes the deferred result in slot produces.
std::uint32_t ProducedLength(const ResultSlotRecord* slot, const void* record) {
  if (ReadWord(record, 1) == kDeferredZeroBuffer) {
    const DeferredWord size = ReadWord(record, 2) - 1;
    return size <= 0 ? 0 : static_cast<std::uint32_t>(size);
  }
  return static_cast<std::uint32_t>(AbsoluteLength(slot));
}

// Carries out the deferred result in slot into the temporary text area and
// leaves its text in the slot in place of the record.
TextView CarryOutIntoArea(ResultSlotRecord* slot, const void* record) {
  const std::uint32_t produced = ProducedLength(slot, record);
  if (produced > kLongestTempText) FatalError(kErrorBuffer, nullptr);
  const char* end = DeferredMaterialiseWithin(record, g_producedText, produced);
  const std::uint32_t length = static_cast<std::uint32_t>(end - g_producedText);
  char* at = TempTextReserve(length + 1);
  std::memcpy(at, g_producedText, length);
  at[length] = '\0';
  TempTextFinish(at + length);
  FillResultSlot(slot, at, static_cast<std::int32_t>(length));
  return {at, static_cast<std::int32_t>(length)};
}

// Finishes a record written from the free position to end and enters it in
// the slot that selector chooses, marked as deferred, with resultLength.
ResultSlotRecord* CommitRecord(const char* end, std::uintptr_t selector,
                               std::int32_t resultLength) {
  char* const record = TempTextFinish(end);
  ResultSlotRecord* slot = ResultSlot(selector);
  FillResultSlot(slot, record, resultLength);
  g_ring.recordBytes[SlotNumber(slot)] = static_cast<std::uint32_t>(end - record);
  g_ring.recordSlots |= 1u << SlotNumber(slot);
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
ResultSlotRecord* MidOfZeroBuffer(StringArg source, const void* record, std::int64_t wanted,
                                  std::int32_t position) {
  const DeferredWord size = ReadWord(record, 2) - 1;
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
  const void* record = ResultDeferredRecord(slot);
  if (record != nullptr) return CarryOutIntoArea(slot, record);
  return ViewOfPair(slot->address, slot->length);
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
  g_ring.recordBytes[SlotNumber(slot)] = 0;
  g_ring.recordSlots &= ~(1u << SlotNumber(slot));
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
  const ResultSlotRecord* newest = g_ring.current == 0 ? nullptr : &g_ring.slots[g_ring.current];
  const TextView text =
      newest == nullptr ? EmptyView() : ViewOfPair(newest->address, newest->length);
  const void* record = newest == nullptr ? nullptr : ResultDeferredRecord(newest);
  const std::size_t length = static_cast<std::size_t>(text.length);
  char* copy = static_cast<char*>(BlockAllocate(length + 1, 0));
  char* end = copy + length;
  if (record != nullptr) {
    end = DeferredMaterialiseWithin(record, copy, length);
  } else {
    std::memcpy(copy, text.text, length);
  }
  *end = '\0';
  g_persist.index = g_persist.index == kPersistPlaces ? 1 : g_persist.index + 1;
  BlockRelease(g_persist.places[g_persist.index]);
  g_persist.places[g_persist.index] = copy;
  return copy;
}

// ---- Deferred records ----

const void* ResultDeferredRecord(const ResultSlotRecord* slot) {
  const int n = SlotNumber(slot);
  if (n == 0 || g_ring.recordBytes[n] == 0) return nullptr;
  return reinterpret_cast<const void*>(slot->address);
}

void ForgetOverwrittenRecords(const char* from, const char* to) {
  for (std::uint32_t slots = g_ring.recordSlots & ~1u; slots != 0; slots &= slots - 1) {
    const int n = __builtin_ctz(slots);
    const char* record = reinterpret_cast<const char*>(g_ring.slots[n].address);
    if (!Overlaps(record, record + g_ring.recordBytes[n], from, to)) continue;
    g_ring.recordBytes[n] = 0;
    g_ring.recordSlots &= ~(1u << n);
    g_ring.slots[n].length = 0;
  }
}

char* DeferredMaterialise(const void* record, char* destination) {
  return DeferredMaterialiseWithin(record, destination, SIZE_MAX);
}

char* DeferredMaterialiseWithin(const void* record, char* destination, std::size_t capacity) {
  if (ReadWord(record, 0) != kDeferredMarker) return destination;
  Output out = {destination, capacity};
  const DeferredWord code = ReadWord(record, 1);
  switch (code) {
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
      MaterialiseByHandler(code, record, &out);
      break;
  }
  return out.at;
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
  const void* record = sourceSlot == nullptr ? nullptr : ResultDeferredRecord(sourceSlot);
  if (record != nullptr && ReadWord(record, 1) == kDeferredZeroBuffer) {
    return MidOfZeroBuffer(source, record, wanted, position);
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
