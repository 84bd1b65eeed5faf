// The Win32 subset the library relies on. Natively this checks compat/ against
// the behaviour below; under Wine the same expectations run against Win32, so
// the two lanes cannot drift apart.
#include "compat/win32.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tools/capture.h"
#include "tools/child.h"

namespace {

TEST(CompatStandardHandles, AreDistinctAndValid) {
  const HANDLE handles[] = {GetStdHandle(STD_INPUT_HANDLE), GetStdHandle(STD_OUTPUT_HANDLE),
                            GetStdHandle(STD_ERROR_HANDLE)};
  for (HANDLE handle : handles) {
    EXPECT_NE(handle, INVALID_HANDLE_VALUE);
    EXPECT_NE(handle, nullptr);
  }
  EXPECT_NE(handles[1], handles[2]);
}

TEST(CompatWriteFile, WritesEveryByteAndReportsTheCount) {
  tw_test::Capture capture(tw_test::Stream::Output);
  DWORD written = 12345;
  const char text[] = "one\r\ntwo\0three";
  EXPECT_TRUE(WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, sizeof text - 1, &written, nullptr));
  EXPECT_EQ(written, sizeof text - 1);
  EXPECT_EQ(capture.Finish(), std::string(text, sizeof text - 1));
}

TEST(CompatWriteFile, ZeroBytesSucceeds) {
  DWORD written = 7;
  EXPECT_TRUE(WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), "", 0, &written, nullptr));
  EXPECT_EQ(written, 0u);
}

TEST(CompatWriteFile, InvalidHandleFailsWithInvalidHandleError) {
  DWORD written = 7;
  SetLastError(0);
  EXPECT_FALSE(WriteFile(INVALID_HANDLE_VALUE, "x", 1, &written, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(written, 0u);
}

TEST(CompatLastError, KeepsWhatWasSet) {
  for (DWORD code : {DWORD{0}, DWORD{2}, DWORD{87}, DWORD{0xDEADBEEF}}) {
    SetLastError(code);
    EXPECT_EQ(GetLastError(), code);
  }
}

TEST(CompatEnvironment, SetGetAndRemove) {
  const char* name = "TW_COMPAT_TEST_VARIABLE";
  char buffer[16];
  ASSERT_TRUE(SetEnvironmentVariableA(name, "value"));
  EXPECT_EQ(GetEnvironmentVariableA(name, buffer, sizeof buffer), 5u);
  EXPECT_STREQ(buffer, "value");
  // Too small a buffer: the size needed, NUL included.
  EXPECT_EQ(GetEnvironmentVariableA(name, buffer, 3), 6u);
  ASSERT_TRUE(SetEnvironmentVariableA(name, nullptr));
  SetLastError(0);
  EXPECT_EQ(GetEnvironmentVariableA(name, buffer, sizeof buffer), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ENVVAR_NOT_FOUND));
}

TEST(CompatHeap, AllocatesZeroesFreesAndRefusesForeignBlocks) {
  const HANDLE heap = GetProcessHeap();
  ASSERT_NE(heap, nullptr);
  unsigned char* block = static_cast<unsigned char*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, 1000));
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % 8, 0u);
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(block[i], 0);
  std::memset(block, 0xAB, 1000);
  EXPECT_TRUE(HeapFree(heap, 0, block));
  EXPECT_TRUE(HeapFree(heap, 0, nullptr)) << "a null block is accepted";
  alignas(16) static char foreign[64] = "not from the heap";
  SetLastError(0);
  EXPECT_FALSE(HeapFree(heap, 0, foreign));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_STREQ(foreign, "not from the heap");
}

// Random allocations and releases against a model of the live blocks: each
// block keeps its bytes and at least its size up to its release, and
// (natively, where this is promised) a released or foreign address is
// refused, across the growth of the live-block table and removals from it.
TEST(CompatHeap, RandomAllocationsAndReleasesAgreeWithAModel) {
  struct Live {
    unsigned char* block;
    SIZE_T size;
    unsigned char fill;
  };
  const HANDLE heap = GetProcessHeap();
  std::mt19937 random(2026);
  std::vector<Live> live;
  const auto release = [&](std::size_t i) {
    const Live entry = live[i];
    live[i] = live.back();
    live.pop_back();
    const SIZE_T size = HeapSize(heap, 0, entry.block);
    ASSERT_NE(size, static_cast<SIZE_T>(-1));
    ASSERT_GE(size, entry.size);
    for (SIZE_T k = 0; k < entry.size; ++k) ASSERT_EQ(entry.block[k], entry.fill);
    ASSERT_TRUE(HeapFree(heap, 0, entry.block));
#ifndef _WIN32
    EXPECT_EQ(HeapSize(heap, 0, entry.block), static_cast<SIZE_T>(-1));
    EXPECT_FALSE(HeapFree(heap, 0, entry.block));
    EXPECT_FALSE(HeapFree(heap, 0, entry.block + 1));
#endif
  };
  for (int step = 0; step < 30000; ++step) {
    if (live.empty() || random() % 100 < (step < 15000 ? 65u : 35u)) {
      const SIZE_T size = 1 + random() % 300;
      auto* block = static_cast<unsigned char*>(HeapAlloc(heap, 0, size));
      ASSERT_NE(block, nullptr);
      live.push_back({block, size, static_cast<unsigned char>(step)});
      std::memset(block, live.back().fill, size);
    } else {
      release(random() % live.size());
    }
  }
  while (!live.empty()) release(live.size() - 1);
}

TEST(CompatHeap, ImpossibleSizeFails) {
  // Larger than any address space, 32-bit ones included (a 32-bit process
  // on a 64-bit Linux kernel can get a 2 GiB block).
  EXPECT_EQ(HeapAlloc(GetProcessHeap(), 0, SIZE_MAX - 64), nullptr);
}

TEST(CompatModuleFileName, FullNameAndCutName) {
  char name[260];
  const DWORD length = GetModuleFileNameA(nullptr, name, sizeof name);
  ASSERT_GT(length, 0u);
  EXPECT_EQ(std::strlen(name), length);
  EXPECT_NE(std::string(name).find("compat_test"), std::string::npos) << name;
  // A cut name: the buffer's size as the result and ERROR_INSUFFICIENT_BUFFER.
  // Whether the last byte is a NUL differs (Wine writes the fifth character,
  // as Windows XP did), so the library treats such a result as a failure and
  // never reads the cut name.
  char small[5];
  SetLastError(0);
  EXPECT_EQ(GetModuleFileNameA(nullptr, small, sizeof small), 5u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(std::string(small, 4), std::string(name, 4));
}

TEST(CompatFormatMessage, SystemTextsEndInCrLfAndUnknownCodesFail) {
  char text[1024];
  for (DWORD code : {DWORD{ERROR_FILE_NOT_FOUND}, DWORD{ERROR_INVALID_HANDLE},
                     DWORD{ERROR_NOT_ENOUGH_MEMORY}, DWORD{ERROR_INVALID_PARAMETER}}) {
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, 0, text, sizeof text, nullptr);
    ASSERT_GT(length, 2u) << code;
    EXPECT_EQ(std::strlen(text), length);
    EXPECT_EQ(std::string(text + length - 2), "\r\n") << code;
  }
  SetLastError(0);
  EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           0x2000FFFF, 0, text, sizeof text, nullptr),
            0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND));
}

TEST(CompatBadStringPtr, ReadableTextsAndUnreadableAddresses) {
  TW_SKIP_WITHOUT_FAULT_RECOVERY();
  EXPECT_FALSE(IsBadStringPtrA("text", 127));
  EXPECT_FALSE(IsBadStringPtrA("", 127));
  EXPECT_TRUE(IsBadStringPtrA(nullptr, 127));
  EXPECT_TRUE(IsBadStringPtrA(reinterpret_cast<const char*>(16), 127));
  EXPECT_FALSE(IsBadStringPtrA(reinterpret_cast<const char*>(16), 0)) << "nothing to check";
  static char long_text[10000];
  std::memset(long_text, 'x', sizeof long_text - 1);
  EXPECT_FALSE(IsBadStringPtrA(long_text, 127)) << "readable up to the maximum";
  EXPECT_FALSE(IsBadStringPtrA(long_text, sizeof long_text)) << "across pages";
}

TEST(CompatCharCase, ConvertsCountedTextsInPlace) {
  char text[] = "AbC xYz 09\0Q";
  EXPECT_EQ(CharLowerBuffA(text, 12), 12u);
  EXPECT_EQ(std::string(text, 12), std::string("abc xyz 09\0q", 12)) << "a NUL does not stop it";
  char upper[] = "abc";
  EXPECT_EQ(CharUpperBuffA(upper, 2), 2u);
  EXPECT_STREQ(upper, "ABc") << "only the counted bytes";
  WCHAR wide[] = {u'A', 0x141, 0xC4, u'z', 0};
  CharLowerBuffW(wide, 4);
  EXPECT_EQ(wide[0], u'a');
  EXPECT_EQ(static_cast<unsigned>(wide[1]), 0x142u);
  EXPECT_EQ(static_cast<unsigned>(wide[2]), 0xE4u);
  CharUpperBuffW(wide, 4);
  EXPECT_EQ(static_cast<unsigned>(wide[1]), 0x141u);
  EXPECT_EQ(wide[3], u'Z');
}

TEST(CompatDebugger, NoneAttachedToTests) {
  EXPECT_FALSE(IsDebuggerPresent());
}

// ---- Files, file search, file times, command line, string resources ----

#ifdef _WIN32
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

// Wine differs from Windows in a few details that the tests name.
bool UnderWine() {
#ifdef _WIN32
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
  return false;
#endif
}

class CompatFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = tw_test::TemporaryPath("compat-files");
    std::filesystem::create_directories(folder_);
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  std::string Path(const std::string& name) const { return folder_ + kSeparator + name; }
  std::string folder_;
};

std::int64_t Ticks(const FILETIME& time) {
  return static_cast<std::int64_t>((std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime);
}

struct DispositionCase {
  DWORD disposition;
  bool exists;
  bool opens;
  DWORD error;          // the last error afterwards
  const char* content;  // the file afterwards (nullptr: no file)
};

TEST_F(CompatFiles, CreateFileDispositions) {
  static const DispositionCase kCases[] = {
      {CREATE_NEW, false, true, ERROR_SUCCESS, ""},
      {CREATE_NEW, true, false, ERROR_FILE_EXISTS, "old"},
      {CREATE_ALWAYS, false, true, ERROR_SUCCESS, ""},
      {CREATE_ALWAYS, true, true, ERROR_ALREADY_EXISTS, ""},
      {OPEN_EXISTING, false, false, ERROR_FILE_NOT_FOUND, nullptr},
      {OPEN_EXISTING, true, true, ERROR_SUCCESS, "old"},
      {OPEN_ALWAYS, false, true, ERROR_SUCCESS, ""},
      {OPEN_ALWAYS, true, true, ERROR_ALREADY_EXISTS, "old"},
      {TRUNCATE_EXISTING, false, false, ERROR_FILE_NOT_FOUND, nullptr},
      {TRUNCATE_EXISTING, true, true, ERROR_SUCCESS, ""},
  };
  int serial = 0;
  for (const DispositionCase& c : kCases) {
    const std::string name = Path("d" + std::to_string(++serial));
    if (c.exists) WriteAll(name, "old");
    SetLastError(12345);
    HANDLE file = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              c.disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    const DWORD error = GetLastError();
    EXPECT_EQ(file != INVALID_HANDLE_VALUE, c.opens) << serial;
    if (!c.opens || c.disposition == CREATE_ALWAYS || c.disposition == OPEN_ALWAYS) {
      EXPECT_EQ(error, c.error) << serial;
    }
    if (file != INVALID_HANDLE_VALUE) {
      EXPECT_TRUE(CloseHandle(file));
    }
    EXPECT_EQ(std::filesystem::exists(name), c.content != nullptr) << serial;
    if (c.content != nullptr) {
      EXPECT_EQ(ReadAll(name), c.content) << serial;
    }
  }
}

TEST_F(CompatFiles, OpenFailuresCarryTheWindowsErrorCodes) {
  std::filesystem::create_directories(Path("folder"));
  struct Case {
    std::string name;
    DWORD error;
  };
  const Case cases[] = {
      {Path("missing.txt"), ERROR_FILE_NOT_FOUND},
      {Path("no-folder") + kSeparator + "x.txt", ERROR_PATH_NOT_FOUND},
      {Path("folder"), ERROR_ACCESS_DENIED},
      {Path("wild*card"), ERROR_INVALID_NAME},
      {Path(std::string(300, 'L')), ERROR_FILENAME_EXCED_RANGE},
  };
  for (const Case& c : cases) {
    SetLastError(0);
    EXPECT_EQ(CreateFileA(c.name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr),
              INVALID_HANDLE_VALUE)
        << c.name;
    EXPECT_EQ(GetLastError(), c.error) << c.name;
  }
}

TEST_F(CompatFiles, ShareModesBetweenHandles) {
  struct Case {
    DWORD firstAccess, firstShare, secondAccess, secondShare;
    bool secondOpens;
  };
  const DWORD read = GENERIC_READ;
  const DWORD both = GENERIC_READ | GENERIC_WRITE;
  const DWORD shareBoth = FILE_SHARE_READ | FILE_SHARE_WRITE;
  static const Case kCases[] = {
      {read, FILE_SHARE_READ, read, FILE_SHARE_READ, true},
      {both, FILE_SHARE_READ, read, FILE_SHARE_READ,
       false},  // the first writes: share write needed
      {read, FILE_SHARE_READ, both, FILE_SHARE_READ, false},  // the first does not share writing
      {read, shareBoth, both, shareBoth, true},
      {GENERIC_WRITE, 0, read, shareBoth, false},
      {read, FILE_SHARE_READ, read, 0, false},  // the second would not share the first's reading
  };
  const std::string name = Path("shared.txt");
  WriteAll(name, "shared");
  int serial = 0;
  for (const Case& c : kCases) {
    ++serial;
    HANDLE first = CreateFileA(name.c_str(), c.firstAccess, c.firstShare, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(first, INVALID_HANDLE_VALUE) << serial;
    SetLastError(0);
    HANDLE second = CreateFileA(name.c_str(), c.secondAccess, c.secondShare, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_EQ(second != INVALID_HANDLE_VALUE, c.secondOpens) << serial;
    if (second != INVALID_HANDLE_VALUE) {
      CloseHandle(second);
    } else {
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION)) << serial;
    }
    CloseHandle(first);
  }
  // A refused open did not truncate the file.
  HANDLE writer = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_EQ(CreateFileA(name.c_str(), GENERIC_WRITE, shareBoth, nullptr, CREATE_ALWAYS,
                        FILE_ATTRIBUTE_NORMAL, nullptr),
            INVALID_HANDLE_VALUE);
  CloseHandle(writer);
  EXPECT_EQ(ReadAll(name), "shared");
}

TEST_F(CompatFiles, ReadPositionAndSize) {
  const std::string name = Path("digits.txt");
  WriteAll(name, "0123456789");
  HANDLE file = CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  struct Move {
    LONG distance;
    DWORD method;
    DWORD position;
  };
  static const Move kMoves[] = {{3, FILE_BEGIN, 3}, {-2, FILE_CURRENT, 1}, {-1, FILE_END, 9},
                                {0, FILE_END, 10},  {20, FILE_BEGIN, 20},  {0, FILE_BEGIN, 0}};
  for (const Move& move : kMoves) {
    EXPECT_EQ(SetFilePointer(file, move.distance, nullptr, move.method), move.position);
  }
  SetLastError(0);
  EXPECT_EQ(SetFilePointer(file, -1, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NEGATIVE_SEEK));
  char buffer[16] = {};
  DWORD read = 99;
  SetFilePointer(file, 3, nullptr, FILE_BEGIN);
  EXPECT_TRUE(ReadFile(file, buffer, 4, &read, nullptr));
  EXPECT_EQ(read, 4u);
  EXPECT_EQ(std::string(buffer, 4), "3456");
  EXPECT_TRUE(ReadFile(file, buffer, sizeof buffer, &read, nullptr));
  EXPECT_EQ(read, 3u) << "the rest";
  EXPECT_TRUE(ReadFile(file, buffer, sizeof buffer, &read, nullptr));
  EXPECT_EQ(read, 0u) << "the end of the file is not a failure";
  DWORD high = 7;
  EXPECT_EQ(GetFileSize(file, &high), 10u);
  EXPECT_EQ(high, 0u);
  LARGE_INTEGER size;
  EXPECT_TRUE(GetFileSizeEx(file, &size));
  EXPECT_EQ(size.QuadPart, 10);
  EXPECT_TRUE(CloseHandle(file));

  HANDLE writeOnly = CreateFileA(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  SetLastError(0);
  EXPECT_FALSE(ReadFile(writeOnly, buffer, 4, &read, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(read, 0u);
  CloseHandle(writeOnly);
  for (HANDLE gone : {HANDLE{nullptr}, writeOnly}) {  // no handle, a closed one
    SetLastError(0);
    EXPECT_FALSE(ReadFile(gone, buffer, 4, &read, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  }
}

TEST_F(CompatFiles, FindFirstFileWithWildcards) {
  for (const char* name : {"alpha.txt", "beta.txt", "gamma.dat", "noext"}) {
    WriteAll(Path(name), name);
  }
  struct Case {
    const char* pattern;
    const char* matches;  // the acceptable first matches, separated by "|"; "" for none
  };
  static const Case kCases[] = {
      {"*.txt", "alpha.txt|beta.txt"},
      {"?eta.txt", "beta.txt"},
      {"g*", "gamma.dat"},
      {"*.dat", "gamma.dat"},
      {"noext", "noext"},
      {"a?pha.*", "alpha.txt"},
      {"*a.d?t", "gamma.dat"},
      {"*.none", ""},
      {"x?", ""},
      {"beta.txt?", ""},
      {"noex?.*", "noext"},
      {"n*.*", "noext"},
  };
  for (const Case& c : kCases) {
    WIN32_FIND_DATAA data;
    SetLastError(0);
    HANDLE find = FindFirstFileA(Path(c.pattern).c_str(), &data);
    if (c.matches[0] == '\0') {
      EXPECT_EQ(find, INVALID_HANDLE_VALUE) << c.pattern;
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) << c.pattern;
      continue;
    }
    ASSERT_NE(find, INVALID_HANDLE_VALUE) << c.pattern;
    const std::string name = data.cFileName;
    EXPECT_NE(("|" + std::string(c.matches) + "|").find("|" + name + "|"), std::string::npos)
        << c.pattern << " gave " << name;
    EXPECT_EQ(data.nFileSizeLow, name.size()) << "each file holds its own name";
    EXPECT_EQ(data.nFileSizeHigh, 0u);
    EXPECT_EQ(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_TRUE(FindClose(find));
  }
  WIN32_FIND_DATAA data;
  SetLastError(0);
  EXPECT_EQ(FindFirstFileA((Path("no-folder") + kSeparator + "*").c_str(), &data),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

// Patterns with many stars against names that almost match: a matcher that
// tries every split of the name for every star takes minutes or hangs on
// these, so a slow matcher shows up as a test timeout. The results are the
// ordinary ones.
TEST_F(CompatFiles, FindFirstFileWithManyStarsAnswersAtOnce) {
  for (const char* name : {"a", "bb", "c.d", "eee", "ff.gg"}) WriteAll(Path(name), name);
  const std::string longName(200, 'a');
  const std::string longFolder = Path("long");
  std::filesystem::create_directories(longFolder);
  WriteAll(longFolder + kSeparator + longName, "long");
  struct Case {
    std::string pattern;
    const char* found;  // the one name the pattern matches; nullptr for none
  };
  const Case kCases[] = {
      {Path(std::string(20, '*') + "#"), nullptr},
      {Path(std::string(100, '*') + "#"), nullptr},
      {Path(std::string(100, '*') + "g"), "ff.gg"},
      {Path(std::string(60, '*') + "e" + std::string(60, '*') + "#"), nullptr},
      {longFolder + kSeparator + "*a*a*a*a*b", nullptr},
      {longFolder + kSeparator + "*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*b", nullptr},
      {longFolder + kSeparator + "*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a", longName.c_str()},
      {longFolder + kSeparator + "?*?*?*?*?*?*?*?*?*?*?*?*?*?*?*?*?*?*?*?*?*?*?*?*b", nullptr},
  };
  for (const Case& c : kCases) {
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(c.pattern.c_str(), &data);
    if (c.found == nullptr) {
      EXPECT_EQ(find, INVALID_HANDLE_VALUE) << c.pattern;
      continue;
    }
    ASSERT_NE(find, INVALID_HANDLE_VALUE) << c.pattern;
    EXPECT_STREQ(data.cFileName, c.found) << c.pattern;
    FindClose(find);
  }
}

// The usual meaning of * (any run of characters, also none) and ? (exactly
// one character), written plainly as the reference.
bool ReferenceMatch(const char* pattern, const char* name) {
  if (*pattern == '\0') return *name == '\0';
  if (*pattern == '*')
    return ReferenceMatch(pattern + 1, name) ||
           (*name != '\0' && ReferenceMatch(pattern, name + 1));
  if (*name == '\0') return false;
  return (*pattern == '?' || *pattern == *name) && ReferenceMatch(pattern + 1, name + 1);
}

// Random patterns of a, b, * and ? against random names of a and b (no dots,
// so the rules for extensions do not come in): FindFirstFileA finds a name
// exactly when the reference matches one, and the name it gives is one the
// reference matches. The folder's "." and ".." entries are names as well.
// Native only: this checks the native layer's matcher; the Windows lane's
// matcher is the system's own, whose "?" follows older rules in corner cases
// (Wine 8 finds nothing for "*?a?" in a folder holding "aaab").
#ifndef _WIN32
TEST_F(CompatFiles, FindFirstFileAgreesWithAReferenceMatcher) {
  std::mt19937 random(2026);
  for (int round = 0; round < 8; ++round) {
    const std::string folder = Path("round" + std::to_string(round));
    std::filesystem::create_directories(folder);
    std::vector<std::string> names = {".", ".."};
    for (int count = 0; count < 6; ++count) {
      std::string name;
      const int length = 1 + static_cast<int>(random() % 6);
      for (int i = 0; i < length; ++i) name += "ab"[random() % 2];
      WriteAll(folder + kSeparator + name, name);
      if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
    }
    for (int trial = 0; trial < 150; ++trial) {
      std::string pattern;
      const int length = 1 + static_cast<int>(random() % 8);
      for (int i = 0; i < length; ++i) pattern += "ab*?"[random() % 4];
      bool expected = false;
      for (const std::string& name : names)
        expected |= ReferenceMatch(pattern.c_str(), name.c_str());
      WIN32_FIND_DATAA data;
      HANDLE find = FindFirstFileA((folder + kSeparator + pattern).c_str(), &data);
      ASSERT_EQ(find != INVALID_HANDLE_VALUE, expected) << folder << " " << pattern;
      if (find == INVALID_HANDLE_VALUE) continue;
      EXPECT_TRUE(ReferenceMatch(pattern.c_str(), data.cFileName))
          << pattern << " gave " << data.cFileName;
      FindClose(find);
    }
  }
}
#endif

TEST_F(CompatFiles, AttributesAndFileTimes) {
  const std::string name = Path("times.txt");
  WriteAll(name, "12345");
  std::filesystem::create_directories(Path("sub"));
  WIN32_FILE_ATTRIBUTE_DATA data;
  ASSERT_TRUE(GetFileAttributesExA(name.c_str(), GetFileExInfoStandard, &data));
  EXPECT_EQ(data.nFileSizeLow, 5u);
  EXPECT_EQ(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
  ASSERT_TRUE(GetFileAttributesExA(Path("sub").c_str(), GetFileExInfoStandard, &data));
  EXPECT_NE(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
  SetLastError(0);
  EXPECT_FALSE(GetFileAttributesExA(Path("missing").c_str(), GetFileExInfoStandard, &data));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  // 2000-02-29 12:34:56.789 as write and access time.
  const FILETIME moment = {static_cast<DWORD>(125963012967890000ull),
                           static_cast<DWORD>(125963012967890000ull >> 32)};
  HANDLE file = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(SetFileTime(file, nullptr, &moment, &moment));
  CloseHandle(file);
  ASSERT_TRUE(GetFileAttributesExA(name.c_str(), GetFileExInfoStandard, &data));
  EXPECT_EQ(Ticks(data.ftLastWriteTime), 125963012967890000);
  EXPECT_EQ(Ticks(data.ftLastAccessTime), 125963012967890000);

  HANDLE reader = CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  SetLastError(0);
  const BOOL setThroughReader = SetFileTime(reader, nullptr, &moment, &moment);
  if (UnderWine()) {
    // Wine 8 does not check the handle's access here; Windows and the native
    // layer refuse it.
    EXPECT_TRUE(setThroughReader);
  } else {
    EXPECT_FALSE(setThroughReader) << "needs a handle for writing";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  }
  CloseHandle(reader);
  SetLastError(0);
  EXPECT_FALSE(SetFileTime(nullptr, nullptr, &moment, &moment));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(CompatSystemTime, ConvertsToFileTimeAndRefusesImpossibleDates) {
  struct Case {
    SYSTEMTIME time;
    bool valid;
    std::int64_t ticks;
  };
  static const Case kCases[] = {
      {{1601, 1, 1, 1, 0, 0, 0, 0}, true, 0},
      {{1970, 1, 4, 1, 0, 0, 0, 0}, true, 116444736000000000},
      {{1970, 1, 0, 4, 0, 0, 0, 0}, true, 116444736000000000 + 3 * 864000000000},
      {{2000, 2, 2, 29, 12, 34, 56, 789}, true, 125963012967890000},
      {{2026, 12, 4, 31, 23, 59, 59, 999}, true, 134432351999990000},
      {{2001, 2, 4, 29, 0, 0, 0, 0}, false, 0},
      {{2000, 13, 0, 1, 0, 0, 0, 0}, false, 0},
      {{2000, 1, 0, 1, 24, 0, 0, 0}, false, 0},
      {{2000, 1, 0, 1, 0, 0, 0, 1000}, false, 0},
      {{1600, 12, 0, 31, 0, 0, 0, 0}, false, 0},
  };
  for (const Case& c : kCases) {
    // Wine 8 accepts a day beyond the month's end (29 February 2001);
    // Windows and the native layer refuse it.
    if (UnderWine() && c.time.wYear == 2001) continue;
    FILETIME time = {1, 1};
    EXPECT_EQ(SystemTimeToFileTime(&c.time, &time) != FALSE, c.valid) << c.time.wYear;
    if (c.valid) {
      EXPECT_EQ(Ticks(time), c.ticks) << c.time.wYear;
    }
  }
  SYSTEMTIME now;
  GetSystemTime(&now);
  EXPECT_GE(now.wYear, 2024);
  FILETIME converted;
  EXPECT_TRUE(SystemTimeToFileTime(&now, &converted));
}

TEST_F(CompatFiles, SearchPathInAFolderList) {
  std::filesystem::create_directories(Path("one"));
  std::filesystem::create_directories(Path("two"));
  WriteAll(Path("two") + kSeparator + "found.txt", "x");
  const std::string list = Path("missing") + ";" + Path("one") + ";" + Path("two");
  char buffer[MAX_PATH];
  char* part = nullptr;
  const DWORD length = SearchPathA(list.c_str(), "found.txt", nullptr, MAX_PATH, buffer, &part);
  ASSERT_GT(length, 0u);
  EXPECT_EQ(std::strlen(buffer), length);
  const std::string expected = std::string(1, kSeparator) + "two" + kSeparator + "found.txt";
  EXPECT_EQ(std::string(buffer).substr(length - expected.size()), expected) << buffer;
  EXPECT_STREQ(part, "found.txt");
  char small[4];
  EXPECT_EQ(SearchPathA(list.c_str(), "found.txt", nullptr, sizeof small, small, &part), length + 1)
      << "too small a buffer: the size needed";
  SetLastError(0);
  EXPECT_EQ(SearchPathA(list.c_str(), "lost.txt", nullptr, MAX_PATH, buffer, &part), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(SearchPathA(nullptr, "tw-surely-nowhere-4711.none", nullptr, MAX_PATH, buffer, &part),
            0u);
}

TEST(CompatCommandLine, StartsWithTheProgram) {
  const char* line = GetCommandLineA();
  ASSERT_NE(line, nullptr);
  EXPECT_NE(std::string(line).find("compat_test"), std::string::npos) << line;
}

TEST(CompatStringResources, AMissingStringLoadsNothing) {
  // This program has no string resources in either lane.
  char text[16] = "unchanged";
  EXPECT_EQ(LoadStringA(GetModuleHandleA(nullptr), 4711, text, sizeof text), 0);
  EXPECT_EQ(text[0], '\0');
  WCHAR wide[16] = {u'x', 0};
  EXPECT_EQ(LoadStringW(GetModuleHandleA(nullptr), 4711, wide, 16), 0);
  // What LoadStringW leaves in the buffer then differs (Wine leaves it as it
  // was); callers rely only on the count.
}

TEST(CompatFormatMessage, TextsOfTheFileFailures) {
  // The native layer has the texts of Windows; Wine has shorter ones of its own.
  struct Case {
    DWORD code;
    const char* windows;
    const char* wine;
  };
  static const Case kCases[] = {
      {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified.", "File not found."},
      {ERROR_PATH_NOT_FOUND, "The system cannot find the path specified.", "Path not found."},
      {ERROR_ACCESS_DENIED, "Access is denied.", "Access denied."},
      {ERROR_SHARING_VIOLATION,
       "The process cannot access the file because it is being used by another process.",
       "Sharing violation."},
      {ERROR_FILE_EXISTS, "The file exists.", "File exists."},
      {ERROR_ALREADY_EXISTS, "Cannot create a file when that file already exists.",
       "File already exists."},
      {ERROR_INVALID_NAME, "The filename, directory name, or volume label syntax is incorrect.",
       "Invalid name."},
      {ERROR_FILENAME_EXCED_RANGE, "The filename or extension is too long.",
       "File name is too long."},
      {ERROR_NEGATIVE_SEEK,
       "An attempt was made to move the file pointer before the beginning of the file.",
       "Negative seek."},
      {ERROR_RESOURCE_TYPE_NOT_FOUND,
       "The specified resource type cannot be found in the image file.",
       "Resource type not found."},
  };
  for (const Case& c : kCases) {
    char text[256] = {};
    EXPECT_GT(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             c.code, 0, text, sizeof text, nullptr),
              0u)
        << c.code;
    EXPECT_EQ(std::string(text), std::string(UnderWine() ? c.wine : c.windows) + "\r\n") << c.code;
  }
}

}  // namespace
