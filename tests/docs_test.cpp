// The examples of docs/*.md are compiled into this test (the build extracts
// every ```cpp block) and run here, with their output compared to what the
// documentation says they print.
#include <gtest/gtest.h>

#include <string>

#include "support/errors.h"
#include "tools/capture.h"
#include "trace/msgbox.h"

void ExampleConsoleTraces();
void ExampleTextItems();
void ExampleMessageBoxTrace(unsigned long long wParam);
void ExampleTextRoutines();
void ExampleFind();
void ExampleCompare();
void ExampleFileSlots();
void ExampleFileCompare();
void ExampleCommandLine();
void ExampleDeferredRead();
void ExampleStringArguments();
void ExampleOwnTemporaryText();
void ExampleDeferredResults();
void ExampleResultOfAReleasedText();
void ExampleSmallFunctions();
void ExampleRecoveryPoint();
void ExampleInstallExceptionReport();
void ExampleHeapBlocks();
void ExampleFormat();
void ExampleRead();
void ExampleDigitlessTexts();
void ExampleCompareFloat();
void ExampleArrays();
void ExampleFields();
void ExampleInsertDelete();
void ExampleRecordArrays();
void ExamplePool();
void ExampleRecallAndStore();
void ExampleSorts();
void ExampleConsolePrint();
void ExampleAssembleConsole();
void ExampleAssembleField();

namespace {

std::string RunExample(void (*example)()) {
  tw_test::Capture out(tw_test::Stream::Output);
  example();
  return out.Finish();
}

TEST(DocsTrace, ConsoleExamplePrintsWhatTheDocsShow) {
  EXPECT_EQ(RunExample(ExampleConsoleTraces),
            "Key\teax\t\t65\r\n"
            "\r\nCREATE\r\nhMenu\t\t1234\r\nwMenu\t\t0\r\n");
}

TEST(DocsTrace, TextItemExamplePrintsWhatTheDocsShow) {
  EXPECT_EQ(RunExample(ExampleTextItems),
            "Class\t$edi\t\tToolbarWindow32\r\n"
            "Class\t$edi\t\t127\t<not a pointer>\r\n");
}

int g_boxes = 0;
std::string g_text;

TEST(DocsTrace, MessageBoxExampleShowsOneBox) {
  tw::SetMessageBoxFunction([](const char* text, const char* caption, UINT) {
    ++g_boxes;
    g_text = std::string(caption) + "|" + text;
    return IDOK;
  });
  ExampleMessageBoxTrace(42);
  tw::SetMessageBoxFunction(nullptr);
  EXPECT_EQ(g_boxes, 1);
  EXPECT_EQ(g_text, "info|eax\t\t42\r\n");
}

TEST(DocsText, TextRoutineExamplePrintsTheNumber) {
  EXPECT_EQ(RunExample(ExampleTextRoutines), "-2147483648 ok\r\n");
}

TEST(DocsSearch, FindExamplePrintsWhatTheDocsShow) {
  EXPECT_EQ(RunExample(ExampleFind), "2 5 0 3 8 ");
}

TEST(DocsSearch, CompareExamplePrintsWhatTheDocsShow) {
  EXPECT_EQ(RunExample(ExampleCompare), "-1@2 equal");
}

TEST(DocsFiles, FileSlotExamplePrintsWhatTheDocsShow) {
  EXPECT_EQ(RunExample(ExampleFileSlots),
            "15 bytes: first\r\nsecond\r\nFile not found: no-such-file.txt\r\n");
}

TEST(DocsFiles, CompareExamplePrintsWhatTheDocsShow) {
  EXPECT_EQ(RunExample(ExampleFileCompare), "-32@0 -33@12 size 13");
}

TEST(DocsFiles, CommandLineExamplePrintsWhatTheDocsShow) {
  EXPECT_EQ(RunExample(ExampleCommandLine),
            "C:\\Tools\\my tool.exe|-o|out file.txt|last|(missing)|");
}

TEST(DocsFiles, DeferredReadExamplePrintsWhatTheDocsShow) {
  EXPECT_EQ(RunExample(ExampleDeferredRead), "14 read when used");
}

TEST(DocsStrings, ExamplesPrintWhatTheDocsShow) {
  EXPECT_EQ(RunExample(ExampleStringArguments), "Hello\r\n");
  EXPECT_EQ(RunExample(ExampleOwnTemporaryText), "Tarnwick!\r\n");
  EXPECT_EQ(RunExample(ExampleDeferredResults), "bb baa IXE\r\n");
  EXPECT_EQ(RunExample(ExampleSmallFunctions), "00FF 00000101 cdef\r\n");
  EXPECT_EQ(RunExample(ExampleResultOfAReleasedText), "HELLO\r\n[]\r\n");
}

TEST(DocsErrors, RecoveryExampleShowsTheBoxAndGoesOn) {
  g_boxes = 0;
  tw::SetMessageBoxFunction([](const char* text, const char* caption, UINT) {
    ++g_boxes;
    g_text = std::string(caption) + "|" + text;
    return IDOK;
  });
  EXPECT_EQ(RunExample(ExampleRecoveryPoint), "recovered from error 5\r\n");
  tw::SetMessageBoxFunction(nullptr);
  EXPECT_EQ(g_boxes, 1);
  EXPECT_EQ(g_text, "Fatal error:|Could not open\nin.txt\nfor Recall, FileRead$ etc.");
}

TEST(DocsErrors, ExceptionAndHeapExamples) {
  EXPECT_EQ(RunExample(ExampleInstallExceptionReport), "");
  EXPECT_EQ(tw::CurrentLine(), 0);
  EXPECT_EQ(RunExample(ExampleHeapBlocks), "balanced\r\n");
}

TEST(DocsNumbers, FormatExamplePrintsWhatTheDocsShow) {
  EXPECT_EQ(RunExample(ExampleFormat),
            "Total:\t2.2500 kg\r\n"
            "1.234568e+07 2.0 0.333333333333 4294967295 [-0.250] ^v?");
}

TEST(DocsNumbers, ReadExamplePrintsWhatTheDocsShow) {
  EXPECT_EQ(RunExample(ExampleRead), "-42.0000/0 31.0000/2 5.00000/1 1234.50/0 error");
}

TEST(DocsNumbers, DigitlessTextsExamplePrintsWhatTheDocsShow) {
  EXPECT_EQ(RunExample(ExampleDigitlessTexts),
            "0/1 0/1 0/1 0/2 0/1 0/2 error error error error error ");
}

TEST(DocsNumbers, CompareFloatExamplePrintsWhatTheDocsShow) {
  EXPECT_EQ(RunExample(ExampleCompareFloat), "-1 0 -1 0 ");
}

TEST(DocsArrays, ExamplesPrintWhatTheDocsShow) {
  EXPECT_EQ(RunExample(ExampleArrays), "beta\r\nrow 1, column 2\r\n");
  EXPECT_EQ(RunExample(ExampleFields), "[x][q,r][z][]\r\n");
  EXPECT_EQ(RunExample(ExampleInsertDelete), "[][][two][three]\r\n");
  EXPECT_EQ(RunExample(ExampleRecordArrays), "9\r\n");
  EXPECT_EQ(RunExample(ExamplePool), "pooled +1 -1\r\n");
}

TEST(DocsRecall, ExamplesPrintWhatTheDocsShow) {
  EXPECT_EQ(RunExample(ExampleRecallAndStore), "3 two\r\none\r\ntwo\r\n");
  EXPECT_EQ(RunExample(ExampleSorts), "1 3 -5 30 5 ");
}

TEST(DocsConsole, PrintExamplePrintsWhatTheDocsShow) {
  EXPECT_EQ(RunExample(ExampleConsolePrint), "Ready.\r\n");
}

TEST(DocsAssemble, ExamplesPrintWhatTheDocsShow) {
  EXPECT_EQ(RunExample(ExampleAssembleConsole), "Hello\tWorld\r\nDate: 2024/01/02\r\n");
  EXPECT_EQ(RunExample(ExampleAssembleField), "a,XY,c\r\n");
}

}  // namespace
