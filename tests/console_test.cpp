// Console routines with standard input and output redirected to files and
// pipes, in both lanes. The routines at a real terminal (pre-typed text,
// editing, WaitKey's raw mode) are driven through tmux by console_tmux.sh.
#include "support/console.h"

#include "compat/win32.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include "support/strings.h"
#include "tools/capture.h"

namespace {

// Standard input reads the given bytes from a file while the object lives.
class StdinFrom {
 public:
  explicit StdinFrom(const std::string& bytes) : path_(tw_test::TemporaryPath("stdin")) {
    std::ofstream(path_, std::ios::binary) << bytes;
#ifdef _WIN32
    saved_ = GetStdHandle(STD_INPUT_HANDLE);
    file_ = CreateFileA(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    SetStdHandle(STD_INPUT_HANDLE, file_);
#else
    saved_ = dup(STDIN_FILENO);
    const int fd = open(path_.c_str(), O_RDONLY);
    dup2(fd, STDIN_FILENO);
    close(fd);
#endif
  }
  ~StdinFrom() {
#ifdef _WIN32
    SetStdHandle(STD_INPUT_HANDLE, saved_);
    CloseHandle(file_);
#else
    dup2(saved_, STDIN_FILENO);
    close(saved_);
#endif
    std::remove(path_.c_str());
  }
  StdinFrom(const StdinFrom&) = delete;
  StdinFrom& operator=(const StdinFrom&) = delete;

 private:
  std::string path_;
#ifdef _WIN32
  HANDLE saved_ = nullptr;
  HANDLE file_ = nullptr;
#else
  int saved_ = -1;
#endif
};

// Standard output is a pipe whose reading end is closed while the object lives.
class StdoutToClosedPipe {
 public:
  StdoutToClosedPipe() {
#ifdef _WIN32
    HANDLE readEnd = nullptr;
    CreatePipe(&readEnd, &writeEnd_, nullptr, 0);
    CloseHandle(readEnd);
    saved_ = GetStdHandle(STD_OUTPUT_HANDLE);
    SetStdHandle(STD_OUTPUT_HANDLE, writeEnd_);
#else
    int ends[2];
    EXPECT_EQ(pipe(ends), 0);
    close(ends[0]);
    saved_ = dup(STDOUT_FILENO);
    dup2(ends[1], STDOUT_FILENO);
    close(ends[1]);
#endif
  }
  ~StdoutToClosedPipe() {
#ifdef _WIN32
    SetStdHandle(STD_OUTPUT_HANDLE, saved_);
    CloseHandle(writeEnd_);
#else
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
#endif
  }
  StdoutToClosedPipe(const StdoutToClosedPipe&) = delete;
  StdoutToClosedPipe& operator=(const StdoutToClosedPipe&) = delete;

 private:
#ifdef _WIN32
  HANDLE saved_ = nullptr;
  HANDLE writeEnd_ = nullptr;
#else
  int saved_ = -1;
#endif
};

std::string Newest() {
  const tw::TextView view = tw::ResolveString(tw::kNewestResult);
  return std::string(view.text, static_cast<std::size_t>(view.length));
}

// ---- ConsolePrint ----

TEST(ConsolePrint, WritesTheTextAndReturnsItsLength) {
  tw_test::Capture capture(tw_test::Stream::Output);
  EXPECT_EQ(tw::ConsolePrint("Hello\tWorld\r\n"), 13u);
  EXPECT_EQ(tw::ConsolePrint(""), 0u);
  EXPECT_EQ(tw::ConsolePrint(nullptr), 0u);
  EXPECT_EQ(capture.Finish(), "Hello\tWorld\r\n");
}

TEST(ConsolePrint, AClosedOutputIsNotFatalAndLosesNothingElse) {
  {
    StdoutToClosedPipe closed;
    EXPECT_EQ(tw::ConsolePrint("lost"), 0u);
  }
  tw_test::Capture capture(tw_test::Stream::Output);
  EXPECT_EQ(tw::ConsolePrint("after"), 5u);
  EXPECT_EQ(capture.Finish(), "after");
}

// ---- ConsoleReadLine from a file ----

struct ReadCase {
  const char* input;
  std::int32_t size;
  std::int32_t expected;  // the result
  const char* line;       // the bytes before the line end
};

TEST(ConsoleReadLine, ReadsOneLineAndReturnsItsLengthWithoutTheLineEnd) {
  const ReadCase kCases[] = {
      {"abc\r\n", 127, 3, "abc"},         // a typed line's CR LF
      {"abc\n", 127, 3, "abc"},           // LF alone
      {"abc", 127, 3, "abc"},             // no line end: the count actually read
      {"", 127, 0, ""},                   // end of input
      {"\r\n", 127, 0, ""},               // an empty line
      {"one\r\ntwo\r\n", 127, 3, "one"},  // one line per read
      {"abcdefg\n", 4, 4, "abcd"},        // no more than the buffer
  };
  for (const ReadCase& c : kCases) {
    StdinFrom input(c.input);
    char buffer[200];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(tw::ConsoleReadLine(buffer, c.size), c.expected) << c.input;
    EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(c.expected)), c.line) << c.input;
    EXPECT_EQ(buffer[c.size], '#') << "wrote past the buffer: " << c.input;
  }
}

TEST(ConsoleReadLine, WhatFollowsTheLineStaysForTheNextRead) {
  StdinFrom input("one\r\ntwo\nthreefour\n");
  char buffer[8];
  EXPECT_EQ(tw::ConsoleReadLine(buffer, 8), 3);
  EXPECT_EQ(std::string(buffer, 3), "one");
  EXPECT_EQ(tw::ConsoleReadLine(buffer, 8), 3);
  EXPECT_EQ(std::string(buffer, 3), "two");
  EXPECT_EQ(tw::ConsoleReadLine(buffer, 8), 8);
  EXPECT_EQ(std::string(buffer, 8), "threefou");
  EXPECT_EQ(tw::ConsoleReadLine(buffer, 8), 1);
  EXPECT_EQ(std::string(buffer, 1), "r");
  EXPECT_EQ(tw::ConsoleReadLine(buffer, 8), 0);
}

TEST(ConsoleReadLine, NoBufferReadsNothing) {
  StdinFrom input("abc\n");
  char buffer[4];
  EXPECT_EQ(tw::ConsoleReadLine(nullptr, 4), 0);
  EXPECT_EQ(tw::ConsoleReadLine(buffer, 0), 0);
  EXPECT_EQ(tw::ConsoleReadLine(buffer, -5), 0);
  EXPECT_EQ(tw::ConsoleReadLine(buffer, 4), 3);
}

// ---- ConsoleInput from a file ----

struct InputCase {
  const char* prompt;
  const char* preTyped;
  std::string input;
  std::string expected;
};

TEST(ConsoleInput, PreTypedTextComesBeforeWhatIsRead) {
  const std::string line125(125, 'x');
  const InputCase kCases[] = {
      {nullptr, "abc", "\r\n", "abc"},  // the user presses only Enter
      {nullptr, "ab", "cd\n", "abcd"},
      {"Name? ", nullptr, "Tom\r\n", "Tom"},
      {"Name? ", "", "Tom\r\n", "Tom"},
      {nullptr, nullptr, "", ""},                     // end of input: the empty text
      {nullptr, "abc", "", "abc"},                    // pre-typed text and end of input
      {nullptr, nullptr, line125 + "\r\n", line125},  // exactly 125 characters, whole
  };
  for (const InputCase& c : kCases) {
    StdinFrom input(c.input);
    tw_test::Capture capture(tw_test::Stream::Output);
    const char* text = tw::ConsoleInput(c.prompt, c.preTyped);
    EXPECT_EQ(capture.Finish(), c.prompt != nullptr ? c.prompt : "");
    EXPECT_EQ(std::string(text), c.expected);
    EXPECT_EQ(Newest(), c.expected);
  }
}

TEST(ConsoleInput, ALongLineComesInPiecesOf127Bytes) {
  std::string line;
  for (int i = 0; i < 200; ++i) line.push_back(static_cast<char>('a' + i % 26));
  StdinFrom input(line + "\r\nnext\r\n");
  EXPECT_EQ(std::string(tw::ConsoleInput(nullptr, nullptr)), line.substr(0, 127));
  EXPECT_EQ(std::string(tw::ConsoleInput(nullptr, nullptr)), line.substr(127));
  EXPECT_EQ(std::string(tw::ConsoleInput(nullptr, nullptr)), "next");
}

TEST(ConsoleInput, LongPreTypedTextFillsTheLineAndReadsNothing) {
  const std::string long200(200, 'p');
  StdinFrom input("rest\n");
  EXPECT_EQ(std::string(tw::ConsoleInput(nullptr, long200.c_str())), long200.substr(0, 127));
  EXPECT_EQ(std::string(tw::ConsoleInput(nullptr, nullptr)), "rest");
}

// ---- CursorLocate ----

TEST(CursorLocate, FailsWhenTheOutputIsNoConsoleOrThePositionIsOutOfRange) {
  tw_test::Capture capture(tw_test::Stream::Output);
  EXPECT_EQ(tw::CursorLocate(3, 4), 0);
  EXPECT_EQ(tw::CursorLocate(-1, 0), 0);
  EXPECT_EQ(tw::CursorLocate(0, 40000), 0);
  EXPECT_EQ(capture.Finish(), "");
}

// ---- WaitKey from a pipe (native only: msvcrt's _getch reads the console
// itself, never a redirected standard input, so under Wine there is no
// headless way to give it keys) ----
#ifndef _WIN32
struct KeyCase {
  const char* bytes;
  tw::PressedKey expected;
};

TEST(WaitKey, MapsEscapeSequencesToTheCodesOfExtendedKeys) {
  const KeyCase kCases[] = {
      {"a", {97, 0}},         {"\r", {13, 0}},        {"\x7f", {8, 0}},      {"\x1bOP", {59, 1}},
      {"\x1bOS", {62, 1}},    {"\x1b[11~", {59, 1}},  {"\x1b[15~", {63, 1}}, {"\x1b[21~", {68, 1}},
      {"\x1b[23~", {133, 1}}, {"\x1b[24~", {134, 1}}, {"\x1b[[A", {59, 1}},  {"\x1b[A", {72, 1}},
      {"\x1b[B", {80, 1}},    {"\x1b[C", {77, 1}},    {"\x1b[D", {75, 1}},   {"\x1bOA", {72, 1}},
      {"\x1b[1;5A", {72, 1}}, {"\x1b[1;2P", {59, 1}}, {"\x1b[H", {71, 1}},   {"\x1b[F", {79, 1}},
      {"\x1b[1~", {71, 1}},   {"\x1b[4~", {79, 1}},   {"\x1b[2~", {82, 1}},  {"\x1b[3~", {83, 1}},
      {"\x1b[5~", {73, 1}},   {"\x1b[6~", {81, 1}},   {"\x1b", {27, 0}},     {"\x1b[99~", {27, 0}},
      {"", {-1, 0}},
  };
  for (const KeyCase& c : kCases) {
    StdinFrom input(c.bytes);
    const tw::PressedKey key = tw::WaitKey();
    EXPECT_EQ(key.code, c.expected.code) << "bytes " << c.bytes + (c.bytes[0] == 27);
    EXPECT_EQ(key.extended, c.expected.extended) << "bytes " << c.bytes + (c.bytes[0] == 27);
  }
}

TEST(WaitKey, TakesOneKeyAndLeavesTheNext) {
  StdinFrom input("\x1b[Dz");
  EXPECT_EQ(tw::WaitKey().code, 75);
  EXPECT_EQ(tw::WaitKey().code, 'z');
}
#endif

}  // namespace
