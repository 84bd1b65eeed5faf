// Native console over the terminal of the standard handles: console modes, a
// small line editor that takes pre-typed characters, the input flush, cursor
// placement, the one-key read with escape sequences mapped to the codes of
// function and cursor keys, window texts and UTF-16 to UTF-8 conversion.
#include "compat/win32.h"

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include <map>
#include <string>

namespace {

constexpr std::intptr_t kHandleBias = 0x100;  // as in win32_posix.cpp
constexpr std::size_t kLineLimit = 4096;      // longest line the editor keeps
constexpr std::size_t kPendingLimit = 65536;  // pre-typed characters waiting
constexpr int kSequenceWaitMs = 50;           // bytes of one escape sequence follow at once

int FdFromHandle(HANDLE handle) {
  const std::intptr_t value = reinterpret_cast<std::intptr_t>(handle);
  if (value < kHandleBias || value - kHandleBias > 0x7FFFFFFF) return -1;
  return static_cast<int>(value - kHandleBias);
}

int TerminalFd(HANDLE handle) {
  const int fd = FdFromHandle(handle);
  if (fd < 0 || isatty(fd) == 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return -1;
  }
  return fd;
}

// ---- Raw mode, restored on the way out and on a signal ----

const int kRestoringSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr int kRestoringSignalCount = 4;

struct RawModeState {
  int fd;
  struct termios saved;
  struct sigaction previous[kRestoringSignalCount];
  volatile sig_atomic_t active;
};
RawModeState g_raw = {-1, {}, {}, 0};

void RestoreOnSignal(int signal) {
  if (g_raw.active != 0) tcsetattr(g_raw.fd, TCSANOW, &g_raw.saved);
  g_raw.active = 0;
  for (int i = 0; i < kRestoringSignalCount; ++i) {
    if (kRestoringSignals[i] == signal) sigaction(signal, &g_raw.previous[i], nullptr);
  }
  raise(signal);  // delivered to the previous action once this handler returns
}

// Non-canonical, no echo, no CR-to-LF mapping; signals (Ctrl+C) still work.
bool EnterRawMode(int fd) {
  if (tcgetattr(fd, &g_raw.saved) != 0) return false;
  struct termios raw = g_raw.saved;
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  raw.c_iflag &= ~static_cast<tcflag_t>(ICRNL | INLCR | IGNCR | IXON);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  g_raw.fd = fd;
  struct sigaction restore = {};
  restore.sa_handler = RestoreOnSignal;
  sigemptyset(&restore.sa_mask);
  for (int i = 0; i < kRestoringSignalCount; ++i) {
    sigaction(kRestoringSignals[i], &restore, &g_raw.previous[i]);
  }
  g_raw.active = 1;
  tcsetattr(fd, TCSANOW, &raw);
  return true;
}

void LeaveRawMode() {
  if (g_raw.active == 0) return;
  tcsetattr(g_raw.fd, TCSANOW, &g_raw.saved);
  g_raw.active = 0;
  for (int i = 0; i < kRestoringSignalCount; ++i) {
    sigaction(kRestoringSignals[i], &g_raw.previous[i], nullptr);
  }
}

// One byte; -1 at the end of input or on an error. With waitMs >= 0 also -1
// when nothing arrives in time.
int ReadByte(int fd, int waitMs) {
  if (waitMs >= 0) {
    struct pollfd ready = {fd, POLLIN, 0};
    if (poll(&ready, 1, waitMs) <= 0) return -1;
  }
  unsigned char byte;
  for (;;) {
    const ssize_t n = read(fd, &byte, 1);
    if (n == 1) return byte;
    if (n < 0 && errno == EINTR) continue;
    return -1;
  }
}

void WriteAll(int fd, const char* bytes, std::size_t count) {
  while (count > 0) {
    const ssize_t n = write(fd, bytes, count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    bytes += n;
    count -= static_cast<std::size_t>(n);
  }
}

// ---- Console input state ----

struct ConsoleInputState {
  DWORD mode = ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT;
  std::string pending;  // pre-typed characters for the next line
  std::string ready;    // an accepted line the last read could not take whole
  int queuedKey = -1;   // second code of a function or cursor key
};
ConsoleInputState g_console;

// Where the line editor echoes: the terminal of standard output, else the
// input terminal itself.
int EchoFd(int inputFd) {
  return isatty(STDOUT_FILENO) != 0 ? STDOUT_FILENO : inputFd;
}

void DropLastCharacter(std::string& line, int echo) {
  if (line.empty()) return;
  // A UTF-8 character is erased whole: continuation bytes, then its lead.
  while (line.size() > 1 && (static_cast<unsigned char>(line.back()) & 0xC0) == 0x80) {
    line.pop_back();
  }
  line.pop_back();
  WriteAll(echo, "\b \b", 3);
}

// Skips the rest of an escape sequence (cursor keys have no meaning in the
// line editor).
void SkipSequence(int fd) {
  int c = ReadByte(fd, kSequenceWaitMs);
  if (c != '[' && c != 'O') return;
  for (int i = 0; i < 8; ++i) {
    c = ReadByte(fd, kSequenceWaitMs);
    if (c < 0 || (c >= 0x40 && c <= 0x7E)) return;
  }
}

// Edits one line in the terminal, starting with the pre-typed characters.
// Returns false at the end of input (Ctrl+D on an empty line, or a closed
// terminal) with nothing typed.
bool EditLine(int fd, std::string& line) {
  const int echo = EchoFd(fd);
  const bool echoing = (g_console.mode & ENABLE_ECHO_INPUT) != 0;
  const bool raw = EnterRawMode(fd);
  line.clear();
  for (char c : g_console.pending) {
    if (line.size() < kLineLimit) line.push_back(c);
  }
  g_console.pending.clear();
  if (echoing) WriteAll(echo, line.data(), line.size());
  bool ended = false;
  for (;;) {
    const int c = ReadByte(fd, -1);
    if (c < 0 || (c == 4 && line.empty())) {
      ended = line.empty();
      break;
    }
    if (c == '\r' || c == '\n') break;
    if (c == 127 || c == 8) {
      DropLastCharacter(line, echoing ? echo : -1);
    } else if (c == 21) {
      while (!line.empty()) DropLastCharacter(line, echoing ? echo : -1);
    } else if (c == 27) {
      SkipSequence(fd);
    } else if ((c >= 32 || c == '\t') && line.size() < kLineLimit) {
      line.push_back(static_cast<char>(c));
      const char byte = static_cast<char>(c);
      if (echoing) WriteAll(echo, &byte, 1);
    }
  }
  if (echoing) WriteAll(echo, "\r\n", 2);
  if (raw) LeaveRawMode();
  if (ended) return false;
  line += "\r\n";
  return true;
}

// ---- Keys ----

// Codes of function and cursor keys: the first call's code (0 for F1 to F10,
// 224 for the others) and the second.
struct KeyCode {
  int prefix;
  int code;
};
constexpr KeyCode kNoKey = {-1, -1};

// A sequence ending in a letter: ESC [ A, ESC O P, ESC [ 1 ; 5 A ...
KeyCode KeyOfLetter(int letter) {
  switch (letter) {
    case 'A':
      return {224, 72};  // Up
    case 'B':
      return {224, 80};  // Down
    case 'C':
      return {224, 77};  // Right
    case 'D':
      return {224, 75};  // Left
    case 'H':
      return {224, 71};  // Home
    case 'F':
      return {224, 79};  // End
    case 'P':
      return {0, 59};  // F1
    case 'Q':
      return {0, 60};  // F2
    case 'R':
      return {0, 61};  // F3
    case 'S':
      return {0, 62};  // F4
    default:
      return kNoKey;
  }
}

// A sequence ESC [ number ~ (with or without modifiers after a semicolon).
KeyCode KeyOfNumber(int number) {
  switch (number) {
    case 1:
    case 7:
      return {224, 71};  // Home
    case 2:
      return {224, 82};  // Insert
    case 3:
      return {224, 83};  // Delete
    case 4:
    case 8:
      return {224, 79};  // End
    case 5:
      return {224, 73};  // Page Up
    case 6:
      return {224, 81};  // Page Down
    case 11:
    case 12:
    case 13:
    case 14:
      return {0, 59 + number - 11};  // F1 to F4
    case 15:
      return {0, 63};  // F5
    case 17:
    case 18:
    case 19:
    case 20:
    case 21:
      return {0, 64 + number - 17};  // F6 to F10
    case 23:
      return {224, 133};  // F11
    case 24:
      return {224, 134};  // F12
    default:
      return kNoKey;
  }
}

// Reads the rest of an escape sequence after ESC and maps it.
KeyCode ReadKeySequence(int fd) {
  const int introducer = ReadByte(fd, kSequenceWaitMs);
  if (introducer < 0) return {27, -1};  // Escape alone
  if (introducer == 'O') return KeyOfLetter(ReadByte(fd, kSequenceWaitMs));
  if (introducer != '[') return kNoKey;
  int number = 0;
  bool firstParameter = true;
  for (int i = 0; i < 12; ++i) {
    const int c = ReadByte(fd, kSequenceWaitMs);
    if (c < 0) return kNoKey;
    if (c == '[' && i == 0) {  // the Linux console's F1 to F5: ESC [ [ A to E
      const int letter = ReadByte(fd, kSequenceWaitMs);
      if (letter >= 'A' && letter <= 'E') return {0, 59 + letter - 'A'};
      return kNoKey;
    }
    if (c >= '0' && c <= '9') {
      if (firstParameter && number < 1000) number = number * 10 + (c - '0');
    } else if (c == ';') {
      firstParameter = false;
    } else if (c >= 0x40 && c <= 0x7E) {
      return c == '~' ? KeyOfNumber(number) : KeyOfLetter(c);
    }
  }
  return kNoKey;
}

int ReadKey(int fd) {
  const int c = ReadByte(fd, -1);
  if (c == 127) return 8;
  if (c != 27) return c;
  const KeyCode key = ReadKeySequence(fd);
  if (key.prefix < 0 || key.code < 0) return 27;  // Escape, or a sequence we do not know
  g_console.queuedKey = key.code;
  return key.prefix;
}

// ---- Window texts ----

std::map<HWND, std::u16string>& WindowTexts() {
  static std::map<HWND, std::u16string> texts;
  return texts;
}

int Utf8Length(char32_t c) {
  return c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
}

char* PutUtf8(char* out, char32_t c) {
  if (c < 0x80) {
    *out++ = static_cast<char>(c);
  } else if (c < 0x800) {
    *out++ = static_cast<char>(0xC0 | (c >> 6));
    *out++ = static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    *out++ = static_cast<char>(0xE0 | (c >> 12));
    *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (c & 0x3F));
  } else {
    *out++ = static_cast<char>(0xF0 | (c >> 18));
    *out++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (c & 0x3F));
  }
  return out;
}

// The code point at units[i] (a surrogate pair taken whole, an unpaired
// surrogate as U+FFFD); i moves past it.
char32_t NextCodePoint(const WCHAR* units, int count, int& i) {
  const char32_t unit = units[i++];
  if (unit >= 0xD800 && unit <= 0xDBFF && i < count && units[i] >= 0xDC00 && units[i] <= 0xDFFF) {
    return 0x10000 + ((unit - 0xD800) << 10) + (units[i++] - 0xDC00);
  }
  if (unit >= 0xD800 && unit <= 0xDFFF) return 0xFFFD;
  return unit;
}

}  // namespace

BOOL WINAPI GetConsoleMode(HANDLE console, LPDWORD mode) {
  if (TerminalFd(console) < 0) return FALSE;
  if (mode != nullptr) *mode = g_console.mode;
  return TRUE;
}

BOOL WINAPI SetConsoleMode(HANDLE console, DWORD mode) {
  if (TerminalFd(console) < 0) return FALSE;
  g_console.mode = mode;
  return TRUE;
}

BOOL WINAPI ReadConsoleA(HANDLE console, LPVOID buffer, DWORD count, LPDWORD read, LPVOID) {
  if (read != nullptr) *read = 0;
  const int fd = TerminalFd(console);
  if (fd < 0) return FALSE;
  if (count == 0) return TRUE;
  if ((g_console.mode & ENABLE_LINE_INPUT) == 0) {
    const int c = ReadByte(fd, -1);
    if (c >= 0) {
      *static_cast<char*>(buffer) = static_cast<char>(c);
      if (read != nullptr) *read = 1;
    }
    return TRUE;
  }
  if (g_console.ready.empty() && !EditLine(fd, g_console.ready)) return TRUE;
  const std::size_t taken = count < g_console.ready.size() ? count : g_console.ready.size();
  memcpy(buffer, g_console.ready.data(), taken);
  g_console.ready.erase(0, taken);
  if (read != nullptr) *read = static_cast<DWORD>(taken);
  return TRUE;
}

BOOL WINAPI WriteConsoleInputA(HANDLE console, const INPUT_RECORD* records, DWORD count,
                               LPDWORD written) {
  if (written != nullptr) *written = 0;
  if (TerminalFd(console) < 0) return FALSE;
  if (g_console.pending.size() + count > kPendingLimit) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  for (DWORD i = 0; i < count; ++i) {
    const KEY_EVENT_RECORD& key = records[i].Event.KeyEvent;
    if (records[i].EventType != KEY_EVENT || key.bKeyDown == 0 || key.uChar.AsciiChar == 0) {
      continue;
    }
    g_console.pending.push_back(key.uChar.AsciiChar);
  }
  if (written != nullptr) *written = count;
  return TRUE;
}

BOOL WINAPI FlushConsoleInputBuffer(HANDLE console) {
  const int fd = TerminalFd(console);
  if (fd < 0) return FALSE;
  tcflush(fd, TCIFLUSH);
  g_console.pending.clear();
  g_console.ready.clear();
  g_console.queuedKey = -1;
  return TRUE;
}

BOOL WINAPI SetConsoleCursorPosition(HANDLE console, COORD position) {
  const int fd = TerminalFd(console);
  if (fd < 0) return FALSE;
  if (position.X < 0 || position.Y < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  char sequence[32];
  const int length =
      snprintf(sequence, sizeof sequence, "\x1b[%d;%dH", position.Y + 1, position.X + 1);
  WriteAll(fd, sequence, static_cast<std::size_t>(length));
  return TRUE;
}

HWND WINAPI GetConsoleWindow() {
  return nullptr;
}

BOOL WINAPI InvalidateRect(HWND, const RECT*, BOOL) {
  return FALSE;
}

int _getch() {
  if (g_console.queuedKey >= 0) {
    const int code = g_console.queuedKey;
    g_console.queuedKey = -1;
    return code;
  }
  const int fd = STDIN_FILENO;
  if (isatty(fd) == 0) return ReadKey(fd);
  const bool raw = EnterRawMode(fd);
  const int key = ReadKey(fd);
  if (raw) LeaveRawMode();
  return key;
}

BOOL WINAPI WriteFileKeepingSigpipe(HANDLE file, LPCVOID data, DWORD count, LPDWORD written) {
  // SIGPIPE is blocked for the write; one it raised is taken back before the
  // mask is restored, unless it was already pending before.
  sigset_t pipe;
  sigset_t saved;
  sigset_t pendingBefore;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  sigpending(&pendingBefore);
  pthread_sigmask(SIG_BLOCK, &pipe, &saved);
  const BOOL ok = WriteFile(file, data, count, written, nullptr);
  const int error = errno;
  if (ok == 0 && error == EPIPE) {
    if (sigismember(&pendingBefore, SIGPIPE) == 0) {
      const struct timespec now = {0, 0};
      sigtimedwait(&pipe, nullptr, &now);
    }
    SetLastError(ERROR_NO_DATA);
  }
  pthread_sigmask(SIG_SETMASK, &saved, nullptr);
  return ok;
}

BOOL WINAPI SetWindowTextA(HWND window, LPCSTR text) {
  if (window == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  std::u16string& stored = WindowTexts()[window];
  stored.clear();
  for (const char* c = text; c != nullptr && *c != '\0'; ++c) {
    stored.push_back(static_cast<unsigned char>(*c));
  }
  return TRUE;
}

BOOL WINAPI SetWindowTextW(HWND window, LPCWSTR text) {
  if (window == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  WindowTexts()[window] = text != nullptr ? std::u16string(text) : std::u16string();
  return TRUE;
}

int WINAPI GetWindowTextA(HWND window, LPSTR buffer, int size) {
  if (buffer == nullptr || size <= 0) return 0;
  const auto found = WindowTexts().find(window);
  int length = 0;
  if (found != WindowTexts().end()) {
    for (char16_t unit : found->second) {
      if (length + 1 >= size) break;
      buffer[length++] = unit < 0x100 ? static_cast<char>(unit) : '?';
    }
  }
  buffer[length] = '\0';
  return length;
}

int WINAPI GetWindowTextW(HWND window, LPWSTR buffer, int size) {
  if (buffer == nullptr || size <= 0) return 0;
  const auto found = WindowTexts().find(window);
  int length = 0;
  if (found != WindowTexts().end()) {
    for (char16_t unit : found->second) {
      if (length + 1 >= size) break;
      buffer[length++] = unit;
    }
  }
  buffer[length] = 0;
  return length;
}

int WINAPI WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR text, int count, LPSTR buffer,
                               int size, LPCSTR, BOOL* usedDefault) {
  if (codePage != CP_UTF8 || flags != 0 || text == nullptr || count < -1 || size < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (usedDefault != nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);  // as Windows for CP_UTF8
    return 0;
  }
  if (count == -1) {
    count = 0;
    while (text[count] != 0) ++count;
    ++count;
  }
  std::size_t needed = 0;
  for (int i = 0; i < count;)
    needed += static_cast<std::size_t>(Utf8Length(NextCodePoint(text, count, i)));
  if (needed > 0x7FFFFFFF) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (size == 0) return static_cast<int>(needed);
  if (needed > static_cast<std::size_t>(size)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  char* out = buffer;
  for (int i = 0; i < count;) out = PutUtf8(out, NextCodePoint(text, count, i));
  return static_cast<int>(out - buffer);
}
