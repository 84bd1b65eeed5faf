// The application globals, the entry routine and WinMain: class registration,
// the main window's creation and the message loop.
#include "app/app.h"

#include "trace/text.h"

// The 32-bit build keeps the platform records at their documented sizes.
#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(TBBUTTON) == 20, "TBBUTTON is 20 bytes on 32-bit Windows");
static_assert(sizeof(MENUINFO) == 28, "MENUINFO is 28 bytes on 32-bit Windows");
static_assert(sizeof(WNDCLASSEXA) == 48, "WNDCLASSEXA is 48 bytes on 32-bit Windows");
#endif

namespace app {

namespace {

constexpr char kClassName[] = "MainWindowClass";
constexpr char kCaption[] = "Customized Toolbar";
constexpr UINT kClassStyle = CS_VREDRAW | CS_HREDRAW | CS_DROPSHADOW;
constexpr DWORD kWindowStyle = WS_OVERLAPPEDWINDOW | WS_VISIBLE | WS_CLIPCHILDREN;
constexpr int kWindowWidth = 400;
constexpr int kWindowHeight = 350;
constexpr int kFailureExitCode = 1;

constexpr TBBUTTON Separator() {
  TBBUTTON button = {};
  button.idCommand = 32;
  button.fsState = TBSTATE_ENABLED;
  button.fsStyle = BTNS_SEP;
  button.bReserved[1] = 1;
  button.dwData = 1;
  return button;
}

constexpr TBBUTTON PushButton(int command) {
  TBBUTTON button = {};
  button.idCommand = command;
  button.fsState = TBSTATE_ENABLED;
  button.fsStyle = BTNS_BUTTON;
  return button;
}

// Left edge of the main window: the screen's horizontal centre plus 100.
// Halving is a logical shift and the sum wraps like 32-bit arithmetic.
int WindowLeft(int screenWidth) {
  const unsigned half = static_cast<unsigned>(screenWidth) >> 1;
  return static_cast<int>(half - 200u + 300u);
}

// Top edge: the window is centred vertically.
int WindowTop(int screenHeight) {
  const unsigned half = static_cast<unsigned>(screenHeight) >> 1;
  return static_cast<int>(half - 175u);
}

}  // namespace

AppGlobals g_app = {
    .hInstance = nullptr,
    .hMainWindow = nullptr,
    .className = kClassName,
    .caption = kCaption,
    .hMenu = nullptr,
    .wMenu = nullptr,
    .hHook = nullptr,
    .wc = {.cbSize = sizeof(WNDCLASSEXA),
           .style = kClassStyle,
           .lpfnWndProc = WndProc,
           .cbClsExtra = 0,
           .cbWndExtra = 0,
           .hInstance = nullptr,
           .hIcon = nullptr,
           .hCursor = nullptr,
           .hbrBackground = reinterpret_cast<HBRUSH>(COLOR_MENU + 1),
           .lpszMenuName = nullptr,
           .lpszClassName = kClassName,
           .hIconSm = nullptr},
    .hToolbar = nullptr,
    .toolbarClassName = "ToolbarWindow32",
    .tbButtons = {Separator(), PushButton(0), PushButton(1), PushButton(2), PushButton(3),
                  PushButton(4)},
    .hMemDC = nullptr,
    .hBitmaps = {},
    .mbi = {},
};

void ReportFailure(const char* reason) {
  HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  DWORD written = 0;
  WriteFile(error, reason, tw::TextLength(reason), &written, nullptr);
  WriteFile(error, "\r\n", 2, &written, nullptr);
}

void start() {
  InitCommonControls();
  g_app.hInstance = GetModuleHandleA(nullptr);
  ExitProcess(static_cast<UINT>(WinMain(g_app.hInstance, nullptr, nullptr, SW_SHOWNORMAL)));
}

}  // namespace app

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int showCommand) {
  using app::g_app;
  g_app.wc.hInstance = g_app.hInstance;
  g_app.wc.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
  g_app.wc.hIconSm = g_app.wc.hIcon;
  g_app.wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  if (RegisterClassExA(&g_app.wc) == 0) {
    app::ReportFailure("Customized Toolbar: the window class could not be registered.");
    return app::kFailureExitCode;
  }

  const int y = app::WindowTop(GetSystemMetrics(SM_CYSCREEN));
  const int x = app::WindowLeft(GetSystemMetrics(SM_CXSCREEN));
  g_app.hMainWindow =
      CreateWindowExA(0, g_app.className, g_app.caption, app::kWindowStyle, x, y, app::kWindowWidth,
                      app::kWindowHeight, nullptr, nullptr, g_app.hInstance, nullptr);
  if (g_app.hMainWindow == nullptr) {
    app::ReportFailure("Customized Toolbar: the main window could not be created.");
    return app::kFailureExitCode;
  }
  ShowWindow(g_app.hMainWindow, showCommand);
  UpdateWindow(g_app.hMainWindow);

  MSG message = {};
  for (;;) {
    const BOOL got = GetMessageA(&message, nullptr, 0, 0);
    if (got == 0) break;
    if (got == -1) {
      app::ReportFailure("Customized Toolbar: the message loop failed.");
      return app::kFailureExitCode;
    }
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return static_cast<int>(message.wParam);
}
