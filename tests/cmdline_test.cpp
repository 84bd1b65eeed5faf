// Command-line arguments, string resources and deferred file reads.
//
// CommandLineArg runs twice over: in-process over given command lines (every
// rule of the argument walk), and end to end in a child copy of this program
// started with a real command line (the Windows lane writes the line itself
// with CreateProcessA; the native lane passes argv, from which the command
// line is written back). String resources exist only in the Windows lane
// (cmdline_test.rc); natively a program has none.
#include "support/cmdline.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "compat/win32.h"
#include "support/files.h"
#include "support/strings.h"
#include "tools/capture.h"
#include "tools/child.h"

#ifndef _WIN32
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace {

// The system's text for an error code, as the last-error report shows it.
std::string SystemText(DWORD code) {
  char text[512] = {};
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                 sizeof text, nullptr);
  return text;
}

#ifdef _WIN32
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

constexpr char kMissing[] = "<missing>";

std::string ArgumentText(std::int32_t n) {
  const tw::TempTextResult argument = tw::CommandLineArg(n);
  return argument.text != nullptr ? std::string(argument.text) : std::string(kMissing);
}

// ---- The argument walk over given command lines ----

struct LineCase {
  const char* line;
  std::vector<std::string> arguments;  // arguments 0, 1, ... then missing
};

const LineCase kLineCases[] = {
    {"prog w \"x y\" z", {"prog", "w", "x y", "z"}},
    {"\"C:\\Program Files\\My Tool\\tool.exe\" -v", {"C:\\Program Files\\My Tool\\tool.exe", "-v"}},
    {"p 'a b' #c d# !e! $f$ %g% &h&", {"p", "a b", "c d", "e", "f", "g", "h"}},
    {"p \"open", {"p"}},                            // no closing quote: missing
    {"p \"", {"p"}},                                // the line ends right after the quote
    {"p \"\" x\"", {"p", "\" x"}},                  // "" is not empty: the second quote is copied
    {"p \"\" x", {"p"}},                            // ... and then the closing quote is missing
    {"p a\tb\t\"c d\"", {"p", "a", "b", "c d"}},    // a tab ends an argument
    {"p \"a\tb\" c", {"p", kMissing, "b\"", "c"}},  // a quoted argument ended by a tab is
                                                    // missing; the walk goes on after the tab
    {"p a\x01"
     "b",
     {"p", "a", "b"}},                     // so do control characters 1 to 9
    {"p a\nb c", {"p", "a\nb", "c"}},      // 10 and above do not end an argument
    {"  \t\r\n p   q  ", {"p", "q"}},      // leading blanks and controls are skipped
    {"p x\"y z", {"p", "x\"y", "z"}},      // a quote inside an argument is a character
    {"p \"a\"b c", {"p", "a", "b", "c"}},  // the closing quote is consumed
    {"", {}},
    {"   ", {}},
};

class CommandLine : public ::testing::Test {
 protected:
  void TearDown() override { tw::testing::UseCommandLine(nullptr); }
};

TEST_F(CommandLine, EveryRuleOfTheArgumentWalk) {
  for (const LineCase& c : kLineCases) {
    tw::testing::UseCommandLine(c.line);
    const int count = static_cast<int>(c.arguments.size());
    for (int n = 0; n <= count + 1; ++n) {
      const std::string expected = n < count ? c.arguments[static_cast<std::size_t>(n)] : kMissing;
      EXPECT_EQ(ArgumentText(n), expected) << "line [" << c.line << "] argument " << n;
    }
  }
}

TEST_F(CommandLine, NegativeNumbersGiveArgumentZero) {
  tw::testing::UseCommandLine("first second");
  EXPECT_EQ(ArgumentText(-1), "first");
  EXPECT_EQ(ArgumentText(-2147483647 - 1), "first");
}

TEST_F(CommandLine, FoundArgumentIsANewTemporaryResult) {
  tw::testing::UseCommandLine("p argument");
  const tw::TempTextResult found = tw::CommandLineArg(1);
  ASSERT_NE(found.text, nullptr);
  EXPECT_EQ(found.slot->address, reinterpret_cast<std::uintptr_t>(found.text));
  EXPECT_EQ(found.slot->length, 8);
  EXPECT_EQ(tw::ResolveString(tw::kNewestResult).text, found.text);
}

// The bytes of a deferred zero-buffer record followed by "A"s as an argument:
// an ordinary argument, copied as it is.
TEST_F(CommandLine, AnArgumentThatBeginsWithTheRecordMarkerIsAText) {
  std::string bytes(2 * sizeof(tw::DeferredWord), '\0');
  const tw::DeferredWord words[] = {tw::kDeferredMarker, tw::kDeferredZeroBuffer};
  std::memcpy(&bytes[0], words, sizeof words);
  bytes += "AAAAAAAA";
  const std::string line = "p " + bytes;
  tw::testing::UseCommandLine(line.c_str());
  const tw::TempTextResult argument = tw::CommandLineArg(1);
  ASSERT_NE(argument.text, nullptr);
  EXPECT_EQ(tw::ResultDeferredRecord(argument.slot), nullptr);
  EXPECT_EQ(std::string(tw::ResultPersist()), bytes);
  tw::TextTrim(tw::kNewestResult, tw::kTrimBoth);
  EXPECT_EQ(std::string(tw::ResultPersist()), bytes);
}

TEST_F(CommandLine, MissingArgumentIsAddressZeroAndTheTextQuestionMark) {
  tw::testing::UseCommandLine("p");
  const tw::TempTextResult missing = tw::CommandLineArg(3);
  EXPECT_EQ(missing.text, nullptr);
  ASSERT_NE(missing.slot, nullptr);
  EXPECT_EQ(missing.slot->length, 1);
  EXPECT_STREQ(reinterpret_cast<const char*>(missing.slot->address), "?");
}

TEST_F(CommandLine, AnArgumentLongerThanTheAreaHoldsIsCut) {
  const std::string huge(200000, 'x');
  const std::string line = "p " + huge + " last \"" + huge + "\"";
  tw::testing::UseCommandLine(line.c_str());
  const tw::TempTextResult cut = tw::CommandLineArg(1);
  ASSERT_NE(cut.text, nullptr);
  EXPECT_EQ(cut.slot->length, static_cast<std::int32_t>(tw::kTempTextMaxBytes - 1));
  EXPECT_EQ(std::strlen(cut.text), tw::kTempTextMaxBytes - 1);
  const char* area = tw::TempTextArea();
  EXPECT_LE(cut.text + tw::kTempTextMaxBytes, area + tw::kTempTextAreaSize);
  EXPECT_EQ(ArgumentText(2), "last") << "the walk goes on past the cut";
  EXPECT_EQ(ArgumentText(3).size(), tw::kTempTextMaxBytes - 1);
  EXPECT_EQ(ArgumentText(4), kMissing);
}

TEST_F(CommandLine, TheProcessCommandLineStartsWithTheProgram) {
  const std::string zero = ArgumentText(0);
  EXPECT_NE(zero, kMissing);
  EXPECT_NE(zero.find("cmdline_test"), std::string::npos) << zero;
}

// ---- End to end, in a child copy of this program ----

constexpr char kChildVariable[] = "TW_CMDLINE_CHILD";

// In the child: prints arguments -1 to 5, separated by "|", and ends.
int PrintArgumentsIfChild() {
  const char* child = std::getenv(kChildVariable);
  if (child == nullptr || child[0] == '\0') return 0;
  std::string line;
  for (int n = -1; n <= 5; ++n) line += (n > -1 ? "|" : "") + ArgumentText(n);
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
  std::_Exit(0);
}
const int g_printed = PrintArgumentsIfChild();

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string Expected(const std::vector<std::string>& arguments) {
  std::string line = arguments.empty() ? kMissing : arguments[0];
  for (std::size_t n = 0; n <= 5; ++n)
    line += "|" + (n < arguments.size() ? arguments[n] : kMissing);
  return line;
}

#ifdef _WIN32
std::string ProgramPath() {
  char program[MAX_PATH];
  GetModuleFileNameA(nullptr, program, MAX_PATH);
  return program;
}

// Starts this program with the command line exactly as given.
std::string RunChildWithLine(std::string line) {
  const std::string outputPath = tw_test::TemporaryPath("cmdline-child");
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE output = CreateFileA(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = output;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process = {};
  SetEnvironmentVariableA(kChildVariable, "1");
  const std::string program = ProgramPath();
  const BOOL started = CreateProcessA(program.c_str(), &line[0], nullptr, nullptr, TRUE, 0, nullptr,
                                      nullptr, &startup, &process);
  SetEnvironmentVariableA(kChildVariable, nullptr);
  if (started) {
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  CloseHandle(output);
  const std::string printed = ReadWhole(outputPath);
  std::remove(outputPath.c_str());
  return printed;
}

TEST(CommandLineChild, LinesWrittenByTheParentComeBackArgumentByArgument) {
  const std::string program = ProgramPath();
  const std::string quoted = "\"" + program + "\"";
  struct Case {
    std::string line;
    std::vector<std::string> arguments;
  };
  const Case cases[] = {
      {quoted + " w \"x y\" z", {program, "w", "x y", "z"}},
      {quoted + " 'a b'\t#c d# e", {program, "a b", "c d", "e"}},
      {quoted + " \"open", {program}},
      {quoted + " \"\" x\"", {program, "\" x"}},
  };
  TW_SKIP_WITHOUT_CHILD_PROCESS();
  for (const Case& c : cases) {
    EXPECT_EQ(RunChildWithLine(c.line), Expected(c.arguments)) << c.line;
  }
}
#else
// Starts this program with the given argv (argv[0] included).
std::string RunChildWithArguments(const std::vector<std::string>& arguments) {
  const std::string outputPath = tw_test::TemporaryPath("cmdline-child");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  setenv(kChildVariable, "1", 1);
  pid_t child = 0;
  const int started = tw_test::SpawnThisProgram(&child, &actions, arguments);
  unsetenv(kChildVariable);
  posix_spawn_file_actions_destroy(&actions);
  if (started == 0) {
    int status = 0;
    waitpid(child, &status, 0);
  }
  const std::string printed = ReadWhole(outputPath);
  std::remove(outputPath.c_str());
  return printed;
}

TEST(CommandLineChild, ArgumentsComeBackUnchanged) {
  const std::vector<std::vector<std::string> > cases = {
      {"my test program", "w", "x y", "z"},
      {"p", "it's", "say \"hi\" 'now'", "#hash", "&", "100%"},
      {"p", "\"quoted\"", " lead", "trail "},
  };
  TW_SKIP_WITHOUT_CHILD_PROCESS();
  for (const std::vector<std::string>& arguments : cases) {
    EXPECT_EQ(RunChildWithArguments(arguments), Expected(arguments)) << arguments[1];
  }
}

TEST(CommandLineChild, EmptyArgumentsAndControlCharactersHaveStandIns) {
  TW_SKIP_WITHOUT_CHILD_PROCESS();
  // An empty argument cannot be written so that the walk reads it back: it
  // comes back as one double quote, and the later arguments keep their
  // numbers. Characters 1 to 9 would end an argument: they come back as spaces.
  EXPECT_EQ(RunChildWithArguments({"p", "", "next", "tab\there"}),
            Expected({"p", "\"", "next", "tab here"}));
}
#endif

// ---- ResourceText ----

std::u16string WideText(const char* text) {
  std::u16string wide;
  for (const char16_t* at = reinterpret_cast<const char16_t*>(text); *at != 0; ++at) wide += *at;
  return wide;
}

TEST(ResourceText, MissingStringsGiveRQuestionMark) {
  for (std::int32_t id : {9999, 65535, 65536, 2147483647}) {
    const char* text = tw::ResourceText(id);
    EXPECT_STREQ(text, "R?") << id;
    EXPECT_EQ(tw::ResolveString(tw::kNewestResult).text, text);
    EXPECT_EQ(tw::ResolveString(tw::kNewestResult).length, 2);
  }
  for (std::int32_t id : {-9999, -65536, -2147483647 - 1}) {
    const char* text = tw::ResourceText(id);
    EXPECT_EQ(WideText(text), u"R?") << id;
    EXPECT_EQ(tw::ResultSlotAt(tw::CurrentResultSlot())->length, 4) << "two UTF-16 units";
  }
}

#ifdef _WIN32
TEST(ResourceText, StringsOfTheProgramInAnsiAndUtf16) {
  EXPECT_STREQ(tw::ResourceText(7), "seven");
  EXPECT_EQ(tw::ResultSlotAt(tw::CurrentResultSlot())->length, 5);
  EXPECT_STREQ(tw::ResourceText(300), "three hundred");
  const char* wide = tw::ResourceText(-7);
  EXPECT_EQ(WideText(wide), u"seven");
  EXPECT_EQ(tw::ResultSlotAt(tw::CurrentResultSlot())->length, 10);
}
#else
TEST(ResourceText, NativeProgramsHaveNoStrings) {
  // The same numbers that the Windows lane finds in cmdline_test.rc.
  EXPECT_STREQ(tw::ResourceText(7), "R?");
  EXPECT_EQ(WideText(tw::ResourceText(-7)), u"R?");
}
#endif

// ---- DeferredFileRead ----

std::string FreshFolder() {
  const std::string folder = tw_test::TemporaryPath("deferred");
  std::filesystem::create_directories(folder);
  return folder;
}

void WriteWhole(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

class Deferred : public ::testing::Test {
 protected:
  void SetUp() override { folder_ = FreshFolder(); }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  std::string Make(const std::string& name, const std::string& bytes) {
    const std::string path = folder_ + kSeparator + name;
    WriteWhole(path, bytes);
    return path;
  }
  std::string folder_;
};

tw::DeferredWord RecordWord(const char* record, int index) {
  tw::DeferredWord word;
  std::memcpy(&word, record + index * sizeof word, sizeof word);
  return word;
}

TEST_F(Deferred, RecordNamesTheFileAndCarriesItsSize) {
  const std::string name = Make("d.txt", "hello deferred");
  const tw::TempTextResult record = tw::DeferredFileRead(name.c_str());
  ASSERT_NE(record.text, nullptr);
  EXPECT_EQ(tw::ResultDeferredRecord(record.slot), record.text);
  EXPECT_EQ(RecordWord(record.text, 0), tw::kDeferredMarker);
  EXPECT_EQ(RecordWord(record.text, 1), tw::kDeferredFileRead);
  EXPECT_EQ(RecordWord(record.text, 2), reinterpret_cast<tw::DeferredWord>(name.c_str()));
  EXPECT_EQ(RecordWord(record.text, 3), 14);
  EXPECT_EQ(record.slot->address, reinterpret_cast<std::uintptr_t>(record.text));
  EXPECT_EQ(record.slot->length, 14);

  char buffer[32];
  std::memset(buffer, '-', sizeof buffer);
  const char* end = tw::DeferredMaterialise(record.text, buffer);
  EXPECT_EQ(end, buffer + 14);
  EXPECT_EQ(std::string(buffer, 15), "hello deferred-");
  EXPECT_EQ(tw::FileSlotHandle(tw::kDeferredReadSlot), nullptr) << "slot 10 is closed again";
}

TEST_F(Deferred, ReadAsTextTheRecordGivesTheFilesBytes) {
  const std::string name = Make("text.txt", "line one\nline two");
  tw::DeferredFileRead(name.c_str());
  EXPECT_STREQ(tw::ResultPersist(), "line one\nline two");
  const tw::TempTextResult record = tw::DeferredFileRead(name.c_str());
  tw::TextTrim(tw::kNewestResult, tw::kTrimBoth);
  EXPECT_EQ(tw::ResultDeferredRecord(record.slot), nullptr) << "the slot now holds the text";
  EXPECT_STREQ(reinterpret_cast<const char*>(record.slot->address), "line one\nline two");
}

// The name is an old temporary text lying where the record goes: the record
// must not overwrite it.
TEST_F(Deferred, ANameWhereTheRecordGoesIsKept) {
  const std::string name = Make("kept.txt", "kept");
  tw::TempTextReset();
  char* inArea = tw::TempTextReserve(static_cast<std::uint32_t>(name.size()) + 1);
  std::memcpy(inArea, name.c_str(), name.size() + 1);
  tw::TempTextEnd(inArea + name.size(), tw::kSlotNext);
  tw::TempTextEnd(tw::TempTextArea() + tw::kTempTextWrapPoint - 4, tw::kSlotNext);
  ASSERT_EQ(tw::TempTextBegin(), inArea) << "the position has wrapped to the name";
  const tw::TempTextResult record = tw::DeferredFileRead(inArea);
  EXPECT_STREQ(reinterpret_cast<const char*>(RecordWord(record.text, 2)), name.c_str());
  EXPECT_STREQ(tw::ResultPersist(), "kept");
}

TEST_F(Deferred, EmptyFileHasLengthZeroAndProducesNothing) {
  const std::string name = Make("empty.txt", "");
  const tw::TempTextResult record = tw::DeferredFileRead(name.c_str());
  EXPECT_EQ(record.slot->length, 0);
  char buffer[4] = {'-', '-', '-', '-'};
  EXPECT_EQ(tw::DeferredMaterialise(record.text, buffer), buffer);
  EXPECT_EQ(std::string(buffer, 4), "----");
}

TEST_F(Deferred, AFileThatShrankLeavesZerosUpToTheRecordedSize) {
  const std::string name = Make("shrinks.txt", std::string(100, 'a'));
  const tw::TempTextResult record = tw::DeferredFileRead(name.c_str());
  WriteWhole(name, "0123456789");
  char buffer[101];
  std::memset(buffer, '-', sizeof buffer);
  EXPECT_EQ(tw::DeferredMaterialise(record.text, buffer), buffer + 10);
  EXPECT_EQ(std::string(buffer, 10), "0123456789");
  EXPECT_EQ(std::string(buffer + 10, 90), std::string(90, '\0'));
  EXPECT_EQ(buffer[100], '-') << "nothing past the recorded size";
}

TEST_F(Deferred, AFileThatGrewGivesOnlyTheRecordedSize) {
  const std::string name = Make("grows.txt", "abc");
  const tw::TempTextResult record = tw::DeferredFileRead(name.c_str());
  WriteWhole(name, "abcdefghij");
  char buffer[8];
  std::memset(buffer, '-', sizeof buffer);
  EXPECT_EQ(tw::DeferredMaterialise(record.text, buffer), buffer + 3);
  EXPECT_EQ(std::string(buffer, 4), "abc-");
}

// A pattern reads the file the search found first: the record names that
// file's path (kept in the record after its four words) and carries its size,
// so what is read is what the size was taken from.
TEST_F(Deferred, APatternReadsTheFirstMatchAndRecordsItsPath) {
  Make("one.txt", "first file");
  Make("two.txt", "the second file");
  Make("other.dat", "not a match");
  const std::string pattern = folder_ + kSeparator + "*.txt";
  const tw::TempTextResult record = tw::DeferredFileRead(pattern.c_str());
  const tw::DeferredWord own =
      reinterpret_cast<tw::DeferredWord>(record.text + 4 * sizeof(tw::DeferredWord));
  ASSERT_EQ(RecordWord(record.text, 2), own) << "the record names the path it holds";
  const std::string path = record.text + 4 * sizeof(tw::DeferredWord);
  const std::string first = tw::FileFindData().cFileName;
  EXPECT_EQ(path, folder_ + kSeparator + first);
  const std::string content = first == "one.txt" ? "first file" : "the second file";
  EXPECT_EQ(RecordWord(record.text, 3), static_cast<tw::DeferredWord>(content.size()));
  EXPECT_EQ(record.slot->length, static_cast<std::int32_t>(content.size()));
  char buffer[32] = {};
  EXPECT_EQ(tw::DeferredMaterialise(record.text, buffer), buffer + content.size());
  EXPECT_EQ(std::string(buffer), content);

  // A pattern with ? and a pattern without a folder part work alike.
  const std::string single = folder_ + kSeparator + "tw?.txt";
  const tw::TempTextResult second = tw::DeferredFileRead(single.c_str());
  std::memset(buffer, 0, sizeof buffer);
  tw::DeferredMaterialise(second.text, buffer);
  EXPECT_EQ(std::string(buffer), "the second file");
  EXPECT_EQ(tw::ResultDeferredRecord(second.slot), second.text);
  EXPECT_STREQ(tw::ResultPersist(), "the second file") << "read as text by the library";
}

// Fatal errors end the process: they run in child processes.
std::string ChildFile(const char* name, const char* bytes) {
  static std::string folder;
  if (folder.empty()) folder = FreshFolder();
  const std::string path = folder + kSeparator + name;
  if (bytes != nullptr) WriteWhole(path, bytes);
  return path;
}

void DeferredReadOfMissingFile() {
  tw::DeferredFileRead("no-such-deferred-file.txt");
}

void DeferredReadOfFileRemovedBeforeUse() {
  static const std::string name = ChildFile("removed.txt", "soon gone");
  const tw::TempTextResult record = tw::DeferredFileRead(name.c_str());
  std::remove(name.c_str());
  char buffer[16];
  tw::DeferredMaterialise(record.text, buffer);
}

void DeferredReadOfSubfolder() {
  static const std::string name = ChildFile("sub", nullptr);
  std::filesystem::create_directories(name);
  tw::DeferredFileRead(name.c_str());
}

void DeferredReadOfCurrentFolder() {
  tw::DeferredFileRead(".");
}

// The first (and only) match of the pattern is a folder.
void DeferredReadOfPatternNamingAFolder() {
  static const std::string folder = ChildFile("holder", nullptr);
  std::filesystem::create_directories(folder + kSeparator + "notes.txt");
  static const std::string pattern = folder + kSeparator + "*.txt";
  tw::DeferredFileRead(pattern.c_str());
}

void DeferredReadOfOverlongName() {
  static const std::string name(400, 'n');
  tw::DeferredFileRead(name.c_str());
}

const tw_test::Scenario kScenarios[] = {
    {"deferred-missing", DeferredReadOfMissingFile},
    {"deferred-removed", DeferredReadOfFileRemovedBeforeUse},
    {"deferred-overlong", DeferredReadOfOverlongName},
    {"deferred-subfolder", DeferredReadOfSubfolder},
    {"deferred-dot", DeferredReadOfCurrentFolder},
    {"deferred-pattern-folder", DeferredReadOfPatternNamingAFolder},
};
const int g_child =
    tw_test::RunScenarioIfChild(kScenarios, sizeof kScenarios / sizeof kScenarios[0]);

TEST(DeferredFatal, MissingFileIsFatalErrorFiveWithTheName) {
  TW_SKIP_WITHOUT_CHILD_PROCESS();
  const tw_test::ChildResult child = tw_test::RunChild("deferred-missing");
  EXPECT_EQ(child.exitCode, -5);
  EXPECT_NE(
      child.error.find("Could not open\nno-such-deferred-file.txt\nfor Recall, FileRead$ etc."),
      std::string::npos)
      << child.error;
}

TEST(DeferredFatal, FileRemovedBeforeUseIsTheLastErrorFailure) {
  TW_SKIP_WITHOUT_CHILD_PROCESS();
  const tw_test::ChildResult child = tw_test::RunChild("deferred-removed");
  EXPECT_EQ(child.exitCode, 1) << "error 0 ends with 1";
  EXPECT_NE(child.error.find("GetLastError (line ?\?):\r\n" + SystemText(ERROR_FILE_NOT_FOUND)),
            std::string::npos)
      << child.error;
}

// A folder is not a file: like a file that cannot be opened, it is fatal
// error 5 when the read is recorded, not a record that fails later.
TEST(DeferredFatal, FoldersAreFatalErrorFive) {
  TW_SKIP_WITHOUT_CHILD_PROCESS();
  struct Case {
    const char* scenario;
    const char* shown;  // the end of the name in the message
  };
  static const Case kCases[] = {
      {"deferred-subfolder", "sub\n"},
      {"deferred-dot", "\n.\n"},
      {"deferred-pattern-folder", "*.txt\n"},
  };
  for (const Case& c : kCases) {
    const tw_test::ChildResult child = tw_test::RunChild(c.scenario);
    EXPECT_EQ(child.exitCode, -5) << c.scenario;
    EXPECT_NE(child.error.find("Could not open\n"), std::string::npos) << child.error;
    EXPECT_NE(child.error.find(std::string(c.shown) + "for Recall, FileRead$ etc."),
              std::string::npos)
        << child.error;
  }
}

TEST(DeferredFatal, OverlongNameIsFatalErrorFive) {
  TW_SKIP_WITHOUT_CHILD_PROCESS();
  const tw_test::ChildResult child = tw_test::RunChild("deferred-overlong");
  EXPECT_EQ(child.exitCode, -5);
  EXPECT_NE(child.error.find("Could not open\nnnnnnnnnnnnnnnn"), std::string::npos) << child.error;
}

}  // namespace
