// File slots and file queries: the library keeps its open files in eleven
// numbered slots (0 to 10; 9 and 10 are the library's own working slots) and
// opens, reads, touches and closes them by number; beside them stand the
// existence test with its kept find data, file sizes by slot or by name, and
// whole-file comparison. See docs/files.md.
#pragma once

#include "../compat/win32.h"

#include <cstdint>

namespace tw {

constexpr int kFileSlotCount = 11;
constexpr int kCloseAllSlots = 11;           // FileClose(11) closes slots 10 down to 0
constexpr int kWorkSlot = 9;                 // Recall, Store, first file of FileCompare
constexpr int kDeferredReadSlot = 10;        // deferred reads, second file of FileCompare
constexpr std::uint32_t kSlotWritten = 127;  // mode byte after an open for writing
constexpr std::uint32_t kSlotBomDue = 1;     // mode bit: a UTF-16 byte-order mark is due

// Search argument of FileOpenRead: 0 opens the name as it is, 1 searches the
// system's standard order, anything else is the address of a list of folders
// separated by semicolons (FolderList).
constexpr std::uintptr_t kSearchNone = 0;
constexpr std::uintptr_t kSearchSystem = 1;
inline std::uintptr_t FolderList(const char* folders) {
  return reinterpret_cast<std::uintptr_t>(folders);
}

// Closes one slot (0 to 10) or, with 11, all of them from 10 down to 0: the
// mode byte becomes 0 and an open handle is closed. Other numbers do nothing.
void FileClose(int slot);

// Opens name for reading into slot and returns the handle stored there, or
// INVALID_HANDLE_VALUE (-1, also stored). A search that finds nothing, or only
// a path longer than MAX_PATH, leaves the file-message buffer as it was; a
// found name that cannot be opened leaves "File not found: " and the name.
// A slot outside 0 to 10 returns -1 and touches nothing.
HANDLE FileOpenRead(int slot, const char* name, std::uintptr_t search);

// Opens name for reading and writing into slot. mode "a"/"A": the file is kept
// (created when missing) and writing appends; "u"/"U": kept, written from the
// start; anything else (the library passes "O"): created anew. The mode byte
// becomes 127. A failure stores and returns -1 and leaves "Could not open "
// and the name. A slot outside 0 to 10 returns -1 and touches nothing.
HANDLE FileOpenWrite(int slot, const char* name, int mode);

// The number of bytes read and the buffer they went to.
struct FileReadResult {
  std::int32_t count;
  void* buffer;
};

// Reads up to count bytes from the slot's file. A slot whose open failed (-1)
// is the last-error fatal error; a closed slot, or one outside 0 to 10, reads
// 0 bytes.
FileReadResult FileReadSlot(int slot, void* buffer, std::uint32_t count);

// Sets the creation, last-access and last-write times of an open file (a
// handle, not a slot) to the current time. When strict is not 0 a failure is
// the last-error fatal error; otherwise it passes silently.
void FileTouch(HANDLE file, int strict);

// The slot's handle (0 closed, -1 failed open) and mode word; 0 for numbers
// outside 0 to 10.
HANDLE FileSlotHandle(int slot);
std::uint32_t FileSlotMode(int slot);
// For routines that take a handle out of a slot (its file is then theirs to
// close) or clear the byte-order-mark bit. Numbers outside 0 to 10 are ignored.
void SetFileSlotHandle(int slot, HANDLE handle);
void SetFileSlotMode(int slot, std::uint32_t mode);

// The file-message buffer: what the last failed open left ("File not found: "
// or "Could not open " and the name, cut to the buffer's size); empty before.
const char* FileMessage();

// ---- File queries ------------------------------------------------------------

// Whether a file, folder or match of a * and ? pattern exists (non-zero) or
// not (0). The first match's directory data stays in FileFindData(). With
// closeFlag 0 the search stays open as FileFindHandle() until the next
// FileExists, which closes it first; otherwise it is closed at once.
int FileExists(const char* pattern, int closeFlag);
const WIN32_FIND_DATAA& FileFindData();
HANDLE FileFindHandle();

// A file's size by slot (0 to 10) or by name, as a 64-bit value; -1 (both
// halves) when the query fails or the slot is not a slot.
std::int64_t FileSize(int slot);
std::int64_t FileSize(const char* name);

// Result of FileCompare: first file's byte minus second file's (each 0 to
// 255) at the first difference, 0 when the files are equal, and the 0-based
// position of that difference (the size when equal).
struct FileCompareResult {
  std::int32_t difference;
  std::int64_t position;
};
constexpr int kCompareExact = 0;
constexpr int kCompareIgnoreCase = 1;  // compares bytes with bit 5 (value 32) set

// Compares two files in 4,096-byte chunks. Files of different sizes: the
// position is the first differing byte's, or the shorter file's size when it
// is a prefix of the longer one; the difference is then the byte after the
// shorter file's end (counted as 0) against the other's byte, and never 0. A
// file that cannot be opened is fatal error 5 with its name. Uses slots 9 and
// 10 and closes both.
FileCompareResult FileCompare(const char* first, const char* second, int mode);

}  // namespace tw
