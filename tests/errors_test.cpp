// Fatal errors: message composition, exit codes, the debugger hint, the
// 127-character cut, recovery points, the exception report, the system-call
// box and the debugger-break prompt. Fatal errors end the process, so each
// runs in a child process with its boxes written to standard error.
#include "support/errors.h"

#include <gtest/gtest.h>

#include <csetjmp>
#include <cstring>
#include <string>

#include "tools/child.h"
#include "trace/msgbox.h"
#include "trace/text.h"

namespace {

void CountTooHigh() {
  tw::SetCurrentLine(42);
  tw::FatalError(tw::kErrorCountTooHigh, nullptr);
}
void ArrayUndefined() {
  tw::FatalError(tw::kErrorArrayUndefined, "ignored");
}
void OpenForRecall() {
  tw::FatalError(tw::kErrorOpenForRecall, "in.txt");
}
void HeapAllocTemplate() {
  tw::FatalError(tw::kErrorHeapAlloc, nullptr);
}
void ErrorZero() {
  tw::FatalError(tw::kErrorLastError, nullptr);
}
void HintSeven() {
  tw::SetDebuggerHint(7);
  tw::FatalError(tw::kErrorBuffer, nullptr);
}
void HintWithQuestion() {
  tw::SetDebuggerHint(111);
  tw::FatalError(tw::kErrorTooManyStrings, nullptr);
}
void LongInsert() {
  static char name[301];
  for (int i = 0; i < 300; ++i) name[i] = static_cast<char>('a' + i % 26);
  tw::FatalError(tw::kErrorOpenForStore, name);
}
void UnreadableInsert() {
  tw::FatalError(tw::kErrorOpenForStore, reinterpret_cast<const char*>(16));
}
void LastError() {
  SetLastError(ERROR_FILE_NOT_FOUND);
  tw::LastErrorFatal();
}
void AccessViolation() {
  tw::InstallExceptionReport();
  int* volatile nowhere = reinterpret_cast<int*>(16);
  *nowhere = 1;
}

std::jmp_buf g_restart;
int g_recoveredNumber = -1;
const char* g_recoveredInsert = nullptr;

void Recover(int number, const char* insert) {
  g_recoveredNumber = number;
  g_recoveredInsert = insert;
  std::longjmp(g_restart, 1);
}

void Report(const char* text) {
  tw::ConsoleWrite(text);
}

// Takes over after error 5 and after error 25 (a line number); the process
// goes on and ends with exit code 3 of its own.
void RecoveryPoint() {
  tw::SetRecoveryPoint(Recover);
  if (setjmp(g_restart) == 0) tw::FatalError(tw::kErrorOpenForRecall, "in.txt");
  char number[12];
  tw::DecimalText(g_recoveredNumber, number);
  Report("recovered ");
  Report(number);
  Report(" ");
  Report(g_recoveredInsert);
  Report("\n");
  if (setjmp(g_restart) == 0) tw::FatalError(25, nullptr);
  tw::DecimalText(tw::CurrentLine(), number);
  Report("line ");
  Report(number);
  Report("\n");
  ExitProcess(3);
}

// Every error number, a line number (above 11) and a negative number, without
// a recovery point: each ends the process, and none with exit code 0.
template <int kNumber>
void RaiseWithoutRecovery() {
  tw::FatalError(kNumber, "x");
}

struct ExitCase {
  const char* scenario;
  int number;
};
const ExitCase kExitCases[] = {
    {"exit-0", 0},   {"exit-1", 1},   {"exit-2", 2},   {"exit-3", 3},   {"exit-4", 4},
    {"exit-5", 5},   {"exit-6", 6},   {"exit-7", 7},   {"exit-8", 8},   {"exit-9", 9},
    {"exit-10", 10}, {"exit-11", 11}, {"exit-25", 25}, {"exit-m3", -3},
};

const tw_test::Scenario kScenarios[] = {
    {"exit-0", RaiseWithoutRecovery<0>},
    {"exit-1", RaiseWithoutRecovery<1>},
    {"exit-2", RaiseWithoutRecovery<2>},
    {"exit-3", RaiseWithoutRecovery<3>},
    {"exit-4", RaiseWithoutRecovery<4>},
    {"exit-5", RaiseWithoutRecovery<5>},
    {"exit-6", RaiseWithoutRecovery<6>},
    {"exit-7", RaiseWithoutRecovery<7>},
    {"exit-8", RaiseWithoutRecovery<8>},
    {"exit-9", RaiseWithoutRecovery<9>},
    {"exit-10", RaiseWithoutRecovery<10>},
    {"exit-11", RaiseWithoutRecovery<11>},
    {"exit-25", RaiseWithoutRecovery<25>},
    {"exit-m3", RaiseWithoutRecovery<-3>},
    {"count-too-high", CountTooHigh},
    {"array-undefined", ArrayUndefined},
    {"open-recall", OpenForRecall},
    {"heap-alloc", HeapAllocTemplate},
    {"error-zero", ErrorZero},
    {"hint-7", HintSeven},
    {"hint-111", HintWithQuestion},
    {"long-insert", LongInsert},
    {"unreadable", UnreadableInsert},
    {"last-error", LastError},
    {"exception", AccessViolation},
    {"recovery", RecoveryPoint},
};
const int g_child =
    tw_test::RunScenarioIfChild(kScenarios, sizeof kScenarios / sizeof kScenarios[0]);

std::string FatalBox(const std::string& text) {
  return "[message box] Fatal error:\n" + text + "\n[answer] ok\n";
}

TEST(FatalError, LineNumberTemplates) {
  TW_SKIP_WITHOUT_CHILD_PROCESS();
  tw_test::ChildResult child = tw_test::RunChild("count-too-high");
  EXPECT_EQ(child.exitCode, -6);
  EXPECT_EQ(child.error, FatalBox("Line 42: Count too high\nor wrong # of dimensions"));
  child = tw_test::RunChild("array-undefined");
  EXPECT_EQ(child.exitCode, -7);
  EXPECT_EQ(child.error, FatalBox("Line ?: Array erased or undefined"));
}

TEST(FatalError, InsertTextsAndExitCodes) {
  TW_SKIP_WITHOUT_CHILD_PROCESS();
  tw_test::ChildResult child = tw_test::RunChild("open-recall");
  EXPECT_EQ(child.exitCode, -5);
  EXPECT_EQ(child.error, FatalBox("Could not open\nin.txt\nfor Recall, FileRead$ etc."));
  child = tw_test::RunChild("heap-alloc");
  EXPECT_EQ(child.exitCode, -1);
  EXPECT_EQ(child.error, FatalBox("HeapAlloc"));
  child = tw_test::RunChild("error-zero");
  EXPECT_EQ(child.exitCode, 1) << "error 0 ends with 1, never with the code of success";
  EXPECT_EQ(child.error, FatalBox("")) << "nothing composed yet: the empty message buffer";
  child = tw_test::RunChild("unreadable");
  EXPECT_EQ(child.exitCode, -4);
  EXPECT_EQ(child.error, FatalBox("Could not open\n#\nfor Store")) << "the # stays";
}

TEST(FatalError, NoErrorEndsWithExitCodeZero) {
  TW_SKIP_WITHOUT_CHILD_PROCESS();
  for (const ExitCase& c : kExitCases) {
    const tw_test::ChildResult child = tw_test::RunChild(c.scenario);
    // Line numbers and negative numbers are reported as error 0.
    const int reported = c.number < 0 || c.number > tw::kLastTemplate ? 0 : c.number;
    const int expected = reported == 0 ? static_cast<int>(tw::kExitCodeOfErrorZero) : -reported;
    EXPECT_EQ(child.exitCode, expected) << c.number;
    EXPECT_NE(child.exitCode, 0) << c.number;
    EXPECT_EQ(child.error.rfind("[message box] Fatal error:\n", 0), 0u) << c.number << child.error;
  }
}

TEST(FatalError, DebuggerHintLineAndQuestion) {
  TW_SKIP_WITHOUT_CHILD_PROCESS();
  tw_test::ChildResult child = tw_test::RunChild("hint-7");
  EXPECT_EQ(child.exitCode, -9);
  EXPECT_EQ(child.error, FatalBox("Insufficient buffer or New$(<=0)\r\nOlly: 7"));
  // Yes without a debugger goes on as No: the process still ends with -8.
  child = tw_test::RunChild("hint-111", "ok,yes");
  EXPECT_EQ(child.exitCode, -8);
  EXPECT_EQ(child.error, FatalBox("Too many strings: increase TwHeapStrings\r\nOlly: 111") +
                             "[message box] \nINT 3?\n[answer] yes\n");
}

TEST(FatalError, MessagesAreCutAfter127Characters) {
  TW_SKIP_WITHOUT_CHILD_PROCESS();
  const tw_test::ChildResult child = tw_test::RunChild("long-insert");
  EXPECT_EQ(child.exitCode, -4);
  std::string name;
  for (int i = 0; i < 300; ++i) name += static_cast<char>('a' + i % 26);
  const std::string whole = "Could not open\n" + name + "\nfor Store";
  EXPECT_EQ(child.error, FatalBox(whole.substr(0, 127)));
}

TEST(FatalError, LastErrorShowsTheSystemText) {
  TW_SKIP_WITHOUT_CHILD_PROCESS();
  const tw_test::ChildResult child = tw_test::RunChild("last-error");
  EXPECT_EQ(child.exitCode, 1);
  const std::string head = "[message box] Fatal error:\nGetLastError (line ?\?):\r\n";
  ASSERT_EQ(child.error.substr(0, head.size()), head) << child.error;
  EXPECT_GT(child.error.size(), FatalBox("GetLastError (line ?\?):\r\n").size())
      << "the system's text follows";
}

TEST(FatalError, ExceptionReportShowsCodeAndAddress) {
  TW_SKIP_WITHOUT_CHILD_PROCESS();
  const tw_test::ChildResult child = tw_test::RunChild("exception");
  EXPECT_EQ(child.exitCode, -11);
  const std::string head =
      "[message box] Fatal error:\nException (line ?\?):\n\nCode\tC0000005\nEIP\t";
  ASSERT_EQ(child.error.substr(0, head.size()), head) << child.error;
  const std::string address = child.error.substr(head.size(), 2 * sizeof(void*));
  EXPECT_EQ(address.find_first_not_of("0123456789ABCDEF"), std::string::npos) << address;
  EXPECT_NE(address, std::string(2 * sizeof(void*), '0'));
}

TEST(FatalError, RecoveryPointTakesOverInsteadOfTheExit) {
  TW_SKIP_WITHOUT_CHILD_PROCESS();
  const tw_test::ChildResult child = tw_test::RunChild("recovery");
  EXPECT_EQ(child.exitCode, 3);
  EXPECT_EQ(child.output, "recovered 5 in.txt\nline 25\n");
  EXPECT_EQ(child.error,
            FatalBox("Could not open\nin.txt\nfor Recall, FileRead$ etc.") + FatalBox(""))
      << "the box is still shown";
}

// ---- The prompts that return ----

struct Box {
  std::string text;
  std::string caption;
  UINT type;
};
Box g_box;
int g_boxes = 0;
int g_answer = IDOK;

int RecordBox(const char* text, const char* caption, UINT type) {
  g_box = {text != nullptr ? text : "", caption != nullptr ? caption : "<none>", type};
  ++g_boxes;
  return g_answer;
}

TEST(CheckSystemCall, ShowsFailuresUntilCancel) {
  tw::SetMessageBoxFunction(RecordBox);
  g_boxes = 0;
  SetLastError(ERROR_FILE_NOT_FOUND);
  tw::CheckSystemCall(1);
  EXPECT_EQ(g_boxes, 0) << "a non-zero result is not a failure";
  g_answer = IDOK;
  tw::CheckSystemCall(0);
  EXPECT_EQ(g_boxes, 1);
  EXPECT_EQ(g_box.caption, "<none>");
  EXPECT_EQ(g_box.type, static_cast<UINT>(MB_OKCANCEL));
  EXPECT_FALSE(g_box.text.empty());
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) << "kept";
  g_answer = IDCANCEL;
  tw::CheckSystemCall(0);
  EXPECT_EQ(g_boxes, 2);
  EXPECT_TRUE(tw::SystemCallBoxesOff());
  tw::CheckSystemCall(0);
  EXPECT_EQ(g_boxes, 2) << "after Cancel failures pass silently";
  tw::SetMessageBoxFunction(nullptr);
}

TEST(DebugBreakPrompt, AsksAndGoesOnWithoutADebugger) {
  tw::SetMessageBoxFunction(RecordBox);
  g_answer = IDYES;
  SetLastError(1234);
  tw::DebugBreakPrompt("stop here?");
  EXPECT_EQ(g_box.text, "stop here?");
  EXPECT_EQ(g_box.caption, "INT 3?");
  EXPECT_EQ(g_box.type, static_cast<UINT>(MB_YESNOCANCEL | MB_DEFBUTTON3));
  EXPECT_EQ(GetLastError(), 1234u);
  tw::SetMessageBoxFunction(nullptr);
}

}  // namespace
