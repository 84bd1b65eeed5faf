// File slots (the eleven-slot table, opening for reading and writing, reading,
// touching and closing) and the file queries (existence with the kept find
// data, sizes, whole-file comparison).
#include "support/files.h"

#include <cstring>

#include "support/errors.h"
#include "support/files_kernels.h"
#include "support/lifetimes.h"
#include "support/temptext.h"
#include "trace/kernels.h"

#define TW_WALK TW_SSE2_KERNEL
#include "support/files_walks.h"

namespace tw {

namespace {

// The file-message buffer holds the longer prefix, the longest name Windows
// accepts (32,767 characters with the long-path prefix) and the NUL.
constexpr std::size_t kFileMessagePrefix = 16;
constexpr std::size_t kFileMessageCapacity = kFileMessagePrefix + 32767 + 1;

struct FileTable {
  HANDLE handles[kFileSlotCount];
  std::uint32_t modes[kFileSlotCount];
  char message[kFileMessageCapacity];
};

FileTable g_files = {};

struct FindState {
  WIN32_FIND_DATAA data;
  HANDLE handle;  // 0 when no search is kept open
};

FindState g_find = {};

bool IsSlot(int slot) {
  return slot >= 0 && slot < kFileSlotCount;
}

HANDLE Failed() {
  return INVALID_HANDLE_VALUE;
}

void SetFileMessage(const char* prefix, const char* name) {
  std::strcpy(g_files.message, prefix);
  const std::size_t used = std::strlen(g_files.message);
  if (name != nullptr) {
    std::strncat(g_files.message, name, kFileMessageCapacity - 1 - used);
  }
}

void CloseOneSlot(int slot) {
  g_files.modes[slot] = 0;
  if (g_files.handles[slot] != nullptr) {
    CloseHandle(g_files.handles[slot]);
    g_files.handles[slot] = nullptr;
  }
}

// The path that a search finds, in path (MAX_PATH bytes); false when it finds
// nothing or only a path longer than the buffer holds.
bool SearchForFile(const char* name, std::uintptr_t search, char* path) {
  const char* folders = search == kSearchSystem ? nullptr : reinterpret_cast<const char*>(search);
  LPSTR filePart = nullptr;
  const DWORD length = SearchPathA(folders, name, nullptr, MAX_PATH, path, &filePart);
  return length > 0 && length < MAX_PATH;
}

// ---- Comparison ----

constexpr std::uint32_t kChunk = 4096;
constexpr std::uint32_t kHalf = kChunk + 16;  // room for the end mark after a full chunk

void WriteEndMark(unsigned char* at, unsigned char last) {
  at[0] = 0;
  at[1] = 0;
  at[2] = 0;
  at[3] = last;
}

// The SSE2 chunk compare (support/files_walks.h), 64 bytes per step.
TW_SSE2_ENTRY std::uint32_t FirstDifferenceSse2(const unsigned char* a, const unsigned char* b,
                                                std::uint32_t count, bool foldCase) {
  return FirstDifferenceWith<vector_sets::Sse2>(a, b, count, foldCase);
}

// The dispatch place of the chunk compare.
std::uint32_t FirstDifference(const unsigned char* a, const unsigned char* b, std::uint32_t count,
                              bool foldCase) {
#if defined(__x86_64__)
  if (UseAvx512Kernels()) return FirstDifferenceAvx512(a, b, count, foldCase);
  if (UseAvx2Kernels()) return FirstDifferenceAvx2(a, b, count, foldCase);
#endif
  return FirstDifferenceSse2(a, b, count, foldCase);
}

std::uint32_t ChunkOf(std::int64_t remaining) {
  return remaining < kChunk ? static_cast<std::uint32_t>(remaining > 0 ? remaining : 0) : kChunk;
}

void OpenForCompare(int slot, const char* name) {
  if (FileOpenRead(slot, name, kSearchNone) != INVALID_HANDLE_VALUE) return;
  FileClose(kWorkSlot);
  FatalError(kErrorOpenForRecall, name);
}

// The result when one file ended at `common` bytes into the chunk and the
// other goes on: the shorter file's next byte counts as 0, and the result is
// never 0.
FileCompareResult PrefixResult(const unsigned char* a, const unsigned char* b, std::uint32_t gotA,
                               std::uint32_t gotB, std::int64_t handled) {
  const std::uint32_t common = gotA < gotB ? gotA : gotB;
  std::int32_t difference;
  if (gotA < gotB) {
    difference = b[common] != 0 ? -static_cast<std::int32_t>(b[common]) : -1;
  } else {
    difference = a[common] != 0 ? static_cast<std::int32_t>(a[common]) : 1;
  }
  return {difference, handled + common};
}

}  // namespace

// ---- File slots ----

void FileClose(int slot) {
  if (slot == kCloseAllSlots) {
    for (int each = kFileSlotCount - 1; each >= 0; --each) CloseOneSlot(each);
    return;
  }
  if (IsSlot(slot)) CloseOneSlot(slot);
}

namespace {

// The library's reading slot: the fatal-error report closes it before it
// shows its message.
void CloseReadingSlot() {
  FileClose(kDeferredReadSlot);
}

void NoteSlotUse(int slot) {
  if (slot == kDeferredReadSlot) OnFatalReport(FatalStage::kBeforeReport, CloseReadingSlot);
}

}  // namespace

HANDLE FileOpenRead(int slot, const char* name, std::uintptr_t search) {
  NoteSlotUse(slot);
  if (!IsSlot(slot)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return Failed();
  }
  char found[MAX_PATH];
  const char* path = name;
  if (search != kSearchNone) {
    if (name == nullptr || !SearchForFile(name, search, found)) {
      g_files.handles[slot] = Failed();
      return Failed();
    }
    path = found;
  }
  HANDLE file = Failed();
  if (path != nullptr) {
    file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  } else {
    SetLastError(ERROR_INVALID_PARAMETER);
  }
  if (file == INVALID_HANDLE_VALUE) SetFileMessage("File not found: ", name);
  g_files.handles[slot] = file;
  return file;
}

HANDLE FileOpenWrite(int slot, const char* name, int mode) {
  NoteSlotUse(slot);
  if (!IsSlot(slot)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return Failed();
  }
  g_files.modes[slot] |= kSlotWritten;
  const int lower = mode | 0x20;
  const DWORD disposition = (lower == 'a' || lower == 'u') ? OPEN_ALWAYS : CREATE_ALWAYS;
  HANDLE file = Failed();
  if (name != nullptr) {
    file = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  } else {
    SetLastError(ERROR_INVALID_PARAMETER);
  }
  g_files.handles[slot] = file;
  if (file == INVALID_HANDLE_VALUE) {
    SetFileMessage("Could not open ", name);
  } else if (mode == 'A' || mode == 'a') {
    SetFilePointer(file, 0, nullptr, FILE_END);
  }
  return file;
}

FileReadResult FileReadSlot(int slot, void* buffer, std::uint32_t count) {
  if (!IsSlot(slot)) return {0, buffer};
  if (g_files.handles[slot] == INVALID_HANDLE_VALUE) LastErrorFatal();
  DWORD read = 0;
  ReadFile(g_files.handles[slot], buffer, count, &read, nullptr);
  return {static_cast<std::int32_t>(read), buffer};
}

void FileTouch(HANDLE file, int strict) {
  SYSTEMTIME now;
  GetSystemTime(&now);
  FILETIME time;
  SystemTimeToFileTime(&now, &time);
  const BOOL done = SetFileTime(file, &time, &time, &time);
  if (!done && strict != 0) LastErrorFatal();
}

HANDLE FileSlotHandle(int slot) {
  return IsSlot(slot) ? g_files.handles[slot] : nullptr;
}

std::uint32_t FileSlotMode(int slot) {
  return IsSlot(slot) ? g_files.modes[slot] : 0;
}

void SetFileSlotHandle(int slot, HANDLE handle) {
  NoteSlotUse(slot);
  if (IsSlot(slot)) g_files.handles[slot] = handle;
}

void SetFileSlotMode(int slot, std::uint32_t mode) {
  if (IsSlot(slot)) g_files.modes[slot] = mode;
}

const char* FileMessage() {
  return g_files.message;
}

// ---- File queries ----

int FileExists(const char* pattern, int closeFlag) {
  if (g_find.handle != nullptr) {
    FindClose(g_find.handle);
    g_find.handle = nullptr;
  }
  if (pattern == nullptr) return 0;
  g_find.data.dwFileAttributes = FILE_ATTRIBUTE_NORMAL;
  HANDLE found = FindFirstFileA(pattern, &g_find.data);
  if (found == INVALID_HANDLE_VALUE) return 0;
  if (closeFlag != 0) {
    FindClose(found);
  } else {
    g_find.handle = found;
  }
  return 1;
}

const WIN32_FIND_DATAA& FileFindData() {
  return g_find.data;
}

HANDLE FileFindHandle() {
  return g_find.handle;
}

std::int64_t FileSize(int slot) {
  LARGE_INTEGER size;
  if (!IsSlot(slot) || !GetFileSizeEx(g_files.handles[slot], &size)) return -1;
  return size.QuadPart;
}

std::int64_t FileSize(const char* name) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (name == nullptr || !GetFileAttributesExA(name, GetFileExInfoStandard, &data)) return -1;
  return static_cast<std::int64_t>((std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow);
}

FileCompareResult FileCompare(const char* first, const char* second, int mode) {
  OpenForCompare(kWorkSlot, first);
  OpenForCompare(kDeferredReadSlot, second);
  std::int64_t remainingA = FileSize(kWorkSlot);
  std::int64_t remainingB = FileSize(kDeferredReadSlot);
  // Two halves at the first 16-byte boundary after the free position of the
  // temporary text area.
  const std::uintptr_t free = reinterpret_cast<std::uintptr_t>(TempTextBegin());
  unsigned char* a = reinterpret_cast<unsigned char*>((free + 15) & ~std::uintptr_t{15});
  unsigned char* b = a + kHalf;
  const bool foldCase = mode == kCompareIgnoreCase;
  std::int64_t handled = 0;
  FileCompareResult result = {0, 0};
  for (;;) {
    const std::uint32_t gotA =
        static_cast<std::uint32_t>(FileReadSlot(kWorkSlot, a, ChunkOf(remainingA)).count);
    const std::uint32_t gotB =
        static_cast<std::uint32_t>(FileReadSlot(kDeferredReadSlot, b, ChunkOf(remainingB)).count);
    WriteEndMark(a + gotA, 0xFF);
    WriteEndMark(b + gotB, 0xFE);
    remainingA -= gotA;
    remainingB -= gotB;
    const std::uint32_t common = gotA < gotB ? gotA : gotB;
    const std::uint32_t at = FirstDifference(a, b, common, foldCase);
    if (at < common) {
      result = {static_cast<std::int32_t>(a[at]) - static_cast<std::int32_t>(b[at]), handled + at};
      break;
    }
    if (gotA != gotB) {
      result = PrefixResult(a, b, gotA, gotB, handled);
      break;
    }
    if (gotA < kChunk) {
      result = {0, handled + gotA};
      break;
    }
    handled += kChunk;
  }
  FileClose(kWorkSlot);
  FileClose(kDeferredReadSlot);
  return result;
}

}  // namespace tw
