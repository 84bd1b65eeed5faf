// Console routines of the library: print a text to standard output, read one
// typed line, read a line with a prompt and pre-typed text the user can edit,
// wait for one key (function and cursor keys flagged as extended), and place
// the console cursor. See docs/console.md.
#pragma once

#include <cstdint>

namespace tw {

// Buffer size of a ConsoleInput read: a typed line with its CR LF fills it
// with 125 characters.
constexpr std::uint32_t kConsoleLineBuffer = 127;
// Pre-typed characters beyond this many are not placed.
constexpr std::uint32_t kPreTypedLimit = 127;

// Writes text (up to its NUL) to standard output, taking the handle anew on
// each call. Returns the number of bytes written; a failed write (closed
// output) returns what got through and is not fatal. A null text writes
// nothing.
std::uint32_t ConsolePrint(const char* text);

// Reads one line from standard input into buffer (at most size bytes, no NUL
// added) and returns its length without the line end (CR LF, LF or CR) it
// ended with. From a console the line is typed and edited with echo; what
// does not fit stays for the next read. From a pipe or file the bytes are
// read up to and including the next LF (or size bytes), so later lines stay
// for later reads. At the end of input the result is 0.
std::int32_t ConsoleReadLine(char* buffer, std::int32_t size);

// Writes prompt (when not null), then reads one line and returns it as a new
// temporary result, NUL-terminated, without its line end. preTyped (when not
// null) is put into the console's input as if typed, so the user can accept
// it with Enter or edit it; when standard input is no console, it comes
// before what is read. The text holds at most 127 bytes (a typed line of 125
// characters with its CR LF fills the read); at the end of input it is empty.
char* ConsoleInput(const char* prompt, const char* preTyped);

// A key press: the key's code and 1 for an extended key (function and cursor
// keys: their second code), else 0.
struct PressedKey {
  std::int32_t code;
  std::int32_t extended;
};
// The earlier name of the same record. X11's headers define KeyPress as a
// macro: a program that includes them gets PressedKey only.
#ifndef KeyPress
using KeyPress = PressedKey;
#endif

// Codes of extended keys (flag 1), as WaitKey reports them.
constexpr std::int32_t kKeyF1 = 59;  // F2 to F10: 60 to 68
constexpr std::int32_t kKeyF11 = 133;
constexpr std::int32_t kKeyF12 = 134;
constexpr std::int32_t kKeyHome = 71;
constexpr std::int32_t kKeyUp = 72;
constexpr std::int32_t kKeyPageUp = 73;
constexpr std::int32_t kKeyLeft = 75;
constexpr std::int32_t kKeyRight = 77;
constexpr std::int32_t kKeyEnd = 79;
constexpr std::int32_t kKeyDown = 80;
constexpr std::int32_t kKeyPageDown = 81;
constexpr std::int32_t kKeyInsert = 82;
constexpr std::int32_t kKeyDelete = 83;
// Codes of plain keys (flag 0) that have no character.
constexpr std::int32_t kKeyBackspace = 8;
constexpr std::int32_t kKeyEnter = 13;
constexpr std::int32_t kKeyEscape = 27;

// Discards keys typed before the call, then waits for one key (no echo). F1
// gives 59 with flag 1, the Up arrow 72 with flag 1, the letter a 97 with flag
// 0. Natively, at the end of a standard input that is no terminal, the code is
// -1.
PressedKey WaitKey();

// Places the cursor of the standard output console at the 0-based column and
// row; returns the system's result (0 when the output is no console, or a
// coordinate is negative or above 32,767).
std::int32_t CursorLocate(std::int32_t column, std::int32_t row);

}  // namespace tw
