// Fatal errors: the message templates, the report that ends the process (or
// hands over to a recovery point), the exception report, the system-call
// failure box and the debugger-break prompt.
#include "support/errors.h"

#include <cstring>
#include <initializer_list>

#include "support/lifetimes.h"
#include "trace/msgbox.h"
#include "trace/text.h"

#ifndef _WIN32
#include <signal.h>
#include <ucontext.h>
#endif

namespace tw {

namespace {

constexpr int kShownCharacters = 127;
constexpr DWORD kSystemTextCapacity = 1024;
constexpr DWORD kSystemCallTextCapacity = 444;
constexpr char kFatalCaption[] = "Fatal error:";
constexpr char kHintLine[] = "\r\nOlly: ";
constexpr int kHintWithQuestion = 111;

// Templates 0 and 11 are the message buffer; the others are fixed.
const char* const kTemplates[kLastTemplate + 1] = {
    nullptr,
    "HeapAlloc",
    "HeapFree\n#",
    "No such string in line #",
    "Could not open\n#\nfor Store",
    "Could not open\n#\nfor Recall, FileRead$ etc.",
    "Line #: Count too high\nor wrong # of dimensions",
    "Line #: Array erased or undefined",
    "Too many strings: increase TwHeapStrings",
    "Insufficient buffer or New$(<=0)",
    "Line #: Get/SetRegVal failed",
    nullptr,
};

struct FatalState {
  std::int32_t currentLine;
  std::int32_t debuggerHint;
  RecoveryFunction recovery;
  bool systemCallBoxesOff;
  char messageBuffer[64 + kSystemTextCapacity];  // header line and system text
  char lineText[12];
  char message[2 * sizeof messageBuffer];  // the composed message
  char systemCallText[kSystemCallTextCapacity];
};

FatalState g_fatal = {};

bool InsertIsLineNumber(int number) {
  return number == 0 || number == 6 || number == 7 || number == 10 || number == 11;
}

const char* LineNumberText() {
  if (g_fatal.currentLine == 0) return "?";
  DecimalText(g_fatal.currentLine, g_fatal.lineText);
  return g_fatal.lineText;
}

// Appends text to the composed message, never past its end.
char* AppendText(char* at, const char* text, std::size_t limit) {
  char* const end = g_fatal.message + sizeof g_fatal.message - 1;
  for (std::size_t i = 0; i < limit && text[i] != '\0' && at < end; ++i) *at++ = text[i];
  *at = '\0';
  return at;
}

// The template with its first "#" replaced by the insert, when the insert is a
// readable text; an unreadable insert leaves the "#" in place. Only the first
// 127 characters of an insert can be shown, so no more are copied.
char* ComposeMessage(const char* pattern, const char* insert) {
  char* at = g_fatal.message;
  const char* mark = std::strchr(pattern, '#');
  if (mark == nullptr || IsBadStringPtrA(insert, kShownCharacters)) {
    return AppendText(at, pattern, sizeof g_fatal.message);
  }
  at = AppendText(at, pattern, static_cast<std::size_t>(mark - pattern));
  at = AppendText(at, insert, kShownCharacters);
  return AppendText(at, mark + 1, sizeof g_fatal.message);
}

char* AppendDebuggerHint(char* at) {
  if (g_fatal.debuggerHint == 0) return at;
  char hint[12];
  DecimalText(g_fatal.debuggerHint, hint);
  at = AppendText(at, kHintLine, sizeof kHintLine);
  return AppendText(at, hint, sizeof hint);
}

// Writes the system's text for code into buffer (capacity bytes), or
// "System error <code>" when the system has none.
void SystemText(DWORD code, char* buffer, DWORD capacity) {
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, code, 0, buffer, capacity, nullptr);
  if (length > 0) return;
  char number[12];
  DecimalText(static_cast<std::int32_t>(code), number);
  buffer[0] = '\0';
  std::strncat(buffer, "System error ", capacity - 1);
  std::strncat(buffer, number, capacity - 1 - std::strlen(buffer));
}

// The address as hexadecimal digits, all of them (8 on 32-bit, 16 on 64-bit).
void AppendAddress(char* buffer, std::size_t capacity, const void* address) {
  char digits[2 * sizeof address + 1];
  AddressDigits(address, digits);
  std::strncat(buffer, digits, capacity - 1 - std::strlen(buffer));
}

// -(number), and 1 for error 0: a failure never ends with the code of success.
UINT ExitCodeOf(int number) {
  return number == kErrorLastError ? kExitCodeOfErrorZero : static_cast<UINT>(-number);
}

}  // namespace

void FatalError(int number, const char* insert) {
  if (number > kLastTemplate) {
    g_fatal.currentLine = number;
    number = kErrorLastError;
  } else if (number < 0) {
    number = kErrorLastError;
  }
  if (InsertIsLineNumber(number)) {
    insert = LineNumberText();
  } else if (number == kErrorTooManyStrings || number == kErrorBuffer) {
    insert = nullptr;
  }
  const char* pattern = kTemplates[number] != nullptr ? kTemplates[number] : g_fatal.messageBuffer;
  char* end = ComposeMessage(pattern, insert);
  AppendDebuggerHint(end);
  TidyForFatalReport(FatalStage::kBeforeReport);
  if (std::strlen(g_fatal.message) > kShownCharacters) g_fatal.message[kShownCharacters] = '\0';
  ShowMessageBox(g_fatal.message, kFatalCaption, MB_OK);
  // The arrays and the pooled blocks go (a recovery point starts again from
  // empty arrays).
  TidyForFatalReport(FatalStage::kAfterReport);
  if (g_fatal.debuggerHint == kHintWithQuestion &&
      ShowMessageBox("INT 3?", nullptr, MB_YESNO | MB_DEFBUTTON2) == IDYES) {
    BreakIfDebugged();
  }
  if (g_fatal.recovery != nullptr) g_fatal.recovery(number, insert);
  ExitProcess(ExitCodeOf(number));
}

void LastErrorFatal() {
  const DWORD code = GetLastError();
  std::strcpy(g_fatal.messageBuffer, "GetLastError (line #?):\r\n");
  const std::size_t header = std::strlen(g_fatal.messageBuffer);
  SystemText(code, g_fatal.messageBuffer + header, kSystemTextCapacity);
  FatalError(kErrorLastError, nullptr);
}

LONG WINAPI ExceptionReport(EXCEPTION_POINTERS* exception) {
  char* buffer = g_fatal.messageBuffer;
  const std::size_t capacity = sizeof g_fatal.messageBuffer;
  std::strcpy(buffer, "Exception (line #?):\n\nCode\t");
  const EXCEPTION_RECORD* record = exception != nullptr ? exception->ExceptionRecord : nullptr;
  const DWORD code = record != nullptr ? record->ExceptionCode : 0;
  const void* address = record != nullptr ? record->ExceptionAddress : nullptr;
  char codeDigits[9];
  HexDigits(code, 8, codeDigits);
  std::strncat(buffer, codeDigits, capacity - 1 - std::strlen(buffer));
  std::strncat(buffer, "\nEIP\t", capacity - 1 - std::strlen(buffer));
  AppendAddress(buffer, capacity, address);
  FatalError(kErrorException, nullptr);
}

#ifdef _WIN32
void InstallExceptionReport() {
  SetUnhandledExceptionFilter(ExceptionReport);
}
#else
namespace {

DWORD ExceptionCodeOfSignal(int signal) {
  switch (signal) {
    case SIGILL:
      return EXCEPTION_ILLEGAL_INSTRUCTION;
    case SIGFPE:
      return EXCEPTION_INT_DIVIDE_BY_ZERO;
    case SIGTRAP:
      return EXCEPTION_BREAKPOINT;
    default:
      return EXCEPTION_ACCESS_VIOLATION;
  }
}

void* InstructionAddress(void* context) {
  const ucontext_t* machine = static_cast<const ucontext_t*>(context);
#if defined(__x86_64__)
  return reinterpret_cast<void*>(machine->uc_mcontext.gregs[REG_RIP]);
#elif defined(__i386__)
  return reinterpret_cast<void*>(machine->uc_mcontext.gregs[REG_EIP]);
#else
  (void)machine;
  return nullptr;
#endif
}

// A signal can arrive with any stack alignment (foreign code, an emulator's
// signal frame); on i386 the compiled handler's SSE stores need 16 bytes.
#if defined(__i386__)
__attribute__((force_align_arg_pointer))
#endif
void SignalToExceptionReport(int signal, siginfo_t*, void* context) {
  EXCEPTION_RECORD record = {};
  record.ExceptionCode = ExceptionCodeOfSignal(signal);
  record.ExceptionAddress = InstructionAddress(context);
  EXCEPTION_POINTERS pointers = {&record, context};
  ExceptionReport(&pointers);
}

}  // namespace

void InstallExceptionReport() {
  struct sigaction action = {};
  action.sa_sigaction = SignalToExceptionReport;
  action.sa_flags = SA_SIGINFO | SA_NODEFER;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGSEGV, SIGBUS, SIGILL, SIGFPE}) sigaction(signal, &action, nullptr);
}
#endif

void CheckSystemCall(std::intptr_t result) {
  if (result != 0 || g_fatal.systemCallBoxesOff) return;
  const DWORD code = GetLastError();
  SystemText(code, g_fatal.systemCallText, kSystemCallTextCapacity);
  if (ShowMessageBox(g_fatal.systemCallText, nullptr, MB_OKCANCEL) == IDCANCEL) {
    g_fatal.systemCallBoxesOff = true;
  }
  SetLastError(code);
}

bool SystemCallBoxesOff() {
  return g_fatal.systemCallBoxesOff;
}

void DebugBreakPrompt(const char* text) {
  const DWORD code = GetLastError();
  if (ShowMessageBox(text, "INT 3?", MB_YESNOCANCEL | MB_DEFBUTTON3) == IDYES) BreakIfDebugged();
  SetLastError(code);
}

void BreakIfDebugged() {
  if (IsDebuggerPresent()) DebugBreak();
}

void SetCurrentLine(std::int32_t line) {
  g_fatal.currentLine = line;
}

std::int32_t CurrentLine() {
  return g_fatal.currentLine;
}

void SetDebuggerHint(std::int32_t hint) {
  g_fatal.debuggerHint = hint;
}

std::int32_t DebuggerHint() {
  return g_fatal.debuggerHint;
}

RecoveryFunction SetRecoveryPoint(RecoveryFunction continuation) {
  const RecoveryFunction previous = g_fatal.recovery;
  g_fatal.recovery = continuation;
  return previous;
}

const char* FatalMessageBuffer() {
  return g_fatal.messageBuffer;
}

}  // namespace tw
