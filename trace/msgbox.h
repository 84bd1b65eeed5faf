// The one way every message box of the trace facility and the library is shown.
//
// When the environment variable TARNWICK_MSGBOX holds a comma-separated list of
// answers (ok, cancel, yes, no, fail, default), no box is opened: its caption
// and text go to standard error and the next answer of the list is taken
// ("fail" answers 0, as a box that could not be shown; "default" and an
// exhausted list answer as the box's default button). Without the variable,
// Windows opens the real box; natively there is no window system, so the box
// is written to standard error and answered as its default button would be.
#pragma once

#include "../compat/win32.h"

namespace tw {

// Shows a box with the given text, caption and MB_* type; returns the answer
// (IDOK, IDCANCEL, IDYES, IDNO, ...) or 0 when the box could not be shown.
int ShowMessageBox(const char* text, const char* caption, UINT type);

// A program (or a test) may take over all boxes: the function is called in
// place of the box and its result is the answer. Returns the previous one.
using MessageBoxFunction = int (*)(const char* text, const char* caption, UINT type);
MessageBoxFunction SetMessageBoxFunction(MessageBoxFunction function);

// Starts the answer list of TARNWICK_MSGBOX from its first entry again. The
// list also restarts by itself whenever the variable's value changes.
void RestartMessageBoxAnswers();

}  // namespace tw
