// TextAssemble: item lengths, the room for the text, the copy pass with
// deferred results produced in place, and the delivery to each destination;
// FieldWriteBack, and the settings the routine reads.
#include "support/assemble.h"

#include <cstring>

#include "support/arrays.h"
#include "support/console.h"
#include "support/errors.h"
#include "support/files.h"
#include "support/heap.h"
#include "support/lifetimes.h"
#include "support/startup.h"
#include "support/temptext.h"
#include "trace/text.h"
#include "trace/vector_sets.h"

namespace tw {

namespace {

constexpr std::uint32_t kSpareBytes = 24;       // room beyond the text: T + 24
constexpr std::uint32_t kAreaEndReserve = 100;  // the room stays out of the area's last bytes
constexpr std::int64_t kLongestText = 0x7FFFFFFF - kSpareBytes - 2;
constexpr std::int32_t kUtf8ConsoleLimit = 160000;
constexpr std::uint32_t kWideBit = kAssembleWideItems;
constexpr std::uint32_t kElementBit = 1u << 31;
constexpr std::uint32_t kNewBlockBit = 1u << 30;
constexpr std::uint32_t kSecondByteShift = 8;
constexpr std::uint32_t kFileWord = 64;  // a control word of 64 or more names a file

enum class Destination {
  Element,  // also a field of an element
  NewBlock,
  Buffer,
  Window,
  WindowWide,
  ConsoleUtf8,
  File,
  Console,
};

// One item, as the length pass found it (the item length cache). A deferred
// item keeps its slot: it is carried out from what the ring recorded, and
// only while the ring still holds it.
struct Piece {
  const char* text;  // nullptr: the piece is gone (its storage went) and fills with zeros
  std::int32_t length;
  const ResultSlotRecord* deferred;  // the slot of a deferred result, else nullptr
};

struct AssembleSettings {
  std::int32_t lengthOverride;
  HWND window;
  std::int32_t consoleRedraw;
};

// The pieces of the assembly in progress; count is 0 between calls. Beside
// them: whether any is deferred, and the range the plain ones lie in, so
// that the room's checks usually take one compare.
struct Assembly {
  Piece pieces[kAssembleMaxItems];
  int count;
  bool anyDeferred;
  std::uintptr_t low;
  std::uintptr_t high;
  bool watching;  // the watcher is registered
};

Assembly g_assembly = {};
AssembleSettings g_settings = {};

Destination DestinationOf(std::uint32_t control) {
  if ((control & kElementBit) != 0) {
    return (control & kNewBlockBit) != 0 ? Destination::NewBlock : Destination::Element;
  }
  const std::uint32_t second = (control >> kSecondByteShift) & 0xFF;
  if (second == 8) return Destination::Buffer;
  if (second == 16) return Destination::Window;
  if (second == 20) return Destination::WindowWide;
  if (second == 4) return Destination::ConsoleUtf8;
  if (control >= kFileWord) return Destination::File;
  return Destination::Console;
}

// Slot number steps back from the current slot (the ring has 15 slots).
ResultSlotRecord* SlotBefore(int steps) {
  const int current = CurrentResultSlot();
  if (current == 0) return nullptr;
  const int n = current - steps % kResultSlotCount;
  return ResultSlotAt(n >= 1 ? n : n + kResultSlotCount);
}

std::int32_t AbsoluteLength(std::int32_t length) {
  return length < 0 ? -length : length;
}

// An item 127: the result's text, or its record for a deferred result (of
// the result's recorded length).
Piece PieceOfSlot(const ResultSlotRecord* slot) {
  if (slot == nullptr || slot->address == 0) return {g_emptyText, 0, nullptr};
  const char* text = reinterpret_cast<const char*>(slot->address);
  const bool deferred = ResultDeferredRecord(slot) != nullptr;
  return {text, AbsoluteLength(slot->length), deferred ? slot : nullptr};
}

// A result slot given by its code: a deferred one is produced into place
// like an item 127, but with the length of the text it produces (a zero
// buffer's record counts one byte more).
Piece PieceOfSlotCode(const ResultSlotRecord* slot) {
  Piece piece = PieceOfSlot(slot);
  if (piece.deferred != nullptr) piece.length = ResultTextLength(slot);
  return piece;
}

// A plain piece's length. Most pieces end within the aligned sixteen bytes
// that hold their first byte (an aligned block never crosses a page, and the
// bytes before the piece in it are not looked at); a longer one is measured
// by the chosen kernel. (Under the address sanitizer this stays a call of
// its own, which reads without its checks.)
TW_SSE2_ENTRY std::uint32_t PieceLength(const char* text) {
  using Set = vector_sets::Sse2;
  const auto address = reinterpret_cast<std::uintptr_t>(text);
  const Set::Mask zeros =
      Set::Zeros(Set::LoadAligned(reinterpret_cast<const char*>(address & ~std::uintptr_t{15}))) >>
      (address & 15);
  return zeros != 0 ? vector_sets::LowestLane(zeros) : TextLength(text);
}

// Whether the length override applies to this assembly's address items.
bool LengthOverridden(std::uint32_t control) {
  return g_settings.lengthOverride != 0 && control >= kFileWord && (control & kElementBit) == 0;
}

// Whether a plain address item of this assembly is measured as an ANSI text
// with no length override (every item of most assemblies).
bool PlainItemsAreAnsi(std::uint32_t control) {
  return (control & kWideBit) == 0 && !LengthOverridden(control);
}

// Any item but 127 that is not a plain ANSI address: a wide text, a text
// under the length override, a result code or a predefined text.
__attribute__((noinline)) Piece PieceOfItem(StringArg item, std::uint32_t control) {
  Piece piece = {g_emptyText, 0, nullptr};
  if (item > kNewestResult) {
    piece.text = reinterpret_cast<const char*>(item);
    piece.length = (control & kWideBit) != 0
                       ? static_cast<std::int32_t>(2 * WideTextLength(piece.text))
                       : static_cast<std::int32_t>(PieceLength(piece.text));
    if (LengthOverridden(control) && piece.length < g_settings.lengthOverride) {
      piece.length = g_settings.lengthOverride;
    }
    return piece;
  }
  if (item >= kFirstResultCode && item < kFirstResultCode + kResultSlotCount) {
    return PieceOfSlotCode(ResultSlotAt(static_cast<int>(item - kFirstResultCode) + 1));
  }
  // The predefined texts; codes with no entry (120 to 126 among them) are the
  // empty text.
  const TextView view = ResolveString(item);
  piece.text = view.text;
  piece.length = view.length;
  return piece;
}

// The pieces' totals as the length pass builds them: T, whether any piece is
// deferred, and the range the plain ones lie in.
struct Measure {
  std::int64_t total;
  bool anyDeferred;
  std::uintptr_t low;
  std::uintptr_t high;
};

void AddPiece(Measure* measure, const Piece& piece) {
  const auto length = static_cast<std::uint32_t>(piece.length);
  measure->total += piece.length;
  if (piece.deferred != nullptr) {
    measure->anyDeferred = true;
    return;
  }
  if (length == 0) return;
  const auto from = reinterpret_cast<std::uintptr_t>(piece.text);
  measure->low = from < measure->low ? from : measure->low;
  measure->high = from + length > measure->high ? from + length : measure->high;
}

// The m items that are 127 take the m newest results, oldest first.
void TakeNewestResults(const StringArg* items, int count, int newestTaken, Measure* measure) {
  int taken = 0;
  for (int i = 0; i < count; ++i) {
    if (items[i] != kNewestResult) continue;
    g_assembly.pieces[i] = PieceOfSlot(SlotBefore(newestTaken - 1 - taken));
    ++taken;
    AddPiece(measure, g_assembly.pieces[i]);
  }
}

// The length pass: fills the cache in text order and returns T; newestTaken
// counts the items that are 127. Nothing is written anywhere: a deferred item
// stays a record until the copy pass.
std::int64_t MeasurePieces(std::uint32_t control, const StringArg* items, int count,
                           int* newestTaken) {
  Measure measure = {0, false, UINTPTR_MAX, 0};
  Piece* const pieces = g_assembly.pieces;
  const bool plainAnsi = PlainItemsAreAnsi(control);
  int newest = 0;
  for (int i = 0; i < count; ++i) {
    const StringArg item = items[i];
    if (item > kNewestResult && plainAnsi) {
      const char* text = reinterpret_cast<const char*>(item);
      pieces[i] = {text, static_cast<std::int32_t>(PieceLength(text)), nullptr};
    } else if (item == kNewestResult) {
      ++newest;
      continue;
    } else {
      pieces[i] = PieceOfItem(item, control);
    }
    AddPiece(&measure, pieces[i]);
  }
  if (newest != 0) TakeNewestResults(items, count, newest, &measure);
  if (measure.low < measure.high) NoteWatched(measure.low, measure.high);
  g_assembly.anyDeferred = measure.anyDeferred;
  g_assembly.low = measure.low;
  g_assembly.high = measure.high;
  g_assembly.count = count;
  *newestTaken = newest;
  return measure.total;
}

bool Overlaps(const char* text, std::int64_t length, const char* from, const char* to) {
  return length > 0 && text < to && text + length > from;
}

// Whether the piece reads any byte of from..to: its text, or for a deferred
// piece its record and the texts the record was made from.
bool PieceReads(const Piece& piece, const char* from, const char* to) {
  if (piece.deferred != nullptr) return ResultReads(piece.deferred, from, to);
  return piece.text != nullptr && Overlaps(piece.text, piece.length, from, to);
}

bool AnyPieceReads(const char* from, const char* to) {
  const auto begin = reinterpret_cast<std::uintptr_t>(from);
  const auto end = reinterpret_cast<std::uintptr_t>(to);
  if (!g_assembly.anyDeferred && (end <= g_assembly.low || begin >= g_assembly.high)) return false;
  for (int i = 0; i < g_assembly.count; ++i) {
    if (PieceReads(g_assembly.pieces[i], from, to)) return true;
  }
  return false;
}

// The assembly's watcher (support/lifetimes.h). The room is chosen so that
// no write of the assembly lands under a piece; should storage under a plain
// piece go all the same, the piece fills with zeros instead of reading it.
// A deferred piece needs nothing here: the ring forgets its record.
void ForgetPieces(std::uintptr_t from, std::uintptr_t to) {
  // Every plain piece lies within low..high (the length pass's range).
  if (to <= g_assembly.low || from >= g_assembly.high) return;
  for (int i = 0; i < g_assembly.count; ++i) {
    Piece& piece = g_assembly.pieces[i];
    if (piece.deferred == nullptr &&
        PieceReads(piece, reinterpret_cast<const char*>(from), reinterpret_cast<const char*>(to))) {
      piece.text = nullptr;
    }
  }
}

// The assembly's part of the quiet window (support/lifetimes.h).
std::uintptr_t LowestPiece(std::uintptr_t at, std::uintptr_t end) {
  std::uintptr_t lowest = UINTPTR_MAX;
  for (int i = 0; i < g_assembly.count; ++i) {
    const Piece& piece = g_assembly.pieces[i];
    const auto from = reinterpret_cast<std::uintptr_t>(piece.text);
    const std::uintptr_t to = from + static_cast<std::uint32_t>(piece.length);
    if (piece.deferred == nullptr && piece.text != nullptr && to > at && from < end &&
        from < lowest) {
      lowest = from;
    }
  }
  return lowest;
}

// Copies a short piece with at most two loads and two stores of one width
// (overlapping in the middle), never reading or writing past either end;
// longer ones go to memcpy.
void CopyPiece(char* to, const char* from, std::size_t length) {
  if (length >= 16) {
    std::memcpy(to, from, length);
  } else if (length >= 8) {
    std::uint64_t head, tail;
    std::memcpy(&head, from, 8);
    std::memcpy(&tail, from + length - 8, 8);
    std::memcpy(to, &head, 8);
    std::memcpy(to + length - 8, &tail, 8);
  } else if (length >= 4) {
    std::uint32_t head, tail;
    std::memcpy(&head, from, 4);
    std::memcpy(&tail, from + length - 4, 4);
    std::memcpy(to, &head, 4);
    std::memcpy(to + length - 4, &tail, 4);
  } else if (length > 0) {
    to[0] = from[0];
    to[length / 2] = from[length / 2];
    to[length - 1] = from[length - 1];
  }
}

// The copy pass: each piece at its place, a deferred one produced there (at
// most its recorded length; a shorter product is padded with zero bytes so
// that every piece fills exactly its length), then three zero bytes: a
// terminator for ANSI texts and a whole zero unit for UTF-16 ones, also after
// an odd number of bytes.
void CopyPieces(char* room, std::int64_t total) {
  char* at = room;
  const int count = g_assembly.count;
  for (int i = 0; i < count; ++i) {
    const Piece& piece = g_assembly.pieces[i];
    const std::size_t length = static_cast<std::size_t>(piece.length);
    if (piece.deferred == nullptr && piece.text != nullptr) {
      CopyPiece(at, piece.text, length);
      at += length;
      continue;
    }
    char* const end =
        piece.deferred != nullptr ? MaterialiseResult(piece.deferred, at, length) : at;
    if (end < at + length) std::memset(end, 0, static_cast<std::size_t>(at + length - end));
    at += length;
  }
  room[total] = '\0';
  room[total + 1] = '\0';
  room[total + 2] = '\0';
}

char* NewElementText(std::int64_t length) {
  if (length == 0) return const_cast<char*>(g_emptyText);
  return static_cast<char*>(HeapBlockAllocate(static_cast<std::size_t>(length) + kSpareBytes, 0));
}

void ReleaseElementText(const char* text, std::int32_t length) {
  if (text == nullptr || length <= 0) return;
  HeapBlockRelease(text, static_cast<std::size_t>(length) + 1);
}

// Rebuilds the element of the field record around the new field value
// (length bytes at value): the text before the field, the separators a field
// beyond the element's last one needs, the value, the text after the field
// with its NUL.
void FieldWriteBack(const char* value, std::int64_t length) {
  FieldRecord& field = ArrayFieldRecord();
  ArrayElementEntry* entry = field.elementEntry;
  const FieldGap gap = TakeFieldGap();
  const std::int64_t elementLength =
      field.elementLength < 0 ? -std::int64_t{field.elementLength} : field.elementLength;
  const std::int64_t before = field.fieldStart - field.elementText;
  const std::int64_t after = elementLength - before - field.fieldLength;
  const std::int64_t newLength = gap.separators + length + elementLength - field.fieldLength;
  if (newLength > kLongestText) FatalError(kErrorBuffer, nullptr);
  char* text = NewElementText(newLength);
  if (newLength > 0) {
    char* at = text;
    std::memcpy(at, field.elementText, static_cast<std::size_t>(before));
    at += before;
    std::memset(at, gap.separator, static_cast<std::size_t>(gap.separators));
    at += gap.separators;
    std::memcpy(at, value, static_cast<std::size_t>(length));
    std::memcpy(at + length, field.fieldStart + field.fieldLength, static_cast<std::size_t>(after));
    text[newLength] = '\0';
  }
  const char* oldText = field.elementText;
  const std::int32_t oldLength = field.elementLength;
  entry->address = reinterpret_cast<std::uintptr_t>(text);
  entry->length = static_cast<std::int32_t>(newLength);
  ReleaseElementText(oldText, oldLength);
  field.elementEntry = entry;
  field.elementText = text;
  field.elementLength = entry->length;
  field.fieldStart = text + before + gap.separators;
  field.fieldLength = static_cast<std::int32_t>(length);
}

// The field record still describes the field the destination result read,
// and the element still holds what it held then.
bool FieldIsCurrent(const ResultSlotRecord* destination) {
  const FieldRecord& field = ArrayFieldRecord();
  const ArrayElementEntry* entry = field.elementEntry;
  if (entry == nullptr || FieldSerialOf(destination) != FieldReadSerial()) return false;
  if (entry->length == 0) return field.elementLength == 0;
  return entry->address == reinterpret_cast<std::uintptr_t>(field.elementText) &&
         entry->length == field.elementLength;
}

// A file write: the slot's handle, the byte-order mark when due, the bytes.
std::uintptr_t WriteToFile(std::uint32_t control, const char* text, std::int64_t total) {
  const std::int32_t override = g_settings.lengthOverride;
  g_settings.lengthOverride = 0;
  const int slot = static_cast<int>((control >> kAssembleFileShift) & 0xF) - 1;
  const HANDLE handle = slot >= 0 && slot < kFileSlotCount ? FileSlotHandle(slot) : nullptr;
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
    SetLastError(ERROR_INVALID_HANDLE);
    CheckSystemCall(0);
    return 0;
  }
  const bool wide = (control & kWideBit) != 0;
  DWORD written = 0;
  const std::uint32_t mode = FileSlotMode(slot);
  if (wide && (mode & kSlotBomDue) != 0) {
    SetFileSlotMode(slot, mode & ~std::uint32_t{0x81});
    static const unsigned char kMark[2] = {0xFF, 0xFE};
    CheckSystemCall(WriteFile(handle, kMark, 2, &written, nullptr));
  }
  std::int64_t bytes = total;
  if (override != 0) {
    bytes = override < total ? override : total;
  } else if (wide) {
    bytes = 2 * std::int64_t{WideTextLength(text)};
  }
  CheckSystemCall(WriteFile(handle, text, static_cast<DWORD>(bytes), &written, nullptr));
  return reinterpret_cast<std::uintptr_t>(text);
}

void PrintUtf8(const char* wideText) {
  const LPCWSTR units = reinterpret_cast<LPCWSTR>(wideText);
  const int size = WideCharToMultiByte(CP_UTF8, 0, units, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return;
  if (size + 1 >= kUtf8ConsoleLimit) FatalError(kErrorBuffer, nullptr);
  char* out = TempTextScratch(static_cast<std::uint32_t>(size));
  WideCharToMultiByte(CP_UTF8, 0, units, -1, out, size, nullptr, nullptr);
  ConsolePrint(out);
}

std::uintptr_t PrintToConsole(std::uint32_t control, const char* text) {
  ConsolePrint(text);
  if ((control & kAssembleWaitKey) == 0) return reinterpret_cast<std::uintptr_t>(text);
  if (g_settings.consoleRedraw != 0) InvalidateRect(GetConsoleWindow(), nullptr, FALSE);
  return static_cast<std::uintptr_t>(static_cast<std::intptr_t>(WaitKey().code));
}

// The room of a field destination: the field copy itself, unless the value
// does not fit there or a piece reads it; then a temporary block.
char* FieldRoom(std::size_t roomSize, char** temporaryBlock) {
  FieldRecord& field = ArrayFieldRecord();
  char* const copy = field.fieldText;
  if (roomSize <= sizeof field.fieldText && !AnyPieceReads(copy, copy + sizeof field.fieldText)) {
    // Results that viewed the old field copy go with it.
    ForgetStorage(copy, sizeof field.fieldText);
    return copy;
  }
  *temporaryBlock = static_cast<char*>(HeapBlockAllocate(roomSize, 0));
  return *temporaryBlock;
}

// The room of an output destination: at the free position of the temporary
// text area, committed as the newest result, unless the area has not that
// much room left before its last bytes or a piece reads where the room would
// be (an old text or record the area has wrapped onto); then a temporary
// block.
char* AreaRoom(std::int64_t total, std::size_t roomSize, char** temporaryBlock) {
  char* const begin = TempTextBegin();
  const char* const roomEnd = begin + roomSize;
  const bool fits = roomSize <= static_cast<std::size_t>(TempTextArea() + kTempTextAreaSize -
                                                         kAreaEndReserve - begin);
  if (fits && !AnyPieceReads(begin, roomEnd)) {
    ResultSlotRecord* slot = TempTextEnd(roomEnd, kSlotNext).slot;
    slot->length = static_cast<std::int32_t>(total);
    return begin;
  }
  *temporaryBlock = static_cast<char*>(HeapBlockAllocate(roomSize, 0));
  return *temporaryBlock;
}

// An element that owns a text at least as long as the new one keeps its
// block when the new text and its three zero bytes fit: the old text is
// overwritten in place (everything that read it is forgotten first), unless
// a piece reads it. An owned block holds at least its text and the text's
// zero, so a text two or more bytes shorter always fits; only for a longer
// one is the heap asked for the block's size. Returns the block, or nullptr
// when a new one is needed.
char* ReusedElementText(ArrayElementEntry* element, std::int64_t total) {
  if (element->length <= 0 || total <= 0 || total > element->length) return nullptr;
  char* const text = reinterpret_cast<char*>(element->address);
  if (total + 2 > element->length) {
    const SIZE_T capacity = HeapSize(GetProcessHeap(), 0, text);
    if (capacity == static_cast<SIZE_T>(-1) || capacity < static_cast<SIZE_T>(total) + 3)
      return nullptr;
  }
  const std::size_t bytes = static_cast<std::size_t>(element->length) + 1;
  if (AnyPieceReads(text, text + bytes)) return nullptr;
  ForgetStorage(text, bytes);
  return text;
}

// The element a destination result names: its origin, which the ring
// forgets when the array's elements are released or moved.
ArrayElementEntry* DestinationElement(const ResultSlotRecord* destination) {
  const std::uintptr_t origin = destination != nullptr ? OriginOf(destination) : 0;
  if (origin == 0) FatalError(kErrorArrayUndefined, nullptr);
  return reinterpret_cast<ArrayElementEntry*>(origin);
}

// The copy pass into the room, after which the pieces are done with: what
// the delivery releases or overwrites no longer concerns them.
void FillRoom(char* room, std::int64_t total) {
  CopyPieces(room, total);
  g_assembly.count = 0;
}

// A field of an element: the value goes through the field copy (or a
// temporary block) and the element is rebuilt around it.
__attribute__((noinline)) std::uintptr_t AssembleIntoField(
    const ResultSlotRecord* destinationResult, std::int64_t total) {
  if (!FieldIsCurrent(destinationResult)) FatalError(kErrorArrayUndefined, nullptr);
  const std::size_t roomSize = static_cast<std::size_t>(total) + kSpareBytes;
  char* temporaryBlock = nullptr;
  char* const room = FieldRoom(roomSize, &temporaryBlock);
  FillRoom(room, total);
  FieldRecord& field = ArrayFieldRecord();
  FieldWriteBack(room, total);
  if (room != field.fieldText) {
    ForgetStorage(field.fieldText, sizeof field.fieldText);
    const std::size_t kept = static_cast<std::size_t>(total) < sizeof field.fieldText - 1
                                 ? static_cast<std::size_t>(total)
                                 : sizeof field.fieldText - 1;
    std::memcpy(field.fieldText, room, kept);
    field.fieldText[kept] = '\0';
  }
  if (temporaryBlock != nullptr) HeapBlockRelease(temporaryBlock, roomSize);
  return reinterpret_cast<std::uintptr_t>(field.fieldText);
}

// An element (or its field) that the destination result names: its own
// block is written in place when the text fits there, else a new block takes
// it and the old one goes.
std::uintptr_t AssembleIntoElement(const ResultSlotRecord* destinationResult, std::int64_t total) {
  if (destinationResult != nullptr && FieldSerialOf(destinationResult) != 0) {
    return AssembleIntoField(destinationResult, total);
  }
  ArrayElementEntry* const element = DestinationElement(destinationResult);
  char* room = ReusedElementText(element, total);
  const char* oldText = nullptr;
  std::int32_t oldLength = 0;
  if (room == nullptr) {
    if (element->length > 0) {
      oldText = reinterpret_cast<const char*>(element->address);
      oldLength = element->length;
    }
    char* const text = NewElementText(total);
    room = total == 0 ? nullptr : text;
    element->address = reinterpret_cast<std::uintptr_t>(text);
  }
  element->length = static_cast<std::int32_t>(total);
  if (room != nullptr) CopyPieces(room, total);
  g_assembly.count = 0;
  ReleaseElementText(oldText, oldLength);
  return element->address;
}

// A new block that takes the place of an old one (released after the copy,
// since a piece may read it).
__attribute__((noinline)) std::uintptr_t AssembleIntoNewBlock(std::int64_t total,
                                                              std::uintptr_t oldBlock) {
  char* const room =
      static_cast<char*>(BlockAllocate(static_cast<std::size_t>(total) + kSpareBytes, 0));
  FillRoom(room, total);
  BlockRelease(oldBlock);
  return reinterpret_cast<std::uintptr_t>(room);
}

// Hands an assembled text to an output destination; returns what the
// routine returns for it.
__attribute__((noinline)) std::uintptr_t Deliver(std::uint32_t control, Destination destination,
                                                 const ResultSlotRecord* destinationResult,
                                                 char* room, std::int64_t total) {
  switch (destination) {
    case Destination::Buffer:
      if (destinationResult != nullptr && destinationResult->address != 0 &&
          destinationResult->length > 0) {
        const std::int64_t capacity = destinationResult->length;
        std::memcpy(reinterpret_cast<char*>(destinationResult->address), room,
                    static_cast<std::size_t>(total < capacity ? total : capacity));
      }
      break;
    case Destination::Window:
      if (g_settings.window != nullptr) SetWindowTextA(g_settings.window, room);
      break;
    case Destination::WindowWide:
      if (g_settings.window != nullptr) {
        SetWindowTextW(g_settings.window, reinterpret_cast<LPCWSTR>(room));
      }
      break;
    case Destination::ConsoleUtf8:
      PrintUtf8(room);
      break;
    case Destination::File:
      return WriteToFile(control, room, total);
    case Destination::Console:
      return PrintToConsole(control, room);
    case Destination::Element:
    case Destination::NewBlock:
      break;
  }
  return reinterpret_cast<std::uintptr_t>(room);
}

// An output destination (a buffer, a window, the console, a file): the text
// is assembled in the temporary text area as the newest result, or in a
// temporary block that goes after the delivery.
std::uintptr_t AssembleForOutput(std::uint32_t control, Destination destination,
                                 const ResultSlotRecord* destinationResult, std::int64_t total) {
  const std::size_t roomSize = static_cast<std::size_t>(total) + kSpareBytes;
  char* temporaryBlock = nullptr;
  char* const room = AreaRoom(total, roomSize, &temporaryBlock);
  FillRoom(room, total);
  std::uintptr_t result = Deliver(control, destination, destinationResult, room, total);
  if (temporaryBlock != nullptr) {
    HeapBlockRelease(temporaryBlock, roomSize);
    if (result == reinterpret_cast<std::uintptr_t>(temporaryBlock)) result = 0;
  }
  return result;
}

// The first assembly sets the library up and registers the watcher.
__attribute__((noinline)) void StartAssembling() {
  if (CurrentResultSlot() == 0) EnsureLibraryInit();
  WatchStorage({ForgetPieces, LowestPiece});
  g_assembly.watching = true;
}

}  // namespace

std::uintptr_t TextAssembleList(std::uint32_t control, const StringArg* items, int count,
                                std::uintptr_t oldBlock) {
  if (!g_assembly.watching || CurrentResultSlot() == 0) StartAssembling();
  const Destination destination = DestinationOf(control);
  const int limit =
      destination == Destination::NewBlock ? kAssembleMaxItemsWithOldBlock : kAssembleMaxItems;
  if (count < 0 || count > limit) FatalError(kErrorCountTooHigh, nullptr);

  // Lengths, and the destination result before the m newest results taken.
  // The room for the text is then chosen so that nothing the assembly writes
  // lands under a piece: every piece (and every record's sources) is read
  // where it was measured.
  int newestTaken = 0;
  g_assembly.count = 0;
  const std::int64_t total = MeasurePieces(control, items, count, &newestTaken);
  if (total > kLongestText) FatalError(kErrorBuffer, nullptr);
  switch (destination) {
    case Destination::Element:
      return AssembleIntoElement(SlotBefore(newestTaken), total);
    case Destination::NewBlock:
      return AssembleIntoNewBlock(total, oldBlock);
    case Destination::Buffer:
      return AssembleForOutput(control, destination, SlotBefore(newestTaken), total);
    default:
      return AssembleForOutput(control, destination, nullptr, total);
  }
}

std::uintptr_t TextAssembleWords(const std::uintptr_t* words) {
  const std::uint32_t control = static_cast<std::uint32_t>(words[0]);
  const int count = static_cast<int>(control & kAssembleCountMask);
  const int limit = (control & kNewBlockBit) != 0 && (control & kElementBit) != 0
                        ? kAssembleMaxItemsWithOldBlock
                        : kAssembleMaxItems;
  if (count > limit) FatalError(kErrorCountTooHigh, nullptr);
  StringArg items[kAssembleMaxItems];
  for (int i = 0; i < count; ++i) items[i] = words[count - i];
  const bool newBlock = (control & kNewBlockBit) != 0 && (control & kElementBit) != 0;
  const std::uintptr_t oldBlock = newBlock ? words[count + 1] : 0;
  return TextAssembleList(control, items, count, oldBlock);
}

ResultSlotRecord* BufferResult(void* buffer, std::int32_t capacity) {
  ResultSlotRecord* slot = ResultSlot(kSlotNext);
  FillResultSlot(slot, buffer, capacity);
  return slot;
}

void SetAssembleLengthOverride(std::int32_t bytes) {
  g_settings.lengthOverride = bytes;
}
std::int32_t AssembleLengthOverride() {
  return g_settings.lengthOverride;
}
void SetAssembleWindow(HWND window) {
  g_settings.window = window;
}
HWND AssembleWindow() {
  return g_settings.window;
}
void SetConsoleRedraw(std::int32_t on) {
  g_settings.consoleRedraw = on;
}
std::int32_t ConsoleRedraw() {
  return g_settings.consoleRedraw;
}

}  // namespace tw
