// The window-creation watch hook: reports the class of every window the
// thread creates and tries to catch the creation of the system menu window.
#include "app/app.h"

#include "trace/trace.h"

#include <cstring>

namespace app {

namespace {

constexpr int kClassNameSize = 127;
constexpr char kMenuWindowClass[] = "#32768";

void WatchCreation(HWND window) {
  char className[kClassNameSize];
  className[0] = '\0';  // a failed GetClassNameA leaves the empty text
  const int length = GetClassNameA(window, className, kClassNameSize);
  className[kClassNameSize - 1] = '\0';
  TW_TRACE_CONSOLE("Class", tw::TraceItem("$edi", className));
  if (IsMenuWindowCreation(window, className)) {
    TW_TRACE_BOX("Gotcha", tw::TraceItem("eax", length), tw::TraceItem("ecx", window));
  } else {
    TW_TRACE_CONSOLE("No luck", tw::TraceItem("ecx", window),
                     tw::TraceItem("hMainWindow", g_app.hMainWindow),
                     tw::TraceItem("wMenu", g_app.wMenu), tw::TraceItem("hMenu", g_app.hMenu));
  }
}

}  // namespace

bool IsMenuWindowCreation(HWND window, const char* className) {
  if (g_app.wMenu != nullptr && window == g_app.wMenu) return true;
  return std::strcmp(className, kMenuWindowClass) == 0;
}

LRESULT CALLBACK HookProc(int code, WPARAM wParam, LPARAM lParam) {
  if (code != HC_ACTION) {
    TW_TRACE_BOX("Cb not action", tw::TraceItem("nCode", code),
                 tw::TraceItem("HC_ACTION", HC_ACTION));
  }
  const CWPSTRUCT* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
  if (call != nullptr && code == HC_ACTION && call->message == WM_CREATE) {
    WatchCreation(call->hwnd);
  }
  return CallNextHookEx(g_app.hHook, code, wParam, lParam);
}

}  // namespace app
