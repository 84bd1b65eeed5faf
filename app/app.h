// The demo program's shared record of handles and tables, and the procedures
// that the entry routine, the window procedure, the toolbar and the hook
// share. Everything here runs on the program's one thread.
#pragma once

#include <windows.h>
#include <commctrl.h>

namespace app {

constexpr int kFaceCount = 10;
constexpr int kButtonEntries = 6;  // the leading separator and five push buttons
constexpr int kFirstFaceId = 100;  // resource identifier of face slot 0

// The one record of the application's handles and tables. All fields start at
// zero unless given a value in app.cpp.
struct AppGlobals {
  HINSTANCE hInstance;
  HWND hMainWindow;
  const char* className;
  const char* caption;
  HMENU hMenu;
  HWND wMenu;  // a window of the system's menu class found at start, 0 if none
  HHOOK hHook;
  WNDCLASSEXA wc;
  HWND hToolbar;
  const char* toolbarClassName;
  TBBUTTON tbButtons[kButtonEntries];
  HDC hMemDC;  // live only while one toolbar button is being painted
  HBITMAP hBitmaps[kFaceCount];
  MENUINFO mbi;
};

extern AppGlobals g_app;

// The process's start: common controls, module handle, WinMain, process exit.
[[noreturn]] void start();

// The main window procedure (class "MainWindowClass").
LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The window-creation watch hook (WH_CALLWNDPROC on the program's thread).
LRESULT CALLBACK HookProc(int code, WPARAM wParam, LPARAM lParam);

// True when a window just created is the system's menu window: its handle is
// the menu window found at start (when one was found) or its class name is
// "#32768", the system menu window class.
bool IsMenuWindowCreation(HWND window, const char* className);

// Toolbar: creation with its set-up messages, face loading, custom draw.
void CreateToolbar(HWND parent);
void LoadFaces();
LRESULT HandleNotify(LPARAM lParam);

// Writes one line to standard error (used when the program cannot go on).
void ReportFailure(const char* reason);

}  // namespace app

// The main routine of the program: registers the class, creates and shows the
// main window and runs the message loop; returns the quit code, or 1 when the
// window could not be set up.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand);
