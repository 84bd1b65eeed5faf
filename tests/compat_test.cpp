// The Win32 subset the library relies on. Natively this checks compat/ against
// the behaviour below; under Wine the same expectations run against Win32, so
// the two lanes cannot drift apart.
#include "compat/win32.h"

#include <gtest/gtest.h>

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

}  // namespace
