// The Win32 subset the library relies on. Natively this checks compat/ against
// the behaviour below; under Wine the same expectations run against Win32, so
// the two lanes cannot drift apart.
#include "compat/win32.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "tools/capture.h"

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

TEST(CompatHeap, ImpossibleSizeFails) {
  EXPECT_EQ(HeapAlloc(GetProcessHeap(), 0, static_cast<SIZE_T>(PTRDIFF_MAX) - 64), nullptr);
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

}  // namespace
