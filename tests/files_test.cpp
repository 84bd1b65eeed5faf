// File slots and file queries: closing, opening for reading (with path
// search) and writing (append, update, create), reading, touching, the
// file-message buffer, existence with patterns, sizes (above 4 GiB too) and
// whole-file comparison. Every test works in a fresh temporary folder; the
// fatal errors run in child processes.
#include "support/files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif

#include "support/errors.h"
#include "tools/capture.h"
#include "tools/child.h"
#include "tools/kernels.h"
#include "tools/whole_file.h"

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

using tw_test::ReadWhole;
using tw_test::WriteWhole;

std::string FreshFolder() {
  const std::string folder = tw_test::TemporaryPath("files");
  std::filesystem::create_directories(folder);
  return folder;
}

HANDLE Invalid() {
  return INVALID_HANDLE_VALUE;
}

void WriteThrough(HANDLE file, const std::string& bytes) {
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
  ASSERT_EQ(written, bytes.size());
}

std::int64_t Ticks(const FILETIME& time) {
  return static_cast<std::int64_t>((std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime);
}

std::int64_t NowTicks() {
  SYSTEMTIME now;
  GetSystemTime(&now);
  FILETIME time;
  SystemTimeToFileTime(&now, &time);
  return Ticks(time);
}

class Files : public ::testing::Test {
 protected:
  void SetUp() override {
    tw::FileClose(tw::kCloseAllSlots);
    folder_ = FreshFolder();
  }
  void TearDown() override {
    tw::FileClose(tw::kCloseAllSlots);
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  std::string Path(const std::string& name) const { return folder_ + kSeparator + name; }
  std::string Make(const std::string& name, const std::string& bytes) const {
    WriteWhole(Path(name), bytes);
    return Path(name);
  }
  std::string folder_;
};

// ---- FileClose ----

TEST_F(Files, CloseAllClosesEverySlotAndClearsEveryModeByte) {
  const std::string a = Make("a.txt", "a");
  const std::string b = Make("b.txt", "b");
  ASSERT_NE(tw::FileOpenWrite(3, a.c_str(), 'u'), Invalid());
  ASSERT_NE(tw::FileOpenRead(9, b.c_str(), tw::kSearchNone), Invalid());
  EXPECT_EQ(tw::FileSlotMode(3), tw::kSlotWritten);
  tw::FileClose(tw::kCloseAllSlots);
  for (int slot = 0; slot < tw::kFileSlotCount; ++slot) {
    EXPECT_EQ(tw::FileSlotHandle(slot), nullptr) << slot;
    EXPECT_EQ(tw::FileSlotMode(slot), 0u) << slot;
  }
  // Both files are really closed: an open that shares nothing succeeds.
  for (const std::string& name : {a, b}) {
    HANDLE alone = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(alone, Invalid()) << name;
    CloseHandle(alone);
  }
}

TEST_F(Files, CloseOneSlotLeavesTheOthersAndIgnoresNumbersOutsideTheTable) {
  const std::string a = Make("a.txt", "a");
  HANDLE three = tw::FileOpenRead(3, a.c_str(), tw::kSearchNone);
  HANDLE four = tw::FileOpenRead(4, a.c_str(), tw::kSearchNone);
  tw::FileClose(3);
  EXPECT_EQ(tw::FileSlotHandle(3), nullptr);
  EXPECT_EQ(tw::FileSlotHandle(4), four);
  EXPECT_NE(three, four);
  for (int outside : {-1, 12, 1000, -2147483647 - 1}) tw::FileClose(outside);
  EXPECT_EQ(tw::FileSlotHandle(4), four);
  EXPECT_EQ(tw::FileSlotHandle(12), nullptr);
}

// ---- FileOpenRead ----

TEST_F(Files, OpenReadByNameAndReadThroughTheSlot) {
  const std::string a = Make("a.txt", "abcdef");
  HANDLE file = tw::FileOpenRead(0, a.c_str(), tw::kSearchNone);
  ASSERT_NE(file, Invalid());
  EXPECT_EQ(tw::FileSlotHandle(0), file);
  EXPECT_EQ(tw::FileSlotMode(0), 0u) << "opening for reading leaves the mode byte";
  char buffer[16] = {};
  const tw::FileReadResult first = tw::FileReadSlot(0, buffer, 4);
  EXPECT_EQ(first.count, 4);
  EXPECT_EQ(first.buffer, buffer);
  EXPECT_EQ(std::string(buffer, 4), "abcd");
  EXPECT_EQ(tw::FileReadSlot(0, buffer, 16).count, 2) << "the rest";
  EXPECT_EQ(tw::FileReadSlot(0, buffer, 16).count, 0) << "end of file";
}

TEST_F(Files, SearchThatFindsNothingLeavesTheMessageAsItWas) {
  tw::FileOpenWrite(1, Path("no-folder/x.txt").c_str(), 'O');
  const std::string before = tw::FileMessage();
  ASSERT_NE(before, "");
  EXPECT_EQ(tw::FileOpenRead(2, "tw-surely-nowhere-4711.none", tw::kSearchSystem), Invalid());
  EXPECT_EQ(tw::FileSlotHandle(2), Invalid());
  EXPECT_EQ(tw::FileOpenRead(2, "a.txt", tw::FolderList(folder_.c_str())), Invalid());
  EXPECT_EQ(tw::FileMessage(), before);
}

TEST_F(Files, FoundButUnopenableLeavesFileNotFoundAndTheNameAsGiven) {
  // A file held open for writing cannot be opened for reading beside it.
  const std::string held = Make("held.txt", "x");
  ASSERT_NE(tw::FileOpenWrite(5, held.c_str(), 'u'), Invalid());
  EXPECT_EQ(tw::FileOpenRead(6, "held.txt", tw::FolderList(folder_.c_str())), Invalid());
  EXPECT_EQ(tw::FileSlotHandle(6), Invalid());
  EXPECT_STREQ(tw::FileMessage(), "File not found: held.txt");
  EXPECT_EQ(tw::FileOpenRead(6, held.c_str(), tw::kSearchSystem), Invalid());
  EXPECT_EQ(tw::FileMessage(), "File not found: " + held);
}

TEST_F(Files, FolderListIsSearchedInOrder) {
  std::filesystem::create_directories(Path("one"));
  std::filesystem::create_directories(Path("two"));
  WriteWhole(Path("two") + kSeparator + "f.txt", "second");
  const std::string list = Path("missing") + ";" + Path("one") + ";" + Path("two");
  ASSERT_NE(tw::FileOpenRead(7, "f.txt", tw::FolderList(list.c_str())), Invalid());
  char buffer[8] = {};
  EXPECT_EQ(tw::FileReadSlot(7, buffer, 8).count, 6);
  EXPECT_EQ(std::string(buffer, 6), "second");
  WriteWhole(Path("one") + kSeparator + "f.txt", "first");
  ASSERT_NE(tw::FileOpenRead(7, "f.txt", tw::FolderList(list.c_str())), Invalid());
  EXPECT_EQ(tw::FileReadSlot(7, buffer, 8).count, 5);
}

TEST_F(Files, SearchResultLongerThanMaxPathCountsAsNotFound) {
  // The folder itself fits in MAX_PATH; the file's full path does not.
  std::string deep = folder_;
  while (deep.size() < MAX_PATH - 20) deep += std::string(1, kSeparator) + "dddddddddd";
  ASSERT_TRUE(std::filesystem::create_directories(deep));
  const std::string name = std::string(40, 'n') + ".txt";
  WriteWhole(deep + kSeparator + name, "x");
  ASSERT_TRUE(std::filesystem::exists(deep + kSeparator + name));
  tw::FileOpenWrite(1, Path("no-folder/x.txt").c_str(), 'O');
  const std::string before = tw::FileMessage();
  EXPECT_EQ(tw::FileOpenRead(2, name.c_str(), tw::FolderList(deep.c_str())), Invalid());
  EXPECT_EQ(tw::FileMessage(), before);
}

TEST_F(Files, MissingFilesFoldersAndOverlongNamesFailWithTheirMessage) {
  const std::string longName = Path(std::string(300, 'L'));
  const std::string names[] = {Path("missing.txt"), Path("no-folder") + kSeparator + "x.txt",
                               longName, ""};
  for (const std::string& name : names) {
    EXPECT_EQ(tw::FileOpenRead(4, name.c_str(), tw::kSearchNone), Invalid()) << name;
    EXPECT_EQ(tw::FileMessage(), "File not found: " + name);
    EXPECT_EQ(tw::FileOpenRead(4, name.c_str(), tw::kSearchSystem), Invalid()) << name;
  }
  EXPECT_EQ(tw::FileOpenWrite(4, longName.c_str(), 'O'), Invalid());
  EXPECT_EQ(tw::FileMessage(), "Could not open " + longName);
}

TEST_F(Files, SlotNumbersOutsideTheTableFailAndTouchNothing) {
  const std::string a = Make("a.txt", "abc");
  for (int outside : {-1, 11, 12, 255, -2147483647 - 1}) {
    EXPECT_EQ(tw::FileOpenRead(outside, a.c_str(), tw::kSearchNone), Invalid()) << outside;
    EXPECT_EQ(tw::FileOpenWrite(outside, a.c_str(), 'O'), Invalid()) << outside;
    char buffer[4] = {'-', '-', '-', '-'};
    const tw::FileReadResult read = tw::FileReadSlot(outside, buffer, 3);
    EXPECT_EQ(read.count, 0);
    EXPECT_EQ(read.buffer, buffer);
    EXPECT_EQ(tw::FileSize(outside), -1);
    EXPECT_EQ(tw::FileSlotHandle(outside), nullptr);
    EXPECT_EQ(tw::FileSlotMode(outside), 0u);
  }
  EXPECT_EQ(ReadWhole(a), "abc") << "no open for writing happened";
  for (int slot = 0; slot < tw::kFileSlotCount; ++slot) {
    EXPECT_EQ(tw::FileSlotHandle(slot), nullptr);
  }
}

// ---- FileOpenWrite ----

struct WriteCase {
  int mode;
  const char* before;  // nullptr: the file does not exist
  const char* written;
  const char* after;
};

TEST_F(Files, WriteModesAppendUpdateOrCreateAnew) {
  static const WriteCase kCases[] = {
      {'a', "hello", " world", "hello world"},  // kept, written at the end
      {'A', "hello", "!", "hello!"},
      {'u', "hello", "J", "Jello"},  // kept, written from the start
      {'U', "hello", "HE", "HEllo"},
      {'O', "hello", "x", "x"},  // emptied
      {'o', "hello", "", ""},
      {'z', "hello", "y", "y"},  // any other value creates anew
      {'a', nullptr, "new", "new"},
      {'u', nullptr, "new", "new"},
      {'O', nullptr, "new", "new"},
  };
  int serial = 0;
  for (const WriteCase& c : kCases) {
    const std::string name = Path("w" + std::to_string(++serial));
    if (c.before != nullptr) WriteWhole(name, c.before);
    HANDLE file = tw::FileOpenWrite(8, name.c_str(), c.mode);
    ASSERT_NE(file, Invalid()) << static_cast<char>(c.mode);
    EXPECT_EQ(tw::FileSlotMode(8), tw::kSlotWritten);
    WriteThrough(file, c.written);
    tw::FileClose(8);
    EXPECT_EQ(tw::FileSlotMode(8), 0u);
    EXPECT_EQ(ReadWhole(name), c.after) << static_cast<char>(c.mode) << " " << serial;
  }
}

TEST_F(Files, FailedOpenForWritingLeavesCouldNotOpenAndTheModeByte) {
  const std::string name = Path("no-folder") + kSeparator + "out.txt";
  EXPECT_EQ(tw::FileOpenWrite(2, name.c_str(), 'O'), Invalid());
  EXPECT_EQ(tw::FileSlotHandle(2), Invalid());
  EXPECT_EQ(tw::FileSlotMode(2), tw::kSlotWritten);
  EXPECT_EQ(tw::FileMessage(), "Could not open " + name);
  EXPECT_EQ(tw::FileOpenWrite(2, folder_.c_str(), 'a'), Invalid()) << "a folder";
  tw::FileClose(2);
  EXPECT_EQ(tw::FileSlotHandle(2), nullptr);
}

TEST_F(Files, OpeningAnOpenSlotAgainReplacesTheHandleWithoutClosingIt) {
  const std::string a = Path("a.txt");
  const std::string b = Path("b.txt");
  HANDLE first = tw::FileOpenWrite(5, a.c_str(), 'O');
  ASSERT_NE(first, Invalid());
  HANDLE second = tw::FileOpenWrite(5, b.c_str(), 'O');
  ASSERT_NE(second, Invalid());
  EXPECT_NE(first, second);
  EXPECT_EQ(tw::FileSlotHandle(5), second);
  WriteThrough(first, "still open");
  EXPECT_TRUE(CloseHandle(first));
  EXPECT_EQ(ReadWhole(a), "still open");
}

TEST_F(Files, UserBitsOfTheModeByteAreKeptByAnOpenAndClearedByClose) {
  tw::SetFileSlotMode(6, tw::kSlotBomDue | 0x100);
  ASSERT_NE(tw::FileOpenWrite(6, Path("m.txt").c_str(), 'O'), Invalid());
  EXPECT_EQ(tw::FileSlotMode(6), 0x17Fu) << "bits 0 to 6 set, the rest kept";
  tw::FileClose(6);
  EXPECT_EQ(tw::FileSlotMode(6), 0u);
}

// ---- FileReadSlot ----

TEST_F(Files, ReadingAClosedSlotReadsNothing) {
  char buffer[4] = {'-', '-', '-', '-'};
  const tw::FileReadResult read = tw::FileReadSlot(3, buffer, 4);
  EXPECT_EQ(read.count, 0);
  EXPECT_EQ(std::string(buffer, 4), "----");
}

// ---- FileTouch ----

TEST_F(Files, TouchSetsTheThreeTimesToOneMoment) {
  const std::string name = Make("t.txt", "t");
  HANDLE file = tw::FileOpenWrite(1, name.c_str(), 'u');
  ASSERT_NE(file, Invalid());
  // An old write time first, so that the touch is seen to move it.
  FILETIME old = {0, 0x01B00000};
  ASSERT_TRUE(SetFileTime(file, nullptr, &old, &old));
  const std::int64_t before = NowTicks();
  tw::FileTouch(file, 1);
  const std::int64_t after = NowTicks();
  tw::FileClose(1);
  WIN32_FILE_ATTRIBUTE_DATA data;
  ASSERT_TRUE(GetFileAttributesExA(name.c_str(), GetFileExInfoStandard, &data));
  const std::int64_t write = Ticks(data.ftLastWriteTime);
  EXPECT_EQ(Ticks(data.ftLastAccessTime), write);
  EXPECT_GE(write, before);
  EXPECT_LE(write, after);
#ifdef _WIN32
  EXPECT_EQ(Ticks(data.ftCreationTime), write);
#else
  // POSIX keeps no settable creation time (see compat/win32.h): natively the
  // creation time is the file's birth time, a moment of this test.
  EXPECT_GE(Ticks(data.ftCreationTime), before - 10000000);
  EXPECT_LE(Ticks(data.ftCreationTime), after + 10000) << "within the millisecond of the clock";
#endif
}

TEST_F(Files, NonStrictTouchThatFailsPassesSilently) {
  tw::FileTouch(tw::FileSlotHandle(1), 0);
  tw::FileTouch(nullptr, 0);
  EXPECT_EQ(tw::FileSlotHandle(1), nullptr);
}

// ---- FileExists ----

TEST_F(Files, ExistsFindsNamesAndPatternsAndKeepsTheFirstMatch) {
  Make("b.txt", "bb");
  Make("a.txt", "a");
  Make("c.dat", "cccc");
  EXPECT_NE(tw::FileExists(Path("c.dat").c_str(), 1), 0);
  EXPECT_STREQ(tw::FileFindData().cFileName, "c.dat");
  EXPECT_EQ(tw::FileFindData().nFileSizeLow, 4u);
  EXPECT_EQ(tw::FileFindHandle(), nullptr) << "closed at once";

  ASSERT_NE(tw::FileExists(Path("*.txt").c_str(), 1), 0);
  const std::string first = tw::FileFindData().cFileName;
  ASSERT_TRUE(first == "a.txt" || first == "b.txt") << first;
  EXPECT_EQ(tw::FileFindData().nFileSizeLow, first == "a.txt" ? 1u : 2u);

  EXPECT_NE(tw::FileExists(Path("?.dat").c_str(), 1), 0);
  EXPECT_STREQ(tw::FileFindData().cFileName, "c.dat");
  EXPECT_NE(tw::FileExists(Path("*").c_str(), 1), 0);
  EXPECT_NE(tw::FileExists(folder_.c_str(), 1), 0) << "a folder exists too";
  EXPECT_NE(tw::FileFindData().dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);

  const std::string missing[] = {Path("d.txt"), Path("??.dat"), Path("*.none"),
                                 Path("no-folder") + kSeparator + "*", Path(std::string(300, 'x'))};
  for (const std::string& pattern : missing) {
    EXPECT_EQ(tw::FileExists(pattern.c_str(), 0), 0) << pattern;
    EXPECT_EQ(tw::FileFindHandle(), nullptr);
  }
}

TEST_F(Files, ExistsKeepsTheSearchOpenWhenAskedAndClosesItNextTime) {
  Make("a.txt", "a");
  ASSERT_NE(tw::FileExists(Path("a.txt").c_str(), 0), 0);
  EXPECT_NE(tw::FileFindHandle(), nullptr);
  EXPECT_NE(tw::FileFindHandle(), Invalid());
  EXPECT_NE(tw::FileExists(Path("*.txt").c_str(), 0), 0);
  EXPECT_NE(tw::FileFindHandle(), nullptr);
  EXPECT_EQ(tw::FileExists(Path("b.txt").c_str(), 1), 0);
  EXPECT_EQ(tw::FileFindHandle(), nullptr);
}

// ---- FileSize ----

TEST_F(Files, SizeByNameAndBySlot) {
  const std::string name = Make("s.txt", std::string(12345, 's'));
  EXPECT_EQ(tw::FileSize(name.c_str()), 12345);
  ASSERT_NE(tw::FileOpenRead(2, name.c_str(), tw::kSearchNone), Invalid());
  EXPECT_EQ(tw::FileSize(2), 12345);
  EXPECT_EQ(tw::FileSize(Make("empty", "").c_str()), 0);
  EXPECT_EQ(tw::FileSize(Path("missing").c_str()), -1);
  EXPECT_EQ(tw::FileSize(static_cast<const char*>(nullptr)), -1);
  EXPECT_EQ(tw::FileSize(3), -1) << "a closed slot";
}

TEST_F(Files, SizeAbove4GiBHasTheRightHighHalf) {
  // A sparse file: one byte written 4 GiB + 10 bytes into it.
  const std::string name = Path("big.bin");
  HANDLE file = tw::FileOpenWrite(4, name.c_str(), 'O');
  ASSERT_NE(file, Invalid());
  LONG high = 1;
  SetLastError(0);
  ASSERT_EQ(SetFilePointer(file, 10, &high, FILE_BEGIN), 10u);
  WriteThrough(file, "x");
  const std::int64_t expected = (std::int64_t{1} << 32) + 11;
  EXPECT_EQ(tw::FileSize(4), expected);
  tw::FileClose(4);
  const std::int64_t size = tw::FileSize(name.c_str());
  EXPECT_EQ(size, expected);
  EXPECT_EQ(static_cast<std::uint32_t>(size >> 32), 1u);
  EXPECT_EQ(static_cast<std::uint32_t>(size), 11u);
  EXPECT_NE(tw::FileExists(name.c_str(), 1), 0);
  EXPECT_EQ(tw::FileFindData().nFileSizeHigh, 1u);
  EXPECT_EQ(tw::FileFindData().nFileSizeLow, 11u);
  std::filesystem::remove(name);
}

// ---- FileCompare ----

std::string Pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>('a' + (i * 7) % 26);
  return bytes;
}

// The comparisons run once per kernel set.
TW_PER_KERNEL_FIXTURE(FilesCompare, Files);

TEST_P(FilesCompare, CompareEqualFilesGivesZeroAndTheirSize) {
  for (std::size_t size : {0, 1, 15, 16, 4095, 4096, 4097, 8192, 10000}) {
    const std::string a = Make("a", Pattern(size));
    const std::string b = Make("b", Pattern(size));
    const tw::FileCompareResult result = tw::FileCompare(a.c_str(), b.c_str(), tw::kCompareExact);
    EXPECT_EQ(result.difference, 0) << size;
    EXPECT_EQ(result.position, static_cast<std::int64_t>(size)) << size;
    EXPECT_EQ(tw::FileSlotHandle(9), nullptr);
    EXPECT_EQ(tw::FileSlotHandle(10), nullptr);
  }
}

TEST_P(FilesCompare, CompareFindsTheFirstDifferenceAndItsPosition) {
  struct Case {
    std::size_t size;
    std::size_t at;
  };
  for (const Case& c : {Case{10000, 5000}, Case{10000, 0}, Case{10000, 9999}, Case{4096, 4095},
                        Case{8192, 4096}, Case{17, 16},
                        // each 64-byte group of a 256-byte step, at its first and last byte
                        Case{4096, 63}, Case{4096, 64}, Case{4096, 191}, Case{4096, 192},
                        Case{4096, 255}, Case{4096, 256}, Case{300, 299}}) {
    std::string second = Pattern(c.size);
    const std::string first = second;
    second[c.at] = static_cast<char>(0xF0);
    const std::string a = Make("a", first);
    const std::string b = Make("b", second);
    const tw::FileCompareResult result = tw::FileCompare(a.c_str(), b.c_str(), tw::kCompareExact);
    EXPECT_EQ(result.position, static_cast<std::int64_t>(c.at)) << c.size;
    EXPECT_EQ(result.difference, static_cast<unsigned char>(first[c.at]) - 0xF0) << c.size;
  }
}

TEST_P(FilesCompare, CompareIgnoringCaseSetsBitFiveOnBothSides) {
  const std::string a = Make("a", "Hello, World " + Pattern(5000));
  const std::string b = Make("b", "hELLO, wORLD " + Pattern(5000));
  const tw::FileCompareResult folded =
      tw::FileCompare(a.c_str(), b.c_str(), tw::kCompareIgnoreCase);
  EXPECT_EQ(folded.difference, 0);
  EXPECT_EQ(folded.position, 5013);
  const tw::FileCompareResult exact = tw::FileCompare(a.c_str(), b.c_str(), tw::kCompareExact);
  EXPECT_EQ(exact.difference, 'H' - 'h');
  EXPECT_EQ(exact.position, 0);
  const tw::FileCompareResult other = tw::FileCompare(a.c_str(), b.c_str(), 2);
  EXPECT_EQ(other.difference, 'H' - 'h') << "modes other than 1 are exact";
  // Bit 5 also pairs characters that are not letters.
  const std::string c = Make("c", "@[");
  const std::string d = Make("d", "`{");
  EXPECT_EQ(tw::FileCompare(c.c_str(), d.c_str(), tw::kCompareIgnoreCase).difference, 0);
}

TEST_P(FilesCompare, CompareFilesOfDifferentSizes) {
  struct Case {
    std::string first;
    std::string second;
    std::int32_t difference;
    std::int64_t position;
  };
  const std::string long4097 = Pattern(4097);
  const Case cases[] = {
      {"abc", "abcd", -'d', 3},  // the shorter is a prefix
      {"abcd", "abc", 'd', 3},
      {"", "x", -'x', 0},
      {"ab", std::string("ab\0", 3), -1, 2},  // the longer goes on with a 0 byte
      {std::string("ab\0", 3), "ab", 1, 2},
      {"abX", "abcd", 'X' - 'c', 2},  // a difference before the end
      {long4097.substr(0, 4096), long4097, -long4097[4096], 4096},
      {Pattern(5000), Pattern(12000), -Pattern(12000)[5000], 5000},
  };
  for (const Case& c : cases) {
    const std::string a = Make("a", c.first);
    const std::string b = Make("b", c.second);
    const tw::FileCompareResult result = tw::FileCompare(a.c_str(), b.c_str(), tw::kCompareExact);
    EXPECT_EQ(result.difference, c.difference) << c.first.size() << " " << c.second.size();
    EXPECT_EQ(result.position, c.position) << c.first.size() << " " << c.second.size();
  }
}

// Files of random sizes around the chunk size, with a few bytes changed
// (letters in case only, or other bytes), against a byte-by-byte reference:
// the first difference, or where the shorter file ends (its next byte
// counting as 0, and the result never 0).
TEST_P(FilesCompare, CompareAgreesWithAPlainComparison) {
  std::mt19937 random(4096);
  for (int round = 0; round < 60; ++round) {
    std::string first(random() % 9000, ' ');
    for (char& c : first) c = "aB@`\x7f\xe1"[random() % 6];
    std::string second = first;
    if (random() % 3 == 0) second.resize(random() % (first.size() + 200), 'a');
    for (int changes = random() % 4; changes > 0 && !second.empty(); --changes) {
      second[random() % second.size()] ^= random() % 2 ? 0x20 : 0x41;
    }
    const int mode = random() % 2 ? tw::kCompareIgnoreCase : tw::kCompareExact;
    const unsigned fold = mode == tw::kCompareIgnoreCase ? 0x20 : 0;
    const std::size_t common = std::min(first.size(), second.size());
    std::size_t p = 0;
    while (p < common && (static_cast<unsigned char>(first[p]) | fold) ==
                             (static_cast<unsigned char>(second[p]) | fold)) {
      ++p;
    }
    std::int32_t difference = 0;
    if (p < common) {
      difference = static_cast<unsigned char>(first[p]) - static_cast<unsigned char>(second[p]);
    } else if (first.size() < second.size()) {
      difference = second[p] != 0 ? -static_cast<unsigned char>(second[p]) : -1;
    } else if (first.size() > second.size()) {
      difference = first[p] != 0 ? static_cast<unsigned char>(first[p]) : 1;
    }
    const std::string a = Make("a", first);
    const std::string b = Make("b", second);
    const tw::FileCompareResult result = tw::FileCompare(a.c_str(), b.c_str(), mode);
    ASSERT_EQ(result.position, static_cast<std::int64_t>(p)) << round;
    ASSERT_EQ(result.difference, difference) << round;
  }
}

TEST_P(FilesCompare, CompareOfOneFileWithItself) {
  const std::string a = Make("a", Pattern(9000));
  const tw::FileCompareResult result = tw::FileCompare(a.c_str(), a.c_str(), tw::kCompareExact);
  EXPECT_EQ(result.difference, 0);
  EXPECT_EQ(result.position, 9000);
}

// ---- FIFOs and devices ----

#ifndef _WIN32
// Native only: Windows file systems have no FIFOs (mkfifo is POSIX), and the
// Windows lane opens pipes and devices through the system's own layer. A
// regression here hangs (an open that waits for a writer), so it shows as a
// test timeout.
TEST_F(Files, FifoOpensWithoutAWriterAndReadsWhatIsThere) {
  const std::string fifo = Path("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_NE(tw::FileExists(fifo.c_str(), 1), 0);
  EXPECT_EQ(tw::FileSize(fifo.c_str()), 0);
  ASSERT_NE(tw::FileOpenRead(3, fifo.c_str(), tw::kSearchNone), Invalid());
  char buffer[16] = {};
  EXPECT_EQ(tw::FileReadSlot(3, buffer, sizeof buffer).count, 0) << "no writer: nothing";

  // A writer that stays open: the read gives the bytes there and does not wait
  // for more.
  const int writer = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
  ASSERT_GE(writer, 0);
  ASSERT_EQ(write(writer, "abc", 3), 3);
  EXPECT_EQ(tw::FileReadSlot(3, buffer, sizeof buffer).count, 3);
  EXPECT_EQ(std::string(buffer, 3), "abc");
  EXPECT_EQ(tw::FileReadSlot(3, buffer, sizeof buffer).count, 0) << "nothing more, no waiting";
  EXPECT_EQ(tw::FileSize(3), 0);
  close(writer);
  tw::FileClose(3);

  // Opened for writing (as Store does) it does not wait for a reader either.
  ASSERT_NE(tw::FileOpenWrite(4, fifo.c_str(), 'O'), Invalid());
  tw::FileClose(4);
  // A comparison reads each file's size worth: nothing.
  const std::string empty = Make("empty", "");
  const tw::FileCompareResult compared =
      tw::FileCompare(fifo.c_str(), empty.c_str(), tw::kCompareExact);
  EXPECT_EQ(compared.difference, 0);
  EXPECT_EQ(compared.position, 0);
}

TEST_F(Files, CharacterDevicesOpenAndSocketsDoNot) {
  ASSERT_NE(tw::FileOpenRead(5, "/dev/null", tw::kSearchNone), Invalid());
  char buffer[4];
  EXPECT_EQ(tw::FileReadSlot(5, buffer, sizeof buffer).count, 0);
  tw::FileClose(5);

  const std::string name = Path("socket");
  const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  ASSERT_LT(name.size(), sizeof address.sun_path);
  std::memcpy(address.sun_path, name.c_str(), name.size() + 1);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  EXPECT_NE(tw::FileExists(name.c_str(), 1), 0);
  SetLastError(0);
  EXPECT_EQ(tw::FileOpenRead(5, name.c_str(), tw::kSearchNone), Invalid());
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(tw::FileMessage(), "File not found: " + name);
  EXPECT_EQ(tw::FileOpenWrite(5, name.c_str(), 'a'), Invalid());
  close(listener);
}
#endif

// ---- Fatal errors, in child processes ----

std::string g_childFolder;

std::string ChildFolder() {
  if (g_childFolder.empty()) g_childFolder = FreshFolder();
  return g_childFolder;
}

void ReadFromFailedSlot() {
  SetLastError(ERROR_FILE_NOT_FOUND);
  tw::FileOpenRead(4, (ChildFolder() + kSeparator + "missing.txt").c_str(), tw::kSearchNone);
  char buffer[4];
  tw::FileReadSlot(4, buffer, sizeof buffer);
}

void CompareWithMissingSecondFile() {
  const std::string a = ChildFolder() + kSeparator + "present.txt";
  WriteWhole(a, "present");
  tw::FileCompare(a.c_str(), "no-such-compare-file.txt", tw::kCompareExact);
}

void StrictTouchOfAClosedSlot() {
  tw::FileTouch(tw::FileSlotHandle(1), 1);
}

void FatalErrorClosesTheReadSlot() {
  const std::string a = ChildFolder() + kSeparator + "slot10.txt";
  WriteWhole(a, "x");
  tw::FileOpenRead(tw::kDeferredReadSlot, a.c_str(), tw::kSearchNone);
  tw::SetRecoveryPoint([](int, const char*) {
    std::printf("slot 10 %s\n",
                tw::FileSlotHandle(tw::kDeferredReadSlot) == nullptr ? "closed" : "open");
    std::fflush(stdout);
  });
  tw::FatalError(tw::kErrorBuffer, nullptr);
}

const tw_test::Scenario kScenarios[] = {
    {"read-failed-slot", ReadFromFailedSlot},
    {"compare-missing", CompareWithMissingSecondFile},
    {"strict-touch", StrictTouchOfAClosedSlot},
    {"fatal-closes-slot-10", FatalErrorClosesTheReadSlot},
};
const int g_child = tw_test::RunScenarioIfChild(kScenarios, 4);

TEST(FilesFatal, ReadingFromASlotWhoseOpenFailedIsTheLastErrorFailure) {
  TW_SKIP_WITHOUT_CHILD_PROCESS();
  const tw_test::ChildResult child = tw_test::RunChild("read-failed-slot");
  EXPECT_EQ(child.exitCode, 1);
  EXPECT_NE(child.error.find("[message box] Fatal error:\nGetLastError (line ?\?):\r\n" +
                             SystemText(ERROR_FILE_NOT_FOUND)),
            std::string::npos)
      << child.error;
}

TEST(FilesFatal, CompareWithAFileThatCannotBeOpenedIsFatalErrorFive) {
  TW_SKIP_WITHOUT_CHILD_PROCESS();
  const tw_test::ChildResult child = tw_test::RunChild("compare-missing");
  EXPECT_EQ(child.exitCode, -5);
  EXPECT_NE(
      child.error.find("Could not open\nno-such-compare-file.txt\nfor Recall, FileRead$ etc."),
      std::string::npos)
      << child.error;
}

TEST(FilesFatal, StrictTouchThatFailsIsTheLastErrorFailure) {
  TW_SKIP_WITHOUT_CHILD_PROCESS();
  const tw_test::ChildResult child = tw_test::RunChild("strict-touch");
  EXPECT_EQ(child.exitCode, 1);
  EXPECT_NE(child.error.find("GetLastError (line ?\?):\r\n" + SystemText(ERROR_INVALID_HANDLE)),
            std::string::npos)
      << child.error;
}

TEST(FilesFatal, AFatalErrorClosesSlotTen) {
  TW_SKIP_WITHOUT_CHILD_PROCESS();
  const tw_test::ChildResult child = tw_test::RunChild("fatal-closes-slot-10");
  EXPECT_EQ(child.exitCode, -9);
  EXPECT_NE(child.output.find("slot 10 closed"), std::string::npos) << child.output;
}

}  // namespace
