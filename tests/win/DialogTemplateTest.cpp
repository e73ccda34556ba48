// The main dialog's template in the resources (linked into this program as into the
// installer), and the Windows dialog back end running the dialog made from it. Showing a
// dialog needs a desktop (under Wine an X server); without one the live test is skipped, or
// fails when INSTALLER_REQUIRE_DESKTOP is set.
#include "platform/win32/Win32Dialog.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "platform/Threads.h"
#include "platform/win32/Win32Bitmap.h"

namespace {

constexpr DWORD V = WS_VISIBLE, T = WS_TABSTOP, kGroup = BS_GROUPBOX, kPush = BS_PUSHBUTTON,
                kList = CBS_DROPDOWNLIST | CBS_AUTOHSCROLL | WS_VSCROLL;
struct ControlRow {
  int id;
  const char* className;
  DWORD style;  // besides WS_CHILD
  const char* text;
  int x, y, width, height;
};
// The controls in template order, with their places in dialog units.
const ControlRow kRows[] = {
    {1013, "Button", kGroup | V, "Installation Status", 7, 122, 236, 27},
    {1012, "Button", kGroup | V, "Installation Progress", 7, 90, 236, 27},
    {1001, "msctls_progress32", V | WS_BORDER, "", 15, 100, 220, 10},
    {1003, "Button", kPush | V | T, "Create &Floppy", 168, 162, 67, 15},
    {1005, "Button", kPush | V | T, "&Create CD-ROM", 168, 194, 67, 15},
    {1004, "Button", kPush | V | T, "&Exit", 92, 217, 65, 15},
    {-1, "Static", SS_WHITERECT | SS_SUNKEN | V, "", 7, 7, 236, 73},
    {1011, "Static", SS_BITMAP | V, "", 15, 15, 15, 13},
    {1018, "Button", kGroup | V, "Floppy", 7, 154, 236, 27},
    {1017, "Button", kGroup | V, "CD-ROM", 7, 186, 236, 27},
    {1015, "ComboBox", kList | V | T, "", 15, 163, 142, 130},
    {1016, "ComboBox", kList | V | T, "", 15, 195, 142, 130},
    {1002, "Static", SS_LEFT | V | WS_GROUP, "", 15, 134, 220, 10},
    {1019, "Button", kPush | T, ".img", 200, 218, 35, 12},
    {1021, "Button", kPush | T, ".iso", 15, 218, 35, 12},
    {1006, "Button", kPush | T, "Make &Bootable", 168, 194, 67, 15},
    {1023, "ComboBox", kList | T, "", 15, 195, 142, 130},
    {1022, "Button", kGroup, "Hard Disks", 7, 186, 236, 27},
};

std::string Text(HWND window) {
  char text[256] = {};
  GetWindowTextA(window, text, sizeof text);
  return text;
}

// The text at `at` in a DIALOG template, or the predefined class that 0xFFFF and a number name;
// moves past it.
std::string Name(const WORD*& at) {
  const char* const classes[] = {"Button", "Edit", "Static", "ListBox", "ScrollBar", "ComboBox"};
  if (*at == 0xFFFF) return at += 2, at[-1] >= 0x80 && at[-1] <= 0x85 ? classes[at[-1] - 0x80] : "";
  std::string text;
  while (*at != 0) text.push_back(static_cast<char>(*at++));
  return ++at, text;
}

TEST(DialogTemplateTest, TheResourceHoldsTheDialogAndEveryControlExactly) {
  HMODULE module = GetModuleHandleA(nullptr);
  HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(101), MAKEINTRESOURCEA(5));
  ASSERT_NE(found, nullptr) << "no dialog 101 in the resources";
  const auto* dialog = static_cast<const DLGTEMPLATE*>(LockResource(LoadResource(module, found)));
  EXPECT_EQ(dialog->style, DWORD{DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_SETFONT});
  EXPECT_EQ(std::vector<int>(
                {int(dialog->dwExtendedStyle), dialog->x, dialog->y, dialog->cx, dialog->cy}),
            std::vector<int>({0, 0, 0, 250, 239}));
  ASSERT_EQ(dialog->cdit, std::size(kRows));
  const WORD* at = reinterpret_cast<const WORD*>(dialog + 1);
  EXPECT_EQ(Name(at) + Name(at) + Name(at), "");  // no menu, the system's class, no caption
  EXPECT_EQ(*at++, 8);
  EXPECT_EQ(Name(at), "MS Sans Serif");
  for (const ControlRow& row : kRows) {  // each item on a 4-byte bound
    SCOPED_TRACE(row.id);
    const auto* item = reinterpret_cast<const DLGITEMTEMPLATE*>((uintptr_t(at) + 3) & ~3u);
    EXPECT_EQ(item->style, WS_CHILD | row.style);
    EXPECT_EQ(std::vector<int>({int(item->dwExtendedStyle), item->x, item->y, item->cx, item->cy,
                                short(item->id)}),
              std::vector<int>({0, row.x, row.y, row.width, row.height, row.id}));
    at = reinterpret_cast<const WORD*>(item + 1);
    EXPECT_EQ(lstrcmpiA(Name(at).c_str(), row.className), 0);
    EXPECT_EQ(Name(at), row.text);
    at += 1 + (*at + 1) / 2;  // the creation data and its size
  }
  EXPECT_EQ(reinterpret_cast<const uint8_t*>(at) - reinterpret_cast<const uint8_t*>(dialog),
            SizeofResource(module, found));
}

// DialogEvents with scripted handlers; every event is logged.
struct ScriptedEvents : platform::DialogEvents {
  bool OnInitDialog() override { return Log("init"), onInit(); }
  void OnCommand(int id) override { Log("command " + std::to_string(id)), onCommand(id); }
  void OnShowWindow(bool show) override { Log(show ? "show" : "hide"), show ? onShown() : void(); }
  bool OnClose() override { return Log("close"), onClose(); }
  void Log(const std::string& event) { log.push_back(event); }
  std::function<bool()> onInit = [] { return true; };
  std::function<void()> onShown = [] {};  // once the modal loop first idles
  std::function<void(int)> onCommand = [](int) {};
  std::function<bool()> onClose = [] { return true; };
  std::vector<std::string> log;
};

// Ends a dialog that the test fails to end, with a code no test expects, so that a broken
// run fails instead of hanging.
struct Watchdog {
  explicit Watchdog(platform::DialogWindow& dialog)
      : thread([this, &dialog] {
          if (WaitForSingleObject(done, 20000) == WAIT_TIMEOUT) dialog.EndDialog(-7777);
        }) {}
  ~Watchdog() { SetEvent(done), thread.join(), CloseHandle(done); }
  HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  platform::JoinableThread thread;
};

// What a box of `dialog` showed when a thread of the test answered it with `button`.
struct Box {
  int answer = 0;
  HWND owner = HWND(1);
};
Box Show(platform::Win32Dialog& dialog, const std::string& caption, int button, bool owned) {
  Box seen;
  platform::JoinableThread presser([&] {
    for (int tries = 0; tries < 1000; ++tries, Sleep(20)) {  // 20 seconds
      HWND box = FindWindowA("#32770", caption.c_str());
      if (box == nullptr || !IsWindowVisible(box)) continue;
      seen.owner = GetWindow(box, GW_OWNER);
      EXPECT_EQ(Text(GetDlgItem(box, 0xFFFF)), caption + " text");
      PostMessageA(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
      return;
    }
  });
  seen.answer = dialog.MessageBox(caption + " text", caption,
                                  platform::kMbOkCancel | platform::kMbIconError, owned);
  return seen;
}

// The dialog comes from the template; another thread sets its controls while the dialog's
// own runs the loop and ends it; a box is owned by the dialog only while it runs and when
// asked; closing ends the dialog only when the program agrees.
TEST(Win32DialogTest, TheDialogFromTheTemplateAnswersItsProgramAndOtherThreads) {
  HWND probe = CreateWindowExA(0, "Static", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
  if (probe == nullptr && std::getenv("INSTALLER_REQUIRE_DESKTOP") != nullptr) {
    FAIL() << "no desktop to create windows on";
  }
  if (probe == nullptr) GTEST_SKIP() << "no desktop to create windows on";
  DestroyWindow(probe);
  platform::Win32Dialog dialog(GetModuleHandleA(nullptr));

  ScriptedEvents events;
  platform::JoinableThread worker;
  HBITMAP picture = nullptr;
  int selection = -2;
  events.onInit = [&] {
    for (const char* drive : {"A:", "B:", "C:"}) dialog.AddListItem(1015, drive);
    worker = platform::JoinableThread([&] {
      dialog.SetTitle("Another thread's title");
      dialog.SetText(1002, "Written by another thread");
      dialog.Enable(1003, false);
      dialog.SetProgressRange(1001, 1000);
      dialog.SetProgressPos(1001, 999);
      dialog.AddListItem(1016, "One");
      dialog.AddListItem(1016, "Two");
      dialog.SetListSelection(1016, 1);
      HDC screen = GetDC(nullptr);
      picture = CreateCompatibleBitmap(screen, 40, 30);
      ReleaseDC(nullptr, screen);
      dialog.SetPicture(1011, std::make_unique<platform::Win32Bitmap>(picture, 40, 30));
      selection = dialog.GetListSelection(1016);
      PostMessageA(dialog.window(), WM_COMMAND, MAKEWPARAM(1005, BN_CLICKED), 0);
    });
    return true;
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
  {
    Watchdog watchdog(dialog);
    EXPECT_EQ(dialog.RunModal(events), 77);
    EXPECT_EQ(dialog.RunModal(closing), platform::kIdCancelCommand);
  }
  worker.join();
  EXPECT_EQ(selection, 1);
  EXPECT_EQ(owned.answer, platform::kIdOk);
  EXPECT_EQ(owned.owner, window);
  EXPECT_EQ(free.answer, platform::kIdCancel);
  EXPECT_EQ(free.owner, nullptr);
  // Ending the dialog takes it off the screen, with WM_SHOWWINDOW or not (Wine: not).
  if (events.log.back() == "hide") events.log.pop_back();
  EXPECT_EQ(events.log, (std::vector<std::string>{"init", "show", "command 1005", "close"}));
  EXPECT_NE(window, nullptr);  // the run is over: the window is gone, and changes reach nothing
  EXPECT_EQ(dialog.window(), nullptr);
  EXPECT_FALSE(IsWindow(window));
  dialog.SetText(1002, "after the run");
  EXPECT_EQ(dialog.GetListSelection(1015), platform::kNoSelection);
}

}  // namespace
