// The toolbar: its creation and set-up messages, the loading of the ten face
// bitmaps, and the custom draw that paints every button from its face.
#include "app/app.h"

namespace app {

namespace {

constexpr DWORD kToolbarStyle =
    WS_CHILD | WS_VISIBLE | TBSTYLE_CUSTOMERASE | TBSTYLE_FLAT | CCS_NOMOVEY;
constexpr int kToolbarTop = 24;
constexpr UINT_PTR kToolbarId = 256;
constexpr int kButtonSide = 32;
constexpr int kButtonCount = kFaceCount / 2;

// The face slot for a button: 2k for the normal face, 2k + 1 while pressed;
// -1 for an item that owns no face (the separator, or anything unexpected).
int FaceSlot(DWORD_PTR itemSpec, UINT itemState) {
  if (itemSpec >= static_cast<DWORD_PTR>(kButtonCount)) return -1;
  const int pressed = (itemState & CDIS_SELECTED) != 0 ? 1 : 0;
  return static_cast<int>(itemSpec) * 2 + pressed;
}

LRESULT PaintButton(const NMCUSTOMDRAW& draw) {
  const int slot = FaceSlot(draw.dwItemSpec, draw.uItemState);
  if (slot < 0) return CDRF_DODEFAULT;
  g_app.hMemDC = CreateCompatibleDC(draw.hdc);
  SelectObject(g_app.hMemDC, g_app.hBitmaps[slot]);
  const int width = draw.rc.right - draw.rc.left;
  const int height = draw.rc.bottom - draw.rc.top;
  StretchBlt(draw.hdc, draw.rc.left, draw.rc.top, width, height, g_app.hMemDC, 0, 0, width, height,
             SRCCOPY);
  DeleteDC(g_app.hMemDC);
  return CDRF_SKIPDEFAULT;
}

}  // namespace

void CreateToolbar(HWND parent) {
  g_app.hToolbar =
      CreateWindowExA(0, g_app.toolbarClassName, nullptr, kToolbarStyle, 0, kToolbarTop, 0, 0,
                      parent, reinterpret_cast<HMENU>(kToolbarId), g_app.hInstance, nullptr);
  SendMessageA(g_app.hToolbar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
  SendMessageA(g_app.hToolbar, TB_ADDBUTTONSA, kButtonEntries,
               reinterpret_cast<LPARAM>(g_app.tbButtons));
  SendMessageA(g_app.hToolbar, TB_SETBUTTONSIZE, 0, MAKELPARAM(kButtonSide, kButtonSide));
  SendMessageA(g_app.hToolbar, TB_AUTOSIZE, 0, 0);
}

void LoadFaces() {
  for (int i = 0; i < kFaceCount; ++i) {
    g_app.hBitmaps[i] = LoadBitmapA(g_app.hInstance, MAKEINTRESOURCEA(kFirstFaceId + i));
  }
}

LRESULT HandleNotify(LPARAM lParam) {
  const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
  if (header->code != static_cast<UINT>(NM_CUSTOMDRAW)) return 0;
  const NMCUSTOMDRAW& draw = *reinterpret_cast<const NMCUSTOMDRAW*>(lParam);
  if (draw.dwDrawStage == CDDS_PREPAINT) return TBCDRF_NOBACKGROUND | CDRF_NOTIFYITEMDRAW;
  if (draw.dwDrawStage == CDDS_ITEMPREPAINT) return PaintButton(draw);
  return CDRF_DODEFAULT;
}

}  // namespace app
