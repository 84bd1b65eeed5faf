// Console routines: printing, line reading (console and pipe), line input
// with prompt and pre-typed text, the key wait and the cursor placement.
#include "support/console.h"

#include "compat/win32.h"

#ifdef _WIN32
#include <conio.h>
#endif

#include <cstring>

#include "support/strings.h"
#include "support/temptext.h"
#include "trace/text.h"

namespace tw {

namespace {

constexpr DWORD kLineEchoInput = 7;  // processed, line and echo input

// The console input records of the pre-typed characters (one per character).
INPUT_RECORD g_preTypedRecords[kPreTypedLimit];

bool IsConsoleInput(HANDLE input) {
  DWORD mode = 0;
  return GetConsoleMode(input, &mode) != 0;
}

// A pipe or file is read one byte at a time up to the LF, so that the bytes
// after the line stay unread for the next read.
std::int32_t ReadLineBytes(HANDLE input, char* buffer, std::int32_t size) {
  std::int32_t count = 0;
  while (count < size) {
    DWORD read = 0;
    if (ReadFile(input, buffer + count, 1, &read, nullptr) == 0 || read != 1) break;
    if (buffer[count++] == '\n') break;
  }
  return count;
}

std::int32_t WithoutLineEnd(const char* buffer, std::int32_t count) {
  if (count > 0 && buffer[count - 1] == '\n') --count;
  if (count > 0 && buffer[count - 1] == '\r') --count;
  return count;
}

// Puts the characters of text into the console's input queue with one call;
// false when standard input is no console.
bool PlaceInConsoleInput(HANDLE input, const char* text, std::uint32_t count) {
  for (std::uint32_t i = 0; i < count; ++i) {
    INPUT_RECORD& record = g_preTypedRecords[i];
    std::memset(&record, 0, sizeof record);
    record.EventType = KEY_EVENT;
    record.Event.KeyEvent.bKeyDown = TRUE;
    record.Event.KeyEvent.wRepeatCount = 0;
    record.Event.KeyEvent.wVirtualKeyCode = 0;
    record.Event.KeyEvent.wVirtualScanCode = static_cast<unsigned char>(text[i]);
    record.Event.KeyEvent.uChar.AsciiChar = text[i];
    record.Event.KeyEvent.dwControlKeyState = 0;
  }
  DWORD written = 0;
  return WriteConsoleInputA(input, g_preTypedRecords, count, &written) != 0;
}

std::uint32_t BoundedLength(const char* text, std::uint32_t limit) {
  std::uint32_t length = 0;
  while (length < limit && text[length] != '\0') ++length;
  return length;
}

}  // namespace

std::uint32_t ConsolePrint(const char* text) {
  if (text == nullptr) return 0;
  HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD written = 0;
#ifdef _WIN32
  WriteFile(output, text, TextLengthSse2(text), &written, nullptr);
#else
  WriteFileKeepingSigpipe(output, text, TextLengthSse2(text), &written);
#endif
  return written;
}

std::int32_t ConsoleReadLine(char* buffer, std::int32_t size) {
  if (buffer == nullptr || size <= 0) return 0;
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  if (!IsConsoleInput(input)) return WithoutLineEnd(buffer, ReadLineBytes(input, buffer, size));
  SetConsoleMode(input, kLineEchoInput);
  DWORD read = 0;
  if (ReadConsoleA(input, buffer, static_cast<DWORD>(size), &read, nullptr) == 0) return 0;
  return WithoutLineEnd(buffer, static_cast<std::int32_t>(read));
}

char* ConsoleInput(const char* prompt, const char* preTyped) {
  if (prompt != nullptr) ConsolePrint(prompt);
  char* const at = TempTextReserve(kConsoleLineBuffer + 1);
  std::uint32_t before = 0;
  if (preTyped != nullptr) {
    const std::uint32_t count = BoundedLength(preTyped, kPreTypedLimit);
    if (count > 0 && !PlaceInConsoleInput(GetStdHandle(STD_INPUT_HANDLE), preTyped, count)) {
      before = count < kConsoleLineBuffer ? count : kConsoleLineBuffer;
      std::memcpy(at, preTyped, before);
    }
  }
  std::int32_t length = static_cast<std::int32_t>(before);
  if (before < kConsoleLineBuffer) {
    length += ConsoleReadLine(at + before, static_cast<std::int32_t>(kConsoleLineBuffer - before));
  }
  at[length] = '\0';
  return TempTextEnd(at + length, kSlotNext).text;
}

PressedKey WaitKey() {
  FlushConsoleInputBuffer(GetStdHandle(STD_INPUT_HANDLE));
  const int first = _getch();
  if (first == 0 || first == 224) return {_getch(), 1};
  return {first, 0};
}

std::int32_t CursorLocate(std::int32_t column, std::int32_t row) {
  if (column < 0 || row < 0 || column > 32767 || row > 32767) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  COORD position;
  position.X = static_cast<SHORT>(column);
  position.Y = static_cast<SHORT>(row);
  return SetConsoleCursorPosition(GetStdHandle(STD_OUTPUT_HANDLE), position);
}

}  // namespace tw
