// Native implementation of the file part of win32.h over POSIX: opening,
// reading, positioning and closing files (with the share modes kept between
// this process's handles), file sizes and attributes, path search, directory
// search with * and ? patterns, file times, the command line and the (absent)
// string resources.
//
// File handles are descriptors plus 0x100, the scheme of win32_posix.cpp; a
// find handle is a record of its own.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <climits>
#include <cstddef>
#include <cstdint>

#include "compat/win32.h"

namespace {

constexpr std::intptr_t kHandleBias = 0x100;

HANDLE HandleFromFd(int fd) {
  return reinterpret_cast<HANDLE>(fd + kHandleBias);
}

int FdFromHandle(HANDLE handle) {
  const std::intptr_t value = reinterpret_cast<std::intptr_t>(handle);
  if (value < kHandleBias || value - kHandleBias > INT_MAX) return -1;
  return static_cast<int>(value - kHandleBias);
}

// ---- Open files and their share modes ---------------------------------------

// What CreateFileA asked for, per descriptor, so that a later open of the same
// file can be refused the way Windows refuses it.
struct OpenFile {
  bool tracked;
  dev_t device;
  ino_t inode;
  DWORD access;
  DWORD share;
};

constexpr int kTrackedDescriptors = 4096;
OpenFile g_openFiles[kTrackedDescriptors] = {};

bool Wants(DWORD access, DWORD right) {
  return (access & right) != 0;
}

// Two opens of one file agree when each allows what the other asks for.
bool SharesAgree(const OpenFile& open, DWORD access, DWORD share) {
  if (Wants(access, GENERIC_READ) && !Wants(open.share, FILE_SHARE_READ)) return false;
  if (Wants(access, GENERIC_WRITE) && !Wants(open.share, FILE_SHARE_WRITE)) return false;
  if (Wants(open.access, GENERIC_READ) && !Wants(share, FILE_SHARE_READ)) return false;
  if (Wants(open.access, GENERIC_WRITE) && !Wants(share, FILE_SHARE_WRITE)) return false;
  return true;
}

bool ShareConflict(const struct stat& file, DWORD access, DWORD share) {
  for (const OpenFile& open : g_openFiles) {
    if (!open.tracked || open.device != file.st_dev || open.inode != file.st_ino) continue;
    if (!SharesAgree(open, access, share)) return true;
  }
  return false;
}

void TrackOpenFile(int fd, const struct stat& file, DWORD access, DWORD share) {
  if (fd < 0 || fd >= kTrackedDescriptors) return;
  g_openFiles[fd] = {true, file.st_dev, file.st_ino, access, share};
}

void ForgetOpenFile(int fd) {
  if (fd >= 0 && fd < kTrackedDescriptors) g_openFiles[fd] = {};
}

// Descriptors this layer did not open (the standard handles) count as open
// for reading and writing.
DWORD AccessOf(int fd) {
  if (fd >= 0 && fd < kTrackedDescriptors && g_openFiles[fd].tracked) return g_openFiles[fd].access;
  return GENERIC_READ | GENERIC_WRITE;
}

bool HasWildcard(const char* name) {
  return strpbrk(name, "*?") != nullptr;
}

// The folder part of name exists (for telling a missing file from a missing
// folder, ERROR_FILE_NOT_FOUND from ERROR_PATH_NOT_FOUND).
bool FolderOfNameExists(const char* name) {
  const char* slash = strrchr(name, '/');
  if (slash == nullptr) return true;
  if (slash == name) return true;
  char folder[PATH_MAX];
  const size_t length = static_cast<size_t>(slash - name);
  if (length >= sizeof folder) return false;
  memcpy(folder, name, length);
  folder[length] = '\0';
  struct stat info;
  return stat(folder, &info) == 0 && S_ISDIR(info.st_mode);
}

DWORD ErrorOfName(int error, const char* name) {
  switch (error) {
    case ENOENT:
      return FolderOfNameExists(name) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case ENXIO:  // a socket, or a FIFO opened only for writing that nobody reads
    case EISDIR:
    case EROFS:
    case ETXTBSY:
      return ERROR_ACCESS_DENIED;
    case EEXIST:
      return ERROR_FILE_EXISTS;
    case ENAMETOOLONG:
      return ERROR_FILENAME_EXCED_RANGE;
    case ENOSPC:
      return ERROR_DISK_FULL;
    default:
      return ERROR_INVALID_PARAMETER;
  }
}

// The checks Windows makes on a name before it looks at the disk.
bool NameIsUsable(const char* name) {
  if (name == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  if (name[0] == '\0') {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return false;
  }
  if (strlen(name) >= MAX_PATH) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  if (HasWildcard(name)) {
    SetLastError(ERROR_INVALID_NAME);
    return false;
  }
  return true;
}

// Every open is made without waiting (O_NONBLOCK): a FIFO that no writer has
// opened, or a device that waits for a line, would otherwise hold the open
// forever.
int OpenFlags(DWORD access, DWORD disposition) {
  // An open for queries only (access 0) reads and writes nothing: O_PATH
  // needs no permission on the file and never waits.
  if (access == 0 && disposition == OPEN_EXISTING) return O_CLOEXEC | O_PATH;
  int flags = O_CLOEXEC | O_NONBLOCK;
  if (Wants(access, GENERIC_READ) && Wants(access, GENERIC_WRITE)) {
    flags |= O_RDWR;
  } else if (Wants(access, GENERIC_WRITE)) {
    flags |= O_WRONLY;
  } else {
    flags |= O_RDONLY;
  }
  if (disposition == CREATE_NEW) flags |= O_CREAT | O_EXCL;
  if (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS) flags |= O_CREAT;
  return flags;
}

bool DispositionIsKnown(DWORD disposition) {
  return disposition >= CREATE_NEW && disposition <= TRUNCATE_EXISTING;
}

// A FIFO or a character device is opened as Windows opens a pipe or a device
// by name, and stays non-blocking: a read gives what is there now (possibly
// nothing) and never waits for a writer. Regular files go back to ordinary
// blocking reads. Sockets cannot be opened as files.
bool OpensAsFile(const struct stat& info) {
  return S_ISREG(info.st_mode) || S_ISFIFO(info.st_mode) || S_ISCHR(info.st_mode) ||
         S_ISBLK(info.st_mode);
}

bool KeepsNonBlocking(const struct stat& info) {
  return S_ISFIFO(info.st_mode) || S_ISCHR(info.st_mode);
}

bool ClearNonBlocking(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  return flags >= 0 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

HANDLE FailOpen(int fd, DWORD error) {
  if (fd >= 0) close(fd);
  SetLastError(error);
  return INVALID_HANDLE_VALUE;
}

// ---- Times ---------------------------------------------------------------------

constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600;
constexpr std::int64_t kTicksPerSecond = 10000000;

FILETIME FileTimeFromTicks(std::int64_t ticks) {
  const std::uint64_t value = static_cast<std::uint64_t>(ticks);
  return {static_cast<DWORD>(value), static_cast<DWORD>(value >> 32)};
}

std::int64_t TicksOfFileTime(const FILETIME& time) {
  return static_cast<std::int64_t>((std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime);
}

FILETIME FileTimeFromTimespec(const struct timespec& time) {
  return FileTimeFromTicks((time.tv_sec + kSecondsFrom1601To1970) * kTicksPerSecond +
                           time.tv_nsec / 100);
}

struct timespec TimespecOfFileTime(const FILETIME& time) {
  const std::int64_t ticks = TicksOfFileTime(time);
  struct timespec result;
  result.tv_sec = static_cast<time_t>(ticks / kTicksPerSecond - kSecondsFrom1601To1970);
  result.tv_nsec = static_cast<long>(ticks % kTicksPerSecond) * 100;
  return result;
}

// The creation time: the birth time where the file system keeps one, else
// the last-write time.
FILETIME CreationTimeOf(const char* name, const struct stat& info) {
  struct statx extended;
  if (name != nullptr && statx(AT_FDCWD, name, 0, STATX_BTIME, &extended) == 0 &&
      (extended.stx_mask & STATX_BTIME) != 0) {
    struct timespec birth = {static_cast<time_t>(extended.stx_btime.tv_sec),
                             static_cast<long>(extended.stx_btime.tv_nsec)};
    return FileTimeFromTimespec(birth);
  }
  return FileTimeFromTimespec(info.st_mtim);
}

DWORD AttributesOf(const struct stat& info) {
  DWORD attributes = S_ISDIR(info.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
  if ((info.st_mode & S_IWUSR) == 0) attributes |= FILE_ATTRIBUTE_READONLY;
  return attributes;
}

// Days from 1 January 1970 to the given date of the proleptic Gregorian
// calendar (negative before it).
std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day) {
  year -= month <= 2 ? 1 : 0;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
  const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

bool IsLeapYear(unsigned year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

unsigned DaysInMonth(unsigned year, unsigned month) {
  static const unsigned kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

bool SystemTimeIsValid(const SYSTEMTIME& time) {
  if (time.wYear < 1601 || time.wYear > 30827) return false;
  if (time.wMonth < 1 || time.wMonth > 12) return false;
  if (time.wDay < 1 || time.wDay > DaysInMonth(time.wYear, time.wMonth)) return false;
  return time.wHour < 24 && time.wMinute < 60 && time.wSecond < 60 && time.wMilliseconds < 1000;
}

// ---- Directory search ------------------------------------------------------------

constexpr std::uint32_t kFindMagic = 0x46494E44;  // "FIND"

struct FindRecord {
  std::uint32_t magic;
};

// * matches any run of characters, ? exactly one. Two pointers walk the
// pattern and the name; on a mismatch the walk goes back to the latest star
// and lets it take one character more. Earlier stars never need another try
// (whatever they took, the latest star can take instead), so this is at most
// pattern length times name length steps.
bool PlainMatch(const char* pattern, std::size_t patternLength, const char* name) {
  std::size_t p = 0;
  std::size_t n = 0;
  std::size_t starAt = SIZE_MAX;  // pattern position of the latest star
  std::size_t starName = 0;       // name position where that star's run ends
  while (name[n] != '\0') {
    if (p < patternLength && pattern[p] == '*') {
      starAt = p++;
      starName = n;
    } else if (p < patternLength && (pattern[p] == '?' || pattern[p] == name[n])) {
      ++p;
      ++n;
    } else if (starAt != SIZE_MAX) {
      p = starAt + 1;
      n = ++starName;
    } else {
      return false;
    }
  }
  while (p < patternLength && pattern[p] == '*') ++p;
  return p == patternLength;
}

// A pattern ending in ".*" also matches a name without that dot ("*.*"
// matches every name).
bool NameMatches(const char* pattern, const char* name) {
  const std::size_t length = strlen(pattern);
  if (PlainMatch(pattern, length, name)) return true;
  return length >= 2 && strcmp(pattern + length - 2, ".*") == 0 &&
         PlainMatch(pattern, length - 2, name);
}

void FillFindData(WIN32_FIND_DATAA* data, const char* path, const char* name,
                  const struct stat& info) {
  memset(data, 0, sizeof *data);
  data->dwFileAttributes = AttributesOf(info);
  data->ftCreationTime = CreationTimeOf(path, info);
  data->ftLastAccessTime = FileTimeFromTimespec(info.st_atim);
  data->ftLastWriteTime = FileTimeFromTimespec(info.st_mtim);
  const std::uint64_t size = S_ISDIR(info.st_mode) ? 0 : static_cast<std::uint64_t>(info.st_size);
  data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
  data->nFileSizeLow = static_cast<DWORD>(size);
  strncpy(data->cFileName, name, sizeof data->cFileName - 1);
}

// The name of the folder entry that matches pattern and comes first in byte
// order, into best (PATH_MAX bytes); false when none matches.
bool FirstMatchingEntry(const char* folder, const char* pattern, char* best) {
  DIR* directory = opendir(folder);
  if (directory == nullptr) return false;
  bool found = false;
  while (const struct dirent* entry = readdir(directory)) {
    if (!NameMatches(pattern, entry->d_name)) continue;
    if (!found || strcmp(entry->d_name, best) < 0) {
      strncpy(best, entry->d_name, PATH_MAX - 1);
      best[PATH_MAX - 1] = '\0';
      found = true;
    }
  }
  closedir(directory);
  return found;
}

HANDLE NewFindHandle() {
  FindRecord* record = static_cast<FindRecord*>(malloc(sizeof(FindRecord)));
  if (record == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
  }
  record->magic = kFindMagic;
  return record;
}

// ---- Path search -------------------------------------------------------------------

bool NameIsExplicitPath(const char* name) {
  return name[0] == '/' || strncmp(name, "./", 2) == 0 || strncmp(name, "../", 3) == 0;
}

// Writes folder/name (made absolute) into candidate when that file exists.
bool ExistsInFolder(const char* folder, size_t folderLength, const char* name, char* candidate,
                    size_t capacity) {
  char relative[PATH_MAX];
  const bool bare = folderLength == 0;
  const int written = bare ? snprintf(relative, sizeof relative, "%s", name)
                           : snprintf(relative, sizeof relative, "%.*s/%s",
                                      static_cast<int>(folderLength), folder, name);
  if (written < 0 || static_cast<size_t>(written) >= sizeof relative) return false;
  struct stat info;
  if (stat(relative, &info) != 0) return false;
  if (relative[0] == '/') {
    snprintf(candidate, capacity, "%s", relative);
    return true;
  }
  char current[PATH_MAX];
  if (getcwd(current, sizeof current) == nullptr) return false;
  const char* tail = strncmp(relative, "./", 2) == 0 ? relative + 2 : relative;
  const int total = snprintf(candidate, capacity, "%s/%s", current, tail);
  return total >= 0 && static_cast<size_t>(total) < capacity;
}

// Tries each folder of a list separated by separator.
bool SearchFolderList(const char* list, char separator, const char* name, char* candidate,
                      size_t capacity) {
  for (const char* at = list; at != nullptr && *at != '\0';) {
    const char* end = strchr(at, separator);
    const size_t length = end != nullptr ? static_cast<size_t>(end - at) : strlen(at);
    if (length > 0 && ExistsInFolder(at, length, name, candidate, capacity)) return true;
    at = end != nullptr ? end + 1 : nullptr;
  }
  return false;
}

bool SearchProgramFolder(const char* name, char* candidate, size_t capacity) {
  char program[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", program, sizeof program - 1);
  if (length <= 0) return false;
  program[length] = '\0';
  const char* slash = strrchr(program, '/');
  if (slash == nullptr) return false;
  return ExistsInFolder(program, static_cast<size_t>(slash - program), name, candidate, capacity);
}

bool SearchStandardOrder(const char* name, char* candidate, size_t capacity) {
  return SearchProgramFolder(name, candidate, capacity) ||
         ExistsInFolder(".", 1, name, candidate, capacity) ||
         SearchFolderList(getenv("PATH"), ':', name, candidate, capacity);
}

// ---- Command line ----------------------------------------------------------------

constexpr char kQuoteChoices[] = "\"'#!$%&";

bool IsQuoteCharacter(unsigned char c) {
  return c >= 33 && c <= 39;
}

// An argument is read back unchanged without quotes when it is not empty,
// starts with neither a blank nor a quote character and holds no space.
bool NeedsQuotes(const char* argument) {
  const unsigned char first = static_cast<unsigned char>(argument[0]);
  return first <= 32 || IsQuoteCharacter(first) || strchr(argument, ' ') != nullptr;
}

char QuoteFor(const char* argument) {
  for (const char* quote = kQuoteChoices; *quote != '\0'; ++quote) {
    if (strchr(argument, *quote) == nullptr) return *quote;
  }
  return '"';
}

// Appends one argument; characters of code 1 to 9, which end an argument when
// the line is read, are written as spaces; an empty argument is written as
// three double quotes (read back as one, keeping the later arguments' numbers).
char* AppendArgument(char* at, const char* argument) {
  if (argument[0] == '\0') {
    memcpy(at, "\"\"\"", 3);
    return at + 3;
  }
  char* const start = at;
  for (const char* c = argument; *c != '\0'; ++c) *at++ = (*c >= 1 && *c <= 9) ? ' ' : *c;
  *at = '\0';
  if (!NeedsQuotes(start)) return at;
  const char quote = QuoteFor(start);
  memmove(start + 1, start, static_cast<size_t>(at - start));
  *start = quote;
  at[1] = quote;
  return at + 2;
}

char* BuildCommandLine() {
  static char empty[1] = {'\0'};
  FILE* file = fopen("/proc/self/cmdline", "rb");
  if (file == nullptr) return empty;
  size_t capacity = 4096;
  size_t length = 0;
  char* raw = static_cast<char*>(malloc(capacity));
  while (raw != nullptr) {
    length += fread(raw + length, 1, capacity - length, file);
    if (length < capacity) break;
    capacity *= 2;
    char* grown = static_cast<char*>(realloc(raw, capacity));
    if (grown == nullptr) free(raw);
    raw = grown;
  }
  fclose(file);
  if (raw == nullptr) return empty;
  // Each argument may grow by its two quotes and a separator.
  char* line = static_cast<char*>(malloc(length * 2 + 8));
  if (line == nullptr) {
    free(raw);
    return empty;
  }
  char* at = line;
  for (size_t offset = 0; offset < length; offset += strlen(raw + offset) + 1) {
    if (at != line) *at++ = ' ';
    at = AppendArgument(at, raw + offset);
  }
  *at = '\0';
  free(raw);
  return line;
}

}  // namespace

// ---- Files --------------------------------------------------------------------------

HANDLE WINAPI CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES,
                          DWORD disposition, DWORD, HANDLE) {
  if (!NameIsUsable(name)) return INVALID_HANDLE_VALUE;
  if (!DispositionIsKnown(disposition)) return FailOpen(-1, ERROR_INVALID_PARAMETER);
  struct stat before;
  const bool existed = stat(name, &before) == 0;
  if (existed && !OpensAsFile(before)) return FailOpen(-1, ERROR_ACCESS_DENIED);
  if (existed && ShareConflict(before, access, share)) {
    return FailOpen(-1, ERROR_SHARING_VIOLATION);
  }
  const int fd = open(name, OpenFlags(access, disposition), 0666);
  if (fd < 0) return FailOpen(-1, ErrorOfName(errno, name));
  struct stat info;
  if (fstat(fd, &info) != 0) return FailOpen(fd, ErrorOfName(errno, name));
  if (!OpensAsFile(info)) return FailOpen(fd, ERROR_ACCESS_DENIED);
  const bool queryOnly = (OpenFlags(access, disposition) & O_PATH) != 0;
  if (!queryOnly && !KeepsNonBlocking(info) && !ClearNonBlocking(fd)) {
    return FailOpen(fd, ErrorOfName(errno, name));
  }
  if (!existed && ShareConflict(info, access, share)) return FailOpen(fd, ERROR_SHARING_VIOLATION);
  const bool truncate = disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING;
  if (truncate && info.st_size != 0 && ftruncate(fd, 0) != 0) {
    return FailOpen(fd, ErrorOfName(errno, name));
  }
  TrackOpenFile(fd, info, access, share);
  const bool reportsExisting = disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS;
  SetLastError(existed && reportsExisting ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return HandleFromFd(fd);
}

BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD read, LPOVERLAPPED) {
  if (read != nullptr) *read = 0;
  const int fd = FdFromHandle(file);
  if (fd < 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!Wants(AccessOf(fd), GENERIC_READ)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  char* bytes = static_cast<char*>(buffer);
  DWORD done = 0;
  while (done < count) {
    const ssize_t n = ::read(fd, bytes + done, count - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
      break;  // a FIFO or device: all there is
    if (n < 0) {
      // A descriptor that is not open is an invalid handle (asked only now:
      // a check before every read would cost a call of its own); one open
      // for writing only, or a folder, denies the read.
      const int error = errno;
      SetLastError(error == EBADF && fcntl(fd, F_GETFD) < 0 ? ERROR_INVALID_HANDLE
                   : error == EISDIR || error == EBADF      ? ERROR_ACCESS_DENIED
                                                            : ErrorOfName(error, ""));
      if (read != nullptr) *read = done;
      return FALSE;
    }
    if (n == 0) break;
    done += static_cast<DWORD>(n);
  }
  if (read != nullptr) *read = done;
  return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE handle) {
  const int fd = FdFromHandle(handle);
  if (fd < 0 || close(fd) != 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  ForgetOpenFile(fd);
  return TRUE;
}

DWORD WINAPI SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method) {
  const int fd = FdFromHandle(file);
  if (fd < 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return INVALID_SET_FILE_POINTER;
  }
  std::int64_t move = distance;
  if (distanceHigh != nullptr) {
    move =
        static_cast<std::int64_t>((std::uint64_t{static_cast<std::uint32_t>(*distanceHigh)} << 32) |
                                  static_cast<std::uint32_t>(distance));
  }
  const int whence = method == FILE_BEGIN ? SEEK_SET : method == FILE_CURRENT ? SEEK_CUR : SEEK_END;
  if (method > FILE_END) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  const off_t current = lseek(fd, 0, SEEK_CUR);
  const off_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? current : lseek(fd, 0, SEEK_END);
  if (current < 0 || base < 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return INVALID_SET_FILE_POINTER;
  }
  if (base + move < 0) {
    lseek(fd, current, SEEK_SET);
    SetLastError(ERROR_NEGATIVE_SEEK);
    return INVALID_SET_FILE_POINTER;
  }
  const off_t position = lseek(fd, base + move, SEEK_SET);
  const std::uint64_t value = static_cast<std::uint64_t>(position);
  if (distanceHigh != nullptr) *distanceHigh = static_cast<LONG>(value >> 32);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(value);
}

BOOL WINAPI GetFileSizeEx(HANDLE file, LARGE_INTEGER* size) {
  const int fd = FdFromHandle(file);
  struct stat info;
  if (fd < 0 || fstat(fd, &info) != 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  size->QuadPart = info.st_size;
  return TRUE;
}

DWORD WINAPI GetFileSize(HANDLE file, LPDWORD sizeHigh) {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file, &size)) return INVALID_FILE_SIZE;
  if (sizeHigh != nullptr) *sizeHigh = static_cast<DWORD>(size.HighPart);
  SetLastError(ERROR_SUCCESS);
  return size.LowPart;
}

BOOL WINAPI CreatePipe(HANDLE* readPipe, HANDLE* writePipe, LPSECURITY_ATTRIBUTES, DWORD) {
  int ends[2];
  if (readPipe == nullptr || writePipe == nullptr || pipe2(ends, O_CLOEXEC) != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *readPipe = HandleFromFd(ends[0]);
  *writePipe = HandleFromFd(ends[1]);
  return TRUE;
}

DWORD WINAPI GetFileType(HANDLE file) {
  const int fd = FdFromHandle(file);
  struct stat info;
  if (fd < 0 || fstat(fd, &info) != 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FILE_TYPE_UNKNOWN;
  }
  SetLastError(ERROR_SUCCESS);
  if (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode)) return FILE_TYPE_PIPE;
  // A block device is a special file too: it is written in place, never
  // replaced by a new file.
  if (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode)) return FILE_TYPE_CHAR;
  return FILE_TYPE_DISK;
}

BOOL WINAPI SetNamedPipeHandleState(HANDLE pipe, LPDWORD mode, LPDWORD maxCollectionCount,
                                    LPDWORD collectDataTimeout) {
  const int fd = FdFromHandle(pipe);
  const int flags = fd < 0 ? -1 : fcntl(fd, F_GETFL);
  if (flags < 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (maxCollectionCount != nullptr || collectDataTimeout != nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (mode == nullptr) return TRUE;
  const int wanted = (*mode & PIPE_NOWAIT) != 0 ? flags | O_NONBLOCK : flags & ~O_NONBLOCK;
  if (fcntl(fd, F_SETFL, wanted) != 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

DWORD WINAPI GetFinalPathNameByHandleA(HANDLE file, LPSTR buffer, DWORD size, DWORD) {
  const int fd = FdFromHandle(file);
  char link[32];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  char path[PATH_MAX];
  const ssize_t length = fd < 0 ? -1 : readlink(link, path, sizeof path - 1);
  if (length <= 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  const DWORD needed = static_cast<DWORD>(length);
  if (buffer == nullptr || needed >= size) return needed + 1;
  memcpy(buffer, path, needed);
  buffer[needed] = '\0';
  return needed;
}

UINT WINAPI GetTempFileNameA(LPCSTR folder, LPCSTR prefix, UINT unique, LPSTR buffer) {
  if (folder == nullptr || prefix == nullptr || buffer == nullptr || unique != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  // Windows takes up to three characters of the prefix and four hex digits.
  const size_t folderLength = strlen(folder);
  const size_t prefixLength = strnlen(prefix, 3);
  if (folderLength + prefixLength + 10 >= MAX_PATH) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return 0;
  }
  const bool slash = folderLength > 0 && folder[folderLength - 1] == '/';
  const UINT first = static_cast<UINT>((getpid() ^ time(nullptr)) & 0xFFFF);
  for (UINT step = 0; step < 0x10000; ++step) {
    const UINT number = ((first + step) & 0xFFFF) == 0 ? 1 : (first + step) & 0xFFFF;
    snprintf(buffer, MAX_PATH, "%s%s%.*s%04X.tmp", folder, slash ? "" : "/",
             static_cast<int>(prefixLength), prefix, number);
    const int fd = open(buffer, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      close(fd);
      return number;
    }
    if (errno != EEXIST) {
      SetLastError(ErrorOfName(errno, buffer));
      return 0;
    }
  }
  SetLastError(ERROR_FILE_EXISTS);
  return 0;
}

BOOL WINAPI MoveFileExA(LPCSTR from, LPCSTR to, DWORD flags) {
  if (!NameIsUsable(from) || !NameIsUsable(to)) return FALSE;
  struct stat info;
  if ((flags & MOVEFILE_REPLACE_EXISTING) == 0 && lstat(to, &info) == 0) {
    SetLastError(ERROR_ALREADY_EXISTS);
    return FALSE;
  }
  if (rename(from, to) != 0) {
    SetLastError(ErrorOfName(errno, from));
    return FALSE;
  }
  return TRUE;
}

BOOL WINAPI ReplaceFileA(LPCSTR replaced, LPCSTR replacement, LPCSTR backup, DWORD flags, LPVOID,
                         LPVOID) {
  if (backup != nullptr || flags != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!NameIsUsable(replaced) || !NameIsUsable(replacement)) return FALSE;
  struct stat old;
  if (stat(replaced, &old) != 0) {
    SetLastError(ErrorOfName(errno, replaced));
    return FALSE;
  }
  // The owner first: a change of owner may clear the set-id bits that the
  // mode then puts back. Another owner is only for a process that may give it.
  if (chown(replacement, old.st_uid, old.st_gid) != 0) {
    const int ignored = chown(replacement, static_cast<uid_t>(-1), old.st_gid);
    (void)ignored;
  }
  if (chmod(replacement, old.st_mode & 07777) != 0 || rename(replacement, replaced) != 0) {
    SetLastError(ErrorOfName(errno, replacement));
    return FALSE;
  }
  return TRUE;
}

BOOL WINAPI DeleteFileA(LPCSTR name) {
  if (!NameIsUsable(name)) return FALSE;
  if (unlink(name) != 0) {
    SetLastError(ErrorOfName(errno, name));
    return FALSE;
  }
  return TRUE;
}

BOOL WINAPI GetFileAttributesExA(LPCSTR name, GET_FILEEX_INFO_LEVELS level, LPVOID information) {
  if (level != GetFileExInfoStandard || information == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!NameIsUsable(name)) return FALSE;
  struct stat info;
  if (stat(name, &info) != 0) {
    SetLastError(ErrorOfName(errno, name));
    return FALSE;
  }
  WIN32_FIND_DATAA found;
  FillFindData(&found, name, "", info);
  WIN32_FILE_ATTRIBUTE_DATA* data = static_cast<WIN32_FILE_ATTRIBUTE_DATA*>(information);
  data->dwFileAttributes = found.dwFileAttributes;
  data->ftCreationTime = found.ftCreationTime;
  data->ftLastAccessTime = found.ftLastAccessTime;
  data->ftLastWriteTime = found.ftLastWriteTime;
  data->nFileSizeHigh = found.nFileSizeHigh;
  data->nFileSizeLow = found.nFileSizeLow;
  return TRUE;
}

DWORD WINAPI SearchPathA(LPCSTR path, LPCSTR name, LPCSTR extension, DWORD size, LPSTR buffer,
                         LPSTR* filePart) {
  if (name == nullptr || name[0] == '\0') {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  char wanted[PATH_MAX];
  const bool addExtension = extension != nullptr && strchr(name, '.') == nullptr;
  const int length = snprintf(wanted, sizeof wanted, "%s%s", name, addExtension ? extension : "");
  if (length < 0 || static_cast<size_t>(length) >= sizeof wanted) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return 0;
  }
  char found[PATH_MAX];
  bool ok;
  if (NameIsExplicitPath(wanted)) {
    ok = ExistsInFolder("", 0, wanted, found, sizeof found);
  } else if (path != nullptr) {
    ok = SearchFolderList(path, ';', wanted, found, sizeof found);
  } else {
    ok = SearchStandardOrder(wanted, found, sizeof found);
  }
  if (!ok) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return 0;
  }
  const DWORD foundLength = static_cast<DWORD>(strlen(found));
  if (buffer == nullptr || foundLength + 1 > size) return foundLength + 1;
  memcpy(buffer, found, foundLength + 1);
  if (filePart != nullptr) {
    char* slash = strrchr(buffer, '/');
    *filePart = slash != nullptr ? slash + 1 : buffer;
  }
  return foundLength;
}

HANDLE WINAPI FindFirstFileA(LPCSTR pattern, WIN32_FIND_DATAA* data) {
  if (pattern == nullptr || data == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  if (strlen(pattern) >= MAX_PATH) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return INVALID_HANDLE_VALUE;
  }
  const char* slash = strrchr(pattern, '/');
  const char* namePattern = slash != nullptr ? slash + 1 : pattern;
  char folder[PATH_MAX];
  if (slash == nullptr) {
    strcpy(folder, ".");
  } else if (slash == pattern) {
    strcpy(folder, "/");
  } else {
    snprintf(folder, sizeof folder, "%.*s", static_cast<int>(slash - pattern), pattern);
  }
  struct stat folderInfo;
  if (stat(folder, &folderInfo) != 0 || !S_ISDIR(folderInfo.st_mode)) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  char name[PATH_MAX];
  if (namePattern[0] == '\0' || !FirstMatchingEntry(folder, namePattern, name)) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  char path[2 * PATH_MAX];
  snprintf(path, sizeof path, "%s/%s", folder, name);
  struct stat info;
  if (stat(path, &info) != 0) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  FillFindData(data, path, name, info);
  return NewFindHandle();
}

BOOL WINAPI FindClose(HANDLE find) {
  FindRecord* record = static_cast<FindRecord*>(find);
  const std::uintptr_t value = reinterpret_cast<std::uintptr_t>(find);
  if (value < 0x10000 || find == INVALID_HANDLE_VALUE || record->magic != kFindMagic) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  record->magic = 0;
  free(record);
  return TRUE;
}

// ---- Times --------------------------------------------------------------------------

void WINAPI GetSystemTime(SYSTEMTIME* time) {
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  struct tm parts;
  gmtime_r(&now.tv_sec, &parts);
  time->wYear = static_cast<WORD>(parts.tm_year + 1900);
  time->wMonth = static_cast<WORD>(parts.tm_mon + 1);
  time->wDayOfWeek = static_cast<WORD>(parts.tm_wday);
  time->wDay = static_cast<WORD>(parts.tm_mday);
  time->wHour = static_cast<WORD>(parts.tm_hour);
  time->wMinute = static_cast<WORD>(parts.tm_min);
  time->wSecond = static_cast<WORD>(parts.tm_sec);
  time->wMilliseconds = static_cast<WORD>(now.tv_nsec / 1000000);
}

BOOL WINAPI SystemTimeToFileTime(const SYSTEMTIME* time, FILETIME* fileTime) {
  if (time == nullptr || fileTime == nullptr || !SystemTimeIsValid(*time)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::int64_t days = DaysFromCivil(time->wYear, time->wMonth, time->wDay);
  const std::int64_t seconds = days * 86400 + time->wHour * 3600 + time->wMinute * 60 +
                               time->wSecond + kSecondsFrom1601To1970;
  *fileTime = FileTimeFromTicks(seconds * kTicksPerSecond + time->wMilliseconds * 10000);
  return TRUE;
}

BOOL WINAPI SetFileTime(HANDLE file, const FILETIME*, const FILETIME* access,
                        const FILETIME* write) {
  const int fd = FdFromHandle(file);
  if (fd < 0 || fcntl(fd, F_GETFD) < 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!Wants(AccessOf(fd), GENERIC_WRITE)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  struct timespec times[2];
  const FILETIME* given[2] = {access, write};
  for (int i = 0; i < 2; ++i) {
    const bool keep = given[i] == nullptr || TicksOfFileTime(*given[i]) == 0;
    if (keep) {
      times[i].tv_sec = 0;
      times[i].tv_nsec = UTIME_OMIT;
    } else {
      times[i] = TimespecOfFileTime(*given[i]);
    }
  }
  if (futimens(fd, times) != 0) {
    SetLastError(ErrorOfName(errno, ""));
    return FALSE;
  }
  return TRUE;
}

// ---- Command line and resources --------------------------------------------------------

LPSTR WINAPI GetCommandLineA() {
  static char* line = nullptr;
  if (line == nullptr) line = BuildCommandLine();
  return line;
}

HMODULE WINAPI GetModuleHandleA(LPCSTR name) {
  if (name != nullptr) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  static char program;
  return reinterpret_cast<HMODULE>(&program);
}

int WINAPI LoadStringA(HINSTANCE, UINT, LPSTR buffer, int size) {
  if (buffer != nullptr && size > 0) buffer[0] = '\0';
  SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
  return 0;
}

int WINAPI LoadStringW(HINSTANCE, UINT, LPWSTR buffer, int size) {
  if (buffer != nullptr && size > 0) buffer[0] = 0;
  SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
  return 0;
}
