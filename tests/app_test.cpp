// The demo program's procedures, driven directly in this process: window
// creation (hook, menus, toolbar, faces), keys and trace points, custom draw,
// the hook's catch test and class-name traces, closing, and WinMain's report
// when the class cannot be registered.
//
// Windows only: the demo is a Win32 program and there is no native lane for it.
// It creates real windows, so under Wine it runs with a display
// (e2e/run-with-display.sh).
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>

#include "app/app.h"
#include "tools/capture.h"
#include "trace/trace.h"

namespace {

using app::g_app;

constexpr char kClassName[] = "MainWindowClass";
constexpr DWORD kToolbarStyle = 1342187522;

std::string Number(INT_PTR value) {
  return std::to_string(static_cast<int>(value));
}
std::string Handle(const void* value) {
  return Number(reinterpret_cast<INT_PTR>(value));
}

std::string NoLuck(HWND window) {
  return "\r\nNo luck\r\necx\t\t" + Handle(window) + "\r\nhMainWindow\t" +
         Handle(g_app.hMainWindow) + "\r\nwMenu\t\t" + Handle(g_app.wMenu) + "\r\nhMenu\t\t" +
         Handle(g_app.hMenu) + "\r\n";
}

// What the system was asked to create, seen by a CBT hook.
struct CreationRequest {
  std::string className;
  int x, y, cx, cy;
  LONG style;
  HMENU menu;
};
CreationRequest g_toolbarRequest;

LRESULT CALLBACK RecordCreation(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_CREATEWND) {
    const CREATESTRUCTA& create = *reinterpret_cast<CBT_CREATEWNDA*>(lParam)->lpcs;
    char name[64] = {};
    GetClassNameA(reinterpret_cast<HWND>(wParam), name, sizeof name);
    if (std::string(name) == TOOLBARCLASSNAMEA) {
      g_toolbarRequest = {name,      create.x,     create.y,    create.cx,
                          create.cy, create.style, create.hMenu};
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

class Demo : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    InitCommonControls();
    g_app.hInstance = GetModuleHandleA(nullptr);
    g_app.wc.hInstance = g_app.hInstance;
    ASSERT_NE(RegisterClassExA(&g_app.wc), 0);
  }

  // Creates the main window (hidden) and returns what the console showed.
  std::string CreateMainWindow() {
    HHOOK watch = SetWindowsHookExA(WH_CBT, RecordCreation, nullptr, GetCurrentThreadId());
    tw_test::Capture output(tw_test::Stream::Output);
    g_app.hMainWindow = nullptr;
    window_ = CreateWindowExA(0, kClassName, g_app.caption, WS_OVERLAPPEDWINDOW, 0, 0, 400, 350,
                              nullptr, nullptr, g_app.hInstance, nullptr);
    const std::string text = output.Finish();
    UnhookWindowsHookEx(watch);
    g_app.hMainWindow = window_;
    return text;
  }

  void TearDown() override {
    if (window_ != nullptr && IsWindow(window_)) {
      tw_test::Capture quiet(tw_test::Stream::Output);
      SendMessageA(window_, WM_CLOSE, 0, 0);
      quiet.Finish();
    }
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
  }

  HWND window_ = nullptr;
};

TEST_F(Demo, CreationTracesTheHookTheMenuAndTheToolbar) {
  const std::string console = CreateMainWindow();
  ASSERT_NE(window_, nullptr);
  ASSERT_NE(g_app.hHook, nullptr);
  const std::string start = "ResHook\teax\t\t" + Handle(g_app.hHook) +
                            "\r\n\r\nCREATE\r\nhMenu\t\t" + Handle(g_app.hMenu) + "\r\nwMenu\t\t" +
                            Handle(g_app.wMenu) + "\r\n";
  EXPECT_EQ(console.substr(0, start.size()), start);
  // The toolbar's creation, seen by the hook while hMainWindow is still 0.
  g_app.hMainWindow = nullptr;
  const std::string toolbar = "Class\t$edi\t\tToolbarWindow32\r\n" + NoLuck(g_app.hToolbar);
  g_app.hMainWindow = window_;
  EXPECT_NE(console.find(toolbar), std::string::npos) << console;
}

TEST_F(Demo, ToolbarIsRequestedAt24WithSixEntriesOf32By32) {
  CreateMainWindow();
  EXPECT_EQ(g_toolbarRequest.className, TOOLBARCLASSNAMEA);
  EXPECT_EQ(g_toolbarRequest.x, 0);
  EXPECT_EQ(g_toolbarRequest.y, 24);
  EXPECT_EQ(g_toolbarRequest.cx, 0);
  EXPECT_EQ(g_toolbarRequest.cy, 0);
  EXPECT_EQ(static_cast<DWORD>(g_toolbarRequest.style) & ~WS_CLIPSIBLINGS, kToolbarStyle);
  EXPECT_EQ(g_toolbarRequest.menu, reinterpret_cast<HMENU>(256));
  EXPECT_EQ(GetParent(g_app.hToolbar), window_);
  ASSERT_EQ(SendMessageA(g_app.hToolbar, TB_BUTTONCOUNT, 0, 0), 6);
  TBBUTTON button = {};
  SendMessageA(g_app.hToolbar, TB_GETBUTTON, 0, reinterpret_cast<LPARAM>(&button));
  EXPECT_EQ(button.fsStyle, BTNS_SEP);
  EXPECT_EQ(button.idCommand, 32);
  for (int k = 0; k < 5; ++k) {
    SendMessageA(g_app.hToolbar, TB_GETBUTTON, k + 1, reinterpret_cast<LPARAM>(&button));
    EXPECT_EQ(button.idCommand, k);
    EXPECT_EQ(button.fsStyle, BTNS_BUTTON);
    EXPECT_EQ(button.fsState & TBSTATE_ENABLED, TBSTATE_ENABLED);
  }
  const LRESULT size = SendMessageA(g_app.hToolbar, TB_GETBUTTONSIZE, 0, 0);
  EXPECT_EQ(LOWORD(size), 32);
  EXPECT_EQ(HIWORD(size), 32);
}

TEST_F(Demo, MenuBarAndBothDropDownsGetTheWhiteBrush) {
  CreateMainWindow();
  ASSERT_EQ(GetMenu(window_), g_app.hMenu);
  ASSERT_EQ(GetMenuItemCount(g_app.hMenu), 2);
  const HBRUSH white = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  EXPECT_EQ(g_app.mbi.hbrBack, white);
  const HMENU menus[] = {g_app.hMenu, GetSubMenu(g_app.hMenu, 0), GetSubMenu(g_app.hMenu, 1)};
  for (HMENU menu : menus) {
    MENUINFO info = {};
    info.cbSize = sizeof info;
    info.fMask = MIM_BACKGROUND;
    ASSERT_TRUE(GetMenuInfo(menu, &info));
    EXPECT_EQ(info.hbrBack, white);
  }
  char text[64];
  const struct {
    HMENU menu;
    int position;
    UINT id;
    const char* text;
  } items[] = {{menus[1], 0, 1000, "&New\tCtrl+N"},
               {menus[1], 1, 1001, "&Save\tCtrl+S"},
               {menus[2], 0, 1100, "&Copy\tCtrl+C"}};
  for (const auto& item : items) {
    EXPECT_EQ(GetMenuItemID(item.menu, item.position), item.id);
    GetMenuStringA(item.menu, item.position, text, sizeof text, MF_BYPOSITION);
    EXPECT_STREQ(text, item.text);
  }
}

TEST_F(Demo, FacesAreLoadedFromResources100To109) {
  CreateMainWindow();
  for (int i = 0; i < app::kFaceCount; ++i) {
    BITMAP bitmap = {};
    ASSERT_NE(g_app.hBitmaps[i], nullptr) << "slot " << i;
    ASSERT_EQ(GetObjectA(g_app.hBitmaps[i], sizeof bitmap, &bitmap), sizeof bitmap);
    EXPECT_EQ(bitmap.bmWidth, 32);
    EXPECT_EQ(bitmap.bmHeight, 32);
  }
}

TEST_F(Demo, KeysAndPositionChangesWriteTheirTraces) {
  CreateMainWindow();
  const auto console = [&](UINT message, WPARAM wParam, LPARAM lParam) {
    tw_test::Capture output(tw_test::Stream::Output);
    EXPECT_EQ(app::WndProc(window_, message, wParam, lParam), 0);
    return output.Finish();
  };
  EXPECT_EQ(console(WM_KEYDOWN, 'A', 0), "Key\teax\t\t65\r\n");
  EXPECT_EQ(console(WM_KEYDOWN, VK_CONTROL, 0), "Key\teax\t\t17\r\n");
  // DrawMenuBar recomputes the frame, which the window sees as a position
  // change of unchanged size; then the brush.
  RECT frame;
  GetWindowRect(window_, &frame);
  EXPECT_EQ(console(WM_KEYDOWN, VK_F1, 0),
            "\r\nposc\r\n[ebx.WINDOWPOS.lx]\t" + Number(frame.right - frame.left) +
                "\r\n[ebx.WINDOWPOS.cy]\t" + Number(frame.bottom - frame.top) +
                "\r\nBrush\tmbi.hbrBack\t" + Handle(GetStockObject(WHITE_BRUSH)) + "\r\n");
  WINDOWPOS position = {};
  position.cx = 123;
  position.cy = 45;
  EXPECT_EQ(console(WM_WINDOWPOSCHANGED, 0, reinterpret_cast<LPARAM>(&position)),
            "\r\nposc\r\n[ebx.WINDOWPOS.lx]\t123\r\n[ebx.WINDOWPOS.cy]\t45\r\n");
  // Menu commands reach the default procedure and write nothing.
  EXPECT_EQ(console(WM_COMMAND, 1000, 0), "");
}

TEST_F(Demo, TitleBarInfoShowsTheInfoBoxWithWParam) {
  CreateMainWindow();
  tw::g_trace.gate = 1;
  tw_test::Capture errors(tw_test::Stream::Error);
  EXPECT_EQ(app::WndProc(window_, WM_GETTITLEBARINFOEX, 9, 0), 0);
  EXPECT_EQ(errors.Finish(), "[message box] info\neax\t\t9\r\n\n[answer] ok\n");
}

TEST_F(Demo, CustomDrawPaintsFacesAndLeavesOtherItemsToTheControl) {
  CreateMainWindow();
  NMCUSTOMDRAW draw = {};
  draw.hdr.hwndFrom = g_app.hToolbar;
  draw.hdr.code = static_cast<UINT>(NM_CLICK);
  EXPECT_EQ(app::HandleNotify(reinterpret_cast<LPARAM>(&draw)), 0);
  draw.hdr.code = static_cast<UINT>(NM_CUSTOMDRAW);
  draw.dwDrawStage = CDDS_PREPAINT;
  EXPECT_EQ(app::HandleNotify(reinterpret_cast<LPARAM>(&draw)), 4194336);
  draw.dwDrawStage = CDDS_PREERASE;
  EXPECT_EQ(app::HandleNotify(reinterpret_cast<LPARAM>(&draw)), CDRF_DODEFAULT);

  // Paint into a bitmap and compare with the face resources, pixel for pixel.
  HDC screen = GetDC(nullptr);
  HDC target = CreateCompatibleDC(screen);
  HBITMAP canvas = CreateCompatibleBitmap(screen, 32, 32);
  SelectObject(target, canvas);
  HDC faceDc = CreateCompatibleDC(screen);
  draw.hdc = target;
  draw.rc = {0, 0, 32, 32};
  draw.dwDrawStage = CDDS_ITEMPREPAINT;
  const auto paintedFace = [&](DWORD_PTR item, UINT state, int faceId) {
    PatBlt(target, 0, 0, 32, 32, BLACKNESS);
    draw.dwItemSpec = item;
    draw.uItemState = state;
    EXPECT_EQ(app::HandleNotify(reinterpret_cast<LPARAM>(&draw)), CDRF_SKIPDEFAULT);
    HBITMAP face = LoadBitmapA(g_app.hInstance, MAKEINTRESOURCEA(faceId));
    HGDIOBJ old = SelectObject(faceDc, face);
    bool same = true;
    for (int y = 0; y < 32 && same; ++y) {
      for (int x = 0; x < 32 && same; ++x) same = GetPixel(target, x, y) == GetPixel(faceDc, x, y);
    }
    SelectObject(faceDc, old);
    DeleteObject(face);
    return same;
  };
  EXPECT_TRUE(paintedFace(2, 0, 104));
  EXPECT_TRUE(paintedFace(2, CDIS_SELECTED, 105));
  EXPECT_TRUE(paintedFace(4, CDIS_SELECTED | CDIS_HOT, 109));
  EXPECT_TRUE(paintedFace(0, CDIS_HOT, 100));

  // The separator (32) and any other unknown item: the control's own drawing.
  const HDC before = g_app.hMemDC;
  for (DWORD_PTR item : {DWORD_PTR{5}, DWORD_PTR{32}, ~DWORD_PTR{0}}) {
    draw.dwItemSpec = item;
    EXPECT_EQ(app::HandleNotify(reinterpret_cast<LPARAM>(&draw)), CDRF_DODEFAULT) << item;
  }
  EXPECT_EQ(g_app.hMemDC, before);
  DeleteDC(faceDc);
  DeleteDC(target);
  DeleteObject(canvas);
  ReleaseDC(nullptr, screen);
}

TEST(Hook, CatchesTheMenuWindowByClassNameOrByTheHandleFoundAtStart) {
  const HWND saved = g_app.wMenu;
  const HWND some = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x1234));
  g_app.wMenu = nullptr;
  EXPECT_TRUE(app::IsMenuWindowCreation(some, "#32768"));
  EXPECT_FALSE(app::IsMenuWindowCreation(some, "Button"));
  EXPECT_FALSE(app::IsMenuWindowCreation(nullptr, ""));
  // The class atom of the menu window class is not a window handle.
  EXPECT_FALSE(app::IsMenuWindowCreation(reinterpret_cast<HWND>(INT_PTR{0x8000}), "Button"));
  g_app.wMenu = some;
  EXPECT_TRUE(app::IsMenuWindowCreation(some, "Static"));
  EXPECT_FALSE(app::IsMenuWindowCreation(reinterpret_cast<HWND>(INT_PTR{0x4321}), "Static"));
  g_app.wMenu = saved;
}

TEST_F(Demo, HookTracesClassNamesCutAt126AndEmptyWhenUnknown) {
  CreateMainWindow();
  const std::string longName(200, 'L');
  WNDCLASSEXA longClass = {};
  longClass.cbSize = sizeof longClass;
  longClass.lpfnWndProc = DefWindowProcA;
  longClass.hInstance = g_app.hInstance;
  longClass.lpszClassName = longName.c_str();
  ASSERT_NE(RegisterClassExA(&longClass), 0);
  tw_test::Capture output(tw_test::Stream::Output);
  HWND child = CreateWindowExA(0, longName.c_str(), nullptr, WS_CHILD, 0, 0, 1, 1, window_, nullptr,
                               g_app.hInstance, nullptr);
  std::string console = output.Finish();
  ASSERT_NE(child, nullptr);
  EXPECT_EQ(console, "Class\t$edi\t\t" + longName.substr(0, 126) + "\r\n" + NoLuck(child));
  DestroyWindow(child);

  // A window that no longer exists has no class name: the empty text.
  CWPSTRUCT call = {};
  call.hwnd = child;
  call.message = WM_CREATE;
  tw_test::Capture again(tw_test::Stream::Output);
  app::HookProc(HC_ACTION, 0, reinterpret_cast<LPARAM>(&call));
  console = again.Finish();
  EXPECT_EQ(console, "Class\t$edi\t\t\r\n" + NoLuck(child));

  // Other messages pass without a trace.
  call.message = WM_SIZE;
  tw_test::Capture none(tw_test::Stream::Output);
  app::HookProc(HC_ACTION, 0, reinterpret_cast<LPARAM>(&call));
  EXPECT_EQ(none.Finish(), "");
}

TEST_F(Demo, HookShowsACodeOtherThanActionInABoxAndTracesNothingElse) {
  CreateMainWindow();
  tw::g_trace.gate = 1;
  CWPSTRUCT call = {};
  call.hwnd = window_;
  call.message = WM_CREATE;
  tw_test::Capture output(tw_test::Stream::Output);
  tw_test::Capture errors(tw_test::Stream::Error);
  app::HookProc(3, 0, reinterpret_cast<LPARAM>(&call));
  EXPECT_EQ(errors.Finish(),
            "[message box] Cb not action\nnCode\t\t3\r\nHC_ACTION\t0\r\n\n[answer] ok\n");
  EXPECT_EQ(output.Finish(), "");
}

TEST_F(Demo, CloseRemovesTheHookDestroysTheWindowAndQuitsWithZero) {
  CreateMainWindow();
  tw_test::Capture output(tw_test::Stream::Output);
  SendMessageA(window_, WM_CLOSE, 0, 0);
  EXPECT_FALSE(IsWindow(window_));
  // No hook any more: a new window is not traced.
  HWND later = CreateWindowExA(0, "Static", nullptr, WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                               g_app.hInstance, nullptr);
  DestroyWindow(later);
  EXPECT_EQ(output.Finish().find("Class"), std::string::npos);
  MSG message = {};
  ASSERT_TRUE(PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(message.wParam, 0u);
}

TEST_F(Demo, WinMainReportsAClassThatCannotBeRegistered) {
  // The class is registered already (by the fixture), so WinMain's own
  // registration fails: one line on standard error and exit code 1.
  tw_test::Capture errors(tw_test::Stream::Error);
  EXPECT_EQ(WinMain(g_app.hInstance, nullptr, nullptr, SW_HIDE), 1);
  EXPECT_EQ(errors.Finish(), "Customized Toolbar: the window class could not be registered.\r\n");
}

}  // namespace
