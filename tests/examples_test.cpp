// The example programs, run as the user runs them on files made here:
// sortlines against a reference order computed in the test (CR LF, LF and
// UTF-16 files, reverse order, fields, output to a file or the console), and
// linestat against wc -l -c (natively) and counts computed in the test.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tools/capture.h"
#include "tools/child.h"
#include "tools/whole_file.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace {

using namespace std::string_literals;
using Lines = std::vector<std::string>;

using tw_test::ReadWhole;
using tw_test::WriteWhole;

struct ProgramRun {
  int exitCode;
  std::string output;
  std::string error;
};

#ifdef _WIN32
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

// The example programs are built beside the tests: <build>/examples/<name>.
std::string ProgramPath(const char* name) {
  char self[4096] = {};
#ifdef _WIN32
  GetModuleFileNameA(nullptr, self, sizeof self);
  const char* suffix = ".exe";
#else
  const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  if (length > 0) self[length] = '\0';
  const char* suffix = "";
#endif
  std::string path = self;
  path.erase(path.rfind(kSeparator));  // the test program's name
  path.erase(path.rfind(kSeparator));  // tests
  return path + kSeparator + "examples" + kSeparator + name + suffix;
}

#ifdef _WIN32
HANDLE InheritableFile(const std::string& path) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  return CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

int Spawn(const std::string& program, const Lines& arguments, const std::string& outputPath,
          const std::string& errorPath, const std::string& inputPath) {
  std::string commandLine = "\"" + program + "\"";
  for (const std::string& argument : arguments) commandLine += " \"" + argument + "\"";
  HANDLE output = InheritableFile(outputPath);
  HANDLE error = InheritableFile(errorPath);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE input = inputPath.empty()
                     ? GetStdHandle(STD_INPUT_HANDLE)
                     : CreateFileA(inputPath.c_str(), GENERIC_READ, FILE_SHARE_READ, &inherit,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  startup.hStdInput = input;
  startup.hStdOutput = output;
  startup.hStdError = error;
  PROCESS_INFORMATION process = {};
  int exitCode = -1000;
  if (CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                     &startup, &process)) {
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    exitCode = static_cast<int>(code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  CloseHandle(output);
  CloseHandle(error);
  if (!inputPath.empty()) CloseHandle(input);
  return exitCode;
}
#else
int Spawn(const std::string& program, const Lines& arguments, const std::string& outputPath,
          const std::string& errorPath, const std::string& inputPath) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!inputPath.empty())
    posix_spawn_file_actions_addopen(&actions, 0, inputPath.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  posix_spawn_file_actions_addopen(&actions, 2, errorPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  std::vector<char*> argv;
  std::vector<std::string> copies = {program};
#ifdef TW_TEST_EMULATOR
  // The native 32-bit lane starts its programs through the emulator.
  copies.insert(copies.begin(), TW_TEST_EMULATOR);
#endif
  copies.insert(copies.end(), arguments.begin(), arguments.end());
  for (std::string& copy : copies) argv.push_back(copy.data());
  argv.push_back(nullptr);
  pid_t child = 0;
  const int started =
      posix_spawn(&child, copies[0].c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (started != 0) return -1000;
  int status = 0;
  waitpid(child, &status, 0);
  if (WIFSIGNALED(status)) return -2000 - WTERMSIG(status);
  return WEXITSTATUS(status);
}
#endif

// Runs the program; with inputPath its standard input reads that file, with
// outputPath its standard output goes there (and is not read back).
ProgramRun RunProgram(const char* name, const Lines& arguments, const std::string& inputPath = "",
                      const std::string& outputPath = "") {
  const std::string output =
      outputPath.empty() ? tw_test::TemporaryPath("example-out") : outputPath;
  const std::string errorPath = tw_test::TemporaryPath("example-err");
  ProgramRun run;
  run.exitCode = Spawn(ProgramPath(name), arguments, output, errorPath, inputPath);
  if (outputPath.empty()) {
    run.output = ReadWhole(output);
    std::remove(output.c_str());
  }
  run.error = ReadWhole(errorPath);  // messages: Windows' text mode ends them with CR LF
  run.error.erase(std::remove(run.error.begin(), run.error.end(), '\r'), run.error.end());
  std::remove(errorPath.c_str());
  return run;
}

// ---- References ----

std::string Folded(const std::string& text) {
  std::string folded = text;
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  return folded;
}

// The order sortlines promises: on Windows the runtime library's _stricmp
// (which under Wine compares bytes above 127 as signed values), natively the
// folded bytes compared unsigned.
bool FoldedBefore(const std::string& a, const std::string& b) {
#ifdef _WIN32
  return _stricmp(a.c_str(), b.c_str()) < 0;
#else
  const std::string x = Folded(a), y = Folded(b);
  return std::lexicographical_compare(x.begin(), x.end(), y.begin(), y.end(), [](char p, char q) {
    return static_cast<unsigned char>(p) < static_cast<unsigned char>(q);
  });
#endif
}

Lines Sorted(Lines lines, bool reverse) {
  std::sort(lines.begin(), lines.end(), FoldedBefore);
  if (reverse) std::reverse(lines.begin(), lines.end());
  return lines;
}

std::string WithCrLf(const Lines& lines) {
  std::string out;
  for (const std::string& line : lines) out += line + "\r\n";
  return out;
}

std::string Joined(const Lines& lines, const char* end) {
  std::string out;
  for (const std::string& line : lines) out += line + end;
  return out;
}

// Lines that differ after folding (so that the order is fully defined): mixed
// case letters, digits, punctuation, spaces and bytes above 127.
Lines RandomLines(std::mt19937& random, std::size_t count, bool asciiOnly) {
  const std::string alphabet =
      asciiOnly ? "aAbBcCxyZ019 _-[]~,." : "aAbBcCxyZ019 _-[]~,.\xC4\xE4\xFF";
  std::set<std::string> seen;
  Lines lines;
  while (lines.size() < count) {
    std::string line(random() % 12, 'a');
    for (char& c : line) c = alphabet[random() % alphabet.size()];
    if (seen.insert(Folded(line)).second) lines.push_back(line);
  }
  return lines;
}

std::string Utf16File(const Lines& lines, std::string* utf8) {
  // Every line gets a few non-ASCII characters (e with acute, a CJK
  // character) in UTF-16, and the same in UTF-8 for the reference.
  std::string bytes = "\xFF\xFE";
  utf8->clear();
  for (const std::string& line : lines) {
    for (char c : line) {
      bytes += c;
      bytes += '\0';
    }
    bytes += "\xE9\x00\x2D\x4E\r\0\n\0"s;
    *utf8 += line + "\xC3\xA9\xE4\xB8\xAD" + "\n";
  }
  return bytes;
}

// ---- sortlines ----

TEST(Sortlines, SortsCrLfLfAndUtf16FilesLikeTheReference) {
  TW_SKIP_WITHOUT_CHILD_PROCESS();
  std::mt19937 random(12);
  const std::string input = tw_test::TemporaryPath("sortlines-in");
  const std::string output = tw_test::TemporaryPath("sortlines-out");
  for (int round = 0; round < 6; ++round) {
    const Lines lines = RandomLines(random, 40 + random() % 200, true);
    const bool reverse = round % 2 == 1;
    const char* end = round < 2 ? "\r\n" : "\n";
    WriteWhole(input, Joined(lines, end));
    Lines arguments = {input};
    if (reverse) arguments.insert(arguments.begin(), "--reverse");
    // To the console.
    const ProgramRun console = RunProgram("sortlines", arguments);
    EXPECT_EQ(console.exitCode, 0) << console.error;
    EXPECT_EQ(console.output, WithCrLf(Sorted(lines, reverse))) << round;
    // To a file.
    arguments.insert(arguments.begin(), {"--output", output});
    const ProgramRun toFile = RunProgram("sortlines", arguments);
    EXPECT_EQ(toFile.exitCode, 0) << toFile.error;
    EXPECT_EQ(toFile.output, "");
    EXPECT_EQ(ReadWhole(output), WithCrLf(Sorted(lines, reverse))) << round;
  }
  // Bytes above 127 (after ASCII natively).
  const Lines wide = RandomLines(random, 100, false);
  WriteWhole(input, Joined(wide, "\r\n"));
  EXPECT_EQ(RunProgram("sortlines", {input}).output, WithCrLf(Sorted(wide, false)));
  // UTF-16: UTF-8 lines, the byte-order mark first.
  std::string utf8;
  const Lines ascii = RandomLines(random, 60, true);
  WriteWhole(input, Utf16File(ascii, &utf8));
  Lines expected;
  for (const std::string& line : ascii) expected.push_back(line + "\xC3\xA9\xE4\xB8\xAD");
  EXPECT_EQ(RunProgram("sortlines", {input}).output,
            "\xEF\xBB\xBF" + WithCrLf(Sorted(expected, false)));
  EXPECT_EQ(RunProgram("sortlines", {"--output", output, input}).exitCode, 0);
  EXPECT_EQ(ReadWhole(output), "\xEF\xBB\xBF" + WithCrLf(Sorted(expected, false)));
  // Standard input ("-" or no file); the line ends the first line end shows,
  // however long the first line is (here with fewer than five line feeds).
  const Lines longFirst = {std::string(5000, 'x'), "b", "a"};
  WriteWhole(input, Joined(longFirst, "\n"));
  EXPECT_EQ(RunProgram("sortlines", {}, input).output, WithCrLf(Sorted(longFirst, false)));
  EXPECT_EQ(RunProgram("sortlines", {"-"}, input).output, WithCrLf(Sorted(longFirst, false)));
  WriteWhole(input, "b\r\na\nc\r\n");  // after a first CR LF, a bare line feed stays in its line
  EXPECT_EQ(RunProgram("sortlines", {input}).output, "a\nc\r\nb\r\n");
  std::remove(input.c_str());
  std::remove(output.c_str());
}

TEST(Sortlines, LinesDifferingInCaseStayTogether) {
  TW_SKIP_WITHOUT_CHILD_PROCESS();
  const std::string input = tw_test::TemporaryPath("sortlines-case");
  WriteWhole(input, "b\r\nA\r\nB\r\na\r\nc\r\nC\r\n");
  for (const bool reverse : {false, true}) {
    Lines arguments = {input};
    if (reverse) arguments.insert(arguments.begin(), "--reverse");
    const std::string out = RunProgram("sortlines", arguments).output;
    ASSERT_EQ(out.size(), 18u);
    for (std::size_t i = 0; i < out.size(); i += 6) {
      EXPECT_EQ(Folded(out.substr(i, 1)), Folded(out.substr(i + 3, 1))) << out;
    }
  }
  std::remove(input.c_str());
}

TEST(Sortlines, SortsByATabOrCommaField) {
  TW_SKIP_WITHOUT_CHILD_PROCESS();
  std::mt19937 random(6);
  const std::string input = tw_test::TemporaryPath("sortlines-fields");
  for (const char* separator : {"\t", ","}) {
    // Few distinct fields, so that many lines tie.
    const Lines distinct = RandomLines(random, 8, true);
    Lines keys;
    for (int i = 0; i < 60; ++i) keys.push_back(distinct[random() % distinct.size()]);
    Lines lines;
    for (std::size_t i = 0; i < keys.size(); ++i) {
      std::string key = keys[i];
      std::replace(key.begin(), key.end(), ',', ';');  // no separator inside a field
      lines.push_back("row" + std::to_string(i) + separator + key + separator + "end");
    }
    WriteWhole(input, Joined(lines, "\r\n"));
    Lines expected = lines;
    auto fieldOf = [&](const std::string& line) {
      const std::size_t first = line.find(separator[0]);
      return line.substr(first + 1, line.find(separator[0], first + 1) - first - 1);
    };
    // Lines with equal fields keep their order, in both directions.
    std::stable_sort(expected.begin(), expected.end(),
                     [&](const std::string& a, const std::string& b) {
                       return FoldedBefore(fieldOf(a), fieldOf(b));
                     });
    const ProgramRun run = RunProgram("sortlines", {"--fields", "2", input});
    EXPECT_EQ(run.exitCode, 0) << run.error;
    EXPECT_EQ(run.output, WithCrLf(expected)) << separator;
    std::stable_sort(lines.begin(), lines.end(), [&](const std::string& a, const std::string& b) {
      return FoldedBefore(fieldOf(b), fieldOf(a));
    });
    EXPECT_EQ(RunProgram("sortlines", {"--reverse", "--fields", "2", input}).output,
              WithCrLf(lines));
  }
  std::remove(input.c_str());
}

TEST(Sortlines, HelpAndBadArguments) {
  TW_SKIP_WITHOUT_CHILD_PROCESS();
  const ProgramRun help = RunProgram("sortlines", {"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_EQ(help.output.rfind("Usage: sortlines", 0), 0u) << help.output;
  struct Case {
    Lines arguments;
    std::string message;
  };
  const std::string folder = tw_test::TemporaryPath("sortlines-folder");
  std::filesystem::create_directories(folder);
  const std::string input = tw_test::TemporaryPath("sortlines-bad");
  WriteWhole(input, "b\na\n");
  const std::string unwritable = folder + "/no-such-folder/out.txt";
  // Every failure is one line naming the file and the reason, and exit code 2.
  const Case cases[] = {
      {{"no-such-sortlines-input.txt"},
       "sortlines: cannot read no-such-sortlines-input.txt: no such file\n"},
      {{folder}, "sortlines: cannot read " + folder + ": is a folder\n"},
      {{"--output"}, "sortlines: --output needs a file name\n"},
      {{"--output", unwritable, input}, "sortlines: cannot write " + unwritable + ": "},
      {{"--", "--reverse"}, "sortlines: cannot read --reverse: no such file\n"},
      {{"--fields", "0", "x"}, "sortlines: bad field number 0\n"},
      {{"--bogus", "x"}, "sortlines: unknown option --bogus\n"},
      {{"a", "b"}, "sortlines: more than one input file: b\n"},
  };
  for (const Case& c : cases) {
    const ProgramRun run = RunProgram("sortlines", c.arguments);
    EXPECT_EQ(run.exitCode, 2) << c.message;
    EXPECT_EQ(run.error.rfind(c.message, 0), 0u) << run.error;
    EXPECT_EQ(std::count(run.error.begin(), run.error.end(), '\n'), 1) << run.error;
  }
  std::filesystem::remove_all(folder);
  std::remove(input.c_str());
}

// ---- linestat ----

struct Stat {
  int lines, bytes, longest, longestLine, withWord;
};

Stat ParseStat(const std::string& output) {
  Stat stat = {-1, -1, -1, -1, -1};
  std::sscanf(output.c_str(), "lines\t%d\nbytes\t%d\nlongest\t%d\tline %d", &stat.lines,
              &stat.bytes, &stat.longest, &stat.longestLine);
  const std::size_t word = output.find("word\t");
  if (word != std::string::npos) {
    std::sscanf(output.c_str() + output.find('\t', word + 5) + 1, "%d", &stat.withWord);
  }
  return stat;
}

bool IsWordByte(char c) {
  return static_cast<unsigned char>(c) > 64;
}

// Lines holding word with no word byte (above 64) on either side.
int ReferenceWordLines(const Lines& lines, const std::string& word) {
  int count = 0;
  for (const std::string& line : lines) {
    for (std::size_t at = line.find(word); at != std::string::npos; at = line.find(word, at + 1)) {
      const bool before = at == 0 || !IsWordByte(line[at - 1]);
      const std::size_t after = at + word.size();
      if (before && (after == line.size() || !IsWordByte(line[after]))) {
        ++count;
        break;
      }
    }
  }
  return count;
}

#ifndef _WIN32
// wc's line and byte counts (the Windows lane has no wc: there the test's own
// counts stand in).
std::pair<int, int> WcCounts(const std::string& path) {
  const std::string command = "wc -l -c < '" + path + "'";
  FILE* pipe = popen(command.c_str(), "r");
  int lines = -1, bytes = -1;
  if (pipe != nullptr) {
    if (std::fscanf(pipe, "%d %d", &lines, &bytes) != 2) lines = bytes = -1;
    pclose(pipe);
  }
  return {lines, bytes};
}
#endif

TEST(Linestat, CountsLikeWcAndTheReference) {
  TW_SKIP_WITHOUT_CHILD_PROCESS();
  std::mt19937 random(9);
  const std::string input = tw_test::TemporaryPath("linestat-in");
  const char* words[] = {"cat", "dog", "at", "x", "1"};
  for (int round = 0; round < 8; ++round) {
    Lines lines;
    const std::size_t count = 5 + random() % 300;
    for (std::size_t i = 0; i < count; ++i) {
      std::string line;
      const std::size_t pieces = random() % 8;
      for (std::size_t p = 0; p < pieces; ++p) {
        const char* parts[] = {"cat", "dog", "concat", "cats", " ", "-", "1", "x", "at", "Cat"};
        line += parts[random() % 10];
      }
      lines.push_back(line);
    }
    const char* end = round % 2 == 0 ? "\r\n" : "\n";
    const std::string text = Joined(lines, end);
    WriteWhole(input, text);
    const std::string word = words[round % 5];
    const ProgramRun run = RunProgram("linestat", {"--word", word, input});
    ASSERT_EQ(run.exitCode, 0) << run.error;
    const Stat stat = ParseStat(run.output);
    // Every line ends with a line end: wc -l counts them, wc -c the bytes.
    const int feeds = static_cast<int>(std::count(text.begin(), text.end(), '\n'));
#ifndef _WIN32
    const std::pair<int, int> wc = WcCounts(input);
    EXPECT_EQ(wc.first, feeds);
    EXPECT_EQ(stat.lines, wc.first) << run.output;
    EXPECT_EQ(stat.bytes, wc.second) << run.output;
#endif
    EXPECT_EQ(stat.lines, feeds);
    EXPECT_EQ(stat.bytes, static_cast<int>(text.size()));
    std::size_t longest = 0, longestLine = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      if (lines[i].size() > longest) {
        longest = lines[i].size();
        longestLine = i + 1;
      }
    }
    EXPECT_EQ(stat.longest, static_cast<int>(longest));
    EXPECT_EQ(stat.longestLine, static_cast<int>(longestLine));
    EXPECT_EQ(stat.withWord, ReferenceWordLines(lines, word)) << word << " " << round;
  }
  // Without a word: no word line. An empty file: all zero.
  WriteWhole(input, "");
  const ProgramRun empty = RunProgram("linestat", {input});
  std::string output = empty.output;
  output.erase(std::remove(output.begin(), output.end(), '\r'),
               output.end());  // Windows' text mode
  EXPECT_EQ(output, "lines\t0\nbytes\t0\nlongest\t0\tline 0\n");
  const ProgramRun help = RunProgram("linestat", {"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_EQ(help.output.rfind("Usage: linestat", 0), 0u);
  const ProgramRun missing = RunProgram("linestat", {"no-such-linestat-input.txt"});
  EXPECT_EQ(missing.exitCode, 2);
  EXPECT_EQ(missing.error, "linestat: cannot read no-such-linestat-input.txt: no such file\n");
  // A one-letter word follows the same rules as longer ones; standard input;
  // a first line longer than any first look at the file.
  WriteWhole(input, std::string(5000, 'q') + "\nA b\nxa a\nab\n");
  const Stat oneLetter = ParseStat(RunProgram("linestat", {"--word", "a", input}).output);
  EXPECT_EQ(oneLetter.withWord, 1);
  EXPECT_EQ(oneLetter.lines, 4);
  EXPECT_EQ(oneLetter.longest, 5000);
  const Stat folded =
      ParseStat(RunProgram("linestat", {"--ignore-case", "--word", "a"}, input).output);
  EXPECT_EQ(folded.withWord, 2);
  EXPECT_EQ(folded.bytes, 5000 + 13);
#ifndef _WIN32
  // An output that cannot be written (natively: /dev/full) is a failure.
  const ProgramRun full = RunProgram("linestat", {input}, "", "/dev/full");
  EXPECT_EQ(full.exitCode, 2);
  EXPECT_EQ(full.error, "linestat: cannot write the output\n");
#endif
  std::remove(input.c_str());
}

}  // namespace
