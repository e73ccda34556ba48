// The dialog template in the resources, and the Windows dialog back end running it.
#include "platform/win32/Win32Dialog.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <iterator>
#include <tuple>
#include <vector>

#include "platform/Threads.h"
#include "platform/win32/Win32Bitmap.h"

namespace {

constexpr DWORD V = WS_VISIBLE, T = WS_TABSTOP, kGroup = BS_GROUPBOX, kPush = BS_PUSHBUTTON,
                kList = CBS_DROPDOWNLIST | CBS_AUTOHSCROLL | WS_VSCROLL;
// The controls in template order: id, class, style besides WS_CHILD, text, place in dialog units.
using ControlRow = std::tuple<int, std::string, DWORD, std::string, int, int, int, int>;
const ControlRow kRows[] = {
    {1013, "BUTTON", kGroup | V, "Installation Status", 7, 122, 236, 27},
    {1012, "BUTTON", kGroup | V, "Installation Progress", 7, 90, 236, 27},
    {1001, "MSCTLS_PROGRESS32", V | WS_BORDER, "", 15, 100, 220, 10},
    {1003, "BUTTON", kPush | V | T, "Create &Floppy", 168, 162, 67, 15},
    {1005, "BUTTON", kPush | V | T, "&Create CD-ROM", 168, 194, 67, 15},
    {1004, "BUTTON", kPush | V | T, "&Exit", 92, 217, 65, 15},
    {-1, "STATIC", SS_WHITERECT | SS_SUNKEN | V, "", 7, 7, 236, 73},
    {1011, "STATIC", SS_BITMAP | V, "", 15, 15, 15, 13},
    {1018, "BUTTON", kGroup | V, "Floppy", 7, 154, 236, 27},
    {1017, "BUTTON", kGroup | V, "CD-ROM", 7, 186, 236, 27},
    {1015, "COMBOBOX", kList | V | T, "", 15, 163, 142, 130},
    {1016, "COMBOBOX", kList | V | T, "", 15, 195, 142, 130},
    {1002, "STATIC", SS_LEFT | V | WS_GROUP, "", 15, 134, 220, 10},
    {1019, "BUTTON", kPush | T, ".img", 200, 218, 35, 12},
    {1021, "BUTTON", kPush | T, ".iso", 15, 218, 35, 12},
    {1006, "BUTTON", kPush | T, "Make &Bootable", 168, 194, 67, 15},
    {1023, "COMBOBOX", kList | T, "", 15, 195, 142, 130},
    {1022, "BUTTON", kGroup, "Hard Disks", 7, 186, 236, 27},
};

std::string Text(HWND window) {
  char text[256] = {};
  GetWindowTextA(window, text, sizeof text);
  return text;
}

// Reads past a text in a DIALOG template ("#N" for 0xFFFF and an atom N).
std::string Name(const WORD*& at) {
  if (*at == 0xFFFF) return at += 2, "#" + std::to_string(at[-1]);
  std::string text;
  while (*at != 0) text.push_back(static_cast<char>(*at++));
  return ++at, text;
}

struct ScriptedEvents : platform::DialogEvents {
  bool OnInitDialog() override { return onInit(), true; }
  void OnCommand(int id) override { onCommand(id); }
  void OnShowWindow(bool show) override { show ? onShown() : void(); }  // first idle
  bool OnClose() override { return onClose(); }
  std::function<void()> onInit = [] {}, onShown = [] {};
  std::function<bool()> onClose = [] { return true; };
  std::function<void(int)> onCommand = [](int) {};
};

// The answer and owner of a box of `dialog` that a thread of the test answered with `button`.
using Box = std::pair<int, HWND>;
Box Show(platform::Win32Dialog& dialog, const std::string& caption, int button, bool owned) {
  Box seen = {0, HWND(1)};
  platform::JoinableThread presser([&] {
    for (int tries = 0; tries < 1000; ++tries, Sleep(20)) {  // 20 seconds
      HWND box = FindWindowA("#32770", caption.c_str());
      if (box == nullptr || !IsWindowVisible(box)) continue;
      seen.second = GetWindow(box, GW_OWNER);
      EXPECT_EQ(Text(GetDlgItem(box, 0xFFFF)), caption + " text");
      PostMessageA(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
      return;
    }
  });
  seen.first = dialog.MessageBox(caption + " text", caption,
                                 platform::kMbOkCancel | platform::kMbIconError, owned);
  return seen;
}

// The template holds every control; another thread sets them; boxes are owned only when asked.
TEST(Win32DialogTest, TheTemplateHoldsEveryControlAndItsDialogAnswersOtherThreads) {
  HMODULE module = GetModuleHandleA(nullptr);
  HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(101), MAKEINTRESOURCEA(5));
  ASSERT_NE(found, nullptr) << "no dialog 101 in the resources";
  const auto* tmpl = static_cast<const DLGTEMPLATE*>(LockResource(LoadResource(module, found)));
  EXPECT_EQ(std::vector<int64_t>(
                {tmpl->style, tmpl->dwExtendedStyle, tmpl->x, tmpl->y, tmpl->cx, tmpl->cy}),
            std::vector<int64_t>({DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_SETFONT,
                                  0, 0, 0, 250, 239}));
  ASSERT_EQ(tmpl->cdit, std::size(kRows));
  const WORD* at = reinterpret_cast<const WORD*>(tmpl + 1);
  EXPECT_EQ(Name(at) + Name(at) + Name(at), "");  // no menu, the system's class, no caption
  EXPECT_EQ(*at++, 8);
  EXPECT_EQ(Name(at), "MS Sans Serif");
  for (const ControlRow& row : kRows) {  // each item on a 4-byte bound
    const auto* item = reinterpret_cast<const DLGITEMTEMPLATE*>((uintptr_t(at) + 3) & ~3u);
    at = reinterpret_cast<const WORD*>(item + 1);
    const std::string className = Name(at);
    EXPECT_EQ(ControlRow(short(item->id), className, item->style ^ WS_CHILD, Name(at), item->x,
                         item->y, item->cx, item->cy),
              row);
    EXPECT_EQ(item->dwExtendedStyle, 0u);
    at += 1 + (*at + 1) / 2;  // the creation data and its size
  }
  EXPECT_EQ(reinterpret_cast<const uint8_t*>(at) - reinterpret_cast<const uint8_t*>(tmpl),
            SizeofResource(module, found));
  HWND probe = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 1, 1, 0, 0, 0, 0);
  if (!probe && std::getenv("INSTALLER_REQUIRE_DESKTOP")) FAIL() << "no desktop";
  if (!probe) GTEST_SKIP() << "no desktop to create windows on";
  DestroyWindow(probe);
  platform::Win32Dialog dialog(GetModuleHandleA(nullptr));
  ScriptedEvents events;
  platform::JoinableThread worker;
  HBITMAP picture = nullptr;
  events.onInit = [&] {
    for (const char* drive : {"A:", "B:", "C:"}) dialog.AddListItem(1015, drive);
    worker = platform::JoinableThread([&] {
      dialog.SetTitle("Another thread's title");
      dialog.SetText(1002, "Written by another thread");
      dialog.Enable(1003, false);
      dialog.SetProgressRange(1001, 1000);
      dialog.SetProgressPos(1001, 999);
      for (const char* item : {"One", "Two"}) dialog.AddListItem(1016, item);
      dialog.SetListSelection(1016, 1);
      picture = CreateBitmap(40, 30, 1, 1, nullptr);
      dialog.SetPicture(1011, std::make_unique<platform::Win32Bitmap>(picture, 40, 30));
      PostMessageA(dialog.window(), WM_COMMAND, MAKEWPARAM(1005, BN_CLICKED), 0);
    });
  };
  HWND window = nullptr;
  Box owned, free;
  events.onCommand = [&](int id) {
    if (id != 1005) return;
    window = dialog.window();
    const auto send = [window](int control, UINT message, WPARAM wParam = 0) {
      return SendDlgItemMessageA(window, control, message, wParam, 0);
    };
    EXPECT_EQ(Text(window), "Another thread's title");
    EXPECT_EQ(Text(GetDlgItem(window, 1002)), "Written by another thread");
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(window, 1003)));
    EXPECT_EQ(send(1015, CB_GETCOUNT) * 10 + send(1016, CB_GETCOUNT), 32);
    EXPECT_EQ(dialog.GetListSelection(1015), platform::kNoSelection);  // items, none selected
    EXPECT_EQ(dialog.GetListSelection(1016), 1);
    EXPECT_EQ(send(1001, PBM_GETPOS), 999);
    EXPECT_EQ(send(1001, PBM_GETRANGE, FALSE), 1000);
    EXPECT_EQ(HBITMAP(send(1011, STM_GETIMAGE, IMAGE_BITMAP)), picture);
    owned = Show(dialog, "Owned", IDOK, true);
    free = Show(dialog, "Free", IDCANCEL, false);
    PostMessageA(window, WM_CLOSE, 0, 0);
  };
  events.onClose = [&] {  // refused: the dialog is ended from another thread instead
    worker.join();
    worker = platform::JoinableThread([&] { dialog.EndDialog(77); });
    return false;
  };
  ScriptedEvents closing;  // a close that the program accepts ends the dialog
  closing.onShown = [&] { PostMessageA(dialog.window(), WM_CLOSE, 0, 0); };
  HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  platform::JoinableThread watchdog([&] {  // a run the test fails to end fails instead of hanging
    if (WaitForSingleObject(done, 20000) == WAIT_TIMEOUT) dialog.EndDialog(-7777);
  });
  EXPECT_EQ(dialog.RunModal(events), 77);
  EXPECT_EQ(dialog.RunModal(closing), platform::kIdCancelCommand);
  SetEvent(done), watchdog.join(), worker.join(), CloseHandle(done);
  EXPECT_EQ(owned, Box(platform::kIdOk, window));
  EXPECT_EQ(free, Box(platform::kIdCancel, nullptr));
  EXPECT_NE(window, nullptr);  // the run is over: changes reach nothing
  EXPECT_EQ(dialog.window(), nullptr);
  EXPECT_EQ(dialog.GetListSelection(1015), platform::kNoSelection);
}
}  // namespace
