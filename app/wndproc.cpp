// The main window procedure: creation of the hook, menu bar, toolbar and
// faces; closing; the Escape and F1 keys; and the window's trace points.
#include "app/app.h"

#include "trace/trace.h"

namespace app {

namespace {

constexpr UINT kMenuWindowAtom = 0x8000;  // the system's menu window class
constexpr UINT kMenuCommandNew = 1000;
constexpr UINT kMenuCommandSave = 1001;
constexpr UINT kMenuCommandCopy = 1100;

LRESULT Close(HWND window) {
  UnhookWindowsHookEx(g_app.hHook);
  DestroyWindow(window);
  return 0;
}

LRESULT ShowTitleBarInfo(WPARAM wParam) {
  TW_TRACE_BOX("info", tw::TraceItem("eax", wParam));
  return 0;
}

LRESULT TracePositionChange(LPARAM lParam) {
  const WINDOWPOS* position = reinterpret_cast<const WINDOWPOS*>(lParam);
  TW_TRACE_CONSOLE("posc", tw::TraceItem("[ebx.WINDOWPOS.lx]", position->cx),
                   tw::TraceItem("[ebx.WINDOWPOS.cy]", position->cy));
  return 0;
}

LRESULT HandleKey(HWND window, WPARAM key) {
  if (key == VK_ESCAPE) {
    SendMessageA(window, WM_CLOSE, 0, 0);
  } else if (key == VK_F1) {
    DrawMenuBar(window);
    TW_TRACE_CONSOLE("Brush", tw::TraceItem("mbi.hbrBack", g_app.mbi.hbrBack));
  } else {
    TW_TRACE_CONSOLE("Key", tw::TraceItem("eax", key));
  }
  return 0;
}

void BuildMenuBar(HWND window) {
  const HMENU fileMenu = CreateMenu();
  const HMENU editMenu = CreateMenu();
  AppendMenuA(g_app.hMenu, MF_POPUP, reinterpret_cast<UINT_PTR>(fileMenu), "&File");
  AppendMenuA(fileMenu, MF_STRING, kMenuCommandNew, "&New\tCtrl+N");
  AppendMenuA(fileMenu, MF_STRING, kMenuCommandSave, "&Save\tCtrl+S");
  AppendMenuA(g_app.hMenu, MF_POPUP, reinterpret_cast<UINT_PTR>(editMenu), "&Edit");
  AppendMenuA(editMenu, MF_STRING, kMenuCommandCopy, "&Copy\tCtrl+C");
  SetMenu(window, g_app.hMenu);
}

// The menu bar and both drop-down menus get the white stock brush as background.
void PaintMenuBackground() {
  g_app.mbi = {};
  g_app.mbi.cbSize = sizeof(MENUINFO);
  g_app.mbi.fMask = MIM_BACKGROUND | MIM_APPLYTOSUBMENUS;
  g_app.mbi.hbrBack = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  SetMenuInfo(g_app.hMenu, &g_app.mbi);
}

LRESULT Create(HWND window, LPARAM lParam) {
  g_app.hHook = SetWindowsHookExA(WH_CALLWNDPROC, HookProc, nullptr, GetCurrentThreadId());
  TW_TRACE_CONSOLE("ResHook", tw::TraceItem("eax", g_app.hHook));
  g_app.hMenu = CreateMenu();
  g_app.wMenu = FindWindowA(MAKEINTATOM(kMenuWindowAtom), nullptr);
  TW_TRACE_CONSOLE("CREATE", tw::TraceItem("hMenu", g_app.hMenu),
                   tw::TraceItem("wMenu", g_app.wMenu));
  BuildMenuBar(window);
  const CREATESTRUCTA* creation = reinterpret_cast<const CREATESTRUCTA*>(lParam);
  if (creation->hwndParent != nullptr) return 0;
  CreateToolbar(window);
  PaintMenuBackground();
  LoadFaces();
  return 0;
}

}  // namespace

LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CLOSE:
      return Close(window);
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    case WM_GETTITLEBARINFOEX:
      return ShowTitleBarInfo(wParam);
    case WM_WINDOWPOSCHANGED:
      return TracePositionChange(lParam);
    case WM_KEYDOWN:
      return HandleKey(window, wParam);
    case WM_CREATE:
      return Create(window, lParam);
    case WM_NOTIFY:
      return HandleNotify(lParam);
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

}  // namespace app
