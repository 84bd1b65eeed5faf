// Recall and Store: the load buffer, the line-end scan (32 bytes per step with
// SSE2 compares), the in-place split into borrowed elements, the UTF-16 to
// UTF-8 conversion of marked texts, and the piece-wise writer of Store.
#include "support/recall.h"

#include <emmintrin.h>

#include <cstdio>
#include <cstring>

#include "support/errors.h"
#include "support/files.h"
#include "support/heap.h"
#include "support/numbers.h"
#include "support/temptext.h"
#include "trace/text.h"

namespace tw {

namespace {

RecallReadHook g_readHook = nullptr;

// ---- Line-end scan ----

// Bits of the 32 bytes at text that equal byte.
inline std::uint32_t Mask32(const char* text, char byte) {
  const __m128i wanted = _mm_set1_epi8(byte);
  const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text));
  const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + 16));
  const auto lowBits = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(low, wanted)));
  const auto highBits = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(high, wanted)));
  return lowBits | (highBits << 16);
}

// ---- UTF-16 ----

constexpr char kReplacement[3] = {'\xEF', '\xBF', '\xBD'};  // U+FFFD

inline std::uint32_t UnitAt(const unsigned char* bytes, std::uint32_t at) {
  return bytes[at] | (static_cast<std::uint32_t>(bytes[at + 1]) << 8);
}

inline bool IsHighSurrogate(std::uint32_t unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}
inline bool IsLowSurrogate(std::uint32_t unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}

// True when the eight units at bytes are all below 0x80.
inline bool EightAscii(const unsigned char* bytes) {
  const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
  const __m128i high = _mm_and_si128(units, _mm_set1_epi16(static_cast<short>(0xFF80)));
  return _mm_movemask_epi8(_mm_cmpeq_epi16(high, _mm_setzero_si128())) == 0xFFFF;
}

// ---- Files ----

[[noreturn]] void SlotFatal(int error, int slot) {
  char insert[24] = "file slot ";
  DecimalText(slot, insert + std::strlen(insert));
  FatalError(error, insert);
}

// Bytes from the file's current position to its end (0 when the position is
// past it), or -1 when the size cannot be had.
std::int64_t BytesToEnd(HANDLE file) {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file, &size)) return -1;
  LONG high = 0;
  const DWORD low = SetFilePointer(file, 0, &high, FILE_CURRENT);
  if (low == INVALID_SET_FILE_POINTER && GetLastError() != ERROR_SUCCESS) return -1;
  const std::int64_t position =
      static_cast<std::int64_t>((static_cast<std::uint64_t>(static_cast<DWORD>(high)) << 32) | low);
  return size.QuadPart > position ? size.QuadPart - position : 0;
}

// Reads up to size bytes (more than one ReadFile only when one returns fewer
// bytes before the end); returns the bytes read.
std::uint32_t ReadUpTo(HANDLE file, char* buffer, std::uint32_t size) {
  std::uint32_t got = 0;
  while (got < size) {
    DWORD read = 0;
    if (!ReadFile(file, buffer + got, size - got, &read, nullptr) || read == 0) break;
    got += read;
  }
  return got;
}

// The text of a load: in its buffer, with its size.
struct LoadedText {
  LoadBuffer buffer;
  std::uint32_t size;
};

LoadedText LoadFromMemory(const char* text) {
  const std::uint32_t size = text != nullptr ? TextLengthSse2(text) : 0;
  LoadedText loaded = {LoadBufferAllocate(size), size};
  if (size != 0) std::memcpy(loaded.buffer.text, text, size);
  return loaded;
}

// A source that cannot be sized (a pipe, FIFO or device) is read to its end
// into a load buffer that grows as it fills. A pipe or FIFO is read until its
// writers have closed it (one nobody writes gives nothing); passing the load
// limit is fatal error 1.
LoadedText LoadToEnd(HANDLE file) {
  if (GetFileType(file) == FILE_TYPE_PIPE) {
    DWORD wait = PIPE_WAIT;
    SetNamedPipeHandleState(file, &wait, nullptr, nullptr);
  }
  std::uint32_t capacity = 64 * 1024;
  LoadedText loaded = {LoadBufferAllocate(capacity), 0};
  for (;;) {
    if (loaded.size == capacity) {
      if (capacity == kLoadLimit) {
        HeapBlockRelease(loaded.buffer.block);
        CloseHandle(file);
        FatalError(kErrorHeapAlloc, nullptr);
      }
      capacity = capacity > kLoadLimit / 2 ? kLoadLimit : 2 * capacity;
      const LoadBuffer grown = LoadBufferAllocate(capacity);
      std::memcpy(grown.text, loaded.buffer.text, loaded.size);
      HeapBlockRelease(loaded.buffer.block);
      loaded.buffer = grown;
    }
    DWORD read = 0;
    const BOOL ok =
        ReadFile(file, loaded.buffer.text + loaded.size, capacity - loaded.size, &read, nullptr);
    if (!ok || read == 0) break;
    loaded.size += read;
  }
  CloseHandle(file);
  return loaded;
}

LoadedText LoadFromFile(HANDLE file) {
  const std::int64_t size = GetFileType(file) == FILE_TYPE_DISK ? BytesToEnd(file) : -1;
  if (size < 0) return LoadToEnd(file);
  if (size > kLoadLimit) {
    CloseHandle(file);
    FatalError(kErrorHeapAlloc, nullptr);
  }
  if (g_readHook != nullptr) g_readHook(file);
  LoadedText loaded = {LoadBufferAllocate(static_cast<std::uint32_t>(size)), 0};
  // A file that shrank since the size query gives the bytes that were there;
  // bytes added after the query are not loaded.
  loaded.size = ReadUpTo(file, loaded.buffer.text, static_cast<std::uint32_t>(size));
  CloseHandle(file);
  return loaded;
}

// Opens the source and hands over its text. The handle is taken out of the
// slot: the load closes it.
LoadedText LoadSource(std::uintptr_t source, std::uintptr_t third) {
  if (source == kRecallText) return LoadFromMemory(reinterpret_cast<const char*>(third));
  if (source < kFileSlotCount) {
    const int slot = static_cast<int>(source);
    const HANDLE file = FileSlotHandle(slot);
    if (file == nullptr || file == INVALID_HANDLE_VALUE) SlotFatal(kErrorOpenForRecall, slot);
    SetFileSlotHandle(slot, nullptr);
    return LoadFromFile(file);
  }
  const char* name = reinterpret_cast<const char*>(source);
  const HANDLE file = FileOpenRead(kWorkSlot, name, kSearchNone);
  if (file == INVALID_HANDLE_VALUE) {
    SetFileSlotHandle(kWorkSlot, nullptr);
    FatalError(kErrorOpenForRecall, name);
  }
  SetFileSlotHandle(kWorkSlot, nullptr);
  return LoadFromFile(file);
}

// A marked UTF-16 text becomes UTF-8 in a new load buffer sized for it.
void ConvertUtf16(LoadedText* loaded) {
  const std::uint64_t size = Utf8SizeOfUtf16(loaded->buffer.text, loaded->size);
  if (size > kLoadLimit) {
    HeapBlockRelease(loaded->buffer.block);
    FatalError(kErrorHeapAlloc, nullptr);
  }
  const LoadBuffer converted = LoadBufferAllocate(static_cast<std::uint32_t>(size));
  Utf16ToUtf8(loaded->buffer.text, loaded->size, converted.text);
  HeapBlockRelease(loaded->buffer.block);
  loaded->buffer = converted;
  loaded->size = static_cast<std::uint32_t>(size);
}

std::int32_t ShapeOf(std::intptr_t options) {
  return options < INT32_MIN ? INT32_MIN : static_cast<std::int32_t>(options);
}

// The caller's vector registers, kept in a static record (see Recall).
XmmBank g_recallXmm;

__attribute__((noinline)) RecallResult RecallInto(std::uintptr_t source, std::int32_t destination,
                                                  std::uintptr_t third, std::intptr_t options) {
  if (destination <= 0 || destination >= kArrayCount) {
    FatalError(kErrorArrayUndefined, nullptr);
  }
  LoadedText loaded = LoadSource(source, third);
  if (IsUtf16Text(loaded.buffer.text, loaded.size)) ConvertUtf16(&loaded);
  char* text = loaded.buffer.text;
  std::memset(text + loaded.size, 0, kLoadPadding);
  const bool lineFeeds = options == kRecallLineFeeds || LoadPicksLineFeeds(text, loaded.size);
  const std::uint32_t lines = CountLines(text, loaded.size, lineFeeds);
  const std::intptr_t callerValue =
      source == kRecallText ? kRecallTextMarker : static_cast<std::intptr_t>(third);
  ArrayHeader* header = ArrayCreate(0, lines - 1, callerValue);
  header->textBlock = TextBlockWord(loaded.buffer.block, text);
  if (options <= kShapeTabFields) header->shape = ShapeOf(options);
  SplitLines(text, loaded.size, lineFeeds, ArrayElements(header));
  if (options > 127) *reinterpret_cast<std::int32_t*>(options) = static_cast<std::int32_t>(lines);
  ArrayErase(destination);
  ArraySwap(0, destination);
  ArrayErase(0);
  return {static_cast<std::int32_t>(lines), static_cast<std::int32_t>(loaded.size)};
}

// ---- Store ----

constexpr std::uint32_t kPieceLimit = 639998;  // every piece written is below this

// Writes all count bytes; false when the file refuses them.
bool WriteAll(HANDLE file, const char* data, std::uint32_t count) {
  while (count > 0) {
    DWORD written = 0;
    if (!WriteFile(file, data, count, &written, nullptr) || written == 0) return false;
    data += written;
    count -= written;
  }
  return true;
}

std::int32_t ElementsToStore(const ArrayHeader* header, std::int32_t count) {
  if (count >= 0) return count;
  const ArrayElementEntry* elements = ArrayElements(const_cast<ArrayHeader*>(header));
  std::int32_t last = header->count;
  while (last > 0 && elements[last - 1].length == 0) --last;
  return last;
}

// Writes the elements through the temporary text area; false when a write
// failed.
bool WriteElements(HANDLE file, const ArrayElementEntry* elements, std::int32_t count) {
  TempTextReset();
  char* area = TempTextArea();
  std::uint32_t buffered = 0;
  for (std::int32_t i = 0; i < count; ++i) {
    const ArrayElementEntry& element = elements[i];
    const std::uint32_t length =
        element.address == 0
            ? 0
            : static_cast<std::uint32_t>(
                  element.length < 0 ? -static_cast<std::int64_t>(element.length) : element.length);
    const char* text = reinterpret_cast<const char*>(element.address);
    if (std::uint64_t{buffered} + length + 2 >= kPieceLimit) {
      if (!WriteAll(file, area, buffered)) return false;
      buffered = 0;
    }
    if (length + 2 >= kPieceLimit) {
      // Longer than the area: written from its own text.
      if (!WriteAll(file, text, length)) return false;
    } else if (length > 0) {
      std::memcpy(area + buffered, text, length);
      buffered += length;
    }
    area[buffered++] = '\r';
    area[buffered++] = '\n';
  }
  return WriteAll(file, area, buffered);
}

// What a Store by name writes to.
enum class StoreTarget {
  kNewFile,  // nothing of that name yet
  kFile,     // an existing file (links followed): a new file takes its place
  kSpecial,  // a FIFO or device: written directly
  kRefused,  // something that cannot be written (a folder, a socket, a locked file)
};

// Where the folder part of path ends (0 when it has none).
std::size_t FolderLength(const char* path) {
  std::size_t end = 0;
  for (std::size_t i = 0; path[i] != '\0'; ++i) {
#ifdef _WIN32
    if (path[i] == '\\' || path[i] == '/' || path[i] == ':') end = i + 1;
#else
    if (path[i] == '/') end = i + 1;
#endif
  }
  return end;
}

// The path of the file a handle has open, without the "\\?\" that Windows
// puts before it; false when it does not fit in MAX_PATH bytes.
bool FinalPath(HANDLE file, char* path) {
  char found[MAX_PATH + 8];
  const DWORD length = GetFinalPathNameByHandleA(file, found, sizeof found, FILE_NAME_NORMALIZED);
  if (length == 0 || length >= sizeof found) return false;
  const char* start = found;
  if (std::strncmp(found, "\\\\?\\UNC\\", 8) == 0) {
    start = found + 6;
    found[6] = '\\';
  } else if (std::strncmp(found, "\\\\?\\", 4) == 0) {
    start = found + 4;
  }
  if (std::strlen(start) >= MAX_PATH) return false;
  std::strcpy(path, start);
  return true;
}

// Looks at what name is without opening it for reading or writing (which
// would wait on a FIFO). For an existing file, target receives the path of
// the file itself, a symbolic link followed, else name.
StoreTarget FindStoreTarget(const char* name, char* target) {
  std::strcpy(target, name);
  const HANDLE probe = CreateFileA(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (probe == INVALID_HANDLE_VALUE) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    return GetFileAttributesExA(name, GetFileExInfoStandard, &data) ? StoreTarget::kRefused
                                                                    : StoreTarget::kNewFile;
  }
  const DWORD type = GetFileType(probe);
  if (type == FILE_TYPE_DISK) FinalPath(probe, target);
  CloseHandle(probe);
  return type == FILE_TYPE_DISK ? StoreTarget::kFile : StoreTarget::kSpecial;
}

// A FIFO or device is written where it is; a FIFO waits for room as a pipe
// does (natively it was opened without waiting).
std::int32_t StoreDirectly(const char* name, const ArrayElementEntry* elements,
                           std::int32_t count) {
  const HANDLE file = FileOpenWrite(kWorkSlot, name, 'O');
  SetFileSlotHandle(kWorkSlot, nullptr);
  if (file == INVALID_HANDLE_VALUE) FatalError(kErrorOpenForStore, name);
  if (GetFileType(file) == FILE_TYPE_PIPE) {
    DWORD wait = PIPE_WAIT;
    SetNamedPipeHandleState(file, &wait, nullptr, nullptr);
  }
  const bool written = WriteElements(file, elements, count);
  CloseHandle(file);
  if (!written) FatalError(kErrorOpenForStore, name);
  return count;
}

// The new file takes the old one's place. An existing file keeps its
// identity (permissions, and owner where the process may give it); should
// the system refuse that, the new file is moved over it.
bool PutInPlace(const char* newFile, const char* target, bool existing) {
  if (existing && ReplaceFileA(target, newFile, nullptr, 0, nullptr, nullptr)) return true;
  return MoveFileExA(newFile, target, MOVEFILE_REPLACE_EXISTING) != 0;
}

// The elements go into a new file in the destination's folder (a short name
// of its own, so that it can always be made where the destination can), which
// then takes the destination's place: the old file stays as it was until the
// new one is complete, and nothing is lost when the writing fails.
std::int32_t StoreToName(const char* name, const ArrayElementEntry* elements, std::int32_t count) {
  if (name == nullptr || std::strlen(name) >= MAX_PATH) FatalError(kErrorOpenForStore, name);
  char target[MAX_PATH];
  const StoreTarget kind = FindStoreTarget(name, target);
  if (kind == StoreTarget::kSpecial) return StoreDirectly(name, elements, count);
  if (kind == StoreTarget::kRefused) FatalError(kErrorOpenForStore, name);
  char folder[MAX_PATH];
  const std::size_t folderLength = FolderLength(target);
  std::memcpy(folder, target, folderLength);
  folder[folderLength] = '\0';
  if (folderLength == 0) std::strcpy(folder, ".");
  char newFile[MAX_PATH];
  if (GetTempFileNameA(folder, "tw", 0, newFile) == 0) FatalError(kErrorOpenForStore, name);
  const HANDLE file = FileOpenWrite(kWorkSlot, newFile, 'O');
  SetFileSlotHandle(kWorkSlot, nullptr);
  const bool written = file != INVALID_HANDLE_VALUE && WriteElements(file, elements, count);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  if (!written || !PutInPlace(newFile, target, kind == StoreTarget::kFile)) {
    DeleteFileA(newFile);
    FatalError(kErrorOpenForStore, name);
  }
  return count;
}

}  // namespace

// ---- Load pieces ----

LoadBuffer LoadBufferAllocate(std::uint32_t size) {
  if (size > kLoadLimit) FatalError(kErrorHeapAlloc, nullptr);
  // 8 bytes for the alignment shift, the padding, and one spare byte.
  void* block = HeapBlockAllocate(std::size_t{size} + kLoadPadding + 9, 0);
  const auto start = reinterpret_cast<std::uintptr_t>(block);
  char* text = static_cast<char*>(block) + ((start & 15) != 0 ? 8 : 0);
  return {block, text};
}

bool LoadPicksLineFeeds(const char* text, std::uint32_t size) {
  int bare = 0;
  for (std::uint32_t at = 0; at < size; ++at) {
    const void* found = std::memchr(text + at, '\n', size - at);
    if (found == nullptr) return false;
    at = static_cast<std::uint32_t>(static_cast<const char*>(found) - text);
    if (at > 0 && text[at - 1] == '\r') return false;
    if (++bare == 5) return true;
  }
  return false;
}

namespace {

// Line ends in text[at, size): line feeds, or with kCrLf only those right
// after a CR (at is then 1 or more). Sixteen bytes per step; each byte lane
// counts its hits (up to 255) and the lanes are summed every 255 steps, so no
// per-step bit count is needed.
template <bool kCrLf>
std::uint32_t CountEndsFrom(const char* text, std::uint32_t at, std::uint32_t size) {
  const __m128i feed = _mm_set1_epi8('\n');
  const __m128i ret = _mm_set1_epi8('\r');
  const __m128i zero = _mm_setzero_si128();
  std::uint32_t ends = 0;
  while (size - at >= 16) {
    const std::uint32_t steps = (size - at) / 16 < 255 ? (size - at) / 16 : 255;
    __m128i counts = zero;
    for (std::uint32_t step = 0; step < steps; ++step, at += 16) {
      __m128i hits =
          _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(text + at)), feed);
      if (kCrLf) {
        hits = _mm_and_si128(
            hits,
            _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(text + at - 1)), ret));
      }
      counts = _mm_sub_epi8(counts, hits);
    }
    const __m128i sums = _mm_sad_epu8(counts, zero);
    ends += static_cast<std::uint32_t>(_mm_cvtsi128_si32(sums) + _mm_extract_epi16(sums, 4));
  }
  for (; at < size; ++at) ends += text[at] == '\n' && (!kCrLf || text[at - 1] == '\r');
  return ends;
}

}  // namespace

std::uint32_t CountLineEnds(const char* text, std::uint32_t size, bool lineFeeds) {
  // A line feed at the very start has no CR before it.
  if (lineFeeds) return CountEndsFrom<false>(text, 0, size);
  return size < 2 ? 0 : CountEndsFrom<true>(text, 1, size);
}

std::uint32_t CountLines(const char* text, std::uint32_t size, bool lineFeeds) {
  if (size == 0) return 0;
  const std::uint32_t ends = CountLineEnds(text, size, lineFeeds);
  // Does the text end with a line end?
  const bool closed =
      text[size - 1] == '\n' && (lineFeeds || (size >= 2 && text[size - 2] == '\r'));
  return ends + (closed ? 0 : 1);
}

std::uint32_t SplitLines(char* text, std::uint32_t size, bool lineFeeds,
                         ArrayElementEntry* elements) {
  std::uint32_t lines = 0;
  std::uint32_t start = 0;
  const auto base = reinterpret_cast<std::uintptr_t>(text);
  for (std::uint32_t at = 0; at < size; at += 32) {
    std::uint32_t feeds = Mask32(text + at, '\n');
    if (size - at < 32) feeds &= (1u << (size - at)) - 1;
    while (feeds != 0) {
      const std::uint32_t feed = at + static_cast<std::uint32_t>(__builtin_ctz(feeds));
      feeds &= feeds - 1;
      std::uint32_t end = feed;  // where the line's zero byte goes
      if (!lineFeeds) {
        if (feed == 0 || text[feed - 1] != '\r') continue;
        end = feed - 1;
      }
      text[end] = '\0';
      elements[lines].address = base + start;
      elements[lines].length = -static_cast<std::int32_t>(end - start);
      ++lines;
      start = feed + 1;
    }
  }
  if (start < size) {
    elements[lines].address = base + start;
    elements[lines].length = -static_cast<std::int32_t>(size - start);
    ++lines;
  }
  return lines;
}

bool IsUtf16Text(const char* text, std::uint32_t size) {
  return size >= 2 && static_cast<unsigned char>(text[0]) == 0xFF &&
         static_cast<unsigned char>(text[1]) == 0xFE;
}

std::uint64_t Utf8SizeOfUtf16(const char* text, std::uint32_t size) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  std::uint64_t total = 0;
  std::uint32_t at = 0;
  while (at + 1 < size) {
    if (at + 16 <= size && EightAscii(bytes + at)) {
      total += 8;
      at += 16;
      continue;
    }
    const std::uint32_t unit = UnitAt(bytes, at);
    at += 2;
    if (unit < 0x80) {
      total += 1;
    } else if (unit < 0x800) {
      total += 2;
    } else if (IsHighSurrogate(unit) && at + 1 < size && IsLowSurrogate(UnitAt(bytes, at))) {
      total += 4;
      at += 2;
    } else {
      total += 3;
    }
  }
  if (at < size) total += 3;  // the odd last byte
  return total;
}

char* Utf16ToUtf8(const char* text, std::uint32_t size, char* out) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  std::uint32_t at = 0;
  while (at + 1 < size) {
    if (at + 16 <= size && EightAscii(bytes + at)) {
      const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + at));
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(units, units));
      out += 8;
      at += 16;
      continue;
    }
    std::uint32_t unit = UnitAt(bytes, at);
    at += 2;
    if (unit < 0x80) {
      *out++ = static_cast<char>(unit);
    } else if (unit < 0x800) {
      *out++ = static_cast<char>(0xC0 | (unit >> 6));
      *out++ = static_cast<char>(0x80 | (unit & 0x3F));
    } else if (IsHighSurrogate(unit) && at + 1 < size && IsLowSurrogate(UnitAt(bytes, at))) {
      const std::uint32_t point = 0x10000 + ((unit - 0xD800) << 10) + (UnitAt(bytes, at) - 0xDC00);
      at += 2;
      *out++ = static_cast<char>(0xF0 | (point >> 18));
      *out++ = static_cast<char>(0x80 | ((point >> 12) & 0x3F));
      *out++ = static_cast<char>(0x80 | ((point >> 6) & 0x3F));
      *out++ = static_cast<char>(0x80 | (point & 0x3F));
    } else if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
      std::memcpy(out, kReplacement, 3);
      out += 3;
    } else {
      *out++ = static_cast<char>(0xE0 | (unit >> 12));
      *out++ = static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
      *out++ = static_cast<char>(0x80 | (unit & 0x3F));
    }
  }
  if (at < size) {
    std::memcpy(out, kReplacement, 3);
    out += 3;
  }
  return out;
}

void SetRecallReadHook(RecallReadHook hook) {
  g_readHook = hook;
}

// ---- Recall and Store ----

// The caller's vector registers live in a static record, and this entry is
// not instrumented by the sanitizers: nothing of ours runs between the save
// at entry and the load before the return.
__attribute__((noinline, no_sanitize("address", "undefined"))) RecallResult Recall(
    std::uintptr_t source, std::int32_t destination, std::uintptr_t third, std::intptr_t options) {
  SaveXmmBank(&g_recallXmm);
  const RecallResult result = RecallInto(source, destination, third, options);
  LoadXmmBank(&g_recallXmm);
  return result;
}

std::int32_t Store(std::uintptr_t destination, std::int32_t number, std::int32_t count) {
  ArrayHeader* header = ArrayHeaderOf(number);
  if (header == nullptr) FatalError(kErrorArrayUndefined, nullptr);
  const std::int32_t elements = ElementsToStore(header, count);
  if (elements > header->count) {
    LastArrayAccess() = {number, header->count};
    FatalError(kErrorCountTooHigh, nullptr);
  }
  if (elements > 0) LastArrayAccess() = {number, elements - 1};
  if (destination >= kFileSlotCount) {
    return StoreToName(reinterpret_cast<const char*>(destination), ArrayElements(header), elements);
  }
  const int slot = static_cast<int>(destination);
  const HANDLE file = FileSlotHandle(slot);
  if (file == nullptr || file == INVALID_HANDLE_VALUE) SlotFatal(kErrorOpenForStore, slot);
  if (!WriteElements(file, ArrayElements(header), elements)) SlotFatal(kErrorOpenForStore, slot);
  return elements;
}

}  // namespace tw
