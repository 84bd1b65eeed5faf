// A small program for the terminal tests of the console routines: run in a
// tmux pane by console_tmux.sh, which types keys and reads the screen.
//   console_driver input [pre-typed]     ConsoleInput with the prompt "Name? "
//   console_driver waitkey N [sleep ms]  sleeps, then N times WaitKey; then the
//                                        terminal mode as it is afterwards
// Natively the terminal mode is compared before and after WaitKey (termios);
// the Windows build reports the console's input mode instead.
#ifdef _WIN32
#include <windows.h>
#else
#include <termios.h>
#include <unistd.h>
#endif

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "support/console.h"

namespace {

void Print(const std::string& text) {
  tw::ConsolePrint(text.c_str());
}

int RunInput(const char* preTyped) {
  const char* line = tw::ConsoleInput("Name? ", preTyped);
  Print("[" + std::string(line) + "] " + std::to_string(strlen(line)) + "\r\n");
  return 0;
}

#ifdef _WIN32
// The console input mode: line input stands for icanon, echo input for echo.
struct Mode {
  DWORD flags = 0;
};
Mode ReadMode() {
  Mode mode;
  GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode.flags);
  return mode;
}
bool SameMode(const Mode& a, const Mode& b) {
  return a.flags == b.flags;
}
bool LineMode(const Mode& mode) {
  return (mode.flags & ENABLE_LINE_INPUT) != 0;
}
bool EchoMode(const Mode& mode) {
  return (mode.flags & ENABLE_ECHO_INPUT) != 0;
}
void SleepMs(int ms) {
  Sleep(static_cast<DWORD>(ms));
}
#else
using Mode = termios;
Mode ReadMode() {
  termios mode = {};
  tcgetattr(STDIN_FILENO, &mode);
  return mode;
}
bool SameMode(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_lflag == b.c_lflag &&
         memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}
bool LineMode(const termios& mode) {
  return (mode.c_lflag & ICANON) != 0;
}
bool EchoMode(const termios& mode) {
  return (mode.c_lflag & ECHO) != 0;
}
void SleepMs(int ms) {
  usleep(static_cast<useconds_t>(ms) * 1000);
}
#endif

int RunWaitKey(int count, int sleepMs) {
  const Mode before = ReadMode();
  Print("sleeping\r\n");
  SleepMs(sleepMs);
  Print("ready\r\n");
  for (int i = 0; i < count; ++i) {
    const tw::PressedKey key = tw::WaitKey();
    Print("key " + std::to_string(key.code) + " " + std::to_string(key.extended) + "\r\n");
  }
  const Mode after = ReadMode();
  Print(std::string("icanon=") + (LineMode(after) ? "1" : "0") +
        " echo=" + (EchoMode(after) ? "1" : "0") +
        " restored=" + (SameMode(before, after) ? "1" : "0") + "\r\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && strcmp(argv[1], "input") == 0) return RunInput(argc >= 3 ? argv[2] : nullptr);
  if (argc >= 3 && strcmp(argv[1], "waitkey") == 0) {
    return RunWaitKey(atoi(argv[2]), argc >= 4 ? atoi(argv[3]) : 0);
  }
  fprintf(stderr, "usage: console_driver input [pre-typed] | waitkey N [sleep ms]\n");
  return 2;
}
