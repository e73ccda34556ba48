// The main dialog's template as stored in the resources, and the Windows dialog back end
// running it. The resources of the installer are linked into this test program, so the
// dialog comes from the same template as in the installer. Showing a dialog needs a
// desktop (under Wine an X server); without one these tests are skipped, or fail when
// INSTALLER_REQUIRE_DESKTOP is set.
#include "platform/win32/Win32Dialog.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <atomic>
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

constexpr int kTemplate = 101;

// ---- The template table --------------------------------------------------------------

// Each kind of control: its class, and the style bits it has in the template besides
// WS_CHILD and the flags of its row.
struct Kind {
  const char* className;
  DWORD style;
};
const Kind kGroupBox{"Button", BS_GROUPBOX}, kPushButton{"Button", BS_PUSHBUTTON},
    kProgress{"msctls_progress32", 0}, kWhiteRect{"Static", SS_WHITERECT | SS_SUNKEN},
    kPicture{"Static", SS_BITMAP}, kLabel{"Static", SS_LEFT},
    kComboList{"ComboBox", CBS_DROPDOWNLIST | CBS_AUTOHSCROLL | WS_VSCROLL};

struct ControlRow {
  int id;
  const Kind& kind;
  const char* text;
  int x, y, width, height;
  DWORD flags;  // WS_VISIBLE, WS_TABSTOP, WS_GROUP, WS_BORDER
};
constexpr DWORD V = WS_VISIBLE, T = WS_TABSTOP;

// The controls in template order, with their places in dialog units.
const ControlRow kRows[] = {
    {1013, kGroupBox, "Installation Status", 7, 122, 236, 27, V},
    {1012, kGroupBox, "Installation Progress", 7, 90, 236, 27, V},
    {1001, kProgress, "", 15, 100, 220, 10, V | WS_BORDER},
    {1003, kPushButton, "Create &Floppy", 168, 162, 67, 15, V | T},
    {1005, kPushButton, "&Create CD-ROM", 168, 194, 67, 15, V | T},
    {1004, kPushButton, "&Exit", 92, 217, 65, 15, V | T},
    {-1, kWhiteRect, "", 7, 7, 236, 73, V},
    {1011, kPicture, "", 15, 15, 15, 13, V},
    {1018, kGroupBox, "Floppy", 7, 154, 236, 27, V},
    {1017, kGroupBox, "CD-ROM", 7, 186, 236, 27, V},
    {1015, kComboList, "", 15, 163, 142, 130, V | T},
    {1016, kComboList, "", 15, 195, 142, 130, V | T},
    {1002, kLabel, "", 15, 134, 220, 10, V | WS_GROUP},
    {1019, kPushButton, ".img", 200, 218, 35, 12, T},
    {1021, kPushButton, ".iso", 15, 218, 35, 12, T},
    {1006, kPushButton, "Make &Bootable", 168, 194, 67, 15, T},
    {1023, kComboList, "", 15, 195, 142, 130, T},
    {1022, kGroupBox, "Hard Disks", 7, 186, 236, 27, 0},
};

std::string Text(HWND window) {
  char text[256] = {};
  GetWindowTextA(window, text, sizeof text);
  return text;
}

// ---- The template as stored in the resources ------------------------------------------

// Reads a DIALOG (not DIALOGEX) template: the header, then the items on 4-byte bounds.
class TemplateReader {
 public:
  TemplateReader(const uint8_t* bytes, size_t size) : start_(bytes), size_(size) {}

  bool ok() const { return at_ <= size_; }
  WORD Word() {
    at_ += 2;
    return ok() ? static_cast<WORD>(start_[at_ - 2] | (start_[at_ - 1] << 8)) : 0;
  }
  DWORD Dword() { return Word() | (static_cast<DWORD>(Word()) << 16); }
  short Short() { return static_cast<short>(Word()); }
  /// A zero-terminated UTF-16 text of plain ASCII characters.
  std::string Text() {
    std::string text;
    for (WORD unit = Word(); ok() && unit != 0; unit = Word()) {
      text.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
    }
    return text;
  }
  /// A name, or 0xFFFF and a number, which comes back as "#n"; the predefined classes
  /// that a template names by number come back by name.
  std::string NameOrNumber() {
    if (at_ + 2 > size_ || start_[at_] != 0xFF || start_[at_ + 1] != 0xFF) return Text();
    Word();
    const std::string number = "#" + std::to_string(Word());
    if (number == "#128") return "Button";
    if (number == "#130") return "Static";
    return number == "#133" ? "ComboBox" : number;
  }
  void AlignToDword() { at_ = (at_ + 3) & ~static_cast<size_t>(3); }
  void Skip(size_t bytes) { at_ += bytes; }

 private:
  const uint8_t* start_;
  size_t size_;
  size_t at_ = 0;
};

TEST(DialogTemplateResourceTest, TemplateHoldsTheDialogAndEveryControlExactly) {
  HMODULE module = GetModuleHandleA(nullptr);
  HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(kTemplate), MAKEINTRESOURCEA(5));
  ASSERT_NE(found, nullptr) << "no dialog 101 in the resources";
  const auto* bytes = static_cast<const uint8_t*>(LockResource(LoadResource(module, found)));
  ASSERT_NE(bytes, nullptr);
  TemplateReader reader(bytes, SizeofResource(module, found));

  const DWORD style = reader.Dword();
  ASSERT_NE(style, 0xFFFF0001u) << "an extended template";
  EXPECT_EQ(style,
            static_cast<DWORD>(DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_SETFONT));
  EXPECT_EQ(reader.Dword(), 0u);  // extended style
  const WORD count = reader.Word();
  EXPECT_EQ(count, std::size(kRows));
  EXPECT_EQ(reader.Short(), 0);
  EXPECT_EQ(reader.Short(), 0);
  EXPECT_EQ(reader.Short(), 250);
  EXPECT_EQ(reader.Short(), 239);
  EXPECT_EQ(reader.NameOrNumber(), "");  // no menu
  EXPECT_EQ(reader.NameOrNumber(), "");  // the system's dialog class
  EXPECT_EQ(reader.Text(), "");          // the caption
  EXPECT_EQ(reader.Word(), 8);
  EXPECT_EQ(reader.Text(), "MS Sans Serif");
  ASSERT_TRUE(reader.ok());

  for (size_t i = 0; i < count && i < std::size(kRows); ++i) {
    const ControlRow& row = kRows[i];
    SCOPED_TRACE("item " + std::to_string(i) + ", control " + std::to_string(row.id));
    reader.AlignToDword();
    const DWORD itemStyle = reader.Dword();
    const DWORD expected = WS_CHILD | row.flags | row.kind.style;
    EXPECT_EQ(itemStyle, expected) << std::hex << itemStyle << " " << expected;
    EXPECT_EQ(reader.Dword(), 0u);  // extended style
    EXPECT_EQ(reader.Short(), row.x);
    EXPECT_EQ(reader.Short(), row.y);
    EXPECT_EQ(reader.Short(), row.width);
    EXPECT_EQ(reader.Short(), row.height);
    EXPECT_EQ(reader.Word(), static_cast<WORD>(row.id));
    EXPECT_EQ(lstrcmpiA(reader.NameOrNumber().c_str(), row.kind.className), 0);
    EXPECT_EQ(reader.NameOrNumber(), row.text);
    reader.Skip(reader.Word());  // creation data
    ASSERT_TRUE(reader.ok());
  }
}

// ---- The dialog back end -------------------------------------------------------------

// DialogEvents whose handlers are set by each test. Every event is logged.
class ScriptedEvents : public platform::DialogEvents {
 public:
  std::function<bool()> onInit = [] { return true; };
  // The modal loop shows the dialog once its queue is first empty; a test that acts as
  // the user does starts here.
  std::function<void()> onShown = [] {};
  std::function<void(int)> onCommand = [](int) {};
  std::function<bool()> onClose = [] { return true; };

  bool OnInitDialog() override {
    log.push_back("init");
    return onInit();
  }
  void OnCommand(int controlId) override {
    log.push_back("command " + std::to_string(controlId));
    onCommand(controlId);
  }
  void OnShowWindow(bool show) override {
    log.push_back(show ? "show" : "hide");
    if (show) onShown();
  }
  bool OnClose() override {
    log.push_back("close");
    return onClose();
  }

  std::vector<std::string> log;
};

// The log without a last "hide": ending the dialog takes it off the screen, and whether
// that comes as WM_SHOWWINDOW is the system's choice (Wine hides the window without it).
std::vector<std::string> WithoutClosingHide(std::vector<std::string> log) {
  if (!log.empty() && log.back() == "hide") log.pop_back();
  return log;
}

// Ends a dialog that the test fails to end itself, so that a broken run fails instead of
// hanging: after the time-out it ends the dialog with a code no test expects.
class Watchdog {
 public:
  explicit Watchdog(platform::DialogWindow& dialog)
      : finished_(CreateEventA(nullptr, TRUE, FALSE, nullptr)), thread_([this, &dialog] {
          if (WaitForSingleObject(finished_, kTimeoutMs) == WAIT_TIMEOUT)
            dialog.EndDialog(kTimedOut);
        }) {}
  ~Watchdog() {
    SetEvent(finished_);
    thread_.join();
    CloseHandle(finished_);
  }
  static constexpr int kTimedOut = -7777;

 private:
  static constexpr DWORD kTimeoutMs = 20000;
  HANDLE finished_;
  platform::JoinableThread thread_;
};

class Win32DialogTest : public ::testing::Test {
 protected:
  // Skipped where this process can make no windows (Wine without an X server), unless
  // INSTALLER_REQUIRE_DESKTOP is set, as under xvfb-run.
  void SetUp() override {
    HWND probe = CreateWindowExA(0, "Static", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                 GetModuleHandleA(nullptr), nullptr);
    if (probe != nullptr) {
      DestroyWindow(probe);
      return;
    }
    const char* required = std::getenv("INSTALLER_REQUIRE_DESKTOP");
    if (required != nullptr && *required != '\0') FAIL() << "no desktop to create windows on";
    GTEST_SKIP() << "no desktop to create windows on";
  }

  platform::Win32Dialog dialog_{GetModuleHandleA(nullptr)};
};

LRESULT Send(HWND dialog, int id, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
  return SendDlgItemMessageA(dialog, id, message, wParam, lParam);
}

std::string ItemText(HWND dialog, int id) {
  return Text(GetDlgItem(dialog, id));
}

std::unique_ptr<platform::Win32Bitmap> MakeBitmap(int width, int height) {
  HDC screen = GetDC(nullptr);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  ReleaseDC(nullptr, screen);
  return std::make_unique<platform::Win32Bitmap>(bitmap, width, height);
}

// The calls of a monitor thread, made while the dialog's thread runs its loop; the
// dialog's thread then reads the controls back in a command, and the end comes after it.
TEST_F(Win32DialogTest, AnotherThreadSetsTheControlsAndEndsTheDialog) {
  ScriptedEvents events;
  platform::JoinableThread worker;
  std::atomic<int> selectionSeenByWorker{-2};
  std::atomic<HBITMAP> pictureFromWorker{nullptr};
  HWND dialogWindow = nullptr;

  events.onInit = [&] {
    for (const char* drive : {"A:", "B:", "C:"}) dialog_.AddListItem(1015, drive);
    const HWND window = dialog_.window();
    worker = platform::JoinableThread([&, window] {
      dialog_.SetTitle("Another thread's title");
      dialog_.SetText(1002, "Written by another thread");
      dialog_.SetText(1004, "&Leave");
      dialog_.Enable(1003, false);
      dialog_.SetProgressRange(1001, 1000);
      dialog_.SetProgressPos(1001, 999);
      dialog_.AddListItem(1016, "One");
      dialog_.AddListItem(1016, "Two");
      dialog_.SetListSelection(1016, 1);
      auto picture = MakeBitmap(40, 30);
      pictureFromWorker = picture->handle();
      dialog_.SetPicture(1011, std::move(picture));
      selectionSeenByWorker = dialog_.GetListSelection(1016);
      PostMessageA(window, WM_COMMAND, MAKEWPARAM(1005, BN_CLICKED), 0);
      dialog_.EndDialog(77);
    });
    return true;
  };
  events.onCommand = [&](int id) {
    if (id != 1005) return;
    const HWND window = dialogWindow = dialog_.window();
    EXPECT_EQ(Text(window), "Another thread's title");
    EXPECT_EQ(ItemText(window, 1002), "Written by another thread");
    EXPECT_EQ(ItemText(window, 1004), "&Leave");
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(window, 1003)));
    EXPECT_EQ(Send(window, 1015, CB_GETCOUNT), 3);
    EXPECT_EQ(Send(window, 1016, CB_GETCOUNT), 2);
    EXPECT_EQ(dialog_.GetListSelection(1015), platform::kNoSelection);  // items, none selected
    EXPECT_EQ(Send(window, 1001, PBM_GETPOS), 999);
    EXPECT_EQ(Send(window, 1001, PBM_GETRANGE, FALSE), 1000);
    const LRESULT picture = Send(window, 1011, STM_GETIMAGE, IMAGE_BITMAP);
    EXPECT_NE(picture, 0);
    EXPECT_EQ(reinterpret_cast<HBITMAP>(picture), pictureFromWorker.load());
    RECT place;  // the picture control grows to its bitmap
    GetWindowRect(GetDlgItem(window, 1011), &place);
    EXPECT_EQ(place.right - place.left, 40);
    EXPECT_EQ(place.bottom - place.top, 30);
  };

  int code = 0;
  {
    Watchdog watchdog(dialog_);
    code = dialog_.RunModal(events);
  }
  worker.join();
  EXPECT_EQ(code, 77);
  EXPECT_EQ(selectionSeenByWorker.load(), 1);
  // The command came, and the run is over: the window is gone, and changes reach nothing.
  EXPECT_NE(dialogWindow, nullptr);
  EXPECT_EQ(dialog_.window(), nullptr);
  EXPECT_FALSE(IsWindow(dialogWindow));
  dialog_.SetText(1002, "after the run");
  EXPECT_EQ(dialog_.GetListSelection(1015), platform::kNoSelection);
}

// What a message box showed, and to whom it belonged, when a thread of the test pressed
// `button` in it.
struct BoxSeen {
  int answer = 0;
  HWND owner = reinterpret_cast<HWND>(1);
  std::string text;
};

BoxSeen ShowBox(platform::Win32Dialog& dialog, const char* text, const char* caption, int button,
                bool ownedByDialog) {
  BoxSeen seen;
  platform::JoinableThread closer([&] {
    for (int tries = 0; tries < 1000; ++tries, Sleep(20)) {  // 20 seconds
      HWND box = FindWindowA("#32770", caption);
      if (box == nullptr || !IsWindowVisible(box)) continue;
      seen.owner = GetWindow(box, GW_OWNER);
      seen.text = ItemText(box, 0xFFFF);  // the message box's static text
      PostMessageA(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
      return;
    }
  });
  seen.answer = dialog.MessageBox(text, caption, platform::kMbOkCancel | platform::kMbIconError,
                                  ownedByDialog);
  closer.join();
  return seen;
}

// A box is owned by the dialog only while it runs and when asked; Escape gives the cancel
// command, and closing ends the dialog only when the program agrees.
TEST_F(Win32DialogTest, MessageBoxesEscapeAndCloseFollowTheProgram) {
  const BoxSeen before = ShowBox(dialog_, "Nothing to show yet.", "Before", IDCANCEL, true);
  EXPECT_EQ(before.answer, platform::kIdCancel);
  EXPECT_EQ(before.owner, nullptr);
  EXPECT_EQ(before.text, "Nothing to show yet.");

  ScriptedEvents events;
  HWND dialogWindow = nullptr;
  BoxSeen owned, free;
  int closes = 0;
  events.onShown = [&] {
    PostMessageA(dialog_.window(), WM_COMMAND, MAKEWPARAM(1003, BN_CLICKED), 0);
  };
  events.onCommand = [&](int id) {
    if (id == platform::kIdCancelCommand) PostMessageA(dialog_.window(), WM_CLOSE, 0, 0);
    if (id != 1003) return;
    dialogWindow = dialog_.window();
    owned = ShowBox(dialog_, "Owned.", "Owned box", IDOK, true);
    free = ShowBox(dialog_, "Free.", "Free box", IDCANCEL, false);
    PostMessageA(dialog_.window(), WM_KEYDOWN, VK_ESCAPE, 0);  // Escape pressed in the dialog
  };
  events.onClose = [&] {  // the first close is refused, the second accepted
    if (++closes > 1) return true;
    PostMessageA(dialog_.window(), WM_CLOSE, 0, 0);
    return false;
  };
  Watchdog watchdog(dialog_);
  EXPECT_EQ(dialog_.RunModal(events), platform::kIdCancelCommand);
  EXPECT_EQ(owned.answer, platform::kIdOk);
  EXPECT_EQ(owned.owner, dialogWindow);
  EXPECT_EQ(free.answer, platform::kIdCancel);
  EXPECT_EQ(free.owner, nullptr);
  const std::vector<std::string> expectedLog = {"init",      "show",  "command 1003",
                                                "command 2", "close", "close"};
  EXPECT_EQ(WithoutClosingHide(events.log), expectedLog);
}

}  // namespace
