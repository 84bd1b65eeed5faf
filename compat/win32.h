// The Win32 subset the library uses. On Windows this is <windows.h> itself;
// natively it declares only what the library calls, implemented over POSIX in
// win32_posix.cpp with the behaviour the callers rely on.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else

// Natively these declarations are the library's own Win32 subset, in the
// global namespace as on Windows: a translation unit cannot hold them and
// another Win32 header set (such as Wine's) at once.
#if defined(_WINDEF_) || defined(_WINDOWS_) || defined(_WINNT_) || defined(__WINE_WINDEF_H)
#error "Tarnwick's headers declare their own Win32 subset natively; do not include them together with another Win32 header set"
#endif

#include <cstddef>
#include <cstdint>

#define WINAPI

using BOOL = int;
using BYTE = unsigned char;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using UINT = unsigned int;
using CHAR = char;
using LPSTR = char*;
using LPCSTR = const char*;
using LPVOID = void*;
using LPCVOID = const void*;
using LPDWORD = DWORD*;
using HANDLE = void*;
using HWND = struct HWND__*;
using HMODULE = struct HINSTANCE__*;
using SIZE_T = std::size_t;
using ULONG_PTR = std::uintptr_t;
using UINT_PTR = std::uintptr_t;
using WCHAR = char16_t;  // UTF-16 units, 16 bits as on Windows
using LPWSTR = WCHAR*;
using LPOVERLAPPED = struct OVERLAPPED*;

constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;

// Handles of the native layer wrap a POSIX file descriptor (see win32_posix.cpp).
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1)))
constexpr DWORD STD_INPUT_HANDLE = static_cast<DWORD>(-10);
constexpr DWORD STD_OUTPUT_HANDLE = static_cast<DWORD>(-11);
constexpr DWORD STD_ERROR_HANDLE = static_cast<DWORD>(-12);

// Error codes, with the numbers Windows uses.
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_WRITE_FAULT = 29;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_ENVVAR_NOT_FOUND = 203;
constexpr DWORD ERROR_MR_MID_NOT_FOUND = 317;

// Message boxes: button sets, default buttons and answers.
constexpr UINT MB_OK = 0x0;
constexpr UINT MB_OKCANCEL = 0x1;
constexpr UINT MB_ABORTRETRYIGNORE = 0x2;
constexpr UINT MB_YESNOCANCEL = 0x3;
constexpr UINT MB_YESNO = 0x4;
constexpr UINT MB_RETRYCANCEL = 0x5;
constexpr UINT MB_ICONHAND = 0x10;
constexpr UINT MB_ICONERROR = 0x10;
constexpr UINT MB_ICONQUESTION = 0x20;
constexpr UINT MB_ICONEXCLAMATION = 0x30;
constexpr UINT MB_ICONINFORMATION = 0x40;
constexpr UINT MB_DEFBUTTON1 = 0x000;
constexpr UINT MB_DEFBUTTON2 = 0x100;
constexpr UINT MB_DEFBUTTON3 = 0x200;
constexpr UINT MB_TYPEMASK = 0xF;
constexpr UINT MB_DEFMASK = 0xF00;
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDABORT = 3;
constexpr int IDRETRY = 4;
constexpr int IDIGNORE = 5;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// Standard handles and writing.
HANDLE WINAPI GetStdHandle(DWORD which);
BOOL WINAPI WriteFile(HANDLE file, LPCVOID data, DWORD count, LPDWORD written,
                      LPOVERLAPPED overlapped);

// The calling thread's last-error value.
DWORD WINAPI GetLastError();
void WINAPI SetLastError(DWORD code);

// Environment variables of the process (the POSIX environment).
DWORD WINAPI GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size);
BOOL WINAPI SetEnvironmentVariableA(LPCSTR name, LPCSTR value);

// The process heap. Natively HeapFree refuses addresses it did not hand out
// and blocks already freed (FALSE, ERROR_INVALID_PARAMETER), as the Windows
// heap does, instead of corrupting memory.
constexpr DWORD HEAP_ZERO_MEMORY = 0x8;
HANDLE WINAPI GetProcessHeap();
LPVOID WINAPI HeapAlloc(HANDLE heap, DWORD flags, SIZE_T size);
BOOL WINAPI HeapFree(HANDLE heap, DWORD flags, LPVOID block);
// The usable size of a live block; (SIZE_T)-1 for anything else.
SIZE_T WINAPI HeapSize(HANDLE heap, DWORD flags, LPCVOID block);

// The running program's file name (natively /proc/self/exe). Too small a
// buffer gets the cut name, its size as the result and ERROR_INSUFFICIENT_BUFFER;
// callers must not rely on a NUL in that case (Windows XP and Wine write none).
DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size);

// System message texts, each ending in "\r\n". Natively only
// FORMAT_MESSAGE_FROM_SYSTEM (with or without IGNORE_INSERTS) into a caller's
// buffer is supported; an unknown code answers 0 with ERROR_MR_MID_NOT_FOUND.
constexpr DWORD FORMAT_MESSAGE_IGNORE_INSERTS = 0x200;
constexpr DWORD FORMAT_MESSAGE_FROM_SYSTEM = 0x1000;
DWORD WINAPI FormatMessageA(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId,
                            LPSTR buffer, DWORD size, void* arguments);

// TRUE when fewer than max bytes from text up to its NUL are readable.
BOOL WINAPI IsBadStringPtrA(LPCSTR text, UINT_PTR max);

// Case conversion in place over a counted text, in the ANSI code page
// (natively Windows-1252) or in UTF-16 (natively Latin-1 and Latin
// Extended-A); other characters stay as they are. Returns the count.
DWORD WINAPI CharLowerBuffA(LPSTR text, DWORD length);
DWORD WINAPI CharUpperBuffA(LPSTR text, DWORD length);
DWORD WINAPI CharLowerBuffW(LPWSTR text, DWORD length);
DWORD WINAPI CharUpperBuffW(LPWSTR text, DWORD length);

// Ends the process at once with the given code (natively only its low 8 bits
// reach the parent).
[[noreturn]] void WINAPI ExitProcess(UINT code);

// Debugger presence (natively: a tracer is attached) and the breakpoint trap.
BOOL WINAPI IsDebuggerPresent();
void WINAPI DebugBreak();

// What an exception filter receives. Natively the library's signal handler
// fills these from the signal (see support/errors.h).
constexpr DWORD EXCEPTION_ACCESS_VIOLATION = 0xC0000005;
constexpr DWORD EXCEPTION_ILLEGAL_INSTRUCTION = 0xC000001D;
constexpr DWORD EXCEPTION_INT_DIVIDE_BY_ZERO = 0xC0000094;
constexpr DWORD EXCEPTION_BREAKPOINT = 0x80000003;
constexpr LONG EXCEPTION_EXECUTE_HANDLER = 1;
constexpr LONG EXCEPTION_CONTINUE_SEARCH = 0;
constexpr DWORD EXCEPTION_MAXIMUM_PARAMETERS = 15;
struct EXCEPTION_RECORD {
  DWORD ExceptionCode;
  DWORD ExceptionFlags;
  EXCEPTION_RECORD* ExceptionRecord;
  void* ExceptionAddress;
  DWORD NumberParameters;
  ULONG_PTR ExceptionInformation[EXCEPTION_MAXIMUM_PARAMETERS];
};
struct EXCEPTION_POINTERS {
  EXCEPTION_RECORD* ExceptionRecord;
  void* ContextRecord;
};

#endif  // _WIN32

// ---- Case mapping of UTF-16 texts (compat/locale_posix.cpp) ----
#ifndef _WIN32
using WCHAR = char16_t;
using LCID = DWORD;
constexpr LCID LOCALE_USER_DEFAULT = 0x400;
constexpr DWORD LCMAP_LOWERCASE = 0x100;
constexpr DWORD LCMAP_UPPERCASE = 0x200;
constexpr DWORD LCMAP_LINGUISTIC_CASING = 0x1000000;

// Maps every unit of the Basic Multilingual Plane to its simple lower or upper
// case; surrogates and units without a case mapping are copied unchanged. A
// source count of -1 means the text up to and including its zero unit.
// Returns the units written (or needed, when the destination size is 0).
int WINAPI LCMapStringW(LCID locale, DWORD flags, const WCHAR* source, int sourceCount,
                        WCHAR* destination, int destinationSize);
#endif

// ---- Files, file search, file times, command line and string resources ----
// (compat/files_posix.cpp) Natively, file names are POSIX paths, compared with
// the file system's own case rules; handles of files are descriptors like the
// standard handles, and find handles are records of their own.
#ifndef _WIN32
using LONGLONG = std::int64_t;
using PLONG = LONG*;
using LPCWSTR = const WCHAR*;
using HINSTANCE = HMODULE;
constexpr std::size_t MAX_PATH = 260;

constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_NO_MORE_FILES = 18;
constexpr DWORD ERROR_SHARING_VIOLATION = 32;
constexpr DWORD ERROR_HANDLE_EOF = 38;
constexpr DWORD ERROR_FILE_EXISTS = 80;
constexpr DWORD ERROR_DISK_FULL = 112;
constexpr DWORD ERROR_INVALID_NAME = 123;
constexpr DWORD ERROR_NEGATIVE_SEEK = 131;
constexpr DWORD ERROR_ALREADY_EXISTS = 183;
constexpr DWORD ERROR_FILENAME_EXCED_RANGE = 206;
constexpr DWORD ERROR_RESOURCE_TYPE_NOT_FOUND = 1813;
constexpr DWORD ERROR_RESOURCE_NAME_NOT_FOUND = 1814;

constexpr DWORD GENERIC_READ = 0x80000000;
constexpr DWORD GENERIC_WRITE = 0x40000000;
constexpr DWORD FILE_SHARE_READ = 0x1;
constexpr DWORD FILE_SHARE_WRITE = 0x2;
constexpr DWORD FILE_SHARE_DELETE = 0x4;
constexpr DWORD CREATE_NEW = 1;
constexpr DWORD CREATE_ALWAYS = 2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD OPEN_ALWAYS = 4;
constexpr DWORD TRUNCATE_EXISTING = 5;
constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x1;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x20;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr DWORD FILE_BEGIN = 0;
constexpr DWORD FILE_CURRENT = 1;
constexpr DWORD FILE_END = 2;
constexpr DWORD INVALID_FILE_SIZE = 0xFFFFFFFF;
constexpr DWORD INVALID_SET_FILE_POINTER = 0xFFFFFFFF;

struct SECURITY_ATTRIBUTES;
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;

// 100-nanosecond intervals since 1 January 1601 (UTC).
struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};
struct SYSTEMTIME {
  WORD wYear;
  WORD wMonth;
  WORD wDayOfWeek;
  WORD wDay;
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
};
union LARGE_INTEGER {
  struct {
    DWORD LowPart;
    LONG HighPart;
  };
  LONGLONG QuadPart;
};
struct WIN32_FIND_DATAA {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  CHAR cFileName[MAX_PATH];
  CHAR cAlternateFileName[14];
};
struct WIN32_FILE_ATTRIBUTE_DATA {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
};
enum GET_FILEEX_INFO_LEVELS { GetFileExInfoStandard = 0 };

// Opens or creates a file. Share modes are kept between the handles of this
// process (a conflicting open fails with ERROR_SHARING_VIOLATION, as on
// Windows); a folder or a socket cannot be opened (ERROR_ACCESS_DENIED); a
// FIFO or character device opens at once, without waiting for a writer, and
// its reads give what is there without waiting; a name of
// MAX_PATH characters or more fails with ERROR_FILENAME_EXCED_RANGE.
// CREATE_ALWAYS and OPEN_ALWAYS on an existing file succeed with
// ERROR_ALREADY_EXISTS as the last error.
HANDLE WINAPI CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                          DWORD disposition, DWORD attributes, HANDLE templateFile);
// Reads up to count bytes; at the end of the file it succeeds with 0 bytes
// (from a FIFO or device: with the bytes there now, possibly none).
BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD read,
                     LPOVERLAPPED overlapped);
BOOL WINAPI CloseHandle(HANDLE handle);
DWORD WINAPI SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method);
DWORD WINAPI GetFileSize(HANDLE file, LPDWORD sizeHigh);
BOOL WINAPI GetFileSizeEx(HANDLE file, LARGE_INTEGER* size);
BOOL WINAPI GetFileAttributesExA(LPCSTR name, GET_FILEEX_INFO_LEVELS level, LPVOID information);

// What a handle is: a file (FILE_TYPE_DISK, folders too), a character device
// or terminal (FILE_TYPE_CHAR), a pipe, FIFO or socket (FILE_TYPE_PIPE).
// CreateFileA with an access of 0 and OPEN_EXISTING opens a name only for
// such queries: it never waits, also for a FIFO nobody writes.
constexpr DWORD FILE_TYPE_UNKNOWN = 0;
constexpr DWORD FILE_TYPE_DISK = 1;
constexpr DWORD FILE_TYPE_CHAR = 2;
constexpr DWORD FILE_TYPE_PIPE = 3;
DWORD WINAPI GetFileType(HANDLE file);

// An anonymous pipe: a handle to read from and one to write to (natively a
// POSIX pipe, whose reads wait for data until the writing handle is closed).
BOOL WINAPI CreatePipe(HANDLE* readPipe, HANDLE* writePipe, LPSECURITY_ATTRIBUTES attributes,
                       DWORD size);

// Natively a FIFO or device opened by name does not wait (see CreateFileA);
// PIPE_WAIT makes its reads wait for data until the writers are gone and its
// writes wait for room, PIPE_NOWAIT turns that off again. Only the mode is
// supported (the other two arguments must be null).
constexpr DWORD PIPE_WAIT = 0;
constexpr DWORD PIPE_NOWAIT = 1;
BOOL WINAPI SetNamedPipeHandleState(HANDLE pipe, LPDWORD mode, LPDWORD maxCollectionCount,
                                    LPDWORD collectDataTimeout);

// The path of the file a handle has open, symbolic links resolved (natively
// from /proc/self/fd). Returns its length, or the size needed with its NUL
// when the buffer is too small, or 0 on failure.
constexpr DWORD FILE_NAME_NORMALIZED = 0;
DWORD WINAPI GetFinalPathNameByHandleA(HANDLE file, LPSTR buffer, DWORD size, DWORD flags);

// Creates a new empty file folder/<prefix (3 characters)><4 hex digits>.tmp
// with a name no file had, writes its path into buffer (MAX_PATH bytes) and
// returns the number in its name, or 0 on failure. unique must be 0.
UINT WINAPI GetTempFileNameA(LPCSTR folder, LPCSTR prefix, UINT unique, LPSTR buffer);

// Renames a file (MOVEFILE_REPLACE_EXISTING: over an existing one).
constexpr DWORD MOVEFILE_REPLACE_EXISTING = 0x1;
BOOL WINAPI MoveFileExA(LPCSTR from, LPCSTR to, DWORD flags);

// Puts replacement in place of the existing file replaced, which keeps its
// identity: natively the new file takes the old one's permission bits and
// (where the process may) its owner and group. No backup; flags must be 0.
BOOL WINAPI ReplaceFileA(LPCSTR replaced, LPCSTR replacement, LPCSTR backup, DWORD flags,
                         LPVOID exclude, LPVOID reserved);
BOOL WINAPI DeleteFileA(LPCSTR name);

// Looks for name and writes its full path into buffer. With a folder list
// (semicolon-separated) only those folders are searched. Without one the
// native order is: the program's folder, the current folder, then each folder
// of PATH. A name that contains a "/" is only looked up as it is written.
// Too small a buffer: the size needed (NUL included) is returned.
DWORD WINAPI SearchPathA(LPCSTR path, LPCSTR name, LPCSTR extension, DWORD size, LPSTR buffer,
                         LPSTR* filePart);

// The first directory entry matching a pattern whose last part may hold * and
// ? wildcards. Natively the entries of a folder come in byte order of their
// names ("." and ".." included, as Windows lists them), so the first match is
// always the same one.
HANDLE WINAPI FindFirstFileA(LPCSTR pattern, WIN32_FIND_DATAA* data);
BOOL WINAPI FindClose(HANDLE find);

// File times. Natively a file has no settable creation time: SetFileTime
// ignores it, and queries report the birth time where the file system keeps
// one, else the last-write time.
void WINAPI GetSystemTime(SYSTEMTIME* time);
BOOL WINAPI SystemTimeToFileTime(const SYSTEMTIME* time, FILETIME* fileTime);
BOOL WINAPI SetFileTime(HANDLE file, const FILETIME* creation, const FILETIME* access,
                        const FILETIME* write);

// The command line. Natively it is written from the process's arguments: each
// argument as it is when it can be read back unchanged without quotes, else
// enclosed in the first of the characters " ' # ! $ % & that it does not hold.
LPSTR WINAPI GetCommandLineA();

// String resources: natively a program has none, so both return 0 (an empty
// text in the buffer) with ERROR_RESOURCE_TYPE_NOT_FOUND.
HMODULE WINAPI GetModuleHandleA(LPCSTR name);
int WINAPI LoadStringA(HINSTANCE module, UINT id, LPSTR buffer, int size);
int WINAPI LoadStringW(HINSTANCE module, UINT id, LPWSTR buffer, int size);
#endif

// ---- Console, window texts and UTF-8 conversion (compat/console_posix.cpp) ----
// Natively the console is the terminal of the standard handles. Input
// routines work only when standard input is a terminal (otherwise they fail
// with ERROR_INVALID_HANDLE, as Windows does for a redirected handle). A line
// read in line mode is edited in the terminal (typed and pre-typed characters
// echoed; backspace, Ctrl+U, Enter; Ctrl+D on an empty line ends the input)
// and comes back ending in CR LF, as from a Windows console; what a short
// buffer cannot take stays for the next read.
#ifndef _WIN32
using SHORT = std::int16_t;

constexpr DWORD ERROR_NO_DATA = 232;
constexpr DWORD ERROR_INVALID_WINDOW_HANDLE = 1400;

struct COORD {
  SHORT X;
  SHORT Y;
};
struct RECT {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
};

constexpr WORD KEY_EVENT = 0x1;
struct KEY_EVENT_RECORD {
  BOOL bKeyDown;
  WORD wRepeatCount;
  WORD wVirtualKeyCode;
  WORD wVirtualScanCode;
  union {
    WCHAR UnicodeChar;
    CHAR AsciiChar;
  } uChar;
  DWORD dwControlKeyState;
};
struct INPUT_RECORD {
  WORD EventType;
  union {
    KEY_EVENT_RECORD KeyEvent;
  } Event;
};
static_assert(sizeof(INPUT_RECORD) == 20, "a console input record is 20 bytes");

constexpr DWORD ENABLE_PROCESSED_INPUT = 0x1;
constexpr DWORD ENABLE_LINE_INPUT = 0x2;
constexpr DWORD ENABLE_ECHO_INPUT = 0x4;

BOOL WINAPI GetConsoleMode(HANDLE console, LPDWORD mode);
BOOL WINAPI SetConsoleMode(HANDLE console, DWORD mode);
BOOL WINAPI ReadConsoleA(HANDLE console, LPVOID buffer, DWORD count, LPDWORD read, LPVOID control);
// Key-down records with a character are put before what is typed next: the
// next line read starts with them, echoed and editable.
BOOL WINAPI WriteConsoleInputA(HANDLE console, const INPUT_RECORD* records, DWORD count,
                               LPDWORD written);
// Discards what was typed and not yet read (and pre-typed characters).
BOOL WINAPI FlushConsoleInputBuffer(HANDLE console);
// Moves the terminal's cursor (0-based column X and row Y) with an escape
// sequence; an output that is no terminal fails with ERROR_INVALID_HANDLE.
BOOL WINAPI SetConsoleCursorPosition(HANDLE console, COORD position);
// Natively there is no console window: null, and InvalidateRect does nothing.
HWND WINAPI GetConsoleWindow();
BOOL WINAPI InvalidateRect(HWND window, const RECT* rectangle, BOOL erase);

// One key from the terminal without echo, as msvcrt's _getch: the terminal is
// put in raw mode for the read and restored afterwards (also when a signal
// ends the process meanwhile). Function and cursor keys come as two calls, 0
// or 224 and then the key's code (the table is in docs/console.md); Enter is
// 13, Backspace 8. Standard input that is no terminal is read byte by byte;
// at its end the result is -1.
int _getch();

// As WriteFile, but a pipe whose reader is gone fails with ERROR_NO_DATA (as
// on Windows) instead of ending the process with SIGPIPE.
BOOL WINAPI WriteFileKeepingSigpipe(HANDLE file, LPCVOID data, DWORD count, LPDWORD written);

// Window texts. Natively a window is only its text: any non-null handle holds
// one (set and read back here); a null handle fails with
// ERROR_INVALID_WINDOW_HANDLE. Wide texts are kept as they are; ANSI texts are
// taken as Latin-1.
BOOL WINAPI SetWindowTextA(HWND window, LPCSTR text);
BOOL WINAPI SetWindowTextW(HWND window, LPCWSTR text);
int WINAPI GetWindowTextA(HWND window, LPSTR buffer, int size);
int WINAPI GetWindowTextW(HWND window, LPWSTR buffer, int size);

// UTF-16 to UTF-8 only (CP_UTF8, flags 0): an unpaired surrogate becomes
// U+FFFD, as on Windows. A count of -1 takes the text with its zero unit. A
// size of 0 asks for the bytes needed; too small a buffer fails with
// ERROR_INSUFFICIENT_BUFFER.
constexpr UINT CP_UTF8 = 65001;
int WINAPI WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR text, int count, LPSTR buffer,
                               int size, LPCSTR defaultChar, BOOL* usedDefault);
#endif
