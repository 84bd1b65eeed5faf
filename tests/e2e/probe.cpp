// The end-to-end probe: a Win32 program that runs in the demo's Wine prefix
// and desktop, finds the demo's main window and reports what it observes, one
// line per observation, so that the driver can compare them with its tables.
//
// Usage: probe COMMAND [ARGUMENTS]; every command waits at most a few seconds
// and exits 0 when it could observe, 1 when it could not.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr char kMainClass[] = "MainWindowClass";
constexpr char kBoxClass[] = "#32770";
constexpr char kMenuClass[] = "#32768";
constexpr int kFaceSide = 32;
constexpr int kButtons = 5;
constexpr int kFirstFaceId = 100;

HWND WaitForMainWindow(DWORD timeoutMs) {
  for (DWORD waited = 0;; waited += 50) {
    HWND window = FindWindowA(kMainClass, nullptr);
    if (window != nullptr || waited >= timeoutMs) return window;
    Sleep(50);
  }
}

HWND MainWindowOrComplain() {
  HWND window = WaitForMainWindow(5000);
  if (window == nullptr) std::printf("no main window\n");
  return window;
}

// The screen's pixels in a rectangle, as 0x00RRGGBB values row by row.
struct Pixels {
  int left = 0, top = 0, width = 0, height = 0;
  std::vector<COLORREF> rgb;
  COLORREF At(int x, int y) const { return rgb[static_cast<size_t>(y) * width + x]; }
};

Pixels CaptureScreen(const RECT& area) {
  Pixels pixels;
  pixels.left = area.left;
  pixels.top = area.top;
  pixels.width = area.right - area.left;
  pixels.height = area.bottom - area.top;
  pixels.rgb.assign(static_cast<size_t>(pixels.width) * pixels.height, 0);
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = pixels.width;
  info.bmiHeader.biHeight = -pixels.height;  // top row first
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, pixels.width, pixels.height, screen, area.left, area.top, SRCCOPY);
  GdiFlush();
  const DWORD* source = static_cast<const DWORD*>(bits);
  for (size_t i = 0; i < pixels.rgb.size(); ++i) pixels.rgb[i] = source[i] & 0xFFFFFF;
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return pixels;
}

// The colour seen most often in the area, as 0xRRGGBB.
COLORREF MostFrequentColour(const Pixels& pixels) {
  std::vector<std::pair<COLORREF, int>> counts;
  for (COLORREF c : pixels.rgb) {
    bool found = false;
    for (auto& entry : counts) {
      if (entry.first == c) {
        ++entry.second;
        found = true;
        break;
      }
    }
    if (!found) counts.push_back({c, 1});
  }
  std::pair<COLORREF, int> best = {0, 0};
  for (auto& entry : counts) {
    if (entry.second > best.second) best = entry;
  }
  return best.first;
}

// One face as it is stored in the demo's executable, as 0xRRGGBB pixels, top
// row first.
struct FaceImage {
  COLORREF rgb[kFaceSide][kFaceSide];
};

std::string DemoExecutable(HWND window) {
  DWORD processId = 0;
  GetWindowThreadProcessId(window, &processId);
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
  char path[MAX_PATH] = {};
  DWORD size = MAX_PATH;
  if (process != nullptr) {
    QueryFullProcessImageNameA(process, 0, path, &size);
    CloseHandle(process);
  }
  return path;
}

// Decodes the ten 4-bit faces from the demo's own resources.
bool LoadFaces(HWND window, FaceImage* faces) {
  const std::string exe = DemoExecutable(window);
  HMODULE module = LoadLibraryExA(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (module == nullptr) return false;
  for (int i = 0; i < 10; ++i) {
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(kFirstFaceId + i), RT_BITMAP);
    if (found == nullptr || SizeofResource(module, found) != 616) return false;
    const BYTE* dib = static_cast<const BYTE*>(LockResource(LoadResource(module, found)));
    const BYTE* palette = dib + 40;
    const BYTE* rows = palette + 64;
    for (int y = 0; y < kFaceSide; ++y) {
      const BYTE* row = rows + (kFaceSide - 1 - y) * 16;
      for (int x = 0; x < kFaceSide; ++x) {
        const int index = x % 2 == 0 ? row[x / 2] >> 4 : row[x / 2] & 15;
        const BYTE* quad = palette + index * 4;
        faces[i].rgb[y][x] = static_cast<COLORREF>(quad[2]) << 16 | quad[1] << 8 | quad[0];
      }
    }
  }
  return true;
}

bool FaceAt(const Pixels& pixels, const FaceImage& face, int left, int top) {
  if (left < 0 || top < 0 || left + kFaceSide > pixels.width || top + kFaceSide > pixels.height) {
    return false;
  }
  for (int y = 0; y < kFaceSide; ++y) {
    for (int x = 0; x < kFaceSide; ++x) {
      if (pixels.At(left + x, top + y) != face.rgb[y][x]) return false;
    }
  }
  return true;
}

POINT ClientOrigin(HWND window) {
  POINT origin = {0, 0};
  ClientToScreen(window, &origin);
  return origin;
}

HWND Toolbar(HWND window) {
  return FindWindowExA(window, nullptr, TOOLBARCLASSNAMEA, nullptr);
}

// rect: the main window's outer rectangle, and whether it fits on the screen.
int ReportRectangle() {
  HWND window = MainWindowOrComplain();
  if (window == nullptr) return 1;
  RECT r;
  GetWindowRect(window, &r);
  const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
  const int screenHeight = GetSystemMetrics(SM_CYSCREEN);
  std::printf("screen %d x %d\n", screenWidth, screenHeight);
  std::printf("window at (%ld, %ld) size %ld x %ld\n", r.left, r.top, r.right - r.left,
              r.bottom - r.top);
  std::printf("window %s\n",
              r.right > screenWidth ? "reaches past the right edge" : "within the screen width");
  return 0;
}

// brush: the white stock brush's handle, as the demo's trace shows it.
int ReportBrush() {
  const HGDIOBJ brush = GetStockObject(WHITE_BRUSH);
  std::printf("%d\n", static_cast<int>(reinterpret_cast<INT_PTR>(brush)));
  return 0;
}

// toolbar: the toolbar's place in the client area and its width.
int ReportToolbar() {
  HWND window = MainWindowOrComplain();
  if (window == nullptr) return 1;
  HWND toolbar = Toolbar(window);
  if (toolbar == nullptr) {
    std::printf("no toolbar\n");
    return 1;
  }
  RECT r;
  GetWindowRect(toolbar, &r);
  const POINT origin = ClientOrigin(window);
  std::printf("toolbar at (%ld, %ld) width %ld\n", r.left - origin.x, r.top - origin.y,
              r.right - r.left);
  return 0;
}

// faces: for each button, where its face stands in the client area and which
// face (normal or pressed) is shown, compared pixel for pixel with the
// demo's resources.
int ReportFaces() {
  HWND window = MainWindowOrComplain();
  if (window == nullptr) return 1;
  static FaceImage faces[10];
  if (!LoadFaces(window, faces)) {
    std::printf("faces not readable from the demo's executable\n");
    return 1;
  }
  HWND toolbar = Toolbar(window);
  RECT area;
  GetWindowRect(toolbar, &area);
  const Pixels pixels = CaptureScreen(area);
  const POINT origin = ClientOrigin(window);
  for (int k = 0; k < kButtons; ++k) {
    const char* shown = "no face";
    int foundX = -1, foundY = -1;
    for (int y = 0; y + kFaceSide <= pixels.height && foundX < 0; ++y) {
      for (int x = 0; x + kFaceSide <= pixels.width && foundX < 0; ++x) {
        if (FaceAt(pixels, faces[2 * k], x, y)) {
          shown = "normal";
        } else if (FaceAt(pixels, faces[2 * k + 1], x, y)) {
          shown = "pressed";
        } else {
          continue;
        }
        foundX = x;
        foundY = y;
      }
    }
    if (foundX < 0) {
      std::printf("button %d shows no face\n", k);
    } else {
      std::printf("button %d at (%ld, %ld) shows %s face\n", k, pixels.left + foundX - origin.x,
                  pixels.top + foundY - origin.y, shown);
    }
  }
  return 0;
}

// button K: the screen point at the middle of button K's face (for the mouse).
int ReportButtonPoint(int k) {
  HWND window = MainWindowOrComplain();
  if (window == nullptr) return 1;
  RECT r;
  GetWindowRect(Toolbar(window), &r);
  static FaceImage faces[10];
  if (!LoadFaces(window, faces)) return 1;
  const Pixels pixels = CaptureScreen(r);
  for (int y = 0; y + kFaceSide <= pixels.height; ++y) {
    for (int x = 0; x + kFaceSide <= pixels.width; ++x) {
      if (FaceAt(pixels, faces[2 * k], x, y) || FaceAt(pixels, faces[2 * k + 1], x, y)) {
        std::printf("%ld %ld\n", r.left + x + kFaceSide / 2, r.top + y + kFaceSide / 2);
        return 0;
      }
    }
  }
  std::printf("button %d not found\n", k);
  return 1;
}

// close-button: a screen point that the main window reports as its close button.
int ReportCloseButton() {
  HWND window = MainWindowOrComplain();
  if (window == nullptr) return 1;
  RECT r;
  GetWindowRect(window, &r);
  for (int y = r.top; y < r.top + 40; ++y) {
    for (int x = r.right - 1; x > r.right - 60; --x) {
      DWORD_PTR hit = 0;
      SendMessageTimeoutA(window, WM_NCHITTEST, 0, MAKELPARAM(x, y), SMTO_ABORTIFHUNG, 2000, &hit);
      if (hit == HTCLOSE) {
        std::printf("%d %d\n", x - 4, y + 4);
        return 0;
      }
    }
  }
  std::printf("no close button found\n");
  return 1;
}

// colours: the system's menu colour and the most frequent colour of the
// client area below the toolbar.
int ReportColours() {
  HWND window = MainWindowOrComplain();
  if (window == nullptr) return 1;
  RECT client;
  GetClientRect(window, &client);
  const POINT origin = ClientOrigin(window);
  const COLORREF menu = GetSysColor(COLOR_MENU);
  std::printf(
      "system menu colour %06lx\n",
      static_cast<unsigned long>(GetRValue(menu) << 16 | GetGValue(menu) << 8 | GetBValue(menu)));
  RECT below = {origin.x, origin.y + 80, origin.x + client.right, origin.y + client.bottom};
  std::printf("client area background %06lx\n",
              static_cast<unsigned long>(MostFrequentColour(CaptureScreen(below))));
  return 0;
}

struct WindowSearch {
  DWORD processId;
  const char* className;
  const char* title;  // null: any
  HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM lParam) {
  WindowSearch& search = *reinterpret_cast<WindowSearch*>(lParam);
  DWORD processId = 0;
  GetWindowThreadProcessId(window, &processId);
  if (processId != search.processId || !IsWindowVisible(window)) return TRUE;
  char className[128] = {};
  GetClassNameA(window, className, sizeof className);
  if (std::strcmp(className, search.className) != 0) return TRUE;
  if (search.title != nullptr) {
    char title[256] = {};
    GetWindowTextA(window, title, sizeof title);
    if (std::strcmp(title, search.title) != 0) return TRUE;
  }
  search.found = window;
  return FALSE;
}

HWND FindDemoWindow(HWND mainWindow, const char* className, const char* title) {
  WindowSearch search = {0, className, title, nullptr};
  GetWindowThreadProcessId(mainWindow, &search.processId);
  EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

BOOL CALLBACK AppendStaticText(HWND child, LPARAM lParam) {
  char className[64] = {};
  GetClassNameA(child, className, sizeof className);
  if (_stricmp(className, "Static") != 0) return TRUE;
  char text[1024] = {};
  GetWindowTextA(child, text, sizeof text);
  if (text[0] != '\0') *reinterpret_cast<std::string*>(lParam) += text;
  return TRUE;
}

// box CAPTION MS: waits up to MS for the demo's message box CAPTION and shows
// its text with tabs as \t and line ends as \r\n; "no box CAPTION" otherwise.
int ReportBox(const char* caption, DWORD timeoutMs) {
  HWND window = MainWindowOrComplain();
  if (window == nullptr) return 1;
  for (DWORD waited = 0;; waited += 50) {
    HWND box = FindDemoWindow(window, kBoxClass, caption);
    if (box != nullptr) {
      Sleep(300);  // let the box finish showing and take the focus
      std::string text;
      EnumChildWindows(box, AppendStaticText, reinterpret_cast<LPARAM>(&text));
      std::string shown;
      for (char c : text) {
        if (c == '\t') {
          shown += "\\t";
        } else if (c == '\r') {
          shown += "\\r";
        } else if (c == '\n') {
          shown += "\\n";
        } else {
          shown += c;
        }
      }
      std::printf("box %s: %s\n", caption, shown.c_str());
      return 0;
    }
    if (waited >= timeoutMs) break;
    Sleep(50);
  }
  std::printf("no box %s\n", caption);
  return 0;
}

// popup MS: waits for an open drop-down menu of the demo and reports the
// background colour of its lower half.
int ReportPopup(DWORD timeoutMs) {
  HWND window = MainWindowOrComplain();
  if (window == nullptr) return 1;
  for (DWORD waited = 0;; waited += 50) {
    HWND popup = FindDemoWindow(window, kMenuClass, nullptr);
    if (popup != nullptr) {
      Sleep(800);  // shown is not yet painted
      RECT r;
      GetWindowRect(popup, &r);
      r.top = (r.top + r.bottom) / 2;  // the lower half: the first item may be highlighted
      std::printf("drop-down menu background %06lx\n",
                  static_cast<unsigned long>(MostFrequentColour(CaptureScreen(r))));
      return 0;
    }
    if (waited >= timeoutMs) break;
    Sleep(50);
  }
  std::printf("no drop-down menu\n");
  return 0;
}

// info WPARAM: sends WM_GETTITLEBARINFOEX to the main window without waiting
// for its answer (the demo answers after its message box closes).
int SendTitleBarInfo(WPARAM wParam) {
  HWND window = MainWindowOrComplain();
  if (window == nullptr) return 1;
  return SendNotifyMessageA(window, WM_GETTITLEBARINFOEX, wParam, 0) ? 0 : 1;
}

// move X Y W H: moves and sizes the main window.
int MoveMainWindow(int x, int y, int width, int height) {
  HWND window = MainWindowOrComplain();
  if (window == nullptr) return 1;
  return SetWindowPos(window, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE) ? 0 : 1;
}

// watch MS: holds the demo's process from now on and reports its exit code
// when it ends, or "still running" after MS.
int WatchProcess(DWORD timeoutMs) {
  HWND window = MainWindowOrComplain();
  if (window == nullptr) return 1;
  DWORD processId = 0;
  GetWindowThreadProcessId(window, &processId);
  HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
  if (process == nullptr) {
    std::printf("cannot open the demo's process\n");
    return 1;
  }
  std::printf("watching\n");
  std::fflush(stdout);
  if (WaitForSingleObject(process, timeoutMs) != WAIT_OBJECT_0) {
    std::printf("still running\n");
    return 1;
  }
  DWORD code = 0;
  GetExitCodeProcess(process, &code);
  std::printf("exit code %ld\n", static_cast<long>(code));
  return 0;
}

// gone MS: waits until the main window no longer exists.
int WaitUntilGone(DWORD timeoutMs) {
  for (DWORD waited = 0;; waited += 50) {
    if (FindWindowA(kMainClass, nullptr) == nullptr) {
      std::printf("main window gone\n");
      return 0;
    }
    if (waited >= timeoutMs) break;
    Sleep(50);
  }
  std::printf("main window still there\n");
  return 1;
}

int Number(const char* text) {
  return static_cast<int>(std::strtol(text, nullptr, 10));
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  const char* command = argc > 1 ? argv[1] : "";
  const auto argument = [&](int i, int fallback) { return argc > i ? Number(argv[i]) : fallback; };
  if (std::strcmp(command, "find") == 0) {
    const bool found = WaitForMainWindow(static_cast<DWORD>(argument(2, 20000))) != nullptr;
    std::printf(found ? "main window found\n" : "no main window\n");
    return found ? 0 : 1;
  }
  if (std::strcmp(command, "rect") == 0) return ReportRectangle();
  if (std::strcmp(command, "brush") == 0) return ReportBrush();
  if (std::strcmp(command, "toolbar") == 0) return ReportToolbar();
  if (std::strcmp(command, "faces") == 0) return ReportFaces();
  if (std::strcmp(command, "button") == 0) return ReportButtonPoint(argument(2, 0) % kButtons);
  if (std::strcmp(command, "close-button") == 0) return ReportCloseButton();
  if (std::strcmp(command, "colours") == 0) return ReportColours();
  if (std::strcmp(command, "box") == 0 && argc > 2) {
    return ReportBox(argv[2], static_cast<DWORD>(argument(3, 5000)));
  }
  if (std::strcmp(command, "popup") == 0) return ReportPopup(static_cast<DWORD>(argument(2, 5000)));
  if (std::strcmp(command, "info") == 0)
    return SendTitleBarInfo(static_cast<WPARAM>(argument(2, 0)));
  if (std::strcmp(command, "move") == 0 && argc > 5) {
    return MoveMainWindow(Number(argv[2]), Number(argv[3]), Number(argv[4]), Number(argv[5]));
  }
  if (std::strcmp(command, "watch") == 0)
    return WatchProcess(static_cast<DWORD>(argument(2, 60000)));
  if (std::strcmp(command, "gone") == 0)
    return WaitUntilGone(static_cast<DWORD>(argument(2, 5000)));
  std::fprintf(stderr, "probe: unknown command \"%s\"\n", command);
  return 2;
}
