// Fatal errors of the library: twelve numbered message templates, the report
// that shows "Fatal error:" and ends the process with exit code -(number)
// (1 for error 0) unless a recovery point takes over, and the smaller prompts
// beside it (the system-call failure box and the debugger-break question).
// See docs/errors.md.
#pragma once

#include "../compat/win32.h"

#include <cstdint>

namespace tw {

// Error numbers, by their template.
constexpr int kErrorLastError = 0;       // the message buffer ("GetLastError (line #?):..."), line
constexpr int kErrorHeapAlloc = 1;       // "HeapAlloc"
constexpr int kErrorHeapFree = 2;        // "HeapFree\n#", the block's text
constexpr int kErrorNoSuchString = 3;    // "No such string in line #", caller's text
constexpr int kErrorOpenForStore = 4;    // "Could not open\n#\nfor Store", file name
constexpr int kErrorOpenForRecall = 5;   // "Could not open\n#\nfor Recall, FileRead$ etc."
constexpr int kErrorCountTooHigh = 6;    // "Line #: Count too high\nor wrong # of dimensions"
constexpr int kErrorArrayUndefined = 7;  // "Line #: Array erased or undefined"
constexpr int kErrorTooManyStrings = 8;  // "Too many strings: increase TwHeapStrings"
constexpr int kErrorBuffer = 9;          // "Insufficient buffer or New$(<=0)"
constexpr int kErrorRegVal = 10;         // "Line #: Get/SetRegVal failed"
constexpr int kErrorException = 11;      // the message buffer ("Exception (line #?):..."), line
constexpr int kLastTemplate = 11;

// Error 0 ends the process with exit code 1, not -0: no fatal error may look
// like success to the program's caller. Every other error n ends with -n.
constexpr unsigned kExitCodeOfErrorZero = 1;

// Reports fatal error number with its insert text and does not return: the
// message goes to a box captioned "Fatal error:", the library's arrays and
// pooled blocks are erased, and then the recovery point (if set) takes over,
// else the process ends with exit code -(number) (error 0: exit code 1). A
// number above 11 is a source line number: it becomes the current line and
// the report is error 0.
// A negative number reports as error 0 as well.
[[noreturn]] void FatalError(int number, const char* insert);

// Composes "GetLastError (line #?):\r\n" and the system's text for
// GetLastError() in the message buffer and raises error 0.
[[noreturn]] void LastErrorFatal();

// The exception filter: composes "Exception (line #?):\n\nCode\t<code>\nEIP\t<address>"
// (hexadecimal, upper case; addresses with all their digits) and raises error 11.
LONG WINAPI ExceptionReport(EXCEPTION_POINTERS* exception);

// Makes ExceptionReport the process's last word on processor exceptions: on
// Windows the unhandled-exception filter, natively the handler of SIGSEGV,
// SIGBUS, SIGILL and SIGFPE (the signal's code and instruction address are
// handed over as an exception record).
void InstallExceptionReport();

// After a system call: a result of 0 shows the system's text for the last
// error in an OK/Cancel box (no caption) unless an earlier Cancel switched
// these boxes off. The last-error value is kept.
void CheckSystemCall(std::intptr_t result);
bool SystemCallBoxesOff();

// Shows text in a box captioned "INT 3?" (Yes, No, Cancel; Cancel the
// default). Yes stops in an attached debugger; without one it goes on as No.
void DebugBreakPrompt(const char* text);

// Traps into the debugger when one is attached; otherwise nothing happens.
void BreakIfDebugged();

// The current line number (0: not set), shown by templates 0, 6, 7, 10, 11.
void SetCurrentLine(std::int32_t line);
std::int32_t CurrentLine();

// The debugger hint: when not 0 every fatal message ends with "\r\nOlly: " and
// the hint; 111 also asks "INT 3?" after the report.
void SetDebuggerHint(std::int32_t hint);
std::int32_t DebuggerHint();

// A recovery point: a continuation that receives the error number and insert
// text in place of the process exit. It should not return (it typically
// longjmps to where the program starts over); if it does, the process ends as
// without it. Returns the previous continuation; nullptr removes it.
using RecoveryFunction = void (*)(int number, const char* insert);
RecoveryFunction SetRecoveryPoint(RecoveryFunction continuation);

// The message buffer of templates 0 and 11 (read-only view, for tests and
// programs that log it).
const char* FatalMessageBuffer();

}  // namespace tw
