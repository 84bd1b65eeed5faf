// The library's headers in one translation unit with the X11 headers, whose
// macros (True, False, Bool, None, Status, ...) are a common source of
// clashes.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <tarnwick/tarnwick.h>

int OtherHeadersAgree() {
  Bool same = True;
  same = same && tw::TextCompare("x", "X", 1).difference == 0;
  return same == True ? 1 : 0;
}
