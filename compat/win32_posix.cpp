// Native implementation of the Win32 subset in win32.h, over POSIX.
//
// A HANDLE of this layer is a file descriptor plus kHandleBias, so that 0 and
// INVALID_HANDLE_VALUE (-1) are never valid handles, as on Windows.
#include "compat/win32.h"

#include <errno.h>
#include <fcntl.h>
#include <malloc.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

constexpr std::intptr_t kHandleBias = 0x100;

thread_local DWORD t_lastError = ERROR_SUCCESS;

HANDLE HandleFromFd(int fd) {
  return reinterpret_cast<HANDLE>(fd + kHandleBias);
}

int FdFromHandle(HANDLE handle) {
  const std::intptr_t value = reinterpret_cast<std::intptr_t>(handle);
  if (value < kHandleBias) return -1;
  return static_cast<int>(value - kHandleBias);
}

DWORD ErrorFromErrno(int error) {
  switch (error) {
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case EBADF:
      return ERROR_INVALID_HANDLE;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case EINVAL:
      return ERROR_INVALID_PARAMETER;
    default:
      return ERROR_WRITE_FAULT;
  }
}

}  // namespace

HANDLE WINAPI GetStdHandle(DWORD which) {
  switch (which) {
    case STD_INPUT_HANDLE:
      return HandleFromFd(STDIN_FILENO);
    case STD_OUTPUT_HANDLE:
      return HandleFromFd(STDOUT_FILENO);
    case STD_ERROR_HANDLE:
      return HandleFromFd(STDERR_FILENO);
    default:
      t_lastError = ERROR_INVALID_HANDLE;
      return INVALID_HANDLE_VALUE;
  }
}

// Writes everything or fails, as WriteFile does for files and pipes; the count
// written so far is stored either way.
BOOL WINAPI WriteFile(HANDLE file, LPCVOID data, DWORD count, LPDWORD written, LPOVERLAPPED) {
  if (written != nullptr) *written = 0;
  const int fd = FdFromHandle(file);
  if (fd < 0) {
    t_lastError = ERROR_INVALID_HANDLE;
    return FALSE;
  }
  const char* bytes = static_cast<const char*>(data);
  DWORD done = 0;
  while (done < count) {
    const ssize_t n = write(fd, bytes + done, count - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      t_lastError = ErrorFromErrno(n < 0 ? errno : EIO);
      if (written != nullptr) *written = done;
      return FALSE;
    }
    done += static_cast<DWORD>(n);
  }
  if (written != nullptr) *written = done;
  return TRUE;
}

DWORD WINAPI GetLastError() {
  return t_lastError;
}

void WINAPI SetLastError(DWORD code) {
  t_lastError = code;
}

// Returns the value's length without the NUL when it fits, else the size needed
// with the NUL; 0 with ERROR_ENVVAR_NOT_FOUND when the variable does not exist.
DWORD WINAPI GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size) {
  const char* value = getenv(name);
  if (value == nullptr) {
    t_lastError = ERROR_ENVVAR_NOT_FOUND;
    return 0;
  }
  const size_t length = strlen(value);
  if (buffer == nullptr || length + 1 > size) return static_cast<DWORD>(length + 1);
  memcpy(buffer, value, length + 1);
  return static_cast<DWORD>(length);
}

// A null value removes the variable.
BOOL WINAPI SetEnvironmentVariableA(LPCSTR name, LPCSTR value) {
  const int result = value == nullptr ? unsetenv(name) : setenv(name, value, 1);
  if (result != 0) {
    t_lastError = ErrorFromErrno(errno);
    return FALSE;
  }
  return TRUE;
}

// ---- Readable memory ----------------------------------------------------------

namespace {

constexpr std::uintptr_t kPageSize = 4096;

// Whether the byte at address can be read: it is handed to the kernel through
// a pipe, which reports EFAULT instead of the process faulting. Readability is
// a property of the whole page, so one byte per page is enough.
bool ByteIsReadable(const void* address) {
  static int pipeEnds[2] = {-1, -1};
  if (pipeEnds[0] < 0 && pipe(pipeEnds) != 0) return false;
  ssize_t n;
  do {
    n = write(pipeEnds[1], address, 1);
  } while (n < 0 && errno == EINTR);
  if (n != 1) return false;
  char drained;
  while (read(pipeEnds[0], &drained, 1) < 0 && errno == EINTR) {
  }
  return true;
}

bool StartsAPage(const char* at) {
  return reinterpret_cast<std::uintptr_t>(at) % kPageSize == 0;
}

}  // namespace

// Each page is probed before its first byte is read; then the text is read
// byte by byte up to its NUL or max bytes, never beyond.
BOOL WINAPI IsBadStringPtrA(LPCSTR text, UINT_PTR max) {
  if (max == 0) return FALSE;
  if (text == nullptr) return TRUE;
  for (UINT_PTR i = 0; i < max; ++i) {
    if ((i == 0 || StartsAPage(text + i)) && !ByteIsReadable(text + i)) return TRUE;
    if (text[i] == '\0') return FALSE;
  }
  return FALSE;
}

// ---- Process heap -------------------------------------------------------------

namespace {

// Live blocks of the heap, so that HeapFree and HeapSize can refuse any
// other address without reading the memory around it: an open-addressed
// table of addresses (linear probing, removal by shifting the run after the
// removed slot back), at most half full. Each question is one probe run,
// with no allocation of its own (the table grows by doubling).
struct LiveBlockTable {
  void** slots = nullptr;
  size_t mask = 0;  // slot count - 1; 0 while there is no table
  size_t count = 0;
};

LiveBlockTable g_live;

size_t HomeSlot(const void* block, size_t mask) {
  // Fibonacci hashing of the address without its alignment bits.
  return static_cast<size_t>((static_cast<uint64_t>(reinterpret_cast<uintptr_t>(block) >> 4) *
                              0x9E3779B97F4A7C15ull) >>
                             32) &
         mask;
}

// The slot that holds block, or the empty slot where it would go.
size_t SlotOf(const LiveBlockTable& table, const void* block) {
  size_t slot = HomeSlot(block, table.mask);
  while (table.slots[slot] != nullptr && table.slots[slot] != block) slot = (slot + 1) & table.mask;
  return slot;
}

bool IsLiveBlock(const void* block) {
  return g_live.mask != 0 && g_live.slots[SlotOf(g_live, block)] == block;
}

// Doubles the table (the first has 1024 slots). False when memory is short.
bool GrowLiveBlocks() {
  const size_t slotCount = g_live.mask == 0 ? 1024 : 2 * (g_live.mask + 1);
  void** const slots = static_cast<void**>(calloc(slotCount, sizeof(void*)));
  if (slots == nullptr) return false;
  LiveBlockTable grown{slots, slotCount - 1, g_live.count};
  for (size_t i = 0; g_live.mask != 0 && i <= g_live.mask; ++i) {
    if (g_live.slots[i] != nullptr) grown.slots[SlotOf(grown, g_live.slots[i])] = g_live.slots[i];
  }
  free(g_live.slots);
  g_live = grown;
  return true;
}

bool AddLiveBlock(void* block) {
  if (2 * (g_live.count + 1) > g_live.mask + 1 && !GrowLiveBlocks()) return false;
  g_live.slots[SlotOf(g_live, block)] = block;
  ++g_live.count;
  return true;
}

// Removes block; false when it is not live. The entries after it in its run
// move back into the hole where their home slot allows, so that every probe
// run stays unbroken.
bool RemoveLiveBlock(void* block) {
  if (g_live.mask == 0) return false;
  size_t hole = SlotOf(g_live, block);
  if (g_live.slots[hole] != block) return false;
  for (size_t next = (hole + 1) & g_live.mask; g_live.slots[next] != nullptr;
       next = (next + 1) & g_live.mask) {
    const size_t home = HomeSlot(g_live.slots[next], g_live.mask);
    // The entry may fill the hole when its home does not lie in (hole, next].
    if (((next - home) & g_live.mask) >= ((next - hole) & g_live.mask)) {
      g_live.slots[hole] = g_live.slots[next];
      hole = next;
    }
  }
  g_live.slots[hole] = nullptr;
  --g_live.count;
  return true;
}

char g_processHeap;  // its address is the heap handle

// Large blocks (a recalled file, a big load buffer) ask the kernel for huge
// pages where it hands them out on request: filling such a block then takes
// one page fault per 2 MiB instead of one per 4 KiB, which is most of the
// cost of reading a large file into it.
constexpr size_t kHugePage = size_t{2} << 20;

void AskForHugePages(void* block, size_t bytes) {
  if (bytes < 2 * kHugePage) return;
  const uintptr_t start = (reinterpret_cast<uintptr_t>(block) + kHugePage - 1) & ~(kHugePage - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(block) + bytes) & ~(kHugePage - 1);
  if (end > start) madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
}

}  // namespace

HANDLE WINAPI GetProcessHeap() {
  return &g_processHeap;
}

// No block can be larger than the user address space (2^47 bytes on x86-64):
// such sizes are refused without asking malloc (which a sanitizer would
// report instead of failing).
constexpr SIZE_T kLargestBlock =
    sizeof(void*) == 8 ? (SIZE_T{1} << 47) : static_cast<SIZE_T>(PTRDIFF_MAX);

LPVOID WINAPI HeapAlloc(HANDLE heap, DWORD flags, SIZE_T size) {
  if (heap != &g_processHeap || size > kLargestBlock) {
    t_lastError = ERROR_NOT_ENOUGH_MEMORY;
    return nullptr;
  }
  const size_t bytes = size == 0 ? 1 : size;
  void* block = (flags & HEAP_ZERO_MEMORY) != 0 ? calloc(1, bytes) : malloc(bytes);
  if (block == nullptr) {
    t_lastError = ERROR_NOT_ENOUGH_MEMORY;
    return nullptr;
  }
  if (!AddLiveBlock(block)) {
    free(block);
    t_lastError = ERROR_NOT_ENOUGH_MEMORY;
    return nullptr;
  }
  AskForHugePages(block, bytes);
  return block;
}

// A null block is accepted (TRUE). Anything that is not a live block of this
// heap (a foreign address, a block already freed) is refused with FALSE.
BOOL WINAPI HeapFree(HANDLE heap, DWORD, LPVOID block) {
  if (block == nullptr) return TRUE;
  if (heap != &g_processHeap || !RemoveLiveBlock(block)) {
    t_lastError = ERROR_INVALID_PARAMETER;
    return FALSE;
  }
  free(block);
  return TRUE;
}

SIZE_T WINAPI HeapSize(HANDLE heap, DWORD, LPCVOID block) {
  if (heap != &g_processHeap || !IsLiveBlock(block)) {
    t_lastError = ERROR_INVALID_PARAMETER;
    return static_cast<SIZE_T>(-1);
  }
  return malloc_usable_size(const_cast<void*>(block));
}

// ---- Module file name ---------------------------------------------------------

DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) {
  if (module != nullptr || size == 0) {
    t_lastError = module != nullptr ? ERROR_INVALID_HANDLE : ERROR_INSUFFICIENT_BUFFER;
    if (size > 0) buffer[0] = '\0';
    return 0;
  }
  char path[4096];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) {
    t_lastError = ErrorFromErrno(errno);
    buffer[0] = '\0';
    return 0;
  }
  if (static_cast<DWORD>(length) >= size) {
    memcpy(buffer, path, size - 1);
    buffer[size - 1] = '\0';
    t_lastError = ERROR_INSUFFICIENT_BUFFER;
    return size;
  }
  memcpy(buffer, path, static_cast<size_t>(length));
  buffer[length] = '\0';
  return static_cast<DWORD>(length);
}

// ---- System messages ----------------------------------------------------------

namespace {

struct SystemMessage {
  DWORD code;
  const char* text;
};

constexpr SystemMessage kSystemMessages[] = {
    {ERROR_SUCCESS, "The operation completed successfully.\r\n"},
    {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified.\r\n"},
    {3, "The system cannot find the path specified.\r\n"},
    {5, "Access is denied.\r\n"},
    {ERROR_INVALID_HANDLE, "The handle is invalid.\r\n"},
    {ERROR_NOT_ENOUGH_MEMORY,
     "Not enough memory resources are available to process this command.\r\n"},
    {ERROR_WRITE_FAULT, "The system cannot write to the specified device.\r\n"},
    {32, "The process cannot access the file because it is being used by another process.\r\n"},
    {ERROR_INVALID_PARAMETER, "The parameter is incorrect.\r\n"},
    {112, "There is not enough space on the disk.\r\n"},
    {ERROR_INSUFFICIENT_BUFFER, "The data area passed to a system call is too small.\r\n"},
    {ERROR_ENVVAR_NOT_FOUND,
     "The system could not find the environment option that was entered.\r\n"},
    // The failures of the file routines (compat/files_posix.cpp).
    {18, "There are no more files.\r\n"},
    {38, "Reached the end of the file.\r\n"},
    {80, "The file exists.\r\n"},
    {123, "The filename, directory name, or volume label syntax is incorrect.\r\n"},
    {131, "An attempt was made to move the file pointer before the beginning of the file.\r\n"},
    {183, "Cannot create a file when that file already exists.\r\n"},
    {206, "The filename or extension is too long.\r\n"},
    {1813, "The specified resource type cannot be found in the image file.\r\n"},
    {1814, "The specified resource name cannot be found in the image file.\r\n"},
};

}  // namespace

DWORD WINAPI FormatMessageA(DWORD flags, LPCVOID, DWORD messageId, DWORD, LPSTR buffer, DWORD size,
                            void*) {
  if ((flags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 || buffer == nullptr) {
    t_lastError = ERROR_INVALID_PARAMETER;
    return 0;
  }
  for (const SystemMessage& message : kSystemMessages) {
    if (message.code != messageId) continue;
    const size_t length = strlen(message.text);
    if (length + 1 > size) {
      t_lastError = ERROR_INSUFFICIENT_BUFFER;
      return 0;
    }
    memcpy(buffer, message.text, length + 1);
    return static_cast<DWORD>(length);
  }
  t_lastError = ERROR_MR_MID_NOT_FOUND;
  return 0;
}

// ---- Case conversion ----------------------------------------------------------

namespace {

// Windows-1252 letters: ASCII, the Latin-1 range (0xC0-0xDE but 0xD7) and the
// four pairs 8A/9A, 8C/9C, 8E/9E, 9F/FF.
unsigned LowerAnsi(unsigned c) {
  if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) return c + 0x20;
  if (c == 0x8A || c == 0x8C || c == 0x8E) return c + 0x10;
  if (c == 0x9F) return 0xFF;
  return c;
}

unsigned UpperAnsi(unsigned c) {
  if ((c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) return c - 0x20;
  if (c == 0x9A || c == 0x9C || c == 0x9E) return c - 0x10;
  if (c == 0xFF) return 0x9F;
  return c;
}

// Latin Extended-A pairs capital and small letter as (even, odd) in
// 0100-0137 and 014A-0177, as (odd, even) in 0139-0148 and 0179-017E.
bool CapitalFirstIsEven(unsigned c) {
  return (c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177);
}
bool CapitalFirstIsOdd(unsigned c) {
  return (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
}

unsigned LowerWide(unsigned c) {
  if (c < 0x80) return LowerAnsi(c);
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 0x20;
  if (c == 0x178) return 0xFF;
  if (CapitalFirstIsEven(c) && c % 2 == 0) return c + 1;
  if (CapitalFirstIsOdd(c) && c % 2 == 1) return c + 1;
  return c;
}

unsigned UpperWide(unsigned c) {
  if (c < 0x80) return UpperAnsi(c);
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 0x20;
  if (c == 0xFF) return 0x178;
  if (CapitalFirstIsEven(c) && c % 2 == 1) return c - 1;
  if (CapitalFirstIsOdd(c) && c % 2 == 0) return c - 1;
  return c;
}

}  // namespace

DWORD WINAPI CharLowerBuffA(LPSTR text, DWORD length) {
  for (DWORD i = 0; i < length; ++i) {
    text[i] = static_cast<char>(LowerAnsi(static_cast<unsigned char>(text[i])));
  }
  return length;
}

DWORD WINAPI CharUpperBuffA(LPSTR text, DWORD length) {
  for (DWORD i = 0; i < length; ++i) {
    text[i] = static_cast<char>(UpperAnsi(static_cast<unsigned char>(text[i])));
  }
  return length;
}

DWORD WINAPI CharLowerBuffW(LPWSTR text, DWORD length) {
  for (DWORD i = 0; i < length; ++i) text[i] = static_cast<WCHAR>(LowerWide(text[i]));
  return length;
}

DWORD WINAPI CharUpperBuffW(LPWSTR text, DWORD length) {
  for (DWORD i = 0; i < length; ++i) text[i] = static_cast<WCHAR>(UpperWide(text[i]));
  return length;
}

// ---- Process end and debugger -------------------------------------------------

void WINAPI ExitProcess(UINT code) {
  _exit(static_cast<int>(code & 0xFF));
}

// A tracer (debugger) shows as a non-zero TracerPid in /proc/self/status.
BOOL WINAPI IsDebuggerPresent() {
  char status[4096];
  const int fd = open("/proc/self/status", O_RDONLY);
  if (fd < 0) return FALSE;
  const ssize_t length = read(fd, status, sizeof status - 1);
  close(fd);
  if (length <= 0) return FALSE;
  status[length] = '\0';
  const char* line = strstr(status, "TracerPid:");
  if (line == nullptr) return FALSE;
  return atoi(line + sizeof "TracerPid:" - 1) != 0 ? TRUE : FALSE;
}

void WINAPI DebugBreak() {
  __asm__ volatile("int3");
}
